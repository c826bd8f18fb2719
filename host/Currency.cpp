// Currency conversions: rounding from double and exact decimal text in both directions.
#include "host/Currency.h"

#include <cmath>

#include "host/FormatSettings.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

constexpr unsigned __int128 kMaxPositive = static_cast<unsigned __int128>(INT64_MAX);
constexpr unsigned __int128 kMaxNegative = static_cast<unsigned __int128>(INT64_MAX) + 1;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool TryFloatToCurr(double value, Currency& result) {
    if (!std::isfinite(value)) return false;
    // The product is taken in extended precision so that it is not rounded once more (to
    // double) before the half-to-even step.
    long double scaled = std::nearbyintl(static_cast<long double>(value) * Currency::Scale);
    if (scaled < -9223372036854775808.0L || scaled >= 9223372036854775808.0L) return false;
    result = Currency::FromScaled(static_cast<int64_t>(scaled));
    return true;
}

std::string CurrToStr(Currency value) {
    const bool negative = value.Scaled < 0;
    // Magnitude as unsigned so that the lowest amount does not overflow on negation.
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value.Scaled) : static_cast<uint64_t>(value.Scaled);
    std::string text = negative ? "-" : "";
    text += std::to_string(magnitude / Currency::Scale);
    uint64_t fraction = magnitude % Currency::Scale;
    if (fraction != 0) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, 4 - digits.size(), '0');
        while (digits.back() == '0') digits.pop_back();
        text += FormatSettings().DecimalSeparator;
        text += digits;
    }
    return text;
}

bool TryStrToCurr(const std::string& text, Currency& value) {
    const std::string s = Trim(text);
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    unsigned __int128 magnitude = 0;  // scaled by 10000
    size_t digits = 0;
    bool tooLarge = false;
    for (; i < s.size() && IsDigit(s[i]); ++i, ++digits) {
        if (!tooLarge) magnitude = magnitude * 10 + unsigned(s[i] - '0');
        tooLarge = tooLarge || magnitude > kMaxNegative;
    }
    magnitude *= Currency::Scale;
    if (i < s.size() && s[i] == FormatSettings().DecimalSeparator) {
        ++i;
        unsigned __int128 unit = Currency::Scale / 10;
        int firstDropped = -1;    // the first digit past the fourth decimal
        bool restNonZero = false; // any non-zero digit after that one
        for (; i < s.size() && IsDigit(s[i]); ++i, ++digits) {
            int d = s[i] - '0';
            if (unit > 0) {
                magnitude += unit * unsigned(d);
                unit /= 10;
            } else if (firstDropped < 0) {
                firstDropped = d;
            } else if (d != 0) {
                restNonZero = true;
            }
        }
        if (firstDropped > 5 || (firstDropped == 5 && (restNonZero || (magnitude & 1) != 0))) ++magnitude;
    }
    if (digits == 0) return false;
    if (i != s.size()) {
        // Not plain decimal text: let the float reader decide (exponent forms such as "1.5E3").
        double d;
        return TryStrToFloat(text, d) && TryFloatToCurr(d, value);
    }
    if (tooLarge || magnitude > (negative ? kMaxNegative : kMaxPositive)) return false;
    value = Currency::FromScaled(negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(magnitude))
                                          : static_cast<int64_t>(magnitude));
    return true;
}

}  // namespace ostra
