// orqJoinAnalysis: the join analyser (the join node tree, the assessment of both sides, the
// choice of sides by size) and the plan report. The evaluator is in orqJoinEvaluator.cpp.
#include "engine/components/orqJoinAnalysis.h"

#include <utility>

#include "engine/components/orqJoinKey.h"
#include "engine/sql/orqFilterEvaluator.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/db/IndexDefs.h"

namespace ostra {

const char* JoinOptLevelText(TOrqFilterOptimisationLevel Level) {
    switch (Level) {
        case olFull:
            return "Full";
        case olPartial:
            return "Partial";
        default:
            return "None";
    }
}

void TJoinPlan::DisplayPlan(TStrings& Lines) const {
    auto text = [](bool B) { return std::string(B ? "True" : "False"); };
    Lines.Add("Outer : " + OuterProviderName);
    Lines.Add("Inner : " + InnerProviderName);
    Lines.Add("Indexed : " + text(IndexedJoin));
    Lines.Add("Outer range on : " + text(OuterRangeOn));
    Lines.Add("Outer Expr exists : " + text(OuterExprExists));
    Lines.Add(std::string("Outer Expr opt level : ") + JoinOptLevelText(OuterExprOptLevel));
    Lines.Add("Inner range on : " + text(InnerRangeOn));
    Lines.Add("Inner Expr exists : " + text(InnerExprExists));
    Lines.Add(std::string("Inner Expr opt level : ") + JoinOptLevelText(InnerExprOptLevel));
}

// ---------------------------------------------------------------------------------------------
// TJoinAnalyser

TJoinAnalyser::TJoinAnalyser() = default;
TJoinAnalyser::~TJoinAnalyser() = default;

void TJoinAnalyser::SetJoinExpr(const TOrqExprNode* Root) {
    Clear();
    FJoinExpr.reset();
    if (Root == nullptr) return;
    FJoinExpr = std::make_unique<TOrqExpr>();
    FJoinExpr->CloneFromTree(Root);
}

const TOrqExprNode* TJoinAnalyser::JoinExprRoot() const { return FJoinExpr ? FJoinExpr->FirstNode() : nullptr; }

void TJoinAnalyser::Clear() {
    FRoot = nullptr;
    FNodes.clear();
}

void TJoinAnalyser::CreateAnalyserTree() {
    Clear();
    FRoot = InternalParseJoinNode(JoinExprRoot());
    if (FRoot) InternalCheckNodeSplitOK(FRoot);
}

namespace {

const TParserToken* TableToken(const TOrqExprNode& Node) {
    return Node.TokenArgs().empty() ? nullptr : Node.TokenArgs()[0];
}

// The ascending, case-sensitive index of a single-table provider whose only key field is Field;
// null when there is none. Only such an index gives a range that holds exactly the equal keys.
const TIndexDef* JoinIndexFor(TOrqBaseJoinDataProvider* Provider, const TInternalFieldItem& Field) {
    auto* single = dynamic_cast<TOrqNonJoinDataProvider*>(Provider);
    if (single == nullptr || single->DataBridge() == nullptr || !single->DataBridge()->InternalActive()) return nullptr;
    TIndexDefs& defs = single->DataBridge()->IndexDefs();
    defs.Update();
    for (int i = 0; i < defs.Count(); ++i) {
        const TIndexDef* def = defs.Items(i);
        const TIndexOptions options = def->Options();
        if (def->Fields() != Field.FieldName() || options.Contains(ixExpression) ||
            options.Contains(ixDescending) || options.Contains(ixCaseInsensitive) || !def->DescFields().empty() ||
            !def->CaseInsFields().empty())
            continue;
        return def;
    }
    return nullptr;
}

}  // namespace

TJoinExprNode* TJoinAnalyser::ParseComparison(const TOrqExprNode* Node) {
    const TOrqExprNode* left = Node->Left();
    const TOrqExprNode* right = Node->Right();
    // A comparison that matches parts of texts or ignores case is left to the evaluator.
    if (Node->CaseInsensitiveMatch() || left->CaseInsensitiveMatch() || right->CaseInsensitiveMatch() ||
        left->PartialLength() > 0 || right->PartialLength() > 0)
        return nullptr;
    auto find = [this](const TOrqExprNode& Field, TOrqBaseJoinDataProvider* First, TOrqBaseJoinDataProvider* Second) {
        const std::string table = JoinFieldTableName(Field);
        return FindJoinProviderIn(First, Second, table);
    };
    TOrqBaseJoinDataProvider* leftProvider = find(*left, FOuterProvider, FInnerProvider);
    TOrqBaseJoinDataProvider* rightProvider = find(*right, FInnerProvider, FOuterProvider);
    if (leftProvider == nullptr || rightProvider == nullptr || leftProvider == rightProvider) return nullptr;
    // One column on each side of the join, each read from a single table.
    const bool leftOuter = InProviderTree(FOuterProvider, leftProvider);
    const bool rightOuter = InProviderTree(FOuterProvider, rightProvider);
    if (leftOuter == rightOuter) return nullptr;
    if (!dynamic_cast<TOrqNonJoinDataProvider*>(leftProvider) || !dynamic_cast<TOrqNonJoinDataProvider*>(rightProvider))
        return nullptr;
    TInternalFieldItem* leftField = leftProvider->FindField(TableToken(*left), VarToStr(left->Data()));
    TInternalFieldItem* rightField = rightProvider->FindField(TableToken(*right), VarToStr(right->Data()));
    if (leftField == nullptr || rightField == nullptr) return nullptr;
    if (!JoinKeysCompatible(leftField->DataType(), rightField->DataType())) return nullptr;

    FNodes.push_back(std::make_unique<TJoinExprNode>());
    TJoinExprNode* node = FNodes.back().get();
    node->ExprNode = Node;
    node->SplitOK = true;
    node->LeftProvider = leftProvider;
    node->RightProvider = rightProvider;
    node->LeftSourceField = leftField;
    node->RightSourceField = rightField;
    node->LeftIndexDef = JoinIndexFor(leftProvider, *leftField);
    node->RightIndexDef = JoinIndexFor(rightProvider, *rightField);
    return node;
}

TJoinExprNode* TJoinAnalyser::InternalParseJoinNode(const TOrqExprNode* Node) {
    if (Node == nullptr) return nullptr;
    if (Node->Kind() == enkRelOperator && Node->Operator() == oeoEQ && Node->Left() != nullptr &&
        Node->Right() != nullptr && Node->Left()->Kind() == enkField && Node->Right()->Kind() == enkField)
        return ParseComparison(Node);
    if (Node->Kind() != enkLogicalOperator) return nullptr;
    FNodes.push_back(std::make_unique<TJoinExprNode>());
    TJoinExprNode* node = FNodes.back().get();
    node->ExprNode = Node;
    node->Left = InternalParseJoinNode(Node->Left());
    node->Right = InternalParseJoinNode(Node->Right());
    return node;
}

void TJoinAnalyser::InternalCheckNodeSplitOK(TJoinExprNode* Node) {
    if (Node == nullptr || Node->IsComparison()) return;
    InternalCheckNodeSplitOK(Node->Left);
    InternalCheckNodeSplitOK(Node->Right);
    const TOrqExprOperator op = Node->ExprNode->Operator();
    Node->SplitOK = Node->Left != nullptr && Node->Right != nullptr && Node->Left->SplitOK && Node->Right->SplitOK &&
                    (op == oeoAND || op == oeoOR);
}

bool TJoinAnalyser::CanHashJoin() const { return FRoot != nullptr && FRoot->SplitOK; }

void TJoinAnalyser::InternalAssessJoinExpr(TOrqBaseJoinDataProvider* Provider, TInternalFieldItem* Field,
                                           TJoinExprAnalysis& Analysis, const TIndexDef* IndexDef) {
    Analysis.IndexedJoin = IndexDef != nullptr;
    Analysis.ExprOptimizationLevel = olNone;
    auto* single = dynamic_cast<TOrqNonJoinDataProvider*>(Provider);
    Analysis.AnalysisPossible = single != nullptr;
    Analysis.DataProvider = Provider;
    Analysis.SourceIndexDef = IndexDef;
    if (single == nullptr) return;
    Analysis.SourceFieldNo = Field->FieldNo();
    Analysis.MaximalRecordCount = 0;
    if (single->JoinSelectExpr() == nullptr || single->JoinSelectExprRoot() == nullptr) return;
    // The table's own condition is assessed, not applied: which part of it an index answers.
    TOrqFilterExprDriver driver;
    driver.SetAssessExprOnly(true);
    driver.SetFilterExpr(single->JoinSelectExpr());
    driver.SetExcludeRelopNulls(true);
    driver.SetOverwriteExpr(false);
    single->DataBridge()->SetJoinSelectExprRoot(driver);
    Analysis.ExprOptimizationLevel = driver.ExprOptimizationLevel();
    Analysis.MaximalRecordCount = driver.MaximalResultSetSize();
}

bool TJoinAnalyser::AnalyseJoin(TJoinExprAnalysis& Left, TJoinExprAnalysis& Right) {
    if (FRoot == nullptr) return false;
    if (FRoot->LeftProvider)
        InternalAssessJoinExpr(FRoot->LeftProvider, FRoot->LeftSourceField, Left, FRoot->LeftIndexDef);
    if (FRoot->RightProvider)
        InternalAssessJoinExpr(FRoot->RightProvider, FRoot->RightSourceField, Right, FRoot->RightIndexDef);
    return true;
}

void TJoinAnalyser::DetermineInnerProvider() {
    if (FInnerProvider == nullptr || FOuterProvider == nullptr || FJoinType != jtInnerJoin) return;
    if (!dynamic_cast<TOrqNonJoinDataProvider*>(FInnerProvider) || !dynamic_cast<TOrqNonJoinDataProvider*>(FOuterProvider))
        return;
    const int outerCount = FOuterProvider->GetRecordCount();
    const int innerCount = FInnerProvider->GetRecordCount();
    const bool swap = outerCount > innerCount ||
                      (outerCount == innerCount && FInnerProvider->JoinSelectExprRoot() == nullptr &&
                       FOuterProvider->JoinSelectExprRoot() != nullptr);
    if (swap) std::swap(FInnerProvider, FOuterProvider);
}

}  // namespace ostra
