// The registry install component: keys made from the product identity, "%p" values, Boolean
// values, the uninstall record listing only what was written, a key that cannot be created, and
// a component read from its form text and processed through dialog code -968.
#include <gtest/gtest.h>

#include "host/ComponentText.h"
#include "installer/library/cmp_TInstallRegistry.h"
#include "installer/library/cmp_TPathSpecifier.h"
#include "installer/library/routines_UninstallRecord.h"
#include "installer/library/tests/support/InstallTree.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/Registry.h"

using namespace ostra;
using namespace ostra::test;

namespace {

constexpr int LocalMachine = 4;

struct RegistryComponent : ::testing::Test {
    void SetUp() override {
        RegisterTestTreeClasses();
        root = CreateComponent<TTestInstall>(&form);
        root->SetName("Install1");
        registry = CreateComponent<TInstallRegistry>(&form);
        registry->SetName("InstallRegistry");
        registry->SetContainer(root);
        mainFolder = CreateComponent<TPathSpecifier>(&form);
        mainFolder->SetName("psMain");
        mainFolder->OnGetPath = [](TComponent*, std::string& path) { path = "C:\\Program Files\\Ostra"; };
    }
    TRegistryEntry* Add(const std::string& ident) {
        TRegistryEntry* e = registry->Entries()->Add();
        e->SetIdent(ident);
        return e;
    }
    std::string Text(const std::string& key) { return TestMachine::RegistryText(LocalMachine, key); }

    TestMachine machine;
    TComponent form{nullptr};
    TTestInstall* root = nullptr;
    TInstallRegistry* registry = nullptr;
    TPathSpecifier* mainFolder = nullptr;
};

TEST_F(RegistryComponent, ValuesGoBelowTheKeyMadeFromTheProduct) {
    registry->SetKeySpecifierType(ksVersion);
    EXPECT_EQ(registry->Key(), "");
    Add("InstallPath")->SetPathSpecifier(mainFolder);
    Add("Bin")->SetText("%p\\bin");
    registry->Entries()->Items(1)->SetPathSpecifier(mainFolder);
    registry->Entries()->Items(1)->SetText("%p\\bin");
    Add("Shared")->SetBoolean(true);
    Add("Count")->SetInteger(42);
    EXPECT_EQ(registry->Entries()->Items(0)->Text(), "%p");
    registry->Process();
    EXPECT_EQ(Text("SOFTWARE\\Veltra Software\\Ostra Database Engine\\143"),
              "key HKEY_LOCAL_MACHINE\\Software\\Veltra Software\\Ostra Database Engine\\143\n"
              "  sz \"InstallPath\" \"C:\\\\Program Files\\\\Ostra\"\n"
              "  sz \"Bin\" \"C:\\\\Program Files\\\\Ostra\\\\bin\"\n"
              "  dword \"Shared\" 1\n"
              "  dword \"Count\" 42\n");
    registry->SetKeySpecifierType(ksCompanyName);
    EXPECT_EQ(registry->GetFullKey(), "\\SOFTWARE\\Veltra Software");
}

TEST_F(RegistryComponent, TheRecordListsOnlyTheValuesThatWereWritten) {
    registry->SetKey("\\Software\\Veltra Software\\Ostra\\");
    Add("Ver")->SetText("143");
    Add("Skipped")->SetText("never");
    Add("InstallPath")->SetPathSpecifier(mainFolder);
    registry->OnBeforeWriteEntry = [](TCustomInstallRegistry*, TRegistryEntry* e, bool& proceed) {
        proceed = e->Ident() != "Skipped";
    };
    registry->Process();
    TUninstallRecord record = ReadUninstallRecord(UninstallRecordKey("Ostra Database Engine"));
    ASSERT_EQ(record.RegistryKeys.size(), 1u);
    EXPECT_EQ(record.RegistryKeys[0].Key, "\\Software\\Veltra Software\\Ostra");
    EXPECT_EQ(record.RegistryKeys[0].Root, LocalMachine);
    EXPECT_EQ(record.RegistryKeys[0].ValueNames, (std::vector<std::string>{"Ver", "InstallPath"}));
    EXPECT_EQ(Text("Software\\Veltra Software\\Ostra"),
              "key HKEY_LOCAL_MACHINE\\Software\\Veltra Software\\Ostra\n"
              "  sz \"Ver\" \"143\"\n"
              "  sz \"InstallPath\" \"C:\\\\Program Files\\\\Ostra\"\n");

    // A component that wrote nothing records no key at all.
    auto* quiet = CreateComponent<TInstallRegistry>(&form);
    quiet->SetContainer(root);
    quiet->SetKey("\\Software\\Other");
    quiet->Entries()->Add()->SetText("x");
    quiet->OnBeforeWriteEntry = [](TCustomInstallRegistry*, TRegistryEntry*, bool& proceed) { proceed = false; };
    quiet->Process();
    EXPECT_EQ(ReadUninstallRecord(UninstallRecordKey("Ostra Database Engine")).RegistryKeys.size(), 1u);
    EXPECT_EQ(Text("Software\\Other"), "");
}

TEST_F(RegistryComponent, AKeyThatCannotBeCreatedEndsTheStepKeepingWhatWasWritten) {
    registry->SetKey("\\Software\\Locked");
    Add("A")->SetText("1");
    platform::ScopedRegistryFaultHook hook(
        [](platform::RegistryOp op, int, const std::string& key, const std::string&) -> long {
            return op == platform::RegistryOp::CreateKey && key.find("Locked") != std::string::npos ? 5 : 0;
        });
    try {
        registry->Process();
        ADD_FAILURE();
    } catch (const IERegistryEntry& e) {
        EXPECT_STREQ(e.what(), "InstallRegistry cannot create the key \\Software\\Locked in the registry");
    }
    EXPECT_EQ(ReadUninstallRecord(UninstallRecordKey("Ostra Database Engine")).RegistryKeys.size(), 0u);
}

TEST_F(RegistryComponent, RulesOfTheSettersAndReferences) {
    TRegistryEntry* e = Add("Value");
    e->SetInteger(3);
    EXPECT_EQ(e->EntryType(), retInteger);
    e->SetBoolean(false);
    EXPECT_EQ(e->EntryType(), retBoolean);
    e->SetPathSpecifier(mainFolder);
    EXPECT_EQ(e->EntryType(), retText);
    // A specifier that refuses the component leaves the entry as it was.
    auto& folder = StandardPathSpecifiers().Find<TpsContainerArchiveFile>();
    EXPECT_THROW(e->SetPathSpecifier(&folder), IEPathSpecifier);
    EXPECT_EQ(e->PathSpecifier(), mainFolder);
    // The specifier goes away: the entry forgets it and keeps its type.
    delete mainFolder;
    EXPECT_EQ(e->PathSpecifier(), nullptr);
    EXPECT_EQ(e->EntryType(), retText);

    registry->SetKeySpecifierType(ksProductName);
    delete root;
    EXPECT_EQ(registry->KeySpecifierType(), ksAbsolute);
    EXPECT_THROW(registry->SetKeySpecifierType(ksVersion), IEInstallRegistry);
    EXPECT_THROW(TRegistryEntries(nullptr), IERegistryEntries);
}

TEST(RegistryComponentStream, ReadFromTheFormAndProcessedByDialogCode) {
    RegisterTestTreeClasses();
    TestMachine machine;
    TComponent form(nullptr);
    TextToComponent(
        "object Form: TComponent\n"
        "  object psFileContainer1: TPathSpecifier\n"
        "  end\n"
        "  object Install1: TTestInstall\n"
        "  end\n"
        "  object InstallRegistry: TInstallRegistry\n"
        "    Container = Install1\n"
        "    Entries = <\n"
        "      item\n"
        "        Ident = 'Ver'\n"
        "        Text = '%p'\n"
        "      end\n"
        "      item\n"
        "        Ident = 'InstallPath'\n"
        "        PathSpecifier = psFileContainer1\n"
        "        Text = '%p'\n"
        "      end>\n"
        "    InstallTypes = [itFull, itDefault, itCompact]\n"
        "    Key = '\\Software\\Veltra Software\\Ostra'\n"
        "  end\n"
        "end\n",
        &form);
    auto* specifier = static_cast<TPathSpecifier*>(form.FindComponent("psFileContainer1"));
    specifier->OnGetPath = [](TComponent*, std::string& path) { path = "C:\\Program Files\\Ostra"; };
    auto* root = static_cast<TTestInstall*>(form.FindComponent("Install1"));
    auto* registry = static_cast<TInstallRegistry*>(form.FindComponent("InstallRegistry"));
    ASSERT_EQ(registry->Entries()->Count(), 2);
    EXPECT_EQ(registry->Entries()->Items(1)->PathSpecifier(), specifier);
    EXPECT_EQ(registry->Container(), root);
    EXPECT_EQ(InstallRegistryList().size(), 1u);
    SendDialogCode(root, root, dcProcessRegistry, nullptr);
    EXPECT_EQ(TestMachine::RegistryText(LocalMachine, "Software\\Veltra Software\\Ostra"),
              "key HKEY_LOCAL_MACHINE\\Software\\Veltra Software\\Ostra\n"
              "  sz \"Ver\" \"%p\"\n"
              "  sz \"InstallPath\" \"C:\\\\Program Files\\\\Ostra\"\n");
}

}  // namespace
