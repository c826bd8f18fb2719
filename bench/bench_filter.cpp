// Dataset filters of the engine cursor beside SQLite on the orders table of bench_cursor:
//   orders(id integer primary key, customer integer with a non-unique index, name of 40
//   characters, amount float, date), page size 4096 for both engines, a page cache of 10,000
//   pages each (the whole database cached: each engine's own work).
// Workloads (each read workload under one read lock / one read transaction):
//   Customer   10 filters "CUSTOMER = c" on the 200,000-row table (2,000 rows each, answered by
//              the customer index), each opened and walked from first to last reading the amount;
//              SQLite: SELECT amount ... WHERE customer = ? ORDER BY id;
//   Amount     the filter "AMOUNT > 225000" (20,000 rows; no index: every row is evaluated),
//              opened and walked; SQLite: the same WHERE ORDER BY id;
//   Locate     10,000 locates on the primary key in a scattered order, each reading the amount;
//              SQLite: SELECT amount ... WHERE id = ?;
//   Customer 20k   the Customer workload on a 20,000-row table with 10 customers, so that each
//              filter again selects 2,000 rows: a filter walk costs O(k log n), so the time per
//              filter barely grows from 20,000 to 200,000 rows (the last line prints the factor).
// The wall times are printed with the ratio Ostra / SQLite after the runs. Ratios of runs on a
// heavily shared machine: Customer 0.8-1.3, Amount 0.9-1.4, Locate 1.0-1.1, Customer 20k 1.0-1.4
// (on 20,000 rows the matches of one customer lie 10 entries apart in the primary index and are
// numbered by steps of its cursor; on 200,000 rows they lie 100 apart, and each is numbered by a
// key search that mostly stays in the leaf of the match before). What remains of Customer and
// Locate is mostly the key searches themselves (the copy of each leaf page; the pages above it
// are searched in place) and the page-cache lookups of the records.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include "bench/support/BenchFolder.h"
#include "bench/support/BenchOrders.h"
#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataSet.h"
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
constexpr int Filters = 10;
constexpr int Locates = 10000;
constexpr int RowsPerCustomer = 2000;

int LocateID(int K, int Rows) { return int(int64_t(K) * 104729 % Rows) + 1; }

const bench::TBenchFolder& Folder() {
    static bench::TBenchFolder folder("ostra-bench-filter");
    return folder;
}

// One orders table of Rows rows in both engines.
struct TTables {
    int Rows;
    int Customers;
    std::unique_ptr<TOrqDataBase> DataBase;
    std::unique_ptr<TOrqDataSet> Cursor;
    sqlite3* DB = nullptr;
    int ID = 0, Customer = 0, Name = 0, Amount = 0, Date = 0;

    TTables(int ARows) : Rows(ARows), Customers(ARows / RowsPerCustomer) {
        const std::string stem = "orders" + std::to_string(Rows);
        DataBase = std::make_unique<TOrqDataBase>(nullptr);
        DataBase->SetDataBaseName(Folder().File(stem + ".orq"));
        DataBase->CreateDatabase();
        DataBase->SetConnected(true);
        bench::CreateOrdersTable(DataBase.get());
        Cursor = std::make_unique<TOrqDataSet>(nullptr);
        Cursor->SetDataBase(DataBase.get());
        Cursor->SetTableName("Orders");
        Cursor->DataSetOpen();
        ID = Cursor->GetFieldNo("ID");
        Customer = Cursor->GetFieldNo("CUSTOMER");
        Name = Cursor->GetFieldNo("NAME");
        Amount = Cursor->GetFieldNo("AMOUNT");
        Date = Cursor->GetFieldNo("ODATE");
        DataBase->StartTransaction();
        Cursor->LockTable();
        for (int id = 1; id <= Rows; ++id) {
            const int customer = id % Customers;
            const double amount = OrderAmount(id), date = OrderDate(id);
            const std::string name = OrderName(id);
            Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
            Cursor->DataSetSetFieldData(ID, 4, false, &id);
            Cursor->DataSetSetFieldData(Customer, 4, false, &customer);
            Cursor->DataSetSetFieldData(Name, int(name.size()), false, name.data());
            Cursor->DataSetSetFieldData(Amount, 8, false, &amount);
            Cursor->DataSetSetFieldData(Date, 8, false, &date);
            Cursor->AddRecord(false);
        }
        Cursor->UnlockTable();
        DataBase->Commit();
        DataBase->DiskMgr()->File().PageCache().ResetPageCount(CachePages);
        Cursor->InternalSetIndexName("PK");

        const std::string path = Folder().File(stem + ".db");
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        sqlite3_open(path.c_str(), &DB);
        Exec("PRAGMA page_size=4096; PRAGMA cache_size=" + std::to_string(CachePages) + ";");
        Exec("CREATE TABLE orders(id INTEGER PRIMARY KEY, customer INTEGER, name TEXT, amount REAL, odate REAL);"
             "CREATE INDEX ix_customer ON orders(customer);");
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(DB, "INSERT INTO orders VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr);
        Exec("BEGIN");
        for (int id = 1; id <= Rows; ++id) {
            const std::string name = OrderName(id);
            sqlite3_bind_int(insert, 1, id);
            sqlite3_bind_int(insert, 2, id % Customers);
            sqlite3_bind_text(insert, 3, name.data(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_double(insert, 4, OrderAmount(id));
            sqlite3_bind_double(insert, 5, OrderDate(id));
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        Exec("COMMIT");
        sqlite3_finalize(insert);
    }
    ~TTables() {
        if (DB) sqlite3_close(DB);
    }
    void Exec(const std::string& Sql) {
        char* error = nullptr;
        if (sqlite3_exec(DB, Sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string text = error ? error : "unknown error";
            sqlite3_free(error);
            throw std::runtime_error(text);
        }
    }
    double ReadAmount() {
        double amount = 0;
        bool isNull = false;
        Cursor->DataSetGetFieldData(Amount, isNull, &amount);
        return amount;
    }
    // Opens the filter Text and walks it; the number of rows.
    int WalkFilter(const std::string& Text, double& Sum) {
        Cursor->InternalClearFilter();
        Cursor->SetFilterText(Text);
        Cursor->InternalSetFilter();
        int rows = 0;
        for (bool more = Cursor->DataSetFirst(); more; more = Cursor->DataSetNext()) {
            Sum += ReadAmount();
            ++rows;
        }
        Cursor->InternalClearFilter();
        return rows;
    }
    int WalkSQLite(sqlite3_stmt* Select, double& Sum) {
        int rows = 0;
        while (sqlite3_step(Select) == SQLITE_ROW) {
            Sum += sqlite3_column_double(Select, 0);
            ++rows;
        }
        sqlite3_reset(Select);
        return rows;
    }
};

TTables& Large() {
    static TTables tables(200000);
    return tables;
}
TTables& Small() {
    static TTables tables(20000);
    return tables;
}

// Ostra's reads of one workload under one table read lock; Body adds to the sum it is given.
template <class TBody>
void OstraReads(benchmark::State& State, TTables& T, const std::string& Workload, const TBody& Body) {
    double sum = 0;
    Measure(State, Workload, "Ostra", [&] {
        T.Cursor->ReadLockTable();
        Body(sum);
        T.Cursor->UnlockTable();
    });
    benchmark::DoNotOptimize(sum);
}

// SQLite's reads of one workload with the statement Sql inside one read transaction.
template <class TBody>
void SQLiteReads(benchmark::State& State, TTables& T, const std::string& Workload, const char* Sql, const TBody& Body) {
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(T.DB, Sql, -1, &select, nullptr);
    double sum = 0;
    Measure(State, Workload, "SQLite", [&] {
        T.Exec("BEGIN");
        Body(select, sum);
        T.Exec("COMMIT");
    });
    sqlite3_finalize(select);
    benchmark::DoNotOptimize(sum);
}

void CustomerOstra(benchmark::State& State, TTables& T, const std::string& Workload) {
    OstraReads(State, T, Workload, [&](double& Sum) {
        for (int f = 0; f < Filters; ++f)
            if (T.WalkFilter("CUSTOMER = " + std::to_string(f * (T.Customers / Filters)), Sum) != RowsPerCustomer)
                State.SkipWithError("a filter missed rows");
    });
}

void CustomerSQLite(benchmark::State& State, TTables& T, const std::string& Workload) {
    SQLiteReads(State, T, Workload, "SELECT amount FROM orders WHERE customer = ? ORDER BY id",
                [&](sqlite3_stmt* Select, double& Sum) {
                    for (int f = 0; f < Filters; ++f) {
                        sqlite3_bind_int(Select, 1, f * (T.Customers / Filters));
                        if (T.WalkSQLite(Select, Sum) != RowsPerCustomer) State.SkipWithError("a query missed rows");
                    }
                });
}

void BM_Customer_Ostra(benchmark::State& State) { CustomerOstra(State, Large(), "Customer"); }
void BM_Customer_SQLite(benchmark::State& State) { CustomerSQLite(State, Large(), "Customer"); }
void BM_Customer20k_Ostra(benchmark::State& State) { CustomerOstra(State, Small(), "Customer 20k"); }
void BM_Customer20k_SQLite(benchmark::State& State) { CustomerSQLite(State, Small(), "Customer 20k"); }

void BM_Amount_Ostra(benchmark::State& State) {
    OstraReads(State, Large(), "Amount", [&](double& Sum) {
        if (Large().WalkFilter("AMOUNT > 225000", Sum) != 20000) State.SkipWithError("the filter missed rows");
    });
}

void BM_Amount_SQLite(benchmark::State& State) {
    SQLiteReads(State, Large(), "Amount", "SELECT amount FROM orders WHERE amount > 225000 ORDER BY id",
                [&](sqlite3_stmt* Select, double& Sum) {
                    if (Large().WalkSQLite(Select, Sum) != 20000) State.SkipWithError("the query missed rows");
                });
}

void BM_Locate_Ostra(benchmark::State& State) {
    TTables& t = Large();
    TOrqDataSet& cursor = *t.Cursor;
    std::vector<uint8_t> search(size_t(cursor.InternalGetRecordSize() + C_RECTRAILERSIZE), 0);
    OstraReads(State, t, "Locate", [&](double& Sum) {
        for (int k = 0; k < Locates; ++k) {
            const int id = LocateID(k, t.Rows);
            cursor.InitializeNewRecord(search.data(), false);
            cursor.DataSetSetFieldDataToRecBuf(t.ID, 4, false, search.data(), &id);
            if (!cursor.DoLocate("PK", search.data(), cursor.RecordBuffer(), "ID", {}, true, true))
                State.SkipWithError("a key was not found");
            Sum += t.ReadAmount();
        }
    });
}

void BM_Locate_SQLite(benchmark::State& State) {
    TTables& t = Large();
    SQLiteReads(State, t, "Locate", "SELECT amount FROM orders WHERE id = ?", [&](sqlite3_stmt* Select, double& Sum) {
        for (int k = 0; k < Locates; ++k) {
            sqlite3_bind_int(Select, 1, LocateID(k, t.Rows));
            if (sqlite3_step(Select) != SQLITE_ROW) State.SkipWithError("a key was not found");
            Sum += sqlite3_column_double(Select, 0);
            sqlite3_reset(Select);
        }
    });
}

#define FILTER_BENCH(Name) BENCHMARK(Name)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3)
FILTER_BENCH(BM_Customer_Ostra);
FILTER_BENCH(BM_Customer_SQLite);
FILTER_BENCH(BM_Amount_Ostra);
FILTER_BENCH(BM_Amount_SQLite);
FILTER_BENCH(BM_Locate_Ostra);
FILTER_BENCH(BM_Locate_SQLite);
FILTER_BENCH(BM_Customer20k_Ostra);
FILTER_BENCH(BM_Customer20k_SQLite);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    bench::PrintRatios({"Customer", "Amount", "Locate", "Customer 20k"});
    auto& large = Times()["Customer"];
    auto& small = Times()["Customer 20k"];
    if (large.count("Ostra") && small.count("Ostra"))
        std::printf("Ostra: a 2,000-row filter on 200,000 rows takes %.2f times as long as on 20,000 rows\n",
                    large["Ostra"] / small["Ostra"]);
    return 0;
}
