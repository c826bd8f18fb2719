// The one converter between the system's 8-bit text (Windows-1252, "ANSI") and Unicode.
// Engine and framework text stays 8-bit; these routines run only at the edges (Qt, file
// names, UTF-16 texts stored in database files).
//
// Every byte has a Unicode form and converts back to itself: 0x00-0x7F and 0xA0-0xFF are the
// code points of the same value, 0x80-0x9F the Windows-1252 characters (0x80 U+20AC euro sign,
// 0x8A U+0160, 0x9F U+0178, ...), and the five bytes Windows-1252 leaves undefined (0x81 0x8D
// 0x8F 0x90 0x9D) the C1 control code points of the same value. A character with no byte
// becomes '?', as does each byte of malformed UTF-8 and each unpaired UTF-16 surrogate.
#pragma once
#include <string>

namespace ostra {

// The Unicode code point of one Windows-1252 byte.
char16_t AnsiCharToUnicode(unsigned char c);
// The Windows-1252 byte of a code point, or -1 when it has none.
int UnicodeToAnsiChar(char32_t cp);

std::string AnsiToUtf8(const std::string& s);
std::string Utf8ToAnsi(const std::string& s);
std::u16string AnsiToUtf16(const std::string& s);
std::string Utf16ToAnsi(const std::u16string& s);

}  // namespace ostra
