// The program launcher on the platform's process services.
#include "installer/library/cmp_TProgramLauncher.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_Exceptions.h"
#include "platform/Process.h"

#ifndef OSTRA_MACHINE_TOOL_PATH
#define OSTRA_MACHINE_TOOL_PATH "OstraMachine"
#endif

namespace ostra {

namespace {

const char* const ShowModeNames[] = {"smNormal", "smMaximized", "smMinimized", "smHide"};

[[maybe_unused]] const bool kPublished =
    Publish<TProgramLauncher, TComponent>()
        .String("Action", &TProgramLauncher::Action, &TProgramLauncher::SetAction)
        .Default(std::string("Open"))
        .String("FileName", &TProgramLauncher::FileName, &TProgramLauncher::SetFileName)
        .String("Parameters", &TProgramLauncher::Parameters, &TProgramLauncher::SetParameters)
        .Enum("ShowMode", &TProgramLauncher::ShowMode, &TProgramLauncher::SetShowMode, ShowModeNames)
        .Default(smNormal)
        .String("StartDir", &TProgramLauncher::StartDir, &TProgramLauncher::SetStartDir)
        .Integer("Timeout", &TProgramLauncher::Timeout, &TProgramLauncher::SetTimeout)
        .Default(-1)
        .Boolean("Wait", &TProgramLauncher::Wait, &TProgramLauncher::SetWait)
        .Default(true);

platform::ShowWindow ShowOf(TplShowMode mode) {
    switch (mode) {
        case smMaximized: return platform::ShowWindow::Maximized;
        case smMinimized: return platform::ShowWindow::Minimized;
        case smHide: return platform::ShowWindow::Hide;
        case smNormal: break;
    }
    return platform::ShowWindow::Normal;
}

bool IsBatchFile(const std::string& fileName) {
    size_t dot = fileName.find_last_of(".\\/");
    if (dot == std::string::npos || fileName[dot] != '.') return false;
    std::string ext = UpperCase(fileName.substr(dot));
    return ext == ".BAT" || ext == ".CMD";
}

// Starts fileName with parameters; raises EProgramLauncherFailed when that fails.
void Start(platform::Process& process, const std::string& fileName, const std::string& parameters, TplShowMode show) {
    std::vector<std::string> arguments = platform::SplitCommandLineArguments(parameters);
    std::string program;
    if (IsBatchFile(fileName)) {
        program = MachineToolPath();
        arguments.insert(arguments.begin(), {"batch", WinExpandFileName(fileName)});
    } else {
        program = WinToNative(fileName);
    }
    int error = platform::ErrorPathNotFound;
    if (program.empty() || !process.Start(program, arguments, ShowOf(show), error))
        throw EProgramLauncherFailed(LaunchErrorText(error), error);
}

bool HasExtension(const std::string& path) {
    size_t dot = path.find_last_of(".\\");
    return dot != std::string::npos && path[dot] == '.';
}

}  // namespace

TProgramLauncher::TProgramLauncher(TComponent* owner) : TComponent(owner) {}

void TProgramLauncher::Execute() {
    platform::Process process;
    Start(process, FFileName, FParameters, FShowMode);
    process.WaitForInputIdle(InputIdleWaitLimitMs);
    process.Release();
}

bool TProgramLauncher::ExecuteAndWait(uint32_t timeoutMs, int& exitCode) {
    platform::Process process;
    Start(process, FFileName, FParameters, FShowMode);
    return process.WaitForExit(timeoutMs, exitCode);
}

std::string LaunchErrorText(int code) {
    switch (code) {
        case 0:
        case 8: return "Out of memory";
        case 2: return "File not found";
        case 3: return "Path not found";
        case 5: return "Sharing violation";
        case 6: return "Library/Segment error";
        case 10: return "Incorrect version of windows";
        case 11: return "Invalid file";
        case 12:
        case 13: return "Invalid DOS version";
        case 14:
        case 31: return "File type has no association";
        case 15: return "Cannot load a Real-mode application";
        case 16: return "Invalid attempt to launch second instance";
        case 19: return "Cannot load a compressed executable file";
        case 20: return "Invalid dynamic link library";
        case 21: return "Application requires Win32";
        default: return "Unknown error";
    }
}

void SplitProgramFromCommandLine(const std::string& commandLine, std::string& program, std::string& parameters) {
    size_t start = commandLine.find_first_not_of(" \t");
    program.clear();
    parameters.clear();
    if (start == std::string::npos) return;
    auto rest = [&](size_t from) {
        size_t begin = commandLine.find_first_not_of(" \t", from);
        return begin == std::string::npos ? std::string() : commandLine.substr(begin);
    };
    if (commandLine[start] == '"') {
        size_t close = commandLine.find('"', start + 1);
        program = commandLine.substr(start + 1, close == std::string::npos ? std::string::npos : close - start - 1);
        parameters = close == std::string::npos ? "" : rest(close + 1);
        return;
    }
    size_t end = start;
    for (;;) {
        end = commandLine.find_first_of(" \t", end);
        std::string candidate = commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
        for (const std::string& name : {candidate, HasExtension(candidate) ? std::string() : candidate + ".exe"}) {
            if (!name.empty() && WinFileExists(name)) {
                program = name;
                parameters = end == std::string::npos ? "" : rest(end);
                return;
            }
        }
        if (end == std::string::npos) break;
        end = commandLine.find_first_not_of(" \t", end);
        if (end == std::string::npos) break;
    }
    size_t first = commandLine.find_first_of(" \t", start);
    program = commandLine.substr(start, first == std::string::npos ? std::string::npos : first - start);
    parameters = first == std::string::npos ? "" : rest(first);
}

std::string MachineToolPath() {
    const char* configured = std::getenv("OSTRA_MACHINE_TOOL");
    if (configured && *configured) return configured;
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string beside = std::string(self, static_cast<size_t>(length));
        beside = beside.substr(0, beside.find_last_of('/') + 1) + "OstraMachine";
        if (access(beside.c_str(), X_OK) == 0) return beside;
    }
    return OSTRA_MACHINE_TOOL_PATH;
}

}  // namespace ostra
