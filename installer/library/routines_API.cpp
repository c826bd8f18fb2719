// The system questions of the installer library.
#include "installer/library/routines_API.h"

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

}  // namespace ostra
