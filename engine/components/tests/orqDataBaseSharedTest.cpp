// Two processes on one database file through the database component: each sees the tables the
// other creates (and their rows) at once, tables created at the same time by both all arrive
// whole and a name taken by both goes to one of them, and a connection made again after another
// process renamed and deleted tables (which needs the file to itself) sees the file as it is now.
#include <gtest/gtest.h>

#include <set>

#include "host/StringList.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

const std::vector<TFieldSpec> kFields = {{"ID", ftInteger}, {"NAME", ftString, 20}};
const std::vector<TIndexSpec> kIndexes = {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}};

std::string Names(TOrqDataBase& DataBase) {
    TStringList names;
    DataBase.GetTableNames(&names, false);
    return names.CommaText();
}

// The child's side: one step per message from the test; it answers 'k' when the step saw what it
// should and 'x' otherwise, and ends at 'q'.
int ChildSteps(test::Child& Self, const std::string& Path) {
    // Its connection is made while the test creates tables: wait as long as the test does.
    auto database = ConnectDataBase(Path, 2000);
    auto answer = [&Self](bool Good) { Self.Send(Good ? 'k' : 'x'); };
    for (char step = Self.Receive(); step != 'q' && step != '\0'; step = Self.Receive()) {
        try {
            switch (step) {
                case 'a':  // the test's new table and its rows
                    answer(Names(*database) == "Orders" &&
                           Walk(*OpenCursor(*database, "Orders", false), "ID") == Ints({1, 2}));
                    break;
                case 'b':  // a table of its own, with a row
                    CreateTable(*database, "Customers", kFields, kIndexes, false);
                    Insert(*OpenCursor(*database, "Customers", false), {{"ID", 7}});
                    answer(true);
                    break;
                case 'c':  // ten tables while the test makes ten, and one name both want
                    for (int i = 0; i < 10; ++i) CreateTable(*database, "Child" + std::to_string(i), kFields, kIndexes, false);
                    answer(ErrorCode([&] { CreateTable(*database, "Both", kFields, kIndexes, false); }) == 0);
                    break;
                case 'd':  // away while the test renames and deletes
                    database->SetConnected(false);
                    answer(true);
                    break;
                case 'e':  // back: the file as it is now
                    database->SetConnected(true);
                    answer(Names(*database).find("Orders") == std::string::npos &&
                           Walk(*OpenCursor(*database, "Sales", false), "ID") == Ints({1, 2}) &&
                           ErrorCode([&] { OpenCursor(*database, "Customers", false); }) == 10024 &&
                           ErrorCode([&] { CreateTable(*database, "Customers", kFields, kIndexes, false); }) == 0);
                    break;
                default:
                    answer(false);
            }
        } catch (...) {
            answer(false);
        }
    }
    return 0;
}

TEST(DataBaseSharedTest, TwoProcessesSeeEachOthersTables) {
    test::TempDir dir;
    const std::string path = dir.File("shared.orq");
    auto database = MakeDataBase(path);
    database->SetLockRetryMaximum(2000);
    test::Child child([&path](test::Child& Self) { return ChildSteps(Self, path); });

    CreateTable(*database, "Orders", kFields, kIndexes, false);
    auto orders = OpenCursor(*database, "Orders", false);
    Insert(*orders, {{"ID", 1}});
    Insert(*orders, {{"ID", 2}});
    child.Send('a');
    EXPECT_EQ(child.Receive(), 'k');
    child.Send('b');
    EXPECT_EQ(child.Receive(), 'k');
    EXPECT_EQ(Names(*database), "Customers,Orders");
    EXPECT_EQ(Walk(*OpenCursor(*database, "Customers", false), "ID"), Ints({7}));

    child.Send('c');
    for (int i = 0; i < 10; ++i) CreateTable(*database, "Parent" + std::to_string(i), kFields, kIndexes, false);
    const int32_t mine = ErrorCode([&] { CreateTable(*database, "Both", kFields, kIndexes, false); });
    const bool childGotIt = child.Receive() == 'k';
    EXPECT_NE(mine == 0, childGotIt);  // one of the two, never both
    if (mine != 0) {
        EXPECT_EQ(mine, 13060);
    }
    TStringList names;
    database->GetTableNames(&names, false);
    EXPECT_EQ(names.Count(), 23);
    std::set<int32_t> ids;
    for (int i = 0; i < names.Count(); ++i) {
        auto cursor = OpenCursor(*database, names.Strings(i), false);
        ids.insert(cursor->TableDefinition().TableID());
        EXPECT_EQ(cursor->GetTotalRecordCount(), names.Strings(i) == "Orders" ? 2 : names.Strings(i) == "Customers" ? 1 : 0);
    }
    EXPECT_EQ(ids.size(), 23u);

    // Renaming and deleting need the file to itself.
    child.Send('d');
    EXPECT_EQ(child.Receive(), 'k');
    orders.reset();
    database->SetConnected(false);
    database->SetExclusive(true);
    database->SetConnected(true);
    database->RenameTable("Orders", "Sales");
    database->DeleteTable("Customers", false);
    database->SetConnected(false);
    child.Send('e');
    EXPECT_EQ(child.Receive(), 'k');
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
}

}  // namespace
}  // namespace ostra::componentstest
