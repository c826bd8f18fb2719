// TOrqBaseHash against a std::unordered_map model, its fixed capacity and slot rules, and
// THashCollection's key look-up, rebuild on a full hash and item lifetimes.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/storage/orqHash.h"
#include "host/Exceptions.h"
#include "host/Lists.h"

using namespace ostra;

namespace {

std::string Key8(uint32_t n) {
    std::string k(8, '\0');
    for (int i = 0; i < 4; ++i) k[std::size_t(i)] = char((n >> (8 * i)) & 0xFF);
    k[4] = 'k';
    return k;
}

void ExpectAssertion(const std::function<void()>& f, const std::string& text) {
    try {
        f();
        ADD_FAILURE() << "expected: " << text;
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), text);
    }
}

std::vector<uint32_t> Values(const TList& list) {
    std::vector<uint32_t> r;
    for (int i = 0; i < list.Count(); ++i) r.push_back(uint32_t(reinterpret_cast<uintptr_t>(list.Get(i))));
    return r;
}

}  // namespace

TEST(TOrqBaseHash, HoldsExactlyMaxKeysAndReusesAFreedEntry) {
    TOrqBaseHash hash(1000, 1000, 8);
    for (uint32_t i = 0; i < 1000; ++i) {
        EXPECT_EQ(hash.GetEmptyArrayIndex(), int(i));  // entries are used in the order 0, 1, 2, ...
        hash.Add(Key8(i).data(), 8, i * 10);
    }
    EXPECT_EQ(hash.Count(), 1000);
    EXPECT_TRUE(hash.CheckHashFull());
    EXPECT_EQ(hash.GetEmptyArrayIndex(), -1);
    ExpectAssertion([&] { hash.Add(Key8(5000).data(), 8, 1); }, "BaseHash is full");
    EXPECT_EQ(hash.Count(), 1000);

    THashEntry* e = *hash.Find(Key8(321).data(), 8);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->EntryNumber, 321);
    EXPECT_EQ(hash.GetBucketPointer(321), e);
    hash.Delete(Key8(321).data(), 8, 0);
    EXPECT_EQ(hash.Count(), 999);
    EXPECT_FALSE(hash.CheckHashFull());
    EXPECT_EQ(hash.GetEmptyArrayIndex(), 321);
    hash.Add(Key8(5000).data(), 8, 77);
    EXPECT_EQ((*hash.Find(Key8(5000).data(), 8))->EntryNumber, 321);
    EXPECT_EQ(hash.ValueOf(Key8(5000).data(), 8), 77u);
    EXPECT_EQ(hash.ValueOf(Key8(321).data(), 8), 4294967295u);
    for (uint32_t i = 0; i < 1000; ++i) {
        if (i == 321) continue;
        ASSERT_EQ(hash.ValueOf(Key8(i).data(), 8), i * 10);
    }
}

TEST(TOrqBaseHash, SizeChecks) {
    ExpectAssertion([] { TOrqBaseHash h(10, 11, 4); }, "Hash key max is greater than hash size");
    ExpectAssertion([] { TOrqBaseHash h(-1, -2, 4); }, "Hash size is out of range");
    TOrqBaseHash h(10, 10, 4);
    ExpectAssertion([&] { h.Add("abcde", 5, 1); }, "Hash key length is out of range");
    ExpectAssertion([&] { h.Add("abcd", -1, 1); }, "Hash key length is out of range");
    ExpectAssertion([&] { h.GetBucketPointer(10); }, "Hash entry number is out of range");
    EXPECT_EQ(h.Count(), 0);
    EXPECT_EQ(h.ValueOf("abcde", 5), 4294967295u);  // a longer key never matches
}

// Join hashes key 4-byte integers and 8-byte doubles: every byte must reach the bucket choice,
// so that neither small nor large nor evenly spaced values pile up in a few buckets.
TEST(TOrqBaseHash, IntegerAndDoubleKeysSpreadOverTheBuckets) {
    const int buckets = 1 << 16;
    TOrqBaseHash h(buckets, 1, 8);
    auto spread = [&](auto MakeKey) {
        std::set<uint32_t> used;
        for (int i = 0; i < 50000; ++i) {
            const auto key = MakeKey(i);
            used.insert(h.HashOf(reinterpret_cast<const char*>(&key), int(sizeof key)) % buckets);
        }
        return used.size();
    };
    // 50,000 random keys in 65,536 buckets occupy about 35,000 of them.
    EXPECT_GT(spread([](int i) { return int32_t(i); }), 30000u);
    EXPECT_GT(spread([](int i) { return int32_t(i) << 16; }), 30000u);
    EXPECT_GT(spread([](int i) { return double(i); }), 30000u);
    EXPECT_GT(spread([](int i) { return double(i) * 1024; }), 30000u);
}

TEST(TOrqBaseHash, ShortKeysMatchByTheirZeroPaddedSlot) {
    TOrqBaseHash hash(1000, 1000, 8);
    const char key[8] = {'w', 'x', 'y', 'z', 0, 0, 0, 0};
    ASSERT_NE(hash.HashOf(key, 4) % 1000, hash.HashOf(key, 8) % 1000);
    hash.Add(key, 4, 42);
    EXPECT_EQ(hash.ValueOf(key, 4), 42u);
    EXPECT_EQ(hash.ValueOf(key, 8), 4294967295u);
    EXPECT_EQ(hash.ValueOf(key, 3), 4294967295u);  // the slot's next byte is 'z', not 0
}

TEST(TOrqBaseHash, AReusedSlotForgetsTheLongerKeyItHeld) {
    TOrqBaseHash hash(4, 1, 8);
    hash.Add("abcdefgh", 8, 1);
    hash.Delete("abcdefgh", 8, 0);
    hash.Add("ab", 2, 2);  // the same entry, and so the same key slot
    EXPECT_EQ(hash.ValueOf("ab", 2), 2u);
    EXPECT_EQ(hash.ValueOf("abcdefgh", 8), 4294967295u);
}

TEST(TOrqBaseHash, DuplicatesNewestFirstAndMatchListInChainOrder) {
    TOrqBaseHash none(1, 0, 4);  // no entries: every Add fails
    ExpectAssertion([&] { none.Add("k", 1, 1); }, "BaseHash is full");

    TOrqBaseHash chain(8, 8, 4);
    // Another key of the same bucket: it shares the chain but is not a match.
    std::string other = "k?";
    for (int c = 1; c < 256; ++c) {
        other[1] = char(c);
        if (chain.HashOf(other.data(), 2) % 8 == chain.HashOf("k1", 2) % 8) break;
    }
    ASSERT_EQ(chain.HashOf(other.data(), 2) % 8, chain.HashOf("k1", 2) % 8);
    chain.Add("k1", 2, 1);
    chain.Add(other.data(), 2, 2);
    chain.Add("k1", 2, 3);
    chain.Add("k1x", 3, 4);  // a longer key is not a match for "k1"
    chain.Add("k1", 2, 5);
    EXPECT_EQ(chain.ValueOf("k1", 2), 5u);
    TList list;
    list.Add(reinterpret_cast<void*>(99));
    chain.GetPossibleMatchList("k1", 2, &list);
    std::vector<uint32_t> expected = {99, 5, 3, 1};
    EXPECT_EQ(Values(list), expected);
    chain.Delete("k1", 2, 12345);  // Value is not used: the newest goes
    EXPECT_EQ(chain.ValueOf("k1", 2), 3u);
    EXPECT_EQ(chain.ValueOf(other.data(), 2), 2u);
    chain.Delete("nope", 4, 0);  // nothing matches: nothing happens
    EXPECT_EQ(chain.Count(), 4);
}

TEST(TOrqBaseHash, AgreesWithAnUnorderedMapModel) {
    std::mt19937 rng(99);
    for (int size : {1, 7, 64}) {
        const int maxKeys = size == 64 ? 50 : size;
        TOrqBaseHash hash(size, maxKeys, 4);
        std::unordered_map<std::string, std::vector<uint32_t>> model;  // newest value last
        int total = 0;
        for (int step = 0; step < 20000; ++step) {
            std::string key(1 + rng() % 4, 'a');
            for (char& c : key) c = char('a' + rng() % 3);
            const int len = int(key.size());
            auto& values = model[key];
            switch (rng() % 4) {
                case 0:
                case 1: {
                    const uint32_t v = rng();
                    if (total == maxKeys) {
                        EXPECT_THROW(hash.Add(key.data(), len, v), EAssertionFailed);
                    } else {
                        hash.Add(key.data(), len, v);
                        values.push_back(v);
                        ++total;
                    }
                    break;
                }
                case 2: {
                    THashEntry* e = *hash.Find(key.data(), len);
                    ASSERT_EQ(e != nullptr, !values.empty());
                    hash.Delete(key.data(), len, 0);
                    if (e != nullptr) {
                        EXPECT_EQ(hash.GetEmptyArrayIndex(), e->EntryNumber);
                        values.pop_back();
                        --total;
                    }
                    break;
                }
                default: {
                    TList list;
                    hash.GetPossibleMatchList(key.data(), len, &list);
                    std::vector<uint32_t> expected(values.rbegin(), values.rend());
                    ASSERT_EQ(Values(list), expected);
                    break;
                }
            }
            ASSERT_EQ(hash.ValueOf(key.data(), len), values.empty() ? 4294967295u : values.back());
            ASSERT_EQ(hash.Count(), total);
            ASSERT_EQ(hash.CheckHashFull(), total == maxKeys);
        }
    }
}

TEST(TOrqBaseHash, ClearReleasesEverythingAndRefusesNewKeys) {
    TOrqBaseHash hash(100, 50, 8);
    hash.SetSourceFieldName("Name");
    hash.SetDataType(ftString);
    hash.Add(Key8(1).data(), 8, 1);
    hash.Clear();
    EXPECT_EQ(hash.Count(), 0);
    EXPECT_EQ(hash.MaxKeys(), 0);
    EXPECT_EQ(hash.KeySize(), 0);
    EXPECT_EQ(hash.HashSize(), 0);
    EXPECT_TRUE(hash.CheckHashFull());
    ExpectAssertion([&] { hash.Add(Key8(1).data(), 8, 1); }, "BaseHash is full");
    EXPECT_EQ(hash.ValueOf(Key8(1).data(), 8), 4294967295u);
    EXPECT_EQ(*hash.Find(Key8(1).data(), 8), nullptr);
    hash.Delete(Key8(1).data(), 8, 0);
    TList list;
    hash.GetPossibleMatchList(Key8(1).data(), 8, &list);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(hash.SourceFieldName(), "Name");
    EXPECT_EQ(hash.DataType(), ftString);
    EXPECT_TRUE(TOrqBaseHash::CheckKeysMatch("abc", "abd", 2, 2));
    EXPECT_FALSE(TOrqBaseHash::CheckKeysMatch("abc", "abd", 3, 3));
    EXPECT_FALSE(TOrqBaseHash::CheckKeysMatch("abc", "abc", 2, 3));
}

// ---------------------------------------------------------------------------------------------
// THashCollection

namespace {

THashCollectionItem* AddItem(THashCollection& c, int32_t a, int32_t b) {
    auto* item = static_cast<THashCollectionItem*>(c.Add());
    item->SetHashFromInts(a, b);
    c.AddHashKey(item->GetHashKey(), item->ID());
    return item;
}

std::string KeyOf(int32_t a, int32_t b) {
    THashCollectionItem probe(nullptr);
    probe.SetHashFromInts(a, b);
    return std::string(probe.GetHashKey(), 8);
}

}  // namespace

TEST(THashCollection, KeysFindTheirItems) {
    THashCollection c(ItemClassOf<THashCollectionItem>());
    EXPECT_EQ(c.Hash().HashSize(), 1000);
    EXPECT_EQ(c.Hash().MaxKeys(), 1000);
    EXPECT_EQ(c.Hash().KeySize(), 8);

    auto* a = AddItem(c, 0, 4096);
    auto* b = AddItem(c, 0, 8192);
    EXPECT_TRUE(a->IsHashed());
    EXPECT_EQ(std::string(a->GetHashKey(), 8), std::string("\0\0\0\0\0\x10\0\0", 8));
    EXPECT_EQ(c.FindHashKey(KeyOf(0, 4096).data()), a);
    EXPECT_EQ(c.FindHashKey(KeyOf(0, 8192).data()), b);
    EXPECT_EQ(c.FindHashKey(KeyOf(1, 4096).data()), nullptr);

    c.DeleteHashKey(a);
    EXPECT_FALSE(a->IsHashed());
    EXPECT_EQ(c.FindHashKey(KeyOf(0, 4096).data()), nullptr);
    EXPECT_EQ(c.Hash().Count(), 1);

    c.DeleteHashedItem(b->Index());
    EXPECT_EQ(c.Count(), 1);
    EXPECT_EQ(c.FindHashKey(KeyOf(0, 8192).data()), nullptr);
    EXPECT_EQ(c.Hash().Count(), 0);

    c.SetUseHashSearch(true);
    EXPECT_TRUE(c.UseHashSearch());
    c.Clear();
    EXPECT_EQ(c.Count(), 0);
    EXPECT_EQ(c.Hash().HashSize(), 1000);
}

TEST(THashCollection, AFullHashIsRebuiltForTheItemCount) {
    THashCollection c(ItemClassOf<THashCollectionItem>());
    std::vector<THashCollectionItem*> items;
    for (int i = 0; i < 600; ++i) items.push_back(AddItem(c, 0, i * 4096));
    // Keys added again without being removed first fill the hash.
    for (int i = 0; i < 400; ++i)
        c.AddHashKey(items[std::size_t(i)]->GetHashKey(), items[std::size_t(i)]->ID());
    EXPECT_TRUE(c.Hash().CheckHashFull());

    auto* extra = static_cast<THashCollectionItem*>(c.Add());
    extra->SetHashFromInts(1, 1);
    c.AddHashKey(extra->GetHashKey(), extra->ID());
    EXPECT_EQ(c.Hash().HashSize(), 1202);  // twice the 601 items
    EXPECT_EQ(c.Hash().MaxKeys(), 1202);
    EXPECT_EQ(c.Hash().Count(), 601 + 1);  // the rebuild holds the hashed items, then the new key
    for (int i = 0; i < 600; ++i) ASSERT_EQ(c.FindHashKey(KeyOf(0, i * 4096).data()), items[std::size_t(i)]);

    // A key added twice for one item is gone after one DeleteHashKey.
    c.DeleteHashKey(extra);
    EXPECT_EQ(c.FindHashKey(KeyOf(1, 1).data()), nullptr);
}

TEST(THashCollection, SmallCollectionsRebuildAtThousandAndSkipUnhashedItems) {
    THashCollection c(ItemClassOf<THashCollectionItem>());
    auto* a = AddItem(c, 7, 7);
    auto* b = AddItem(c, 8, 8);
    c.DeleteHashKey(a);
    c.ResetHash();
    EXPECT_EQ(c.Hash().HashSize(), 1000);
    EXPECT_EQ(c.Hash().Count(), 1);
    EXPECT_EQ(c.FindHashKey(KeyOf(7, 7).data()), nullptr);  // unhashed items stay out of the hash
    EXPECT_EQ(c.FindHashKey(KeyOf(8, 8).data()), b);
}

TEST(THashCollection, KeysOfFreedOrMovedItemsFindNothing) {
    auto other = std::make_unique<THashCollection>(ItemClassOf<THashCollectionItem>());
    THashCollectionItem* moved = nullptr;
    {
        THashCollection c(ItemClassOf<THashCollectionItem>());
        auto* a = AddItem(c, 1, 2);
        auto* b = AddItem(c, 3, 4);
        moved = AddItem(c, 5, 6);
        c.Delete(a->Index());  // freed without DeleteHashKey: its key stays in the hash
        EXPECT_EQ(c.FindHashKey(KeyOf(1, 2).data()), nullptr);
        delete b;
        EXPECT_EQ(c.FindHashKey(KeyOf(3, 4).data()), nullptr);
        moved->SetCollection(other.get());
        EXPECT_EQ(c.FindHashKey(KeyOf(5, 6).data()), nullptr);
        EXPECT_EQ(moved->Collection(), other.get());
    }
    // The first collection is gone; the moved item lives on in the other one and is freed with it.
    other->AddHashKey(moved->GetHashKey(), moved->ID());
    EXPECT_EQ(other->FindHashKey(KeyOf(5, 6).data()), moved);
    other.reset();
}
