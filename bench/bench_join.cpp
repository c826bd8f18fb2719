// Joins through the join data providers beside SQLite running the same SELECT:
//   SELECT c.region, COUNT(*) FROM orders o JOIN customers c ON o.customer = c.id GROUP BY c.region
// over the orders table of bench_cursor (customer with a non-unique index) and customers(id
// integer primary key, region of 10 characters, 8 regions), 10,000 customers, orders of 50,000
// and 200,000 rows, page size 4096 and a cache of 10,000 pages in both engines. Ostra builds the
// provider tree (a join provider over two single-table providers with the ON condition), opens
// it and counts the rows per region in its own loop over the provider rows, reading the region
// raw; SQLite steps its prepared statement. Each run is one read transaction in SQLite and one
// read lock per table in Ostra.
//
// The last line prints how the time grows from 50,000 to 200,000 orders: a factor near 4 is
// linear growth (n log n would be about 4.5). Runs on a shared, loaded machine gave Ostra/SQLite
// 2.1-3.2 at 50,000 orders and 1.3-1.9 at 200,000, and 200,000 orders took 1.7-2.8 times as
// long as 50,000 in Ostra (the hash of the 10,000 customers and the opening are a fixed part).
// The plan is the index range mode (both join columns indexed): the customers are hashed within
// the range of the orders' customer keys and the orders drive in their primary-key order.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include "bench/support/BenchFolder.h"
#include "bench/support/BenchOrders.h"
#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataSet.h"
#include "engine/components/orqFilterMgr.h"
#include "engine/components/orqJoinDataProviderUnit.h"
#include "engine/sql/orqExprParser.h"
#include "engine/sql/orqPreParser.h"
#include "engine/sql/orqTableList.h"
#include "engine/storage/orqCacheMgr.h"
#include "engine/storage/orqDisk.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

namespace {

using namespace ostra;
using bench::Measure;
using bench::OrderAmount;
using bench::OrderDate;
using bench::OrderName;
using bench::Times;

constexpr int CachePages = 10000;
constexpr int Customers = 10000;
constexpr int Regions = 8;

std::string RegionOf(int Customer) { return "region " + std::to_string(Customer % Regions); }

const bench::TBenchFolder& Folder() {
    static bench::TBenchFolder folder("ostra-bench-join");
    return folder;
}

// Orders of Rows rows and the customers, in both engines; the parsed ON condition.
struct TJoinTables {
    int Rows;
    std::unique_ptr<TOrqDataBase> DataBase;
    sqlite3* DB = nullptr;
    // Cursors that keep both tables open between the runs, as an application does: a table's
    // cached pages are dropped when it is opened anew (another process may have changed it).
    std::vector<std::unique_ptr<TOrqDataSet>> Keepers;
    TTableList Tables;
    TOrqPreParser PreParser;
    TOrqExprParser Parser;

    explicit TJoinTables(int ARows) : Rows(ARows) {
        const std::string stem = "join" + std::to_string(Rows);
        DataBase = std::make_unique<TOrqDataBase>(nullptr);
        DataBase->SetDataBaseName(Folder().File(stem + ".orq"));
        DataBase->CreateDatabase();
        DataBase->SetConnected(true);
        bench::CreateOrdersTable(DataBase.get());
        CreateCustomersTable();
        FillOstra();
        DataBase->DiskMgr()->File().PageCache().ResetPageCount(CachePages);
        FillSQLite(Folder().File(stem + ".db"));
        ParseCondition();
    }
    ~TJoinTables() {
        if (DB) sqlite3_close(DB);
    }

    void CreateCustomersTable() {
        TOrqDataSet creator(nullptr);
        creator.SetDataBase(DataBase.get());
        creator.SetTableName("Customers");
        TFieldDefs fields(nullptr);
        fields.Add("ID", ftInteger);
        fields.Add("REGION", ftString, 10);
        TIndexDefs indexes(nullptr);
        indexes.Add("PK", "ID", TIndexOptions{ixPrimary, ixUnique});
        creator.SetTableDef(false, fields, indexes);
        creator.InternalCreateTable();
    }

    void FillOstra() {
        DataBase->StartTransaction();
        TOrqDataSet orders(nullptr);
        orders.SetDataBase(DataBase.get());
        orders.SetTableName("Orders");
        orders.DataSetOpen();
        orders.LockTable();
        for (int id = 1; id <= Rows; ++id) {
            const int customer = int(int64_t(id) * 7919 % Customers);
            const double amount = OrderAmount(id), date = OrderDate(id);
            const std::string name = OrderName(id);
            orders.InitializeNewRecord(orders.RecordBuffer(), false);
            orders.DataSetSetFieldData(orders.GetFieldNo("ID"), 4, false, &id);
            orders.DataSetSetFieldData(orders.GetFieldNo("CUSTOMER"), 4, false, &customer);
            orders.DataSetSetFieldData(orders.GetFieldNo("NAME"), int(name.size()), false, name.data());
            orders.DataSetSetFieldData(orders.GetFieldNo("AMOUNT"), 8, false, &amount);
            orders.DataSetSetFieldData(orders.GetFieldNo("ODATE"), 8, false, &date);
            orders.AddRecord(false);
        }
        orders.UnlockTable();
        TOrqDataSet customers(nullptr);
        customers.SetDataBase(DataBase.get());
        customers.SetTableName("Customers");
        customers.DataSetOpen();
        customers.LockTable();
        for (int id = 0; id < Customers; ++id) {
            const std::string region = RegionOf(id);
            customers.InitializeNewRecord(customers.RecordBuffer(), false);
            customers.DataSetSetFieldData(customers.GetFieldNo("ID"), 4, false, &id);
            customers.DataSetSetFieldData(customers.GetFieldNo("REGION"), int(region.size()), false, region.data());
            customers.AddRecord(false);
        }
        customers.UnlockTable();
        DataBase->Commit();
    }

    void FillSQLite(const std::string& Path) {
        std::error_code ignored;
        std::filesystem::remove(Path, ignored);
        sqlite3_open(Path.c_str(), &DB);
        Exec("PRAGMA page_size=4096; PRAGMA cache_size=" + std::to_string(CachePages) + ";");
        Exec("CREATE TABLE orders(id INTEGER PRIMARY KEY, customer INTEGER, name TEXT, amount REAL, odate REAL);"
             "CREATE INDEX ix_customer ON orders(customer);"
             "CREATE TABLE customers(id INTEGER PRIMARY KEY, region TEXT);");
        Exec("BEGIN");
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(DB, "INSERT INTO orders VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr);
        for (int id = 1; id <= Rows; ++id) {
            const std::string name = OrderName(id);
            sqlite3_bind_int(insert, 1, id);
            sqlite3_bind_int(insert, 2, int(int64_t(id) * 7919 % Customers));
            sqlite3_bind_text(insert, 3, name.data(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_double(insert, 4, OrderAmount(id));
            sqlite3_bind_double(insert, 5, OrderDate(id));
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_prepare_v2(DB, "INSERT INTO customers VALUES (?, ?)", -1, &insert, nullptr);
        for (int id = 0; id < Customers; ++id) {
            const std::string region = RegionOf(id);
            sqlite3_bind_int(insert, 1, id);
            sqlite3_bind_text(insert, 2, region.data(), int(region.size()), SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        Exec("COMMIT; ANALYZE;");
    }

    void Exec(const std::string& Sql) {
        char* error = nullptr;
        if (sqlite3_exec(DB, Sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string text = error ? error : "unknown error";
            sqlite3_free(error);
            throw std::runtime_error(text);
        }
    }

    void ParseCondition() {
        // The tables as the expression parser sees them: their fields from their record layouts.
        for (auto [name, alias] : {std::pair{"Orders", "o"}, std::pair{"Customers", "c"}}) {
            auto cursor = std::make_unique<TOrqDataSet>(nullptr);
            cursor->SetDataBase(DataBase.get());
            cursor->SetTableName(name);
            cursor->DataSetOpen();
            TTableNameItem* item = Tables.Add();
            item->SetTableName(name);
            item->SetCorrelationName(alias);
            TCursorTableFields fields(cursor->GetInternalFields());
            item->SetTableFields(&fields);
            Keepers.push_back(std::move(cursor));
        }
        PreParser.SetParseAsExprOnly(true);
        PreParser.SetText("o.CUSTOMER = c.ID");
        PreParser.PreParseTokens();
        Parser.SetTableList(&Tables);
        if (!Parser.Execute(TOrqParserOptions{opoExtSyntax}, PreParser.GetSection(ostWhere, nullptr)))
            throw std::runtime_error("the join condition does not parse: " + Parser.GetErrorMsg());
    }

    // The join through the providers; the number of rows of each region, counted by the value.
    std::map<std::string, int> OstraJoin() {
        TOrqJoinDataProviderMgr mgr;
        mgr.SetDatabase(DataBase.get());
        TOrqNonJoinDataProvider* orders = mgr.GetNonJoinProvider("Orders", "o", false);
        TOrqNonJoinDataProvider* customers = mgr.GetNonJoinProvider("Customers", "c", false);
        TOrqStdJoinDataProvider* join = mgr.GetStdJoinProvider();
        join->SetProviderName("Orders.Customers");
        join->SetJoinType(jtInnerJoin);
        join->SetOuterProvider(orders);
        join->SetInnerProvider(customers);
        join->SetJoinExprRoot(Parser.RootNode());
        mgr.SetRootProvider(join);
        mgr.OpenProviders();
        // One read lock per table for the whole walk, as SQLite's read transaction.
        orders->DataBridge()->ReadLockTable();
        customers->DataBridge()->ReadLockTable();
        const int region = join->FindField(nullptr, "REGION")->FieldNo();
        std::map<std::string, int> counts;
        std::map<std::string, int>::iterator last = counts.end();
        TDataHolder holder;
        for (bool found = mgr.FirstProviderRecord(); found; found = mgr.NextProviderRecord()) {
            join->GetRawFieldData(region, holder);
            const char* text = reinterpret_cast<const char*>(holder.Data);
            const size_t length = strnlen(text, size_t(holder.Length));
            // Rows of one region often follow each other: compare with the last one first.
            if (last == counts.end() || last->first.compare(0, std::string::npos, text, length) != 0)
                last = counts.try_emplace(std::string(text, length), 0).first;
            ++last->second;
        }
        customers->DataBridge()->UnlockTable();
        orders->DataBridge()->UnlockTable();
        return counts;
    }

    std::map<std::string, int> SQLiteJoin(sqlite3_stmt* Select) {
        std::map<std::string, int> counts;
        Exec("BEGIN");
        while (sqlite3_step(Select) == SQLITE_ROW)
            counts[reinterpret_cast<const char*>(sqlite3_column_text(Select, 0))] = sqlite3_column_int(Select, 1);
        sqlite3_reset(Select);
        Exec("COMMIT");
        return counts;
    }
};

TJoinTables& Tables(int Rows) {
    static std::map<int, std::unique_ptr<TJoinTables>> tables;
    auto& t = tables[Rows];
    if (!t) t = std::make_unique<TJoinTables>(Rows);
    return *t;
}

// The expected counts: every order has a customer.
bool CountsRight(const std::map<std::string, int>& Counts, int Rows) {
    int total = 0;
    for (const auto& [region, count] : Counts) total += count;
    return total == Rows && int(Counts.size()) == Regions;
}

void JoinOstra(benchmark::State& State, int Rows, const std::string& Workload) {
    TJoinTables& t = Tables(Rows);
    Measure(State, Workload, "Ostra", [&] {
        if (!CountsRight(t.OstraJoin(), Rows)) State.SkipWithError("the join missed rows");
    });
}

void JoinSQLite(benchmark::State& State, int Rows, const std::string& Workload) {
    TJoinTables& t = Tables(Rows);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(t.DB,
                       "SELECT c.region, COUNT(*) FROM orders o JOIN customers c ON o.customer = c.id "
                       "GROUP BY c.region",
                       -1, &select, nullptr);
    Measure(State, Workload, "SQLite", [&] {
        if (!CountsRight(t.SQLiteJoin(select), Rows)) State.SkipWithError("the query missed rows");
    });
    sqlite3_finalize(select);
}

void BM_Join50k_Ostra(benchmark::State& State) { JoinOstra(State, 50000, "Join 50k"); }
void BM_Join50k_SQLite(benchmark::State& State) { JoinSQLite(State, 50000, "Join 50k"); }
void BM_Join200k_Ostra(benchmark::State& State) { JoinOstra(State, 200000, "Join 200k"); }
void BM_Join200k_SQLite(benchmark::State& State) { JoinSQLite(State, 200000, "Join 200k"); }

#define JOIN_BENCH(Name) BENCHMARK(Name)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3)
JOIN_BENCH(BM_Join50k_Ostra);
JOIN_BENCH(BM_Join50k_SQLite);
JOIN_BENCH(BM_Join200k_Ostra);
JOIN_BENCH(BM_Join200k_SQLite);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    bench::PrintRatios({"Join 50k", "Join 200k"});
    auto& small = Times()["Join 50k"];
    auto& large = Times()["Join 200k"];
    for (const char* engine : {"Ostra", "SQLite"})
        if (small.count(engine) && large.count(engine))
            std::printf("%s: 200,000 orders take %.2f times as long as 50,000\n", engine, large[engine] / small[engine]);
    return 0;
}
