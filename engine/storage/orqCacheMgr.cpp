// orqCacheMgr: the page cache (hash + state lists) and the block cache (ordered, non-overlapping
// byte ranges). See orqCacheMgr.h for the states and invariants.
#include "engine/storage/orqCacheMgr.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <new>
#include <string>

#include "engine/storage/orqErrors.h"
#include "host/Exceptions.h"
#include "host/StringList.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// TCachePage

void TCachePage::Open() {
    if (FPageSize == 0) OrqDatabaseError(8581, "TCachePage.Open", "Page size = 0", nullptr);
    if (FData) return;
    FOwned.reset(static_cast<uint8_t*>(std::calloc(FPageSize, 1)));
    if (!FOwned) throw std::bad_alloc();
    FData = FOwned.get();
}

void TCachePage::OpenOn(uint8_t* Slice) {
    if (FPageSize == 0) OrqDatabaseError(8581, "TCachePage.Open", "Page size = 0", nullptr);
    FOwned.reset();
    FData = Slice;
}

void TCachePage::Close() {
    FOwned.reset();
    FData = nullptr;
}

void TCachePage::SetPageSize(uint32_t Value) {
    if (FData) OrqDatabaseError(8581, "TCachePage.SetPageSize", "Cannot set page size on opened cache page", nullptr);
    FPageSize = Value;
}

uint8_t* TCachePage::Buffer() {
    if (!FData) OrqDatabaseError(8581, "TCachePage.Buffer", "Object not initialized", nullptr);
    return FData;
}

// ---------------------------------------------------------------------------------------------
// TCachePageTable

void TCachePageTable::Rehash(std::size_t Capacity) {
    std::vector<TSlot> old;
    old.swap(FSlots);
    FSlots.assign(Capacity, TSlot{});
    FMask = Capacity - 1;
    FShift = unsigned(64 - std::countr_zero(Capacity));
    FCount = 0;
    for (const TSlot& slot : old)
        if (slot.Page) Put(slot.Key, slot.Page);
}

void TCachePageTable::Reserve(std::size_t Count) {
    const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(Count * 2, 16));
    if (capacity > FSlots.size()) Rehash(capacity);
}

void TCachePageTable::Put(uint64_t Key, TCachePage* Page) {
    if ((FCount + 1) * 2 > FSlots.size()) Rehash(std::max<std::size_t>(FSlots.size() * 2, 16));
    for (std::size_t i = Home(Key);; i = (i + 1) & FMask) {
        TSlot& slot = FSlots[i];
        if (slot.Page == nullptr) {
            slot = {Key, Page};
            ++FCount;
            return;
        }
        if (slot.Key == Key) {
            slot.Page = Page;
            return;
        }
    }
}

void TCachePageTable::Erase(uint64_t Key) {
    if (FSlots.empty()) return;
    std::size_t i = Home(Key);
    for (;; i = (i + 1) & FMask) {
        if (FSlots[i].Page == nullptr) return;
        if (FSlots[i].Key == Key) break;
    }
    // Shift back every entry of the run after i whose home does not lie between the hole and it.
    for (std::size_t j = (i + 1) & FMask;; j = (j + 1) & FMask) {
        if (FSlots[j].Page == nullptr) break;
        const std::size_t home = Home(FSlots[j].Key);
        const bool movable = i <= j ? (home <= i || home > j) : (home <= i && home > j);
        if (movable) {
            FSlots[i] = FSlots[j];
            i = j;
        }
    }
    FSlots[i] = TSlot{};
    --FCount;
}

void TCachePageTable::Clear() {
    std::fill(FSlots.begin(), FSlots.end(), TSlot{});
    FCount = 0;
}

// ---------------------------------------------------------------------------------------------
// TCacheMgr: lists and hash

TCacheMgr::~TCacheMgr() { Close(); }

TCacheMgr::TPageList& TCacheMgr::ListOf(const TCachePage* Page) {
    switch (Page->FState) {
        case cpClean: return Page->FParked ? FParked : Page->FKept ? FKept : FClean;
        case cpDirty: return FDirty;
        default: return FEmpty;
    }
}

void TCacheMgr::Unlink(TCachePage* Page) {
    TPageList& list = ListOf(Page);
    (Page->FPrev ? Page->FPrev->FNext : list.Head) = Page->FNext;
    (Page->FNext ? Page->FNext->FPrev : list.Tail) = Page->FPrev;
    Page->FPrev = Page->FNext = nullptr;
    --list.Count;
}

void TCacheMgr::LinkTail(TCachePage* Page) {
    TPageList& list = ListOf(Page);
    Page->FPrev = list.Tail;
    Page->FNext = nullptr;
    (list.Tail ? list.Tail->FNext : list.Head) = Page;
    list.Tail = Page;
    ++list.Count;
}

void TCacheMgr::SetPageState(TCachePage* Page, TCachePageState State) {
    Unlink(Page);
    Page->FState = State;
    if (State != cpClean) Page->FParked = false;  // only clean pages are parked
    LinkTail(Page);
}

void TCacheMgr::HashPage(TCachePage* Page, uint32_t Position, uint32_t HighPosition) {
    if (Page->FHashed) {
        if (Page->FLowerAddress == Position && Page->FUpperAddress == HighPosition) return;
        FHash.Erase(KeyOf(Page->FLowerAddress, Page->FUpperAddress));
    }
    Page->FLowerAddress = Position;
    Page->FUpperAddress = HighPosition;
    FHash.Put(KeyOf(Position, HighPosition), Page);
    Page->FHashed = true;
}

void TCacheMgr::ForgetPage(TCachePage* Page) {
    if (Page->FHashed) FHash.Erase(KeyOf(Page->FLowerAddress, Page->FUpperAddress));
    Page->FHashed = false;
    Page->FStamp = 0;
    Page->FPageOwner = 0;
    Page->FLowerAddress = 0;
    Page->FUpperAddress = 0;
    if (Page->FState != cpEmpty) SetPageState(Page, cpEmpty);
    Page->FKept = false;
    Page->FParked = false;
    Page->FAhead = false;
}

void TCacheMgr::Touch(TCachePage* Page) {
    Page->FLRUFlag = FUseCounter++;
    if (Page->FParked) {
        // Its table is in use again: back among the clean pages, as the most recently used.
        Unlink(Page);
        Page->FParked = false;
        LinkTail(Page);
    } else if (Page->FState == cpClean && Page != ListOf(Page).Tail) {
        Unlink(Page);
        LinkTail(Page);
    }
}

void TCacheMgr::Restamp(TCachePage* Page) {
    // One counter for the process: a stamp never names two contents, whatever the cache.
    static std::atomic<uint64_t> LastStamp{0};
    Page->FStamp = LastStamp.fetch_add(1, std::memory_order_relaxed) + 1;
}

void TCacheMgr::Log(const char* Text) {
    if (FLog) FLog->Add(Text);
}

void TCacheMgr::Log(const std::string& Text) {
    if (FLog) FLog->Add(Text);
}

// ---------------------------------------------------------------------------------------------
// TCacheMgr: life cycle

void TCacheMgr::Open(int32_t PageCount, int32_t PageSize) {
    FUseCounter = 0;
    FPageCount = PageCount;
    FPageSize = PageSize;
    if (!FReadIO) OrqDatabaseError(10065, "TCacheMgr.Open", "ReadIO", this);
    if (!FWriteIO) OrqDatabaseError(10065, "TCacheMgr.Open", "WriteIO", this);
    if (PageSize <= 0) OrqDatabaseError(8581, "TCacheMgr.Open", "Page size = 0", this);
    // Addresses are masked to find their page, so the size must be a power of two.
    if ((PageSize & (PageSize - 1)) != 0)
        OrqDatabaseError(8581, "TCacheMgr.Open", "Page size is not a power of two", this);
    FPageMask = ~uint32_t(PageSize - 1);
    FHash.Reserve(std::size_t(std::max(PageCount, 16)));
    uint8_t* slab = PageCount > 0 ? NewSlab(PageCount) : nullptr;
    for (int32_t i = 0; i < PageCount; ++i) AddPage(slab + std::size_t(i) * std::size_t(PageSize));
    FHits = 0;
    FMisses = 0;
    FOpen = true;
}

void TCacheMgr::Close() {
    FHash.Clear();
    FPages.clear();
    FSlabs.clear();
    FGrowthNext = nullptr;
    FGrowthLeft = 0;
    FEmpty = FClean = FKept = FParked = FDirty = TPageList{};
    FTransactionActive = false;
    FOpen = false;
}

TCachePage* TCacheMgr::AddPage(uint8_t* Slice) {
    auto page = std::make_unique<TCachePage>(int32_t(FPages.size()));
    page->SetPageSize(uint32_t(FPageSize));
    if (!Slice) {
        if (FGrowthLeft == 0) {
            FGrowthNext = NewSlab(CGrowthPages);
            FGrowthLeft = CGrowthPages;
        }
        Slice = FGrowthNext;
        FGrowthNext += FPageSize;
        --FGrowthLeft;
    }
    page->OpenOn(Slice);
    TCachePage* result = page.get();
    FPages.push_back(std::move(page));
    LinkTail(result);  // cpEmpty
    Log("Add cache page");
    return result;
}

uint8_t* TCacheMgr::NewSlab(int32_t Pages) {
    // A large zeroed allocation comes straight from the system, untouched until used.
    auto* slab = static_cast<uint8_t*>(std::calloc(std::size_t(Pages), std::size_t(FPageSize)));
    if (!slab) throw std::bad_alloc();
    FSlabs.emplace_back(slab);
    return slab;
}

TCachePage* TCacheMgr::GetNextEmptyPage() {
    if (TCachePage* page = FEmpty.Head) {
        if (FLog) Log("GetNextEmptyPage. EmptyPage: " + std::to_string(page->FIndex));
        return page;
    }
    // A parked page first: its table is not in use.
    if (TCachePage* parked = FParked.Head) {
        if (FLog) Log("GetNextEmptyPage. Replacing ParkedPage: " + std::to_string(parked->FIndex));
        ForgetPage(parked);
        return parked;
    }
    // The least recently used clean page; inside a transaction too, since a clean page equals
    // what the file holds for this transaction and can be read again at any time. Kept pages
    // go last unless the other clean pages are down to their share or the oldest kept page has
    // not been used for a long time.
    TCachePage* page = FClean.Head;
    if (TCachePage* kept = FKept.Head) {
        const uint32_t idle = FUseCounter - kept->FLRUFlag;
        if (!page || FClean.Count <= Count() / CKeptShare || idle > CKeptTurns * uint32_t(Count())) page = kept;
    }
    if (page) {
        if (FLog) Log("GetNextEmptyPage. Replacing OldestPage: " + std::to_string(page->FIndex));
        ForgetPage(page);
        return page;
    }
    Log("GetNextEmptyPage. Adding new page");
    return AddPage();
}

void TCacheMgr::ResetPageCount(int32_t Count) {
    Count = std::max(Count, 0);
    for (int32_t i = int32_t(FPages.size()) - 1; i >= Count; --i) {
        TCachePage* page = FPages[std::size_t(i)].get();
        if (page->FState == cpDirty) continue;
        ForgetPage(page);
        Unlink(page);
        FPages.erase(FPages.begin() + i);
    }
    for (std::size_t i = 0; i < FPages.size(); ++i) FPages[i]->FIndex = int32_t(i);
    while (int32_t(FPages.size()) < Count) AddPage();
    FPageCount = Count;
}

// ---------------------------------------------------------------------------------------------
// TCacheMgr: lookup and transfers

TCachePage* TCacheMgr::LookUp(uint32_t Position, uint32_t HighPosition) const {
    TCachePage* page = FHash.Find(KeyOf(Position, HighPosition));
    if (!page) return nullptr;
    Assert(page->FLowerAddress == Position && page->FUpperAddress == HighPosition, [&] {
        return "Cache hash incorrect " + std::to_string(Position) + " " + std::to_string(HighPosition);
    });
    return page;
}

int32_t TCacheMgr::FindPage(uint32_t Position, uint32_t HighPosition) {
    const TCachePage* page = LookUp(Position, HighPosition);
    return page ? page->FIndex : -1;
}

bool TCacheMgr::IsBaseAddrInCache(uint32_t Address) { return FindPage(GetBaseAddress(Address), 0) >= 0; }

void TCacheMgr::CheckRange(uint32_t Position, uint32_t HighPosition, int32_t Size) const {
    (void)HighPosition;
    Assert(FOpen, "Cache not open");
    // The walk over the pages keeps to one 4 GiB address space.
    Assert(uint64_t(Position) + uint64_t(Size) <= (uint64_t(1) << 32), "Cache transfer beyond the address range");
}

TCachePage* TCacheMgr::LocatePage(uint32_t TableID, uint32_t AccessFlags, uint32_t Base, uint32_t HighPosition,
                                  bool Load) {
    TCachePage* page = LookUp(Base, HighPosition);
    bool fresh = false;
    if (page) {
        if (page->FPageOwner == TableID && !(page->FAhead && page->FAccessFlags != AccessFlags)) {
            ++FHits;
            page->FAhead = false;
            return page;
        }
        if (page->FState == cpDirty) {
            // The page holds this transaction's bytes, which the file does not have yet: reading
            // the file again would lose them. The other table's view is derived from them.
            ++FMisses;
            if (FRecodeIO) FRecodeIO(page->Buffer(), page->FPageOwner, page->FAccessFlags, TableID, AccessFlags);
            Restamp(page);
            page->FPageOwner = TableID;
            page->FAccessFlags = AccessFlags;
            return page;
        }
        // A clean page of another table is read again into the same entry.
    } else {
        page = GetNextEmptyPage();
        fresh = true;
    }
    if (Load) {
        ++FMisses;
        const uint64_t key = KeyOf(Base, HighPosition);
        int window = 1;
        // A walk that skips a few pages (cached ones, or pages it does not need) is still
        // sequential: a miss less than the last run's length past its end continues it.
        if (fresh && FReadRunIO && !FTransactionActive && key >= FNextSequential &&
            key - FNextSequential < uint64_t(FReadWindow) * uint64_t(FPageSize))
            window = std::min(FReadWindow * 2, CMaxReadAhead);
        int loaded = 1;
        if (window > 1) {
            loaded = LoadRun(page, TableID, AccessFlags, Base, HighPosition, window);
        } else {
            try {
                FReadIO(page->Buffer(), TableID, AccessFlags, Base, HighPosition);
            } catch (...) {
                ForgetPage(page);
                throw;
            }
            Restamp(page);
        }
        FReadWindow = window;
        FNextSequential = key + uint64_t(loaded) * uint64_t(FPageSize);
    } else {
        ++FHits;  // a whole-page write needs nothing from the file
    }
    page->FAhead = false;
    page->FPageOwner = TableID;
    page->FAccessFlags = AccessFlags;
    HashPage(page, Base, HighPosition);
    if (page->FState == cpEmpty) SetPageState(page, cpClean);
    return page;
}

int TCacheMgr::LoadRun(TCachePage* Page, uint32_t TableID, uint32_t AccessFlags, uint32_t Base, uint32_t HighPosition,
                       int Window) {
    // The pages of the run are hashed and clean (at the young end of the LRU list) while they are
    // gathered, so that no victim taken for the next one is one of them.
    TCachePage* pages[CMaxReadAhead];
    int count = 0;
    auto take = [&](TCachePage* P, uint32_t Address) {
        HashPage(P, Address, HighPosition);
        P->FPageOwner = TableID;
        P->FAccessFlags = AccessFlags;
        if (P->FState == cpEmpty) SetPageState(P, cpClean);
        pages[count++] = P;
    };
    take(Page, Base);
    while (count < Window) {
        const uint64_t next = uint64_t(Base) + uint64_t(count) * uint64_t(FPageSize);
        if (next >= (uint64_t(1) << 32) || LookUp(uint32_t(next), HighPosition)) break;
        // A victim must not be a page of this run: those are the youngest clean pages.
        if (FEmpty.Count == 0 && FParked.Count == 0 && FClean.Count <= count) break;
        take(GetNextEmptyPage(), uint32_t(next));
    }
    int loaded = 0;
    try {
        loaded = std::clamp(FReadRunIO(pages, count, TableID, AccessFlags), 1, count);
    } catch (...) {
        for (int i = 0; i < count; ++i) ForgetPage(pages[i]);
        throw;
    }
    for (int i = loaded; i < count; ++i) ForgetPage(pages[i]);
    for (int i = 0; i < loaded; ++i) {
        Restamp(pages[i]);
        pages[i]->FAhead = i > 0;
    }
    return loaded;
}

template <class F>
void TCacheMgr::ForEachPagePiece(uint32_t Position, int32_t Size, F&& Visit) const {
    uint32_t base = Position & FPageMask;
    uint32_t offset = Position - base;
    uint32_t left = uint32_t(Size);
    while (left > 0) {
        const uint32_t n = std::min(uint32_t(FPageSize) - offset, left);
        Visit(base, offset, n);
        left -= n;
        offset = 0;
        base += uint32_t(FPageSize);
    }
}

int32_t TCacheMgr::ReadCache(void* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                             uint32_t HighPosition, int32_t Size, uint64_t* Stamp) {
    if (Stamp) *Stamp = 0;
    if (Size < 1) return 0;
    CheckRange(Position, HighPosition, Size);
    auto* out = static_cast<uint8_t*>(Buffer);
    ForEachPagePiece(Position, Size, [&](uint32_t base, uint32_t offset, uint32_t n) {
        TCachePage* page = LocatePage(TableID, AccessFlags, base, HighPosition, true);
        std::memcpy(out, page->Buffer() + offset, n);
        Touch(page);
        if (Stamp) *Stamp = n == uint32_t(Size) ? page->FStamp : 0;
        out += n;
    });
    return Size;
}

int32_t TCacheMgr::WriteCache(const void* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                              uint32_t HighPosition, int32_t Size, uint64_t* Stamp) {
    if (Stamp) *Stamp = 0;
    if (Size < 1) return 0;
    CheckRange(Position, HighPosition, Size);
    const auto* in = static_cast<const uint8_t*>(Buffer);
    ForEachPagePiece(Position, Size, [&](uint32_t base, uint32_t offset, uint32_t n) {
        bool whole = n == uint32_t(FPageSize);
        TCachePage* page = LocatePage(TableID, AccessFlags, base, HighPosition, !whole);
        std::memcpy(page->Buffer() + offset, in, n);
        Restamp(page);
        page->FAccessFlags = AccessFlags;
        if (FTransactionActive) {
            if (page->FState != cpDirty) SetPageState(page, cpDirty);
        } else {
            try {
                FWriteIO(page->Buffer(), TableID, AccessFlags, base, HighPosition);
            } catch (...) {
                ForgetPage(page);  // its bytes may not be what the file holds
                throw;
            }
        }
        Touch(page);
        if (Stamp) *Stamp = n == uint32_t(Size) ? page->FStamp : 0;
        in += n;
    });
    return Size;
}

int32_t TCacheMgr::ReadCacheByRef(uint32_t TableID, uint32_t AccessFlags, uint32_t Position, uint32_t HighPosition,
                                  int32_t Size, uint8_t*& Buffer, uint64_t* Stamp, bool Keep) {
    uint32_t base = GetBaseAddress(Position);
    Assert(Size >= 0 && uint64_t(Position - base) + uint64_t(Size) <= uint64_t(FPageSize), "ReadCacheByRef failed");
    CheckRange(Position, HighPosition, Size);
    TCachePage* page = LocatePage(TableID, AccessFlags, base, HighPosition, true);
    Buffer = page->Buffer() + (Position - base);
    if (Keep && !page->FKept) {
        Unlink(page);
        page->FKept = true;
        LinkTail(page);
    }
    Touch(page);
    if (Stamp) *Stamp = page->FStamp;
    return Size;
}

int32_t TCacheMgr::WriteCacheByRef(const void* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                                   uint32_t HighPosition, int32_t Size) {
    (void)Buffer;  // the page buffer already holds the data
    Assert(Size == FPageSize, "WriteCacheByRef - error in write size");
    uint32_t base = GetBaseAddress(Position);
    TCachePage* page = LookUp(base, HighPosition);
    Assert(page && page->FPageOwner == TableID, "WriteCacheByRef - page not found");
    ++FHits;
    Restamp(page);
    page->FAccessFlags = AccessFlags;
    if (FTransactionActive) {
        if (page->FState != cpDirty) SetPageState(page, cpDirty);
    } else {
        try {
            FWriteIO(page->Buffer(), TableID, AccessFlags, base, HighPosition);
        } catch (...) {
            ForgetPage(page);
            throw;
        }
    }
    Touch(page);
    return Size;
}

// ---------------------------------------------------------------------------------------------
// TCacheMgr: transactions and clearing

std::vector<TCachePage*> TCacheMgr::DirtyPages() const {
    std::vector<TCachePage*> pages;
    pages.reserve(std::size_t(FDirty.Count));
    for (TCachePage* page = FDirty.Head; page; page = page->FNext) pages.push_back(page);
    std::sort(pages.begin(), pages.end(), [](const TCachePage* a, const TCachePage* b) {
        return KeyOf(a->FLowerAddress, a->FUpperAddress) < KeyOf(b->FLowerAddress, b->FUpperAddress);
    });
    return pages;
}

void TCacheMgr::Commit() {
    if (!FTransactionActive) OrqDatabaseError(10257, "TCacheMgr.Commit", "", this);
    const std::vector<TCachePage*> pages = DirtyPages();
    for (std::size_t i = 0; i < pages.size();) {
        // The run of pages adjacent to pages[i] that go out with it.
        std::size_t n = 1;
        if (FWriteRunIO)
            while (i + n < pages.size() && n < std::size_t(CMaxWriteRun) &&
                   pages[i + n]->FUpperAddress == pages[i]->FUpperAddress &&
                   uint64_t(pages[i + n]->FLowerAddress) == uint64_t(pages[i + n - 1]->FLowerAddress) + FPageSize)
                ++n;
        if (n == 1) {
            TCachePage* page = pages[i];
            FWriteIO(page->Buffer(), page->FPageOwner, page->FAccessFlags, page->FLowerAddress, page->FUpperAddress);
        } else {
            FWriteRunIO(&pages[i], int(n));
        }
        for (std::size_t k = i; k < i + n; ++k) SetPageState(pages[k], cpClean);
        i += n;
    }
    FTransactionActive = false;
}

void TCacheMgr::Rollback() {
    if (!FTransactionActive) OrqDatabaseError(10257, "TCacheMgr.Rollback", "", this);
    while (FDirty.Head) ForgetPage(FDirty.Head);
    FTransactionActive = false;
}

void TCacheMgr::ClearOwnedPages(uint32_t TableID) {
    for (TPageList* list : {&FClean, &FKept, &FParked})
        for (TCachePage* page = list->Head; page;) {
            TCachePage* next = page->FNext;
            if (page->FPageOwner == TableID) ForgetPage(page);
            page = next;
        }
}

void TCacheMgr::ParkOwnedPages(uint32_t TableID) {
    for (TPageList* list : {&FClean, &FKept})
        for (TCachePage* page = list->Head; page;) {
            TCachePage* next = page->FNext;
            if (page->FPageOwner == TableID) {
                Unlink(page);
                page->FKept = false;
                page->FParked = true;
                LinkTail(page);
            }
            page = next;
        }
}

void TCacheMgr::RemovePage(uint32_t Position, uint32_t HighPosition) {
    if (TCachePage* page = LookUp(Position, HighPosition)) ForgetPage(page);
}

void TCacheMgr::ClearCache() {
    while (FClean.Head) ForgetPage(FClean.Head);
    while (FKept.Head) ForgetPage(FKept.Head);
    while (FParked.Head) ForgetPage(FParked.Head);
}

void TCacheMgr::DumpState() {
    if (!FLog) return;
    Log("Cache pages " + std::to_string(FPages.size()) + "  Hits " + std::to_string(FHits) + "  Misses " +
        std::to_string(FMisses));
    for (const auto& page : FPages)
        Log("Page " + std::to_string(page->FIndex) + "  Addr " + std::to_string(page->FLowerAddress) + "  Owner " +
            std::to_string(page->FPageOwner) + "  State " + CCachePageStateNames[page->FState] + "  LRU " +
            std::to_string(page->FLRUFlag));
}

// ---------------------------------------------------------------------------------------------
// TCacheBlockMgr

void TCacheBlockMgr::Log(const char* Text) {
    if (FLog) FLog->Add(Text);
}

void TCacheBlockMgr::Log(const std::string& Text) {
    if (FLog) FLog->Add(Text);
}

void TCacheBlockMgr::Open() {
    if (!FReadIO) OrqDatabaseError(10065, "TCacheBlockMgr.Open", "ReadIO", this);
    if (!FWriteIO) OrqDatabaseError(10065, "TCacheBlockMgr.Open", "WriteIO", this);
    FHits = 0;
    FMisses = 0;
}

void TCacheBlockMgr::StartTransaction() {
    Open();
    FTransactionActive = true;
}

void TCacheBlockMgr::Commit() {
    if (!FTransactionActive) OrqDatabaseError(10257, "TCacheBlockMgr.Commit", "", this);
    for (auto& [key, block] : FBlocks) {
        if (block->FState != cpDirty) continue;
        FWriteIO(block->Buffer(), block->FBlockOwner, block->FAccessFlags, block->FLowAddress, block->FHighAddress,
                 block->BlockSize());
        block->FState = cpClean;
    }
    Close();
    FTransactionActive = false;
}

void TCacheBlockMgr::Rollback() {
    if (!FTransactionActive) OrqDatabaseError(10257, "TCacheBlockMgr.Rollback", "", this);
    Close();
    FTransactionActive = false;
}

std::map<uint64_t, std::unique_ptr<TCacheBlock>>::iterator TCacheBlockMgr::FirstEndingAfter(uint64_t Key) {
    auto it = FBlocks.upper_bound(Key);
    if (it != FBlocks.begin()) {
        auto prev = std::prev(it);
        if (prev->first + prev->second->BlockSize() > Key) return prev;
    }
    return it;
}

TCacheBlock* TCacheBlockMgr::FindBlock(uint32_t Position, uint32_t HighPosition) {
    auto it = FBlocks.find(KeyOf(Position, HighPosition));
    TCacheBlock* block = it == FBlocks.end() ? nullptr : it->second.get();
    if (FLog) Log("Find Block: " + (block ? std::to_string(Position) : std::string("-1")));
    return block;
}

std::vector<TCacheBlock*> TCacheBlockMgr::Blocks() const {
    std::vector<TCacheBlock*> blocks;
    blocks.reserve(FBlocks.size());
    for (const auto& [key, block] : FBlocks) blocks.push_back(block.get());
    return blocks;
}

int32_t TCacheBlockMgr::ReadBlock(void* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                                  uint32_t HighPosition, int32_t Size) {
    if (Size < 1) return 0;
    if (!FReadIO) OrqDatabaseError(10065, "TCacheBlockMgr.ReadBlock", "ReadIO", this);
    auto* out = static_cast<uint8_t*>(Buffer);
    const uint64_t start = KeyOf(Position, HighPosition);
    const uint64_t end = start + uint64_t(Size);
    uint64_t cursor = start;
    bool fromFile = false;
    auto readGap = [&](uint64_t from, uint64_t to) {
        FReadIO(out + (from - start), TableID, AccessFlags, uint32_t(from), uint32_t(from >> 32), uint32_t(to - from));
        fromFile = true;
    };
    for (auto it = FirstEndingAfter(start); it != FBlocks.end() && it->first < end; ++it) {
        const uint64_t blockStart = it->first;
        const uint64_t blockEnd = blockStart + it->second->BlockSize();
        if (blockStart > cursor) readGap(cursor, blockStart);
        const uint64_t from = std::max(blockStart, cursor);
        const uint64_t to = std::min(blockEnd, end);
        std::memcpy(out + (from - start), it->second->Buffer() + (from - blockStart), std::size_t(to - from));
        cursor = to;
    }
    if (cursor < end) readGap(cursor, end);
    if (fromFile)
        ++FMisses;
    else
        ++FHits;
    return Size;
}

int32_t TCacheBlockMgr::WriteBlock(const void* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                                   uint32_t HighPosition, int32_t Size) {
    if (Size < 1) return 0;
    const uint64_t key = KeyOf(Position, HighPosition);
    auto it = FBlocks.find(key);
    TCacheBlock* block;
    if (it != FBlocks.end() && it->second->BlockSize() == uint32_t(Size)) {
        ++FHits;
        block = it->second.get();
    } else {
        ++FMisses;
        DiscardRange(Position, HighPosition, uint64_t(Size));
        auto added = std::make_unique<TCacheBlock>(Position, HighPosition, TableID, AccessFlags, uint32_t(Size));
        block = added.get();
        FBlocks.emplace(key, std::move(added));
        Log("Add cache Block");
    }
    std::memcpy(block->Buffer(), Buffer, std::size_t(Size));
    block->FBlockOwner = TableID;
    block->FAccessFlags = AccessFlags;
    block->FState = cpDirty;
    return Size;
}

void TCacheBlockMgr::DiscardRange(uint32_t Position, uint32_t HighPosition, uint64_t Size) {
    if (Size == 0 || FBlocks.empty()) return;
    const uint64_t start = KeyOf(Position, HighPosition);
    const uint64_t end = start + Size;
    // Makes a block of the bytes [From, blockEnd) of Block.
    auto tailOf = [](TCacheBlock& Block, uint64_t BlockStart, uint64_t From) {
        auto tail = std::make_unique<TCacheBlock>(uint32_t(From), uint32_t(From >> 32), Block.FBlockOwner,
                                                  Block.FAccessFlags,
                                                  uint32_t(BlockStart + Block.BlockSize() - From));
        std::memcpy(tail->Buffer(), Block.Buffer() + (From - BlockStart), tail->BlockSize());
        tail->FState = Block.FState;
        return tail;
    };
    auto it = FirstEndingAfter(start);
    while (it != FBlocks.end() && it->first < end) {
        TCacheBlock& block = *it->second;
        const uint64_t blockStart = it->first;
        const uint64_t blockEnd = blockStart + block.BlockSize();
        if (blockStart < start) {
            // Keep the head; a block reaching past the range also keeps its tail.
            if (blockEnd > end) FBlocks.emplace(end, tailOf(block, blockStart, end));
            block.FBuffer.resize(std::size_t(start - blockStart));
            ++it;
        } else if (blockEnd > end) {
            auto tail = tailOf(block, blockStart, end);
            FBlocks.erase(it);
            FBlocks.emplace(end, std::move(tail));
            break;
        } else {
            it = FBlocks.erase(it);
        }
    }
}

void TCacheBlockMgr::DumpState() {
    if (!FLog) return;
    Log("Cache blocks " + std::to_string(FBlocks.size()) + "  Hits " + std::to_string(FHits) + "  Misses " +
        std::to_string(FMisses));
    for (const auto& [key, block] : FBlocks)
        Log("Block Addr " + std::to_string(block->FLowAddress) + "  Size " + std::to_string(block->BlockSize()) +
            "  Owner " + std::to_string(block->FBlockOwner) + "  State " + CCachePageStateNames[block->FState]);
}

}  // namespace ostra
