// Commit of a 1,000-row transaction: an empty table with one unique integer index gets 1,000
// records in one transaction, which is then committed to stable storage. Measured four ways in
// the same run, in one temporary folder on one disk:
//   Ostra, journaled     the engine's commit: rollback journal written and flushed, pages
//                        written in place and flushed, journal invalidated (flushed) and deleted;
//   Ostra, unjournaled   the same transaction committed without the journal (the benchmark hook
//                        TUnjournaledCommitsForBenchmark of orqFile.h): what the journal costs;
//   SQLite               the same rows, a table with one unique index, one transaction, with
//                        journal_mode=DELETE and synchronous=FULL, then with journal_mode=WAL
//                        (synchronous=FULL).
// Each iteration starts from a new database (set up with the timer paused) and times the whole
// transaction, begin to durable commit, in wall-clock time (the flushes wait for the disk); the
// counter commit_ms is the commit alone.
//
// Commit of a single row: one database per benchmark, and each iteration one transaction that
// inserts one row and commits it durably (Ostra journaled; SQLite with journal_mode=DELETE and
// synchronous=FULL, and with WAL). Here the fixed cost of a commit shows: the flushes of the
// journal, the database and the folder that holds the journal.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/OstraBenchTable.h"
#include "engine/storage/orqFile.h"

namespace {

using namespace ostra;
using namespace ostra::bench;
using Clock = std::chrono::steady_clock;

constexpr int Rows = 1000;

// The rows: ids scattered over the index, a short name, a score.
int32_t RowID(int I) { return int32_t(int64_t(I) * 7919 % 100003); }
std::string RowName(int I) { return "customer " + std::to_string(I * 31 % 977) + " of region " + std::to_string(I % 17); }
int32_t RowScore(int I) { return I * 13 % 1000; }

// One temporary folder for every database of the run; removed at exit.
const TBenchFolder& Folder() {
    static TBenchFolder folder("ostra-bench-commit");
    static const bool noted = (benchmark::AddCustomContext("bench_commit folder", folder.Path()), true);
    (void)noted;
    return folder;
}

// ---------------------------------------------------------------------------------------------
// Ostra: the table as a cursor would use it (records, one index, the table header)

// ID Integer, NAME String(40), SCORE Integer; "ixID" unique on ID.
std::unique_ptr<TOstraBenchTable> NewTable(const std::string& Path) {
    return std::make_unique<TOstraBenchTable>(Path, "Customers",
                                              std::vector<TBenchField>{{"ID", ftInteger}, {"NAME", ftString, 41},
                                                                       {"SCORE", ftInteger}},
                                              std::vector<TBenchIndex>{{"ixID", "ID", true}});
}

// Adds row I, as a cursor's insert does (the key checked first).
void Insert(TOstraBenchTable& Table, int I) {
    std::vector<uint8_t> rec = Table.NewRecord();
    Table.SetInteger(rec, 0, RowID(I));
    Table.SetString(rec, 1, RowName(I));
    Table.SetInteger(rec, 2, RowScore(I));
    Table.Insert(rec);
}

void OstraCommit(benchmark::State& State, bool Journaled) {
    const std::string path = Folder().File("customers.orq");
    std::unique_ptr<TUnjournaledCommitsForBenchmark> hook;
    if (!Journaled) hook = std::make_unique<TUnjournaledCommitsForBenchmark>();
    double commitSeconds = 0;
    for (auto _ : State) {
        State.PauseTiming();
        Folder().Clear();
        auto table = NewTable(path);
        State.ResumeTiming();

        table->BeginWrite();
        for (int i = 0; i < Rows; ++i) Insert(*table, i);
        const auto start = Clock::now();
        table->Commit();
        commitSeconds += std::chrono::duration<double>(Clock::now() - start).count();

        State.PauseTiming();
        if (table->Index(0).GetRecordCount(true) != Rows) State.SkipWithError("the index does not hold every row");
        table.reset();
        State.ResumeTiming();
    }
    State.counters["commit_ms"] = benchmark::Counter(commitSeconds * 1e3, benchmark::Counter::kAvgIterations);
}

void BM_Commit1000_Ostra_Journal(benchmark::State& State) { OstraCommit(State, true); }
void BM_Commit1000_Ostra_NoJournal(benchmark::State& State) { OstraCommit(State, false); }

void BM_Commit1Row_Ostra_Journal(benchmark::State& State) {
    Folder().Clear();
    auto table = NewTable(Folder().File("single.orq"));
    int row = 0;
    for (auto _ : State) {
        table->BeginWrite();
        Insert(*table, row++);
        table->Commit();
    }
    if (table->Index(0).GetRecordCount(true) != row) State.SkipWithError("the index does not hold every row");
}

// ---------------------------------------------------------------------------------------------
// SQLite doing the same work

void Exec(sqlite3* Db, const char* Sql) {
    char* message = nullptr;
    if (sqlite3_exec(Db, Sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "?";
        sqlite3_free(message);
        throw std::runtime_error(std::string(Sql) + ": " + text);
    }
}

// Inserts row I through the prepared insert; false when SQLite refuses it.
bool InsertRow(sqlite3_stmt* Insert, int I) {
    const std::string name = RowName(I);
    sqlite3_bind_int(Insert, 1, RowID(I));
    sqlite3_bind_text(Insert, 2, name.data(), int(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(Insert, 3, RowScore(I));
    const bool done = sqlite3_step(Insert) == SQLITE_DONE;
    sqlite3_reset(Insert);
    return done;
}

// A new SQLite database at Path with the customers table, in the given journal mode.
sqlite3* OpenSQLite(const std::string& Path, const char* JournalMode) {
    sqlite3* db = nullptr;
    if (sqlite3_open(Path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open failed");
    Exec(db, (std::string("PRAGMA page_size=4096; PRAGMA journal_mode=") + JournalMode + "; PRAGMA synchronous=FULL;")
                 .c_str());
    Exec(db, "CREATE TABLE customers(id INTEGER NOT NULL, name TEXT, score INTEGER);"
             "CREATE UNIQUE INDEX ix_id ON customers(id);");
    return db;
}

void SQLiteCommit(benchmark::State& State, const char* JournalMode) {
    const std::string path = Folder().File("customers.db");
    double commitSeconds = 0;
    for (auto _ : State) {
        State.PauseTiming();
        Folder().Clear();
        sqlite3* db = OpenSQLite(path, JournalMode);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO customers(id, name, score) VALUES (?, ?, ?)", -1, &insert, nullptr);
        State.ResumeTiming();

        Exec(db, "BEGIN");
        for (int i = 0; i < Rows; ++i)
            if (!InsertRow(insert, i)) State.SkipWithError("insert failed");
        const auto start = Clock::now();
        Exec(db, "COMMIT");
        commitSeconds += std::chrono::duration<double>(Clock::now() - start).count();

        State.PauseTiming();
        sqlite3_finalize(insert);
        sqlite3_close(db);
        State.ResumeTiming();
    }
    State.counters["commit_ms"] = benchmark::Counter(commitSeconds * 1e3, benchmark::Counter::kAvgIterations);
}

void BM_Commit1000_SQLite_Delete(benchmark::State& State) { SQLiteCommit(State, "DELETE"); }
void BM_Commit1000_SQLite_WAL(benchmark::State& State) { SQLiteCommit(State, "WAL"); }

void SQLiteCommit1Row(benchmark::State& State, const char* JournalMode) {
    Folder().Clear();
    sqlite3* db = OpenSQLite(Folder().File("single.db"), JournalMode);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO customers(id, name, score) VALUES (?, ?, ?)", -1, &insert, nullptr);
    int row = 0;
    for (auto _ : State) {
        Exec(db, "BEGIN");
        if (!InsertRow(insert, row++)) State.SkipWithError("insert failed");
        Exec(db, "COMMIT");
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
}

void BM_Commit1Row_SQLite_Delete(benchmark::State& State) { SQLiteCommit1Row(State, "DELETE"); }
void BM_Commit1Row_SQLite_WAL(benchmark::State& State) { SQLiteCommit1Row(State, "WAL"); }

BENCHMARK(BM_Commit1000_Ostra_Journal)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1000_Ostra_NoJournal)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1000_SQLite_Delete)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1000_SQLite_WAL)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1Row_Ostra_Journal)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1Row_SQLite_Delete)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1Row_SQLite_WAL)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
