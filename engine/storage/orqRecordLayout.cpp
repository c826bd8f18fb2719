// orqRecordLayout: field descriptors, the layout computation and the published properties
// through which table definitions store their fields.
#include "engine/storage/orqRecordLayout.h"

#include "engine/storage/orqErrors.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/PropertyRegistry.h"
#include "platform/Random.h"

namespace ostra {

namespace {

const char* const kCompressionModeIdents[] = {"dcNone", "dcZLib", "dcCustom", "dcUnknown"};

// The random generator id of a new descriptor: the host runtime's random integer below 2^31 - 1.
int32_t NewFieldGeneratorID() {
    return platform::Random(2147483647);
}

[[maybe_unused]] const bool kPublished =
    Publish<TInternalFieldItem, TCollectionItem>()
        .String("FieldName", &TInternalFieldItem::FieldName, &TInternalFieldItem::SetFieldName)
        .Integer("FieldNo", &TInternalFieldItem::FieldNo, &TInternalFieldItem::SetFieldNo)
        .Integer("FieldIndex", &TInternalFieldItem::FieldIndex, &TInternalFieldItem::SetFieldIndex)
        .Enum("DataType", &TInternalFieldItem::DataType, &TInternalFieldItem::SetDataType, FieldTypeIdents)
        .Integer("FieldSize", &TInternalFieldItem::FieldSize, &TInternalFieldItem::SetFieldSize)
        .Integer("NumDecimalPlaces", &TInternalFieldItem::NumDecimalPlaces,
                 &TInternalFieldItem::SetNumDecimalPlaces)
        .Default(0)
        .Boolean("Required", &TInternalFieldItem::Required, &TInternalFieldItem::SetRequired)
        .Integer("SizeMarkerOffset", &TInternalFieldItem::SizeMarkerOffset,
                 &TInternalFieldItem::SetSizeMarkerOffset)
        .Integer("DataOffset", &TInternalFieldItem::DataOffset, &TInternalFieldItem::SetDataOffset)
        .Integer("NullFlagOffset", &TInternalFieldItem::NullFlagOffset,
                 &TInternalFieldItem::SetNullFlagOffset)
        .Boolean("IsVariable", &TInternalFieldItem::IsVariable, &TInternalFieldItem::SetIsVariable)
        .Default(false)
        .Integer("FieldGeneratorID", &TInternalFieldItem::FieldGeneratorID,
                 &TInternalFieldItem::SetFieldGeneratorID)
        .Boolean("Hidden", &TInternalFieldItem::Hidden, &TInternalFieldItem::SetHidden)
        .Default(false)
        .Enum("CompressionMode", &TInternalFieldItem::CompressionMode,
              &TInternalFieldItem::SetCompressionMode, kCompressionModeIdents)
        .Default(dcNone) &&
    Publish<TSearchFieldItem, TInternalFieldItem>();

}  // namespace

bool IsRecordFieldType(TFieldType Type) {
    switch (Type) {
        case ftString:
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftBoolean:
        case ftFloat:
        case ftCurrency:
        case ftDate:
        case ftTime:
        case ftDateTime:
        case ftBytes:
        case ftAutoInc:
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
            return true;
        default:
            return false;
    }
}

bool IsBlobFieldType(TFieldType Type) {
    return Type >= ftBlob && Type <= ftFmtMemo;
}

int DefaultFieldSize(TFieldType Type) {
    switch (Type) {
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
            return 8;  // address + length
        case ftBCD:
            return 0;  // not a record field type
        default:
            return FixedValueSize(Type);
    }
}

// ---------------------------------------------------------------------------------------------
// TInternalFieldItem

TInternalFieldItem::TInternalFieldItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

void TInternalFieldItem::SetDataType(TFieldType Value) {
    if (!IsRecordFieldType(Value))
        OrqDatabaseError(10000, "TInternalFieldItem.SetDataType", FieldTypeName(Value), this);
    FDataType = Value;
    FFieldSize = DefaultFieldSize(Value);
}

int TInternalFieldItem::GetWriteableFieldSize() const {
    return FDataType == ftString ? FFieldSize - 1 : FFieldSize;
}

void TInternalFieldItem::Assign(const TPersistent* Source) {
    const auto* src = dynamic_cast<const TInternalFieldItem*>(Source);
    if (!src) {
        TCollectionItem::Assign(Source);
        return;
    }
    FFieldName = src->FFieldName;
    FFieldNo = src->FFieldNo;
    FFieldIndex = src->FFieldIndex;
    SetDataType(src->FDataType);
    FFieldSize = src->FFieldSize;
    FNumDecimalPlaces = src->FNumDecimalPlaces;
    FNullFlagOffset = src->FNullFlagOffset;
    FDataOffset = src->FDataOffset;
    FIsVariable = src->FIsVariable;
    FSizeMarkerOffset = src->FSizeMarkerOffset;
    FSourceField = src->FSourceField;
    FRequired = src->FRequired;
    FFieldGeneratorID = src->FFieldGeneratorID;
    FPrivilegeFlags = src->FPrivilegeFlags;
    FHidden = src->FHidden;
    // Copied too, so that a copied definition stores the same text as its source.
    FCompressionMode = src->FCompressionMode;
}

// ---------------------------------------------------------------------------------------------
// TInternalFields

TInternalFields::TInternalFields(TPersistent* AOwner)
    : TInternalFields(ItemClassOf<TInternalFieldItem>(), AOwner) {}

TInternalFields::TInternalFields(TCollectionItemClass AItemClass, TPersistent* AOwner)
    : TCollection(std::move(AItemClass), AOwner), FFieldIndexMap(C_FIELDINDEXMAPSIZE, -1) {}

TInternalFieldItem* TInternalFields::Add() {
    auto* item = static_cast<TInternalFieldItem*>(TCollection::Add());
    item->SetFieldGeneratorID(NewFieldGeneratorID());
    return item;
}

TInternalFieldItem* TInternalFields::GetIndex(int Position) const {
    return static_cast<TInternalFieldItem*>(Items(Position));
}

void TInternalFields::SetIndex(int Position, const TInternalFieldItem* Item) {
    SetItems(Position, Item);
}

TInternalFieldItem* TInternalFields::GetField(int FieldIndex) const {
    Assert(FieldIndex >= 0 && FieldIndex < Count(), "Invalid field index in GetField");
    return GetIndex(FFieldIndexMap[FieldIndex]);
}

int TInternalFields::GetFieldIndexValue(int FieldIndex) const {
    if (FieldIndex < 0 || FieldIndex >= static_cast<int>(FFieldIndexMap.size())) return -1;
    return FFieldIndexMap[FieldIndex];
}

TInternalFieldItem* TInternalFields::FindField(const std::string& Name) const {
    for (int i = 0; i < Count(); ++i) {
        TInternalFieldItem* item = GetIndex(i);
        if (AnsiCompareText(item->FieldName(), Name) == 0) return item;
    }
    return nullptr;
}

TInternalFieldItem* TInternalFields::FindSourceField(const std::string& Name) const {
    for (int i = 0; i < Count(); ++i) {
        TInternalFieldItem* item = GetIndex(i);
        if (AnsiCompareText(item->SourceField(), Name) == 0) return item;
    }
    return nullptr;
}

void TInternalFields::SetDefaultOffsets() {
    const int n = Count();
    int offset = C_RECORDPREFIXSIZE + n;
    for (int i = 0; i < n; ++i) {
        TInternalFieldItem* item = GetIndex(i);
        int size;
        switch (item->DataType()) {
            case ftString:
                item->SetSizeMarkerOffset(offset);
                offset += 2;
                size = item->FieldSize();
                break;
            case ftBytes:
                item->SetSizeMarkerOffset(0);
                size = item->FieldSize();
                break;
            default:
                item->SetFieldSize(DefaultFieldSize(item->DataType()));
                item->SetSizeMarkerOffset(0);
                size = item->FieldSize();
                break;
        }
        item->SetDataOffset(offset);
        item->SetNullFlagOffset(C_RECORDPREFIXSIZE + i);
        offset += size;
    }
    FRecordSize = offset;
}

void TInternalFields::Open() {
    const int n = Count();
    FAutoIncFieldNo = -1;
    for (int i = 0; i < n; ++i) {
        const TInternalFieldItem* item = GetIndex(i);
        if (!FUsesBlobs) FUsesBlobs = IsBlobFieldType(item->DataType());
        if (item->DataType() == ftAutoInc) FAutoIncFieldNo = item->FieldIndex();
    }
    FFieldIndexMap.assign(std::max(n, C_FIELDINDEXMAPSIZE), -1);
    for (int p = 0; p < n; ++p) {
        const int fieldIndex = GetIndex(p)->FieldIndex();
        Assert(fieldIndex < 0 || fieldIndex >= n || FFieldIndexMap[fieldIndex] < 0,
               "Field indexes degenerate");
        Assert(fieldIndex >= 0 && fieldIndex < n, "Invalid field index");
        FFieldIndexMap[fieldIndex] = p;
    }
}

void TInternalFields::Close() {
    Clear();
}

void TInternalFields::Assign(const TPersistent* Source) {
    const auto* src = dynamic_cast<const TInternalFields*>(Source);
    if (!src) {
        TCollection::Assign(Source);
        return;
    }
    BeginUpdate();
    try {
        Clear();
        for (int i = 0; i < src->Count(); ++i) TCollection::Add()->Assign(src->GetIndex(i));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
    FFieldIndexMap = src->FFieldIndexMap;
    FRecordSize = 0;
    FUsesBlobs = false;
    FAutoIncFieldNo = -1;
}

// ---------------------------------------------------------------------------------------------
// TSearchFieldItem, TSearchFields

void TSearchFieldItem::Assign(const TPersistent* Source) {
    TInternalFieldItem::Assign(Source);
    if (const auto* src = dynamic_cast<const TSearchFieldItem*>(Source)) {
        FInIndex = src->FInIndex;
        FDescending = src->FDescending;
    }
}

TSearchFields::TSearchFields(TPersistent* AOwner)
    : TInternalFields(ItemClassOf<TSearchFieldItem>(), AOwner) {}

TSearchFieldItem* TSearchFields::Add() {
    return static_cast<TSearchFieldItem*>(TInternalFields::Add());
}

TSearchFieldItem* TSearchFields::GetItems(int Position) const {
    return static_cast<TSearchFieldItem*>(Items(Position));
}

void TSearchFields::SetItems(int Position, const TSearchFieldItem* Item) {
    TCollection::SetItems(Position, Item);
}

TSearchFieldItem* TSearchFields::FindField(const std::string& Name) const {
    return static_cast<TSearchFieldItem*>(TInternalFields::FindField(Name));
}

}  // namespace ostra
