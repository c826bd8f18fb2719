// TNamedItem and TDefCollection: unique names, lookup by name, and the dataset's DefChanged hook.
#include "host/db/DefCollection.h"

#include "host/Collation.h"
#include "host/PropertyRegistry.h"
#include "host/StringList.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSet.h"

namespace ostra {

[[maybe_unused]] const bool kNamedItemPublished =
    Publish<TNamedItem, TCollectionItem>().String("Name", &TNamedItem::Name, &TNamedItem::SetName);

void TNamedItem::SetName(const std::string& Value) {
    if (Value == FName) return;
    if (auto* defs = dynamic_cast<TDefCollection*>(Collection())) {
        TNamedItem* other = defs->Find(Value);
        if (!Value.empty() && other && other != this)
            DatabaseErrorFmt(SDuplicateName, {Value, defs->ClassName()}, defs->DataSet());
    }
    FName = Value;
    Changed(false);
}

void TNamedItem::AssignNamed(const TNamedItem& Source, const std::function<void()>& CopyRest) {
    TCollection* Owner = Collection();
    if (!Owner) {
        SetName(Source.Name());
        CopyRest();
        Changed(false);
        return;
    }
    // The update must end also when the new name is refused, or the collection would stay
    // silent for good.
    Owner->BeginUpdate();
    try {
        SetName(Source.Name());
        CopyRest();
    } catch (...) {
        Owner->EndUpdate();
        throw;
    }
    Owner->EndUpdate();
}

std::string TNamedItem::GetNamePath() const {
    if (!Collection() || FName.empty()) return TCollectionItem::GetNamePath();
    return Collection()->GetNamePath() + "." + FName;
}

TDefCollection::TDefCollection(TDataSet* ADataSet, TCollectionItemClass AItemClass)
    : TCollection(std::move(AItemClass), ADataSet), FDataSet(ADataSet) {}

TNamedItem* TDefCollection::Find(const std::string& Name) const {
    int index = IndexOf(Name);
    return index < 0 ? nullptr : static_cast<TNamedItem*>(Items(index));
}

int TDefCollection::IndexOf(const std::string& Name) const {
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(static_cast<TNamedItem*>(Items(i))->Name(), Name)) return i;
    return -1;
}

void TDefCollection::CheckNameFree(const std::string& Name) const {
    if (IndexOf(Name) >= 0) DatabaseErrorFmt(SDuplicateName, {Name, ClassName()}, DataSet());
}

void TDefCollection::GetItemNames(TStrings& List) const {
    for (int i = 0; i < Count(); ++i) List.Add(static_cast<TNamedItem*>(Items(i))->Name());
}

void TDefCollection::Update(TCollectionItem* Item) {
    if (!FDataSet || FInternalUpdate > 0) return;
    // Definitions the dataset fills itself (while reading a stream, opening or open) are not
    // changes of the caller's.
    if (FDataSet->ComponentState().Contains(csLoading) || FDataSet->ComponentState().Contains(csDestroying)) return;
    if (FDataSet->State() != dsInactive || FDataSet->FCursorChanging > 0) return;
    FDataSet->DefChanged(this);
}

}  // namespace ostra
