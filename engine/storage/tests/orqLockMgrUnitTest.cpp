// Lock managers: table, record and transaction locks on a real lock file, held by separate
// handles in one process and by separate processes.
#include "engine/storage/orqLockMgrUnit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "testsupport/TestFiles.h"
#include "host/StringList.h"
#include "platform/Clock.h"
#include "platform/Random.h"

namespace ostra {
namespace {

using test::Child;
using test::TempDir;
using platform::File;
using platform::FileAccess;
using platform::FileCreate;
using platform::FileShare;

// Counts the byte-range lock attempts a manager makes.
class CountingLockMgr : public TWinLockMgr {
public:
    using TWinLockMgr::TWinLockMgr;
    int Attempts = 0;

protected:
    bool InternalLockFile(uint64_t Address, uint32_t Size, uint8_t LockType) override {
        ++Attempts;
        return TWinLockMgr::InternalLockFile(Address, Size, LockType);
    }
};

class LockMgrTest : public ::testing::Test {
protected:
    void SetUp() override { Path = Dir.File("shop.lck"); }

    // A new handle on the lock file, as each connection has its own.
    std::unique_ptr<File> OpenHandle() {
        auto file = std::make_unique<File>();
        EXPECT_TRUE(file->Open(Path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways));
        return file;
    }

    // The engine's table lock manager on a handle, with fast retries.
    template <class Mgr = TWinLockMgr>
    std::unique_ptr<Mgr> TableMgr(File* handle, int retries = 3) {
        auto mgr = std::make_unique<Mgr>(handle, CTableLockBase, CTableLockRegionSize);
        mgr->SetLockRetryCount(retries);
        mgr->SetLockRetryInterval(1);
        mgr->SetReadLockErrMsg(SorqTableReadLockErr);
        mgr->SetWriteLockErrMsg(SorqTableWriteLockErr);
        return mgr;
    }

    TempDir Dir;
    std::string Path;
};

// Runs F and returns the engine error it raised (code 0 when none).
template <class F>
std::pair<int32_t, std::string> ErrorOf(F&& f) {
    try {
        f();
    } catch (const EOrqDatabaseError& e) {
        return {e.ErrorCode, e.Message()};
    }
    return {0, ""};
}

// A child process holding a table lock of table 3 through its own handle until told to go.
// kind: 'r' read, 'w' write. Sends 'k' once it holds the lock ('x' on failure).
int HoldTableLock(Child& parent, const std::string& path, char kind) {
    File file;
    if (!file.Open(path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways)) return 1;
    TWinLockMgr mgr(&file, CTableLockBase, CTableLockRegionSize);
    mgr.SetLockRetryInterval(1);
    try {
        if (kind == 'r')
            mgr.SetReadLock(3, 1);
        else
            mgr.SetWriteLock(3, 0);
    } catch (...) {
        parent.Send('x');
        return 2;
    }
    parent.Send('k');
    parent.Receive();  // hold until the test is done
    return 0;
}

TEST_F(LockMgrTest, ReaderWriterMatrixAcrossProcesses) {
    struct Case {
        char held;        // what another process holds on table 3: '-', 'r', 'w'
        char request;     // what this process asks for: 'r', 'w'
        bool granted;
    };
    const Case cases[] = {
        {'-', 'r', true}, {'-', 'w', true}, {'r', 'r', true},
        {'r', 'w', false}, {'w', 'r', false}, {'w', 'w', false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("held ") + c.held + ", request " + c.request);
        std::unique_ptr<Child> holder;
        if (c.held != '-') {
            holder = std::make_unique<Child>([&](Child& p) { return HoldTableLock(p, Path, c.held); });
            ASSERT_EQ(holder->Receive(), 'k');
        }
        auto handle = OpenHandle();
        auto mgr = TableMgr(handle.get());
        auto [code, message] = ErrorOf([&] {
            if (c.request == 'r')
                mgr->SetReadLock(3, 1);
            else
                mgr->SetWriteLock(3, 0);
        });
        if (c.granted) {
            EXPECT_EQ(code, 0) << message;
            EXPECT_EQ(mgr->QueryLockType(3), c.request == 'r' ? CLockTypeRead : CLockTypeWrite);
        } else {
            EXPECT_EQ(code, 10249);
            EXPECT_NE(message.find(c.request == 'r' ? SorqTableReadLockErr : SorqTableWriteLockErr), std::string::npos);
            EXPECT_EQ(mgr->GetLockCount(), 0);  // nothing is recorded for a failed request
        }
        // Other tables are never affected.
        EXPECT_EQ(mgr->SetWriteLock(4, 0), CLockTypeWrite);
        if (holder) {
            holder->Send('q');
            EXPECT_EQ(holder->Wait(), 0);
        }
    }
}

TEST_F(LockMgrTest, TwoHandlesInOneProcessConflictLikeTwoProcesses) {
    auto h1 = OpenHandle(), h2 = OpenHandle();
    auto a = TableMgr(h1.get()), b = TableMgr(h2.get());
    EXPECT_TRUE(a->SetReadLock(3, 1));
    EXPECT_TRUE(b->SetReadLock(3, 1));
    EXPECT_EQ(ErrorOf([&] { b->SetWriteLock(3, 0); }).first, 10249);
    a->ReleaseLock(3);
    EXPECT_EQ(b->SetWriteLock(3, 0), CLockTypeWrite);  // upgrade now succeeds
    EXPECT_EQ(ErrorOf([&] { a->SetReadLock(3, 1); }).first, 10249);
    // A read request on an id that holds a write lock is granted at once, with nothing added.
    int count = b->GetLockCount();
    EXPECT_TRUE(b->SetReadLock(3, 1));
    EXPECT_EQ(b->GetLockCount(), count);
}

TEST_F(LockMgrTest, FailedWriteLockMakesExactlyRetryCountAttempts) {
    auto h1 = OpenHandle(), h2 = OpenHandle();
    auto holder = TableMgr(h1.get());
    holder->SetReadLock(3, 1);
    auto mgr = TableMgr<CountingLockMgr>(h2.get(), 5);
    mgr->SetLockRetryInterval(20);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { mgr->SetWriteLock(3, 0); }).first, 10249);
    EXPECT_EQ(mgr->Attempts, 5);
    // The pause follows every failed attempt, the last one included.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(LockMgrTest, ReadLockClashWithAnotherReaderIsResolvedWithoutWaiting) {
    auto h1 = OpenHandle(), h2 = OpenHandle();
    // Another reader holds exactly the byte the generator will offer first.
    platform::RandSeed(4242);
    uint64_t first = CTableLockBase + 3 * uint64_t(CTableLockRegionSize) + platform::Random(CTableLockRegionSize);
    ASSERT_TRUE(h1->Lock(first, 1));
    platform::RandSeed(4242);
    auto mgr = TableMgr<CountingLockMgr>(h2.get(), 1);  // a single attempt
    EXPECT_TRUE(mgr->SetReadLock(3, 1));
    EXPECT_GE(mgr->Attempts, 2);
    EXPECT_NE(mgr->Locks().LockItems(0)->LckAddr(), first);
}

TEST_F(LockMgrTest, UpgradeHoldsTheWholeRegionAndReportsAWriteLock) {
    auto h1 = OpenHandle(), h2 = OpenHandle();
    auto mgr = TableMgr(h1.get());
    auto other = TableMgr(h2.get(), 1);
    for (uint32_t seed : {1u, 2u, 3u}) {
        platform::RandSeed(seed);
        ASSERT_TRUE(mgr->SetReadLock(7, 1));
        EXPECT_EQ(mgr->QueryLockType(7), CLockTypeRead);
        EXPECT_EQ(mgr->SetWriteLock(7, 0), CLockTypeWrite);
        EXPECT_EQ(mgr->QueryLockType(7), CLockTypeWrite);
        EXPECT_TRUE(mgr->LockExists(7, CLockTypeWrite));
        EXPECT_FALSE(mgr->LockExists(7, CLockTypeRead));
        // The items cover the region exactly.
        uint64_t covered = 0;
        for (TLockItem* item : mgr->Locks().ItemsOf(7)) covered += item->LckSize();
        EXPECT_EQ(covered, uint64_t(CTableLockRegionSize));
        int count = mgr->GetLockCount();
        EXPECT_EQ(mgr->SetWriteLock(7, 0), CLockTypeWrite);  // held already: nothing locked
        EXPECT_EQ(mgr->GetLockCount(), count);
        EXPECT_EQ(ErrorOf([&] { other->SetReadLock(7, 1); }).first, 10249);
        EXPECT_TRUE(mgr->ReleaseLock(7));
        EXPECT_EQ(mgr->GetLockCount(), 0);
        EXPECT_EQ(other->SetWriteLock(7, 0), CLockTypeWrite);  // every item was unlocked
        other->ReleaseLock(7);
    }
}

TEST_F(LockMgrTest, FailedUpgradeLeavesOnlyTheReadByte) {
    auto h1 = OpenHandle(), h2 = OpenHandle();
    uint64_t start = CTableLockBase + 3 * uint64_t(CTableLockRegionSize);
    uint64_t last = start + CTableLockRegionSize - 1;
    ASSERT_TRUE(h2->Lock(last, 1));  // another reader's byte after ours
    auto mgr = TableMgr(h1.get());
    platform::RandSeed(99);
    ASSERT_TRUE(mgr->SetReadLock(3, 1));
    uint64_t readByte = mgr->Locks().LockItems(0)->LckAddr();
    ASSERT_GT(readByte, start);
    auto [code, message] = ErrorOf([&] { mgr->UpgradeReadLockToWriteLock(3, 0); });
    EXPECT_EQ(code, 10249);
    EXPECT_NE(message.find(SorqTableWriteLockErr), std::string::npos);
    ASSERT_EQ(mgr->GetLockCount(), 1);
    EXPECT_EQ(mgr->QueryLockType(3), CLockTypeRead);
    EXPECT_TRUE(h2->Lock(start, readByte - start));  // the part before it was given back
}

TEST_F(LockMgrTest, UpgradeReadLocksTurnsEveryReadLockIntoAWriteLock) {
    auto h1 = OpenHandle(), h2 = OpenHandle();
    auto mgr = TableMgr(h1.get());
    auto other = TableMgr(h2.get(), 1);
    mgr->SetReadLock(1, 1);
    mgr->SetWriteLock(2, 0);
    mgr->SetReadLock(3, 1);
    mgr->UpgradeReadLocks();
    for (uint32_t id : {1u, 2u, 3u}) {
        EXPECT_EQ(mgr->QueryLockType(id), CLockTypeWrite) << id;
        EXPECT_EQ(ErrorOf([&] { other->SetReadLock(id, 1); }).first, 10249) << id;
    }
    mgr->ReleaseAllLocks();
    EXPECT_EQ(mgr->GetLockCount(), 0);
    for (uint32_t id : {1u, 2u, 3u}) EXPECT_EQ(other->SetWriteLock(id, 0), CLockTypeWrite);
}

TEST_F(LockMgrTest, UpgradeOfAOneByteRegionCountsAsWrite) {
    auto h = OpenHandle();
    TWinLockMgr records(h.get(), CRecordLockBase, 1);
    records.SetReadLock(5, 0);
    EXPECT_EQ(records.SetWriteLock(5, 0), CLockTypeWrite);
    EXPECT_EQ(records.QueryLockType(5), CLockTypeWrite);
    EXPECT_EQ(records.GetLockCount(), 1);
}

TEST_F(LockMgrTest, RecordLocksUseTheRecordAddressAsOffsetWithoutWrapping) {
    auto h1 = OpenHandle(), h2 = OpenHandle();
    auto records = GetLockManager(nullptr, h1.get(), CRecordLockBase, 1, false);
    records->SetLockRetryCount(1);
    EXPECT_EQ(records->GetCalculatedLockAddr(0x10000), 0x2010000u);
    EXPECT_EQ(records->SetWriteLock(0x10000, 0), CLockTypeWrite);
    EXPECT_FALSE(h2->Lock(0x2010000, 1));

    // Addresses whose lock byte lies beyond 4 GiB: in 32 bits they would wrap onto table 0's
    // region (the header lock), the slot ranges and the transaction bytes.
    const uint32_t high[] = {0x80000000u, 0xFE800000u, 0xFFFFE000u, 0xFFFFFFFFu};
    for (uint32_t address : high) {
        EXPECT_EQ(records->GetCalculatedLockAddr(address), CRecordLockBase + address);
        EXPECT_EQ(records->SetWriteLock(address, 0), CLockTypeWrite);
    }
    auto tables = TableMgr(h2.get(), 1);
    auto transactions = GetLockManager(nullptr, h2.get(), CTransactionLockBase, 1, true);
    transactions->SetLockRetryCount(1);
    EXPECT_EQ(tables->SetWriteLock(0, 0), CLockTypeWrite);
    EXPECT_EQ(transactions->SetWriteLock(0x1FFF, 0), CLockTypeWrite);
    EXPECT_EQ(records->QueryLockType(0xFFFFFFFFu), CLockTypeWrite);
    EXPECT_EQ(records->GetLockCount(), 5);
    // A second handle cannot take the high record bytes.
    auto otherRecords = GetLockManager(nullptr, h2.get(), CRecordLockBase, 1, false);
    otherRecords->SetLockRetryCount(1);
    EXPECT_EQ(ErrorOf([&] { otherRecords->SetWriteLock(0xFFFFFFFFu, 0); }).first, 10249);
}

TEST_F(LockMgrTest, IdsWhoseRegionLeavesTheManagersRangeAreRefused) {
    auto h = OpenHandle();
    auto tables = TableMgr(h.get());
    const uint32_t lastTable = uint32_t((CTransactionLockBase - CTableLockBase) / CTableLockRegionSize) - 1;
    EXPECT_EQ(tables->SetWriteLock(lastTable, 0), CLockTypeWrite);
    EXPECT_THROW(tables->SetWriteLock(lastTable + 1, 0), EAssertionFailed);
    EXPECT_THROW(tables->SetReadLock(0xFFFFu, 1), EAssertionFailed);
    TWinLockMgr transactions(h.get(), CTransactionLockBase, 1);
    EXPECT_EQ(transactions.SetWriteLock(0x1FFF, 0), CLockTypeWrite);
    EXPECT_THROW(transactions.SetWriteLock(0x2000, 0), EAssertionFailed);
}

TEST_F(LockMgrTest, TransactionLockWaitsForItsHolderWithinItsRetries) {
    Child holder([&](Child& p) {
        File file;
        if (!file.Open(Path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways)) return 1;
        TWinLockMgr mgr(&file, CTransactionLockBase, 1);
        mgr.SetWriteLock(5, 0);
        p.Send('k');
        p.Receive();
        platform::Sleep(30);
        mgr.ReleaseLock(5);
        p.Receive();
        return 0;
    });
    ASSERT_EQ(holder.Receive(), 'k');
    auto h = OpenHandle();
    auto mgr = std::make_unique<CountingLockMgr>(h.get(), CTransactionLockBase, 1);
    mgr->SetReadLockErrMsg(SorqTransactionLockErr);
    mgr->SetWriteLockErrMsg(SorqTransactionLockErr);
    // Held throughout: every one of the 20 attempts fails.
    mgr->SetLockRetryCount(20);
    mgr->SetLockRetryInterval(1);
    auto [code, message] = ErrorOf([&] { mgr->SetWriteLock(5, 0); });
    EXPECT_EQ(code, 10249);
    EXPECT_NE(message.find(SorqTransactionLockErr), std::string::npos);
    EXPECT_EQ(mgr->Attempts, 20);
    // The holder lets go while the waiter is retrying under the transaction rule: granted.
    mgr->SetLockRetryInterval(80);
    holder.Send('g');
    EXPECT_EQ(mgr->SetWriteLock(5, 0), CLockTypeWrite);
    holder.Send('q');
    EXPECT_EQ(holder.Wait(), 0);
}

TEST_F(LockMgrTest, TransactionLockGrantedWhenTheHolderEndsDuringTheWait) {
    Child holder([&](Child& p) {
        File file;
        if (!file.Open(Path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways)) return 1;
        TWinLockMgr mgr(&file, CTransactionLockBase, 1);
        mgr.SetWriteLock(6, 0);
        p.Send('k');
        p.Receive();
        return 0;  // the process ends with the lock held: the system drops it
    });
    ASSERT_EQ(holder.Receive(), 'k');
    auto h = OpenHandle();
    CountingLockMgr mgr(h.get(), CTransactionLockBase, 1);
    mgr.SetLockRetryCount(20);
    mgr.SetLockRetryInterval(80);
    holder.Send('q');  // the holder exits while the waiter sleeps between attempts
    EXPECT_EQ(mgr.SetWriteLock(6, 0), CLockTypeWrite);
    EXPECT_GT(mgr.Attempts, 0);
    EXPECT_LE(mgr.Attempts, 20);
    EXPECT_EQ(holder.Wait(), 0);
}

TEST_F(LockMgrTest, ReadRangesStayInsideTheirRegion) {
    auto h = OpenHandle();
    TWinLockMgr mgr(h.get(), CTableLockBase, 4);
    for (uint32_t id = 0; id < 200; ++id) {
        ASSERT_TRUE(mgr.SetReadLock(id, 3));
        TLockItem* item = mgr.Locks().ItemsOf(id).front();
        EXPECT_GE(item->LckAddr(), mgr.GetCalculatedLockAddr(id));
        EXPECT_LE(item->LckAddr() + item->LckSize(), mgr.GetCalculatedLockAddr(id) + 4);
    }
    EXPECT_TRUE(mgr.SetReadLock(500, 4));  // a read as large as the region can only start at its start
    EXPECT_EQ(mgr.Locks().ItemsOf(500).front()->LckAddr(), mgr.GetCalculatedLockAddr(500));
}

TEST_F(LockMgrTest, ReleaseAndDestructionGiveEveryByteBack) {
    auto h1 = OpenHandle(), h2 = OpenHandle();
    {
        auto mgr = TableMgr(h1.get());
        mgr->SetReadLock(1, 1);
        mgr->SetWriteLock(1, 0);
        mgr->SetWriteLock(2, 0);
        EXPECT_TRUE(mgr->ReleaseLock(9));  // nothing held: still true
    }
    auto other = TableMgr(h2.get(), 1);
    EXPECT_EQ(other->SetWriteLock(1, 0), CLockTypeWrite);
    EXPECT_EQ(other->SetWriteLock(2, 0), CLockTypeWrite);
    EXPECT_EQ(h1->LockCount(), 0u);
}

TEST_F(LockMgrTest, InvalidHandlesAndSizes) {
    auto h = OpenHandle();
    File closed;
    EXPECT_THROW(TWinLockMgr(nullptr, CTableLockBase, 8192), EAssertionFailed);
    EXPECT_THROW(TWinLockMgr(&closed, CTableLockBase, 8192), EAssertionFailed);
    EXPECT_THROW(TWinLockMgr(h.get(), CTableLockBase, 0), EAssertionFailed);

    TWinLockMgr mgr(h.get(), CTableLockBase, 8192);
    EXPECT_THROW(mgr.SetReadLock(1, 8193), EAssertionFailed);
    EXPECT_THROW(mgr.SetWriteLock(1, 8193), EAssertionFailed);
    mgr.SetReadLock(2, 1);
    h->Close();
    EXPECT_EQ(ErrorOf([&] { mgr.SetReadLock(1, 1); }).first, 8449);
    auto [code, message] = ErrorOf([&] { mgr.SetWriteLock(1, 0); });
    EXPECT_EQ(code, 8450);
    EXPECT_NE(message.find("File handle is invalid"), std::string::npos);
    EXPECT_EQ(ErrorOf([&] { mgr.ReleaseLock(2); }).first, 8450);
    EXPECT_EQ(mgr.GetLockCount(), 0);
}

TEST_F(LockMgrTest, BaseManagerLocksNothing) {
    auto h = OpenHandle();
    TBaseLockMgr mgr(h.get(), CTableLockBase, 8192);
    mgr.SetLockRetryCount(2);
    mgr.SetLockRetryInterval(0);
    EXPECT_EQ(ErrorOf([&] { mgr.SetWriteLock(1, 0); }).first, 10249);
    EXPECT_EQ(ErrorOf([&] { mgr.SetReadLock(1, 1); }).first, 10249);
}

// Two read handles in a child that always overlap (one takes a new byte before the other lets go
// of its own) keep a writer out for good, unless the writer's wait stops new readers: then the
// readers already in leave and the writer gets the table, by a fresh write lock or an upgrade.
// (Without the rule an upgrade may still slip in, as it locks the bytes before and after its
// read byte one part at a time.)
TEST_F(LockMgrTest, AWaitingWriterStopsNewReadersUnderThePendingRule) {
    const struct {
        TLockWaitRule Rule;
        bool Upgrade;
        bool Granted;
    } cases[] = {{lwrNone, false, false}, {lwrPending, false, true}, {lwrPending, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Rule == lwrPending ? "pending" : "none") +
                     (c.Upgrade ? ", upgrade" : ", fresh"));
        Child readers([&](Child& p) -> int {
            File h1, h2;
            h1.Open(Path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways);
            h2.Open(Path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways);
            std::unique_ptr<TWinLockMgr> mgrs[2] = {TableMgr(&h1, 1), TableMgr(&h2, 1)};
            for (auto& mgr : mgrs) mgr->SetWaitRule(c.Rule, CTableIntentBase);
            mgrs[0]->SetReadLock(3, 1);
            p.Send('k');
            for (int turn = 1;; ++turn) {  // until killed
                try {
                    mgrs[turn % 2]->SetReadLock(3, 1);
                } catch (const EOrqDatabaseError&) {
                    // A writer is waiting: no new reader.
                }
                mgrs[(turn + 1) % 2]->ReleaseLock(3);
                platform::Sleep(2);
            }
        });
        ASSERT_EQ(readers.Receive(), 'k');
        auto h = OpenHandle();
        auto writer = TableMgr(h.get(), 20);
        writer->SetLockRetryInterval(10);
        writer->SetWaitRule(c.Rule, CTableIntentBase);
        if (c.Upgrade) {
            ASSERT_TRUE(writer->SetReadLock(3, 1));
        }
        EXPECT_EQ(ErrorOf([&] { writer->SetWriteLock(3, 0); }).first, c.Granted ? 0 : 10249);
        EXPECT_EQ(writer->QueryLockType(3), c.Granted   ? CLockTypeWrite
                                            : c.Upgrade ? CLockTypeRead
                                                        : CLockTypeNone);
        readers.Kill();
    }
}

// A holder that releases the transaction lock and asks for it again at once, polling far more
// often than the waiter, takes it straight back for good unless waiters take turns. Without turns
// the waiter only wins when the scheduler stops the holder inside its short release window, which
// a loaded machine can do once in a while: that case gets three rounds to show the starvation.
TEST_F(LockMgrTest, AWaiterGetsTheTransactionLockBeforeItsHolderTakesItBackUnderTheTurnsRule) {
    // One round: a holder child cycling the lock, a waiter here; the waiter's error code.
    auto round = [&](TLockWaitRule Rule) {
        Child holder([&](Child& p) -> int {
            File file;
            file.Open(Path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways);
            TWinLockMgr mgr(&file, CTransactionLockBase, 1);
            mgr.SetWaitRule(Rule, CTransactionIntentBase);
            mgr.SetLockRetryCount(5000);
            mgr.SetLockRetryInterval(1);
            mgr.SetWriteLock(5, 0);
            p.Send('k');
            for (;;) {  // until killed
                platform::Sleep(15);
                mgr.ReleaseLock(5);
                try {
                    mgr.SetWriteLock(5, 0);
                } catch (const EOrqDatabaseError&) {
                    p.Send('t');
                }
            }
        });
        EXPECT_EQ(holder.Receive(), 'k');
        auto h = OpenHandle();
        TWinLockMgr waiter(h.get(), CTransactionLockBase, 1);
        waiter.SetWaitRule(Rule, CTransactionIntentBase);
        waiter.SetLockRetryCount(10);
        waiter.SetLockRetryInterval(40);
        const int code = ErrorOf([&] { waiter.SetWriteLock(5, 0); }).first;
        holder.Kill();
        return code;
    };
    EXPECT_EQ(round(lwrTurns), 0);
    int none = 0;
    for (int attempt = 0; attempt < 3 && none != 10249; ++attempt) none = round(lwrNone);
    EXPECT_EQ(none, 10249);
}

// Juniors that find seniors waiting still get the lock when the seniors go: nobody waits for a
// turn that never comes.
TEST_F(LockMgrTest, UnderTheTurnsRuleAJuniorTakesTheLockWhenNoSeniorIsLeft) {
    File seniorHandle;
    ASSERT_TRUE(seniorHandle.Open(Path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways));
    // A senior's intent byte, held while nobody holds the lock, as if its process were slow to poll.
    ASSERT_TRUE(seniorHandle.Lock(CTransactionIntentBase + 7 * CLockIntentSize, 1));
    auto h = OpenHandle();
    CountingLockMgr junior(h.get(), CTransactionLockBase, 1);
    junior.SetWaitRule(lwrTurns, CTransactionIntentBase);
    junior.SetLockRetryCount(4);
    junior.SetLockRetryInterval(1);
    EXPECT_EQ(ErrorOf([&] { junior.SetWriteLock(7, 0); }).first, 10249);  // the senior's turn
    ASSERT_TRUE(seniorHandle.Unlock(CTransactionIntentBase + 7 * CLockIntentSize, 1));
    EXPECT_EQ(junior.SetWriteLock(7, 0), CLockTypeWrite);
    // No intent byte stays held after the call.
    EXPECT_TRUE(seniorHandle.Lock(CTransactionIntentBase + 7 * CLockIntentSize, CLockIntentSize));
}

TEST_F(LockMgrTest, DebugDumpStatus) {
    auto h = OpenHandle();
    auto mgr = TableMgr(h.get());
    mgr->SetWriteLock(2, 0);
    TStringList list;
    mgr->DebugDumpStatus(&list);
    ASSERT_EQ(list.Count(), 6);
    EXPECT_EQ(list.Strings(0), "TBaseLockMgr.DebugDumpStatus");
    EXPECT_EQ(list.Strings(1), "Hnd - " + h->Path());
    EXPECT_EQ(list.Strings(2), "TLockCollection.DebugDumpStatus - start");
    EXPECT_EQ(list.Strings(3), "Locks present - 1");
    EXPECT_EQ(list.Strings(4), "Lock 0: Addr 8404992 Size 8192 Type 4");
    EXPECT_EQ(list.Strings(5), "TLockCollection.DebugDumpStatus - end");
}

TEST(LockCollection, IndexFollowsItemsAndIds) {
    TLockCollection locks;
    TLockItem* a = locks.AddLock(1, 100, CLockTypeRead, 1);
    locks.AddLock(2, 200, CLockTypeWrite, 8);
    TLockItem* c = locks.AddLock(1, 101, CLockTypeWrite, 4);
    EXPECT_EQ(locks.FindLockType(1), CLockTypeRead);
    EXPECT_EQ(locks.FindLockInRegion(1, CLockTypeWrite), c);
    EXPECT_EQ(locks.FindLockInRegion(3, CLockTypeRead), nullptr);
    delete a;
    EXPECT_EQ(locks.FindLockType(1), CLockTypeWrite);
    c->SetRqID(3);
    EXPECT_EQ(locks.FindLockType(1), CLockTypeNone);
    EXPECT_EQ(locks.FindLockInRegion(3, CLockTypeWrite), c);
    locks.Delete(0);
    EXPECT_EQ(locks.FindLockType(2), CLockTypeNone);
    EXPECT_EQ(locks.Count(), 1);
}

}  // namespace
}  // namespace ostra
