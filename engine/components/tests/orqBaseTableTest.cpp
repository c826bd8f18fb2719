// The dataset face through the framework: browsing and scrolling with more records than buffers,
// editing, inserting and deleting, bookmarks and their comparison, date and time values through
// the time stamp (and an invalid one refused), calculated fields, blob null flags, the record
// status, and the locks a post, delete or edit takes and gives back.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqErrors.h"
#include "host/db/DataSource.h"
#include "host/db/DataLink.h"
#include "host/db/NumericFields.h"
#include "host/db/StringField.h"
#include "support/orqTableTest.h"

namespace ostra::componentstest {
namespace {

class BaseTableTest : public TTableTest {
protected:
    // A table with IDs 1..Count (NAME "n<ID>", AGE ID % 7), opened.
    std::unique_ptr<TOrqTable> Filled(int Count) {
        auto table = Table();
        table->Open();
        for (int id = 1; id <= Count; ++id) AddRow(*table, id, "n" + std::to_string(id), id % 7);
        return table;
    }
    // The stored double of a date or time field of record ID, read by a plain cursor.
    double Stored(int ID, const std::string& Field) {
        auto cursor = Open("People", "PK");
        cursor->InitializeNewRecord(cursor->RecordBuffer(), false);
        SetValue(*cursor, "ID", ID);
        EXPECT_TRUE(cursor->Find(stEQ, "PK", nullptr));
        return GetValue(*cursor, Field).AsDouble();
    }
};

TEST_P(BaseTableTest, BrowsesEditsAndDeletesThroughTheFramework) {
    auto table = Filled(30);
    // A data source with a window of 5 buffers: the ring scrolls over the 30 records.
    TDataSource source(nullptr);
    source.SetDataSet(table.get());
    TDataLink link;
    link.SetBufferCount(5);
    link.SetDataSource(&source);
    EXPECT_EQ(table->RecordCount(), 30);
    std::vector<std::string> ids = Column(*table, "ID");
    ASSERT_EQ(ids.size(), 30u);
    EXPECT_EQ(ids.front(), "1");
    EXPECT_EQ(ids.back(), "30");
    table->Last();
    int back = 0;
    for (; !table->Bof(); table->Prior()) ++back;
    EXPECT_EQ(back, 30);

    table->First();
    table->MoveBy(9);
    EXPECT_EQ(table->RecNo(), 10);
    table->Edit();
    table->FieldByName("NAME")->SetAsString("edited");
    table->Post();
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 10);
    EXPECT_EQ(table->FieldByName("NAME")->AsString(), "edited");

    table->Edit();
    table->FieldByName("NAME")->SetAsString("cancelled");
    table->Cancel();
    EXPECT_EQ(table->FieldByName("NAME")->AsString(), "edited");

    table->Delete();
    EXPECT_EQ(table->RecordCount(), 29);
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 11) << "the next record takes the deleted one's place";
    table->SetRecNo(20);
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 21);

    // A second component sees every change.
    auto other = Table();
    other->Open();
    EXPECT_EQ(other->RecordCount(), 29);
    ids = Column(*other, "ID");
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "10"), 0) << "the record edited, then deleted";
    link.SetDataSource(nullptr);
}

TEST_P(BaseTableTest, EmptyTableFetchesNothing) {
    auto table = Table();
    table->Open();
    EXPECT_TRUE(table->Eof());
    EXPECT_TRUE(table->IsEmpty());
    EXPECT_EQ(table->RecordCount(), 0);
    EXPECT_EQ(table->RecNo(), 0);
    table->Last();
    EXPECT_TRUE(table->Bof());
}

TEST_P(BaseTableTest, BookmarksReturnAndCompare) {
    auto table = Filled(12);
    table->First();
    table->MoveBy(4);
    const TBookmark fifth = table->Bookmark();
    ASSERT_EQ(fifth.size(), 8u);
    table->Last();
    const TBookmark last = table->Bookmark();
    EXPECT_TRUE(table->BookmarkValid(fifth));
    table->GotoBookmark(fifth);
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 5);

    auto bytes = [](std::initializer_list<int> Values) {
        std::string b;
        for (int v : Values) b.push_back(char(v));
        return b;
    };
    struct Case {
        TBookmark A, B;
        int Expected;
    } cases[] = {
        {"", "", 0},
        {"", fifth, 1},
        {fifth, "", 1},
        {fifth, fifth, 0},
        {bytes({1, 2, 3, 0, 0, 0, 0, 0}), bytes({1, 2, 200, 0, 0, 0, 0, 0}), -197},
        {bytes({9, 0, 0, 0, 0, 0, 0, 1}), bytes({9, 0, 0, 0, 0, 0, 0, 0}), 1},
    };
    for (const Case& c : cases) EXPECT_EQ(table->CompareBookmarks(c.A, c.B), c.Expected);

    // The bookmarked record deleted: its bookmark is no longer valid and leads nowhere.
    table->GotoBookmark(last);
    table->Delete();
    EXPECT_FALSE(table->BookmarkValid(last));
    EXPECT_EQ(ErrorCode([&] { table->GotoBookmark(last); }), 10021);
    EXPECT_EQ(ErrorCode([&] { table->GotoBookmark(bytes({0x7f, 0x7f, 0, 0, 1, 0, 0, 0})); }), 10021);
    EXPECT_TRUE(table->Active());
}

TEST_P(BaseTableTest, DatesAndTimesGoThroughTheTimeStamp) {
    Create("Times", {{"ID", ftInteger}, {"D", ftDate}, {"T", ftTime}, {"DT", ftDateTime}},
           {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}});
    auto table = Table("Times");
    table->Open();
    table->Append();
    table->FieldByName("ID")->SetAsInteger(1);
    TDateTimeRec date{};
    date.Date = DateDelta + 1;
    table->FieldByName("D")->SetData(&date);
    TDateTimeRec time{};
    time.Time = 43200000;
    table->FieldByName("T")->SetData(&time);
    table->FieldByName("DT")->SetAsDateTime(2.75);
    table->Post();

    auto cursor = Open("Times", "PK");
    ASSERT_TRUE(cursor->DataSetFirst());
    EXPECT_EQ(GetValue(*cursor, "D").AsDouble(), 1.0);
    EXPECT_EQ(GetValue(*cursor, "T").AsDouble(), 0.5);
    EXPECT_EQ(GetValue(*cursor, "DT").AsDouble(), 2.75);

    TDateTimeRec back{};
    ASSERT_TRUE(table->FieldByName("D")->GetData(&back));
    EXPECT_EQ(back.Date, DateDelta + 1);
    ASSERT_TRUE(table->FieldByName("T")->GetData(&back));
    EXPECT_EQ(back.Time, 43200000);
    EXPECT_EQ(table->FieldByName("DT")->AsDateTime(), 2.75);

    // An invalid value is refused with a conversion error; the stored value stays.
    table->Edit();
    TDateTimeRec bad{};
    bad.Date = 0;
    EXPECT_THROW(table->FieldByName("D")->SetData(&bad), EConvertError);
    bad.Time = -5;
    EXPECT_THROW(table->FieldByName("T")->SetData(&bad), EConvertError);
    bad.DateTime = -1000;
    EXPECT_THROW(table->FieldByName("DT")->SetData(&bad), EConvertError);
    table->Post();
    ASSERT_TRUE(cursor->DataSetFirst());
    EXPECT_EQ(GetValue(*cursor, "D").AsDouble(), 1.0);
    EXPECT_EQ(GetValue(*cursor, "T").AsDouble(), 0.5);
}

TEST_P(BaseTableTest, CalculatedFieldsAndNulls) {
    auto table = Table();
    for (const char* name : {"ID", "AGE"}) {
        auto* f = CreateComponent<TIntegerField>(table.get());
        f->SetFieldName(name);
        f->SetDataSet(table.get());
    }
    auto* name = CreateComponent<TStringField>(table.get());
    name->SetFieldName("NAME");
    name->SetSize(16);
    name->SetDataSet(table.get());
    auto* label = CreateComponent<TStringField>(table.get());
    label->SetFieldName("LABEL");
    label->SetSize(30);
    label->SetFieldKind(fkCalculated);
    label->SetDataSet(table.get());
    table->OnCalcFields = [](TDataSet* D) {
        D->FieldByName("LABEL")->SetAsString(D->FieldByName("NAME")->AsString() + "/" +
                                             D->FieldByName("AGE")->AsString());
    };
    table->Open();
    AddRow(*table, 1, "ann", 30);
    AddRow(*table, 2, "bob", 40);
    table->Append();
    table->FieldByName("ID")->SetAsInteger(3);
    table->Post();
    EXPECT_EQ(Column(*table, "LABEL"), (std::vector<std::string>{"ann/30", "bob/40", "/"}));
    table->Last();
    EXPECT_TRUE(table->FieldByName("NAME")->IsNull());
    EXPECT_TRUE(table->FieldByName("AGE")->IsNull());
    EXPECT_FALSE(table->FieldByName("ID")->IsNull());
    // A null number read as a value: nothing of another record's bytes comes through.
    EXPECT_EQ(table->FieldByName("AGE")->AsInteger(), 0);
    EXPECT_TRUE(VarIsNull(table->FieldByName("AGE")->AsVariant()));
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 3);
    // Calculated values are not written: the calculated-field area is outside the record.
    EXPECT_THROW(label->SetAsString("x"), EDatabaseError) << "outside an editing state";
}

TEST_P(BaseTableTest, BlobNullFlagAndDefaultFieldsOfEveryColumn) {
    auto table = Table();
    table->Open();
    EXPECT_EQ(table->FieldCount(), 5);
    AddRow(*table, 1, "ann", 30);
    EXPECT_TRUE(table->FieldByName("NOTE")->IsNull());
    EXPECT_TRUE(table->FieldByName("BORN")->IsNull());
    EXPECT_EQ(table->FieldDefs().Count(), 5);
    EXPECT_EQ(table->IndexDefs().Count(), 3);
}

TEST_P(BaseTableTest, EditOfABufferNotInBrowseStatusIsRefused) {
    auto table = Filled(2);
    table->First();
    table->SetRecordStatus(table->ActiveBuffer(), rbInvalid);
    EXPECT_EQ(ErrorCode([&] { table->Edit(); }), 8581);
    EXPECT_EQ(table->State(), dsBrowse);
}

TEST_P(BaseTableTest, DuplicateKeyPostFailsAndKeepsTheEdit) {
    auto table = Filled(3);
    table->First();
    table->Edit();
    table->FieldByName("ID")->SetAsInteger(2);
    EXPECT_EQ(ErrorCode([&] { table->Post(); }), 9729);
    EXPECT_EQ(table->State(), dsEdit);
    EXPECT_FALSE(table->TableLocked());
    table->FieldByName("ID")->SetAsInteger(10);
    table->Post();
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"2", "3", "10"}));
}

INSTANTIATE_CURSOR_TESTS(BaseTableTest);

// ---- Locks (disk only: in-memory tables take none)

class BaseTableLockTest : public TTableTest {};

TEST_P(BaseTableLockTest, PostAndDeleteGiveBackTheWriteLockTheyTook) {
    auto table = Table();
    table->Open();
    AddRow(*table, 1, "ann", 30);
    EXPECT_FALSE(table->TableLocked()) << "a post keeps no table lock";
    // Another connection writes at once, with no wait on a lock kept.
    auto other = ConnectDataBase(Dir.File("cursor.orq"));
    auto cursor = OpenCursor(*other, "People", false);
    Insert(*cursor, {{"ID", 2}, {"NAME", "bob"}});
    table->Refresh();
    table->Last();
    table->Delete();
    EXPECT_FALSE(table->TableLocked()) << "a delete keeps no table lock";
    Insert(*cursor, {{"ID", 3}, {"NAME", "cid"}});

    // A failed post gives back the lock it took.
    table->Append();
    table->FieldByName("ID")->SetAsInteger(3);
    EXPECT_EQ(ErrorCode([&] { table->Post(); }), 9729);
    EXPECT_FALSE(table->TableLocked());
    table->Cancel();

    // A lock the caller holds stays held through posts and deletes, failed or not.
    table->SetLocked(true);
    EXPECT_TRUE(table->WriteLocked());
    AddRow(*table, 4, "dee", 50);
    EXPECT_TRUE(table->WriteLocked());
    table->Append();
    table->FieldByName("ID")->SetAsInteger(4);
    EXPECT_EQ(ErrorCode([&] { table->Post(); }), 9729);
    table->Cancel();
    EXPECT_TRUE(table->WriteLocked());
    table->Delete();
    EXPECT_TRUE(table->WriteLocked());
    EXPECT_EQ(ErrorCode([&] { Insert(*cursor, {{"ID", 9}}); }), 10249) << "the other waits while it is held";
    table->SetLocked(false);
    EXPECT_FALSE(table->Locked());
    Insert(*cursor, {{"ID", 9}});
}

TEST_P(BaseTableLockTest, LockedReadsAndReleasesTheSameLocks) {
    auto table = Table();
    table->Open();
    EXPECT_EQ(table->Locked(), false);
    table->ReadLockTable();
    EXPECT_TRUE(table->Locked()) << "a read lock counts as locked";
    table->SetLocked(false);
    EXPECT_FALSE(table->Locked()) << "and setting False gives it back";
    EXPECT_FALSE(table->TableLocked());
    table->ReadLockTable();
    table->SetLocked(true);
    EXPECT_TRUE(table->WriteLocked());
    table->SetLocked(false);
    EXPECT_FALSE(table->Locked());
    table->Close();
    EXPECT_THROW(table->SetLocked(true), EDatabaseError);
}

TEST_P(BaseTableLockTest, EditHoldsTheRecordLockUntilPostOrCancel) {
    auto table = Table();
    table->Open();
    AddRow(*table, 1, "ann", 30);
    auto other = ConnectDataBase(Dir.File("cursor.orq"));
    auto cursor = OpenCursor(*other, "People", false, "PK");
    ASSERT_TRUE(cursor->DataSetFirst());
    const uint32_t address = cursor->DatasetGetRecAddr();

    table->Edit();
    EXPECT_EQ(ErrorCode([&] { cursor->InternalSetRecordLock(address); }), 10249);
    table->FieldByName("NAME")->SetAsString("changed");
    table->Post();
    cursor->InternalSetRecordLock(address);
    cursor->InternalReleaseRecordLock(address);

    table->Edit();
    EXPECT_EQ(ErrorCode([&] { cursor->InternalSetRecordLock(address); }), 10249);
    table->Cancel();
    cursor->InternalSetRecordLock(address);
    // The record locked by another: the edit is refused.
    EXPECT_EQ(ErrorCode([&] { table->Edit(); }), 10249);
    EXPECT_EQ(table->State(), dsBrowse);
    cursor->InternalReleaseRecordLock(address);
    table->Edit();
    table->Close();
    cursor->InternalSetRecordLock(address);
    cursor->InternalReleaseRecordLock(address);
}

INSTANTIATE_TEST_SUITE_P(Storage, BaseTableLockTest, ::testing::Values(false),
                         [](const ::testing::TestParamInfo<bool>&) { return std::string("Disk"); });

}  // namespace
}  // namespace ostra::componentstest
