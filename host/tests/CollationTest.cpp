// The soANSI dictionary order and the Windows-1252 case mapping: the documented order of
// characters, the properties an index relies on (a total order, antisymmetric and
// transitive, over the full length of both strings), and the case rules.
#include "host/Collation.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "host/AnsiCodec.h"

namespace ostra {
namespace {

// Windows-1252 text from a UTF-8 literal.
std::string A(const char* utf8) { return Utf8ToAnsi(utf8); }

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(CollationTest, OrderTableIsStrictlyIncreasing) {
    // Each entry sorts strictly before every later one, case-sensitively.
    const std::vector<std::string> order = {
        "", std::string(1, '\0'), "\x01", "\x1F", "\x7F", "\x81", "\x9D",
        " ", "!", "-", "/", ":", "@", "[", "_", "~", "\xA0", "\xBF", "\xD7", "\xF7",
        "\x88", "\x96", "\x97", "\x91", "\x84", "\x80", "\x99",
        "0", "1", A("¹"), "10", "2", A("²"), A("³"), "4", "9",
        "a", "A", A("á"), A("Á"), A("à"), A("À"), A("â"), A("Â"), A("ã"), A("Ã"), A("ä"), A("Ä"),
        A("å"), A("Å"), A("ª"), "ab", "ae", "Ae", "AE", A("æ"), A("Æ"), "af", "b", "B",
        "c", A("ç"), A("Ç"), "d", A("ð"), A("Ð"), "e", "E", A("é"), A("É"), A("è"), A("ê"), A("ë"),
        "f", A("ƒ"), "g", "h", "i", A("í"), A("ì"), A("î"), A("ï"), "j", "k", "l", "m", "n", A("ñ"),
        "o", A("ó"), A("ò"), A("ô"), A("õ"), A("ö"), A("ø"), A("Ø"), A("º"), "oe", A("œ"), A("Œ"),
        "p", "q", "r", "s", "S", A("š"), A("Š"), "ss", "SS", A("ß"), "st", "t", "u", A("ú"), A("ü"),
        "v", "w", "x", "y", A("ý"), A("Ý"), A("ÿ"), A("Ÿ"), "z", A("ž"), A("Ž"), A("þ"), A("Þ"),
        A("µ"),
    };
    for (size_t i = 0; i < order.size(); ++i)
        for (size_t j = i + 1; j < order.size(); ++j) {
            EXPECT_LT(AnsiCompareStr(order[i], order[j]), 0) << i << " " << j;
            EXPECT_GT(AnsiCompareStr(order[j], order[i]), 0) << j << " " << i;
        }
}

TEST(CollationTest, EveryByteHasItsOwnPlace) {
    // No two different one-byte strings compare equal; the order of all 256 is total.
    for (int x = 0; x < 256; ++x)
        for (int y = 0; y < 256; ++y) {
            std::string a(1, char(x)), b(1, char(y));
            int r = AnsiCompareStr(a, b);
            EXPECT_EQ(r == 0, x == y) << x << " " << y;
            EXPECT_EQ(Sign(r), -Sign(AnsiCompareStr(b, a)));
        }
}

TEST(CollationTest, DictionaryOrderCases) {
    struct Case {
        std::string A, B;
        int Str, Text;  // expected signs of AnsiCompareStr and AnsiCompareText
    } cases[] = {
        {"a", "B", -1, -1},                       // case ignored first: not byte order
        {"Zebra", "apple", 1, 1},
        {"abc", "ABC", -1, 0},                    // lower case first, equal ignoring case
        {"ABC", "abd", -1, -1},
        {A("résumé"), "resumes", -1, -1},         // primary difference beats the accent
        {"resume", A("Résumé"), -1, -1},
        {"Resume", A("résumé"), -1, -1},          // accent beats an earlier case difference
        {A("résumé"), A("Résumé"), -1, 0},
        {A("Straße"), "Strasse", 1, 1},           // ß reads as ss, then the ligature accent
        {A("Straße"), "Strasze", -1, -1},
        {A("Straße"), "STRASSE", 1, 1},           // not a pure case difference
        {A("ÿ"), A("Ÿ"), -1, 0},
        {A("Æon"), "aeon", 1, 1},
        {A("Æon"), "aeoo", -1, -1},
        {"item10", "item9", -1, -1},              // digit by digit
        {"a-b", "ab", -1, -1},                    // punctuation is not ignored
        {"a b", "a-b", -1, -1},
        {"", "", 0, 0},
        {"", std::string(1, '\0'), -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Sign(AnsiCompareStr(c.A, c.B)), c.Str) << c.A << " / " << c.B;
        EXPECT_EQ(Sign(AnsiCompareStr(c.B, c.A)), -c.Str) << c.B << " / " << c.A;
        EXPECT_EQ(Sign(AnsiCompareText(c.A, c.B)), c.Text) << c.A << " / " << c.B;
        EXPECT_EQ(Sign(AnsiCompareText(c.B, c.A)), -c.Text) << c.B << " / " << c.A;
        EXPECT_EQ(AnsiSameText(c.A, c.B), c.Text == 0);
    }
}

TEST(CollationTest, ComparesTheFullLengthOfBothStrings) {
    std::string longA(300, 'x'), longB(300, 'x');
    longA[290] = 'a';
    longB[290] = 'b';
    EXPECT_LT(AnsiCompareStr(longA, longB), 0);
    EXPECT_LT(AnsiCompareText(longA, longB), 0);
    EXPECT_LT(AnsiCompareStr(longA, longA + "a"), 0);
    // An accent far beyond the first differences in case still counts first.
    std::string upper = "A" + std::string(280, 'x') + "e", accent = "a" + std::string(280, 'x') + A("é");
    EXPECT_LT(AnsiCompareStr(upper, accent), 0);
    // Zero bytes are characters, not terminators.
    std::string z1("a\0b", 3), z2("a\0c", 3);
    EXPECT_LT(AnsiCompareStr(z1, z2), 0);
    EXPECT_LT(AnsiCompareText(z1, z2), 0);
    EXPECT_LT(AnsiCompareStr("a", std::string("a\0", 2)), 0);
}

TEST(CollationTest, CompareBufUsesTheGivenLengths) {
    EXPECT_EQ(AnsiCompareBuf("abc", 2, "abd", 2, false), 0);
    EXPECT_LT(AnsiCompareBuf("abc", 2, "abd", 3, false), 0);
    EXPECT_EQ(AnsiCompareBuf("ABx", 2, "aby", 2, true), 0);
    EXPECT_GT(AnsiCompareBuf("ABx", 2, "aby", 2, false), 0);
    EXPECT_EQ(AnsiCompareBuf("", 0, "", 0, false), 0);
}

// Strings from an alphabet of look-alikes, where the passes disagree most.
std::vector<std::string> RandomStrings(unsigned seed, int count) {
    const std::string alphabet =
        A("aAáÁeEéæÆsSßšŠyÿŸ1¹ -") + std::string(1, '\0') + "\xFF\x81" + A("ªºµ");
    std::mt19937 rng(seed);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        std::string s;
        int len = int(rng() % 6);
        for (int k = 0; k < len; ++k) s += alphabet[rng() % alphabet.size()];
        out.push_back(s);
    }
    return out;
}

TEST(CollationTest, RandomStringsFormATotalOrder) {
    for (bool text : {false, true}) {
        auto cmp = [text](const std::string& a, const std::string& b) {
            return Sign(text ? AnsiCompareText(a, b) : AnsiCompareStr(a, b));
        };
        std::vector<std::string> s = RandomStrings(text ? 7 : 3, 110);
        for (size_t i = 0; i < s.size(); ++i)
            for (size_t j = 0; j < s.size(); ++j) {
                int r = cmp(s[i], s[j]);
                ASSERT_EQ(r, -cmp(s[j], s[i])) << s[i] << " / " << s[j];
                if (text)
                    ASSERT_EQ(r == 0, AnsiLowerCase(s[i]) == AnsiLowerCase(s[j])) << s[i] << " / " << s[j];
                else
                    ASSERT_EQ(r == 0, s[i] == s[j]) << s[i] << " / " << s[j];
                for (size_t k = 0; k < s.size(); ++k) {
                    // a <= b and b <= c imply a <= c, with equality only when both are equal.
                    int r2 = cmp(s[j], s[k]);
                    if (r <= 0 && r2 <= 0) {
                        ASSERT_EQ(cmp(s[i], s[k]), (r == 0 && r2 == 0) ? 0 : -1);
                    }
                }
            }
    }
}

TEST(CollationTest, CaseInsensitiveOrderRefinesToCaseSensitive) {
    // Strings that differ beyond case keep their relative order in both compares.
    std::vector<std::string> s = RandomStrings(11, 300);
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        int text = AnsiCompareText(s[i], s[i + 1]);
        if (text != 0) {
            EXPECT_EQ(Sign(text), Sign(AnsiCompareStr(s[i], s[i + 1]))) << s[i] << " / " << s[i + 1];
        }
        EXPECT_EQ(AnsiCompareText(s[i], AnsiUpperCase(s[i])), 0);
        EXPECT_EQ(AnsiCompareText(AnsiLowerCase(s[i]), AnsiUpperCase(s[i])), 0);
    }
}

TEST(CollationTest, CaseMappingOfWindows1252Letters) {
    const std::string lower = A("abcdefghijklmnopqrstuvwxyzàáâãäåæçèéêëìíîïðñòóôõöøùúûüýþÿšœž");
    const std::string upper = A("ABCDEFGHIJKLMNOPQRSTUVWXYZÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏÐÑÒÓÔÕÖØÙÚÛÜÝÞŸŠŒŽ");
    EXPECT_EQ(AnsiUpperCase(lower), upper);
    EXPECT_EQ(AnsiLowerCase(upper), lower);
    const std::string caseless = A("ßµªºƒ×÷0-€") + std::string(1, '\0');
    EXPECT_EQ(AnsiUpperCase(caseless), caseless);
    EXPECT_EQ(AnsiLowerCase(caseless), caseless);
    EXPECT_EQ(AnsiUpperChar('\xE9'), '\xC9');
    EXPECT_EQ(AnsiLowerChar('\x9F'), '\xFF');
    // Exactly the letters listed change, and each mapping is undone by the other.
    int changed = 0;
    for (int c = 0; c < 256; ++c) {
        char ch = char(c), up = AnsiUpperChar(ch), lo = AnsiLowerChar(ch);
        if (up != ch) {
            ++changed;
            EXPECT_EQ(AnsiLowerChar(up), ch) << c;
        }
        if (lo != ch) {
            EXPECT_EQ(AnsiUpperChar(lo), ch) << c;
        }
    }
    EXPECT_EQ(changed, int(lower.size()));
}

}  // namespace
}  // namespace ostra
