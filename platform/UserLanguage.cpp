// The configured user language.
#include "platform/UserLanguage.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/LastError.h"

namespace ostra::platform {

bool GetUserDefaultLangID(uint16_t& langID) {
    const char* configured = getenv("OSTRA_USER_LANGUAGE");
    if (!configured || !*configured) {
        langID = 0x0409;
        return true;
    }
    std::string text = configured;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
    unsigned long value = 0;
    bool valid = !text.empty() && text.size() <= 4;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        valid = valid && digit >= 0;
        value = value * 16 + static_cast<unsigned long>(digit < 0 ? 0 : digit);
    }
    if (!valid || value == 0) {
        SetLastError(EINVAL);
        return false;
    }
    langID = static_cast<uint16_t>(value);
    return true;
}

void SetUserDefaultLangID(uint16_t langID) {
    char text[8];
    snprintf(text, sizeof text, "%04X", langID);
    setenv("OSTRA_USER_LANGUAGE", text, 1);
}

}  // namespace ostra::platform
