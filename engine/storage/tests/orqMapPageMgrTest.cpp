// Tests of the allocation maps through the disk manager: runs and releases, free-list order, map
// pages appended at range boundaries, owners, fixed-block listing, a randomized run against a
// model, corrupt maps and headers, addresses above 2 GiB, and the cost of growing a file.
#include "engine/storage/orqMapPageMgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/DiskTestSupport.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;

constexpr uint16_t OwnerWord(uint16_t Table, uint16_t Usage) { return uint16_t(Table << 4 | Usage); }

class MapPageMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDatabase(Path);
        Disk = OpenDatabase(Path);
    }
    uint32_t Allocate(uint16_t Table, uint16_t Usage, uint32_t Count, uint8_t Fill = 0xEE) {
        const auto data = Pages(Count, Fill);
        return Disk->WriteNewPages(Table, 1, Usage, Count, data.data());
    }
    uint32_t StoredHint() { return U32(ReadRange(Path, 1024, 128), 16); }
    uint32_t StoredMapPageCount() { return U32(ReadRange(Path, 1024, 128), 24); }

    test::TempDir Dir;
    std::string Path = Dir.File("map.orq");
    std::unique_ptr<TDiskMgr> Disk;
};

TEST_F(MapPageMgrTest, NewFileMapAndFirstAllocation) {
    for (uint32_t page = 0; page < 5; ++page) EXPECT_EQ(StoredEntry(Path, 5 * PS, page), CUsageSystem);
    EXPECT_EQ(StoredEntry(Path, 5 * PS, 5), CUsageMapPage);
    EXPECT_EQ(StoredEntry(Path, 5 * PS, 6), 0);
    EXPECT_TRUE(StoredFreeList(Path, 5 * PS).empty());
    EXPECT_EQ(Disk->MapMgr()->EntriesPerPage(), 2038);
    EXPECT_EQ(Disk->MapMgr()->PageShift(), 12);
    EXPECT_EQ(Allocate(1, CUsageRecord, 1), 6 * PS);
}

TEST_F(MapPageMgrTest, FreeListKeepsAscendingOrderAndGivesFirstFittingRun) {
    for (uint32_t page = 6; page <= 13; ++page) EXPECT_EQ(Allocate(1, CUsageRecord, 1, 0x11), page * PS);
    for (uint32_t page : {10u, 11u, 12u, 7u}) Disk->ReleasePages(page * PS, 1);
    EXPECT_EQ(StoredFreeList(Path, 5 * PS), (std::vector<uint32_t>{7, 10, 11, 12}));
    EXPECT_EQ(StoredEntry(Path, 5 * PS, 12), CMapEntryFree);
    EXPECT_EQ(StoredHint(), 5 * PS);
    EXPECT_EQ(ReadRange(Path, 10 * PS, PS), std::string(PS, '\0'));  // released pages are zeroed

    EXPECT_EQ(Allocate(2, CUsageIndex, 3), 10 * PS);
    EXPECT_EQ(StoredFreeList(Path, 5 * PS), (std::vector<uint32_t>{7}));
    // The run's entries are owned now.
    EXPECT_EQ(StoredEntry(Path, 5 * PS, 11), OwnerWord(2, CUsageIndex));

    Disk->ReleasePages(10 * PS, 2);
    EXPECT_EQ(StoredFreeList(Path, 5 * PS), (std::vector<uint32_t>{7, 10, 11}));
    EXPECT_EQ(Allocate(2, CUsageIndex, 2), 10 * PS);
    EXPECT_EQ(StoredFreeList(Path, 5 * PS), (std::vector<uint32_t>{7}));
    Disk->ReleasePages(10 * PS, 2);
    EXPECT_EQ(Allocate(2, CUsageIndex, 1), 7 * PS);
    EXPECT_EQ(StoredFreeList(Path, 5 * PS), (std::vector<uint32_t>{10, 11}));
    // No run of three on the list: appended, the list stays.
    EXPECT_EQ(Allocate(2, CUsageIndex, 3), 14 * PS);
    EXPECT_EQ(StoredFreeList(Path, 5 * PS), (std::vector<uint32_t>{10, 11}));
    EXPECT_EQ(Allocate(2, CUsageIndex, 1), 10 * PS);
    EXPECT_EQ(Allocate(2, CUsageIndex, 1), 11 * PS);
    EXPECT_TRUE(StoredFreeList(Path, 5 * PS).empty());
    EXPECT_EQ(StoredHint(), 0u);
}

TEST_F(MapPageMgrTest, MapPageIsAppendedAtTheRangeBoundary) {
    EXPECT_EQ(Allocate(1, CUsageRecord, EPP - 8), 6 * PS);  // pages 6 to 2035
    EXPECT_EQ(StoredMapPageCount(), 1u);
    // Pages 2036 to 2039: two entries in map page 0, two in the new map page 1, which is appended
    // after them and marks itself.
    EXPECT_EQ(Allocate(2, CUsageIndex, 4), 2036 * PS);
    EXPECT_EQ(StoredMapPageCount(), 2u);
    EXPECT_EQ(test::ReadAll(Path).size(), 2041u * PS);
    EXPECT_EQ(StoredEntry(Path, 5 * PS, 2036), OwnerWord(2, CUsageIndex));
    EXPECT_EQ(StoredEntry(Path, 5 * PS, 2037), OwnerWord(2, CUsageIndex));
    EXPECT_EQ(U32(ReadRange(Path, 5 * PS + 4, 4), 0), 2040 * PS);
    const uint32_t map1 = 2040 * PS;
    EXPECT_EQ(U32(ReadRange(Path, map1, 4), 0), 1u);
    EXPECT_EQ(U32(ReadRange(Path, map1 + 4, 4), 0), 0u);
    EXPECT_EQ(StoredEntry(Path, map1, 0), OwnerWord(2, CUsageIndex));
    EXPECT_EQ(StoredEntry(Path, map1, 1), OwnerWord(2, CUsageIndex));
    EXPECT_EQ(StoredEntry(Path, map1, 2), CUsageMapPage);
    EXPECT_EQ(Disk->DebugCheckStatus(), "");

    // Releasing every page of the last range keeps the map page.
    Disk->ReleasePages(2038 * PS, 2);
    EXPECT_EQ(StoredMapPageCount(), 2u);
    EXPECT_EQ(StoredFreeList(Path, map1), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(StoredHint(), map1);
    EXPECT_EQ(Allocate(3, CUsageBlob, 1), 2038 * PS);
    // A map page is never freed, nor the fixed area.
    EXPECT_EQ(ErrorCode([&] { Disk->ReleasePages(map1, 1); }), 8581);
    EXPECT_EQ(ErrorCode([&] { Disk->ReleasePages(5 * PS, 1); }), 8581);
    EXPECT_EQ(ErrorCode([&] { Disk->ReleasePages(3 * EPP * PS, 1); }), 8581);  // beyond the mapped range
    EXPECT_EQ(ErrorCode([&] { Disk->ReleasePages(2100 * PS, 1); }), 8581);     // never handed out
    EXPECT_EQ(Disk->QueryTableLockStatus(0), CNoLock);
}

TEST_F(MapPageMgrTest, DeleteOwnedPagesExactOrEveryUsage) {
    const uint32_t index = Allocate(5, CUsageIndex, 2);
    const uint32_t record = Allocate(5, CUsageRecord, 1, 0x55);
    const uint32_t blob = Allocate(5, CUsageBlob, 1);
    const uint32_t other = Allocate(6, CUsageRecord, 1, 0x66);
    const uint32_t record2 = Allocate(5, CUsageRecord, 1);
    std::vector<uint8_t> page(PS);
    Disk->ReadPages(record, 1, 5, 1, page.data());  // now cached

    Disk->DeleteOwnedPages(5, CUsageRecord, true);
    EXPECT_EQ(StoredFreeList(Path, 5 * PS), (std::vector<uint32_t>{record / PS, record2 / PS}));
    std::vector<uint32_t> left;
    Disk->DebugListOwnedPages(5, left);
    EXPECT_EQ(left, (std::vector<uint32_t>{index, index + PS, blob}));
    Disk->ReadPages(record, 1, 5, 1, page.data());
    EXPECT_EQ(page, Pages(1, 0));  // the cached copy went with the page

    // A bounded delete frees the first pages in map order, and so on until none is left.
    EXPECT_EQ(Disk->DeleteOwnedPages(5, 0, false, 2), 2u);
    Disk->DebugListOwnedPages(5, left);
    EXPECT_EQ(left, (std::vector<uint32_t>{blob}));
    EXPECT_EQ(Disk->DeleteOwnedPages(5, 0, false, 2), 1u);
    EXPECT_EQ(Disk->DeleteOwnedPages(5, 0, false, 2), 0u);
    Disk->DebugListOwnedPages(5, left);
    EXPECT_TRUE(left.empty());
    EXPECT_EQ(StoredFreeList(Path, 5 * PS), (std::vector<uint32_t>{index / PS, index / PS + 1, record / PS, blob / PS, record2 / PS}));
    EXPECT_EQ(StoredEntry(Path, 5 * PS, other / PS), OwnerWord(6, CUsageRecord));
    EXPECT_EQ(ReadRange(Path, other, PS), std::string(PS, char(0x66)));
    EXPECT_EQ(StoredHint(), 5 * PS);
    EXPECT_EQ(Disk->DebugCheckAddressOwnerFlags(OwnerWord(6, CUsageRecord), other), 0);
    EXPECT_EQ(Disk->DebugCheckAddressOwnerFlags(OwnerWord(5, CUsageBlob), blob), -2);
    EXPECT_EQ(Disk->DebugCheckAddressOwnerFlags(OwnerWord(5, CUsageBlob), other), OwnerWord(5, CUsageBlob));
}

TEST_F(MapPageMgrTest, ListAllocatedFixedBlocks) {
    // Blocks of 3000 bytes come in runs of three pages, four blocks each.
    const uint32_t a = Allocate(4, CUsageRecord, 3);
    Allocate(9, CUsageRecord, 1);
    const uint32_t b = Allocate(4, CUsageRecord, 3);
    const uint32_t c = Allocate(4, CUsageRecord, 3);  // directly after b
    std::vector<uint32_t> blocks;
    Disk->ListAllocatedFixedBlocks(3000, 4, CUsageRecord, blocks);
    std::vector<uint32_t> expected;
    for (uint32_t run : {a, b, c})
        for (uint32_t k = 0; k < 4; ++k) expected.push_back(run + 3000 * k);
    EXPECT_EQ(blocks, expected);

    // Blocks of 256 bytes: 16 per page.
    const uint32_t small = Allocate(4, CUsageIndex, 1);
    Disk->ListAllocatedFixedBlocks(256, 4, CUsageIndex, blocks);
    ASSERT_EQ(blocks.size(), 16u);
    EXPECT_EQ(blocks.back(), small + 15 * 256);

    // A run with a page missing cannot be a storage of 3000-byte blocks.
    Disk->ReleasePages(b + PS, 1);
    EXPECT_EQ(ErrorCode([&] { Disk->ListAllocatedFixedBlocks(3000, 4, CUsageRecord, blocks); }), 8964);
    EXPECT_EQ(Disk->QueryTableLockStatus(0), CNoLock);
    EXPECT_THROW(Disk->ListAllocatedFixedBlocks(0, 4, CUsageRecord, blocks), EAssertionFailed);
}

// The map as stored: the chain's pages in order.
std::vector<std::string> StoredMapPages(const std::string& Path) {
    const std::string header = ReadRange(Path, 1024, 128);
    std::vector<std::string> pages;
    uint32_t address = U32(header, 20);
    for (uint32_t i = 0; i < U32(header, 24); ++i) {
        pages.push_back(ReadRange(Path, address, PS));
        address = U32(pages.back(), 4);
    }
    return pages;
}

TEST_F(MapPageMgrTest, RandomizedAgainstAModel) {
    std::mt19937 random(20240611);
    std::map<uint32_t, uint16_t> model;  // page number -> owner word
    struct Run {
        uint32_t Address, Count;
    };
    std::vector<Run> runs;
    auto pick = [&](uint32_t n) { return uint32_t(random() % n); };
    auto allocate = [&] {
        const uint16_t table = uint16_t(1 + pick(4));
        const uint16_t usage = uint16_t(8 + pick(3));
        const uint32_t count = 1 + pick(4);
        const uint32_t address = Allocate(table, usage, count);
        for (uint32_t i = 0; i < count; ++i) {
            ASSERT_EQ(model.count(address / PS + i), 0u) << "page handed out twice";
            model[address / PS + i] = OwnerWord(table, usage);
        }
        runs.push_back({address, count});
    };
    auto release = [&] {
        if (runs.empty()) return;
        const std::size_t k = pick(uint32_t(runs.size()));
        const Run run = runs[k];
        runs.erase(runs.begin() + std::ptrdiff_t(k));
        bool whole = true;
        for (uint32_t i = 0; i < run.Count; ++i) whole = whole && model.count(run.Address / PS + i);
        if (!whole) return;  // part of it went with DeleteOwnedPages
        Disk->ReleasePages(run.Address, run.Count);
        for (uint32_t i = 0; i < run.Count; ++i) model.erase(run.Address / PS + i);
    };
    // A bulk that nearly fills the first map page's range, with holes.
    EXPECT_EQ(Allocate(7, CUsageRecord, EPP - 50), 6 * PS);
    for (uint32_t page = 6; page < EPP - 44; ++page) model[page] = OwnerWord(7, CUsageRecord);
    for (uint32_t page = 100; page < 160; page += 3) {
        Disk->ReleasePages(page * PS, 1);
        model.erase(page);
    }

    for (int step = 0; step < 1200; ++step) {
        const uint32_t choice = pick(100);
        if (choice < 55) {
            allocate();
        } else if (choice < 88) {
            release();
        } else if (choice < 91) {
            const uint16_t table = uint16_t(1 + pick(4));
            const uint16_t usage = uint16_t(8 + pick(3));
            const bool exact = pick(2) == 0;
            Disk->DeleteOwnedPages(table, usage, exact);
            for (auto it = model.begin(); it != model.end();)
                it = (exact ? it->second == OwnerWord(table, usage) : (it->second >> 4) == table) ? model.erase(it)
                                                                                                  : std::next(it);
        } else if (choice < 96) {
            // A transaction of a few steps, rolled back: the model stays.
            auto savedModel = model;
            auto savedRuns = runs;
            Disk->DiskStartTransaction(false);
            for (int i = 0; i < 4; ++i) pick(2) ? allocate() : release();
            if (pick(2)) {
                Disk->DiskCommit();
            } else {
                Disk->DiskRollback();
                model = savedModel;
                runs = savedRuns;
            }
        } else {
            Disk = OpenDatabase(Path);  // a fresh connection with an empty chain cache
        }
        if (HasFatalFailure()) return;
    }
    Disk->Close();

    // Every stored entry is what the model says; every free list is ascending, free-marked, and
    // holds every free entry; no map page before the hint has free entries.
    const std::vector<std::string> maps = StoredMapPages(Path);
    ASSERT_GE(maps.size(), 2u);
    const std::string header = ReadRange(Path, 1024, 128);
    const uint32_t hint = U32(header, 16);
    uint32_t address = U32(header, 20);
    bool hintSeen = false;
    for (uint32_t m = 0; m < maps.size(); ++m) {
        const std::string& map = maps[m];
        EXPECT_EQ(U32(map, 0), m);
        std::vector<uint32_t> listed;
        for (uint32_t offset = U16(map, 8); offset != 0; offset = U16(map, offset) & 0x7FFF) {
            ASSERT_LT(listed.size(), EPP);
            listed.push_back((offset - 20) / 2);
        }
        EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
        if (address == hint) hintSeen = true;
        if (!hintSeen) {
            EXPECT_TRUE(listed.empty()) << "map page " << m << " lies before the hint";
        }
        std::vector<uint32_t> free;
        for (uint32_t i = 0; i < EPP; ++i) {
            const uint32_t page = m * EPP + i;
            const uint16_t entry = U16(map, 20 + 2 * i);
            auto it = model.find(page);
            if (it != model.end()) {
                EXPECT_EQ(entry, it->second) << "page " << page;
            } else if (entry & 0x8000) {
                free.push_back(i);
            } else if (page >= 6 && entry != CUsageMapPage) {
                EXPECT_EQ(entry, 0) << "page " << page;
            }
        }
        EXPECT_EQ(listed, free) << "map page " << m;
        address = U32(map, 4);
    }
    Disk = OpenDatabase(Path);
    EXPECT_EQ(Disk->DebugCheckStatus(), "");
}

// ---------------------------------------------------------------------------------------------
// Corrupt maps and headers

class CorruptMapTest : public ::testing::Test {
protected:
    // A file of two map pages: pages 6 to 2045 owned by table 1 (map page 1 at 2046), with the
    // free list 8, 10 in map page 0 and 2040 in map page 1.
    static void SetUpTestSuite() {
        Base = new test::TempDir;
        const std::string path = Base->File("base.orq");
        CreateDatabase(path);
        auto disk = OpenDatabase(path);
        const auto data = Pages(2040, 0x01);
        disk->WriteNewPages(1, 1, CUsageRecord, 2040, data.data());
        for (uint32_t page : {8u, 10u, 2040u}) disk->ReleasePages(page * PS, 1);
        disk->Close();
        BaseBytes = new std::string(test::ReadAll(path));
    }
    static void TearDownTestSuite() {
        delete BaseBytes;
        delete Base;
    }
    void SetUp() override { test::WriteAll(Path, *BaseBytes); }

    static inline test::TempDir* Base = nullptr;
    static inline std::string* BaseBytes = nullptr;
    test::TempDir Dir;
    std::string Path = Dir.File("corrupt.orq");
};

TEST_F(CorruptMapTest, BaseFileIsSound) {
    auto disk = OpenDatabase(Path);
    EXPECT_EQ(StoredFreeList(Path, 5 * PS), (std::vector<uint32_t>{8, 10}));
    EXPECT_EQ(U32(ReadRange(Path, 5 * PS + 4, 4), 0), 2046 * PS);
    EXPECT_EQ(StoredFreeList(Path, 2046 * PS), (std::vector<uint32_t>{2}));
    const auto data = Pages(2, 0x02);
    EXPECT_EQ(disk->WriteNewPages(2, 1, CUsageRecord, 2, data.data()), 2047 * PS);
    EXPECT_EQ(disk->DebugCheckStatus(), "");
}

TEST_F(CorruptMapTest, CorruptValuesGiveDataCorruptErrors) {
    const uint32_t map0 = 5 * PS;
    const uint32_t map1 = 2046 * PS;
    auto entry = [](uint32_t map, uint32_t index) { return uint64_t(map) + 20 + 2 * index; };
    struct Case {
        const char* Name;
        std::function<void(const std::string&)> Corrupt;
        int32_t Expected;
        bool AtOpen;
        uint32_t Pages;  // the request that walks the damage
    };
    const Case cases[] = {
        {"first empty entry odd", [&](auto& p) { PatchU16(p, map0 + 8, 27); }, 8964, false, 1},
        {"first empty entry in the page header", [&](auto& p) { PatchU16(p, map0 + 8, 12); }, 8964, false, 1},
        {"free-list cycle", [&](auto& p) { PatchU16(p, entry(map0, 10), 0x8000 | (20 + 2 * 8)); }, 8964, false, 2},
        {"link to an owned entry", [&](auto& p) { PatchU16(p, entry(map0, 8), 0x8000 | (20 + 2 * 9)); }, 8964, false, 2},
        {"free entry for a fixed page",
         [&](auto& p) {
             PatchU16(p, map0 + 8, 20 + 2 * 2);
             PatchU16(p, entry(map0, 2), 0x8000);
         },
         8964, false, 1},
        {"free entry for a map page",
         [&](auto& p) {
             PatchU16(p, map1 + 8, 20 + 2 * 8);
             PatchU16(p, entry(map1, 8), 0x8000);
             PatchU32(p, 1024 + 16, map1);
         },
         8964, false, 1},
        {"free run beyond the end of the file",
         [&](auto& p) {
             PatchU16(p, map1 + 8, 20 + 2 * 100);
             PatchU16(p, entry(map1, 100), 0x8000);
             PatchU32(p, 1024 + 16, map1);
         },
         8964, false, 1},
        {"map page id wrong", [&](auto& p) { PatchU32(p, map1, 7); }, 8964, false, 3},
        {"chain link missing", [&](auto& p) { PatchU32(p, map0 + 4, 0); }, 8964, false, 3},
        {"chain link to a data page", [&](auto& p) { PatchU32(p, map0 + 4, 100 * PS); }, 8964, false, 3},
        {"chain link to itself", [&](auto& p) { PatchU32(p, map0 + 4, map0); }, 8964, false, 3},
        {"chain link beyond the file", [&](auto& p) { PatchU32(p, map0 + 4, 9000 * PS); }, 8964, false, 3},
        {"hint is a data page", [&](auto& p) { PatchU32(p, 1024 + 16, 100 * PS); }, 8961, false, 1},
        {"hint unaligned", [&](auto& p) { PatchU32(p, 1024 + 16, 12345); }, 8961, true, 1},
        {"hint beyond the file", [&](auto& p) { PatchU32(p, 1024 + 16, 0xFFFFF000); }, 8961, true, 1},
        {"map page count too large", [&](auto& p) { PatchU32(p, 1024 + 24, 1000); }, 8961, true, 1},
        {"map page count zero", [&](auto& p) { PatchU32(p, 1024 + 24, 0); }, 8961, true, 1},
        {"first map page moved", [&](auto& p) { PatchU32(p, 1024 + 20, 6 * PS); }, 8961, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        test::WriteAll(Path, *BaseBytes);
        c.Corrupt(Path);
        std::unique_ptr<TDiskMgr> disk;
        const int32_t atOpen = ErrorCode([&] { disk = OpenDatabase(Path); });
        if (c.AtOpen) {
            EXPECT_EQ(atOpen, c.Expected);
            continue;
        }
        ASSERT_EQ(atOpen, 0);
        const auto data = Pages(c.Pages, 0x03);
        // A run of three is never on a list: that request walks every map page.
        EXPECT_EQ(ErrorCode([&] { disk->WriteNewPages(2, 1, CUsageRecord, c.Pages, data.data()); }), c.Expected);
        EXPECT_EQ(disk->QueryTableLockStatus(0), CNoLock);
        std::vector<uint32_t> blocks;
        if (c.Pages == 3) {
            EXPECT_EQ(ErrorCode([&] { disk->DebugListOwnedPages(1, blocks); }), c.Expected);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Addresses above 2 GiB

TEST(MapAbove2GiBTest, RunsAndBlocksBeyondTheSignedRange) {
    test::TempDir dir;
    const std::string path = dir.File("big.orq");
    CreateDatabase(path);
    // A sparse file whose map covers 260 ranges (about 2.17 GB): every page owned by table 1,
    // except six pages of table 2 and a free run of two in the last range, above 2^31.
    constexpr uint32_t maps = 260;
    constexpr uint32_t lastPage = maps * EPP - 1;
    {
        platform::File file;
        ASSERT_TRUE(file.Open(path, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                              platform::FileCreate::OpenExisting));
        ASSERT_TRUE(file.SetSize(int64_t(lastPage + 1) * PS));
        for (uint32_t m = 0; m < maps; ++m) {
            const uint32_t self = m == 0 ? 5 : m * EPP;
            std::string map(PS, '\0');
            PutU32(map, 0, m);
            PutU32(map, 4, m + 1 < maps ? (m + 1) * EPP * PS : 0);
            for (uint32_t i = 0; i < EPP; ++i) {
                const uint32_t page = m * EPP + i;
                PutU16(map, 20 + 2 * i, page < 5 ? CUsageSystem : page == self ? CUsageMapPage : OwnerWord(1, 9));
            }
            if (m == maps - 1) {
                for (uint32_t i = 100; i < 106; ++i) PutU16(map, 20 + 2 * i, OwnerWord(2, 9));
                PutU16(map, 8, 20 + 2 * 200);
                PutU16(map, 20 + 2 * 200, 0x8000 | (20 + 2 * 201));
                PutU16(map, 20 + 2 * 201, 0x8000);
            }
            ASSERT_EQ(file.Write(int64_t(self) * PS, map.data(), PS), int64_t(PS));
        }
        std::string header(12, '\0');
        PutU32(header, 0, (maps - 1) * EPP * PS);  // hint: the last map page
        PutU32(header, 4, 5 * PS);
        PutU32(header, 8, maps);
        ASSERT_EQ(file.Write(1024 + 16, header.data(), 12), 12);
    }
    const uint32_t lastRange = (maps - 1) * EPP;
    ASSERT_GT(uint64_t(lastRange) * PS, uint64_t(1) << 31);

    auto disk = OpenDatabase(path);
    const auto data = Pages(2, 0x42);
    const uint32_t run = disk->WriteNewPages(3, 1, CUsageBlob, 2, data.data());
    EXPECT_EQ(run, (lastRange + 200) * PS);
    std::vector<uint8_t> back(2 * PS);
    disk->ReadPages(run, 2, 3, 1, back.data());
    EXPECT_EQ(back, data);
    EXPECT_EQ(disk->DebugCheckAddressOwnerFlags(OwnerWord(3, CUsageBlob), run + PS), 0);
    disk->ReleasePages(run, 2);
    EXPECT_EQ(disk->WriteNewPages(3, 1, CUsageBlob, 1, data.data()), run);

    // Six adjacent pages of 3000-byte blocks: two runs of four blocks, in address order.
    std::vector<uint32_t> blocks;
    disk->ListAllocatedFixedBlocks(3000, 2, 9, blocks);
    ASSERT_EQ(blocks.size(), 8u);
    EXPECT_EQ(blocks.front(), (lastRange + 100) * PS);
    EXPECT_EQ(blocks.back(), (lastRange + 103) * PS + 9000);
    EXPECT_TRUE(std::is_sorted(blocks.begin(), blocks.end()));

    // Appending at the end of the file, beyond 2^31: the pages open a new map range.
    EXPECT_EQ(disk->WriteNewPages(3, 1, CUsageIndex, 2, data.data()), (lastPage + 1) * PS);
    EXPECT_EQ(disk->DebugCheckAddressOwnerFlags(OwnerWord(3, CUsageIndex), (lastPage + 2) * PS), 0);
    EXPECT_EQ(disk->DebugCheckAddressOwnerFlags(CUsageMapPage, (lastPage + 3) * PS), 0);
    EXPECT_EQ(disk->DebugCheckStatus(), "");
}

// ---------------------------------------------------------------------------------------------
// Cost of growing a file

// Counts the reads of one file without failing any.
class ReadCounter : public platform::FileFaultInjector {
public:
    explicit ReadCounter(std::string PathPart) : FPathPart(std::move(PathPart)) {}
    platform::FileFault Decide(platform::FileOp Op, const std::string& Path, int64_t, int64_t) override {
        if (Op == platform::FileOp::Read && Path.find(FPathPart) != std::string::npos) ++Reads;
        return {};
    }
    int64_t Reads = 0;

private:
    std::string FPathPart;
};

TEST_F(MapPageMgrTest, AllocationCostDoesNotGrowWithTheMap) {
    // Reads of one single-page allocation at the end of a file with one map page...
    Allocate(1, CUsageRecord, 1);
    ReadCounter small("map.orq");
    {
        platform::ScopedFileFaultInjector counting(small);
        Allocate(1, CUsageRecord, 1);
    }
    // ...and of a file with three map pages, from a fresh connection once it knows the chain.
    const auto bulk = Pages(2000, 0x01);
    for (int i = 0; i < 3; ++i) Disk->WriteNewPages(1, 1, CUsageRecord, 2000, bulk.data());
    EXPECT_EQ(StoredMapPageCount(), 3u);
    Disk = OpenDatabase(Path);
    Allocate(1, CUsageRecord, 1);
    ReadCounter large("map.orq");
    {
        platform::ScopedFileFaultInjector counting(large);
        for (int i = 0; i < 10; ++i) Allocate(1, CUsageRecord, 1);
    }
    EXPECT_GT(small.Reads, 0);
    EXPECT_EQ(large.Reads, 10 * small.Reads);
    EXPECT_EQ(Disk->MapMgr()->CachedChainLength(), 3u);
}

}  // namespace
}  // namespace ostra
