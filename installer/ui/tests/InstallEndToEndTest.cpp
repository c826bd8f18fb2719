// A setup program's whole life on the offscreen platform: "-b" builds the self-extracting setup
// from the project's files, the loader's unpacking puts the setup program into a temporary
// folder, the wizard (answered through the modal-run hook) installs into the machine while an old
// copy of one file is in use, the machine's restart moves the new copy into place and starts the
// setup program again with "-r", and the completion run registers the file, shows the good-install
// pages, removes the run record and the loader's folder. The registry and the uninstall record
// are compared with their expected text at the end.
#include <QAbstractButton>
#include <QDialog>
#include <QRadioButton>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "host/ui/ModalRun.h"
#include "host/ui/tests/support/OffscreenApp.h"
#include "installer/library/MachineRestart.h"
#include "installer/library/SelfExtract.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TInstallFile.h"
#include "installer/library/cmp_TUninstallEXE.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/tests/support/InstallRun.h"
#include "installer/ui/InstallDialogUnits.h"
#include "installer/ui/dlgcmp_StandardDlgs.h"
#include "installer/ui/ordlg_WizardPages.h"
#include "platform/File.h"
#include "platform/Machine.h"
#include "platform/Process.h"

using namespace ostra;
using namespace ostra::test;

namespace {

constexpr int HKLM = 4, HKCU = 2;
const char* const RunOnceKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// The product's project: three files, a licence before the installation, the restart page and a
// readme after a good installation.
void BuildProject(TCustomForm& form, TInstall& install) {
    install.Information()->CompanyName = "Veltra Software";
    install.Information()->ProductName = "Ostra";
    install.Information()->Version = "1.4";
    install.SetDestDir("\\Ostra");
    for (TManagerType type : {dmBeforeInstall, dmReboot, dmAfterGoodInstall, dmAfterBadInstall}) {
        auto* manager = CreateComponent<TDialogManager>(&form);
        manager->ManagerType = type;
        manager->SetContainer(&install);
    }
    auto* license = CreateComponent<TLicenseDlg>(&form);
    license->LicenseAgreement().Add("Terms of use");
    auto* readme = CreateComponent<TReadmeDlg>(&form);
    readme->ReadmeText().Add("Thank you");
    for (TInstallContainer* dialog : std::initializer_list<TInstallContainer*>{
             license, CreateComponent<TRebootDlg>(&form), readme, CreateComponent<TBadInstallationDlg>(&form)})
        static_cast<TInstallObject*>(dialog)->SetContainer(&install);
    auto addFile = [&](TCustomInstallFile* file, const char* name, const char* fileName) {
        file->SetName(name);
        file->SetIncludeFromDir("C:\\Src");
        file->SetFileName(fileName);
        file->SetContainer(&install);
        return file;
    };
    addFile(CreateComponent<TInstallFile>(&form), "Readme", "readme.txt");
    TCustomInstallFile* tool = addFile(CreateComponent<TInstallFile>(&form), "Tool", "tool.dll");
    tool->SetUpdateDLLCounter(true);
    tool->SetInstallAttributes(TFrnmFileAttributesSet{ffaReadOnly});
    addFile(CreateComponent<TUninstallEXE>(&form), "Uninstaller", "uninstall.exe");
}

// Answers the pages of one modal run: clicks `button` after `prepare`.
template <class Page>
std::function<void(QDialog&)> Answer(const char* button, std::function<void(Page&)> prepare = {}) {
    return [button, prepare](QDialog& dialog) {
        dialog.show();
        auto* page = dialog.findChild<Page*>();
        if (!page) page = dynamic_cast<Page*>(&dialog);
        ASSERT_NE(page, nullptr) << dialog.metaObject()->className();
        if (prepare) prepare(*page);
        auto* target = page->template findChild<QAbstractButton*>(button);
        ASSERT_NE(target, nullptr) << button << " on " << page->metaObject()->className();
        target->click();
    };
}

bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 400; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

TEST(InstallEndToEnd, BuildInstallRestartAndCompletion) {
    OffscreenApp();
    InitializeInstallDialogUnits();
    FixtureMachine fixtures;  // the setup program is the fixture program: it logs how it was started
    InstallRunFixture run;
    InstallLibraryFolder(OSTRA_LOADER_PATH);
    PutWinFile("C:\\Src\\readme.txt", "Read me first.");
    PutWinFile("C:\\Src\\tool.dll", "tool version 2");
    PutWinFile("C:\\Src\\uninstall.exe", "the uninstaller");
    run.SetProgram("C:\\Dev\\OstraSetup.exe", ReadAll(FixturePath("ostra_installer_fixture_program")));
    PutWinFile("C:\\Dev\\BUILD.INF", "C:\\Out\r\n");

    std::vector<std::function<void(QDialog&)>> answers;
    size_t shown = 0;
    TModalRunHookScope hook([&](QDialog& dialog) {
        EXPECT_LT(shown, answers.size()) << "an unexpected dialog: " << dialog.metaObject()->className();
        if (shown >= answers.size()) return 0;
        dialog.setResult(0);
        answers[shown++](dialog);
        return dialog.result();
    });

    // 1. The build.
    run.SetParameters({"-b"});
    run.Load(BuildProject);
    ASSERT_TRUE(run.services.Messages().empty()) << run.services.Messages()[0].Msg;
    ASSERT_NO_THROW(ReadSelfExtractTrailer("C:\\Out\\setup.exe"));
    run.Unload();

    // 2. What the loader does: the setup program goes into a folder of its own and starts there.
    std::string loaderFolder;
    const std::string program = UnpackSelfExtractingSetup("C:\\Out\\setup.exe", loaderFolder);
    std::vector<std::string> parameters =
        platform::SplitCommandLineArguments(LoaderSetupParameters("C:\\Out\\setup.exe", {}));
    EXPECT_EQ(parameters, (std::vector<std::string>{"-sC:\\Out", "-esetup.exe", "-c"}));
    SetApplicationExeName(WinToNative(program));
    run.SetParameters(parameters);

    // 3. The installation, while the old tool.dll is in use.
    PutWinFile("C:\\Program Files\\Ostra\\tool.dll", "tool version 1");
    FileHolder holder("C:\\Program Files\\Ostra\\tool.dll");
    answers.push_back(Answer<TLicenseForm>("ProceedBtn"));  // Accept
    answers.push_back(Answer<TRebootForm>("FinishBtn", [](TRebootForm& page) { EXPECT_TRUE(page.RebootYes->isChecked()); }));
    platform::ClearRestartRequests();
    run.Load(BuildProject);
    run.form->Activate();
    EXPECT_EQ(shown, 2u);
    EXPECT_TRUE(run.services.Exceptions().empty()) << run.services.Exceptions()[0].Message;
    EXPECT_EQ(TestMachine::RegistryText(HKLM, "\\SOFTWARE\\Tegu\\Install\\Install0\\Unfinished"),
              "key HKEY_LOCAL_MACHINE\\Software\\Tegu\\Install\\Install0\\Unfinished\n"
              "  sz \"Tool\" \"0\"\n");
    EXPECT_EQ(ReadAll(WinToNative("C:\\Program Files\\Ostra\\readme.txt")), "Read me first.");
    EXPECT_EQ(ReadAll(WinToNative("C:\\Program Files\\Ostra\\tool.dll")), "tool version 1");
    EXPECT_EQ(platform::RestartRequestCount(), 1);
    EXPECT_GE(run.terminateRequests, 1);
    const std::string restart = ReadRegistryString(HKCU, RunOnceKey, "FernmoorUnfinished", "");
    EXPECT_EQ(restart, "\"" + program + "\" -r \"-esetup.exe\" \"-sC:\\Out\" -c");
    run.Unload();
    ASSERT_EQ(holder.Release(), 0);

    // 4. The restart: the new tool.dll takes the old one's place, and the setup program starts
    //    again with "-r".
    const TRestartReport report = PerformMachineRestart(20000);
    EXPECT_FALSE(report.Failed) << [&] {
        std::string lines;
        for (const std::string& line : report.Lines) lines += line + "\n";
        return lines;
    }();
    EXPECT_EQ(ReadAll(WinToNative("C:\\Program Files\\Ostra\\tool.dll")), "tool version 2");
    EXPECT_TRUE(fixtures.WaitForLog("arg -r\narg -esetup.exe\narg -sC:\\Out\narg -c\n")) << fixtures.Log();

    // 5. The completion run, here in this process with the parameters of the restart command.
    std::vector<std::string> again = platform::SplitCommandLineArguments(restart);
    again.erase(again.begin());
    run.SetParameters(again);
    answers.push_back(Answer<TReadmeForm>("ProceedBtn"));
    run.Load(BuildProject);
    EXPECT_EQ(shown, 3u);
    EXPECT_TRUE(run.services.Exceptions().empty()) << run.services.Exceptions()[0].Message;
    EXPECT_TRUE(platform::FileIsReadOnly(WinToNative("C:\\Program Files\\Ostra\\tool.dll")));  // finished now
    EXPECT_GE(run.terminateRequests, 2);
    const std::string batch = run.install->CleanupBatchPath();
    run.Unload();
    EXPECT_TRUE(WaitUntil([&] { return !WinFileExists(batch) && !WinDirectoryExists(loaderFolder); }));

    // The registry: the run record and the restart entry are gone, the uninstall record and the
    // shared count stay.
    EXPECT_EQ(TestMachine::RegistryText(HKLM, "\\SOFTWARE\\Tegu"), "");
    EXPECT_EQ(TestMachine::RegistryText(HKCU, RunOnceKey), "key HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce\n");
    EXPECT_EQ(TestMachine::RegistryText(HKLM, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall") +
                  TestMachine::RegistryText(HKLM, "\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"),
              "key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\n"
              "key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostra\n"
              "  sz \"DisplayName\" \"Ostra\"\n"
              "  sz \"UninstallString\" \"C:\\\\Program Files\\\\Ostra\\\\uninstall.exe Ostra\"\n"
              "  sz \"DisplayVersion\" \"1.4\"\n"
              "  sz \"Publisher\" \"Veltra Software\"\n"
              "key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostra\\Files\n"
              "  sz \"File1\" \"C:\\\\Program Files\\\\Ostra\\\\tool.dll\"\n"
              "  sz \"Entries\" \"2\"\n"
              "  sz \"File2\" \"C:\\\\Program Files\\\\Ostra\\\\readme.txt\"\n"
              "key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\n"
              "  dword \"C:\\\\Program Files\\\\Ostra\\\\tool.dll\" 1\n");
}

}  // namespace
