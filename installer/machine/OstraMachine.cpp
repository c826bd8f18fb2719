// OstraMachine: the tool of the stand-in machine (platform/Machine.h) that the installer, the
// setup program and the uninstaller run on. It does what the machine itself would do where the
// host cannot: perform a restart, and show the registry.
//
//   OstraMachine restart                  performs what a restart of the machine would do
//                                         (installer/library/MachineRestart.h) and prints a line
//                                         per step; exit code 1 when a step failed
//   OstraMachine registry [ROOT [KEY]]    prints the registry, or one key and everything below it,
//                                         in its canonical text (ROOT: 0-5 or a root's name)
//
// The machine is the one named by OSTRA_MACHINE, the Windows version the one named by
// OSTRA_WINDOWS_VERSION (see platform/Machine.h and platform/WindowsVersion.h).
#include <cstdio>
#include <string>

#include "installer/library/MachineRestart.h"
#include "platform/Registry.h"

using namespace ostra;

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: OstraMachine restart\n"
                 "       OstraMachine registry [ROOT [KEY]]\n");
    return 2;
}

int Restart() {
    TRestartReport report = PerformMachineRestart();
    for (const std::string& line : report.Lines) std::printf("%s\n", line.c_str());
    return report.Failed ? 1 : 0;
}

int Registry(int argc, char** argv) {
    int root = -1;
    if (argc > 2) {
        std::string name = argv[2];
        for (int i = 0; i < platform::RegistryRootCount; ++i)
            if (name == std::to_string(i) || name == platform::RegistryRootName(i)) root = i;
        if (root < 0) return Usage();
    }
    std::string text;
    long result = platform::RegistryDump(text, root, argc > 3 ? argv[3] : "");
    if (result != platform::regOk) {
        std::fprintf(stderr, "OstraMachine: the registry could not be read (error %ld)\n", result);
        return 1;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "restart" && argc == 2) return Restart();
    if (command == "registry" && argc <= 4) return Registry(argc, argv);
    return Usage();
}
