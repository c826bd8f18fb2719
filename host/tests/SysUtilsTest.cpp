// Format, float and integer conversion, and the string helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/SysUtils.h"

using namespace ostra;

TEST(Format, SpecifierTable) {
    struct Case {
        std::string expected, actual;
    } cases[] = {
        {"8449", Format("%d", {8449})},
        {"   42|", Format("%5d|", {42})},
        {"42   |", Format("%-5d|", {42})},
        {"-007", Format("%.3d", {-7})},
        {"65535", Format("%5d", {65535})},
        {"FF", Format("%x", {255})},
        {"00FF", Format("%.4x", {255})},
        {"4294967295", Format("%u", {-1})},
        {"abc", Format("%s", {"abc"})},
        {"ab", Format("%.2s", {"abc"})},
        {"       abc", Format("%10s", {"abc"})},
        {"b a", Format("%1:s %0:s", {"a", "b"})},
        {"b a b", Format("%1:s %0:s %s", {"a", "b"})},
        {"  7", Format("%*d", {3, 7})},
        {"100%", Format("%d%%", {100})},
        {"3.14", Format("%.2f", {3.14159})},
        {"1.50", Format("%f", {1.5})},
        {"-0.50", Format("%f", {-0.5})},
        {"1,234,567.89", Format("%n", {1234567.891})},
        {"1.2345E+003", Format("%.5e", {1234.5})},
        {"1.5", Format("%g", {1.5})},
        {"$1.50", Format("%m", {1.5})},
        {"($1.50)", Format("%m", {-1.5})},
        {"Caller " + std::string(19, ' ') + "x", Format("Caller %20s", {"x"})},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, c.actual);
}

TEST(Format, MismatchesRaiseConvertError) {
    EXPECT_THROW(Format("%d", {"text"}), EConvertError);
    EXPECT_THROW(Format("%s", {1}), EConvertError);
    EXPECT_THROW(Format("%d %d", {1}), EConvertError);
    EXPECT_THROW(Format("%q", {1}), EConvertError);
    EXPECT_THROW(Format("abc%", {}), EConvertError);
    try {
        Format("%d", {"x"});
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Format '%d' invalid or incompatible with argument");
    }
}

TEST(FloatText, GeneralFormatAndRoundTrip) {
    struct Case {
        double v;
        const char* text;
    } cases[] = {{0, "0"},           {1.5, "1.5"},       {-0.001, "-0.001"},  {1e20, "1E20"},
                 {1.5e-7, "1.5E-7"}, {123456789012345.0, "123456789012345"}, {0.1, "0.1"},
                 {1e15, "1E15"},     {100, "100"}};
    for (const auto& c : cases) EXPECT_EQ(FloatToStr(c.v), c.text) << c.v;
    EXPECT_EQ(FloatToStr(INFINITY), "INF");
    EXPECT_EQ(FloatToStr(-INFINITY), "-INF");
    EXPECT_EQ(FloatToStr(NAN), "NAN");
    EXPECT_EQ(FloatToStrF(1234.5678, ffFixed, 15, 2), "1234.57");
    EXPECT_EQ(FloatToStrF(1234.5678, ffNumber, 15, 1), "1,234.6");
    EXPECT_EQ(FloatToStrF(1.0, ffExponent, 4, 2), "1.000E+00");
}

TEST(FloatText, ExtremeValuesReadBack) {
    // Whatever the host writes of a finite double, in any format and precision, reads back to
    // the nearest value of the written digits; the largest double written with 15 digits lies
    // above it and still reads as the largest double.
    const double max = std::numeric_limits<double>::max();
    const double values[] = {max, -max, std::numeric_limits<double>::lowest(), std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
                             std::nextafter(std::numeric_limits<double>::min(), 0.0), 1e308, -1.5e-310};
    for (double v : values) {
        for (TFloatFormat format : {ffGeneral, ffExponent, ffFixed, ffNumber})
            for (int precision = 1; precision <= 18; ++precision) {
                const std::string text = FloatToStrF(v, format, precision, 2);
                double back = 0;
                ASSERT_TRUE(TryStrToFloat(format == ffNumber ? StringReplace(text, ",", "") : text, back))
                    << text;
                if (format == ffGeneral || format == ffExponent)
                    EXPECT_LE(std::fabs(back - v), std::fabs(v) * std::pow(10.0, 1 - precision) +
                                                       std::numeric_limits<double>::denorm_min())
                        << text;
            }
    }
    EXPECT_EQ(StrToFloat(FloatToStr(max)), max);
    EXPECT_EQ(StrToFloat(FloatToStr(-max)), -max);
    EXPECT_EQ(StrToFloat("1.8E308"), max);
    // Beyond the largest double by more than the rounding of its digits is out of range.
    for (const char* beyond : {"1.79769313486233E308", "1.9E308", "1E309", "-2.1E308", "17976931348623159" "E292"})
        EXPECT_THROW(StrToFloat(beyond), EConvertError) << beyond;
}

TEST(FloatText, ParsingFollowsTheDecimalSeparator) {
    EXPECT_DOUBLE_EQ(StrToFloat(" 1.5 "), 1.5);
    EXPECT_DOUBLE_EQ(StrToFloat("-2.5e3"), -2500);
    EXPECT_DOUBLE_EQ(StrToFloat(".5"), 0.5);
    for (const char* bad : {"", "1.2.3", "1,5", "e5", "1e", "abc", "--1"})
        EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
    TFormatSettings german;
    german.DecimalSeparator = ',';
    german.ThousandSeparator = '.';
    TFormatSettingsScope scope(german);
    EXPECT_DOUBLE_EQ(StrToFloat("1,5"), 1.5);
    EXPECT_THROW(StrToFloat("1.5"), EConvertError);
    EXPECT_EQ(FloatToStr(1.5), "1,5");
    EXPECT_EQ(Format("%.1n", {1234.5}), "1.234,5");
}

TEST(IntText, ConversionsAndLimits) {
    EXPECT_EQ(StrToInt("  -17"), -17);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
    for (const char* bad : {"", "2147483648", "12a", "1 ", "+", "$"})
        EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
    EXPECT_EQ(StrToIntDef("x", 9), 9);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
    EXPECT_EQ(IntToHex(255, 4), "00FF");
    EXPECT_EQ(IntToStr(-5), "-5");
}

TEST(Strings, Helpers) {
    EXPECT_EQ(Trim("\t a b \r\n"), "a b");
    EXPECT_EQ(QuotedStr("it's"), "'it''s'");
    EXPECT_EQ(StringReplace("aXbxc", "x", "-", true, true), "a-b-c");
    EXPECT_EQ(StringReplace("aXbxc", "x", "-", false, false), "aXb-c");
    EXPECT_TRUE(SameText("Table", "TABLE"));
    EXPECT_LT(CompareStr("a", "b"), 0);
    EXPECT_GT(CompareStr("\xE9", "z"), 0);
}
