// Field and index definitions: adding, finding, the fields made from them, the search for an index
// over given fields, when the dataset is asked to fill them, when it hears of changes, and their
// component text.
#include <gtest/gtest.h>

#include <string>

#include "host/ClassRegistry.h"
#include "host/ComponentText.h"
#include "host/PropertyRegistry.h"
#include "host/db/BlobFields.h"
#include "host/db/DBConsts.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"
#include "host/db/NumericFields.h"
#include "host/db/StringField.h"
#include "host/db/tests/support/VectorDataSet.h"

namespace ostra::test {

// A dataset with index definitions that counts how often it is asked for them and how often it
// hears of definition changes.
class TIndexedDataSet : public TVectorDataSet {
public:
    explicit TIndexedDataSet(TComponent* AOwner) : TVectorDataSet(AOwner) {}

    TIndexDefs IndexDefs{this};
    int IndexUpdates = 0;
    int DefChanges = 0;

    void UpdateIndexDefs() override {
        ++IndexUpdates;
        IndexDefs.Clear();
        IndexDefs.Add("ByName", "Name", {ixCaseInsensitive});
        IndexDefs.Add("Primary", "ID", {ixPrimary, ixUnique});
        IndexDefs.Add("ByNameId", "Name;ID", {});
        IndexDefs.Add("Expr", "Upper(Name)", {ixExpression})->SetExpression("Upper(Name)");
    }

protected:
    void DefChanged(TObject*) override { ++DefChanges; }
};

namespace {

std::string ErrorOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const Exception& e) {
        return e.Message();
    }
    return {};
}

TEST(FieldDefs, AddFindAndNumbers) {
    TVectorDataSet ds(nullptr);
    ds.SetName("T");
    TFieldDefs& defs = ds.FieldDefs();
    TFieldDef* id = defs.Add("ID", ftInteger, 0, true);
    defs.Add("Name", ftString, 30);
    EXPECT_EQ(defs.Count(), 2);
    EXPECT_EQ(defs.Find("name")->Size(), 30);
    EXPECT_TRUE(id->Required());
    EXPECT_TRUE(id->Attributes().Contains(faRequired));
    EXPECT_EQ(defs[1]->FieldNo(), 2);
    defs[1]->SetFieldNo(7);
    EXPECT_EQ(defs[1]->FieldNo(), 7);
    EXPECT_EQ(ErrorOf([&] { defs.Add("id", ftString); }), "T: Duplicate name 'id' in TFieldDefs");
    EXPECT_EQ(ErrorOf([&] { defs.Find("Missing"); }), "T: " + Format(SFieldNotFound, {"Missing"}));
    EXPECT_EQ(ErrorOf([&] { defs[1]->SetName("ID"); }), "T: Duplicate name 'ID' in TFieldDefs");
    EXPECT_EQ(defs.FindDef("Missing"), nullptr);
    defs[1]->SetDataType(ftMemo);
    EXPECT_EQ(defs[1]->Size(), 0) << "a new type starts without a size";
}

TEST(FieldDefs, RefusedAssignLeavesTheCollectionUpdating) {
    TVectorDataSet ds(nullptr);
    ds.SetName("T");
    TFieldDefs& defs = ds.FieldDefs();
    TFieldDef* id = defs.Add("ID", ftInteger);
    TFieldDef* name = defs.Add("Name", ftString, 30);
    EXPECT_EQ(ErrorOf([&] { name->Assign(id); }), "T: Duplicate name 'ID' in TFieldDefs");
    EXPECT_EQ(defs.UpdateCount(), 0) << "a refused name must not leave the update open";
    EXPECT_EQ(name->Name(), "Name");
}

TEST(FieldDefs, CreateFieldMakesTheTypesFieldClass) {
    TVectorDataSet ds(nullptr);
    TFieldDefs& defs = ds.FieldDefs();
    TFieldDef* name = defs.Add("Name", ftString, 12, true);
    name->SetAttributes(name->Attributes() + TFieldAttributes{faReadonly});
    defs.Add("Amount", ftCurrency)->SetPrecision(9);
    defs.Add("Notes", ftMemo, 100);
    defs.Add("Odd", ftBCD);

    TField* f = name->CreateField(&ds);
    EXPECT_EQ(f->ClassName(), "TStringField");
    EXPECT_EQ(f->Size(), 12);
    EXPECT_TRUE(f->Required());
    EXPECT_TRUE(f->ReadOnly());
    EXPECT_EQ(f->DataSet(), &ds);
    EXPECT_EQ(f->Owner(), &ds);
    auto* amount = dynamic_cast<TCurrencyField*>(defs[1]->CreateField(&ds));
    ASSERT_NE(amount, nullptr);
    EXPECT_EQ(amount->Precision(), 9);
    EXPECT_EQ(defs[2]->CreateField(&ds)->Size(), 100);
    EXPECT_EQ(ErrorOf([&] { defs[3]->CreateField(&ds); }), Format(SUnknownFieldType, {"Odd"}));
    EXPECT_EQ(ds.FieldCount(), 3);
}

TEST(FieldDefs, UpdateFillsOnceUntilAPropertyChanges) {
    TVectorDataSet ds(nullptr);
    ds.AddColumn("A", ftInteger);
    EXPECT_FALSE(ds.FieldDefs().Updated());
    ds.FieldDefs().Update();
    EXPECT_TRUE(ds.FieldDefs().Updated());
    EXPECT_EQ(ds.FieldDefs().Count(), 1);
    ds.FieldDefs().Clear();
    ds.FieldDefs().Update();
    EXPECT_EQ(ds.FieldDefs().Count(), 0) << "already updated";
    ds.DataEvent(dePropertyChange, 0);
    ds.FieldDefs().Update();
    EXPECT_EQ(ds.FieldDefs().Count(), 1);
}

TEST(FieldDefs, TheDataSetHearsOfCallerChangesOnly) {
    TIndexedDataSet ds(nullptr);
    ds.AddColumn("ID", ftInteger);
    ds.AddColumn("Name", ftString, 10);
    ds.FieldDefs().Add("X", ftInteger);
    EXPECT_GT(ds.DefChanges, 0);
    ds.FieldDefs().Clear();
    int changes = ds.DefChanges;
    ds.Open();  // fills FieldDefs itself
    ds.IndexDefs.Update();
    ds.Close();
    ds.FieldDefs().Update();
    ds.IndexDefs.Update();
    EXPECT_EQ(ds.DefChanges, changes);
    ds.IndexDefs.Add("New", "ID", {});
    EXPECT_GT(ds.DefChanges, changes);
}

TEST(IndexDefs, GetIndexForFieldsPrefersExactThenLeadingFields) {
    TIndexedDataSet ds(nullptr);
    ds.SetName("T");
    TIndexDefs& defs = ds.IndexDefs;
    EXPECT_EQ(defs.GetIndexForFields("Name", false)->Name(), "ByName");
    EXPECT_EQ(ds.IndexUpdates, 1);
    EXPECT_EQ(defs.GetIndexForFields("id", false)->Name(), "Primary");
    EXPECT_EQ(defs.GetIndexForFields("NAME;ID", false)->Name(), "ByNameId");
    EXPECT_EQ(defs.GetIndexForFields("Name;ID", true), nullptr) << "ByNameId is case-sensitive";
    EXPECT_EQ(defs.GetIndexForFields("Nam", false), nullptr) << "a prefix must end at a field";
    EXPECT_EQ(defs.GetIndexForFields("Upper(Name)", false), nullptr) << "expression indexes do not count";
    EXPECT_EQ(ds.IndexUpdates, 1) << "updated once";

    defs.SetUpdated(false);
    defs.Clear();
    defs.Add("Lead", "Name;ID;Amount", {});
    EXPECT_EQ(defs.GetIndexForFields("Name;ID", false)->Name(), "ByNameId") << "Update re-read the definitions";
    EXPECT_EQ(ErrorOf([&] { defs.FindIndexForFields("Amount"); }), "T: " + Format(SNoIndexForFields, {"Amount"}));
    EXPECT_EQ(ErrorOf([&] { defs.Find("Nope"); }), "T: " + Format(SIndexNotFound, {"Nope"}));
    EXPECT_EQ(defs.Find("byname")->Options(), TIndexOptions{ixCaseInsensitive});
    EXPECT_EQ(defs.Find("Expr")->FieldExpression(), "Upper(Name)");
    EXPECT_EQ(defs.Find("ByName")->FieldExpression(), "Name");
}

TEST(IndexDefs, LeadingFieldsOfALongerIndexMatch) {
    TVectorDataSet ds(nullptr);
    TIndexDefs defs(&ds);
    defs.SetUpdated(true);
    defs.Add("Lead", "Name;ID;Amount", {});
    defs.Add("Other", "NameX", {});
    EXPECT_EQ(defs.GetIndexForFields("name;id", false)->Name(), "Lead");
    EXPECT_EQ(defs.GetIndexForFields("Name", false)->Name(), "Lead");
}

// A dataset that stores its definitions in component text.
class TStoredDefs : public TVectorDataSet {
public:
    explicit TStoredDefs(TComponent* AOwner) : TVectorDataSet(AOwner) {}
    TIndexDefs IndexDefs{this};
};

[[maybe_unused]] const bool kStoredDefsPublished =
    Publish<TVectorDataSet, TDataSet>() &&
    Publish<TStoredDefs, TVectorDataSet>()
        .Collection("FieldDefs", [](const TStoredDefs& d) { return &d.FieldDefs(); })
        .Collection("IndexDefs", [](const TStoredDefs& d) { return &d.IndexDefs; });

TEST(Defs, RoundTripThroughComponentText) {
    RegisterClass<TStoredDefs>();
    TStoredDefs source(nullptr);
    source.SetName("Stored");
    source.FieldDefs().Add("ID", ftAutoInc, 0, true);
    source.FieldDefs().Add("Name", ftString, 25);
    TIndexDef* index = source.IndexDefs.Add("ByName", "Name;ID", {ixUnique, ixCaseInsensitive});
    index->SetDescFields("ID");
    std::string text = ComponentToText(&source);
    EXPECT_NE(text.find("DataType = ftAutoInc"), std::string::npos) << text;
    EXPECT_NE(text.find("Attributes = [faRequired]"), std::string::npos) << text;
    EXPECT_NE(text.find("Options = [ixUnique, ixCaseInsensitive]"), std::string::npos) << text;

    TStoredDefs copy(nullptr);
    TextToComponent(text, &copy);
    ASSERT_EQ(copy.FieldDefs().Count(), 2);
    EXPECT_EQ(copy.FieldDefs()[1]->Name(), "Name");
    EXPECT_EQ(copy.FieldDefs()[1]->Size(), 25);
    EXPECT_TRUE(copy.FieldDefs()[0]->Required());
    ASSERT_EQ(copy.IndexDefs.Count(), 1);
    EXPECT_EQ(copy.IndexDefs[0]->Fields(), "Name;ID");
    EXPECT_EQ(copy.IndexDefs[0]->DescFields(), "ID");
    EXPECT_EQ(copy.IndexDefs[0]->Options(), (TIndexOptions{ixUnique, ixCaseInsensitive}));

    // Assign copies every definition.
    TVectorDataSet other(nullptr);
    other.SetFieldDefs(&copy.FieldDefs());
    EXPECT_EQ(other.FieldDefs()[0]->DataType(), ftAutoInc);
    EXPECT_EQ(other.FieldDefs()[1]->Size(), 25);
}

}  // namespace
}  // namespace ostra::test
