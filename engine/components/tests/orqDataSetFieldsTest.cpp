// Field values of the engine cursor: raw values with their lengths and limits, values by reference
// and as variants (each type, nulls, empty texts, ranges), blob values as streams, and the
// description of fields and indexes for the framework (also at design time from the stored
// definition).
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "engine/storage/orqByteOrder.h"
#include "host/Streams.h"
#include "host/StringList.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

class CursorFieldsTest : public TCursorTest {
protected:
    void SetUp() override {
        TCursorTest::SetUp();
        Create("Kinds",
               {{"S", ftString, 10},
                {"SI", ftSmallint},
                {"W", ftWord},
                {"I", ftInteger},
                {"B", ftBoolean},
                {"F", ftFloat},
                {"C", ftCurrency},
                {"D", ftDate},
                {"T", ftTime},
                {"DT", ftDateTime},
                {"BY", ftBytes, 6},
                {"M", ftMemo},
                {"G", ftGraphic}},
               {{"ixSI", "SI;S", {}}, {"ixDown", "I;F", TIndexOptions{ixDescending, ixUnique}},
                {"ixMixed", "S;W", TIndexOptions{ixCaseInsensitive}, "W", "S"}});
        Cursor = Open("Kinds");
        Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    }
    int No(const char* Field) { return Cursor->GetFieldNo(Field); }

    std::unique_ptr<TOrqDataSet> Cursor;
};

TEST_P(CursorFieldsTest, WritesAndReadsRawValuesWithinTheirLength) {
    const int s = No("S");
    Cursor->DataSetSetFieldData(s, 10, false, "0123456789");  // declared length 10: stored size 11
    EXPECT_EQ(Cursor->GetFieldLength(s), 10);
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetSetFieldData(s, 11, false, "0123456789A"); }), 8581);
    std::vector<uint8_t> other(size_t(Cursor->RecordBufferSize()), 0);
    Cursor->DataSetSetFieldDataToRecBuf(s, 10, false, other.data(), "abcdefghij");
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetSetFieldDataToRecBuf(s, 11, false, other.data(), "abcdefghijk"); }), 8581);
    EXPECT_NE(ErrorText([&] { Cursor->DataSetSetFieldData(s, 11, false, "0123456789A"); }).find("Field data length is out of range"),
              std::string::npos);

    // A shorter value clears the rest of the field.
    Cursor->DataSetSetFieldData(s, 3, false, "xyz");
    char value[16];
    std::memset(value, '#', sizeof value);
    bool isNull = true;
    Cursor->DataSetGetFieldData(s, isNull, value);
    EXPECT_FALSE(isNull);
    EXPECT_EQ(std::string(value, 11), std::string("xyz\0\0\0\0\0\0\0\0", 11));
    const uint8_t* data = nullptr;
    int length = 0;
    Cursor->DataSetGetFieldDataByReferenceFromRecBuf(s, isNull, data, length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size_t(length)), "xyz");
    EXPECT_EQ(Cursor->BufferState(), 2);

    // A field without a size marker takes its whole size for a negative length.
    const int32_t number = -7;
    Cursor->DataSetSetFieldDataToRecBuf(No("I"), -1, false, Cursor->RecordBuffer(), &number);
    EXPECT_EQ(GetValue(*Cursor, "I").AsInteger(), -7);
    Cursor->DataSetSetFieldData(No("I"), 0, true, nullptr);
    EXPECT_TRUE(Cursor->GetIsFieldNullFromRecBuf(Cursor->RecordBuffer(), No("I")));
    Cursor->DataSetGetFieldDataByReferenceFromRecBuf(No("I"), isNull, data, length);
    EXPECT_TRUE(isNull);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(length, 0);

    // Blob values are streams, never raw values.
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetGetFieldData(No("M"), isNull, value); }), 8581);
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetSetFieldData(No("M"), 1, false, "x"); }), 8581);
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetGetFieldDataByReferenceFromRecBuf(No("G"), isNull, data, length); }), 8581);
}

TEST_P(CursorFieldsTest, ConvertsValuesToAndFromVariants) {
    struct Case {
        const char* Field;
        Variant Written;
        Variant Read;
    };
    const Case cases[] = {
        {"S", "text", "text"},
        {"S", "", ""},  // an empty text is a value, not null
        {"SI", -5, short(-5)},
        {"W", 65531, static_cast<unsigned short>(65531)},
        {"I", 2000000000, 2000000000},
        {"B", true, true},
        {"B", 0, false},
        {"F", 2.5, 2.5},
        {"C", 12.25, 12.25},
        {"D", VarFromDateTime(45000), VarFromDateTime(45000)},
        {"T", VarFromDateTime(0.25), VarFromDateTime(0.25)},
        {"DT", VarFromDateTime(45000.5), VarFromDateTime(45000.5)},
    };
    for (const Case& c : cases) {
        SetValue(*Cursor, c.Field, c.Written);
        EXPECT_FALSE(Cursor->GetIsFieldNullFromRecBuf(Cursor->RecordBuffer(), No(c.Field))) << c.Field;
        const Variant read = GetValue(*Cursor, c.Field);
        EXPECT_EQ(VarType(read), VarType(c.Read)) << c.Field;
        EXPECT_TRUE(read == c.Read) << c.Field << ": " << VarToStr(read);
        SetValue(*Cursor, c.Field, Null());
        EXPECT_TRUE(VarIsNull(GetValue(*Cursor, c.Field))) << c.Field;
    }
    // Out of the field's range, too long, or a type without variant form.
    EXPECT_THROW(SetValue(*Cursor, "SI", 40000), EVariantError);
    EXPECT_THROW(SetValue(*Cursor, "W", -1), EVariantError);
    EXPECT_EQ(ErrorCode([&] { SetValue(*Cursor, "S", "eleven char"); }), 8581);
    EXPECT_EQ(ErrorCode([&] { SetValue(*Cursor, "BY", "ab"); }), 10000);
    EXPECT_EQ(ErrorCode([&] { GetValue(*Cursor, "M"); }), 10000);
}

TEST_P(CursorFieldsTest, ReadsAndWritesBlobStreams) {
    const int memo = No("M");
    TMemoryStream in, out;
    in.Write("memo text", 9);
    bool isNull = false;
    // No stored value, an empty stream: the field stays null and its entry unchanged.
    TMemoryStream empty;
    Cursor->DataSetSetFieldStream(memo, false, &empty);
    EXPECT_EQ(Cursor->RecordMgr().BlobMgr().FindBlob(0, memo)->State(), bsInvalid);
    Cursor->DataSetGetFieldStream(memo, isNull, out);
    EXPECT_TRUE(isNull);
    Cursor->DataSetSetFieldStream(memo, false, &in);
    Cursor->DataSetGetFieldStream(memo, isNull, out);
    EXPECT_FALSE(isNull);
    EXPECT_EQ(out.Size(), 9);
    Cursor->AddRecord(false);
    ASSERT_TRUE(Cursor->DataSetFirst());
    TMemoryStream stored;
    Cursor->DataSetGetFieldStream(memo, isNull, stored);
    EXPECT_EQ(std::string(static_cast<const char*>(stored.Memory()), size_t(stored.Size())), "memo text");
    EXPECT_TRUE(Cursor->IsFieldTextBlob(memo));
    EXPECT_FALSE(Cursor->IsFieldTextBlob(No("G")));
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetGetFieldStream(No("S"), isNull, out); }), 8581);
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetSetFieldStream(No("S"), false, &in); }), 10753);
}

TEST_P(CursorFieldsTest, ARecordThatDisagreesWithItsBlobChainIsADamagedFile) {
    const int memo = No("M");
    TMemoryStream in;
    in.Write("memo text", 9);
    Cursor->DataSetSetFieldStream(memo, false, &in);
    Cursor->AddRecord(false);
    ASSERT_TRUE(Cursor->DataSetFirst());
    // The record's blob address and length as a damaged file could hold them: a length far beyond
    // the chain (no stream is sized by it), another length, and no address at all.
    const uint8_t* stored = Cursor->RecordBuffer();
    const int offset = Cursor->GetFieldDataOffset(memo);
    for (const auto& [address, length] : std::vector<std::pair<uint32_t, uint32_t>>{
             {Load32(stored + offset), 0x7FFFFFF0u}, {Load32(stored + offset), 8}, {0, 9}}) {
        std::vector<uint8_t> damaged(stored, stored + Cursor->RecordBufferSize());
        Store32(damaged.data() + offset, address);
        Store32(damaged.data() + offset + 4, length);
        TMemoryStream out;
        bool isNull = false;
        EXPECT_EQ(ErrorCode([&] { Cursor->DataSetGetFieldStreamFromRecBuf(damaged.data(), memo, isNull, out); }),
                  8963)
            << address << " " << length;
        EXPECT_LE(out.Size(), 9);
    }
}

TEST_P(CursorFieldsTest, DescribesFieldsAndIndexes) {
    TFieldDefs defs(nullptr);
    Cursor->GetFieldDef(No("S"), *defs.AddFieldDef());
    Cursor->GetFieldDef(No("BY"), *defs.AddFieldDef());
    Cursor->GetFieldDef(No("I"), *defs.AddFieldDef());
    EXPECT_EQ(defs[0]->Name(), "S");
    EXPECT_EQ(defs[0]->DataType(), ftString);
    EXPECT_EQ(defs[0]->Size(), 10);  // the writeable size
    EXPECT_EQ(defs[1]->Size(), 6);
    EXPECT_EQ(defs[2]->Size(), 0);
    EXPECT_TRUE(Cursor->IsFieldBlob(No("G")));

    EXPECT_EQ(Cursor->InternalGetIndexCount(), 3);
    Cursor->InternalSetIndexName("ixSI");
    EXPECT_EQ(Cursor->GetIndexFieldCount(), 2);  // the hidden record number is not counted
    TIndexDefs indexes(nullptr);
    for (int i = 0; i < 3; ++i) Cursor->GetIndexDef(i, *indexes.AddIndexDef());
    EXPECT_EQ(indexes[0]->Fields(), "SI;S");
    EXPECT_TRUE(indexes[0]->Options() == TIndexOptions{});
    EXPECT_EQ(indexes[1]->DescFields(), "I;F");  // every field descending
    EXPECT_TRUE(indexes[1]->Options() == (TIndexOptions{ixUnique, ixDescending}));
    EXPECT_EQ(indexes[2]->CaseInsFields(), "S");
    EXPECT_EQ(indexes[2]->DescFields(), "W");
    EXPECT_TRUE(indexes[2]->Options() == (TIndexOptions{ixCaseInsensitive, ixDescending}));

    TStringList names, fields;
    Cursor->GetIndexNames(names);
    Cursor->GetIndexFieldNamesList(fields);
    EXPECT_EQ(names.CommaText(), "ixSI,ixDown,ixMixed");
    EXPECT_EQ(fields.CommaText(), "SI;S,I;F,S;W");

    // At design time a closed cursor reads them from the stored definition.
    Cursor->DataSetClose();
    names.Clear();
    Cursor->GetIndexNames(names);
    EXPECT_EQ(names.Count(), 0);
    Cursor->SetDesigning(true);
    Cursor->GetIndexNames(names);
    EXPECT_EQ(names.CommaText(), "ixSI,ixDown,ixMixed");
}

INSTANTIATE_CURSOR_TESTS(CursorFieldsTest);

}  // namespace
}  // namespace ostra::componentstest
