// orqRecordMgr: the record manager of a table cursor and its cache of blob values.
//
// TRecordMgr binds a table's field list (orqRecordLayout.h) to the block storage that holds the
// table's records (orqInterfaceUnit.h) and reads, adds, rewrites and deletes whole records. A
// record is exactly one block of RecordSize bytes; the block's address is the record's
// identifier (and the number under which it is locked). The manager keeps a copy of the last
// record it read with a copy, added or rewrote, so that the cursor can restore a buffer after a
// cancelled edit. Free-block reuse is the block storage's business: the manager keeps no counts.
//
// TBlobMgr holds one TBlob per blob field of the table, in which the cursor caches the current
// record's blob values as streams. Entries move between states as the cursor loads (bsValid),
// changes (bsModified) and writes them; a record read with a copy, a deletion and
// InvalidateStreams return them to bsInvalid.
//
// States of TRecordMgr: created (empty lists, no buffer) -> RecordSize set, fields filled ->
// Open (buffer allocated, blob entries made) -> record operations -> Close (lists emptied,
// buffer freed; RecordSize stays). Record operations outside the open state raise 8576.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/orqRecordLayout.h"
#include "host/Collection.h"

namespace ostra {

class TBaseIOInterface;
class TMemoryStream;

// The state of a cached blob value.
enum TBlobState : uint8_t { bsNone, bsInvalid, bsValid, bsModified };

// One blob field's cached value: the record it belongs to, the field and the bytes.
class TBlob : public TCollectionItem {
public:
    // Creates the stream.
    explicit TBlob(TCollection* ACollection);
    ~TBlob() override;
    // From another TBlob: record, field, state and a copy of the bytes; else the base rules.
    void Assign(const TPersistent* Source) override;

    // The record the cached value belongs to; 0 = not tied to a record.
    uint32_t RecID() const { return FRecID; }
    void SetRecID(uint32_t Value) { FRecID = Value; }
    // The FieldIndex of the blob field.
    int32_t FieldNo() const { return FFieldNo; }
    void SetFieldNo(int32_t Value) { FFieldNo = Value; }
    TBlobState State() const { return FState; }
    void SetState(TBlobState Value) { FState = Value; }
    // The cached value; owned.
    TMemoryStream& Stream() { return *FStream; }

private:
    uint32_t FRecID = 0;
    int32_t FFieldNo = 0;
    TBlobState FState = bsNone;
    std::unique_ptr<TMemoryStream> FStream;
};

// The blob entries of one cursor, one per blob field.
class TBlobMgr : public TCollection {
public:
    TBlobMgr();

    // A new entry at the end.
    TBlob* Add();
    TBlob* GetItems(int Position) const;
    void SetItems(int Position, const TBlob* Value);
    // The first entry of field FieldNo that, when RecID is not 0, also belongs to RecID; null
    // when none.
    TBlob* FindBlob(uint32_t RecID, int32_t FieldNo) const;
    // Every entry becomes bsInvalid.
    void InvalidateStreams();
    // bsNone without entries; bsInvalid when any entry is invalid; else bsModified when any is
    // modified; else bsValid.
    TBlobState CheckBlobStates() const;
};

// Whole-record access to one table's record storage for one cursor.
class TRecordMgr : public TObject {
public:
    // Empty blob and field lists.
    TRecordMgr();
    ~TRecordMgr() override;
    TRecordMgr(const TRecordMgr&) = delete;
    TRecordMgr& operator=(const TRecordMgr&) = delete;

    // Asserts that no internal buffer is allocated ("Setting record size when buffers set").
    void SetRecordSize(int32_t Value);
    int32_t RecordSize() const { return FRecordSize; }

    // RecordSize 0: 8576 "System object is not initialized". Allocates a zero-filled internal
    // buffer, takes IOInterface (not owned), opens the field list with this RecordSize and makes
    // one bsInvalid blob entry per Blob, Memo, Graphic or FmtMemo field (FieldNo = FieldIndex),
    // in field order.
    void Open(TBaseIOInterface* IOInterface);
    // Empties the field and blob lists and frees the internal buffer; RecordSize stays.
    void Close();

    // A new block holding Buffer (RecordSize bytes); copies Buffer to the internal buffer;
    // returns the block address, the new record's identifier.
    uint32_t AddRecord(const uint8_t* Buffer);
    // Reads the record into Buffer; with KeepCopy also into the internal buffer, and every blob
    // entry becomes bsInvalid.
    void ReadRecord(uint32_t RecordID, uint8_t* Buffer, bool KeepCopy);
    // Buffer := the storage's own copy of the record (no copy is made).
    void ReadRecordByRef(uint32_t RecordID, uint8_t*& Buffer);
    // Writes Buffer to the record and copies it to the internal buffer.
    void UpdateRecord(uint32_t RecordID, const uint8_t* Buffer);
    // Releases the record's block; every blob entry becomes bsInvalid.
    void DeleteRecord(uint32_t RecordID);
    // Copies the internal buffer into Buffer (RecordSize bytes).
    void RestoreBufferFromInternalBuffer(uint8_t* Buffer);
    // Keeps Buffer (RecordSize bytes), a record the caller read by other means (from its
    // read-ahead records), as the last record read: as ReadRecord with KeepCopy, without the read.
    void KeepCopy(const uint8_t* Buffer);

    // ---- Walk in storage order: every live record once, in the order of the record blocks in
    // the storage (map order on disk, allocation order in memory), for full scans where the order
    // does not matter; each page of records is then read once, in file order. The walk takes the
    // list of blocks when it starts: a record added later is visited only where it reuses a block
    // listed then; one deleted later (its block free again) is skipped.
    // Lists the storage's blocks and puts the walk before the first record.
    void StartStorageOrderWalk();
    // Reads the next live record (in-use flag set) into Buffer (RecordSize bytes) and sets
    // RecordID to its identifier; false after the last one (nothing read). Without a started
    // walk: false.
    bool NextInStorageOrder(uint32_t& RecordID, uint8_t* Buffer);

    TBaseIOInterface* IOInterface() const { return FIOInterface; }
    TBlobMgr& BlobMgr() { return *FBlobMgr; }
    TInternalFields& Fields() { return *FFields; }
    // The last record read with a copy, added or rewritten; null when not open.
    const uint8_t* InternalBuffer() const { return FInternalBuffer.empty() ? nullptr : FInternalBuffer.data(); }

private:
    // Open, else 8576 with Caller.
    void CheckOpen(const char* Caller);

    TBaseIOInterface* FIOInterface = nullptr;
    std::unique_ptr<TBlobMgr> FBlobMgr;
    std::unique_ptr<TInternalFields> FFields;
    int32_t FRecordSize = 0;
    std::vector<uint8_t> FInternalBuffer;
    std::vector<uint32_t> FWalkBlocks;  // the storage's blocks when the walk started
    std::size_t FWalkNext = 0;          // the next of them to read
};

}  // namespace ostra
