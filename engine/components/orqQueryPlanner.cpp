// The plan of a SELECT: its tree of join data providers (see orqQueryPlanner.h).
#include "engine/components/orqQueryPlanner.h"

#include <vector>

#include "engine/storage/orqErrors.h"
#include "host/Collation.h"
#include "host/Exceptions.h"

namespace ostra {

namespace {

// The name a provider is looked up by: the alias when there is one, else the table name.
std::string LookupName(const std::string& TableName, const std::string& CorrelationName) {
    return CorrelationName.empty() ? TableName : CorrelationName;
}

}  // namespace

TOrqPlan::~TOrqPlan() = default;

TOrqJoinType TOrqPlan::MapJoinType(TOrqTableRefType T) {
    switch (T) {
        case trCrossJoin:
            return jtCrossJoin;
        case trUnionJoin:
            return jtUnionJoin;
        case trInnerJoin:
            return jtInnerJoin;
        case trLeftOuterJoin:
            return jtLeftOuterJoin;
        case trRightOuterJoin:
            return jtRightOuterJoin;
        case trFullOuterJoin:
            return jtFullOuterJoin;
        default:
            return jtNone;
    }
}

void TOrqPlan::PreparePlan() {
    FProviderMgr->Clear();
    FResidualExpr.reset();
    AddResidual(FAnalysisResidual);
    FProviderMgr->SetRootProvider(ParseFromNode(FFromRoot));
    InternalCreateJoins();
    InternalJoinUnmatchedSelects();
    InternalAssignSelects();
}

void TOrqPlan::PrepareCrossJoinPlan() {
    InternalJoinUnmatchedSelects();
}

TOrqBaseJoinDataProvider* TOrqPlan::NewTableProvider(const std::string& TableName,
                                                     const std::string& CorrelationName) {
    const TTableNameItem* item = FTableList->FindTableName(TableName);
    TOrqBaseJoinDataProvider* p =
        FProviderMgr->GetNonJoinProvider(TableName, CorrelationName, item != nullptr && item->Memory());
    p->SetJoinType(jtInnerJoin);
    return p;
}

TOrqBaseJoinDataProvider* TOrqPlan::ParseFromNode(const TOrqTableRefNode* Node) {
    if (Node == nullptr) return nullptr;
    if (Node->JoinType() == trTableName) {
        Assert(Node->Left() == nullptr, "Node.left should be nil");
        Assert(Node->Right() == nullptr, "Node.right should be nil");
        return NewTableProvider(Node->Text(), Node->CorrelationName());
    }
    if (!IsJoinTableRef(Node->JoinType())) return nullptr;
    Assert(Node->Left() != nullptr, "Node.left should be assigned");
    Assert(Node->Right() != nullptr, "Node.right should be assigned");
    TOrqStdJoinDataProvider* join = FProviderMgr->GetStdJoinProvider();
    TOrqBaseJoinDataProvider* inner = ParseFromNode(Node->Right());
    TOrqBaseJoinDataProvider* outer = ParseFromNode(Node->Left());
    join->SetProviderName(Node->Text().empty() && outer != nullptr && inner != nullptr
                              ? outer->ProviderName() + "." + inner->ProviderName()
                              : Node->Text());
    join->SetCorrelationName(Node->CorrelationName());
    join->SetJoinType(MapJoinType(Node->JoinType()));
    join->SetInnerProvider(inner);
    join->SetOuterProvider(outer);
    join->SetJoinExpr(&Node->Expr());
    return join;
}

TOrqBaseJoinDataProvider* TOrqPlan::JoinOntoRoot(TOrqBaseJoinDataProvider* Outer, TOrqBaseJoinDataProvider* Inner,
                                                 TOrqJoinType Type, const TOrqExprNode* Condition) {
    TOrqStdJoinDataProvider* join = FProviderMgr->GetStdJoinProvider();
    join->SetProviderName(Outer->ProviderName() + "." +
                          LookupName(Inner->ProviderName(), Inner->CorrelationName()));
    join->SetOuterProvider(Outer);
    join->SetInnerProvider(Inner);
    join->SetJoinType(Type);
    join->SetJoinExprRoot(Condition);
    FProviderMgr->SetRootProvider(join);
    return join;
}

TOrqBaseJoinDataProvider* TOrqPlan::FindTableProvider(const std::string& TableName,
                                                      const std::string& CorrelationName) const {
    std::vector<TOrqBaseJoinDataProvider*> stack{FProviderMgr->RootProvider()};
    while (!stack.empty()) {
        TOrqBaseJoinDataProvider* p = stack.back();
        stack.pop_back();
        if (p == nullptr) continue;
        if (dynamic_cast<TOrqNonJoinDataProvider*>(p) != nullptr) {
            if (AnsiSameText(p->ProviderName(), TableName) && AnsiSameText(p->CorrelationName(), CorrelationName))
                return p;
            continue;
        }
        stack.push_back(p->OuterProvider());
        stack.push_back(p->InnerProvider());
    }
    return nullptr;
}

void TOrqPlan::InternalCreateJoins() {
    std::vector<TOrqJoinItem*> pending;
    for (int i = 0; i < FJoins->Count(); ++i) pending.push_back(FJoins->Items(i));
    auto inTree = [this](const TTableNameItem* t) {
        return FindTableProvider(t->TableName(), t->CorrelationName()) != nullptr;
    };
    while (!pending.empty()) {
        // The first item that brings one new table to the tree; failing that, the first item.
        std::size_t pick = 0;
        if (FProviderMgr->RootProvider() != nullptr)
            for (std::size_t i = 0; i < pending.size(); ++i) {
                const TTableList& tables = pending[i]->TableList();
                if (tables.Count() == 2 && inTree(tables.Items(0)) != inTree(tables.Items(1))) {
                    pick = i;
                    break;
                }
            }
        TOrqJoinItem* item = pending[pick];
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(pick));
        if (!InternalCreateJoin(*item)) AddResidual(item->JoinExprRoot());
    }
}

bool TOrqPlan::InternalCreateJoin(TOrqJoinItem& Item) {
    const TTableList& tables = Item.TableList();
    if (tables.Count() != 2) return false;
    const TTableNameItem* first = tables.Items(0);
    const TTableNameItem* second = tables.Items(1);
    const bool firstFound = FindTableProvider(first->TableName(), first->CorrelationName()) != nullptr;
    const bool secondFound = FindTableProvider(second->TableName(), second->CorrelationName()) != nullptr;
    if (firstFound && secondFound) return false;
    TOrqBaseJoinDataProvider* root = FProviderMgr->RootProvider();
    if (firstFound || secondFound) {
        const TTableNameItem* other = firstFound ? second : first;
        JoinOntoRoot(root, NewTableProvider(other->TableName(), other->CorrelationName()), jtInnerJoin,
                     Item.JoinExprRoot());
        return true;
    }
    TOrqBaseJoinDataProvider* outer = NewTableProvider(first->TableName(), first->CorrelationName());
    if (root != nullptr) outer = JoinOntoRoot(root, outer, jtCrossJoin, nullptr);
    JoinOntoRoot(outer, NewTableProvider(second->TableName(), second->CorrelationName()), jtInnerJoin,
                 Item.JoinExprRoot());
    return true;
}

void TOrqPlan::InternalJoinUnmatchedSelects() {
    for (int i = 0; i < FSelects->Count(); ++i) {
        const TOrqSelectItem* item = FSelects->Items(i);
        TOrqBaseJoinDataProvider* root = FProviderMgr->RootProvider();
        if (root == nullptr) {
            FProviderMgr->SetRootProvider(NewTableProvider(item->TableName(), item->CorrelationName()));
            continue;
        }
        if (FindTableProvider(item->TableName(), item->CorrelationName()) != nullptr) continue;
        JoinOntoRoot(root, NewTableProvider(item->TableName(), item->CorrelationName()), jtCrossJoin, nullptr);
    }
}

void TOrqPlan::InternalAssignSelects() {
    Assert(FProviderMgr->RootProvider() != nullptr, "Root provider is not assigned in InternalAssignSelects");
    for (int i = 0; i < FSelects->Count(); ++i) {
        const TOrqSelectItem* item = FSelects->Items(i);
        TOrqBaseJoinDataProvider* p = FindTableProvider(item->TableName(), item->CorrelationName());
        if (p == nullptr)
            OrqDatabaseError(10024, "TOrqPlan.InternalAssignSelects", item->TableName(), nullptr);
        p->SetJoinSelectExprRoot(item->SelectExprRoot());
    }
}

void TOrqPlan::AddResidual(const TOrqExprNode* Node) {
    AndIntoExpr(FResidualExpr, Node);
}

void TOrqQueryPlanner::CreatePlan(TOrqPlan* Plan) {
    Assert(Plan != nullptr, "The Plan is not assigned");
    Assert(Plan->TableList() != nullptr, "The TableList is not assigned");
    Assert(Plan->Joins() != nullptr, "The Joins is not assigned");
    Assert(Plan->Selects() != nullptr, "The Selects is not assigned");
    Assert(Plan->ProviderMgr() != nullptr, "The ProviderMgr is not assigned");
    Plan->PreparePlan();
}

}  // namespace ostra
