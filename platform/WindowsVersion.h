// The Windows version that the machine reports to the installer, the setup program and the
// uninstaller: a stand-in for the system's version query. Which version it is comes from the
// environment variable OSTRA_WINDOWS_VERSION, so that every process a test starts sees the same
// one; without the variable it is Windows XP.
//
// Version names (compared without regard to case) and what they report:
//   | name   | platform      | version |     | name  | platform | version |
//   | Win32s | Win32s        | 3.10    |     | NT351 | NT       | 3.51    |
//   | 95     | Windows 9x    | 4.0     |     | NT4   | NT       | 4.0     |
//   | 98     | Windows 9x    | 4.10    |     | 2000  | NT       | 5.0     |
//   | ME     | Windows 9x    | 4.90    |     | XP    | NT       | 5.1     |
//   | Vista  | NT            | 6.0     |     |       |          |         |
#pragma once
#include <cstdint>
#include <string>

namespace ostra::platform {

// The platform families of a version.
enum OsPlatform : uint32_t { osPlatformWin32s = 0, osPlatformWindows9x = 1, osPlatformNT = 2 };

struct OsVersionInfo {
    OsPlatform Platform = osPlatformNT;
    uint32_t MajorVersion = 0;
    uint32_t MinorVersion = 0;
};

// The version the machine reports. False (last error EINVAL) when OSTRA_WINDOWS_VERSION names no
// version of the table: the query fails as it would on a system that cannot answer it.
bool GetOsVersion(OsVersionInfo& info);

// Makes this process, and every process it starts afterwards, report the named version.
void SetWindowsVersion(const std::string& name);

}  // namespace ostra::platform
