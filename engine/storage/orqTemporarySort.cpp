// orqTemporarySort: building, growing, sorting and searching the key array.
#include "engine/storage/orqTemporarySort.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqKeyEntry.h"

namespace ostra {

namespace {

}  // namespace

TTemporarySort::TTemporarySort(TCollection* ACollection)
    : TCollectionItem(ACollection), FKeyFields(std::make_unique<TKeyFields>(this)) {}

TTemporarySort::~TTemporarySort() = default;

void TTemporarySort::Open(int Capacity) {
    if (!FDBStringCompare)
        OrqDatabaseError(8581, "TTemporarySort.Open", "Sort function not assinged", nullptr);
    Close();
    FKeySize = CalculateMaximumKeySize(*FKeyFields) + FKeyFields->DataOffset();
    FCapacity = std::max(Capacity, 0);
    FKeys.assign(static_cast<size_t>(FCapacity) * FKeySize, 0);
    FKeyBuffer = std::make_unique<uint8_t[]>(FKeySize);
    std::memset(FKeyBuffer.get(), 0, FKeySize);
}

void TTemporarySort::Close() {
    FKeys.clear();
    FKeys.shrink_to_fit();
    FKeyBuffer.reset();
    FCount = 0;
    FCapacity = 0;
    FSorted = false;
}

void TTemporarySort::CheckOpen(const char* Caller) const {
    if (!FKeyBuffer) OrqDatabaseError(8581, Caller, "Sort is not open", nullptr);
}

void TTemporarySort::ConstructKeyBufFromRecBuf(uint32_t Address, const uint8_t* RecBuf) {
    CheckOpen("TTemporarySort.ConstructKeyBufFromRecBuf");
    ostra::ConstructKeyBufFromRecBuf(*FKeyFields, FKeySize, RecBuf, FKeyBuffer.get());
    Store32(FKeyBuffer.get() + C_KEYADDROFFSET, Address);
}

void TTemporarySort::Grow() {
    // A quarter more; a capacity below 4 grows by one at least.
    const int grown = std::max(static_cast<int>(static_cast<int64_t>(FCapacity) * 5 / 4), FCapacity + 1);
    FKeys.resize(static_cast<size_t>(grown) * FKeySize, 0);
    FCapacity = grown;
}

void TTemporarySort::AppendKey(uint32_t Address, const uint8_t* RecBuf) {
    ConstructKeyBufFromRecBuf(Address, RecBuf);
    if (FCount >= FCapacity) Grow();
    std::memcpy(FKeys.data() + static_cast<size_t>(FCount) * FKeySize, FKeyBuffer.get(), FKeySize);
    ++FCount;
    FSorted = false;
}

int TTemporarySort::CompareKeys(const uint8_t* Key1, const uint8_t* Key2) const {
    return ostra::CompareKeys(*FKeyFields, FDBStringCompare, FKeySize, 0, nullptr, nullptr, Key1, Key2);
}

void TTemporarySort::Sort() {
    CheckOpen("TTemporarySort.Sort");
    if (FCount > 1) {
        std::vector<int> order(FCount);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [this](int a, int b) { return CompareKeys(Entry(a), Entry(b)) < 0; });
        std::vector<uint8_t> sorted(FKeys.size(), 0);
        for (int i = 0; i < FCount; ++i)
            std::memcpy(sorted.data() + static_cast<size_t>(i) * FKeySize, Entry(order[i]), FKeySize);
        FKeys.swap(sorted);
    }
    FSorted = true;
}

int TTemporarySort::InternalSearch(int& Position) {
    if (!FSorted) Sort();
    int lo = 0;
    int hi = FCount;
    while (lo < hi) {
        const int mid = (lo + hi) >> 1;
        if (CompareKeys(FKeyBuffer.get(), Entry(mid)) > 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    Position = lo;
    return lo < FCount ? CompareKeys(FKeyBuffer.get(), Entry(lo)) : 1;
}

uint32_t TTemporarySort::FindKey() {
    CheckOpen("TTemporarySort.FindKey");
    int position = 0;
    if (InternalSearch(position) != 0) return 0;
    return Load32(Entry(position) + C_KEYADDROFFSET);
}

uint32_t TTemporarySort::FindNearest() {
    CheckOpen("TTemporarySort.FindNearest");
    int position = 0;
    InternalSearch(position);
    return position < FCount ? Load32(Entry(position) + C_KEYADDROFFSET) : 0;
}

// ---------------------------------------------------------------------------------------------
// TTemporarySortManager

TTemporarySortManager::TTemporarySortManager() : TCollection(ItemClassOf<TTemporarySort>()) {}

TTemporarySort* TTemporarySortManager::Add() {
    return static_cast<TTemporarySort*>(TCollection::Add());
}

TTemporarySort* TTemporarySortManager::GetItems(int Index) const {
    return static_cast<TTemporarySort*>(Items(Index));
}

void TTemporarySortManager::SetItems(int Index, const TTemporarySort* Item) {
    TCollection::SetItems(Index, Item);
}

void TTemporarySortManager::Close() {
    for (int i = 0; i < Count(); ++i) GetItems(i)->Close();
}

}  // namespace ostra
