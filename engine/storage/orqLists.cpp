// orqLists: TSortedList and TStackList. See orqLists.h.
#include "engine/storage/orqLists.h"

#include "engine/storage/orqCommon.h"

namespace ostra {

void TSortedList::SortList(const TListSortCompare& Compare) {
    if (Count() <= 100) {
        FSorted = false;
        return;
    }
    Sort(Compare);
    FSorted = true;
}

int TSortedList::SortedIndexOf(void* P) const {
    return FSorted ? SearchSortedList(P) : IndexOf(P);
}

int TSortedList::SearchSortedList(void* P) const {
    int lo = 0;
    int hi = Count() - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const int c = AscendingListSort(Get(mid), P);
        if (c == 0) return mid;
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

void TSortedList::Notify(void* Ptr, TListNotification Action) {
    if (Action == lnAdded) FSorted = false;
    TList::Notify(Ptr, Action);
}

void* TStackList::Pop() {
    const int top = Count() - 1;
    void* item = Get(top);
    Delete(top);
    return item;
}

}  // namespace ostra
