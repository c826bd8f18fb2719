// Programs started on posix_spawn, Windows command-line splitting and start errors.
#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/File.h"

extern char** environ;

namespace ostra::platform {
namespace {

// The descriptor number the ready-for-input report uses in a started program.
constexpr int IdleFdInChild = 3;

const char* ShowName(ShowWindow show) {
    switch (show) {
        case ShowWindow::Maximized: return "maximized";
        case ShowWindow::Minimized: return "minimized";
        case ShowWindow::Hide: return "hide";
        case ShowWindow::Normal: break;
    }
    return "normal";
}

// The environment for a started program: this process's, with the two variables set anew. The
// report variable names the descriptor and the pipe's inode, so that a program that inherited the
// variable from further up never writes to a descriptor that is not the pipe.
std::vector<std::string> ChildEnvironment(ShowWindow show, ino_t pipeInode) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        if (entry.rfind("OSTRA_INPUT_IDLE_FD=", 0) == 0 || entry.rfind("OSTRA_SHOW_WINDOW=", 0) == 0) continue;
        env.push_back(entry);
    }
    env.push_back("OSTRA_INPUT_IDLE_FD=" + std::to_string(IdleFdInChild) + ":" + std::to_string(pipeInode));
    env.push_back(std::string("OSTRA_SHOW_WINDOW=") + ShowName(show));
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& t : texts) pointers.push_back(t.data());
    pointers.push_back(nullptr);
    return pointers;
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

int StartErrorOf(int error, const std::string& program) {
    switch (error) {
        case ENOENT: {
            size_t slash = program.find_last_of('/');
            std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : program.substr(0, slash);
            struct stat st {};
            return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ErrorFileNotFound : ErrorPathNotFound;
        }
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP: return ErrorPathNotFound;
        case EACCES:
        case EPERM:
        case ETXTBSY: return ErrorAccessDenied;
        case ENOMEM:
        case E2BIG: return ErrorNotEnoughMemory;
        case ENOEXEC: return ErrorBadFormat;
        default: return ErrorApplicationBit | error;
    }
}

std::vector<std::string> SplitCommandLineArguments(const std::string& commandLine) {
    std::vector<std::string> arguments;
    size_t i = 0, n = commandLine.size();
    for (;;) {
        while (i < n && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
        if (i >= n) break;
        std::string argument;
        bool quoted = false;
        while (i < n && (quoted || (commandLine[i] != ' ' && commandLine[i] != '\t'))) {
            if (commandLine[i] == '\\') {
                size_t slashes = 0;
                while (i < n && commandLine[i] == '\\') ++slashes, ++i;
                if (i < n && commandLine[i] == '"') {
                    argument.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                } else {
                    argument.append(slashes, '\\');
                }
            } else if (commandLine[i] == '"') {
                if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument += commandLine[i++];
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

std::string QuoteCommandLineArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        quoted.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        quoted += c;
    }
    quoted.append(slashes * 2, '\\');
    return quoted + "\"";
}

bool Process::Start(const std::string& program, const std::vector<std::string>& arguments, ShowWindow show, int& error) {
    Release();
    error = 0;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = StartErrorOf(errno, program);
        return false;
    }
    // Keep both ends away from the low numbers the child's report descriptor takes.
    int readFd = fcntl(pipeFds[0], F_DUPFD_CLOEXEC, 10), writeFd = fcntl(pipeFds[1], F_DUPFD_CLOEXEC, 10);
    close(pipeFds[0]);
    close(pipeFds[1]);

    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    struct stat pipeStat {};
    fstat(writeFd, &pipeStat);
    std::vector<std::string> env = ChildEnvironment(show, pipeStat.st_ino);
    std::vector<char*> argvPointers = Pointers(argv), envPointers = Pointers(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeFd, IdleFdInChild);
    posix_spawn_file_actions_addclosefrom_np(&actions, IdleFdInChild + 1);
    pid_t pid = -1;
    // A program file that some handle has open for writing cannot be started (ETXTBSY). The
    // platform's file handles hold a writable lock descriptor even while they only read (a copy
    // of the program, say), so that state passes quickly: try again for a short while.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(2000);
    int result;
    while ((result = posix_spawn(&pid, program.c_str(), &actions, nullptr, argvPointers.data(), envPointers.data())) ==
               ETXTBSY &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    posix_spawn_file_actions_destroy(&actions);
    close(writeFd);
    if (result != 0) {
        close(readFd);
        error = StartErrorOf(result, program);
        return false;
    }
    FPid = pid;
    FIdleFd = readFd;
    return true;
}

bool Process::WaitForInputIdle(uint32_t timeoutMs) {
    if (FIdleFd < 0) return true;
    pollfd p{FIdleFd, POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return false;
        int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        close(FIdleFd);
        FIdleFd = -1;
        return true;
    }
}

bool Process::WaitForExit(uint32_t timeoutMs, int& exitCode) {
    if (FPid <= 0) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int status = 0;
        pid_t done = waitpid(FPid, &status, WNOHANG);
        if (done == FPid) {
            exitCode = ExitCodeOf(status);
            FPid = -1;
            if (FIdleFd >= 0) close(FIdleFd);
            FIdleFd = -1;
            return true;
        }
        if (done < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

void Process::Release() {
    if (FIdleFd >= 0) close(FIdleFd);
    FIdleFd = -1;
    if (FPid > 0) {
        pid_t pid = FPid;
        std::thread([pid] {
            int status;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    FPid = -1;
}

void ReportInputIdle() {
    const char* variable = std::getenv("OSTRA_INPUT_IDLE_FD");
    if (!variable || !*variable) return;
    std::string text = variable;
    unsetenv("OSTRA_INPUT_IDLE_FD");
    size_t colon = text.find(':');
    if (colon == std::string::npos) return;
    int fd = std::atoi(text.substr(0, colon).c_str());
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode) || std::to_string(st.st_ino) != text.substr(colon + 1)) return;
    char ready = 'I';
    ssize_t written;
    do {
        written = write(fd, &ready, 1);
    } while (written < 0 && errno == EINTR);
    close(fd);
}

ShowWindow StartupShowWindow() {
    const char* show = std::getenv("OSTRA_SHOW_WINDOW");
    std::string name = show ? show : "";
    if (name == "maximized") return ShowWindow::Maximized;
    if (name == "minimized") return ShowWindow::Minimized;
    if (name == "hide") return ShowWindow::Hide;
    return ShowWindow::Normal;
}

bool HoldProgramFileOpen() {
    static File* own = nullptr;
    if (own) return true;
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return false;
    path[length] = '\0';
    auto* file = new File;  // kept for the life of the process
    if (!file->Open(path, FileAccess::Read, FileShare::DenyWrite, FileCreate::OpenExisting)) {
        delete file;
        return false;
    }
    own = file;
    return true;
}

}  // namespace ostra::platform
