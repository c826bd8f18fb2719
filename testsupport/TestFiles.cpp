// Temporary folders and forked child processes for the tests of every folder.
#include "testsupport/TestFiles.h"

#include "platform/Random.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ostra::test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/ostra-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
    std::filesystem::permissions(FPath, std::filesystem::perms(0755));
}

TempDir::~TempDir() {
    std::error_code ec;
    // Files with the read-only attribute are removed as well (std::filesystem ignores modes).
    std::filesystem::remove_all(FPath, ec);
}

Child::Child(std::function<int(Child&)> body) {
    // A message to a side that has gone must not end the test program with SIGPIPE: the write
    // fails instead and the next Receive reports the end.
    signal(SIGPIPE, SIG_IGN);
    int toChild[2], toParent[2];
    if (pipe(toChild) != 0 || pipe(toParent) != 0) throw std::runtime_error("pipe failed");
    FPid = fork();
    if (FPid < 0) throw std::runtime_error("fork failed");
    if (FPid == 0) {
        close(toChild[1]);
        close(toParent[0]);
        FRead = toChild[0];
        FWrite = toParent[1];
        for (int fd = 3; fd < 4096; ++fd)
            if (fd != FRead && fd != FWrite) close(fd);
        // A child must not draw the same random numbers as its parent (lock retries pick bytes).
        platform::Randomize();
        int code = 99;
        try {
            code = body(*this);
        } catch (const std::exception& e) {
            // The parent sees only the exit code: say what went wrong where the test log shows it.
            std::fprintf(stderr, "child %d: %s\n", int(getpid()), e.what());
            code = 98;
        } catch (...) {
            code = 98;
        }
        _exit(code);
    }
    close(toChild[0]);
    close(toParent[1]);
    FRead = toParent[0];
    FWrite = toChild[1];
}

Child::~Child() {
    if (FPid > 0 && !FWaited) Kill();
    if (FRead >= 0) close(FRead);
    if (FWrite >= 0) close(FWrite);
}

void Child::Send(char message) {
    if (write(FWrite, &message, 1) != 1) {
        // The other side has gone; Receive on that side reports it.
    }
}

char Child::Receive() {
    char message = 0;
    ssize_t n;
    do {
        n = read(FRead, &message, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1 ? message : '\0';
}

int Child::Wait() {
    if (!FWaited) {
        while (waitpid(FPid, &FStatus, 0) < 0 && errno == EINTR) {
        }
        FWaited = true;
    }
    if (WIFEXITED(FStatus)) return WEXITSTATUS(FStatus);
    if (WIFSIGNALED(FStatus)) return 128 + WTERMSIG(FStatus);
    return -1;
}

bool Child::Ended() {
    if (!FWaited && waitpid(FPid, &FStatus, WNOHANG) == FPid) FWaited = true;
    return FWaited;
}

int Child::Kill() {
    if (!FWaited) kill(FPid, SIGKILL);
    return Wait();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteAll(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

std::string Crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace ostra::test
