// Test install components (see the header).
#include "installer/library/tests/support/InstallTree.h"

#include "host/ClassRegistry.h"
#include "host/PropertyRegistry.h"
#include "installer/library/cmp_TPathSpecifier.h"

namespace ostra::test {

std::vector<std::string>& TreeLog() {
    static std::vector<std::string> log;
    return log;
}

TTestInstall::TTestInstall(TComponent* AOwner) : TInstallContainer(AOwner, rtFileContainer) { SetCurrentInstall(this); }
TTestInstall::~TTestInstall() {
    if (CurrentInstall() == this) SetCurrentInstall(nullptr);
}
void TTestInstall::Loaded() {
    TInstallContainer::Loaded();
    TreeLog().push_back("Loaded " + Name());
}
void TTestInstall::DoInformationEventControl(TInstallContainer* Child, int Code, TObject*) {
    TreeLog().push_back(Name() + " info " + std::to_string(Code) + " from " + Child->Name());
}

void TTestObject::DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) {
    std::string text = Name() + " " + std::to_string(Code) + " from " + Sender->Name();
    if (auto* message = dynamic_cast<TMessageParameter*>(Parameter)) text += " '" + message->Message + "'";
    TreeLog().push_back(text);
}
void TTestObject::DoInformationEventControl(TInstallContainer* Child, int Code, TObject* Parameter) {
    TreeLog().push_back(Name() + " info " + std::to_string(Code) + " from " + Child->Name());
    if (Container()) Container()->DoInformationEventControl(Child, Code, Parameter);
}
void TTestObject::SetContainer(TInstallContainer* value) {
    TInstallObject::SetContainer(value);
    TreeLog().push_back("Container " + Name() + " = " + (value ? value->Name() : std::string("nil")));
}
void TTestObject::Loaded() {
    TInstallObject::Loaded();
    TreeLog().push_back("Loaded " + Name());
}
void TTestObject::Inform(int code, TObject* parameter) {
    if (Container()) Container()->DoInformationEventControl(this, code, parameter);
}

void RegisterTestTreeClasses() {
    static const bool done = [] {
        Publish<TTestInstall, TInstallContainer>()
            .String("DestDir", &TInstallContainer::DestDir, &TInstallContainer::SetDestDir)
            .Component("DestDirType", &TInstallContainer::DestDirType, &TInstallContainer::SetDestDirType);
        Publish<TTestObject, TInstallObject>()
            .String("DestDir", &TInstallContainer::DestDir, &TInstallContainer::SetDestDir)
            .Component("DestDirType", &TInstallContainer::DestDirType, &TInstallContainer::SetDestDirType)
            .Integer("Order", &TInstallContainer::Order, &TInstallContainer::SetOrder)
            .Default(-1);
        Publish<TTestFolder, TTestObject>().String("Description", &TTestFolder::Description,
                                                   &TTestFolder::SetDescription);
        RegisterClass<TTestInstall>();
        RegisterClass<TTestObject>();
        RegisterClass<TTestFolder>();
        RegisterClass<TTestGroup>();
        RegisterClass<TTestFile>();
        RegisterClass<TTestDialog>();
        StandardPathSpecifierClasses();
        return true;
    }();
    (void)done;
}

}  // namespace ostra::test
