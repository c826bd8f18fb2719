// The storage engine against SQLite on the storage workloads, side by side.
//
// One table, made and worked on by each side in its own process:
//   Ostra    a database file of 4096-byte pages; the table's records, a unique index on ID and a
//            non-unique index on CUSTOMER, driven as a table cursor would drive them
//            (OstraBenchTable.h); once with the page cache sized by the file (the default) and
//            once with a larger cache set on the paged file;
//   SQLite   the same columns and two indexes, 4096-byte pages, journal_mode=DELETE (the
//            rollback journal) and synchronous=FULL.
// Rows: ID a scattered 31-bit key, CUSTOMER one of Rows / 20 values (20 rows each), NAME a
// 20-character string, AMOUNT a float. The workloads, in this order, on the same file:
//   insert      every row in one transaction, the durable commit included (also timed alone);
//   lookup      Rows / 2 point lookups by ID, each reading the record (CUSTOMER summed);
//   range       50 range scans of 100 customers (about 2,000 rows) on the customer index,
//               reading each record (AMOUNT summed);
//   scan key    a full scan reading AMOUNT, Ostra in ID order (the cursor's index order) through
//               the key-order walk (TKeyOrderWalk: records read in batches in storage order);
//   scan store  the same in storage order (TRecordMgr's walk); SQLite's full scan is the same
//               query for both rows: its table order;
//   durable     Rows / 200 single-row insert transactions, each committed durably;
//   delete      Rows / 4 rows deleted by ID in one transaction.
// Read workloads hold one read lock (Ostra) or one read transaction (SQLite) throughout.
//
// The driver runs every side Runs times, rotating which goes first, in fresh processes (this
// program again with --child), and prints one table of medians: milliseconds, Ostra / SQLite,
// each process's peak resident memory and the heap allocations per inserted row (operator new
// for Ostra, SQLite's own allocator for SQLite, counted over the insert workload). Every run's
// row counts and sums must agree between the sides, else the benchmark fails.
//
// Environment: OSTRA_BENCH_ROWS (default 200000, at least 4000) and OSTRA_BENCH_RUNS (default
// 5) for quicker runs; OSTRA_BENCH_CACHE the larger cache in pages (default 16384);
// OSTRA_BENCH_WALK_KIB the key-order walk's buffer in KiB (default its own, 2048).
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/OstraBenchTable.h"
#include "engine/storage/orqCacheMgr.h"
#include "engine/storage/orqKeyEntry.h"
#include "engine/storage/orqKeyOrderWalk.h"
#include "engine/storage/orqSearchKey.h"

extern char** environ;

// ---------------------------------------------------------------------------------------------
// Counting allocator: every operator new of the process is counted. (The compiler takes the
// replaced operators' free for a mismatch with new where it inlines them.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<uint64_t> GAllocations{0};
}  // namespace

void* operator new(std::size_t Size) {
    GAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(Size ? Size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t Size) { return operator new(Size); }
void operator delete(void* P) noexcept { std::free(P); }
void operator delete[](void* P) noexcept { std::free(P); }
void operator delete(void* P, std::size_t) noexcept { std::free(P); }
void operator delete[](void* P, std::size_t) noexcept { std::free(P); }

namespace {

using namespace ostra;
using namespace ostra::bench;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------------
// The workload's parameters and rows (the same on both sides)

struct TParams {
    int Rows = 200000;
    int Runs = 5;
    int BigCache = 16384;
    int Lookups() const { return Rows / 2; }
    int Customers() const { return Rows / 20; }
    int Durable() const { return Rows / 200; }
    int Deletes() const { return Rows / 4; }
};
constexpr int RangeScans = 50;
constexpr int RangeCustomers = 100;

int EnvInt(const char* Name, int Default) {
    const char* text = std::getenv(Name);
    return text && *text ? std::atoi(text) : Default;
}

std::size_t WalkBufferBytes() {
    return std::size_t(EnvInt("OSTRA_BENCH_WALK_KIB", int(TKeyOrderWalk::CDefaultBufferBytes / 1024))) * 1024;
}

TParams ParamsFromEnvironment() {
    TParams p;
    p.Rows = std::max(EnvInt("OSTRA_BENCH_ROWS", p.Rows), 4000);
    p.Runs = std::max(EnvInt("OSTRA_BENCH_RUNS", p.Runs), 1);
    p.BigCache = std::max(EnvInt("OSTRA_BENCH_CACHE", p.BigCache), 50);
    return p;
}

// Row I: a distinct scattered key, a customer, a 20-character name, an amount that sums exactly.
int32_t RowKey(int I) { return int32_t((uint64_t(I) + 1) * 1583458089 % 2147483647); }
int32_t RowCustomer(const TParams& P, int I) { return int32_t(uint64_t(I) * 2654435761u % uint64_t(P.Customers())); }
double RowAmount(int I) { return (I % 10000) * 0.25; }
void RowName(int I, char (&Name)[24]) { std::snprintf(Name, sizeof Name, "Customer %011d", I); }
// Lookup J reads row LookupRow(J), drawn at random; range scan S covers customers
// [RangeLow(S), + 100).
int LookupRow(const TParams& P, int J) {
    uint64_t x = (uint64_t(J) + 1) * 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 31)) * 0xD6E8FEB86659FD93u;
    return int((x ^ (x >> 32)) % uint64_t(P.Rows));
}
int32_t RangeLow(const TParams& P, int S) { return int32_t(uint64_t(S) * 7919 % uint64_t(P.Customers() - RangeCustomers)); }
// Delete D removes row 4D.
int DeleteRow(int D) { return 4 * D; }

// What one workload did: its time and what it saw.
struct TResult {
    double Seconds = 0;
    int64_t Count = 0;
    double Check = 0;
    int64_t Reads = 0;  // pages read from the file (page cache misses) by a reading workload
    // One row seen, with the value it adds to the check sum.
    void Take(double Value) {
        Check += Value;
        ++Count;
    }
};

// The results of one child, printed as "name seconds count check" lines.
using TResults = std::map<std::string, TResult>;

const char* const Workloads[] = {"insert", "commit", "lookup", "range", "scan_key", "scan_storage", "durable", "delete"};

double Since(Clock::time_point Start) { return std::chrono::duration<double>(Clock::now() - Start).count(); }

// Runs Body(r), which takes the rows it sees into r; r with the time it took.
template <class F>
TResult Timed(F&& Body) {
    TResult r;
    const auto start = Clock::now();
    Body(r);
    r.Seconds = Since(start);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Ostra

enum { FieldID, FieldCustomer, FieldName, FieldAmount };

// The Ostra side: one method per workload (kept out of line, so that a profile shows each).
class TOstraRun {
public:
    TOstraRun(const TParams& P, const std::string& Folder, int CachePages)
        : FP(P),
          FPath(Folder + "/bench.orq"),
          FTable(FPath, "Orders",
                 {{"ID", ftInteger}, {"CUSTOMER", ftInteger}, {"NAME", ftString, 21}, {"AMOUNT", ftFloat}},
                 {{"ixID", "ID", true}, {"ixCustomer", "CUSTOMER", false}}, CachePages),
          FRec(FTable.NewRecord()),
          FBuf(FTable.NewRecord()) {}

    void Run(TResults& R) {
        Insert(R);
        // The reading workloads run in a new session, as they would after the data was loaded.
        FTable.Reopen();
        R["lookup"] = Lookups();
        R["range"] = Ranges();
        R["scan_key"] = ScanInKeyOrder();
        R["scan_storage"] = ScanInStorageOrder();
        R["durable"] = Durable();
        R["delete"] = Delete();
        R["final"] = ScanInStorageOrder();
        R["file_bytes"] = {0, int64_t(std::filesystem::file_size(FPath)), 0};
    }

private:
    [[gnu::noinline]] void Insert(TResults& R) {
        const uint64_t allocations = GAllocations.load();
        Clock::time_point commit;
        R["insert"] = Timed([&](TResult& r) {
            FTable.BeginWrite();
            for (int i = 0; i < FP.Rows; ++i) {
                Fill(i);
                FTable.Insert(FRec);
                r.Take(0);
            }
            commit = Clock::now();
            FTable.Commit();
        });
        R["commit"] = {Since(commit), FP.Rows, 0};
        R["allocations"] = {0, int64_t(GAllocations.load() - allocations), 0};
    }

    [[gnu::noinline]] TResult Lookups() {
        return Reading([&](TResult& r) {
            for (int j = 0; j < FP.Lookups(); ++j) {
                FTable.Records().ReadRecord(Find(RowKey(LookupRow(FP, j))), FBuf.data(), false);
                r.Take(FTable.GetInteger(FBuf.data(), FieldCustomer));
            }
        });
    }

    [[gnu::noinline]] TResult Ranges() {
        TSearchModifier leading;
        leading.SetLimitedSearch(true);
        leading.SetIncludedKeyFieldCount(1);
        TIndexItem& index = FTable.Index(1);
        return Reading([&](TResult& r) {
            for (int s = 0; s < RangeScans; ++s) {
                const int32_t low = RangeLow(FP, s), high = low + RangeCustomers - 1;
                std::fill(FRec.begin(), FRec.end(), 0);
                FTable.SetInteger(FRec, FieldCustomer, low);
                index.CreateKeyBuffer(FRec.data(), nullptr);
                for (bool on = index.PartialIndexSearch(stGE, &leading) == 0; on; on = index.NextKey()) {
                    FTable.Records().ReadRecord(index.GetRecordAddress(), FBuf.data(), false);
                    if (FTable.GetInteger(FBuf.data(), FieldCustomer) > high) break;
                    r.Take(FTable.GetFloat(FBuf.data(), FieldAmount));
                }
            }
        });
    }

    [[gnu::noinline]] TResult ScanInKeyOrder() {
        const TKeyMarkerList first{fcForceBOF};
        TIndexItem& index = FTable.Index(0);
        return Reading([&](TResult& r) {
            std::fill(FRec.begin(), FRec.end(), 0);
            index.CreateKeyBuffer(FRec.data(), &first);
            if (index.FullIndexSearch(stGE) != 0) return;
            TKeyOrderWalk walk(FTable.Records(), WalkBufferBytes());
            walk.Start(index);
            uint32_t address = 0;
            while (walk.Next(address, FBuf.data())) r.Take(FTable.GetFloat(FBuf.data(), FieldAmount));
        });
    }

    [[gnu::noinline]] TResult ScanInStorageOrder() {
        return Reading([&](TResult& r) {
            FTable.Records().StartStorageOrderWalk();
            uint32_t address = 0;
            while (FTable.Records().NextInStorageOrder(address, FBuf.data()))
                r.Take(FTable.GetFloat(FBuf.data(), FieldAmount));
        });
    }

    [[gnu::noinline]] TResult Durable() {
        return Timed([&](TResult& r) {
            for (int k = 0; k < FP.Durable(); ++k) {
                FTable.BeginWrite();
                Fill(FP.Rows + k);
                FTable.Insert(FRec);
                FTable.Commit();
                r.Take(0);
            }
        });
    }

    [[gnu::noinline]] TResult Delete() {
        return Timed([&](TResult& r) {
            FTable.BeginWrite();
            for (int d = 0; d < FP.Deletes(); ++d) {
                const uint32_t address = Find(RowKey(DeleteRow(d)));
                FTable.Records().ReadRecord(address, FBuf.data(), false);
                FTable.Delete(address, FBuf.data());
                r.Take(0);
            }
            FTable.Commit();
        });
    }

    // Times Body under the table's read lock, counting the pages read from the file.
    template <class F>
    TResult Reading(F&& Body) {
        const TCacheMgr& cache = FTable.Disk().File().PageCache();
        const int64_t misses = cache.Misses();
        TResult result = Timed([&](TResult& r) {
            FTable.BeginRead();
            Body(r);
            FTable.EndRead();
        });
        result.Reads = cache.Misses() - misses;
        return result;
    }
    // The record buffer := row I.
    void Fill(int I) {
        std::fill(FRec.begin(), FRec.end(), 0);
        char name[24];
        RowName(I, name);
        FTable.SetInteger(FRec, FieldID, RowKey(I));
        FTable.SetInteger(FRec, FieldCustomer, RowCustomer(FP, I));
        FTable.SetString(FRec, FieldName, name);
        FTable.SetFloat(FRec, FieldAmount, RowAmount(I));
    }
    // Positions index ixID on Key; the record's address.
    uint32_t Find(int32_t Key) {
        std::fill(FRec.begin(), FRec.end(), 0);
        FTable.SetInteger(FRec, FieldID, Key);
        FTable.Index(0).CreateKeyBuffer(FRec.data(), nullptr);
        if (FTable.Index(0).FullIndexSearch(stEQ) != 0) throw std::runtime_error("key not found");
        return FTable.Index(0).GetRecordAddress();
    }

    const TParams& FP;
    std::string FPath;
    TOstraBenchTable FTable;
    std::vector<uint8_t> FRec;  // the row being written or searched for
    std::vector<uint8_t> FBuf;  // the record read
};

// ---------------------------------------------------------------------------------------------
// SQLite

std::atomic<uint64_t> GSQLiteAllocations{0};
sqlite3_mem_methods GSQLiteDefault;

void* SQLiteMalloc(int N) {
    GSQLiteAllocations.fetch_add(1, std::memory_order_relaxed);
    return GSQLiteDefault.xMalloc(N);
}
void* SQLiteRealloc(void* P, int N) {
    GSQLiteAllocations.fetch_add(1, std::memory_order_relaxed);
    return GSQLiteDefault.xRealloc(P, N);
}

// Counts SQLite's allocations; before its first use.
void CountSQLiteAllocations() {
    sqlite3_config(SQLITE_CONFIG_GETMALLOC, &GSQLiteDefault);
    sqlite3_mem_methods counting = GSQLiteDefault;
    counting.xMalloc = SQLiteMalloc;
    counting.xRealloc = SQLiteRealloc;
    if (sqlite3_config(SQLITE_CONFIG_MALLOC, &counting) != SQLITE_OK) throw std::runtime_error("sqlite3_config");
}

class TSQLite {
public:
    explicit TSQLite(const std::string& Path) {
        if (sqlite3_open(Path.c_str(), &FDb) != SQLITE_OK) throw std::runtime_error("sqlite3_open failed");
    }
    ~TSQLite() {
        for (sqlite3_stmt* s : FStatements) sqlite3_finalize(s);
        sqlite3_close(FDb);
    }
    void Exec(const char* Sql) {
        char* message = nullptr;
        if (sqlite3_exec(FDb, Sql, nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : "?";
            sqlite3_free(message);
            throw std::runtime_error(std::string(Sql) + ": " + text);
        }
    }
    sqlite3_stmt* Prepare(const char* Sql) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(FDb, Sql, -1, &s, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(FDb));
        FStatements.push_back(s);
        return s;
    }
    // Steps S once; true for a row.
    bool Step(sqlite3_stmt* S) {
        const int rc = sqlite3_step(S);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(FDb));
        return false;
    }
    int Changes() { return sqlite3_changes(FDb); }
    // The pages read from the file since the last call.
    int64_t CacheMisses() {
        int current = 0, highest = 0;
        sqlite3_db_status(FDb, SQLITE_DBSTATUS_CACHE_MISS, &current, &highest, 1);
        return current;
    }

private:
    sqlite3* FDb = nullptr;
    std::vector<sqlite3_stmt*> FStatements;
};

// One connection with the workload's statements.
struct TSQLiteSession {
    TSQLiteSession(const std::string& Path, bool Create) : Db(Path) {
        Db.Exec("PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;");
        if (Create)
            Db.Exec("PRAGMA page_size=4096;"
                    "CREATE TABLE orders(id INTEGER NOT NULL, customer INTEGER, name TEXT, amount REAL);"
                    "CREATE UNIQUE INDEX ix_id ON orders(id); CREATE INDEX ix_customer ON orders(customer);");
        Insert = Db.Prepare("INSERT INTO orders(id, customer, name, amount) VALUES (?, ?, ?, ?)");
        Lookup = Db.Prepare("SELECT customer FROM orders WHERE id = ?");
        Range = Db.Prepare("SELECT amount FROM orders WHERE customer BETWEEN ? AND ?");
        Scan = Db.Prepare("SELECT amount FROM orders");
        Remove = Db.Prepare("DELETE FROM orders WHERE id = ?");
    }
    TSQLite Db;
    sqlite3_stmt* Insert;
    sqlite3_stmt* Lookup;
    sqlite3_stmt* Range;
    sqlite3_stmt* Scan;
    sqlite3_stmt* Remove;
};

// The SQLite side, workload by workload as the Ostra side.
class TSQLiteRun {
public:
    TSQLiteRun(const TParams& P, const std::string& Folder) : FP(P), FPath(Folder + "/bench.db") {
        CountSQLiteAllocations();
        FSession = std::make_unique<TSQLiteSession>(FPath, true);
    }

    void Run(TResults& R) {
        const uint64_t allocations = GSQLiteAllocations.load();
        Clock::time_point commit;
        R["insert"] = Timed([&](TResult& r) {
            Db().Exec("BEGIN");
            for (int i = 0; i < FP.Rows; ++i) {
                Add(i);
                r.Take(0);
            }
            commit = Clock::now();
            Db().Exec("COMMIT");
        });
        R["commit"] = {Since(commit), FP.Rows, 0};
        R["allocations"] = {0, int64_t(GSQLiteAllocations.load() - allocations), 0};
        // The reading workloads run in a new session, as they would after the data was loaded.
        FSession.reset();
        FSession = std::make_unique<TSQLiteSession>(FPath, false);
        R["lookup"] = InTransaction([&](TResult& r) {
            for (int j = 0; j < FP.Lookups(); ++j) {
                sqlite3_bind_int(FSession->Lookup, 1, RowKey(LookupRow(FP, j)));
                if (!Db().Step(FSession->Lookup)) throw std::runtime_error("key not found");
                r.Take(sqlite3_column_int(FSession->Lookup, 0));
                sqlite3_reset(FSession->Lookup);
            }
        });
        R["range"] = InTransaction([&](TResult& r) {
            for (int s = 0; s < RangeScans; ++s) {
                sqlite3_bind_int(FSession->Range, 1, RangeLow(FP, s));
                sqlite3_bind_int(FSession->Range, 2, RangeLow(FP, s) + RangeCustomers - 1);
                while (Db().Step(FSession->Range)) r.Take(sqlite3_column_double(FSession->Range, 0));
                sqlite3_reset(FSession->Range);
            }
        });
        R["scan_key"] = FullScan();
        R["scan_storage"] = FullScan();
        R["durable"] = Timed([&](TResult& r) {
            for (int k = 0; k < FP.Durable(); ++k) {
                Db().Exec("BEGIN");
                Add(FP.Rows + k);
                Db().Exec("COMMIT");
                r.Take(0);
            }
        });
        R["delete"] = InTransaction([&](TResult& r) {
            for (int d = 0; d < FP.Deletes(); ++d) {
                sqlite3_bind_int(FSession->Remove, 1, RowKey(DeleteRow(d)));
                Db().Step(FSession->Remove);
                if (Db().Changes() != 1) throw std::runtime_error("key not found");
                sqlite3_reset(FSession->Remove);
                r.Take(0);
            }
        });
        R["final"] = FullScan();
        R["file_bytes"] = {0, int64_t(std::filesystem::file_size(FPath)), 0};
    }

private:
    TSQLite& Db() { return FSession->Db; }
    // Inserts row I.
    void Add(int I) {
        char name[24];
        RowName(I, name);
        sqlite3_stmt* insert = FSession->Insert;
        sqlite3_bind_int(insert, 1, RowKey(I));
        sqlite3_bind_int(insert, 2, RowCustomer(FP, I));
        sqlite3_bind_text(insert, 3, name, 20, SQLITE_STATIC);
        sqlite3_bind_double(insert, 4, RowAmount(I));
        Db().Step(insert);
        sqlite3_reset(insert);
    }
    // The whole table in SQLite's own order: its full scan.
    TResult FullScan() {
        return InTransaction([&](TResult& r) {
            while (Db().Step(FSession->Scan)) r.Take(sqlite3_column_double(FSession->Scan, 0));
            sqlite3_reset(FSession->Scan);
        });
    }
    // Times Body inside one transaction, counting the pages read from the file.
    template <class F>
    TResult InTransaction(F&& Body) {
        Db().CacheMisses();
        TResult result = Timed([&](TResult& r) {
            Db().Exec("BEGIN");
            Body(r);
            Db().Exec("COMMIT");
        });
        result.Reads = Db().CacheMisses();
        return result;
    }

    const TParams& FP;
    std::string FPath;
    std::unique_ptr<TSQLiteSession> FSession;
};

// ---------------------------------------------------------------------------------------------
// Child: one side's run, results on standard output

int RunChild(int Argc, char** Argv) {
    if (Argc < 5) return 2;
    const std::string side = Argv[2], folder = Argv[3];
    TParams p = ParamsFromEnvironment();
    const int cachePages = std::atoi(Argv[4]);
    TResults results;
    if (side == "ostra")
        TOstraRun(p, folder, cachePages).Run(results);
    else
        TSQLiteRun(p, folder).Run(results);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    results["peak_kib"] = {0, int64_t(usage.ru_maxrss), 0};
    for (const auto& [name, r] : results)
        std::printf("%s %.9f %" PRId64 " %.17g %" PRId64 "\n", name.c_str(), r.Seconds, r.Count, r.Check, r.Reads);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Driver

// One side of the comparison.
struct TSide {
    std::string Label;
    std::string Name;  // "ostra" or "sqlite"
    int CachePages;
    std::vector<TResults> Runs;
};

// Runs this program as a child for Side; its results.
TResults Spawn(const TSide& Side, const std::string& Folder) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const std::string cache = std::to_string(Side.CachePages);
    std::string self = "/proc/self/exe";
    std::vector<char*> argv{self.data(), const_cast<char*>("--child"), const_cast<char*>(Side.Name.c_str()),
                            const_cast<char*>(Folder.c_str()), const_cast<char*>(cache.c_str()), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) throw std::runtime_error("posix_spawn failed");
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(pipeFds[0], chunk, sizeof chunk)) > 0;) text.append(chunk, std::size_t(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(Side.Label + " run failed");
    TResults results;
    char name[64];
    TResult r;
    for (const char* line = text.c_str(); *line;) {
        if (std::sscanf(line, "%63s %lf %" SCNd64 " %lf %" SCNd64, name, &r.Seconds, &r.Count, &r.Check, &r.Reads) == 5)
            results[name] = r;
        const char* next = std::strchr(line, '\n');
        if (!next) break;
        line = next + 1;
    }
    return results;
}

double Median(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    const std::size_t n = Values.size();
    return n % 2 ? Values[n / 2] : (Values[n / 2 - 1] + Values[n / 2]) / 2;
}

// The median of Field of workload Name over Side's runs.
double MedianOf(const TSide& Side, const std::string& Name, double TResult::*Field) {
    std::vector<double> values;
    for (const TResults& run : Side.Runs) values.push_back(run.at(Name).*Field);
    return Median(values);
}
double MedianCount(const TSide& Side, const std::string& Name, int64_t TResult::*Field = &TResult::Count) {
    std::vector<double> values;
    for (const TResults& run : Side.Runs) values.push_back(double(run.at(Name).*Field));
    return Median(values);
}

// Every run of every side saw the same counts and sums as the first SQLite run; else the reason.
std::string CheckAgreement(const std::vector<TSide>& Sides, const TSide& Reference) {
    const TResults& expected = Reference.Runs.front();
    for (const TSide& side : Sides)
        for (const TResults& run : side.Runs)
            for (const char* name : {"insert", "lookup", "range", "scan_key", "scan_storage", "durable", "delete", "final"}) {
                const TResult& a = run.at(name);
                const TResult& b = expected.at(name);
                if (a.Count != b.Count || a.Check != b.Check) {
                    char text[256];
                    std::snprintf(text, sizeof text, "%s: %s saw %" PRId64 " rows, sum %.17g; SQLite %" PRId64 ", sum %.17g",
                                  name, side.Label.c_str(), a.Count, a.Check, b.Count, b.Check);
                    return text;
                }
            }
    return "";
}

std::string Thousands(int64_t N) {
    std::string digits = std::to_string(N), text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

int RunDriver() {
    const TParams p = ParamsFromEnvironment();
    TBenchFolder folder("ostra-bench-storage");
    std::vector<TSide> sides{{"Ostra", "ostra", 0, {}},
                             {"SQLite", "sqlite", 0, {}},
                             {"Ostra, " + std::to_string(p.BigCache) + "-page cache", "ostra", p.BigCache, {}}};
    for (int run = 0; run < p.Runs; ++run)
        for (std::size_t k = 0; k < sides.size(); ++k) {
            TSide& side = sides[(run + k) % sides.size()];
            folder.Clear();
            side.Runs.push_back(Spawn(side, folder.Path()));
        }
    const TSide& ostra = sides[0];
    const TSide& sqlite = sides[1];
    const TSide& big = sides[2];
    const std::string disagreement = CheckAgreement(sides, sqlite);

    std::printf("bench_storage: %s rows, medians of %d runs per side, each run in its own process; SQLite %s "
                "(journal_mode=DELETE, synchronous=FULL)\n",
                Thousands(p.Rows).c_str(), p.Runs, sqlite3_libversion());
    std::printf("%-54s %10s %10s %7s %12s %7s\n", "workload (ms)", "Ostra", "SQLite", "ratio", "Ostra, cache", "ratio");
    const struct {
        const char* Name;
        std::string Label;
    } rows[] = {
        {"insert", "insert " + Thousands(p.Rows) + " rows, one transaction"},
        {"commit", "  of which the commit"},
        {"lookup", Thousands(p.Lookups()) + " point lookups by key, reading the record"},
        {"range", "50 range scans of about 2,000 rows, customer index"},
        {"scan_key", "full scan reading one field, key order"},
        {"scan_storage", "full scan reading one field, storage order"},
        {"durable", Thousands(p.Durable()) + " durable single-row transactions"},
        {"delete", "delete " + Thousands(p.Deletes()) + " rows by key, one transaction"},
    };
    for (const auto& row : rows) {
        const double o = MedianOf(ostra, row.Name, &TResult::Seconds) * 1e3;
        const double s = MedianOf(sqlite, row.Name, &TResult::Seconds) * 1e3;
        const double b = MedianOf(big, row.Name, &TResult::Seconds) * 1e3;
        std::printf("%-54s %10.1f %10.1f %7.2f %12.1f %7.2f\n", row.Label.c_str(), o, s, o / s, b, b / s);
    }
    const double om = MedianCount(ostra, "peak_kib") / 1024, sm = MedianCount(sqlite, "peak_kib") / 1024,
                 bm = MedianCount(big, "peak_kib") / 1024;
    std::printf("%-54s %10.1f %10.1f %7.2f %12.1f %7.2f\n", "peak memory (MiB)", om, sm, om / sm, bm, bm / sm);
    const double oa = MedianCount(ostra, "allocations") / p.Rows, sa = MedianCount(sqlite, "allocations") / p.Rows,
                 ba = MedianCount(big, "allocations") / p.Rows;
    std::printf("%-54s %10.2f %10.2f %7.2f %12.2f %7.2f\n", "heap allocations per inserted row", oa, sa, oa / sa, ba,
                ba / sa);
    std::printf("%-54s %10.1f %10.1f %7s %12.1f\n", "file size after the run (MiB)",
                MedianCount(ostra, "file_bytes") / 1048576, MedianCount(sqlite, "file_bytes") / 1048576, "",
                MedianCount(big, "file_bytes") / 1048576);
    for (const auto& row : rows) {
        if (MedianCount(sqlite, row.Name, &TResult::Reads) == 0 && MedianCount(ostra, row.Name, &TResult::Reads) == 0)
            continue;
        const double n = MedianCount(sqlite, row.Name);
        std::printf("%-54s %10.2f %10.2f %7s %12.2f\n", ("  pages read per row: " + std::string(row.Name)).c_str(),
                    MedianCount(ostra, row.Name, &TResult::Reads) / n, MedianCount(sqlite, row.Name, &TResult::Reads) / n,
                    "", MedianCount(big, row.Name, &TResult::Reads) / n);
    }
    if (!disagreement.empty()) {
        std::printf("FAILED: the sides disagree: %s\n", disagreement.c_str());
        return 1;
    }
    std::printf("results agree: row counts and sums of every workload are the same on every side and run\n");
    return 0;
}

}  // namespace

int main(int Argc, char** Argv) {
    try {
        if (Argc > 1 && std::strcmp(Argv[1], "--child") == 0) return RunChild(Argc, Argv);
        return RunDriver();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_storage: %s\n", e.what());
        return 1;
    }
}
