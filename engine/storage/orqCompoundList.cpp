// orqCompoundList: TCompoundList and the AND/OR combination of record lists. See orqCompoundList.h.
#include "engine/storage/orqCompoundList.h"

#include <algorithm>
#include <string>
#include <utility>

#include "host/Exceptions.h"

namespace ostra {

namespace {

[[noreturn]] void IndexError(int i) {
    throw EListError("List index out of bounds (" + std::to_string(i) + ")");
}

// Sorts positions L..R of Lead ascending and makes every move in Other at the same positions.
// A stable merge sort of the pairs: O(n log n) on any input, equal leads keep their order.
template <class TLead, class TOther>
void QuickSortLeadList(int L, int R, std::vector<TOther>& Other, std::vector<TLead>& Lead) {
    if (L >= R) return;
    std::vector<std::pair<TLead, TOther>> pairs;
    pairs.reserve(std::size_t(R - L + 1));
    for (int i = L; i <= R; ++i) pairs.emplace_back(Lead[i], Other[i]);
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (int i = L; i <= R; ++i) {
        Lead[i] = pairs[std::size_t(i - L)].first;
        Other[i] = pairs[std::size_t(i - L)].second;
    }
}

template <class T>
int BinarySearch(const std::vector<T>& List, T Value) {
    int lo = 0;
    int hi = int(List.size()) - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        if (List[std::size_t(mid)] == Value) return mid;
        if (List[std::size_t(mid)] < Value)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

template <class T>
int IndexOfIn(const std::vector<T>& List, bool Sorted, T Value) {
    if (Sorted) return BinarySearch(List, Value);
    auto it = std::find(List.begin(), List.end(), Value);
    return it == List.end() ? -1 : int(it - List.begin());
}

// The addresses of a list in ascending order, for membership tests: the list itself when it is
// sorted, else a sorted copy held in `scratch`.
const std::vector<uint32_t>& SortedAddresses(const TCompoundList& List, std::vector<uint32_t>& scratch) {
    if (List.List1Sorted()) return List.List1();
    scratch = List.List1();
    std::sort(scratch.begin(), scratch.end());
    return scratch;
}

}  // namespace

void TCompoundList::Add(uint32_t Addr, int32_t RecNo) {
    if (!FList1.empty() && Addr < FList1.back()) FList1Sorted = false;
    if (!FList2.empty() && RecNo < FList2.back()) FList2Sorted = false;
    FList1.push_back(Addr);
    FList2.push_back(RecNo);
}

void TCompoundList::Clear() {
    FList1.clear();
    FList2.clear();
    FList1Sorted = false;
    FList2Sorted = false;
}

int TCompoundList::Count() const {
    if (FList1.size() != FList2.size()) throw Exception("Compound list - list counts do no match");
    return int(FList1.size());
}

uint32_t TCompoundList::Items(int i) const {
    if (i < 0 || i >= int(FList1.size())) IndexError(i);
    return FList1[std::size_t(i)];
}

void TCompoundList::SetItems(int i, uint32_t Value) {
    if (i < 0 || i >= int(FList1.size())) IndexError(i);
    const std::size_t k = std::size_t(i);
    if (FList1Sorted &&
        ((k > 0 && Value < FList1[k - 1]) || (k + 1 < FList1.size() && FList1[k + 1] < Value)))
        FList1Sorted = false;
    FList1[k] = Value;
}

int TCompoundList::IndexOfList1(uint32_t Value) const {
    return IndexOfIn(FList1, FList1Sorted, Value);
}

int TCompoundList::IndexOfList2(int32_t Value) const {
    return IndexOfIn(FList2, FList2Sorted, Value);
}

void TCompoundList::SortList1() {
    QuickSortLeadList(0, Count() - 1, FList2, FList1);
    FList1Sorted = true;
    FList2Sorted = false;
}

void TCompoundList::SortList2() {
    QuickSortLeadList(0, Count() - 1, FList1, FList2);
    FList2Sorted = true;
    FList1Sorted = false;
}

int TCompoundList::SearchSortedList(const std::vector<uint32_t>& List, uint32_t Value) {
    return BinarySearch(List, Value);
}

int TCompoundList::SearchSortedList(const std::vector<int32_t>& List, int32_t Value) {
    return BinarySearch(List, Value);
}

void IntersectLists(const TCompoundList& Small, const TCompoundList& Big, TCompoundList& Result) {
    std::vector<uint32_t> scratch;
    const std::vector<uint32_t>& big = SortedAddresses(Big, scratch);
    TCompoundList out;
    const int n = Small.Count();
    for (int i = 0; i < n; ++i) {
        const uint32_t addr = Small.List1()[std::size_t(i)];
        if (std::binary_search(big.begin(), big.end(), addr)) out.Add(addr, Small.List2()[std::size_t(i)]);
    }
    // A subsequence keeps the order of the list it came from.
    out.FList1Sorted = Small.FList1Sorted;
    out.FList2Sorted = Small.FList2Sorted;
    Result = std::move(out);
}

void JoinLists(const TCompoundList& Small, const TCompoundList& Big, TCompoundList& Result) {
    std::vector<uint32_t> scratch;
    const std::vector<uint32_t>& big = SortedAddresses(Big, scratch);
    TCompoundList out = Big;
    const int n = Small.Count();
    for (int i = 0; i < n; ++i) {
        const uint32_t addr = Small.List1()[std::size_t(i)];
        if (!std::binary_search(big.begin(), big.end(), addr)) out.Add(addr, Small.List2()[std::size_t(i)]);
    }
    Result = std::move(out);
}

}  // namespace ostra
