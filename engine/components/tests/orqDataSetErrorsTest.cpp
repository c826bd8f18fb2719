// Every error the engine cursor raises, in one table of cases: the code and the custom text each
// failure reports, on a database file with one small table.
#include <gtest/gtest.h>

#include <functional>

#include "engine/storage/orqErrors.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

class CursorErrorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        DataBase = MakeDataBase(Dir.File("errors.orq"));
        CreateTable(*DataBase, "T", {{"ID", ftInteger}, {"NAME", ftString, 10}, {"NOTE", ftMemo}},
                    {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}}, false);
        Cursor = OpenCursor(*DataBase, "T", false);
        Insert(*Cursor, {{"ID", 1}, {"NAME", "one"}});
        Insert(*Cursor, {{"ID", 2}, {"NAME", "two"}});
    }
    // A table definition requested from Fields and Indexes (SetTableDef).
    void Define(const std::string& Name, const std::vector<TFieldSpec>& Fields, int IndexCount = 0,
                const std::string& IndexFields = "ID") {
        TOrqDataSet cursor(nullptr);
        cursor.SetDataBase(DataBase.get());
        cursor.SetTableName(Name);
        TFieldDefs fields(nullptr);
        for (const TFieldSpec& field : Fields) fields.Add(field.Name, field.Type, field.Size);
        TIndexDefs indexes(nullptr);
        for (int i = 0; i < IndexCount; ++i) indexes.Add("ix" + std::to_string(i), IndexFields, {});
        cursor.SetTableDef(false, fields, indexes);
    }
    std::vector<TFieldSpec> ManyFields(int Count) {
        std::vector<TFieldSpec> fields;
        for (int i = 0; i < Count; ++i) fields.push_back({"F" + std::to_string(i), ftInteger});
        return fields;
    }
    bool Seek(int ID) {
        Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
        SetValue(*Cursor, "ID", ID);
        return Cursor->Find(stEQ, "PK", nullptr);
    }

    test::TempDir Dir;
    std::unique_ptr<TTestDataBase> DataBase;
    std::unique_ptr<TOrqDataSet> Cursor;
};

TEST_F(CursorErrorsTest, RaisesEachErrorWithItsText) {
    struct Case {
        int Code;
        const char* Text;  // a part of the message ("" when only the code counts)
        std::function<void()> Action;
    };
    const Case cases[] = {
        {10112, "There is no connection to a database engine",
         [&] {
             TOrqDataSet cursor(nullptr);
             cursor.SetTableName("T");
             cursor.DataSetOpen();
         }},
        {10024, "No such table", [&] { OpenCursor(*DataBase, "", false); }},
        {10024, "Missing", [&] { OpenCursor(*DataBase, "Missing", false); }},
        {10031, "Table is open", [&] { Cursor->InternalOpenDataSet(); }},
        {8577, "Operation is not valid on this object",
         [&] {
             TOrqDataSet cursor(nullptr);
             cursor.Open();
         }},
        {9997, "Index nope", [&] { Cursor->Find(stEQ, "nope", nullptr); }},
        {9997, "NAME;ID", [&] { Cursor->FindIndexForFields("NAME;ID"); }},
        {9729, "Index PK", [&] { Insert(*Cursor, {{"ID", 2}}); }},
        {8710, "Record was not found",
         [&] {
             auto fresh = OpenCursor(*DataBase, "T", false);
             fresh->UpdateRecord();
         }},
        {8708, "Record Deleted/Key Modified",
         [&] {
             ASSERT_TRUE(Seek(1));
             auto other = OpenCursor(*DataBase, "T", false);
             other->InitializeNewRecord(other->RecordBuffer(), false);
             SetValue(*other, "ID", 1);
             ASSERT_TRUE(other->Find(stEQ, "PK", nullptr));
             SetValue(*other, "NAME", "uno");
             other->UpdateRecord();
             Cursor->UpdateRecord();
         }},
        {8581, "Invalid address of 0 for SetToRecord", [&] { Cursor->SetToRecord(0, nullptr, false, true); }},
        {10116, "NOPE", [&] { Define("U", {{"ID", ftInteger}}, 1, "NOPE"); }},
        {10000, "Memo", [&] { GetValue(*Cursor, "NOTE"); }},
        {10753, "NAME", [&] { Cursor->DataSetSetFieldStream(Cursor->GetFieldNo("NAME"), false, nullptr); }},
        {10051, "Invalid filter",
         [&] {
             Cursor->SetFilterText("ID = ");
             Cursor->InternalSetFilter();
         }},
        {10624, "You do not have the privilege/s required to perform this function",
         [&] {
             DataBase->SetTablePrivileges("T", 2048);
             auto reader = OpenCursor(*DataBase, "T", false);
             Insert(*reader, {{"ID", 3}});
         }},
        {10763, "Table is read only",
         [&] {
             auto reader = std::make_unique<TOrqDataSet>(nullptr);
             reader->SetDataBase(DataBase.get());
             reader->SetTableName("T");
             reader->SetReadOnly(true);
             reader->DataSetOpen();
             Insert(*reader, {{"ID", 3}});
         }},
        {8961, "The encrpytion key is not valid or corrupted",
         [&] {
             CreateTable(*DataBase, "Secret", {{"ID", ftInteger}}, {}, false, encWeak);
             RewriteDefinition(*DataBase, "Secret", [](TTableDef& Def) { Def.SetAltName("Sekret"); });
             OpenCursor(*DataBase, "Secret", false);
         }},
        // The limits of a new table's definition.
        {10039, "Invalid table name", [&] { Define(std::string(41, 'n'), {{"ID", ftInteger}}); }},
        {10039, " is not a valid value (min. length 1, max. length 40)", [&] { Define("", {{"ID", ftInteger}}); }},
        {10041, "Table: all", [&] { Define("all", {{"ID", ftInteger}}); }},
        {10041, "Field: All", [&] { Define("U", {{"All", ftInteger}}); }},
        {10041, "Table: ,ALL", [&] { Define(",ALL", {{"ID", ftInteger}}); }},
        {9492, "0 is not a valid value (min. 1, max. 255)", [&] { Define("U", {}); }},
        {9492, "256 is not a valid value (min. 1, max. 255)", [&] { Define("U", ManyFields(256)); }},
        {9606, "S is not a valid value (min. length 1, max. length 255)", [&] { Define("U", {{"S", ftString, 256}}); }},
        {9606, "The field length is invalid", [&] { Define("U", {{"B", ftBytes, 1}}); }},
        {10038, "Invalid field name", [&] { Define("U", {{std::string(41, 'f'), ftInteger}}); }},
        {9604, "Maximum allowed is 32", [&] { Define("U", {{"ID", ftInteger}}, 33); }},
        {9602, "ix0 has not been set or is out of range", [&] { Define("U", {{"S", ftString, 255}, {"T", ftString, 255}}, 1, "S;T"); }},
    };
    for (const Case& c : cases) {
        std::string text;
        const int code = ErrorCode([&] {
            try {
                c.Action();
            } catch (const EOrqDatabaseError& e) {
                text = e.Message();
                throw;
            }
        });
        EXPECT_EQ(code, c.Code) << c.Text;
        EXPECT_NE(text.find(c.Text), std::string::npos) << c.Code << ": " << text;
    }
    // The limits themselves are accepted.
    Define(std::string(40, 'n'), {{"S", ftString, 255}, {"B", ftBytes, 2}, {std::string(40, 'f'), ftInteger}}, 32, "S");
    Define("U", ManyFields(255));
}

}  // namespace
}  // namespace ostra::componentstest
