// The folder lookups that several path specifiers share: the user's shell folders and the program
// files folders from the registry, each with a computed default when the key or value is missing,
// the shell's special folders, and the Office folders found through Word's registration. Every
// lookup comes back without a trailing backslash; none of them raises (a registry error gives the
// default).
#pragma once
#include <string>

namespace ostra {

// `first`, a backslash unless `first` is empty or already ends in one, and `second`.
std::string JoinPath(const std::string& first, const std::string& second);

// HKEY_CURRENT_USER "...\Explorer\Shell Folders": "Start Menu" (default the Windows folder joined
// with "Startmen"), "Programs" (the start menu joined with "Programs"), "Desktop" and "Startup"
// (the Windows folder joined with the name).
std::string GetStartMenuDir();
std::string GetProgramsMenuDir();
std::string GetDesktopDir();
std::string GetStartupDir();
// HKEY_LOCAL_MACHINE "\SOFTWARE\Microsoft\Windows\CurrentVersion": "ProgramFilesDir" and
// "CommonFilesDir" (defaults on the drive of the current folder).
std::string GetProgramFilesDir();
std::string GetCommonFilesDir();

// The file-system folder of a shell folder number; empty for virtual folders and unknown numbers.
std::string GetSpecialFolderPath(int csidl);

// The Office version that the ProgID's current version names, when its editing server exists; -1
// otherwise. GetWordVersion asks for "Word.Document" (afresh on every call).
int GetOfficeServerVersion(const std::string& progID);
int GetWordVersion();
// The FileNew key of a name and the Word options key for Office 7 .. 19; empty for other versions.
std::string GetOfficeFileNewKey(int version, const std::string& name);
std::string GetWordOptionsKey(int version);
// A folder of the FileNew key / of Word's options (an empty value name reads the key's default
// value); the program files folder joined with `relativeDefault` when Office is not found or the
// value is missing.
std::string GetOfficeFileNewFolder(const std::string& name, const std::string& relativeDefault);
std::string GetWordOptionsFolder(const std::string& valueName, const std::string& relativeDefault);

}  // namespace ostra
