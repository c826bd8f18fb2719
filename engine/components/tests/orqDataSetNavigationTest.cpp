// Navigation through the engine cursor: walks in index order and natural order (across many
// leaves, both ways, in and out of read-ahead mode), the six search types with and without key
// markers, searches of a leading part of the key and in another index, positioning on addresses
// and bookmarks (deleted and reused ones too), record numbers and counts, read-ahead (its fill,
// its trust span, its refusal of other search types in read-ahead mode), and locating.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "engine/storage/orqSearchKey.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

class CursorNavigationTest : public TCursorTest {
protected:
    // "Items": ID unique, NAME non-unique, GRP;ID compound; N records, ID = 2, 4, ..., 2N, inserted
    // in a scattered order; NAME "n<ID mod 7>"; GRP ID div 10.
    void Fill(int N) {
        Create("Items", {{"ID", ftInteger}, {"NAME", ftString, 12}, {"GRP", ftInteger}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}, {"ixName", "NAME", {}}, {"ixGrp", "GRP;ID", {}}});
        Cursor = Open("Items");
        for (int i = 0; i < N; ++i) {
            const int id = 2 * (1 + (i * 7919) % N);
            Insert(*Cursor, {{"ID", id}, {"NAME", "n" + std::to_string(id % 7)}, {"GRP", id / 10}});
            Ids.push_back(id);
            Inserted.push_back(id);
        }
        std::sort(Ids.begin(), Ids.end());
    }
    // Puts ID into a fresh search buffer (the record buffer).
    void Key(int ID) {
        Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
        SetValue(*Cursor, "ID", ID);
    }
    int CurrentID() { return GetValue(*Cursor, "ID").AsInteger(); }

    std::unique_ptr<TOrqDataSet> Cursor;
    std::vector<int> Ids;       // sorted
    std::vector<int> Inserted;  // in insertion order
};

TEST_P(CursorNavigationTest, WalksInIndexOrderAndNaturalOrder) {
    Fill(700);  // several leaves of every index
    std::vector<Variant> expected;
    for (int id : Ids) expected.emplace_back(id);
    EXPECT_EQ(Walk(*Cursor, "ID"), expected);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(Walk(*Cursor, "ID", false), expected);

    // A non-unique index: names in order, equal names in insertion order.
    Cursor->InternalSetIndexName("ixName");
    std::vector<Variant> names = Walk(*Cursor, "NAME");
    ASSERT_EQ(names.size(), Ids.size());
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(),
                               [](const Variant& A, const Variant& B) { return A.AsString() < B.AsString(); }));

    // Natural order: a table without indexes walks in insertion order.
    Create("Log", {{"N", ftInteger}}, {});
    auto log = Open("Log");
    for (int i = 0; i < 300; ++i) Insert(*log, {{"N", (i * 31) % 300}});
    std::vector<Variant> inserted;
    for (int i = 0; i < 300; ++i) inserted.emplace_back((i * 31) % 300);
    EXPECT_EQ(Walk(*log, "N"), inserted);
}

// In read-ahead mode (a batch of framework fetches) moves step the tree cursor by record-number
// distance; the walk must be the same, with small read-ahead fills and after a change.
TEST_P(CursorNavigationTest, ReadAheadModeWalksTheSameRecords) {
    Fill(500);
    Cursor->SetUseReadAheadBuffer(true);
    Cursor->SetReadAheadBufferSize(3);
    for (int round = 0; round < 2; ++round) {
        Cursor->SetReadAheadMode(raReadAheadUninitialized);
        std::vector<int> seen;
        for (bool more = Cursor->DataSetFirst(); more; more = Cursor->DataSetNext()) seen.push_back(CurrentID());
        EXPECT_EQ(Cursor->ReadAheadMode(), raReadAheadActive);
        EXPECT_EQ(seen, Ids);
        std::vector<int> back;
        for (bool more = Cursor->DataSetLast(); more; more = Cursor->DataSetPrior()) back.push_back(CurrentID());
        std::reverse(back.begin(), back.end());
        EXPECT_EQ(back, Ids);
        // Only next, prior and the exact search are steps.
        EXPECT_EQ(ErrorCode([&] { Cursor->InternalFind(stLE, "PK", nullptr); }), 8581);
        EXPECT_NE(ErrorText([&] { Cursor->InternalFind(stLE, "PK", nullptr); }).find("Unexpected seek type in Internal Find"),
                  std::string::npos);
        Cursor->ClearReadAheadMode();
        EXPECT_EQ(Cursor->ReadAheadMode(), raReadAheadInactive);
        // A change in between: the walk must not step from a stale tree cursor.
        Insert(*Cursor, {{"ID", 2 * round + 1}});
        Ids.insert(Ids.begin() + round, 2 * round + 1);
    }
}

TEST_P(CursorNavigationTest, SearchesWithTheSixTypes) {
    Fill(20);  // 2, 4, ..., 40
    struct Case {
        TIndexSearchType Type;
        int Key;
        int Found;  // 0: nothing
    };
    const Case cases[] = {
        {stLT, 10, 8},  {stLE, 10, 10}, {stEQ, 10, 10}, {stGE, 10, 10}, {stGT, 10, 12}, {stLEG, 10, 10},
        {stLT, 11, 10}, {stLE, 11, 10}, {stEQ, 11, 0},  {stGE, 11, 12}, {stGT, 11, 12}, {stLEG, 11, 12},
        {stLT, 2, 0},   {stLE, 1, 0},   {stGE, 41, 0},  {stGT, 40, 0},  {stLEG, 41, 40}, {stLEG, 1, 2},
    };
    for (const Case& c : cases) {
        Key(c.Key);
        const bool found = Cursor->Find(c.Type, "PK", nullptr);
        EXPECT_EQ(found, c.Found != 0) << int(c.Type) << " " << c.Key;
        if (found && c.Found) {
            EXPECT_EQ(CurrentID(), c.Found) << int(c.Type) << " " << c.Key;
            EXPECT_EQ(Cursor->DataSetGetRecordNo(), c.Found / 2);
        }
    }
}

TEST_P(CursorNavigationTest, SearchesWithMarkersAndLeadingFields) {
    Fill(40);  // GRP 0..8 over ID 2..80
    Cursor->InternalSetIndexName("ixGrp");
    // GRP 3 with ID marked lowest / highest: the first and the last record of the group.
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "GRP", 3);
    Cursor->RecordBuffer()[Cursor->GetFieldNullOffset(Cursor->GetFieldNo("ID"))] = 2;
    Store32(Cursor->RecordBuffer() + Cursor->TableDefinition().RecordSize() + 8, 2);
    ASSERT_TRUE(Cursor->Find(stGE, "ixGrp", nullptr));
    EXPECT_EQ(CurrentID(), 30);
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "GRP", 3);
    Cursor->SetFieldKeyFlagToMax(Cursor->GetFieldNo("ID"));
    ASSERT_TRUE(Cursor->Find(stLE, "ixGrp", nullptr));
    EXPECT_EQ(CurrentID(), 38);

    // A search of the leading field only settles on the edge of the run.
    TSearchModifier leading;
    leading.SetLimitedSearch(true);
    leading.SetIncludedKeyFieldCount(1);
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "GRP", 5);
    ASSERT_TRUE(Cursor->Find(stGE, "ixGrp", &leading));
    EXPECT_EQ(CurrentID(), 50);
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "GRP", 5);
    ASSERT_TRUE(Cursor->Find(stLE, "ixGrp", &leading));
    EXPECT_EQ(CurrentID(), 58);
    ASSERT_TRUE(Cursor->Find(stGT, "ixGrp", &leading));
    EXPECT_EQ(CurrentID(), 60);

    // First and last through the markers of an empty search buffer.
    EXPECT_TRUE(Cursor->DataSetFirst());
    EXPECT_EQ(CurrentID(), 2);
    EXPECT_TRUE(Cursor->DataSetLast());
    EXPECT_EQ(CurrentID(), 80);
}

TEST_P(CursorNavigationTest, SearchesAnotherIndexInTheCurrentOrder) {
    Fill(30);
    // Current index PK; the record is found through ixGrp (its hidden key field marked lowest)
    // and numbered in PK.
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "GRP", 2);
    SetValue(*Cursor, "ID", 24);
    Store32(Cursor->RecordBuffer() + Cursor->TableDefinition().RecordSize() + 8, 2);
    ASSERT_TRUE(Cursor->Find(stGE, "ixGrp", nullptr));
    EXPECT_EQ(CurrentID(), 24);
    EXPECT_EQ(Cursor->DataSetGetRecordNo(), 12);
    ASSERT_TRUE(Cursor->DataSetNext());  // on in PK order
    EXPECT_EQ(CurrentID(), 26);
    EXPECT_EQ(Cursor->FindIndexForFields("grp;id"), "ixGrp");
    EXPECT_EQ(Cursor->FindIndexForFields("NAME"), "ixName");
    EXPECT_EQ(ErrorCode([&] { Cursor->FindIndexForFields("ID;NAME"); }), 9997);
    EXPECT_EQ(ErrorCode([&] { Cursor->Find(stEQ, "nothing", nullptr); }), 9997);
}

TEST_P(CursorNavigationTest, PositionsOnRecordsAndBookmarks) {
    Fill(30);
    Key(20);
    ASSERT_TRUE(Cursor->Find(stEQ, "PK", nullptr));
    uint8_t bookmark[8];
    Cursor->GetBookMarkFromBuf(Cursor->RecordBuffer(), bookmark);
    EXPECT_EQ(Load32(bookmark), Cursor->DatasetGetRecAddr());
    EXPECT_EQ(Load32(bookmark + 4), Load32(Cursor->RecordBuffer() + 6));  // the logical record number
    EXPECT_TRUE(Cursor->CheckBookMarkValid(bookmark));
    ASSERT_TRUE(Cursor->DataSetFirst());
    ASSERT_TRUE(Cursor->DataSetSetToBookmark(bookmark));
    EXPECT_EQ(CurrentID(), 20);
    EXPECT_EQ(Cursor->DataSetGetRecordNo(), 10);
    EXPECT_EQ(Cursor->DataSetMoveBy(5), 0);
    EXPECT_EQ(CurrentID(), 20);

    // The record goes: the bookmark is stale, and positioning on it reaches the nearest record.
    const uint32_t address = Load32(bookmark);
    ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0);
    EXPECT_FALSE(Cursor->CheckBookMarkValid(bookmark));
    Key(20);  // the record as it was known (the record buffer itself may hold it)
    ASSERT_TRUE(Cursor->SetToRecord(address, Cursor->RecordBuffer(), false, true));
    EXPECT_EQ(CurrentID(), 22);
    EXPECT_NE(Cursor->DatasetGetRecAddr(), address);
    EXPECT_EQ(Cursor->DatasetGetRecAddr(), Load32(Cursor->RecordBuffer() + Cursor->RecordBufferSize() - 12));

    // Its block is given to the next record: the bookmark stays stale.
    Insert(*Cursor, {{"ID", 1000}});
    EXPECT_EQ(Cursor->DatasetGetRecAddr(), address);
    EXPECT_FALSE(Cursor->CheckBookMarkValid(bookmark));
    EXPECT_FALSE(Cursor->CheckBookMarkValid(nullptr));
    EXPECT_EQ(ErrorCode([&] { Cursor->SetToRecord(0, nullptr, false, true); }), 8581);

    // Positioning by modification counter.
    Key(22);
    ASSERT_TRUE(Cursor->Find(stEQ, "PK", nullptr));
    const uint32_t at22 = Cursor->DatasetGetRecAddr();
    ASSERT_TRUE(Cursor->DataSetFirst());
    EXPECT_TRUE(Cursor->DataSetSetToFlags(at22, 0));
    EXPECT_EQ(CurrentID(), 22);
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetSetToFlags(at22, 1); }), 8708);
}

TEST_P(CursorNavigationTest, CountsAndNumbersRecords) {
    Fill(50);
    EXPECT_EQ(Cursor->GetTotalRecordCount(), 50);
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 50);
    EXPECT_EQ(Cursor->DataSetSetRecordNo(0), -1);
    EXPECT_EQ(Cursor->DataSetSetRecordNo(51), -1);
    ASSERT_GT(Cursor->DataSetSetRecordNo(17), 0);
    EXPECT_EQ(CurrentID(), 34);
    EXPECT_EQ(Cursor->DataSetGetRecordNo(), 17);
    EXPECT_EQ(Cursor->DataSetSetRecordNo(0), -1);
    EXPECT_EQ(CurrentID(), 34);  // did not move

    Insert(*Cursor, {{"ID", 1}});
    EXPECT_EQ(Cursor->GetTotalRecordCount(), 51);
    EXPECT_EQ(Cursor->DataSetGetRecordNo(), 1);
    Key(34);
    ASSERT_TRUE(Cursor->Find(stEQ, "PK", nullptr));
    EXPECT_EQ(Cursor->DataSetGetRecordNo(), 18);
    ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0);
    EXPECT_EQ(CurrentID(), 36);  // the next record took its place
    EXPECT_EQ(Cursor->DataSetGetRecordNo(), 18);
    EXPECT_EQ(Cursor->GetTotalRecordCount(), 50);
}

TEST_P(CursorNavigationTest, ReadAheadServesWalksAndExpires) {
    if (Memory()) GTEST_SKIP() << "in-memory tables do not read ahead";
    Fill(30);
    ASSERT_TRUE(Cursor->DataSetFirst());
    EXPECT_EQ(Cursor->ReadAheadBuffer().Count(), 0);  // a positioning search reads no records ahead
    ASSERT_TRUE(Cursor->DataSetNext());               // the first step does: 10 records forwards
    EXPECT_EQ(CurrentID(), 4);
    EXPECT_EQ(Cursor->ReadAheadBuffer().Count(), 10);
    EXPECT_TRUE(Cursor->ReadAheadBuffer().RecordCountValid());

    // Another connection deletes record 6: the records read ahead are trusted for now.
    auto other = ConnectDataBase(Dir.File("cursor.orq"));
    auto writer = OpenCursor(*other, "Items", false);
    writer->InitializeNewRecord(writer->RecordBuffer(), false);
    SetValue(*writer, "ID", 6);
    ASSERT_TRUE(writer->Find(stEQ, "PK", nullptr));
    ASSERT_EQ(writer->DeleteRecord(nullptr), 0);
    ASSERT_TRUE(Cursor->DataSetNext());
    EXPECT_EQ(CurrentID(), 6);

    // 10001 ms after the fill they are not: the buffer empties and the walk goes to the index,
    // whose lock finds the other writer's change.
    Cursor->ReadAheadBuffer().SetValidTimeStamp(GetMSTimeMarker() - 10001);
    EXPECT_FALSE(Cursor->GetFromReadAheadBuffer(rdForwards));
    EXPECT_EQ(Cursor->ReadAheadBuffer().Count(), 0);
    ASSERT_TRUE(Cursor->DataSetNext());
    EXPECT_EQ(CurrentID(), 8);
    EXPECT_EQ(Cursor->GetTotalRecordCount(), 29);
    EXPECT_EQ(Cursor->ReadAheadBuffer().Count(), 10);
    // Backwards the same.
    ASSERT_TRUE(Cursor->DataSetLast());
    ASSERT_TRUE(Cursor->DataSetPrior());
    EXPECT_EQ(CurrentID(), 58);
    EXPECT_EQ(Cursor->ReadAheadBuffer().Count(), 10);
    ASSERT_TRUE(Cursor->DataSetPrior());
    EXPECT_EQ(CurrentID(), 56);
}

TEST_P(CursorNavigationTest, LocatesRecordsByFieldValues) {
    Fill(40);
    std::vector<uint8_t> search(size_t(Cursor->RecordBufferSize())), result(search.size());
    auto locate = [&](const std::string& Fields, std::vector<std::pair<std::string, Variant>> Values,
                      TLocateOptions Options, const std::string& Index) {
        Cursor->InitializeNewRecord(search.data(), false);
        for (auto& [field, value] : Values)
            Cursor->DataSetSetFieldDataToRecBufAsVariant(search.data(), Cursor->GetFieldNo(field), value);
        const bool found = Cursor->DoLocate(Index, search.data(), result.data(), Fields, Options, true, true);
        if (!found) return 0;
        // The record found is the cursor's, numbered in the cursor's order (PK here), and the
        // walk goes on from it.
        const int id = CurrentID();
        EXPECT_EQ(Cursor->DataSetGetRecordNo(), id / 2);
        if (id < Ids.back()) {
            EXPECT_TRUE(Cursor->DataSetNext());
            EXPECT_EQ(CurrentID(), id + 2);
        }
        return id;
    };
    EXPECT_EQ(locate("ID", {{"ID", 30}}, {}, "PK"), 30);                            // by the key
    EXPECT_EQ(locate("ID", {{"ID", 31}}, {}, "PK"), 0);                             // none: stops early
    EXPECT_EQ(locate("NAME", {{"NAME", "n3"}}, {}, "PK"), 10);                      // a scan in PK order
    EXPECT_EQ(locate("NAME;GRP", {{"NAME", "n3"}, {"GRP", 2}}, {}, "ixName"), 24);  // key field, then a scan
    EXPECT_EQ(locate("GRP;NAME", {{"NAME", "n3"}, {"GRP", 2}}, {}, "ixName"), 24);  // reordered to the key
    EXPECT_EQ(locate("NAME", {{"NAME", "N3"}}, {}, "ixName"), 0);
    // Case-insensitively on a case-sensitive index: the field is not searched in the index, the
    // scan still compares it.
    // (In ixName equal names stand in insertion order.)
    const int firstN3 = *std::find_if(Inserted.begin(), Inserted.end(), [](int ID) { return ID % 7 == 3; });
    EXPECT_EQ(locate("NAME", {{"NAME", "N3"}}, TLocateOptions{loCaseInsensitive}, "ixName"), firstN3);
    EXPECT_EQ(locate("NAME", {{"NAME", "n"}}, TLocateOptions{loPartialKey}, "PK"), 2);
    // Under a filter only its records are found.
    Cursor->SetFilterText("ID > 40");
    Cursor->InternalSetFilter();
    EXPECT_EQ(locate("ID", {{"ID", 30}}, {}, "PK"), 0);
    EXPECT_EQ(locate("ID", {{"ID", 50}}, {}, "PK"), 50);
    EXPECT_EQ(locate("NAME;GRP", {{"NAME", "n3"}, {"GRP", 2}}, {}, "ixName"), 0);
    Cursor->InternalClearFilter();
    EXPECT_EQ(ErrorCode([&] { locate("NOPE", {}, {}, "PK"); }), 10116);
    EXPECT_EQ(ErrorCode([&] { locate("ID", {}, {}, "nope"); }), 9997);
}

INSTANTIATE_CURSOR_TESTS(CursorNavigationTest);

}  // namespace
}  // namespace ostra::componentstest
