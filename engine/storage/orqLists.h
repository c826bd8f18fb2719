// orqLists: the engine's general pointer lists on top of the host TList.
//
// TSortedList keeps record addresses (or other pointer-sized values) and searches them by
// binary search once it has been sorted; TStackList is a last-in, first-out stack. Both hold
// plain values and own nothing.
#pragma once
#include "host/Lists.h"

namespace ostra {

// A pointer list that knows whether it is in ascending order (AscendingListSort) and then
// searches it by binary search.
//
// Invariant: Sorted() implies the items are in ascending order of their values. Sorting sets
// the flag; every non-nil item that enters the list afterwards (Add, Insert, SetItems) clears
// it, so a search never relies on an order the list no longer has. Exchange and Move leave it alone:
// callers that reorder by hand sort again.
class TSortedList : public TList {
public:
    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value) { FSorted = Value; }

    // A list of 100 or fewer items is left as it is and becomes unsorted (a linear search is as
    // quick); a longer one is sorted with Compare and becomes sorted. Compare must order as
    // AscendingListSort does for the searches to find anything.
    void SortList(const TListSortCompare& Compare);
    // The position of P: binary search when Sorted(), else the list's linear IndexOf; -1 when absent.
    int SortedIndexOf(void* P) const;
    // Binary search for P's value over the whole list (assumed ascending); with equal items
    // present, any one of their positions; -1 when absent.
    int SearchSortedList(void* P) const;

protected:
    void Notify(void* Ptr, TListNotification Action) override;

private:
    bool FSorted = false;
};

// A stack on a pointer list: the last item is the top.
class TStackList : public TList {
public:
    // Appends P.
    void Push(void* P) { Add(P); }
    // Removes and returns the top item; an empty stack raises EListError "List index out of bounds (-1)".
    void* Pop();
    // The top item, nullptr on an empty stack.
    void* Peek() const { return Count() > 0 ? Get(Count() - 1) : nullptr; }
};

}  // namespace ostra
