// Variant: the host library's dynamically typed value. Field values, search keys, SQL
// constants and expression results travel as Variants. This header fixes the kinds, their
// conversions, and the rules of arithmetic and comparison between mixed kinds; the SQL
// evaluator builds its own three-valued logic on top of the Null and Empty rules below.
//
// Kinds (VarType codes as the framework numbers them)
//   Empty    0x0000  unassigned; also "unknown", the result of an operation that could not be computed
//   Null     0x0001  a value that is absent (the SQL NULL)
//   Smallint 0x0002  int16        Integer 0x0003 int32        Double  0x0005 double
//   Currency 0x0006  Currency (scaled 64-bit integer, four decimals)
//   Date     0x0007  TDateTime (double: days since 1899-12-30, fraction = time of day)
//   Boolean  0x000B  bool         Word    0x0012 uint16        LongWord 0x0013 uint32
//   Int64    0x0014  int64        String  0x0100 8-bit std::string (Windows-1252)
//   Array    0x200C  varArray | varVariant: a one-dimensional array of Variants made by VarArrayOf
// varSingle, varShortInt and varByte are named for their codes only; no Variant holds them.
//
// Conversions (AsInteger, AsInt64, AsDouble, AsCurrency, AsDateTime, AsBoolean, AsString, VarAsType)
//   from Empty     0, 0.0, Currency 0, date 0, false, "" (an unassigned key value is a non-null zero)
//   from Null      EVariantError "Could not convert variant of type (Null) into type (X)";
//                  only VarToStr turns Null into ""
//   from Boolean   True = 1, False = 0; text "True" / "False"
//   from numbers   to integer kinds: Double, Currency and Date round half to even; to text:
//                  IntToStr, FloatToStr, CurrToStr (exact), DateTimeToStr
//   from String    to integer kinds: integer text, else float text rounded half to even;
//                  to Double: StrToFloat with the settings' decimal separator; to Currency: exact
//                  decimal text; to Date: StrToDateTime; to Boolean: "True"/"False" (any case) or
//                  a number (non-zero = True)
//   from Array     every conversion to a single value fails (Could not convert ...)
//   A text that cannot be read raises "Could not convert variant of type (String) into type (X)";
//   a value outside the target's range raises "Overflow while converting variant of type (F) into type (X)".
//
// Arithmetic (+ - * / VarIntDiv %, unary -), applied in this order
//   1. an Array operand raises "Invalid variant operation";
//   2. a Null operand gives Null; otherwise an Empty operand gives Empty (unknown stays unknown:
//      (NULL + 1) + 2 is unknown, never 2);
//   3. a Boolean operand raises "Invalid variant operation";
//   4. String + String concatenates; in every other case a String operand is read as a Double,
//      or as a Date when the other operand is a Date;
//   5. the kinds then combine as follows (Int = any integer kind; first matching row):
//        operands                  + and -                      *              /
//        any with Date             Date (Date - Date: Double)   Double         Double
//        any with Double           Double                       Double         Double
//        Currency with Currency    Currency, exact              Currency, rounded half to even
//          or with Int                                          at the fourth decimal
//        Int with Int              integer kind (below)         integer kind   Double
//      Integer results take the common kind of the operands, the first of Smallint, Word, Integer,
//      LongWord, Int64 whose range holds the ranges of both operand kinds:
//                   Smallint  Word      Integer   LongWord  Int64
//        Smallint   Smallint  Integer   Integer   Int64     Int64
//        Word       Integer   Word      Integer   LongWord  Int64
//        Integer    Integer   Integer   Integer   Int64     Int64
//        LongWord   Int64     LongWord  Int64     LongWord  Int64
//        Int64      Int64     Int64     Int64     Int64     Int64
//      and, when the exact result does not fit that kind, the first of Integer, Int64, Double that
//      holds it. A Currency result out of range becomes a Double.
//   VarIntDiv (integer division toward zero) and % (remainder with the dividend's sign) read
//   Double, Currency and Date operands as integers rounded half to even (counting as Integer for
//   the common kind) and String operands as Int64 text.
//   Unary minus keeps the kind (overflow as above; a String becomes a Double).
//   A zero divisor raises EZeroDivide "Division by zero"; a float result that overflows from
//   finite operands raises EOverflow "Floating point overflow".
//
// Comparison (==, !=, <, <=, >, >=, VarCompareValue), applied in this order
//   1. an Array operand raises "Invalid variant operation";
//   2. Empty equals Empty and is unordered against every other value: == is false, != is true,
//      and <, <=, >, >= are false (VarCompareValue answers vrNotEqual);
//   3. Null equals Null and is lower than every other value (the order indexes use, and the one
//      the evaluator applies to a Null left operand);
//   4. String with String: the collation's case-sensitive dictionary order (AnsiCompareStr);
//   5. String with a number kind (integers, Double, Currency): the String is read as a Double;
//      with a Date: read as a Date; with a Boolean: read as a Boolean; unreadable text raises
//      "Could not convert variant of type (String) into type (Double)" (or (Date), (Boolean));
//   6. Boolean with Boolean: False < True; Boolean with a number kind or Date: as 0 or 1;
//   7. integers, Currency and their mixes compare exactly; an integer with a Double or Date
//      compares exactly against the double; Currency with Double or Date and all float pairs
//      compare as doubles (a NaN is unordered).
#pragma once
#include <compare>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/Currency.h"
#include "host/DateTime.h"
#include "host/Exceptions.h"

namespace ostra {

using TVarType = uint16_t;

constexpr TVarType varEmpty = 0x0000;
constexpr TVarType varNull = 0x0001;
constexpr TVarType varSmallint = 0x0002;
constexpr TVarType varInteger = 0x0003;
constexpr TVarType varSingle = 0x0004;
constexpr TVarType varDouble = 0x0005;
constexpr TVarType varCurrency = 0x0006;
constexpr TVarType varDate = 0x0007;
constexpr TVarType varBoolean = 0x000B;
constexpr TVarType varVariant = 0x000C;
constexpr TVarType varShortInt = 0x0010;
constexpr TVarType varByte = 0x0011;
constexpr TVarType varWord = 0x0012;
constexpr TVarType varLongWord = 0x0013;
constexpr TVarType varInt64 = 0x0014;
constexpr TVarType varString = 0x0100;
constexpr TVarType varTypeMask = 0x0FFF;
constexpr TVarType varArray = 0x2000;

// The outcome of VarCompareValue; vrNotEqual means the two values are unordered (an Empty operand).
enum TVariantRelationship { vrEqual, vrLessThan, vrGreaterThan, vrNotEqual };

// A dynamically typed value; see the opening comment for the rules of its kinds.
class Variant {
public:
    Variant() noexcept {}  // Empty
    Variant(bool value) : FType(varBoolean), FInt(value ? 1 : 0) {}
    Variant(short value) : FType(varSmallint), FInt(value) {}
    Variant(unsigned short value) : FType(varWord), FInt(value) {}
    Variant(int value) : FType(varInteger), FInt(value) {}
    Variant(unsigned value) : FType(varLongWord), FInt(value) {}
    Variant(long value) : FType(varInt64), FInt(value) {}
    Variant(long long value) : FType(varInt64), FInt(value) {}
    Variant(double value) : FType(varDouble), FDouble(value) {}
    Variant(Currency value) : FType(varCurrency), FInt(value.Scaled) {}
    Variant(std::string value) : FType(varString), FString(std::move(value)) {}
    Variant(const char* value) : FType(varString), FString(value ? value : "") {}
    Variant(char* value) : Variant(static_cast<const char*>(value)) {}
    // No kind fits these; a pointer would otherwise turn silently into a Boolean.
    Variant(char) = delete;
    Variant(unsigned long) = delete;
    Variant(unsigned long long) = delete;
    template <class T>
    Variant(T*) = delete;

    // Conversions by the rules in the opening comment; each raises EVariantError when it cannot convert.
    int32_t AsInteger() const;
    int64_t AsInt64() const;
    double AsDouble() const;
    Currency AsCurrency() const;
    TDateTime AsDateTime() const;
    bool AsBoolean() const;
    std::string AsString() const;

    // Element `index` (from VarArrayLowBound to VarArrayHighBound) of an array. Raises
    // EVariantError "Variant is not an array" or "Variant or safe array index out of bounds".
    const Variant& operator[](int index) const;
    Variant& operator[](int index);

    // Equality and order by the comparison rules in the opening comment.
    bool operator==(const Variant& other) const;
    std::partial_ordering operator<=>(const Variant& other) const;

private:
    friend TVarType VarType(const Variant& v);
    friend Variant Null();
    friend Variant VarFromDateTime(TDateTime value);
    friend Variant VarArrayOf(std::vector<Variant> values);
    friend class VariantOps;

    TVarType FType = varEmpty;
    union {
        int64_t FInt = 0;  // integer kinds, Boolean (0/1), Currency (scaled)
        double FDouble;    // Double, Date
    };
    std::string FString;             // String
    std::vector<Variant> FElements;  // Array (low bound 0)
};

// An Empty (unassigned) Variant.
Variant Unassigned();
// A Null Variant.
Variant Null();
// A Date Variant holding `value`.
Variant VarFromDateTime(TDateTime value);
// A one-dimensional array of the given values with low bound 0 (VarArrayOf({}) has high bound -1).
Variant VarArrayOf(std::vector<Variant> values);
Variant VarArrayOf(std::initializer_list<Variant> values);

// The kind code of `v` (varArray | varVariant for an array).
TVarType VarType(const Variant& v);
bool VarIsNull(const Variant& v);
bool VarIsEmpty(const Variant& v);
// True for an unassigned Variant (the same as VarIsEmpty: no kind here holds an interface).
bool VarIsClear(const Variant& v);
bool VarIsArray(const Variant& v);
// Bounds of dimension `dim` (only 1 exists); raise EVariantError for a non-array or another dimension.
int VarArrayLowBound(const Variant& v, int dim = 1);
int VarArrayHighBound(const Variant& v, int dim = 1);
// The text of `v`; Null gives "".
std::string VarToStr(const Variant& v);
// `v` converted to kind `type` (varEmpty and varNull give Empty and Null); raises EVariantError
// for an unconvertible value, a value out of range or a kind no Variant holds.
Variant VarAsType(const Variant& v, TVarType type);
// The framework's name of a kind code: "Integer", "String", "Array Variant", "$0009" for an unknown code.
std::string VarTypeAsText(TVarType type);
// The comparison of the opening comment as a relationship (vrNotEqual: unordered).
TVariantRelationship VarCompareValue(const Variant& a, const Variant& b);

// Arithmetic by the rules in the opening comment.
Variant operator+(const Variant& a, const Variant& b);
Variant operator-(const Variant& a, const Variant& b);
Variant operator*(const Variant& a, const Variant& b);
Variant operator/(const Variant& a, const Variant& b);  // real division
Variant operator%(const Variant& a, const Variant& b);  // integer remainder (mod)
Variant operator-(const Variant& a);
// Integer division (div), truncating toward zero.
Variant VarIntDiv(const Variant& a, const Variant& b);

}  // namespace ostra
