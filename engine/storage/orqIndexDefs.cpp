// orqIndexDefs: key field and index definitions, their published properties, the key-size
// routines and the derivation of an index definition from a requested index.
#include "engine/storage/orqIndexDefs.h"

#include <algorithm>
#include <memory>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/PropertyRegistry.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

const char* const kIndexKeyTypeIdents[] = {"ikFixed", "ikMinStringLen"};

[[maybe_unused]] const bool kPublished =
    Publish<TKeyFieldItem, TCollectionItem>()
        .String("FieldName", &TKeyFieldItem::FieldName, &TKeyFieldItem::SetFieldName)
        .Enum("DataType", &TKeyFieldItem::DataType, &TKeyFieldItem::SetDataType, FieldTypeIdents)
        .Integer("FieldSize", &TKeyFieldItem::FieldSize, &TKeyFieldItem::SetFieldSize)
        .Boolean("CaseInsensitive", &TKeyFieldItem::CaseInsensitive, &TKeyFieldItem::SetCaseInsensitive)
        .Default(false)
        .Boolean("Descending", &TKeyFieldItem::Descending, &TKeyFieldItem::SetDescending)
        .Default(false)
        .Boolean("IsVariable", &TKeyFieldItem::IsVariable, &TKeyFieldItem::SetIsVariable)
        .Default(false)
        .Integer("RecBufOffset", &TKeyFieldItem::RecBufOffset, &TKeyFieldItem::SetRecBufOffset)
        .Integer("NullFlagOffset", &TKeyFieldItem::NullFlagOffset, &TKeyFieldItem::SetNullFlagOffset)
        .Integer("SizeMarkerOffset", &TKeyFieldItem::SizeMarkerOffset, &TKeyFieldItem::SetSizeMarkerOffset)
        .Integer("PhysicalFieldNo", &TKeyFieldItem::PhysicalFieldNo, &TKeyFieldItem::SetPhysicalFieldNo)
        .String("IndexName", &TKeyFieldItem::IndexName, &TKeyFieldItem::SetIndexName)
        .Boolean("Hidden", &TKeyFieldItem::Hidden, &TKeyFieldItem::SetHidden)
        .Integer("KeyIndex", &TKeyFieldItem::KeyIndex, &TKeyFieldItem::SetKeyIndex) &&
    Publish<TInternalIndexDef, TCollectionItem>()
        .Integer("IndexSequence", &TInternalIndexDef::IndexSequence, &TInternalIndexDef::SetIndexSequence)
        .String("IndexName", &TInternalIndexDef::IndexName, &TInternalIndexDef::SetIndexName)
        .Boolean("Unique", &TInternalIndexDef::Unique, &TInternalIndexDef::SetUnique)
        .Default(false)
        .Boolean("Primary", &TInternalIndexDef::Primary, &TInternalIndexDef::SetPrimary)
        .Default(false)
        .Boolean("Hidden", &TInternalIndexDef::Hidden, &TInternalIndexDef::SetHidden)
        .Default(false)
        .Boolean("Maintained", &TInternalIndexDef::Maintained, &TInternalIndexDef::SetMaintained)
        .Boolean("Memory", &TInternalIndexDef::Memory, &TInternalIndexDef::SetMemory)
        .Default(false)
        .Integer("MaximumKeySize", &TInternalIndexDef::MaximumKeySize, &TInternalIndexDef::SetMaximumKeySize)
        .Integer("KeyDataOffset", &TInternalIndexDef::KeyDataOffset, &TInternalIndexDef::SetKeyDataOffset)
        .Cardinal("IndexPageSize", &TInternalIndexDef::IndexPageSize, &TInternalIndexDef::SetIndexPageSize)
        .Enum("IndexKeyType", &TInternalIndexDef::IndexKeyType, &TInternalIndexDef::SetIndexKeyType,
              kIndexKeyTypeIdents);

// Types a key field cannot have: Bytes, VarBytes, Blob..Cursor, ADT..DataSet.
bool CannotBeIndexed(TFieldType Type) {
    return Type == ftBytes || Type == ftVarBytes || (Type >= ftBlob && Type <= ftCursor) ||
           (Type >= ftADT && Type <= ftDataSet);
}

// True when Name is one of the ';'-separated names of List (ignoring case and blanks around
// the names). A whole-name match: a field "ID" is not marked by a list naming "CUSTID".
bool NameInList(const std::string& Name, const std::string& List) {
    TStringList names;
    ConvertFieldNamesToList(List, &names);
    for (int i = 0; i < names.Count(); ++i)
        if (AnsiCompareText(Trim(names.Strings(i)), Name) == 0) return true;
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TKeyFieldItem, TKeyFields

void TKeyFieldItem::Assign(const TPersistent* Source) {
    const auto* src = dynamic_cast<const TKeyFieldItem*>(Source);
    if (!src) {
        TCollectionItem::Assign(Source);
        return;
    }
    FCaseInsensitive = src->FCaseInsensitive;
    FDescending = src->FDescending;
    FFieldSize = src->FFieldSize;
    FDataType = src->FDataType;
    FIsVariable = src->FIsVariable;
    FFieldName = src->FFieldName;
    FRecBufOffset = src->FRecBufOffset;
    FNullFlagOffset = src->FNullFlagOffset;
    FPhysicalFieldNo = src->FPhysicalFieldNo;
    FIndexName = src->FIndexName;
    FHidden = src->FHidden;
    FSizeMarkerOffset = src->FSizeMarkerOffset;
    FKeyIndex = src->FKeyIndex;
    Assert(!((FDataType == ftString || FDataType == ftWideString) && FSizeMarkerOffset == 0),
           "Internal status error in assign KeyField");
}

TKeyFields::TKeyFields(TPersistent* AOwner) : TCollection(ItemClassOf<TKeyFieldItem>(), AOwner) {}

TKeyFieldItem* TKeyFields::Add() {
    return static_cast<TKeyFieldItem*>(TCollection::Add());
}

TKeyFieldItem* TKeyFields::GetIndex(int Position) const {
    return static_cast<TKeyFieldItem*>(Items(Position));
}

void TKeyFields::SetIndex(int Position, const TKeyFieldItem* Item) {
    SetItems(Position, Item);
}

TKeyFieldItem* TKeyFields::FindField(const std::string& FieldName) const {
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(GetIndex(i)->FieldName(), FieldName) == 0) return GetIndex(i);
    return nullptr;
}

int TKeyFields::FindFieldCountForIndex(const std::string& IndexName) const {
    int n = 0;
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(GetIndex(i)->IndexName(), IndexName) == 0) ++n;
    return n;
}

void TKeyFields::Assign(const TPersistent* Source) {
    const auto* src = dynamic_cast<const TKeyFields*>(Source);
    if (!src) {
        TCollection::Assign(Source);
        return;
    }
    BeginUpdate();
    try {
        Clear();
        for (int i = 0; i < src->Count(); ++i) Add()->Assign(src->GetIndex(i));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

// ---------------------------------------------------------------------------------------------
// TInternalIndexDef, TInternalIndexDefs

void TInternalIndexDef::Assign(const TPersistent* Source) {
    const auto* src = dynamic_cast<const TInternalIndexDef*>(Source);
    if (!src) {
        TCollectionItem::Assign(Source);
        return;
    }
    CopyIndexDefProperties(*this, *src);
}

TInternalIndexDefs::TInternalIndexDefs(TPersistent* AOwner)
    : TCollection(ItemClassOf<TInternalIndexDef>(), AOwner) {}

TInternalIndexDef* TInternalIndexDefs::Add() {
    return static_cast<TInternalIndexDef*>(TCollection::Add());
}

TInternalIndexDef* TInternalIndexDefs::GetItems(int Position) const {
    return static_cast<TInternalIndexDef*>(Items(Position));
}

void TInternalIndexDefs::SetItems(int Position, const TInternalIndexDef* Item) {
    TCollection::SetItems(Position, Item);
}

TInternalIndexDef* TInternalIndexDefs::FindIndexDef(const std::string& IndexName) const {
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(GetItems(i)->IndexName(), IndexName) == 0) return GetItems(i);
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Key sizes

int CalculateMaximumKeySize(const TKeyFields& KeyFields) {
    int size = 10;
    for (int i = 0; i < KeyFields.Count(); ++i) {
        const TKeyFieldItem* field = KeyFields.GetIndex(i);
        size += CalculateCoreDataSize(field->DataType());
        if (field->DataType() == ftString || field->DataType() == ftWideString) size += field->FieldSize();
    }
    return size;
}

int CalculateIndexPageSize(int KeySize) {
    return std::max(4096, ((KeySize + 16) / 2048 + 1) * 2048);
}

// ---------------------------------------------------------------------------------------------
// Derivation

TInternalIndexDef* DeriveIndexDef(const TIndexRequest& Request, bool Hidden, bool Memory,
                                  const TInternalFields& Fields, TKeyFields& KeyFields,
                                  TInternalIndexDefs& IndexDefs, const std::string& KeySizeFmt,
                                  const std::string& Caller, TObject* Sender) {
    TInternalIndexDef* def = IndexDefs.Add();
    def->SetIndexName(Request.IndexName);
    def->SetUnique(Request.Unique);
    def->SetPrimary(Request.Primary);
    def->SetMaintained(true);
    def->SetMemory(Memory);
    def->SetHidden(Hidden);
    def->SetIndexSequence(IndexDefs.Count() - 1);

    const bool allDescending = Request.Descending && Request.DescFields.empty();
    const bool allCaseInsensitive = Request.CaseInsensitive && Request.CaseInsFields.empty();

    TKeyFields indexKeys;  // this index's key fields, for its key size
    TStringList names;
    ConvertFieldNamesToList(Request.Fields, &names);
    for (int i = 0; i < names.Count(); ++i) {
        const std::string name = names.Strings(i);
        const TInternalFieldItem* field = Fields.FindField(name);
        if (!field) OrqDatabaseError(10116, Caller, name, Sender);
        if (CannotBeIndexed(field->DataType()))
            OrqDatabaseError(10117, Caller, FieldTypeName(field->DataType()), Sender);
        TKeyFieldItem* key = KeyFields.Add();
        key->SetIndexName(Request.IndexName);
        key->SetHidden(false);
        key->SetFieldName(field->FieldName());
        key->SetFieldSize(field->FieldSize());
        key->SetDataType(field->DataType());
        key->SetIsVariable(field->IsVariable());
        key->SetPhysicalFieldNo(field->FieldNo());
        key->SetRecBufOffset(field->DataOffset());
        key->SetNullFlagOffset(field->NullFlagOffset());
        key->SetSizeMarkerOffset(field->SizeMarkerOffset());
        key->SetCaseInsensitive(allCaseInsensitive || NameInList(field->FieldName(), Request.CaseInsFields));
        key->SetDescending(allDescending || NameInList(field->FieldName(), Request.DescFields));
        key->SetKeyIndex(indexKeys.Count());
        if (key->DataType() == ftString && key->SizeMarkerOffset() == 0)
            OrqDatabaseErrorFmt(8581, Caller, SorqValueInvalidFmt, {"KeyOffset"}, Sender);
        indexKeys.Add()->Assign(key);
    }

    if (!Request.Unique && !Request.Primary) {
        // The record's logical record number: makes every key of the index distinct. Its null
        // byte is the record's in-use flag, 1 in every stored record.
        TKeyFieldItem* key = KeyFields.Add();
        key->SetIndexName(Request.IndexName);
        key->SetFieldName("");
        key->SetHidden(true);
        key->SetFieldSize(4);
        key->SetDataType(ftInteger);
        key->SetIsVariable(false);
        key->SetPhysicalFieldNo(-1);
        key->SetCaseInsensitive(false);
        key->SetDescending(Request.Descending);
        key->SetRecBufOffset(C_RECLOGICALNOOFFSET);
        key->SetNullFlagOffset(C_RECINUSEOFFSET);
        key->SetSizeMarkerOffset(0);
        key->SetKeyIndex(indexKeys.Count());
        indexKeys.Add()->Assign(key);
    }

    if (indexKeys.Count() > C_MAXKEYFIELDS)
        OrqDatabaseErrorFmt(9603, Caller, SorqMaxLimitFmt, {C_MAXKEYFIELDS}, Sender);

    def->SetKeyDataOffset(indexKeys.Count() / 8 + 1);
    def->SetMaximumKeySize(CalculateMaximumKeySize(indexKeys) + def->KeyDataOffset());
    if (def->MaximumKeySize() > C_MAXKEYSIZE)
        OrqDatabaseErrorFmt(9602, Caller, KeySizeFmt, {Request.IndexName}, Sender);
    def->SetIndexPageSize(C_DEFAULTINDEXPAGESIZE);
    return def;
}

}  // namespace ostra
