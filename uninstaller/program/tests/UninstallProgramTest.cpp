// The uninstall program end to end: an installation recorded by the install record's writer
// (files with shared counts, ActiveX servers registered with the test fixtures, registry keys, INI
// entries, a database-engine alias and use count, nested folders) is removed by the program started
// as Windows starts it, from the record's unquoted "UninstallString", with its questions answered
// by a script; the program's own file, in use while it ran, goes at the restart that the machine
// tool performs.
#include <gtest/gtest.h>

#include <cstdlib>

#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TProgramLauncher.h"
#include "installer/library/routines_ActiveX.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_UninstallRecord.h"
#include "installer/library/tests/support/TestMachine.h"
#include "testsupport/TestFiles.h"
#include "uninstaller/WinBde.h"
#include "uninstaller/tests/support/UninstallFixture.h"

using namespace ostra;
using namespace ostra::test;

namespace {

std::string Question(const std::string& path) {
    return "Uninstall has determined that the file " + path +
           " is no longer used by an application. Is it o.k. to delete it?";
}

// Sets environment variables for the scope.
struct Environment {
    explicit Environment(std::initializer_list<std::pair<const char*, std::string>> values) {
        for (const auto& [name, value] : values) {
            setenv(name, value.c_str(), 1);
            Names.push_back(name);
        }
    }
    ~Environment() {
        for (const char* name : Names) unsetenv(name);
    }
    std::vector<const char*> Names;
};

// Starts a Windows-form program with its parameters and waits for its end; its exit code.
int RunToEnd(const std::string& program, const std::string& parameters) {
    TProgramLauncher launcher(nullptr);
    launcher.SetFileName(program);
    launcher.SetParameters(parameters);
    int exitCode = -1;
    EXPECT_TRUE(launcher.ExecuteAndWait(120000, exitCode)) << program << " did not end";
    return exitCode;
}

}  // namespace

TEST(UninstallProgram, RemovesAnInstallationEndToEnd) {
    FixtureMachine machine;
    const std::string product = "Ostra Database Engine";
    const std::string record = UninstallRecordKey(product);
    const std::string dir = "C:\\Program Files\\Ostra\\";
    const std::string system = "C:\\WINDOWS\\system32\\";
    const std::string program = dir + "uninstall.exe";
    const std::string config = "C:\\Program Files\\Common Files\\Borland Shared\\BDE\\IDAPI32.CFG";

    // The installation, as the setup program leaves it.
    ASSERT_TRUE(WinForceDirectories(dir));
    ASSERT_TRUE(WinCopyFile(NativeToWin(OSTRA_UNINSTALL_PROGRAM), program, false));
    TUninstallTopValues top;
    top.DisplayName = product;
    top.UninstallString = MakeUninstallString(program, product);
    WriteUninstallTopValues(record, top);
    InstallFile(record, dir + "Data\\readme.txt");  // the parent folder is noted before its sub-folder
    InstallFile(record, dir + "Data\\Demo\\shop.orq");
    InstallFile(record, dir + "ostra.hlp");
    InstallFile(record, system + "orq14rd6.bpl", 3);
    InstallFile(record, system + "ostrashr.dll", 1);
    InstallActiveX(record, system + "OstraGrid.ocx", FixturePath("libostra_installer_fixture_server.so"));
    ASSERT_EQ(CallDllRegistration(system + "OstraGrid.ocx", false).Outcome, TDllRegistration::Called);
    InstallActiveX(record, dir + "OstraServer.exe", FixturePath("ostra_installer_fixture_program"));
    RunServerRegistration(dir + "OstraServer.exe", "/REGSERVER");
    const std::string clsid = "CLSID\\{0F57A000-0000-0000-0000-000000000001}";
    ASSERT_NE(TestMachine::RegistryText(0, clsid), "");
    WriteRegistryString(LocalMachine, "\\Software\\Veltra\\Ostra", "RootDir", dir);
    AddUninstallRegistryKey(record, "\\Software\\Veltra\\Ostra", 4, {{"RootDir", dir}});
    WriteRegistryString(LocalMachine, "\\Software\\Veltra\\Ostra\\Editor", "Help", "ostra.hlp");
    AddUninstallRegistryKey(record, "\\Software\\Veltra\\Ostra\\Editor", 4, {{"Help", "ostra.hlp"}});
    InstallIniEntries(record, "1", "C:\\WINDOWS\\win.ini",
                      "[Paths]\r\n; shared search paths\r\nPATH=C:\\Ostra\r\nLIBPATH=C:\\Lib\r\n[Other]\r\nPATH=x\r\n", "Paths",
                      {"PATH"});
    InstallBde(config, "2", {"OSTRADEMO", "DBDEMOS"});
    WriteRegistryString(LocalMachine, record + "\\Aliases\\OSTRADEMO", "", "");
    WriteRegistryString(LocalMachine, record + "\\BDE", "Entries", "1");

    // Windows runs the record's command: an unquoted path with blanks, then the product's words.
    const std::string command = ReadRegistryString(LocalMachine, record, "UninstallString", "");
    EXPECT_EQ(command, program + " " + product);
    std::string file, parameters;
    SplitProgramFromCommandLine(command, file, parameters);
    EXPECT_EQ(file, program);
    WriteAll(machine.File("script"), "answer Yes\nanswer Yes\nanswer Yes\nclick StartBtn\n");
    {
        Environment environment({{"OSTRA_UI_SCRIPT", machine.File("script")},
                                 {"OSTRA_UI_LOG", machine.File("ui.log")},
                                 {"QT_QPA_PLATFORM", "offscreen"}});
        EXPECT_EQ(RunToEnd(file, parameters), 0);
    }

    EXPECT_EQ(ReadAll(machine.File("ui.log")),
              "click StartBtn\n"
              "message Yes " + Question(system + "OstraGrid.ocx") + "\n"
              "message Yes " + Question(dir + "OstraServer.exe") + "\n"
              "message Yes " + Question(system + "ostrashr.dll") + "\n"
              "message OK The uninstallation program for Ostra Database Engine will be removed after you reboot your computer.\n");
    EXPECT_EQ(MachineKeyText(record), "");
    // Files, their shared counts, and the folders deepest first.
    for (const char* gone : {"Data\\readme.txt", "Data\\Demo\\shop.orq", "ostra.hlp", "OstraServer.exe"})
        EXPECT_FALSE(WinFileExists(dir + gone)) << gone;
    EXPECT_FALSE(WinDirectoryExists(dir + "Data"));
    EXPECT_TRUE(WinFileExists(system + "orq14rd6.bpl"));
    EXPECT_EQ(SharedCount(system + "orq14rd6.bpl"), 2);
    EXPECT_FALSE(WinFileExists(system + "ostrashr.dll"));
    EXPECT_EQ(SharedCount(system + "ostrashr.dll"), -1);
    // ActiveX servers unregistered.
    EXPECT_FALSE(WinFileExists(system + "OstraGrid.ocx"));
    EXPECT_NE(machine.Log().find("DllUnregisterServer\n"), std::string::npos);
    EXPECT_NE(machine.Log().find("arg /UNREGSERVER\n"), std::string::npos);
    EXPECT_EQ(TestMachine::RegistryText(0, clsid), "");
    // Registry keys, INI entries, the engine's alias and use count.
    EXPECT_EQ(MachineKeyText("\\Software\\Veltra\\Ostra"), "");
    EXPECT_EQ(ReadAll(WinToNative("C:\\WINDOWS\\win.ini")),
              "[Paths]\r\n; shared search paths\r\nLIBPATH=C:\\Lib\r\n[Other]\r\nPATH=x\r\n");
    EXPECT_EQ(BdeAliases(config), std::vector<std::string>{"DBDEMOS"});
    EXPECT_EQ(ReadRegistryString(LocalMachine, BdeEngineKey, BdeUseCountValue, ""), "1");

    // The program was in use: it goes at the next restart.
    EXPECT_TRUE(WinFileExists(program));
    EXPECT_EQ(RunToEnd(NativeToWin(MachineToolPath()), "restart"), 0);
    EXPECT_FALSE(WinFileExists(program));
}
