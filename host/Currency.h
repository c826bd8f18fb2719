// Currency: the host library's fixed-point money type, a 64-bit integer scaled by 10000
// (four decimals), with its exact text conversions. Variant arithmetic on Currency values
// works on the scaled integer so that sums of amounts never pick up binary-float noise.
#pragma once
#include <compare>
#include <cstdint>
#include <string>

namespace ostra {

// A fixed-point amount with four decimals: Scaled = value * 10000.
// Range -922337203685477.5808 .. 922337203685477.5807.
struct Currency {
    static constexpr int64_t Scale = 10000;

    int64_t Scaled = 0;

    // The amount whose scaled integer is `scaled` (FromScaled(15000) is 1.5).
    static constexpr Currency FromScaled(int64_t scaled) {
        Currency c;
        c.Scaled = scaled;
        return c;
    }
    // The amount as a double (may round for amounts beyond 2^53 / 10000).
    double ToDouble() const { return static_cast<double>(Scaled) / Scale; }

    friend constexpr bool operator==(const Currency&, const Currency&) = default;
    friend constexpr auto operator<=>(const Currency&, const Currency&) = default;
};

// Double to Currency, rounded half to even at the fourth decimal; false for NaN and out of range.
bool TryFloatToCurr(double value, Currency& result);

// The shortest exact decimal text of the amount with the settings' decimal separator:
// "12.5", "-0.0001", "3".
std::string CurrToStr(Currency value);

// Text to Currency. [blanks][sign]digits[separator digits][blanks] is read exactly (digits past
// the fourth decimal round half to even); other number texts (exponents) go through StrToFloat.
// False when the text is not a number or the amount is out of range.
bool TryStrToCurr(const std::string& text, Currency& value);

}  // namespace ostra
