// orqReadAheadBuffer: TReadAheadBuffer, the records a cursor read ahead in index order.
//
// When a cursor walks a table through an index it can list several records at once from the
// current leaf page and serve the following moves from memory. Each item holds a copy of a
// record buffer, a copy of its key entry, its record number (1-based position in the index)
// and its record address, in index order. A fill stays valid for ValidFor milliseconds after
// ValidTimeStamp; then the cursor reads again.
//
// Buffers are pooled: the buffer owns two pools of the same length, record buffers of
// RecordSize bytes and key buffers of KeySize bytes. Add binds a new item to the next unused
// pair (allocating a pair only when all are in use); Invalidate drops the items and keeps the
// pools for the next fill; Close frees them.
//
// Invariants: 0 <= buffer cursor <= pool length; both pools have the same length; the items
// added since the last Invalidate are bound to distinct pool pairs, in order.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "host/Collection.h"

namespace ostra {

// One read-ahead record: pooled record and key buffers, record number and address.
class TReadAheadBufferItem : public TCollectionItem {
public:
    explicit TReadAheadBufferItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    // Binds the item to a pooled pair; asserts that neither is null ("RecBuf has not been
    // initialized", "KeyBuf has not been initialized").
    void Initialize(uint8_t* RecBuf, uint8_t* KeyBuf);
    // From another item of a buffer with the same sizes: copies the record number, the address
    // and the contents of both buffers (this item keeps its own pooled buffers).
    void Assign(const TPersistent* Source) override;

    uint8_t* RecBuf() const { return FRecBuf; }
    uint8_t* KeyBuf() const { return FKeyBuf; }
    // The record's 1-based position in the current index (not its logical record number).
    int32_t RecNo() const { return FRecNo; }
    void SetRecNo(int32_t Value) { FRecNo = Value; }
    // The record's address (its identifier).
    uint32_t RecAddr() const { return FRecAddr; }
    void SetRecAddr(uint32_t Value) { FRecAddr = Value; }

private:
    uint8_t* FRecBuf = nullptr;
    uint8_t* FKeyBuf = nullptr;
    int32_t FRecNo = 0;
    uint32_t FRecAddr = 0;
};

// The read-ahead records of one cursor, in index order, with their pooled buffers.
class TReadAheadBuffer : public TCollection {
public:
    // Empty, both pools empty, buffer cursor 0.
    TReadAheadBuffer();
    // Close, then the pools go.
    ~TReadAheadBuffer() override;

    // Close, then takes the sizes and the validity span; ValidTimeStamp 0, LastRecordCount 0,
    // RecordCountValid false.
    void Open(int RecordSize, int KeySize, uint32_t ValidFor);
    // Frees every pooled buffer, empties both pools, buffer cursor 0, removes all items.
    void Close();
    // Appends an item bound to the next pooled pair (contents undefined); the caller fills the
    // buffers, RecNo and RecAddr.
    TReadAheadBufferItem* Add();
    // Removes all items; buffer cursor 0, ValidTimeStamp 0; the pools stay.
    void Invalidate();
    // True when at most ValidFor milliseconds have passed from ValidTimeStamp to NowTicks
    // (32-bit tick arithmetic, so a wrap of the tick counter is handled) and an item is held;
    // otherwise Invalidate and false.
    bool IsValid(uint32_t NowTicks);

    // The item with address RecAddr (searched from the last item backwards); null when none.
    TReadAheadBufferItem* GetBufferItem(uint32_t RecAddr) const;
    // The item after / before the one with address RecAddr; null when that address is not held
    // or it has no such neighbour.
    TReadAheadBufferItem* GetNextBufferItem(uint32_t RecAddr) const;
    TReadAheadBufferItem* GetPriorBufferItem(uint32_t RecAddr) const;
    // The last item; null when empty.
    TReadAheadBufferItem* Last() const;
    TReadAheadBufferItem* GetItems(int Position) const;
    void SetItems(int Position, const TReadAheadBufferItem* Item);
    // Removes the item at Position (its pooled pair stays unused until the next Invalidate).
    void DeleteItem(int Position);
    // The number of pooled buffer pairs.
    int GetInternalBufferCount() const { return static_cast<int>(FRecBufPool.size()); }

    int32_t RecordSize() const { return FRecordSize; }
    int32_t KeySize() const { return FKeySize; }
    uint32_t ValidTimeStamp() const { return FValidTimeStamp; }
    void SetValidTimeStamp(uint32_t Value) { FValidTimeStamp = Value; }
    uint32_t ValidFor() const { return FValidFor; }
    // The table's record count seen at the fill, and whether it may be used.
    int32_t LastRecordCount() const { return FLastRecordCount; }
    void SetLastRecordCount(int32_t Value) { FLastRecordCount = Value; }
    bool RecordCountValid() const { return FRecordCountValid; }
    void SetRecordCountValid(bool Value) { FRecordCountValid = Value; }

private:
    int IndexOfAddr(uint32_t RecAddr) const;

    int32_t FRecordSize = 0;
    int32_t FKeySize = 0;
    int32_t FBufferCursor = 0;
    uint32_t FValidTimeStamp = 0;
    uint32_t FValidFor = 0;
    std::vector<std::unique_ptr<uint8_t[]>> FRecBufPool;
    std::vector<std::unique_ptr<uint8_t[]>> FKeyBufPool;
    int32_t FLastRecordCount = 0;
    bool FRecordCountValid = false;
};

}  // namespace ostra
