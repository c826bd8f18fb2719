// orqTableHeader: the table header of every table and the table map that finds it.
//
// A table header is one 256-byte block of a header storage (orqInterfaceUnit.h) holding the
// table's identifier, the heads of its free record and blob chains, its counters and
// generators, and the root and depth of each of its B+-tree indexes. A table map (8192 bytes)
// pairs each table identifier with the address of its header; a database file has two, one for
// the system tables (identifiers from 1024) and one for the user tables (identifiers from 1).
//
// TTableHeaderMgr owns one table map and the open headers of that map; TTableHeader is one open
// header with its buffer. Cursors on the same table share one TTableHeader, counted by UserCount.
//
// Cached pages and the header. The page cache holds a table's pages for as long as the header
// says they are the file's: a header read again whose change counter and generation are those
// held keeps them, any other drops them (TTableHeader::ReadHeader). The manager remembers the
// header of a table whose last user closed it, so that the table opened again compares against
// it and keeps its pages when nobody changed the table meanwhile; the generation tells a table
// dropped and made again under the same identifier from the one whose pages are cached. While
// this connection holds the table's lock, the header in memory is known to be current
// (TDiskMgr::HeaderProof) and is not read again at all.
//
// Table header (integers little-endian, unsigned 32-bit unless noted):
//
//   | Offset     | Size | Item               | Content                                        |
//   |------------|------|--------------------|------------------------------------------------|
//   | 0          | 4    | TableID            | the table identifier                           |
//   | 4          | 4    | ModifiedFlag       | +1 on every write of the header (1 when new)   |
//   | 8          | 4    | HeaderSize         | 256                                            |
//   | 12         | 4    | RecordFirstEmpty   | head of the free record-block chain            |
//   | 16         | 4    | RecordAutoIncVal   | the last auto-increment value given            |
//   | 20         | 4    | LogicalRecordNo    | the last logical record number given           |
//   | 24         | 4    | BlobFirstEmpty     | head of the free blob-block chain              |
//   | 28         | 4    | Generator1         | table generator 1                              |
//   | 32         | 4    | Generator2         | table generator 2                              |
//   | 36         | 4    | IndexCount         | index slots in use (at most 34)                |
//   | 40         | 4    | InternalGenerator  | internal generator value                       |
//   | 44         | 4    | Generation         | given when the table is made (orqGlobalHdr.h)  |
//   | 48 + 6 i   | 4    | index i root       | address of index i's root page                 |
//   | 52 + 6 i   | 2    | index i depth      | depth of index i (unsigned 16-bit)             |
//   | 48 + 6 n   |      |                    | zero to the end of the block                   |
//
// Table map (8192 bytes at the map's base address): 1000 entries of 4-byte table identifier
// (0 = empty) + 4-byte header address; entry k at 8 k. The used entries stand together at the
// front in the order the tables were added; bytes 8000..8191 stay zero. A table identifier is
// the map's BaseTableID plus a number 0..999; identifiers of deleted tables are given again,
// lowest first.
//
// Stored headers and maps are checked when read: a header whose identifier, size or index count
// cannot be right raises 8961 "Corrupt Header"; a map entry with an identifier outside the map's
// range or a header address the storage cannot hold raises 8962.
#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "engine/storage/orqDisk.h"
#include "host/Collection.h"

namespace ostra {

class TBaseIOInterface;
class TStrings;
class TTableHeaderMgr;

// Header item offsets.
inline constexpr uint32_t CThTableID = 0;
inline constexpr uint32_t CThModifiedFlag = 4;
inline constexpr uint32_t CThHeaderSize = 8;
inline constexpr uint32_t CThRecordFirstEmpty = 12;
inline constexpr uint32_t CThRecordAutoIncVal = 16;
inline constexpr uint32_t CThLogicalRecordNo = 20;
inline constexpr uint32_t CThBlobFirstEmpty = 24;
inline constexpr uint32_t CThGenerator1 = 28;
inline constexpr uint32_t CThGenerator2 = 32;
inline constexpr uint32_t CThIndexCount = 36;
inline constexpr uint32_t CThInternalGenerator = 40;
inline constexpr uint32_t CThGeneration = 44;
// Index slot i: 4-byte root at CThIndexBase + 6 i, 2-byte depth 4 bytes further.
inline constexpr uint32_t CThIndexBase = 48;
inline constexpr uint32_t CThIndexSlotSize = 6;
// The block a header lives in; no stored header is larger.
inline constexpr uint32_t CTableHeaderBlockSize = 256;
// ReadHeaderSize reads this much of a header block.
inline constexpr uint32_t CTableHeaderProbeSize = 64;

// Table map: 1000 entries of 4-byte id + 4-byte address in 8192 bytes.
inline constexpr uint32_t CTableMapSize = 8192;
inline constexpr int CTableMapEntries = 1000;
inline constexpr uint32_t CTableMapEntrySize = 8;

// One open table header: the buffer and where it lives.
//
// Invariant: Dirty is set exactly when a setter changed a stored value since the last read or
// write of the header.
class TTableHeader : public TCollectionItem {
public:
    explicit TTableHeader(TCollection* ACollection);

    // Header items. Any access outside the buffer raises 8581 with "Table header: The offset
    // value is out of range". A setter storing a new value sets Dirty; the same value changes
    // nothing.
    uint32_t GetTableID() const { return InternalGet(CThTableID); }
    void SetTableID(uint32_t Value) { InternalSet(CThTableID, Value); }
    uint32_t GetModifiedFlag() const { return InternalGet(CThModifiedFlag); }
    void SetModifiedFlag(uint32_t Value) { InternalSet(CThModifiedFlag, Value); }
    uint32_t GetHeaderSize() const { return InternalGet(CThHeaderSize); }
    uint32_t GetRecordFirstEmpty() const { return InternalGet(CThRecordFirstEmpty); }
    void SetRecordFirstEmpty(uint32_t Value) { InternalSet(CThRecordFirstEmpty, Value); }
    uint32_t GetRecordAutoIncVal() const { return InternalGet(CThRecordAutoIncVal); }
    void SetRecordAutoIncVal(uint32_t Value) { InternalSet(CThRecordAutoIncVal, Value); }
    uint32_t GetLogicalRecordNo() const { return InternalGet(CThLogicalRecordNo); }
    void SetLogicalRecordNo(uint32_t Value) { InternalSet(CThLogicalRecordNo, Value); }
    uint32_t GetBlobFirstEmpty() const { return InternalGet(CThBlobFirstEmpty); }
    void SetBlobFirstEmpty(uint32_t Value) { InternalSet(CThBlobFirstEmpty, Value); }
    uint32_t GetGenerator1() const { return InternalGet(CThGenerator1); }
    void SetGenerator1(uint32_t Value) { InternalSet(CThGenerator1, Value); }
    uint32_t GetGenerator2() const { return InternalGet(CThGenerator2); }
    void SetGenerator2(uint32_t Value) { InternalSet(CThGenerator2, Value); }
    uint32_t GetIndexCount() const { return InternalGet(CThIndexCount); }
    void SetIndexCount(uint32_t Value) { InternalSet(CThIndexCount, Value); }
    uint32_t GetInternalGenerator() const { return InternalGet(CThInternalGenerator); }
    void SetInternalGenerator(uint32_t Value) { InternalSet(CThInternalGenerator, Value); }
    uint32_t GetGeneration() const { return InternalGet(CThGeneration); }
    void SetGeneration(uint32_t Value) { InternalSet(CThGeneration, Value); }
    // Index slots 0..IndexCount-1; another index number raises 8581 (Caller
    // "TTableHeader.InternalGetIndexOffset").
    uint32_t GetIndexRoot(int Index) const;
    void SetIndexRoot(int Index, uint32_t Value);
    uint16_t GetIndexDepth(int Index) const;
    void SetIndexDepth(int Index, uint16_t Value);

    // Buffer := Size zero bytes with Size stored at offset 8.
    void SetHeaderSize(uint32_t Size);
    // Buffer := NewSize bytes, zero-filled; unless Clear, the old bytes are copied back (as many
    // as fit); NewSize is stored at offset 8.
    void ResetHeaderSize(uint32_t NewSize, bool Clear);
    // Zero-fills the buffer.
    void ClearHeader();

    // Reads the header block at BaseAddress into the buffer; Dirty := false. When the stored
    // ModifiedFlag or Generation differs from the one held before (or none was held, or what was
    // held was forgotten), the header storage drops the table's cached pages (NotifyPageChange).
    // No buffer: 8576. A header whose identifier differs from the one held, whose size differs
    // from the buffer's, or whose index count does not fit: 8961, and the buffer keeps what it
    // held. Nothing is read when the buffer is unchanged since it was last read or written under
    // the disk manager's present header proof of the table (TDiskMgr::HeaderProof): it is current.
    void ReadHeader();
    // ModifiedFlag + 1, then writes the buffer to the block at BaseAddress; Dirty := false; the
    // disk manager of a disk storage learns that the table's change is announced
    // (TDiskMgr::TableHeaderWritten). No buffer: 8576.
    void WriteHeader();
    // What is held no longer tells whether the stored header changed (the transaction that wrote
    // it was rolled back): the held changes are dropped (Dirty := false, nothing is written for
    // them), and the next ReadHeader drops the table's cached pages whatever the counter says.
    void Forget() {
        FForgotten = true;
        FDirty = false;
        FProof = 0;
    }
    bool Forgotten() const { return FForgotten; }

    // Appends "TableID=%d BaseAddr=%d HdrSize=%d UserCount=%d", "RecFirstEmpty=%d BlobFE=%d",
    // "AutoInc=%d LogRecNo=%d IdxCount=%d" and per index "   Idx=%d Root=%d Depth=%d".
    void DebugDumpStatus(TStrings* Lines) const;

    TTableHeaderMgr* Mgr() const;
    bool Dirty() const { return FDirty; }
    void SetDirty(bool Value) { FDirty = Value; }
    // Address of the header block.
    uint32_t BaseAddress() const { return FBaseAddress; }
    void SetBaseAddress(uint32_t Value) { FBaseAddress = Value; }
    // Cursors sharing this header.
    int32_t UserCount() const { return FUserCount; }
    void SetUserCount(int32_t Value) { FUserCount = Value; }
    // The header bytes (HeaderSize long).
    const std::vector<uint8_t>& Buffer() const { return FBuffer; }
    // The header proof under which the buffer was last read or written unchanged since; 0 when
    // none (not read under a lock, changed since, or forgotten).
    uint64_t Proof() const { return FProof; }
    // Buffer := Bytes as the header at Address, clean, with Proof (what the manager remembered
    // of a closed table).
    void Restore(const std::vector<uint8_t>& Bytes, uint32_t Address, uint64_t Proof);

private:
    uint32_t InternalGet(uint32_t Offset) const;
    void InternalSet(uint32_t Offset, uint32_t Value);
    // The offset of index slot Index, checked against IndexCount.
    uint32_t InternalGetIndexOffset(int Index) const;
    // The storage the header lives in; asserted.
    TBaseIOInterface& Storage() const;

    std::vector<uint8_t> FBuffer;
    bool FDirty = false;
    bool FForgotten = false;
    uint64_t FProof = 0;
    uint32_t FBaseAddress = 0;
    int32_t FUserCount = 0;
};

// One table map and the open headers of its tables.
//
// States: configured (SetBaseAddress, SetBaseTableID) -> Open(storage) -> table operations ->
// Close. The map buffer is read again from the storage before every change and every lookup of
// OpenTable, so tables added by other connections are seen; callers hold the database's locks
// around these operations.
//
// While open on a disk storage the manager is a keeper of its tables' headers for the disk
// manager (TTableHeaderKeeper, orqDisk.h): a transaction that changed one of its tables without
// writing the table's header gets the header written at commit, and a rolled-back one makes the
// open header forget what it holds.
class TTableHeaderMgr : public TCollection, public TTableHeaderKeeper {
public:
    TTableHeaderMgr();
    // Close; a failure is dropped, since a destructor cannot pass it on.
    ~TTableHeaderMgr() override;

    // Address of the table map; set before Open.
    uint32_t BaseAddress() const { return FBaseAddress; }
    void SetBaseAddress(uint32_t Address) { FBaseAddress = Address; }
    // The first table identifier of this map: 1024 for system tables, 1 for user tables.
    int32_t BaseTableID() const { return FBaseTableID; }
    void SetBaseTableID(int32_t ID) { FBaseTableID = ID; }
    // The header storage (not owned); the map is read and written through it too.
    TBaseIOInterface* IOInterface() const { return FIOInterface; }

    // Takes the storage and reads the map; registers as keeper with the storage's disk manager.
    // BaseAddress 0: 8581 "Base address of table header mapper has not been set".
    void Open(TBaseIOInterface* IOInterface);
    // Writes every dirty open header and drops all open headers (all are dropped even when a
    // write fails; the first failure is raised afterwards); no longer a keeper.
    void Close();

    // TTableHeaderKeeper. Bump: for a table of this map, the stored header is written again with
    // its counter one higher (through the open header when it holds exactly what is stored, so
    // that it stays current). Forget: the open header of the table forgets what it holds.
    bool BumpTableHeader(uint32_t TableID) override;
    void ForgetTableHeader(uint32_t TableID) override;
    void DiskMgrClosed() override {
        FKeptBy = nullptr;
        FClosed.clear();
    }

    // Creates the header of a new table (ModifiedFlag 1, IndexCount set, a new Generation on a
    // disk storage) and enters it in the map with the lowest free identifier; returns the
    // identifier. A full map: 9601.
    int32_t AddTable(int IndexCount);
    // Removes the table from the map (the following entries move up) and frees its header
    // block. Not in the map: 8579 "Delete table".
    void DeleteTable(uint32_t TableID);
    // The shared open header of the table: UserCount + 1 when open already, else read from the
    // storage with UserCount 1. Not in the map: 8581 "The TableID could not be found: <id>".
    // A table closed before opens with the header remembered at its close: taken as it is while
    // its proof holds (nothing read), else read and compared with it (see the file comment).
    TTableHeader* OpenTable(uint32_t TableID);
    // One use less; at 0 the header is written when dirty, remembered with its proof, and dropped,
    // and the table's cached pages are parked (NotifyTableClosed). Null: 8581.
    void CloseTable(TTableHeader* Header);
    // The open header of the table; null when none.
    TTableHeader* FindHdrItemByID(uint32_t TableID) const;
    // Searches the map buffer from the front up to the first empty entry; Position := the
    // entry's number.
    bool FindTableHeaderInMap(uint32_t TableID, int& Position) const;
    // The HeaderSize of the header block at Address (reads its first 64 bytes). A size that no
    // header has (below 48 or above 256): 8961.
    uint32_t ReadHeaderSize(uint32_t Address);

    TTableHeader* GetItems(int Position) const;
    TTableHeader* Add();
    void DeleteItem(int Position) { Delete(Position); }

    // Appends "Current Headers", per open header "Header Item index=<n>" and its status, then
    // "All Headers" and "Header MapPos=%d TableID=%d" per used map entry (MapPos counts 32-bit
    // words); a used entry after an empty one gives "Eror. Found Table in map above 0 entry:
    // ID = %d Addr=%d".
    void DebugDumpAllHeaders(TStrings* Lines) const;

    // The map as last read or written (8192 bytes).
    const std::vector<uint8_t>& MapBuffer() const { return FMap; }
    uint32_t MapTableID(int Entry) const;
    uint32_t MapAddress(int Entry) const;

private:
    void InternalReadMap();
    void InternalWriteMap();
    void SetMapEntry(int Entry, uint32_t TableID, uint32_t Address);
    // The first empty entry and the lowest free identifier. No empty entry: 9601 (Caller
    // "TTableHeaderMgr.AddTableHeaderToMap"); an entry outside the map's identifiers: 8962.
    void FindFreeMapEntry(int& Entry, uint32_t& TableID) const;
    // The header address of entry Entry, checked against the storage (8962).
    uint32_t CheckedMapAddress(int Entry, const char* Caller);

    // The header of a table as its last user closed it.
    struct TClosedHeader {
        uint32_t BaseAddress = 0;
        std::vector<uint8_t> Bytes;
        uint64_t Proof = 0;
    };

    std::vector<uint8_t> FMap;
    std::map<uint32_t, TClosedHeader> FClosed;  // by table identifier
    TBaseIOInterface* FIOInterface = nullptr;
    TDiskMgr* FKeptBy = nullptr;  // the disk manager this manager is a keeper for
    uint32_t FBaseAddress = 0;
    int32_t FBaseTableID = 0;
};

}  // namespace ostra
