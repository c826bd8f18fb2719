// orqRestructureDefs: a requested change of a table's structure and its classification.
//
// A restructure is requested as two complete lists: TRestructureFieldDefs, the new field list,
// and TRestructureIndexDefs, the new index list. An entry may point back to the field
// (SourceFieldName) or index (SourceIndexDef) of the existing table whose data it continues.
// Validation checks the request against the key limits and the new field list, then classifies
// every entry, and each list as a whole, by how much it changes the table (TDefChangeType, from
// no change to possible data loss). The table component applies the request by these classes;
// ALTER TABLE and the editor's table designer build the requests. Validation writes a readable
// change log into a string list the caller supplies.
//
// The existing table is described by the dataset framework's field and index definitions
// (TFieldDefs, TIndexDefs); the lists refer to them and never own them.
//
// Field lists inside index entries are names separated by ";" ("LastName;FirstName").
#pragma once
#include <cstdint>
#include <string>

#include "host/Collection.h"
#include "host/db/DBTypes.h"
#include "host/db/FieldType.h"

namespace ostra {

class TStrings;
class TFieldDef;
class TFieldDefs;
class TIndexDef;
class TIndexDefs;

// How much an entry or a list changes the table, from the least to the most change.
enum TDefChangeType : uint8_t { dcNoChange, dcDefOnlyChange, dcAdded, dcDeleted, dcDataChange, dcDataLoss };
inline constexpr const char* CChangeTypeNames[] = {
    "Unchanged Item", "Definition Only Changed",   "New Item",
    "Deleted Item",   "Data Requirements Changed", "Data Loss Possible"};

// Whether converting values of the existing field type OldType into NewType may lose data.
bool DataLossPossible(TFieldType NewType, TFieldType OldType);

// ---------------------------------------------------------------------------------------------
// Field requests

// One field of the requested structure.
class TRestructureFieldDef : public TCollectionItem {
public:
    explicit TRestructureFieldDef(TCollection* ACollection) : TCollectionItem(ACollection) {}

    TDefChangeType ChangeStatus() const { return FChangeStatus; }
    void SetChangeStatus(TDefChangeType Value) { FChangeStatus = Value; }
    bool Required() const { return FRequired; }
    void SetRequired(bool Value) { FRequired = Value; }
    int32_t Size() const { return FSize; }
    void SetSize(int32_t Value) { FSize = Value; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value) { FName = Value; }
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType Value) { FDataType = Value; }
    int32_t Precision() const { return FPrecision; }
    void SetPrecision(int32_t Value) { FPrecision = Value; }
    // The existing field whose data this field takes over; empty for a new field.
    const std::string& SourceFieldName() const { return FSourceFieldName; }
    void SetSourceFieldName(const std::string& Value) { FSourceFieldName = Value; }

    // From a host field definition: name, type, size, precision, required, and SourceFieldName
    // := its name (the status stays). From another TRestructureFieldDef: every value.
    // Otherwise the host rules (EConvertError).
    void Assign(const TPersistent* Source) override;

    // Writes name, type, size, precision and required flag into a host field definition.
    void CopyTo(TFieldDef& Dest) const;

protected:
    // To a host field definition: CopyTo.
    void AssignTo(TPersistent* Dest) const override;

private:
    TDefChangeType FChangeStatus = dcNoChange;
    bool FRequired = false;
    int32_t FSize = 0;
    std::string FName;
    TFieldType FDataType = ftUnknown;
    int32_t FPrecision = 0;
    std::string FSourceFieldName;
};

// The complete requested field list of a table.
class TRestructureFieldDefs : public TCollection {
public:
    TRestructureFieldDefs() : TCollection(ItemClassOf<TRestructureFieldDef>()) {}

    // A new empty entry at the end.
    TRestructureFieldDef* AddFieldDef() { return static_cast<TRestructureFieldDef*>(Add()); }
    // A new entry at the end with this name, type and size (not required, no source field).
    TRestructureFieldDef* AddAndSetFieldDef(const std::string& Name, TFieldType DataType, int32_t Size);
    // A new empty entry at Position (0..Count); EListError otherwise.
    TRestructureFieldDef* Insert(int Position) {
        return static_cast<TRestructureFieldDef*>(TCollection::Insert(Position));
    }
    // Frees the entry at Position; EListError for a bad position.
    void DeleteItem(int Position) { Delete(Position); }
    TRestructureFieldDef* GetItems(int Index) const {
        return static_cast<TRestructureFieldDef*>(Items(Index));
    }
    void SetItems(int Index, const TRestructureFieldDef* Value) { TCollection::SetItems(Index, Value); }
    // The entry with this Name, ignoring case; null when none.
    TRestructureFieldDef* Find(const std::string& Name) const;
    // The existing table's field definition of this name (ignoring case); null when there is
    // none or no existing definitions are linked.
    TFieldDef* FindSourceDef(const std::string& Name) const;
    // True when some existing field's name is the Name of no entry (ignoring case); false when
    // no existing definitions are linked.
    bool CheckIfFieldsDeleted() const;
    // Exchanges the contents of entries I and J; a position outside the list raises Exception
    // "Invalid Field Def Index in SwapDefs".
    void SwapDefs(int I, int J);

    TDefChangeType ChangeStatus() const { return FChangeStatus; }
    void SetChangeStatus(TDefChangeType Value) { FChangeStatus = Value; }
    // Where validation writes its log lines (not owned; null drops them).
    TStrings* ChangeLog() const { return FChangeLog; }
    void SetChangeLog(TStrings* Value) { FChangeLog = Value; }
    // A request to restart the table's auto-increment counter at AutoIncResetValue.
    bool ResetAutoIncValue() const { return FResetAutoIncValue; }
    void SetResetAutoIncValue(bool Value) { FResetAutoIncValue = Value; }
    int32_t AutoIncResetValue() const { return FAutoIncResetValue; }
    void SetAutoIncResetValue(int32_t Value) { FAutoIncResetValue = Value; }
    // The existing table's field definitions (not owned; null for a new table).
    TFieldDefs* FieldDefs() const { return FFieldDefs; }
    void SetFieldDefs(TFieldDefs* Value) { FFieldDefs = Value; }

    // From host field definitions: one entry per definition, entry by entry. From another
    // TRestructureFieldDefs: its entries, status and auto-increment request (this list keeps
    // its own change log and linked definitions). Otherwise the host rules.
    void Assign(const TPersistent* Source) override;

    // Classifies every entry and the list against the existing fields (null: a new table).
    // Links ExistingDefs when no definitions are linked yet. Logs one line per entry, one per
    // dropped existing field and the list's status. An entry whose SourceFieldName names no
    // existing field raises EAssertionFailed "Source Def not found".
    void ValidateAgainstOriginalDefs(TFieldDefs* ExistingDefs);

protected:
    // To host field definitions: clears them and adds one definition per entry.
    void AssignTo(TPersistent* Dest) const override;

private:
    void Log(const std::string& Line) const;

    TDefChangeType FChangeStatus = dcNoChange;
    TStrings* FChangeLog = nullptr;
    bool FResetAutoIncValue = false;
    int32_t FAutoIncResetValue = 0;
    TFieldDefs* FFieldDefs = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Index requests

// One index of the requested structure.
class TRestructureIndexDef : public TCollectionItem {
public:
    explicit TRestructureIndexDef(TCollection* ACollection) : TCollectionItem(ACollection) {}

    // The existing index this entry continues (not owned); null for a new index.
    TIndexDef* SourceIndexDef() const { return FSourceIndexDef; }
    void SetSourceIndexDef(TIndexDef* Value) { FSourceIndexDef = Value; }
    TDefChangeType ChangeStatus() const { return FChangeStatus; }
    void SetChangeStatus(TDefChangeType Value) { FChangeStatus = Value; }
    const std::string& CaseInsFields() const { return FCaseInsFields; }
    void SetCaseInsFields(const std::string& Value) { FCaseInsFields = Value; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value) { FName = Value; }
    const std::string& Fields() const { return FFields; }
    void SetFields(const std::string& Value) { FFields = Value; }
    const std::string& DescFields() const { return FDescFields; }
    void SetDescFields(const std::string& Value) { FDescFields = Value; }
    TIndexOptions Options() const { return FOptions; }
    void SetOptions(TIndexOptions Value) { FOptions = Value; }

    // Removes the field Name (whole names, ignoring case) from Fields and, when it was there,
    // from CaseInsFields and DescFields. Nothing for an empty name.
    void DeleteField(const std::string& Name);

    // From a host index definition: options, the three field lists, name, and SourceIndexDef
    // := that definition (the status stays). From another TRestructureIndexDef: every value.
    // Otherwise the host rules.
    void Assign(const TPersistent* Source) override;

    // Writes name, options and the three field lists into a host index definition.
    void CopyTo(TIndexDef& Dest) const;

protected:
    // To a host index definition: CopyTo.
    void AssignTo(TPersistent* Dest) const override;

private:
    TIndexDef* FSourceIndexDef = nullptr;
    TDefChangeType FChangeStatus = dcNoChange;
    std::string FCaseInsFields;
    std::string FName;
    std::string FFields;
    std::string FDescFields;
    TIndexOptions FOptions;
};

// The complete requested index list of a table.
class TRestructureIndexDefs : public TCollection {
public:
    // Key limits at creation: 500 bytes and 32 fields.
    static constexpr int32_t CDefaultMaximumKeySize = 500;
    static constexpr int32_t CDefaultMaximumKeyFieldCount = 32;

    TRestructureIndexDefs() : TCollection(ItemClassOf<TRestructureIndexDef>()) {}

    TRestructureIndexDef* AddIndexDef() { return static_cast<TRestructureIndexDef*>(Add()); }
    // A new entry with this name, fields and options; the fields also become the
    // case-insensitive list with ixCaseInsensitive and the descending list with ixDescending.
    TRestructureIndexDef* AddAndSetIndexDef(const std::string& Name, const std::string& Fields,
                                            TIndexOptions Options);
    void DeleteItem(int Position) { Delete(Position); }
    TRestructureIndexDef* GetItems(int Index) const {
        return static_cast<TRestructureIndexDef*>(Items(Index));
    }
    void SetItems(int Index, const TRestructureIndexDef* Value) { TCollection::SetItems(Index, Value); }
    // The entry with this name, ignoring case; null when none.
    TRestructureIndexDef* Find(const std::string& Name) const;
    // The entry whose SourceIndexDef is IndexDef; null when none.
    TRestructureIndexDef* FindSourceDef(const TIndexDef* IndexDef) const;
    // Removes the field from every entry (last to first) and deletes the entries left without
    // key fields.
    void DeleteField(const std::string& Name);
    // Renames the field OldName (whole names, ignoring case) to NewName in the three field
    // lists of every entry.
    void ReplaceFieldName(const std::string& OldName, const std::string& NewName);
    // True when more than one entry carries ixPrimary.
    bool CheckForDuplicatePrimaryIndexes() const;

    int32_t MaximumKeySize() const { return FMaximumKeySize; }
    void SetMaximumKeySize(int32_t Value) { FMaximumKeySize = Value; }
    int32_t MaximumKeyFieldCount() const { return FMaximumKeyFieldCount; }
    void SetMaximumKeyFieldCount(int32_t Value) { FMaximumKeyFieldCount = Value; }
    TDefChangeType ChangeStatus() const { return FChangeStatus; }
    void SetChangeStatus(TDefChangeType Value) { FChangeStatus = Value; }
    TStrings* ChangeLog() const { return FChangeLog; }
    void SetChangeLog(TStrings* Value) { FChangeLog = Value; }

    // From host index definitions: one entry per definition. From another
    // TRestructureIndexDefs: its entries, status and key limits (the change log stays).
    // Otherwise the host rules.
    void Assign(const TPersistent* Source) override;

    // Checks every entry against the limits and the requested fields; the first breach raises
    // 9996 "Invalid modify request" (caller "TRestructureIndexDefs.ValidateNewIndexDefs") with
    // a text naming it; a key field of a type without a key form (a blob) raises the Exception
    // of CalculateCoreDataSize. Raises the list's status to that of its entries; logs
    // "IndexDefs: Validation OK".
    void ValidateNewIndexDefs(const TRestructureFieldDefs* FieldDefs);
    // ValidateNewIndexDefs, then classifies every entry and the list against the existing
    // indexes (null: a new table), logging why each entry changed. FieldDefs must have been
    // classified already.
    void ValidateAgainstOriginalDefs(TIndexDefs* ExistingDefs, const TRestructureFieldDefs* FieldDefs);

protected:
    // To host index definitions: clears them and adds one definition per entry.
    void AssignTo(TPersistent* Dest) const override;

private:
    void Log(const std::string& Line) const;
    // The status of one entry against its existing index (logs why).
    TDefChangeType ClassifyIndexDef(const TRestructureIndexDef* Def,
                                    const TRestructureFieldDefs* FieldDefs) const;

    TDefChangeType FChangeStatus = dcNoChange;
    TStrings* FChangeLog = nullptr;
    int32_t FMaximumKeySize = CDefaultMaximumKeySize;
    int32_t FMaximumKeyFieldCount = CDefaultMaximumKeyFieldCount;
};

}  // namespace ostra
