// A transaction through the database component is atomic, tables and all. A child process
// connects, creates a table with records and blobs and changes the records of another (inserts,
// updates of an indexed field, deletes) in one transaction, and the crash harness kills it before
// every write, flush and size change of its commit (the journal's, the database's and the
// folder's). A fresh connection then finds the database exactly as before or as after: the
// master table names exactly the tables of that state, each opens, every index of each holds
// exactly its records, the records are the state's, and the file's storage structure is sound.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/storage/tests/support/CrashHarness.h"
#include "host/Streams.h"
#include "host/StringList.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

using crashtest::TCrashState;
using crashtest::TCrashVerdict;

const std::vector<TFieldSpec> kFields = {{"ID", ftInteger}, {"NAME", ftString, 20}, {"NOTE", ftMemo}};
const std::vector<TIndexSpec> kIndexes = {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}, {"ixName", "NAME", {}}};

// A table's contents: NAME and NOTE by ID.
using TRows = std::map<int, std::pair<std::string, std::string>>;
// A database's contents by table name.
using TTables = std::map<std::string, TRows>;

std::string Note(const std::string& Table, int ID) {
    return ID % 3 == 0 ? std::string() : Table + " note " + std::to_string(ID) + std::string(size_t(ID * 37 % 700), '.');
}

TTables Expected(TCrashState State) {
    TTables tables;
    TRows& stock = tables["Stock"];
    for (int id = 1; id <= 30; ++id) stock[id] = {"s" + std::to_string(id), Note("Stock", id)};
    if (State == TCrashState::Before) return tables;
    for (int id = 1; id <= 5; ++id) stock.erase(id);
    for (int id = 10; id <= 14; ++id) stock[id].first = "u" + std::to_string(id);
    for (int id = 31; id <= 45; ++id) stock[id] = {"s" + std::to_string(id), Note("Stock", id)};
    TRows& added = tables["Added"];
    for (int id = 1; id <= 20; ++id) added[id] = {"a" + std::to_string(id), Note("Added", id)};
    return tables;
}

void InsertRow(TOrqDataSet& Cursor, const std::string& Table, int ID, const std::string& Name) {
    Cursor.InitializeNewRecord(Cursor.RecordBuffer(), false);
    SetValue(Cursor, "ID", ID);
    SetValue(Cursor, "NAME", Name);
    const std::string note = Note(Table, ID);
    TStringStream stream(note);
    Cursor.DataSetSetFieldStream(Cursor.GetFieldNo("NOTE"), note.empty(), &stream);
    Cursor.AddRecord(false);
}

bool Seek(TOrqDataSet& Cursor, int ID) {
    Cursor.InitializeNewRecord(Cursor.RecordBuffer(), false);
    SetValue(Cursor, "ID", ID);
    return Cursor.Find(stEQ, "PK", nullptr);
}

// The rows of a table as read through its primary index; Problem names an index that holds other
// records.
TRows ReadRows(TOrqDataSet& Cursor, std::string& Problem) {
    TRows rows;
    Cursor.InternalSetIndexName("PK");
    for (bool more = Cursor.DataSetFirst(); more; more = Cursor.DataSetNext()) {
        bool isNull = false;
        TStringStream note;
        Cursor.DataSetGetFieldStream(Cursor.GetFieldNo("NOTE"), isNull, note);
        rows[GetValue(Cursor, "ID").AsInteger()] = {VarToStr(GetValue(Cursor, "NAME")), note.DataString()};
    }
    Cursor.InternalSetIndexName("ixName");
    std::multiset<int> byName;
    for (bool more = Cursor.DataSetFirst(); more; more = Cursor.DataSetNext()) byName.insert(GetValue(Cursor, "ID").AsInteger());
    std::multiset<int> byID;
    for (const auto& row : rows) byID.insert(row.first);
    if (byName != byID || Cursor.GetTotalRecordCount() != int(rows.size()))
        Problem += Cursor.TableName() + ": the indexes hold other records; ";
    return rows;
}

class TTablesWorkload : public crashtest::TCrashWorkload {
public:
    void Prepare(const std::string& Path) override {
        auto database = MakeDataBase(Path);
        CreateTable(*database, "Stock", kFields, kIndexes, false);
        auto stock = OpenCursor(*database, "Stock", false);
        for (int id = 1; id <= 30; ++id) InsertRow(*stock, "Stock", id, "s" + std::to_string(id));
    }

    void Run(const std::string& Path, crashtest::TCrashPoint& Point) override {
        auto database = ConnectDataBase(Path);
        database->StartTransaction();
        CreateTable(*database, "Added", kFields, kIndexes, false);
        auto added = OpenCursor(*database, "Added", false);
        for (int id = 1; id <= 20; ++id) InsertRow(*added, "Added", id, "a" + std::to_string(id));
        auto stock = OpenCursor(*database, "Stock", false);
        for (int id = 31; id <= 45; ++id) InsertRow(*stock, "Stock", id, "s" + std::to_string(id));
        for (int id = 1; id <= 5; ++id) {
            if (!Seek(*stock, id)) throw std::runtime_error("row missing");
            stock->DeleteRecord(nullptr);
        }
        for (int id = 10; id <= 14; ++id) {
            if (!Seek(*stock, id)) throw std::runtime_error("row missing");
            SetValue(*stock, "NAME", "u" + std::to_string(id));
            stock->UpdateRecord();
        }
        Point.Run([&] { database->Commit(); });
    }

    TCrashVerdict Check(const std::string& Path, const crashtest::TCrashSnapshots& Snapshots) override {
        TCrashVerdict verdict;
        std::string problems;
        TTables found;
        try {
            auto database = ConnectDataBase(Path);  // which recovers the interrupted commit
            problems += crashtest::CheckStorageStructure(test::ReadAll(Path), 4096);
            TStringList names;
            database->GetTableNames(&names, false);
            for (int i = 0; i < names.Count(); ++i) {
                auto cursor = OpenCursor(*database, names.Strings(i), false);
                found[names.Strings(i)] = ReadRows(*cursor, problems);
            }
            problems += database->DiskMgr()->DebugCheckStatus();
        } catch (const std::exception& E) {
            problems += std::string("the database does not open whole: ") + E.what();
        }
        if (found == Expected(TCrashState::Before))
            verdict.State = TCrashState::Before;
        else if (found == Expected(TCrashState::After))
            verdict.State = TCrashState::After;
        else
            problems += "the tables are neither as before nor as after; ";
        verdict.Problem = problems;
        return verdict;
    }
};

TEST(DataBaseCrashTest, KilledAtEveryWriteOfItsCommitTheDatabaseIsBeforeOrAfter) {
    test::TempDir dir;
    TTablesWorkload workload;
    const crashtest::TCrashReport report = crashtest::RunCrashHarness(workload, dir.File("crash.orq"));
    for (const std::string& problem : report.Problems) ADD_FAILURE() << problem;
    EXPECT_GE(report.CommitCalls, 10);
    EXPECT_GT(report.Before, 0);
    EXPECT_GT(report.After, 0);
    EXPECT_EQ(report.Before + report.After, report.CommitCalls + 1);
}

}  // namespace
}  // namespace ostra::componentstest
