// TField: one column of a dataset as a component. A field reads and writes its value in the
// dataset's active record buffer through the dataset (GetFieldData / SetFieldData) and converts it
// between its own type and the forms callers ask for (AsString, AsInteger, AsFloat, AsVariant ...).
// The descendants in StringField.h, NumericFields.h, BooleanField.h, DateTimeFields.h,
// BinaryFields.h and BlobFields.h give each field type its buffer form and its conversions.
//
// Buffer forms (DataSize bytes in the buffer the dataset fills): a string is its characters and a
// zero byte; integers are little-endian binary of their width; Boolean is a 16-bit integer (0 or
// not 0); Float and Currency a double; Date, Time and DateTime the TDateTimeRec forms of
// DBTypes.h (the dataset converts them from and to TDateTime, see TDataSet::DataConvert); Bytes
// the raw bytes. Blob fields keep no value in the buffer: they go through blob streams.
//
// Kinds: a data field (fkData) maps to a column of the record; a calculated field (fkCalculated)
// is set in OnCalcFields; a lookup field (fkLookup) takes LookupResultField of the record of
// LookupDataSet whose LookupKeyFields equal this dataset's KeyFields. Calculated and lookup
// values live in the record buffer's calculated-fields area at Offset.
//
// Setting a value: the dataset must be in a state that edits the active buffer; a ReadOnly field
// refuses with "Field '%s' cannot be modified" (outside the search-key and filter states);
// OnValidate sees the new value (through the field's own getters) before it is stored and may
// raise to refuse it; OnChange follows once it is stored.
#pragma once
#include <string>

#include "host/Component.h"
#include "host/Currency.h"
#include "host/DateTime.h"
#include "host/Variant.h"
#include "host/db/DBTypes.h"

namespace ostra {

class TDataSet;
class TFields;

// One column of a dataset.
class TField : public TComponent {
public:
    explicit TField(TComponent* AOwner);
    // Leaves its dataset (closing it first when it is open).
    ~TField() override;

    // ---- Identity and binding
    TDataSet* DataSet() const { return FDataSet; }
    // Moves the field to another dataset's field list; both datasets must be closed. A name
    // already used in the new dataset raises "Duplicate field name '%s'".
    void SetDataSet(TDataSet* ADataSet);
    const std::string& FieldName() const { return FFieldName; }
    // Requires a closed dataset; a name already used there raises "Duplicate field name '%s'".
    void SetFieldName(const std::string& Value);
    // The dataset's column number of a data field (from 1), set while the dataset is open;
    // -1 for calculated and lookup fields, 0 while unbound.
    int FieldNo() const { return FFieldNo; }
    TFieldKind FieldKind() const { return FFieldKind; }
    void SetFieldKind(TFieldKind Value);
    bool Calculated() const { return FFieldKind == fkCalculated; }
    void SetCalculated(bool Value) { SetFieldKind(Value ? fkCalculated : fkData); }
    bool Lookup() const { return FFieldKind == fkLookup; }
    void SetLookup(bool Value) { SetFieldKind(Value ? fkLookup : fkData); }
    TFieldType DataType() const { return FDataType; }
    // The declared size: characters of a string, bytes of a Bytes field, 0 for fixed-size types.
    int Size() const { return FSize; }
    // Requires a closed dataset; a size the type does not take raises "Invalid field size".
    void SetSize(int Value);
    // Bytes of the value in a record buffer.
    virtual int DataSize() const { return 0; }
    // Where a calculated or lookup value lies in the calculated-fields area.
    int Offset() const { return FOffset; }
    // Position in the dataset's field list; SetIndex moves it there.
    int Index() const;
    void SetIndex(int Value);
    virtual bool IsBlob() const { return false; }
    // A data field of a modifiable dataset that is not ReadOnly.
    bool CanModify() const;

    // ---- Presentation
    const std::string& DisplayLabel() const { return FDisplayLabel; }
    void SetDisplayLabel(const std::string& Value) { FDisplayLabel = Value; }
    // DisplayLabel, or FieldName when it is empty: the name every message uses.
    std::string DisplayName() const { return FDisplayLabel.empty() ? FFieldName : FDisplayLabel; }
    // Characters a grid gives the column; the type's default until set.
    int DisplayWidth() const { return FDisplayWidth > 0 ? FDisplayWidth : GetDefaultWidth(); }
    void SetDisplayWidth(int Value) { FDisplayWidth = Value; }
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value) { FVisible = Value; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value) { FReadOnly = Value; }
    bool Required() const { return FRequired; }
    void SetRequired(bool Value) { FRequired = Value; }
    // A value (as text) that a new record of the dataset starts with; empty for none.
    const std::string& DefaultExpression() const { return FDefaultExpression; }
    void SetDefaultExpression(const std::string& Value) { FDefaultExpression = Value; }
    // The value as text for editing / for display (DisplayText may be formatted for reading).
    std::string Text() const { return GetText(false); }
    virtual void SetText(const std::string& Value) { SetAsString(Value); }
    std::string DisplayText() const { return GetText(true); }

    // ---- Values. A conversion the field type does not offer raises "Cannot access field '%s'
    // as type %s"; text that does not convert raises the type's "is not a valid ... value" text.
    std::string AsString() const { return GetAsString(); }
    virtual void SetAsString(const std::string& Value);
    int32_t AsInteger() const { return GetAsInteger(); }
    virtual void SetAsInteger(int32_t Value);
    double AsFloat() const { return GetAsFloat(); }
    virtual void SetAsFloat(double Value);
    Currency AsCurrency() const { return GetAsCurrency(); }
    virtual void SetAsCurrency(Currency Value);
    bool AsBoolean() const { return GetAsBoolean(); }
    virtual void SetAsBoolean(bool Value);
    TDateTime AsDateTime() const { return GetAsDateTime(); }
    virtual void SetAsDateTime(TDateTime Value);
    // The value as a Variant; Null for a null value.
    Variant AsVariant() const { return GetAsVariant(); }
    // Null or Empty clears the field; anything else is converted to the field's type.
    void SetAsVariant(const Variant& Value);
    Variant Value() const { return GetAsVariant(); }
    void SetValue(const Variant& Value) { SetAsVariant(Value); }
    // Assigns a value by its own kind: text through SetAsString, integers through SetAsInteger,
    // floats, currency, dates and Booleans through their setters, Null and Empty through Clear.
    // An array raises "Invalid value for field '%s'".
    virtual void AssignValue(const Variant& Value);
    virtual bool IsNull() const;
    // Makes the value null.
    virtual void Clear();

    // ---- Raw access
    // Copies the value into Buffer (DataSize bytes, in the native form unless NativeFormat is
    // false, which gives TDateTime for date and time fields); false for a null value. A null
    // Buffer only asks whether the value is null. Raises "Field '%s' has no dataset" without one.
    bool GetData(void* Buffer, bool NativeFormat = true) const;
    // Stores Buffer (null for a null value) through the dataset, after the read-only check.
    void SetData(const void* Buffer, bool NativeFormat = true);
    // Runs OnValidate for the native value in Buffer (null: a null value); while it runs, the
    // field's getters read that value. An exception from OnValidate refuses the value.
    void Validate(const void* Buffer);

    // ---- Lookup fields
    TDataSet* LookupDataSet() const { return FLookupDataSet; }
    void SetLookupDataSet(TDataSet* Value);
    const std::string& KeyFields() const { return FKeyFields; }
    void SetKeyFields(const std::string& Value);
    const std::string& LookupKeyFields() const { return FLookupKeyFields; }
    void SetLookupKeyFields(const std::string& Value);
    const std::string& LookupResultField() const { return FLookupResultField; }
    void SetLookupResultField(const std::string& Value);

    // Fired after a new value was stored / before it is stored (see the file comment).
    TFieldNotifyEvent OnChange;
    TFieldNotifyEvent OnValidate;

    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    void SetDataType(TFieldType Value) { FDataType = Value; }
    virtual std::string GetAsString() const;
    virtual int32_t GetAsInteger() const;
    virtual double GetAsFloat() const;
    virtual Currency GetAsCurrency() const;
    virtual bool GetAsBoolean() const;
    virtual TDateTime GetAsDateTime() const;
    virtual Variant GetAsVariant() const;
    // Stores a Variant that is neither Null nor Empty.
    virtual void SetVarValue(const Variant& Value);
    virtual std::string GetText(bool DisplayText) const { return GetAsString(); }
    virtual int GetDefaultWidth() const { return 10; }
    // Refuses a size the field type does not take; the base takes 0 only.
    virtual void CheckTypeSize(int Value) const;
    // Called when the dataset binds (opens) and unbinds its fields; lookup fields check their
    // lookup information here.
    virtual void Bind(bool Binding);
    // Fires OnChange.
    virtual void Change();
    // Called when the dataset leaves the edit state; blob fields forget their modified flag.
    virtual void FreeBuffers() {}
    // "(Blob)", "(Memo)", ...: the class name between parentheses, upper case when not null.
    std::string GetClassDesc() const;
    [[noreturn]] void AccessError(const std::string& TypeName) const;
    [[noreturn]] void RangeError(double Value, double Min, double Max) const;
    // The dataset must be closed (or absent).
    void CheckInactive() const;
    // The dataset, or "Field '%s' has no dataset".
    TDataSet& CheckDataSet() const;
    // A zero-filled buffer for one value, with room to spare beyond DataSize.
    std::string ValueBuffer() const;

private:
    friend class TDataSet;
    friend class TFields;

    // Computes a lookup value into the record being calculated.
    void CalcLookupValue();
    // Checks the lookup information; opens the lookup dataset.
    void ValidateLookupInfo();

    TDataSet* FDataSet = nullptr;
    std::string FFieldName;
    int FFieldNo = 0;
    TFieldKind FFieldKind = fkData;
    TFieldType FDataType = ftUnknown;
    int FSize = 0;
    int FOffset = 0;
    std::string FDisplayLabel;
    int FDisplayWidth = 0;
    bool FVisible = true;
    bool FReadOnly = false;
    bool FRequired = false;
    std::string FDefaultExpression;
    TDataSet* FLookupDataSet = nullptr;
    std::string FKeyFields;
    std::string FLookupKeyFields;
    std::string FLookupResultField;
    // The value being validated (native form) while OnValidate runs.
    const void* FValueBuffer = nullptr;
    bool FValidating = false;
};

}  // namespace ostra
