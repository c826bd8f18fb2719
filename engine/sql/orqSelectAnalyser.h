// orqSelectAnalyser: the result columns of a SELECT and the checks made against them.
//
// Once the FROM clause's tables carry their field lists, TOrqSelectAnalyser turns the select
// parser's chain (orqSelectParser.h) into TSelectFields, one TSelectFieldItem per output
// column, and checks the select list, GROUP BY, HAVING, ORDER BY and the UNION members against
// them. The query layer runs the checks in the order CheckSelect, CheckGroupedColumns,
// CheckHavingExpr, ValidateUnionSelectFields (per UNION member), CheckOrderByColumns, and
// builds the result table from the columns.
//
// Columns:
//   "*"          every field of every table, in table-list then field order; a name met
//                before gets "_1", "_2", ... (ID, ID_1)
//   "t.*"        every field of t (by table or correlation name); a t naming no table of the
//                statement is an error
//   a field      SourceTableItem and SourceFieldName name it; ExprRoot is null
//   computed     ExprRoot is the expression
//   aggregate    AggFunc; ExprRoot is the aggregate's argument (the COUNT(*) node itself);
//                when the aggregate sits inside a larger expression AggExprRoot is that
//                expression's root; a COUNT column is Integer
// A column is named by its alias, else by its text as written ("x.NAME", "COUNT(*)"). AutoInc
// columns become Integer.
//
// A failed check answers false and leaves its message in ErrorMsg.
#pragma once
#include <string>

#include "engine/sql/orqExprTree.h"
#include "engine/sql/orqSQLTypes.h"
#include "engine/sql/orqTableFields.h"
#include "engine/sql/orqTableList.h"
#include "engine/storage/orqRecordLayout.h"

namespace ostra {

class TOrqSelectNode;
class TGroupByItems;
class TOrderByItems;

// The most columns a SELECT DISTINCT may have.
inline constexpr int C_MAXDISTINCTCOLUMNS = 32;

// One output column of a SELECT. The inherited FieldName, DataType and FieldSize describe it.
class TSelectFieldItem : public TInternalFieldItem {
public:
    explicit TSelectFieldItem(TCollection* ACollection) : TInternalFieldItem(ACollection) {}

    // The inherited properties; from another TSelectFieldItem also (only) SourceTableItem.
    void Assign(const TPersistent* Source) override;

    // The table a plain column comes from (not owned); null for computed columns.
    TTableNameItem* SourceTableItem() const { return FSourceTableItem; }
    void SetSourceTableItem(TTableNameItem* v) { FSourceTableItem = v; }
    bool HasAggregateFunction() const { return FHasAggregateFunction; }
    void SetHasAggregateFunction(bool v) { FHasAggregateFunction = v; }
    // What is evaluated per row: the expression, an aggregate's argument (the COUNT(*) node
    // itself), null for a plain column. Belongs to the select parser's node.
    TOrqExprNode* ExprRoot() const { return FExprRoot; }
    void SetExprRoot(TOrqExprNode* v) { FExprRoot = v; }
    // The column's name in its source table (plain columns).
    const std::string& SourceFieldName() const { return FSourceFieldName; }
    void SetSourceFieldName(const std::string& v) { FSourceFieldName = v; }
    const std::string& RawColumnName() const { return FRawColumnName; }
    void SetRawColumnName(const std::string& v) { FRawColumnName = v; }
    // The aggregate was written with DISTINCT.
    bool DistinctQuantifier() const { return FDistinctQuantifier; }
    void SetDistinctQuantifier(bool v) { FDistinctQuantifier = v; }
    // The column is named in GROUP BY.
    bool IsGrouped() const { return FIsGrouped; }
    void SetIsGrouped(bool v) { FIsGrouped = v; }
    TOrqSQLAggFunc AggFunc() const { return FAggFunc; }
    void SetAggFunc(TOrqSQLAggFunc v) { FAggFunc = v; }
    const std::string& CustomQualifier() const { return FCustomQualifier; }
    void SetCustomQualifier(const std::string& v) { FCustomQualifier = v; }
    // For an aggregate inside a larger expression (SUM(x) * 2), that expression's root.
    TOrqExprNode* AggExprRoot() const { return FAggExprRoot; }
    void SetAggExprRoot(TOrqExprNode* v) { FAggExprRoot = v; }

private:
    TTableNameItem* FSourceTableItem = nullptr;
    bool FHasAggregateFunction = false;
    TOrqExprNode* FExprRoot = nullptr;
    std::string FSourceFieldName;
    std::string FRawColumnName;
    bool FDistinctQuantifier = false;
    bool FIsGrouped = false;
    TOrqSQLAggFunc FAggFunc = oafUnknown;
    std::string FCustomQualifier;
    TOrqExprNode* FAggExprRoot = nullptr;
};

// The output columns of a SELECT, in result order.
class TSelectFields : public TInternalFields {
public:
    explicit TSelectFields(TPersistent* AOwner = nullptr);

    // From another TSelectFields: cleared, then one item assigned per source item; from
    // anything else the inherited copy.
    void Assign(const TPersistent* Source) override;

    TSelectFieldItem* Add();
    // A column for the field at FieldIndex of Fields (the field list of TableItem): its type,
    // its size (the writeable size of a string), FieldName := trimmed Name, SourceFieldName :=
    // trimmed SourceFieldName.
    TSelectFieldItem* AddSelectField(const std::string& Name, const std::string& SourceFieldName,
                                     const IOrqTableFields& Fields, int FieldIndex,
                                     TTableNameItem* TableItem);
    TSelectFieldItem* GetItems(int Index) const { return static_cast<TSelectFieldItem*>(GetIndex(Index)); }
    void SetItems(int Index, const TSelectFieldItem* Item) { SetIndex(Index, Item); }
    // The column called Name (ignoring case); else the first whose trimmed raw text equals
    // the trimmed Name, ignoring case. Null when none.
    TSelectFieldItem* FindField(const std::string& Name) const;
    // FindField(ColumnName); else the first column whose SourceFieldName is ColumnName and
    // whose source table is called Qualifier (by table or correlation name; any table for an
    // empty Qualifier). Null when none.
    TSelectFieldItem* FindColumn(const std::string& Qualifier, const std::string& ColumnName) const;
    bool ContainsAggregateColumns() const;
    bool ContainsGroupedOutput() const;
};

// Builds the result columns of one SELECT and checks the statement against them.
class TOrqSelectAnalyser {
public:
    TOrqSelectAnalyser() = default;
    TOrqSelectAnalyser(const TOrqSelectAnalyser&) = delete;
    TOrqSelectAnalyser& operator=(const TOrqSelectAnalyser&) = delete;

    // Builds SelectFields from the chain under FirstNode against TableList (whose items must
    // carry their field lists); then turns AutoInc columns into Integer and, for DISTINCT,
    // checks the column count (at most 32) and the column types. False without a chain or a
    // table list.
    bool CheckSelect(TOrqSelectNode* FirstNode, TTableList* TableList);
    // Links every GROUP BY item to its column (IsGrouped, ResultSetIndex); with aggregates or
    // grouping every column must then be an aggregate or grouped. True for no items.
    bool CheckGroupedColumns(TGroupByItems* Items);
    // Rewrites the HAVING condition in place: each aggregate becomes a reference to the result
    // column computing it (matched by its text, COUNT(*) included); an aggregate or a field
    // that is not in the result is an error. True for no condition.
    bool CheckHavingExpr(TOrqExpr* HavingExpr);
    // Every column number is in range and every key names a result column. True for no items.
    bool CheckOrderByColumns(TOrderByItems* Items);
    // The result columns of one UNION member: as many as here, each convertible to the type
    // of the column here. False for none.
    bool ValidateUnionSelectFields(const TInternalFields* Fields);
    // Assigns Fields into SelectFields.
    void SetSelectFields(const TSelectFields& Fields) { FSelectFields.Assign(&Fields); }

    TSelectFields& SelectFields() { return FSelectFields; }
    const TSelectFields& SelectFields() const { return FSelectFields; }
    TOrqSelectNode* FirstNode() const { return FFirstNode; }
    TTableList* TableList() const { return FTableList; }
    const std::string& ErrorMsg() const { return FErrorMsg; }
    bool IsDistinct() const { return FIsDistinct; }
    void SetIsDistinct(bool v) { FIsDistinct = v; }

private:
    void PrepareAllFields();
    void AddFieldsForTable(const std::string& Qualifier, TTableNameItem* TableItem);
    void AnalyseColumnNode(TOrqSelectNode* Node);
    // The result column that computes the aggregate Node of a HAVING condition; null when none.
    TSelectFieldItem* FindAggregateColumn(const TOrqExprNode* Node) const;

    TSelectFields FSelectFields;
    TOrqSelectNode* FFirstNode = nullptr;
    TTableList* FTableList = nullptr;
    std::string FErrorMsg;
    bool FIsDistinct = false;
};

}  // namespace ostra
