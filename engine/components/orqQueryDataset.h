// orqQueryDataset: TOrqQueryDataset, the table that holds a statement's result, and the result
// columns that fill it.
//
// A SELECT's result is an in-memory table of the connected database, made from the result
// columns' field definitions with up to three indexes the query provider defines:
//   "idxgroupby"   the grouped (non-aggregate) columns, unique: finds the group row of a source row
//   "idxdistinct"  every result column: finds a row equal to a new one (SELECT DISTINCT, UNION)
//   "idxorderby"   the ORDER BY keys: the order the result is read in
// The provider gives the dataset the provider manager (the root of the join provider tree,
// orqJoinDataProviderUnit.h) and asks it to fill itself:
//   PopulateResultSet           one row per source row (DISTINCT: rows equal to a kept one
//                               dropped); stops quietly at MaxRecords
//   PopulateAggregateResultSet  one row per group (or one row over everything), aggregates
//                               through TFuncResultList (orqFuncResult.h); more groups than
//                               MaxRecords raise 9645
//   ProcessHavingClause         deletes the group rows whose condition is not True
//   PopulateResultSetAddrList   the record addresses of the qualifying rows of one table
// With CreateLiveResult the plain fill also stores each row's source record address and
// modification counter in the hidden columns "__RecAddr" and "__RecModFlag" after the result
// columns, so that edits of the result can reach the source table.
//
// For INSERT, UPDATE and DELETE the same class is the cursor over the target table (the provider
// opens it on that table) and writes the rows: InsertData, InsertDataFromDataset, DeleteData,
// UpdateData. DELETE and UPDATE first take the addresses of every record they touch and then
// change them, so a change that moves a record in the index being walked never skips or repeats
// a record.
//
// The units: orqQueryDataset.cpp (result columns, creation, the fills, HAVING, addresses),
// orqQueryDatasetWrite.cpp (the writes to a target table).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/orqBaseTable.h"
#include "engine/components/orqJoinDataProviderUnit.h"
#include "host/Variant.h"

namespace ostra {

class TOrqExprDBDataProvider;
class TOrqUpdateRowConstructor;
class TSelectFieldItem;

// The names of the result table's indexes and hidden columns.
inline constexpr char C_IDXGROUPBY[] = "idxgroupby";
inline constexpr char C_IDXDISTINCT[] = "idxdistinct";
inline constexpr char C_IDXORDERBY[] = "idxorderby";
inline constexpr char C_RECADDRFIELD[] = "__RecAddr";
inline constexpr char C_RECMODFLAGFIELD[] = "__RecModFlag";
// The name a result table without a table name is created under.
inline constexpr char C_DEFAULTRESULTTABLENAME[] = "testqry";

// One result column: where its values come from (a provider's field, or its evaluator for a
// computed column) and the select-list column it stands for.
class TResultSetField : public TJoinFieldItem {
public:
    explicit TResultSetField(TCollection* ACollection);

    // The inherited fields; from another TResultSetField also SelectFieldItem and Data.
    void Assign(const TPersistent* Source) override;

    // The select-list column (not owned); null for columns of a write.
    TSelectFieldItem* SelectFieldItem() const { return FSelectFieldItem; }
    void SetSelectFieldItem(TSelectFieldItem* Value) { FSelectFieldItem = Value; }
    // The value to store (INSERT ... VALUES).
    const Variant& Data() const { return FData; }
    void SetData(const Variant& Value) { FData = Value; }
    // True for a computed column (its evaluator is prepared).
    bool IsComputed() { return Evaluator().IsPrepared(); }

private:
    TSelectFieldItem* FSelectFieldItem = nullptr;
    Variant FData;
};

// The result columns in order.
class TResultSetFields : public TJoinFields {
public:
    explicit TResultSetFields(TPersistent* AOwner = nullptr);

    TResultSetField* Add();
    TResultSetField* GetItems(int Position) const;
    void SetItems(int Position, const TResultSetField* Item);
    // The first column whose name is Name, or whose select item's source field name, name or
    // trimmed raw column text is Name (all ignoring case); null when none.
    TResultSetField* FindResultSetField(const std::string& Name) const;
};

// The result table of one statement item, and the cursor of a write (see the file comment).
class TOrqQueryDataset : public TOrqBaseTable {
public:
    explicit TOrqQueryDataset(TComponent* AOwner = nullptr);
    ~TOrqQueryDataset() override;

    using TOrqBaseTable::GetFieldData;

    // ---- Properties
    // The manager whose provider tree supplies the rows (not owned).
    TOrqJoinDataProviderMgr* ProviderMgr() const { return FProviderMgr; }
    void SetProviderMgr(TOrqJoinDataProviderMgr* Value) { FProviderMgr = Value; }
    // The most rows of a fill; 0 = no limit.
    int32_t MaxRecords() const { return FMaxRecords; }
    void SetMaxRecords(int32_t Value) { FMaxRecords = Value; }
    // The rows the last fill or write produced or touched.
    int32_t GetRowsAffected() const { return FRowsAffected; }
    // The result carries the hidden columns "__RecAddr" and "__RecModFlag" after the result
    // columns (their field definitions are the caller's).
    bool CreateLiveResult() const { return FCreateLiveResult; }
    void SetCreateLiveResult(bool Value) { FCreateLiveResult = Value; }

    // ---- The result table
    // Creates the in-memory result table from FieldDefs and IndexDefs, or, when StructureCreated
    // tells that it exists, opens it if needed and empties it. Without a table name it is created
    // as "testqry". EAssertionFailed "Field defs are not prepared in
    // TOrqQueryDataset.CreateResultSet" without field definitions.
    void PrepareEmptyResultSet(bool StructureCreated);

    // ---- Fills (the dataset is (re)opened; afterwards RowsAffected is the table's record count
    // and the dataset stands on its first record, in the order of "idxorderby" when defined)
    // One row per row of the provider tree: column i from Fields[i] (computed columns through
    // their evaluator, plain ones copied raw from their provider). With Distinct a row that
    // "idxdistinct" already holds is dropped. Stops once MaxRecords rows were added. With
    // CreateLiveResult the root provider must be a single-table provider (EAssertionFailed
    // "CreateLiveResult request is invalid").
    void PopulateResultSet(TJoinFields& Fields, bool Distinct);
    // One row per group: with Grouped, the rows of the provider tree are grouped by the
    // non-aggregate columns through "idxgroupby" (the current index without it); without, one
    // row over every source row (also when there is none). Aggregate columns (their select item
    // has an aggregate) are accumulated and stored once the walk is over; an expression around
    // an aggregate is computed on the final value. Grouped with no aggregate column gives the
    // distinct groups. More groups than MaxRecords while source rows remain raise 9645 "Result
    // set limit of %d has been exceeded".
    // CountFromFilter: the caller guarantees that the rows of a single-table root are exactly
    // what the table's filter lets through (no residual condition, nothing else rejects rows);
    // then a lone COUNT(*) column is answered from the filtered record count without a walk.
    // COUNT(column) and COUNT(DISTINCT ...) always walk (they must skip NULLs and duplicates).
    void PopulateAggregateResultSet(TResultSetFields& Fields, bool Grouped, bool CountFromFilter = false);
    // Deletes every row for which Root (over this dataset's columns, comparisons with NULL
    // unknown) is not True; nothing without a root. Ends on the first record; RowsAffected is
    // the record count left.
    void ProcessHavingClause(const TOrqExprNode* Root);
    // List := the record address of every row of the single-table root provider (through its
    // filter). EAssertionFailed "RootProvider type is incorrect" for any other root.
    void PopulateResultSetAddrList(std::vector<uint32_t>& List);
    // Makes the dataset field of every computed column read-only (live results).
    void SetReadOnlyResultFields(TJoinFields& Fields);

    // ---- Writes to the target table (the dataset is the cursor over it; a closed dataset is
    // opened for the write and closed again)
    // Adds one record from the columns' Data (matched to fields by name, unless SourcesBound:
    // each column's SourceFieldNo is already its field of this open dataset); RowsAffected := 1.
    // The dataset is not moved afterwards.
    void InsertData(TResultSetFields& Fields, bool SourcesBound = false);
    // Adds one record per record of Source: Source's i-th field goes to the field named by
    // Fields[i]. With Distinct a record "idxdistinct" already holds is skipped. RowsAffected
    // counts the records added (reset first when ResetCount).
    void InsertDataFromDataset(TResultSetFields& Fields, TDataSet* Source, bool ResetCount, bool Distinct);
    // Deletes the records at the addresses of List (All: every record of the table; List then
    // receives their addresses). RowsAffected counts them.
    void DeleteData(bool All, std::vector<uint32_t>& List);
    // Applies RowConstructor to the records at the addresses of List (All: every record of the
    // table, whose addresses are taken before the first change; List then receives them).
    // Each assignment's TargetColumnIndex becomes the cursor field number of its target column.
    // The row constructor is prepared over this dataset's record buffer. RowsAffected counts the
    // records.
    void UpdateData(bool All, std::vector<uint32_t>& List, TOrqUpdateRowConstructor& RowConstructor);
    // Evaluates the assignments in order over the current record buffer, each stored at once (so
    // a later one sees what an earlier one stored: SET a = b, b = a stores the new a into b), and
    // writes the record.
    void UpdateCurrentRecord(TOrqUpdateRowConstructor& RowConstructor);
    // Stores Value into the cursor field FieldNo of the record buffer: a blob through a stream of
    // the value's text (Null: a null blob), anything else as a Variant.
    void SetResultSetFieldFromVariant(int FieldNo, const Variant& Value);
    // Value := the cursor field FieldNo of the current record.
    void GetFieldData(int FieldNo, Variant& Value);

private:
    // Creates the table from the definitions (the dataset closed; live columns hidden).
    void CreateResultSetTable();
    // Each column's SourceFieldNo := the cursor field number of this dataset's field of its name.
    void InternalSetResultSetFieldSources(TResultSetFields& Fields);
    // The lone COUNT(*) answered from the single-table root's filtered record count.
    void PopulateSimpleCountResultSet();
    // Before a fill: the dataset opened, or, when open (emptied by PrepareEmptyResultSet), on the
    // index it opened on.
    void StartFill();
    // "idxorderby", when defined, becomes the current index; RowsAffected := the record count;
    // the dataset on its first record.
    void FinishFill();
    // The single-table root provider; null for none or a join.
    TOrqNonJoinDataProvider* SingleTableRoot() const;
    // Stores Value into field FieldNo of the record buffer (Empty as NULL, blobs by stream).
    void StoreVariant(int FieldNo, const Variant& Value);
    // Stores the current provider row's value of column Field into field FieldNo.
    void StoreColumn(TJoinFieldItem& Field, int FieldNo, TDataHolder& Holder);
    // True when IndexName holds the record buffer's key (compared up to the hidden key field);
    // Address then receives the record's address.
    bool KeyExists(const std::string& IndexName, uint32_t* Address);
    // Addresses := every record of the table in the current index's order.
    void LoadAddresses(std::vector<uint32_t>& Addresses);
    // The row source over this dataset (bound afresh to the open cursor).
    TOrqExprDBDataProvider& RowProvider();
    // Opens a closed dataset for a write; Close() afterwards closes it again.
    struct TWriteScope;
    // The locks of one fill: the provider tree's tables read-locked and the result table
    // write-locked for the whole walk, and, when asked, records added without positioning.
    class TFillScope;

    TOrqJoinDataProviderMgr* FProviderMgr = nullptr;
    int32_t FMaxRecords = 0;
    int32_t FRowsAffected = 0;
    bool FCreateLiveResult = false;
    std::string FOpenedIndexName;  // the current index when the dataset last opened
    // The row source of UPDATE assignments and HAVING: this dataset's record buffer.
    std::unique_ptr<TOrqExprDBDataProvider> FRowProvider;
};

}  // namespace ostra
