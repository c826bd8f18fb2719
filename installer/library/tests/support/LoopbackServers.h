// Small HTTP and FTP servers on the loopback interface for the download tests: each listens on a
// free port of 127.0.0.1, serves the files it was given from a thread of its own and records the
// requests and commands it received. No test reaches the network.
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostra::test {

// A listening TCP socket on 127.0.0.1 with a free port.
class LoopbackListener {
public:
    LoopbackListener();
    ~LoopbackListener();
    int Port() const { return FPort; }
    int Fd() const { return FFd; }
    // Waits for a connection at most `timeoutMs`; -1 when none came or the listener was closed.
    int Accept(int timeoutMs) const;
    void Close();

private:
    int FFd = -1;
    int FPort = 0;
};

// Serves GET requests: a path answers with its body ("200 OK") unless a status was set for it;
// every other path answers 404. Each answer closes its connection.
class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    // "127.0.0.1:<port>".
    std::string Host() const;
    void Serve(const std::string& path, const std::string& body, int status = 200, bool withLength = true);
    // The request lines received ("GET /pub/files.1 HTTP/1.1").
    std::vector<std::string> Requests() const;

private:
    struct Answer {
        std::string Body;
        int Status;
        bool WithLength;
    };
    void Run();
    void Handle(int fd);

    LoopbackListener FListener;
    mutable std::mutex FMutex;
    std::map<std::string, Answer> FAnswers;
    std::vector<std::string> FRequests;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// An FTP server with folders and files; passive transfers (EPSV and PASV). A login is accepted
// when it matches the one set (anonymous logins when none is set).
class LoopbackFtpServer {
public:
    LoopbackFtpServer();
    ~LoopbackFtpServer();
    std::string Host() const;
    // A file at an absolute path ("/pub/setup/files.1"); its folders exist from then on.
    void Serve(const std::string& path, const std::string& content);
    void RequireLogin(const std::string& user, const std::string& password);
    // The commands received, in order ("USER anonymous", "CWD /", "RETR files.1" ...).
    std::vector<std::string> Commands() const;

private:
    void Run();
    void Session(int fd);

    LoopbackListener FListener;
    mutable std::mutex FMutex;
    std::map<std::string, std::string> FFiles;
    std::vector<std::string> FFolders{"/"};
    std::string FUser, FPassword;
    std::vector<std::string> FCommands;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

}  // namespace ostra::test
