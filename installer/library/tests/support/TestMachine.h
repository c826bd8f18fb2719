// A machine of its own for one test: a temporary machine folder (registry, drives, restart
// record) that the environment names for this process and every process it starts, and the
// Windows version it reports.
#pragma once
#include <string>

#include "testsupport/TestFiles.h"

namespace ostra::test {

// Points OSTRA_MACHINE at a fresh temporary folder and reports Windows XP until destroyed, when
// the previous settings come back.
class TestMachine {
public:
    TestMachine();
    ~TestMachine();
    TestMachine(const TestMachine&) = delete;
    TestMachine& operator=(const TestMachine&) = delete;

    // The machine folder.
    const std::string& Root() const { return FDir.Path(); }
    // The native path of a file in the machine folder.
    std::string File(const std::string& name) const { return FDir.File(name); }
    // Makes the machine report another Windows version ("98", "2000" ...).
    void SetWindowsVersion(const std::string& name);
    // The canonical text of a registry key and everything below it ("" when it is missing).
    static std::string RegistryText(int rootIndex, const std::string& path);

private:
    TempDir FDir;
    std::string FOldMachine, FOldVersion;
    bool FHadMachine = false, FHadVersion = false;
};

// A test machine whose fixture programs log to one file (FIXTURE_LOG) for the test's lifetime.
class FixtureMachine : public TestMachine {
public:
    FixtureMachine();
    ~FixtureMachine();
    const std::string& LogPath() const { return FLog; }
    // What the fixtures logged so far.
    std::string Log() const;
    // Waits until the log holds text, at most timeoutMs; a test that leaves a fixture running
    // waits for its end this way, so that it writes nothing into the folder being removed.
    bool WaitForLog(const std::string& text, int timeoutMs = 20000) const;

private:
    std::string FLog;
};

#ifdef OSTRA_FIXTURE_DIR
// The native path of a program or library that the build made for the tests.
inline std::string FixturePath(const std::string& name) { return std::string(OSTRA_FIXTURE_DIR) + "/" + name; }
#endif

// Writes a file at a Windows-form path, creating its folder; false when that fails.
bool PutWinFile(const std::string& path, const std::string& text);

// A child process that holds a file (Windows-form path) open through platform/File until
// Release, so that the file is in use for every other handle.
class FileHolder {
public:
    explicit FileHolder(const std::string& path);
    // Lets the file go; the child's exit code (0 when it held the file).
    int Release();

private:
    Child FChild;
    bool FHolding = false;
};

}  // namespace ostra::test
