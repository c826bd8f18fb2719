// Loopback HTTP and FTP servers for the download tests (see the header).
#include "installer/library/tests/support/LoopbackServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace ostra::test {

namespace {

void SendAll(int fd, const std::string& data) {
    size_t at = 0;
    while (at < data.size()) {
        ssize_t n = ::send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return;
        at += static_cast<size_t>(n);
    }
}

// Reads one line ending in LF (without CR LF); false when the peer closed or nothing came in 10 s.
bool ReadLine(int fd, std::string& line) {
    line.clear();
    char c;
    while (true) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return false;
        if (::recv(fd, &c, 1, 0) != 1) return false;
        if (c == '\n') break;
        if (c != '\r') line += c;
    }
    return true;
}

// "/a/b" from a folder and a relative or absolute name.
std::string Resolve(const std::string& cwd, const std::string& name) {
    std::string path = name.empty() || name[0] != '/' ? (cwd == "/" ? "/" : cwd + "/") + name : name;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

LoopbackListener::LoopbackListener() {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(FFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(FFd, 8);
    socklen_t len = sizeof addr;
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
}

LoopbackListener::~LoopbackListener() { Close(); }

void LoopbackListener::Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
}

int LoopbackListener::Accept(int timeoutMs) const {
    if (FFd < 0) return -1;
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return -1;
    return ::accept(FFd, nullptr, nullptr);
}

// ---------------------------------------------------------------- HTTP

LoopbackHttpServer::LoopbackHttpServer() : FThread([this] { Run(); }) {}
LoopbackHttpServer::~LoopbackHttpServer() {
    FStop = true;
    FThread.join();
}
std::string LoopbackHttpServer::Host() const { return "127.0.0.1:" + std::to_string(FListener.Port()); }

void LoopbackHttpServer::Serve(const std::string& path, const std::string& body, int status, bool withLength) {
    std::lock_guard<std::mutex> lock(FMutex);
    FAnswers[path] = {body, status, withLength};
}

std::vector<std::string> LoopbackHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FRequests;
}

void LoopbackHttpServer::Run() {
    while (!FStop) {
        int fd = FListener.Accept(50);
        if (fd < 0) continue;
        Handle(fd);
        ::close(fd);
    }
}

void LoopbackHttpServer::Handle(int fd) {
    std::string request, line;
    if (!ReadLine(fd, request)) return;
    while (ReadLine(fd, line) && !line.empty()) {
    }
    std::string path = request.substr(request.find(' ') + 1);
    path = path.substr(0, path.find(' '));
    Answer answer{"<html>not here</html>", 404, true};
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FRequests.push_back(request);
        auto it = FAnswers.find(path);
        if (it != FAnswers.end()) answer = it->second;
    }
    std::string head = "HTTP/1.1 " + std::to_string(answer.Status) + (answer.Status == 200 ? " OK" : " Error") + "\r\n";
    if (answer.WithLength) head += "Content-Length: " + std::to_string(answer.Body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    SendAll(fd, head + answer.Body);
}

// ---------------------------------------------------------------- FTP

LoopbackFtpServer::LoopbackFtpServer() : FThread([this] { Run(); }) {}
LoopbackFtpServer::~LoopbackFtpServer() {
    FStop = true;
    FThread.join();
}
std::string LoopbackFtpServer::Host() const { return "127.0.0.1:" + std::to_string(FListener.Port()); }

void LoopbackFtpServer::Serve(const std::string& path, const std::string& content) {
    std::lock_guard<std::mutex> lock(FMutex);
    FFiles[path] = content;
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        FFolders.push_back(path.substr(0, slash));
}

void LoopbackFtpServer::RequireLogin(const std::string& user, const std::string& password) {
    std::lock_guard<std::mutex> lock(FMutex);
    FUser = user;
    FPassword = password;
}

std::vector<std::string> LoopbackFtpServer::Commands() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FCommands;
}

void LoopbackFtpServer::Run() {
    while (!FStop) {
        int fd = FListener.Accept(50);
        if (fd < 0) continue;
        Session(fd);
        ::close(fd);
    }
}

void LoopbackFtpServer::Session(int fd) {
    auto reply = [fd](const std::string& text) { SendAll(fd, text + "\r\n"); };
    reply("220 loopback ready");
    std::string cwd = "/", user, line;
    std::unique_ptr<LoopbackListener> passive;
    while (!FStop && ReadLine(fd, line)) {
        std::string verb = line.substr(0, line.find(' '));
        std::string arg = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
        std::transform(verb.begin(), verb.end(), verb.begin(), ::toupper);
        std::string wantUser, wantPassword;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FCommands.push_back(verb + (arg.empty() ? "" : " " + arg));
            wantUser = FUser;
            wantPassword = FPassword;
        }
        if (verb == "USER") {
            user = arg;
            reply("331 password please");
        } else if (verb == "PASS") {
            bool ok = wantUser.empty() ? user == "anonymous" || user == "ftp" : user == wantUser && arg == wantPassword;
            reply(ok ? "230 logged in" : "530 login incorrect");
        } else if (verb == "PWD") {
            reply("257 \"" + cwd + "\"");
        } else if (verb == "CWD") {
            std::string target = Resolve(cwd, arg);
            std::lock_guard<std::mutex> lock(FMutex);
            if (std::find(FFolders.begin(), FFolders.end(), target) != FFolders.end()) {
                cwd = target;
                reply("250 folder changed");
            } else {
                reply("550 no such folder");
            }
        } else if (verb == "TYPE") {
            reply("200 type set");
        } else if (verb == "SIZE") {
            std::lock_guard<std::mutex> lock(FMutex);
            auto it = FFiles.find(Resolve(cwd, arg));
            reply(it == FFiles.end() ? "550 no such file" : "213 " + std::to_string(it->second.size()));
        } else if (verb == "EPSV" || verb == "PASV") {
            passive = std::make_unique<LoopbackListener>();
            int port = passive->Port();
            if (verb == "EPSV")
                reply("229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)");
            else
                reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
                      std::to_string(port % 256) + ")");
        } else if (verb == "RETR") {
            std::string content;
            bool found;
            {
                std::lock_guard<std::mutex> lock(FMutex);
                auto it = FFiles.find(Resolve(cwd, arg));
                found = it != FFiles.end();
                if (found) content = it->second;
            }
            if (!found || !passive) {
                reply("550 no such file");
                continue;
            }
            int data = passive->Accept(10000);
            reply("150 Opening BINARY mode data connection for " + arg + " (" + std::to_string(content.size()) +
                  " bytes)");
            if (data >= 0) {
                SendAll(data, content);
                ::close(data);
            }
            passive.reset();
            reply("226 transfer complete");
        } else if (verb == "QUIT") {
            reply("221 bye");
            return;
        } else {
            reply("502 not implemented");
        }
    }
}

}  // namespace ostra::test
