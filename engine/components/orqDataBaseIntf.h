// orqDataBaseIntf: IOrqDataBase, what the engine cursor (orqDataSet.h) asks of the database it
// is bound to.
//
// The cursor is built before the database component, yet it opens, closes, locks and creates
// its table through the database. This interface is the seam: the database component
// (TOrqDataBase, orqDataBase.h) implements it directly, with these names and contracts, and the
// cursor holds nothing but an IOrqDataBase*.
//
// Lock types are the storage engine's: 1 read, 4 write (orqDisk.h CReadLock / CWriteLock).
// A lock that cannot be had raises inside the database (10249 after the bounded retries); the
// answers of the lock calls are informative only. For an in-memory table the lock calls do
// nothing and answer false.
#pragma once
#include <cstdint>
#include <string>

#include "engine/storage/orqCommon.h"
#include "engine/storage/orqPrivileges.h"

namespace ostra {

// The tables a rebuild or restructure builds beside a table, and the old table after the swap,
// have names of their own: "~restructure-new-<tag>" and "~restructure-old-<tag>" (tag: the CRC-32
// of the upper-case name in hex), the same for every run on the table, so that what a crash left
// is found and dropped by the next run. No other table can take such a name: creating or
// renaming a table to a name with the prefix "~restructure-" (any letter case) is refused.
std::string RebuildWorkTableName(const std::string& TableName, bool Retired);
// True for a name with the prefix of the rebuilds' work tables (any letter case).
bool IsRebuildWorkTableName(const std::string& Name);

class TCustomConnection;
class TOrqDataSet;
class TStrings;
class TTableDef;
struct TInternalRestructureRecord;

// The backup file of a rebuild or restructure: Directory + DataBaseName with its extension
// replaced by ".orx" ("Shop.orq" -> "Shop.orx"; a name without extension gets one).
std::string DataBaseBackupFileName(const std::string& Directory, const std::string& DataBaseName);

// The database services the cursor calls.
class IOrqDataBase {
public:
    virtual ~IOrqDataBase() = default;

    // The connection component itself: the cursor registers with it as a client, asks for its
    // free notification and reads Connected.
    virtual TCustomConnection& Connection() = 0;
    // The database was opened for reading only.
    virtual bool ReadOnly() const = 0;
    // The collation that new cursors take.
    virtual TSortOrder DefaultSortOrder() const = 0;
    // A query is being run: cursors moving through a filter then take no read lock.
    virtual bool QueryActive() const = 0;

    // Fills the cleared Def (its Memory flag set) with the stored definition of the table Name,
    // registers the open with the table's definition manager (Def borrows the table's header
    // and storages) and sets the privilege flags of the table and of every field. A missing
    // table raises 10024; a refused open 10624.
    virtual void OpenTable(const std::string& Name, TTableDef* Def) = 0;
    // One open of Def's table less (the definition manager's CloseTableDefConnection).
    virtual void CloseTable(TTableDef* Def) = 0;
    // A table lock of LockType on Def's table; true when it was set.
    virtual bool LockTable(TTableDef* Def, uint8_t LockType) = 0;
    // Releases the table lock of Def's table; true when it was released.
    virtual bool UnLockTable(TTableDef* Def) = 0;
    // A write lock on the record at Address of Def's table / its release.
    virtual void LockRecord(TTableDef* Def, uint32_t Address) = 0;
    virtual void UnLockRecord(TTableDef* Def, uint32_t Address) = 0;

    // Adds the names of the disk tables (Memory false) or of the in-memory tables to List; the
    // list is not cleared first.
    virtual void GetTableNames(TStrings* List, bool Memory) = 0;
    // Fills Def from the stored definition of the table Name without opening the table.
    virtual void InternalGetTableDef(const std::string& Name, TTableDef* Def) = 0;
    // Creates the table that Def describes (name, layout, indexes, settings); with
    // DumpDefinitions the database may also record it in its definitions dump.
    virtual void CreateTable(TTableDef* Def, bool DumpDefinitions) = 0;
    // Creates the disk table of a rebuild's work (its name made by RebuildWorkTableName), which
    // CreateTable refuses.
    virtual void CreateRebuildWorkTable(TTableDef* Def) = 0;
    // Whether the logged-on user holds the privilege of bit Privilege (orqPrivileges.h) on the
    // object Name ("ALL" for every table); true in a database without security.
    virtual bool QueryObjectPrivilegeExists(TDatabaseObjectType ObjectType, const std::string& Name,
                                            int32_t Privilege) = 0;

    // ----- What the cursor's table maintenance (emptying, reindexing, rebuilding, restructuring)
    // asks of the database.
    // The folder of the database file (ending in a path delimiter, or empty) and its name.
    virtual const std::string& Directory() const = 0;
    virtual const std::string& DataBaseName() const = 0;
    // Connected (or not) and exclusive as asked; the database's errors otherwise.
    virtual void QueryOpenStatus(bool MustBeConnected, bool MustBeExclusive) const = 0;
    // Transactions of a disk database; FlushBuffers inside one commits what it holds and goes on
    // in a new transaction with the same locks.
    virtual bool InTransaction() const = 0;
    virtual void StartTransaction() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    virtual void FlushBuffers() = 0;
    // The header lock held on purpose.
    virtual bool Locked() const = 0;
    virtual void SetLocked(bool Value) = 0;
    // Copies the database file to FileName (see TOrqDataBase::CopyDatabase).
    virtual void CopyDatabase(const std::string& FileName, bool Overwrite) = 0;
    // Copies the records of TableName in the database file SourceFile into Target (a cursor open
    // on this database's table of that name); the number of records that failed to copy.
    virtual int RebuildTable(const std::string& TableName, const std::string& SourceFile, TOrqDataSet* Target) = 0;
    // Fills Def with the stored definition of Name (an in-memory one when Memory).
    virtual void QueryTableDef(const std::string& Name, bool Memory, TTableDef* Def) = 0;
    // Applies a restructure request to the table's storage and stores Def as its definition.
    virtual void UpdateTableDef(TTableDef* Def, TInternalRestructureRecord& Request) = 0;
    // A restructure that copies the records builds the new table beside the old one: the new
    // table is dropped again after a cancel or a failure (DiscardTable), or takes the old one's
    // place, name and identity in one atomic step, after which the old one, renamed Retired, is
    // dropped (ReplaceTable).
    virtual void DiscardTable(const std::string& Name) = 0;
    virtual void ReplaceTable(const std::string& Name, const std::string& Replacement, const std::string& Retired) = 0;
};

}  // namespace ostra
