// TCollection and TCollectionItem: item ownership, IDs, moves, assignment and update brackets.
#include "host/Collection.h"

#include <algorithm>

#include "host/Exceptions.h"
#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

[[noreturn]] void IndexError(int index) {
    throw EListError(Format("List index out of bounds (%d)", {index}));
}

}  // namespace

// --- TCollectionItem -------------------------------------------------------------------------

TCollectionItem::TCollectionItem(TCollection* ACollection) {
    SetCollection(ACollection);
}

TCollectionItem::~TCollectionItem() {
    if (FCollection) FCollection->RemoveItem(this);
}

void TCollectionItem::SetCollection(TCollection* Value) {
    if (Value == FCollection) return;
    if (FCollection) FCollection->RemoveItem(this);
    if (Value) Value->InsertItem(this);
}

int TCollectionItem::Index() const {
    if (!FCollection) return -1;
    const auto& items = FCollection->FItems;
    auto it = std::find(items.begin(), items.end(), this);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int Value) {
    int current = Index();
    if (current < 0 || current == Value) return;
    auto& items = FCollection->FItems;
    if (Value < 0 || Value >= static_cast<int>(items.size())) IndexError(Value);
    items.erase(items.begin() + current);
    items.insert(items.begin() + Value, this);
    Changed(true);
}

std::string TCollectionItem::GetNamePath() const {
    if (!FCollection) return ClassName();
    return Format("%s[%d]", {FCollection->GetNamePath(), Index()});
}

void TCollectionItem::Changed(bool AllItems) {
    if (FCollection && FCollection->FUpdateCount == 0) FCollection->Update(AllItems ? nullptr : this);
}

// --- TCollection -----------------------------------------------------------------------------

TCollection::TCollection(TCollectionItemClass AItemClass, TPersistent* AOwner)
    : FItemClass(std::move(AItemClass)), FOwner(AOwner) {}

TCollection::~TCollection() {
    FUpdateCount = 1;  // no Update calls while the collection goes away
    while (!FItems.empty()) delete FItems.back();
}

TCollectionItem* TCollection::Add() {
    if (!FItemClass) throw EListError(ClassName() + " has no item class");
    return FItemClass(this);
}

TCollectionItem* TCollection::Insert(int Index) {
    if (Index < 0 || Index > Count()) IndexError(Index);
    TCollectionItem* item = Add();
    item->SetIndex(Index);
    return item;
}

void TCollection::Delete(int Index) {
    delete Items(Index);
}

void TCollection::Clear() {
    if (FItems.empty()) return;
    BeginUpdate();
    try {
        while (!FItems.empty()) delete FItems.back();
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

TCollectionItem* TCollection::Items(int Index) const {
    if (Index < 0 || Index >= Count()) IndexError(Index);
    return FItems[static_cast<size_t>(Index)];
}

void TCollection::SetItems(int Index, const TCollectionItem* Value) {
    Items(Index)->Assign(Value);
}

TCollectionItem* TCollection::FindItemID(int ID) const {
    for (TCollectionItem* item : FItems)
        if (item->FID == ID) return item;
    return nullptr;
}

void TCollection::Assign(const TPersistent* Source) {
    auto* source = dynamic_cast<const TCollection*>(Source);
    if (!source) {
        TPersistent::Assign(Source);
        return;
    }
    // Assigning a collection to itself would clear it before copying from it.
    if (source == this) return;
    BeginUpdate();
    try {
        Clear();
        for (const TCollectionItem* item : source->FItems) Add()->Assign(item);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TCollection::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
    Changed();
}

std::string TCollection::GetNamePath() const {
    if (!FOwner) return ClassName();
    std::string ownerPath = FOwner->GetNamePath();
    std::string propName = PublishedPropertyNameOf(FOwner, this);
    if (ownerPath.empty() || propName.empty()) return ClassName();
    return ownerPath + "." + propName;
}

void TCollection::Changed() {
    if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* Item) {
    FItems.push_back(Item);
    Item->FCollection = this;
    Item->FID = FNextID++;
    Changed();
}

void TCollection::RemoveItem(TCollectionItem* Item) {
    auto it = std::find(FItems.rbegin(), FItems.rend(), Item);
    if (it != FItems.rend()) FItems.erase(std::next(it).base());
    Item->FCollection = nullptr;
    Changed();
}

}  // namespace ostra
