// orqFilterMgr: the filter manager every engine cursor owns (IOrqFilterMgr, orqFilterMgrIntf.h)
// and the pieces that bind the filter evaluator (engine/sql/orqFilterEvaluator.h) to one table.
//
// - TOrqExprDBDataProvider is the evaluator's row source over a cursor: it lists the table's
//   records in cursor order (current index, range), reads one record at a time into its own
//   filter buffer (the cursor's record buffer is left alone) and hands out field values.
// - TOrqFilterEvaluator is an evaluator bound to one table: its table list is the table's
//   fields, its index list every open index of the table.
// - TFilterMgr applies the dataset's filter text and options (or an expression from the query
//   engine) and answers the cursor's questions about the result: membership, count, record
//   numbers, moves by a distance, the first, last and nearest passing records. A per-record
//   filter event of the cursor is honoured on top of the list. Positions are found through
//   address maps built once per evaluation, so a walk through k passing records costs O(k);
//   a small result answered by indexes is put in cursor order by record numbers (a step of the
//   tree cursor from the previous match, else a key search), so opening it costs O(k log n)
//   and not a walk of the whole table.
// - TCursorTableFields gives the SQL layer a table's fields (filters and join conditions are
//   parsed against it).
// - TPreparedFilters is a cache of filter results by filter text; nothing fills it yet.
#pragma once
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/components/orqFilterMgrIntf.h"
#include "engine/sql/orqFilterEvaluator.h"
#include "engine/sql/orqTableFields.h"
#include "engine/storage/orqCompoundList.h"

namespace ostra {

class TIndexItem;
class TOrqDataSet;

// The SQL layer's view of a table's fields (names, types, stored sizes), taken from its record
// layout, so that the expression parser can type references to them.
class TCursorTableFields : public IOrqTableFields {
public:
    explicit TCursorTableFields(const TInternalFields& Fields);
    std::unique_ptr<IOrqTableFields> Clone() const override;
    int FieldCount() const override { return int(FFields.size()); }
    int IndexOfField(const std::string& Name) const override;
    std::string FieldName(int Index) const override { return FFields.at(size_t(Index)).Name; }
    TFieldType FieldType(int Index) const override { return FFields.at(size_t(Index)).Type; }
    int FieldSize(int Index) const override { return FFields.at(size_t(Index)).Size; }

private:
    struct TField {
        std::string Name;
        TFieldType Type;
        int Size;
    };
    std::vector<TField> FFields;
};

// The evaluator's row source over one cursor.
class TOrqExprDBDataProvider : public TOrqExprDataProvider {
public:
    // Binds the provider to Table: its fields (field numbers are the cursor's), its string
    // compare routine, a filter buffer, whether it has a filter event. EAssertionFailed
    // "ExprDBDataProvider - source table is not assigned" for none.
    void Initialize(TOrqDataSet* Table);

    Variant GetDataAsVariant(int FieldNo) override;
    bool IsFieldNull(int FieldNo) override;
    bool GetFieldNumber(int FieldNo, double& Value) override;
    // The table's records in cursor order; BaseRecNo := the first one's record number.
    void GetDefaultRecordList(TCompoundList& List) override;
    void Open() override;
    // Takes the table's compare routine, filter-event flag and record size again.
    void Refresh() override;
    // Reads the record at RecNo (an address) into the filter buffer.
    bool MoveToRecord(uint32_t RecNo) override;
    // The record manager's storage-order walk; none under a range (the cursor's records are
    // then fewer than the table's).
    bool StartStorageWalk() override;
    bool NextInStorageWalk(uint32_t& Address) override;
    TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name) override;
    bool PassFilterEvent(int RecNo) override;

    // Values come from the cursor's own record buffer instead of the filter buffer.
    void SetReadDataFromRecBuf(bool Value) { FReadDataFromRecBuf = Value; }
    // The cursor's record buffer copied into the filter buffer.
    void CopyFilterBufFromRecBuf();
    TOrqDataSet* Table() const { return FTable; }

private:
    const uint8_t* Buffer() const;

    TOrqDataSet* FTable = nullptr;
    std::vector<uint8_t> FFilterBuffer;
    bool FReadDataFromRecBuf = false;
};

// A filter evaluator bound to one table.
class TOrqFilterEvaluator : public TOrqBaseFilterEvaluator {
public:
    explicit TOrqFilterEvaluator(TOrqDataSet& Table);
    ~TOrqFilterEvaluator() override;
    TOrqExprDBDataProvider& Provider() { return *FProvider; }
    // The record number of the record at Address in the cursor's current index (its position
    // in cursor order); 0 when the index does not hold it.
    int CursorRecordNo(uint32_t Address);

protected:
    // Without a range, a result of at most an eighth of the table is put in cursor order by the
    // record numbers of its records (O(k log n)) instead of a walk of the whole index: a record a
    // few entries after the previous one is reached by steps of the tree cursor, any other by a
    // key search.
    bool OrderMatches(TCompoundList& Matching) override;

private:
    // The record number of Record (a record buffer) in Index; 0 when Index does not hold it.
    static int SearchRecordNo(TIndexItem& Index, const uint8_t* Record);

    std::unique_ptr<TOrqExprDBDataProvider> FProvider;
    std::unique_ptr<TTableList> FTableList;
    std::vector<uint8_t> FRecord;  // CursorRecordNo's record, kept between calls
};

// One cached filter result.
struct TPreparedFilter {
    std::string FilterText;
    TFilterOptions FilterOptions;
    std::vector<uint32_t> RecordList;
};

// Filter results by filter text (compared without regard to case) and options.
class TPreparedFilters {
public:
    // A new entry for Text and Options (replacing one with the same text and options); its
    // empty record list.
    std::vector<uint32_t>& AddFilter(const std::string& Text, TFilterOptions Options);
    // The position of Text with Options; -1 when absent or its options differ.
    int IndexOf(const std::string& Text, TFilterOptions Options) const;
    std::vector<uint32_t>& GetFilterRecordList(int i) { return FItems.at(size_t(i))->RecordList; }
    int Count() const { return int(FItems.size()); }
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TPreparedFilter>> FItems;
};

// The cursor's filter manager (see the file comment).
class TFilterMgr : public TBaseFilterMgr {
public:
    TFilterMgr();
    ~TFilterMgr() override;

    bool Active() const override { return FActive; }
    void SetQueryActive(bool Value) override;
    bool QueryActive() const { return FQueryActive; }
    // The result follows the cursor's order (passed to the evaluator as SortedOutput).
    void SetOrdered(bool Value) { FOrdered = Value; }
    void SetExcludeRelopNulls(bool Value) { FExcludeRelopNulls = Value; }
    // Evaluates every row without indexes (to check the index answers against).
    void SetForceFullScan(bool Value) { FForceFullScan = Value; }

    // Evaluates Table's filter text and options under a table read lock; false (and ErrorText)
    // when the text does not parse.
    bool OpenFilter(TOrqDataSet& Table) override;
    // Takes an expression from the query engine (ANDed with the filter text unless
    // Driver.OverwriteExpr); active unless Driver.AssessExprOnly.
    void AssignExpr(TOrqDataSet& Table, TOrqFilterExprDriver& Driver);
    void CloseFilter() override;
    // Evaluates the active filter's expression (the text's, or an assigned one) over the table
    // as it is now.
    void ResetFilter() override;
    void RefreshDataProvider() override;
    int GetBaseRecNo() override;
    bool CheckRecordInFilter(uint32_t RecAddr) override;
    int GetFilterRecordCount() override;
    int GetRecNo(uint32_t RecAddr) override;
    uint32_t MoveBy(uint32_t RecAddr, int Distance) override;
    uint32_t MoveToEnd(bool First) override;
    uint32_t FindFilterRecord(uint32_t RecAddr, TIndexSearchType SearchType) override;
    const TCompoundList* GetCurrentFilterList() override;

    // The current filter; EAssertionFailed "ExprFilter is not assigned" without evaluator.
    const TCompoundList& GetCurrentFilter() const;
    // The cursor-order list the filter was built from (same assertion).
    const TCompoundList& GetMasterList() const;
    TOrqFilterEvaluator* Evaluator() const { return FEvaluator.get(); }
    // FindFilterRecord(RecAddr, stGE when Forward, else stLE); 0 for 0.
    uint32_t FindNearest(uint32_t RecAddr, bool Forward);
    TPreparedFilters& PreparedFilters() { return FPreparedFilters; }

private:
    // A new evaluator for Table with this manager's settings.
    void CreateEvaluator(TOrqDataSet& Table, bool SortedOutput);
    // The filter closed and the evaluator given this manager's settings and Table's.
    void ConfigureEvaluator(TOrqDataSet& Table, bool SortedOutput);
    // Rebuilds the address-to-position map of the current filter; drops the master list's.
    void IndexLists();
    // The position of RecAddr in the master list; -1 when absent.
    int MasterPosition(uint32_t RecAddr);
    bool Accepted(uint32_t RecAddr);
    bool InFilter(uint32_t RecAddr) const { return FFilterPos.count(RecAddr) != 0; }
    // The record number of RecAddr in cursor order: from the lists, else by a key search.
    int CursorRecNo(uint32_t RecAddr);
    uint32_t InternalFindNearestRecAddr(uint32_t RecAddr, TIndexSearchType SearchType);

    bool FActive = false;
    TPreparedFilters FPreparedFilters;
    bool FOrdered = false;
    bool FQueryActive = false;
    bool FExcludeRelopNulls = false;
    bool FForceFullScan = false;
    TOrqDataSet* FTable = nullptr;
    std::unique_ptr<TOrqFilterEvaluator> FEvaluator;
    // The table's index manager generation when the evaluator was made: the evaluator holds
    // those trees.
    uint32_t FEvaluatorGeneration = 0;
    // The evaluator holds an expression AssignExpr gave (not only the filter text).
    bool FEvaluatorAssigned = false;
    // It was assigned for a table without filter text: another expression may reuse it.
    bool FEvaluatorReusable = false;
    std::unordered_map<uint32_t, int> FFilterPos;  // address -> position in the current filter
    // (address, position) of every master-list entry, by address; built when first needed (a
    // record outside the filter), so that opening and walking a filter never pays for it.
    std::vector<std::pair<uint32_t, int>> FMasterPos;
};

}  // namespace ostra
