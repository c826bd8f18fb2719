// orqQueryAnalyser: splits the WHERE condition of a SELECT into the pieces that can be applied
// before the tables are joined. The query plan (orqQueryPlanner.h) places the pieces on the
// join data providers; what is left over is the residual, evaluated over the joined rows.
//
// The split looks at the conjuncts of the WHERE condition: the operands of its top-level ANDs
// (a conjunct that is itself an AND is split further). Each conjunct goes to exactly one place:
//   - it references exactly one table of the statement -> that table's select item (the table's
//     own filter), unless the table is the NULL-supplying side of an outer or union join in the
//     FROM clause: a filter there would let the join make a NULL-extended row out of a row the
//     WHERE rejects, so such a condition stays in the residual;
//   - it is a comparison (enkRelOperator) between exactly two tables -> the join item of that
//     pair (the plan joins the pair on it);
//   - anything else (no table at all, three or more tables, an OR across tables, a subquery in a
//     statement of several tables) -> the residual.
// The tables of a conjunct are those of every field node in it, function arguments and IN
// lists included; outer fields of a correlated subquery (enkFunc) belong to no table here.
// Conditions on the same table, or between the same pair of tables, are ANDed in WHERE order.
// One conjunct that cannot be placed never keeps the others from being placed.
//
// Select items, join items and the residual hold their own clones of the conditions, so they
// stay valid after the WHERE tree is freed.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqExprTree.h"
#include "engine/sql/orqTableList.h"
#include "host/Collection.h"

namespace ostra {

class TOrqTableRefNode;

// ANDs a clone of Node's tree onto the condition that Expr holds (Expr is made when missing):
// the clone becomes the root of an empty expression, else the right operand of a new AND
// root. The root is always Expr's first node; returns it. A null Node changes nothing.
TOrqExprNode* AndIntoExpr(std::unique_ptr<TOrqExpr>& Expr, const TOrqExprNode* Node);

// The condition of one table (an item of TOrqSelects).
class TOrqSelectItem : public TCollectionItem {
public:
    explicit TOrqSelectItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    // The first call clones Node's tree into the item's own expression as its root; each later
    // call makes a new root: an AND of the previous root (left) and a clone of Node's tree.
    void SetSelectExprRoot(const TOrqExprNode* Node);

    // The expression holding the condition; null until the first condition.
    TOrqExpr* SelectExpr() const { return FSelectExpr.get(); }
    // The root of the table's condition; null when the table has none.
    TOrqExprNode* SelectExprRoot() const { return FSelectExprRoot; }
    const std::string& CorrelationName() const { return FCorrelationName; }
    void SetCorrelationName(const std::string& v) { FCorrelationName = v; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& v) { FTableName = v; }

private:
    std::unique_ptr<TOrqExpr> FSelectExpr;
    TOrqExprNode* FSelectExprRoot = nullptr;
    std::string FCorrelationName;
    std::string FTableName;
};

// One select item per (table name, correlation name) pair of the statement.
class TOrqSelects : public TCollection {
public:
    TOrqSelects() : TCollection(ItemClassOf<TOrqSelectItem>()) {}

    TOrqSelectItem* Items(int Index) const { return static_cast<TOrqSelectItem*>(TCollection::Items(Index)); }
    // The item whose table name and correlation name equal the arguments (ignoring case); a new
    // item with these names when there is none.
    TOrqSelectItem* GetSelectItem(const std::string& TableName, const std::string& CorrelationName);
};

// The condition that joins one set of tables (an item of TOrqJoins).
class TOrqJoinItem : public TCollectionItem {
public:
    explicit TOrqJoinItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    // As TOrqSelectItem::SetSelectExprRoot, into the join expression.
    void SetJoinExprRoot(const TOrqExprNode* Node);

    TOrqExprNode* JoinExprRoot() const { return FJoinExprRoot; }
    // The expression holding the condition; null until the first condition.
    TOrqExpr* JoinExpr() const { return FJoinExpr.get(); }
    // The tables the condition joins (copies of the statement's table items).
    TTableList& TableList() { return FTableList; }
    const TTableList& TableList() const { return FTableList; }

private:
    TOrqExprNode* FJoinExprRoot = nullptr;
    std::unique_ptr<TOrqExpr> FJoinExpr;
    TTableList FTableList;
};

// One join item per set of tables, in the order the sets first appear in the WHERE clause.
class TOrqJoins : public TCollection {
public:
    TOrqJoins() : TCollection(ItemClassOf<TOrqJoinItem>()) {}

    TOrqJoinItem* Items(int Index) const { return static_cast<TOrqJoinItem*>(TCollection::Items(Index)); }
    // The first item whose table set equals Tables (by table name and correlation name); a new
    // item with an empty table list when there is none.
    TOrqJoinItem* GetJoinItem(const TTableList& Tables);
};

// The analyser's mirror of one WHERE node on the AND spine (the root and the operands of its
// ANDs, recursively).
class TQueryAnalyserNode {
public:
    // Every table of the statement that ExprNode's subtree references.
    TTableList& TableList() { return FTableList; }
    TQueryAnalyserNode* Left() const { return FLeft; }
    void SetLeft(TQueryAnalyserNode* v) { FLeft = v; }
    TQueryAnalyserNode* Right() const { return FRight; }
    void SetRight(TQueryAnalyserNode* v) { FRight = v; }
    // The WHERE node this node mirrors (not owned).
    TOrqExprNode* ExprNode() const { return FExprNode; }
    void SetExprNode(TOrqExprNode* v) { FExprNode = v; }
    // The node's condition has been placed: on a select item or a join item, or, for an AND,
    // both operands have been.
    bool SplitOK() const { return FSplitOK; }
    void SetSplitOK(bool v) { FSplitOK = v; }
    // The subtree holds a subquery.
    bool HasSubquery() const { return FHasSubquery; }
    void SetHasSubquery(bool v) { FHasSubquery = v; }

private:
    TTableList FTableList;
    TQueryAnalyserNode* FLeft = nullptr;
    TQueryAnalyserNode* FRight = nullptr;
    TOrqExprNode* FExprNode = nullptr;
    bool FSplitOK = false;
    bool FHasSubquery = false;
};

// Splits a WHERE condition into select items, join items and the residual (see the opening
// comment).
class TOrqQueryAnalyser {
public:
    TOrqQueryAnalyser() = default;
    TOrqQueryAnalyser(const TOrqQueryAnalyser&) = delete;
    TOrqQueryAnalyser& operator=(const TOrqQueryAnalyser&) = delete;
    ~TOrqQueryAnalyser();

    // Empties Joins and Selects and fills them: one select item per table of TableList, with
    // its conditions, and one join item per pair of tables compared in the WHERE clause; the
    // rest becomes the residual. Root (the WHERE root; may be null) and TableList must stay
    // valid until the next Prepare or Clear; the caller usually passes a clone held in
    // GetTempExpr. FromRoot is the FROM clause's explicit join tree (null when there is none):
    // tables on the NULL-supplying side of its outer and union joins get no condition.
    void Prepare(TOrqJoins& Joins, TOrqSelects& Selects, TOrqExprNode* Root, const TTableList& TableList,
                 const TOrqTableRefNode* FromRoot = nullptr);
    // True when there is no WHERE condition or all of it was placed (no residual).
    bool CheckAnalysisComplete() const;
    // Every conjunct holding a subquery goes to the residual (set when a subquery of the
    // statement reads its current row).
    bool SubqueriesInResidual() const { return FSubqueriesInResidual; }
    void SetSubqueriesInResidual(bool v) { FSubqueriesInResidual = v; }
    // The part of the WHERE condition that must be evaluated over the joined rows: the AND of
    // the conjuncts that were not placed, in WHERE order; null when there is none.
    TOrqExprNode* ResidualExprRoot() const { return FResidualExpr ? FResidualExpr->FirstNode() : nullptr; }
    // The analyser's temporary expression (made on the first call, freed with the analyser).
    TOrqExpr& GetTempExpr();
    // Frees the analyser nodes and the residual; no root.
    void Clear();

    // The mirror of the WHERE root; null without a WHERE condition.
    TQueryAnalyserNode* RootNode() const { return FRoot; }

private:
    TQueryAnalyserNode* NewNode(TOrqExprNode* ExprNode);
    // The mirror of the AND spine under Node, with each node's table list.
    TQueryAnalyserNode* InternalCreateAnalyserTree(TOrqExprNode* Node);
    // Adds the statement's tables that the subtree under Node references (Left, Right and
    // Args) to List; notes a subquery in HasSubquery.
    void CollectTables(const TOrqExprNode* Node, TTableList& List, bool& HasSubquery) const;
    void CreateSelectList();
    // Places the conjunct under Node, or each operand of an AND; the rest goes to the residual.
    void ParseConjuncts(TQueryAnalyserNode* Node);
    bool PlaceSelect(TQueryAnalyserNode* Node);
    bool PlaceJoin(TQueryAnalyserNode* Node);
    void AddResidual(const TOrqExprNode* Node);
    // Whether Node and its AND operands are all placed (the root's result tells completeness).
    bool CheckNodeSplitStatus(TQueryAnalyserNode* Node);
    // Notes the tables on the NULL-supplying side of the outer and union joins under Node.
    void CollectNullableTables(const TOrqTableRefNode* Node, bool Nullable);
    bool IsNullable(const TTableNameItem* Item) const;

    TOrqJoins* FJoins = nullptr;
    TOrqSelects* FSelects = nullptr;
    TQueryAnalyserNode* FRoot = nullptr;
    std::vector<std::unique_ptr<TQueryAnalyserNode>> FNodes;
    const TTableList* FTableList = nullptr;
    std::unique_ptr<TOrqExpr> FTempExpr;
    std::unique_ptr<TOrqExpr> FResidualExpr;
    TTableList FNullableTables;
    bool FSubqueriesInResidual = false;
};

}  // namespace ostra
