// orqDataSet: TOrqDataSet, the engine cursor over one table.
//
// Every road from the components and from query execution into storage passes through the
// cursor: the dataset face and the table and query components derive from it, the database opens
// its system tables as plain cursors, and query execution opens cursors over its sources and
// result sets. It owns the objects an open table needs (record manager, index manager, blob
// interface, read-ahead buffer, blob cache, filter manager, the table definition) and reaches the
// database only through IOrqDataBase (orqDataBaseIntf.h).
//
// The cursor derives from the framework's TDataSet so that its descendants inherit the
// framework's properties and events; a bare TOrqDataSet cannot be opened as a framework dataset
// (those operations raise 8577). Its own operations, named DataSet... or Internal..., open and
// close the table, move, search, read and write records, fields and blobs, and build table
// definitions. The implementation is split by subject:
//   orqDataSet.cpp            structure, open and close, the table header, privileges
//   orqDataSetNavigation.cpp  the current index, moves, key searches, record numbers, read-ahead,
//                             locating
//   orqDataSetEditing.cpp     locks, adding, updating and deleting records, blobs, the blob cache
//   orqDataSetFields.cpp      field values, blob streams, index metadata
//   orqDataSetRanges.cpp      ranges, record lists, the filter hooks
//   orqDataSetTableDef.cpp    table definitions from requested structures, table creation
//   orqDataSetMaintenance.cpp emptying, reindexing, rebuilding and restructuring a table, the raw
//                             record copy between two cursors
//
// The record buffer. Every cursor buffer (the record buffer, the filter buffer, the two range
// buffers and the callers' search buffers) is a record of the table's layout (orqRecordLayout.h)
// followed by a 12-byte trailer:
//
//   | Offset          | Size | Content                                                         |
//   |-----------------|------|-----------------------------------------------------------------|
//   | 0               | 1    | status: 1 = record in use                                       |
//   | 2               | 4    | record-owner tag: table id * 16 + 9                             |
//   | 6               | 4    | logical record number, given on insert, never reused            |
//   | 10              | 4    | modification counter, + 1 on every update                       |
//   | 14              | n    | null flags, one per field: 0 null, 1 value; in search, range   |
//   |                 |      | and key buffers also 2 (lowest value) and 4 (highest value)     |
//   | RecordSize + 0  | 4    | address of the record (its block); 0 when none                  |
//   | RecordSize + 4  | 4    | record number: the record's position in the current index, from 1|
//   | RecordSize + 8  | 4    | key marker of a search buffer: 2 lowest, 4 highest, 0 none      |
//
// A record is valid for the cursor when its status is 1 and its owner tag is the cursor's.
// Bookmarks are 8 bytes: the record address, then the logical record number.
//
// States:
//   closed   after construction and DataSetClose: the setters work; no buffers, no current index.
//   open     between DataSetOpen (or InternalOpenDataSet) and DataSetClose: the table's storages
//            are borrowed from its definition manager; buffers, ranges and the current index
//            exist. The buffer-state says what the record buffer holds: 0 nothing, 1 a stored
//            record as read, 2 a record the caller changed.
// Table locks are held only inside single operations, or between LockTable/ReadLockTable and
// UnlockTable. An operation that needs a lock takes it only when the cursor holds none (a read
// lock) or no write lock (a write lock) and gives back what it took on every exit.
//
// Invariants while open:
//   - every buffer is RecordSize + 12 bytes;
//   - the write-lock flag implies the table-lock flag;
//   - the header counter is the table header's modification counter as last read or written by
//     this cursor; a lock that finds another value drops every cached view of the table
//     (read-ahead records and count, blob cache, range-end caches, the index pages each tree
//     keeps, the filter result), so nothing read under an earlier lock is trusted;
//   - after an insert or a delete in a tree, and after such a drop, the tree cursors are not
//     trusted for stepping: the next move searches its key again.
//
// One thread at a time; the cursor takes no in-process lock.
#pragma once
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/components/orqDataBaseIntf.h"
#include "engine/components/orqFilterMgrIntf.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqBTree.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqKeyEntry.h"
#include "engine/storage/orqRecordMgr.h"
#include "engine/storage/orqSearchKey.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Variant.h"
#include "host/db/DataSet.h"

namespace ostra {

class TBlobInterface;
class TCompoundList;
class TFieldDef;
class TFieldDefs;
class TIndexDef;
class TIndexDefs;
class TIndexItem;
class TIndexManager;
class TInternalFields;
class TList;
class TOrqBaseHash;
class TReadAheadBuffer;
class TRestructureFieldDefs;
class TRestructureIndexDefs;
class TSearchFields;
class TStream;
class TStrings;
class TTableDef;

// The progress event of long operations: PercentDone, and a flag the handler may set to cancel.
using TUpdateProgressProc = std::function<void(int PercentDone, bool& Cancel)>;
// The per-record test of a dataset filter: true when the record in RecBuf passes.
using TRecordFilterProc = std::function<bool(uint8_t* RecBuf)>;
// The record-block callback of raw record copies: RecBuf a record block, SourceFields its layout
// (null: the receiver's own), BufNo and BufCount its place in the copy; clearing Continue stops
// the copy.
using TRecordTransferProc =
    std::function<void(uint8_t* RecBuf, TInternalFields* SourceFields, int BufNo, int BufCount, bool& Continue)>;

// Read-ahead mode: inactive; asked for (the next move that searches a key activates it); active
// (moves reposition by record-number difference instead of searching).
enum TReadAheadMode : uint8_t { raReadAheadInactive, raReadAheadUninitialized, raReadAheadActive };
// The two ends of a range.
enum TRangeMode : uint8_t { rmRangeStart, rmRangeEnd };
// Where a move through a filter starts.
enum TSeekPosition : uint8_t { spFromStart, spFromCurrent, spFromEnd };

// Record trailer: 4-byte address + 4-byte record number + 4-byte key marker.
inline constexpr int C_RECTRAILERSIZE = 12;
inline constexpr int C_TRAILERADDROFFSET = 0;
inline constexpr int C_TRAILERRECNOOFFSET = 4;
inline constexpr int C_TRAILERMARKEROFFSET = 8;
// Bookmark: 4-byte record address + 4-byte logical record number.
inline constexpr int C_BOOKMARKSIZE = 8;
// The bytes of a range key buffer: the largest key entry.
inline constexpr int C_RANGEKEYBUFSIZE = 500;
// The name of the index of a table created without indexes: the insertion order.
inline constexpr char C_LOGICALRECNOINDEXNAME[] = "_LogicalRecNo";
// The privilege bits the cursor tests (orqPrivileges.h).
inline constexpr int32_t C_PRIVINSERT = 256;
inline constexpr int32_t C_PRIVDELETE = 1024;
inline constexpr int32_t C_PRIVREAD = 2048;
inline constexpr int32_t C_PRIVUPDATE = 4096;
// The create-object privilege asked for before a table is created.
inline constexpr int32_t C_PRIVCREATE = 2;
// The alter-object privilege asked for before a table is restructured.
inline constexpr int32_t C_PRIVALTER = 16;
// The most entries a move steps the tree cursor instead of searching a key.
inline constexpr int C_MAXTREESTEPS = 64;
// How long read-ahead records are trusted, in milliseconds.
inline constexpr uint32_t C_READAHEADVALIDFOR = 10000;

// The table check value (TTableDef::AltName) of a table named Name: the name itself, or for an
// encrypted table the name transformed by the weak XOR routine, every byte kept (a zero byte
// too). An encrypted table opens only when its check value gives back its name, so the value
// follows the name at every rename.
std::string TableCheckValue(const std::string& Name, bool Encrypted);

// The engine cursor over one table (see the file comment).
class TOrqDataSet : public TDataSet {
public:
    // Creates the owned objects: record manager, read-ahead buffer, table definition, filter
    // manager (a TFilterMgr), index manager, blob interface and blob cache.
    explicit TOrqDataSet(TComponent* AOwner);
    // Closes the cursor (DataSetClose, failures dropped), unregisters from the database.
    ~TOrqDataSet() override;

    // ===== Structure, open and close (orqDataSet.cpp)

    // Opens the table: 10112 without database, 10024 for an empty TableName; the database opens
    // the table's definition (its errors pass on); an encrypted table whose check value does not
    // give back its name: 8961 with SorqCorruptEncryptionKey; then InternalOpenDataSet and the
    // read-ahead buffer. A failure leaves the cursor closed and the table's open undone with the
    // database.
    void DataSetOpen();
    // Closes the table (locks released, storages and buffers let go, the database told); nothing
    // when closed.
    void DataSetClose();
    // The storage part of opening, for a definition already filled and opened with the database:
    // 10031 when open. Under a table read lock: the definition validated, the record manager, the
    // buffers, the indexes and the blob interface set up, the current index chosen. A failure
    // releases the lock and undoes what was set up.
    void InternalOpenDataSet();
    // The storage part of closing: the indexes, blob interface and record manager closed, the
    // buffers freed, range, filter and state cleared.
    void InternalCloseDataSet();

    // 10112 "There is no connection to a database engine" without database.
    void CheckConnected() const;
    // The framework's closed-dataset / open-dataset error unless the cursor is open / closed.
    void CheckInternalActive() const;
    void CheckInternalInactive() const;
    // 10624 unless the table is internal or Flags holds Bit.
    void CheckPrivilegePresent(int32_t Flags, int32_t Bit) const;
    // True when the table's flags hold none of the insert, delete and update bits.
    bool CheckReadOnlyPrivileges() const;
    // Framework fields of cursor fields without the read bit become invisible, without the
    // update bit read-only.
    void DataSetSetFieldPrivileges();
    // True when the database lists TableName (among its in-memory tables when Memory), ignoring
    // case; false without database.
    bool GetExists();
    // The table definition's internal-table flag.
    bool GetSystemTable() const;

    // Re-reads the table header (see the file comment for what a changed counter drops).
    void ReadTableHeader();
    // Writes the storages' first-free addresses and the index roots into the header and, when
    // changed, the header itself; only for an open cursor that is not ReadOnly.
    void WriteTableHeader();
    // True when the last header read found another counter than the one before it.
    bool HasTableHeaderChanged() const { return FHeaderCounter != FPrevHeaderCounter; }

    // The index manager's status lines.
    void DumpInternalStatus(TStrings& Lines);
    // Drops every cached view of the table (the database calls it after a rollback, and after a
    // commit that failed and so rolled back): index pages, read-ahead records and count, blob
    // cache, range-end caches; the next lock reads the header as new.
    void DumpInternalCaches();
    // A closed dataset that keeps tables open for its next run (a prepared query) answers true;
    // ReleaseIdleTables then closes them, and the next run opens them again. The database asks
    // before a table is dropped, renamed, rebuilt or restructured.
    virtual bool HoldsIdleTables() const { return false; }
    virtual void ReleaseIdleTables() {}
    // The pages the database file manager holds for the table (disk tables only).
    void DebugListPagesOwned(std::vector<uint32_t>& List);

    // ----- Properties
    IOrqDataBase* DataBase() const { return FDataBase; }
    // On a closed cursor: leaves the old database, registers with the new one (unless the table
    // is internal) and takes its DefaultSortOrder.
    void SetDataBase(IOrqDataBase* Value);
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value);
    const std::string& IndexName() const { return FIndexName; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value);
    bool Memory() const { return FMemory; }
    void SetMemory(bool Value);
    bool InternalActive() const { return FInternalActive; }
    const std::string& TableOwner() const { return FTableOwner; }
    void SetTableOwner(const std::string& Value);
    const std::string& Version() const { return FVersion; }
    // Ignores its value.
    void SetVersion(const std::string& Value) {}
    TEncryptionLevel EncryptionLevel() const { return FEncryptionLevel; }
    void SetEncryptionLevel(TEncryptionLevel Value);
    TSortOrder SortOrder() const { return FSortOrder; }
    void SetSortOrder(TSortOrder Value);
    TDBStringCompareFunction StringCompare() const { return FStringCompare; }
    int32_t BlobBlockSize() const { return FBlobBlockSize; }
    void SetBlobBlockSize(int32_t Value);
    bool GetBlobCompression() const { return FBlobCompression; }
    void SetBlobCompression(bool Value);
    const TUpdateProgressProc& OnUpdateProgress() const { return FOnUpdateProgress; }
    void SetOnUpdateProgress(TUpdateProgressProc Value) { FOnUpdateProgress = std::move(Value); }
    // A rebuild or restructure that builds its new table beside the old one commits after about
    // this many bytes of records (2 MiB by default): each commit of the live file is a durable
    // one, and a step's pages stay a few megabytes whatever the size of the table.
    size_t MaintenanceStepBytes() const { return FMaintenanceStepBytes; }
    void SetMaintenanceStepBytes(size_t Value) { FMaintenanceStepBytes = std::max<size_t>(Value, 1); }
    // A raw copy into this cursor's empty table builds the indexes whose keys cannot collide
    // (neither unique nor primary) at the end, bottom-up from the keys sorted, instead of one
    // insert per record. Until then those indexes lack the keys of the records copied, so it is
    // done only where nobody sees the table before the copy is complete: when the copy runs in
    // the caller's transaction (it commits nothing in between), or when this is set (a rebuild's
    // new table or new database file, which a crash throws away).
    bool BuildIndexesAtEnd() const { return FBuildIndexesAtEnd; }
    // A raw copy into this open cursor that starts its own transaction commits after about
    // MaintenanceStepBytes of records (true) instead of after every 100 records (false, the
    // default): for a target nobody sees before the copy ends, where the cadence only bounds
    // the memory of the transaction.
    void SetCopyInSteps(bool Value);
    void SetBuildIndexesAtEnd(bool Value) { FBuildIndexesAtEnd = Value; }
    // With BuildIndexesAtEnd, the unique and primary indexes too wait for the end of the copy
    // (for a target that can be emptied and copied again key by key when a key repeats). A
    // repeated key then fails the copy with 9729, as AddRecord refuses it, and UniqueKeyRepeated
    // is true; the key-by-key copy instead skips, logs and counts each later record of the key.
    void SetBuildUniqueIndexesAtEnd(bool Value) { FBuildUniqueIndexesAtEnd = Value; }
    bool UniqueKeyRepeated() const { return FUniqueKeyRepeated; }
    // The memory the keys of those indexes take while the copy runs (8 MiB by default, and about
    // as much again to sort them), shared among them; past it a sorted run of keys goes to a
    // temporary file.
    size_t MaintenanceSortBytes() const { return FMaintenanceSortBytes; }
    void SetMaintenanceSortBytes(size_t Value) { FMaintenanceSortBytes = std::max<size_t>(Value, 1); }
    TStrings* DebugStrings() const { return FDebugStrings; }
    void SetDebugStrings(TStrings* Value) { FDebugStrings = Value; }
    bool InQuery() const { return FInQuery; }
    // Passes Value to the filter manager and stores it.
    void SetInQuery(bool Value);
    bool UseReadAheadBuffer() const { return FUseReadAheadBuffer; }
    void SetUseReadAheadBuffer(bool Value) { FUseReadAheadBuffer = Value; }
    int ReadAheadBufferSize() const { return FReadAheadBufferSize; }
    void SetReadAheadBufferSize(int Value) { FReadAheadBufferSize = Value; }
    bool UseBlobCache() const { return FUseBlobCache; }
    void SetUseBlobCache(bool Value) { FUseBlobCache = Value; }

    // ----- Owned objects
    TTableDef& TableDefinition() const { return *FTableDef; }
    TRecordMgr& RecordMgr() const { return *FRecordMgr; }
    TIndexManager& IndexMgr() const { return *FIndexMgr; }
    TReadAheadBuffer& ReadAheadBuffer() const { return *FReadAheadBuffer; }
    TBlobMgr& BlobCache() const { return *FBlobCache; }
    IOrqFilterMgr& FilterMgr() const { return *FFilterMgr; }
    // Replaces the filter manager of a closed cursor (a TFilterMgr by default; tests put their
    // own in).
    void SetFilterMgr(std::unique_ptr<IOrqFilterMgr> Value);

    // ----- The record buffer
    uint8_t* RecordBuffer() const { return FRecBuf.empty() ? nullptr : const_cast<uint8_t*>(FRecBuf.data()); }
    uint8_t* FilterBuffer() const { return FFilterBuf.empty() ? nullptr : const_cast<uint8_t*>(FFilterBuf.data()); }
    // RecordSize + 12 while open; 0 when closed.
    int RecordBufferSize() const { return FRecBufSize; }
    uint8_t BufferState() const { return FBufferState; }
    bool TableLocked() const { return FTableLocked; }
    bool WriteLocked() const { return FWriteLocked; }
    uint32_t RecordOwnerTag() const { return FRecordOwnerTag; }
    // The record whose lock this cursor took for an edit; 0 when none.
    uint32_t RecordLockAddress() const { return FRecordLockAddress; }

    // ===== Navigation, key search and read-ahead (orqDataSetNavigation.cpp)

    // IndexName := Name, the index manager's current index := Name; the read-ahead buffer opened
    // again for the new index's key size.
    void InternalSetIndexName(const std::string& Name);
    // First, last, next, prior: through the filter when one is active, else by the index (and
    // range). True when a record was reached (it is in the record buffer).
    bool DataSetFirst();
    bool DataSetLast();
    bool DataSetNext();
    bool DataSetPrior();
    bool DataSetInternalFirst();
    bool DataSetInternalLast();
    bool DataSetInternalNext();
    bool DataSetInternalPrior();
    // The first (First) or last key of the current index, through Find.
    bool DataSetMoveToEnd(bool First);
    // Does nothing and returns 0.
    int DataSetMoveBy(int Distance) { return 0; }
    // Clears Buf and marks every field lowest (2) / highest (4), the trailer marker too.
    void SetKeyFlagsToBOF(uint8_t* Buf);
    void SetKeyFlagsToEOF(uint8_t* Buf);
    // Marks field FieldNo of the record buffer highest (4), the trailer marker too.
    void SetFieldKeyFlagToMax(int FieldNo);

    // Key search by SearchType of the record buffer's key in the index IndexName (9997 when none),
    // reading the found record with its number in the current index; see the .cpp.
    bool InternalFind(TIndexSearchType SearchType, const std::string& IndexName, const TSearchModifier* Modifier);
    // InternalFind restricted by the range and the filter.
    bool Find(TIndexSearchType SearchType, const std::string& IndexName, const TSearchModifier* Modifier);
    // Copies Buf into the record buffer and runs Find; when nothing was found and
    // RefreshIfNotFound, moves to the nearest record.
    bool FindBuf(const uint8_t* Buf, TIndexSearchType SearchType, const std::string& IndexName,
                 const TSearchModifier* Modifier, bool RefreshIfNotFound);
    // Positions only the index IndexName on Buf's key; 0 when positioned. No lock, no read.
    int InternalSearchOnly(const uint8_t* Buf, TIndexSearchType SearchType, const std::string& IndexName,
                           const TSearchModifier* Modifier);
    // Locates the record whose FieldNames (';'-separated) values equal those in SearchBuf; the
    // record goes to ResultBuf and, with SyncCursor, becomes the cursor's record.
    bool DoLocate(const std::string& IndexName, uint8_t* SearchBuf, uint8_t* ResultBuf, const std::string& FieldNames,
                  TLocateOptions Options, bool UseNamedIndex, bool SyncCursor);
    // Scans the index from its position for a record equal to SearchBuf over SearchFields; 0 when
    // found (then the record is in ResultBuf).
    int InternalSequentialSearch(const uint8_t* SearchBuf, uint8_t* ResultBuf, TSearchFields& SearchFields,
                                 TIndexItem& Index, bool CaseInsensitive, bool Partial);
    // Compares two buffers over Fields in order; DiffIndex the first differing position (-1).
    int InternalCompareRecords(const uint8_t* Buf1, const uint8_t* Buf2, TSearchFields& Fields, bool CaseInsensitive,
                               bool Partial, int& DiffIndex);
    // The index that the index manager finds for the ';'-separated field names; 9997 when none.
    std::string FindIndexForFields(const std::string& FieldNames);

    // Moves to the record at Address (8581 for 0); see the .cpp.
    bool SetToRecord(uint32_t Address, const uint8_t* Buf, bool CheckBuffer, bool Reposition);
    // SetToRecord on Buf's trailer address; address 0 without Reposition moves to the first record
    // and gives false. A null Buf gives false.
    bool SetToRecordBuffer(const uint8_t* Buf, bool CheckBuffer, bool Reposition);
    // Moves to the bookmarked record; false for a null bookmark and on any error.
    bool DataSetSetToBookmark(const uint8_t* Bookmark);
    // Moves to the record at Address and requires its modification counter to be ModFlag; the
    // record is copied into the framework's active buffer. Otherwise 8708.
    bool DataSetSetToFlags(uint32_t Address, uint32_t ModFlag);
    // Reads the record at Address into the record buffer without touching the index.
    void DataSetSetToUnorderedRecord(uint32_t Address);
    // Reads the record at Address into Buf (the record buffer when null) without a copy.
    void ReadRecordBuffer(uint32_t Address, uint8_t* Buf);
    // Copies the whole record buffer (RecordSize + 12 bytes) to Dest.
    void GetRecordBuffer(uint8_t* Dest) const;
    // Copies Size bytes of Src into the record buffer; buffer-state 2.
    void SetRecordBuffer(const uint8_t* Src, int Size);

    // Record numbers: the trailer's; relative to the range start when a range is on.
    int InternalGetRecordNoFromBuf(const uint8_t* Buf) const;
    int DataSetGetRecordNoFromBuf(const uint8_t* Buf);
    int DataSetGetRecordNo();
    // Moves to record RecNo (relative to the range); its address, or -1.
    int64_t DataSetSetRecordNo(int RecNo);
    int InternalGetRecordSize() const;
    // The records of the current index (0 when closed).
    int GetTotalRecordCount();
    // The records the cursor reaches: through the filter, or within the range.
    int GetCurrentRecordCount();
    void GetBookMarkFromBuf(const uint8_t* Buf, uint8_t* Bookmark) const;
    void SetBookMarkToBuf(uint8_t* Buf, const uint8_t* Bookmark) const;
    // True when the bookmark's address holds a record with the bookmark's logical number.
    bool CheckBookMarkValid(const uint8_t* Bookmark);
    uint32_t DatasetGetRecAddr() const;
    uint32_t DataSetGetRecordModFlag() const;
    bool CheckBufferWritten(const uint8_t* Buf) const;

    // Repositions on the record kept by the record manager; its address or 0.
    uint32_t RefreshDataSet(TIndexSearchType SearchType, uint8_t* Buf);
    // Re-finds the record buffer's key in the current index after a write (8708 when missing);
    // nothing to find when the write left the index's cursor on the key (Positioned).
    void RefreshDataSetIndex(uint32_t Address, bool Positioned = false);
    // Under a read lock: read-ahead dropped, RefreshDataSet exact (stEQ) or nearest (stLEG).
    bool DataSetRefresh(uint8_t* Buf, bool Exact);

    // Read-ahead mode nests: the outermost Set chooses the mode, the last Release ends it.
    void SetReadAheadMode(TReadAheadMode Mode) {
        if (FReadAheadCount == 0) FReadAheadMode = Mode;
        ++FReadAheadCount;
    }
    void ReleaseReadAheadMode() {
        if (FReadAheadCount <= 0) return;
        if (--FReadAheadCount == 0) FReadAheadMode = raReadAheadInactive;
    }
    void ClearReadAheadMode();
    TReadAheadMode ReadAheadMode() const { return FReadAheadMode; }
    TReadAheadDirection ReadAheadDirection() const { return FReadAheadDirection; }
    void FillReadAheadBuffer(int Count, TReadAheadDirection Direction);
    bool GetFromReadAheadBuffer(TReadAheadDirection Direction);
    // Moves through the active filter: from its first or last record or the current one, Offset
    // records on; false when there is no such record.
    bool InternalMoveToFilterRecord(TSeekPosition Position, int Offset);

    // Re-reads the framework's buffers inside read-ahead mode and one read lock.
    void Resync(TResyncMode Mode) override;
    // True exactly when no filter is active.
    bool IsSequenced() override;

    // ===== Editing, locks and blobs (orqDataSetEditing.cpp)

    // Inserts the record buffer as a new record; see the .cpp for the steps and errors.
    void AddRecord(bool UseAutoInc);
    // Writes the record buffer over the stored record it was read from.
    void UpdateRecord();
    // Deletes the record buffer's record: 0, or -1 when Buf shows that the record changed.
    int DeleteRecord(const uint8_t* Buf);
    // Zero-fills Buf with an empty trailer; with SetKeyMarkers the current index's key fields are
    // marked lowest.
    void InitializeNewRecord(uint8_t* Buf, bool SetKeyMarkers);
    // Zero-fills Buf, or the record buffer when null (its blob entries then invalid, state 2).
    void ClearRecord(uint8_t* Buf);
    bool InternalCheckRecordValid(const uint8_t* Buf) const;
    bool InternalCheckRecordFlags(const uint8_t* Buf1, const uint8_t* Buf2, bool CheckValid, bool CheckModFlag) const;
    // With an active filter and ExternalLock, the filter is reset around a saved record buffer.
    void InternalCheckFilterStatus(bool ExternalLock, TUpdateStatus Status);
    // Appends a stored record of another layout (a TRecordTransferProc); no lock, no keys.
    void TransferRecord(uint8_t* RecBuf, TInternalFields* SourceFields, int BufNo, int BufCount, bool& Continue);

    void InternalSetReadLock();
    void InternalSetWriteLock();
    void InternalReleaseLock();
    bool LockTable();
    bool ReadLockTable();
    bool UnlockTable();
    void InternalSetRecordLock(uint32_t Address);
    void InternalReleaseRecordLock(uint32_t Address);

    // Writes the modified blob values of the record buffer's record (DeleteAll: deletes them all).
    void WriteBlobsToInterface(bool DeleteAll);
    void ClearBlobCache();
    bool GetBlobCacheData(const uint8_t* Buf, int FieldNo, TStream& Stream);
    void SetBlobCacheData(const uint8_t* Buf, int FieldNo, TStream* Stream);

    // ===== Field data, blob streams and index metadata (orqDataSetFields.cpp)

    int GetInternalFieldCount() const;
    TInternalFields& GetInternalFields() const;
    int GetFieldNo(const std::string& Name) const;
    int GetFieldDataOffset(int FieldNo) const;
    int GetFieldNullOffset(int FieldNo) const;
    int GetFieldLength(int FieldNo) const;
    int InternalGetFieldLength(int FieldNo, const uint8_t* Buf) const;
    void GetFieldDef(int FieldNo, TFieldDef& FieldDef) const;
    bool IsFieldBlob(int FieldNo) const;
    bool IsFieldTextBlob(int FieldNo) const;
    bool GetIsFieldNullFromRecBuf(const uint8_t* Buf, int FieldNo) const;

    void DataSetGetFieldDataFromRecBuf(int FieldNo, bool& IsNull, void* Dest, const uint8_t* Buf) const;
    void DataSetGetFieldData(int FieldNo, bool& IsNull, void* Dest) const;
    void DataSetGetFieldDataByReference(const uint8_t* Buf, int FieldNo, bool& IsNull, const uint8_t*& Data,
                                        int& Len) const;
    void DataSetGetFieldDataByReferenceFromRecBuf(int FieldNo, bool& IsNull, const uint8_t*& Data, int& Len) const;
    void DataSetGetFieldDataFromRecBufAsVariant(const uint8_t* Buf, int FieldNo, Variant& Value) const;
    // Value := the field's value in Buf as a double, for a non-null field whose variant is an
    // integer of 32 bits or fewer or a Double (the double holds it exactly); false for Null and
    // every other kind.
    bool GetFieldNumberFromRecBuf(const uint8_t* Buf, int FieldNo, double& Value) const;
    void DataSetGetFieldDataAsVariant(int FieldNo, Variant& Value) const;

    void DataSetSetFieldData(int FieldNo, int Len, bool SetNull, const void* Data);
    void DataSetSetFieldDataToRecBuf(int FieldNo, int Len, bool SetNull, uint8_t* Buf, const void* Data) const;
    void DataSetSetFieldDataToRecBufAsVariant(uint8_t* Buf, int FieldNo, const Variant& Value) const;
    void DataSetSetFieldDataAsVariant(int FieldNo, const Variant& Value);

    void DataSetGetFieldStreamFromRecBuf(const uint8_t* Buf, int FieldNo, bool& IsNull, TStream& Stream);
    void DataSetGetFieldStream(int FieldNo, bool& IsNull, TStream& Stream);
    void DataSetSetFieldStreamFromRecBuf(const uint8_t* Buf, int FieldNo, bool SetNull, TStream* Stream);
    void DataSetSetFieldStream(int FieldNo, bool SetNull, TStream* Stream);

    int InternalGetIndexCount() const;
    void CheckIndexesPresent() const;
    int GetIndexFieldCount() const;
    void GetIndexDef(int Index, TIndexDef& IndexDef) const;
    std::string GetIndexFieldsFromKeyFields(const std::string& IndexName, const TKeyFields& KeyFields) const;
    void GetIndexNames(TStrings& List);
    void GetIndexFieldNamesList(TStrings& List);

    // ===== Ranges, record lists and filter hooks (orqDataSetRanges.cpp)

    void InitializeRangeBuffers(TRangeMode Mode);
    uint8_t* GetRangeRecBuf(TRangeMode Mode) const;
    void SetRangeOn(bool Value);
    void DataSetClearRange();
    bool RangeOn() const { return FRangeOn; }
    bool RangeValid() const { return FRangeValid; }
    bool CheckKeyBufInRange(const uint8_t* KeyBuf, TRangeMode Mode);
    bool MoveToRangeEnd(TRangeMode Mode);
    int GetRangeEndRecNo(TRangeMode Mode);
    bool ValidateRecBufPostDataChange();
    void SetNullIndexFieldsToRangeEnd(uint8_t* Buf, const std::string& IndexName, TRangeMode Mode,
                                      const TStrings* FieldNames);

    // Fills List with the (address, record number) pairs of the range (or the whole current
    // index) in index order; returns the record number of the first (0 when none). No lock.
    int InternalPrepareMasterRecordList(TCompoundList& List);
    // Under a read lock: the addresses of InternalPrepareMasterRecordList into List.
    void LoadCompleteListOfRecords(TList& List);
    // Fills Hash with one field's values and their records' addresses (a join's hash table).
    void LoadHashListOfRecords(TOrqBaseHash& Hash, TList* List, bool OuterJoin);

    void InternalSetFilter();
    void InternalClearFilter();
    void SetFilterEventHandler(TRecordFilterProc Handler) { FFilterHandler = std::move(Handler); }
    bool HasFilterEventHandler() const { return static_cast<bool>(FFilterHandler); }
    bool PassFilterEvent(uint32_t Address);
    // Someone else (a filter's index scans) moved the index trees' cursors: the next move
    // searches its key again.
    void InvalidateTreeCursors() { FTreeCursorsStale = true; }
    // Changes whenever the index manager opens or closes (its trees are new then): what holds
    // the cursor's trees is valid while this stays the same.
    uint32_t IndexMgrGeneration() const { return FIndexMgrGeneration; }

    // ===== Table maintenance (orqDataSetMaintenance.cpp)

    // Removes every record and every key of the open table under a write lock (and the database
    // header lock when the database is not Locked). The auto-increment counter stays; logical
    // record numbers restart.
    void DataSetEmptyTable();
    // As DataSetEmptyTable, but a table of at most MaxRecords records loses them one by one: its
    // index trees stay where they are, so emptying a small table costs its records, not new trees.
    void DataSetEmptyTableInPlace(int MaxRecords);
    // Before a rebuild copies records in: the record storage of the open table emptied, the record
    // buffer initialised (write lock taken unless held).
    void InitializeRebuild();
    // After a rebuild copied records in: the indexes rebuilt, InternalReIndex(true) (write lock
    // taken unless held).
    void FinalizeRebuild();
    // Rebuilds every index of the open table from its stored records, reporting progress through
    // OnUpdateProgress. A key that a unique or primary index already holds raises 9729 whatever
    // IgnoreDuplicates says (a unique index never hides a record); with IgnoreDuplicates a record
    // whose key another index cannot take stays stored but out of the indexes, without it 8581.
    // On a disk table that the caller holds in no transaction the pass is a transaction of its
    // own: a failure or a cancel from the progress handler leaves the indexes as they were. (In the
    // caller's transaction a cancel is not honoured, since only the caller can undo the pass.)
    void InternalReIndex(bool IgnoreDuplicates);
    // On a closed cursor of a connected, exclusive database: copies the database to its backup
    // file (Directory + DataBaseName with the extension ".orx") and fills the table again from
    // the backup's copy of it; the cursor is closed afterwards. Outside a transaction the new
    // table is built beside the old one and committed in steps of MaintenanceStepBytes (its
    // memory stays bounded), then takes the old one's place in one atomic step; inside the
    // caller's transaction the table is emptied and filled again there. Either way a failure, a
    // cancel from the progress handler or a crash leaves the table as it was or as rebuilt.
    void InternalRebuildTable();
    // On a closed cursor: fills the table again from the table of the same name in the database
    // file SourceFile, by the road InternalRebuildTable takes after its backup copy (beside the
    // table and swapped in, or emptied and refilled in one transaction). The number of records
    // that failed to copy (0 after a cancel, which leaves the table as it was).
    int RebuildFromFile(const std::string& SourceFile);
    // On a closed cursor of a connected, exclusive database: applies the restructure request
    // (a rename only, an index change, or a full copy of the data through the backup file).
    // Without the alter privilege on the table: 10624; a request without its lists: 8576, both
    // before the backup is made. The change is one transaction: a failure, a crash or a cancel
    // from the progress handler leaves the table as it was. Returns the number of records that
    // failed to copy (0 when no data was copied).
    int InternalRestructureTable(const TInternalRestructureRecord& RestructureDetails);
    // Copies every stored record of this open cursor into Dest, mapping Dest's fields to this
    // cursor's by their source field names; failures are logged, counted and skipped. Returns the
    // number of failures.
    int CopyRawTableData(TOrqDataSet& Dest);

    // ===== Table definitions and table creation (orqDataSetTableDef.cpp)

    void SetTableDef(bool Memory, const TFieldDefs& FieldDefs, const TIndexDefs& IndexDefs);
    void SetTableDefFromRSDefs(bool Memory, const TRestructureFieldDefs& FieldDefs,
                               const TRestructureIndexDefs& IndexDefs);
    void ValidateObjectName(const std::string& Name, const std::string& Kind) const;
    void InternalCreateTable();

protected:
    // ----- Framework slots: a bare cursor is no framework dataset (8577).
    TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
    void InternalClose() override;
    void InternalHandleException() override;
    void InternalInitFieldDefs() override;
    void InternalOpen() override;
    bool IsCursorOpen() const override;
    // The inherited fetches, inside read-ahead mode.
    bool GetNextRecord() override;
    bool GetPriorRecord() override;
    int GetNextRecords() override;
    int GetPriorRecords() override;
    // Drops the database when it is destroyed.
    void Notification(TComponent* AComponent, TOperation Operation) override;

    // ----- Helpers shared by the units of the cursor
    // The index named Name; 9997 with "Index %s" and Caller when none.
    TIndexItem& RequireIndex(const std::string& Name, const char* Caller) const;
    // The current index; 9997 with "Index %s" of IndexName when none.
    TIndexItem& CurrentIndex(const char* Caller) const;
    // Reads the record at Address into Buf (RecordSize bytes); with KeepCopy the record manager
    // keeps it as the last record read. An address that no longer holds a block of an in-memory
    // table reads as a deleted (all-zero) record.
    void ReadRecordAt(uint32_t Address, uint8_t* Buf, bool KeepCopy);
    // The key-marker list of a search buffer for Index (from the null flags and the trailer
    // marker).
    TKeyMarkerList MarkerList(const TIndexItem& Index, const uint8_t* Buf) const;
    // Builds Index's search key from Buf: plainly when its trailer marker is below 1, else with
    // the marker list.
    void BuildSearchKey(TIndexItem& Index, const uint8_t* Buf);
    // Runs SearchType (stLEG: stGE, else stLE) on Index's search key; true when positioned.
    bool SearchIndex(TIndexItem& Index, TIndexSearchType SearchType, const TSearchModifier* Modifier);
    // Puts the current index's record number and Address into Buf's trailer.
    void SetTrailer(uint8_t* Buf, uint32_t Address, int32_t RecNo) const;
    // The address / record number / key marker of Buf's trailer (read on every move: inline).
    uint32_t TrailerAddress(const uint8_t* Buf) const { return Load32(Buf + FRecordSize + C_TRAILERADDROFFSET); }
    int32_t TrailerRecNo(const uint8_t* Buf) const { return int32_t(Load32(Buf + FRecordSize + C_TRAILERRECNOOFFSET)); }
    uint32_t TrailerMarker(const uint8_t* Buf) const { return Load32(Buf + FRecordSize + C_TRAILERMARKEROFFSET); }
    // The read-ahead records (and, with Count, the record count kept with them) are dropped.
    void InvalidateReadAhead(bool Count);
    // The field descriptor of FieldNo (FieldIndex); the layout's assertion for a bad number.
    TInternalFieldItem& Field(int FieldNo) const {
        if (FInternalActive && FieldNo >= 0 && size_t(FieldNo) < FFields.size()) return *FFields[size_t(FieldNo)];
        return ClosedOrBadField(FieldNo);
    }
    // Field(FieldNo) for a closed cursor (looked up in the definition) or a bad number.
    TInternalFieldItem& ClosedOrBadField(int FieldNo) const;
    // Field(FieldNo), refusing a blob field (8581: values of blobs are read as streams).
    const TInternalFieldItem& NonBlobField(int FieldNo, const char* Caller) const;

    // A table read lock for the life of the object, taken only when the cursor holds no table
    // lock; Release gives it back early (errors pass on), the destructor on failure paths.
    class TReadLockScope;
    // The same for a write lock, taken only when the cursor holds no write lock.
    class TWriteLockScope;
    // The filter manager evaluates under the cursor's read-lock scope.
    friend class TFilterMgr;

    // While on, AddRecord leaves the cursor unpositioned (no search of the current index for the
    // record added; no current record afterwards): for writers that add record after record and
    // read none of them back. Turning it off makes the next move search again.
    void SetBulkAdding(bool Value) {
        FBulkAdding = Value;
        if (!Value) FTreeCursorsStale = true;
    }

private:
    // Frees the buffers and resets the open state (the end of InternalCloseDataSet and of a
    // failed InternalOpenDataSet).
    void FreeOpenState();
    // Chooses the current index after an open (the rules of InternalOpenDataSet step 14).
    void ChooseCurrentIndex();
    // After a record was written: both range-end caches cleared, the current index repositioned on
    // Address (already there when Positioned: the write left its cursor on the record's key), the
    // range check after a change, the filter status; read-ahead dropped.
    void AfterRecordWritten(uint32_t Address, bool ExternalLock, TUpdateStatus Status, bool Positioned = false);
    // The record at Index's tree cursor becomes the record buffer's, with its number in the
    // current index (SteppedRecNo when known, else looked up); false when the cursor stands on
    // no record. Record: that record when the caller read it already (else it is read). The
    // rest of InternalFind after its search.
    bool TakeFoundEntry(TIndexItem& Index, int32_t SteppedRecNo, const uint8_t* Record = nullptr);
    // Found after Find's search by SearchType, restricted by the range and the filter (the
    // cursor may move to the nearest record inside them).
    bool RestrictFound(bool Found, TIndexSearchType SearchType);
    // Builds SearchFields for DoLocate from FieldNames and Index.
    void BuildLocateSearchFields(TIndexItem& Index, std::vector<std::string>& FieldNames, bool CaseInsensitive,
                                 TSearchFields& SearchFields);
    // What DoLocate makes of one index, field list and case option (orqDataSetNavigation.cpp):
    // built at the first locate with them and kept until the indexes are opened again, so a run
    // of locates on the same fields parses and matches the names once.
    struct TLocatePlan;
    struct TLocatePlanDelete {
        void operator()(TLocatePlan* Plan) const;
    };
    TLocatePlan& LocatePlan(TIndexItem& Index, const std::string& FieldNames, bool CaseInsensitive);
    // One change made to an index, with what undoes it: re-insert Key for Address (a deleted key)
    // or delete Key (an inserted one).
    struct TIndexUndo {
        TIndexItem* Index = nullptr;
        std::vector<uint8_t> Key;
        uint32_t Address = 0;
        bool Reinsert = false;
    };
    // The undo log of the running edit (entries reused from edit to edit): BeginUndo empties it,
    // PushUndo enters a change before it is made (its key, KeySize bytes, filled by the caller when
    // Key is null), DropUndo takes the last entry back, UndoIndexChanges undoes every entry, last
    // first, trying each step.
    void BeginUndo() { FUndoCount = 0; }
    TIndexUndo& PushUndo(TIndexItem& Index, const uint8_t* Key, size_t KeySize, uint32_t Address, bool Reinsert);
    void DropUndo() { --FUndoCount; }
    void UndoIndexChanges() noexcept;
    // LockTable of the database (a read or write lock), then the table header read; a failed
    // read gives the lock back.
    void InternalSetLock(uint8_t LockType);
    // 10763 "Table is read only" for a ReadOnly cursor.
    void CheckWritable(const char* Caller);
    // UpdateRecord's work under the locks it took.
    void InternalUpdateRecord(bool ExternalLock);
    // WriteBlobsToInterface, recording the chains it creates in Created (when given).
    void WriteBlobs(bool DeleteAll, std::vector<uint32_t>* Created);
    // The step that reaches the next (Forward) or prior record, for DataSetInternalNext/Prior.
    bool InternalStep(bool Forward);
    // Reaches the record after (stGT) or before (stLT) the record buffer's, or the record itself
    // (stEQ), by steps of Index's tree cursor when that cursor is known to stand at most
    // C_MAXTREESTEPS entries from the record buffer's record; false (nothing moved that matters)
    // when it is not, and the caller searches the key. Found: whether the step found a record.
    bool StepTreeCursor(TIndexItem& Index, TIndexSearchType SearchType, bool& Found);
    // Empties the index storage when asked, creates every index anew and opens the index
    // manager on the fresh trees (the current index chosen again).
    void RecreateIndexes(bool EmptyStorage);
    // Inserts the keys of the record buffer's record (at Address) into every index (see
    // InternalReIndex); false when it was left out as a duplicate.
    bool IndexRecord(uint32_t Address, bool IgnoreDuplicates);
    // The bulk build of a raw copy (see SetBuildIndexesAtEnd): BeginBulkIndexes defers the
    // indexes whose keys cannot collide (every index with FBuildUniqueIndexesAtEnd) when the
    // table is empty; AddRecord hands their keys to CollectDeferredKeys; FinishBulkIndexes builds
    // their trees and stops deferring (a key that repeats in a unique index: 9729 as AddRecord
    // raises it, and FUniqueKeyRepeated);
    // AbandonBulkIndexes only stops (after a failure, which the caller rolls back or discards).
    void BeginBulkIndexes();
    void CollectDeferredKeys(const uint8_t* Rec, uint32_t Address);
    void SpillDeferredKeys();
    void FinishBulkIndexes();
    void AbandonBulkIndexes();
    // The full-copy way of a restructure (see InternalRestructureTable), inside the caller's
    // transaction: the table's storage is restructured and the records copied back into it.
    int RestructureByCopy(const TInternalRestructureRecord& Request, const std::string& BackupFile);
    // True when a rebuild or full-copy restructure builds the new table beside the old one: a
    // disk user table and no transaction of the caller's.
    bool BuildsBesideTheTable() const;
    // Rebuild and full-copy restructure outside a transaction: the new table (the request's
    // definition, or the stored one when Request is null) is built beside the old one under a
    // name of its own ("~restructure-new-<CRC of the name>"), filled from the table of the same
    // name in BackupFile and committed in steps, and takes the old one's place, name and
    // identity in one atomic step at the end; a cancel or a failure drops it and leaves the table
    // as it was. What a crash left of an earlier run is dropped first. The counters of the table
    // header go on. The number of records that failed to copy.
    int RebuildIntoNewTable(const TInternalRestructureRecord* Request, const std::string& BackupFile);
    // The cursor's definition made from the request (read from the stored one and the request's
    // lists, generator identifiers carried over by source field).
    void BuildRestructuredDef(const TInternalRestructureRecord& Request);
    // Opens the cursor, maps its fields to their sources (the request's, else each field's own
    // name) and copies the records of SourceTable in BackupFile into it; closes it again. The
    // number of records that failed to copy.
    int CopyFromBackup(const TInternalRestructureRecord* Request, const std::string& BackupFile,
                       const std::string& SourceTable);
    // Stores the cursor's new definition as the table's: the table manager restructures the
    // storage (a temporary definition of the table is opened for it).
    void CommitNewTableDef(const TInternalRestructureRecord& Request, bool ReadHeader);
    // The definition-only way of a restructure: names, positions and required flags.
    void RestructureDefinitionOnly(const TInternalRestructureRecord& Request);
    // The common part of SetTableDef and SetTableDefFromRSDefs.
    struct TRequestedField;
    struct TRequestedIndex;
    template <class TFieldList, class TIndexList>
    void BuildTableDefFrom(bool Memory, const TFieldList& FieldDefs, const TIndexList& IndexDefs, bool CheckNames,
                           const char* KeySizeFmt, const char* Caller);
    void BuildTableDef(bool Memory, const std::vector<TRequestedField>& Fields,
                       const std::vector<TRequestedIndex>& Indexes, bool CheckNames, const char* KeySizeFmt,
                       const char* Caller);

    // ----- Owned objects
    std::unique_ptr<TRecordMgr> FRecordMgr;
    std::unique_ptr<TReadAheadBuffer> FReadAheadBuffer;
    std::unique_ptr<TTableDef> FTableDef;
    std::unique_ptr<IOrqFilterMgr> FFilterMgr;
    std::unique_ptr<TIndexManager> FIndexMgr;
    std::unique_ptr<TBlobInterface> FBlobInterface;
    std::unique_ptr<TBlobMgr> FBlobCache;
    std::unique_ptr<TLocatePlan, TLocatePlanDelete> FLocatePlan;  // dropped whenever the index manager opens or closes
    uint32_t FIndexMgrGeneration = 0;  // counts the index manager's opens and closes

    // ----- Settings
    IOrqDataBase* FDataBase = nullptr;
    // The database's component, kept to recognise its free notification (by then the database
    // itself can no longer be asked).
    TComponent* FDataBaseComponent = nullptr;
    bool FClientRegistered = false;
    std::string FTableName;
    std::string FIndexName;
    bool FReadOnly = false;
    bool FMemory = false;
    bool FInternalActive = false;
    std::string FTableOwner;
    std::string FVersion;
    TEncryptionLevel FEncryptionLevel = encNone;
    TSortOrder FSortOrder = soANSI;
    TDBStringCompareFunction FStringCompare = DBANSICompareStrings;
    int32_t FBlobBlockSize = 512;
    bool FBlobCompression = false;
    TUpdateProgressProc FOnUpdateProgress;
    TStrings* FDebugStrings = nullptr;
    bool FInQuery = false;
    TRecordFilterProc FFilterHandler;
    bool FUseBlobCache = false;
    // The blob cache's entries by (record address << 32 | field number).
    std::unordered_map<uint64_t, TBlob*> FBlobCacheIndex;

    // ----- Locks and the header counter
    bool FTableLocked = false;
    bool FWriteLocked = false;
    uint32_t FHeaderCounter = 0;
    uint32_t FPrevHeaderCounter = 1;
    // The next header read counts as a change whatever the counter says (DumpInternalCaches).
    bool FHeaderStale = false;
    // The record lock this cursor took for an edit (0: none).
    uint32_t FRecordLockAddress = 0;

    // The progress handler cancelled the last maintenance pass (a copy into this cursor, a
    // reindex); a restructure sets FCancelTakenBack while a cancel inside it will be rolled back.
    bool FMaintenanceCancelled = false;
    bool FCancelTakenBack = false;
    // A raw copy into this cursor that starts its own transaction commits after every this many
    // records (0: the usual cadence).
    size_t FCopyCommitRecords = 0;
    size_t FMaintenanceStepBytes = size_t(2) << 20;
    // A raw copy into this cursor runs: AddRecord leaves the cursor unpositioned.
    bool FBulkAdding = false;
    bool FBuildIndexesAtEnd = false;
    // See SetBuildUniqueIndexesAtEnd: the last bulk build stopped on a repeated unique key.
    bool FBuildUniqueIndexesAtEnd = false;
    bool FUniqueKeyRepeated = false;
    size_t FMaintenanceSortBytes = size_t(8) << 20;
    // While a raw copy builds indexes at the end: per index, whether AddRecord leaves its key to
    // the bulk build (empty when none does), and the keys collected (orqDataSetMaintenance.cpp).
    class TBulkIndexes;
    struct TBulkIndexesDeleter {
        void operator()(TBulkIndexes* Value) const;
    };
    std::vector<bool> FDeferredIndexes;
    std::unique_ptr<TBulkIndexes, TBulkIndexesDeleter> FBulkIndexes;

    // ----- The undo log of index upkeep
    std::vector<TIndexUndo> FUndo;
    size_t FUndoCount = 0;

    // ----- Open state
    uint32_t FRecordOwnerTag = 0;
    int FRecordSize = 0;
    int FRecBufSize = 0;
    std::vector<uint8_t> FRecBuf;
    std::vector<uint8_t> FFilterBuf;
    std::vector<uint8_t> FScratchBuf;  // a record buffer for one operation's stored copy
    uint8_t FBufferState = 0;
    TIndexItem* FCurrentIndex = nullptr;  // the index manager's current index while open
    std::vector<TInternalFieldItem*> FFields;  // the record layout's fields by FieldIndex while open
    // The current index's tree cursor is not known to stand on a record this cursor reached (a
    // search moved it elsewhere or failed, a tree changed, a lock dropped the trees' pages): the
    // next move searches its key instead of stepping.
    bool FTreeCursorsStale = true;

    // ----- Range state (index rmRangeStart, rmRangeEnd)
    std::vector<uint8_t> FRangeRecBuf[2];
    std::vector<uint8_t> FRangeKeyBuf[2];
    TKeyMarkerList FRangeMarkers[2];
    bool FRangeCached[2] = {false, false};
    bool FRangeOn = false;
    bool FRangeValid = false;

    // ----- Read-ahead state
    bool FUseReadAheadBuffer = false;
    int FReadAheadBufferSize = 10;
    TReadAheadMode FReadAheadMode = raReadAheadInactive;
    int32_t FReadAheadCount = 0;
    TReadAheadDirection FReadAheadDirection = rdCenter;
};

}  // namespace ostra
