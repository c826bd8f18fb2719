// TCompoundList: pairs kept in step through sorting and searching, the sorted flags, and the
// AND/OR combination of record lists checked against a std::set model.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "engine/storage/orqCompoundList.h"
#include "host/Exceptions.h"

using namespace ostra;

namespace {

using Pairs = std::vector<std::pair<uint32_t, int32_t>>;

Pairs PairsOf(const TCompoundList& l) {
    Pairs r;
    for (int i = 0; i < l.Count(); ++i) r.emplace_back(l.List1()[std::size_t(i)], l.List2()[std::size_t(i)]);
    return r;
}

// A random list: addresses from a small range (so lists overlap and repeat), some at or above
// 2^31; record numbers unique so pairs can be told apart.
TCompoundList RandomList(std::mt19937& rng, int maxCount, int32_t recBase) {
    TCompoundList l;
    const int n = int(rng() % uint32_t(maxCount + 1));
    for (int i = 0; i < n; ++i) {
        uint32_t addr = 1 + rng() % 60;
        if (addr % 7 == 0) addr += 0x80000000u;
        l.Add(addr, recBase + i);
    }
    switch (rng() % 3) {
        case 0:
            l.SortList1();
            break;
        case 1:
            l.SortList2();
            break;
        default:
            break;
    }
    return l;
}

bool Ascending1(const TCompoundList& l) {
    return std::is_sorted(l.List1().begin(), l.List1().end());
}
bool Ascending2(const TCompoundList& l) {
    return std::is_sorted(l.List2().begin(), l.List2().end());
}

}  // namespace

TEST(TCompoundList, AddCountItemsAndClear) {
    TCompoundList l;
    EXPECT_EQ(l.Count(), 0);
    l.Add(30, 1);
    l.Add(10, 2);
    l.Add(20, 3);
    EXPECT_EQ(l.Count(), 3);
    EXPECT_EQ(l.Items(1), 10u);
    l.SetItems(1, 15);
    EXPECT_EQ(l.Items(1), 15u);
    EXPECT_EQ(l.List2()[1], 2);  // the record number stays with its position
    for (int bad : {-1, 3}) {
        try {
            l.Items(bad);
            ADD_FAILURE() << bad;
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
        }
        EXPECT_THROW(l.SetItems(bad, 1), EListError);
    }
    l.SortList1();
    EXPECT_TRUE(l.List1Sorted());
    l.Clear();
    EXPECT_EQ(l.Count(), 0);
    EXPECT_FALSE(l.List1Sorted());
    EXPECT_FALSE(l.List2Sorted());
}

TEST(TCompoundList, SortingKeepsPairsTogetherAndSetsTheFlags) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        TCompoundList l = RandomList(rng, 300, 0);
        Pairs before = PairsOf(l);

        l.SortList1();
        EXPECT_TRUE(l.List1Sorted());
        EXPECT_FALSE(l.List2Sorted());
        Pairs expected = before;
        std::stable_sort(expected.begin(), expected.end(),
                         [](auto& a, auto& b) { return a.first < b.first; });
        ASSERT_EQ(PairsOf(l), expected);

        l.SortList2();
        EXPECT_TRUE(l.List2Sorted());
        EXPECT_FALSE(l.List1Sorted());
        std::stable_sort(expected.begin(), expected.end(),
                         [](auto& a, auto& b) { return a.second < b.second; });
        ASSERT_EQ(PairsOf(l), expected);
    }
}

TEST(TCompoundList, SearchesAgreeWithALinearModelSortedOrNot) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        TCompoundList l = RandomList(rng, 200, -50);  // negative record numbers too
        for (uint32_t addr : {1u, 5u, 59u, 60u, 61u, 0x80000007u, 0x8000003Fu}) {
            const int at = l.IndexOfList1(addr);
            const bool present = std::find(l.List1().begin(), l.List1().end(), addr) != l.List1().end();
            if (!present) {
                EXPECT_EQ(at, -1);
            } else {
                ASSERT_GE(at, 0);
                EXPECT_EQ(l.List1()[std::size_t(at)], addr);
            }
            if (l.List1Sorted()) {
                EXPECT_EQ(TCompoundList::SearchSortedList(l.List1(), addr), at);
            }
        }
        for (int32_t rec : {-50, -1, 0, 17, 149, 150, 1000}) {
            const int at = l.IndexOfList2(rec);
            const bool present = std::find(l.List2().begin(), l.List2().end(), rec) != l.List2().end();
            EXPECT_EQ(at >= 0, present);
            if (at >= 0) {
                EXPECT_EQ(l.List2()[std::size_t(at)], rec);
            }
        }
    }
}

TEST(TCompoundList, SortedFlagsFollowTheOrderOfAddedValues) {
    TCompoundList l;
    l.Add(10, 1);
    l.SortList1();
    l.Add(20, 2);  // still ascending
    EXPECT_TRUE(l.List1Sorted());
    l.SetItems(1, 25);
    EXPECT_TRUE(l.List1Sorted());
    l.Add(5, 3);  // breaks the order: searches go linear and still find it
    EXPECT_FALSE(l.List1Sorted());
    EXPECT_EQ(l.IndexOfList1(5), 2);
    l.SortList1();
    l.SetItems(0, 99);
    EXPECT_FALSE(l.List1Sorted());
    EXPECT_EQ(l.IndexOfList1(99), 0);
}

TEST(TCompoundList, IntersectAndJoinAgreeWithASetModel) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 2000; ++round) {
        const TCompoundList small = RandomList(rng, 40, 0);
        const TCompoundList big = RandomList(rng, 80, 1000);
        std::set<uint32_t> bigSet(big.List1().begin(), big.List1().end());

        Pairs andExpected, orExpected = PairsOf(big);
        for (auto& p : PairsOf(small)) {
            if (bigSet.count(p.first))
                andExpected.push_back(p);
            else
                orExpected.push_back(p);
        }

        TCompoundList andResult, orResult;
        IntersectLists(small, big, andResult);
        JoinLists(small, big, orResult);
        ASSERT_EQ(PairsOf(andResult), andExpected);
        ASSERT_EQ(PairsOf(orResult), orExpected);
        // A flag is never set on a list out of order, and searches find every address.
        for (const TCompoundList* r : {&andResult, &orResult}) {
            EXPECT_TRUE(!r->List1Sorted() || Ascending1(*r));
            EXPECT_TRUE(!r->List2Sorted() || Ascending2(*r));
            for (int i = 0; i < r->Count(); ++i) EXPECT_GE(r->IndexOfList1(r->List1()[std::size_t(i)]), 0);
        }
        EXPECT_EQ(andResult.List1Sorted(), small.List1Sorted());

        // The result may be one of the inputs.
        TCompoundList a = small, b = big;
        IntersectLists(a, b, a);
        EXPECT_EQ(PairsOf(a), andExpected);
        a = small;
        JoinLists(a, b, b);
        EXPECT_EQ(PairsOf(b), orExpected);
    }
}
