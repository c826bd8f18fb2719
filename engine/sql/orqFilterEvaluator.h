// orqFilterEvaluator: turning a filter text, or an expression handed over by the query engine,
// into the list of records that satisfy it over one row source (TOrqExprDataProvider).
//
// TOrqBaseFilterEvaluator parses the text as an expression (pre-parser, expression parser with
// field validation), lets the filter optimizer (orqFilterOptimizer.h) answer what the indexes
// can, evaluates the remaining candidate rows one by one (TExprResultListGenerator) and
// delivers the matching records in the row source's order (or, for a query without ordering,
// in the order found). TOrqFilterExprDriver is the parameter object through which the query
// engine hands expressions in and reads the optimizer's assessment back. The dataset layer
// subclasses the evaluator for one table and fills its index list.
//
// States: closed (lists empty) -> Open / AssignExpr -> RecordList valid until Close or the next
// Open / AssignExpr. The expression and the optimizer tree live from Parse to Close.
#pragma once
#include <memory>
#include <string>

#include "engine/sql/orqExprEvaluator.h"
#include "engine/sql/orqExprParser.h"
#include "engine/sql/orqFilterOptimizer.h"
#include "engine/sql/orqPreParser.h"
#include "engine/sql/orqTableList.h"
#include "engine/storage/orqCompoundList.h"
#include "host/db/DBTypes.h"

namespace ostra {

// The query engine's parameters for handing an expression to a table's filter.
class TOrqFilterExprDriver {
public:
    bool OpenExistingExpr() const { return FOpenExistingExpr; }
    void SetOpenExistingExpr(bool v) { FOpenExistingExpr = v; }
    // Replace the filter text's expression instead of combining with it.
    bool OverwriteExpr() const { return FOverwriteExpr; }
    void SetOverwriteExpr(bool v) { FOverwriteExpr = v; }
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    void SetExcludeRelopNulls(bool v) { FExcludeRelopNulls = v; }
    // Written by the dataset after an assessment at olNone (the table's record count).
    int MaximalResultSetSize() const { return FMaximalResultSetSize; }
    void SetMaximalResultSetSize(int v) { FMaximalResultSetSize = v; }
    // The field whose limits AssessExpr reports.
    const std::string& LimitFieldName() const { return FLimitFieldName; }
    void SetLimitFieldName(const std::string& v) { FLimitFieldName = v; }
    // The expression to apply (not owned).
    TOrqExpr* FilterExpr() const { return FFilterExpr; }
    void SetFilterExpr(TOrqExpr* v) { FFilterExpr = v; }
    // Outputs of AssessExpr.
    TOrqFilterOptimisationLevel ExprOptimizationLevel() const { return FExprOptimizationLevel; }
    void SetExprOptimizationLevel(TOrqFilterOptimisationLevel v) { FExprOptimizationLevel = v; }
    const Variant& LimitFieldMax() const { return FLimitFieldMax; }
    void SetLimitFieldMax(const Variant& v) { FLimitFieldMax = v; }
    const Variant& LimitFieldMin() const { return FLimitFieldMin; }
    void SetLimitFieldMin(const Variant& v) { FLimitFieldMin = v; }
    // AssignExpr only assesses and builds no record list.
    bool AssessExprOnly() const { return FAssessExprOnly; }
    void SetAssessExprOnly(bool v) { FAssessExprOnly = v; }
    bool LimitsAssessed() const { return FLimitsAssessed; }
    void SetLimitsAssessed(bool v) { FLimitsAssessed = v; }
    bool LimitMinSet() const { return FLimitMinSet; }
    void SetLimitMinSet(bool v) { FLimitMinSet = v; }
    bool LimitMaxSet() const { return FLimitMaxSet; }
    void SetLimitMaxSet(bool v) { FLimitMaxSet = v; }
    // The result follows the row source's order.
    bool EnforceExprOrder() const { return FEnforceExprOrder; }
    void SetEnforceExprOrder(bool v) { FEnforceExprOrder = v; }
    const std::string& OrderIndexName() const { return FOrderIndexName; }
    void SetOrderIndexName(const std::string& v) { FOrderIndexName = v; }

private:
    bool FOpenExistingExpr = false;
    bool FOverwriteExpr = false;
    bool FExcludeRelopNulls = false;
    int FMaximalResultSetSize = 0;
    std::string FLimitFieldName;
    TOrqExpr* FFilterExpr = nullptr;
    TOrqFilterOptimisationLevel FExprOptimizationLevel = olNone;
    Variant FLimitFieldMax;
    Variant FLimitFieldMin;
    bool FAssessExprOnly = false;
    bool FLimitsAssessed = false;
    bool FLimitMinSet = false;
    bool FLimitMaxSet = false;
    bool FEnforceExprOrder = false;
    std::string FOrderIndexName;
};

// A cache of evaluated filter expressions; nothing is cached yet.
class TOrqFilterExprCache {};

// A filter over one row source (see the file comment).
class TOrqBaseFilterEvaluator {
public:
    TOrqBaseFilterEvaluator();
    virtual ~TOrqBaseFilterEvaluator();
    TOrqBaseFilterEvaluator(const TOrqBaseFilterEvaluator&) = delete;
    TOrqBaseFilterEvaluator& operator=(const TOrqBaseFilterEvaluator&) = delete;

    // Close, the row source's Open, Prepare, and when it parsed, Evaluate. False when the text
    // did not parse (GetErrors says why).
    bool Open();
    // Not active; every list empty; the expression and the optimizer tree dropped.
    void Close();
    // Close, Parse, and when it parsed, Optimize. False when the text did not parse or its
    // tree is deeper than C_MAXFILTEREXPRDEPTH.
    bool Prepare();
    // Parses FilterText as an expression over Tables with the filter options (foCaseInsensitive:
    // case-insensitive matching; without foNoPartialCompare a text ending in "*" matches as a
    // prefix). True when it parsed.
    bool Parse();
    // Simplifies the expression and builds the optimizer tree; false when the tree is too deep.
    bool Optimize();
    // Fills RecordList (see the file comment). EAssertionFailed "The Data provider is not
    // assigned" without row source.
    bool Evaluate();
    // Applies Driver's expression, ANDed (Operator) with the filter text's unless
    // Driver.OverwriteExpr; with Driver.AssessExprOnly only AssessExpr runs.
    void AssignExpr(TOrqFilterExprDriver& Driver, TOrqExprOperator Operator);
    // The optimizer's level and the limits of Driver.LimitFieldName into Driver; no list.
    bool AssessExpr(TOrqFilterExprDriver& Driver);
    // Why the last parse failed (without line number); empty when it did not.
    std::string GetErrors() const;
    // The parsed expression; with Detach its root first becomes the expression's first node.
    TOrqExpr* GetFilterExpr(bool Detach);
    int GetRecordCount() const { return FRecordList.Count(); }
    int GetBaseRecNo() const;

    // The result: (record address, record number) pairs in result order.
    const TCompoundList& RecordList() const { return FRecordList; }
    // The row source's records in its order (fetched by Evaluate when needed).
    const TCompoundList& DefaultRecords() const { return FDefaultRecords; }
    TOrqFilterOptimisationLevel OptimisationLevel() const { return FFilterOptimizer->GetBaseOptimisationLevel(); }
    TIndexQueryMgr& IndexQueryMgr() { return *FIndexQueryMgr; }
    TFilterOptimizer& FilterOptimizer() { return *FFilterOptimizer; }

    const std::string& FilterText() const { return FFilterText; }
    void SetFilterText(const std::string& v) { FFilterText = v; }
    TFilterOptions FilterOptions() const { return FFilterOptions; }
    void SetFilterOptions(TFilterOptions v) { FFilterOptions = v; }
    void SetTables(const TTableList* v) { FTables = v; }
    TOrqExprDataProvider* DataProvider() const { return FDataProvider; }
    void SetDataProvider(TOrqExprDataProvider* v) { FDataProvider = v; }
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    void SetExcludeRelopNulls(bool v) { FExcludeRelopNulls = v; }
    bool QueryActive() const { return FQueryActive; }
    void SetQueryActive(bool v) { FQueryActive = v; }
    bool SortedOutput() const { return FSortedOutput; }
    void SetSortedOutput(bool v) { FSortedOutput = v; }
    bool Active() const { return FActive; }
    void SetActive(bool v) { FActive = v; }
    // Whether Evaluate read the row source's whole list (else the result was put in order
    // without it, and DefaultRecords is empty).
    bool DefaultRecordsFetched() const { return FDefaultRecordsFetched; }
    // Evaluate every row, using no index (the reference the optimizer must agree with).
    bool ForceFullScan() const { return FFilterOptimizer->Mgr().ForceFullScan(); }
    void SetForceFullScan(bool v) { FFilterOptimizer->Mgr().SetForceFullScan(v); }

protected:
    // Puts Matching (in any order) into the row source's order, each address with its record
    // number, without listing every record; false (Matching untouched) when the row source
    // cannot, or when listing every record is cheaper. The base cannot.
    virtual bool OrderMatches(TCompoundList& Matching) { return false; }

private:
    // Sets the parser's matching flags and table list from the filter settings.
    void ConfigureParser();
    // The index lists combined into Matching or Candidates.
    void MergeRecordLists(TCompoundList& Candidates, TCompoundList& Matching);
    void FetchDefaultRecords();

    TCompoundList FDefaultRecords;
    bool FDefaultRecordsFetched = false;
    std::unique_ptr<TOrqPreParser> FPreParser;
    // The empty expression an assigned one starts from: pre-parsed once (its one end token is
    // never consumed), so that assigning again and again makes no new tokens.
    std::unique_ptr<TOrqPreParser> FEmptyPreParser;
    std::unique_ptr<TOrqExprParser> FExprParser;
    std::unique_ptr<TIndexQueryMgr> FIndexQueryMgr;
    std::unique_ptr<TFilterOptimizer> FFilterOptimizer;
    TOrqExprDataProvider* FDataProvider = nullptr;
    TOrqExpr FSavedExpr;  // a copy of the filter text's expression
    bool FExcludeRelopNulls = false;
    bool FActive = false;
    std::string FFilterText;
    TFilterOptions FFilterOptions;
    const TTableList* FTables = nullptr;
    TCompoundList FRecordList;
    bool FSortedOutput = false;
    bool FQueryActive = false;
    std::string FErrorText;  // a refusal after parsing (too deep)
};

}  // namespace ostra
