// orqSelectParser: the select list of a SELECT, the part between SELECT and FROM.
//
// TOrqSelectParser reads the list into a chain of TOrqSelectNode, one per item, each with its
// own expression tree; the select analyser (orqSelectAnalyser.h) turns the chain into the
// statement's result columns once the FROM clause's tables and their fields are known.
//
// Grammar:
//   list    [SELECT] [DISTINCT | ALL] ( "*" | [","] item { "," item } )
//   item    qualifier "." "*"                          snGroupColumn (all fields of a table)
//         | value-expression [[AS] ( name | 'text' )]  snSingleColumn, or snAggFunc when the
//                                                      item starts with an aggregate function
// A comma before the first item is skipped ("SELECT , a" is "SELECT a"). Value expressions
// take arithmetic, string functions and aggregates, but neither parameters nor subqueries.
//
// With tables in the table list, every field an item names must exist, and a field named
// without a qualifier must belong to exactly one table: a name that several tables hold is
// "Field name is ambiguous" (CheckFieldsUnambiguous, which the parser engine also applies to
// the WHERE condition).
//
// Errors follow the parser rule (first error kept with its position, never raised).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqBaseParser.h"
#include "engine/sql/orqExprTree.h"
#include "engine/sql/orqTableList.h"

namespace ostra {

class TStrings;

inline constexpr char SorqSelectTerminateErr[] = "Select clause incorrectly terminated";
inline constexpr char SorqAmbiguousFieldName[] = "Field name is ambiguous";

// The kind of a select item: a derived column (any value expression), all fields of one or
// every table ("*", "t.*"), or an item that starts with an aggregate function.
enum TSelectNodeType : uint8_t { snSingleColumn = 0, snGroupColumn = 1, snAggFunc = 2 };

// One item of a select list; the parser owns it.
class TOrqSelectNode {
public:
    TOrqSelectNode() = default;
    TOrqSelectNode(const TOrqSelectNode&) = delete;
    TOrqSelectNode& operator=(const TOrqSelectNode&) = delete;

    // Lines of the display table: kind and name lines, then the expression between
    // "Start Expr" and "End Expr".
    void Display(const std::string& Prefix, TStrings& Strings) const;
    // Left subtree, this node, right subtree; children with Prefix + two blanks.
    void DisplayTree(const std::string& Prefix, TStrings& Strings) const;
    // This node, then the next one with Prefix + two blanks, and so on.
    void DisplayList(const std::string& Prefix, TStrings& Strings) const;

    // The item's expression; null for "*" and "t.*". Owned.
    TOrqExpr* Expr() const { return FExpr.get(); }
    TOrqExpr* NewExpr();
    // Only walked by DisplayTree.
    TOrqSelectNode* Left() const { return FLeft; }
    void SetLeft(TOrqSelectNode* v) { FLeft = v; }
    // The next item in select-list order.
    TOrqSelectNode* Next() const { return FNext; }
    void SetNext(TOrqSelectNode* v) { FNext = v; }
    TOrqSelectNode* Right() const { return FRight; }
    void SetRight(TOrqSelectNode* v) { FRight = v; }
    // For "t.*" the table or correlation name; empty for "*".
    const std::string& Qualifier() const { return FQualifier; }
    void SetQualifier(const std::string& v) { FQualifier = v; }
    // The token the item began at (not owned).
    const TParserToken* Token() const { return FToken; }
    void SetToken(const TParserToken* v) { FToken = v; }
    // The item's text as parsed, trimmed.
    const std::string& RawColumnName() const { return FRawColumnName; }
    void SetRawColumnName(const std::string& v) { FRawColumnName = v; }
    TSelectNodeType SelectNodeType() const { return FSelectNodeType; }
    void SetSelectNodeType(TSelectNodeType v) { FSelectNodeType = v; }
    // The alias written after the item (with or without AS); empty when none.
    const std::string& OutputColumnName() const { return FOutputColumnName; }
    void SetOutputColumnName(const std::string& v) { FOutputColumnName = v; }

private:
    std::unique_ptr<TOrqExpr> FExpr;
    TOrqSelectNode* FLeft = nullptr;
    TOrqSelectNode* FNext = nullptr;
    TOrqSelectNode* FRight = nullptr;
    std::string FQualifier;
    const TParserToken* FToken = nullptr;
    std::string FRawColumnName;
    TSelectNodeType FSelectNodeType = snSingleColumn;
    std::string FOutputColumnName;
};

// Reads a select list (see the opening comment). End tokens: FROM, WHERE, GROUP BY, HAVING,
// ORDER BY and the end marker (in a subquery also its closing ")").
class TOrqSelectParser : public TBaseParser {
public:
    TOrqSelectParser();
    ~TOrqSelectParser() override;

    // Base Execute, then the list. True when no error was set.
    bool Execute(const TOrqParserOptions& Options, TParserStack* Stack) override;
    // Base Clear, then frees every node of the chain.
    void Clear() override;
    // The chain as text lines: DisplayList of the first node with an empty prefix.
    void DebugDisplay(TStrings& Strings) const;

    // The first item; null before a parse and after Clear.
    TOrqSelectNode* FirstNode() const { return FFirstNode; }
    // The tables the items may name (not owned; may be null).
    const TTableList* TableList() const { return FTableList; }
    void SetTableList(const TTableList* v) { FTableList = v; }
    bool IsDistinct() const { return FIsDistinct; }
    void SetIsDistinct(bool v) { FIsDistinct = v; }

private:
    void ParseSelect0();
    void ParseSubList();
    void ParseQualifierSequence();
    void ParseDerivedColumn(TSelectNodeType NodeType);
    void ParseSelectValueExpression(TOrqSelectNode* Node);
    TOrqSelectNode* NewSelectNode(TSelectNodeType NodeType);

    std::vector<std::unique_ptr<TOrqSelectNode>> FNodes;  // every node, in chain order
    TOrqSelectNode* FFirstNode = nullptr;
    const TTableList* FTableList = nullptr;
    bool FIsDistinct = false;
};

// Sets "Field name is ambiguous" on Parser, at the field's position, for the first field of
// Expr written without a qualifier that more than one table of Tables holds. True when there
// is none.
bool CheckFieldsUnambiguous(const TOrqExpr& Expr, const TTableList* Tables, TBaseParser& Parser);

}  // namespace ostra
