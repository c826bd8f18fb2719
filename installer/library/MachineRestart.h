// What a restart of the machine would do, performed on request: the host is never restarted, so
// the restart tool (installer/machine) or a test calls PerformMachineRestart where Windows would
// have restarted.
//
// A restart, in this order:
//   1. On the Windows 9x family: the section "[rename]" of "WININIT.INI" in the Windows folder,
//      line by line: "NUL=<file>" deletes the file, "<target>=<file>" moves the file over the
//      target; then "WININIT.INI" becomes "WININIT.BAK".
//   2. On the NT family: the pending operations (WinMoveFileEx with WinMoveDelayUntilReboot), in
//      the order they were recorded; then the record is emptied.
//   3. The recorded restart requests are forgotten (platform/Machine.h).
//   4. The RunOnce entries ("\Software\Microsoft\Windows\CurrentVersion\RunOnce") of
//      HKEY_LOCAL_MACHINE, then those of HKEY_CURRENT_USER, each in the order written: the value is
//      deleted, then its command line is started the Windows way (SplitProgramFromCommandLine,
//      cmp_TProgramLauncher.h) and waited for, at most runOnceWaitMs each.
// A step that fails is reported and the restart goes on with the next one, as Windows does.
//
// The pending operations are kept in the registry, one binary value per operation below
// HKEY_LOCAL_MACHINE "\SYSTEM\CurrentControlSet\Control\Session Manager\PendingFileRenameOperations",
// in the order written: the source path, a zero byte, the target path ("" to delete the source;
// with a leading "!" an existing target is replaced), a zero byte.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ostra {

// One operation that waits for the next restart.
struct TPendingOperation {
    std::string Source;
    std::string Target;  // "" deletes Source
    bool Replace = false;
};

// True when this Windows version keeps pending operations (the NT family).
bool PendingOperationsSupported();
// Records an operation for the next restart; false (last error set) when it cannot be recorded.
bool AddPendingOperation(const std::string& source, const std::string& target, bool replace);
// The operations recorded, in order.
std::vector<TPendingOperation> PendingOperations();

// What a restart did: one line per step ("deleted C:\x", "could not move ...: <reason>").
struct TRestartReport {
    std::vector<std::string> Lines;
    bool Failed = false;  // some step could not be done
};

// Performs a restart (see above).
TRestartReport PerformMachineRestart(uint32_t runOnceWaitMs = 600000);

}  // namespace ostra
