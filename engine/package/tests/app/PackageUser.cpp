// PackageUser: an application built against the installed runtime package and its headers only.
//
// It prints where the engine's code was loaded from and the first draw of the engine's random
// generator (the test runs it twice: the package entry seeds the generator from the clock and
// the process id, so two runs draw differently). Then it creates a database file in a temporary
// folder, creates a table through TOrqTable, inserts rows, connects again and reads them back,
// runs SQL through TOrqQuery (a parameterised SELECT, an aggregate, an UPDATE with its rows
// affected), and checks that an engine error writes its trace line to the global logger. Any failed check
// ends the program with exit code 1.
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <engine/components/orqDataBase.h>
#include <engine/components/orqSQL.h>
#include <engine/components/orqTable.h>
#include <engine/storage/orqErrors.h>
#include <engine/storage/orqLogger.h>
#include <host/db/Field.h>
#include <platform/Random.h>

using namespace ostra;

namespace {

int GFailures = 0;

void Check(bool Condition, const std::string& What) {
    if (Condition) return;
    std::printf("FAILED: %s\n", What.c_str());
    ++GFailures;
}

constexpr int CRows = 100;

std::string NameOf(int ID) { return "part " + std::to_string(ID); }

// "Parts" (ID primary key, NAME, AMOUNT) with CRows rows, made and filled through TOrqTable.
void CreateParts(TOrqDataBase& DataBase) {
    TOrqTable table(nullptr);
    table.SetDataBase(&DataBase);
    table.SetTableName("Parts");
    table.FieldDefs().Add("ID", ftInteger);
    table.FieldDefs().Add("NAME", ftString, 20);
    table.FieldDefs().Add("AMOUNT", ftFloat);
    table.IndexDefs().Add("PK", "ID", TIndexOptions{ixPrimary, ixUnique});
    table.CreateTable();
    table.Open();
    // Inserted in descending order, so reading in key order shows the index at work.
    for (int id = CRows; id >= 1; --id) {
        table.Append();
        table.FieldByName("ID")->SetAsInteger(id);
        table.FieldByName("NAME")->SetAsString(NameOf(id));
        table.FieldByName("AMOUNT")->SetAsFloat(id * 1.5);
        table.Post();
    }
    table.Close();
}

// Reads "Parts" back in key order and finds one row by its key.
void ReadParts(TOrqDataBase& DataBase) {
    TOrqTable table(nullptr);
    table.SetDataBase(&DataBase);
    table.SetTableName("Parts");
    table.SetIndexName("PK");
    table.Open();
    Check(table.RecordCount() == CRows, "record count " + std::to_string(table.RecordCount()));
    int expected = 1;
    bool inOrder = true;
    for (table.First(); !table.Eof(); table.Next(), ++expected) {
        inOrder = inOrder && table.FieldByName("ID")->AsInteger() == expected &&
                  table.FieldByName("NAME")->AsString() == NameOf(expected) &&
                  table.FieldByName("AMOUNT")->AsFloat() == expected * 1.5;
    }
    Check(inOrder && expected == CRows + 1, "rows read back in key order");
    Check(table.FindKey({Variant(42)}) && table.FieldByName("NAME")->AsString() == NameOf(42),
          "FindKey(42)");
    table.Close();
}

// Reads and changes "Parts" through SQL text.
void QueryParts(TOrqDataBase& DataBase) {
    TOrqQuery query(nullptr);
    query.SetDatabase(&DataBase);
    query.SQL()->SetText("SELECT NAME, AMOUNT FROM Parts WHERE ID = :id");
    query.ParamByName("id")->SetAsInteger(7);
    query.Open();
    Check(query.RecordCount() == 1 && query.FieldByName("NAME")->AsString() == NameOf(7),
          "SELECT with a parameter");
    query.Close();

    query.SQL()->SetText("SELECT COUNT(*) AS N, SUM(ID) AS S FROM Parts WHERE ID > 90");
    query.Open();
    Check(query.FieldByName("N")->AsInteger() == 10 && query.FieldByName("S")->AsInteger() == 955,
          "COUNT and SUM over ten rows");
    query.Close();

    query.SQL()->SetText("UPDATE Parts SET AMOUNT = AMOUNT * 2 WHERE ID <= 5");
    query.ExecSQL();
    Check(query.RowsAffected() == 5, "UPDATE touched five rows");
    query.SQL()->SetText("SELECT AMOUNT FROM Parts WHERE ID = 5");
    query.Open();
    Check(query.FieldByName("AMOUNT")->AsFloat() == 15.0, "the UPDATE reached the table");
    query.Close();
}

}  // namespace

int main() {
    Dl_info info{};
    Check(dladdr(reinterpret_cast<void*>(&GDBLogger), &info) != 0 && info.dli_fname, "dladdr");
    std::printf("engine: %s\n", info.dli_fname ? info.dli_fname : "?");
    std::printf("random: %d\n", platform::Random(1 << 30));
    Check(GDBLogger() != nullptr, "the global logger exists once the package is loaded");

    std::string pattern = (std::filesystem::temp_directory_path() / "orq14rd6-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::printf("FAILED: no temporary folder\n");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    try {
        {
            TOrqDataBase dataBase(nullptr);
            dataBase.SetDataBaseName((folder / "app.orq").string());
            dataBase.CreateDatabase();
            dataBase.SetConnected(true);
            CreateParts(dataBase);
            dataBase.SetConnected(false);
            Check(std::filesystem::exists(folder / "app.orq"), "the database file exists");

            dataBase.SetConnected(true);
            ReadParts(dataBase);
            QueryParts(dataBase);

            // An engine error is an EOrqDatabaseError and leaves a trace line in the log.
            const int linesBefore = GDBLogger()->LogCount();
            TOrqTable missing(nullptr);
            missing.SetDataBase(&dataBase);
            missing.SetTableName("Missing");
            bool raised = false;
            try {
                missing.Open();
            } catch (const EOrqDatabaseError& e) {
                raised = true;
                std::printf("missing table: %d %s\n", e.ErrorCode, e.Message().c_str());
            }
            Check(raised, "opening a missing table raises EOrqDatabaseError");
            Check(GDBLogger()->LogCount() > linesBefore, "the error wrote a trace line");
        }
    } catch (const std::exception& e) {
        std::printf("FAILED: unexpected exception: %s\n", e.what());
        ++GFailures;
    }
    std::filesystem::remove_all(folder);
    if (GFailures > 0) {
        std::printf("package user: %d checks failed\n", GFailures);
        return 1;
    }
    std::printf("package user: all checks passed\n");
    return 0;
}
