// Dates and times: time-stamp arithmetic, the Gregorian calendar, the clock and the text
// formats. Every split of a TDateTime goes through DateTimeToTimeStamp so that rounding to
// the millisecond happens in one place.
#include "host/DateTime.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "host/Collation.h"
#include "host/Exceptions.h"
#include "platform/Clock.h"

namespace ostra {

namespace {

constexpr int32_t D1 = 365;           // days in a common year
constexpr int32_t D4 = D1 * 4 + 1;    // days in four years
constexpr int32_t D100 = D4 * 25 - 1; // days in a hundred years
constexpr int32_t D400 = D100 * 4 + 1;

constexpr int kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                   {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

[[noreturn]] void InvalidStamp(const std::string& text) {
    throw EConvertError("'" + text + "' is not a valid timestamp");
}

void ValidateTimeStamp(const TTimeStamp& stamp) {
    if (stamp.Time < 0 || stamp.Time >= MSecsPerDay || stamp.Date <= 0)
        InvalidStamp(std::to_string(stamp.Date) + "." + std::to_string(stamp.Time));
}

// Year, month and day of a time-stamp day (>= 1).
void DecodeStampDate(int32_t stampDate, int& year, int& month, int& day) {
    if (stampDate <= 0) {
        year = month = day = 0;
        return;
    }
    int64_t t = int64_t(stampDate) - 1;
    int64_t y = 1 + (t / D400) * 400;
    t %= D400;
    int64_t i = t / D100, d = t % D100;
    if (i == 4) {  // the last day of a 400-year cycle
        --i;
        d += D100;
    }
    y += i * 100;
    i = d / D4;
    d %= D4;
    y += i * 4;
    i = d / D1;
    d %= D1;
    if (i == 4) {  // the last day of a four-year cycle
        --i;
        d += D1;
    }
    y += i;
    const int* table = kMonthDays[IsLeapYear(int(y))];
    int m = 0;
    while (d >= table[m]) d -= table[m++];
    year = int(y);
    month = m + 1;
    day = int(d) + 1;
}

void DecodeStampTime(int32_t stampTime, int& hour, int& min, int& sec, int& msec) {
    hour = stampTime / 3600000;
    min = stampTime / 60000 % 60;
    sec = stampTime / 1000 % 60;
    msec = stampTime % 1000;
}

int StampDayOfWeek(int32_t stampDate) {
    int r = stampDate % 7;
    if (r < 0) r += 7;
    return r + 1;
}

}  // namespace

// --- Time stamps ------------------------------------------------------------------------

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
    double ms = std::round(value * MSecsPerDay);
    // The day must fit 32 bits; this bound also keeps the cast below defined.
    constexpr double kLimit = double(std::numeric_limits<int32_t>::max() - DateDelta) * MSecsPerDay;
    if (!std::isfinite(ms) || std::fabs(ms) >= kLimit) throw EConvertError("Date/time value out of range");
    int64_t t = int64_t(ms);
    TTimeStamp stamp;
    stamp.Date = int32_t(DateDelta + t / MSecsPerDay);
    stamp.Time = int32_t(std::llabs(t) % MSecsPerDay);
    return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
    ValidateTimeStamp(stamp);
    // One division of the exact millisecond count rounds once, so the value converts back
    // to the same stamp.
    int64_t t = (int64_t(stamp.Date) - DateDelta) * MSecsPerDay;
    t = t >= 0 ? t + stamp.Time : t - stamp.Time;
    return double(t) / MSecsPerDay;
}

int64_t TimeStampToMSecs(const TTimeStamp& stamp) {
    ValidateTimeStamp(stamp);
    return int64_t(stamp.Date) * MSecsPerDay + stamp.Time;
}

TTimeStamp MSecsToTimeStamp(int64_t msecs) {
    int64_t date = msecs / MSecsPerDay;
    if (msecs < MSecsPerDay || date > std::numeric_limits<int32_t>::max()) InvalidStamp(std::to_string(msecs));
    return TTimeStamp{int32_t(msecs % MSecsPerDay), int32_t(date)};
}

// --- Calendar parts ---------------------------------------------------------------------

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int MonthDays(int year, int month) {
    if (month < 1 || month > 12) return 0;
    return kMonthDays[IsLeapYear(year)][month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > MonthDays(year, month))
        return false;
    const int* table = kMonthDays[IsLeapYear(year)];
    int days = day;
    for (int m = 0; m < month - 1; ++m) days += table[m];
    int y = year - 1;
    value = double(y * 365 + y / 4 - y / 100 + y / 400 + days - DateDelta);
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& value) {
    if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 || msec >= 1000)
        return false;
    value = double(int32_t(hour) * 3600000 + min * 60000 + sec * 1000 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime value;
    if (!TryEncodeDate(year, month, day, value)) throw EConvertError("Invalid argument to date encode");
    return value;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime value;
    if (!TryEncodeTime(hour, min, sec, msec, value)) throw EConvertError("Invalid argument to time encode");
    return value;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
    return date < 0 ? date - std::fabs(time) : date + std::fabs(time);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    DecodeStampDate(DateTimeToTimeStamp(value).Date, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
    DecodeStampTime(DateTimeToTimeStamp(value).Time, hour, min, sec, msec);
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec) {
    TTimeStamp stamp = DateTimeToTimeStamp(value);
    DecodeStampDate(stamp.Date, year, month, day);
    DecodeStampTime(stamp.Time, hour, min, sec, msec);
}

int DayOfWeek(TDateTime value) { return StampDayOfWeek(DateTimeToTimeStamp(value).Date); }

// --- Clock ------------------------------------------------------------------------------

namespace {
// A leap second (second 60) counts as second 59.
TDateTime LocalTimeOfDay(const platform::LocalTime& t) {
    return EncodeTime(t.Hour, t.Minute, t.Second > 59 ? 59 : t.Second, t.Millisecond);
}
}  // namespace

TDateTime Date() {
    platform::LocalTime t = platform::GetLocalTime();
    return EncodeDate(t.Year, t.Month, t.Day);
}

TDateTime Time() { return LocalTimeOfDay(platform::GetLocalTime()); }

TDateTime Now() {
    platform::LocalTime t = platform::GetLocalTime();
    return EncodeDate(t.Year, t.Month, t.Day) + LocalTimeOfDay(t);
}

// --- Formatting -------------------------------------------------------------------------

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

// True when `s` has `word` at `pos`, ignoring ASCII case.
bool HasWordAt(const std::string& s, size_t pos, const char* word) {
    for (size_t i = 0; word[i]; ++i)
        if (pos + i >= s.size() || UpperAscii(s[pos + i]) != word[i]) return false;
    return true;
}

// Expands one format (and the formats it names, one level deep) into `Out`.
class TDateTimeFormatter {
public:
    TDateTimeFormatter(TDateTime value, const TFormatSettings& settings, std::string& out)
        : FSettings(settings), FOut(out) {
        TTimeStamp stamp = DateTimeToTimeStamp(value);
        DecodeStampDate(stamp.Date, FYear, FMonth, FDay);
        DecodeStampTime(stamp.Time, FHour, FMin, FSec, FMSec);
        FDayOfWeek = StampDayOfWeek(stamp.Date);
    }

    void Append(const std::string& format) {
        if (FLevel >= 2) return;
        ++FLevel;
        char lastToken = ' ';
        bool use12HourClock = false;
        size_t i = 0;
        const size_t n = format.size();
        while (i < n) {
            const char starter = format[i++];
            char token = UpperAscii(starter);
            if (token >= 'A' && token <= 'Z') {
                if (token == 'M' && lastToken == 'H') token = 'N';
                lastToken = token;
            }
            auto count = [&] {
                int c = 1;
                while (i < n && format[i] == starter) {
                    ++i;
                    ++c;
                }
                return c;
            };
            switch (token) {
            case 'Y':
                if (count() <= 2)
                    Number(FYear % 100, 2);
                else
                    Number(FYear, 4);
                break;
            case 'M': {
                int c = count();
                if (c <= 2)
                    Number(FMonth, c);
                else if (FMonth >= 1)
                    FOut += c == 3 ? FSettings.ShortMonthNames[FMonth - 1] : FSettings.LongMonthNames[FMonth - 1];
                break;
            }
            case 'D': {
                int c = count();
                if (c <= 2)
                    Number(FDay, c);
                else if (c == 3)
                    FOut += FSettings.ShortDayNames[FDayOfWeek - 1];
                else if (c == 4)
                    FOut += FSettings.LongDayNames[FDayOfWeek - 1];
                else if (c == 5)
                    Append(FSettings.ShortDateFormat);
                else
                    Append(FSettings.LongDateFormat);
                break;
            }
            case 'H': {
                int c = count();
                if (!use12HourClock) use12HourClock = MarkerFollows(format, i);
                int h = FHour;
                if (use12HourClock) {
                    if (h == 0)
                        h = 12;
                    else if (h > 12)
                        h -= 12;
                }
                Number(h, c > 2 ? 2 : c);
                break;
            }
            case 'N': {
                int c = count();
                Number(FMin, c > 2 ? 2 : c);
                break;
            }
            case 'S': {
                int c = count();
                Number(FSec, c > 2 ? 2 : c);
                break;
            }
            case 'Z': {
                int c = count();
                Number(FMSec, c > 3 ? 3 : c);
                break;
            }
            case 'T':
                Append(count() == 1 ? FSettings.ShortTimeFormat : FSettings.LongTimeFormat);
                break;
            case 'A': {
                size_t p = i - 1;
                bool pm = FHour >= 12;
                if (HasWordAt(format, p, "AM/PM")) {
                    FOut.append(format, pm ? p + 3 : p, 2);
                    i = p + 5;
                    use12HourClock = true;
                } else if (HasWordAt(format, p, "A/P")) {
                    FOut += format[pm ? p + 2 : p];
                    i = p + 3;
                    use12HourClock = true;
                } else if (HasWordAt(format, p, "AMPM")) {
                    FOut += pm ? FSettings.TimePMString : FSettings.TimeAMString;
                    i = p + 4;
                    use12HourClock = true;
                } else {
                    FOut += starter;
                }
                break;
            }
            case 'C':
                count();
                Append(FSettings.ShortDateFormat);
                if (FHour != 0 || FMin != 0 || FSec != 0) {
                    FOut += ' ';
                    Append(FSettings.LongTimeFormat);
                }
                break;
            case '/':
                if (FSettings.DateSeparator != '\0') FOut += FSettings.DateSeparator;
                break;
            case ':':
                if (FSettings.TimeSeparator != '\0') FOut += FSettings.TimeSeparator;
                break;
            case '\'':
            case '"': {
                size_t start = i;
                while (i < n && format[i] != starter) ++i;
                FOut.append(format, start, i - start);
                if (i < n) ++i;
                break;
            }
            default:
                FOut += starter;
            }
        }
        --FLevel;
    }

private:
    // Whether an am/pm marker follows `pos` before the next hour letter (outside quotes).
    static bool MarkerFollows(const std::string& format, size_t pos) {
        bool quoted = false;
        for (size_t p = pos; p < format.size(); ++p) {
            char c = format[p];
            if (c == '\'' || c == '"')
                quoted = !quoted;
            else if (!quoted && (c == 'a' || c == 'A'))
                return HasWordAt(format, p, "AM/PM") || HasWordAt(format, p, "A/P") || HasWordAt(format, p, "AMPM");
            else if (!quoted && (c == 'h' || c == 'H'))
                return false;
        }
        return false;
    }

    void Number(int value, int digits) {
        std::string s = std::to_string(value);
        if (int(s.size()) < digits) FOut.append(digits - s.size(), '0');
        FOut += s;
    }

    const TFormatSettings& FSettings;
    std::string& FOut;
    int FLevel = 0;
    int FYear, FMonth, FDay, FHour, FMin, FSec, FMSec, FDayOfWeek;
};

}  // namespace

std::string FormatDateTime(const std::string& format, TDateTime value, const TFormatSettings& settings) {
    std::string out;
    TDateTimeFormatter(value, settings, out).Append(format.empty() ? std::string("c") : format);
    return out;
}

std::string FormatDateTime(const std::string& format, TDateTime value) {
    return FormatDateTime(format, value, FormatSettings());
}

std::string DateToStr(TDateTime value, const TFormatSettings& settings) {
    return FormatDateTime(settings.ShortDateFormat, value, settings);
}
std::string DateToStr(TDateTime value) { return DateToStr(value, FormatSettings()); }

std::string TimeToStr(TDateTime value, const TFormatSettings& settings) {
    return FormatDateTime(settings.LongTimeFormat, value, settings);
}
std::string TimeToStr(TDateTime value) { return TimeToStr(value, FormatSettings()); }

std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings) {
    return FormatDateTime("c", value, settings);
}
std::string DateTimeToStr(TDateTime value) { return DateTimeToStr(value, FormatSettings()); }

// --- Parsing ----------------------------------------------------------------------------

namespace {

enum class TDateOrder { MDY, DMY, YMD };

// The order of the first y, m or d in a short date format (month first when none).
TDateOrder GetDateOrder(const std::string& format) {
    for (char c : format) switch (UpperAscii(c)) {
        case 'Y': return TDateOrder::YMD;
        case 'M': return TDateOrder::MDY;
        case 'D': return TDateOrder::DMY;
        default: break;
        }
    return TDateOrder::MDY;
}

// A cursor over date or time text; every scan skips blanks first.
class TDateTimeScanner {
public:
    TDateTimeScanner(const std::string& text, const TFormatSettings& settings) : FText(text), FSettings(settings) {}

    bool AtEnd() const { return FPos >= FText.size(); }
    size_t Pos() const { return FPos; }
    void SetPos(size_t pos) { FPos = pos; }

    void Blanks() {
        while (FPos < FText.size() && FText[FPos] == ' ') ++FPos;
    }

    // A run of decimal digits; `len` is its length. Values beyond 99999 are kept at 99999.
    bool Number(int& value, int& len) {
        Blanks();
        value = 0;
        len = 0;
        while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9') {
            if (value < 99999) value = value * 10 + (FText[FPos] - '0');
            if (value > 99999) value = 99999;
            ++FPos;
            ++len;
        }
        return len > 0;
    }

    bool Char(char c) {
        Blanks();
        if (FPos < FText.size() && FText[FPos] == c) {
            ++FPos;
            return true;
        }
        return false;
    }

    // `symbol` at the position, ignoring case; never matches an empty symbol.
    bool Symbol(const std::string& symbol) {
        Blanks();
        if (symbol.empty() || FText.size() - FPos < symbol.size()) return false;
        for (size_t i = 0; i < symbol.size(); ++i)
            if (AnsiUpperChar(FText[FPos + i]) != AnsiUpperChar(symbol[i])) return false;
        FPos += symbol.size();
        return true;
    }

    bool Date(TDateTime& value) {
        TDateOrder order = GetDateOrder(FSettings.ShortDateFormat);
        int n1, n2, n3, l1, l2, l3;
        if (!(Number(n1, l1) && Char(FSettings.DateSeparator) && Number(n2, l2))) return false;
        int y, m, d;
        if (Char(FSettings.DateSeparator)) {
            if (!Number(n3, l3)) return false;
            int yearLen = l3;
            if (order == TDateOrder::MDY) {
                y = n3, m = n1, d = n2;
            } else if (order == TDateOrder::DMY) {
                y = n3, m = n2, d = n1;
            } else {
                y = n1, m = n2, d = n3, yearLen = l1;
            }
            if (yearLen <= 2) {
                int centuryBase = platform::GetLocalTime().Year - FSettings.TwoDigitYearCenturyWindow;
                y += centuryBase / 100 * 100;
                if (FSettings.TwoDigitYearCenturyWindow > 0 && y < centuryBase) y += 100;
            }
            Char(FSettings.DateSeparator);
        } else {
            y = platform::GetLocalTime().Year;
            if (order == TDateOrder::DMY)
                d = n1, m = n2;
            else
                m = n1, d = n2;
        }
        Blanks();
        return TryEncodeDate(y, m, d, value);
    }

    bool Time(TDateTime& value) {
        int baseHour = -1;
        auto marker = [&] {
            if (Symbol(FSettings.TimeAMString) || Symbol("AM"))
                baseHour = 0;
            else if (Symbol(FSettings.TimePMString) || Symbol("PM"))
                baseHour = 12;
        };
        marker();
        int hour, min = 0, sec = 0, msec = 0, len;
        if (!Number(hour, len)) return false;
        if (Char(FSettings.TimeSeparator)) {
            if (!Number(min, len)) return false;
            if (Char(FSettings.TimeSeparator)) {
                if (!Number(sec, len)) return false;
                if (Char(FSettings.DecimalSeparator) && !Fraction(msec)) return false;
            }
        }
        if (baseHour < 0) marker();
        if (baseHour >= 0) {
            if (hour == 0 || hour > 12) return false;
            if (hour == 12) hour = 0;
            hour += baseHour;
        }
        Blanks();
        return TryEncodeTime(hour, min, sec, msec, value);
    }

private:
    // The digits right after a decimal separator as milliseconds (".5" is 500).
    bool Fraction(int& msec) {
        msec = 0;
        int digits = 0;
        for (; FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9'; ++FPos, ++digits)
            if (digits < 3) msec = msec * 10 + (FText[FPos] - '0');
        for (int k = digits; k < 3; ++k) msec *= 10;
        return digits > 0;
    }

    const std::string& FText;
    const TFormatSettings& FSettings;
    size_t FPos = 0;
};

[[noreturn]] void ConvertError(const std::string& text, const char* what) {
    throw EConvertError("'" + text + "' is not a valid " + what);
}

}  // namespace

bool TryStrToDate(const std::string& text, TDateTime& value, const TFormatSettings& settings) {
    TDateTimeScanner scanner(text, settings);
    TDateTime d;
    if (!scanner.Date(d) || !scanner.AtEnd()) return false;
    value = d;
    return true;
}
bool TryStrToDate(const std::string& text, TDateTime& value) { return TryStrToDate(text, value, FormatSettings()); }

TDateTime StrToDate(const std::string& text, const TFormatSettings& settings) {
    TDateTime value;
    if (!TryStrToDate(text, value, settings)) ConvertError(text, "date");
    return value;
}
TDateTime StrToDate(const std::string& text) { return StrToDate(text, FormatSettings()); }

bool TryStrToTime(const std::string& text, TDateTime& value, const TFormatSettings& settings) {
    TDateTimeScanner scanner(text, settings);
    TDateTime t;
    if (!scanner.Time(t) || !scanner.AtEnd()) return false;
    value = t;
    return true;
}
bool TryStrToTime(const std::string& text, TDateTime& value) { return TryStrToTime(text, value, FormatSettings()); }

TDateTime StrToTime(const std::string& text, const TFormatSettings& settings) {
    TDateTime value;
    if (!TryStrToTime(text, value, settings)) ConvertError(text, "time");
    return value;
}
TDateTime StrToTime(const std::string& text) { return StrToTime(text, FormatSettings()); }

bool TryStrToDateTime(const std::string& text, TDateTime& value, const TFormatSettings& settings) {
    TDateTimeScanner scanner(text, settings);
    TDateTime d, t = 0;
    if (scanner.Date(d) && (scanner.AtEnd() || (scanner.Time(t) && scanner.AtEnd()))) {
        value = ComposeDateTime(d, t);
        return true;
    }
    return TryStrToTime(text, value, settings);
}
bool TryStrToDateTime(const std::string& text, TDateTime& value) {
    return TryStrToDateTime(text, value, FormatSettings());
}

TDateTime StrToDateTime(const std::string& text, const TFormatSettings& settings) {
    TDateTime value;
    if (!TryStrToDateTime(text, value, settings)) ConvertError(text, "date and time");
    return value;
}
TDateTime StrToDateTime(const std::string& text) { return StrToDateTime(text, FormatSettings()); }

}  // namespace ostra
