// A temporary machine for one test.
#include "installer/library/tests/support/TestMachine.h"

#include <stdlib.h>

#include "platform/Registry.h"
#include "platform/WindowsVersion.h"

namespace ostra::test {
namespace {

bool Remember(const char* name, std::string& value) {
    const char* current = getenv(name);
    if (current) value = current;
    return current != nullptr;
}

void Restore(const char* name, bool had, const std::string& value) {
    if (had)
        setenv(name, value.c_str(), 1);
    else
        unsetenv(name);
}

}  // namespace

TestMachine::TestMachine() {
    FHadMachine = Remember("OSTRA_MACHINE", FOldMachine);
    FHadVersion = Remember("OSTRA_WINDOWS_VERSION", FOldVersion);
    setenv("OSTRA_MACHINE", FDir.Path().c_str(), 1);
    unsetenv("OSTRA_WINDOWS_VERSION");
}

TestMachine::~TestMachine() {
    Restore("OSTRA_MACHINE", FHadMachine, FOldMachine);
    Restore("OSTRA_WINDOWS_VERSION", FHadVersion, FOldVersion);
}

void TestMachine::SetWindowsVersion(const std::string& name) { platform::SetWindowsVersion(name); }

std::string TestMachine::RegistryText(int rootIndex, const std::string& path) {
    std::string text;
    platform::RegistryDump(text, rootIndex, path);
    return text;
}

}  // namespace ostra::test
