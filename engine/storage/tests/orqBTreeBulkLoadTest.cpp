// Bulk loading a B+-tree: a tree loaded from shuffled entries holds exactly the entries, in the
// order, of a tree filled by one insert after another (non-unique keys with NULLs, unique keys,
// descending integers, descending and case-insensitive strings; one leaf up to three levels; runs
// in memory and spilled to files), passes the page-by-page check, and takes inserts, deletes and
// searches afterwards; duplicates (also in different runs) and a tree that is not empty are refused.
#include "engine/storage/orqBTreeBulkLoad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqKeyEntry.h"
#include "host/Collation.h"
#include "support/orqErrorCapture.h"
#include "support/orqTreeFixture.h"

using namespace ostra;
using ostra::storagetest::ErrorCode;
using ostra::testing::CheckTree;
using ostra::testing::Request;
using ostra::testing::TreeRig;

namespace {

// The key values of entry i (its address is i + 1).
using TValues = std::vector<Variant>;

// The leaf entry of Values with Address, as the tree encodes a search key.
std::vector<uint8_t> EntryOf(TreeRig& Rig, const TValues& Values, uint32_t Address) {
    Rig.Tree.ConstructKeyBufFromVariants(VarArrayOf(Values), nullptr);
    std::vector<uint8_t> entry(Rig.Tree.SearchKey(), Rig.Tree.SearchKey() + Rig.KeySize);
    Store32(entry.data() + C_KEYADDROFFSET, Address);
    return entry;
}

std::vector<uint32_t> Checked(TreeRig& Rig) {
    std::vector<uint32_t> addresses;
    EXPECT_EQ(CheckTree(Rig, addresses), "");
    return addresses;
}

struct TShape {
    const char* Name;
    bool Strings;  // a descending, case-insensitive string key; else an integer one
    int Count;
    size_t RunBytes;  // 0: everything in memory
    bool OnDisk;
    uint32_t Depth;  // of the loaded tree
    bool Descending = false;  // an integer key in descending order
    bool Unique = false;      // a unique integer key: no logical number ends the keys
};

class BTreeBulkLoad : public ::testing::TestWithParam<TShape> {};

TreeRig MakeRig(const TShape& Shape) {
    if (Shape.Strings)
        return TreeRig({{"S", ftString, 12}}, Request("s", "S", false, true, true), Shape.OnDisk, DBANSICompareStrings);
    return TreeRig({{"I", ftInteger}}, Request("i", "I", Shape.Unique, Shape.Descending), Shape.OnDisk);
}

// The key of Values (one or two fields) as the rig's initializer lists take it.
uint32_t Find(TreeRig& Rig, const TValues& Key) {
    return Key.size() == 1 ? Rig.Find(stEQ, {Key[0]}) : Rig.Find(stEQ, {Key[0], Key[1]});
}
int Delete(TreeRig& Rig, const TValues& Key) {
    return Key.size() == 1 ? Rig.Delete({Key[0]}) : Rig.Delete({Key[0], Key[1]});
}
int Insert(TreeRig& Rig, const TValues& Key, uint32_t Address) {
    return Key.size() == 1 ? Rig.Insert({Key[0]}, Address) : Rig.Insert({Key[0], Key[1]}, Address);
}

// Values with many repeats, NULLs, and case variants of the strings; the last field is the
// logical number a non-unique index ends its keys with.
// A unique key takes every value once and one NULL.
std::vector<TValues> MakeValues(const TShape& Shape) {
    std::mt19937 rng(42);
    std::vector<TValues> values;
    if (Shape.Unique) {
        for (int i = 0; i < Shape.Count; ++i) values.push_back({i == 0 ? Variant(Null()) : Variant(i * 3 - Shape.Count)});
        return values;
    }
    for (int i = 0; i < Shape.Count; ++i) {
        const int v = int(rng() % 97) - 40;
        Variant key;
        if (v % 11 == 0)
            key = Null();
        else if (Shape.Strings)
            key = Variant(std::string(v % 2 ? "abc" : "ABC") + char('a' + (v + 40) % 26) + std::to_string(v));
        else
            key = Variant(v);
        values.push_back({key, Variant(i + 1)});
    }
    return values;
}

}  // namespace

TEST_P(BTreeBulkLoad, GivesTheTreeOfOneInsertAfterAnother) {
    const TShape& shape = GetParam();
    const std::vector<TValues> values = MakeValues(shape);
    std::vector<uint32_t> order(values.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = uint32_t(i);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));

    TreeRig inserted = MakeRig(shape);
    for (uint32_t i : order) {
        inserted.Tree.ConstructKeyBufFromVariants(VarArrayOf(values[i]), nullptr);
        inserted.Tree.SetKeyBufAddr(i + 1);
        ASSERT_EQ(inserted.Tree.InsertKey(), 0);
    }

    TreeRig loaded = MakeRig(shape);
    const uint32_t root = loaded.Root;
    ASSERT_TRUE(TBTreeBulkLoad::CanLoad(loaded.Tree));
    TBTreeBulkLoad load(loaded.Tree, shape.RunBytes ? shape.RunBytes : size_t(64) << 20);
    for (uint32_t i : order) {
        load.Add(EntryOf(loaded, values[i], i + 1).data());
        load.SpillIfFull();
    }
    EXPECT_EQ(load.SpilledRuns() > 0, shape.RunBytes > 0);
    loaded.Depth = load.Build();
    EXPECT_EQ(loaded.Root, root) << "the root keeps its address";
    EXPECT_EQ(loaded.Depth, shape.Depth);
    EXPECT_FALSE(TBTreeBulkLoad::CanLoad(loaded.Tree) && shape.Count > 0);

    const std::vector<uint32_t> expected = Checked(inserted);
    ASSERT_EQ(expected.size(), values.size());
    EXPECT_EQ(Checked(loaded), expected);
    EXPECT_EQ(loaded.Tree.GetRecordCount(true), shape.Count);
    EXPECT_LE(loaded.Storage.PageCount(), inserted.Storage.PageCount());

    // The loaded tree is an ordinary tree: it finds, takes and gives up keys like the other.
    for (int i = 0; i < shape.Count; i += std::max(1, shape.Count / 50)) {
        const TValues& key = values[size_t(i)];
        EXPECT_EQ(Find(loaded, key), uint32_t(i + 1));
        EXPECT_EQ(Delete(loaded, key), 0);
        EXPECT_EQ(Delete(inserted, key), 0);
    }
    for (int i = 0; i < 300; ++i) {
        TValues key{Variant(shape.Strings ? Variant(std::string("m") + std::to_string(i)) : Variant(i * 7 + 1)),
                    Variant(shape.Count + i + 1)};
        // A unique key takes values the table does not hold yet.
        if (shape.Unique) key = {Variant(shape.Count * 3 + i)};
        ASSERT_EQ(Insert(loaded, key, uint32_t(shape.Count + i + 1)), 0);
        ASSERT_EQ(Insert(inserted, key, uint32_t(shape.Count + i + 1)), 0);
    }
    EXPECT_EQ(Checked(loaded), Checked(inserted));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, BTreeBulkLoad,
    ::testing::Values(TShape{"Empty", false, 0, 0, false, 1}, TShape{"OneLeaf", false, 40, 0, false, 1},
                      TShape{"TwoLevels", false, 2000, 0, true, 2},
                      TShape{"ThreeLevelsSpilled", false, 60000, 100000, true, 3},
                      TShape{"IntegersDescending", false, 3000, 0, false, 2, true},
                      TShape{"StringsDescendingCaseInsensitive", true, 5000, 0, false, 2},
                      TShape{"StringsSpilledOnDisk", true, 5000, 4096, true, 2},
                      TShape{"UniqueSpilledOnDisk", false, 60000, 100000, true, 2, false, true},
                      TShape{"UniqueDescending", false, 3000, 0, false, 2, true, true}),
    [](const ::testing::TestParamInfo<TShape>& Info) { return std::string(Info.param.Name); });

TEST(BTreeBulkLoadRefusals, DuplicatesAndATreeThatIsNotEmpty) {
    TreeRig rig({{"I", ftInteger}}, Request("i", "I", true));
    TBTreeBulkLoad load(rig.Tree, 1 << 20);
    load.Add(EntryOf(rig, {Variant(5)}, 1).data());
    load.Add(EntryOf(rig, {Variant(3)}, 2).data());
    load.Add(EntryOf(rig, {Variant(5)}, 3).data());
    EXPECT_FALSE(load.FoundDuplicate());
    EXPECT_EQ(ErrorCode([&] { load.Build(); }), 8581);
    EXPECT_TRUE(load.FoundDuplicate());
    EXPECT_EQ(ErrorCode([&] { load.Build(); }), 8581) << "once only";

    // Equal keys in different spilled runs meet while the runs are merged; NULLs are equal too.
    for (const Variant& repeated : {Variant(700), Variant(Null())}) {
        TreeRig spilled({{"I", ftInteger}}, Request("i", "I", true), true);
        TBTreeBulkLoad merged(spilled.Tree, 64);
        for (int i = 0; i < 1000; ++i) {
            merged.Add(EntryOf(spilled, {i == 999 ? repeated : (i == 0 ? Variant(Null()) : Variant(i))}, uint32_t(i + 1)).data());
            merged.SpillIfFull();
        }
        ASSERT_GT(merged.SpilledRuns(), 2u);
        EXPECT_EQ(ErrorCode([&] { merged.Build(); }), 8581);
        EXPECT_TRUE(merged.FoundDuplicate());
    }

    TreeRig full({{"I", ftInteger}}, Request("i", "I", true));
    ASSERT_EQ(full.Insert({Variant(1)}, 1), 0);
    EXPECT_FALSE(TBTreeBulkLoad::CanLoad(full.Tree));
    EXPECT_EQ(ErrorCode([&] { TBTreeBulkLoad refused(full.Tree, 1 << 20); }), 8581);
}
