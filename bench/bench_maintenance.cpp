// Table maintenance beside SQLite in the same run, at 50,000 and 200,000 rows of one table
// (id integer primary key, customer with a non-unique index, name of 40 characters, amount):
//   Rebuild      the whole database rebuilt from its backup (SQLite: VACUUM);
//   Restructure  a field added to the table, every record copied into the new layout (SQLite:
//                the same copy by hand: a new table, INSERT ... SELECT, the old one dropped and the
//                new one renamed, in one transaction).
// Printed per workload and size: the time per row of each engine and their ratio, the ratio of
// their processor times (user + system: steadier than the wall time on a loaded machine) and the
// peak resident memory of the Ostra run (each runs in a child process of its own). The time includes
// a check of the table afterwards (every row there, the fields expected); a failed check fails
// the run. OSTRA_BENCH_ROWS=N runs one size of N rows instead (for profiling and short runs).
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "bench/support/BenchFolder.h"
#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataSet.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

namespace {

using namespace ostra;
using Clock = std::chrono::steady_clock;

std::string RowName(int ID) {
    std::string name = "Customer order " + std::to_string(ID) + " of the spring campaign";
    name.resize(40, '.');
    return name;
}

double CpuSeconds(const rusage& Usage) {
    return double(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) + double(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
}

// Runs Work here and returns its wall time; Cpu gets its processor time.
double Seconds(const std::function<void()>& Work, double& Cpu) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    Work();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    Cpu = CpuSeconds(after) - CpuSeconds(before);
    return seconds;
}

// Runs Work in a child process and returns its wall time; PeakMiB gets the child's own peak
// resident memory (the parent stays small: the tables are filled in children too), Cpu its
// processor time.
double SecondsInChild(const std::function<void()>& Work, long& PeakMiB, double& Cpu) {
    int channel[2];
    if (pipe(channel) != 0) return 0;
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        Work();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long peak = usage.ru_maxrss / 1024;
        if (write(channel[1], &peak, sizeof peak) != sizeof peak) _exit(1);
        _exit(0);
    }
    close(channel[1]);
    PeakMiB = -1;
    if (read(channel[0], &PeakMiB, sizeof PeakMiB) != sizeof PeakMiB) PeakMiB = -1;
    close(channel[0]);

    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    Cpu = CpuSeconds(usage);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "the Ostra run failed\n");
    return seconds;
}

// ----- Ostra

std::string OstraFile(const bench::TBenchFolder& Folder, int Rows) {
    return Folder.File("maint" + std::to_string(Rows) + ".orq");
}

void OstraFill(const std::string& Path, int Rows) {
    TOrqDataBase database(nullptr);
    database.SetDataBaseName(Path);
    database.CreateDatabase();
    database.SetConnected(true);
    {
        TOrqDataSet creator(nullptr);
        creator.SetDataBase(&database);
        creator.SetTableName("Orders");
        TFieldDefs fields(nullptr);
        fields.Add("ID", ftInteger);
        fields.Add("CUSTOMER", ftInteger);
        fields.Add("NAME", ftString, 40);
        fields.Add("AMOUNT", ftFloat);
        TIndexDefs indexes(nullptr);
        indexes.Add("PK", "ID", TIndexOptions{ixPrimary, ixUnique});
        indexes.Add("ixCustomer", "CUSTOMER", {});
        creator.SetTableDef(false, fields, indexes);
        creator.InternalCreateTable();
    }
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(&database);
    cursor.SetTableName("Orders");
    cursor.DataSetOpen();
    const int id = cursor.GetFieldNo("ID"), customer = cursor.GetFieldNo("CUSTOMER"), name = cursor.GetFieldNo("NAME"),
              amount = cursor.GetFieldNo("AMOUNT");
    database.StartTransaction();
    cursor.LockTable();
    for (int i = 1; i <= Rows; ++i) {
        const int c = i % 10000;
        const double a = i * 1.25;
        const std::string n = RowName(i);
        cursor.InitializeNewRecord(cursor.RecordBuffer(), false);
        cursor.DataSetSetFieldData(id, 4, false, &i);
        cursor.DataSetSetFieldData(customer, 4, false, &c);
        cursor.DataSetSetFieldData(name, int(n.size()), false, n.data());
        cursor.DataSetSetFieldData(amount, 8, false, &a);
        cursor.AddRecord(false);
    }
    cursor.UnlockTable();
    database.Commit();
}

// The table as a workload must leave it: every row, and the fields expected.
void OstraCheck(const std::string& Path, int Rows, int Fields) {
    TOrqDataBase database(nullptr);
    database.SetDataBaseName(Path);
    database.SetConnected(true);
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(&database);
    cursor.SetTableName("Orders");
    cursor.DataSetOpen();
    const int rows = int(cursor.GetTotalRecordCount()), fields = cursor.GetInternalFieldCount();
    if (rows != Rows || fields != Fields) {
        std::fprintf(stderr, "Orders holds %d rows of %d fields, not %d of %d\n", rows, fields, Rows, Fields);
        std::exit(1);
    }
}

void OstraRebuild(const std::string& Path, int Rows) {
    {
        TOrqDataBase database(nullptr);
        database.SetDataBaseName(Path);
        database.RebuildDatabase();
    }
    OstraCheck(Path, Rows, 4);
}

void OstraRestructureOnly(const std::string& Path) {
    TOrqDataBase database(nullptr);
    database.SetDataBaseName(Path);
    database.SetExclusive(true);
    database.SetConnected(true);
    TRestructureFieldDefs fields;
    TRestructureIndexDefs indexes;
    TFieldDefs destFields(nullptr);
    TIndexDefs destIndexes(nullptr);
    fields.AddAndSetFieldDef("ID", ftInteger, 0)->SetSourceFieldName("ID");
    fields.AddAndSetFieldDef("CUSTOMER", ftInteger, 0)->SetSourceFieldName("CUSTOMER");
    fields.AddAndSetFieldDef("NAME", ftString, 40)->SetSourceFieldName("NAME");
    fields.AddAndSetFieldDef("AMOUNT", ftFloat, 0)->SetSourceFieldName("AMOUNT");
    fields.AddAndSetFieldDef("CITY", ftString, 20)->SetChangeStatus(dcAdded);
    fields.SetChangeStatus(dcAdded);
    indexes.AddAndSetIndexDef("PK", "ID", TIndexOptions{ixPrimary, ixUnique});
    indexes.AddAndSetIndexDef("ixCustomer", "CUSTOMER", {});
    TInternalRestructureRecord request;
    request.NewFieldDefs = &fields;
    request.NewIndexDefs = &indexes;
    request.DestFieldDefs = &destFields;
    request.DestIndexDefs = &destIndexes;
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(&database);
    cursor.SetTableName("Orders");
    cursor.InternalRestructureTable(request);
}

void OstraRestructure(const std::string& Path, int Rows) {
    OstraRestructureOnly(Path);
    OstraCheck(Path, Rows, 5);
}

// ----- SQLite

void Exec(sqlite3* Db, const std::string& Sql) {
    char* error = nullptr;
    if (sqlite3_exec(Db, Sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", error ? error : "?");
        sqlite3_free(error);
    }
}

struct TSqlite {
    sqlite3* Db = nullptr;
    explicit TSqlite(const std::string& Path) {
        sqlite3_open(Path.c_str(), &Db);
        Exec(Db, "PRAGMA page_size=4096; PRAGMA cache_size=1000; PRAGMA synchronous=FULL");
    }
    ~TSqlite() { sqlite3_close(Db); }
};

void SqliteFill(const std::string& Path, int Rows) {
    std::filesystem::remove(Path);
    TSqlite sqlite(Path);
    Exec(sqlite.Db, "CREATE TABLE orders(id INTEGER PRIMARY KEY, customer INTEGER, name TEXT, amount REAL)");
    Exec(sqlite.Db, "CREATE INDEX ixCustomer ON orders(customer)");
    Exec(sqlite.Db, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(sqlite.Db, "INSERT INTO orders VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
    for (int i = 1; i <= Rows; ++i) {
        const std::string name = RowName(i);
        sqlite3_bind_int(insert, 1, i);
        sqlite3_bind_int(insert, 2, i % 10000);
        sqlite3_bind_text(insert, 3, name.c_str(), int(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 4, i * 1.25);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec(sqlite.Db, "COMMIT");
}

void SqliteRestructure(const std::string& Path) {
    TSqlite sqlite(Path);
    Exec(sqlite.Db, "BEGIN");
    Exec(sqlite.Db, "CREATE TABLE orders2(id INTEGER PRIMARY KEY, customer INTEGER, name TEXT, amount REAL, city TEXT)");
    Exec(sqlite.Db, "INSERT INTO orders2(id, customer, name, amount) SELECT id, customer, name, amount FROM orders");
    Exec(sqlite.Db, "DROP TABLE orders");
    Exec(sqlite.Db, "ALTER TABLE orders2 RENAME TO orders");
    Exec(sqlite.Db, "CREATE INDEX ixCustomer ON orders(customer)");
    Exec(sqlite.Db, "COMMIT");
}

}  // namespace

int main() {
    std::vector<int> sizes{50000, 200000};
    if (const char* rows = std::getenv("OSTRA_BENCH_ROWS"); rows && std::atoi(rows) > 0) sizes = {std::atoi(rows)};
    bench::TBenchFolder folder("ostra-bench-maintenance");
    std::printf("%-12s %8s %14s %14s %8s %10s %10s\n", "workload", "rows", "Ostra us/row", "SQLite us/row", "ratio",
                "CPU ratio", "peak MiB");
    for (int rows : sizes) {
        const std::string ostra = OstraFile(folder, rows);
        const std::string sqlite = folder.File("maint" + std::to_string(rows) + ".sqlite");
        long fillPeak = 0;
        double fillCpu = 0;
        SecondsInChild([&] { OstraFill(ostra, rows); }, fillPeak, fillCpu);  // the parent stays small
        SqliteFill(sqlite, rows);
        long rebuildPeak = 0, restructurePeak = 0;
        double rebuildCpu = 0, vacuumCpu = 0, restructureCpu = 0, copyCpu = 0;
        const double rebuild = SecondsInChild([&] { OstraRebuild(ostra, rows); }, rebuildPeak, rebuildCpu);
        const double vacuum = Seconds(
            [&] {
                TSqlite db(sqlite);
                Exec(db.Db, "VACUUM");
            },
            vacuumCpu);
        const double restructure = SecondsInChild([&] { OstraRestructure(ostra, rows); }, restructurePeak, restructureCpu);
        const double copy = Seconds([&] { SqliteRestructure(sqlite); }, copyCpu);
        auto line = [&](const char* Name, double Ostra, double Sqlite, double OstraCpu, double SqliteCpu, long Peak) {
            std::printf("%-12s %8d %14.2f %14.2f %8.2f %10.2f %10ld\n", Name, rows, Ostra * 1e6 / rows, Sqlite * 1e6 / rows,
                        Ostra / Sqlite, SqliteCpu > 0 ? OstraCpu / SqliteCpu : 0.0, Peak);
        };
        line("Rebuild", rebuild, vacuum, rebuildCpu, vacuumCpu, rebuildPeak);
        line("Restructure", restructure, copy, restructureCpu, copyCpu, restructurePeak);
    }
    return 0;
}
