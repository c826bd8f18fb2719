// orqSQL: TOrqQuery, the query component: a dataset face (orqBaseTable.h) whose rows are the
// in-memory result table that its query provider (orqQueryProvider.h) builds from the SQL text.
//
//   SQL          the statement text; a change closes and unprepares the query and, with
//                ParamCheck, rebuilds Params from the text
//   Prepare      parses and plans (Open and ExecSQL prepare on demand)
//   Open         runs a SELECT and shows its result table (9645 for any other statement)
//   ExecSQL      runs every other statement (INSERT, UPDATE, DELETE, schema statements)
//   DataSource   a master whose current record supplies the values of unbound parameters; the
//                query opens again whenever the master moves (TOrqQueryDataLink)
//   RequestLive  asks for a live result: posts and deletes on the result rows go to the source
//                table through a dataset bridge; a source row changed meanwhile refuses (8708)
//
// Transactions. INSERT, UPDATE and DELETE on a disk database run in a transaction of their own
// when none is active: committed on success, rolled back on failure, so a failed statement
// leaves no row behind. A SELECT on a disk database runs in its own transaction too. Nothing on
// the "MEMORY" database runs in one. Schema statements refuse to run inside a transaction (10122).
// The database's Connected state is restored after every execution.
//
// Life cycle: unprepared <-> prepared, closed <-> open. A prepared statement stays prepared
// across Close and Open and across ExecSQL calls: every run binds the parameters' current values
// into a new plan and reads the tables as they are then, without parsing the text again, and
// refills the same result table. A change of the text or of the database unprepares it; a
// table whose structure changed since parsing makes the run parse and plan the text again. The
// result table outlives a close, is replaced by the next open when its name changes and is
// deleted when the query is destroyed.
//
// Streaming: the published properties below, the SQL text as "SQL.Strings" and the parameters
// as "ParamData", written only when there is at least one parameter.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/components/orqBaseTable.h"
#include "engine/sql/orqSQLTypes.h"
#include "host/StringList.h"
#include "host/db/DataLink.h"
#include "host/db/Params.h"

namespace ostra {

class TDataSource;
class TOrqDatasetBridge;
class TOrqQuery;
class TOrqQueryDataset;
class TOrqQueryProvider;

// The master link of a query: the master's record changes reopen the query.
class TOrqQueryDataLink : public TDetailDataLink {
public:
    explicit TOrqQueryDataLink(TOrqQuery* AQuery) : FQuery(AQuery) {}
    TDataSet* GetDetailDataSet() const override;

protected:
    // The master opened, closed or was replaced: an active query refreshes its parameters.
    void ActiveChanged() override;
    // The master leaves its editing state: an active query posts or cancels its own edit first.
    void CheckBrowseMode() override;
    // The master's current record changed (Field null): an active query refreshes its parameters.
    void RecordChanged(TField* Field) override;

private:
    TOrqQuery* FQuery;
};

// The query component (see the file comment).
class TOrqQuery : public TOrqBaseTable {
public:
    // The face, the SQL list with its change event, Params (ParamCheck True), the provider over
    // Params, the master link.
    explicit TOrqQuery(TComponent* AOwner);
    // Closes; deletes the result table when the database is connected and the table exists.
    ~TOrqQuery() override;

    // ---- Published properties
    TStrings* SQL() const { return FSQL.get(); }
    // Replaces the text inside one update (one QueryChanged) when it differs from the current one.
    void SetSQL(const TStrings* Value);
    TOrqDataBase* Database() const { return DataBase(); }
    void SetDatabase(TOrqDataBase* Value);
    TDataSource* DataSource() const;
    // "Circular datalinks are not allowed" when Value's dataset is this query or is linked to it.
    void SetDataSource(TDataSource* Value);
    // The most result rows a SELECT fills (0: no limit).
    int32_t MaxRecords() const { return FMaxRecords; }
    void SetMaxRecords(int32_t Value) { FMaxRecords = Value; }
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool Value) { FParamCheck = Value; }
    int ParamCount() const { return FParams->Count(); }
    TParams& Params() { return *FParams; }
    const TParams& Params() const { return *FParams; }
    // Clears Params and copies every parameter of Value.
    void SetParams(const TParams* Value);
    // The provider's count of rows the last statement affected; 0 without a statement.
    int RowsAffected() const;
    bool RequestLive() const { return FRequestLive; }
    void SetRequestLive(bool Value) { FRequestLive = Value; }

    // ---- Preparation and execution
    bool Prepared() const { return FPrepared; }
    // Prepare or UnPrepare.
    void SetPrepared(bool Value);
    // 10112 without Database; connects, binds the provider and parses and plans the text (9645
    // with the provider's error texts when that fails).
    void Prepare();
    // Clears the prepared flag, frees the live-result bridge and closes the cursor kept on the
    // result table; the next run parses again.
    void UnPrepare();
    // Runs a statement other than SELECT (see the file comment for transactions); 9645 with the
    // provider's error texts on failure, 10122 for a schema statement inside a transaction.
    void ExecSQL();
    // The parameter named Name; "Parameter '%s' not found" when none.
    TParam* ParamByName(const std::string& Name) const { return FParams->ParamByName(Name); }
    // The prepared statement's type (osSQLUnknown before a successful validation).
    TOrqSQLStatementType GetSQLStatementType() const;
    // With a master dataset: every unbound parameter takes the value of the master field of the
    // same name (a missing field raises); the parameters stay unbound.
    void SetParamsFromDataSource();
    // With controls disabled: when the master is active and not setting a key, close and open.
    void RefreshParams();
    // Milliseconds spent in the last preparation and in the last result-set creation.
    uint32_t PrepareTime() const { return FPrepareTime; }
    uint32_t OpenTime() const { return FOpenTime; }
    TOrqQueryProvider& Provider() const { return *FProvider; }
    TOrqQueryDataLink& DataLink() { return FDataLink; }

protected:
    void DefineProperties(TFiler* Filer) override;
    // Active and the provider's result is live.
    bool GetCanModify() override;
    TDataSource* GetDataSource() const override { return FDataLink.DataSource(); }
    void InternalRefresh() override;
    void InternalDelete() override;
    void InternalPost() override;
    void InternalClose() override;
    void InternalOpen() override;
    void InternalOpenForDefs() override;
    void InternalCloseForDefs() override;
    // Closed, not running, and parsed: the statement's tables may still be open for its next run.
    bool HoldsIdleTables() const override;
    // Unprepares and closes every table the statement kept open; the next run parses again.
    void ReleaseIdleTables() override;

private:
    // The SQL list changed: close, unprepare and (with ParamCheck) rebuild Params from the text.
    void QueryChanged();
    // Parses and plans through the provider; marks the query prepared.
    void InternalPrepare();
    // Before a run: prepares an unprepared query (or one prepared for another database), else
    // binds the parameters into the plan unless the plan of the last preparation is unused.
    void PrepareRun();
    // Runs Body; a statement found stale (a table restructured since parsing) is parsed and
    // planned again and Body runs once more.
    void RunPrepared(const std::function<void()>& Body);
    // The body of InternalOpen: prepared, the result filled and opened as this dataset.
    void OpenPrepared(TOrqDataBase& Database);
    // The start of one execution: the connection recorded and made, query mode on, and the own
    // transaction started when asked for and none is active.
    void InternalConnect(const char* Caller);
    // The end of one execution: the own transaction committed (success) or rolled back, the
    // connection state restored.
    void InternalDisconnect();
    // A failed execution: Result (when made) closed and InternalDisconnect, their own failures
    // dropped so that the first error goes on.
    void AbandonExecution(TOrqQueryDataset* Result);
    // 10112 without Database (Caller names the routine); else the database.
    TOrqDataBase& RequireDatabase(const char* Caller);
    // Connects the database and binds the provider to it.
    void ConnectProvider(TOrqDataBase& Database);
    // Raises 9645 from Caller with the provider's error texts.
    [[noreturn]] void RaiseSQLError(const char* Caller);
    // A closed query's cursor kept open on its read-only result table for the next open (see
    // OpenPrepared) is closed.
    void CloseKeptCursor();
    // The bridge for a live result, created on first use.
    TOrqDatasetBridge& LiveBridge();
    // The bridge record of the active result row (address and modification counter checked).
    void MoveBridgeToActiveRow();
    // Copies the active row's data fields into the bridge's fields of the same source names.
    void AssignRowToBridge();
    // The cursor field number of a hidden live-result column; -1 when none.
    int HiddenFieldNo(const char* Name) const;

    std::unique_ptr<TStringList> FSQL;
    std::unique_ptr<TParams> FParams;
    std::unique_ptr<TOrqQueryProvider> FProvider;
    std::unique_ptr<TOrqDatasetBridge> FBridge;
    TOrqQueryDataLink FDataLink;
    bool FPrepared = false;
    // Runs (RunPrepared) under way: a query never lets go of its tables in the middle of its own
    // run (a DROP TABLE it executes asks the database to release idle tables).
    int FRunning = 0;
    // The plan was made for the coming run (by the preparation) and not used yet.
    bool FPlanFresh = false;
    // The database the statement was parsed against.
    TOrqDataBase* FPreparedFor = nullptr;
    // RequestLive at the preparation: a live result's table has two more columns.
    bool FPreparedLive = false;
    // The bookkeeping of one execution.
    bool FWasConnected = false;
    bool FWasExclusive = false;
    bool FOwnTransaction = false;
    bool FTransactionWasActive = false;
    bool FSucceeded = false;
    uint32_t FPrepareTime = 0;
    uint32_t FOpenTime = 0;
    bool FParamCheck = true;
    int32_t FMaxRecords = 0;
    bool FRequestLive = false;
    bool FDefsOnly = false;
};

}  // namespace ostra
