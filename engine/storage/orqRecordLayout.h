// orqRecordLayout: the fixed record format of a table and the field descriptors that compute
// and hold it.
//
// Every row of a table is one fixed-size record, stored as one block of the table's record
// storage. TInternalFields (one TInternalFieldItem per field) computes where each field lives;
// the record manager, the cursor, the key encoders (orqKeyEntry.h) and the SQL layer read the
// offsets from it. The descriptors are published, so a table definition stores them in its
// component text (their property order and defaults are a stored format).
//
// Record layout (offsets in bytes from the start of the record; integers little-endian):
//
//   | offset  | size | content                                                                |
//   |---------|------|------------------------------------------------------------------------|
//   | 0       | 1    | in-use flag: 1 for a live record written by the cursor                 |
//   | 1       | 1    | not used; zero in a new record                                         |
//   | 2       | 4    | owner code: table id * 16 + 9 (the page-map code of record pages)      |
//   | 6       | 4    | logical record number (unsigned), never reused                         |
//   | 10      | 4    | modification counter (unsigned), counted up on every rewrite           |
//   | 14      | n    | null flags, one byte per field, field i at 14 + i                      |
//   | 14 + n  | ...  | the field values in collection order (below)                           |
//
// Null-flag bytes: 0 = null (value bytes all zero), 1 = has a value. Search and range buffers
// of the same layout also use 2 (lowest possible value) and 4 (highest possible value).
//
// Stored value bytes by field type:
//   String                  2-byte length marker (unsigned) + FieldSize characters, zero-filled
//                           after the value; FieldSize = declared length + 1
//   Smallint / Word         2 (signed / unsigned)        Integer, AutoInc   4 (signed)
//   Boolean                 1 (zero = false)              Bytes              FieldSize raw bytes
//   Float, Currency, Date, Time, DateTime   8: IEEE double (dates as days since 1899-12-30)
//   Blob, Memo, Graphic, FmtMemo            8: 4-byte address of the first chain block (0 =
//                                           none) + 4-byte length; null flag 1 iff length != 0
// Every other field type is refused by TInternalFieldItem::SetDataType.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/orqCommon.h"
#include "host/Collection.h"
#include "host/db/FieldType.h"

namespace ostra {

// Record prefix: 1-byte in-use flag + 1 unused byte + 4-byte owner code + 4-byte logical
// record number + 4-byte modification counter.
inline constexpr int C_RECORDPREFIXSIZE = 14;
inline constexpr int C_RECINUSEOFFSET = 0;
inline constexpr int C_RECOWNEROFFSET = 2;
inline constexpr int C_RECLOGICALNOOFFSET = 6;
inline constexpr int C_RECMODCOUNTOFFSET = 10;
// The usage code of record blocks in an owner code (table id * 16 + usage).
inline constexpr int C_RECORDUSAGE = 9;

// Null-flag byte values: stored records use the first two, search and range buffers all four.
inline constexpr uint8_t C_FIELDISNULL = 0;
inline constexpr uint8_t C_FIELDNOTNULL = 1;
inline constexpr uint8_t C_FIELDLOWEST = 2;
inline constexpr uint8_t C_FIELDHIGHEST = 4;

// The size of the field-index map: room for every field index of a table (1..255 fields).
inline constexpr int C_FIELDINDEXMAPSIZE = 256;

// True for the types a record can hold (String, Smallint, Integer, Word, Boolean, Float,
// Currency, Date, Time, DateTime, Bytes, AutoInc, Blob, Memo, Graphic, FmtMemo).
bool IsRecordFieldType(TFieldType Type);
// True for Blob, Memo, Graphic and FmtMemo.
bool IsBlobFieldType(TFieldType Type);
// The stored value size a type fixes (table above); 0 for String and Bytes, whose size is set
// separately, and for types a record cannot hold.
int DefaultFieldSize(TFieldType Type);

// One field of a record layout.
class TInternalFieldItem : public TCollectionItem {
public:
    explicit TInternalFieldItem(TCollection* ACollection);

    // Checks the type, stores it and sets FieldSize to the type's default stored size (0 for
    // String and Bytes). A type a record cannot hold raises 10000 "Invalid field type" with the
    // type's name as custom text; the item then keeps its previous type and size.
    void SetDataType(TFieldType Value);
    // The size the dataset reports: FieldSize - 1 for a String, FieldSize otherwise.
    int GetWriteableFieldSize() const;
    // From another TInternalFieldItem: copies every field (the type through SetDataType, then
    // the size); from anything else the base rules.
    void Assign(const TPersistent* Source) override;

    int32_t NumDecimalPlaces() const { return FNumDecimalPlaces; }
    void SetNumDecimalPlaces(int32_t Value) { FNumDecimalPlaces = Value; }
    // Offset of the field's null-flag byte.
    int32_t NullFlagOffset() const { return FNullFlagOffset; }
    void SetNullFlagOffset(int32_t Value) { FNullFlagOffset = Value; }
    // Offset of the value (after the size marker for a String).
    int32_t DataOffset() const { return FDataOffset; }
    void SetDataOffset(int32_t Value) { FDataOffset = Value; }
    // Stored value bytes without the size marker.
    int32_t FieldSize() const { return FFieldSize; }
    void SetFieldSize(int32_t Value) { FFieldSize = Value; }
    TFieldType DataType() const { return FDataType; }
    const std::string& FieldName() const { return FFieldName; }
    void SetFieldName(const std::string& Value) { FFieldName = Value; }
    // The field number as the dataset reports it.
    int32_t FieldNo() const { return FFieldNo; }
    void SetFieldNo(int32_t Value) { FFieldNo = Value; }
    // True for a String, whose value length is held in its size marker.
    bool IsVariable() const { return FIsVariable; }
    void SetIsVariable(bool Value) { FIsVariable = Value; }
    // Offset of the 2-byte size marker; 0 when the field has none.
    int32_t SizeMarkerOffset() const { return FSizeMarkerOffset; }
    void SetSizeMarkerOffset(int32_t Value) { FSizeMarkerOffset = Value; }
    // The field of an existing table whose value fills this one (restructure, query columns).
    const std::string& SourceField() const { return FSourceField; }
    void SetSourceField(const std::string& Value) { FSourceField = Value; }
    // The field's logical index: the key of TInternalFields::GetField.
    int32_t FieldIndex() const { return FFieldIndex; }
    void SetFieldIndex(int32_t Value) { FFieldIndex = Value; }
    bool Required() const { return FRequired; }
    void SetRequired(bool Value) { FRequired = Value; }
    // A random number in 0..2147483646 given when the item is added; kept through restructures.
    int32_t FieldGeneratorID() const { return FFieldGeneratorID; }
    void SetFieldGeneratorID(int32_t Value) { FFieldGeneratorID = Value; }
    // The logged-on user's privilege bits for this field (set by the cursor; not stored).
    int32_t PrivilegeFlags() const { return FPrivilegeFlags; }
    void SetPrivilegeFlags(int32_t Value) { FPrivilegeFlags = Value; }
    bool Hidden() const { return FHidden; }
    void SetHidden(bool Value) { FHidden = Value; }
    TDataCompressionMode CompressionMode() const { return FCompressionMode; }
    void SetCompressionMode(TDataCompressionMode Value) { FCompressionMode = Value; }

private:
    int32_t FNumDecimalPlaces = 0;
    int32_t FNullFlagOffset = 0;
    int32_t FDataOffset = 0;
    int32_t FFieldSize = 0;
    TFieldType FDataType = ftUnknown;
    std::string FFieldName;
    int32_t FFieldNo = 0;
    bool FIsVariable = false;
    int32_t FSizeMarkerOffset = 0;
    std::string FSourceField;
    int32_t FFieldIndex = 0;
    bool FRequired = false;
    int32_t FFieldGeneratorID = 0;
    int32_t FPrivilegeFlags = 0;
    bool FHidden = false;
    TDataCompressionMode FCompressionMode = dcNone;
};

// The fields of one table and the record layout they make.
//
// Invariant after Open: the field-index map holds, at every FieldIndex of an item, that item's
// collection position; the FieldIndex values are distinct and below Count(). Unused map entries
// hold -1.
class TInternalFields : public TCollection {
public:
    explicit TInternalFields(TPersistent* AOwner = nullptr);

    // A new descriptor at the end with a random FieldGeneratorID (0..2147483646).
    TInternalFieldItem* Add();
    // The descriptor at collection position `Position`; EListError outside 0..Count-1.
    TInternalFieldItem* GetIndex(int Position) const;
    // Assigns `Item` to the descriptor at `Position`.
    void SetIndex(int Position, const TInternalFieldItem* Item);
    // The descriptor whose FieldIndex is `FieldIndex`, through the map. A FieldIndex outside
    // 0..Count-1 fails the assertion "Invalid field index in GetField".
    TInternalFieldItem* GetField(int FieldIndex) const;
    // The map entry for `FieldIndex` (a collection position, -1 when unused); -1 outside the map.
    int GetFieldIndexValue(int FieldIndex) const;
    // The first descriptor named `Name` ignoring case (locale-independent Ansi compare); null when none.
    TInternalFieldItem* FindField(const std::string& Name) const;
    // The first descriptor whose SourceField is `Name` ignoring case; null when none.
    TInternalFieldItem* FindSourceField(const std::string& Name) const;

    // Computes the layout: null flags at 14 + position, values packed from 14 + Count() in
    // collection order, a String preceded by its 2-byte size marker; fixed-size types get their
    // default FieldSize; RecordSize := the offset after the last value.
    void SetDefaultOffsets();
    // Prepares the list for use: UsesBlobs, AutoIncFieldNo (the last AutoInc descriptor's
    // FieldIndex, -1 when none) and the field-index map. Duplicate field indexes fail the
    // assertion "Field indexes degenerate", one not below Count() "Invalid field index".
    void Open();
    // Empties the list.
    void Close();

    // From another TInternalFields: clears, adds and assigns one descriptor per source descriptor
    // (keeping the source's generator ids), copies the map; RecordSize 0, UsesBlobs false,
    // AutoIncFieldNo -1. From anything else the base rules.
    void Assign(const TPersistent* Source) override;

    int32_t RecordSize() const { return FRecordSize; }
    void SetRecordSize(int32_t Value) { FRecordSize = Value; }
    bool UsesBlobs() const { return FUsesBlobs; }
    void SetUsesBlobs(bool Value) { FUsesBlobs = Value; }
    int32_t AutoIncFieldNo() const { return FAutoIncFieldNo; }
    void SetAutoIncFieldNo(int32_t Value) { FAutoIncFieldNo = Value; }

protected:
    TInternalFields(TCollectionItemClass AItemClass, TPersistent* AOwner);

private:
    int32_t FRecordSize = 0;
    bool FUsesBlobs = false;
    int32_t FAutoIncFieldNo = -1;
    // FieldIndex -> collection position; C_FIELDINDEXMAPSIZE entries, more when a list is longer.
    std::vector<int> FFieldIndexMap;
};

// A field of a locate or sequential search: the record field plus its part in the index used.
class TSearchFieldItem : public TInternalFieldItem {
public:
    explicit TSearchFieldItem(TCollection* ACollection) : TInternalFieldItem(ACollection) {}

    // As TInternalFieldItem::Assign; from a TSearchFieldItem also InIndex and Descending.
    void Assign(const TPersistent* Source) override;

    // The field is a key field of the index used for the search.
    bool InIndex() const { return FInIndex; }
    void SetInIndex(bool Value) { FInIndex = Value; }
    // Its comparison result is negated.
    bool Descending() const { return FDescending; }
    void SetDescending(bool Value) { FDescending = Value; }

private:
    bool FInIndex = false;
    bool FDescending = false;
};

// The fields of a search; a TInternalFields of TSearchFieldItem entries.
class TSearchFields : public TInternalFields {
public:
    explicit TSearchFields(TPersistent* AOwner = nullptr);

    // A new search field at the end, with a random FieldGeneratorID.
    TSearchFieldItem* Add();
    TSearchFieldItem* GetItems(int Position) const;
    void SetItems(int Position, const TSearchFieldItem* Item);
    TSearchFieldItem* FindField(const std::string& Name) const;
};

}  // namespace ostra
