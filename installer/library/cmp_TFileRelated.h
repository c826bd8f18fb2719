// TFileRelated: the install object that belongs to an archive. Folders, groups, files and the
// install run descend from it. It knows which archive holds its data (ArchiveFile below the
// specifier ArchiveFileType), whether a compression starts that archive anew or adds to it
// (AddToArchive), and, for distributions over the net, which net install location its archive is
// downloaded from into a local file. The path of a downloaded archive is kept in the run record
// (value "LocalFile" of the key <run record>\<component name>), so that a repeated run finds it.
#pragma once
#include <functional>
#include <string>

#include "installer/library/InstallRoot.h"
#include "installer/library/cmp_TInstallContainer.h"

namespace ostra {

class TCustomNetInstallLocation;
class TCustomPathSpecifier;

class IEFileRelated : public IException {
public:
    using IException::IException;
};
// No net install location could be found for an object.
class IEFileRel_NoNetLocation : public IEFileRelated {
public:
    using IEFileRelated::IEFileRelated;
};

// How a compression treats the archive: start it anew, or add to it.
enum TlzhCommand { lzcOverwrite, lzcOnlyAdd };

using TDataReceivedEvent = std::function<void(TObject* Sender, const std::string& FileName, int Bytes,
                                              int TotalBytes, int FileSize, const char* Buffer)>;

class TFileRelated : public TInstallObject, public IFileRelated {
public:
    explicit TFileRelated(TComponent* AOwner, int ARegisteredType);

    // --- archive
    TlzhCommand AddToArchive() const { return FAddToArchive; }
    void SetAddToArchive(TlzhCommand value) { FAddToArchive = value; }
    const std::string& ArchiveFile() const { return FArchiveFile; }
    // Outside loading, ignored (ArchiveFile empty) while ArchiveFileType names the archive itself
    // (the container's or the main archive).
    virtual void SetArchiveFile(const std::string& value);
    TCustomPathSpecifier* ArchiveFileType() const { return FArchiveFileType; }
    // Outside loading the specifier validates this object first.
    virtual void SetArchiveFileType(TCustomPathSpecifier* value);
    // The specifier's path for this object followed by ArchiveFile, without trailing backslash.
    std::string GetFullArchiveFile() override;

    // --- net
    bool Net() const { return FNet; }
    virtual void SetNet(bool value) { FNet = value; }
    TCustomNetInstallLocation* NetLocation() const { return FNetLocation; }
    virtual void SetNetLocation(TCustomNetInstallLocation* value);
    // The object's own location; else, for an install file in a file container, the container's;
    // else the install's default location (none for a file whose container is no file container).
    TCustomNetInstallLocation* FindNetLocation();
    // The folder name of the object's net archives: the host and the server folder (or "FTP Root
    // directory" / "HTTP Root directory") as valid file names. IEFileRel_NoNetLocation without a
    // location.
    std::string NetFolderName();

    // --- the downloaded archive
    const std::string& LocalArchive() const { return FLocalArchive; }
    void SetLocalArchive(const std::string& value) { FLocalArchive = value; }
    virtual bool HasLocalArchive();
    // The archive recorded in the run record for this object when that file exists.
    bool FindRecordedLocalFile(std::string& path) const;
    // Records the path in the run record (a failing write is ignored).
    virtual void SaveLocalFile(const std::string& path);
    // Downloads the object's archive ("<Name>.1") into a new local file, unless the run record
    // already names one. A user abort removes the partial file and raises EAIUserAbort.
    virtual void DownloadArchive();
    virtual void DoDataReceived(TObject* Sender, const std::string& FileName, int Bytes, int TotalBytes,
                                int FileSize, const char* Buffer);

    bool InfoRead() const { return FInfoRead; }
    void SetInfoRead(bool value) { FInfoRead = value; }

    void SetContainer(TInstallContainer* value) override;
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

    TDataReceivedEvent OnDataReceived;

protected:
    // Sends an information code to the container, if any.
    void Inform(int Code, TObject* Parameter);
    // True when the specifier is the standard container-archive or main-archive specifier.
    static bool NamesArchiveItself(const TCustomPathSpecifier* specifier);

    bool FInfoRead = false;

private:
    bool FArchiveTypeAssigned = false;
    bool FDefaultArchiveTypePending = false;
    std::string FLocalArchive;
    TlzhCommand FAddToArchive = lzcOverwrite;
    std::string FArchiveFile;
    TCustomPathSpecifier* FArchiveFileType = nullptr;
    bool FNet = true;
    TCustomNetInstallLocation* FNetLocation = nullptr;
};

// The run-record key of an object's downloaded archive: the run record key, a backslash, the name.
std::string LocalFileRecordKey(const std::string& componentName);

}  // namespace ostra
