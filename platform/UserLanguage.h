// The Windows user's default language that the machine reports to the installer: a stand-in for
// the system's user-language query. It comes from the environment variable OSTRA_USER_LANGUAGE, a
// Windows language identifier in hexadecimal ("0407" or "0x0407": German; primary language in bits
// 0-9, sublanguage in bits 10-15), so that every process a test starts sees the same one; without
// the variable the user's language is US English (0409).
#pragma once
#include <cstdint>

namespace ostra::platform {

// The language identifier the machine reports. False (last error EINVAL) when OSTRA_USER_LANGUAGE
// holds no hexadecimal identifier from 1 to FFFF: the query fails as it would on a system that
// cannot answer it.
bool GetUserDefaultLangID(uint16_t& langID);

// Makes this process, and every process it starts afterwards, report the identifier.
void SetUserDefaultLangID(uint16_t langID);

}  // namespace ostra::platform
