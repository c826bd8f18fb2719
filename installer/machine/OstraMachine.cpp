// OstraMachine: the tool of the stand-in machine (platform/Machine.h) that the installer, the
// setup program and the uninstaller run on. It does what the machine itself would do where the
// host cannot: perform a restart, run batch files and command lines, and show the registry.
//
//   OstraMachine restart [SECONDS]        performs what a restart of the machine would do
//                                         (installer/library/MachineRestart.h) and prints a line
//                                         per step; each RunOnce program is waited for at most
//                                         SECONDS (600); exit code 1 when a step failed
//   OstraMachine batch FILE               runs a batch file (installer/library/WinBatch.h); FILE is
//                                         a Windows-form path; exit code 1 when a line failed
//   OstraMachine run COMMANDLINE          starts a command line the Windows way, as Windows runs the
//                                         "UninstallString" of the uninstall record, and waits
//                                         until the program is ready for input
//   OstraMachine registry [ROOT [KEY]]    prints the registry, or one key and everything below it,
//                                         in its canonical text (ROOT: 0-5 or a root's name)
//
// The machine is the one named by OSTRA_MACHINE, the Windows version the one named by
// OSTRA_WINDOWS_VERSION (see platform/Machine.h and platform/WindowsVersion.h).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "installer/library/MachineRestart.h"
#include "installer/library/WinBatch.h"
#include "installer/library/cmp_TProgramLauncher.h"
#include "installer/library/routines_Exceptions.h"
#include "platform/Process.h"
#include "platform/Registry.h"

using namespace ostra;

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: OstraMachine restart [SECONDS]\n"
                 "       OstraMachine batch FILE\n"
                 "       OstraMachine run COMMANDLINE\n"
                 "       OstraMachine registry [ROOT [KEY]]\n");
    return 2;
}

int Restart(int argc, char** argv) {
    uint32_t seconds = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 600;
    TRestartReport report = PerformMachineRestart(seconds * 1000);
    for (const std::string& line : report.Lines) std::printf("%s\n", line.c_str());
    return report.Failed ? 1 : 0;
}

int Batch(const std::string& path) {
    TBatchReport report = RunBatchFile(path);
    for (const std::string& line : report.Errors) std::fprintf(stderr, "%s\n", line.c_str());
    return report.Failed() ? 1 : 0;
}

int Run(const std::string& commandLine) {
    std::string program, parameters;
    SplitProgramFromCommandLine(commandLine, program, parameters);
    TProgramLauncher launcher(nullptr);
    launcher.SetFileName(program);
    launcher.SetParameters(parameters);
    try {
        launcher.Execute();
    } catch (const EProgramLauncherFailed& e) {
        std::fprintf(stderr, "OstraMachine: %s: %s\n", program.c_str(), e.Message().c_str());
        return 1;
    }
    return 0;
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
    // The tool has no message loop: it is ready for input at once.
    ostra::platform::ReportInputIdle();
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "restart" && argc <= 3) return Restart(argc, argv);
    if (command == "batch" && argc >= 3) return Batch(argv[2]);
    if (command == "run" && argc == 3) return Run(argv[2]);
    if (command == "registry" && argc <= 4) return Registry(argc, argv);
    return Usage();
}
