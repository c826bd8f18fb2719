// Fuzz target: SQL statements through the query component: parsed, planned and run (a SELECT
// opened and every row and field read, any other statement executed) on a small in-memory
// database: three tables of a few rows with the columns of the statement target's fixture, so
// its seeds and dictionary serve here too. The database is made once per process and its tables
// are dropped and made again before every input, so no input sees another's changes. Statements
// that the engine refuses raise its errors or the evaluator's (conversion, arithmetic, variant
// operations); anything else is a fault. Results are limited to 1,000 rows so that a cross join
// of many tables cannot run for long.
#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataSet.h"
#include "engine/components/orqSQL.h"
#include "fuzz/FuzzTarget.h"
#include "host/StringList.h"
#include "host/db/Field.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

using namespace ostra;

namespace {

void CreateTable(TOrqDataBase& DataBase, const char* Name, const std::vector<std::tuple<const char*, TFieldType, int>>& Fields,
                 const char* Key) {
    TOrqDataSet creator(nullptr);
    creator.SetDataBase(&DataBase);
    creator.SetTableName(Name);
    TFieldDefs fields(nullptr);
    for (const auto& [name, type, size] : Fields) fields.Add(name, type, size);
    TIndexDefs indexes(nullptr);
    indexes.Add("PK", Key, TIndexOptions{ixPrimary, ixUnique});
    creator.SetTableDef(true, fields, indexes);
    creator.InternalCreateTable();
}

// Adds one row through a cursor on Name: the values by field name (the others stay NULL).
void AddRow(TOrqDataBase& DataBase, const char* Name, const std::vector<std::pair<const char*, Variant>>& Values) {
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(&DataBase);
    cursor.SetTableName(Name);
    cursor.SetMemory(true);
    cursor.DataSetOpen();
    cursor.InitializeNewRecord(cursor.RecordBuffer(), false);
    for (const auto& [field, value] : Values) cursor.DataSetSetFieldDataAsVariant(cursor.GetFieldNo(field), value);
    cursor.AddRecord(true);
}

void Fill(TOrqDataBase& DataBase) {
    TStringList tables;
    DataBase.GetTableNames(&tables, true);
    for (int i = 0; i < tables.Count(); ++i) DataBase.DeleteTable(tables.Strings(i), true);
    CreateTable(DataBase, "a",
                {{"ID", ftInteger, 0}, {"NAME", ftString, 21}, {"QTY", ftInteger, 0}, {"PRICE", ftFloat, 0},
                 {"NOTE", ftMemo, 0}, {"DAY", ftDate, 0}},
                "ID");
    CreateTable(DataBase, "b", {{"ID", ftInteger, 0}, {"A_ID", ftInteger, 0}, {"CODE", ftString, 6}, {"FLAG", ftBoolean, 0}},
                "ID");
    CreateTable(DataBase, "c", {{"ID", ftAutoInc, 0}, {"STAMP", ftDateTime, 0}, {"AT", ftTime, 0}, {"DATA", ftBlob, 0}},
                "ID");
    AddRow(DataBase, "a",
           {{"ID", Variant(1)}, {"NAME", Variant("one")}, {"QTY", Variant(3)}, {"PRICE", Variant(1.5)},
            {"DAY", VarFromDateTime(45000.0)}});
    AddRow(DataBase, "a", {{"ID", Variant(2)}, {"NAME", Variant("two")}, {"PRICE", Variant(20.0)}});
    AddRow(DataBase, "a", {{"ID", Variant(3)}, {"NAME", Variant("one")}, {"QTY", Variant(7)}});
    AddRow(DataBase, "b", {{"ID", Variant(1)}, {"A_ID", Variant(1)}, {"CODE", Variant("x")}, {"FLAG", Variant(true)}});
    AddRow(DataBase, "b", {{"ID", Variant(2)}, {"A_ID", Variant(1)}, {"CODE", Variant("one")}, {"FLAG", Variant(false)}});
    AddRow(DataBase, "b", {{"ID", Variant(3)}, {"A_ID", Variant(9)}});
    AddRow(DataBase, "c", {{"STAMP", VarFromDateTime(45000.25)}});
}

TOrqDataBase& DataBase() {
    static TOrqDataBase database(nullptr);
    if (!database.Connected()) {
        database.SetDataBaseName(C_MEMORYDATABASENAME);
        database.SetConnected(true);
    }
    return database;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TOrqDataBase& database = DataBase();
    Fill(database);
    TOrqQuery query(nullptr);
    query.SetDatabase(&database);
    query.SetMaxRecords(1000);
    fuzz::Refusing<EDatabaseError, EConvertError, EMathError, EVariantError>([&] {
        query.SQL()->SetText(fuzz::AsText(Data, Size));
        query.Prepare();
        if (query.GetSQLStatementType() != osSQLSelect) {
            query.ExecSQL();
            return;
        }
        query.Open();
        for (; !query.Eof(); query.Next())
            for (int i = 0; i < query.Fields().Count(); ++i) query.Fields()[i]->AsString();
        query.Close();
    });
    return 0;
}
