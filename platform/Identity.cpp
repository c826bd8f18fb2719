// User and computer names from the POSIX user database and host name.
#include "platform/Identity.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace ostra::platform {

std::string GetUserName() {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* result = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_name)
        return result->pw_name;
    if (const char* env = std::getenv("USER")) return env;
    return "";
}

std::string GetComputerName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

}  // namespace ostra::platform
