// orqDisk: TDiskMgr (states and invariants in orqDisk.h), the security header and the unit's
// two free routines.
#include "engine/storage/orqDisk.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <limits>
#include <utility>
#include <vector>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqErrors.h"
#include "host/DateTime.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Random.h"

namespace ostra {
namespace {

constexpr uint64_t CAddressSpace = uint64_t(1) << 32;
constexpr uint32_t CMaxTableID = 2047;  // the owner word's top bit marks free entries
constexpr int32_t CAccessMask = 0x07;
constexpr int32_t CShareMask = 0x70;
constexpr int32_t CShareExclusive = 0x10;

// Runs each step of a teardown, keeping the first failure to raise after the last step.
class TFirstFailure {
public:
    template <class F>
    void Run(F&& Step) noexcept {
        try {
            Step();
        } catch (...) {
            if (!FFailure) FFailure = std::current_exception();
        }
    }
    void RaiseIfAny() {
        if (FFailure) std::rethrow_exception(FFailure);
    }

private:
    std::exception_ptr FFailure;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Security header

void TSecurityHeader::Encode(uint8_t* Bytes) const {
    std::memset(Bytes, 0, CSecurityHeaderSize);
    Store32(Bytes, HeaderSize);
    const uint64_t time = std::bit_cast<uint64_t>(WrittenAt);
    Store32(Bytes + 4, uint32_t(time));
    Store32(Bytes + 8, uint32_t(time >> 32));
    Bytes[12] = uint8_t(Marker1);
    Bytes[13] = uint8_t(Marker1 >> 8);
    Bytes[14] = uint8_t(Marker2);
    Bytes[15] = uint8_t(Marker2 >> 8);
    std::memcpy(Bytes + 16, KeyDigest, sizeof KeyDigest);
    Store32(Bytes + 36, HeaderCRC);
}

void TSecurityHeader::Decode(const uint8_t* Bytes) {
    HeaderSize = Load32(Bytes);
    WrittenAt = std::bit_cast<double>(uint64_t(Load32(Bytes + 4)) | uint64_t(Load32(Bytes + 8)) << 32);
    Marker1 = uint16_t(Bytes[12] | Bytes[13] << 8);
    Marker2 = uint16_t(Bytes[14] | Bytes[15] << 8);
    std::memcpy(KeyDigest, Bytes + 16, sizeof KeyDigest);
    HeaderCRC = Load32(Bytes + 36);
}

// ---------------------------------------------------------------------------------------------
// Unit routines

uint32_t GetBestPageRequestSize(uint32_t BlockSize, uint32_t PageSize) {
    Assert(BlockSize != 0 && PageSize != 0, "Invalid block size of 0 in GetBestPageRequestSize");
    const uint64_t base = (uint64_t(BlockSize) + PageSize - 1) / PageSize * PageSize;
    if (PageSize >= BlockSize && base % BlockSize <= PageSize / 4) return uint32_t(base);
    uint64_t best = base;
    uint64_t bestWaste = base % BlockSize;
    const uint64_t limit = std::min<uint64_t>(10 * base, CAddressSpace);
    for (uint64_t candidate = base + PageSize; candidate < limit; candidate += PageSize) {
        const uint64_t waste = candidate % BlockSize;
        if (waste < bestWaste) {
            best = candidate;
            bestWaste = waste;
        }
    }
    return uint32_t(best);
}

bool DoCopyFile(const std::string& Source, const std::string& Dest, bool Overwrite) {
    return platform::CopyFile(Source, Dest, !Overwrite);
}

// ---------------------------------------------------------------------------------------------
// Header lock scopes of one operation

class TDiskMgr::THeaderLockScope {
public:
    THeaderLockScope(TDiskMgr& Disk, bool Write)
        : FDisk(Disk), FHeldOnEntry(Disk.FHeaderReadLocked || Disk.FHeaderWriteLocked) {
        if (Write) {
            if (!Disk.FHeaderWriteLocked) Disk.SetHeaderWriteLock();
        } else if (!FHeldOnEntry) {
            Disk.SetHeaderReadLock();
        }
    }
    ~THeaderLockScope() {
        if (!FReleased && !FHeldOnEntry) FDisk.AbandonHeaderLock();
    }
    THeaderLockScope(const THeaderLockScope&) = delete;
    THeaderLockScope& operator=(const THeaderLockScope&) = delete;
    // The operation succeeded: the header is written and the lock given back (if taken here).
    void Release() {
        if (!FHeldOnEntry) FDisk.ReleaseHeaderLock();
        FReleased = true;
    }

private:
    TDiskMgr& FDisk;
    bool FHeldOnEntry;
    bool FReleased = false;
};

class TDiskMgr::THeaderWriteScope : public THeaderLockScope {
public:
    explicit THeaderWriteScope(TDiskMgr& Disk) : THeaderLockScope(Disk, true) {}
};

class TDiskMgr::THeaderReadScope : public THeaderLockScope {
public:
    explicit THeaderReadScope(TDiskMgr& Disk) : THeaderLockScope(Disk, false) {}
};

class TDiskMgr::TTableRegionLock {
public:
    TTableRegionLock(TDiskMgr& Disk, const char* Caller) {
        if (!Disk.FUsesLockFile || !Disk.FUserMonitor) return;
        FHandle = Disk.FUserMonitor->LockFileHandle();
        // The whole table-lock range (the header lock is table 0) minus this connection's own
        // locks, which keep everyone else out of their bytes already.
        std::vector<std::pair<uint64_t, uint64_t>> own;
        if (Disk.FTableLockMgr)
            for (int i = 0; i < Disk.FTableLockMgr->Locks().Count(); ++i) {
                const TLockItem* item = Disk.FTableLockMgr->Locks().LockItems(i);
                own.emplace_back(item->LckAddr(), item->LckSize());
            }
        std::sort(own.begin(), own.end());
        std::vector<std::pair<uint64_t, uint64_t>> pieces;
        uint64_t cursor = CTableLockBase;
        const uint64_t end = LockRangeEnd(CTableLockBase, CTableLockRegionSize);
        for (const auto& [address, size] : own) {
            if (address > cursor) pieces.emplace_back(cursor, address - cursor);
            cursor = std::max(cursor, address + size);
        }
        if (cursor < end) pieces.emplace_back(cursor, end - cursor);
        // Like a writer of every table, it first holds the intent bytes of every table: no new
        // reader gets in while the readers already in leave (the pending rule of the table locks).
        const std::pair<uint64_t, uint64_t> intents{
            CTableIntentBase, (end - CTableLockBase) / uint64_t(CTableLockRegionSize) * CLockIntentSize};
        const int32_t attempts = std::max(Disk.FLockRetryCount, 1);
        for (int32_t attempt = 0; attempt < attempts; ++attempt) {
            if (FTaken.empty() && FHandle->Lock(intents.first, intents.second)) FTaken.push_back(intents);
            if (!FTaken.empty()) {
                std::size_t taken = 0;
                for (const auto& piece : pieces) {
                    if (!FHandle->Lock(piece.first, piece.second)) break;
                    FTaken.push_back(piece);
                    ++taken;
                }
                if (taken == pieces.size()) return;
                // The pieces go back; the intent bytes stay until the regions are had or time is up.
                for (std::size_t i = 0; i < taken; ++i) {
                    FHandle->Unlock(FTaken.back().first, FTaken.back().second);
                    FTaken.pop_back();
                }
            }
            if (attempt + 1 < attempts) platform::Sleep(uint32_t(std::max(Disk.FLockRetryInterval, 0)));
        }
        Unlock();
        OrqDatabaseError(10249, Caller, "The database could not be locked to recover an interrupted commit", &Disk);
    }
    ~TTableRegionLock() { Unlock(); }
    TTableRegionLock(const TTableRegionLock&) = delete;
    TTableRegionLock& operator=(const TTableRegionLock&) = delete;

private:
    void Unlock() noexcept {
        for (const auto& piece : FTaken) FHandle->Unlock(piece.first, piece.second);
        FTaken.clear();
    }

    platform::File* FHandle = nullptr;
    std::vector<std::pair<uint64_t, uint64_t>> FTaken;  // the intent bytes first, then the pieces
};

class TDiskMgr::TRecoveryLock {
public:
    TRecoveryLock(TDiskMgr& Disk, const char* Caller) : FDisk(Disk), FCaller(Caller) { Take(); }
    ~TRecoveryLock() { Release(); }
    TRecoveryLock(const TRecoveryLock&) = delete;
    TRecoveryLock& operator=(const TRecoveryLock&) = delete;
    // Waits for the lock (held only for a look at a journal or a replay, which wait for nothing).
    void Take() {
        if (!FDisk.FFile->LockRecovery(true))
            OrqDatabaseError(10249, FCaller, "Another connection is recovering an interrupted commit", &FDisk);
    }
    void Release() noexcept { FDisk.FFile->UnlockRecovery(); }

private:
    TDiskMgr& FDisk;
    const char* FCaller;
};

// ---------------------------------------------------------------------------------------------
// Life cycle

TDiskMgr::TDiskMgr() : FFile(std::make_unique<TOrqFile>()) {
    FFile->SetLockRetryInterval(FLockRetryInterval);
    FFile->SetLockRetryCount(FLockRetryCount);
}

TDiskMgr::~TDiskMgr() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; Close has closed everything regardless.
    }
}

void TDiskMgr::SetLockRetryCount(int32_t Value) {
    FLockRetryCount = Value;
    FFile->SetLockRetryCount(Value);
    // An open file's lock managers wait by the new setting too.
    if (FTableLockMgr) FTableLockMgr->SetLockRetryCount(Value);
    if (FRecordLockMgr) FRecordLockMgr->SetLockRetryCount(Value);
}

void TDiskMgr::SetLockRetryInterval(int32_t Value) {
    FLockRetryInterval = Value;
    FFile->SetLockRetryInterval(Value);
    if (FTableLockMgr) FTableLockMgr->SetLockRetryInterval(Value);
    if (FRecordLockMgr) FRecordLockMgr->SetLockRetryInterval(Value);
}

void TDiskMgr::SetCryptKey(const std::string& Key) {
    if (Key.empty()) {
        FFile->SetBlowKeyBuf(OrqDefaultStrongCryptKey, OrqDefaultStrongCryptKeyLength);
        FCryptKey = OrqDefaultStrongCryptKey;
        return;
    }
    // Blowfish takes at most 448 key bits; a longer key must not silently leave the old one.
    if (Key.size() > 56)
        OrqDatabaseError(9602, "TDiskMgr.SetCryptKey", "The master key is longer than 56 characters", this);
    FFile->SetBlowKeyBuf(Key.data(), int32_t(Key.size()));
    FCryptKey = Key;
}

void TDiskMgr::CheckPageSize(const char* Caller) const {
    if (FPageSize < CMinPageSize || FPageSize > CMaxPageSize || !std::has_single_bit(FPageSize))
        OrqDatabaseError(8581, Caller, "Invalid database page size", const_cast<TDiskMgr*>(this));
}

void TDiskMgr::RequireOpen(const char* Caller) {
    if (!FFile->CheckOpen() || !FGlobalHdr || !FMapMgr) OrqDatabaseError(8450, Caller, "File handle is invalid", this);
}

void TDiskMgr::Open() {
    Close();
    try {
        InternalOpen();
    } catch (...) {
        // Nothing stays half open: no slot in the lock file, no handle on the database.
        try {
            Close();
        } catch (...) {
            // The failure of the open is the one to report.
        }
        throw;
    }
}

void TDiskMgr::InternalOpen() {
    static constexpr const char* Caller = "TDiskMgr.Open";
    if (FPageSize == 0) OrqDatabaseError(8581, Caller, "PageSize is 0", this);
    CheckPageSize(Caller);
    if (!platform::FileExists(FFileName)) OrqDatabaseError(11010, Caller, FFileName, this);

    FUsesLockFile = !platform::FileIsReadOnly(FFileName);
    FFile->SetXORKeyBuf(OrqWeakCryptKey, OrqWeakCryptKeyLength);
    const int32_t access = FOpenFlags & CAccessMask;
    FExclusive = (FOpenFlags & CShareMask) == CShareExclusive;
    FReadOnly = access == 0;
    FFile->SetPageSize(int32_t(FPageSize));
    FFile->SetOpenRead(true);
    FFile->SetOpenWrite(access == 1 || access == 2);
    FFile->SetOpenReadExclusive(FExclusive);
    FFile->SetOpenWriteExclusive(FExclusive);
    FFile->SetLockRetryCount(FLockRetryCount);
    FFile->SetLockRetryInterval(FLockRetryInterval);
    FFile->OpenOrqFile(FFileName);

    if (FUsesLockFile) {
        FUserMonitor = std::make_unique<TDBUserMonitor>(&FFile->Handle(), GetLockFileName(FFileName));
        FUserMonitor->Open(GetCurrentUser(), GetCurrentComputer());
        platform::File* lockFile = FUserMonitor->LockFileHandle();
        FTableLockMgr = GetLockManager(&FFile->Handle(), lockFile, CTableLockBase, CTableLockRegionSize, false);
        FTableLockMgr->SetLockRetryCount(FLockRetryCount);
        FTableLockMgr->SetLockRetryInterval(FLockRetryInterval);
        FTableLockMgr->SetReadLockErrMsg(SorqTableReadLockErr);
        FTableLockMgr->SetWriteLockErrMsg(SorqTableWriteLockErr);
        // A writer waiting for a table (or the header) keeps new readers out until it has it.
        FTableLockMgr->SetWaitRule(lwrPending, CTableIntentBase);
        FRecordLockMgr = GetLockManager(&FFile->Handle(), lockFile, CRecordLockBase, 1, false);
        FRecordLockMgr->SetLockRetryCount(FLockRetryCount);
        FRecordLockMgr->SetLockRetryInterval(FLockRetryInterval);
        FRecordLockMgr->SetReadLockErrMsg(SorqRecordLockErr);
        FRecordLockMgr->SetWriteLockErrMsg(SorqRecordLockErr);
        FTransactionLockMgr = GetLockManager(&FFile->Handle(), lockFile, CTransactionLockBase, 1, true);
        FTransactionLockMgr->SetLockRetryCount(20);
        FTransactionLockMgr->SetLockRetryInterval(80 + platform::Random(40));
        FTransactionLockMgr->SetReadLockErrMsg(SorqTransactionLockErr);
        FTransactionLockMgr->SetWriteLockErrMsg(SorqTransactionLockErr);
        // Writers take turns: the one that just committed waits behind those already waiting.
        FTransactionLockMgr->SetWaitRule(lwrTurns, CTransactionIntentBase);
    }

    FFile->SetCacheActive(true);
    FGlobalHdr = std::make_unique<TGlobalHdr>(CGlobalHdrSize, CGlobalHdrAddress);
    FMapMgr = std::make_unique<TMapPageMgr>(int32_t(FPageSize));
    FMapMgr->SetDiskMgr(this);
    FMapMgr->SetGlobalHdr(FGlobalHdr.get());

    // An interrupted commit is undone before anything of the file is read.
    RecoverInterruptedCommit();

    // Reads and checks the header; a failed read gives the lock back itself.
    SetHeaderReadLock();
    ReleaseHeaderLock();
    // The layout is fixed when the file is made, so the first read decides it.
    FIndexPagesMayBeShared =
        FPageSize > CMinPageSize && FGlobalHdr->IndexPageLayout() != CIndexPagesOwnedAlone;

    // Held while the database is open; whether another connection holds it does not matter.
    FOpenLockHeld = FFile->Handle().Lock(CDatabaseOpenLockAddress, CDatabaseOpenLockSize);
}

void TDiskMgr::CreateNewFile(bool Overwrite) {
    static constexpr const char* Caller = "TDiskMgr.CreateNewFile";
    Close();
    CheckPageSize(Caller);
    if (!Overwrite && platform::FileExists(FFileName)) OrqDatabaseError(11043, Caller, "", this);
    FFile->SetPageSize(int32_t(FPageSize));
    if (FFile->CreateOrqFile(FFileName) < 0) OrqDatabaseError(8582, Caller, "", this);

    struct TCleanUp {
        TDiskMgr& Disk;
        ~TCleanUp() {
            Disk.FFile->CloseOrqFile();
            Disk.FMapMgr.reset();
            Disk.FGlobalHdr.reset();
        }
    } cleanUp{*this};
    FGlobalHdr = std::make_unique<TGlobalHdr>(CGlobalHdrSize, CGlobalHdrAddress);
    FMapMgr = std::make_unique<TMapPageMgr>(int32_t(FPageSize));
    FMapMgr->SetDiskMgr(this);
    FMapMgr->SetGlobalHdr(FGlobalHdr.get());
    // A journal of an earlier file of this name must never be replayed into the new one.
    if (!TOrqJournal(FFile->JournalFileName()).Erase())
        OrqDatabaseError(8582, Caller, "The rollback journal of an earlier file could not be removed", this);

    const std::vector<uint8_t> zero(FPageSize, 0);
    for (uint32_t page = 0; page < CFixedAreaPages; ++page)
        FFile->SeekAndWriteOrqFile(zero.data(), page * FPageSize, int32_t(FPageSize), 0, 0);

    const uint32_t firstMapPage = 5 * FPageSize;
    FGlobalHdr->SetFirstMapPage(firstMapPage);
    FGlobalHdr->SetMapPageCount(1);
    FGlobalHdr->SetFirstMapPageEmpty(firstMapPage);
    if (FPageSize > CMinPageSize) FGlobalHdr->SetIndexPageLayout(CIndexPagesOwnedAlone);
    InternalWriteHeader();

    // Marking the fixed area changes the hint in memory only: the new file keeps the header as
    // written above.
    FMapMgr->AdjustMapPageFlags(CUsageSystem, 0, 5);
    FMapMgr->SetMapEntryFlags(CUsageMapPage, firstMapPage, 1);
    FFile->FlushBuffers();
}

void TDiskMgr::FreeLockManagers() noexcept {
    // Their destructors release what they still hold and never raise.
    FTableLockMgr.reset();
    FRecordLockMgr.reset();
    FTransactionLockMgr.reset();
}

void TDiskMgr::Close() {
    TFirstFailure failure;
    if (FFile->CheckOpen()) {
        if (FOpenLockHeld)
            failure.Run([&] { FFile->Handle().Unlock(CDatabaseOpenLockAddress, CDatabaseOpenLockSize); });
        // A header changed under a write lock held outside a transaction is still owed to the file.
        if (FGlobalHdr && FGlobalHdr->Dirty() && FHeaderWriteLocked && !IsTransactionActive())
            failure.Run([&] { InternalWriteHeader(); });
        failure.Run([&] { ReleaseAllLocks(); });
    }
    FOpenLockHeld = false;
    for (TTableHeaderKeeper* keeper : FKeepers) keeper->DiskMgrClosed();
    FKeepers.clear();
    FHeadersOwed.clear();
    FHeadersWritten.clear();
    FLastChangedTable = 0;
    FHeaderProofs.clear();
    FreeLockManagers();
    if (FUserMonitor) {
        failure.Run([&] { FUserMonitor->Close(); });
        FUserMonitor.reset();
    }
    failure.Run([&] { FFile->CloseOrqFile(); });
    FExclusive = false;
    FHeaderReadLocked = false;
    FHeaderWriteLocked = false;
    FHeaderKeptInTransaction = false;
    FUsesLockFile = false;
    FNoTransactionLock = false;
    FIndexPagesMayBeShared = false;
    FMapMgr.reset();
    FGlobalHdr.reset();
    Assert(!FTableLockMgr, "TableLockMgr is not nil");
    Assert(!FRecordLockMgr, "RecordLockMgr is not nil");
    Assert(!FTransactionLockMgr, "TransactionLockMgr is not nil");
    Assert(!FUserMonitor, "UserMonitor is not nil");
    failure.RaiseIfAny();
}

// ---------------------------------------------------------------------------------------------
// Page transfers

uint32_t TDiskMgr::Owner(uint16_t TableID, uint16_t Usage) const {
    if (TableID > CMaxTableID || Usage == 0 || Usage > 0xF)
        OrqDatabaseError(8581, "TDiskMgr.WriteNewPages", "Invalid page owner", const_cast<TDiskMgr*>(this));
    return uint32_t(TableID) << 4 | Usage;
}

uint32_t TDiskMgr::ByteCount(uint32_t PageCount, const char* Caller) {
    const uint64_t bytes = uint64_t(PageCount) * FPageSize;
    if (bytes > uint64_t(std::numeric_limits<int32_t>::max())) OrqDatabaseError(8581, Caller, "Invalid page count", this);
    return uint32_t(bytes);
}

void TDiskMgr::ReadPages(uint32_t Address, uint32_t PageCount, uint32_t TableID, uint32_t AccessFlags, void* Buffer) {
    RequireOpen("TDiskMgr.ReadPages");
    FFile->SeekAndReadOrqFile(Buffer, Address, int32_t(ByteCount(PageCount, "TDiskMgr.ReadPages")), TableID,
                              AccessFlags);
}

void TDiskMgr::WritePages(uint32_t Address, uint32_t PageCount, uint32_t TableID, uint32_t AccessFlags,
                          const void* Buffer) {
    RequireOpen("TDiskMgr.WritePages");
    NoteTableChange(TableID);
    FFile->SeekAndWriteOrqFile(Buffer, Address, int32_t(ByteCount(PageCount, "TDiskMgr.WritePages")), TableID,
                               AccessFlags);
}

uint32_t TDiskMgr::WriteNewPages(uint16_t TableID, uint32_t AccessFlags, uint16_t Usage, uint32_t PageCount,
                                 const void* Buffer) {
    static constexpr const char* Caller = "TDiskMgr.WriteNewPages";
    RequireOpen(Caller);
    const uint16_t owner = uint16_t(Owner(TableID, Usage));
    if (PageCount == 0) OrqDatabaseError(8581, Caller, "Invalid page count", this);
    ByteCount(PageCount, Caller);
    THeaderWriteScope header(*this);
    uint32_t address = FMapMgr->GetNextEmptyPageAddress(int32_t(PageCount));
    if (address != 0)
        WritePages(address, PageCount, TableID, AccessFlags, Buffer);
    else
        address = AppendNewPages(Buffer, PageCount, TableID, AccessFlags);
    FMapMgr->AdjustMapPageFlags(owner, address, int32_t(PageCount));
    header.Release();
    return address;
}

uint32_t TDiskMgr::AppendNewPages(const void* Buffer, uint32_t PageCount, uint32_t TableID, uint32_t AccessFlags) {
    static constexpr const char* Caller = "TDiskMgr.AppendNewPages";
    RequireOpen(Caller);
    if (PageCount == 0) OrqDatabaseError(8581, Caller, "Invalid page count", this);
    const uint32_t bytes = ByteCount(PageCount, Caller);
    NoteTableChange(TableID);
    THeaderWriteScope header(*this);
    // The end as it is now that the header lock is held: other connections may have appended
    // since this connection's transaction began (the transaction's end is never below the file's).
    const int64_t end = IsTransactionActive() ? FFile->SeekOrqEof() : FFile->Handle().Size();
    if (end < 0) OrqDatabaseError(9600, Caller, "", this);
    const uint64_t address = (uint64_t(end) + FPageSize - 1) / FPageSize * FPageSize;
    if (address + bytes > CAddressSpace) OrqDatabaseError(9600, Caller, "", this);
    FFile->SeekAndWriteOrqFile(Buffer, uint32_t(address), int32_t(bytes), TableID, AccessFlags);
    header.Release();
    return uint32_t(address);
}

void TDiskMgr::ReleasePages(uint32_t Address, uint32_t PageCount) {
    RequireOpen("TDiskMgr.ReleasePages");
    ByteCount(PageCount, "TDiskMgr.ReleasePages");
    THeaderWriteScope header(*this);
    FMapMgr->AdjustMapPageFlags(CMapEntryFree, Address, int32_t(PageCount));
    const std::vector<uint8_t> zero(FPageSize, 0);
    for (uint64_t i = 0; i < PageCount; ++i) FFile->ReleasePage(uint32_t(Address + i * FPageSize), zero.data());
    header.Release();
}

uint32_t TDiskMgr::DeleteOwnedPages(uint16_t TableID, uint16_t Usage, bool Exact, uint32_t MaxPages) {
    RequireOpen("TDiskMgr.DeleteOwnedPages");
    NoteTableChange(TableID);
    THeaderWriteScope header(*this);
    FFile->PageCache().ClearOwnedPages(TableID);
    if (FIndexPagesMayBeShared && (!Exact || Usage == CUsageIndex)) {
        // Other tables' index blocks may lie in these pages: they leave the table, not the file.
        std::vector<uint32_t> kept;
        FMapMgr->ListPagesUsedByOwner(TableID, CUsageIndex, true, kept);
        for (std::size_t i = 0; i < kept.size();) {
            std::size_t n = 1;  // the run of adjacent pages from kept[i]
            while (i + n < kept.size() && kept[i + n] == kept[i] + uint64_t(n) * FPageSize) ++n;
            FMapMgr->AdjustMapPageFlags(CKeptIndexPageOwner, kept[i], int32_t(n));
            i += n;
        }
    }
    std::vector<uint32_t> freed;
    FMapMgr->DeleteOwnedPages(TableID, Usage, Exact, freed, MaxPages);
    if (FGlobalHdr->Dirty()) WriteHeader();
    const std::vector<uint8_t> zero(FPageSize, 0);
    for (uint32_t address : freed) FFile->ReleasePage(address, zero.data());
    header.Release();
    return uint32_t(freed.size());
}

// ---------------------------------------------------------------------------------------------
// Byte-range transfers

int32_t TDiskMgr::TransferSize(uint32_t Size, const char* Caller) {
    if (Size > uint32_t(std::numeric_limits<int32_t>::max())) OrqDatabaseError(8581, Caller, "Invalid transfer size", this);
    return int32_t(Size);
}

void TDiskMgr::ReadCustomSize(uint32_t Address, uint32_t Size, uint32_t TableID, uint32_t AccessFlags, void* Buffer,
                              uint64_t* Stamp) {
    RequireOpen("TDiskMgr.ReadCustomSize");
    FFile->SeekAndReadOrqFile(Buffer, Address, TransferSize(Size, "TDiskMgr.ReadCustomSize"), TableID, AccessFlags,
                              Stamp);
}

void TDiskMgr::WriteCustomSize(uint32_t Address, uint32_t Size, uint32_t TableID, uint32_t AccessFlags,
                               const void* Buffer, uint64_t* Stamp) {
    RequireOpen("TDiskMgr.WriteCustomSize");
    NoteTableChange(TableID);
    FFile->SeekAndWriteOrqFile(Buffer, Address, TransferSize(Size, "TDiskMgr.WriteCustomSize"), TableID, AccessFlags,
                               Stamp);
}

void TDiskMgr::ReadCustomSizeByRef(uint32_t Address, uint32_t Size, uint32_t TableID, uint32_t AccessFlags,
                                   uint8_t*& Buffer, uint64_t* Stamp, bool Keep) {
    RequireOpen("TDiskMgr.ReadCustomSizeByRef");
    FFile->SeekAndReadOrqFileByRef(Address, TransferSize(Size, "TDiskMgr.ReadCustomSizeByRef"), TableID, AccessFlags,
                                   Buffer, Stamp, Keep);
}

void TDiskMgr::WriteCustomSizeByRef(uint32_t Address, uint32_t Size, uint32_t TableID, uint32_t AccessFlags,
                                    const void* Buffer) {
    RequireOpen("TDiskMgr.WriteCustomSizeByRef");
    NoteTableChange(TableID);
    FFile->SeekAndWriteOrqFileByRef(Buffer, Address, TransferSize(Size, "TDiskMgr.WriteCustomSizeByRef"), TableID,
                                    AccessFlags);
}

// ---------------------------------------------------------------------------------------------
// Global header and header lock

void TDiskMgr::CheckHeader() {
    const uint64_t size = GetFileSize();
    const uint64_t pages = size / FPageSize;
    const uint64_t entriesPerPage = FMapMgr->EntriesPerPage();
    const uint64_t maxMapPages = pages / entriesPerPage + (pages % entriesPerPage ? 1 : 0);
    const uint32_t first = FGlobalHdr->FirstMapPage();
    const uint32_t count = FGlobalHdr->MapPageCount();
    const uint32_t hint = FGlobalHdr->FirstMapPageEmpty();
    const bool hintValid =
        hint == 0 || (hint % FPageSize == 0 && hint >= first && uint64_t(hint) + FPageSize <= size);
    const uint32_t layout = FGlobalHdr->IndexPageLayout();
    if (first != 5 * FPageSize || count == 0 || count > maxMapPages || !hintValid ||
        (layout != 0 && layout != CIndexPagesOwnedAlone)) {
        FGlobalHdr->SetValid(false);
        OrqDatabaseError(8961, "TDiskMgr.ReadHeader", "Global header values are out of range", this);
    }
}

void TDiskMgr::ReadHeader() {
    RequireOpen("TDiskMgr.ReadHeader");
    if (!FHeaderReadLocked && !FHeaderWriteLocked) OrqDatabaseError(10248, "TDiskMgr.ReadHeader", "", this);
    uint8_t bytes[CGlobalHdrSize];
    FGlobalHdr->SetValid(false);
    FFile->SeekAndReadOrqFile(bytes, FGlobalHdr->BaseAddress(), int32_t(FGlobalHdr->HeaderSize()), 0, 0);
    std::memcpy(FGlobalHdr->Buffer(), bytes, FGlobalHdr->HeaderSize());
    FGlobalHdr->SetDirty(false);
    CheckHeader();
    FGlobalHdr->SetValid(true);
    FMapMgr->SyncMapChain(FGlobalHdr->MapPageCount());
}

void TDiskMgr::InternalWriteHeader() {
    FFile->SeekAndWriteOrqFile(FGlobalHdr->Buffer(), FGlobalHdr->BaseAddress(), int32_t(FGlobalHdr->HeaderSize()), 0,
                               0);
    FGlobalHdr->SetDirty(false);
}

void TDiskMgr::WriteHeader() {
    RequireOpen("TDiskMgr.WriteHeader");
    if (!FHeaderWriteLocked) SetHeaderWriteLock();
    InternalWriteHeader();
}

void TDiskMgr::SetHeaderReadLock() { TakeHeaderLock("TDiskMgr.SetHeaderReadLock", CReadLock); }

void TDiskMgr::SetHeaderWriteLock() { TakeHeaderLock("TDiskMgr.SetHeaderWriteLock", CWriteLock); }

void TDiskMgr::TakeHeaderLock(const char* Caller, uint8_t LockType) {
    RequireOpen(Caller);
    const bool held = FHeaderReadLocked || FHeaderWriteLocked;
    if (!held && FHeaderKeptInTransaction && IsTransactionActive() && FGlobalHdr->Valid()) {
        // Taken earlier in this transaction and held since: no other connection can have changed
        // the header (nor taken the header's transaction lock), so the header in memory is current.
        FHeaderReadLocked = true;
        if (LockType == CWriteLock) FHeaderWriteLocked = true;
        return;
    }
    SetTableLock(0, LockType);
    FHeaderReadLocked = true;
    if (LockType == CWriteLock) FHeaderWriteLocked = true;
    if (held) return;
    try {
        ReadHeader();
    } catch (...) {
        AbandonHeaderLock();
        throw;
    }
}

void TDiskMgr::ReleaseHeaderLock() {
    if (FGlobalHdr && FGlobalHdr->Dirty() && FFile->CheckOpen()) WriteHeader();
    // Inside a transaction the lock itself stays until the transaction ends.
    if ((FHeaderReadLocked || FHeaderWriteLocked) && IsTransactionActive()) FHeaderKeptInTransaction = true;
    if (FFile->CheckOpen()) ReleaseTableLock(0);
    FHeaderReadLocked = false;
    FHeaderWriteLocked = false;
}

void TDiskMgr::AbandonHeaderLock() noexcept {
    if (FGlobalHdr) {
        FGlobalHdr->SetDirty(false);
        FGlobalHdr->SetValid(false);
    }
    try {
        if (FFile->CheckOpen()) ReleaseTableLock(0);
    } catch (...) {
        // The lock goes with ReleaseAllLocks or Close at the latest.
    }
    FHeaderReadLocked = false;
    FHeaderWriteLocked = false;
}

// ---------------------------------------------------------------------------------------------
// Security header

void TDiskMgr::WriteSecurityHeader(TSecurityHeader& Header) {
    RequireOpen("TDiskMgr.WriteSecurityHeader");
    Header.HeaderSize = CSecurityHeaderSize;
    Header.WrittenAt = Now();
    Header.Marker1 = 1;
    Header.Marker2 = 1;
    GetSHA1FromString(FCryptKey, Header.KeyDigest);
    Header.HeaderCRC = 0;
    uint8_t bytes[CSecurityHeaderSize];
    Header.Encode(bytes);
    Header.HeaderCRC = CalcCRC(bytes, CSecurityHeaderSize);
    Store32(bytes + 36, Header.HeaderCRC);
    FFile->SeekAndWriteOrqFile(bytes, CSecurityHeaderAddress, CSecurityHeaderSize, 0, 0);
}

void TDiskMgr::ReadSecurityHeader(TSecurityHeader& Header) {
    static constexpr const char* Caller = "TDiskMgr.ReadSecurityHeader";
    RequireOpen(Caller);
    uint8_t bytes[CSecurityHeaderSize];
    FFile->SeekAndReadOrqFile(bytes, CSecurityHeaderAddress, CSecurityHeaderSize, 0, 0);
    const uint32_t stored = Load32(bytes + 36);
    Store32(bytes + 36, 0);
    const uint32_t crc = CalcCRC(bytes, CSecurityHeaderSize);
    if (crc != stored) OrqDatabaseError(8451, Caller, "The Security Header CRC is incorrect", this);
    Store32(bytes + 36, crc);
    Header.Decode(bytes);
    uint8_t digest[OrqSha1DigestSize];
    GetSHA1FromString(FCryptKey, digest);
    if (std::memcmp(digest, Header.KeyDigest, sizeof digest) != 0)
        OrqDatabaseError(8451, Caller, "The MasterKey is incorrect", this);
}

// ---------------------------------------------------------------------------------------------
// Locks

uint8_t TDiskMgr::SetTableLock(uint16_t TableID, uint8_t LockType) {
    const bool locking = FUsesLockFile && FTableLockMgr;
    if (IsTransactionActive()) {
        // The header (table 0) always takes its transaction lock: two transactions that both held
        // it as a read lock could hand out the same free pages and overwrite each other's maps.
        if (locking && (!FNoTransactionLock || TableID == 0)) FTransactionLockMgr->SetWriteLock(TableID, 0);
        // Inside a transaction a table is write-locked only at commit.
        if (LockType == CWriteLock) LockType = CReadLock;
    }
    if (!locking) return LockType;
    const bool heldBefore = FTableLockMgr->QueryLockType(TableID) != CNoLock;
    if (LockType == CWriteLock)
        FTableLockMgr->SetWriteLock(TableID, 0);
    else
        FTableLockMgr->SetReadLock(TableID, 1);
    // The lock may have been waited for while a commit held the table: when that commit died, its
    // journal is replayed before anything is read under this lock. A lock this connection held
    // before the call was checked so when it was taken and has been held without a break since
    // (an upgrade keeps the read byte until the write lock is in place): no other connection can
    // have written this table meanwhile, since its commit needs the table's write lock, so no
    // dead commit's journal holds any of its pages.
    if (heldBefore) return uint8_t(FTableLockMgr->QueryLockType(TableID));
    try {
        if (IsOpen()) RecoverInterruptedCommit();
    } catch (...) {
        if (!heldBefore) FTableLockMgr->ReleaseLock(TableID);
        throw;
    }
    // A lock taken fresh: what was read of the table's header before proves nothing now.
    FHeaderProofs.emplace_back(TableID, ++FLastHeaderProof);
    return uint8_t(FTableLockMgr->QueryLockType(TableID));
}

uint64_t TDiskMgr::HeaderProof(uint32_t TableID) const {
    for (const auto& [table, proof] : FHeaderProofs)
        if (table == TableID) return FTableLockMgr && FTableLockMgr->QueryLockType(TableID) != CNoLock ? proof : 0;
    return 0;
}

void TDiskMgr::TableHeaderChanged(uint32_t TableID) {
    for (auto& [table, proof] : FHeaderProofs)
        if (table == TableID) proof = ++FLastHeaderProof;
}

void TDiskMgr::ForgetHeaderProof(uint32_t TableID) {
    std::erase_if(FHeaderProofs, [TableID](const auto& Entry) { return Entry.first == TableID; });
}

void TDiskMgr::ReleaseTableLock(uint16_t TableID) {
    if (IsTransactionActive() || !FUsesLockFile || !FTableLockMgr) return;
    // A table changed under its write lock announces the change before anyone else may read it.
    if (FHeadersOwed.count(TableID) && FTableLockMgr->QueryLockType(TableID) == CLockTypeWrite) {
        try {
            BumpTableHeader(TableID);
        } catch (...) {
            ForgetHeaderProof(TableID);
            FTableLockMgr->ReleaseLock(TableID);
            throw;
        }
    }
    ForgetHeaderProof(TableID);
    FTableLockMgr->ReleaseLock(TableID);
}

uint8_t TDiskMgr::QueryTableLockStatus(uint16_t TableID) const {
    if (!FUsesLockFile || !FTableLockMgr) return CReadLock;
    return uint8_t(FTableLockMgr->QueryLockType(TableID));
}

uint8_t TDiskMgr::SetRecordLock(uint32_t RecordID, uint16_t TableID) {
    if (!FUsesLockFile || !FRecordLockMgr) return CReadLock;
    if (IsTransactionActive()) FTransactionLockMgr->SetWriteLock(TableID, 0);
    FRecordLockMgr->SetWriteLock(RecordID, 0);
    return uint8_t(FRecordLockMgr->QueryLockType(RecordID));
}

void TDiskMgr::ReleaseRecordLock(uint32_t RecordID) {
    if (IsTransactionActive() || !FUsesLockFile || !FRecordLockMgr) return;
    FRecordLockMgr->ReleaseLock(RecordID);
}

uint8_t TDiskMgr::QueryRecordLockStatus(uint32_t RecordID) const {
    if (!FUsesLockFile || !FRecordLockMgr) return CReadLock;
    return uint8_t(FRecordLockMgr->QueryLockType(RecordID));
}

void TDiskMgr::ReleaseAllLocks() {
    // The header lock is table lock 0: whatever the flags said, it is gone now.
    FHeaderReadLocked = false;
    FHeaderWriteLocked = false;
    FHeaderKeptInTransaction = false;
    FHeaderProofs.clear();
    if (!FFile->CheckOpen() || !FUsesLockFile) return;
    if (FTableLockMgr) FTableLockMgr->ReleaseAllLocks();
    if (FRecordLockMgr) FRecordLockMgr->ReleaseAllLocks();
    if (FTransactionLockMgr) FTransactionLockMgr->ReleaseAllLocks();
}

void TDiskMgr::GetCurrentUsers(TStrings* List) {
    if (!FUsesLockFile || !FUserMonitor)
        OrqDatabaseError(10501, "TDiskMgr.GetCurrentUsers", "Connection details unavailable for read only database files",
                         this);
    FUserMonitor->GetCurrentUsers(List);
}

// ---------------------------------------------------------------------------------------------
// Transactions

void TDiskMgr::DiskStartTransaction(bool NoTransactionLock) {
    RequireOpen("TDiskMgr.DiskStartTransaction");
    FFile->StartTransaction();
    FNoTransactionLock = NoTransactionLock;
    FHeadersWritten.clear();
    FLastChangedTable = 0;
}

void TDiskMgr::DiskCommit() {
    static constexpr const char* Caller = "TDiskMgr.DiskCommit";
    RequireOpen(Caller);
    if (!IsTransactionActive()) OrqDatabaseError(10257, Caller, "", this);
    try {
        BumpOwedTableHeaders();
        if (FGlobalHdr->Dirty()) WriteHeader();
        // The pages are written under write locks only. A transaction that only read writes
        // nothing: its read locks are given back as they are, without the upgrade's waits.
        if (FUsesLockFile && FTableLockMgr && !FFile->PendingWrites().empty()) {
            FTableLockMgr->UpgradeReadLocks();
            RecoverInterruptedCommit();  // a commit that died meanwhile is undone before this one
        }
        FFile->Commit();
    } catch (...) {
        CommitFailed();
        throw;
    }
    EndTableChanges(true);
    ReleaseAllLocks();
}

void TDiskMgr::CommitFailed() noexcept {
    try {
        if (IsTransactionActive()) FFile->Rollback();
    } catch (...) {
    }
    EndTableChanges(false);
    try {
        ReleaseAllLocks();
    } catch (...) {
    }
    // The header as the file now holds it (the transaction's changes to it are gone).
    try {
        SetHeaderReadLock();
        ReleaseHeaderLock();
    } catch (...) {
        AbandonHeaderLock();
    }
}

void TDiskMgr::DiskRollback() {
    static constexpr const char* Caller = "TDiskMgr.DiskRollback";
    RequireOpen(Caller);
    if (!IsTransactionActive()) OrqDatabaseError(10257, Caller, "", this);
    FFile->Rollback();
    EndTableChanges(false);
    TFirstFailure failure;
    failure.Run([&] {
        // The header as stored: the transaction's changes to it are gone.
        if (FHeaderReadLocked || FHeaderWriteLocked) {
            ReadHeader();
        } else {
            SetHeaderReadLock();
            ReleaseHeaderLock();
        }
    });
    failure.Run([&] { ReleaseAllLocks(); });
    failure.RaiseIfAny();
}

void TDiskMgr::ForceToDisk() {
    RequireOpen("TDiskMgr.ForceToDisk");
    if (IsTransactionActive()) {
        try {
            BumpOwedTableHeaders();
            if (FGlobalHdr->Dirty()) WriteHeader();
            // Writing pages needs the write locks that a commit would take.
            if (FUsesLockFile && FTableLockMgr) {
                FTableLockMgr->UpgradeReadLocks();
                RecoverInterruptedCommit();
            }
            FFile->Commit();
        } catch (...) {
            CommitFailed();
            throw;
        }
        EndTableChanges(true);
        FFile->StartTransaction();
        return;
    }
    if (FGlobalHdr->Dirty() && FHeaderWriteLocked) InternalWriteHeader();
    FFile->FlushBuffers();
}

bool TDiskMgr::RecoverInterruptedCommit() {
    static constexpr const char* Caller = "TDiskMgr.RecoverInterruptedCommit";
    RequireOpen(Caller);
    const std::string journalName = FFile->JournalFileName();
    if (!platform::FileExists(journalName)) return false;
    const bool writable = FFile->Handle().Access() != platform::FileAccess::Read;
    TOrqJournal journal(journalName);
    // True when the journal must be replayed; one that is not valid is removed.
    auto mustReplay = [&] {
        switch (journal.Inspect(FPageSize, writable)) {
            case jsMissing:
                return false;
            case jsInvalid:
                // Committed, or cut short before the file was touched: nothing to undo.
                if (writable) journal.Erase();
                return false;
            case jsOtherPageSize:
                OrqDatabaseError(8451, Caller, "The rollback journal was written with another page size",
                                 this);
            case jsValid:
                break;
        }
        return true;
    };
    // Whoever inspects or replays a journal holds the recovery lock with the journal lock. So,
    // with the recovery lock held, the journal lock held by another handle means a live commit,
    // which has write-locked every table it writes and touches nothing that the locks of this
    // connection protect: its journal is left alone. (Without the recovery lock, a connection
    // that is only inspecting a dead commit's journal would pass for a live commit, and this one
    // would read the dead commit's pages and keep them, with its header counter, in its cache.)
    TRecoveryLock recovery(*this, Caller);
    if (!FFile->LockJournal(false)) return false;
    struct TJournalUnlock {
        TOrqFile& File;
        ~TJournalUnlock() { File.UnlockJournal(); }
    } unlock{*FFile};
    if (!mustReplay()) return false;
    if (!writable)
        OrqDatabaseError(10501, Caller,
                         "The database must be recovered from an interrupted commit: open it with write access", this);
    // The regions are waited for holding neither lock: a reader that got in meanwhile finds the
    // journal lock free, inspects the journal itself and does not read the dead commit's pages;
    // and the connections this one waits for are not kept waiting for the recovery lock.
    FFile->UnlockJournal();
    recovery.Release();
    TTableRegionLock regions(*this, Caller);
    recovery.Take();
    if (!FFile->LockJournal(false)) OrqDatabaseError(10249, Caller, "The rollback journal is in use", this);
    if (!mustReplay()) return false;  // another connection replayed it meanwhile
    FFile->RecoverJournal(journal);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Table changes and their headers

void TDiskMgr::AddTableHeaderKeeper(TTableHeaderKeeper* Keeper) {
    if (Keeper && std::find(FKeepers.begin(), FKeepers.end(), Keeper) == FKeepers.end())
        FKeepers.push_back(Keeper);
}

void TDiskMgr::RemoveTableHeaderKeeper(TTableHeaderKeeper* Keeper) {
    FKeepers.erase(std::remove(FKeepers.begin(), FKeepers.end(), Keeper), FKeepers.end());
}

void TDiskMgr::NoteNewTableChange(uint32_t TableID) {
    if (TableID == 0 || TableID > CMaxTableID) return;  // the database's own areas, or no table
    FLastChangedTable = TableID;
    // Announced once in a transaction: the counter other connections hold differs at its end.
    if (IsTransactionActive() && FHeadersWritten.count(TableID)) return;
    FHeadersOwed.insert(TableID);
}

void TDiskMgr::TableHeaderWritten(uint32_t TableID) {
    TableHeaderChanged(TableID);
    FHeadersOwed.erase(TableID);
    FLastChangedTable = 0;
    if (IsTransactionActive()) FHeadersWritten.insert(TableID);
}

void TDiskMgr::BumpTableHeader(uint32_t TableID) {
    for (TTableHeaderKeeper* keeper : std::vector<TTableHeaderKeeper*>(FKeepers))
        if (keeper->BumpTableHeader(TableID)) {
            TableHeaderWritten(TableID);
            return;
        }
    FHeadersOwed.erase(TableID);  // a table no open header manager knows has nobody to tell
}

uint32_t TDiskMgr::NewTableGeneration() {
    RequireOpen("TDiskMgr.NewTableGeneration");
    THeaderWriteScope header(*this);
    uint32_t generation = FGlobalHdr->LastTableGeneration() + 1;
    if (generation == 0) generation = 1;  // 0 names the tables of files made before generations
    FGlobalHdr->SetLastTableGeneration(generation);
    header.Release();
    return generation;
}

void TDiskMgr::BumpOwedTableHeaders() {
    for (uint32_t table : TablesOwingHeaders()) BumpTableHeader(table);
}

void TDiskMgr::EndTableChanges(bool Committed) noexcept {
    if (!Committed) {
        std::set<uint32_t> changed = FHeadersOwed;
        changed.insert(FHeadersWritten.begin(), FHeadersWritten.end());
        for (uint32_t table : changed)
            for (TTableHeaderKeeper* keeper : FKeepers) {
                try {
                    keeper->ForgetTableHeader(table);
                } catch (...) {
                    // Forgetting only clears what is held.
                }
            }
    }
    FHeadersOwed.clear();
    FHeadersWritten.clear();
    FLastChangedTable = 0;
}

// ---------------------------------------------------------------------------------------------
// Other

uint32_t TDiskMgr::GetFileSize() {
    // A transaction's end is never below the file's (SeekOrqEof).
    const int64_t size = !FFile->CheckOpen() ? -1 : IsTransactionActive() ? FFile->SeekOrqEof() : FFile->Handle().Size();
    if (size < 0) OrqDatabaseError(8581, "TDiskMgr.GetFileSize", "Unable to get file size", this);
    return uint32_t(std::min<int64_t>(size, int64_t(CAddressSpace - 1)));
}

int64_t TDiskMgr::DiskCacheSize() { return FFile->CheckOpen() ? FFile->PageCache().TotalCacheSize() : 0; }

void TDiskMgr::CopyCurrentFile(const std::string& DestName) { FFile->CopyOrqFile(DestName); }

void TDiskMgr::ListAllocatedFixedBlocks(uint32_t BlockSize, uint16_t TableID, uint16_t Usage,
                                        std::vector<uint32_t>& List) {
    Assert(BlockSize != 0, "Invalid block size of 0 in ListAllocatedFixedBlocks");
    List.clear();
    RequireOpen("TDiskMgr.ListAllocatedFixedBlocks");
    THeaderReadScope header(*this);
    const uint32_t runSize = GetBestPageRequestSize(BlockSize, FPageSize);
    Assert(runSize >= FPageSize, "Invalid request size returned from GetBestPageRequestSize");
    const uint32_t pagesPerRun = runSize / FPageSize;
    std::vector<uint32_t> pages;
    FMapMgr->ListPagesUsedByOwner(TableID, Usage, true, pages);
    // A run is pagesPerRun adjacent pages; its blocks lie back to back from its start, and a
    // block is listed on the page where it ends.
    std::size_t i = 0;
    while (i < pages.size()) {
        uint64_t block = pages[i];
        uint64_t page = pages[i];
        uint32_t pagesInRun = 1;
        for (;;) {
            for (; block + BlockSize <= page + FPageSize; block += BlockSize) List.push_back(uint32_t(block));
            if (pagesInRun == pagesPerRun) {
                ++i;
                break;
            }
            if (i + 1 >= pages.size() || uint64_t(pages[i + 1]) != page + FPageSize)
                OrqDatabaseError(8964, "TDiskMgr.ListAllocatedFixedBlocks", "Invalid requestpage/pagelist sequence", this);
            page = pages[++i];
            ++pagesInRun;
        }
    }
    header.Release();
}

// ---------------------------------------------------------------------------------------------
// Debug aids

void TDiskMgr::DebugListOwnedPages(uint16_t TableID, std::vector<uint32_t>& List) {
    RequireOpen("TDiskMgr.DebugListOwnedPages");
    THeaderReadScope header(*this);
    FMapMgr->ListPagesUsedByOwner(TableID, 0, false, List);
    header.Release();
}

int32_t TDiskMgr::DebugCheckAddressOwnerFlags(uint16_t Owner, uint32_t Address) {
    RequireOpen("TDiskMgr.DebugCheckAddressOwnerFlags");
    THeaderReadScope header(*this);
    const int32_t result = FMapMgr->DebugCheckAddressOwnerFlags(Owner, Address);
    header.Release();
    return result;
}

void TDiskMgr::DebugCheckContents(TStrings* List) {
    RequireOpen("TDiskMgr.DebugCheckContents");
    THeaderReadScope header(*this);
    FMapMgr->DebugCheckContents(List);
    header.Release();
}

void TDiskMgr::DebugDumpContents() {
    if (!FDebugStrings) return;
    RequireOpen("TDiskMgr.DebugDumpContents");
    THeaderReadScope header(*this);
    FGlobalHdr->DebugDumpContents(FDebugStrings);
    FMapMgr->DebugDumpMapContents(FDebugStrings);
    header.Release();
}

std::string TDiskMgr::DebugCheckStatus() {
    RequireOpen("TDiskMgr.DebugCheckStatus");
    THeaderReadScope header(*this);
    std::string result = FMapMgr->DebugCheckStatus();
    // Entries that say "never used" for pages inside the file: such pages are lost for good.
    std::vector<uint32_t> unmarked;
    FMapMgr->ListPagesUsedByOwner(0, 0, true, unmarked);
    const uint64_t size = GetFileSize();
    std::size_t count = 0;
    uint32_t first = 0;
    for (uint32_t address : unmarked)
        if (address < size && count++ == 0) first = address;
    if (count > 0)
        result += (result.empty() ? "" : "; ") + std::string("Pages without a map entry: ") +
                  std::to_string(count) + ", the first at " + std::to_string(first);
    header.Release();
    return result;
}

}  // namespace ostra
