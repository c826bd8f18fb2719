// Transactions, locks and generators through the database component: commit and rollback, a
// commit that fails (rolled back underneath: the component leaves its transaction and every
// cursor drops what it held), the header lock, table and record locks of several cursors of one
// connection, a disconnection whose closes fail, and generators, also drawn by two processes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>

#include "engine/components/orqDBDefRecord.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqLockMgrUnit.h"
#include "host/StringList.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

const std::vector<TFieldSpec> kFields = {{"ID", ftInteger}, {"NAME", ftString, 20}};
const std::vector<TIndexSpec> kIndexes = {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}};

class DataBaseTransactionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        DataBase = MakeDataBase(Path());
        CreateTable(*DataBase, "T", kFields, kIndexes, false);
        Cursor = OpenCursor(*DataBase, "T", false);
        for (int i = 1; i <= 3; ++i) Insert(*Cursor, {{"ID", i}});
    }
    std::string Path() const { return Dir.File("tx.orq"); }
    // Another connection that gives up a lock at once.
    std::unique_ptr<TTestDataBase> Other() {
        auto other = ConnectDataBase(Path());
        other->SetLockRetryMaximum(1);
        return other;
    }

    test::TempDir Dir;
    std::unique_ptr<TTestDataBase> DataBase;
    std::unique_ptr<TOrqDataSet> Cursor;
};

TEST_F(DataBaseTransactionsTest, CommitsAndRollsBack) {
    DataBase->StartTransaction();
    EXPECT_TRUE(DataBase->InTransaction());
    EXPECT_EQ(ErrorCode([&] { DataBase->StartTransaction(); }), 10256);
    Insert(*Cursor, {{"ID", 4}});
    CreateTable(*DataBase, "New", kFields, kIndexes, false);
    DataBase->Rollback();
    EXPECT_FALSE(DataBase->InTransaction());
    EXPECT_EQ(Walk(*Cursor, "ID"), Ints({1, 2, 3}));
    TStringList names;
    DataBase->GetTableNames(&names, false);
    EXPECT_EQ(names.CommaText(), "T");
    EXPECT_EQ(ErrorCode([&] { DataBase->Commit(); }), 10257);

    DataBase->StartTransaction();
    Insert(*Cursor, {{"ID", 4}});
    CreateTable(*DataBase, "New", kFields, kIndexes, false);  // the name the rollback freed
    DataBase->Commit();
    auto other = Other();
    EXPECT_EQ(Walk(*OpenCursor(*other, "T", false), "ID"), Ints({1, 2, 3, 4}));
    names.Clear();
    other->GetTableNames(&names, false);
    EXPECT_EQ(names.CommaText(), "New,T");
}

TEST_F(DataBaseTransactionsTest, AFailingCommitLeavesTheTransactionAndRefreshesEveryCursor) {
    auto second = OpenCursor(*DataBase, "T", false);
    EXPECT_EQ(second->GetTotalRecordCount(), 3);
    DataBase->StartTransaction();
    for (int i = 4; i <= 40; ++i) Insert(*Cursor, {{"ID", i}});
    CreateTable(*DataBase, "New", kFields, kIndexes, false);
    // The second cursor takes in the transaction's rows (and keeps their count for a while).
    second->ReadLockTable();
    EXPECT_EQ(second->GetTotalRecordCount(), 40);
    second->UnlockTable();
    {
        // The journal cannot be flushed: the commit fails before the file is touched.
        platform::NthCallFault fault(platform::FileOps(platform::FileOp::Flush), 1, {EIO, -1}, false, Dir.Path());
        platform::ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(ErrorCode([&] { DataBase->Commit(); }), 8450);
    }
    EXPECT_FALSE(DataBase->InTransaction());
    // Every cursor sees the table as stored, at once.
    EXPECT_EQ(second->GetTotalRecordCount(), 3);
    EXPECT_EQ(Walk(*Cursor, "ID"), Ints({1, 2, 3}));
    EXPECT_EQ(ErrorCode([&] { OpenCursor(*DataBase, "New", false); }), 10024);
    // The connection goes on: the same work commits.
    DataBase->StartTransaction();
    Insert(*Cursor, {{"ID", 4}});
    CreateTable(*DataBase, "New", kFields, kIndexes, false);
    DataBase->Commit();
    EXPECT_EQ(Walk(*second, "ID"), Ints({1, 2, 3, 4}));
}

TEST_F(DataBaseTransactionsTest, CountsTheLocksOfSeveralCursorsOfOneConnection) {
    auto second = OpenCursor(*DataBase, "T", false);
    auto other = Other();
    auto outside = OpenCursor(*other, "T", false);
    // One cursor reads under its lock; another one writes and lets go of its own lock.
    Cursor->ReadLockTable();
    Insert(*second, {{"ID", 4}});
    EXPECT_FALSE(second->TableLocked());
    // The first cursor's lock still holds the table: no other connection writes meanwhile.
    EXPECT_EQ(ErrorCode([&] { Insert(*outside, {{"ID", 5}}); }), 10249);
    Cursor->UnlockTable();
    Insert(*outside, {{"ID", 5}});
    EXPECT_EQ(Walk(*Cursor, "ID"), Ints({1, 2, 3, 4, 5}));

    // Record locks: held while any cursor of the connection holds one.
    ASSERT_TRUE(Cursor->DataSetFirst());
    const uint32_t address = Cursor->DatasetGetRecAddr();
    TTableDef& def = Cursor->TableDefinition();
    DataBase->LockRecord(&def, address);
    DataBase->LockRecord(&second->TableDefinition(), address);
    EXPECT_TRUE(DataBase->RecordLockExists(&def, address));
    DataBase->UnLockRecord(&second->TableDefinition(), address);
    EXPECT_TRUE(DataBase->RecordLockExists(&def, address));
    EXPECT_EQ(ErrorCode([&] { other->LockRecord(&outside->TableDefinition(), address); }), 10249);
    DataBase->UnLockRecord(&def, address);
    EXPECT_FALSE(DataBase->RecordLockExists(&def, address));
    other->LockRecord(&outside->TableDefinition(), address);
    other->UnLockRecord(&outside->TableDefinition(), address);

    // The header lock held on purpose keeps other connections from changing the tables.
    DataBase->SetLocked(true);
    EXPECT_EQ(ErrorCode([&] { CreateTable(*other, "U", kFields, kIndexes, false); }), 10249);
    CreateTable(*DataBase, "V", kFields, kIndexes, false);  // this connection holds it
    DataBase->SetLocked(false);
    CreateTable(*other, "U", kFields, kIndexes, false);
}

TEST_F(DataBaseTransactionsTest, DisconnectingClosesEverythingWhenAClosesFails) {
    Cursor->LockTable();
    Insert(*Cursor, {{"ID", 4}});  // the table header is written when the lock goes
    auto memoryCursor = std::make_unique<TOrqDataSet>(nullptr);
    {
        // Every write fails from now on.
        platform::NthCallFault fault(platform::FileOps(platform::FileOp::Write), 1, {EIO, -1}, true, Dir.Path());
        platform::ScopedFileFaultInjector scope(fault);
        EXPECT_NE(ErrorCode([&] { DataBase->SetConnected(false); }), 0);
        EXPECT_GT(fault.Injected(), 0);
    }
    EXPECT_FALSE(DataBase->Connected());
    EXPECT_FALSE(Cursor->InternalActive());
    EXPECT_FALSE(Cursor->TableLocked());
    // Every lock and the lock-file slot are gone: the file is free for an exclusive connection.
    EXPECT_FALSE(platform::FileExists(GetLockFileName(Path())));
    auto exclusive = std::make_unique<TTestDataBase>();
    exclusive->SetDataBaseName(Path());
    exclusive->SetExclusive(true);
    exclusive->SetConnected(true);
    exclusive->SetConnected(false);
    // Each failure was logged.
    auto log = DataBase->GetLog();
    ASSERT_NE(log, nullptr);
    EXPECT_NE(log->Text().find("TOrqDataBase.DoDisconnect"), std::string::npos);
    DataBase->SetConnected(true);
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetOpen(); }), 0);
}

TEST_F(DataBaseTransactionsTest, HandsOutGeneratorValues) {
    // The fixture's table took identifier 1.
    EXPECT_EQ(DataBase->InternalGetGenerator(C_OBJECTIDGENERATOR, true), 2);
    EXPECT_EQ(DataBase->InternalGetGenerator(C_OBJECTIDGENERATOR, true), 3);
    EXPECT_EQ(ErrorCode([&] { DataBase->InternalGetGenerator("$NONE", false); }), 8579);

    DataBase->CreateGenerator("Invoice", 100, 10);
    EXPECT_EQ(DataBase->GetGeneratorValue("invoice", true), 100);
    EXPECT_EQ(DataBase->GetGeneratorValue("invoice", true), 100);  // a peek changes nothing
    EXPECT_EQ(DataBase->GetGeneratorValue("Invoice", false), 100);
    EXPECT_EQ(DataBase->GetGeneratorValue("Invoice", false), 110);
    int32_t value = 0, step = 0;
    EXPECT_TRUE(DataBase->QueryGenerator("INVOICE", value, step));
    EXPECT_EQ(value, 120);
    EXPECT_EQ(step, 10);
    EXPECT_FALSE(DataBase->QueryGenerator("Other", value, step));

    struct Case {
        std::string Name;
        int Code;
    };
    const Case cases[] = {{"INVOICE", 8580},      {std::string(21, 'g'), 9605}, {"$X", 10125},
                          {"", 10125},            {std::string(20, 'g'), 0}};
    for (const Case& c : cases) EXPECT_EQ(ErrorCode([&] { DataBase->CreateGenerator(c.Name, 1, 1); }), c.Code) << c.Name;
    // An existing name is refused before its length is looked at.
    EXPECT_EQ(ErrorCode([&] { DataBase->CreateGenerator(std::string(20, 'G'), 1, 1); }), 8580);
    EXPECT_EQ(ErrorCode([&] { DataBase->GetGeneratorValue("Missing", true); }), 8579);

    TStringList names;
    names.Add("left over");
    DataBase->GetGeneratorNames(&names);
    EXPECT_EQ(names.CommaText(), std::string(20, 'g') + ",Invoice");
    DataBase->DeleteGenerator("Invoice");
    DataBase->DeleteGenerator("Invoice");  // a missing one is no error
    DataBase->GetGeneratorNames(&names);
    EXPECT_EQ(names.Count(), 1);

    // The values are stored.
    DataBase->SetConnected(false);
    DataBase->SetConnected(true);
    EXPECT_EQ(DataBase->InternalGetGenerator(C_OBJECTIDGENERATOR, true), 4);
}

TEST_F(DataBaseTransactionsTest, ADatabaseOfMinorVersionOneHasNoGenerators) {
    DataBase->SetConnected(false);
    RewriteDefinitionRecord(Path(), [](TDBDefRecord& Record) { Record.Version = "1.1.0"; });
    DataBase->SetConnected(true);
    EXPECT_EQ(DataBase->MinorVersion(), 1);
    EXPECT_EQ(ErrorCode([&] { DataBase->InternalGetGenerator(C_OBJECTIDGENERATOR, true); }), 12041);
    int32_t value = 0, step = 0;
    for (const auto& operation : std::vector<std::function<void()>>{
             [&] { DataBase->CreateGenerator("G", 1, 1); }, [&] { DataBase->DeleteGenerator("G"); },
             [&] { DataBase->GetGeneratorValue("G", true); }, [&] { DataBase->GetGeneratorValue("G", false); },
             [&] { DataBase->QueryGenerator("G", value, step); }})
        EXPECT_EQ(ErrorCode(operation), 12041);
    TStringList names;
    EXPECT_EQ(ErrorCode([&] { DataBase->GetGeneratorNames(&names); }), 12041);
    DataBase->GetSystemTableNames(&names);
    EXPECT_EQ(names.Count(), 0);
    EXPECT_EQ(Walk(*OpenCursor(*DataBase, "T", false), "ID"), Ints({1, 2, 3}));
}

// Two processes draw 1,000 values each from one generator: every value is handed out once.
TEST_F(DataBaseTransactionsTest, TwoProcessesNeverDrawTheSameValue) {
    DataBase->CreateGenerator("Shared", 1, 1);
    DataBase->SetConnected(false);
    constexpr int Draws = 1000;
    auto draw = [this](const std::string& Output) {
        return [this, Output](test::Child& Self) {
            // A loaded machine may keep a drawer waiting long, also while it connects.
            auto database = ConnectDataBase(Path(), 5000);
            Self.Send('r');
            Self.Receive();  // both start together
            std::ofstream out(Output);
            for (int i = 0; i < Draws; ++i) {
                try {
                    out << database->GetGeneratorValue("Shared", false) << '\n';
                } catch (const EOrqDatabaseError& e) {
                    std::fprintf(stderr, "draw %d: %d %s\n", i, int(e.ErrorCode), e.ErrorMessage.c_str());
                    return 3;
                }
            }
            return out ? 0 : 1;
        };
    };
    test::Child first(draw(Dir.File("first.txt")));
    test::Child second(draw(Dir.File("second.txt")));
    ASSERT_EQ(first.Receive(), 'r');
    ASSERT_EQ(second.Receive(), 'r');
    first.Send('g');
    second.Send('g');
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    std::set<int> values;
    int count = 0;
    for (const char* name : {"first.txt", "second.txt"}) {
        std::ifstream in(Dir.File(name));
        for (int value; in >> value; ++count) values.insert(value);
    }
    EXPECT_EQ(count, 2 * Draws);
    EXPECT_EQ(values.size(), size_t(2 * Draws));
    EXPECT_EQ(*values.begin(), 1);
    EXPECT_EQ(*values.rbegin(), 2 * Draws);
}

}  // namespace
}  // namespace ostra::componentstest
