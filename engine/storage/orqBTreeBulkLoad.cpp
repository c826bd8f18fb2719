// orqBTreeBulkLoad: sorting the entries in bounded runs, merging them, and writing the pages of
// the tree level by level (see orqBTreeBulkLoad.h).
#include "engine/storage/orqBTreeBulkLoad.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <queue>
#include <string>

#include "engine/storage/orqBTree.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqKeyEntry.h"
#include "engine/storage/orqNode.h"

namespace ostra {

namespace {

constexpr char CCaller[] = "TBTreeBulkLoad.Build";
// Entries read from a spilled run at a time while the runs are merged.
constexpr size_t CMergeReadEntries = 2048;
// Entries of one chunk of the run in memory.
constexpr size_t CChunkEntries = 16384;

}  // namespace

void TBTreeBulkLoad::TFileCloser::operator()(std::FILE* File) const {
    if (File) std::fclose(File);
}

// Writes the pages of the tree from entries given in key order. Each level has one page open
// (in memory, not yet written); a page that has no room left is written when the next entry of
// its level arrives, and its first key, address and record count become an entry of the level
// above. At the end every level's open page is written the same way, except the one left alone
// at the top, which becomes the root page.
class TBTreeBulkLoad::TPageWriter {
public:
    TPageWriter(TBTree& Tree, bool& Duplicate)
        : FTree(Tree),
          FDuplicate(Duplicate),
          FIO(*Tree.IOInterface()),
          FPageSize(Tree.PageSize()),
          FKeySize(size_t(Tree.MaximumKeySize())),
          // A stored page keeps room for one entry more (TNode::CheckNodeFull).
          FCapacity((FPageSize - C_NODEHEADERSIZE - FKeySize - 1) / FKeySize) {
        if (FCapacity < 2) OrqDatabaseError(8581, CCaller, "Key too large for a page", nullptr);
    }

    // Adds the next leaf entry (in key order).
    void AddLeafEntry(const uint8_t* Entry) {
        if (FPrevious.empty()) {
            FPrevious.resize(FKeySize);
        } else if (FTree.CompareKeys(0, nullptr, nullptr, FPrevious.data(), Entry) >= 0) {
            FDuplicate = true;
            OrqDatabaseError(8581, CCaller, "Duplicate key in bulk load", nullptr);
        }
        std::memcpy(FPrevious.data(), Entry, FKeySize);
        AddEntry(0, Entry, 1);
    }

    // Writes what is left open; returns the tree's depth (1 for no entries: the root stays an
    // empty leaf).
    uint32_t Finish() {
        for (size_t level = 0; level < FLevels.size(); ++level) {
            TLevel& open = FLevels[level];
            if (level + 1 == FLevels.size() && !open.Written) {
                WritePage(level, FTree.Root());
                return uint32_t(level + 1);
            }
            FlushPage(level);
        }
        return 1;
    }

private:
    struct TLevel {
        std::vector<uint8_t> Page;  // the open page
        size_t Entries = 0;
        uint64_t Records = 0;       // the records below its entries
        bool Written = false;       // a page of this level was written already
        uint32_t LastLeaf = 0;      // leaves: the address of the last leaf written
    };

    void AddEntry(size_t Level, const uint8_t* Entry, uint64_t Records) {
        if (Level == FLevels.size()) {
            FLevels.emplace_back();
            TLevel& level = FLevels.back();
            level.Page.assign(FPageSize, 0);
            Store32(level.Page.data() + C_NODETYPEOFFSET, Level == 0 ? ntLeaf : ntNode);
        }
        if (FLevels[Level].Entries == FCapacity) FlushPage(Level);
        TLevel& level = FLevels[Level];
        uint8_t* slot = level.Page.data() + C_NODEHEADERSIZE + level.Entries * FKeySize;
        std::memcpy(slot, Entry, FKeySize);
        if (Level == 0) {
            const uint16_t size = uint16_t(FKeySize);
            std::memcpy(slot + C_KEYSIZEOFFSET, &size, 2);
            Store32(slot + C_KEYCOUNTOFFSET, 0);
        }
        ++level.Entries;
        level.Records += Records;
    }

    // Writes the open page of Level to a new page, hands its entry to the level above and opens
    // the level's next page.
    void FlushPage(size_t Level) {
        const uint32_t address = WritePage(Level, 0);
        TLevel& level = FLevels[Level];
        std::vector<uint8_t> parent(level.Page.begin() + C_NODEHEADERSIZE, level.Page.begin() + C_NODEHEADERSIZE + FKeySize);
        if (level.Records > UINT32_MAX) OrqDatabaseError(8581, CCaller, "Too many records below a page", nullptr);
        Store32(parent.data() + C_KEYADDROFFSET, address);
        Store32(parent.data() + C_KEYCOUNTOFFSET, uint32_t(level.Records));
        const uint64_t records = level.Records;
        level.Written = true;
        level.Entries = 0;
        level.Records = 0;
        std::fill(level.Page.begin() + C_NODEHEADERSIZE, level.Page.end(), 0);
        AddEntry(Level + 1, parent.data(), records);
    }

    // Writes the open page of Level at Address, or at a new address when Address is 0; a leaf is
    // linked to the leaf written before it. Returns the page's address.
    uint32_t WritePage(size_t Level, uint32_t Address) {
        TLevel& level = FLevels[Level];
        uint8_t* page = level.Page.data();
        Store32(page + C_NODEUSEDOFFSET, uint32_t(level.Entries * FKeySize));
        Store32(page + C_NODENEXTOFFSET, 0);
        Store32(page + C_NODEPRIOROFFSET, Level == 0 ? level.LastLeaf : 0);
        if (Address == 0) {
            Address = FIO.AllocateNewAddress(FPageSize, page);
            if (Address == 0) OrqDatabaseError(8581, CCaller, "Invalid page address", nullptr);
        } else {
            FIO.WriteBlock(Address, FPageSize, page);
        }
        if (Level == 0) {
            if (level.LastLeaf != 0) {
                // The leaf before learns its next one.
                uint8_t header[C_NODEHEADERSIZE];
                FIO.ReadBlockHeader(level.LastLeaf, C_NODEHEADERSIZE, header);
                Store32(header + C_NODENEXTOFFSET, Address);
                FIO.WriteBlockHeader(level.LastLeaf, C_NODEHEADERSIZE, header);
            }
            level.LastLeaf = Address;
        }
        return Address;
    }

    TBTree& FTree;
    bool& FDuplicate;
    TBaseIOInterface& FIO;
    uint32_t FPageSize;
    size_t FKeySize;
    size_t FCapacity;
    std::vector<TLevel> FLevels;
    std::vector<uint8_t> FPrevious;  // the last leaf entry added
};

bool TBTreeBulkLoad::CanLoad(TBTree& Tree) {
    if (!Tree.IsOpen() || !Tree.IOInterface() || Tree.Root() == 0 || Tree.Depth() != 1) return false;
    uint8_t header[C_NODEHEADERSIZE];
    Tree.IOInterface()->ReadBlockHeader(Tree.Root(), C_NODEHEADERSIZE, header);
    return Load32(header + C_NODEUSEDOFFSET) == 0 && Load32(header + C_NODETYPEOFFSET) != ntNode;
}

TBTreeBulkLoad::TBTreeBulkLoad(TBTree& Tree, size_t RunBytes)
    : FTree(Tree),
      FKeySize(size_t(Tree.MaximumKeySize())),
      FRunBytes(std::max(RunBytes, size_t(Tree.MaximumKeySize()))),
      // Whole entries per chunk; a run of a few entries takes no more than it needs.
      FChunkBytes(std::min(FRunBytes, CChunkEntries * FKeySize) / FKeySize * FKeySize) {
    if (!CanLoad(Tree)) OrqDatabaseError(8581, "TBTreeBulkLoad", "The tree must be open and empty", nullptr);
    const TKeyFields& fields = Tree.KeyFields();
    if (fields.Count() > 0) {
        const TKeyFieldItem& first = *fields.GetIndex(0);
        const TFieldType type = first.DataType();
        const bool integer = type == ftSmallint || type == ftWord || type == ftInteger || type == ftAutoInc;
        FPrefixOffset = size_t(C_KEYHEADERSIZE + fields.DataOffset());
        if (integer && first.FieldSize() >= FixedValueSize(type) && FPrefixOffset + 4 <= FKeySize) {
            FPrefixType = type;
            FPrefixDescending = first.Descending();
        }
    }
}

TBTreeBulkLoad::~TBTreeBulkLoad() = default;

void TBTreeBulkLoad::Add(const uint8_t* Entry) {
    const size_t at = FRunSize % FChunkBytes;
    if (at == 0 && FRunSize / FChunkBytes == FChunks.size()) FChunks.push_back(std::make_unique<uint8_t[]>(FChunkBytes));
    std::memcpy(FChunks[FRunSize / FChunkBytes].get() + at, Entry, FKeySize);
    FRunSize += FKeySize;
    ++FCount;
}

bool TBTreeBulkLoad::Less(const uint8_t* A, const uint8_t* B) const {
    return FTree.CompareKeys(0, nullptr, nullptr, A, B) < 0;
}

uint64_t TBTreeBulkLoad::SortPrefix(const uint8_t* Entry) const {
    if (FPrefixType == 0) return 0;
    // A null value sorts before every value (CompareKeys step 2): 0, values from 2^32 up.
    uint64_t prefix = 0;
    if (Entry[C_KEYHEADERSIZE] & 128u) {
        const uint8_t* value = Entry + FPrefixOffset;
        int64_t v;
        switch (FPrefixType) {
            case ftSmallint: {
                int16_t x;
                std::memcpy(&x, value, 2);
                v = x;
                break;
            }
            case ftWord: {
                uint16_t x;
                std::memcpy(&x, value, 2);
                v = x;
                break;
            }
            default: {
                int32_t x;
                std::memcpy(&x, value, 4);
                v = x;
            }
        }
        prefix = (uint64_t(1) << 32) + uint64_t(v + (int64_t(1) << 31));
    }
    // A descending field reverses the whole order of the field, nulls included.
    return FPrefixDescending ? ~prefix : prefix;
}

std::vector<std::pair<uint64_t, const uint8_t*>> TBTreeBulkLoad::SortedRun() const {
    std::vector<std::pair<uint64_t, const uint8_t*>> keyed;
    keyed.reserve(FRunSize / FKeySize);
    for (size_t at = 0; at < FRunSize; at += FKeySize) {
        const uint8_t* entry = FChunks[at / FChunkBytes].get() + at % FChunkBytes;
        keyed.emplace_back(SortPrefix(entry), entry);
    }
    std::sort(keyed.begin(), keyed.end(), [this](const auto& A, const auto& B) {
        return A.first != B.first ? A.first < B.first : Less(A.second, B.second);
    });
    return keyed;
}

void TBTreeBulkLoad::SpillIfFull() {
    static constexpr char Caller[] = "TBTreeBulkLoad.SpillIfFull";
    if (FRunSize < FRunBytes) return;
    TFile file(std::tmpfile());
    if (!file) OrqDatabaseError(8459, Caller, std::strerror(errno), nullptr);
    for (const auto& [prefix, entry] : SortedRun())
        if (std::fwrite(entry, 1, FKeySize, file.get()) != FKeySize) OrqDatabaseError(9218, Caller, std::strerror(errno), nullptr);
    if (std::fflush(file.get()) != 0) OrqDatabaseError(9218, Caller, std::strerror(errno), nullptr);
    FFiles.push_back(std::move(file));
    // The chunks stay for the next run.
    FRunSize = 0;
}

uint32_t TBTreeBulkLoad::Build() {
    if (FBuilt) OrqDatabaseError(8581, CCaller, "The tree was built already", nullptr);
    FBuilt = true;
    // The root page is written anew: no node may keep its old content.
    FTree.InvalidateInternalBuffers();
    TPageWriter writer(FTree, FDuplicate);
    const std::vector<std::pair<uint64_t, const uint8_t*>> memory = SortedRun();
    if (FFiles.empty()) {
        for (const auto& [prefix, entry] : memory) writer.AddLeafEntry(entry);
        return writer.Finish();
    }

    // A k-way merge: one buffered reader per spilled run and the run in memory, the smallest
    // head taken first (ties cannot happen between distinct entries; equal ones are refused).
    struct TSource {
        std::FILE* File = nullptr;       // null: the run in memory
        std::vector<uint8_t> Buffer;
        size_t Pos = 0, End = 0;         // bytes of Buffer (file) or entries of the memory run
    };
    std::vector<TSource> sources(FFiles.size() + 1);
    auto head = [&](const TSource& Source) {
        return Source.File ? Source.Buffer.data() + Source.Pos : memory[Source.Pos].second;
    };
    // Moves Source to its next entry (the first when Advance is false); False when it has none.
    auto fill = [&](TSource& Source, bool Advance) {
        if (!Source.File) {
            if (Advance) ++Source.Pos;
            return Source.Pos < memory.size();
        }
        if (Advance) Source.Pos += FKeySize;
        if (Source.Pos < Source.End) return true;
        Source.End = std::fread(Source.Buffer.data(), 1, Source.Buffer.size(), Source.File);
        Source.Pos = 0;
        if (Source.End % FKeySize != 0 || std::ferror(Source.File))
            OrqDatabaseError(11108, CCaller, "A sorted run could not be read back", nullptr);
        return Source.End > 0;
    };
    auto later = [&](size_t A, size_t B) { return Less(head(sources[B]), head(sources[A])); };
    std::priority_queue<size_t, std::vector<size_t>, decltype(later)> queue(later);
    for (size_t i = 0; i < sources.size(); ++i) {
        TSource& source = sources[i];
        if (i < FFiles.size()) {
            source.File = FFiles[i].get();
            std::rewind(source.File);
            source.Buffer.resize(CMergeReadEntries * FKeySize);
        }
        if (fill(source, false)) queue.push(i);
    }
    while (!queue.empty()) {
        const size_t i = queue.top();
        queue.pop();
        writer.AddLeafEntry(head(sources[i]));
        if (fill(sources[i], true)) queue.push(i);
    }
    FFiles.clear();
    return writer.Finish();
}

}  // namespace ostra
