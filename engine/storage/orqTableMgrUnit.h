// orqTableMgrUnit: table definitions and the registries of open tables.
//
// TTableDef is the definition of one table: identity and descriptive data, the record layout
// (TInternalFields), the key fields and index definitions, encryption level and collation, and,
// once the table is opened, its table header and its three block storages (index pages, blob
// blocks, record blocks; orqInterfaceUnit.h). It is a component: its published properties are
// the component text (host/ComponentText.h) in which the database stores a table's definition,
// so their names, order and kinds are a stored format.
//
// A table definition manager is the registry of one database area:
//   TDiskTableDefMgr     tables in the database file (one manager for the system tables with
//                        the table map at PageSize, one for the user tables at 3 x PageSize);
//   TMemoryTableDefMgr   in-memory tables, with its own in-memory header storage and map.
// A registry holds one master definition per registered table. The master owns the table's
// storages (opened once, when the first connection opens the table) and holds the table's open
// header; every connection's own TTableDef borrows them between OpenTableDefConnection and
// CloseTableDefConnection, and the master counts those connections (UserCount).
//
// Life of a master:
//   registered   by CreateTableDef (user count 0, no header, not active) or by the first
//                OpenTableDefConnection;
//   active       storages open and the header held once (user count >= 1);
//   disk:        closed, its header closed, freed and unregistered when the count drops to 0;
//   memory:      kept with its data (and its storages) until DeleteTableDef or Close.
//
// Invariants: a master holds its header exactly while it is active (or for the moment of a
// call that opens or closes it), so each activation opens the header once and each
// deactivation closes it once; a master's user count is never negative and is changed only by
// a call that succeeds.
//
// Stored text of a definition (TTableDef published properties, in this order, after the
// component's own Name and Tag):
//   TableID (Integer), OwnerFlag (Cardinal), TableName, AltName, Version, OS (strings),
//   CreationDate, LastModDate (date-times), CreatedBy, Password (strings), Encrypted (Boolean),
//   SecurityLevel (Integer), Memory (Boolean), RecordSize, DefaultBlobSize (Integers),
//   UsesBlobs (Boolean), SortOrder (soANSI/soASCII), InternalTable (Boolean), EncryptionLevel
//   (encNone/encWeak/encStrong), KeyFields, InternalFields, InternalIndexDefs (collections),
//   BlobCompression (Boolean).
// No property declares a default: ordinals and Booleans are always written; empty strings,
// zero dates and the Tag 0 are not (the host's rules), so a definition must be read into a
// fresh or reset TTableDef (LoadFromText does that).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/orqCommon.h"
#include "host/Component.h"
#include "host/DateTime.h"

namespace ostra {

class TBaseIOInterface;
class TDiskIOInterface;
class TDiskMgr;
class TFieldDefs;
class TIndexDefs;
class TInternalFields;
class TInternalIndexDefs;
class TKeyFields;
class TMemoryIOInterface;
class TRestructureFieldDefs;
class TRestructureIndexDefs;
class TStrings;
class TTableHeader;
class TTableHeaderMgr;

// The usages of a table's three storages in the page owner word.
inline constexpr uint16_t C_INDEXUSAGE = 8;
inline constexpr uint16_t C_BLOBUSAGE = 10;
// (Record blocks use C_RECORDUSAGE = 9, orqRecordLayout.h.)
// The global-header offset of the index chain that files with pages above 4096 once shared
// among all tables; no index storage uses it now (a table's index storage is a whole-page
// storage, orqInterfaceUnit.h).
inline constexpr int32_t C_INDEXFIRSTEMPTYOFFSET = 36;
// The size of every index root page and of an in-memory index page.
inline constexpr uint32_t C_INDEXROOTPAGESIZE = 4096;
// The block size of the in-memory header storage.
inline constexpr uint32_t C_MEMORYHEADERBLOCKSIZE = 4096;
// The first table identifier of a system-table and of a user-table registry.
inline constexpr int32_t C_FIRSTSYSTEMTABLEID = 1024;
inline constexpr int32_t C_FIRSTUSERTABLEID = 1;

// The access flags of a table's data transfers by its encryption level: 5 (cache + Blowfish)
// for encStrong, 3 (cache + XOR) for encWeak, 1 (cache) otherwise.
uint32_t TableAccessFlags(TEncryptionLevel Level);

// A restructure request as the table component builds it and the cursor hands it on to the
// table manager. The four lists are not owned.
struct TInternalRestructureRecord {
    TRestructureFieldDefs* NewFieldDefs = nullptr;  // requested fields with change status
    TRestructureIndexDefs* NewIndexDefs = nullptr;  // requested indexes with change status
    TFieldDefs* DestFieldDefs = nullptr;            // framework definitions receiving the request
    TIndexDefs* DestIndexDefs = nullptr;
    bool ResetAutoInc = false;
    int32_t AutoIncValue = 0;  // the header's new auto-increment value when ResetAutoInc
    bool ResetBlobSize = false;
    int32_t BlobBlockSize = 0;
    bool ChangeBlobCompression = false;
    bool NewBlobCompression = false;
    bool ChangeSortOrder = false;
    TSortOrder NewSortOrder = soANSI;
    bool ResetGenerator1 = false;
    uint32_t Generator1Value = 0;
    bool ResetGenerator2 = false;
    uint32_t Generator2Value = 0;
};

// The definition of one table (see the file comment).
class TTableDef : public TComponent {
public:
    // Creates the three collections; DefaultBlobSize 512.
    explicit TTableDef(TComponent* AOwner);
    // InternalClose (failures dropped), then the collections go.
    ~TTableDef() override;

    // From another TTableDef: TableID, TableName, Version, OS, CreationDate, CreatedBy,
    // Encrypted, EncryptionLevel, Password, Memory, the three collections, RecordSize,
    // UsesBlobs, DefaultBlobSize, SortOrder, AltName, the privilege flags and BlobCompression.
    // Not copied: OwnerFlag, LastModDate, SecurityLevel, InternalTable, the header, the
    // storages and the registry state. Anything else: the host's rules.
    void Assign(const TPersistent* Source) override;
    // Master: 8577. Otherwise forgets the storages and the header; master flag, user count,
    // active flag, TableID and OwnerFlag cleared; TableName, Version, OS, CreatedBy and Password
    // emptied, CreationDate 0, EncryptionLevel encNone, Memory false, the collections emptied,
    // RecordSize 0, DefaultBlobSize 512, UsesBlobs false. AltName, LastModDate, SecurityLevel,
    // the privilege flags, Encrypted, InternalTable, SortOrder and BlobCompression stay.
    void Clear();
    // Repairs key fields that name no index: each such key field (visited last to first) takes
    // the name of the first index definition that no key field names, when there is one.
    // Returns true.
    bool Validate();
    // Opens the storages of a master (nothing more for a connection's copy). No table header:
    // 8576 with the table name. In memory: three memory storages (index pages of 4096 bytes,
    // blob blocks of DefaultBlobSize, records of RecordSize) and an empty root page per index
    // definition, entered in the header with depth 1 and the header written. On disk (DiskMgr):
    // a RecordSize of 0 is computed from the fields first; the index storage has the first
    // index definition's page size and gives every index page whole file pages of its own (no
    // free chain: a page of the table's index usage holds this table's blocks only, whatever
    // the page size); the blob and record storages start from the header's BlobFirstEmpty and
    // RecordFirstEmpty (not marked valid). Table id, usages 8/10/9 and TableAccessFlags for
    // all three; the blob storage is opened only when UsesBlobs. Active := true. A failure
    // leaves the definition as it was (storages freed again).
    void InternalOpen(TDiskMgr* DiskMgr);
    // Active master: closes and frees its storages; otherwise forgets them. Active := false.
    void InternalClose();
    // Fills a fixed sample definition (fields "Int1", "Str1", "Date1"; index "one" primary on
    // Int1 and "two" unique and hidden on Str1; record size 101).
    void DebugSetDefs();

    // The stored form: the definition's component text.
    std::string SaveToText() const;
    // Reads a stored definition: every published property is first reset to the value a new
    // definition has (the text omits empty strings and zero dates), then the text is read.
    // The header, the storages, the registry state and the privilege flags are not touched.
    // A field item without a type a record can hold raises 10000 "Invalid field type", so what
    // loads always saves and loads again.
    void LoadFromText(const std::string& Text);
    // Leaves this definition as LoadFromText of the text Source was read from would: the
    // component's Name and Tag and every published property (the collections item by item).
    // Run-time state is not touched. Reading a definition text is costly, so a reader that
    // meets the same text again copies an earlier result instead.
    void CopyStoredProperties(const TTableDef& Source);

    // ----- Published properties
    int32_t TableID() const { return FTableID; }
    void SetTableID(int32_t Value) { FTableID = Value; }
    uint32_t OwnerFlag() const { return FOwnerFlag; }
    void SetOwnerFlag(uint32_t Value) { FOwnerFlag = Value; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& Value) { FTableName = Value; }
    // The table check value (the table name, XOR-transformed for an encrypted table).
    const std::string& AltName() const { return FAltName; }
    void SetAltName(const std::string& Value) { FAltName = Value; }
    const std::string& Version() const { return FVersion; }
    void SetVersion(const std::string& Value) { FVersion = Value; }
    const std::string& OS() const { return FOS; }
    void SetOS(const std::string& Value) { FOS = Value; }
    TDateTime CreationDate() const { return FCreationDate; }
    void SetCreationDate(TDateTime Value) { FCreationDate = Value; }
    TDateTime LastModDate() const { return FLastModDate; }
    void SetLastModDate(TDateTime Value) { FLastModDate = Value; }
    const std::string& CreatedBy() const { return FCreatedBy; }
    void SetCreatedBy(const std::string& Value) { FCreatedBy = Value; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& Value) { FPassword = Value; }
    bool Encrypted() const { return FEncrypted; }
    void SetEncrypted(bool Value) { FEncrypted = Value; }
    int32_t SecurityLevel() const { return FSecurityLevel; }
    void SetSecurityLevel(int32_t Value) { FSecurityLevel = Value; }
    bool Memory() const { return FMemory; }
    void SetMemory(bool Value) { FMemory = Value; }
    // Bytes per record; 0 = compute from the fields when the table is opened.
    int32_t RecordSize() const { return FRecordSize; }
    void SetRecordSize(int32_t Value) { FRecordSize = Value; }
    int32_t DefaultBlobSize() const { return FDefaultBlobSize; }
    void SetDefaultBlobSize(int32_t Value) { FDefaultBlobSize = Value; }
    bool UsesBlobs() const { return FUsesBlobs; }
    void SetUsesBlobs(bool Value) { FUsesBlobs = Value; }
    TSortOrder SortOrder() const { return FSortOrder; }
    void SetSortOrder(TSortOrder Value) { FSortOrder = Value; }
    // One of the engine's own tables (master, system and security tables).
    bool InternalTable() const { return FInternalTable; }
    void SetInternalTable(bool Value) { FInternalTable = Value; }
    TEncryptionLevel EncryptionLevel() const { return FEncryptionLevel; }
    void SetEncryptionLevel(TEncryptionLevel Value) { FEncryptionLevel = Value; }
    TKeyFields* KeyFields() const { return FKeyFields.get(); }
    TInternalFields* InternalFields() const { return FInternalFields.get(); }
    TInternalIndexDefs* InternalIndexDefs() const { return FInternalIndexDefs.get(); }
    // Stored only: blobs are never compressed.
    bool BlobCompression() const { return FBlobCompression; }
    void SetBlobCompression(bool Value) { FBlobCompression = Value; }

    // ----- Run-time state (not stored)
    // The table header while the table is open; not owned.
    TTableHeader* TableHeader() const { return FTableHeader; }
    void SetTableHeader(TTableHeader* Value) { FTableHeader = Value; }
    // The storages: owned by an active master, borrowed by a connection's copy.
    TBaseIOInterface* IndexInterface() const { return FIndexInterface; }
    void SetIndexInterface(TBaseIOInterface* Value) { FIndexInterface = Value; }
    TBaseIOInterface* BlobInterface() const { return FBlobInterface; }
    void SetBlobInterface(TBaseIOInterface* Value) { FBlobInterface = Value; }
    TBaseIOInterface* RecordInterface() const { return FRecordInterface; }
    void SetRecordInterface(TBaseIOInterface* Value) { FRecordInterface = Value; }
    // The registry's master definition of the table.
    bool MasterDef() const { return FMasterDef; }
    void SetMasterDef(bool Value) { FMasterDef = Value; }
    // Connections using the table (master only).
    int32_t UserCount() const { return FUserCount; }
    void SetUserCount(int32_t Value) { FUserCount = Value; }
    // The storages are open.
    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }
    // The logged-on user's privilege bits on the table.
    int32_t PrivilegeFlags() const { return FPrivilegeFlags; }
    void SetPrivilegeFlags(int32_t Value) { FPrivilegeFlags = Value; }

private:
    // Every published property to the value of a new definition.
    void ResetStoredProperties();

    std::unique_ptr<TInternalFields> FInternalFields;
    std::unique_ptr<TKeyFields> FKeyFields;
    std::unique_ptr<TInternalIndexDefs> FInternalIndexDefs;
    bool FMemory = false;
    int32_t FTableID = 0;
    std::string FVersion;
    std::string FCreatedBy;
    std::string FPassword;
    std::string FOS;
    TDateTime FCreationDate = 0;
    std::string FTableName;
    TTableHeader* FTableHeader = nullptr;
    TBaseIOInterface* FIndexInterface = nullptr;
    TBaseIOInterface* FBlobInterface = nullptr;
    TBaseIOInterface* FRecordInterface = nullptr;
    // What an active master owns (FIndexInterface, ... point into these).
    std::unique_ptr<TBaseIOInterface> FOwnedIndex, FOwnedBlob, FOwnedRecord;
    bool FMasterDef = false;
    int32_t FUserCount = 0;
    bool FActive = false;
    uint32_t FOwnerFlag = 0;
    bool FUsesBlobs = false;
    int32_t FDefaultBlobSize = 512;
    int32_t FRecordSize = 0;
    bool FInternalTable = false;
    TSortOrder FSortOrder = soANSI;
    TDateTime FLastModDate = 0;
    int32_t FSecurityLevel = 0;
    std::string FAltName;
    int32_t FPrivilegeFlags = 0;
    bool FEncrypted = false;
    TEncryptionLevel FEncryptionLevel = encNone;
    bool FBlobCompression = false;
};

// The registry of one database area: master definitions by name and id, and the operations
// every area offers. The base implements the lookups; the area operations do nothing here.
class TBaseTableDefMgr : public TObject {
public:
    TBaseTableDefMgr();
    // Frees every master (the base Close); a derived manager closes itself first.
    ~TBaseTableDefMgr() override;
    TBaseTableDefMgr(const TBaseTableDefMgr&) = delete;
    TBaseTableDefMgr& operator=(const TBaseTableDefMgr&) = delete;

    // Creates the index roots of a newly registered table. Base: nothing.
    virtual void InitializeIndexInterface(TTableDef* Def) {}
    // Registers a new table Name defined by Def (Def gets its TableID). Returns 0; base: -1.
    virtual int CreateTableDef(const std::string& Name, TTableDef* Def) { return -1; }
    // One connection less on the table. Base: nothing.
    virtual void CloseTableDefConnection(int32_t TableID) {}
    // One connection more: Def borrows the table's storages and header. Base: nothing.
    virtual void OpenTableDefConnection(const std::string& Name, TTableDef* Def) {}
    // Unregisters the table and deletes its header. Returns 0 (base: 0, nothing done).
    virtual int DeleteTableDef(const std::string& Name, TTableDef* Def) { return 0; }
    // Applies a restructure request to the table's header and storages. Base: nothing.
    virtual void RestructureTableDef(TTableDef* Def, TInternalRestructureRecord& Request) {}
    // Base: nothing.
    virtual void Open() {}
    // Base: frees every master definition and empties the list.
    virtual void Close();

    // The position of the master named Name (ignoring case); -1 when none.
    int IndexOfTableName(const std::string& Name) const;
    // The position of the master with that TableID; -1 when none.
    int IndexOfTableDef(int32_t TableID) const;
    // The user count of the named table; 0 when it is not registered.
    int CheckTableUserCount(const std::string& Name) const;
    // Adds every registered table name to List.
    void GetCurrentTableNames(TStrings* List) const;

    int Count() const { return static_cast<int>(FTableDefs.size()); }
    TTableDef* TableDefs(int Position) const { return FTableDefs[static_cast<size_t>(Position)].get(); }
    TTableHeaderMgr* HeaderMgr() const { return FHeaderMgr; }
    void SetHeaderMgr(TTableHeaderMgr* Value) { FHeaderMgr = Value; }
    bool SystemTableMgr() const { return FSystemTableMgr; }
    void SetSystemTableMgr(bool Value) { FSystemTableMgr = Value; }

protected:
    // Header manager present, else 8576 with Caller.
    TTableHeaderMgr& RequireHeaderMgr(const char* Caller);
    // A new master assigned from Def: master flag, TableID, OwnerFlag = TableID shl 4.
    std::unique_ptr<TTableDef> NewMaster(const TTableDef& Def, int32_t TableID) const;
    // Adds the master at the end of the list; returns it.
    TTableDef* Register(std::unique_ptr<TTableDef> Master);
    // Closes the master at Position (InternalClose, its header closed), frees it and drops it
    // from the list. Everything is released even when a step fails; the first failure is
    // raised afterwards.
    void FreeMaster(int Position);
    // CreateTableDef for both areas: 8577 when Def is not of this area (MemoryArea), 8580 when
    // Name is registered, 8576 without a header manager; then a header is added and Install
    // registers the master under its TableID. A failing Install deletes the header again.
    int InternalCreateTableDef(const std::string& Name, TTableDef* Def, const char* Caller, bool MemoryArea,
                               const std::function<void(int32_t TableID)>& Install);
    // DeleteTableDef for both areas (see TDiskTableDefMgr::DeleteTableDef).
    int InternalDeleteTableDef(const std::string& Name, TTableDef* Def, const char* Caller);
    // Closes every master and empties the list; the first failure is raised afterwards.
    void FreeAllMasters();

    std::vector<std::unique_ptr<TTableDef>> FTableDefs;
    TTableHeaderMgr* FHeaderMgr = nullptr;
    bool FSystemTableMgr = false;
};

// The registry of the tables of a database file. Set up with SetHdrDiskInterface (the header
// storage, 256-byte blocks), SetBaseDefMgrAddress (the table map) and SetSystemTableMgr.
class TDiskTableDefMgr : public TBaseTableDefMgr {
public:
    TDiskTableDefMgr();
    // Close (failures dropped).
    ~TDiskTableDefMgr() override;

    // Empty root pages for every index of Def in a temporary index storage set up as the
    // table's own (access flags, whole pages), entered in the table header (depth 1) and the
    // header written. A failure gives the roots already allocated back.
    void InitializeIndexInterface(TTableDef* Def) override;
    // Def.Memory: 8577; Name registered: 8580. Field generator ids that occur twice in Def are
    // drawn again (the later field's); a new header with Def's index count (TableID :=
    // the header manager's AddTable, also Def's); the index roots; then a master assigned from
    // Def is registered with user count 0. A failure deletes the new header again and
    // registers nothing. Returns 0.
    int CreateTableDef(const std::string& Name, TTableDef* Def) override;
    // Not registered: 8579. User count - 1; at 0 the master is closed, its header closed, and
    // it is freed and unregistered.
    void CloseTableDefConnection(int32_t TableID) override;
    // Not registered: a master from Def (header opened by Def's TableID) is registered. A master
    // that is not active opens its header (once) and its storages on the header storage's disk
    // manager. Def borrows the storages and the header (its own data stays); user count + 1. A
    // failure leaves the registry as it was.
    void OpenTableDefConnection(const std::string& Name, TTableDef* Def) override;
    // When registered: another connection besides the caller's own one (user count above 1):
    // 8578, nothing changed; otherwise the master is closed, its header closed, and it is
    // unregistered and freed. Then the header manager deletes the table (Def's TableID, the
    // master's when Def has none); Def forgets header, storages and id. Returns 0. The pages
    // of the table are the caller's to free (TDiskMgr::DeleteOwnedPages(TableID, 0, false)):
    // they hold nothing of another table.
    int DeleteTableDef(const std::string& Name, TTableDef* Def) override;
    // Def.Memory: 8577; Def without header or storages: 8576; a list of Request null: 8576.
    // When the fields or the indexes change (status dcAdded..dcDataLoss) and other connections
    // use the table: 8578. Field generator ids of new fields that collide are drawn again.
    // Fields changed: the header is reset (cleared) and the table's record, blob and index
    // pages are freed; indexes changed only: the header keeps its other values and the table's
    // index pages are freed (Empty(True) of the index storage). In both cases the header
    // gets IndexCount = Def's index count (at least 1), new empty roots with depth 1, and every
    // slot past Def's index definitions cleared. The auto-increment value and the generators
    // are the request's where flagged, else kept; ModifiedFlag keeps counting. Neither
    // changed: only those values are written.
    void RestructureTableDef(TTableDef* Def, TInternalRestructureRecord& Request) override;
    // Close, then InternalInitHeaderMgr.
    void Open() override;
    // Every master closed (storages, header) and freed; the header manager closes its open
    // headers. The first failure is raised after everything is released.
    void Close() override;
    // Frees every master that no connection uses (user count 0): a registration that
    // CreateTableDef made and a rollback took back, or one under a name that was changed.
    // Masters in use stay. The first failure is raised after every such master is freed.
    void ForgetUnusedTables();

    // The address of this area's table map (PageSize: system tables; 3 x PageSize: user).
    uint32_t BaseDefMgrAddress() const { return FBaseDefMgrAddress; }
    void SetBaseDefMgrAddress(uint32_t Address) { FBaseDefMgrAddress = Address; }
    // The header storage (256-byte blocks); not owned.
    TDiskIOInterface* HdrDiskInterface() const { return FHdrDiskInterface; }
    void SetHdrDiskInterface(TDiskIOInterface* Value) { FHdrDiskInterface = Value; }
    // No header storage: 8579; map address 0: 8576. Creates the header manager when there is
    // none (map address, first table id 1024 for a system-table manager, else 1) and opens it
    // on the header storage (an existing one is opened again, so it reads the map anew).
    void InternalInitHeaderMgr();

private:
    // The disk manager of the header storage; 8576 when none.
    TDiskMgr& RequireDiskMgr(const char* Caller);

    std::unique_ptr<TTableHeaderMgr> FOwnedHeaderMgr;
    uint32_t FBaseDefMgrAddress = 0;
    TDiskIOInterface* FHdrDiskInterface = nullptr;
};

// The registry of in-memory tables, with its own header storage and table map in memory.
class TMemoryTableDefMgr : public TBaseTableDefMgr {
public:
    TMemoryTableDefMgr();
    // Close (failures dropped).
    ~TMemoryTableDefMgr() override;

    // Nothing: InternalOpen makes an in-memory table's roots.
    void InitializeIndexInterface(TTableDef* Def) override {}
    // Def.Memory false: 8577; Name registered: 8580. As the disk manager, without index roots.
    int CreateTableDef(const std::string& Name, TTableDef* Def) override;
    // Not registered: 8579. The user count drops by 1 when it is at least 1; the master stays
    // registered, with its storages and data.
    void CloseTableDefConnection(int32_t TableID) override;
    // Not registered: 8579 with the name. A master that is not active opens its header (once)
    // and its memory storages. Def is assigned from the master and borrows its storages and
    // header; user count + 1.
    void OpenTableDefConnection(const std::string& Name, TTableDef* Def) override;
    // As TDiskTableDefMgr::DeleteTableDef; the table's memory storages go with its master.
    int DeleteTableDef(const std::string& Name, TTableDef* Def) override;
    // 10766 with the table name.
    void RestructureTableDef(TTableDef* Def, TInternalRestructureRecord& Request) override;
    // Close, then InternalInitHeaderMgr.
    void Open() override;
    // Every master closed and freed; then the header manager and the header storage are
    // freed, so every in-memory table of the area is gone.
    void Close() override;

    // When there is no header manager: a memory header storage (4096-byte blocks), a zero
    // 8192-byte table map allocated in it, and a header manager on that map (first table id
    // 1024 for a system-table manager, else 1), opened on the storage.
    void InternalInitHeaderMgr();
    // The header storage; null before InternalInitHeaderMgr and after Close.
    TMemoryIOInterface* HeaderStorage() const { return FHeaderStorage.get(); }

private:
    std::unique_ptr<TMemoryIOInterface> FHeaderStorage;
    std::unique_ptr<TTableHeaderMgr> FOwnedHeaderMgr;
};

}  // namespace ostra
