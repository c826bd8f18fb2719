// orqDiskIOInterface: TDiskIOInterface (declared in orqInterfaceUnit.h), fixed-size blocks in
// page runs of the database file with a first-empty chain of free runs.
//
// Allocation takes the head block of the first free run (its successor becomes the run's head)
// or, when no block is free, a new page run from TDiskMgr whose spare blocks become the first
// run. Release pushes the released blocks in front of the chain as one run; whole pages go back
// to the map instead. Every value read from a free-run head is checked before it is used. A
// whole-page storage skips the chain altogether: a new run per block, the run back on release.
#include "engine/storage/orqInterfaceUnit.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/orqDisk.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqLogger.h"
#include "host/SysUtils.h"

namespace ostra {
namespace {

// The pages before this one hold the file's fixed areas and the first map page; no block of a
// storage lies there.
constexpr uint64_t CFirstDataPage = 6;


}  // namespace

// The free chain of one allocation or release. A global storage takes the header write lock
// (unless held), reloads FirstEmpty from the global header, and on Store / Commit writes it back
// (Commit also gives the lock back when it took it). When the operation fails instead, a lock
// taken here is given back without writing the header (it is read again when the lock is next
// taken). A non-global storage only checks that its owner has set FirstEmpty.
class TDiskIOInterface::TChainScope {
public:
    TChainScope(TDiskIOInterface& IO, const char* Caller) : FIO(IO), FGlobal(IO.FGlobalFirstEmptyOffset != 0) {
        if (!FGlobal) {
            if (!IO.FFirstEmptyValid)
                OrqDatabaseError(8581, Caller, "DiskIOInterface - non global first empty not set", &IO);
            return;
        }
        TDiskMgr& disk = *IO.FDiskMgr;
        FHeldOnEntry = disk.HeaderReadLocked() || disk.HeaderWriteLocked();
        if (!disk.HeaderWriteLocked()) disk.SetHeaderWriteLock();
        try {
            IO.FFirstEmpty = disk.GlobalHdr()->GlobalInterfaceGetHdrItem(IO.FGlobalFirstEmptyOffset);
            IO.FFirstEmptyValid = true;
        } catch (...) {
            Abandon();
            throw;
        }
    }
    ~TChainScope() {
        if (!FDone) Abandon();
    }
    TChainScope(const TChainScope&) = delete;
    TChainScope& operator=(const TChainScope&) = delete;

    // Stores FirstEmpty in the global header and writes the header when it changed; the lock
    // stays. Nothing for a non-global storage.
    void Store() {
        if (!FGlobal) return;
        TDiskMgr& disk = *FIO.FDiskMgr;
        disk.GlobalHdr()->GlobalInterfaceSetHdrItem(FIO.FFirstEmpty, FIO.FGlobalFirstEmptyOffset);
        if (disk.GlobalHdr()->Dirty()) disk.WriteHeader();
    }
    // Store, then the lock goes back when it was taken here.
    void Commit() {
        Store();
        FDone = true;
        if (FGlobal && !FHeldOnEntry) FIO.FDiskMgr->ReleaseHeaderLock();
    }

private:
    void Abandon() noexcept {
        FDone = true;
        if (!FGlobal || FHeldOnEntry) return;
        TDiskMgr& disk = *FIO.FDiskMgr;
        if (TGlobalHdr* hdr = disk.GlobalHdr()) {
            hdr->SetDirty(false);
            hdr->SetValid(false);
        }
        try {
            disk.ReleaseHeaderLock();
        } catch (...) {
            // The lock goes with the disk manager's ReleaseAllLocks or Close at the latest.
        }
    }

    TDiskIOInterface& FIO;
    bool FGlobal;
    bool FHeldOnEntry = false;
    bool FDone = false;
};

TDiskIOInterface::TDiskIOInterface() {
    FIOMode = iomDiskFixedSize;
}

TDiskIOInterface::~TDiskIOInterface() {
    Close();
}

void TDiskIOInterface::Open() {
    static constexpr char Caller[] = "TDiskIOInterface.Open";
    if (!FDiskMgr) OrqDatabaseError(8581, Caller, "Unable to open Disk IOInterface - DiskMgr is null", this);
    if (FUsage == 0) OrqDatabaseError(8581, Caller, "Unable to open Disk IOInterface - Usage is not set", this);
    if (FBlockSize == 0) OrqDatabaseError(8581, Caller, "Unable to open Disk IOInterface - Block size is 0", this);
    if (FBlockSize < CFreeRunHeadSize)
        OrqDatabaseError(8581, Caller, "Unable to open Disk IOInterface - Block size is below 16", this);
    if (!FWorkBuffer.empty() && GDBLogger())
        GDBLogger()->LogItem("DiskInterface",
                             Format("Open- BlockSize %d FirstEmpty %d", {FBlockSize, FFirstEmpty}));
    FWorkBuffer.assign(size_t(FBlockSize) * 2, 0);
    TBaseIOInterface::Open();
}

void TDiskIOInterface::Close() {
    FWorkBuffer.clear();
    FWorkBuffer.shrink_to_fit();
    FRunBuffer.clear();
    FRunBuffer.shrink_to_fit();
}

void TDiskIOInterface::CheckReady(const char* Caller) const {
    if (!FDiskMgr || FBlockSize < CFreeRunHeadSize || FDiskMgr->PageSize() == 0 ||
        FWorkBuffer.size() != size_t(FBlockSize) * 2)
        OrqDatabaseError(8576, Caller, "", const_cast<TDiskIOInterface*>(this));
}

uint32_t TDiskIOInterface::RunSize() {
    const uint32_t pageSize = FDiskMgr->PageSize();
    if (FRunSizeFor[0] != FBlockSize || FRunSizeFor[1] != pageSize) {
        FRunSize = FWholePages ? uint32_t((uint64_t(FBlockSize) + pageSize - 1) / pageSize * pageSize)
                               : GetBestPageRequestSize(FBlockSize, pageSize);
        FRunSizeFor[0] = FBlockSize;
        FRunSizeFor[1] = pageSize;
    }
    return FRunSize;
}

bool TDiskIOInterface::PagesMayBeShared() const {
    return FUsage == CUsageIndex && FDiskMgr->IndexPagesMayBeShared();
}

bool TDiskIOInterface::RunSlotValid(uint32_t Address, uint32_t Count) {
    if (!FDiskMgr || FBlockSize == 0 || Count == 0) return false;
    const uint64_t pageSize = FDiskMgr->PageSize();
    if (pageSize == 0) return false;
    const uint64_t first = CFirstDataPage * pageSize;
    if (Address < first) return false;
    const uint64_t runSize = RunSize();
    const uint64_t blocksPerRun = runSize / FBlockSize;
    const uint64_t pagesPerRun = runSize / pageSize;
    // The run holding Address starts j pages before Address's page, for some j below
    // pagesPerRun; Address must then be a block boundary of that run with Count blocks left.
    const uint64_t page = Address - Address % pageSize;
    for (uint64_t j = 0; j < pagesPerRun && page >= first + j * pageSize; ++j) {
        const uint64_t offset = Address - (page - j * pageSize);
        if (offset % FBlockSize == 0 && offset / FBlockSize + Count <= blocksPerRun) return true;
    }
    return false;
}

bool TDiskIOInterface::InFile(uint32_t Address, uint64_t Bytes) {
    const uint64_t end = uint64_t(Address) + Bytes;
    if (end > FKnownFileEnd) FKnownFileEnd = FDiskMgr->GetFileSize();
    return end <= FKnownFileEnd;
}

bool TDiskIOInterface::CheckLinkAddress(uint32_t Address) {
    // A block of a whole-page storage starts a page, unless it is one of an earlier file's index
    // blocks packed several to a page.
    if (FWholePages && FDiskMgr && FDiskMgr->PageSize() != 0 && Address % FDiskMgr->PageSize() != 0 &&
        !PagesMayBeShared())
        return false;
    return RunSlotValid(Address, 1) && InFile(Address, FBlockSize);
}

uint32_t TDiskIOInterface::AllocateNewAddress(uint32_t Size, const void* Buffer) {
    static constexpr char Caller[] = "TDiskIOInterface.AllocateNewAddress";
    CheckReady(Caller);
    if (Size > FBlockSize) OrqDatabaseError(8581, Caller, "Block request sizes < block size", this);

    // The block to write: Buffer's Size bytes, zeros after them.
    uint8_t* head = FWorkBuffer.data();
    uint8_t* block = head + FBlockSize;
    std::memset(block, 0, FBlockSize);
    if (Buffer && Size > 0) std::memcpy(block, Buffer, Size);
    if (FWholePages) return WriteNewRun(block, 0);

    TChainScope chain(*this, Caller);
    uint32_t address;
    if (FFirstEmpty != 0) {
        // Reuse the head of the first free run.
        address = FFirstEmpty;
        if (!CheckLinkAddress(address))
            OrqDatabaseErrorFmt(8962, Caller, "Invalid free block address %u", {address}, this);
        FDiskMgr->ReadCustomSize(address, FBlockSize, FTableID, FAccessFlags, head);
        const uint32_t next = Load32(head + CFreeRunLinkOffset);
        const uint32_t count = Load32(head + CFreeRunCountOffset);
        const bool zeroPrefix = Load32(head) == 0 && Load32(head + 4) == 0;
        if (!zeroPrefix || count == 0 || !RunSlotValid(address, count) ||
            !InFile(address, uint64_t(count) * FBlockSize) ||
            (next != 0 && !CheckLinkAddress(next)))
            OrqDatabaseErrorFmt(8962, Caller, "Invalid free block at %u (next %u, count %u)", {address, next, count},
                                this);
        // The block leaves the chain before its data is written: the run's new head first, then
        // FirstEmpty (stored in the global header at once), then the block. A failure before the
        // block is written leaves the chain as it was or loses the one block, never a chain that
        // names a block in use.
        if (count > 1) {
            std::memset(head, 0, FBlockSize);
            Store32(head + CFreeRunLinkOffset, next);
            Store32(head + CFreeRunCountOffset, count - 1);
            FDiskMgr->WriteCustomSize(address + FBlockSize, FBlockSize, FTableID, FAccessFlags, head);
        }
        FFirstEmpty = count > 1 ? address + FBlockSize : next;
        chain.Store();
        FDiskMgr->WriteCustomSize(address, FBlockSize, FTableID, FAccessFlags, block);
    } else {
        // A new page run: the block at its start, the spare blocks as the one free run.
        const uint32_t spare = (RunSize() - FBlockSize) / FBlockSize;
        address = WriteNewRun(block, spare);
        if (spare > 0) FFirstEmpty = address + FBlockSize;
    }
    chain.Commit();
    return address;
}

uint32_t TDiskIOInterface::WriteNewRun(const uint8_t* Block, uint32_t Spare) {
    const uint32_t runSize = RunSize();
    FRunBuffer.assign(runSize, 0);
    std::memcpy(FRunBuffer.data(), Block, FBlockSize);
    if (Spare > 0) Store32(FRunBuffer.data() + FBlockSize + CFreeRunCountOffset, Spare);
    const uint32_t address = FDiskMgr->WriteNewPages(FTableID, FAccessFlags, FUsage,
                                                     runSize / FDiskMgr->PageSize(), FRunBuffer.data());
    FKnownFileEnd = std::max<uint64_t>(FKnownFileEnd, uint64_t(address) + runSize);
    return address;
}

void TDiskIOInterface::ReleaseBlock(uint32_t Address, uint32_t Size) {
    static constexpr char Caller[] = "TDiskIOInterface.ReleaseBlock";
    CheckReady(Caller);
    const uint32_t pageSize = FDiskMgr->PageSize();
    if (FWholePages) {
        // A block of an earlier file's index page may share it with other tables: it stays.
        if (PagesMayBeShared()) return;
        if (Address % pageSize != 0 || uint64_t(Address) < CFirstDataPage * pageSize ||
            !InFile(Address, RunSize()))
            OrqDatabaseErrorFmt(8962, Caller, "Invalid block address %u", {Address}, this);
        FDiskMgr->ReleasePages(Address, RunSize() / pageSize);
        return;
    }
    TChainScope chain(*this, Caller);
    if (Size >= pageSize && Address % pageSize == 0 && Size % pageSize == 0) {
        if (uint64_t(Address) < CFirstDataPage * pageSize)
            OrqDatabaseErrorFmt(8962, Caller, "Invalid block address %u", {Address}, this);
        FDiskMgr->ReleasePages(Address, Size / pageSize);
    } else {
        const uint32_t count = Size == 0 ? 1 : uint32_t((uint64_t(Size) + FBlockSize - 1) / FBlockSize);
        const uint64_t bytes = uint64_t(count) * FBlockSize;
        if (!RunSlotValid(Address, count) || !InFile(Address, bytes))
            OrqDatabaseErrorFmt(8962, Caller, "Invalid block address %u", {Address}, this);
        FRunBuffer.assign(bytes, 0);
        Store32(FRunBuffer.data() + CFreeRunLinkOffset, FFirstEmpty);
        Store32(FRunBuffer.data() + CFreeRunCountOffset, count);
        FDiskMgr->WriteCustomSize(Address, uint32_t(bytes), FTableID, FAccessFlags, FRunBuffer.data());
        FFirstEmpty = Address;
    }
    chain.Commit();
}

void TDiskIOInterface::Empty(bool Exact) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.Empty", "", this);
    FDiskMgr->DeleteOwnedPages(FTableID, FUsage, Exact);
    FFirstEmptyValid = false;
}

void TDiskIOInterface::WriteBlock(uint32_t Address, uint32_t Size, const void* Buffer) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.WriteBlock", "", this);
    FDiskMgr->WriteCustomSize(Address, Size, FTableID, FAccessFlags, Buffer);
}

void TDiskIOInterface::WriteBlockByRef(uint32_t Address, uint32_t Size, const void* Buffer) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.WriteBlockByRef", "", this);
    FDiskMgr->WriteCustomSizeByRef(Address, Size, FTableID, FAccessFlags, Buffer);
}

void TDiskIOInterface::ReadBlock(uint32_t Address, uint32_t Size, void* Buffer) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.ReadBlock", "", this);
    FDiskMgr->ReadCustomSize(Address, Size, FTableID, FAccessFlags, Buffer);
}

void TDiskIOInterface::ReadBlockStamped(uint32_t Address, uint32_t Size, void* Buffer, uint64_t& Stamp) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.ReadBlockStamped", "", this);
    FDiskMgr->ReadCustomSize(Address, Size, FTableID, FAccessFlags, Buffer, &Stamp);
}

const uint8_t* TDiskIOInterface::ReadBlockView(uint32_t Address, uint32_t Size, uint64_t& Stamp) {
    Stamp = 0;
    if (!FDiskMgr || !FDiskMgr->IsOpen() || !FDiskMgr->File().TransfersByRef(FAccessFlags)) return nullptr;
    const uint32_t pageSize = FDiskMgr->PageSize();
    if (Size == 0 || Size > pageSize || Address % pageSize > pageSize - Size) return nullptr;
    uint8_t* block = nullptr;
    FDiskMgr->ReadCustomSizeByRef(Address, Size, FTableID, FAccessFlags, block, &Stamp, FKeptInCache);
    return block;
}

void TDiskIOInterface::WriteBlockStamped(uint32_t Address, uint32_t Size, const void* Buffer, uint64_t& Stamp) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.WriteBlockStamped", "", this);
    FDiskMgr->WriteCustomSize(Address, Size, FTableID, FAccessFlags, Buffer, &Stamp);
}

void TDiskIOInterface::WriteBlockPart(uint32_t Address, uint32_t BlockSize, uint32_t Offset, uint32_t Size,
                                      const void* Block, uint64_t& Stamp) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.WriteBlockPart", "", this);
    if (Offset > BlockSize || Size > BlockSize - Offset)
        OrqDatabaseError(8581, "TDiskIOInterface.WriteBlockPart", "Block part out of range", this);
    FDiskMgr->WriteCustomSize(Address + Offset, Size, FTableID, FAccessFlags, static_cast<const uint8_t*>(Block) + Offset,
                              &Stamp);
}

void TDiskIOInterface::ReadBlockByRef(uint32_t Address, uint32_t Size, uint8_t*& Buffer) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.ReadBlockByRef", "", this);
    FDiskMgr->ReadCustomSizeByRef(Address, Size, FTableID, FAccessFlags, Buffer);
}

void TDiskIOInterface::WriteBlockHeader(uint32_t Address, uint32_t Size, const void* Buffer) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.WriteBlockHeader", "", this);
    FDiskMgr->WriteCustomSize(Address, Size, FTableID, FAccessFlags, Buffer);
}

void TDiskIOInterface::ReadBlockHeader(uint32_t Address, uint32_t Size, void* Buffer) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.ReadBlockHeader", "", this);
    FDiskMgr->ReadCustomSize(Address, Size, FTableID, FAccessFlags, Buffer);
}

void TDiskIOInterface::ListBlocks(std::vector<uint32_t>& List) {
    if (!FDiskMgr) OrqDatabaseError(8576, "TDiskIOInterface.ListBlocks", "", this);
    FDiskMgr->ListAllocatedFixedBlocks(FWholePages ? RunSize() : FBlockSize, FTableID, FUsage, List);
}

void TDiskIOInterface::NotifyPageChange(uint32_t TableID) {
    if (FDiskMgr && FDiskMgr->IsOpen()) FDiskMgr->File().PageCache().ClearOwnedPages(TableID);
}

void TDiskIOInterface::NotifyTableClosed(uint32_t TableID) {
    if (FDiskMgr && FDiskMgr->IsOpen()) FDiskMgr->File().PageCache().ParkOwnedPages(TableID);
}

uint32_t TDiskIOInterface::GetGlobalFirstEmpty() {
    static constexpr char Caller[] = "TDiskIOInterface.GetGlobalFirstEmpty";
    if (FGlobalFirstEmptyOffset == 0)
        OrqDatabaseError(8581, Caller, "Unable to get a global first empty. Not a global interface", this);
    if (!FDiskMgr || !FDiskMgr->GlobalHdr()) OrqDatabaseError(8576, Caller, "", this);
    TGlobalHdr* hdr = FDiskMgr->GlobalHdr();
    if (!hdr->Valid()) {
        if (FDiskMgr->HeaderReadLocked() || FDiskMgr->HeaderWriteLocked()) {
            FDiskMgr->ReadHeader();
        } else {
            // Reading the header needs the header lock; take it for the read only.
            FDiskMgr->SetHeaderReadLock();
            FDiskMgr->ReleaseHeaderLock();
        }
    }
    FFirstEmpty = hdr->GlobalInterfaceGetHdrItem(FGlobalFirstEmptyOffset);
    FFirstEmptyValid = true;
    return FFirstEmpty;
}

void TDiskIOInterface::SetGlobalFirstEmpty() {
    static constexpr char Caller[] = "TDiskIOInterface.SetGlobalFirstEmpty";
    if (FGlobalFirstEmptyOffset == 0) return;
    if (!FFirstEmptyValid)
        OrqDatabaseError(8581, Caller, "Attempt to write non validated first empty to global header", this);
    if (!FDiskMgr || !FDiskMgr->GlobalHdr()) OrqDatabaseError(8576, Caller, "", this);
    FDiskMgr->GlobalHdr()->GlobalInterfaceSetHdrItem(FFirstEmpty, FGlobalFirstEmptyOffset);
}

}  // namespace ostra
