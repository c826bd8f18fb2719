// The narrow faces through which install components, path specifiers and dialog managers reach
// the parts of an install project that are built above them: the install root (the run's own
// component, one per process), file-related containers with their archive, and the described
// containers (groups and folders). The classes that play these parts implement the interfaces;
// everything below them asks through these, so it works before any of them exists and tests give
// it small stand-ins.
#pragma once
#include <string>

#include "installer/library/routines_Exceptions.h"

namespace ostra {

// Errors of the install run (raised here where a face of the run is asked something it cannot give).
class IEInstall : public IException {
public:
    using IException::IException;
};

class TInstallContainer;
class TControlPanelExtensionInformation;
class TRegistrationInformation;

// How the installation files reach the user.
enum TDistributeType { dtTraditional, dtWeb, dtTraditionalNet };

// The install root: what the library needs of the current install run.
class IInstallRoot {
public:
    virtual ~IInstallRoot() = default;
    // The root as an install container (the root of the component tree).
    virtual TInstallContainer* RootContainer() = 0;
    // Company, product and version of the product being installed.
    virtual std::string CompanyName() const = 0;
    virtual std::string ProductName() const = 0;
    virtual std::string Version() const = 0;
    virtual TDistributeType DistributeType() const = 0;
    // True while the installation runs.
    virtual bool Running() const = 0;
    // The folder the setup was started from (Windows form, no trailing backslash).
    virtual std::string InstallSourceFolder() const = 0;
    // True for a self-extracting setup, with the executable's name as it was given.
    virtual bool SelfExtracting() const = 0;
    virtual std::string SelfExtractingName() const = 0;
    // Asks whether the user's cancel stands; true ends the installation.
    virtual bool ConfirmUserAbort() = 0;
    // Whether the machine is to restart after the installation (files were in use, or the user
    // asked for it on the restart page).
    virtual bool Reboot() const { return false; }
    virtual void SetReboot(bool value) {}

    // What install files ask of the run; a root without these leaves them empty.
    // Notes work left for the completion run after the restart: code 0 names a component whose
    // FinishAfterReboot runs then, code 1 a file to delete then.
    virtual void AddUnfinished(const std::string& name, int code) {}
    // The descriptive values of the uninstall record (null when the root has none).
    virtual TControlPanelExtensionInformation* ControlPanelInformation() { return nullptr; }
    virtual TRegistrationInformation* RegistrationInformation() { return nullptr; }
    // The uninstaller item was removed from the project: the build must not add it again.
    virtual void ClearAddUninstallOnCreate() {}
};

// The key of the run record (below HKEY_LOCAL_MACHINE) of the current run; empty while none is
// known. The run sets it when it registers itself.
const std::string& RunRecordKey();
void SetRunRecordKey(const std::string& key);

// The current install root; null while there is none. The root sets itself when it is created
// and clears itself when it is destroyed.
IInstallRoot* CurrentInstall();
void SetCurrentInstall(IInstallRoot* root);
// True when `container` is the current install root's container.
bool IsInstallRoot(const TInstallContainer* container);

// A container whose files come from an archive (file-related objects and file containers).
class IFileRelated {
public:
    virtual ~IFileRelated() = default;
    // The full path of the archive file the container's files come from.
    virtual std::string GetFullArchiveFile() = 0;
};

// A group or folder with the text a user knows it by.
class IDescribedContainer {
public:
    virtual ~IDescribedContainer() = default;
    virtual std::string Description() const = 0;
    // True for an install group, false for a folder.
    virtual bool IsInstallGroup() const = 0;
};

}  // namespace ostra
