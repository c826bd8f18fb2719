// The wizard of a dialog manager's stage on Qt's offscreen platform: pages collected from the
// registry and sorted by Order, Back and Next through them (skipping pages that ask for it), the
// end of the pages, Cancel with and without the install root's consent, and the close command.
#include <QLabel>
#include <gtest/gtest.h>

#include "installer/ui/dlgcmp_StandardDlgs.h"
#include "installer/ui/dlgcmp_TBaseContainer.h"
#include "installer/ui/ordlg_WizardPages.h"
#include "installer/ui/tests/support/DialogFixture.h"

using namespace ostra;
using namespace ostra::test;

namespace {

// A page of the before-install stage with a given Order that may skip itself.
class TTestPage : public TBaseInstallForm {
public:
    TTestPage(QWidget* owner, int order, bool skip) : TBaseInstallForm(owner), FSkip(skip) {
        DM = FindDialogManager(dmBeforeInstall);
        Order = order;
        setObjectName(QString("Page%1").arg(order));
        setWindowTitle(QString("Page %1").arg(order));
    }
    bool SkipPage() override { return FSkip; }

private:
    bool FSkip;
};

// Registers test pages without component for the test's life.
struct TestPages {
    std::vector<std::unique_ptr<TInstallFormClass>> classes;
    std::vector<TBIFEntry*> entries;
    void Add(int order, bool skip = false) {
        classes.push_back(std::make_unique<TInstallFormClass>(TInstallFormClass{
            "TTestPage", [order, skip](QWidget* o) { return new TTestPage(o, order, skip); }}));
        entries.push_back(RegisterInstallForm(classes.back().get(), nullptr, 0));
    }
    ~TestPages() {
        for (TBIFEntry* e : entries) UnregisterInstallForm(e);
    }
};

TBaseFormContainer& Wizard(QDialog& dialog) { return dynamic_cast<TBaseFormContainer&>(dialog); }
std::string Current(QDialog& dialog) {
    return Wizard(dialog).CurrentPage()->objectName().toStdString();
}

struct WizardTest : DialogFixture {
    TDialogManager* Manager(TManagerType type) {
        auto* m = CreateComponent<TDialogManager>(&form);
        m->SetName("Manager" + std::to_string(type));
        m->ManagerType = type;
        m->SetContainer(root);
        return m;
    }
    void Start() { SendDialogCode(root, root, dcBeforeInstallWizard, nullptr); }
};

}  // namespace

TEST_F(WizardTest, BackNextThroughSortedPagesAndFinish) {
    Manager(dmBeforeInstall);
    TestPages pages;
    pages.Add(60);
    pages.Add(5);
    pages.Add(45, true);  // skips itself
    pages.Add(40);
    auto* license = CreateComponent<TLicenseDlg>(&form);
    license->SetName("License");
    license->SetContainer(root);
    license->SetOrder(10);
    license->LicenseAgreement().Add("Terms of use");
    answers.push_back([&](QDialog& d) {
        TBaseFormContainer& w = Wizard(d);
        d.show();
        ASSERT_EQ(w.Pages().size(), 5u);
        EXPECT_EQ(Current(d), "Page5");
        EXPECT_EQ(d.windowTitle(), "Page 5");
        w.CurrentPage()->GoBack();  // Back on the first page does nothing
        EXPECT_EQ(Current(d), "Page5");
        w.CurrentPage()->GoNext();
        // The licence page: its own text, Back shown (not the first page), Accept moves on.
        auto* page = dynamic_cast<TLicenseForm*>(w.CurrentPage());
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(d.windowTitle(), "Software license agreement");
        EXPECT_EQ(page->Agreement->toPlainText(), "Terms of use");
        EXPECT_TRUE(page->BackBtn->isVisibleTo(page));
        EXPECT_EQ(page->DC, license);
        Click(page, "BackBtn");
        EXPECT_EQ(Current(d), "Page5");
        w.CurrentPage()->GoNext();
        Click(w.CurrentPage(), "ProceedBtn");
        EXPECT_EQ(Current(d), "Page40");
        EXPECT_FALSE(w.IsLastPage());  // only a skipping page and Page60 follow
        w.CurrentPage()->GoNext();
        EXPECT_EQ(Current(d), "Page60");  // Page45 skipped
        for (TBaseInstallForm* p : w.Pages()) EXPECT_EQ(p->isVisible(), p == w.CurrentPage());
        EXPECT_TRUE(w.IsLastPage());
        w.CurrentPage()->GoBack();
        EXPECT_EQ(Current(d), "Page40");
        w.CurrentPage()->GoNext();
        // The close command does not end the wizard.
        d.close();
        EXPECT_TRUE(d.isVisible());
        EXPECT_FALSE(w.Finished());
        w.CurrentPage()->GoNext();
        EXPECT_TRUE(w.Finished());
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(d.result(), mrOk);
    });
    Start();
    EXPECT_EQ(CurrentDialogManager(), nullptr);
}

TEST_F(WizardTest, CancelAsksTheRootAndAbortsOnlyWithItsConsent) {
    Manager(dmBeforeInstall);
    TestPages pages;
    pages.Add(5);
    auto* license = CreateComponent<TLicenseDlg>(&form);
    license->SetContainer(root);
    answers.push_back([&](QDialog& d) {
        d.show();
        Wizard(d).CurrentPage()->GoNext();
        root->ConfirmAbort = false;
        Click(Wizard(d).CurrentPage(), "CancelBtn");
        EXPECT_EQ(root->AbortQuestions, 1);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(Current(d), "LicenseForm");
        root->ConfirmAbort = true;
        Click(Wizard(d).CurrentPage(), "CancelBtn");
        EXPECT_EQ(d.result(), mrAbort);
    });
    EXPECT_THROW(Start(), EAIUserAbort);
    EXPECT_EQ(root->AbortQuestions, 2);
    EXPECT_EQ(CurrentDialogManager(), nullptr);
}

TEST_F(WizardTest, StagesWithoutPagesShowNothing) {
    // A licence dialog made while its stage had no manager keeps none, so the stage has no page;
    // the after-good stage has none either (the good-install page is not registered).
    auto* license = CreateComponent<TLicenseDlg>(&form);
    license->SetContainer(root);
    EXPECT_EQ(license->DialogManager(), nullptr);
    Manager(dmBeforeInstall);
    Manager(dmAfterGoodInstall);
    Start();
    SendDialogCode(root, root, dcGoodInstallWizard, nullptr);
    EXPECT_EQ(modalRuns, 0u);
}

TEST_F(WizardTest, ContainerCollectsOnlyForTheCurrentManager) {
    TBaseFormContainer container;
    try {
        container.PreparePages();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "The current dialog manager is not defined");
    }
}
