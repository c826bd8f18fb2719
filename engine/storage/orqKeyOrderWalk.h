// orqKeyOrderWalk: a table's records in the order of one of its indexes, read a batch at a time
// in storage order.
//
// Records lie in the order they were added, which has nothing to do with the order of most
// keys: reading them one by one in key order reads a random page for nearly every record once
// the table outgrows the page cache. TKeyOrderWalk takes a batch of the index's entries (from
// the entry the index stands on, forwards), reads their records in address order (each page
// once per batch, adjacent pages through the page cache's sequential read-ahead) into a buffer
// of at most BufferBytes bytes of records, and hands them out in key order. Each batch then costs
// at most one pass over the table's record pages, however the records lie. Where the records
// could not miss the page cache (a table in memory, or one whose records fit in half the page
// cache) the walk reads each record as it hands it out, as stepping the index would.
//
// States: idle -> Start (index positioned by the caller) -> walking (Next hands out the batch;
// at its end the next batch is read) -> done (Next false, buffers freed).
// Invariants while walking: FNext <= FCount <= the capacity; record i of the batch is the
// record of the i-th entry taken; the index stands on the entry after the batch's last (or at
// its end when FMore is false).
//
// The walk reads what the records hold when their batch is read: the caller holds a table lock
// (or a transaction) for the whole walk and does not change the table meanwhile, as for any
// walk over an index's tree cursor.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ostra {

class TIndexItem;
class TRecordMgr;

// Records of one index's entries in key order, read in batches in storage order.
class TKeyOrderWalk {
public:
    // Record bytes a walk buffers by default: 2 MiB.
    static constexpr std::size_t CDefaultBufferBytes = std::size_t(2) << 20;

    // Reads records through Records (open; not owned), buffering at most BufferBytes bytes of
    // them (at least one record).
    explicit TKeyOrderWalk(TRecordMgr& Records, std::size_t BufferBytes = CDefaultBufferBytes);

    // Starts at the entry Index (open; not owned) stands on, which the caller found with a
    // search; the walk steps the index on from there with NextKey.
    void Start(TIndexItem& Index);
    // The next entry's record into Buffer (RecordSize bytes) and its address into RecordID;
    // false after the index's last entry (then the buffer is freed), or without Start.
    bool Next(uint32_t& RecordID, uint8_t* Buffer);

    // Records one batch holds at most.
    std::size_t Capacity() const { return FCapacity; }

private:
    // Takes up to Capacity entries from the index and reads their records; false when none left.
    bool ReadBatch();
    // FOrder := the batch's positions, grouped by page in address order.
    void SortByPage();
    // The end: buffers freed; false.
    bool Finish();

    TRecordMgr& FRecords;
    std::size_t FBufferBytes;
    TIndexItem* FIndex = nullptr;
    std::size_t FCapacity = 0;          // records a batch holds; 0 = records read one by one
    uint32_t FPageSize = 0;
    bool FMore = false;                 // the index stands on an entry not yet taken
    std::vector<uint32_t> FAddresses;   // the batch's record addresses, in key order
    std::vector<uint32_t> FOrder;       // positions in the batch, in storage order
    std::vector<uint32_t> FPageStarts;  // the counting sort's page buckets
    std::vector<uint8_t> FBatch;        // the batch's records, in key order
    std::size_t FCount = 0;             // entries in the batch
    std::size_t FNext = 0;              // the next of them to hand out
};

}  // namespace ostra
