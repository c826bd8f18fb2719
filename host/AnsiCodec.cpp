// Windows-1252 <-> UTF-8 / UTF-16. The 32 bytes 0x80-0x9F are the only ones whose code point
// differs from the byte value; a table gives them, and a scan of that table answers the
// reverse question for the few code points above 0xFF that have a byte.
#include "host/AnsiCodec.h"

namespace ostra {

namespace {

constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {  // every code point of Windows-1252 lies in the basic plane
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

char ToAnsiOrQuestion(char32_t cp) {
    int c = UnicodeToAnsiChar(cp);
    return c < 0 ? '?' : char(c);
}

}  // namespace

char16_t AnsiCharToUnicode(unsigned char c) { return (c >= 0x80 && c <= 0x9F) ? kHighControls[c - 0x80] : c; }

int UnicodeToAnsiChar(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return int(cp);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == cp) return 0x80 + i;
    return -1;
}

std::string AnsiToUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) AppendUtf8(out, AnsiCharToUnicode(c));
    return out;
}

std::string Utf8ToAnsi(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    const size_t n = s.size();
    size_t i = 0;
    auto cont = [&](size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
        if (k >= n) return false;
        unsigned char b = static_cast<unsigned char>(s[k]);
        return b >= lo && b <= hi;
    };
    while (i < n) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        char32_t cp;
        size_t len;
        // Well-formed sequences only: no overlong forms, no surrogates, nothing above U+10FFFF.
        if (b < 0x80) {
            cp = b, len = 1;
        } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
            cp = b & 0x1F, len = 2;
        } else if (b >= 0xE0 && b <= 0xEF &&
                   cont(i + 1, b == 0xE0 ? 0xA0 : 0x80, b == 0xED ? 0x9F : 0xBF) && cont(i + 2)) {
            cp = b & 0x0F, len = 3;
        } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1, b == 0xF0 ? 0x90 : 0x80, b == 0xF4 ? 0x8F : 0xBF) &&
                   cont(i + 2) && cont(i + 3)) {
            cp = b & 0x07, len = 4;
        } else {
            out += '?';
            ++i;
            continue;
        }
        for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out += ToAnsiOrQuestion(cp);
        i += len;
    }
    return out;
}

std::u16string AnsiToUtf16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    for (unsigned char c : s) out += AnsiCharToUnicode(c);
    return out;
}

std::string Utf16ToAnsi(const std::u16string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char16_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            out += '?';  // a pair: one character beyond the basic plane, which has no byte
            ++i;
        } else {
            out += ToAnsiOrQuestion(u >= 0xD800 && u <= 0xDFFF ? char32_t(0xFFFD) : char32_t(u));
        }
    }
    return out;
}

}  // namespace ostra
