// An install project for the tests of file containers, install files and the uninstaller item:
// an install root that is a file container (its archive "C:\Setup\files.1", its folder
// "C:\Program Files\Ostra"), source files on drive C:, the build of the archive and the install
// run's processing, on a machine of the test's own.
#pragma once
#include <string>
#include <vector>

#include "installer/library/cmp_TFileContainer.h"
#include "installer/library/cmp_TInstallFile.h"
#include "installer/library/cmp_TInstallInformation.h"
#include "installer/library/tests/support/TestMachine.h"

namespace ostra::test {

// The install root: records the restart request, the unfinished work and the information codes
// that reach it.
class TFileInstallRoot : public TFileContainer, public IInstallRoot {
public:
    explicit TFileInstallRoot(TComponent* AOwner);
    ~TFileInstallRoot() override;
    void DoInformationEventControl(TInstallContainer* Child, int Code, TObject* Parameter) override;

    TInstallContainer* RootContainer() override { return this; }
    std::string CompanyName() const override { return Company; }
    std::string ProductName() const override { return Product; }
    std::string Version() const override { return VersionText; }
    TDistributeType DistributeType() const override { return Distribute; }
    bool Running() const override { return false; }
    std::string InstallSourceFolder() const override { return "C:\\Setup"; }
    bool SelfExtracting() const override { return false; }
    std::string SelfExtractingName() const override { return ""; }
    bool ConfirmUserAbort() override { return true; }
    bool Reboot() const override { return RebootFlag; }
    void SetReboot(bool value) override { RebootFlag = value; }
    void AddUnfinished(const std::string& name, int code) override {
        Unfinished.push_back(name + ":" + std::to_string(code));
    }
    TControlPanelExtensionInformation* ControlPanelInformation() override { return &Panel; }
    TRegistrationInformation* RegistrationInformation() override { return &Registration; }
    void ClearAddUninstallOnCreate() override { AddUninstallOnCreate = false; }

    std::string Company = "Veltra Software", Product = "Ostra", VersionText = "1.4";
    TDistributeType Distribute = dtTraditional;
    bool RebootFlag = false, AddUninstallOnCreate = true;
    std::vector<std::string> Unfinished;
    std::vector<int> Codes;  // information codes that reached the root
    TControlPanelExtensionInformation Panel;
    TRegistrationInformation Registration;
};

// A project on a machine of its own.
struct FileProject {
    FileProject();
    ~FileProject();
    // A file from the source folder C:\Src (written there with `content`), in `container`.
    TCustomInstallFile* AddFile(const std::string& name, const std::string& content, TInstallContainer* container,
                                const std::string& componentName = "");
    // Builds the archive of the whole project from the sources.
    void Build();
    // The installed file's content ("<missing>" when there is none).
    static std::string Read(const std::string& winPath);

    TestMachine machine;
    TComponent form{nullptr};
    TFileInstallRoot* root = nullptr;
};

}  // namespace ostra::test
