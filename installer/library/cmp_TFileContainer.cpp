// File containers: the three passes, the pass totals, the information codes of the files and the
// container's folder specifier.
#include "installer/library/cmp_TFileContainer.h"

#include <cmath>

#include "host/PropertyRegistry.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TInstallFile.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {

[[maybe_unused]] const bool kPublished =
    Publish<TFileContainer, TFileRelated>().String("Description", &TFileContainer::Description,
                                                   &TFileContainer::SetDescription) &&
    Publish<TpsFileContainer, TComponent>().Component("FileContainer", &TpsFileContainer::FileContainer,
                                                      &TpsFileContainer::SetFileContainer) &&
    (RegisterClass<TInstallDirectory>(), RegisterClass<TInstallGroup>(), RegisterClass<TpsFileContainer>(), true);

int RoundedPercent(int64_t part, int64_t whole) {
    if (whole == 0) return 0;
    return static_cast<int>(std::lround(static_cast<double>(part) / static_cast<double>(whole) * 100.0));
}

// Sets the current action for a pass and clears it at the end, also on failure.
class ActionScope {
public:
    ActionScope(uint8_t& action, uint8_t value) : FAction(action) { FAction = value; }
    ~ActionScope() { FAction = 0; }

private:
    uint8_t& FAction;
};

// Announces the end of a pass (dialog code -996), also on failure.
struct EndPass {
    TFileContainer* self;
    ~EndPass() { SendDialogCode(self, self, dcStepEnded, nullptr); }
};

}  // namespace

// ---------------------------------------------------------------- TpsFileContainer

TpsFileContainer::~TpsFileContainer() = default;

void TpsFileContainer::SetFileContainer(TFileContainer* value) {
    if (FFileContainer) FFileContainer->RemoveFreeNotification(this);
    FFileContainer = value;
    if (value) value->FreeNotification(this);
}

void TpsFileContainer::ValidateUser(TComponent* Component) {
    if (dynamic_cast<TFileContainer*>(Component) || dynamic_cast<TCustomInstallFile*>(Component))
        throw IEPathSpecifier("A file container cannot reference another file container or group");
}

std::string TpsFileContainer::GetDescription() const {
    if (!FFileContainer) return "Path specifier for unknown file container";
    return "Path into which " + FFileContainer->Description() + " will be installed";
}

std::string TpsFileContainer::GetShortCaption() const {
    if (!FFileContainer) return "Path specifier for unknown file container";
    return "<" + FFileContainer->Description() + ">";
}

std::string TpsFileContainer::GetPath(TComponent* Component) {
    ValidateUser(Component);
    return FFileContainer ? FFileContainer->GetFullDestDir() : std::string();
}

void TpsFileContainer::Loaded() {
    TCustomPathSpecifier::Loaded();
    if (FFileContainer && FFileContainer->OwnSpecifier() != this) FFileContainer->AdoptSpecifier(this);
}

void TpsFileContainer::Notification(TComponent* AComponent, TOperation Operation) {
    TCustomPathSpecifier::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FFileContainer) FFileContainer = nullptr;
}

// ---------------------------------------------------------------- TFileContainer

TFileContainer::TFileContainer(TComponent* AOwner, int ARegisteredType, bool ownSpecifier)
    : TFileRelated(AOwner, ARegisteredType), FMakesOwnSpecifier(ownSpecifier) {
    CreateOwnSpecifier();
}

void TFileContainer::CreateOwnSpecifier() {
    TComponent* owner = Owner();
    if (!FMakesOwnSpecifier || !owner) return;
    FOwnSpecifier = CreateComponent<TpsFileContainer>(owner);
    std::string name = "psFileContainer";
    for (int n = 1; owner->FindComponent(name); ++n) name = "psFileContainer" + std::to_string(n);
    FOwnSpecifier->SetName(name);
    FOwnSpecifier->SetFileContainer(this);
    FOwnSpecifier->FreeNotification(this);
}

void TFileContainer::AdoptSpecifier(TpsFileContainer* specifier) {
    TpsFileContainer* old = FOwnSpecifier;
    if (old == specifier) return;
    if (old) old->RemoveFreeNotification(this);
    FOwnSpecifier = specifier;
    if (specifier) specifier->FreeNotification(this);
    if (old && old->FileContainer() == this) delete old;
}

void TFileContainer::Loaded() {
    TFileRelated::Loaded();
    // A form reader gives a streamed specifier the component of its name: the one this container
    // made may now name another container.
    if (FOwnSpecifier && FOwnSpecifier->FileContainer() != this) {
        FOwnSpecifier->RemoveFreeNotification(this);
        FOwnSpecifier = nullptr;
        CreateOwnSpecifier();
    }
}

TFileContainer::~TFileContainer() {
    ClearFiles();
    if (FOwnSpecifier && !FOwnSpecifier->ComponentState().Contains(csDestroying)) {
        TpsFileContainer* specifier = FOwnSpecifier;
        FOwnSpecifier = nullptr;
        delete specifier;
    }
}

void TFileContainer::Notification(TComponent* AComponent, TOperation Operation) {
    TFileRelated::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FOwnSpecifier) FOwnSpecifier = nullptr;
}

int TFileContainer::FileCount() const { return CountOfClass<TCustomInstallFile>(); }
TCustomInstallFile* TFileContainer::Files(int index) const { return Comp<TCustomInstallFile>(index); }
void TFileContainer::ClearFiles() { FreeChildrenOfClass<TCustomInstallFile>(); }

TCustomInstallFile* TFileContainer::FindFileBySource(const std::string& path) const {
    for (int i = 0; i < FileCount(); ++i)
        if (SameText(Files(i)->FullSourcePath(), path)) return Files(i);
    return nullptr;
}

bool TFileContainer::HasNetFiles() const {
    for (int i = 0; i < FileCount(); ++i)
        if (Files(i)->Net()) return true;
    return false;
}

bool TFileContainer::NeedsNetFiles() const {
    if (CurrentDistributeType() == dtTraditional) return false;
    for (int i = 0; i < FileCount(); ++i) {
        TCustomInstallFile* f = Files(i);
        if (f->Net() && f->Include() && !f->NetLocation()) return true;
    }
    return false;
}

int64_t TFileContainer::GetSize(bool all, bool withContainers) {
    int64_t total = 0;
    for (int i = 0; i < ChildCount(); ++i) {
        TInstallContainer* child = Children(i);
        if (!all && !child->IsSelected()) continue;
        if (auto* file = dynamic_cast<TCustomInstallFile*>(child))
            total += file->Size();
        else if (auto* container = dynamic_cast<TFileContainer*>(child); container && withContainers)
            total += container->GetTotalSize(all);
    }
    return total;
}

int64_t TFileContainer::GetCompressedSize(bool all) {
    int64_t total = 0;
    for (int i = 0; i < ChildCount(); ++i) {
        TInstallContainer* child = Children(i);
        if (!all && !child->IsSelected()) continue;
        if (auto* file = dynamic_cast<TCustomInstallFile*>(child))
            total += file->CompressedSize();
        else if (auto* container = dynamic_cast<TFileContainer*>(child))
            total += container->GetCompressedSize(all);
    }
    return total;
}

std::string TFileContainer::GetLocalArchivePath() {
    if (!Trim(LocalArchive()).empty()) return LocalArchive();
    std::string recorded;
    if (FindRecordedLocalFile(recorded)) return recorded;
    throw IEFileContainer(
        "%s has not yet downloaded the archive file and therefore cannot retrieve the path of the archive file",
        {Name()});
}

void TFileContainer::ReadInfoFromArchive() {
    for (int i = 0; i < ChildCount(); ++i)
        if (auto* file = dynamic_cast<TCustomInstallFile*>(Children(i))) file->ReadInfoFromArchive();
    for (int i = 0; i < ChildCount(); ++i)
        if (auto* container = dynamic_cast<TFileContainer*>(Children(i))) container->ReadInfoFromArchive();
    FInfoRead = true;
}

void TFileContainer::ReadFileInfo() {
    for (int i = 0; i < ChildCount(); ++i)
        if (auto* file = dynamic_cast<TCustomInstallFile*>(Children(i))) file->ReadFileInfo();
    for (int i = 0; i < ChildCount(); ++i)
        if (auto* container = dynamic_cast<TFileContainer*>(Children(i))) container->ReadFileInfo();
}

void TFileContainer::DoAction(uint8_t action) {
    switch (action) {
        case 1: Compress(0); break;
        case 2: Process(); break;
        case 3: CopyFiles(); break;
        case 4: {
            // Reflecting needs the run's reflect handler, which the run installs; without one the
            // action only marks the pass.
            ActionScope scope(FCurrentAction, 4);
            break;
        }
        default: break;
    }
    FCurrentAction = 0;
}

void TFileContainer::InstallObjects() {
    ActionScope scope(FCurrentAction, 2);
    auto finish = [&] {
        bool aborted = GlobalArchiveComponent().Abort();
        SendDialogCode(this, this, dcStepEnded, nullptr);
        if (FRaiseAfterInstallObjects && OnAfterInstallObjects) OnAfterInstallObjects(this, aborted);
    };
    try {
        std::string recorded;
        if (FindRecordedLocalFile(recorded)) SetLocalArchive(recorded);
        ReadInfoFromArchive();
        SendDialogCode(this, this, dcContainerStarts, nullptr);
        Inform(icPassStarts, nullptr);
        FPassTotal = GetTotalSize(false);
        FPassDone = 0;
        if (OnBeforeInstallObjects) OnBeforeInstallObjects(this);
        TInstallContainer::InstallObjects();
        Inform(icPassEnded, nullptr);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TFileContainer::Compress(uint8_t options) {
    if ((options & coForceNetFilesLocal) && (options & coForceFilesNet))
        throw IEFileContainer("Cannot pass both coForceNetFilesLocal and coForceFilesNet to Compress");
    ActionScope scope(FCurrentAction, 1);
    EndPass endPass{this};
    if (!StartBuildPass((options & coIncludeExcluded) != 0)) return;
    const std::string archiveFolder = RemoveBackslash(ExtractFilePath(GetFullArchiveFile()));
    std::string netArchive = LocalArchive();
    try {
        netArchive = archiveFolder + "\\" + NetFolderName() + "\\" + Name() + ".1";
        SetLocalArchive(netArchive);
    } catch (const IEFileRel_NoNetLocation&) {
        if (!(options & coForceNetFilesLocal)) throw;
    }
    auto deleteArchive = [&](const std::string& path) {
        if (WinFileExists(path) && !WinDeleteFile(path))
            throw IEFileContainer("%s cannot delete the archive file %s", {Name(), path});
    };
    if (AddToArchive() == lzcOverwrite) deleteArchive(ChangeFileExt(GetFullArchiveFile(), ".1"));
    if (HasNetFiles() || ((options & coForceFilesNet) && FileCount() > 0)) deleteArchive(netArchive);

    const std::vector<TInstallContainer*> children = [&] {
        std::vector<TInstallContainer*> list;
        for (int i = 0; i < ChildCount(); ++i) list.push_back(Children(i));
        return list;
    }();
    for (TInstallContainer* child : children) {
        auto* related = dynamic_cast<TFileRelated*>(child);
        if (!related) continue;
        auto* file = dynamic_cast<TCustomInstallFile*>(child);
        const bool netFile = file && !(options & coForceNetFilesLocal) && (file->Net() || (options & coForceFilesNet));
        const TlzhCommand savedAdd = related->AddToArchive();
        const std::string savedFile = related->ArchiveFile();
        TCustomPathSpecifier* const savedType = related->ArchiveFileType();
        const bool savedInclude = related->Include();
        // The settings of this pass are stored as they are, without the setters' rules.
        auto redirect = [&](TlzhCommand add, TCustomPathSpecifier* type, const std::string& archive) {
            related->SetAddToArchive(add);
            related->SetArchiveFileType(nullptr);
            related->SetArchiveFileType(type);
            related->SetArchiveFile(archive);
        };
        auto restore = [&] {
            related->SetAddToArchive(savedAdd);
            related->SetArchiveFileType(nullptr);
            related->SetArchiveFile(savedFile);
            related->SetArchiveFileType(savedType);
            related->SetInclude(savedInclude);
        };
        try {
            if ((options & coIncludeExcluded) && !related->Include()) related->SetInclude(true);
            if (netFile && file->NetLocation())
                redirect(lzcOverwrite, nullptr, archiveFolder + "\\" + file->NetFolderName() + "\\" + file->Name() + ".1");
            else if (netFile)
                redirect(lzcOnlyAdd, nullptr,
                         file->HasOwnArchive()
                             ? archiveFolder + "\\" + file->NetFolderName() + "\\" + file->Name() + ".1"
                             : netArchive);
            else if (options & coClearChildArchives)
                redirect(lzcOnlyAdd, nullptr, "");
            else if (dynamic_cast<TpsContainerArchiveFile*>(savedType))
                related->SetAddToArchive(lzcOnlyAdd);
            else if (dynamic_cast<TpsInstallSource*>(savedType)) {
                std::string folder = archiveFolder;
                if (IInstallRoot* root = CurrentInstall())
                    if (auto* rootArchive = dynamic_cast<IFileRelated*>(root->RootContainer()))
                        folder = RemoveBackslash(ExtractFilePath(rootArchive->GetFullArchiveFile()));
                redirect(lzcOverwrite, nullptr, AddBackslash(folder) + savedFile);
            } else if (options & coRelocateArchives)
                redirect(lzcOverwrite, nullptr, archiveFolder + StripDrive(related->GetFullArchiveFile()));
            if (auto* container = dynamic_cast<TFileContainer*>(child))
                container->Compress(options);
            else if (file)
                file->Compress();
        } catch (...) {
            restore();
            throw;
        }
        restore();
    }
    if (OnAfterProcess) OnAfterProcess(this);
    Inform(icPassEnded, nullptr);
}

bool TFileContainer::StartBuildPass(bool all) {
    if (OnBeforeProcess) OnBeforeProcess(this);
    if (!Include()) return false;
    Inform(icPassStarts, nullptr);
    ReadFileInfo();
    FPassTotal = GetTotalSize(all);
    FPassDone = 0;
    return true;
}

void TFileContainer::CopyFiles() {
    ActionScope scope(FCurrentAction, 3);
    EndPass endPass{this};
    if (!StartBuildPass(false)) return;
    for (int i = 0; i < ChildCount(); ++i)
        if (auto* file = dynamic_cast<TCustomInstallFile*>(Children(i))) file->CopyFile();
    for (int i = 0; i < ChildCount(); ++i)
        if (auto* container = dynamic_cast<TFileContainer*>(Children(i))) container->CopyFiles();
    if (OnAfterProcess) OnAfterProcess(this);
    Inform(icPassEnded, nullptr);
}

void TFileContainer::DoNewDisk(TCustomInstallFile* file, TDiskParameter* parameter) {
    if (!OnNewDisk) return;
    std::string path = parameter->Path;
    OnNewDisk(file, parameter->DiskNumber, path);
    file->SetTag(1);
    parameter->Path = path;
}

void TFileContainer::DoReplacing(TCustomInstallFile* file) {
    if (OnReplacing) OnReplacing(file);
    SendDialogCode(this, file, dcReplaceFile, file);
}

void TFileContainer::DoStatus(TCustomInstallFile* file, TFileStatusParameter* parameter) {
    if (OnStatus) OnStatus(file, parameter->FilePercent, parameter->TotalPercent);
    SendDialogCode(this, file, dcFileStatus, parameter);
}

void TFileContainer::FillTotals(TFileStatusParameter& parameter) {
    parameter.TotalBytesDone = static_cast<int>(FPassDone + parameter.FileBytesDone);
    parameter.TotalPercent = RoundedPercent(FPassDone + parameter.FileBytesDone, FPassTotal);
}

void TFileContainer::DoInformationEventControl(TInstallContainer* Child, int Code, TObject* Parameter) {
    if (FCurrentAction == 0) return;
    auto fileOf = [&](TObject* p, const char* message) {
        auto* file = dynamic_cast<TCustomInstallFile*>(p);
        if (!file) throw IEFileContainer(message);
        return file;
    };
    auto pairOf = [&](TObject* p) {
        auto* pair = dynamic_cast<TParameterPair*>(p);
        if (!pair) throw IEFileContainer("DoInformationEventControl--PO is not a TList object");
        return pair;
    };
    switch (Code) {
        case icReplacing:
            if (!Parameter) throw IEFileContainer("%s got a nil PO parameter", {Name()});
            DoReplacing(fileOf(Parameter, "DoInformationEventControl parameter is not TInstallFile"));
            break;
        case icInstallStatus:
        case icCompressStatus:
        case icCopyStatus: {
            if (!Parameter) throw IEFileContainer("%s got a nil PO parameter", {Name()});
            TParameterPair* pair = pairOf(Parameter);
            TCustomInstallFile* file = fileOf(pair->File, "DoInformationEventControl says bad first parameter");
            auto* status = dynamic_cast<TFileStatusParameter*>(pair->Parameter);
            if (!status) throw IEFileContainer("DoInformationEventControl says bad second parameter");
            FillTotals(*status);
            DoStatus(file, status);
            if (status->FileStats.Done) FPassDone += status->FileStats.Size;
            break;
        }
        case icNewDisk: {
            if (!Parameter) throw IEFileContainer("%s got a nil PO parameter", {Name()});
            TParameterPair* pair = pairOf(Parameter);
            TCustomInstallFile* file = dynamic_cast<TCustomInstallFile*>(pair->File);
            if (!file) throw IEFileContainer("DoInformationEventControl says bad %d parameter", {1});
            auto* disk = dynamic_cast<TDiskParameter*>(pair->Parameter);
            if (!disk) throw IEFileContainer("DoInformationEventControl says bad %d parameter", {2});
            DoNewDisk(file, disk);
            SendDialogCode(this, file, dcNewDisk, pair);
            break;
        }
        case icDownloadBlock: {
            if (!Parameter) throw IEFileContainer("%s got a nil PO parameter", {Name()});
            auto* download = dynamic_cast<TDownloadStatusParameter*>(Parameter);
            if (!download)
                throw IEFileContainer("The PO object passed to %s is not a TDownloadStatusParameter object", {Name()});
            if (OnDataReceived)
                OnDataReceived(this, download->FileName, download->Bytes, download->TotalBytes, download->FileSize,
                               nullptr);
            SendDialogCode(this, this, dcDownloadStatus, download);
            break;
        }
        case icFileSkipped:
        case icTargetKept: {
            if (!Parameter) throw IEFileContainer("%s got a nil PO parameter", {Name()});
            TCustomInstallFile* file = fileOf(Parameter, "DoInformationEventControl says bad first parameter");
            TFileStatusParameter status;
            status.FileBytesDone = static_cast<int>(file->Size());
            status.FilePercent = 100;
            status.FileName = file->FileName();
            FillTotals(status);
            DoStatus(file, &status);
            FPassDone += file->Size();
            break;
        }
        default: break;
    }
    if (Container()) Container()->DoInformationEventControl(Child, Code, Parameter);
}

// ---------------------------------------------------------------- TInstallDirectory

TInstallDirectory::TInstallDirectory(TComponent* AOwner) : TFileContainer(AOwner) {
    SetInclude(true);
    if (IsDesigning(AOwner)) {
        int containers = 0;
        for (TInstallContainer* c : InstallComponents()) containers += dynamic_cast<TFileContainer*>(c) != nullptr;
        SetDescription("Install Directory " + std::to_string(containers));
    }
}

void TInstallDirectory::RemoveMissingFiles() {
    for (int i = FileCount() - 1; i >= 0; --i)
        if (!WinFileExists(Files(i)->FullSourcePath())) delete Files(i);
}

// ---------------------------------------------------------------- TCustomInstallGroup

TCustomInstallGroup::TCustomInstallGroup(TComponent* AOwner)
    : TFileContainer(AOwner, rtInstallGroup), FOptions(std::make_unique<TInstallGroupDialogOptions>()) {}

void TCustomInstallGroup::SetContainer(TInstallContainer* value) {
    if (!value && CurrentInstall()) value = CurrentInstall()->RootContainer();
    if (value && !Loading() && !IsInstallRoot(value) && !dynamic_cast<TCustomInstallGroup*>(value))
        throw IEInstallGroup(
            "A TInstallGroup component can only be contained by a TInstall, or another TInstallGroup component");
    TFileContainer::SetContainer(value);
}

}  // namespace ostra
