// The page cache and the block cache over an in-memory disk: LRU order and eviction counts,
// write-through, transactions, failures of the transfer procedures, and the block cache's
// non-overlapping ranges against a byte model.
#include "engine/storage/orqCacheMgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "engine/storage/orqErrors.h"
#include "host/Exceptions.h"
#include "support/orqErrorCapture.h"

using namespace ostra;
using ostra::storagetest::ErrorCode;

namespace {

// A disk of bytes that counts page reads and writes and can be told to fail the N-th write.
struct FakeDisk {
    std::vector<uint8_t> Bytes;
    int Reads = 0;
    int Writes = 0;
    int FailWriteAt = 0;  // 1-based write call that throws; 0 = none

    void Read(uint8_t* Buffer, uint64_t Position, uint64_t Size) {
        ++Reads;
        if (Position + Size > Bytes.size()) throw std::runtime_error("read beyond the disk");
        std::memcpy(Buffer, Bytes.data() + Position, Size);
    }
    void Write(const uint8_t* Buffer, uint64_t Position, uint64_t Size) {
        ++Writes;
        if (FailWriteAt && Writes == FailWriteAt) throw std::runtime_error("injected write failure");
        if (Position + Size > Bytes.size()) Bytes.resize(Position + Size);
        std::memcpy(Bytes.data() + Position, Buffer, Size);
    }
};

constexpr int32_t PageSize = 256;

class PageCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        Disk.Bytes.resize(64 * PageSize);
        for (std::size_t i = 0; i < Disk.Bytes.size(); ++i) Disk.Bytes[i] = uint8_t(i * 7 + i / PageSize);
        Cache.SetReadIO([this](uint8_t* Buffer, uint32_t, uint32_t, uint32_t Position, uint32_t) {
            Disk.Read(Buffer, Position, PageSize);
        });
        Cache.SetWriteIO([this](const uint8_t* Buffer, uint32_t, uint32_t, uint32_t Position, uint32_t) {
            Disk.Write(Buffer, Position, PageSize);
        });
    }
    std::vector<uint8_t> ReadPage(uint32_t Page, uint32_t TableID = 1) {
        std::vector<uint8_t> out(PageSize);
        Cache.ReadCache(out.data(), TableID, 1, Page * PageSize, 0, PageSize);
        return out;
    }
    std::vector<uint8_t> DiskPage(uint32_t Page) {
        return {Disk.Bytes.begin() + Page * PageSize, Disk.Bytes.begin() + (Page + 1) * PageSize};
    }
    bool Cached(uint32_t Page) { return Cache.FindPage(Page * PageSize, 0) >= 0; }

    FakeDisk Disk;
    TCacheMgr Cache;
};

TEST_F(PageCacheTest, EvictsTheLeastRecentlyUsedCleanPage) {
    Cache.Open(4, PageSize);
    for (uint32_t page : {0, 1, 2, 3}) ReadPage(page);
    ReadPage(0);  // page 1 is now the least recently used
    ReadPage(4);
    EXPECT_TRUE(Cached(0));
    EXPECT_FALSE(Cached(1));
    EXPECT_TRUE(Cached(4));
    EXPECT_EQ(Cache.Count(), 4);
    EXPECT_EQ(Cache.Misses(), 5);
    EXPECT_EQ(Cache.Hits(), 1);
    EXPECT_EQ(Disk.Reads, 5);
    EXPECT_EQ(ReadPage(4), DiskPage(4));
}

// Random reads against a plain LRU list of the same capacity: the same misses, and every read
// returns the disk's bytes, also for ranges that span pages.
TEST_F(PageCacheTest, MatchesAnLRUModel) {
    const int capacity = 5;
    Cache.Open(capacity, PageSize);
    std::list<uint32_t> model;  // most recently used first
    int modelMisses = 0;
    std::mt19937 random(7);
    for (int step = 0; step < 3000; ++step) {
        uint32_t first = random() % 12;
        uint32_t count = 1 + random() % 2;
        uint32_t offset = random() % PageSize;
        uint32_t size = count == 1 ? 1 + random() % (PageSize - offset) : PageSize - offset + 1 + random() % PageSize;
        std::vector<uint8_t> out(size);
        Cache.ReadCache(out.data(), 1, 1, first * PageSize + offset, 0, int32_t(size));
        ASSERT_EQ(0, std::memcmp(out.data(), Disk.Bytes.data() + first * PageSize + offset, size)) << step;
        for (uint32_t page = first; page < first + count; ++page) {
            auto it = std::find(model.begin(), model.end(), page);
            if (it == model.end()) {
                ++modelMisses;
                if (int(model.size()) == capacity) model.pop_back();
            } else {
                model.erase(it);
            }
            model.push_front(page);
        }
    }
    EXPECT_EQ(Cache.Misses(), modelMisses);
    EXPECT_EQ(Disk.Reads, modelMisses);
    EXPECT_EQ(Cache.Count(), capacity);
}

// The page lookup table under random puts and removals, with keys that crowd into runs (page
// addresses of several files' worth and high words), against a map.
TEST(CachePageTable, MatchesAMap) {
    TCachePageTable table;
    std::map<uint64_t, TCachePage*> model;
    std::vector<std::unique_ptr<TCachePage>> pages;
    for (int i = 0; i < 64; ++i) pages.push_back(std::make_unique<TCachePage>(i));
    std::mt19937 rng(7);
    for (int step = 0; step < 40000; ++step) {
        // First few keys (a small table whose runs wrap around its end), then many.
        const uint64_t key = uint64_t(rng() % 3) << 32 | uint64_t(rng() % (step < 20000 ? 14 : 300)) * 4096;
        switch (rng() % 3) {
            case 0: {
                TCachePage* page = pages[rng() % pages.size()].get();
                table.Put(key, page);
                model[key] = page;
                break;
            }
            case 1:
                table.Erase(key);
                model.erase(key);
                break;
            default: {
                const auto it = model.find(key);
                ASSERT_EQ(table.Find(key), it == model.end() ? nullptr : it->second) << step;
            }
        }
        if (step % 5000 == 4999) {
            for (const auto& [k, page] : model) ASSERT_EQ(table.Find(k), page) << step;
            if (step == 19999) {
                table.Clear();
                model.clear();
            }
        }
    }
}

TEST_F(PageCacheTest, WritesThroughOutsideATransaction) {
    Cache.Open(4, PageSize);
    std::vector<uint8_t> data(300, 0xAB);
    Cache.WriteCache(data.data(), 1, 1, 2 * PageSize + 100, 0, int32_t(data.size()));
    EXPECT_EQ(0, std::memcmp(Disk.Bytes.data() + 2 * PageSize + 100, data.data(), data.size()));
    EXPECT_EQ(Disk.Writes, 2);
    EXPECT_EQ(Cache.DirtyCount(), 0);
}

TEST_F(PageCacheTest, PartialWriteLoadsThePageWholeWriteDoesNot) {
    Cache.Open(4, PageSize);
    std::vector<uint8_t> page(PageSize, 0x11);
    Cache.WriteCache(page.data(), 1, 1, 3 * PageSize, 0, PageSize);
    EXPECT_EQ(Disk.Reads, 0);
    Cache.WriteCache(page.data(), 1, 1, 5 * PageSize + 10, 0, 20);
    EXPECT_EQ(Disk.Reads, 1);
    EXPECT_EQ(Cache.Misses(), 1);
    EXPECT_EQ(Cache.Hits(), 1);
}

TEST_F(PageCacheTest, TransactionKeepsDirtyPagesUntilCommit) {
    Cache.Open(50, PageSize);
    Disk.Bytes.resize(2000 * PageSize);
    const std::vector<uint8_t> before = Disk.Bytes;
    Cache.StartTransaction();
    std::vector<uint8_t> page(PageSize);
    for (uint32_t i = 0; i < 2000; ++i) {
        std::fill(page.begin(), page.end(), uint8_t(i));
        Cache.WriteCache(page.data(), 1, 1, i * PageSize, 0, PageSize);
    }
    EXPECT_EQ(Disk.Bytes, before);
    EXPECT_GE(Cache.Count(), 2000);
    EXPECT_EQ(Cache.DirtyCount(), 2000);
    // Address order, so that the file is written front to back.
    std::vector<TCachePage*> dirty = Cache.DirtyPages();
    EXPECT_TRUE(std::is_sorted(dirty.begin(), dirty.end(),
                               [](auto* a, auto* b) { return a->LowerAddress() < b->LowerAddress(); }));
    Cache.Commit();
    EXPECT_FALSE(Cache.TransactionActive());
    EXPECT_EQ(Cache.DirtyCount(), 0);
    EXPECT_GE(Cache.Count(), 2000);  // the grown size stays
    for (uint32_t i : {0u, 999u, 1999u}) EXPECT_EQ(DiskPage(i), std::vector<uint8_t>(PageSize, uint8_t(i)));
}

// Inside a transaction a read miss reuses a clean page instead of growing the cache.
TEST_F(PageCacheTest, EvictsCleanPagesInsideATransaction) {
    Cache.Open(4, PageSize);
    Cache.StartTransaction();
    std::vector<uint8_t> data(10, 0x5A);
    Cache.WriteCache(data.data(), 1, 1, 0, 0, 10);
    Cache.WriteCache(data.data(), 1, 1, PageSize, 0, 10);
    for (uint32_t page = 10; page < 30; ++page) EXPECT_EQ(ReadPage(page), DiskPage(page));
    EXPECT_EQ(Cache.Count(), 4);
    EXPECT_EQ(Cache.DirtyCount(), 2);
    std::vector<uint8_t> out(10);
    Cache.ReadCache(out.data(), 1, 1, PageSize, 0, 10);
    EXPECT_EQ(out, data);
}

TEST_F(PageCacheTest, RollbackDropsWrittenPagesAndKeepsReadOnes) {
    Cache.Open(4, PageSize);
    const std::vector<uint8_t> before = Disk.Bytes;
    Cache.StartTransaction();
    std::vector<uint8_t> data(PageSize, 0xEE);
    Cache.WriteCache(data.data(), 1, 1, 2 * PageSize, 0, PageSize);  // page A
    ReadPage(3);                                                     // page B
    Cache.Rollback();
    EXPECT_FALSE(Cached(2));
    ASSERT_TRUE(Cached(3));
    EXPECT_EQ(Cache.Items(Cache.FindPage(3 * PageSize, 0)).State(), cpClean);
    EXPECT_EQ(Disk.Bytes, before);
    EXPECT_EQ(ReadPage(2), DiskPage(2));
}

TEST_F(PageCacheTest, PageOfAnotherTableIsReadAgain) {
    Cache.Open(4, PageSize);
    ReadPage(1, 1);
    ReadPage(1, 2);
    EXPECT_EQ(Disk.Reads, 2);
    EXPECT_EQ(Cache.Count(), 4);
    EXPECT_EQ(Cache.Items(Cache.FindPage(PageSize, 0)).PageOwner(), 2u);
}

// A dirty page holds bytes the disk does not have yet: reading it under another table id must not
// fetch the disk's stale copy. The recode procedure derives the other table's view from it.
TEST_F(PageCacheTest, DirtyPageOfAnotherTableKeepsTheTransactionsBytes) {
    Cache.Open(4, PageSize);
    int recodes = 0;
    Cache.SetRecodeIO([&](uint8_t*, uint32_t OldTable, uint32_t, uint32_t NewTable, uint32_t) {
        ++recodes;
        EXPECT_EQ(OldTable, 1u);
        EXPECT_EQ(NewTable, 2u);
    });
    Cache.StartTransaction();
    std::vector<uint8_t> data(PageSize, 0x42);
    Cache.WriteCache(data.data(), 1, 1, 0, 0, PageSize);
    EXPECT_EQ(ReadPage(0, 2), data);
    EXPECT_EQ(recodes, 1);
    EXPECT_EQ(Disk.Reads, 0);
    Cache.Commit();
    EXPECT_EQ(DiskPage(0), data);
}

TEST_F(PageCacheTest, FailedCommitKeepsTheRestDirtyAndCanBeRetried) {
    Cache.Open(4, PageSize);
    Cache.StartTransaction();
    std::vector<uint8_t> data(PageSize, 0x77);
    for (uint32_t page = 0; page < 3; ++page) Cache.WriteCache(data.data(), 1, 1, page * PageSize, 0, PageSize);
    Disk.FailWriteAt = 2;
    EXPECT_THROW(Cache.Commit(), std::runtime_error);
    EXPECT_TRUE(Cache.TransactionActive());
    EXPECT_EQ(Cache.DirtyCount(), 2);
    EXPECT_EQ(DiskPage(0), data);
    Disk.FailWriteAt = 0;
    Cache.Commit();
    EXPECT_EQ(Cache.DirtyCount(), 0);
    for (uint32_t page = 0; page < 3; ++page) EXPECT_EQ(DiskPage(page), data);
}

// With a run procedure, adjacent dirty pages go out together (at most CMaxWriteRun at a time),
// a lone page through the page procedure; a failed run stays dirty and is written on retry.
TEST_F(PageCacheTest, CommitWritesRunsOfAdjacentPages) {
    const int pages = TCacheMgr::CMaxWriteRun + 5;
    Cache.Open(4, PageSize);
    std::vector<int> runs;
    bool failRun = true;
    Cache.SetWriteRunIO([&](TCachePage* const* Pages, int Count) {
        if (failRun) {
            failRun = false;
            throw std::runtime_error("injected run failure");
        }
        runs.push_back(Count);
        for (int k = 0; k < Count; ++k) {
            ASSERT_EQ(Pages[k]->LowerAddress(), Pages[0]->LowerAddress() + uint32_t(k) * PageSize);
            Disk.Write(Pages[k]->Buffer(), Pages[k]->LowerAddress(), PageSize);
        }
    });
    Cache.StartTransaction();
    std::vector<uint8_t> data(PageSize, 0x5A);
    for (int page = 0; page < pages; ++page)
        if (page != 1) Cache.WriteCache(data.data(), 1, 1, uint32_t(page) * PageSize, 0, PageSize);
    EXPECT_THROW(Cache.Commit(), std::runtime_error);
    EXPECT_EQ(Cache.DirtyCount(), pages - 2) << "page 0 went through the page procedure";
    EXPECT_EQ(DiskPage(0), data);
    Cache.Commit();
    EXPECT_EQ(Cache.DirtyCount(), 0);
    EXPECT_EQ(runs, (std::vector<int>{TCacheMgr::CMaxWriteRun, pages - 2 - TCacheMgr::CMaxWriteRun}));
    for (int page = 0; page < pages; ++page)
        if (page != 1) EXPECT_EQ(DiskPage(uint32_t(page)), data) << page;
}

// A failed read or write-through leaves no page that claims bytes the disk does not hold.
TEST_F(PageCacheTest, FailedTransfersLeaveNoWrongPage) {
    Cache.Open(4, PageSize);
    Cache.SetReadIO([](uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t) { throw std::runtime_error("read"); });
    std::vector<uint8_t> out(PageSize);
    EXPECT_THROW(Cache.ReadCache(out.data(), 1, 1, 0, 0, 10), std::runtime_error);
    EXPECT_FALSE(Cached(0));
    Disk.FailWriteAt = 1;
    std::vector<uint8_t> data(PageSize, 0x99);
    EXPECT_THROW(Cache.WriteCache(data.data(), 1, 1, PageSize, 0, PageSize), std::runtime_error);
    EXPECT_FALSE(Cached(1));
    EXPECT_EQ(Cache.CachedCount(), 0);
}

TEST_F(PageCacheTest, ByReferenceTransfers) {
    Cache.Open(4, PageSize);
    uint8_t* in = nullptr;
    Cache.ReadCacheByRef(1, 1, 2 * PageSize + 16, 0, 32, in);
    EXPECT_EQ(0, std::memcmp(in, Disk.Bytes.data() + 2 * PageSize + 16, 32));
    std::memset(in, 0x3C, 32);
    Cache.WriteCacheByRef(nullptr, 1, 1, 2 * PageSize, 0, PageSize);
    EXPECT_EQ(Disk.Bytes[2 * PageSize + 16], 0x3C);
    EXPECT_EQ(Disk.Bytes[2 * PageSize + 47], 0x3C);

    uint8_t* unused = nullptr;
    EXPECT_THROW(Cache.ReadCacheByRef(1, 1, 2 * PageSize + 250, 0, 10, unused), EAssertionFailed);
    EXPECT_THROW(Cache.WriteCacheByRef(nullptr, 1, 1, 2 * PageSize, 0, 10), EAssertionFailed);
    EXPECT_THROW(Cache.WriteCacheByRef(nullptr, 1, 1, 9 * PageSize, 0, PageSize), EAssertionFailed);
    EXPECT_THROW(Cache.WriteCacheByRef(nullptr, 2, 1, 2 * PageSize, 0, PageSize), EAssertionFailed);
}

// Kept pages (the index pages) outlast a stream of other pages, down to the other pages' share
// of an eighth of the cache; one left unused for four turns of the cache loses its protection;
// a kept page written in a transaction is kept again after the commit; clearing drops kept pages.
TEST_F(PageCacheTest, KeptPagesOutlastOtherCleanPages) {
    Disk.Bytes.resize(200 * PageSize);
    Cache.Open(32, PageSize);  // the other pages' share: 4 pages; four turns: 128 accesses
    auto keep = [&](uint32_t Page) {
        uint8_t* view = nullptr;
        Cache.ReadCacheByRef(1, 1, Page * PageSize, 0, PageSize, view, nullptr, true);
        EXPECT_EQ(0, std::memcmp(view, Disk.Bytes.data() + Page * PageSize, PageSize));
    };
    auto cached = [&](uint32_t From, uint32_t To) {  // how many of the pages From..To-1 are cached
        int n = 0;
        for (uint32_t page = From; page < To; ++page) n += Cached(page);
        return n;
    };
    for (uint32_t page = 0; page < 20; ++page) keep(page);
    for (uint32_t page = 100; page < 140; ++page) ReadPage(page);
    EXPECT_EQ(Cache.KeptCount(), 20);
    EXPECT_EQ(cached(0, 20), 20);
    EXPECT_EQ(cached(128, 140), 12) << "the stream's last pages fill the rest";

    // Kept pages fill all but the other pages' share: then the oldest kept ones make room.
    for (uint32_t page = 20; page < 32; ++page) keep(page);
    for (uint32_t page = 150; page < 160; ++page) ReadPage(page);
    EXPECT_EQ(Cache.KeptCount(), 27);
    EXPECT_EQ(cached(0, 5), 0);
    EXPECT_EQ(cached(5, 32), 27);
    EXPECT_EQ(cached(155, 160), 5);

    // Page 10 stays in use, the other kept pages do not: once unused for more than four turns
    // of the cache they are evicted before the stream's pages.
    for (int i = 0; i < 200; ++i) {
        ReadPage(150 + uint32_t(i % 40));
        if (i % 10 == 0) keep(10);
    }
    EXPECT_TRUE(Cached(10));
    EXPECT_EQ(Cache.KeptCount(), 1);

    Cache.StartTransaction();
    std::vector<uint8_t> data(PageSize, 0x5A);
    Cache.WriteCache(data.data(), 1, 1, 10 * PageSize, 0, PageSize);
    EXPECT_EQ(Cache.KeptCount(), 0) << "a dirty page is in no clean list";
    Cache.Commit();
    EXPECT_EQ(Cache.KeptCount(), 1);
    EXPECT_EQ(DiskPage(10), data);
    Cache.ClearOwnedPages(1);
    EXPECT_EQ(Cache.KeptCount(), 0);
    EXPECT_EQ(Cache.CachedCount(), 0);
}

// The pages of a table let go are parked: still cached (found again without a read), but the
// first to make room, before the least recently used pages of tables in use and before kept
// pages; a parked page used again is an ordinary clean page; the cache does not grow for them;
// clearing the table's pages drops parked ones too.
TEST_F(PageCacheTest, ParkedPagesStayCachedButMakeRoomFirst) {
    Cache.Open(8, PageSize);
    auto keep = [&](uint32_t Page, uint32_t TableID) {
        uint8_t* view = nullptr;
        Cache.ReadCacheByRef(TableID, 1, Page * PageSize, 0, PageSize, view, nullptr, true);
    };
    for (uint32_t page : {0, 1, 2}) ReadPage(page, 2);  // table 2, in use, least recently used
    keep(3, 1);                                          // table 1: a kept page and plain ones
    for (uint32_t page : {4, 5, 6}) ReadPage(page, 1);
    Cache.StartTransaction();
    std::vector<uint8_t> data(PageSize, 0x11);
    Cache.WriteCache(data.data(), 1, 1, 7 * PageSize, 0, PageSize);
    Cache.ParkOwnedPages(1);
    EXPECT_EQ(Cache.ParkedCount(), 4) << "the dirty page is not parked";
    EXPECT_EQ(Cache.KeptCount(), 0);
    EXPECT_EQ(Cache.DirtyCount(), 1);
    Cache.Commit();
    EXPECT_EQ(Cache.ParkedCount(), 4);

    // Used again without a read: page 4 leaves the parked pages.
    const int reads = Disk.Reads;
    EXPECT_EQ(ReadPage(4, 1), DiskPage(4));
    EXPECT_EQ(Disk.Reads, reads);
    EXPECT_EQ(Cache.ParkedCount(), 3);

    // New pages take the parked ones first, in the order parked; table 2's older pages stay.
    for (uint32_t page : {10, 11, 12}) ReadPage(page, 2);
    EXPECT_EQ(Cache.Count(), 8);
    EXPECT_EQ(Cache.ParkedCount(), 0);
    for (uint32_t page : {0, 1, 2, 4, 7, 10, 11, 12}) EXPECT_TRUE(Cached(page)) << page;
    for (uint32_t page : {3, 5, 6}) EXPECT_FALSE(Cached(page)) << page;

    Cache.ParkOwnedPages(2);
    Cache.ClearOwnedPages(2);
    EXPECT_EQ(Cache.ParkedCount(), 0);
    EXPECT_EQ(Cache.CachedCount(), 2);
}

// Sequential misses read the pages after them in growing runs (1, 2, 4, ... 16 pages), never a
// page already cached, and stop at the end of the disk; a miss a little past the last run (a
// cached page skipped) goes on with the run; random misses and misses inside a transaction load
// one page each. Every page holds the disk's bytes.
TEST_F(PageCacheTest, SequentialMissesReadAhead) {
    std::vector<int> runs;  // the page count of each run read
    Cache.SetReadRunIO([&](TCachePage* const* Pages, int Count, uint32_t, uint32_t) {
        runs.push_back(Count);
        for (int k = 1; k < Count; ++k) EXPECT_EQ(Pages[k]->LowerAddress(), Pages[0]->LowerAddress() + k * PageSize);
        const int whole = std::min<int>(Count, int(Disk.Bytes.size() / PageSize - Pages[0]->LowerAddress() / PageSize));
        for (int k = 0; k < whole; ++k)
            std::memcpy(Pages[k]->Buffer(), Disk.Bytes.data() + Pages[k]->LowerAddress(), PageSize);
        return whole;
    });
    Disk.Bytes.resize(100 * PageSize);
    Cache.Open(64, PageSize);
    ReadPage(40);  // cached before the walk reaches it: the run before it stops there
    Disk.Reads = 0;
    for (uint32_t page = 0; page < 100; ++page) ASSERT_EQ(ReadPage(page), DiskPage(page)) << page;
    // 0 alone, 1-2, 3-6, 7-14, 15-30, 31-39 (40 is cached), 41-56, 57-72, 73-88, 89-99 (the disk
    // ends).
    EXPECT_EQ(runs, (std::vector<int>{2, 4, 8, 16, 9, 16, 16, 16, 16}));
    EXPECT_EQ(Disk.Reads, 1) << "page 0 loaded alone, the rest in runs";
    EXPECT_EQ(Cache.Misses(), 1 + 10);

    runs.clear();
    Cache.ClearCache();
    for (uint32_t page : {7, 3, 9, 1, 5}) EXPECT_EQ(ReadPage(page), DiskPage(page));
    Cache.StartTransaction();
    for (uint32_t page = 20; page < 30; ++page) EXPECT_EQ(ReadPage(page), DiskPage(page));
    Cache.Commit();
    EXPECT_TRUE(runs.empty());
}

TEST_F(PageCacheTest, ClearingKeepsDirtyPages) {
    Cache.Open(6, PageSize);
    ReadPage(0, 1);
    ReadPage(1, 2);
    Cache.StartTransaction();
    std::vector<uint8_t> data(PageSize, 0x01);
    Cache.WriteCache(data.data(), 1, 1, 2 * PageSize, 0, PageSize);
    Cache.ClearOwnedPages(1);
    EXPECT_FALSE(Cached(0));
    EXPECT_TRUE(Cached(1));
    EXPECT_TRUE(Cached(2));
    Cache.ClearCache();
    EXPECT_FALSE(Cached(1));
    EXPECT_TRUE(Cached(2));
    Cache.RemovePage(2 * PageSize, 0);
    EXPECT_EQ(Cache.CachedCount(), 0);
}

TEST_F(PageCacheTest, ResetPageCountKeepsDirtyPages) {
    Cache.Open(6, PageSize);
    Cache.StartTransaction();
    std::vector<uint8_t> data(PageSize, 0x01);
    for (uint32_t page = 0; page < 6; ++page) ReadPage(page);
    Cache.WriteCache(data.data(), 1, 1, 5 * PageSize, 0, PageSize);  // the last page of the collection
    Cache.ResetPageCount(2);
    EXPECT_EQ(Cache.Count(), 3);
    EXPECT_TRUE(Cached(5));
    for (int32_t i = 0; i < Cache.Count(); ++i) EXPECT_EQ(Cache.Items(i).Index(), i);
    Cache.ResetPageCount(8);
    EXPECT_EQ(Cache.Count(), 8);
    EXPECT_EQ(ReadPage(7), DiskPage(7));
}

TEST_F(PageCacheTest, Errors) {
    TCacheMgr bare;
    EXPECT_EQ(ErrorCode([&] { bare.Open(4, PageSize); }), 10065);
    bare.SetReadIO([](uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t) {});
    try {
        bare.Open(4, PageSize);
        FAIL();
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10065);
        EXPECT_NE(std::string(e.what()).find("WriteIO"), std::string::npos);
    }
    EXPECT_EQ(ErrorCode([&] { Cache.Open(4, 0); }), 8581);
    EXPECT_EQ(ErrorCode([&] { Cache.Open(4, 300); }), 8581);
    Cache.Open(4, PageSize);
    EXPECT_EQ(ErrorCode([&] { Cache.Commit(); }), 10257);
    EXPECT_EQ(ErrorCode([&] { Cache.Rollback(); }), 10257);
    TCachePage page(0);
    EXPECT_EQ(ErrorCode([&] { page.Open(); }), 8581);
    EXPECT_EQ(ErrorCode([&] { page.Buffer(); }), 8581);
    page.SetPageSize(16);
    page.Open();
    EXPECT_EQ(ErrorCode([&] { page.SetPageSize(32); }), 8581);
}

// ---------------------------------------------------------------------------------------------
// Block cache

class BlockCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        Disk.Bytes.resize(4096);
        for (std::size_t i = 0; i < Disk.Bytes.size(); ++i) Disk.Bytes[i] = uint8_t(i * 13);
        Blocks.SetReadIO([this](uint8_t* Buffer, uint32_t, uint32_t, uint32_t Position, uint32_t, uint32_t Size) {
            Disk.Read(Buffer, Position, Size);
        });
        Blocks.SetWriteIO([this](const uint8_t* Buffer, uint32_t, uint32_t, uint32_t Position, uint32_t,
                                 uint32_t Size) { Disk.Write(Buffer, Position, Size); });
        Blocks.StartTransaction();
    }
    FakeDisk Disk;
    TCacheBlockMgr Blocks;
};

TEST_F(BlockCacheTest, SameRangeReusesOneBlock) {
    std::vector<uint8_t> a(40, 1), b(40, 2);
    Blocks.WriteBlock(a.data(), 0, 0, 768, 0, 40);
    Blocks.WriteBlock(b.data(), 0, 0, 768, 0, 40);
    EXPECT_EQ(Blocks.Count(), 1);
    EXPECT_EQ(Blocks.Hits(), 1);
    ASSERT_NE(Blocks.FindBlock(768, 0), nullptr);
    std::vector<uint8_t> out(40);
    Blocks.ReadBlock(out.data(), 0, 0, 768, 0, 40);
    EXPECT_EQ(out, b);
    EXPECT_EQ(Disk.Reads, 0);
}

// Overlapping ranges of one transaction: the newest bytes win in reads and at commit.
TEST_F(BlockCacheTest, OverlappingWritesKeepTheNewestBytes) {
    std::vector<uint8_t> wide(128, 0xA1), narrow(40, 0xB2), shorter(20, 0xC3);
    Blocks.WriteBlock(wide.data(), 0, 0, 1024, 0, 128);
    Blocks.WriteBlock(narrow.data(), 0, 0, 1100, 0, 40);  // starts inside the first range
    Blocks.WriteBlock(narrow.data(), 0, 0, 768, 0, 40);
    Blocks.WriteBlock(shorter.data(), 0, 0, 768, 0, 20);  // same start, other size
    std::vector<uint8_t> expected = Disk.Bytes;
    std::fill_n(expected.begin() + 1024, 128, 0xA1);
    std::fill_n(expected.begin() + 1100, 40, 0xB2);
    std::fill_n(expected.begin() + 768, 40, 0xB2);
    std::fill_n(expected.begin() + 768, 20, 0xC3);
    std::vector<uint8_t> out(600);
    Blocks.ReadBlock(out.data(), 0, 0, 700, 0, 600);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), expected.begin() + 700));
    Blocks.Commit();
    EXPECT_EQ(Disk.Bytes, expected);
    EXPECT_EQ(Blocks.Count(), 0);
    EXPECT_FALSE(Blocks.TransactionActive());
}

TEST_F(BlockCacheTest, MatchesAByteModel) {
    std::mt19937 random(11);
    std::vector<uint8_t> model = Disk.Bytes;
    for (int round = 0; round < 20; ++round) {
        if (!Blocks.TransactionActive()) Blocks.StartTransaction();
        for (int step = 0; step < 200; ++step) {
            uint32_t position = random() % 4000;
            uint32_t size = 1 + random() % std::min<uint32_t>(300, 4096 - position);
            if (random() % 2) {
                std::vector<uint8_t> data(size);
                for (auto& b : data) b = uint8_t(random());
                Blocks.WriteBlock(data.data(), 0, 0, position, 0, int32_t(size));
                std::copy(data.begin(), data.end(), model.begin() + position);
            } else {
                std::vector<uint8_t> out(size);
                Blocks.ReadBlock(out.data(), 0, 0, position, 0, int32_t(size));
                ASSERT_TRUE(std::equal(out.begin(), out.end(), model.begin() + position)) << round << " " << step;
            }
        }
        std::vector<TCacheBlock*> blocks = Blocks.Blocks();
        for (std::size_t i = 1; i < blocks.size(); ++i)
            ASSERT_LE(blocks[i - 1]->LowAddress() + blocks[i - 1]->BlockSize(), blocks[i]->LowAddress());
        if (round % 3 == 2) {
            Blocks.Rollback();
            model = Disk.Bytes;
        } else {
            Blocks.Commit();
            ASSERT_EQ(Disk.Bytes, model);
        }
    }
}

TEST_F(BlockCacheTest, FailedCommitKeepsTheTransaction) {
    std::vector<uint8_t> data(10, 5);
    Blocks.WriteBlock(data.data(), 0, 0, 0, 0, 10);
    Blocks.WriteBlock(data.data(), 0, 0, 100, 0, 10);
    Disk.FailWriteAt = 2;
    EXPECT_THROW(Blocks.Commit(), std::runtime_error);
    EXPECT_TRUE(Blocks.TransactionActive());
    EXPECT_EQ(Blocks.Count(), 2);
    Disk.FailWriteAt = 0;
    Blocks.Commit();
    EXPECT_EQ(Disk.Writes, 3);  // the block written before the failure is not written again
    EXPECT_EQ(Disk.Bytes[105], 5);
}

TEST_F(BlockCacheTest, Errors) {
    Blocks.Rollback();
    EXPECT_EQ(ErrorCode([&] { Blocks.Commit(); }), 10257);
    EXPECT_EQ(ErrorCode([&] { Blocks.Rollback(); }), 10257);
    TCacheBlockMgr bare;
    EXPECT_EQ(ErrorCode([&] { bare.StartTransaction(); }), 10065);
}

}  // namespace
