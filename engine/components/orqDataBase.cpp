// orqDataBase: the connection's properties, its definition record, connecting and disconnecting,
// creating a database file, and the services on the file as a whole.
#include "engine/components/orqDataBase.h"

#include "engine/components/orqDataBaseScopes.h"
#include "engine/components/orqSecurityManager.h"
#include "engine/components/orqTable.h"

#include <exception>
#include <tuple>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqGlobalHdr.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqLogger.h"
#include "engine/storage/orqPrivileges.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableHeader.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/DateTime.h"
#include "host/PropertyRegistry.h"
#include "host/Streams.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "host/UIServices.h"
#include "platform/File.h"

namespace ostra {

namespace {

// Every database file has pages of this size.
constexpr uint32_t CPageSize = 4096;
// The longest master key; the shortest non-empty one.
constexpr int CMinMasterKeyLength = 4;
constexpr int CMaxMasterKeyLength = 100;
// The login modes of a connection.
constexpr int CLoginNone = 0, CLoginMasterKey = 1, CLoginUser = 2, CLoginAll = 3;

[[maybe_unused]] const bool kPublished =
    Publish<TOrqDataBase, TCustomConnection>()
        .Boolean("Exclusive", &TOrqDataBase::Exclusive, &TOrqDataBase::SetExclusive)
        .Boolean("ReadOnly", &TOrqDataBase::ReadOnly, &TOrqDataBase::SetReadOnly)
        .String("Directory", &TOrqDataBase::Directory, &TOrqDataBase::SetDirectory)
        .NoDefault()
        .String("DataBaseName", &TOrqDataBase::DataBaseName, &TOrqDataBase::SetDataBaseName)
        .NoDefault()
        .Enum("DefaultSortOrder", &TOrqDataBase::DefaultSortOrder, &TOrqDataBase::SetDefaultSortOrder,
              {"soANSI", "soASCII"})
        .String("Version", &TOrqDataBase::Version, &TOrqDataBase::SetVersion)
        .NoDefault()
        .Integer("LockRetryMaximum", &TOrqDataBase::LockRetryMaximum, &TOrqDataBase::SetLockRetryMaximum)
        .Integer("LockRetryInterval", &TOrqDataBase::LockRetryInterval, &TOrqDataBase::SetLockRetryInterval)
        .Boolean("Connected", [](const TOrqDataBase& D) { return D.Connected(); }, &TOrqDataBase::SetConnected)
        .Default(false);

// The (major, minor, release) numbers of this engine.
std::tuple<int, int, int> EngineVersion() {
    int major = 0, minor = 0, release = 0;
    ParseVersionText(CEngineVersion, major, minor, release);
    return {major, minor, release};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Life cycle

TOrqDataBase::TOrqDataBase(TComponent* AOwner)
    : TCustomConnection(AOwner),
      FPrivileges(std::make_unique<TPrivileges>()),
      FSecurityManager(std::make_unique<TSecurityManager>()),
      FMemoryTableMgr(std::make_unique<TMemoryTableDefMgr>()) {
    InitDBDef();
}

TOrqDataBase::~TOrqDataBase() {
    try {
        SetConnected(false);
    } catch (...) {
        LogCurrentFailure("TOrqDataBase.Destroy");
    }
    FMemoryTableMgr.reset();
    FSystemTableMgr.reset();
    FUserTableMgr.reset();
    FSystemHdrDiskInterface.reset();
    FTableHdrDiskInterface.reset();
    FDiskMgr.reset();
    FSecurityManager.reset();
    FPrivileges.reset();
}

void LogCurrentFailure(const char* Caller) noexcept {
    if (TDBLogger* log = GDBLogger()) log->LogItem(Caller, CurrentExceptionMessage());
}

// ---------------------------------------------------------------------------------------------
// Properties

void TOrqDataBase::SetExclusive(bool Value) {
    CheckNotConnected();
    FExclusive = Value;
}

void TOrqDataBase::SetReadOnly(bool Value) {
    CheckNotConnected();
    FReadOnly = Value;
}

void TOrqDataBase::SetDirectory(const std::string& Value) {
    CheckNotConnected();
    FDirectory = OrqIncludeTrailingBackslash(Value);
}

void TOrqDataBase::SetDataBaseName(const std::string& Value) {
    CheckNotConnected();
    const std::size_t slash = Value.find_last_of('/');
    std::string name = slash == std::string::npos ? Value : Value.substr(slash + 1);
    if (SameText(name, C_MEMORYDATABASENAME)) name = C_MEMORYDATABASENAME;
    FDataBaseName = name;
    if (slash != std::string::npos) SetDirectory(Value.substr(0, slash + 1));
}

void TOrqDataBase::SetDefaultSortOrder(TSortOrder Value) {
    CheckNotConnected();
    FDefaultSortOrder = Value;
}

void TOrqDataBase::SetLockRetryMaximum(int32_t Value) {
    FLockRetryMaximum = Value;
    if (FDiskMgr) FDiskMgr->SetLockRetryCount(Value);
}

void TOrqDataBase::SetLockRetryInterval(int32_t Value) {
    FLockRetryInterval = Value;
    if (FDiskMgr) FDiskMgr->SetLockRetryInterval(Value);
}

void TOrqDataBase::SetMasterKey(const std::string& Value) {
    CheckNotConnected();
    const int length = int(Value.size());
    // The code stays 9602 for both limits (callers test it); the text says which one was broken.
    if (length != 0 && (length < CMinMasterKeyLength || length > CMaxMasterKeyLength))
        OrqDatabaseErrorFmt(9602, "TOrqDataBase.SetMasterKey",
                            std::string(SorqStringInvalidFmt) +
                                (length < CMinMasterKeyLength ? ": the key is too short" : ": the key is too long"),
                            {Value, CMinMasterKeyLength, CMaxMasterKeyLength}, this);
    FMasterKey = Value;
}

void TOrqDataBase::SetUseEncryption(bool Value) {
    CheckNotConnected();
    if (!Value && FEnforceSecurity)
        OrqDatabaseError(10766, "TOrqDataBase.SetUseEncryption",
                         "This operation can not be performed on this database/table", this);
    FUseEncryption = Value;
}

void TOrqDataBase::SetEnforceSecurity(bool Value) {
    CheckNotConnected();
    FEnforceSecurity = Value;
    if (Value) FUseEncryption = true;
}

void TOrqDataBase::SetDBOwner(const std::string& Value) {
    CheckNotConnected();
    FDBDef.Owner = Value.substr(0, CDBDefNameRoom - 1);
}

std::string TOrqDataBase::DataFileVersion() const { return FConnected ? FDBDef.Version : std::string(); }

std::unique_ptr<TStringList> TOrqDataBase::GetLog() const {
    TDBLogger* log = GDBLogger();
    return log ? log->LogSnapshot() : nullptr;
}

void TOrqDataBase::ClearLog() {
    if (TDBLogger* log = GDBLogger()) log->Clear();
}

// ---------------------------------------------------------------------------------------------
// Checks

void TOrqDataBase::CheckConnected(bool AllowMemory) const {
    auto* self = const_cast<TOrqDataBase*>(this);
    if (!FConnected) OrqDatabaseError(10113, "TOrqDataBase.CheckConnected", "", self);
    if (InMemory() && !AllowMemory) OrqDatabaseError(10880, "TOrqDataBase.CheckConnected", "", self);
}

void TOrqDataBase::CheckNotConnected() const {
    if (FConnected)
        OrqDatabaseError(10120, "TOrqDataBase.CheckNotConnected", "", const_cast<TOrqDataBase*>(this));
}

void TOrqDataBase::CheckExclusive() const {
    if (!FExclusive) OrqDatabaseError(10121, "TOrqDataBase.CheckExclusive", "", const_cast<TOrqDataBase*>(this));
}

void TOrqDataBase::QueryOpenStatus(bool MustBeConnected, bool MustBeExclusive) const {
    if (MustBeConnected)
        CheckConnected(false);
    else
        CheckNotConnected();
    if (MustBeExclusive) CheckExclusive();
}

bool TOrqDataBase::NeedSecurity() const {
    return FDBDef.SecurityLevel >= CSecurityUsers && FTempPrivilegeStatus != C_ALLPRIVILEGES;
}

// ---------------------------------------------------------------------------------------------
// The definition record

void TOrqDataBase::InitDBDef() {
    FDBDef = TDBDefRecord();
    FDBDef.Name = FDataBaseName;
    FDBDef.OSDescription = GetOSDetails();
    FDBDef.DateCreated = Now();
    FDBDef.Owner = GetCurrentUser();
    FDBDef.Version = CEngineVersion;
    ParseVersionText(FDBDef.Version, FMajorVersion, FMinorVersion, FReleaseVersion);
}

bool TOrqDataBase::ValidateDBDef(const uint8_t* Bytes) const {
    TDBDefRecord stored;
    stored.Decode(Bytes);
    return DBDefCheckValue(Bytes) == stored.CheckValue;
}

void TOrqDataBase::ReadDBDef() {
    uint8_t bytes[CDBDefRecordSize];
    FDiskMgr->ReadCustomSize(0, CDBDefRecordSize, 0, 0, bytes);
    if (!ValidateDBDef(bytes)) OrqDatabaseError(8961, "TOrqDataBase.DoConnect", "", this);
    FDBDef.Decode(bytes);
    FDefaultSortOrder = FDBDef.SortOrder == 1 ? soASCII : soANSI;
    FEnforceSecurity = FDBDef.SecurityLevel >= CSecurityUsers;
    FUseEncryption = FDBDef.SecurityLevel >= CSecurityEncryption;
    ParseVersionText(FDBDef.Version, FMajorVersion, FMinorVersion, FReleaseVersion);
}

void TOrqDataBase::WriteDBDef() {
    uint8_t bytes[CDBDefRecordSize];
    FDBDef.EncodeChecked(bytes);
    FDiskMgr->WriteCustomSize(0, CDBDefRecordSize, 0, 0, bytes);
    ParseVersionText(FDBDef.Version, FMajorVersion, FMinorVersion, FReleaseVersion);
}

void TOrqDataBase::ResetDBHeader() {
    CheckConnected(false);
    CheckExclusive();
    THeaderLock lock(*FDiskMgr, true);
    WriteDBDef();
    lock.Release();
}

// ---------------------------------------------------------------------------------------------
// The disk objects

void TOrqDataBase::InternalCreateDiskInterfaces() {
    static constexpr const char* Caller = "TOrqDataBase.InternalCreateDiskInterfaces";
    if (FDiskMgr) OrqDatabaseError(8580, Caller, "TDiskMgr", this);
    if (FSystemHdrDiskInterface) OrqDatabaseError(8580, Caller, "FSystemHdrDiskInterface", this);
    if (FTableHdrDiskInterface) OrqDatabaseError(8580, Caller, "FTableHdrDiskInterface", this);
    if (FSystemTableMgr) OrqDatabaseError(8580, Caller, "FSystemTableMgr", this);
    if (FUserTableMgr) OrqDatabaseError(8580, Caller, "FUserTableMgr", this);
    FDiskMgr = std::make_unique<TDiskMgr>();
    FDiskMgr->SetPageSize(CPageSize);
    auto headers = [this](int32_t FirstEmptyOffset) {
        auto storage = std::make_unique<TDiskIOInterface>();
        storage->SetBlockSize(CTableHeaderBlockSize);
        storage->SetGlobalFirstEmptyOffset(FirstEmptyOffset);
        storage->SetDiskMgr(FDiskMgr.get());
        storage->SetTableID(0);
        storage->SetAccessFlags(0);
        storage->SetUsage(1);
        storage->SetIOMode(iomDiskFixedSize);
        return storage;
    };
    FSystemHdrDiskInterface = headers(CHdrSystemHeadersFirstEmpty);
    FTableHdrDiskInterface = headers(CHdrTableHeadersFirstEmpty);
    FSystemTableMgr = std::make_unique<TDiskTableDefMgr>();
    FSystemTableMgr->SetHdrDiskInterface(FSystemHdrDiskInterface.get());
    FSystemTableMgr->SetBaseDefMgrAddress(1 * CPageSize);
    FSystemTableMgr->SetSystemTableMgr(true);
    FUserTableMgr = std::make_unique<TDiskTableDefMgr>();
    FUserTableMgr->SetHdrDiskInterface(FTableHdrDiskInterface.get());
    FUserTableMgr->SetBaseDefMgrAddress(3 * CPageSize);
    FUserTableMgr->SetSystemTableMgr(false);
}

void TOrqDataBase::InternalOpenDiskConnections() {
    const std::string path = FileName();
    if (!platform::FileExists(path)) OrqDatabaseError(9988, "TOrqDataBase.InternalOpenDiskConnections", path, this);
    FDiskMgr->SetPageSize(CPageSize);
    FDiskMgr->SetFileName(path);
    FDiskMgr->SetOpenFlags((FReadOnly ? fmOpenRead : fmOpenReadWrite) | (FExclusive ? fmShareExclusive : fmShareDenyNone));
    FDiskMgr->SetLockRetryCount(FLockRetryMaximum);
    FDiskMgr->SetLockRetryInterval(FLockRetryInterval);
    FDiskMgr->File().SetCachePages(FFileCachePages);
    FDiskMgr->Open();
    FSystemHdrDiskInterface->SetFirstEmptyValid(false);
    FSystemHdrDiskInterface->Open();
    FSystemTableMgr->Open();
    FTableHdrDiskInterface->SetFirstEmptyValid(false);
    FTableHdrDiskInterface->Open();
    FUserTableMgr->Open();
}

void TOrqDataBase::InternalCloseDiskConnections() {
    TStepFailures steps("TOrqDataBase.InternalCloseDiskConnections");
    if (FSystemTableMgr) steps.Run([this] { FSystemTableMgr->Close(); });
    if (FSystemHdrDiskInterface) steps.Run([this] { FSystemHdrDiskInterface->Close(); });
    if (FUserTableMgr) steps.Run([this] { FUserTableMgr->Close(); });
    if (FTableHdrDiskInterface) steps.Run([this] { FTableHdrDiskInterface->Close(); });
    if (FDiskMgr) steps.Run([this] { FDiskMgr->Close(); });
    steps.RaiseFirst();
}

// ---------------------------------------------------------------------------------------------
// Connecting

void TOrqDataBase::DoConnect() {
    static constexpr const char* Caller = "TOrqDataBase.DoConnect";
    if (FConnected) return;
    if (FDataBaseName.empty()) OrqDatabaseError(10118, Caller, FileName(), this);
    FMemoryTableMgr->Open();
    if (InMemory()) {
        InitDBDef();
        FEnforceSecurity = false;
        FDatabasePrivileges = C_ALLPRIVILEGES;
        FConnected = true;
        return;
    }
    try {
        if (!FDiskMgr) InternalCreateDiskInterfaces();
        InternalOpenDiskConnections();
    } catch (...) {
        // Nothing is connected yet: whatever was opened is closed again.
        try {
            InternalCloseDiskConnections();
        } catch (...) {
        }
        try {
            FMemoryTableMgr->Close();
        } catch (...) {
        }
        throw;
    }
    FConnected = true;
    try {
        ConnectDisk();
    } catch (...) {
        try {
            DoDisconnect();
        } catch (...) {
            LogCurrentFailure(Caller);
        }
        throw;
    }
}

void TOrqDataBase::ConnectDisk() {
    static constexpr const char* Caller = "TOrqDataBase.DoConnect";
    std::string key = FMasterKey, user, password;
    ReadDBDef();
    // A file of a later engine may hold what this one cannot read: refused whatever part of the
    // version is higher; earlier versions are read as they are.
    if (std::make_tuple(FMajorVersion, FMinorVersion, FReleaseVersion) > EngineVersion())
        OrqDatabaseErrorFmt(12041, Caller, SorqDBFileVersionFmt, {FDBDef.Version}, this);

    int mode = CLoginNone;
    if (NeedSecurity())
        mode = FMasterKey.empty() ? CLoginAll : CLoginUser;
    else if (FUseEncryption && FMasterKey.empty())
        mode = CLoginMasterKey;
    if (mode != CLoginNone) {
        if (BeforeLogin)
            BeforeLogin(this, user, password, key);
        else if (!ExecuteLoginDialog(mode, user, password, key))
            OrqDatabaseError(10015, Caller, "", this);
        if (mode != CLoginUser) FMasterKey = key;
    }
    FDiskMgr->SetCryptKey(FMasterKey);
    if (FUseEncryption || NeedSecurity()) {
        try {
            FDiskMgr->ReadSecurityHeader(FSecurityHeader);
        } catch (...) {
            FMasterKey.clear();
            throw;
        }
    }
    InternalOpenSystemTables();
    if (NeedSecurity()) InternalLogon(user, password, key);
    InternalSetDatabasePrivileges();
}

bool TOrqDataBase::ExecuteLoginDialog(int Mode, std::string& UserName, std::string& Password, std::string& Key) {
    TLoginRequest request{FDataBaseName, Mode, Key, UserName, Password};
    if (!UIServices().LoginDialog(request)) return false;
    Key = request.MasterKey;
    UserName = request.UserName;
    Password = request.Password;
    return true;
}

void TOrqDataBase::InternalLogon(std::string& UserName, std::string& Password, std::string& Key) {
    static constexpr const char* Caller = "TOrqDataBase.DoConnect";
    // The values given first are tried once; after a failure, each pass shows the failure's
    // message and asks again. A logon that succeeded is never repeated.
    for (bool logged = false; !logged;) {
        try {
            FSecurityManager->Logon(UserName, Password, FDataBaseName);
            logged = true;
        } catch (const std::exception& E) {
            if (BeforeLogin) throw;
            MessageDlg(E.what(), mtError, TMsgDlgButtons{mbOK});
            if (!ExecuteLoginDialog(CLoginUser, UserName, Password, Key)) OrqDatabaseError(10015, Caller, "", this);
        }
    }
    FPrivileges->SetGroupName(FSecurityManager->GroupName());
    FSecurityManager->GetPrivileges(doTable, "", *FPrivileges);
}

void TOrqDataBase::InternalSetDatabasePrivileges() {
    if (InMemory()) {
        FDatabasePrivileges = C_ALLPRIVILEGES;
        return;
    }
    FDatabasePrivileges = 0;
    for (TSystemPrivilegeType type : {spViewUsers, spEditUsers, spViewGroups, spEditGroups})
        if (FPrivileges->SystemPrivileges()->FindPrivilege(type)) FDatabasePrivileges |= MapSystemPrivTypeToConst(type);
}

// ---------------------------------------------------------------------------------------------
// Disconnecting

void TOrqDataBase::DoDisconnect() {
    if (!FConnected) return;
    TStepFailures steps("TOrqDataBase.DoDisconnect");
    if (FLocked && FDiskMgr && FDiskMgr->IsOpen()) steps.Run([this] { FDiskMgr->ReleaseHeaderLock(); });
    FLocked = false;
    // Every bound dataset, as the framework sees it and as a cursor.
    std::vector<TDataSet*> datasets;
    for (int i = 0; i < DataSetCount(); ++i) datasets.push_back(DataSets(i));
    for (TDataSet* dataset : datasets) {
        if (dataset->Active()) steps.Run([dataset] { dataset->Close(); });
        if (auto* cursor = dynamic_cast<TOrqDataSet*>(dataset)) steps.Run([cursor] { cursor->DataSetClose(); });
    }
    if (!InMemory()) {
        // A transaction still open ends as rolled back: nothing of it reaches the file.
        if (FDiskMgr && FDiskMgr->IsOpen() && FDiskMgr->IsTransactionActive())
            steps.Run([this] { FDiskMgr->DiskRollback(); });
        steps.Run([this] { InternalCloseSystemTables(); });
        steps.Run([this] { InternalCloseDiskConnections(); });
    }
    steps.Run([this] { FMemoryTableMgr->Close(); });
    FDefLocks.clear();
    FTableLocks.clear();
    FRecordLocks.clear();
    FPrivileges->ClearPrivileges();
    FDatabasePrivileges = 0;
    FTempPrivilegeStatus = 0;
    FMasterKey.clear();
    InitDBDef();
    FConnected = false;
    steps.RaiseFirst();
}

// ---------------------------------------------------------------------------------------------
// Creating a database

void TOrqDataBase::CreateDatabase() {
    static constexpr const char* Caller = "TOrqTable.CreateDatabase";
    CheckNotConnected();
    if (FDataBaseName.empty()) OrqDatabaseError(10118, Caller, FileName(), this);
    // A file of that name could never be connected: the name means the in-memory database.
    if (InMemory()) OrqDatabaseError(10880, Caller, "", this);
    if (FUseEncryption && int(FMasterKey.size()) < CMinMasterKeyLength)
        OrqDatabaseErrorFmt(10015, Caller, SorqStringInvalidFmt, {FMasterKey, CMinMasterKeyLength, CMaxMasterKeyLength},
                            this);
    {
        TDiskMgr creator;
        creator.SetPageSize(CPageSize);
        creator.SetFileName(FileName());
        // A key the file cannot take is refused before anything is written.
        creator.SetCryptKey(FMasterKey);
        try {
            creator.CreateNewFile(true);
        } catch (...) {
            // A file the creation could not finish is no database.
            platform::DeleteFile(FileName());
            throw;
        }
    }
    FDBDef.Format = 1;
    FDBDef.Name = FDataBaseName;
    FDBDef.OSDescription = GetOSDetails();
    FDBDef.DateCreated = Now();
    FDBDef.Reserved = 0;
    FDBDef.SortOrder = FDefaultSortOrder == soASCII ? 1 : 0;
    FDBDef.Version = CEngineVersion;
    FDBDef.SecurityLevel = FEnforceSecurity ? CSecurityUsers : FUseEncryption ? CSecurityEncryption : CSecurityNone;
    FDBDef.CheckValue = 0;

    FConnected = true;
    TStepFailures steps(Caller);
    steps.Run([this] {
        if (!FDiskMgr) InternalCreateDiskInterfaces();
        InternalOpenDiskConnections();
        FDiskMgr->SetCryptKey(FMasterKey);
        THeaderLock lock(*FDiskMgr, true);
        WriteDBDef();
        if (FUseEncryption) FDiskMgr->WriteSecurityHeader(FSecurityHeader);
        FSystemHdrDiskInterface->GetGlobalFirstEmpty();
        CreateMasterTables();
        FSystemMaster = OpenMasterTable(C_SYSTEMMASTERTABLE, C_SYSTEMMASTERTABLEID);
        if (FMinorVersion > 1) CreateSystemTables();
        if (FDBDef.SecurityLevel >= CSecurityUsers) CreateSecurityTables();
        lock.Release();
    });
    // Closed whatever happened; a failure here means the file may lack its last writes.
    steps.Run([this] { InternalCloseSystemTables(); });
    steps.Run([this] { InternalCloseDiskConnections(); });
    FConnected = false;
    // A half-made database is no database: nothing of it stays.
    if (steps.Failed()) platform::DeleteFile(FileName());
    steps.RaiseFirst();
}

// ---------------------------------------------------------------------------------------------
// The file as a whole

void TOrqDataBase::GetCurrentUsers(TStrings* List) {
    CheckConnected(false);
    FDiskMgr->GetCurrentUsers(List);
}

uint32_t TOrqDataBase::DatabaseSize() {
    CheckConnected(false);
    return FDiskMgr->GetFileSize();
}

void TOrqDataBase::FlushBuffers() {
    CheckConnected(false);
    FDiskMgr->ForceToDisk();
}

void TOrqDataBase::TransferRecordBuffers(int32_t TableID, int32_t BlockSize, const TRecordTransferProc& Callback,
                                         TEncryptionLevel Level) {
    static constexpr const char* Caller = "TOrqDataBase.TransferRecordBuffers";
    CheckNotConnected();
    if (BlockSize <= 0 || TableID <= 0 || TableID >= 2048)
        OrqDatabaseErrorFmt(8581, Caller, SorqValueInvalidFmt, {BlockSize <= 0 ? "BlockSize" : "TableID"}, this);
    TDiskMgr disk;
    disk.SetPageSize(CPageSize);
    disk.SetFileName(FileName());
    disk.SetOpenFlags(fmOpenRead | fmShareExclusive);
    disk.SetCryptKey(FMasterKey);
    disk.Open();
    std::vector<uint32_t> blocks;
    disk.SetTableLock(0, CReadLock);
    try {
        disk.ListAllocatedFixedBlocks(uint32_t(BlockSize), uint16_t(TableID), C_RECORDUSAGE, blocks);
        std::vector<uint8_t> buffer(static_cast<size_t>(BlockSize));
        const uint32_t flags = TableAccessFlags(Level);
        bool goOn = true;
        for (size_t i = 0; i < blocks.size() && goOn; ++i) {
            disk.ReadCustomSize(blocks[i], uint32_t(BlockSize), uint32_t(TableID), flags, buffer.data());
            Callback(buffer.data(), nullptr, int(i), int(blocks.size()), goOn);
        }
    } catch (...) {
        try {
            disk.Close();
        } catch (...) {
        }
        throw;
    }
    disk.ReleaseTableLock(0);
    disk.Close();
}

}  // namespace ostra
