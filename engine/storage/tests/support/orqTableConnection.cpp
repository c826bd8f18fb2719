// Test helper: a connection to a database file with its user-table manager (see
// orqTableConnection.h).
#include "orqTableConnection.h"

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqGlobalHdr.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqMapPageMgr.h"
#include "engine/storage/orqRecordMgr.h"
#include "engine/storage/orqTableHeader.h"

namespace ostra::testing {

TableConnection::TableConnection(const std::string& Path, uint32_t PageSize)
    : Disk(disktest::OpenDatabase(Path, disktest::SharedRW, 3, PageSize)) {
    Disk->SetCryptKey("master key");
    Headers.SetDiskMgr(Disk.get());
    Headers.SetBlockSize(CTableHeaderBlockSize);
    Headers.SetUsage(CUsageSystem);
    Headers.SetTableID(0);
    Headers.SetAccessFlags(0);
    Headers.SetIOMode(iomDiskFixedSize);
    Headers.SetGlobalFirstEmptyOffset(CHdrTableHeadersFirstEmpty);
    Headers.SetFirstEmptyValid(false);
    Headers.Open();
    Mgr.SetHdrDiskInterface(&Headers);
    Mgr.SetBaseDefMgrAddress(3 * PageSize);
    Mgr.SetSystemTableMgr(false);
    Mgr.Open();
}

TableConnection::~TableConnection() {
    try {
        Mgr.Close();
    } catch (...) {
    }
    Headers.Close();
}

std::vector<uint32_t> TableConnection::Owned(int32_t TableID, uint16_t Usage) {
    std::vector<uint32_t> pages;
    Disk->SetHeaderReadLock();
    Disk->MapMgr()->ListPagesUsedByOwner(uint16_t(TableID), Usage, true, pages);
    Disk->ReleaseHeaderLock();
    return pages;
}

std::unique_ptr<TTableDef> MakeTableDef(const std::string& Name, const std::vector<FieldSpec>& Specs,
                                        const std::vector<TIndexRequest>& Requests, bool Memory,
                                        TEncryptionLevel Level) {
    auto def = std::make_unique<TTableDef>(nullptr);
    def->SetTableName(Name);
    def->SetAltName(Name);
    def->SetMemory(Memory);
    def->SetEncryptionLevel(Level);
    def->SetEncrypted(Level != encNone);
    std::unique_ptr<TInternalFields> layout = MakeLayout(Specs);
    def->InternalFields()->Assign(layout.get());
    def->SetRecordSize(layout->RecordSize());
    def->SetUsesBlobs(layout->UsesBlobs());
    for (const TIndexRequest& request : Requests)
        DeriveIndexDef(request, false, Memory, *def->InternalFields(), *def->KeyFields(),
                       *def->InternalIndexDefs(), SorqIndexFmt, "Test", nullptr);
    return def;
}

void OpenTableIndexes(TIndexManager& Indexes, TTableDef& Def) {
    Indexes.SetDBStringCompareFunction(DBANSICompareStrings);
    Indexes.Assign(Def.InternalIndexDefs());
    Indexes.AssignKeyFields(*Def.KeyFields());
    Indexes.SetIOInterface(Def.IndexInterface());
    Indexes.SetTableHeader(Def.TableHeader());
    Indexes.Open();
}

void OpenTableRecords(TRecordMgr& Records, TBlobInterface& Blobs, TTableDef& Def) {
    Records.Fields().Assign(Def.InternalFields());
    Records.SetRecordSize(Def.RecordSize());
    Records.Open(Def.RecordInterface());
    Blobs.SetBlobBlockSize(uint32_t(Def.DefaultBlobSize()));
    Blobs.SetIOInterface(Def.BlobInterface());
    Blobs.Open();
}

}  // namespace ostra::testing
