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
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "bench/BenchFolder.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqFile.h"
#include "engine/storage/orqGlobalHdr.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqRecordMgr.h"
#include "engine/storage/orqTableHeader.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Streams.h"

namespace {

using namespace ostra;
using Clock = std::chrono::steady_clock;

constexpr int Rows = 1000;
constexpr uint32_t PageSize = 4096;
constexpr int32_t TableID = 1;

// The rows: ids scattered over the index, a short name, a score.
int32_t RowID(int I) { return int32_t(int64_t(I) * 7919 % 100003); }
std::string RowName(int I) { return "customer " + std::to_string(I * 31 % 977) + " of region " + std::to_string(I % 17); }
int32_t RowScore(int I) { return I * 13 % 1000; }

const bench::TBenchFolder& Folder() {
    static bench::TBenchFolder folder("bench-commit");
    return folder;
}

// ---------------------------------------------------------------------------------------------
// Ostra: the table as a cursor would use it (records, one index, the table header)

// ID Integer, NAME String(40), SCORE Integer; "ixID" unique on ID.
std::unique_ptr<TTableDef> TableDef() {
    auto def = std::make_unique<TTableDef>(nullptr);
    def->SetTableName("Customers");
    const struct {
        const char* Name;
        TFieldType Type;
        int Size;
    } fields[] = {{"ID", ftInteger, 0}, {"NAME", ftString, 41}, {"SCORE", ftInteger, 0}};
    for (int i = 0; i < 3; ++i) {
        TInternalFieldItem* field = def->InternalFields()->Add();
        field->SetFieldName(fields[i].Name);
        field->SetDataType(fields[i].Type);
        field->SetFieldNo(i);
        field->SetFieldIndex(i);
        if (fields[i].Type == ftString) {
            field->SetFieldSize(fields[i].Size);
            field->SetIsVariable(true);
        }
    }
    def->InternalFields()->SetDefaultOffsets();
    def->SetRecordSize(def->InternalFields()->RecordSize());
    TIndexRequest request;
    request.IndexName = "ixID";
    request.Fields = "ID";
    request.Unique = true;
    request.Primary = true;
    DeriveIndexDef(request, false, false, *def->InternalFields(), *def->KeyFields(), *def->InternalIndexDefs(),
                   SorqIndexFmt, "bench", nullptr);
    return def;
}

// One connection with the table open.
class TOstraTable {
public:
    // Creates a new database file at Path with the empty table, and opens it.
    explicit TOstraTable(const std::string& Path) {
        {
            TDiskMgr creator;
            creator.SetFileName(Path);
            creator.SetPageSize(PageSize);
            creator.CreateNewFile(true);
        }
        FDisk.SetFileName(Path);
        FDisk.SetPageSize(PageSize);
        FDisk.SetOpenFlags(fmOpenReadWrite | fmShareDenyNone);
        FDisk.Open();
        FHeaders.SetDiskMgr(&FDisk);
        FHeaders.SetBlockSize(CTableHeaderBlockSize);
        FHeaders.SetUsage(1);
        FHeaders.SetTableID(0);
        FHeaders.SetAccessFlags(0);
        FHeaders.SetIOMode(iomDiskFixedSize);
        FHeaders.SetGlobalFirstEmptyOffset(CHdrTableHeadersFirstEmpty);
        FHeaders.Open();
        FMgr.SetHdrDiskInterface(&FHeaders);
        FMgr.SetBaseDefMgrAddress(3 * PageSize);
        FMgr.Open();
        FMgr.CreateTableDef("Customers", TableDef().get());
        FDef = TableDef();
        FDef->SetTableID(TableID);
        FMgr.OpenTableDefConnection("Customers", FDef.get());
        FRecords.Fields().Assign(FDef->InternalFields());
        FRecords.SetRecordSize(FDef->RecordSize());
        FRecords.Open(FDef->RecordInterface());
        FIndexes.SetDBStringCompareFunction(DBANSICompareStrings);
        FIndexes.Assign(FDef->InternalIndexDefs());
        FIndexes.AssignKeyFields(*FDef->KeyFields());
        FIndexes.SetIOInterface(FDef->IndexInterface());
        FIndexes.SetTableHeader(FDef->TableHeader());
        FIndexes.Open();
    }
    ~TOstraTable() {
        FIndexes.Close();
        FRecords.Close();
        FMgr.CloseTableDefConnection(TableID);
        FMgr.Close();
        FHeaders.Close();
        FDisk.Close();
    }

    // Starts the transaction: the table's write lock, its header read.
    void Begin() {
        FDisk.DiskStartTransaction(false);
        FDisk.SetTableLock(TableID, CWriteLock);
        Header().ReadHeader();
        FIndexes.ReadIndexHeaders(true);
        FDef->RecordInterface()->SetFirstEmpty(Header().GetRecordFirstEmpty());
        FDef->RecordInterface()->SetFirstEmptyValid(true);
    }
    // Adds row I with its key, as a cursor's insert does (the key checked first).
    void Insert(int I) {
        std::vector<uint8_t> rec(std::size_t(FDef->RecordSize()), 0);
        const uint32_t logical = Header().GetLogicalRecordNo() + 1;
        Header().SetLogicalRecordNo(logical);
        const uint32_t owner = uint32_t(TableID) << 4 | C_RECORDUSAGE;
        rec[C_RECINUSEOFFSET] = 1;
        std::memcpy(&rec[C_RECOWNEROFFSET], &owner, 4);
        std::memcpy(&rec[C_RECLOGICALNOOFFSET], &logical, 4);
        const int32_t id = RowID(I), score = RowScore(I);
        const std::string name = RowName(I);
        const TInternalFields& fields = FRecords.Fields();
        const uint16_t length = uint16_t(name.size());
        std::memcpy(&rec[std::size_t(fields.GetIndex(0)->DataOffset())], &id, 4);
        std::memcpy(&rec[std::size_t(fields.GetIndex(1)->SizeMarkerOffset())], &length, 2);
        std::memcpy(&rec[std::size_t(fields.GetIndex(1)->DataOffset())], name.data(), name.size());
        std::memcpy(&rec[std::size_t(fields.GetIndex(2)->DataOffset())], &score, 4);
        for (int f = 0; f < 3; ++f) rec[std::size_t(fields.GetIndex(f)->NullFlagOffset())] = C_FIELDNOTNULL;
        TIndexItem& index = *FIndexes.GetItems(0);
        index.CreateKeyBuffer(rec.data(), nullptr);
        if (index.FullIndexSearch(stEQ) == 0) throw std::runtime_error("duplicate key");
        const uint32_t address = FRecords.AddRecord(rec.data());
        if (index.InsertKey(address) != 0) throw std::runtime_error("insert refused");
    }
    // Writes the table header into the transaction and commits it.
    void Commit() {
        Header().SetRecordFirstEmpty(FDef->RecordInterface()->FirstEmpty());
        FIndexes.WriteIndexHeaders();
        if (Header().Dirty()) Header().WriteHeader();
        FDisk.DiskCommit();
    }
    int Count() { return FIndexes.GetItems(0)->GetRecordCount(true); }

private:
    TTableHeader& Header() { return *FDef->TableHeader(); }

    TDiskMgr FDisk;
    TDiskIOInterface FHeaders;
    TDiskTableDefMgr FMgr;
    std::unique_ptr<TTableDef> FDef;
    TRecordMgr FRecords;
    TIndexManager FIndexes;
};

void OstraCommit(benchmark::State& State, bool Journaled) {
    const std::string path = Folder().File("customers.orq");
    std::unique_ptr<TUnjournaledCommitsForBenchmark> hook;
    if (!Journaled) hook = std::make_unique<TUnjournaledCommitsForBenchmark>();
    double commitSeconds = 0;
    for (auto _ : State) {
        State.PauseTiming();
        Folder().Clear();
        auto table = std::make_unique<TOstraTable>(path);
        State.ResumeTiming();

        table->Begin();
        for (int i = 0; i < Rows; ++i) table->Insert(i);
        const auto start = Clock::now();
        table->Commit();
        commitSeconds += std::chrono::duration<double>(Clock::now() - start).count();

        State.PauseTiming();
        if (table->Count() != Rows) State.SkipWithError("the index does not hold every row");
        table.reset();
        State.ResumeTiming();
    }
    State.counters["commit_ms"] = benchmark::Counter(commitSeconds * 1e3, benchmark::Counter::kAvgIterations);
}

void BM_Commit1000_Ostra_Journal(benchmark::State& State) { OstraCommit(State, true); }

void BM_Commit1Row_Ostra_Journal(benchmark::State& State) {
    Folder().Clear();
    TOstraTable table(Folder().File("single.orq"));
    int row = 0;
    for (auto _ : State) {
        table.Begin();
        table.Insert(row++);
        table.Commit();
    }
    if (table.Count() != row) State.SkipWithError("the index does not hold every row");
}
void BM_Commit1000_Ostra_NoJournal(benchmark::State& State) { OstraCommit(State, false); }

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

void SQLiteCommit(benchmark::State& State, const char* JournalMode) {
    const std::string path = Folder().File("customers.db");
    double commitSeconds = 0;
    for (auto _ : State) {
        State.PauseTiming();
        Folder().Clear();
        sqlite3* db = nullptr;
        if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
            State.SkipWithError("sqlite3_open failed");
            break;
        }
        Exec(db, (std::string("PRAGMA page_size=4096; PRAGMA journal_mode=") + JournalMode +
                  "; PRAGMA synchronous=FULL;")
                     .c_str());
        Exec(db, "CREATE TABLE customers(id INTEGER NOT NULL, name TEXT, score INTEGER);"
                 "CREATE UNIQUE INDEX ix_id ON customers(id);");
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

void SQLiteCommit1Row(benchmark::State& State, const char* JournalMode) {
    Folder().Clear();
    const std::string path = Folder().File("single.db");
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        State.SkipWithError("sqlite3_open failed");
        return;
    }
    Exec(db, (std::string("PRAGMA page_size=4096; PRAGMA journal_mode=") + JournalMode + "; PRAGMA synchronous=FULL;")
                 .c_str());
    Exec(db, "CREATE TABLE customers(id INTEGER NOT NULL, name TEXT, score INTEGER);"
             "CREATE UNIQUE INDEX ix_id ON customers(id);");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO customers(id, name, score) VALUES (?, ?, ?)", -1, &insert, nullptr);
    int row = 0;
    for (auto _ : State) {
        Exec(db, "BEGIN");
        if (!InsertRow(insert, row)) State.SkipWithError("insert failed");
        Exec(db, "COMMIT");
        ++row;
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
}

void BM_Commit1Row_SQLite_Delete(benchmark::State& State) { SQLiteCommit1Row(State, "DELETE"); }
void BM_Commit1Row_SQLite_WAL(benchmark::State& State) { SQLiteCommit1Row(State, "WAL"); }
void BM_Commit1000_SQLite_WAL(benchmark::State& State) { SQLiteCommit(State, "WAL"); }

BENCHMARK(BM_Commit1000_Ostra_Journal)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1000_Ostra_NoJournal)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1000_SQLite_Delete)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1000_SQLite_WAL)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1Row_Ostra_Journal)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1Row_SQLite_Delete)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit1Row_SQLite_WAL)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
