// orqQueryPlanner: the plan of one SELECT. TOrqPlan builds the tree of join data providers
// (orqJoinDataProviderUnit.h) from which the result rows come:
//   1. the explicit joins of the FROM clause, as the FROM parser's tree gives them (a node's
//      Left is the outer side, its Right the inner side; its ON condition is the join's);
//   2. the join items of the WHERE analysis (orqQueryAnalyser.h), each an inner join on its
//      condition that brings one new table into the tree: the tree grows left-deep, the new
//      table always the inner side. Items are taken in WHERE order, except that an item
//      linking a new table to the tree goes before one whose tables are both new; when no
//      remaining item touches the tree, the first one's tables are added (the first by a
//      cross join, the second joined to it on the condition), so no earlier join is lost;
//   3. every table still missing, cross-joined onto the tree in table-list order;
//   4. each table's own condition (the analysis's select items) as its provider's filter.
// A join item whose tables are both in the tree already (a second condition between tables
// that an explicit join or an earlier item joined, a triangle of conditions), or that names
// more or fewer than two tables, cannot make a join: its condition joins the residual, which
// the caller evaluates over the joined rows (ResidualExprRoot, after the providers are open).
//
// Providers are found in the tree by their table name and correlation name together, so that
// a table and an alias of the same table are told apart. TOrqQueryPlanner checks that a plan
// has what it needs and prepares it.
#pragma once
#include <memory>
#include <string>

#include "engine/components/orqJoinDataProviderUnit.h"
#include "engine/components/orqQueryAnalyser.h"
#include "engine/sql/orqFromParser.h"

namespace ostra {

// The plan of one SELECT (see the opening comment). It owns none of its inputs.
class TOrqPlan {
public:
    TOrqPlan() = default;
    TOrqPlan(const TOrqPlan&) = delete;
    TOrqPlan& operator=(const TOrqPlan&) = delete;
    ~TOrqPlan();

    // Clears the provider manager and builds the whole tree: FROM joins, join items, unmatched
    // tables, select conditions. The manager's root provider is the tree's root. Raises 10024
    // "No such table" for a select item whose table is in no provider.
    void PreparePlan();
    // Only step 3 (every table of the select items cross-joined), for a caller without a FROM
    // tree and without joins to place.
    void PrepareCrossJoinPlan();
    // The join kind of a FROM tree node kind: trCrossJoin .. trFullOuterJoin give jtCrossJoin ..
    // jtFullOuterJoin; anything else jtNone.
    static TOrqJoinType MapJoinType(TOrqTableRefType T);

    const TTableList* TableList() const { return FTableList; }
    void SetTableList(const TTableList* v) { FTableList = v; }
    TOrqJoins* Joins() const { return FJoins; }
    void SetJoins(TOrqJoins* v) { FJoins = v; }
    TOrqSelects* Selects() const { return FSelects; }
    void SetSelects(TOrqSelects* v) { FSelects = v; }
    TOrqJoinDataProviderMgr* ProviderMgr() const { return FProviderMgr; }
    void SetProviderMgr(TOrqJoinDataProviderMgr* v) { FProviderMgr = v; }
    // The FROM clause's explicit join tree; null when it has none.
    const TOrqTableRefNode* FromRoot() const { return FFromRoot; }
    void SetFromRoot(const TOrqTableRefNode* v) { FFromRoot = v; }
    // The part of the WHERE condition the analysis could not place (its ResidualExprRoot); the
    // plan keeps a clone at PreparePlan. Null for none.
    void SetResidualExprRoot(const TOrqExprNode* v) { FAnalysisResidual = v; }
    // What must be evaluated over the joined rows after PreparePlan: the analysis's residual
    // ANDed with every join condition the plan could not place; null when nothing is left.
    TOrqExprNode* ResidualExprRoot() const { return FResidualExpr ? FResidualExpr->FirstNode() : nullptr; }

private:
    // The provider (sub)tree of the FROM tree under Node; null for none or a subquery.
    TOrqBaseJoinDataProvider* ParseFromNode(const TOrqTableRefNode* Node);
    void InternalCreateJoins();
    // Builds the join of one item onto the tree; false when the item cannot make a join.
    bool InternalCreateJoin(TOrqJoinItem& Item);
    void InternalJoinUnmatchedSelects();
    void InternalAssignSelects();

    // A single-table provider for the table (its memory flag from the table list).
    TOrqBaseJoinDataProvider* NewTableProvider(const std::string& TableName, const std::string& CorrelationName);
    // A join provider of Outer and Inner, named after them, made the root.
    TOrqBaseJoinDataProvider* JoinOntoRoot(TOrqBaseJoinDataProvider* Outer, TOrqBaseJoinDataProvider* Inner,
                                           TOrqJoinType Type, const TOrqExprNode* Condition);
    // The single-table provider of the table under the root; null when the tree has none.
    TOrqBaseJoinDataProvider* FindTableProvider(const std::string& TableName, const std::string& CorrelationName) const;
    void AddResidual(const TOrqExprNode* Node);

    const TTableList* FTableList = nullptr;
    TOrqJoins* FJoins = nullptr;
    TOrqSelects* FSelects = nullptr;
    TOrqJoinDataProviderMgr* FProviderMgr = nullptr;
    const TOrqTableRefNode* FFromRoot = nullptr;
    const TOrqExprNode* FAnalysisResidual = nullptr;
    std::unique_ptr<TOrqExpr> FResidualExpr;
};

// Checks that a plan has its inputs and prepares it.
class TOrqQueryPlanner {
public:
    // Assertions "The Plan is not assigned", "The TableList is not assigned", "The Joins is not
    // assigned", "The Selects is not assigned", "The ProviderMgr is not assigned"; then
    // Plan->PreparePlan().
    static void CreatePlan(TOrqPlan* Plan);
};

}  // namespace ostra
