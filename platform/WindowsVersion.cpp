// The configured Windows version.
#include "platform/WindowsVersion.h"

#include <stdlib.h>

#include <cerrno>

#include "platform/AnsiCase.h"
#include "platform/LastError.h"

namespace ostra::platform {
namespace {

struct NamedVersion {
    const char* Name;
    OsVersionInfo Info;
};

const NamedVersion Versions[] = {
    {"Win32s", {osPlatformWin32s, 3, 10}}, {"95", {osPlatformWindows9x, 4, 0}}, {"98", {osPlatformWindows9x, 4, 10}},
    {"ME", {osPlatformWindows9x, 4, 90}},  {"NT351", {osPlatformNT, 3, 51}},    {"NT4", {osPlatformNT, 4, 0}},
    {"2000", {osPlatformNT, 5, 0}},        {"XP", {osPlatformNT, 5, 1}},        {"Vista", {osPlatformNT, 6, 0}},
};

}  // namespace

bool GetOsVersion(OsVersionInfo& info) {
    const char* configured = getenv("OSTRA_WINDOWS_VERSION");
    std::string name = configured && *configured ? configured : "XP";
    for (const NamedVersion& v : Versions) {
        if (AnsiSameName(name, v.Name)) {
            info = v.Info;
            return true;
        }
    }
    SetLastError(EINVAL);
    return false;
}

void SetWindowsVersion(const std::string& name) { setenv("OSTRA_WINDOWS_VERSION", name.c_str(), 1); }

}  // namespace ostra::platform
