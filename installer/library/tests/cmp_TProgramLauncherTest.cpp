// The program launcher with real child processes: arguments split the Windows way, the show
// state, the wait until the program is ready for input, exit codes, the errors of a failed start,
// batch files run by the machine tool, and command lines resolved the Windows way.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TProgramLauncher.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/LastError.h"
#include "platform/Process.h"

using namespace ostra;
using ostra::test::FixturePath;
using ostra::test::PutWinFile;
using ostra::test::ReadAll;
using ostra::test::TestMachine;

namespace {

// The machine of a test, with the fixture program's log in it.
class Launcher : public ::testing::Test {
protected:
    std::string Program() const { return NativeToWin(FixturePath("ostra_installer_fixture_program")); }
    std::string Log() const { return FMachine.Log(); }

    ostra::test::FixtureMachine FMachine;
};

}  // namespace

TEST_F(Launcher, PassesArgumentsSplitTheWindowsWayAndTheShowState) {
    TProgramLauncher launcher(nullptr);
    EXPECT_EQ(launcher.Action(), "Open");
    EXPECT_EQ(launcher.Timeout(), -1);
    EXPECT_TRUE(launcher.Wait());
    launcher.SetFileName(Program());
    launcher.SetParameters("/UNREGSERVER \"a b\" c\\\"d --exit 0");
    launcher.SetShowMode(smHide);
    int exitCode = -1;
    ASSERT_TRUE(launcher.ExecuteAndWait(10000, exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(Log(), "start\narg /UNREGSERVER\narg a b\narg c\"d\narg --exit\narg 0\nshow hide\ncwd " +
                         std::filesystem::current_path().string() + "\nend 0\n");
}

TEST_F(Launcher, ExecuteWaitsUntilTheProgramIsReadyForInput) {
    TProgramLauncher launcher(nullptr);
    launcher.SetFileName(Program());
    launcher.SetParameters("--idle-after 200 --sleep 1500");
    auto started = std::chrono::steady_clock::now();
    launcher.Execute();
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
    // Ready for input, but still running.
    std::string log = Log();
    EXPECT_NE(log.find("idle\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("end"), std::string::npos) << log;

    EXPECT_TRUE(FMachine.WaitForLog("end 0\n"));

    // A program that never reports returns the launcher when it ends.
    launcher.SetParameters("--exit 3");
    launcher.Execute();
    EXPECT_NE(Log().find("end 3\n"), std::string::npos);
}

TEST_F(Launcher, ARunningProgramsFileIsInUse) {
    ASSERT_TRUE(WinForceDirectories("C:\\Program Files\\Ostra"));
    const std::string copy = "C:\\Program Files\\Ostra\\uninstall.exe";
    ASSERT_TRUE(WinCopyFile(Program(), copy, false));
    TProgramLauncher launcher(nullptr);
    launcher.SetFileName(copy);
    launcher.SetParameters("--hold --idle --sleep 1000");
    launcher.Execute();
    EXPECT_NE(Log().find("held\nidle\n"), std::string::npos) << Log();
    EXPECT_FALSE(WinDeleteFile(copy));
    EXPECT_EQ(platform::GetLastError(), platform::ErrorSharingViolation);
    ASSERT_TRUE(FMachine.WaitForLog("end 0\n"));
    // The process goes a moment after its last line, and its file with it.
    bool deleted = false;
    for (int tries = 0; tries < 500 && !(deleted = WinDeleteFile(copy)); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(deleted);
}

TEST_F(Launcher, ReportsExitCodesAndProgramsThatDoNotEnd) {
    TProgramLauncher launcher(nullptr);
    launcher.SetFileName(Program());
    launcher.SetParameters("--exit 7");
    int exitCode = 0;
    ASSERT_TRUE(launcher.ExecuteAndWait(10000, exitCode));
    EXPECT_EQ(exitCode, 7);
    launcher.SetParameters("--sleep 1500");
    EXPECT_FALSE(launcher.ExecuteAndWait(100, exitCode));
    EXPECT_TRUE(FMachine.WaitForLog("end 0\n"));
}

TEST_F(Launcher, AFailedStartRaisesTheRealError) {
    ASSERT_TRUE(PutWinFile("C:\\Bin\\text.exe", "not a program"));
    ASSERT_TRUE(PutWinFile("C:\\Bin\\script.exe", "neither"));
    std::filesystem::permissions(WinToNative("C:\\Bin\\script.exe"), std::filesystem::perms::owner_all);
    struct Case {
        const char* FileName;
        int Code;
        const char* Text;
    };
    const Case cases[] = {
        {"C:\\Bin\\missing.exe", 2, "File not found"},
        {"C:\\Nowhere\\missing.exe", 3, "Path not found"},
        {"C:\\Bin\\script.exe", 11, "Invalid file"},
        {"\\\\server\\share\\x.exe", 3, "Path not found"},
    };
    for (const Case& c : cases) {
        TProgramLauncher launcher(nullptr);
        launcher.SetFileName(c.FileName);
        try {
            launcher.Execute();
            ADD_FAILURE() << c.FileName;
        } catch (const EProgramLauncherFailed& e) {
            EXPECT_EQ(e.ErrorCode, c.Code) << c.FileName;
            EXPECT_EQ(e.Message(), c.Text) << c.FileName;
        }
    }
    // Without execute permission (as root every file may be run, so only check it is refused
    // with some error).
    TProgramLauncher launcher(nullptr);
    launcher.SetFileName("C:\\Bin\\text.exe");
    EXPECT_THROW(launcher.Execute(), EProgramLauncherFailed);
    EXPECT_EQ(LaunchErrorText(0), "Out of memory");
    EXPECT_EQ(LaunchErrorText(31), "File type has no association");
    EXPECT_EQ(LaunchErrorText(99), "Unknown error");
}

TEST_F(Launcher, BatchFilesRunInTheMachineTool) {
    ASSERT_TRUE(PutWinFile("C:\\App\\lib.dll", "old"));
    ASSERT_TRUE(PutWinFile("C:\\App\\lib.1", "new"));
    ASSERT_TRUE(PutWinFile("C:\\Setup Folder\\setup.exe", "s"));
    ASSERT_TRUE(PutWinFile("C:\\Setup Folder\\Sub\\f.txt", "f"));
    std::string batch =
        "@echo off\r\nrem replace the locked file\r\n"
        "erase " + GetShortPath("C:\\App\\lib.dll") + "\r\n"
        "move " + GetShortPath("C:\\App\\lib.1") + " " + GetShortPath("C:\\App") + "\\lib.dll\r\n"
        "DELTREE /Y C:\\Setup Folder\r\n"
        "FORMAT C:\r\n"
        "ERASE C:\\Temp\\job.bat\r\n";
    ASSERT_TRUE(PutWinFile("C:\\Temp\\job.bat", batch));
    TProgramLauncher launcher(nullptr);
    launcher.SetFileName("C:\\Temp\\job.bat");
    launcher.SetShowMode(smHide);
    int exitCode = 0;
    ASSERT_TRUE(launcher.ExecuteAndWait(20000, exitCode));
    EXPECT_EQ(exitCode, 1);  // FORMAT is not understood
    EXPECT_EQ(ReadAll(WinToNative("C:\\App\\lib.dll")), "new");
    EXPECT_FALSE(WinFileExists("C:\\App\\lib.1"));
    EXPECT_FALSE(WinDirectoryExists("C:\\Setup Folder"));
    EXPECT_FALSE(WinFileExists("C:\\Temp\\job.bat"));
}

TEST_F(Launcher, CommandLinesAreResolvedTheWindowsWay) {
    const std::string uninstaller = "C:\\Program Files\\Ostra\\Uninstall\\uninstall.exe";
    ASSERT_TRUE(WinForceDirectories("C:\\Program Files\\Ostra\\Uninstall"));
    ASSERT_TRUE(WinCopyFile(Program(), uninstaller, false));
    std::string program, parameters;
    SplitProgramFromCommandLine(uninstaller + " Ostra Database Engine", program, parameters);
    EXPECT_EQ(program, uninstaller);
    EXPECT_EQ(parameters, "Ostra Database Engine");
    SplitProgramFromCommandLine("  \"C:\\A B\\x.exe\"   -r \"-sC:\\dir\"", program, parameters);
    EXPECT_EQ(program, "C:\\A B\\x.exe");
    EXPECT_EQ(parameters, "-r \"-sC:\\dir\"");
    SplitProgramFromCommandLine("C:\\Nothing Here\\x.exe arg", program, parameters);
    EXPECT_EQ(program, "C:\\Nothing");
    EXPECT_EQ(parameters, "Here\\x.exe arg");
    // The shortest existing prefix wins, as on Windows; ".exe" is tried for a name without one.
    ASSERT_TRUE(PutWinFile("C:\\Program.exe", ""));
    SplitProgramFromCommandLine(uninstaller + " x", program, parameters);
    EXPECT_EQ(program, "C:\\Program.exe");
    ASSERT_TRUE(WinDeleteFile("C:\\Program.exe"));

    // The machine tool starts the uninstaller as the "UninstallString" says; the product name
    // reaches it as three words.
    TProgramLauncher tool(nullptr);
    tool.SetFileName(NativeToWin(MachineToolPath()));
    tool.SetParameters("run " + platform::QuoteCommandLineArgument(uninstaller + " Ostra Database Engine --exit 0"));
    int exitCode = -1;
    ASSERT_TRUE(tool.ExecuteAndWait(20000, exitCode));
    EXPECT_EQ(exitCode, 0);
    std::string log = Log();
    EXPECT_NE(log.find("arg Ostra\narg Database\narg Engine\n"), std::string::npos) << log;
}
