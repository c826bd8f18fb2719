// Ranges, record lists and filters of the engine cursor: moves, record numbers and counts inside
// a range (valid, empty, open on one side), the range-end caches after changes, the record lists
// of a range and of a whole index, the join hash of one field, and the cursor's side of filters
// (the moves through a filter, searches landing on filtered records, keeping or reopening a filter).
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqCompoundList.h"
#include "engine/storage/orqHash.h"
#include "host/Lists.h"
#include "support/orqCursorTest.h"
#include "support/orqRecordFilterMgr.h"

namespace ostra::componentstest {
namespace {

class CursorRangeTest : public TCursorTest {
protected:
    // "Orders": ID unique, CUST non-unique; ID 1..60 with CUST = ID div 10 (0..6: 9 records of
    // CUST 0, 10 of 1 to 5, 1 of 6), added in a scattered order.
    void SetUp() override {
        TCursorTest::SetUp();
        Create("Orders", {{"ID", ftInteger}, {"CUST", ftInteger}, {"NOTE", ftString, 8}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}, {"ixCust", "CUST", {}}});
        Cursor = Open("Orders", "ixCust");
        for (int i = 0; i < 60; ++i) {
            const int id = 1 + (i * 37) % 60;
            Insert(*Cursor, {{"ID", id}, {"CUST", id / 10}});
        }
    }
    // Range on CUST from First to Last (a side left unset when negative).
    void Range(int First, int Last) {
        Cursor->DataSetClearRange();
        if (First >= 0) SetBound(rmRangeStart, First);
        if (Last >= 0) SetBound(rmRangeEnd, Last);
        Cursor->SetRangeOn(true);
    }
    void SetBound(TRangeMode Mode, int Value) {
        Cursor->DataSetSetFieldDataToRecBufAsVariant(Cursor->GetRangeRecBuf(Mode), Cursor->GetFieldNo("CUST"), Value);
    }
    std::vector<int> Customers() {
        std::vector<int> values;
        for (const Variant& value : Walk(*Cursor, "CUST")) values.push_back(value.AsInteger());
        return values;
    }

    std::unique_ptr<TOrqDataSet> Cursor;
};

TEST_P(CursorRangeTest, MovesAndCountsInsideTheRange) {
    Range(2, 3);  // ID 20..39
    EXPECT_TRUE(Cursor->RangeValid());
    const std::vector<int> customers = Customers();
    ASSERT_EQ(customers.size(), 20u);
    EXPECT_EQ(customers.front(), 2);
    EXPECT_EQ(customers.back(), 3);
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 20);
    EXPECT_EQ(Cursor->GetTotalRecordCount(), 60);

    // Record numbers count from 1 at the range start; the start's own number is absolute.
    ASSERT_TRUE(Cursor->DataSetFirst());
    EXPECT_EQ(Cursor->DataSetGetRecordNo(), 1);
    EXPECT_EQ(Cursor->GetRangeEndRecNo(rmRangeStart), 20);  // after CUST 0 (ID 1..9) and 1 (ID 10..19)
    EXPECT_EQ(Cursor->GetRangeEndRecNo(rmRangeEnd), 39);
    // Next on the last record of the range stops although the index goes on.
    ASSERT_TRUE(Cursor->DataSetLast());
    EXPECT_EQ(Cursor->DataSetGetRecordNo(), 20);
    EXPECT_FALSE(Cursor->DataSetNext());
    ASSERT_TRUE(Cursor->DataSetFirst());
    EXPECT_FALSE(Cursor->DataSetPrior());
    // Moves by record number stay inside the range.
    EXPECT_GT(Cursor->DataSetSetRecordNo(5), 0);
    EXPECT_EQ(Cursor->DataSetGetRecordNo(), 5);
    EXPECT_EQ(Cursor->DataSetSetRecordNo(21), -1);
    // A key search outside the range lands on its nearest end, or finds nothing.
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), true);
    SetValue(*Cursor, "CUST", 5);
    ASSERT_TRUE(Cursor->Find(stLE, "ixCust", nullptr));
    EXPECT_EQ(GetValue(*Cursor, "CUST").AsInteger(), 3);
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), true);
    SetValue(*Cursor, "CUST", 0);
    EXPECT_FALSE(Cursor->Find(stLE, "ixCust", nullptr));
    ASSERT_TRUE(Cursor->Find(stGE, "ixCust", nullptr));
    EXPECT_EQ(GetValue(*Cursor, "CUST").AsInteger(), 2);

    Cursor->SetRangeOn(false);
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 60);
    EXPECT_EQ(Customers().size(), 60u);
}

TEST_P(CursorRangeTest, EmptyAndOpenRanges) {
    Range(4, 1);  // start after end: on, but nothing in it
    EXPECT_TRUE(Cursor->RangeOn());
    EXPECT_FALSE(Cursor->RangeValid());
    EXPECT_FALSE(Cursor->DataSetFirst());
    EXPECT_FALSE(Cursor->DataSetLast());
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 0);
    Range(7, 9);  // valid, but no key there
    EXPECT_FALSE(Cursor->DataSetFirst());
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 0);
    Range(5, -1);  // no end: every key from 5 on
    EXPECT_EQ(Customers(), std::vector<int>({5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 6}));
    Range(-1, 0);  // no start
    EXPECT_EQ(Customers().size(), 9u);
}

// Changes drop the cached record numbers of the range ends: the next count searches both ends.
TEST_P(CursorRangeTest, ChangesRefreshTheRangeEnds) {
    Range(1, 2);
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 20);
    Insert(*Cursor, {{"ID", 100}, {"CUST", 1}});
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 21);
    EXPECT_EQ(GetValue(*Cursor, "ID").AsInteger(), 100);
    // A record added outside the range: the cursor stays inside it.
    Insert(*Cursor, {{"ID", 101}, {"CUST", 6}});
    EXPECT_EQ(GetValue(*Cursor, "CUST").AsInteger(), 2);
    ASSERT_TRUE(Cursor->DataSetFirst());
    ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0);
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 20);
    EXPECT_EQ(Cursor->DataSetGetRecordNo(), 1);
}

TEST_P(CursorRangeTest, ListsTheRecordsOfTheRange) {
    Range(3, 4);
    TList list;
    Cursor->LoadCompleteListOfRecords(list);
    ASSERT_EQ(list.Count(), 20);
    std::vector<uint8_t> record(size_t(Cursor->RecordBufferSize()));
    int previous = -1;
    for (int i = 0; i < list.Count(); ++i) {
        Cursor->ReadRecordBuffer(uint32_t(reinterpret_cast<uintptr_t>(list.Items(i))), record.data());
        const int customer = int(Load32(record.data() + Cursor->GetFieldDataOffset(Cursor->GetFieldNo("CUST"))));
        EXPECT_GE(customer, std::max(previous, 3));
        EXPECT_LE(customer, 4);
        previous = customer;
    }
    TCompoundList all;
    Cursor->SetRangeOn(false);
    EXPECT_EQ(Cursor->InternalPrepareMasterRecordList(all), 1);
    EXPECT_EQ(all.Count(), 60);
    EXPECT_EQ(all.List2().back(), 60);  // record numbers in the index
}

TEST_P(CursorRangeTest, FillsAJoinHashFromAnIndexOrTheRecords) {
    for (const char* field : {"CUST", "NOTE"}) {  // CUST through its index, NOTE from the records
        TOrqBaseHash hash(128, 64, 16);
        hash.SetSourceFieldName(field);
        if (std::string(field) == "NOTE") {
            ASSERT_TRUE(Cursor->DataSetFirst());
            SetValue(*Cursor, "NOTE", "first");
            Cursor->UpdateRecord();
        }
        Cursor->LoadHashListOfRecords(hash, nullptr, false);
        EXPECT_EQ(hash.Count(), std::string(field) == "CUST" ? 60 : 1) << field;
    }
}

TEST_P(CursorRangeTest, MovesThroughAFilter) {
    Cursor->InternalSetIndexName("PK");
    auto filter = std::make_unique<TRecordFilterMgr>();
    TRecordFilterMgr& manager = *filter;
    Cursor->DataSetClose();
    Cursor->SetFilterMgr(std::move(filter));
    Cursor->DataSetOpen();
    // Only the odd ids pass.
    Cursor->SetOnFilterRecord([](TDataSet*, bool&) {});
    Cursor->SetFilterEventHandler([this](uint8_t* Record) {
        return Load32(Record + Cursor->GetFieldDataOffset(Cursor->GetFieldNo("ID"))) % 2 == 1;
    });
    EXPECT_TRUE(Cursor->IsSequenced());
    Cursor->InternalSetFilter();
    EXPECT_TRUE(manager.Active());
    EXPECT_FALSE(Cursor->IsSequenced());
    std::vector<Variant> ids = Walk(*Cursor, "ID");
    ASSERT_EQ(ids.size(), 30u);
    EXPECT_EQ(ids.front().AsInteger(), 1);
    EXPECT_EQ(ids.back().AsInteger(), 59);
    EXPECT_EQ(Walk(*Cursor, "ID", false).front().AsInteger(), 59);
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 30);
    // A search that finds a filtered-out record moves to the nearest record that passes.
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "ID", 10);
    ASSERT_TRUE(Cursor->Find(stGE, "PK", nullptr));
    EXPECT_EQ(GetValue(*Cursor, "ID").AsInteger(), 11);
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "ID", 10);
    EXPECT_FALSE(Cursor->Find(stEQ, "PK", nullptr));
    // Setting the same filter again keeps it and refreshes its data provider; a change reopens it.
    Cursor->InternalSetFilter();
    EXPECT_EQ(manager.Refreshes(), 1);
    // An insert under the caller's write lock re-evaluates the filter.
    Cursor->LockTable();
    Insert(*Cursor, {{"ID", 61}, {"CUST", 6}});
    Cursor->UnlockTable();
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 31);
    Cursor->InternalClearFilter();
    EXPECT_FALSE(manager.Active());
    EXPECT_EQ(Walk(*Cursor, "ID").size(), 61u);
    // A filter text this manager cannot open.
    Cursor->SetFilterText("ID > 3");
    EXPECT_EQ(ErrorCode([&] { Cursor->InternalSetFilter(); }), 10051);
    EXPECT_TRUE(Cursor->PassFilterEvent(Cursor->DatasetGetRecAddr()) ==
                (GetValue(*Cursor, "ID").AsInteger() % 2 == 1));
}

TEST_P(CursorRangeTest, TheDefaultFilterEvaluatesTextsInsideTheRange) {
    EXPECT_TRUE(Cursor->PassFilterEvent(Cursor->DatasetGetRecAddr()));  // no handler: every record
    Range(2, 3);
    Cursor->SetFilterText("ID > 33");
    Cursor->InternalSetFilter();
    EXPECT_FALSE(Cursor->IsSequenced());
    EXPECT_EQ(Customers(), (std::vector<int>{3, 3, 3, 3, 3, 3}));
    EXPECT_EQ(Cursor->GetCurrentRecordCount(), 6);
    Cursor->InternalClearFilter();
    Cursor->SetFilterText("ID >");
    EXPECT_EQ(ErrorCode([&] { Cursor->InternalSetFilter(); }), 10051);
    Cursor->SetFilterText("");
    Cursor->InternalSetFilter();  // nothing to filter: nothing happens
    EXPECT_TRUE(Cursor->IsSequenced());
}

INSTANTIATE_CURSOR_TESTS(CursorRangeTest);

}  // namespace
}  // namespace ostra::componentstest
