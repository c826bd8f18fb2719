// B+-tree: the six search types against a model across leaf boundaries, limited searches over
// runs of equal leading fields, record numbers, range listings, read-ahead and hash fills, key
// order at the extremes of each type and for descending and case-insensitive fields, the
// structure after splits and collapses, corrupt pages, and a randomized insert/delete run
// checked after every step against a std::map model on memory and disk storage.
#include "engine/storage/orqBTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/storage/orqCompoundList.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqHash.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "host/Collation.h"
#include "host/StringList.h"
#include "support/DiskTestSupport.h"
#include "support/orqErrorCapture.h"
#include "support/orqTreeFixture.h"

using namespace ostra;
using ostra::storagetest::ErrorCode;
using ostra::testing::CheckTree;
using ostra::testing::Request;
using ostra::testing::TreeRig;

namespace {

// A unique index on one Integer field I.
TreeRig IntRig(bool OnDisk = false, bool Descending = false) {
    return TreeRig({{"I", ftInteger}, {"J", ftInteger}}, Request("i", "I", true, Descending), OnDisk);
}

std::vector<uint32_t> Walk(TreeRig& Rig) {
    std::vector<uint32_t> addresses;
    const std::string fault = CheckTree(Rig, addresses);
    EXPECT_EQ(fault, "");
    return addresses;
}

// The addresses met stepping with NextRecord from the first key.
std::vector<uint32_t> StepForward(TreeRig& Rig) {
    std::vector<uint32_t> out;
    const TKeyMarkerList first = {fcForceBOF};
    Rig.Tree.ConstructKeyBufFromVariants(Null(), &first);
    if (Rig.Tree.IndexSearch(stGE, nullptr) != 0) return out;
    do out.push_back(Rig.Tree.GetRecAddr());
    while (Rig.Tree.NextRecord());
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Searches

TEST(BTreeSearch, SixSearchTypesOnFiveKeys) {
    TreeRig rig = IntRig();
    for (int v : {30, 10, 50, 20, 40}) ASSERT_EQ(rig.Insert({v}, 100 + v), 0);
    struct Case {
        TIndexSearchType Type;
        int Key;
        uint32_t Expected;  // 0 = not found
    };
    const Case cases[] = {
        {stLT, 10, 0},   {stLT, 25, 120}, {stLT, 60, 150},  {stLT, 5, 0},     {stLE, 10, 110},
        {stLE, 25, 120}, {stLE, 5, 0},    {stLE, 60, 150},  {stEQ, 30, 130},  {stEQ, 25, 0},
        {stGE, 25, 130}, {stGE, 50, 150}, {stGE, 55, 0},    {stGE, 5, 110},   {stGT, 50, 0},
        {stGT, 25, 130}, {stGT, 10, 120}, {stLEG, 25, 130}, {stLEG, 60, 150}, {stLEG, 30, 130},
        {stLEG, 5, 110},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rig.Find(c.Type, {c.Key}), c.Expected) << "type " << int(c.Type) << " key " << c.Key;

    rig.Key({10});
    EXPECT_EQ(rig.Tree.IndexSearch(stLT, nullptr), -1) << "stLT on the first key";
    rig.Key({50});
    EXPECT_EQ(rig.Tree.IndexSearch(stGT, nullptr), -1) << "stGT on the last key";
}

TEST(BTreeSearch, StLEGAfterTheOnlyKeyFindsIt) {
    TreeRig rig = IntRig();
    ASSERT_EQ(rig.Insert({7}, 77), 0);
    EXPECT_EQ(rig.Find(stLEG, {8}), 77u);
    EXPECT_EQ(rig.Find(stLEG, {6}), 77u);
    rig.Tree.ConstructKeyBufFromVariants(VarArrayOf({9}), nullptr);
    TreeRig empty = IntRig();
    empty.Key({1});
    EXPECT_NE(empty.Tree.IndexSearch(stLEG, nullptr), 0) << "an empty index finds nothing";
}

// Every search type, for keys on and between the stored ones, across many leaves: the found
// address and record number against a sorted model.
TEST(BTreeSearch, EveryTypeMatchesTheModelAcrossLeaves) {
    for (bool disk : {false, true}) {
        TreeRig rig = IntRig(disk);
        std::vector<int> keys;
        for (int v = 0; v < 2000; v += 2) keys.push_back(v);
        std::mt19937 rng(7);
        std::vector<int> order = keys;
        std::shuffle(order.begin(), order.end(), rng);
        for (int v : order) ASSERT_EQ(rig.Insert({v}, 1000 + v), 0);
        ASSERT_EQ(rig.Depth, 2u);
        auto rank = [&](int v) { return int(std::lower_bound(keys.begin(), keys.end(), v) - keys.begin()); };
        for (int probe = -3; probe <= 2003; probe += (probe % 97 == 0 ? 1 : 13)) {
            const int lower = rank(probe);  // first >= probe
            const bool equal = lower < int(keys.size()) && keys[lower] == probe;
            const int upper = equal ? lower + 1 : lower;  // first > probe
            const int expected[] = {
                lower - 1,                                                // stLT
                upper - 1,                                                // stLE
                equal ? lower : -1,                                       // stEQ
                lower < int(keys.size()) ? lower : -1,                    // stGE
                upper < int(keys.size()) ? upper : -1,                    // stGT
                lower < int(keys.size()) ? lower : int(keys.size()) - 1,  // stLEG
            };
            for (int t = stLT; t <= stLEG; ++t) {
                const int want = expected[t];
                rig.Key({probe});
                const int r = rig.Tree.IndexSearch(TIndexSearchType(t), nullptr);
                if (want < 0) {
                    EXPECT_NE(r, 0) << "type " << t << " probe " << probe;
                    continue;
                }
                ASSERT_EQ(r, 0) << "type " << t << " probe " << probe;
                EXPECT_EQ(rig.Tree.GetRecAddr(), uint32_t(1000 + keys[want]))
                    << "type " << t << " probe " << probe;
                EXPECT_EQ(rig.Tree.GetRecordNo(), want + 1) << "type " << t << " probe " << probe;
            }
        }
    }
}

// A search limited to the first of two key fields settles on the first (stLT, stEQ, stGE) or
// last (stLE, stGT) entry of a run of equal first fields, also when the run spans leaves.
TEST(BTreeSearch, LimitedSearchFindsTheEdgesOfARunOfEqualLeadingFields) {
    TreeRig rig({{"A", ftInteger}, {"B", ftInteger}}, Request("ab", "A;B", true));
    std::vector<std::pair<int, int>> keys;
    for (int a = 0; a < 6; ++a)
        for (int b = 0; b < 300; ++b) keys.push_back({a * 10, b});
    std::vector<std::pair<int, int>> order = keys;
    std::shuffle(order.begin(), order.end(), std::mt19937(3));
    for (auto [a, b] : order) ASSERT_EQ(rig.Insert({a, b}, uint32_t(1 + a * 1000 + b)), 0);
    TSearchModifier modifier;
    modifier.SetLimitedSearch(true);
    modifier.SetIncludedKeyFieldCount(1);
    auto address = [](int a, int b) { return uint32_t(1 + a * 1000 + b); };
    for (int a = 0; a < 6; ++a) {
        const int v = a * 10;
        EXPECT_EQ(rig.Find(stGE, {v, 150}, &modifier), address(v, 0)) << v;
        EXPECT_EQ(rig.Find(stEQ, {v, 999}, &modifier), address(v, 0)) << v;
        EXPECT_EQ(rig.Find(stLE, {v, 0}, &modifier), address(v, 299)) << v;
        EXPECT_EQ(rig.Find(stGT, {v - 5}, &modifier), address(v, 0)) << v;
        EXPECT_EQ(rig.Find(stGT, {v}, &modifier), a < 5 ? address(v + 10, 0) : 0u) << v;
        EXPECT_EQ(rig.Find(stLT, {v}, &modifier), a > 0 ? address(v - 10, 299) : 0u) << v;
        EXPECT_EQ(rig.Find(stLT, {v + 5}, &modifier), address(v, 299)) << v;
        EXPECT_EQ(rig.Tree.GetRecordNo(), (a + 1) * 300);
    }
    // Without a count the fields before the first hidden one are compared (all here).
    modifier.SetIncludedKeyFieldCount(0);
    EXPECT_EQ(rig.Find(stEQ, {20, 7}, &modifier), address(20, 7));
}

TEST(BTreeSearch, ComparisonMarkersPlaceAPartialKeyBeforeOrAfterItsRun) {
    TreeRig rig({{"A", ftInteger}, {"B", ftInteger}}, Request("ab", "A;B", true));
    for (int a : {1, 2, 3})
        for (int b : {5, 6, 7}) ASSERT_EQ(rig.Insert({a, b}, uint32_t(a * 10 + b)), 0);
    const TKeyMarkerList bof = {fcDefault, fcForceBOF};
    const TKeyMarkerList eof = {fcDefault, fcForceEOF};
    EXPECT_EQ(rig.Find(stGE, {2}, nullptr, &bof), 25u);
    EXPECT_EQ(rig.Find(stLE, {2}, nullptr, &eof), 27u);
    EXPECT_EQ(rig.Find(stGT, {2}, nullptr, &eof), 35u);
    EXPECT_EQ(rig.Find(stLT, {2}, nullptr, &bof), 17u);
}

// Searches compare a fixed-size first key field in place and the whole key only on a tie or a
// null: per type, a two-field index (A, then B) whose A is tied, null, at the type's extremes
// or NaN, ascending and descending, searched for every stored key and between them with stGE and
// stLE, against a model in index order.
TEST(BTreeSearch, FirstFieldComparedInPlaceMatchesTheModel) {
    struct Case {
        TFieldType Type;
        bool Descending;
        std::vector<double> Values;  // distinct A values in ascending order (NaN last)
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {ftInteger, false, {double(INT32_MIN), -7, -1, 0, 1, 2, 40, double(INT32_MAX)}},
        {ftInteger, true, {double(INT32_MIN), -7, -1, 0, 1, 2, 40, double(INT32_MAX)}},
        {ftSmallint, false, {-32768, -300, -1, 0, 1, 255, 256, 32767}},
        {ftWord, true, {0, 1, 255, 256, 32767, 32768, 65535}},
        {ftFloat, false, {-1e308, -2.5, -1e-300, 0.0, 1e-300, 0.5, 1e308, nan}},
        {ftFloat, true, {-1e308, -2.5, 0.0, 0.5, 1e308, nan}},
        {ftDateTime, false, {-700000.25, 0.0, 1.5, 45000.75, 2958465.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << int(c.Type) << (c.Descending ? " descending" : ""));
        for (bool disk : {false, true}) {
            TreeRig rig({{"A", c.Type}, {"B", ftInteger}}, Request("ab", "A;B", true, c.Descending), disk);
            // Model keys (rank of A, B): rank -1 is null; a descending index reverses value and null
            // order of both fields.
            using Key = std::pair<int, int>;
            auto order = [&](const Key& k) { return c.Descending ? std::pair{-k.first, -k.second} : k; };
            auto value = [&](int Rank) {
                if (Rank < 0) return Null();
                const double v = c.Values[size_t(Rank)];
                return c.Type == ftFloat || c.Type == ftDateTime ? Variant(v) : Variant(int(v));
            };
            std::vector<Key> keys;
            for (int a = -1; a < int(c.Values.size()); ++a)
                for (int b = 0; b < 60; b += 2) keys.push_back({a, b});
            std::vector<Key> shuffled = keys;
            std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(11));
            auto address = [](const Key& k) { return uint32_t((k.first + 2) * 1000 + k.second + 1); };
            for (const Key& k : shuffled) ASSERT_EQ(rig.Insert({value(k.first), k.second}, address(k)), 0);
            ASSERT_GE(rig.Depth, 2u);
            std::sort(keys.begin(), keys.end(), [&](const Key& x, const Key& y) { return order(x) < order(y); });
            for (const Key& k : keys)
                for (int b : {k.second - 1, k.second}) {
                    const Key probe{k.first, b};
                    const auto ge = std::lower_bound(keys.begin(), keys.end(), probe,
                                                     [&](const Key& x, const Key& y) { return order(x) < order(y); });
                    const auto le = std::upper_bound(keys.begin(), keys.end(), probe,
                                                     [&](const Key& x, const Key& y) { return order(x) < order(y); });
                    const bool after = ge == keys.end();
                    ASSERT_EQ(rig.Find(stGE, {value(probe.first), probe.second}), after ? 0u : address(*ge)) << disk;
                    if (!after) ASSERT_EQ(rig.Tree.GetRecordNo(), int(ge - keys.begin()) + 1);
                    ASSERT_EQ(rig.Find(stLE, {value(probe.first), probe.second}),
                              le == keys.begin() ? 0u : address(*(le - 1)))
                        << disk;
                }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Key order

TEST(BTreeKeys, ValuesAtTheExtremesOfEachTypeSortInValueOrder) {
    struct Case {
        TFieldType Type;
        std::vector<Variant> Ascending;
    };
    const Case cases[] = {
        {ftInteger,
         {Variant(INT32_MIN), Variant(-2000000000), Variant(-1), Variant(0), Variant(2000000000),
          Variant(INT32_MAX)}},
        {ftSmallint, {Variant(-32768), Variant(-1), Variant(0), Variant(32767)}},
        {ftWord, {Variant(0), Variant(1), Variant(32768), Variant(65535)}},
        {ftFloat, {Variant(-1e308), Variant(-0.5), Variant(0.0), Variant(1e-300), Variant(1e308)}},
        {ftBoolean, {Variant(false), Variant(true)}},
    };
    for (const Case& c : cases) {
        TreeRig rig({{"V", c.Type}}, Request("v", "V", true));
        std::vector<size_t> order(c.Ascending.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::reverse(order.begin(), order.end());
        std::swap(order[0], order[order.size() / 2]);
        for (size_t i : order) ASSERT_EQ(rig.Insert({c.Ascending[i]}, uint32_t(i + 1)), 0) << int(c.Type);
        std::vector<uint32_t> expected;
        for (size_t i = 0; i < c.Ascending.size(); ++i) expected.push_back(uint32_t(i + 1));
        EXPECT_EQ(StepForward(rig), expected) << "type " << int(c.Type);
    }
}

TEST(BTreeKeys, DescendingFieldsReverseTheOrderAndSearchesFollowIndexOrder) {
    TreeRig rig = IntRig(false, true);
    for (int v : {1, 2, 3, 4}) ASSERT_EQ(rig.Insert({v}, uint32_t(v)), 0);
    EXPECT_EQ(StepForward(rig), (std::vector<uint32_t>{4, 3, 2, 1}));
    EXPECT_EQ(rig.Find(stGT, {3}), 2u) << "the key after 3 in index order";
    EXPECT_EQ(rig.Find(stLT, {3}), 4u);
}

TEST(BTreeKeys, CaseInsensitiveFieldsTreatCaseVariantsAsOneKey) {
    TreeRig rig({{"S", ftString, 10}}, Request("s", "S", true, false, true), false, DBANSICompareStrings);
    ASSERT_EQ(rig.Insert({"Apple"}, 1), 0);
    ASSERT_EQ(rig.Insert({"banana"}, 2), 0);
    EXPECT_EQ(rig.Insert({"APPLE"}, 3), 1) << "found as an existing key";
    EXPECT_EQ(rig.Find(stEQ, {"BANANA"}), 2u);
    EXPECT_EQ(rig.Find(stGT, {"apple"}), 2u);
    // IdxInsert refuses an equal key by itself.
    rig.Key({"aPPLE"});
    rig.Tree.SetKeyBufAddr(9);
    EXPECT_EQ(rig.Tree.IdxInsert(), -1);
    EXPECT_EQ(rig.Tree.GetRecordCount(true), 2);
}

// ---------------------------------------------------------------------------------------------
// Record numbers and listings

TEST(BTreeRecordNumbers, FirstLastAndOutOfRangeNumbers) {
    TreeRig rig = IntRig();
    EXPECT_EQ(rig.Tree.GetAddrOfRecNo(1), 0u) << "empty tree";
    EXPECT_EQ(rig.Tree.GetRecordCount(true), 0);
    for (int v = 1; v <= 700; ++v) ASSERT_EQ(rig.Insert({v}, uint32_t(v)), 0);
    EXPECT_EQ(rig.Tree.GetRecordCount(true), 700);
    EXPECT_EQ(rig.Tree.GetAddrOfRecNo(0), 1u);
    EXPECT_EQ(rig.Tree.GetAddrOfRecNo(1), 1u);
    EXPECT_EQ(rig.Tree.GetAddrOfRecNo(700), 700u);
    EXPECT_EQ(rig.Tree.GetAddrOfRecNo(701), 700u);
    for (int n : {2, 135, 136, 271, 272, 500}) EXPECT_EQ(rig.Tree.GetAddrOfRecNo(n), uint32_t(n));
    EXPECT_FALSE(rig.Tree.PathValid()) << "a lookup by number does not position the cursor";
    EXPECT_EQ(rig.Find(stGE, {-5}), 1u);
    EXPECT_EQ(rig.Tree.GetRecordNo(), 1);
    EXPECT_EQ(rig.Find(stLE, {9999}), 700u);
    EXPECT_EQ(rig.Tree.GetRecordNo(), 700);
}

// Record numbers of a tree of four levels on disk come from sums kept per page content and noted
// while a descent reads a page in place, and a search near the last one may stay in its leaf:
// rounds of repeated searches and steps, each checked against the model, between random inserts
// and deletes and drops of the cached pages, so that a sum or a leaf of earlier content would show.
TEST(BTreeRecordNumbers, RepeatedSearchesFollowChangesOfThePages) {
    TreeRig rig({{"S", ftString, 486}}, Request("s", "S", true), true);
    std::mt19937 rng(99);
    auto text = [](int V) {
        std::string s = std::to_string(V);
        return std::string(6 - s.size(), '0') + s;
    };
    std::map<std::string, uint32_t> model;
    for (int v = 0; v < 700; ++v) {
        const int key = int(rng() % 100000);
        if (model.count(text(key))) continue;
        ASSERT_EQ(rig.Insert({text(key)}, uint32_t(key + 1)), 0);
        model[text(key)] = uint32_t(key + 1);
    }
    ASSERT_GE(rig.Depth, 4u);
    for (int round = 0; round < 60; ++round) {
        std::vector<std::string> ordered;
        for (const auto& [k, a] : model) ordered.push_back(k);
        size_t last = 0;
        for (int probe = 0; probe < 25; ++probe) {
            // Every other key near the last one: often in the leaf the search before ended in.
            const size_t j = probe % 2 ? (last + 1 + rng() % 3) % ordered.size() : rng() % ordered.size();
            last = j;
            ASSERT_EQ(rig.Find(stEQ, {ordered[j]}), model[ordered[j]]) << "round " << round;
            ASSERT_EQ(rig.Tree.GetRecordNo(), int(j) + 1) << "round " << round;
            if (probe % 5 == 0 && j + 1 < ordered.size()) {
                ASSERT_TRUE(rig.Tree.NextRecord());
                ASSERT_EQ(rig.Tree.GetRecordNo(), int(j) + 2) << "round " << round;
            }
        }
        for (int change = 0; change < 3; ++change) {
            const int key = int(rng() % 100000);
            if (rng() % 2 == 0 && !model.count(text(key))) {
                ASSERT_EQ(rig.Insert({text(key)}, uint32_t(key + 1)), 0);
                model[text(key)] = uint32_t(key + 1);
            } else {
                auto it = model.begin();
                std::advance(it, rng() % model.size());
                ASSERT_EQ(rig.Delete({it->first}), 0);
                model.erase(it);
            }
        }
        if (round % 7 == 0) rig.Storage.IO->NotifyPageChange(ostra::testing::C_TESTTABLEID);
    }
    std::vector<uint32_t> addresses;
    EXPECT_EQ(CheckTree(rig, addresses), "");
}

TEST(BTreeListing, RangesStopAddressesAndDirections) {
    TreeRig rig = IntRig();
    for (int v = 1; v <= 600; ++v) ASSERT_EQ(rig.Insert({v}, uint32_t(v)), 0);
    bool flag = true;
    auto list = [&](TIndexSearchType search, int key, TIndexSearchType listing, uint32_t stop, bool ascending,
                    const uint8_t* keyBuf = nullptr) {
        TCompoundList out;
        rig.Key({key});
        if (rig.Tree.IndexSearch(search, nullptr) == 0)
            rig.Tree.ListMatchingRecords(keyBuf, 0, stop, listing, ascending, out, flag);
        return out;
    };
    // Forwards from 100 through the stop address 400, across leaves, numbered 100..400.
    TCompoundList out = list(stGE, 100, stGE, 400, false);
    ASSERT_EQ(out.Count(), 301);
    for (int i = 0; i < out.Count(); ++i) {
        EXPECT_EQ(out.Items(i), uint32_t(100 + i));
        EXPECT_EQ(out.List2()[i], 100 + i);
    }
    EXPECT_FALSE(flag);
    // Without a stop address to the end of the index.
    EXPECT_EQ(list(stGE, 590, stGE, 0, false).Count(), 11);
    // Backwards from 300 down to the stop address 150, then asked for ascending order.
    out = list(stLE, 300, stLE, 150, false);
    ASSERT_EQ(out.Count(), 151);
    EXPECT_EQ(out.Items(0), 300u);
    EXPECT_EQ(out.List2()[0], 300);
    EXPECT_EQ(out.Items(150), 150u);
    out = list(stLE, 2, stLE, 0, true);
    EXPECT_EQ(out.List1(), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(out.List2(), (std::vector<int32_t>{1, 2}));
    // A key beyond the cursor for a backward listing (the cursor lies above it): nothing.
    rig.Key({5});
    std::vector<uint8_t> five(rig.Tree.SearchKey(), rig.Tree.SearchKey() + rig.KeySize);
    out = list(stGE, 10, stLE, 0, true, five.data());
    EXPECT_EQ(out.Count(), 0);
    // stGT with the search key as reference lists everything above it.
    rig.Key({595});
    std::vector<uint8_t> ref(rig.Tree.SearchKey(), rig.Tree.SearchKey() + rig.KeySize);
    out = list(stGT, 595, stGT, 0, false, ref.data());
    EXPECT_EQ(out.List1(), (std::vector<uint32_t>{596, 597, 598, 599, 600}));
}

TEST(BTreeListing, EqualRunOfALimitedKeySpansLeaves) {
    TreeRig rig({{"A", ftInteger}, {"B", ftInteger}}, Request("a", "A"));  // non-unique
    for (int lrn = 1; lrn <= 900; ++lrn) ASSERT_EQ(rig.Insert({(lrn - 1) % 3, lrn}, uint32_t(lrn)), 0);
    TSearchModifier modifier;
    modifier.SetLimitedSearch(true);
    rig.Key({1});
    ASSERT_EQ(rig.Tree.IndexSearch(stEQ, &modifier), 0);
    TCompoundList out;
    bool flag = false;
    rig.Tree.ListMatchingRecords(nullptr, 1, 0, stEQ, false, out, flag);
    ASSERT_EQ(out.Count(), 300);
    for (int i = 0; i < out.Count(); ++i) EXPECT_EQ(out.Items(i) % 3, 2u) << "logical numbers 2, 5, 8, ...";
    EXPECT_EQ(out.List2().front(), 301);
    EXPECT_EQ(out.List2().back(), 600);
}

TEST(BTreeListing, ReadAheadFillsFromTheCursorsLeafWithRecordNumbers) {
    TreeRig rig = IntRig();
    for (int v = 1; v <= 100; ++v) ASSERT_EQ(rig.Insert({v}, uint32_t(v)), 0);
    TReadAheadBuffer buffer;
    buffer.Open(16, rig.KeySize, 10000);
    rig.Key({50});
    ASSERT_EQ(rig.Tree.IndexSearch(stEQ, nullptr), 0);
    struct Case {
        TReadAheadDirection Direction;
        int Count;
        uint32_t First;
        int Added;
    };
    for (const Case& c : {Case{rdForwards, 5, 50, 5}, Case{rdBackwards, 5, 46, 5}, Case{rdCenter, 6, 47, 6},
                          Case{rdForwards, 80, 50, 51}, Case{rdBackwards, 80, 1, 50}}) {
        buffer.Invalidate();
        EXPECT_EQ(rig.Tree.ListReadAheadRecords(c.Direction, c.Count, buffer), c.Added) << int(c.Direction);
        ASSERT_EQ(buffer.Count(), c.Added);
        for (int i = 0; i < buffer.Count(); ++i) {
            EXPECT_EQ(buffer.GetItems(i)->RecAddr(), c.First + i);
            EXPECT_EQ(buffer.GetItems(i)->RecNo(), int(c.First) + i);
            uint32_t entryAddress;
            std::memcpy(&entryAddress, buffer.GetItems(i)->KeyBuf() + C_KEYADDROFFSET, 4);
            EXPECT_EQ(entryAddress, c.First + i) << "the item holds a copy of the entry";
        }
    }
    EXPECT_EQ(rig.Tree.GetRecAddr(), 50u) << "the cursor stays";
}

TEST(BTreeListing, HashFillTakesEveryLeafFromTheCursorOn) {
    TreeRig rig({{"S", ftString, 8}, {"N", ftInteger}}, Request("s", "S;N", true));
    for (int v = 0; v < 400; ++v)
        ASSERT_EQ(rig.Insert({v % 2 ? Null() : Variant("k" + std::to_string(v)), v}, uint32_t(v + 1)), 0);
    TOrqBaseHash hash(1024, 1024, 8);
    rig.Tree.ConstructKeyBufFromVariants(Null(), nullptr);
    ASSERT_EQ(rig.Tree.IndexSearch(stGE, nullptr), 0);
    rig.Tree.FillHashTable(0, hash);
    EXPECT_EQ(hash.Count(), 200) << "null values are not added";
    EXPECT_EQ(hash.ValueOf("k42", 3), 43u);
    EXPECT_EQ(rig.Tree.GetRecAddr(), 2u) << "the cursor stays on the first key (a null S)";
}

// ---------------------------------------------------------------------------------------------
// Structure

TEST(BTreeStructure, RootSplitsAtTheSameAddressAndCollapsesBackToAnEmptyLeaf) {
    TreeRig rig = IntRig();
    const uint32_t root = rig.Root;
    int v = 0;
    while (rig.Depth == 1) ASSERT_EQ(rig.Insert({++v}, uint32_t(v)), 0);
    EXPECT_EQ(v, 271) << "a root leaf of 15-byte keys splits at its 271st entry";
    EXPECT_EQ(rig.Root, root);
    EXPECT_EQ(Walk(rig).size(), 271u);
    for (int i = 1; i <= v; ++i) ASSERT_EQ(rig.Delete({i}), 0) << i;
    EXPECT_EQ(rig.Root, root);
    EXPECT_EQ(rig.Depth, 1u);
    EXPECT_EQ(rig.Storage.PageCount(), 1u) << "every other page was released";
    EXPECT_EQ(rig.Tree.GetRecordCount(true), 0);
}

// Keys added in ascending order (numbered records) leave every page but the last of each level
// full, at every depth; keys added later in between split those full pages in the middle, and
// the tree stays sound throughout.
TEST(BTreeStructure, AscendingKeysFillTheirPages) {
    for (const bool onDisk : {false, true}) {
        TreeRig rig = IntRig(onDisk);
        const int n = 270 * 300;  // 270 keys fill a leaf; 300 leaves need a tree of depth 3
        for (int v = 1; v <= n; ++v) ASSERT_EQ(rig.Insert({2 * v}, uint32_t(v)), 0) << v;
        EXPECT_EQ(rig.Depth, 3u);
        EXPECT_EQ(rig.Storage.PageCount(), 300u + 2u + 1u) << "300 full leaves, two internal pages, the root";
        ASSERT_EQ(Walk(rig).size(), size_t(n));
        for (int v = 1; v <= 2000; ++v) ASSERT_EQ(rig.Insert({2 * v * 37 % (2 * n) + 1}, uint32_t(n + v)), 0) << v;
        EXPECT_EQ(Walk(rig).size(), size_t(n + 2000));
        EXPECT_EQ(rig.Tree.GetRecordCount(true), n + 2000);
        for (int v = n; v >= 1; v -= 3) ASSERT_EQ(rig.Delete({2 * v}), 0) << v;
        EXPECT_EQ(Walk(rig).size(), size_t(n + 2000 - (n + 2) / 3));
    }
}

TEST(BTreeStructure, SmallestKeyUpdatesTheLeftmostPathOfADeepTree) {
    // 500-byte keys: seven per page, so a few hundred keys make a tree of depth 4.
    TreeRig rig({{"S", ftString, 486}}, Request("s", "S", true));
    ASSERT_EQ(rig.KeySize, 500);
    for (int v = 1000; v < 1400; ++v) ASSERT_EQ(rig.Insert({std::to_string(v)}, uint32_t(v)), 0);
    ASSERT_GE(rig.Depth, 4u);
    ASSERT_EQ(rig.Insert({"0"}, 1), 0);
    const auto addresses = Walk(rig);
    ASSERT_EQ(addresses.size(), 401u);
    EXPECT_EQ(addresses.front(), 1u);
    EXPECT_EQ(rig.Find(stGE, {""}), 1u);
}

TEST(BTreeStructure, EmptyTreeReleasesEveryPage) {
    TreeRig rig = IntRig(true);
    for (int v = 1; v <= 1000; ++v) ASSERT_EQ(rig.Insert({v}, uint32_t(v)), 0);
    ASSERT_GT(rig.Storage.PageCount(), 4u);
    const uint32_t root = rig.Root;
    rig.Tree.EmptyTree(false);
    EXPECT_EQ(rig.Storage.PageCount(), 1u);
    EXPECT_EQ(rig.Depth, 1u);
    EXPECT_NE(rig.Root, 0u);
    (void)root;
    rig.Tree.Open();
    EXPECT_EQ(rig.Tree.GetRecordCount(true), 0);
    rig.Tree.EmptyTree(true);
    EXPECT_EQ(rig.Root, 0u);
    EXPECT_EQ(rig.Depth, 0u);
    EXPECT_EQ(rig.Storage.PageCount(), 0u);
    rig.Tree.EmptyTree(true);  // no tree: nothing happens
    EXPECT_EQ(rig.Root, 0u);
}

TEST(BTreeStructure, DeleteRemovesTheCursorEntry) {
    TreeRig rig = IntRig();
    for (int v = 1; v <= 5; ++v) ASSERT_EQ(rig.Insert({v}, uint32_t(v)), 0);
    // stLE for 3.5 does not exist as an integer; 4 then Prior leaves the cursor on 3.
    rig.Key({4});
    ASSERT_EQ(rig.Tree.IndexSearch(stLT, nullptr), 0);
    ASSERT_EQ(rig.Tree.GetRecAddr(), 3u);
    ASSERT_EQ(rig.Tree.DeleteKey(), 0);
    EXPECT_EQ(Walk(rig), (std::vector<uint32_t>{1, 2, 4, 5}));
    EXPECT_EQ(rig.Tree.DeleteKey(), -1) << "no search since the change";
    rig.Key({9});
    EXPECT_EQ(rig.Tree.IdxDelete(), -1);
    rig.Key({4});
    EXPECT_EQ(rig.Tree.IdxDelete(), 0);
    EXPECT_EQ(Walk(rig), (std::vector<uint32_t>{1, 2, 5}));
}

// ---------------------------------------------------------------------------------------------
// Corrupt pages

namespace {

// Reads, patches and writes back a page of the rig's storage; the tree forgets its pages.
void Patch(TreeRig& Rig, uint32_t Address, int Offset, uint32_t Value) {
    std::vector<uint8_t> page(C_DEFAULTINDEXPAGESIZE);
    Rig.Storage.IO->ReadBlock(Address, C_DEFAULTINDEXPAGESIZE, page.data());
    std::memcpy(&page[Offset], &Value, 4);
    Rig.Storage.IO->WriteBlock(Address, C_DEFAULTINDEXPAGESIZE, page.data());
    Rig.Tree.InvalidateInternalBuffers();
}

uint32_t ChildOfRoot(TreeRig& Rig, int Entry) {
    std::vector<uint8_t> page(C_DEFAULTINDEXPAGESIZE);
    Rig.Storage.IO->ReadBlock(Rig.Root, C_DEFAULTINDEXPAGESIZE, page.data());
    uint32_t child;
    std::memcpy(&child, &page[16 + Entry * Rig.KeySize + 6], 4);
    return child;
}

}  // namespace

TEST(BTreeCorruption, BadPagesRaiseIndexIsCorrupt) {
    struct Case {
        const char* Name;
        std::function<void(TreeRig&)> Damage;
        std::function<void(TreeRig&)> Use;
    };
    auto search = [](TreeRig& rig) { rig.Find(stEQ, {500}); };
    auto walk = [](TreeRig& rig) { StepForward(rig); };
    const Case cases[] = {
        {"used beyond the page", [](TreeRig& r) { Patch(r, r.Root, 4, 5000); }, search},
        {"used not a multiple of the key size", [](TreeRig& r) { Patch(r, r.Root, 4, 31); }, search},
        {"entry size", [](TreeRig& r) { Patch(r, ChildOfRoot(r, 1), 16, 99); }, walk},
        {"string length beyond the entry",
         [](TreeRig& r) { Patch(r, ChildOfRoot(r, 0), 16 + 10 + 1, 0xFFFF); }, walk},
        {"child address", [](TreeRig& r) { Patch(r, r.Root, 16 + 6, 0x7FFFF000); }, walk},
        {"child pointing at the root", [](TreeRig& r) { Patch(r, r.Root, 16 + 6, r.Root); }, walk},
        {"leaf at an internal level", [](TreeRig& r) { Patch(r, r.Root, 0, 1); }, search},
        {"next link back to the first leaf",
         [](TreeRig& r) { Patch(r, ChildOfRoot(r, 1), 8, ChildOfRoot(r, 0)); }, walk},
        {"next link to a leaf that does not link back",
         [](TreeRig& r) { Patch(r, ChildOfRoot(r, 0), 8, ChildOfRoot(r, 2)); }, walk},
        {"record count of a child", [](TreeRig& r) { Patch(r, r.Root, 16 + 2, 100000); },
         [](TreeRig& r) { r.Tree.GetAddrOfRecNo(1000); }},
        {"record address zero in a leaf", [](TreeRig& r) { Patch(r, ChildOfRoot(r, 0), 16 + 6, 0); },
         [](TreeRig& r) { r.Tree.GetAddrOfRecNo(1); }},
        {"child address zero", [](TreeRig& r) { Patch(r, r.Root, 16 + 6, 0); },
         [](TreeRig& r) { r.Tree.GetAddrOfRecNo(1); }},
        {"depth", [](TreeRig& r) { r.Depth = 1000; }, search},
    };
    for (bool disk : {false, true}) {
        for (const Case& c : cases) {
            TreeRig rig({{"S", ftString, 20}}, Request("s", "S", true), disk);
            for (int v = 100; v < 1100; ++v) ASSERT_EQ(rig.Insert({std::to_string(v)}, uint32_t(v)), 0);
            ASSERT_EQ(rig.Depth, 2u);
            c.Damage(rig);
            EXPECT_EQ(ErrorCode([&] { c.Use(rig); }), 8965) << c.Name << (disk ? " (disk)" : " (memory)");
        }
    }
    // A page referenced twice is found before any page is released.
    {
        TreeRig rig = IntRig(true);
        for (int v = 1; v <= 600; ++v) ASSERT_EQ(rig.Insert({v}, uint32_t(v)), 0);
        const size_t pages = rig.Storage.PageCount();
        Patch(rig, rig.Root, 16 + 15 + 6, ChildOfRoot(rig, 0));
        EXPECT_EQ(ErrorCode([&] { rig.Tree.EmptyTree(true); }), 8965);
        EXPECT_EQ(rig.Storage.PageCount(), pages);
    }
    // A page checked once and then damaged in the file is checked again when it is read from the
    // file again (here after the cache dropped the table's pages).
    {
        TreeRig rig = IntRig(true);
        for (int v = 1; v <= 600; ++v) ASSERT_EQ(rig.Insert({v}, uint32_t(v)), 0);
        ASSERT_EQ(rig.Find(stEQ, {300}), 300u);
        disktest::PatchU32(rig.Storage.Disk->FileName(), rig.Root + 4, 5000);
        ASSERT_EQ(rig.Find(stEQ, {300}), 300u) << "the cached page is still the one checked";
        rig.Storage.IO->NotifyPageChange(ostra::testing::C_TESTTABLEID);
        rig.Tree.InvalidateInternalBuffers();
        EXPECT_EQ(ErrorCode([&] { rig.Find(stEQ, {300}); }), 8965);
    }
    // A cycle of two leaves whose links agree is caught by the key order.
    TreeRig rig = IntRig();
    for (int v = 1; v <= 600; ++v) ASSERT_EQ(rig.Insert({v}, uint32_t(v)), 0);
    const uint32_t a = ChildOfRoot(rig, 0);
    const uint32_t b = ChildOfRoot(rig, 1);
    Patch(rig, b, 8, a);
    Patch(rig, a, 12, b);
    EXPECT_EQ(ErrorCode([&] { StepForward(rig); }), 8965);
}

TEST(BTreeDiagnostics, DumpsAndTheOrderCheck) {
    TreeRig rig({{"S", ftString, 6}, {"N", ftInteger}}, Request("sn", "S;N", true));
    for (int v = 0; v < 400; ++v)
        ASSERT_EQ(rig.Insert({v % 2 ? Null() : Variant("s" + std::to_string(v)), v}, uint32_t(v + 1)), 0);
    EXPECT_NO_THROW(rig.Tree.DebugCheckOrderRecurse());
    TStringList lines;
    rig.Key({"s10", 10});
    ASSERT_EQ(rig.Tree.IndexSearch(stEQ, nullptr), 0);
    rig.Tree.CurrentKeyAsStrings(lines);
    ASSERT_EQ(lines.Count(), 5);
    EXPECT_EQ(lines.Strings(0), "s10");
    EXPECT_EQ(lines.Strings(1), "10");
    EXPECT_EQ(lines.Strings(2), "Size=" + std::to_string(rig.KeySize));
    EXPECT_EQ(lines.Strings(4), "Addr=11");
    lines.Clear();
    rig.Tree.DebugInOrderRecurse(&lines);
    EXPECT_EQ(lines.Strings(0), "root");
    EXPECT_EQ(lines.Strings(1).rfind("Node Level: 0 NodeAddr=", 0), 0u) << lines.Strings(1);
    EXPECT_NE(lines.IndexOf("NULL"), -1);
    lines.Clear();
    rig.Tree.DebuGInOrderFlat(&lines);
    EXPECT_GT(lines.Count(), 400);
    // An internal entry whose count is not its child's record count.
    Patch(rig, rig.Root, 16 + rig.KeySize + 2, 9999);
    EXPECT_EQ(ErrorCode([&] { rig.Tree.DebugCheckOrderRecurse(); }), 8581);
}

// ---------------------------------------------------------------------------------------------
// Randomized model run

namespace {

struct ModelCase {
    const char* Name;
    bool Disk;
    bool StringKey;    // else an Integer key
    bool Unique;       // else non-unique with the hidden logical-number field
    int StringLength;  // declared length of the string field
    int ExpectedKeySize;
    int Target;    // size to grow to
    int Distinct;  // number of distinct key values drawn from
};

class BTreeModel : public ::testing::TestWithParam<ModelCase> {};

std::string RandomText(std::mt19937& Rng, int Distinct) {
    std::uniform_int_distribution<int> pick(0, Distinct - 1);
    const int n = pick(Rng);
    std::string s = "K";
    for (int x = n; x > 0; x /= 7) s += char('A' + x % 7);
    return s;
}

}  // namespace

// Thousands of random inserts and deletes, growing the index to its target and shrinking it to
// empty again; after every step the stored tree is checked page by page against the model.
TEST_P(BTreeModel, RandomInsertsAndDeletesKeepEveryInvariant) {
    const ModelCase& mc = GetParam();
    std::vector<ostra::testing::FieldSpec> specs = {{"I", ftInteger}, {"S", ftString, mc.StringLength}};
    TreeRig rig(specs, Request("x", mc.StringKey ? "S" : "I", mc.Unique), mc.Disk);
    ASSERT_EQ(rig.KeySize, mc.ExpectedKeySize);
    const uint32_t root = rig.Root;

    using Key = std::tuple<int32_t, std::string, int32_t>;  // value, text, logical number
    std::map<Key, uint32_t> model;
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> percent(0, 99);
    int32_t logical = 0;
    uint32_t nextAddress = 0x10000;
    uint32_t maxDepth = 1;
    auto values = [&](const Key& k) -> std::vector<Variant> {
        Variant v = mc.StringKey ? Variant(std::get<1>(k)) : Variant(std::get<0>(k));
        if (mc.Unique) return {v};
        return {v, Variant(std::get<2>(k))};
    };
    auto keyOf = [&](const std::vector<Variant>& v) {
        rig.Tree.ConstructKeyBufFromVariants(VarArrayOf(v), nullptr);
    };

    bool growing = true;
    int steps = 0;
    int positionedInserts = 0, splitInserts = 0;
    // Now and then the page cache drops the tree's pages between a search and what follows it,
    // so the pages a descent read in place come back under new stamps: the path must be held
    // or searched again, never taken from a page that left the cache.
    auto dropCachedPages = [&](int Every) {
        if (mc.Disk && steps % Every == 0) rig.Storage.IO->NotifyPageChange(ostra::testing::C_TESTTABLEID);
    };
    while (steps < 20000) {
        ++steps;
        if (growing && int(model.size()) >= mc.Target) growing = false;
        if (!growing && model.empty()) break;
        const bool insert = model.empty() || percent(rng) < (growing ? 75 : 25);
        if (insert) {
            Key k{std::uniform_int_distribution<int>(-mc.Distinct, mc.Distinct)(rng),
                  RandomText(rng, mc.Distinct), ++logical};
            if (mc.StringKey)
                std::get<0>(k) = 0;
            else
                std::get<1>(k) = "";
            if (mc.Unique) std::get<2>(k) = 0;
            const bool exists = model.count(k) > 0;
            keyOf(values(k));
            const int r = rig.Tree.IndexSearch(stEQ, nullptr);
            ASSERT_EQ(r == 0, exists) << "step " << steps;
            dropCachedPages(5);
            if (exists) {
                rig.Tree.SetKeyBufAddr(1);
                ASSERT_EQ(rig.Tree.InsertKey(), -1) << "an equal key is refused";
            } else {
                rig.Tree.SetKeyBufAddr(++nextAddress);
                ASSERT_EQ(rig.Tree.InsertKey(), 0) << "step " << steps;
                const auto added = model.emplace(k, nextAddress).first;
                // Without a split the cursor stands on the new entry: its address, its record
                // number, and a step to either neighbour as the model has them.
                if (rig.Tree.InsertLeftCursorOnKey()) {
                    ++positionedInserts;
                    ASSERT_EQ(rig.Tree.GetRecAddr(), nextAddress) << "step " << steps;
                    ASSERT_EQ(rig.Tree.GetRecordNo(), int(std::distance(model.begin(), added)) + 1)
                        << "step " << steps;
                    if (steps % 2 == 0) {
                        const auto next = std::next(added);
                        ASSERT_EQ(rig.Tree.NextRecord(), next != model.end()) << "step " << steps;
                        if (next != model.end()) ASSERT_EQ(rig.Tree.GetRecAddr(), next->second);
                    } else {
                        ASSERT_EQ(rig.Tree.PriorRecord(), added != model.begin()) << "step " << steps;
                        if (added != model.begin()) ASSERT_EQ(rig.Tree.GetRecAddr(), std::prev(added)->second);
                    }
                } else {
                    ++splitInserts;
                }
            }
        } else {
            auto it = model.begin();
            std::advance(it, std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng));
            keyOf(values(it->first));
            ASSERT_EQ(rig.Tree.IndexSearch(stEQ, nullptr), 0) << "step " << steps;
            ASSERT_EQ(rig.Tree.GetRecAddr(), it->second);
            dropCachedPages(3);
            ASSERT_EQ(rig.Tree.DeleteKey(), 0) << "step " << steps;
            model.erase(it);
        }
        if (steps % 97 == 0) rig.Tree.InvalidateInternalBuffers();
        if (steps % 389 == 0) rig.Tree.Open();  // reopen: every page is read again

        ASSERT_EQ(rig.Root, root) << "the root never moves";
        maxDepth = std::max(maxDepth, rig.Depth);
        std::vector<uint32_t> addresses;
        ASSERT_EQ(CheckTree(rig, addresses), "") << "step " << steps;
        std::vector<uint32_t> expected;
        for (const auto& [k, a] : model) expected.push_back(a);
        ASSERT_EQ(addresses, expected) << "step " << steps;
        ASSERT_EQ(rig.Tree.GetRecordCount(true), int(model.size()));
        if (!model.empty()) {
            ASSERT_EQ(rig.Tree.GetAddrOfRecNo(1), expected.front());
            ASSERT_EQ(rig.Tree.GetAddrOfRecNo(int(model.size())), expected.back());
            const size_t j = steps % model.size();
            auto it = model.begin();
            std::advance(it, j);
            keyOf(values(it->first));
            ASSERT_EQ(rig.Tree.IndexSearch(stEQ, nullptr), 0);
            dropCachedPages(2);
            ASSERT_EQ(rig.Tree.GetRecordNo(), int(j) + 1);
        }
    }
    EXPECT_TRUE(model.empty()) << "the run shrank the index back to empty";
    EXPECT_GT(positionedInserts, 0);
    EXPECT_GT(splitInserts, 0) << "inserts that split pages leave the cursor unpositioned";
    EXPECT_GE(maxDepth, mc.StringKey ? 3u : 2u) << "the run grew a tree of several levels";
    EXPECT_EQ(rig.Depth, 1u);
    EXPECT_EQ(rig.Storage.PageCount(), 1u) << "every page but the root went back to the storage";
}

INSTANTIATE_TEST_SUITE_P(
    Configurations, BTreeModel,
    ::testing::Values(ModelCase{"MemUniqueInt", false, false, true, 10, 15, 900, 100000},
                      ModelCase{"DiskUniqueInt", true, false, true, 10, 15, 900, 100000},
                      ModelCase{"MemNonUniqueInt", false, false, false, 10, 19, 900, 20},
                      ModelCase{"DiskNonUniqueInt", true, false, false, 10, 19, 900, 20},
                      ModelCase{"MemUnique500", false, true, true, 486, 500, 500, 5000},
                      ModelCase{"DiskUnique500", true, true, true, 486, 500, 500, 5000},
                      ModelCase{"MemNonUnique456", false, true, false, 438, 456, 500, 30},
                      ModelCase{"DiskNonUnique456", true, true, false, 438, 456, 500, 30}),
    [](const ::testing::TestParamInfo<ModelCase>& info) { return std::string(info.param.Name); });
