// orqQueryProvider: turns one SQL text into executed work.
//
// TOrqQueryProvider is a collection of statement items. Item 0 is the statement itself; every
// further item is a nested statement that item 0 (or another nested item) needs: a subquery, a
// UNION member, the WHERE part of a DELETE or UPDATE, the SELECT of an INSERT ... SELECT. The
// parser engine's notifications create the nested items while item 0 is validated.
//
// Each item (TOrqQueryProviderItem) owns a parser engine, a query analyser, a plan, a join
// provider manager and an in-memory result table (TOrqQueryDataset). The query component owns
// one provider and drives it:
//   SetSQL; ValidateSQL (parse and check, nested items made); PreparePlan (item 0 and, from
//   it, every nested item); CreateResultSet (SELECT: the rows into item 0's result table) or
//   ExecSQL (any other statement); GetRowsAffected; GetErrorsAsText.
// The items outlive a run: a prepared statement runs again after PreparePlan (which binds the
// parameters' current values) without being parsed again. Each run refills the nested results.
// Every item remembers the record layout of each table it parsed against; a run that finds a
// table with another layout (restructured since) raises EOrqStaleStatement before it writes
// anything, and the caller validates the text again.
//
// TQueryExprNodeDataProvider is the row source the expression evaluator opens for a subquery
// node: an uncorrelated subquery is filled once and only rewound later; a correlated one (one
// that reads a column of an enclosing statement, directly or through a deeper subquery) is
// planned and filled again for every outer row.
//
// Units: orqQueryProvider.cpp (provider, item lifecycle, the node data provider),
// orqQueryProviderParse.cpp (validation, parsing, table checks, parameters, correlation,
// planning), orqQueryProviderResult.cpp (result columns and indexes, HAVING, UNION, record
// lists, live results), orqQueryProviderExec.cpp (INSERT, UPDATE, DELETE),
// orqQueryProviderSchema.cpp (CREATE/ALTER/DROP TABLE, CREATE/DROP INDEX).
//
// Failures: parse and check failures never raise; the item's error list receives the text and
// the operation answers false (the query component raises 9645 with GetErrorsAsText). Errors
// while filling or writing pass through. Internal checks raise EAssertionFailed.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqExprEvaluator.h"
#include "engine/sql/orqParserEngine.h"
#include "engine/sql/orqSQLTypes.h"
#include "host/Collection.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/Variant.h"

namespace ostra {

class TOrqDataBase;
class TOrqDatasetBridge;
class TOrqExpr;
class TOrqExprNode;
class TOrqJoinDataProviderMgr;
class TOrqJoins;
class TOrqPlan;
class TOrqQueryAnalyser;
class TOrqQueryDataset;
class TOrqQueryProvider;
class TOrqQueryProviderItem;
class TOrqSelectAnalyser;
class TOrqSelects;
class TOrqTable;
class TParams;
class TResultSetFields;
class TFieldDefs;
class TInternalFields;
class TTableList;

// A prepared statement met a table whose record layout differs from the one it was parsed
// against: it must be validated and planned again before it can run.
class EOrqStaleStatement : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// Texts of the error lists.
inline constexpr char SorqSQLStatementEmpty[] = "SQL statment is empty";
inline constexpr char SorqUnrecognisedStatementType[] = "Unrecognised SQL statement type";
inline constexpr char SorqTokensBeyondEnd[] = "Unrecognized tokens beyond end of statement";
inline constexpr char SorqTableNotFoundPrefix[] = "Table not found - ";
inline constexpr char SorqTableNotFound[] = "Table not found";
inline constexpr char SorqTableAlreadyExists[] = "Table already exists";
inline constexpr char SorqCannotExecSQL[] = "SQL statement cannot be executed by ExecSQL";
inline constexpr char SorqHavingColumnNotFound[] = "Column name in having clause not found: %s";

// The row source of one subquery node: the item's result table, filled for the current outer
// row (see the file comment).
class TQueryExprNodeDataProvider : public TCustomExprNodeDataProvider {
public:
    TQueryExprNodeDataProvider();
    ~TQueryExprNodeDataProvider() override;

    // Makes the item's result hold the subquery's rows for the current outer row, positioned on
    // the first. False without an item or a dataset.
    bool PrepareAndOpen() override;
    // Answered from a hash of the first values of the result rows, built once per fill: equal
    // numbers (of any numeric or date kind) share a bucket, and so do texts that differ only in
    // letter case or trailing blanks; Equal decides within the bucket. Not answered for a Null
    // V or when the rows mix numbers, texts and other kinds.
    bool FindFirstValue(const Variant& V, const std::function<bool(const Variant&)>& Equal, bool& Found) override;

    TOrqQueryProviderItem* QueryProviderItem() const { return FQueryProviderItem; }
    void SetQueryProviderItem(TOrqQueryProviderItem* Item) { FQueryProviderItem = Item; }

private:
    struct TValueIndex;
    // The bucket key of V; false when V has no key (Null, Empty, other kinds). Numeric: whether
    // V is a number or a date.
    static bool ValueKey(const Variant& V, std::string& Key, bool& Numeric);
    void BuildValueIndex();

    TOrqQueryProviderItem* FQueryProviderItem = nullptr;
    // The hash of the current fill's values; null until asked, dropped at every refill.
    std::unique_ptr<TValueIndex> FValueIndex;
};

// One statement of a provider: the statement itself (item 0) or a nested one.
class TOrqQueryProviderItem : public TCollectionItem {
public:
    explicit TOrqQueryProviderItem(TCollection* ACollection);
    // A nested item (index 1 or higher) whose result structure exists drops its in-memory
    // result table; item 0's table is left to the query component.
    ~TOrqQueryProviderItem() override;

    // The owning provider.
    TOrqQueryProvider* GetProviderParent() const;

    // The item's SQL text := the provider's text.
    void SetSQL(const TStrings& Strings);
    const TStringList& SQL() const { return FSQL; }
    const TStringList& Errors() const { return FErrors; }

    // Parses and checks the item's SQL text; false with the reason in the error list.
    bool ValidateSQL();
    // Prepares the statement to run (SELECT: its plan), then every nested item.
    bool Prepare();
    // SELECT: clones the WHERE condition, puts in the outer row's values (correlated) and the
    // parameters, splits it and builds the provider tree. A plan of one table whose condition is
    // all that table's filter is kept for the next run, with the parameters' new values bound
    // into the filter in place (RebindPlan).
    bool PreparePlan();
    // The kept plan of PreparePlan made ready for another run; false when there is none.
    bool RebindPlan();
    // Fills the result table (SELECT). Always true; failures raise.
    bool CreateResultSet();
    // The addresses of the target rows the WHERE part of a DELETE or UPDATE selects.
    bool CreateResultList(std::vector<uint32_t>& List);
    // INSERT, UPDATE, DELETE and schema statements; false (with an error) for anything else.
    bool ExecSQL();
    // Params := one input parameter per parameter the statement names, in order.
    void CreateParamList();
    // Replaces the parser engine by Engine (owned from now on) and parses with it: the WHERE
    // part of the parent's DELETE or UPDATE over TableName when WhereOnly, else a whole
    // statement.
    void AssignExternalParserEngine(bool WhereOnly, const std::string& TableName,
                                    std::unique_ptr<TOrqParserEngine> Engine);
    // The parser engine's notify event (subqueries, UNION members, outer table references).
    void ParserEngineCallback(TParserNotifyType NotifyType, TOrqParserEngine* Engine, TOrqExprNode* Node,
                              Variant& NotifyData);
    // The table called Name in this statement or an enclosing one; null when none. A table
    // found is marked as read by a correlated subquery of this item.
    TTableNameItem* FindTable(const std::string& Name);
    // The table holding a field FieldName, searched the same way.
    TTableNameItem* FindTableForField(const std::string& FieldName);
    // Value := the current value of TableName.FieldName in this statement's current row, or in
    // an enclosing statement's; unassigned when none has it.
    void GetFieldData(const std::string& TableName, const std::string& FieldName, Variant& Value);
    // The result columns of a SELECT item.
    TResultSetFields& GetSelectResultSetFields() { return *FResultFields; }
    TOrqSQLStatementType GetSQLStatementType() const;
    // Maps the edits of a live single-table result back to its table.
    void SetLiveResultBridge(TOrqDatasetBridge& Bridge);
    // The statement has UNION and one of its members was introduced without ALL.
    bool IsDistinctUnionStatement() const;
    // Closes every table the item keeps open for its next run: the provider manager's bridges
    // and the result dataset (a kept cursor over a target table). The item must be planned
    // again before it runs.
    void ReleaseTables();

    TOrqParserEngine& ParserEngine() { return *FParserEngine; }
    TOrqSelectAnalyser& SelectAnalyser() { return *FSelectAnalyser; }
    TOrqQueryAnalyser& QueryAnalyser() { return *FAnalyser; }
    TOrqJoinDataProviderMgr& ProviderMgr() { return *FProviderMgr; }
    TOrqPlan& Plan() { return *FPlan; }
    TOrqQueryDataset& ResultSet() { return *FResultSet; }
    TQueryExprNodeDataProvider& NodeDataProvider() { return FNodeDataProvider; }
    const std::vector<TOrqQueryProviderItem*>& NestedStatements() const { return FNestedStatements; }

    TOrqQueryProviderItem* ParentQuery() const { return FParentQuery; }
    void SetParentQuery(TOrqQueryProviderItem* v) { FParentQuery = v; }
    bool IsCorrelated() const { return FIsCorrelated; }
    void SetIsCorrelated(bool v) { FIsCorrelated = v; }
    bool RequestLive() const { return FRequestLive; }
    void SetRequestLive(bool v) { FRequestLive = v; }
    bool ResultIsLive() const { return FResultIsLive; }
    void SetResultIsLive(bool v) { FResultIsLive = v; }
    bool CreateDefsOnly() const { return FCreateDefsOnly; }
    void SetCreateDefsOnly(bool v) { FCreateDefsOnly = v; }
    // "$Q", the item ID in 4 hexadecimal digits, a process-wide serial in 8.
    const std::string& ResultTableName() const { return FResultTableName; }
    bool ResultStructureCreated() const { return FResultStructureCreated; }
    // A UNION member introduced by UNION ALL.
    bool UnionAll() const { return FUnionAll; }
    bool IsUnionMember() const { return FIsUnionMember; }

private:
    friend class TQueryExprNodeDataProvider;

    // Creates the analyser, plan, provider manager, result fields and select analyser anew.
    void CreateOwnedObjects();
    void AddError(const std::string& Text);
    // Adds Text when not Ok; answers Ok.
    bool Check(bool Ok, const std::string& Text);

    // Parsing (orqQueryProviderParse.cpp).
    bool ParseSelectStatement();
    bool ParseInsertStatement();
    bool ParseDeleteStatement();
    bool ParseUpdateStatement();
    bool ParseSchemaStatement();
    bool ParseWhereOnly(const std::string& TableName);
    bool ParseStatement(bool WhereOnly, const std::string& TableName);
    // CheckTableList with errors, then the tables' field lists.
    bool SetupTables();
    void InternalSetupTableLists();
    // Every parameter node of Expr's chain becomes a constant of the parameter's value.
    void BindParams(TOrqExpr* Expr);
    void ResetOuterFieldRefs(TOrqExpr* Expr);
    // Marks this item and every enclosing item below the one that owns Table correlated.
    void MarkCorrelatedUpTo(const TOrqQueryProviderItem* Owner);

    // Running (orqQueryProviderResult.cpp, orqQueryProviderExec.cpp, orqQueryProviderSchema.cpp).
    bool CreateResultSetFields(TOrqQueryDataset& Dataset);
    bool CreateResultSetIndexes(TOrqQueryDataset& Dataset);
    std::string GetResultSetFieldNameFromSortKey(const std::string& Key) const;
    void PrepareHavingExpr();
    bool ProcessUnionResultSets();
    void InternalBindRootExprParams();
    void OpenProvidersForRun();
    bool InternalExecuteInsertStatement();
    bool InternalExecuteDeleteStatement();
    bool InternalExecuteUpdateStatement();
    bool InternalExecuteSchemaStatement();
    // The schema operation itself, on Table (database, name and memory flag set).
    bool RunSchemaOperation(TOrqTable& Table);
    // The target table as a cursor of the result dataset; an open cursor over that table is
    // kept. EOrqStaleStatement when the table's layout changed since parsing. True when the
    // cursor was opened now (not kept).
    bool OpenTargetCursor(const std::string& TableName);
    // EOrqStaleStatement when the open table TableName (Memory) has another record layout than
    // the one this item was parsed against.
    void CheckTableLayout(const std::string& TableName, bool Memory, const TInternalFields& Fields) const;
    // Every open single-table provider's layout checked (CheckTableLayout).
    void CheckProviderLayouts() const;
    // A fresh result table name no table of the database uses.
    void ChooseResultTableName();

    TStringList FSQL;
    TStringList FErrors;
    std::unique_ptr<TOrqParserEngine> FParserEngine;
    std::unique_ptr<TOrqQueryAnalyser> FAnalyser;
    std::unique_ptr<TOrqJoins> FJoins;
    std::unique_ptr<TOrqSelects> FSelects;
    std::unique_ptr<TResultSetFields> FResultFields;
    // FResultFields holds the columns of the last INSERT ... VALUES, each bound to its field of
    // the kept target cursor (SourceFieldNo), so that the next run only sets their values.
    bool FInsertColumnsBound = false;
    std::unique_ptr<TOrqJoinDataProviderMgr> FProviderMgr;
    std::unique_ptr<TOrqPlan> FPlan;
    std::unique_ptr<TOrqSelectAnalyser> FSelectAnalyser;
    TOrqQueryProviderItem* FParentQuery = nullptr;
    bool FIsCorrelated = false;
    std::vector<TOrqQueryProviderItem*> FNestedStatements;
    std::unique_ptr<TOrqQueryDataset> FResultSet;
    TQueryExprNodeDataProvider FNodeDataProvider;
    bool FRequestLive = false;
    bool FResultIsLive = false;
    std::string FResultTableName;
    bool FResultStructureCreated = false;
    bool FUnionAll = false;
    bool FIsUnionMember = false;
    bool FCreateDefsOnly = false;
    // The WHERE part of a DELETE or UPDATE: planned as a SELECT over the target table.
    bool FWhereOnly = false;
    // The last plan can run again with new parameter values (see PreparePlan).
    bool FPlanRebindable = false;
    // The record layout of every table the statement was parsed against, by upper-cased name
    // and memory flag.
    std::vector<std::pair<std::string, std::string>> FTableLayouts;
};

// The statement and its nested statements (see the file comment).
class TOrqQueryProvider : public TCollection {
public:
    TOrqQueryProvider();
    ~TOrqQueryProvider() override;

    // SQL := Strings; every item goes.
    void SetSQL(const TStrings& Strings);
    const TStringList& GetSQL() const { return FSQL; }
    // Clears the items and both error lists, adds item 0 and validates it.
    bool ValidateSQLOnly();
    // ValidateSQLOnly; on success, with Params, item 0's CreateParamList.
    bool ValidateSQL();
    // With Params and Database: when validation fails and an item exists, item 0's
    // CreateParamList.
    void ResetParams();
    bool PreparePlan();
    // Runs item 0 as a SELECT; the nested items stay for the next run.
    bool CreateResultSet();
    // ReleaseTables of every item.
    void ReleaseTables();
    bool ExecSQL();
    // Item 0's result table; null with no items.
    TOrqQueryDataset* GetResultSet() const;
    TOrqSQLStatementType GetSQLStatementType() const;
    // Exactly one item and its result is live.
    bool GetIsLiveRequest() const;
    void SetLiveResultBridge(TOrqDatasetBridge& Bridge);
    // SELECT with an open result: its record count; schema statements 0; else the result
    // dataset's rows affected.
    int GetRowsAffected() const;
    // The table-check errors, then every item's errors, without empty lines.
    const TStringList& GetErrors();
    // Every error line followed by ". ", joined.
    std::string GetErrorsAsText();
    // Whether every table of Tables exists (disk before in-memory unless the statement says
    // in-memory); each item's Memory flag is set. With ReportErrors a missing table adds
    // "Table not found - " and its name to the table-check errors.
    bool CheckTableList(TTableList& Tables, bool ReportErrors);
    // Fields := the record layout of the table.
    void GetInternalFieldsForTable(const std::string& TableName, TInternalFields& Fields, bool Memory);

    TOrqQueryProviderItem* Items(int Index) const {
        return static_cast<TOrqQueryProviderItem*>(TCollection::Items(Index));
    }
    TOrqQueryProviderItem* Add() { return static_cast<TOrqQueryProviderItem*>(TCollection::Add()); }

    TOrqDataBase* Database() const { return FDatabase; }
    void SetDatabase(TOrqDataBase* v) { FDatabase = v; }
    TParams* Params() const { return FParams; }
    void SetParams(TParams* v) { FParams = v; }
    int MaxRecords() const { return FMaxRecords; }
    void SetMaxRecords(int v) { FMaxRecords = v; }
    bool RequestLive() const { return FRequestLive; }
    void SetRequestLive(bool v) { FRequestLive = v; }
    bool CreateDefsOnly() const { return FCreateDefsOnly; }
    void SetCreateDefsOnly(bool v) { FCreateDefsOnly = v; }

private:
    friend class TOrqQueryProviderItem;

    TStringList FSQL;
    TStringList FErrors;
    TStringList FTableErrors;
    TOrqDataBase* FDatabase = nullptr;
    TParams* FParams = nullptr;
    int FMaxRecords = 0;
    bool FRequestLive = false;
    bool FCreateDefsOnly = false;
};

}  // namespace ostra
