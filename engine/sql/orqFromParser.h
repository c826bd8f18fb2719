// orqFromParser: the FROM clause of a SELECT. TOrqFromParser reads the table references into
// the statement's table list (one TTableNameItem per table, in order of appearance) and the
// explicit joins into a tree of TOrqTableRefNode: kind, operands and ON condition. The query
// plan turns the tree's Root into its join providers; tables outside the tree are joined by
// cross product.
//
// Grammar:
//   from       [FROM] ref { [","] ref }            (the comma is optional: FROM a b c is a AS b, c)
//   ref        primary { join }
//   join       CROSS JOIN primary
//            | [NATURAL] [INNER | UNION | (LEFT | RIGHT | FULL) [OUTER] | OUTER] JOIN primary
//              [ ON condition | USING ( col {, col} ) ]
//   primary    ( ref ) | [TEMPORARY] name [[AS] alias]         (name: a word or "quoted")
// Joins are left-deep: a JOIN b ON x JOIN c ON y gives ((a, b), c); a node's Left is the outer
// side, its Right the inner side.
//
// Every inner or outer join needs its condition: ON, USING or NATURAL (the USING columns and
// the common columns of a NATURAL join become the condition once the tables' fields are known,
// see orqJoinPostProcessor.h); a join written without one is refused rather than run as a
// cross product. Several comma-separated references that contain joins are tied together by
// cross-join nodes, so that Root covers every join and its condition. A derived table (a
// subquery as a table reference) is refused with an error at its position.
//
// Nodes are owned by the parser's node list until the next Clear; Root is valid between a
// parse and the next Clear.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqBaseParser.h"
#include "engine/sql/orqExprTree.h"
#include "engine/sql/orqTableList.h"
#include "host/StringList.h"

namespace ostra {

class TStrings;

// clang-format off
enum TOrqTableRefType : uint8_t {
    trUnknown = 0, trCrossJoin = 1, trUnionJoin = 2, trInnerJoin = 3, trLeftOuterJoin = 4,
    trRightOuterJoin = 5, trFullOuterJoin = 6, trSubQuery = 7, trTableName = 8
};
// clang-format on

// Display names of the reference kinds, by ordinal.
extern const char* const COrqTableRefTypeNames[9];

// The six join kinds, trCrossJoin .. trFullOuterJoin.
inline bool IsJoinTableRef(TOrqTableRefType T) {
    return T >= trCrossJoin && T <= trFullOuterJoin;
}

// Messages of the FROM clause.
inline constexpr char SorqInvalidJoinSyntax[] = "Invalid cross join syntax - expected CROSS";
inline constexpr char SorqUsingMissingLParen[] = "Missing '(' from using join specification";
inline constexpr char SorqUsingInvalidColumnList[] = "Invalid column list syntax in using specification";
inline constexpr char SorqUsingMissingRParen[] = "Missing ')' from using join specification";
inline constexpr char SorqJoinConditionMissing[] = "Join condition missing - expected ON or USING";
inline constexpr char SorqDerivedTableNotSupported[] = "Subqueries are not supported as table references";
inline constexpr char SorqTableRefRParenMissing[] = "Missing Right Parenthesis in table reference";
inline constexpr char SorqJoinTableOutOfScope[] = "Join condition names a table outside its join";

// One node of the FROM clause's reference tree: a table, a join, or a (refused) subquery.
class TOrqTableRefNode {
public:
    TOrqTableRefNode();
    ~TOrqTableRefNode();
    TOrqTableRefNode(const TOrqTableRefNode&) = delete;
    TOrqTableRefNode& operator=(const TOrqTableRefNode&) = delete;

    // Adds Prefix + type name + " : text - " + Text, then the ON expression's dump.
    void Display(const std::string& Prefix, TStrings& Strings) const;
    // Left subtree, this node, right subtree; children with Prefix + two blanks.
    void DisplayTree(const std::string& Prefix, TStrings& Strings) const;

    // The ON condition of a join (empty otherwise); owned.
    TOrqExpr& Expr() { return *FExpr; }
    const TOrqExpr& Expr() const { return *FExpr; }
    TOrqTableRefType JoinType() const { return FJoinType; }
    void SetJoinType(TOrqTableRefType v) { FJoinType = v; }
    const std::string& InnerTable() const { return FInnerTable; }
    void SetInnerTable(const std::string& v) { FInnerTable = v; }
    const std::string& OuterTable() const { return FOuterTable; }
    void SetOuterTable(const std::string& v) { FOuterTable = v; }
    // The parser's join root at the time the node was made.
    TOrqTableRefNode* Next() const { return FNext; }
    void SetNext(TOrqTableRefNode* v) { FNext = v; }
    // A join's outer operand.
    TOrqTableRefNode* Left() const { return FLeft; }
    void SetLeft(TOrqTableRefNode* v) { FLeft = v; }
    // A join's inner operand.
    TOrqTableRefNode* Right() const { return FRight; }
    void SetRight(TOrqTableRefNode* v) { FRight = v; }
    // The table name of a trTableName node; empty for joins.
    const std::string& Text() const { return FText; }
    void SetText(const std::string& v) { FText = v; }
    bool IsNaturalJoin() const { return FIsNaturalJoin; }
    void SetIsNaturalJoin(bool v) { FIsNaturalJoin = v; }
    // The columns of a USING join; owned.
    TStrings& UsingColumnList() { return FUsingColumnList; }
    const TStrings& UsingColumnList() const { return FUsingColumnList; }
    // The alias of a trTableName node.
    const std::string& CorrelationName() const { return FCorrelationName; }
    // Qualifier names this table reference: its table name or its alias, ignoring case.
    bool IsNamed(const std::string& Qualifier) const;
    void SetCorrelationName(const std::string& v) { FCorrelationName = v; }

    // A token owned by this node with type ostTableName and text Qualifier: the qualifier of a
    // field node that the join post-processor builds into Expr (field nodes refer to their
    // qualifier token, they do not own it).
    TParserToken* NewQualifierToken(const std::string& Qualifier);

private:
    std::unique_ptr<TOrqExpr> FExpr;
    TOrqTableRefType FJoinType = trUnknown;
    std::string FInnerTable;
    std::string FOuterTable;
    TOrqTableRefNode* FNext = nullptr;
    TOrqTableRefNode* FLeft = nullptr;
    TOrqTableRefNode* FRight = nullptr;
    std::string FText;
    bool FIsNaturalJoin = false;
    TStringList FUsingColumnList;
    std::string FCorrelationName;
    TParserTokenList FQualifierTokens;
};

// Reads a FROM clause (see the opening comment). End tokens: WHERE, GROUP BY, HAVING, UNION,
// ORDER BY and the end marker (in a subquery also its closing ")").
class TOrqFromParser : public TBaseParser {
public:
    TOrqFromParser();
    ~TOrqFromParser() override;

    // Base Execute, then the clause; the table list and Root describe this run only. True when
    // no error was set.
    bool Execute(const TOrqParserOptions& Options, TParserStack* Stack) override;
    // Base Clear; frees every node, Root := none, empties the table list.
    void Clear() override;

    // A node of that type with Next = Root, kept in the node list.
    TOrqTableRefNode* NewTableRefNode(TOrqTableRefType JoinType);
    // The number of join nodes whose ON expression has a root.
    int GetExprCount() const;
    // Tables, joins and the tree as text lines ("StartTables" ... "EndTree").
    void DebugDisplay(TStrings& Strings) const;

    // One table item per table reference, in order of appearance; owned.
    TTableList& TableList() { return FTableList; }
    const TTableList& TableList() const { return FTableList; }
    // The top of the join tree; none when the clause has no explicit join.
    TOrqTableRefNode* Root() const { return FRoot; }
    int NodeCount() const { return static_cast<int>(FNodes.size()); }
    TOrqTableRefNode* Nodes(int Index) const { return FNodes.at(static_cast<std::size_t>(Index)).get(); }

private:
    void ParseFromClause();
    // A table reference with its joins.
    TOrqTableRefNode* ParseFrom0();
    TOrqTableRefNode* ParseFrom1();
    // A subquery (refused) or a primary reference. JoinOperand: the reference is a join's
    // inner operand.
    TOrqTableRefNode* ParseFrom2(bool JoinOperand);
    TOrqTableRefNode* ParseFrom3();
    // The ON condition, from the token after ON, into Node's Expr.
    void DoParseExpr(TOrqTableRefNode* Node);
    // Sets SorqJoinTableOutOfScope at the first qualified field of Node's ON condition whose
    // qualifier names no table of the join's operands (FROM b, d JOIN a ON b.s = a.s).
    void CheckJoinConditionScope(TOrqTableRefNode* Node);
    // The USING column list at "(", into Node's UsingColumnList.
    void ParseUsingColumns(TOrqTableRefNode* Node);
    // Sets Msg at the token after the current one (at the current one when none follows).
    void SetErrorAtNextToken(const char* Msg);

    bool IsJoinKeyword(TOrqSQLToken T) const;
    // The current token starts a join: a join keyword (UNION only when JOIN follows), or "("
    // whose second following token is a join keyword.
    bool AtJoin() const;

    TTableList FTableList;
    std::vector<std::unique_ptr<TOrqTableRefNode>> FNodes;
    // Join nodes made in this run: the reference tree is at most one taller, and may not pass
    // the nesting limit (orqBaseParser.h), so that walks over it stay within the stack.
    int FJoinNodes = 0;
    TOrqTableRefNode* FRoot = nullptr;
};

}  // namespace ostra
