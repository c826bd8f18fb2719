// Blob chains at block size 512 on the memory storage and on a real database file: how values
// split into blocks, rewrites that grow and shrink a chain in place, deletes, damaged chains
// (cycles, bad counts, bad links) that must fail with 8963 without running away or changing a
// block, and a randomized run against a model.
#include "engine/storage/orqInterfaceUnit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "host/Streams.h"
#include "support/DiskTestSupport.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;

constexpr uint32_t BS = 512;
constexpr uint32_t Data = BS - 8;

struct Block {
    uint32_t Address;
    uint32_t Next;
    uint32_t Count;
};

std::string Pattern(size_t Length, unsigned Seed) {
    std::string s(Length, '\0');
    for (size_t i = 0; i < Length; ++i) s[i] = char((i * 131 + Seed * 7 + i / 504) & 0xFF);
    return s;
}

std::unique_ptr<TMemoryStream> StreamOf(const std::string& Bytes) {
    auto stream = std::make_unique<TMemoryStream>();
    if (!Bytes.empty()) stream->WriteBuffer(Bytes.data(), int64_t(Bytes.size()));
    stream->SetPosition(0);
    return stream;
}

std::string Contents(TMemoryStream& Stream) {
    return std::string(static_cast<const char*>(Stream.Memory()), size_t(Stream.Size()));
}

class BlobChains : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) {
            CreateDatabase(Path);
            Disk = OpenDatabase(Path);
            auto disk = std::make_unique<TDiskIOInterface>();
            disk->SetDiskMgr(Disk.get());
            disk->SetUsage(10);
            disk->SetTableID(5);
            disk->SetAccessFlags(1);
            disk->SetFirstEmpty(0);
            disk->SetFirstEmptyValid(true);
            IO = std::move(disk);
        } else {
            IO = std::make_unique<TMemoryIOInterface>();
        }
        IO->SetBlockSize(BS);
        IO->Open();
        Blobs.SetIOInterface(IO.get());
        Blobs.SetBlobBlockSize(BS);
        Blobs.Open();
    }

    uint32_t Insert(const std::string& Bytes) {
        auto stream = StreamOf(Bytes);
        return Blobs.InsertBlob(*stream);
    }
    std::string Read(uint32_t Address) {
        TMemoryStream stream;
        const int64_t read = Blobs.ReadBlob(Address, stream);
        EXPECT_EQ(read, stream.Size());
        return Contents(stream);
    }
    // The chain's blocks as stored, following the links (at most Limit blocks).
    std::vector<Block> Chain(uint32_t Address, size_t Limit = 100) {
        std::vector<Block> chain;
        uint8_t prefix[8];
        for (uint32_t a = Address; a && chain.size() < Limit;) {
            IO->ReadBlockHeader(a, 8, prefix);
            Block b{a, 0, 0};
            std::memcpy(&b.Next, prefix, 4);
            std::memcpy(&b.Count, prefix + 4, 4);
            chain.push_back(b);
            a = b.Next;
        }
        return chain;
    }
    std::vector<uint32_t> Counts(uint32_t Address) {
        std::vector<uint32_t> counts;
        for (const Block& b : Chain(Address)) counts.push_back(b.Count);
        return counts;
    }
    std::string RawBlock(uint32_t Address) {
        std::string raw(BS, '\0');
        IO->ReadBlock(Address, BS, raw.data());
        return raw;
    }
    void PatchPrefix(uint32_t Address, uint32_t Next, uint32_t Count) {
        uint8_t prefix[8];
        std::memcpy(prefix, &Next, 4);
        std::memcpy(prefix + 4, &Count, 4);
        IO->WriteBlockHeader(Address, 8, prefix);
    }
    // The next block the storage hands out (a probe: allocated and released again).
    uint32_t NextFree() {
        const std::string zeros(BS, '\0');
        const uint32_t a = IO->AllocateNewAddress(BS, zeros.data());
        IO->ReleaseBlock(a, BS);
        return a;
    }

    test::TempDir Dir;
    std::string Path = Dir.File("blob.orq");
    std::unique_ptr<TDiskMgr> Disk;
    std::unique_ptr<TBaseIOInterface> IO;
    TBlobInterface Blobs;
};

TEST_P(BlobChains, ValuesSplitIntoFullBlocksWithTheRemainderLast) {
    struct Case {
        size_t Length;
        std::vector<uint32_t> Counts;
    } cases[] = {
        {1, {1}},
        {504, {504}},
        {505, {504, 1}},
        {1000, {504, 496}},
        {1008, {504, 504}},
        {2000, {504, 504, 504, 488}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Length);
        const std::string value = Pattern(c.Length, unsigned(c.Length));
        const uint32_t a = Insert(value);
        EXPECT_EQ(Counts(a), c.Counts);
        const std::vector<Block> chain = Chain(a);
        // Written from the end backwards: the last block was allocated first.
        for (size_t i = 1; i < chain.size(); ++i) EXPECT_LT(chain[i].Address, chain[i - 1].Address);
        const std::string last = RawBlock(chain.back().Address);
        EXPECT_EQ(last.find_first_not_of('\0', 8 + chain.back().Count), std::string::npos) << "zero padding";
        EXPECT_EQ(Read(a), value);
    }
    EXPECT_EQ(Insert(""), 0u) << "an empty value has no chain";

    TMemoryStream stream;
    stream.WriteBuffer("xy", 2);
    EXPECT_EQ(Blobs.ReadBlob(0, stream), 0);
    EXPECT_EQ(Contents(stream), "xy");
    const uint32_t a = Insert("abc");
    EXPECT_EQ(Blobs.ReadBlob(a, stream), 3);
    EXPECT_EQ(Contents(stream), "xyabc") << "read appends at the stream's position";
}

TEST_P(BlobChains, RewritesKeepTheFirstBlockAndGrowOrShrinkTheChain) {
    struct Case {
        size_t OldLength, NewLength;
        std::vector<uint32_t> Counts;
        size_t Released;  // old blocks given back
    } cases[] = {
        {1512, 10, {10}, 2},
        {504, 2000, {504, 504, 504, 488}, 0},
        {1512, 1000, {504, 496}, 1},
        {1000, 1512, {504, 504, 504}, 0},
        {1000, 1000, {504, 496}, 0},
        {505, 504, {504}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.OldLength << " -> " << c.NewLength);
        const uint32_t a = Insert(Pattern(c.OldLength, 1));
        const std::vector<Block> before = Chain(a);
        const std::string value = Pattern(c.NewLength, 2);
        auto stream = StreamOf(value);
        EXPECT_EQ(Blobs.EditBlob(a, uint32_t(c.OldLength), *stream), a);
        EXPECT_EQ(Counts(a), c.Counts);
        EXPECT_EQ(Read(a), value);
        const std::vector<Block> after = Chain(a);
        const size_t kept = std::min(before.size(), after.size());
        for (size_t i = 0; i < kept; ++i) EXPECT_EQ(after[i].Address, before[i].Address) << "rewritten in place";
        if (c.Released > 0) {
            EXPECT_EQ(before.size() - kept, c.Released);
            EXPECT_EQ(NextFree(), before.back().Address) << "the surplus went back to the storage";
        }
    }
}

TEST_P(BlobChains, EmptyValueDeletesAndMissingChainInserts) {
    const uint32_t a = Insert(Pattern(1512, 3));
    const std::vector<Block> chain = Chain(a);
    auto empty = StreamOf("");
    EXPECT_EQ(Blobs.EditBlob(a, 1512, *empty), 0u);
    // Released in chain order: the last block of the chain is reused first.
    EXPECT_EQ(NextFree(), chain.back().Address);

    auto stream = StreamOf("new value");
    const uint32_t b = Blobs.EditBlob(0, 0, *stream);
    EXPECT_NE(b, 0u);
    EXPECT_EQ(Read(b), "new value");

    Blobs.DeleteBlob(b, 9);
    EXPECT_EQ(NextFree(), b);
    Blobs.DeleteBlob(0, 0);
}

// A damaged chain fails with 8963 on read, rewrite and delete; nothing is released or written,
// and the read stops within a few turns of a cycle.
TEST_P(BlobChains, DamagedChainsFailWithoutChangingAnything) {
    const uint32_t a = Insert(Pattern(1512, 4));
    const std::vector<Block> chain = Chain(a);
    ASSERT_EQ(chain.size(), 3u);
    const uint32_t garbage = GetParam() ? chain[0].Address + 3 : 9999;
    struct Case {
        const char* Name;
        int Block;  // whose prefix is patched
        uint32_t Next, Count;
    } cases[] = {
        {"block links to itself", 0, chain[0].Address, Data},
        {"two-block cycle", 1, chain[0].Address, Data},
        {"last block links back", 2, chain[1].Address, 504},
        {"count zero", 1, chain[2].Address, 0},
        {"count beyond the block", 1, chain[2].Address, Data + 1},
        {"link to no block", 1, garbage, Data},
        {"link beyond the file", 1, 0xFFFFFE00u, Data},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const Block original = chain[c.Block];
        PatchPrefix(original.Address, c.Next, c.Count);
        std::vector<std::string> raw;
        for (const Block& b : chain) raw.push_back(RawBlock(b.Address));
        const uint32_t free = NextFree();

        TMemoryStream stream;
        EXPECT_EQ(ErrorCode([&] { Blobs.ReadBlob(a, stream); }), 8963);
        EXPECT_LE(stream.Size(), 4 * 1512) << "the walk stopped";
        auto value = StreamOf(Pattern(3000, 5));
        EXPECT_EQ(ErrorCode([&] { Blobs.EditBlob(a, 1512, *value); }), 8963);
        EXPECT_EQ(ErrorCode([&] { Blobs.DeleteBlob(a, 1512); }), 8963);
        for (size_t i = 0; i < chain.size(); ++i) EXPECT_EQ(RawBlock(chain[i].Address), raw[i]) << i;
        EXPECT_EQ(NextFree(), free) << "nothing was released or allocated";

        PatchPrefix(original.Address, original.Next, original.Count);
    }
    EXPECT_EQ(Read(a), Pattern(1512, 4));
    TMemoryStream stream;
    EXPECT_EQ(ErrorCode([&] { Blobs.ReadBlob(garbage, stream); }), 8963) << "a bad first address";
}

TEST_P(BlobChains, RandomInsertsRewritesAndDeletesMatchAModel) {
    std::mt19937 rng(GetParam() ? 7 : 11);
    std::map<uint32_t, std::string> model;
    auto randomValue = [&] {
        static const size_t lengths[] = {1, 503, 504, 505, 1007, 1008, 1009, 2000, 5000};
        const size_t length = rng() % 3 == 0 ? lengths[rng() % 9] : 1 + rng() % 4000;
        return Pattern(length, unsigned(rng()));
    };
    for (int step = 0; step < 1500; ++step) {
        const unsigned op = rng() % 10;
        if (model.empty() || op < 3) {
            const std::string value = randomValue();
            const uint32_t a = Insert(value);
            ASSERT_EQ(model.count(a), 0u);
            model[a] = value;
            continue;
        }
        auto it = model.begin();
        std::advance(it, rng() % model.size());
        const uint32_t a = it->first;
        if (op < 7) {
            const std::string value = randomValue();
            auto stream = StreamOf(value);
            ASSERT_EQ(Blobs.EditBlob(a, uint32_t(it->second.size()), *stream), a);
            it->second = value;
        } else if (op < 8) {
            Blobs.DeleteBlob(a, uint32_t(it->second.size()));
            model.erase(it);
        } else {
            ASSERT_EQ(Read(a), it->second);
        }
    }
    size_t blocks = 0;
    for (const auto& [address, value] : model) {
        ASSERT_EQ(Read(address), value);
        blocks += (value.size() + Data - 1) / Data;
    }
    if (auto* memory = dynamic_cast<TMemoryIOInterface*>(IO.get())) {
        EXPECT_EQ(memory->Count(), blocks) << "no block leaked or shared";
    }
}

INSTANTIATE_TEST_SUITE_P(Storage, BlobChains, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Disk" : "Memory"; });

TEST(BlobInterface, OpenChecksItsSetUp) {
    TMemoryIOInterface io;
    TBlobInterface blobs;
    EXPECT_NE(ErrorText([&] { blobs.Open(); }).find("Unable to create blob interface - IOInterface is null"),
              std::string::npos);
    blobs.SetIOInterface(&io);
    EXPECT_NE(ErrorText([&] { blobs.Open(); }).find("Unable to create blob interface - Block size is 0"),
              std::string::npos);
    blobs.SetBlobBlockSize(8);
    EXPECT_NE(ErrorText([&] { blobs.Open(); }).find("Block size is too small"), std::string::npos);
    auto stream = StreamOf("x");
    EXPECT_EQ(ErrorCode([&] { blobs.InsertBlob(*stream); }), 8576);
    blobs.SetBlobBlockSize(9);
    blobs.Open();
    const uint32_t a = blobs.InsertBlob(*stream);
    EXPECT_EQ(io.Count(), 1u);
    blobs.Close();
    EXPECT_EQ(blobs.BlobBlockSize(), 0u);
    EXPECT_EQ(blobs.IOInterface(), nullptr);
    EXPECT_NE(a, 0u);
}

}  // namespace
}  // namespace ostra
