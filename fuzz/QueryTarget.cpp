// Fuzz target: SQL statements through the query component: parsed, planned and run (a SELECT
// opened and every row and field read, any other statement executed) on a small in-memory
// database made fresh for every input: three tables of a few rows with the columns of the
// statement target's fixture, so its seeds and dictionary serve here too. Statements that the
// engine refuses raise its errors or the evaluator's (conversion, arithmetic, variant
// operations); anything else is a fault. Results are limited to 1,000 rows so that a cross
// join of many tables cannot run for long.
#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataSet.h"
#include "engine/components/orqSQL.h"
#include "fuzz/FuzzTarget.h"
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

void Exec(TOrqDataBase& DataBase, const std::string& Sql) {
    TOrqQuery query(nullptr);
    query.SetDatabase(&DataBase);
    query.SQL()->SetText(Sql);
    query.ExecSQL();
}

void Fill(TOrqDataBase& DataBase) {
    CreateTable(DataBase, "a",
                {{"ID", ftInteger, 0}, {"NAME", ftString, 21}, {"QTY", ftInteger, 0}, {"PRICE", ftFloat, 0},
                 {"NOTE", ftMemo, 0}, {"DAY", ftDate, 0}},
                "ID");
    CreateTable(DataBase, "b", {{"ID", ftInteger, 0}, {"A_ID", ftInteger, 0}, {"CODE", ftString, 6}, {"FLAG", ftBoolean, 0}},
                "ID");
    CreateTable(DataBase, "c", {{"ID", ftAutoInc, 0}, {"STAMP", ftDateTime, 0}, {"AT", ftTime, 0}, {"DATA", ftBlob, 0}},
                "ID");
    Exec(DataBase, "INSERT INTO a VALUES (1, 'one', 3, 1.5, 'first note', '2024-01-31')");
    Exec(DataBase, "INSERT INTO a VALUES (2, 'two', NULL, 20, NULL, NULL)");
    Exec(DataBase, "INSERT INTO a (ID, NAME, QTY) VALUES (3, 'one', 7)");
    Exec(DataBase, "INSERT INTO b VALUES (1, 1, 'x', TRUE)");
    Exec(DataBase, "INSERT INTO b VALUES (2, 1, 'one', FALSE)");
    Exec(DataBase, "INSERT INTO b (ID, A_ID) VALUES (3, 9)");
    Exec(DataBase, "INSERT INTO c (STAMP) VALUES (NULL)");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TOrqDataBase database(nullptr);
    database.SetDataBaseName(C_MEMORYDATABASENAME);
    database.SetConnected(true);
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
