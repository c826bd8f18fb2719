// A temporary machine for one test.
#include "installer/library/tests/support/TestMachine.h"

#include <stdlib.h>

#include <chrono>
#include <thread>

#include "installer/library/WinFileSystem.h"
#include "platform/File.h"
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

FixtureMachine::FixtureMachine() : FLog(File("fixture.log")) { setenv("FIXTURE_LOG", FLog.c_str(), 1); }

FixtureMachine::~FixtureMachine() { unsetenv("FIXTURE_LOG"); }

std::string FixtureMachine::Log() const { return ReadAll(FLog); }

bool FixtureMachine::WaitForLog(const std::string& text, int timeoutMs) const {
    for (int waited = 0; Log().find(text) == std::string::npos; waited += 20) {
        if (waited >= timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool PutWinFile(const std::string& path, const std::string& text) {
    size_t cut = path.find_last_of('\\');
    if (cut != std::string::npos && !WinForceDirectories(path.substr(0, cut))) return false;
    std::string native = WinToNative(path);
    if (native.empty()) return false;
    WriteAll(native, text);
    return true;
}

FileHolder::FileHolder(const std::string& path)
    : FChild([native = WinToNative(path)](Child& self) {
          platform::File file;
          if (!file.Open(native, platform::FileAccess::Read, platform::FileShare::DenyNone, platform::FileCreate::OpenExisting))
              return 1;
          self.Send('o');
          self.Receive();
          return 0;
      }) {
    FHolding = FChild.Receive() == 'o';
}

int FileHolder::Release() {
    if (FHolding) FChild.Send('x');
    FHolding = false;
    return FChild.Wait();
}

}  // namespace ostra::test
