// The lock file and its user slots: name rules, creation and deletion, slot use and reuse,
// connections in other processes (also killed ones), counts, and injected I/O failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/storage/orqErrors.h"
#include "engine/storage/orqLockMgrUnit.h"
#include "testsupport/TestFiles.h"
#include "host/StringList.h"
#include "platform/FileFault.h"

namespace ostra {
namespace {

using test::Child;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;
using platform::File;
using platform::FileAccess;
using platform::FileCreate;
using platform::FileShare;

TEST(LockFileName, Rules) {
    struct Case {
        const char* database;
        const char* lock;
    };
    const Case cases[] = {
        {"/data/Shop.orq", "/data/Shop.lck"},
        {"/data/Shop.ORQ", "/data/Shop.lck"},
        {"/data/Shop.db", "/data/Shop_db.lck"},
        {"/data/Shop", "/data/Shop.lck"},
        {"/x/a.b.c", "/x/a_b_c.lck"},
        {"/x/my.orq.bak", "/x/my.orq.lck"},    // ".orq" anywhere: only the extension changes
        {"/x.orq/shop", "/x.orq/shop.lck"},    // a dot in a folder is not an extension
        {"/x.d/shop.db", "/x.d/shop_db.lck"},  // nor is it replaced
        {"Shop.db", "Shop_db.lck"},            // no folder: beside the database, not in "/"
        {"Shop.orq", "Shop.lck"},
        {"Shop", "Shop.lck"},
        {"sub/Shop.db", "sub/Shop_db.lck"},
    };
    for (const Case& c : cases) EXPECT_EQ(GetLockFileName(c.database), c.lock) << c.database;
}

class UserMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        DbPath = Dir.File("shop.orq");
        LockPath = GetLockFileName(DbPath);
        ASSERT_TRUE(Db.Open(DbPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways));
    }

    // A connection with its own database handle (as each connection has), fast retries.
    struct Connection {
        File DbHandle;
        std::unique_ptr<TDBUserMonitor> Monitor;
    };
    std::unique_ptr<Connection> Connect(const std::string& user, const std::string& computer) {
        auto c = std::make_unique<Connection>();
        EXPECT_TRUE(c->DbHandle.Open(DbPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting));
        c->Monitor = std::make_unique<TDBUserMonitor>(&c->DbHandle, LockPath);
        c->Monitor->SetLockRetryInterval(1);
        c->Monitor->Open(user, computer);
        return c;
    }

    // A connection in a child process; it sends 'k' once connected, closes on the next
    // message and then exits.
    std::unique_ptr<Child> ConnectInChild(const std::string& user, const std::string& computer) {
        auto child = std::make_unique<Child>([=, this](Child& p) {
            File db;
            if (!db.Open(DbPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting)) return 1;
            TDBUserMonitor monitor(&db, LockPath);
            monitor.SetLockRetryInterval(1);
            monitor.Open(user, computer);
            p.Send('k');
            p.Receive();
            monitor.Close();
            return 0;
        });
        EXPECT_EQ(child->Receive(), 'k');
        return child;
    }

    std::vector<std::string> Users(TDBUserMonitor& m) {
        TStringList list;
        m.GetCurrentUsers(&list);
        std::vector<std::string> users;
        for (int i = 0; i < list.Count(); ++i) users.push_back(list.Strings(i));
        return users;
    }

    bool LockFileExists() { return std::filesystem::exists(LockPath); }

    TempDir Dir;
    std::string DbPath, LockPath;
    File Db;
};

// Runs F and returns the engine error code it raised (0 when none).
template <class F>
int32_t ErrorCodeOf(F&& f) {
    try {
        f();
    } catch (const EOrqDatabaseError& e) {
        return e.ErrorCode;
    }
    return 0;
}

TEST_F(UserMonitorTest, SlotsPerComputerAndUserAndConnectionBytes) {
    auto a = Connect("alice", "PC1");
    EXPECT_EQ(LockPath, Dir.File("shop.lck"));
    std::string content = ReadAll(LockPath);
    ASSERT_EQ(content.size(), 2u * CLockSlotSize);
    EXPECT_EQ(content.substr(0, CLockSlotSize), std::string(CLockSlotSize, '\0'));
    EXPECT_EQ(content.substr(CLockSlotSize, 8), std::string("PC1,alic"));
    EXPECT_EQ(content.substr(CLockSlotSize + 9), std::string(CLockSlotSize - 9, '\0'));
    EXPECT_EQ(a->Monitor->ConnectionLockAddress(), 0x401000u);

    auto b = Connect("ALICE", "pc1");  // the same slot: texts compare without case
    EXPECT_EQ(b->Monitor->ConnectionLockAddress(), 0x401001u);
    auto c = Connect("alice", "PC2");
    EXPECT_EQ(c->Monitor->ConnectionLockAddress(), 0x402000u);
    auto d = Connect("bob smith", "PC 3");  // names with blanks are quoted
    EXPECT_EQ(d->Monitor->UserEntry(), "\"PC 3\",\"bob smith\"");

    EXPECT_EQ(Users(*a->Monitor), (std::vector<std::string>{"PC1,alice", "PC2,alice", "\"PC 3\",\"bob smith\""}));
    EXPECT_EQ(a->Monitor->GetCurrentUserCount(), 3);
    EXPECT_EQ(a->Monitor->GetCurrentConnectionCount(), 4);
    TStringList dump;
    a->Monitor->DebugDumpStatus(&dump);
    ASSERT_EQ(dump.Count(), 4);
    EXPECT_EQ(dump.Strings(0), "User 1  :  PC1,alice - connections 2");
    EXPECT_EQ(dump.Strings(2), "User 3  :  \"PC 3\",\"bob smith\" - connections 1");
    EXPECT_EQ(dump.Strings(3), "Total Users 3");
}

TEST_F(UserMonitorTest, ClosingFreesTheSlotWithItsLastConnectionAndTheFileWithTheLast) {
    auto a = Connect("alice", "PC1");
    auto b = Connect("alice", "PC1");
    auto c = Connect("bob", "PC2");
    a->Monitor->Close();
    EXPECT_EQ(Users(*c->Monitor), (std::vector<std::string>{"PC1,alice", "PC2,bob"}));
    b->Monitor->Close();
    EXPECT_EQ(Users(*c->Monitor), (std::vector<std::string>{"", "PC2,bob"}));
    EXPECT_TRUE(LockFileExists());
    c->Monitor->Close();
    EXPECT_FALSE(LockFileExists());
    c->Monitor->Close();  // harmless when closed

    // A new first connection makes a new file.
    auto d = Connect("carol", "PC3");
    EXPECT_EQ(Users(*d->Monitor), (std::vector<std::string>{"PC3,carol"}));
}

TEST_F(UserMonitorTest, TheLockFileStaysWhileAnotherProcessIsConnected) {
    auto child = ConnectInChild("bob", "PC2");
    auto a = Connect("alice", "PC1");
    a->Monitor->Close();
    EXPECT_TRUE(LockFileExists());
    child->Send('q');
    EXPECT_EQ(child->Wait(), 0);
    EXPECT_FALSE(LockFileExists());  // the child was the last connection
}

TEST_F(UserMonitorTest, TheLockFileStaysWhileAnyHandleHasItOpen) {
    auto a = Connect("alice", "PC1");
    File opener;  // a connection in the middle of its open: handle, no slot yet
    ASSERT_TRUE(opener.Open(LockPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting));
    a->Monitor->Close();
    EXPECT_TRUE(LockFileExists());
    opener.Close();
    auto b = Connect("bob", "PC2");  // its slot 1 was swept free and is reused
    EXPECT_EQ(Users(*b->Monitor), (std::vector<std::string>{"PC2,bob"}));
    b->Monitor->Close();
    EXPECT_FALSE(LockFileExists());
}

TEST_F(UserMonitorTest, AKilledConnectionIsSweptByTheNextOpener) {
    auto a = Connect("alice", "PC1");
    auto child = ConnectInChild("bob", "PC2");
    EXPECT_EQ(a->Monitor->GetCurrentUserCount(), 2);
    EXPECT_EQ(child->Kill(), 128 + SIGKILL);

    auto c = Connect("carol", "PC3");
    EXPECT_EQ(c->Monitor->ConnectionLockAddress(), 0x402000u);  // bob's slot, freed and reused
    EXPECT_EQ(Users(*c->Monitor), (std::vector<std::string>{"PC1,alice", "PC3,carol"}));
    EXPECT_EQ(ReadAll(LockPath).size(), 3u * CLockSlotSize);
}

TEST_F(UserMonitorTest, TheLastLiveConnectionDeletesAFileAKilledOneLeft) {
    auto child = ConnectInChild("bob", "PC2");
    auto a = Connect("alice", "PC1");
    child->Kill();
    EXPECT_EQ(a->Monitor->SweepLockFile(), 1);
    EXPECT_EQ(Users(*a->Monitor), (std::vector<std::string>{"", "PC1,alice"}));
    a->Monitor->Close();
    EXPECT_FALSE(LockFileExists());
}

TEST_F(UserMonitorTest, ProcessesJoiningAndLeavingAtOnceKeepTheFileAndSlotsSound) {
    constexpr int Processes = 6, Rounds = 25;
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < Processes; ++i) {
        children.push_back(std::make_unique<Child>([=, this](Child& p) {
            File db;
            if (!db.Open(DbPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting)) return 1;
            TDBUserMonitor m(&db, LockPath);
            m.SetLockRetryCount(400);
            m.SetLockRetryInterval(5);
            p.Receive();  // all start together
            for (int r = 0; r < Rounds; ++r) {
                m.Open("user" + std::to_string((i + r) % 3), "PC");
                // The file this connection uses is the one on disk, and its slot names it.
                if (!m.LockFileHandle()->IsStillAtPath()) return 3;
                if (m.ConnectionLockAddress() == 0) return 4;
                uint64_t slotAddress = (m.ConnectionLockAddress() - CLockConnectionBase) / CLockSlotSize * CLockSlotSize;
                std::string slot(CLockSlotSize, '\0');
                if (m.LockFileHandle()->Read(int64_t(slotAddress), slot.data(), CLockSlotSize) != CLockSlotSize) return 5;
                if (slot.c_str() != m.UserEntry()) return 6;
                if (m.GetCurrentUserCount() < 1) return 7;
                m.Close();
            }
            return 0;
        }));
    }
    for (auto& c : children) c->Send('g');
    for (auto& c : children) EXPECT_EQ(c->Wait(), 0);
    EXPECT_FALSE(LockFileExists());
}

// A lock file whose every slot is taken, each kept live by a byte that `holder` locks.
void FillSlots(const std::string& lockPath, File& holder, uint32_t live) {
    std::string content(CLockSlotSize, '\0');
    for (uint32_t k = 1; k <= CLockFileMaxSlots; ++k) {
        std::string slot = "PC" + std::to_string(k) + ",user";
        slot.resize(CLockSlotSize, '\0');
        content += slot;
    }
    WriteAll(lockPath, content);
    ASSERT_TRUE(holder.Open(lockPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting));
    for (uint32_t k = 1; k <= live; ++k) ASSERT_TRUE(holder.Lock(CLockConnectionBase + uint64_t(k) * CLockSlotSize, 1));
}

TEST_F(UserMonitorTest, AFullLockFileRefusesNewUsersButReusesFreeAndOwnSlots) {
    File holder;
    FillSlots(LockPath, holder, CLockFileMaxSlots);
    ASSERT_EQ(ReadAll(LockPath).size(), 0x400000u);

    TDBUserMonitor m(&Db, LockPath);
    m.SetLockRetryInterval(1);
    EXPECT_EQ(ErrorCodeOf([&] { m.Open("newcomer", "PCX"); }), 9486);
    EXPECT_FALSE(m.IsOpen());
    m.Open("user", "PC17");  // an existing slot of this computer and user
    EXPECT_EQ(m.ConnectionLockAddress(), CLockConnectionBase + 17 * CLockSlotSize + 1);
    m.Close();

    // One slot's connection goes: the next newcomer gets it.
    ASSERT_TRUE(holder.Unlock(CLockConnectionBase + 500 * CLockSlotSize, 1));
    m.Open("newcomer", "PCX");
    EXPECT_EQ(m.ConnectionLockAddress(), CLockConnectionBase + 500 * CLockSlotSize);
    EXPECT_EQ(ReadAll(LockPath).size(), 0x400000u);  // the file did not grow
}

TEST_F(UserMonitorTest, AFileOfMaximumSizeWithFreeSlotsIsUsable) {
    WriteAll(LockPath, std::string(0x400000, '\0'));
    auto a = Connect("alice", "PC1");
    EXPECT_EQ(a->Monitor->ConnectionLockAddress(), 0x401000u);
    EXPECT_EQ(a->Monitor->GetCurrentUserCount(), 1);
}

TEST_F(UserMonitorTest, DataBeyondTheLastSlotIsIgnored) {
    File holder;
    FillSlots(LockPath, holder, CLockFileMaxSlots);
    {
        File f;
        ASSERT_TRUE(f.Open(LockPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting));
        std::string extra(CLockSlotSize, '\0');
        ASSERT_EQ(f.Write(0x400000, extra.data(), CLockSlotSize), CLockSlotSize);
    }
    TDBUserMonitor m(&Db, LockPath);
    m.SetLockRetryInterval(1);
    // A 1024th slot would have its connection bytes on the table lock range.
    EXPECT_EQ(ErrorCodeOf([&] { m.Open("newcomer", "PCX"); }), 9486);
}

TEST_F(UserMonitorTest, BareDatabaseNameKeepsTheLockFileInTheCurrentFolder) {
    std::string saved = std::filesystem::current_path();
    ASSERT_EQ(chdir(Dir.Path().c_str()), 0);
    {
        TDBUserMonitor m(nullptr, GetLockFileName("shop.db"));
        m.Open("alice", "PC1");
        EXPECT_TRUE(std::filesystem::exists(Dir.File("shop_db.lck")));
        m.Close();
        EXPECT_FALSE(std::filesystem::exists(Dir.File("shop_db.lck")));
    }
    ASSERT_EQ(chdir(saved.c_str()), 0);
}

TEST_F(UserMonitorTest, LockWaitsTimeOut) {
    auto a = Connect("alice", "PC1");
    // Another connection holds the slot mutex.
    File other;
    ASSERT_TRUE(other.Open(LockPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting));
    ASSERT_TRUE(other.Lock(CLockSlotMutexAddr, 1));
    a->Monitor->SetLockRetryCount(2);
    try {
        a->Monitor->GetCurrentUserCount();
        FAIL() << "no error";
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10249);
        EXPECT_NE(e.Message().find("A lock could not be obtained on the lock file"), std::string::npos);
    }
    auto b = std::make_unique<Connection>();
    ASSERT_TRUE(b->DbHandle.Open(DbPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting));
    b->Monitor = std::make_unique<TDBUserMonitor>(&b->DbHandle, LockPath);
    b->Monitor->SetLockRetryCount(1);
    b->Monitor->SetLockRetryInterval(1);
    EXPECT_EQ(ErrorCodeOf([&] { b->Monitor->Open("bob", "PC2"); }), 10249);
    EXPECT_FALSE(b->Monitor->IsOpen());
    // Close cannot sweep now, but it still closes; the slot is freed later.
    a->Monitor->Close();
    EXPECT_FALSE(a->Monitor->IsOpen());
    other.Unlock(CLockSlotMutexAddr, 1);
    other.Close();
    b->Monitor->Open("bob", "PC2");
    EXPECT_EQ(Users(*b->Monitor), (std::vector<std::string>{"PC2,bob"}));

    // The parent lock on the database file, held by another connection, times out an open.
    b->Monitor->Close();
    EXPECT_FALSE(LockFileExists());
    ASSERT_TRUE(Db.Lock(CParentLockAddr, 1));
    EXPECT_EQ(ErrorCodeOf([&] { b->Monitor->Open("bob", "PC2"); }), 10249);
    EXPECT_FALSE(b->Monitor->IsOpen());
    EXPECT_FALSE(LockFileExists());
}

TEST_F(UserMonitorTest, InjectedFailuresLeaveTheMonitorClosed) {
    struct Case {
        platform::FileOp op;
        int64_t n;           // the failing call among the lock file's calls of that kind
        bool engineError;    // 8450 (read) rather than an assertion failure (write)
    };
    const Case cases[] = {
        {platform::FileOp::Write, 1, false},  // the header of a new file
        {platform::FileOp::Write, 2, false},  // the new slot
        {platform::FileOp::Read, 1, true},    // reading the slots
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.op) * 10 + c.n);
        if (c.op == platform::FileOp::Read) {
            // Reads happen only when there are slots to read: one left by a dead connection.
            std::string slot = "PC9,gone";
            slot.resize(CLockSlotSize, '\0');
            WriteAll(LockPath, std::string(CLockSlotSize, '\0') + slot);
        }
        platform::NthCallFault fault(platform::FileOps(c.op), c.n, {EIO, 10}, false, ".lck");
        TDBUserMonitor m(&Db, LockPath);
        {
            platform::ScopedFileFaultInjector scope(fault);
            try {
                m.Open("bob", "PC2");
                ADD_FAILURE() << "no error";
            } catch (const EOrqDatabaseError& e) {
                EXPECT_TRUE(c.engineError);
                EXPECT_EQ(e.ErrorCode, 8450);
            } catch (const EAssertionFailed& e) {
                EXPECT_FALSE(c.engineError);
                EXPECT_EQ(std::string(e.what()), "Unable to complete lock file creation");
            }
        }
        EXPECT_EQ(fault.Injected(), 1);
        EXPECT_FALSE(m.IsOpen());
        EXPECT_FALSE(LockFileExists());  // nobody else had it open
        m.Open("bob", "PC2");             // and all is well again
        EXPECT_EQ(Users(m), (std::vector<std::string>{"PC2,bob"}));
        m.Close();
    }
}

TEST_F(UserMonitorTest, OpenTwiceClosesFirst) {
    auto a = Connect("alice", "PC1");
    a->Monitor->Open("bob", "PC2");
    EXPECT_EQ(a->Monitor->ConnectionLockAddress(), 0x401000u);  // alice's slot was freed first
    EXPECT_EQ(Users(*a->Monitor), (std::vector<std::string>{"PC2,bob"}));
}

TEST_F(UserMonitorTest, AskingAClosedMonitorFailsTheHandleCheck) {
    TDBUserMonitor m(&Db, LockPath);
    TStringList list;
    EXPECT_THROW(m.GetCurrentUsers(&list), EAssertionFailed);
    EXPECT_THROW(m.SweepLockFile(), EAssertionFailed);
}

}  // namespace
}  // namespace ostra
