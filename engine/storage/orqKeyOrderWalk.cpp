// orqKeyOrderWalk: batches of an index's entries, their records read page by page in storage
// order and handed out in key order. See orqKeyOrderWalk.h.
#include "engine/storage/orqKeyOrderWalk.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/orqCacheMgr.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqFile.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqRecordMgr.h"

namespace ostra {

TKeyOrderWalk::TKeyOrderWalk(TRecordMgr& Records, std::size_t BufferBytes)
    : FRecords(Records), FBufferBytes(BufferBytes) {}

void TKeyOrderWalk::Start(TIndexItem& Index) {
    FIndex = &Index;
    FMore = true;
    FCount = FNext = 0;
    FCapacity = 0;
    FPageSize = 0;
    const std::size_t recordSize = std::size_t(std::max(FRecords.RecordSize(), 1));
    const std::size_t entries = std::size_t(std::max(Index.GetRecordCount(false), 0));
    // Batches pay only where records are read from the file: not for records in memory, nor
    // for a table whose records fit in half the page cache (the rest is for the index pages).
    TDiskMgr* disk = FRecords.IOInterface() ? FRecords.IOInterface()->DiskMgr() : nullptr;
    if (!disk || !disk->IsOpen()) return;
    const std::size_t cacheBytes = std::size_t(disk->File().PageCache().Count()) * disk->PageSize();
    if (entries * recordSize <= cacheBytes / 2) return;
    FPageSize = disk->PageSize();
    FCapacity = std::min(std::max<std::size_t>(FBufferBytes / recordSize, 1), entries);
}

void TKeyOrderWalk::SortByPage() {
    // A counting sort on the page number (the batch's pages span at most a few times as many
    // pages as it has entries in any table larger than the cache); a comparison sort otherwise.
    uint32_t low = UINT32_MAX, high = 0;
    for (std::size_t i = 0; i < FCount; ++i) {
        low = std::min(low, FAddresses[i] / FPageSize);
        high = std::max(high, FAddresses[i] / FPageSize);
    }
    const std::size_t span = std::size_t(high - low) + 1;
    if (span > 4 * FCount + 1024) {
        for (std::size_t i = 0; i < FCount; ++i) FOrder[i] = uint32_t(i);
        std::sort(FOrder.begin(), FOrder.begin() + std::ptrdiff_t(FCount),
                  [&](uint32_t A, uint32_t B) { return FAddresses[A] < FAddresses[B]; });
        return;
    }
    FPageStarts.assign(span + 1, 0);
    for (std::size_t i = 0; i < FCount; ++i) ++FPageStarts[FAddresses[i] / FPageSize - low + 1];
    for (std::size_t p = 1; p <= span; ++p) FPageStarts[p] += FPageStarts[p - 1];
    for (std::size_t i = 0; i < FCount; ++i) FOrder[FPageStarts[FAddresses[i] / FPageSize - low]++] = uint32_t(i);
}

bool TKeyOrderWalk::ReadBatch() {
    FCount = FNext = 0;
    if (!FIndex || !FMore) return false;
    const std::size_t recordSize = std::size_t(FRecords.RecordSize());
    FOrder.resize(FCapacity);
    FAddresses.resize(FCapacity);
    FBatch.resize(FCapacity * recordSize);
    while (FCount < FCapacity && FMore) {
        FAddresses[FCount++] = FIndex->GetRecordAddress();
        FMore = FIndex->NextKey();
    }
    // Page by page in storage order: each record page is read once per batch, and pages that
    // follow one another come through the page cache's read-ahead as runs.
    SortByPage();
    for (std::size_t i = 0; i < FCount; ++i) {
        const uint32_t position = FOrder[i];
        FRecords.ReadRecord(FAddresses[position], FBatch.data() + position * recordSize, false);
    }
    return FCount > 0;
}

bool TKeyOrderWalk::Next(uint32_t& RecordID, uint8_t* Buffer) {
    if (FIndex && FCapacity == 0) {
        // Unbatched: the record of the entry the index stands on, then a step.
        if (!FMore) return Finish();
        RecordID = FIndex->GetRecordAddress();
        FRecords.ReadRecord(RecordID, Buffer, false);
        FMore = FIndex->NextKey();
        return true;
    }
    if (FNext == FCount && !ReadBatch()) return Finish();
    const std::size_t recordSize = std::size_t(FRecords.RecordSize());
    std::memcpy(Buffer, FBatch.data() + FNext * recordSize, recordSize);
    RecordID = FAddresses[FNext];
    ++FNext;
    return true;
}

bool TKeyOrderWalk::Finish() {
    FIndex = nullptr;
    FMore = false;
    FCount = FNext = 0;
    std::vector<uint32_t>().swap(FOrder);
    std::vector<uint32_t>().swap(FAddresses);
    std::vector<uint32_t>().swap(FPageStarts);
    std::vector<uint8_t>().swap(FBatch);
    return false;
}

}  // namespace ostra
