// The numeric fields: integers of 16 and 32 bits (signed Smallint and Integer, unsigned Word,
// auto-increment) and floats (Float, Currency). Integer fields refuse values outside their type's
// range with "%g is not a valid value for field '%s'. The allowed range is %g to %g".
#pragma once
#include "host/db/Field.h"

namespace ostra {

// The base of the numeric fields.
class TNumericField : public TField {
public:
    explicit TNumericField(TComponent* AOwner) : TField(AOwner) {}
};

// A 32-bit signed integer field; the base of the other integer fields.
class TIntegerField : public TNumericField {
public:
    explicit TIntegerField(TComponent* AOwner);

    int DataSize() const override;
    void SetAsInteger(int32_t Value) override;
    // Empty text clears the field; other text must be an integer.
    void SetAsString(const std::string& Value) override;
    // Rounded half to even; out of range raises the range error.
    void SetAsFloat(double Value) override;

protected:
    // The integer type `Type` with its range.
    TIntegerField(TComponent* AOwner, TFieldType Type, int64_t MinRange, int64_t MaxRange);
    std::string GetAsString() const override;
    int32_t GetAsInteger() const override;
    double GetAsFloat() const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& Value) override { SetAsInteger(Value.AsInteger()); }
    int GetDefaultWidth() const override;

private:
    // The value; false for null.
    bool GetValue(int32_t& Value) const;

    int64_t FMinRange;
    int64_t FMaxRange;
};

// A 16-bit signed integer field.
class TSmallintField : public TIntegerField {
public:
    explicit TSmallintField(TComponent* AOwner) : TIntegerField(AOwner, ftSmallint, -32768, 32767) {}
};

// A 16-bit unsigned integer field.
class TWordField : public TIntegerField {
public:
    explicit TWordField(TComponent* AOwner) : TIntegerField(AOwner, ftWord, 0, 65535) {}
};

// An integer field whose values the dataset assigns to new records.
class TAutoIncField : public TIntegerField {
public:
    explicit TAutoIncField(TComponent* AOwner) : TIntegerField(AOwner, ftAutoInc, INT32_MIN, INT32_MAX) {}
};

// A double field; TCurrencyField shows its value as money.
class TFloatField : public TNumericField {
public:
    explicit TFloatField(TComponent* AOwner);

    int DataSize() const override { return 8; }
    void SetAsFloat(double Value) override;
    void SetAsInteger(int32_t Value) override { SetAsFloat(Value); }
    void SetAsCurrency(Currency Value) override { SetAsFloat(Value.ToDouble()); }
    // Empty text clears the field; other text must be a number.
    void SetAsString(const std::string& Value) override;
    // Significant digits of the text forms (default 15).
    int Precision() const { return FPrecision; }
    void SetPrecision(int Value);
    // Display as money (ffCurrency).
    bool IsCurrency() const { return FCurrency; }
    void SetCurrency(bool Value) { FCurrency = Value; }

protected:
    std::string GetAsString() const override;
    std::string GetText(bool DisplayText) const override;
    // Rounded half to even; beyond 32 bits raises the range error.
    int32_t GetAsInteger() const override;
    double GetAsFloat() const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& Value) override { SetAsFloat(Value.AsDouble()); }
    int GetDefaultWidth() const override { return FPrecision + 1; }
    void SetFloatType(TFieldType Type) { SetDataType(Type); }

private:
    bool GetValue(double& Value) const;

    int FPrecision = 15;
    bool FCurrency = false;
};

// A money field: a float field shown with the currency format.
class TCurrencyField : public TFloatField {
public:
    explicit TCurrencyField(TComponent* AOwner);
};

}  // namespace ostra
