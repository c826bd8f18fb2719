// What follows the install of a file, with fixtures the build made: ActiveX servers and type
// libraries registered and listed in the record's "ActiveX" part, kept targets still registered
// and counted, failed registrations deferred to the end of the run, a file placed at the restart
// registered only by the completion run, and help files listed.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "installer/library/MachineRestart.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_UninstallRecord.h"
#include "installer/library/tests/support/FileInstall.h"

using namespace ostra;
using namespace ostra::test;

namespace {

constexpr int LocalMachine = 4;
const std::string System = "C:\\WINDOWS\\system32\\";

struct Registration : ::testing::Test {
    void TearDown() override {
        unsetenv("FIXTURE_DLL_RESULT");
        SetDeferredRegistration(false);
        DeferredActiveXFiles().clear();
    }
    // An in-process server from the build's fixture, as a source file of the project.
    TCustomInstallFile* AddServer(const std::string& name) {
        std::string bytes = FileProject::Read(NativeToWin(FixturePath("libostra_installer_fixture_server.so")));
        return project.AddFile(name, bytes, project.root, "Server");
    }
    TUninstallRecord Record() { return ReadUninstallRecord(UninstallRecordKey("Ostra")); }

    FixtureMachine fixtures;
    FileProject project;
};

TEST_F(Registration, ServersAndTypeLibrariesAreRegisteredCountedAndRecorded) {
    TCustomInstallFile* server = AddServer("grid.ocx");
    project.AddFile("ostra.tlb", "OSTRA-TYPELIB 1\r\nGuid={12345678-ABCD-EF01-2345-6789ABCDEF01}\r\nVersion=1.0\r\nName=Ostra\r\n",
                    project.root, "Types");
    project.AddFile("manual.hlp", "help", project.root, "Manual");
    project.Build();
    // A kept target is still registered, and its count raised under the short path it has.
    ASSERT_TRUE(PutWinFile(System + "grid.ocx", FileProject::Read(server->FullSourcePath())));
    WinSetLastWriteTime(System + "grid.ocx", EncodeDate(2030, 1, 1));
    const std::string shortPath = GetShortPath(System + "grid.ocx");
    WriteRegistryInteger(LocalMachine, SharedDllsKey, shortPath, 3);
    project.root->Process();
    EXPECT_FALSE(server->ReplaceTarget());
    EXPECT_EQ(fixtures.Log(), "DllRegisterServer\n");
    EXPECT_EQ(ReadRegistryInteger(LocalMachine, SharedDllsKey, shortPath, 0), 4);
    std::string valueName;
    int32_t count = 0;
    ASSERT_TRUE(LookUpSharedCount(System + "ostra.tlb", valueName, count));
    EXPECT_EQ(count, 1);
    EXPECT_NE(TestMachine::RegistryText(0, "TypeLib\\{12345678-ABCD-EF01-2345-6789ABCDEF01}"), "");
    EXPECT_EQ(ReadRegistryString(LocalMachine, "\\SOFTWARE\\Microsoft\\Windows\\Help", "MANUAL.HLP", ""),
              "C:\\Program Files\\Ostra");
    TUninstallRecord record = Record();
    // Files of one container are processed in child order, the newest first.
    ASSERT_EQ(record.ActiveX.size(), 2u);
    EXPECT_EQ(record.ActiveX[0].Path, System + "ostra.tlb");
    EXPECT_EQ(record.ActiveX[0].Kind, "2");
    EXPECT_EQ(record.ActiveX[1].Path, System + "grid.ocx");
    EXPECT_EQ(record.ActiveX[1].Kind, "0");
    EXPECT_EQ(record.Files, std::vector<std::string>{"C:\\Program Files\\Ostra\\manual.hlp"});
}

TEST_F(Registration, AFailedRegistrationWaitsForTheEndOfTheRunWhenDeferred) {
    TCustomInstallFile* server = AddServer("grid.ocx");
    project.Build();
    setenv("FIXTURE_DLL_RESULT", "5", 1);
    SetDeferredRegistration(true);
    project.root->Process();
    ASSERT_EQ(DeferredActiveXFiles(), std::vector<TCustomInstallFile*>{server});
    try {
        server->RegisterActiveX();
        FAIL() << "registered";
    } catch (const IECustomInstallFile& e) {
        EXPECT_NE(std::string(e.what()).find("because the DllRegisterServer function returned a value of 5"),
                  std::string::npos);
    }
    SetDeferredRegistration(false);
    EXPECT_THROW(project.root->Process(), IECustomInstallFile);
    delete server;
    EXPECT_TRUE(DeferredActiveXFiles().empty());
}

TEST_F(Registration, AServerPlacedAtTheRestartIsRegisteredByTheCompletionRun) {
    TCustomInstallFile* server = AddServer("grid.ocx");
    server->SetOverwriteMode(owAlways);
    server->SetInstallAttributes(TFrnmFileAttributesSet{ffaReadOnly});
    project.Build();
    ASSERT_TRUE(PutWinFile(System + "grid.ocx", "old"));
    auto holder = std::make_unique<FileHolder>(System + "grid.ocx");
    project.root->Process();
    EXPECT_TRUE(server->InstalledUnderNumberedName());
    EXPECT_EQ(fixtures.Log(), "");
    EXPECT_EQ(project.root->Unfinished, std::vector<std::string>{"Server:0"});
    EXPECT_EQ(Record().ActiveX.at(0).Path, System + "grid.ocx");
    EXPECT_EQ(holder->Release(), 0);
    EXPECT_FALSE(PerformMachineRestart().Failed);
    server->FinishAfterReboot();
    EXPECT_EQ(fixtures.Log(), "DllRegisterServer\n");
    EXPECT_EQ(WinGetFileAttributes(System + "grid.ocx") & WinAttrReadOnly, WinAttrReadOnly);
}

}  // namespace
