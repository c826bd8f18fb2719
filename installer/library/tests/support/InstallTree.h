// Small install components for the tests of the component tree, the path specifiers and the
// registry component: an install root, folders, groups, files and dialogs that log what reaches
// them (dialog codes, information codes, Loaded, Container assignments) to one shared log.
#pragma once
#include <string>
#include <vector>

#include "installer/library/InstallRoot.h"
#include "installer/library/cmp_TInstallContainer.h"

namespace ostra::test {

// What the test components saw, in order ("Loaded MainDir", "MainDir -990 from Install1" ...).
std::vector<std::string>& TreeLog();

// An install root (registered type 1000) that becomes the current one while it lives.
class TTestInstall : public TInstallContainer, public IInstallRoot {
public:
    explicit TTestInstall(TComponent* AOwner);
    ~TTestInstall() override;
    void Loaded() override;
    void DoInformationEventControl(TInstallContainer* Child, int Code, TObject* Parameter) override;

    TInstallContainer* RootContainer() override { return this; }
    std::string CompanyName() const override { return Company; }
    std::string ProductName() const override { return Product; }
    std::string Version() const override { return VersionText; }
    TDistributeType DistributeType() const override { return dtTraditional; }
    bool Running() const override { return IsRunning; }
    std::string InstallSourceFolder() const override { return Source; }
    bool SelfExtracting() const override { return SelfExtract; }
    std::string SelfExtractingName() const override { return SelfExtractName; }
    bool ConfirmUserAbort() override { return true; }

    std::string Company = "Veltra Software", Product = "Ostra Database Engine", VersionText = "143";
    std::string Source = "D:\\Setup", SelfExtractName;
    bool IsRunning = false, SelfExtract = false;
};

// An install object of a given registered type that logs the codes it hears and its Loaded.
class TTestObject : public TInstallObject {
public:
    explicit TTestObject(TComponent* AOwner, int type = rtInstallFile) : TInstallObject(AOwner, type) {}
    void DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) override;
    void DoInformationEventControl(TInstallContainer* Child, int Code, TObject* Parameter) override;
    void SetContainer(TInstallContainer* value) override;
    void Loaded() override;
    // Sends an information code up to the container.
    void Inform(int code, TObject* parameter);
};

// A folder (1000) processed by its container, with a description.
class TTestFolder : public TTestObject, public IDescribedContainer {
public:
    explicit TTestFolder(TComponent* AOwner, int type = rtFileContainer) : TTestObject(AOwner, type) {
        FProcessedByContainer = true;
    }
    std::string Description() const override { return FDescription; }
    void SetDescription(const std::string& value) { FDescription = value; }
    bool IsInstallGroup() const override { return false; }

private:
    std::string FDescription;
};
// A group (500).
class TTestGroup : public TTestFolder {
public:
    explicit TTestGroup(TComponent* AOwner) : TTestFolder(AOwner, rtInstallGroup) {}
    bool IsInstallGroup() const override { return true; }
};
// A file (2000), processed by its container.
class TTestFile : public TTestObject {
public:
    explicit TTestFile(TComponent* AOwner) : TTestObject(AOwner, rtInstallFile) { FProcessedByContainer = true; }
};
// A dialog (9000).
class TTestDialog : public TTestObject {
public:
    explicit TTestDialog(TComponent* AOwner) : TTestObject(AOwner, rtDialog) {}
};

// Registers the test classes for form streams (once).
void RegisterTestTreeClasses();

}  // namespace ostra::test
