// The Windows layout of the machine (platform/Machine.h): where its Windows, system and temporary
// folders and the shell's special folders lie, and the folders and registry values a fresh
// machine is given, as a Windows XP installation has them. The layout is the same whatever
// Windows version the machine reports, except the system folder (below).
//
//   Windows folder      C:\WINDOWS
//   system folder       C:\WINDOWS\system32 (C:\WINDOWS\SYSTEM on the 9x family)
//   temporary folder    <profile>\Local Settings\Temp
//   user profile        C:\Documents and Settings\<user>      (<user>: the host user's name)
//   all users           C:\Documents and Settings\All Users
//   program files       C:\Program Files, with Common Files in it
//
// A fresh machine (one without the file "prepared" in its folder) gets these folders and the
// special folders of the table in WinMachine.cpp, the values "ProgramFilesDir" and
// "CommonFilesDir" under HKEY_LOCAL_MACHINE "\SOFTWARE\Microsoft\Windows\CurrentVersion", and the
// "Shell Folders" values of the user (HKEY_CURRENT_USER) and of all users (HKEY_LOCAL_MACHINE)
// under "...\CurrentVersion\Explorer\Shell Folders". Values that a program changed or deleted
// afterwards stay as it left them.
#pragma once
#include <string>

namespace ostra {

// Prepares the current machine once per process (and once per machine folder): called by the
// path mapping and the registry routines before they touch the machine.
void EnsureMachinePrepared();

std::string WinWindowsDir();
std::string WinSystemDir();
std::string WinTempDir();

// Shell folder numbers (CSIDL values) that the machine knows.
enum : int {
    csidlDesktop = 0, csidlPrograms = 2, csidlControls = 3, csidlPrinters = 4, csidlPersonal = 5, csidlFavorites = 6,
    csidlStartup = 7, csidlRecent = 8, csidlSendTo = 9, csidlBitBucket = 10, csidlStartMenu = 11,
    csidlDesktopDirectory = 16, csidlCommonStartMenu = 22, csidlCommonPrograms = 23, csidlCommonStartup = 24,
    csidlCommonDesktopDirectory = 25, csidlAppData = 26, csidlAltStartup = 29, csidlCommonAltStartup = 30,
    csidlCommonFavorites = 31, csidlCookies = 33, csidlCommonAppData = 35, csidlWindows = 36, csidlSystem = 37,
    csidlProgramFiles = 38, csidlProgramFilesCommon = 43,
};

// The file-system folder of a shell folder number; false for the virtual folders (Control Panel,
// Printers, Recycle Bin), which have none, and for numbers the machine does not know.
bool WinGetSpecialFolderPath(int csidl, std::string& path);

}  // namespace ostra
