// TField: binding to a dataset, the value access shared by every field type, validation and
// lookup values.
#include "host/db/Field.h"

#include <cstring>
#include <vector>

#include "host/Collation.h"
#include "host/SysUtils.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSet.h"

namespace ostra {

namespace {

// Room beyond DataSize in value buffers, so that a dataset that clears a little more than the
// value (a string's terminator and size marker) stays inside the buffer.
constexpr size_t kValueSlack = 16;

bool IsDateTimeType(TFieldType type) { return type == ftDate || type == ftTime || type == ftDateTime; }

}  // namespace

TField::TField(TComponent* AOwner) : TComponent(AOwner) {}

TField::~TField() {
    if (!FDataSet) return;
    if (FDataSet->Active() && !FDataSet->ComponentState().Contains(csDestroying)) {
        // A field cannot leave an open dataset; closing cannot report a failure from here.
        try {
            FDataSet->Close();
        } catch (...) {
        }
    }
    FDataSet->FFields->Remove(this);
    FDataSet = nullptr;
}

// ---- Identity and binding ---------------------------------------------------------------------

void TField::SetDataSet(TDataSet* ADataSet) {
    if (ADataSet == FDataSet) return;
    if (FDataSet) FDataSet->CheckInactive();
    if (ADataSet) {
        ADataSet->CheckInactive();
        if (!FFieldName.empty() && ADataSet->FindField(FFieldName))
            DatabaseErrorFmt(SDuplicateFieldName, {DisplayName()}, ADataSet);
    }
    if (FDataSet) FDataSet->FFields->Remove(this);
    if (ADataSet) ADataSet->FFields->Add(this);
    FDataSet = ADataSet;
}

void TField::SetFieldName(const std::string& Value) {
    if (Value == FFieldName) return;
    if (FDataSet) {
        FDataSet->CheckInactive();
        TField* other = FDataSet->FindField(Value);
        if (other && other != this) DatabaseErrorFmt(SDuplicateFieldName, {Value}, FDataSet);
    }
    FFieldName = Value;
}

void TField::SetFieldKind(TFieldKind Value) {
    if (Value == FFieldKind) return;
    CheckInactive();
    FFieldKind = Value;
}

void TField::SetSize(int Value) {
    CheckInactive();
    CheckTypeSize(Value);
    FSize = Value;
}

void TField::CheckTypeSize(int Value) const {
    if (Value != 0) DatabaseError(SInvalidFieldSize, nullptr);
}

int TField::Index() const { return FDataSet ? FDataSet->FFields->IndexOf(this) : -1; }

void TField::SetIndex(int Value) {
    if (FDataSet) FDataSet->FFields->SetFieldIndex(this, Value);
}

bool TField::CanModify() const {
    return FFieldKind == fkData && !FReadOnly && FDataSet && FDataSet->CanModify();
}

void TField::CheckInactive() const {
    if (FDataSet) FDataSet->CheckInactive();
}

TDataSet& TField::CheckDataSet() const {
    if (!FDataSet) DatabaseErrorFmt(SDataSetMissing, {DisplayName()}, nullptr);
    return *FDataSet;
}

std::string TField::ValueBuffer() const { return std::string(static_cast<size_t>(DataSize()) + kValueSlack, '\0'); }

// ---- Raw access -----------------------------------------------------------------------------------

bool TField::GetData(void* Buffer, bool NativeFormat) const {
    TDataSet& dataSet = CheckDataSet();
    if (FValidating) {
        if (!FValueBuffer) return false;
        if (Buffer) {
            if (NativeFormat || !IsDateTimeType(FDataType))
                std::memcpy(Buffer, FValueBuffer, static_cast<size_t>(DataSize()));
            else
                dataSet.DataConvert(const_cast<TField*>(this), FValueBuffer, Buffer, false);
        }
        return true;
    }
    // Values the dataset hands over as they are: straight to its slot.
    if (NativeFormat || !Buffer || !IsDateTimeType(FDataType)) return dataSet.GetFieldData(const_cast<TField*>(this), Buffer);
    return dataSet.GetFieldData(const_cast<TField*>(this), Buffer, NativeFormat);
}

void TField::SetData(const void* Buffer, bool NativeFormat) {
    TDataSet& dataSet = CheckDataSet();
    if (FReadOnly && FFieldKind == fkData && dataSet.State() != dsSetKey && dataSet.State() != dsFilter)
        DatabaseErrorFmt(SFieldReadOnly, {DisplayName()}, nullptr);
    dataSet.SetFieldData(this, Buffer, NativeFormat);
}

void TField::Validate(const void* Buffer) {
    if (!OnValidate) return;
    const void* savedBuffer = FValueBuffer;
    bool savedValidating = FValidating;
    FValueBuffer = Buffer;
    FValidating = true;
    try {
        OnValidate(this);
    } catch (...) {
        FValueBuffer = savedBuffer;
        FValidating = savedValidating;
        throw;
    }
    FValueBuffer = savedBuffer;
    FValidating = savedValidating;
}

bool TField::IsNull() const {
    if (FValidating) return FValueBuffer == nullptr;
    return !GetData(nullptr);
}

void TField::Clear() { SetData(nullptr); }

// ---- Values ---------------------------------------------------------------------------------------

void TField::SetAsVariant(const Variant& Value) {
    if (VarIsNull(Value) || VarIsEmpty(Value))
        Clear();
    else
        SetVarValue(Value);
}

void TField::AssignValue(const Variant& Value) {
    switch (VarType(Value)) {
        case varEmpty:
        case varNull:
            Clear();
            break;
        case varSmallint:
        case varInteger:
        case varWord:
            SetAsInteger(Value.AsInteger());
            break;
        case varLongWord:
        case varInt64: {
            int64_t v = Value.AsInt64();
            if (v >= INT32_MIN && v <= INT32_MAX)
                SetAsInteger(static_cast<int32_t>(v));
            else
                SetAsFloat(static_cast<double>(v));
            break;
        }
        case varDouble:
            SetAsFloat(Value.AsDouble());
            break;
        case varCurrency:
            SetAsCurrency(Value.AsCurrency());
            break;
        case varDate:
            SetAsDateTime(Value.AsDateTime());
            break;
        case varBoolean:
            SetAsBoolean(Value.AsBoolean());
            break;
        case varString:
            SetAsString(Value.AsString());
            break;
        default:
            DatabaseErrorFmt(SFieldValueError, {DisplayName()}, nullptr);
    }
}

std::string TField::GetAsString() const { return GetClassDesc(); }
int32_t TField::GetAsInteger() const { AccessError("Integer"); }
double TField::GetAsFloat() const { AccessError("Float"); }
bool TField::GetAsBoolean() const { AccessError("Boolean"); }
TDateTime TField::GetAsDateTime() const { AccessError("DateTime"); }
Variant TField::GetAsVariant() const { AccessError("Variant"); }

Currency TField::GetAsCurrency() const {
    double value = GetAsFloat();
    Currency result;
    if (!TryFloatToCurr(value, result)) RangeError(value, -922337203685477.5808, 922337203685477.5807);
    return result;
}

void TField::SetAsString(const std::string&) { AccessError("String"); }
void TField::SetAsInteger(int32_t) { AccessError("Integer"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
void TField::SetAsCurrency(Currency Value) { SetAsFloat(Value.ToDouble()); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
void TField::SetVarValue(const Variant&) { AccessError("Variant"); }

std::string TField::GetClassDesc() const {
    std::string name = ClassName();
    if (!name.empty() && name[0] == 'T') name.erase(0, 1);
    if (name.size() > 5 && name.compare(name.size() - 5, 5, "Field") == 0) name.erase(name.size() - 5);
    std::string desc = "(" + name + ")";
    return IsNull() ? desc : AnsiUpperCase(desc);
}

void TField::AccessError(const std::string& TypeName) const {
    DatabaseErrorFmt(SFieldAccessError, {DisplayName(), TypeName}, nullptr);
}

void TField::RangeError(double Value, double Min, double Max) const {
    DatabaseErrorFmt(SFieldRangeError, {Value, DisplayName(), Min, Max}, nullptr);
}

void TField::Change() {
    if (OnChange) OnChange(this);
}

// ---- Lookup fields --------------------------------------------------------------------------------

void TField::SetLookupDataSet(TDataSet* Value) {
    if (Value == FLookupDataSet) return;
    CheckInactive();
    if (FLookupDataSet) FLookupDataSet->RemoveFreeNotification(this);
    FLookupDataSet = Value;
    if (Value) Value->FreeNotification(this);
}

void TField::SetKeyFields(const std::string& Value) {
    CheckInactive();
    FKeyFields = Value;
}

void TField::SetLookupKeyFields(const std::string& Value) {
    CheckInactive();
    FLookupKeyFields = Value;
}

void TField::SetLookupResultField(const std::string& Value) {
    CheckInactive();
    FLookupResultField = Value;
}

void TField::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FLookupDataSet) FLookupDataSet = nullptr;
}

void TField::Bind(bool Binding) {
    if (Binding && FFieldKind == fkLookup) ValidateLookupInfo();
}

void TField::ValidateLookupInfo() {
    if (!FLookupDataSet || FKeyFields.empty() || FLookupKeyFields.empty() || FLookupResultField.empty())
        DatabaseErrorFmt(SLookupInfoError, {DisplayName()}, FDataSet);
    // Looking up in the dataset itself would compute its lookup values from within their own
    // computation.
    if (FLookupDataSet == FDataSet) DatabaseError(SCircularDataLink, FDataSet);
    std::vector<TField*> keys;
    FDataSet->GetFieldList(keys, FKeyFields);
    FLookupDataSet->Open();
    std::vector<TField*> lookupKeys;
    FLookupDataSet->GetFieldList(lookupKeys, FLookupKeyFields);
    FLookupDataSet->FieldByName(FLookupResultField);
}

void TField::CalcLookupValue() {
    if (FLookupDataSet && FLookupDataSet->Active())
        SetAsVariant(FLookupDataSet->Lookup(FLookupKeyFields, FDataSet->GetFieldValue(FKeyFields), FLookupResultField));
}

}  // namespace ostra
