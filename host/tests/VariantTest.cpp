// Tests of Variant and Currency: the kinds, the conversion, arithmetic and comparison tables
// of Variant.h, arrays, and randomized checks of integer arithmetic and currency text against
// exact models.
#include "host/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "host/Collation.h"
#include "host/DateTime.h"
#include "host/FormatSettings.h"

namespace ostra {

// Lets GoogleTest show Variants in failure messages.
void PrintTo(const Variant& v, std::ostream* os) {
    *os << VarTypeAsText(VarType(v));
    if (!VarIsArray(v) && !VarIsNull(v)) *os << " " << v.AsString();
}

namespace {

Variant Cur(const char* text) {
    Currency c;
    if (!TryStrToCurr(text, c)) ADD_FAILURE() << "bad currency text " << text;
    return Variant(c);
}
Variant DateOf(int y, int m, int d) { return VarFromDateTime(EncodeDate(y, m, d)); }
Variant I64(int64_t v) { return Variant(static_cast<long long>(v)); }

// The exception class and message a call raises, or "" when it returns.
std::string ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EZeroDivide& e) {
        return "EZeroDivide: " + e.Message();
    } catch (const EOverflow& e) {
        return "EOverflow: " + e.Message();
    } catch (const EVariantError& e) {
        return e.Message();
    }
    return "";
}

// Same kind and, for a scalar, the same value (Null and Empty equal themselves).
void ExpectSame(const Variant& expected, const Variant& actual, const std::string& context) {
    ASSERT_EQ(VarTypeAsText(VarType(expected)), VarTypeAsText(VarType(actual))) << context;
    if (VarType(expected) == varDouble || VarType(expected) == varDate) {
        EXPECT_DOUBLE_EQ(expected.AsDouble(), actual.AsDouble()) << context;
    } else if (!VarIsArray(expected)) {
        EXPECT_EQ(VarCompareValue(expected, actual), vrEqual) << context << ": got " << actual.AsString();
    }
}

TEST(VariantTest, ConstructorsGiveTheFrameworkKindCodes) {
    struct Case {
        Variant value;
        TVarType type;
        const char* name;
    } cases[] = {
        {Variant(), 0x0000, "Empty"},
        {Unassigned(), 0x0000, "Empty"},
        {Null(), 0x0001, "Null"},
        {Variant(short(-5)), 0x0002, "Smallint"},
        {Variant(7), 0x0003, "Integer"},
        {Variant(1.5), 0x0005, "Double"},
        {Variant(1.5f), 0x0005, "Double"},
        {Cur("1.5"), 0x0006, "Currency"},
        {DateOf(2001, 2, 3), 0x0007, "Date"},
        {Variant(true), 0x000B, "Boolean"},
        {Variant(static_cast<unsigned short>(65531)), 0x0012, "Word"},
        {Variant(4000000000u), 0x0013, "LongWord"},
        {Variant(int64_t(1) << 40), 0x0014, "Int64"},
        {Variant(1LL), 0x0014, "Int64"},
        {Variant("abc"), 0x0100, "String"},
        {Variant(std::string("abc")), 0x0100, "String"},
        {VarArrayOf({1, 2}), 0x200C, "Array Variant"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VarType(c.value), c.type) << c.name;
        EXPECT_EQ(VarTypeAsText(VarType(c.value)), c.name);
    }
    EXPECT_EQ(VarTypeAsText(0x0009), "$0009");
    EXPECT_TRUE(VarIsNull(Null()) && !VarIsEmpty(Null()) && !VarIsClear(Null()));
    EXPECT_TRUE(VarIsEmpty(Unassigned()) && VarIsClear(Unassigned()) && !VarIsNull(Unassigned()));
    EXPECT_EQ(Variant(static_cast<unsigned short>(65531)).AsInteger(), 65531);
    EXPECT_EQ(Variant(short(-5)).AsInteger(), -5);
}

// VarAsType over the conversion table: the value it gives, or the error it raises.
TEST(VariantTest, ConversionTable) {
    struct Case {
        Variant from;
        TVarType to;
        Variant expected;  // ignored when error is set
        const char* error;
    } cases[] = {
        // Empty converts to zero values; Null to nothing.
        {Variant(), varInteger, Variant(0), nullptr},
        {Variant(), varString, Variant(""), nullptr},
        {Variant(), varBoolean, Variant(false), nullptr},
        {Variant(), varCurrency, Cur("0"), nullptr},
        {Null(), varInteger, {}, "Could not convert variant of type (Null) into type (Integer)"},
        {Null(), varString, {}, "Could not convert variant of type (Null) into type (String)"},
        {Null(), varNull, Null(), nullptr},
        {Variant(5), varEmpty, Variant(), nullptr},
        // Floats round half to even; out of range overflows.
        {Variant(2.5), varInteger, Variant(2), nullptr},
        {Variant(3.5), varInteger, Variant(4), nullptr},
        {Variant(-2.5), varInteger, Variant(-2), nullptr},
        {Variant(2.6), varSmallint, Variant(short(3)), nullptr},
        {Variant(1e10), varInteger, {}, "Overflow while converting variant of type (Double) into type (Integer)"},
        {Variant(1e10), varInt64, I64(10000000000), nullptr},
        {Variant(1e19), varInt64, {}, "Overflow while converting variant of type (Double) into type (Int64)"},
        {Variant(std::nan("")), varInteger, {}, "Overflow while converting variant of type (Double) into type (Integer)"},
        {Cur("2.5"), varInteger, Variant(2), nullptr},
        {Cur("-3.5"), varInteger, Variant(-4), nullptr},
        {Cur("1.2345"), varDouble, Variant(1.2345), nullptr},
        // Integer kinds check the target's range.
        {Variant(70000), varSmallint, {}, "Overflow while converting variant of type (Integer) into type (Smallint)"},
        {Variant(-1), varWord, {}, "Overflow while converting variant of type (Integer) into type (Word)"},
        {Variant(-1), varLongWord, {}, "Overflow while converting variant of type (Integer) into type (LongWord)"},
        {I64(4294967295), varLongWord, Variant(4294967295u), nullptr},
        {I64(4294967296), varInteger, {}, "Overflow while converting variant of type (Int64) into type (Integer)"},
        {I64(922337203685478), varCurrency, {}, "Overflow while converting variant of type (Int64) into type (Currency)"},
        {I64(922337203685477), varCurrency, Cur("922337203685477"), nullptr},
        {Variant(1e300), varCurrency, {}, "Overflow while converting variant of type (Double) into type (Currency)"},
        // Strings.
        {Variant(" 42 "), varInteger, Variant(42), nullptr},
        {Variant("$FF"), varInteger, Variant(255), nullptr},
        {Variant("2.5"), varInteger, Variant(2), nullptr},
        {Variant("1e3"), varWord, Variant(static_cast<unsigned short>(1000)), nullptr},
        {Variant("abc"), varInteger, {}, "Could not convert variant of type (String) into type (Integer)"},
        {Variant("40000"), varSmallint, {}, "Overflow while converting variant of type (String) into type (Smallint)"},
        {Variant("1e30"), varInt64, {}, "Overflow while converting variant of type (String) into type (Int64)"},
        {Variant("1.5"), varDouble, Variant(1.5), nullptr},
        {Variant(""), varDouble, {}, "Could not convert variant of type (String) into type (Double)"},
        {Variant("x"), varDouble, {}, "Could not convert variant of type (String) into type (Double)"},
        {Variant("12.34565"), varCurrency, Cur("12.3456"), nullptr},
        {Variant("12.34575"), varCurrency, Cur("12.3458"), nullptr},
        {Variant("1e20"), varCurrency, {}, "Overflow while converting variant of type (String) into type (Currency)"},
        {Variant("x"), varCurrency, {}, "Could not convert variant of type (String) into type (Currency)"},
        {Variant("tRuE"), varBoolean, Variant(true), nullptr},
        {Variant(" False "), varBoolean, Variant(false), nullptr},
        {Variant("0"), varBoolean, Variant(false), nullptr},
        {Variant("-2"), varBoolean, Variant(true), nullptr},
        {Variant("yes"), varBoolean, {}, "Could not convert variant of type (String) into type (Boolean)"},
        {Variant("2/3/2001"), varDate, DateOf(2001, 2, 3), nullptr},
        {Variant("not a date"), varDate, {}, "Could not convert variant of type (String) into type (Date)"},
        // Booleans are 1 and 0 and read as True/False.
        {Variant(true), varInteger, Variant(1), nullptr},
        {Variant(false), varDouble, Variant(0.0), nullptr},
        {Variant(true), varString, Variant("True"), nullptr},
        {Variant(false), varString, Variant("False"), nullptr},
        {Variant(0.0), varBoolean, Variant(false), nullptr},
        {Cur("0.0001"), varBoolean, Variant(true), nullptr},
        // Text of numbers and dates.
        {Variant(-12), varString, Variant("-12"), nullptr},
        {Variant(1.5), varString, Variant("1.5"), nullptr},
        {Cur("-0.0001"), varString, Variant("-0.0001"), nullptr},
        {Cur("12.5"), varString, Variant("12.5"), nullptr},
        {Cur("3"), varString, Variant("3"), nullptr},
        {DateOf(2001, 2, 3), varString, Variant("2/3/2001"), nullptr},
        {Variant(36925.0), varDate, DateOf(2001, 2, 3), nullptr},
        // Arrays and kinds no Variant holds.
        {VarArrayOf({1}), varInteger, {}, "Could not convert variant of type (Array Variant) into type (Integer)"},
        {Variant(1), varSingle, {}, "Could not convert variant of type (Integer) into type (Single)"},
        {Variant(1), varByte, {}, "Could not convert variant of type (Integer) into type (Byte)"},
    };
    for (const Case& c : cases) {
        std::string context = VarTypeAsText(VarType(c.from)) + " -> " + VarTypeAsText(c.to);
        if (c.error) {
            EXPECT_EQ(ErrorOf([&] { VarAsType(c.from, c.to); }), c.error) << context;
        } else {
            Variant result;
            ASSERT_EQ(ErrorOf([&] { result = VarAsType(c.from, c.to); }), "") << context;
            ExpectSame(c.expected, result, context);
        }
    }
}

TEST(VariantTest, AccessorsFollowTheSameRules) {
    EXPECT_EQ(Variant("7").AsInteger(), 7);
    EXPECT_EQ(I64(int64_t(1) << 40).AsInt64(), int64_t(1) << 40);
    EXPECT_EQ(ErrorOf([] { I64(int64_t(1) << 40).AsInteger(); }),
              "Overflow while converting variant of type (Int64) into type (Integer)");
    EXPECT_EQ(Variant("0.1").AsCurrency().Scaled, 1000);
    EXPECT_EQ(Variant(2.5).AsCurrency().Scaled, 25000);
    EXPECT_DOUBLE_EQ(DateOf(2001, 2, 3).AsDateTime(), 36925.0);
    EXPECT_DOUBLE_EQ(Variant("2/3/2001 10:30 PM").AsDateTime(), 36925.0 + 22.5 / 24);
    EXPECT_EQ(Variant().AsInteger(), 0);  // an unassigned search value is a non-null zero
    EXPECT_EQ(ErrorOf([] { Null().AsDouble(); }), "Could not convert variant of type (Null) into type (Double)");
    EXPECT_EQ(ErrorOf([] { Null().AsBoolean(); }), "Could not convert variant of type (Null) into type (Boolean)");
    EXPECT_EQ(VarToStr(Null()), "");
    EXPECT_EQ(VarToStr(Variant()), "");
    EXPECT_EQ(VarToStr(Variant(42)), "42");
    EXPECT_EQ(VarToStr(DateOf(2001, 2, 3) + Variant(0.5)), "2/3/2001 12:00:00 PM");
}

TEST(VariantTest, TextFollowsTheDecimalSeparatorInForce) {
    TFormatSettings german;
    german.DecimalSeparator = ',';
    german.ThousandSeparator = '.';
    TFormatSettingsScope scope(german);
    EXPECT_EQ(Variant(1.5).AsString(), "1,5");
    EXPECT_EQ(Cur("1,25").AsString(), "1,25");
    EXPECT_DOUBLE_EQ(Variant("1,5").AsDouble(), 1.5);
    EXPECT_EQ(ErrorOf([] { Variant("1.5").AsDouble(); }), "Could not convert variant of type (String) into type (Double)");
    EXPECT_EQ(Variant("2,5").AsCurrency().Scaled, 25000);
}

// One row of the arithmetic table: a op b gives `expected` (kind and value), or raises `error`.
struct ArithCase {
    const char* name;
    std::function<Variant()> op;
    Variant expected;
    const char* error;
};

void RunArithCases(const std::vector<ArithCase>& cases) {
    for (const ArithCase& c : cases) {
        if (c.error) {
            EXPECT_EQ(ErrorOf([&] { c.op(); }), c.error) << c.name;
        } else {
            Variant result;
            ASSERT_EQ(ErrorOf([&] { result = c.op(); }), "") << c.name;
            ExpectSame(c.expected, result, c.name);
        }
    }
}

TEST(VariantTest, ArithmeticKindsTable) {
    const short s30000 = 30000;
    const unsigned short w1 = 1, w2 = 2, w3 = 3;
    const int64_t max64 = std::numeric_limits<int64_t>::max(), min64 = std::numeric_limits<int64_t>::min();
    RunArithCases({
        {"3 / 2 is real", [] { return Variant(3) / Variant(2); }, Variant(1.5), nullptr},
        {"Integer + Integer", [] { return Variant(2) + Variant(3); }, Variant(5), nullptr},
        {"Smallint * Smallint", [] { return Variant(short(3)) * Variant(short(4)); }, Variant(short(12)), nullptr},
        {"Smallint overflow -> Integer", [=] { return Variant(s30000) + Variant(s30000); }, Variant(60000), nullptr},
        {"Integer overflow -> Int64", [] { return Variant(2000000000) + Variant(2000000000); }, I64(4000000000), nullptr},
        {"Integer * Integer -> Int64", [] { return Variant(100000) * Variant(100000); }, I64(10000000000), nullptr},
        {"Int64 overflow -> Double", [=] { return I64(max64) + Variant(1); }, Variant(9223372036854775808.0), nullptr},
        {"Int64 - overflow -> Double", [=] { return I64(min64) - Variant(1); }, Variant(-9223372036854775809.0), nullptr},
        {"Word - Word below 0 -> Integer", [=] { return Variant(w1) - Variant(w2); }, Variant(-1), nullptr},
        {"Word + LongWord", [=] { return Variant(w3) + Variant(4u); }, Variant(7u), nullptr},
        {"Smallint + Word", [=] { return Variant(short(1)) + Variant(w2); }, Variant(3), nullptr},
        {"Integer + LongWord", [] { return Variant(1) + Variant(2u); }, I64(3), nullptr},
        {"Smallint + Int64", [] { return Variant(short(1)) + I64(2); }, I64(3), nullptr},
        {"LongWord overflow", [] { return Variant(4000000000u) + Variant(4000000000u); }, I64(8000000000), nullptr},
        // Currency stays exact.
        {"0.1 + 0.2 currency", [] { return Cur("0.1") + Cur("0.2"); }, Cur("0.3"), nullptr},
        {"Currency + Integer", [] { return Cur("1.25") + Variant(2); }, Cur("3.25"), nullptr},
        {"Integer - Currency", [] { return Variant(2) - Cur("0.0001"); }, Cur("1.9999"), nullptr},
        {"Currency * Currency rounds half even down", [] { return Cur("0.0001") * Cur("0.5"); }, Cur("0"), nullptr},
        {"Currency * Currency rounds half even up", [] { return Cur("0.0003") * Cur("0.5"); }, Cur("0.0002"), nullptr},
        {"Currency * Integer", [] { return Cur("1.0001") * Variant(3); }, Cur("3.0003"), nullptr},
        {"Currency / Integer", [] { return Cur("10") / Variant(3); }, Cur("3.3333"), nullptr},
        {"Integer / Currency", [] { return Variant(2) / Cur("3"); }, Cur("0.6667"), nullptr},
        {"Currency / Currency", [] { return Cur("1") / Cur("8"); }, Cur("0.125"), nullptr},
        {"Currency overflow -> Double", [] { return Cur("900000000000000") + Cur("900000000000000"); },
         Variant(1.8e15), nullptr},
        {"Currency + Double", [] { return Cur("1.5") + Variant(0.25); }, Variant(1.75), nullptr},
        // Dates.
        {"Date + Integer", [] { return DateOf(2001, 2, 3) + Variant(1); }, DateOf(2001, 2, 4), nullptr},
        {"Integer + Date", [] { return Variant(1) + DateOf(2001, 2, 3); }, DateOf(2001, 2, 4), nullptr},
        {"Date - Double", [] { return DateOf(2001, 2, 3) - Variant(0.5); }, VarFromDateTime(36924.5), nullptr},
        {"Date - Date", [] { return DateOf(2001, 3, 1) - DateOf(2001, 2, 1); }, Variant(28.0), nullptr},
        {"Date * 2", [] { return DateOf(1900, 1, 1) * Variant(2); }, Variant(4.0), nullptr},
        {"Date + date text", [] { return VarFromDateTime(1) + Variant("1/1/1900"); }, VarFromDateTime(3), nullptr},
        // Strings.
        {"String + String", [] { return Variant("ab") + Variant("cd"); }, Variant("abcd"), nullptr},
        {"String + Integer", [] { return Variant("5") + Variant(2); }, Variant(7.0), nullptr},
        {"Integer * String", [] { return Variant(2) * Variant("2.5"); }, Variant(5.0), nullptr},
        {"String - String", [] { return Variant("5") - Variant("2"); }, Variant(3.0), nullptr},
        {"String + Currency", [] { return Variant("0.5") + Cur("1"); }, Variant(1.5), nullptr},
        {"unreadable String", [] { return Variant("abc") + Variant(1); }, {},
         "Could not convert variant of type (String) into type (Double)"},
        // Null and Empty.
        {"Null + 1", [] { return Null() + Variant(1); }, Null(), nullptr},
        {"1 * Null", [] { return Variant(1) * Null(); }, Null(), nullptr},
        {"Null + String", [] { return Null() + Variant("a"); }, Null(), nullptr},
        {"Empty + 1", [] { return Variant() + Variant(1); }, Variant(), nullptr},
        {"String + Empty", [] { return Variant("a") + Variant(); }, Variant(), nullptr},
        {"Null + Empty", [] { return Null() + Variant(); }, Null(), nullptr},
        {"(unknown + 1) + 2 stays unknown", [] { return (Variant() + Variant(1)) + Variant(2); }, Variant(), nullptr},
        {"Empty / 0", [] { return Variant() / Variant(0); }, Variant(), nullptr},
        // Invalid operands and failures.
        {"Boolean + 1", [] { return Variant(true) + Variant(1); }, {}, "Invalid variant operation"},
        {"String * Boolean", [] { return Variant("1") * Variant(false); }, {}, "Invalid variant operation"},
        {"Array + 1", [] { return VarArrayOf({1}) + Variant(1); }, {}, "Invalid variant operation"},
        {"Null + Array", [] { return Null() + VarArrayOf({1}); }, {}, "Invalid variant operation"},
        {"1 / 0", [] { return Variant(1) / Variant(0); }, {}, "EZeroDivide: Division by zero"},
        {"1.0 / 0.0", [] { return Variant(1.0) / Variant(0.0); }, {}, "EZeroDivide: Division by zero"},
        {"Currency / 0", [] { return Cur("1") / Cur("0"); }, {}, "EZeroDivide: Division by zero"},
        {"float overflow", [] { return Variant(1e308) * Variant(10); }, {}, "EOverflow: Floating point overflow"},
    });
}

TEST(VariantTest, DivModAndNegation) {
    const int64_t min64 = std::numeric_limits<int64_t>::min();
    RunArithCases({
        {"7 div 2", [] { return VarIntDiv(Variant(7), Variant(2)); }, Variant(3), nullptr},
        {"-7 div 2 truncates", [] { return VarIntDiv(Variant(-7), Variant(2)); }, Variant(-3), nullptr},
        {"-7 mod 2", [] { return Variant(-7) % Variant(2); }, Variant(-1), nullptr},
        {"7 mod -2", [] { return Variant(7) % Variant(-2); }, Variant(1), nullptr},
        {"Smallint mod Smallint", [] { return Variant(short(7)) % Variant(short(4)); }, Variant(short(3)), nullptr},
        {"7.5 div 2 rounds first", [] { return VarIntDiv(Variant(7.5), Variant(2)); }, Variant(4), nullptr},
        {"Double div counts as Integer", [] { return VarIntDiv(Variant(1e10), Variant(1)); }, I64(10000000000), nullptr},
        {"String mod", [] { return Variant("17") % Variant(5); }, I64(2), nullptr},
        {"Currency div", [] { return VarIntDiv(Cur("9.5"), Variant(2)); }, Variant(5), nullptr},
        {"min div -1 -> Double", [=] { return VarIntDiv(I64(min64), Variant(-1)); }, Variant(9223372036854775808.0), nullptr},
        {"div by zero", [] { return VarIntDiv(Variant(5), Variant(0)); }, {}, "EZeroDivide: Division by zero"},
        {"mod by zero", [] { return Variant(5) % Variant(0.2); }, {}, "EZeroDivide: Division by zero"},
        {"Null mod", [] { return Null() % Variant(0); }, Null(), nullptr},
        {"div Empty", [] { return VarIntDiv(Variant(3), Variant()); }, Variant(), nullptr},
        {"Boolean div", [] { return VarIntDiv(Variant(true), Variant(1)); }, {}, "Invalid variant operation"},
        {"mod unreadable", [] { return Variant("x") % Variant(2); }, {},
         "Could not convert variant of type (String) into type (Int64)"},
        {"-Integer", [] { return -Variant(5); }, Variant(-5), nullptr},
        {"-Smallint min -> Integer", [] { return -Variant(short(-32768)); }, Variant(32768), nullptr},
        {"-Word -> Integer", [] { return -Variant(static_cast<unsigned short>(5)); }, Variant(-5), nullptr},
        {"-Int64 min -> Double", [=] { return -I64(min64); }, Variant(9223372036854775808.0), nullptr},
        {"-Currency", [] { return -Cur("1.5"); }, Cur("-1.5"), nullptr},
        {"-Date", [] { return -VarFromDateTime(1.25); }, VarFromDateTime(-1.25), nullptr},
        {"-String", [] { return -Variant("3"); }, Variant(-3.0), nullptr},
        {"-Null", [] { return -Null(); }, Null(), nullptr},
        {"-Empty", [] { return -Variant(); }, Variant(), nullptr},
        {"-Boolean", [] { return -Variant(true); }, {}, "Invalid variant operation"},
        {"-Array", [] { return -VarArrayOf({}); }, {}, "Invalid variant operation"},
    });
}

// The comparison table. Every row is checked through VarCompareValue and all six operators
// in both operand orders, so the operators cannot disagree with each other.
TEST(VariantTest, ComparisonTable) {
    const int64_t big = (int64_t(1) << 53) + 1;
    struct Case {
        Variant a, b;
        TVariantRelationship expected;
    } cases[] = {
        {Variant(1), Variant(2), vrLessThan},
        {Variant(short(2)), Variant(2u), vrEqual},
        {I64(big), Variant(double(int64_t(1) << 53)), vrGreaterThan},  // exact, not via double
        {I64(std::numeric_limits<int64_t>::max()), Variant(9223372036854775808.0), vrLessThan},
        {Variant(2), Variant(2.5), vrLessThan},
        {Variant(-2), Variant(-2.5), vrGreaterThan},
        {Variant(3), Variant(3.0), vrEqual},
        {Cur("1"), Variant(1), vrEqual},
        {Cur("1.5"), Variant(2), vrLessThan},
        {Cur("0.1"), Variant(0.1), vrEqual},
        {Cur("0.1"), Cur("0.0999"), vrGreaterThan},
        {DateOf(2001, 2, 3), Variant(36925), vrEqual},
        {DateOf(2001, 2, 3), Variant(36925.5), vrLessThan},
        {DateOf(2001, 2, 3), Variant("2/3/2001"), vrEqual},
        {DateOf(2001, 2, 3), Variant("2/4/2001"), vrLessThan},
        {Variant("abc"), Variant("abd"), vrLessThan},
        {Variant("abc"), Variant("abc"), vrEqual},
        {Variant("abc"), Variant("ab"), vrGreaterThan},
        {Variant("10"), Variant(9), vrGreaterThan},  // numeric, not text order
        {Variant("1.50"), Variant(1.5), vrEqual},
        {Variant("0.1"), Cur("0.1"), vrEqual},
        {Variant(true), Variant(false), vrGreaterThan},
        {Variant(true), Variant(1), vrEqual},
        {Variant(false), Variant(0.5), vrLessThan},
        {Variant(true), Cur("1"), vrEqual},
        {Variant("true"), Variant(true), vrEqual},
        {Variant("0"), Variant(true), vrLessThan},
        // Null is lowest and equals Null.
        {Null(), Null(), vrEqual},
        {Null(), Variant(1), vrLessThan},
        {Null(), Variant(-1e300), vrLessThan},
        {Null(), Variant(""), vrLessThan},
        {Null(), Variant(false), vrLessThan},
        // Empty equals Empty and is unordered against everything else.
        {Variant(), Variant(), vrEqual},
        {Variant(), Variant(0), vrNotEqual},
        {Variant(), Variant(""), vrNotEqual},
        {Variant(), Null(), vrNotEqual},
        {Variant(std::nan("")), Variant(1.0), vrNotEqual},
        {Variant(std::nan("")), Variant(1), vrNotEqual},
    };
    auto reversed = [](TVariantRelationship r) {
        return r == vrLessThan ? vrGreaterThan : r == vrGreaterThan ? vrLessThan : r;
    };
    auto check = [](const Variant& a, const Variant& b, TVariantRelationship r, const std::string& context) {
        EXPECT_EQ(VarCompareValue(a, b), r) << context;
        EXPECT_EQ(a == b, r == vrEqual) << context;
        EXPECT_EQ(a != b, r != vrEqual) << context;
        EXPECT_EQ(a < b, r == vrLessThan) << context;
        EXPECT_EQ(a <= b, r == vrLessThan || r == vrEqual) << context;
        EXPECT_EQ(a > b, r == vrGreaterThan) << context;
        EXPECT_EQ(a >= b, r == vrGreaterThan || r == vrEqual) << context;
    };
    for (const Case& c : cases) {
        std::string context = VarTypeAsText(VarType(c.a)) + " " + VarToStr(c.a) + " vs " +
                              VarTypeAsText(VarType(c.b)) + " " + VarToStr(c.b);
        check(c.a, c.b, c.expected, context);
        check(c.b, c.a, reversed(c.expected), context + " (reversed)");
    }
}

TEST(VariantTest, ComparisonErrors) {
    EXPECT_EQ(ErrorOf([] { (void)(Variant("abc") < Variant(1)); }),
              "Could not convert variant of type (String) into type (Double)");
    EXPECT_EQ(ErrorOf([] { (void)(Variant(1) == Variant("abc")); }),
              "Could not convert variant of type (String) into type (Double)");
    EXPECT_EQ(ErrorOf([] { (void)(Cur("1") == Variant("")); }),
              "Could not convert variant of type (String) into type (Double)");
    EXPECT_EQ(ErrorOf([] { (void)(DateOf(2001, 2, 3) == Variant("soon")); }),
              "Could not convert variant of type (String) into type (Date)");
    EXPECT_EQ(ErrorOf([] { (void)(Variant("maybe") == Variant(true)); }),
              "Could not convert variant of type (String) into type (Boolean)");
    EXPECT_EQ(ErrorOf([] { (void)(VarArrayOf({1}) == VarArrayOf({1})); }), "Invalid variant operation");
    EXPECT_EQ(ErrorOf([] { VarCompareValue(Null(), VarArrayOf({})); }), "Invalid variant operation");
}

TEST(VariantTest, StringOrderIsTheCollationsCaseSensitiveOrder) {
    const char* words[] = {"a", "B", "b", "ab", "Ab", "", "z", "\xE9t\xE9", "ete"};
    for (const char* x : words)
        for (const char* y : words) {
            int expected = AnsiCompareStr(x, y);
            TVariantRelationship r = VarCompareValue(Variant(x), Variant(y));
            EXPECT_EQ(r, expected < 0 ? vrLessThan : expected > 0 ? vrGreaterThan : vrEqual) << x << " vs " << y;
        }
}

TEST(VariantTest, Arrays) {
    Variant a = VarArrayOf({1, "two", Null()});
    EXPECT_TRUE(VarIsArray(a));
    EXPECT_FALSE(VarIsArray(Variant(1)));
    EXPECT_EQ(VarArrayLowBound(a), 0);
    EXPECT_EQ(VarArrayHighBound(a, 1), 2);
    EXPECT_EQ(VarType(a[0]), varInteger);
    EXPECT_EQ(a[1].AsString(), "two");
    EXPECT_TRUE(VarIsNull(a[2]));

    // Copies are deep; elements are assignable and may be arrays themselves.
    Variant b = a;
    b[0] = VarArrayOf({5});
    EXPECT_EQ(a[0].AsInteger(), 1);
    EXPECT_EQ(b[0][0].AsInteger(), 5);

    Variant empty = VarArrayOf({});
    EXPECT_EQ(VarArrayLowBound(empty), 0);
    EXPECT_EQ(VarArrayHighBound(empty), -1);
    std::vector<Variant> values{Variant(1.5), Variant(2.5)};
    EXPECT_EQ(VarArrayHighBound(VarArrayOf(values)), 1);

    const Variant& constA = a;
    EXPECT_EQ(ErrorOf([&] { (void)a[3]; }), "Variant or safe array index out of bounds");
    EXPECT_EQ(ErrorOf([&] { (void)constA[-1]; }), "Variant or safe array index out of bounds");
    EXPECT_EQ(ErrorOf([&] { VarArrayHighBound(a, 2); }), "Variant or safe array index out of bounds");
    EXPECT_EQ(ErrorOf([] { (void)Variant(1)[0]; }), "Variant is not an array");
    EXPECT_EQ(ErrorOf([] { VarArrayLowBound(Null()); }), "Variant is not an array");
    EXPECT_EQ(ErrorOf([&] { VarToStr(a); }), "Could not convert variant of type (Array Variant) into type (String)");
    EXPECT_EQ(VarType(VarAsType(a, VarType(a))), varArray | varVariant);
}

// Integer arithmetic against an exact 128-bit model: the value is exact whenever it fits Int64,
// and the kind is the common kind, else the first of Integer, Int64, Double that holds it.
TEST(VariantTest, RandomIntegerArithmeticMatchesAnExactModel) {
    struct Kind {
        TVarType type;
        __int128 lo, hi;
    };
    const Kind kinds[] = {{varSmallint, INT16_MIN, INT16_MAX},
                          {varWord, 0, UINT16_MAX},
                          {varInteger, INT32_MIN, INT32_MAX},
                          {varLongWord, 0, UINT32_MAX},
                          {varInt64, INT64_MIN, INT64_MAX}};
    auto fits = [&](TVarType t, __int128 v) {
        for (const Kind& k : kinds)
            if (k.type == t) return v >= k.lo && v <= k.hi;
        return false;
    };
    // The common kind: the first kind (in the order of `kinds`) whose range holds both operands' ranges.
    auto common = [&](TVarType a, TVarType b) -> TVarType {
        auto range = [&](TVarType t) {
            for (const Kind& k : kinds)
                if (k.type == t) return k;
            return kinds[4];
        };
        for (const Kind& k : kinds)
            if (k.lo <= std::min(range(a).lo, range(b).lo) && k.hi >= std::max(range(a).hi, range(b).hi)) return k.type;
        return varInt64;
    };
    std::mt19937_64 rng(20240611);
    auto make = [&](const Kind& k) {
        // Values near the edges of the kind are the interesting ones.
        __int128 span = k.hi - k.lo;
        __int128 v;
        switch (rng() % 4) {
            case 0: v = k.lo + __int128(rng() % 4); break;
            case 1: v = k.hi - __int128(rng() % 4); break;
            case 2: v = __int128(int64_t(rng() % 201) - 100); break;
            default: v = k.lo + __int128(rng() % uint64_t(span < __int128(UINT64_MAX) ? span + 1 : __int128(UINT64_MAX))); break;
        }
        if (v < k.lo) v = k.lo;
        if (v > k.hi) v = k.hi;
        return v;
    };
    auto variantOf = [](TVarType t, __int128 v) {
        return VarAsType(Variant(static_cast<long long>(v)), t);
    };
    for (int i = 0; i < 20000; ++i) {
        const Kind& ka = kinds[rng() % 5];
        const Kind& kb = kinds[rng() % 5];
        __int128 x = make(ka), y = make(kb);
        Variant a = variantOf(ka.type, x), b = variantOf(kb.type, y);
        int op = int(rng() % 5);
        __int128 exact;
        Variant r;
        switch (op) {
            case 0: exact = x + y; r = a + b; break;
            case 1: exact = x - y; r = a - b; break;
            case 2: exact = x * y; r = a * b; break;
            case 3:
                if (y == 0) continue;
                exact = x / y;
                r = VarIntDiv(a, b);
                break;
            default:
                if (y == 0) continue;
                exact = x % y;
                r = a % b;
                break;
        }
        TVarType kind = common(ka.type, kb.type);
        TVarType expected = fits(kind, exact) ? kind
                            : fits(varInteger, exact) ? varInteger
                            : fits(varInt64, exact) ? varInt64
                                                    : varDouble;
        ASSERT_EQ(VarTypeAsText(VarType(r)), VarTypeAsText(expected))
            << VarTypeAsText(ka.type) << " " << a.AsString() << " op" << op << " " << VarTypeAsText(kb.type) << " "
            << b.AsString();
        if (expected == varDouble)
            ASSERT_EQ(r.AsDouble(), static_cast<double>(exact));
        else
            ASSERT_TRUE(r.AsInt64() == static_cast<int64_t>(exact)) << a.AsString() << " op" << op << " " << b.AsString();
        // The result compares exactly with the model as well.
        if (expected != varDouble) {
            ASSERT_EQ(VarCompareValue(r, I64(static_cast<int64_t>(exact))), vrEqual);
        }
    }
}

TEST(CurrencyTest, TextConversions) {
    struct Case {
        const char* text;
        bool ok;
        int64_t scaled;
    } cases[] = {
        {"0", true, 0},
        {"12.5", true, 125000},
        {"  -0.0001 ", true, -1},
        {"+3", true, 30000},
        {".5", true, 5000},
        {"5.", true, 50000},
        {"0.00005", true, 0},   // half to even: down to 0
        {"0.00015", true, 2},   // half to even: up to 2
        {"0.000150001", true, 2},
        {"0.000149999", true, 1},
        {"-0.00025", true, -2},
        {"922337203685477.5807", true, INT64_MAX},
        {"-922337203685477.5808", true, INT64_MIN},
        {"922337203685477.5808", false, 0},
        {"922337203685477.58075", false, 0},  // rounds up past the largest amount
        {"99999999999999999999999", false, 0},
        {"1.5E3", true, 15000000},
        {"1e-4", true, 1},
        {"", false, 0},
        {".", false, 0},
        {"-", false, 0},
        {"1.2.3", false, 0},
        {"abc", false, 0},
        {"1,5", false, 0},
    };
    for (const Case& c : cases) {
        Currency value = Currency::FromScaled(-42);
        bool ok = TryStrToCurr(c.text, value);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (ok && c.ok) {
            EXPECT_EQ(value.Scaled, c.scaled) << c.text;
        }
    }
    EXPECT_EQ(CurrToStr(Currency::FromScaled(INT64_MIN)), "-922337203685477.5808");
    EXPECT_EQ(CurrToStr(Currency::FromScaled(INT64_MAX)), "922337203685477.5807");
    EXPECT_EQ(CurrToStr(Currency::FromScaled(-5000)), "-0.5");
    EXPECT_EQ(CurrToStr(Currency::FromScaled(1010)), "0.101");
}

TEST(CurrencyTest, FloatConversions) {
    Currency c;
    ASSERT_TRUE(TryFloatToCurr(1.23456, c));
    EXPECT_EQ(c.Scaled, 12346);
    ASSERT_TRUE(TryFloatToCurr(-2.5, c));
    EXPECT_EQ(c.Scaled, -25000);
    ASSERT_TRUE(TryFloatToCurr(-922337203685477.5, c));
    EXPECT_EQ(c.Scaled, -9223372036854775000);
    EXPECT_FALSE(TryFloatToCurr(922337203685477.625, c));  // the next double above the largest amount
    EXPECT_FALSE(TryFloatToCurr(-922337203685477.625, c));
    EXPECT_FALSE(TryFloatToCurr(std::nan(""), c));
    EXPECT_FALSE(TryFloatToCurr(INFINITY, c));
    EXPECT_DOUBLE_EQ(Currency::FromScaled(15000).ToDouble(), 1.5);
}

TEST(CurrencyTest, RandomAmountsRoundTripThroughText) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        int64_t scaled = static_cast<int64_t>(rng());
        if (i % 3 == 0) scaled %= 1000000;
        Currency back;
        ASSERT_TRUE(TryStrToCurr(CurrToStr(Currency::FromScaled(scaled)), back)) << scaled;
        ASSERT_EQ(back.Scaled, scaled);
    }
}

}  // namespace
}  // namespace ostra
