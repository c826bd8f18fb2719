// Folder lookups shared by the path specifiers (see the header).
#include "installer/library/routines_ExpandPaths.h"

#include "host/SysUtils.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/WinMachine.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {

constexpr int ClassesRoot = 0;
constexpr int CurrentUser = 2;
constexpr int LocalMachine = 4;
const char* const ShellFolders = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* const CurrentVersion = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

std::string ReadFolder(int root, const std::string& key, const std::string& name, const std::string& fallback) {
    std::string value = ReadRegistryString(root, key, name, "");
    return RemoveBackslash(value.empty() ? fallback : value);
}

// The drive of the current folder ("C:").
std::string CurrentDrive() {
    std::string dir = WinGetCurrentDir();
    return dir.size() >= 2 && dir[1] == ':' ? dir.substr(0, 2) : "C:";
}

}  // namespace

std::string JoinPath(const std::string& first, const std::string& second) {
    if (first.empty() || first.back() == '\\') return first + second;
    return first + "\\" + second;
}

std::string GetStartMenuDir() {
    return ReadFolder(CurrentUser, ShellFolders, "Start Menu", JoinPath(GetWindowsDir(), "Startmen"));
}
std::string GetProgramsMenuDir() {
    return ReadFolder(CurrentUser, ShellFolders, "Programs", JoinPath(GetStartMenuDir(), "Programs"));
}
std::string GetDesktopDir() {
    return ReadFolder(CurrentUser, ShellFolders, "Desktop", JoinPath(GetWindowsDir(), "Desktop"));
}
std::string GetStartupDir() {
    return ReadFolder(CurrentUser, ShellFolders, "Startup", JoinPath(GetWindowsDir(), "Startup"));
}
std::string GetProgramFilesDir() {
    return ReadFolder(LocalMachine, CurrentVersion, "ProgramFilesDir", JoinPath(CurrentDrive(), "Program Files"));
}
std::string GetCommonFilesDir() {
    return ReadFolder(LocalMachine, CurrentVersion, "CommonFilesDir",
                      JoinPath(CurrentDrive(), "Program Files\\Common Files"));
}

std::string GetSpecialFolderPath(int csidl) {
    std::string path;
    if (!WinGetSpecialFolderPath(csidl, path)) return "";
    return path;
}

int GetOfficeServerVersion(const std::string& progID) {
    try {
        std::string curVer = ReadRegistryString(ClassesRoot, "\\" + progID + "\\CurVer", "", "");
        if (curVer.empty()) return -1;
        size_t first = curVer.find('.');
        if (first == std::string::npos) return -1;
        std::string rest = curVer.substr(first + 1);
        size_t second = rest.find('.');
        if (second == std::string::npos) return -1;
        std::string version = rest.substr(second + 1);
        std::string server =
            ReadRegistryString(ClassesRoot, "\\" + curVer + "\\protocol\\StdFileEditing\\server", "", "");
        if (server.empty() || !WinFileExists(server)) return -1;
        int result = 0;
        return TryStrToInt(version, result) ? result : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

int GetWordVersion() { return GetOfficeServerVersion("Word.Document"); }

namespace {
std::string OfficePrefix(int version) {
    if (version == 7 || version == 8) return "\\Software\\Microsoft\\Office\\" + std::to_string(version) + ".0";
    if (version >= 9 && version <= 19)
        return "\\Software\\Policies\\Microsoft\\Office\\" + std::to_string(version) + ".0";
    return "";
}
std::string ReadOfficeFolder(const std::string& key, const std::string& valueName, const std::string& relativeDefault) {
    return ReadFolder(CurrentUser, key, valueName, JoinPath(GetProgramFilesDir(), relativeDefault));
}
}  // namespace

std::string GetOfficeFileNewKey(int version, const std::string& name) {
    std::string prefix = OfficePrefix(version);
    return prefix.empty() ? "" : prefix + "\\Common\\FileNew\\" + name;
}
std::string GetWordOptionsKey(int version) {
    std::string prefix = OfficePrefix(version);
    return prefix.empty() ? "" : prefix + "\\Word\\Options";
}

std::string GetOfficeFileNewFolder(const std::string& name, const std::string& relativeDefault) {
    int version = GetWordVersion();
    if (version >= 7 && version <= 19) return ReadOfficeFolder(GetOfficeFileNewKey(version, name), "", relativeDefault);
    return JoinPath(GetProgramFilesDir(), relativeDefault);
}
std::string GetWordOptionsFolder(const std::string& valueName, const std::string& relativeDefault) {
    int version = GetWordVersion();
    if (version >= 7 && version <= 19) return ReadOfficeFolder(GetWordOptionsKey(version), valueName, relativeDefault);
    return JoinPath(GetProgramFilesDir(), relativeDefault);
}

}  // namespace ostra
