// orqJoinEvaluator: the node evaluators of a hash join and the join evaluator's walk (see
// orqJoinAnalysis.h for the ways of matching and the rows each join type yields).
//
// The walk. The evaluator has a driving provider, walked row by row, and a matched provider,
// positioned on each partner of the current driving row in turn. For every driving row:
//   - hash mode: the row's key is looked up in every comparison's hash, the lists are combined
//     (AND intersects, OR unites) into the master list, and the hashed table's cursor is moved to
//     each address of it;
//   - expression loop over one table: the condition with the driving row's values becomes the
//     table's extra filter, and the table's rows through that filter are the partners;
//   - expression loop over a join, or a cross join: the matched side is walked and each pair
//     whose condition holds is a partner.
// When a driving row found no partner and its join type keeps it (left, right, full), one row
// with the matched side forced to NULL follows. Pass 2 (full and union joins) walks the inner
// side with the outer side forced to NULL: a full join skips the inner rows recorded as matched
// in pass 1, a union join takes them all; there is nothing to match in pass 2.
#include <algorithm>
#include <iterator>

#include "engine/components/orqJoinAnalysis.h"
#include "engine/components/orqJoinKey.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqHash.h"
#include "engine/storage/orqLogger.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/db/IndexDefs.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// TJoinExprNodeEvaluator

TJoinExprNodeEvaluator::TJoinExprNodeEvaluator(TJoinExprNode* Node) : FNode(Node) {}

TJoinExprNodeEvaluator::~TJoinExprNodeEvaluator() = default;

void TJoinExprNodeEvaluator::Prepare(TOrqNonJoinDataProvider* Provider) {
    Assert(FNode != nullptr, "TJoinExprNodeEvaluator - source node is not assigned");
    Assert(Provider != nullptr, "TJoinExprNodeEvaluator - InnerProvider is not assigned");
    TInternalFieldItem* field = nullptr;
    if (FNode->RightProvider == Provider) {
        field = FNode->RightSourceField;
        FHashedRight = true;
    } else if (FNode->LeftProvider == Provider) {
        field = FNode->LeftSourceField;
        FHashedRight = false;
    }
    Assert(field != nullptr, "Hash table SourceFieldName could not be set");
    TOrqDatasetBridge& bridge = *Provider->DataBridge();
    bridge.OpenBridge();
    TJoinKeyList keys;
    bridge.LoadJoinKeys(field->FieldNo(), keys, FFilterList, FFilterActive);
    // Sized from the keys loaded, so the hash cannot run full.
    const int n = keys.Count() + 10;
    FHash = std::make_unique<TOrqBaseHash>(2 * n, n, std::max(keys.MaxKeySize, 1));
    FHash->SetSourceFieldName(field->FieldName());
    FHash->SetDataType(field->DataType());
    uint32_t begin = 0;
    for (int i = 0; i < keys.Count(); ++i) {
        const uint32_t end = keys.Ends[size_t(i)];
        FHash->Add(keys.Bytes.data() + begin, int(end - begin), keys.Addresses[size_t(i)]);
        begin = end;
    }
    FMatchList.clear();
    FPrepared = true;
}

void TJoinExprNodeEvaluator::SetSourceKey(const char* Key, int Length, bool IsNull) {
    FMatchList.clear();
    if (IsNull || !FHash) return;
    FHash->GetMatchValues(Key, Length, FMatchList);
    std::sort(FMatchList.begin(), FMatchList.end());
}

void TJoinExprNodeEvaluator::LoadSourceKeyFromDrivingRow() {
    TOrqBaseJoinDataProvider* provider = FHashedRight ? FNode->LeftProvider : FNode->RightProvider;
    const TInternalFieldItem* field = FHashedRight ? FNode->LeftSourceField : FNode->RightSourceField;
    Assert(provider != nullptr && field != nullptr, "Source field no was not found in InternalResetHashTables");
    provider->GetRawFieldData(field->FieldNo(), FHolder);
    if (FHolder.IsNull || FHolder.UsesStream || !BuildJoinKey(field->DataType(), FHolder.Data, FHolder.Length, FKey)) {
        SetSourceKey(nullptr, 0, true);
        return;
    }
    SetSourceKey(FKey.data(), int(FKey.size()), false);
}

bool TJoinExprNodeEvaluator::CheckRecordInExpr(uint32_t Addr) const {
    return !FFilterActive || std::binary_search(FFilterList.begin(), FFilterList.end(), Addr);
}

// ---------------------------------------------------------------------------------------------
// TJoinEvaluator: preparation

TJoinEvaluator::TJoinEvaluator() = default;
TJoinEvaluator::~TJoinEvaluator() = default;

void TJoinEvaluator::Clear() {
    if (FJoinAnalyser)
        for (const auto& node : FJoinAnalyser->Nodes()) node->Evaluator = nullptr;
    FNodeEvaluators.clear();
    FHashedProvider = nullptr;
    FPairEvaluator.reset();
    FMasterList.clear();
    FCombined.clear();
}

namespace {

TOrqNonJoinDataProvider* AsSingle(TOrqBaseJoinDataProvider* P) { return dynamic_cast<TOrqNonJoinDataProvider*>(P); }

// Both join indexes give ranges of the same values: one key type, one collation.
bool RangesComparable(const TJoinExprAnalysis& Inner, const TJoinExprAnalysis& Outer) {
    auto* inner = AsSingle(Inner.DataProvider);
    auto* outer = AsSingle(Outer.DataProvider);
    if (!inner || !outer || !Inner.SourceIndexDef || !Outer.SourceIndexDef) return false;
    const TInternalFieldItem* innerField = inner->ProviderFields().GetField(Inner.SourceFieldNo);
    const TInternalFieldItem* outerField = outer->ProviderFields().GetField(Outer.SourceFieldNo);
    return innerField->DataType() == outerField->DataType() &&
           inner->DataBridge()->SortOrder() == outer->DataBridge()->SortOrder();
}

}  // namespace

void TJoinEvaluator::AnalyseAndOpenJoin() {
    Assert(FJoinAnalyser != nullptr, "The join analyser is not assigned");
    TJoinAnalyser& analyser = *FJoinAnalyser;
    Clear();
    FPlan = TJoinPlan();
    analyser.CreateAnalyserTree();
    TOrqBaseJoinDataProvider* inner = analyser.InnerProvider();
    TOrqBaseJoinDataProvider* outer = analyser.OuterProvider();
    const TOrqJoinType joinType = analyser.JoinType();
    // Only an inner join may choose its sides: the others keep the rows of a given side.
    bool swapAllowed = joinType == jtInnerJoin;

    TJoinExprAnalysis first, second;
    const bool analysed = analyser.AnalyseJoin(first, second) && first.AnalysisPossible && second.AnalysisPossible &&
                          AsSingle(inner) && AsSingle(outer);
    if (analysed) {
        const bool firstIsInner = first.DataProvider == inner;
        const TJoinExprAnalysis& innerAnalysis = firstIsInner ? first : second;
        const TJoinExprAnalysis& outerAnalysis = firstIsInner ? second : first;
        FPlan.IndexedJoin = first.IndexedJoin && second.IndexedJoin;
        FPlan.OuterExprExists = outer->JoinSelectExprRoot() != nullptr;
        FPlan.InnerExprExists = inner->JoinSelectExprRoot() != nullptr;
        FPlan.OuterProviderName = outer->ProviderName();
        FPlan.InnerProviderName = inner->ProviderName();
        FPlan.OuterExprOptLevel = outerAnalysis.ExprOptimizationLevel;
        FPlan.InnerExprOptLevel = innerAnalysis.ExprOptimizationLevel;
        // The range goes on the matched side only (a driving side must keep all its rows).
        const bool rangeAllowed = joinType == jtInnerJoin || joinType == jtLeftOuterJoin;
        bool ranged = false;
        if (innerAnalysis.ExprOptimizationLevel == olNone && FPlan.IndexedJoin && rangeAllowed &&
            RangesComparable(innerAnalysis, outerAnalysis)) {
            // The bounds come from the outer's index ends, so the outer side keeps its own
            // order (usually its storage order, which reads its records in turn).
            outer->SetSelectExpr(false, "");
            SetInnerProviderRange(innerAnalysis, outerAnalysis);
            inner->SetSelectExpr(true, innerAnalysis.SourceIndexDef->Name());
            ranged = FPlan.InnerRangeOn;
            if (ranged) swapAllowed = false;
        }
        if (!ranged) {
            outer->SetSelectExpr(false, "");
            inner->SetSelectExpr(false, "");
        }
        if (TDBLogger* logger = GDBLogger()) {
            TStringList lines;
            FPlan.DisplayPlan(lines);
            auto log = logger->LockLogList();
            for (int i = 0; i < lines.Count(); ++i) log->Add(lines.Strings(i));
        }
    } else {
        outer->SetSelectExpr(false, "");
        inner->SetSelectExpr(false, "");
    }
    if (swapAllowed && analyser.CanHashJoin()) analyser.DetermineInnerProvider();
    Prepare();
}

void TJoinEvaluator::SetInnerProviderRange(const TJoinExprAnalysis& Inner, const TJoinExprAnalysis& Outer) {
    auto* inner = AsSingle(Inner.DataProvider);
    auto* outer = AsSingle(Outer.DataProvider);
    if (!inner || !outer) return;
    // The lowest and highest key of the outer's join index bound every key the inner can match.
    Variant low, high;
    if (!outer->DataBridge()->GetIndexKeyBounds(Outer.SourceIndexDef->Name(), Outer.SourceFieldNo, low, high)) return;
    inner->DataBridge()->SetBridgeIndexRange(Inner.SourceIndexDef->Name(), low, high);
    FPlan.OuterRangeOn = true;
    FPlan.InnerRangeOn = true;
}

void TJoinEvaluator::SetFirstPassRoles() {
    FPass = 1;
    // A right join walks the inner side and looks partners up in the outer one.
    const bool right = FJoinAnalyser->JoinType() == jtRightOuterJoin;
    FDrivingProvider = right ? FJoinAnalyser->InnerProvider() : FJoinAnalyser->OuterProvider();
    FMatchedProvider = right ? FJoinAnalyser->OuterProvider() : FJoinAnalyser->InnerProvider();
}

void TJoinEvaluator::Prepare() {
    FJoinModeType = jmtJoinExpr;
    Clear();
    FMatchedRecords.clear();
    SetFirstPassRoles();
    InternalPrepare();
    if (FJoinAnalyser->JoinType() == jtUnionJoin) FMatchedProvider->SetForceToNullValues(true);
}

void TJoinEvaluator::InternalPrepare() {
    FDrivingProvider->SetForceToNullValues(false);
    FMatchedProvider->SetForceToNullValues(false);
    const TOrqJoinType joinType = FJoinAnalyser->JoinType();
    if (joinType == jtUnionJoin) return;
    if (joinType != jtCrossJoin && FJoinAnalyser->CanHashJoin() && AsSingle(FMatchedProvider)) {
        FHashedProvider = AsSingle(FMatchedProvider);
        InternalPrepareNodeEvaluators();
        FJoinModeType = jmtHashJoin;
        return;
    }
    // The expression loop over a join evaluates the condition over each pair.
    const TOrqExprNode* root = FJoinAnalyser->JoinExprRoot();
    if (joinType != jtCrossJoin && root != nullptr && !AsSingle(FMatchedProvider)) {
        FPairEvaluator = std::make_unique<TExprEvaluator>();
        FPairEvaluator->SetExcludeRelopNulls(true);
        FPairEvaluator->SetDBStringCompare(FJoinAnalyser->Provider()->DBStringCompare());
        FPairEvaluator->Prepare(FJoinAnalyser->Provider(), root);
    }
}

void TJoinEvaluator::InternalPrepareNodeEvaluators() {
    for (const auto& node : FJoinAnalyser->Nodes()) {
        if (!node->IsComparison()) continue;
        FNodeEvaluators.push_back(std::make_unique<TJoinExprNodeEvaluator>(node.get()));
        node->Evaluator = FNodeEvaluators.back().get();
        node->Evaluator->Prepare(FHashedProvider);
    }
}

// ---------------------------------------------------------------------------------------------
// TJoinEvaluator: matching

void TJoinEvaluator::InternalGetNextMatchList() {
    FMatchPosition = -1;
    for (const auto& evaluator : FNodeEvaluators) evaluator->LoadSourceKeyFromDrivingRow();
    InternalCombineRecordLists(FJoinAnalyser->Root());
    TJoinExprNode* root = FJoinAnalyser->Root();
    FMasterList.swap(root->IsComparison() ? root->Evaluator->MatchList() : FCombined[root]);
}

void TJoinEvaluator::InternalCombineRecordLists(TJoinExprNode* Node) {
    if (Node == nullptr || Node->IsComparison()) return;
    InternalCombineRecordLists(Node->Left);
    InternalCombineRecordLists(Node->Right);
    auto listOf = [this](TJoinExprNode* N) -> std::vector<uint32_t>& {
        return N->IsComparison() ? N->Evaluator->MatchList() : FCombined[N];
    };
    std::vector<uint32_t>& result = FCombined[Node];
    result.clear();
    const std::vector<uint32_t>& left = listOf(Node->Left);
    const std::vector<uint32_t>& right = listOf(Node->Right);
    switch (Node->ExprNode->Operator()) {
        case oeoAND:
            std::set_intersection(left.begin(), left.end(), right.begin(), right.end(), std::back_inserter(result));
            break;
        case oeoOR:
            std::set_union(left.begin(), left.end(), right.begin(), right.end(), std::back_inserter(result));
            break;
        default:
            OrqDatabaseError(8581, "TJoinEvaluator.InternalCombineRecordLists", "Invalid operator", nullptr);
    }
    // A hash can list one record twice for one key only if it was loaded twice; keep each once.
    result.erase(std::unique(result.begin(), result.end()), result.end());
}

bool TJoinEvaluator::NextHashMatch() {
    while (++FMatchPosition < int32_t(FMasterList.size()))
        if (FHashedProvider->DataBridge()->MoveToRecAddr(FMasterList[size_t(FMatchPosition)])) return true;
    return false;
}

bool TJoinEvaluator::PairMatches() {
    if (!FPairEvaluator) return true;
    FPairEvaluator->Reset();
    return FPairEvaluator->Evaluate();
}

bool TJoinEvaluator::NextLoopMatch() {
    bool found;
    if (!FMatchedPositioned) {
        FMatchedPositioned = true;
        found = FMatchedProvider->FirstProviderRecord();
    } else {
        found = FMatchedProvider->NextProviderRecord();
    }
    while (found && !PairMatches()) found = FMatchedProvider->NextProviderRecord();
    return found;
}

bool TJoinEvaluator::NullRowDue() const {
    return FPass == 1 && IsOuterJoinType(FJoinAnalyser->JoinType());
}

bool TJoinEvaluator::UpdateInnerProviderCursor() {
    FDrivingMatched = false;
    FNullRowDelivered = false;
    FMatchedPositioned = false;
    if (FPass == 2 || FJoinAnalyser->JoinType() == jtUnionJoin) return true;
    FMatchedProvider->SetForceToNullValues(false);
    if (FJoinModeType == jmtHashJoin) {
        InternalGetNextMatchList();
        return true;
    }
    const TOrqExprNode* root = FJoinAnalyser->JoinExprRoot();
    if (AsSingle(FMatchedProvider) && root != nullptr && FJoinAnalyser->JoinType() != jtCrossJoin)
        FJoinAnalyser->Provider()->ParseJoinExpr(root,
                                                 FMatchedProvider == FJoinAnalyser->Provider()->InnerProvider());
    return true;
}

bool TJoinEvaluator::NextMatch() {
    // Nothing to match: the driving row once, with the matched side NULL.
    if (FPass == 2 || FJoinAnalyser->JoinType() == jtUnionJoin) {
        if (FNullRowDelivered) return false;
        FNullRowDelivered = true;
        return true;
    }
    if (FNullRowDelivered) return false;
    const bool found = FJoinModeType == jmtHashJoin ? NextHashMatch() : NextLoopMatch();
    if (found) {
        FDrivingMatched = true;
        return true;
    }
    if (!FDrivingMatched && NullRowDue()) {
        FNullRowDelivered = true;
        FMatchedProvider->SetForceToNullValues(true);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// TJoinEvaluator: the walk

void TJoinEvaluator::CheckAddRecID() {
    if (FPass != 1 || FJoinAnalyser->JoinType() != jtFullOuterJoin || FMatchedProvider->NullsForced()) return;
    const std::string id = FMatchedProvider->CurrentRecordIDAsString();
    if (!id.empty()) FMatchedRecords.insert(id);
}

bool TJoinEvaluator::CheckPassRecID() {
    if (FPass != 2 || FJoinAnalyser->JoinType() != jtFullOuterJoin) return true;
    return FMatchedRecords.count(FDrivingProvider->CurrentRecordIDAsString()) == 0;
}

bool TJoinEvaluator::CheckNextPass() {
    const TOrqJoinType joinType = FJoinAnalyser->JoinType();
    if (FPass != 1 || (joinType != jtUnionJoin && joinType != jtFullOuterJoin)) return false;
    FPass = 2;
    // The inner side is walked now with its own condition only, the outer side reads as NULL.
    if (auto* single = AsSingle(FMatchedProvider)) single->SetExtraSelectExpRoot(nullptr);
    FDrivingProvider->SetForceToNullValues(false);
    FDrivingProvider = FJoinAnalyser->InnerProvider();
    FMatchedProvider = FJoinAnalyser->OuterProvider();
    FDrivingProvider->SetForceToNullValues(false);
    FMatchedProvider->SetForceToNullValues(true);
    return true;
}

bool TJoinEvaluator::Walk(bool Restart) {
    for (;;) {
        if (!FDrivingPositioned) {
            bool found = Restart ? FDrivingProvider->FirstProviderRecord() : FDrivingProvider->NextProviderRecord();
            Restart = false;
            while (found && !CheckPassRecID()) found = FDrivingProvider->NextProviderRecord();
            if (!found) {
                if (!CheckNextPass()) return false;
                Restart = true;
                continue;
            }
            FDrivingPositioned = true;
            UpdateInnerProviderCursor();
        }
        if (NextMatch()) {
            CheckAddRecID();
            return true;
        }
        FDrivingPositioned = false;
    }
}

bool TJoinEvaluator::FirstRecord() {
    Assert(FDrivingProvider != nullptr && FMatchedProvider != nullptr, "The join is not prepared");
    // Back to pass 1 with its roles (a walk may be started again, as an expression loop over a
    // join does for every row of its own driving side).
    if (FPass != 1) SetFirstPassRoles();
    FDrivingProvider->SetForceToNullValues(false);
    FMatchedProvider->SetForceToNullValues(FJoinAnalyser->JoinType() == jtUnionJoin);
    FMatchedRecords.clear();
    FDrivingPositioned = false;
    return Walk(true);
}

bool TJoinEvaluator::NextRecord() { return Walk(false); }

}  // namespace ostra
