// The engine cursor beside SQLite on one orders table in the same run:
//   orders(id integer primary key, customer integer with a non-unique index, name of 40
//   characters, amount float, date), 200,000 rows, page size 4096 for both engines and a page
//   cache of 1,000 pages (4 MiB) each (the size the engine gives a file of this size when it opens
//   it; SQLite is set to the same).
// Four workloads:
//   Insert   all rows in one transaction, committed (flushed) at the end, ids ascending as orders
//            are numbered (SQLite keeps rows in the order of an integer primary key, the engine in
//            the order they were added: with ids in a scattered order, the engine's walks in key
//            order read the record pages at random; the closing note of the cursor's issue gives
//            those numbers too);
//   Search   200,000 primary-key searches in a scattered order, each reading the amount;
//   Walk     the whole table in primary-key order, reading the amount of every row;
//   Range    100 ranges of 100 customers (about 2,000 rows each) through the customer index,
//            reading the amount of every row.
// The reads run as one read transaction each: SQLite inside BEGIN ... COMMIT, the cursor under one
// table read lock (ReadLockTable ... UnlockTable), the way each engine serves a batch of reads.
// They run twice: with the page cache of 1,000 pages, and with 10,000 pages for both engines (the
// whole database cached: what each engine's own work costs without reads from the system).
// The same workloads run a third time through the table component (TOrqTable, the framework's
// dataset face over the cursor): Append/Post, FindKey, First..Next, SetRange, reading the amount
// through its field. Each workload's wall time is printed after the runs with the ratios
// Ostra / SQLite and table component / cursor.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include "bench/support/BenchFolder.h"
#include "bench/support/BenchOrders.h"
#include "engine/components/orqDataSet.h"
#include "engine/components/orqDataBase.h"
#include "engine/components/orqTable.h"
#include "engine/storage/orqCacheMgr.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqSearchKey.h"
#include "host/db/Field.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

namespace {

using namespace ostra;

constexpr int Rows = 200000;
constexpr int Customers = 10000;  // 20 rows each
constexpr int RangeCustomers = 100;
constexpr int Ranges = 100;
constexpr int CachePages = 1000;

int RowID(int I) { return I + 1; }
int RowCustomer(int ID) { return ID % Customers; }
double RowAmount(int ID) { return bench::OrderAmount(ID); }
double RowDate(int ID) { return bench::OrderDate(ID); }
std::string RowName(int ID) { return bench::OrderName(ID); }
int SearchID(int K) { return int(int64_t(K) * 104729 % Rows) + 1; }

const bench::TBenchFolder& Folder() {
    static bench::TBenchFolder folder("ostra-bench-cursor");
    static const bool noted = (benchmark::AddCustomContext("bench_cursor folder", folder.Path()), true);
    (void)noted;
    return folder;
}

// Runs Work once per iteration and records its wall time (reads with the large cache under their
// own workload name).
template <class TWork>
void Measure(benchmark::State& State, std::string Workload, const std::string& Engine, const TWork& Work) {
    if (State.range(0) > CachePages) Workload += " (large cache)";
    bench::Measure(State, Workload, Engine, Work);
}

// ---------------------------------------------------------------------------------------------
// Ostra

struct TOstra {
    std::unique_ptr<TOrqDataBase> DataBase;
    std::unique_ptr<TOrqDataSet> Cursor;
    int ID = 0, Customer = 0, Name = 0, Amount = 0, Date = 0;

    void Connect(bool Create) {
        Cursor.reset();
        DataBase = std::make_unique<TOrqDataBase>(nullptr);
        DataBase->SetDataBaseName(Folder().File("orders.orq"));
        if (Create) DataBase->CreateDatabase();
        DataBase->SetConnected(true);
    }
    void OpenCursor() {
        Cursor = std::make_unique<TOrqDataSet>(nullptr);
        Cursor->SetDataBase(DataBase.get());
        Cursor->SetTableName("Orders");
        Cursor->DataSetOpen();
        ID = Cursor->GetFieldNo("ID");
        Customer = Cursor->GetFieldNo("CUSTOMER");
        Name = Cursor->GetFieldNo("NAME");
        Amount = Cursor->GetFieldNo("AMOUNT");
        Date = Cursor->GetFieldNo("ODATE");
    }
    // The page cache for the reads: Pages pages.
    void SetCache(int Pages) { DataBase->DiskMgr()->File().PageCache().ResetPageCount(Pages); }
    double ReadAmount() {
        double amount = 0;
        bool isNull = false;
        Cursor->DataSetGetFieldData(Amount, isNull, &amount);
        return amount;
    }
};

TOstra& Ostra() {
    static TOstra ostra;
    return ostra;
}

void BM_Insert_Ostra(benchmark::State& State) {
    TOstra& ostra = Ostra();
    Measure(State, "Insert", "Ostra", [&] {
        ostra.Connect(true);
        bench::CreateOrdersTable(ostra.DataBase.get());
        ostra.OpenCursor();
        TOrqDataSet& cursor = *ostra.Cursor;
        ostra.DataBase->StartTransaction();
        cursor.LockTable();
        for (int i = 0; i < Rows; ++i) {
            const int id = RowID(i), customer = RowCustomer(id);
            const double amount = RowAmount(id), date = RowDate(id);
            const std::string name = RowName(id);
            cursor.InitializeNewRecord(cursor.RecordBuffer(), false);
            cursor.DataSetSetFieldData(ostra.ID, 4, false, &id);
            cursor.DataSetSetFieldData(ostra.Customer, 4, false, &customer);
            cursor.DataSetSetFieldData(ostra.Name, int(name.size()), false, name.data());
            cursor.DataSetSetFieldData(ostra.Amount, 8, false, &amount);
            cursor.DataSetSetFieldData(ostra.Date, 8, false, &date);
            cursor.AddRecord(false);
        }
        cursor.UnlockTable();
        ostra.DataBase->Commit();
    });
    // The reads start from a fresh connection, as a reader would.
    ostra.Connect(false);
    ostra.OpenCursor();
}

void BM_Search_Ostra(benchmark::State& State) {
    TOstra& ostra = Ostra();
    ostra.SetCache(int(State.range(0)));
    TOrqDataSet& cursor = *ostra.Cursor;
    double sum = 0;
    Measure(State, "Search", "Ostra", [&] {
        cursor.ReadLockTable();
        for (int k = 0; k < Rows; ++k) {
            const int id = SearchID(k);
            cursor.InitializeNewRecord(cursor.RecordBuffer(), false);
            cursor.DataSetSetFieldData(ostra.ID, 4, false, &id);
            if (!cursor.Find(stEQ, "PK", nullptr)) State.SkipWithError("a key was not found");
            sum += ostra.ReadAmount();
        }
        cursor.UnlockTable();
    });
    benchmark::DoNotOptimize(sum);
}

void BM_Walk_Ostra(benchmark::State& State) {
    TOstra& ostra = Ostra();
    ostra.SetCache(int(State.range(0)));
    TOrqDataSet& cursor = *ostra.Cursor;
    double sum = 0;
    Measure(State, "Walk", "Ostra", [&] {
        int rows = 0;
        cursor.ReadLockTable();
        for (bool more = cursor.DataSetFirst(); more; more = cursor.DataSetNext()) {
            sum += ostra.ReadAmount();
            ++rows;
        }
        cursor.UnlockTable();
        if (rows != Rows) State.SkipWithError("the walk missed rows");
    });
    benchmark::DoNotOptimize(sum);
}

void BM_Range_Ostra(benchmark::State& State) {
    TOstra& ostra = Ostra();
    ostra.SetCache(int(State.range(0)));
    TOrqDataSet& cursor = *ostra.Cursor;
    double sum = 0;
    Measure(State, "Range", "Ostra", [&] {
        cursor.InternalSetIndexName("ixCustomer");
        int rows = 0;
        cursor.ReadLockTable();
        for (int r = 0; r < Ranges; ++r) {
            const int first = r * (Customers / Ranges), last = first + RangeCustomers - 1;
            cursor.DataSetClearRange();
            cursor.DataSetSetFieldDataToRecBuf(ostra.Customer, 4, false, cursor.GetRangeRecBuf(rmRangeStart), &first);
            cursor.DataSetSetFieldDataToRecBuf(ostra.Customer, 4, false, cursor.GetRangeRecBuf(rmRangeEnd), &last);
            cursor.SetRangeOn(true);
            for (bool more = cursor.DataSetFirst(); more; more = cursor.DataSetNext()) {
                sum += ostra.ReadAmount();
                ++rows;
            }
        }
        cursor.DataSetClearRange();
        cursor.SetRangeOn(false);
        cursor.UnlockTable();
        cursor.InternalSetIndexName("PK");
        if (rows != Ranges * RangeCustomers * (Rows / Customers)) State.SkipWithError("a range missed rows");
    });
    benchmark::DoNotOptimize(sum);
}

// ---------------------------------------------------------------------------------------------
// Ostra through the table component

struct TTableBench {
    std::unique_ptr<TOrqDataBase> DataBase;
    std::unique_ptr<TOrqTable> Table;
    TField *ID = nullptr, *Customer = nullptr, *Name = nullptr, *Amount = nullptr, *Date = nullptr;

    void Connect(const std::string& File, bool Create) {
        Table.reset();
        DataBase = std::make_unique<TOrqDataBase>(nullptr);
        DataBase->SetDataBaseName(Folder().File(File));
        if (Create) DataBase->CreateDatabase();
        DataBase->SetConnected(true);
    }
    void OpenTable() {
        Table = std::make_unique<TOrqTable>(nullptr);
        Table->SetDataBase(DataBase.get());
        Table->SetTableName("Orders");
        Table->SetIndexName("PK");
        Table->Open();
        ID = Table->FieldByName("ID");
        Customer = Table->FieldByName("CUSTOMER");
        Name = Table->FieldByName("NAME");
        Amount = Table->FieldByName("AMOUNT");
        Date = Table->FieldByName("ODATE");
    }
    void SetCache(int Pages) { DataBase->DiskMgr()->File().PageCache().ResetPageCount(Pages); }
};

TTableBench& TableBench() {
    static TTableBench bench;
    return bench;
}

// The table component for the reads: on the cursor's file (the same rows), from a fresh
// connection when the insert run did not leave one.
TTableBench& TableReader() {
    TTableBench& bench = TableBench();
    if (!bench.Table) {
        bench.Connect("orders.orq", false);
        bench.OpenTable();
    }
    return bench;
}

void BM_Insert_Table(benchmark::State& State) {
    TTableBench& bench = TableBench();
    Measure(State, "Insert", "Table", [&] {
        bench.Connect("orders_table.orq", true);
        bench::CreateOrdersTable(bench.DataBase.get());
        bench.OpenTable();
        TOrqTable& table = *bench.Table;
        bench.DataBase->StartTransaction();
        table.SetLocked(true);
        for (int i = 0; i < Rows; ++i) {
            const int id = RowID(i);
            table.Append();
            bench.ID->SetAsInteger(id);
            bench.Customer->SetAsInteger(RowCustomer(id));
            bench.Name->SetAsString(RowName(id));
            bench.Amount->SetAsFloat(RowAmount(id));
            bench.Date->SetAsDateTime(RowDate(id));
            table.Post();
        }
        table.SetLocked(false);
        bench.DataBase->Commit();
    });
    bench.Table.reset();
}

void BM_Search_Table(benchmark::State& State) {
    TTableBench& bench = TableReader();
    bench.SetCache(int(State.range(0)));
    TOrqTable& table = *bench.Table;
    double sum = 0;
    Measure(State, "Search", "Table", [&] {
        table.ReadLockTable();
        for (int k = 0; k < Rows; ++k) {
            if (!table.FindKey({Variant(SearchID(k))})) State.SkipWithError("a key was not found");
            sum += bench.Amount->AsFloat();
        }
        table.UnlockTable();
    });
    benchmark::DoNotOptimize(sum);
}

void BM_Walk_Table(benchmark::State& State) {
    TTableBench& bench = TableReader();
    bench.SetCache(int(State.range(0)));
    TOrqTable& table = *bench.Table;
    double sum = 0;
    Measure(State, "Walk", "Table", [&] {
        int rows = 0;
        table.ReadLockTable();
        for (table.First(); !table.Eof(); table.Next()) {
            sum += bench.Amount->AsFloat();
            ++rows;
        }
        table.UnlockTable();
        if (rows != Rows) State.SkipWithError("the walk missed rows");
    });
    benchmark::DoNotOptimize(sum);
}

void BM_Range_Table(benchmark::State& State) {
    TTableBench& bench = TableReader();
    bench.SetCache(int(State.range(0)));
    TOrqTable& table = *bench.Table;
    double sum = 0;
    Measure(State, "Range", "Table", [&] {
        table.SetIndexName("ixCustomer");
        int rows = 0;
        table.ReadLockTable();
        for (int r = 0; r < Ranges; ++r) {
            const int first = r * (Customers / Ranges), last = first + RangeCustomers - 1;
            table.SetRange({Variant(first)}, {Variant(last)});
            for (; !table.Eof(); table.Next()) {
                sum += bench.Amount->AsFloat();
                ++rows;
            }
        }
        table.CancelRange();
        table.UnlockTable();
        table.SetIndexName("PK");
        if (rows != Ranges * RangeCustomers * (Rows / Customers)) State.SkipWithError("a range missed rows");
    });
    benchmark::DoNotOptimize(sum);
}

// ---------------------------------------------------------------------------------------------
// SQLite

void Exec(sqlite3* DB, const char* Sql) {
    char* error = nullptr;
    if (sqlite3_exec(DB, Sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string text = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error(text);
    }
}

struct TSQLite {
    sqlite3* DB = nullptr;
    void Connect() {
        Close();
        sqlite3_open(Folder().File("orders.db").c_str(), &DB);
        SetCache(CachePages);
    }
    void SetCache(int Pages) { Exec(DB, ("PRAGMA cache_size=" + std::to_string(Pages) + ";").c_str()); }
    void Close() {
        if (DB) sqlite3_close(DB);
        DB = nullptr;
    }
    ~TSQLite() { Close(); }
};

TSQLite& SQLite() {
    static TSQLite sqlite;
    return sqlite;
}

void BM_Insert_SQLite(benchmark::State& State) {
    TSQLite& sqlite = SQLite();
    Measure(State, "Insert", "SQLite", [&] {
        sqlite.Close();
        std::error_code ignored;
        std::filesystem::remove(Folder().File("orders.db"), ignored);
        sqlite.Connect();
        Exec(sqlite.DB, "PRAGMA page_size=4096; PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;");
        Exec(sqlite.DB,
             "CREATE TABLE orders(id INTEGER PRIMARY KEY, customer INTEGER, name TEXT, amount REAL, odate REAL);"
             "CREATE INDEX ix_customer ON orders(customer);");
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(sqlite.DB, "INSERT INTO orders VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr);
        Exec(sqlite.DB, "BEGIN");
        for (int i = 0; i < Rows; ++i) {
            const int id = RowID(i);
            const std::string name = RowName(id);
            sqlite3_bind_int(insert, 1, id);
            sqlite3_bind_int(insert, 2, RowCustomer(id));
            sqlite3_bind_text(insert, 3, name.data(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_double(insert, 4, RowAmount(id));
            sqlite3_bind_double(insert, 5, RowDate(id));
            if (sqlite3_step(insert) != SQLITE_DONE) State.SkipWithError("insert failed");
            sqlite3_reset(insert);
        }
        Exec(sqlite.DB, "COMMIT");
        sqlite3_finalize(insert);
    });
    sqlite.Connect();
}

void BM_Search_SQLite(benchmark::State& State) {
    TSQLite& sqlite = SQLite();
    sqlite.SetCache(int(State.range(0)));
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(sqlite.DB, "SELECT amount FROM orders WHERE id = ?", -1, &select, nullptr);
    double sum = 0;
    Measure(State, "Search", "SQLite", [&] {
        Exec(sqlite.DB, "BEGIN");
        for (int k = 0; k < Rows; ++k) {
            sqlite3_bind_int(select, 1, SearchID(k));
            if (sqlite3_step(select) != SQLITE_ROW) State.SkipWithError("a key was not found");
            sum += sqlite3_column_double(select, 0);
            sqlite3_reset(select);
        }
        Exec(sqlite.DB, "COMMIT");
    });
    sqlite3_finalize(select);
    benchmark::DoNotOptimize(sum);
}

void BM_Walk_SQLite(benchmark::State& State) {
    TSQLite& sqlite = SQLite();
    sqlite.SetCache(int(State.range(0)));
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(sqlite.DB, "SELECT amount FROM orders ORDER BY id", -1, &select, nullptr);
    double sum = 0;
    Measure(State, "Walk", "SQLite", [&] {
        int rows = 0;
        Exec(sqlite.DB, "BEGIN");
        while (sqlite3_step(select) == SQLITE_ROW) {
            sum += sqlite3_column_double(select, 0);
            ++rows;
        }
        sqlite3_reset(select);
        Exec(sqlite.DB, "COMMIT");
        if (rows != Rows) State.SkipWithError("the walk missed rows");
    });
    sqlite3_finalize(select);
    benchmark::DoNotOptimize(sum);
}

void BM_Range_SQLite(benchmark::State& State) {
    TSQLite& sqlite = SQLite();
    sqlite.SetCache(int(State.range(0)));
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(sqlite.DB, "SELECT amount FROM orders WHERE customer BETWEEN ? AND ? ORDER BY customer", -1,
                       &select, nullptr);
    double sum = 0;
    Measure(State, "Range", "SQLite", [&] {
        int rows = 0;
        Exec(sqlite.DB, "BEGIN");
        for (int r = 0; r < Ranges; ++r) {
            const int first = r * (Customers / Ranges);
            sqlite3_bind_int(select, 1, first);
            sqlite3_bind_int(select, 2, first + RangeCustomers - 1);
            while (sqlite3_step(select) == SQLITE_ROW) {
                sum += sqlite3_column_double(select, 0);
                ++rows;
            }
            sqlite3_reset(select);
        }
        Exec(sqlite.DB, "COMMIT");
        if (rows != Ranges * RangeCustomers * (Rows / Customers)) State.SkipWithError("a range missed rows");
    });
    sqlite3_finalize(select);
    benchmark::DoNotOptimize(sum);
}

BENCHMARK(BM_Insert_Ostra)->Arg(CachePages)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_Insert_SQLite)->Arg(CachePages)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_Insert_Table)->Arg(CachePages)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
#define OSTRA_READS(Name)                                                                             \
    BENCHMARK(Name)->Arg(CachePages)->Arg(10 * CachePages)->Unit(benchmark::kMillisecond)->UseManualTime() \
        ->Iterations(3)
OSTRA_READS(BM_Search_Ostra);
OSTRA_READS(BM_Search_SQLite);
OSTRA_READS(BM_Walk_Ostra);
OSTRA_READS(BM_Walk_SQLite);
OSTRA_READS(BM_Range_Ostra);
OSTRA_READS(BM_Range_SQLite);
OSTRA_READS(BM_Search_Table);
OSTRA_READS(BM_Walk_Table);
OSTRA_READS(BM_Range_Table);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n%-22s %12s %12s %12s %14s %14s\n", "workload", "Ostra ms", "SQLite ms", "Table ms",
                "Ostra/SQLite", "Table/cursor");
    for (const char* workload : {"Insert", "Search", "Walk", "Range", "Search (large cache)", "Walk (large cache)",
                                 "Range (large cache)"}) {
        auto& times = bench::Times()[workload];
        if (!times.count("Ostra") || !times.count("SQLite")) continue;
        const double table = times.count("Table") ? times["Table"] : 0;
        std::printf("%-22s %12.1f %12.1f %12.1f %14.2f %14.2f\n", workload, times["Ostra"] * 1e3,
                    times["SQLite"] * 1e3, table * 1e3, times["Ostra"] / times["SQLite"], table / times["Ostra"]);
    }
    TableBench().Table.reset();
    TableBench().DataBase.reset();
    Ostra().Cursor.reset();
    Ostra().DataBase.reset();
    SQLite().Close();
    benchmark::Shutdown();
    return 0;
}
