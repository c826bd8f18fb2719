// ActiveX self-registration with fixtures the build made: in-process servers loaded and called,
// type libraries registered, local servers run with "/REGSERVER" and their end checked.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_ActiveX.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/Registry.h"
#include "platform/SharedLibrary.h"

using namespace ostra;
using ostra::test::FixturePath;
using ostra::test::PutWinFile;
using ostra::test::ReadAll;
using ostra::test::TestMachine;

namespace {

class ActiveX : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WinForceDirectories("C:\\Program Files\\Ostra")); }
    void TearDown() override {
        for (const char* name : {"FIXTURE_DLL_RESULT", "FIXTURE_REGSERVER_EXIT", "FIXTURE_REGSERVER_SLEEP"}) unsetenv(name);
    }
    // Copies a fixture the build made into the machine.
    std::string Install(const std::string& fixture, const std::string& path) {
        EXPECT_TRUE(WinCopyFile(NativeToWin(FixturePath(fixture)), path, false));
        return path;
    }

    ostra::test::FixtureMachine FMachine;
};

}  // namespace

TEST_F(ActiveX, InProcessServersAreLoadedAndCalled) {
    const std::string server = Install("libostra_installer_fixture_server.so", "C:\\Program Files\\Ostra\\Grid.ocx");
    TDllRegistration r = CallDllRegistration(server, false);
    EXPECT_EQ(r.Outcome, TDllRegistration::Called);
    EXPECT_EQ(r.Result, 0);
    setenv("FIXTURE_DLL_RESULT", "-2147467259", 1);
    r = CallDllRegistration("c:\\program files\\ostra\\GRID.OCX", true);
    EXPECT_EQ(r.Outcome, TDllRegistration::Called);
    EXPECT_EQ(r.Result, -2147467259);
    EXPECT_EQ(FMachine.Log(), "DllRegisterServer\nDllUnregisterServer\n");

    const std::string noExport = Install("libostra_installer_fixture_noexport.so", "C:\\Program Files\\Ostra\\Plain.dll");
    ASSERT_TRUE(PutWinFile("C:\\Program Files\\Ostra\\Text.ocx", "not a library"));
    struct Case {
        std::string Path;
        TDllRegistration::TOutcome Outcome;
        int Error;
    };
    const Case cases[] = {
        {noExport, TDllRegistration::NoExport, platform::ErrorProcNotFound},
        {"C:\\Program Files\\Ostra\\Text.ocx", TDllRegistration::NotLoaded, platform::ErrorBadExeFormat},
        {"C:\\Program Files\\Ostra\\Missing.ocx", TDllRegistration::NotLoaded, platform::ErrorModNotFound},
    };
    for (const Case& c : cases) {
        r = CallDllRegistration(c.Path, false);
        EXPECT_EQ(r.Outcome, c.Outcome) << c.Path;
        EXPECT_EQ(r.LastError, c.Error) << c.Path;
    }
}

TEST_F(ActiveX, TypeLibrariesAreRegisteredWithTheirHelpFolder) {
    ASSERT_TRUE(PutWinFile("C:\\Program Files\\Ostra\\Ostra.tlb",
                           "OSTRA-TYPELIB 1\r\nGuid={12345678-ABCD-EF01-2345-6789ABCDEF01}\r\nVersion=1.2\r\nLcid=1033\r\n"
                           "Name=OstraLib\r\nHelpString=Ostra Type Library\r\nHelpFile=C:\\Program Files\\Ostra\\Help\\ostra.hlp\r\n"));
    RegisterTypeLibraryFile("C:\\Program Files\\Ostra\\Ostra.tlb");
    EXPECT_EQ(TestMachine::RegistryText(0, "TypeLib"),
              "key HKEY_CLASSES_ROOT\\TypeLib\n"
              "key HKEY_CLASSES_ROOT\\TypeLib\\{12345678-ABCD-EF01-2345-6789ABCDEF01}\n"
              "key HKEY_CLASSES_ROOT\\TypeLib\\{12345678-ABCD-EF01-2345-6789ABCDEF01}\\1.2\n"
              "  sz \"\" \"Ostra Type Library\"\n"
              "key HKEY_CLASSES_ROOT\\TypeLib\\{12345678-ABCD-EF01-2345-6789ABCDEF01}\\1.2\\409\n"
              "key HKEY_CLASSES_ROOT\\TypeLib\\{12345678-ABCD-EF01-2345-6789ABCDEF01}\\1.2\\409\\win32\n"
              "  sz \"\" \"C:\\\\Program Files\\\\Ostra\\\\Ostra.tlb\"\n"
              "key HKEY_CLASSES_ROOT\\TypeLib\\{12345678-ABCD-EF01-2345-6789ABCDEF01}\\1.2\\FLAGS\n"
              "  sz \"\" \"0\"\n"
              "key HKEY_CLASSES_ROOT\\TypeLib\\{12345678-ABCD-EF01-2345-6789ABCDEF01}\\1.2\\HELPDIR\n"
              "  sz \"\" \"C:\\\\Program Files\\\\Ostra\\\\Help\"\n");

    ASSERT_TRUE(PutWinFile("C:\\Program Files\\Ostra\\Bad.tlb", "OSTRA-TYPELIB 1\r\nName=NoGuid\r\nVersion=1.0\r\n"));
    for (const char* path : {"C:\\Program Files\\Ostra\\Bad.tlb", "C:\\Program Files\\Ostra\\Missing.tlb"}) {
        try {
            RegisterTypeLibraryFile(path);
            ADD_FAILURE() << path;
        } catch (const EOleSysError& e) {
            EXPECT_EQ(e.ErrorCode, TypeECantLoadLibrary);
            EXPECT_EQ(e.Message(), "Error loading type library/DLL.");
        }
    }
    platform::ScopedRegistryFaultHook hook([](platform::RegistryOp op, int, const std::string&, const std::string&) -> long {
        return op == platform::RegistryOp::SetValue ? platform::regAccessDenied : platform::regOk;
    });
    try {
        RegisterTypeLibraryFile("C:\\Program Files\\Ostra\\Ostra.tlb");
        ADD_FAILURE();
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.ErrorCode, TypeERegistryAccess);
    }
}

TEST_F(ActiveX, LocalServersRegisterAndTheirEndIsChecked) {
    const std::string server = Install("ostra_installer_fixture_program", "C:\\Program Files\\Ostra\\Server.exe");
    const std::string clsid = "\\CLSID\\{0F57A000-0000-0000-0000-000000000001}";
    RunServerRegistration(server, "/REGSERVER");
    EXPECT_EQ(ReadRegistryString(0, clsid + "\\LocalServer32", "", ""), server);
    EXPECT_NE(FMachine.Log().find("arg /REGSERVER\nshow hide\n"), std::string::npos);
    RunServerRegistration(server, "/UNREGSERVER");
    EXPECT_EQ(TestMachine::RegistryText(0, clsid.substr(1)), "");

    setenv("FIXTURE_REGSERVER_EXIT", "3", 1);
    try {
        RunServerRegistration(server, "/REGSERVER");
        ADD_FAILURE();
    } catch (const EProgramLauncher& e) {
        EXPECT_EQ(e.Message(), "The registration of " + server + " ended with the exit code 3");
    }
    unsetenv("FIXTURE_REGSERVER_EXIT");
    setenv("FIXTURE_REGSERVER_SLEEP", "1500", 1);
    ostra::test::WriteAll(FMachine.LogPath(), "");
    try {
        RunServerRegistration(server, "/REGSERVER", 300);
        ADD_FAILURE();
    } catch (const EProgramLauncher& e) {
        EXPECT_EQ(e.Message(), "The registration of " + server + " did not end within 1 seconds");
    }
    EXPECT_TRUE(FMachine.WaitForLog("end 0\n"));
    EXPECT_THROW(RunServerRegistration("C:\\Program Files\\Ostra\\Missing.exe", "/REGSERVER"), EProgramLauncherFailed);
}
