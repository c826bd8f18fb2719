// orqExprEvaluator: computing a parsed expression (orqExprTree.h) over the current row of a
// row source.
//
// - TOrqExprDataProvider is a row source: the fields it offers (a TInternalFields record
//   layout), their values in the current row, moving to a row, and the collation its strings
//   compare by. The table filter, the join providers and the query layer subclass it.
// - TCustomExprNodeDataProvider runs one subquery: the query layer subclasses it and hangs one
//   on every subquery node (TOrqExprNode::ExprNodeDataProvider) before evaluation;
//   PrepareAndOpen makes ProviderDataset hold the subquery's rows for the current outer row.
// - TExprEvaluator mirrors a parse tree with evaluator nodes that carry the resolved field and
//   row source of each field reference, then evaluates it node by node with the operator rules
//   of TOrqOpEvaluator (Null and unknown, see orqOpEvaluator.h).
// - TExprResultListGenerator applies an expression to a list of records.
//
// Values by node:
//   field              the row source's value (upper-cased for case-insensitive matching)
//   constant, param    the node's Data (CURRENT_DATE and its kin: what the layer above stored)
//   comparison         two strings compare with the row source's collation, other values by
//                      the operator rules; a subquery operand compares its rows (ANY, ALL,
//                      scalar: more than one row raises 9650)
//   [NOT] LIKE         False for a Null or unknown value or pattern (NOT LIKE too)
//   [NOT] IN           list: the first element comparing True; subquery: the first row whose
//                      first column compares True; NOT IN negates
//   EXISTS             whether the subquery has a row
//   scalar subquery    its one value (9650 for more rows, 9656 for more columns)
//   UPPER, LOWER, SUBSTRING of Null: Null; TRIM of Null: the empty string
//   CAST, EXTRACT      of Null: Null; an unsupported target or part raises 10000
//   aggregates, outer fields: unknown (the layers above turn them into constants first)
//
// Programming errors of the layers that prepare a tree (unresolvable fields or row sources, a
// subquery without its provider, no string collation) are assertion failures.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqExprTree.h"
#include "engine/sql/orqOpEvaluator.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqCompoundList.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Variant.h"

namespace ostra {

class TDataSet;

// A row source of the evaluator. The base offers no rows; subclasses override the virtual
// operations they serve.
class TOrqExprDataProvider {
public:
    TOrqExprDataProvider();
    TOrqExprDataProvider(const TOrqExprDataProvider&) = delete;
    TOrqExprDataProvider& operator=(const TOrqExprDataProvider&) = delete;
    virtual ~TOrqExprDataProvider();

    // The fields the source offers: ProviderFields.
    virtual TInternalFields* GetProviderFields();
    // The value of the field numbered FieldNo (TInternalFieldItem::FieldNo) in the current row;
    // the base answers Empty.
    virtual Variant GetDataAsVariant(int FieldNo);
    // Whether that value is Null.
    virtual bool IsFieldNull(int FieldNo);
    // Value := that value as a double when it is a non-null integer of 32 bits or fewer or a
    // Double (what GetDataAsVariant would answer, held exactly); false otherwise, and always
    // in the base. Comparisons of a field with a number read it so, without a Variant.
    virtual bool GetFieldNumber(int FieldNo, double& Value);
    // Fills List with every record of the source; the base adds nothing.
    virtual void GetDefaultRecordList(TCompoundList& List);
    virtual void Open();
    virtual void Refresh();
    // Makes the record RecNo (a record list's entry) the current row; the base answers false.
    virtual bool MoveToRecord(uint32_t RecNo);
    // A walk over every record of the source in storage order, for a full evaluation whose
    // result is put in order afterwards. StartStorageWalk answers whether the source has one
    // (its records are exactly those of GetDefaultRecordList); the base has none.
    // NextInStorageWalk makes the next record the current row and sets Address to it (the
    // address MoveToRecord takes); false after the last.
    virtual bool StartStorageWalk();
    virtual bool NextInStorageWalk(uint32_t& Address);
    // The field item called Name; Token is the table-name token of a qualified reference, or
    // null. The base searches ProviderFields.
    virtual TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name);
    // The row source serving the table or alias Name; the base answers itself.
    virtual TOrqExprDataProvider* FindProvider(const std::string& Name);
    // The per-record filter event of a table filter; the base answers false.
    virtual bool PassFilterEvent(int RecNo);

    TInternalFields& ProviderFields() { return *FProviderFields; }
    // How the database compares two strings; null until the database layer sets it.
    TDBStringCompareFunction DBStringCompare() const { return FDBStringCompare; }
    void SetDBStringCompare(TDBStringCompareFunction F) { FDBStringCompare = F; }
    bool HasPassFilterEvent() const { return FHasPassFilterEvent; }
    void SetHasPassFilterEvent(bool B) { FHasPassFilterEvent = B; }
    // Record number offset of the source's rows.
    int BaseRecNo() const { return FBaseRecNo; }
    void SetBaseRecNo(int N) { FBaseRecNo = N; }

private:
    std::unique_ptr<TInternalFields> FProviderFields;
    TDBStringCompareFunction FDBStringCompare = nullptr;
    bool FHasPassFilterEvent = false;
    int FBaseRecNo = 0;
};

// Runs one subquery for the evaluator. The query layer subclasses it.
class TCustomExprNodeDataProvider {
public:
    TCustomExprNodeDataProvider() = default;
    TCustomExprNodeDataProvider(const TCustomExprNodeDataProvider&) = delete;
    TCustomExprNodeDataProvider& operator=(const TCustomExprNodeDataProvider&) = delete;
    virtual ~TCustomExprNodeDataProvider() = default;

    // Makes ProviderDataset hold the subquery's rows for the current outer row, positioned on
    // the first; answers whether they are usable. The base answers false.
    virtual bool PrepareAndOpen();
    // After PrepareAndOpen: whether the first value of some row is one for which Equal answers
    // true, looked up in an index of the rows instead of a scan (IN with a subquery). False
    // when the provider keeps no such index for these rows or for V: the caller then scans.
    // Equal is the comparison the scan would make; an index only narrows the rows it is asked
    // about. The base keeps none.
    virtual bool FindFirstValue(const Variant& V, const std::function<bool(const Variant&)>& Equal, bool& Found);

    // The subquery's result rows; the value of a row is its first field. Not owned.
    TDataSet* ProviderDataset() const { return FProviderDataset; }
    void SetProviderDataset(TDataSet* D) { FProviderDataset = D; }

private:
    TDataSet* FProviderDataset = nullptr;
};

class TExprEvaluatorNode;

// How a comparison node compares a field with a numeric constant, as the evaluator worked it out.
struct TNumberComparisonPlan {
    enum TState : uint8_t { ncUnknown, ncNone, ncReady };
    TState State = ncUnknown;                   // ncNone: not such a comparison
    const TExprEvaluatorNode* Field = nullptr;  // the field's node
    double Constant = 0;
    TOrqExprOperator Op = oeoEQ;  // with the field on the left
};

// One node of an evaluator tree: the mirror of a parse node. The evaluator builds and owns it.
class TExprEvaluatorNode {
public:
    TExprEvaluatorNode* Left() const { return FLeft; }
    void SetLeft(TExprEvaluatorNode* v) { FLeft = v; }
    TExprEvaluatorNode* Right() const { return FRight; }
    void SetRight(TExprEvaluatorNode* v) { FRight = v; }
    // The next node of the evaluator's chain of operand nodes.
    TExprEvaluatorNode* Next() const { return FNext; }
    void SetNext(TExprEvaluatorNode* v) { FNext = v; }
    const TOrqExprNode* ExprNode() const { return FExprNode; }
    void SetExprNode(const TOrqExprNode* v) { FExprNode = v; }
    // Field nodes: the resolved field and the row source that delivers it.
    TInternalFieldItem* FieldRef() const { return FFieldRef; }
    void SetFieldRef(TInternalFieldItem* v) { FFieldRef = v; }
    TOrqExprDataProvider* DataProvider() const { return FDataProvider; }
    void SetDataProvider(TOrqExprDataProvider* v) { FDataProvider = v; }
    // The last value computed; Reset sets it to Null.
    const Variant& NodeResult() const { return FNodeResult; }
    void SetNodeResult(const Variant& v) { FNodeResult = v; }
    // Mirrors of the parse node's Args (owned by the evaluator).
    const std::vector<TExprEvaluatorNode*>& Args() const { return FArgs; }
    std::vector<TExprEvaluatorNode*>& Args() { return FArgs; }
    TNumberComparisonPlan& NumberPlan() { return FNumberPlan; }

private:
    TExprEvaluatorNode* FLeft = nullptr;
    TExprEvaluatorNode* FRight = nullptr;
    TExprEvaluatorNode* FNext = nullptr;
    const TOrqExprNode* FExprNode = nullptr;
    TInternalFieldItem* FFieldRef = nullptr;
    TOrqExprDataProvider* FDataProvider = nullptr;
    Variant FNodeResult;
    std::vector<TExprEvaluatorNode*> FArgs;
    TNumberComparisonPlan FNumberPlan;
};

// Evaluates one parse tree over the current row of a row source.
class TExprEvaluator {
public:
    TExprEvaluator();
    TExprEvaluator(const TExprEvaluator&) = delete;
    TExprEvaluator& operator=(const TExprEvaluator&) = delete;
    ~TExprEvaluator();

    // Frees every evaluator node; no root.
    void Clear();
    // DataProvider := Provider; builds the evaluator tree for Root, resolving every field
    // (EAssertionFailed "Field not found in TExprEvaluator", or "The Evaluator node data
    // provider could not be found: " + table name, for what cannot be resolved).
    void Prepare(TOrqExprDataProvider* Provider, const TOrqExprNode* Root);
    bool IsPrepared() const { return FRoot != nullptr; }
    // Every chained node's NodeResult := Null.
    void Reset();
    // Whether evaluating keeps each node's value in its NodeResult (the default). Without it,
    // nothing reads or resets them and a condition over number comparisons is decided without
    // Variants (the result generators, which only want the answer).
    bool KeepNodeResults() const { return FKeepNodeResults; }
    void SetKeepNodeResults(bool B) { FKeepNodeResults = B; }
    // The root's value as a condition: false without a root and for an unknown result;
    // otherwise whether it is True.
    bool Evaluate();
    // The root's value; Empty without a root.
    Variant EvaluateValueExpr();

    TExprEvaluatorNode* Root() const { return FRoot; }
    TOrqExprDataProvider* DataProvider() const { return FDataProvider; }
    TDBStringCompareFunction DBStringCompare() const { return FDBStringCompare; }
    void SetDBStringCompare(TDBStringCompareFunction F) { FDBStringCompare = F; }
    // With it, a comparison with a Null or unknown operand is unknown (see orqOpEvaluator.h).
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    void SetExcludeRelopNulls(bool B) { FExcludeRelopNulls = B; }
    const TOrqOpEvaluator& OpEvaluator() const { return *FOpEvaluator; }

private:
    TExprEvaluatorNode* BuildNode(const TOrqExprNode* N, bool Chained);
    Variant EvaluateNode(TExprEvaluatorNode* N);
    Variant EvaluateRelop(TExprEvaluatorNode* N);
    // A comparison of a field with a numeric constant, read without Variants; false when N is
    // not one or the field's value is not a number (Null included): the general rules apply.
    bool EvaluateNumberRelop(TExprEvaluatorNode* N, bool& Result);
    // Works out N's number comparison plan (once per Prepare without KeepNodeResults).
    static void PlanNumberRelop(TExprEvaluatorNode* N);
    // N as a condition when it is a number comparison, or an AND or OR of such conditions,
    // whose fields all hold numbers: 1 True, 0 False; -1 otherwise (the general rules then
    // decide). Both sides of AND and OR are read, as the general rules read them.
    int EvaluateNumberCondition(TExprEvaluatorNode* N);
    int CompareStrings(TExprEvaluatorNode* N, const Variant& Left, const Variant& Right);
    Variant EvaluateStrFunc(TExprEvaluatorNode* N, const Variant& Left, const Variant& Right);
    Variant EvaluateCastExpr(const TOrqExprNode* E, const Variant& V);
    Variant EvaluateExtractExpr(const TOrqExprNode* E, const Variant& V);
    Variant EvaluateLike(TExprEvaluatorNode* N, const Variant& Left, const Variant& Right);
    bool EvaluateIn(TExprEvaluatorNode* N, const Variant& V);
    // Comparisons with subquery operands (Op applied as RowValue Op V, or V Op RowValue).
    Variant EvaluateLeftSubquery(const TOrqExprNode* Subquery, TOrqExprOperator Op, const Variant& V);
    Variant EvaluateRightSubquery(const TOrqExprNode* Subquery, TOrqExprOperator Op, const Variant& V);
    Variant EvaluateSubqueryCompare(const TOrqExprNode* Subquery, TOrqExprOperator Op, const Variant& V,
                                    bool SubqueryLeft, const char* Caller);
    Variant EvaluateDualSubqueries(const TOrqExprNode* Left, const TOrqExprNode* Right, TOrqExprOperator Op);
    Variant EvaluateExists(const TOrqExprNode* Subquery);
    Variant EvaluateSubqueryValue(const TOrqExprNode* Subquery);

    std::vector<std::unique_ptr<TExprEvaluatorNode>> FNodes;  // every node built, chained or not
    TExprEvaluatorNode* FChain = nullptr;                     // head of the chain of operand nodes
    TExprEvaluatorNode* FRoot = nullptr;
    TOrqExprDataProvider* FDataProvider = nullptr;
    TDBStringCompareFunction FDBStringCompare = nullptr;
    bool FExcludeRelopNulls = false;
    bool FKeepNodeResults = true;
    std::unique_ptr<TOrqOpEvaluator> FOpEvaluator;
};

// Applies an expression to a list of records.
class TExprResultListGenerator {
public:
    // ResultList := the items of SourceList (in order) for which Root is True, each evaluated
    // after Provider moved to it (items it cannot move to are left out); every item when Root
    // is null. A Provider without a string collation raises engine error 10065.
    static void CreateResultList(TOrqExprDataProvider* Provider, const TOrqExprNode* Root,
                                 const TCompoundList& SourceList, TCompoundList& ResultList,
                                 bool ExcludeRelopNulls);
    // ResultList := the records of Provider's storage walk (StartStorageWalk answered true) for
    // which Root is True, in storage order, each with the record number 0.
    static void CreateResultListInStorageOrder(TOrqExprDataProvider* Provider, const TOrqExprNode* Root,
                                               TCompoundList& ResultList, bool ExcludeRelopNulls);

private:
    static void PrepareEvaluator(TExprEvaluator& Evaluator, TOrqExprDataProvider* Provider, const TOrqExprNode* Root,
                                 bool ExcludeRelopNulls);
};

}  // namespace ostra
