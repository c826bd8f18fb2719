// orqSQL: the query component's construction, properties and streaming, preparation, execution
// with its transaction frame, opening and refreshing the result table, the master link and the
// live-result write-back through the dataset bridge.
#include "engine/components/orqSQL.h"

#include "engine/components/orqDataBase.h"
#include "engine/components/orqJoinDataProviderUnit.h"
#include "engine/components/orqQueryDataset.h"
#include "engine/components/orqQueryProvider.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Filer.h"
#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSource.h"
#include "host/db/Field.h"
#include "host/db/FieldDefs.h"
#include "platform/Clock.h"

namespace ostra {

namespace {

[[maybe_unused]] const bool kPublished =
    Publish<TOrqQuery, TDataSet>()
        .Object("SQL", [](const TOrqQuery& Q) { return Q.SQL(); })
        .Component("Database", &TOrqQuery::Database, &TOrqQuery::SetDatabase)
        .Component("DataSource", &TOrqQuery::DataSource, &TOrqQuery::SetDataSource)
        .Integer("MaxRecords", &TOrqQuery::MaxRecords, &TOrqQuery::SetMaxRecords)
        .Default(0)
        .Boolean("ParamCheck", &TOrqQuery::ParamCheck, &TOrqQuery::SetParamCheck)
        .Default(true)
        .Integer("ParamCount", &TOrqQuery::ParamCount)
        // Streamed as "ParamData" (DefineProperties), which is written only when there is one.
        .Collection("Params", [](const TOrqQuery& Q) { return &Q.Params(); })
        .Stored(false)
        .Integer("RowsAffected", &TOrqQuery::RowsAffected)
        .Boolean("RequestLive", &TOrqQuery::RequestLive, &TOrqQuery::SetRequestLive)
        .Default(false);

// The hidden columns of a live result row: the source record's address and modification counter.
constexpr char CRecAddrField[] = "__RecAddr";
constexpr char CRecModFlagField[] = "__RecModFlag";

bool IsDataChange(TOrqSQLStatementType Type) {
    return Type == osSQLInsert || Type == osSQLDelete || Type == osSQLUpdate;
}

// Deletes the in-memory table Name of a connected database when it exists.
void DropResultTable(TOrqDataBase& Database, const std::string& Name) {
    if (!Database.Connected()) return;
    TOrqDataSet probe(nullptr);
    probe.SetDataBase(&Database);
    probe.SetTableName(Name);
    probe.SetMemory(true);
    if (probe.GetExists()) Database.DeleteTable(Name, true);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The master link

TDataSet* TOrqQueryDataLink::GetDetailDataSet() const { return FQuery; }

void TOrqQueryDataLink::ActiveChanged() {
    if (FQuery->Active()) FQuery->RefreshParams();
}

void TOrqQueryDataLink::CheckBrowseMode() {
    if (FQuery->Active()) FQuery->CheckBrowseMode();
}

void TOrqQueryDataLink::RecordChanged(TField* Field) {
    if (!Field && FQuery->Active()) FQuery->RefreshParams();
}

// ---------------------------------------------------------------------------------------------
// Life cycle

TOrqQuery::TOrqQuery(TComponent* AOwner)
    : TOrqBaseTable(AOwner),
      FSQL(std::make_unique<TStringList>()),
      FParams(std::make_unique<TParams>(this)),
      FProvider(std::make_unique<TOrqQueryProvider>()),
      FDataLink(this) {
    FSQL->OnChange = [this](TObject*) { QueryChanged(); };
    FProvider->SetParams(FParams.get());
}

TOrqQuery::~TOrqQuery() {
    Destroying();
    try {
        Close();
    } catch (...) {
    }
    FSQL->OnChange = nullptr;
    try {
        CloseKeptCursor();
        if (TOrqQueryDataset* result = FProvider->GetResultSet()) result->Close();
        TOrqDataBase* database = DataBase();
        if (!TableName().empty() && database && database->Connected() && GetExists())
            database->DeleteTable(TableName(), true);
    } catch (...) {
    }
    if (FBridge) {
        try {
            FBridge->Close();
        } catch (...) {
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Properties

void TOrqQuery::SetSQL(const TStrings* Value) {
    const std::string text = Value ? Value->Text() : std::string();
    if (text == FSQL->Text()) return;
    FSQL->BeginUpdate();
    try {
        if (Value)
            FSQL->Assign(Value);
        else
            FSQL->Clear();
    } catch (...) {
        FSQL->EndUpdate();
        throw;
    }
    FSQL->EndUpdate();
}

void TOrqQuery::SetDatabase(TOrqDataBase* Value) {
    CloseKeptCursor();
    // The definition holds the flags of the last result table, whose "$" name marks it as the
    // engine's own; the query is a client of the connection all the same, so that a
    // disconnection closes its cursor before the result table goes.
    TableDefinition().SetInternalTable(false);
    SetDataBase(Value);
}

TDataSource* TOrqQuery::DataSource() const { return FDataLink.DataSource(); }

void TOrqQuery::SetDataSource(TDataSource* Value) {
    if (Value && IsLinkedTo(Value)) DatabaseError(SCircularDataLink, this);
    FDataLink.SetDataSource(Value);
}

void TOrqQuery::SetParams(const TParams* Value) {
    if (Value == FParams.get()) return;
    FParams->Assign(Value);
}

int TOrqQuery::RowsAffected() const { return FProvider->GetRowsAffected(); }

TOrqSQLStatementType TOrqQuery::GetSQLStatementType() const { return FProvider->GetSQLStatementType(); }

void TOrqQuery::DefineProperties(TFiler* Filer) {
    TOrqBaseTable::DefineProperties(Filer);
    Filer->DefineProperty(
        "ParamData",
        [this](TReader& Reader) {
            Reader.ReadValue();
            Reader.ReadCollection(FParams.get());
        },
        [this](TWriter& Writer) { Writer.WriteCollection(FParams.get()); }, FParams->Count() > 0);
}

void TOrqQuery::QueryChanged() {
    if (ComponentState().Contains(csReading)) return;
    Close();
    if (FPrepared) UnPrepare();
    if (FParamCheck || ComponentState().Contains(csDesigning)) {
        TOrqDataBase* database = DataBase();
        FProvider->SetDatabase(database);
        if (database) {
            database->Open();
            FProvider->SetSQL(*FSQL);
            FProvider->ResetParams();
        }
    }
    DataEvent(dePropertyChange, 0);
}

// ---------------------------------------------------------------------------------------------
// Preparation

TOrqDataBase& TOrqQuery::RequireDatabase(const char* Caller) {
    TOrqDataBase* database = DataBase();
    if (!database) OrqDatabaseError(10112, Caller, "", this);
    return *database;
}

void TOrqQuery::ConnectProvider(TOrqDataBase& Database) {
    if (!Database.Connected()) Database.Open();
    FProvider->SetDatabase(&Database);
}

void TOrqQuery::RaiseSQLError(const char* Caller) {
    OrqDatabaseError(9645, Caller, FProvider->GetErrorsAsText(), this);
}

void TOrqQuery::SetPrepared(bool Value) {
    if (Value)
        Prepare();
    else
        UnPrepare();
}

void TOrqQuery::Prepare() {
    ConnectProvider(RequireDatabase("TOrqQuery.InternalConnect"));
    InternalPrepare();
}

void TOrqQuery::InternalPrepare() {
    const uint32_t start = platform::GetTickCount();
    FPrepared = false;
    FProvider->SetSQL(*FSQL);
    bool ok = FProvider->ValidateSQLOnly();
    if (ok) {
        if (DataSource()) SetParamsFromDataSource();
        ok = FProvider->PreparePlan();
        FProvider->SetMaxRecords(FMaxRecords);
        FPrepareTime = platform::GetTickCount() - start;
    }
    if (!ok) RaiseSQLError("TOrqQuery");
    FPrepared = true;
    FPlanFresh = true;
    FPreparedFor = DataBase();
    FPreparedLive = FRequestLive;
}

void TOrqQuery::PrepareRun() {
    TOrqDataBase& database = *DataBase();
    // A statement parsed against another database, or for a result of another shape, is parsed
    // again.
    if (FPrepared && (FPreparedFor != &database || FPreparedLive != FRequestLive)) UnPrepare();
    if (!FPrepared) {
        Prepare();
        return;
    }
    if (FPlanFresh) return;
    // Run again: the parameters' current values are bound into the plan (the kept one when the
    // statement allows, else a new one); the text is not parsed again.
    if (DataSource()) SetParamsFromDataSource();
    if (!FProvider->PreparePlan()) RaiseSQLError("TOrqQuery");
    FProvider->SetMaxRecords(FMaxRecords);
    FPlanFresh = true;
}

void TOrqQuery::UnPrepare() {
    FPrepared = false;
    FPlanFresh = false;
    try {
        CloseKeptCursor();
    } catch (...) {
    }
    if (FBridge) {
        try {
            FBridge->Close();
        } catch (...) {
        }
        FBridge.reset();
    }
}

void TOrqQuery::CloseKeptCursor() {
    if (!Active() && InternalActive()) DataSetClose();
}

// ---------------------------------------------------------------------------------------------
// The frame of one execution

void TOrqQuery::InternalConnect(const char* Caller) {
    TOrqDataBase& database = RequireDatabase(Caller);
    FWasConnected = database.Connected();
    FWasExclusive = database.Exclusive();
    ConnectProvider(database);
    // Query mode (the mode flag) only for statements that change data; the query-active flag
    // for every statement, so that reads inside the query's own transaction skip the
    // transaction lock.
    database.ActivateQueryMode(GetSQLStatementType() != osSQLSelect);
    database.SetQueryActive(true);
    FSucceeded = false;
    FTransactionWasActive = database.InTransaction();
    // Only a transaction this execution starts is its own to commit or roll back.
    FOwnTransaction = FOwnTransaction && !FTransactionWasActive;
    if (FOwnTransaction) database.StartTransaction();
}

void TOrqQuery::AbandonExecution(TOrqQueryDataset* Result) {
    FSucceeded = false;
    if (Result) {
        try {
            Result->Close();
        } catch (...) {
        }
    }
    try {
        InternalDisconnect();
    } catch (...) {
    }
}

void TOrqQuery::InternalDisconnect() {
    TOrqDataBase* database = DataBase();
    if (!database) return;
    const bool own = FOwnTransaction;
    FOwnTransaction = false;
    database->ActivateQueryMode(false);
    database->SetQueryActive(false);
    std::exception_ptr failure;
    if (!FSucceeded) {
        if (own && database->InTransaction()) {
            try {
                database->Rollback();
            } catch (...) {
                failure = std::current_exception();
            }
        }
        if (Active()) {
            try {
                Close();
            } catch (...) {
            }
        }
    } else if (own) {
        try {
            database->Commit();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (database->Connected() != FWasConnected) database->SetConnected(FWasConnected);
    if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------------------------
// Execution

void TOrqQuery::RunPrepared(const std::function<void()>& Body) {
    struct TRunning {
        int& Count;
        explicit TRunning(int& C) : Count(C) { ++Count; }
        ~TRunning() { --Count; }
    } running(FRunning);
    try {
        Body();
    } catch (const EOrqStaleStatement&) {
        // The failed run was rolled back and nothing was written: parse against the tables as
        // they are now and run once more.
        UnPrepare();
        Body();
    }
}

bool TOrqQuery::HoldsIdleTables() const { return FRunning == 0 && !Active() && FProvider->Count() > 0; }

void TOrqQuery::ReleaseIdleTables() {
    UnPrepare();
    FProvider->ReleaseTables();
}

void TOrqQuery::ExecSQL() {
    TOrqDataBase& database = RequireDatabase("TOrqQuery.ExecSQL");
    Close();
    ConnectProvider(database);
    RunPrepared([&] {
        if (!FPrepared || FPreparedFor != &database) {
            UnPrepare();
            Prepare();
        }
        FPlanFresh = false;
        const TOrqSQLStatementType type = GetSQLStatementType();
        if (type == osSchemaManipulation && database.InTransaction())
            OrqDatabaseError(10122, "TOrqQuery.ExecSQL", "", this);
        FOwnTransaction = !database.InMemory() && IsDataChange(type);
        InternalConnect("TOrqQuery.ExecSQL");
        try {
            FSucceeded = FProvider->ExecSQL();
            if (!FSucceeded) RaiseSQLError("TOrqQuery.ExecSQL");
        } catch (...) {
            AbandonExecution(nullptr);
            throw;
        }
        InternalDisconnect();
    });
}

void TOrqQuery::InternalOpen() {
    if (!InternalActive()) SetMemory(true);
    TOrqDataBase& database = RequireDatabase("TOrqQuery.InternalOpen");
    ConnectProvider(database);
    RunPrepared([&] { OpenPrepared(database); });
}

void TOrqQuery::OpenPrepared(TOrqDataBase& database) {
    PrepareRun();
    if (GetSQLStatementType() != osSQLSelect)
        OrqDatabaseError(9645, "TOrqQuery.InternalOpen", "SQL statement cannot be opened (execute by ExecSQL)", this);
    FOwnTransaction = !database.InMemory();
    InternalConnect("TOrqQuery.InternalOpen");
    TOrqQueryDataset* result = nullptr;
    try {
        FProvider->SetRequestLive(FRequestLive);
        FProvider->SetCreateDefsOnly(FDefsOnly);
        const uint32_t start = platform::GetTickCount();
        FPlanFresh = false;
        const bool ok = FProvider->CreateResultSet();
        FOpenTime = platform::GetTickCount() - start;
        if (!ok) RaiseSQLError("TOrqQuery.InternalOpen");
        result = FProvider->GetResultSet();
        const bool live = FProvider->GetIsLiveRequest();
        // A read-only result's cursor stays open over its table from one open to the next (the
        // refill empties the table in place, which the cursor sees through the table header);
        // one over an earlier result table goes first.
        const bool keep = !live && !FDefsOnly;
        if (InternalActive() && (!keep || !SameText(TableName(), result->TableName()))) DataSetClose();
        if (!InternalActive()) {
            // A result table of an earlier open under another name goes.
            if (!TableName().empty() && !SameText(TableName(), result->TableName()))
                DropResultTable(database, TableName());
            SetTableName(result->TableName());
            SetReadOnly(!live);
        }
        SetKeepCursorOnClose(keep);
        if (FDefsOnly)
            DataSetOpen();
        else
            TOrqBaseTable::InternalOpen();
        if (live && !FDefsOnly) {
            TOrqDatasetBridge& bridge = LiveBridge();
            bridge.Close();
            bridge.SetDataBase(&database);
            FProvider->SetLiveResultBridge(bridge);
            bridge.OpenBridge();
            for (int i = 0; i < Fields().Count(); ++i) {
                TField* field = Fields()[i];
                const TField* source = result->FindField(field->FieldName());
                field->SetReadOnly(!source || source->ReadOnly());
            }
        }
        // A read-only result keeps its cursor open for the next run's refill; a live one is
        // written through this dataset, so its fill cursor lets go.
        if (live) result->Close();
        FSucceeded = true;
    } catch (...) {
        if (FBridge) {
            try {
                FBridge->Close();
            } catch (...) {
            }
        }
        AbandonExecution(result);
        throw;
    }
    InternalDisconnect();
    if (FBridge && FProvider->GetIsLiveRequest() && !FBridge->Active()) FBridge->OpenBridge();
}

void TOrqQuery::InternalOpenForDefs() {
    FDefsOnly = true;
    try {
        InternalOpen();
    } catch (...) {
        FDefsOnly = false;
        throw;
    }
}

void TOrqQuery::InternalCloseForDefs() {
    FDefsOnly = false;
    UnPrepare();
    DataSetClose();
}

void TOrqQuery::InternalRefresh() {
    DisableControls();
    try {
        TOrqDataBase& database = RequireDatabase("TOrqQuery.InternalOpen");
        FOwnTransaction = !database.InMemory();
        InternalConnect("TOrqQuery.InternalOpen");
        TOrqQueryDataset* result = nullptr;
        try {
            // The last fill took the nested statements (subqueries, UNION members) with it, so
            // the plan cannot simply run again: the text is validated and planned anew and fills
            // a new result table.
            InternalPrepare();
            FPlanFresh = false;
            FProvider->SetRequestLive(FRequestLive);
            FProvider->SetCreateDefsOnly(false);
            if (!FProvider->CreateResultSet()) RaiseSQLError("TOrqQuery.InternalOpen");
            result = FProvider->GetResultSet();
            result->Close();
            FSucceeded = true;
        } catch (...) {
            AbandonExecution(result);
            throw;
        }
        InternalDisconnect();
        // The cursor moves to the new result table; the old one goes.
        if (!SameText(TableName(), result->TableName())) {
            const std::string previous = TableName();
            DataSetClose();
            SetTableName(result->TableName());
            DataSetOpen();
            DropResultTable(database, previous);
        }
        if (FBridge && FProvider->GetIsLiveRequest()) {
            FBridge->Close();
            FProvider->SetLiveResultBridge(*FBridge);
            FBridge->OpenBridge();
        }
        TOrqBaseTable::InternalRefresh();
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
}

void TOrqQuery::InternalClose() {
    // The statement stays prepared; the live result's bridge lets go of the source table.
    if (FBridge) {
        try {
            FBridge->Close();
        } catch (...) {
        }
    }
    TOrqBaseTable::InternalClose();
}

bool TOrqQuery::GetCanModify() { return Active() && FProvider->GetIsLiveRequest() && TOrqBaseTable::GetCanModify(); }

// ---------------------------------------------------------------------------------------------
// Parameters and the master

void TOrqQuery::SetParamsFromDataSource() {
    TDataSource* source = DataSource();
    if (!source || !source->DataSet()) return;
    TDataSet* master = source->DataSet();
    master->FieldDefs().Update();
    for (int i = 0; i < FParams->Count(); ++i) {
        TParam* param = FParams->Items(i);
        if (param->Bound()) continue;
        param->AssignField(master->FieldByName(param->Name()));
        param->SetBound(false);
    }
}

void TOrqQuery::RefreshParams() {
    DisableControls();
    try {
        TDataSet* master = FDataLink.DataSet();
        if (master && master->Active() && master->State() != dsSetKey) {
            Close();
            Open();
        }
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
}

// ---------------------------------------------------------------------------------------------
// Live results

TOrqDatasetBridge& TOrqQuery::LiveBridge() {
    if (!FBridge) FBridge = std::make_unique<TOrqDatasetBridge>();
    return *FBridge;
}

int TOrqQuery::HiddenFieldNo(const char* Name) const {
    const TInternalFieldItem* item = GetInternalFields().FindField(Name);
    return item ? item->FieldIndex() : -1;
}

void TOrqQuery::MoveBridgeToActiveRow() {
    Assert(FBridge != nullptr, "LiveResultBridge is not assigned");
    Assert(FBridge->Active(), "LiveResultBridge is not active");
    const auto* row = reinterpret_cast<const uint8_t*>(ActiveBuffer());
    Variant address, modFlag;
    DataSetGetFieldDataFromRecBufAsVariant(row, HiddenFieldNo(CRecAddrField), address);
    DataSetGetFieldDataFromRecBufAsVariant(row, HiddenFieldNo(CRecModFlagField), modFlag);
    FBridge->MoveToRecAddrAndValidate(uint32_t(address.AsInteger()), uint32_t(modFlag.AsInteger()));
}

void TOrqQuery::AssignRowToBridge() {
    const TInternalFields& layout = FBridge->GetInternalFields();
    for (int i = 0; i < Fields().Count(); ++i) {
        TField* field = Fields()[i];
        if (field->FieldKind() != fkData) continue;
        const TInternalFieldItem* target = layout.FindSourceField(field->FieldName());
        if (!target) continue;
        if (TField* destination = FBridge->FindField(target->FieldName())) destination->SetAsVariant(field->AsVariant());
    }
}

void TOrqQuery::InternalPost() {
    Assert(FBridge != nullptr, "LiveResultBridge is not assigned");
    Assert(FBridge->Active(), "LiveResultBridge is not active");
    const bool editing = State() == dsEdit;
    if (editing) {
        MoveBridgeToActiveRow();
        FBridge->Edit();
    } else {
        FBridge->Insert();
    }
    try {
        AssignRowToBridge();
        FBridge->Post();
    } catch (...) {
        try {
            FBridge->Cancel();
        } catch (...) {
        }
        throw;
    }
    // The row now stands for the source record as written: its address and its counter.
    auto* row = reinterpret_cast<uint8_t*>(ActiveBuffer());
    DataSetSetFieldDataToRecBufAsVariant(row, HiddenFieldNo(CRecAddrField), Variant(int32_t(FBridge->GetRecAddr())));
    DataSetSetFieldDataToRecBufAsVariant(row, HiddenFieldNo(CRecModFlagField),
                                         Variant(int32_t(FBridge->GetRecModFlag())));
    TOrqBaseTable::InternalPost();
}

void TOrqQuery::InternalDelete() {
    MoveBridgeToActiveRow();
    FBridge->Delete();
    TOrqBaseTable::InternalDelete();
}

}  // namespace ostra
