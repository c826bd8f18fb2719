// TList, the host library's list of untyped pointers. The engine keeps record addresses,
// objects and buffers in it and derives its own lists from it (sorted lists, stacks); a
// descendant that owns its items learns of every item that enters or leaves through Notify.
#pragma once
#include <functional>
#include <vector>

#include "host/Object.h"

namespace ostra {

// What happened to an item, as Notify reports it.
enum TListNotification { lnAdded, lnExtracted, lnDeleted };

// Orders two items for TList::Sort: negative, 0 or positive as Item1 sorts before, with or
// after Item2.
using TListSortCompare = std::function<int(void* Item1, void* Item2)>;

// A growable array of pointers, indexed from 0. Every index outside 0..Count-1 raises
// EListError "List index out of bounds (<index>)". Nil items are allowed and never notified.
//
// The destructor empties the list through Clear, but C++ does not dispatch virtual calls to a
// descendant from a base destructor: a descendant that owns its items calls Clear() in its
// own destructor so that its Notify sees the deletions.
class TList : public TObject {
public:
    TList() = default;
    ~TList() override;
    TList(const TList&) = delete;
    TList& operator=(const TList&) = delete;

    // Appends `Item`; returns its index. Notifies lnAdded.
    int Add(void* Item);
    // Inserts `Item` before position `Index` (0..Count). Notifies lnAdded.
    void Insert(int Index, void* Item);
    // Removes the item at `Index`. Notifies lnDeleted.
    void Delete(int Index);
    // Removes the first occurrence of `Item`; returns its former index, or -1 (nothing done).
    int Remove(void* Item);
    // Removes the first occurrence of `Item` and notifies lnExtracted (not lnDeleted): the
    // caller takes the item over. Returns `Item`, or nullptr when it is not in the list.
    void* Extract(void* Item);
    // The index of the first occurrence of `Item`, or -1.
    int IndexOf(void* Item) const;

    // Items[Index]: Get/Items read, Put/SetItems replace (lnDeleted for the old item and
    // lnAdded for the new one when they differ).
    void* Get(int Index) const;
    void Put(int Index, void* Item);
    void* Items(int Index) const { return Get(Index); }
    void SetItems(int Index, void* Item) { Put(Index, Item); }
    // The first and the last item; both raise on an empty list.
    void* First() const;
    void* Last() const;

    int Count() const { return static_cast<int>(FList.size()); }
    // Grows the list with nil items or shrinks it by deleting from the end (each deletion
    // notified). A negative count raises EListError "List count out of bounds (<count>)".
    void SetCount(int NewCount);
    // The number of items the list holds before it must reallocate.
    int Capacity() const { return static_cast<int>(FList.capacity()); }
    // A capacity below Count raises EListError "List capacity out of bounds (<capacity>)".
    void SetCapacity(int NewCapacity);
    // Makes room for at least one more item when the list is full; returns this list.
    TList* Expand();

    // Swaps the items at two positions; no notifications.
    void Exchange(int Index1, int Index2);
    // Moves the item at CurIndex to NewIndex, shifting the items between; no notifications.
    void Move(int CurIndex, int NewIndex);
    // Deletes every item (from the last to the first, each notified) and releases the memory.
    virtual void Clear();
    // Removes every nil item.
    void Pack();
    // Sorts the items with `Compare` (quicksort; equal items keep no particular order).
    void Sort(const TListSortCompare& Compare);

protected:
    // Called after an item entered the list (lnAdded) and after it left it (lnExtracted,
    // lnDeleted); never for nil items. The base does nothing.
    virtual void Notify(void* Ptr, TListNotification Action) {}

private:
    void CheckIndex(int Index) const;
    std::vector<void*> FList;
};

}  // namespace ostra
