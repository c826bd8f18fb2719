// Test helper: one connection to one table of a real database file, driving the storage classes
// the way the engine cursor drives them around its record operations: the table lock first and
// the table header read under it (the storages' free chains, the index roots), every index kept
// in step with the records, the header written back before the lock goes or the transaction
// commits. Tests that need records on disk (crashes, several processes on one file) build their
// tables on it, and check a table afterwards with CheckTable.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/orqDisk.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqRecordMgr.h"
#include "engine/storage/orqTableHeader.h"
#include "engine/storage/orqTableMgrUnit.h"

namespace ostra::tabletest {

// Builds the definition of the table: fields, key fields, index definitions, encryption level.
using TTableDefFactory = std::function<std::unique_ptr<TTableDef>()>;

// Derives the index definitions of Requests, in order, into Def's key fields and index
// definitions (over its fields).
void DeriveIndexes(TTableDef& Def, const std::vector<TIndexRequest>& Requests);

// How a connection waits for locks: attempts and milliseconds between them.
struct TLockWaits {
    int32_t RetryCount = 3;
    int32_t RetryInterval = 10;
};

// One connection to the table that MakeDef describes, the first user table of the database.
class TTableConnection {
public:
    // Opens the database at Path (4096-byte pages) with the user-table definitions on it; the
    // table is neither created nor opened yet.
    TTableConnection(const std::string& Path, TTableDefFactory MakeDef, TLockWaits Waits = {});
    // Closes the table and the database; a failure (of a damaged database) is dropped.
    ~TTableConnection();
    TTableConnection(const TTableConnection&) = delete;
    TTableConnection& operator=(const TTableConnection&) = delete;

    // Registers the table in a new database (its header and empty index roots); raises when it
    // does not get the first user table id.
    void Create();
    // Opens the table for this connection: records, blobs (when it has blob fields), indexes.
    void Open();
    // Closes what Open opened; the table's last user lets it go.
    void Close();
    // Drops the table (its pages, header and map entry) in a transaction of its own; the table
    // must not be open.
    void Drop();

    // A transaction with the table's write lock (held as a read lock until commit) and its
    // header read; Commit and Rollback end it (Commit raises what DiskCommit raises).
    void Begin();
    void Commit();
    void Rollback();
    // Outside a transaction: the table lock of LockType (1 read, 4 write) and the header read.
    void Lock(uint8_t LockType);
    // Outside a transaction: gives the table lock back.
    void Unlock();
    // The header into the storages and the indexes, as after taking the table lock.
    void ReadTableHeader();
    // The storages' free chains and the index roots into the header, written when that changed
    // anything (the engine writes it at commit when it did not).
    void WriteTableHeader();

    // A zeroed record of the table's layout with the in-use flag set.
    std::vector<uint8_t> BlankRecord();
    // Stores Rec (the record prefix is filled in: owner, a new logical record number, change
    // count 0) and adds its keys to every index; returns its address. A key that an index holds
    // already (a non-unique index's keys end in the logical number): raises, nothing stored.
    uint32_t Insert(std::vector<uint8_t> Rec);
    // Replaces the record at Address by Rec (logical number kept, change count + 1), moving its
    // keys in every index. A key that an index holds for another record: raises.
    void Update(uint32_t Address, std::vector<uint8_t> Rec);
    // Removes the record at Address and its keys; raises when a key is missing.
    void Delete(uint32_t Address);
    // The address of the record whose key in index Index equals Rec's; 0 when none.
    uint32_t Find(int Index, const std::vector<uint8_t>& Rec);
    // The record at Address.
    std::vector<uint8_t> Read(uint32_t Address);

    TDiskMgr& Disk() { return *FDisk; }
    TTableDef& Def() { return *FDef; }
    TTableHeader& Header() { return *FDef->TableHeader(); }
    TRecordMgr& Records() { return FRecords; }
    TBlobInterface& Blobs() { return FBlobs; }
    int IndexCount() const { return FIndexes.Count(); }
    TIndexItem& Index(int I) { return *FIndexes.GetItems(I); }
    TInternalFieldItem& Field(int F) { return *FRecords.Fields().GetIndex(F); }
    uint32_t TableID() const { return 1; }

    static uint32_t U32At(const std::vector<uint8_t>& Bytes, int Offset);

private:
    void RemoveKeys(const std::vector<uint8_t>& Rec);
    // Checked false: raises when an index holds Rec's key already; true: inserts the keys.
    void AddKeys(const std::vector<uint8_t>& Rec, uint32_t Address, bool Checked);

    std::unique_ptr<TDiskMgr> FDisk;
    TTableDefFactory FMakeDef;
    TDiskIOInterface FHeaders;
    TDiskTableDefMgr FMgr;
    std::unique_ptr<TTableDef> FDef;
    bool FOpen = false;
    TRecordMgr FRecords;
    TBlobInterface FBlobs;
    TIndexManager FIndexes;
};

// Keeps the first eight problems found, each on one line.
class TProblems {
public:
    void Add(const std::string& Text);
    std::string Text() const;
    bool Empty() const { return FCount == 0; }

private:
    std::string FText;
    int FCount = 0;
};

// The blocks of a fixed-block storage's free chain from Head, checked against All (the blocks
// the storage holds): each run inside them, its head fields as stored, the rest zero.
std::set<uint32_t> FreeBlocks(TBaseIOInterface& IO, uint32_t Head, const std::set<uint32_t>& All,
                              const char* What, TProblems& Problems);
// The blocks the table's storage of Usage holds (ListAllocatedFixedBlocks).
std::set<uint32_t> OwnedBlocks(TTableConnection& Table, TBaseIOInterface& IO, uint16_t Usage);

// Checks the table of an opened connection (header read) page by page and returns Live, the
// records in use by address: every block of the record storage is a live record or on the free
// chain and never both; logical numbers unique and not above the header's counter; every index
// a sound tree (CheckTreePages and its own order check) holding exactly the live records, each
// found at its own key, with the right count; the index pages the map gives the table are
// exactly the trees' pages. KeyOrder (when given) receives per index the record addresses of its
// leaf entries in key order.
std::map<uint32_t, std::vector<uint8_t>> CheckTable(TTableConnection& Table, TProblems& Problems,
                                                    std::vector<std::vector<uint32_t>>* KeyOrder = nullptr);

}  // namespace ostra::tabletest
