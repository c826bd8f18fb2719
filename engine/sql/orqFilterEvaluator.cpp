// orqFilterEvaluator: parsing, optimising and evaluating one filter over a row source.
#include "engine/sql/orqFilterEvaluator.h"

#include <algorithm>
#include <chrono>
#include <unordered_set>

#include "engine/storage/orqLogger.h"
#include "host/Exceptions.h"

namespace ostra {

namespace {

// Orders pairs by record address (reading rows in storage order); a list already in that order
// is left as it is.
void SortByAddress(TCompoundList& List) {
    if (!List.List1Sorted() && !std::is_sorted(List.List1().begin(), List.List1().end())) List.SortList1();
}

}  // namespace

TOrqBaseFilterEvaluator::TOrqBaseFilterEvaluator()
    : FPreParser(std::make_unique<TOrqPreParser>()),
      FExprParser(std::make_unique<TOrqExprParser>()),
      FIndexQueryMgr(std::make_unique<TIndexQueryMgr>()),
      FFilterOptimizer(std::make_unique<TFilterOptimizer>(FIndexQueryMgr.get())) {
    FExprParser->SetValidateFields(true);
}

TOrqBaseFilterEvaluator::~TOrqBaseFilterEvaluator() {
    // The optimizer refers to the parser's nodes: it goes first.
    FFilterOptimizer.reset();
}

bool TOrqBaseFilterEvaluator::Open() {
    Close();
    Assert(FDataProvider != nullptr, "The Data provider is not assigned");
    FDataProvider->Open();
    if (!Prepare()) return false;
    return Evaluate();
}

void TOrqBaseFilterEvaluator::Close() {
    FActive = false;
    FDefaultRecords.Clear();
    FDefaultRecordsFetched = false;
    FRecordList.Clear();
    FFilterOptimizer->Clear();
    FFilterOptimizer->SetExprRoot(nullptr);
    FPreParser->Clear();
    FErrorText.clear();
}

bool TOrqBaseFilterEvaluator::Prepare() {
    Close();
    if (!Parse()) return false;
    return Optimize();
}

void TOrqBaseFilterEvaluator::ConfigureParser() {
    FExprParser->Clear();
    FExprParser->SetCaseInsensitiveMatch(FFilterOptions.Contains(foCaseInsensitive));
    FExprParser->SetPartialStringComparison(!FFilterOptions.Contains(foNoPartialCompare));
    FExprParser->SetTableList(FTables);
}

bool TOrqBaseFilterEvaluator::Parse() {
    Close();
    FPreParser->SetParseAsExprOnly(true);
    FPreParser->SetText(FFilterText);
    FPreParser->PreParseTokens();
    ConfigureParser();
    TOrqParserOptions options;
    options.Include(opoExtSyntax);
    const bool parsed = FExprParser->Execute(options, FPreParser->GetSection(ostWhere, nullptr));
    FSavedExpr.Clear();
    if (parsed && FExprParser->RootNode() != nullptr) FSavedExpr.CloneFromTree(FExprParser->RootNode());
    return parsed;
}

bool TOrqBaseFilterEvaluator::Optimize() {
    FFilterOptimizer->SetExprRoot(FExprParser->RootNode());
    FFilterOptimizer->Mgr().SetExcludeRelopNulls(FExcludeRelopNulls);
    FIndexQueryMgr->SetExcludeRelopNulls(FExcludeRelopNulls);
    if (FFilterOptimizer->AnalyzeExpr()) return true;
    FErrorText = "Filter expression is nested too deeply";
    return false;
}

void TOrqBaseFilterEvaluator::FetchDefaultRecords() {
    FDefaultRecords.Clear();
    FDataProvider->GetDefaultRecordList(FDefaultRecords);
    FDefaultRecordsFetched = true;
}

void TOrqBaseFilterEvaluator::MergeRecordLists(TCompoundList& Candidates, TCompoundList& Matching) {
    const TOrqFilterOptimisationLevel level = FFilterOptimizer->GetBaseOptimisationLevel();
    // Index answers need the whole list only to put every record in order, or when every
    // record is the answer; the rest is ordered later, from the matches alone when it can.
    FDefaultRecords.Clear();
    FDefaultRecordsFetched = false;
    if (level == olNone || FFilterOptimizer->RootIsFixedTrue()) FetchDefaultRecords();
    if (level != olNone) {
        FFilterOptimizer->PrepareResultLists();
        FFilterOptimizer->CombineResultLists(FDefaultRecords);
    }
    const TCompoundList* indexed = FFilterOptimizer->GetResultSetList();
    switch (level) {
        case olFull:
            // The index lists are the answer, also for an expression handed over without a
            // filter text.
            Matching = *indexed;
            break;
        case olPartial:
            Candidates = *indexed;
            break;
        case olNone:
            Candidates = FDefaultRecords;
            break;
    }
}

bool TOrqBaseFilterEvaluator::Evaluate() {
    Assert(FDataProvider != nullptr, "The Data provider is not assigned");
    FRecordList.Clear();
    TCompoundList candidates, matching;
    const TOrqFilterOptimisationLevel level = FFilterOptimizer->GetBaseOptimisationLevel();
    // Every record is evaluated and the result put in order afterwards: the records are read
    // in storage order, each page of records once, without listing the cursor's index.
    const bool walkStorage = level == olNone && !FFilterOptimizer->RootIsFixedTrue() &&
                             !(FQueryActive && !FSortedOutput) && FDataProvider->StartStorageWalk();
    if (walkStorage) {
        FDefaultRecords.Clear();
        FDefaultRecordsFetched = false;
        TExprResultListGenerator::CreateResultListInStorageOrder(FDataProvider, FExprParser->RootNode(), matching,
                                                                 FExcludeRelopNulls);
    } else {
        MergeRecordLists(candidates, matching);
    }
    if (level != olFull && !walkStorage) {
        SortByAddress(candidates);
        TExprResultListGenerator::CreateResultList(FDataProvider, FExprParser->RootNode(), candidates, matching,
                                                   FExcludeRelopNulls);
    }
    if (FQueryActive && !FSortedOutput) {
        // In the order found; a longer list in address order.
        if (matching.Count() > 100) SortByAddress(matching);
        FRecordList = std::move(matching);
        return true;
    }
    // In the row source's order: from the matches alone when the row source can do so.
    if (!FDefaultRecordsFetched) {
        if (OrderMatches(matching)) {
            FRecordList = std::move(matching);
            return true;
        }
        FetchDefaultRecords();
    }
    std::unordered_set<uint32_t> found(matching.List1().begin(), matching.List1().end());
    const auto& addresses = FDefaultRecords.List1();
    const auto& numbers = FDefaultRecords.List2();
    for (size_t i = 0; i < addresses.size(); ++i)
        if (found.count(addresses[i]) != 0) FRecordList.Add(addresses[i], numbers[i]);
    return true;
}

void TOrqBaseFilterEvaluator::AssignExpr(TOrqFilterExprDriver& Driver, TOrqExprOperator Operator) {
    if (Driver.FilterExpr() == nullptr) return;
    const auto started = std::chrono::steady_clock::now();
    Close();
    ConfigureParser();
    // The parser's expression is replaced by the filter text's (unless overwritten) and the
    // driver's expression.
    FExprParser->SetValidateFields(true);
    TOrqParserOptions options;
    options.Include(opoExtSyntax);
    if (!FEmptyPreParser) {
        FEmptyPreParser = std::make_unique<TOrqPreParser>();
        FEmptyPreParser->SetParseAsExprOnly(true);
        FEmptyPreParser->SetText("");
        FEmptyPreParser->PreParseTokens();
    }
    FExprParser->Execute(options, FEmptyPreParser->GetSection(ostWhere, nullptr));
    const bool withText = !Driver.OverwriteExpr() && FSavedExpr.FirstNode() != nullptr;
    if (withText) FExprParser->CloneFromExpr(FSavedExpr, true, oeoAND);
    FExprParser->CloneFromExpr(*Driver.FilterExpr(), !withText, Operator);
    if (!Optimize()) return;
    if (Driver.AssessExprOnly())
        AssessExpr(Driver);
    else
        Evaluate();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    if (TDBLogger* logger = GDBLogger()) logger->NamedMonitorDelta("BaseFilterEvaluator.AssignExpr time", int32_t(elapsed));
}

bool TOrqBaseFilterEvaluator::AssessExpr(TOrqFilterExprDriver& Driver) {
    Driver.SetExprOptimizationLevel(FFilterOptimizer->GetBaseOptimisationLevel());
    TExprFieldLimits limits;
    limits.FieldName = Driver.LimitFieldName();
    FFilterOptimizer->AssessExprFieldLimits(limits);
    if (limits.Assessed) {
        Driver.SetLimitMinSet(limits.MinSet);
        Driver.SetLimitFieldMin(limits.Min);
        Driver.SetLimitMaxSet(limits.MaxSet);
        Driver.SetLimitFieldMax(limits.Max);
        Driver.SetLimitsAssessed(true);
    }
    return true;
}

std::string TOrqBaseFilterEvaluator::GetErrors() const {
    if (FExprParser->HasParseError()) return FExprParser->GetErrorMsgNoLine();
    return FErrorText;
}

TOrqExpr* TOrqBaseFilterEvaluator::GetFilterExpr(bool Detach) {
    TOrqExpr* expr = FExprParser->Expr();
    if (Detach && expr != nullptr) expr->SetAsFirstNode(FExprParser->RootNode());
    return expr;
}

int TOrqBaseFilterEvaluator::GetBaseRecNo() const { return FDataProvider != nullptr ? FDataProvider->BaseRecNo() : 0; }

}  // namespace ostra
