// orqDataBaseTables: the master tables and the tables of a connection: creating, opening,
// closing, renaming, deleting and listing them, their stored definitions, and the definitions
// dump.
//
// Every disk table has a row in a master table: "$MSTRTBLUSER" for user tables,
// "$MSTRTBLSYSTEM" for the engine's own tables (names beginning with "$"). The row holds the
// name (unique, compared without regard to case) and the definition's component text, which
// names the table's identifier; the identifier leads through the table map to the table's header.
// Row and registration change together under the header write lock:
//   - creating, renaming and deleting run as one transaction of their own when the connection
//     is in none and its cursors hold no locks (a commit releases every lock): a failure or a
//     crash leaves the file as it was. A delete's zeroed pages are held in memory until that
//     commit. Otherwise (inside the caller's transaction, or while cursors hold locks) they write
//     in this order, so that a failure leaves the table wholly there or wholly gone:
//   - creating registers the table (header, index roots), then adds its row; a failure adding
//     the row frees the table's pages and header again (unless the row is in after all);
//   - deleting removes the row first, then frees the pages while the header still holds the
//     identifier (so that no new table can take the identifier of pages not yet freed), then the
//     header; a failure before the row is gone changes nothing, a later one leaves pages and
//     header under an identifier nobody else can get, never a row naming freed pages.
#include <cstring>
#include <exception>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataBaseScopes.h"
#include "engine/components/orqSecurityManager.h"
#include "engine/components/orqTable.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqPrivileges.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Collation.h"
#include "host/DateTime.h"
#include "host/Streams.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "host/db/Field.h"

namespace ostra {

namespace {

// The fields of a master table row.
constexpr int CMasterNameField = 1;
constexpr int CMasterDefField = 2;
// The blob block size of the master tables.
constexpr int32_t CMasterBlobSize = 1024;
// The pages a discarded table gives back per transaction (4 MiB of 4096-byte pages).
constexpr uint32_t CDiscardStepPages = 1024;

// The object privilege bits asked for by the table operations.
constexpr int32_t CPrivDropObject = 4;
constexpr int32_t CPrivOpenObject = 8;
constexpr int32_t CPrivAlterObject = 16;

bool IsInternalName(const std::string& Name) { return !Name.empty() && Name[0] == '$'; }

constexpr char CRebuildWorkPrefix[] = "~restructure-";

// Refuses Name for a table made or renamed by anyone but a rebuild (10039).
void RefuseRebuildWorkName(const std::string& Name, const char* Caller, TOrqDataBase* DataBase) {
    if (IsRebuildWorkTableName(Name))
        OrqDatabaseError(10039, Caller,
                         Name + ": names beginning with " + CRebuildWorkPrefix + " belong to the engine's table rebuilds",
                         DataBase);
}

// The name with its extension replaced by Extension (or Extension appended).
std::string ChangeFileExt(const std::string& Name, const std::string& Extension) {
    const std::size_t dot = Name.rfind('.');
    const std::size_t slash = Name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return Name + Extension;
    return Name.substr(0, dot) + Extension;
}

// Connects a closed component at design time for one listing and disconnects it afterwards.
class TDesignTimeConnection {
public:
    explicit TDesignTimeConnection(TOrqDataBase& DataBase)
        : FDataBase(DataBase),
          FConnected(DataBase.ComponentState().Contains(csDesigning) && !DataBase.Connected()) {
        if (FConnected) DataBase.SetConnected(true);
    }
    ~TDesignTimeConnection() {
        if (!FConnected) return;
        try {
            FDataBase.SetConnected(false);
        } catch (...) {
        }
    }

private:
    TOrqDataBase& FDataBase;
    bool FConnected;
};

}  // namespace

std::string RebuildWorkTableName(const std::string& TableName, bool Retired) {
    const std::string upper = AnsiUpperCase(TableName);
    const std::string tag = IntToHex(int64_t(CalcCRC(upper.data(), int(upper.size()))), 8);
    return std::string(CRebuildWorkPrefix) + (Retired ? "old-" : "new-") + tag;
}

bool IsRebuildWorkTableName(const std::string& Name) {
    const size_t length = sizeof CRebuildWorkPrefix - 1;
    return Name.size() >= length && AnsiSameText(Name.substr(0, length), CRebuildWorkPrefix);
}

// ---------------------------------------------------------------------------------------------
// The master tables

void TOrqDataBase::SetMasterTableDef(TTableDef& Def) const {
    static constexpr const char* Caller = "TOrqDataBase.SetMasterTableDef";
    Def.Clear();
    Def.SetMemory(false);
    Def.SetOwnerFlag(0);
    Def.SetInternalTable(true);
    Def.SetSortOrder(soANSI);
    if (FUseEncryption) {
        Def.SetEncryptionLevel(encStrong);
        Def.SetEncrypted(true);
    }
    // AutoID, Name (a table name of up to 40 characters: a string field's size holds one more)
    // and TableDef (the definition's component text).
    TInternalFields& layout = *Def.InternalFields();
    const struct {
        const char* Name;
        TFieldType Type;
        int32_t Size;
    } fields[] = {{"AutoID", ftAutoInc, 0}, {"Name", ftString, C_MAXTABLENAMELENGTH + 1}, {"TableDef", ftBlob, 0}};
    for (int i = 0; i < 3; ++i) {
        TInternalFieldItem& field = *layout.Add();
        field.SetDataType(fields[i].Type);
        field.SetFieldNo(i);
        field.SetFieldIndex(i);
        if (fields[i].Size != 0) field.SetFieldSize(fields[i].Size);
        field.SetIsVariable(fields[i].Type != ftAutoInc);
        field.SetFieldName(fields[i].Name);
    }
    layout.SetDefaultOffsets();
    layout.Open();
    Def.SetRecordSize(layout.RecordSize());
    Def.SetDefaultBlobSize(CMasterBlobSize);
    Def.SetUsesBlobs(true);
    // One index, without a name: the table name, unique, ignoring case.
    TIndexRequest request;
    request.Fields = "Name";
    request.Primary = true;
    request.Unique = true;
    request.CaseInsensitive = true;
    DeriveIndexDef(request, false, false, layout, *Def.KeyFields(), *Def.InternalIndexDefs(), SorqValueInvalidFmt,
                   Caller, const_cast<TOrqDataBase*>(this));
}

std::unique_ptr<TOrqDataSet> TOrqDataBase::OpenMasterTable(const std::string& Name, int32_t TableID) {
    auto cursor = std::make_unique<TOrqDataSet>(nullptr);
    TTableDef& def = cursor->TableDefinition();
    def.SetInternalTable(true);  // the engine's own: no client of the connection
    cursor->SetDataBase(this);
    cursor->SetTableName(Name);
    cursor->SetReadOnly(FReadOnly);
    SetMasterTableDef(def);
    def.SetTableName(Name);
    def.SetTableID(TableID);
    {
        THeaderLock lock(*FDiskMgr, false);
        FSystemTableMgr->OpenTableDefConnection(Name, &def);
        lock.Release();
    }
    try {
        InternalSetTablePrivileges(&def, true);
        cursor->InternalOpenDataSet();
    } catch (...) {
        try {
            FSystemTableMgr->CloseTableDefConnection(TableID);
        } catch (...) {
        }
        def.InternalClose();
        def.SetTableHeader(nullptr);
        throw;
    }
    return cursor;
}

void TOrqDataBase::CreateMasterTables() {
    RequireHeaderLock("TOrqDataBase.CreateMasterTables");
    for (const char* name : {C_USERMASTERTABLE, C_SYSTEMMASTERTABLE}) {
        TTableDef def(nullptr);
        SetMasterTableDef(def);
        def.SetTableName(name);
        FSystemTableMgr->CreateTableDef(name, &def);
    }
    // The master tables are the first two of the system area: their identifiers are fixed.
    Assert(FSystemTableMgr->IndexOfTableDef(C_USERMASTERTABLEID) >= 0 &&
               FSystemTableMgr->IndexOfTableDef(C_SYSTEMMASTERTABLEID) >= 0,
           "Master tables not at their identifiers");
}

void TOrqDataBase::RequireHeaderLock(const char* Caller) const {
    if (!FDiskMgr->HeaderWriteLocked())
        OrqDatabaseError(8581, Caller, "Database header not locked prior to system change",
                         const_cast<TOrqDataBase*>(this));
}

void TOrqDataBase::CreateInternalTable(const std::string& Name, std::initializer_list<TInternalFieldSpec> Fields,
                                       std::initializer_list<TInternalIndexSpec> Indexes, TEncryptionLevel Level) {
    TRestructureFieldDefs fields;
    for (const TInternalFieldSpec& field : Fields) fields.AddAndSetFieldDef(field.Name, field.Type, field.Size);
    TRestructureIndexDefs indexes;
    for (const TInternalIndexSpec& index : Indexes) indexes.AddAndSetIndexDef(index.Name, index.Fields, index.Options);
    TOrqDataSet cursor(nullptr);
    cursor.TableDefinition().SetInternalTable(true);
    cursor.SetDataBase(this);
    cursor.SetTableName(Name);
    cursor.SetEncryptionLevel(Level);
    cursor.SetTableDefFromRSDefs(false, fields, indexes);
    InternalCreateTable(&cursor.TableDefinition());
}

void TOrqDataBase::CreateSystemTables() {
    RequireHeaderLock("TOrqDataBase.CreateSystemTables");
    const TIndexOptions unique{ixUnique, ixCaseInsensitive};
    const TEncryptionLevel level = FUseEncryption ? encStrong : encNone;
    CreateInternalTable(C_OBJECTIDTABLE, {{"ObjectID", ftInteger, 0}, {"ObjectName", ftString, C_MAXTABLENAMELENGTH}},
                        {{"ixObjectID", "ObjectID", unique}, {"ixObjectName", "ObjectName", unique}}, level);
    // Made right after the object-identifier table, with the same encryption.
    CreateInternalTable(C_GENERATORTABLE,
                        {{"GeneratorName", ftString, C_MAXGENERATORNAMELENGTH},
                         {"GeneratorValue", ftInteger, 0},
                         {"GeneratorStep", ftInteger, 0},
                         {"GeneratorResetValue", ftInteger, 0}},
                        {{"ixGenName", "GeneratorName", unique}}, level);
}

void TOrqDataBase::CreateSecurityTables() {
    RequireHeaderLock("TOrqDataBase.CreateSecurityTables");
    const TIndexOptions unique{ixUnique, ixCaseInsensitive};
    const TIndexOptions plain{ixCaseInsensitive};
    CreateInternalTable(C_SECGROUPSTABLE, {{"GroupID", ftAutoInc, 0}, {"GroupName", ftString, 30}},
                        {{"ixGroupName", "GroupName", unique}, {"ixGroupID", "GroupID", unique}}, encStrong);
    CreateInternalTable(C_SECUSERSTABLE,
                        {{"UserID", ftAutoInc, 0},
                         {"UserName", ftString, 30},
                         {"Pwd0", ftInteger, 0},
                         {"Pwd1", ftInteger, 0},
                         {"Pwd2", ftInteger, 0},
                         {"Pwd3", ftInteger, 0},
                         {"Pwd4", ftInteger, 0},
                         {"GroupID", ftInteger, 0},
                         {"DateCreated", ftDateTime, 0},
                         {"DateLastModified", ftDateTime, 0},
                         {"DateLastPWordChange", ftDateTime, 0}},
                        {{"ixUserName", "UserName", unique},
                         {"ixGroupUsers", "GroupID;UserName", plain},
                         {"ixPasswordAge", "DateLastPWordChange", plain}},
                        encStrong);
    CreateInternalTable(C_SECOBJPRIVTABLE,
                        {{"GroupID", ftInteger, 0},
                         {"ObjectType", ftInteger, 0},
                         {"ObjectID", ftInteger, 0},
                         {"PrivilegeID", ftInteger, 0},
                         {"ALL", ftBoolean, 0},
                         {"FieldsShort", ftString, 100},
                         {"FieldsLong", ftMemo, 0},
                         {"GrantOption", ftBoolean, 0}},
                        {{"ixGroupPriv", "GroupID;ObjectType;ObjectID;PrivilegeID", unique}}, encStrong);
    CreateInternalTable(C_SECSYSPRIVTABLE,
                        {{"GroupID", ftInteger, 0}, {"PrivilegeID", ftInteger, 0}, {"GrantOption", ftBoolean, 0}},
                        {{"ixGroupPriv", "GroupID;PrivilegeID", unique}}, encStrong);
}

void TOrqDataBase::InternalOpenSystemTables() {
    FUserMaster = OpenMasterTable(C_USERMASTERTABLE, C_USERMASTERTABLEID);
    if (FMinorVersion <= 1) return;
    FSystemMaster = OpenMasterTable(C_SYSTEMMASTERTABLE, C_SYSTEMMASTERTABLEID);
    auto generators = std::make_unique<TOrqDataSet>(nullptr);
    generators->TableDefinition().SetInternalTable(true);
    generators->SetDataBase(this);
    generators->SetTableName(C_GENERATORTABLE);
    generators->SetReadOnly(FReadOnly);
    generators->InternalSetIndexName("ixGenName");
    generators->DataSetOpen();
    FGeneratorTable = std::move(generators);
    FObjectIDTable = OpenSystemTable(C_OBJECTIDTABLE, "ixObjectName");
    if (!NeedSecurity()) return;
    FGroupsTable = OpenSystemTable(C_SECGROUPSTABLE, "ixGroupName");
    FUsersTable = OpenSystemTable(C_SECUSERSTABLE, "ixUserName");
    FObjPrivTable = OpenSystemTable(C_SECOBJPRIVTABLE, "ixGroupPriv");
    FSysPrivTable = OpenSystemTable(C_SECSYSPRIVTABLE, "ixGroupPriv");
    FSecurityManager->Open(this, FUsersTable.get(), FObjectIDTable.get(), FSysPrivTable.get(), FObjPrivTable.get(),
                           FGroupsTable.get());
}

std::unique_ptr<TOrqTable> TOrqDataBase::OpenSystemTable(const std::string& Name, const std::string& Index) {
    auto table = std::make_unique<TOrqTable>(nullptr);
    table->TableDefinition().SetInternalTable(true);
    table->SetDataBase(this);
    table->SetTableName(Name);
    table->SetReadOnly(FReadOnly);
    table->SetIndexName(Index);
    table->Open();
    return table;
}

void TOrqDataBase::StoreObjectID(const std::string& OldName, const std::string& NewName) {
    TOrqTable& table = *FObjectIDTable;
    if (table.IndexName() != "ixObjectName") table.SetIndexName("ixObjectName");
    if (!OldName.empty() && table.FindKey({Variant(OldName)})) {
        table.Edit();
    } else {
        const int32_t id = InternalGetGenerator(C_OBJECTIDGENERATOR, true);
        table.Append();
        table.FieldByName("ObjectID")->SetAsInteger(id);
    }
    try {
        table.FieldByName("ObjectName")->SetAsString(NewName);
        table.Post();
    } catch (...) {
        table.Cancel();
        throw;
    }
}

int32_t TOrqDataBase::InternalGetObjectIDFromName(const std::string& Name) {
    if (Name == C_AllObjectsName || !FObjectIDTable || !FObjectIDTable->Active()) return 0;
    if (Name.empty() || int(Name.size()) > C_MAXTABLENAMELENGTH) return 0;
    TOrqTable& table = *FObjectIDTable;
    if (table.IndexName() != "ixObjectName") table.SetIndexName("ixObjectName");
    return table.FindKey({Variant(Name)}) ? table.FieldByName("ObjectID")->AsInteger() : 0;
}

std::string TOrqDataBase::InternalGetObjectNameFromID(int32_t ID) {
    if (ID == 0) return C_AllObjectsName;
    if (!FObjectIDTable || !FObjectIDTable->Active()) return "";
    TOrqTable& table = *FObjectIDTable;
    table.SetIndexName("ixObjectID");
    std::string name;
    try {
        if (table.FindKey({Variant(ID)})) name = table.FieldByName("ObjectName")->AsString();
    } catch (...) {
        table.SetIndexName("ixObjectName");
        throw;
    }
    table.SetIndexName("ixObjectName");
    return name;
}

int32_t TOrqDataBase::ReadTableFieldIDs(const std::string& Name, std::vector<TFieldIDEntry>* List) {
    TDesignTimeConnection connection(*this);
    TTableDef def(nullptr);
    InternalGetTableDef(Name, &def);
    if (List) {
        const TInternalFields& fields = *def.InternalFields();
        for (int i = 0; i < fields.Count(); ++i) {
            const TInternalFieldItem& field = *fields.GetIndex(i);
            List->push_back({UpperCase(field.FieldName()), field.FieldGeneratorID()});
        }
    }
    return InternalGetObjectIDFromName(Name);
}

void TOrqDataBase::InternalCloseSystemTables() {
    TStepFailures steps("TOrqDataBase.InternalCloseSystemtables");
    if (FSecurityManager->Active()) FSecurityManager->Close();
    for (std::unique_ptr<TOrqTable>* table : {&FSysPrivTable, &FObjPrivTable, &FUsersTable, &FGroupsTable, &FObjectIDTable}) {
        if (!*table) continue;
        steps.Run([table] { (*table)->Close(); });
        table->reset();
    }
    for (std::unique_ptr<TOrqDataSet>* cursor : {&FGeneratorTable, &FSystemMaster, &FUserMaster}) {
        if (!*cursor) continue;
        steps.Run([cursor] { (*cursor)->DataSetClose(); });
        cursor->reset();
    }
    steps.RaiseFirst();
}

TOrqDataSet* TOrqDataBase::GetMasterTable(const TTableDef* Def) const {
    return Def->InternalTable() ? FSystemMaster.get() : FUserMaster.get();
}

TBaseTableDefMgr* TOrqDataBase::GetTableDefMgr(const TTableDef* Def) const {
    if (Def->Memory()) return FMemoryTableMgr.get();
    return Def->InternalTable() ? FSystemTableMgr.get() : FUserTableMgr.get();
}

TOrqDataSet& TOrqDataBase::RequireMaster(const TTableDef* Def, const std::string& Name) {
    TOrqDataSet* master = GetMasterTable(Def);
    // A database of minor version 1 has no master table of internal tables.
    if (!master) OrqDatabaseError(10024, "TOrqDataBase.InternalGetTableDef", Name, this);
    return *master;
}

bool TOrqDataBase::FindMasterRow(TOrqDataSet& Master, const std::string& Name) {
    if (Name.empty() || int(Name.size()) > C_MAXTABLENAMELENGTH) return false;
    Master.ClearRecord(nullptr);
    Master.DataSetSetFieldDataAsVariant(CMasterNameField, Variant(Name));
    return Master.Find(stEQ, Master.IndexName(), nullptr);
}

void TOrqDataBase::CheckTableName(const std::string& Name, const char* Caller) const {
    if (Name.empty() || int(Name.size()) > C_MAXTABLENAMELENGTH)
        OrqDatabaseErrorFmt(10039, Caller, SorqStringInvalidFmt, {Name, 1, C_MAXTABLENAMELENGTH},
                            const_cast<TOrqDataBase*>(this));
}

// ---------------------------------------------------------------------------------------------
// Stored definitions

void TOrqDataBase::InternalGetTableDef(const std::string& Name, TTableDef* Def) {
    static constexpr const char* Caller = "TOrqDataBase.InternalGetTableDef";
    CheckConnected(Def->Memory());
    if (Def->Memory()) {
        FMemoryTableMgr->OpenTableDefConnection(Name, Def);
        FMemoryTableMgr->CloseTableDefConnection(Def->TableID());
        Def->InternalClose();
        Def->SetTableHeader(nullptr);
        return;
    }
    const bool internal = Def->InternalTable() || IsInternalName(Name);
    Def->SetInternalTable(internal);
    TOrqDataSet& master = RequireMaster(Def, Name);
    if (!FindMasterRow(master, Name)) OrqDatabaseError(10024, Caller, Name, this);
    TStringStream text;
    try {
        bool isNull = false;
        master.DataSetGetFieldStream(CMasterDefField, isNull, text);
        LoadTableDef(text.DataString(), Def);
    } catch (const EOrqDatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        // The reader's own text says what is wrong with the stored text (a syntax error, nesting
        // too deep, a property that does not exist).
        OrqDatabaseError(8581, Caller, std::string("Internal error - the table definition could not be read: ") + e.what(),
                         this);
    } catch (...) {
        OrqDatabaseError(8581, Caller, "Internal error - the table definition could not be read", this);
    }
    Def->SetMemory(false);
    if (internal) Def->SetInternalTable(true);
}

void TOrqDataBase::LoadTableDef(const std::string& Text, TTableDef* Def) {
    // Only a bounded number of texts are kept; a database with more tables reads some again.
    constexpr size_t MaxReadDefs = 128;
    auto found = FReadDefs.find(Text);
    if (found != FReadDefs.end()) {
        Def->CopyStoredProperties(*found->second);
        return;
    }
    Def->LoadFromText(Text);
    if (FReadDefs.size() >= MaxReadDefs) FReadDefs.clear();
    auto read = std::make_unique<TTableDef>(nullptr);
    read->CopyStoredProperties(*Def);
    FReadDefs.emplace(Text, std::move(read));
}

void TOrqDataBase::QueryTableDef(const std::string& Name, bool Memory, TTableDef* Def) {
    Def->SetMemory(Memory);
    InternalGetTableDef(Name, Def);
}

void TOrqDataBase::InternalUpdateTableDef(const std::string& Name, TTableDef* Def, bool IsNew) {
    static constexpr const char* Caller = "TOrqDataBase.InternalUpdateTableDef";
    CheckConnected(false);
    THeaderLock lock(*FDiskMgr, true);
    CheckTableName(Def->TableName(), Caller);
    CheckTableName(Name, Caller);
    if (Def->Memory()) OrqDatabaseError(10766, Caller, Def->TableName(), this);
    const bool renamed = !AnsiSameText(Name, Def->TableName());
    TOrqDataSet& master = RequireMaster(Def, Def->TableName());
    if (!IsNew && renamed && FindMasterRow(master, Name)) OrqDatabaseError(13060, Caller, Name, this);
    const bool found = FindMasterRow(master, Def->TableName());
    TStringStream text;
    if (IsNew) {
        if (found) OrqDatabaseError(13060, Caller, Def->TableName(), this);
        TDiskTableDefMgr& registry = *static_cast<TDiskTableDefMgr*>(GetTableDefMgr(Def));
        registry.CreateTableDef(Def->TableName(), Def);
        // User tables get no object identifier here: identifiers serve privileges, and this
        // connection keeps none.
        try {
            master.InitializeNewRecord(master.RecordBuffer(), false);
            master.DataSetSetFieldDataAsVariant(CMasterNameField, Variant(Def->TableName()));
            text.WriteString(Def->SaveToText());
            master.DataSetSetFieldStream(CMasterDefField, false, &text);
            master.AddRecord(true);
            if (!Def->InternalTable() && FObjectIDTable) StoreObjectID("", Def->TableName());
        } catch (...) {
            // Unless the row is in after all (the failure came after it was stored), the table
            // is given back whole: its pages while its header still holds the identifier, then
            // the header.
            LogCurrentFailure(Caller);
            try {
                if (!FindMasterRow(master, Def->TableName())) {
                    TTableDef registered(nullptr);
                    registered.SetTableID(Def->TableID());
                    FDiskMgr->DeleteOwnedPages(uint16_t(Def->TableID()), 0, false);
                    registry.DeleteTableDef(Def->TableName(), &registered);
                }
            } catch (...) {
                LogCurrentFailure(Caller);
            }
            throw;
        }
        registry.ForgetUnusedTables();
    } else {
        if (!found) OrqDatabaseError(10024, Caller, Def->TableName(), this);
        const std::string oldName = Def->TableName();
        if (renamed) {
            Def->SetTableName(Name);
            master.DataSetSetFieldDataAsVariant(CMasterNameField, Variant(Name));
        }
        text.WriteString(Def->SaveToText());
        master.DataSetSetFieldStream(CMasterDefField, false, &text);
        master.UpdateRecord();
        // The identifier stays with the table: only its name changes.
        if (renamed && !Def->InternalTable() && FObjectIDTable) StoreObjectID(oldName, Name);
    }
    lock.Release();
}

// ---------------------------------------------------------------------------------------------
// Table operations

void TOrqDataBase::InternalCreateTable(TTableDef* Def) {
    CheckTableName(Def->TableName(), "TOrqDataBase.InternalCreateTable");
    Def->SetVersion(CEngineVersion);
    Def->SetOS(GetOSDetails());
    Def->SetCreationDate(Now());
    if (Def->CreatedBy().empty()) Def->SetCreatedBy(GetCurrentUser());
    Def->SetLastModDate(Now());
    if (IsInternalName(Def->TableName())) Def->SetInternalTable(true);
    if (Def->Memory()) {
        FMemoryTableMgr->CreateTableDef(Def->TableName(), Def);
        return;
    }
    InternalUpdateTableDef(Def->TableName(), Def, true);
}

void TOrqDataBase::RunAtomically(const std::function<void()>& Change) {
    // A commit releases every lock of the connection: a transaction of its own is only for a
    // connection whose cursors hold none (and that is in none).
    const bool own = !FDiskMgr->IsTransactionActive() && FDefLocks.empty() && FRecordLocks.empty() && !FLocked;
    if (!own) {
        Change();
        return;
    }
    FDiskMgr->DiskStartTransaction(false);
    try {
        Change();
        FDiskMgr->DiskCommit();
    } catch (...) {
        // Nothing of the change reached the file (a failed commit has rolled back itself); what
        // the connection's own cursors and registries hold of it goes.
        if (FDiskMgr->IsTransactionActive()) {
            try {
                FDiskMgr->DiskRollback();
            } catch (...) {
                LogCurrentFailure("TOrqDataBase.RunAtomically");
            }
        }
        for (TOrqDataSet* cursor : {FUserMaster.get(), FSystemMaster.get(), FGeneratorTable.get()})
            if (cursor && cursor->InternalActive()) cursor->DumpInternalCaches();
        if (FObjectIDTable && FObjectIDTable->Active()) {
            FObjectIDTable->DumpInternalCaches();
            try {
                FObjectIDTable->Refresh();
            } catch (...) {
                LogCurrentFailure("TOrqDataBase.RunAtomically");
            }
        }
        TStepFailures steps("TOrqDataBase.RunAtomically");
        for (TDiskTableDefMgr* registry : {FSystemTableMgr.get(), FUserTableMgr.get()})
            steps.Run([registry] { registry->ForgetUnusedTables(); });
        throw;
    }
}

void TOrqDataBase::CreateTable(TTableDef* Def, bool DumpDefinitions) {
    CheckConnected(Def->Memory());
    RefuseRebuildWorkName(Def->TableName(), "TOrqDataBase.CreateTable", this);
    InternalCreateTableAtomically(Def, DumpDefinitions);
}

void TOrqDataBase::CreateRebuildWorkTable(TTableDef* Def) {
    CheckConnected(false);
    Assert(IsRebuildWorkTableName(Def->TableName()) && !Def->Memory(), "A rebuild's work table expected");
    InternalCreateTableAtomically(Def, false);
}

void TOrqDataBase::InternalCreateTableAtomically(TTableDef* Def, bool DumpDefinitions) {
    if (Def->Memory()) {
        InternalCreateTable(Def);
        return;
    }
    RunAtomically([&] {
        THeaderLock lock(*FDiskMgr, true);
        InternalCreateTable(Def);
        lock.Release();
    });
    if (DumpDefinitions && FSaveTableDefinitions) DumpTableDefinitions();
}

void TOrqDataBase::OpenTable(const std::string& Name, TTableDef* Def) {
    CheckConnected(Def->Memory());
    if (IsInternalName(Name)) Def->SetInternalTable(true);
    if (Def->Memory()) {
        FMemoryTableMgr->OpenTableDefConnection(Name, Def);
    } else {
        InternalGetTableDef(Name, Def);
        if (!Def->InternalTable() && NeedSecurity() && !QueryObjectPrivilegeExists(doTable, Name, CPrivOpenObject))
            OrqDatabaseError(10624, "TOrqDataBase.OpenTable", Name, this);
        THeaderLock lock(*FDiskMgr, false);
        GetTableDefMgr(Def)->OpenTableDefConnection(Def->TableName(), Def);
        try {
            lock.Release();
        } catch (...) {
            CloseTable(Def);
            throw;
        }
    }
    try {
        InternalSetTablePrivileges(Def, !NeedSecurity() || Def->InternalTable() || Def->Memory());
    } catch (...) {
        try {
            CloseTable(Def);
        } catch (...) {
        }
        Def->InternalClose();
        Def->SetTableHeader(nullptr);
        throw;
    }
}

void TOrqDataBase::CloseTable(TTableDef* Def) {
    TStepFailures steps("TOrqDataBase.CloseTable");
    // A lock the cursor left goes with its table; the table is given back whatever happens.
    steps.Run([this, Def] { ReleaseLockOf(Def); });
    // After a disconnection the registries are closed: nothing is left to give back.
    if (FConnected) steps.Run([this, Def] { GetTableDefMgr(Def)->CloseTableDefConnection(Def->TableID()); });
    steps.RaiseFirst();
}

void TOrqDataBase::DeleteTable(const std::string& Name, bool Memory) {
    static constexpr const char* Caller = "TOrqDataBase.DeleteTable";
    CheckConnected(Memory);
    if (!Memory) {
        CheckExclusive();
        if (!QueryObjectPrivilegeExists(doTable, Name, CPrivDropObject)) OrqDatabaseError(10624, Caller, Name, this);
    }
    TTableDef def(nullptr);
    def.SetMemory(Memory);
    InternalGetTableDef(Name, &def);
    TBaseTableDefMgr& registry = *GetTableDefMgr(&def);
    if (TableUserCount(registry, def.TableName()) > 0)
        OrqDatabaseErrorFmt(10053, Caller, SorqTableInUseFmt, {Name}, this);
    if (Memory) {
        registry.DeleteTableDef(def.TableName(), &def);
        return;
    }
    Assert(FDiskMgr != nullptr, "Deleting disk table - DiskMgr is nil");
    RunAtomically([&] {
        THeaderLock lock(*FDiskMgr, true);
        DropDiskTable(def, registry, true);
        lock.Release();
    });
}

void TOrqDataBase::DropObjectID(const TTableDef& Def) {
    if (Def.InternalTable() || !FObjectIDTable) return;
    FObjectIDTable->SetIndexName("ixObjectName");
    if (FObjectIDTable->FindKey({Variant(Def.TableName())})) FObjectIDTable->Delete();
}

void TOrqDataBase::DropDiskTable(TTableDef& Def, TBaseTableDefMgr& Registry, bool DropID) {
    TOrqDataSet& master = RequireMaster(&Def, Def.TableName());
    if (!FindMasterRow(master, Def.TableName()))
        OrqDatabaseError(8581, "TOrqDataBase.DeleteTable", "Unable to delete internal table definition: " + Def.TableName(),
                         this);
    master.DeleteRecord(nullptr);
    if (DropID) DropObjectID(Def);
    FDiskMgr->DeleteOwnedPages(uint16_t(Def.TableID()), 0, false);
    Registry.DeleteTableDef(Def.TableName(), &Def);
}

void TOrqDataBase::DiscardTable(const std::string& Name) {
    static constexpr const char* Caller = "TOrqDataBase.DiscardTable";
    CheckConnected(false);
    CheckExclusive();
    TTableDef def(nullptr);
    InternalGetTableDef(Name, &def);
    TBaseTableDefMgr& registry = *GetTableDefMgr(&def);
    if (TableUserCount(registry, def.TableName()) > 0)
        OrqDatabaseErrorFmt(10053, Caller, SorqTableInUseFmt, {Name}, this);
    // The pages go first, a bounded number per transaction (each freed page is held in memory,
    // zeroed, until the commit); then the row and the header. A table that lost only some of
    // its pages is of no use, but it is still dropped whole by the next discard.
    for (bool more = true; more;) {
        RunAtomically([&] {
            THeaderLock lock(*FDiskMgr, true);
            more = FDiskMgr->DeleteOwnedPages(uint16_t(def.TableID()), 0, false, CDiscardStepPages) > 0;
            lock.Release();
        });
    }
    RunAtomically([&] {
        THeaderLock lock(*FDiskMgr, true);
        DropDiskTable(def, registry, true);
        lock.Release();
    });
}

void TOrqDataBase::ReplaceTable(const std::string& Name, const std::string& Replacement, const std::string& Retired) {
    static constexpr const char* Caller = "TOrqDataBase.ReplaceTable";
    CheckConnected(false);
    CheckExclusive();
    TTableDef old(nullptr), replacement(nullptr);
    InternalGetTableDef(Name, &old);
    InternalGetTableDef(Replacement, &replacement);
    if (old.InternalTable() || replacement.InternalTable() || IsInternalName(Retired))
        OrqDatabaseError(10039, Caller, Replacement + ": only user tables are replaced", this);
    CheckTableName(Retired, Caller);
    TDiskTableDefMgr& registry = *static_cast<TDiskTableDefMgr*>(GetTableDefMgr(&old));
    for (const std::string& table : {Name, Replacement})
        if (TableUserCount(registry, table) > 0) OrqDatabaseErrorFmt(10053, Caller, SorqTableInUseFmt, {table}, this);
    RunAtomically([&] {
        THeaderLock lock(*FDiskMgr, true);
        TOrqDataSet& master = RequireMaster(&old, Name);
        if (FindMasterRow(master, Retired)) OrqDatabaseError(13060, Caller, Retired, this);
        // The rows swap names; the object identifier of the name (which its privileges refer
        // to) stays with the name, and the replacement's own goes.
        DropObjectID(replacement);
        const std::string name = old.TableName();
        for (auto [def, from, to] : {std::tuple{&old, name, Retired}, {&replacement, Replacement, name}}) {
            if (!FindMasterRow(master, from)) OrqDatabaseError(10024, Caller, from, this);
            def->SetTableName(to);
            def->SetAltName(TableCheckValue(to, def->Encrypted()));
            def->SetLastModDate(Now());
            master.DataSetSetFieldDataAsVariant(CMasterNameField, Variant(to));
            TStringStream text;
            text.WriteString(def->SaveToText());
            master.DataSetSetFieldStream(CMasterDefField, false, &text);
            master.UpdateRecord();
        }
        lock.Release();
    });
    registry.ForgetUnusedTables();
    DiscardTable(Retired);
}

void TOrqDataBase::RenameTable(const std::string& OldName, const std::string& NewName) {
    static constexpr const char* Caller = "TOrqDataBase.RenameTable";
    CheckConnected(false);
    CheckExclusive();
    if (!QueryObjectPrivilegeExists(doTable, OldName, CPrivAlterObject))
        OrqDatabaseError(10624, Caller, OldName, this);
    TTableDef def(nullptr);
    try {
        InternalGetTableDef(OldName, &def);
    } catch (const EOrqDatabaseError& E) {
        // Only disk tables are renamed.
        if (E.ErrorCode == 10024 && FMemoryTableMgr->IndexOfTableName(OldName) >= 0)
            OrqDatabaseError(10766, Caller, OldName, this);
        throw;
    }
    def.SetLastModDate(Now());
    TDiskTableDefMgr& registry = *static_cast<TDiskTableDefMgr*>(GetTableDefMgr(&def));
    if (TableUserCount(registry, def.TableName()) > 0)
        OrqDatabaseErrorFmt(10119, Caller, SorqTableInUseFmt, {OldName}, this);
    // A table stays on its side of the "$" line: the engine's tables are found by the leading "$",
    // so a rename across it would lose the table.
    if (IsInternalName(NewName) != def.InternalTable())
        OrqDatabaseError(10039, Caller, NewName + ": names beginning with $ belong to the engine's own tables", this);
    RefuseRebuildWorkName(NewName, Caller, this);
    // The check value follows the name (an encrypted table opens only under the name it gives).
    if (!AnsiSameText(NewName, def.TableName())) def.SetAltName(TableCheckValue(NewName, def.Encrypted()));
    RunAtomically([&] { InternalUpdateTableDef(NewName, &def, false); });
    registry.ForgetUnusedTables();
}

void TOrqDataBase::UpdateTableDef(TTableDef* Def, TInternalRestructureRecord& Request) {
    CheckConnected(Def->Memory());
    CheckExclusive();
    GetTableDefMgr(Def)->RestructureTableDef(Def, Request);
    Def->SetLastModDate(Now());
    InternalUpdateTableDef(Def->TableName(), Def, false);
}

// ---------------------------------------------------------------------------------------------
// Listing

namespace {

// Adds the name of every row of Master, in name order, under one read lock.
void AddMasterNames(TOrqDataSet& Master, TStrings* List) {
    UnderTableLock(Master, false, [&] {
        for (bool more = Master.DataSetFirst(); more; more = Master.DataSetNext()) {
            Variant name;
            Master.DataSetGetFieldDataAsVariant(CMasterNameField, name);
            List->Add(VarToStr(name));
        }
    });
}

}  // namespace

void TOrqDataBase::GetTableNames(TStrings* List, bool Memory) {
    TDesignTimeConnection connection(*this);
    CheckConnected(Memory);
    if (Memory)
        FMemoryTableMgr->GetCurrentTableNames(List);
    else
        AddMasterNames(*FUserMaster, List);
}

void TOrqDataBase::GetSystemTableNames(TStrings* List) {
    TDesignTimeConnection connection(*this);
    CheckConnected(false);
    if (FMinorVersion > 1 && FSystemMaster) AddMasterNames(*FSystemMaster, List);
}

int TOrqDataBase::GetLocalConnectedUserCount(const std::string& Name) const {
    return FUserTableMgr ? FUserTableMgr->CheckTableUserCount(Name) : 0;
}

int TOrqDataBase::GetLocalConnectedUserCountReleasingIdle(const std::string& Name) {
    return FUserTableMgr ? TableUserCount(*FUserTableMgr, Name) : 0;
}

bool TOrqDataBase::ReleaseIdleTables() {
    // Collected first: releasing frees a query's bridges, which leave the list of datasets.
    std::vector<TOrqDataSet*> idle;
    for (int i = 0; i < DataSetCount(); ++i)
        if (auto* dataset = dynamic_cast<TOrqDataSet*>(DataSets(i)); dataset && dataset->HoldsIdleTables())
            idle.push_back(dataset);
    for (TOrqDataSet* dataset : idle) dataset->ReleaseIdleTables();
    return !idle.empty();
}

int TOrqDataBase::TableUserCount(TBaseTableDefMgr& Registry, const std::string& Name) {
    const int count = Registry.CheckTableUserCount(Name);
    return count > 0 && ReleaseIdleTables() ? Registry.CheckTableUserCount(Name) : count;
}

void TOrqDataBase::DumpTableDefinitions() {
    CheckConnected(false);
    THeaderLock lock(*FDiskMgr, true);
    TStringList names;
    GetTableNames(&names, false);
    TOrqDataBase dump(nullptr);
    dump.SetDirectory(FDirectory);
    dump.SetDataBaseName(ChangeFileExt(FDataBaseName, ".ord"));
    dump.SetDefaultSortOrder(FDefaultSortOrder);
    dump.SetExclusive(true);
    dump.CreateDatabase();
    dump.SetConnected(true);
    for (int i = 0; i < names.Count(); ++i) {
        TTableDef def(nullptr);
        InternalGetTableDef(names.Strings(i), &def);
        dump.CreateTable(&def, false);
    }
    dump.SetConnected(false);
    lock.Release();
}

// ---------------------------------------------------------------------------------------------
// Privileges

const TObjectPrivilege* TOrqDataBase::FindObjectPrivilege(const std::string& Name, TObjectPrivilegeType Type) const {
    const TObjectPrivileges& privileges = *FPrivileges->ObjectPrivileges();
    if (const TObjectPrivilege* privilege = privileges.FindPrivilege(doTable, Name, Type)) return privilege;
    // What the group holds on every table counts only where it holds nothing on this one.
    if (privileges.CheckForNamedObjectPrivileges(doTable, Name)) return nullptr;
    return privileges.FindPrivilege(doTable, C_AllObjectsName, Type);
}

bool TOrqDataBase::QueryObjectPrivilegeExists(TDatabaseObjectType ObjectType, const std::string& Name,
                                              int32_t Privilege) {
    static constexpr const char* Caller = "TOrqDataBase.QueryObjectPrivilegeExists";
    if (!NeedSecurity()) return true;
    if (ObjectType != doTable) OrqDatabaseError(8579, Caller, Name, this);
    // Privileges name tables by identifier: a table without one is no table of this database.
    if (Name != C_AllObjectsName && !IsInternalName(Name) && InternalGetObjectIDFromName(Name) == 0)
        OrqDatabaseError(8579, Caller, Name, this);
    return FindObjectPrivilege(Name, MapObjectPrivConstToType(Privilege)) != nullptr;
}

void TOrqDataBase::InternalSetTablePrivileges(TTableDef* Def, bool All) {
    TInternalFields& fields = *Def->InternalFields();
    if (All) {
        Def->SetPrivilegeFlags(C_ALLPRIVILEGES);
        for (int i = 0; i < fields.Count(); ++i) fields.GetIndex(i)->SetPrivilegeFlags(C_ALLPRIVILEGES);
        return;
    }
    if (InternalGetObjectIDFromName(Def->TableName()) == 0)
        OrqDatabaseError(8579, "TOrqDataBase.InternalSetTablePrivileges", Def->TableName(), this);
    int32_t flags = 0;
    for (int i = 0; i < fields.Count(); ++i) fields.GetIndex(i)->SetPrivilegeFlags(0);
    for (int type = opCreateObj; type <= opUpdateData; ++type) {
        const TObjectPrivilege* privilege = FindObjectPrivilege(Def->TableName(), TObjectPrivilegeType(type));
        if (!privilege) continue;
        const int32_t bit = MapObjectPrivTypeToConst(TObjectPrivilegeType(type));
        flags |= bit;
        TStringList named;
        named.SetCommaText(privilege->Fields());
        for (int i = 0; i < fields.Count(); ++i) {
            TInternalFieldItem& field = *fields.GetIndex(i);
            if (privilege->Fields() == C_AllObjectsName || named.IndexOf(field.FieldName()) >= 0)
                field.SetPrivilegeFlags(field.PrivilegeFlags() | bit);
        }
    }
    Def->SetPrivilegeFlags(flags);
}

}  // namespace ostra
