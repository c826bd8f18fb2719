// Dates and times of the host runtime: the TDateTime day number, the TTimeStamp pair of
// day and millisecond counts, encoding and decoding of calendar parts, the clock, and the
// text conversions that follow the FormatSettings in force (or a settings object passed in).
//
// TDateTime is a double: whole days since 1899-12-30 plus the fraction of the day. For a
// value below zero the integral part is the day and the absolute value of the fraction is
// the time, so -1.25 is 1899-12-29 06:00. Every conversion to calendar parts first rounds the
// value to the millisecond through DateTimeToTimeStamp, so the date and time parts of one
// value always agree (23:59:59.9996 belongs to the next day at 00:00:00.000).
#pragma once
#include <cstdint>
#include <string>

#include "host/FormatSettings.h"

namespace ostra {

using TDateTime = double;

// A date and time as two counts: Time = milliseconds since midnight (0..86399999), Date =
// days since 0001-01-01 plus one (0001-01-01 is day 1, 1899-12-30 is day DateDelta).
struct TTimeStamp {
    int32_t Time;
    int32_t Date;
};

inline constexpr int32_t HoursPerDay = 24;
inline constexpr int32_t MinsPerDay = HoursPerDay * 60;
inline constexpr int32_t SecsPerDay = MinsPerDay * 60;
inline constexpr int32_t MSecsPerDay = SecsPerDay * 1000;
// The time-stamp day number of TDateTime 0 (1899-12-30).
inline constexpr int32_t DateDelta = 693594;
// The smallest and largest TDateTime days EncodeDate accepts (0001-01-01 and 9999-12-31).
inline constexpr int32_t MinDateTimeDay = 1 - DateDelta;
inline constexpr int32_t MaxDateTimeDay = 2958465;

// --- Time stamps ------------------------------------------------------------------------

// Rounds `value` to the millisecond and splits it; raises EConvertError "Date/time value
// out of range" for a value that is not finite or whose day does not fit 32 bits.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
// The TDateTime of a time stamp; raises EConvertError "'<Date>.<Time>' is not a valid
// timestamp" unless Date >= 1 and 0 <= Time < MSecsPerDay.
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);
// Date * MSecsPerDay + Time, with the same validity check as TimeStampToDateTime.
int64_t TimeStampToMSecs(const TTimeStamp& stamp);
// The inverse of TimeStampToMSecs; raises EConvertError "'<msecs>' is not a valid timestamp"
// when the result would not be a valid time stamp (zero or negative day, day beyond 32 bits).
TTimeStamp MSecsToTimeStamp(int64_t msecs);

// --- Calendar parts ---------------------------------------------------------------------

// Gregorian leap year.
bool IsLeapYear(int year);
// The days of `month` (1..12) in `year`; 0 for a month outside 1..12.
int MonthDays(int year, int month);

// The TDateTime of a date; raises EConvertError "Invalid argument to date encode" unless
// 1 <= year <= 9999, 1 <= month <= 12 and 1 <= day <= MonthDays(year, month).
TDateTime EncodeDate(int year, int month, int day);
// The fraction of a day of a time; raises EConvertError "Invalid argument to time encode"
// unless hour < 24, min < 60, sec < 60 and msec < 1000 (all non-negative).
TDateTime EncodeTime(int hour, int min, int sec, int msec);
// As EncodeDate / EncodeTime, answering false instead of raising.
bool TryEncodeDate(int year, int month, int day, TDateTime& value);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& value);
// A date plus a time of day with the sign convention above (the time moves away from zero
// for a date below zero).
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

// The calendar date of `value`; all three are 0 for a day before 0001-01-01.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
// The time of day of `value`, rounded to the millisecond.
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec);
// 1 (Sunday) to 7 (Saturday).
int DayOfWeek(TDateTime value);

// --- Clock ------------------------------------------------------------------------------

// Today at midnight, the time of day (date part 0), and both, from the local clock.
TDateTime Date();
TDateTime Time();
TDateTime Now();

// --- Text -------------------------------------------------------------------------------

// Formats `value` with the format letters (case-insensitive unless noted):
//   c       ShortDateFormat, then " " and LongTimeFormat unless h, n and s are all 0
//   d dd    day 1..31 without / with a leading zero
//   ddd     ShortDayNames          dddd    LongDayNames
//   ddddd   ShortDateFormat        dddddd  LongDateFormat
//   m mm    month without / with a leading zero; right after an h (letters between them
//           other than separators count) it means minutes
//   mmm     ShortMonthNames        mmmm    LongMonthNames
//   yy      two-digit year         yyyy    four-digit year (three or more y)
//   h hh    hour; 12-hour clock when an am/pm, a/p or ampm comes after it before the next
//           h, or came earlier in the same format
//   n nn    minutes                s ss    seconds
//   z zzz   milliseconds without / with leading zeros to three digits
//   t tt    ShortTimeFormat / LongTimeFormat
//   am/pm   "am" or "pm" in the case written;  a/p  "a" or "p" likewise
//   ampm    TimeAMString or TimePMString
//   /       DateSeparator          :       TimeSeparator
//   'xx' "xx"  literal text; any other character stands for itself
// An empty format means "c". Formats nested through c, ddddd, dddddd, t and tt are expanded
// one level deep only.
std::string FormatDateTime(const std::string& format, TDateTime value);
std::string FormatDateTime(const std::string& format, TDateTime value, const TFormatSettings& settings);

// ShortDateFormat / LongTimeFormat / "c" (the time is left out when it is midnight).
std::string DateToStr(TDateTime value);
std::string DateToStr(TDateTime value, const TFormatSettings& settings);
std::string TimeToStr(TDateTime value);
std::string TimeToStr(TDateTime value, const TFormatSettings& settings);
std::string DateTimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings);

// Reads a date: two or three numbers separated by DateSeparator, in the order of the first of
// y, m and d in ShortDateFormat; with two numbers the year is the current one; a year written
// with one or two digits falls in the hundred years that start TwoDigitYearCenturyWindow
// years before the current year (window 0: the current century). Blanks around the parts, and
// one DateSeparator after a three-part date, are allowed. Raises EConvertError "'<text>' is not
// a valid date".
TDateTime StrToDate(const std::string& text);
TDateTime StrToDate(const std::string& text, const TFormatSettings& settings);
bool TryStrToDate(const std::string& text, TDateTime& value);
bool TryStrToDate(const std::string& text, TDateTime& value, const TFormatSettings& settings);

// Reads a time: hour[:min[:sec[<DecimalSeparator>fraction]]] with an optional TimeAMString,
// TimePMString, "AM" or "PM" (any case) before or after it; with a marker the hour must be
// 1..12. The fraction is a decimal fraction of a second (".5" is 500 ms; digits beyond the
// third are dropped). Raises EConvertError "'<text>' is not a valid time".
TDateTime StrToTime(const std::string& text);
TDateTime StrToTime(const std::string& text, const TFormatSettings& settings);
bool TryStrToTime(const std::string& text, TDateTime& value);
bool TryStrToTime(const std::string& text, TDateTime& value, const TFormatSettings& settings);

// Reads a date optionally followed by a time, or a time alone; raises EConvertError
// "'<text>' is not a valid date and time".
TDateTime StrToDateTime(const std::string& text);
TDateTime StrToDateTime(const std::string& text, const TFormatSettings& settings);
bool TryStrToDateTime(const std::string& text, TDateTime& value);
bool TryStrToDateTime(const std::string& text, TDateTime& value, const TFormatSettings& settings);

}  // namespace ostra
