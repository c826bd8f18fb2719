// The install component and its run: creation rules, the run from the form's first activation,
// the wizard's cancel and errors handled inside a page, the restart request, the install phases,
// the files run after the install and the clean-up of the loader's folder.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "installer/library/SelfExtract.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_Strings.h"
#include "installer/library/WinMachine.h"
#include "installer/library/cmp_TInstallFile.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/tests/support/InstallRun.h"
#include "platform/Machine.h"

using namespace ostra;
using namespace ostra::test;

namespace {

constexpr int HKLM = 4, HKCU = 2;

// A dialog that does something when it hears one code.
class TActingDialog : public TTestDialog {
public:
    using TTestDialog::TTestDialog;
    void DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) override {
        TTestDialog::DoDialogEvent(Sender, Code, Parameter);
        if (Code == OnCode && Action) Action();
    }
    int OnCode = 0;
    std::function<void()> Action;
};

TActingDialog* AddActingDialog(InstallRunFixture& run, int code, std::function<void()> action) {
    auto* dialog = CreateComponent<TActingDialog>(run.form.get());
    dialog->SetName("Dlg");
    dialog->SetContainer(run.install);
    dialog->OnCode = code;
    dialog->Action = std::move(action);
    return dialog;
}

TEST(Install, CreationRefusesASecondInstallAndOwnersThatAreNoForm) {
    InstallRunFixture run;
    run.SetParameters({"-sC:\\Setup"});
    run.Load();
    try {
        CreateComponent<TInstall>(run.form.get());
        ADD_FAILURE();
    } catch (const IEInstall& e) {
        EXPECT_STREQ(e.what(), "The TInstall component does not currently support the use of 2 TInstall components in the same project");
    }
    run.Unload();
    TComponent plain(nullptr);
    EXPECT_THROW(CreateComponent<TInstall>(&plain), IEInstall);
    TDataModule module(nullptr);
    auto* install = CreateComponent<TInstall>(&module);
    EXPECT_EQ(CurrentInstall(), install);
    EXPECT_EQ(install->DestDir(), "\\MyApplication");
    delete install;
    EXPECT_EQ(CurrentInstall(), nullptr);
}

TEST(Install, AGoodRunFromTheFirstActivation) {
    InstallRunFixture run;
    run.SetParameters({"-sC:\\Setup"});
    int activations = 0;
    run.Load([&](TCustomForm& form, TInstall&) { form.OnActivate = [&](TObject*) { ++activations; }; });
    run.AddDialog("Dlg");
    std::vector<std::string> events;
    run.install->OnAfterInitialized = [&](TObject*) { events.push_back("initialized"); };
    run.install->OnAfterInstallObjects = [&](TInstallContainer*, bool aborted) {
        events.push_back(aborted ? "after objects (aborted)" : "after objects");
    };
    EXPECT_EQ(run.Codes("Dlg"), std::vector<int>{});  // nothing before the activation
    run.form->Activate();
    EXPECT_EQ(activations, 1);  // the form's own handler still runs
    EXPECT_EQ(run.form->WindowState, wsMaximized);
    EXPECT_EQ(run.Codes("Dlg"),
              (std::vector<int>{dcBeforeReadArchiveInfo, dcShowStatusText, dcHideStatusText, dcAfterReadArchiveInfo,
                                dcAfterInitialized, dcBeforeInstallWizard, dcBeforeProcess, dcProcessIncluded,
                                dcContainerStarts, dcStepEnded, dcAfterProcess, dcGoodInstall, dcGoodInstallWizard}));
    EXPECT_EQ(events, (std::vector<std::string>{"initialized", "after objects"}));
    EXPECT_TRUE(run.install->Processed());
    EXPECT_FALSE(run.install->Running());
    EXPECT_EQ(TestMachine::RegistryText(HKLM, "\\SOFTWARE\\Tegu"), "");  // the run record went
    EXPECT_EQ(run.terminateRequests, 1);
    // The hook ran once: a second activation is the form's own.
    run.form->Activate();
    EXPECT_EQ(activations, 2);
    EXPECT_EQ(run.Codes("Dlg").size(), 13u);
}

TEST(Install, WithoutSourceFolderTheRunFailsAtOnce) {
    InstallRunFixture run;
    run.Load();
    run.AddDialog("Dlg");
    run.form->Activate();
    EXPECT_EQ(run.Codes("Dlg"), (std::vector<int>{dcBadInstall, dcBadInstallWizard}));
    ASSERT_EQ(run.services.Exceptions().size(), 1u);
    EXPECT_EQ(run.services.Exceptions()[0].Message.rfind("The path of the loading program was not passed correctly.", 0), 0u);
    EXPECT_EQ(run.terminateRequests, 1);
    EXPECT_TRUE(run.install->Stopped());

    // "-d" without a folder is refused while loading.
    run.SetParameters({"-d"});
    EXPECT_THROW(run.Load(), IEInstall);
}

TEST(Install, ACancelledWizardRemovesTheRecordAndInstallsNothing) {
    InstallRunFixture run;
    run.SetParameters({"-sC:\\Setup"});
    run.Load();
    AddActingDialog(run, dcBeforeInstallWizard, [] { throw EAIUserAbort(); });
    run.form->Activate();
    EXPECT_EQ(run.Codes("Dlg"), (std::vector<int>{dcBeforeReadArchiveInfo, dcShowStatusText, dcHideStatusText,
                                                  dcAfterReadArchiveInfo, dcAfterInitialized, dcBeforeInstallWizard,
                                                  dcBadInstall, dcBadInstallWizard}));
    EXPECT_FALSE(run.install->Processed());
    EXPECT_TRUE(run.services.Exceptions().empty());  // a user abort shows no message
    EXPECT_EQ(TestMachine::RegistryText(HKLM, "\\SOFTWARE\\Tegu"), "");
    EXPECT_EQ(run.terminateRequests, 1);
}

TEST(Install, AnErrorHandledInsideAPageEndsTheRun) {
    InstallRunFixture run;
    run.SetParameters({"-sC:\\Setup"});
    run.Load();
    // A page's own message loop caught an error and handed it to the application's report.
    AddActingDialog(run, dcBeforeInstallWizard, [&] {
        try {
            throw IEInstall("The disk is not ready");
        } catch (...) {
            ApplicationHandleException(run.install);
        }
    });
    bool ranFiles = false, cleaned = false;
    run.install->OnBeforeRunFile = [&](TCustomInstall*, TCustomInstallFile*, bool&) { ranFiles = true; };
    run.install->OnBeforeCleanup = [&](TCustomInstall*, bool&) { cleaned = true; };
    run.form->Activate();
    const std::vector<int> codes = run.Codes("Dlg");
    EXPECT_EQ(std::vector<int>(codes.end() - 3, codes.end()),
              (std::vector<int>{dcBeforeInstallWizard, dcBadInstall, dcBadInstallWizard}));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), dcGoodInstall), 0);
    EXPECT_FALSE(run.install->Processed());
    EXPECT_FALSE(ranFiles || cleaned);
    ASSERT_EQ(run.services.Exceptions().size(), 1u);
    EXPECT_EQ(run.services.Exceptions()[0].Message, "The disk is not ready");
    // Any other error keeps the record for the next start.
    EXPECT_NE(TestMachine::RegistryText(HKLM, "\\SOFTWARE\\Tegu\\Install\\Install0"), "");
}

TEST(Install, ARestartRequestEndsTheProgramWithoutTheGoodInstallPages) {
    InstallRunFixture run;
    TTranslator translator(nullptr);
    translator.SetTranslateIntoLanguage(flFrench);
    run.SetParameters({"-sC:\\Setup"});
    run.Load();
    run.AddDialog("Dlg");
    run.install->OnAfterInstallObjects = [&](TInstallContainer*, bool) { run.install->AddUnfinished("Tool", 0); };
    run.install->SetReboot(true);
    run.install->OnBeforeReboot = [](TCustomInstall*, bool& proceed) { proceed = false; };
    platform::ClearRestartRequests();
    run.form->Activate();
    const std::vector<int> codes = run.Codes("Dlg");
    EXPECT_EQ(codes.back(), dcReboot);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), dcGoodInstall), 0);
    EXPECT_EQ(platform::RestartRequestCount(), 0);  // the handler said no
    EXPECT_EQ(run.terminateRequests, 1);
    EXPECT_EQ(ReadRegistryString(HKCU, "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "FernmoorUnfinished", ""),
              "\"C:\\Dev\\setup.exe\" -r \"-sC:\\Setup\"");
    EXPECT_EQ(ReadRegistryString(HKLM, "\\SOFTWARE\\Tegu\\Install\\Install0\\Unfinished", "Tool", ""), "0");
    EXPECT_EQ(ReadRegistryInteger(HKLM, "\\SOFTWARE\\Tegu\\Install\\Install0", "Language", -1), flFrench);

    // Without a handler the machine is asked to restart.
    run.Load();
    run.install->SetReboot(true);
    run.form->Activate();
    EXPECT_EQ(platform::RestartRequestCount(), 1);
}

TEST(Install, PhasesShowTheirStatusTextOnlyWhenTheyHaveComponents) {
    InstallRunFixture run;
    run.SetParameters({"-sC:\\Setup"});
    std::vector<TTestObject*> keys;
    run.Load([&](TCustomForm& form, TInstall& install) {
        for (const char* name : {"Keys1", "Keys2"}) {
            keys.push_back(CreateComponent<TTestObject>(&form, 8500));
            keys.back()->SetName(name);
            keys.back()->SetContainer(&install);
        }
    });
    run.AddDialog("Dlg");
    run.form->Activate();
    std::vector<std::string> shown;
    for (const std::string& line : TreeLog())
        if (line.rfind("Dlg -974", 0) == 0) shown.push_back(line);
    EXPECT_EQ(shown, (std::vector<std::string>{"Dlg -974 from Install1 'Reading file information...'",
                                               "Dlg -974 from Install1 'Installing registry keys...'"}));
    EXPECT_TRUE(keys[0]->Processed() && keys[1]->Processed());
}

TEST(Install, FilesRunAfterTheInstallInListOrderWithTheirOwnParameters) {
    FixtureMachine fixtures;
    InstallRunFixture run;
    run.SetParameters({"-sC:\\Setup"});
    run.Load();
    std::vector<TCustomInstallFile*> files;
    for (const char* name : {"first.exe", "second.exe", "skipped.exe"}) {
        auto* file = CreateComponent<TInstallFile>(run.form.get());
        file->SetFileName(name);
        file->SetContainer(run.install);
        file->SetRunAfterInstall(true);
        WinForceDirectories(file->GetFullDestDir());
        ASSERT_TRUE(WinCopyFile(NativeToWin(FixturePath("ostra_installer_fixture_program")), file->FullDestPath(), false));
        files.push_back(file);
    }
    files[0]->RunParameters = "--idle one";
    files[1]->RunParameters = "--idle";
    run.install->OnBeforeRunFile = [&](TCustomInstall*, TCustomInstallFile* file, bool& defaultAction) {
        defaultAction = file != files[2];
    };
    run.install->RunFilesAfterInstall();
    ASSERT_TRUE(fixtures.WaitForLog("end 0\nstart", 20000));
    ASSERT_TRUE(fixtures.WaitForLog("arg --idle\nshow normal", 20000));
    const std::string log = fixtures.Log();
    const size_t second = log.find("start", 1);
    EXPECT_NE(log.substr(0, second).find("arg one"), std::string::npos);
    EXPECT_EQ(log.substr(second).find("arg one"), std::string::npos);
    EXPECT_EQ(log.find("start", second + 1), std::string::npos);  // the third file did not start
}

// The loader's temporary folder with the setup program in it, as the loader leaves it.
std::string LoaderFolder(InstallRunFixture& run) {
    const std::string folder = RemoveBackslash(WinTempDir()) + "\\FRN00001";
    run.SetProgram(folder + "\\setup.exe", "setup program 01");
    PutWinFile(folder + "\\extra.dll", "extra");
    PutWinFile(folder + "\\" + LoaderListFileName, "setup.exe\r\nextra.dll\r\n..\\outside.txt\r\n");
    PutWinFile(folder + "\\..\\outside.txt", "not the loader's");
    return folder;
}

TEST(Install, CleanUpEmptiesOnlyTheLoadersFolder) {
    InstallRunFixture run;
    const std::string folder = LoaderFolder(run);
    // Without "-c", or when the handler says no, nothing goes.
    for (bool withC : {false, true}) {
        run.SetParameters(withC ? std::vector<std::string>{"-sC:\\Setup", "-c"} : std::vector<std::string>{"-sC:\\Setup"});
        run.Load();
        run.install->OnBeforeCleanup = [](TCustomInstall*, bool& proceed) { proceed = false; };
        run.install->Cleanup();
        EXPECT_TRUE(WinFileExists(folder + "\\extra.dll"));
    }
    run.install->OnBeforeCleanup = nullptr;
    run.install->Cleanup();
    EXPECT_FALSE(WinFileExists(folder + "\\extra.dll"));
    EXPECT_FALSE(WinFileExists(folder + "\\setup.exe"));
    EXPECT_TRUE(WinFileExists(folder + "\\..\\outside.txt"));  // only plain names of the list
    const std::string batch = run.install->CleanupBatchPath();
    ASSERT_FALSE(batch.empty());
    EXPECT_EQ(ReadAll(WinToNative(batch)), "ERASE " + folder + "\\setup.exe\r\nDELTREE /Y " + folder + "\r\nERASE " +
                                               ChangeFileExt(batch, ".PIF") + "\r\nERASE " + batch + "\r\n");
    run.Unload();  // the batch runs hidden once the component goes, and erases itself last
    for (int i = 0; i < 400 && WinFileExists(batch); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(WinFileExists(batch));
    EXPECT_FALSE(WinDirectoryExists(folder));
}

TEST(Install, CleanUpLeavesAnyOtherFolderAlone) {
    InstallRunFixture run;
    // A setup program started from a folder of the user's, even one holding a list like the
    // loader's: "-c" deletes nothing there.
    run.SetProgram("C:\\Users\\Setup\\setup.exe", "setup program 01");
    PutWinFile("C:\\Users\\Setup\\document.txt", "the user's");
    PutWinFile(std::string("C:\\Users\\Setup\\") + LoaderListFileName, "document.txt\r\n");
    run.SetParameters({"-sC:\\Users\\Setup", "-c"});
    run.Load();
    run.install->Cleanup();
    EXPECT_TRUE(WinFileExists("C:\\Users\\Setup\\document.txt"));
    EXPECT_TRUE(WinFileExists("C:\\Users\\Setup\\setup.exe"));
    EXPECT_EQ(run.install->CleanupBatchPath(), "");
}

}  // namespace
