// The system questions of the installer library.
#include "installer/library/routines_API.h"

#include "installer/library/WinFileSystem.h"
#include "installer/library/WinMachine.h"
#include "installer/library/routines_Exceptions.h"
#include "platform/WindowsVersion.h"

namespace ostra {

TOSVerType GetWindowsVersionCode() {
    platform::OsVersionInfo info;
    if (!platform::GetOsVersion(info)) throw EAPIRoutines("Could not get information about the current version of Windows");
    switch (info.Platform) {
        case platform::osPlatformWin32s: return os31win32;
        case platform::osPlatformWindows9x: return info.MinorVersion == 90 ? oswinME : oswin98;
        case platform::osPlatformNT:
            if (info.MajorVersion < 4) return oswinNT351;
            if (info.MajorVersion == 4) return oswinNT;
            if (info.MajorVersion == 5) return info.MinorVersion > 0 ? oswinXP : oswin2K;
            return osUnidentified;
    }
    return osUnidentified;
}

std::string GetShortPath(const std::string& path) {
    std::string shortPath;
    return WinGetShortPathName(path, shortPath) ? shortPath : path;
}

std::string GetTempFilePath(bool keep) {
    std::string path;
    if (!WinForceDirectories(WinTempDir()) || !WinGetTempFileName(WinTempDir(), "bat", path))
        throw EAPIRoutines("Cannot create a temporary file");
    if (!keep) WinDeleteFile(path);
    return path;
}

std::string GetSystemDir() {
    std::string dir = WinSystemDir();
    if (dir.empty()) throw EAPIRoutines("Could not retrieve the system directroy from windows");
    return dir;
}

std::string GetWindowsDir() {
    std::string dir = WinWindowsDir();
    if (dir.empty()) throw EAPIRoutines("Could not retrieve the windows directory from windows");
    return dir;
}

}  // namespace ostra
