// Copying and rebuilding a database through the database component, on real files: the copy's
// refusals (the file itself under another spelling or through a link, an existing target), the
// rebuild's backup, log and progress, a table whose copy fails, a rebuild that cannot read its
// backup (the live file untouched), and a rebuild with no Directory set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/components/orqDataBase.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/StringList.h"
#include "platform/File.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

const std::vector<TFieldSpec> kFields = {{"ID", ftInteger}, {"NAME", ftString, 20}};
const std::vector<TIndexSpec> kIndexes = {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}};

std::string ReadText(const std::string& Path) {
    std::ifstream file(Path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class DataBaseMaintenanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto database = MakeDataBase(Path());
        for (const char* table : {"Alpha", "Beta"}) {
            CreateTable(*database, table, kFields, kIndexes, false);
            auto cursor = OpenCursor(*database, table, false);
            for (int i = 1; i <= 30; ++i) Insert(*cursor, {{"ID", i}, {"NAME", std::string(table) + std::to_string(i)}});
        }
        database->CreateGenerator("Orders", 500, 5);
        database->GetGeneratorValue("Orders", false);
    }
    std::string Path() const { return Dir.File("shop.orq"); }
    std::unique_ptr<TTestDataBase> Closed() {
        auto database = std::make_unique<TTestDataBase>();
        database->SetDataBaseName(Path());
        return database;
    }
    std::vector<Variant> Ids(const std::string& Table) {
        auto database = ConnectDataBase(Path());
        return Walk(*OpenCursor(*database, Table, false), "ID");
    }
    std::vector<Variant> AllIds() {
        std::vector<int> ids;
        for (int i = 1; i <= 30; ++i) ids.push_back(i);
        return Ints(ids);
    }

    test::TempDir Dir;
};

TEST_F(DataBaseMaintenanceTest, CopyRefusesTheFileItselfAndAnExistingTarget) {
    auto database = Closed();
    const std::string link = Dir.File("link.orq");
    std::filesystem::create_symlink(Path(), link);
    for (const std::string& same : {Path(), Dir.File("./shop.orq"), Dir.File("sub/../shop.orq"), link}) {
        if (same.find("sub/") != std::string::npos) std::filesystem::create_directory(Dir.File("sub"));
        EXPECT_EQ(ErrorCode([&] { database->CopyDatabase(same, true); }), 9344) << same;
    }
    database->CopyDatabase(Dir.File("copy.orq"), false);
    EXPECT_EQ(ErrorCode([&] { database->CopyDatabase(Dir.File("copy.orq"), false); }), 9344);
    EXPECT_NE(ErrorText([&] { database->CopyDatabase(Dir.File("copy.orq"), false); }).find("exists"), std::string::npos);
    auto missing = std::make_unique<TTestDataBase>();
    missing->SetDataBaseName(Dir.File("none.orq"));
    EXPECT_EQ(ErrorCode([&] { missing->CopyDatabase(Dir.File("x.orq"), true); }), 9988);

    // Connected exclusively, the disk manager copies the file; the copy is a database.
    database->SetExclusive(true);
    database->SetConnected(true);
    database->CopyDatabase(Dir.File("copy.orq"), true);
    database->SetConnected(false);
    auto copy = ConnectDataBase(Dir.File("copy.orq"));
    EXPECT_EQ(Walk(*OpenCursor(*copy, "Beta", false), "ID"), AllIds());
}

TEST_F(DataBaseMaintenanceTest, RebuildKeepsEveryTableAndGeneratorAndWritesBackupAndLog) {
    auto database = Closed();
    std::vector<int> reported;
    database->OnUpdateProgress = [&](int Percent, bool&) { reported.push_back(Percent); };
    database->RebuildDatabase();
    EXPECT_FALSE(database->Connected());
    EXPECT_FALSE(database->Exclusive());
    EXPECT_EQ(database->TempPrivilegeStatus(), 0);
    EXPECT_TRUE(platform::FileExists(Dir.File("shop.orx")));
    EXPECT_FALSE(std::filesystem::exists(Dir.File("shop.orq.rebuild")));
    EXPECT_FALSE(reported.empty());
    EXPECT_EQ(Ids("Alpha"), AllIds());
    EXPECT_EQ(Ids("Beta"), AllIds());
    auto rebuilt = ConnectDataBase(Path());
    EXPECT_EQ(rebuilt->GetGeneratorValue("Orders", true), 505);
    TStringList names;
    rebuilt->GetTableNames(&names, false);
    EXPECT_EQ(names.CommaText(), "Alpha,Beta");
    const std::string log = ReadText(Dir.File("dblog.txt"));
    for (const char* line : {"Rebuild database start", "Backup database created -", "Creating tables...",
                             "Creating table Alpha", "Copying data from source table Beta", "Records Copied 30",
                             "Rebuild database complete"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(DataBaseMaintenanceTest, ATableWhoseCopyFailsIsLeftEmptyWhileTheRestCompletes) {
    auto database = Closed();
    int calls = 0;
    // The first table copied (Alpha, the user tables in name order) fails part-way.
    database->OnUpdateProgress = [&](int, bool&) {
        if (++calls == 3) throw std::runtime_error("disk on fire");
    };
    database->RebuildDatabase();
    EXPECT_TRUE(Ids("Alpha").empty());
    EXPECT_EQ(Ids("Beta"), AllIds());
    const std::string log = ReadText(Dir.File("dblog.txt"));
    for (const char* line : {"Exception while copying data from source table Alpha", "Exception was disk on fire",
                             "Attempting to empty this table", "Rebuild database complete"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(DataBaseMaintenanceTest, ARebuildThatCannotReadItsBackupLeavesTheDatabaseAsItWas) {
    const std::string before = test::ReadAll(Path());
    auto database = Closed();
    // A folder where the backup file would go: the backup cannot be made, and nothing else is
    // touched.
    std::filesystem::create_directory(Dir.File("shop.orx"));
    EXPECT_NE(ErrorCode([&] { database->RebuildDatabase(); }), 0);
    EXPECT_EQ(test::ReadAll(Path()), before);
    EXPECT_EQ(database->TempPrivilegeStatus(), 0);
    EXPECT_FALSE(database->Connected());
    EXPECT_EQ(Ids("Alpha"), AllIds());
}

TEST_F(DataBaseMaintenanceTest, ARebuildWithoutDirectoryWorksInTheDatabaseFilesFolder) {
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(Dir.File("").c_str()), 0);
    auto database = std::make_unique<TTestDataBase>();
    database->SetDataBaseName("shop.orq");
    EXPECT_TRUE(database->Directory().empty());
    database->RebuildDatabase();
    EXPECT_EQ(chdir(saved), 0);
    EXPECT_TRUE(platform::FileExists(Dir.File("shop.orx")));
    EXPECT_TRUE(platform::FileExists(Dir.File("dblog.txt")));
    EXPECT_EQ(Ids("Beta"), AllIds());
}

TEST_F(DataBaseMaintenanceTest, RebuildingOneTableFromABackupFile) {
    auto database = Closed();
    database->CopyDatabase(Dir.File("old.orq"), false);
    database->SetExclusive(true);
    database->SetConnected(true);
    {
        auto alpha = OpenCursor(*database, "Alpha", false);
        alpha->DataSetEmptyTable();
        EXPECT_EQ(ErrorCode([&] { database->RebuildTable("Alpha", Dir.File("old.orq"), nullptr); }), 10031);
    }
    // A cancel half-way leaves the table as it was; the rebuild builds a new table beside it and
    // swaps it in, so nothing of the work is left either way.
    database->OnUpdateProgress = [](int Percent, bool& Cancel) { Cancel = Percent >= 50; };
    EXPECT_EQ(database->RebuildTable("Alpha", Dir.File("old.orq"), nullptr), 0);
    EXPECT_TRUE(Walk(*OpenCursor(*database, "Alpha", false), "ID").empty());
    database->OnUpdateProgress = nullptr;
    TTableDef before(nullptr);
    database->QueryTableDef("Alpha", false, &before);
    EXPECT_EQ(database->RebuildTable("Alpha", Dir.File("old.orq"), nullptr), 0);
    EXPECT_EQ(Walk(*OpenCursor(*database, "Alpha", false), "ID"), AllIds());
    TTableDef after(nullptr);
    database->QueryTableDef("Alpha", false, &after);
    EXPECT_NE(after.TableID(), before.TableID());
    TStringList names;
    database->GetTableNames(&names, false);
    EXPECT_EQ(names.CommaText(), "Alpha,Beta");
    database->SetConnected(false);
    database->SetExclusive(false);
    database->SetConnected(true);
    EXPECT_EQ(ErrorCode([&] { database->RebuildTable("Alpha", Dir.File("old.orq"), nullptr); }), 10121);
}

}  // namespace
}  // namespace ostra::componentstest
