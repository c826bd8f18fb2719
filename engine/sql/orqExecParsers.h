// orqExecParsers: the parsers of the three data-changing statements, INSERT, UPDATE and DELETE,
// and the row constructors that carry the values they store.
//
// A row constructor holds one element per value: a constant read at parse time (Data) or an
// expression evaluated per row (Expr, with its own evaluator). A statement part that needs a
// whole query (the SELECT of INSERT ... SELECT, the WHERE of UPDATE and DELETE) is not parsed
// here: the parser makes a subquery node and raises pntSubquery through its notify event, and
// the parser engine hands the remaining tokens to a nested engine, after which this parser
// resumes behind the nested statement. Without a notify event nobody consumes that part and
// the statement is reported as incorrectly terminated.
//
// Grammar (the parsers read a statement's whole single stack, keyword first):
//   INSERT INTO table [ ( col {, col} ) ] ( VALUES ( value {, value} ) | SELECT ... )
//   UPDATE table SET [table.]col = value {, [table.]col = value} [WHERE ...]
//   DELETE FROM table [WHERE ...]
// A value that is one token before "," or ")" (INSERT) or before ",", WHERE or the end
// (UPDATE) and is a string, number, NULL, TRUE, FALSE or CURRENT_DATE/TIME/TIMESTAMP is a
// constant; anything else is an expression. INSERT values may not name fields.
//
// Errors follow the parser rule (first error kept, never raised), with the position of the
// token they were set at; the column validations carry no position. A number constant that is
// not a valid number text raises EConvertError, and a date text for a temporal column that
// cannot be read raises engine error 10059 or 10058 (orqDataConversion.h).
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "engine/sql/orqBaseParser.h"
#include "engine/sql/orqExprTree.h"
#include "engine/sql/orqTableFields.h"
#include "engine/sql/orqTableList.h"
#include "host/Collection.h"
#include "host/StringList.h"
#include "host/Variant.h"
#include "host/db/FieldType.h"

namespace ostra {

class TExprEvaluator;
class TOrqExprDataProvider;
class TInternalFields;
class TParams;

// Statement texts of these parsers that the shared message table does not hold.
inline constexpr char SorqInsertStatementTerminateErr[] = "Insert statement incorrectly terminated";
inline constexpr char SorqUpdateStatementTerminateErr[] = "Update statement incorrectly terminated";
inline constexpr char SorqDeleteStatementTerminateErr[] = "Delete statement incorrectly terminated";

// One value of a row constructor: a constant or an expression with its evaluator.
class TOrqRowConstructorElement : public TCollectionItem {
public:
    explicit TOrqRowConstructorElement(TCollection* ACollection);
    ~TOrqRowConstructorElement() override;

    // The expression, made (with its evaluator) on first use.
    TOrqExpr* GetExpr();
    // The expression when one was made; null for a constant.
    TOrqExpr* Expr() const { return FExpr.get(); }
    // With a prepared evaluator, the expression's value for the current row; otherwise Data.
    Variant GetRowData();
    // With an expression: prepares the evaluator over Provider (may be null when the
    // expression names no field) and lets comparisons with nulls yield a value.
    virtual void Prepare(TOrqExprDataProvider* Provider);
    // With HasParameter and Params: every parameter node of the expression becomes a constant
    // of the parameter's value and type; without an expression Data (the parameter's name) is
    // replaced by the value. An unknown name raises the parameter list's error.
    void BindExprParams(const TParams* Params);

    const Variant& Data() const { return FData; }
    void SetData(const Variant& v) { FData = v; }
    bool HasParameter() const { return FHasParameter; }
    void SetHasParameter(bool v) { FHasParameter = v; }

private:
    std::unique_ptr<TOrqExpr> FExpr;
    Variant FData;
    std::unique_ptr<TExprEvaluator> FEvaluator;
    bool FHasParameter = false;
};

// An element of an UPDATE: the value and the column it is assigned to.
class TOrqUpdateRowConstructorElement : public TOrqRowConstructorElement {
public:
    explicit TOrqUpdateRowConstructorElement(TCollection* ACollection)
        : TOrqRowConstructorElement(ACollection) {}

    const std::string& TargetColumnName() const { return FTargetColumnName; }
    void SetTargetColumnName(const std::string& v) { FTargetColumnName = v; }
    // The column's position in the target table; set by the layer that runs the statement.
    int TargetColumnIndex() const { return FTargetColumnIndex; }
    void SetTargetColumnIndex(int v) { FTargetColumnIndex = v; }

private:
    std::string FTargetColumnName;
    int FTargetColumnIndex = 0;
};

// The values of one row, in statement order (owns its elements).
class TOrqRowConstructor : public TCollection {
public:
    TOrqRowConstructor() : TCollection(ItemClassOf<TOrqRowConstructorElement>()) {}

    TOrqRowConstructorElement* Add() { return static_cast<TOrqRowConstructorElement*>(TCollection::Add()); }
    TOrqRowConstructorElement* GetItems(int Index) const {
        return static_cast<TOrqRowConstructorElement*>(TCollection::Items(Index));
    }
    // BindExprParams of every element written as a parameter.
    void BindParams(const TParams* Params);
    // Prepare of every element.
    virtual void Prepare(TOrqExprDataProvider* Provider);

protected:
    explicit TOrqRowConstructor(TCollectionItemClass AItemClass) : TCollection(std::move(AItemClass)) {}
};

// The assignments of an UPDATE.
class TOrqUpdateRowConstructor : public TOrqRowConstructor {
public:
    TOrqUpdateRowConstructor() : TOrqRowConstructor(ItemClassOf<TOrqUpdateRowConstructorElement>()) {}

    TOrqUpdateRowConstructorElement* Add() {
        return static_cast<TOrqUpdateRowConstructorElement*>(TCollection::Add());
    }
    TOrqUpdateRowConstructorElement* GetItems(int Index) const {
        return static_cast<TOrqUpdateRowConstructorElement*>(TCollection::Items(Index));
    }
};

// Asked by the UPDATE parser once the target table is in the table list: may check it and
// load its fields; false fails the statement with "Table and/or field not found".
using TTableListValidateEvent = std::function<bool(TTableList* Tables)>;

// The parser of INSERT INTO ... VALUES / SELECT.
class TOrqInsertParser : public TBaseParser {
public:
    TOrqInsertParser();
    ~TOrqInsertParser() override;

    // Parses the statement from its INSERT keyword; true when no error was set.
    bool Execute(const TOrqParserOptions& Options, TParserStack* Stack) override;
    // Base Clear; empties the row constructor, the column names and the subquery expression.
    void Clear() override;

    // Checks the VALUES against the table: without a column list the columns are all fields
    // and there may be fewer values than fields but not more; with a list, the list must not
    // be empty and must have as many names as there are values. Then every column must exist
    // and constants are converted to their column's type. True when no error is set.
    bool ValidateValueColumns(const IOrqTableFields& TableFields);
    // Checks the result columns of the INSERT's SELECT: as many as the insert columns (all
    // fields without a list), every column a field, and each select column's type convertible
    // to its insert column's type. True when no error is set.
    bool ValidateSelectColumns(const TInternalFields& SelectFields, const IOrqTableFields& TableFields);
    // Every column name is a field of the table, else "Field not found : <name>".
    bool ValidateColumnsPresent(const IOrqTableFields& TableFields);
    // A string or integer constant whose type differs from its column's is converted to the
    // column's type (dates and times read from text). Always true.
    bool ValidateAndSetDataTypes(const IOrqTableFields& TableFields);
    // The column names become all field names of the table, in field order.
    void CreateDefaultColumns(const IOrqTableFields& TableFields);
    // Both types are known and a From value may be stored as To.
    static bool CheckDataConversionValid(TFieldType From, TFieldType To);

    // The column names (written or made by CreateDefaultColumns), in order.
    const TStringList& InsertColumnNames() const { return FInsertColumnNames; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& v) { FTableName = v; }
    TOrqRowConstructor& RowConstructor() { return *FRowConstructor; }
    const TOrqRowConstructor& RowConstructor() const { return *FRowConstructor; }
    bool ColumnsNotSpecified() const { return FColumnsNotSpecified; }
    void SetColumnsNotSpecified(bool v) { FColumnsNotSpecified = v; }
    bool HasSelectClause() const { return FHasSelectClause; }
    void SetHasSelectClause(bool v) { FHasSelectClause = v; }
    // Holds the subquery node of INSERT ... SELECT.
    TOrqExpr& SubqueryExpr() { return *FSubqueryExpr; }

private:
    void ParseColumnList();
    void ParseValueList();

    TStringList FInsertColumnNames;
    std::string FTableName;
    std::unique_ptr<TOrqRowConstructor> FRowConstructor;
    bool FColumnsNotSpecified = false;
    bool FHasSelectClause = false;
    std::unique_ptr<TOrqExpr> FSubqueryExpr;
};

// The parser of DELETE FROM ... [WHERE ...].
class TOrqDeleteParser : public TBaseParser {
public:
    TOrqDeleteParser();
    ~TOrqDeleteParser() override;

    // Parses the statement from its DELETE keyword; the table is added to Tables.
    bool Execute(const TOrqParserOptions& Options, TParserStack* Stack) override;
    // Base Clear; empties the WHERE expression and the flags.
    void Clear() override;

    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& v) { FTableName = v; }
    // Holds the subquery node made at WHERE.
    TOrqExpr& WhereExpr() { return *FWhereExpr; }
    bool HasWhereClause() const { return FHasWhereClause; }
    void SetHasWhereClause(bool v) { FHasWhereClause = v; }
    // The statement's table list (not owned).
    TTableList* Tables() const { return FTables; }
    void SetTables(TTableList* v) { FTables = v; }

private:
    std::string FTableName;
    std::unique_ptr<TOrqExpr> FWhereExpr;
    bool FHasWhereClause = false;
    TTableList* FTables = nullptr;
};

// The parser of UPDATE ... SET ... [WHERE ...].
class TOrqUpdateParser : public TBaseParser {
public:
    TOrqUpdateParser();
    ~TOrqUpdateParser() override;

    // Parses the statement from its UPDATE keyword; the table is added to Tables and the
    // validate event asked about it.
    bool Execute(const TOrqParserOptions& Options, TParserStack* Stack) override;
    // Base Clear; empties the row constructor, the WHERE expression and the flags.
    void Clear() override;

    // Every target column is a field ("Field not found : <name>" for the first that is not);
    // then ValidateAndSetDataTypes. True when no error is set.
    bool ValidateValueColumns(const IOrqTableFields& TableFields);
    // As TOrqInsertParser::ValidateAndSetDataTypes, by each element's target column.
    bool ValidateAndSetDataTypes(const IOrqTableFields& TableFields);

    bool HasWhereClause() const { return FHasWhereClause; }
    void SetHasWhereClause(bool v) { FHasWhereClause = v; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& v) { FTableName = v; }
    TTableList* Tables() const { return FTables; }
    void SetTables(TTableList* v) { FTables = v; }
    TOrqExpr& WhereExpr() { return *FWhereExpr; }
    TOrqUpdateRowConstructor& RowConstructor() { return *FRowConstructor; }
    const TOrqUpdateRowConstructor& RowConstructor() const { return *FRowConstructor; }
    const TTableListValidateEvent& TableListValidateEvent() const { return FTableListValidateEvent; }
    void SetTableListValidateEvent(TTableListValidateEvent E) { FTableListValidateEvent = std::move(E); }

private:
    void ParseAssignments();

    bool FHasWhereClause = false;
    std::string FTableName;
    TTableList* FTables = nullptr;
    std::unique_ptr<TOrqExpr> FWhereExpr;
    std::unique_ptr<TOrqUpdateRowConstructor> FRowConstructor;
    TTableListValidateEvent FTableListValidateEvent;
};

}  // namespace ostra
