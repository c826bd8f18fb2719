// orqMapPageMgr: the allocation map's algorithms (layout and invariants in orqMapPageMgr.h).
// All I/O goes through the disk manager; every value read from a map page is checked before it
// is followed.
#include "engine/storage/orqMapPageMgr.h"

#include <algorithm>
#include <bit>

#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqGlobalHdr.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {
namespace {

constexpr int CCodeInternal = 8581;    // caller faults: addresses outside the mapped range
constexpr int CCodeMapCorrupt = 8964;  // "BitMap is corrupt (Internal error)"
constexpr int CCodeHdrCorrupt = 8961;  // "Corrupt Header"

constexpr char CMapCorruptedText[] = "Error in setting map flags - mapping corrupted";
constexpr char CEmptySegmentText[] = "Empty segment found is invalid";
constexpr char CMapAddressText[] = "Map Page address invalid";
constexpr char CIllegalMapAddressText[] = "Illegal map page address";

constexpr uint64_t CAddressSpace = uint64_t(1) << 32;

}  // namespace

TMapPageMgr::TMapPageMgr(int32_t PageSize)
    : FEntriesPerPage((PageSize - CMapHeaderSize) / 2),
      // The number of significant bits of PageSize / 2: log2 PageSize for a power of two.
      FPageShift(int32_t(std::bit_width(uint32_t(PageSize) / 2))),
      FPageSize(PageSize),
      FMapBuffer(std::size_t(PageSize), 0) {
    if (PageSize < 128 || PageSize > 32768 || !std::has_single_bit(uint32_t(PageSize)))
        InternalError("TMapPageMgr.Create", "Invalid database page size");
}

// ---------------------------------------------------------------------------------------------
// Buffer access

uint16_t TMapPageMgr::Get16(int32_t Offset) const {
    return uint16_t(FMapBuffer[std::size_t(Offset)] | FMapBuffer[std::size_t(Offset) + 1] << 8);
}

void TMapPageMgr::Put16(int32_t Offset, uint16_t Value) {
    FMapBuffer[std::size_t(Offset)] = uint8_t(Value);
    FMapBuffer[std::size_t(Offset) + 1] = uint8_t(Value >> 8);
}

uint32_t TMapPageMgr::Get32(int32_t Offset) const {
    const uint8_t* p = FMapBuffer.data() + Offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void TMapPageMgr::Put32(int32_t Offset, uint32_t Value) {
    uint8_t* p = FMapBuffer.data() + Offset;
    p[0] = uint8_t(Value);
    p[1] = uint8_t(Value >> 8);
    p[2] = uint8_t(Value >> 16);
    p[3] = uint8_t(Value >> 24);
}

uint32_t TMapPageMgr::MapPageCount() const { return FGlobalHdr->MapPageCount(); }

uint64_t TMapPageMgr::EntryAddress(uint32_t Index) const {
    return (uint64_t(CurrentMapPageID()) * uint64_t(FEntriesPerPage) + Index) << FPageShift;
}

bool TMapPageMgr::Matches(uint16_t Entry, uint16_t Owner, uint16_t Usage, bool Exact) {
    if (Exact) return Entry == uint16_t((Owner << 4) | Usage);
    return Entry != 0 && !(Entry & CMapEntryFree) && (Entry >> 4) == Owner;
}

void TMapPageMgr::MapCorrupt(const char* Caller, const std::string& Text) const {
    OrqDatabaseError(CCodeMapCorrupt, Caller, Text, const_cast<TMapPageMgr*>(this));
}

void TMapPageMgr::InternalError(const char* Caller, const std::string& Text) const {
    OrqDatabaseError(CCodeInternal, Caller, Text, const_cast<TMapPageMgr*>(this));
}

// ---------------------------------------------------------------------------------------------
// The chain of map pages

void TMapPageMgr::SyncMapChain(uint32_t Count) {
    if (!FChain.empty() && FGlobalHdr && FChain.front() != FGlobalHdr->FirstMapPage()) Count = 0;
    while (FChain.size() > Count) {
        FChainIndex.erase(FChain.back());
        FChain.pop_back();
    }
}

void TMapPageMgr::AddToChain(uint32_t Address) {
    FChainIndex.emplace(Address, uint32_t(FChain.size()));
    FChain.push_back(Address);
}

void TMapPageMgr::ReadMapPage(uint32_t Address, uint32_t Index) {
    FBufferAddress = 0;
    FDiskMgr->ReadPages(Address, 1, 0, 0, FMapBuffer.data());
    if (CurrentMapPageID() != Index) MapCorrupt("TMapPageMgr.SearchMapsForMapPage", CMapAddressText);
    FBufferAddress = Address;
}

void TMapPageMgr::WriteMapPage() {
    Assert(FBufferAddress != 0, "TMapPageMgr: no map page in the buffer");
    FDiskMgr->WritePages(FBufferAddress, 1, 0, 0, FMapBuffer.data());
}

void TMapPageMgr::EnsureChain(uint32_t Count) {
    if (FChain.empty()) AddToChain(FGlobalHdr->FirstMapPage());
    if (FChain.size() >= Count) return;
    const uint64_t fileSize = FDiskMgr->GetFileSize();
    while (FChain.size() < Count) {
        const uint32_t index = uint32_t(FChain.size());
        ReadMapPage(FChain.back(), index - 1);
        const uint32_t next = Get32(CMapNextPageOffset);
        // A link must name a page after the fixed area, inside the file, not yet in the chain.
        if (next == 0 || next % uint32_t(FPageSize) != 0 || (next >> FPageShift) < CFixedAreaPages ||
            uint64_t(next) + uint32_t(FPageSize) > fileSize || FChainIndex.count(next))
            MapCorrupt("TMapPageMgr.SearchMapsForMapPage", CMapAddressText);
        AddToChain(next);
    }
}

int64_t TMapPageMgr::ChainIndexOf(uint32_t Address) {
    auto it = FChainIndex.find(Address);
    if (it == FChainIndex.end()) {
        EnsureChain(MapPageCount());
        it = FChainIndex.find(Address);
        if (it == FChainIndex.end()) return -1;
    }
    return it->second < MapPageCount() ? int64_t(it->second) : -1;
}

bool TMapPageMgr::IsReservedPage(uint64_t Address) const {
    return (Address >> FPageShift) < CFixedAreaPages || FChainIndex.count(uint32_t(Address)) != 0;
}

uint32_t TMapPageMgr::SearchMapsForMapPage(int64_t Index) {
    const uint32_t count = MapPageCount();
    if (Index >= int64_t(count)) InternalError("TMapPageMgr.SearchMapsForMapPage", "Map Page pageno invalid");
    if (Index < 0) return FGlobalHdr->FirstMapPage();
    EnsureChain(uint32_t(Index) + 1);
    const uint32_t address = FChain[std::size_t(Index)];
    ReadMapPage(address, uint32_t(Index));
    return address;
}

uint32_t TMapPageMgr::AddNewMapPage() {
    const uint32_t count = MapPageCount();
    EnsureChain(count);
    std::fill(FMapBuffer.begin(), FMapBuffer.end(), 0);
    Put32(CMapPageIDOffset, count);
    FBufferAddress = 0;
    const uint32_t address = FDiskMgr->AppendNewPages(FMapBuffer.data(), 1, 0, 0);
    // Link it behind the last map page of the chain.
    SearchMapsForMapPage(int64_t(count) - 1);
    Put32(CMapNextPageOffset, address);
    WriteMapPage();
    AddToChain(address);
    std::fill(FMapBuffer.begin(), FMapBuffer.end(), 0);
    Put32(CMapPageIDOffset, count);
    FBufferAddress = address;
    return address;
}

// ---------------------------------------------------------------------------------------------
// Free lists

bool TMapPageMgr::ValidListOffset(uint32_t Offset) const {
    return Offset >= uint32_t(CMapHeaderSize) && Offset <= uint32_t(FPageSize) - 2 &&
           (Offset - CMapHeaderSize) % 2 == 0;
}

void TMapPageMgr::CollectFreeList(std::vector<bool>& Marks) const {
    Marks.assign(std::size_t(FEntriesPerPage), false);
    uint32_t offset = Get16(CMapFirstEmptyOffset);
    while (offset != 0) {
        if (!ValidListOffset(offset)) MapCorrupt("TMapPageMgr.OrderEmptySegments", CEmptySegmentText);
        const std::size_t index = (offset - CMapHeaderSize) / 2;
        const uint16_t entry = Get16(int32_t(offset));
        if (Marks[index] || !(entry & CMapEntryFree)) MapCorrupt("TMapPageMgr.OrderEmptySegments", CEmptySegmentText);
        Marks[index] = true;
        offset = entry & CMapLinkMask;
    }
}

void TMapPageMgr::WriteFreeList(const std::vector<bool>& Marks) {
    int32_t previous = CMapFirstEmptyOffset;  // where the link to the next entry goes
    for (std::size_t i = 0; i < Marks.size(); ++i) {
        if (!Marks[i]) continue;
        const int32_t offset = EntryOffset(uint32_t(i));
        Put16(previous, previous == CMapFirstEmptyOffset ? uint16_t(offset) : uint16_t(CMapEntryFree | offset));
        previous = offset;
    }
    Put16(previous, previous == CMapFirstEmptyOffset ? uint16_t(0) : CMapEntryFree);
}

void TMapPageMgr::OrderEmptySegments() {
    std::vector<bool> marks;
    CollectFreeList(marks);
    WriteFreeList(marks);
}

int32_t TMapPageMgr::FindEmptyPagesInMap(int32_t Count) {
    static constexpr const char* Caller = "TMapPageMgr.FindEmptyPagesInMap";
    if (Count < 1) InternalError(Caller, "Invalid page count");
    const uint32_t first = Get16(CMapFirstEmptyOffset);
    if (first == 0) return -1;
    if (!ValidListOffset(first) || !(Get16(int32_t(first)) & CMapEntryFree)) MapCorrupt(Caller, CEmptySegmentText);

    uint32_t runStart = first;  // first entry of the current run
    uint32_t beforeRun = 0;     // the list entry before the run; 0 when the run starts the list
    int32_t runLength = 1;
    uint32_t current = first;
    // A list visits each entry once, so more steps than entries mean a cycle.
    int32_t steps = 0;
    while (runLength < Count) {
        const uint32_t next = Get16(int32_t(current)) & CMapLinkMask;
        if (next == 0) return -1;
        if (!ValidListOffset(next) || !(Get16(int32_t(next)) & CMapEntryFree) || ++steps > FEntriesPerPage)
            MapCorrupt(Caller, CEmptySegmentText);
        if (next == current + 2) {
            ++runLength;
        } else {
            beforeRun = current;
            runStart = next;
            runLength = 1;
        }
        current = next;
    }
    // Unlink the run: whatever followed its last entry takes its place in the list.
    const uint32_t link = Get16(int32_t(current)) & CMapLinkMask;
    if (link != 0 && !ValidListOffset(link)) MapCorrupt(Caller, CEmptySegmentText);
    if (beforeRun == 0)
        Put16(CMapFirstEmptyOffset, uint16_t(link));
    else
        Put16(int32_t(beforeRun), uint16_t(CMapEntryFree | link));
    return int32_t((runStart - CMapHeaderSize) / 2);
}

// ---------------------------------------------------------------------------------------------
// Finding free runs

int64_t TMapPageMgr::TakeRunFromBuffer(int32_t Count) {
    const int32_t index = FindEmptyPagesInMap(Count);
    if (index < 0) return -1;
    const uint64_t address = EntryAddress(uint32_t(index));
    // The run must be pages of the file that can be handed out: not the fixed area, not a map
    // page, not beyond the end.
    const uint64_t end = address + (uint64_t(Count) << FPageShift);
    if (end > FDiskMgr->GetFileSize()) MapCorrupt("TMapPageMgr.FindEmptyPages", CEmptySegmentText);
    for (uint64_t page = address; page < end; page += uint32_t(FPageSize))
        if (IsReservedPage(page)) MapCorrupt("TMapPageMgr.FindEmptyPages", CEmptySegmentText);
    WriteMapPage();
    return int64_t(address);
}

int64_t TMapPageMgr::FindEmptyPages(int32_t Count) {
    const uint32_t hint = FGlobalHdr->FirstMapPageEmpty();
    if (hint == 0) return -1;
    const int64_t index = ChainIndexOf(hint);
    if (index < 0)
        OrqDatabaseError(CCodeHdrCorrupt, "TMapPageMgr.FindEmptyPages", "FirstMapPageEmpty is not a map page", this);
    SearchMapsForMapPage(index);
    const int64_t address = TakeRunFromBuffer(Count);
    if (address >= 0) return address;
    // No map page before the hint has free entries: search on after it.
    return SearchMapsForEmptyPages(Count, uint32_t(index) + 1);
}

uint32_t TMapPageMgr::GetNextEmptyPageAddress(int32_t Count) {
    const int64_t address = FindEmptyPages(Count);
    return address < 0 ? 0 : uint32_t(address);
}

int64_t TMapPageMgr::SearchMapsForEmptyPages(int32_t Count, uint32_t StartIndex) {
    const uint32_t count = MapPageCount();
    for (uint32_t index = StartIndex; index < count; ++index) {
        SearchMapsForMapPage(index);
        const int64_t address = TakeRunFromBuffer(Count);
        if (address >= 0) return address;
    }
    return -1;
}

uint32_t TMapPageMgr::SearchMapsForFirstEmptyMapPage(uint32_t StartIndex) {
    const uint32_t count = MapPageCount();
    for (uint32_t index = StartIndex; index < count; ++index) {
        const uint32_t address = SearchMapsForMapPage(index);
        if (Get16(CMapFirstEmptyOffset) != 0) return address;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Marking pages

void TMapPageMgr::AdjustMapPageFlags(uint16_t Flags, uint32_t Address, int32_t Count) {
    if (Count < 2) {
        if (Count == 1) SetMapEntryFlags(Flags, Address, 1);
        return;
    }
    uint64_t address = Address;
    int64_t left = Count;
    while (left > 0) {
        if (address >= CAddressSpace) InternalError("TMapPageMgr.AdjustMapPageFlags", CMapCorruptedText);
        const uint64_t page = address >> FPageShift;
        const int64_t inThisMap = FEntriesPerPage - int64_t(page % uint64_t(FEntriesPerPage));
        const int32_t stretch = int32_t(std::min(left, inThisMap));
        SetMapEntryFlags(Flags, uint32_t(address), stretch);
        address += uint64_t(stretch) << FPageShift;
        left -= stretch;
    }
}

void TMapPageMgr::SetMapEntryFlags(uint16_t Flags, uint32_t Address, int32_t Count) {
    static constexpr const char* Caller = "TMapPageMgr.SetMapEntryFlags";
    if (Count < 1 || Address % uint32_t(FPageSize) != 0) InternalError(Caller, CMapCorruptedText);
    const uint32_t page = Address >> FPageShift;
    const uint32_t mapIndex = page / uint32_t(FEntriesPerPage);
    const uint32_t first = page % uint32_t(FEntriesPerPage);
    if (int64_t(first) + Count > FEntriesPerPage) InternalError(Caller, CMapCorruptedText);
    const bool owned = !(Flags & CMapEntryFree);
    const uint32_t count = MapPageCount();
    if ((owned && mapIndex > count) || (!owned && mapIndex >= count)) InternalError(Caller, CMapCorruptedText);

    uint32_t addedMapPage = 0;
    if (mapIndex == count) {
        // The pages lie just beyond the last map page's range: that range needs its map page.
        addedMapPage = AddNewMapPage();
        FGlobalHdr->SetMapPageCount(count + 1);
    } else {
        SearchMapsForMapPage(mapIndex);
    }

    if (owned) {
        // The pages came off a free list (FindEmptyPagesInMap) or from the end of the file.
        for (int32_t i = 0; i < Count; ++i) Put16(EntryOffset(first + uint32_t(i)), Flags);
    } else {
        // Only pages that were handed out can come back: never a fixed or map page, nor a page that
        // was never used (it may lie beyond the end of the file).
        for (int32_t i = 0; i < Count; ++i)
            if (IsReservedPage(EntryAddress(first + uint32_t(i))) || Get16(EntryOffset(first + uint32_t(i))) == 0)
                InternalError(Caller, CMapCorruptedText);
        std::vector<bool> marks;
        CollectFreeList(marks);
        for (int32_t i = 0; i < Count; ++i) marks[first + uint32_t(i)] = true;
        WriteFreeList(marks);
    }
    WriteMapPage();

    // Keep the hint: the first map page with free entries.
    const uint32_t here = FBufferAddress;
    const uint32_t hint = FGlobalHdr->FirstMapPageEmpty();
    if (Get16(CMapFirstEmptyOffset) == 0) {
        // Pages before the hint have no free entries, so only the pages after this one can.
        if (hint == here) FGlobalHdr->SetFirstMapPageEmpty(SearchMapsForFirstEmptyMapPage(mapIndex + 1));
    } else if (hint != here) {
        const int64_t hintIndex = hint == 0 ? -1 : ChainIndexOf(hint);
        if (hint != 0 && hintIndex < 0)
            OrqDatabaseError(CCodeHdrCorrupt, Caller, "FirstMapPageEmpty is not a map page", this);
        if (hint == 0 || hintIndex > int64_t(mapIndex)) FGlobalHdr->SetFirstMapPageEmpty(here);
    }

    if (addedMapPage != 0) SetMapEntryFlags(CUsageMapPage, addedMapPage, 1);
}

// ---------------------------------------------------------------------------------------------
// Owners

void TMapPageMgr::DeleteOwnedPages(uint16_t Owner, uint16_t Usage, bool Exact, std::vector<uint32_t>& List,
                                   uint32_t MaxPages) {
    List.clear();
    const uint32_t count = MapPageCount();
    uint32_t firstWithFree = 0;
    std::vector<bool> marks;
    const auto full = [&] { return MaxPages > 0 && List.size() >= MaxPages; };
    for (uint32_t index = 0; index < count && !full(); ++index) {
        const uint32_t address = SearchMapsForMapPage(index);
        bool changed = false;
        for (uint32_t i = 0; i < uint32_t(FEntriesPerPage) && !full(); ++i) {
            if (!Matches(Get16(EntryOffset(i)), Owner, Usage, Exact)) continue;
            const uint64_t pageAddress = EntryAddress(i);
            if (IsReservedPage(pageAddress)) continue;
            if (!changed) CollectFreeList(marks);
            changed = true;
            marks[i] = true;
            List.push_back(uint32_t(pageAddress));
        }
        if (changed) {
            WriteFreeList(marks);
            WriteMapPage();
        }
        if (firstWithFree == 0 && Get16(CMapFirstEmptyOffset) != 0) firstWithFree = address;
    }
    if (firstWithFree != 0) FGlobalHdr->SetFirstMapPageEmpty(firstWithFree);
}

void TMapPageMgr::ListPagesUsedByOwner(uint16_t Owner, uint16_t Usage, bool Exact, std::vector<uint32_t>& List) {
    List.clear();
    const uint32_t count = MapPageCount();
    for (uint32_t index = 0; index < count; ++index) {
        SearchMapsForMapPage(index);
        for (uint32_t i = 0; i < uint32_t(FEntriesPerPage); ++i)
            if (Matches(Get16(EntryOffset(i)), Owner, Usage, Exact)) List.push_back(uint32_t(EntryAddress(i)));
    }
}

// ---------------------------------------------------------------------------------------------
// Debug aids

void TMapPageMgr::DebugDumpMapContents(TStrings* List) {
    if (!List) return;
    const uint32_t count = MapPageCount();
    for (uint32_t index = 0; index < count; ++index) {
        const uint32_t address = SearchMapsForMapPage(index);
        List->Add(Format("Map Addr= %d ID= %d NextAddr= %d FirstE= %d",
                         {address, CurrentMapPageID(), Get32(CMapNextPageOffset), unsigned(Get16(CMapFirstEmptyOffset))}));
        std::string line;
        for (uint32_t i = 0; i < uint32_t(FEntriesPerPage); ++i) {
            const uint16_t entry = Get16(EntryOffset(i));
            if (i > 0) line += "  ";
            if (entry == 0)
                line += Format("%d:X 0", {i});
            else if (entry & CMapEntryFree)
                line += Format("%d:E %d", {i, unsigned(entry & CMapLinkMask)});
            else
                line += Format("%d:U %d,%x", {i, unsigned(entry >> 4), unsigned(entry & 0xF)});
        }
        List->Add(line);
    }
}

void TMapPageMgr::DebugCheckContents(TStrings* List) {
    if (!List) return;
    const uint32_t count = MapPageCount();
    for (uint32_t index = 0; index < count; ++index) {
        SearchMapsForMapPage(index);
        for (uint32_t i = 0; i < uint32_t(FEntriesPerPage); ++i) {
            const uint16_t entry = Get16(EntryOffset(i));
            if (entry >= 9 && entry <= 32767) List->Add(IntToHex(entry, 4));
        }
    }
}

std::string TMapPageMgr::DebugCheckStatus() {
    const uint64_t pages = FDiskMgr->GetFileSize() / uint32_t(FPageSize);
    const uint64_t needed = pages / uint32_t(FEntriesPerPage) + (pages % uint32_t(FEntriesPerPage) ? 1 : 0);
    return needed != MapPageCount() ? "Map page count/file size out of sync" : "";
}

int32_t TMapPageMgr::DebugCheckAddressOwnerFlags(uint16_t Owner, uint32_t Address) {
    const uint32_t page = Address >> FPageShift;
    const uint32_t mapIndex = page / uint32_t(FEntriesPerPage);
    if (mapIndex >= MapPageCount()) InternalError("TMapPageMgr.DebugCheckAddressOwnerFlags", CIllegalMapAddressText);
    SearchMapsForMapPage(mapIndex);
    const uint16_t entry = Get16(EntryOffset(page % uint32_t(FEntriesPerPage)));
    if (entry == Owner) return 0;
    if (entry & CMapEntryFree) return -2;
    return Owner;
}

}  // namespace ostra
