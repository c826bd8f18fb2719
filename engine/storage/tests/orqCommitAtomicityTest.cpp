// A commit is atomic: one transaction that rewrites pages (plain and encrypted), writes a partial
// page and raw byte ranges, allocates page runs (reused and appended), releases a run and changes
// the global header is
//   - killed in a child process before every write, flush and size change of its commit (the
//     crash harness), after which a fresh open finds the file exactly as before or as after;
//   - failed by an injected error at every file call of its commit, after which the error is
//     raised, the file is as before, no journal is left and the connection commits the same
//     transaction cleanly next time;
// the journal's folder is flushed after the journal is written, and after it is deleted only
// while it may still be valid; and a journal that cannot be deleted after the commit point leaves
// the commit in place.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>

#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/CrashHarness.h"
#include "support/DiskTestSupport.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;
using crashtest::TCrashState;
using crashtest::TCrashVerdict;

// The tables of the workload: id, access flags, usage.
struct TTableUse {
    uint16_t ID;
    uint32_t Flags;
    uint16_t Usage;
    uint16_t Owner() const { return uint16_t(ID << 4 | Usage); }
};
constexpr TTableUse T1{1, 1, CUsageRecord}, T2{2, 3, CUsageIndex}, T3{3, 5, CUsageBlob},
    T4{4, 1, CUsageRecord}, T5{5, 5, CUsageBlob};

// A page as the workload writes it: owner word, version, page number, then a pattern of them.
std::vector<uint8_t> PageContent(const TTableUse& Table, uint8_t Version, uint32_t Page) {
    std::vector<uint8_t> bytes(PS);
    for (uint32_t i = 0; i < PS; ++i)
        bytes[i] = uint8_t(Table.Owner() * 31 + Version * 7 + Page * 13 + i * 5 + i / 251);
    bytes[0] = uint8_t(Table.Owner());
    bytes[1] = uint8_t(Table.Owner() >> 8);
    bytes[2] = Version;
    bytes[3] = uint8_t(Page);
    return bytes;
}

std::vector<uint8_t> RunContent(const TTableUse& Table, uint8_t Version, uint32_t FirstPage, uint32_t Count) {
    std::vector<uint8_t> bytes;
    for (uint32_t page = FirstPage; page < FirstPage + Count; ++page) {
        const auto one = PageContent(Table, Version, page);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

std::string Definition(uint8_t Version) {
    std::string bytes(254, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(Version * 17 + i);
    return bytes;
}

const std::string TableMapBytes(64, char(0x5A));
constexpr uint32_t PartialPage = 12, PartialOffset = 100, PartialSize = 300;

// What each page holds in one state: the table (none = free) and the version of its content.
struct TPageModel {
    const TTableUse* Table;
    uint8_t Version;
};

std::map<uint32_t, TPageModel> Model(TCrashState State) {
    std::map<uint32_t, TPageModel> pages;
    const bool after = State == TCrashState::After;
    for (uint32_t p : {6, 7, 8}) pages[p] = {&T1, uint8_t(after ? 1 : 0)};
    for (uint32_t p : {9, 10}) pages[p] = {after ? &T4 : nullptr, 1};
    pages[11] = {nullptr, 0};
    for (uint32_t p : {12, 13, 14}) pages[p] = {&T1, 0};
    for (uint32_t p : {15, 16}) pages[p] = {&T2, uint8_t(after ? 1 : 0)};
    for (uint32_t p : {17, 18}) pages[p] = {&T2, 0};
    for (uint32_t p : {19, 20}) pages[p] = {after ? nullptr : &T3, 0};
    if (after)
        for (uint32_t p : {21, 22, 23}) pages[p] = {&T5, 1};
    return pages;
}

// An open disk manager on Path with the default strong key (for the Blowfish pages).
std::unique_ptr<TDiskMgr> Open(const std::string& Path) {
    auto disk = OpenDatabase(Path);
    disk->SetCryptKey("");
    return disk;
}

// The transaction's changes, made on an open database.
void MakeChanges(TDiskMgr& Disk) {
    Disk.DiskStartTransaction(false);
    for (uint16_t table : {1, 2, 3, 4, 5}) Disk.SetTableLock(table, CWriteLock);
    Disk.WritePages(6 * PS, 3, T1.ID, T1.Flags, RunContent(T1, 1, 6, 3).data());
    const auto partial = PageContent(T1, 1, PartialPage);
    Disk.WriteCustomSize(PartialPage * PS + PartialOffset, PartialSize, T1.ID, T1.Flags,
                         partial.data() + PartialOffset);
    Disk.WritePages(15 * PS, 2, T2.ID, T2.Flags, RunContent(T2, 1, 15, 2).data());
    if (Disk.WriteNewPages(T4.ID, T4.Flags, T4.Usage, 2, RunContent(T4, 1, 9, 2).data()) != 9 * PS)
        throw Exception("the free run was not reused");
    if (Disk.WriteNewPages(T5.ID, T5.Flags, T5.Usage, 3, RunContent(T5, 1, 21, 3).data()) != 21 * PS)
        throw Exception("the run was not appended");
    Disk.ReleasePages(19 * PS, 2);
    Disk.WriteCustomSize(0, 254, 0, 0, Definition(1).data());
    Disk.WriteCustomSize(PS + 40, uint32_t(TableMapBytes.size()), 0, 0, TableMapBytes.data());
    Disk.SetHeaderWriteLock();
    Disk.GlobalHdr()->SetTableHeadersFirstEmpty(0x3333);
    Disk.GlobalHdr()->SetSystemHeadersFirstEmpty(0x4444);
    Disk.ReleaseHeaderLock();
}

// The database the transaction starts from.
void PrepareDatabase(const std::string& Path) {
    CreateDatabase(Path);
    auto disk = Open(Path);
    auto allocate = [&](const TTableUse& Table, uint32_t Page, uint32_t Count) {
        if (disk->WriteNewPages(Table.ID, Table.Flags, Table.Usage, Count,
                                RunContent(Table, 0, Page, Count).data()) != Page * PS)
            throw Exception("unexpected page address");
    };
    allocate(T1, 6, 3);
    allocate(T1, 9, 3);
    allocate(T1, 12, 3);
    allocate(T2, 15, 2);
    allocate(T2, 17, 2);
    allocate(T3, 19, 2);
    disk->ReleasePages(9 * PS, 3);
    disk->WriteCustomSize(0, 254, 0, 0, Definition(0).data());
    disk->SetHeaderWriteLock();
    disk->GlobalHdr()->SetTableHeadersFirstEmpty(0x1111);
    disk->GlobalHdr()->SetIndexesFirstEmpty(0x2222);
    disk->ReleaseHeaderLock();
    disk->Close();
}

// Opens the database afresh and checks that everything in it belongs to one state: the one its
// global header claims. Also the storage structure, and the bytes against the snapshots.
TCrashVerdict CheckDatabase(const std::string& Path, const crashtest::TCrashSnapshots* Snapshots) {
    std::string problems;
    auto problem = [&](const std::string& Text) { problems += (problems.empty() ? "" : "; ") + Text; };
    TCrashState state = TCrashState::Broken;
    {
        auto disk = Open(Path);
        disk->SetHeaderReadLock();
        const uint32_t tableHeaders = disk->GlobalHdr()->TableHeadersFirstEmpty();
        const uint32_t systemHeaders = disk->GlobalHdr()->SystemHeadersFirstEmpty();
        const uint32_t indexes = disk->GlobalHdr()->IndexesFirstEmpty();
        disk->ReleaseHeaderLock();
        if (tableHeaders == 0x1111) state = TCrashState::Before;
        if (tableHeaders == 0x3333) state = TCrashState::After;
        if (state == TCrashState::Broken) return {state, "the global header is from neither state"};
        const bool after = state == TCrashState::After;
        if (systemHeaders != (after ? 0x4444u : 0u) || indexes != 0x2222)
            problem("header items of both states");

        std::string definition(254, '\0');
        disk->ReadCustomSize(0, 254, 0, 0, definition.data());
        if (definition != Definition(after ? 1 : 0)) problem("the definition record is from the other state");
        std::string tableMap(TableMapBytes.size(), '\0');
        disk->ReadCustomSize(PS + 40, uint32_t(tableMap.size()), 0, 0, tableMap.data());
        if ((tableMap == TableMapBytes) != after) problem("the table map range is from the other state");

        std::vector<uint8_t> page(PS);
        for (const auto& [number, model] : Model(state)) {
            if (!model.Table) continue;
            disk->ReadPages(number * PS, 1, model.Table->ID, model.Table->Flags, page.data());
            std::vector<uint8_t> expected = PageContent(*model.Table, model.Version, number);
            if (number == PartialPage && after) {
                const auto partial = PageContent(T1, 1, PartialPage);
                std::copy_n(partial.begin() + PartialOffset, PartialSize, expected.begin() + PartialOffset);
            }
            if (page != expected)
                problem("page " + std::to_string(number) + " is not its owner's content of this state");
        }
        disk->Close();
    }
    const std::string bytes = test::ReadAll(Path);
    const auto model = Model(state);
    if (bytes.size() != (model.rbegin()->first + 1) * uint64_t(PS))
        problem("the file has the other state's length");
    for (const crashtest::TMapEntry& entry : crashtest::ReadMapEntries(bytes, PS)) {
        auto it = model.find(entry.Address / PS);
        if (it == model.end()) continue;
        const bool ok =
            it->second.Table ? entry.Entry == it->second.Table->Owner() : (entry.Entry & CMapEntryFree) != 0;
        if (!ok) problem("the map entry of page " + std::to_string(it->first) + " is not its owner's");
    }
    const std::string structure = crashtest::CheckStorageStructure(bytes, PS);
    if (!structure.empty()) problem(structure);
    if (Snapshots) {
        const TCrashVerdict bytesVerdict = crashtest::ClassifyBytes(bytes, *Snapshots);
        if (bytesVerdict.State != state)
            problem("the bytes are not the state the header claims: " + bytesVerdict.Problem);
    }
    return {state, problems};
}

class TStorageWorkload : public crashtest::TCrashWorkload {
public:
    void Prepare(const std::string& Path) override { PrepareDatabase(Path); }
    void Run(const std::string& Path, crashtest::TCrashPoint& Point) override {
        auto disk = Open(Path);
        MakeChanges(*disk);
        Point.Run([&] { disk->DiskCommit(); });
        disk->Close();
    }
    TCrashVerdict Check(const std::string& Path, const crashtest::TCrashSnapshots& Snapshots) override {
        return CheckDatabase(Path, &Snapshots);
    }
};

TEST(CommitAtomicityTest, KilledAtEveryWriteOfTheCommitTheFileIsBeforeOrAfter) {
    test::TempDir dir;
    TStorageWorkload workload;
    const crashtest::TCrashReport report = crashtest::RunCrashHarness(workload, dir.File("crash.orq"));
    for (const std::string& problem : report.Problems) ADD_FAILURE() << problem;
    // The journal (records, header, flush), the pages (adjacent ones in one write) and ranges,
    // the flush, the invalidation.
    EXPECT_GE(report.CommitCalls, 15);
    EXPECT_GT(report.Before, 0);
    EXPECT_GT(report.After, 1);
    EXPECT_EQ(report.Before + report.After, report.CommitCalls + 1);
    // Both snapshots are sound databases in their own right.
    EXPECT_EQ(crashtest::CheckStorageStructure(report.Snapshots.Before, PS), "");
    EXPECT_EQ(crashtest::CheckStorageStructure(report.Snapshots.After, PS), "");
}

TEST(CommitAtomicityTest, InjectedFailureAtEveryCallOfTheCommitRaisesAndKeepsTheOldState) {
    test::TempDir dir;
    const std::string path = dir.File("fault.orq");
    const std::string journal = dir.File("fault.orj");
    PrepareDatabase(path);
    const std::string before = test::ReadAll(path);
    std::string after;
    {
        auto disk = Open(path);
        MakeChanges(*disk);
        disk->DiskCommit();
    }
    after = test::ReadAll(path);
    ASSERT_NE(after, before);

    // Every read, write, flush and size change of the commit fails in turn (the journal's own
    // calls, the database's, the journal's invalidation); then every write is cut short.
    struct Fault {
        const char* Name;
        unsigned Ops;
        platform::FileFault Value;
        int64_t MinCalls;
    };
    const Fault faults[] = {{"error", platform::FileOpsAll, {EIO, -1}, 22},
                            {"short write", platform::FileOps(platform::FileOp::Write), {ENOSPC, 7}, 13}};
    for (const Fault& fault : faults) {
        int64_t n = 1;
        for (;; ++n) {
            SCOPED_TRACE(std::string(fault.Name) + " at call " + std::to_string(n));
            test::WriteAll(path, before);
            auto disk = Open(path);
            MakeChanges(*disk);
            platform::NthCallFault injected(fault.Ops, n, fault.Value, false, dir.Path());
            int32_t code;
            {
                platform::ScopedFileFaultInjector scope(injected);
                code = ErrorCode([&] { disk->DiskCommit(); });
            }
            if (code == 0) {
                // The commit has fewer calls than n, or call n came after the commit point (the
                // journal's deletion): either way it went through.
                EXPECT_FALSE(platform::FileExists(journal));
                disk->Close();
                EXPECT_TRUE(test::ReadAll(path) == after);
                if (injected.Injected() == 0) break;
                continue;
            }
            EXPECT_NE(code, 0);
            EXPECT_FALSE(disk->IsTransactionActive());
            EXPECT_EQ(disk->TableLockMgr()->GetLockCount(), 0);
            EXPECT_EQ(disk->TransactionLockMgr()->GetLockCount(), 0);
            EXPECT_TRUE(test::ReadAll(path) == before);
            EXPECT_FALSE(platform::FileExists(journal));
            // The connection holds nothing of the failed commit: the same transaction again
            // gives exactly the file of a clean commit.
            MakeChanges(*disk);
            disk->DiskCommit();
            disk->Close();
            EXPECT_TRUE(test::ReadAll(path) == after);
        }
        EXPECT_GT(n, fault.MinCalls) << fault.Name;
    }
    EXPECT_EQ(CheckDatabase(path, nullptr).Problem, "");
}

// The journal's folder is flushed after the journal is written (before the database is touched).
// A failure of that flush fails the commit and leaves the file as it was; the journal, valid on
// disk then, is deleted with a second flush of the folder, so it cannot come back. After the
// commit point the journal's header is zero on disk: it is deleted with no further flush.
TEST(CommitAtomicityTest, TheJournalsFolderIsFlushedAfterCreatingItAndAfterDeletingAValidOne) {
    test::TempDir dir;
    const std::string path = dir.File("folder.orq");
    const std::string journal = dir.File("folder.orj");
    PrepareDatabase(path);
    const std::string before = test::ReadAll(path);
    // Fails the N-th flush of a folder (0: none) and records which files existed at each.
    class TFolderFlushes : public platform::FileFaultInjector {
    public:
        TFolderFlushes(std::string Journal, int Fail) : FJournal(std::move(Journal)), FFail(Fail) {}
        platform::FileFault Decide(platform::FileOp Op, const std::string& Path, int64_t, int64_t) override {
            if (Op != platform::FileOp::Flush || Path.empty() || Path.back() != '/') return {};
            JournalPresent.push_back(platform::FileExists(FJournal));
            return int(JournalPresent.size()) == FFail ? platform::FileFault{EIO} : platform::FileFault{};
        }
        std::vector<bool> JournalPresent;

    private:
        std::string FJournal;
        int FFail;
    };
    for (int fail = 0; fail <= 1; ++fail) {
        SCOPED_TRACE("failing folder flush " + std::to_string(fail));
        test::WriteAll(path, before);
        auto disk = Open(path);
        MakeChanges(*disk);
        TFolderFlushes flushes(journal, fail);
        int32_t code;
        {
            platform::ScopedFileFaultInjector scope(flushes);
            code = ErrorCode([&] { disk->DiskCommit(); });
        }
        disk->Close();
        EXPECT_FALSE(platform::FileExists(journal));
        if (fail == 0) {
            EXPECT_EQ(flushes.JournalPresent, (std::vector<bool>{true}));
            EXPECT_EQ(code, 0);
            EXPECT_NE(test::ReadAll(path), before);
        } else {
            // The journal is there at the failing flush and gone at the one after its deletion.
            EXPECT_EQ(flushes.JournalPresent, (std::vector<bool>{true, false}));
            EXPECT_EQ(code, 8450);
            EXPECT_TRUE(test::ReadAll(path) == before);
        }
    }
}

// Deleting the journal is not part of the commit: once its header is zero and flushed the commit
// is durable, and an invalid journal that stays is ignored (and removed) by the next open.
TEST(CommitAtomicityTest, AJournalThatCannotBeDeletedAfterTheCommitPointLeavesTheCommit) {
    test::TempDir dir;
    const std::string path = dir.File("stay.orq");
    const std::string journal = dir.File("stay.orj");
    PrepareDatabase(path);
    // The journal gets the read-only attribute while the commit flushes the database.
    class TProtectJournal : public platform::FileFaultInjector {
    public:
        explicit TProtectJournal(std::string Journal) : FJournal(std::move(Journal)) {}
        platform::FileFault Decide(platform::FileOp Op, const std::string& Path, int64_t, int64_t) override {
            if (Op == platform::FileOp::Flush && Path.size() > 4 &&
                Path.compare(Path.size() - 4, 4, ".orq") == 0)
                platform::FileSetReadOnly(FJournal, true);
            return {};
        }

    private:
        std::string FJournal;
    } protect(journal);
    auto disk = Open(path);
    MakeChanges(*disk);
    {
        platform::ScopedFileFaultInjector scope(protect);
        disk->DiskCommit();
    }
    disk->Close();
    ASSERT_TRUE(platform::FileExists(journal));
    TOrqJournal left(journal);
    EXPECT_EQ(left.Inspect(PS, false), jsInvalid);
    left.Delete();
    EXPECT_EQ(CheckDatabase(path, nullptr).State, TCrashState::After);
    EXPECT_TRUE(platform::FileExists(journal));  // an open cannot delete it either, and need not

    // While it cannot be replaced, a commit cannot journal: it fails and changes nothing.
    const std::string committed = test::ReadAll(path);
    disk = Open(path);
    disk->DiskStartTransaction(false);
    disk->WriteCustomSize(0, 4, 0, 0, "next");
    EXPECT_EQ(ErrorCode([&] { disk->DiskCommit(); }), 8459);
    EXPECT_TRUE(test::ReadAll(path) == committed);
    platform::FileSetReadOnly(journal, false);
    disk->DiskStartTransaction(false);
    disk->WriteCustomSize(0, 4, 0, 0, "next");
    disk->DiskCommit();
    EXPECT_EQ(ReadRange(path, 0, 4), "next");
    EXPECT_FALSE(platform::FileExists(journal));
}

}  // namespace
}  // namespace ostra
