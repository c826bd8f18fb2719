// The read-ahead buffer: pooled buffers that survive Invalidate, the validity window (also
// across a wrap of the tick counter), and neighbour lookups by record address.
#include "engine/storage/orqReadAheadBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "host/Exceptions.h"

using namespace ostra;

namespace {

// Fills n items with addresses 100, 200, ... and record numbers 1, 2, ...; each buffer is
// stamped with its item's number so that overlapping buffers would show.
void Fill(TReadAheadBuffer& buffer, int n) {
    for (int i = 0; i < n; ++i) {
        TReadAheadBufferItem* item = buffer.Add();
        item->SetRecAddr(100u * (i + 1));
        item->SetRecNo(i + 1);
        std::memset(item->RecBuf(), i + 1, buffer.RecordSize());
        std::memset(item->KeyBuf(), 0x80 + i, buffer.KeySize());
    }
}

TEST(ReadAheadBuffer, InvalidateKeepsThePoolForTheNextFill) {
    TReadAheadBuffer buffer;
    buffer.Open(40, 15, 10000);
    Fill(buffer, 10);
    EXPECT_EQ(buffer.GetInternalBufferCount(), 10);

    std::set<uint8_t*> first;
    for (int i = 0; i < 10; ++i) first.insert(buffer.GetItems(i)->RecBuf());
    EXPECT_EQ(first.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(buffer.GetItems(i)->RecBuf()[39], i + 1);
        EXPECT_EQ(buffer.GetItems(i)->KeyBuf()[14], 0x80 + i);
    }

    buffer.Invalidate();
    EXPECT_EQ(buffer.Count(), 0);
    EXPECT_EQ(buffer.ValidTimeStamp(), 0u);
    Fill(buffer, 10);
    EXPECT_EQ(buffer.GetInternalBufferCount(), 10);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(first.count(buffer.GetItems(i)->RecBuf()));

    Fill(buffer, 2);  // beyond the pool: two new pairs
    EXPECT_EQ(buffer.GetInternalBufferCount(), 12);

    buffer.Open(40, 15, 10000);  // closes first
    EXPECT_EQ(buffer.Count(), 0);
    EXPECT_EQ(buffer.GetInternalBufferCount(), 0);
}

TEST(ReadAheadBuffer, ADeletedItemsPairIsNotHandedOutAgainBeforeInvalidate) {
    TReadAheadBuffer buffer;
    buffer.Open(8, 8, 10000);
    Fill(buffer, 3);
    buffer.DeleteItem(1);
    Fill(buffer, 1);
    ASSERT_EQ(buffer.Count(), 3);
    EXPECT_EQ(buffer.GetItems(0)->RecBuf()[0], 1);
    EXPECT_EQ(buffer.GetItems(1)->RecBuf()[0], 3);
    EXPECT_EQ(buffer.GetItems(2)->RecBuf()[0], 1);  // the new item's own buffer
    EXPECT_NE(buffer.GetItems(2)->RecBuf(), buffer.GetItems(0)->RecBuf());
}

TEST(ReadAheadBuffer, IsValidUpToValidForAfterTheStamp) {
    TReadAheadBuffer buffer;
    buffer.Open(8, 8, 10000);
    EXPECT_FALSE(buffer.IsValid(0));  // empty: never valid

    struct Case {
        uint32_t Stamp, Now;
        bool Valid;
    };
    const Case cases[] = {
        {5000, 5000, true},
        {5000, 15000, true},
        {5000, 15001, false},
        // the tick counter wraps 4096 ms after the stamp
        {0xFFFFF000u, 0xFFFFF000u, true},
        {0xFFFFF000u, 5904, true},
        {0xFFFFF000u, 5905, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Stamp << " " << c.Now);
        Fill(buffer, 2);
        buffer.SetValidTimeStamp(c.Stamp);
        EXPECT_EQ(buffer.IsValid(c.Now), c.Valid);
        EXPECT_EQ(buffer.Count(), c.Valid ? 2 : 0);  // an expired fill is dropped
        buffer.Invalidate();
    }
}

TEST(ReadAheadBuffer, FindsItemsAndTheirNeighboursByAddress) {
    TReadAheadBuffer buffer;
    buffer.Open(4, 4, 10000);
    EXPECT_EQ(buffer.Last(), nullptr);
    Fill(buffer, 3);
    EXPECT_EQ(buffer.GetBufferItem(200)->RecNo(), 2);
    EXPECT_EQ(buffer.GetBufferItem(250), nullptr);
    EXPECT_EQ(buffer.GetNextBufferItem(100)->RecAddr(), 200u);
    EXPECT_EQ(buffer.GetPriorBufferItem(300)->RecAddr(), 200u);
    EXPECT_EQ(buffer.GetNextBufferItem(300), nullptr);
    EXPECT_EQ(buffer.GetPriorBufferItem(100), nullptr);
    EXPECT_EQ(buffer.GetNextBufferItem(999), nullptr);
    EXPECT_EQ(buffer.GetPriorBufferItem(999), nullptr);
    EXPECT_EQ(buffer.Last()->RecAddr(), 300u);
}

TEST(ReadAheadBuffer, SetItemsCopiesContentsIntoTheTargetsOwnBuffers) {
    TReadAheadBuffer buffer;
    buffer.Open(6, 5, 10000);
    Fill(buffer, 2);
    uint8_t* own = buffer.GetItems(0)->RecBuf();
    buffer.SetItems(0, buffer.GetItems(1));
    EXPECT_EQ(buffer.GetItems(0)->RecBuf(), own);
    EXPECT_EQ(own[5], 2);
    EXPECT_EQ(buffer.GetItems(0)->KeyBuf()[4], 0x81);
    EXPECT_EQ(buffer.GetItems(0)->RecAddr(), 200u);
    EXPECT_EQ(buffer.GetItems(0)->RecNo(), 2);
}

TEST(ReadAheadBuffer, AnItemNeedsBothBuffers) {
    TReadAheadBufferItem item(nullptr);
    uint8_t b[4];
    try {
        item.Initialize(nullptr, b);
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "RecBuf has not been initialized");
    }
    try {
        item.Initialize(b, nullptr);
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "KeyBuf has not been initialized");
    }
}

}  // namespace
