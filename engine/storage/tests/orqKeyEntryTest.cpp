// Key entries: the byte layout the encoders write, their handling of nulls, markers and odd
// values, the comparison's errors, and a randomized check that encoded keys compare in the
// order of their values (every key type, both directions, case-insensitive strings, nulls,
// BOF/EOF markers and partial comparisons) against a model over plain values.
#include "engine/storage/orqKeyEntry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Collation.h"
#include "host/Variant.h"
#include "support/orqLayoutFixture.h"

using namespace ostra;
using ostra::testing::FieldSpec;
using ostra::testing::MakeLayout;
using ostra::testing::NewRecord;

namespace {

// A table with its record layout and the key fields of one derived index.
struct Index {
    Index(const std::vector<FieldSpec>& Specs, const TIndexRequest& Request) : Fields(MakeLayout(Specs)) {
        TInternalIndexDefs defs;
        TInternalIndexDef* def =
            DeriveIndexDef(Request, false, false, *Fields, Keys, defs, SorqValueInvalidFmt, "test", nullptr);
        Keys.SetDataOffset(def->KeyDataOffset());
        MaxKeySize = def->MaximumKeySize();
    }
    std::vector<uint8_t> FromRecord(const std::vector<uint8_t>& Rec, const TKeyMarkerList* Markers = nullptr,
                                    TKeyMarkerList* Out = nullptr) const {
        std::vector<uint8_t> key(MaxKeySize, 0xEE);
        ConstructKeyBufFromRecBuf(Keys, MaxKeySize, Rec.data(), key.data(), Markers, Out);
        return key;
    }
    std::vector<uint8_t> FromValues(const Variant& Values, const TKeyMarkerList* Markers = nullptr,
                                    TKeyMarkerList* Out = nullptr) const {
        std::vector<uint8_t> key(MaxKeySize, 0xEE);
        ConstructKeyBufFromVariants(Keys, MaxKeySize, Values, key.data(), Markers, Out);
        return key;
    }
    int Compare(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B, int FieldCount = 0,
                const TKeyMarkerList* MA = nullptr, const TKeyMarkerList* MB = nullptr) const {
        return CompareKeys(Keys, DBANSICompareStrings, MaxKeySize, FieldCount, MA, MB, A.data(), B.data());
    }

    std::unique_ptr<TInternalFields> Fields;
    TKeyFields Keys;
    int MaxKeySize = 0;
};

int Sign(int v) {
    return (v > 0) - (v < 0);
}

uint16_t U16(const std::vector<uint8_t>& Key, int Offset) {
    return static_cast<uint16_t>(Key[Offset] | Key[Offset + 1] << 8);
}

TEST(KeyEntry, StringKeyFromARecordHoldsLengthThenCharactersThenZeros) {
    Index ix({{"Code", ftString, 19}, {"Id", ftInteger}}, {.IndexName = "c", .Fields = "Code"});
    ASSERT_EQ(ix.MaxKeySize, 37);
    auto rec = NewRecord(*ix.Fields);
    ostra::testing::SetString(rec, *ix.Fields->GetIndex(0), "ab");
    const uint32_t logicalNo = 0x01020304;
    std::memcpy(&rec[C_RECLOGICALNOOFFSET], &logicalNo, 4);

    const auto key = ix.FromRecord(rec);
    const std::vector<uint8_t> expected = {37,   0, 0,   0,   0, 0, 0, 0, 0, 0,  // size, count, address
                                           0xC0,                                 // both fields not null
                                           2,    0, 'a', 'b',                    // the string
                                           4,    3, 2,   1};  // the hidden logical record number
    ASSERT_EQ(key.size(), 37u);
    EXPECT_EQ(std::vector<uint8_t>(key.begin(), key.begin() + expected.size()), expected);
    for (std::size_t i = expected.size(); i < key.size(); ++i) EXPECT_EQ(key[i], 0) << i;

    // A record whose in-use flag is not 1 leaves the hidden field null.
    rec[C_RECINUSEOFFSET] = 0;
    EXPECT_EQ(ix.FromRecord(rec)[10], 0x80);
}

TEST(KeyEntry, OnlyNullFlagOneCountsAsAValue) {
    Index ix({{"A", ftInteger}, {"B", ftSmallint}, {"C", ftBoolean}},
             {.IndexName = "i", .Fields = "A;B;C", .Unique = true});
    auto rec = NewRecord(*ix.Fields);
    const int32_t a = -5;
    std::memcpy(&rec[ix.Fields->GetIndex(0)->DataOffset()], &a, 4);
    rec[ix.Fields->GetIndex(0)->NullFlagOffset()] = C_FIELDNOTNULL;
    rec[ix.Fields->GetIndex(1)->NullFlagOffset()] = C_FIELDLOWEST;
    rec[ix.Fields->GetIndex(2)->NullFlagOffset()] = C_FIELDHIGHEST;
    const auto key = ix.FromRecord(rec);
    EXPECT_EQ(key[10], 0x80);
    EXPECT_EQ(key[11], 0xFB);  // -5, then nothing for the two marked fields
    EXPECT_EQ(key[15], 0);

    // A Boolean stored as any non-zero byte encodes as 1.
    rec[ix.Fields->GetIndex(2)->NullFlagOffset()] = C_FIELDNOTNULL;
    rec[ix.Fields->GetIndex(2)->DataOffset()] = 0xFF;
    EXPECT_EQ(ix.FromRecord(rec)[15], 1);
}

TEST(KeyEntry, SearchValuesFillTheLeadingFields) {
    Index ix({{"A", ftInteger}, {"B", ftString, 5}, {"C", ftFloat}},
             {.IndexName = "i", .Fields = "A;B;C", .Unique = true});
    // A single value goes to field 0; the others are null.
    auto key = ix.FromValues(Variant(7));
    EXPECT_EQ(key[10], 0x80);
    EXPECT_EQ(key[11], 7);
    EXPECT_EQ(U16(key, 0), ix.MaxKeySize);

    // Unassigned is a non-null zero (an empty string for a String field); Null stays null.
    key = ix.FromValues(VarArrayOf({Unassigned(), Unassigned(), Null()}));
    EXPECT_EQ(key[10], 0xC0);
    EXPECT_EQ(std::vector<uint8_t>(key.begin() + 11, key.begin() + 17), std::vector<uint8_t>(6, 0));

    // Elements beyond the array's end are null.
    key = ix.FromValues(VarArrayOf({Null(), "xy"}));
    EXPECT_EQ(key[10], 0x40);
    EXPECT_EQ(U16(key, 11), 2);
    EXPECT_EQ(key[13], 'x');

    // Text converts by the field's type.
    key = ix.FromValues(VarArrayOf({"12", 34, "2.5"}));
    EXPECT_EQ(key[10], 0xE0);
    EXPECT_EQ(key[11], 12);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&key[17]), 2), "34");
    double c;
    std::memcpy(&c, &key[19], 8);
    EXPECT_EQ(c, 2.5);
}

TEST(KeyEntry, SearchValuesThatDoNotFitTheField) {
    Index ix({{"S", ftString, 3}, {"W", ftWord}, {"I", ftSmallint}},
             {.IndexName = "i", .Fields = "S;W;I", .Unique = true});
    // A String longer than the field is cut to the field's stored size (declared length + 1).
    auto key = ix.FromValues(VarArrayOf({"abcdefgh"}));
    EXPECT_EQ(U16(key, 11), 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&key[13]), 4), "abcd");
    EXPECT_EQ(key[ix.MaxKeySize - 1], 0);
    // ... and still sorts after every value the field can hold with that prefix.
    auto stored = NewRecord(*ix.Fields);
    ostra::testing::SetString(stored, *ix.Fields->GetIndex(0), "abc");
    EXPECT_GT(ix.Compare(key, ix.FromRecord(stored)), 0);

    // Integers outside a 16-bit field's range are refused rather than wrapped.
    EXPECT_THROW(ix.FromValues(VarArrayOf({"a", 70000})), EVariantError);
    EXPECT_THROW(ix.FromValues(VarArrayOf({"a", -1})), EVariantError);
    EXPECT_THROW(ix.FromValues(VarArrayOf({"a", 1, 32768})), EVariantError);
    key = ix.FromValues(VarArrayOf({"a", 65535, -32768}));
    EXPECT_EQ(U16(key, 14), 65535);
    EXPECT_EQ(U16(key, 16), 0x8000);

    // A wide string is cut to whole characters.
    TKeyFields wide;
    TKeyFieldItem* w = wide.Add();
    w->SetDataType(ftWideString);
    w->SetFieldSize(5);
    w->SetSizeMarkerOffset(20);
    wide.SetDataOffset(1);
    std::vector<uint8_t> wkey(CalculateMaximumKeySize(wide) + 1);
    ConstructKeyBufFromVariants(wide, static_cast<int>(wkey.size()), Variant("\xE9xyz"), wkey.data());
    EXPECT_EQ(U16(wkey, 11), 4);
    EXPECT_EQ(U16(wkey, 13), 0x00E9);
    EXPECT_EQ(U16(wkey, 15), 'x');
}

TEST(KeyEntry, MarkersFollowTheCallersListThenDefault) {
    Index ix({{"A", ftInteger}, {"B", ftInteger}}, {.IndexName = "i", .Fields = "A;B"});
    TKeyMarkerList out = {9, 9, 9, 9, 9};
    const TKeyMarkerList given = {fcForceEOF};
    ix.FromValues(Variant(1), &given, &out);
    EXPECT_EQ(out, (TKeyMarkerList{fcForceEOF, fcDefault, fcDefault}));
    ix.FromRecord(NewRecord(*ix.Fields), nullptr, &out);
    EXPECT_EQ(out, (TKeyMarkerList{fcDefault, fcDefault, fcDefault}));
}

TEST(KeyEntry, MarkerListFromASearchBuffer) {
    Index ix({{"A", ftInteger}, {"B", ftString, 4}, {"C", ftFloat}}, {.IndexName = "i", .Fields = "C;A;B"});
    auto buf = NewRecord(*ix.Fields);
    buf[ix.Fields->GetIndex(0)->NullFlagOffset()] = C_FIELDLOWEST;
    buf[ix.Fields->GetIndex(1)->NullFlagOffset()] = C_FIELDHIGHEST;
    buf[ix.Fields->GetIndex(2)->NullFlagOffset()] = C_FIELDNOTNULL;
    // Key order C, A, B, then the hidden field, which takes the trailer's marker.
    EXPECT_EQ(BuildKeyMarkerList(ix.Keys, buf.data(), 4),
              (TKeyMarkerList{fcDefault, fcForceBOF, fcForceEOF, fcForceEOF}));
    EXPECT_EQ(BuildKeyMarkerList(ix.Keys, buf.data(), 0),
              (TKeyMarkerList{fcDefault, fcForceBOF, fcForceEOF, fcDefault}));
    EXPECT_EQ(BuildKeyMarkerList(ix.Keys, buf.data(), 2).back(), fcForceBOF);
}

TEST(KeyEntry, MarkersPlaceAPartialKeyAroundItsRunInEitherDirection) {
    for (bool descending : {false, true}) {
        SCOPED_TRACE(descending);
        Index ix({{"A", ftInteger}, {"B", ftInteger}},
                 {.IndexName = "i", .Fields = "A;B", .Descending = descending});
        const auto k1 = ix.FromValues(VarArrayOf({5, 1, 10}));
        const auto k2 = ix.FromValues(VarArrayOf({5, Null(), 11}));
        const auto partial = ix.FromValues(VarArrayOf({5}));
        const TKeyMarkerList bof = {fcDefault, fcForceBOF, fcForceBOF};
        const TKeyMarkerList eof = {fcDefault, fcForceEOF, fcForceEOF};
        for (const auto* k : {&k1, &k2}) {
            EXPECT_LT(ix.Compare(partial, *k, 0, &bof), 0);
            EXPECT_GT(ix.Compare(partial, *k, 0, &eof), 0);
            EXPECT_GT(ix.Compare(*k, partial, 0, nullptr, &bof), 0);  // markers on either side
            EXPECT_EQ(ix.Compare(partial, *k, 1, &bof), 0);           // not reached: equal on A
        }
        EXPECT_EQ(Sign(ix.Compare(k1, k2)), descending ? -1 : 1);  // a null B sorts first ascending
    }
}

TEST(KeyEntry, TheComparisonRefusesMalformedEntries) {
    Index ix({{"S", ftString, 3}}, {.IndexName = "i", .Fields = "S", .Unique = true});
    auto good = ix.FromValues(Variant("ab"));
    auto bad = good;
    bad[0] = static_cast<uint8_t>(ix.MaxKeySize + 1);
    auto check = [&](const std::vector<uint8_t>& key, const char* text) {
        try {
            ix.Compare(good, key);
            FAIL() << text;
        } catch (const EOrqDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode, 8581);
            EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
        }
    };
    check(bad, "KeySize out of range");
    bad = good;
    bad[11] = 200;  // a string length that runs past the entry
    check(bad, "KeySize out of range");

    TKeyFields keys;
    keys.Add()->SetDataType(ftBytes);
    keys.GetIndex(0)->SetFieldSize(4);
    keys.SetDataOffset(1);
    std::vector<uint8_t> k(15, 0);
    k[0] = 15;
    k[10] = 0x80;
    try {
        CompareKeys(keys, DBANSICompareStrings, 15, 0, nullptr, nullptr, k.data(), k.data());
        FAIL();
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 8581);
        EXPECT_NE(std::string(e.what()).find("Field type not found: Bytes"), std::string::npos) << e.what();
    }
    try {
        ConstructKeyBufFromVariants(keys, 15, Variant(1), k.data());
        FAIL();
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10000);
        EXPECT_NE(std::string(e.what()).find("Invalid field type (error code #10000) - Bytes"),
                  std::string::npos);
    }

    // A record whose size marker claims more than the field holds is refused, not read past.
    auto rec = NewRecord(*ix.Fields);
    ostra::testing::SetString(rec, *ix.Fields->GetIndex(0), "ab");
    rec[ix.Fields->GetIndex(0)->SizeMarkerOffset()] = 9;
    EXPECT_THROW(ix.FromRecord(rec), EOrqDatabaseError);
}

TEST(KeyEntry, ScaledCurrencyKeysCompareExactly) {
    TKeyFields keys;
    keys.Add()->SetDataType(ftBCD);
    keys.GetIndex(0)->SetFieldSize(8);
    keys.SetDataOffset(1);
    const int size = CalculateMaximumKeySize(keys) + 1;
    std::vector<uint8_t> a(size), b(size);
    // Two amounts one ten-thousandth apart that are the same double.
    ConstructKeyBufFromVariants(keys, size, Variant(Currency::FromScaled(9007199254740993LL)), a.data());
    ConstructKeyBufFromVariants(keys, size, Variant(Currency::FromScaled(9007199254740992LL)), b.data());
    EXPECT_GT(CompareKeys(keys, DBANSICompareStrings, size, 0, nullptr, nullptr, a.data(), b.data()), 0);
}

// ---------------------------------------------------------------------------------------------
// Randomized: the order of encoded keys is the order of their values.

// One key field of the model: its type, direction, case rule and declared length.
struct ModelField {
    TFieldType Type;
    bool Descending = false;
    bool CaseInsensitive = false;
    int Length = 0;  // String: declared length; WideString: characters
    bool Hidden = false;
};

// One key of the model: per field a marker, a null flag and a value.
struct ModelKey {
    std::vector<uint8_t> Markers;
    std::vector<Variant> Values;  // Null for a null field
};

int CompareAsciiModel(std::string a, std::string b, bool CaseInsensitive) {
    if (CaseInsensitive) {
        for (char& c : a) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        for (char& c : b) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    return Sign(a.compare(b));  // std::string compares chars; our alphabet is below 128
}

int CompareModelValues(const ModelField& f, const Variant& a, const Variant& b, bool Ansi) {
    switch (f.Type) {
        case ftString:
            if (!Ansi) return CompareAsciiModel(a.AsString(), b.AsString(), f.CaseInsensitive);
            [[fallthrough]];
        case ftWideString:
            return Sign(f.CaseInsensitive ? AnsiCompareText(a.AsString(), b.AsString())
                                          : AnsiCompareStr(a.AsString(), b.AsString()));
        case ftBCD: {
            const int64_t x = a.AsCurrency().Scaled, y = b.AsCurrency().Scaled;
            return (x > y) - (x < y);
        }
        case ftFloat:
        case ftCurrency:
        case ftDate:
        case ftTime:
        case ftDateTime: {
            const double x = a.AsDouble(), y = b.AsDouble();
            return (x > y) - (x < y);
        }
        default: {
            const int64_t x = a.AsInt64(), y = b.AsInt64();
            return (x > y) - (x < y);
        }
    }
}

int CompareModel(const std::vector<ModelField>& Fields, const ModelKey& A, const ModelKey& B, int FieldCount,
                 bool Ansi) {
    const int n = FieldCount > 0 ? FieldCount : static_cast<int>(Fields.size());
    for (int i = 0; i < n; ++i) {
        if (A.Markers[i] != B.Markers[i]) return A.Markers[i] < B.Markers[i] ? -1 : 1;
        const bool hasA = !VarIsNull(A.Values[i]), hasB = !VarIsNull(B.Values[i]);
        int r = static_cast<int>(hasA) - static_cast<int>(hasB);
        if (r == 0 && hasA) r = CompareModelValues(Fields[i], A.Values[i], B.Values[i], Ansi);
        if (Fields[i].Descending) r = -r;
        if (r != 0) return r;
    }
    return 0;
}

class KeyOrder {
public:
    explicit KeyOrder(uint32_t Seed) : FRandom(Seed) {}

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(FRandom); }
    bool Chance(int Percent) { return Pick(100) < Percent; }

    // A random value of the field's type from a small domain, so that ties are common.
    Variant RandomValue(const ModelField& f) {
        static const char kAlphabet[] = {'a', 'A', 'b', 'B', 'z', ' ', '0', '~'};
        switch (f.Type) {
            case ftString:
            case ftWideString: {
                std::string s;
                const int len = Pick(std::min(f.Length, 4) + 1);
                for (int i = 0; i < len; ++i) s += kAlphabet[Pick(8)];
                if (f.Type == ftWideString && Chance(20)) s += '\xE9';  // é: a character beyond ASCII
                return Variant(s);
            }
            case ftSmallint: {
                const int v[] = {-32768, -300, -1, 0, 1, 255, 32767};
                return Variant(v[Pick(7)]);
            }
            case ftWord: {
                const int v[] = {0, 1, 255, 256, 32768, 65535};
                return Variant(v[Pick(6)]);
            }
            case ftInteger:
            case ftAutoInc: {
                const int v[] = {std::numeric_limits<int>::min(), -2000000000, -1, 0, 1, 2000000000,
                                 std::numeric_limits<int>::max()};
                return Variant(v[Pick(7)]);
            }
            case ftBoolean:
                return Variant(Chance(50));
            case ftBCD: {
                const long long v[] = {-9007199254740993LL, -10000, 0, 1, 10000, 9007199254740992LL,
                                       9007199254740993LL};
                return Variant(Currency::FromScaled(v[Pick(7)]));
            }
            default: {
                const double v[] = {-1e300, -2.5, -0.0, 0.0, 1e-300, 0.5, 2.5, 45000.75, 1e300};
                return Variant(v[Pick(9)]);
            }
        }
    }

    // Writes a model value into a record the way the cursor would store it.
    static void Store(std::vector<uint8_t>& Rec, const TInternalFieldItem& F, const Variant& V) {
        if (VarIsNull(V)) {
            ostra::testing::SetNull(Rec, F);
            return;
        }
        switch (F.DataType()) {
            case ftString:
                ostra::testing::SetString(Rec, F, V.AsString());
                break;
            case ftSmallint:
            case ftWord: {
                const auto v = static_cast<uint16_t>(V.AsInteger());
                ostra::testing::SetBytes(Rec, F, &v, 2);
                break;
            }
            case ftInteger:
            case ftAutoInc: {
                const int32_t v = V.AsInteger();
                ostra::testing::SetBytes(Rec, F, &v, 4);
                break;
            }
            case ftBoolean: {
                const uint8_t v = V.AsBoolean() ? 0x81 : 0;  // any non-zero byte is true
                ostra::testing::SetBytes(Rec, F, &v, 1);
                break;
            }
            default: {
                const double v = V.AsDouble();
                ostra::testing::SetBytes(Rec, F, &v, 8);
                break;
            }
        }
    }

    // One trial: a random index, random keys, every pair compared against the model.
    void Trial(bool Ansi) {
        static const TFieldType kRecordTypes[] = {ftString,  ftSmallint, ftInteger,  ftWord,
                                                  ftBoolean, ftFloat,    ftCurrency, ftDate,
                                                  ftTime,    ftDateTime, ftAutoInc};
        const bool recordTypesOnly = Chance(60);
        const int fieldCount = 1 + Pick(4);
        std::vector<ModelField> fields;
        for (int i = 0; i < fieldCount; ++i) {
            ModelField f;
            if (recordTypesOnly || Chance(50))
                f.Type = kRecordTypes[Pick(11)];
            else
                f.Type = Chance(50) ? ftWideString : ftBCD;
            f.Descending = Chance(40);
            f.CaseInsensitive = Chance(50);
            f.Length = 1 + Pick(6);
            fields.push_back(f);
        }

        // The key fields: derived from a table when every type can live in a record, else built
        // directly (WideString and BCD keys do not come from tables).
        std::unique_ptr<TInternalFields> layout;
        TKeyFields keys;
        int maxKeySize;
        if (recordTypesOnly) {
            std::vector<FieldSpec> specs;
            TIndexRequest request{.IndexName = "ix", .Unique = Chance(50)};
            for (int i = 0; i < fieldCount; ++i) {
                specs.push_back({"f" + std::to_string(i), fields[i].Type, fields[i].Length});
                request.Fields += (i ? ";f" : "f") + std::to_string(i);
                if (fields[i].Descending) request.DescFields += "f" + std::to_string(i) + ";";
                if (fields[i].CaseInsensitive) request.CaseInsFields += "f" + std::to_string(i) + ";";
            }
            request.Descending = Chance(50);  // the hidden field's direction
            layout = MakeLayout(specs);
            TInternalIndexDefs defs;
            TInternalIndexDef* def = DeriveIndexDef(request, false, false, *layout, keys, defs,
                                                    SorqValueInvalidFmt, "test", nullptr);
            keys.SetDataOffset(def->KeyDataOffset());
            maxKeySize = def->MaximumKeySize();
            for (int i = 0; i < fieldCount; ++i) {
                fields[i].Descending = keys.GetIndex(i)->Descending();
                fields[i].CaseInsensitive = keys.GetIndex(i)->CaseInsensitive();
            }
            if (keys.Count() > fieldCount) {
                ModelField hidden{ftInteger, keys.GetIndex(fieldCount)->Descending()};
                hidden.Hidden = true;
                fields.push_back(hidden);
            }
        } else {
            for (const ModelField& f : fields) {
                TKeyFieldItem* k = keys.Add();
                k->SetDataType(f.Type);
                k->SetDescending(f.Descending);
                k->SetCaseInsensitive(f.CaseInsensitive);
                k->SetFieldSize(f.Type == ftWideString ? 2 * (f.Length + 1)
                                : f.Type == ftString   ? f.Length + 1
                                                       : CalculateCoreDataSize(f.Type));
            }
            keys.SetDataOffset(keys.Count() / 8 + 1);
            maxKeySize = CalculateMaximumKeySize(keys) + keys.DataOffset();
        }
        const int n = static_cast<int>(fields.size());

        // Keys: plain keys and partial search keys whose trailing fields carry BOF/EOF markers.
        std::vector<ModelKey> model;
        std::vector<std::vector<uint8_t>> encoded;
        for (int k = 0; k < 24; ++k) {
            ModelKey key;
            const int prefix = Chance(25) ? Pick(n) : n;
            const uint8_t marker = Chance(50) ? fcForceBOF : fcForceEOF;
            for (int i = 0; i < n; ++i) {
                key.Markers.push_back(i < prefix ? uint8_t{fcDefault} : marker);
                key.Values.push_back(i < prefix && !Chance(15) ? RandomValue(fields[i]) : Null());
            }
            std::vector<uint8_t> entry(maxKeySize);
            ConstructKeyBufFromVariants(keys, maxKeySize, VarArrayOf(key.Values), entry.data());
            if (layout) {
                // The record encoder writes the same entry from the stored values.
                auto rec = NewRecord(*layout);
                for (int i = 0; i < n; ++i) {
                    if (fields[i].Hidden) {
                        if (VarIsNull(key.Values[i])) {
                            rec[C_RECINUSEOFFSET] = 0;
                        } else {
                            const int32_t v = key.Values[i].AsInteger();
                            std::memcpy(&rec[C_RECLOGICALNOOFFSET], &v, 4);
                        }
                    } else {
                        Store(rec, *layout->GetIndex(i), key.Values[i]);
                    }
                }
                std::vector<uint8_t> fromRecord(maxKeySize, 0xEE);
                ConstructKeyBufFromRecBuf(keys, maxKeySize, rec.data(), fromRecord.data());
                ASSERT_EQ(fromRecord, entry) << "record and search-value encoders differ";
            }
            model.push_back(std::move(key));
            encoded.push_back(std::move(entry));
        }

        const TDBStringCompareFunction collation = Ansi ? DBANSICompareStrings : DBASCIICompareStrings;
        for (std::size_t a = 0; a < model.size(); ++a) {
            for (std::size_t b = 0; b < model.size(); ++b) {
                const int fieldCountToCompare = Chance(20) ? Pick(n + 1) : 0;
                const int expected = CompareModel(fields, model[a], model[b], fieldCountToCompare, Ansi);
                const int actual =
                    CompareKeys(keys, collation, maxKeySize, fieldCountToCompare, &model[a].Markers,
                                &model[b].Markers, encoded[a].data(), encoded[b].data());
                if (Sign(actual) != expected) {
                    std::string why;
                    for (int i = 0; i < n; ++i)
                        why += std::string(FieldTypeName(fields[i].Type)) +
                               (fields[i].Descending ? " desc" : "") +
                               (fields[i].CaseInsensitive ? " ci" : "") + " [" +
                               VarToStr(model[a].Values[i]) + " m" + std::to_string(model[a].Markers[i]) +
                               " | " + VarToStr(model[b].Values[i]) + " m" +
                               std::to_string(model[b].Markers[i]) + "]; ";
                    FAIL() << "expected " << expected << " got " << actual << " over " << fieldCountToCompare
                           << " fields: " << why;
                }
            }
        }
    }

private:
    std::mt19937 FRandom;
};

TEST(KeyOrderModel, EncodedKeysCompareInTheOrderOfTheirValues) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        KeyOrder order(seed);
        order.Trial(seed % 2 == 0);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
