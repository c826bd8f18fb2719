// The net install location against loopback HTTP and FTP servers: downloads with progress, the
// server folders and object paths, a missing file by status code, a page that merely mentions
// 404, the abort flag, logins and the error texts.
#include <gtest/gtest.h>

#include <algorithm>

#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TInstallContainer.h"
#include "installer/library/cmp_TNetInstallLocation.h"
#include "installer/library/tests/support/LoopbackServers.h"
#include "installer/library/tests/support/TestMachine.h"
#include "testsupport/TestFiles.h"

using namespace ostra;
using namespace ostra::test;

namespace {

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
    return s;
}

std::string LocalText(const std::string& winPath) { return ReadAll(WinToNative(winPath)); }

struct Progress {
    std::vector<int> percents;
    std::vector<int64_t> blocks;
    int64_t size = -1;
    void Hook(TCustomNetInstallLocation& location) {
        location.OnDataReceived = [this](TCustomNetInstallLocation*, const std::string&, const char*, int64_t fileSize,
                                         int64_t total, int64_t bytes) {
            size = fileSize;
            blocks.push_back(bytes);
            percents.push_back(DownloadPercent(total, fileSize));
        };
    }
};

struct Net : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(WinForceDirectories("C:\\Temp")); }
    void TearDown() override { SetNetAbort(false); }
    TestMachine machine;
};

TEST_F(Net, HttpDownloadWithProgressAndObjectPaths) {
    LoopbackHttpServer server;
    const std::string archive = Pattern(50000);
    server.Serve("/pub/setup/files.1", archive);
    server.Serve("/readme.txt", "hello", 200, false);
    TNetInstallLocation location(nullptr);
    location.LoginInformation()->SetHostname(server.Host());
    location.LoginInformation()->SetDirectory("pub\\setup");
    int connects = 0, after = 0;
    location.OnBeforeConnect = [&](TCustomNetInstallLocation*) { ++connects; };
    location.OnAfterDownload = [&](TCustomNetInstallLocation*, bool aborted) {
        ++after;
        EXPECT_FALSE(aborted);
    };
    Progress progress;
    progress.Hook(location);
    location.Download("files.1", "C:\\Temp\\files.1");
    EXPECT_EQ(LocalText("C:\\Temp\\files.1"), archive);
    EXPECT_EQ(progress.size, 50000);
    EXPECT_TRUE(std::all_of(progress.blocks.begin(), progress.blocks.end(), [](int64_t b) { return b <= 8192; }));
    EXPECT_EQ(progress.percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.percents.begin(), progress.percents.end()));

    // An empty folder asks for "/name"; a size the server does not give counts as unknown.
    location.LoginInformation()->SetDirectory("");
    progress = {};
    location.Download("readme.txt", "C:\\Temp\\readme.txt");
    EXPECT_EQ(LocalText("C:\\Temp\\readme.txt"), "hello");
    EXPECT_EQ(progress.size, 0);
    EXPECT_EQ(progress.percents.back(), 0);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(after, 2);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "GET /pub/setup/files.1 HTTP/1.1");
    EXPECT_EQ(requests[1], "GET /readme.txt HTTP/1.1");
    EXPECT_EQ(HttpObjectPath("pub", "a.cab"), "/pub/a.cab");
    EXPECT_EQ(HttpObjectPath("/pub\\", "a.cab"), "/pub/a.cab");
}

TEST_F(Net, HttpMissingFileIsKnownByItsStatusNotByItsPage) {
    LoopbackHttpServer server;
    server.Serve("/about404.txt", "Error 404 explained: a page that talks about it");
    server.Serve("/empty.txt", "");
    server.Serve("/broken.txt", "server trouble", 500);
    TNetInstallLocation location(nullptr);
    location.LoginInformation()->SetHostname(server.Host());
    location.Download("about404.txt", "C:\\Temp\\about.txt");
    EXPECT_EQ(LocalText("C:\\Temp\\about.txt"), "Error 404 explained: a page that talks about it");

    try {
        location.Download("missing.txt", "C:\\Temp\\missing.txt");
        ADD_FAILURE();
    } catch (const ENIL_FileNotFound& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Could not find the file missing.txt on the server. Error message Unregistered error code. Server " +
                      server.Host() + ". Response from server HTTP/1.1 404 Error");
    }
    EXPECT_FALSE(WinFileExists("C:\\Temp\\missing.txt"));
    EXPECT_THROW(location.Download("empty.txt", "C:\\Temp\\empty.txt"), ENIL_FileNotFound);
    EXPECT_THROW(location.Download("broken.txt", "C:\\Temp\\broken.txt"), ENIL_HTTPOpenFile);
}

TEST_F(Net, FtpChangesToTheServerFolderBeforeEveryDownload) {
    LoopbackFtpServer server;
    const std::string archive = Pattern(70000);
    server.Serve("/pub/setup/files.1", archive);
    server.Serve("/list.lst", "abc");
    TNetInstallLocation location(nullptr);
    location.LoginInformation()->SetProtocol(ipFTP);
    location.LoginInformation()->SetHostname(server.Host());
    location.LoginInformation()->SetDirectory("pub\\setup");
    Progress progress;
    progress.Hook(location);
    location.Download("files.1", "C:\\Temp\\files.1");
    EXPECT_EQ(LocalText("C:\\Temp\\files.1"), archive);
    EXPECT_EQ(progress.size, 70000);
    EXPECT_EQ(progress.percents.back(), 100);
    EXPECT_TRUE(std::all_of(progress.percents.begin(), progress.percents.end(), [](int p) { return p <= 100; }));

    location.LoginInformation()->SetDirectory(" ");
    location.Download("list.lst", "C:\\Temp\\list.lst");
    EXPECT_EQ(LocalText("C:\\Temp\\list.lst"), "abc");
    std::vector<std::string> cwds, retrs;
    for (const std::string& c : server.Commands()) {
        if (c.rfind("CWD", 0) == 0) cwds.push_back(c);
        if (c.rfind("RETR", 0) == 0) retrs.push_back(c);
    }
    EXPECT_EQ(cwds, (std::vector<std::string>{"CWD pub/setup", "CWD /"}));
    EXPECT_EQ(retrs, (std::vector<std::string>{"RETR files.1", "RETR list.lst"}));
    EXPECT_EQ(server.Commands().front(), "USER anonymous");

    location.LoginInformation()->SetDirectory("nowhere");
    EXPECT_THROW(location.Download("list.lst", "C:\\Temp\\x"), ENIL_FTPSetDir);
    location.LoginInformation()->SetDirectory("");
    try {
        location.Download("gone.cab", "C:\\Temp\\gone.cab");
        ADD_FAILURE();
    } catch (const ENIL_FTPOpenFile& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot open file gone.cab on server. Error message "
                                             "ERROR_INTERNET_EXTENDED_ERROR"),
                  std::string::npos)
            << e.what();
    }
}

TEST_F(Net, FtpLoginOfAUser) {
    LoopbackFtpServer server;
    server.RequireLogin("setup", "secret");
    server.Serve("/a.txt", "A");
    TNetInstallLocation location(nullptr);
    TLoginInformation login;
    login.SetProtocol(ipFTP);
    login.SetHostname(server.Host());
    login.SetAnonymous(false);
    login.SetUsername("setup");
    login.SetPassword("wrong");
    location.SetLoginInformation(&login);
    EXPECT_THROW(location.Download("a.txt", "C:\\Temp\\a.txt"), ENIL_OpenService);
    login.SetPassword("secret");
    location.SetLoginInformation(&login);
    location.Download("a.txt", "C:\\Temp\\a.txt");
    EXPECT_EQ(LocalText("C:\\Temp\\a.txt"), "A");
}

TEST_F(Net, AbortStopsAfterTheCurrentBlockKeepingWhatArrived) {
    LoopbackHttpServer server;
    server.Serve("/big.cab", Pattern(200000));
    TNetInstallLocation location(nullptr);
    location.LoginInformation()->SetHostname(server.Host());
    int blocks = 0;
    bool sawAbort = false;
    location.OnDataReceived = [&](TCustomNetInstallLocation*, const std::string&, const char*, int64_t, int64_t,
                                  int64_t) {
        if (++blocks == 2) SetNetAbort(true);
    };
    location.OnAfterDownload = [&](TCustomNetInstallLocation*, bool aborted) { sawAbort = aborted; };
    location.Download("big.cab", "C:\\Temp\\big.cab");
    EXPECT_TRUE(sawAbort);
    EXPECT_EQ(blocks, 2);
    EXPECT_EQ(LocalText("C:\\Temp\\big.cab"), Pattern(200000).substr(0, 8192));
}

TEST_F(Net, UnreachableServerAndLoginRules) {
    LoopbackListener closed;
    const std::string host = "127.0.0.1:" + std::to_string(closed.Port());
    closed.Close();
    TNetInstallLocation location(nullptr);
    location.LoginInformation()->SetHostname(host);
    try {
        location.Download("x", "C:\\Temp\\x");
        ADD_FAILURE();
    } catch (const ENIL_OpenService& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot connect to host " + host +
                                             ". Error message ERROR_INTERNET_CANNOT_CONNECT. Server " + host +
                                             ". Response from server No server response");
    }

    TLoginInformation login;
    EXPECT_FALSE(login.IsFilledIn());
    login.SetHostname(" ");
    EXPECT_FALSE(login.IsFilledIn());
    login.SetAnonymous(false);
    login.SetPassword("pw");
    EXPECT_TRUE(login.IsFilledIn());
    EXPECT_EQ(InternetErrorName(12002), "ERROR_INTERNET_TIMEOUT");
    EXPECT_EQ(InternetErrorName(12031), "ERROR_INTERNET_CONNECTION_RESET");
    EXPECT_EQ(InternetErrorName(12138), "ERROR_GOPHER_UNKNOWN_LOCATOR");
    EXPECT_EQ(InternetErrorName(12155), "ERROR_HTTP_HEADER_ALREADY_EXISTS");
    EXPECT_EQ(InternetErrorName(12033), "Unregistered error code");

    // A local file that cannot be written.
    LoopbackHttpServer server;
    server.Serve("/a.txt", "A");
    location.SetName("NetLocation");
    location.LoginInformation()->SetHostname(server.Host());
    EXPECT_THROW(location.Download("a.txt", "C:\\NoSuchFolder\\a.txt"), ENIL_WriteDestFile);

    {
        TNetInstallLocation other(nullptr);
        SetDefaultNetLocation(&other);
        EXPECT_EQ(NetInstallLocations().size(), 2u);
    }
    EXPECT_EQ(DefaultNetLocation(), nullptr);
}

}  // namespace
