// The quicksort behind TList::Sort and TStringList::CustomSort. It works on positions only:
// the caller supplies "compare the items at i and j" and "exchange the items at i and j", so
// a comparison may look at the list itself (as TStringList's index-based compare functions do).
// It partitions exactly as the host framework's list sort does, so lists with equal keys end
// in the same order; the scans are bounded so a comparison that is not a consistent order
// leaves the list unsorted but never reads outside it, and the smaller side is sorted by
// recursion and the larger one by looping, so the stack depth stays logarithmic.
#pragma once

namespace ostra::detail {

// Sorts positions [l, r] (inclusive). compare(i, j) < 0 when item i sorts before item j.
template <class Compare, class Exchange>
void QuickSortPositions(int l, int r, Compare&& compare, Exchange&& exchange) {
    while (l < r) {
        int i = l;
        int j = r;
        int p = l + (r - l) / 2;
        do {
            while (i < r && compare(i, p) < 0) ++i;
            while (j > l && compare(j, p) > 0) --j;
            if (i <= j) {
                if (i != j) exchange(i, j);
                if (p == i)
                    p = j;
                else if (p == j)
                    p = i;
                ++i;
                --j;
            }
        } while (i <= j);
        // [l, j] and [i, r] are now separate; each partition is independent of the order in
        // which the two sides are finished.
        if (j - l < r - i) {
            if (l < j) QuickSortPositions(l, j, compare, exchange);
            l = i;
        } else {
            if (i < r) QuickSortPositions(i, r, compare, exchange);
            r = j;
        }
    }
}

}  // namespace ostra::detail
