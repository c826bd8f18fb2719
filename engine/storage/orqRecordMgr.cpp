// orqRecordMgr: the record manager, the blob entries and their list.
#include "engine/storage/orqRecordMgr.h"

#include <cstring>

#include "engine/storage/orqErrors.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "host/Exceptions.h"
#include "host/Streams.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// TBlob, TBlobMgr

TBlob::TBlob(TCollection* ACollection) : TCollectionItem(ACollection), FStream(std::make_unique<TMemoryStream>()) {}

TBlob::~TBlob() = default;

void TBlob::Assign(const TPersistent* Source) {
    const auto* src = dynamic_cast<const TBlob*>(Source);
    if (!src) {
        TCollectionItem::Assign(Source);
        return;
    }
    if (src == this) return;
    FRecID = src->FRecID;
    FFieldNo = src->FFieldNo;
    FState = src->FState;
    FStream->Clear();
    src->FStream->SaveToStream(*FStream);
    FStream->SetPosition(0);
}

TBlobMgr::TBlobMgr() : TCollection(ItemClassOf<TBlob>()) {}

TBlob* TBlobMgr::Add() {
    return static_cast<TBlob*>(TCollection::Add());
}

TBlob* TBlobMgr::GetItems(int Position) const {
    return static_cast<TBlob*>(Items(Position));
}

void TBlobMgr::SetItems(int Position, const TBlob* Value) {
    TCollection::SetItems(Position, Value);
}

TBlob* TBlobMgr::FindBlob(uint32_t RecID, int32_t FieldNo) const {
    for (int i = 0; i < Count(); ++i) {
        TBlob* blob = GetItems(i);
        if (blob->FieldNo() == FieldNo && (RecID == 0 || blob->RecID() == RecID)) return blob;
    }
    return nullptr;
}

void TBlobMgr::InvalidateStreams() {
    for (int i = 0; i < Count(); ++i) GetItems(i)->SetState(bsInvalid);
}

TBlobState TBlobMgr::CheckBlobStates() const {
    if (Count() == 0) return bsNone;
    bool modified = false;
    for (int i = 0; i < Count(); ++i) {
        const TBlobState state = GetItems(i)->State();
        if (state == bsInvalid) return bsInvalid;
        if (state == bsModified) modified = true;
    }
    return modified ? bsModified : bsValid;
}

// ---------------------------------------------------------------------------------------------
// TRecordMgr

TRecordMgr::TRecordMgr() : FBlobMgr(std::make_unique<TBlobMgr>()), FFields(std::make_unique<TInternalFields>()) {}

TRecordMgr::~TRecordMgr() = default;

void TRecordMgr::SetRecordSize(int32_t Value) {
    Assert(FInternalBuffer.empty(), "Setting record size when buffers set");
    FRecordSize = Value;
}

void TRecordMgr::Open(TBaseIOInterface* IOInterface) {
    if (FRecordSize <= 0) OrqDatabaseError(8576, "TRecordMgr.Open", "", this);
    FInternalBuffer.assign(size_t(FRecordSize), 0);
    FIOInterface = IOInterface;
    FFields->Open();
    FFields->SetRecordSize(FRecordSize);
    FBlobMgr->Clear();
    for (int i = 0; i < FFields->Count(); ++i) {
        const TInternalFieldItem* field = FFields->GetIndex(i);
        if (!IsBlobFieldType(field->DataType())) continue;
        TBlob* blob = FBlobMgr->Add();
        blob->SetFieldNo(field->FieldIndex());
        blob->SetState(bsInvalid);
    }
}

void TRecordMgr::Close() {
    FFields->Close();
    FBlobMgr->Clear();
    FInternalBuffer.clear();
    FInternalBuffer.shrink_to_fit();
    FWalkBlocks.clear();
    FWalkBlocks.shrink_to_fit();
    FWalkNext = 0;
}

void TRecordMgr::CheckOpen(const char* Caller) {
    if (!FIOInterface || FInternalBuffer.empty()) OrqDatabaseError(8576, Caller, "", this);
}

uint32_t TRecordMgr::AddRecord(const uint8_t* Buffer) {
    CheckOpen("TRecordMgr.AddRecord");
    const uint32_t address = FIOInterface->AllocateNewAddress(uint32_t(FRecordSize), Buffer);
    std::memcpy(FInternalBuffer.data(), Buffer, size_t(FRecordSize));
    return address;
}

void TRecordMgr::ReadRecord(uint32_t RecordID, uint8_t* Buffer, bool KeepCopy) {
    CheckOpen("TRecordMgr.ReadRecord");
    FIOInterface->ReadBlock(RecordID, uint32_t(FRecordSize), Buffer);
    if (!KeepCopy) return;
    std::memcpy(FInternalBuffer.data(), Buffer, size_t(FRecordSize));
    FBlobMgr->InvalidateStreams();
}

void TRecordMgr::ReadRecordByRef(uint32_t RecordID, uint8_t*& Buffer) {
    CheckOpen("TRecordMgr.ReadRecordByRef");
    FIOInterface->ReadBlockByRef(RecordID, uint32_t(FRecordSize), Buffer);
}

void TRecordMgr::KeepCopy(const uint8_t* Buffer) {
    CheckOpen("TRecordMgr.KeepCopy");
    std::memcpy(FInternalBuffer.data(), Buffer, size_t(FRecordSize));
    FBlobMgr->InvalidateStreams();
}

void TRecordMgr::UpdateRecord(uint32_t RecordID, const uint8_t* Buffer) {
    CheckOpen("TRecordMgr.UpdateRecord");
    FIOInterface->WriteBlock(RecordID, uint32_t(FRecordSize), Buffer);
    std::memcpy(FInternalBuffer.data(), Buffer, size_t(FRecordSize));
}

void TRecordMgr::DeleteRecord(uint32_t RecordID) {
    CheckOpen("TRecordMgr.DeleteRecord");
    FIOInterface->ReleaseBlock(RecordID, uint32_t(FRecordSize));
    FBlobMgr->InvalidateStreams();
}

void TRecordMgr::StartStorageOrderWalk() {
    CheckOpen("TRecordMgr.StartStorageOrderWalk");
    FIOInterface->ListBlocks(FWalkBlocks);
    FWalkNext = 0;
}

bool TRecordMgr::NextInStorageOrder(uint32_t& RecordID, uint8_t* Buffer) {
    CheckOpen("TRecordMgr.NextInStorageOrder");
    while (FWalkNext < FWalkBlocks.size()) {
        const uint32_t address = FWalkBlocks[FWalkNext++];
        uint8_t* stored = nullptr;
        FIOInterface->ReadBlockByRef(address, uint32_t(FRecordSize), stored);
        // A free block's first bytes are zero: its in-use flag is clear.
        if (stored[C_RECINUSEOFFSET] == 0) continue;
        std::memcpy(Buffer, stored, std::size_t(FRecordSize));
        RecordID = address;
        return true;
    }
    return false;
}

void TRecordMgr::RestoreBufferFromInternalBuffer(uint8_t* Buffer) {
    CheckOpen("TRecordMgr.RestoreBufferFromInternalBuffer");
    std::memcpy(Buffer, FInternalBuffer.data(), size_t(FRecordSize));
}

}  // namespace ostra
