// orqLockMgrUnit, lock managers: lock items, their collection and the managers that turn id
// locks into byte-range locks on the lock file. The user monitor and the lock file
// name are in orqDBUserMonitor.cpp.
//
// All address arithmetic is unsigned 64-bit: record ids are 32-bit block addresses, and their
// lock bytes lie above 4 GiB for the upper part of the range.
#include "engine/storage/orqLockMgrUnit.h"

#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "engine/storage/orqErrors.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "platform/Clock.h"
#include "platform/Random.h"

namespace ostra {
namespace {

// How many random places one read-lock attempt tries before the attempt counts as failed: a
// clash with another reader's byte is resolved at once, a writer (who holds every byte) still
// fails each of them.
constexpr int CReadLockProbes = 8;

// The unit start for programs that link the static libraries (the package entry has already
// run it in the runtime package).
struct TLockMgrUnit {
    TLockMgrUnit() { StartLockMgrUnit(); }
} GLockMgrUnit;

// The audible signal of a lock retry: the terminal bell on standard error when it is a terminal.
void SystemBeep() {
    if (isatty(STDERR_FILENO)) {
        ssize_t ignored = write(STDERR_FILENO, "\a", 1);
        (void)ignored;
    }
}

}  // namespace

void StartLockMgrUnit() {
    static std::once_flag seeded;
    std::call_once(seeded, platform::Randomize);
}

// ---------------------------------------------------------------------------------------------
// Layout

uint64_t LockRangeEnd(uint64_t BaseAddress, int32_t RegionSize) {
    static constexpr uint64_t Starts[] = {CLockConnectionBase, CTableLockBase, CTransactionLockBase, CRecordLockBase};
    for (uint64_t start : Starts)
        if (start > BaseAddress) return start;
    uint64_t region = RegionSize > 0 ? static_cast<uint64_t>(RegionSize) : 1;
    return BaseAddress + (region << 32);
}

// ---------------------------------------------------------------------------------------------
// TLockItem

TLockItem::TLockItem(TCollection* ACollection) : TCollectionItem(ACollection) {
    if (auto* locks = dynamic_cast<TLockCollection*>(Collection())) locks->IndexItem(this);
}

TLockItem::~TLockItem() {
    // During the base collection's destructor the dynamic type is no longer TLockCollection;
    // TLockCollection empties itself before that, so the index never points at freed items.
    if (auto* locks = dynamic_cast<TLockCollection*>(Collection())) locks->UnindexItem(this);
}

void TLockItem::SetRqID(uint32_t Value) {
    if (Value == FRqID) return;
    auto* locks = dynamic_cast<TLockCollection*>(Collection());
    if (locks) locks->UnindexItem(this);
    FRqID = Value;
    if (locks) locks->IndexItem(this);
}

// ---------------------------------------------------------------------------------------------
// TLockCollection

TLockCollection::TLockCollection() : TCollection(ItemClassOf<TLockItem>()) {}

TLockCollection::~TLockCollection() { Clear(); }

void TLockCollection::IndexItem(TLockItem* Item) { FByID[Item->RqID()].push_back(Item); }

void TLockCollection::UnindexItem(TLockItem* Item) {
    auto it = FByID.find(Item->RqID());
    if (it == FByID.end()) return;
    auto& items = it->second;
    auto pos = std::find(items.rbegin(), items.rend(), Item);
    if (pos != items.rend()) items.erase(std::next(pos).base());
    if (items.empty()) FByID.erase(it);
}

TLockItem* TLockCollection::AddLock(uint32_t RqID, uint64_t LckAddr, int32_t LckType, uint32_t LckSize) {
    auto* item = static_cast<TLockItem*>(Add());
    item->SetRqID(RqID);
    item->SetLckAddr(LckAddr);
    item->SetLckType(LckType);
    item->SetLckSize(LckSize);
    return item;
}

TLockItem* TLockCollection::FindLockInRegion(uint32_t RqID, int32_t LckType) const {
    auto it = FByID.find(RqID);
    if (it == FByID.end()) return nullptr;
    for (TLockItem* item : it->second)
        if (item->LckType() == LckType) return item;
    return nullptr;
}

int32_t TLockCollection::FindLockType(uint32_t RqID) const {
    auto it = FByID.find(RqID);
    return it == FByID.end() || it->second.empty() ? CLockTypeNone : it->second.front()->LckType();
}

std::vector<TLockItem*> TLockCollection::ItemsOf(uint32_t RqID) const {
    auto it = FByID.find(RqID);
    return it == FByID.end() ? std::vector<TLockItem*>{} : it->second;
}

void TLockCollection::DebugDumpStatus(TStrings* List) const {
    List->Add("TLockCollection.DebugDumpStatus - start");
    List->Add("Locks present - " + IntToStr(Count()));
    for (int i = 0; i < Count(); ++i) {
        const TLockItem* item = LockItems(i);
        List->Add(Format("Lock %d: Addr %d Size %d Type %d", {i, item->LckAddr(), item->LckSize(), item->LckType()}));
    }
    List->Add("TLockCollection.DebugDumpStatus - end");
}

// ---------------------------------------------------------------------------------------------
// TBaseLockMgr

TBaseLockMgr::TBaseLockMgr(platform::File* FileHandle, uint64_t BaseAddress, int32_t RegionSize)
    : FFileHandle(FileHandle), FRegionSize(RegionSize), FBaseAddress(BaseAddress),
      FRangeEnd(LockRangeEnd(BaseAddress, RegionSize)) {
    Assert(HandleValid(), "File handle is not set");
    Assert(RegionSize > 0, "Lock region size is 0");
}

TBaseLockMgr::~TBaseLockMgr() { ReleaseAllLocksQuietly(); }

void TBaseLockMgr::ReleaseAllLocksQuietly() noexcept {
    try {
        if (HandleValid()) ReleaseAllLocks();
    } catch (...) {
        // Unlocking cannot fail on a valid handle; whatever happened, the items are forgotten.
    }
    FLocks.Clear();
}

uint64_t TBaseLockMgr::GetCalculatedLockAddr(uint32_t RqID) const {
    if (FRegionSize < 2) return FBaseAddress + RqID;
    return FBaseAddress + static_cast<uint64_t>(RqID) * static_cast<uint64_t>(FRegionSize);
}

uint64_t TBaseLockMgr::RegionStart(uint32_t RqID) const {
    uint64_t start = GetCalculatedLockAddr(RqID);
    Assert(start + static_cast<uint64_t>(FRegionSize) <= FRangeEnd, "Lock Request address is out of range");
    return start;
}

void TBaseLockMgr::RetryPause() {
    if (FBeepOnLockRetry) SystemBeep();
    const uint32_t interval = FLockRetryInterval > 0 ? static_cast<uint32_t>(FLockRetryInterval) : 0;
    const uint32_t sliced = FWaitRule == lwrNone ? 0 : (CWaitSlices - 1) * (interval / CWaitSlices);
    platform::Sleep(interval - sliced);
}

void TBaseLockMgr::SlicePause() {
    platform::Sleep(FLockRetryInterval > 0 ? static_cast<uint32_t>(FLockRetryInterval) / CWaitSlices : 0);
}

// The intent bytes one call holds; given back when the call ends, also on failure.
class TBaseLockMgr::TIntentHold {
public:
    explicit TIntentHold(TBaseLockMgr& Mgr) : FMgr(Mgr) {}
    ~TIntentHold() { Release(); }
    TIntentHold(const TIntentHold&) = delete;
    TIntentHold& operator=(const TIntentHold&) = delete;
    bool Held() const { return FSize > 0; }
    // One attempt at intent bytes of RqID (LockIntent), after giving back those held; true when
    // they are held.
    bool Take(uint32_t RqID, uint32_t From, uint32_t Count, bool One) {
        Release();
        if (!FMgr.LockIntent(RqID, From, Count, One, FAddress)) return false;
        FSize = One ? 1 : Count;
        return true;
    }
    void Release() noexcept {
        if (FSize == 0) return;
        try {
            FMgr.InternalReleaseFileLock(FAddress, FSize);
        } catch (...) {
            // Only an invalid handle fails, and its locks are gone with it.
        }
        FSize = 0;
    }

private:
    TBaseLockMgr& FMgr;
    uint64_t FAddress = 0;
    uint32_t FSize = 0;
};

void TBaseLockMgr::SetWaitRule(TLockWaitRule Rule, uint64_t IntentBase) {
    FWaitRule = Rule;
    FIntentBase = IntentBase;
}

bool TBaseLockMgr::LockIntent(uint32_t RqID, uint32_t From, uint32_t Count, bool One, uint64_t& Address) {
    const uint64_t start = IntentAddress(RqID) + From;
    if (!One) {
        Address = start;
        return InternalLockFile(start, Count, CLockTypeWrite);
    }
    for (int p = 0; p < CReadLockProbes; ++p) {
        Address = start + static_cast<uint64_t>(platform::Random(static_cast<int32_t>(Count)));
        if (InternalLockFile(Address, 1, CLockTypeRead)) return true;
    }
    return false;
}

bool TBaseLockMgr::IntentHeld(uint32_t RqID, uint32_t From, uint32_t Count) {
    uint64_t address;
    if (!LockIntent(RqID, From, Count, false, address)) return true;
    InternalReleaseFileLock(address, Count);
    return false;
}

bool TBaseLockMgr::SetReadLock(uint32_t RqID, uint32_t Size) {
    if (FLocks.FindLockType(RqID) != CLockTypeNone) return true;
    if (!HandleValid()) OrqDatabaseError(8449, "TBaseLockMgr.SetReadLock", "", this);
    if (Size == 0) Size = 1;
    Assert(Size <= static_cast<uint32_t>(FRegionSize), "Lock Request size is out of range");
    uint64_t start = RegionStart(RqID);
    // The read range must lie inside the region: it starts at one of Span places.
    uint32_t span = static_cast<uint32_t>(FRegionSize) - Size + 1;
    int probes = static_cast<int>(std::min<uint32_t>(span, CReadLockProbes));
    uint64_t address = start;
    bool locked = WithRetries([&] {
        // A writer waiting for this id holds every intent byte: no reader gets past it.
        TIntentHold intent(*this);
        if (FWaitRule == lwrPending && !intent.Take(RqID, 0, CLockIntentSize, true)) return false;
        for (int p = 0; p < probes; ++p) {
            address = start + (span > 1 ? static_cast<uint64_t>(platform::Random(static_cast<int32_t>(span))) : 0);
            Assert(address >= start && address + Size <= start + static_cast<uint64_t>(FRegionSize),
                   "Lock Request address is out of range");
            if (InternalLockFile(address, Size, CLockTypeRead)) return true;
        }
        return false;
    });
    if (!locked) OrqDatabaseError(10249, "TBaseLockMgr.SetReadLock", FReadLockErrMsg, this);
    FLocks.AddLock(RqID, address, CLockTypeRead, Size);
    return true;
}

bool TBaseLockMgr::WaitForWriteLock(uint32_t RqID, uint64_t Start, uint32_t Size) {
    TIntentHold intent(*this);
    auto lockRegion = [&] { return InternalLockFile(Start, Size, CLockTypeWrite); };
    switch (FWaitRule) {
        case lwrNone:
            break;
        case lwrPending:
            // Every intent byte first (new readers stay out), then the region as its readers leave.
            return WithRetries([&] {
                if (!intent.Held() && !intent.Take(RqID, 0, CLockIntentSize, false)) return false;
                return lockRegion();
            });
        case lwrTurns: {
            // Waiters go in batches: a request that finds anyone waiting joins the juniors
            // (intent bytes 32..63) and does not touch the lock until no senior (bytes 0..31) is
            // left; then it is a senior, and seniors take the lock whenever they find it free.
            constexpr uint32_t seniors = 0, juniors = CLockIntentSize / 2, half = CLockIntentSize / 2;
            bool junior = IntentHeld(RqID, 0, CLockIntentSize), first = true;
            return WithRetries([&] {
                if (junior) {
                    if (first || IntentHeld(RqID, seniors, half)) {
                        first = false;
                        if (!intent.Held()) intent.Take(RqID, juniors, half, true);  // unseen without one
                        return false;
                    }
                    junior = false;
                    intent.Take(RqID, seniors, half, true);
                }
                first = false;
                if (lockRegion()) return true;
                if (!intent.Held()) intent.Take(RqID, seniors, half, true);
                return false;
            });
        }
    }
    return WithRetries(lockRegion);
}

uint16_t TBaseLockMgr::SetWriteLock(uint32_t RqID, uint32_t Size) {
    if (!HandleValid()) OrqDatabaseError(8450, "TBaseLockMgr.SetWriteLock", "File handle is invalid", this);
    Assert(Size <= static_cast<uint32_t>(FRegionSize), "Lock size is greater than lock region");
    if (FLocks.FindLockInRegion(RqID, CLockTypeWrite)) return CLockTypeWrite;
    if (FLocks.FindLockInRegion(RqID, CLockTypeRead)) {
        UpgradeReadLockToWriteLock(RqID, Size);
        return CLockTypeWrite;
    }
    if (Size == 0) Size = static_cast<uint32_t>(FRegionSize);
    uint64_t start = RegionStart(RqID);
    if (!WaitForWriteLock(RqID, start, Size))
        OrqDatabaseError(10249, "TBaseLockMgr.SetWriteLock", FWriteLockErrMsg, this);
    FLocks.AddLock(RqID, start, CLockTypeWrite, Size);
    return CLockTypeWrite;
}

void TBaseLockMgr::UpgradeReadLockToWriteLock(uint32_t RqID, uint32_t Size) {
    // The pending lock: no new reader gets in while the readers already in leave.
    TIntentHold pending(*this);
    if (FWaitRule == lwrPending &&
        !WithRetries([&] { return pending.Take(RqID, 0, CLockIntentSize, false); }))
        OrqDatabaseError(10249, "TBaseLockMgr.UpgradeReadLockToWriteLock", FWriteLockErrMsg, this);
    if (!InternalUpgradeReadLock(RqID, Size))
        OrqDatabaseError(10249, "TBaseLockMgr.UpgradeReadLockToWriteLock", FWriteLockErrMsg, this);
    // The id now holds its whole region: its read item stands for part of a write lock.
    if (TLockItem* read = FLocks.FindLockInRegion(RqID, CLockTypeRead)) read->SetLckType(CLockTypeWrite);
}

void TBaseLockMgr::UpgradeReadLocks() {
    struct Held {
        uint32_t RqID;
        uint32_t Size;
    };
    std::vector<Held> held;
    held.reserve(static_cast<size_t>(FLocks.Count()));
    for (int i = 0; i < FLocks.Count(); ++i) held.push_back({FLocks.LockItems(i)->RqID(), FLocks.LockItems(i)->LckSize()});
    for (const Held& h : held) SetWriteLock(h.RqID, h.Size);
}

bool TBaseLockMgr::ReleaseLock(uint32_t RqID) {
    std::vector<TLockItem*> items = FLocks.ItemsOf(RqID);
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        uint64_t address = (*it)->LckAddr();
        uint32_t size = (*it)->LckSize();
        delete *it;
        InternalReleaseFileLock(address, size);
    }
    return true;
}

void TBaseLockMgr::ReleaseAllLocks() {
    while (FLocks.Count() > 0) {
        TLockItem* item = FLocks.LockItems(FLocks.Count() - 1);
        uint64_t address = item->LckAddr();
        uint32_t size = item->LckSize();
        delete item;
        InternalReleaseFileLock(address, size);
    }
}

void TBaseLockMgr::DebugDumpStatus(TStrings* List) const {
    List->Add("TBaseLockMgr.DebugDumpStatus");
    List->Add("Hnd - " + (FFileHandle ? FFileHandle->Path() : std::string()));
    FLocks.DebugDumpStatus(List);
}

bool TBaseLockMgr::InternalReleaseFileLock(uint64_t, uint32_t) { return false; }

bool TBaseLockMgr::InternalLockFile(uint64_t, uint32_t, uint8_t) { return false; }

bool TBaseLockMgr::InternalUpgradeReadLock(uint32_t, uint32_t) { return false; }

// ---------------------------------------------------------------------------------------------
// TWinLockMgr

TWinLockMgr::~TWinLockMgr() { ReleaseAllLocksQuietly(); }

bool TWinLockMgr::InternalReleaseFileLock(uint64_t Address, uint32_t Size) {
    if (!HandleValid())
        OrqDatabaseError(8450, "TWinLockMgr.InternalReleaseFileLock", "File handle is invalid", this);
    return FFileHandle->Unlock(Address, Size);
}

bool TWinLockMgr::InternalLockFile(uint64_t Address, uint32_t Size, uint8_t) {
    return HandleValid() && Size > 0 && FFileHandle->Lock(Address, Size);
}

bool TWinLockMgr::InternalUpgradeReadLock(uint32_t RqID, uint32_t) {
    TLockItem* read = FLocks.FindLockInRegion(RqID, CLockTypeRead);
    Assert(read != nullptr, "No existing read lock can not be found");
    uint64_t start = RegionStart(RqID);
    uint64_t end = start + static_cast<uint64_t>(RegionSize());
    uint64_t readAddr = read->LckAddr();
    uint64_t readEnd = readAddr + read->LckSize();
    Assert(readAddr >= start && readEnd <= end, "Lock Request address is out of range");
    uint32_t before = static_cast<uint32_t>(readAddr - start);
    uint32_t after = static_cast<uint32_t>(end - readEnd);

    TLockItem* beforeItem = nullptr;
    if (before > 0) {
        if (!WithRetries([&] { return InternalLockFile(start, before, CLockTypeWrite); })) return false;
        beforeItem = FLocks.AddLock(RqID, start, CLockTypeWrite, before);
    }
    if (after > 0) {
        if (!WithRetries([&] { return InternalLockFile(readEnd, after, CLockTypeWrite); })) {
            if (beforeItem) {
                delete beforeItem;
                InternalReleaseFileLock(start, before);
            }
            return false;
        }
        FLocks.AddLock(RqID, readEnd, CLockTypeWrite, after);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<TBaseLockMgr> GetLockManager(platform::File*, platform::File* LockFileHandle, uint64_t BaseAddress,
                                             int32_t RegionSize, bool) {
    return std::make_unique<TWinLockMgr>(LockFileHandle, BaseAddress, RegionSize);
}

}  // namespace ostra
