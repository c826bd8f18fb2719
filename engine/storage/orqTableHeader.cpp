// orqTableHeader: the open table headers and the table map manager.
#include "engine/storage/orqTableHeader.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "engine/storage/orqCommon.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {
namespace {


const std::string COffsetOutOfRange = std::string("Table header: ") + SorqOffsetValueIsOutOfRange;

// The most index slots a header of Size bytes holds.
uint32_t SlotsFor(uint32_t Size) {
    return Size < CThIndexBase ? 0 : (Size - CThIndexBase) / CThIndexSlotSize;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TTableHeader

TTableHeader::TTableHeader(TCollection* ACollection) : TCollectionItem(ACollection) {}

TTableHeaderMgr* TTableHeader::Mgr() const {
    return static_cast<TTableHeaderMgr*>(Collection());
}

TBaseIOInterface& TTableHeader::Storage() const {
    TTableHeaderMgr* mgr = Mgr();
    Assert(mgr != nullptr && mgr->IOInterface() != nullptr, "TableHeader: IOInterface = nil");
    return *mgr->IOInterface();
}

uint32_t TTableHeader::InternalGet(uint32_t Offset) const {
    if (uint64_t(Offset) + 4 > FBuffer.size())
        OrqDatabaseError(8581, "TTableHeader.InternalGetValue", COffsetOutOfRange, const_cast<TTableHeader*>(this));
    return Load32(FBuffer.data() + Offset);
}

void TTableHeader::InternalSet(uint32_t Offset, uint32_t Value) {
    if (uint64_t(Offset) + 4 > FBuffer.size())
        OrqDatabaseError(8581, "TTableHeader.InternalSetValue", COffsetOutOfRange, this);
    if (Load32(FBuffer.data() + Offset) == Value) return;
    Store32(FBuffer.data() + Offset, Value);
    FDirty = true;
    FProof = 0;
}

uint32_t TTableHeader::InternalGetIndexOffset(int Index) const {
    if (Index < 0 || uint32_t(Index) >= GetIndexCount())
        OrqDatabaseError(8581, "TTableHeader.InternalGetIndexOffset", COffsetOutOfRange,
                         const_cast<TTableHeader*>(this));
    return CThIndexBase + CThIndexSlotSize * uint32_t(Index);
}

uint32_t TTableHeader::GetIndexRoot(int Index) const {
    return InternalGet(InternalGetIndexOffset(Index));
}

void TTableHeader::SetIndexRoot(int Index, uint32_t Value) {
    InternalSet(InternalGetIndexOffset(Index), Value);
}

uint16_t TTableHeader::GetIndexDepth(int Index) const {
    const uint32_t offset = InternalGetIndexOffset(Index) + 4;
    if (uint64_t(offset) + 2 > FBuffer.size())
        OrqDatabaseError(8581, "TTableHeader.GetIndexDepth", COffsetOutOfRange, const_cast<TTableHeader*>(this));
    return uint16_t(FBuffer[offset] | FBuffer[offset + 1] << 8);
}

void TTableHeader::SetIndexDepth(int Index, uint16_t Value) {
    const uint32_t offset = InternalGetIndexOffset(Index) + 4;
    if (uint64_t(offset) + 2 > FBuffer.size())
        OrqDatabaseError(8581, "TTableHeader.SetIndexDepth", COffsetOutOfRange, this);
    if (GetIndexDepth(Index) == Value) return;
    FBuffer[offset] = uint8_t(Value);
    FBuffer[offset + 1] = uint8_t(Value >> 8);
    FDirty = true;
    FProof = 0;
}

void TTableHeader::SetHeaderSize(uint32_t Size) {
    FProof = 0;
    FBuffer.assign(Size, 0);
    if (Size >= CThHeaderSize + 4) Store32(FBuffer.data() + CThHeaderSize, Size);
}

void TTableHeader::ResetHeaderSize(uint32_t NewSize, bool Clear) {
    FProof = 0;
    std::vector<uint8_t> old;
    old.swap(FBuffer);
    FBuffer.assign(NewSize, 0);
    if (!Clear) std::memcpy(FBuffer.data(), old.data(), std::min<size_t>(old.size(), NewSize));
    if (NewSize >= CThHeaderSize + 4) Store32(FBuffer.data() + CThHeaderSize, NewSize);
}

void TTableHeader::ClearHeader() {
    FProof = 0;
    std::fill(FBuffer.begin(), FBuffer.end(), 0);
}

void TTableHeader::ReadHeader() {
    static constexpr char Caller[] = "TTableHeader.ReadHeader";
    if (FBuffer.size() < CThIndexBase) OrqDatabaseError(8576, Caller, "", this);
    const uint32_t size = uint32_t(FBuffer.size());
    const uint32_t oldFlag = GetModifiedFlag();
    const uint32_t oldGeneration = GetGeneration();
    const uint32_t expectedID = GetTableID();
    TBaseIOInterface& storage = Storage();
    TDiskMgr* disk = storage.DiskMgr();
    // Held since it was read or written under the table's lock, which this connection still
    // holds, with no write of the header since: nobody can have changed it.
    if (disk && FProof != 0 && !FDirty && !FForgotten && FProof == disk->HeaderProof(expectedID)) return;
    std::vector<uint8_t> stored(size);
    storage.ReadBlock(FBaseAddress, size, stored.data());
    const uint32_t id = Load32(stored.data() + CThTableID);
    const uint32_t storedSize = Load32(stored.data() + CThHeaderSize);
    const uint32_t indexCount = Load32(stored.data() + CThIndexCount);
    if ((expectedID != 0 && id != expectedID) || id == 0 || storedSize != size || indexCount > SlotsFor(size))
        OrqDatabaseErrorFmt(8961, Caller, "Table header at %u: id %u, size %u, index count %u",
                            {FBaseAddress, id, storedSize, indexCount}, this);
    FBuffer.swap(stored);
    FDirty = false;
    const bool known = !FForgotten;
    FForgotten = false;
    FProof = disk ? disk->HeaderProof(id) : 0;
    // The counter moves on with every change of the table; the generation tells a table made
    // again under this identifier (its counter starts anew) from the one held.
    if (known && oldFlag != 0 && oldFlag == GetModifiedFlag() && oldGeneration == GetGeneration()) return;
    storage.NotifyPageChange(id);
}

void TTableHeader::WriteHeader() {
    static constexpr char Caller[] = "TTableHeader.WriteHeader";
    if (FBuffer.size() < CThIndexBase) OrqDatabaseError(8576, Caller, "", this);
    Store32(FBuffer.data() + CThModifiedFlag, GetModifiedFlag() + 1);
    TBaseIOInterface& storage = Storage();
    FProof = 0;
    storage.WriteBlock(FBaseAddress, uint32_t(FBuffer.size()), FBuffer.data());
    FDirty = false;
    if (TDiskMgr* disk = storage.DiskMgr()) {
        disk->TableHeaderWritten(GetTableID());
        FProof = disk->HeaderProof(GetTableID());
    }
}

void TTableHeader::Restore(const std::vector<uint8_t>& Bytes, uint32_t Address, uint64_t Proof) {
    FBuffer = Bytes;
    FBaseAddress = Address;
    FDirty = false;
    FForgotten = false;
    FProof = Proof;
}

void TTableHeader::DebugDumpStatus(TStrings* Lines) const {
    if (!Lines || FBuffer.size() < CThIndexBase) return;
    Lines->Add(Format("TableID=%d BaseAddr=%d HdrSize=%d UserCount=%d",
                      {GetTableID(), FBaseAddress, GetHeaderSize(), FUserCount}));
    Lines->Add(Format("RecFirstEmpty=%d BlobFE=%d", {GetRecordFirstEmpty(), GetBlobFirstEmpty()}));
    Lines->Add(Format("AutoInc=%d LogRecNo=%d IdxCount=%d",
                      {GetRecordAutoIncVal(), GetLogicalRecordNo(), GetIndexCount()}));
    const uint32_t count = std::min(GetIndexCount(), SlotsFor(uint32_t(FBuffer.size())));
    for (uint32_t i = 0; i < count; ++i)
        Lines->Add(Format("   Idx=%d Root=%d Depth=%d", {i, GetIndexRoot(int(i)), unsigned(GetIndexDepth(int(i)))}));
}

// ---------------------------------------------------------------------------------------------
// TTableHeaderMgr

TTableHeaderMgr::TTableHeaderMgr() : TCollection(ItemClassOf<TTableHeader>()), FMap(CTableMapSize, 0) {}

TTableHeaderMgr::~TTableHeaderMgr() {
    try {
        Close();
    } catch (...) {
        // Dropped: a destructor cannot pass it on.
    }
}

TTableHeader* TTableHeaderMgr::GetItems(int Position) const {
    return static_cast<TTableHeader*>(Items(Position));
}

TTableHeader* TTableHeaderMgr::Add() {
    return static_cast<TTableHeader*>(TCollection::Add());
}

uint32_t TTableHeaderMgr::MapTableID(int Entry) const {
    return Load32(FMap.data() + CTableMapEntrySize * Entry);
}

uint32_t TTableHeaderMgr::MapAddress(int Entry) const {
    return Load32(FMap.data() + CTableMapEntrySize * Entry + 4);
}

void TTableHeaderMgr::SetMapEntry(int Entry, uint32_t TableID, uint32_t Address) {
    Store32(FMap.data() + CTableMapEntrySize * Entry, TableID);
    Store32(FMap.data() + CTableMapEntrySize * Entry + 4, Address);
}

void TTableHeaderMgr::InternalReadMap() {
    Assert(FIOInterface != nullptr, "InternalReadMap: IOInterface = nil");
    FIOInterface->ReadBlock(FBaseAddress, CTableMapSize, FMap.data());
}

void TTableHeaderMgr::InternalWriteMap() {
    Assert(FIOInterface != nullptr, "InternalReadMap: IOInterface = nil");
    FIOInterface->WriteBlock(FBaseAddress, CTableMapSize, FMap.data());
}

void TTableHeaderMgr::Open(TBaseIOInterface* IOInterface) {
    if (FBaseAddress == 0)
        OrqDatabaseError(8581, "TTableHeaderMgr.Open", "Base address of table header mapper has not been set", this);
    FIOInterface = IOInterface;
    FClosed.clear();
    InternalReadMap();
    TDiskMgr* disk = IOInterface ? IOInterface->DiskMgr() : nullptr;
    if (FKeptBy && FKeptBy != disk) FKeptBy->RemoveTableHeaderKeeper(this);
    FKeptBy = disk;
    if (disk) disk->AddTableHeaderKeeper(this);
}

void TTableHeaderMgr::Close() {
    std::exception_ptr failure;
    for (int i = 0; i < Count(); ++i) {
        TTableHeader* header = GetItems(i);
        if (!header->Dirty()) continue;
        try {
            header->WriteHeader();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    Clear();
    FClosed.clear();
    if (FKeptBy) FKeptBy->RemoveTableHeaderKeeper(this);
    FKeptBy = nullptr;
    if (failure) std::rethrow_exception(failure);
}

bool TTableHeaderMgr::BumpTableHeader(uint32_t TableID) {
    static constexpr char Caller[] = "TTableHeaderMgr.BumpTableHeader";
    if (!FIOInterface || int64_t(TableID) < FBaseTableID ||
        int64_t(TableID) >= FBaseTableID + CTableMapEntries)
        return false;
    // The stored header changes behind what is remembered of it.
    FClosed.erase(TableID);
    InternalReadMap();
    int position;
    if (!FindTableHeaderInMap(TableID, position)) return false;
    const uint32_t address = CheckedMapAddress(position, Caller);
    const uint32_t size = ReadHeaderSize(address);
    std::vector<uint8_t> stored(size);
    FIOInterface->ReadBlock(address, size, stored.data());
    TTableHeader* open = FindHdrItemByID(TableID);
    if (open && open->BaseAddress() == address && open->Buffer() == stored) {
        open->WriteHeader();
        return true;
    }
    // Only the counter: values the caller did not write are not the engine's to write.
    Store32(stored.data() + CThModifiedFlag, Load32(stored.data() + CThModifiedFlag) + 1);
    FIOInterface->WriteBlock(address, size, stored.data());
    return true;
}

void TTableHeaderMgr::ForgetTableHeader(uint32_t TableID) {
    FClosed.erase(TableID);
    if (TTableHeader* open = FindHdrItemByID(TableID)) open->Forget();
}

bool TTableHeaderMgr::FindTableHeaderInMap(uint32_t TableID, int& Position) const {
    for (int k = 0; k < CTableMapEntries; ++k) {
        const uint32_t id = MapTableID(k);
        if (id == 0) break;
        if (id == TableID) {
            Position = k;
            return true;
        }
    }
    return false;
}

uint32_t TTableHeaderMgr::CheckedMapAddress(int Entry, const char* Caller) {
    const uint32_t address = MapAddress(Entry);
    if (!FIOInterface->CheckLinkAddress(address))
        OrqDatabaseErrorFmt(8962, Caller, "Table map entry %d: table %u has the invalid header address %u",
                            {Entry, MapTableID(Entry), address}, this);
    return address;
}

void TTableHeaderMgr::FindFreeMapEntry(int& Entry, uint32_t& TableID) const {
    bool used[CTableMapEntries] = {};
    Entry = -1;
    for (int k = 0; k < CTableMapEntries; ++k) {
        const uint32_t id = MapTableID(k);
        if (id == 0) {
            if (Entry < 0) Entry = k;
            continue;
        }
        const int64_t relative = int64_t(id) - FBaseTableID;
        if (relative < 0 || relative >= CTableMapEntries)
            OrqDatabaseErrorFmt(8962, "TTableHeaderMgr.AddTableHeaderToMap", "Table map entry %d holds table id %u",
                                {k, id}, const_cast<TTableHeaderMgr*>(this));
        used[relative] = true;
    }
    if (Entry < 0)
        OrqDatabaseError(9601, "TTableHeaderMgr.AddTableHeaderToMap", "", const_cast<TTableHeaderMgr*>(this));
    // There are at most 999 used entries here, so a free identifier exists.
    int relative = 0;
    while (used[relative]) ++relative;
    TableID = uint32_t(FBaseTableID + relative);
}

uint32_t TTableHeaderMgr::ReadHeaderSize(uint32_t Address) {
    Assert(FIOInterface != nullptr, "InternalReadMap: IOInterface = nil");
    uint8_t probe[CTableHeaderProbeSize];
    FIOInterface->ReadBlock(Address, CTableHeaderProbeSize, probe);
    const uint32_t size = Load32(probe + CThHeaderSize);
    if (size < CThIndexBase || size > CTableHeaderBlockSize)
        OrqDatabaseErrorFmt(8961, "TTableHeaderMgr.ReadHeaderSize", "Table header at %u: size %u", {Address, size},
                            this);
    return size;
}

int32_t TTableHeaderMgr::AddTable(int IndexCount) {
    static constexpr char Caller[] = "TTableHeaderMgr.AddTable";
    InternalReadMap();
    if (MapTableID(CTableMapEntries - 1) != 0) OrqDatabaseError(9601, Caller, "", this);
    if (IndexCount < 0) throw Exception("Debug check -  header size <> 256");
    const uint32_t size = uint32_t(CalcTableHeaderSize(IndexCount));
    int entry;
    uint32_t id;
    FindFreeMapEntry(entry, id);
    FClosed.erase(id);
    TDiskMgr* disk = FIOInterface->DiskMgr();
    const uint32_t generation = disk ? disk->NewTableGeneration() : 0;

    const std::vector<uint8_t> zeros(size, 0);
    FIOInterface->SetFirstEmptyValid(false);
    const uint32_t address = FIOInterface->AllocateNewAddress(size, zeros.data());
    Assert(address != 0, "HeaderMgr. AddTable allocate = 0");
    try {
        // The header is written before the map names it, so the map never points at a block
        // that is not yet a header.
        TTableHeader* header = Add();
        try {
            header->SetBaseAddress(address);
            header->SetHeaderSize(size);
            header->SetIndexCount(uint32_t(IndexCount));
            header->SetTableID(id);
            header->SetGeneration(generation);
            header->WriteHeader();
        } catch (...) {
            delete header;
            throw;
        }
        delete header;
        SetMapEntry(entry, id, address);
        InternalWriteMap();
    } catch (...) {
        // The block goes back; the map is read again by the next change.
        try {
            FIOInterface->SetFirstEmptyValid(false);
            FIOInterface->ReleaseBlock(address, size);
        } catch (...) {
        }
        throw;
    }
    return int32_t(id);
}

void TTableHeaderMgr::DeleteTable(uint32_t TableID) {
    static constexpr char Caller[] = "TTableHeaderMgr.DeleteTable";
    InternalReadMap();
    int position;
    if (!FindTableHeaderInMap(TableID, position)) OrqDatabaseError(8579, Caller, "Delete table", this);
    const uint32_t address = CheckedMapAddress(position, Caller);
    const uint32_t size = ReadHeaderSize(address);
    // The map forgets the header before its block is freed, so the map never names a free block.
    int last = position;
    while (last + 1 < CTableMapEntries && MapTableID(last + 1) != 0) ++last;
    std::memmove(FMap.data() + CTableMapEntrySize * position, FMap.data() + CTableMapEntrySize * (position + 1),
                 CTableMapEntrySize * (last - position));
    SetMapEntry(last, 0, 0);
    InternalWriteMap();
    FIOInterface->SetFirstEmptyValid(false);
    FIOInterface->ReleaseBlock(address, size);
    FClosed.erase(TableID);
    if (TDiskMgr* disk = FIOInterface->DiskMgr()) disk->TableHeaderChanged(TableID);
}

TTableHeader* TTableHeaderMgr::FindHdrItemByID(uint32_t TableID) const {
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->GetTableID() == TableID) return GetItems(i);
    return nullptr;
}

TTableHeader* TTableHeaderMgr::OpenTable(uint32_t TableID) {
    static constexpr char Caller[] = "TTableHeaderMgr.OpenTable";
    if (TTableHeader* open = FindHdrItemByID(TableID)) {
        open->SetUserCount(open->UserCount() + 1);
        return open;
    }
    TDiskMgr* disk = FIOInterface ? FIOInterface->DiskMgr() : nullptr;
    const auto closed = FClosed.find(TableID);
    if (closed != FClosed.end() && disk && closed->second.Proof != 0 &&
        closed->second.Proof == disk->HeaderProof(TableID)) {
        // Closed and opened again under one lock of this connection, with no write of the header
        // between: neither the header nor the map entry that finds it can have changed.
        TTableHeader* header = Add();
        header->Restore(closed->second.Bytes, closed->second.BaseAddress, closed->second.Proof);
        header->SetUserCount(1);
        FClosed.erase(closed);
        return header;
    }
    InternalReadMap();
    int position;
    if (!FindTableHeaderInMap(TableID, position))
        OrqDatabaseError(8581, Caller, "The TableID could not be found: " + IntToStr(int64_t(TableID)), this);
    const uint32_t address = CheckedMapAddress(position, Caller);
    const uint32_t size = ReadHeaderSize(address);
    TTableHeader* header = Add();
    try {
        header->SetHeaderSize(size);
        header->SetBaseAddress(address);
        header->SetTableID(TableID);
        // What was held at the close: the header read now keeps the table's cached pages when
        // its counter and generation are still those (TTableHeader::ReadHeader).
        if (closed != FClosed.end() && closed->second.BaseAddress == address && closed->second.Bytes.size() == size)
            header->Restore(closed->second.Bytes, address, 0);
        header->ReadHeader();
    } catch (...) {
        delete header;
        throw;
    }
    if (closed != FClosed.end()) FClosed.erase(closed);
    header->SetUserCount(1);
    header->SetDirty(false);
    return header;
}

void TTableHeaderMgr::CloseTable(TTableHeader* Header) {
    if (!Header) OrqDatabaseError(8581, "TTableHeaderMgr.CloseTable", SorqObjectNotAssigned, this);
    Header->SetUserCount(Header->UserCount() - 1);
    if (Header->UserCount() > 0) return;
    // A failed write keeps the header (dirty, no users) for Close to try again.
    if (Header->Dirty()) Header->WriteHeader();
    const uint32_t id = Header->GetTableID();
    if (!Header->Forgotten() && Header->GetModifiedFlag() != 0)
        FClosed[id] = TClosedHeader{Header->BaseAddress(), Header->Buffer(), Header->Proof()};
    delete Header;
    if (FIOInterface) FIOInterface->NotifyTableClosed(id);
}

void TTableHeaderMgr::DebugDumpAllHeaders(TStrings* Lines) const {
    if (!Lines) return;
    Lines->Add("Current Headers");
    for (int i = 0; i < Count(); ++i) {
        Lines->Add("Header Item index=" + IntToStr(i));
        GetItems(i)->DebugDumpStatus(Lines);
    }
    Lines->Add("All Headers");
    bool emptySeen = false;
    for (int k = 0; k < CTableMapEntries; ++k) {
        const uint32_t id = MapTableID(k);
        if (id == 0) {
            emptySeen = true;
        } else if (emptySeen) {
            Lines->Add(Format("Eror. Found Table in map above 0 entry: ID = %d Addr=%d", {id, MapAddress(k)}));
        } else {
            Lines->Add(Format("Header MapPos=%d TableID=%d", {2 * k, id}));
        }
    }
}

}  // namespace ostra
