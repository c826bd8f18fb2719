// TCollection and TCollectionItem: the framework's owned list of items of one item class.
// A collection makes its items through its item class (a factory); an item's constructor puts it
// into its collection and its destructor takes it out, so `delete item` and Delete(i) are the
// same. Every item gets an ID, unique in its collection and increasing, that survives moves.
// Changes call the virtual Update(item) (null for changes that concern the whole list), held
// back while BeginUpdate/EndUpdate brackets are open. Component streaming writes collections as
// "Prop = < item ... end >" and reads them back through the item class.
#pragma once
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "host/Object.h"

namespace ostra {

class TCollection;
class TCollectionItem;

// Makes a new item inside the given collection and returns it (the collection owns it).
using TCollectionItemClass = std::function<TCollectionItem*(TCollection* ACollection)>;

// The item class of T: items made by T(collection).
template <class T>
TCollectionItemClass ItemClassOf() {
    static_assert(std::is_base_of_v<TCollectionItem, T>, "collection items derive from TCollectionItem");
    return [](TCollection* c) -> TCollectionItem* { return new T(c); };
}

// One item of a collection.
class TCollectionItem : public TPersistent {
public:
    // Creates the item and adds it at the end of `ACollection` (which then owns it), if given.
    explicit TCollectionItem(TCollection* ACollection);
    // Leaves the collection.
    ~TCollectionItem() override;
    TCollectionItem(const TCollectionItem&) = delete;
    TCollectionItem& operator=(const TCollectionItem&) = delete;

    TCollection* Collection() const { return FCollection; }
    // Moves the item to the end of another collection (it gets a new ID there), or out of any
    // collection for null (the caller then owns it).
    void SetCollection(TCollection* Value);
    int ID() const { return FID; }
    // Position in the collection; -1 outside one.
    int Index() const;
    // Moves the item to position `Value`; raises EListError "List index out of bounds (%d)"
    // for a position outside the collection.
    void SetIndex(int Value);
    // "<collection's name path>[<index>]", or the class name outside a collection.
    std::string GetNamePath() const override;

protected:
    // Reports a change of this item (or, with `AllItems`, of the whole list) to the collection.
    void Changed(bool AllItems);

private:
    friend class TCollection;
    TCollection* FCollection = nullptr;
    int FID = 0;
};

// An owned list of items of one item class.
class TCollection : public TPersistent {
public:
    // `AOwner` is the object whose property this collection is (for GetNamePath); not owned.
    explicit TCollection(TCollectionItemClass AItemClass, TPersistent* AOwner = nullptr);
    // Frees every item; Update is not called.
    ~TCollection() override;
    TCollection(const TCollection&) = delete;
    TCollection& operator=(const TCollection&) = delete;

    const TCollectionItemClass& ItemClass() const { return FItemClass; }
    TPersistent* Owner() const { return FOwner; }

    // A new item made by the item class, at the end.
    TCollectionItem* Add();
    // A new item at position `Index` (0..Count).
    TCollectionItem* Insert(int Index);
    // Frees the item at `Index`; EListError "List index out of bounds (%d)" for a bad index.
    void Delete(int Index);
    // Frees every item.
    void Clear();
    int Count() const { return static_cast<int>(FItems.size()); }
    // The item at `Index`; EListError "List index out of bounds (%d)" for a bad index.
    TCollectionItem* Items(int Index) const;
    // Assigns `Value` to the item at `Index`.
    void SetItems(int Index, const TCollectionItem* Value);
    // The item with this ID; null when none.
    TCollectionItem* FindItemID(int ID) const;

    // From another collection: clears this one and adds one item per source item, assigned from
    // it (the items' own Assign decides what is copied). Otherwise the base rules.
    void Assign(const TPersistent* Source) override;

    // Holds back Update calls until the matching EndUpdate; the last EndUpdate calls Update(null).
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    // "<owner's name path>.<property name>" when the owner publishes this collection, else the
    // class name.
    std::string GetNamePath() const override;

protected:
    // Called after a change when no update bracket is open: `Item` for a change of one item,
    // null for additions, removals, moves and whole-list changes.
    virtual void Update(TCollectionItem* Item) {}
    // Calls Update(null) unless an update bracket is open.
    void Changed();

private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem* Item);
    void RemoveItem(TCollectionItem* Item);

    TCollectionItemClass FItemClass;
    TPersistent* FOwner;
    std::vector<TCollectionItem*> FItems;
    int FNextID = 0;
    int FUpdateCount = 0;
};

}  // namespace ostra
