// What the installer and the uninstaller ask of a restart: files deleted or replaced when the
// machine next starts, and the restart itself. The Windows 9x family does this through
// "WININIT.INI" in the Windows folder, the NT family through delayed moves (WinFileSystem.h);
// MachineRestart.h performs both when the restart happens.
#pragma once
#include <string>

namespace ostra {

// Deletes a file at the next restart. On the 9x family a line "Nul=<short path>" goes right
// below the first "[RENAME]" line of "WININIT.INI" (a "[RENAME]" line is appended when there is
// none, and the file is created when it is missing; a failure to save it is ignored); on the other
// versions a delayed deletion is recorded. False when nothing could be recorded.
bool DeleteFileOnReboot(const std::string& path);

// Sets the value named target in the section "[Rename]" of "WININIT.INI" to source (an existing
// value of that name, in any case, is replaced; a new one goes to the end of the section, a
// missing section to the end of the file): the next restart of a 9x machine moves source over
// target. False when the file cannot be written.
bool SetWininitRename(const std::string& target, const std::string& source);

// Asks Windows to restart: on the 9x and NT families the request is recorded (it is never carried
// out on the host, see platform/Machine.h); on any other version the request fails (false).
bool RequestWindowsRestart();

}  // namespace ostra
