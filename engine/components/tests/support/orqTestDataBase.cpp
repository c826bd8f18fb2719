// orqTestDataBase: the test connection over the storage engine's disk manager and table managers.
#include "orqTestDataBase.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/components/orqDataSet.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqGlobalHdr.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableHeader.h"
#include "host/Collation.h"
#include "host/DateTime.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra::componentstest {

namespace {

constexpr int32_t CAllPrivileges = 0x7FFFFFFF;
constexpr char CEngineVersion[] = "1.43.02";

// A file name for a table name: its upper-case bytes in hexadecimal.
std::string HexName(const std::string& Name) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : UpperCase(Name)) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// A header lock for the life of the object (the write lock when Write), unless the connection
// holds one that serves.
class THeaderLock {
public:
    THeaderLock(TDiskMgr& Disk, bool Write)
        : FDisk(Disk), FTook(!Disk.HeaderWriteLocked() && (Write || !Disk.HeaderReadLocked())) {
        if (!FTook) return;
        if (Write)
            Disk.SetHeaderWriteLock();
        else
            Disk.SetHeaderReadLock();
    }
    ~THeaderLock() {
        if (!FTook) return;
        try {
            FDisk.ReleaseHeaderLock();
        } catch (...) {
        }
    }

private:
    TDiskMgr& FDisk;
    bool FTook;
};

}  // namespace

TTestDataBase::TTestDataBase(TComponent* AOwner) : TCustomConnection(AOwner) {}

TTestDataBase::~TTestDataBase() {
    try {
        SetConnected(false);
    } catch (...) {
    }
}

void TTestDataBase::SetLockRetries(int32_t Count, int32_t IntervalMs) {
    FLockRetryCount = Count;
    FLockRetryInterval = IntervalMs;
}

void TTestDataBase::CreateDatabase() {
    if (FConnected) OrqDatabaseError(10120, "TTestDataBase.CreateDatabase", "", this);
    TDiskMgr disk;
    disk.SetFileName(FFileName);
    disk.SetPageSize(FPageSize);
    disk.CreateNewFile(true);
    std::error_code ignored;
    std::filesystem::remove_all(FFileName + ".defs", ignored);
    std::filesystem::create_directory(FFileName + ".defs", ignored);
}

void TTestDataBase::DoConnect() {
    if (FConnected) return;
    FMemoryMgr.Open();
    if (InMemory()) {
        FConnected = true;
        return;
    }
    FDisk = std::make_unique<TDiskMgr>();
    try {
        FDisk->SetFileName(FFileName);
        FDisk->SetPageSize(FPageSize);
        FDisk->SetOpenFlags((FReadOnly ? fmOpenRead : fmOpenReadWrite) | (FExclusive ? fmShareExclusive : fmShareDenyNone));
        FDisk->SetLockRetryCount(FLockRetryCount);
        FDisk->SetLockRetryInterval(FLockRetryInterval);
        FDisk->Open();
        FDisk->SetCryptKey("");  // the default key of strongly encrypted pages
        FHeaders.SetDiskMgr(FDisk.get());
        FHeaders.SetBlockSize(CTableHeaderBlockSize);
        FHeaders.SetUsage(1);
        FHeaders.SetTableID(0);
        FHeaders.SetAccessFlags(0);
        FHeaders.SetIOMode(iomDiskFixedSize);
        FHeaders.SetGlobalFirstEmptyOffset(CHdrTableHeadersFirstEmpty);
        FHeaders.SetFirstEmptyValid(false);
        FHeaders.Open();
        FUserMgr.SetHdrDiskInterface(&FHeaders);
        FUserMgr.SetBaseDefMgrAddress(3 * FPageSize);
        FUserMgr.SetSystemTableMgr(false);
        FUserMgr.Open();
    } catch (...) {
        try {
            FUserMgr.Close();
        } catch (...) {
        }
        FHeaders.Close();
        FDisk.reset();
        FMemoryMgr.Close();
        throw;
    }
    FConnected = true;
}

void TTestDataBase::DoDisconnect() {
    if (!FConnected) return;
    for (int i = 0; i < DataSetCount(); ++i) {
        if (auto* cursor = dynamic_cast<TOrqDataSet*>(DataSets(i))) {
            try {
                cursor->DataSetClose();
            } catch (...) {
            }
        }
    }
    if (FDisk) {
        try {
            if (FDisk->IsTransactionActive()) FDisk->DiskRollback();
        } catch (...) {
        }
        try {
            FUserMgr.Close();
        } catch (...) {
        }
        FHeaders.Close();
        try {
            FDisk->Close();
        } catch (...) {
        }
        FDisk.reset();
    }
    try {
        FMemoryMgr.Close();
    } catch (...) {
    }
    FConnected = false;
}

void TTestDataBase::CheckConnected(bool Memory) const {
    auto* self = const_cast<TTestDataBase*>(this);
    if (!FConnected) OrqDatabaseError(10113, "TTestDataBase.CheckConnected", "", self);
    if (InMemory() && !Memory) OrqDatabaseError(10880, "TTestDataBase.CheckConnected", "", self);
}

std::string TTestDataBase::DefinitionFile(const std::string& Name) const {
    return FFileName + ".defs/" + HexName(Name) + ".def";
}

std::string TTestDataBase::ReadDefinition(const std::string& Name) const {
    std::ifstream file(DefinitionFile(Name), std::ios::binary);
    if (!file) OrqDatabaseError(10024, "TTestDataBase.OpenTable", Name, const_cast<TTestDataBase*>(this));
    std::ostringstream text;
    text << file.rdbuf();
    const std::string content = text.str();
    // The first line holds the table's name as created.
    return content.substr(content.find('\n') + 1);
}

// ---------------------------------------------------------------------------------------------
// Tables

void TTestDataBase::OpenTable(const std::string& Name, TTableDef* Def) {
    CheckConnected(Def->Memory());
    if (Def->Memory()) {
        FMemoryMgr.OpenTableDefConnection(Name, Def);
    } else {
        Def->LoadFromText(ReadDefinition(Name));
        Def->SetMemory(false);
        THeaderLock lock(*FDisk, false);
        FUserMgr.OpenTableDefConnection(Name, Def);
    }
    // Tables named with a leading "$" are the engine's own.
    if (!Name.empty() && Name[0] == '$') Def->SetInternalTable(true);
    const auto it = FPrivileges.find(UpperCase(Name));
    const int32_t flags = it == FPrivileges.end() ? CAllPrivileges : it->second;
    Def->SetPrivilegeFlags(flags);
    TInternalFields& fields = *Def->InternalFields();
    for (int i = 0; i < fields.Count(); ++i) fields.GetIndex(i)->SetPrivilegeFlags(flags);
}

void TTestDataBase::CloseTable(TTableDef* Def) {
    if (Def->Memory())
        FMemoryMgr.CloseTableDefConnection(Def->TableID());
    else
        FUserMgr.CloseTableDefConnection(Def->TableID());
}

bool TTestDataBase::LockTable(TTableDef* Def, uint8_t LockType) {
    if (Def->Memory()) return false;
    CheckConnected(false);
    return FDisk->SetTableLock(uint16_t(Def->TableID()), LockType) != CNoLock;
}

bool TTestDataBase::UnLockTable(TTableDef* Def) {
    if (Def->Memory() || !FDisk) return false;
    FDisk->ReleaseTableLock(uint16_t(Def->TableID()));
    return true;
}

void TTestDataBase::LockRecord(TTableDef* Def, uint32_t Address) {
    if (Def->Memory()) return;
    CheckConnected(false);
    FDisk->SetRecordLock(Address, uint16_t(Def->TableID()));
}

void TTestDataBase::UnLockRecord(TTableDef* Def, uint32_t Address) {
    if (Def->Memory() || !FDisk) return;
    FDisk->ReleaseRecordLock(Address);
}

void TTestDataBase::GetTableNames(TStrings* List, bool Memory) {
    CheckConnected(Memory);
    if (Memory) {
        FMemoryMgr.GetCurrentTableNames(List);
        return;
    }
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(FFileName + ".defs", error)) {
        if (entry.path().extension() != ".def") continue;
        std::ifstream file(entry.path(), std::ios::binary);
        std::string name;
        if (std::getline(file, name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& A, const std::string& B) { return AnsiCompareText(A, B) < 0; });
    for (const std::string& name : names) List->Add(name);
}

void TTestDataBase::InternalGetTableDef(const std::string& Name, TTableDef* Def) {
    CheckConnected(Def->Memory());
    if (Def->Memory()) {
        FMemoryMgr.OpenTableDefConnection(Name, Def);
        FMemoryMgr.CloseTableDefConnection(Def->TableID());
        Def->InternalClose();
        Def->SetTableHeader(nullptr);
        return;
    }
    Def->LoadFromText(ReadDefinition(Name));
}

void TTestDataBase::CreateTable(TTableDef* Def, bool DumpDefinitions) {
    CheckConnected(Def->Memory());
    const std::string& name = Def->TableName();
    if (name.empty() || name.size() > 40)
        OrqDatabaseErrorFmt(10039, "TTestDataBase.InternalCreateTable", SorqStringInvalidFmt, {name, 1, 40}, this);
    Def->SetVersion(CEngineVersion);
    Def->SetOS(GetOSDetails());
    Def->SetCreationDate(Now());
    if (Def->CreatedBy().empty()) Def->SetCreatedBy(GetCurrentUser());
    Def->SetLastModDate(Now());
    if (Def->Memory()) {
        FMemoryMgr.CreateTableDef(name, Def);
        return;
    }
    THeaderLock lock(*FDisk, true);
    if (std::filesystem::exists(DefinitionFile(name)))
        OrqDatabaseError(13060, "TTestDataBase.InternalUpdateTableDef", name, this);
    FUserMgr.CreateTableDef(name, Def);
    const std::string path = DefinitionFile(name);
    {
        std::ofstream file(path + ".tmp", std::ios::binary | std::ios::trunc);
        file << name << '\n' << Def->SaveToText();
        if (!file) OrqDatabaseError(8582, "TTestDataBase.CreateTable", path, this);
    }
    std::filesystem::rename(path + ".tmp", path);
}

bool TTestDataBase::QueryObjectPrivilegeExists(TDatabaseObjectType ObjectType, const std::string& Name,
                                               int32_t Privilege) {
    if (Privilege == C_PRIVCREATE) return FCreatePrivilege;
    const auto it = FPrivileges.find(UpperCase(Name));
    return it == FPrivileges.end() || (it->second & Privilege) != 0;
}

void TTestDataBase::SetTablePrivileges(const std::string& Name, int32_t Flags) { FPrivileges[UpperCase(Name)] = Flags; }

void TTestDataBase::DeleteTable(const std::string& Name, bool Memory) {
    CheckConnected(Memory);
    if (GetLocalConnectedUserCount(Name, Memory) > 0)
        OrqDatabaseErrorFmt(10053, "TTestDataBase.DeleteTable", SorqTableInUseFmt, {Name}, this);
    TTableDef def(nullptr);
    def.SetMemory(Memory);
    if (Memory) {
        FMemoryMgr.DeleteTableDef(Name, &def);
        return;
    }
    def.LoadFromText(ReadDefinition(Name));
    THeaderLock lock(*FDisk, true);
    const int32_t id = def.TableID();
    FUserMgr.DeleteTableDef(Name, &def);
    FDisk->DeleteOwnedPages(uint16_t(id), 0, false);
    std::error_code ignored;
    std::filesystem::remove(DefinitionFile(Name), ignored);
}

int TTestDataBase::GetLocalConnectedUserCount(const std::string& Name, bool Memory) const {
    return Memory ? FMemoryMgr.CheckTableUserCount(Name) : FUserMgr.CheckTableUserCount(Name);
}

// ---------------------------------------------------------------------------------------------
// Transactions

void TTestDataBase::StartTransaction() {
    CheckConnected(true);
    if (FDisk) FDisk->DiskStartTransaction(false);
}

void TTestDataBase::Commit() {
    CheckConnected(true);
    if (!FDisk) return;
    try {
        FDisk->DiskCommit();
    } catch (...) {
        DumpCursorCaches();
        throw;
    }
}

void TTestDataBase::Rollback() {
    CheckConnected(true);
    if (FDisk) FDisk->DiskRollback();
    DumpCursorCaches();
}

bool TTestDataBase::InTransaction() const { return FDisk && FDisk->IsTransactionActive(); }

void TTestDataBase::DumpCursorCaches() {
    for (int i = 0; i < DataSetCount(); ++i)
        if (auto* cursor = dynamic_cast<TOrqDataSet*>(DataSets(i))) cursor->DumpInternalCaches();
}

}  // namespace ostra::componentstest
