// Open indexes: a table's index manager created, filled, closed and reopened on memory and on
// disk (roots and depths kept in the table header slots), adding, emptying and dropping
// indexes, finding indexes by leading fields, MoveBy, the key-field distribution errors, and
// the decoded search key (null bits cleared between fills, comparisons equal to CompareKeys).
#include "engine/storage/orqIndexUnit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableHeader.h"
#include "host/Collation.h"
#include "host/StringList.h"
#include "support/DiskTestSupport.h"
#include "support/orqErrorCapture.h"
#include "support/orqTreeFixture.h"

using namespace ostra;
using ostra::storagetest::ErrorCode;
using ostra::storagetest::ErrorText;
using ostra::testing::FieldSpec;
using ostra::testing::IndexStorage;
using ostra::testing::MakeLayout;
using ostra::testing::NewRecord;
using ostra::testing::Request;

namespace {

// A table of (Id, Name, City) with a unique index on Id, a case-insensitive non-unique index
// on Name and a non-unique index on City;Name; its header holds three index slots.
struct Table {
    explicit Table(const std::vector<TIndexRequest>& Requests = DefaultRequests())
        : Fields(MakeLayout({{"Id", ftInteger}, {"Name", ftString, 20}, {"City", ftString, 15}})) {
        for (const TIndexRequest& r : Requests)
            DeriveIndexDef(r, false, false, *Fields, Keys, Defs, SorqValueInvalidFmt, "test", nullptr);
        Header.SetHeaderSize(256);
        Header.SetIndexCount(uint32_t(Defs.Count()));
    }
    static std::vector<TIndexRequest> DefaultRequests() {
        return {Request("pk", "Id", true), Request("byName", "Name", false, false, true),
                Request("byCityName", "City;Name")};
    }
    // Assigns the manager from the definitions, distributes the key fields, binds storage and header.
    void Prepare(TIndexManager& Mgr, TBaseIOInterface* IO) {
        Mgr.SetDBStringCompareFunction(DBANSICompareStrings);
        Mgr.Assign(&Defs);
        Mgr.AssignKeyFields(Keys);
        Mgr.SetIOInterface(IO);
        Mgr.SetTableHeader(&Header);
    }
    std::vector<uint8_t> Record(int Id, const std::string& Name, const std::string& City, int32_t Logical) {
        auto rec = NewRecord(*Fields);
        ostra::testing::SetBytes(rec, *Fields->GetIndex(0), &Id, 4);
        ostra::testing::SetString(rec, *Fields->GetIndex(1), Name);
        ostra::testing::SetString(rec, *Fields->GetIndex(2), City);
        std::memcpy(&rec[C_RECLOGICALNOOFFSET], &Logical, 4);
        return rec;
    }
    // Adds a record's keys to every index as the cursor does: a key check, then the inserts.
    void Add(TIndexManager& Mgr, const std::vector<uint8_t>& Rec, uint32_t Address) {
        for (int i = 0; i < Mgr.Count(); ++i) {
            Mgr.GetItems(i)->CreateKeyBuffer(Rec.data(), nullptr);
            ASSERT_NE(Mgr.GetItems(i)->FullIndexSearch(stEQ), 0);
        }
        for (int i = 0; i < Mgr.Count(); ++i) ASSERT_EQ(Mgr.GetItems(i)->InsertKey(Address), 0);
    }
    // The record addresses of an index in key order.
    static std::vector<uint32_t> InOrder(TIndexItem& Index) {
        std::vector<uint32_t> out;
        for (uint32_t n = 1; n <= uint32_t(Index.GetRecordCount(true)); ++n)
            out.push_back(Index.SetRecordNo(int(n)));
        return out;
    }

    std::unique_ptr<TInternalFields> Fields;
    TKeyFields Keys;
    TInternalIndexDefs Defs;
    TTableHeader Header{nullptr};
};

const char* const kNames[] = {"delta", "Alpha", "charlie", "bravo", "ALPHA", "echo"};
const char* const kCities[] = {"Rome", "Oslo", "Lima"};

// Fills the table's indexes with N records: Id = 1000 - i, names and cities cycling.
void Fill(Table& T, TIndexManager& Mgr, int N) {
    for (int i = 0; i < N; ++i)
        T.Add(Mgr, T.Record(1000 - i, kNames[i % 6], kCities[i % 3], i + 1), uint32_t(100 + i));
}

}  // namespace

TEST(IndexManager, CreatesFillsAndKeepsRootsInTheHeaderSlots) {
    for (bool disk : {false, true}) {
        IndexStorage storage(disk);
        Table t;
        TIndexManager mgr;
        t.Prepare(mgr, storage.IO.get());
        mgr.CreateIndexes();
        mgr.Open();
        EXPECT_EQ(mgr.VisibleIndexCount(), 3);
        uint32_t roots[3];
        for (int i = 0; i < 3; ++i) {
            roots[i] = mgr.GetItems(i)->Root();
            EXPECT_NE(roots[i], 0u);
            EXPECT_EQ(t.Header.GetIndexRoot(i), roots[i]);
            EXPECT_EQ(t.Header.GetIndexDepth(i), 1u);
        }
        Fill(t, mgr, 600);
        mgr.WriteIndexHeaders();
        for (int i = 0; i < 3; ++i) {
            TIndexItem& index = *mgr.GetItems(i);
            EXPECT_EQ(index.GetRecordCount(true), 600);
            EXPECT_EQ(index.Root(), roots[i]) << "the root never moves";
            EXPECT_EQ(t.Header.GetIndexRoot(i), roots[i]);
            EXPECT_EQ(t.Header.GetIndexDepth(i), index.Depth());
            EXPECT_EQ(index.Depth(), 2u);
        }
        // Id order: addresses run backwards (Id = 1000 - i).
        const auto byId = Table::InOrder(*mgr.FindIndex("PK"));
        EXPECT_EQ(byId.front(), 699u);
        EXPECT_EQ(byId.back(), 100u);
        // Name order, case ignored: Alpha and ALPHA form one run ordered by logical number.
        TIndexItem& byName = *mgr.FindIndex("byname");
        const auto names = Table::InOrder(byName);
        EXPECT_EQ(names.front(), 101u) << "the first Alpha";
        EXPECT_EQ(names[1], 104u) << "then the first ALPHA";
        // A limited search on City finds the first Oslo record of City;Name.
        TIndexItem& byCity = *mgr.FindIndex("byCityName");
        TSearchModifier modifier;
        modifier.SetLimitedSearch(true);
        modifier.SetIncludedKeyFieldCount(1);
        byCity.CreateKeyBuffer(t.Record(0, "", "Oslo", 0).data(), nullptr);
        ASSERT_EQ(byCity.PartialIndexSearch(stGE, &modifier), 0);
        EXPECT_EQ(byCity.GetRecordNo(), 201) << "200 Lima records come first";
        mgr.Close();
        EXPECT_EQ(mgr.Count(), 0);
        EXPECT_EQ(mgr.IOInterface(), nullptr);
    }
}

TEST(IndexManager, DiskIndexesAreReadBackThroughTheHeaderSlots) {
    IndexStorage storage(true);
    const std::string path = storage.Disk->FileName();
    Table t;
    {
        TIndexManager mgr;
        t.Prepare(mgr, storage.IO.get());
        mgr.CreateIndexes();
        mgr.Open();
        Fill(t, mgr, 400);
        mgr.WriteIndexHeaders();
        mgr.Close();
    }
    storage.IO.reset();
    storage.Disk.reset();
    auto disk = disktest::OpenDatabase(path);
    TDiskIOInterface io;
    io.SetDiskMgr(disk.get());
    io.SetBlockSize(C_DEFAULTINDEXPAGESIZE);
    io.SetUsage(8);
    io.SetTableID(ostra::testing::C_TESTTABLEID);
    io.SetAccessFlags(1);
    io.SetGlobalFirstEmptyOffset(36);
    io.Open();
    TIndexManager mgr;
    t.Prepare(mgr, &io);
    mgr.Open();
    TIndexItem& pk = *mgr.FindIndex("pk");
    EXPECT_EQ(pk.GetRecordCount(true), 400);
    pk.CreateKeyBuffer(t.Record(900, "", "", 0).data(), nullptr);
    ASSERT_EQ(pk.FullIndexSearch(stEQ), 0);
    EXPECT_EQ(pk.GetRecordAddress(), 200u);
    EXPECT_EQ(pk.GetRecordNo(), 300);
}

TEST(IndexManager, AddEmptyAndDropIndexes) {
    IndexStorage storage(false);
    Table t;
    t.Header.SetIndexCount(4);
    TIndexManager mgr;
    t.Prepare(mgr, storage.IO.get());
    mgr.CreateIndexes();
    mgr.Open();
    Fill(t, mgr, 300);
    mgr.WriteIndexHeaders();  // as the cursor does when it writes the table header
    const size_t pagesBefore = storage.PageCount();

    // A fourth index on City alone, in slot 3.
    TInternalIndexDefs defs;
    TKeyFields keys;
    TInternalIndexDef* def = DeriveIndexDef(Request("byCity", "City"), false, false, *t.Fields, keys, defs,
                                            SorqValueInvalidFmt, "test", nullptr);
    def->SetIndexSequence(3);
    EXPECT_EQ(ErrorCode([&] { mgr.AddIndex(*t.Defs.GetItems(0), t.Keys); }), 10027);
    mgr.AddIndex(*def, keys);
    EXPECT_EQ(mgr.Count(), 4);
    EXPECT_EQ(mgr.VisibleIndexCount(), 4);
    TIndexItem& byCity = *mgr.FindIndex("BYCITY");
    EXPECT_EQ(byCity.KeyFields()->Count(), 2) << "City and the hidden logical number";
    EXPECT_EQ(t.Header.GetIndexRoot(3), byCity.Root());
    EXPECT_EQ(byCity.GetRecordCount(true), 0);
    auto rec = t.Record(5, "x", "Oslo", 999);
    byCity.CreateKeyBuffer(rec.data(), nullptr);
    ASSERT_NE(byCity.FullIndexSearch(stEQ), 0);
    ASSERT_EQ(byCity.InsertKey(77), 0);
    EXPECT_EQ(byCity.GetRecordCount(true), 1);

    // Emptying keeps the index with a fresh root page.
    mgr.EmptyIndex("byName");
    EXPECT_EQ(mgr.FindIndex("byName")->GetRecordCount(true), 0);
    EXPECT_EQ(t.Header.GetIndexRoot(1), mgr.FindIndex("byName")->Root());
    EXPECT_EQ(t.Header.GetIndexDepth(1), 1u);

    // Dropping releases the pages and clears the slot.
    const uint32_t cityNameRoot = mgr.FindIndex("byCityName")->Root();
    mgr.DropIndex("byCityName");
    EXPECT_EQ(mgr.FindIndex("byCityName"), nullptr);
    EXPECT_EQ(mgr.Count(), 3);
    EXPECT_EQ(t.Header.GetIndexRoot(2), 0u) << "the dropped index's slot";
    EXPECT_EQ(t.Header.GetIndexDepth(2), 0u);
    EXPECT_EQ(t.Header.GetIndexRoot(3), byCity.Root())
        << "the highest slot is cleared, then rewritten by byCity";
    EXPECT_FALSE(storage.IO->CheckBlockAddressValid(cityNameRoot));
    EXPECT_LT(storage.PageCount(), pagesBefore);
    EXPECT_EQ(ErrorCode([&] { mgr.DropIndex("nosuch"); }), 9997);
    EXPECT_EQ(ErrorCode([&] { mgr.EmptyIndex("nosuch"); }), 9997);
    mgr.SetCurrentIndexName("nosuch");
    EXPECT_EQ(ErrorCode([&] { mgr.CurrentIndex(); }), 9997);
    mgr.SetCurrentIndexName("pk");
    EXPECT_EQ(mgr.CurrentIndex()->IndexName(), "pk");
}

TEST(IndexManager, FindIndexForLeadingFields) {
    auto fields = MakeLayout({{"A", ftInteger}, {"B", ftInteger}, {"C", ftInteger}});
    TKeyFields keys;
    TInternalIndexDefs defs;
    for (const TIndexRequest& r : {Request("ba", "B;A", true), Request("abci", "A;B;C", true, false, true),
                                   Request("ab", "a;b"), Request("ac", "A;C")})
        DeriveIndexDef(r, false, false, *fields, keys, defs, SorqValueInvalidFmt, "test", nullptr);
    TIndexManager mgr;
    mgr.Assign(&defs);
    mgr.AssignKeyFields(keys);
    auto find = [&](const std::string& names, bool caseSensitiveOnly) {
        TStringList list;
        list.SetCommaText(names);
        TIndexItem* item = mgr.FindIndexForFields(list, caseSensitiveOnly);
        return item ? item->IndexName() : std::string("-");
    };
    EXPECT_EQ(find("A,B", false), "abci");
    EXPECT_EQ(find("a,b", true), "ab") << "skips the case-insensitive index";
    EXPECT_EQ(find("B,A", false), "ba");
    EXPECT_EQ(find("A,B,C", true), "-") << "ab has A, B and the hidden field";
    EXPECT_EQ(find("A,C", false), "ac");
    EXPECT_EQ(find("C", false), "-");
}

TEST(IndexManager, MoveByStepsUntilTheEnd) {
    IndexStorage storage(false);
    Table t;
    TIndexManager mgr;
    t.Prepare(mgr, storage.IO.get());
    mgr.CreateIndexes();
    mgr.Open();
    Fill(t, mgr, 10);
    TIndexItem& pk = *mgr.FindIndex("pk");
    pk.CreateKeyBuffer(t.Record(998, "", "", 0).data(), nullptr);  // the third-last Id
    ASSERT_EQ(pk.FullIndexSearch(stEQ), 0);
    EXPECT_TRUE(pk.MoveBy(0));
    EXPECT_EQ(pk.GetRecordAddress(), 102u);
    EXPECT_FALSE(pk.MoveBy(5));
    EXPECT_EQ(pk.GetRecordAddress(), 100u) << "two steps were made";
    EXPECT_TRUE(pk.MoveBy(-3));
    EXPECT_EQ(pk.GetRecordAddress(), 103u);
    // A lookup by number does not position the cursor: the next GetRecordNo needs a search.
    EXPECT_EQ(pk.SetRecordNo(1), 109u);
    EXPECT_EQ(ErrorCode([&] { pk.GetRecordNo(); }), 8581);
    ASSERT_EQ(pk.FullIndexSearch(stEQ), 0);
    EXPECT_EQ(pk.GetRecordNo(), 8);
}

TEST(IndexManager, SetUpErrors) {
    Table t;
    IndexStorage storage(false);
    struct Case {
        const char* Text;
        int32_t Code;
        std::function<void()> Action;
    };
    const Case cases[] = {
        {"Sort function not assinged", 8581,
         [&] {
             TIndexManager mgr;
             t.Prepare(mgr, storage.IO.get());
             mgr.SetDBStringCompareFunction(nullptr);
             mgr.Open();
         }},
        {"IO Interface is unassigned", 8581,
         [&] {
             TIndexManager mgr;
             t.Prepare(mgr, nullptr);
             mgr.GetItems(0)->SetRoot(1);
             mgr.GetItems(0)->SetDepth(1);
             mgr.GetItems(0)->Open();
         }},
        {"Not initialized", 8581,
         [&] {
             TIndexManager mgr;
             t.Prepare(mgr, storage.IO.get());
             mgr.GetItems(0)->Open();
         }},
        {"nosuch", 9997,
         [&] {
             TIndexManager mgr;
             t.Prepare(mgr, storage.IO.get());
             TKeyFields keys;
             keys.Assign(&t.Keys);
             keys.GetIndex(1)->SetIndexName("nosuch");
             mgr.AssignKeyFields(keys);
         }},
        {"KeyBuffers invalid", 8581,
         [&] {
             TIndexManager mgr;
             t.Prepare(mgr, storage.IO.get());
             TKeyFields keys;
             keys.Assign(&t.Keys);
             keys.GetIndex(0)->SetIndexName("byName");  // pk keeps no key field
             mgr.AssignKeyFields(keys);
         }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorCode(c.Action), c.Code) << c.Text;
        EXPECT_NE(ErrorText(c.Action).find(c.Text), std::string::npos) << c.Text;
    }
}

// ---------------------------------------------------------------------------------------------
// Decoded search keys

TEST(OptimizedSearchKey, AFillClearsTheNullBitsOfTheKeyBefore) {
    std::vector<FieldSpec> specs;
    for (int i = 0; i < 12; ++i) specs.push_back({"F" + std::to_string(i), ftInteger});
    auto fields = MakeLayout(specs);
    std::string twelve;
    std::string ten;
    for (int i = 0; i < 12; ++i) twelve += (i ? ";F" : "F") + std::to_string(i);
    for (int i = 0; i < 10; ++i) ten += (i ? ";F" : "F") + std::to_string(i);
    TKeyFields keys12, keys10;
    TInternalIndexDefs defs;
    DeriveIndexDef(Request("k12", twelve, true), false, false, *fields, keys12, defs, SorqValueInvalidFmt,
                   "t", nullptr);
    DeriveIndexDef(Request("k10", ten, true), false, false, *fields, keys10, defs, SorqValueInvalidFmt, "t",
                   nullptr);
    auto rec = NewRecord(*fields);
    for (int i = 0; i < 12; ++i) ostra::testing::SetBytes(rec, *fields->GetIndex(i), &i, 4);
    TOptimizedSearchKey key;
    const TKeyMarkerList markers = {fcForceEOF, fcForceBOF};
    key.SetDataFromRecBuf(keys12, &markers, rec.data());
    EXPECT_EQ(key.GetNullFlags(0), 0xFF);
    EXPECT_EQ(key.GetNullFlags(1), 0xF0);
    EXPECT_EQ(key.GetComparisonMarker(0), 1);
    EXPECT_EQ(key.GetComparisonMarker(1), -1);
    ostra::testing::SetNull(rec, *fields->GetIndex(3));
    ostra::testing::SetNull(rec, *fields->GetIndex(9));
    key.SetDataFromRecBuf(keys10, nullptr, rec.data());
    EXPECT_EQ(key.GetNullFlags(0), 0xEF) << "field 3 is null";
    EXPECT_EQ(key.GetNullFlags(1), 0x80) << "field 8 only: 9 is null, 10 and 11 are not in the key";
    EXPECT_EQ(key.GetDataSize(3), 0);
    EXPECT_EQ(key.GetDataSize(11), 0);
    EXPECT_EQ(key.GetComparisonMarker(0), 0);
    int32_t v;
    std::memcpy(&v, key.GetValue(8), 4);
    EXPECT_EQ(v, 8);
}

// The decoded key compares with entries exactly as CompareKeys compares the encoded key, for
// every key type with nulls, descending and case-insensitive fields, markers and field counts;
// a key decoded from the record and one decoded from its entry agree.
TEST(OptimizedSearchKey, ComparisonsMatchCompareKeys) {
    ostra::testing::TreeRig rig(
        {{"I", ftInteger},
         {"S", ftString, 6},
         {"M", ftSmallint},
         {"F", ftFloat},
         {"B", ftBoolean},
         {"W", ftWord}},
        [] {
            TIndexRequest r = Request("all", "I;S;M;F;B;W", true);
            r.DescFields = "S;F";
            r.CaseInsFields = "S";
            return r;
        }(),
        false, DBANSICompareStrings);
    const TInternalFields& f = *rig.Fields;
    std::mt19937 rng(99);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    auto record = [&] {
        auto rec = NewRecord(f);
        const int32_t i = pick(3) - 1;
        const int16_t m = int16_t(pick(3) - 1);
        const double d = pick(3) * 0.5 - 0.5;
        const uint8_t b = uint8_t(pick(2));
        const uint16_t w = uint16_t(pick(2) * 65535);
        const char* texts[] = {"ab", "AB", "abc", "b", ""};
        ostra::testing::SetBytes(rec, *f.GetIndex(0), &i, 4);
        ostra::testing::SetString(rec, *f.GetIndex(1), texts[pick(5)]);
        ostra::testing::SetBytes(rec, *f.GetIndex(2), &m, 2);
        ostra::testing::SetBytes(rec, *f.GetIndex(3), &d, 8);
        ostra::testing::SetBytes(rec, *f.GetIndex(4), &b, 1);
        ostra::testing::SetBytes(rec, *f.GetIndex(5), &w, 2);
        for (int k = 0; k < 6; ++k)
            if (pick(4) == 0) ostra::testing::SetNull(rec, *f.GetIndex(k));
        return rec;
    };
    const int n = rig.KeySize;
    int nonZero = 0;
    for (int round = 0; round < 3000; ++round) {
        const auto rec1 = record();
        const auto rec2 = record();
        TKeyMarkerList markers;
        for (int k = 0; k < pick(7); ++k) markers.push_back(uint8_t(pick(6) == 0 ? pick(3) : fcDefault));
        std::vector<uint8_t> key1(n), key2(n);
        ConstructKeyBufFromRecBuf(rig.Tree.KeyFields(), n, rec1.data(), key1.data());
        ConstructKeyBufFromRecBuf(rig.Tree.KeyFields(), n, rec2.data(), key2.data());
        TOptimizedSearchKey fromEntry, fromRecord;
        fromEntry.SetDataFromKeyBuf(rig.Tree.KeyFields(), &markers, key1.data(), n);
        fromRecord.SetDataFromRecBuf(rig.Tree.KeyFields(), &markers, rec1.data());
        const int fieldCount = pick(8);
        const int expected = rig.Tree.CompareKeys(fieldCount, &markers, nullptr, key1.data(), key2.data());
        const int a = rig.Tree.CompareDecodedKey(fromEntry, fieldCount, key2.data());
        const int b = rig.Tree.CompareDecodedKey(fromRecord, fieldCount, key2.data());
        ASSERT_EQ((a > 0) - (a < 0), (expected > 0) - (expected < 0)) << "round " << round;
        ASSERT_EQ((b > 0) - (b < 0), (expected > 0) - (expected < 0)) << "round " << round;
        nonZero += expected != 0;
    }
    EXPECT_GT(nonZero, 1000);
}
