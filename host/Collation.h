// The two string orders of the system over Windows-1252 text: the fixed dictionary order
// behind soANSI and the framework's Ansi* routines, and plain byte order behind soASCII.
// Neither depends on the locale of the process.
#pragma once
#include <string>

namespace ostra {

// Dictionary order (soANSI), case-sensitive: compares the full length of both strings.
// Negative, 0 or positive as a sorts before, equal to or after b.
int AnsiCompareStr(const std::string& a, const std::string& b);
// Dictionary order (soANSI), ignoring case.
int AnsiCompareText(const std::string& a, const std::string& b);
bool AnsiSameText(const std::string& a, const std::string& b);
bool AnsiSameStr(const std::string& a, const std::string& b);
// The same orders over byte ranges that need no terminator.
int AnsiCompareBuf(const char* a, int lenA, const char* b, int lenB, bool caseInsensitive);

// Windows-1252 case mapping (letters with accents included).
std::string AnsiUpperCase(const std::string& s);
std::string AnsiLowerCase(const std::string& s);
char AnsiUpperChar(char c);
char AnsiLowerChar(char c);

}  // namespace ostra
