// Starting programs as the Windows process services do it, on posix_spawn: a native program started
// with an argument list split from a Windows command line, the show state of its first window,
// the wait until it is ready for input, the wait for its end with its exit code, and the errors
// of a failed start as Windows numbers them.
//
// Ready for input. A started program learns from the environment variable OSTRA_INPUT_IDLE_FD the
// descriptor (and the inode of the pipe behind it) on which it reports that it is ready
// (ReportInputIdle): a program with a message loop
// when the loop first waits for input, a program without one at its start. The starter's
// WaitForInputIdle returns when the report comes, when the program ends (the descriptor closes) or
// when the time is up, so a program that never reports costs at most that time.
//
// Show state. The program learns it from OSTRA_SHOW_WINDOW ("normal", "maximized", "minimized",
// "hide"; StartupShowWindow).
//
// Inheritance. The program gets the starter's environment and current directory, its standard
// input, output and error, and no other descriptor.
//
// A started program's process is reaped by the starter: WaitForExit, or Release, which leaves it
// running and reaps it in the background when it ends.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ostra::platform {

enum class ShowWindow { Normal, Maximized, Minimized, Hide };

// Windows error numbers of a failed start, from the host's errno.
inline constexpr int ErrorFileNotFound = 2;       // ENOENT, with the program's folder present
inline constexpr int ErrorPathNotFound = 3;       // ENOENT without the folder, ENOTDIR, ENAMETOOLONG, ELOOP
inline constexpr int ErrorAccessDenied = 5;       // EACCES, EPERM, ETXTBSY (the file is being written)
inline constexpr int ErrorNotEnoughMemory = 8;    // ENOMEM, E2BIG
inline constexpr int ErrorBadFormat = 11;         // ENOEXEC: not a program the host can run
// Any other errno e comes back as ErrorApplicationBit | e (the bit Windows leaves to applications).
inline constexpr int ErrorApplicationBit = 0x20000000;

// The Windows error number of a start that failed with errno error for program.
int StartErrorOf(int error, const std::string& program);

// Splits a Windows command line into arguments by the rules of Windows programs: blanks and tabs
// separate arguments; double quotes group (and are removed); inside quotes "" stands for one
// quote; 2n backslashes before a quote stand for n backslashes (the quote groups), 2n+1 for n
// backslashes and a literal quote; other backslashes are literal.
std::vector<std::string> SplitCommandLineArguments(const std::string& commandLine);
// The argument as it must stand in a command line to split back into itself.
std::string QuoteCommandLineArgument(const std::string& argument);

// One started program.
class Process {
public:
    Process() = default;
    ~Process() { Release(); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts program (a native path) with the arguments (argv[1]...). False when it could not be
    // started; error then holds the Windows error number (StartErrorOf). A program file that is
    // open for writing is tried again for up to 2 seconds before the start fails.
    bool Start(const std::string& program, const std::vector<std::string>& arguments, ShowWindow show, int& error);
    // Waits until the program reported that it is ready for input or ended, at most timeoutMs;
    // false when the time ran out first.
    bool WaitForInputIdle(uint32_t timeoutMs);
    // Waits until the program ended, at most timeoutMs; true with its exit code (128 + the signal
    // for a program killed by one), false when it still runs.
    bool WaitForExit(uint32_t timeoutMs, int& exitCode);
    // Forgets the program, which goes on running; it is reaped when it ends.
    void Release();

    pid_t Pid() const { return FPid; }

private:
    pid_t FPid = -1;
    int FIdleFd = -1;
};

// In a started program: reports that it is ready for input (once; later calls do nothing).
void ReportInputIdle();
// In a started program: the show state its starter asked for (Normal when none).
ShowWindow StartupShowWindow();
// Keeps the running program's own file open through platform/File for the rest of the process,
// so that it is in use (cannot be deleted or replaced) while the program runs, as on Windows.
bool HoldProgramFileOpen();

}  // namespace ostra::platform
