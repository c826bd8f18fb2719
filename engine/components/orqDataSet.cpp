// orqDataSet: the cursor's structure, opening and closing, the table header and privileges.
#include "engine/components/orqDataSet.h"

#include <cstring>

#include "engine/components/orqDataSetScopes.h"
#include "engine/components/orqFilterMgr.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableHeader.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Collation.h"
#include "host/StringList.h"
#include "host/db/CustomConnection.h"
#include "host/db/DBConsts.h"
#include "host/db/Field.h"

namespace ostra {

namespace {

// The check value of an encrypted table read back: the check value transformed by the weak XOR
// routine, up to its first zero byte.
std::string DecodeCheckValue(const std::string& AltName) {
    std::string decoded(AltName.size(), '\0');
    if (!AltName.empty())
        XORCryptBuf(AltName.data(), decoded.data(), OrqWeakCryptKey, int(AltName.size()), OrqWeakCryptKeyLength, 0);
    return decoded.substr(0, decoded.find('\0'));
}

}  // namespace

TOrqDataSet::TOrqDataSet(TComponent* AOwner)
    : TDataSet(AOwner),
      FRecordMgr(std::make_unique<TRecordMgr>()),
      FReadAheadBuffer(std::make_unique<TReadAheadBuffer>()),
      FTableDef(std::make_unique<TTableDef>(nullptr)),
      FFilterMgr(std::make_unique<TFilterMgr>()),
      FIndexMgr(std::make_unique<TIndexManager>()),
      FBlobInterface(std::make_unique<TBlobInterface>()),
      FBlobCache(std::make_unique<TBlobMgr>()) {}

TOrqDataSet::~TOrqDataSet() {
    Destroying();
    try {
        DataSetClose();
    } catch (...) {
    }
    if (FDataBase && FClientRegistered) FDataBase->Connection().UnRegisterClient(this);
}

// ---------------------------------------------------------------------------------------------
// Framework slots a bare cursor does not serve

TGetResult TOrqDataSet::GetRecord(TRecordBuffer, TGetMode, bool) {
    OrqDatabaseError(8577, "TOrqDataSet.GetRecord", "", this);
}
void TOrqDataSet::InternalClose() { OrqDatabaseError(8577, "TOrqDataSet.InternalClose", "", this); }
void TOrqDataSet::InternalHandleException() {
    OrqDatabaseError(8577, "TOrqDataSet.InternalHandleException", "", this);
}
void TOrqDataSet::InternalInitFieldDefs() {
    OrqDatabaseError(8577, "TOrqDataSet.InternalInitFieldDefs", "", this);
}
void TOrqDataSet::InternalOpen() { OrqDatabaseError(8577, "TOrqDataSet.InternalOpen", "", this); }
bool TOrqDataSet::IsCursorOpen() const {
    OrqDatabaseError(8577, "TOrqDataSet.IsCursorOpen", "", const_cast<TOrqDataSet*>(this));
}

void TOrqDataSet::Notification(TComponent* AComponent, TOperation Operation) {
    TDataSet::Notification(AComponent, Operation);
    if (Operation != opRemove || !FDataBase || AComponent != FDataBaseComponent) return;
    // The database is going: nothing of it may be touched any more.
    if (FInternalActive) {
        try {
            InternalCloseDataSet();
        } catch (...) {
        }
        FReadAheadBuffer->Close();
        FTableLocked = FWriteLocked = false;
    }
    FDataBase = nullptr;
    FDataBaseComponent = nullptr;
    FClientRegistered = false;
}

// ---------------------------------------------------------------------------------------------
// Checks

void TOrqDataSet::CheckConnected() const {
    if (!FDataBase) OrqDatabaseError(10112, "TOrqDataSet.CheckConnected", "", const_cast<TOrqDataSet*>(this));
}

void TOrqDataSet::CheckInternalActive() const {
    if (!FInternalActive) DatabaseError(SDataSetClosed, this);
}

void TOrqDataSet::CheckInternalInactive() const {
    if (FInternalActive) DatabaseError(SDataSetOpen, this);
}

void TOrqDataSet::CheckPrivilegePresent(int32_t Flags, int32_t Bit) const {
    if (GetSystemTable() || (Flags & Bit) != 0) return;
    OrqDatabaseError(10624, "TOrqDataSet.CheckPrivilegePresent", "", const_cast<TOrqDataSet*>(this));
}

bool TOrqDataSet::CheckReadOnlyPrivileges() const {
    return (FTableDef->PrivilegeFlags() & (C_PRIVINSERT | C_PRIVDELETE | C_PRIVUPDATE)) == 0;
}

void TOrqDataSet::DataSetSetFieldPrivileges() {
    const TInternalFields& layout = *FTableDef->InternalFields();
    for (int i = 0; i < FieldCount(); ++i) {
        TField* field = Fields().Fields(i);
        if (field->FieldNo() <= 0) continue;
        const TInternalFieldItem* item = layout.FindField(field->FieldName());
        if (!item) continue;
        if (!GetSystemTable() && (item->PrivilegeFlags() & C_PRIVREAD) == 0) field->SetVisible(false);
        if (!field->ReadOnly() && !GetSystemTable() && (item->PrivilegeFlags() & C_PRIVUPDATE) == 0)
            field->SetReadOnly(true);
    }
}

bool TOrqDataSet::GetExists() {
    if (!FDataBase) return false;
    TStringList names;
    FDataBase->GetTableNames(&names, FMemory);
    for (int i = 0; i < names.Count(); ++i)
        if (AnsiCompareText(names.Strings(i), FTableName) == 0) return true;
    return false;
}

bool TOrqDataSet::GetSystemTable() const { return FTableDef->InternalTable(); }

// ---------------------------------------------------------------------------------------------
// Properties

void TOrqDataSet::SetDataBase(IOrqDataBase* Value) {
    CheckInternalInactive();
    if (FDataBase && FClientRegistered) FDataBase->Connection().UnRegisterClient(this);
    FClientRegistered = false;
    FDataBase = Value;
    FDataBaseComponent = Value ? &Value->Connection() : nullptr;
    if (!Value) return;
    if (!FTableDef->InternalTable()) {
        Value->Connection().RegisterClient(this);
        Value->Connection().FreeNotification(this);
        FClientRegistered = true;
    }
    FSortOrder = Value->DefaultSortOrder();
    FStringCompare = FSortOrder == soASCII ? DBASCIICompareStrings : DBANSICompareStrings;
    DataEvent(dePropertyChange, 0);
}

void TOrqDataSet::SetTableName(const std::string& Value) {
    CheckInternalInactive();
    if (Value == FTableName) return;
    FTableName = Value;
    DataEvent(dePropertyChange, 0);
}

void TOrqDataSet::SetReadOnly(bool Value) {
    CheckInternalInactive();
    FReadOnly = Value;
}

void TOrqDataSet::SetMemory(bool Value) {
    CheckInternalInactive();
    FMemory = Value;
}

void TOrqDataSet::SetTableOwner(const std::string& Value) {
    CheckInternalInactive();
    FTableOwner = Value;
}

void TOrqDataSet::SetEncryptionLevel(TEncryptionLevel Value) {
    CheckInternalInactive();
    FEncryptionLevel = Value;
}

void TOrqDataSet::SetSortOrder(TSortOrder Value) {
    CheckInternalInactive();
    FSortOrder = Value;
    FStringCompare = Value == soASCII ? DBASCIICompareStrings : DBANSICompareStrings;
}

void TOrqDataSet::SetBlobBlockSize(int32_t Value) {
    CheckInternalInactive();
    FBlobBlockSize = Value;
}

void TOrqDataSet::SetBlobCompression(bool Value) {
    CheckInternalInactive();
    FBlobCompression = Value;
}

void TOrqDataSet::SetInQuery(bool Value) {
    FFilterMgr->SetQueryActive(Value);
    FInQuery = Value;
}

void TOrqDataSet::SetFilterMgr(std::unique_ptr<IOrqFilterMgr> Value) {
    CheckInternalInactive();
    CheckState(Value != nullptr, "Filter manager is not assigned");
    FFilterMgr = std::move(Value);
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TOrqDataSet::DataSetOpen() {
    CheckConnected();
    if (FTableName.empty()) OrqDatabaseError(10024, "TOrqDataSet.DataSetOpen", "", this);
    CheckInternalInactive();
    FTableDef->Clear();
    FTableDef->SetMemory(FMemory);
    FDataBase->OpenTable(FTableName, FTableDef.get());
    // From here on the database counts this cursor as a user of the table: a failure gives that
    // open back, so that the table can be deleted or renamed afterwards.
    try {
        if (FTableDef->Encrypted() && DecodeCheckValue(FTableDef->AltName()) != FTableDef->TableName())
            OrqDatabaseError(8961, "TOrqDataSet.DataSetOpen", SorqCorruptEncryptionKey, this);
        FReadOnly = FReadOnly || (FDataBase->ReadOnly() && !FMemory);
        InternalOpenDataSet();
        try {
            FReadAheadBuffer->Open(FRecBufSize, FCurrentIndex->MaximumKeySize(), C_READAHEADVALIDFOR);
        } catch (...) {
            InternalCloseDataSet();
            throw;
        }
    } catch (...) {
        try {
            FDataBase->CloseTable(FTableDef.get());
        } catch (...) {
        }
        FTableDef->InternalClose();
        FTableDef->SetTableHeader(nullptr);
        throw;
    }
    FUseReadAheadBuffer = !FMemory;
    FReadAheadDirection = rdCenter;
}

void TOrqDataSet::InternalOpenDataSet() {
    if (FInternalActive) OrqDatabaseError(10031, "TOrqDataSet.InternalOpenDataSet", "", this);
    CheckConnected();
    InternalSetReadLock();
    try {
        TTableDef& def = *FTableDef;
        def.Validate();
        FEncryptionLevel = def.EncryptionLevel();
        FHeaderCounter = 0;
        FPrevHeaderCounter = 1;
        TInternalFields& layout = *def.InternalFields();
        for (int i = 0; i < layout.Count(); ++i) layout.GetIndex(i)->SetSourceField(layout.GetIndex(i)->FieldName());

        if (def.RecordSize() == 0)
            OrqDatabaseErrorFmt(8581, "TOrqDataSet.InternalOpenDataSet", SorqValueInvalidFmt, {"RecordSize"}, this);
        FRecordMgr->Fields().Assign(&layout);
        FRecordMgr->SetRecordSize(def.RecordSize());
        FRecordMgr->Open(def.RecordInterface());
        FFields.assign(size_t(FRecordMgr->Fields().Count()), nullptr);
        for (int i = 0; i < FRecordMgr->Fields().Count(); ++i) {
            TInternalFieldItem* field = FRecordMgr->Fields().GetIndex(i);
            FFields[size_t(field->FieldIndex())] = field;
        }

        FRecordSize = def.RecordSize();
        FRecBufSize = FRecordSize + C_RECTRAILERSIZE;
        FRecBuf.assign(size_t(FRecBufSize), 0);
        FFilterBuf.assign(size_t(FRecBufSize), 0);
        FScratchBuf.assign(size_t(FRecBufSize), 0);
        for (int mode = 0; mode < 2; ++mode) {
            FRangeRecBuf[mode].assign(size_t(FRecBufSize), 0);
            FRangeKeyBuf[mode].assign(C_RANGEKEYBUFSIZE, 0);
            FRangeMarkers[mode].clear();
            FRangeCached[mode] = false;
        }
        FRecordOwnerTag = (uint32_t(def.TableID()) << 4) | C_RECORDUSAGE;
        FRangeOn = FRangeValid = false;
        InitializeRangeBuffers(rmRangeStart);
        InitializeRangeBuffers(rmRangeEnd);

        FSortOrder = def.SortOrder();
        FStringCompare = FSortOrder == soASCII ? DBASCIICompareStrings : DBANSICompareStrings;
        FIndexMgr->SetDBStringCompareFunction(FStringCompare);
        FIndexMgr->Assign(def.InternalIndexDefs());
        FIndexMgr->AssignKeyFields(*def.KeyFields());
        FIndexMgr->SetIOInterface(def.IndexInterface());
        FIndexMgr->SetTableHeader(def.TableHeader());
        FLocatePlan.reset();
        ++FIndexMgrGeneration;
        FIndexMgr->Open();

        if (FRecordMgr->Fields().UsesBlobs() && (!def.UsesBlobs() || def.DefaultBlobSize() == 0))
            OrqDatabaseErrorFmt(8581, "TOrqDataSet.InternalOpenDataSet", SorqValueInvalidFmt, {"DefaultBlobSize"},
                                this);
        FBlobInterface->SetIOInterface(def.BlobInterface());
        if (def.UsesBlobs()) {
            FBlobInterface->SetBlobBlockSize(uint32_t(def.DefaultBlobSize()));
            FBlobInterface->SetCompressionMode(def.BlobCompression() ? dcZLib : dcNone);
            FBlobInterface->Open();
        }
        FBlobBlockSize = def.DefaultBlobSize();
        FBlobCompression = def.BlobCompression();

        CheckState(FIndexMgr->Count() > 0, "No indexes exist");
        ChooseCurrentIndex();
        FVersion = def.Version();
        FTreeCursorsStale = true;
        FInternalActive = true;
        InternalReleaseLock();
    } catch (...) {
        if (FTableLocked) {
            try {
                InternalReleaseLock();
            } catch (...) {
            }
        }
        FInternalActive = false;
        try {
            InternalCloseDataSet();
        } catch (...) {
        }
        throw;
    }
}

void TOrqDataSet::ChooseCurrentIndex() {
    TIndexItem* chosen = nullptr;
    if (FIndexMgr->Count() == 1 && FIndexMgr->GetItems(0)->IndexName() == C_LOGICALRECNOINDEXNAME)
        chosen = FIndexMgr->GetItems(0);
    if (!chosen) chosen = FIndexMgr->FindIndex(FIndexName);
    if (!chosen) {
        for (int i = 0; i < FIndexMgr->Count() && !chosen; ++i)
            if (!FIndexMgr->GetItems(i)->Hidden()) chosen = FIndexMgr->GetItems(i);
    }
    if (chosen) FIndexName = chosen->IndexName();
    FIndexMgr->SetCurrentIndexName(FIndexName);
    FCurrentIndex = FIndexMgr->FindIndex(FIndexName);
}

void TOrqDataSet::DataSetClose() {
    if (!FInternalActive) return;
    // Everything is let go even when a step fails; the first failure is raised afterwards.
    std::exception_ptr failure;
    auto step = [&failure](const auto& Action) {
        try {
            Action();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    };
    if (FTableLocked) step([this] { InternalReleaseLock(); });
    if (FRecordLockAddress != 0) step([this] { InternalReleaseRecordLock(FRecordLockAddress); });
    FRecordLockAddress = 0;
    step([this] { InternalCloseDataSet(); });
    FReadAheadBuffer->Close();
    FUseReadAheadBuffer = false;
    if (FDataBase) step([this] { FDataBase->CloseTable(FTableDef.get()); });
    // The table's storages may be gone with its last open: the definition forgets them.
    FTableDef->InternalClose();
    FTableDef->SetTableHeader(nullptr);
    FBufferState = 0;
    if (failure) std::rethrow_exception(failure);
}

void TOrqDataSet::InternalCloseDataSet() {
    std::exception_ptr failure;
    try {
        FLocatePlan.reset();
        ++FIndexMgrGeneration;
        FIndexMgr->Close();
    } catch (...) {
        failure = std::current_exception();
    }
    FIndexMgr->SetIOInterface(nullptr);
    FIndexMgr->SetTableHeader(nullptr);
    FBlobInterface->Close();
    FRecordMgr->Close();
    FRecordMgr->SetRecordSize(0);
    FreeOpenState();
    try {
        InternalClearFilter();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    if (failure) std::rethrow_exception(failure);
}

void TOrqDataSet::FreeOpenState() {
    FRecBuf.clear();
    FRecBuf.shrink_to_fit();
    FFilterBuf.clear();
    FFilterBuf.shrink_to_fit();
    FScratchBuf.clear();
    FScratchBuf.shrink_to_fit();
    for (int mode = 0; mode < 2; ++mode) {
        FRangeRecBuf[mode].clear();
        FRangeKeyBuf[mode].clear();
        FRangeMarkers[mode].clear();
        FRangeCached[mode] = false;
    }
    FRecBufSize = 0;
    FRecordSize = 0;
    FRecordOwnerTag = 0;
    FFields.clear();
    FRangeOn = FRangeValid = false;
    FInternalActive = false;
    FBufferState = 0;
    FTableOwner.clear();
    FReadAheadCount = 0;
    FReadAheadMode = raReadAheadInactive;
    FCurrentIndex = nullptr;
    FBlobCacheIndex.clear();
    FBlobCache->Clear();
}

// ---------------------------------------------------------------------------------------------
// The table header

void TOrqDataSet::ReadTableHeader() {
    TTableHeader* header = FTableDef->TableHeader();
    CheckState(header != nullptr, "Table header is not assigned");
    header->ReadHeader();
    const uint32_t counter = header->GetModifiedFlag();
    if (counter != FHeaderCounter || FHeaderStale) FRangeCached[0] = FRangeCached[1] = false;
    FPrevHeaderCounter = FHeaderStale ? counter + 1 : FHeaderCounter;
    FHeaderCounter = counter;
    FHeaderStale = false;
    const bool changed = HasTableHeaderChanged();
    if (FIndexMgr->Count() > 0) FIndexMgr->ReadIndexHeaders(changed);
    if (TBaseIOInterface* records = FTableDef->RecordInterface()) {
        records->SetFirstEmpty(header->GetRecordFirstEmpty());
        records->SetFirstEmptyValid(true);
    }
    if (FTableDef->UsesBlobs()) {
        if (TBaseIOInterface* blobs = FTableDef->BlobInterface()) {
            blobs->SetFirstEmpty(header->GetBlobFirstEmpty());
            blobs->SetFirstEmptyValid(true);
        }
    }
    if (changed) {
        InvalidateReadAhead(true);
        ClearBlobCache();
        FTreeCursorsStale = true;
        if (FInternalActive && FFilterMgr->Active()) FFilterMgr->ResetFilter();
    }
}

void TOrqDataSet::WriteTableHeader() {
    if (!FInternalActive || FReadOnly) return;
    TTableHeader* header = FTableDef->TableHeader();
    CheckState(header != nullptr, "Table header is not assigned");
    if (TBaseIOInterface* records = FTableDef->RecordInterface()) header->SetRecordFirstEmpty(records->FirstEmpty());
    if (FTableDef->UsesBlobs())
        if (TBaseIOInterface* blobs = FTableDef->BlobInterface()) header->SetBlobFirstEmpty(blobs->FirstEmpty());
    FIndexMgr->WriteIndexHeaders();
    if (!header->Dirty()) return;
    header->WriteHeader();
    // This cursor's own write is no news to it; another counter at the next lock is (another
    // writer, or a commit that failed and took this write back).
    FHeaderCounter = header->GetModifiedFlag();
    InvalidateReadAhead(false);
    ClearBlobCache();
}

void TOrqDataSet::DumpInternalStatus(TStrings& Lines) { FIndexMgr->DumpInternalStatus(Lines); }

void TOrqDataSet::DumpInternalCaches() {
    FIndexMgr->InvalidateInternalBuffers();
    InvalidateReadAhead(true);
    ClearBlobCache();
    FRangeCached[0] = FRangeCached[1] = false;
    FTreeCursorsStale = true;
    FHeaderStale = true;
}

void TOrqDataSet::DebugListPagesOwned(std::vector<uint32_t>& List) {
    List.clear();
    TBaseIOInterface* records = FTableDef->RecordInterface();
    if (!records || records->IOMode() == iomMemory || !records->DiskMgr()) return;
    records->DiskMgr()->DebugListOwnedPages(uint16_t(FTableDef->TableID()), List);
}

// ---------------------------------------------------------------------------------------------
// Helpers shared by the cursor's units

TIndexItem& TOrqDataSet::RequireIndex(const std::string& Name, const char* Caller) const {
    TIndexItem* index = FIndexMgr->FindIndex(Name);
    if (!index) OrqDatabaseErrorFmt(9997, Caller, SorqIndexFmt, {Name}, const_cast<TOrqDataSet*>(this));
    return *index;
}

TIndexItem& TOrqDataSet::CurrentIndex(const char* Caller) const {
    if (!FCurrentIndex) OrqDatabaseErrorFmt(9997, Caller, SorqIndexFmt, {FIndexName}, const_cast<TOrqDataSet*>(this));
    return *FCurrentIndex;
}

void TOrqDataSet::ReadRecordAt(uint32_t Address, uint8_t* Buf, bool KeepCopy) {
    TBaseIOInterface* records = FRecordMgr->IOInterface();
    if (records && records->IOMode() == iomMemory && !records->CheckBlockAddressValid(Address)) {
        // A deleted in-memory record has no block any more: it reads as a deleted record.
        std::memset(Buf, 0, size_t(FRecordSize));
        if (KeepCopy) FRecordMgr->KeepCopy(Buf);
        return;
    }
    FRecordMgr->ReadRecord(Address, Buf, KeepCopy);
}

TKeyMarkerList TOrqDataSet::MarkerList(const TIndexItem& Index, const uint8_t* Buf) const {
    return BuildKeyMarkerList(*Index.KeyFields(), Buf, uint8_t(TrailerMarker(Buf)));
}

void TOrqDataSet::BuildSearchKey(TIndexItem& Index, const uint8_t* Buf) {
    if (TrailerMarker(Buf) < 1) {
        Index.CreateKeyBuffer(Buf, nullptr);
        return;
    }
    const TKeyMarkerList markers = MarkerList(Index, Buf);
    Index.CreateKeyBuffer(Buf, &markers);
}

bool TOrqDataSet::SearchIndex(TIndexItem& Index, TIndexSearchType SearchType, const TSearchModifier* Modifier) {
    if (SearchType == stLEG)
        return Index.PartialIndexSearch(stGE, Modifier) == 0 || Index.PartialIndexSearch(stLE, Modifier) == 0;
    return Index.PartialIndexSearch(SearchType, Modifier) == 0;
}

void TOrqDataSet::SetTrailer(uint8_t* Buf, uint32_t Address, int32_t RecNo) const {
    uint8_t* trailer = Buf + FRecordSize;
    Store32(trailer + C_TRAILERADDROFFSET, Address);
    Store32(trailer + C_TRAILERRECNOOFFSET, uint32_t(RecNo));
    Store32(trailer + C_TRAILERMARKEROFFSET, 0);
}

void TOrqDataSet::InvalidateReadAhead(bool Count) {
    FReadAheadBuffer->Invalidate();
    if (Count) FReadAheadBuffer->SetRecordCountValid(false);
}

TInternalFieldItem& TOrqDataSet::ClosedOrBadField(int FieldNo) const {
    if (FInternalActive) {
        CheckState(FieldNo >= 0 && size_t(FieldNo) < FFields.size(), "Invalid field index in GetField");
        return *FFields[size_t(FieldNo)];
    }
    // A closed cursor's definition has no field-index map: look the field up by its index.
    const TInternalFields& layout = *FTableDef->InternalFields();
    for (int i = 0; i < layout.Count(); ++i)
        if (layout.GetIndex(i)->FieldIndex() == FieldNo) return *layout.GetIndex(i);
    throw EAssertionFailed("Invalid field index in GetField");
}

}  // namespace ostra
