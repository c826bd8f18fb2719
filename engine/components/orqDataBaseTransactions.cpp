// orqDataBaseTransactions: transactions of the connection, the header lock held on purpose, and
// the table and record locks that cursors take through the connection (counted per cursor, see
// orqDataBase.h).
#include <algorithm>
#include <exception>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataBaseScopes.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqTableMgrUnit.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// Transactions

void TOrqDataBase::StartTransaction() {
    CheckConnected(false);
    // A query that runs outside query mode reads without the per-table transaction locks.
    if (FDiskMgr) FDiskMgr->DiskStartTransaction(FQueryActive && !FQueryMode);
}

void TOrqDataBase::Commit() {
    if (!FDiskMgr) return;
    const bool active = InTransaction();
    try {
        FDiskMgr->DiskCommit();
    } catch (...) {
        // The disk manager has rolled the transaction back: what the cursors hold of it goes.
        if (active) AfterRollback();
        throw;
    }
}

void TOrqDataBase::Rollback() {
    if (FDiskMgr) FDiskMgr->DiskRollback();
    AfterRollback();
}

bool TOrqDataBase::InTransaction() const { return FDiskMgr && FDiskMgr->IsTransactionActive(); }

void TOrqDataBase::AfterRollback() {
    // Each step for each dataset is tried; a failure is logged and passed over.
    TStepFailures steps("TOrqDataBase.Rollback");
    auto attempt = [&steps](const auto& Action) { steps.Run(Action); };
    for (TOrqDataSet* cursor : {FUserMaster.get(), FSystemMaster.get(), FGeneratorTable.get()})
        if (cursor && cursor->InternalActive()) cursor->DumpInternalCaches();
    std::vector<TDataSet*> datasets;
    for (int i = 0; i < DataSetCount(); ++i) datasets.push_back(DataSets(i));
    for (TDataSet* dataset : datasets)
        if (auto* cursor = dynamic_cast<TOrqDataSet*>(dataset))
            attempt([cursor] {
                if (cursor->InternalActive()) cursor->DumpInternalCaches();
            });
    for (TDataSet* dataset : datasets)
        if (dataset->State() == dsInsert || dataset->State() == dsEdit) attempt([dataset] { dataset->Cancel(); });
    for (TDataSet* dataset : datasets)
        if (dataset->Active()) attempt([dataset] { dataset->Refresh(); });
    // Tables registered inside the transaction may no longer exist.
    for (TDiskTableDefMgr* registry : {FSystemTableMgr.get(), FUserTableMgr.get()})
        if (registry) attempt([registry] { registry->ForgetUnusedTables(); });
    // The transaction's end released every lock, the header lock too.
    FLocked = FLocked && FDiskMgr && FDiskMgr->HeaderWriteLocked();
}

void TOrqDataBase::ActivateQueryMode(bool Value) {
    FQueryActive = Value;
    FQueryMode = Value;
}

// ---------------------------------------------------------------------------------------------
// The header lock

void TOrqDataBase::SetLocked(bool Value) {
    if (Value != FLocked && FDiskMgr) {
        CheckConnected(false);
        if (Value)
            FDiskMgr->SetHeaderWriteLock();
        else
            FDiskMgr->ReleaseHeaderLock();
    }
    FLocked = Value;
}

// ---------------------------------------------------------------------------------------------
// Table and record locks

bool TOrqDataBase::LockTable(TTableDef* Def, uint8_t LockType) {
    if (Def->Memory()) return false;
    CheckConnected(false);
    const uint16_t tableID = uint16_t(Def->TableID());
    const auto own = FDefLocks.find(Def);
    const uint8_t held = own == FDefLocks.end() ? CNoLock : own->second;
    const uint8_t wanted = std::max(held, LockType);
    TTableLocks& table = FTableLocks[tableID];
    // The table's one lock must serve every cursor that holds one: never weaker than a write
    // lock another cursor holds.
    const uint8_t asked = table.Writers > 0 ? CWriteLock : wanted;
    uint8_t result = CNoLock;
    try {
        result = FDiskMgr->SetTableLock(tableID, asked);
    } catch (...) {
        if (table.Readers == 0 && table.Writers == 0) FTableLocks.erase(tableID);
        throw;
    }
    if (result == CNoLock) {
        if (table.Readers == 0 && table.Writers == 0) FTableLocks.erase(tableID);
        return false;
    }
    if (held == CReadLock) --table.Readers;
    if (held == CWriteLock) --table.Writers;
    if (wanted == CWriteLock)
        ++table.Writers;
    else
        ++table.Readers;
    FDefLocks[Def] = wanted;
    return true;
}

bool TOrqDataBase::ReleaseLockOf(const TTableDef* Def) {
    const auto own = FDefLocks.find(Def);
    if (own == FDefLocks.end()) return false;
    const uint16_t tableID = uint16_t(Def->TableID());
    TTableLocks& table = FTableLocks[tableID];
    if (own->second == CWriteLock)
        --table.Writers;
    else
        --table.Readers;
    FDefLocks.erase(own);
    if (table.Readers > 0 || table.Writers > 0) return true;
    FTableLocks.erase(tableID);
    if (FDiskMgr && FDiskMgr->IsOpen()) FDiskMgr->ReleaseTableLock(tableID);
    return true;
}

bool TOrqDataBase::UnLockTable(TTableDef* Def) {
    if (Def->Memory() || !FDiskMgr) return false;
    return ReleaseLockOf(Def);
}

bool TOrqDataBase::TableLockExists(TTableDef* Def, uint8_t LockType) {
    if (Def->Memory()) return false;
    CheckConnected(false);
    return FDiskMgr->QueryTableLockStatus(uint16_t(Def->TableID())) == LockType;
}

void TOrqDataBase::LockRecord(TTableDef* Def, uint32_t Address) {
    if (Def->Memory()) return;
    CheckConnected(false);
    FDiskMgr->SetRecordLock(Address, uint16_t(Def->TableID()));
    ++FRecordLocks[Address];
}

void TOrqDataBase::UnLockRecord(TTableDef* Def, uint32_t Address) {
    if (Def->Memory() || !FDiskMgr) return;
    const auto holders = FRecordLocks.find(Address);
    if (holders == FRecordLocks.end()) return;
    if (--holders->second > 0) return;
    FRecordLocks.erase(holders);
    if (FDiskMgr->IsOpen()) FDiskMgr->ReleaseRecordLock(Address);
}

bool TOrqDataBase::RecordLockExists(TTableDef* Def, uint32_t Address) {
    if (Def->Memory()) return false;
    CheckConnected(false);
    return FDiskMgr->QueryRecordLockStatus(Address) == CWriteLock;
}

}  // namespace ostra
