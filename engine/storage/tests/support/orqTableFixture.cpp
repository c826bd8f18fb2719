// Test helper: a table connection on the storage classes and the check of a table (see
// orqTableFixture.h).
#include "orqTableFixture.h"

#include <algorithm>
#include <cstring>

#include "CrashHarness.h"
#include "DiskTestSupport.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqGlobalHdr.h"
#include "engine/storage/orqMapPageMgr.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Exceptions.h"
#include "host/SysUtils.h"
#include "orqLayoutFixture.h"

namespace ostra::tabletest {

void DeriveIndexes(TTableDef& Def, const std::vector<TIndexRequest>& Requests) {
    for (const TIndexRequest& request : Requests)
        DeriveIndexDef(request, false, false, *Def.InternalFields(), *Def.KeyFields(),
                       *Def.InternalIndexDefs(), SorqIndexFmt, "Test", nullptr);
}

// ---------------------------------------------------------------------------------------------
// TTableConnection

TTableConnection::TTableConnection(const std::string& Path, TTableDefFactory MakeDef, TLockWaits Waits)
    : FDisk(disktest::OpenDatabase(Path, disktest::SharedRW, Waits.RetryCount)),
      FMakeDef(std::move(MakeDef)) {
    FDisk->SetLockRetryInterval(Waits.RetryInterval);
    FDisk->SetCryptKey("");  // the default key, for strongly encrypted tables
    FHeaders.SetDiskMgr(FDisk.get());
    FHeaders.SetBlockSize(CTableHeaderBlockSize);
    FHeaders.SetUsage(1);
    FHeaders.SetTableID(0);
    FHeaders.SetAccessFlags(0);
    FHeaders.SetIOMode(iomDiskFixedSize);
    FHeaders.SetGlobalFirstEmptyOffset(CHdrTableHeadersFirstEmpty);
    FHeaders.SetFirstEmptyValid(false);
    FHeaders.Open();
    FMgr.SetHdrDiskInterface(&FHeaders);
    FMgr.SetBaseDefMgrAddress(3 * disktest::PS);
    FMgr.SetSystemTableMgr(false);
    FMgr.Open();
}

TTableConnection::~TTableConnection() {
    try {
        Close();
        FMgr.Close();
        FHeaders.Close();
        FDisk->Close();
    } catch (...) {
    }
}

void TTableConnection::Create() {
    std::unique_ptr<TTableDef> def = FMakeDef();
    FMgr.CreateTableDef(def->TableName(), def.get());
    if (uint32_t(def->TableID()) != TableID()) throw Exception("unexpected table id");
}

void TTableConnection::Open() {
    FDef = FMakeDef();
    FDef->SetTableID(int32_t(TableID()));
    FMgr.OpenTableDefConnection(FDef->TableName(), FDef.get());
    FOpen = true;
    FRecords.Fields().Assign(FDef->InternalFields());
    FRecords.SetRecordSize(FDef->RecordSize());
    FRecords.Open(FDef->RecordInterface());
    if (FDef->UsesBlobs()) {
        FBlobs.SetBlobBlockSize(uint32_t(FDef->DefaultBlobSize()));
        FBlobs.SetIOInterface(FDef->BlobInterface());
        FBlobs.Open();
    }
    FIndexes.SetDBStringCompareFunction(DBANSICompareStrings);
    FIndexes.Assign(FDef->InternalIndexDefs());
    FIndexes.AssignKeyFields(*FDef->KeyFields());
    FIndexes.SetIOInterface(FDef->IndexInterface());
    FIndexes.SetTableHeader(FDef->TableHeader());
    FIndexes.Open();
}

void TTableConnection::Close() {
    if (!FOpen) return;
    FOpen = false;
    FIndexes.Close();
    FBlobs.Close();
    FRecords.Close();
    FMgr.CloseTableDefConnection(TableID());
}

void TTableConnection::Drop() {
    std::unique_ptr<TTableDef> def = FMakeDef();
    def->SetTableID(int32_t(TableID()));
    FDisk->DiskStartTransaction(false);
    FDisk->SetHeaderWriteLock();
    FDisk->DeleteOwnedPages(uint16_t(TableID()), 0, false);
    FMgr.DeleteTableDef(def->TableName(), def.get());
    FDisk->ReleaseHeaderLock();
    FDisk->DiskCommit();
}

void TTableConnection::Begin() {
    FDisk->DiskStartTransaction(false);
    FDisk->SetTableLock(uint16_t(TableID()), CWriteLock);
    ReadTableHeader();
}

void TTableConnection::Commit() {
    FDisk->DiskCommit();
}

void TTableConnection::Rollback() {
    FDisk->DiskRollback();
}

void TTableConnection::Lock(uint8_t LockType) {
    FDisk->SetTableLock(uint16_t(TableID()), LockType);
    ReadTableHeader();
}

void TTableConnection::Unlock() {
    FDisk->ReleaseTableLock(uint16_t(TableID()));
}

void TTableConnection::ReadTableHeader() {
    Header().ReadHeader();
    FIndexes.ReadIndexHeaders(true);
    TBaseIOInterface* records = FDef->RecordInterface();
    records->SetFirstEmpty(Header().GetRecordFirstEmpty());
    records->SetFirstEmptyValid(true);
    if (FDef->UsesBlobs()) {
        FDef->BlobInterface()->SetFirstEmpty(Header().GetBlobFirstEmpty());
        FDef->BlobInterface()->SetFirstEmptyValid(true);
    }
}

void TTableConnection::WriteTableHeader() {
    Header().SetRecordFirstEmpty(FDef->RecordInterface()->FirstEmpty());
    if (FDef->UsesBlobs()) Header().SetBlobFirstEmpty(FDef->BlobInterface()->FirstEmpty());
    FIndexes.WriteIndexHeaders();
    if (Header().Dirty()) Header().WriteHeader();
}

std::vector<uint8_t> TTableConnection::BlankRecord() {
    return testing::NewRecord(FRecords.Fields());
}

uint32_t TTableConnection::U32At(const std::vector<uint8_t>& Bytes, int Offset) {
    uint32_t value;
    std::memcpy(&value, &Bytes.at(std::size_t(Offset)), 4);
    return value;
}

void TTableConnection::RemoveKeys(const std::vector<uint8_t>& Rec) {
    for (int i = 0; i < IndexCount(); ++i) {
        Index(i).CreateKeyBuffer(Rec.data(), nullptr);
        if (Index(i).FullIndexSearch(stEQ) != 0 || Index(i).DeleteKey() != 0)
            throw Exception("the key of a record is missing in " + Index(i).IndexName());
    }
}

void TTableConnection::AddKeys(const std::vector<uint8_t>& Rec, uint32_t Address, bool Checked) {
    for (int i = 0; i < IndexCount(); ++i) {
        Index(i).CreateKeyBuffer(Rec.data(), nullptr);
        if (!Checked && Index(i).FullIndexSearch(stEQ) == 0)
            throw Exception("the key exists in " + Index(i).IndexName());
        if (Checked && Index(i).InsertKey(Address) != 0)
            throw Exception("the key was refused by " + Index(i).IndexName());
    }
}

uint32_t TTableConnection::Insert(std::vector<uint8_t> Rec) {
    const uint32_t logical = Header().GetLogicalRecordNo() + 1;
    const uint32_t owner = TableID() << 4 | C_RECORDUSAGE;
    const uint32_t changes = 0;
    std::memcpy(&Rec[C_RECOWNEROFFSET], &owner, 4);
    std::memcpy(&Rec[C_RECLOGICALNOOFFSET], &logical, 4);
    std::memcpy(&Rec[C_RECMODCOUNTOFFSET], &changes, 4);
    AddKeys(Rec, 0, false);
    Header().SetLogicalRecordNo(logical);
    const uint32_t address = FRecords.AddRecord(Rec.data());
    AddKeys(Rec, address, true);
    return address;
}

void TTableConnection::Update(uint32_t Address, std::vector<uint8_t> Rec) {
    std::vector<uint8_t> old(std::size_t(FDef->RecordSize()));
    FRecords.ReadRecord(Address, old.data(), true);
    RemoveKeys(old);
    const uint32_t changes = U32At(old, C_RECMODCOUNTOFFSET) + 1;
    std::memcpy(&Rec[C_RECOWNEROFFSET], &old[C_RECOWNEROFFSET], 4);
    std::memcpy(&Rec[C_RECLOGICALNOOFFSET], &old[C_RECLOGICALNOOFFSET], 4);
    std::memcpy(&Rec[C_RECMODCOUNTOFFSET], &changes, 4);
    AddKeys(Rec, 0, false);
    AddKeys(Rec, Address, true);
    FRecords.UpdateRecord(Address, Rec.data());
}

void TTableConnection::Delete(uint32_t Address) {
    RemoveKeys(Read(Address));
    FRecords.DeleteRecord(Address);
}

uint32_t TTableConnection::Find(int I, const std::vector<uint8_t>& Rec) {
    Index(I).CreateKeyBuffer(Rec.data(), nullptr);
    return Index(I).FullIndexSearch(stEQ) == 0 ? Index(I).GetRecordAddress() : 0;
}

std::vector<uint8_t> TTableConnection::Read(uint32_t Address) {
    std::vector<uint8_t> rec(std::size_t(FDef->RecordSize()));
    FRecords.ReadRecord(Address, rec.data(), false);
    return rec;
}

// ---------------------------------------------------------------------------------------------
// Checks

void TProblems::Add(const std::string& Text) {
    if (FCount++ < 8) FText += (FText.empty() ? "" : "; ") + StringReplace(Text, "\r\n", " ");
}

std::string TProblems::Text() const {
    return FCount > 8 ? FText + " (" + std::to_string(FCount) + " problems)" : FText;
}

std::set<uint32_t> FreeBlocks(TBaseIOInterface& IO, uint32_t Head, const std::set<uint32_t>& All,
                              const char* What, TProblems& Problems) {
    std::set<uint32_t> free;
    std::vector<uint8_t> block(IO.BlockSize());
    for (uint32_t run = Head; run != 0;) {
        if (!All.count(run))
            return Problems.Add(std::string(What) + " free chain names " + std::to_string(run)), free;
        IO.ReadBlock(run, IO.BlockSize(), block.data());
        const uint32_t next = TTableConnection::U32At(block, CFreeRunLinkOffset);
        const uint32_t count = TTableConnection::U32At(block, CFreeRunCountOffset);
        if (count == 0 || std::any_of(block.begin(), block.begin() + 8, [](uint8_t b) { return b != 0; }))
            return Problems.Add(std::string(What) + " free run head " + std::to_string(run) + " is not one"),
                   free;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t address = run + i * IO.BlockSize();
            if (!All.count(address) || !free.insert(address).second)
                return Problems.Add(std::string(What) + " free run " + std::to_string(run) +
                                    " is out of place"),
                       free;
            if (i == 0) continue;
            IO.ReadBlock(address, IO.BlockSize(), block.data());
            if (std::any_of(block.begin(), block.end(), [](uint8_t b) { return b != 0; }))
                Problems.Add(std::string(What) + " free block " + std::to_string(address) + " is not zeros");
        }
        run = next;
    }
    return free;
}

std::set<uint32_t> OwnedBlocks(TTableConnection& Table, TBaseIOInterface& IO, uint16_t Usage) {
    std::vector<uint32_t> list;
    Table.Disk().ListAllocatedFixedBlocks(IO.BlockSize(), uint16_t(Table.TableID()), Usage, list);
    return {list.begin(), list.end()};
}

std::map<uint32_t, std::vector<uint8_t>> CheckTable(TTableConnection& Table, TProblems& Problems,
                                                    std::vector<std::vector<uint32_t>>* KeyOrder) {
    std::map<uint32_t, std::vector<uint8_t>> live;
    TBaseIOInterface& recordIO = *Table.Def().RecordInterface();
    const std::set<uint32_t> recordBlocks = OwnedBlocks(Table, recordIO, C_RECORDUSAGE);
    std::set<uint32_t> logicalNumbers;
    std::vector<uint8_t> rec(std::size_t(Table.Def().RecordSize()));
    for (uint32_t address : recordBlocks) {
        recordIO.ReadBlock(address, uint32_t(rec.size()), rec.data());
        if (rec[C_RECINUSEOFFSET] == 0) continue;
        live[address] = rec;
        const uint32_t logical = TTableConnection::U32At(rec, C_RECLOGICALNOOFFSET);
        if (logical == 0 || logical > Table.Header().GetLogicalRecordNo() ||
            !logicalNumbers.insert(logical).second)
            Problems.Add("record " + std::to_string(address) + " has logical number " +
                         std::to_string(logical));
    }

    // The free record chain holds exactly the blocks no record uses.
    const std::set<uint32_t> free =
        FreeBlocks(recordIO, Table.Header().GetRecordFirstEmpty(), recordBlocks, "record", Problems);
    std::set<uint32_t> both = free;
    for (const auto& entry : live) both.insert(entry.first);
    if (both.size() != live.size() + free.size() || both != recordBlocks)
        Problems.Add("record blocks are lost or both used and free");

    // Every index: a sound tree holding exactly the live records, each at its own key.
    std::vector<uint32_t> liveAddresses;
    for (const auto& entry : live) liveAddresses.push_back(entry.first);
    std::set<uint32_t> treePages;
    for (int i = 0; i < Table.IndexCount(); ++i) {
        TIndexItem& index = Table.Index(i);
        const std::string name = index.IndexName();
        std::vector<uint32_t> pages, addresses;
        const std::string fault =
            crashtest::CheckTreePages(*Table.Def().IndexInterface(), index.Tree(), index.Root(),
                                      index.Depth(), C_DEFAULTINDEXPAGESIZE, pages, addresses);
        if (KeyOrder) KeyOrder->push_back(addresses);
        if (!fault.empty()) {
            Problems.Add(name + ": " + fault);
            continue;
        }
        treePages.insert(pages.begin(), pages.end());
        try {
            index.Tree().DebugCheckOrderRecurse();
        } catch (const std::exception& e) {
            Problems.Add(name + " fails its own check: " + e.what());
        }
        if (index.GetRecordCount(true) != int(live.size()))
            Problems.Add(name + " counts " + std::to_string(index.GetRecordCount(true)) + " records of " +
                         std::to_string(live.size()));
        std::sort(addresses.begin(), addresses.end());
        if (addresses != liveAddresses) Problems.Add(name + " does not hold exactly the live records");
        for (const auto& [address, record] : live) {
            index.CreateKeyBuffer(record.data(), nullptr);
            if (index.FullIndexSearch(stEQ) != 0 || index.GetRecordAddress() != address) {
                Problems.Add("record " + std::to_string(address) + " is not found through " + name);
                break;
            }
        }
    }
    std::vector<uint32_t> owned;
    Table.Disk().SetHeaderReadLock();
    Table.Disk().MapMgr()->ListPagesUsedByOwner(uint16_t(Table.TableID()), C_INDEXUSAGE, true, owned);
    Table.Disk().ReleaseHeaderLock();
    if (std::set<uint32_t>(owned.begin(), owned.end()) != treePages)
        Problems.Add("the index pages owned (" + std::to_string(owned.size()) +
                     ") are not the trees' pages (" + std::to_string(treePages.size()) + ")");
    return live;
}

}  // namespace ostra::tabletest
