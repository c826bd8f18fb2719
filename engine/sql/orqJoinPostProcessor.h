// orqJoinPostProcessor: TJoinPostProcessor turns the column lists of USING and NATURAL joins
// into join conditions, once the query layer has loaded the tables' field lists into the
// statement's table list. For every join node of a FROM clause's reference tree, each listed
// column (for NATURAL: each column that both operands hold, in the order of the left
// operand's tables and fields) becomes an equality between the column of the table that holds
// it in the left subtree and the one in the right subtree, ANDed onto the node's ON condition.
// Each operand is qualified by its own table (alias, else table name).
//
// Every column an ON condition names must be one of the joined tables' (checked here too, once
// the fields are known).
//
// Failures leave their text in ErrorMsg: "Field not found in join tables: <col>", "Field
// (<col>) not found in table <table>", "Join ON field not found: <table> : <alias>", and for a
// NATURAL join whose operands share no column "Natural join tables have no common columns"
// (the join would otherwise be a cross product).
#pragma once
#include <string>
#include <vector>

#include "engine/sql/orqFromParser.h"
#include "engine/sql/orqTableList.h"

namespace ostra {

class TStringList;

inline constexpr char SorqJoinFieldNotInTables[] = "Field not found in join tables: ";
inline constexpr char SorqNaturalJoinNoCommonColumns[] = "Natural join tables have no common columns";

// A column resolved in a table of the table list.
struct TJoinField {
    const TTableNameItem* Table = nullptr;
    int FieldIndex = -1;
};

// Builds the conditions of USING and NATURAL joins (see the opening comment).
class TJoinPostProcessor {
public:
    // Processes the tree under Node; the table list must be assigned. True when ErrorMsg is
    // empty.
    bool ProcessJoinTree(TOrqTableRefNode* Node);

    // Left subtree, then right subtree, then Node's own columns. True when ErrorMsg is empty.
    bool InternalProcessNode(TOrqTableRefNode* Node);
    // The table reference under Node whose table holds the column Name (left before right);
    // none when there is none. Sets no error.
    TOrqTableRefNode* FindTableRefNodeForField(const std::string& Name, TOrqTableRefNode* Node) const;
    // Resolves FieldName in the table item named by CorrelationName (when set and found) or
    // TableName. False with ErrorMsg set when the table or the field is missing.
    bool FindJoinField(const std::string& FieldName, const std::string& TableName,
                       const std::string& CorrelationName, TJoinField& Field);
    // ANDs Field2 = Field1 onto Node's ON condition (when both are given). True when ErrorMsg
    // is empty.
    bool CreateJoinExpr(const TJoinField* Field1, const TJoinField* Field2, TOrqTableRefNode* Node);

    const std::string& ErrorMsg() const { return FErrorMsg; }
    // The statement's tables with their field lists (not owned).
    const TTableList* TableList() const { return FTableList; }
    void SetTableList(const TTableList* v) { FTableList = v; }

private:
    // The table item of a trTableName node; none when the list has no such table.
    const TTableNameItem* FindTableItem(const std::string& TableName,
                                        const std::string& CorrelationName) const;
    // The columns that a NATURAL join matches on: every column of a table in Node's left
    // subtree (in tree and field order, each name once) that a table in the right subtree holds.
    void GetCommonColumns(const TOrqTableRefNode* Node, TStringList& Columns) const;
    void CollectTables(const TOrqTableRefNode* Node, std::vector<const TOrqTableRefNode*>& Tables) const;
    // Every column Node's ON condition names is a column of a table the join brings together
    // (a qualified one of the table it names), else ErrorMsg "Field not found in join tables:
    // <col>"; an unqualified one held by two of them is "Field name is ambiguous: <col>". An
    // unqualified column gets its table's qualifier: the join's providers find each column by
    // its table.
    void CheckConditionColumns(TOrqTableRefNode* Node);

    std::string FErrorMsg;
    const TTableList* FTableList = nullptr;
};

}  // namespace ostra
