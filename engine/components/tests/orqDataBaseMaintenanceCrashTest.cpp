// A restructure, a table rebuild (by the cursor, and by the database without one) and a database
// rebuild killed at every mutating file call (of the backup copy, the new file, the journal and
// the database) leave a database that opens and holds the table either as it was or as it
// became, never neither: every row is there, reachable through every index, and the file's
// storage structure is sound. The kill runs go on several at
// a time, each on a copy of the database in a folder of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "engine/components/orqDataBaseIntf.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "engine/storage/tests/support/CrashHarness.h"
#include "host/StringList.h"
#include "host/Streams.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

using crashtest::TCrashState;
using crashtest::TCrashVerdict;

const TIndexOptions kUnique{ixPrimary, ixUnique};
constexpr int kRows = 25;

std::string Note(int ID) { return ID % 4 == 0 ? std::string() : "note " + std::to_string(ID) + std::string(size_t(ID * 31 % 600), '-'); }

void Prepare(const std::string& Path) {
    auto database = MakeDataBase(Path);
    CreateTable(*database, "Stock", {{"ID", ftInteger}, {"NAME", ftString, 20}, {"NOTE", ftMemo}},
                {{"PK", "ID", kUnique}, {"ixName", "NAME", {}}}, false);
    auto stock = OpenCursor(*database, "Stock", false);
    for (int id = 1; id <= kRows; ++id) {
        stock->ClearRecord(nullptr);
        SetValue(*stock, "ID", id);
        SetValue(*stock, "NAME", "n" + std::to_string(kRows - id));
        const std::string note = Note(id);
        TStringStream stream(note);
        stock->DataSetSetFieldStream(stock->GetFieldNo("NOTE"), note.empty(), &stream);
        stock->AddRecord(false);
    }
}

// Opens the database afresh and checks the rows of "Stock" through both indexes; the field names
// go to Fields.
std::string CheckStock(const std::string& Path, std::vector<std::string>& Fields) {
    std::string problems;
    try {
        auto database = ConnectDataBase(Path);
        problems += crashtest::CheckStorageStructure(test::ReadAll(Path), 4096);
        auto stock = OpenCursor(*database, "Stock", false, "PK");
        TInternalFields& layout = stock->GetInternalFields();
        for (int i = 0; i < layout.Count(); ++i) Fields.push_back(layout.GetIndex(i)->FieldName());
        std::map<int, std::pair<std::string, std::string>> rows;
        for (bool more = stock->DataSetFirst(); more; more = stock->DataSetNext()) {
            bool isNull = false;
            TStringStream note;
            stock->DataSetGetFieldStream(stock->GetFieldNo("NOTE"), isNull, note);
            rows[GetValue(*stock, "ID").AsInteger()] = {VarToStr(GetValue(*stock, "NAME")), note.DataString()};
        }
        for (int id = 1; id <= kRows; ++id) {
            const auto row = rows.find(id);
            if (row == rows.end() || row->second.first != "n" + std::to_string(kRows - id) || row->second.second != Note(id))
                problems += "row " + std::to_string(id) + " missing or changed; ";
        }
        if (int(rows.size()) != kRows) problems += "other rows than the table's; ";
        stock->InternalSetIndexName("ixName");
        std::set<int> byName;
        for (bool more = stock->DataSetFirst(); more; more = stock->DataSetNext()) byName.insert(GetValue(*stock, "ID").AsInteger());
        if (int(byName.size()) != kRows) problems += "ixName holds other records; ";
        problems += database->DiskMgr()->DebugCheckStatus();
    } catch (const std::exception& E) {
        problems += std::string("the database does not open whole: ") + E.what();
    }
    return problems;
}

// What an earlier run left beside the database (the backup, a rebuild's folder, the log) goes, so
// that every run makes the same file calls as the one the harness counted.
void RemoveLeftovers(const std::string& Path) {
    std::error_code error;
    std::filesystem::remove(DataBaseBackupFileName("", Path), error);
    std::filesystem::remove_all(Path + ".rebuild", error);
    std::filesystem::remove(std::filesystem::path(Path).parent_path() / "dblog.txt", error);
}

std::unique_ptr<TTestDataBase> ConnectExclusive(const std::string& Path) {
    auto database = std::make_unique<TTestDataBase>();
    database->SetDataBaseName(Path);
    database->SetExclusive(true);
    database->SetConnected(true);
    return database;
}

class TRestructureWorkload : public crashtest::TCrashWorkload {
public:
    void Prepare(const std::string& Path) override { componentstest::Prepare(Path); }

    void Run(const std::string& Path, crashtest::TCrashPoint& Point) override {
        RemoveLeftovers(Path);
        auto database = ConnectExclusive(Path);
        TRestructureRequest request;
        for (const auto& [name, type, size] : {std::tuple{"ID", ftInteger, 0}, {"NAME", ftString, 20}, {"NOTE", ftMemo, 0}})
            request.Field(name, type, size, name);
        request.Field("CITY", ftString, 12, "", dcAdded);
        request.Fields.SetChangeStatus(dcAdded);
        request.Index("PK", "ID", kUnique);
        request.Index("ixName", "NAME", {});
        TOrqDataSet stock(nullptr);
        stock.SetDataBase(database.get());
        stock.SetTableName("Stock");
        Point.Run([&] { stock.InternalRestructureTable(request.Record); });
    }

    TCrashVerdict Check(const std::string& Path, const crashtest::TCrashSnapshots&) override {
        TCrashVerdict verdict;
        std::vector<std::string> fields;
        verdict.Problem = CheckStock(Path, fields);
        if (fields == std::vector<std::string>{"ID", "NAME", "NOTE"})
            verdict.State = TCrashState::Before;
        else if (fields == std::vector<std::string>{"ID", "NAME", "NOTE", "CITY"})
            verdict.State = TCrashState::After;
        else
            verdict.Problem += "the table is neither as before nor as after; ";
        return verdict;
    }
};

int32_t StockTableID(TOrqDataBase& DataBase) {
    TTableDef def(nullptr);
    DataBase.QueryTableDef("Stock", false, &def);
    return def.TableID();
}

// The user tables other than "Stock": what an unfinished rebuild left.
std::vector<std::string> Leftovers(TOrqDataBase& DataBase) {
    TStringList names;
    DataBase.GetTableNames(&names, false);
    std::vector<std::string> others;
    for (int i = 0; i < names.Count(); ++i)
        if (names.Strings(i) != "Stock") others.push_back(names.Strings(i));
    return others;
}

// The table rebuilt in steps of a few records, so that the kills fall between step commits, in
// the swap and while the old table's pages are freed; by the cursor, or by the database from a
// copy of the file without a cursor of the caller's (in the steps the cursor takes by default).
class TTableRebuildWorkload : public crashtest::TCrashWorkload {
public:
    explicit TTableRebuildWorkload(bool ThroughDataBase = false) : FThroughDataBase(ThroughDataBase) {}

    void Prepare(const std::string& Path) override {
        componentstest::Prepare(Path);
        FOldID = StockTableID(*ConnectDataBase(Path));
    }

    void Run(const std::string& Path, crashtest::TCrashPoint& Point) override {
        RemoveLeftovers(Path);
        auto database = ConnectExclusive(Path);
        if (FThroughDataBase) {
            const std::string source = DataBaseBackupFileName("", Path);
            Point.Run([&] {
                database->CopyDatabase(source, true);
                database->RebuildTable("Stock", source, nullptr);
            });
            return;
        }
        TOrqDataSet stock(nullptr);
        stock.SetDataBase(database.get());
        stock.SetTableName("Stock");
        stock.SetMaintenanceStepBytes(800);
        Point.Run([&] { stock.InternalRebuildTable(); });
    }

    TCrashVerdict Check(const std::string& Path, const crashtest::TCrashSnapshots&) override {
        TCrashVerdict verdict;
        std::vector<std::string> fields;
        verdict.Problem = CheckStock(Path, fields);
        if (!verdict.Problem.empty()) return verdict;
        if (fields != std::vector<std::string>{"ID", "NAME", "NOTE"}) verdict.Problem += "the fields changed; ";
        auto database = ConnectExclusive(Path);
        verdict.State = StockTableID(*database) == FOldID ? TCrashState::Before : TCrashState::After;
        // At most the one table of the unfinished rebuild is left, and the next rebuild drops it.
        const std::vector<std::string> left = Leftovers(*database);
        if (left.size() > 1 || (left.size() == 1 && left[0].rfind("~restructure-", 0) != 0))
            verdict.Problem += "other tables are left: " + left[0] + "; ";
        if (left.empty()) return verdict;
        // What the next rebuild does with it: the half-made or half-freed table is dropped whole.
        database->DiscardTable(left[0]);
        if (!Leftovers(*database).empty()) verdict.Problem += left[0] + " cannot be dropped; ";
        database.reset();
        fields.clear();
        verdict.Problem += CheckStock(Path, fields);
        return verdict;
    }

private:
    bool FThroughDataBase;
    int32_t FOldID = 0;
};

class TRebuildWorkload : public crashtest::TCrashWorkload {
public:
    void Prepare(const std::string& Path) override { componentstest::Prepare(Path); }

    void Run(const std::string& Path, crashtest::TCrashPoint& Point) override {
        RemoveLeftovers(Path);
        TTestDataBase database;
        database.SetDataBaseName(Path);
        Point.Run([&] { database.RebuildDatabase(); });
    }

    TCrashVerdict Check(const std::string& Path, const crashtest::TCrashSnapshots& Snapshots) override {
        TCrashVerdict verdict;
        std::vector<std::string> fields;
        verdict.Problem = CheckStock(Path, fields);
        // The rebuilt file holds the same rows in a new file; the old one is byte for byte the same.
        verdict.State = test::ReadAll(Path) == Snapshots.Before ? TCrashState::Before : TCrashState::After;
        return verdict;
    }
};

void RunAndExpectBeforeOrAfter(crashtest::TCrashWorkload& Workload) {
    test::TempDir dir;
    crashtest::TCrashOptions options;
    options.Workers = crashtest::ParallelCrashWorkers();
    options.SampleWriteRuns = true;
    const crashtest::TCrashReport report = crashtest::RunCrashHarness(Workload, dir.File("crash.orq"), options);
    for (const std::string& problem : report.Problems) ADD_FAILURE() << problem;
    ::testing::Test::RecordProperty("KillRuns", std::to_string(report.KillRuns) + " of " + std::to_string(report.CommitCalls + 1));
    EXPECT_GE(report.CommitCalls, 10);
    EXPECT_GT(report.Before, 0);
    EXPECT_GT(report.After, 0);
    EXPECT_EQ(report.Before + report.After, report.KillRuns);
}

TEST(DataBaseMaintenanceCrashTest, ARestructureKilledAnywhereLeavesTheOldOrTheNewTable) {
    TRestructureWorkload workload;
    RunAndExpectBeforeOrAfter(workload);
}

TEST(DataBaseMaintenanceCrashTest, ATableRebuildKilledAnywhereLeavesTheOldOrTheNewTable) {
    TTableRebuildWorkload workload;
    RunAndExpectBeforeOrAfter(workload);
}

TEST(DataBaseMaintenanceCrashTest, ATableRebuildWithoutACursorKilledAnywhereLeavesTheOldOrTheNewTable) {
    TTableRebuildWorkload workload(true);
    RunAndExpectBeforeOrAfter(workload);
}

TEST(DataBaseMaintenanceCrashTest, ARebuildKilledAnywhereLeavesTheOldOrTheNewDatabase) {
    TRebuildWorkload workload;
    RunAndExpectBeforeOrAfter(workload);
}

}  // namespace
}  // namespace ostra::componentstest
