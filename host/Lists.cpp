// TList: the pointer list, its bounds checks and notifications.
#include "host/Lists.h"

#include <string>
#include <utility>

#include "host/Exceptions.h"
#include "host/ListSort.h"

namespace ostra {

namespace {

[[noreturn]] void ListError(const char* text, int value) {
    throw EListError(std::string(text) + " (" + std::to_string(value) + ")");
}

}  // namespace

TList::~TList() {
    Clear();
}

void TList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count()) ListError("List index out of bounds", Index);
}

int TList::Add(void* Item) {
    int result = Count();
    Expand();
    FList.push_back(Item);
    if (Item) Notify(Item, lnAdded);
    return result;
}

void TList::Insert(int Index, void* Item) {
    if (Index < 0 || Index > Count()) ListError("List index out of bounds", Index);
    Expand();
    FList.insert(FList.begin() + Index, Item);
    if (Item) Notify(Item, lnAdded);
}

void TList::Delete(int Index) {
    CheckIndex(Index);
    void* item = FList[Index];
    FList.erase(FList.begin() + Index);
    if (item) Notify(item, lnDeleted);
}

int TList::Remove(void* Item) {
    int index = IndexOf(Item);
    if (index >= 0) Delete(index);
    return index;
}

void* TList::Extract(void* Item) {
    int index = IndexOf(Item);
    if (index < 0) return nullptr;
    FList.erase(FList.begin() + index);
    if (Item) Notify(Item, lnExtracted);
    return Item;
}

int TList::IndexOf(void* Item) const {
    for (size_t i = 0; i < FList.size(); ++i)
        if (FList[i] == Item) return static_cast<int>(i);
    return -1;
}

void* TList::Get(int Index) const {
    CheckIndex(Index);
    return FList[Index];
}

void TList::Put(int Index, void* Item) {
    CheckIndex(Index);
    void* old = FList[Index];
    if (old == Item) return;
    FList[Index] = Item;
    if (old) Notify(old, lnDeleted);
    if (Item) Notify(Item, lnAdded);
}

void* TList::First() const {
    return Get(0);
}

void* TList::Last() const {
    return Get(Count() - 1);
}

void TList::SetCount(int NewCount) {
    if (NewCount < 0) ListError("List count out of bounds", NewCount);
    if (NewCount >= Count()) {
        if (NewCount > Capacity()) SetCapacity(NewCount);
        FList.resize(NewCount, nullptr);
        return;
    }
    for (int i = Count() - 1; i >= NewCount; --i) Delete(i);
}

void TList::SetCapacity(int NewCapacity) {
    if (NewCapacity < Count()) ListError("List capacity out of bounds", NewCapacity);
    if (NewCapacity == Capacity()) return;
    if (NewCapacity > Capacity()) {
        FList.reserve(NewCapacity);
        return;
    }
    std::vector<void*> smaller;
    smaller.reserve(NewCapacity);
    smaller.assign(FList.begin(), FList.end());
    FList.swap(smaller);
}

TList* TList::Expand() {
    int capacity = Capacity();
    if (Count() < capacity) return this;
    // The framework's growth steps: small lists by 4 or 16, larger ones by a quarter.
    int delta = capacity > 64 ? capacity / 4 : (capacity > 8 ? 16 : 4);
    SetCapacity(capacity + delta);
    return this;
}

void TList::Exchange(int Index1, int Index2) {
    CheckIndex(Index1);
    CheckIndex(Index2);
    std::swap(FList[Index1], FList[Index2]);
}

void TList::Move(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex) return;
    CheckIndex(CurIndex);
    CheckIndex(NewIndex);
    void* item = FList[CurIndex];
    FList.erase(FList.begin() + CurIndex);
    FList.insert(FList.begin() + NewIndex, item);
}

void TList::Clear() {
    SetCount(0);
    SetCapacity(0);
}

void TList::Pack() {
    size_t kept = 0;
    for (void* item : FList)
        if (item) FList[kept++] = item;
    FList.resize(kept);
}

void TList::Sort(const TListSortCompare& Compare) {
    if (Count() < 2 || !Compare) return;
    detail::QuickSortPositions(
        0, Count() - 1, [&](int i, int j) { return Compare(FList[i], FList[j]); },
        [&](int i, int j) { std::swap(FList[i], FList[j]); });
}

}  // namespace ostra
