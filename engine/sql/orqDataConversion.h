// orqDataConversion: how SQL text values become dates and times, and which type conversions
// the SQL layer allows.
//
// SQL text carries dates and times as strings ('2001-02-03', #03/02/2001#, '10:30 PM'). When
// such a string meets a date, time or date-time field, when an insert or update value is a
// string for a temporal column, or when a CAST is checked, two small classes decide:
//
// - TOrqDataConversionValidator says which conversions are allowed and turns string values
//   into temporal ones. An unreadable date raises engine error 10059, an unreadable time
//   10058: the only errors of the SQL layer that are raised instead of kept by a parser.
// - TOrqStrToDateTimeConverter reads date and time text in the order of the locale's short
//   date format, with short month names and a two-digit-year window. Its reading routines
//   never raise: what they cannot read makes them answer -1.
//
// Positions are 1-based, as in the texts the parsers report. Date-time values are TDateTime
// numbers (whole days since 1899-12-30 plus the fraction of the day).
//
// The locale comes from a TFormatSettings object: the one given to the constructor, or the
// settings in force (FormatSettings()) at the time of each call. "Today" (the date that
// parts missing from a text default to, and the year the century window counts from) is the
// clock's date unless a fixed one was set.
#pragma once
#include <optional>
#include <string>

#include "host/DateTime.h"
#include "host/FormatSettings.h"
#include "host/Variant.h"
#include "host/db/FieldType.h"

namespace ostra {

// Reads dates and times from text by the locale's conventions (see the opening comment).
class TOrqStrToDateTimeConverter {
public:
    // Settings: the locale to read by (not owned; must outlive the converter); null means the
    // settings in force at each call.
    explicit TOrqStrToDateTimeConverter(const TFormatSettings* Settings = nullptr) : FSettings(Settings) {}

    // InternalConvertStrToDate(S, Order, DT, 1, DataType).
    bool ConvertStrToDate(const std::string& S, const std::string& Order, TDateTime& DT, TFieldType DataType);
    // The same, starting at LastPos.
    bool ConvertStrToDateFromLastPos(const std::string& S, const std::string& Order, TDateTime& DT,
                                     TFieldType DataType);
    // DT := 0; reads a date (ftDate, ftDateTime; Order empty = GetSDFOrder) and then a time
    // (ftTime, ftDateTime) from StartPos (0 counts as 1); DT := date + time. LastPos := the
    // position after what was read, or -1 on failure. True when everything asked for was read.
    bool InternalConvertStrToDate(const std::string& S, const std::string& Order, TDateTime& DT, int StartPos,
                                  TFieldType DataType);

    // Reads up to three date parts from StartPos (blanks skipped first) in the given order of
    // the letters Y, M and D. Answers the position after the gap that follows the last part
    // read and sets DT, or -1 (DT unchanged) when the text holds no valid date there. StartPos
    // is 1-based; a position below 1 or beyond Length(S) + 1 answers -1.
    int GetDate(const std::string& S, const std::string& Order, TDateTime& DT, int StartPos);
    // Reads up to four time parts (hour, minute, second, millisecond) of digits from StartPos;
    // "PM" / "AM" or the locale's markers anywhere in S move the hour. Answers the position
    // after the last gap and sets T, or -1 (T unchanged) when a part is missing or out of range,
    // or StartPos lies below 1 or beyond Length(S) + 1. At Length(S) + 1 (a date that ended the
    // text) no part is read and T is midnight.
    int GetTime(const std::string& S, int StartPos, TDateTime& T);
    // The order of year, month and day in the short date format: "MDY", "DMY", "YMD", "YDM".
    std::string GetSDFOrder() const;
    // 1 (Sunday) .. 7 (Saturday) for the first long day name containing Part (lower-cased,
    // first letter upper-cased); 0 when none does.
    int GetDayStr(const std::string& Part) const;
    // 1 .. 12 for the short month name equal to Part ignoring case; 0 when none is.
    int GetMonthStr(const std::string& Part) const;

    // Scanners over S from P (1-based); each leaves the stopping position in PEnd.
    // Letters A-Z, a-z and digits; answers true.
    static bool ScanDateStrData(const std::string& S, int P, int& PEnd);
    // Everything but letters and digits; answers whether text remains.
    static bool ScanDateStrGap(const std::string& S, int P, int& PEnd);
    // Digits; answers true.
    static bool ScanTimeStrData(const std::string& S, int P, int& PEnd);
    // Everything but digits; answers whether text remains.
    static bool ScanTimeStrGap(const std::string& S, int P, int& PEnd);

    // The position after the last successful read (0 while nothing was read, -1 after a failure).
    int LastPos() const { return FLastPos; }
    void SetLastPos(int P) { FLastPos = P; }
    // The date missing parts default to; the clock's date unless SetToday fixed one.
    TDateTime Today() const;
    void SetToday(TDateTime D) { FToday = D; }

private:
    const TFormatSettings& Settings() const { return FSettings ? *FSettings : FormatSettings(); }

    const TFormatSettings* FSettings;
    std::optional<TDateTime> FToday;
    int FLastPos = 0;
};

// Which type conversions the SQL layer allows, and string-to-temporal conversion of values.
class TOrqDataConversionValidator {
public:
    // Settings as for TOrqStrToDateTimeConverter.
    explicit TOrqDataConversionValidator(const TFormatSettings* Settings = nullptr) : FSettings(Settings) {}

    // False only from ftBoolean to ftFloat, ftDate, ftTime, ftDateTime or ftBlob.
    static bool CheckDataConversionValid(TFieldType From, TFieldType To);
    // From ftString to ftDate, ftTime or ftDateTime: ConvertStrToDateTime of Value's text;
    // otherwise Value unchanged.
    Variant PerformDataConversionToType(TFieldType From, TFieldType To, const Variant& Value);
    // S as a date (ftDate), time (ftTime) or date and time (ftDateTime), as a Double holding
    // the TDateTime number; Null for an empty S. The date is read in the locale's order, then
    // in the order year-month-day; the time follows the date when text follows it. Raises
    // EOrqDatabaseError 10059 for an unreadable date and 10058 for an unreadable time
    // (caller "TExprOptimizerMgr.ConvertStrToDateTime", text SorqDataFormatErrorFmt).
    Variant ConvertStrToDateTime(const std::string& S, TFieldType DataType);

    // Fixes "today" for the converters this validator makes (tests).
    void SetToday(TDateTime D) { FToday = D; }

private:
    const TFormatSettings* FSettings;
    std::optional<TDateTime> FToday;
};

}  // namespace ostra
