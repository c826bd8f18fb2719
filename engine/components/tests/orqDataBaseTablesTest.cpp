// Tables through the database component: creating, listing, opening, renaming and deleting with
// their errors, internal ("$") tables, the privileges the operations need, the definitions dump,
// and what a write failing at any point of a create or a delete leaves: a table wholly there or
// wholly gone, no row naming a table that cannot be opened, no pages of a table nobody names.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <set>

#include "engine/storage/orqTableHeader.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/StringList.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

const std::vector<TFieldSpec> kFields = {{"ID", ftInteger}, {"NAME", ftString, 20}, {"NOTE", ftMemo}};
const std::vector<TIndexSpec> kIndexes = {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}, {"ixName", "NAME", {}}};

std::string Names(TOrqDataBase& DataBase, bool System = false) {
    TStringList names;
    if (System)
        DataBase.GetSystemTableNames(&names);
    else
        DataBase.GetTableNames(&names, false);
    return names.CommaText();
}

// The user tables a fresh connection to Path lists.
std::string NamesIn(const std::string& Path) { return Names(*ConnectDataBase(Path)); }

void Fill(TTestDataBase& DataBase, const std::string& Name, int Rows) {
    auto cursor = OpenCursor(DataBase, Name, false);
    for (int i = 1; i <= Rows; ++i) Insert(*cursor, {{"ID", i}, {"NAME", Name + std::to_string(i)}});
}

// What a fresh connection finds wrong with the database at Path ("" when nothing): every listed
// table opens and holds Rows records reachable through each index; the user table map holds
// exactly the listed tables; no page belongs to a table the map does not hold; the maps agree with
// the file.
std::string Audit(const std::string& Path, int Rows) {
    auto database = ConnectDataBase(Path);
    std::string problems;
    TStringList names;
    database->GetTableNames(&names, false);
    std::set<uint32_t> listed;
    for (int i = 0; i < names.Count(); ++i) {
        try {
            auto cursor = OpenCursor(*database, names.Strings(i), false);
            listed.insert(uint32_t(cursor->TableDefinition().TableID()));
            for (const char* index : {"PK", "ixName"}) {
                cursor->InternalSetIndexName(index);
                if (Walk(*cursor, "ID").size() != size_t(Rows))
                    problems += names.Strings(i) + " has other rows by " + index + "; ";
            }
        } catch (const std::exception& E) {
            problems += names.Strings(i) + " does not open: " + E.what() + "; ";
        }
    }
    std::set<uint32_t> mapped;
    const TTableHeaderMgr& map = *database->UserTableMgr()->HeaderMgr();
    for (int entry = 0; entry < CTableMapEntries && map.MapTableID(entry) != 0; ++entry)
        mapped.insert(map.MapTableID(entry));
    if (mapped != listed) problems += "the table map holds other tables than the master table; ";
    for (uint16_t id = 1; id < 64; ++id) {
        std::vector<uint32_t> pages;
        database->DiskMgr()->DebugListOwnedPages(id, pages);
        if (!pages.empty() && !mapped.count(id)) problems += "pages of table " + std::to_string(id) + " nobody holds; ";
    }
    problems += database->DiskMgr()->DebugCheckStatus();
    return problems;
}

class DataBaseTablesTest : public ::testing::Test {
protected:
    void SetUp() override { DataBase = MakeDataBase(Path()); }
    std::string Path() const { return Dir.File("tables.orq"); }
    void Reconnect(bool Exclusive) {
        DataBase->SetConnected(false);
        DataBase->SetExclusive(Exclusive);
        DataBase->SetConnected(true);
    }

    test::TempDir Dir;
    std::unique_ptr<TTestDataBase> DataBase;
};

TEST_F(DataBaseTablesTest, CreatesListsRenamesAndDeletesTables) {
    for (const char* name : {"Orders", "customers", "Bills"}) CreateTable(*DataBase, name, kFields, kIndexes, false);
    EXPECT_EQ(Names(*DataBase), "Bills,customers,Orders");
    EXPECT_EQ(ErrorCode([&] { CreateTable(*DataBase, "ORDERS", kFields, kIndexes, false); }), 13060);
    Fill(*DataBase, "Orders", 3);
    auto cursor = OpenCursor(*DataBase, "orders", false);  // any letter case
    EXPECT_EQ(cursor->TableDefinition().TableName(), "Orders");
    const int32_t ordersID = cursor->TableDefinition().TableID();
    EXPECT_EQ(DataBase->GetLocalConnectedUserCount("ORDERS"), 1);

    Reconnect(true);
    cursor = OpenCursor(*DataBase, "Orders", false);
    EXPECT_EQ(ErrorCode([&] { DataBase->RenameTable("Orders", "Sales"); }), 10119);
    EXPECT_EQ(ErrorCode([&] { DataBase->DeleteTable("Orders", false); }), 10053);
    cursor.reset();
    EXPECT_EQ(ErrorCode([&] { DataBase->RenameTable("Orders", "CUSTOMERS"); }), 13060);
    EXPECT_EQ(ErrorCode([&] { DataBase->RenameTable("Orders", std::string(41, 'x')); }), 10039);
    EXPECT_EQ(ErrorCode([&] { DataBase->RenameTable("Orders", "$Orders"); }), 10039);
    EXPECT_EQ(ErrorCode([&] { DataBase->RenameTable("Nothing", "Other"); }), 10024);
    DataBase->RenameTable("Orders", "ORDERS");  // the same name: no rename
    EXPECT_EQ(Names(*DataBase), "Bills,customers,Orders");
    DataBase->RenameTable("orders", "Sales");
    EXPECT_EQ(Names(*DataBase), "Bills,customers,Sales");
    cursor = OpenCursor(*DataBase, "Sales", false);
    EXPECT_EQ(cursor->TableDefinition().TableID(), ordersID);
    EXPECT_EQ(Walk(*cursor, "ID"), Ints({1, 2, 3}));
    cursor.reset();
    // The old name is free again.
    CreateTable(*DataBase, "Orders", kFields, kIndexes, false);

    TTableDef bills(nullptr);
    DataBase->QueryTableDef("Bills", false, &bills);
    DataBase->DeleteTable("BILLS", false);
    EXPECT_EQ(Names(*DataBase), "customers,Orders,Sales");
    std::vector<uint32_t> pages;
    DataBase->DiskMgr()->DebugListOwnedPages(uint16_t(bills.TableID()), pages);
    EXPECT_TRUE(pages.empty());
    EXPECT_EQ(ErrorCode([&] { DataBase->DeleteTable("Bills", false); }), 10024);
    EXPECT_EQ(ErrorCode([&] { OpenCursor(*DataBase, "Bills", false); }), 10024);
    DataBase->SetConnected(false);
    EXPECT_EQ(Audit(Path(), 0).find("does not open"), std::string::npos);
}

// The tables a rebuild works with have names no other table can take, so that dropping what an
// unfinished rebuild left never drops a table of the user's.
TEST_F(DataBaseTablesTest, NoTableTakesTheNameOfARebuildsWorkTable) {
    CreateTable(*DataBase, "Orders", kFields, kIndexes, false);
    for (const std::string& name :
         {RebuildWorkTableName("Orders", false), RebuildWorkTableName("Orders", true), std::string("~RESTRUCTURE-x")}) {
        for (bool memory : {false, true})
            EXPECT_EQ(ErrorCode([&] { CreateTable(*DataBase, name, kFields, kIndexes, memory); }), 10039) << name;
    }
    CreateTable(*DataBase, "~restructured", kFields, kIndexes, false);
    Reconnect(true);
    EXPECT_EQ(ErrorCode([&] { DataBase->RenameTable("Orders", RebuildWorkTableName("Orders", false)); }), 10039);
    EXPECT_EQ(Names(*DataBase), "~restructured,Orders");
    EXPECT_NE(RebuildWorkTableName("Orders", false), RebuildWorkTableName("Order", false));
    EXPECT_EQ(RebuildWorkTableName("Orders", true), RebuildWorkTableName("ORDERS", true));
}

// An encrypted table opens only under the name its check value gives: the value follows a rename.
TEST_F(DataBaseTablesTest, ARenamedEncryptedTableOpens) {
    CreateTable(*DataBase, "Secret", kFields, kIndexes, false, encWeak);
    Fill(*DataBase, "Secret", 2);
    Reconnect(true);
    DataBase->RenameTable("Secret", "Hidden");
    EXPECT_EQ(Walk(*OpenCursor(*DataBase, "Hidden", false), "ID"), Ints({1, 2}));
    DataBase->RenameTable("Hidden", "HIDDEN");  // the same name: no rename
    EXPECT_EQ(Walk(*OpenCursor(*DataBase, "hidden", false), "ID"), Ints({1, 2}));
}

TEST_F(DataBaseTablesTest, KeepsInternalAndInMemoryTablesApart) {
    CreateTable(*DataBase, "$Own", kFields, kIndexes, false);
    CreateTable(*DataBase, "Scratch", kFields, kIndexes, true);
    EXPECT_EQ(Names(*DataBase), "");
    EXPECT_EQ(Names(*DataBase, true), "$Own,$SYSTBL_INTGENERATOR,$SYSTBL_OBJECTIDREF");
    auto own = OpenCursor(*DataBase, "$own", false);
    EXPECT_TRUE(own->GetSystemTable());
    EXPECT_GE(own->TableDefinition().TableID(), C_FIRSTSYSTEMTABLEID);
    own.reset();

    Reconnect(true);
    CreateTable(*DataBase, "Scratch", kFields, kIndexes, true);
    EXPECT_EQ(ErrorCode([&] { DataBase->RenameTable("Scratch", "Other"); }), 10766);
    auto scratch = OpenCursor(*DataBase, "Scratch", true);
    EXPECT_EQ(ErrorCode([&] { DataBase->DeleteTable("Scratch", true); }), 10053);
    scratch.reset();
    DataBase->DeleteTable("Scratch", true);
    TStringList names;
    DataBase->GetTableNames(&names, true);
    EXPECT_EQ(names.Count(), 0);
    DataBase->DeleteTable("$Own", false);
    EXPECT_EQ(Names(*DataBase, true), "$SYSTBL_INTGENERATOR,$SYSTBL_OBJECTIDREF");
}

TEST_F(DataBaseTablesTest, DeletingAndRenamingNeedTheirPrivileges) {
    CreateTable(*DataBase, "Orders", kFields, kIndexes, false);
    Reconnect(true);
    DataBase->SetTablePrivileges("Orders", 2048);  // read only
    EXPECT_EQ(ErrorCode([&] { DataBase->DeleteTable("Orders", false); }), 10624);
    EXPECT_EQ(ErrorCode([&] { DataBase->RenameTable("Orders", "Sales"); }), 10624);
    EXPECT_EQ(Names(*DataBase), "Orders");
    DataBase->SetTablePrivileges("Orders", 4 | 16);  // drop and alter
    DataBase->RenameTable("Orders", "Sales");
    DataBase->DeleteTable("Sales", false);
    EXPECT_EQ(Names(*DataBase), "");
}

TEST_F(DataBaseTablesTest, SavesTheTableDefinitionsBesideTheDatabase) {
    DataBase->SetSaveTableDefinitions(true);
    CreateTable(*DataBase, "Orders", kFields, kIndexes, false);
    Fill(*DataBase, "Orders", 2);
    CreateTable(*DataBase, "Customers", {{"NO", ftAutoInc}, {"NAME", ftString, 30}}, {}, false);
    const std::string dump = Dir.File("tables.ord");
    ASSERT_TRUE(platform::FileExists(dump));
    auto copy = ConnectDataBase(dump);
    EXPECT_EQ(Names(*copy), "Customers,Orders");
    auto orders = OpenCursor(*copy, "Orders", false);
    EXPECT_EQ(orders->GetInternalFieldCount(), 3);
    EXPECT_EQ(orders->InternalGetIndexCount(), 2);
    EXPECT_EQ(orders->GetTotalRecordCount(), 0);  // definitions only
}

// A write failing at each point of a create, then of a delete. On its own the change is one
// transaction: the file is as before. While a cursor holds a lock (so that no transaction of the
// change's own may end and release it) the change writes in its safe order: no row ever names a
// table that cannot be opened, and a table the failure kept is whole.
class DataBaseTableFailureTest : public DataBaseTablesTest, public ::testing::WithParamInterface<bool> {
protected:
    bool HoldLock() const { return GetParam(); }
    // Runs Change with the N-th write of the folder failing; its error code (0: the change did
    // not come to N writes, and went through).
    int32_t FailWrite(int64_t N, bool& Injected, const std::function<void()>& Change) {
        auto holder = HoldLock() ? OpenCursor(*DataBase, "Kept", false) : nullptr;
        if (holder) holder->ReadLockTable();
        platform::NthCallFault fault(platform::FileOps(platform::FileOp::Write), N, {EIO, -1}, false, Dir.Path());
        int32_t code;
        {
            platform::ScopedFileFaultInjector scope(fault);
            code = ErrorCode(Change);
        }
        Injected = fault.Injected() > 0;
        return code;
    }
};

TEST_P(DataBaseTableFailureTest, LeavesATableWhollyThereOrWhollyGone) {
    CreateTable(*DataBase, "Kept", kFields, kIndexes, false);
    Fill(*DataBase, "Kept", 2);
    DataBase->SetConnected(false);
    const std::string before = test::ReadAll(Path());
    int failures = 0;
    for (int64_t n = 1;; ++n) {
        SCOPED_TRACE("create, write " + std::to_string(n));
        test::WriteAll(Path(), before);
        DataBase->SetConnected(true);
        bool injected;
        const int32_t code = FailWrite(n, injected, [&] { CreateTable(*DataBase, "Added", kFields, kIndexes, false); });
        DataBase->SetConnected(false);
        if (!injected) break;
        ++failures;
        EXPECT_NE(code, 0);
        const std::string names = NamesIn(Path());
        if (!HoldLock()) {
            EXPECT_TRUE(test::ReadAll(Path()) == before);
        } else if (names == "Added,Kept") {
            Fill(*ConnectDataBase(Path()), "Added", 2);  // the row is in: the table is whole
        } else {
            EXPECT_EQ(names, "Kept");
        }
        // A page appended outside a transaction whose map entry could not be written is lost
        // space (never handed out again), nothing worse.
        std::string problems = Audit(Path(), 2);
        if (HoldLock()) problems = problems.substr(0, problems.find("Pages without a map entry"));
        EXPECT_EQ(problems, "");
    }
    EXPECT_GT(failures, 5);

    DataBase->SetExclusive(true);
    DataBase->SetConnected(true);
    Fill(*DataBase, "Added", 2);
    DataBase->SetConnected(false);
    const std::string withBoth = test::ReadAll(Path());
    failures = 0;
    for (int64_t n = 1;; ++n) {
        SCOPED_TRACE("delete, write " + std::to_string(n));
        test::WriteAll(Path(), withBoth);
        DataBase->SetConnected(true);
        bool injected;
        const int32_t code = FailWrite(n, injected, [&] { DataBase->DeleteTable("Added", false); });
        DataBase->SetConnected(false);
        if (!injected) break;
        ++failures;
        EXPECT_NE(code, 0);
        const std::string names = NamesIn(Path());
        if (!HoldLock()) {
            EXPECT_TRUE(test::ReadAll(Path()) == withBoth);
        }
        if (names == "Added,Kept") {
            EXPECT_EQ(Audit(Path(), 2), "");
        } else {
            // The row went first: whatever the failure kept of the table, nobody names it and no
            // other table can take its pages.
            EXPECT_EQ(names, "Kept");
            EXPECT_EQ(Audit(Path(), 2).find("does not open"), std::string::npos);
        }
    }
    EXPECT_GT(failures, 2);
    EXPECT_EQ(Audit(Path(), 2), "");
}

INSTANTIATE_TEST_SUITE_P(DataBaseTables, DataBaseTableFailureTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& Info) {
                             return std::string(Info.param ? "WhileACursorHoldsALock" : "OnItsOwn");
                         });

}  // namespace
}  // namespace ostra::componentstest
