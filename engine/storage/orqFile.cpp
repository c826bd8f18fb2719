// orqFile: the paged database file. Routing of transfers between the page cache, the block cache
// and the file; page encryption; the transaction's view of the file; the file's own locks and
// its byte copy. See orqFile.h for the routing rules and the transaction invariants.
#include "engine/storage/orqFile.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>

#include "engine/storage/orqErrors.h"
#include "engine/storage/orqLogger.h"
#include "host/Exceptions.h"
#include "platform/Clock.h"
#include "platform/LastError.h"

namespace ostra {

namespace {

constexpr uint64_t AddressSpace = uint64_t(1) << 32;  // addresses are unsigned 32-bit values
constexpr uint32_t CryptBits = OrqAccessXOR | OrqAccessBlowfish;

uint64_t KeyOf(uint32_t Position, uint32_t HighPosition) { return (uint64_t(HighPosition) << 32) | Position; }

// The encoding a page's access flags select: 0 plain, 2 XOR, 4 Blowfish.
uint32_t CryptKind(uint32_t AccessFlags) {
    if (AccessFlags & OrqAccessXOR) return OrqAccessXOR;
    return AccessFlags & OrqAccessBlowfish;
}

}  // namespace

TOrqFile::TOrqFile() {
    FPageCache.SetReadIO([this](uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                                uint32_t HighPosition) {
        InternalReadPage(Buffer, TableID, AccessFlags, Position, HighPosition);
    });
    FPageCache.SetWriteIO([this](const uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                                 uint32_t HighPosition) {
        InternalWritePage(Buffer, TableID, AccessFlags, Position, HighPosition);
    });
    FPageCache.SetWriteRunIO([this](TCachePage* const* Pages, int Count) { WritePageRun(Pages, Count); });
    FPageCache.SetReadRunIO([this](TCachePage* const* Pages, int Count, uint32_t TableID, uint32_t AccessFlags) {
        return ReadPageRun(Pages, Count, TableID, AccessFlags);
    });
    FPageCache.SetRecodeIO([this](uint8_t* Buffer, uint32_t OldTableID, uint32_t OldAccessFlags, uint32_t NewTableID,
                                  uint32_t NewAccessFlags) {
        RecodePage(Buffer, OldTableID, OldAccessFlags, NewTableID, NewAccessFlags);
    });
    FBlockCache.SetReadIO([this](uint8_t* Buffer, uint32_t, uint32_t, uint32_t Position, uint32_t HighPosition,
                                 uint32_t Size) { ReadBehindBlocks(Buffer, Position, HighPosition, Size); });
    FBlockCache.SetWriteIO([this](const uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                                  uint32_t HighPosition, uint32_t Size) {
        InternalWrite(Buffer, TableID, AccessFlags, Position, HighPosition, Size);
    });
}

TOrqFile::~TOrqFile() { CloseOrqFile(); }

// ---------------------------------------------------------------------------------------------
// Open and close

void TOrqFile::OpenCaches(int32_t PageCount) {
    FOpenPageSize = FPageSize;
    FPageCache.Close();
    FPageCache.Open(PageCount, FPageSize);
    if (FBlockCache.TransactionActive()) FBlockCache.Rollback();
    FBlockCache.Close();
    FPageBuffer.assign(std::size_t(FPageSize), 0);
    FCodeBuffer.assign(std::size_t(FPageSize), 0);
}

void TOrqFile::CloseHandle() {
    FPageCache.Close();
    if (FBlockCache.TransactionActive()) FBlockCache.Rollback();
    FBlockCache.Close();
    FTransactionActive = false;
    FTransactionEOF = 0;
    FFile.Close();  // drops the journal lock with every other lock of the handle
    FJournalLocked = false;
    // Durability is a setting of one open file: the next one is durable again.
    FDurable = true;
    FTorn = false;
    FRecoveryLocked = false;
    FJournalName.clear();
    FPageBuffer.clear();
    FPageBuffer.shrink_to_fit();
    FCodeBuffer.clear();
    FCodeBuffer.shrink_to_fit();
    FRunBuffer.clear();
    FRunBuffer.shrink_to_fit();
    FOpenPageSize = 0;
}

void TOrqFile::CloseOrqFile() {
    CloseHandle();
    FXORKey.clear();
}

int32_t TOrqFile::CreateOrqFile(const std::string& Name) {
    CloseHandle();
    if (FPageSize <= 0)
        OrqDatabaseError(8581, "TOrqFile.CreateOrqFile", "Database page size not set on opening", this);
    if (!FFile.Open(Name, platform::FileAccess::ReadWrite, platform::FileShare::Exclusive,
                    platform::FileCreate::CreateAlways))
        return -1;
    try {
        OpenCaches(FCachePages > 0 ? FCachePages : 50);  // an empty file gets the smallest cache
    } catch (...) {
        CloseHandle();
        throw;
    }
    FJournalName = GetJournalFileName(Name);
    return 1;
}

int32_t TOrqFile::OpenOrqFile(const std::string& Name) {
    if (FPageSize <= 0) OrqDatabaseError(8581, "TOrqFile.OpenOrqFile", "Database page size not set on opening", this);
    if (FXORKey.empty()) OrqDatabaseError(8581, "TOrqFile.OpenOrqFile", "Crypt key not set before opening", this);
    CloseHandle();
    platform::FileAccess access = FOpenWrite ? (FOpenRead ? platform::FileAccess::ReadWrite : platform::FileAccess::Write)
                                             : platform::FileAccess::Read;
    platform::FileShare share = FOpenReadExclusive
                                    ? (FOpenWriteExclusive ? platform::FileShare::Exclusive : platform::FileShare::DenyRead)
                                    : (FOpenWriteExclusive ? platform::FileShare::DenyWrite : platform::FileShare::DenyNone);
    if (!FFile.Open(Name, access, share, platform::FileCreate::OpenExisting))
        OrqDatabaseError(8449, "TOrqFile.OpenOrqFile",
                         "Unable to open file. Error type of: " + platform::SysErrorMessage(platform::GetLastError()),
                         this);
    // Unless set: a quarter of the file's pages, at least 50 and at most 1000.
    int64_t size = FFile.Size();
    int64_t pages = size > 0 ? size / FPageSize / 4 : 0;
    try {
        OpenCaches(FCachePages > 0 ? FCachePages : int32_t(std::clamp<int64_t>(pages, 50, 1000)));
    } catch (...) {
        CloseHandle();
        throw;
    }
    FJournalName = GetJournalFileName(Name);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Checks

void TOrqFile::CheckTableID(uint32_t TableID) const {
    if (TableID > 2048)
        if (TDBLogger* logger = GDBLogger()) logger->LogItem("OrqFile", "Invalid table id");
}

void TOrqFile::RequireOpen(const char* Caller) {
    if (!CheckOpen()) OrqDatabaseError(8450, Caller, "File handle is invalid", this);
}

// ---------------------------------------------------------------------------------------------
// Routed transfers

int32_t TOrqFile::SeekAndReadOrqFile(void* Buffer, uint32_t Position, int32_t Size, uint32_t TableID,
                                     uint32_t AccessFlags, uint64_t* Stamp) {
    if (Stamp) *Stamp = 0;
    CheckTableID(TableID);
    if (Size < 1) return 0;
    RequireOpen("TOrqFile.SeekAndReadOrqFile");
    // Nothing lies beyond the 32-bit address space: such a read cannot be completed.
    if (uint64_t(Position) + uint64_t(Size) > AddressSpace)
        OrqDatabaseError(9217, "TOrqFile.SeekAndReadOrqFile", "Unable to complete file read operation", this);
    if ((AccessFlags & OrqAccessCache) && (FCacheActive || FTransactionActive))
        return FPageCache.ReadCache(Buffer, TableID, AccessFlags, Position, 0, Size, Stamp);
    if (!FTransactionActive)
        InternalRead(static_cast<uint8_t*>(Buffer), TableID, AccessFlags, Position, 0, uint32_t(Size));
    else
        FBlockCache.ReadBlock(Buffer, 0, 0, Position, 0, Size);
    return Size;
}

int32_t TOrqFile::SeekAndWriteOrqFile(const void* Buffer, uint32_t Position, int32_t Size, uint32_t TableID,
                                      uint32_t AccessFlags, uint64_t* Stamp) {
    if (Stamp) *Stamp = 0;
    CheckTableID(TableID);
    if (Size < 1) return 0;
    RequireOpen("TOrqFile.SeekAndWriteOrqFile");
    if (uint64_t(Position) + uint64_t(Size) > AddressSpace)
        OrqDatabaseError(9600, "TOrqFile.SeekAndWriteOrqFile", "", this);
    if ((AccessFlags & OrqAccessCache) && (FCacheActive || FTransactionActive)) {
        if (!FTransactionActive) return FPageCache.WriteCache(Buffer, TableID, AccessFlags, Position, 0, Size, Stamp);
        // A page dirty before this write has no bytes in the block cache (a block written over a
        // dirty page is laid into it), and dirty pages stay until the commit: only a write that
        // dirtied a page has blocks to drop.
        const int32_t dirtyBefore = FPageCache.DirtyCount();
        try {
            FPageCache.WriteCache(Buffer, TableID, AccessFlags, Position, 0, Size, Stamp);
        } catch (...) {
            DirtyPagesFailed(Position, uint32_t(Size));  // the pages dirtied before the failure
            throw;
        }
        if (FPageCache.DirtyCount() != dirtyBefore) PagesDirtied(Position, uint32_t(Size));
        NoteTransactionWrite(Position, uint32_t(Size));
        return Size;
    }
    WriteUncached(static_cast<const uint8_t*>(Buffer), Position, uint32_t(Size));
    return Size;
}

int32_t TOrqFile::SeekAndReadOrqFileByRef(uint32_t Position, int32_t Size, uint32_t TableID, uint32_t AccessFlags,
                                          uint8_t*& Buffer, uint64_t* Stamp, bool Keep) {
    CheckTableID(TableID);
    Assert(TransfersByRef(AccessFlags), "SeekAndReadOrqFileByRef failed to access cache");
    return FPageCache.ReadCacheByRef(TableID, AccessFlags, Position, 0, Size, Buffer, Stamp, Keep);
}

int32_t TOrqFile::SeekAndWriteOrqFileByRef(const void* Buffer, uint32_t Position, int32_t Size, uint32_t TableID,
                                           uint32_t AccessFlags) {
    CheckTableID(TableID);
    Assert(TransfersByRef(AccessFlags), "SeekAndWriteOrqFileByRef accessed in error");
    FPageCache.WriteCacheByRef(Buffer, TableID, AccessFlags, Position, 0, Size);
    if (FTransactionActive) {
        uint32_t base = FPageCache.GetBaseAddress(Position);
        PagesDirtied(base, uint32_t(FOpenPageSize));
        NoteTransactionWrite(base, uint32_t(FOpenPageSize));
    }
    return Size;
}

uint32_t TOrqFile::SeekAndAppendOrqFile(const void* Buffer, int32_t Size, uint32_t TableID, uint32_t AccessFlags) {
    RequireOpen("TOrqFile.SeekAndAppendOrqFile");
    int64_t position = SeekOrqEof();
    if (position < 0 || uint64_t(position) + uint64_t(std::max(Size, 0)) > AddressSpace)
        OrqDatabaseError(9600, "TOrqFile.SeekAndAppendOrqFile", "", this);
    SeekAndWriteOrqFile(Buffer, uint32_t(position), Size, TableID, AccessFlags);
    return uint32_t(position);
}

void TOrqFile::ReadThroughOrqFile(void* Buffer, uint32_t Position, int32_t Size) {
    if (Size < 1) return;
    RequireOpen("TOrqFile.ReadThroughOrqFile");
    if (uint64_t(Position) + uint64_t(Size) > AddressSpace)
        OrqDatabaseError(9217, "TOrqFile.ReadThroughOrqFile", "Unable to complete file read operation", this);
    if (FTransactionActive)
        FBlockCache.ReadBlock(Buffer, 0, 0, Position, 0, Size);
    else
        InternalRead(static_cast<uint8_t*>(Buffer), 0, 0, Position, 0, uint32_t(Size));
}

void TOrqFile::WriteThroughOrqFile(const void* Buffer, uint32_t Position, int32_t Size) {
    if (Size < 1) return;
    RequireOpen("TOrqFile.WriteThroughOrqFile");
    if (uint64_t(Position) + uint64_t(Size) > AddressSpace)
        OrqDatabaseError(9600, "TOrqFile.WriteThroughOrqFile", "", this);
    WriteUncached(static_cast<const uint8_t*>(Buffer), Position, uint32_t(Size));
}

void TOrqFile::ReleasePage(uint32_t Address, const void* Buffer) {
    RequireOpen("TOrqFile.ReleasePage");
    if (uint64_t(Address) + uint64_t(FOpenPageSize) > AddressSpace)
        OrqDatabaseError(9600, "TOrqFile.ReleasePage", "", this);
    // Outside a transaction the zeros go to the file and the cached copy is dropped; inside, they
    // become a block range that replaces the page in the page cache, so that a later reuse of the
    // page in the same transaction builds on the zeros and its own bytes win at commit.
    WriteUncached(static_cast<const uint8_t*>(Buffer), Address, uint32_t(FOpenPageSize));
}

int64_t TOrqFile::SeekOrqBof() { return 0; }

int64_t TOrqFile::SeekOrqEof() {
    int64_t size = CheckOpen() ? FFile.Size() : -1;
    // Another connection may have appended since the transaction started (before this one held
    // the header lock): the transaction's end is never below the file's end.
    if (FTransactionActive && size >= 0) return std::max(size, FTransactionEOF);
    return size;
}

int64_t TOrqFile::SeekOrqPosition(int64_t Position) { return Position; }

// ---------------------------------------------------------------------------------------------
// Keeping the two caches one view of the file

void TOrqFile::WriteUncached(const uint8_t* Buffer, uint32_t Position, uint32_t Size) {
    const uint64_t pageSize = uint64_t(FOpenPageSize);
    const uint64_t start = Position;
    const uint64_t end = start + Size;
    const uint64_t firstBase = start & ~(pageSize - 1);
    if (!FTransactionActive) {
        // Drop the cached pages first: whether the write succeeds or not, they may differ from the file.
        if (FPageCache.CachedCount() > 0)
            for (uint64_t base = firstBase; base < end; base += pageSize) FPageCache.RemovePage(uint32_t(base), 0);
        InternalWrite(Buffer, 0, 0, Position, 0, Size);
        return;
    }
    FBlockCache.WriteBlock(Buffer, 0, 0, Position, 0, int32_t(Size));
    NoteTransactionWrite(Position, Size);
    if (FPageCache.CachedCount() == 0) return;
    for (uint64_t base = firstBase; base < end; base += pageSize) {
        int32_t index = FPageCache.FindPage(uint32_t(base), 0);
        if (index < 0) continue;
        TCachePage& page = FPageCache.Items(index);
        const uint64_t from = std::max(base, start);
        const uint64_t to = std::min(base + pageSize, end);
        if (page.State() == cpDirty && (from > base || to < base + pageSize)) {
            // A dirty page partly overwritten: lay the new raw bytes into its stored form, take
            // the plain text back, and leave those bytes to the page (invariants A and B).
            EncodePage(page.Buffer(), FCodeBuffer.data(), page.AccessFlags(), page.PageOwner());
            std::memcpy(FCodeBuffer.data() + (from - base), Buffer + (from - start), std::size_t(to - from));
            DecodePage(FCodeBuffer.data(), page.Buffer(), page.AccessFlags(), page.PageOwner());
            FPageCache.PageChanged(page);
            FBlockCache.DiscardRange(uint32_t(from), 0, to - from);
        } else {
            // A clean page, or a page wholly overwritten: the block range now holds its bytes.
            FPageCache.RemovePage(uint32_t(base), 0);
        }
    }
}

void TOrqFile::PagesDirtied(uint32_t Position, uint32_t Size) {
    if (FBlockCache.Count() == 0 || Size == 0) return;
    const uint64_t pageSize = uint64_t(FOpenPageSize);
    const uint64_t firstBase = uint64_t(Position) & ~(pageSize - 1);
    const uint64_t lastBase = (uint64_t(Position) + Size - 1) & ~(pageSize - 1);
    FBlockCache.DiscardRange(uint32_t(firstBase), 0, lastBase + pageSize - firstBase);
}

void TOrqFile::DirtyPagesFailed(uint32_t Position, uint32_t Size) {
    const uint64_t pageSize = uint64_t(FOpenPageSize);
    const uint64_t end = uint64_t(Position) + Size;
    for (uint64_t base = uint64_t(Position) & ~(pageSize - 1); base < end; base += pageSize) {
        int32_t index = FPageCache.FindPage(uint32_t(base), 0);
        if (index < 0 || FPageCache.Items(index).State() != cpDirty) continue;
        PagesDirtied(uint32_t(base), uint32_t(pageSize));
        NoteTransactionWrite(uint32_t(base), uint32_t(pageSize));
    }
}

void TOrqFile::NoteTransactionWrite(uint32_t Position, uint32_t Size) {
    FTransactionEOF = std::max<int64_t>(FTransactionEOF, int64_t(Position) + int64_t(Size));
}

void TOrqFile::ReadRawPage(uint8_t* Raw, uint32_t Position, uint32_t HighPosition) {
    if (FTransactionActive && FBlockCache.Count() > 0)
        FBlockCache.ReadBlock(Raw, 0, 0, Position, HighPosition, FOpenPageSize);
    else
        RawRead(Raw, KeyOf(Position, HighPosition), uint32_t(FOpenPageSize), "TOrqFile.InternalReadPage");
}

void TOrqFile::ReadBehindBlocks(uint8_t* Buffer, uint32_t Position, uint32_t HighPosition, uint32_t Size) {
    const uint64_t start = KeyOf(Position, HighPosition);
    const uint64_t end = start + Size;
    if (!FTransactionActive || FPageCache.DirtyCount() == 0) {
        RawRead(Buffer, start, Size, "TOrqFile.InternalRead");
        return;
    }
    const uint64_t pageSize = uint64_t(FOpenPageSize);
    uint64_t fileFrom = start;  // the start of the stretch still to be read from the file
    for (uint64_t base = start & ~(pageSize - 1); base < end; base += pageSize) {
        int32_t index = FPageCache.FindPage(uint32_t(base), uint32_t(base >> 32));
        if (index < 0) continue;
        TCachePage& page = FPageCache.Items(index);
        if (page.State() != cpDirty) continue;
        const uint64_t from = std::max(base, start);
        const uint64_t to = std::min(base + pageSize, end);
        if (from > fileFrom)
            RawRead(Buffer + (fileFrom - start), fileFrom, uint32_t(from - fileFrom), "TOrqFile.InternalRead");
        EncodePage(page.Buffer(), FCodeBuffer.data(), page.AccessFlags(), page.PageOwner());
        std::memcpy(Buffer + (from - start), FCodeBuffer.data() + (from - base), std::size_t(to - from));
        fileFrom = to;
    }
    if (fileFrom < end) RawRead(Buffer + (fileFrom - start), fileFrom, uint32_t(end - fileFrom), "TOrqFile.InternalRead");
}

void TOrqFile::EncodePage(const uint8_t* Plain, uint8_t* Raw, uint32_t AccessFlags, uint32_t TableID) {
    if (AccessFlags & CryptBits)
        InternalCryptBuf(true, Plain, Raw, AccessFlags, TableID, FOpenPageSize);
    else
        std::memcpy(Raw, Plain, std::size_t(FOpenPageSize));
}

void TOrqFile::DecodePage(const uint8_t* Raw, uint8_t* Plain, uint32_t AccessFlags, uint32_t TableID) {
    if (AccessFlags & CryptBits)
        InternalCryptBuf(false, Raw, Plain, AccessFlags, TableID, FOpenPageSize);
    else
        std::memcpy(Plain, Raw, std::size_t(FOpenPageSize));
}

void TOrqFile::RecodePage(uint8_t* Buffer, uint32_t OldTableID, uint32_t OldAccessFlags, uint32_t NewTableID,
                          uint32_t NewAccessFlags) {
    uint32_t oldKind = CryptKind(OldAccessFlags), newKind = CryptKind(NewAccessFlags);
    // The XOR scheme depends on the table id only through its key step; Blowfish not at all.
    if (oldKind == newKind && (oldKind != OrqAccessXOR || (OldTableID & 100) == (NewTableID & 100))) return;
    EncodePage(Buffer, FCodeBuffer.data(), OldAccessFlags, OldTableID);
    DecodePage(FCodeBuffer.data(), Buffer, NewAccessFlags, NewTableID);
}

// ---------------------------------------------------------------------------------------------
// Page and block procedures

void TOrqFile::RawRead(uint8_t* Buffer, uint64_t Position, uint32_t Size, const char* Caller) {
    if (FFile.Read(int64_t(Position), Buffer, Size) != int64_t(Size))
        OrqDatabaseError(9217, Caller, "Unable to complete file read operation", this);
}

void TOrqFile::RawWrite(const uint8_t* Buffer, uint64_t Position, uint32_t Size, const char* Caller) {
    if (FFile.Write(int64_t(Position), Buffer, Size) != int64_t(Size))
        OrqDatabaseError(9218, Caller, "Unable to complete file write operation", this);
}

void TOrqFile::InternalReadPage(uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                                uint32_t HighPosition) {
    if (AccessFlags & CryptBits) {
        ReadRawPage(FPageBuffer.data(), Position, HighPosition);
        InternalCryptBuf(false, FPageBuffer.data(), Buffer, AccessFlags, TableID, FOpenPageSize);
    } else {
        ReadRawPage(Buffer, Position, HighPosition);
    }
}

void TOrqFile::InternalWritePage(const uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                                 uint32_t HighPosition) {
    const uint8_t* out = Buffer;
    if (AccessFlags & CryptBits) {
        InternalCryptBuf(true, Buffer, FPageBuffer.data(), AccessFlags, TableID, FOpenPageSize);
        out = FPageBuffer.data();
    }
    RawWrite(out, KeyOf(Position, HighPosition), uint32_t(FOpenPageSize), "TOrqFile.InternalWritePage");
}

void TOrqFile::WritePageRun(TCachePage* const* Pages, int Count) {
    const std::size_t pageSize = std::size_t(FOpenPageSize);
    const uint64_t position = KeyOf(Pages[0]->LowerAddress(), Pages[0]->UpperAddress());
    // Gathered into one buffer even where the pages lie together: the system takes a write from
    // a buffer it has just seen much faster than one from pages spread over the cache.
    FRunBuffer.resize(pageSize * std::size_t(Count));
    for (int k = 0; k < Count; ++k)
        EncodePage(Pages[k]->Buffer(), FRunBuffer.data() + pageSize * std::size_t(k), Pages[k]->AccessFlags(),
                   Pages[k]->PageOwner());
    RawWrite(FRunBuffer.data(), position, uint32_t(FRunBuffer.size()), "TOrqFile.InternalWritePage");
}

int TOrqFile::ReadPageRun(TCachePage* const* Pages, int Count, uint32_t TableID, uint32_t AccessFlags) {
    const std::size_t pageSize = std::size_t(FOpenPageSize);
    const uint32_t position = Pages[0]->LowerAddress(), high = Pages[0]->UpperAddress();
    int whole = 0;
    if (!FTransactionActive && Count > 1) {
        FRunBuffer.resize(pageSize * std::size_t(Count));
        const int64_t got = FFile.Read(int64_t(KeyOf(position, high)), FRunBuffer.data(), int64_t(FRunBuffer.size()));
        whole = got > 0 ? int(std::min<int64_t>(got / int64_t(pageSize), Count)) : 0;
    }
    if (whole == 0) {
        // The pages ahead are a guess: what fails among them is not this read's failure.
        InternalReadPage(Pages[0]->Buffer(), TableID, AccessFlags, position, high);
        return 1;
    }
    for (int k = 0; k < whole; ++k)
        DecodePage(FRunBuffer.data() + pageSize * std::size_t(k), Pages[k]->Buffer(), AccessFlags, TableID);
    return whole;
}

void TOrqFile::InternalRead(uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                            uint32_t HighPosition, uint32_t Size) {
    (void)TableID;
    (void)AccessFlags;
    RawRead(Buffer, KeyOf(Position, HighPosition), Size, "TOrqFile.InternalRead");
}

void TOrqFile::InternalWrite(const uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                             uint32_t HighPosition, uint32_t Size) {
    (void)TableID;
    (void)AccessFlags;
    RawWrite(Buffer, KeyOf(Position, HighPosition), Size, "TOrqFile.InternalWrite");
}

void TOrqFile::InternalCryptBuf(bool Encrypt, const uint8_t* Src, uint8_t* Dst, uint32_t AccessFlags,
                                uint32_t TableID, int32_t Count) {
    if (AccessFlags & OrqAccessXOR) {
        XORCryptBuf(reinterpret_cast<const char*>(Src), reinterpret_cast<char*>(Dst), FXORKey.data(), Count,
                    int(FXORKey.size()), int(TableID));
        return;
    }
    // Without a key the schedule would be all zeros and the page stored unprotected.
    if (!FBlowKeySet) OrqDatabaseError(8581, "TOrqFile.InternalCryptBuf", "Strong crypt key not set", this);
    if (Encrypt)
        BlowfishEncryptCFB(FBlowfish, Src, Dst, Count);
    else
        BlowfishDecryptCFB(FBlowfish, Src, Dst, Count);
    BlowfishReset(FBlowfish);
}

// ---------------------------------------------------------------------------------------------
// Transactions

void TOrqFile::StartTransaction() {
    if (FTransactionActive) OrqDatabaseError(10256, "TOrqFile.StartTransaction", "", this);
    RequireOpen("TOrqFile.StartTransaction");
    FPageCache.StartTransaction();
    FBlockCache.StartTransaction();
    // Only the transaction's own writes move its end; the file's end is read at every append. An
    // end taken here could lie beyond the real one: a commit that died may have grown the file,
    // and another connection may cut it back when it replays that commit's journal.
    FTransactionEOF = 0;
    FTransactionActive = true;
}

void TOrqFile::Commit() {
    if (!FTransactionActive) OrqDatabaseError(10257, "TOrqFile.Commit", "", this);
    try {
        CommitWrites();
    } catch (...) {
        DropTransaction();
        throw;
    }
    FTransactionEOF = 0;
    FTransactionActive = false;
}

// Every byte a commit puts into the file passes through here: the dirty pages first (encrypted by
// InternalWritePage), then the block ranges (raw), then the flush to stable storage. The ranges
// are disjoint (invariant B), so their order does not decide any byte's content; PendingWrites
// lists them beforehand, and their old content goes to the rollback journal first.
void TOrqFile::CommitWrites() {
    static constexpr const char* Caller = "TOrqFile.Commit";
    const std::vector<TFileRange> ranges = PendingWrites();
    if (ranges.empty()) {
        FPageCache.Commit();
        FBlockCache.Commit();
        return;
    }
    if (FFile.Access() == platform::FileAccess::Read)
        OrqDatabaseError(10501, Caller, "The database file is open for reading only", this);
    if (!FDurable) {
        CommitInPlace(false);
        return;
    }
    if (TUnjournaledCommitsForBenchmark::Active()) {
        // Benchmark only (see orqFile.h): the same writes and flush, with nothing to undo them.
        CommitInPlace(true);
        return;
    }
    LockJournalToCommit();
    struct TJournalUnlock {
        TOrqFile& File;
        ~TJournalUnlock() { File.UnlockJournal(); }
    } unlock{*this};

    TOrqJournal journal(FJournalName);
    const int64_t oldSize = FFile.Size();
    if (oldSize < 0) OrqDatabaseError(8450, Caller, "Unable to get file size", this);
    try {
        journal.Write(FFile, uint32_t(FOpenPageSize), oldSize, ranges);
    } catch (...) {
        journal.Delete();  // the file is untouched: a journal left over would only restore it as it is
        throw;
    }
    try {
        FPageCache.Commit();
        FBlockCache.Commit();
        if (!FFile.Flush()) OrqDatabaseError(8450, Caller, "The file buffers could not be flushed", this);
        journal.Invalidate();  // the commit point
    } catch (...) {
        // Undo: the file as it was. When that fails too, the valid journal stays for recovery.
        bool undone = false;
        try {
            journal.RollBack(FFile);
            undone = true;
        } catch (...) {
        }
        if (undone) {
            try {
                journal.Invalidate();
            } catch (...) {
                // Valid, but it holds what the file holds now: replaying it changes nothing.
            }
            journal.Delete();
        }
        throw;
    }
    // The commit is durable; an invalid journal that cannot be deleted is harmless and replaced
    // by the next commit.
    journal.Delete();
}

void TOrqFile::CommitInPlace(bool Flush) {
    static constexpr const char* Caller = "TOrqFile.Commit";
    if (FTorn) OrqDatabaseError(8450, Caller, "An earlier commit of this file failed part-way", this);
    try {
        FPageCache.Commit();
        FBlockCache.Commit();
        if (Flush && !FFile.Flush()) OrqDatabaseError(8450, Caller, "The file buffers could not be flushed", this);
    } catch (...) {
        // Nothing can undo the bytes written so far.
        if (!FDurable) FTorn = true;
        throw;
    }
}

void TOrqFile::SetDurable(bool Value) {
    if (Value && !FDurable) {
        if (FTorn) OrqDatabaseError(8450, "TOrqFile.SetDurable", "An earlier commit of this file failed part-way", this);
        if (CheckOpen() && !FFile.Flush())
            OrqDatabaseError(8450, "TOrqFile.SetDurable", "The file buffers could not be flushed", this);
    }
    FDurable = Value;
}

namespace {
// The live TUnjournaledCommitsForBenchmark objects of the process.
std::atomic<int> UnjournaledCommitScopes{0};
}  // namespace

TUnjournaledCommitsForBenchmark::TUnjournaledCommitsForBenchmark() { UnjournaledCommitScopes.fetch_add(1); }
TUnjournaledCommitsForBenchmark::~TUnjournaledCommitsForBenchmark() { UnjournaledCommitScopes.fetch_sub(1); }
bool TUnjournaledCommitsForBenchmark::Active() { return UnjournaledCommitScopes.load(std::memory_order_relaxed) > 0; }

void TOrqFile::DropTransaction() noexcept {
    if (FPageCache.TransactionActive()) FPageCache.Rollback();
    FPageCache.ClearCache();  // clean pages may hold bytes of an undone commit, or go stale
    if (FBlockCache.TransactionActive()) FBlockCache.Rollback();
    FBlockCache.Close();
    FTransactionEOF = 0;
    FTransactionActive = false;
}

void TOrqFile::Rollback() {
    if (!FTransactionActive) OrqDatabaseError(10257, "TOrqFile.Rollback", "", this);
    // The clean pages go too: the connection gives up its locks now, so any of them (read under
    // a lock, or laid over with the transaction's own ranges) may be changed by another
    // connection's commit, while the header counters this connection holds were moved on by the
    // transaction and can no longer tell.
    DropTransaction();
}

std::vector<TFileRange> TOrqFile::PendingWrites() const {
    std::vector<TFileRange> ranges;
    for (TCachePage* page : FPageCache.DirtyPages())
        ranges.push_back({KeyOf(page->LowerAddress(), page->UpperAddress()), page->PageSize()});
    for (TCacheBlock* block : FBlockCache.Blocks())
        if (block->State() == cpDirty)
            ranges.push_back({KeyOf(block->LowAddress(), block->HighAddress()), block->BlockSize()});
    std::sort(ranges.begin(), ranges.end(),
              [](const TFileRange& a, const TFileRange& b) { return a.Position < b.Position; });
    return ranges;
}

// ---------------------------------------------------------------------------------------------
// Rollback journal

bool TOrqFile::LockFileByte(uint64_t Address, bool& Held, bool Wait) {
    if (!CheckOpen() || Held) return false;
    const int32_t attempts = Wait ? std::max(FLockRetryCount, 1) : 1;
    for (int32_t i = 0; i < attempts; ++i) {
        if (FFile.Lock(Address, 1)) {
            Held = true;
            return true;
        }
        if (i + 1 < attempts) platform::Sleep(uint32_t(std::max(FLockRetryInterval, 0)));
    }
    return false;
}

void TOrqFile::UnlockFileByte(uint64_t Address, bool& Held) {
    if (Held && CheckOpen()) FFile.Unlock(Address, 1);
    Held = false;
}

bool TOrqFile::LockJournal(bool Wait) { return LockFileByte(CJournalLockAddress, FJournalLocked, Wait); }

void TOrqFile::UnlockJournal() { UnlockFileByte(CJournalLockAddress, FJournalLocked); }

bool TOrqFile::LockRecovery(bool Wait) { return LockFileByte(CRecoveryLockAddress, FRecoveryLocked, Wait); }

void TOrqFile::UnlockRecovery() { UnlockFileByte(CRecoveryLockAddress, FRecoveryLocked); }

void TOrqFile::LockJournalToCommit() {
    static constexpr const char* Caller = "TOrqFile.Commit";
    // Neither lock is waited for while the other is held: the journal lock may be held for a
    // whole commit, and the connections that only look at the journal must not wait that long
    // for the recovery lock.
    const int32_t attempts = std::max(FLockRetryCount, 1);
    for (int32_t i = 0;; ++i) {
        if (LockRecovery(false)) {
            if (LockJournal(false)) break;
            UnlockRecovery();
        }
        if (i + 1 >= attempts) OrqDatabaseError(10249, Caller, "The rollback journal is in use", this);
        platform::Sleep(uint32_t(std::max(FLockRetryInterval, 0)));
    }
    struct TRecoveryUnlock {
        TOrqFile& File;
        ~TRecoveryUnlock() { File.UnlockRecovery(); }
    } unlockRecovery{*this};
    // A journal that nobody else may be writing now and that still validates belongs to a commit
    // that died: its ranges must be restored (by a reader, under its locks) before this one goes.
    if (platform::FileExists(FJournalName)) {
        TOrqJournal journal(FJournalName);
        const TJournalState state = journal.Inspect(uint32_t(FOpenPageSize), false);
        if (state == jsValid || state == jsOtherPageSize) {
            UnlockJournal();
            OrqDatabaseError(10249, Caller, "An interrupted commit must be recovered first", this);
        }
    }
}

void TOrqFile::RecoverJournal(TOrqJournal& Journal) {
    static constexpr const char* Caller = "TOrqFile.RecoverJournal";
    RequireOpen(Caller);
    if (FFile.Access() == platform::FileAccess::Read)
        OrqDatabaseError(10501, Caller, "The database file is open for reading only", this);
    Journal.Replay(FFile);
    try {
        Journal.Invalidate();
    } catch (...) {
        // The file now holds what the journal holds: replaying it again changes nothing.
    }
    Journal.Delete();
    FPageCache.ClearCache();
    if (FTransactionActive) {
        // The interrupted commit's appended pages are gone: the end is the file's or this
        // transaction's own furthest write.
        int64_t end = 0;
        for (const TFileRange& range : PendingWrites()) end = std::max<int64_t>(end, int64_t(range.Position + range.Size));
        FTransactionEOF = end;
    }
}

// ---------------------------------------------------------------------------------------------
// Flush and copy

void TOrqFile::FlushBuffers() {
    if (!CheckOpen() || !FDurable) return;
    if (!FFile.Flush()) OrqDatabaseError(8450, "TOrqFile.FlushBuffers", "The file buffers could not be flushed", this);
}

bool TOrqFile::CopyOrqFile(const std::string& DestName) {
    if (!CheckOpen()) OrqDatabaseError(8449, "TOrqFile.CopyOrqFile", "File handle is invalid", this);
    // Creating the destination truncates it: it must not be the file being copied.
    std::error_code ec;
    if (std::filesystem::equivalent(DestName, FFile.Path(), ec))
        OrqDatabaseError(8450, "TOrqFile.CopyOrqFile", "The file could not be copied correctly", this);
    platform::File dest;
    if (!dest.Open(DestName, platform::FileAccess::ReadWrite, platform::FileShare::Exclusive,
                   platform::FileCreate::CreateAlways))
        OrqDatabaseError(8449, "TOrqFile.CopyOrqFile",
                         "Unable to open file. Error type of: " + platform::SysErrorMessage(platform::GetLastError()),
                         this);
    try {
        std::vector<uint8_t> chunk(4096);
        int64_t position = 0;
        for (;;) {
            int64_t n = FFile.Read(position, chunk.data(), int64_t(chunk.size()));
            // A short count is the end of the file only when the platform says so.
            if (n < 0 || (n < int64_t(chunk.size()) && platform::GetLastError() != platform::ErrorHandleEof))
                OrqDatabaseError(9217, "TOrqFile.CopyOrqFile", "Unable to complete file read operation", this);
            if (n > 0 && dest.Write(position, chunk.data(), n) != n)
                OrqDatabaseError(9218, "TOrqFile.CopyOrqFile", "Unable to complete file write operation", this);
            position += n;
            if (n < int64_t(chunk.size())) break;
        }
        if (!dest.Flush())
            OrqDatabaseError(8450, "TOrqFile.CopyOrqFile", "The file buffers could not be flushed", this);
        if (dest.Size() != FFile.Size())
            OrqDatabaseError(8450, "TOrqFile.CopyOrqFile", "The file could not be copied correctly", this);
    } catch (...) {
        dest.Close();
        platform::DeleteFile(DestName);  // no partial copy is left behind
        throw;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Keys

void TOrqFile::SetXORKeyBuf(const char* Key, int32_t Len) {
    if (CheckOpen()) OrqDatabaseError(8581, "TOrqFile.SetXORKeyBuf", "Cannot set Crypt key on an opened file", this);
    FXORKey.assign(Key, std::size_t(std::max(Len, 0)));
}

void TOrqFile::SetBlowKeyBuf(const char* Key, int32_t Len) {
    if (Len < 1 || Len > 56 || !BlowfishInit(FBlowfish, Key, Len * 8, nullptr))
        OrqDatabaseError(8581, "TOrqFile.SetBlowKeyBuf", "Crypt key length is out of range", this);
    FBlowKeySet = true;
}

// ---------------------------------------------------------------------------------------------
// File-level locks

uint16_t TOrqFile::ReadLockOrqFile(uint32_t Offset, uint32_t Size, bool NoProbe) {
    if (!CheckOpen()) OrqDatabaseError(8449, "TOrqFile.ReadLockOrqFile", "File handle is invalid", this);
    const uint64_t address = OrqFileLockBase + Offset;
    const int32_t attempts = std::max(FLockRetryCount, 1);
    for (int32_t i = 0; i < attempts; ++i) {
        if (FFile.Lock(address, Size)) return 1;
        if (!NoProbe && FFile.Lock(address + 1, Size)) {
            FFile.Unlock(address + 1, Size);
            return 2;
        }
        if (i + 1 < attempts) platform::Sleep(uint32_t(std::max(FLockRetryInterval, 0)));
    }
    OrqDatabaseError(10249, "TOrqFile.ReadLockOrqFile", "", this);
}

uint16_t TOrqFile::WriteLockOrqFile(uint32_t Offset, uint32_t Size) {
    RequireOpen("TOrqFile.WriteLockOrqFile");
    const uint64_t address = OrqFileLockBase + Offset;
    const int32_t attempts = std::max(FLockRetryCount, 1);
    for (int32_t i = 0; i < attempts; ++i) {
        if (FFile.Lock(address, Size)) return 4;
        if (i + 1 < attempts) platform::Sleep(uint32_t(std::max(FLockRetryInterval, 0)));
    }
    OrqDatabaseError(10249, "TOrqFile.WriteLockOrqFile", "", this);
}

bool TOrqFile::UnlockOrqFile(uint32_t Offset, uint32_t Size) {
    RequireOpen("TOrqFile.UnlockOrqFile");
    const uint64_t address = OrqFileLockBase + Offset;
    if (FFile.Unlock(address, Size)) return true;
    if (Size == 2) {
        bool first = FFile.Unlock(address, 1);
        bool second = FFile.Unlock(address + 1, 1);
        return first && second;
    }
    return false;
}

}  // namespace ostra
