// orqBTreeBulkLoad: TBTreeBulkLoad, which fills an empty B+-tree (orqBTree.h) bottom-up from
// leaf entries given in any order, instead of one insert per entry.
//
// The entries are sorted in runs of bounded memory: a run that reaches its limit is sorted and
// written to a temporary file, and the runs are merged at the end, so the memory stays bounded
// whatever the number of entries. The sorted entries are then written as pages left to right:
// every leaf as full as the tree leaves a page (room for one entry more), linked to its
// neighbours, and above the leaves each level from the first keys and record counts of the level
// below, one page open per level. The page left alone at the top is written into the tree's
// root page, whose address never changes. Entries compare exactly as the tree compares them
// (TBTree::CompareKeys over every key field), so the tree holds its entries in the order one
// insert after another would give, and every stored invariant of orqBTree.h holds.
//
// States: collecting (Add, SpillIfFull) -> Build (once) -> built. Invariants while collecting:
// the run in memory holds whole entries of MaximumKeySize bytes; every spilled run is sorted.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace ostra {

class TBTree;

// Builds one empty tree from its leaf entries.
class TBTreeBulkLoad {
public:
    // True when Tree is open and connected to its storage, with no entry (its root an empty leaf).
    static bool CanLoad(TBTree& Tree);
    // Tree: as CanLoad asks (8581 otherwise). RunBytes: the memory a run may take before it goes
    // to a temporary file (at least one entry).
    TBTreeBulkLoad(TBTree& Tree, size_t RunBytes);
    ~TBTreeBulkLoad();
    TBTreeBulkLoad(const TBTreeBulkLoad&) = delete;
    TBTreeBulkLoad& operator=(const TBTreeBulkLoad&) = delete;

    // Appends a copy of a leaf entry: MaximumKeySize bytes of a key entry whose address field
    // holds the record's address (its size and count fields are set here).
    void Add(const uint8_t* Entry);
    // When the run in memory has reached RunBytes, sorts it and writes it to a temporary file.
    // A file that cannot be made or written: 8459 / 9218.
    void SpillIfFull();
    // Sorts and merges the entries and writes the tree's pages; returns the tree's new depth,
    // which the caller stores where the tree keeps its Depth (the root stays where it is); the
    // tree's nodes forget their pages. Two entries equal over every key field: 8581 "Duplicate
    // key in bulk load", and FoundDuplicate() is true. Once only.
    uint32_t Build();

    size_t Count() const { return FCount; }
    // Build failed on two entries equal over every key field (the keys of a unique index that
    // repeat; the keys of other indexes end in the record's logical number, which tells them apart).
    bool FoundDuplicate() const { return FDuplicate; }
    // The runs written to temporary files so far.
    size_t SpilledRuns() const { return FFiles.size(); }

private:
    struct TFileCloser {
        void operator()(std::FILE* File) const;
    };
    using TFile = std::unique_ptr<std::FILE, TFileCloser>;
    class TPageWriter;

    // The run in memory as its entries (each with its SortPrefix), in key order.
    std::vector<std::pair<uint64_t, const uint8_t*>> SortedRun() const;
    bool Less(const uint8_t* A, const uint8_t* B) const;
    // A number that orders entries as their first key field does (0 for every entry when that
    // field is of no integer type): the sort compares it first and whole keys only on a tie.
    uint64_t SortPrefix(const uint8_t* Entry) const;

    TBTree& FTree;
    size_t FKeySize;
    size_t FRunBytes;
    size_t FCount = 0;
    bool FBuilt = false;
    bool FDuplicate = false;
    int FPrefixType = 0;        // the first key field's type when SortPrefix can order it, else 0
    bool FPrefixDescending = false;
    size_t FPrefixOffset = 0;   // where the first key field's value starts in an entry
    // The run in memory: entries back to back in chunks of fixed size that are never moved (a
    // growing array would copy the whole run again and again), and its size in bytes.
    std::vector<std::unique_ptr<uint8_t[]>> FChunks;
    size_t FChunkBytes;
    size_t FRunSize = 0;
    std::vector<TFile> FFiles;  // the sorted runs spilled, each rewound when merged
};

}  // namespace ostra
