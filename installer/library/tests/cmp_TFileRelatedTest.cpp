// Archives of install objects fetched over the net from a loopback HTTP server: the download
// into a new local file recorded in the run record (and found there by a repeated run), progress
// up to the container, a user abort that leaves nothing behind, the net folder names, and a web
// distribution built into its net archive and installed from the download.
#include <gtest/gtest.h>

#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/WinMachine.h"
#include "installer/library/cmp_TNetInstallLocation.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/tests/support/FileInstall.h"
#include "installer/library/tests/support/LoopbackServers.h"

using namespace ostra;
using namespace ostra::test;

namespace {

struct NetProject : ::testing::Test {
    void SetUp() override {
        SetRunRecordKey("\\Software\\Veltra\\Setup Runs\\Ostra");
        location = CreateComponent<TNetInstallLocation>(&project.form);
        location->SetName("Server");
        location->LoginInformation()->SetHostname(server.Host());
        location->LoginInformation()->SetDirectory("pub");
    }
    void TearDown() override {
        SetNetAbort(false);
        SetRunRecordKey("");
        SetDefaultNetLocation(nullptr);
    }
    // Files left in the temporary folder.
    static std::vector<std::string> TempFiles() { return WinFolderEntries(WinTempDir()); }

    LoopbackHttpServer server;
    FileProject project;
    TNetInstallLocation* location = nullptr;
};

TEST_F(NetProject, ADownloadIsRecordedAndFoundByARepeatedRun) {
    server.Serve("/pub/Docs.1", std::string(20000, 'a'));
    auto* docs = CreateComponent<TInstallDirectory>(&project.form);
    docs->SetName("Docs");
    docs->SetContainer(project.root);
    docs->SetNetLocation(location);
    std::vector<int> percents;
    docs->OnDataReceived = [&](TObject*, const std::string&, int, int total, int size, const char*) {
        percents.push_back(total * 100 / size);
    };
    docs->DownloadArchive();
    const std::string local = docs->LocalArchive();
    EXPECT_EQ(ExtractFileExt(local), ".1");
    EXPECT_EQ(FileProject::Read(local), std::string(20000, 'a'));
    EXPECT_EQ(percents.back(), 100);
    // Only the download is left in the temporary folder.
    EXPECT_EQ(TempFiles(), std::vector<std::string>{ExtractFileName(local)});
    EXPECT_EQ(ReadRegistryString(4, LocalFileRecordKey("Docs"), "LocalFile", ""), local);

    docs->SetLocalArchive("");
    docs->DownloadArchive();
    EXPECT_EQ(docs->LocalArchive(), local);
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_TRUE(docs->HasLocalArchive());
}

TEST_F(NetProject, AnAbortedDownloadLeavesNothing) {
    server.Serve("/pub/Docs.1", std::string(100000, 'b'));
    auto* docs = CreateComponent<TInstallDirectory>(&project.form);
    docs->SetName("Docs");
    docs->SetNetLocation(location);
    docs->OnDataReceived = [&](TObject*, const std::string&, int, int, int, const char*) { SetNetAbort(true); };
    EXPECT_THROW(docs->DownloadArchive(), EAIUserAbort);
    EXPECT_EQ(docs->LocalArchive(), "");
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_EQ(ReadRegistryString(4, LocalFileRecordKey("Docs"), "LocalFile", ""), "");
}

TEST_F(NetProject, LocationsAndFolderNames) {
    auto* docs = CreateComponent<TInstallDirectory>(&project.form);
    docs->SetName("Docs");
    docs->SetContainer(project.root);
    docs->SetNetLocation(location);
    TCustomInstallFile* inDocs = project.AddFile("a.txt", "a", docs);
    EXPECT_EQ(inDocs->FindNetLocation(), location);
    location->LoginInformation()->SetDirectory("");
    location->LoginInformation()->SetProtocol(ipFTP);
    location->LoginInformation()->SetHostname("ftp/host");
    EXPECT_EQ(inDocs->NetFolderName(), "ftp-host\\FTP Root directory");
    // A file whose container is no file container has no location, even with a default one.
    SetDefaultNetLocation(location);
    auto* loose = CreateComponent<TInstallFile>(&project.form);
    EXPECT_EQ(loose->FindNetLocation(), location);
    EXPECT_EQ(project.root->FindNetLocation(), location);
    SetDefaultNetLocation(nullptr);
    EXPECT_THROW(loose->NetFolderName(), IEFileRel_NoNetLocation);
    EXPECT_THROW(loose->DownloadArchive(), Exception);
}

TEST_F(NetProject, AWebDistributionInstallsFromItsDownloadedArchive) {
    SetDefaultNetLocation(location);
    project.root->Distribute = dtWeb;
    project.AddFile("data.bin", std::string(30000, 'd'), project.root);
    project.root->Compress(coRelocateArchives | coReserved | coForceFilesNet | coIncludeExcluded);
    const std::string built = project.root->LocalArchive();
    EXPECT_EQ(built, "C:\\Setup\\" + project.root->NetFolderName() + "\\Install1.1");
    server.Serve("/pub/Install1.1", FileProject::Read(built));
    WinDeleteFile(built);
    project.root->SetLocalArchive("");
    project.root->Process();
    EXPECT_EQ(FileProject::Read("C:\\Program Files\\Ostra\\data.bin"), std::string(30000, 'd'));
    EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
