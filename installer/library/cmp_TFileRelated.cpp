// TFileRelated: archive settings, the net location lookups, the run-record value of a downloaded
// archive and the download itself.
#include "installer/library/cmp_TFileRelated.h"

#include <cmath>

#include "host/PropertyRegistry.h"
#include "installer/library/Registry.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TFileContainer.h"
#include "installer/library/cmp_TNetInstallLocation.h"
#include "installer/library/cmp_TPathSpecifier.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {

constexpr int LocalMachineIndex = 4;
const char* const LzhCommandNames[] = {"lzcOverwrite", "lzcOnlyAdd"};

[[maybe_unused]] const bool kPublished =
    Publish<TFileRelated, TInstallObject>()
        .Enum("AddToArchive", &TFileRelated::AddToArchive, &TFileRelated::SetAddToArchive, LzhCommandNames)
        .Default(lzcOverwrite)
        .String("ArchiveFile", &TFileRelated::ArchiveFile, &TFileRelated::SetArchiveFile)
        .Component("ArchiveFileType", &TFileRelated::ArchiveFileType, &TFileRelated::SetArchiveFileType)
        .Component("NetLocation", &TFileRelated::NetLocation, &TFileRelated::SetNetLocation);

}  // namespace

std::string LocalFileRecordKey(const std::string& componentName) {
    return AddBackslash(RunRecordKey()) + componentName;
}

TFileRelated::TFileRelated(TComponent* AOwner, int ARegisteredType) : TInstallObject(AOwner, ARegisteredType) {
    FProcessedByContainer = true;
    if (FDefaultContainerPending) {
        FArchiveFileType = &StandardPathSpecifiers().Find<TpsContainerArchiveFile>();
        FArchiveFileType->FreeNotification(this);
        FDefaultArchiveTypePending = true;
    }
}

bool TFileRelated::NamesArchiveItself(const TCustomPathSpecifier* specifier) {
    return dynamic_cast<const TpsContainerArchiveFile*>(specifier) ||
           dynamic_cast<const TpsMainArchiveFile*>(specifier);
}

void TFileRelated::SetArchiveFile(const std::string& value) {
    if (!Loading() && NamesArchiveItself(FArchiveFileType))
        FArchiveFile.clear();
    else
        FArchiveFile = value;
}

void TFileRelated::SetArchiveFileType(TCustomPathSpecifier* value) {
    FArchiveTypeAssigned = true;
    if (!Loading() && value) {
        value->ValidateUser(this);
        if (NamesArchiveItself(value)) FArchiveFile.clear();
    }
    if (value == FArchiveFileType) return;
    if (FArchiveFileType) FArchiveFileType->RemoveFreeNotification(this);
    FArchiveFileType = value;
    if (value) value->FreeNotification(this);
}

void TFileRelated::SetNetLocation(TCustomNetInstallLocation* value) {
    if (value == FNetLocation) return;
    if (FNetLocation) FNetLocation->RemoveFreeNotification(this);
    FNetLocation = value;
    if (value) value->FreeNotification(this);
}

void TFileRelated::Notification(TComponent* AComponent, TOperation Operation) {
    TInstallObject::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    if (AComponent == FNetLocation) FNetLocation = nullptr;
    if (AComponent == FArchiveFileType) FArchiveFileType = nullptr;
}

void TFileRelated::SetContainer(TInstallContainer* value) {
    FContainerAssigned = true;
    if (value == Container()) return;
    // Found before anything changes, so that a missing specifier leaves the object where it was.
    const bool intoArchive =
        !Loading() && (dynamic_cast<TFileRelated*>(value) || dynamic_cast<TCustomInstallGroup*>(value));
    TCustomPathSpecifier* archive = intoArchive ? &StandardPathSpecifiers().Find<TpsContainerArchiveFile>() : nullptr;
    TInstallObject::SetContainer(value);
    if (Loading()) return;
    if (intoArchive) {
        SetArchiveFileType(archive);
        FArchiveFile.clear();
    } else if (dynamic_cast<TpsContainerArchiveFile*>(FArchiveFileType)) {
        FArchiveFileType->RemoveFreeNotification(this);
        FArchiveFileType = nullptr;
    }
}

void TFileRelated::Loaded() {
    if (FDefaultArchiveTypePending && !FArchiveTypeAssigned) SetArchiveFileType(nullptr);
    FDefaultArchiveTypePending = false;
    TInstallObject::Loaded();
    std::string recorded;
    if (FindRecordedLocalFile(recorded)) FLocalArchive = recorded;
}

std::string TFileRelated::GetFullArchiveFile() {
    if (FArchiveFileType) return RemoveBackslash(FArchiveFileType->GetPath(this) + FArchiveFile);
    return RemoveBackslash(FArchiveFile);
}

TCustomNetInstallLocation* TFileRelated::FindNetLocation() {
    if (FNetLocation) return FNetLocation;
    if (RegisteredType() == rtInstallFile && Container()) {
        if (auto* container = dynamic_cast<TFileContainer*>(Container())) return container->FindNetLocation();
        return nullptr;
    }
    return DefaultNetLocation();
}

std::string TFileRelated::NetFolderName() {
    TCustomNetInstallLocation* location = FindNetLocation();
    if (!location) throw IEFileRel_NoNetLocation("Could not find a net install location for %s", {Name()});
    const TCustomLoginInformation& login = *location->LoginInformation();
    // A folder per server, and in it one per server folder.
    if (Trim(login.Directory()).empty())
        return MakeValidFileName(login.Hostname()) + "\\" +
               (login.Protocol() == ipFTP ? "FTP Root directory" : "HTTP Root directory");
    return MakeValidFileName(login.Hostname()) + "\\" + MakeValidFileName(login.Directory());
}

bool TFileRelated::HasLocalArchive() {
    if (!Trim(FLocalArchive).empty()) return true;
    std::string path;
    return FindRecordedLocalFile(path);
}

bool TFileRelated::FindRecordedLocalFile(std::string& path) const {
    if (Trim(Name()).empty() || RunRecordKey().empty()) return false;
    std::string value;
    try {
        value = ReadRegistryString(LocalMachineIndex, LocalFileRecordKey(Name()), "LocalFile", "");
    } catch (const std::exception&) {
        return false;
    }
    if (Trim(value).empty() || !WinFileExists(value)) return false;
    path = value;
    return true;
}

void TFileRelated::SaveLocalFile(const std::string& path) {
    if (Trim(Name()).empty() || Trim(path).empty() || RunRecordKey().empty()) return;
    try {
        TfrnmRegistry registry;
        SetRegistryRootByIndex(registry, LocalMachineIndex);
        if (registry.OpenKey(LocalFileRecordKey(Name()), true)) {
            registry.WriteString("LocalFile", path);
            registry.CloseKey();
        }
    } catch (const std::exception&) {
        // The record is a help for a repeated run; the download itself succeeded.
    }
}

namespace {

// A new local file for a download: a kept temporary file reserves a name, its ".1" form is taken
// when no file has it yet (and created empty to hold it), and the reserving file goes again.
std::string NewLocalArchiveName() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string reserved = GetTempFilePath(true);
        std::string local = ChangeFileExt(reserved, ".1");
        bool free = !WinFileExists(local) && WinCopyFile(reserved, local, true);
        WinDeleteFile(reserved);
        if (free) return local;
    }
    throw EAPIRoutines("Cannot create a temporary file");
}

}  // namespace

void TFileRelated::DownloadArchive() {
    std::string recorded;
    if (FindRecordedLocalFile(recorded)) {
        FLocalArchive = recorded;
        return;
    }
    TCustomNetInstallLocation* location = FindNetLocation();
    if (!location) throw Exception(Format("Could not find a net install location for %s", {Name()}));
    if (!location->LoginInformation()->IsFilledIn()) {
        if (FNetLocation)
            throw IEFileRelated(
                "%s could not install itself because the TNetLocation component's properties, in the NetLocation "
                "property, have not been filled in",
                {Name()});
        throw IEFileRelated(
            "%s could not install itself because the LoginInformation property of the TInstall component has not "
            "been properly filled in",
            {Name()});
    }
    FLocalArchive = NewLocalArchiveName();
    location->OnOwnerDataReceived = [this](TCustomNetInstallLocation* sender, const std::string& remote,
                                           const char* buffer, int64_t fileSize, int64_t total, int64_t bytes) {
        DoDataReceived(sender, remote, static_cast<int>(bytes), static_cast<int>(total), static_cast<int>(fileSize),
                       buffer);
    };
    auto finish = [&] {
        location->OnOwnerDataReceived = nullptr;
        if (NetAbort()) {
            WinDeleteFile(FLocalArchive);
            FLocalArchive.clear();
            return true;
        }
        return false;
    };
    try {
        location->Download(ChangeFileExt(Name(), ".1"), FLocalArchive);
    } catch (...) {
        // A failed download leaves no local file behind.
        std::string partial = FLocalArchive;
        if (finish()) throw EAIUserAbort();
        WinDeleteFile(partial);
        FLocalArchive.clear();
        throw;
    }
    if (finish()) throw EAIUserAbort();
    if (!IsDesigning(this)) SaveLocalFile(FLocalArchive);
}

void TFileRelated::DoDataReceived(TObject* Sender, const std::string& FileName, int Bytes, int TotalBytes,
                                  int FileSize, const char* Buffer) {
    TDownloadStatusParameter parameter;
    parameter.Bytes = Bytes;
    parameter.FileName = FileName;
    parameter.FileSize = FileSize;
    parameter.TotalBytes = TotalBytes;
    parameter.Percent = DownloadPercent(TotalBytes, FileSize);
    if (OnDataReceived) OnDataReceived(this, FileName, Bytes, TotalBytes, FileSize, Buffer);
    SendDialogCode(this, this, dcDownloadStatus, &parameter);
    Inform(icDownloadBlock, &parameter);
}

void TFileRelated::Inform(int Code, TObject* Parameter) {
    if (Container()) Container()->DoInformationEventControl(this, Code, Parameter);
}

}  // namespace ostra
