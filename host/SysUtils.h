// The host runtime's plain routines: Format with the framework's format specifiers,
// integer and float text conversion, and the string helpers the engine calls.
// Float and number formatting follows the FormatSettings in force.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>

#include "host/Exceptions.h"
#include "host/FormatSettings.h"

namespace ostra {

// One argument of Format: an integer, a float, a string, a character or a pointer.
class FormatArg {
public:
    FormatArg(int v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(unsigned v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(long v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(unsigned long v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(long long v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(unsigned long long v) : FValue(static_cast<int64_t>(v)) {}
    FormatArg(double v) : FValue(v) {}
    FormatArg(char c) : FValue(std::string(1, c)) {}
    FormatArg(const char* s) : FValue(std::string(s ? s : "")) {}
    FormatArg(std::string s) : FValue(std::move(s)) {}
    FormatArg(const void* p) : FValue(p) {}

    const std::variant<int64_t, double, std::string, const void*>& Value() const { return FValue; }

private:
    std::variant<int64_t, double, std::string, const void*> FValue;
};

// Formats `fmt` with `args`: specifiers "%" [index ":"] ["-"] [width] ["." prec] type, with
// width and precision also as "*", and types d u e f g n m p s x (either case); "%%" is "%".
// A specifier that does not match its argument, or that has no argument, raises EConvertError
// with "Format '<fmt>' invalid or incompatible with argument".
std::string Format(const std::string& fmt, std::initializer_list<FormatArg> args);

// Raises EDatabaseError with Format(fmt, args).
[[noreturn]] void DatabaseErrorFmt(const std::string& fmt, std::initializer_list<FormatArg> args);

// The framework's float text formats, as chosen by FloatToStrF.
enum TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// Float to text with the given format, precision (significant digits, 1..18) and digits.
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);
// Float to text in the general format with 15 significant digits ("1.5", "1E20", "-0.001").
std::string FloatToStr(double value);
// Text to float using the settings' decimal separator; raises EConvertError
// "'<text>' is not a valid floating point value". A text beyond the largest double is refused
// unless it is the largest double rounded to the text's digits (as FloatToStr writes it), which
// reads as the largest double; so every finite value FloatToStr writes reads back.
double StrToFloat(const std::string& text);
bool TryStrToFloat(const std::string& text, double& value);
double StrToFloatDef(const std::string& text, double defaultValue);

std::string IntToStr(int64_t value);
// Upper-case hexadecimal, padded with zeros to at least `digits` characters.
std::string IntToHex(int64_t value, int digits);
// Text to integer: optional blanks and sign, decimal or "$"/"0x" hexadecimal; raises
// EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);
int64_t StrToInt64(const std::string& text);
int32_t StrToIntDef(const std::string& text, int32_t defaultValue);
bool TryStrToInt(const std::string& text, int32_t& value);
bool TryStrToInt64(const std::string& text, int64_t& value);

// Blanks and control characters (bytes <= 32) removed from both ends / the start / the end.
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);
// ASCII-only case mapping and comparison (bytes a..z / A..Z only).
std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
int CompareStr(const std::string& a, const std::string& b);
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);
// The text in `quote` characters with every inner quote doubled.
std::string QuotedStr(const std::string& s, char quote = '\'');
// Replaces occurrences of `from` by `to`; all of them when `all`, ASCII case-insensitive when `ignoreCase`.
std::string StringReplace(const std::string& s, const std::string& from, const std::string& to, bool all = true,
                          bool ignoreCase = false);

}  // namespace ostra
