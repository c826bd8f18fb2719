// The table component: the current index by name and by field names, key searches (first match
// on a non-unique index, leading fields only, the nearest record), ranges (empty, open-ended,
// record numbers from the range start), master-detail (the detail range follows the master, a new
// detail record takes the master's values, a disabled master cancels the range, circular links
// refused), the checks of the structure operations, and the import of another dataset with its
// progress, cancel, failures and log.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/storage/orqErrors.h"
#include "engine/storage/orqLogger.h"
#include "engine/storage/orqRestructureDefs.h"
#include "host/db/DataSource.h"
#include "support/orqTableTest.h"

namespace ostra::componentstest {
namespace {

class TableTest : public TTableTest {
protected:
    // IDs 1..10; NAME "a".."e" twice (ID 1 and 6 "a", ...); AGE = ID * 10.
    std::unique_ptr<TOrqTable> Filled(const std::string& IndexName = "PK") {
        auto table = Table("People", IndexName);
        table->Open();
        const char* names[] = {"a", "b", "c", "d", "e"};
        for (int id = 1; id <= 10; ++id) AddRow(*table, id, names[(id - 1) % 5], id * 10);
        table->First();
        return table;
    }
    int ID(TOrqTable& T) { return T.FieldByName("ID")->AsInteger(); }
};

TEST_P(TableTest, IndexByNameAndByFieldNames) {
    auto table = Filled();
    EXPECT_EQ(table->IndexName(), "PK");
    EXPECT_EQ(table->IndexFieldNames(), "ID");
    table->SetIndexName("ixAge");
    EXPECT_EQ(Column(*table, "ID").front(), "10") << "descending";
    table->SetIndexFieldNames("NAME");
    EXPECT_EQ(table->IndexName(), "ixName");
    EXPECT_EQ(table->IndexFieldNames(), "NAME");
    EXPECT_EQ(table->GetIndexField(0)->FieldName(), "NAME");
    EXPECT_EQ(table->GetIndexCount(), 3);
    EXPECT_EQ(ErrorCode([&] { table->SetIndexName("nope"); }), 9997);
    EXPECT_EQ(ErrorCode([&] { table->SetIndexFieldNames("BORN"); }), 9997);
    EXPECT_EQ(table->IndexName(), "ixName");

    // Set while closed: the name or the field names choose the index at open.
    table->Close();
    table->SetIndexFieldNames("AGE");
    EXPECT_EQ(table->IndexFieldNames(), "AGE");
    table->Open();
    EXPECT_EQ(table->IndexName(), "ixAge");
    table->Close();
    table->SetIndexName("nope");
    EXPECT_EQ(ErrorCode([&] { table->Open(); }), 9997);
    EXPECT_FALSE(table->Active());

    // Without indexes the built-in order reads as no name.
    Create("Plain", {{"X", ftInteger}}, {});
    auto plain = Table("Plain");
    plain->Open();
    EXPECT_EQ(plain->IndexName(), "");
    EXPECT_EQ(ErrorCode([&] { plain->SetIndexName("PK"); }), 9997);
}

TEST_P(TableTest, KeySearches) {
    auto table = Filled("ixName");
    // The first match of a non-unique index.
    EXPECT_TRUE(table->FindKey({Variant("c")}));
    EXPECT_EQ(ID(*table), 3);
    EXPECT_FALSE(table->FindKey({Variant("zz")}));
    EXPECT_EQ(table->State(), dsBrowse);
    table->FindNearest({Variant("cc")});
    EXPECT_EQ(ID(*table), 4) << "the first record after the key";
    table->Next();
    EXPECT_EQ(ID(*table), 9) << "the walk goes on from the record found";

    table->SetKey();
    table->FieldByName("NAME")->SetAsString("e");
    EXPECT_TRUE(table->GotoKey());
    EXPECT_EQ(ID(*table), 5);
    EXPECT_EQ(table->KeyMode(), kmNone);

    table->SetIndexName("PK");
    table->SetKey();
    EXPECT_EQ(ErrorCode([&] { table->SetKeyFieldCount(2); }), 9985);
    table->SetKeyFieldCount(1);
    table->FieldByName("ID")->SetAsInteger(7);
    EXPECT_TRUE(table->GotoKey());
    EXPECT_EQ(ID(*table), 7);
    table->SetKey();
    table->FieldByName("ID")->SetAsInteger(70);
    table->GotoNearest();
    EXPECT_EQ(ID(*table), 10) << "the nearest key at or after";
    table->SetKey();
    table->CancelKey();
    EXPECT_EQ(table->State(), dsBrowse);
    EXPECT_THROW(table->SetKeyFieldCount(1), EDatabaseError);
    // More values than key fields: the extra ones are ignored.
    EXPECT_TRUE(table->FindKey({Variant(2), Variant("ignored")}));
    EXPECT_EQ(ID(*table), 2);

    // Each search takes the fields of the index it runs on, also after the index changed back
    // and forth and after the fields were made again by a new open.
    table->SetIndexName("ixName");
    EXPECT_TRUE(table->FindKey({Variant("d")}));
    EXPECT_EQ(ID(*table), 4);
    table->SetIndexName("PK");
    EXPECT_TRUE(table->FindKey({Variant(8)}));
    EXPECT_EQ(ID(*table), 8);
    table->Close();
    table->Open();
    EXPECT_TRUE(table->FindKey({Variant(3)}));
    EXPECT_EQ(ID(*table), 3);
}

TEST_P(TableTest, Ranges) {
    auto table = Filled("ixAge");
    table->SetIndexName("PK");
    table->SetRange({Variant(3)}, {Variant(6)});
    EXPECT_EQ(table->RecordCount(), 4);
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"3", "4", "5", "6"}));
    table->First();
    EXPECT_EQ(table->RecNo(), 1);
    table->Next();
    EXPECT_EQ(table->RecNo(), 2);

    // Start above the end: on, but empty.
    table->SetRange({Variant(8)}, {Variant(2)});
    EXPECT_EQ(table->RecordCount(), 0);
    EXPECT_TRUE(table->Eof());

    // Unset ends admit every value.
    table->SetRangeStart();
    table->FieldByName("ID")->SetAsInteger(9);
    table->SetRangeEnd();
    table->ApplyRange();
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"9", "10"}));
    table->EditRangeStart();
    table->EditRangeEnd();
    table->FieldByName("ID")->SetAsInteger(9);
    table->ApplyRange();
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"9"}));

    // A range on a non-unique index holds every equal key.
    table->SetIndexName("ixName");
    EXPECT_EQ(table->RecordCount(), 10) << "a new index drops the range";
    table->SetRange({Variant("b")}, {Variant("c")});
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"2", "7", "3", "8"}));
    table->CancelRange();
    EXPECT_EQ(table->RecordCount(), 10);
}

TEST_P(TableTest, MasterDetail) {
    Create("Orders", {{"ORDERNO", ftInteger}, {"PERSON", ftInteger}, {"ITEM", ftString, 10}},
           {{"PK", "ORDERNO", TIndexOptions{ixPrimary, ixUnique}}, {"ixPerson", "PERSON;ORDERNO", {}}});
    auto master = Filled();
    auto detail = Table("Orders", "ixPerson");
    detail->Open();
    int orderNo = 0;
    for (int person : {1, 1, 2, 3, 3, 3}) {
        detail->Append();
        detail->FieldByName("ORDERNO")->SetAsInteger(++orderNo);
        detail->FieldByName("PERSON")->SetAsInteger(person);
        detail->Post();
    }
    TDataSource source(nullptr);
    source.SetDataSet(master.get());
    detail->SetMasterSource(&source);
    detail->SetMasterFields("ID");
    master->First();
    EXPECT_EQ(Column(*detail, "ORDERNO"), (std::vector<std::string>{"1", "2"}));
    master->Next();
    EXPECT_EQ(detail->RecordCount(), 1);
    master->Next();
    EXPECT_EQ(Column(*detail, "ORDERNO"), (std::vector<std::string>{"4", "5", "6"}));
    master->Next();
    EXPECT_TRUE(detail->IsEmpty());

    // A new detail record takes the master's key.
    detail->Append();
    detail->FieldByName("ORDERNO")->SetAsInteger(50);
    detail->Post();
    EXPECT_EQ(detail->FieldByName("PERSON")->AsInteger(), 4);
    EXPECT_EQ(detail->RecordCount(), 1);

    // Circular links are refused.
    TDataSource detailSource(nullptr);
    detailSource.SetDataSet(detail.get());
    auto third = Table("People");
    EXPECT_NO_THROW(third->SetMasterSource(&detailSource));
    EXPECT_THROW(detail->SetMasterSource(&detailSource), EDatabaseError);

    // A master field with no index field to match: the detail insert says so.
    detail->SetMasterFields("ID;AGE");
    EXPECT_EQ(ErrorText([&] { detail->Append(); }), "");
    detail->Cancel();
    detail->SetIndexName("PK");
    try {
        detail->Append();
        FAIL() << "inserted without a matching index field";
    } catch (const EDatabaseError& E) {
        EXPECT_NE(std::string(E.what()).find("Master-detail errorAGE is not a valid index field for this index"),
                  std::string::npos);
    }
    detail->Cancel();

    // A disabled master cancels the range.
    detail->SetIndexName("ixPerson");
    detail->SetMasterFields("ID");
    master->First();
    EXPECT_EQ(detail->RecordCount(), 2);
    source.SetEnabled(false);
    EXPECT_EQ(detail->RecordCount(), 7);
    detail->SetMasterSource(nullptr);
    third->SetMasterSource(nullptr);
}

TEST_P(TableTest, StructureOperationChecks) {
    auto table = Filled();
    EXPECT_EQ(ErrorCode([&] { table->DeleteIndex("nope"); }), 9997);
    EXPECT_TRUE(table->Active()) << "a failed change leaves an open table open";
    table->Close();
    EXPECT_EQ(ErrorCode([&] { table->DeleteIndex("nope"); }), 9997);
    EXPECT_FALSE(table->Active()) << "and a closed one closed";

    TRestructureRecord record;
    record.ResetBlobSize = true;
    for (int size : {63, 65537}) {
        record.BlobBlockSize = size;
        if (Memory())
            EXPECT_EQ(ErrorCode([&] { table->RestructureTable(record); }), 10766);
        else
            EXPECT_EQ(ErrorText([&] { table->RestructureTable(record); }).find(std::to_string(size) +
                                                                             " is not a valid value (min. length 64, "
                                                                             "max. length 65536) bytes") != std::string::npos,
                      true)
                << size;
    }
    if (!Memory()) {
        EXPECT_EQ(ErrorCode([&] { table->RestructureTable(record); }), 10029);
        DataBase->StartTransaction();
        record.BlobBlockSize = 64;
        EXPECT_EQ(ErrorCode([&] { table->RestructureTable(record); }), 10122);
        table->Open();
        EXPECT_EQ(ErrorCode([&] { table->EmptyTable(); }), 10122);
        table->Close();
        DataBase->Rollback();
        auto other = Table();
        other->Open();
        EXPECT_EQ(ErrorCode([&] { table->RestructureTable(record); }), 10031);
    }
    table->Open();
    EXPECT_THROW(table->RestructureTable(record), EDatabaseError) << "an open table";
    EXPECT_EQ(ErrorCode([&] { table->ImportData(*table); }), 8576);
}

// A source for imports: a table "Src" with N records (ID, NAME, AGE as text).
class ImportTest : public TableTest {
protected:
    std::unique_ptr<TOrqTable> Source(int N) {
        Create("Src", {{"ID", ftInteger}, {"NAME", ftString, 16}, {"AGE", ftString, 8}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}});
        auto source = Table("Src");
        source->Open();
        for (int id = 1; id <= N; ++id) {
            source->Append();
            source->FieldByName("ID")->SetAsInteger(id);
            source->FieldByName("NAME")->SetAsString("s" + std::to_string(id));
            source->FieldByName("AGE")->SetAsString(id == 3 ? "old" : std::to_string(id));
            source->Post();
        }
        return source;
    }
    static bool Logged(const std::string& Text) {
        std::unique_ptr<TStringList> lines = GDBLogger()->LogSnapshot();
        for (int i = 0; i < lines->Count(); ++i)
            if (lines->Strings(i).find(Text) != std::string::npos) return true;
        return false;
    }
};

TEST_P(ImportTest, ImportsWithProgressFailuresAndLog) {
    GDBLogger()->Clear();
    auto source = Source(40);
    auto table = Table();
    table->Open();
    AddRow(*table, 20, "already", 1);  // the source's record 20 collides
    table->GetRestructureFieldDefs();
    std::vector<int> progress;
    table->SetOnUpdateProgress([&](int Percent, bool&) { progress.push_back(Percent); });
    EXPECT_EQ(table->ImportData(*source), 39);
    EXPECT_EQ(table->RecordCount(), 40);
    // Every second record of 40 that was added (the 20th failed): 100 per record added over 40.
    ASSERT_EQ(progress.size(), 19u);
    EXPECT_EQ(progress.front(), 5);
    EXPECT_EQ(progress.back(), 97);
    EXPECT_TRUE(table->FindKey({Variant(3)}));
    EXPECT_TRUE(table->FieldByName("AGE")->IsNull()) << "a value that does not convert is left empty";
    EXPECT_TRUE(table->FindKey({Variant(21)})) << "the records after a failed one still come";
    EXPECT_TRUE(Logged("Source field [ID] mapped to Field [ID]"));
    EXPECT_TRUE(Logged("No Source field set for Field [BORN]"));
    EXPECT_TRUE(Logged("Record 2  Source field \"AGE       \" could not be converted"));
    EXPECT_TRUE(Logged("Record 19 could not be added. Error: "));
    EXPECT_TRUE(Logged("Records inserted = 39"));
    EXPECT_EQ(table->State(), dsBrowse);
}

TEST_P(ImportTest, CancelStopsAndSmallSourcesReportNoProgress) {
    auto source = Source(10);
    auto table = Table();
    table->Open();
    table->GetRestructureFieldDefs();
    int calls = 0;
    table->SetOnUpdateProgress([&](int, bool& Cancel) {
        ++calls;
        Cancel = true;
    });
    // The import's lines do not push earlier ones out of the log, whatever its line limit.
    GDBLogger()->Clear();
    GDBLogger()->LogItem("Before", "an earlier line");
    const int32_t limit = GDBLogger()->MaxLogItemCount();
    GDBLogger()->SetMaxLogItemCount(20);
    EXPECT_EQ(table->ImportData(*source), 10);
    GDBLogger()->SetMaxLogItemCount(limit);
    EXPECT_TRUE(Logged("an earlier line"));
    EXPECT_GT(GDBLogger()->LogCount(), 30) << "above the limit";
    EXPECT_EQ(calls, 0) << "a step of 0: no progress";
    // Now 40 records, the first 10 already imported (they fail as duplicates).
    source->First();
    for (int id = 11; id <= 40; ++id) {
        source->Append();
        source->FieldByName("ID")->SetAsInteger(id);
        source->Post();
    }
    EXPECT_EQ(table->ImportData(*source), 2) << "cancelled at the first progress call";
    EXPECT_EQ(calls, 1);
}

INSTANTIATE_CURSOR_TESTS(TableTest);
INSTANTIATE_CURSOR_TESTS(ImportTest);

}  // namespace
}  // namespace ostra::componentstest

namespace ostra::componentstest {
namespace {

// Structure changes need an exclusive connection to a database file.
class TableStructureTest : public ::testing::Test {
protected:
    void SetUp() override {
        DataBase = std::make_unique<TTestDataBase>();
        DataBase->SetDataBaseName(Dir.File("exclusive.orq"));
        DataBase->SetExclusive(true);
        DataBase->CreateDatabase();
        DataBase->SetConnected(true);
        CreateTable(*DataBase, "People", {{"ID", ftInteger}, {"NAME", ftString, 16}, {"NOTE", ftMemo}},
                    {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}}, false);
        Table = std::make_unique<TOrqTable>(nullptr);
        Table->SetDataBase(DataBase.get());
        Table->SetTableName("People");
        Table->Open();
        for (int id = 1; id <= 30; ++id) {
            Table->Append();
            Table->FieldByName("ID")->SetAsInteger(id);
            Table->FieldByName("NAME")->SetAsString(std::string(1, char('z' - id % 26)) + std::to_string(id));
            Table->Post();
        }
    }
    void TearDown() override {
        Table.reset();
        DataBase.reset();
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (Table->First(); !Table->Eof(); Table->Next()) names.push_back(Table->FieldByName("NAME")->AsString());
        return names;
    }

    test::TempDir Dir;
    std::unique_ptr<TTestDataBase> DataBase;
    std::unique_ptr<TOrqTable> Table;
};

TEST_F(TableStructureTest, LocateFollowsAnIndexMadeAgainTheOtherWayRound) {
    // What a locate learnt of an index (its key fields, their order) is not taken for the index
    // of the same name made again: the locates on NAME run on the new ascending index.
    Table->AddIndex("ixName", "NAME", TIndexOptions{ixDescending});
    ASSERT_TRUE(Table->Locate("NAME", Variant("y1"), {}));
    EXPECT_EQ(Table->FieldByName("ID")->AsInteger(), 1);
    Table->DeleteIndex("ixName");
    Table->AddIndex("ixName", "NAME", {});
    for (const auto& [name, id] : std::vector<std::pair<std::string, int>>{{"a25", 25}, {"y1", 1}, {"z26", 26}}) {
        ASSERT_TRUE(Table->Locate("NAME", Variant(name), {})) << name;
        EXPECT_EQ(Table->FieldByName("ID")->AsInteger(), id);
    }
    EXPECT_FALSE(Table->Locate("NAME", Variant("b1"), {}));
}

TEST_F(TableStructureTest, IndexesAddedAndDeletedKeepTheRecords) {
    // On an open table: it stays open, at its record.
    Table->First();
    Table->MoveBy(4);
    Table->AddIndex("ixName", "NAME", {});
    EXPECT_TRUE(Table->Active());
    EXPECT_EQ(Table->FieldByName("ID")->AsInteger(), 5);
    EXPECT_EQ(Table->IndexDefs().Count(), 2);
    Table->SetIndexName("ixName");
    std::vector<std::string> names = Names();
    ASSERT_EQ(names.size(), 30u);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));

    // Deleting the current index clears the index name.
    Table->DeleteIndex("ixName");
    EXPECT_TRUE(Table->Active());
    EXPECT_EQ(Table->IndexName(), "PK");
    EXPECT_EQ(Table->IndexDefs().Count(), 1);
    EXPECT_EQ(Table->RecordCount(), 30);

    // On a closed table: opened to read the definitions, closed again.
    Table->Close();
    Table->AddIndex("ixName2", "NAME", TIndexOptions{ixDescending});
    EXPECT_FALSE(Table->Active());
    Table->SetIndexName("ixName2");
    Table->Open();
    names = Names();
    EXPECT_TRUE(std::is_sorted(names.rbegin(), names.rend()));
    EXPECT_ANY_THROW(Table->AddIndex("bad", "NOTE", {})) << "a blob key is refused";
    EXPECT_TRUE(Table->Active());
    EXPECT_EQ(Table->IndexDefs().Count(), 2);
}

TEST_F(TableStructureTest, RestructureReIndexAndEmpty) {
    Table->Close();
    TRestructureRecord record;
    record.ResetBlobSize = true;
    for (int size : {64, 65536}) {
        record.BlobBlockSize = size;
        EXPECT_EQ(Table->RestructureTable(record), 0) << size;
    }
    Table->Open();
    EXPECT_EQ(Table->RecordCount(), 30);
    EXPECT_TRUE(Table->ReIndex(false));
    EXPECT_EQ(Table->RecordCount(), 30);
    EXPECT_EQ(Table->FieldByName("ID")->AsInteger(), 1);
    Table->EmptyTable();
    EXPECT_EQ(Table->RecordCount(), 0);
    EXPECT_TRUE(Table->Eof());
    Table->Append();
    Table->FieldByName("ID")->SetAsInteger(1);
    Table->Post();
    EXPECT_EQ(Table->RecordCount(), 1);
}

}  // namespace
}  // namespace ostra::componentstest
