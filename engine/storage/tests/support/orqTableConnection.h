// Test helper: one connection to a database file set up as the database component sets it up
// (the disk manager, the user-table header storage with its chain in the global header, and the
// user-table manager on the table map at 3 x PageSize), the map's view of a table's pages, table
// definitions built from a field list and index requests, and a table's indexes opened the way
// the cursor opens them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DiskTestSupport.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "orqLayoutFixture.h"

namespace ostra {
class TBlobInterface;
class TIndexManager;
class TRecordMgr;
}  // namespace ostra

namespace ostra::testing {

// An open connection to the database file at Path (made with PageSize), master key "master key".
struct TableConnection {
    explicit TableConnection(const std::string& Path, uint32_t PageSize = disktest::PS);
    // Closes the manager and the header storage; the disk manager closes with the object.
    ~TableConnection();
    TableConnection(const TableConnection&) = delete;
    TableConnection& operator=(const TableConnection&) = delete;

    // The pages the map gives to owner (TableID shl 4) or Usage, in map order.
    std::vector<uint32_t> Owned(int32_t TableID, uint16_t Usage);

    std::unique_ptr<TDiskMgr> Disk;
    TDiskIOInterface Headers;
    TDiskTableDefMgr Mgr;
};

// A disk or in-memory definition of table Name: the fields Specs (their layout and record size,
// UsesBlobs from them), the indexes Requests derived in order, the encryption level Level.
std::unique_ptr<TTableDef> MakeTableDef(const std::string& Name, const std::vector<FieldSpec>& Specs,
                                        const std::vector<TIndexRequest>& Requests, bool Memory = false,
                                        TEncryptionLevel Level = encNone);

// Indexes := the open indexes of the table Def has open (its index definitions, key fields,
// index storage and header), compared with DBANSICompareStrings.
void OpenTableIndexes(TIndexManager& Indexes, TTableDef& Def);
// Records and Blobs opened on the record and blob storages of the table Def has open (its field
// layout, record size and blob block size).
void OpenTableRecords(TRecordMgr& Records, TBlobInterface& Blobs, TTableDef& Def);

}  // namespace ostra::testing
