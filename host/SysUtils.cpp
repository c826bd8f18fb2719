// The host runtime's plain routines: Format, float and integer text conversion, string helpers.
#include "host/SysUtils.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace ostra {
namespace {

[[noreturn]] void FormatError(const std::string& fmt) {
    throw EConvertError("Format '" + fmt + "' invalid or incompatible with argument");
}

// The significant digits of |v| rounded to `precision` digits, and the decimal exponent e such
// that |v| = 0.d1d2d3... * 10^e. Zero gives digits "0" and exponent 0.
struct Decimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

Decimal Decompose(double v, int precision) {
    Decimal d;
    d.negative = std::signbit(v) && v != 0;
    if (v == 0) {
        d.digits = "0";
        return d;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, std::fabs(v));
    // buf: d.ddddde[+-]xx
    const char* e = std::strchr(buf, 'e');
    for (const char* p = buf; p < e; ++p)
        if (*p != '.') d.digits.push_back(*p);
    d.exponent = std::atoi(e + 1) + 1;
    while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

std::string SpecialText(double v) {
    if (std::isnan(v)) return "NAN";
    return v < 0 ? "-INF" : "INF";
}

std::string ExponentText(int exp, int minDigits, bool plusSign) {
    std::string s = std::to_string(std::abs(exp));
    while (int(s.size()) < minDigits) s.insert(s.begin(), '0');
    if (exp < 0) return "-" + s;
    return plusSign ? "+" + s : s;
}

// "-d.dddE+xxx" with exactly `precision` digits in the mantissa.
std::string ScientificText(double v, int precision, int expDigits, bool trimZeros, bool plusSign) {
    Decimal d = Decompose(v, precision);
    std::string digits = d.digits;
    if (!trimZeros)
        while (int(digits.size()) < precision) digits.push_back('0');
    std::string r = d.negative ? "-" : "";
    r += digits[0];
    if (digits.size() > 1) {
        r += FormatSettings().DecimalSeparator;
        r += digits.substr(1);
    }
    int exp = (v == 0) ? 0 : d.exponent - 1;
    r += 'E';
    r += ExponentText(exp, expDigits, plusSign);
    return r;
}

// Fixed notation with `decimals` digits after the separator, rounded to at most `precision`
// significant digits first; thousands separators when `thousands`.
std::string FixedText(double v, int precision, int decimals, bool thousands) {
    Decimal d = Decompose(v, precision);
    int intDigits = std::max(d.exponent, 1);
    int shown = std::max(0, std::min(decimals, precision - d.exponent));
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", shown, std::fabs(v));
    std::string body = buf;
    std::string intPart = body.substr(0, body.find('.'));
    std::string frac = body.find('.') == std::string::npos ? "" : body.substr(body.find('.') + 1);
    // Digits beyond the precision were rounded away: show them as zeros.
    if (int(intPart.size()) > precision && intDigits > precision) {
        for (size_t i = size_t(precision); i < intPart.size(); ++i) intPart[i] = '0';
    }
    while (int(frac.size()) < decimals) frac.push_back('0');
    if (thousands && FormatSettings().ThousandSeparator != 0) {
        std::string grouped;
        int n = int(intPart.size());
        for (int i = 0; i < n; ++i) {
            grouped.push_back(intPart[i]);
            int left = n - i - 1;
            if (left > 0 && left % 3 == 0) grouped.push_back(FormatSettings().ThousandSeparator);
        }
        intPart = grouped;
    }
    std::string r;
    bool isZero = intPart.find_first_not_of("0,.") == std::string::npos &&
                  frac.find_first_not_of('0') == std::string::npos;
    if (d.negative && !isZero) r = "-";
    r += intPart;
    if (decimals > 0) {
        r += FormatSettings().DecimalSeparator;
        r += frac;
    }
    return r;
}

std::string GeneralText(double v, int precision, int expDigits) {
    Decimal d = Decompose(v, precision);
    if (v == 0) return "0";
    if (d.exponent > precision || d.exponent < -4) return ScientificText(v, precision, expDigits, true, false);
    std::string r = d.negative ? "-" : "";
    if (d.exponent <= 0) {
        r += "0";
        r += FormatSettings().DecimalSeparator;
        r += std::string(size_t(-d.exponent), '0');
        r += d.digits;
        return r;
    }
    std::string digits = d.digits;
    while (int(digits.size()) < d.exponent) digits.push_back('0');
    r += digits.substr(0, size_t(d.exponent));
    if (int(digits.size()) > d.exponent) {
        r += FormatSettings().DecimalSeparator;
        r += digits.substr(size_t(d.exponent));
    }
    return r;
}

std::string CurrencyText(double v, int decimals) {
    const TFormatSettings& fs = FormatSettings();
    std::string amount = FixedText(std::fabs(v), 18, decimals, true);
    const std::string& c = fs.CurrencyString;
    if (!(v < 0)) {
        switch (fs.CurrencyFormat) {
            case 1: return amount + c;
            case 2: return c + " " + amount;
            case 3: return amount + " " + c;
            default: return c + amount;
        }
    }
    switch (fs.NegCurrFormat) {
        case 1: return "-" + c + amount;
        case 2: return c + "-" + amount;
        case 3: return c + amount + "-";
        case 4: return "(" + amount + c + ")";
        case 5: return "-" + amount + c;
        case 6: return amount + "-" + c;
        case 7: return amount + c + "-";
        case 8: return "-" + amount + " " + c;
        case 9: return "-" + c + " " + amount;
        case 10: return amount + " " + c + "-";
        case 11: return c + " " + amount + "-";
        case 12: return c + " -" + amount;
        case 13: return amount + "- " + c;
        case 14: return "(" + c + " " + amount + ")";
        case 15: return "(" + amount + " " + c + ")";
        default: return "(" + c + amount + ")";
    }
}

// Whether a number text (as strtod takes it) that overflows a double is the largest double
// written with as many significant digits as the text has: FloatToStr writes DBL_MAX as
// "1.79769313486232E308", which lies above DBL_MAX, and what the host writes must read back.
bool RoundsToLargestDouble(const std::string& c) {
    static_assert(std::numeric_limits<long double>::max_exponent > std::numeric_limits<double>::max_exponent,
                  "long double must hold numbers just above the largest double");
    std::string mantissa = c.substr(0, c.find('e'));
    mantissa.erase(std::remove_if(mantissa.begin(), mantissa.end(),
                                  [](char ch) { return !std::isdigit(static_cast<unsigned char>(ch)); }),
                   mantissa.end());
    size_t first = mantissa.find_first_not_of('0');
    if (first == std::string::npos) return false;
    size_t significant = mantissa.find_last_not_of('0') + 1 - first;
    char largest[128];
    std::snprintf(largest, sizeof largest, "%.*e", int(std::min<size_t>(significant, 60)) - 1,
                  std::numeric_limits<double>::max());
    return std::fabs(std::strtold(c.c_str(), nullptr)) <= std::strtold(largest, nullptr);
}

bool AsFloat(const FormatArg& a, double& out) {
    if (auto p = std::get_if<double>(&a.Value())) {
        out = *p;
        return true;
    }
    return false;
}

}  // namespace

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
    if (!std::isfinite(value)) return SpecialText(value);
    precision = std::clamp(precision, 1, 18);
    switch (format) {
        case ffGeneral: return GeneralText(value, precision, std::clamp(digits, 0, 4));
        case ffExponent: return ScientificText(value, precision, std::clamp(digits, 0, 4), false, true);
        case ffFixed:
        case ffNumber: {
            Decimal d = Decompose(value, precision);
            if (d.exponent > precision) return ScientificText(value, precision, 0, true, true);
            return FixedText(value, precision, std::clamp(digits, 0, 18), format == ffNumber);
        }
        case ffCurrency: return CurrencyText(value, std::clamp(digits, 0, 18));
    }
    return "";
}

std::string FloatToStr(double value) { return FloatToStrF(value, ffGeneral, 15, 0); }

bool TryStrToFloat(const std::string& text, double& value) {
    std::string s = Trim(text);
    if (s.empty()) return false;
    // Accept exactly: [sign] digits [sep digits] [(e|E) [sign] digits], with the settings' separator.
    std::string c;
    size_t i = 0;
    if (s[i] == '+' || s[i] == '-') c.push_back(s[i++]);
    size_t mantissaDigits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) c.push_back(s[i++]), ++mantissaDigits;
    if (i < s.size() && s[i] == FormatSettings().DecimalSeparator) {
        c.push_back('.');
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) c.push_back(s[i++]), ++mantissaDigits;
    }
    if (mantissaDigits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        c.push_back('e');
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) c.push_back(s[i++]);
        size_t expDigits = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) c.push_back(s[i++]), ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != s.size()) return false;
    errno = 0;
    double v = std::strtod(c.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(v)) {
        if (!RoundsToLargestDouble(c)) return false;
        v = std::copysign(std::numeric_limits<double>::max(), v);
    }
    value = v;
    return true;
}

double StrToFloat(const std::string& text) {
    double v;
    if (!TryStrToFloat(text, v)) throw EConvertError("'" + text + "' is not a valid floating point value");
    return v;
}

double StrToFloatDef(const std::string& text, double defaultValue) {
    double v;
    return TryStrToFloat(text, v) ? v : defaultValue;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string IntToHex(int64_t value, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(value));
    std::string s = buf;
    while (int(s.size()) < digits) s.insert(s.begin(), '0');
    return s;
}

bool TryStrToInt64(const std::string& text, int64_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return false;
    unsigned long long acc = 0;
    const unsigned long long limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
    for (; i < text.size(); ++i) {
        int d;
        char ch = text[i];
        if (ch >= '0' && ch <= '9') d = ch - '0';
        else if (base == 16 && ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
        else if (base == 16 && ch >= 'A' && ch <= 'F') d = ch - 'A' + 10;
        else return false;
        if (acc > (limit - unsigned(d)) / unsigned(base)) {
            // Hexadecimal text may fill all 64 bits, as the framework allows.
            if (base != 16 || acc > (~0ull - unsigned(d)) / 16u) return false;
        }
        acc = acc * unsigned(base) + unsigned(d);
    }
    value = negative ? static_cast<int64_t>(0 - acc) : static_cast<int64_t>(acc);
    return true;
}

bool TryStrToInt(const std::string& text, int32_t& value) {
    int64_t v;
    if (!TryStrToInt64(text, v)) return false;
    bool hex = text.find('$') != std::string::npos || text.find("0x") != std::string::npos ||
               text.find("0X") != std::string::npos;
    if (hex && v >= 0 && v <= 0xFFFFFFFFll) v = static_cast<int32_t>(static_cast<uint32_t>(v));
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
    value = static_cast<int32_t>(v);
    return true;
}

int32_t StrToInt(const std::string& text) {
    int32_t v;
    if (!TryStrToInt(text, v)) throw EConvertError("'" + text + "' is not a valid integer value");
    return v;
}

int64_t StrToInt64(const std::string& text) {
    int64_t v;
    if (!TryStrToInt64(text, v)) throw EConvertError("'" + text + "' is not a valid integer value");
    return v;
}

int32_t StrToIntDef(const std::string& text, int32_t defaultValue) {
    int32_t v;
    return TryStrToInt(text, v) ? v : defaultValue;
}

std::string Format(const std::string& fmt, std::initializer_list<FormatArg> args) {
    std::string out;
    const FormatArg* argv = args.begin();
    const int argc = int(args.size());
    int next = 0;
    size_t i = 0;
    auto readNumber = [&](int& value) -> bool {
        if (i < fmt.size() && fmt[i] == '*') {
            ++i;
            if (next >= argc) FormatError(fmt);
            auto p = std::get_if<int64_t>(&argv[next++].Value());
            if (!p) FormatError(fmt);
            value = int(*p);
            return true;
        }
        bool any = false;
        value = 0;
        while (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i]))) {
            value = value * 10 + (fmt[i++] - '0');
            if (value > 100000) FormatError(fmt);
            any = true;
        }
        return any;
    };
    while (i < fmt.size()) {
        char ch = fmt[i++];
        if (ch != '%') {
            out.push_back(ch);
            continue;
        }
        if (i >= fmt.size()) FormatError(fmt);
        if (fmt[i] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        // [index ":"]
        int number = 0;
        bool leftAlign = false;
        int width = -1, precision = -1;
        size_t save = i;
        if (i < fmt.size() && fmt[i] != '*' && readNumber(number) && i < fmt.size() && fmt[i] == ':') {
            next = number;
            ++i;
        } else {
            i = save;
        }
        if (i < fmt.size() && fmt[i] == '-') {
            leftAlign = true;
            ++i;
        }
        if (readNumber(number)) width = number;
        if (i < fmt.size() && fmt[i] == '.') {
            ++i;
            if (!readNumber(number)) number = 0;
            precision = number;
        }
        if (i >= fmt.size() || next >= argc) FormatError(fmt);
        char type = static_cast<char>(std::tolower(static_cast<unsigned char>(fmt[i++])));
        const FormatArg& arg = argv[next++];
        std::string piece;
        double f;
        switch (type) {
            case 'd':
            case 'u':
            case 'x': {
                auto p = std::get_if<int64_t>(&arg.Value());
                if (!p) FormatError(fmt);
                int64_t v = *p;
                std::string digits;
                bool negative = false;
                if (type == 'x') {
                    digits = IntToHex(v, 0);
                } else if (type == 'u') {
                    digits = std::to_string(static_cast<uint64_t>(v < 0 ? static_cast<uint32_t>(v) : v));
                } else {
                    negative = v < 0;
                    digits = negative ? std::to_string(v).substr(1) : std::to_string(v);
                }
                while (precision >= 0 && int(digits.size()) < precision) digits.insert(digits.begin(), '0');
                piece = negative ? "-" + digits : digits;
                break;
            }
            case 'e':
                if (!AsFloat(arg, f)) FormatError(fmt);
                piece = std::isfinite(f) ? ScientificText(f, precision < 0 ? 15 : std::clamp(precision, 1, 18), 3,
                                                          false, true)
                                         : SpecialText(f);
                break;
            case 'f':
            case 'n':
                if (!AsFloat(arg, f)) FormatError(fmt);
                piece = FloatToStrF(f, type == 'f' ? ffFixed : ffNumber, 18, precision < 0 ? 2 : precision);
                break;
            case 'g':
                if (!AsFloat(arg, f)) FormatError(fmt);
                piece = FloatToStrF(f, ffGeneral, precision < 0 ? 15 : precision, 3);
                break;
            case 'm':
                if (!AsFloat(arg, f)) FormatError(fmt);
                piece = FloatToStrF(f, ffCurrency, 18, precision < 0 ? FormatSettings().CurrencyDecimals : precision);
                break;
            case 'p': {
                auto p = std::get_if<const void*>(&arg.Value());
                if (!p) FormatError(fmt);
                piece = IntToHex(static_cast<int64_t>(reinterpret_cast<uintptr_t>(*p)), int(sizeof(void*) * 2));
                break;
            }
            case 's': {
                auto p = std::get_if<std::string>(&arg.Value());
                if (!p) FormatError(fmt);
                piece = (precision >= 0 && size_t(precision) < p->size()) ? p->substr(0, size_t(precision)) : *p;
                break;
            }
            default: FormatError(fmt);
        }
        if (width > int(piece.size())) {
            std::string pad(size_t(width) - piece.size(), ' ');
            piece = leftAlign ? piece + pad : pad + piece;
        }
        out += piece;
    }
    return out;
}

void DatabaseErrorFmt(const std::string& fmt, std::initializer_list<FormatArg> args) {
    DatabaseError(Format(fmt, args));
}

std::string Trim(const std::string& s) { return TrimLeft(TrimRight(s)); }

std::string TrimLeft(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    return s.substr(i);
}

std::string TrimRight(const std::string& s) {
    size_t n = s.size();
    while (n > 0 && static_cast<unsigned char>(s[n - 1]) <= ' ') --n;
    return s.substr(0, n);
}

std::string UpperCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return r;
}

std::string LowerCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return r;
}

int CompareStr(const std::string& a, const std::string& b) {
    int c = a.compare(b);  // byte order: std::string compares as unsigned char
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareText(const std::string& a, const std::string& b) { return CompareStr(UpperCase(a), UpperCase(b)); }

bool SameText(const std::string& a, const std::string& b) { return CompareText(a, b) == 0; }

std::string QuotedStr(const std::string& s, char quote) {
    std::string r(1, quote);
    for (char c : s) {
        r.push_back(c);
        if (c == quote) r.push_back(c);
    }
    r.push_back(quote);
    return r;
}

std::string StringReplace(const std::string& s, const std::string& from, const std::string& to, bool all,
                          bool ignoreCase) {
    if (from.empty()) return s;
    const std::string hay = ignoreCase ? UpperCase(s) : s;
    const std::string needle = ignoreCase ? UpperCase(from) : from;
    std::string r;
    size_t pos = 0;
    while (true) {
        size_t hit = hay.find(needle, pos);
        if (hit == std::string::npos) break;
        r.append(s, pos, hit - pos);
        r += to;
        pos = hit + from.size();
        if (!all) break;
    }
    r.append(s, pos, std::string::npos);
    return r;
}

}  // namespace ostra
