// The pending operations and the restart.
#include "installer/library/MachineRestart.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "host/SysUtils.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/WinMachine.h"
#include "installer/library/cmp_TProgramLauncher.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Exceptions.h"
#include "platform/LastError.h"
#include "platform/Machine.h"
#include "platform/Registry.h"

namespace ostra {

using namespace platform;

namespace {

constexpr const char* PendingKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\PendingFileRenameOperations";

bool IsNineX() {
    try {
        return Win9xFamily.Contains(GetWindowsVersionCode());
    } catch (const Exception&) {
        return false;
    }
}

// Runs one file operation and reports it.
void Perform(TRestartReport& report, const TPendingOperation& op) {
    bool ok = op.Target.empty() ? WinDeleteFile(op.Source)
                                : WinMoveFileEx(op.Source, op.Target, op.Replace ? WinMoveReplaceExisting | WinMoveCopyAllowed
                                                                                : WinMoveCopyAllowed);
    std::string what = op.Target.empty() ? "delete " + op.Source : "move " + op.Source + " to " + op.Target;
    if (ok) {
        report.Lines.push_back(op.Target.empty() ? "deleted " + op.Source : "moved " + op.Source + " to " + op.Target);
    } else {
        report.Lines.push_back("could not " + what + ": " + SysErrorMessage(GetLastError()));
        report.Failed = true;
    }
}

// The operations of "[rename]" in WININIT.INI, in order.
std::vector<TPendingOperation> WininitOperations(const std::string& native) {
    std::vector<TPendingOperation> ops;
    std::ifstream in(native, std::ios::binary);
    bool inRename = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string text = Trim(line);
        if (!text.empty() && text[0] == '[') {
            inRename = SameText(text, "[rename]");
            continue;
        }
        size_t eq = text.find('=');
        if (!inRename || eq == std::string::npos) continue;
        std::string target = Trim(text.substr(0, eq)), source = Trim(text.substr(eq + 1));
        if (source.empty()) continue;
        ops.push_back({source, SameText(target, "NUL") ? "" : target, true});
    }
    return ops;
}

// Runs the RunOnce entries of one root, deleting each before it runs.
void RunOnce(TRestartReport& report, HKEY root, uint32_t waitMs) {
    HKEY key = 0;
    if (RegistryOpenKey(root, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", RegistryAccess::ReadWrite, key) != regOk)
        return;
    std::vector<std::string> names;
    RegistryValueNames(key, names);
    for (const std::string& name : names) {
        RegistryValue value;
        if (RegistryQueryValue(key, name, value) != regOk || RegistryDeleteValue(key, name) != regOk) continue;
        if (value.Type != regString) continue;
        TProgramLauncher launcher(nullptr);
        std::string program, parameters;
        SplitProgramFromCommandLine(value.Data, program, parameters);
        launcher.SetFileName(program);
        launcher.SetParameters(parameters);
        try {
            int exitCode = 0;
            if (launcher.ExecuteAndWait(waitMs, exitCode)) {
                report.Lines.push_back("ran " + value.Data + ": exit code " + std::to_string(exitCode));
            } else {
                report.Lines.push_back("still running after " + std::to_string(waitMs / 1000) + " seconds: " + value.Data);
                report.Failed = true;
            }
        } catch (const EProgramLauncherFailed& e) {
            report.Lines.push_back("could not run " + value.Data + ": " + e.Message());
            report.Failed = true;
        }
    }
    RegistryCloseKey(key);
}

}  // namespace

bool PendingOperationsSupported() { return !IsNineX(); }

bool AddPendingOperation(const std::string& source, const std::string& target, bool replace) {
    HKEY key = 0;
    if (RegistryCreateKey(HKEY_LOCAL_MACHINE, PendingKey, key) != regOk) return false;
    // A name of its own for every operation: the time in nanoseconds and the process.
    auto now = std::chrono::system_clock::now().time_since_epoch();
    char name[48];
    snprintf(name, sizeof name, "%016llx-%x",
             static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
             static_cast<unsigned>(getpid()));
    std::string data = source + '\0' + (replace && !target.empty() ? "!" : "") + target + '\0';
    bool ok = RegistrySetValue(key, name, RegistryValue::Binary(data)) == regOk;
    RegistryCloseKey(key);
    return ok;
}

std::vector<TPendingOperation> PendingOperations() {
    std::vector<TPendingOperation> ops;
    HKEY key = 0;
    if (RegistryOpenKey(HKEY_LOCAL_MACHINE, PendingKey, RegistryAccess::Read, key) != regOk) return ops;
    std::vector<std::string> names;
    RegistryValueNames(key, names);
    for (const std::string& name : names) {
        RegistryValue value;
        if (RegistryQueryValue(key, name, value) != regOk) continue;
        size_t cut = value.Data.find('\0');
        if (cut == std::string::npos) continue;
        TPendingOperation op;
        op.Source = value.Data.substr(0, cut);
        std::string target = value.Data.substr(cut + 1);
        if (!target.empty() && target.back() == '\0') target.pop_back();
        op.Replace = !target.empty() && target[0] == '!';
        op.Target = op.Replace ? target.substr(1) : target;
        ops.push_back(op);
    }
    RegistryCloseKey(key);
    return ops;
}

TRestartReport PerformMachineRestart(uint32_t runOnceWaitMs) {
    TRestartReport report;
    EnsureMachinePrepared();
    if (IsNineX()) {
        std::string wininit = WinWindowsDir() + "\\WININIT.INI";
        if (WinFileExists(wininit)) {
            for (const TPendingOperation& op : WininitOperations(WinToNative(wininit))) Perform(report, op);
            WinMoveFileEx(wininit, WinWindowsDir() + "\\WININIT.BAK", WinMoveReplaceExisting);
        }
    } else {
        for (const TPendingOperation& op : PendingOperations()) Perform(report, op);
        HKEY key = 0;
        if (RegistryOpenKey(HKEY_LOCAL_MACHINE, PendingKey, RegistryAccess::ReadWrite, key) == regOk) {
            std::vector<std::string> names;
            RegistryValueNames(key, names);
            for (const std::string& name : names) RegistryDeleteValue(key, name);
            RegistryCloseKey(key);
        }
    }
    ClearRestartRequests();
    RunOnce(report, HKEY_LOCAL_MACHINE, runOnceWaitMs);
    RunOnce(report, HKEY_CURRENT_USER, runOnceWaitMs);
    return report;
}

}  // namespace ostra
