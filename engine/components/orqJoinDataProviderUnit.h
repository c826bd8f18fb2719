// orqJoinDataProviderUnit: the tree of row sources a SELECT reads its rows from.
//
// A leaf (TOrqNonJoinDataProvider) walks one table through a dataset bridge
// (TOrqDatasetBridge, a cursor whose filter holds the table's own part of the WHERE clause). An
// inner node (TOrqStdJoinDataProvider) joins an outer and an inner provider through its join
// analyser and join evaluator (orqJoinAnalysis.h). TOrqJoinDataProviderMgr creates and owns
// every provider and bridge of one statement, holds the root and applies the residual
// condition: the part of the WHERE clause that no provider consumed.
//
// The planner builds the tree:
//   mgr.SetDatabase(db);
//   auto* a = mgr.GetNonJoinProvider("orders", "o", false);
//   auto* b = mgr.GetNonJoinProvider("customers", "c", false);
//   auto* j = mgr.GetStdJoinProvider();
//   j->SetProviderName("orders.customers"); j->SetJoinType(jtInnerJoin);
//   j->SetOuterProvider(a); j->SetInnerProvider(b); j->SetJoinExprRoot(onCondition);
//   a->SetJoinSelectExprRoot(conditionOnOrdersOnly);       // nil for none
//   mgr.SetRootProvider(j);
//   mgr.PrepareJoinExprEvaluator(residual);                 // optional
// and the query layer opens and walks it:
//   mgr.OpenProviders();
//   for (bool ok = mgr.FirstProviderRecord(); ok; ok = mgr.NextProviderRecord()) ...
// reading each row's columns from the root: GetDataAsVariant / GetRawFieldData by the field
// numbers of the root's ProviderFields (a join's fields: the outer's, then the inner's).
//
// Field numbers. A single-table provider's fields are its table's layout with FieldNo = the
// cursor's field number; a join provider's fields are TJoinFieldItems numbered by position, each
// naming the provider and field number it reads from.
//
// NULL rows. A provider whose ForceToNullValues is set, or that lies inside a join provider
// whose ForceToNullValues is set, reads every column as NULL (NullsForced); so does a
// single-table provider whose filter leaves no record. The join evaluator uses this for the
// NULL-extended rows of outer and union joins.
//
// Lifetime: providers, bridges and expressions live until the manager is cleared or freed;
// holders and their streams belong to whoever made them. Internal checks raise
// EAssertionFailed with the texts given below; cursor and filter errors pass through.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/orqBaseTable.h"
#include "engine/sql/orqExprEvaluator.h"
#include "engine/sql/orqExprTree.h"
#include "engine/storage/orqRecordLayout.h"

namespace ostra {

class TJoinAnalyser;
class TJoinEvaluator;
class TMemoryStream;
class TOrqBaseHash;
class TOrqBaseJoinDataProvider;
class TOrqDataBase;
class TOrqFilterExprDriver;

// The kinds of join a join provider makes.
enum TOrqJoinType : uint8_t {
    jtNone,
    jtCrossJoin,
    jtUnionJoin,
    jtInnerJoin,
    jtLeftOuterJoin,
    jtRightOuterJoin,
    jtFullOuterJoin
};

// The table a field node refers to, as providers are named: the alias of its table item when it
// has one, else the item's table name; without an item, the text of its table-name token; else
// empty.
std::string JoinFieldTableName(const TOrqExprNode& Node);

class TOrqBaseJoinDataProvider;
// The provider of the trees First and Second (either may be null) that a reference to Name
// means, by the rule of FindJoinProvider over both: by own name in First, then in Second, then
// by any name in First, then in Second.
TOrqBaseJoinDataProvider* FindJoinProviderIn(TOrqBaseJoinDataProvider* First, TOrqBaseJoinDataProvider* Second,
                                             const std::string& Name);

// True when Provider is Tree or lies under it.
bool InProviderTree(const TOrqBaseJoinDataProvider* Tree, const TOrqBaseJoinDataProvider* Provider);

// True for left, right and full outer joins.
inline bool IsOuterJoinType(TOrqJoinType T) {
    return T == jtLeftOuterJoin || T == jtRightOuterJoin || T == jtFullOuterJoin;
}

// One column value of the current row, as the result set copies it: a reference into a cursor's
// record buffer (valid until that cursor moves), or, for a blob, the value in Stream.
class TDataHolder {
public:
    TDataHolder();
    ~TDataHolder();
    TDataHolder(const TDataHolder&) = delete;
    TDataHolder& operator=(const TDataHolder&) = delete;

    // The holder's stream, made on first use.
    TMemoryStream& Stream();
    // Reads as NULL: IsNull, no data, no stream.
    void SetNull();

    bool IsNull = true;
    int32_t Length = 0;
    const uint8_t* Data = nullptr;
    bool UsesStream = false;

private:
    std::unique_ptr<TMemoryStream> FStream;
};

// What a provider learned about its join columns.
struct TJoinStatistics {
    bool Indexed = false;
};

// A column of a join provider: a copy of the source provider's field item plus where its values
// come from.
class TJoinFieldItem : public TInternalFieldItem {
public:
    explicit TJoinFieldItem(TCollection* ACollection);
    ~TJoinFieldItem() override;

    // The inherited fields; from another join field also SourceFieldNo and DataProvider.
    void Assign(const TPersistent* Source) override;
    // Clears the item's evaluator and, for a non-null Root, prepares it on Root over
    // DataProvider with ExcludeRelopNulls. EAssertionFailed "Join Field data provider is not yet
    // assigned" without DataProvider.
    void PrepareJoinExprEvaluator(const TOrqExprNode* Root);

    // The column's field number in DataProvider's fields.
    int32_t SourceFieldNo() const { return FSourceFieldNo; }
    void SetSourceFieldNo(int32_t Value) { FSourceFieldNo = Value; }
    // The provider that delivers the column (not owned).
    TOrqBaseJoinDataProvider* DataProvider() const { return FDataProvider; }
    void SetDataProvider(TOrqBaseJoinDataProvider* Value) { FDataProvider = Value; }
    // The evaluator of a computed column.
    TExprEvaluator& Evaluator() { return *FEvaluator; }

private:
    int32_t FSourceFieldNo = -1;
    TOrqBaseJoinDataProvider* FDataProvider = nullptr;
    std::unique_ptr<TExprEvaluator> FEvaluator;
};

// The columns of a join provider.
class TJoinFields : public TInternalFields {
public:
    explicit TJoinFields(TPersistent* AOwner = nullptr);

    TJoinFieldItem* Add();
    TJoinFieldItem* GetItems(int Position) const;
    void SetItems(int Position, const TJoinFieldItem* Item);
    // The first column called Name, ignoring case; null when none.
    TJoinFieldItem* FindField(const std::string& Name) const;
    // From another TJoinFields: cleared, then a copy of each item. Otherwise the inherited rules.
    void Assign(const TPersistent* Source) override;

protected:
    // For descendants whose items are TJoinFieldItem descendants.
    TJoinFields(TCollectionItemClass AItemClass, TPersistent* AOwner)
        : TInternalFields(std::move(AItemClass), AOwner) {}
};

// The join keys of one column over the rows a bridge reaches: key i is the bytes
// Bytes[Ends[i-1] .. Ends[i]) of the row at Addresses[i].
struct TJoinKeyList {
    std::vector<uint32_t> Addresses;
    std::vector<uint32_t> Ends;
    std::string Bytes;
    int MaxKeySize = 0;

    int Count() const { return int(Addresses.size()); }
    void Clear();
};

// A cursor over one table for a single-table provider (no owner). Its moves are the cursor's
// own (through the filter when one is active); its record buffer holds the current row.
class TOrqDatasetBridge : public TOrqBaseTable {
public:
    TOrqDatasetBridge();
    ~TOrqDatasetBridge() override;

    // Opens the dataset (the table and its cursor) when closed.
    void OpenBridge();
    // An open bridge made ready for another statement run over its table: no range, no
    // filter, the index it opened on, no rows read ahead.
    void PrepareForReuse();
    // The first, next and last row; false when there is none (the bridge is then at its end).
    bool FirstBridgeRecord();
    bool NextBridgeRecord();
    bool LastBridgeRecord();
    // The value of the cursor field FieldNo in the current row (a text blob as its text).
    Variant GetFieldDataAsVariant(int FieldNo);
    // Holder := the raw value of FieldNo in the current row (see TDataHolder).
    void GetRawFieldData(int FieldNo, TDataHolder& Holder);
    // The current record's address; 0 while closed or at the end.
    uint32_t GetRecAddr() const;
    // The current record's modification counter.
    uint32_t GetRecModFlag() const;
    // The records of the table under its range, without the filter.
    int GetTotalBridgeRecordCount();
    // The rows the bridge reaches: through the filter when one is active.
    int GetBridgeRecordCount();
    // Makes the record at Addr the current row (read by its address, the index untouched); false
    // when Addr holds no record of the table.
    bool MoveToRecAddr(uint32_t Addr);
    // Moves to Addr and requires its modification counter to be Flags (8708 otherwise).
    bool MoveToRecAddrAndValidate(uint32_t Addr, uint32_t Flags);
    // Keys := the join key (orqJoinKey.h) of field FieldNo of every row the bridge reaches (the
    // filter's rows while a filter is active, else the range's or the table's), NULLs left out.
    // FilterActive tells whether a filter was active; List receives the filter's addresses,
    // sorted (empty without filter).
    void LoadJoinKeys(int FieldNo, TJoinKeyList& Keys, std::vector<uint32_t>& List, bool& FilterActive);
    // Low and High := the lowest and highest non-NULL value of field FieldNo in the order of
    // the index IndexName (the filter is not applied; the current index stays). False when
    // every value is NULL or there is no row.
    bool GetIndexKeyBounds(const std::string& IndexName, int FieldNo, Variant& Low, Variant& High);
    // The addresses of the rows the bridge reaches (as LoadHashTable lists them).
    void GetReachableRecords(std::vector<uint32_t>& List, bool& FilterActive);
    // IndexName becomes the current index and the range Low..High (one key value each) is set.
    void SetBridgeIndexRange(const std::string& IndexName, const Variant& Low, const Variant& High);
    // Drops a range set by SetBridgeIndexRange.
    void ClearBridgeIndexRange();
    // Hands Driver's expression to the cursor's filter.
    void SetJoinSelectExprRoot(TOrqFilterExprDriver& Driver);
    // Drops the filter an expression made.
    void ClearJoinSelectExpr();
    // True after a move found no row.
    bool AtEnd() const { return FAtEnd; }

    // The filter text remembered by a join preparation.
    const std::string& BaseFilterText() const { return FBaseFilterText; }
    void SetBaseFilterText(const std::string& Value) { FBaseFilterText = Value; }

private:
    bool Moved(bool Found);
    // Calls Visit with the address and the stored bytes of every row the bridge reaches (see
    // LoadHashTable), under a table read lock.
    void VisitReachableRecords(const std::function<void(uint32_t, const uint8_t*)>& Visit, bool& FilterActive);

    std::string FBaseFilterText;
    bool FAtEnd = true;
    // The index the cursor chose when it opened.
    std::string FOpenedIndexName;
};

// The base of every provider: names, links, NULL forcing and the join select expression.
class TOrqBaseJoinDataProvider : public TOrqExprDataProvider {
public:
    TOrqBaseJoinDataProvider();
    ~TOrqBaseJoinDataProvider() override;

    // The provider FindJoinProvider finds for Name.
    TOrqExprDataProvider* FindProvider(const std::string& Name) override;

    virtual void SetProviderName(const std::string& Value);
    // Holder := the raw value of FieldNo in the current row; the base does nothing.
    virtual void GetRawFieldData(int FieldNo, TDataHolder& Holder);
    // Row moves; the base has no rows.
    virtual bool NextProviderRecord();
    virtual bool FirstProviderRecord();
    virtual bool LastProviderRecord();
    // Opens the provider (IsOpen := true in the base).
    virtual void OpenProvider();
    // Applies the join select expression as the table's filter (single-table providers); with
    // EnforceExprOrder the rows come in the order of OrderIndexName.
    virtual void SetSelectExpr(bool EnforceExprOrder, const std::string& OrderIndexName);
    // The provider of the tree under this one (itself first, then the inner, then the outer)
    // that a reference to Name means: the one whose own name is Name (its alias, or its table
    // name when it has no alias), else one that IsNamed calls Name; null when none. Names
    // compare without regard to case. A table used both plainly and under an alias (FROM a q, a)
    // is so told apart.
    TOrqBaseJoinDataProvider* FindJoinProvider(const std::string& Name);
    // The first provider of this tree, in FindJoinProvider's order, whose own name is Name
    // (OwnName) or that IsNamed calls Name.
    TOrqBaseJoinDataProvider* FindInTree(const std::string& Name, bool OwnName);
    // The join select expression := a clone of Root (none for nil).
    virtual void SetJoinSelectExprRoot(const TOrqExprNode* Root);
    // A condition added to the join select expression for the current outer row (the join
    // evaluator's expression loop); the base treats it as SetJoinSelectExprRoot.
    virtual void SetExtraSelectExpRoot(const TOrqExprNode* Root);
    // The rows of the provider; -1 when unknown.
    virtual int GetRecordCount();
    // A text naming the current row; empty when there is none or it reads as NULL.
    virtual std::string CurrentRecordIDAsString();

    const std::string& ProviderName() const { return FProviderName; }
    TOrqBaseJoinDataProvider* OuterProvider() const { return FOuterProvider; }
    void SetOuterProvider(TOrqBaseJoinDataProvider* Value) { FOuterProvider = Value; }
    TOrqBaseJoinDataProvider* InnerProvider() const { return FInnerProvider; }
    void SetInnerProvider(TOrqBaseJoinDataProvider* Value) { FInnerProvider = Value; }
    TOrqJoinType JoinType() const { return FJoinType; }
    void SetJoinType(TOrqJoinType Value) { FJoinType = Value; }
    TJoinStatistics& JoinStatistics() { return FJoinStatistics; }
    // The table's own condition; null when none.
    TOrqExpr* JoinSelectExpr() const { return FJoinSelectExpr.get(); }
    const TOrqExprNode* JoinSelectExprRoot() const;
    const std::string& CorrelationName() const { return FCorrelationName; }
    void SetCorrelationName(const std::string& Value) { FCorrelationName = Value; }
    bool IsOpen() const { return FIsOpen; }
    bool ForceToNullValues() const { return FForceToNullValues; }
    void SetForceToNullValues(bool Value) { FForceToNullValues = Value; }
    // ForceToNullValues of this provider or of a join provider it lies in.
    bool NullsForced() const;
    // The join provider this one is an operand of; null for the root.
    TOrqBaseJoinDataProvider* ParentProvider() const { return FParentProvider; }
    void SetParentProvider(TOrqBaseJoinDataProvider* Value) { FParentProvider = Value; }
    // True when Name names this provider: its ProviderName, or a non-empty Name equal to its
    // CorrelationName.
    bool IsNamed(const std::string& Name) const;
    // True when Name is this provider's own name: its CorrelationName when it has one, else its
    // ProviderName.
    bool IsOwnName(const std::string& Name) const;

protected:
    void SetIsOpen(bool Value) { FIsOpen = Value; }

private:
    std::string FProviderName;
    TOrqBaseJoinDataProvider* FOuterProvider = nullptr;
    TOrqBaseJoinDataProvider* FInnerProvider = nullptr;
    TOrqJoinType FJoinType = jtNone;
    TJoinStatistics FJoinStatistics;
    std::unique_ptr<TOrqExpr> FJoinSelectExpr;
    std::string FCorrelationName;
    bool FIsOpen = false;
    bool FForceToNullValues = false;
    TOrqBaseJoinDataProvider* FParentProvider = nullptr;
};

// A leaf: one table through its dataset bridge.
class TOrqNonJoinDataProvider : public TOrqBaseJoinDataProvider {
public:
    TOrqNonJoinDataProvider();
    ~TOrqNonJoinDataProvider() override;

    // The bridge's record layout (field numbers are the cursor's); filled when the bridge opens.
    TInternalFields* GetProviderFields() override;
    // Before the same plan runs again over this provider: its open bridge made ready as a spare
    // for reuse (PrepareForReuse) and the provider closed, so that the next OpenProviders opens
    // it as a new plan's. False (nothing done) when the bridge is not open.
    bool ResetForRun();
    // NULL when NullsForced or the bridge reaches no row; else the bridge's value.
    Variant GetDataAsVariant(int FieldNo) override;
    bool IsFieldNull(int FieldNo) override;
    bool GetFieldNumber(int FieldNo, double& Value) override;
    // The bridge's field called Name.
    TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name) override;
    // Itself when Name names it, else FindJoinProvider.
    TOrqExprDataProvider* FindProvider(const std::string& Name) override;

    // Also the bridge's table name.
    void SetProviderName(const std::string& Value) override;
    void GetRawFieldData(int FieldNo, TDataHolder& Holder) override;
    bool NextProviderRecord() override;
    bool FirstProviderRecord() override;
    bool LastProviderRecord() override;
    // Opens the bridge (EAssertionFailed "The data bridge is not assigned" without one).
    void OpenProvider() override;
    // The bridge is opened; a join select expression becomes its filter, ordered by
    // OrderIndexName when EnforceExprOrder.
    void SetSelectExpr(bool EnforceExprOrder, const std::string& OrderIndexName) override;
    // Keeps a clone; an open bridge takes it as its filter at once.
    void SetJoinSelectExprRoot(const TOrqExprNode* Root) override;
    // The filter of an open bridge := Root AND the join select expression (Root alone without
    // one; the join select expression alone for a nil Root).
    void SetExtraSelectExpRoot(const TOrqExprNode* Root) override;
    // The rows the bridge reaches (the bridge is opened for the count and closed again when it
    // was closed).
    int GetRecordCount() override;
    // The current record's address in decimal; empty when closed, at the end or NullsForced.
    std::string CurrentRecordIDAsString() override;

    TOrqDatasetBridge* DataBridge() const { return FDataBridge; }
    void SetDataBridge(TOrqDatasetBridge* Value) { FDataBridge = Value; }
    TOrqExpr* ExtraSelectExpr() const { return FExtraSelectExpr.get(); }

private:
    // True when reads give NULL: forced, or the bridge reaches no row.
    bool ReadsNull();
    // Hands Root (or nothing) to the bridge's filter with the given order.
    void ApplyFilter(TOrqExpr* Expr, bool EnforceExprOrder, const std::string& OrderIndexName);

    TOrqDatasetBridge* FDataBridge = nullptr;  // owned by the manager
    std::unique_ptr<TOrqExpr> FExtraSelectExpr;
};

// An inner node: the join of an outer and an inner provider.
class TOrqStdJoinDataProvider : public TOrqBaseJoinDataProvider {
public:
    TOrqStdJoinDataProvider();
    ~TOrqStdJoinDataProvider() override;

    // Its join fields.
    TInternalFields* GetProviderFields() override;
    // NULL when NullsForced, else the join field's provider at its SourceFieldNo.
    Variant GetDataAsVariant(int FieldNo) override;
    bool IsFieldNull(int FieldNo) override;
    bool GetFieldNumber(int FieldNo, double& Value) override;
    // The join field Name; failing that, for a table-name token, the field Token.Text + "." +
    // Name; failing that the inner provider's answer, then the outer's.
    TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name) override;

    void GetRawFieldData(int FieldNo, TDataHolder& Holder) override;
    // The join evaluator's walk.
    bool NextProviderRecord() override;
    bool FirstProviderRecord() override;
    // Opens the inner, then the outer provider, builds the join fields and lets the evaluator
    // analyse and open the join. EAssertionFailed "Join type has not been set", "Right provider
    // has not been set", "Left provider has not been set".
    void OpenProvider() override;
    // The inner's, then the outer's.
    void SetSelectExpr(bool EnforceExprOrder, const std::string& OrderIndexName) override;
    // The outer's text, ",", the inner's.
    std::string CurrentRecordIDAsString() override;

    // The join condition := a copy of Expr's tree (none for nil).
    void SetJoinExpr(const TOrqExpr* Expr);
    // The join condition := a clone of Root (none for nil).
    void SetJoinExprRoot(const TOrqExprNode* Root);
    TOrqExpr* JoinExpr() const { return FJoinExpr.get(); }
    const TOrqExprNode* JoinExprRoot() const;
    // Puts the driving row's values into the condition Root and hands it to the matched
    // provider as its extra select expression: the matched provider is the inner one when
    // MatchedIsInner, else the outer one. Field nodes of the driving side become constants.
    void ParseJoinExpr(const TOrqExprNode* Root, bool MatchedIsInner);

    TJoinFields& JoinFields() { return *FJoinFields; }
    TJoinAnalyser& JoinAnalyser() { return *FJoinAnalyser; }
    TJoinEvaluator& JoinEvaluator() { return *FJoinEvaluator; }

private:
    // Rebuilds the join fields from the outer's and the inner's fields.
    void PrepareInternalFields();
    TJoinFieldItem& JoinField(int FieldNo) const;

    std::unique_ptr<TJoinFields> FJoinFields;
    std::unique_ptr<TOrqExpr> FJoinExpr;
    std::unique_ptr<TJoinAnalyser> FJoinAnalyser;
    std::unique_ptr<TJoinEvaluator> FJoinEvaluator;
};

// Creates, owns and walks the providers of one statement.
class TOrqJoinDataProviderMgr {
public:
    TOrqJoinDataProviderMgr();
    ~TOrqJoinDataProviderMgr();
    TOrqJoinDataProviderMgr(const TOrqJoinDataProviderMgr&) = delete;
    TOrqJoinDataProviderMgr& operator=(const TOrqJoinDataProviderMgr&) = delete;

    // A new single-table provider over the table TableName (alias CorrelationName; Memory: an
    // in-memory table) with its own bridge. EAssertionFailed "Database is not assigned".
    TOrqNonJoinDataProvider* GetNonJoinProvider(const std::string& TableName, const std::string& CorrelationName,
                                                bool Memory);
    // A new join provider (same check).
    TOrqStdJoinDataProvider* GetStdJoinProvider();
    // Opens the tree from the root (a provider's table open as a spare bridge is taken over);
    // a single-table root then gets its filter. False without root.
    bool OpenProviders();
    // The residual condition := a clone of Root, evaluated over the root for every row (with
    // the manager's string comparison and ExcludeRelopNulls). Nil leaves the previous one.
    void PrepareJoinExprEvaluator(const TOrqExprNode* Root);
    // The root's first / next row that passes the residual condition. First is false without a
    // root; Next requires one (EAssertionFailed "Root provider is not assigned").
    bool FirstProviderRecord();
    bool NextProviderRecord();
    // The provider under the root that serves Name (FindJoinProvider of the root); null without
    // root.
    TOrqBaseJoinDataProvider* FindJoinProvider(const std::string& Name) const;
    // Frees every provider and the residual condition; no root. The open bridges are kept as
    // spares: the next OpenProviders gives each to a provider over the same table instead of
    // opening the table again, and closes the spares nobody took.
    void Clear();
    // Clear, and the spare bridges closed too: the manager holds no table open.
    void ReleaseTables();

    TOrqBaseJoinDataProvider* RootProvider() const { return FRootProvider; }
    void SetRootProvider(TOrqBaseJoinDataProvider* Value) { FRootProvider = Value; }
    TOrqDataBase* Database() const { return FDatabase; }
    void SetDatabase(TOrqDataBase* Value) { FDatabase = Value; }
    TDBStringCompareFunction DBStringCompare() const { return FDBStringCompare; }
    // Also the residual evaluator's.
    void SetDBStringCompare(TDBStringCompareFunction Value);
    TExprEvaluator& JoinExprEvaluator() { return *FJoinExprEvaluator; }
    TOrqExpr* JoinExpr() const { return FJoinExpr.get(); }
    int NonJoinProviderCount() const { return int(FNonJoinProviders.size()); }
    TOrqNonJoinDataProvider* NonJoinProvider(int Index) const { return FNonJoinProviders[size_t(Index)].get(); }
    int JoinProviderCount() const { return int(FJoinProviders.size()); }

    // A table read lock on every open bridge of the manager for the life of the object, taken
    // only where the bridge holds no table lock and given back by the destructor. A walk under it
    // steps each table's index without locking and reading the header at every move.
    class TWalkLocks {
    public:
        explicit TWalkLocks(TOrqJoinDataProviderMgr& Mgr);
        ~TWalkLocks();
        TWalkLocks(const TWalkLocks&) = delete;
        TWalkLocks& operator=(const TWalkLocks&) = delete;

    private:
        void Release() noexcept;

        std::vector<TOrqDatasetBridge*> FLocked;
    };

private:
    // Skips rows the residual condition rejects, starting at the current one (Found: whether
    // there is one).
    bool SkipRejected(bool Found);

    std::vector<std::unique_ptr<TOrqNonJoinDataProvider>> FNonJoinProviders;
    std::vector<std::unique_ptr<TOrqStdJoinDataProvider>> FJoinProviders;
    std::vector<std::unique_ptr<TOrqDatasetBridge>> FBridges;
    // Open bridges of an earlier plan (see Clear).
    std::vector<std::unique_ptr<TOrqDatasetBridge>> FSpareBridges;
    TOrqDataBase* FDatabase = nullptr;
    TOrqBaseJoinDataProvider* FRootProvider = nullptr;
    std::unique_ptr<TExprEvaluator> FJoinExprEvaluator;
    std::unique_ptr<TOrqExpr> FJoinExpr;
    TDBStringCompareFunction FDBStringCompare = DBANSICompareStrings;
};

}  // namespace ostra
