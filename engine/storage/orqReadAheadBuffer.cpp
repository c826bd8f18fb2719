// orqReadAheadBuffer: the pooled read-ahead records of a cursor.
#include "engine/storage/orqReadAheadBuffer.h"

#include <algorithm>
#include <cstring>

#include "host/Exceptions.h"

namespace ostra {

void TReadAheadBufferItem::Initialize(uint8_t* RecBuf, uint8_t* KeyBuf) {
    Assert(RecBuf != nullptr, "RecBuf has not been initialized");
    Assert(KeyBuf != nullptr, "KeyBuf has not been initialized");
    FRecBuf = RecBuf;
    FKeyBuf = KeyBuf;
}

void TReadAheadBufferItem::Assign(const TPersistent* Source) {
    const auto* src = dynamic_cast<const TReadAheadBufferItem*>(Source);
    const auto* owner = dynamic_cast<const TReadAheadBuffer*>(Collection());
    const auto* srcOwner = src ? dynamic_cast<const TReadAheadBuffer*>(src->Collection()) : nullptr;
    if (!src || !owner || !srcOwner || owner->RecordSize() != srcOwner->RecordSize() ||
        owner->KeySize() != srcOwner->KeySize()) {
        TCollectionItem::Assign(Source);
        return;
    }
    if (src == this) return;
    FRecNo = src->FRecNo;
    FRecAddr = src->FRecAddr;
    if (FRecBuf && src->FRecBuf) std::memcpy(FRecBuf, src->FRecBuf, owner->RecordSize());
    if (FKeyBuf && src->FKeyBuf) std::memcpy(FKeyBuf, src->FKeyBuf, owner->KeySize());
}

TReadAheadBuffer::TReadAheadBuffer() : TCollection(ItemClassOf<TReadAheadBufferItem>()) {}

TReadAheadBuffer::~TReadAheadBuffer() {
    Close();
}

void TReadAheadBuffer::Open(int RecordSize, int KeySize, uint32_t ValidFor) {
    Close();
    FRecordSize = RecordSize;
    FKeySize = KeySize;
    FValidFor = ValidFor;
    FValidTimeStamp = 0;
    FLastRecordCount = 0;
    FRecordCountValid = false;
}

void TReadAheadBuffer::Close() {
    Clear();
    FRecBufPool.clear();
    FKeyBufPool.clear();
    FBufferCursor = 0;
}

TReadAheadBufferItem* TReadAheadBuffer::Add() {
    auto* item = static_cast<TReadAheadBufferItem*>(TCollection::Add());
    if (static_cast<int>(FRecBufPool.size()) <= FBufferCursor) {
        // Sizes below 1 still get a distinct, non-null buffer.
        FRecBufPool.push_back(std::make_unique<uint8_t[]>(std::max(FRecordSize, 1)));
        FKeyBufPool.push_back(std::make_unique<uint8_t[]>(std::max(FKeySize, 1)));
    }
    Assert(FBufferCursor >= 0 && FBufferCursor < static_cast<int>(FRecBufPool.size()),
           " RecBuf cursor is incorrect");
    Assert(FRecBufPool.size() == FKeyBufPool.size(), "Buffer cursors out of sync");
    item->Initialize(FRecBufPool[FBufferCursor].get(), FKeyBufPool[FBufferCursor].get());
    ++FBufferCursor;
    return item;
}

void TReadAheadBuffer::Invalidate() {
    Clear();
    FBufferCursor = 0;
    FValidTimeStamp = 0;
}

bool TReadAheadBuffer::IsValid(uint32_t NowTicks) {
    // Elapsed time in modulo-2^32 arithmetic: correct across a wrap of the tick counter.
    const uint32_t elapsed = NowTicks - FValidTimeStamp;
    if (elapsed <= FValidFor && Count() > 0) return true;
    Invalidate();
    return false;
}

int TReadAheadBuffer::IndexOfAddr(uint32_t RecAddr) const {
    for (int i = Count() - 1; i >= 0; --i)
        if (GetItems(i)->RecAddr() == RecAddr) return i;
    return -1;
}

TReadAheadBufferItem* TReadAheadBuffer::GetBufferItem(uint32_t RecAddr) const {
    const int i = IndexOfAddr(RecAddr);
    return i < 0 ? nullptr : GetItems(i);
}

TReadAheadBufferItem* TReadAheadBuffer::GetNextBufferItem(uint32_t RecAddr) const {
    const int i = IndexOfAddr(RecAddr);
    return i < 0 || i + 1 >= Count() ? nullptr : GetItems(i + 1);
}

TReadAheadBufferItem* TReadAheadBuffer::GetPriorBufferItem(uint32_t RecAddr) const {
    const int i = IndexOfAddr(RecAddr);
    return i <= 0 ? nullptr : GetItems(i - 1);
}

TReadAheadBufferItem* TReadAheadBuffer::Last() const {
    return Count() == 0 ? nullptr : GetItems(Count() - 1);
}

TReadAheadBufferItem* TReadAheadBuffer::GetItems(int Position) const {
    return static_cast<TReadAheadBufferItem*>(Items(Position));
}

void TReadAheadBuffer::SetItems(int Position, const TReadAheadBufferItem* Item) {
    TCollection::SetItems(Position, Item);
}

void TReadAheadBuffer::DeleteItem(int Position) {
    Delete(Position);
}

}  // namespace ostra
