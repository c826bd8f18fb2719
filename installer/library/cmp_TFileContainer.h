// File containers: a destination folder of the project (TInstallDirectory), a selectable group
// (TCustomInstallGroup) and, above them, the install run. A container drives its children through
// three passes: compress (build the archives from the source files), process (install from the
// archives) and copy (copy the files unpacked). While a pass runs the container adds up its files'
// progress into totals for the whole pass and hands every information code on to its own
// container, so that the dialogs see one continuous progress. Each container makes a specifier,
// TpsFileContainer, that names its destination folder for other components.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "installer/library/cmp_TFileRelated.h"
#include "installer/library/cmp_TPathSpecifier.h"

namespace ostra {

class TCustomInstallFile;
class TFileContainer;

class IEFileContainer : public IException {
public:
    using IException::IException;
};
class IEInstallGroup : public IException {
public:
    using IException::IException;
};

// Options of a compress pass (bits of one byte).
enum : uint8_t {
    coClearChildArchives = 1, coRelocateArchives = 2, coReserved = 4, coForceNetFilesLocal = 8,
    coForceFilesNet = 16, coIncludeExcluded = 32,
};

using TInstallFileNotifyEvent = std::function<void(TCustomInstallFile* InstallFile)>;
using TInstallFileStatusEvent =
    std::function<void(TCustomInstallFile* InstallFile, int FilePercentDone, int TotalPercentDone)>;
using TInstallFileNewDiskEvent = std::function<void(TCustomInstallFile* InstallFile, int NewDisk, std::string& Path)>;
using TAfterInstallObjectsEvent = std::function<void(TInstallContainer* Container, bool WasAborted)>;

// The folder of one file container.
class TpsFileContainer : public TCustomPathSpecifier {
public:
    explicit TpsFileContainer(TComponent* AOwner) : TCustomPathSpecifier(AOwner) {}
    ~TpsFileContainer() override;
    TFileContainer* FileContainer() const { return FFileContainer; }
    void SetFileContainer(TFileContainer* value);
    // A file container, a group or an install file may not use it.
    void ValidateUser(TComponent* Component) override;
    std::string GetDescription() const override;
    std::string GetShortCaption() const override;
    std::string GetPath(TComponent* Component) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // A specifier read from a form becomes its container's own.
    void Loaded() override;

private:
    TFileContainer* FFileContainer = nullptr;
};

class TFileContainer : public TFileRelated {
public:
    // `ownSpecifier`: make the container's TpsFileContainer (the install run makes none).
    explicit TFileContainer(TComponent* AOwner, int ARegisteredType = rtFileContainer, bool ownSpecifier = true);
    ~TFileContainer() override;

    // --- children
    int FileCount() const;
    TCustomInstallFile* Files(int index) const;
    // Frees every child install file, the last first.
    virtual void ClearFiles();
    // The child install file whose full source path is `path` (without regard to case), else null.
    TCustomInstallFile* FindFileBySource(const std::string& path) const;
    bool HasNetFiles() const;
    virtual bool NeedsNetFiles() const;

    // --- sizes: of the selected (or all) files, with the child containers' totals when asked
    virtual int64_t GetSize(bool all, bool withContainers);
    int64_t GetFilesSize(bool all) { return GetSize(all, false); }
    int64_t GetTotalSize(bool all) { return GetSize(all, true); }
    virtual int64_t GetCompressedSize(bool all);

    // --- passes
    // 1 compress, 2 process, 3 copy, 4 reflect; the current action is 0 afterwards.
    virtual void DoAction(uint8_t action);
    virtual void Compress(uint8_t options);
    virtual void CopyFiles();
    // The process pass.
    void InstallObjects() override;
    virtual void ReadInfoFromArchive();
    virtual void ReadFileInfo();
    // The downloaded archive of this container (IEFileContainer when none is known).
    virtual std::string GetLocalArchivePath();

    uint8_t CurrentAction() const { return FCurrentAction; }
    int64_t PassTotal() const { return FPassTotal; }
    int64_t PassDone() const { return FPassDone; }

    // --- notifications from the files
    virtual void DoNewDisk(TCustomInstallFile* file, TDiskParameter* parameter);
    virtual void DoReplacing(TCustomInstallFile* file);
    virtual void DoStatus(TCustomInstallFile* file, TFileStatusParameter* parameter);
    void DoInformationEventControl(TInstallContainer* Child, int Code, TObject* Parameter) override;

    const std::string& Description() const { return FDescription; }
    void SetDescription(const std::string& value) { FDescription = value; }
    TpsFileContainer* OwnSpecifier() const { return FOwnSpecifier; }
    // Makes `specifier` the container's own; the one made before for this container goes.
    void AdoptSpecifier(TpsFileContainer* specifier);
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // A container whose specifier was taken by another while the form was read makes a new one.
    void Loaded() override;

    TInstallFileStatusEvent OnStatus;
    TInstallFileNewDiskEvent OnNewDisk;
    TInstallFileNotifyEvent OnReplacing;
    TAfterInstallObjectsEvent OnAfterInstallObjects;
    TInstallContainerNotifyEvent OnBeforeInstallObjects;

protected:
    void CreateOwnSpecifier();
    // The start of the compress and copy passes: OnBeforeProcess, then (false when the container
    // is excluded) code 1012, the sources' information and the pass totals.
    bool StartBuildPass(bool all);
    // Fills the pass totals of a file's status.
    void FillTotals(TFileStatusParameter& parameter);

    bool FRaiseAfterInstallObjects = true;

private:
    bool FMakesOwnSpecifier = true;
    int64_t FPassTotal = 0;
    int64_t FPassDone = 0;
    std::string FDescription;
    uint8_t FCurrentAction = 0;
    TpsFileContainer* FOwnSpecifier = nullptr;
};

// A destination folder of the project.
class TInstallDirectory : public TFileContainer, public IDescribedContainer {
public:
    explicit TInstallDirectory(TComponent* AOwner);
    std::string Description() const override { return TFileContainer::Description(); }
    bool IsInstallGroup() const override { return false; }
    // Removes and frees, the last first, every child install file whose source is missing.
    virtual void RemoveMissingFiles();
};

// How a group shows in a selection dialog.
class TInstallGroupDialogOptions : public TPersistent {
public:
    bool AllowChangeDir = true, AllowExcludeInclude = true, DisplayDirectory = true, ShowRegardlessOfInclude = true;
    std::string Description;
};

// A group the user may select; only the install run or another group contains one.
class TCustomInstallGroup : public TFileContainer, public IDescribedContainer {
public:
    explicit TCustomInstallGroup(TComponent* AOwner);
    std::string Description() const override { return TFileContainer::Description(); }
    bool IsInstallGroup() const override { return true; }
    void SetContainer(TInstallContainer* value) override;
    TInstallGroupDialogOptions* Options() const { return FOptions.get(); }

private:
    std::unique_ptr<TInstallGroupDialogOptions> FOptions;
};
class TInstallGroup : public TCustomInstallGroup {
public:
    using TCustomInstallGroup::TCustomInstallGroup;
};

}  // namespace ostra
