// Several connections, in several processes, on one database file: what one connection's
// transaction, rollback or dead commit leaves for the others.
//   - A rolled-back transaction (a failed commit or an explicit rollback) leaves no cached page
//     that another connection's commit may change: a connection that scanned the table, rolled
//     back and then wrote into a page that another connection had changed meanwhile lost that
//     connection's index entry.
//   - A transaction that starts while a dead commit's pages still lengthen the file appends at
//     the real end once another connection has replayed that commit's journal, so no page is
//     left that no map entry owns; the status check names such pages.
//   - A change reaches other connections even when the writer leaves the table header alone:
//     the engine writes the header (its counter moves on) for every committed transaction, and
//     every write lock released, that changed the table.
//   - A table closed and opened again keeps its cached pages only while nobody changed it: a
//     commit of another connection, or the table dropped and made again (same identifier, header
//     address and change counter, its pages reused), makes it read the file again.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqJournal.h"
#include "engine/storage/orqLockMgrUnit.h"
#include "host/Exceptions.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/CrashHarness.h"
#include "support/DiskTestSupport.h"
#include "support/orqStockTable.h"
#include "testsupport/FileOpCounter.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace tabletest;
using test::Child;

// The group of a base row: 26 groups, "G-A" to "G-Z", each spread over the whole ID range.
std::string GroupOf(char Letter) {
    return std::string("G-") + Letter;
}
TStockRow BaseRow(int32_t ID) {
    return StockRow(ID, GroupOf(char('A' + ID % 26)), ID % 100);
}

// A new database with Count base rows, IDs 1 to Count, committed.
void PrepareStock(const std::string& Path, int32_t Count, TEncryptionLevel Level = encNone) {
    CreateStockDatabase(Path, Level);
    TStockTable table(Path, Level);
    table.Open();
    table.Begin();
    for (int32_t id = 1; id <= Count; ++id) table.Insert(BaseRow(id));
    table.WriteTableHeader();
    table.Commit();
}

// A connection to the Stock table in a child process that the test drives one step at a time.
// Each step is answered '+' when it succeeded, 'T' when a lock wait ran out (10249), 'E' on any
// other failure:
//   s  scan: under a read lock, read and check every record and index page (all cached clean)
//   b  begin a transaction (table write lock, header read)
//   i  insert the next row (IDs from FirstID on) into the group whose letter comes next
//   u  row 1 gets a quantity one higher: its record and keys rewritten, header values unchanged
//   h  write the table header when its values changed
//   c  commit          r  roll back
//   l  read lock       w  write lock (outside a transaction)       x  unlock
class TScriptedConnection {
public:
    TScriptedConnection(const std::string& Path, int32_t FirstID)
        : FChild([Path, FirstID](Child& Test) { return Run(Test, Path, FirstID); }) {}
    ~TScriptedConnection() { FChild.Send('q'); }

    // Runs the steps in order; the first answer that is not '+', or '+'.
    char Steps(const std::string& Commands) {
        for (char command : Commands) {
            FChild.Send(command);
            const char answer = FChild.Receive();
            if (answer != '+') return answer;
        }
        return '+';
    }
    char Insert(char GroupLetter) {
        FChild.Send('i');
        FChild.Send(GroupLetter);
        return FChild.Receive();
    }

private:
    static int Run(Child& Test, const std::string& Path, int32_t FirstID) {
        TStockTable table(Path);
        table.Open();
        int32_t next = FirstID;
        for (char command = Test.Receive(); command != 'q' && command != '\0'; command = Test.Receive()) {
            char answer = '+';
            try {
                switch (command) {
                    case 's': {
                        table.Lock(CReadLock);
                        TProblems problems;
                        CheckTable(table, problems);
                        table.Unlock();
                        if (!problems.Empty()) answer = 'E';
                        break;
                    }
                    case 'b':
                        table.Begin();
                        break;
                    case 'i': {
                        const int32_t id = next++;
                        table.Insert(StockRow(id, GroupOf(Test.Receive()), id % 100));
                        break;
                    }
                    case 'u': {
                        TStockRow row = table.Get(1);
                        table.Update(StockRow(1, row.Group, row.Qty + 1));
                        break;
                    }
                    case 'h':
                        table.WriteTableHeader();
                        break;
                    case 'c':
                        table.Commit();
                        break;
                    case 'r':
                        table.Rollback();
                        break;
                    case 'l':
                        table.Lock(CReadLock);
                        break;
                    case 'w':
                        table.Lock(CWriteLock);
                        break;
                    case 'x':
                        table.Unlock();
                        break;
                    default:
                        answer = '?';
                }
            } catch (const EOrqDatabaseError& e) {
                answer = e.ErrorCode == 10249 ? 'T' : 'E';
            } catch (...) {
                answer = 'E';
            }
            Test.Send(answer);
        }
        return 0;
    }

    Child FChild;
};

// A fresh connection's check of the whole table: "" when sound; Rows := the rows by ID.
std::string CheckStock(const std::string& Path, std::map<int32_t, TStockRow>& Rows,
                       TEncryptionLevel Level = encNone) {
    TStockTable table(Path, Level);
    table.Open();
    table.ReadTableHeader();
    TProblems problems;
    for (const auto& [address, rec] : CheckTable(table, problems)) {
        const TStockRow row = table.Decode(rec);
        if (!Rows.emplace(row.ID, row).second) problems.Add("two rows of ID " + std::to_string(row.ID));
    }
    const std::string status = table.Disk().DebugCheckStatus();
    if (!status.empty()) problems.Add(status);
    const std::string structure = crashtest::CheckStorageStructure(test::ReadAll(Path), disktest::PS);
    if (!structure.empty()) problems.Add(structure);
    return problems.Text();
}

// A scans the table (every page cached clean), inserts into group A and writes the header (its
// counter moves on in A's copy), then its transaction ends without a commit; C commits a row of
// group Z (the stored counter now equals A's copy); A inserts a row of group Z too. A must not
// build on its cached page of group Z's index entries, which C changed.
TEST(SharedFileTest, ARolledBackTransactionLeavesNoPageThatAnotherCommitChanges) {
    for (const bool explicitRollback : {false, true}) {
        SCOPED_TRACE(explicitRollback ? "explicit rollback" : "failed commit");
        test::TempDir dir;
        const std::string path = dir.File("stock.orq");
        PrepareStock(path, 600);
        {
            TScriptedConnection a(path, 100001), c(path, 200001);
            ASSERT_EQ(a.Steps("sb"), '+');
            ASSERT_EQ(a.Insert('A'), '+');
            ASSERT_EQ(a.Steps("h"), '+');
            if (explicitRollback) {
                ASSERT_EQ(a.Steps("r"), '+');
            } else {
                TScriptedConnection b(path, 300001);
                ASSERT_EQ(b.Steps("l"), '+');  // B reads: A cannot upgrade, its commit fails
                ASSERT_EQ(a.Steps("c"), 'T');
                ASSERT_EQ(b.Steps("x"), '+');
            }
            ASSERT_EQ(c.Steps("b"), '+');
            ASSERT_EQ(c.Insert('Z'), '+');
            ASSERT_EQ(c.Steps("hc"), '+');
            ASSERT_EQ(a.Steps("b"), '+');
            ASSERT_EQ(a.Insert('Z'), '+');
            ASSERT_EQ(a.Steps("hc"), '+');
        }
        std::map<int32_t, TStockRow> rows;
        EXPECT_EQ(CheckStock(path, rows), "");
        EXPECT_EQ(rows.size(), 602u);
        EXPECT_EQ(rows.count(100001), 0u);  // rolled back
        EXPECT_EQ(rows.count(100002), 1u);
        EXPECT_EQ(rows.count(200001), 1u);
    }
}

// Kills its own process at the first flush of the database file: a commit that has written the
// file (and grown it) dies before it is durable, leaving a valid journal.
class TKillAtDatabaseFlush : public platform::FileFaultInjector {
public:
    explicit TKillAtDatabaseFlush(std::string Path) : FPath(std::move(Path)) {}
    platform::FileFault Decide(platform::FileOp Op, const std::string& Path, int64_t, int64_t) override {
        if (Op == platform::FileOp::Flush && Path == FPath) kill(getpid(), SIGKILL);
        return {};
    }

private:
    std::string FPath;
};

// A child process inserts rows First to Last in group K and dies in the commit, after it has
// written (and lengthened) the file and before the file is durable, leaving a valid journal.
// Returns how the child ended (128 + SIGKILL).
int DieCommitting(const std::string& Path, int32_t First, int32_t Last) {
    Child dead([&](Child&) {
        TStockTable table(Path);
        table.Open();
        table.Begin();
        for (int32_t id = First; id <= Last; ++id) table.Insert(StockRow(id, GroupOf('K'), id));
        table.WriteTableHeader();
        TKillAtDatabaseFlush kill(Path);
        platform::ScopedFileFaultInjector scope(kill);
        table.Commit();
        return 0;
    });
    return dead.Wait();
}

// A table lock taken again while it is held skips the look for a dead commit's journal: the
// check ran when the lock was taken, and while it is held no writer of the table gets to write,
// so none can die halfway through a commit of the table's pages. Once the lock is given back,
// the next one looks again and replays what a writer left.
TEST(SharedFileTest, ATableLockHeldSinceItsJournalCheckLetsNoDeadCommitOfTheTableIn) {
    test::TempDir dir;
    const std::string path = dir.File("stock.orq");
    const std::string journal = GetJournalFileName(path);
    PrepareStock(path, 20);
    const std::string before = test::ReadAll(path);
    TStockTable reader(path);
    reader.Open();
    const uint16_t table = uint16_t(reader.TableID());
    ASSERT_EQ(reader.Disk().SetTableLock(table, CReadLock), CReadLock);

    // The writer's commit cannot upgrade to the write lock: it fails before writing a byte.
    EXPECT_EQ(DieCommitting(path, 1001, 1100), 98);
    EXPECT_FALSE(platform::FileExists(journal));
    EXPECT_TRUE(test::ReadAll(path) == before);
    ASSERT_EQ(reader.Disk().SetTableLock(table, CReadLock), CReadLock);
    reader.ReadTableHeader();
    EXPECT_EQ(reader.Get(7), BaseRow(7));
    EXPECT_EQ(reader.Find(1001), 0u) << "the writer's rows never reached the file";
    reader.Disk().ReleaseTableLock(table);

    // Let go, the table takes a writer that dies in its commit; the reader's next lock is fresh
    // and replays the journal before anything is read.
    ASSERT_EQ(DieCommitting(path, 1001, 1100), 128 + SIGKILL);
    ASSERT_TRUE(platform::FileExists(journal));
    ASSERT_EQ(reader.Disk().SetTableLock(table, CReadLock), CReadLock);
    EXPECT_FALSE(platform::FileExists(journal));
    EXPECT_TRUE(test::ReadAll(path) == before);
    reader.ReadTableHeader();
    EXPECT_EQ(reader.Get(7), BaseRow(7));
    reader.Disk().ReleaseTableLock(table);
}

TEST(SharedFileTest, AfterAnotherConnectionReplaysADeadCommitATransactionAppendsAtTheRealEnd) {
    test::TempDir dir;
    const std::string path = dir.File("stock.orq");
    PrepareStock(path, 50);
    const int64_t sizeBefore = int64_t(test::ReadAll(path).size());

    TStockTable writer(path);
    writer.Open();
    ASSERT_EQ(DieCommitting(path, 1001, 1400), 128 + SIGKILL);
    ASSERT_GT(int64_t(test::ReadAll(path).size()), sizeBefore + 10 * int64_t(disktest::PS));

    // The writer's transaction starts on the lengthened file; then another connection opens and
    // replays the dead commit's journal, which cuts the file back.
    writer.Disk().DiskStartTransaction(false);
    { TStockTable other(path); }
    ASSERT_EQ(int64_t(test::ReadAll(path).size()), sizeBefore);
    writer.Disk().SetTableLock(uint16_t(writer.TableID()), CWriteLock);
    writer.ReadTableHeader();
    for (int32_t id = 2001; id <= 2200; ++id) writer.Insert(StockRow(id, GroupOf('M'), id));
    writer.WriteTableHeader();
    writer.Commit();
    EXPECT_EQ(writer.Disk().DebugCheckStatus(), "");

    std::map<int32_t, TStockRow> rows;
    EXPECT_EQ(CheckStock(path, rows), "");
    EXPECT_EQ(rows.size(), 250u);
    EXPECT_EQ(rows.count(1001), 0u);
}

// A connection that must replay a dead commit's journal waits for every table region without
// holding the journal lock (holding only the intent bytes that keep new readers out): another
// connection that finds the journal lock held takes the commit for a live one, whose tables are
// write-locked, and reads what its own locks protect, which must not be the dead commit's pages.
TEST(SharedFileTest, AReplayWaitingForTheTableRegionsLeavesTheJournalLockFree) {
    test::TempDir dir;
    const std::string path = dir.File("stock.orq");
    PrepareStock(path, 20);
    const std::string before = test::ReadAll(path);
    ASSERT_EQ(DieCommitting(path, 1001, 1100), 128 + SIGKILL);

    // A reader of table 5 holds its byte, so the replay has to wait.
    platform::File lockFile, database;
    ASSERT_TRUE(lockFile.Open(GetLockFileName(path), platform::FileAccess::ReadWrite,
                              platform::FileShare::DenyNone, platform::FileCreate::OpenAlways));
    ASSERT_TRUE(database.Open(path, platform::FileAccess::Read, platform::FileShare::DenyNone,
                              platform::FileCreate::OpenExisting));
    ASSERT_TRUE(lockFile.Lock(CTableLockBase + 5 * CTableLockRegionSize + 17, 1));
    Child replay([&](Child& Test) {
        TStockTable table(path, encNone, {200, 20});  // opening replays the journal
        Test.Send('o');
        return 0;
    });
    // Waiting: the replay holds the intent bytes of table 1 (no new reader of it gets in) ...
    for (int i = 0; i < 400 && lockFile.Lock(CTableIntentBase + CLockIntentSize, 1); ++i) {
        lockFile.Unlock(CTableIntentBase + CLockIntentSize, 1);
        platform::Sleep(5);
    }
    ASSERT_FALSE(lockFile.Lock(CTableIntentBase + CLockIntentSize, 1));
    // ... but not the journal lock.
    EXPECT_TRUE(database.Lock(CJournalLockAddress, 1));
    database.Unlock(CJournalLockAddress, 1);
    ASSERT_TRUE(lockFile.Unlock(CTableLockBase + 5 * CTableLockRegionSize + 17, 1));
    EXPECT_EQ(replay.Receive(), 'o');
    EXPECT_EQ(replay.Wait(), 0);
    EXPECT_TRUE(test::ReadAll(path) == before);
}

// Holds its process at the first read of the journal file: the connection that opens sits in
// the middle of inspecting a dead commit's journal, holding the journal lock, until the test
// lets it go on.
class TPauseAtJournalRead : public platform::FileFaultInjector {
public:
    TPauseAtJournalRead(std::string Journal, Child& Test) : FJournal(std::move(Journal)), FTest(Test) {}
    platform::FileFault Decide(platform::FileOp Op, const std::string& Path, int64_t, int64_t) override {
        if (Op == platform::FileOp::Read && Path == FJournal && !FPaused) {
            FPaused = true;
            FTest.Send('i');
            FTest.Receive();
        }
        return {};
    }

private:
    std::string FJournal;
    Child& FTest;
    bool FPaused = false;
};

// While another connection looks at a dead commit's journal under the journal lock (one that
// opens and will replay it, or a live commit that finds it beside the file and gives up), a
// connection that takes a table lock must not read the dead commit's pages: it would hold the
// dead commit's header counter, which the next real commit gives the table again after the
// replay, and then build on pages that never were committed.
TEST(SharedFileTest, NobodyReadsADeadCommitWhileAnotherConnectionLooksAtItsJournal) {
    const struct {
        const char* Name;
        bool Committer;
    } cases[] = {{"a connection opening", false}, {"a live commit", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TempDir dir;
        const std::string path = dir.File("stock.orq");
        PrepareStock(path, 20);
        TStockTable reader(path);
        reader.Open();
        reader.Lock(CReadLock);
        ASSERT_NE(reader.Find(20), 0u);
        reader.Unlock();
        ASSERT_EQ(DieCommitting(path, 1001, 1100), 128 + SIGKILL);

        Child looker([&](Child& Test) {
            TPauseAtJournalRead pause(GetJournalFileName(path), Test);
            platform::ScopedFileFaultInjector scope(pause);
            if (!c.Committer) {
                TStockTable table(path, encNone, {200, 20});  // opening inspects and replays the journal
                Test.Send('o');
                return 0;
            }
            // A commit of a byte range outside any table, straight through the paged file.
            TOrqFile file;
            file.SetXORKeyBuf("k", 1);
            file.SetOpenRead(true);
            file.SetOpenWrite(true);
            file.OpenOrqFile(path);
            file.StartTransaction();
            const uint8_t byte = 0;
            file.WriteThroughOrqFile(&byte, 0, 1);
            try {
                file.Commit();
            } catch (const EOrqDatabaseError& e) {
                Test.Send(e.ErrorCode == 10249 ? 'o' : 'E');  // the dead commit comes first
                return 0;
            }
            Test.Send('C');
            return 0;
        });
        ASSERT_EQ(looker.Receive(), 'i');
        bool sawDeadCommit = false;
        try {
            reader.Lock(CReadLock);
            sawDeadCommit = reader.Find(1001) != 0;
            reader.Unlock();
        } catch (const EOrqDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode, 10249);  // waiting for the look at the journal is fine
        }
        EXPECT_FALSE(sawDeadCommit);
        looker.Send('g');
        EXPECT_EQ(looker.Receive(), 'o');
        EXPECT_EQ(looker.Wait(), 0);

        // A real commit after the replay moves the counter to what the dead commit had written.
        {
            TStockTable writer(path);
            writer.Open();
            writer.Begin();
            writer.Insert(StockRow(2001, GroupOf('K'), 1));
            writer.WriteTableHeader();
            writer.Commit();
        }
        reader.Begin();
        reader.Insert(StockRow(3001, GroupOf('K'), 2));
        reader.WriteTableHeader();
        reader.Commit();

        std::map<int32_t, TStockRow> rows;
        EXPECT_EQ(CheckStock(path, rows), "");
        EXPECT_EQ(rows.size(), 22u);
        EXPECT_EQ(rows.count(1001), 0u);
        EXPECT_EQ(rows.count(2001), 1u);
        EXPECT_EQ(rows.count(3001), 1u);
    }
}

// B updates row 1 in place (no header value changes, so B does not write the header) while A
// holds the row's page in its cache; A must read the new quantity once it locks the table again.
TEST(SharedFileTest, AChangeThatLeavesTheHeaderValuesAloneStillReachesOtherConnections) {
    const struct {
        const char* Name;
        const char* Steps;
    } cases[] = {{"committed transaction", "buhc"}, {"write lock released", "wuhx"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TempDir dir;
        const std::string path = dir.File("stock.orq");
        PrepareStock(path, 20);
        TStockTable reader(path);
        reader.Open();
        reader.Lock(CReadLock);
        const int32_t before = reader.Get(1).Qty;
        reader.Unlock();
        {
            TScriptedConnection writer(path, 300001);
            ASSERT_EQ(writer.Steps(c.Steps), '+');
        }
        reader.Lock(CReadLock);
        EXPECT_EQ(reader.Get(1).Qty, before + 1);
        reader.Unlock();
    }
}

// The rule in numbers: the stored modification counter moves on once for every commit that
// changed the table, whoever wrote the header, and not for a commit that did not or a rollback.
TEST(SharedFileTest, EveryCommitThatChangedTheTableMovesItsHeaderCounterOnce) {
    enum TEnd { Commit, ForceThenRollback, Rollback };
    const struct {
        const char* Name;
        bool ChangeRows;
        bool WriteHeader;
        TEnd End;
        uint32_t Moves;
    } cases[] = {
        {"rows changed, header written", true, true, Commit, 1},
        {"rows changed, header left alone", true, false, Commit, 1},
        {"nothing changed", false, false, Commit, 0},
        {"rows changed, forced to disk, then rolled back", true, false, ForceThenRollback, 1},
        {"rows changed, rolled back", true, true, Rollback, 0},
    };
    test::TempDir dir;
    const std::string path = dir.File("stock.orq");
    PrepareStock(path, 20);
    TStockTable table(path);
    table.Open();
    int32_t qty = 1000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        table.Lock(CReadLock);
        const uint32_t before = table.Header().GetModifiedFlag();
        table.Unlock();
        table.Begin();
        if (c.ChangeRows) table.Update(StockRow(1, GroupOf('B'), ++qty));
        if (c.WriteHeader) table.Header().WriteHeader();
        if (c.End == Commit) {
            table.Commit();
        } else {
            if (c.End == ForceThenRollback) table.Disk().ForceToDisk();
            table.Rollback();
            // What the connection holds of a header that the rollback undid is not trusted.
            EXPECT_EQ(table.Header().Forgotten(), c.End == Rollback);
            EXPECT_FALSE(table.Header().Dirty());
        }
        EXPECT_TRUE(table.Disk().TablesOwingHeaders().empty());
        table.Lock(CReadLock);
        EXPECT_EQ(table.Header().GetModifiedFlag() - before, c.Moves);
        table.Unlock();
    }
}

}  // namespace

namespace tabletest {
// A row in a failure message.
void PrintTo(const TStockRow& Row, std::ostream* Out) {
    *Out << Row.ID << "/" << Row.Group << "/" << Row.Qty;
}
}  // namespace tabletest

namespace {

// Runs Body in a child process (another connection); its exit code, 0 when Body returned.
int InChild(const std::function<void()>& Body) {
    Child child([&](Child&) {
        try {
            Body();
        } catch (...) {
            return 1;
        }
        return 0;
    });
    return child.Wait();
}

// The rows 1 to Count as the connection reads them under a read lock.
std::vector<TStockRow> ReadStock(TStockTable& Table, int32_t Count) {
    std::vector<TStockRow> rows;
    Table.Lock(CReadLock);
    for (int32_t id = 1; id <= Count; ++id) rows.push_back(Table.Get(id));
    Table.Unlock();
    return rows;
}

// Our connection reads the table, closes it and opens it again: unchanged, its pages come from
// the cache. Between a close and the next open another connection commits a change, then drops
// the table and makes it again with other rows (the same identifier, header address and change
// counter as the table our connection last saw, on the pages it freed): we read the new rows
// every time, plain or encrypted (the cache holds decrypted pages).
TEST(SharedFileTest, AClosedTableKeepsItsCachedPagesOnlyWhileNobodyChangesIt) {
    constexpr int32_t Count = 300;
    for (const TEncryptionLevel level : {encNone, encWeak, encStrong}) {
        SCOPED_TRACE(CEncryptionLevelNames[level]);
        test::TempDir dir;
        const std::string path = dir.File("stock.orq");
        PrepareStock(path, Count, level);
        std::vector<TStockRow> expected;
        for (int32_t id = 1; id <= Count; ++id) expected.push_back(BaseRow(id));

        TStockTable us(path, level);
        TCacheMgr& cache = us.Disk().File().PageCache();
        us.Open();
        ASSERT_EQ(ReadStock(us, Count), expected);
        us.Close();
        EXPECT_GT(cache.ParkedCount(), 0);
        const int32_t misses = cache.Misses();
        us.Open();
        ASSERT_EQ(ReadStock(us, Count), expected);
        EXPECT_EQ(cache.Misses(), misses) << "unchanged, the table's pages are still cached";
        us.Close();

        // Another connection commits: every third row gets another group and quantity.
        ASSERT_EQ(InChild([&] {
                      TStockTable other(path, level);
                      other.Open();
                      other.Begin();
                      for (int32_t id = 1; id <= Count; id += 3) other.Update(StockRow(id, GroupOf('Q'), id + 5000));
                      other.WriteTableHeader();
                      other.Commit();
                  }),
                  0);
        for (int32_t id = 1; id <= Count; id += 3) expected[std::size_t(id - 1)] = StockRow(id, GroupOf('Q'), id + 5000);
        us.Open();
        ASSERT_EQ(ReadStock(us, Count), expected);
        us.Lock(CReadLock);
        const uint32_t counter = us.Header().GetModifiedFlag();
        const uint32_t address = us.Header().BaseAddress();
        us.Unlock();
        us.Close();

        // Dropped and made again: other rows on the freed pages, the header where it was and its
        // counter brought to the one our connection holds.
        ASSERT_EQ(InChild([&] {
                      TStockTable other(path, level);
                      other.Drop();
                      other.Create();
                      other.Open();
                      other.Begin();
                      for (int32_t id = 1; id <= Count; ++id) other.Insert(StockRow(id, GroupOf('N'), 9000 - id));
                      other.WriteTableHeader();
                      other.Commit();
                      other.Begin();
                      while (other.Header().GetModifiedFlag() < counter) other.Header().WriteHeader();
                      other.Commit();
                      if (other.Header().GetModifiedFlag() != counter || other.Header().BaseAddress() != address)
                          throw Exception("the new table does not look like the old one");
                  }),
                  0);
        for (int32_t id = 1; id <= Count; ++id) expected[std::size_t(id - 1)] = StockRow(id, GroupOf('N'), 9000 - id);
        us.Open();
        EXPECT_EQ(ReadStock(us, Count), expected);
        us.Close();
        std::map<int32_t, TStockRow> rows;
        EXPECT_EQ(CheckStock(path, rows, level), "");
    }
}

// Against a model: between two opens of the table by our connection, another connection makes a
// random change (rows updated, added, deleted; the table dropped and made again with other rows,
// its counter brought to the one we last saw; or nothing); we read every row, under a read lock
// or in a transaction, and must see the model.
TEST(SharedFileTest, ReopenedTablesMatchAModelOfAnotherConnectionsChanges) {
    test::TempDir dir;
    const std::string path = dir.File("stock.orq");
    const TEncryptionLevel level = encWeak;
    PrepareStock(path, 120, level);
    std::map<int32_t, TStockRow> model;
    for (int32_t id = 1; id <= 120; ++id) model[id] = BaseRow(id);
    TStockTable us(path, level);
    int32_t nextID = 1000;
    uint32_t counter = 0;
    for (uint32_t round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        us.Open();
        if (round % 3 == 0) us.Begin(); else us.Lock(CReadLock);
        std::map<int32_t, TStockRow> seen;
        for (const auto& [id, row] : model) seen[id] = us.Get(id);
        EXPECT_EQ(seen, model);
        counter = us.Header().GetModifiedFlag();
        if (round % 3 == 0) us.Commit(); else us.Unlock();
        us.Close();

        // The change, drawn the same way on both sides.
        std::mt19937 random(round);
        const int kind = int(random() % 4);  // 1 dropped and made again, 2 nothing, 0 and 3 rows changed
        std::map<int32_t, TStockRow> next = model;
        std::vector<std::pair<char, TStockRow>> steps;  // 'u'pdate, 'i'nsert, 'd'elete
        if (kind == 1) {
            next.clear();
            for (int32_t k = 0, n = 20 + int32_t(random() % 150); k < n; ++k) {
                const TStockRow row = StockRow(nextID++, GroupOf(char('A' + random() % 26)), int32_t(random() % 1000));
                next[row.ID] = row;
            }
        } else if (kind != 2) {
            for (int k = 0, n = 1 + int(random() % 40); k < n; ++k) {
                const int what = int(random() % 3);
                auto it = next.begin();
                if (!next.empty()) std::advance(it, random() % next.size());
                if (what == 0 && it != next.end()) {
                    const TStockRow row = StockRow(it->first, GroupOf(char('A' + random() % 26)), int32_t(random() % 1000));
                    steps.emplace_back('u', row);
                    it->second = row;
                } else if (what == 1 || it == next.end()) {
                    const TStockRow row = StockRow(nextID++, GroupOf(char('A' + random() % 26)), int32_t(random() % 1000));
                    steps.emplace_back('i', row);
                    next[row.ID] = row;
                } else {
                    steps.emplace_back('d', it->second);
                    next.erase(it);
                }
            }
        }
        ASSERT_EQ(InChild([&] {
                      TStockTable other(path, level);
                      if (kind == 1) {
                          other.Drop();
                          other.Create();
                      }
                      other.Open();
                      other.Begin();
                      if (kind == 1) {
                          for (const auto& [id, row] : next) other.Insert(row);
                      } else {
                          for (const auto& [what, row] : steps) {
                              if (what == 'u') other.Update(row);
                              if (what == 'i') other.Insert(row);
                              if (what == 'd') other.Delete(row.ID);
                          }
                      }
                      other.WriteTableHeader();
                      other.Commit();
                      if (kind == 1) {
                          other.Begin();
                          while (other.Header().GetModifiedFlag() < counter) other.Header().WriteHeader();
                          other.Commit();
                      }
                  }),
                  0);
        model = next;
    }
    std::map<int32_t, TStockRow> rows;
    EXPECT_EQ(CheckStock(path, rows, level), "");
    EXPECT_EQ(rows, model);
}

// Inside a transaction the table's lock is held to the end: a table closed and opened again,
// and locked again, under it reads neither the table map nor the header. Once the transaction
// has given the lock back, the header is read again and another connection's commit is seen.
TEST(SharedFileTest, UnderAHeldLockATableReopensWithoutReadingItsHeader) {
    constexpr int32_t Count = 50;
    test::TempDir dir;
    const std::string path = dir.File("stock.orq");
    PrepareStock(path, Count);
    TStockTable us(path);
    us.Open();
    us.Begin();
    ASSERT_EQ(us.Get(7), BaseRow(7));
    const uint64_t proof = us.Disk().HeaderProof(us.TableID());
    EXPECT_NE(proof, 0u);
    {
        test::FileOpCounter reads(path, platform::FileOp::Read);
        platform::ScopedFileFaultInjector scope(reads);
        for (int i = 0; i < 3; ++i) {
            us.Close();
            us.Open();
            us.Lock(CReadLock);
            ASSERT_EQ(us.Get(7), BaseRow(7));
        }
        EXPECT_EQ(reads.Count, 0);
    }
    us.Update(StockRow(7, GroupOf('B'), 77));
    us.Header().WriteHeader();
    EXPECT_NE(us.Disk().HeaderProof(us.TableID()), proof) << "a write of the header voids what was read before";
    EXPECT_EQ(us.Header().Proof(), us.Disk().HeaderProof(us.TableID())) << "but not what was written";
    us.Close();
    us.Open();
    us.Lock(CReadLock);
    EXPECT_EQ(us.Get(7), StockRow(7, GroupOf('B'), 77)) << "the header as this connection changed it";
    us.WriteTableHeader();
    us.Commit();
    EXPECT_EQ(us.Disk().HeaderProof(us.TableID()), 0u) << "the lock went with the transaction";
    us.Close();

    ASSERT_EQ(InChild([&] {
                  TStockTable other(path);
                  other.Open();
                  other.Begin();
                  other.Update(StockRow(7, GroupOf('C'), 707));
                  other.Insert(StockRow(Count + 1, GroupOf('C'), 1));
                  other.WriteTableHeader();
                  other.Commit();
              }),
              0);
    us.Open();
    us.Begin();
    EXPECT_EQ(us.Get(7), StockRow(7, GroupOf('C'), 707));
    EXPECT_EQ(us.Get(Count + 1), StockRow(Count + 1, GroupOf('C'), 1));
    EXPECT_EQ(us.Header().GetLogicalRecordNo(), uint32_t(Count + 1));
    us.Commit();
}

}  // namespace
}  // namespace ostra
