// The engine's common routines: LIKE matching, the string and number compares, the size
// calculators, field-name lists, wide-character copies and the operating-system queries.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/orqCommon.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "platform/Identity.h"
#include "platform/LastError.h"

using namespace ostra;

namespace {

int Sign(int v) {
    return (v > 0) - (v < 0);
}

std::string Bytes(const char* s, std::size_t n) {
    return std::string(s, n);
}

// The little-endian UTF-16 bytes of a text, as wide string fields hold it.
std::string Wide(const std::u16string& s) {
    std::string r;
    for (char16_t c : s) {
        r.push_back(char(c & 0xFF));
        r.push_back(char(c >> 8));
    }
    return r;
}

int WideCompare(const std::string& a, const std::string& b, bool ci, bool partial) {
    return DBCompareWideStrings(a.data(), b.data(), int(a.size()), int(b.size()), ci, partial);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// LIKE

TEST(MatchPatternedStrings, Cases) {
    struct Case {
        std::string value, pattern;
        bool match;
    };
    const Case cases[] = {
        // wildcards
        {"abc", "a%", true},
        {"abc", "%c", true},
        {"abc", "a_c", true},
        {"abc", "%", true},
        {"abc", "abc%", true},
        {"abc", "a%%", true},
        {"abc", "%b%", true},
        {"abc", "___", true},
        {"abc", "__", false},
        {"abc", "____", false},
        {"abc", "%d", false},
        {"abc", "b%", false},
        {"aXbXc", "a%b%c", true},
        {"abcbc", "a%bc", true},  // the "%" must give back characters it first took
        {"abcbd", "a%bc", false},
        // a run of "%" at the end matches the empty rest of the value
        {"abc", "abc%%", true},
        {"", "%%", true},
        {"ab", "a%b%%", true},
        // empty value and pattern
        {"", "%", true},
        {"", "", true},
        {"", "_", false},
        {"a", "", false},
        // case and bytes: exact, byte-wise
        {"ABC", "abc", false},
        {"abc", "ABC", false},
        {"\xE9t\xE9", "_t_", true},
        {"\xE9t\xE9", "\xC9T\xC9", false},
        // trailing blanks are ordinary characters
        {"abc ", "abc", false},
        {"abc", "abc ", false},
        {"abc ", "abc%", true},
        {"abc ", "abc_", true},
        // no escape character: backslash and brackets are literal, "%" in a value is data
        {"a\\x", "a\\%", true},
        {"a%", "a\\%", false},
        {"a[b", "a[b", true},
        {"50%", "50%", true},
        {"50", "50%", true},
        {"5_0", "5\\_0", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchPatternedStrings(c.value, c.pattern, '%', '_'), c.match)
            << "'" << c.value << "' LIKE '" << c.pattern << "'";
}

TEST(MatchPatternedStrings, ZeroByteEndsAString) {
    EXPECT_TRUE(MatchPatternedStrings(Bytes("ab\0cd", 5), "ab"));
    EXPECT_TRUE(MatchPatternedStrings("ab", Bytes("ab\0zz", 5)));
    EXPECT_FALSE(MatchPatternedStrings(Bytes("ab\0cd", 5), "ab%d"));
}

// LIKE by dynamic programming over (value position, pattern position): the textbook model.
static bool ModelLike(const std::string& v, const std::string& p) {
    std::vector<std::vector<char>> m(v.size() + 1, std::vector<char>(p.size() + 1, 0));
    m[v.size()][p.size()] = 1;
    for (std::size_t i = v.size() + 1; i-- > 0;)
        for (std::size_t j = p.size(); j-- > 0;) {
            if (p[j] == '%')
                m[i][j] = m[i][j + 1] || (i < v.size() && m[i + 1][j]);
            else
                m[i][j] = i < v.size() && (p[j] == '_' || p[j] == v[i]) && m[i + 1][j + 1];
        }
    return m[0][0];
}

TEST(MatchPatternedStrings, AgreesWithAModel) {
    std::mt19937 rng(1234);
    auto text = [&](const char* alphabet, int n) {
        std::string s;
        const int len = int(rng() % (n + 1));
        const std::size_t k = std::char_traits<char>::length(alphabet);
        for (int i = 0; i < len; ++i) s.push_back(alphabet[rng() % k]);
        return s;
    };
    for (int round = 0; round < 20000; ++round) {
        const std::string value = text("ab", 8);
        const std::string pattern = text("ab%_", 6);
        const bool expected = ModelLike(value, pattern);
        ASSERT_EQ(MatchPatternedStrings(value, pattern), expected)
            << "'" << value << "' LIKE '" << pattern << "'";
    }
}

TEST(MatchPatternedStrings, ManyWildcardsOnALongValueFinish) {
    // Backtracking over every "%" would take exponential time here.
    const std::string value(5000, 'a');
    std::string pattern;
    for (int i = 0; i < 40; ++i) pattern += "%a";
    EXPECT_FALSE(MatchPatternedStrings(value, pattern + "%b"));
    EXPECT_TRUE(MatchPatternedStrings(value, pattern + "%"));
}

// ---------------------------------------------------------------------------------------------
// String compares

TEST(DBASCIICompareStrings, ByteOrderWithPartialAndCase) {
    struct Case {
        std::string a, b;
        bool ci, partial;
        int sign;
    };
    const Case cases[] = {
        {"ab", "abc", false, false, -1},  {"ab", "abc", false, true, 0},  {"abc", "ab", false, false, 1},
        {"", "abc", false, true, 0},      {"", "", false, false, 0},      {"ABC", "abc", true, false, 0},
        {"ABC", "abc", false, false, -1}, {"abd", "ABC", true, false, 1}, {"abd", "ABC", true, true, 1},
        {"\xE9", "z", false, false, 1},    // bytes compare unsigned
        {"\xE9", "\xC9", true, false, 1},  // only ASCII letters fold
        {"_", "a", false, false, -1},      // 0x5F < 0x61 ...
        {"_", "a", true, false, 1},        // ... but letters fold to upper case: 0x5F > 'A'
        {"B", "a", true, false, 1},       {"B", "a", false, false, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Sign(DBASCIICompareStrings(c.a.data(), c.b.data(), int(c.a.size()), int(c.b.size()), c.ci,
                                             c.partial)),
                  c.sign)
            << "'" << c.a << "' vs '" << c.b << "' ci=" << c.ci << " partial=" << c.partial;
}

TEST(DBASCIICompareStrings, ZeroByteEndsTheCompareAndLengthsDecide) {
    const std::string a = Bytes("a\0x", 3), b = Bytes("a\0y", 3), c = Bytes("a\0yz", 4);
    EXPECT_EQ(DBASCIICompareStrings(a.data(), b.data(), 3, 3, false, false), 0);
    EXPECT_LT(DBASCIICompareStrings(a.data(), c.data(), 3, 4, false, false), 0);
    EXPECT_EQ(DBASCIICompareStrings(a.data(), c.data(), 3, 4, false, true), 0);
}

TEST(DBASCIICompareStrings, HasNoLengthLimit) {
    std::string a(1000, 'x'), b(1000, 'x');
    b[900] = 'y';
    EXPECT_LT(DBASCIICompareStrings(a.data(), b.data(), 1000, 1000, false, false), 0);
}

TEST(DBANSICompareStrings, FollowsTheAnsiCollationWithPartialAndLengthRules) {
    const std::string words[] = {"a", "B",  "ab",  "abc",       "ABC", "Abc", "b",
                                 "",  "zz", "a b", "\xE9t\xE9", "ete", "f"};
    for (const std::string& x : words)
        for (const std::string& y : words) {
            const int n1 = int(x.size()), n2 = int(y.size());
            EXPECT_EQ(Sign(DBANSICompareStrings(x.data(), y.data(), n1, n2, true, false)),
                      Sign(AnsiCompareText(x, y)))
                << x << " / " << y;
            EXPECT_EQ(Sign(DBANSICompareStrings(x.data(), y.data(), n1, n2, false, false)),
                      Sign(AnsiCompareStr(x, y)))
                << x << " / " << y;
            const std::size_t n = std::min(x.size(), y.size());
            EXPECT_EQ(Sign(DBANSICompareStrings(x.data(), y.data(), n1, n2, true, true)),
                      Sign(AnsiCompareText(x.substr(0, n), y.substr(0, n))))
                << x << " / " << y;
        }
    const std::string ab = "ab", abc = "abc", upper = "ABC", lower = "abc";
    EXPECT_LT(DBANSICompareStrings(ab.data(), abc.data(), 2, 3, false, false), 0);
    EXPECT_EQ(DBANSICompareStrings(ab.data(), abc.data(), 2, 3, false, true), 0);
    EXPECT_EQ(DBANSICompareStrings(upper.data(), lower.data(), 3, 3, true, false), 0);
    EXPECT_NE(DBANSICompareStrings(upper.data(), lower.data(), 3, 3, false, false), 0);
    const std::string a = "a", B = "B";
    EXPECT_LT(DBANSICompareStrings(a.data(), B.data(), 1, 1, true, false), 0);
}

TEST(DBANSICompareStrings, DiffersFromByteOrderForAccentedLetters) {
    const std::string e = "\xE9t\xE9", f = "fa";  // 0xE9 sorts after 'f' as a byte, with 'e' here
    EXPECT_LT(DBANSICompareStrings(e.data(), f.data(), 3, 2, true, false), 0);
    EXPECT_LT(DBANSICompareStrings(e.data(), f.data(), 3, 2, false, false), 0);
    EXPECT_GT(DBASCIICompareStrings(e.data(), f.data(), 3, 2, true, false), 0);
}

TEST(DBANSICompareStrings, ComparesTheFullLengthOfLongStrings) {
    // Strings longer than 255 bytes that differ only after byte 255 are not equal.
    std::string a(300, 'k'), b(300, 'k');
    b[280] = 'm';
    EXPECT_LT(DBANSICompareStrings(a.data(), b.data(), 300, 300, false, false), 0);
    EXPECT_GT(DBANSICompareStrings(b.data(), a.data(), 300, 300, true, false), 0);
    EXPECT_EQ(DBANSICompareStrings(a.data(), b.data(), 280, 300, false, true), 0);
}

TEST(DBCompareWideStrings, ComparesTheAnsiFormsWithPartialAndCase) {
    EXPECT_LT(WideCompare(Wide(u"abc"), Wide(u"abd"), false, false), 0);
    EXPECT_LT(WideCompare(Wide(u"ab"), Wide(u"abc"), false, false), 0);
    EXPECT_EQ(WideCompare(Wide(u"ab"), Wide(u"abc"), false, true), 0);
    EXPECT_EQ(WideCompare(Wide(u"ABC"), Wide(u"abc"), true, false), 0);
    EXPECT_NE(WideCompare(Wide(u"ABC"), Wide(u"abc"), false, false), 0);
    EXPECT_EQ(Sign(WideCompare(Wide(u"\u00E9t\u00E9"), Wide(u"f"), true, false)),
              Sign(AnsiCompareText("\xE9t\xE9", "f")));
    // Odd byte counts: the last half character is not part of the text.
    const std::string abc = Wide(u"abc");
    EXPECT_EQ(DBCompareWideStrings(abc.data(), abc.data(), 5, 4, false, false), 0);
}

TEST(DBCompareWideStrings, CharactersWithoutAnAnsiFormStillDiffer) {
    const std::string cjk1 = Wide(u"x\u4E00y"), cjk2 = Wide(u"x\u4E01y"), quest = Wide(u"x?y");
    EXPECT_LT(WideCompare(cjk1, cjk2, false, false), 0);
    EXPECT_GT(WideCompare(cjk2, cjk1, true, false), 0);
    EXPECT_NE(WideCompare(quest, cjk1, false, false), 0);
    EXPECT_EQ(Sign(WideCompare(quest, cjk1, false, false)), -Sign(WideCompare(cjk1, quest, false, false)));
    EXPECT_EQ(WideCompare(cjk1, cjk1, true, false), 0);
    // The difference still ranks after the 1252 order: "a\u4E01" sorts before "b\u4E00".
    EXPECT_LT(WideCompare(Wide(u"a\u4E01"), Wide(u"b\u4E00"), false, false), 0);
}

TEST(CompareRoutines, NumberAndPointerOrder) {
    EXPECT_EQ(CompareReals(1.0, 2.0), -1);
    EXPECT_EQ(CompareReals(2.0, 1.0), 1);
    EXPECT_EQ(CompareReals(-0.0, 0.0), 0);
    EXPECT_EQ(CompareReals(1.0, std::nan("")), 0);
    auto p = [](uintptr_t v) { return reinterpret_cast<void*>(v); };
    EXPECT_EQ(AscendingListSort(p(5), p(7)), -1);
    EXPECT_EQ(AscendingListSort(p(7), p(7)), 0);
    // Addresses at and above 2^31 order as unsigned values.
    EXPECT_EQ(AscendingListSort(p(0x10), p(0x90000000u)), -1);
    EXPECT_EQ(AscendingListSort(p(0x90000000u), p(0x10)), 1);
    EXPECT_EQ(AscendingListSort(p(0x80000000u), p(0)), 1);
}

// ---------------------------------------------------------------------------------------------
// Size calculators

TEST(CalcTableHeaderSize, Is256UpTo34IndexesAndRaisesBeyond) {
    EXPECT_EQ(CalcTableHeaderSize(0), 256);
    EXPECT_EQ(CalcTableHeaderSize(34), 256);
    EXPECT_EQ(CalcTableHeaderSize(-7), 256);  // 48 - 42 = 6 still lies in 1..255
    for (int count : {35, 1000, -8, 0x7FFFFFFF}) {
        try {
            CalcTableHeaderSize(count);
            ADD_FAILURE() << count;
        } catch (const EDatabaseError&) {
            ADD_FAILURE() << "a plain exception, not a database error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Debug check -  header size <> 256");
        }
    }
}

TEST(CalculateCoreDataSize, SizesByTypeAndErrorForOthers) {
    const std::pair<TFieldType, int> sizes[] = {
        {ftString, 2},  {ftSmallint, 2}, {ftWord, 2},     {ftWideString, 2}, {ftInteger, 4},
        {ftAutoInc, 4}, {ftBoolean, 1},  {ftFloat, 8},    {ftCurrency, 8},   {ftBCD, 8},
        {ftDate, 8},    {ftTime, 8},     {ftDateTime, 8},
    };
    int known = 0;
    for (int t = 0; t < C_FIELDTYPECOUNT; ++t) {
        const auto type = TFieldType(t);
        const auto* hit =
            std::find_if(std::begin(sizes), std::end(sizes), [&](auto& s) { return s.first == type; });
        if (hit != std::end(sizes)) {
            EXPECT_EQ(CalculateCoreDataSize(type), hit->second) << FieldTypeName(type);
            ++known;
            continue;
        }
        try {
            CalculateCoreDataSize(type);
            ADD_FAILURE() << FieldTypeName(type);
        } catch (const EDatabaseError&) {
            ADD_FAILURE() << "a plain exception, not a database error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), std::string("Error in setting CoreDataSize - field type not found: ") +
                                       FieldTypeName(type));
        }
    }
    EXPECT_EQ(known, 13);
    try {
        CalculateCoreDataSize(ftBlob);
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Error in setting CoreDataSize - field type not found: Blob");
    }
}

// ---------------------------------------------------------------------------------------------
// Field names and wide characters

TEST(ConvertFieldNamesToList, SplitsAtSemicolonsKeepingBlanks) {
    TStringList list;
    list.Add("stale");
    ConvertFieldNamesToList("Last Name;First", &list);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Strings(0), "Last Name");
    EXPECT_EQ(list.Strings(1), "First");

    ConvertFieldNamesToList("", &list);
    EXPECT_EQ(list.Count(), 0);

    ConvertFieldNamesToList("Say \"Hi\",x; Name ;;B", &list);
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Strings(0), "Say \"Hi\",x");
    EXPECT_EQ(list.Strings(1), " Name ");
    EXPECT_EQ(list.Strings(2), "");
    EXPECT_EQ(list.Strings(3), "B");
}

TEST(StringLToWideChar, CopiesWithTerminatorAndCuts) {
    char16_t buf[6];
    std::fill(std::begin(buf), std::end(buf), u'#');
    StringLToWideChar("a\x80\xE9", buf, 6);
    EXPECT_EQ(std::u16string(buf), u"a\u20AC\u00E9");

    std::fill(std::begin(buf), std::end(buf), u'#');
    StringLToWideChar("abcdef", buf, 4);
    EXPECT_EQ(std::u16string(buf, 5), std::u16string(u"abc\0#", 5));

    std::fill(std::begin(buf), std::end(buf), u'#');
    StringLToWideChar("abc", buf, 1);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], u'#');
    StringLToWideChar("abc", buf + 1, 0);
    EXPECT_EQ(buf[1], u'#');
}

// ---------------------------------------------------------------------------------------------
// Operating-system routines

TEST(OperatingSystem, PathsNamesAndThreads) {
    EXPECT_EQ(OrqIncludeTrailingBackslash("/tmp"), "/tmp/");
    EXPECT_EQ(OrqIncludeTrailingBackslash("/tmp/"), "/tmp/");
    EXPECT_EQ(OrqIncludeTrailingBackslash(""), "");

    EXPECT_EQ(GetCurrentUser(), platform::GetUserName().substr(0, 255));
    EXPECT_EQ(GetCurrentComputer(), platform::GetComputerName().substr(0, 255));

    EXPECT_EQ(GetCurrentThreadIdVal(), uint32_t(getpid()));  // the test runs on the main thread
    uint32_t other = 0;
    std::thread([&] { other = GetCurrentThreadIdVal(); }).join();
    EXPECT_NE(other, GetCurrentThreadIdVal());
    EXPECT_NE(other, 0u);
}

TEST(OperatingSystem, DetailsAndLastErrorText) {
    const std::string details = GetOSDetails();
    EXPECT_EQ(details.rfind("Linux:  ", 0), 0u) << details;
    EXPECT_LE(details.size(), 7 + 40 + 128u);

    platform::SetLastError(0);
    EXPECT_EQ(GetOSErrorMsg(), "The error type could not be determined");
    platform::SetLastError(ENOENT);
    EXPECT_EQ(GetOSErrorMsg(nullptr), "No such file or directory");
    platform::SetLastError(platform::ErrorLockViolation);
    EXPECT_EQ(GetOSErrorMsg(), platform::SysErrorMessage(platform::ErrorLockViolation));
    platform::SetLastError(0);
}

TEST(SharedEnumerations, DisplayNamesInDeclarationOrder) {
    EXPECT_STREQ(CSortOrderNames[soANSI], "ANSI sort order");
    EXPECT_STREQ(CSortOrderNames[soASCII], "ASCII sort order");
    EXPECT_STREQ(CEncryptionLevelNames[encNone], "None");
    EXPECT_STREQ(CEncryptionLevelNames[encWeak], "Weak");
    EXPECT_STREQ(CEncryptionLevelNames[encStrong], "Strong");
    EXPECT_STREQ(CFilterOptLevelNames[olNone], "None");
    EXPECT_STREQ(CFilterOptLevelNames[olPartial], "Partial");
    EXPECT_STREQ(CFilterOptLevelNames[olFull], "Full");
    EXPECT_EQ(int(soASCII), 1);  // stored as 0/1 in database headers
    EXPECT_EQ(int(dcUnknown), 3);
    EXPECT_EQ(int(fcForceEOF), 2);
    EXPECT_EQ(int(ikMinStringLen), 1);
}
