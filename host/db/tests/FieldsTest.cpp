// The field classes: their buffer forms, conversions and error texts, validation, blob streams,
// and how a dataset binds persistent fields.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/DateTime.h"
#include "host/FormatSettings.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "host/db/BinaryFields.h"
#include "host/db/BlobFields.h"
#include "host/db/BooleanField.h"
#include "host/db/DBConsts.h"
#include "host/db/DateTimeFields.h"
#include "host/db/FieldClasses.h"
#include "host/db/NumericFields.h"
#include "host/db/StringField.h"
#include "host/db/tests/support/VectorDataSet.h"

namespace ostra::test {
namespace {

// The exception text of `body`; "" when it does not raise.
template <class Body>
std::string ErrorOf(Body body) {
    try {
        body();
    } catch (const Exception& e) {
        return e.Message();
    }
    return {};
}

// One column of every type the engine stores, one empty row, the dataset in dsEdit.
class Fields : public ::testing::Test {
protected:
    void SetUp() override {
        DS.AddColumn("S", ftString, 5);
        DS.AddColumn("SI", ftSmallint);
        DS.AddColumn("I", ftInteger);
        DS.AddColumn("W", ftWord);
        DS.AddColumn("B", ftBoolean);
        DS.AddColumn("F", ftFloat);
        DS.AddColumn("C", ftCurrency);
        DS.AddColumn("D", ftDate);
        DS.AddColumn("T", ftTime);
        DS.AddColumn("DT", ftDateTime);
        DS.AddColumn("BY", ftBytes, 4);
        DS.AddColumn("AI", ftAutoInc);
        DS.AddColumn("BL", ftBlob);
        DS.AddColumn("M", ftMemo);
        DS.AddColumn("G", ftGraphic);
        DS.AddColumn("FM", ftFmtMemo);
        DS.AppendRow({});
        DS.Open();
        DS.Edit();
    }

    TField* F(const char* name) { return DS.FieldByName(name); }

    TVectorDataSet DS{nullptr};
};

TEST_F(Fields, EachTypeGetsItsClassAndBufferSize) {
    struct Case {
        const char* Name;
        const char* Class;
        int DataSize;
    };
    const Case cases[] = {{"S", "TStringField", 6},   {"SI", "TSmallintField", 2}, {"I", "TIntegerField", 4},
                          {"W", "TWordField", 2},     {"B", "TBooleanField", 2},   {"F", "TFloatField", 8},
                          {"C", "TCurrencyField", 8}, {"D", "TDateField", 4},      {"T", "TTimeField", 4},
                          {"DT", "TDateTimeField", 8}, {"BY", "TBytesField", 4},   {"AI", "TAutoIncField", 4},
                          {"BL", "TBlobField", 0},    {"M", "TMemoField", 0},      {"G", "TGraphicField", 0},
                          {"FM", "TBlobField", 0}};
    ASSERT_EQ(DS.FieldCount(), 16);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(F(c.Name)->ClassName(), c.Class);
        EXPECT_EQ(F(c.Name)->DataSize(), c.DataSize);
        EXPECT_TRUE(F(c.Name)->IsNull());
        EXPECT_TRUE(VarIsNull(F(c.Name)->Value()));
        EXPECT_EQ(F(c.Name)->Owner(), &DS) << "default fields belong to the dataset";
    }
    EXPECT_EQ(F("FM")->DataType(), ftFmtMemo);
    EXPECT_EQ(F("AI")->DataType(), ftAutoInc);
    EXPECT_FALSE(HasFieldClass(ftBCD));
    EXPECT_EQ(CreateFieldOfType(ftWideString, &DS), nullptr);
}

TEST_F(Fields, IntegerFieldsCheckTheirRangeAndText) {
    struct Case {
        const char* Name;
        double Low, High;
    };
    for (const Case& c : {Case{"SI", -32768, 32767}, Case{"W", 0, 65535}, Case{"I", -2147483648.0, 2147483647}}) {
        SCOPED_TRACE(c.Name);
        F(c.Name)->SetAsInteger(static_cast<int32_t>(c.High));
        EXPECT_EQ(F(c.Name)->AsInteger(), static_cast<int32_t>(c.High));
        F(c.Name)->SetAsInteger(static_cast<int32_t>(c.Low));
        EXPECT_EQ(F(c.Name)->AsString(), IntToStr(static_cast<int64_t>(c.Low)));
        EXPECT_EQ(VarType(F(c.Name)->Value()), varInteger);
        if (c.High < 2147483647) {
            EXPECT_EQ(ErrorOf([&] { F(c.Name)->SetAsInteger(static_cast<int32_t>(c.High) + 1); }),
                      Format(SFieldRangeError, {c.High + 1, c.Name, c.Low, c.High}));
        }
        EXPECT_EQ(ErrorOf([&] { F(c.Name)->SetAsString("12x"); }), Format(SInvalidIntegerValue, {"12x", c.Name}));
        EXPECT_EQ(F(c.Name)->AsInteger(), static_cast<int32_t>(c.Low)) << "a refused value leaves the old one";
        F(c.Name)->SetAsString("  ");
        EXPECT_TRUE(F(c.Name)->IsNull());
    }
    EXPECT_EQ(ErrorOf([&] { F("W")->SetAsInteger(-1); }), "-1 is not a valid value for field 'W'. The allowed range is 0 to 65535");
    F("I")->SetAsFloat(2.5);
    EXPECT_EQ(F("I")->AsInteger(), 2);
    F("I")->SetAsFloat(3.5);
    EXPECT_EQ(F("I")->AsInteger(), 4);
    EXPECT_FALSE(ErrorOf([&] { F("I")->SetAsFloat(3e9); }).empty());
    F("I")->SetValue("17");
    EXPECT_EQ(F("I")->AsFloat(), 17.0);
    EXPECT_EQ(ErrorOf([&] { (void)F("I")->AsBoolean(); }), Format(SFieldAccessError, {"I", "Boolean"}));
    EXPECT_EQ(F("I")->DisplayWidth(), 11);
    EXPECT_EQ(F("SI")->DisplayWidth(), 6);
    EXPECT_EQ(F("W")->DisplayWidth(), 5);
}

TEST_F(Fields, FloatAndCurrencyFollowTheFormatSettings) {
    F("F")->SetAsString("1.5");
    EXPECT_EQ(F("F")->AsFloat(), 1.5);
    EXPECT_EQ(VarType(F("F")->Value()), varDouble);
    EXPECT_EQ(ErrorOf([&] { F("F")->SetAsString("1.5.5"); }), Format(SInvalidFloatValue, {"1.5.5", "F"}));
    F("F")->SetAsFloat(2.5);
    EXPECT_EQ(F("F")->AsInteger(), 2);
    F("C")->SetAsCurrency(Currency::FromScaled(15000));
    EXPECT_EQ(F("C")->AsString(), "1.5");
    EXPECT_EQ(F("C")->DisplayText(), "$1.50");
    EXPECT_EQ(F("C")->AsCurrency(), Currency::FromScaled(15000));

    TFormatSettings german = FormatSettings();
    german.DecimalSeparator = ',';
    TFormatSettingsScope scope(german);
    F("F")->SetAsString("0,25");
    EXPECT_EQ(F("F")->AsFloat(), 0.25);
    EXPECT_EQ(F("F")->AsString(), "0,25");
}

TEST_F(Fields, BooleanFieldsReadTheirDisplayValues) {
    auto* b = static_cast<TBooleanField*>(F("B"));
    b->SetAsString("t");
    EXPECT_TRUE(b->AsBoolean());
    EXPECT_EQ(b->AsString(), "True");
    b->SetAsString("FALSE");
    EXPECT_FALSE(b->AsBoolean());
    EXPECT_EQ(VarType(b->Value()), varBoolean);
    EXPECT_EQ(ErrorOf([&] { b->SetAsString("maybe"); }), Format(SInvalidBoolValue, {"maybe", "B"}));
    b->SetDisplayValues("Yes;No");
    b->SetAsString("y");
    EXPECT_EQ(b->AsString(), "Yes");
    EXPECT_EQ(b->DisplayWidth(), 3);
    EXPECT_EQ(ErrorOf([&] { (void)b->AsInteger(); }), Format(SFieldAccessError, {"B", "Integer"}));
    b->SetValue(Variant(0));
    EXPECT_EQ(b->AsString(), "No");
}

TEST_F(Fields, StringFieldsCutToTheirSizeAndConvert) {
    F("S")->SetAsString("abcdefgh");
    EXPECT_EQ(F("S")->AsString(), "abcde");
    F("S")->SetAsInteger(42);
    EXPECT_EQ(F("S")->AsInteger(), 42);
    F("S")->SetAsString("yes");
    EXPECT_TRUE(F("S")->AsBoolean());
    F("S")->SetAsBoolean(false);
    EXPECT_EQ(F("S")->AsString(), "False");
    F("S")->SetAsString("");
    EXPECT_FALSE(F("S")->IsNull()) << "an empty text is a value";
    EXPECT_THROW((void)F("S")->AsInteger(), EConvertError);
    EXPECT_EQ(F("S")->DisplayWidth(), 5);
    F("S")->SetDisplayWidth(9);
    EXPECT_EQ(F("S")->DisplayWidth(), 9);
}

TEST_F(Fields, DatesAndTimesAreStoredInTheirNativeForms) {
    TDateTime leap = EncodeDate(2024, 2, 29);
    F("D")->SetAsDateTime(leap + 0.75);
    EXPECT_EQ(F("D")->AsDateTime(), leap) << "a date field drops the time";
    int32_t day = 0;
    ASSERT_TRUE(F("D")->GetData(&day));
    EXPECT_EQ(day, DateTimeToTimeStamp(leap).Date);

    F("T")->SetAsDateTime(EncodeTime(12, 0, 0, 0));
    int32_t msecs = 0;
    ASSERT_TRUE(F("T")->GetData(&msecs));
    EXPECT_EQ(msecs, 43200000);
    EXPECT_EQ(F("T")->AsDateTime(), 0.5);

    TDateTime stamp = ComposeDateTime(EncodeDate(1850, 7, 4), EncodeTime(6, 30, 15, 250));
    F("DT")->SetAsDateTime(stamp);
    TDateTimeRec rec{};
    ASSERT_TRUE(F("DT")->GetData(&rec));
    EXPECT_EQ(rec.DateTime, static_cast<double>(TimeStampToMSecs(DateTimeToTimeStamp(stamp))));
    EXPECT_NEAR(F("DT")->AsDateTime(), stamp, 1e-9);
    int year, month, dayOfMonth, hour, minute, second, msec;
    DecodeDateTime(F("DT")->AsDateTime(), year, month, dayOfMonth, hour, minute, second, msec);
    EXPECT_EQ((std::vector<int>{year, month, dayOfMonth, hour, minute, second, msec}),
              (std::vector<int>{1850, 7, 4, 6, 30, 15, 250}));
    EXPECT_EQ(VarType(F("DT")->Value()), varDate);

    DS.Post();
    EXPECT_EQ(DS.RowValue(0, "D").AsDateTime(), leap);
    EXPECT_EQ(DS.RowValue(0, "T").AsDateTime(), 0.5);
    DS.Edit();

    F("D")->SetAsString("12/31/1999");
    EXPECT_EQ(F("D")->AsString(), "12/31/1999");
    F("T")->SetAsString("1:02:03 PM");
    EXPECT_EQ(F("T")->AsString(), "1:02:03 PM");
    F("DT")->SetAsString("1/2/2003 4:05:06 AM");
    EXPECT_EQ(F("DT")->AsString(), "1/2/2003 4:05:06 AM");
    static_cast<TDateTimeField*>(F("DT"))->SetDisplayFormat("yyyy-mm-dd");
    EXPECT_EQ(F("DT")->DisplayText(), "2003-01-02");
    EXPECT_THROW(F("D")->SetAsString("31/31/2000"), EConvertError);
    F("D")->SetAsString("");
    EXPECT_TRUE(F("D")->IsNull());
    EXPECT_EQ(F("D")->DisplayWidth(), 10);
}

TEST_F(Fields, BytesFieldsPadWithZeros) {
    F("BY")->SetAsString(std::string("\x01\x02", 2));
    EXPECT_EQ(F("BY")->AsString(), std::string("\x01\x02\x00\x00", 4));
    EXPECT_EQ(F("BY")->Value().AsString().size(), 4u);
    EXPECT_EQ(F("BY")->DisplayText(), "(BYTES)");
    F("BY")->SetAsString("123456");
    EXPECT_EQ(F("BY")->AsString(), "1234");
}

TEST_F(Fields, BlobFieldsGoThroughStreams) {
    auto* memo = static_cast<TBlobField*>(F("M"));
    EXPECT_EQ(memo->DisplayText(), "(Memo)");
    memo->SetAsString("long text");
    EXPECT_TRUE(memo->Modified());
    EXPECT_FALSE(memo->IsNull());
    EXPECT_EQ(memo->AsString(), "long text");
    EXPECT_EQ(memo->DisplayText(), "(MEMO)");
    EXPECT_EQ(memo->BlobSize(), 9);
    TStringStream source("picture bytes");
    static_cast<TBlobField*>(F("G"))->LoadFromStream(source);
    DS.Post();
    EXPECT_FALSE(memo->Modified()) << "posting ends the modification";
    EXPECT_EQ(DS.RowValue(0, "M").AsString(), "long text");
    EXPECT_EQ(DS.RowValue(0, "G").AsString(), "picture bytes");
    TStringStream target;
    static_cast<TBlobField*>(F("G"))->SaveToStream(target);
    EXPECT_EQ(target.DataString(), "picture bytes");

    EXPECT_EQ(ErrorOf([&] { memo->SetAsString("x"); }), SNotEditing);
    DS.Edit();
    memo->Clear();
    EXPECT_TRUE(memo->IsNull());
    DS.Post();
    EXPECT_TRUE(VarIsNull(memo->Value()));
    DS.Edit();
    memo->SetReadOnly(true);
    EXPECT_EQ(ErrorOf([&] { memo->SetAsString("x"); }), Format(SFieldReadOnly, {"M"}));
}

TEST_F(Fields, OnValidateSeesTheNewValueAndCanRefuseIt) {
    TField* s = F("S");
    s->SetAsString("old");
    std::vector<std::string> seen;
    s->OnValidate = [&](TField* f) {
        seen.push_back(f->IsNull() ? "<null>" : f->AsString());
        if (f->AsString() == "bad") throw EDatabaseError("refused");
    };
    s->SetAsString("new");
    EXPECT_THROW(s->SetAsString("bad"), EDatabaseError);
    EXPECT_EQ(s->AsString(), "new");
    s->Clear();
    EXPECT_EQ(seen, (std::vector<std::string>{"new", "bad", "<null>"}));

    // A date is validated in its native form and read back as a date.
    TDateTime seenDate = 0;
    F("DT")->OnValidate = [&](TField* f) { seenDate = f->AsDateTime(); };
    F("DT")->SetAsDateTime(EncodeDate(2001, 9, 9));
    EXPECT_EQ(seenDate, EncodeDate(2001, 9, 9));
}

TEST_F(Fields, AssignValueFollowsTheKindOfTheValue) {
    F("I")->AssignValue("42");
    EXPECT_EQ(F("I")->AsInteger(), 42);
    F("S")->AssignValue(2.5);
    EXPECT_EQ(F("S")->AsString(), "2.5");
    F("F")->AssignValue(7);
    EXPECT_EQ(F("F")->AsFloat(), 7.0);
    F("B")->AssignValue(true);
    EXPECT_TRUE(F("B")->AsBoolean());
    F("D")->AssignValue(VarFromDateTime(EncodeDate(2020, 1, 1)));
    EXPECT_EQ(F("D")->AsDateTime(), EncodeDate(2020, 1, 1));
    F("I")->AssignValue(Null());
    EXPECT_TRUE(F("I")->IsNull());
    EXPECT_EQ(ErrorOf([&] { F("I")->AssignValue(VarArrayOf({1})); }), Format(SFieldValueError, {"I"}));
    EXPECT_EQ(ErrorOf([&] { F("I")->AssignValue("x"); }), Format(SInvalidIntegerValue, {"x", "I"}));
}

TEST_F(Fields, FieldValuesAndFieldListsUseSemicolonSeparatedNames) {
    DS.SetFieldValue("I; S", VarArrayOf({5, "five"}));
    Variant both = DS.GetFieldValue("I;S");
    EXPECT_EQ(both[0].AsInteger(), 5);
    EXPECT_EQ(both[1].AsString(), "five");
    std::vector<TField*> list;
    DS.GetFieldList(list, "S;;I ");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1], F("I"));
    DS.SetName("Things");
    EXPECT_EQ(ErrorOf([&] { DS.GetFieldList(list, "I;Nope"); }), "Things: " + Format(SFieldNotFound, {"Nope"}));
    EXPECT_EQ(DS.FindField("nope"), nullptr);
    EXPECT_EQ(DS.FindField("s"), F("S"));
    EXPECT_EQ(ErrorOf([&] { (void)DS.Fields()[99]; }), "Things: " + std::string(SFieldIndexError));
    EXPECT_EQ(DS.FieldByNumber(3), F("I"));
}

TEST(FieldBinding, PersistentFieldsMustMatchTheirColumns) {
    TVectorDataSet ds(nullptr);
    ds.SetName("Table1");
    ds.AddColumn("ID", ftInteger);
    ds.AddColumn("Name", ftString, 10);
    auto* id = CreateComponent<TStringField>(&ds);
    id->SetFieldName("ID");
    id->SetDataSet(&ds);
    try {
        ds.Open();
        FAIL() << "opened with a string field over an integer column";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), "Table1: Type mismatch for field 'ID', expecting: String actual: Integer");
    }
    delete id;
    auto* name = CreateComponent<TStringField>(&ds);
    name->SetFieldName("Name");
    name->SetDataSet(&ds);
    try {
        ds.Open();
        FAIL() << "opened with a string field of another size";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), "Table1: Size mismatch for field 'Name', expecting: 20 actual: 10");
    }
    name->SetSize(10);
    ds.Open();
    EXPECT_EQ(name->FieldNo(), 2);
    EXPECT_EQ(ds.FieldCount(), 1);
    EXPECT_THROW(name->SetFieldName("Other"), EDatabaseError);
    EXPECT_THROW(name->SetSize(12), EDatabaseError);
    ds.Close();
    EXPECT_EQ(name->FieldNo(), 0);

    auto* twin = CreateComponent<TStringField>(&ds);
    twin->SetFieldName("name");
    EXPECT_EQ(ErrorOf([&] { twin->SetDataSet(&ds); }), "Table1: Duplicate field name 'name'");
    EXPECT_EQ(twin->DataSet(), nullptr);
    EXPECT_EQ(ErrorOf([&] { (void)twin->AsString(); }), Format(SDataSetMissing, {"name"}));
    EXPECT_THROW(twin->SetSize(-1), EDatabaseError);
    EXPECT_THROW(CreateComponent<TBytesField>(&ds)->SetSize(0), EDatabaseError);
}

TEST(FieldBinding, DestroyingAFieldOrTheDataSetKeepsBothConsistent) {
    TComponent form(nullptr);
    auto* ds = CreateComponent<TVectorDataSet>(&form);
    ds->AddColumn("ID", ftInteger);
    ds->AppendRow({1});
    auto* a = CreateComponent<TIntegerField>(&form);
    a->SetFieldName("ID");
    a->SetDataSet(ds);
    ds->Open();
    // A field freed from under an open dataset closes it first.
    delete a;
    EXPECT_FALSE(ds->Active());
    EXPECT_EQ(ds->FieldCount(), 0);

    auto* b = CreateComponent<TIntegerField>(&form);
    b->SetFieldName("ID");
    b->SetDataSet(ds);
    // The dataset frees its fields, persistent ones too; they leave their owner.
    int before = form.ComponentCount();
    delete ds;
    EXPECT_EQ(form.ComponentCount(), before - 2);
}

TEST(FieldBinding, GetFieldNamesReadsTheDefinitionsOfAClosedDataSet) {
    TVectorDataSet ds(nullptr);
    ds.AddColumn("A", ftInteger);
    ds.AddColumn("B", ftString, 3);
    TStringList names;
    names.Add("stale");
    ds.GetFieldNames(names);
    EXPECT_EQ(names.CommaText(), "A,B");
    ds.Open();
    ds.FieldByName("A")->SetIndex(1);
    ds.GetFieldNames(names);
    EXPECT_EQ(names.CommaText(), "B,A");
}

}  // namespace
}  // namespace ostra::test
