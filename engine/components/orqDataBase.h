// orqDataBase: TOrqDataBase, the connection component: one database file, or the in-memory
// database "MEMORY".
//
// An application places one TOrqDataBase per database; tables and queries bind to it, and the
// engine cursor (orqDataSet.h) reaches it through IOrqDataBase, which it implements directly. It
// owns every object an open database needs:
//   - from construction to destruction: the logged-on group's privilege set and the registry of
//     in-memory tables;
//   - from the first disk connection (or database creation) to destruction, closed between
//     connections: the disk manager (the file, its cache and locks), the header storages of the
//     system and the user tables, and the registries of system and user tables;
//   - from connection to disconnection: the cursors of the master tables, which hold every
//     table's definition as a row (the name and the definition's component text), and of the
//     generator table.
// The implementation is split by subject:
//   orqDataBase.cpp              properties, the definition record, connecting, disconnecting,
//                                creating a database, the file services
//   orqDataBaseTables.cpp        master and system tables, table creation, opening, renaming,
//                                deleting, listing, the definitions dump
//   orqDataBaseTransactions.cpp  transactions, the header lock, table and record locks
//   orqDataBaseGenerators.cpp    generators
//   orqDataBaseMaintenance.cpp   copying the database file, rebuilding the database or a table
//
// States:
//   closed     after construction and disconnection: the setters work; the definition record
//              holds the values of a new database (InitDBDef), MasterKey is empty.
//   connected  after Connected := true (DoConnect): a disk database has its file open, its
//              definition record read and checked, its master tables open; "MEMORY" has only
//              its in-memory tables. Setters of the connection's settings refuse (10120).
// A failure while connecting disconnects completely before the error reaches the caller.
// Disconnecting closes every bound dataset and every table, releases every lock and the lock
// file slot and discards the in-memory tables, also when some step fails: each failure is
// logged, and the first one is raised once everything is closed.
//
// Locks of several cursors: the disk manager holds one lock per table for the whole connection,
// so one cursor's release would release another's. The connection counts them: a table stays
// locked while any cursor holds a lock on it, with the strongest lock any of them asked for (a
// write lock taken by one cursor lasts until every cursor of the table has released its lock).
// The same goes for record locks.
//
// Table operations run under the header write lock (taken unless held) and keep the master
// tables and the table registries in step: a failure leaves a table wholly there or wholly gone
// (see CreateTable and DeleteTable).
//
// One thread at a time; the component takes no in-process lock.
#pragma once
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/components/orqDBDefRecord.h"
#include "engine/components/orqDataBaseIntf.h"
#include "engine/components/orqDataSet.h"
#include "engine/storage/orqDisk.h"
#include "host/db/CustomConnection.h"
#include "host/db/DBTypes.h"
#include "host/db/FieldType.h"

namespace ostra {

class TBaseTableDefMgr;
class TDiskIOInterface;
class TDiskTableDefMgr;
class TMemoryTableDefMgr;
class TObjectPrivilege;
class TOrqTable;
class TPrivileges;
class TSecurityManager;
struct TFieldIDEntry;
class TStringList;
class TStrings;
class TTableDef;
struct TInternalRestructureRecord;

// The event that supplies the login values of a connection without the login dialog.
using TBeforeLoginEvent =
    std::function<void(TObject* Sender, std::string& UserName, std::string& Password, std::string& MasterKey)>;

// The name of the in-memory database.
inline constexpr char C_MEMORYDATABASENAME[] = "MEMORY";
// The privilege status that switches every privilege check and the login off; also the
// privilege flags of everything in an in-memory database.
inline constexpr int32_t C_ALLPRIVILEGES = 0x7FFFFFFF;
// The master tables (their definitions are built in memory, never read from the file).
inline constexpr char C_USERMASTERTABLE[] = "$MSTRTBLUSER";
inline constexpr char C_SYSTEMMASTERTABLE[] = "$MSTRTBLSYSTEM";
inline constexpr int32_t C_USERMASTERTABLEID = 1024;
inline constexpr int32_t C_SYSTEMMASTERTABLEID = 1025;
// The system tables of databases of minor version 2 and more.
inline constexpr char C_OBJECTIDTABLE[] = "$SYSTBL_OBJECTIDREF";
inline constexpr char C_GENERATORTABLE[] = "$SYSTBL_INTGENERATOR";
// The security tables of databases of security level 2.
inline constexpr char C_SECGROUPSTABLE[] = "$SYSTBL_SECGROUPS";
inline constexpr char C_SECUSERSTABLE[] = "$SYSTBL_SECUSERS";
inline constexpr char C_SECOBJPRIVTABLE[] = "$SYSTBL_SECOBJPRIV";
inline constexpr char C_SECSYSPRIVTABLE[] = "$SYSTBL_SECSYSPRIV";
// The generator of object identifiers.
inline constexpr char C_OBJECTIDGENERATOR[] = "$INTGEN_OBJID";
// The most characters of a table name and of a generator name.
inline constexpr int C_MAXTABLENAMELENGTH = 40;
inline constexpr int C_MAXGENERATORNAMELENGTH = 20;

// The connection component (see the file comment).
class TOrqDataBase : public TCustomConnection, public IOrqDataBase {
public:
    // Creates the privilege set and the in-memory table registry; the definition record of a new
    // database; lock retries 10 x 200 ms.
    explicit TOrqDataBase(TComponent* AOwner);
    // Disconnects (a failure is logged, since a destructor cannot raise), then frees the
    // registries, the header storages, the disk manager and the privilege set.
    ~TOrqDataBase() override;
    TOrqDataBase(const TOrqDataBase&) = delete;
    TOrqDataBase& operator=(const TOrqDataBase&) = delete;

    // ===== Published properties (every setter but the lock retries refuses while connected:
    // 10120)
    bool Exclusive() const { return FExclusive; }
    void SetExclusive(bool Value);
    bool ReadOnly() const override { return FReadOnly; }
    void SetReadOnly(bool Value);
    // The folder of the database file; a non-empty value ends in one path delimiter.
    const std::string& Directory() const override { return FDirectory; }
    void SetDirectory(const std::string& Value);
    // The database file's name. Setting it takes the file-name part of Value (a folder part goes
    // to Directory); "MEMORY" in any letter case is stored as "MEMORY".
    const std::string& DataBaseName() const override { return FDataBaseName; }
    void SetDataBaseName(const std::string& Value);
    TSortOrder DefaultSortOrder() const override { return FDefaultSortOrder; }
    void SetDefaultSortOrder(TSortOrder Value);
    // The engine's version text; setting it does nothing.
    std::string Version() const { return CEngineVersion; }
    void SetVersion(const std::string&) {}
    // The bounded retries of table and record locks; also passed to an open disk manager.
    int32_t LockRetryMaximum() const { return FLockRetryMaximum; }
    void SetLockRetryMaximum(int32_t Value);
    int32_t LockRetryInterval() const { return FLockRetryInterval; }
    void SetLockRetryInterval(int32_t Value);
    TBeforeLoginEvent BeforeLogin;
    TUpdateProgressProc OnUpdateProgress;

    // ===== Other properties
    // The master key: empty, or 4 to 100 characters (else 9602); cleared at every disconnection.
    const std::string& MasterKey() const { return FMasterKey; }
    void SetMasterKey(const std::string& Value);
    // Encrypted pages; clearing it while EnforceSecurity is set: 10766.
    bool UseEncryption() const { return FUseEncryption; }
    void SetUseEncryption(bool Value);
    // A secured database (users and privileges); setting it also sets UseEncryption.
    bool EnforceSecurity() const { return FEnforceSecurity; }
    void SetEnforceSecurity(bool Value);
    // The owner named in the definition record (at most 29 characters kept).
    std::string DBOwner() const { return FDBDef.Owner; }
    void SetDBOwner(const std::string& Value);
    // The creation time in the definition record.
    TDateTime DateCreated() const { return FDBDef.DateCreated; }
    // The connected database's version text; empty when not connected.
    std::string DataFileVersion() const;
    // The numbers of the version text read from the file (major, minor, release).
    int MajorVersion() const { return FMajorVersion; }
    int MinorVersion() const { return FMinorVersion; }
    int ReleaseVersion() const { return FReleaseVersion; }
    // The security level of the definition record: 0 none, 1 encryption, 2 users.
    int32_t SecurityLevel() const { return FDBDef.SecurityLevel; }
    // Creating a table also writes every table definition into the ".ord" file.
    bool SaveTableDefinitions() const { return FSaveTableDefinitions; }
    void SetSaveTableDefinitions(bool Value) { FSaveTableDefinitions = Value; }
    // A copy of the engine's trace log lines; null when the log is gone.
    std::unique_ptr<TStringList> GetLog() const;
    void ClearLog();
    // The bits of the system privileges the logged-on group holds (everything in "MEMORY").
    int32_t DatabasePrivileges() const { return FDatabasePrivileges; }
    int32_t TempPrivilegeStatus() const { return FTempPrivilegeStatus; }
    // C_ALLPRIVILEGES switches every privilege check and the login off.
    void SetTempPrivilegeStatus(int32_t Value) { FTempPrivilegeStatus = Value; }
    // The logged-on group's privileges.
    TPrivileges& Privileges() const { return *FPrivileges; }
    // The users, groups and privileges of a secured database (active while one is connected).
    TSecurityManager& SecurityManager() const { return *FSecurityManager; }

    // ===== The connection (orqDataBase.cpp)
    // Creates a new database file at Directory + DataBaseName (replacing a file of that name)
    // from the current properties and leaves the component disconnected: the definition record,
    // the security header when encrypted, the master tables, the system tables and, for a
    // secured database, the security tables. Connected: 10120; no name: 10118; encryption with
    // a key of fewer than 4 characters: 10015; a key the file cannot take: 9602 before anything
    // is written. A failure removes the half-made file.
    void CreateDatabase();
    // Not connected: 10113; connected to "MEMORY" unless AllowMemory: 10880.
    void CheckConnected(bool AllowMemory) const;
    // Connected: 10120.
    void CheckNotConnected() const;
    // Not Exclusive: 10121.
    void CheckExclusive() const;
    // CheckConnected(false) when MustBeConnected, else CheckNotConnected; then CheckExclusive
    // when MustBeExclusive.
    void QueryOpenStatus(bool MustBeConnected, bool MustBeExclusive) const override;
    // A secured database whose privilege checks are not switched off.
    bool NeedSecurity() const;
    // Connected exclusively: writes the definition record again with a fresh check value.
    void ResetDBHeader();
    // The users in the lock file's slots (connected, disk).
    void GetCurrentUsers(TStrings* List);
    // The file's size in bytes (connected, disk).
    uint32_t DatabaseSize();
    // Forces the disk manager's buffers to stable storage (connected, disk).
    void FlushBuffers() override;
    // Reads every record block of table TableID (blocks of BlockSize bytes) from the closed
    // database file and hands each to Callback (SourceFields null) until it clears Continue.
    // Level is the table's encryption, which the blocks are read with. Connected: 10120.
    void TransferRecordBuffers(int32_t TableID, int32_t BlockSize, const TRecordTransferProc& Callback,
                               TEncryptionLevel Level = encNone);

    // ===== Tables (orqDataBaseTables.cpp)
    // Creates the table Def describes: on disk under the header write lock (its definition row
    // in the master table, its header, index roots and registration), in memory through the
    // in-memory registry. With DumpDefinitions and SaveTableDefinitions the ".ord" file is
    // written afterwards. A disk table on "MEMORY": 10880; a bad name: 10039; an existing table
    // (any letter case): 13060; a name of the rebuilds' work tables (IsRebuildWorkTableName):
    // 10039. A failure undoes what was done: no row, no header, no pages.
    void CreateTable(TTableDef* Def, bool DumpDefinitions) override;
    // CreateTable for the disk table of a rebuild's work, named by RebuildWorkTableName.
    void CreateRebuildWorkTable(TTableDef* Def) override;
    // Deletes the table Name (Memory: the in-memory table). A disk table needs Exclusive (10121)
    // and the drop privilege (10624); open in this process: 10053; missing: 10024. The master row
    // goes first, then the pages and the header (see the .cpp for what a failure leaves).
    void DeleteTable(const std::string& Name, bool Memory);
    // Deletes the disk table Name that the engine made for its own work (a restructure's new or
    // old table), without asking for the drop privilege: its pages in steps of bounded size,
    // each committed, then its row and header. Exclusive (10121); open: 10053; missing: 10024.
    void DiscardTable(const std::string& Name) override;
    // Puts the user table Replacement in the place of Name: in one atomic step Name's table is
    // renamed Retired and Replacement takes the name Name and its object identifier; then the
    // retired table is discarded (DiscardTable). Exclusive (10121); either missing: 10024;
    // either open: 10053; Retired taken: 13060; an internal table or name: 10039.
    void ReplaceTable(const std::string& Name, const std::string& Replacement, const std::string& Retired) override;
    // Renames the disk table OldName: Exclusive (10121), the alter privilege (10624); an
    // in-memory table: 10766; open: 10119; NewName taken (any letter case): 13060; a bad name:
    // 10039 (also for a name of the rebuilds' work tables). A new spelling of the same name is no
    // rename.
    void RenameTable(const std::string& OldName, const std::string& NewName);
    // Applies a restructure request to the table's registry (header and storages) and stores the
    // new definition; Exclusive (10121); for an in-memory table the store raises 10766.
    void UpdateTableDef(TTableDef* Def, TInternalRestructureRecord& Request) override;
    // Fills Def with the stored definition of Name (an in-memory one when Memory).
    void QueryTableDef(const std::string& Name, bool Memory, TTableDef* Def) override;
    void InternalGetTableDef(const std::string& Name, TTableDef* Def) override;
    // Stores Def under Name: a new row (IsNew) or the row of Def.TableName updated, renamed to
    // Name when the names differ ignoring case. Under the header write lock. A bad name: 10039;
    // in memory: 10766; an existing row for a new table or the target of a rename: 13060.
    void InternalUpdateTableDef(const std::string& Name, TTableDef* Def, bool IsNew);
    // The steps of a delete, under the header write lock: the object identifier of a user table;
    // the master row, with DropID the identifier, the pages and the registration (in this order,
    // see the .cpp).
    void DropObjectID(const TTableDef& Def);
    void DropDiskTable(TTableDef& Def, TBaseTableDefMgr& Registry, bool DropID);
    void OpenTable(const std::string& Name, TTableDef* Def) override;
    void CloseTable(TTableDef* Def) override;
    // The master cursor / registry that holds Def's table: the system ones for internal tables.
    TOrqDataSet* GetMasterTable(const TTableDef* Def) const;
    TBaseTableDefMgr* GetTableDefMgr(const TTableDef* Def) const;
    // Adds the names of the disk user tables (in name order) or of the in-memory tables to
    // List (not cleared first). A disk list on "MEMORY": 10880.
    void GetTableNames(TStrings* List, bool Memory) override;
    // Adds the names of the internal tables (databases of minor version 2 and more).
    void GetSystemTableNames(TStrings* List);
    // The cursors of this process open on the disk user table Name.
    int GetLocalConnectedUserCount(const std::string& Name) const;
    // The same count, once every closed dataset of this connection that keeps tables open for its
    // next run (a prepared query) let go of them: the count that decides whether Name may be
    // dropped, renamed, rebuilt or restructured.
    int GetLocalConnectedUserCountReleasingIdle(const std::string& Name);
    // Writes the ".ord" file: a database beside this one with every user table, without data.
    void DumpTableDefinitions();
    // True when the logged-on group holds the privilege of bit Privilege on Name (or on "ALL"
    // when it holds nothing on Name); always in a database that needs no security.
    bool QueryObjectPrivilegeExists(TDatabaseObjectType ObjectType, const std::string& Name,
                                    int32_t Privilege) override;

    // The object identifier of the user table Name (0 for "ALL" and for a name without one, or
    // without an object-identifier table).
    int32_t InternalGetObjectIDFromName(const std::string& Name);
    // The table name of an object identifier: "ALL" for 0, empty when none.
    std::string InternalGetObjectNameFromID(int32_t ID);
    // Fills List (when given) with the fields of the table Name (names upper case, with their
    // identifiers) and returns its object identifier; connects for the call when closed.
    int32_t ReadTableFieldIDs(const std::string& Name, std::vector<TFieldIDEntry>* List);

    // ===== Transactions and locks (orqDataBaseTransactions.cpp)
    // Starts a transaction (connected to a disk database: 10113, 10880); while a query runs
    // outside query mode, table locks skip the transaction lock.
    void StartTransaction() override;
    // Commits atomically. A commit that fails has already rolled back: the component is out of
    // its transaction, every cursor and dataset has dropped and refreshed what it held (as
    // Rollback), and the error passes on.
    void Commit() override;
    // Rolls back; then every bound cursor drops its cached views, every dataset in insert or
    // edit state is cancelled and every active dataset refreshed (a failure of one is logged and
    // the others are still done).
    void Rollback() override;
    bool InTransaction() const override;
    bool QueryActive() const override { return FQueryActive; }
    void SetQueryActive(bool Value) { FQueryActive = Value; }
    void ActivateQueryMode(bool Value);
    // The header lock held on purpose (write lock when set).
    bool Locked() const override { return FLocked; }
    void SetLocked(bool Value) override;
    bool LockTable(TTableDef* Def, uint8_t LockType) override;
    bool UnLockTable(TTableDef* Def) override;
    // True when the table's lock is LockType.
    bool TableLockExists(TTableDef* Def, uint8_t LockType);
    void LockRecord(TTableDef* Def, uint32_t Address) override;
    void UnLockRecord(TTableDef* Def, uint32_t Address) override;
    // True when the record is write-locked.
    bool RecordLockExists(TTableDef* Def, uint32_t Address);

    // ===== Generators (orqDataBaseGenerators.cpp); each needs a connection (10113, 10880) and
    // a database of minor version 2 (12041)
    // Minor version below N: 12041.
    void CheckMinorVersion(int N) const;
    // Existing name (any letter case): 8580; longer than 20: 9605; empty or beginning with "$":
    // 10125.
    void CreateGenerator(const std::string& Name, int32_t Value, int32_t Step);
    // Deletes the generator when it exists.
    void DeleteGenerator(const std::string& Name);
    // The stored value (missing: 8579); unless PeekOnly, the stored value moves on by the step,
    // read and written under the table's write lock, so no two connections get one value.
    int32_t GetGeneratorValue(const std::string& Name, bool PeekOnly);
    // True and the generator's value and step when it exists.
    bool QueryGenerator(const std::string& Name, int32_t& Value, int32_t& Step);
    // Clears List and adds the names of the generators not reserved for the engine.
    void GetGeneratorNames(TStrings* List);
    // GetGeneratorValue with increment; a missing generator is created (value 2, step 1) when
    // CreateIfMissing, and then gives 1.
    int32_t InternalGetGenerator(const std::string& Name, bool CreateIfMissing);

    // ===== Copy and rebuild (orqDataBaseMaintenance.cpp)
    // Copies the database file to FileName: 9344 when FileName is the database file itself (by
    // the file, however spelled or linked), 9988 when the database file is missing, 9344 when
    // FileName exists and Overwrite is false, 9344 with the system's message when the copy fails.
    // Connected exclusively, the disk manager copies the file as stored; otherwise the file
    // system copies it.
    void CopyDatabase(const std::string& FileName, bool Overwrite) override;
    // Rebuilds the whole (disconnected) database from a backup copy (Directory + DataBaseName
    // with ".orx"; an empty Directory means the database file's folder): every table is created
    // anew in a new file and its records copied from the backup, and the new file replaces the
    // old one only when the rebuild got through, so a failure leaves the database as it was. A
    // table whose records cannot be copied is left empty (its data stays in the backup). The
    // steps go to the engine log, which is saved as "dblog.txt" beside the database. Connected:
    // 10120.
    void RebuildDatabase();
    // Copies the records of TableName in the database file SourceFile into Target (an open
    // cursor of this database's table), or, without Target, rebuilds the table from them: a new
    // table is filled beside it and takes its place in one atomic step (inside a transaction the
    // table is emptied and refilled there), so a failure or a crash leaves the old table or the
    // new one, never a partial one. Connected exclusively (10113, 10121); the table open
    // elsewhere in this process: 10031. Returns the number of records that failed to copy.
    int RebuildTable(const std::string& TableName, const std::string& SourceFile, TOrqDataSet* Target) override;

    // ===== IOrqDataBase (the rest)
    TCustomConnection& Connection() override { return *this; }

    // ===== Parts, for the layers above and for tests (null before the first disk connection)
    TDiskMgr* DiskMgr() const { return FDiskMgr.get(); }
    TMemoryTableDefMgr& MemoryTableMgr() const { return *FMemoryTableMgr; }
    TDiskTableDefMgr* UserTableMgr() const { return FUserTableMgr.get(); }
    TDiskTableDefMgr* SystemTableMgr() const { return FSystemTableMgr.get(); }
    // The path of the database file: Directory + DataBaseName.
    std::string FileName() const { return FDirectory + FDataBaseName; }
    bool InMemory() const { return FDataBaseName == C_MEMORYDATABASENAME; }

protected:
    void DoConnect() override;
    void DoDisconnect() override;
    bool GetConnected() const override { return FConnected; }

    // ----- The login and privileges of secured databases
    // Asks for the login values that Mode needs (1 the master key; 2 user name and password;
    // 3 all three) through the login dialog of the user-interface services (host/UIServices.h);
    // false when the user cancels. The values are replaced only on OK.
    virtual bool ExecuteLoginDialog(int Mode, std::string& UserName, std::string& Password, std::string& Key);
    // Logs UserName on to the secured database and fills the privilege set. With BeforeLogin a
    // failure passes on; without it the failure's message is shown and the dialog asks again
    // until a logon succeeds (no further logon after a success) or the user cancels (10015).
    virtual void InternalLogon(std::string& UserName, std::string& Password, std::string& Key);
    // The privilege flags of an opened table and of each of its fields: all of them with All;
    // otherwise the bits of the privileges the group holds on the table (or on "ALL").
    virtual void InternalSetTablePrivileges(TTableDef* Def, bool All);

private:
    // ----- orqDataBase.cpp
    // The header lock (write or read) for the life of the object, taken unless one that serves
    // is held.
    class THeaderLock;
    void InitDBDef();
    void ReadDBDef();
    void WriteDBDef();
    bool ValidateDBDef(const uint8_t* Bytes) const;
    // Creates the disk manager, the two header storages and the two registries (8580 when one
    // exists).
    void InternalCreateDiskInterfaces();
    // Opens the file (9988 when missing) and the header storages and registries on it.
    void InternalOpenDiskConnections();
    // Closes the registries, the header storages and the file: everything, also after a failure;
    // each failure is logged and the first raised afterwards.
    void InternalCloseDiskConnections();
    // The part of DoConnect after the file is open.
    void ConnectDisk();
    void InternalSetDatabasePrivileges();

    // ----- orqDataBaseTables.cpp
    // Fills Def with the master tables' definition (the layout every master table has).
    void SetMasterTableDef(TTableDef& Def) const;
    void CreateMasterTables();
    void CreateSystemTables();
    void CreateSecurityTables();
    // 8581 unless the header write lock is held (Caller names the operation).
    void RequireHeaderLock(const char* Caller) const;
    // One requested field (name, type, size) and index (name, ';'-separated fields, options) of
    // an internal table.
    struct TInternalFieldSpec {
        const char* Name;
        TFieldType Type;
        int32_t Size;
    };
    struct TInternalIndexSpec {
        const char* Name;
        const char* Fields;
        TIndexOptions Options;
    };
    // Creates an internal table from requested fields and indexes through a temporary cursor (as
    // the system and security tables are made).
    void CreateInternalTable(const std::string& Name, std::initializer_list<TInternalFieldSpec> Fields,
                             std::initializer_list<TInternalIndexSpec> Indexes, TEncryptionLevel Level);
    // Opens the master cursor of Name / ID on the system registry.
    std::unique_ptr<TOrqDataSet> OpenMasterTable(const std::string& Name, int32_t TableID);
    void InternalOpenSystemTables();
    // Opens the internal table Name as a table component in the order of Index.
    std::unique_ptr<TOrqTable> OpenSystemTable(const std::string& Name, const std::string& Index);
    // The object-identifier row of a user table: created for a new table, renamed with it.
    void StoreObjectID(const std::string& OldName, const std::string& NewName);
    void InternalCloseSystemTables();
    void InternalCreateTable(TTableDef* Def);
    // CreateTable without the check of the name's prefix.
    void InternalCreateTableAtomically(TTableDef* Def, bool DumpDefinitions);
    // Runs Change, a change of the file's tables, as a transaction of its own when the connection
    // is in none and no cursor holds a lock (see orqDataBaseTables.cpp); otherwise as it is.
    void RunAtomically(const std::function<void()>& Change);
    // Every closed dataset that keeps tables open for its next run lets go of them; true when one
    // did.
    bool ReleaseIdleTables();
    // Registry's count of this process's cursors on Name, after ReleaseIdleTables when some are.
    int TableUserCount(TBaseTableDefMgr& Registry, const std::string& Name);
    // The master cursor that holds Def's table (10024 with Name when the database has none).
    TOrqDataSet& RequireMaster(const TTableDef* Def, const std::string& Name);
    // Positions Master on the row of Name; false when there is none.
    bool FindMasterRow(TOrqDataSet& Master, const std::string& Name);
    // Def from a stored definition text, copied from an earlier read of the same text if any.
    void LoadTableDef(const std::string& Text, TTableDef* Def);
    // The group's privilege of Type on the table Name, or, when the group holds nothing on Name,
    // on "ALL"; null when none. The one rule of every privilege question.
    const TObjectPrivilege* FindObjectPrivilege(const std::string& Name, TObjectPrivilegeType Type) const;
    // Name must be 1 to 40 characters (10039 with Caller).
    void CheckTableName(const std::string& Name, const char* Caller) const;

    // ----- orqDataBaseTransactions.cpp
    // Every cursor and dataset drops and refreshes what a rollback took back; registrations of
    // tables that no longer exist are forgotten.
    void AfterRollback();
    // The lock types each cursor's definition holds, and their count per table.
    struct TTableLocks {
        int Readers = 0;
        int Writers = 0;
    };
    // Def's table lock is given up: the disk manager's lock goes when no other definition of
    // the table holds one. False when Def held none.
    bool ReleaseLockOf(const TTableDef* Def);

    // ----- orqDataBaseGenerators.cpp
    // The open generator table (8579 without one) positioned on Name; false when no row.
    bool FindGenerator(const std::string& Name);
    TOrqDataSet& GeneratorTable();
    // Reads the generator at the cursor, stores value + step and returns the value read.
    int32_t IncrementGenerator();

    // ----- Owned objects
    std::unique_ptr<TPrivileges> FPrivileges;
    std::unique_ptr<TSecurityManager> FSecurityManager;
    std::unique_ptr<TMemoryTableDefMgr> FMemoryTableMgr;
    std::unique_ptr<TDiskMgr> FDiskMgr;
    std::unique_ptr<TDiskIOInterface> FSystemHdrDiskInterface;
    std::unique_ptr<TDiskIOInterface> FTableHdrDiskInterface;
    std::unique_ptr<TDiskTableDefMgr> FSystemTableMgr;
    std::unique_ptr<TDiskTableDefMgr> FUserTableMgr;
    std::unique_ptr<TOrqDataSet> FUserMaster;
    std::unique_ptr<TOrqDataSet> FSystemMaster;
    std::unique_ptr<TOrqDataSet> FGeneratorTable;
    std::unique_ptr<TOrqTable> FObjectIDTable;
    std::unique_ptr<TOrqTable> FGroupsTable;
    std::unique_ptr<TOrqTable> FUsersTable;
    std::unique_ptr<TOrqTable> FObjPrivTable;
    std::unique_ptr<TOrqTable> FSysPrivTable;
    // Definitions read before, by their stored text: a table opened again whose text has not
    // changed copies the earlier result instead of reading the text once more. Keyed by the
    // whole text, so a definition changed by any connection simply misses.
    std::unordered_map<std::string, std::unique_ptr<TTableDef>> FReadDefs;

    // ----- Settings
    bool FExclusive = false;
    bool FReadOnly = false;
    std::string FDirectory;
    std::string FDataBaseName;
    TSortOrder FDefaultSortOrder = soANSI;
    int32_t FLockRetryMaximum = 10;
    int32_t FLockRetryInterval = 200;
    std::string FMasterKey;
    bool FUseEncryption = false;
    bool FEnforceSecurity = false;
    bool FSaveTableDefinitions = false;
    // The page cache of the file at the next connection, in pages; 0 sizes it by the file
    // (TOrqFile::SetCachePages). The maintenance operations size the caches of the files they
    // open for their own work.
    int32_t FFileCachePages = 0;

    // ----- State
    TDBDefRecord FDBDef;
    int FMajorVersion = 0;
    int FMinorVersion = 0;
    int FReleaseVersion = 0;
    TSecurityHeader FSecurityHeader;
    bool FConnected = false;
    bool FLocked = false;
    bool FQueryActive = false;
    bool FQueryMode = false;
    int32_t FDatabasePrivileges = 0;
    int32_t FTempPrivilegeStatus = 0;
    std::unordered_map<const TTableDef*, uint8_t> FDefLocks;  // the table lock each definition holds
    std::unordered_map<uint16_t, TTableLocks> FTableLocks;    // by table id
    std::map<uint32_t, int> FRecordLocks;                     // holders by record address
};

}  // namespace ostra
