// The install component tree: child order by registered type, circular references, processing
// with its tests and dialog codes, information codes, and an install project read from its form
// text (properties in stream order, references fixed up after the whole form, Loaded in creation
// order), and the library folder found on the development environment's search path.
#include <gtest/gtest.h>

#include <memory>

#include "host/ComponentText.h"
#include "installer/library/FernmoorInfo.h"
#include "installer/library/cmp_TInstallContainer.h"
#include "installer/library/cmp_TPathSpecifier.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/tests/support/InstallTree.h"
#include "installer/library/tests/support/TestMachine.h"

using namespace ostra;
using namespace ostra::test;

namespace {

std::vector<std::string> Names(const TInstallContainer& c) {
    std::vector<std::string> names;
    for (int i = 0; i < c.ChildCount(); ++i) names.push_back(c.Children(i)->Name());
    return names;
}

std::vector<std::string> TakeLog() {
    std::vector<std::string> log;
    log.swap(TreeLog());
    return log;
}

struct Tree : ::testing::Test {
    void SetUp() override {
        RegisterTestTreeClasses();
        TreeLog().clear();
    }
    // A component of class T on the form, named and placed in `container`.
    template <class T>
    T* Place(const char* name, TInstallContainer* container) {
        auto* c = CreateComponent<T>(&form);
        c->SetName(name);
        if (container) c->SetContainer(container);
        return c;
    }
    TestMachine machine;
    TComponent form{nullptr};
};

TEST_F(Tree, ChildrenStandInRegisteredTypeOrderLatestFirstAmongEquals) {
    auto* root = CreateComponent<TTestInstall>(&form);
    auto add = [&](const char* name, int type) {
        auto* o = CreateComponent<TTestObject>(&form, type);
        o->SetName(name);
        root->AddObject(o);
        return o;
    };
    add("Folder", rtFileContainer);
    add("File1", rtInstallFile);
    add("File2", rtInstallFile);
    add("Registry", rtInstallRegistry);
    add("Group", rtInstallGroup);
    EXPECT_EQ(Names(*root), (std::vector<std::string>{"Group", "Folder", "File2", "File1", "Registry"}));

    EXPECT_EQ(root->CountOfClass<TTestObject>(), 5);
    EXPECT_EQ(root->Comp<TTestObject>(4)->Name(), "Registry");
    EXPECT_THROW(root->Comp<TTestFolder>(0), IEInstallContainer);
    EXPECT_THROW(root->Children(5), IEInstallContainer);
    EXPECT_THROW(root->AddObject(nullptr), IEInstallContainer);

    // Freeing a child takes it out of its container.
    delete root->Comp<TTestObject>(1);
    EXPECT_EQ(Names(*root), (std::vector<std::string>{"Group", "File2", "File1", "Registry"}));
}

TEST_F(Tree, CircularContainerIsRefusedAndTheOldContainerStays) {
    auto* root = CreateComponent<TTestInstall>(&form);
    auto* outer = CreateComponent<TTestFolder>(&form);
    auto* inner = CreateComponent<TTestFolder>(&form);
    outer->SetName("Outer");
    inner->SetName("Inner");
    outer->SetContainer(root);
    inner->SetContainer(outer);
    EXPECT_THROW(outer->SetContainer(inner), IEInstallContainer);
    EXPECT_THROW(outer->SetContainer(outer), IEInstallContainer);
    EXPECT_EQ(outer->Container(), root);
    EXPECT_EQ(Names(*root), std::vector<std::string>{"Outer"});
    EXPECT_EQ(Names(*inner), std::vector<std::string>{});
    // A new container brings the container's folder specifier.
    EXPECT_TRUE(dynamic_cast<TpsContainerDestDir*>(inner->DestDirType()));
}

TEST_F(Tree, ProcessingFollowsTheOsAndInstallTypeTestsWithItsDialogCodes) {
    auto* root = CreateComponent<TTestInstall>(&form);
    root->SetName("Install1");
    auto* folder = Place<TTestFolder>("Folder", root);
    Place<TTestDialog>("Dlg", root);
    Place<TTestDialog>("Nested", folder);
    auto* file = Place<TTestFile>("File", folder);
    file->SetInstallTypes({itFull});
    TakeLog();

    int after = 0;
    file->OnAfterProcess = [&](TInstallContainer*) { ++after; };
    root->SetSelectedInstallType(itCompact);
    root->Process();
    EXPECT_TRUE(folder->Processed());
    EXPECT_FALSE(file->Processed());
    EXPECT_EQ(after, 0);
    // The run's codes reach its direct dialog only; the folder's reach the dialog inside it.
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"Dlg -990 from Install1", "Dlg -999 from Install1",
                                                   "File -990 from Folder", "Nested -990 from Folder",
                                                   "File -999 from Folder", "Nested -999 from Folder",
                                                   "File -989 from Folder", "Nested -989 from Folder",
                                                   "Dlg -989 from Install1"}));

    root->SetSelectedInstallType(itCustom);
    file->Process();
    EXPECT_TRUE(file->Processed());
    EXPECT_EQ(after, 1);

    // A component whose OS set lacks the running Windows is excluded for good.
    auto* other = CreateComponent<TTestFile>(&form);
    other->SetOS({oswin95});
    other->Process();
    EXPECT_FALSE(other->Include());
    other->SetOS(DefaultOSSet());
    other->Process();
    EXPECT_FALSE(other->Processed());

    // A silent abort in a handler ends only that component's step.
    auto* aborting = CreateComponent<TTestFile>(&form);
    aborting->OnBeforeProcess = [](TInstallContainer*) { throw EAbort("quiet"); };
    EXPECT_NO_THROW(aborting->Process());
    EXPECT_FALSE(aborting->Processed());
}

TEST_F(Tree, StatusTextAndInformationCodesTravel) {
    auto* root = CreateComponent<TTestInstall>(&form);
    root->SetName("Install1");
    auto* folder = Place<TTestFolder>("Folder", root);
    Place<TTestDialog>("Dlg", root);
    auto* file = Place<TTestFile>("File", folder);
    TakeLog();
    root->ShowStatusText("Reading file information...");
    root->HideStatusText();
    file->Inform(icFileInstalled, file);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"Dlg -974 from Install1 'Reading file information...'",
                                                   "Dlg -973 from Install1", "Folder info 1001 from File",
                                                   "Install1 info 1001 from File"}));
}

TEST_F(Tree, DownloadPercentStaysWithinZeroAndHundred) {
    struct Case {
        int64_t total, size;
        int percent;
    } cases[] = {{0, 0, 0}, {500, 0, 0}, {1, 3, 33}, {2, 3, 67}, {3, 3, 100}, {9000, 3000, 100}};
    for (const Case& c : cases) EXPECT_EQ(DownloadPercent(c.total, c.size), c.percent) << c.total << "/" << c.size;
}

const char* const ProjectText =
    "object Form: TComponent\n"
    "  object psContainerDestDir: TpsContainerDestDir\n"
    "  end\n"
    "  object psProgramFiles: TpsProgramFiles\n"
    "  end\n"
    "  object Install1: TTestInstall\n"
    "    DestDir = '\\Ostra'\n"
    "    DestDirType = psProgramFiles\n"
    "  end\n"
    "  object ReadmeFile: TTestFile\n"
    "    Container = MainDir\n"
    "    InstallTypes = [itFull, itDefault]\n"
    "  end\n"
    "  object MainDir: TTestFolder\n"
    "    Container = Install1\n"
    "    DestDirType = psContainerDestDir\n"
    "    Description = 'Orq'\n"
    "  end\n"
    "  object HelpDir: TTestFolder\n"
    "    Container = MainDir\n"
    "    DestDir = '\\Help'\n"
    "    DestDirType = psContainerDestDir\n"
    "    Description = 'Help'\n"
    "  end\n"
    "  object LicenseDlg: TTestDialog\n"
    "    Container = Install1\n"
    "    Order = 10\n"
    "  end\n"
    "  object Group1: TTestGroup\n"
    "    Container = Install1\n"
    "  end\n"
    "end\n";

TEST_F(Tree, ProjectReadFromItsFormText) {
    TextToComponent(ProjectText, &form);
    auto* root = static_cast<TTestInstall*>(form.FindComponent("Install1"));
    auto* main = static_cast<TTestFolder*>(form.FindComponent("MainDir"));
    auto* help = static_cast<TTestFolder*>(form.FindComponent("HelpDir"));
    auto* readme = static_cast<TTestFile*>(form.FindComponent("ReadmeFile"));
    ASSERT_TRUE(root && main && help && readme);

    // References are fixed up after the whole form (ReadmeFile names MainDir before it exists),
    // in stream order, and only then every component gets Loaded, in creation order.
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{
                             "Container ReadmeFile = MainDir", "Container MainDir = Install1",
                             "Container HelpDir = MainDir", "Container LicenseDlg = Install1",
                             "Container Group1 = Install1", "Loaded Install1", "Loaded ReadmeFile", "Loaded MainDir",
                             "Loaded HelpDir", "Loaded LicenseDlg", "Loaded Group1"}));
    EXPECT_EQ(Names(*root), (std::vector<std::string>{"Group1", "MainDir", "LicenseDlg"}));
    EXPECT_EQ(Names(*main), (std::vector<std::string>{"HelpDir", "ReadmeFile"}));
    EXPECT_EQ(readme->InstallTypes(), (TInstallTypeSet{itFull, itDefault}));
    EXPECT_EQ(form.FindComponent("LicenseDlg") ? static_cast<TTestDialog*>(form.FindComponent("LicenseDlg"))->Order() : 0,
              10);
    // The missing standard specifiers were made by the first install component, named by identifier.
    EXPECT_EQ(StandardPathSpecifiers().Count(), 35);
    EXPECT_NE(form.FindComponent("psQuickLaunchMenu"), nullptr);

    // Loaded from the stream, ReadmeFile kept no destination type: the stream did not set one.
    EXPECT_EQ(readme->DestDirType(), nullptr);
    EXPECT_EQ(help->GetFullDestDir(), "C:\\Program Files\\Ostra\\Help");

    // Writing the project and reading it into a fresh form gives the same text.
    std::string text = ComponentToText(&form);
    form.DestroyComponents();
    TakeLog();
    TComponent again(nullptr);
    TextToComponent(text, &again);
    EXPECT_EQ(ComponentToText(&again), text);
}

TEST_F(Tree, DesignedObjectsJoinTheRootUntilTheStreamSaysOtherwise) {
    form.SetDesigning(true);
    auto* root = CreateComponent<TTestInstall>(&form);
    auto* file = CreateComponent<TTestFile>(&form);
    EXPECT_EQ(file->Container(), root);
    EXPECT_TRUE(dynamic_cast<TpsContainerDestDir*>(file->DestDirType()));
    // A component created again without the same number of standard specifiers recreates the missing one.
    delete form.FindComponent("psSystem");
    EXPECT_EQ(StandardPathSpecifiers().Count(), 34);
    CreateComponent<TTestFile>(&form);
    EXPECT_NE(dynamic_cast<TpsSystem*>(form.FindComponent("psSystem")), nullptr);
    EXPECT_EQ(StandardPathSpecifiers().Count(), 35);
}

}  // namespace

namespace {

TEST(FernmoorInfo, LibraryFolderFromTheSearchPathWithItsMacros) {
    TestMachine machine;
    EXPECT_EQ(FernmoorInfo::GetLibraryFolder(false), "");
    EXPECT_THROW(FernmoorInfo::GetLibraryFolder(true), IENoFernmoorPath);
    WriteRegistryString(4, "\\Software\\Borland\\Delphi\\5.0", "RootDir", "C:\\DevRoot");
    WriteRegistryString(2, "\\Software\\Borland\\Delphi\\5.0\\Library", "Search Path",
                        "$(DELPHI)\\Lib;$(BCB)\\Lib\\Installer\\;C:\\Other");
    EXPECT_THROW(FernmoorInfo::GetLibraryFolder(true), IENoFernmoorPath);
    ASSERT_TRUE(PutWinFile("C:\\DevRoot\\Lib\\Installer\\F32V52.TXT", "marker"));
    ASSERT_TRUE(PutWinFile("C:\\Other\\F32V52.TXT", "marker"));
    EXPECT_EQ(FernmoorInfo::GetLibraryFolder(true), "C:\\DevRoot\\Lib\\Installer");
}

}  // namespace
