// TList: bounds errors, the notification contract that owning descendants rely on, sorting,
// and a randomized run against a plain vector.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/Exceptions.h"
#include "host/Lists.h"

using namespace ostra;

namespace {

void* P(intptr_t v) {
    return reinterpret_cast<void*>(v);
}
intptr_t V(void* p) {
    return reinterpret_cast<intptr_t>(p);
}

std::vector<intptr_t> Contents(const TList& list) {
    std::vector<intptr_t> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(V(list.Items(i)));
    return out;
}

// Records every notification as "+v", "-v" (deleted) or "x v" (extracted).
class TRecordingList : public TList {
public:
    ~TRecordingList() override { Clear(); }
    std::vector<std::string> Log;

protected:
    void Notify(void* Ptr, TListNotification Action) override {
        const char* tag = Action == lnAdded ? "+" : (Action == lnDeleted ? "-" : "x");
        Log.push_back(tag + std::to_string(V(Ptr)));
    }
};

// Owns heap integers: frees them when they are deleted, not when they are extracted.
class TOwningList : public TList {
public:
    ~TOwningList() override { Clear(); }

protected:
    void Notify(void* Ptr, TListNotification Action) override {
        if (Action == lnDeleted) delete static_cast<int*>(Ptr);
    }
};

template <class F>
std::string ListErrorText(F&& f) {
    try {
        f();
    } catch (const EListError& e) {
        return e.Message();
    }
    return "no error";
}

}  // namespace

TEST(TList, IndexErrorsNameTheIndex) {
    TList list;
    EXPECT_EQ(ListErrorText([&] { list.First(); }), "List index out of bounds (0)");
    EXPECT_EQ(ListErrorText([&] { list.Last(); }), "List index out of bounds (-1)");
    list.Add(P(1));
    list.Add(P(2));
    EXPECT_EQ(ListErrorText([&] { list.Get(2); }), "List index out of bounds (2)");
    EXPECT_EQ(ListErrorText([&] { list.Get(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(ListErrorText([&] { list.Put(5, P(3)); }), "List index out of bounds (5)");
    EXPECT_EQ(ListErrorText([&] { list.Insert(3, P(3)); }), "List index out of bounds (3)");
    EXPECT_EQ(ListErrorText([&] { list.Delete(2); }), "List index out of bounds (2)");
    EXPECT_EQ(ListErrorText([&] { list.Exchange(0, 7); }), "List index out of bounds (7)");
    EXPECT_EQ(ListErrorText([&] { list.Move(0, 2); }), "List index out of bounds (2)");
    EXPECT_EQ(ListErrorText([&] { list.SetCount(-1); }), "List count out of bounds (-1)");
    EXPECT_EQ(ListErrorText([&] { list.SetCapacity(1); }), "List capacity out of bounds (1)");
    // Nothing of the failed calls changed the list.
    EXPECT_EQ(Contents(list), (std::vector<intptr_t>{1, 2}));
    list.Insert(2, P(3));  // inserting at Count appends
    EXPECT_EQ(list.First(), P(1));
    EXPECT_EQ(list.Last(), P(3));
}

TEST(TList, NotifiesEveryItemThatEntersOrLeaves) {
    TRecordingList list;
    list.Add(P(1));
    list.Add(nullptr);  // nil items are never notified
    list.Insert(0, P(2));
    list.Put(0, P(3));    // old one deleted, new one added
    list.Put(0, P(3));    // same item: nothing happens
    list.Extract(P(1));   // extracted, not deleted
    list.Extract(P(99));  // absent: nothing
    list.Remove(P(3));    // deleted
    list.Add(P(4));
    list.Add(P(5));
    list.SetCount(1);  // shrinking deletes from the end
    list.SetCount(3);  // growing adds nil items silently
    list.Clear();
    EXPECT_EQ(list.Log,
              (std::vector<std::string>{"+1", "+2", "-2", "+3", "x1", "-3", "+4", "+5", "-5", "-4"}));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
}

TEST(TList, OwningDescendantFreesDeletedButNotExtractedItems) {
    // Run under the leak checker: every int is freed exactly once.
    int* extracted = new int(7);
    {
        TOwningList list;
        for (int i = 0; i < 10; ++i) list.Add(new int(i));
        list.Add(extracted);
        EXPECT_EQ(list.Extract(extracted), extracted);
        list.Delete(0);
        list.Put(0, new int(42));
        list.SetCount(5);
    }  // the rest are freed by the destructor's Clear
    EXPECT_EQ(*extracted, 7);
    delete extracted;
}

TEST(TList, MoveExchangePackAndExpand) {
    TList list;
    for (int i = 1; i <= 5; ++i) list.Add(P(i));
    list.Move(0, 4);
    EXPECT_EQ(Contents(list), (std::vector<intptr_t>{2, 3, 4, 5, 1}));
    list.Move(4, 1);
    EXPECT_EQ(Contents(list), (std::vector<intptr_t>{2, 1, 3, 4, 5}));
    list.Exchange(0, 4);
    EXPECT_EQ(Contents(list), (std::vector<intptr_t>{5, 1, 3, 4, 2}));
    list.Put(1, nullptr);
    list.Insert(0, nullptr);
    list.Add(nullptr);
    list.Pack();
    EXPECT_EQ(Contents(list), (std::vector<intptr_t>{5, 3, 4, 2}));
    EXPECT_EQ(list.IndexOf(P(4)), 2);
    EXPECT_EQ(list.IndexOf(P(9)), -1);

    TList grow;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(grow.Expand(), &grow);
        ASSERT_GT(grow.Capacity(), grow.Count());
        grow.Add(P(i));
    }
    grow.SetCapacity(grow.Count());
    EXPECT_EQ(grow.Capacity(), 1000);
}

TEST(TList, SortOrdersWithTheCompareFunction) {
    std::mt19937 rng(11);
    for (int n : {0, 1, 2, 3, 10, 100, 1000}) {
        TList list;
        std::vector<intptr_t> model;
        for (int i = 0; i < n; ++i) {
            intptr_t v = rng() % 50;  // many equal keys
            list.Add(P(v));
            model.push_back(v);
        }
        list.Sort([](void* a, void* b) { return V(a) < V(b) ? -1 : (V(a) > V(b) ? 1 : 0); });
        std::sort(model.begin(), model.end());
        EXPECT_EQ(Contents(list), model) << "n=" << n;
        // Already sorted and reverse-sorted input.
        list.Sort([](void* a, void* b) { return V(a) > V(b) ? -1 : (V(a) < V(b) ? 1 : 0); });
        std::reverse(model.begin(), model.end());
        EXPECT_EQ(Contents(list), model) << "n=" << n;
    }
}

TEST(TList, SortSurvivesAnInconsistentCompare) {
    // A compare that is no order must not make the sort run outside the list or loop forever.
    std::mt19937 rng(5);
    TList list;
    for (int i = 0; i < 500; ++i) list.Add(P(i + 1));
    list.Sort([&](void*, void*) { return static_cast<int>(rng() % 3) - 1; });
    std::vector<intptr_t> items = Contents(list);
    std::sort(items.begin(), items.end());
    for (int i = 0; i < 500; ++i) ASSERT_EQ(items[i], i + 1);
    list.Sort([](void*, void*) { return -1; });
    list.Sort([](void*, void*) { return 1; });
    EXPECT_EQ(list.Count(), 500);
}

TEST(TList, RandomOperationsMatchAVector) {
    std::mt19937 rng(2024);
    TRecordingList list;
    std::vector<intptr_t> model;
    int added = 0;
    int removed = 0;
    for (int step = 0; step < 20000; ++step) {
        int n = static_cast<int>(model.size());
        intptr_t v = 1 + rng() % 200;
        switch (rng() % 8) {
            case 0:
            case 1:
                ASSERT_EQ(list.Add(P(v)), n);
                model.push_back(v);
                ++added;
                break;
            case 2: {
                int i = rng() % (n + 1);
                list.Insert(i, P(v));
                model.insert(model.begin() + i, v);
                ++added;
                break;
            }
            case 3:
                if (n) {
                    int i = rng() % n;
                    list.Delete(i);
                    model.erase(model.begin() + i);
                    ++removed;
                }
                break;
            case 4: {
                auto it = std::find(model.begin(), model.end(), v);
                int expected = it == model.end() ? -1 : static_cast<int>(it - model.begin());
                ASSERT_EQ(list.Remove(P(v)), expected);
                if (it != model.end()) {
                    model.erase(it);
                    ++removed;
                }
                break;
            }
            case 5:
                if (n) {
                    int a = rng() % n, b = rng() % n;
                    list.Move(a, b);
                    intptr_t item = model[a];
                    model.erase(model.begin() + a);
                    model.insert(model.begin() + b, item);
                }
                break;
            case 6:
                if (n) {
                    int a = rng() % n, b = rng() % n;
                    list.Exchange(a, b);
                    std::swap(model[a], model[b]);
                }
                break;
            case 7: {
                auto it = std::find(model.begin(), model.end(), v);
                ASSERT_EQ(list.Extract(P(v)), it == model.end() ? nullptr : P(v));
                if (it != model.end()) {
                    model.erase(it);
                    ++removed;
                }
                break;
            }
        }
        ASSERT_EQ(list.Count(), static_cast<int>(model.size()));
    }
    EXPECT_EQ(Contents(list), model);
    EXPECT_EQ(static_cast<int>(list.Log.size()), added + removed);
}
