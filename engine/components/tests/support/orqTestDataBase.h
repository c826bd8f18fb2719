// orqTestDataBase: TTestDataBase, a database connection for the tests and benchmarks of the engine
// cursor, until the database component exists.
//
// It implements IOrqDataBase over the storage engine's real parts, set up as the database
// component sets them up: a disk manager on one database file (or, for the name "MEMORY", only
// in-memory tables), the user-table header storage and the disk and in-memory table-definition
// managers. Tables, records, indexes, blobs, locks and transactions are the engine's own; only
// the catalogue of table definitions (which the database component keeps in its master tables)
// lives beside the database file, in the folder "<file>.defs" with one definition text per
// table, written under the header write lock.
//
// Security is left out: every user holds every privilege unless a test restricts a table's
// privilege flags (SetTablePrivileges) or the create privilege (SetCreatePrivilege).
//
// Nothing here depends on the test framework, so the benchmarks compile it too.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/components/orqDataBaseIntf.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/db/CustomConnection.h"

namespace ostra {

class TDiskMgr;
class TOrqDataSet;

namespace componentstest {

// A connection to one database file, or to "MEMORY".
class TTestDataBase : public TCustomConnection, public IOrqDataBase {
public:
    explicit TTestDataBase(TComponent* AOwner = nullptr);
    // Disconnects.
    ~TTestDataBase() override;

    // ----- Set-up (while disconnected)
    // The database file's path; "MEMORY" for the in-memory database.
    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& Value) { FFileName = Value; }
    uint32_t PageSize() const { return FPageSize; }
    void SetPageSize(uint32_t Value) { FPageSize = Value; }
    void SetReadOnly(bool Value) { FReadOnly = Value; }
    void SetExclusive(bool Value) { FExclusive = Value; }
    void SetDefaultSortOrder(TSortOrder Value) { FDefaultSortOrder = Value; }
    // The bounded retries of table and record locks.
    void SetLockRetries(int32_t Count, int32_t IntervalMs);
    bool InMemory() const { return FFileName == "MEMORY"; }

    // Creates a new, empty database file at FileName (replacing one) with PageSize.
    void CreateDatabase();

    // ----- IOrqDataBase
    TCustomConnection& Connection() override { return *this; }
    bool ReadOnly() const override { return FReadOnly; }
    TSortOrder DefaultSortOrder() const override { return FDefaultSortOrder; }
    bool QueryActive() const override { return FQueryActive; }
    void OpenTable(const std::string& Name, TTableDef* Def) override;
    void CloseTable(TTableDef* Def) override;
    bool LockTable(TTableDef* Def, uint8_t LockType) override;
    bool UnLockTable(TTableDef* Def) override;
    void LockRecord(TTableDef* Def, uint32_t Address) override;
    void UnLockRecord(TTableDef* Def, uint32_t Address) override;
    void GetTableNames(TStrings* List, bool Memory) override;
    void InternalGetTableDef(const std::string& Name, TTableDef* Def) override;
    void CreateTable(TTableDef* Def, bool DumpDefinitions) override;
    bool QueryObjectPrivilegeExists(TDatabaseObjectType ObjectType, const std::string& Name,
                                    int32_t Privilege) override;

    // ----- Transactions (disk databases; nothing in memory)
    void StartTransaction();
    // A commit that fails has rolled back: every bound cursor drops its cached views, then the
    // error passes on.
    void Commit();
    // Rolls back; every bound cursor drops its cached views.
    void Rollback();
    bool InTransaction() const;

    // ----- Other services of a database
    // Deletes a table no cursor of this connection has open (10053 otherwise) with its pages.
    void DeleteTable(const std::string& Name, bool Memory);
    // The cursors of this connection that have the table open.
    int GetLocalConnectedUserCount(const std::string& Name, bool Memory) const;
    void SetQueryActive(bool Value) { FQueryActive = Value; }
    // The privilege flags OpenTable gives the table and each of its fields (all by default).
    void SetTablePrivileges(const std::string& Name, int32_t Flags);
    // Whether QueryObjectPrivilegeExists grants the create privilege.
    void SetCreatePrivilege(bool Value) { FCreatePrivilege = Value; }

    // The parts, for tests.
    TDiskMgr* DiskMgr() const { return FDisk.get(); }
    TDiskTableDefMgr& UserTableMgr() { return FUserMgr; }
    TMemoryTableDefMgr& MemoryTableMgr() { return FMemoryMgr; }
    // The catalogue file of a table's definition.
    std::string DefinitionFile(const std::string& Name) const;

protected:
    void DoConnect() override;
    void DoDisconnect() override;
    bool GetConnected() const override { return FConnected; }

private:
    // Connected, else 10113; a disk table on "MEMORY": 10880.
    void CheckConnected(bool Memory) const;
    // The stored definition text of a disk table; 10024 when there is none.
    std::string ReadDefinition(const std::string& Name) const;
    // Every bound cursor drops its cached views of the tables.
    void DumpCursorCaches();

    std::string FFileName;
    uint32_t FPageSize = 4096;
    bool FReadOnly = false;
    bool FExclusive = false;
    TSortOrder FDefaultSortOrder = soANSI;
    int32_t FLockRetryCount = 10;
    int32_t FLockRetryInterval = 200;
    bool FConnected = false;
    bool FQueryActive = false;
    bool FCreatePrivilege = true;
    std::map<std::string, int32_t> FPrivileges;  // by upper-case table name

    std::unique_ptr<TDiskMgr> FDisk;
    TDiskIOInterface FHeaders;
    TDiskTableDefMgr FUserMgr;
    TMemoryTableDefMgr FMemoryMgr;
};

}  // namespace componentstest
}  // namespace ostra
