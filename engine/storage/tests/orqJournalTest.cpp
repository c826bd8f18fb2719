// The rollback journal: its name, its byte layout, the journals it refuses to replay (cut short,
// torn, stale, of another page size), replaying one, and the recovery of a commit that a killed
// process left: at open, by a connection that was already open, under the locks of other
// connections, never from a read-only connection, never while the journal's lock is held.
#include "engine/storage/orqJournal.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/DiskTestSupport.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;

TEST(JournalNameTest, FollowsTheLockFileRule) {
    EXPECT_EQ(GetJournalFileName("/d/Shop.orq"), "/d/Shop.orj");
    EXPECT_EQ(GetJournalFileName("/d/SHOP.ORQ"), "/d/SHOP.orj");
    EXPECT_EQ(GetJournalFileName("/d/Shop.db"), "/d/Shop_db.orj");
    EXPECT_EQ(GetJournalFileName("/x/a.b.c"), "/x/a_b_c.orj");
    EXPECT_EQ(GetJournalFileName("Shop"), "Shop.orj");
}

// Opens Path for reading and writing (a database stand-in for the journal's own calls).
platform::File OpenRaw(const std::string& Path) {
    platform::File file;
    if (!file.Open(Path, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                   platform::FileCreate::OpenAlways))
        throw Exception("cannot open " + Path);
    return file;
}

class JournalFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        Original = std::string(3 * PS, '\0');
        for (std::size_t i = 0; i < Original.size(); ++i) Original[i] = char(i * 7 + i / 300);
        test::WriteAll(DbPath, Original);
        Database = OpenRaw(DbPath);
    }
    // Writes the journal of a commit over 50 bytes at 100, page 1 (and 10 bytes beyond the end).
    void WriteJournal(TOrqJournal& Journal) {
        const std::vector<TFileRange> ranges = {{100, 50}, {PS, PS}, {3 * PS - 4, 14}};
        Journal.Write(Database, PS, 3 * PS, ranges);
    }
    TJournalState InspectBytes(const std::string& Bytes, uint32_t PageSize = PS) {
        test::WriteAll(JournalPath, Bytes);
        TOrqJournal journal(JournalPath);
        return journal.Inspect(PageSize, false);
    }
    // The journal bytes with a header item changed and the header CRC made right again.
    static std::string WithHeaderItem(std::string Bytes, std::size_t Offset, uint32_t Value) {
        PutU32(Bytes, Offset, Value);
        PutU32(Bytes, 60, CalcCRC(Bytes.data(), 60));
        return Bytes;
    }

    test::TempDir Dir;
    std::string DbPath = Dir.File("db.orq");
    std::string JournalPath = Dir.File("db.orj");
    std::string Original;
    platform::File Database;
};

TEST_F(JournalFormatTest, LayoutIsTheOffsetTable) {
    TOrqJournal journal(JournalPath);
    WriteJournal(journal);
    const std::string bytes = test::ReadAll(JournalPath);
    // Records: 50 bytes at 100, the page at 4096, the 4 bytes of the last range inside the file.
    ASSERT_EQ(bytes.size(), 64u + (16 + 50) + (16 + PS) + (16 + 4));
    EXPECT_EQ(bytes.substr(0, 8), std::string("ORQJRNL\x1A", 8));
    EXPECT_EQ(U32(bytes, 8), 1u);
    EXPECT_EQ(U32(bytes, 12), PS);
    EXPECT_EQ(U32(bytes, 16), 3 * PS);
    EXPECT_EQ(U32(bytes, 24), 3 * PS + 10);  // CommitEnd: the last range reaches beyond the file
    EXPECT_EQ(U32(bytes, 32) | uint64_t(U32(bytes, 36)) << 32, journal.Nonce());
    EXPECT_EQ(U32(bytes, 40), 3u);
    EXPECT_EQ(U32(bytes, 48), bytes.size());
    EXPECT_EQ(U32(bytes, 60), CalcCRC(bytes.data(), 60));
    EXPECT_EQ(U32(bytes, 64), 100u);
    EXPECT_EQ(U32(bytes, 72), 50u);
    EXPECT_EQ(bytes.substr(80, 50), Original.substr(100, 50));
    // The record CRC covers the record with the nonce's salt in its place.
    std::string record = bytes.substr(64, 66);
    const uint32_t salt = uint32_t(journal.Nonce()) ^ uint32_t(journal.Nonce() >> 32);
    PutU32(record, 12, salt);
    EXPECT_EQ(U32(bytes, 76), CalcCRC(record.data(), int(record.size())));
    EXPECT_EQ(U32(bytes, 64 + 66 + 16 + PS), 3 * PS - 4);
    EXPECT_EQ(journal.Inspect(PS, true), jsValid);

    // Committed: a zero header, which no longer validates; deleting removes the file.
    journal.Invalidate();
    EXPECT_EQ(test::ReadAll(JournalPath).substr(0, 64), std::string(64, '\0'));
    EXPECT_EQ(journal.Inspect(PS, false), jsInvalid);
    EXPECT_TRUE(journal.Delete());
    EXPECT_EQ(journal.Inspect(PS, false), jsMissing);
}

TEST_F(JournalFormatTest, CutShortTornStaleOrForeignJournalsAreNotReplayed) {
    {
        TOrqJournal journal(JournalPath);
        WriteJournal(journal);
    }
    const std::string good = test::ReadAll(JournalPath);
    // Another commit's journal over the same ranges: its records under this header are stale.
    std::string stale;
    {
        TOrqJournal other(JournalPath);
        WriteJournal(other);
        stale = test::ReadAll(JournalPath);
    }
    ASSERT_NE(stale.substr(32, 8), good.substr(32, 8));
    std::string staleRecords = good.substr(0, 64) + stale.substr(64);

    std::string flipped = good;
    flipped[64 + 16 + 10] ^= 1;
    std::string recordBeyondOldSize = WithHeaderItem(good, 16, 2 * PS);
    struct Case {
        const char* Name;
        std::string Bytes;
        TJournalState State;
    };
    const Case cases[] = {
        {"valid", good, jsValid},
        {"empty", "", jsInvalid},
        {"header only", good.substr(0, 64), jsInvalid},
        {"cut short by one byte", good.substr(0, good.size() - 1), jsInvalid},
        {"records without a header", std::string(64, '\0') + good.substr(64), jsInvalid},
        {"a flipped data byte", flipped, jsInvalid},
        {"a flipped header byte", WithHeaderItem(good, 16, 3 * PS).replace(20, 1, 1, '\x01'), jsInvalid},
        {"records of another commit", staleRecords, jsInvalid},
        {"one record more than there is", WithHeaderItem(good, 40, 4), jsInvalid},
        {"a record beyond the old file length", recordBeyondOldSize, jsInvalid},
        {"another version", WithHeaderItem(good, 8, 2), jsInvalid},
        {"another page size", WithHeaderItem(good, 12, 2 * PS), jsOtherPageSize},
        {"longer than the journal size says", good + std::string(100, 'x'), jsValid},
    };
    for (const Case& c : cases) EXPECT_EQ(InspectBytes(c.Bytes), c.State) << c.Name;
    platform::DeleteFile(JournalPath);
    TOrqJournal missing(JournalPath);
    EXPECT_EQ(missing.Inspect(PS, false), jsMissing);
}

TEST_F(JournalFormatTest, ReplayWritesTheOldBytesBackAndCutsTheFile) {
    TOrqJournal journal(JournalPath);
    WriteJournal(journal);
    // What the commit would do: new bytes in the ranges, the file extended.
    const std::string fresh(PS + 200, 'N');
    Database.Write(100, fresh.data(), 50);
    Database.Write(PS, fresh.data(), PS);
    Database.Write(3 * PS - 4, fresh.data(), 14);
    Database.Write(4 * PS, fresh.data(), 200);
    ASSERT_NE(test::ReadAll(DbPath), Original);

    TOrqJournal found(JournalPath);
    ASSERT_EQ(found.Inspect(PS, true), jsValid);
    EXPECT_EQ(found.Nonce(), journal.Nonce());
    EXPECT_EQ(found.OldFileSize(), 3 * PS);
    EXPECT_EQ(found.RecordCount(), 3u);
    found.Replay(Database);
    EXPECT_TRUE(test::ReadAll(DbPath) == Original);

    // RollBack after a failed invalidation makes the header valid again first.
    Database.Write(PS, fresh.data(), PS);
    journal.Invalidate();
    journal.RollBack(Database);
    EXPECT_TRUE(test::ReadAll(DbPath) == Original);
    EXPECT_EQ(found.Inspect(PS, false), jsValid);
}

// ---------------------------------------------------------------------------------------------
// Recovery of a commit that a killed process left

// Kills the process just before the N-th write to a file whose name ends in ".orq".
class TKillAtDatabaseWrite : public platform::FileFaultInjector {
public:
    explicit TKillAtDatabaseWrite(int N) : FN(N) {}
    platform::FileFault Decide(platform::FileOp Op, const std::string& Path, int64_t, int64_t) override {
        if (Op == platform::FileOp::Write && Path.size() > 4 &&
            Path.compare(Path.size() - 4, 4, ".orq") == 0 && ++FCount == FN)
            ::kill(::getpid(), SIGKILL);
        return {};
    }

private:
    int FN;
    int FCount = 0;
};

class RecoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDatabase(Path);
        auto disk = OpenDatabase(Path);
        disk->WriteNewPages(1, 1, CUsageRecord, 1, Pages(1, 0xB0).data());  // page 6
        disk->Close();
        Before = test::ReadAll(Path);
    }
    // A child rewrites page 6, allocates page 7 and changes the header, and is killed just before
    // the DatabaseWrite-th write of its commit to the database: 1 leaves the file untouched, 2
    // leaves page 6 new and the rest old.
    void InterruptCommit(int DatabaseWrite) {
        test::Child child([&](test::Child&) {
            auto disk = OpenDatabase(Path);
            disk->DiskStartTransaction(false);
            disk->SetTableLock(1, CWriteLock);
            disk->WritePages(6 * PS, 1, 1, 1, Pages(1, 0xC1).data());
            disk->WriteNewPages(2, 1, CUsageRecord, 1, Pages(1, 0xC2).data());
            TKillAtDatabaseWrite kill(DatabaseWrite);
            platform::ScopedFileFaultInjector scope(kill);
            disk->DiskCommit();
            return 0;
        });
        ASSERT_EQ(child.Wait(), 128 + SIGKILL);
        ASSERT_TRUE(platform::FileExists(JournalPath));
    }

    test::TempDir Dir;
    std::string Path = Dir.File("db.orq");
    std::string JournalPath = Dir.File("db.orj");
    std::string Before;
};

TEST_F(RecoveryTest, OpenRestoresTheFileButAReadOnlyOpenIsRefused) {
    InterruptCommit(2);
    const std::string torn = test::ReadAll(Path);
    ASSERT_NE(torn, Before);
    EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path, fmOpenRead | fmShareDenyNone); }), 10501);
    EXPECT_NE(ErrorText([&] {
                  OpenDatabase(Path, fmOpenRead | fmShareDenyNone);
              }).find("must be recovered from an interrupted commit"),
              std::string::npos);
    EXPECT_TRUE(test::ReadAll(Path) == torn);
    EXPECT_TRUE(platform::FileExists(JournalPath));
    // A file with the read-only attribute (no lock file) cannot be recovered either.
    ASSERT_TRUE(platform::FileSetReadOnly(Path, true));
    EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path, fmOpenRead | fmShareDenyNone); }), 10501);
    ASSERT_TRUE(platform::FileSetReadOnly(Path, false));
    EXPECT_TRUE(test::ReadAll(Path) == torn);

    auto disk = OpenDatabase(Path);
    EXPECT_FALSE(platform::FileExists(JournalPath));
    EXPECT_TRUE(test::ReadAll(Path) == Before);
    EXPECT_EQ(disk->DebugCheckStatus(), "");
    // The connection goes on as usual: page 7 is appended again.
    EXPECT_EQ(disk->WriteNewPages(2, 1, CUsageRecord, 1, Pages(1, 0xD2).data()), 7 * PS);
}

TEST_F(RecoveryTest, AConnectionOpenBeforeTheCrashRecoversBeforeItReads) {
    auto live = OpenDatabase(Path);
    std::vector<uint8_t> page(PS);
    live->ReadPages(6 * PS, 1, 1, 1, page.data());  // cached: the old page
    InterruptCommit(2);
    // Its next lock finds the journal and replays it before anything is read under the lock.
    live->SetTableLock(1, CReadLock);
    EXPECT_FALSE(platform::FileExists(JournalPath));
    EXPECT_TRUE(test::ReadAll(Path) == Before);
    live->ReadPages(6 * PS, 1, 1, 1, page.data());
    EXPECT_EQ(page, Pages(1, 0xB0));
    live->ReleaseTableLock(1);
    // Its header and map are the file's again: page 7 is free for it.
    EXPECT_EQ(live->WriteNewPages(3, 1, CUsageRecord, 1, Pages(1, 0xE3).data()), 7 * PS);
    live->Close();
    EXPECT_TRUE(ReadRange(Path, 6 * PS, PS) == std::string(PS, char(0xB0)));
    EXPECT_TRUE(ReadRange(Path, 7 * PS, PS) == std::string(PS, char(0xE3)));
}

TEST_F(RecoveryTest, ACommitAfterTheCrashUndoesTheDeadCommitFirst) {
    auto live = OpenDatabase(Path);
    live->DiskStartTransaction(false);
    EXPECT_EQ(live->SetTableLock(5, CWriteLock), CReadLock);
    live->WriteCustomSize(PS + 100, 8, 0, 0, "livelive");
    InterruptCommit(2);
    live->DiskCommit();
    EXPECT_FALSE(platform::FileExists(JournalPath));
    std::string expected = Before;
    expected.replace(PS + 100, 8, "livelive");
    EXPECT_TRUE(test::ReadAll(Path) == expected);
}

TEST_F(RecoveryTest, RecoveryWaitsForTheTableLocksOfOtherConnections) {
    auto live = OpenDatabase(Path, SharedRW, 2);
    live->SetTableLock(5, CReadLock);
    InterruptCommit(2);
    // A new connection cannot keep the live one out while it replays: it gives up.
    EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path, SharedRW, 2); }), 10249);
    EXPECT_TRUE(platform::FileExists(JournalPath));
    // The live connection itself can: it holds its own lock, and everything else is free.
    live->SetTableLock(6, CReadLock);
    EXPECT_FALSE(platform::FileExists(JournalPath));
    EXPECT_TRUE(test::ReadAll(Path) == Before);
    live->ReleaseAllLocks();
    auto opened = OpenDatabase(Path);
    EXPECT_EQ(opened->DebugCheckStatus(), "");
}

TEST_F(RecoveryTest, AJournalWhoseLockIsHeldBelongsToALiveCommit) {
    InterruptCommit(1);  // journaled, the file untouched
    ASSERT_TRUE(test::ReadAll(Path) == Before);
    const std::string journal = test::ReadAll(JournalPath);
    {
        platform::File committer = OpenRaw(Path);
        ASSERT_TRUE(committer.Lock(CJournalLockAddress, 1));
        auto disk = OpenDatabase(Path);
        disk->SetHeaderReadLock();
        disk->ReleaseHeaderLock();
        EXPECT_EQ(test::ReadAll(JournalPath), journal);
        disk->Close();
    }
    // Its lock is free now: the journal is replayed (writing back what is there) and removed.
    auto disk = OpenDatabase(Path);
    EXPECT_FALSE(platform::FileExists(JournalPath));
    EXPECT_TRUE(test::ReadAll(Path) == Before);
}

TEST_F(RecoveryTest, ForeignAndLeftoverJournals) {
    // A journal of another page size is not this file's: the open refuses.
    {
        platform::File database = OpenRaw(Path);
        TOrqJournal journal(JournalPath);
        journal.Write(database, 2 * PS, int64_t(Before.size()), {{0, 100}});
    }
    EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path); }), 8451);
    // A new file of that name removes whatever journal an earlier file left.
    CreateDatabase(Path);
    EXPECT_FALSE(platform::FileExists(JournalPath));
    // An invalid journal is removed by the next open and changes nothing.
    test::WriteAll(JournalPath, std::string(200, 'x'));
    const std::string created = test::ReadAll(Path);
    auto disk = OpenDatabase(Path);
    EXPECT_FALSE(platform::FileExists(JournalPath));
    EXPECT_TRUE(test::ReadAll(Path) == created);
}

}  // namespace
}  // namespace ostra
