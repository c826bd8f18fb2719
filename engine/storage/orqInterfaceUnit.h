// orqInterfaceUnit: fixed-size block storage and the blob chains stored in it.
//
// A block storage keeps blocks of one size for one owner (a table id and a usage code) and
// hands out their addresses, which the layers above store: records (one block per record),
// blob chain blocks, index pages and table headers all live in such storages.
//
//   TBaseIOInterface     the operations and the set-up every storage shares; the base answers
//                        the operations it cannot do with error 10065.
//   TDiskIOInterface     blocks in page runs of the database file, reached through TDiskMgr
//                        (orqDisk.h); free blocks are threaded into a first-empty chain of runs.
//   TMemoryIOInterface   blocks in memory for in-memory tables; addresses are 32-bit handles.
//   TBlobInterface       one blob value as a singly linked chain of blocks of a blob storage.
//
// Free blocks on disk. Free blocks form runs of consecutive blocks inside one page run of the
// map (the pages one allocation took together: GetBestPageRequestSize(BlockSize, PageSize)
// bytes). FirstEmpty points at the head block of the first run; each head links to the next
// run. The other blocks of a run are zero-filled.
//
//   | Offset in the head block | Size | Meaning                                              |
//   |--------------------------|------|------------------------------------------------------|
//   | 0                        | 8    | zero                                                 |
//   | 8                        | 4    | address of the next run's head block; 0 = last run   |
//   | 12                       | 4    | number of free blocks in this run, the head included |
//   | 16                       | rest | zero                                                 |
//
// FirstEmpty is kept either in the global header (a "global" storage: GlobalFirstEmptyOffset
// is the header offset, and the chain is reloaded and stored under the header write lock on
// every allocation and release) or by the owner (the table header keeps the record and blob
// chains; the owner sets FirstEmpty and FirstEmptyValid before, and reads FirstEmpty after).
// The global storages are the two table-header storages: their blocks all belong to table 0.
//
// Whole-page storages (WholePages): every block starts a page run of its own (BlockSize rounded
// up to whole pages), taken from the map when the block is allocated and given back to it when
// the block is released; there is no free chain, and FirstEmpty is neither read nor written. A
// table's index storage is one (orqTableMgrUnit.h). Why: a free chain shared by the index
// storages of all tables (global header offset 36, as files with pages above 4096 once used)
// let one page hold index blocks of several tables, so dropping, emptying or re-indexing one
// table freed and zero-filled pages in which other tables' trees lived, and a page was encrypted
// with whichever table wrote it last; a chain per table would have to live in the table header,
// in step with every index change the cursor makes. Owning whole pages costs index space only
// where pages are larger than an index block, and keeps the invariant that every page of index
// usage holds blocks of its owner table alone, so the map says which table a page's bytes
// belong to and any page of a table may be freed with the table.
//
// Blob block (BlobBlockSize bytes, integers little-endian):
//
//   | Offset | Size               | Meaning                                                 |
//   |--------|--------------------|---------------------------------------------------------|
//   | 0      | 4                  | address of the next block of the chain; 0 in the last   |
//   | 4      | 4                  | data bytes in this block, 1 to BlobBlockSize - 8        |
//   | 8      | BlobBlockSize - 8  | data, zero-padded after the count                       |
//
// A blob of length L takes ceil(L / (BlobBlockSize - 8)) blocks; a chain written in one piece
// has full blocks first and the remainder in its last block. An empty blob has no chain (0).
//
// Stored data is not trusted: a free-chain head, a chain link or a block count read from a
// block is checked before it is used (CheckLinkAddress, counts within their range, chains
// without a repeated block); a bad one raises a data-corrupt error (8962 for free chains,
// 8963 for blob chains), so no walk runs away or writes over blocks in use.
//
// Life cycle of every storage: created -> configured with the setters -> Open -> transfers ->
// Close -> destroyed. One thread at a time.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/orqCommon.h"
#include "host/Object.h"

namespace ostra {

class TDiskMgr;
class TStream;
class TStrings;
class TStringList;
class TMemoryStream;

// The kind of a storage.
enum TIOMode : uint8_t { iomNone, iomMemory, iomDiskFixedSize, iomDiskVariableSize };

// Free-run head fields: 8 zero bytes + 4-byte next-run link + 4-byte block count.
inline constexpr uint32_t CFreeRunLinkOffset = 8;
inline constexpr uint32_t CFreeRunCountOffset = 12;
inline constexpr uint32_t CFreeRunHeadSize = 16;

// Blob block prefix: 4-byte next link + 4-byte data count.
inline constexpr uint32_t CBlobLinkOffset = 0;
inline constexpr uint32_t CBlobCountOffset = 4;
inline constexpr uint32_t CBlobBlockPrefix = 8;
// The blob block size of a table that does not set one.
inline constexpr uint32_t CDefaultBlobBlockSize = 512;

// The storage of fixed-size blocks of one owner; the base of the disk and memory variants.
// Virtual operations (in this order): Open, Close, Empty, AllocateNewAddress, ReleaseBlock,
// WriteBlock, WriteBlockByRef, ReadBlock, ReadBlockByRef, WriteBlockHeader, ReadBlockHeader,
// ShowBlocks, ListBlocks, CheckPageValid, ShowStatus, GetNextMemoryBlockAddress,
// CheckBlockAddressValid, NotifyPageChange, NotifyTableClosed; then CheckLinkAddress, the check
// of stored links, and ReadBlockStamped / ReadBlockView / WriteBlockStamped / WriteBlockPart,
// the transfers that name the content they moved.
class TBaseIOInterface : public TObject {
public:
    TBaseIOInterface() = default;
    ~TBaseIOInterface() override = default;
    TBaseIOInterface(const TBaseIOInterface&) = delete;
    TBaseIOInterface& operator=(const TBaseIOInterface&) = delete;

    // Computes the owner word (TableID << 4) | Usage.
    virtual void Open();
    // Nothing here.
    virtual void Close() {}
    // Frees every block (disk: every page of the owner, or of the table when not Exact).
    // Base: 10065.
    virtual void Empty(bool Exact);
    // A new block holding the first Size bytes of Buffer (the rest zero; Buffer may be null
    // for a zero block); returns its address. Base: 10065.
    virtual uint32_t AllocateNewAddress(uint32_t Size, const void* Buffer);
    // Gives the Size bytes at Address back to the storage. Base: 10065.
    virtual void ReleaseBlock(uint32_t Address, uint32_t Size);
    // Writes Size bytes of Buffer at Address. Base: 10065.
    virtual void WriteBlock(uint32_t Address, uint32_t Size, const void* Buffer);
    // Declares a block changed in place through ReadBlockByRef as written. Base: nothing.
    virtual void WriteBlockByRef(uint32_t Address, uint32_t Size, const void* Buffer) {}
    // Reads Size bytes at Address into Buffer. Base: nothing.
    virtual void ReadBlock(uint32_t Address, uint32_t Size, void* Buffer) {}
    // Buffer := a pointer to the stored block (no copy); valid until the next transfer.
    // Base: nothing.
    virtual void ReadBlockByRef(uint32_t Address, uint32_t Size, uint8_t*& Buffer) {}
    // Writes / reads the first Size bytes of a block. Base: 10065 / nothing.
    virtual void WriteBlockHeader(uint32_t Address, uint32_t Size, const void* Buffer);
    virtual void ReadBlockHeader(uint32_t Address, uint32_t Size, void* Buffer) {}
    // Debug listing of the blocks. Base: nothing.
    virtual void ShowBlocks(TStrings* List) {}
    // List := the address of every block held, in storage order. Base: nothing.
    virtual void ListBlocks(std::vector<uint32_t>& List) {}
    // True when Address is a block of this storage (memory only). Base: false.
    virtual bool CheckPageValid(uint32_t Address) { return false; }
    // Debug status lines. Base: nothing.
    virtual void ShowStatus(TStringList* List) {}
    // Memory storage walk in allocation order: 0 gives the first block, a block the one after
    // it; 0 after the last. Base: 0.
    virtual uint32_t GetNextMemoryBlockAddress(uint32_t Address) { return 0; }
    // True when Address is a block of this storage (memory only). Base: false.
    virtual bool CheckBlockAddressValid(uint32_t Address) { return false; }
    // Drops the cached pages of TableID so that the next reads see other connections' writes.
    // Base: nothing.
    virtual void NotifyPageChange(uint32_t TableID) {}
    // The last user of TableID let it go: its cached pages stay, first to make room. Base: nothing.
    virtual void NotifyTableClosed(uint32_t TableID) {}
    // True when a block address read from stored data (a chain link, a free-chain head, a map
    // entry) can be a block of this storage; callers raise a data-corrupt error when not.
    // Base: any non-zero address.
    virtual bool CheckLinkAddress(uint32_t Address) { return Address != 0; }
    // ReadBlock, and Stamp := a value naming the stored content read: it changes whenever that
    // content may have changed (read again from the file, written by anyone) and never names
    // other content, so a reader that checked the block need not check it again while the stamp
    // stays. 0 = not known (check it). Base: ReadBlock, 0.
    virtual void ReadBlockStamped(uint32_t Address, uint32_t Size, void* Buffer, uint64_t& Stamp) {
        ReadBlock(Address, Size, Buffer);
        Stamp = 0;
    }
    // The stored block at Address without a copy, when the storage can lend it: a pointer valid
    // until the next call of this storage (nothing may be written through it), and Stamp as
    // ReadBlockStamped's. nullptr when it cannot (then read with a copy). Base: nullptr.
    virtual const uint8_t* ReadBlockView(uint32_t Address, uint32_t Size, uint64_t& Stamp) {
        Stamp = 0;
        return nullptr;
    }
    // WriteBlock, and Stamp := the stamp of the content written (0 = not known). Base: WriteBlock, 0.
    virtual void WriteBlockStamped(uint32_t Address, uint32_t Size, const void* Buffer, uint64_t& Stamp) {
        WriteBlock(Address, Size, Buffer);
        Stamp = 0;
    }
    // Writes the bytes [Offset, Offset + Size) of the block of BlockSize bytes at Address, whose
    // whole new content is at Block (the bytes outside the range are those stored); Stamp as
    // WriteBlockStamped's. Base: the whole block through WriteBlockStamped.
    virtual void WriteBlockPart(uint32_t Address, uint32_t BlockSize, uint32_t Offset, uint32_t Size,
                                const void* Block, uint64_t& Stamp) {
        WriteBlockStamped(Address, BlockSize, Block, Stamp);
    }

    uint32_t BlockSize() const { return FBlockSize; }
    void SetBlockSize(uint32_t Value) { FBlockSize = Value; }
    TIOMode IOMode() const { return FIOMode; }
    void SetIOMode(TIOMode Value) { FIOMode = Value; }
    // Optional target of debug output; not owned.
    TStrings* DebugStrings() const { return FDebugStrings; }
    void SetDebugStrings(TStrings* Value) { FDebugStrings = Value; }
    uint16_t Usage() const { return FUsage; }
    void SetUsage(uint16_t Value) { FUsage = Value; }
    uint16_t TableID() const { return FTableID; }
    void SetTableID(uint16_t Value) { FTableID = Value; }
    // (TableID << 4) | Usage, as computed by Open.
    uint16_t Owner() const { return FOwner; }
    // Head of the first free run; 0 = none.
    uint32_t FirstEmpty() const { return FFirstEmpty; }
    void SetFirstEmpty(uint32_t Value) { FFirstEmpty = Value; }
    // The database file manager of a disk storage; not owned.
    TDiskMgr* DiskMgr() const { return FDiskMgr; }
    void SetDiskMgr(TDiskMgr* Value) { FDiskMgr = Value; }
    // Offset in the global header where FirstEmpty is kept; 0 when the owner keeps it.
    int32_t GlobalFirstEmptyOffset() const { return FGlobalFirstEmptyOffset; }
    void SetGlobalFirstEmptyOffset(int32_t Value) { FGlobalFirstEmptyOffset = Value; }
    bool FirstEmptyValid() const { return FFirstEmptyValid; }
    void SetFirstEmptyValid(bool Value) { FFirstEmptyValid = Value; }
    // Access flags of every transfer: 1, 3 or 5 for table data, 0 for table headers.
    uint32_t AccessFlags() const { return FAccessFlags; }
    void SetAccessFlags(uint32_t Value) { FAccessFlags = Value; }

protected:
    // Raises 10065 "Invalid procedure name" with Caller.
    [[noreturn]] void NotImplemented(const char* Caller);

    uint32_t FBlockSize = 0;
    TIOMode FIOMode = iomNone;
    TStrings* FDebugStrings = nullptr;
    uint16_t FUsage = 0;
    uint16_t FTableID = 0;
    uint16_t FOwner = 0;
    uint32_t FFirstEmpty = 0;
    TDiskMgr* FDiskMgr = nullptr;
    int32_t FGlobalFirstEmptyOffset = 0;
    bool FFirstEmptyValid = false;
    uint32_t FAccessFlags = 0;
};

// Block storage in the database file: blocks lie in page runs that TDiskMgr hands out, and
// free blocks are recycled through the first-empty chain (last released, first reused), or, in
// a whole-page storage, each block is a page run of its own that goes back to the map.
//
// Invariants: every free run lies inside one page run of the owner and the blocks after its
// head are zero; a released run is pushed in front of the chain (runs are not merged); the
// chain of a global storage is changed only under the header write lock. A whole-page storage
// has no chain: each of its blocks starts the first page of a run the owner holds alone.
class TDiskIOInterface : public TBaseIOInterface {
public:
    TDiskIOInterface();
    ~TDiskIOInterface() override;

    // DiskMgr null, Usage 0, BlockSize 0: 8581 "Unable to open Disk IOInterface - ..."; a block
    // size below 16 (a free-run head does not fit): 8581. Allocates the work buffer (or, when it
    // exists, writes the trace line "Open- BlockSize %d FirstEmpty %d"), computes the owner word.
    void Open() override;
    // Frees the work buffer.
    void Close() override;
    // TDiskMgr::DeleteOwnedPages(TableID, Usage, Exact); FirstEmptyValid := false.
    void Empty(bool Exact) override;
    // Reuses the head of the first free run, or takes a new page run whose spare blocks become
    // the new first run (a whole-page storage always takes a new run and keeps no spare). A
    // reused block leaves the chain (FirstEmpty moved on, a global header written) before its
    // data is written, so a failed write loses the block at worst and the chain never names a
    // block in use. Size above BlockSize: 8581 "Block request sizes < block
    // size"; a non-global storage without a valid FirstEmpty: 8581 "DiskIOInterface - non global
    // first empty not set"; a bad free-chain head: 8962.
    uint32_t AllocateNewAddress(uint32_t Size, const void* Buffer) override;
    // Whole pages (Size >= PageSize, both page multiples) go back to the map; otherwise the
    // ceil(Size / BlockSize) blocks at Address become a run pushed in front of the chain. An
    // address that cannot start such a run: 8962. A whole-page storage gives the block's run
    // back to the map (Size is not used); an index storage in a file whose index pages may be
    // shared (TDiskMgr::IndexPagesMayBeShared) keeps it, as it may hold other tables' blocks.
    void ReleaseBlock(uint32_t Address, uint32_t Size) override;
    void WriteBlock(uint32_t Address, uint32_t Size, const void* Buffer) override;
    void WriteBlockByRef(uint32_t Address, uint32_t Size, const void* Buffer) override;
    void ReadBlock(uint32_t Address, uint32_t Size, void* Buffer) override;
    // The stamp of the page cache's page the block lies in (0 when it spans pages).
    void ReadBlockStamped(uint32_t Address, uint32_t Size, void* Buffer, uint64_t& Stamp) override;
    // The block in the page cache's page, when the block lies in one page and its transfers go
    // through the page cache.
    const uint8_t* ReadBlockView(uint32_t Address, uint32_t Size, uint64_t& Stamp) override;
    void WriteBlockStamped(uint32_t Address, uint32_t Size, const void* Buffer, uint64_t& Stamp) override;
    // Only the range goes to the file (its page in the page cache).
    void WriteBlockPart(uint32_t Address, uint32_t BlockSize, uint32_t Offset, uint32_t Size, const void* Block,
                        uint64_t& Stamp) override;
    void ReadBlockByRef(uint32_t Address, uint32_t Size, uint8_t*& Buffer) override;
    void WriteBlockHeader(uint32_t Address, uint32_t Size, const void* Buffer) override;
    void ReadBlockHeader(uint32_t Address, uint32_t Size, void* Buffer) override;
    // TDiskMgr::ListAllocatedFixedBlocks(BlockSize, TableID, Usage, List); for a whole-page
    // storage the first address of each of its page runs.
    void ListBlocks(std::vector<uint32_t>& List) override;
    // Every page of the page cache owned by TableID becomes empty.
    void NotifyPageChange(uint32_t TableID) override;
    // Every clean page of the page cache owned by TableID is parked (TCacheMgr::ParkOwnedPages).
    void NotifyTableClosed(uint32_t TableID) override;
    // True when Address starts a block of a page run of this block size (beyond the file's
    // fixed areas, at a block boundary of the run; in a whole-page storage at the run's start,
    // unless index pages may be shared) and the block lies within the file.
    bool CheckLinkAddress(uint32_t Address) override;

    // Each block a page run of its own, without a free chain (see the file comment). Set before
    // the first allocation.
    bool WholePages() const { return FWholePages; }
    void SetWholePages(bool Value) { FWholePages = Value; }
    // The blocks ReadBlockView lends are kept in the page cache before other pages
    // (orqCacheMgr.h): set for index storages, whose pages every key search passes through.
    bool KeptInCache() const { return FKeptInCache; }
    void SetKeptInCache(bool Value) { FKeptInCache = Value; }

    // Loads FirstEmpty from the global header (read first when not valid); FirstEmptyValid :=
    // true. Not a global storage: 8581 "Unable to get a global first empty. Not a global
    // interface".
    uint32_t GetGlobalFirstEmpty();
    // Stores FirstEmpty in the global header. FirstEmptyValid false: 8581 "Attempt to write non
    // validated first empty to global header". Nothing for a non-global storage.
    void SetGlobalFirstEmpty();

private:
    // The header write lock of a global storage's chain operation (see the .cpp).
    class TChainScope;

    // DiskMgr and a usable block size, else 8576.
    void CheckReady(const char* Caller) const;
    // True when Count blocks from Address lie inside one page run of this block size.
    bool RunSlotValid(uint32_t Address, uint32_t Count);
    // True when Bytes from Address lie within the file (the file size is asked again only when
    // the range reaches beyond the end last seen).
    bool InFile(uint32_t Address, uint64_t Bytes);
    // The bytes of a page run of this block size (GetBestPageRequestSize, cached per page size;
    // for a whole-page storage the block size rounded up to whole pages).
    uint32_t RunSize();
    // True for an index storage in a file whose index pages may hold other tables' blocks.
    bool PagesMayBeShared() const;
    // Writes a new page run (TDiskMgr::WriteNewPages) holding Block at its start and, when Spare
    // is not 0, the head of a free run of Spare blocks after it; returns the run's address.
    uint32_t WriteNewRun(const uint8_t* Block, uint32_t Spare);

    std::vector<uint8_t> FWorkBuffer;  // 2 x BlockSize: a head block and a block being written
    std::vector<uint8_t> FRunBuffer;   // a new page run, or a released run of several blocks
    uint32_t FRunSizeFor[2] = {0, 0};  // block size and page size FRunSize was computed for
    uint32_t FRunSize = 0;
    uint64_t FKnownFileEnd = 0;        // the file end last asked for (it only grows)
    bool FWholePages = false;
    bool FKeptInCache = false;
};

// Block storage in memory. Each block is its own allocation of the size it was allocated with;
// its address is a 32-bit handle (never a pointer): handle h is slot h - 1. Released slots are
// reused last released first. The live blocks are kept in a doubly linked list in allocation
// order, so lookup, release and "next block" are O(1) and a full walk is linear.
//
// Invariant: a slot holds data exactly when it is live; the live slots form one list from FHead
// to FTail through Next (and back through Prev); FCount is its length.
class TMemoryIOInterface : public TBaseIOInterface {
public:
    TMemoryIOInterface();
    ~TMemoryIOInterface() override;

    // Frees every block; the handles start again at 1.
    void Empty(bool Exact) override;
    // A block of Size zero-filled bytes with Buffer's Size bytes copied in (Buffer may be
    // null), appended to the allocation order; returns its handle.
    uint32_t AllocateNewAddress(uint32_t Size, const void* Buffer) override;
    // A listed block is freed; any other address is ignored.
    void ReleaseBlock(uint32_t Address, uint32_t Size) override;
    // Unlisted address: nothing. Null Buffer: 8581 "Write page error - nil pointer"; more bytes
    // than the block holds: 8581 "Write page error - size out of range".
    void WriteBlock(uint32_t Address, uint32_t Size, const void* Buffer) override;
    // The block was changed in place: only its stamp is renewed.
    void WriteBlockByRef(uint32_t Address, uint32_t Size, const void* Buffer) override;
    // Unlisted address: 8581 "Read page error - block address not found" and the address;
    // Buffer being the block: "Read page error - buffers equal"; null Buffer: "Unassigned memory
    // pointer"; more bytes than the block holds: "Read page error - size out of range".
    void ReadBlock(uint32_t Address, uint32_t Size, void* Buffer) override;
    // Buffer := the block. Unlisted address: 8581 "Read page error - block address not found".
    void ReadBlockByRef(uint32_t Address, uint32_t Size, uint8_t*& Buffer) override;
    // As WriteBlock / ReadBlock for the first Size bytes; unlisted address: nothing; null
    // Buffer: 8581 "Write header error - nil pointer" / "Read header error - nil pointer".
    void WriteBlockHeader(uint32_t Address, uint32_t Size, const void* Buffer) override;
    void ReadBlockHeader(uint32_t Address, uint32_t Size, void* Buffer) override;
    // List := every handle in allocation order.
    void ListBlocks(std::vector<uint32_t>& List) override;
    bool CheckPageValid(uint32_t Address) override { return Listed(Address); }
    // 0: the first block (0 when none); a listed block: the next one (0 after the last); an
    // unlisted address: 0.
    uint32_t GetNextMemoryBlockAddress(uint32_t Address) override;
    bool CheckBlockAddressValid(uint32_t Address) override { return Listed(Address); }
    bool CheckLinkAddress(uint32_t Address) override { return Listed(Address); }
    // Every block carries a stamp drawn from one process-wide counter, renewed by every transfer
    // that may change it (writes, headers, a pointer lent by ReadBlockByRef) and by a new
    // allocation of its handle: a stamp never names two contents of one address.
    void ReadBlockStamped(uint32_t Address, uint32_t Size, void* Buffer, uint64_t& Stamp) override;
    // The block itself (it stays where it is until released); unlisted address or too large a
    // size: nullptr, and the copy's read raises.
    const uint8_t* ReadBlockView(uint32_t Address, uint32_t Size, uint64_t& Stamp) override;
    void WriteBlockStamped(uint32_t Address, uint32_t Size, const void* Buffer, uint64_t& Stamp) override;
    // Only the range is copied.
    void WriteBlockPart(uint32_t Address, uint32_t BlockSize, uint32_t Offset, uint32_t Size, const void* Block,
                        uint64_t& Stamp) override;

    // The number of live blocks.
    uint32_t Count() const { return FCount; }

private:
    struct TMemBlock {
        std::unique_ptr<uint8_t[]> Data;  // null in a free slot
        uint32_t Size = 0;
        uint32_t Prev = 0;  // handles; 0 = none
        uint32_t Next = 0;
        uint64_t Stamp = 0;  // of the current content (see ReadBlockStamped)
    };

    bool Listed(uint32_t Address) const {
        return Address != 0 && Address <= FBlocks.size() && FBlocks[Address - 1].Data != nullptr;
    }
    // The block of a listed handle.
    TMemBlock& Block(uint32_t Address) { return FBlocks[Address - 1]; }
    // Writes the debug lines of a lookup failure to DebugStrings.
    void DebugNotFound(uint32_t Address);

    std::vector<TMemBlock> FBlocks;
    std::vector<uint32_t> FFreeSlots;  // released handles, last released on top
    uint32_t FHead = 0;
    uint32_t FTail = 0;
    uint32_t FCount = 0;
};

// One blob value as a chain of blocks in a table's blob storage: insert, read, rewrite and
// delete, moving the bytes between host streams and the chain. One block buffer serves every
// block; a new chain is written from the stream's end backwards so that each block is written
// once, already carrying its successor's address.
class TBlobInterface : public TObject {
public:
    // Creates the temporary stream.
    TBlobInterface();
    // Close, then the stream goes.
    ~TBlobInterface() override;
    TBlobInterface(const TBlobInterface&) = delete;
    TBlobInterface& operator=(const TBlobInterface&) = delete;

    uint32_t BlobBlockSize() const { return FBlobBlockSize; }
    void SetBlobBlockSize(uint32_t Size) { FBlobBlockSize = Size; }
    // The blob storage; not owned.
    TBaseIOInterface* IOInterface() const { return FIOInterface; }
    void SetIOInterface(TBaseIOInterface* Value) { FIOInterface = Value; }
    TDataCompressionMode CompressionMode() const { return FCompressionMode; }
    void SetCompressionMode(TDataCompressionMode Mode) { FCompressionMode = Mode; }

    // No storage: 8581 "Unable to create blob interface - IOInterface is null"; block size 0:
    // 8581 "Unable to create blob interface - Block size is 0"; a block with no room for data
    // (8 bytes or less): 8581 "Unable to create blob interface - Block size is too small".
    // Allocates the block buffer.
    void Open();
    // Frees the block buffer, block size 0, forgets the storage.
    void Close();

    // Writes the whole stream as a new chain; its first address (0 for an empty stream).
    uint32_t InsertBlob(TStream& Stream);
    // Appends the chain's data to Stream at its position; the number of bytes (0 for Address
    // 0, Stream unchanged). A bad link, count or a repeated block: 8963.
    int64_t ReadBlob(uint32_t Address, TStream& Stream);
    // Rewrites the chain at Address with the whole stream, in place: the first block keeps its
    // address; the chain grows by a new tail or the surplus blocks are released. Returns the
    // chain's address: Address, or a new chain when Address is 0, or 0 (chain deleted) for an
    // empty stream. Size is not used. A bad link or a repeated block: 8963 (checked before the
    // block is written).
    uint32_t EditBlob(uint32_t Address, uint32_t Size, TStream& Stream);
    // Releases every block of the chain; the chain is walked and checked before the first
    // release (8963 for a bad link or a repeated block). Size is not used.
    void DeleteBlob(uint32_t Address, uint32_t Size);

    // Writes the last Size bytes of Stream as a new chain, from the end backwards; returns the
    // address of the block holding the first of them (0 for Size 0).
    uint32_t WriteNewBlocks(int64_t Size, TStream& Stream);
    // Compression hooks: they do not compress, whatever the mode says. The first does nothing,
    // the second rewinds the temporary stream.
    void CompressToTempStream(TStream& Stream) {}
    void DecompressFromTempStream(TStream& Stream);

private:
    // Block buffer and storage present, else 8576.
    void CheckOpen(const char* Caller) const;
    uint32_t DataSize() const { return FBlobBlockSize - CBlobBlockPrefix; }
    // A link read from stored data that is not 0 must pass the storage's check, else 8963.
    void CheckLink(uint32_t Address, const char* Caller);
    // Chain := the blocks of the chain at Address in chain order, checked (links, counts, no
    // repeated block; 8963) before anything is changed.
    void CollectChain(uint32_t Address, std::vector<uint32_t>& Chain, const char* Caller);

    uint32_t FBlobBlockSize = 0;
    TBaseIOInterface* FIOInterface = nullptr;
    std::vector<uint8_t> FBlockBuffer;
    std::unique_ptr<TMemoryStream> FTempStream;
    TDataCompressionMode FCompressionMode = dcNone;
};

}  // namespace ostra
