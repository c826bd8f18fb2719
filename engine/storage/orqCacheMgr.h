// orqCacheMgr: the page cache and the block cache that sit between the paged file (orqFile.h)
// and the disk, and that together hold the engine's transactions.
//
// TCacheMgr, the page cache, holds whole pages of table data: every transfer whose access flags
// have the cache bit (1). Its pages hold plain text; the paged file encrypts and decrypts in its
// page procedures. Outside a transaction it is a read cache with write-through; inside one it
// keeps every written page dirty in memory until commit.
//
// TCacheBlockMgr, the block cache, exists only during a transaction and holds the byte ranges
// of all other writes of that transaction (global header, map pages, table maps, the
// definition record, released pages) as raw file bytes. Its ranges never overlap: a write
// replaces whatever part of older ranges it covers, so the newest bytes always win, and a read
// takes the file's bytes where no range covers them.
//
// Both caches reach the file only through the procedures their owner gives them (SetReadIO,
// SetWriteIO), so that a test can drive them over a plain byte vector.
//
// Page states and the lists that hold them. A page is in exactly one list, by its state:
//   cpEmpty  holds nothing valid; not in the hash; in the empty list (taken first on a miss).
//   cpClean  equals the file (or, inside a transaction, the file as the transaction sees it);
//            in the hash under (UpperAddress, LowerAddress); in the LRU list, least recently
//            used first. Clean pages may be evicted at any time, also inside a transaction,
//            because the file does not change before commit.
//   cpDirty  changed in a transaction, not yet written; in the hash; in the dirty list. Never
//            evicted: when no empty or clean page is left, the cache grows by one page, and the
//            grown size stays until Close.
// So a lookup is one hash probe and a victim is the head of a list: O(1) per page transfer.
//
// Read-ahead. Outside a transaction, a miss on the page that follows the last pages loaded, or
// on a page less than the last run's length past it (a walk that skips cached pages or pages it
// does not need), is a sequential read (a walk over records stored one after the other): it loads
// the pages after it that are not cached along with it, in one transfer of the run read
// procedure, twice as many as the last time up to CMaxReadAhead. Any other miss loads its page
// alone. A page read ahead is
// read as a page of the table that missed; if it belongs to another, that table finds it under
// the wrong owner and reads it again; the same table reading it under other access flags (an
// encryption the guess did not match) reads it again too.
//
// Kept pages. A reader may ask for a page to be kept (ReadCacheByRef with Keep): the B+-tree
// pages of the indexes, which every key search passes through, while a record page serves one
// record. Clean kept pages have an LRU list of their own, and a victim comes from the other clean
// pages as long as those hold more than an eighth of the cache (CKeptShare), so that key searches
// over an index that fits the cache read only the record page from the file, whatever order the
// records are read in. A kept page not used during the last CKeptTurns x Count() accesses is a
// victim first: an index no longer searched does not hold the cache.
//
// Parked pages. When the last user of a table lets it go (ParkOwnedPages), its clean pages stay
// cached, so that the table opened again finds them (its owner decides whether they are still
// the file's: orqTableHeader.h), but they leave the LRU and kept lists for a list of their own
// whose head is the first victim of all: the pages of tables in use never make room for them.
// They lose their kept mark; a parked page used again returns to the clean list.
//
// Transaction states of both caches: no transaction (nothing dirty) -> StartTransaction ->
// active -> Commit (dirty items written, clean) or Rollback (dirty items dropped) -> none.
// A failed write during Commit leaves the items not yet written dirty and the transaction on.
//
// One thread at a time per cache; the caches know nothing of other processes.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "host/Object.h"

namespace ostra {

class TStrings;

// The state of a cached page or block.
enum TCachePageState : uint8_t { cpEmpty, cpClean, cpDirty };
// Names of the states in debug dumps.
inline constexpr const char* CCachePageStateNames[] = {"Empty", "Clean", "Dirty"};

// Page procedures: transfer exactly PageSize bytes at (HighPosition, Position). Failures raise.
using TPageReadProc =
    std::function<void(uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position, uint32_t HighPosition)>;
using TPageWriteProc = std::function<void(const uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags,
                                          uint32_t Position, uint32_t HighPosition)>;
// Writes Count pages, adjacent in address order (the first at the lowest address), with one
// transfer. Failures raise.
class TCachePage;
using TPageRunWriteProc = std::function<void(TCachePage* const* Pages, int Count)>;
// Reads Count pages, adjacent in address order (the first at the lowest address), with one
// transfer, each as plain text for TableID and AccessFlags; returns how many of them, from the
// first on, the file holds whole (at least 1: a first page it cannot read raises as the page read
// procedure does).
using TPageRunReadProc =
    std::function<int(TCachePage* const* Pages, int Count, uint32_t TableID, uint32_t AccessFlags)>;
// Re-encodes a page's plain text that was read under one table id and access flags as the plain
// text the same stored bytes give under another: decode(New, encode(Old, Buffer)), in place.
using TPageRecodeProc = std::function<void(uint8_t* Buffer, uint32_t OldTableID, uint32_t OldAccessFlags,
                                           uint32_t NewTableID, uint32_t NewAccessFlags)>;
// Block procedures: transfer Size bytes at (HighPosition, Position). Failures raise.
using TBlockReadProc = std::function<void(uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                                          uint32_t HighPosition, uint32_t Size)>;
using TBlockWriteProc = std::function<void(const uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags,
                                           uint32_t Position, uint32_t HighPosition, uint32_t Size)>;

// One page of the page cache: a buffer of PageSize bytes and where it came from.
class TCachePage {
public:
    explicit TCachePage(int32_t Index) : FIndex(Index) {}

    // Allocates the zero-filled buffer. PageSize 0: 8581 "Page size = 0".
    void Open();
    // Opens the page on Slice, PageSize zero bytes that the caller owns and keeps while the page
    // is open.
    void OpenOn(uint8_t* Slice);
    // Frees the buffer (or lets go of the slice).
    void Close();
    bool IsOpen() const { return FData != nullptr; }
    // Open page: 8581 "Cannot set page size on opened cache page".
    void SetPageSize(uint32_t Value);
    // The buffer; a page that is not open: 8581 "Object not initialized".
    uint8_t* Buffer();

    int32_t Index() const { return FIndex; }            // position in the cache's collection
    uint32_t LowerAddress() const { return FLowerAddress; }  // file address of the page
    uint32_t UpperAddress() const { return FUpperAddress; }  // high word of the key; 0 in this engine
    uint32_t PageOwner() const { return FPageOwner; }      // table id of the last transfer
    uint32_t PageSize() const { return FPageSize; }
    uint32_t LRUFlag() const { return FLRUFlag; }          // the cache's use counter at the last access
    TCachePageState State() const { return FState; }
    uint32_t AccessFlags() const { return FAccessFlags; }  // of the last transfer; used at commit
    // Names the page's content: a new value, never given before in this process, whenever the
    // content may have changed (loaded, written, recoded); 0 while the page holds nothing.
    uint64_t Stamp() const { return FStamp; }

private:
    friend class TCacheMgr;
    struct TFree {
        void operator()(uint8_t* P) const { std::free(P); }
    };
    std::unique_ptr<uint8_t[], TFree> FOwned;  // the buffer, when the page allocated it
    uint8_t* FData = nullptr;                   // the buffer: FOwned, or a slice of the cache's
    int32_t FIndex;
    uint32_t FLowerAddress = 0;
    uint32_t FUpperAddress = 0;
    uint32_t FPageOwner = 0;
    uint32_t FPageSize = 0;
    uint32_t FLRUFlag = 0;
    TCachePageState FState = cpEmpty;
    uint32_t FAccessFlags = 0;
    bool FHashed = false;
    bool FKept = false;  // a kept page (in the kept list while clean)
    bool FParked = false; // a clean page of a table nobody uses (in the parked list)
    bool FAhead = false; // read ahead and not used since: its access flags were a guess
    uint64_t FStamp = 0;
    TCachePage* FPrev = nullptr;  // links in the list of the page's state
    TCachePage* FNext = nullptr;
};

// The page cache's lookup from a page key (HighPosition << 32 | page address) to its page: one
// flat array probed linearly (no allocation per entry, one cache line per lookup), kept at most
// half full; a removal shifts the entries behind it back, so no tombstones build up.
class TCachePageTable {
public:
    // The page under Key, or nullptr.
    TCachePage* Find(uint64_t Key) const {
        if (FSlots.empty()) return nullptr;
        for (std::size_t i = Home(Key);; i = (i + 1) & FMask) {
            const TSlot& slot = FSlots[i];
            if (slot.Page == nullptr) return nullptr;
            if (slot.Key == Key) return slot.Page;
        }
    }
    // Page under Key (replacing what was there).
    void Put(uint64_t Key, TCachePage* Page);
    // Nothing under Key any more.
    void Erase(uint64_t Key);
    void Clear();
    // Room for Count pages without growing.
    void Reserve(std::size_t Count);

private:
    struct TSlot {
        uint64_t Key = 0;
        TCachePage* Page = nullptr;  // nullptr = free
    };
    std::size_t Home(uint64_t Key) const { return std::size_t((Key * 0x9E3779B97F4A7C15u) >> FShift); }
    void Rehash(std::size_t Capacity);

    std::vector<TSlot> FSlots;  // a power of two in size, or empty
    std::size_t FMask = 0;
    unsigned FShift = 64;
    std::size_t FCount = 0;
};

// The page cache: pages keyed by (HighPosition, page address), O(1) lookup and LRU eviction.
//
// Invariants: a page is hashed exactly when its state is cpClean or cpDirty, under its own
// addresses; each page is in the list of its state; outside a transaction no page is dirty.
// A pointer handed out by ReadCacheByRef stays valid until the next call of this cache.
class TCacheMgr : public TObject {
public:
    TCacheMgr() = default;
    ~TCacheMgr() override;
    TCacheMgr(const TCacheMgr&) = delete;
    TCacheMgr& operator=(const TCacheMgr&) = delete;

    // The page procedures; read and write must be set before Open.
    void SetReadIO(TPageReadProc Proc) { FReadIO = std::move(Proc); }
    void SetWriteIO(TPageWriteProc Proc) { FWriteIO = std::move(Proc); }
    // Optional: how Commit writes a run of adjacent dirty pages at once (at most CMaxWriteRun
    // pages). Unset, every page goes through the write procedure on its own.
    void SetWriteRunIO(TPageRunWriteProc Proc) { FWriteRunIO = std::move(Proc); }
    static constexpr int CMaxWriteRun = 64;
    // Optional: how sequential misses read ahead (see the file comment). Unset, every page is
    // loaded on its own.
    void SetReadRunIO(TPageRunReadProc Proc) { FReadRunIO = std::move(Proc); }
    static constexpr int CMaxReadAhead = 16;
    // Optional: how a dirty page is re-read under another table id. Unset, its plain text stays.
    void SetRecodeIO(TPageRecodeProc Proc) { FRecodeIO = std::move(Proc); }

    // Adds PageCount empty pages of PageSize bytes (a power of two). No read procedure: 10065
    // "ReadIO"; no write procedure: 10065 "WriteIO"; page size 0: 8581 "Page size = 0".
    void Open(int32_t PageCount, int32_t PageSize);
    // Frees every page, written or not; no transaction afterwards.
    void Close();
    bool IsOpen() const { return FOpen; }

    // Copies Size bytes of [Position, Position + Size) from the cached pages (loading missing
    // ones through the read procedure) to Buffer; returns Size (0 for a Size below 1). When
    // Stamp is given: the stamp of the page read when the range lies in one page, else 0.
    int32_t ReadCache(void* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                      uint32_t HighPosition, int32_t Size, uint64_t* Stamp = nullptr);
    // Copies Size bytes from Buffer into the pages covering the range (a partial page not cached
    // is loaded first). No transaction: each page is written at once; transaction: dirty. When
    // Stamp is given: the new stamp of the page written when the range lies in one page, else 0.
    int32_t WriteCache(const void* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                       uint32_t HighPosition, int32_t Size, uint64_t* Stamp = nullptr);
    // Buffer := the address of byte Position in its cached page; the range must lie within one
    // page (assertion "ReadCacheByRef failed"). Returns Size. When Stamp is given: the page's.
    // Keep: the page is a kept page from now on (see the file comment) until it leaves the cache.
    int32_t ReadCacheByRef(uint32_t TableID, uint32_t AccessFlags, uint32_t Position, uint32_t HighPosition,
                           int32_t Size, uint8_t*& Buffer, uint64_t* Stamp = nullptr, bool Keep = false);
    // The page at Position, cached for TableID and changed in place, counts as written. Size must
    // be PageSize ("WriteCacheByRef - error in write size"); the page must be cached and valid
    // ("WriteCacheByRef - page not found"). Buffer is not read. Returns Size.
    int32_t WriteCacheByRef(const void* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                            uint32_t HighPosition, int32_t Size);

    void StartTransaction() { FTransactionActive = true; }
    // Writes every dirty page (in address order; runs of adjacent pages through the run
    // procedure when set) and makes it clean. No transaction: 10257.
    void Commit();
    // Every dirty page becomes empty; clean pages stay. No transaction: 10257.
    void Rollback();
    bool TransactionActive() const { return FTransactionActive; }

    // Every clean page owned by TableID becomes empty (read again on next use). Dirty pages
    // keep this transaction's changes.
    void ClearOwnedPages(uint32_t TableID);
    // Every clean page owned by TableID is parked (see the file comment): cached still, but the
    // first to make room, in the order parked. Dirty pages stay as they are.
    void ParkOwnedPages(uint32_t TableID);
    // Forgets the page at that address, whatever its state: empty, owner 0, addresses 0.
    void RemovePage(uint32_t Position, uint32_t HighPosition);
    // Every clean page becomes empty; dirty pages keep this transaction's changes.
    void ClearCache();

    // The page's content was changed in place outside the transfers above: it gets a new stamp.
    void PageChanged(TCachePage& Page) { Restamp(&Page); }

    // The index of the cached page with that address, or -1. A hash entry whose page has other
    // addresses fails the assertion "Cache hash incorrect %d %d".
    int32_t FindPage(uint32_t Position, uint32_t HighPosition);
    // A page to load into, out of the hash: an empty page, else the least recently used clean
    // page, else a new page.
    TCachePage* GetNextEmptyPage();
    // Appends a new empty page to the collection: on Slice (PageSize zero bytes of the cache's
    // own) when given, else on the next slice of a growth allocation (pages added one after the
    // other lie one after the other in memory).
    TCachePage* AddPage(uint8_t* Slice = nullptr);
    uint32_t GetBaseAddress(uint32_t Address) const { return Address & FPageMask; }
    // True when the page holding Address is cached.
    bool IsBaseAddrInCache(uint32_t Address);
    // Pages x PageSize.
    int64_t TotalCacheSize() const { return int64_t(FPages.size()) * FPageSize; }
    // Removes pages that are not dirty from the end down to index Count, or adds pages up to Count.
    void ResetPageCount(int32_t Count);
    // Writes the counters and one line per page to the log.
    void DumpState();

    void SetHits(int32_t Value) { FHits = Value; }
    void SetMisses(int32_t Value) { FMisses = Value; }
    // Receives trace lines when set; not owned.
    void SetLog(TStrings* Log) { FLog = Log; }

    int32_t Hits() const { return FHits; }
    int32_t Misses() const { return FMisses; }
    int32_t PageCount() const { return FPageCount; }  // the size asked for at Open
    int32_t Count() const { return int32_t(FPages.size()); }
    int32_t PageSize() const { return FPageSize; }
    int32_t DirtyCount() const { return FDirty.Count; }
    // Pages that hold data (clean, kept, parked or dirty).
    int32_t CachedCount() const { return FClean.Count + FKept.Count + FParked.Count + FDirty.Count; }
    // Clean pages parked (see the file comment).
    int32_t ParkedCount() const { return FParked.Count; }
    // Clean pages kept (see the file comment).
    int32_t KeptCount() const { return FKept.Count; }
    // The other clean pages are victims before kept ones while they hold more than
    // Count() / CKeptShare pages; a kept page unused for CKeptTurns x Count() accesses is no
    // longer protected.
    static constexpr int32_t CKeptShare = 8;
    static constexpr uint32_t CKeptTurns = 4;
    TCachePage& Items(int32_t Index) { return *FPages.at(std::size_t(Index)); }
    // The dirty pages in address order: what Commit will write.
    std::vector<TCachePage*> DirtyPages() const;

private:
    struct TPageList {
        TCachePage* Head = nullptr;
        TCachePage* Tail = nullptr;
        int32_t Count = 0;
    };

    static uint64_t KeyOf(uint32_t Position, uint32_t HighPosition) {
        return (uint64_t(HighPosition) << 32) | Position;
    }
    // The list a page of its state belongs in (clean pages: parked, kept or neither).
    TPageList& ListOf(const TCachePage* Page);
    void Unlink(TCachePage* Page);
    void LinkTail(TCachePage* Page);
    // Moves the page into the list of State (as most recently used when clean).
    void SetPageState(TCachePage* Page, TCachePageState State);
    // Hashes the page under its addresses.
    void HashPage(TCachePage* Page, uint32_t Position, uint32_t HighPosition);
    // Takes the page out of the hash, empty, owner and addresses 0.
    void ForgetPage(TCachePage* Page);
    // Records an access: LRUFlag := use counter, counter + 1, most recently used.
    void Touch(TCachePage* Page);
    // A zeroed allocation for Pages page buffers, kept until Close.
    uint8_t* NewSlab(int32_t Pages);
    // The page's content is new: a stamp of its own.
    static void Restamp(TCachePage* Page);
    // The page for Base valid for TableID: cached, recoded, or loaded (when Load) into a free page.
    TCachePage* LocatePage(uint32_t TableID, uint32_t AccessFlags, uint32_t Base, uint32_t HighPosition, bool Load);
    // Loads Page (fresh from GetNextEmptyPage) for Base and, in the same transfer, up to Window - 1
    // following pages that are not cached; returns the number of pages loaded.
    int LoadRun(TCachePage* Page, uint32_t TableID, uint32_t AccessFlags, uint32_t Base, uint32_t HighPosition,
                int Window);
    void CheckRange(uint32_t Position, uint32_t HighPosition, int32_t Size) const;
    // Visit(Base, Offset, Count) for each page piece of [Position, Position + Size) in address
    // order: the page's address, the piece's offset in it and its byte count (defined in the .cpp).
    template <class F>
    void ForEachPagePiece(uint32_t Position, int32_t Size, F&& Visit) const;
    // The cached page with that address, or nullptr; the check of FindPage.
    TCachePage* LookUp(uint32_t Position, uint32_t HighPosition) const;
    // A trace line to the log when one is set (build a composed line only when FLog is set).
    void Log(const char* Text);
    void Log(const std::string& Text);

    // The page buffers, in zeroed allocations whose memory the system gives only as pages are
    // used (a large cache costs what it holds, not its size): one for the pages Open adds, and
    // growth allocations of CGrowthPages pages for pages added later.
    static constexpr int32_t CGrowthPages = 64;
    std::vector<std::unique_ptr<uint8_t[], TCachePage::TFree>> FSlabs;
    uint8_t* FGrowthNext = nullptr;  // the next unused slice of the last growth allocation
    int32_t FGrowthLeft = 0;         // slices left there
    std::vector<std::unique_ptr<TCachePage>> FPages;  // the collection; Index() = position
    TCachePageTable FHash;
    TPageList FEmpty, FClean, FKept, FParked, FDirty;
    int32_t FPageCount = 0;
    int32_t FPageSize = 0;
    uint32_t FPageMask = 0;
    uint32_t FUseCounter = 0;
    bool FTransactionActive = false;
    bool FOpen = false;
    TStrings* FLog = nullptr;
    int32_t FMisses = 0;
    int32_t FHits = 0;
    TPageReadProc FReadIO;
    TPageWriteProc FWriteIO;
    TPageRunWriteProc FWriteRunIO;
    TPageRunReadProc FReadRunIO;
    TPageRecodeProc FRecodeIO;
    uint64_t FNextSequential = ~uint64_t(0);  // the page key after the last pages loaded
    int FReadWindow = 1;                      // pages the last load took
};

// One byte range held by the block cache: raw file bytes at (HighAddress, LowAddress).
class TCacheBlock {
public:
    TCacheBlock(uint32_t LowAddress, uint32_t HighAddress, uint32_t Owner, uint32_t AccessFlags, uint32_t Size)
        : FBuffer(Size), FLowAddress(LowAddress), FHighAddress(HighAddress), FBlockOwner(Owner),
          FAccessFlags(AccessFlags) {}

    uint8_t* Buffer() { return FBuffer.data(); }
    uint32_t LowAddress() const { return FLowAddress; }
    uint32_t HighAddress() const { return FHighAddress; }
    uint32_t BlockOwner() const { return FBlockOwner; }
    uint32_t BlockSize() const { return uint32_t(FBuffer.size()); }
    TCachePageState State() const { return FState; }
    uint32_t AccessFlags() const { return FAccessFlags; }

private:
    friend class TCacheBlockMgr;
    std::vector<uint8_t> FBuffer;
    uint32_t FLowAddress;
    uint32_t FHighAddress;
    uint32_t FBlockOwner;
    uint32_t FAccessFlags;
    TCachePageState FState = cpEmpty;
};

// The block cache: the byte ranges a transaction writes outside the page cache.
//
// Invariant: the blocks do not overlap; they are kept in address order. A write of exactly a
// cached block's range updates that block; any other write first cuts the parts of older blocks
// it covers away, so no stale byte is ever written at commit.
class TCacheBlockMgr : public TObject {
public:
    TCacheBlockMgr() = default;
    TCacheBlockMgr(const TCacheBlockMgr&) = delete;
    TCacheBlockMgr& operator=(const TCacheBlockMgr&) = delete;

    // The block procedures; both must be set before Open.
    void SetReadIO(TBlockReadProc Proc) { FReadIO = std::move(Proc); }
    void SetWriteIO(TBlockWriteProc Proc) { FWriteIO = std::move(Proc); }

    // No read procedure: 10065 "ReadIO"; no write procedure: 10065 "WriteIO"; hits, misses := 0.
    void Open();
    // Drops every block, written or not.
    void Close() { FBlocks.clear(); }
    // Open, then transaction active.
    void StartTransaction();
    // Writes every dirty block (in address order), then drops all blocks. No transaction: 10257.
    void Commit();
    // Drops all blocks. No transaction: 10257.
    void Rollback();
    bool TransactionActive() const { return FTransactionActive; }

    // Copies [Position, Position + Size) to Buffer: cached bytes from the blocks, the rest through
    // the read procedure (the block cache does not keep what it reads). Returns Size.
    int32_t ReadBlock(void* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                      uint32_t HighPosition, int32_t Size);
    // Holds Size bytes of Buffer for [Position, Position + Size) as a dirty block. Returns Size.
    int32_t WriteBlock(const void* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                       uint32_t HighPosition, int32_t Size);
    // Cuts [Position, Position + Size) out of the cached blocks (another cache holds newer bytes).
    void DiscardRange(uint32_t Position, uint32_t HighPosition, uint64_t Size);

    // The block that starts at that address, or nullptr.
    TCacheBlock* FindBlock(uint32_t Position, uint32_t HighPosition);
    // True when a block starts at Address.
    bool IsBaseAddrInCache(uint32_t Address) { return FindBlock(Address, 0) != nullptr; }
    // The blocks in address order.
    std::vector<TCacheBlock*> Blocks() const;
    int32_t Count() const { return int32_t(FBlocks.size()); }
    // Writes one line per block to the log.
    void DumpState();

    void SetHits(int32_t Value) { FHits = Value; }
    void SetMisses(int32_t Value) { FMisses = Value; }
    void SetLog(TStrings* Log) { FLog = Log; }
    int32_t Hits() const { return FHits; }
    int32_t Misses() const { return FMisses; }

private:
    static uint64_t KeyOf(uint32_t Position, uint32_t HighPosition) {
        return (uint64_t(HighPosition) << 32) | Position;
    }
    // The first block that ends after Key.
    std::map<uint64_t, std::unique_ptr<TCacheBlock>>::iterator FirstEndingAfter(uint64_t Key);
    // A trace line to the log when one is set (build a composed line only when FLog is set).
    void Log(const char* Text);
    void Log(const std::string& Text);

    std::map<uint64_t, std::unique_ptr<TCacheBlock>> FBlocks;  // keyed by (High, Low) address
    bool FTransactionActive = false;
    TStrings* FLog = nullptr;
    int32_t FMisses = 0;
    int32_t FHits = 0;
    TBlockReadProc FReadIO;
    TBlockWriteProc FWriteIO;
};

}  // namespace ostra
