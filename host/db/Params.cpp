// TParam and TParams: parameter values, their data types and lookup by name.
#include "host/db/Params.h"

#include <vector>

#include "host/Collation.h"
#include "host/Component.h"
#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"
#include "host/db/DBConsts.h"
#include "host/db/Field.h"

namespace ostra {

[[maybe_unused]] const bool kParamPublished =
    Publish<TParam, TCollectionItem>()
        .Enum("DataType", &TParam::DataType, &TParam::SetDataType, FieldTypeIdents)
        .Default(ftUnknown)
        .String("Name", &TParam::Name, &TParam::SetName)
        .Enum("ParamType", &TParam::ParamType, &TParam::SetParamType, ParamTypeIdents)
        .Default(ptUnknown);

namespace {

// The field type a value of this Variant kind gets; ftUnknown for Null and Empty.
TFieldType VarTypeToDataType(TVarType type) {
    switch (type) {
        case varSmallint: return ftSmallint;
        case varInteger: return ftInteger;
        case varWord: return ftWord;
        case varLongWord:
        case varInt64: return ftLargeint;
        case varDouble: return ftFloat;
        case varCurrency: return ftCurrency;
        case varDate: return ftDateTime;
        case varBoolean: return ftBoolean;
        case varString: return ftString;
        default: return ftUnknown;
    }
}

// The Variant kind that holds values of a field type; varEmpty when no conversion applies.
TVarType DataTypeToVarType(TFieldType type) {
    switch (type) {
        case ftString: case ftFixedChar: case ftWideString: case ftMemo: case ftFmtMemo: return varString;
        case ftSmallint: return varSmallint;
        case ftInteger: case ftAutoInc: return varInteger;
        case ftWord: return varWord;
        case ftBoolean: return varBoolean;
        case ftFloat: return varDouble;
        case ftCurrency: case ftBCD: return varCurrency;
        case ftDate: case ftTime: case ftDateTime: return varDate;
        case ftLargeint: return varInt64;
        default: return varEmpty;
    }
}

std::vector<std::string> SplitNames(const std::string& Names) {
    std::vector<std::string> result;
    size_t pos = 0;
    while (pos <= Names.size()) {
        size_t end = Names.find(';', pos);
        if (end == std::string::npos) end = Names.size();
        std::string name = Trim(Names.substr(pos, end - pos));
        if (!name.empty()) result.push_back(name);
        pos = end + 1;
    }
    return result;
}

}  // namespace

void TParam::SetDataType(TFieldType Value) {
    FDataType = Value;
    TVarType target = DataTypeToVarType(Value);
    if (target == varEmpty || IsNull() || VarType(FValue) == target) return;
    try {
        FValue = VarAsType(FValue, target);
    } catch (const Exception&) {
        FValue = Null();
    }
}

void TParam::SetAsVariant(const Variant& Value) {
    FValue = Value;
    FBound = !VarIsEmpty(Value);
    if (FDataType == ftUnknown) FDataType = VarTypeToDataType(VarType(Value));
}

void TParam::SetTyped(TFieldType Type, const Variant& Value) {
    FDataType = Type;
    FValue = Value;
    FBound = true;
}

void TParam::Clear() { FValue = Null(); }

void TParam::AssignField(const TField* Field) {
    if (!Field) return;
    FDataType = Field->DataType() == ftAutoInc ? ftInteger : Field->DataType();
    FValue = Field->IsNull() ? Null() : Field->Value();
    FBound = true;
    FName = Field->FieldName();
}

void TParam::AssignFieldValue(const TField* Field, const Variant& Value) {
    if (!Field) return;
    FDataType = Field->DataType() == ftAutoInc ? ftInteger : Field->DataType();
    FValue = VarIsEmpty(Value) ? Null() : Value;
    FBound = true;
}

void TParam::Assign(const TPersistent* Source) {
    if (auto* param = dynamic_cast<const TParam*>(Source)) {
        FName = param->FName;
        FDataType = param->FDataType;
        FParamType = param->FParamType;
        FValue = param->FValue;
        FBound = param->FBound;
        return;
    }
    if (auto* field = dynamic_cast<const TField*>(Source)) {
        AssignField(field);
        return;
    }
    TCollectionItem::Assign(Source);
}

std::string TParam::GetNamePath() const { return FName.empty() ? TCollectionItem::GetNamePath() : FName; }

TParams::TParams(TPersistent* AOwner) : TCollection(ItemClassOf<TParam>(), AOwner) {}

TParam* TParams::CreateParam(TFieldType FldType, const std::string& ParamName, TParamType ParamType) {
    TParam* param = AddParam();
    param->SetName(ParamName);
    param->SetDataType(FldType);
    param->SetParamType(ParamType);
    return param;
}

TParam* TParams::FindParam(const std::string& Value) const {
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(Items(i)->Name(), Value)) return Items(i);
    return nullptr;
}

TParam* TParams::ParamByName(const std::string& Value) const {
    TParam* param = FindParam(Value);
    if (!param) DatabaseErrorFmt(SParameterNotFound, {Value}, dynamic_cast<const TComponent*>(Owner()));
    return param;
}

Variant TParams::ParamValues(const std::string& ParamName) const {
    if (ParamName.find(';') == std::string::npos) return ParamByName(Trim(ParamName))->Value();
    std::vector<Variant> values;
    for (const std::string& name : SplitNames(ParamName)) values.push_back(ParamByName(name)->Value());
    return VarArrayOf(std::move(values));
}

void TParams::SetParamValues(const std::string& ParamName, const Variant& Value) {
    if (!VarIsArray(Value)) {
        ParamByName(Trim(ParamName))->SetValue(Value);
        return;
    }
    std::vector<std::string> names = SplitNames(ParamName);
    for (size_t i = 0; i < names.size(); ++i) ParamByName(names[i])->SetValue(Value[static_cast<int>(i)]);
}

void TParams::AssignValues(const TParams& Value) {
    for (int i = 0; i < Value.Count(); ++i)
        if (TParam* param = FindParam(Value.Items(i)->Name())) param->Assign(Value.Items(i));
}

}  // namespace ostra
