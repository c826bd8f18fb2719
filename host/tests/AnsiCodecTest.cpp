// The Windows-1252 codec: every byte round-trips through UTF-8 and UTF-16, the 0x80-0x9F
// block maps to its Windows characters, and text without a byte form becomes '?'.
#include "host/AnsiCodec.h"

#include <gtest/gtest.h>

#include <string>

namespace ostra {
namespace {

std::string AllBytes() {
    std::string s;
    for (int c = 0; c < 256; ++c) s += char(c);
    return s;
}

TEST(AnsiCodecTest, EveryByteRoundTrips) {
    const std::string all = AllBytes();
    std::string utf8 = AnsiToUtf8(all);
    std::u16string utf16 = AnsiToUtf16(all);
    ASSERT_EQ(utf16.size(), 256u);
    EXPECT_EQ(Utf8ToAnsi(utf8), all);
    EXPECT_EQ(Utf16ToAnsi(utf16), all);
    for (int c = 0; c < 256; ++c) {
        std::string one(1, char(c));
        EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(one)), one) << c;
        EXPECT_EQ(UnicodeToAnsiChar(AnsiCharToUnicode(static_cast<unsigned char>(c))), c) << c;
    }
}

TEST(AnsiCodecTest, MapsTheWindowsBlock) {
    struct Case {
        unsigned char Byte;
        char16_t Unicode;
        const char* Utf8;
    } cases[] = {
        {0x41, u'A', "A"},          {0x80, 0x20AC, "€"},        {0x81, 0x0081, "\xC2\x81"},
        {0x8A, 0x0160, "Š"},        {0x8D, 0x008D, "\xC2\x8D"}, {0x8F, 0x008F, "\xC2\x8F"},
        {0x90, 0x0090, "\xC2\x90"}, {0x93, 0x201C, "“"},        {0x99, 0x2122, "™"},
        {0x9D, 0x009D, "\xC2\x9D"}, {0x9F, 0x0178, "Ÿ"},        {0xA0, 0x00A0, "\xC2\xA0"},
        {0xE9, 0x00E9, "é"},        {0xFF, 0x00FF, "ÿ"},        {0x00, 0x0000, ""},  // the zero byte is handled below
    };
    for (const Case& c : cases) {
        std::string byte(1, char(c.Byte));
        std::string utf8 = c.Byte == 0 ? std::string(1, '\0') : std::string(c.Utf8);
        EXPECT_EQ(AnsiCharToUnicode(c.Byte), c.Unicode) << int(c.Byte);
        EXPECT_EQ(AnsiToUtf8(byte), utf8) << int(c.Byte);
        EXPECT_EQ(Utf8ToAnsi(utf8), byte) << int(c.Byte);
        EXPECT_EQ(AnsiToUtf16(byte), std::u16string(1, c.Unicode)) << int(c.Byte);
    }
}

TEST(AnsiCodecTest, CharactersWithoutAByteBecomeQuestionMarks) {
    // U+0080 (its byte is the euro sign), Cyrillic, CJK and an emoji outside the basic plane.
    EXPECT_EQ(Utf8ToAnsi("a\xC2\x80" "b"), "a?b");
    EXPECT_EQ(Utf8ToAnsi("Жx中😀é"), "?x??\xE9");
    EXPECT_EQ(Utf16ToAnsi(u"Ж€😀"), "?\x80?");
    EXPECT_EQ(UnicodeToAnsiChar(0x80), -1);
    EXPECT_EQ(UnicodeToAnsiChar(0x100), -1);
}

TEST(AnsiCodecTest, MalformedInputBecomesQuestionMarks) {
    struct Case {
        std::string Utf8, Ansi;
    } cases[] = {
        {"\x80", "?"},                      // stray continuation byte
        {"a\xC3", "a?"},                    // cut short at the end
        {"\xC3" "A", "?A"},                 // lead byte without continuation
        {"\xC0\xAF", "??"},                 // overlong '/'
        {"\xE0\x80\xAF", "???"},            // overlong three-byte form
        {"\xED\xA0\x80", "???"},            // encoded surrogate
        {"\xF4\x90\x80\x80", "????"},       // beyond U+10FFFF
        {"\xFF\xFE", "??"},
        {"\xE2\x82", "??"},                 // euro sign cut short
    };
    for (const Case& c : cases) EXPECT_EQ(Utf8ToAnsi(c.Utf8), c.Ansi);
    std::u16string lone = u"a";
    lone += char16_t(0xD800);
    lone += u"b";
    lone += char16_t(0xDC00);
    EXPECT_EQ(Utf16ToAnsi(lone), "a?b?");
}

}  // namespace
}  // namespace ostra
