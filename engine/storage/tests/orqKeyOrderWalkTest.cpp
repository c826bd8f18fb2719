// The walk in key order that reads records in batches in storage order: it hands out exactly what
// stepping the index and reading each record does (from any starting entry, over any number of
// batches, inside a transaction with changes not yet committed), and reads each record page about
// once per batch where stepping reads one page per record.
#include "engine/storage/orqKeyOrderWalk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/orqCacheMgr.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "support/orqStockTable.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace tabletest;

constexpr int32_t Rows = 4000;

// Row I of the table is stored I-th; its ID is scattered, so neither index lists the records in
// the order they lie. Every ninth row is deleted again, leaving free blocks among the records.
int32_t ScatteredID(int32_t I) { return int32_t((int64_t(I) * 7919) % Rows) + 1; }

void PrepareTable(const std::string& Path) {
    CreateStockDatabase(Path);
    TStockTable table(Path);
    table.Open();
    table.Begin();
    for (int32_t i = 0; i < Rows; ++i) {
        const int32_t id = ScatteredID(i);
        table.Insert(StockRow(id, "G-" + std::string(1, char('A' + id % 26)), id % 100));
    }
    for (int32_t i = 0; i < Rows; i += 9) table.Delete(ScatteredID(i));
    table.WriteTableHeader();
    table.Commit();
}

using TVisited = std::vector<std::pair<uint32_t, std::vector<uint8_t>>>;

// Positions index I for a walk: on its first entry (From empty), else on the first entry at or
// after the key of a row whose searched field is From. False when no entry is there.
bool Position(TStockTable& Table, int I, const std::string& From) {
    TIndexItem& index = Table.Index(I);
    if (From.empty()) {
        const TKeyMarkerList first(std::size_t(index.KeyFields()->Count()), fcForceBOF);
        std::vector<uint8_t> blank = Table.BlankRecord();
        index.CreateKeyBuffer(blank.data(), &first);
    } else {
        TStockRow row = I == ixStockID ? StockRow(std::stoi(From), "G-A", 0) : StockRow(0, From, 0);
        index.CreateKeyBuffer(Table.Encode(row).data(), nullptr);
    }
    return index.FullIndexSearch(stGE) == 0;
}

// What stepping the index and reading each record visits.
TVisited Stepped(TStockTable& Table, int I, const std::string& From) {
    TVisited visited;
    TIndexItem& index = Table.Index(I);
    for (bool on = Position(Table, I, From); on; on = index.NextKey())
        visited.emplace_back(index.GetRecordAddress(), Table.Read(index.GetRecordAddress()));
    return visited;
}

// What the key-order walk with a buffer of BufferBytes visits; Capacity := records per batch (0:
// read one by one).
TVisited Walked(TStockTable& Table, int I, const std::string& From, std::size_t BufferBytes,
                std::size_t* Capacity = nullptr) {
    TVisited visited;
    TKeyOrderWalk walk(Table.Records(), BufferBytes);
    if (!Position(Table, I, From)) return visited;
    walk.Start(Table.Index(I));
    if (Capacity) *Capacity = walk.Capacity();
    std::vector<uint8_t> buffer = Table.BlankRecord();
    uint32_t address = 0;
    while (walk.Next(address, buffer.data())) visited.emplace_back(address, buffer);
    EXPECT_FALSE(walk.Next(address, buffer.data())) << "the walk stays at its end";
    return visited;
}

class KeyOrderWalkTest : public ::testing::Test {
protected:
    void SetUp() override { PrepareTable(Path); }
    test::TempDir Dir;
    std::string Path = Dir.File("walk.orq");
};

TEST_F(KeyOrderWalkTest, HandsOutWhatSteppingTheIndexReads) {
    TStockTable table(Path);
    table.Open();
    table.Lock(1);
    const std::size_t recordSize = std::size_t(table.Records().RecordSize());
    struct Case {
        int Index;
        std::string From;
        std::size_t BufferBytes;
    } cases[] = {
        {ixStockID, "", TKeyOrderWalk::CDefaultBufferBytes},  // the whole table in one batch
        {ixStockID, "", recordSize},                          // one record per batch
        {ixStockID, "", 97 * recordSize + 5},                 // many batches, the last one short
        {ixStockID, "1777", 64 * recordSize},                 // from the middle
        {ixStockID, "4000", 64 * recordSize},                 // the last entry (row 4000 is kept)
        {ixStockID, "4001", 64 * recordSize},                 // after the last entry: nothing
        {ixStockGroup, "", 200 * recordSize},                 // a non-unique index
        {ixStockGroup, "G-M", 0},                             // a buffer below one record holds one
    };
    const std::size_t live = std::size_t(Rows - (Rows + 8) / 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(table.Index(c.Index).IndexName() + " from '" + c.From + "', " + std::to_string(c.BufferBytes) +
                     " bytes");
        const TVisited expected = Stepped(table, c.Index, c.From);
        std::size_t capacity = 0;
        EXPECT_EQ(Walked(table, c.Index, c.From, c.BufferBytes, &capacity), expected);
        if (c.From.empty()) EXPECT_EQ(expected.size(), live);
        if (!expected.empty())
            EXPECT_EQ(capacity, std::min(std::max<std::size_t>(c.BufferBytes / recordSize, 1), live));
    }
    // With a page cache that holds the table, records are read as the walk goes.
    table.Disk().File().PageCache().ResetPageCount(4 * int32_t(live * recordSize / 4096));
    std::size_t capacity = 1;
    EXPECT_EQ(Walked(table, ixStockGroup, "", recordSize, &capacity), Stepped(table, ixStockGroup, ""));
    EXPECT_EQ(capacity, 0u);
    table.Unlock();
}

TEST_F(KeyOrderWalkTest, SeesTheChangesOfItsOwnTransaction) {
    TStockTable table(Path);
    table.Open();
    table.Begin();
    for (int32_t id = 2; id <= Rows; id += 50) {
        if (table.Find(id) == 0) continue;
        table.Update(StockRow(id, "G-changed", 1000 + id));
    }
    table.Delete(3);
    const TStockRow added = StockRow(Rows + 1, "G-A", 7);
    table.Insert(added);
    for (int i : {int(ixStockID), int(ixStockGroup)}) {
        SCOPED_TRACE(table.Index(i).IndexName());
        const TVisited expected = Stepped(table, i, "");
        std::size_t capacity = 0;
        EXPECT_EQ(Walked(table, i, "", 300 * std::size_t(table.Records().RecordSize()), &capacity), expected);
        EXPECT_EQ(capacity, 300u);
    }
    table.Rollback();
}

TEST_F(KeyOrderWalkTest, ReadsEachRecordPageOncePerBatch) {
    TStockTable table(Path);  // a new connection: its page cache is small against the table
    table.Open();
    table.Lock(1);
    const TCacheMgr& cache = table.Disk().File().PageCache();
    // Warm the index pages first, so that both counts are of record pages.
    Stepped(table, ixStockGroup, "");
    int32_t misses = cache.Misses();
    const std::size_t rows = Stepped(table, ixStockGroup, "").size();
    const int32_t stepping = cache.Misses() - misses;
    misses = cache.Misses();
    Walked(table, ixStockGroup, "", TKeyOrderWalk::CDefaultBufferBytes);
    const int32_t walking = cache.Misses() - misses;
    std::vector<uint32_t> blocks;
    table.Records().IOInterface()->ListBlocks(blocks);
    std::set<uint32_t> pages;
    for (uint32_t block : blocks) pages.insert(block / 4096);
    ASSERT_GT(pages.size(), std::size_t(cache.Count())) << "the table must outgrow the cache";
    // Stepping the groups meets another record page every few records; one batch reads each
    // record page at most once (the index pages stay cached).
    EXPECT_GT(stepping, int32_t(5 * pages.size()));
    EXPECT_LE(walking, int32_t(pages.size())) << "stepping read " << stepping << " pages, " << rows << " rows";
    table.Unlock();
}

}  // namespace
}  // namespace ostra
