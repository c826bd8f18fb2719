// Temporary sort: growth from small capacities, sorting and searching against a model, the
// nearest-key search at the ends, empty and one-entry sorts, and the set-up errors.
#include "engine/storage/orqTemporarySort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqRecordLayout.h"
#include "support/orqErrorCapture.h"
#include "support/orqLayoutFixture.h"
#include "support/orqTreeFixture.h"

using namespace ostra;
using ostra::storagetest::ErrorCode;
using ostra::testing::MakeLayout;
using ostra::testing::NewRecord;

namespace {

// A sort over (Name descending-free String, Id Integer) of a two-field table.
struct SortRig {
    SortRig() : Fields(MakeLayout({{"Name", ftString, 12}, {"Id", ftInteger}})) {
        TKeyFields keys;
        TInternalIndexDefs defs;
        TInternalIndexDef* def = DeriveIndexDef(ostra::testing::Request("k", "Name;Id", true), false, false,
                                                *Fields, keys, defs, SorqValueInvalidFmt, "test", nullptr);
        Sort = Manager.Add();
        Sort->KeyFields().Assign(&keys);
        Sort->KeyFields().SetDataOffset(def->KeyDataOffset());
        Sort->SetDBStringCompare(DBASCIICompareStrings);
    }
    std::vector<uint8_t> Record(const std::string& Name, int32_t Id) {
        auto rec = NewRecord(*Fields);
        ostra::testing::SetString(rec, *Fields->GetIndex(0), Name);
        ostra::testing::SetBytes(rec, *Fields->GetIndex(1), &Id, 4);
        return rec;
    }
    uint32_t Find(const std::string& Name, int32_t Id, bool Nearest = false) {
        Sort->ConstructKeyBufFromRecBuf(0, Record(Name, Id).data());
        return Nearest ? Sort->FindNearest() : Sort->FindKey();
    }

    std::unique_ptr<TInternalFields> Fields;
    TTemporarySortManager Manager;
    TTemporarySort* Sort = nullptr;
};

}  // namespace

TEST(TemporarySort, GrowsByAQuarterAndKeepsEveryKey) {
    SortRig rig;
    rig.Sort->Open(4);
    EXPECT_EQ(rig.Sort->KeySize(), 10 + 2 + 13 + 4 + 1);
    std::vector<int> capacities;
    for (int i = 0; i < 10; ++i) {
        rig.Sort->AppendKey(uint32_t(100 + i), rig.Record("n" + std::to_string(9 - i), i).data());
        if (capacities.empty() || capacities.back() != rig.Sort->Capacity())
            capacities.push_back(rig.Sort->Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{4, 5, 6, 7, 8, 10}));
    EXPECT_FALSE(rig.Sort->Sorted());
    rig.Sort->Sort();
    EXPECT_TRUE(rig.Sort->Sorted());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(rig.Find("n" + std::to_string(9 - i), i), uint32_t(100 + i));
    // Capacities below 4 grow too.
    for (int start : {0, 1, 3}) {
        rig.Sort->Open(start);
        for (int i = 0; i < 6; ++i) rig.Sort->AppendKey(uint32_t(i + 1), rig.Record("x", i).data());
        EXPECT_EQ(rig.Sort->Count(), 6);
        EXPECT_GE(rig.Sort->Capacity(), 6);
        EXPECT_EQ(rig.Find("x", 5), 6u);
    }
}

TEST(TemporarySort, FindKeyAndFindNearestAgainstAModel) {
    SortRig rig;
    rig.Sort->Open(16);
    std::mt19937 rng(5);
    std::multimap<std::pair<std::string, int>, uint32_t> model;
    for (uint32_t a = 1; a <= 3000; ++a) {
        const std::string name = "k" + std::to_string(std::uniform_int_distribution<int>(0, 60)(rng));
        const int id = std::uniform_int_distribution<int>(-50, 50)(rng);
        rig.Sort->AppendKey(a, rig.Record(name, id).data());
        model.insert({{name, id}, a});
    }
    rig.Sort->Sort();
    // Ascending, and equal keys in the order they were appended.
    int i = 0;
    for (const auto& [key, address] : model) {
        uint32_t stored;
        std::memcpy(&stored, rig.Sort->Entry(i++) + C_KEYADDROFFSET, 4);
        ASSERT_EQ(stored, address);
    }
    for (int probe = 0; probe < 2000; ++probe) {
        const std::string name = "k" + std::to_string(std::uniform_int_distribution<int>(0, 61)(rng));
        const int id = std::uniform_int_distribution<int>(-51, 51)(rng);
        const auto lower = model.lower_bound({name, id});
        const bool equal = lower != model.end() && lower->first == std::make_pair(name, id);
        ASSERT_EQ(rig.Find(name, id), equal ? lower->second : 0u) << name << " " << id;
        ASSERT_EQ(rig.Find(name, id, true), lower == model.end() ? 0u : lower->second) << name << " " << id;
    }
}

TEST(TemporarySort, EdgesEmptyAndSingleSorts) {
    SortRig rig;
    rig.Sort->Open(4);
    EXPECT_EQ(rig.Find("a", 1), 0u) << "empty";
    EXPECT_EQ(rig.Find("a", 1, true), 0u);
    rig.Sort->Sort();
    EXPECT_TRUE(rig.Sort->Sorted());
    rig.Sort->AppendKey(7, rig.Record("m", 1).data());
    rig.Sort->Sort();
    EXPECT_EQ(rig.Sort->Count(), 1);
    rig.Sort->AppendKey(9, rig.Record("t", 1).data());
    rig.Sort->AppendKey(8, rig.Record("c", 1).data());
    EXPECT_EQ(rig.Find("z", 0, true), 0u) << "beyond every key";
    EXPECT_EQ(rig.Find("p", 0, true), 9u) << "between m and t: the greater";
    EXPECT_EQ(rig.Find("m", 1, true), 7u) << "an equal key";
    EXPECT_EQ(rig.Find("a", 0, true), 8u);
    // Sorting does not disturb the key last built.
    rig.Sort->AppendKey(10, rig.Record("e", 2).data());
    rig.Sort->Sort();
    EXPECT_EQ(rig.Sort->FindKey(), 10u);
    rig.Manager.Close();
    EXPECT_FALSE(rig.Sort->IsOpen());
    EXPECT_EQ(rig.Sort->Count(), 0);
}

TEST(TemporarySort, SetUpErrors) {
    SortRig rig;
    EXPECT_EQ(ErrorCode([&] { rig.Sort->AppendKey(1, rig.Record("a", 1).data()); }), 8581) << "not open";
    rig.Sort->SetDBStringCompare(nullptr);
    EXPECT_EQ(ErrorCode([&] { rig.Sort->Open(4); }), 8581) << "no compare routine";
    rig.Sort->SetDBStringCompare(DBASCIICompareStrings);
    rig.Sort->Open(4);
    std::vector<uint8_t> big(rig.Sort->KeySize(), 0);
    big[0] = 0xFF;
    big[1] = 0x7F;
    EXPECT_EQ(ErrorCode([&] { rig.Sort->CompareKeys(big.data(), rig.Sort->KeyBuffer()); }), 8581)
        << "KeySize out of range";
}
