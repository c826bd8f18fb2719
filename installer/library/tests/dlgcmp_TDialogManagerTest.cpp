// Dialog managers without windows: which code starts which stage, the parameter checks, the dialog
// list, finding a stage's manager, the wizard's page order and navigation, and screen placement.
#include <gtest/gtest.h>

#include "installer/library/dlgcmp_TDialogManager.h"
#include "installer/library/tests/support/InstallTree.h"
#include "installer/library/tests/support/TestMachine.h"

using namespace ostra;
using namespace ostra::test;

namespace {

// Records what the managers asked of the window side.
struct RecordingDisplay : IDialogStageDisplay {
    std::vector<std::string> log;
    TDialogManager* currentDuringShow = nullptr;
    void ShowPages(TDialogManager* m) override {
        currentDuringShow = CurrentDialogManager();
        log.push_back("pages " + m->Name());
    }
    void ShowChangeDisk(TDialogManager* m, TObject* p) override {
        CheckChangeDiskParameter(p);
        log.push_back("disk " + m->Name());
    }
    void UpdateCopyForms(TDialogManager* m, TFileStatusParameter* f, TDownloadStatusParameter* d) override {
        log.push_back(std::string(f ? "file " : "download ") + m->Name());
    }
    void CloseCopyForms(TDialogManager* m) override { log.push_back("close " + m->Name()); }
};

struct Managers : ::testing::Test {
    void SetUp() override {
        RegisterTestTreeClasses();
        SetDialogStageDisplay(&display);
        root->SetName("Install1");
    }
    void TearDown() override { SetDialogStageDisplay(nullptr); }
    TDialogManager* Manager(const char* name, TManagerType type, TInstallContainer* container) {
        auto* m = CreateComponent<TDialogManager>(&form);
        m->SetName(name);
        m->ManagerType = type;
        if (container) m->SetContainer(container);
        return m;
    }
    TestMachine machine;
    TComponent form{nullptr};
    TTestInstall* root = CreateComponent<TTestInstall>(&form);
    RecordingDisplay display;
};

}  // namespace

TEST_F(Managers, EachStageAnswersOnlyTheCodeOfItsType) {
    struct Case {
        TManagerType type;
        int code;
        const char* expected;  // nullptr: ignored
    } cases[] = {
        {dmBeforeInstall, dcBeforeInstallWizard, "pages M"}, {dmBeforeInstall, dcGoodInstallWizard, nullptr},
        {dmAfterGoodInstall, dcGoodInstallWizard, "pages M"}, {dmAfterBadInstall, dcBadInstallWizard, "pages M"},
        {dmRegistration, dcRegistration, "pages M"},         {dmReboot, dcReboot, "pages M"},
        {dmDuringCopyFiles, dcStepEnded, "close M"},         {dmUninstall, dcBeforeInstallWizard, nullptr},
        {dmUninstall, dcReboot, nullptr},                    {dmReboot, dcBadInstall, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        display.log.clear();
        TDialogManager* m = Manager("M", c.type, root);
        SendDialogCode(root, root, c.code, nullptr);
        if (c.expected) {
            ASSERT_EQ(display.log, std::vector<std::string>{c.expected});
        } else {
            EXPECT_TRUE(display.log.empty());
        }
        delete m;
    }
    // While the pages show, the manager is the current one; afterwards there is none.
    Manager("M", dmBeforeInstall, root);
    SendDialogCode(root, root, dcBeforeInstallWizard, nullptr);
    EXPECT_EQ(display.currentDuringShow->Name(), "M");
    EXPECT_EQ(CurrentDialogManager(), nullptr);
}

TEST_F(Managers, CopyStageChecksItsParameter) {
    TDialogManager* m = Manager("CopyManager", dmDuringCopyFiles, root);
    TFileStatusParameter file;
    TDownloadStatusParameter download;
    m->DoDialogEvent(root, dcFileStatus, &file);
    m->DoDialogEvent(root, dcDownloadStatus, &download);
    EXPECT_EQ(display.log, (std::vector<std::string>{"file CopyManager", "download CopyManager"}));
    try {
        m->DoDialogEvent(root, dcFileStatus, nullptr);
        FAIL();
    } catch (const IException& e) {
        EXPECT_EQ(e.Message(), "CopyManager got a nil PO parameter");
    }
    try {
        m->DoDialogEvent(root, dcFileStatus, &download);
        FAIL();
    } catch (const IException& e) {
        EXPECT_EQ(e.Message(), "The PO object passed to CopyManager is not a TFileStatusParameter object");
    }
    try {
        m->DoDialogEvent(root, dcDownloadStatus, &file);
        FAIL();
    } catch (const IException& e) {
        EXPECT_EQ(e.Message(), "The PO object passed to CopyManager is not a TDownloadStatusParameter object");
    }
}

TEST_F(Managers, ChangeDiskRequestIsCheckedAndMarksTheFile) {
    TDialogManager* m = Manager("DiskManager", dmChangeDisk, root);
    auto* file = CreateComponent<TTestFile>(&form);
    auto* folder = CreateComponent<TTestFolder>(&form);
    TDiskParameter disk;
    TMessageParameter message("x");
    TParameterPair good(file, &disk), noDisk(file, nullptr), badFirst(folder, &disk), badSecond(file, &message);
    struct Case {
        TObject* parameter;
        const char* error;
    } cases[] = {
        {nullptr, "The ParameterObject is Nil in the TDialogManager. Cannot show the change disk form"},
        {&disk, "TChangeDiskDlg--PO is not a TList object"},
        {&noDisk, "TChangeDiskDlg--Not engouh parameters for status event"},
        {&badFirst, "TChangeDiskDlg says bad first parameter"},
        {&badSecond, "TChangeDiskDlg says bad second parameter"},
    };
    for (const Case& c : cases) {
        try {
            m->DoDialogEvent(root, dcNewDisk, c.parameter);
            ADD_FAILURE() << c.error;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.error);
        }
    }
    EXPECT_TRUE(display.log.empty());
    EXPECT_EQ(file->Tag(), 0);
    m->DoDialogEvent(root, dcNewDisk, &good);
    EXPECT_EQ(display.log, std::vector<std::string>{"disk DiskManager"});
    EXPECT_EQ(file->Tag(), 1);
    EXPECT_EQ(CurrentDialogManager(), nullptr);
}

TEST_F(Managers, FindDialogManagerTakesTheFirstUnderTheRoot) {
    Manager("Loose", dmReboot, nullptr);
    EXPECT_EQ(FindDialogManager(dmReboot), nullptr);
    TDialogManager* first = Manager("First", dmReboot, root);
    Manager("Second", dmReboot, root);
    EXPECT_EQ(FindDialogManager(dmReboot), first);
    EXPECT_EQ(FindDialogManager(dmBeforeInstall), nullptr);
    delete root;  // without a root, a manager without container counts
    EXPECT_EQ(FindDialogManager(dmReboot)->Name(), "Loose");
}

TEST_F(Managers, DialogListKeepsDuplicatesAndForgetsTheDestroyed) {
    TDialogManager* m = Manager("Pages", dmBeforeInstall, root);
    try {
        m->AddDialog(nullptr);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot add a NIL Dialog to the Dialog Manager Pages");
    }
    auto* a = CreateComponent<TTestDialog>(&form);
    auto* b = CreateComponent<TTestDialog>(&form);
    m->AddDialog(a);
    m->AddDialog(b);
    m->AddDialog(a);
    EXPECT_EQ(m->Dialogs().size(), 3u);
    m->RemoveDialog(b);
    EXPECT_EQ(m->Dialogs(), (std::vector<TInstallContainer*>{a, a}));
    delete a;
    EXPECT_TRUE(m->Dialogs().empty());
}

TEST(PageFlow, OrderSkipsAndTheEnds) {
    std::vector<int> orders{40, 5, 60, 10, 45};
    SortByOrderExchange(orders, [](int o) { return o; });
    EXPECT_EQ(orders, (std::vector<int>{5, 10, 40, 45, 60}));

    std::vector<bool> skip(5, false);
    std::vector<int> shown;
    TPageFlow flow;
    flow.Count = [] { return 5; };
    flow.SkipPage = [&](int i) { return static_cast<bool>(skip[i]); };
    flow.Show = [&](int i) { shown.push_back(i); };
    ASSERT_TRUE(flow.Start());
    EXPECT_EQ(flow.Current(), 0);
    EXPECT_TRUE(flow.IsFirstPage());
    flow.PreviousPage();  // Back on the first page does nothing
    EXPECT_EQ(flow.Current(), 0);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(flow.NextPage());
    EXPECT_TRUE(flow.IsLastPage());
    EXPECT_TRUE(flow.NextPage());  // Next on the last page finishes
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 3, 4}));

    // Skipping pages are passed over both ways; a page followed only by skipping pages is not
    // the last, yet Next from it finishes.
    skip = {true, false, true, false, true};
    shown.clear();
    TPageFlow skipping;
    skipping.Count = flow.Count;
    skipping.SkipPage = flow.SkipPage;
    skipping.Show = flow.Show;
    ASSERT_TRUE(skipping.Start());
    EXPECT_EQ(skipping.Current(), 1);
    EXPECT_TRUE(skipping.IsFirstPage());
    EXPECT_FALSE(skipping.NextPage());
    EXPECT_EQ(skipping.Current(), 3);
    EXPECT_FALSE(skipping.IsFirstPage());
    EXPECT_FALSE(skipping.IsLastPage());
    skipping.PreviousPage();
    EXPECT_EQ(skipping.Current(), 1);
    skipping.NextPage();
    EXPECT_TRUE(skipping.NextPage());
    // Finding nothing after page 3, the search backward shows page 3 again before the end.
    EXPECT_EQ(shown, (std::vector<int>{1, 3, 1, 3, 3}));

    // Nothing to show when every page skips.
    skip.assign(5, true);
    TPageFlow none;
    none.Count = flow.Count;
    none.SkipPage = flow.SkipPage;
    EXPECT_FALSE(none.Start());
}

TEST(Placement, DialogRoundsHalfEvenAndContainerTruncates) {
    TScreenPoint copy = PlaceOnScreen(fdpBottomCenter, 1024, 768, 18, 474, 146, 0, 30, TCentreRounding::HalfEven);
    EXPECT_EQ(copy.Left, 275);
    EXPECT_EQ(copy.Top, 574);
    TScreenPoint wizard = PlaceOnScreen(fdpCenter, 1024, 768, 18, 478, 395, 0, 0, TCentreRounding::Truncate);
    EXPECT_EQ(wizard.Left, 273);
    EXPECT_EQ(wizard.Top, 186);
    EXPECT_EQ(PlaceOnScreen(fdpCenter, 1024, 768, 18, 478, 395, 0, 0, TCentreRounding::HalfEven).Top, 186);
    EXPECT_EQ(PlaceOnScreen(fdpCenter, 1024, 768, 18, 478, 393, 0, 0, TCentreRounding::HalfEven).Top, 188);
    TScreenPoint topRight = PlaceOnScreen(fdpTopRight, 1024, 768, 18, 100, 50, 7, 9, TCentreRounding::HalfEven);
    EXPECT_EQ(topRight.Left, 1024 - 100 - 7);
    EXPECT_EQ(topRight.Top, 9);
    EXPECT_EQ(PlaceOnScreen(fdpCenterLeft, 1024, 768, 18, 100, 50, 7, 9, TCentreRounding::HalfEven).Left, 7);
}
