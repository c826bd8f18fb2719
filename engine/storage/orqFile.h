// orqFile: TOrqFile, the database file as the operating system sees it. One platform::File
// handle with its access and share mode, positioned reads and writes, the per-page encryption,
// the file-level state of a transaction, the byte-range locks on the file itself and a byte
// copy of the file. The disk manager reaches the file only through this class.
//
// Routing of a transfer (SeekAndReadOrqFile / SeekAndWriteOrqFile):
//   access bit 1 and (cache active or transaction)  -> the page cache (orqCacheMgr.h), which
//                                                      calls back InternalReadPage/WritePage,
//                                                      the only path that encrypts;
//   otherwise, no transaction                       -> the file directly, never encrypted;
//   otherwise (transaction, uncached)               -> the block cache.
// Access flags: 1 = through the page cache, 2 = XOR-scrambled page, 4 = Blowfish page.
//
// States: closed -> CreateOrqFile / OpenOrqFile -> open (no transaction <-> transaction) ->
// CloseOrqFile -> closed. Closing during a transaction discards it.
//
// Invariants while a transaction runs (they make the two caches one consistent view of the
// file, so that the newest bytes of any address win whichever cache they went to):
//   A. every page held by the page cache holds the current content of its range: a page is
//      loaded from the file with the block cache's ranges laid over it, and a block write
//      over a cached page drops the page (clean, or wholly covered) or patches it (dirty);
//   B. no block-cache range overlaps a dirty page: dirtying a page cuts the block ranges over
//      it away, because the page is written whole at commit;
//   C. reads through the block cache see dirty pages (encoded as stored) over the file.
// Outside a transaction nothing is dirty, and a write that bypasses the page cache drops the
// cached pages it overlaps, so the page cache never holds bytes the file does not.
//
// Commit is atomic (orqJournal.h has the states): under the journal lock, the old content of
// every range it will overwrite (PendingWrites) goes to the rollback journal beside the file,
// which is flushed; then the pages and ranges are written in place and the file is flushed; then
// the journal is made invalid and deleted. A commit that fails part-way writes the journal back,
// ends the transaction as rolled back and raises the error; a commit that dies part-way leaves
// the journal, which the next reader replays (TDiskMgr::RecoverInterruptedCommit). The only
// exceptions are a file set not durable (SetDurable) and the benchmark hook
// TUnjournaledCommitsForBenchmark at the end of this file.
#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/orqCacheMgr.h"
#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqJournal.h"
#include "host/Object.h"
#include "platform/File.h"

namespace ostra {

// A byte range of the file: what a commit will overwrite.
struct TFileRange {
    uint64_t Position;
    uint64_t Size;
};

// Access flag bits of a transfer.
inline constexpr uint32_t OrqAccessCache = 1;
inline constexpr uint32_t OrqAccessXOR = 2;
inline constexpr uint32_t OrqAccessBlowfish = 4;

// The address the file-level locks are based at: offset 1 is 0x0FF10000.
inline constexpr uint64_t OrqFileLockBase = 0x0FF0FFFF;

// The paged database file.
class TOrqFile : public TObject {
public:
    // Page size 4096, both caches created (not open).
    TOrqFile();
    // CloseOrqFile.
    ~TOrqFile() override;
    TOrqFile(const TOrqFile&) = delete;
    TOrqFile& operator=(const TOrqFile&) = delete;

    // True while a file is open.
    bool CheckOpen() const { return FFile.IsOpen(); }

    // Closes an open file, creates Name (truncating an existing file; read and write, exclusive)
    // and readies the caches. Returns a positive value, or -1 when the file could not be created
    // (the platform's last error says why). Page size 0: 8581.
    int32_t CreateOrqFile(const std::string& Name);
    // Closes an open file and opens the existing Name with the open flags; sizes the page cache by
    // CachePages (by default a quarter of the file's pages, 50 to 1000). Returns a positive value. Page size 0: 8581
    // "Database page size not set on opening"; no XOR key: 8581 "Crypt key not set before
    // opening"; refused: 8449 "Unable to open file. Error type of: " and the system message.
    int32_t OpenOrqFile(const std::string& Name);
    // Drops both caches (written or not) and any transaction, closes the handle, frees the
    // buffers and the XOR key. The Blowfish state stays.
    void CloseOrqFile();

    // The routed transfers (see above); return Size. A table id above 2048 writes the trace line
    // "Invalid table id" and goes on. Short reads: 9217; short writes: 9218; a write beyond the
    // 32-bit address space: 9600. When Stamp is given: the stamp of the cached page the range
    // lies in (TCachePage::Stamp; it changes whenever the page's content may have), 0 when the
    // transfer did not go through one page of the page cache.
    int32_t SeekAndReadOrqFile(void* Buffer, uint32_t Position, int32_t Size, uint32_t TableID, uint32_t AccessFlags,
                               uint64_t* Stamp = nullptr);
    int32_t SeekAndWriteOrqFile(const void* Buffer, uint32_t Position, int32_t Size, uint32_t TableID,
                                uint32_t AccessFlags, uint64_t* Stamp = nullptr);
    // In-place variants through the page cache only (assertions "SeekAndReadOrqFileByRef failed to
    // access cache" / "SeekAndWriteOrqFileByRef accessed in error" otherwise).
    // Keep: the page is kept in the page cache before others (TCacheMgr::ReadCacheByRef).
    int32_t SeekAndReadOrqFileByRef(uint32_t Position, int32_t Size, uint32_t TableID, uint32_t AccessFlags,
                                    uint8_t*& Buffer, uint64_t* Stamp = nullptr, bool Keep = false);
    // True when a transfer with these access flags can go by reference (through the page cache).
    bool TransfersByRef(uint32_t AccessFlags) const {
        return (AccessFlags & OrqAccessCache) && (FCacheActive || FTransactionActive) && CheckOpen();
    }
    int32_t SeekAndWriteOrqFileByRef(const void* Buffer, uint32_t Position, int32_t Size, uint32_t TableID,
                                     uint32_t AccessFlags);
    // Writes Size bytes at the end of the file (the transaction's end while one runs) and returns
    // the position written. End unknown or beyond the 32-bit address space: 9600.
    uint32_t SeekAndAppendOrqFile(const void* Buffer, int32_t Size, uint32_t TableID, uint32_t AccessFlags);
    // Transfers that never use the page cache and never encrypt: inside a transaction through the
    // block cache, outside straight to the file.
    void ReadThroughOrqFile(void* Buffer, uint32_t Position, int32_t Size);
    void WriteThroughOrqFile(const void* Buffer, uint32_t Position, int32_t Size);
    // Writes the page-sized Buffer (zeros) at Address, raw; the page cache drops its copy.
    void ReleasePage(uint32_t Address, const void* Buffer);

    // The file position: 0; the end of the file (-1 on error; while a transaction runs, the end
    // of its own writes when they reach further); Position.
    int64_t SeekOrqBof();
    int64_t SeekOrqEof();
    int64_t SeekOrqPosition(int64_t Position);

    // Starts a transaction: 10256 when one is active, 8450 "File handle is invalid" when closed.
    void StartTransaction();
    // Writes the transaction's pages and ranges atomically through the rollback journal and
    // flushes the file. No transaction: 10257. A file open for reading only: 10501. The journal
    // lock not to be had, or the valid journal of an interrupted commit beside the file: 10249.
    // On any failure the file is as it was before, the transaction is over (rolled back, no
    // cached page of it left) and the error is raised.
    void Commit();
    // Drops the transaction's pages and ranges, and every clean cached page with them (the
    // locks that kept them current go with the transaction). No transaction: 10257.
    void Rollback();
    bool GetTransactionActive() const { return CheckOpen() && FTransactionActive; }
    // What Commit would write now, in address order: the dirty pages and the block ranges.
    std::vector<TFileRange> PendingWrites() const;

    // Flushes the file to stable storage; nothing when not open. Failure: 8450 "The file buffers
    // could not be flushed".
    void FlushBuffers();
    // Copies the file (as stored: a running transaction is not part of it) to DestName, replacing
    // a file of that name. Returns true. Not open: 8449; a copy of the wrong size: 8450.
    bool CopyOrqFile(const std::string& DestName);

    // Keeps a copy of the weak key. Open file: 8581 "Cannot set Crypt key on an opened file".
    void SetXORKeyBuf(const char* Key, int32_t Len);
    // Sets up the Blowfish state with the Len key bytes (8 x Len bits, no IV); allowed while open.
    // A length outside 1..56: 8581 "Crypt key length is out of range" (the old key would stay).
    void SetBlowKeyBuf(const char* Key, int32_t Len);

    // Takes effect at the next open; an open file keeps the page size it was opened with.
    void SetPageSize(int32_t Value) { FPageSize = Value; }
    int32_t PageSize() const { return FPageSize; }
    // The number of pages the page cache starts with at the next open or create; 0 (the default)
    // sizes it by the file: a quarter of its pages, at least 50 and at most 1000. Inside a
    // transaction the cache grows beyond it by the pages the transaction changes.
    void SetCachePages(int32_t Value) { FCachePages = std::max(Value, 0); }
    int32_t CachePages() const { return FCachePages; }
    void SetOpenRead(bool Value) { FOpenRead = Value; }
    void SetOpenWrite(bool Value) { FOpenWrite = Value; }
    void SetOpenReadExclusive(bool Value) { FOpenReadExclusive = Value; }
    void SetOpenWriteExclusive(bool Value) { FOpenWriteExclusive = Value; }
    void SetLockRetryCount(int32_t Value) { FLockRetryCount = Value; }
    void SetLockRetryInterval(int32_t Value) { FLockRetryInterval = Value; }
    void SetBeepOnLockRetry(bool Value) { FBeepOnLockRetry = Value; }
    // Durability (on by default). A file that is not durable commits without the rollback journal
    // and flushes nothing: the pages are written in place, so a crash or a failed write leaves it
    // torn. Only for a file nobody else uses and that is thrown away when its work fails (the new
    // file of a database rebuild); once a commit of it failed part-way, every later commit and
    // SetDurable(true) raise 8450. SetDurable(true) flushes the file once, so everything committed
    // before is on stable storage when it returns. Closing the file makes the setting durable
    // again (without a flush).
    void SetDurable(bool Value);
    bool Durable() const { return FDurable; }
    // Transfers with access bit 1 use the page cache outside transactions.
    void SetCacheActive(bool Value) { FCacheActive = Value; }
    bool CacheActive() const { return FCacheActive; }

    // The page procedures of the page cache. Read: the stored page (the transaction's view while
    // one runs), decrypted into Buffer when AccessFlags has bit 2 or 4; fewer than PageSize bytes:
    // 9217. Write: Buffer encrypted into the work buffer (Buffer is never changed) and written;
    // a short write: 9218.
    void InternalReadPage(uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                          uint32_t HighPosition);
    void InternalWritePage(const uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                           uint32_t HighPosition);
    // The page cache's run procedure: Count adjacent pages (each encrypted as its flags say) in
    // one write; a short write: 9218.
    void WritePageRun(TCachePage* const* Pages, int Count);
    // The page cache's run read procedure: Count adjacent pages in one read, each decoded for
    // TableID and AccessFlags; returns how many the file holds whole. Inside a transaction, or
    // when the run cannot be read whole from its first page, the first page alone is read as
    // InternalReadPage reads it.
    int ReadPageRun(TCachePage* const* Pages, int Count, uint32_t TableID, uint32_t AccessFlags);
    // The block procedures: Size bytes at Position, straight from and to the file. A short read:
    // 9217 "Unable to complete file read operation"; a short write: 9218 "Unable to complete
    // file write operation". TableID, AccessFlags are ignored.
    void InternalRead(uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                      uint32_t HighPosition, uint32_t Size);
    void InternalWrite(const uint8_t* Buffer, uint32_t TableID, uint32_t AccessFlags, uint32_t Position,
                       uint32_t HighPosition, uint32_t Size);
    // Bit 2: the XOR scheme with the stored key and TableID as offset (the same call both ways);
    // otherwise Blowfish 8-bit CFB (Encrypt or decrypt), then the IV is reset, so every page
    // starts from the same IV. Src and Dst must not overlap.
    void InternalCryptBuf(bool Encrypt, const uint8_t* Src, uint8_t* Dst, uint32_t AccessFlags, uint32_t TableID,
                          int32_t Count);

    // Byte-range locks on the file itself at Offset + 0x0FF0FFFF, up to LockRetryCount attempts
    // LockRetryInterval ms apart; out of attempts: 10249.
    // Read lock: 1 when locked; 2 when, unless NoProbe, the range at Offset + 0x0FF10000 could be
    // locked (and was unlocked again). Closed file: 8449.
    uint16_t ReadLockOrqFile(uint32_t Offset, uint32_t Size, bool NoProbe);
    // Write lock: 4. Closed file: 8450 "File handle is invalid".
    uint16_t WriteLockOrqFile(uint32_t Offset, uint32_t Size);
    // Unlocks Size bytes at Offset + 0x0FF0FFFF; for Size 2 falls back to one byte there and one
    // at Offset + 0x0FF10000. Closed file: 8450 "File handle is invalid".
    bool UnlockOrqFile(uint32_t Offset, uint32_t Size);

    // ----- Rollback journal (orqJournal.h)
    // The journal beside the open file (GetJournalFileName of the name it was opened by); "" when
    // closed.
    const std::string& JournalFileName() const { return FJournalName; }
    // Takes the journal lock on the file: one attempt, or with Wait the lock retry rule above.
    // True when it is held; false when closed or another handle holds it.
    bool LockJournal(bool Wait);
    // Gives the journal lock back.
    void UnlockJournal();
    // The recovery lock (CRecoveryLockAddress), taken like the journal lock. Whoever looks at a
    // journal it did not write holds it, and a commit holds it while it takes the journal lock
    // and makes sure no other journal lies beside the file: so the journal lock held without it
    // always belongs to a live commit whose journal is the one beside the file (orqJournal.h).
    bool LockRecovery(bool Wait);
    void UnlockRecovery();
    // With the journal lock held and Journal found valid by Inspect: writes the old content back
    // into the file, flushes it, removes the journal, drops the clean cached pages and, inside a
    // transaction, re-bases the transaction's end of file (its own writes stay). A file open for
    // reading only: 10501. A failure of the replay is raised and leaves the journal valid.
    void RecoverJournal(TOrqJournal& Journal);

    // The caches, for the disk manager (ClearOwnedPages, cache size) and for tests.
    TCacheMgr& PageCache() { return FPageCache; }
    TCacheBlockMgr& BlockCache() { return FBlockCache; }
    // The platform handle, for locks the disk manager takes on the database file.
    platform::File& Handle() { return FFile; }

private:
    // Readies the caches and the work buffers for an open file of PageCount cache pages.
    void OpenCaches(int32_t PageCount);
    // The raw bytes of one page as the running transaction sees them (file + block ranges).
    void ReadRawPage(uint8_t* Raw, uint32_t Position, uint32_t HighPosition);
    // The block cache's read procedure: the file with the dirty pages (as stored) laid over it.
    void ReadBehindBlocks(uint8_t* Buffer, uint32_t Position, uint32_t HighPosition, uint32_t Size);
    // Stored form of a plain page (encrypted when its flags say so) into Raw, and back.
    void EncodePage(const uint8_t* Plain, uint8_t* Raw, uint32_t AccessFlags, uint32_t TableID);
    void DecodePage(const uint8_t* Raw, uint8_t* Plain, uint32_t AccessFlags, uint32_t TableID);
    // The page cache's recode procedure.
    void RecodePage(uint8_t* Buffer, uint32_t OldTableID, uint32_t OldAccessFlags, uint32_t NewTableID,
                    uint32_t NewAccessFlags);
    // A raw write outside the page cache: no transaction -> the file (dropping the cached pages it
    // overlaps); transaction -> the block cache, keeping invariants A and B.
    void WriteUncached(const uint8_t* Buffer, uint32_t Position, uint32_t Size);
    // After pages of [Position, Position + Size) became dirty: cut block ranges over them (B).
    void PagesDirtied(uint32_t Position, uint32_t Size);
    // After a cached write failed part-way: PagesDirtied for the pages of the range now dirty.
    void DirtyPagesFailed(uint32_t Position, uint32_t Size);
    // Grows the transaction's end of file to cover a write.
    void NoteTransactionWrite(uint32_t Position, uint32_t Size);
    // The one place where a commit writes: the journal, then pages and block ranges, then the
    // flush, then the journal's removal; undone from the journal on failure.
    void CommitWrites();
    // A commit without the journal: the pages and ranges written in place, then, with Flush, the
    // flush. A failure part-way marks a non-durable file torn.
    void CommitInPlace(bool Flush);
    // The journal lock for a commit, taken under the recovery lock (both one attempt at a time,
    // by the lock retry rule), with no journal of another commit left beside the file; the
    // recovery lock is given back. Out of attempts, or the valid journal of a commit that died
    // beside the file: 10249.
    void LockJournalToCommit();
    // One byte of the database file at Address (the journal or the recovery lock), Held telling
    // whether this object holds it: one attempt, or with Wait the lock retry rule. True when taken
    // now; false when closed, already held or held by another handle.
    bool LockFileByte(uint64_t Address, bool& Held, bool Wait);
    void UnlockFileByte(uint64_t Address, bool& Held);
    // After a rollback or a failed commit: no dirty or clean page, no block range, no transaction.
    void DropTransaction() noexcept;
    // Closes the handle and drops the caches, keeping the keys.
    void CloseHandle();
    // Plain file transfers of Size bytes at Position; short: 9217 / 9218 raised as Caller.
    void RawRead(uint8_t* Buffer, uint64_t Position, uint32_t Size, const char* Caller);
    void RawWrite(const uint8_t* Buffer, uint64_t Position, uint32_t Size, const char* Caller);
    void CheckTableID(uint32_t TableID) const;
    // Closed file: 8450 "File handle is invalid" raised as Caller.
    void RequireOpen(const char* Caller);

    platform::File FFile;
    std::vector<uint8_t> FPageBuffer;  // raw I/O of one page (reads and encrypted writes)
    std::vector<uint8_t> FCodeBuffer;  // encoding of cached pages outside the I/O path
    std::vector<uint8_t> FRunBuffer;   // a run of pages written at commit or read ahead, as stored
    std::string FXORKey;
    int64_t FTransactionEOF = 0;  // the furthest end of the running transaction's own writes; 0 outside
    TCacheMgr FPageCache;
    TCacheBlockMgr FBlockCache;
    bool FOpenWrite = false;
    bool FOpenRead = false;
    bool FOpenReadExclusive = false;
    bool FOpenWriteExclusive = false;
    bool FBeepOnLockRetry = false;
    int32_t FLockRetryInterval = 200;
    int32_t FLockRetryCount = 10;
    int32_t FPageSize = 4096;
    int32_t FOpenPageSize = 0;  // the page size of the open file
    int32_t FCachePages = 0;    // the page cache's size at open; 0 = by the file's size
    bool FCacheActive = false;
    bool FTransactionActive = false;
    TBlowfishData FBlowfish;
    bool FBlowKeySet = false;
    std::string FJournalName;   // the journal of the open file
    bool FJournalLocked = false;  // the journal lock is held
    bool FDurable = true;         // commits go through the journal and flush (SetDurable)
    bool FTorn = false;           // a commit of the non-durable file failed part-way
    bool FRecoveryLocked = false;  // the recovery lock is held
};

// Benchmark hook: while an object of this class lives, every TOrqFile of the process commits
// without the rollback journal -- no journal lock, no journal file, no undo: the pages and ranges
// are written in place and the file is flushed, so a commit that dies or fails part-way leaves
// the file torn. It exists only so that bench/bench_commit.cpp can measure what the journal
// costs against the same commit without it. Nothing in the product creates one, and no setting,
// open flag, file or environment variable leads to it; a test or benchmark that wants it must
// name this class. Create and destroy it only while no commit runs (the count is process-wide).
class TUnjournaledCommitsForBenchmark {
public:
    TUnjournaledCommitsForBenchmark();
    ~TUnjournaledCommitsForBenchmark();
    TUnjournaledCommitsForBenchmark(const TUnjournaledCommitsForBenchmark&) = delete;
    TUnjournaledCommitsForBenchmark& operator=(const TUnjournaledCommitsForBenchmark&) = delete;
    // True while at least one such object lives.
    static bool Active();
};

}  // namespace ostra
