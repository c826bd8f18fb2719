// Date and time text reading and the conversion validator, under the default (English) locale
// and a German-like one.
#include <gtest/gtest.h>

#include <string>

#include "engine/sql/orqDataConversion.h"
#include "engine/storage/orqErrors.h"
#include "host/DateTime.h"
#include "host/FormatSettings.h"
#include "host/Variant.h"

namespace ostra {
namespace {

TFormatSettings German() {
    TFormatSettings s;
    s.DecimalSeparator = ',';
    s.ThousandSeparator = '.';
    s.DateSeparator = '.';
    s.ShortDateFormat = "dd.MM.yyyy";
    s.LongTimeFormat = "hh:mm:ss";
    s.ShortTimeFormat = "hh:mm";
    s.TimeAMString = "";
    s.TimePMString = "";
    s.ShortMonthNames = {"Jan", "Feb", "Mrz", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
    s.LongDayNames = {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"};
    return s;
}

TFormatSettings WithDateFormat(const std::string& format) {
    TFormatSettings s;
    s.ShortDateFormat = format;
    return s;
}

TDateTime D(int y, int m, int d) {
    return EncodeDate(y, m, d);
}
TDateTime T(int h, int n, int s = 0, int ms = 0) {
    return EncodeTime(h, n, s, ms);
}

// Converts with a fixed "today" of 2026-05-10.
Variant Convert(const TFormatSettings& settings, const std::string& text, TFieldType type) {
    TOrqDataConversionValidator v(&settings);
    v.SetToday(EncodeDate(2026, 5, 10));
    return v.ConvertStrToDateTime(text, type);
}

double AsNumber(const Variant& v) {
    return v.AsDouble();
}

TEST(DataConversion, DatesFollowTheLocaleOrderWithYearMonthDayAsFallback) {
    const TFormatSettings english;
    const TFormatSettings german = German();
    const TFormatSettings dayFirst = WithDateFormat("d/M/yyyy");
    const TFormatSettings yearFirst = WithDateFormat("yyyy-MM-dd");
    struct Case {
        const TFormatSettings* Settings;
        const char* Text;
        TDateTime Expected;
    } cases[] = {
        {&dayFirst, "3/2/2001", D(2001, 2, 3)},
        {&english, "3/2/2001", D(2001, 3, 2)},
        // The locale order fails (month 2001), the year-month-day retry reads it.
        {&dayFirst, "2001-02-03", D(2001, 2, 3)},
        {&english, "2001-02-03", D(2001, 2, 3)},
        {&german, "2001-02-03", D(2001, 2, 3)},
        {&german, "03.02.2001", D(2001, 2, 3)},
        {&german, " 3.12.2001", D(2001, 12, 3)},
        // Month names by the locale's short names, any case.
        {&yearFirst, "2001-Feb-03", D(2001, 2, 3)},
        {&german, "3-dez-2001", D(2001, 12, 3)},
        {&english, "dec/3/2001", D(2001, 12, 3)},
        // Any run of non-alphanumerics separates parts.
        {&english, "12 / 31 // 1999", D(1999, 12, 31)},
    };
    for (const Case& c : cases) {
        Variant v = Convert(*c.Settings, c.Text, ftDate);
        EXPECT_EQ(VarType(v), varDouble) << c.Text;
        EXPECT_DOUBLE_EQ(AsNumber(v), c.Expected) << c.Text;
    }
}

TEST(DataConversion, TwoDigitYearsUseTheCenturyWindow) {
    TFormatSettings s;
    TOrqStrToDateTimeConverter converter(&s);
    converter.SetToday(EncodeDate(2026, 1, 15));
    struct Case {
        int Window;
        const char* Text;
        int Year;
    } cases[] = {
        {50, "1/2/49", 2049}, {50, "1/2/99", 1999}, {50, "1/2/76", 1976},  {50, "1/2/75", 2075},
        {0, "1/2/49", 2049},  {0, "1/2/99", 2099},  {50, "1/2/0100", 100},
    };
    for (const Case& c : cases) {
        s.TwoDigitYearCenturyWindow = static_cast<unsigned short>(c.Window);
        TDateTime dt = 0;
        ASSERT_TRUE(converter.ConvertStrToDate(c.Text, "", dt, ftDate)) << c.Text;
        int y, m, d;
        DecodeDate(dt, y, m, d);
        EXPECT_EQ(y, c.Year) << c.Text << " window " << c.Window;
        EXPECT_EQ(m, 1);
        EXPECT_EQ(d, 2);
    }
}

TEST(DataConversion, ReadersAnswerMinusOneForWhatIsNotADate) {
    const TFormatSettings english;
    TOrqStrToDateTimeConverter converter(&english);
    TDateTime dt = 123;
    for (const char* text : {"3/2", "", "   ", "2/30/2001", "13/1/2001", "0/1/2001", "1/32/2001", "1/2/abc",
                             "Monday/2/2001", "1/Monday/2001", "1/2/10000"}) {
        EXPECT_EQ(converter.GetDate(text, "MDY", dt, 1), -1) << text;
        EXPECT_EQ(dt, 123) << text;
    }
    EXPECT_FALSE(converter.ConvertStrToDate("3/2", "", dt, ftDate));
    EXPECT_EQ(converter.LastPos(), -1);
}

TEST(DataConversion, DateReaderReportsWhereTheDateEnded) {
    const TFormatSettings english;
    TOrqStrToDateTimeConverter converter(&english);
    TDateTime dt = 0;
    EXPECT_EQ(converter.GetDate("2001-02-03", "YMD", dt, 1), 11);
    EXPECT_EQ(converter.GetDate("2001-02-03  10:30", "YMD", dt, 1), 13);
    EXPECT_EQ(converter.GetDate("x 2001-02-03", "YMD", dt, 3), 13);
    EXPECT_DOUBLE_EQ(dt, D(2001, 2, 3));
    EXPECT_TRUE(converter.ConvertStrToDate("1/2/2003 5:00", "", dt, ftDateTime));
    EXPECT_DOUBLE_EQ(dt, D(2003, 1, 2) + T(5, 0));
    EXPECT_EQ(converter.LastPos(), 14);
}

TEST(DataConversion, ReadersRefuseStartPositionsOutsideTheText) {
    const TFormatSettings english;
    TOrqStrToDateTimeConverter converter(&english);
    const std::string text = "2001-02-03";  // 10 characters
    for (int start : {0, -1, -1000, 12, 1000}) {
        TDateTime dt = 123;
        EXPECT_EQ(converter.GetDate(text, "YMD", dt, start), -1) << start;
        EXPECT_EQ(converter.GetTime(text, start, dt), -1) << start;
        EXPECT_EQ(dt, 123) << start;
    }
    // The end of the text is a valid start: no date there, and a time of no parts is midnight.
    TDateTime t = 123;
    EXPECT_EQ(converter.GetDate(text, "YMD", t, 11), -1);
    EXPECT_EQ(converter.GetTime(text, 11, t), 11);
    EXPECT_EQ(t, 0);
}

TEST(DataConversion, OrderComesFromTheShortDateFormat) {
    struct Case {
        const char* Format;
        const char* Order;
    } cases[] = {{"M/d/yyyy", "MDY"},   {"dd.MM.yyyy", "DMY"}, {"yyyy-MM-dd", "YMD"},
                 {"yyyy/dd/MM", "YDM"}, {"yy", "YMD"},         {"", "MDY"}};
    for (const Case& c : cases) {
        TFormatSettings s = WithDateFormat(c.Format);
        EXPECT_EQ(TOrqStrToDateTimeConverter(&s).GetSDFOrder(), c.Order) << c.Format;
    }
}

TEST(DataConversion, NamesOfMonthsAndDays) {
    const TFormatSettings english;
    const TFormatSettings german = German();
    TOrqStrToDateTimeConverter en(&english), de(&german);
    EXPECT_EQ(en.GetMonthStr("FEB"), 2);
    EXPECT_EQ(en.GetMonthStr("February"), 0);
    EXPECT_EQ(de.GetMonthStr("okt"), 10);
    EXPECT_EQ(en.GetDayStr("MONDAY"), 2);
    EXPECT_EQ(en.GetDayStr("sat"), 7);
    EXPECT_EQ(en.GetDayStr("xyz"), 0);
    EXPECT_EQ(de.GetDayStr("mittwoch"), 4);
}

TEST(DataConversion, TimesAndDateTimes) {
    const TFormatSettings english;
    const TFormatSettings german = German();
    struct Case {
        const TFormatSettings* Settings;
        const char* Text;
        TFieldType Type;
        TDateTime Expected;
    } cases[] = {
        {&english, "10:30:15.250", ftTime, T(10, 30, 15, 250)},
        {&english, "10:30 PM", ftTime, T(22, 30)},
        {&english, "12:05 am", ftTime, T(0, 5)},
        {&english, "12:05 PM", ftTime, T(12, 5)},
        {&english, "7", ftTime, T(7, 0)},
        {&german, "22:30:00", ftTime, T(22, 30)},
        {&german, "10:30", ftTime, T(10, 30)},
        {&english, "2001-02-03 10:30 PM", ftDateTime, D(2001, 2, 3) + T(22, 30)},
        {&english, "2001-02-03", ftDateTime, D(2001, 2, 3)},
        {&german, "03.02.2001 10:30:15", ftDateTime, D(2001, 2, 3) + T(10, 30, 15)},
        // One character after the date is a time too.
        {&english, "2001-02-03 5", ftDateTime, D(2001, 2, 3) + T(5, 0)},
    };
    for (const Case& c : cases) {
        Variant v = Convert(*c.Settings, c.Text, c.Type);
        EXPECT_NEAR(AsNumber(v), c.Expected, 1e-9) << c.Text;
    }
    // A time on a date before 1899-12-30 keeps its time of day.
    Variant old = Convert(english, "1800-01-01 06:00", ftDateTime);
    int y, m, d, h, n, s, ms;
    DecodeDateTime(old.AsDouble(), y, m, d, h, n, s, ms);
    EXPECT_EQ((std::vector<int>{y, m, d, h, n}), (std::vector<int>{1800, 1, 1, 6, 0}));
}

TEST(DataConversion, UnreadableTextRaisesTheDateOrTimeError) {
    const TFormatSettings english;
    const TFormatSettings german = German();
    struct Case {
        const TFormatSettings* Settings;
        const char* Text;
        TFieldType Type;
        int Code;
        const char* Custom;
    } cases[] = {
        {&english, "3/2", ftDate, 10059, "Value 3/2 was not of the expected format yyyy-mmm-dd"},
        {&english, "10:30", ftDateTime, 10059, "Value 10:30 was not of the expected format yyyy-mmm-dd"},
        {&english, "1030", ftTime, 10058, "Value 1030 was not of the expected format h:mm:ss AMPM"},
        {&english, "10:60", ftTime, 10058, "Value 10:60 was not of the expected format h:mm:ss AMPM"},
        {&english, "PM 10:30", ftTime, 10058, "Value PM 10:30 was not of the expected format h:mm:ss AMPM"},
        {&german, "2001-02-03 25:00", ftDateTime, 10058,
         "Value 2001-02-03 25:00 was not of the expected format hh:mm:ss"},
        {&german, "3-Monday-2001", ftDate, 10059,
         "Value 3-Monday-2001 was not of the expected format yyyy-mmm-dd"},
    };
    for (const Case& c : cases) {
        try {
            Convert(*c.Settings, c.Text, c.Type);
            ADD_FAILURE() << c.Text << " was read";
        } catch (const EOrqDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode, c.Code) << c.Text;
            EXPECT_NE(std::string(e.what()).find(c.Custom), std::string::npos) << e.what();
        }
    }
}

TEST(DataConversion, EmptyTextIsNull) {
    EXPECT_TRUE(VarIsNull(Convert(TFormatSettings(), "", ftDate)));
    EXPECT_TRUE(VarIsNull(Convert(TFormatSettings(), "", ftTime)));
}

TEST(DataConversion, ValidatorAllowsEverythingButBooleanToNumbersDatesAndBlobs) {
    for (TFieldType to : {ftFloat, ftDate, ftTime, ftDateTime, ftBlob})
        EXPECT_FALSE(TOrqDataConversionValidator::CheckDataConversionValid(ftBoolean, to))
            << FieldTypeName(to);
    for (TFieldType to : {ftString, ftInteger, ftSmallint, ftBoolean, ftCurrency, ftMemo})
        EXPECT_TRUE(TOrqDataConversionValidator::CheckDataConversionValid(ftBoolean, to))
            << FieldTypeName(to);
    EXPECT_TRUE(TOrqDataConversionValidator::CheckDataConversionValid(ftString, ftFloat));
    EXPECT_TRUE(TOrqDataConversionValidator::CheckDataConversionValid(ftDate, ftBoolean));

    const TFormatSettings german = German();
    TOrqDataConversionValidator v(&german);
    EXPECT_DOUBLE_EQ(v.PerformDataConversionToType(ftString, ftDate, Variant("04.07.2010")).AsDouble(),
                     D(2010, 7, 4));
    Variant text("04.07.2010");
    EXPECT_EQ(VarType(v.PerformDataConversionToType(ftString, ftString, text)), varString);
    EXPECT_EQ(VarType(v.PerformDataConversionToType(ftInteger, ftDate, Variant(5))), varInteger);
}

TEST(DataConversion, SettingsInForceAreUsedWithoutAnExplicitObject) {
    TFormatSettingsScope scope(German());
    TOrqDataConversionValidator v;
    EXPECT_DOUBLE_EQ(v.ConvertStrToDateTime("03.02.2001", ftDate).AsDouble(), D(2001, 2, 3));
}

}  // namespace
}  // namespace ostra
