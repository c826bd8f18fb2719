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

}  // namespace ostra::test
