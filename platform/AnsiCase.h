// Case folding of Windows-1252 names for the services that compare names without regard to case
// (registry key and value names, the file names of Windows-form paths). The platform's Windows
// services take 8-bit "ANSI" text, and Windows matches such names as the ANSI code page's letters
// pair up: a-z with A-Z, the accented letters E0-FE with C0-DE (except the division sign F7),
// and the four pairs š/Š, œ/Œ, ž/Ž, ÿ/Ÿ. Every other byte is its own upper case.
#pragma once
#include <string>

namespace ostra::platform {

// The upper-case form of one Windows-1252 character.
char AnsiFoldChar(char c);

// The name with every character folded to upper case; two names match when their folds are equal.
std::string AnsiFoldName(const std::string& name);

// True when the two names differ at most in letter case.
bool AnsiSameName(const std::string& a, const std::string& b);

}  // namespace ostra::platform
