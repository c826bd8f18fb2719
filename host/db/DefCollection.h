// TNamedItem and TDefCollection: the shared base of field and index definitions. A definition
// has a name that is unique in its collection (ignoring case); the collection belongs to a
// dataset, knows whether it reflects the dataset's current structure (Updated), and tells the
// dataset when a caller changes it (TDataSet::DefChanged). Changes the dataset makes itself (while
// open or opening, inside InitFieldDefs or IndexDefs' Update, or between BeginInternalUpdate and
// EndInternalUpdate) do not count as changes.
#pragma once
#include <functional>
#include <string>

#include "host/Collection.h"

namespace ostra {

class TDataSet;
class TStrings;

// A named collection item.
class TNamedItem : public TCollectionItem {
public:
    explicit TNamedItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    const std::string& Name() const { return FName; }
    // A name another item of a definition collection already has raises
    // "Duplicate name '%s' in %s" with the collection's class name.
    void SetName(const std::string& Value);
    std::string GetNamePath() const override;

protected:
    // Assign from another definition: Source's name, then CopyRest, as one change of the owning
    // collection (one Changed when there is none).
    void AssignNamed(const TNamedItem& Source, const std::function<void()>& CopyRest);

private:
    std::string FName;
};

// A collection of named definitions belonging to a dataset.
class TDefCollection : public TCollection {
public:
    TDefCollection(TDataSet* ADataSet, TCollectionItemClass AItemClass);

    TDataSet* DataSet() const { return FDataSet; }
    // True while the definitions reflect the dataset's structure; cleared when it may differ.
    bool Updated() const { return FUpdated; }
    void SetUpdated(bool Value) { FUpdated = Value; }
    // The item named Name (ignoring case); null / -1 when none.
    TNamedItem* Find(const std::string& Name) const;
    int IndexOf(const std::string& Name) const;
    // Appends every item's name.
    void GetItemNames(TStrings& List) const;
    // Brackets changes the dataset makes to its own definitions (see the file comment).
    void BeginInternalUpdate() { ++FInternalUpdate; }
    void EndInternalUpdate() { --FInternalUpdate; }

protected:
    void Update(TCollectionItem* Item) override;
    // Raises "Duplicate name '%s' in %s" when an item is named Name.
    void CheckNameFree(const std::string& Name) const;
    // Adds an item (MakeItem), names it Name and fills it (FillItem) inside one update, after
    // CheckNameFree; an item that fails to be named or filled is freed again.
    template <class Make, class Fill>
    auto AddNamed(const std::string& Name, Make MakeItem, Fill FillItem) {
        CheckNameFree(Name);
        BeginUpdate();
        decltype(MakeItem()) item = nullptr;
        try {
            item = MakeItem();
            item->SetName(Name);
            FillItem(item);
        } catch (...) {
            delete item;
            EndUpdate();
            throw;
        }
        EndUpdate();
        return item;
    }

private:
    TDataSet* FDataSet;
    bool FUpdated = false;
    int FInternalUpdate = 0;
};

// Keeps a definition collection in internal update for the scope.
class TInternalDefUpdate {
public:
    explicit TInternalDefUpdate(TDefCollection& Defs) : FDefs(Defs) { FDefs.BeginInternalUpdate(); }
    ~TInternalDefUpdate() { FDefs.EndInternalUpdate(); }
    TInternalDefUpdate(const TInternalDefUpdate&) = delete;
    TInternalDefUpdate& operator=(const TInternalDefUpdate&) = delete;

private:
    TDefCollection& FDefs;
};

}  // namespace ostra
