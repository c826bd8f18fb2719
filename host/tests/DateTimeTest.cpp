// Dates and times: time stamps at their edges, the calendar over its whole range, and the
// text formats under the default (English) settings and a German-like settings object.
#include "host/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "host/AnsiCodec.h"
#include "host/Exceptions.h"
#include "platform/Clock.h"

namespace ostra {
namespace {

TFormatSettings German() {
    TFormatSettings s;
    s.DateSeparator = '.';
    s.TimeSeparator = ':';
    s.DecimalSeparator = ',';
    s.ThousandSeparator = '.';
    s.ShortDateFormat = "dd.MM.yyyy";
    s.LongDateFormat = "dddd, d. MMMM yyyy";
    s.TimeAMString = "";
    s.TimePMString = "";
    s.ShortTimeFormat = "hh:mm";
    s.LongTimeFormat = "hh:mm:ss";
    s.ShortMonthNames = {"Jan", "Feb", Utf8ToAnsi("Mär"), "Apr", "Mai", "Jun",
                         "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
    s.LongMonthNames = {"Januar", "Februar", Utf8ToAnsi("März"), "April",   "Mai",      "Juni",
                        "Juli",   "August",  "September",        "Oktober", "November", "Dezember"};
    s.ShortDayNames = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};
    s.LongDayNames = {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"};
    return s;
}

// A value that is exact in milliseconds, built without the code under test's rounding.
TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return ComposeDateTime(EncodeDate(y, mo, d), EncodeTime(h, mi, s, ms));
}

int CurrentYear() { return platform::GetLocalTime().Year; }

template <typename F>
std::string ConvertMessage(F f) {
    try {
        f();
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return "no error";
}

// --- Time stamps ------------------------------------------------------------------------

TEST(DateTimeTest, TimeStampsAtTheEdges) {
    struct Case {
        TDateTime Value;
        int32_t Date, Time;
    } cases[] = {
        {0.0, 693594, 0},                          // 1899-12-30
        {1.0, 693595, 0},                          // stored day 1
        {0.5, 693594, 43200000},                   // noon
        {-1.25, 693593, 21600000},                 // 1899-12-29 06:00: the fraction's size is the time
        {-0.75, 693594, 64800000},                 // day 0 seen from below
        {-693593.0, 1, 0},                         // 0001-01-01
        {2958465.0, 3652059, 0},                   // 9999-12-31
        {2958465.0 + 86399999.0 / MSecsPerDay, 3652059, 86399999},
        {-693593.0 - 86399999.0 / MSecsPerDay, 1, 86399999},
    };
    for (const Case& c : cases) {
        TTimeStamp s = DateTimeToTimeStamp(c.Value);
        EXPECT_EQ(s.Date, c.Date) << c.Value;
        EXPECT_EQ(s.Time, c.Time) << c.Value;
        if (c.Value != -0.75) {
            EXPECT_DOUBLE_EQ(TimeStampToDateTime(s), c.Value) << c.Value;
        }
    }
    // Negative zero-day values name the same moment as the positive ones.
    EXPECT_EQ(TimeStampToDateTime(DateTimeToTimeStamp(-0.75)), 0.75);
    EXPECT_EQ(TimeStampToDateTime({0, 693595}), 1.0);
    EXPECT_EQ(TimeStampToDateTime({43200000, 693594}), 0.5);
}

TEST(DateTimeTest, TimeStampsRoundToTheMillisecond) {
    const double ms = 1.0 / MSecsPerDay;
    EXPECT_EQ(DateTimeToTimeStamp(0.5 + 0.4 * ms).Time, 43200000);
    EXPECT_EQ(DateTimeToTimeStamp(0.5 + 0.6 * ms).Time, 43200001);
    EXPECT_EQ(DateTimeToTimeStamp(-1.5 - 0.6 * ms).Time, 43200001);
    // Just before midnight rounds into the next day; date and time parts agree.
    TTimeStamp s = DateTimeToTimeStamp(1.0 - 0.4 * ms);
    EXPECT_EQ(s.Date, 693595);
    EXPECT_EQ(s.Time, 0);
    int y, mo, d, h, mi, sec, msec;
    DecodeDateTime(1.0 - 0.4 * ms, y, mo, d, h, mi, sec, msec);
    EXPECT_EQ(d, 31);
    EXPECT_EQ(h + mi + sec + msec, 0);
    // A time written as parts survives the fraction's inexactness.
    DecodeTime(EncodeTime(10, 30, 15, 250), h, mi, sec, msec);
    EXPECT_EQ(msec, 250);
}

TEST(DateTimeTest, TimeStampsRoundTripAtRandom) {
    std::mt19937 rng(42);
    for (int i = 0; i < 20000; ++i) {
        TTimeStamp s{int32_t(rng() % MSecsPerDay), int32_t(1 + rng() % 3652059)};
        TTimeStamp back = DateTimeToTimeStamp(TimeStampToDateTime(s));
        ASSERT_EQ(back.Date, s.Date);
        ASSERT_EQ(back.Time, s.Time);
        int64_t msecs = TimeStampToMSecs(s);
        ASSERT_EQ(msecs, int64_t(s.Date) * MSecsPerDay + s.Time);
        back = MSecsToTimeStamp(msecs);
        ASSERT_EQ(back.Date, s.Date);
        ASSERT_EQ(back.Time, s.Time);
    }
}

TEST(DateTimeTest, InvalidTimeStampsAndValuesAreRefused) {
    EXPECT_EQ(ConvertMessage([] { TimeStampToDateTime({0, 0}); }), "'0.0' is not a valid timestamp");
    EXPECT_THROW(TimeStampToDateTime({-1, 5}), EConvertError);
    EXPECT_THROW(TimeStampToDateTime({MSecsPerDay, 5}), EConvertError);
    EXPECT_THROW(TimeStampToMSecs({0, -3}), EConvertError);
    EXPECT_EQ(ConvertMessage([] { MSecsToTimeStamp(MSecsPerDay - 1); }), "'86399999' is not a valid timestamp");
    EXPECT_THROW(MSecsToTimeStamp(-5), EConvertError);
    EXPECT_THROW(MSecsToTimeStamp(int64_t(std::numeric_limits<int32_t>::max()) * MSecsPerDay * 2), EConvertError);
    EXPECT_EQ(MSecsToTimeStamp(MSecsPerDay + 5).Time, 5);
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300, -1e300, 3e9})
        EXPECT_EQ(ConvertMessage([bad] { DateTimeToTimeStamp(bad); }), "Date/time value out of range") << bad;
}

// --- Calendar ---------------------------------------------------------------------------

TEST(DateTimeTest, EveryDayFromYearOneToYear9999) {
    // Walks a plain day-by-day calendar alongside the encoder and decoder.
    int y = 1, m = 1, d = 1, dow = 2;  // 0001-01-01 was a Monday (proleptic Gregorian)
    for (int32_t day = MinDateTimeDay; day <= MaxDateTimeDay; ++day) {
        ASSERT_EQ(EncodeDate(y, m, d), double(day)) << y << "-" << m << "-" << d;
        int dy, dm, dd;
        DecodeDate(ComposeDateTime(day, 0.75), dy, dm, dd);
        ASSERT_TRUE(dy == y && dm == m && dd == d) << day;
        ASSERT_EQ(DayOfWeek(day), dow) << day;
        dow = dow % 7 + 1;
        if (++d > MonthDays(y, m)) {
            d = 1;
            if (++m > 12) m = 1, ++y;
        }
    }
    EXPECT_EQ(y, 10000);
}

TEST(DateTimeTest, CalendarFacts) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(2001, 2, 3), 36925.0);
    EXPECT_EQ(DayOfWeek(EncodeDate(2001, 2, 3)), 7);  // Saturday
    EXPECT_EQ(DayOfWeek(0), 7);
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_TRUE(IsLeapYear(2024));
    EXPECT_EQ(MonthDays(2000, 2), 29);
    EXPECT_EQ(MonthDays(1900, 2), 28);
    EXPECT_EQ(MonthDays(2001, 13), 0);
    int y, m, d;
    DecodeDate(-1.25, y, m, d);
    EXPECT_TRUE(y == 1899 && m == 12 && d == 29);
    DecodeDate(-693594.0, y, m, d);  // the day before 0001-01-01
    EXPECT_TRUE(y == 0 && m == 0 && d == 0);
}

TEST(DateTimeTest, EncodeRefusesInvalidParts) {
    const int dates[][3] = {{0, 1, 1},    {10000, 1, 1}, {2001, 0, 1},  {2001, 13, 1},
                            {2001, 1, 0}, {2001, 2, 29}, {1900, 2, 29}, {2000, 4, 31}};
    for (const auto& p : dates) {
        EXPECT_EQ(ConvertMessage([&] { EncodeDate(p[0], p[1], p[2]); }), "Invalid argument to date encode");
        TDateTime v = 123;
        EXPECT_FALSE(TryEncodeDate(p[0], p[1], p[2], v));
        EXPECT_EQ(v, 123);
    }
    const int times[][4] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}, {0, 0, 0, -1}};
    for (const auto& p : times)
        EXPECT_EQ(ConvertMessage([&] { EncodeTime(p[0], p[1], p[2], p[3]); }), "Invalid argument to time encode");
    EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / MSecsPerDay);
}

TEST(DateTimeTest, TimesRoundTrip) {
    int h, m, s, ms;
    for (int32_t t = 0; t < MSecsPerDay; t += 997) {
        DecodeTime(EncodeTime(t / 3600000, t / 60000 % 60, t / 1000 % 60, t % 1000), h, m, s, ms);
        ASSERT_EQ(((h * 60 + m) * 60 + s) * 1000 + ms, t);
        // The same time on a date before 1899-12-30.
        DecodeTime(ComposeDateTime(-1000, double(t) / MSecsPerDay), h, m, s, ms);
        ASSERT_EQ(((h * 60 + m) * 60 + s) * 1000 + ms, t);
    }
}

TEST(DateTimeTest, ClockValues) {
    TDateTime today = Date(), time = Time(), now = Now();
    EXPECT_EQ(today, std::floor(today));
    EXPECT_GE(time, 0.0);
    EXPECT_LT(time, 1.0);
    EXPECT_GE(now, today);
    EXPECT_LT(now, today + 2);  // allows for a midnight between the calls
    int y, m, d;
    DecodeDate(today, y, m, d);
    EXPECT_EQ(y, CurrentYear());
}

// --- Formatting -------------------------------------------------------------------------

TEST(DateTimeTest, FormatLetters) {
    const TDateTime v = At(2001, 2, 3, 14, 5, 9, 7);  // a Saturday afternoon
    struct Case {
        const char* Format;
        const char* Text;
    } cases[] = {
        {"yyyy-mm-dd hh:nn:ss.zzz", "2001-02-03 14:05:09.007"},
        {"d/m/yy", "3/2/01"},
        {"y yyy YYYY", "01 2001 2001"},
        {"ddd dddd", "Sat Saturday"},
        {"mmm mmmm mmmmm", "Feb February February"},
        {"ddddd", "2/3/2001"},
        {"dddddd", "Saturday, February 03, 2001"},
        {"c", "2/3/2001 2:05:09 PM"},
        {"", "2/3/2001 2:05:09 PM"},
        {"t", "2:05 PM"},
        {"tt", "2:05:09 PM"},
        {"hh:mm", "14:05"},             // m right after h means minutes
        {"h:m:s", "14:5:9"},
        {"hhh:nnn:sss", "14:05:09"},
        {"z zz zzz zzzz", "7 07 007 007"},
        {"h:mm am/pm", "2:05 pm"},
        {"h:mm AM/PM", "2:05 PM"},
        {"h:mm a/p", "2:05 p"},
        {"hh:mm ampm", "02:05 PM"},
        {"am/pm h", "pm 2"},            // a marker before the hour also selects 12 hours
        {"h 'am/pm'", "14 am/pm"},      // a quoted marker does not
        {"'yyyy' \"mm\" yyyy", "yyyy mm 2001"},
        {"'unterminated", "unterminated"},
        {"x a b", "x a b"},             // letters without meaning stand for themselves
        {"dd/mm", "03/02"},
        {"mm:ss", "02:09"},             // no hour before: months
    };
    for (const Case& c : cases) EXPECT_EQ(FormatDateTime(c.Format, v), c.Text) << c.Format;
}

TEST(DateTimeTest, FormatEdges) {
    EXPECT_EQ(FormatDateTime("h:nn ampm", At(2001, 2, 3, 0, 5)), "12:05 AM");
    EXPECT_EQ(FormatDateTime("h:nn ampm", At(2001, 2, 3, 12, 5)), "12:05 PM");
    EXPECT_EQ(FormatDateTime("c", At(2001, 2, 3)), "2/3/2001");
    EXPECT_EQ(FormatDateTime("c", At(2001, 2, 3, 0, 0, 0, 500)), "2/3/2001");  // milliseconds do not show
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn", -1.25), "1899-12-29 06:00");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", 0), "1899-12-30");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", 2958465.0 + 86399999.0 / MSecsPerDay),
              "9999-12-31 23:59:59.999");
    // A format that names itself expands one level deep and ends.
    TFormatSettings loop;
    loop.ShortDateFormat = "ddddd!";
    EXPECT_EQ(FormatDateTime("ddddd", 0, loop), "!");
    // A day before year one has no month or day names to show.
    EXPECT_EQ(FormatDateTime("yyyy mmm", -693594.0), "0000 ");
}

TEST(DateTimeTest, GermanFormats) {
    const TFormatSettings de = German();
    const TDateTime v = At(2001, 3, 4, 22, 30, 15, 0);  // a Sunday
    EXPECT_EQ(DateToStr(v, de), "04.03.2001");
    EXPECT_EQ(TimeToStr(v, de), "22:30:15");
    EXPECT_EQ(DateTimeToStr(v, de), "04.03.2001 22:30:15");
    EXPECT_EQ(FormatDateTime("dddddd", v, de), Utf8ToAnsi("Sonntag, 4. März 2001"));
    EXPECT_EQ(FormatDateTime("ddd, d. mmm yy", v, de), Utf8ToAnsi("So, 4. Mär 01"));
    EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", v, de), "04.03.2001 22:30");  // '/' is the separator
    EXPECT_EQ(FormatDateTime("tt ampm", v, de), "22:30:15 ");                 // empty markers
    // The process-wide settings are what the one-argument forms read.
    TFormatSettingsScope scope(de);
    EXPECT_EQ(DateTimeToStr(v), "04.03.2001 22:30:15");
    EXPECT_EQ(StrToDate("04.03.2001"), EncodeDate(2001, 3, 4));
}

TEST(DateTimeTest, DefaultStrFunctions) {
    EXPECT_EQ(DateToStr(At(2001, 2, 3, 10, 0)), "2/3/2001");
    EXPECT_EQ(TimeToStr(At(2001, 2, 3, 10, 0)), "10:00:00 AM");
    EXPECT_EQ(DateTimeToStr(At(2001, 2, 3, 10, 0)), "2/3/2001 10:00:00 AM");
    EXPECT_EQ(DateTimeToStr(At(2001, 2, 3)), "2/3/2001");
    EXPECT_EQ(DateTimeToStr(0.5), "12/30/1899 12:00:00 PM");
}

// --- Parsing ----------------------------------------------------------------------------

TEST(DateTimeTest, ReadsDates) {
    const TFormatSettings en;
    TFormatSettings ymd;
    ymd.ShortDateFormat = "yyyy-MM-dd";
    ymd.DateSeparator = '-';
    struct Case {
        const char* Text;
        const TFormatSettings* Settings;
        TDateTime Value;
    } cases[] = {
        {"2/3/2001", &en, EncodeDate(2001, 2, 3)},
        {" 2 / 3 / 2001 ", &en, EncodeDate(2001, 2, 3)},
        {"02/03/2001/", &en, EncodeDate(2001, 2, 3)},
        {"2/29/2000", &en, EncodeDate(2000, 2, 29)},
        {"12/29/1899", &en, -1},
        {"1/1/0001", &en, MinDateTimeDay},
        {"12/31/9999", &en, MaxDateTimeDay},
        {"2001-02-03", &ymd, EncodeDate(2001, 2, 3)},
        {"2-3", &ymd, EncodeDate(CurrentYear(), 2, 3)},
        {"3/2", &en, EncodeDate(CurrentYear(), 3, 2)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StrToDate(c.Text, *c.Settings), c.Value) << c.Text;
        TDateTime v;
        EXPECT_TRUE(TryStrToDate(c.Text, v, *c.Settings)) << c.Text;
    }
    const TFormatSettings de = German();
    EXPECT_EQ(StrToDate("3.2.2001", de), EncodeDate(2001, 2, 3));
    EXPECT_EQ(StrToDate("03.02.2001.", de), EncodeDate(2001, 2, 3));
    EXPECT_EQ(StrToDate("3.2", de), EncodeDate(CurrentYear(), 2, 3));
}

TEST(DateTimeTest, TwoDigitYearsFollowTheCenturyWindow) {
    const int now = CurrentYear();
    TFormatSettings s;
    for (int window : {0, 1, 50, 99}) {
        s.TwoDigitYearCenturyWindow = static_cast<unsigned short>(window);
        const int base = now - window;
        for (int yy = 0; yy < 100; ++yy) {
            std::string text = "1/1/" + std::to_string(yy);
            int y, m, d;
            DecodeDate(StrToDate(text, s), y, m, d);
            EXPECT_EQ(y % 100, yy) << text << " window " << window;
            if (window == 0) {
                EXPECT_EQ(y / 100, now / 100) << text;
            } else {
                EXPECT_TRUE(y >= base && y < base + 100) << text << " window " << window << " gave " << y;
            }
        }
    }
    // Four digits are taken as written.
    EXPECT_EQ(StrToDate("1/1/0099", s), EncodeDate(99, 1, 1));
}

TEST(DateTimeTest, RefusesInvalidDates) {
    for (const char* text : {"", "2", "2/", "2/3/", "2//2001", "2/30/2001", "13/1/2001", "0/1/2001", "2/3/2001x",
                             "2/3/2001 10:00", "abc", "2-3-2001", "1/1/10000", "1/1/123456789012"}) {
        TDateTime v = 7;
        EXPECT_FALSE(TryStrToDate(text, v)) << text;
        EXPECT_EQ(v, 7);
        EXPECT_EQ(ConvertMessage([text] { StrToDate(text); }), std::string("'") + text + "' is not a valid date");
    }
}

TEST(DateTimeTest, ReadsTimes) {
    struct Case {
        const char* Text;
        TDateTime Value;
    } cases[] = {
        {"10:30", EncodeTime(10, 30, 0, 0)},
        {"10:30:15", EncodeTime(10, 30, 15, 0)},
        {"10:30:15.250", EncodeTime(10, 30, 15, 250)},
        {"10:30:15.25", EncodeTime(10, 30, 15, 250)},   // a decimal fraction of a second
        {"10:30:15.5", EncodeTime(10, 30, 15, 500)},
        {"10:30:15.12345", EncodeTime(10, 30, 15, 123)},
        {"10", EncodeTime(10, 0, 0, 0)},
        {" 10 : 30 ", EncodeTime(10, 30, 0, 0)},
        {"10:30 PM", EncodeTime(22, 30, 0, 0)},
        {"10:30pm", EncodeTime(22, 30, 0, 0)},
        {"12:00 AM", 0},
        {"12:15 PM", EncodeTime(12, 15, 0, 0)},
        {"PM 3:00", EncodeTime(15, 0, 0, 0)},
        {"am 1:02:03", EncodeTime(1, 2, 3, 0)},
        {"23:59:59.999", EncodeTime(23, 59, 59, 999)},
    };
    for (const Case& c : cases) EXPECT_EQ(StrToTime(c.Text), c.Value) << c.Text;
    const TFormatSettings de = German();
    EXPECT_EQ(StrToTime("22:30:15,5", de), EncodeTime(22, 30, 15, 500));
    EXPECT_FALSE([&] { TDateTime v; return TryStrToTime("22:30:15.5", v, de); }());
    // A locale's own markers count besides AM and PM.
    TFormatSettings own;
    own.TimeAMString = "vorm.";
    own.TimePMString = "nachm.";
    EXPECT_EQ(StrToTime("3:00 nachm.", own), EncodeTime(15, 0, 0, 0));
    EXPECT_EQ(StrToTime("3:00 PM", own), EncodeTime(15, 0, 0, 0));
}

TEST(DateTimeTest, RefusesInvalidTimes) {
    for (const char* text : {"", "24:00", "10:60", "10:30:60", "10:", "10:30:", "10:30:15.", "13:00 PM", "0:30 AM",
                             "10:30 XM", "10:30 PM PM", ":30", "1030:00", "10.30"}) {
        TDateTime v = 7;
        EXPECT_FALSE(TryStrToTime(text, v)) << text;
        EXPECT_EQ(v, 7);
        EXPECT_EQ(ConvertMessage([text] { StrToTime(text); }), std::string("'") + text + "' is not a valid time");
    }
}

TEST(DateTimeTest, ReadsDatesAndTimes) {
    EXPECT_EQ(StrToDateTime("2/3/2001 10:30:15 PM"), At(2001, 2, 3, 22, 30, 15));
    EXPECT_EQ(StrToDateTime("2/3/2001"), At(2001, 2, 3));
    EXPECT_EQ(StrToDateTime("10:30"), EncodeTime(10, 30, 0, 0));
    EXPECT_EQ(StrToDateTime("12/29/1899 6:00"), -1.25);
    EXPECT_EQ(StrToDateTime("04.03.2001 22:30", German()), At(2001, 3, 4, 22, 30));
    for (const char* text : {"", "2/3/2001 garbage", "2/3/2001 25:00", "2/30/2001 10:00", "2/3/2001 10:00 x"})
        EXPECT_EQ(ConvertMessage([text] { StrToDateTime(text); }),
                  std::string("'") + text + "' is not a valid date and time");
}

TEST(DateTimeTest, TextRoundTripsThroughBothLocales) {
    std::mt19937 rng(5);
    for (const TFormatSettings& s : {TFormatSettings(), German()}) {
        for (int i = 0; i < 2000; ++i) {
            // Whole seconds: the long time formats show no milliseconds.
            TDateTime v = At(1 + int(rng() % 9999), 1 + int(rng() % 12), 1 + int(rng() % 28), int(rng() % 24),
                             int(rng() % 60), int(rng() % 60));
            std::string text = DateTimeToStr(v, s);
            ASSERT_EQ(StrToDateTime(text, s), v) << text;
            ASSERT_EQ(StrToDate(DateToStr(v, s), s), std::trunc(v)) << text;  // the date part
        }
    }
}

}  // namespace
}  // namespace ostra
