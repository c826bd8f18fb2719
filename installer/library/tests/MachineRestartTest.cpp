// Files replaced and deleted at the next restart: delayed moves on the NT family,
// "WININIT.INI" on the 9x family, the recorded restart request, and the restart that performs
// them all.
#include <gtest/gtest.h>

#include "installer/library/MachineRestart.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TProgramLauncher.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Reboot.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Machine.h"

using namespace ostra;
using ostra::test::FileHolder;
using ostra::test::FixturePath;
using ostra::test::ReadAll;
using ostra::test::TestMachine;
using ostra::test::WriteAll;

namespace {

void Put(const std::string& path, const std::string& text) { ASSERT_TRUE(ostra::test::PutWinFile(path, text)); }

}  // namespace

TEST(MachineRestart, ALockedFileIsReplacedAtTheNextRestart) {
    TestMachine machine;
    Put("C:\\App\\lib.dll", "old");
    Put("C:\\App\\gone.txt", "bye");
    FileHolder holder("C:\\App\\lib.dll");
    ASSERT_FALSE(WinDeleteFile("C:\\App\\lib.dll"));
    Put("C:\\App\\lib.1", "new");
    ASSERT_TRUE(WinMoveFileEx("C:\\App\\lib.1", "c:\\app\\LIB.DLL", WinMoveReplaceExisting | WinMoveDelayUntilReboot));
    ASSERT_TRUE(DeleteFileOnReboot("C:\\App\\gone.txt"));
    ASSERT_TRUE(RequestWindowsRestart());
    EXPECT_EQ(platform::RestartRequestCount(), 1);
    // Nothing happens before the restart.
    EXPECT_EQ(ReadAll(WinToNative("C:\\App\\lib.dll")), "old");
    ASSERT_EQ(PendingOperations().size(), 2u);
    EXPECT_EQ(PendingOperations()[0].Target, "C:\\app\\LIB.DLL");
    EXPECT_TRUE(PendingOperations()[0].Replace);
    EXPECT_EQ(PendingOperations()[1].Target, "");

    EXPECT_EQ(holder.Release(), 0);
    TRestartReport report = PerformMachineRestart();
    EXPECT_FALSE(report.Failed);
    EXPECT_EQ(report.Lines, (std::vector<std::string>{"moved C:\\App\\lib.1 to C:\\app\\LIB.DLL", "deleted C:\\App\\gone.txt"}));
    EXPECT_EQ(ReadAll(WinToNative("C:\\App\\lib.dll")), "new");
    EXPECT_FALSE(WinFileExists("C:\\App\\lib.1"));
    EXPECT_FALSE(WinFileExists("C:\\App\\gone.txt"));
    EXPECT_TRUE(PendingOperations().empty());
    EXPECT_EQ(platform::RestartRequestCount(), 0);
}

TEST(MachineRestart, AStepThatFailsIsReportedAndTheOthersStillRun) {
    TestMachine machine;
    Put("C:\\App\\busy.dll", "busy");
    Put("C:\\App\\free.dll", "free");
    ASSERT_TRUE(DeleteFileOnReboot("C:\\App\\busy.dll"));
    ASSERT_TRUE(DeleteFileOnReboot("C:\\App\\free.dll"));
    FileHolder holder("C:\\App\\busy.dll");
    TRestartReport report = PerformMachineRestart();
    EXPECT_TRUE(report.Failed);
    ASSERT_EQ(report.Lines.size(), 2u);
    EXPECT_EQ(report.Lines[0].rfind("could not delete C:\\App\\busy.dll: ", 0), 0u);
    EXPECT_TRUE(WinFileExists("C:\\App\\busy.dll"));
    EXPECT_FALSE(WinFileExists("C:\\App\\free.dll"));
    EXPECT_EQ(holder.Release(), 0);
}

TEST(MachineRestart, TheOldFamilyUsesWininit) {
    TestMachine machine;
    machine.SetWindowsVersion("98");
    Put("C:\\Program Files\\App\\lib.dll", "old");
    Put("C:\\Program Files\\App\\lib.2", "new");
    Put("C:\\Program Files\\App\\uninstall.exe", "me");
    // Delayed moves do not exist on this family.
    EXPECT_FALSE(WinMoveFileEx("C:\\Program Files\\App\\lib.2", "C:\\Program Files\\App\\lib.dll",
                               WinMoveReplaceExisting | WinMoveDelayUntilReboot));
    EXPECT_EQ(platform::GetLastError(), ErrorCallNotImplemented);

    const std::string target = GetShortPath("C:\\Program Files\\App\\lib.dll");
    const std::string source = GetShortPath("C:\\Program Files\\App\\lib.2");
    const std::string self = GetShortPath("C:\\Program Files\\App\\uninstall.exe");
    ASSERT_TRUE(SetWininitRename(target, "C:\\old"));
    ASSERT_TRUE(SetWininitRename(target, source));  // the same name again replaces the value
    ASSERT_TRUE(DeleteFileOnReboot("C:\\Program Files\\App\\uninstall.exe"));
    const std::string wininit = WinToNative("C:\\WINDOWS\\WININIT.INI");
    EXPECT_EQ(ReadAll(wininit), "[Rename]\r\nNul=" + self + "\r\n" + target + "=" + source + "\r\n");

    TRestartReport report = PerformMachineRestart();
    EXPECT_FALSE(report.Failed);
    EXPECT_EQ(ReadAll(WinToNative("C:\\Program Files\\App\\lib.dll")), "new");
    EXPECT_FALSE(WinFileExists("C:\\Program Files\\App\\uninstall.exe"));
    EXPECT_FALSE(WinFileExists("C:\\WINDOWS\\WININIT.INI"));
    EXPECT_TRUE(WinFileExists("C:\\WINDOWS\\WININIT.BAK"));
}

TEST(MachineRestart, DeleteOnRebootKeepsTheLinesOfWininit) {
    TestMachine machine;
    machine.SetWindowsVersion("ME");
    Put("C:\\WINDOWS\\WININIT.INI", "[Other]\r\nx=y\r\n[rename]\r\nC:\\A=C:\\B\r\n");
    Put("C:\\App\\u.exe", "u");
    ASSERT_TRUE(DeleteFileOnReboot("C:\\App\\u.exe"));
    EXPECT_EQ(ReadAll(WinToNative("C:\\WINDOWS\\WININIT.INI")),
              "[Other]\r\nx=y\r\n[rename]\r\nNul=C:\\App\\u.exe\r\nC:\\A=C:\\B\r\n");
    Put("C:\\WINDOWS\\WININIT.INI", "[Other]\r\n");
    ASSERT_TRUE(DeleteFileOnReboot("C:\\App\\u.exe"));
    EXPECT_EQ(ReadAll(WinToNative("C:\\WINDOWS\\WININIT.INI")), "[Other]\r\n[RENAME]\r\nNul=C:\\App\\u.exe\r\n");
}

TEST(MachineRestart, ARestartRequestFailsOnOtherVersions) {
    TestMachine machine;
    machine.SetWindowsVersion("Vista");
    EXPECT_FALSE(RequestWindowsRestart());
    machine.SetWindowsVersion("95");
    EXPECT_TRUE(RequestWindowsRestart());
    EXPECT_EQ(platform::RestartRequestCount(), 1);
}

TEST(MachineRestart, RunOnceEntriesRunOnceInOrderAfterTheFiles) {
    ostra::test::FixtureMachine machine;
    const std::string program = "\"" + NativeToWin(FixturePath("ostra_installer_fixture_program")) + "\"";
    const std::string runOnce = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    WriteRegistryString(2, runOnce, "FernmoorUnfinished", program + " -r \"-sC:\\My Build\" -c");
    WriteRegistryString(4, runOnce, "Second", program + " machine");
    // The fallback batch of a locked file: it runs after the pending operations.
    Put("C:\\App\\lib.dll", "old");
    Put("C:\\App\\lib.1", "new");
    Put("C:\\App\\gone.txt", "x");
    ASSERT_TRUE(DeleteFileOnReboot("C:\\App\\gone.txt"));
    Put("C:\\Temp\\fix.bat", "erase C:\\App\\lib.dll\r\nmove C:\\App\\lib.1 C:\\App\\lib.dll\r\n");
    ASSERT_TRUE(WriteRunOnceEntry("FernmoorBatFile", "C:\\Temp\\fix.bat", true));

    // The restart runs in another process: the machine tool.
    TProgramLauncher tool(nullptr);
    tool.SetFileName(NativeToWin(MachineToolPath()));
    tool.SetParameters("restart 20");
    int exitCode = -1;
    ASSERT_TRUE(tool.ExecuteAndWait(60000, exitCode));
    EXPECT_EQ(exitCode, 0);
    std::string text = machine.Log();
    size_t machineRun = text.find("arg machine\n"), userRun = text.find("arg -r\narg -sC:\\My Build\narg -c\n");
    ASSERT_NE(machineRun, std::string::npos) << text;
    ASSERT_NE(userRun, std::string::npos) << text;
    EXPECT_LT(machineRun, userRun);
    EXPECT_EQ(ReadAll(WinToNative("C:\\App\\lib.dll")), "new");
    EXPECT_FALSE(WinFileExists("C:\\App\\gone.txt"));
    EXPECT_EQ(TestMachine::RegistryText(2, runOnce.substr(1)), "key HKEY_CURRENT_USER\\" + runOnce.substr(1) + "\n");
    EXPECT_EQ(TestMachine::RegistryText(4, runOnce.substr(1)), "key HKEY_LOCAL_MACHINE\\" + runOnce.substr(1) + "\n");

    // A second restart finds nothing left to do.
    EXPECT_TRUE(PerformMachineRestart(1000).Lines.empty());
}
