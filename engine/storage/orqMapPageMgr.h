// orqMapPageMgr: TMapPageMgr, the allocation map of a database file.
//
// The map holds one 16-bit entry for every page of the file, saying whether the page was never
// used, is free, or is owned and by what. Map pages form a chain through the file starting at
// page 5; the global header (orqGlobalHdr.h) holds the chain's start, its length and a hint to
// the first map page with free entries. The disk manager (orqDisk.h) calls this class under the
// header write lock for every allocation and release of pages, and does all its I/O: map pages
// are read and written whole, with table id 0 and access flags 0 (never encrypted, never in the
// page cache; inside a transaction through the block cache).
//
// Map page layout (PageSize bytes, integers little-endian):
//
//   Offset  Size              Item              Meaning
//   0       4                 MapPageID         position of this map page in the chain (0, 1, ...)
//   4       4                 NextMapPage       address of the next map page; 0 for the last
//   8       2                 FirstEmptyEntry   byte offset in this page of the first free-list
//                                               entry; 0 when the list is empty
//   10      10                reserved          zero
//   20      2 x EntriesPerPage entries          entry i describes page MapPageID x EntriesPerPage + i
//
// EntriesPerPage = (PageSize - 20) / 2 (2038 at 4096). Page number = address >> PageShift
// (PageShift = log2 PageSize). Entry values:
//   0             never used (beyond the end of the file, or appended but not yet marked)
//   bit 15 set    free; the low 15 bits are the byte offset of the next free entry, 0 for the last
//   otherwise     owned: owner word (table id << 4) | usage (CUsage... below)
//
// Invariants kept by this class:
//   - a page's free list visits free entries only, each once, in ascending offset order; every
//     entry freed through this class is on it (a run taken by FindEmptyPagesInMap leaves it and
//     keeps its free marks until the caller marks it owned);
//   - no map page before FirstMapPageEmpty (in chain order) has a free-list entry; the hint is 0
//     when no map page has one;
//   - the pages of the fixed area (0 to 5), the map pages themselves and pages never used are
//     never freed.
//
// Map-page chain cache: the addresses of the chain are kept in memory (the chain only grows, and
// a map page never moves), so reaching map page i costs one read, not i. The cache never holds
// more than MapPageCount addresses: SyncMapChain drops those beyond it whenever the header is
// read again (after a rollback, the pages a transaction appended are gone).
//
// Data read from the file is checked before it is followed: a chain link, a free-list link or a
// hint that cannot be right raises a data-corrupt engine error (8964 "BitMap is corrupt", 8961
// "Corrupt Header") instead of looping or reusing a page that is not free. Calls with an
// address outside the mapped range are caller faults and raise 8581.
//
// The map buffer holds the map page most recently read; every operation reads what it needs
// first, so nothing is assumed about the buffer between calls.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/Object.h"

namespace ostra {

class TDiskMgr;
class TGlobalHdr;
class TStrings;

// Map page layout.
inline constexpr int32_t CMapPageIDOffset = 0;
inline constexpr int32_t CMapNextPageOffset = 4;
inline constexpr int32_t CMapFirstEmptyOffset = 8;
inline constexpr int32_t CMapHeaderSize = 20;  // 4 + 4 + 2 + 10 reserved

// Entry values.
inline constexpr uint16_t CMapEntryFree = 0x8000;  // free mark; low 15 bits link the next free entry
inline constexpr uint16_t CMapLinkMask = 0x7FFF;

// Usage codes of the owner word (table id << 4) | usage.
inline constexpr uint16_t CUsageSystem = 1;    // fixed area and table headers
inline constexpr uint16_t CUsageMapPage = 2;   // allocation map pages
inline constexpr uint16_t CUsageIndex = 8;     // index pages
inline constexpr uint16_t CUsageRecord = 9;    // record blocks
inline constexpr uint16_t CUsageBlob = 10;     // blob blocks

// Pages 0 to 5 are the fixed area of every file (headers, table maps, first map page).
inline constexpr uint32_t CFixedAreaPages = 6;

// The allocation map of one open database file.
class TMapPageMgr : public TObject {
public:
    // A manager for PageSize (a power of two from 128 to 32768) with a zero-filled map buffer.
    explicit TMapPageMgr(int32_t PageSize);
    TMapPageMgr(const TMapPageMgr&) = delete;
    TMapPageMgr& operator=(const TMapPageMgr&) = delete;

    // The disk manager that does the I/O and the global header it keeps; neither is owned.
    void SetDiskMgr(TDiskMgr* DiskMgr) { FDiskMgr = DiskMgr; }
    void SetGlobalHdr(TGlobalHdr* Hdr) { FGlobalHdr = Hdr; }

    // The address of a run of Count free contiguous pages, already taken off its free list, or
    // 0 when no map page has one.
    uint32_t GetNextEmptyPageAddress(int32_t Count);
    // The same, with -1 for none: tries the hint page first, then the map pages after it.
    int64_t FindEmptyPages(int32_t Count);

    // Sets the entries of Count pages from Address to Flags, one SetMapEntryFlags per stretch
    // that lies in one map page.
    void AdjustMapPageFlags(uint16_t Flags, uint32_t Address, int32_t Count);
    // Sets the entries of Count pages from Address, all in one map page, to Flags: owned (bit 15
    // clear) or free (CMapEntryFree; the run joins the free list). Marking the first page beyond
    // the last map page's range owned appends a new map page first. Writes the map page and keeps
    // the hint. An address beyond the mapped range, or freeing a fixed, map or never-used page:
    // 8581 "Error in setting map flags - mapping corrupted".
    void SetMapEntryFlags(uint16_t Flags, uint32_t Address, int32_t Count);
    // Appends an empty map page at the end of the file and links it to the last one; returns its
    // address. The buffer is left as the new page. The caller counts it in MapPageCount and
    // marks its entry.
    uint32_t AddNewMapPage();

    // Frees every page of an owner (Exact: owner word (Owner << 4) | Usage; otherwise any usage
    // of table Owner) and lists their addresses in map order. The fixed area and map pages are
    // never freed. With MaxPages above 0 it stops after that many pages (a large table is then
    // freed by repeated calls, each in a transaction of bounded size).
    void DeleteOwnedPages(uint16_t Owner, uint16_t Usage, bool Exact, std::vector<uint32_t>& List,
                          uint32_t MaxPages = 0);
    // Lists, in map order, the addresses of the pages of an owner (matching as above).
    void ListPagesUsedByOwner(uint16_t Owner, uint16_t Usage, bool Exact, std::vector<uint32_t>& List);

    // Reads map page Index of the chain into the buffer and returns its address; a negative Index
    // returns FirstMapPage without reading. Index >= MapPageCount: 8581 "Map Page pageno invalid".
    uint32_t SearchMapsForMapPage(int64_t Index);
    // The first run of Count free pages in the map pages from StartIndex on (taken off its list,
    // page written back), or -1.
    int64_t SearchMapsForEmptyPages(int32_t Count, uint32_t StartIndex = 0);
    // The address of the first map page from StartIndex on with a free-list entry; 0 when none.
    uint32_t SearchMapsForFirstEmptyMapPage(uint32_t StartIndex = 0);
    // In the buffer: takes the first run of Count contiguous free entries off the free list and
    // returns the index of its first entry, or -1. The entries keep their free marks.
    int32_t FindEmptyPagesInMap(int32_t Count);
    // Rewrites the buffer's free list in ascending offset order.
    void OrderEmptySegments();
    // The MapPageID of the buffer.
    uint32_t CurrentMapPageID() const { return Get32(CMapPageIDOffset); }

    // Forgets cached chain addresses beyond MapPageCount (the header was read again).
    void SyncMapChain(uint32_t MapPageCount);

    // Debug aids. Per map page "Map Addr= %d ID= %d NextAddr= %d FirstE= %d" and a line of its
    // entries ("<i>:X 0", "<i>:E <next>", "<i>:U <owner>,<usage hex>", two blanks apart).
    void DebugDumpMapContents(TStrings* List);
    // Adds every entry with a value from 9 to 32767, in hex.
    void DebugCheckContents(TStrings* List);
    // "Map page count/file size out of sync" when MapPageCount is not the number of map pages the
    // file size needs; else "".
    std::string DebugCheckStatus();
    // 0 when the entry of the page at Address equals the owner word Owner, -2 when it is free,
    // otherwise Owner. A page beyond the mapped range: 8581 "Illegal map page address".
    int32_t DebugCheckAddressOwnerFlags(uint16_t Owner, uint32_t Address);

    int32_t EntriesPerPage() const { return FEntriesPerPage; }
    int32_t PageShift() const { return FPageShift; }
    int32_t PageSize() const { return FPageSize; }
    // The map buffer (the map page most recently read), for tests and debugging.
    const uint8_t* MapBuffer() const { return FMapBuffer.data(); }
    // The number of chain addresses cached.
    std::size_t CachedChainLength() const { return FChain.size(); }

private:
    uint16_t Get16(int32_t Offset) const;
    void Put16(int32_t Offset, uint16_t Value);
    uint32_t Get32(int32_t Offset) const;
    void Put32(int32_t Offset, uint32_t Value);
    static int32_t EntryOffset(uint32_t Index) { return CMapHeaderSize + 2 * int32_t(Index); }
    uint32_t MapPageCount() const;

    // Reads the map page at Address, which must be chain position Index.
    void ReadMapPage(uint32_t Address, uint32_t Index);
    // Writes the buffer back to the map page it was read from.
    void WriteMapPage();
    // Caches chain addresses until Count are known (Count <= MapPageCount).
    void EnsureChain(uint32_t Count);
    // The chain position of a map page address; -1 when it is no map page of the chain.
    int64_t ChainIndexOf(uint32_t Address);
    void AddToChain(uint32_t Address);
    // Tries the buffer's map page: a run taken, checked and written back gives its address.
    int64_t TakeRunFromBuffer(int32_t Count);

    // A free-list offset that can be right: an entry of this page.
    bool ValidListOffset(uint32_t Offset) const;
    // Marks the entries on the buffer's free list (checked: each once, free, a valid offset).
    void CollectFreeList(std::vector<bool>& Marks) const;
    // Writes the free list of the marked entries in ascending order.
    void WriteFreeList(const std::vector<bool>& Marks);
    // The address of entry Index of the buffer's map page.
    uint64_t EntryAddress(uint32_t Index) const;
    // True for pages that are never freed: the fixed area and the chain's map pages.
    bool IsReservedPage(uint64_t Address) const;
    static bool Matches(uint16_t Entry, uint16_t Owner, uint16_t Usage, bool Exact);

    [[noreturn]] void MapCorrupt(const char* Caller, const std::string& Text) const;
    [[noreturn]] void InternalError(const char* Caller, const std::string& Text) const;

    int32_t FEntriesPerPage;
    int32_t FPageShift;
    int32_t FPageSize;
    std::vector<uint8_t> FMapBuffer;
    uint32_t FBufferAddress = 0;  // the map page in the buffer; 0 when none
    TDiskMgr* FDiskMgr = nullptr;
    TGlobalHdr* FGlobalHdr = nullptr;
    std::vector<uint32_t> FChain;                        // chain position -> address
    std::unordered_map<uint32_t, uint32_t> FChainIndex;  // address -> chain position
};

}  // namespace ostra
