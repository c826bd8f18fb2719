// Questions to the system that the installer library, the setup program and the uninstaller ask:
// the Windows version, short paths, temporary files, the system and Windows folders.
#pragma once
#include <string>

#include "host/Set.h"

namespace ostra {

// Windows version codes (a component's OS set is a set of these).
enum TOSVerType { os31win32, oswin95, oswinNT, oswinNT351, osUnidentified, osLinux, oswin2K, oswin98, oswinME, oswinXP };
using OSSet = TSet<TOSVerType>;

// The versions of the NT family and of the 9x family.
inline constexpr OSSet NTFamily{oswinNT, oswin2K, oswinXP};
inline constexpr OSSet Win9xFamily{oswin95, oswin98, oswinME};

// The version code of the running Windows (platform/WindowsVersion.h says which one the machine
// reports): Win32s gives os31win32; the 9x platform oswinME for minor version 90, else oswin98
// (Windows 95 included); the NT platform by major version: below 4 oswinNT351, 4 oswinNT,
// 5 oswinXP for a minor version above 0 else oswin2K, above 5 osUnidentified. Raises EAPIRoutines
// "Could not get information about the current version of Windows" when the question fails.
TOSVerType GetWindowsVersionCode();

// The short (8.3) form of a path. A path that has no short form (a file or folder that does not
// exist) comes back unchanged: callers look a registry value up under the short form and then
// under the long path, and the long path finds what that second lookup would find.
std::string GetShortPath(const std::string& path);

// A unique file name in the temporary folder, "bat" and four hexadecimal digits with ".tmp"; the
// file created for the name is deleted again unless keep is set. Raises EAPIRoutines "Cannot
// create a temporary file".
std::string GetTempFilePath(bool keep);

// The Windows system folder / the Windows folder (WinMachine.h). Raise EAPIRoutines "Could not
// retrieve the system directroy from windows" / "Could not retrieve the windows directory from
// windows" when the folder cannot be had.
std::string GetSystemDir();
std::string GetWindowsDir();

}  // namespace ostra
