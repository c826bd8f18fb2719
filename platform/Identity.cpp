// User and computer names from the POSIX user database and host name.
#include "platform/Identity.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace ostra::platform {

std::string GetUserName() {
    // The account database is read once per effective user and thread: every table created
    // asks for the name, and a lookup opens and scans the account files.
    struct TCached {
        uid_t Uid = 0;
        bool Known = false;
        std::string Name;
    };
    thread_local TCached cached;
    const uid_t uid = geteuid();
    if (cached.Known && cached.Uid == uid) return cached.Name;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* result = nullptr;
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_name) {
        cached = {uid, true, result->pw_name};
        return cached.Name;
    }
    if (const char* env = std::getenv("USER")) return env;
    return "";
}

std::string GetComputerName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

}  // namespace ostra::platform
