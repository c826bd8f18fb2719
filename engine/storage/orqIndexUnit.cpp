// orqIndexUnit: the open indexes of a table: TIndexItem with its tree, and TIndexManager with
// the header slots, key-field distribution, index creation, dropping and lookup.
#include "engine/storage/orqIndexUnit.h"

#include "engine/storage/orqCompoundList.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqHash.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "engine/storage/orqTableHeader.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/PropertyRegistry.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

const char* const kIndexKeyTypeIdents[] = {"ikFixed", "ikMinStringLen"};

[[maybe_unused]] const bool kPublished =
    Publish<TIndexItem, TCollectionItem>()
        .Integer("IndexSequence", &TIndexItem::IndexSequence, &TIndexItem::SetIndexSequence)
        .String("IndexName", &TIndexItem::IndexName, &TIndexItem::SetIndexName)
        .Boolean("Unique", &TIndexItem::Unique, &TIndexItem::SetUnique)
        .Boolean("Primary", &TIndexItem::Primary, &TIndexItem::SetPrimary)
        .Boolean("Hidden", &TIndexItem::Hidden, &TIndexItem::SetHidden)
        .Boolean("Maintained", &TIndexItem::Maintained, &TIndexItem::SetMaintained)
        .Boolean("Memory", &TIndexItem::Memory, &TIndexItem::SetMemory)
        .Collection("KeyFields", &TIndexItem::KeyFields)
        .Integer("MaximumKeySize", &TIndexItem::MaximumKeySize, &TIndexItem::SetMaximumKeySize)
        .Integer("KeyDataOffset", &TIndexItem::KeyDataOffset, &TIndexItem::SetKeyDataOffset)
        .Cardinal("IndexPageSize", &TIndexItem::IndexPageSize, &TIndexItem::SetIndexPageSize)
        .Cardinal("Root", &TIndexItem::Root, &TIndexItem::SetRoot)
        .Cardinal("Depth", &TIndexItem::Depth, &TIndexItem::SetDepth);

[[noreturn]] void InternalError(const char* Caller, const std::string& Text) {
    OrqDatabaseError(8581, Caller, Text, nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TIndexItem

TIndexItem::TIndexItem(TCollection* ACollection)
    : TCollectionItem(ACollection),
      FTree(std::make_unique<TBTree>()),
      FKeyFields(std::make_unique<TKeyFields>(this)) {}

TIndexItem::~TIndexItem() = default;

TIndexManager* TIndexItem::Manager() const {
    return dynamic_cast<TIndexManager*>(Collection());
}

TBaseIOInterface* TIndexItem::RequireIO(const char* Caller) const {
    TIndexManager* manager = Manager();
    if (!manager || !manager->IOInterface()) InternalError(Caller, "IO Interface is unassigned");
    return manager->IOInterface();
}

void TIndexItem::ConfigureTree() {
    TBaseIOInterface* io = RequireIO("TIndexItem.Open");
    FTree->KeyFields().Assign(FKeyFields.get());
    FTree->KeyFields().SetDataOffset(FKeyDataOffset);
    FTree->SetMaximumKeySize(FMaximumKeySize);
    FTree->SetPageSize(FIndexPageSize);
    FTree->SetDBStringCompare(Manager()->DBStringCompareFunction());
    FTree->SetDebugStrings(Manager()->DebugStrings());
    FTree->ConnectToIFace(io, FIndexPageSize, FRoot, FDepth);
}

void TIndexItem::Open() {
    RequireIO("TIndexItem.Open");
    if (FRoot == 0 || FDepth == 0) InternalError("TIndexItem.Open", "Not initialized");
    ConfigureTree();
    FTempKeyBuffer.assign(FMaximumKeySize + 1, 0);
    FTree->Open();
}

void TIndexItem::Close() {
    FTree->Close();
    FTree->KeyFields().Clear();
    FKeyFields->Clear();
    FTempKeyBuffer.clear();
    FTempKeyBuffer.shrink_to_fit();
}

void TIndexItem::CreateIndex() {
    FRoot = 0;
    FDepth = 0;
    ConfigureTree();
    FTree->CreateTree();
    FTree->Close();
}

void TIndexItem::EmptyIndex() {
    ConfigureTree();
    FTree->EmptyTree(false);
    if (IsOpen()) FTree->Open();
}

void TIndexItem::DeleteIndex() {
    ConfigureTree();
    FTree->EmptyTree(true);
}

void TIndexItem::CreateKeyBuffer(const uint8_t* RecBuf, const TKeyMarkerList* Markers) {
    FTree->ConstructKeyBufFromRecBuf(RecBuf, Markers);
}

void TIndexItem::CreateTempKeyBuffer(const uint8_t* RecBuf, uint8_t* KeyBuf, const TKeyMarkerList* Markers) {
    FTree->ConstructTempKeyBufFromRecBuf(KeyBuf, RecBuf, Markers);
}

void TIndexItem::CopyKeyBuffer(const uint8_t* KeyBuf, const TKeyMarkerList* Markers) {
    FTree->ConstructKeyBufFromKeyBuf(KeyBuf, Markers);
}

int TIndexItem::FullIndexSearch(TIndexSearchType SearchType) {
    return FTree->IndexSearch(SearchType, nullptr);
}

int TIndexItem::PartialIndexSearch(TIndexSearchType SearchType, const TSearchModifier* Modifier) {
    return FTree->IndexSearch(SearchType, Modifier);
}

int TIndexItem::InsertKey(uint32_t RecordAddress) {
    FTree->SetKeyBufAddr(RecordAddress);
    return FTree->InsertKey();
}

bool TIndexItem::InsertLeftCursorOnKey() const { return FTree->InsertLeftCursorOnKey(); }

int TIndexItem::DeleteKey() {
    return FTree->DeleteKey();
}

bool TIndexItem::NextKey() {
    return FTree->NextRecord();
}

bool TIndexItem::PriorKey() {
    return FTree->PriorRecord();
}

uint32_t TIndexItem::GetRecordAddress() {
    return FTree->GetRecAddr();
}

const uint8_t* TIndexItem::GetCurrentKeyBuf() {
    return FTree->GetCurrentKeyBuf();
}

int TIndexItem::GetRecordCount(bool Refresh) {
    return FTree->GetRecordCount(Refresh);
}

int TIndexItem::GetRecordNo() {
    return FTree->GetRecordNo();
}

uint32_t TIndexItem::SetRecordNo(int RecNo) {
    return FTree->GetAddrOfRecNo(RecNo);
}

int TIndexItem::CompareKeyBuffers(const uint8_t* Key1, const uint8_t* Key2, const TKeyMarkerList* Markers1,
                                  const TKeyMarkerList* Markers2) {
    return FTree->CompareKeys(0, Markers1, Markers2, Key1, Key2);
}

int TIndexItem::CompareKeyToCurrentKey(const TKeyMarkerList* Markers, const uint8_t* KeyBuf) {
    return FTree->CompareKeyToCurrentKeyBuf(Markers, KeyBuf);
}

void TIndexItem::ListMatchingRecords(const uint8_t* KeyBuf, int FieldCount, uint32_t StopAddress,
                                     TIndexSearchType SearchType, bool Ascending, TCompoundList& List,
                                     bool& Flag) {
    FTree->ListMatchingRecords(KeyBuf, FieldCount, StopAddress, SearchType, Ascending, List, Flag);
}

int TIndexItem::ListReadAheadRecords(TReadAheadDirection Direction, int Count, TReadAheadBuffer& Buffer) {
    return FTree->ListReadAheadRecords(Direction, Count, Buffer);
}

void TIndexItem::FillHashTable(int FieldNo, TOrqBaseHash& Hash) {
    FTree->FillHashTable(FieldNo, Hash);
}

void TIndexItem::InvalidateInternalBuffers() {
    FTree->InvalidateInternalBuffers();
}

void TIndexItem::DumpInternalStatus(TStrings& List) {
    FTree->DebugDumpAllocatedBlocks(List);
}

void TIndexItem::DumpInternalStructure(TStrings& List) {
    FTree->DebugInOrderRecurse(&List);
}

bool TIndexItem::MoveBy(int Distance) {
    const int64_t steps = Distance < 0 ? -static_cast<int64_t>(Distance) : Distance;
    for (int64_t step = 0; step < steps; ++step)
        if (!(Distance > 0 ? NextKey() : PriorKey())) return false;
    return true;
}

void TIndexItem::Assign(const TPersistent* Source) {
    if (auto* def = dynamic_cast<const TInternalIndexDef*>(Source)) {
        CopyIndexDefProperties(*this, *def);
        FKeyFields->Clear();
        return;
    }
    if (auto* item = dynamic_cast<const TIndexItem*>(Source)) {
        CopyIndexDefProperties(*this, *item);
        FKeyFields->Assign(item->FKeyFields.get());
        FRoot = item->FRoot;
        FDepth = item->FDepth;
        return;
    }
    TCollectionItem::Assign(Source);
}

// ---------------------------------------------------------------------------------------------
// TIndexManager

TIndexManager::TIndexManager(TPersistent* AOwner) : TCollection(ItemClassOf<TIndexItem>(), AOwner) {}

TIndexManager::~TIndexManager() = default;

TIndexItem* TIndexManager::Add() {
    return static_cast<TIndexItem*>(TCollection::Add());
}

TIndexItem* TIndexManager::GetItems(int Index) const {
    return static_cast<TIndexItem*>(Items(Index));
}

void TIndexManager::SetItems(int Index, const TIndexItem* Item) {
    TCollection::SetItems(Index, Item);
}

void TIndexManager::DeleteItem(int Index) {
    Delete(Index);
}

TTableHeader& TIndexManager::RequireHeader() const {
    Assert(FTableHeader != nullptr, "IndexManager table header = nil");
    return *FTableHeader;
}

TIndexItem* TIndexManager::RequireIndex(const std::string& Name, const char* Caller) const {
    TIndexItem* item = FindIndex(Name);
    if (!item) OrqDatabaseError(9997, Caller, Name, nullptr);
    return item;
}

void TIndexManager::Open() {
    if (!FDBStringCompareFunction) InternalError("TIndexManager.Open", "Sort function not assinged");
    ReadIndexHeaders(true);
    FVisibleIndexCount = 0;
    for (int i = 0; i < Count(); ++i) {
        GetItems(i)->Open();
        if (!GetItems(i)->Hidden()) ++FVisibleIndexCount;
    }
    FOpen = true;
}

void TIndexManager::Close() {
    for (int i = 0; i < Count(); ++i) GetItems(i)->Close();
    Clear();
    FVisibleIndexCount = 0;
    FIOInterface = nullptr;
    FOpen = false;
}

void TIndexManager::ReadIndexHeaders(bool Invalidate) {
    if (Count() == 0) return;
    TTableHeader& header = RequireHeader();
    for (int i = 0; i < Count(); ++i) {
        TIndexItem* item = GetItems(i);
        if (Invalidate) item->InvalidateInternalBuffers();
        item->SetRoot(header.GetIndexRoot(item->IndexSequence()));
        item->SetDepth(header.GetIndexDepth(item->IndexSequence()));
    }
}

void TIndexManager::WriteIndexHeaders() {
    if (Count() == 0) return;
    TTableHeader& header = RequireHeader();
    for (int i = 0; i < Count(); ++i) {
        const TIndexItem* item = GetItems(i);
        header.SetIndexRoot(item->IndexSequence(), item->Root());
        header.SetIndexDepth(item->IndexSequence(), static_cast<uint16_t>(item->Depth()));
    }
}

void TIndexManager::AddKeyField(TIndexItem& Item, const TKeyFieldItem& Field, const char* Caller) {
    if (Field.DataType() == ftString && Field.SizeMarkerOffset() == 0)
        InternalError(Caller, "KeyBuffers invalid");
    Item.KeyFields()->Add()->Assign(&Field);
}

void TIndexManager::AssignKeyFields(const TKeyFields& KeyFields) {
    for (int i = 0; i < Count(); ++i) GetItems(i)->KeyFields()->Clear();
    for (int k = 0; k < KeyFields.Count(); ++k) {
        const TKeyFieldItem& field = *KeyFields.GetIndex(k);
        AddKeyField(*RequireIndex(field.IndexName(), "TIndexManager.AssignKeyFields"), field,
                    "TIndexManager.AssignKeyFields");
    }
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->KeyFields()->Count() == 0)
            InternalError("TIndexManager.AssignKeyFields", "KeyBuffers invalid");
}

void TIndexManager::CreateIndexes() {
    // A table's index storage keeps no free chain (each page its own), so nothing is loaded first.
    TTableHeader* header = Count() > 0 ? &RequireHeader() : nullptr;
    for (int i = 0; i < Count(); ++i) {
        TIndexItem* item = GetItems(i);
        item->CreateIndex();
        header->SetIndexRoot(item->IndexSequence(), item->Root());
        header->SetIndexDepth(item->IndexSequence(), static_cast<uint16_t>(item->Depth()));
    }
}

void TIndexManager::AddIndex(const TInternalIndexDef& IndexDef, const TKeyFields& KeyFields) {
    if (FindIndex(IndexDef.IndexName()))
        OrqDatabaseError(10027, "TIndexManager.AddIndex", IndexDef.IndexName(), nullptr);
    ReadIndexHeaders(true);
    TIndexItem* item = Add();
    item->Assign(&IndexDef);
    if (!item->Hidden()) ++FVisibleIndexCount;
    for (int k = 0; k < KeyFields.Count(); ++k) {
        const TKeyFieldItem& field = *KeyFields.GetIndex(k);
        if (AnsiSameText(field.IndexName(), item->IndexName()))
            AddKeyField(*item, field, "TIndexManager.AddIndex");
    }
    item->CreateIndex();
    WriteIndexHeaders();
    // The other indexes of an open manager are open; so is the new one.
    if (FOpen) item->Open();
}

void TIndexManager::DropIndex(const std::string& Name) {
    TIndexItem* item = RequireIndex(Name, "TIndexManager.DropIndex");
    if (!item->Hidden()) --FVisibleIndexCount;
    ReadIndexHeaders(true);
    const int n = Count();
    const int sequence = item->IndexSequence();
    item->DeleteIndex();
    item->KeyFields()->Clear();
    Delete(item->Index());
    // The dropped index's own slot must not keep the address of its released root.
    TTableHeader& header = RequireHeader();
    header.SetIndexRoot(sequence, 0);
    header.SetIndexDepth(sequence, 0);
    header.SetIndexRoot(n - 1, 0);
    header.SetIndexDepth(n - 1, 0);
    WriteIndexHeaders();
}

void TIndexManager::EmptyIndex(const std::string& Name) {
    TIndexItem* item = RequireIndex(Name, "TIndexManager.EmptyIndex");
    ReadIndexHeaders(true);
    item->EmptyIndex();
    WriteIndexHeaders();
}

TIndexItem* TIndexManager::CurrentIndex() const {
    return RequireIndex(FCurrentIndexName, "TIndexManager.CurrentIndex");
}

TIndexItem* TIndexManager::FindIndex(const std::string& Name) const {
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(GetItems(i)->IndexName(), Name)) return GetItems(i);
    return nullptr;
}

TIndexItem* TIndexManager::FindIndexForFields(const TStrings& Fields, bool CaseSensitiveOnly) const {
    for (int i = 0; i < Count(); ++i) {
        TIndexItem* item = GetItems(i);
        const TKeyFields& keys = *item->KeyFields();
        if (keys.Count() < Fields.Count()) continue;
        bool match = true;
        for (int f = 0; match && f < Fields.Count(); ++f) {
            const TKeyFieldItem& key = *keys.GetIndex(f);
            match = AnsiSameText(key.FieldName(), Fields.Strings(f)) &&
                    !(CaseSensitiveOnly && key.CaseInsensitive());
        }
        if (match) return item;
    }
    return nullptr;
}

void TIndexManager::InvalidateInternalBuffers() {
    for (int i = 0; i < Count(); ++i) GetItems(i)->InvalidateInternalBuffers();
}

void TIndexManager::DumpInternalStatus(TStrings& List) {
    List.Add("DUMP - INDEX = " + IntToStr(0));
    if (Count() > 0) GetItems(0)->DumpInternalStatus(List);
}

void TIndexManager::Assign(const TPersistent* Source) {
    if (auto* manager = dynamic_cast<const TIndexManager*>(Source)) {
        Clear();
        for (int i = 0; i < manager->Count(); ++i) Add()->Assign(manager->GetItems(i));
        return;
    }
    if (auto* defs = dynamic_cast<const TInternalIndexDefs*>(Source)) {
        Clear();
        for (int i = 0; i < defs->Count(); ++i) Add()->Assign(defs->GetItems(i));
        return;
    }
    TCollection::Assign(Source);
}

}  // namespace ostra
