// orqQueryProvider: the provider, the life of its statement items and the subquery row source.
// Parsing lives in orqQueryProviderParse.cpp, running in orqQueryProviderResult.cpp,
// orqQueryProviderExec.cpp and orqQueryProviderSchema.cpp.
#include "engine/components/orqQueryProvider.h"

#include <atomic>
#include <unordered_map>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqJoinDataProviderUnit.h"
#include "engine/components/orqQueryAnalyser.h"
#include "engine/components/orqQueryDataset.h"
#include "engine/components/orqQueryPlanner.h"
#include "engine/sql/orqSelectAnalyser.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/db/Field.h"
#include "host/SysUtils.h"

namespace ostra {

// --- TQueryExprNodeDataProvider --------------------------------------------------------------

// The first values of one fill's rows by bucket key.
struct TQueryExprNodeDataProvider::TValueIndex {
    std::unordered_map<std::string, std::vector<Variant>> Buckets;
    bool Usable = true;    // the rows hold keyed values of one class only
    bool Numeric = false;  // that class: numbers and dates, else texts
};

TQueryExprNodeDataProvider::TQueryExprNodeDataProvider() = default;
TQueryExprNodeDataProvider::~TQueryExprNodeDataProvider() = default;

bool TQueryExprNodeDataProvider::ValueKey(const Variant& V, std::string& Key, bool& Numeric) {
    switch (VarType(V) & varTypeMask) {
        case varSmallint:
        case varInteger:
        case varSingle:
        case varDouble:
        case varCurrency:
        case varDate:
        case varShortInt:
        case varByte:
        case varWord:
        case varLongWord:
        case varInt64: {
            const double d = V.AsDouble() == 0 ? 0.0 : V.AsDouble();  // -0 and 0 share a bucket
            Key.assign(reinterpret_cast<const char*>(&d), sizeof d);
            Numeric = true;
            return true;
        }
        case varString: {
            Key = AnsiUpperCase(V.AsString());
            while (!Key.empty() && Key.back() == ' ') Key.pop_back();
            Numeric = false;
            return true;
        }
        default:
            return false;
    }
}

void TQueryExprNodeDataProvider::BuildValueIndex() {
    FValueIndex = std::make_unique<TValueIndex>();
    TValueIndex& index = *FValueIndex;
    TDataSet* rows = ProviderDataset();
    if (rows->FieldCount() == 0) {
        index.Usable = false;
        return;
    }
    bool first = true;
    std::string key;
    for (rows->First(); !rows->Eof(); rows->Next()) {
        const Variant value = rows->Fields()[0]->AsVariant();
        if (VarIsNull(value)) continue;  // never equal to a keyed value
        bool numeric = false;
        if (!ValueKey(value, key, numeric) || (!first && numeric != index.Numeric)) {
            index.Usable = false;
            break;
        }
        index.Numeric = numeric;
        first = false;
        index.Buckets[key].push_back(value);
    }
    rows->First();
}

bool TQueryExprNodeDataProvider::FindFirstValue(const Variant& V, const std::function<bool(const Variant&)>& Equal,
                                                bool& Found) {
    if (ProviderDataset() == nullptr) return false;
    if (!FValueIndex) BuildValueIndex();
    std::string key;
    bool numeric = false;
    if (!FValueIndex->Usable || !ValueKey(V, key, numeric)) return false;
    // A text compared with numbers (or the reverse) takes the scan's conversion rules.
    if (!FValueIndex->Buckets.empty() && numeric != FValueIndex->Numeric) return false;
    Found = false;
    const auto bucket = FValueIndex->Buckets.find(key);
    if (bucket == FValueIndex->Buckets.end()) return true;
    for (const Variant& value : bucket->second)
        if (Equal(value)) {
            Found = true;
            break;
        }
    return true;
}

bool TQueryExprNodeDataProvider::PrepareAndOpen() {
    TOrqQueryProviderItem* item = FQueryProviderItem;
    if (item == nullptr || ProviderDataset() == nullptr) return false;
    TOrqQueryDataset& rows = item->ResultSet();
    // A correlated subquery reads the outer row's values: plan and fill it again for each.
    if (item->IsCorrelated() || !rows.Active()) {
        rows.Close();
        if (!item->PreparePlan()) return false;
    }
    if (rows.Active()) {
        rows.First();
        return true;
    }
    FValueIndex.reset();
    if (!item->CreateResultSet()) return false;
    if (!rows.Active()) rows.Open();
    rows.First();
    return true;
}

// --- TOrqQueryProviderItem: life ------------------------------------------------------------

namespace {

// Result table names are unique within the process: a serial, not a random number, so two
// items can never draw the same name.
std::atomic<uint32_t> GResultTableSerial{0};

}  // namespace

TOrqQueryProviderItem::TOrqQueryProviderItem(TCollection* ACollection)
    : TCollectionItem(ACollection), FParserEngine(std::make_unique<TOrqParserEngine>()) {
    CreateOwnedObjects();
    FResultSet = std::make_unique<TOrqQueryDataset>(nullptr);
    FNodeDataProvider.SetProviderDataset(FResultSet.get());
    FNodeDataProvider.SetQueryProviderItem(this);
    ChooseResultTableName();
}

TOrqQueryProviderItem::~TOrqQueryProviderItem() {
    // A nested statement's result table lives in the in-memory store until deleted here.
    try {
        TOrqDataBase* db = FResultSet ? FResultSet->DataBase() : nullptr;
        if (Index() >= 1 && FResultStructureCreated && db != nullptr && db->Connected()) {
            FResultSet->Close();
            db->DeleteTable(FResultSet->TableName(), true);
        }
    } catch (...) {
        // A destructor must not raise; a table that could not be dropped stays until the
        // process ends, under a name no other item uses.
    }
    // Parsed conditions point at the engine's tokens: the plan and providers go first.
    FPlan.reset();
    FProviderMgr.reset();
    FAnalyser.reset();
    FResultFields.reset();
    FResultSet.reset();
}

void TOrqQueryProviderItem::CreateOwnedObjects() {
    FPlan.reset();
    FProviderMgr.reset();
    FAnalyser = std::make_unique<TOrqQueryAnalyser>();
    FJoins = std::make_unique<TOrqJoins>();
    FSelects = std::make_unique<TOrqSelects>();
    FResultFields = std::make_unique<TResultSetFields>();
    FProviderMgr = std::make_unique<TOrqJoinDataProviderMgr>();
    FPlan = std::make_unique<TOrqPlan>();
    FPlan->SetJoins(FJoins.get());
    FPlan->SetSelects(FSelects.get());
    FPlan->SetTableList(&FParserEngine->TableList());
    FPlan->SetProviderMgr(FProviderMgr.get());
    FSelectAnalyser = std::make_unique<TOrqSelectAnalyser>();
    FParserEngine->SetParserEngineNotifyEvent(
        [this](TParserNotifyType Type, TOrqParserEngine* Engine, TOrqExprNode* Node, Variant& Data) {
            ParserEngineCallback(Type, Engine, Node, Data);
        });
}

void TOrqQueryProviderItem::ChooseResultTableName() {
    TOrqDataBase* db = GetProviderParent() ? GetProviderParent()->Database() : nullptr;
    TStringList taken;
    if (db != nullptr && db->Connected()) db->GetTableNames(&taken, true);
    do {
        FResultTableName = "$Q" + IntToHex(ID(), 4) + IntToHex(++GResultTableSerial, 8);
    } while (taken.IndexOf(FResultTableName) >= 0);
}

TOrqQueryProvider* TOrqQueryProviderItem::GetProviderParent() const {
    return static_cast<TOrqQueryProvider*>(Collection());
}

void TOrqQueryProviderItem::SetSQL(const TStrings& Strings) { FSQL.Assign(&Strings); }

void TOrqQueryProviderItem::AddError(const std::string& Text) { FErrors.Add(Text); }

bool TOrqQueryProviderItem::Check(bool Ok, const std::string& Text) {
    if (!Ok) AddError(Text);
    return Ok;
}

TOrqSQLStatementType TOrqQueryProviderItem::GetSQLStatementType() const {
    return FParserEngine->GetSQLStatementType();
}

void TOrqQueryProviderItem::AssignExternalParserEngine(bool WhereOnly, const std::string& TableName,
                                                       std::unique_ptr<TOrqParserEngine> Engine) {
    FPlan.reset();
    FProviderMgr.reset();
    FAnalyser.reset();
    FParserEngine = std::move(Engine);
    CreateOwnedObjects();
    ParseStatement(WhereOnly, TableName);
}

// --- TOrqQueryProvider ----------------------------------------------------------------------

TOrqQueryProvider::TOrqQueryProvider() : TCollection(ItemClassOf<TOrqQueryProviderItem>()) {}

TOrqQueryProvider::~TOrqQueryProvider() {
    // Nested items first, so that each still knows it is nested when it drops its table.
    for (int i = Count() - 1; i >= 0; --i) Delete(i);
}

void TOrqQueryProvider::SetSQL(const TStrings& Strings) {
    FSQL.Assign(&Strings);
    for (int i = Count() - 1; i >= 0; --i) Delete(i);
}

bool TOrqQueryProvider::ValidateSQLOnly() {
    for (int i = Count() - 1; i >= 0; --i) Delete(i);
    FErrors.Clear();
    FTableErrors.Clear();
    TOrqQueryProviderItem* item = Add();
    item->SetSQL(FSQL);
    return item->ValidateSQL();
}

bool TOrqQueryProvider::ValidateSQL() {
    const bool ok = ValidateSQLOnly();
    if (ok && FParams != nullptr) Items(0)->CreateParamList();
    return ok;
}

void TOrqQueryProvider::ResetParams() {
    if (FParams == nullptr || FDatabase == nullptr) return;
    if (!ValidateSQL() && Count() > 0) Items(0)->CreateParamList();
}

void TOrqQueryProvider::ReleaseTables() {
    for (int i = 0; i < Count(); ++i) Items(i)->ReleaseTables();
}

bool TOrqQueryProvider::PreparePlan() { return Count() > 0 && Items(0)->Prepare(); }

bool TOrqQueryProvider::CreateResultSet() {
    if (Count() == 0) return false;
    TOrqQueryProviderItem* first = Items(0);
    first->SetRequestLive(FRequestLive && Count() == 1);
    first->SetCreateDefsOnly(FCreateDefsOnly);
    // The nested results of an earlier run are closed, so that every subquery and UNION member
    // is filled again from the tables as they are now and with this run's parameters.
    for (int i = 1; i < Count(); ++i) Items(i)->ResultSet().Close();
    return first->CreateResultSet();
}

bool TOrqQueryProvider::ExecSQL() {
    if (Count() == 0) return false;
    // A statement executed again reads its subqueries anew.
    for (int i = 1; i < Count(); ++i) Items(i)->ResultSet().Close();
    return Items(0)->ExecSQL();
}

TOrqQueryDataset* TOrqQueryProvider::GetResultSet() const {
    return Count() == 0 ? nullptr : &Items(0)->ResultSet();
}

TOrqSQLStatementType TOrqQueryProvider::GetSQLStatementType() const {
    return Count() == 0 ? osSQLUnknown : Items(0)->GetSQLStatementType();
}

bool TOrqQueryProvider::GetIsLiveRequest() const { return Count() == 1 && Items(0)->ResultIsLive(); }

void TOrqQueryProvider::SetLiveResultBridge(TOrqDatasetBridge& Bridge) {
    if (Count() == 1) Items(0)->SetLiveResultBridge(Bridge);
}

int TOrqQueryProvider::GetRowsAffected() const {
    if (Count() == 0) return 0;
    TOrqQueryProviderItem* first = Items(0);
    TOrqQueryDataset& rows = first->ResultSet();
    switch (first->GetSQLStatementType()) {
        case osSQLSelect:
            if (rows.Active()) return rows.RecordCount();
            return rows.GetRowsAffected();
        case osSchemaManipulation:
            return 0;
        default:
            return rows.GetRowsAffected();
    }
}

const TStringList& TOrqQueryProvider::GetErrors() {
    FErrors.Clear();
    FErrors.AddStrings(FTableErrors);
    for (int i = 0; i < Count(); ++i) FErrors.AddStrings(Items(i)->Errors());
    for (int i = FErrors.Count() - 1; i >= 0; --i)
        if (FErrors.Strings(i).empty()) FErrors.Delete(i);
    return FErrors;
}

std::string TOrqQueryProvider::GetErrorsAsText() {
    std::string text;
    const TStringList& errors = GetErrors();
    for (int i = 0; i < errors.Count(); ++i)
        if (!errors.Strings(i).empty()) text += errors.Strings(i) + ". ";
    return text;
}

}  // namespace ostra
