// TSortedList (sorting threshold, binary and linear search, the sorted flag) and TStackList.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "engine/storage/orqCommon.h"
#include "engine/storage/orqLists.h"
#include "host/Exceptions.h"

using namespace ostra;

namespace {

void* P(uintptr_t v) {
    return reinterpret_cast<void*>(v);
}

// n distinct values in random order, some of them at or above 2^31.
std::vector<uintptr_t> Shuffled(int n, unsigned seed) {
    std::vector<uintptr_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[std::size_t(i)] = (i % 3 == 0) ? 0x80000000u + 16u * uintptr_t(i) : 16u * uintptr_t(i + 1);
    std::shuffle(v.begin(), v.end(), std::mt19937(seed));
    return v;
}

}  // namespace

TEST(TSortedList, HundredItemsStayUnsortedAndAreSearchedLinearly) {
    TSortedList list;
    const auto values = Shuffled(100, 1);
    for (uintptr_t v : values) list.Add(P(v));
    list.SetSorted(true);
    list.SortList(AscendingListSort);
    EXPECT_FALSE(list.Sorted());
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(list.Get(i), P(values[std::size_t(i)]));  // order untouched
        EXPECT_EQ(list.SortedIndexOf(P(values[std::size_t(i)])), i);
    }
    EXPECT_EQ(list.SortedIndexOf(P(3)), -1);
}

TEST(TSortedList, MoreThanHundredItemsAreSortedUnsignedAndSearchedByBinarySearch) {
    for (int n : {101, 1000}) {
        TSortedList list;
        const auto values = Shuffled(n, unsigned(n));
        for (uintptr_t v : values) list.Add(P(v));
        list.SortList(AscendingListSort);
        ASSERT_TRUE(list.Sorted());
        for (int i = 1; i < n; ++i) ASSERT_LT(uintptr_t(list.Get(i - 1)), uintptr_t(list.Get(i)));
        for (uintptr_t v : values) {
            const int at = list.SortedIndexOf(P(v));
            ASSERT_GE(at, 0);
            EXPECT_EQ(list.Get(at), P(v));
            EXPECT_EQ(list.SearchSortedList(P(v)), at);
        }
        EXPECT_EQ(list.SortedIndexOf(P(3)), -1);
        EXPECT_EQ(list.SortedIndexOf(P(0xFFFFFFF0u)), -1);
    }
}

TEST(TSortedList, AnItemAddedAfterSortingIsStillFound) {
    TSortedList list;
    for (uintptr_t v : Shuffled(200, 5)) list.Add(P(v));
    list.SortList(AscendingListSort);
    ASSERT_TRUE(list.Sorted());
    list.Add(P(1));  // below every value: a binary search would miss it
    EXPECT_FALSE(list.Sorted());
    EXPECT_EQ(list.SortedIndexOf(P(1)), 200);
    list.SortList(AscendingListSort);
    EXPECT_TRUE(list.Sorted());
    EXPECT_EQ(list.SortedIndexOf(P(1)), 0);
    list.SetItems(5, P(7));
    EXPECT_FALSE(list.Sorted());
    EXPECT_EQ(list.SortedIndexOf(P(7)), 5);
}

TEST(TSortedList, BinarySearchFindsOneOfEqualItems) {
    TSortedList list;
    for (int i = 0; i < 150; ++i) list.Add(P(uintptr_t(i / 10 + 1)));
    list.SortList(AscendingListSort);
    for (uintptr_t v = 1; v <= 15; ++v) {
        const int at = list.SortedIndexOf(P(v));
        ASSERT_GE(at, 0);
        EXPECT_EQ(list.Get(at), P(v));
    }
}

TEST(TStackList, PushPopPeek) {
    TStackList stack;
    EXPECT_EQ(stack.Peek(), nullptr);
    stack.Push(P(1));
    stack.Push(P(2));
    stack.Push(P(3));
    EXPECT_EQ(stack.Peek(), P(3));
    EXPECT_EQ(stack.Pop(), P(3));
    EXPECT_EQ(stack.Pop(), P(2));
    EXPECT_EQ(stack.Peek(), P(1));
    EXPECT_EQ(stack.Pop(), P(1));
    EXPECT_EQ(stack.Count(), 0);
    EXPECT_EQ(stack.Peek(), nullptr);
    try {
        stack.Pop();
        ADD_FAILURE() << "Pop on an empty stack";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (-1)");
    }
}
