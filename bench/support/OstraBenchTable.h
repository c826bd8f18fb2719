// OstraBenchTable: what the benchmarks need to work on an Ostra table at the storage level, as
// a table cursor would: a temporary folder for the run's files, and one database file with one
// table open (disk manager, table-definition manager, record manager, open indexes).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench/support/BenchFolder.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqRecordMgr.h"
#include "engine/storage/orqTableMgrUnit.h"

namespace ostra::bench {

// One field of a benchmark table: a String's Size is its declared length + 1.
struct TBenchField {
    std::string Name;
    TFieldType Type;
    int Size = 0;
};

// One index of a benchmark table: ';'-separated field names.
struct TBenchIndex {
    std::string Name;
    std::string Fields;
    bool Unique = false;
};

// One connection to a database file with one table open.
//
// States: open (after construction) -> BeginWrite ... Commit (a transaction holding the table's
// write lock), or BeginRead ... EndRead (the table's read lock held outside a transaction).
class TOstraBenchTable {
public:
    // Creates a new database file at Path (4096-byte pages) with the empty table and opens it.
    // CachePages 0 keeps the paged file's own rule for the page cache size.
    TOstraBenchTable(const std::string& Path, const std::string& TableName, const std::vector<TBenchField>& Fields,
                     const std::vector<TBenchIndex>& Indexes, int32_t CachePages = 0);
    ~TOstraBenchTable();
    TOstraBenchTable(const TOstraBenchTable&) = delete;
    TOstraBenchTable& operator=(const TOstraBenchTable&) = delete;

    // Closes the connection and opens the file again, as a new session would (the page cache
    // starts empty).
    void Reopen();

    // Starts a transaction: the table's write lock, its header read.
    void BeginWrite();
    // Writes the table header into the transaction and commits it durably.
    void Commit();
    // Takes the table's read lock and reads its header.
    void BeginRead();
    void EndRead();

    // A zeroed record buffer of the table.
    std::vector<uint8_t> NewRecord() const;
    // Field values of a record buffer (the field's null flag set).
    void SetInteger(std::vector<uint8_t>& Rec, int Field, int32_t Value) const;
    void SetFloat(std::vector<uint8_t>& Rec, int Field, double Value) const;
    void SetString(std::vector<uint8_t>& Rec, int Field, std::string_view Value) const;
    int32_t GetInteger(const uint8_t* Rec, int Field) const;
    double GetFloat(const uint8_t* Rec, int Field) const;

    // Adds the record as a cursor's insert does: in-use flag, owner and a new logical record
    // number; unique keys checked first; then the record and every key. Returns its address.
    uint32_t Insert(std::vector<uint8_t>& Rec);
    // Deletes the record at Address whose bytes are Rec: every key, then the record.
    void Delete(uint32_t Address, const uint8_t* Rec);

    TIndexItem& Index(int I) { return *FIndexes.GetItems(I); }
    TRecordMgr& Records() { return FRecords; }
    TDiskMgr& Disk() { return FDisk; }

private:
    TTableHeader& Header() { return *FDef->TableHeader(); }
    // Opens the file (creating the table first when Create) and the table; Close undoes it.
    void Open(bool Create);
    void Close();
    std::unique_ptr<TTableDef> MakeDef() const;

    // Where a field lies in a record buffer.
    struct TFieldOffsets {
        std::size_t Data, NullFlag, SizeMarker;
    };

    std::string FPath;
    std::string FTableName;
    std::vector<TBenchField> FFieldList;
    std::vector<TBenchIndex> FIndexList;
    int32_t FCachePages;
    TDiskMgr FDisk;
    TDiskIOInterface FHeaders;
    TDiskTableDefMgr FMgr;
    std::unique_ptr<TTableDef> FDef;
    TRecordMgr FRecords;
    TIndexManager FIndexes;
    std::vector<TFieldOffsets> FOffsets;  // per field
};

}  // namespace ostra::bench
