// The engine cursor's structure, opening and closing: the open on disk and in memory, the choice of
// the current index, what a failed open leaves behind (nothing registered, nothing written), the
// read-only rules, the framework slots a bare cursor refuses, the table header counter that drops
// cached views when another connection wrote, privileges, and the binding to the database.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/StringList.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

const std::vector<TFieldSpec> kFields = {{"ID", ftInteger}, {"NAME", ftString, 20}, {"NOTE", ftMemo}};
const std::vector<TIndexSpec> kIndexes = {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}, {"ixName", "NAME", {}}};

class CursorOpenTest : public TCursorTest {
protected:
    void SetUp() override {
        TCursorTest::SetUp();
        Create("Orders", kFields, kIndexes);
    }
    // The cursors of this connection open on the table.
    int Users(const std::string& Name) {
        return Memory() ? DataBase->MemoryTableMgr().CheckTableUserCount(Name) : DataBase->GetLocalConnectedUserCount(Name);
    }
};

TEST_P(CursorOpenTest, OpensAndClosesTheTable) {
    auto cursor = Open("Orders");
    EXPECT_TRUE(cursor->InternalActive());
    EXPECT_EQ(cursor->IndexName(), "PK");
    EXPECT_EQ(cursor->Version(), "1.43.02");
    EXPECT_EQ(cursor->RecordBufferSize(), cursor->TableDefinition().RecordSize() + 12);
    EXPECT_EQ(cursor->GetInternalFieldCount(), 3);
    EXPECT_EQ(cursor->UseReadAheadBuffer(), !Memory());
    EXPECT_EQ(Users("Orders"), 1);
    // The owner tag written into records: table id * 16 + 9.
    EXPECT_EQ(cursor->RecordOwnerTag(), uint32_t(cursor->TableDefinition().TableID()) * 16 + 9);

    cursor->DataSetClose();
    EXPECT_FALSE(cursor->InternalActive());
    EXPECT_EQ(cursor->RecordBuffer(), nullptr);
    EXPECT_EQ(Users("Orders"), 0);
    cursor->DataSetClose();  // closed: nothing happens
    EXPECT_THROW(cursor->CheckInternalActive(), EDatabaseError);  // the framework's error

    cursor->DataSetOpen();
    EXPECT_THROW(cursor->DataSetOpen(), EDatabaseError);  // open: the framework's error
    EXPECT_EQ(ErrorCode([&] { cursor->InternalOpenDataSet(); }), 10031);
    EXPECT_EQ(cursor->GetTotalRecordCount(), 0);
}

TEST_P(CursorOpenTest, ChoosesTheCurrentIndex) {
    auto cursor = std::make_unique<TOrqDataSet>(nullptr);
    cursor->SetDataBase(DataBase.get());
    cursor->SetTableName("Orders");
    cursor->SetMemory(Memory());
    cursor->InternalSetIndexName("IXNAME");
    cursor->DataSetOpen();
    EXPECT_EQ(cursor->IndexName(), "ixName");  // found ignoring case, stored as the table has it
    cursor->DataSetClose();
    cursor->InternalSetIndexName("nothing");
    cursor->DataSetOpen();
    EXPECT_EQ(cursor->IndexName(), "PK");  // none of that name: the first visible index

    // A table without indexes has the hidden insertion-order index, whatever IndexName says.
    Create("Log", {{"TEXT", ftString, 10}}, {});
    auto log = OpenCursor(*DataBase, "Log", Memory(), "");
    EXPECT_EQ(log->IndexName(), "_LogicalRecNo");
    EXPECT_EQ(log->InternalGetIndexCount(), 0);
}

TEST_P(CursorOpenTest, RefusesTheFrameworkRoads) {
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(DataBase.get());
    cursor.SetTableName("Orders");
    EXPECT_EQ(ErrorCode([&] { cursor.Open(); }), 8577);
}

TEST_P(CursorOpenTest, SettersRefuseAnOpenCursor) {
    auto cursor = Open("Orders");
    EXPECT_THROW(cursor->SetTableName("Other"), EDatabaseError);
    EXPECT_THROW(cursor->SetReadOnly(true), EDatabaseError);
    EXPECT_THROW(cursor->SetDataBase(nullptr), EDatabaseError);
    cursor->SetReadAheadBufferSize(4);  // allowed at any time
    EXPECT_EQ(cursor->ReadAheadBufferSize(), 4);
}

TEST_P(CursorOpenTest, BindsToTheDatabase) {
    // A cursor takes the collation of the database it is bound to.
    TTestDataBase ascii;
    ascii.SetDataBaseName("MEMORY");
    ascii.SetDefaultSortOrder(soASCII);
    ascii.SetConnected(true);
    auto cursor = std::make_unique<TOrqDataSet>(nullptr);
    cursor->SetDataBase(&ascii);
    EXPECT_EQ(cursor->SortOrder(), soASCII);
    cursor->SetDataBase(DataBase.get());
    EXPECT_EQ(ascii.DataSetCount(), 0);
    EXPECT_EQ(DataBase->DataSetCount(), 1);
    EXPECT_EQ(cursor->SortOrder(), soANSI);
    cursor->SetTableName("orders");
    cursor->SetMemory(Memory());
    EXPECT_TRUE(cursor->GetExists());
    cursor->SetTableName("Customers");
    EXPECT_FALSE(cursor->GetExists());
    cursor->SetDataBase(nullptr);
    EXPECT_EQ(DataBase->DataSetCount(), 0);
    EXPECT_FALSE(cursor->GetExists());

    // A database that goes away while a cursor is open leaves the cursor closed and unbound.
    cursor->SetDataBase(DataBase.get());
    cursor->SetTableName("Orders");
    cursor->DataSetOpen();
    DataBase.reset();
    EXPECT_FALSE(cursor->InternalActive());
    EXPECT_EQ(cursor->DataBase(), nullptr);
}

TEST_P(CursorOpenTest, ReadOnlyDatabasesMakeReadOnlyDiskCursors) {
    auto cursor = Open("Orders");
    Insert(*cursor, {{"ID", 1}, {"NAME", "one"}});
    cursor.reset();
    if (!Memory()) {
        DataBase->SetConnected(false);
        DataBase->SetReadOnly(true);
        DataBase->SetConnected(true);
    }
    CreateTable(*DataBase, "Scratch", kFields, kIndexes, true);
    auto disk = Memory() ? nullptr : Open("Orders");
    auto memory = OpenCursor(*DataBase, "Scratch", true);
    EXPECT_FALSE(memory->ReadOnly());
    Insert(*memory, {{"ID", 1}});
    if (disk) {
        EXPECT_TRUE(disk->ReadOnly());
        EXPECT_TRUE(disk->DataSetFirst());
        EXPECT_EQ(ErrorCode([&] { Insert(*disk, {{"ID", 2}}); }), 10763);
        EXPECT_EQ(ErrorCode([&] { disk->UpdateRecord(); }), 10763);
        EXPECT_EQ(ErrorCode([&] { disk->DeleteRecord(nullptr); }), 10763);
    }
}

// A failed open gives the table back to its manager: the table can be deleted afterwards, and the
// failure wrote nothing.
TEST_P(CursorOpenTest, AFailedOpenLeavesNothingBehind) {
    if (Memory()) GTEST_SKIP() << "the stored definition is a disk table's";
    CreateTable(*DataBase, "Secret", kFields, kIndexes, false, encWeak);
    auto good = Open("Secret");  // the check value transforms back to the name
    Insert(*good, {{"ID", 7}, {"NAME", "x"}});
    good.reset();
    // The stored check value no longer gives back the name.
    RewriteDefinition(*DataBase, "Secret", [](TTableDef& Def) { Def.SetAltName(std::string(Def.AltName().size(), 'Z')); });
    const std::string before = test::ReadAll(Dir.File("cursor.orq"));

    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(DataBase.get());
    cursor.SetTableName("Secret");
    EXPECT_EQ(ErrorCode([&] { cursor.DataSetOpen(); }), 8961);
    EXPECT_NE(ErrorText([&] { cursor.DataSetOpen(); }).find("The encrpytion key is not valid or corrupted"),
              std::string::npos);
    EXPECT_FALSE(cursor.InternalActive());
    EXPECT_EQ(DataBase->GetLocalConnectedUserCount("Secret"), 0);
    EXPECT_EQ(test::ReadAll(Dir.File("cursor.orq")), before);
    DataBase->SetConnected(false);
    DataBase->SetExclusive(true);
    DataBase->SetConnected(true);
    DataBase->DeleteTable("Secret", false);
}

// Another connection's write shows at the next lock: the cached views of the table are dropped.
TEST_P(CursorOpenTest, AnotherWriterDropsCachedViewsAtTheNextLock) {
    if (Memory()) GTEST_SKIP() << "an in-memory table has one connection";
    auto cursor = Open("Orders");
    for (int i = 1; i <= 30; ++i) Insert(*cursor, {{"ID", i}});
    ASSERT_TRUE(cursor->DataSetFirst());
    ASSERT_TRUE(cursor->DataSetNext());
    EXPECT_GT(cursor->ReadAheadBuffer().Count(), 1);
    EXPECT_EQ(cursor->GetTotalRecordCount(), 30);

    auto other = ConnectDataBase(Dir.File("cursor.orq"));
    auto writer = OpenCursor(*other, "Orders", false);
    Insert(*writer, {{"ID", 31}});

    EXPECT_EQ(cursor->GetTotalRecordCount(), 30);  // trusted until the next lock
    cursor->ReadLockTable();
    EXPECT_TRUE(cursor->HasTableHeaderChanged());
    EXPECT_EQ(cursor->ReadAheadBuffer().Count(), 0);
    EXPECT_FALSE(cursor->ReadAheadBuffer().RecordCountValid());
    cursor->UnlockTable();
    EXPECT_EQ(cursor->GetTotalRecordCount(), 31);
    EXPECT_TRUE(cursor->DataSetLast());
    EXPECT_EQ(GetValue(*cursor, "ID").AsInteger(), 31);

    // The cursor's own writes are no news to it.
    Insert(*cursor, {{"ID", 32}});
    cursor->ReadLockTable();
    EXPECT_FALSE(cursor->HasTableHeaderChanged());
    cursor->UnlockTable();
}

TEST_P(CursorOpenTest, ChecksPrivileges) {
    auto cursor = Open("Orders");
    Insert(*cursor, {{"ID", 1}});
    cursor.reset();
    DataBase->SetTablePrivileges("Orders", 2048);  // read only
    cursor = Open("Orders");
    EXPECT_TRUE(cursor->CheckReadOnlyPrivileges());
    ASSERT_TRUE(cursor->DataSetFirst());
    EXPECT_EQ(ErrorCode([&] { Insert(*cursor, {{"ID", 2}}); }), 10624);
    ASSERT_TRUE(cursor->DataSetFirst());
    EXPECT_EQ(ErrorCode([&] { cursor->UpdateRecord(); }), 10624);
    EXPECT_EQ(ErrorCode([&] { cursor->DeleteRecord(nullptr); }), 10624);
    EXPECT_EQ(ErrorCode([&] { cursor->DataSetSetFieldData(0, 4, true, nullptr); }), 10624);
    EXPECT_EQ(ErrorCode([&] { cursor->CheckPrivilegePresent(2048, 2048); }), 0);

    // The engine's own tables pass every check.
    Create("$Internal", kFields, kIndexes);
    DataBase->SetTablePrivileges("$Internal", 0);
    auto internal = Open("$Internal");
    EXPECT_TRUE(internal->GetSystemTable());
    Insert(*internal, {{"ID", 1}});
    EXPECT_EQ(internal->GetTotalRecordCount(), 1);
}

TEST_P(CursorOpenTest, CreatingNeedsTheCreatePrivilege) {
    DataBase->SetCreatePrivilege(false);
    EXPECT_EQ(ErrorCode([&] { Create("Other", kFields, kIndexes); }), 10624);
    TStringList names;
    DataBase->GetTableNames(&names, Memory());
    EXPECT_EQ(names.Count(), 1);
}

INSTANTIATE_CURSOR_TESTS(CursorOpenTest);

}  // namespace
}  // namespace ostra::componentstest
