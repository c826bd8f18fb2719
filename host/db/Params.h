// TParam and TParams: the named parameters of a statement. A parameter has a data type, a
// direction and a Variant value; assigning a value marks it Bound and, when its data type is still
// unknown, takes the type from the value. A TParams collection may belong to a component (a
// query), whose name prefixes its error texts.
#pragma once
#include <string>

#include "host/Collection.h"
#include "host/Currency.h"
#include "host/DateTime.h"
#include "host/Variant.h"
#include "host/db/DBTypes.h"

namespace ostra {

class TField;
class TParams;

// One parameter.
class TParam : public TCollectionItem {
public:
    explicit TParam(TCollection* ACollection) : TCollectionItem(ACollection) {}

    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value) { FName = Value; }
    TFieldType DataType() const { return FDataType; }
    // Converts a value that is set to the new type (Null stays Null).
    void SetDataType(TFieldType Value);
    TParamType ParamType() const { return FParamType; }
    void SetParamType(TParamType Value) { FParamType = Value; }
    // True once a value was assigned (Clear too); Empty assigned makes it unbound again.
    bool Bound() const { return FBound; }
    void SetBound(bool Value) { FBound = Value; }
    bool IsNull() const { return VarIsNull(FValue) || VarIsEmpty(FValue); }

    Variant Value() const { return FValue; }
    // Stores Value and marks the parameter bound (unbound for Empty); an unknown data type is
    // taken from the Variant's kind.
    void SetValue(const Variant& Value) { SetAsVariant(Value); }
    Variant AsVariant() const { return FValue; }
    void SetAsVariant(const Variant& Value);
    // The typed setters also set DataType (ftString, ftInteger, ftFloat, ftCurrency,
    // ftBoolean, ftDateTime, ftDate, ftTime, ftMemo, ftBlob).
    std::string AsString() const { return IsNull() ? std::string() : FValue.AsString(); }
    void SetAsString(const std::string& Value) { SetTyped(ftString, Variant(Value)); }
    int32_t AsInteger() const { return IsNull() ? 0 : FValue.AsInteger(); }
    void SetAsInteger(int32_t Value) { SetTyped(ftInteger, Variant(Value)); }
    void SetAsSmallInt(int32_t Value) { SetTyped(ftSmallint, Variant(Value)); }
    void SetAsWord(int32_t Value) { SetTyped(ftWord, Variant(Value)); }
    double AsFloat() const { return IsNull() ? 0.0 : FValue.AsDouble(); }
    void SetAsFloat(double Value) { SetTyped(ftFloat, Variant(Value)); }
    Currency AsCurrency() const { return IsNull() ? Currency{} : FValue.AsCurrency(); }
    void SetAsCurrency(Currency Value) { SetTyped(ftCurrency, Variant(Value)); }
    bool AsBoolean() const { return !IsNull() && FValue.AsBoolean(); }
    void SetAsBoolean(bool Value) { SetTyped(ftBoolean, Variant(Value)); }
    TDateTime AsDateTime() const { return IsNull() ? 0.0 : FValue.AsDateTime(); }
    void SetAsDateTime(TDateTime Value) { SetTyped(ftDateTime, VarFromDateTime(Value)); }
    void SetAsDate(TDateTime Value) { SetTyped(ftDate, VarFromDateTime(Value)); }
    void SetAsTime(TDateTime Value) { SetTyped(ftTime, VarFromDateTime(Value)); }
    void SetAsMemo(const std::string& Value) { SetTyped(ftMemo, Variant(Value)); }
    void SetAsBlob(const std::string& Value) { SetTyped(ftBlob, Variant(Value)); }
    // Makes the value Null (the bound flag stays).
    void Clear();

    // Takes the field's data type (an auto-increment field gives ftInteger), name and value
    // (Null for a null field).
    void AssignField(const TField* Field);
    // Takes the field's data type and the given value.
    void AssignFieldValue(const TField* Field, const Variant& Value);
    // From another TParam: name, types, value and bound flag; from a field: AssignField.
    void Assign(const TPersistent* Source) override;
    std::string GetNamePath() const override;

private:
    void SetTyped(TFieldType Type, const Variant& Value);

    std::string FName;
    TFieldType FDataType = ftUnknown;
    TParamType FParamType = ptUnknown;
    Variant FValue;
    bool FBound = false;
};

// The parameters of a statement.
class TParams : public TCollection {
public:
    // `AOwner` (a query component, or null) names the collection in error texts.
    explicit TParams(TPersistent* AOwner = nullptr);

    TParam* Items(int Index) const { return static_cast<TParam*>(TCollection::Items(Index)); }
    TParam* operator[](int Index) const { return Items(Index); }
    // A new parameter at the end.
    TParam* AddParam() { return static_cast<TParam*>(TCollection::Add()); }
    // A new parameter with that type, name and direction.
    TParam* CreateParam(TFieldType FldType, const std::string& ParamName, TParamType ParamType);
    // The first parameter named Value (ignoring case); null when none.
    TParam* FindParam(const std::string& Value) const;
    // As FindParam; none raises "Parameter '%s' not found" (prefixed with the owner's name).
    TParam* ParamByName(const std::string& Value) const;
    // The value of one parameter, or an array of the values of a ';'-separated list.
    Variant ParamValues(const std::string& ParamName) const;
    // Assigns one value, or an array's elements to a list of parameters in order.
    void SetParamValues(const std::string& ParamName, const Variant& Value);
    // For every parameter that has a namesake in Value: takes its value, types and bound flag.
    void AssignValues(const TParams& Value);
};

}  // namespace ostra
