// Block storage: the in-memory handles (allocation order, LIFO slot reuse, linear scans that
// delete), the disk runs and free chains on real database files (first-run layout by block size,
// LIFO reuse, whole pages back to the map, the global chains shared by two connections), bad
// free-chain data, and a randomized run of both variants against a std::map model.
#include "engine/storage/orqInterfaceUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqGlobalHdr.h"
#include "engine/storage/orqMapPageMgr.h"
#include "host/StringList.h"
#include "platform/FileFault.h"
#include "support/DiskTestSupport.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;

constexpr uint32_t FirstData = 6 * PS;  // the first page the maps hand out

std::vector<uint8_t> Filled(uint32_t Size, uint8_t Value) {
    return std::vector<uint8_t>(Size, Value);
}

// ---------------------------------------------------------------------------------------------
// Memory storage

std::vector<uint32_t> Walk(TMemoryIOInterface& io) {
    std::vector<uint32_t> order;
    for (uint32_t a = io.GetNextMemoryBlockAddress(0); a; a = io.GetNextMemoryBlockAddress(a)) order.push_back(a);
    return order;
}

TEST(MemoryIOInterface, HandlesKeepAllocationOrderAndReuseReleasedSlotsLastFirst) {
    TMemoryIOInterface io;
    io.SetBlockSize(16);
    io.Open();
    EXPECT_EQ(io.IOMode(), iomMemory);
    EXPECT_EQ(io.GetNextMemoryBlockAddress(0), 0u);

    const auto data = Filled(16, 7);
    for (uint32_t expected = 1; expected <= 4; ++expected) EXPECT_EQ(io.AllocateNewAddress(16, data.data()), expected);
    io.ReleaseBlock(2, 16);
    io.ReleaseBlock(3, 16);
    EXPECT_EQ(Walk(io), (std::vector<uint32_t>{1, 4}));
    EXPECT_EQ(io.GetNextMemoryBlockAddress(2), 0u) << "a released handle has no successor";
    EXPECT_FALSE(io.CheckBlockAddressValid(2));

    EXPECT_EQ(io.AllocateNewAddress(16, nullptr), 3u);
    EXPECT_EQ(io.AllocateNewAddress(16, nullptr), 2u);
    EXPECT_EQ(Walk(io), (std::vector<uint32_t>{1, 4, 3, 2}));
    std::vector<uint32_t> listed;
    io.ListBlocks(listed);
    EXPECT_EQ(listed, Walk(io));

    uint8_t out[16];
    io.ReadBlock(3, 16, out);
    EXPECT_EQ(out[0], 0) << "a block allocated without a buffer is zero";
    io.Empty(false);
    EXPECT_EQ(io.Count(), 0u);
    EXPECT_EQ(io.AllocateNewAddress(16, nullptr), 1u) << "handles start again after Empty";
}

// A stamp names one content of one address: every road that may change a block renews it, and a
// reused handle (in this storage or after Empty) never shows a stamp seen before.
TEST(MemoryIOInterface, StampsNameOneContentAndViewsLendTheBlock) {
    TMemoryIOInterface io;
    io.SetBlockSize(16);
    io.Open();
    const auto data = Filled(16, 7);
    const uint32_t a = io.AllocateNewAddress(16, data.data());
    std::set<uint64_t> seen;
    auto stamp = [&] {
        uint64_t s = 0;
        uint8_t out[16];
        io.ReadBlockStamped(a, 16, out, s);
        return s;
    };
    auto fresh = [&](const char* What) {
        const uint64_t s = stamp();
        EXPECT_NE(s, 0u) << What;
        EXPECT_TRUE(seen.insert(s).second) << What << ": a stamp seen before";
    };
    fresh("allocated");
    EXPECT_EQ(stamp(), *seen.rbegin()) << "a read leaves the stamp";
    uint64_t viewed = 0;
    const uint8_t* view = io.ReadBlockView(a, 16, viewed);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(viewed, stamp());
    EXPECT_EQ(view[15], 7);
    const auto other = Filled(16, 9);
    uint64_t written = 0;
    io.WriteBlockStamped(a, 16, other.data(), written);
    EXPECT_EQ(written, stamp());
    fresh("written");
    EXPECT_EQ(view[0], 9) << "the view is the block";
    auto part = Filled(16, 9);
    part[5] = 1;
    part[0] = 2;  // outside the range: not copied
    io.WriteBlockPart(a, 16, 5, 1, part.data(), written);
    EXPECT_EQ(view[5], 1);
    EXPECT_EQ(view[0], 9);
    fresh("part written");
    io.WriteBlock(a, 16, data.data());
    fresh("WriteBlock");
    io.WriteBlockHeader(a, 4, other.data());
    fresh("header written");
    uint8_t* ref = nullptr;
    io.ReadBlockByRef(a, 16, ref);
    fresh("lent for writing");
    io.WriteBlockByRef(a, 16, ref);
    fresh("written by reference");
    io.ReleaseBlock(a, 16);
    EXPECT_EQ(io.ReadBlockView(a, 16, viewed), nullptr) << "a released block is not lent";
    EXPECT_EQ(io.AllocateNewAddress(16, nullptr), a);
    fresh("handle reused");
    io.Empty(false);
    EXPECT_EQ(io.AllocateNewAddress(16, nullptr), a);
    fresh("handle reused after Empty");
    EXPECT_EQ(io.ReadBlockView(a, 17, viewed), nullptr) << "more than the block holds";
}

TEST(MemoryIOInterface, ScanThatDeletesEveryRecordVisitsEachOnceInOrder) {
    // A query result or table of this size makes a quadratic walk or delete hang.
    constexpr uint32_t N = 200000;
    TMemoryIOInterface io;
    io.SetBlockSize(8);
    for (uint64_t i = 0; i < N; ++i) io.AllocateNewAddress(8, &i);
    uint32_t visited = 0;
    for (uint32_t a = io.GetNextMemoryBlockAddress(0); a;) {
        uint32_t value;
        io.ReadBlock(a, 4, &value);
        ASSERT_EQ(value, visited);
        const uint32_t next = io.GetNextMemoryBlockAddress(a);
        if (value % 2 == 0) io.ReleaseBlock(a, 8);
        a = next;
        ++visited;
    }
    EXPECT_EQ(visited, N);
    EXPECT_EQ(io.Count(), N / 2);
    uint32_t expected = 1;
    for (uint32_t a = io.GetNextMemoryBlockAddress(0); a; a = io.GetNextMemoryBlockAddress(a), expected += 2) {
        uint32_t value;
        io.ReadBlock(a, 4, &value);
        ASSERT_EQ(value, expected);
    }
}

TEST(MemoryIOInterface, BadAddressesAndBuffers) {
    TMemoryIOInterface io;
    TStringList debug;
    io.SetDebugStrings(&debug);
    const auto data = Filled(32, 1);
    const uint32_t a = io.AllocateNewAddress(32, data.data());
    io.AllocateNewAddress(32, data.data());
    uint8_t buf[64] = {};
    uint8_t* ref = nullptr;

    const std::string notFound = ErrorText([&] { io.ReadBlock(77, 32, buf); });
    EXPECT_NE(notFound.find("Read page error - block address not found77"), std::string::npos) << notFound;
    ASSERT_EQ(debug.Count(), 3);
    EXPECT_EQ(debug.Strings(0), "77:::0000004D");
    EXPECT_EQ(debug.Strings(1), "00000001");

    io.ReadBlockByRef(a, 32, ref);
    struct Case {
        const char* Name;
        std::function<void()> Action;
        const char* Text;
    } cases[] = {
        {"ref unknown", [&] { io.ReadBlockByRef(77, 32, ref); }, "Read page error - block address not found"},
        {"buffers equal", [&] { io.ReadBlock(a, 32, ref); }, "Read page error - buffers equal"},
        {"nil read", [&] { io.ReadBlock(a, 32, nullptr); }, "Unassigned memory pointer"},
        {"read too long", [&] { io.ReadBlock(a, 33, buf); }, "Read page error - size out of range"},
        {"write too long", [&] { io.WriteBlock(a, 64, buf); }, "Write page error - size out of range"},
        {"nil write", [&] { io.WriteBlock(a, 32, nullptr); }, "Write page error - nil pointer"},
        {"nil header write", [&] { io.WriteBlockHeader(a, 4, nullptr); }, "Write header error - nil pointer"},
        {"nil header read", [&] { io.ReadBlockHeader(a, 4, nullptr); }, "Read header error - nil pointer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ErrorCode(c.Action), 8581);
        EXPECT_NE(ErrorText(c.Action).find(c.Text), std::string::npos) << ErrorText(c.Action);
    }
    // Writes and releases of unknown addresses are ignored.
    io.WriteBlock(77, 32, buf);
    io.WriteBlockHeader(77, 4, buf);
    io.ReadBlockHeader(77, 4, buf);
    io.ReleaseBlock(77, 32);
    io.ReleaseBlock(0, 32);
    EXPECT_EQ(io.Count(), 2u);
    EXPECT_EQ(ref[0], 1) << "the by-reference pointer is the stored block";
}

TEST(BaseIOInterface, UnimplementedOperationsRaise10065) {
    TBaseIOInterface io;
    io.SetTableID(3);
    io.SetUsage(9);
    io.Open();
    EXPECT_EQ(io.Owner(), (3 << 4) | 9);
    uint8_t b[4] = {};
    EXPECT_EQ(ErrorCode([&] { io.Empty(true); }), 10065);
    EXPECT_EQ(ErrorCode([&] { io.AllocateNewAddress(4, b); }), 10065);
    EXPECT_EQ(ErrorCode([&] { io.ReleaseBlock(1, 4); }), 10065);
    EXPECT_EQ(ErrorCode([&] { io.WriteBlock(1, 4, b); }), 10065);
    EXPECT_EQ(ErrorCode([&] { io.WriteBlockHeader(1, 4, b); }), 10065);
    EXPECT_FALSE(io.CheckBlockAddressValid(1));
    EXPECT_EQ(io.GetNextMemoryBlockAddress(0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Disk storage

class DiskIO : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    // A new database file, opened.
    void Reset() {
        Disk.reset();
        CreateDatabase(Path);
        Disk = OpenDatabase(Path);
    }
    // A record-style storage (owner keeps FirstEmpty, set to 0 and valid) or, with a global
    // offset, a storage whose chain lives in the global header.
    std::unique_ptr<TDiskIOInterface> Make(uint32_t BlockSize, uint16_t Usage = 9, uint16_t Table = 5,
                                           uint32_t Flags = 1, int32_t GlobalOffset = 0, TDiskMgr* On = nullptr) {
        auto io = std::make_unique<TDiskIOInterface>();
        io->SetDiskMgr(On ? On : Disk.get());
        io->SetBlockSize(BlockSize);
        io->SetUsage(Usage);
        io->SetTableID(Table);
        io->SetAccessFlags(Flags);
        io->SetGlobalFirstEmptyOffset(GlobalOffset);
        if (GlobalOffset == 0) {
            io->SetFirstEmpty(0);
            io->SetFirstEmptyValid(true);
        }
        io->Open();
        return io;
    }
    std::vector<uint32_t> OwnedPages(uint16_t Table) {
        std::vector<uint32_t> pages;
        Disk->DebugListOwnedPages(Table, pages);
        return pages;
    }

    test::TempDir Dir;
    std::string Path = Dir.File("db.orq");
    std::unique_ptr<TDiskMgr> Disk;
};

TEST_F(DiskIO, FirstBlockTakesANewRunWhoseSpareBlocksBecomeTheFreeRun) {
    struct Case {
        uint32_t BlockSize;
        uint32_t Pages;  // pages of the first run
        uint32_t Spare;  // count in the spare run's head; 0 = no spare run
    } cases[] = {
        {100, 1, 39},   // 40 blocks of 100 in 4096, 96 left over
        {3000, 3, 3},   // four blocks of 3000 in 12288
        {256, 1, 15},
        {4096, 1, 0},   // a page per block: no spare
        {5000, 11, 8},  // nine blocks of 5000 in 45056
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.BlockSize);
        Reset();
        auto io = Make(c.BlockSize);
        const auto data = Filled(c.BlockSize, 0xAB);
        const uint32_t a = io->AllocateNewAddress(c.BlockSize, data.data());
        EXPECT_EQ(a, FirstData);
        EXPECT_EQ(OwnedPages(5).size(), c.Pages);
        const std::string run = ReadRange(Path, a, uint64_t(c.Pages) * PS);
        EXPECT_EQ(run.substr(0, c.BlockSize), std::string(c.BlockSize, char(0xAB)));
        if (c.Spare == 0) {
            EXPECT_EQ(io->FirstEmpty(), 0u);
            continue;
        }
        EXPECT_EQ(io->FirstEmpty(), a + c.BlockSize);
        EXPECT_EQ(U32(run, c.BlockSize + 0), 0u);
        EXPECT_EQ(U32(run, c.BlockSize + 4), 0u);
        EXPECT_EQ(U32(run, c.BlockSize + 8), 0u) << "next-run link";
        EXPECT_EQ(U32(run, c.BlockSize + 12), c.Spare) << "free blocks in the run";
        EXPECT_EQ(run.find_first_not_of('\0', c.BlockSize + 16), std::string::npos) << "rest of the run is zero";

        // The next block is the spare run's head; its successor becomes the head.
        EXPECT_EQ(io->AllocateNewAddress(c.BlockSize, data.data()), a + c.BlockSize);
        EXPECT_EQ(io->FirstEmpty(), c.Spare > 1 ? a + 2 * c.BlockSize : 0u);
        if (c.Spare > 1) {
            EXPECT_EQ(U32(ReadRange(Path, a + 2 * c.BlockSize, 16), 12), c.Spare - 1);
        }
    }
}

TEST_F(DiskIO, ReleasedBlocksAreReusedLastReleasedFirstThenTheRunGoesOn) {
    auto io = Make(100);
    const auto data = Filled(100, 1);
    const uint32_t a = io->AllocateNewAddress(100, data.data());
    const uint32_t b = io->AllocateNewAddress(100, data.data());
    const uint32_t c = io->AllocateNewAddress(100, data.data());
    io->ReleaseBlock(a, 100);
    io->ReleaseBlock(b, 100);
    EXPECT_EQ(io->FirstEmpty(), b);
    const std::string head = ReadRange(Path, b, 100);
    EXPECT_EQ(U32(head, 0), 0u);
    EXPECT_EQ(U32(head, 8), a) << "next-run link";
    EXPECT_EQ(U32(head, 12), 1u) << "a released block is a run of one";
    EXPECT_EQ(head.find_first_not_of('\0', 16), std::string::npos);

    EXPECT_EQ(io->AllocateNewAddress(100, data.data()), b);
    EXPECT_EQ(io->AllocateNewAddress(100, data.data()), a);
    EXPECT_EQ(io->AllocateNewAddress(100, data.data()), c + 100) << "then the spare run of the first page";

    // A release of several blocks is one run, reused block by block.
    io->ReleaseBlock(a, 200);
    EXPECT_EQ(U32(ReadRange(Path, a, 16), 12), 2u);
    EXPECT_EQ(ReadRange(Path, a + 100, 100), std::string(100, '\0'));
    EXPECT_EQ(io->AllocateNewAddress(100, data.data()), a);
    EXPECT_EQ(io->AllocateNewAddress(100, data.data()), b);
}

TEST_F(DiskIO, WholePagesGoBackToTheMap) {
    auto io = Make(4096, 8, 5, 1, CHdrIndexesFirstEmpty);
    const auto data = Filled(4096, 3);
    const uint32_t p1 = io->AllocateNewAddress(4096, data.data());
    const uint32_t p2 = io->AllocateNewAddress(4096, data.data());
    EXPECT_EQ(OwnedPages(5), (std::vector<uint32_t>{p1, p2}));
    io->ReleaseBlock(p1, 4096);
    EXPECT_EQ(OwnedPages(5), (std::vector<uint32_t>{p2}));
    EXPECT_EQ(io->FirstEmpty(), 0u) << "the chain is not used for pages";
    EXPECT_EQ(ReadRange(Path, p1, PS), std::string(PS, '\0'));
    EXPECT_EQ(io->AllocateNewAddress(4096, data.data()), p1) << "the map hands the page out again";
}

// A whole-page storage (a table's index pages) gives every block page runs of its own at every
// page size: a block starts a page, no free chain is kept (the global header's index chain stays
// 0), a released block's pages go back to the map, and an address inside a page is no block.
TEST(WholePageStorageTest, EveryBlockHasPagesOfItsOwnAtEveryPageSize) {
    for (uint32_t pageSize : {PS, 2 * PS, 4 * PS, 8 * PS}) {
        SCOPED_TRACE(pageSize);
        test::TempDir dir;
        const std::string path = dir.File("db.orq");
        CreateDatabase(path, pageSize);
        auto disk = OpenDatabase(path, SharedRW, 3, pageSize);
        TDiskIOInterface io;
        io.SetDiskMgr(disk.get());
        io.SetWholePages(true);
        io.SetBlockSize(PS);
        io.SetUsage(CUsageIndex);
        io.SetTableID(5);
        io.SetAccessFlags(3);
        io.Open();
        const auto data = Filled(PS, 0x6C);
        const uint32_t a = io.AllocateNewAddress(PS, data.data());
        const uint32_t b = io.AllocateNewAddress(PS, data.data());
        EXPECT_EQ(a, 6 * pageSize);
        EXPECT_EQ(b, 7 * pageSize);
        std::vector<uint32_t> blocks;
        io.ListBlocks(blocks);
        EXPECT_EQ(blocks, (std::vector<uint32_t>{a, b}));
        EXPECT_EQ(io.FirstEmpty(), 0u);
        EXPECT_EQ(U32(ReadRange(path, CGlobalHdrAddress + CHdrIndexesFirstEmpty, 4), 0), 0u);
        std::vector<uint8_t> back(PS);
        io.ReadBlock(b, PS, back.data());
        EXPECT_EQ(back, data) << "scrambled with the storage's flags and read back";
        EXPECT_TRUE(io.CheckLinkAddress(b));

        io.ReleaseBlock(a, PS);
        blocks.clear();
        io.ListBlocks(blocks);
        EXPECT_EQ(blocks, (std::vector<uint32_t>{b}));
        EXPECT_EQ(ReadRange(path, a, pageSize), std::string(pageSize, '\0'));
        EXPECT_EQ(io.AllocateNewAddress(PS, data.data()), a) << "the map hands the page out again";
        if (pageSize > PS) {
            EXPECT_FALSE(io.CheckLinkAddress(b + PS));
            EXPECT_EQ(ErrorCode([&] { io.ReleaseBlock(b + PS, PS); }), 8962);
        }
        EXPECT_EQ(ErrorCode([&] { io.ReleaseBlock(5 * pageSize, PS); }), 8962) << "the first map page";
    }
}

// In a file with larger pages made before index pages were kept per table, an index page may
// hold blocks of several tables (packed there through the shared chain): a whole-page index
// storage reads such blocks, never gives one back, and ignores the old chain, whatever the
// encryption of the page it names.
TEST(WholePageStorageTest, IndexPagesOfAFileMadeBeforeAreReadButNeverGivenBack) {
    test::TempDir dir;
    const std::string path = dir.File("db.orq");
    CreateDatabase(path, 2 * PS);
    PatchU32(path, CGlobalHdrAddress + CHdrIndexPageLayout, 0);
    auto disk = OpenDatabase(path, SharedRW, 3, 2 * PS);
    ASSERT_TRUE(disk->IndexPagesMayBeShared());
    auto storage = [&](uint16_t Table, bool WholePages) {
        auto io = std::make_unique<TDiskIOInterface>();
        io->SetDiskMgr(disk.get());
        io->SetWholePages(WholePages);
        io->SetGlobalFirstEmptyOffset(WholePages ? 0 : CHdrIndexesFirstEmpty);
        io->SetBlockSize(PS);
        io->SetUsage(CUsageIndex);
        io->SetTableID(Table);
        io->SetAccessFlags(1);
        io->Open();
        return io;
    };
    // As such a file was made: table 5's page holds its block and table 6's.
    const auto data5 = Filled(PS, 5), data6 = Filled(PS, 6);
    const uint32_t block5 = storage(5, false)->AllocateNewAddress(PS, data5.data());
    const uint32_t block6 = storage(6, false)->AllocateNewAddress(PS, data6.data());
    ASSERT_EQ(block6, block5 + PS);
    storage(5, false)->AllocateNewAddress(PS, data5.data());
    const uint32_t oldChain = U32(ReadRange(path, CGlobalHdrAddress + CHdrIndexesFirstEmpty, 4), 0);
    ASSERT_NE(oldChain, 0u) << "a spare block of table 5's second page";

    auto io5 = storage(5, true);
    auto io6 = storage(6, true);
    EXPECT_TRUE(io6->CheckLinkAddress(block6));
    std::vector<uint8_t> back(PS);
    io6->ReadBlock(block6, PS, back.data());
    EXPECT_EQ(back, data6);
    io5->ReleaseBlock(block5, PS);
    io6->ReleaseBlock(block6, PS);
    EXPECT_EQ(disk->DebugCheckAddressOwnerFlags(5 << 4 | CUsageIndex, block5), 0) << "the page stays";
    EXPECT_EQ(ReadRange(path, block6, PS), std::string(PS, char(6)));
    auto weak = storage(7, true);
    weak->SetAccessFlags(3);
    const uint32_t fresh = weak->AllocateNewAddress(PS, data6.data());
    EXPECT_EQ(fresh % (2 * PS), 0u) << "a page of its own, not the old chain's block";
    EXPECT_EQ(U32(ReadRange(path, CGlobalHdrAddress + CHdrIndexesFirstEmpty, 4), 0), oldChain);
}

TEST_F(DiskIO, GlobalChainIsSharedByConnectionsThroughTheGlobalHeader) {
    auto other = OpenDatabase(Path);
    auto io1 = Make(256, 1, 0, 0, CHdrTableHeadersFirstEmpty);
    auto io2 = Make(256, 1, 0, 0, CHdrTableHeadersFirstEmpty, other.get());
    const auto data = Filled(256, 9);

    const uint32_t a1 = io1->AllocateNewAddress(256, data.data());
    EXPECT_EQ(U32(ReadRange(Path, CGlobalHdrAddress + CHdrTableHeadersFirstEmpty, 4), 0), a1 + 256);
    EXPECT_FALSE(Disk->HeaderWriteLocked()) << "the header lock taken for the chain is given back";
    const uint32_t a2 = io2->AllocateNewAddress(256, data.data());
    EXPECT_EQ(a2, a1 + 256) << "the other connection reloads the chain";
    io1->ReleaseBlock(a1, 256);
    EXPECT_EQ(io2->AllocateNewAddress(256, data.data()), a1);
    EXPECT_EQ(io2->GetGlobalFirstEmpty(), a2 + 256);

    // A header lock held by the caller stays held; the header is still written.
    Disk->SetHeaderWriteLock();
    const uint32_t a3 = io1->AllocateNewAddress(256, data.data());
    EXPECT_EQ(a3, a2 + 256);
    EXPECT_TRUE(Disk->HeaderWriteLocked());
    EXPECT_EQ(U32(ReadRange(Path, CGlobalHdrAddress + CHdrTableHeadersFirstEmpty, 4), 0), a3 + 256);
    Disk->ReleaseHeaderLock();
}

// Inside a transaction the header lock stays held from its first use; every later chain change
// must still reach the header that the commit writes, and a rollback leaves the file as it was.
TEST_F(DiskIO, GlobalChainInsideTransactions) {
    auto io = Make(256, 1, 0, 0, CHdrTableHeadersFirstEmpty);
    const auto data = Filled(256, 4);
    const uint32_t a = io->AllocateNewAddress(256, data.data());
    const std::string before = ReadRange(Path, 0, 8 * PS);

    Disk->DiskStartTransaction(true);
    io->AllocateNewAddress(256, data.data());
    const uint32_t c = io->AllocateNewAddress(256, data.data());
    Disk->DiskRollback();
    EXPECT_EQ(ReadRange(Path, 0, 8 * PS), before);
    EXPECT_EQ(io->AllocateNewAddress(256, data.data()), a + 256) << "the chain as stored";

    Disk->DiskStartTransaction(true);
    EXPECT_EQ(io->AllocateNewAddress(256, data.data()), c);
    io->ReleaseBlock(a, 256);
    EXPECT_EQ(io->AllocateNewAddress(256, data.data()), a);
    const uint32_t d = io->AllocateNewAddress(256, data.data());
    Disk->DiskCommit();
    EXPECT_EQ(U32(ReadRange(Path, CGlobalHdrAddress + CHdrTableHeadersFirstEmpty, 4), 0), d + 256);
    auto other = OpenDatabase(Path);
    auto io2 = Make(256, 1, 0, 0, CHdrTableHeadersFirstEmpty, other.get());
    EXPECT_EQ(io2->AllocateNewAddress(256, data.data()), d + 256);
}

// A write that fails in the middle of an allocation or a release is reported and the header
// lock is given back. The chain never names a block in use: afterwards it goes on handing out
// distinct blocks, none of them a live one or one whose release failed (such a block is lost to
// the storage rather than handed out twice).
TEST_F(DiskIO, FailedWritesLeaveTheChainUsable) {
    for (const bool global : {false, true}) {
        SCOPED_TRACE(global ? "global" : "owner-kept");
        Reset();
        auto io = global ? Make(256, 1, 0, 0, CHdrTableHeadersFirstEmpty) : Make(100);
        const uint32_t bs = io->BlockSize();
        std::map<uint32_t, std::vector<uint8_t>> live;
        std::set<uint32_t> lost;
        uint8_t fill = 1;
        auto allocate = [&] {
            const auto bytes = Filled(bs, fill++);
            const uint32_t a = io->AllocateNewAddress(bs, bytes.data());
            EXPECT_EQ(live.count(a), 0u) << a;
            EXPECT_EQ(lost.count(a), 0u) << a;
            live[a] = bytes;
        };
        for (int i = 0; i < 4; ++i) allocate();
        io->ReleaseBlock(live.begin()->first, bs);
        live.erase(live.begin());

        int failures = 0;
        for (int n = 1; n <= 4; ++n) {
            for (const bool release : {false, true}) {
                const uint32_t victim = live.begin()->first;
                const auto bytes = Filled(bs, 0xEE);
                uint32_t taken = 0;
                int32_t code;
                {
                    platform::NthCallFault writeFails(platform::FileOps(platform::FileOp::Write), n,
                                                      platform::FileFault{EIO}, false, "db.orq");
                    platform::ScopedFileFaultInjector injected(writeFails);
                    code = ErrorCode([&] {
                        if (release)
                            io->ReleaseBlock(victim, bs);
                        else
                            taken = io->AllocateNewAddress(bs, bytes.data());
                    });
                }
                if (release) {
                    live.erase(victim);
                    if (code != 0) lost.insert(victim);
                } else if (code == 0) {
                    EXPECT_EQ(live.count(taken), 0u);
                    live[taken] = bytes;
                }
                if (code == 0) continue;
                ++failures;
                EXPECT_EQ(code, 9218);
                EXPECT_FALSE(Disk->HeaderReadLocked());
                Disk->File().PageCache().ClearCache();  // what the file holds, not what failed to get there
            }
        }
        EXPECT_GT(failures, 0);
        for (int i = 0; i < 60; ++i) allocate();
        std::vector<uint8_t> buf(bs);
        for (const auto& [address, bytes] : live) {
            io->ReadBlock(address, bs, buf.data());
            ASSERT_EQ(buf, bytes) << address;
        }
    }
}

TEST_F(DiskIO, SetUpErrors) {
    auto io = Make(100);
    const auto data = Filled(200, 0);
    EXPECT_NE(ErrorText([&] { io->AllocateNewAddress(101, data.data()); }).find("Block request sizes < block size"),
              std::string::npos);
    io->SetFirstEmptyValid(false);
    for (auto action : {std::function<void()>([&] { io->AllocateNewAddress(100, data.data()); }),
                        std::function<void()>([&] { io->ReleaseBlock(FirstData, 100); })})
        EXPECT_NE(ErrorText(action).find("DiskIOInterface - non global first empty not set"), std::string::npos);
    EXPECT_NE(ErrorText([&] { io->GetGlobalFirstEmpty(); }).find("Not a global interface"), std::string::npos);

    struct Case {
        TDiskMgr* Mgr;
        uint16_t Usage;
        uint32_t BlockSize;
        const char* Text;
    } cases[] = {
        {nullptr, 9, 100, "Unable to open Disk IOInterface - DiskMgr is null"},
        {Disk.get(), 0, 100, "Unable to open Disk IOInterface - Usage is not set"},
        {Disk.get(), 9, 0, "Unable to open Disk IOInterface - Block size is 0"},
        {Disk.get(), 9, 12, "Unable to open Disk IOInterface - Block size is below 16"},
    };
    for (const Case& c : cases) {
        TDiskIOInterface bad;
        bad.SetDiskMgr(c.Mgr);
        bad.SetUsage(c.Usage);
        bad.SetBlockSize(c.BlockSize);
        EXPECT_EQ(ErrorCode([&] { bad.Open(); }), 8581);
        EXPECT_NE(ErrorText([&] { bad.Open(); }).find(c.Text), std::string::npos) << c.Text;
    }
    TDiskIOInterface unopened;
    unopened.SetDiskMgr(Disk.get());
    unopened.SetBlockSize(100);
    unopened.SetFirstEmptyValid(true);
    EXPECT_EQ(ErrorCode([&] { unopened.AllocateNewAddress(100, data.data()); }), 8576);
}

// Free-chain data read from the file is checked before it is used: a bad head, count or link
// raises 8962, and the storage's FirstEmpty and the file are left as they were.
TEST_F(DiskIO, BadFreeChainDataRaisesDataCorruptError) {
    auto io = Make(100);
    const auto data = Filled(100, 5);
    const uint32_t a = io->AllocateNewAddress(100, data.data());  // spare run at a + 100, count 39
    const uint32_t head = a + 100;
    auto patchHead = [&](uint32_t Prefix, uint32_t Next, uint32_t Count) {
        std::string bytes(16, '\0');
        PutU32(bytes, 0, Prefix);
        PutU32(bytes, 8, Next);
        PutU32(bytes, 12, Count);
        PatchFile(Path, head, bytes);
        io->NotifyPageChange(5);  // the page cache must see the patched file
    };
    struct Case {
        const char* Name;
        uint32_t FirstEmpty;
        uint32_t Prefix, Next, Count;  // the head written at a + 100
    } cases[] = {
        {"head in the fixed areas", 1024, 0, 0, 39},
        {"head between blocks", a + 150, 0, 0, 39},
        {"head past the run's last block", a + 4000, 0, 0, 39},
        {"head beyond the file", 0xFFFFF000u, 0, 0, 39},
        {"count zero", head, 0, 0, 0},
        {"count past the run", head, 0, 0, 40},
        {"count wrapping", head, 0, 0, 0xFFFFFFFFu},
        {"block in use", head, 0x01, 0, 39},
        {"next link between blocks", head, 0, a + 7, 39},
        {"next link beyond the file", head, 0, 0x7FFFF000u, 39},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        patchHead(c.Prefix, c.Next, c.Count);
        io->SetFirstEmpty(c.FirstEmpty);
        const std::string before = ReadRange(Path, a, PS);
        EXPECT_EQ(ErrorCode([&] { io->AllocateNewAddress(100, data.data()); }), 8962);
        EXPECT_EQ(io->FirstEmpty(), c.FirstEmpty);
        EXPECT_EQ(ReadRange(Path, a, PS), before);
    }
    // Releases of addresses that cannot start a run.
    io->SetFirstEmpty(head);
    for (uint32_t bad : {0u, 1024u, a + 50, a + 4000, 0xFFFFF000u})
        EXPECT_EQ(ErrorCode([&] { io->ReleaseBlock(bad, 100); }), 8962) << bad;
    EXPECT_EQ(ErrorCode([&] { io->ReleaseBlock(a + 3900, 200); }), 8962) << "two blocks past the run's end";

    // A global chain with a bad head leaves the header lock released.
    auto global = Make(256, 1, 0, 0, CHdrTableHeadersFirstEmpty);
    PatchU32(Path, CGlobalHdrAddress + CHdrTableHeadersFirstEmpty, a + 3);
    const auto header = Filled(256, 5);
    EXPECT_EQ(ErrorCode([&] { global->AllocateNewAddress(256, header.data()); }), 8962);
    EXPECT_FALSE(Disk->HeaderWriteLocked());
    EXPECT_FALSE(Disk->HeaderReadLocked());
}

TEST_F(DiskIO, EmptyFreesTheOwnersPages) {
    auto records = Make(100);
    auto blobs = Make(512, 10);
    const auto data = Filled(512, 1);
    records->AllocateNewAddress(100, data.data());
    blobs->AllocateNewAddress(512, data.data());
    records->Empty(true);
    EXPECT_FALSE(records->FirstEmptyValid());
    EXPECT_EQ(OwnedPages(5).size(), 1u) << "only the record pages went";
    blobs->Empty(false);
    EXPECT_TRUE(OwnedPages(5).empty());
}

// ---------------------------------------------------------------------------------------------
// Randomized: allocate, release, write and read against a model, for both variants.

struct RandomCase {
    const char* Name;
    bool Memory;
    uint32_t BlockSize;
    uint16_t Usage;
    uint32_t Flags;
    int32_t GlobalOffset;
    bool Lifo;  // a release is the next allocation (false where pages go back to the map)
};

class RandomIO : public DiskIO, public ::testing::WithParamInterface<RandomCase> {};

TEST_P(RandomIO, MatchesAModel) {
    const RandomCase& p = GetParam();
    std::unique_ptr<TBaseIOInterface> io;
    if (p.Memory) {
        auto memory = std::make_unique<TMemoryIOInterface>();
        memory->SetBlockSize(p.BlockSize);
        memory->Open();
        io = std::move(memory);
    } else {
        io = Make(p.BlockSize, p.Usage, 5, p.Flags, p.GlobalOffset);
    }
    std::mt19937 rng(20240611u + p.BlockSize);
    std::map<uint32_t, std::vector<uint8_t>> model;
    std::vector<uint32_t> released;  // since the last allocation, newest last
    std::vector<uint8_t> buf(p.BlockSize);
    auto randomBlock = [&] {
        std::vector<uint8_t> b(p.BlockSize);
        for (auto& x : b) x = uint8_t(rng());
        b[0] |= 1;  // a live block never starts like a free-run head
        return b;
    };
    auto pick = [&] {
        auto it = model.begin();
        std::advance(it, rng() % model.size());
        return it->first;
    };
    auto verifyAll = [&] {
        for (const auto& [address, bytes] : model) {
            io->ReadBlock(address, p.BlockSize, buf.data());
            ASSERT_EQ(buf, bytes) << address;
        }
        if (!p.Memory) {
            // Live blocks never overlap.
            uint64_t end = 0;
            for (const auto& [address, bytes] : model) {
                ASSERT_GE(address, end);
                end = uint64_t(address) + p.BlockSize;
            }
        }
    };

    for (int step = 0; step < 4000; ++step) {
        const unsigned op = rng() % 10;
        if (model.empty() || op < 4) {
            const auto bytes = randomBlock();
            const uint32_t address = io->AllocateNewAddress(p.BlockSize, bytes.data());
            ASSERT_NE(address, 0u);
            ASSERT_EQ(model.count(address), 0u) << "handed out twice: " << address;
            if (p.Lifo && !released.empty()) {
                ASSERT_EQ(address, released.back());
                released.pop_back();
            }
            model[address] = bytes;
        } else if (op < 6) {
            const uint32_t address = pick();
            io->ReleaseBlock(address, p.BlockSize);
            model.erase(address);
            released.push_back(address);
        } else if (op < 8) {
            const uint32_t address = pick();
            model[address] = randomBlock();
            io->WriteBlock(address, p.BlockSize, model[address].data());
        } else {
            const uint32_t address = pick();
            io->ReadBlock(address, p.BlockSize, buf.data());
            ASSERT_EQ(buf, model[address]);
        }
        if (step % 500 == 0) verifyAll();
    }
    verifyAll();

    std::vector<uint32_t> listed;
    io->ListBlocks(listed);
    for (const auto& entry : model)
        EXPECT_NE(std::find(listed.begin(), listed.end(), entry.first), listed.end()) << entry.first;
    if (p.Memory) {
        EXPECT_EQ(listed.size(), model.size());
        return;
    }

    // Everything is in the file: a new connection reads the same blocks.
    const uint32_t firstEmpty = io->FirstEmpty();
    io.reset();
    Disk.reset();
    Disk = OpenDatabase(Path);
    auto reopened = Make(p.BlockSize, p.Usage, 5, p.Flags, p.GlobalOffset);
    if (p.GlobalOffset == 0) reopened->SetFirstEmpty(firstEmpty);
    for (const auto& [address, bytes] : model) {
        reopened->ReadBlock(address, p.BlockSize, buf.data());
        ASSERT_EQ(buf, bytes) << address;
    }
    const auto bytes = randomBlock();
    const uint32_t next = reopened->AllocateNewAddress(p.BlockSize, bytes.data());
    EXPECT_EQ(model.count(next), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, RandomIO,
    ::testing::Values(RandomCase{"Memory", true, 100, 9, 1, 0, true},
                      RandomCase{"DiskRecords", false, 100, 9, 1, 0, true},
                      RandomCase{"DiskWideRecords", false, 3000, 9, 3, 0, true},
                      RandomCase{"DiskHeaders", false, 256, 1, 0, CHdrTableHeadersFirstEmpty, true},
                      RandomCase{"DiskIndexPages", false, 4096, 8, 1, CHdrIndexesFirstEmpty, false}),
    [](const ::testing::TestParamInfo<RandomCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace ostra
