// The install file: one file of a project. Where its source lies when the setup is built, which
// archive holds it, where it goes on the target machine and under which name, how an existing
// target is treated (the overwrite modes), and what follows the copy: help registration, the
// shared-use count, ActiveX registration and its entry in the uninstall record
// (cmp_TInstallFileRegistration.cpp). A container processes its files; processing a file
// extracts it from the archive into its destination folder.
//
// A target in use cannot be replaced now: the file is extracted under a numbered name beside it
// ("tool.1", "tool.2" ... the first free one) and moved over the target at the next restart.
// DestName keeps the real name throughout, so that the uninstall record, the shared count and
// the registration (after the restart) all concern the real target.
//
// Every file holds an identifier 0..1999 that is unique among the live files; it is the FileID of
// its data in the archives.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "host/DateTime.h"
#include "installer/library/cmp_TFileContainer.h"
#include "installer/library/cmp_TVersion.h"
#include "installer/library/routines_FileSystem.h"

namespace ostra {

class IECustomInstallFile : public IException {
public:
    using IException::IException;
};
class IEfcDuplicateFile : public IException {
public:
    using IException::IException;
};

enum TInstallFileType { iftNormal, iftJustADLL, iftApplicationSpecificDLL, iftVendorSharedDLL, iftSystemWideDLL };
enum TInstallFileState { ifsNone, ifsCompress, ifsInstall, ifsCopying, ifsReflect };

// How many files can live at once (their identifiers are 0 .. MaxInstallFiles - 1).
inline constexpr int MaxInstallFiles = 2000;

class TCustomInstallFile : public TFileRelated {
public:
    // Raises IECustomInstallFile when all identifiers are taken.
    explicit TCustomInstallFile(TComponent* AOwner);
    ~TCustomInstallFile() override;
    static TCustomInstallFile* CreateFromFile(TComponent* AOwner, const std::string& fullSourcePath);
    static TCustomInstallFile* CreateInContainer(TComponent* AOwner, TInstallContainer* container,
                                                 const std::string& fullSourcePath);

    // --- the passes
    // Installs the file (the container's process pass calls this through Process).
    void InstallObjects() override;
    virtual void Compress();
    virtual void CopyFile();
    virtual void ReadInfoFromArchive();
    virtual void ReadFileInfo();
    // Raises EAIUserAbort: a user abort inside the archive component ends the run.
    virtual void Abort();
    // The overwrite decision for the current target: 2 replace, 3 keep, 4 ask.
    int OverwriteDecision();

    // --- registration and record (cmp_TInstallFileRegistration.cpp)
    void AfterInstallSteps();
    void RegisterActiveX();
    virtual void RegisterInProcServer();
    virtual void RegisterTypeLibrary();
    virtual void RegisterLocalServer();
    virtual bool IsSelfRegistering();
    virtual bool UpdateSharedDLLCount();
    void FinishAfterReboot() override;
    void WriteUninstallInfo(const std::string& RecordKey) override;

    // --- paths
    std::string FullSourcePath() const;
    std::string FullDestPath();
    std::string GetFullArchiveFile() override;
    bool HasOwnArchive() const;

    // --- properties (the setters apply the property rules outside loading)
    const std::string& FileName() const { return FFileName; }
    virtual void SetFileName(const std::string& value);
    const std::string& DestName() const { return FDestName; }
    virtual void SetDestName(const std::string& value);
    const std::string& IncludeFromDir() const { return FIncludeFromDir; }
    virtual void SetIncludeFromDir(const std::string& value);
    TInstallFileType FileType() const { return FFileType; }
    virtual void SetFileType(TInstallFileType value);
    bool ActiveX() const { return FActiveX; }
    virtual void SetActiveX(bool value);
    void SetContainer(TInstallContainer* value) override;
    void SetDestDir(const std::string& value) override;
    void SetDestDirType(TCustomPathSpecifier* value) override;
    TOverwriteType OverwriteMode() const { return FOverwriteMode; }
    void SetOverwriteMode(TOverwriteType value) { FOverwriteMode = value; }
    bool RegisterAsHelp() const { return FRegisterAsHelp; }
    void SetRegisterAsHelp(bool value) { FRegisterAsHelp = value; }
    bool RunAfterInstall() const { return FRunAfterInstall; }
    void SetRunAfterInstall(bool value) { FRunAfterInstall = value; }
    bool UpdateDLLCounter() const { return FUpdateDLLCounter; }
    void SetUpdateDLLCounter(bool value) { FUpdateDLLCounter = value; }
    TFrnmFileAttributesSet InstallAttributes() const { return FInstallAttributes; }
    void SetInstallAttributes(TFrnmFileAttributesSet value) { FInstallAttributes = value; }
    TInstallFileState State() const { return FState; }
    // ifsCompress compresses, ifsInstall processes, ifsCopying copies; State is ifsNone afterwards.
    virtual void SetState(TInstallFileState value);
    int UniqueID() const { return FUniqueID; }
    void SetUniqueID(int value);

    int64_t Size() const { return FSize; }
    int64_t CompressedSize() const { return FCompressedSize; }
    TDateTime SourceDate() const { return FSourceDate; }
    const std::string& SourceVersion() const { return FSourceVersion; }
    void SetSourceInfo(int64_t size, TDateTime date, const std::string& version);
    uint8_t CompressState() const { return FCompressState; }
    // A build starts every file as not yet compressed.
    void ResetCompressState() { FCompressState = 0; }
    bool InstalledUnderNumberedName() const { return FInstalledUnderNumberedName; }
    // The numbered name the file was extracted under ("" unless InstalledUnderNumberedName).
    const std::string& NumberedName() const { return FNumberedName; }
    bool ReplaceTarget() const { return FReplaceTarget; }
    std::string RunParameters;

    void Loaded() override;

    TInstallFileNotifyEvent OnAfterCompress, OnAfterCopy, OnAfterInstall, OnBeforeCompress, OnBeforeCopy,
        OnBeforeInstall, OnReplacing;
    TInstallFileStatusEvent OnStatus;
    TInstallFileNewDiskEvent OnNewDisk;

protected:
    // Stores the source and destination names without the property rules.
    void StoreSource(const std::string& includeFromDir, const std::string& fileName, const std::string& destName) {
        FIncludeFromDir = includeFromDir;
        FFileName = fileName;
        FDestName = destName;
    }
    // Places the file under a numbered name when its target is in use, and schedules the move.
    virtual void ReplaceLockedFile();

private:
    struct Values {
        TInstallContainer* Container;
        std::string IncludeFromDir, FileName, DestName, DestDir;
        TCustomPathSpecifier* DestDirType;
        TInstallFileType FileType;
        bool ActiveX;
    };
    Values Current() const;
    // The property rules for the new values.
    void ApplyRules(Values next);
    void Extract();
    // Runs a compress or copy step in `state`: a silent abort skips it; at its end, also on
    // failure, the state is reset, the archive's handlers cleared and the step's end announced.
    void RunBuildStep(TInstallFileState state, const std::function<void()>& body);
    void SetUpArchive(TFrnmCompress& archive);
    void ClearArchiveHandlers(TFrnmCompress& archive);
    void ArchiveStatus(TFrnmCompress* archive, const TlzhFileStats& stats);
    void ArchiveNewDisk(TFrnmCompress* archive, int disk, std::string& path);
    void CheckDestDir();
    [[noreturn]] void ArchiveBlank();
    void ScheduleMoveAtRestart(const std::string& target, const std::string& numbered);

    bool FInstalledUnderNumberedName = false;
    bool FReplaceTarget = false;
    std::string FNumberedName;
    TFrnmFileAttributesSet FInstallAttributes;
    bool FActiveX = false;
    int64_t FCompressedSize = 0;
    uint8_t FCompressState = 0;
    TDateTime FSourceDate = 0;
    std::string FDestName, FFileName;
    TInstallFileType FFileType = iftNormal;
    std::string FIncludeFromDir;
    TOverwriteType FOverwriteMode = owAlways;
    bool FRegisterAsHelp = false, FRunAfterInstall = false;
    int64_t FSize = 0;
    TInstallFileState FState = ifsNone;
    int FUniqueID = -1;
    bool FUpdateDLLCounter = false;
    std::string FSourceVersion;
};

class TInstallFile : public TCustomInstallFile {
public:
    using TCustomInstallFile::TCustomInstallFile;
};

// Appends the file's 80-byte record of the build's file list: Size (int32), 4 zero bytes,
// SourceDate (double), the component name zero-terminated in 40 bytes, SourceVersion
// zero-terminated in 24 bytes (little-endian). A name of 40 characters or more does not fit and
// raises IECustomInstallFile rather than losing its end.
void WriteFileListRecord(TCustomInstallFile& file, TStream& stream);

// Every live install file, in creation order.
const std::vector<TCustomInstallFile*>& InstallFiles();
// While set (the install run sets it for its file pass), a failing ActiveX registration puts the
// file on DeferredActiveXFiles instead of ending the run.
bool DeferredRegistration();
void SetDeferredRegistration(bool value);
std::vector<TCustomInstallFile*>& DeferredActiveXFiles();

}  // namespace ostra
