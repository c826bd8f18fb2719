// Parameters: lookup by name, values with their data types and bound flag, taking values from
// fields, copying collections and their component text.
#include <gtest/gtest.h>

#include <string>

#include "host/ComponentText.h"
#include "host/DateTime.h"
#include "host/PropertyRegistry.h"
#include "host/db/DBConsts.h"
#include "host/db/Field.h"
#include "host/db/Params.h"
#include "host/db/tests/support/VectorDataSet.h"

namespace ostra::test {
namespace {

TEST(Params, LookupByNameIgnoresCaseAndNamesTheOwner) {
    TParams params;
    TParam* city = params.CreateParam(ftString, "City", ptInput);
    params.CreateParam(ftInteger, "Zip", ptInput);
    EXPECT_EQ(params.FindParam("CITY"), city);
    EXPECT_EQ(params.ParamByName("zip")->DataType(), ftInteger);
    EXPECT_EQ(params.FindParam("Street"), nullptr);
    try {
        params.ParamByName("Street");
        FAIL() << "found a missing parameter";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), Format(SParameterNotFound, {"Street"}));
    }
    TComponent query(nullptr);
    query.SetName("Query1");
    TParams owned(&query);
    EXPECT_THROW(
        {
            try {
                owned.ParamByName("x");
            } catch (const EDatabaseError& e) {
                EXPECT_EQ(std::string(e.what()), "Query1: " + Format(SParameterNotFound, {"x"}));
                throw;
            }
        },
        EDatabaseError);
}

TEST(Params, AValueBindsTheParameterAndGivesAnUnknownTypeItsKind) {
    struct Case {
        Variant Value;
        TFieldType Type;
    };
    const Case cases[] = {{Variant(5), ftInteger},        {Variant("x"), ftString},
                          {Variant(2.5), ftFloat},        {Variant(true), ftBoolean},
                          {VarFromDateTime(3.0), ftDateTime}, {Variant(Currency::FromScaled(1)), ftCurrency},
                          {Variant(static_cast<long long>(1) << 40), ftLargeint}, {Null(), ftUnknown}};
    TParams params;
    for (const Case& c : cases) {
        TParam* p = params.CreateParam(ftUnknown, "P", ptInput);
        EXPECT_FALSE(p->Bound());
        p->SetAsVariant(c.Value);
        EXPECT_TRUE(p->Bound());
        EXPECT_EQ(p->DataType(), c.Type) << VarTypeAsText(VarType(c.Value));
    }
    TParam* typed = params.CreateParam(ftString, "T", ptInput);
    typed->SetValue(12);
    EXPECT_EQ(typed->DataType(), ftString) << "a known type stays";
    typed->SetValue(Unassigned());
    EXPECT_FALSE(typed->Bound());
    EXPECT_TRUE(typed->IsNull());
}

TEST(Params, SettingTheTypeConvertsTheValueOrClearsIt) {
    TParams params;
    TParam* p = params.AddParam();
    p->SetAsString("12");
    EXPECT_EQ(p->DataType(), ftString);
    p->SetDataType(ftInteger);
    EXPECT_EQ(VarType(p->Value()), varInteger);
    EXPECT_EQ(p->AsInteger(), 12);
    p->SetAsString("abc");
    p->SetDataType(ftFloat);
    EXPECT_TRUE(p->IsNull());
    p->SetAsDate(EncodeDate(2020, 5, 1));
    EXPECT_EQ(p->DataType(), ftDate);
    EXPECT_EQ(p->AsDateTime(), EncodeDate(2020, 5, 1));
    p->SetAsCurrency(Currency::FromScaled(25000));
    EXPECT_EQ(p->AsFloat(), 2.5);
    p->Clear();
    EXPECT_TRUE(p->IsNull());
    EXPECT_TRUE(p->Bound());
    EXPECT_EQ(p->AsString(), "");
}

TEST(Params, AssignFieldTakesTypeNameAndValue) {
    TVectorDataSet ds(nullptr);
    ds.AddColumn("ID", ftAutoInc);
    ds.AddColumn("Name", ftString, 10);
    ds.AppendRow({7, Null()});
    ds.Open();
    TParams params;
    TParam* p = params.AddParam();
    p->AssignField(ds.FieldByName("ID"));
    EXPECT_EQ(p->Name(), "ID");
    EXPECT_EQ(p->DataType(), ftInteger);
    EXPECT_EQ(p->AsInteger(), 7);
    EXPECT_TRUE(p->Bound());
    p->Assign(ds.FieldByName("Name"));
    EXPECT_EQ(p->Name(), "Name");
    EXPECT_EQ(p->DataType(), ftString);
    EXPECT_TRUE(VarIsNull(p->Value()));
    TParam* q = params.AddParam();
    q->AssignFieldValue(ds.FieldByName("Name"), "given");
    EXPECT_EQ(q->DataType(), ftString);
    EXPECT_EQ(q->AsString(), "given");
}

TEST(Params, CollectionsCopyAndCarryValuesByName) {
    TParams source;
    source.CreateParam(ftInteger, "A", ptInput)->SetAsInteger(1);
    source.CreateParam(ftString, "B", ptOutput)->SetAsString("b");
    TParams copy;
    copy.Assign(&source);
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy[1]->ParamType(), ptOutput);
    EXPECT_EQ(copy.ParamValues("A;B")[1].AsString(), "b");
    copy.SetParamValues("A; B", VarArrayOf({10, "bb"}));
    EXPECT_EQ(copy[0]->AsInteger(), 10);

    TParams target;
    target.CreateParam(ftUnknown, "b", ptInput);
    target.CreateParam(ftUnknown, "C", ptInput);
    target.AssignValues(copy);
    EXPECT_EQ(target[0]->AsString(), "bb");
    EXPECT_FALSE(target[1]->Bound());
}

// A component that streams a parameter collection, as a query does.
class TParamHolder : public TComponent {
public:
    explicit TParamHolder(TComponent* AOwner) : TComponent(AOwner) {}
    TParams Params{this};
};

[[maybe_unused]] const bool kParamHolderPublished =
    Publish<TParamHolder, TComponent>().Collection("Params", [](const TParamHolder& h) { return &h.Params; });

TEST(Params, TypesNamesAndDirectionsRoundTripThroughComponentText) {
    TParamHolder holder(nullptr);
    holder.SetName("Holder");
    holder.Params.CreateParam(ftDate, "From", ptInput);
    holder.Params.CreateParam(ftUnknown, "Any", ptUnknown);
    std::string text = ComponentToText(&holder);
    EXPECT_NE(text.find("DataType = ftDate"), std::string::npos) << text;
    EXPECT_NE(text.find("ParamType = ptInput"), std::string::npos) << text;
    TParamHolder copy(nullptr);
    TextToComponent(text, &copy);
    ASSERT_EQ(copy.Params.Count(), 2);
    EXPECT_EQ(copy.Params[0]->Name(), "From");
    EXPECT_EQ(copy.Params[0]->DataType(), ftDate);
    EXPECT_EQ(copy.Params[1]->ParamType(), ptUnknown);
}

}  // namespace
}  // namespace ostra::test
