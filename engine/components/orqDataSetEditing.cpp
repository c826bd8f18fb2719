// orqDataSetEditing: the cursor's table and record locks, adding, updating and deleting records
// with every index kept in step, blob values written with their record, raw record transfer and
// the blob cache.
//
// Record and keys stay consistent: every check that can refuse a change (duplicate keys, a record
// changed by another writer, keys that must or must not exist) runs before anything is written,
// and a write that fails part-way is undone (keys inserted or deleted so far, the record added,
// the blob chains created), so a failure leaves the table as it was. Every operation runs under
// the table write lock, taken for it when the cursor does not hold one.
#include <algorithm>
#include <cstring>

#include "engine/components/orqDataSet.h"
#include "engine/components/orqDataSetScopes.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableHeader.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Streams.h"

namespace ostra {

namespace {

// An index without a hidden key field: its keys can repeat between records unless refused.
bool KeysCanCollide(const TIndexItem& Index) { return Index.Unique() || Index.Primary(); }

}  // namespace

TOrqDataSet::TIndexUndo& TOrqDataSet::PushUndo(TIndexItem& Index, const uint8_t* Key, size_t KeySize, uint32_t Address,
                                               bool Reinsert) {
    if (FUndoCount == FUndo.size()) FUndo.emplace_back();
    TIndexUndo& entry = FUndo[FUndoCount++];
    entry.Index = &Index;
    entry.Address = Address;
    entry.Reinsert = Reinsert;
    if (Key)
        entry.Key.assign(Key, Key + KeySize);
    else
        entry.Key.assign(KeySize, 0);
    return entry;
}

void TOrqDataSet::UndoIndexChanges() noexcept {
    // A failed write may have left a tree's cached page ahead of the stored one: every tree reads
    // its pages again, so the undo works on what is stored. Each step is made only where needed
    // (the key is absent / present), so a change that never reached the file is no harm.
    try {
        FIndexMgr->InvalidateInternalBuffers();
    } catch (...) {
    }
    for (size_t i = FUndoCount; i-- > 0;) {
        const TIndexUndo& step = FUndo[i];
        try {
            step.Index->CopyKeyBuffer(step.Key.data(), nullptr);
            if (step.Reinsert)
                step.Index->InsertKey(step.Address);  // refuses a key that is still there
            else if (step.Index->FullIndexSearch(stEQ) == 0)
                step.Index->DeleteKey();
        } catch (...) {
        }
    }
    FUndoCount = 0;
    FTreeCursorsStale = true;
}

void TOrqDataSet::CheckWritable(const char* Caller) {
    if (FReadOnly) OrqDatabaseError(10763, Caller, FTableName, this);
}

// ---------------------------------------------------------------------------------------------
// Locks

void TOrqDataSet::InternalSetReadLock() { InternalSetLock(CReadLock); }

void TOrqDataSet::InternalSetWriteLock() { InternalSetLock(CWriteLock); }

void TOrqDataSet::InternalSetLock(uint8_t LockType) {
    CheckConnected();
    FDataBase->LockTable(FTableDef.get(), LockType);
    FTableLocked = true;
    if (LockType == CWriteLock) FWriteLocked = true;
    try {
        ReadTableHeader();
    } catch (...) {
        // The header could not be read: the lock goes back.
        try {
            FDataBase->UnLockTable(FTableDef.get());
        } catch (...) {
        }
        FTableLocked = FWriteLocked = false;
        throw;
    }
}

void TOrqDataSet::InternalReleaseLock() {
    CheckConnected();
    std::exception_ptr failure;
    if (FWriteLocked) {
        try {
            WriteTableHeader();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    try {
        FDataBase->UnLockTable(FTableDef.get());
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    FTableLocked = FWriteLocked = false;
    // The free-chain heads are read again from the header under the next lock.
    if (TBaseIOInterface* records = FTableDef->RecordInterface()) records->SetFirstEmptyValid(false);
    if (TBaseIOInterface* blobs = FTableDef->BlobInterface()) blobs->SetFirstEmptyValid(false);
    if (failure) std::rethrow_exception(failure);
}

bool TOrqDataSet::LockTable() {
    InternalSetWriteLock();
    return true;
}

bool TOrqDataSet::ReadLockTable() {
    InternalSetReadLock();
    return true;
}

bool TOrqDataSet::UnlockTable() {
    InternalReleaseLock();
    return true;
}

void TOrqDataSet::InternalSetRecordLock(uint32_t Address) {
    CheckConnected();
    FDataBase->LockRecord(FTableDef.get(), Address);
    FRecordLockAddress = Address;
}

void TOrqDataSet::InternalReleaseRecordLock(uint32_t Address) {
    CheckConnected();
    if (FRecordLockAddress == Address) FRecordLockAddress = 0;
    FDataBase->UnLockRecord(FTableDef.get(), Address);
}

// ---------------------------------------------------------------------------------------------
// Record buffers

void TOrqDataSet::InitializeNewRecord(uint8_t* Buf, bool SetKeyMarkers) {
    std::memset(Buf, 0, size_t(FRecBufSize));
    if (!SetKeyMarkers || !FCurrentIndex) return;
    const TKeyFields& keys = *FCurrentIndex->KeyFields();
    for (int k = 0; k < keys.Count(); ++k)
        if (keys.GetIndex(k)->PhysicalFieldNo() >= 0) Buf[keys.GetIndex(k)->NullFlagOffset()] = C_FIELDLOWEST;
    Store32(Buf + FRecordSize + C_TRAILERMARKEROFFSET, C_FIELDLOWEST);
}

void TOrqDataSet::ClearRecord(uint8_t* Buf) {
    uint8_t* target = Buf ? Buf : FRecBuf.data();
    std::memset(target, 0, size_t(FRecBufSize));
    if (target != FRecBuf.data()) return;
    FRecordMgr->BlobMgr().InvalidateStreams();
    FBufferState = 2;
}

bool TOrqDataSet::InternalCheckRecordValid(const uint8_t* Buf) const {
    return Buf[C_RECINUSEOFFSET] == 1 && Load32(Buf + C_RECOWNEROFFSET) == FRecordOwnerTag;
}

bool TOrqDataSet::InternalCheckRecordFlags(const uint8_t* Buf1, const uint8_t* Buf2, bool CheckValid,
                                           bool CheckModFlag) const {
    if (CheckValid &&
        (Buf1[C_RECINUSEOFFSET] != 1 || Buf2[C_RECINUSEOFFSET] != 1 || Load32(Buf1 + C_RECOWNEROFFSET) != FRecordOwnerTag ||
         Load32(Buf1 + C_RECLOGICALNOOFFSET) != Load32(Buf2 + C_RECLOGICALNOOFFSET)))
        return false;
    return !CheckModFlag || Load32(Buf1 + C_RECMODCOUNTOFFSET) == Load32(Buf2 + C_RECMODCOUNTOFFSET);
}

void TOrqDataSet::InternalCheckFilterStatus(bool ExternalLock, TUpdateStatus Status) {
    if (!FFilterMgr->Active() || !ExternalLock) return;
    const std::vector<uint8_t> saved(FRecBuf);
    FFilterMgr->ResetFilter();
    FRecBuf = saved;
}

void TOrqDataSet::AfterRecordWritten(uint32_t Address, bool ExternalLock, TUpdateStatus Status, bool Positioned) {
    FRangeCached[0] = FRangeCached[1] = false;
    RefreshDataSetIndex(Address, Positioned);
    SetTrailer(FRecBuf.data(), Address, FCurrentIndex->GetRecordNo());
    FTreeCursorsStale = false;
    ValidateRecBufPostDataChange();
    InternalCheckFilterStatus(ExternalLock, Status);
    InvalidateReadAhead(true);
}

// ---------------------------------------------------------------------------------------------
// Adding, updating, deleting

void TOrqDataSet::AddRecord(bool UseAutoInc) {
    CheckInternalActive();
    CheckWritable("TOrqDataSet.AddRecord");
    CheckPrivilegePresent(FTableDef->PrivilegeFlags(), C_PRIVINSERT);
    CheckState(!FRecBuf.empty(), "Add record. RecBuf not assigned");
    const bool externalLock = FWriteLocked;
    FTreeCursorsStale = true;
    TWriteLockScope lock(*this);
    uint8_t* rec = FRecBuf.data();
    TTableHeader& header = *FTableDef->TableHeader();
    // Kept to give the caller's buffer back as it was when the add fails.
    std::memcpy(FScratchBuf.data(), rec, size_t(FRecBufSize));

    const int autoIncField = FRecordMgr->Fields().AutoIncFieldNo();
    uint32_t autoInc = 0;
    if (autoIncField >= 0) {
        const TInternalFieldItem& field = Field(autoIncField);
        const uint32_t next = header.GetRecordAutoIncVal() + 1;
        if (UseAutoInc) {
            rec[field.NullFlagOffset()] = C_FIELDNOTNULL;
            Store32(rec + field.DataOffset(), next);
            autoInc = next;
        } else {
            // An explicit value at or above the next one raises the counter past it.
            const int32_t value = int32_t(Load32(rec + field.DataOffset()));
            autoInc = value >= int32_t(next) ? uint32_t(value) : next - 1;
        }
    }
    const uint32_t logicalNo = header.GetLogicalRecordNo() + 1;
    Store32(rec + C_RECLOGICALNOOFFSET, logicalNo);
    Store32(rec + C_RECOWNEROFFSET, FRecordOwnerTag);
    rec[C_RECINUSEOFFSET] = 1;

    // Every key that could repeat is checked before anything is written. (The keys of the other
    // indexes end in the new logical record number, which no stored record has.)
    const int indexCount = FIndexMgr->Count();
    for (int i = 0; i < indexCount; ++i) {
        TIndexItem& index = *FIndexMgr->GetItems(i);
        // A deferred index finds a repeated key when its tree is built.
        if (!KeysCanCollide(index) || (!FDeferredIndexes.empty() && FDeferredIndexes[size_t(i)])) continue;
        index.CreateKeyBuffer(rec, nullptr);
        if (index.FullIndexSearch(stEQ) == 0) {
            std::memcpy(rec, FScratchBuf.data(), size_t(FRecBufSize));
            OrqDatabaseErrorFmt(9729, "TOrqDataSet.AddRecord", SorqIndexFmt, {index.IndexName()}, this);
        }
    }

    std::vector<uint32_t> newChains;
    BeginUndo();
    uint32_t address = 0;
    // Whether inserting into the current index left its cursor on the new key.
    bool positioned = false;
    try {
        WriteBlobs(false, &newChains);
        address = FRecordMgr->AddRecord(rec);
        CheckState(address != 0, "Add record. RecAddr = 0");
        FTreeCursorsStale = true;
        for (int i = 0; i < indexCount; ++i) {
            // A raw copy may leave this index to its bulk build at the end.
            if (!FDeferredIndexes.empty() && FDeferredIndexes[size_t(i)]) continue;
            TIndexItem& index = *FIndexMgr->GetItems(i);
            index.CreateTempKeyBuffer(rec, PushUndo(index, nullptr, size_t(index.MaximumKeySize()) + 1, address, false).Key.data(),
                                      nullptr);
            // A checked index still holds the key and the place its search found.
            if (!KeysCanCollide(index)) index.CreateKeyBuffer(rec, nullptr);
            if (index.InsertKey(address) != 0) {
                DropUndo();  // the key refused is another record's
                OrqDatabaseErrorFmt(8581, "TOrqDataSet.AddRecord", std::string("Failed to add key to ") + SorqIndexFmt,
                                    {index.IndexName()}, this);
            }
            if (&index == FCurrentIndex) positioned = index.InsertLeftCursorOnKey();
        }
        if (!FDeferredIndexes.empty()) CollectDeferredKeys(rec, address);
    } catch (...) {
        // Undo: the keys inserted, the record, the chains created; the caller's buffer back.
        UndoIndexChanges();
        if (address != 0) {
            try {
                FRecordMgr->DeleteRecord(address);
            } catch (...) {
            }
        }
        for (uint32_t chain : newChains) {
            try {
                FBlobInterface->DeleteBlob(chain, 0);
            } catch (...) {
            }
        }
        std::memcpy(rec, FScratchBuf.data(), size_t(FRecBufSize));
        throw;
    }

    // The values written belong to this record now; the next record starts without them.
    FRecordMgr->BlobMgr().InvalidateStreams();
    if (autoIncField >= 0) header.SetRecordAutoIncVal(autoInc);
    header.SetLogicalRecordNo(logicalNo);
    header.SetDirty(true);
    FBufferState = 1;
    if (FBulkAdding && !FFilterMgr->Active()) {
        // A raw copy adds record after record and reads none of them back: the cursor is not
        // positioned on each (a search in the current index); it has no current record after.
        FRangeCached[0] = FRangeCached[1] = false;
        FBufferState = 0;
        InvalidateReadAhead(true);
    } else {
        AfterRecordWritten(address, externalLock, usInserted, positioned);
    }
    lock.Release();
}

void TOrqDataSet::UpdateRecord() {
    CheckInternalActive();
    CheckWritable("TOrqDataSet.UpdateRecord");
    CheckPrivilegePresent(FTableDef->PrivilegeFlags(), C_PRIVUPDATE);
    if (FBufferState == 0) OrqDatabaseError(8710, "TOrqDataSet.UpdateRecord", "", this);
    uint8_t* rec = FRecBuf.data();
    const uint32_t lockAddress = TrailerAddress(rec);
    const bool externalLock = FWriteLocked;
    std::exception_ptr failure;
    try {
        // The record lock: the editor that started this edit holds it; otherwise it is taken here,
        // so that a record another editor holds is not written under it.
        if (lockAddress != 0 && FRecordLockAddress != lockAddress) InternalSetRecordLock(lockAddress);
        TWriteLockScope lock(*this);
        TTableHeader& header = *FTableDef->TableHeader();
        try {
            InternalUpdateRecord(externalLock);
        } catch (...) {
            header.SetDirty(true);
            throw;
        }
        header.SetDirty(true);
        lock.Release();
    } catch (...) {
        failure = std::current_exception();
    }
    if (lockAddress != 0) {
        try {
            InternalReleaseRecordLock(lockAddress);
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

void TOrqDataSet::InternalUpdateRecord(bool ExternalLock) {
    FTreeCursorsStale = true;
    uint8_t* rec = FRecBuf.data();
    uint8_t* stored = FScratchBuf.data();
    // The stored record, found by its key as it was read, must still be the record read.
    const uint32_t address = RefreshDataSet(stEQ, stored);
    if (address == 0 || !InternalCheckRecordFlags(rec, stored, true, true))
        OrqDatabaseError(8708, "TOrqDataSet.UpdateRecord", "", this);

    // The indexes whose key the update changes; a new key another record holds is refused.
    struct TChange {
        TIndexItem* Index;
        std::vector<uint8_t> OldKey;
        std::vector<uint8_t> NewKey;
    };
    std::vector<TChange> changes;
    for (int i = 0; i < FIndexMgr->Count(); ++i) {
        TIndexItem& index = *FIndexMgr->GetItems(i);
        const size_t keySize = size_t(index.MaximumKeySize()) + 1;
        TChange change{&index, std::vector<uint8_t>(keySize, 0), std::vector<uint8_t>(keySize, 0)};
        index.CreateTempKeyBuffer(stored, change.OldKey.data(), nullptr);
        index.CreateTempKeyBuffer(rec, change.NewKey.data(), nullptr);
        if (index.CompareKeyBuffers(change.OldKey.data(), change.NewKey.data(), nullptr, nullptr) == 0) continue;
        if (KeysCanCollide(index)) {
            index.CopyKeyBuffer(change.NewKey.data(), nullptr);
            if (index.FullIndexSearch(stEQ) == 0 && index.GetRecordAddress() != address)
                OrqDatabaseErrorFmt(9729, "TOrqDataSet.UpdateRecord", SorqIndexFmt, {index.IndexName()}, this);
        }
        changes.push_back(std::move(change));
    }
    auto indexText = [](const TChange& Change, size_t Position) {
        return Change.Index->IndexName() + ". Index " + std::to_string(Position);
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        changes[i].Index->CopyKeyBuffer(changes[i].OldKey.data(), nullptr);
        if (changes[i].Index->FullIndexSearch(stEQ) != 0)
            OrqDatabaseError(8581, "TOrqDataSet.UpdateRecord", "Key not found in Index - " + indexText(changes[i], i), this);
    }
    for (size_t i = 0; i < changes.size(); ++i) {
        changes[i].Index->CopyKeyBuffer(changes[i].NewKey.data(), nullptr);
        if (changes[i].Index->FullIndexSearch(stEQ) == 0)
            OrqDatabaseError(8581, "TOrqDataSet.UpdateRecord",
                             "Unexpected key violation on update- Index " + indexText(changes[i], i), this);
    }

    // Everything is checked: the keys, then the blobs and the record are written; a failure
    // undoes the key changes and gives the caller's buffer back.
    const std::vector<uint8_t> before(rec, rec + FRecBufSize);
    Store32(rec + C_RECMODCOUNTOFFSET, Load32(rec + C_RECMODCOUNTOFFSET) + 1);
    BeginUndo();
    try {
        // Each step is entered for undo before it is made: a step whose write failed may be
        // half made.
        for (size_t i = 0; i < changes.size(); ++i) {
            TIndexItem& index = *changes[i].Index;
            FTreeCursorsStale = true;
            PushUndo(index, changes[i].OldKey.data(), changes[i].OldKey.size(), address, true);
            index.CopyKeyBuffer(changes[i].OldKey.data(), nullptr);
            if (index.FullIndexSearch(stEQ) != 0 || index.DeleteKey() != 0)
                OrqDatabaseError(8581, "TOrqDataSet.UpdateRecord",
                                 "Failed to delete key from Index " + indexText(changes[i], i), this);
        }
        for (size_t i = 0; i < changes.size(); ++i) {
            TIndexItem& index = *changes[i].Index;
            PushUndo(index, changes[i].NewKey.data(), changes[i].NewKey.size(), address, false);
            index.CopyKeyBuffer(changes[i].NewKey.data(), nullptr);
            if (index.InsertKey(address) != 0) {
                DropUndo();
                OrqDatabaseError(8581, "TOrqDataSet.UpdateRecord",
                                 "Failed to add key to index - Index " + indexText(changes[i], i), this);
            }
        }
        WriteBlobs(false, nullptr);
        FRecordMgr->UpdateRecord(address, rec);
    } catch (...) {
        UndoIndexChanges();
        std::memcpy(rec, before.data(), before.size());
        throw;
    }

    FRecordMgr->BlobMgr().InvalidateStreams();
    FBufferState = 1;
    AfterRecordWritten(address, ExternalLock, usModified);
    ClearBlobCache();
}

int TOrqDataSet::DeleteRecord(const uint8_t* Buf) {
    CheckInternalActive();
    CheckWritable("TOrqDataSet.DeleteRecord");
    CheckPrivilegePresent(FTableDef->PrivilegeFlags(), C_PRIVDELETE);
    CheckState(!FRecBuf.empty(), "Delete record. RecBuf not assigned");
    const bool externalLock = FWriteLocked;
    FTreeCursorsStale = true;
    TWriteLockScope lock(*this);
    uint8_t* rec = FRecBuf.data();
    if (HasTableHeaderChanged() && TrailerAddress(rec) != 0) ReadRecordAt(TrailerAddress(rec), rec, false);
    if (Buf && !InternalCheckRecordFlags(rec, Buf, true, false)) {
        lock.Release();
        return -1;
    }

    // Every index must hold the record's key; the keys are kept to undo a failed delete.
    const int indexCount = FIndexMgr->Count();
    std::vector<std::vector<uint8_t>> keys(static_cast<size_t>(indexCount));
    for (int i = 0; i < indexCount; ++i) {
        TIndexItem& index = *FIndexMgr->GetItems(i);
        keys[size_t(i)].assign(size_t(index.MaximumKeySize()) + 1, 0);
        index.CreateTempKeyBuffer(rec, keys[size_t(i)].data(), nullptr);
        index.CreateKeyBuffer(rec, nullptr);
        if (index.FullIndexSearch(stEQ) != 0)
            OrqDatabaseErrorFmt(8708, "TOrqDataSet.DeleteRecord", SorqIndexFmt, {index.IndexName()}, this);
    }
    const uint32_t address = FIndexMgr->GetItems(0)->GetRecordAddress();
    BeginUndo();
    try {
        for (int i = 0; i < indexCount; ++i) {
            TIndexItem& index = *FIndexMgr->GetItems(i);
            FTreeCursorsStale = true;
            PushUndo(index, keys[size_t(i)].data(), keys[size_t(i)].size(), address, true);
            if (index.DeleteKey() != 0)
                OrqDatabaseErrorFmt(8581, "TOrqDataSet.DeleteRecord", std::string("Failed to delete key from ") + SorqIndexFmt,
                                    {index.IndexName()}, this);
        }
        FRecordMgr->DeleteRecord(address);
    } catch (...) {
        UndoIndexChanges();
        throw;
    }
    FTableDef->TableHeader()->SetDirty(true);
    // The record and its keys are gone; its blob chains go after it.
    WriteBlobsToInterface(true);

    FBufferState = 0;
    FRangeCached[rmRangeEnd] = false;
    FReadAheadDirection = rdNone;
    InvalidateReadAhead(true);
    ClearBlobCache();
    if (InternalFind(stGE, FIndexName, nullptr) || InternalFind(stLE, FIndexName, nullptr))
        ValidateRecBufPostDataChange();
    InternalCheckFilterStatus(externalLock, usDeleted);
    lock.Release();
    return 0;
}

void TOrqDataSet::TransferRecord(uint8_t* RecBuf, TInternalFields* SourceFields, int BufNo, int BufCount,
                                 bool& Continue) {
    if (!RecBuf) return;
    Continue = true;
    CheckInternalActive();
    CheckWritable("TOrqDataSet.TransferRecord");
    if (RecBuf[C_RECINUSEOFFSET] == 0) return;
    const TInternalFields& source = SourceFields ? *SourceFields : FRecordMgr->Fields();
    uint8_t* rec = FRecBuf.data();
    std::memset(rec, 0, size_t(FRecordSize));
    std::memcpy(rec, RecBuf, C_RECORDPREFIXSIZE);
    const TInternalFields& layout = FRecordMgr->Fields();
    for (int i = 0; i < layout.Count(); ++i) {
        const TInternalFieldItem& field = *layout.GetIndex(i);
        const TInternalFieldItem* from = source.FindField(field.SourceField());
        if (!from || RecBuf[from->NullFlagOffset()] == C_FIELDISNULL) continue;
        rec[field.NullFlagOffset()] = C_FIELDNOTNULL;
        int length = from->FieldSize();
        if (field.SizeMarkerOffset() > 0) {
            if (from->SizeMarkerOffset() > 0) length = Load16(RecBuf + from->SizeMarkerOffset());
            // A value never runs past the field that receives it.
            length = std::min(length, std::min(from->FieldSize(), field.GetWriteableFieldSize()));
            Store16(rec + field.SizeMarkerOffset(), uint16_t(length));
        }
        length = std::min(length, field.FieldSize());
        std::memcpy(rec + field.DataOffset(), RecBuf + from->DataOffset(), size_t(length));
    }
    ReadTableHeader();
    FRecordMgr->AddRecord(rec);
    // The header's counters stay above every number stored, so that later inserts never repeat
    // a logical record number (the hidden key of non-unique indexes relies on it) or an
    // auto-increment value.
    TTableHeader& header = *FTableDef->TableHeader();
    const uint32_t logicalNo = Load32(rec + C_RECLOGICALNOOFFSET);
    if (logicalNo > header.GetLogicalRecordNo()) header.SetLogicalRecordNo(logicalNo);
    const int autoIncField = layout.AutoIncFieldNo();
    if (autoIncField >= 0) {
        const TInternalFieldItem& field = Field(autoIncField);
        const int32_t value = int32_t(Load32(rec + field.DataOffset()));
        if (rec[field.NullFlagOffset()] == C_FIELDNOTNULL && value > int32_t(header.GetRecordAutoIncVal()))
            header.SetRecordAutoIncVal(uint32_t(value));
    }
    WriteTableHeader();
}

// ---------------------------------------------------------------------------------------------
// Blobs

void TOrqDataSet::WriteBlobsToInterface(bool DeleteAll) { WriteBlobs(DeleteAll, nullptr); }

void TOrqDataSet::WriteBlobs(bool DeleteAll, std::vector<uint32_t>* Created) {
    uint8_t* rec = FRecBuf.data();
    TBlobMgr& blobs = FRecordMgr->BlobMgr();
    for (int i = 0; i < blobs.Count(); ++i) {
        TBlob* entry = blobs.FindBlob(0, blobs.GetItems(i)->FieldNo());
        if (!entry) OrqDatabaseError(8581, "TOrqDataSet.WriteBlobsToInterface", "Blob field not found", this);
        if (DeleteAll) {
            entry->Stream().Clear();
            entry->SetState(bsModified);
        }
        if (entry->State() != bsModified) continue;
        const TInternalFieldItem& field = Field(entry->FieldNo());
        uint8_t* value = rec + field.DataOffset();
        const bool stored = rec[field.NullFlagOffset()] != C_FIELDISNULL;
        uint32_t address = stored ? Load32(value) : 0;
        uint32_t length = stored ? Load32(value + 4) : 0;
        TMemoryStream& stream = entry->Stream();
        stream.SetPosition(0);
        const uint32_t size = uint32_t(stream.Size());
        if (address == 0) {
            if (size > 0) {
                address = FBlobInterface->InsertBlob(stream);
                length = size;
                if (Created) Created->push_back(address);
            }
        } else if (size > 0) {
            address = FBlobInterface->EditBlob(address, length, stream);
            length = size;
        } else {
            FBlobInterface->DeleteBlob(address, length);
            address = length = 0;
        }
        Store32(value, address);
        Store32(value + 4, length);
        rec[field.NullFlagOffset()] = length != 0 ? C_FIELDNOTNULL : C_FIELDISNULL;
    }
}

void TOrqDataSet::ClearBlobCache() {
    FBlobCacheIndex.clear();
    FBlobCache->Clear();
}

namespace {

uint64_t BlobCacheKey(uint32_t Address, int FieldNo) { return uint64_t(Address) << 32 | uint32_t(FieldNo); }

}  // namespace

bool TOrqDataSet::GetBlobCacheData(const uint8_t* Buf, int FieldNo, TStream& Stream) {
    if (!FUseBlobCache || State() != dsBrowse) return false;
    const uint32_t address = TrailerAddress(Buf);
    if (address == 0) return false;
    const auto it = FBlobCacheIndex.find(BlobCacheKey(address, FieldNo));
    if (it == FBlobCacheIndex.end()) return false;
    it->second->Stream().SetPosition(0);
    Stream.CopyFrom(it->second->Stream(), 0);
    return true;
}

void TOrqDataSet::SetBlobCacheData(const uint8_t* Buf, int FieldNo, TStream* Stream) {
    if (!FUseBlobCache || State() != dsBrowse) return;
    const uint32_t address = TrailerAddress(Buf);
    if (address == 0) return;
    TBlob*& entry = FBlobCacheIndex[BlobCacheKey(address, FieldNo)];
    if (entry) {
        entry->Stream().Clear();
    } else {
        entry = FBlobCache->Add();
        entry->SetRecID(address);
        entry->SetFieldNo(FieldNo);
    }
    if (Stream) entry->Stream().CopyFrom(*Stream, 0);
}

}  // namespace ostra
