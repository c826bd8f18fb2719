// OstraBenchTable: the benchmarks' temporary folder and their table connection.
#include "bench/support/OstraBenchTable.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqGlobalHdr.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableHeader.h"

namespace ostra::bench {
namespace {

constexpr uint32_t PageSize = 4096;
constexpr int32_t TableID = 1;

}  // namespace

// ---------------------------------------------------------------------------------------------
// TOstraBenchTable

std::unique_ptr<TTableDef> TOstraBenchTable::MakeDef() const {
    auto def = std::make_unique<TTableDef>(nullptr);
    def->SetTableName(FTableName);
    for (std::size_t i = 0; i < FFieldList.size(); ++i) {
        const TBenchField& spec = FFieldList[i];
        TInternalFieldItem* field = def->InternalFields()->Add();
        field->SetFieldName(spec.Name);
        field->SetDataType(spec.Type);
        field->SetFieldNo(int32_t(i));
        field->SetFieldIndex(int32_t(i));
        if (spec.Type == ftString) {
            field->SetFieldSize(spec.Size);
            field->SetIsVariable(true);
        }
    }
    def->InternalFields()->SetDefaultOffsets();
    def->SetRecordSize(def->InternalFields()->RecordSize());
    bool primary = true;
    for (const TBenchIndex& spec : FIndexList) {
        TIndexRequest request;
        request.IndexName = spec.Name;
        request.Fields = spec.Fields;
        request.Unique = spec.Unique;
        request.Primary = spec.Unique && primary;
        primary = primary && !spec.Unique;
        DeriveIndexDef(request, false, false, *def->InternalFields(), *def->KeyFields(), *def->InternalIndexDefs(),
                       SorqIndexFmt, "bench", nullptr);
    }
    return def;
}

TOstraBenchTable::TOstraBenchTable(const std::string& Path, const std::string& TableName,
                                   const std::vector<TBenchField>& Fields, const std::vector<TBenchIndex>& Indexes,
                                   int32_t CachePages)
    : FPath(Path), FTableName(TableName), FFieldList(Fields), FIndexList(Indexes), FCachePages(CachePages) {
    {
        TDiskMgr creator;
        creator.SetFileName(Path);
        creator.SetPageSize(PageSize);
        creator.CreateNewFile(true);
    }
    Open(true);
}

TOstraBenchTable::~TOstraBenchTable() { Close(); }

void TOstraBenchTable::Reopen() {
    Close();
    Open(false);
}

void TOstraBenchTable::Open(bool Create) {
    FDisk.SetFileName(FPath);
    FDisk.SetPageSize(PageSize);
    FDisk.SetOpenFlags(fmOpenReadWrite | fmShareDenyNone);
    FDisk.File().SetCachePages(FCachePages);
    FDisk.Open();
    FHeaders.SetDiskMgr(&FDisk);
    FHeaders.SetBlockSize(CTableHeaderBlockSize);
    FHeaders.SetUsage(1);
    FHeaders.SetTableID(0);
    FHeaders.SetAccessFlags(0);
    FHeaders.SetIOMode(iomDiskFixedSize);
    FHeaders.SetGlobalFirstEmptyOffset(CHdrTableHeadersFirstEmpty);
    FHeaders.Open();
    FMgr.SetHdrDiskInterface(&FHeaders);
    FMgr.SetBaseDefMgrAddress(3 * PageSize);
    FMgr.Open();
    if (Create) FMgr.CreateTableDef(FTableName, MakeDef().get());
    FDef = MakeDef();
    FDef->SetTableID(TableID);
    FMgr.OpenTableDefConnection(FTableName, FDef.get());
    FRecords.Fields().Assign(FDef->InternalFields());
    FRecords.SetRecordSize(FDef->RecordSize());
    FRecords.Open(FDef->RecordInterface());
    FOffsets.clear();
    for (int i = 0; i < FRecords.Fields().Count(); ++i) {
        const TInternalFieldItem* field = FRecords.Fields().GetIndex(i);
        FOffsets.push_back({std::size_t(field->DataOffset()), std::size_t(field->NullFlagOffset()),
                            std::size_t(field->SizeMarkerOffset())});
    }
    FIndexes.SetDBStringCompareFunction(DBANSICompareStrings);
    FIndexes.Assign(FDef->InternalIndexDefs());
    FIndexes.AssignKeyFields(*FDef->KeyFields());
    FIndexes.SetIOInterface(FDef->IndexInterface());
    FIndexes.SetTableHeader(FDef->TableHeader());
    FIndexes.Open();
}

void TOstraBenchTable::Close() {
    FIndexes.Close();
    FRecords.Close();
    FMgr.CloseTableDefConnection(TableID);
    FMgr.Close();
    FHeaders.Close();
    FDisk.Close();
    FDef.reset();
}

void TOstraBenchTable::BeginWrite() {
    FDisk.DiskStartTransaction(false);
    FDisk.SetTableLock(TableID, CWriteLock);
    Header().ReadHeader();
    FIndexes.ReadIndexHeaders(true);
    FDef->RecordInterface()->SetFirstEmpty(Header().GetRecordFirstEmpty());
    FDef->RecordInterface()->SetFirstEmptyValid(true);
}

void TOstraBenchTable::Commit() {
    Header().SetRecordFirstEmpty(FDef->RecordInterface()->FirstEmpty());
    FIndexes.WriteIndexHeaders();
    if (Header().Dirty()) Header().WriteHeader();
    FDisk.DiskCommit();
}

void TOstraBenchTable::BeginRead() {
    FDisk.SetTableLock(TableID, CReadLock);
    Header().ReadHeader();
    FIndexes.ReadIndexHeaders(true);
}

void TOstraBenchTable::EndRead() { FDisk.ReleaseTableLock(TableID); }

std::vector<uint8_t> TOstraBenchTable::NewRecord() const { return std::vector<uint8_t>(std::size_t(FDef->RecordSize()), 0); }

void TOstraBenchTable::SetInteger(std::vector<uint8_t>& Rec, int Field, int32_t Value) const {
    const TFieldOffsets& at = FOffsets[std::size_t(Field)];
    std::memcpy(&Rec[at.Data], &Value, 4);
    Rec[at.NullFlag] = C_FIELDNOTNULL;
}

void TOstraBenchTable::SetFloat(std::vector<uint8_t>& Rec, int Field, double Value) const {
    const TFieldOffsets& at = FOffsets[std::size_t(Field)];
    std::memcpy(&Rec[at.Data], &Value, 8);
    Rec[at.NullFlag] = C_FIELDNOTNULL;
}

void TOstraBenchTable::SetString(std::vector<uint8_t>& Rec, int Field, std::string_view Value) const {
    const TFieldOffsets& at = FOffsets[std::size_t(Field)];
    const uint16_t length = uint16_t(Value.size());
    std::memcpy(&Rec[at.SizeMarker], &length, 2);
    std::memcpy(&Rec[at.Data], Value.data(), Value.size());
    Rec[at.NullFlag] = C_FIELDNOTNULL;
}

int32_t TOstraBenchTable::GetInteger(const uint8_t* Rec, int Field) const {
    int32_t value;
    std::memcpy(&value, Rec + FOffsets[std::size_t(Field)].Data, 4);
    return value;
}

double TOstraBenchTable::GetFloat(const uint8_t* Rec, int Field) const {
    double value;
    std::memcpy(&value, Rec + FOffsets[std::size_t(Field)].Data, 8);
    return value;
}

uint32_t TOstraBenchTable::Insert(std::vector<uint8_t>& Rec) {
    const uint32_t logical = Header().GetLogicalRecordNo() + 1;
    Header().SetLogicalRecordNo(logical);
    const uint32_t owner = uint32_t(TableID) << 4 | C_RECORDUSAGE;
    Rec[C_RECINUSEOFFSET] = 1;
    std::memcpy(&Rec[C_RECOWNEROFFSET], &owner, 4);
    std::memcpy(&Rec[C_RECLOGICALNOOFFSET], &logical, 4);
    for (int i = 0; i < FIndexes.Count(); ++i) {
        TIndexItem& index = Index(i);
        index.CreateKeyBuffer(Rec.data(), nullptr);
        if (index.FullIndexSearch(stEQ) == 0) throw std::runtime_error("duplicate key in " + index.IndexName());
    }
    const uint32_t address = FRecords.AddRecord(Rec.data());
    for (int i = 0; i < FIndexes.Count(); ++i)
        if (Index(i).InsertKey(address) != 0) throw std::runtime_error("insert refused by " + Index(i).IndexName());
    return address;
}

void TOstraBenchTable::Delete(uint32_t Address, const uint8_t* Rec) {
    for (int i = 0; i < FIndexes.Count(); ++i) {
        TIndexItem& index = Index(i);
        index.CreateKeyBuffer(Rec, nullptr);
        if (index.FullIndexSearch(stEQ) != 0 || index.GetRecordAddress() != Address)
            throw std::runtime_error("key not found in " + index.IndexName());
        if (index.DeleteKey() != 0) throw std::runtime_error("delete refused by " + index.IndexName());
    }
    FRecords.DeleteRecord(Address);
}

}  // namespace ostra::bench
