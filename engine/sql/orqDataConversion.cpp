// Date and time text reading and the conversion validator (see orqDataConversion.h).
#include "engine/sql/orqDataConversion.h"

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "host/Collation.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsLetterOrDigit(char c) {
    return IsDigit(c) || IsLetter(c);
}

// The character at 1-based position P; P must be within S.
char At(const std::string& S, int P) {
    return S[static_cast<std::size_t>(P - 1)];
}
int Len(const std::string& S) {
    return static_cast<int>(S.size());
}

// A run of decimal digits as a number; false for an empty run, any other character or a value
// beyond 32 bits.
bool ReadDecimal(const std::string& Part, int& Value) {
    if (Part.empty()) return false;
    int64_t v = 0;
    for (char c : Part) {
        if (!IsDigit(c)) return false;
        v = v * 10 + (c - '0');
        if (v > INT32_MAX) return false;
    }
    Value = static_cast<int>(v);
    return true;
}

int DecimalOr(const std::string& Part, int Default) {
    int v;
    return ReadDecimal(Part, v) ? v : Default;
}

// Whether Marker occurs in UpperText; an empty marker never does.
bool ContainsMarker(const std::string& UpperText, const std::string& Marker) {
    return !Marker.empty() && UpperText.find(AnsiUpperCase(Marker)) != std::string::npos;
}

// Whether StartPos is a position the readers may start at: a character of S, or the end of S
// (just after its last character).
bool ValidStartPos(const std::string& S, int StartPos) {
    return StartPos >= 1 && StartPos <= Len(S) + 1;
}

int SkipBlanks(const std::string& S, int P) {
    while (P <= Len(S) && At(S, P) == ' ') ++P;
    return P;
}

}  // namespace

// --- TOrqStrToDateTimeConverter --------------------------------------------------------------

TDateTime TOrqStrToDateTimeConverter::Today() const {
    return FToday ? *FToday : Date();
}

bool TOrqStrToDateTimeConverter::ConvertStrToDate(const std::string& S, const std::string& Order,
                                                  TDateTime& DT, TFieldType DataType) {
    return InternalConvertStrToDate(S, Order, DT, 1, DataType);
}

bool TOrqStrToDateTimeConverter::ConvertStrToDateFromLastPos(const std::string& S, const std::string& Order,
                                                             TDateTime& DT, TFieldType DataType) {
    return InternalConvertStrToDate(S, Order, DT, FLastPos, DataType);
}

bool TOrqStrToDateTimeConverter::InternalConvertStrToDate(const std::string& S, const std::string& Order,
                                                          TDateTime& DT, int StartPos, TFieldType DataType) {
    DT = 0;
    int P = StartPos == 0 ? 1 : StartPos;
    // A failed earlier read leaves LastPos at -1; reading from there reads nothing.
    if (P < 0) {
        FLastPos = -1;
        return false;
    }
    TDateTime D = 0;
    if (DataType == ftDate || DataType == ftDateTime)
        P = GetDate(S, Order.empty() ? GetSDFOrder() : Order, D, P);
    if (P > 0) {
        DT = D;
        if (DataType == ftTime || DataType == ftDateTime) {
            TDateTime T = 0;
            P = GetTime(S, P, T);
            if (P > 0) DT = ComposeDateTime(DT, T);
        }
    }
    FLastPos = P;
    return P > 0;
}

std::string TOrqStrToDateTimeConverter::GetSDFOrder() const {
    const std::string fmt = UpperCase(Settings().ShortDateFormat);
    // 1-based positions of the first M and D, 0 when absent.
    const std::size_t m = fmt.find('M');
    const std::size_t d = fmt.find('D');
    const std::size_t posM = m == std::string::npos ? 0 : m + 1;
    const std::size_t posD = d == std::string::npos ? 0 : d + 1;
    const bool monthFirst = posM <= posD;
    std::string order = "XXX";
    if (!fmt.empty() && fmt[0] == 'Y') {
        order[0] = 'Y';
        order[1] = monthFirst ? 'M' : 'D';
        order[2] = monthFirst ? 'D' : 'M';
    } else {
        order[0] = monthFirst ? 'M' : 'D';
        order[1] = monthFirst ? 'D' : 'M';
        order[2] = 'Y';
    }
    return order;
}

int TOrqStrToDateTimeConverter::GetDayStr(const std::string& Part) const {
    std::string cased = AnsiLowerCase(Part);
    if (!cased.empty()) cased[0] = AnsiUpperChar(cased[0]);
    const auto& names = Settings().LongDayNames;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (!cased.empty() && names[i].find(cased) != std::string::npos) return static_cast<int>(i) + 1;
    return 0;
}

int TOrqStrToDateTimeConverter::GetMonthStr(const std::string& Part) const {
    const auto& names = Settings().ShortMonthNames;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (AnsiSameText(names[i], Part)) return static_cast<int>(i) + 1;
    return 0;
}

int TOrqStrToDateTimeConverter::GetDate(const std::string& S, const std::string& Order, TDateTime& DT,
                                        int StartPos) {
    int year, month, day;
    DecodeDate(Today(), year, month, day);
    const int currentYear = year;
    const int window = Settings().TwoDigitYearCenturyWindow;
    const int pivot = currentYear - window;
    bool yearValid = false;
    if (!ValidStartPos(S, StartPos)) return -1;

    int P = SkipBlanks(S, StartPos);
    int count = 0;  // parts read; 4 when text follows the third part
    if (P <= Len(S)) {
        for (int i = 1;; ++i) {
            int pEnd;
            ScanDateStrData(S, P, pEnd);
            const std::string part =
                S.substr(static_cast<std::size_t>(P - 1), static_cast<std::size_t>(pEnd - P));
            const char letter = i - 1 < Len(Order) ? Order[static_cast<std::size_t>(i - 1)] : ' ';
            switch (letter) {
                case 'D':
                    // A name in the day position does not say which day of the month is meant
                    // (a weekday is not a day of the month): the date is not read.
                    day = Len(part) < 3 ? DecimalOr(part, 0) : 0;
                    break;
                case 'M':
                    month = Len(part) < 3 ? DecimalOr(part, 0) : GetMonthStr(part);
                    break;
                case 'Y': {
                    year = DecimalOr(part, -1);
                    yearValid = year >= 0;
                    if (year < 100) {
                        year = (pivot / 100) * 100 + year;
                        if (window != 0 && year < pivot) year += 100;
                    }
                    break;
                }
                default:
                    break;
            }
            const bool remains = ScanDateStrGap(S, pEnd, P);
            count = i;
            if (!remains) break;
            if (i == 3) {
                count = 4;
                break;
            }
        }
    }
    if ((count == 3 || count == 4) && month >= 1 && month <= 12 && day >= 1 && day <= 31 && yearValid) {
        TDateTime value;
        if (!TryEncodeDate(year, month, day, value)) return -1;
        DT = value;
        return P;
    }
    return -1;
}

int TOrqStrToDateTimeConverter::GetTime(const std::string& S, int StartPos, TDateTime& T) {
    int parts[4] = {0, 0, 0, 0};
    if (!ValidStartPos(S, StartPos)) return -1;
    int P = SkipBlanks(S, StartPos);
    if (P <= Len(S)) {
        for (int i = 0; i < 4; ++i) {
            int pEnd;
            ScanTimeStrData(S, P, pEnd);
            parts[i] =
                DecimalOr(S.substr(static_cast<std::size_t>(P - 1), static_cast<std::size_t>(pEnd - P)), -1);
            if (!ScanTimeStrGap(S, pEnd, P)) break;
        }
    }
    int& hour = parts[0];
    const std::string upper = AnsiUpperCase(S);
    if ((upper.find("PM") != std::string::npos || ContainsMarker(upper, Settings().TimePMString)) &&
        hour >= 0 && hour < 12)
        hour += 12;
    if ((upper.find("AM") != std::string::npos || ContainsMarker(upper, Settings().TimeAMString)) &&
        hour == 12)
        hour = 0;
    TDateTime value;
    if (parts[0] < 0 || parts[1] < 0 || parts[2] < 0 || parts[3] < 0 ||
        !TryEncodeTime(parts[0], parts[1], parts[2], parts[3], value))
        return -1;
    T = value;
    return P;
}

bool TOrqStrToDateTimeConverter::ScanDateStrData(const std::string& S, int P, int& PEnd) {
    while (P <= Len(S) && IsLetterOrDigit(At(S, P))) ++P;
    PEnd = P;
    return true;
}

bool TOrqStrToDateTimeConverter::ScanDateStrGap(const std::string& S, int P, int& PEnd) {
    while (P <= Len(S) && !IsLetterOrDigit(At(S, P))) ++P;
    PEnd = P;
    return P <= Len(S);
}

bool TOrqStrToDateTimeConverter::ScanTimeStrData(const std::string& S, int P, int& PEnd) {
    while (P <= Len(S) && IsDigit(At(S, P))) ++P;
    PEnd = P;
    return true;
}

bool TOrqStrToDateTimeConverter::ScanTimeStrGap(const std::string& S, int P, int& PEnd) {
    while (P <= Len(S) && !IsDigit(At(S, P))) ++P;
    PEnd = P;
    return P <= Len(S);
}

// --- TOrqDataConversionValidator -------------------------------------------------------------

bool TOrqDataConversionValidator::CheckDataConversionValid(TFieldType From, TFieldType To) {
    if (From != ftBoolean) return true;
    return !(To == ftFloat || To == ftDate || To == ftTime || To == ftDateTime || To == ftBlob);
}

Variant TOrqDataConversionValidator::PerformDataConversionToType(TFieldType From, TFieldType To,
                                                                 const Variant& Value) {
    if (From == ftString && (To == ftDate || To == ftTime || To == ftDateTime))
        return ConvertStrToDateTime(VarToStr(Value), To);
    return Value;
}

Variant TOrqDataConversionValidator::ConvertStrToDateTime(const std::string& S, TFieldType DataType) {
    static const char* const Caller = "TExprOptimizerMgr.ConvertStrToDateTime";
    if (S.empty()) return Null();
    TOrqStrToDateTimeConverter converter(FSettings);
    if (FToday) converter.SetToday(*FToday);
    const TFormatSettings& settings = FSettings ? *FSettings : FormatSettings();

    TDateTime D = 0;
    TDateTime T = 0;
    if (DataType == ftDate || DataType == ftDateTime) {
        if (!converter.ConvertStrToDate(S, "", D, ftDate) && !converter.ConvertStrToDate(S, "YMD", D, ftDate))
            OrqDatabaseErrorFmt(10059, Caller, SorqDataFormatErrorFmt, {S, "yyyy-mmm-dd"}, nullptr);
    }
    // A time is read for a time value, and after a date when text follows the date.
    if (DataType == ftTime || (DataType == ftDateTime && converter.LastPos() <= static_cast<int>(S.size()))) {
        if (!converter.ConvertStrToDateFromLastPos(S, "", T, ftTime))
            OrqDatabaseErrorFmt(10058, Caller, SorqDataFormatErrorFmt, {S, settings.LongTimeFormat}, nullptr);
    }
    // The time is added away from zero so that dates before 1899-12-30 keep their time of day.
    return Variant(static_cast<double>(ComposeDateTime(D, T)));
}

}  // namespace ostra
