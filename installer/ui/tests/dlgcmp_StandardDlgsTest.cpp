// The standard install dialogs on Qt's offscreen platform: the licence, readme, bad-installation
// and restart pages shown by their components on their own or in a wizard, the change-disk prompt,
// the copy-progress window and the status texts.
#include <QFileSystemModel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTreeView>
#include <gtest/gtest.h>

#include "host/ComponentText.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/library/cmp_TNetInstallLocation.h"
#include "installer/ui/InstallDialogUnits.h"
#include "installer/ui/dlgcmp_StandardDlgs.h"
#include "installer/ui/ordlg_StageForms.h"
#include "installer/ui/ordlg_WizardPages.h"
#include "installer/ui/tests/support/DialogFixture.h"

using namespace ostra;
using namespace ostra::test;

namespace {

struct StandardDialogs : DialogFixture {
    TDialogManager* Manager(TManagerType type) {
        auto* m = CreateComponent<TDialogManager>(&form);
        m->ManagerType = type;
        m->SetContainer(root);
        return m;
    }
    template <class D>
    D* Dialog() {
        auto* d = CreateComponent<D>(&form);
        d->SetContainer(root);
        return d;
    }
};

}  // namespace

TEST_F(StandardDialogs, LicenseOnItsOwnOnlyOnItsCode) {
    auto* license = Dialog<TLicenseDlg>();
    license->LicenseAgreement().Add("Line one");
    license->LicenseAgreement().Add("Line two");
    ASSERT_EQ(license->DialogManager(), nullptr);
    // A normal run sends no -981: nothing shows.
    SendDialogCode(root, root, dcBeforeInstallWizard, nullptr);
    answers.push_back([](QDialog& d) {
        auto& page = dynamic_cast<TLicenseForm&>(d);
        EXPECT_EQ(page.windowTitle(), "Software license agreement");
        EXPECT_FALSE(page.BackBtn->isVisibleTo(&page));
        EXPECT_EQ(page.Agreement->toPlainText(), "Line one\nLine two");
        Click(&page, "ProceedBtn");  // Accept closes with OK
    });
    answers.push_back([](QDialog& d) { Click(&d, "CancelBtn"); });
    std::vector<std::string> events;
    license->OnBeforeExecute = [&](TCustomBaseInstallDlg*) { events.push_back("before"); };
    license->OnAfterExecute = [&](TCustomBaseInstallDlg*) { events.push_back("after"); };
    SendDialogCode(root, root, dcShowLicense, nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
    EXPECT_THROW(SendDialogCode(root, root, dcShowLicense, nullptr), EAIUserAbort);
    // A silent abort in a handler ends Execute quietly, without the form.
    license->OnBeforeExecute = [](TCustomBaseInstallDlg*) { throw EAbort("stop"); };
    EXPECT_FALSE(license->Execute());
    EXPECT_EQ(license->Form(), nullptr);
}

TEST_F(StandardDialogs, ComponentsTakeTheManagerOfTheirStage) {
    TDialogManager* good = Manager(dmAfterGoodInstall);
    Manager(dmAfterGoodInstall);  // a second one of the same type is not taken
    auto* readme = Dialog<TReadmeDlg>();
    EXPECT_EQ(readme->DialogManager(), good);
    EXPECT_EQ(readme->Order(), 30);
    EXPECT_TRUE(good->Dialogs().empty());  // the preset does not list it
    TDialogManager* other = Manager(dmBeforeInstall);
    readme->SetDialogManager(other);
    EXPECT_EQ(other->Dialogs(), std::vector<TInstallContainer*>{readme});
    delete other;
    EXPECT_EQ(readme->DialogManager(), nullptr);
    try {
        readme->AssignDialogProperties();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot AssignDialogProperties for " + readme->Name() + " because the Dialog is Nil");
    }
    // The readme on its own: its text, Next closes.
    readme->ReadmeText().Add("Read me");
    answers.push_back([](QDialog& d) {
        auto& page = dynamic_cast<TReadmeForm&>(d);
        EXPECT_EQ(page.Information->toPlainText(), "Read me");
        Click(&page, "ProceedBtn");
    });
    SendDialogCode(root, root, dcShowReadme, nullptr);
}

TEST_F(StandardDialogs, BadInstallationOnItsOwnAndInItsStage) {
    auto* bad = Dialog<TBadInstallationDlg>();
    answers.push_back([](QDialog& d) {
        auto& page = dynamic_cast<TBadInstallForm&>(d);
        EXPECT_EQ(page.windowTitle(), "Setup incomplete");
        Click(&page, "ProceedBtn");
    });
    SendDialogCode(root, root, dcBadInstall, nullptr);
    // In its stage it is the only page: no Back, no Next, Finish ends the wizard.
    bad->SetDialogManager(Manager(dmAfterBadInstall));
    SendDialogCode(root, root, dcBadInstall, nullptr);  // with a manager the stand-alone code is ignored
    answers.push_back([](QDialog& d) {
        d.show();
        auto* page = d.findChild<TBadInstallForm*>();
        ASSERT_NE(page, nullptr);
        EXPECT_FALSE(page->BackBtn->isVisibleTo(page));
        EXPECT_FALSE(page->ProceedBtn->isVisibleTo(page));
        EXPECT_TRUE(page->FinishBtn->isVisibleTo(page));
        Click(page, "FinishBtn");
        EXPECT_EQ(d.result(), mrOk);
    });
    SendDialogCode(root, root, dcBadInstallWizard, nullptr);
}

TEST_F(StandardDialogs, RebootPagePreselectsWithoutChangingTheFlag) {
    Manager(dmReboot);
    Dialog<TRebootDlg>();
    root->RebootFlag = true;
    answers.push_back([&](QDialog& d) {
        d.show();
        auto* page = d.findChild<TRebootForm*>();
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(page->RebootYes->isChecked());
        Click(page, "FinishBtn");
    });
    SendDialogCode(root, root, dcReboot, nullptr);
    EXPECT_TRUE(root->RebootFlag);
    answers.push_back([&](QDialog& d) {
        d.show();
        auto* page = d.findChild<TRebootForm*>();
        page->RebootNo->click();
        EXPECT_FALSE(root->RebootFlag);
        page->RebootYes->click();
        page->RebootNo->click();
        Click(page, "FinishBtn");
    });
    SendDialogCode(root, root, dcReboot, nullptr);
    EXPECT_FALSE(root->RebootFlag);
    root->RebootFlag = false;
    answers.push_back([&](QDialog& d) {
        d.show();
        EXPECT_TRUE(d.findChild<TRebootForm*>()->RebootNo->isChecked());
        Click(d.findChild<TRebootForm*>(), "FinishBtn");
    });
    SendDialogCode(root, root, dcReboot, nullptr);
}

TEST_F(StandardDialogs, ChangeDiskPromptsAndKeepsTheConfirmedFolder) {
    Manager(dmChangeDisk);
    Dialog<TChangeDiskDlg>();
    auto* file = CreateComponent<TTestFile>(&form);
    TDiskParameter disk;
    disk.DiskNumber = 3;
    disk.Path = "D:\\Disk2";
    TParameterPair request(file, &disk);
    answers.push_back([](QDialog& d) {
        auto& prompt = dynamic_cast<TChangeDiskForm&>(d);
        EXPECT_EQ(prompt.PromptDiskLabel->text(), "Please insert disk number 3");
        EXPECT_EQ(prompt.PathEdit->text(), "D:\\Disk2");
        prompt.PathEdit->setText("E:\\Volume3");  // as the user's edit would
        Click(&prompt, "InstallBtn");
    });
    SendDialogCode(root, root, dcNewDisk, &request);
    EXPECT_EQ(disk.Path, "E:\\Volume3");
    EXPECT_EQ(file->Tag(), 1);
    // Cancel refused by the root keeps the prompt; agreed, the request ends in a user abort.
    answers.push_back([&](QDialog& d) {
        root->ConfirmAbort = false;
        Click(&d, "CancelBtn");
        EXPECT_EQ(d.result(), 0);
        root->ConfirmAbort = true;
        Click(&d, "CancelBtn");
    });
    EXPECT_THROW(SendDialogCode(root, root, dcNewDisk, &request), EAIUserAbort);
    EXPECT_EQ(CurrentDialogManager(), nullptr);
}

TEST_F(StandardDialogs, ChangeDiskBrowseTakesTheChosenFolder) {
    Manager(dmChangeDisk);
    Dialog<TChangeDiskDlg>();
    ASSERT_TRUE(WinForceDirectories("C:\\Install\\Disk3"));
    auto* file = CreateComponent<TTestFile>(&form);
    TDiskParameter disk;
    disk.DiskNumber = 3;
    disk.Path = "C:\\Install\\Missing";
    TParameterPair request(file, &disk);
    answers.push_back([](QDialog& d) { Click(&d, "BrowseBtn"); Click(&d, "InstallBtn"); });
    answers.push_back([](QDialog& browser) {
        EXPECT_EQ(browser.findChild<QLineEdit*>("PathEdit"), nullptr);
        EXPECT_EQ(browser.findChild<QWidget*>("CreateBtn"), nullptr);
        auto* tree = Child<QTreeView>(&browser, "FolderTree");
        // The browser opened on the nearest existing folder; choose its child.
        QModelIndex start = tree->currentIndex();
        ASSERT_TRUE(start.isValid());
        EXPECT_EQ(NativeToWin(start.data(QFileSystemModel::FilePathRole).toString().toStdString()), "C:\\Install");
        auto* model = static_cast<const QFileSystemModel*>(tree->model());
        QModelIndex child = model->index(QString::fromStdString(WinToNative("C:\\Install\\Disk3")));
        tree->setCurrentIndex(child);
        Click(&browser, "OkBtn");
    });
    SendDialogCode(root, root, dcNewDisk, &request);
    EXPECT_EQ(disk.Path, "C:\\Install\\Disk3");
}

TEST_F(StandardDialogs, CopyFormFollowsFilesAndDownloadsUntilTheStepEnds) {
    Manager(dmDuringCopyFiles);
    Dialog<TCopyFileDlg>();
    auto copyForm = [] {
        for (TBaseFernmoorForm* f : OpenInstallForms())
            if (auto* copy = dynamic_cast<TCopyFileForm*>(f)) return copy;
        return static_cast<TCopyFileForm*>(nullptr);
    };
    EXPECT_EQ(copyForm(), nullptr);
    TFileStatusParameter status;
    status.FileName = "orq14rd6.bpl";
    status.FilePercent = 40;
    status.TotalPercent = 10;
    SendDialogCode(root, root, dcFileStatus, &status);
    TCopyFileForm* form = copyForm();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "Copying installation files");
    EXPECT_EQ(form->ProgressBar1->value(), 40);
    EXPECT_EQ(form->ProgressBar2->value(), 10);
    EXPECT_EQ(form->lblCopyingFile->text(), "orq14rd6.bpl");
    EXPECT_FALSE(form->TransferBitmap->isVisibleTo(form));
    EXPECT_EQ(form->geometry().size(), QSize(474, 146));
    TDownloadStatusParameter download;
    download.FileName = "files.2";
    download.Percent = 75;
    SendDialogCode(root, root, dcDownloadStatus, &download);
    EXPECT_EQ(copyForm(), form);
    EXPECT_TRUE(form->TransferBitmap->isVisibleTo(form));
    EXPECT_EQ(form->ProgressBar1->value(), 75);
    EXPECT_EQ(form->ProgressBar2->value(), 10);
    EXPECT_EQ(form->lblCopyingFile->text(), "files.2");
    // Cancel does not close the window; it asks the downloads to stop.
    SetNetAbort(false);
    Click(form, "CancelBtn");
    EXPECT_TRUE(NetAbort());
    EXPECT_TRUE(form->isVisible());
    SetNetAbort(false);
    SendDialogCode(root, root, dcStepEnded, nullptr);
    EXPECT_EQ(copyForm(), nullptr);
}

TEST_F(StandardDialogs, StatusTextsStackAndTheLastDropHidesTheForm) {
    auto* status = Dialog<TInstallStatusDlg>();
    status->SetName("Status");
    try {
        SendDialogCode(root, root, dcShowStatusText, nullptr);
        FAIL();
    } catch (const IException& e) {
        EXPECT_EQ(e.Message(), "Status got a nil PO parameter");
    }
    TDiskParameter wrong;
    EXPECT_THROW(SendDialogCode(root, root, dcShowStatusText, &wrong), IException);
    TMessageParameter first("Reading the archive"), second("Registering the components of the product");
    SendDialogCode(root, root, dcShowStatusText, &first);
    TInstallStatusForm* form = status->StatusForm();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->lblMessage->text(), "Reading the archive");
    int narrow = form->width();
    SendDialogCode(root, root, dcShowStatusText, &second);
    EXPECT_EQ(form->lblMessage->text(), "Registering the components of the product");
    EXPECT_GT(form->width(), narrow);
    SendDialogCode(root, root, dcHideStatusText, nullptr);
    EXPECT_EQ(form->lblMessage->text(), "Reading the archive");
    EXPECT_TRUE(form->isVisible());
    SendDialogCode(root, root, dcHideStatusText, nullptr);
    EXPECT_FALSE(form->isVisible());
    SendDialogCode(root, root, dcHideStatusText, nullptr);  // nothing left to drop
    EXPECT_EQ(status->StatusForm(), form);
}

TEST_F(StandardDialogs, ProjectWithDialogsReadFromItsFormText) {
    const char* text =
        "object Project: TComponent\n"
        "  object LicenseDlg1: TLicenseDlg\n"
        "    DialogManager = Pages\n"
        "    LicenseAgreement.Strings = (\n"
        "      'Terms'\n"
        "      'More terms')\n"
        "    Order = 15\n"
        "    TranslateIntoLanguage = flGerman\n"
        "  end\n"
        "  object Pages: TDialogManager\n"
        "    ManagerType = dmReboot\n"
        "    Position = fdpTopLeft\n"
        "    Width = 500\n"
        "  end\n"
        "  object CopyFileDlg1: TCopyFileDlg\n"
        "  end\n"
        "end\n";
    TComponent project(nullptr);
    TextToComponent(text, &project);
    auto* license = dynamic_cast<TLicenseDlg*>(project.FindComponent("LicenseDlg1"));
    auto* pages = dynamic_cast<TDialogManager*>(project.FindComponent("Pages"));
    auto* copy = dynamic_cast<TCopyFileDlg*>(project.FindComponent("CopyFileDlg1"));
    ASSERT_TRUE(license && pages && copy);
    // The streamed manager replaces the preset and lists the dialog.
    EXPECT_EQ(license->DialogManager(), pages);
    EXPECT_EQ(pages->Dialogs(), std::vector<TInstallContainer*>{license});
    EXPECT_EQ(license->LicenseAgreement().Text(), "Terms\r\nMore terms\r\n");
    EXPECT_EQ(license->Order(), 15);
    EXPECT_EQ(license->TranslateIntoLanguage, flGerman);
    EXPECT_EQ(pages->ManagerType, dmReboot);
    EXPECT_EQ(pages->Position, fdpTopLeft);
    EXPECT_EQ(pages->Width, 500);
    EXPECT_EQ(pages->Height, 395);
    EXPECT_EQ(copy->Position, fdpBottomCenter);
    EXPECT_EQ(copy->RelativeTopOffset, 30);
    // Written again, only what differs from the defaults appears.
    std::string written = ComponentToText(&project);
    EXPECT_NE(written.find("ManagerType = dmReboot"), std::string::npos);
    EXPECT_EQ(written.find("Height"), std::string::npos);
    TComponent again(nullptr);
    TextToComponent(written, &again);
    EXPECT_EQ(ComponentToText(&again), written);
}

namespace {
// A translator into German that knows the Cancel button (6) and two status texts.
std::unique_ptr<TTranslator> GermanTranslator() {
    auto translator = std::make_unique<TTranslator>(nullptr);
    auto set = [&](TFrnmLanguage language, std::initializer_list<const char*> lines) {
        TStringList list;
        for (const char* line : lines) list.Add(line);
        translator->FindLanguage(language)->SetStrings(list);
    };
    set(flEnglish, {"6;Cancel", "300;Reading the archive", "301;Copying files"});
    set(flGerman, {"6;Abbrechen", "300;Archiv wird gelesen", "301;Dateien werden kopiert"});
    set(flFrench, {"6;Annuler"});
    translator->SetTranslateIntoLanguage(flGerman);
    return translator;
}
}  // namespace

TEST_F(StandardDialogs, FormsAreTranslatedIntoTheInstallLanguage) {
    auto translator = GermanTranslator();
    auto* license = Dialog<TLicenseDlg>();
    answers.push_back([](QDialog& d) {
        EXPECT_EQ(Child<QAbstractButton>(&d, "CancelBtn")->text(), "Abbrechen");
        Click(&d, "ProceedBtn");
    });
    SendDialogCode(root, root, dcShowLicense, nullptr);
    EXPECT_EQ(license->LastLanguage, flGerman);
    // Into a language of the component's own choice.
    auto* french = Dialog<TLicenseDlg>();
    french->OverrideMainTranslator = true;
    french->TranslateIntoLanguage = flFrench;
    answers.push_back([](QDialog& d) {
        EXPECT_EQ(Child<QAbstractButton>(&d, "CancelBtn")->text(), "Annuler");
        Click(&d, "ProceedBtn");
    });
    french->Execute();
    delete license;
    delete french;
    // Each status text is translated from English, also after an earlier one.
    auto* status = Dialog<TInstallStatusDlg>();
    TMessageParameter first("Reading the archive"), second("Copying files");
    SendDialogCode(root, root, dcShowStatusText, &first);
    EXPECT_EQ(status->StatusForm()->lblMessage->text(), "Archiv wird gelesen");
    SendDialogCode(root, root, dcShowStatusText, &second);
    EXPECT_EQ(status->StatusForm()->lblMessage->text(), "Dateien werden kopiert");
    EXPECT_EQ(status->LastLanguage, flEnglish);
}

TEST_F(StandardDialogs, PagesAreRegisteredWhileTheirComponentsLive) {
    // After start-up the component units have withdrawn every standard form.
    EXPECT_EQ(InstallFormCount(), 0);
    EXPECT_TRUE(DuringCopyForms().empty());
    EXPECT_TRUE(ChangeDiskForms().empty());
    auto* license = Dialog<TLicenseDlg>();
    auto* copy = Dialog<TCopyFileDlg>();
    ASSERT_EQ(InstallFormCount(), 1);
    EXPECT_EQ(GetInstallFormEntry(0)->FormClass, &TLicenseForm::Class);
    EXPECT_EQ(GetInstallFormEntry(0)->Dialog, license);
    ASSERT_EQ(DuringCopyForms().size(), 1u);
    EXPECT_EQ(DuringCopyForms()[0]->Dialog, copy);
    try {
        GetInstallFormEntry(1);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "1 is an invalid index in the BIFList");
    }
    delete license;
    delete copy;
    EXPECT_EQ(InstallFormCount(), 0);
    EXPECT_TRUE(DuringCopyForms().empty());
    // Shutting the units down and starting them again gives the same state.
    FinalizeInstallDialogUnits();
    EXPECT_EQ(DialogStageDisplay(), nullptr);
    InitializeInstallDialogUnits();
    EXPECT_EQ(InstallFormCount(), 0);
    EXPECT_NE(DialogStageDisplay(), nullptr);
}
