// orqCompoundList: TCompoundList, the list of record addresses with their logical record
// numbers that index range scans produce and filters combine.
//
// Two parallel lists: the lead list (record addresses, unsigned 32-bit) and the second list
// (the matching logical record numbers, signed 32-bit). Entry i of both belongs together.
// Each list has a sorted flag; a sorted list is searched by binary search, an unsorted one
// linearly. IntersectLists and JoinLists combine two lists for AND and OR in O(n log n).
#pragma once
#include <cstdint>
#include <vector>

#include "host/Object.h"

namespace ostra {

// Pairs (record address, logical record number) in the order they were added or sorted.
//
// Invariants: List1() and List2() always have the same length; List1Sorted() implies List1()
// is ascending (unsigned), List2Sorted() implies List2() is ascending (signed). Add and
// SetItems clear a flag only when the new value breaks that list's order.
class TCompoundList : public TObject {
public:
    TCompoundList() = default;
    TCompoundList(const TCompoundList&) = default;
    TCompoundList& operator=(const TCompoundList&) = default;
    TCompoundList(TCompoundList&&) noexcept = default;
    TCompoundList& operator=(TCompoundList&&) noexcept = default;

    // Appends the pair (Addr, RecNo).
    void Add(uint32_t Addr, int32_t RecNo);
    // Room for Count pairs in all, so that adding up to that many moves nothing.
    void Reserve(int Count) {
        FList1.reserve(size_t(Count));
        FList2.reserve(size_t(Count));
    }
    // Empties both lists; both sorted flags become false.
    void Clear();
    // The number of pairs. Raises Exception "Compound list - list counts do no match" when the
    // two lists differ in length.
    int Count() const;
    // The record address at i; an index outside 0..Count-1 raises EListError
    // "List index out of bounds (<i>)".
    uint32_t Items(int i) const;
    // Replaces the record address at i (its record number stays).
    void SetItems(int i, uint32_t Value);

    // The position of Value in the lead / second list: binary search when that list's sorted
    // flag is set, else linear (first occurrence); -1 when absent.
    int IndexOfList1(uint32_t Value) const;
    int IndexOfList2(int32_t Value) const;
    // Sorts both lists in step, ordered by the lead / the second list (equal values keep their
    // relative order); sets that list's sorted flag and clears the other.
    void SortList1();
    void SortList2();

    bool List1Sorted() const { return FList1Sorted; }
    bool List2Sorted() const { return FList2Sorted; }
    const std::vector<uint32_t>& List1() const { return FList1; }
    const std::vector<int32_t>& List2() const { return FList2; }

    // Binary search of an ascending list; with equal values present, any one of their
    // positions; -1 when absent.
    static int SearchSortedList(const std::vector<uint32_t>& List, uint32_t Value);
    static int SearchSortedList(const std::vector<int32_t>& List, int32_t Value);

private:
    friend void IntersectLists(const TCompoundList&, const TCompoundList&, TCompoundList&);

    std::vector<uint32_t> FList1;  // the lead list: record addresses
    std::vector<int32_t> FList2;   // the second list: logical record numbers
    bool FList1Sorted = false;
    bool FList2Sorted = false;
};

// AND of two record lists: the pairs of Small whose address occurs in Big, in Small's order;
// Result keeps Small's sorted flags. Result may be Small or Big itself.
void IntersectLists(const TCompoundList& Small, const TCompoundList& Big, TCompoundList& Result);

// OR of two record lists: all pairs of Big, then the pairs of Small whose address does not
// occur in Big, in Small's order; Result keeps Big's sorted flags while the appended pairs keep
// their order. Result may be Small or Big itself.
void JoinLists(const TCompoundList& Small, const TCompoundList& Big, TCompoundList& Result);

}  // namespace ostra
