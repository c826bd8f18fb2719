// The WHERE split of a SELECT (see orqQueryAnalyser.h).
#include "engine/components/orqQueryAnalyser.h"

#include "engine/sql/orqFromParser.h"
#include "host/Collation.h"

namespace ostra {

namespace {

bool SameTable(const TTableNameItem* A, const TTableNameItem* B) {
    return AnsiSameText(A->TableName(), B->TableName()) && AnsiSameText(A->CorrelationName(), B->CorrelationName());
}

// Whether List holds a table equal to Item.
bool ListHasTable(const TTableList& List, const TTableNameItem* Item) {
    for (int i = 0; i < List.Count(); ++i)
        if (SameTable(List.Items(i), Item)) return true;
    return false;
}

void AddTableOnce(TTableList& List, const TTableNameItem* Item) {
    if (!ListHasTable(List, Item)) List.Add()->Assign(Item);
}

}  // namespace

TOrqExprNode* AndIntoExpr(std::unique_ptr<TOrqExpr>& Expr, const TOrqExprNode* Node) {
    TOrqExprNode* root = Expr ? Expr->FirstNode() : nullptr;
    if (Node == nullptr) return root;
    if (!Expr) Expr = std::make_unique<TOrqExpr>();
    TOrqExprNode* clone = Expr->CloneSubTree(Node);
    root = root == nullptr ? clone : Expr->NewNode(enkLogicalOperator, oeoAND, Variant(), root, clone, nullptr);
    Expr->SetAsFirstNode(root);
    return root;
}

// --- select and join items -------------------------------------------------------------------

void TOrqSelectItem::SetSelectExprRoot(const TOrqExprNode* Node) {
    FSelectExprRoot = AndIntoExpr(FSelectExpr, Node);
}

TOrqSelectItem* TOrqSelects::GetSelectItem(const std::string& TableName, const std::string& CorrelationName) {
    for (int i = 0; i < Count(); ++i) {
        TOrqSelectItem* item = Items(i);
        if (AnsiSameText(item->TableName(), TableName) && AnsiSameText(item->CorrelationName(), CorrelationName))
            return item;
    }
    auto* item = static_cast<TOrqSelectItem*>(Add());
    item->SetTableName(TableName);
    item->SetCorrelationName(CorrelationName);
    return item;
}

void TOrqJoinItem::SetJoinExprRoot(const TOrqExprNode* Node) {
    FJoinExprRoot = AndIntoExpr(FJoinExpr, Node);
}

TOrqJoinItem* TOrqJoins::GetJoinItem(const TTableList& Tables) {
    for (int i = 0; i < Count(); ++i) {
        TOrqJoinItem* item = Items(i);
        const TTableList& own = item->TableList();
        if (own.Count() != Tables.Count()) continue;
        bool same = true;
        for (int t = 0; t < Tables.Count() && same; ++t) same = ListHasTable(own, Tables.Items(t));
        if (same) return item;
    }
    return static_cast<TOrqJoinItem*>(Add());
}

// --- the analyser ----------------------------------------------------------------------------

TOrqQueryAnalyser::~TOrqQueryAnalyser() = default;

TOrqExpr& TOrqQueryAnalyser::GetTempExpr() {
    if (!FTempExpr) FTempExpr = std::make_unique<TOrqExpr>();
    return *FTempExpr;
}

void TOrqQueryAnalyser::Clear() {
    FNodes.clear();
    FRoot = nullptr;
    FResidualExpr.reset();
    FNullableTables.Clear();
}

bool TOrqQueryAnalyser::CheckAnalysisComplete() const {
    return ResidualExprRoot() == nullptr;
}

void TOrqQueryAnalyser::Prepare(TOrqJoins& Joins, TOrqSelects& Selects, TOrqExprNode* Root,
                                const TTableList& TableList, const TOrqTableRefNode* FromRoot) {
    Clear();
    FJoins = &Joins;
    FSelects = &Selects;
    FTableList = &TableList;
    Joins.Clear();
    Selects.Clear();
    CollectNullableTables(FromRoot, false);
    FRoot = InternalCreateAnalyserTree(Root);
    CreateSelectList();
    if (FRoot == nullptr) return;
    ParseConjuncts(FRoot);
    CheckNodeSplitStatus(FRoot);
}

TQueryAnalyserNode* TOrqQueryAnalyser::NewNode(TOrqExprNode* ExprNode) {
    FNodes.push_back(std::make_unique<TQueryAnalyserNode>());
    TQueryAnalyserNode* node = FNodes.back().get();
    node->SetExprNode(ExprNode);
    return node;
}

TQueryAnalyserNode* TOrqQueryAnalyser::InternalCreateAnalyserTree(TOrqExprNode* Node) {
    if (Node == nullptr) return nullptr;
    TQueryAnalyserNode* node = NewNode(Node);
    if (Node->Kind() == enkLogicalOperator && Node->Operator() == oeoAND && Node->Left() != nullptr &&
        Node->Right() != nullptr) {
        node->SetLeft(InternalCreateAnalyserTree(Node->Left()));
        node->SetRight(InternalCreateAnalyserTree(Node->Right()));
        node->TableList().MergeLists(&node->Left()->TableList(), &node->Right()->TableList());
        node->SetHasSubquery(node->Left()->HasSubquery() || node->Right()->HasSubquery());
        return node;
    }
    bool hasSubquery = false;
    CollectTables(Node, node->TableList(), hasSubquery);
    node->SetHasSubquery(hasSubquery);
    return node;
}

void TOrqQueryAnalyser::CollectTables(const TOrqExprNode* Node, TTableList& List, bool& HasSubquery) const {
    // Walks with an explicit stack: a long OR chain may be as deep as the parser allows.
    std::vector<bool> used(static_cast<std::size_t>(FTableList->Count()), false);
    std::vector<const TOrqExprNode*> stack{Node};
    while (!stack.empty()) {
        const TOrqExprNode* n = stack.back();
        stack.pop_back();
        if (n == nullptr) continue;
        if (n->Kind() == enkSubquery) HasSubquery = true;
        if (n->Kind() == enkField && n->Tables().Count() > 0) {
            const TTableNameItem* ref = n->Tables().Items(0);
            const TTableNameItem* table = FTableList->FindTableAndCorrelationName(ref->TableName(), ref->CorrelationName());
            if (table != nullptr) used[static_cast<std::size_t>(table->Index())] = true;
        }
        stack.push_back(n->Left());
        if (n->Right() != n->Left()) stack.push_back(n->Right());
        for (const TOrqExprNode* a : n->Args()) stack.push_back(a);
    }
    // In the statement's order, so that join items name their tables as the FROM clause does.
    for (std::size_t i = 0; i < used.size(); ++i)
        if (used[i]) List.Add()->Assign(FTableList->Items(static_cast<int>(i)));
}

void TOrqQueryAnalyser::CreateSelectList() {
    for (int i = 0; i < FTableList->Count(); ++i) {
        const TTableNameItem* table = FTableList->Items(i);
        FSelects->GetSelectItem(table->TableName(), table->CorrelationName());
    }
}

void TOrqQueryAnalyser::ParseConjuncts(TQueryAnalyserNode* Node) {
    if (PlaceSelect(Node) || PlaceJoin(Node)) return;
    if (Node->Left() != nullptr) {
        ParseConjuncts(Node->Left());
        ParseConjuncts(Node->Right());
        return;
    }
    AddResidual(Node->ExprNode());
}

bool TOrqQueryAnalyser::PlaceSelect(TQueryAnalyserNode* Node) {
    if (Node->TableList().Count() != 1) return false;
    // A subquery may refer to any table of the statement; only a one-table statement's filter
    // sees every table it can name.
    if (Node->HasSubquery() && FTableList->Count() > 1) return false;
    // A correlated subquery reads the outer row from the row sources, which stand on the row
    // being checked only while the joined rows are walked, not while a table filter runs.
    if (Node->HasSubquery() && FSubqueriesInResidual) return false;
    const TTableNameItem* table = Node->TableList().Items(0);
    if (IsNullable(table)) return false;
    FSelects->GetSelectItem(table->TableName(), table->CorrelationName())->SetSelectExprRoot(Node->ExprNode());
    Node->SetSplitOK(true);
    return true;
}

bool TOrqQueryAnalyser::PlaceJoin(TQueryAnalyserNode* Node) {
    if (Node->TableList().Count() != 2 || Node->ExprNode()->Kind() != enkRelOperator || Node->HasSubquery())
        return false;
    TOrqJoinItem* item = FJoins->GetJoinItem(Node->TableList());
    item->SetJoinExprRoot(Node->ExprNode());
    if (item->TableList().Count() == 0) item->TableList().Assign(Node->TableList());
    Node->SetSplitOK(true);
    return true;
}

void TOrqQueryAnalyser::AddResidual(const TOrqExprNode* Node) {
    AndIntoExpr(FResidualExpr, Node);
}

bool TOrqQueryAnalyser::CheckNodeSplitStatus(TQueryAnalyserNode* Node) {
    if (Node == nullptr) return true;
    if (!Node->SplitOK() && Node->Left() != nullptr) {
        const bool left = CheckNodeSplitStatus(Node->Left());
        const bool right = CheckNodeSplitStatus(Node->Right());
        Node->SetSplitOK(left && right);
    }
    return Node->SplitOK();
}

void TOrqQueryAnalyser::CollectNullableTables(const TOrqTableRefNode* Node, bool Nullable) {
    if (Node == nullptr) return;
    if (Node->JoinType() == trTableName) {
        if (!Nullable) return;
        const TTableNameItem* table = FTableList->FindTableAndCorrelationName(Node->Text(), Node->CorrelationName());
        if (table != nullptr) AddTableOnce(FNullableTables, table);
        return;
    }
    const TOrqTableRefType t = Node->JoinType();
    const bool leftNullable = Nullable || t == trRightOuterJoin || t == trFullOuterJoin || t == trUnionJoin;
    const bool rightNullable = Nullable || t == trLeftOuterJoin || t == trFullOuterJoin || t == trUnionJoin;
    CollectNullableTables(Node->Left(), leftNullable);
    CollectNullableTables(Node->Right(), rightNullable);
}

bool TOrqQueryAnalyser::IsNullable(const TTableNameItem* Item) const {
    return ListHasTable(FNullableTables, Item);
}

}  // namespace ostra
