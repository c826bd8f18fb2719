// orqTableMgrUnit: TTableDef (its published properties, copy, clear, repair and the opening of
// a master's storages) and the disk and memory registries of open tables. The header holds the
// contracts and the life of a master definition; this file holds how each step is done and
// why the failure paths give back what they took.
#include "engine/storage/orqTableMgrUnit.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <unordered_set>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqKeyEntry.h"
#include "engine/storage/orqNode.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqTableHeader.h"
#include "host/Collation.h"
#include "host/ComponentText.h"
#include "host/PropertyRegistry.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "platform/Random.h"

namespace ostra {

namespace {

const char* const kSortOrderIdents[] = {"soANSI", "soASCII"};
const char* const kEncryptionLevelIdents[] = {"encNone", "encWeak", "encStrong"};

// The stored form: this order is a file format (see the header).
[[maybe_unused]] const bool kPublished =
    Publish<TTableDef, TComponent>()
        .Integer("TableID", &TTableDef::TableID, &TTableDef::SetTableID)
        .Cardinal("OwnerFlag", &TTableDef::OwnerFlag, &TTableDef::SetOwnerFlag)
        .String("TableName", &TTableDef::TableName, &TTableDef::SetTableName)
        .String("AltName", &TTableDef::AltName, &TTableDef::SetAltName)
        .String("Version", &TTableDef::Version, &TTableDef::SetVersion)
        .String("OS", &TTableDef::OS, &TTableDef::SetOS)
        .DateTime("CreationDate", &TTableDef::CreationDate, &TTableDef::SetCreationDate)
        .DateTime("LastModDate", &TTableDef::LastModDate, &TTableDef::SetLastModDate)
        .String("CreatedBy", &TTableDef::CreatedBy, &TTableDef::SetCreatedBy)
        .String("Password", &TTableDef::Password, &TTableDef::SetPassword)
        .Boolean("Encrypted", &TTableDef::Encrypted, &TTableDef::SetEncrypted)
        .Integer("SecurityLevel", &TTableDef::SecurityLevel, &TTableDef::SetSecurityLevel)
        .Boolean("Memory", &TTableDef::Memory, &TTableDef::SetMemory)
        .Integer("RecordSize", &TTableDef::RecordSize, &TTableDef::SetRecordSize)
        .Integer("DefaultBlobSize", &TTableDef::DefaultBlobSize, &TTableDef::SetDefaultBlobSize)
        .Boolean("UsesBlobs", &TTableDef::UsesBlobs, &TTableDef::SetUsesBlobs)
        .Enum("SortOrder", &TTableDef::SortOrder, &TTableDef::SetSortOrder, kSortOrderIdents)
        .Boolean("InternalTable", &TTableDef::InternalTable, &TTableDef::SetInternalTable)
        .Enum("EncryptionLevel", &TTableDef::EncryptionLevel, &TTableDef::SetEncryptionLevel,
              kEncryptionLevelIdents)
        .Collection("KeyFields", &TTableDef::KeyFields)
        .Collection("InternalFields", &TTableDef::InternalFields)
        .Collection("InternalIndexDefs", &TTableDef::InternalIndexDefs)
        .Boolean("BlobCompression", &TTableDef::BlobCompression, &TTableDef::SetBlobCompression);

// A new empty index root: a 4096-byte leaf page without entries.
uint32_t AllocateEmptyRoot(TBaseIOInterface& IO) {
    std::vector<uint8_t> page(C_INDEXROOTPAGESIZE, 0);
    Store32(page.data() + C_NODETYPEOFFSET, ntLeaf);
    return IO.AllocateNewAddress(C_INDEXROOTPAGESIZE, page.data());
}

// Zeroes root and depth of every header slot from First on (the whole block, not only the
// slots below IndexCount, so no slot keeps the address of a page that is freed), then sets
// IndexCount.
void ClearIndexSlotsFrom(TTableHeader& Header, int First, uint32_t IndexCount) {
    const uint32_t size = uint32_t(Header.Buffer().size());
    const uint32_t slots = size < CThIndexBase ? 0 : (size - CThIndexBase) / CThIndexSlotSize;
    Header.SetIndexCount(slots);
    for (uint32_t k = uint32_t(std::max(First, 0)); k < slots; ++k) {
        Header.SetIndexRoot(int(k), 0);
        Header.SetIndexDepth(int(k), 0);
    }
    Header.SetIndexCount(IndexCount);
}

// Field generator ids identify fields (privileges name fields by them), so two fields of one
// table must not share one. Kept fields (those whose id is already in use elsewhere, such as
// stored privileges) keep theirs; among the rest, the first field with an id keeps it and a
// later one with the same id draws a new random id until it is unused.
void MakeFieldGeneratorIDsUnique(TInternalFields& Fields,
                                 const std::function<bool(const TInternalFieldItem&)>& Kept) {
    std::unordered_set<int32_t> used;
    std::vector<TInternalFieldItem*> redraw;
    for (bool keptPass : {true, false})
        for (int i = 0; i < Fields.Count(); ++i) {
            TInternalFieldItem* field = Fields.GetIndex(i);
            const bool kept = Kept && Kept(*field);
            if (kept != keptPass) continue;
            if (!used.insert(field->FieldGeneratorID()).second) redraw.push_back(field);
        }
    for (TInternalFieldItem* field : redraw) {
        int32_t id;
        do id = platform::Random(2147483647);
        while (!used.insert(id).second);
        field->SetFieldGeneratorID(id);
    }
}

// Sets IO up as the index storage of a table on DiskMgr: blocks of IndexPageSize bytes (usage 8,
// the table's id and access flags), each in whole pages of its own (orqInterfaceUnit.h), so
// that every index page belongs to this table alone and goes with it.
void SetUpDiskIndexStorage(TDiskIOInterface& IO, TDiskMgr* DiskMgr, int32_t TableID, TEncryptionLevel Level,
                           uint32_t IndexPageSize) {
    IO.SetDiskMgr(DiskMgr);
    IO.SetIOMode(iomDiskFixedSize);
    IO.SetWholePages(true);
    IO.SetKeptInCache(true);
    IO.SetBlockSize(IndexPageSize);
    IO.SetUsage(C_INDEXUSAGE);
    IO.SetTableID(uint16_t(TableID));
    IO.SetAccessFlags(TableAccessFlags(Level));
}

// True for the change classes that touch stored data (dcAdded .. dcDataLoss).
bool StructureChanged(TDefChangeType Status) {
    return Status >= dcAdded;
}

// Runs Step, keeping the first failure in Failure instead of raising it.
void Collect(std::exception_ptr& Failure, const std::function<void()>& Step) {
    try {
        Step();
    } catch (...) {
        if (!Failure) Failure = std::current_exception();
    }
}

}  // namespace

uint32_t TableAccessFlags(TEncryptionLevel Level) {
    switch (Level) {
        case encStrong:
            return 5;
        case encWeak:
            return 3;
        default:
            return 1;
    }
}

// ---------------------------------------------------------------------------------------------
// TTableDef

TTableDef::TTableDef(TComponent* AOwner)
    : TComponent(AOwner),
      FInternalFields(std::make_unique<TInternalFields>(this)),
      FKeyFields(std::make_unique<TKeyFields>(this)),
      FInternalIndexDefs(std::make_unique<TInternalIndexDefs>(this)) {}

TTableDef::~TTableDef() {
    try {
        InternalClose();
    } catch (...) {
    }
}

void TTableDef::Assign(const TPersistent* Source) {
    const auto* src = dynamic_cast<const TTableDef*>(Source);
    if (!src) {
        TComponent::Assign(Source);
        return;
    }
    if (src == this) return;
    FTableID = src->FTableID;
    FTableName = src->FTableName;
    FVersion = src->FVersion;
    FOS = src->FOS;
    FCreationDate = src->FCreationDate;
    FCreatedBy = src->FCreatedBy;
    FEncrypted = src->FEncrypted;
    FEncryptionLevel = src->FEncryptionLevel;
    FPassword = src->FPassword;
    FMemory = src->FMemory;
    FInternalFields->Assign(src->FInternalFields.get());
    FKeyFields->Assign(src->FKeyFields.get());
    FInternalIndexDefs->Assign(src->FInternalIndexDefs.get());
    FRecordSize = src->FRecordSize;
    FUsesBlobs = src->FUsesBlobs;
    FDefaultBlobSize = src->FDefaultBlobSize;
    FSortOrder = src->FSortOrder;
    FAltName = src->FAltName;
    FPrivilegeFlags = src->FPrivilegeFlags;
    FBlobCompression = src->FBlobCompression;
}

void TTableDef::Clear() {
    if (FMasterDef) OrqDatabaseError(8577, "TTableDef.Clear", FTableName, nullptr);
    InternalClose();
    FTableHeader = nullptr;
    FMasterDef = false;
    FUserCount = 0;
    FActive = false;
    FTableID = 0;
    FOwnerFlag = 0;
    FTableName.clear();
    FVersion.clear();
    FOS.clear();
    FCreatedBy.clear();
    FPassword.clear();
    FCreationDate = 0;
    FEncryptionLevel = encNone;
    FMemory = false;
    FInternalFields->Clear();
    FKeyFields->Clear();
    FInternalIndexDefs->Clear();
    FRecordSize = 0;
    FDefaultBlobSize = int32_t(CDefaultBlobBlockSize);
    FUsesBlobs = false;
}

bool TTableDef::Validate() {
    const TInternalIndexDef* spare = nullptr;
    for (int i = 0; i < FInternalIndexDefs->Count() && !spare; ++i) {
        const TInternalIndexDef* def = FInternalIndexDefs->GetItems(i);
        if (FKeyFields->FindFieldCountForIndex(def->IndexName()) == 0) spare = def;
    }
    if (!spare) return true;
    for (int k = FKeyFields->Count() - 1; k >= 0; --k) {
        TKeyFieldItem* key = FKeyFields->GetIndex(k);
        if (!FInternalIndexDefs->FindIndexDef(key->IndexName())) key->SetIndexName(spare->IndexName());
    }
    return true;
}

void TTableDef::InternalOpen(TDiskMgr* DiskMgr) {
    if (!FTableHeader) OrqDatabaseError(8576, "TableDef.InternalOpen", FTableName, nullptr);
    if (!FMasterDef || FActive) return;

    if (FRecordSize == 0) {
        FInternalFields->SetDefaultOffsets();
        FRecordSize = FInternalFields->RecordSize();
    }
    const uint32_t indexPageSize =
        FInternalIndexDefs->Count() > 0 && FInternalIndexDefs->GetItems(0)->IndexPageSize() != 0
            ? FInternalIndexDefs->GetItems(0)->IndexPageSize()
            : C_INDEXROOTPAGESIZE;

    std::unique_ptr<TBaseIOInterface> index, blob, record;
    if (FMemory) {
        index = std::make_unique<TMemoryIOInterface>();
        blob = std::make_unique<TMemoryIOInterface>();
        record = std::make_unique<TMemoryIOInterface>();
        for (TBaseIOInterface* io : {index.get(), blob.get(), record.get()}) io->SetIOMode(iomMemory);
        index->SetBlockSize(C_INDEXROOTPAGESIZE);
    } else {
        auto diskIndex = std::make_unique<TDiskIOInterface>();
        auto diskBlob = std::make_unique<TDiskIOInterface>();
        auto diskRecord = std::make_unique<TDiskIOInterface>();
        SetUpDiskIndexStorage(*diskIndex, DiskMgr, FTableID, FEncryptionLevel, indexPageSize);
        for (TDiskIOInterface* io : {diskBlob.get(), diskRecord.get()}) {
            io->SetDiskMgr(DiskMgr);
            io->SetIOMode(iomDiskFixedSize);
        }
        // The record and blob managers mark these valid when they take them over.
        diskBlob->SetFirstEmpty(FTableHeader->GetBlobFirstEmpty());
        diskRecord->SetFirstEmpty(FTableHeader->GetRecordFirstEmpty());
        index = std::move(diskIndex);
        blob = std::move(diskBlob);
        record = std::move(diskRecord);
    }
    blob->SetBlockSize(uint32_t(FDefaultBlobSize));
    record->SetBlockSize(uint32_t(FRecordSize));
    const std::pair<TBaseIOInterface*, uint16_t> usages[] = {
        {index.get(), C_INDEXUSAGE}, {blob.get(), C_BLOBUSAGE}, {record.get(), uint16_t(C_RECORDUSAGE)}};
    for (auto [io, usage] : usages) {
        io->SetTableID(uint16_t(FTableID));
        io->SetUsage(usage);
        io->SetAccessFlags(TableAccessFlags(FEncryptionLevel));
    }
    // A failure from here on frees the storages (their destructors close them) and leaves the
    // definition inactive.
    index->Open();
    if (FUsesBlobs) blob->Open();
    record->Open();
    if (FMemory) {
        for (int i = 0; i < FInternalIndexDefs->Count(); ++i) {
            FTableHeader->SetIndexRoot(i, AllocateEmptyRoot(*index));
            FTableHeader->SetIndexDepth(i, 1);
        }
        FTableHeader->WriteHeader();
    }
    FOwnedIndex = std::move(index);
    FOwnedBlob = std::move(blob);
    FOwnedRecord = std::move(record);
    FIndexInterface = FOwnedIndex.get();
    FBlobInterface = FOwnedBlob.get();
    FRecordInterface = FOwnedRecord.get();
    FActive = true;
}

void TTableDef::InternalClose() {
    std::exception_ptr failure;
    if (FActive && FMasterDef)
        for (TBaseIOInterface* io : {FOwnedIndex.get(), FOwnedBlob.get(), FOwnedRecord.get()})
            if (io) Collect(failure, [io] { io->Close(); });
    FIndexInterface = nullptr;
    FBlobInterface = nullptr;
    FRecordInterface = nullptr;
    FOwnedIndex.reset();
    FOwnedBlob.reset();
    FOwnedRecord.reset();
    FActive = false;
    if (failure) std::rethrow_exception(failure);
}

void TTableDef::DebugSetDefs() {
    static constexpr char Caller[] = "TTableDef.DebugSetDefs";
    FInternalFields->Clear();
    FKeyFields->Clear();
    FInternalIndexDefs->Clear();
    struct Sample {
        const char* Name;
        TFieldType Type;
        int32_t Size;
    };
    // Str1 holds 69 characters: 14 + 3 null flags + 4 + (2 + 70) + 8 = 101 bytes a record.
    const Sample samples[] = {{"Int1", ftInteger, 0}, {"Str1", ftString, 70}, {"Date1", ftDate, 0}};
    for (const Sample& sample : samples) {
        TInternalFieldItem* field = FInternalFields->Add();
        field->SetFieldName(sample.Name);
        field->SetDataType(sample.Type);
        if (sample.Size) field->SetFieldSize(sample.Size);
        field->SetIsVariable(sample.Type == ftString);
        field->SetFieldNo(field->Index());
        field->SetFieldIndex(field->Index());
    }
    FInternalFields->SetDefaultOffsets();
    FInternalFields->Open();
    FRecordSize = FInternalFields->RecordSize();
    FUsesBlobs = FInternalFields->UsesBlobs();

    TIndexRequest one;
    one.IndexName = "one";
    one.Fields = "Int1";
    one.Primary = true;
    DeriveIndexDef(one, false, FMemory, *FInternalFields, *FKeyFields, *FInternalIndexDefs, SorqIndexFmt,
                   Caller, this);
    TIndexRequest two;
    two.IndexName = "two";
    two.Fields = "Str1";
    two.Unique = true;
    DeriveIndexDef(two, true, FMemory, *FInternalFields, *FKeyFields, *FInternalIndexDefs, SorqIndexFmt,
                   Caller, this);
}

std::string TTableDef::SaveToText() const {
    return ComponentToText(this);
}

void TTableDef::LoadFromText(const std::string& Text) {
    ResetStoredProperties();
    TextToComponent(Text, this);
    // A field item that names no type keeps ftUnknown, which no record holds and which cannot
    // be written and read back: such a definition is refused as it is read.
    for (int i = 0; i < FInternalFields->Count(); ++i) {
        const TInternalFieldItem* field = FInternalFields->GetIndex(i);
        if (!IsRecordFieldType(field->DataType()))
            OrqDatabaseError(10000, "TTableDef.LoadFromText",
                             field->FieldName() + ": " + FieldTypeName(field->DataType()), this);
    }
}

void TTableDef::CopyStoredProperties(const TTableDef& Source) {
    if (&Source == this) return;
    ResetStoredProperties();
    if (Name() != Source.Name()) SetName(Source.Name());
    SetTag(Source.Tag());
    FTableID = Source.FTableID;
    FOwnerFlag = Source.FOwnerFlag;
    FTableName = Source.FTableName;
    FAltName = Source.FAltName;
    FVersion = Source.FVersion;
    FOS = Source.FOS;
    FCreationDate = Source.FCreationDate;
    FLastModDate = Source.FLastModDate;
    FCreatedBy = Source.FCreatedBy;
    FPassword = Source.FPassword;
    FEncrypted = Source.FEncrypted;
    FSecurityLevel = Source.FSecurityLevel;
    FMemory = Source.FMemory;
    FRecordSize = Source.FRecordSize;
    FDefaultBlobSize = Source.FDefaultBlobSize;
    FUsesBlobs = Source.FUsesBlobs;
    FSortOrder = Source.FSortOrder;
    FInternalTable = Source.FInternalTable;
    FEncryptionLevel = Source.FEncryptionLevel;
    FKeyFields->Assign(Source.FKeyFields.get());
    FInternalFields->Assign(Source.FInternalFields.get());
    FInternalIndexDefs->Assign(Source.FInternalIndexDefs.get());
    FBlobCompression = Source.FBlobCompression;
}

void TTableDef::ResetStoredProperties() {
    SetTag(0);
    FTableID = 0;
    FOwnerFlag = 0;
    FTableName.clear();
    FAltName.clear();
    FVersion.clear();
    FOS.clear();
    FCreationDate = 0;
    FLastModDate = 0;
    FCreatedBy.clear();
    FPassword.clear();
    FEncrypted = false;
    FSecurityLevel = 0;
    FMemory = false;
    FRecordSize = 0;
    FDefaultBlobSize = int32_t(CDefaultBlobBlockSize);
    FUsesBlobs = false;
    FSortOrder = soANSI;
    FInternalTable = false;
    FEncryptionLevel = encNone;
    FKeyFields->Clear();
    FInternalFields->Clear();
    FInternalIndexDefs->Clear();
    FBlobCompression = false;
}

// ---------------------------------------------------------------------------------------------
// TBaseTableDefMgr

TBaseTableDefMgr::TBaseTableDefMgr() = default;

TBaseTableDefMgr::~TBaseTableDefMgr() {
    try {
        TBaseTableDefMgr::Close();
    } catch (...) {
    }
}

void TBaseTableDefMgr::Close() {
    FreeAllMasters();
}

int TBaseTableDefMgr::IndexOfTableName(const std::string& Name) const {
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(TableDefs(i)->TableName(), Name) == 0) return i;
    return -1;
}

int TBaseTableDefMgr::IndexOfTableDef(int32_t TableID) const {
    for (int i = 0; i < Count(); ++i)
        if (TableDefs(i)->TableID() == TableID) return i;
    return -1;
}

int TBaseTableDefMgr::CheckTableUserCount(const std::string& Name) const {
    const int position = IndexOfTableName(Name);
    return position < 0 ? 0 : TableDefs(position)->UserCount();
}

void TBaseTableDefMgr::GetCurrentTableNames(TStrings* List) const {
    if (!List) return;
    for (int i = 0; i < Count(); ++i) List->Add(TableDefs(i)->TableName());
}

TTableHeaderMgr& TBaseTableDefMgr::RequireHeaderMgr(const char* Caller) {
    if (!FHeaderMgr) OrqDatabaseError(8576, Caller, "", nullptr);
    return *FHeaderMgr;
}

std::unique_ptr<TTableDef> TBaseTableDefMgr::NewMaster(const TTableDef& Def, int32_t TableID) const {
    auto master = std::make_unique<TTableDef>(nullptr);
    master->Assign(&Def);
    master->SetMasterDef(true);
    master->SetTableID(TableID);
    master->SetOwnerFlag(uint32_t(TableID) << 4);
    return master;
}

TTableDef* TBaseTableDefMgr::Register(std::unique_ptr<TTableDef> Master) {
    FTableDefs.push_back(std::move(Master));
    return FTableDefs.back().get();
}

void TBaseTableDefMgr::FreeMaster(int Position) {
    std::unique_ptr<TTableDef> master = std::move(FTableDefs[size_t(Position)]);
    FTableDefs.erase(FTableDefs.begin() + Position);
    std::exception_ptr failure;
    Collect(failure, [&] { master->InternalClose(); });
    if (TTableHeader* header = master->TableHeader()) {
        master->SetTableHeader(nullptr);
        if (FHeaderMgr) Collect(failure, [&] { FHeaderMgr->CloseTable(header); });
    }
    master->SetMasterDef(false);
    master.reset();
    if (failure) std::rethrow_exception(failure);
}

void TBaseTableDefMgr::FreeAllMasters() {
    std::exception_ptr failure;
    while (!FTableDefs.empty()) Collect(failure, [&] { FreeMaster(Count() - 1); });
    if (failure) std::rethrow_exception(failure);
}

int TBaseTableDefMgr::InternalCreateTableDef(const std::string& Name, TTableDef* Def, const char* Caller,
                                             bool MemoryArea,
                                             const std::function<void(int32_t TableID)>& Install) {
    Assert(Def != nullptr, "CreateTableDef: Def is nil");
    if (Def->Memory() != MemoryArea) OrqDatabaseError(8577, Caller, Name, nullptr);
    if (IndexOfTableName(Name) >= 0) OrqDatabaseError(8580, Caller, Name, nullptr);
    TTableHeaderMgr& headers = RequireHeaderMgr(Caller);
    MakeFieldGeneratorIDsUnique(*Def->InternalFields(), nullptr);
    const int32_t tableID = headers.AddTable(Def->InternalIndexDefs()->Count());
    try {
        Install(tableID);
    } catch (...) {
        try {
            headers.DeleteTable(uint32_t(tableID));
        } catch (...) {
        }
        throw;
    }
    return 0;
}

int TBaseTableDefMgr::InternalDeleteTableDef(const std::string& Name, TTableDef* Def, const char* Caller) {
    Assert(Def != nullptr, "DeleteTableDef: Def is nil");
    TTableHeaderMgr& headers = RequireHeaderMgr(Caller);
    int32_t tableID = Def->TableID();
    const int position = IndexOfTableName(Name);
    if (position >= 0) {
        TTableDef* master = TableDefs(position);
        // The caller's own connection may still be counted; any other one keeps the table in
        // use. Checked before anything changes, so a refused delete leaves the count as it was.
        if (master->UserCount() > 1) OrqDatabaseError(8578, Caller, Name, nullptr);
        if (tableID == 0) tableID = master->TableID();
        master->SetUserCount(0);
        FreeMaster(position);
    }
    // A header still open through another road would keep the address of the freed block.
    if (headers.FindHdrItemByID(uint32_t(tableID))) OrqDatabaseError(8578, Caller, Name, nullptr);
    headers.DeleteTable(uint32_t(tableID));
    Def->SetTableHeader(nullptr);
    Def->SetIndexInterface(nullptr);
    Def->SetBlobInterface(nullptr);
    Def->SetRecordInterface(nullptr);
    Def->SetTableID(0);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// TDiskTableDefMgr

TDiskTableDefMgr::TDiskTableDefMgr() = default;

TDiskTableDefMgr::~TDiskTableDefMgr() {
    try {
        Close();
    } catch (...) {
    }
    SetHeaderMgr(nullptr);
}

TDiskMgr& TDiskTableDefMgr::RequireDiskMgr(const char* Caller) {
    if (!FHdrDiskInterface || !FHdrDiskInterface->DiskMgr()) OrqDatabaseError(8576, Caller, "", nullptr);
    return *FHdrDiskInterface->DiskMgr();
}

void TDiskTableDefMgr::InternalInitHeaderMgr() {
    static constexpr char Caller[] = "TDiskTableDefMgr.InternalInitHeaderMgr";
    if (!FHdrDiskInterface) OrqDatabaseError(8579, Caller, "", nullptr);
    if (FBaseDefMgrAddress == 0) OrqDatabaseError(8576, Caller, "", nullptr);
    if (!FOwnedHeaderMgr) {
        auto headers = std::make_unique<TTableHeaderMgr>();
        headers->SetBaseAddress(FBaseDefMgrAddress);
        headers->SetBaseTableID(SystemTableMgr() ? C_FIRSTSYSTEMTABLEID : C_FIRSTUSERTABLEID);
        FOwnedHeaderMgr = std::move(headers);
    }
    SetHeaderMgr(FOwnedHeaderMgr.get());
    FOwnedHeaderMgr->Open(FHdrDiskInterface);
}

void TDiskTableDefMgr::Open() {
    Close();
    InternalInitHeaderMgr();
}

void TDiskTableDefMgr::Close() {
    std::exception_ptr failure;
    Collect(failure, [this] { FreeAllMasters(); });
    if (FOwnedHeaderMgr) Collect(failure, [this] { FOwnedHeaderMgr->Close(); });
    if (failure) std::rethrow_exception(failure);
}

void TDiskTableDefMgr::InitializeIndexInterface(TTableDef* Def) {
    static constexpr char Caller[] = "TDiskTableDefMgr.InitializeIndexInterface";
    Assert(Def != nullptr, "InitializeIndexInterface: Def is nil");
    TTableHeaderMgr& headers = RequireHeaderMgr(Caller);
    TDiskMgr& disk = RequireDiskMgr(Caller);
    TTableHeader* header = headers.OpenTable(uint32_t(Def->TableID()));

    // The same access flags as the table's own index storage (InternalOpen): pages written
    // here with other flags would bypass the page cache inside a transaction, and reads through
    // the cache would not see them.
    TDiskIOInterface io;
    SetUpDiskIndexStorage(io, &disk, Def->TableID(), Def->EncryptionLevel(), C_INDEXROOTPAGESIZE);

    std::vector<uint32_t> roots;
    try {
        io.Open();
        for (int i = 0; i < Def->InternalIndexDefs()->Count(); ++i) {
            roots.push_back(AllocateEmptyRoot(io));
            header->SetIndexRoot(i, roots.back());
            header->SetIndexDepth(i, 1);
        }
        header->WriteHeader();
    } catch (...) {
        // The roots go back and the header is dropped unwritten, so the stored header never
        // names a page that is free.
        for (uint32_t root : roots) {
            try {
                io.ReleaseBlock(root, C_INDEXROOTPAGESIZE);
            } catch (...) {
            }
        }
        header->SetDirty(false);
        try {
            headers.CloseTable(header);
        } catch (...) {
        }
        throw;
    }
    io.Close();
    headers.CloseTable(header);
}

int TDiskTableDefMgr::CreateTableDef(const std::string& Name, TTableDef* Def) {
    return InternalCreateTableDef(Name, Def, "TDiskTableDefMgr.CreateTableDef", false, [&](int32_t TableID) {
        std::unique_ptr<TTableDef> master = NewMaster(*Def, TableID);
        InitializeIndexInterface(master.get());
        Def->SetTableID(TableID);
        Register(std::move(master));
    });
}

void TDiskTableDefMgr::OpenTableDefConnection(const std::string& Name, TTableDef* Def) {
    static constexpr char Caller[] = "TDiskTableDefMgr.OpenTableDefConnection";
    Assert(Def != nullptr, "OpenTableDefConnection: Def is nil");
    TTableHeaderMgr& headers = RequireHeaderMgr(Caller);
    int position = IndexOfTableName(Name);
    const bool registeredHere = position < 0;
    if (registeredHere) {
        std::unique_ptr<TTableDef> master = NewMaster(*Def, Def->TableID());
        master->SetTableHeader(headers.OpenTable(uint32_t(Def->TableID())));
        Register(std::move(master));
        position = Count() - 1;
    }
    TTableDef* master = TableDefs(position);
    if (!master->Active()) {
        bool headerOpened = false;
        try {
            if (!master->TableHeader()) {
                master->SetTableHeader(headers.OpenTable(uint32_t(master->TableID())));
                headerOpened = true;
            }
            master->InternalOpen(&RequireDiskMgr(Caller));
        } catch (...) {
            if (registeredHere) {
                try {
                    FreeMaster(position);
                } catch (...) {
                }
            } else if (headerOpened) {
                TTableHeader* header = master->TableHeader();
                master->SetTableHeader(nullptr);
                try {
                    headers.CloseTable(header);
                } catch (...) {
                }
            }
            throw;
        }
    }
    Def->SetRecordInterface(master->RecordInterface());
    Def->SetBlobInterface(master->BlobInterface());
    Def->SetIndexInterface(master->IndexInterface());
    Def->SetTableHeader(master->TableHeader());
    master->SetUserCount(master->UserCount() + 1);
}

void TDiskTableDefMgr::CloseTableDefConnection(int32_t TableID) {
    static constexpr char Caller[] = "TDiskTableDefMgr.CloseTableDefConnection";
    const int position = IndexOfTableDef(TableID);
    if (position < 0) OrqDatabaseError(8579, Caller, IntToStr(TableID), nullptr);
    TTableDef* master = TableDefs(position);
    master->SetUserCount(std::max(master->UserCount() - 1, 0));
    if (master->UserCount() == 0) FreeMaster(position);
}

void TDiskTableDefMgr::ForgetUnusedTables() {
    std::exception_ptr failure;
    for (int position = Count() - 1; position >= 0; --position)
        if (TableDefs(position)->UserCount() == 0) Collect(failure, [&] { FreeMaster(position); });
    if (failure) std::rethrow_exception(failure);
}

int TDiskTableDefMgr::DeleteTableDef(const std::string& Name, TTableDef* Def) {
    return InternalDeleteTableDef(Name, Def, "TDiskTableDefMgr.DeleteTableDef");
}

void TDiskTableDefMgr::RestructureTableDef(TTableDef* Def, TInternalRestructureRecord& Request) {
    static constexpr char Caller[] = "TDiskTableDefMgr.RestructureTableDef";
    Assert(Def != nullptr, "RestructureTableDef: Def is nil");
    if (Def->Memory()) OrqDatabaseError(8577, Caller, Def->TableName(), nullptr);
    if (!Request.NewFieldDefs)
        OrqDatabaseErrorFmt(8576, Caller, SorqValueInvalidFmt, {"RestructureDetails.NewFieldDefs"}, nullptr);
    if (!Request.NewIndexDefs)
        OrqDatabaseErrorFmt(8576, Caller, SorqValueInvalidFmt, {"RestructureDetails.NewIndexDefs"}, nullptr);
    TTableHeader* header = Def->TableHeader();
    if (!header || !Def->IndexInterface() || !Def->RecordInterface())
        OrqDatabaseError(8576, Caller, Def->TableName(), nullptr);

    const bool fieldsChanged = StructureChanged(Request.NewFieldDefs->ChangeStatus());
    const bool indexesChanged = StructureChanged(Request.NewIndexDefs->ChangeStatus());
    if (fieldsChanged || indexesChanged) {
        // Other connections read the table through the storages and layout about to be
        // replaced.
        const int position = IndexOfTableDef(Def->TableID());
        if (position >= 0 && TableDefs(position)->UserCount() > 1)
            OrqDatabaseError(8578, Caller, Def->TableName(), nullptr);
    }

    // Fields that continue an existing one keep their generator id (the request saved it);
    // a new field whose random id collides draws again.
    const TRestructureFieldDefs& requested = *Request.NewFieldDefs;
    MakeFieldGeneratorIDsUnique(*Def->InternalFields(), [&requested](const TInternalFieldItem& Field) {
        const TRestructureFieldDef* item = requested.Find(Field.FieldName());
        return item && !item->SourceFieldName().empty();
    });

    const int defCount = Def->InternalIndexDefs()->Count();
    const uint32_t headerSize = uint32_t(CalcTableHeaderSize(Request.NewIndexDefs->Count()));
    // The header describes the definition's indexes; the definition built from the request
    // has as many as requested, or the one default index when none was.
    const uint32_t indexCount = uint32_t(std::max(defCount, 1));
    const uint32_t autoInc =
        Request.ResetAutoInc ? uint32_t(Request.AutoIncValue) : header->GetRecordAutoIncVal();
    const uint32_t generator1 = Request.ResetGenerator1 ? Request.Generator1Value : header->GetGenerator1();
    const uint32_t generator2 = Request.ResetGenerator2 ? Request.Generator2Value : header->GetGenerator2();

    if (fieldsChanged || indexesChanged) {
        // The change counter keeps counting and the generation stays, so every connection sees
        // the change and no later table under this identifier can pass for this one.
        const uint32_t modified = header->GetModifiedFlag();
        const uint32_t generation = header->GetGeneration();
        header->ResetHeaderSize(headerSize, fieldsChanged);
        header->SetModifiedFlag(modified);
        header->SetGeneration(generation);
        header->SetIndexCount(indexCount);
        header->SetTableID(uint32_t(Def->TableID()));
    }
    header->SetRecordAutoIncVal(autoInc);
    header->SetGenerator1(generator1);
    header->SetGenerator2(generator2);

    if (!fieldsChanged && !indexesChanged) {
        header->WriteHeader();
        return;
    }
    // The old trees go in both cases (the table's index pages hold nothing else); a field change
    // also frees every record and blob page.
    TBaseIOInterface& indexes = *Def->IndexInterface();
    indexes.Empty(true);
    if (fieldsChanged) {
        Def->RecordInterface()->Empty(true);
        if (Def->BlobInterface()) Def->BlobInterface()->Empty(true);
    }

    for (int i = 0; i < defCount; ++i) {
        header->SetIndexRoot(i, AllocateEmptyRoot(indexes));
        header->SetIndexDepth(i, 1);
    }
    ClearIndexSlotsFrom(*header, defCount, indexCount);
    header->WriteHeader();
}

// ---------------------------------------------------------------------------------------------
// TMemoryTableDefMgr

TMemoryTableDefMgr::TMemoryTableDefMgr() = default;

TMemoryTableDefMgr::~TMemoryTableDefMgr() {
    try {
        Close();
    } catch (...) {
    }
    SetHeaderMgr(nullptr);
}

void TMemoryTableDefMgr::InternalInitHeaderMgr() {
    if (FOwnedHeaderMgr) return;
    auto storage = std::make_unique<TMemoryIOInterface>();
    storage->SetIOMode(iomMemory);
    storage->SetBlockSize(C_MEMORYHEADERBLOCKSIZE);
    storage->SetUsage(1);
    storage->Open();
    const std::vector<uint8_t> map(CTableMapSize, 0);
    const uint32_t mapAddress = storage->AllocateNewAddress(CTableMapSize, map.data());
    auto headers = std::make_unique<TTableHeaderMgr>();
    headers->SetBaseAddress(mapAddress);
    headers->SetBaseTableID(SystemTableMgr() ? C_FIRSTSYSTEMTABLEID : C_FIRSTUSERTABLEID);
    headers->Open(storage.get());
    FHeaderStorage = std::move(storage);
    FOwnedHeaderMgr = std::move(headers);
    SetHeaderMgr(FOwnedHeaderMgr.get());
}

void TMemoryTableDefMgr::Open() {
    Close();
    InternalInitHeaderMgr();
}

void TMemoryTableDefMgr::Close() {
    std::exception_ptr failure;
    Collect(failure, [this] { FreeAllMasters(); });
    if (FOwnedHeaderMgr) Collect(failure, [this] { FOwnedHeaderMgr->Close(); });
    SetHeaderMgr(nullptr);
    FOwnedHeaderMgr.reset();
    FHeaderStorage.reset();
    if (failure) std::rethrow_exception(failure);
}

int TMemoryTableDefMgr::CreateTableDef(const std::string& Name, TTableDef* Def) {
    return InternalCreateTableDef(Name, Def, "TMemoryTableDefMgr.CreateTableDef", true, [&](int32_t TableID) {
        Register(NewMaster(*Def, TableID));
        Def->SetTableID(TableID);
    });
}

void TMemoryTableDefMgr::OpenTableDefConnection(const std::string& Name, TTableDef* Def) {
    static constexpr char Caller[] = "TMemoryTableDefMgr.OpenTableDefConnection";
    Assert(Def != nullptr, "OpenTableDefConnection: Def is nil");
    const int position = IndexOfTableName(Name);
    if (position < 0) OrqDatabaseError(8579, Caller, Name, nullptr);
    TTableHeaderMgr& headers = RequireHeaderMgr(Caller);
    TTableDef* master = TableDefs(position);
    if (!master->Active()) {
        bool headerOpened = false;
        try {
            if (!master->TableHeader()) {
                master->SetTableHeader(headers.OpenTable(uint32_t(master->TableID())));
                headerOpened = true;
            }
            master->InternalOpen(nullptr);
        } catch (...) {
            if (headerOpened) {
                TTableHeader* header = master->TableHeader();
                master->SetTableHeader(nullptr);
                header->SetDirty(false);
                try {
                    headers.CloseTable(header);
                } catch (...) {
                }
            }
            throw;
        }
    }
    Def->Assign(master);
    Def->SetRecordInterface(master->RecordInterface());
    Def->SetBlobInterface(master->BlobInterface());
    Def->SetIndexInterface(master->IndexInterface());
    Def->SetTableHeader(master->TableHeader());
    master->SetUserCount(master->UserCount() + 1);
}

void TMemoryTableDefMgr::CloseTableDefConnection(int32_t TableID) {
    const int position = IndexOfTableDef(TableID);
    if (position < 0)
        OrqDatabaseError(8579, "TMemoryTableDefMgr.CloseTableDefConnection", IntToStr(TableID), nullptr);
    TTableDef* master = TableDefs(position);
    if (master->UserCount() >= 1) master->SetUserCount(master->UserCount() - 1);
}

int TMemoryTableDefMgr::DeleteTableDef(const std::string& Name, TTableDef* Def) {
    return InternalDeleteTableDef(Name, Def, "TMemoryTableDefMgr.DeleteTableDef");
}

void TMemoryTableDefMgr::RestructureTableDef(TTableDef* Def, TInternalRestructureRecord& Request) {
    OrqDatabaseError(10766, "TMemoryTableDefMgr.RestructureTableDef", Def ? Def->TableName() : std::string(),
                     nullptr);
}

}  // namespace ostra
