// orqDisk: TDiskMgr, the one object through which the engine reaches a database file.
//
// It creates, opens and closes the file; fixes the file layout (the fixed areas, the global
// header, the security header); hands out and takes back pages through the allocation maps
// (orqMapPageMgr.h); moves pages and byte ranges through the paged file (orqFile.h) and its
// caches; and offers the header, table, record and transaction locks of the lock managers
// (orqLockMgrUnit.h) and the transactions of the paged file to the layers above.
//
// File layout (page n starts at n x PageSize; integers little-endian; addresses unsigned 32-bit):
//
//   Address          Length     Content
//   0                254        database definition record (the database component's)
//   768              40         security header (TSecurityHeader below)
//   1024             128        global header (orqGlobalHdr.h)
//   PageSize         8192       table map of the system tables
//   3 x PageSize     8192       table map of the user tables
//   5 x PageSize     PageSize   first allocation map page
//   6 x PageSize ... pages handed out by the maps, further map pages
//
// A new file is six zero pages with the header and map page 5 filled in. The page size is not
// stored in the file; it must be a power of two from 4096 to 32768 (below 4096 the fixed areas
// overlap; above 32768 the maps' 15-bit free-list links cannot reach every entry), and a file
// must be opened with the page size it was made with.
//
// Access flags of a transfer: 1 through the page cache, 2 XOR-scrambled, 4 Blowfish; headers,
// maps and the definition record use 0, table data 1, 3 or 5.
//
// States:
//   closed       after construction or Close: only the set-up calls and CreateNewFile mean
//                anything; no file, header, map manager, user monitor or lock manager exists.
//   open         after Open: transfers, locks and transactions work. The header lock is held
//                only during an operation (or while a caller holds it on purpose); the header
//                flags say whether the current operation or caller holds it.
//   transaction  between DiskStartTransaction and DiskCommit / DiskRollback: every write is
//                held in the caches until commit; table and record locks are only released at
//                the end; table write locks are held as read locks (plus the table's
//                transaction lock) and upgraded at commit. The header lock, once taken, stays
//                until the end.
// A failure inside Open closes again what it had opened; Close copes with any partial state.
//
// Invariants:
//   - every change to the maps and the global header is made under the header write lock, and
//     the global header is read again whenever the header lock is taken fresh, so changes made
//     by other connections are seen;
//   - a page operation that took the header lock releases it on every exit, also on failure;
//     one that found it held leaves it held;
//   - appended pages go to the end of the file as it is when the header lock is held (or after the
//     transaction's own writes), never to an end seen earlier: another connection may have
//     appended meanwhile, or cut the file back when it replayed a dead commit's journal;
//   - a commit (and ForceToDisk) upgrades the table locks before it writes, writes everything in
//     one atomic step through the rollback journal (TOrqFile::Commit, orqJournal.h) and flushes
//     it to stable storage before any lock is released; a commit that fails is undone, ends the
//     transaction as rolled back and raises;
//   - nothing is read from the file while the journal of a commit that died lies beside it: Open,
//     every table lock taken (the header lock too) and every commit first replay such a journal
//     (RecoverInterruptedCommit), holding the journal lock and a write lock on every table-lock
//     region that this connection does not hold itself, so no other connection reads meanwhile;
//     whoever inspects a journal holds the recovery lock with the journal lock, and a commit
//     takes the journal lock under it, so the journal lock held without it always means a live
//     commit whose journal is the one beside the file, never an inspection of a dead one;
//   - other connections see a change only through the table's header: every commit (and every
//     write lock released outside a transaction) that changed a table has written its header,
//     and a rollback leaves neither a clean cached page nor a trusted header counter behind;
//   - waits are fair and end: a writer waiting for a table stops new readers, waiters for a
//     table's transaction lock take turns, and every wait gives up with 10249 after its retries.
//
// Index pages: every page of index usage holds index blocks of its owner table only, so freeing a
// table's pages never touches another table's data (orqGlobalHdr.h, "Index pages"). Files with
// pages above 4096 made before that rule carry no IndexPageLayout mark; in them an index page may
// also hold other tables' blocks, and DeleteOwnedPages hands a table's index pages to the kept
// owner (CKeptIndexPageOwner) instead of freeing them: such a file loses space, never data.
//
// Without a lock file (the database file has the read-only attribute) nothing is locked: lock
// calls answer as if they had succeeded.
//
// One thread at a time per object; several connections share a file only through the locks.
#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/orqFile.h"
#include "engine/storage/orqGlobalHdr.h"
#include "engine/storage/orqLockMgrUnit.h"
#include "engine/storage/orqMapPageMgr.h"
#include "host/Object.h"

namespace ostra {

class TStrings;

// Where the security header lies and how long it is.
inline constexpr uint32_t CSecurityHeaderAddress = 768;
inline constexpr uint32_t CSecurityHeaderSize = 40;

// The page sizes a database file can have.
inline constexpr uint32_t CMinPageSize = 4096;
inline constexpr uint32_t CMaxPageSize = 32768;

// The file-level lock held while the database is open: 1000 bytes at 0x0FF10000 of the file.
inline constexpr uint64_t CDatabaseOpenLockAddress = 0x0FF10000;
inline constexpr uint64_t CDatabaseOpenLockSize = 1000;

// The owner word (table 0, index usage) that index pages of a file made before IndexPageLayout
// get instead of being freed: they may still hold index blocks of other tables.
inline constexpr uint16_t CKeptIndexPageOwner = CUsageIndex;

// The lock types of the lock calls.
inline constexpr uint8_t CNoLock = 0;
inline constexpr uint8_t CReadLock = 1;
inline constexpr uint8_t CWriteLock = 4;

// The security header: a digest of the master key and a CRC over the header.
//
//   Offset  Size  Item        Meaning
//   0       4     HeaderSize  always 40
//   4       8     WrittenAt   time of the last write (TDateTime: days since 1899-12-30)
//   12      2     Marker1     1; not checked on reading
//   14      2     Marker2     1; not checked on reading
//   16      20    KeyDigest   SHA-1 of the master key (orqCrypt.h byte order)
//   36      4     HeaderCRC   CRC-32 of the 40 bytes computed while this field is 0
struct TSecurityHeader {
    uint32_t HeaderSize = 0;
    double WrittenAt = 0;
    uint16_t Marker1 = 0;
    uint16_t Marker2 = 0;
    uint8_t KeyDigest[20] = {};
    uint32_t HeaderCRC = 0;

    // The 40 stored bytes, and back.
    void Encode(uint8_t* Bytes) const;
    void Decode(const uint8_t* Bytes);
};

// The number of bytes (a whole number of pages) to request for a run of fixed-size blocks:
// BlockSize rounded up to pages when that wastes at most a quarter page, otherwise the multiple
// of PageSize below 10 x that size that leaves the least remainder (the smaller on a tie).
// 256 -> 4096, 1000 -> 4096, 3000 -> 12288, 5000 -> 45056 at page size 4096. BlockSize or
// PageSize 0: assertion "Invalid block size of 0 in GetBestPageRequestSize".
uint32_t GetBestPageRequestSize(uint32_t BlockSize, uint32_t PageSize);

// Copies Source to Dest; fails when Dest exists and Overwrite is false. True on success.
bool DoCopyFile(const std::string& Source, const std::string& Dest, bool Overwrite);

// The open table headers of one connection, as the disk manager needs them to keep the rule by
// which other connections see a table's changes. Another connection learns that a table changed
// only from the table's header: taking a table lock reads the header again, and a modification
// counter other than the one it holds makes it drop its cached pages of the table. So every
// committing transaction that changed a table must write the table's header (which moves the
// counter on), and after a rollback the counter a connection holds tells nothing. The table-header
// managers implement this interface and register while they are open.
class TTableHeaderKeeper {
public:
    virtual ~TTableHeaderKeeper() = default;
    // Writes the stored header of TableID again with its modification counter one higher (into
    // the running transaction; outside one straight to the file). False when TableID is not a
    // table of this keeper.
    virtual bool BumpTableHeader(uint32_t TableID) = 0;
    // The transaction that changed TableID was rolled back: what is held of its header no longer
    // tells whether the stored header changed, and its unwritten changes are void.
    virtual void ForgetTableHeader(uint32_t TableID) = 0;
    // The disk manager closes and forgets its keepers.
    virtual void DiskMgrClosed() = 0;
};

// The database file of one connection.
class TDiskMgr : public TObject {
public:
    // A closed manager: retry interval 200 ms, retry count 10.
    TDiskMgr();
    // Close (errors ignored), then the file object goes.
    ~TDiskMgr() override;
    TDiskMgr(const TDiskMgr&) = delete;
    TDiskMgr& operator=(const TDiskMgr&) = delete;

    // ----- Set-up (before Open or CreateNewFile)
    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& Value) { FFileName = Value; }
    uint32_t PageSize() const { return FPageSize; }
    void SetPageSize(uint32_t Value) { FPageSize = Value; }
    // The host file API's open mode: low three bits access (0 read, 1 write, 2 read and write),
    // bits 4 to 6 sharing (0x10 exclusive, 0x20 deny write, 0x30 deny read, 0x40 deny none).
    int32_t OpenFlags() const { return FOpenFlags; }
    void SetOpenFlags(int32_t Value) { FOpenFlags = Value; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value) { FReadOnly = Value; }
    // True while open with exclusive sharing.
    bool Exclusive() const { return FExclusive; }
    int32_t LockRetryCount() const { return FLockRetryCount; }
    // Also passed to the file object at once.
    void SetLockRetryCount(int32_t Value);
    int32_t LockRetryInterval() const { return FLockRetryInterval; }
    void SetLockRetryInterval(int32_t Value);
    // The target of DebugDumpContents; not owned.
    void SetDebugStrings(TStrings* List) { FDebugStrings = List; }
    // The master key and the Blowfish key of strongly encrypted pages. An empty Key means the
    // fixed default key, which CryptKey then holds. A key longer than 56 characters (more than
    // Blowfish takes) is refused with 9602 and changes nothing.
    void SetCryptKey(const std::string& Key);
    const std::string& CryptKey() const { return FCryptKey; }

    // ----- Life cycle
    // Opens the existing file FileName: PageSize 0: 8581 "PageSize is 0"; another invalid page
    // size: 8581 "Invalid database page size"; missing file: 11010 with the name; refused:
    // 8449. With a lock file (the file lacks the read-only attribute) joins it and makes the
    // three lock managers; replays the journal of an interrupted commit (RecoverInterruptedCommit,
    // whose errors it raises); reads and checks the global header (8961 when it cannot be right).
    // Closes first when open, and again when a step fails.
    void Open();
    // Creates and formats a new file, then closes it; a rollback journal of an earlier file of
    // that name is removed. With pages above 4096 the header is marked CIndexPagesOwnedAlone.
    // Invalid page size: 8581 "Invalid database page size"; an existing file without Overwrite:
    // 11043; the system refuses, or the old journal cannot be removed: 8582.
    void CreateNewFile(bool Overwrite);
    // Writes a dirty header, releases every lock, leaves the lock file, closes the file and frees
    // what Open made. Harmless when nothing is open. Everything is closed even when a step
    // fails; the first failure is raised afterwards.
    void Close();
    bool IsOpen() const { return FFile->CheckOpen() && FGlobalHdr != nullptr; }

    // ----- Page transfers (PageCount whole pages at a page address)
    void ReadPages(uint32_t Address, uint32_t PageCount, uint32_t TableID, uint32_t AccessFlags, void* Buffer);
    void WritePages(uint32_t Address, uint32_t PageCount, uint32_t TableID, uint32_t AccessFlags,
                    const void* Buffer);
    // Takes PageCount free contiguous pages from the maps, or appends them, writes Buffer there
    // and marks them with the owner word (TableID << 4) | Usage; returns the address. TableID
    // must be below 2048 and Usage 1 to 15 (8581 otherwise).
    uint32_t WriteNewPages(uint16_t TableID, uint32_t AccessFlags, uint16_t Usage, uint32_t PageCount,
                           const void* Buffer);
    // Writes PageCount pages at the end of the file without touching the map; returns their
    // address. The end is taken under the header write lock: the later of the end this
    // connection's transaction has reached and the end of the file on disk, rounded up to a
    // page. Beyond the 32-bit address space: 9600.
    uint32_t AppendNewPages(const void* Buffer, uint32_t PageCount, uint32_t TableID, uint32_t AccessFlags);
    // Marks the pages free in the map and overwrites each with zeros.
    void ReleasePages(uint32_t Address, uint32_t PageCount);
    // Frees every page of an owner (Exact: owner word (TableID << 4) | Usage; otherwise every
    // usage of TableID) and overwrites each with zeros; drops the table's cached pages. Where
    // IndexPagesMayBeShared, the table's index pages are not freed but given to
    // CKeptIndexPageOwner, untouched. With MaxPages above 0, at most that many pages are freed
    // (the zeroed pages wait in memory until the commit, so a large table is freed in steps);
    // returns the number freed.
    uint32_t DeleteOwnedPages(uint16_t TableID, uint16_t Usage, bool Exact, uint32_t MaxPages = 0);
    // True for a file with pages above 4096 made before IndexPageLayout: an index page may hold
    // index blocks of several tables, so none may be freed. Known from Open on.
    bool IndexPagesMayBeShared() const { return FIndexPagesMayBeShared; }

    // ----- Byte-range transfers (any size at any address); Stamp as TOrqFile::SeekAndReadOrqFile's
    void ReadCustomSize(uint32_t Address, uint32_t Size, uint32_t TableID, uint32_t AccessFlags, void* Buffer,
                        uint64_t* Stamp = nullptr);
    void WriteCustomSize(uint32_t Address, uint32_t Size, uint32_t TableID, uint32_t AccessFlags,
                         const void* Buffer, uint64_t* Stamp = nullptr);
    // Buffer := a pointer into the cached page that holds the range (one page; cache bit set).
    // Keep: the page is kept in the page cache before others (TCacheMgr::ReadCacheByRef).
    void ReadCustomSizeByRef(uint32_t Address, uint32_t Size, uint32_t TableID, uint32_t AccessFlags,
                             uint8_t*& Buffer, uint64_t* Stamp = nullptr, bool Keep = false);
    // The cached page at Address, changed in place through ReadCustomSizeByRef, counts as
    // written; Size must be PageSize.
    void WriteCustomSizeByRef(uint32_t Address, uint32_t Size, uint32_t TableID, uint32_t AccessFlags,
                              const void* Buffer);

    // ----- Headers
    // Reads the 128-byte global header and checks it. No header lock: 10248. Values that cannot
    // be right (first map page, map page count, hint, index page layout): 8961 "Corrupt Header".
    void ReadHeader();
    // Writes the global header; takes the header write lock first when it is not held (and
    // keeps it).
    void WriteHeader();
    // Takes the header read lock; reads the header when no header lock was held.
    void SetHeaderReadLock();
    // Takes the header write lock; reads the header when no header lock was held.
    void SetHeaderWriteLock();
    // Writes the header if dirty and releases the header lock; the header flags are cleared.
    // Inside a transaction the lock itself stays until the end, and taking it again later in the
    // transaction costs nothing: nobody else can change the header meanwhile, so it is not read.
    void ReleaseHeaderLock();
    bool HeaderReadLocked() const { return FHeaderReadLocked; }
    bool HeaderWriteLocked() const { return FHeaderWriteLocked; }
    // The global header while open; null when closed.
    TGlobalHdr* GlobalHdr() { return FGlobalHdr.get(); }
    // Reads the security header and checks it: a wrong CRC: 8451 "The Security Header CRC is
    // incorrect"; a digest other than that of CryptKey: 8451 "The MasterKey is incorrect".
    void ReadSecurityHeader(TSecurityHeader& Header);
    // Fills Header (size 40, now, markers 1, digest of CryptKey, CRC) and writes it.
    void WriteSecurityHeader(TSecurityHeader& Header);

    // ----- Locks (types 0 none, 1 read, 4 write)
    // Returns the type held afterwards. Inside a transaction a write lock is taken as a read lock
    // (upgraded at commit) together with the table's transaction lock (skipped for tables other
    // than the header when the transaction was started with NoTransactionLock). With the lock
    // held, replays the journal of an interrupted commit (RecoverInterruptedCommit), unless this
    // connection held a lock on the table before the call (it was checked then and no commit of
    // another connection can have written the table since); when that raises, a lock taken by
    // this call is given back.
    uint8_t SetTableLock(uint16_t TableID, uint8_t LockType);
    // Nothing inside a transaction or without lock file.
    void ReleaseTableLock(uint16_t TableID);
    uint8_t QueryTableLockStatus(uint16_t TableID) const;
    // A write lock on the record id (its block address); returns the type recorded.
    uint8_t SetRecordLock(uint32_t RecordID, uint16_t TableID);
    void ReleaseRecordLock(uint32_t RecordID);
    uint8_t QueryRecordLockStatus(uint32_t RecordID) const;
    // Releases everything the three lock managers hold; the header flags are cleared.
    void ReleaseAllLocks();
    // The user slots of the lock file. Without lock file: 10501 "Connection details unavailable
    // for read only database files".
    void GetCurrentUsers(TStrings* List);

    // ----- Transactions
    // Starts the file transaction (10256 when one is active); NoTransactionLock skips the per-
    // table transaction locks.
    void DiskStartTransaction(bool NoTransactionLock);
    // Upgrades the table locks, replays the journal of a commit that died meanwhile, writes and
    // flushes the transaction atomically (TOrqFile::Commit), releases every lock. A transaction
    // with nothing to write skips the upgrade and the replay: it only gives its locks back. No transaction:
    // 10257. On a failure (a lock time-out of the upgrade, an I/O error) the file is as it was,
    // the transaction is rolled back (locks released, the header read again) and the error is
    // raised.
    void DiskCommit();
    // Drops the transaction, reads the global header as stored, releases every lock. No
    // transaction: 10257.
    void DiskRollback();
    bool IsTransactionActive() const { return FFile->GetTransactionActive(); }
    // In a transaction: upgrades the table locks, commits what the transaction holds (written and
    // flushed, atomically) and goes on in a new file transaction with the same locks; a failure
    // ends the transaction as DiskCommit's does. Otherwise flushes the file to stable storage.
    void ForceToDisk();
    // Replays the rollback journal of an interrupted commit (a valid journal beside the file whose
    // journal lock no other handle holds), so that the file is as it was before that commit;
    // removes a journal that is not valid. True when one was replayed. The journal is inspected
    // under the recovery lock and the journal lock; the replay holds both and a write lock on
    // every table-lock region of the lock file except those this connection holds; any of them
    // not to be had: 10249. A file opened for reading only: 10501 "The
    // database must be recovered from an interrupted commit: open it with write access"; a
    // journal of another page size: 8451.
    bool RecoverInterruptedCommit();

    // ----- Table changes and their headers
    // Every page or range written with a table id from 1 to 2047 changes that table. The change
    // reaches other connections only through a write of the table's header after it (see
    // TTableHeaderKeeper), and the engine makes sure of it rather than trusting each caller:
    // DiskCommit and ForceToDisk write, through the keepers, the header of every table that the
    // transaction changed and whose header it did not write itself; outside a transaction
    // ReleaseTableLock does the same for a write-locked table that changed under its lock. A
    // rollback (or a failed commit) tells the keepers to forget the headers of the tables it
    // changed.
    void AddTableHeaderKeeper(TTableHeaderKeeper* Keeper);
    void RemoveTableHeaderKeeper(TTableHeaderKeeper* Keeper);
    // The header of TableID was written (its counter moved on): the change is announced.
    void TableHeaderWritten(uint32_t TableID);
    // What proves that a copy of TableID's stored header is still current: non-zero only while
    // this connection holds a lock on the table (with a lock file), new whenever the lock is taken
    // fresh and whenever this connection writes or frees the table's header (TableHeaderChanged).
    // No other connection can write the table while the lock is held (a commit needs its write
    // lock), so a copy read or written under the value answered now equals the stored header.
    uint64_t HeaderProof(uint32_t TableID) const;
    // The stored header of TableID changed (written, or freed with its table): proofs given for
    // it before are void.
    void TableHeaderChanged(uint32_t TableID);
    // The generation of a table being made (orqGlobalHdr.h, "Table generations"): the global
    // header's LastTableGeneration + 1 (never 0), stored back under the header write lock (taken
    // when not held, and given back then).
    uint32_t NewTableGeneration();
    // The tables changed since their header was last written, in ascending order.
    std::vector<uint32_t> TablesOwingHeaders() const { return {FHeadersOwed.begin(), FHeadersOwed.end()}; }

    // ----- Other
    // The end of the file (the later of the transaction's end and the file's while one runs).
    // Failure: 8581 "Unable to get file size".
    uint32_t GetFileSize();
    // The page cache's size in bytes; 0 when not open.
    int64_t DiskCacheSize();
    // Copies the file as stored to DestName.
    void CopyCurrentFile(const std::string& DestName);
    // The address of every block of BlockSize bytes that the owner's fixed-block storage holds,
    // in map order. Takes the header read lock when no header lock is held, and releases only
    // what it took. BlockSize 0: assertion "Invalid block size of 0 in ListAllocatedFixedBlocks";
    // a page list that cannot hold the storage's runs: 8964 "Invalid requestpage/pagelist
    // sequence".
    void ListAllocatedFixedBlocks(uint32_t BlockSize, uint16_t TableID, uint16_t Usage, std::vector<uint32_t>& List);

    // ----- Debug aids (forwarded to the maps and the header, under a header read lock)
    void DebugListOwnedPages(uint16_t TableID, std::vector<uint32_t>& List);
    int32_t DebugCheckAddressOwnerFlags(uint16_t Owner, uint32_t Address);
    void DebugCheckContents(TStrings* List);
    // The header and the maps into DebugStrings.
    void DebugDumpContents();
    // "" when the maps agree with the file; otherwise what is wrong: "Map page count/file size
    // out of sync" and/or "Pages without a map entry: <n>, the first at <address>" (pages of the
    // file that no map entry owns or frees are never handed out again).
    std::string DebugCheckStatus();

    // ----- Parts, for the layers above and for tests
    TOrqFile& File() { return *FFile; }
    TMapPageMgr* MapMgr() { return FMapMgr.get(); }
    bool UsesLockFile() const { return FUsesLockFile; }
    TDBUserMonitor* UserMonitor() { return FUserMonitor.get(); }
    TBaseLockMgr* TableLockMgr() { return FTableLockMgr.get(); }
    TBaseLockMgr* RecordLockMgr() { return FRecordLockMgr.get(); }
    TBaseLockMgr* TransactionLockMgr() { return FTransactionLockMgr.get(); }

private:
    // The header lock taken for one page operation; Release (or destruction on failure) gives it
    // back only when no header flag was set on entry.
    class THeaderLockScope;
    // On entry takes the write lock unless held.
    class THeaderWriteScope;
    // On entry takes the read lock unless a header lock is held, for operations that only read
    // the maps.
    class THeaderReadScope;
    // The table-lock regions of the lock file that this connection does not hold, write-locked
    // for the life of the object (nothing without a lock file); while it waits for them it holds
    // the intent bytes of every table, so that no new reader gets in.
    class TTableRegionLock;
    // The recovery lock (CRecoveryLockAddress) for the life of the object, taken with the lock
    // retry rule (out of attempts: 10249): held by whoever looks at a journal it did not write.
    class TRecoveryLock;

    // The steps of Open after the first Close.
    void InternalOpen();
    void CheckPageSize(const char* Caller) const;
    // The header read from the file is checked against the file's size.
    void CheckHeader();
    // Writes the header bytes (flags 0) and clears its dirty flag.
    void InternalWriteHeader();
    // Releases the header lock on an error path: the in-memory header (possibly half changed)
    // is dropped, not written; it is read again when the lock is next taken.
    void AbandonHeaderLock() noexcept;
    // Takes header lock 0 of LockType; the first header lock of a connection reads the header.
    void TakeHeaderLock(const char* Caller, uint8_t LockType);
    void FreeLockManagers() noexcept;
    // Counts a write with TableID as a change of that table (see TablesOwingHeaders).
    void NoteTableChange(uint32_t TableID) {
        if (TableID != FLastChangedTable) NoteNewTableChange(TableID);
    }
    void NoteNewTableChange(uint32_t TableID);
    // The lock on TableID is given back: its header proof goes.
    void ForgetHeaderProof(uint32_t TableID);
    // Writes the header of TableID through the keeper that knows it; nobody does: the change
    // stays unannounced and is forgotten.
    void BumpTableHeader(uint32_t TableID);
    // Writes the header of every table owing one.
    void BumpOwedTableHeaders();
    // The transaction's changes are over: committed (nothing is owed any more) or gone (the
    // keepers forget the headers of the tables it changed).
    void EndTableChanges(bool Committed) noexcept;
    // After a failed commit: the file transaction dropped, every lock released, the header read
    // again under a fresh lock (which replays a journal that the undo had to leave).
    void CommitFailed() noexcept;
    uint32_t Owner(uint16_t TableID, uint16_t Usage) const;
    // PageCount x PageSize, or Size, as a transfer size; too large for one transfer: 8581.
    uint32_t ByteCount(uint32_t PageCount, const char* Caller);
    int32_t TransferSize(uint32_t Size, const char* Caller);
    void RequireOpen(const char* Caller);

    std::unique_ptr<TOrqFile> FFile;
    uint32_t FPageSize = 0;
    int32_t FOpenFlags = 0;
    std::string FFileName;
    std::unique_ptr<TGlobalHdr> FGlobalHdr;
    std::unique_ptr<TMapPageMgr> FMapMgr;
    TStrings* FDebugStrings = nullptr;
    bool FExclusive = false;
    bool FReadOnly = false;
    bool FHeaderReadLocked = false;
    bool FHeaderWriteLocked = false;
    bool FHeaderKeptInTransaction = false;  // the header lock was taken in this transaction and is held
    int32_t FLockRetryInterval = 200;
    int32_t FLockRetryCount = 10;
    bool FUsesLockFile = false;
    std::unique_ptr<TDBUserMonitor> FUserMonitor;
    std::unique_ptr<TBaseLockMgr> FTableLockMgr;
    std::unique_ptr<TBaseLockMgr> FRecordLockMgr;
    std::unique_ptr<TBaseLockMgr> FTransactionLockMgr;
    bool FNoTransactionLock = false;
    std::string FCryptKey;
    bool FOpenLockHeld = false;  // the file-level open lock is held
    bool FIndexPagesMayBeShared = false;
    std::vector<TTableHeaderKeeper*> FKeepers;  // not owned; they register while open
    std::set<uint32_t> FHeadersOwed;            // tables changed since their header was written
    std::set<uint32_t> FHeadersWritten;         // tables whose header the transaction wrote
    uint32_t FLastChangedTable = 0;             // noted as changed; no need to look again
    // The header proof of every table this connection holds a lock on (HeaderProof), and the last
    // proof given.
    std::vector<std::pair<uint32_t, uint64_t>> FHeaderProofs;
    uint64_t FLastHeaderProof = 0;
};

}  // namespace ostra
