// Variant conversions, arithmetic and comparison. The rules are tabled in Variant.h; this
// file applies them. Integer and Currency arithmetic runs in 128-bit integers so that an
// overflow is seen exactly and promotes instead of wrapping.
#include "host/Variant.h"

#include <cmath>

#include "host/Collation.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

constexpr TVarType varVariantArray = varArray | varVariant;

[[noreturn]] void ConvertError(TVarType from, TVarType to) {
    throw EVariantError(Format("Could not convert variant of type (%s) into type (%s)",
                               {VarTypeAsText(from), VarTypeAsText(to)}));
}

[[noreturn]] void OverflowError(TVarType from, TVarType to) {
    throw EVariantError(Format("Overflow while converting variant of type (%s) into type (%s)",
                               {VarTypeAsText(from), VarTypeAsText(to)}));
}

[[noreturn]] void InvalidOp() { throw EVariantError("Invalid variant operation"); }
[[noreturn]] void NotArray() { throw EVariantError("Variant is not an array"); }
[[noreturn]] void BadIndex() { throw EVariantError("Variant or safe array index out of bounds"); }
[[noreturn]] void ZeroDivide() { throw EZeroDivide("Division by zero"); }

bool IsIntKind(TVarType t) {
    return t == varSmallint || t == varInteger || t == varWord || t == varLongWord || t == varInt64;
}
bool IsFloatKind(TVarType t) { return t == varDouble || t == varDate; }

// Whether `v` lies in the range of integer kind `kind`.
bool Fits(TVarType kind, __int128 v) {
    switch (kind) {
        case varSmallint: return v >= INT16_MIN && v <= INT16_MAX;
        case varWord: return v >= 0 && v <= UINT16_MAX;
        case varInteger: return v >= INT32_MIN && v <= INT32_MAX;
        case varLongWord: return v >= 0 && v <= UINT32_MAX;
        case varInt64: return v >= INT64_MIN && v <= INT64_MAX;
        default: return false;
    }
}

// Double rounded half to even to an int64; false for NaN and out of range.
bool TryRoundToInt64(double d, int64_t& result) {
    if (!std::isfinite(d)) return false;
    double r = std::nearbyint(d);
    if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return false;
    result = static_cast<int64_t>(r);
    return true;
}

// n / d rounded half to even (d != 0).
__int128 RoundDiv(__int128 n, __int128 d) {
    __int128 q = n / d;
    __int128 rem = n % d;
    if (rem != 0) {
        __int128 twice = 2 * (rem < 0 ? -rem : rem);
        __int128 absD = d < 0 ? -d : d;
        if (twice > absD || (twice == absD && (q & 1) != 0)) q += ((n < 0) == (d < 0)) ? 1 : -1;
    }
    return q;
}

// The kind an integer result takes from two integer operand kinds (the table in Variant.h).
TVarType CommonIntKind(TVarType a, TVarType b) {
    if (a == b) return a;
    if (a == varInt64 || b == varInt64) return varInt64;
    const bool isSigned = a == varSmallint || a == varInteger || b == varSmallint || b == varInteger;
    if (a == varLongWord || b == varLongWord) return isSigned ? varInt64 : varLongWord;
    return varInteger;
}

enum class TOrder { Less, Equal, Greater, Unordered };

template <class T>
TOrder OrderOf(T a, T b) {
    return a < b ? TOrder::Less : (b < a ? TOrder::Greater : TOrder::Equal);
}

TOrder CompareDoubles(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return TOrder::Unordered;
    return OrderOf(a, b);
}

// Exact order of an integer against a double (no rounding of either to the other's type).
TOrder CompareIntDouble(int64_t x, double d) {
    if (std::isnan(d)) return TOrder::Unordered;
    if (d >= 9223372036854775808.0) return TOrder::Less;
    if (d < -9223372036854775808.0) return TOrder::Greater;
    double whole = std::trunc(d);
    TOrder order = OrderOf(x, static_cast<int64_t>(whole));
    if (order != TOrder::Equal) return order;
    double fraction = d - whole;
    return fraction > 0 ? TOrder::Less : (fraction < 0 ? TOrder::Greater : TOrder::Equal);
}

enum class TArithOp { Add, Sub, Mul, Div };

double DoubleOp(TArithOp op, double x, double y) {
    double r = 0;
    switch (op) {
        case TArithOp::Add: r = x + y; break;
        case TArithOp::Sub: r = x - y; break;
        case TArithOp::Mul: r = x * y; break;
        case TArithOp::Div:
            if (y == 0) ZeroDivide();
            r = x / y;
            break;
    }
    if (!std::isfinite(r) && std::isfinite(x) && std::isfinite(y)) throw EOverflow("Floating point overflow");
    return r;
}

}  // namespace

// Access to the representation for the routines of this file.
class VariantOps {
public:
    static TVarType Type(const Variant& v) { return v.FType; }
    static int64_t Int(const Variant& v) { return v.FInt; }
    static double Dbl(const Variant& v) { return v.FDouble; }
    static const std::string& Str(const Variant& v) { return v.FString; }
    static const std::vector<Variant>& Elements(const Variant& v) {
        if (v.FType != varVariantArray) NotArray();
        return v.FElements;
    }
    static std::vector<Variant>& Elements(Variant& v) {
        if (v.FType != varVariantArray) NotArray();
        return v.FElements;
    }

    static Variant MakeInt(TVarType kind, int64_t value) {
        Variant r;
        r.FType = kind;
        r.FInt = value;
        return r;
    }
    static Variant MakeFloat(TVarType kind, double value) {
        Variant r;
        r.FType = kind;
        r.FDouble = value;
        return r;
    }

    // An integer result of kind `kind`, or the first of Integer, Int64, Double that holds it.
    static Variant IntResult(TVarType kind, __int128 value) {
        for (TVarType k : {kind, varInteger, varInt64})
            if (Fits(k, value)) return MakeInt(k, static_cast<int64_t>(value));
        return MakeFloat(varDouble, static_cast<double>(value));
    }

    // The integer value of `v` for a conversion into integer kind `target` (range not yet checked).
    static int64_t IntegerValue(const Variant& v, TVarType target) {
        int64_t result = 0;
        switch (v.FType) {
            case varEmpty: return 0;
            case varSmallint: case varInteger: case varWord: case varLongWord: case varInt64: case varBoolean:
                return v.FInt;
            case varDouble: case varDate:
                if (!TryRoundToInt64(v.FDouble, result)) OverflowError(v.FType, target);
                return result;
            case varCurrency: return static_cast<int64_t>(RoundDiv(v.FInt, Currency::Scale));
            case varString: {
                const std::string text = Trim(v.FString);
                if (TryStrToInt64(text, result)) return result;
                double d;
                if (!TryStrToFloat(text, d)) ConvertError(varString, target);
                if (!TryRoundToInt64(d, result)) OverflowError(varString, target);
                return result;
            }
            default: ConvertError(v.FType, target);
        }
    }

    // The value of `v` as a number for a conversion into varDouble or varDate.
    static double FloatValue(const Variant& v, TVarType target) {
        switch (v.FType) {
            case varEmpty: return 0;
            case varSmallint: case varInteger: case varWord: case varLongWord: case varInt64: case varBoolean:
                return static_cast<double>(v.FInt);
            case varDouble: case varDate: return v.FDouble;
            case varCurrency: return Currency::FromScaled(v.FInt).ToDouble();
            case varString: {
                double d;
                bool ok = target == varDate ? TryStrToDateTime(v.FString, d) : TryStrToFloat(v.FString, d);
                if (!ok) ConvertError(varString, target);
                return d;
            }
            default: ConvertError(v.FType, target);
        }
    }

    // The numeric value of a non-String, non-Null operand as a double.
    static double NumAsDouble(const Variant& v) {
        return v.FType == varCurrency ? Currency::FromScaled(v.FInt).ToDouble()
                                      : IsFloatKind(v.FType) ? v.FDouble : static_cast<double>(v.FInt);
    }

    // A String operand read as the class of the other operand's kind `other` (the tables' step "String with ...").
    static Variant ReadString(const Variant& s, TVarType other, bool forComparison) {
        if (other == varDate) return MakeFloat(varDate, s.AsDateTime());
        if (forComparison && other == varBoolean) return Variant(s.AsBoolean());
        return MakeFloat(varDouble, s.AsDouble());
    }

    static Variant CurrencyOp(TArithOp op, const Variant& a, const Variant& b) {
        const bool curA = a.FType == varCurrency, curB = b.FType == varCurrency;
        const __int128 x = a.FInt, y = b.FInt;  // scaled when Currency, plain when an integer kind
        const __int128 scale = Currency::Scale;
        __int128 r = 0;
        switch (op) {
            case TArithOp::Add: r = (curA ? x : x * scale) + (curB ? y : y * scale); break;
            case TArithOp::Sub: r = (curA ? x : x * scale) - (curB ? y : y * scale); break;
            case TArithOp::Mul: r = curA && curB ? RoundDiv(x * y, scale) : x * y; break;
            case TArithOp::Div:
                if (y == 0) ZeroDivide();
                r = curA && curB ? RoundDiv(x * scale, y) : curA ? RoundDiv(x, y) : RoundDiv(x * scale * scale, y);
                break;
        }
        if (Fits(varInt64, r)) return Variant(Currency::FromScaled(static_cast<int64_t>(r)));
        return MakeFloat(varDouble, DoubleOp(op, NumAsDouble(a), NumAsDouble(b)));
    }

    static Variant Arith(TArithOp op, const Variant& a, const Variant& b) {
        TVarType ta = a.FType, tb = b.FType;
        if ((ta | tb) & varArray) InvalidOp();
        if (ta == varNull || tb == varNull) return Null();
        if (ta == varEmpty || tb == varEmpty) return Variant();
        if (ta == varBoolean || tb == varBoolean) InvalidOp();
        if (ta == varString && tb == varString) {
            if (op == TArithOp::Add) return Variant(a.FString + b.FString);
            return MakeFloat(varDouble, DoubleOp(op, a.AsDouble(), b.AsDouble()));
        }
        if (ta == varString) return Arith(op, ReadString(a, tb, false), b);
        if (tb == varString) return Arith(op, a, ReadString(b, ta, false));
        if (ta == varDate || tb == varDate) {
            double r = DoubleOp(op, NumAsDouble(a), NumAsDouble(b));
            bool isDate = op == TArithOp::Add || (op == TArithOp::Sub && !(ta == varDate && tb == varDate));
            return MakeFloat(isDate ? varDate : varDouble, r);
        }
        if (ta == varDouble || tb == varDouble) return MakeFloat(varDouble, DoubleOp(op, NumAsDouble(a), NumAsDouble(b)));
        if (ta == varCurrency || tb == varCurrency) return CurrencyOp(op, a, b);
        // Both integer kinds.
        const __int128 x = a.FInt, y = b.FInt;
        switch (op) {
            case TArithOp::Add: return IntResult(CommonIntKind(ta, tb), x + y);
            case TArithOp::Sub: return IntResult(CommonIntKind(ta, tb), x - y);
            case TArithOp::Mul: return IntResult(CommonIntKind(ta, tb), x * y);
            case TArithOp::Div: return MakeFloat(varDouble, DoubleOp(op, double(a.FInt), double(b.FInt)));
        }
        InvalidOp();
    }

    // An operand of div and mod: its integer value and the kind it counts as for the common kind.
    static std::pair<int64_t, TVarType> IntOperand(const Variant& v) {
        if (IsIntKind(v.FType)) return {v.FInt, v.FType};
        if (v.FType == varString) return {IntegerValue(v, varInt64), varInt64};
        return {IntegerValue(v, varInt64), varInteger};
    }

    static Variant IntDivMod(const Variant& a, const Variant& b, bool isMod) {
        TVarType ta = a.FType, tb = b.FType;
        if ((ta | tb) & varArray) InvalidOp();
        if (ta == varNull || tb == varNull) return Null();
        if (ta == varEmpty || tb == varEmpty) return Variant();
        if (ta == varBoolean || tb == varBoolean) InvalidOp();
        auto [x, ka] = IntOperand(a);
        auto [y, kb] = IntOperand(b);
        if (y == 0) ZeroDivide();
        const __int128 r = isMod ? __int128(x) % y : __int128(x) / y;
        return IntResult(CommonIntKind(ka, kb), r);
    }

    static Variant Negate(const Variant& a) {
        switch (a.FType) {
            case varNull: return Null();
            case varEmpty: return Variant();
            case varString: return MakeFloat(varDouble, -a.AsDouble());
            case varDouble: case varDate: return MakeFloat(a.FType, -a.FDouble);
            case varCurrency:
                if (a.FInt == INT64_MIN) return MakeFloat(varDouble, -NumAsDouble(a));
                return Variant(Currency::FromScaled(-a.FInt));
            default:
                if (IsIntKind(a.FType)) return IntResult(a.FType, -__int128(a.FInt));
                InvalidOp();
        }
    }

    static TOrder Compare(const Variant& a, const Variant& b) {
        TVarType ta = a.FType, tb = b.FType;
        if ((ta | tb) & varArray) InvalidOp();
        if (ta == varEmpty || tb == varEmpty) return ta == tb ? TOrder::Equal : TOrder::Unordered;
        if (ta == varNull || tb == varNull)
            return ta == tb ? TOrder::Equal : (ta == varNull ? TOrder::Less : TOrder::Greater);
        if (ta == varString && tb == varString) {
            if (a.FString == b.FString) return TOrder::Equal;
            return OrderOf(AnsiCompareStr(a.FString, b.FString), 0);
        }
        if (ta == varString) return Compare(ReadString(a, tb, true), b);
        if (tb == varString) return Compare(a, ReadString(b, ta, true));
        // Now integer kinds and Boolean (both held as integers), Currency, Double and Date.
        const bool floatA = IsFloatKind(ta), floatB = IsFloatKind(tb);
        const bool curA = ta == varCurrency, curB = tb == varCurrency;
        if (floatA || floatB) {
            if (!floatA && !curA) return CompareIntDouble(a.FInt, b.FDouble);
            if (!floatB && !curB) {
                TOrder order = CompareIntDouble(b.FInt, a.FDouble);
                return order == TOrder::Less ? TOrder::Greater : order == TOrder::Greater ? TOrder::Less : order;
            }
            return CompareDoubles(NumAsDouble(a), NumAsDouble(b));
        }
        const __int128 x = curA || !curB ? __int128(a.FInt) : __int128(a.FInt) * Currency::Scale;
        const __int128 y = curB || !curA ? __int128(b.FInt) : __int128(b.FInt) * Currency::Scale;
        return OrderOf(x, y);
    }
};

// ---- conversions ----

int32_t Variant::AsInteger() const {
    int64_t v = VariantOps::IntegerValue(*this, varInteger);
    if (!Fits(varInteger, v)) OverflowError(FType, varInteger);
    return static_cast<int32_t>(v);
}

int64_t Variant::AsInt64() const { return VariantOps::IntegerValue(*this, varInt64); }

double Variant::AsDouble() const { return VariantOps::FloatValue(*this, varDouble); }

TDateTime Variant::AsDateTime() const { return VariantOps::FloatValue(*this, varDate); }

Currency Variant::AsCurrency() const {
    Currency result;
    switch (FType) {
        case varEmpty: return result;
        case varCurrency: return Currency::FromScaled(FInt);
        case varSmallint: case varInteger: case varWord: case varLongWord: case varInt64: case varBoolean: {
            __int128 scaled = __int128(FInt) * Currency::Scale;
            if (!Fits(varInt64, scaled)) OverflowError(FType, varCurrency);
            return Currency::FromScaled(static_cast<int64_t>(scaled));
        }
        case varDouble: case varDate:
            if (!TryFloatToCurr(FDouble, result)) OverflowError(FType, varCurrency);
            return result;
        case varString: {
            if (TryStrToCurr(FString, result)) return result;
            double d;
            if (TryStrToFloat(FString, d)) OverflowError(varString, varCurrency);
            ConvertError(varString, varCurrency);
        }
        default: ConvertError(FType, varCurrency);
    }
}

bool Variant::AsBoolean() const {
    switch (FType) {
        case varEmpty: return false;
        case varSmallint: case varInteger: case varWord: case varLongWord: case varInt64: case varBoolean:
        case varCurrency:
            return FInt != 0;
        case varDouble: case varDate: return FDouble != 0;
        case varString: {
            const std::string text = Trim(FString);
            if (SameText(text, "True")) return true;
            if (SameText(text, "False")) return false;
            double d;
            if (!TryStrToFloat(text, d)) ConvertError(varString, varBoolean);
            return d != 0;
        }
        default: ConvertError(FType, varBoolean);
    }
}

std::string Variant::AsString() const {
    switch (FType) {
        case varEmpty: return "";
        case varSmallint: case varInteger: case varWord: case varLongWord: case varInt64: return IntToStr(FInt);
        case varBoolean: return FInt != 0 ? "True" : "False";
        case varDouble: return FloatToStr(FDouble);
        case varDate: return DateTimeToStr(FDouble);
        case varCurrency: return CurrToStr(Currency::FromScaled(FInt));
        case varString: return FString;
        default: ConvertError(FType, varString);
    }
}

// ---- arrays ----

const Variant& Variant::operator[](int index) const {
    const std::vector<Variant>& elements = VariantOps::Elements(*this);
    if (index < 0 || index >= static_cast<int>(elements.size())) BadIndex();
    return elements[static_cast<size_t>(index)];
}

Variant& Variant::operator[](int index) {
    std::vector<Variant>& elements = VariantOps::Elements(*this);
    if (index < 0 || index >= static_cast<int>(elements.size())) BadIndex();
    return elements[static_cast<size_t>(index)];
}

Variant VarArrayOf(std::vector<Variant> values) {
    Variant r;
    r.FType = varVariantArray;
    r.FElements = std::move(values);
    return r;
}

Variant VarArrayOf(std::initializer_list<Variant> values) { return VarArrayOf(std::vector<Variant>(values)); }

bool VarIsArray(const Variant& v) { return (VarType(v) & varArray) != 0; }

int VarArrayLowBound(const Variant& v, int dim) {
    VariantOps::Elements(v);
    if (dim != 1) BadIndex();
    return 0;
}

int VarArrayHighBound(const Variant& v, int dim) {
    const std::vector<Variant>& elements = VariantOps::Elements(v);
    if (dim != 1) BadIndex();
    return static_cast<int>(elements.size()) - 1;
}

// ---- kinds ----

Variant Unassigned() { return Variant(); }

Variant Null() {
    Variant r;
    r.FType = varNull;
    return r;
}

Variant VarFromDateTime(TDateTime value) { return VariantOps::MakeFloat(varDate, value); }

TVarType VarType(const Variant& v) { return v.FType; }
bool VarIsNull(const Variant& v) { return VarType(v) == varNull; }
bool VarIsEmpty(const Variant& v) { return VarType(v) == varEmpty; }
bool VarIsClear(const Variant& v) { return VarType(v) == varEmpty; }

std::string VarToStr(const Variant& v) { return VarIsNull(v) ? std::string() : v.AsString(); }

Variant VarAsType(const Variant& v, TVarType type) {
    if (type == VarType(v)) return v;
    switch (type) {
        case varEmpty: return Variant();
        case varNull: return Null();
        case varSmallint: case varInteger: case varWord: case varLongWord: case varInt64: {
            int64_t value = VariantOps::IntegerValue(v, type);
            if (!Fits(type, value)) OverflowError(VarType(v), type);
            return VariantOps::MakeInt(type, value);
        }
        case varDouble: return VariantOps::MakeFloat(varDouble, v.AsDouble());
        case varDate: return VariantOps::MakeFloat(varDate, v.AsDateTime());
        case varCurrency: return Variant(v.AsCurrency());
        case varBoolean: return Variant(v.AsBoolean());
        case varString: return Variant(v.AsString());
        default: ConvertError(VarType(v), type);
    }
}

std::string VarTypeAsText(TVarType type) {
    std::string name;
    switch (type & varTypeMask) {
        case varEmpty: name = "Empty"; break;
        case varNull: name = "Null"; break;
        case varSmallint: name = "Smallint"; break;
        case varInteger: name = "Integer"; break;
        case varSingle: name = "Single"; break;
        case varDouble: name = "Double"; break;
        case varCurrency: name = "Currency"; break;
        case varDate: name = "Date"; break;
        case varBoolean: name = "Boolean"; break;
        case varVariant: name = "Variant"; break;
        case varShortInt: name = "ShortInt"; break;
        case varByte: name = "Byte"; break;
        case varWord: name = "Word"; break;
        case varLongWord: name = "LongWord"; break;
        case varInt64: name = "Int64"; break;
        case varString: name = "String"; break;
        default: name = "$" + IntToHex(type & varTypeMask, 4); break;
    }
    return (type & varArray) ? "Array " + name : name;
}

// ---- operators ----

bool Variant::operator==(const Variant& other) const {
    return VariantOps::Compare(*this, other) == TOrder::Equal;
}

std::partial_ordering Variant::operator<=>(const Variant& other) const {
    switch (VariantOps::Compare(*this, other)) {
        case TOrder::Less: return std::partial_ordering::less;
        case TOrder::Equal: return std::partial_ordering::equivalent;
        case TOrder::Greater: return std::partial_ordering::greater;
        default: return std::partial_ordering::unordered;
    }
}

TVariantRelationship VarCompareValue(const Variant& a, const Variant& b) {
    switch (VariantOps::Compare(a, b)) {
        case TOrder::Less: return vrLessThan;
        case TOrder::Equal: return vrEqual;
        case TOrder::Greater: return vrGreaterThan;
        default: return vrNotEqual;
    }
}

Variant operator+(const Variant& a, const Variant& b) { return VariantOps::Arith(TArithOp::Add, a, b); }
Variant operator-(const Variant& a, const Variant& b) { return VariantOps::Arith(TArithOp::Sub, a, b); }
Variant operator*(const Variant& a, const Variant& b) { return VariantOps::Arith(TArithOp::Mul, a, b); }
Variant operator/(const Variant& a, const Variant& b) { return VariantOps::Arith(TArithOp::Div, a, b); }
Variant operator%(const Variant& a, const Variant& b) { return VariantOps::IntDivMod(a, b, true); }
Variant VarIntDiv(const Variant& a, const Variant& b) { return VariantOps::IntDivMod(a, b, false); }
Variant operator-(const Variant& a) { return VariantOps::Negate(a); }

}  // namespace ostra
