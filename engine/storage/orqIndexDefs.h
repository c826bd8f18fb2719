// orqIndexDefs: the definitions of a table's indexes and of their key fields, the two key-size
// routines, and the derivation of a definition from a requested index.
//
// A table definition keeps one TKeyFields with the key fields of all its indexes (each tagged
// with its IndexName, in index order) and one TInternalIndexDefs. Both collections are stored
// in the table definition's component text, so the published property names, their order and
// their defaults are a stored format. An open index and a B+-tree keep a TKeyFields of their
// own index only, with DataOffset set to the index's KeyDataOffset. The key entry format that
// these definitions describe, its encoders and its comparison live in orqKeyEntry.h.
//
// Deriving an index (DeriveIndexDef) from a name, a ';'-separated field list and options:
//   - each listed field becomes a key field with the record field's type, size and offsets;
//   - an index that is neither unique nor primary ends in a hidden key field: the record's
//     4-byte logical record number at offset 6 (null byte = the record's in-use flag), which
//     makes every key of the index distinct;
//   - KeyDataOffset = key field count div 8 + 1 (bytes of null bits);
//   - MaximumKeySize = 10 + per field CalculateCoreDataSize (+ FieldSize for strings) +
//     KeyDataOffset, at most 500 bytes; at most 32 key fields, the hidden one included.
#pragma once
#include <cstdint>
#include <string>

#include "engine/storage/orqCommon.h"
#include "host/Collection.h"
#include "host/db/FieldType.h"

namespace ostra {

class TInternalFields;

// The largest key entry of an index, in bytes.
inline constexpr int C_MAXKEYSIZE = 500;
// The most key fields of an index, its hidden key field included.
inline constexpr int C_MAXKEYFIELDS = 32;
// The page size of every index's B+-tree.
inline constexpr uint32_t C_DEFAULTINDEXPAGESIZE = 4096;

// One key field of an index.
class TKeyFieldItem : public TCollectionItem {
public:
    explicit TKeyFieldItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    // From another TKeyFieldItem: copies all thirteen properties; a copied String or WideString
    // key field whose SizeMarkerOffset is 0 fails the assertion "Internal status error in assign
    // KeyField". From anything else the base rules.
    void Assign(const TPersistent* Source) override;

    // String comparisons of this field ignore case.
    bool CaseInsensitive() const { return FCaseInsensitive; }
    void SetCaseInsensitive(bool Value) { FCaseInsensitive = Value; }
    // The comparison result of this field is negated.
    bool Descending() const { return FDescending; }
    void SetDescending(bool Value) { FDescending = Value; }
    // Stored value size: the record field's FieldSize for String and WideString, the type's
    // value size otherwise.
    int32_t FieldSize() const { return FFieldSize; }
    void SetFieldSize(int32_t Value) { FFieldSize = Value; }
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType Value) { FDataType = Value; }
    // Copied from the record field; not used by the key code.
    bool IsVariable() const { return FIsVariable; }
    void SetIsVariable(bool Value) { FIsVariable = Value; }
    // The table field's name; empty for the hidden key field.
    const std::string& FieldName() const { return FFieldName; }
    void SetFieldName(const std::string& Value) { FFieldName = Value; }
    // Offset of the value in a record buffer.
    int32_t RecBufOffset() const { return FRecBufOffset; }
    void SetRecBufOffset(int32_t Value) { FRecBufOffset = Value; }
    // Offset of the null byte in a record buffer (1 = not null).
    int32_t NullFlagOffset() const { return FNullFlagOffset; }
    void SetNullFlagOffset(int32_t Value) { FNullFlagOffset = Value; }
    // The record field's number; -1 for the hidden key field.
    int32_t PhysicalFieldNo() const { return FPhysicalFieldNo; }
    void SetPhysicalFieldNo(int32_t Value) { FPhysicalFieldNo = Value; }
    // The index this key field belongs to.
    const std::string& IndexName() const { return FIndexName; }
    void SetIndexName(const std::string& Value) { FIndexName = Value; }
    // True for the hidden key field of a non-unique index.
    bool Hidden() const { return FHidden; }
    void SetHidden(bool Value) { FHidden = Value; }
    // Offset of the 2-byte size marker in a record buffer; 0 or less when the field has none.
    int32_t SizeMarkerOffset() const { return FSizeMarkerOffset; }
    void SetSizeMarkerOffset(int32_t Value) { FSizeMarkerOffset = Value; }
    // Position within its index, from 0.
    int32_t KeyIndex() const { return FKeyIndex; }
    void SetKeyIndex(int32_t Value) { FKeyIndex = Value; }

private:
    bool FCaseInsensitive = false;
    bool FDescending = false;
    int32_t FFieldSize = 0;
    TFieldType FDataType = ftUnknown;
    bool FIsVariable = false;
    std::string FFieldName;
    int32_t FRecBufOffset = 0;
    int32_t FNullFlagOffset = 0;
    int32_t FPhysicalFieldNo = 0;
    std::string FIndexName;
    bool FHidden = false;
    int32_t FSizeMarkerOffset = 0;
    int32_t FKeyIndex = 0;
};

// The key fields of one index (or of all indexes of a table definition).
class TKeyFields : public TCollection {
public:
    explicit TKeyFields(TPersistent* AOwner = nullptr);

    TKeyFieldItem* Add();
    TKeyFieldItem* GetIndex(int Position) const;
    void SetIndex(int Position, const TKeyFieldItem* Item);
    // The first key field named FieldName ignoring case; null when none.
    TKeyFieldItem* FindField(const std::string& FieldName) const;
    // The number of key fields whose IndexName is IndexName ignoring case.
    int FindFieldCountForIndex(const std::string& IndexName) const;
    // From another TKeyFields: clears and adds a copy of every item in order (DataOffset is not
    // copied). From anything else the base rules.
    void Assign(const TPersistent* Source) override;

    // The number of null-flag bytes of a key entry of the index: key field count div 8 + 1.
    int32_t DataOffset() const { return FDataOffset; }
    void SetDataOffset(int32_t Value) { FDataOffset = Value; }

private:
    int32_t FDataOffset = 0;
};

// The definition of one index.
class TInternalIndexDef : public TCollectionItem {
public:
    explicit TInternalIndexDef(TCollection* ACollection) : TCollectionItem(ACollection) {}

    // From another TInternalIndexDef copies every property; from anything else the base rules.
    void Assign(const TPersistent* Source) override;

    // Not offered to the user (an internal index).
    bool Hidden() const { return FHidden; }
    void SetHidden(bool Value) { FHidden = Value; }
    bool Primary() const { return FPrimary; }
    void SetPrimary(bool Value) { FPrimary = Value; }
    // No two records may have equal keys.
    bool Unique() const { return FUnique; }
    void SetUnique(bool Value) { FUnique = Value; }
    // Compared without regard to case.
    const std::string& IndexName() const { return FIndexName; }
    void SetIndexName(const std::string& Value) { FIndexName = Value; }
    // True for every index that is built.
    bool Maintained() const { return FMaintained; }
    void SetMaintained(bool Value) { FMaintained = Value; }
    // The index belongs to an in-memory table.
    bool Memory() const { return FMemory; }
    void SetMemory(bool Value) { FMemory = Value; }
    // Page size of the index's B+-tree (4096).
    uint32_t IndexPageSize() const { return FIndexPageSize; }
    void SetIndexPageSize(uint32_t Value) { FIndexPageSize = Value; }
    // Size in bytes of every key entry of the index.
    int32_t MaximumKeySize() const { return FMaximumKeySize; }
    void SetMaximumKeySize(int32_t Value) { FMaximumKeySize = Value; }
    // Number of null-flag bytes of a key entry.
    int32_t KeyDataOffset() const { return FKeyDataOffset; }
    void SetKeyDataOffset(int32_t Value) { FKeyDataOffset = Value; }
    // The index's slot in the table header (its root and depth pair).
    int32_t IndexSequence() const { return FIndexSequence; }
    void SetIndexSequence(int32_t Value) { FIndexSequence = Value; }
    // Stored and copied; entries always take MaximumKeySize bytes whatever its value.
    TIndexKeyType IndexKeyType() const { return FIndexKeyType; }
    void SetIndexKeyType(TIndexKeyType Value) { FIndexKeyType = Value; }

private:
    bool FHidden = false;
    bool FPrimary = false;
    bool FUnique = false;
    std::string FIndexName;
    bool FMaintained = false;
    bool FMemory = false;
    uint32_t FIndexPageSize = 0;
    int32_t FMaximumKeySize = 0;
    int32_t FKeyDataOffset = 0;
    int32_t FIndexSequence = 0;
    TIndexKeyType FIndexKeyType = ikFixed;
};

// Copies the definition properties an index definition and an open index share (name, flags,
// sizes, sequence and key type) from Source to Dest; key fields, root and depth are left alone.
template <class Dest, class Source>
void CopyIndexDefProperties(Dest& D, const Source& S) {
    D.SetIndexName(S.IndexName());
    D.SetUnique(S.Unique());
    D.SetPrimary(S.Primary());
    D.SetHidden(S.Hidden());
    D.SetMaintained(S.Maintained());
    D.SetMemory(S.Memory());
    D.SetMaximumKeySize(S.MaximumKeySize());
    D.SetKeyDataOffset(S.KeyDataOffset());
    D.SetIndexPageSize(S.IndexPageSize());
    D.SetIndexSequence(S.IndexSequence());
    D.SetIndexKeyType(S.IndexKeyType());
}

// The index definitions of one table, in creation order.
class TInternalIndexDefs : public TCollection {
public:
    explicit TInternalIndexDefs(TPersistent* AOwner = nullptr);

    TInternalIndexDef* Add();
    TInternalIndexDef* GetItems(int Position) const;
    void SetItems(int Position, const TInternalIndexDef* Item);
    // The first definition named IndexName ignoring case; null when none.
    TInternalIndexDef* FindIndexDef(const std::string& IndexName) const;
};

// 10 + the sum over KeyFields of CalculateCoreDataSize(DataType), + FieldSize for each String
// and WideString field; 10 for an empty list. A type CalculateCoreDataSize does not know raises
// its Exception "Error in setting CoreDataSize - field type not found: <type name>".
int CalculateMaximumKeySize(const TKeyFields& KeyFields);
// The larger of 4096 and ((KeySize + 16) div 2048 + 1) * 2048.
int CalculateIndexPageSize(int KeySize);

// A requested index, as the dataset layer hands it over.
struct TIndexRequest {
    std::string IndexName{};
    std::string Fields{};       // ';'-separated field names
    std::string CaseInsFields{};  // ';'-separated names of case-insensitive fields (may be empty)
    std::string DescFields{};   // ';'-separated names of descending fields (may be empty)
    bool Primary = false;
    bool Unique = false;
    bool Descending = false;       // every field descending when DescFields is empty
    bool CaseInsensitive = false;  // every field case-insensitive when CaseInsFields is empty
};

// Derives the definition of Request over the record fields Fields: appends a TInternalIndexDef
// (IndexSequence = its position, Maintained, Memory and Hidden as given) to IndexDefs and the
// index's key fields (the hidden one of a non-unique index included) to KeyFields; returns the
// new definition. A field is case-insensitive / descending when the option covers all fields or
// when its name is one of the names in CaseInsFields / DescFields (ignoring case and blanks
// around the names). Errors, raised through OrqDatabaseError with Caller and Sender; the first
// one stops the derivation and leaves the two lists partly filled:
//   10116 "No such field" (custom text: the name);
//   10117 "Field type cannot be indexed" (custom text: the type's name) for Bytes, VarBytes,
//         Blob..Cursor and ADT..DataSet;
//   8581 with "%s has not been set or is out of range" of "KeyOffset" for a String key field
//        without a size marker;
//   9603 "Too many fields in index" with "Maximum allowed is %d" of 32 for more than 32 key
//        fields (hidden one included);
//   9602 "Key size too large" with KeySizeFmt (SorqValueInvalidFmt or SorqIndexFmt) of the
//        index name for a MaximumKeySize above 500.
TInternalIndexDef* DeriveIndexDef(const TIndexRequest& Request, bool Hidden, bool Memory,
                                  const TInternalFields& Fields, TKeyFields& KeyFields,
                                  TInternalIndexDefs& IndexDefs, const std::string& KeySizeFmt,
                                  const std::string& Caller, TObject* Sender);

}  // namespace ostra
