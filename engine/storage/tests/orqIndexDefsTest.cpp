// Index definitions: derivation from requested indexes (key fields, hidden field, key sizes,
// limits and errors), copies, the key-size routines and the stored component text.
#include "engine/storage/orqIndexDefs.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/orqConsts.h"
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

// A table's definitions being built: its fields, key fields and index definitions.
struct Table {
    explicit Table(const std::vector<FieldSpec>& Specs) : Fields(MakeLayout(Specs)) {}

    TInternalIndexDef* Derive(const TIndexRequest& Request, bool Hidden = false, bool Memory = false,
                              const std::string& Fmt = SorqValueInvalidFmt) {
        return DeriveIndexDef(Request, Hidden, Memory, *Fields, KeyFields, IndexDefs, Fmt,
                              "TOrqDataSet.SetTableDef", nullptr);
    }
    // The key fields of the named index, in order.
    std::vector<const TKeyFieldItem*> KeysOf(const std::string& IndexName) const {
        std::vector<const TKeyFieldItem*> keys;
        for (int i = 0; i < KeyFields.Count(); ++i)
            if (KeyFields.GetIndex(i)->IndexName() == IndexName) keys.push_back(KeyFields.GetIndex(i));
        return keys;
    }

    std::unique_ptr<TInternalFields> Fields;
    TKeyFields KeyFields;
    TInternalIndexDefs IndexDefs;
};

// The engine error a call raises: its code and full message; code 0 when it raises none.
struct Raised {
    int Code = 0;
    std::string Message;
};
Raised Catch(const std::function<void()>& Call) {
    try {
        Call();
    } catch (const EOrqDatabaseError& e) {
        return {e.ErrorCode, e.what()};
    }
    return {};
}
bool Contains(const std::string& Text, const std::string& Part) {
    return Text.find(Part) != std::string::npos;
}

TEST(IndexDerivation, UniqueIntegerIndex) {
    Table t({{"Name", ftString, 10}, {"Id", ftInteger}});
    TInternalIndexDef* def = t.Derive({.IndexName = "ById", .Fields = "id", .Unique = true}, false, true);
    EXPECT_EQ(def->IndexName(), "ById");
    EXPECT_TRUE(def->Unique());
    EXPECT_FALSE(def->Primary());
    EXPECT_TRUE(def->Maintained());
    EXPECT_TRUE(def->Memory());
    EXPECT_FALSE(def->Hidden());
    EXPECT_EQ(def->IndexSequence(), 0);
    EXPECT_EQ(def->KeyDataOffset(), 1);
    EXPECT_EQ(def->MaximumKeySize(), 15);
    EXPECT_EQ(def->IndexPageSize(), 4096u);

    ASSERT_EQ(t.KeyFields.Count(), 1);
    const TKeyFieldItem* k = t.KeyFields.GetIndex(0);
    const TInternalFieldItem* f = t.Fields->GetIndex(1);
    EXPECT_EQ(k->FieldName(), "Id");  // the field's own spelling
    EXPECT_EQ(k->IndexName(), "ById");
    EXPECT_EQ(k->DataType(), ftInteger);
    EXPECT_EQ(k->FieldSize(), 4);
    EXPECT_EQ(k->RecBufOffset(), f->DataOffset());
    EXPECT_EQ(k->NullFlagOffset(), f->NullFlagOffset());
    EXPECT_EQ(k->SizeMarkerOffset(), 0);
    EXPECT_EQ(k->PhysicalFieldNo(), 1);
    EXPECT_EQ(k->KeyIndex(), 0);
    EXPECT_FALSE(k->Hidden());
}

TEST(IndexDerivation, NonUniqueIndexEndsInTheHiddenLogicalRecordNumber) {
    Table t({{"Name", ftString, 19}});
    TInternalIndexDef* def = t.Derive({.IndexName = "ByName", .Fields = "Name"});
    EXPECT_EQ(def->KeyDataOffset(), 1);
    EXPECT_EQ(def->MaximumKeySize(), 10 + 2 + 20 + 4 + 1);
    auto keys = t.KeysOf("ByName");
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0]->SizeMarkerOffset(), t.Fields->GetIndex(0)->SizeMarkerOffset());
    EXPECT_TRUE(keys[0]->IsVariable());
    const TKeyFieldItem* h = keys[1];
    EXPECT_TRUE(h->Hidden());
    EXPECT_EQ(h->FieldName(), "");
    EXPECT_EQ(h->DataType(), ftInteger);
    EXPECT_EQ(h->FieldSize(), 4);
    EXPECT_EQ(h->RecBufOffset(), 6);
    EXPECT_EQ(h->NullFlagOffset(), 0);
    EXPECT_EQ(h->PhysicalFieldNo(), -1);
    EXPECT_EQ(h->KeyIndex(), 1);
    EXPECT_FALSE(h->Descending());
    EXPECT_FALSE(h->CaseInsensitive());

    // The default index of a table without indexes: no fields, only the hidden one.
    TInternalIndexDef* logical = t.Derive({.IndexName = "_LogicalRecNo"}, true);
    EXPECT_TRUE(logical->Hidden());
    EXPECT_EQ(logical->IndexSequence(), 1);
    EXPECT_EQ(logical->MaximumKeySize(), 10 + 4 + 1);
    ASSERT_EQ(t.KeysOf("_LogicalRecNo").size(), 1u);
    EXPECT_EQ(t.KeyFields.FindFieldCountForIndex("_LOGICALRECNO"), 1);
    EXPECT_EQ(t.KeyFields.FindFieldCountForIndex("byname"), 2);
    EXPECT_EQ(t.IndexDefs.FindIndexDef("BYNAME"), t.IndexDefs.GetItems(0));
    EXPECT_EQ(t.IndexDefs.FindIndexDef("nope"), nullptr);
}

TEST(IndexDerivation, KeyDataOffsetCountsTheHiddenField) {
    std::vector<FieldSpec> specs;
    std::string names;
    for (int i = 0; i < 8; ++i) {
        specs.push_back({"f" + std::to_string(i), ftBoolean});
        if (i < 7) names += (i ? ";f" : "f") + std::to_string(i);
    }
    Table t(specs);
    EXPECT_EQ(t.Derive({.IndexName = "seven", .Fields = names})->KeyDataOffset(), 2);  // 7 + hidden
    EXPECT_EQ(t.Derive({.IndexName = "six", .Fields = "f0;f1;f2;f3;f4;f5"})->KeyDataOffset(), 1);
    EXPECT_EQ(t.Derive({.IndexName = "u7", .Fields = names, .Unique = true})->KeyDataOffset(), 1);
    EXPECT_EQ(t.Derive({.IndexName = "p8", .Fields = names + ";f7", .Primary = true})->KeyDataOffset(), 2);
}

TEST(IndexDerivation, DirectionAndCaseOfEachField) {
    Table t({{"Id", ftInteger}, {"CustId", ftInteger}, {"Name", ftString, 5}});
    struct Case {
        TIndexRequest Request;
        std::vector<bool> Descending, CaseInsensitive;  // per key field, hidden one last
    };
    const std::vector<Case> cases = {
        {{.IndexName = "a", .Fields = "Id;Name", .Descending = true, .CaseInsensitive = true},
         {true, true, true},
         {true, true, false}},
        {{.IndexName = "b", .Fields = "Id;Name", .DescFields = "Name", .Descending = true},
         {false, true, true},
         {false, false, false}},
        {{.IndexName = "c", .Fields = "Id;Name", .CaseInsFields = "name", .DescFields = " NAME ; x"},
         {false, true, false},
         {false, true, false}},
        // A listed name marks only the field of that name, not every field it contains.
        {{.IndexName = "d", .Fields = "Id;CustId", .DescFields = "CustId", .Unique = true},
         {false, true},
         {false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Request.IndexName);
        t.Derive(c.Request);
        auto keys = t.KeysOf(c.Request.IndexName);
        ASSERT_EQ(keys.size(), c.Descending.size());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(keys[i]->Descending(), c.Descending[i]) << i;
            EXPECT_EQ(keys[i]->CaseInsensitive(), c.CaseInsensitive[i]) << i;
        }
    }
}

TEST(IndexDerivation, KeySizeLimitIs500Bytes) {
    // Unique on (String 255, String L): 10 + (2 + 256) + (2 + L + 1) + 1 = 272 + L.
    Table t({{"A", ftString, 255}, {"B", ftString, 228}, {"C", ftString, 229}});
    EXPECT_EQ(t.Derive({.IndexName = "ok", .Fields = "A;B", .Unique = true})->MaximumKeySize(), 500);

    Raised r = Catch([&] { t.Derive({.IndexName = "big", .Fields = "A;C", .Unique = true}); });
    EXPECT_EQ(r.Code, 9602);
    EXPECT_TRUE(Contains(r.Message,
                         "Key size too large (error code #9602) - big has not been set or is out of range"))
        << r.Message;
    r = Catch([&] {
        t.Derive({.IndexName = "big2", .Fields = "A;C", .Primary = true}, false, false, SorqIndexFmt);
    });
    EXPECT_EQ(r.Code, 9602);
    EXPECT_TRUE(Contains(r.Message, "Key size too large (error code #9602) - Index big2")) << r.Message;
}

TEST(IndexDerivation, AtMost32KeyFieldsWithTheHiddenOne) {
    std::vector<FieldSpec> specs;
    std::string names;
    for (int i = 0; i < 32; ++i) {
        specs.push_back({"f" + std::to_string(i), ftBoolean});
        names += (i ? ";f" : "f") + std::to_string(i);
    }
    Table t(specs);
    EXPECT_EQ(t.Derive({.IndexName = "u32", .Fields = names, .Unique = true})->KeyDataOffset(), 5);
    const std::string first31 = names.substr(0, names.rfind(';'));
    EXPECT_EQ(t.Derive({.IndexName = "n31", .Fields = first31})->KeyDataOffset(), 5);
    Raised r = Catch([&] { t.Derive({.IndexName = "n32", .Fields = names}); });
    EXPECT_EQ(r.Code, 9603);
    EXPECT_TRUE(Contains(r.Message, "Too many fields in index (error code #9603) - Maximum allowed is 32"))
        << r.Message;
}

TEST(IndexDerivation, RefusesUnknownAndUnindexableFields) {
    Table t({{"Id", ftInteger},
             {"Raw", ftBytes, 4},
             {"Pic", ftGraphic},
             {"Notes", ftMemo},
             {"Name", ftString, 4}});
    struct Case {
        const char* Fields;
        int Code;
        const char* Text;
    };
    const Case cases[] = {
        {"Id;Missing", 10116, "No such field (error code #10116) - Missing"},
        {"Id;", 10116, "(error code #10116). No such field"},  // an empty name: no custom text
        {"Raw", 10117, "Field type cannot be indexed (error code #10117) - Bytes"},
        {"Pic", 10117, "Field type cannot be indexed (error code #10117) - Graphic"},
        {"Id;notes", 10117, "Field type cannot be indexed (error code #10117) - Memo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Fields);
        Raised r = Catch([&] { t.Derive({.IndexName = "x", .Fields = c.Fields}); });
        EXPECT_EQ(r.Code, c.Code);
        EXPECT_TRUE(Contains(r.Message, c.Text)) << r.Message;
    }

    t.Fields->GetIndex(4)->SetSizeMarkerOffset(0);
    Raised r = Catch([&] { t.Derive({.IndexName = "y", .Fields = "Name"}); });
    EXPECT_EQ(r.Code, 8581);
    EXPECT_TRUE(Contains(r.Message, "(error code #8581) - KeyOffset has not been set or is out of range"))
        << r.Message;
}

TEST(KeySizes, MaximumKeySizeAndPageSize) {
    TKeyFields keys;
    EXPECT_EQ(CalculateMaximumKeySize(keys), 10);
    struct Field {
        TFieldType Type;
        int Size;
    };
    for (Field f : {Field{ftString, 21},
                    {ftWideString, 40},
                    {ftSmallint, 2},
                    {ftWord, 2},
                    {ftInteger, 4},
                    {ftAutoInc, 4},
                    {ftBoolean, 1},
                    {ftFloat, 8},
                    {ftCurrency, 8},
                    {ftBCD, 8},
                    {ftDate, 8},
                    {ftTime, 8},
                    {ftDateTime, 8}}) {
        TKeyFieldItem* k = keys.Add();
        k->SetDataType(f.Type);
        k->SetFieldSize(f.Size);
        k->SetSizeMarkerOffset(f.Type == ftString || f.Type == ftWideString ? 30 : 0);
    }
    EXPECT_EQ(CalculateMaximumKeySize(keys), 10 + (2 + 21) + (2 + 40) + 2 + 2 + 4 + 4 + 1 + 8 * 6);
    keys.Add()->SetDataType(ftBytes);
    try {
        CalculateMaximumKeySize(keys);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Error in setting CoreDataSize - field type not found: Bytes");
    }

    const int pageSizes[][2] = {{0, 4096},    {15, 4096},   {4079, 4096},
                                {4080, 6144}, {6127, 6144}, {6128, 8192}};
    for (const auto& p : pageSizes) EXPECT_EQ(CalculateIndexPageSize(p[0]), p[1]) << p[0];
}

TEST(KeyFieldCopies, AssignCopiesEveryPropertyButNotTheListsDataOffset) {
    Table t({{"Name", ftString, 8}, {"Id", ftInteger}});
    t.Derive({.IndexName = "n",
              .Fields = "Name;Id",
              .CaseInsFields = "Name",
              .DescFields = "Id",
              .CaseInsensitive = true});
    t.KeyFields.SetDataOffset(3);
    TKeyFields copy;
    copy.Assign(&t.KeyFields);
    EXPECT_EQ(copy.DataOffset(), 0);
    ASSERT_EQ(copy.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        const TKeyFieldItem* a = t.KeyFields.GetIndex(i);
        const TKeyFieldItem* b = copy.GetIndex(i);
        EXPECT_EQ(ObjectToText(b, "k"), ObjectToText(a, "k"));  // all published properties
    }
    EXPECT_EQ(copy.FindField("NAME"), copy.GetIndex(0));

    TKeyFieldItem broken(nullptr);
    broken.Assign(t.KeyFields.GetIndex(0));
    TKeyFieldItem source(nullptr);
    source.Assign(t.KeyFields.GetIndex(0));
    source.SetSizeMarkerOffset(0);
    try {
        broken.Assign(&source);
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "Internal status error in assign KeyField");
    }
}

TEST(IndexDefCopies, AssignCopiesEveryProperty) {
    TInternalIndexDefs defs;
    TInternalIndexDef* d = defs.Add();
    d->SetIndexName("Primary");
    d->SetUnique(true);
    d->SetPrimary(true);
    d->SetHidden(true);
    d->SetMaintained(true);
    d->SetMemory(true);
    d->SetMaximumKeySize(77);
    d->SetKeyDataOffset(2);
    d->SetIndexPageSize(8192);
    d->SetIndexSequence(4);
    d->SetIndexKeyType(ikMinStringLen);
    defs.Add()->SetIndexName("Second");
    TInternalIndexDefs copy;
    copy.Assign(&defs);
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(ObjectToText(copy.GetItems(0), "d"), ObjectToText(d, "d"));
    EXPECT_EQ(copy.GetItems(1)->IndexName(), "Second");
}

// Holds key fields and index definitions as published collections, as a table definition does.
class TIndexHolder : public TPersistent {
public:
    TKeyFields* KeyFields() const { return FKeyFields.get(); }
    TInternalIndexDefs* IndexDefs() const { return FIndexDefs.get(); }

private:
    std::unique_ptr<TKeyFields> FKeyFields = std::make_unique<TKeyFields>(this);
    std::unique_ptr<TInternalIndexDefs> FIndexDefs = std::make_unique<TInternalIndexDefs>(this);
};

[[maybe_unused]] const bool kHolderPublished = Publish<TIndexHolder, TPersistent>()
                                                   .Collection("KeyFields", &TIndexHolder::KeyFields)
                                                   .Collection("InternalIndexDefs", &TIndexHolder::IndexDefs);

TEST(IndexDefText, PublishedInTheirOrderWithDefaultsLeftOut) {
    Table t({{"Id", ftInteger}, {"Name", ftString, 10}});
    t.Derive({.IndexName = "ById", .Fields = "Id", .Primary = true, .Unique = true});
    t.Derive({.IndexName = "ByName", .Fields = "Name", .Descending = true, .CaseInsensitive = true});
    TIndexHolder holder;
    holder.KeyFields()->Assign(&t.KeyFields);
    holder.IndexDefs()->Assign(&t.IndexDefs);

    const std::string text = ObjectToText(&holder, "Def");
    EXPECT_EQ(text, Crlf(R"(object Def: TIndexHolder
  KeyFields = <
    item
      FieldName = 'Id'
      DataType = ftInteger
      FieldSize = 4
      RecBufOffset = 16
      NullFlagOffset = 14
      SizeMarkerOffset = 0
      PhysicalFieldNo = 0
      IndexName = 'ById'
      Hidden = False
      KeyIndex = 0
    end
    item
      FieldName = 'Name'
      DataType = ftString
      FieldSize = 11
      CaseInsensitive = True
      Descending = True
      IsVariable = True
      RecBufOffset = 22
      NullFlagOffset = 15
      SizeMarkerOffset = 20
      PhysicalFieldNo = 1
      IndexName = 'ByName'
      Hidden = False
      KeyIndex = 0
    end
    item
      DataType = ftInteger
      FieldSize = 4
      Descending = True
      RecBufOffset = 6
      NullFlagOffset = 0
      SizeMarkerOffset = 0
      PhysicalFieldNo = -1
      IndexName = 'ByName'
      Hidden = True
      KeyIndex = 1
    end>
  InternalIndexDefs = <
    item
      IndexSequence = 0
      IndexName = 'ById'
      Unique = True
      Primary = True
      Maintained = True
      MaximumKeySize = 15
      KeyDataOffset = 1
      IndexPageSize = 4096
      IndexKeyType = ikFixed
    end
    item
      IndexSequence = 1
      IndexName = 'ByName'
      Maintained = True
      MaximumKeySize = 28
      KeyDataOffset = 1
      IndexPageSize = 4096
      IndexKeyType = ikFixed
    end>
end
)"));

    TIndexHolder back;
    TextToObject(text, &back);
    EXPECT_EQ(ObjectToText(&back, "Def"), text);
    ASSERT_EQ(back.KeyFields()->Count(), 3);
    EXPECT_TRUE(back.KeyFields()->GetIndex(2)->Hidden());
    EXPECT_TRUE(back.KeyFields()->GetIndex(2)->Descending());
    EXPECT_EQ(back.IndexDefs()->GetItems(1)->MaximumKeySize(), 28);
}

}  // namespace
