// Editing through TDataSet: the states and their events in order, insert/append/edit/post/cancel/
// delete, required fields, the error events, calculated and lookup fields, and filtering through
// OnFilterRecord with the find operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/SysUtils.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSource.h"
#include "host/db/Field.h"
#include "host/db/FieldClasses.h"
#include "host/db/NumericFields.h"
#include "host/db/StringField.h"
#include "host/UIServices.h"
#include "host/db/tests/support/TestLinks.h"
#include "host/db/tests/support/VectorDataSet.h"

namespace ostra::test {
namespace {

class Editing : public ::testing::Test {
protected:
    void SetUp() override {
        AddPeople(DS, 5);
        Source.SetDataSet(&DS);
        Link.SetDataSource(&Source);
    }

    // Logs every dataset event and the data source's notices into Log.
    void Record() {
        auto on = [this](const char* name) { return [this, name](TDataSet*) { Log.push_back(name); }; };
        DS.BeforeInsert = on("BeforeInsert");
        DS.AfterInsert = on("AfterInsert");
        DS.BeforeEdit = on("BeforeEdit");
        DS.AfterEdit = on("AfterEdit");
        DS.BeforePost = on("BeforePost");
        DS.AfterPost = on("AfterPost");
        DS.BeforeCancel = on("BeforeCancel");
        DS.AfterCancel = on("AfterCancel");
        DS.BeforeDelete = on("BeforeDelete");
        DS.AfterDelete = on("AfterDelete");
        DS.BeforeScroll = on("BeforeScroll");
        DS.AfterScroll = on("AfterScroll");
        DS.OnNewRecord = on("OnNewRecord");
        Source.OnStateChange = [this](TObject*) { Log.push_back(std::string("State ") + DataSetStateIdents[Source.State()]); };
        Source.OnDataChange = [this](TObject*, TField* f) { Log.push_back("DataChange " + (f ? f->FieldName() : "*")); };
    }

    std::vector<std::string> Take() {
        std::vector<std::string> taken;
        taken.swap(Log);
        return taken;
    }

    int ActiveId() { return DS.FieldByName("ID")->AsInteger(); }

    TVectorDataSet DS{nullptr};
    TDataSource Source{nullptr};
    TRecordingLink Link;
    std::vector<std::string> Log;
};

TEST_F(Editing, InsertPostFiresItsEventsInOrderAndStoresBeforeTheActiveRecord) {
    DS.Open();
    DS.Next();
    Record();
    DS.FieldByName("Name")->OnChange = [this](TField*) { Log.push_back("OnChange"); };
    DS.FieldByName("Name")->OnValidate = [this](TField* f) { Log.push_back("OnValidate " + f->AsString()); };

    DS.Insert();
    EXPECT_EQ(Take(), (std::vector<std::string>{"BeforeInsert", "BeforeScroll", "State dsInsert", "OnNewRecord",
                                                "DataChange *", "AfterInsert", "AfterScroll"}));
    EXPECT_FALSE(DS.Modified());
    DS.FieldByName("ID")->SetAsInteger(42);
    DS.FieldByName("Name")->SetAsString("Eve");
    EXPECT_TRUE(DS.Modified());
    EXPECT_EQ(Take(), (std::vector<std::string>{"DataChange ID", "OnValidate Eve", "DataChange Name", "OnChange"}));

    DS.Post();
    EXPECT_EQ(Take(), (std::vector<std::string>{"BeforePost", "State dsBrowse", "DataChange *", "AfterPost"}));
    EXPECT_EQ(ActiveId(), 42);
    EXPECT_EQ(DS.RowValue(1, "ID").AsInteger(), 42);
    EXPECT_EQ(DS.RowValue(1, "Name").AsString(), "Eve");
    EXPECT_EQ(DS.RowValue(2, "ID").AsInteger(), 2);
    EXPECT_EQ(DS.RecordCount(), 6);
}

TEST_F(Editing, EditPostCancelAndDeleteFireTheirEvents) {
    DS.Open();
    Record();
    DS.Edit();
    EXPECT_EQ(Take(), (std::vector<std::string>{"BeforeEdit", "State dsEdit", "DataChange *", "AfterEdit"}));
    DS.FieldByName("Name")->SetAsString("Ann");
    DS.Post();
    EXPECT_EQ(Take(), (std::vector<std::string>{"DataChange Name", "BeforePost", "State dsBrowse", "DataChange *",
                                                "AfterPost"}));
    EXPECT_EQ(DS.RowValue(0, "Name").AsString(), "Ann");

    DS.Edit();
    DS.FieldByName("Name")->SetAsString("Bob");
    Take();
    DS.Cancel();
    EXPECT_EQ(Take(), (std::vector<std::string>{"BeforeCancel", "State dsBrowse", "DataChange *", "AfterCancel"}));
    EXPECT_EQ(DS.FieldByName("Name")->AsString(), "Ann");

    DS.Insert();
    Take();
    DS.Cancel();
    EXPECT_EQ(Take(), (std::vector<std::string>{"BeforeCancel", "BeforeScroll", "State dsBrowse", "DataChange *",
                                                "AfterCancel", "AfterScroll"}));
    EXPECT_EQ(ActiveId(), 1);

    DS.Delete();
    EXPECT_EQ(Take(), (std::vector<std::string>{"BeforeDelete", "BeforeScroll", "DataChange *", "AfterDelete",
                                                "AfterScroll"}));
    EXPECT_EQ(ActiveId(), 2);
    EXPECT_EQ(DS.RowCount(), 4);
    // Cancel and Post outside an editing state change nothing.
    DS.Cancel();
    EXPECT_THROW(DS.Post(), EDatabaseError);
    EXPECT_TRUE(Take().empty());
}

TEST_F(Editing, AppendAddsAfterTheLastRecordAndDeleteOfTheLastMovesBack) {
    Link.SetBufferCount(2);
    DS.Open();
    DS.Append();
    DS.FieldByName("ID")->SetAsInteger(6);
    DS.Post();
    EXPECT_EQ(ActiveId(), 6);
    EXPECT_EQ(DS.RowValue(5, "ID").AsInteger(), 6);
    DS.Delete();
    EXPECT_EQ(ActiveId(), 5);
    // Delete while inserting only cancels the insert.
    DS.Insert();
    DS.Delete();
    EXPECT_EQ(DS.State(), dsBrowse);
    EXPECT_EQ(DS.RowCount(), 5);
}

TEST_F(Editing, EditOnAnEmptyDataSetInserts) {
    TVectorDataSet empty(nullptr);
    empty.AddColumn("ID", ftInteger);
    empty.Open();
    empty.Edit();
    EXPECT_EQ(empty.State(), dsInsert);
    empty.FieldByName("ID")->SetAsInteger(1);
    empty.Post();
    EXPECT_EQ(empty.RowCount(), 1);
    EXPECT_FALSE(empty.IsEmpty());
}

TEST_F(Editing, NavigationPostsAModifiedRecordAndCancelsAnUnmodifiedOne) {
    DS.Open();
    DS.Edit();
    DS.FieldByName("Name")->SetAsString("Zed");
    DS.Next();
    EXPECT_EQ(DS.State(), dsBrowse);
    EXPECT_EQ(DS.RowValue(0, "Name").AsString(), "Zed");

    Record();
    DS.Edit();
    Take();
    DS.Next();
    EXPECT_EQ(Take(), (std::vector<std::string>{"BeforeCancel", "State dsBrowse", "DataChange *", "AfterCancel",
                                                "BeforeScroll", "DataChange *", "AfterScroll"}));
    // The links hear that the dataset leaves the editing state.
    EXPECT_EQ(ActiveId(), 3);
}

TEST_F(Editing, RequiredFieldsMustHaveAValue) {
    DS.Open();
    DS.Append();
    DS.FieldByName("Name")->SetAsString("NoId");
    Link.Take();
    try {
        DS.Post();
        FAIL() << "posted without the required ID";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), Format(SFieldRequired, {"ID"}));
    }
    EXPECT_EQ(DS.State(), dsInsert);
    std::vector<std::string> heard = Link.Take();
    EXPECT_NE(std::find(heard.begin(), heard.end(), "focus ID"), heard.end());
    // The message names the display label.
    DS.FieldByName("ID")->SetDisplayLabel("Identifier");
    EXPECT_THROW(
        {
            try {
                DS.Post();
            } catch (const EDatabaseError& e) {
                EXPECT_EQ(std::string(e.what()), Format(SFieldRequired, {"Identifier"}));
                throw;
            }
        },
        EDatabaseError);
    // A read-only required field is the dataset's to fill.
    DS.FieldByName("ID")->SetReadOnly(true);
    DS.Post();
    EXPECT_EQ(DS.RowCount(), 6);
}

TEST_F(Editing, PostErrorEventsRetryAbortOrFail) {
    DS.Open();
    int calls = 0;
    DS.OnPostError = [&](TDataSet*, EDatabaseError& e, TDataAction& action) {
        ++calls;
        EXPECT_STREQ(e.what(), "post failed");
        action = calls == 1 ? daRetry : (calls == 2 ? daAbort : daFail);
    };
    DS.PostFailures = 1;
    DS.Edit();
    DS.FieldByName("Name")->SetAsString("Retried");
    DS.Post();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(DS.RowValue(0, "Name").AsString(), "Retried");

    DS.PostFailures = 2;
    DS.Edit();
    DS.FieldByName("Name")->SetAsString("Aborted");
    EXPECT_THROW(DS.Post(), EAbort);
    EXPECT_EQ(DS.State(), dsEdit);
    EXPECT_THROW(DS.Post(), EDatabaseError);
    EXPECT_EQ(calls, 3);
    DS.Cancel();
    EXPECT_EQ(DS.FieldByName("Name")->AsString(), "Retried");

    DS.DeleteFailures = 1;
    DS.OnDeleteError = [](TDataSet*, EDatabaseError&, TDataAction& action) { action = daRetry; };
    DS.Delete();
    EXPECT_EQ(DS.RowCount(), 4);
}

TEST_F(Editing, ReadOnlyDataSetsAndFieldsRefuseChanges) {
    DS.Open();
    DS.FieldByName("Name")->SetReadOnly(true);
    DS.Edit();
    try {
        DS.FieldByName("Name")->SetAsString("x");
        FAIL() << "wrote a read-only field";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), Format(SFieldReadOnly, {"Name"}));
    }
    DS.Cancel();
    try {
        DS.FieldByName("Amount")->SetAsFloat(1);
        FAIL() << "wrote a field while browsing";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), SNotEditing);
    }
    DS.Close();
    DS.SetReadOnly(true);
    DS.Open();
    EXPECT_FALSE(DS.CanModify());
    EXPECT_THROW(DS.Edit(), EDatabaseError);
    EXPECT_THROW(DS.Insert(), EDatabaseError);
    EXPECT_EQ(DS.State(), dsBrowse);
    EXPECT_FALSE(DS.FieldByName("ID")->CanModify());
}

TEST_F(Editing, OnNewRecordSetsDefaultsAndAFailureUndoesTheInsert) {
    DS.Open();
    DS.OnNewRecord = [](TDataSet* d) { d->FieldByName("Amount")->SetAsFloat(9.5); };
    DS.Insert();
    EXPECT_EQ(DS.FieldByName("Amount")->AsFloat(), 9.5);
    EXPECT_FALSE(DS.Modified()) << "defaults do not count as changes";
    DS.Cancel();

    DS.Next();
    DS.OnNewRecord = [](TDataSet*) { throw EDatabaseError("no new records"); };
    EXPECT_THROW(DS.Insert(), EDatabaseError);
    EXPECT_EQ(DS.State(), dsBrowse);
    EXPECT_EQ(ActiveId(), 2);
    EXPECT_EQ(DS.BufferedCount(), 1);
}

TEST_F(Editing, ClearFieldsEmptiesTheEditedRecord) {
    DS.Open();
    EXPECT_THROW(DS.ClearFields(), EDatabaseError);
    DS.Edit();
    DS.ClearFields();
    EXPECT_TRUE(DS.FieldByName("Name")->IsNull());
    DS.Cancel();
    EXPECT_EQ(DS.FieldByName("Name")->AsString(), "Name1");
}

// ---- Calculated and lookup fields -------------------------------------------------------------------

// Makes persistent fields for the people columns so that calculated fields can join them.
void AddPersistentPeopleFields(TVectorDataSet& ds) {
    auto* id = CreateComponent<TIntegerField>(&ds);
    id->SetFieldName("ID");
    id->SetRequired(true);
    id->SetDataSet(&ds);
    auto* name = CreateComponent<TStringField>(&ds);
    name->SetFieldName("Name");
    name->SetSize(20);
    name->SetDataSet(&ds);
    auto* amount = CreateComponent<TFloatField>(&ds);
    amount->SetFieldName("Amount");
    amount->SetDataSet(&ds);
}

TEST_F(Editing, CalculatedFieldsFollowEachRecordAndEdits) {
    AddPersistentPeopleFields(DS);
    auto* twice = CreateComponent<TFloatField>(&DS);
    twice->SetFieldName("Twice");
    twice->SetFieldKind(fkCalculated);
    twice->SetDataSet(&DS);
    int calcs = 0;
    DS.OnCalcFields = [&](TDataSet* d) {
        ++calcs;
        EXPECT_EQ(d->State(), dsCalcFields);
        d->FieldByName("Twice")->SetAsFloat(d->FieldByName("Amount")->AsFloat() * 2);
    };
    Link.SetBufferCount(2);
    DS.Open();
    EXPECT_EQ(DS.CalcFieldsSize(), 9);
    EXPECT_EQ(twice->FieldNo(), -1);
    EXPECT_EQ(twice->AsFloat(), 3.0);
    DS.MoveBy(3);
    EXPECT_EQ(twice->AsFloat(), 12.0);
    EXPECT_TRUE(DS.FindField("Born") == nullptr) << "persistent fields replace the default ones";

    DS.Edit();
    DS.FieldByName("Amount")->SetAsFloat(10);
    EXPECT_EQ(twice->AsFloat(), 20.0);
    DS.SetAutoCalcFields(false);
    calcs = 0;
    DS.FieldByName("Amount")->SetAsFloat(11);
    EXPECT_EQ(calcs, 0);
    EXPECT_EQ(twice->AsFloat(), 20.0);
    DS.Post();
    EXPECT_EQ(twice->AsFloat(), 22.0) << "a fetched record is always calculated";
    EXPECT_EQ(DS.RowValue(3, "Amount").AsDouble(), 11.0);
}

TEST_F(Editing, ACalculatedFieldMustHaveAValueType) {
    AddPersistentPeopleFields(DS);
    auto* blob = CreateComponent<TStringField>(&DS);
    blob->SetFieldName("Calc");
    blob->SetFieldKind(fkCalculated);
    blob->SetDataSet(&DS);
    DS.Open();
    DS.Close();
    auto* bytes = CreateFieldOfType(ftBytes, &DS);
    bytes->SetFieldName("Raw");
    bytes->SetFieldKind(fkCalculated);
    bytes->SetDataSet(&DS);
    try {
        DS.Open();
        FAIL() << "a Bytes field cannot be calculated";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), Format(SInvalidCalcType, {"Raw"}));
    }
}

TEST_F(Editing, LookupFieldsTakeTheResultOfTheLookupDataSet) {
    TVectorDataSet countries(nullptr);
    countries.AddColumn("Code", ftInteger);
    countries.AddColumn("Country", ftString, 20);
    countries.AppendRow({1, "Norway"});
    countries.AppendRow({2, "Chile"});

    TVectorDataSet people(nullptr);
    people.AddColumn("ID", ftInteger);
    people.AddColumn("CountryCode", ftInteger);
    people.AppendRow({1, 2});
    people.AppendRow({2, 1});
    people.AppendRow({3, 7});
    for (const char* name : {"ID", "CountryCode"}) {
        auto* f = CreateComponent<TIntegerField>(&people);
        f->SetFieldName(name);
        f->SetDataSet(&people);
    }
    auto* country = CreateComponent<TStringField>(&people);
    country->SetFieldName("Country");
    country->SetFieldKind(fkLookup);
    country->SetDataSet(&people);

    // Incomplete lookup information refuses the open.
    try {
        people.Open();
        FAIL() << "opened with incomplete lookup information";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), Format(SLookupInfoError, {"Country"}));
    }
    country->SetLookupDataSet(&countries);
    country->SetKeyFields("CountryCode");
    country->SetLookupKeyFields("Code");
    country->SetLookupResultField("Country");
    people.Open();
    EXPECT_TRUE(countries.Active()) << "binding opens the lookup dataset";
    EXPECT_EQ(country->AsString(), "Chile");
    people.Next();
    EXPECT_EQ(country->AsString(), "Norway");
    people.Next();
    EXPECT_TRUE(country->IsNull()) << "no country with code 7";

    people.Edit();
    people.FieldByName("CountryCode")->SetAsInteger(2);
    EXPECT_EQ(country->AsString(), "Chile");
    people.Cancel();
    // The lookup itself does not move the lookup dataset.
    EXPECT_EQ(countries.FieldByName("Code")->AsInteger(), 1);
    EXPECT_EQ(people.Lookup("ID", 2, "CountryCode;Country")[1].AsString(), "Norway");
    people.Close();
    country->SetLookupDataSet(&people);
    EXPECT_THROW(people.Open(), EDatabaseError) << "a dataset cannot look up in itself";
}

TEST_F(Editing, ADestroyedLookupDataSetIsForgotten) {
    auto countries = std::make_unique<TVectorDataSet>(nullptr);
    auto* field = CreateComponent<TStringField>(&DS);
    field->SetLookupDataSet(countries.get());
    countries.reset();
    EXPECT_EQ(field->LookupDataSet(), nullptr);
}

// ---- Filtering and finding ----------------------------------------------------------------------------

TEST_F(Editing, OnFilterRecordHidesRejectedRecords) {
    DS.SetOnFilterRecord([](TDataSet* d, bool& accept) { accept = d->FieldByName("ID")->AsInteger() % 2 == 0; });
    DS.Open();
    EXPECT_EQ(DS.RecordCount(), 5) << "not filtered yet";
    DS.SetFiltered(true);
    EXPECT_EQ(DS.RecordCount(), 2);
    EXPECT_EQ(ActiveId(), 2);
    DS.Next();
    EXPECT_EQ(ActiveId(), 4);
    DS.Next();
    EXPECT_TRUE(DS.Eof());

    // A new handler applies at once.
    DS.SetOnFilterRecord([](TDataSet* d, bool& accept) { accept = d->FieldByName("ID")->AsInteger() > 3; });
    EXPECT_EQ(ActiveId(), 4);
    EXPECT_EQ(DS.RecordCount(), 2);

    // A failing handler does not stop the scan: the application hears of it, the record keeps
    // the answer it had.
    THeadlessUIServices ui;
    TUIServicesScope scope(ui);
    DS.SetOnFilterRecord([](TDataSet* d, bool& accept) {
        if (d->FieldByName("ID")->AsInteger() == 3) throw EDatabaseError("bad record");
        accept = false;
    });
    EXPECT_EQ(DS.RecordCount(), 1);
    ASSERT_FALSE(ui.Exceptions().empty());
    EXPECT_EQ(ui.Exceptions()[0].Message, "bad record");
    EXPECT_EQ(ui.Exceptions()[0].Sender, &DS);
    EXPECT_EQ(ActiveId(), 3);

    DS.SetFiltered(false);
    EXPECT_EQ(DS.RecordCount(), 5);
}

TEST_F(Editing, FindFirstAndNextHonourTheFilterHandlerWithoutFiltering) {
    DS.SetOnFilterRecord([](TDataSet* d, bool& accept) { accept = d->FieldByName("ID")->AsInteger() % 2 == 1; });
    DS.Open();
    DS.Next();
    EXPECT_TRUE(DS.FindFirst());
    EXPECT_EQ(ActiveId(), 1);
    EXPECT_TRUE(DS.FindNext());
    EXPECT_EQ(ActiveId(), 3);
    EXPECT_TRUE(DS.FindLast());
    EXPECT_EQ(ActiveId(), 5);
    EXPECT_TRUE(DS.FindPrior());
    EXPECT_EQ(ActiveId(), 3);
    EXPECT_TRUE(DS.Found());
    EXPECT_FALSE(DS.Filtered());
    EXPECT_EQ(DS.RecordCount(), 5);
    DS.Last();
    EXPECT_FALSE(DS.FindNext());
    EXPECT_FALSE(DS.Found());
    EXPECT_EQ(ActiveId(), 5);
}

TEST_F(Editing, LocateMovesAndLookupDoesNot) {
    Link.SetBufferCount(3);
    DS.Open();
    EXPECT_TRUE(DS.Locate("Name", "name4", {loCaseInsensitive}));
    EXPECT_EQ(ActiveId(), 4);
    EXPECT_EQ(DS.ActiveRecord(), 1) << "the found record is centred";
    EXPECT_FALSE(DS.Locate("Name", "name4", {}));
    EXPECT_TRUE(DS.Locate("ID;Name", VarArrayOf({2, "Name2"}), {}));
    EXPECT_EQ(ActiveId(), 2);
    EXPECT_EQ(DS.Lookup("ID", 5, "Amount").AsDouble(), 7.5);
    EXPECT_TRUE(VarIsNull(DS.Lookup("ID", 99, "Amount")));
    EXPECT_EQ(ActiveId(), 2);
    EXPECT_EQ(DS.GetFieldValue("ID;Name")[1].AsString(), "Name2");
}

}  // namespace
}  // namespace ostra::test
