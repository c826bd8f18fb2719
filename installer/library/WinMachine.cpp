// The Windows layout of the machine and its preparation.
#include "installer/library/WinMachine.h"

#include <filesystem>
#include <fstream>
#include <mutex>

#include "host/AnsiCodec.h"
#include "installer/library/WinFileSystem.h"
#include "platform/Identity.h"
#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/WindowsVersion.h"

namespace ostra {

using namespace platform;

namespace {

constexpr const char* ProfilesDir = "C:\\Documents and Settings";
constexpr const char* ProgramFilesDir = "C:\\Program Files";

std::string UserProfile() {
    std::string user = Utf8ToAnsi(GetUserName());
    return std::string(ProfilesDir) + "\\" + (user.empty() ? "User" : user);
}

std::string AllUsers() { return std::string(ProfilesDir) + "\\All Users"; }

// A special folder: its number, where it lies (below the user's profile, below all users, or a
// path of its own) and the "Shell Folders" value that names it ("" for none).
struct SpecialFolder {
    int Csidl;
    enum { User, Common, Fixed, Virtual } Base;
    const char* Path;
    const char* ShellFolderValue;
};

const SpecialFolder SpecialFolders[] = {
    {csidlDesktop, SpecialFolder::User, "Desktop", ""},
    {csidlPrograms, SpecialFolder::User, "Start Menu\\Programs", "Programs"},
    {csidlControls, SpecialFolder::Virtual, "", ""},
    {csidlPrinters, SpecialFolder::Virtual, "", ""},
    {csidlPersonal, SpecialFolder::User, "My Documents", "Personal"},
    {csidlFavorites, SpecialFolder::User, "Favorites", "Favorites"},
    {csidlStartup, SpecialFolder::User, "Start Menu\\Programs\\Startup", "Startup"},
    {csidlRecent, SpecialFolder::User, "Recent", "Recent"},
    {csidlSendTo, SpecialFolder::User, "SendTo", "SendTo"},
    {csidlBitBucket, SpecialFolder::Virtual, "", ""},
    {csidlStartMenu, SpecialFolder::User, "Start Menu", "Start Menu"},
    {csidlDesktopDirectory, SpecialFolder::User, "Desktop", "Desktop"},
    {csidlCommonStartMenu, SpecialFolder::Common, "Start Menu", "Common Start Menu"},
    {csidlCommonPrograms, SpecialFolder::Common, "Start Menu\\Programs", "Common Programs"},
    {csidlCommonStartup, SpecialFolder::Common, "Start Menu\\Programs\\Startup", "Common Startup"},
    {csidlCommonDesktopDirectory, SpecialFolder::Common, "Desktop", "Common Desktop"},
    {csidlAppData, SpecialFolder::User, "Application Data", "AppData"},
    {csidlAltStartup, SpecialFolder::User, "Start Menu\\Programs\\Startup", ""},
    {csidlCommonAltStartup, SpecialFolder::Common, "Start Menu\\Programs\\Startup", ""},
    {csidlCommonFavorites, SpecialFolder::Common, "Favorites", "Common Favorites"},
    {csidlCookies, SpecialFolder::User, "Cookies", "Cookies"},
    {csidlCommonAppData, SpecialFolder::Common, "Application Data", "Common AppData"},
    {csidlWindows, SpecialFolder::Fixed, "", ""},
    {csidlSystem, SpecialFolder::Fixed, "", ""},
    {csidlProgramFiles, SpecialFolder::Fixed, ProgramFilesDir, ""},
    {csidlProgramFilesCommon, SpecialFolder::Fixed, "C:\\Program Files\\Common Files", ""},
};

std::string FolderOf(const SpecialFolder& f) {
    switch (f.Base) {
        case SpecialFolder::User: return UserProfile() + "\\" + f.Path;
        case SpecialFolder::Common: return AllUsers() + "\\" + f.Path;
        case SpecialFolder::Fixed:
            if (f.Csidl == csidlWindows) return WinWindowsDir();
            if (f.Csidl == csidlSystem) return WinSystemDir();
            return f.Path;
        case SpecialFolder::Virtual: break;
    }
    return "";
}

// Writes a value unless the key already has one of that name.
void Seed(HKEY root, const std::string& path, const std::string& name, const std::string& text) {
    HKEY key = 0;
    if (RegistryCreateKey(root, path, key) != regOk) return;
    RegistryValue existing;
    if (RegistryQueryValue(key, name, existing) == regNotFound) RegistrySetValue(key, name, RegistryValue::String(text));
    RegistryCloseKey(key);
}

void Prepare() {
    std::error_code ec;
    std::filesystem::create_directories(DriveFolder('C'), ec);
    for (const std::string& folder : {WinWindowsDir(), WinWindowsDir() + "\\system32", WinWindowsDir() + "\\SYSTEM",
                                      WinTempDir(), std::string(ProgramFilesDir) + "\\Common Files"})
        WinForceDirectories(folder);
    const std::string shellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    for (const SpecialFolder& f : SpecialFolders) {
        std::string folder = FolderOf(f);
        if (folder.empty()) continue;
        WinForceDirectories(folder);
        if (*f.ShellFolderValue)
            Seed(f.Base == SpecialFolder::Common ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, shellFolders,
                 f.ShellFolderValue, folder);
    }
    Seed(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", ProgramFilesDir);
    Seed(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
         std::string(ProgramFilesDir) + "\\Common Files");
    std::ofstream(MachineFile("prepared")) << "prepared\n";
}

}  // namespace

void EnsureMachinePrepared() {
    static std::mutex mutex;
    static std::string prepared;
    std::string root = MachineRoot();
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (prepared == root) return;
        prepared = root;
    }
    if (std::ifstream(MachineFile("prepared"))) return;
    Prepare();
}

std::string WinWindowsDir() { return "C:\\WINDOWS"; }

std::string WinSystemDir() {
    OsVersionInfo info;
    bool nineX = GetOsVersion(info) && info.Platform == osPlatformWindows9x;
    return WinWindowsDir() + (nineX ? "\\SYSTEM" : "\\system32");
}

std::string WinTempDir() { return UserProfile() + "\\Local Settings\\Temp"; }

bool WinGetSpecialFolderPath(int csidl, std::string& path) {
    path.clear();
    for (const SpecialFolder& f : SpecialFolders)
        if (f.Csidl == csidl) path = FolderOf(f);
    return !path.empty();
}

}  // namespace ostra
