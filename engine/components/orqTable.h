// orqTable: TOrqTable, the table component: a dataset face (orqBaseTable.h) over one stored or
// in-memory table, with the current index chosen by name or by field names, key searches and
// ranges in the framework's set-key style, master-detail linking through a master data source,
// and the structure operations (indexes added and deleted, restructure, rebuild, re-index) and
// the import of another dataset's records.
//
// The units of the component:
//   orqTable.cpp           construction, open, index selection, keys, ranges, master-detail
//   orqTableStructure.cpp  AddIndex, DeleteIndex, RestructureTable, ReIndex, RebuildTable,
//                          ImportData
//
// IndexName and IndexFieldNames may be set while closed; the index is chosen at open, by the
// pending field names when given, else by name. While open, a master change sets the detail
// range on the leading fields of the current index and a master that is disabled cancels it.
// The restructure definition lists live from first use until the next open or destruction.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/orqBaseTable.h"
#include "host/db/DataLink.h"

namespace ostra {

class TDataSource;
class TRestructureFieldDefs;
class TRestructureIndexDefs;

// A restructure request of the table component.
struct TRestructureRecord {
    bool ResetAutoInc = false;  // restart the auto-increment counter at AutoIncValue
    int32_t AutoIncValue = 0;
    bool ResetBlobSize = false;  // change the blob block size to BlobBlockSize (64 to 65536)
    int32_t BlobBlockSize = 0;
    bool ChangeSortOrder = false;  // change the table's collation to NewSortOrder
    TSortOrder NewSortOrder = soANSI;
};

// The table component (see the file comment).
class TOrqTable : public TOrqBaseTable {
public:
    // The face, then the master link whose change and disable events drive the detail range.
    explicit TOrqTable(TComponent* AOwner);
    // Closes the table (failures dropped); the restructure lists and the master link go.
    ~TOrqTable() override;

    // ---- Properties
    bool StoreDefs() const { return FStoreDefs; }
    void SetStoreDefs(bool Value) { FStoreDefs = Value; }
    // The current index's name; empty for the built-in "_LogicalRecNo" index.
    std::string IndexName() const;
    // Nothing when Value is the current name (case-sensitive). While open: a non-empty name must
    // be an index of IndexDefs (9997); the cursor switches to it, the range goes, First, and the
    // master range is set again. While closed it is only stored. Either way the pending
    // IndexFieldNames text is cleared.
    void SetIndexName(const std::string& Value);
    // While open, the current index's ';'-separated fields; while closed, the pending text.
    std::string IndexFieldNames() const;
    // While open, a non-empty value selects the index the cursor finds for those fields (9997
    // when none); an empty one clears the index name (unless it is "_LogicalRecNo"). While
    // closed, clears the index name. The value is kept as the pending text.
    void SetIndexFieldNames(const std::string& Value);
    // The Index-th field of the current index's field list; 9997 without IndexDefs or when the
    // current index has no definition.
    TField* GetIndexField(int Index);
    int GetIndexCount();
    // 0 while closed, else the key field count of the current index.
    int IndexFieldCount() const { return Active() ? GetIndexFieldCount() : 0; }
    TDataSource* MasterSource() const { return FMasterLink.DataSource(); }
    // "Circular datalinks are not allowed" when this table is already linked to Value.
    void SetMasterSource(TDataSource* Value);
    const std::string& MasterFields() const { return FMasterLink.FieldNames(); }
    void SetMasterFields(const std::string& Value) { FMasterLink.SetFieldNames(Value); }
    TMasterDataLink& MasterLink() { return FMasterLink; }

    // ---- Key searches (the key buffer of the set-key state)
    // Enters the set-key state with a new key (count 0) / with the key as it was.
    void SetKey();
    void EditKey();
    void CancelKey();
    int KeyFieldCount() const { return FKeyFieldCount; }
    // Outside the set-key state "Dataset not in edit or insert mode"; above IndexFieldCount 9985.
    void SetKeyFieldCount(int Value);
    // Searches the current index for the key (the leading KeyFieldCount fields, all when 0):
    // exactly, or the nearest at or after it; true and on the record when found.
    bool ApplyKey(bool Exact);
    bool GotoKey() { return ApplyKey(true); }
    void GotoNearest() { ApplyKey(false); }
    // The first record whose leading key fields equal Values (extra values ignored).
    bool FindKey(const std::vector<Variant>& Values);
    // The first record at or after Values on the leading key fields.
    void FindNearest(const std::vector<Variant>& Values);

    // ---- Ranges on the current index; unset end fields admit every value
    void SetRangeStart();
    void SetRangeEnd();
    void EditRangeStart();
    void EditRangeEnd();
    void ApplyRange();
    void CancelRange();
    void SetRange(const std::vector<Variant>& Start, const std::vector<Variant>& End) { InternalSetRange(Start, End); }

    // ---- Master-detail
    void MasterChanged();
    void MasterDisabled();
    // Sets the detail range when open and the master link is active with fields.
    void CheckMasterRange();
    // The range from MasterFields' values on the leading fields of the current index.
    void SetDetailLinkRange(const std::vector<TField*>& MasterFields);
    void GetDetailLinkFields(std::vector<TField*>& MasterFields, std::vector<TField*>& DetailFields) override;

    // ---- Structure operations
    // Adds / deletes one index through RestructureTable; the table is left open only when it
    // was open (at its record when that still exists), and controls are enabled again.
    void AddIndex(const std::string& Name, const std::string& Fields, TIndexOptions Options);
    void DeleteIndex(const std::string& Name);
    // Applies Record with the restructure definition lists to the closed table (see the .cpp
    // for the checks); the number of records that failed to copy.
    int RestructureTable(const TRestructureRecord& Record);
    // The requested structure, copied from FieldDefs / IndexDefs on first use.
    TRestructureFieldDefs& GetRestructureFieldDefs();
    TRestructureIndexDefs& GetRestructureIndexDefs();
    // Rebuilds the indexes of the open table of an exclusive database; True.
    bool ReIndex(bool Flag);
    // Rebuilds the closed disk table; True.
    bool RebuildTable();
    // Inserts every record of Source, field by field through the restructure field definitions
    // (GetRestructureFieldDefs first, else 8576); failures are logged and counted, and the
    // progress event may cancel. Returns the number of records inserted.
    int ImportData(TDataSet& Source);

    void Loaded() override;

protected:
    void DefChanged(TObject* Sender) override { FStoreDefs = true; }
    void DoOnNewRecord() override;
    TDataSource* GetDataSource() const override { return FMasterLink.DataSource(); }
    void InternalOpen() override;
    void InternalCheckMasterRange() override;

private:
    // Enters the set-key state for the search key (Clear: a new key) or a range end.
    void EnterKeyState(TKeyMode Mode, TRangeMode End, bool Clear);
    // Fills the key buffer from Values on the current index (Blank: unset key fields lowest);
    // the number of values used.
    int FillKeyBuffer(const std::vector<Variant>& Values, bool Blank);
    // A search of the key buffer by SearchType over Count leading fields; on success the
    // framework's buffers are read around the record found.
    bool SearchKeyBuffer(TIndexSearchType SearchType, int Count);
    // Reads the definitions of a closed table before the first restructure list is made.
    void ReadDefinitionsForRestructure();
    // The fields of the current index's definition.
    std::vector<TField*> CurrentIndexFields();
    // The frame AddIndex and DeleteIndex share; Change edits the restructure index list.
    template <class TChange>
    void ChangeIndexes(const std::string& DroppedIndex, const TChange& Change);

    TMasterDataLink FMasterLink;
    std::unique_ptr<TRestructureFieldDefs> FRestructureFieldDefs;
    std::unique_ptr<TRestructureIndexDefs> FRestructureIndexDefs;
    std::string FPendingIndexFieldNames;
    int FKeyFieldCount = 0;
    bool FStoreDefs = false;
};

}  // namespace ostra
