// Test helpers shared by every folder's tests: a temporary folder removed afterwards, a forked child process
// that talks to the test through a pair of pipes (one character per message), and file contents.
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>

namespace ostra::test {

// A fresh folder under the system temp folder; removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return FPath; }
    // Path of a file name inside the folder.
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

// A child process running body(child) and then exiting with the code body returns (98 when it
// throws). The child first closes every inherited descriptor except its pipes, so that it shares
// no open file description (and no lock) with the test, and re-seeds the random generator.
// Send/Receive work from either side; a Send to a side that has gone does nothing (SIGPIPE is
// ignored in the test program).
class Child {
public:
    explicit Child(std::function<int(Child&)> body);
    ~Child();  // kills the child if it still runs
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    void Send(char message);
    // The next message from the other side; '\0' when the other side has gone.
    char Receive();
    // Waits for the child's end; its exit code, or 128 + signal.
    int Wait();
    // True when the child has ended (Wait then answers at once); does not wait.
    bool Ended();
    // Kills the child at once (SIGKILL) and waits for it.
    int Kill();
    pid_t Pid() const { return FPid; }

private:
    pid_t FPid = -1;
    int FRead = -1;
    int FWrite = -1;
    bool FWaited = false;
    int FStatus = 0;
};

// Reads a whole file into a string ("" when it cannot be read).
std::string ReadAll(const std::string& path);
// Writes a whole file, replacing it.
void WriteAll(const std::string& path, const std::string& contents);
// Text with every "\n" turned into "\r\n" (golden texts of stored component text).
std::string Crlf(const std::string& text);

}  // namespace ostra::test
