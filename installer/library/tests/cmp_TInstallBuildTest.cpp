// The build of a distribution ("-b"), the self-extracting setup and its trailer, the loading
// program that unpacks and starts the setup program, and the copy onto floppy disks ("-f").
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "installer/library/SelfExtract.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/WinMachine.h"
#include "installer/library/cmp_TInstallFile.h"
#include "installer/library/cmp_TNetInstallLocation.h"
#include "installer/library/tests/support/LoopbackServers.h"
#include "installer/library/routines_Strings.h"
#include "installer/library/tests/support/InstallRun.h"
#include "platform/Machine.h"
#include "platform/Process.h"

using namespace ostra;
using namespace ostra::test;

namespace {

int32_t Int32At(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
    return static_cast<int32_t>(v);
}

std::string WinRead(const std::string& path) { return ReadAll(WinToNative(path)); }

// A project with BUILD.INF naming C:\Out and, unless empty, one file. Its setup program is a few
// bytes, or, when the loader is to start it, the fixture program.
struct BuildProject {
    explicit BuildProject(bool withFile = true, bool runnable = false) {
        InstallLibraryFolder(OSTRA_LOADER_PATH);
        const std::string program =
            runnable ? ReadAll(FixturePath("ostra_installer_fixture_program")) : std::string(5000, 'p');
        run.SetProgram("C:\\Dev\\setup.exe", program);
        PutWinFile("C:\\Dev\\BUILD.INF", "C:\\Out\r\n");
        PutWinFile("C:\\Src\\readme.txt", "Read me first.");
        PutWinFile("C:\\Src\\helper.dll", std::string(3000, 'h'));
        run.SetParameters({"-b"});
        run.Load([&](TCustomForm& form, TInstall& install) {
            install.PresetupFiles()->Add("C:\\Src\\helper.dll");
            if (!withFile) return;
            auto* file = CreateComponent<TInstallFile>(&form);
            file->SetName("Readme");
            file->SetIncludeFromDir("C:\\Src");
            file->SetFileName("readme.txt");
            file->SetContainer(&install);
        });
    }
    FixtureMachine fixtures;  // before the run: the machine of the run is the last one made
    InstallRunFixture run;
};

TEST(InstallBuild, BuildInfWritesASelfExtractingSetup) {
    BuildProject project;
    EXPECT_TRUE(project.run.services.Messages().empty()) << project.run.services.Messages()[0].Msg;
    EXPECT_EQ(project.run.terminateRequests, 1);  // a build always ends the program
    const std::string exe = WinRead("C:\\Out\\setup.exe");
    const std::string setup1 = WinRead("C:\\Out\\setup.1"), files1 = WinRead("C:\\Out\\files.1");
    const std::string loader = ReadAll(OSTRA_LOADER_PATH);
    ASSERT_FALSE(setup1.empty());
    ASSERT_FALSE(files1.empty());
    ASSERT_EQ(exe.size(), loader.size() + setup1.size() + files1.size() + SelfExtractTrailerSize);
    const std::string trailer = exe.substr(exe.size() - SelfExtractTrailerSize);
    EXPECT_EQ(trailer.substr(0, 16), std::string("\x0ESELFEXTRACTING", 15) + '\0');
    EXPECT_EQ(Int32At(trailer, 16), static_cast<int32_t>(loader.size()));
    EXPECT_EQ(Int32At(trailer, 20), static_cast<int32_t>(loader.size() + setup1.size() - 1));
    EXPECT_EQ(Int32At(trailer, 24), static_cast<int32_t>(loader.size() + setup1.size()));
    EXPECT_EQ(Int32At(trailer, 28), static_cast<int32_t>(exe.size() - SelfExtractTrailerSize - 1));
    EXPECT_EQ(trailer.substr(32), std::string(24, '\0'));
    EXPECT_TRUE(exe.substr(0, loader.size()) == loader);
    // The project's archive settings are back after the build.
    EXPECT_EQ(project.run.install->ArchiveFile(), "");
    EXPECT_EQ(project.run.install->GetFullArchiveFile(), "C:\\Dev\\files.1");
}

TEST(InstallBuild, AnEmptyProjectHasNoFilesArchive) {
    BuildProject project(false);
    const TSelfExtractInfo info = ReadSelfExtractTrailer("C:\\Out\\setup.exe");
    EXPECT_EQ(info.FilesStart, 0);
    EXPECT_EQ(info.FilesEnd, 0);
    EXPECT_FALSE(WinFileExists("C:\\Out\\files.1"));
}

TEST(InstallBuild, BuildFailuresAreShownAndWriteNothing) {
    InstallRunFixture run;
    InstallLibraryFolder(OSTRA_LOADER_PATH);
    struct Case {
        std::function<void()> Prepare;
        const char* Message;
    };
    const Case cases[] = {
        {[] {}, "Need to have a BUILD.INF file in this directory with the first line specifying the build directory"},
        {[] { PutWinFile("C:\\Dev\\BUILD.INF", ""); }, "Must be 1 line in BUILD.INF. This line should specify the build directory"},
        {[] {
             PutWinFile("C:\\Dev\\BUILD.INF", "C:\\Out\r\n");
             WinDeleteFile("C:\\Fernmoor\\FernmoorLoadProgram.exe");
         },
         "The loader program C:\\Fernmoor\\FernmoorLoadProgram.exe was not found"},
    };
    run.SetParameters({"-b"});
    for (const Case& c : cases) {
        c.Prepare();
        run.services.ClearLog();
        run.Load();
        ASSERT_EQ(run.services.Messages().size(), 1u);
        EXPECT_EQ(run.services.Messages()[0].Msg, c.Message);
    }
    EXPECT_FALSE(WinFileExists("C:\\Out\\setup.exe"));

    // A stand-alone build needs the loading program: refused before anything is written.
    run.SetParameters({"-sC:\\Setup"});
    run.Load();
    run.install->SetUseLoadingProgram(false);
    EXPECT_THROW(run.install->Build("C:\\Dev\\setup.exe", "C:\\Out2", true), IEInstall);
    EXPECT_FALSE(WinDirectoryExists("C:\\Out2"));
}

TEST(InstallBuild, TrailersAreCheckedBeforeTheirOffsetsAreUsed) {
    TestMachine machine;
    const std::string body(1000, 'x');
    auto write = [&](const std::string& marker, int32_t s1, int32_t e1, int32_t s2, int32_t e2) {
        std::string trailer = EncodeSelfExtractTrailer(true, {s1, e1, s2, e2});
        trailer.replace(1, 14, marker);
        PutWinFile("C:\\Out\\setup.exe", body + trailer);
    };
    write("SELFEXTRACTING", 100, 199, 200, 999);
    EXPECT_EQ(ReadSelfExtractTrailer("C:\\Out\\setup.exe").FilesEnd, 999);
    write("SELFEXTRACTING", 100, 999, 0, 0);  // without files.1
    EXPECT_EQ(ReadSelfExtractTrailer("C:\\Out\\setup.exe").SetupEnd, 999);

    struct Case {
        const char* Marker;
        int32_t S1, E1, S2, E2;
    };
    const Case bad[] = {
        {"NOTSELFEXTRACT", 100, 199, 200, 999}, {"SELFEXTRACTINX", 100, 199, 200, 999},
        {"SELFEXTRACTING", -1, 199, 200, 999},  {"SELFEXTRACTING", 200, 100, 200, 999},
        {"SELFEXTRACTING", 100, 199, 150, 999}, {"SELFEXTRACTING", 100, 199, 200, 1000},
        {"SELFEXTRACTING", 100, 1000, 0, 0},    {"SELFEXTRACTING", 100, 199, 0, 999},
    };
    for (const Case& c : bad) {
        write(c.Marker, c.S1, c.E1, c.S2, c.E2);
        try {
            ReadSelfExtractTrailer("C:\\Out\\setup.exe");
            ADD_FAILURE() << c.Marker << " " << c.S1 << " " << c.E1 << " " << c.S2 << " " << c.E2;
        } catch (const IEInstall& e) {
            EXPECT_STREQ(e.what(), "The extraction info at the end of C:\\Out\\setup.exe is not valid: the file is not a "
                                   "complete self extracting setup");
        }
    }
    PutWinFile("C:\\Out\\short.exe", std::string(55, '\0'));
    for (const char* path : {"C:\\Out\\short.exe", "C:\\Out\\missing.exe"}) {
        try {
            ReadSelfExtractTrailer(path);
            ADD_FAILURE() << path;
        } catch (const IEInstall& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Could not read the extraction info from the archive file ") +
                                                 path + " when trying to find the correct offset into the self extracting file");
        }
    }
}

// Runs the built setup.exe as a program and waits for its end; its exit code.
int RunSetupExe(const std::vector<std::string>& arguments) {
    platform::Process process;
    int error = 0, exitCode = -1;
    if (!process.Start(WinToNative("C:\\Out\\setup.exe"), arguments, platform::ShowWindow::Normal, error)) return -1;
    return process.WaitForExit(60000, exitCode) ? exitCode : -2;
}

TEST(InstallBuild, TheLoaderUnpacksAndStartsTheSetupProgram) {
    BuildProject project(true, true);
    ASSERT_EQ(RunSetupExe({"*TODISK"}), 0);
    const std::string log = project.fixtures.Log();
    EXPECT_NE(log.find("arg -sC:\\Out\narg -esetup.exe\narg -c\narg -f\narg *TODISK\n"), std::string::npos) << log;
    // It ran from a new folder of the temporary folder, which holds the loader's list.
    const size_t cwd = log.find("start");
    ASSERT_NE(cwd, std::string::npos);
    const std::string temp = RemoveBackslash(WinTempDir());
    std::vector<std::string> folders;
    for (const std::string& entry : WinFolderEntries(temp))
        if (entry.rfind("FRN", 0) == 0) folders.push_back(entry);
    ASSERT_EQ(folders.size(), 1u);
    const std::string folder = temp + "\\" + folders[0];
    EXPECT_EQ(WinRead(folder + "\\" + LoaderListFileName), "setup.exe\r\nhelper.dll\r\n");
    EXPECT_EQ(WinRead(folder + "\\helper.dll"), std::string(3000, 'h'));
    EXPECT_TRUE(WinRead(folder + "\\setup.exe") == ReadAll(FixturePath("ostra_installer_fixture_program")));
}

TEST(InstallBuild, TheLoaderRefusesADamagedSetup) {
    BuildProject project;
    std::string exe = WinRead("C:\\Out\\setup.exe");
    exe[exe.size() - SelfExtractTrailerSize + 23] = 0x7F;  // setup.1 would end far beyond the file
    PutWinFile("C:\\Out\\setup.exe", exe);
    EXPECT_EQ(RunSetupExe({}), 1);
    EXPECT_EQ(project.fixtures.Log(), "");
    for (const std::string& entry : WinFolderEntries(RemoveBackslash(WinTempDir())))
        EXPECT_NE(entry.rfind("FRN", 0), 0u) << entry;
}

TEST(InstallBuild, FloppyTransferCutsTheSetupApart) {
    BuildProject project;
    PutWinFile("C:\\Out\\copy\\setup.exe", WinRead("C:\\Out\\setup.exe"));
    // Started from the self-extracting setup with "-f".
    project.run.SetParameters({"-sC:\\Out\\copy", "-esetup.exe", "-f"});
    std::filesystem::create_directories(platform::DriveFolder('A'));
    project.run.services.ClearLog();
    project.run.Load();
    EXPECT_TRUE(project.run.services.Messages().empty()) << project.run.services.Messages()[0].Msg;
    const std::string loader = ReadAll(OSTRA_LOADER_PATH);
    EXPECT_TRUE(WinRead("A:\\setup.exe") == loader + EncodeSelfExtractTrailer(false, {}));
    EXPECT_TRUE(WinRead("A:\\setup.1") == WinRead("C:\\Out\\setup.1"));
    EXPECT_TRUE(WinFileExists("A:\\files.1"));

    // Without "-e" there is nothing to cut apart.
    project.run.SetParameters({"-sC:\\Out\\copy", "-f"});
    project.run.services.ClearLog();
    project.run.Load();
    ASSERT_EQ(project.run.services.Messages().size(), 1u);
    EXPECT_EQ(project.run.services.Messages()[0].Msg.rfind("Sorry... You can only transfer", 0), 0u);
}

}  // namespace

namespace {

TEST(InstallBuild, NetDistributionWritesTheFileListAndTheRunReadsIt) {
    InstallRunFixture run;
    InstallLibraryFolder(OSTRA_LOADER_PATH);
    LoopbackHttpServer server;
    PutWinFile("C:\\Src\\readme.txt", "Read me first.");
    run.SetParameters({"-sC:\\Out"});
    TCustomInstallFile* readme = nullptr;
    auto load = [&] {
        run.Load([&](TCustomForm& form, TInstall& install) {
            auto* location = CreateComponent<TNetInstallLocation>(&form);
            location->LoginInformation()->SetHostname(server.Host());
            location->LoginInformation()->SetDirectory("pub");
            readme = CreateComponent<TInstallFile>(&form);
            readme->SetName("Readme");
            readme->SetIncludeFromDir("C:\\Src");
            readme->SetFileName("readme.txt");
            readme->SetContainer(&install);
            install.SetDesigning(true, false);
            install.SetNetLocation(location);
            install.SetDistributeType(dtWeb);
            install.SetDesigning(false, false);
        });
    };
    load();
    run.install->Build("C:\\Dev\\setup.exe", "C:\\Out", false);
    const std::string exe = WinRead("C:\\Out\\setup.exe");
    EXPECT_EQ(exe.substr(exe.size() - SelfExtractTrailerSize), EncodeSelfExtractTrailer(false, {}));
    std::string list = WinRead("C:\\Out\\" + run.install->NetFolderName() + "\\filelist.lst");
    ASSERT_EQ(list.size(), 4u + 80u);
    EXPECT_EQ(Int32At(list, 0), 1);
    EXPECT_EQ(Int32At(list, 4), 14);  // the size of readme.txt
    EXPECT_EQ(std::string(list.c_str() + 20), "Readme");

    // The run takes size and version from the list on the server.
    list.replace(4, 4, std::string("\x09\x03\0\0", 4));  // 777
    list.replace(60, 4, std::string("5.1\0", 4));
    server.Serve("/pub/filelist.lst", list);
    load();
    run.install->ReadInfoFromArchive();
    EXPECT_EQ(readme->Size(), 777);
    EXPECT_EQ(readme->SourceVersion(), "5.1");

    // A list cut short is refused, and its downloaded copy goes.
    server.Serve("/pub/filelist.lst", list.substr(0, 50));
    load();
    try {
        run.install->ReadInfoFromArchive();
        ADD_FAILURE();
    } catch (const IEInstall& e) {
        const std::string prefix = "Cannot read the remote list of files: ";
        ASSERT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
        EXPECT_FALSE(WinFileExists(std::string(e.what()).substr(prefix.size())));
    }
}

}  // namespace
