// The cursor's table maintenance: emptying a table, reindexing, the raw copy between two
// cursors, rebuilding a table and the three ways of a restructure, with progress, cancel, the
// refusals and failures part-way, on real database files (and in memory where the operation
// exists there).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>
#include <set>
#include <tuple>
#include <sstream>

#include "engine/components/orqDataBase.h"
#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqTableHeader.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "host/Streams.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/orqCursorTest.h"
#include "testsupport/FileOpCounter.h"

namespace ostra::componentstest {
namespace {

const TIndexOptions kUnique{ixPrimary, ixUnique};

void SetMemo(TOrqDataSet& Cursor, const std::string& Field, const std::string& Text) {
    TStringStream stream(Text);
    Cursor.DataSetSetFieldStream(Cursor.GetFieldNo(Field), false, &stream);
}

std::string Memo(TOrqDataSet& Cursor, const std::string& Field) {
    TStringStream stream;
    bool isNull = false;
    Cursor.DataSetGetFieldStream(Cursor.GetFieldNo(Field), isNull, stream);
    return isNull ? "(null)" : stream.DataString();
}

std::string LogText(TOrqDataBase& DataBase) {
    auto lines = DataBase.GetLog();
    return lines ? lines->Text() : std::string();
}

// ---------------------------------------------------------------------------------------------
// Emptying and reindexing, on disk and in memory

class DataSetMaintenanceTest : public TCursorTest {};

TEST_P(DataSetMaintenanceTest, EmptyingKeepsTheAutoIncCounterAndRestartsLogicalNumbers) {
    Create("Tickets", {{"NO", ftAutoInc}, {"TEXT", ftString, 8}, {"NOTE", ftMemo}},
           {{"PK", "NO", kUnique}, {"BYTEXT", "TEXT"}});
    auto tickets = Open("Tickets");
    auto add = [&](const std::string& Text) {
        tickets->InitializeNewRecord(tickets->RecordBuffer(), false);
        SetValue(*tickets, "TEXT", Text);
        SetMemo(*tickets, "NOTE", std::string(2000, 'n'));
        tickets->AddRecord(true);
    };
    for (int i = 0; i < 3; ++i) add("t" + std::to_string(i));
    tickets->DataSetEmptyTable();
    EXPECT_EQ(tickets->GetTotalRecordCount(), 0);
    EXPECT_FALSE(tickets->DataSetFirst());
    add("again");
    EXPECT_EQ(Walk(*tickets, "NO"), Ints({4}));
    EXPECT_EQ(tickets->TableDefinition().TableHeader()->GetLogicalRecordNo(), 1u);
    EXPECT_EQ(Memo(*tickets, "NOTE"), std::string(2000, 'n'));
    tickets->InternalSetIndexName("BYTEXT");
    EXPECT_EQ(Walk(*tickets, "TEXT"), std::vector<Variant>({Variant("again")}));
    // Another cursor sees the emptied table.
    EXPECT_EQ(Walk(*Open("Tickets"), "NO"), Ints({4}));
}

TEST_P(DataSetMaintenanceTest, ReIndexRebuildsEveryIndexAndReportsProgress) {
    Create("T", {{"ID", ftInteger}, {"NAME", ftString, 10}}, {{"PK", "ID", kUnique}, {"BYNAME", "NAME"}});
    auto cursor = Open("T");
    Insert(*cursor, {{"ID", 3}, {"NAME", "a"}});
    Insert(*cursor, {{"ID", 1}, {"NAME", "c"}});
    Insert(*cursor, {{"ID", 2}, {"NAME", "b"}});
    std::vector<int> reported;
    cursor->SetOnUpdateProgress([&](int Percent, bool&) { reported.push_back(Percent); });
    cursor->InternalReIndex(false);
    // In memory the storage lists the three records; on disk every block of its pages.
    if (Memory()) EXPECT_EQ(reported, std::vector<int>({33, 66}));
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_LT(reported.back(), 100);
    EXPECT_EQ(Walk(*cursor, "ID"), Ints({1, 2, 3}));
    cursor->InternalSetIndexName("BYNAME");
    EXPECT_EQ(Walk(*cursor, "ID"), Ints({3, 2, 1}));

    // A cancel at the first report: on disk the pass is taken back, in memory it is not honoured;
    // either way every record stays reachable.
    reported.clear();
    cursor->SetOnUpdateProgress([&](int Percent, bool& Cancel) {
        reported.push_back(Percent);
        Cancel = true;
    });
    cursor->InternalReIndex(false);
    EXPECT_EQ(reported.size(), Memory() ? 2u : 1u);
    EXPECT_EQ(Walk(*cursor, "ID"), Ints({3, 2, 1}));
    Insert(*cursor, {{"ID", 4}, {"NAME", "d"}});
    EXPECT_EQ(ErrorCode([&] { Insert(*cursor, {{"ID", 4}, {"NAME", "e"}}); }), 9729);
}

TEST_P(DataSetMaintenanceTest, RawCopyMapsFieldsOnceCountsFailuresAndCopiesBlobs) {
    Create("Src", {{"ID", ftInteger}, {"CODE", ftString, 10}, {"NOTE", ftMemo}, {"SIZE", ftInteger}},
           {{"PK", "ID", kUnique}});
    // LABEL and SIZE are stored as their sources are (their bytes are copied as they are), NUM is
    // converted.
    Create("Dst", {{"KEY", ftInteger}, {"NUM", ftInteger}, {"TEXT", ftMemo}, {"LABEL", ftString, 10}, {"SIZE", ftInteger}},
           {{"PK", "KEY", kUnique}});
    auto source = Open("Src");
    for (const auto& [id, code, note] : {std::tuple{1, "12", "first"}, {2, "abc", "second"}, {3, "7", ""}}) {
        source->ClearRecord(nullptr);
        SetValue(*source, "ID", id);
        SetValue(*source, "CODE", code);
        if (id == 1) SetValue(*source, "SIZE", 5);
        if (*note) SetMemo(*source, "NOTE", note);
        source->AddRecord(false);
    }
    auto dest = Open("Dst");
    TInternalFields& fields = dest->GetInternalFields();
    fields.FindField("KEY")->SetSourceField("ID");
    fields.FindField("NUM")->SetSourceField("CODE");
    fields.FindField("TEXT")->SetSourceField("NOTE");
    fields.FindField("LABEL")->SetSourceField("CODE");
    DataBase->ClearLog();
    std::vector<int> reported;
    dest->SetOnUpdateProgress([&](int Percent, bool&) { reported.push_back(Percent); });
    EXPECT_EQ(source->CopyRawTableData(*dest), 1);  // "abc" is no number
    if (Memory()) EXPECT_EQ(reported, std::vector<int>({33, 66}));
    EXPECT_EQ(Walk(*dest, "KEY"), Ints({1, 2, 3}));
    const std::vector<Variant> numbers = Walk(*dest, "NUM");
    ASSERT_EQ(numbers.size(), 3u);
    EXPECT_EQ(numbers[0].AsInteger(), 12);
    EXPECT_TRUE(VarIsNull(numbers[1]));
    EXPECT_EQ(numbers[2].AsInteger(), 7);
    const std::vector<Variant> labels = Walk(*dest, "LABEL");
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels, std::vector<Variant>({Variant("12"), Variant("abc"), Variant("7")}));
    const std::vector<Variant> sizes = Walk(*dest, "SIZE");
    ASSERT_EQ(sizes.size(), 3u);
    EXPECT_EQ(sizes[0].AsInteger(), 5);
    EXPECT_TRUE(VarIsNull(sizes[1]) && VarIsNull(sizes[2]));
    dest->DataSetFirst();
    EXPECT_EQ(Memo(*dest, "TEXT"), "first");
    dest->DataSetLast();
    EXPECT_EQ(Memo(*dest, "TEXT"), "(null)");
    const std::string log = LogText(*DataBase);
    for (const char* line : {"Copying record data - Starting", "records (including unallocated and deleted records)",
                             "Importing data - field mapping...", "NUM -> CODE", "Record 1: Error converting CODE (abc) to NUM",
                             "Records Copied 3", "Copying record data - Done"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    // Copying the same keys again fails at every post.
    EXPECT_EQ(source->CopyRawTableData(*dest), 4);
    EXPECT_NE(LogText(*DataBase).find("Record 0: Data post exception"), std::string::npos);
    if (!Memory()) EXPECT_TRUE(platform::FileExists(Dir.File("dblog.txt")));
}

INSTANTIATE_CURSOR_TESTS(DataSetMaintenanceTest);

// ---------------------------------------------------------------------------------------------
// On a database file: duplicates, encrypted logs, rebuild and restructure

class TableMaintenanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        DataBase = MakeDataBase(Path());
        DataBase->SetConnected(false);
        DataBase->SetExclusive(true);
        DataBase->SetConnected(true);
        CreateTable(*DataBase, "People", {{"ID", ftAutoInc}, {"NAME", ftString, 20}, {"AGE", ftInteger}},
                    {{"PK", "ID", kUnique}, {"BYNAME", "NAME"}}, false);
        auto people = OpenCursor(*DataBase, "People", false);
        for (const char* name : {"Ann", "Bob", "Ann", "Cid"}) Insert(*people, {{"NAME", name}, {"AGE", 30}}, true);
        people->DataSetClose();
    }
    std::string Path() const { return Dir.File("shop.orq"); }
    std::string Backup() const { return Dir.File("shop.orx"); }
    std::unique_ptr<TOrqDataSet> Closed(const std::string& Name) {
        auto cursor = std::make_unique<TOrqDataSet>(nullptr);
        cursor->SetDataBase(DataBase.get());
        cursor->SetTableName(Name);
        return cursor;
    }
    using TRequest = TRestructureRequest;
    void PeopleAsTheyAre(TRequest& Request) {
        Request.Field("ID", ftAutoInc, 0, "ID");
        Request.Field("NAME", ftString, 20, "NAME");
        Request.Field("AGE", ftInteger, 0, "AGE");
        Request.Index("PK", "ID", kUnique);
        Request.Index("BYNAME", "NAME", {});
    }
    std::vector<std::string> Names(TOrqDataSet& Cursor, const std::string& Field) {
        std::vector<std::string> names;
        for (const Variant& value : Walk(Cursor, Field)) names.push_back(value.AsString());
        return names;
    }
    std::vector<std::string> FieldNames(const std::string& Table) {
        TTableDef def(nullptr);
        DataBase->QueryTableDef(Table, false, &def);
        std::vector<std::string> names;
        for (int i = 0; i < def.InternalFields()->Count(); ++i)
            names.push_back(def.InternalFields()->GetIndex(i)->FieldName());
        return names;
    }

    test::TempDir Dir;
    std::unique_ptr<TTestDataBase> DataBase;
};

TEST_F(TableMaintenanceTest, TheCopyLogOfAnEncryptedTableHoldsNoValues) {
    CreateTable(*DataBase, "Secret", {{"ID", ftInteger}, {"PIN", ftString, 10}}, {{"PK", "ID", kUnique}}, false, encWeak);
    CreateTable(*DataBase, "Copy", {{"ID", ftInteger}, {"PIN", ftInteger}}, {{"PK", "ID", kUnique}}, false, encWeak);
    auto secret = OpenCursor(*DataBase, "Secret", false);
    Insert(*secret, {{"ID", 1}, {"PIN", "hush-1234"}});
    auto copy = OpenCursor(*DataBase, "Copy", false);
    DataBase->ClearLog();
    EXPECT_EQ(secret->CopyRawTableData(*copy), 1);
    const std::string log = LogText(*DataBase);
    EXPECT_NE(log.find("Record 0: Error converting PIN"), std::string::npos);
    EXPECT_EQ(log.find("hush-1234"), std::string::npos);
    std::ifstream file(Dir.File("dblog.txt"));
    std::stringstream saved;
    saved << file.rdbuf();
    EXPECT_EQ(saved.str().find("hush-1234"), std::string::npos);
}

// An encrypted table is rebuilt and restructured beside itself like any other: its work table
// opens under its own name, and the table opens under its name afterwards.
TEST_F(TableMaintenanceTest, AnEncryptedTableIsRebuiltAndRestructuredBesideItself) {
    CreateTable(*DataBase, "Secret", {{"ID", ftInteger}, {"PIN", ftString, 10}}, {{"PK", "ID", kUnique}, {"BYPIN", "PIN"}},
                false, encWeak);
    {
        auto secret = OpenCursor(*DataBase, "Secret", false);
        for (int id = 1; id <= 5; ++id) Insert(*secret, {{"ID", id}, {"PIN", "p" + std::to_string(6 - id)}});
    }
    Closed("Secret")->InternalRebuildTable();
    EXPECT_EQ(Walk(*OpenCursor(*DataBase, "Secret", false, "BYPIN"), "ID"), Ints({5, 4, 3, 2, 1}));
    TRequest request;
    request.Field("ID", ftInteger, 0, "ID");
    request.Field("PIN", ftString, 10, "PIN");
    request.Field("CITY", ftString, 10, "", dcAdded);
    request.Fields.SetChangeStatus(dcAdded);
    request.Index("PK", "ID", kUnique);
    request.Index("BYPIN", "PIN", {});
    EXPECT_EQ(Closed("Secret")->InternalRestructureTable(request.Record), 0);
    EXPECT_EQ(FieldNames("Secret"), std::vector<std::string>({"ID", "PIN", "CITY"}));
    EXPECT_EQ(Walk(*OpenCursor(*DataBase, "Secret", false, "BYPIN"), "ID"), Ints({5, 4, 3, 2, 1}));
}

TEST_F(TableMaintenanceTest, ACopyThatStartsTheTransactionCommitsEveryHundredRecords) {
    // An in-memory source lists exactly its records; the disk target's database is in no
    // transaction, so the copy starts one and commits after records 0, 100 and 200 and at the end.
    CreateTable(*DataBase, "Src", {{"ID", ftInteger}}, {{"PK", "ID", kUnique}}, true);
    CreateTable(*DataBase, "Dst", {{"ID", ftInteger}}, {{"PK", "ID", kUnique}}, false);
    auto source = OpenCursor(*DataBase, "Src", true);
    for (int i = 1; i <= 250; ++i) Insert(*source, {{"ID", i}});
    auto dest = OpenCursor(*DataBase, "Dst", false);
    dest->GetInternalFields().FindField("ID")->SetSourceField("ID");
    test::FileOpCounter counter(Path(), platform::FileOp::Flush);  // every commit flushes
    platform::ScopedFileFaultInjector hook(counter);
    std::map<int, int> firstPercentWithCount;  // flushes so far -> the first progress report
    dest->SetOnUpdateProgress([&](int Percent, bool&) { firstPercentWithCount.emplace(counter.Count, Percent); });
    EXPECT_EQ(source->CopyRawTableData(*dest), 0);
    // Three commits during the copy: after record 0, 100 and 200, each seen by the next report
    // (1 %, 41 %, 81 %).
    ASSERT_EQ(firstPercentWithCount.size(), 3u);
    std::vector<int> percents;
    for (const auto& entry : firstPercentWithCount) percents.push_back(entry.second);
    EXPECT_EQ(percents, std::vector<int>({1, 41, 81}));
    EXPECT_GT(counter.Count, firstPercentWithCount.rbegin()->first);  // and once at the end
    EXPECT_FALSE(DataBase->InTransaction());
    EXPECT_EQ(Walk(*OpenCursor(*DataBase, "Dst", false), "ID").size(), 250u);
}

// Outside a transaction the table is rebuilt beside the old one in steps and swapped in: the
// records, the counters and the name's identity stay; a cancel leaves the table as it was; what
// an unfinished rebuild left is dropped first; nothing of the work stays in the table list.
TEST_F(TableMaintenanceTest, RebuildingATableKeepsItsRecordsAndLeavesTheBackup) {
    auto tableNames = [&] {
        TStringList names;
        DataBase->GetTableNames(&names, false);
        std::vector<std::string> list;
        for (int i = 0; i < names.Count(); ++i) list.push_back(names.Strings(i));
        return list;
    };
    {
        auto people = OpenCursor(*DataBase, "People", false, "PK");
        people->DataSetLast();
        people->DeleteRecord(nullptr);  // the counter (4) stays above the highest value left
    }
    {
        // What a rebuild killed half-way left: its work table, made as a rebuild makes it.
        TOrqDataSet leftover(nullptr);
        leftover.SetDataBase(DataBase.get());
        leftover.SetTableName(RebuildWorkTableName("People", false));
        TFieldDefs fields(nullptr);
        fields.Add("ID", ftInteger);
        TIndexDefs indexes(nullptr);
        indexes.Add("PK", "ID", kUnique);
        leftover.SetTableDef(false, fields, indexes);
        DataBase->CreateRebuildWorkTable(&leftover.TableDefinition());
        EXPECT_EQ(tableNames().size(), 2u);
    }

    auto cancelled = Closed("People");
    cancelled->SetOnUpdateProgress([](int, bool& Cancel) { Cancel = true; });
    cancelled->InternalRebuildTable();
    EXPECT_EQ(tableNames(), std::vector<std::string>({"People"}));
    EXPECT_EQ(Walk(*OpenCursor(*DataBase, "People", false, "PK"), "ID"), Ints({1, 2, 3}));

    auto people = Closed("People");
    people->SetMaintenanceStepBytes(1);  // a commit after every record
    people->InternalRebuildTable();
    EXPECT_FALSE(people->InternalActive());
    EXPECT_TRUE(platform::FileExists(Backup()));
    EXPECT_EQ(tableNames(), std::vector<std::string>({"People"}));
    auto reopened = OpenCursor(*DataBase, "People", false, "BYNAME");
    EXPECT_EQ(Names(*reopened, "NAME"), std::vector<std::string>({"Ann", "Ann", "Bob"}));
    EXPECT_EQ(Walk(*OpenCursor(*DataBase, "People", false, "PK"), "ID"), Ints({1, 2, 3}));
    Insert(*reopened, {{"NAME", "Dee"}}, true);
    EXPECT_EQ(GetValue(*reopened, "ID").AsInteger(), 5);
    // An open table cannot be rebuilt from under its cursor, and nothing is left of the attempt.
    EXPECT_EQ(ErrorCode([&] { Closed("People")->InternalRebuildTable(); }), 10031);
    EXPECT_EQ(tableNames(), std::vector<std::string>({"People"}));
    EXPECT_EQ(DataBase->DiskMgr()->DebugCheckStatus(), "");
}

// A rebuild builds every index at the end, bottom-up from its keys sorted (here in runs spilled
// to files): every index then walks exactly as after a reindex that inserts one key after
// another, with repeated keys, NULLs, a descending and a case-insensitive field, and every tree
// passes its order check. The unique index built so still refuses a duplicate.
TEST_F(TableMaintenanceTest, IndexesBuiltAtTheEndWalkAsIndexesBuiltKeyByKey) {
    CreateTable(*DataBase, "Mixed", {{"ID", ftInteger}, {"NAME", ftString, 12}, {"CODE", ftInteger}},
                {{"PK", "ID", kUnique},
                 {"BYNAME", "NAME", {}, "NAME", "NAME"},
                 {"BYCODE", "CODE", {}},
                 {"BYBOTH", "CODE;NAME", {}, "", "NAME"}},
                false);
    {
        auto mixed = OpenCursor(*DataBase, "Mixed", false);
        DataBase->StartTransaction();
        mixed->LockTable();
        for (int id = 1; id <= 3000; ++id) {
            const int v = id * 7919 % 61;
            std::vector<std::pair<std::string, Variant>> values{{"ID", id}, {"NAME", (v % 2 ? "ann" : "ANN") + std::to_string(v % 13)}};
            if (v % 9 != 0) values.push_back({"CODE", v % 17});
            Insert(*mixed, values);
        }
        // Gaps in storage, so that the copy's order is not the order of the inserts.
        mixed->InternalSetIndexName("BYCODE");
        for (bool more = mixed->DataSetFirst(); more; more = mixed->DataSetNext())
            if (GetValue(*mixed, "ID").AsInteger() % 5 == 0) mixed->DeleteRecord(nullptr);
        mixed->UnlockTable();
        DataBase->Commit();
    }
    const std::vector<Variant> ids = Walk(*OpenCursor(*DataBase, "Mixed", false, "PK"), "ID");
    auto rebuilt = Closed("Mixed");
    rebuilt->SetMaintenanceSortBytes(4096);
    rebuilt->InternalRebuildTable();

    const std::vector<std::string> indexes{"PK", "BYNAME", "BYCODE", "BYBOTH"};
    auto walks = [&](TOrqDataSet& Cursor) {
        std::vector<std::vector<Variant>> all;
        for (const std::string& index : indexes) {
            Cursor.InternalSetIndexName(index);
            all.push_back(Walk(Cursor, "ID"));
            all.push_back(Walk(Cursor, "ID", false));
            Cursor.IndexMgr().FindIndex(index)->Tree().DebugCheckOrderRecurse();
        }
        return all;
    };
    auto mixed = OpenCursor(*DataBase, "Mixed", false);
    const std::vector<std::vector<Variant>> bulk = walks(*mixed);
    EXPECT_GT(ids.size(), 2000u);
    EXPECT_EQ(bulk[0], ids);
    for (const auto& walk : bulk) EXPECT_EQ(walk.size(), ids.size());
    // Key by key, keys arriving out of order leave pages half full: the bulk build took fewer.
    auto pages = [&] {
        std::vector<uint32_t> owned;
        DataBase->DiskMgr()->DebugListOwnedPages(uint16_t(mixed->TableDefinition().TableID()), owned);
        return owned.size();
    };
    const size_t bulkPages = pages();
    mixed->InternalReIndex(false);
    EXPECT_EQ(walks(*mixed), bulk);
    EXPECT_LT(bulkPages, pages());
    EXPECT_EQ(ErrorCode([&] { Insert(*mixed, {{"ID", ids[0]}, {"NAME", "x"}}); }), 9729);
    Insert(*mixed, {{"ID", 0}, {"NAME", "ann1"}});
    mixed->InternalSetIndexName("BYNAME");
    EXPECT_EQ(Walk(*mixed, "ID").size(), ids.size() + 1);
}

TEST_F(TableMaintenanceTest, RestructureRefusalsComeBeforeTheBackup) {
    TRequest incomplete;
    PeopleAsTheyAre(incomplete);
    incomplete.Record.DestFieldDefs = nullptr;
    EXPECT_EQ(ErrorCode([&] { Closed("People")->InternalRestructureTable(incomplete.Record); }), 8576);
    EXPECT_NE(ErrorText([&] { Closed("People")->InternalRestructureTable(incomplete.Record); })
                  .find("RestructureDetails.DestFieldDefs"),
              std::string::npos);
    TRequest request;
    PeopleAsTheyAre(request);
    DataBase->SetTablePrivileges("People", C_PRIVREAD | C_PRIVINSERT);
    EXPECT_EQ(ErrorCode([&] { Closed("People")->InternalRestructureTable(request.Record); }), 10624);
    EXPECT_FALSE(platform::FileExists(Backup()));
    DataBase->SetConnected(false);
    DataBase->SetExclusive(false);
    DataBase->SetConnected(true);
    EXPECT_EQ(ErrorCode([&] { Closed("People")->InternalRestructureTable(request.Record); }), 10121);
}

TEST_F(TableMaintenanceTest, ARenameOnlyRestructureRewritesTheDefinitionWithoutCopying) {
    TRequest request;
    request.Field("ID", ftAutoInc, 0, "ID");
    request.Field("FULLNAME", ftString, 20, "NAME", dcDefOnlyChange);
    request.Field("AGE", ftInteger, 0, "AGE");
    request.Fields.SetChangeStatus(dcDefOnlyChange);
    request.Index("PK", "ID", kUnique);
    request.Index("BYNAME", "FULLNAME", {});
    EXPECT_EQ(Closed("People")->InternalRestructureTable(request.Record), 0);
    EXPECT_EQ(FieldNames("People"), std::vector<std::string>({"ID", "FULLNAME", "AGE"}));
    auto people = OpenCursor(*DataBase, "People", false, "BYNAME");
    EXPECT_EQ(Names(*people, "FULLNAME"), std::vector<std::string>({"Ann", "Ann", "Bob", "Cid"}));
    EXPECT_TRUE(platform::FileExists(Backup()));
}

TEST_F(TableMaintenanceTest, AnIndexChangeReindexesAndAUniqueIndexOverDuplicatesLeavesTheTableAsItWas) {
    TRequest unique;
    PeopleAsTheyAre(unique);
    unique.Index("UNAME", "NAME", TIndexOptions{ixUnique}, dcAdded);
    unique.Indexes.SetChangeStatus(dcAdded);
    EXPECT_EQ(ErrorCode([&] { Closed("People")->InternalRestructureTable(unique.Record); }), 9729);
    EXPECT_EQ(OpenCursor(*DataBase, "People", false)->InternalGetIndexCount(), 2);
    EXPECT_EQ(Names(*OpenCursor(*DataBase, "People", false, "BYNAME"), "NAME"),
              std::vector<std::string>({"Ann", "Ann", "Bob", "Cid"}));

    TRequest byAge;
    PeopleAsTheyAre(byAge);
    byAge.Index("BYAGE", "AGE;NAME", {}, dcAdded);
    byAge.Indexes.SetChangeStatus(dcAdded);
    EXPECT_EQ(Closed("People")->InternalRestructureTable(byAge.Record), 0);
    auto people = OpenCursor(*DataBase, "People", false, "BYAGE");
    EXPECT_EQ(Names(*people, "NAME"), std::vector<std::string>({"Ann", "Ann", "Bob", "Cid"}));
    Insert(*people, {{"NAME", "Dee"}, {"AGE", 20}}, true);
    EXPECT_EQ(Names(*people, "NAME"), std::vector<std::string>({"Dee", "Ann", "Ann", "Bob", "Cid"}));
}

// A restructure that copies the records and adds a unique index over repeated values: the bulk
// build finds the repeat, drops its table and copies again key by key, so the result is that of
// the key-by-key copy inside a transaction: the first record of each key in storage order is
// kept, each other one is logged and counted, and no work table or page is left behind.
TEST_F(TableMaintenanceTest, AUniqueKeyRepeatedInACopyKeepsTheFirstRecordAndCountsTheOthers) {
    auto request = [&](TRequest& Request) {
        Request.Field("ID", ftAutoInc, 0, "ID");
        Request.Field("NAME", ftString, 30, "NAME", dcDataChange);
        Request.Field("AGE", ftInteger, 0, "AGE");
        Request.Fields.SetChangeStatus(dcDataChange);
        Request.Index("PK", "ID", kUnique);
        Request.Index("UNAME", "NAME", TIndexOptions{ixUnique}, dcAdded);
    };
    CreateTable(*DataBase, "Copy", {{"ID", ftAutoInc}, {"NAME", ftString, 20}, {"AGE", ftInteger}},
                {{"PK", "ID", kUnique}, {"BYNAME", "NAME"}}, false);
    {
        auto copy = OpenCursor(*DataBase, "Copy", false);
        for (const char* name : {"Ann", "Bob", "Ann", "Cid"}) Insert(*copy, {{"NAME", name}, {"AGE", 30}}, true);
    }
    std::vector<std::vector<Variant>> results;
    for (const bool inTransaction : {false, true}) {
        const std::string table = inTransaction ? "Copy" : "People";
        SCOPED_TRACE(table);
        TRequest unique;
        request(unique);
        DataBase->ClearLog();
        if (inTransaction) DataBase->StartTransaction();
        EXPECT_EQ(Closed(table)->InternalRestructureTable(unique.Record), 1);
        if (inTransaction) DataBase->Commit();
        EXPECT_NE(LogText(*DataBase).find("UNAME"), std::string::npos);
        EXPECT_EQ(LogText(*DataBase).find("again key by key") != std::string::npos, !inTransaction);
        auto cursor = OpenCursor(*DataBase, table, false, "UNAME");
        EXPECT_EQ(Names(*cursor, "NAME"), std::vector<std::string>({"Ann", "Bob", "Cid"}));
        results.push_back(Walk(*cursor, "ID"));
        EXPECT_EQ(ErrorCode([&] { Insert(*cursor, {{"NAME", "Bob"}}, true); }), 9729);
    }
    EXPECT_EQ(results[0], Ints({1, 2, 4}));
    EXPECT_EQ(results[1], results[0]);
    TStringList names;
    DataBase->GetTableNames(&names, false);
    EXPECT_EQ(names.Count(), 2);
    EXPECT_EQ(DataBase->DiskMgr()->DebugCheckStatus(), "");
}

// A raw copy whose unique index waits for the end (a database rebuild's target) fails on a
// repeated key with the error of a refused post and says so; emptied and copied again key by key,
// the target gets what the key-by-key copy always gives.
TEST_F(TableMaintenanceTest, AUniqueIndexBuiltAtTheEndRefusesARepeatedKeyAsAPostDoes) {
    CreateTable(*DataBase, "Target", {{"ID", ftInteger}, {"NAME", ftString, 20}},
                {{"PK", "ID", kUnique}, {"UNAME", "NAME", TIndexOptions{ixUnique}}}, false);
    auto source = OpenCursor(*DataBase, "People", false);
    auto target = OpenCursor(*DataBase, "Target", false);
    target->SetBuildIndexesAtEnd(true);
    target->SetBuildUniqueIndexesAtEnd(true);
    std::string text;
    const int code = ErrorCode([&] {
        try {
            source->CopyRawTableData(*target);
        } catch (const EOrqDatabaseError& E) {
            text = E.what();
            throw;
        }
    });
    EXPECT_EQ(code, 9729);
    EXPECT_TRUE(target->UniqueKeyRepeated());
    EXPECT_NE(text.find("UNAME"), std::string::npos) << text;

    target->SetBuildUniqueIndexesAtEnd(false);
    target->DataSetEmptyTable();
    EXPECT_EQ(source->CopyRawTableData(*target), 1);
    EXPECT_FALSE(target->UniqueKeyRepeated());
    target->InternalSetIndexName("UNAME");
    EXPECT_EQ(Names(*target, "NAME"), std::vector<std::string>({"Ann", "Bob", "Cid"}));
    EXPECT_EQ(Walk(*target, "ID"), Ints({1, 2, 4}));
    EXPECT_EQ(ErrorText([&] { Insert(*target, {{"ID", 9}, {"NAME", "Bob"}}); }), text) << "the text of a refused post";
    EXPECT_EQ(DataBase->DiskMgr()->DebugCheckStatus(), "");
}

TEST_F(TableMaintenanceTest, AFieldChangeCopiesTheDataKeepsAutoIncValuesAndACancelLeavesTheTable) {
    {
        auto people = OpenCursor(*DataBase, "People", false, "PK");
        people->DataSetFirst();
        people->DeleteRecord(nullptr);  // the counter (4) stays above the highest value left
    }
    TRequest request;
    request.Field("ID", ftAutoInc, 0, "ID");
    request.Field("NAME", ftString, 30, "NAME", dcDataChange);
    request.Field("AGE", ftString, 5, "AGE", dcDataChange);
    request.Field("CITY", ftString, 10, "", dcAdded);
    request.Fields.SetChangeStatus(dcDataChange);
    request.Index("PK", "ID", kUnique);
    request.Index("BYNAME", "NAME", {});

    // Cancelled at the first report: nothing changes.
    auto cursor = Closed("People");
    cursor->SetOnUpdateProgress([](int, bool& Cancel) { Cancel = true; });
    EXPECT_EQ(cursor->InternalRestructureTable(request.Record), 0);
    EXPECT_EQ(FieldNames("People"), std::vector<std::string>({"ID", "NAME", "AGE"}));
    EXPECT_EQ(Walk(*OpenCursor(*DataBase, "People", false, "PK"), "ID"), Ints({2, 3, 4}));

    std::vector<int> reported;
    cursor->SetOnUpdateProgress([&](int Percent, bool&) { reported.push_back(Percent); });
    EXPECT_EQ(cursor->InternalRestructureTable(request.Record), 0);
    EXPECT_FALSE(reported.empty());
    EXPECT_EQ(FieldNames("People"), std::vector<std::string>({"ID", "NAME", "AGE", "CITY"}));
    auto people = OpenCursor(*DataBase, "People", false, "PK");
    EXPECT_EQ(Walk(*people, "ID"), Ints({2, 3, 4}));
    EXPECT_EQ(Walk(*people, "AGE"), std::vector<Variant>(3, Variant("30")));
    Insert(*people, {{"NAME", "Eve"}}, true);
    EXPECT_EQ(GetValue(*people, "ID").AsInteger(), 5);
}

// Outside a transaction a restructure that copies the records builds the new table beside the
// old one and commits it in steps (its memory stays bounded); the new table takes the old one's
// place at the end, and a failure part-way drops it and leaves the table as it was. Nothing of
// the work is left in the table list.
TEST_F(TableMaintenanceTest, AFieldChangeCommitsInStepsAndAFailurePartWayLeavesTheTable) {
    // Records of about 1,000 bytes: a step of 2 MiB is some 2,000 of them.
    constexpr int kRows = 7000;
    CreateTable(*DataBase, "Wide",
                {{"ID", ftAutoInc}, {"T1", ftString, 250}, {"T2", ftString, 250}, {"T3", ftString, 250}, {"T4", ftString, 250}},
                {{"PK", "ID", kUnique}}, false);
    {
        auto wide = OpenCursor(*DataBase, "Wide", false);
        DataBase->StartTransaction();
        wide->LockTable();
        for (int i = 0; i < kRows; ++i) Insert(*wide, {{"T1", "t" + std::to_string(i)}}, true);
        wide->UnlockTable();
        DataBase->Commit();
    }
    auto tableNames = [&] {
        TStringList names;
        DataBase->GetTableNames(&names, false);
        std::vector<std::string> list;
        for (int i = 0; i < names.Count(); ++i) list.push_back(names.Strings(i));
        std::sort(list.begin(), list.end());
        return list;
    };
    const std::vector<std::string> tables{"People", "Wide"};
    auto request = [&](TRequest& Request) {
        Request.Field("ID", ftAutoInc, 0, "ID");
        for (const char* text : {"T1", "T2", "T3", "T4"}) Request.Field(text, ftString, 250, text);
        Request.Field("CITY", ftString, 10, "", dcAdded);
        Request.Fields.SetChangeStatus(dcAdded);
        Request.Index("PK", "ID", kUnique);
    };

    // A write failing after the copy has committed steps: the error passes on, the table is as
    // it was and the new table is gone.
    {
        TRequest failing;
        request(failing);
        auto cursor = Closed("Wide");
        std::unique_ptr<platform::NthCallFault> fault;
        std::unique_ptr<platform::ScopedFileFaultInjector> hook;
        cursor->SetOnUpdateProgress([&](int Percent, bool&) {
            if (Percent == 60 && !fault) {
                fault = std::make_unique<platform::NthCallFault>(platform::FileOps(platform::FileOp::Write), 1,
                                                                 platform::FileFault{ENOSPC, -1}, false, Path());
                hook = std::make_unique<platform::ScopedFileFaultInjector>(*fault);
            }
        });
        EXPECT_NE(ErrorCode([&] { cursor->InternalRestructureTable(failing.Record); }), 0);
        hook.reset();
        EXPECT_EQ(FieldNames("Wide"), std::vector<std::string>({"ID", "T1", "T2", "T3", "T4"}));
        EXPECT_EQ(tableNames(), tables);
        EXPECT_EQ(Walk(*OpenCursor(*DataBase, "Wide", false, "PK"), "ID").size(), size_t(kRows));
    }

    TRequest steps;
    request(steps);
    test::FileOpCounter counter(Path(), platform::FileOp::Flush);  // every commit flushes
    std::map<int, int> firstPercentWithCount;  // flushes so far -> the first progress report
    auto cursor = Closed("Wide");
    cursor->SetOnUpdateProgress([&](int Percent, bool&) { firstPercentWithCount.emplace(counter.Count, Percent); });
    {
        platform::ScopedFileFaultInjector hook(counter);
        EXPECT_EQ(cursor->InternalRestructureTable(steps.Record), 0);
    }
    EXPECT_GE(firstPercentWithCount.size(), 3u);  // commits during the copy, not one at its end
    EXPECT_FALSE(DataBase->InTransaction());
    EXPECT_EQ(tableNames(), tables);
    EXPECT_EQ(FieldNames("Wide"), std::vector<std::string>({"ID", "T1", "T2", "T3", "T4", "CITY"}));
    auto wide = OpenCursor(*DataBase, "Wide", false, "PK");
    EXPECT_EQ(Walk(*wide, "ID").size(), size_t(kRows));
    Insert(*wide, {{"T1", "last"}}, true);
    EXPECT_EQ(GetValue(*wide, "ID").AsInteger(), kRows + 1);  // the counter went on
    EXPECT_EQ(DataBase->DiskMgr()->DebugCheckStatus(), "");
}

}  // namespace
}  // namespace ostra::componentstest
