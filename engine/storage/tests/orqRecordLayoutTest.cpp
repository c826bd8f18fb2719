// Record layouts: offsets for a table of cases, the refused field types, the field-index map,
// copies that keep generator ids, and the stored component text of field descriptors.
#include "engine/storage/orqRecordLayout.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/storage/orqErrors.h"
#include "host/ComponentText.h"
#include "host/PropertyRegistry.h"
#include "support/orqLayoutFixture.h"
#include "testsupport/TestFiles.h"

using namespace ostra;
using ostra::test::Crlf;
using ostra::testing::FieldSpec;
using ostra::testing::MakeLayout;

namespace {

struct Expect {
    int NullFlag, SizeMarker, Data, Size;
};

struct LayoutCase {
    const char* Name;
    std::vector<FieldSpec> Fields;
    std::vector<Expect> Offsets;
    int RecordSize;
};

TEST(RecordLayout, OffsetsFollowThePrefixNullFlagsAndFieldOrder) {
    const std::vector<LayoutCase> cases = {
        {"Integer, String(10), Boolean",
         {{"I", ftInteger}, {"S", ftString, 10}, {"B", ftBoolean}},
         {{14, 0, 17, 4}, {15, 21, 23, 11}, {16, 0, 34, 1}},
         35},
        {"one Blob", {{"Pic", ftBlob}}, {{14, 0, 15, 8}}, 23},
        {"every fixed type",
         {{"a", ftSmallint},
          {"b", ftWord},
          {"c", ftFloat},
          {"d", ftCurrency},
          {"e", ftDate},
          {"f", ftTime},
          {"g", ftDateTime},
          {"h", ftAutoInc},
          {"i", ftMemo},
          {"j", ftGraphic},
          {"k", ftFmtMemo}},
         {{14, 0, 25, 2},
          {15, 0, 27, 2},
          {16, 0, 29, 8},
          {17, 0, 37, 8},
          {18, 0, 45, 8},
          {19, 0, 53, 8},
          {20, 0, 61, 8},
          {21, 0, 69, 4},
          {22, 0, 73, 8},
          {23, 0, 81, 8},
          {24, 0, 89, 8}},
         97},
        {"Bytes between Strings",
         {{"s1", ftString, 1}, {"raw", ftBytes, 5}, {"s2", ftString, 255}},
         {{14, 17, 19, 2}, {15, 0, 21, 5}, {16, 26, 28, 256}},
         284},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.Name);
        auto fields = MakeLayout(c.Fields);
        ASSERT_EQ(fields->Count(), static_cast<int>(c.Offsets.size()));
        for (int i = 0; i < fields->Count(); ++i) {
            SCOPED_TRACE(i);
            const TInternalFieldItem* f = fields->GetIndex(i);
            EXPECT_EQ(f->NullFlagOffset(), c.Offsets[i].NullFlag);
            EXPECT_EQ(f->SizeMarkerOffset(), c.Offsets[i].SizeMarker);
            EXPECT_EQ(f->DataOffset(), c.Offsets[i].Data);
            EXPECT_EQ(f->FieldSize(), c.Offsets[i].Size);
        }
        EXPECT_EQ(fields->RecordSize(), c.RecordSize);
    }
}

TEST(RecordLayout, SetDefaultOffsetsRestoresTheSizeOfFixedTypes) {
    auto fields = MakeLayout({{"I", ftInteger}});
    fields->GetIndex(0)->SetFieldSize(99);
    fields->SetDefaultOffsets();
    EXPECT_EQ(fields->GetIndex(0)->FieldSize(), 4);
    EXPECT_EQ(fields->RecordSize(), 19);
}

TEST(RecordLayout, OpenFindsBlobsAndTheLastAutoIncField) {
    auto plain = MakeLayout({{"a", ftInteger}, {"b", ftString, 3}});
    EXPECT_FALSE(plain->UsesBlobs());
    EXPECT_EQ(plain->AutoIncFieldNo(), -1);

    auto fields = MakeLayout({{"a", ftAutoInc}, {"m", ftMemo}, {"b", ftAutoInc}, {"c", ftInteger}});
    EXPECT_TRUE(fields->UsesBlobs());
    EXPECT_EQ(fields->AutoIncFieldNo(), 2);
}

TEST(FieldItem, SetDataTypeRefusesTypesARecordCannotHold) {
    TInternalFields fields;
    TInternalFieldItem* f = fields.Add();
    f->SetDataType(ftInteger);
    for (TFieldType bad : {ftBCD, ftVarBytes, ftWideString, ftLargeint, ftUnknown, ftFixedChar}) {
        try {
            f->SetDataType(bad);
            FAIL() << "accepted " << FieldTypeName(bad);
        } catch (const EOrqDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode, 10000);
            EXPECT_EQ(e.ErrorMessage, "Invalid field type");
            EXPECT_NE(std::string(e.what()).find(FieldTypeName(bad)), std::string::npos) << e.what();
        }
        EXPECT_EQ(f->DataType(), ftInteger);
        EXPECT_EQ(f->FieldSize(), 4);
    }
    f->SetDataType(ftString);
    EXPECT_EQ(f->FieldSize(), 0);
    f->SetFieldSize(11);
    EXPECT_EQ(f->GetWriteableFieldSize(), 10);
    f->SetDataType(ftBytes);
    f->SetFieldSize(11);
    EXPECT_EQ(f->GetWriteableFieldSize(), 11);
}

TEST(FieldList, FindsFieldsByNameIgnoringCase) {
    auto fields = MakeLayout({{"Id", ftInteger},
                              {"Name", ftString, 20},
                              {"Gr\xF6\xDF"
                               "e",
                               ftFloat}});
    fields->GetIndex(0)->SetSourceField("OldId");
    EXPECT_EQ(fields->FindField("NAME"), fields->GetIndex(1));
    // Windows-1252 text: "Größe" matches "gRÖßE" but not "GRÖSSE" (ß is not a case variant of SS).
    EXPECT_EQ(fields->FindField("GR\xD6SSE"), nullptr);
    EXPECT_EQ(fields->FindField("gR\xD6\xDF"
                                "E"),
              fields->GetIndex(2));
    EXPECT_EQ(fields->FindField("Nam"), nullptr);
    EXPECT_EQ(fields->FindSourceField("oldid"), fields->GetIndex(0));
    EXPECT_EQ(fields->FindSourceField("Id"), nullptr);
}

TEST(FieldList, TheFieldIndexMapFollowsFieldIndexNotPosition) {
    auto fields = MakeLayout({{"a", ftInteger}, {"b", ftInteger}, {"c", ftInteger}});
    fields->GetIndex(0)->SetFieldIndex(2);
    fields->GetIndex(2)->SetFieldIndex(0);
    fields->Open();
    EXPECT_EQ(fields->GetField(0)->FieldName(), "c");
    EXPECT_EQ(fields->GetField(2)->FieldName(), "a");
    EXPECT_EQ(fields->GetFieldIndexValue(2), 0);
    EXPECT_EQ(fields->GetFieldIndexValue(3), -1);
    EXPECT_EQ(fields->GetFieldIndexValue(400), -1);
    EXPECT_THROW(fields->GetField(3), EAssertionFailed);
    EXPECT_THROW(fields->GetField(-1), EAssertionFailed);
}

TEST(FieldList, OpenRejectsDuplicateAndOutOfRangeFieldIndexes) {
    auto fields = MakeLayout({{"a", ftInteger}, {"b", ftInteger}});
    fields->GetIndex(1)->SetFieldIndex(0);
    try {
        fields->Open();
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "Field indexes degenerate");
    }
    fields->GetIndex(1)->SetFieldIndex(2);
    try {
        fields->Open();
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "Invalid field index");
    }
}

TEST(FieldList, AddGivesRandomGeneratorIdsAndAssignKeepsThem) {
    auto fields = MakeLayout({{"a", ftInteger}, {"b", ftString, 5}, {"c", ftBoolean}, {"d", ftMemo}});
    for (int i = 0; i < fields->Count(); ++i) {
        EXPECT_GE(fields->GetIndex(i)->FieldGeneratorID(), 0);
        EXPECT_LT(fields->GetIndex(i)->FieldGeneratorID(), 2147483647);
    }
    fields->GetIndex(1)->SetSourceField("Old");
    fields->GetIndex(1)->SetPrivilegeFlags(5);
    fields->GetIndex(3)->SetCompressionMode(dcZLib);
    fields->GetIndex(2)->SetHidden(true);

    TInternalFields copy;
    copy.Assign(fields.get());
    ASSERT_EQ(copy.Count(), 4);
    EXPECT_EQ(copy.RecordSize(), 0);
    EXPECT_FALSE(copy.UsesBlobs());
    EXPECT_EQ(copy.AutoIncFieldNo(), -1);
    for (int i = 0; i < 4; ++i) {
        const TInternalFieldItem* a = fields->GetIndex(i);
        const TInternalFieldItem* b = copy.GetIndex(i);
        EXPECT_EQ(b->FieldGeneratorID(), a->FieldGeneratorID());
        EXPECT_EQ(b->FieldName(), a->FieldName());
        EXPECT_EQ(b->DataType(), a->DataType());
        EXPECT_EQ(b->FieldSize(), a->FieldSize());
        EXPECT_EQ(b->DataOffset(), a->DataOffset());
        EXPECT_EQ(b->SizeMarkerOffset(), a->SizeMarkerOffset());
        EXPECT_EQ(b->NullFlagOffset(), a->NullFlagOffset());
        EXPECT_EQ(b->IsVariable(), a->IsVariable());
        EXPECT_EQ(b->SourceField(), a->SourceField());
        EXPECT_EQ(b->PrivilegeFlags(), a->PrivilegeFlags());
        EXPECT_EQ(b->Hidden(), a->Hidden());
        EXPECT_EQ(b->CompressionMode(), a->CompressionMode());
    }
    // The map came along: GetField works on the copy without Open.
    EXPECT_EQ(copy.GetField(3)->FieldName(), "d");
}

TEST(SearchFields, CopyKeepsTheSearchFlags) {
    TSearchFields search;
    TSearchFieldItem* f = search.Add();
    f->SetDataType(ftInteger);
    f->SetFieldName("Id");
    f->SetInIndex(true);
    f->SetDescending(true);
    TSearchFields copy;
    copy.Assign(&search);
    ASSERT_EQ(copy.Count(), 1);
    EXPECT_TRUE(copy.GetItems(0)->InIndex());
    EXPECT_TRUE(copy.GetItems(0)->Descending());
    EXPECT_EQ(copy.FindField("ID"), copy.GetItems(0));

    // A plain field list copies into search fields without the flags.
    auto plain = MakeLayout({{"x", ftWord}});
    copy.Assign(plain.get());
    ASSERT_EQ(copy.Count(), 1);
    EXPECT_FALSE(copy.GetItems(0)->InIndex());
    EXPECT_EQ(copy.GetItems(0)->DataType(), ftWord);
}

// Holds a field list as a published collection, the way a table definition stores it.
class TFieldsHolder : public TPersistent {
public:
    TInternalFields* Fields() const { return FFields.get(); }

private:
    std::unique_ptr<TInternalFields> FFields = std::make_unique<TInternalFields>(this);
};

[[maybe_unused]] const bool kHolderPublished =
    Publish<TFieldsHolder, TPersistent>().Collection("InternalFields", &TFieldsHolder::Fields);

TEST(FieldItemText, PublishedInTheirOrderWithDefaultsLeftOut) {
    TFieldsHolder holder;
    auto layout = MakeLayout({{"Id", ftAutoInc}, {"Name", ftString, 10}});
    holder.Fields()->Assign(layout.get());
    holder.Fields()->GetIndex(0)->SetFieldGeneratorID(7);
    holder.Fields()->GetIndex(0)->SetRequired(true);
    TInternalFieldItem* name = holder.Fields()->GetIndex(1);
    name->SetFieldGeneratorID(123456);
    name->SetNumDecimalPlaces(2);
    name->SetHidden(true);
    name->SetCompressionMode(dcZLib);
    name->SetSourceField("not stored");
    name->SetPrivilegeFlags(9);

    const std::string text = ObjectToText(&holder, "Def");
    EXPECT_EQ(text, Crlf(R"(object Def: TFieldsHolder
  InternalFields = <
    item
      FieldName = 'Id'
      FieldNo = 0
      FieldIndex = 0
      DataType = ftAutoInc
      FieldSize = 4
      Required = True
      SizeMarkerOffset = 0
      DataOffset = 16
      NullFlagOffset = 14
      FieldGeneratorID = 7
    end
    item
      FieldName = 'Name'
      FieldNo = 1
      FieldIndex = 1
      DataType = ftString
      FieldSize = 11
      NumDecimalPlaces = 2
      Required = False
      SizeMarkerOffset = 20
      DataOffset = 22
      NullFlagOffset = 15
      IsVariable = True
      FieldGeneratorID = 123456
      Hidden = True
      CompressionMode = dcZLib
    end>
end
)"));

    TFieldsHolder back;
    TextToObject(text, &back);
    ASSERT_EQ(back.Fields()->Count(), 2);
    const TInternalFieldItem* b = back.Fields()->GetIndex(1);
    EXPECT_EQ(b->DataType(), ftString);
    EXPECT_EQ(b->FieldSize(), 11);  // read after DataType, so not reset by it
    EXPECT_EQ(b->NumDecimalPlaces(), 2);
    EXPECT_TRUE(b->IsVariable());
    EXPECT_TRUE(b->Hidden());
    EXPECT_EQ(b->CompressionMode(), dcZLib);
    EXPECT_EQ(b->FieldGeneratorID(), 123456);
    EXPECT_EQ(b->SourceField(), "");
    EXPECT_EQ(b->PrivilegeFlags(), 0);
    EXPECT_EQ(ObjectToText(&back, "Def"), text);
}

TEST(FieldItemText, AStoredTypeARecordCannotHoldIsRefused) {
    TFieldsHolder holder;
    try {
        TextToObject(Crlf("object Def: TFieldsHolder\n  InternalFields = <\n    item\n"
                          "      DataType = ftBCD\n    end>\nend\n"),
                     &holder);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("Invalid field type"), std::string::npos) << e.what();
    }
}

}  // namespace
