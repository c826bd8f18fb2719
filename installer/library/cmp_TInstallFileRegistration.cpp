// What follows the copy of an install file: the help entry, the shared-use count, ActiveX
// registration (deferred to the end of the run, or to the completion run after a restart for a
// file placed under a numbered name), and the file's entry in the uninstall record.
#include <cstring>

#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TInstallFile.h"
#include "installer/library/routines_ActiveX.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"
#include "installer/library/routines_UninstallRecord.h"
#include "platform/LastError.h"

namespace ostra {

namespace {

constexpr int LocalMachineIndex = 4;

// Runs a registration with the destination folder as the current directory, restoring the
// previous one afterwards, also on failure.
template <class Body>
void InDestinationFolder(const std::string& folder, Body body) {
    const std::string previous = WinGetCurrentDir();
    WinSetCurrentDir(folder);
    struct Restore {
        const std::string& previous;
        ~Restore() { WinSetCurrentDir(previous); }
    } restore{previous};
    body();
}

}  // namespace

void TCustomInstallFile::AfterInstallSteps() {
    if (FRegisterAsHelp)
        WriteRegistryString(LocalMachineIndex, "\\SOFTWARE\\Microsoft\\Windows\\Help", UpperCase(FDestName),
                            GetFullDestDir());
    if (FUpdateDLLCounter && !UpdateSharedDLLCount())
        throw IECustomInstallFile("Cannot update the DLL count for the following file :%s:", {FFileName});
    if (FInstalledUnderNumberedName && CurrentInstall()) {
        // The file reaches its place at the restart; the completion run registers it then.
        CurrentInstall()->AddUnfinished(Name(), 0);
        return;
    }
    if (!FActiveX) return;
    try {
        RegisterActiveX();
    } catch (const Exception&) {
        if (!DeferredRegistration()) throw;
        DeferredActiveXFiles().push_back(this);
    }
}

void TCustomInstallFile::RegisterActiveX() {
    switch (ActiveXKindOf(FFileName)) {
        case axLocalServer: RegisterLocalServer(); break;
        case axTypeLibrary: RegisterTypeLibrary(); break;
        default: RegisterInProcServer(); break;
    }
}

namespace {

void CheckRegistrationTarget(TCustomInstallFile& file, const std::string& folder, const std::string& path) {
    if (Trim(folder + file.DestName()).empty() || !WinFileExists(path))
        throw IECustomInstallFile(
            "Cannot compress,copy, or install the following file because it's destination directory is blank. File "
            "is :%s",
            {file.Name()});
}

}  // namespace

void TCustomInstallFile::RegisterInProcServer() {
    const std::string folder = GetFullDestDir();
    const std::string path = FullDestPath();
    CheckRegistrationTarget(*this, folder, path);
    InDestinationFolder(folder, [&] {
        TDllRegistration result = CallDllRegistration(path, false);
        switch (result.Outcome) {
            case TDllRegistration::NotLoaded:
                throw IECustomInstallFile(
                    "Could not register the ActiveX component, %s, because the LoadLibrary(%s) procedure returned a "
                    "value of 0. The file component is %s. The following value is the value of the GetLastError "
                    "function: %d",
                    {path, path, Name(), result.LastError});
            case TDllRegistration::NoExport:
                throw IECustomInstallFile(
                    "Could not register the ActiveX component, %s, because the DllRegisterServer function could not "
                    "be found. The file component is %s. The following value is the value of the GetLastError "
                    "function: %d",
                    {path, Name(), result.LastError});
            case TDllRegistration::Called:
                if (result.Result != 0)
                    throw IECustomInstallFile(
                        "Could not register the ActiveX component, %s, because the DllRegisterServer function "
                        "returned a value of %d. The file component is %s",
                        {path, result.Result, Name()});
                break;
        }
    });
}

void TCustomInstallFile::RegisterTypeLibrary() {
    const std::string folder = GetFullDestDir();
    const std::string path = FullDestPath();
    CheckRegistrationTarget(*this, folder, path);
    InDestinationFolder(folder, [&] { RegisterTypeLibraryFile(path); });
}

void TCustomInstallFile::RegisterLocalServer() {
    const std::string folder = GetFullDestDir();
    const std::string path = FullDestPath();
    CheckRegistrationTarget(*this, folder, path);
    InDestinationFolder(folder, [&] { RunServerRegistration(path, "/REGSERVER"); });
}

bool TCustomInstallFile::IsSelfRegistering() { return FileIsSelfRegistering(FullSourcePath()); }

bool TCustomInstallFile::UpdateSharedDLLCount() {
    if (!IncrementSharedCount(FullDestPath()))
        throw IECustomInstallFile(
            "Could not open the key SharedDLLs key in the registry. File component %s. GetLastError return: %d",
            {Name(), platform::GetLastError()});
    return true;
}

void TCustomInstallFile::FinishAfterReboot() {
    if (FActiveX) RegisterActiveX();
    SetFileAttributesFromSet(FullDestPath(), FInstallAttributes);
}

void TCustomInstallFile::WriteUninstallInfo(const std::string& RecordKey) {
    // The real target is recorded, also for a file that reaches it only at the next restart.
    if (FActiveX)
        AddUninstallActiveX(RecordKey, FullDestPath(), ActiveXKindOf(FFileName));
    else
        AddUninstallFile(RecordKey, FullDestPath());
}

}  // namespace ostra
