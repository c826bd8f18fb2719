// Many processes on one database file (the stress harness, support/StressHarness.h) with the
// storage classes driven the way the cursor drives them: writers insert, change and delete rows
// of the Stock table (a unique and a non-unique index; plain, or weakly encrypted), now and then
// rolling a transaction back on purpose, and are killed at random and started again; readers
// check under read locks that both indexes agree and that every row they meet is whole and
// found through the unique index at its own address. Afterwards a fresh connection finds every
// committed row once, reachable through every index, and nothing else.
//
// `make test` runs a few seconds of each; `make stress` runs them for minutes with more
// processes (OSTRA_STRESS_SECONDS, OSTRA_STRESS_WRITERS, OSTRA_STRESS_READERS,
// OSTRA_STRESS_KILL_MS). Each run prints its transactions per second and its time-outs by code.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "support/CrashHarness.h"
#include "support/DiskTestSupport.h"
#include "support/StressHarness.h"
#include "support/orqLayoutFixture.h"
#include "support/orqStockTable.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace tabletest;
using stresstest::TStressContext;
using stresstest::TStressHistory;
using stresstest::TStressTransaction;

constexpr int32_t BaseCount = 300;            // rows 1..300, never changed by the writers
constexpr int32_t RowsPerWriter = 100000000;  // writer w owns IDs from (w + 1) * RowsPerWriter
constexpr TLockWaits Waits{10, 20};           // table locks: 10 attempts 20 ms apart

std::string RandomGroup(std::mt19937& Random) {
    return std::string("G-") + char('A' + Random() % 26);
}

using TRows = std::map<int32_t, TStockRow>;

// A transaction's changes as text: "+ID/GROUP/QTY" inserts, "~ID/GROUP/QTY" changes, "-ID" deletes,
// separated by blanks.
struct TChange {
    char Kind;
    TStockRow Row;
};

std::string ChangesText(const std::vector<TChange>& Changes) {
    std::string text;
    for (const TChange& change : Changes) {
        if (!text.empty()) text += ' ';
        text += change.Kind + std::to_string(change.Row.ID);
        if (change.Kind != '-') text += '/' + change.Row.Group + '/' + std::to_string(change.Row.Qty);
    }
    return text;
}

std::vector<TChange> ParseChanges(const std::string& Text) {
    std::vector<TChange> changes;
    std::istringstream in(Text);
    for (std::string item; in >> item;) {
        TChange change{item[0], {}};
        const std::size_t slash = item.find('/'), second = item.find('/', slash + 1);
        change.Row.ID = std::stoi(item.substr(1, slash - 1));
        if (change.Kind != '-')
            change.Row = StockRow(change.Row.ID, item.substr(slash + 1, second - slash - 1),
                                  std::stoi(item.substr(second + 1)));
        changes.push_back(change);
    }
    return changes;
}

void Apply(const std::vector<TChange>& Changes, TRows& Rows) {
    for (const TChange& change : Changes)
        if (change.Kind == '-')
            Rows.erase(change.Row.ID);
        else
            Rows[change.Row.ID] = change.Row;
}

// The first row a transaction inserts: present exactly when the transaction committed.
int32_t Probe(const TStressTransaction& Transaction) {
    return ParseChanges(Transaction.Changes).front().Row.ID;
}

// The Stock table through the storage classes.
class TStockWorkload : public stresstest::TStressWorkload {
public:
    explicit TStockWorkload(TEncryptionLevel Level) : FLevel(Level) {}

    void Prepare(const std::string& Path) override {
        CreateStockDatabase(Path, FLevel);
        TStockTable table(Path, FLevel);
        table.Open();
        table.Begin();
        for (int32_t id = 1; id <= BaseCount; ++id) table.Insert(BaseRow(id));
        table.WriteTableHeader();
        table.Commit();
    }

    void Write(TStressContext& Context) override {
        std::unique_ptr<TStockTable> connection = Connect(Context);
        if (!connection) return;
        TStockTable& table = *connection;
        std::mt19937 random(Context.Seed);
        stresstest::TStressLog& log = *Context.Log;
        // The rows this writer owns, as its slot's earlier processes left them.
        TRows mine;
        for (const TStressTransaction& transaction : Context.History) {
            TStressTransaction::TOutcome outcome = transaction.Outcome;
            if (outcome == TStressTransaction::InDoubt) outcome = Resolve(table, transaction, log);
            if (outcome == TStressTransaction::Committed) Apply(ParseChanges(transaction.Changes), mine);
            if (outcome == TStressTransaction::InDoubt)  // unknown: none of its rows is touched again
                for (const TChange& change : ParseChanges(transaction.Changes)) mine.erase(change.Row.ID);
        }
        uint64_t number = Context.History.empty() ? 1 : Context.History.back().Number + 1;
        for (; Context.Running(); ++number) {
            const std::vector<TChange> changes = NextChanges(Context.Slot, number, mine, random);
            const bool rollBack = random() % 10 == 0;
            bool announced = false;
            try {
                table.Begin();
                for (const TChange& change : changes) {
                    if (change.Kind == '+') table.Insert(change.Row);
                    if (change.Kind == '~') table.Update(change.Row);
                    if (change.Kind == '-') table.Delete(change.Row.ID);
                }
                table.WriteTableHeader();
                if (rollBack) {
                    table.Rollback();
                    continue;
                }
                log.Announce(number, ChangesText(changes));
                announced = true;
                table.Commit();
                log.Committed(number);
                Apply(changes, mine);
            } catch (const EOrqDatabaseError& e) {
                try {
                    if (table.Disk().IsTransactionActive()) table.Rollback();
                } catch (...) {
                }
                if (announced) log.Lost(number);  // a failed commit leaves the file as it was
                Report(log, e, "writer");
            }
        }
    }

    void Read(TStressContext& Context) override {
        std::unique_ptr<TStockTable> connection = Connect(Context);
        if (!connection) return;
        TStockTable& table = *connection;
        std::mt19937 random(Context.Seed);
        while (Context.Running()) {
            try {
                table.Lock(CReadLock);
                const std::string problem = CheckSample(table, random);
                table.Unlock();
                if (problem.empty())
                    Context.Log->Read();
                else
                    Context.Log->Problem(problem);
            } catch (const EOrqDatabaseError& e) {
                try {
                    table.Unlock();
                } catch (...) {
                }
                Report(*Context.Log, e, "reader");
            }
        }
    }

    std::string Check(const std::string& Path, const std::vector<TStressHistory>& Writers) override {
        TProblems problems;
        TStockTable table(Path, FLevel);
        table.Open();
        table.ReadTableHeader();
        TRows model;
        for (int32_t id = 1; id <= BaseCount; ++id) model[id] = BaseRow(id);
        for (const TStressHistory& history : Writers)
            for (const TStressTransaction& transaction : history) {
                const bool committed = transaction.Outcome == TStressTransaction::Committed ||
                                       (transaction.Outcome == TStressTransaction::InDoubt &&
                                        table.Find(Probe(transaction)) != 0);
                if (committed) Apply(ParseChanges(transaction.Changes), model);
            }
        TRows rows;
        for (const auto& [address, rec] : CheckTable(table, problems)) {
            const TStockRow row = table.Decode(rec);
            if (!rows.emplace(row.ID, row).second) problems.Add("two rows of ID " + std::to_string(row.ID));
        }
        for (const auto& [id, row] : model)
            if (!rows.count(id))
                problems.Add("committed row " + std::to_string(id) + " is missing");
            else if (!(rows[id] == row))
                problems.Add("row " + std::to_string(id) + " is not as committed");
        for (const auto& [id, row] : rows)
            if (!model.count(id)) problems.Add("row " + std::to_string(id) + " was never committed");
        if (const std::string status = table.Disk().DebugCheckStatus(); !status.empty()) problems.Add(status);
        const std::string structure = crashtest::CheckStorageStructure(test::ReadAll(Path), disktest::PS);
        if (!structure.empty()) problems.Add(structure);
        return problems.Text();
    }

private:
    // A connection with the table open; opening waits for locks too (it replays a dead writer's
    // journal), so it is tried again after a time-out until the deadline (null then).
    std::unique_ptr<TStockTable> Connect(TStressContext& Context) {
        do {
            try {
                auto table = std::make_unique<TStockTable>(Context.Path, FLevel, Waits);
                table->Open();
                return table;
            } catch (const EOrqDatabaseError& e) {
                Report(*Context.Log, e, "opening");
            }
        } while (Context.Running());
        return nullptr;
    }

    static TStockRow BaseRow(int32_t ID) {
        return StockRow(ID, std::string("G-") + char('A' + ID % 26), ID % 100);
    }

    // One to three new rows; a change of one of the writer's rows (sometimes moving it to another
    // group) and a deletion of another, each now and then.
    static std::vector<TChange> NextChanges(int Slot, uint64_t Number, const TRows& Mine,
                                            std::mt19937& Random) {
        std::vector<TChange> changes;
        const int32_t first = (Slot + 1) * RowsPerWriter + int32_t(Number % (RowsPerWriter / 8)) * 8;
        for (int32_t k = 0, n = 1 + int32_t(Random() % 3); k < n; ++k)
            changes.push_back({'+', StockRow(first + k, RandomGroup(Random), int32_t(Random() % 1000))});
        if (Mine.empty()) return changes;
        auto pick = [&] { return std::next(Mine.begin(), std::ptrdiff_t(Random() % Mine.size()))->second; };
        const TStockRow changed = pick();
        if (Random() % 2 == 0)
            changes.push_back(
                {'~', StockRow(changed.ID, Random() % 3 == 0 ? RandomGroup(Random) : changed.Group,
                               changed.Qty + 1)});
        const TStockRow deleted = pick();
        if (Random() % 3 == 0 && deleted.ID != changed.ID) changes.push_back({'-', deleted});
        return changes;
    }

    // Finds out whether the in-doubt transaction committed, and logs it; InDoubt when the table
    // could not be read (its rows are then left alone).
    static TStressTransaction::TOutcome Resolve(TStockTable& Table, const TStressTransaction& Transaction,
                                                stresstest::TStressLog& Log) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            try {
                Table.Lock(CReadLock);
                const bool present = Table.Find(Probe(Transaction)) != 0;
                Table.Unlock();
                present ? Log.Committed(Transaction.Number) : Log.Lost(Transaction.Number);
                return present ? TStressTransaction::Committed : TStressTransaction::Lost;
            } catch (const EOrqDatabaseError& e) {
                try {
                    Table.Unlock();
                } catch (...) {
                }
                Report(Log, e, "writer resolving its last transaction");
            }
        }
        return TStressTransaction::InDoubt;
    }

    // Under the read lock: both indexes count the same rows, and a run of up to 40 rows of the
    // group index from a random group on is in group order, whole, and found through the unique
    // index at its own address. "" when so.
    static std::string CheckSample(TStockTable& Table, std::mt19937& Random) {
        const int byID = Table.Index(ixStockID).GetRecordCount(true);
        const int byGroup = Table.Index(ixStockGroup).GetRecordCount(true);
        if (byID != byGroup)
            return "the indexes count " + std::to_string(byID) + " and " + std::to_string(byGroup) + " rows";
        std::vector<uint8_t> search = Table.BlankRecord();
        testing::SetString(search, Table.Field(fStockGroup), RandomGroup(Random));
        TIndexItem& groups = Table.Index(ixStockGroup);
        groups.CreateKeyBuffer(search.data(), nullptr);
        if (groups.FullIndexSearch(stGE) != 0) return "";
        std::string previous;
        for (int n = 0; n < 40; ++n) {
            const uint32_t address = groups.GetRecordAddress();
            const TStockRow row = Table.Decode(Table.Read(address));
            if (row.Tag != StockTag(row.ID, row.Group, row.Qty))
                return "the row at " + std::to_string(address) + " is not whole: " + row.Tag;
            if (row.Group < previous)
                return "the group index is out of order at row " + std::to_string(row.ID);
            if (Table.Find(row.ID) != address)
                return "row " + std::to_string(row.ID) + " is not found through ixID at its address";
            previous = row.Group;
            if (!groups.NextKey()) break;
        }
        return "";
    }

    // A lock time-out is expected under contention; any other engine error is a problem.
    static void Report(stresstest::TStressLog& Log, const EOrqDatabaseError& Error, const char* Who) {
        if (Error.ErrorCode == 10249)
            Log.Error(Error.ErrorCode);
        else
            Log.Problem(std::string(Who) + ": " + std::to_string(Error.ErrorCode) + " " + Error.what());
    }

    TEncryptionLevel FLevel;
};

void RunStress(TEncryptionLevel Level) {
    test::TempDir dir;
    TStockWorkload workload(Level);
    const stresstest::TStressOptions options = stresstest::TStressOptions::FromEnvironment({});
    const stresstest::TStressReport report =
        stresstest::RunStressHarness(workload, dir.File("stock.orq"), options);
    std::cout << "[ stress   ] " << options.Writers << " writers, " << options.Readers << " readers, "
              << (Level == encWeak ? "weak encryption: " : "plain: ") << report.Summary() << std::endl;
    // The problems include every writer or reader that starved (StarvedProcesses).
    for (const std::string& problem : report.Problems) ADD_FAILURE() << problem;
}

// A process starves only when the others overtook it many times while it ran: a writer killed
// before its first commit, or one that ran while the others hardly committed, did not.
TEST(StressTest, AProcessStarvesOnlyWhenTheOthersGotOnMeanwhile) {
    using stresstest::TStressProcess;
    const TStressProcess busy{0, 10000, {100, 200, 300, 400, 500, 600, 2500, 2600, 2700}, 0};
    const struct {
        const char* Name;
        TStressProcess Writer;  // beside the busy writer
        TStressProcess Reader;
        std::size_t Starved;
    } cases[] = {
        {"both got on", {0, 10000, {2000}, 0}, {0, 10000, {}, 5}, 0},
        {"a writer overtaken nine times", {0, 10000, {}, 0}, {0, 10000, {}, 1}, 1},
        {"a writer killed after three of the others' commits", {0, 350, {}, 0}, {0, 10000, {}, 1}, 0},
        {"a writer whose commit only a later process found", {0, 10000, {-1}, 0}, {0, 10000, {}, 1}, 0},
        {"a reader shut out", {0, 10000, {2000}, 0}, {0, 10000, {}, 0}, 1},
        {"a reader that ran while little was committed", {0, 10000, {2000}, 0}, {1000, 2400, {}, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto starved = stresstest::StarvedProcesses({{busy}, {c.Writer}}, {{c.Reader}}, 8);
        EXPECT_EQ(starved.size(), c.Starved) << (starved.empty() ? "" : starved.front());
    }
}

TEST(StressTest, PlainTable) {
    RunStress(encNone);
}

TEST(StressTest, WeaklyEncryptedTable) {
    RunStress(encWeak);
}

}  // namespace
}  // namespace ostra
