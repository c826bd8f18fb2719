// Two processes, each with its own connection and table component on one file, insert, edit and
// delete in the same table at the same time for a few thousand operations. Each inserts and
// deletes only keys of its own range and edits any record; at the end every index holds exactly
// the records both processes expect, and no operation timed out on a lock: a post or delete
// gives its table lock back at once, so the other process never waits longer than one write.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

#include "engine/storage/orqErrors.h"
#include "support/orqTableTest.h"

namespace ostra::componentstest {
namespace {

constexpr int C_OPERATIONS = 1500;

// What one process saw: its keys left in the table, edits refused as changed by the other, lock
// time-outs and any other failure (as text).
struct TOutcome {
    std::set<int> Keys;
    int Conflicts = 0;
    int TimeOuts = 0;
    std::string TimeOutTexts;
    std::string Failures;
};

TOutcome Work(const std::string& Path, int Base, unsigned Seed) {
    TOutcome outcome;
    // Writers wait for each other's short locks (also while connecting); a lock kept after a post
    // would exhaust this.
    auto database = ConnectDataBase(Path, 400);
    database->SetLockRetryInterval(5);
    TOrqTable table(nullptr);
    table.SetDataBase(database.get());
    table.SetTableName("T");
    table.SetIndexName("PK");
    table.Open();
    std::mt19937 random(Seed);
    int next = Base;
    for (int op = 0; op < C_OPERATIONS; ++op) {
        const int kind = int(random() % 10);
        try {
            if (kind < 4 || outcome.Keys.empty()) {
                table.Append();
                table.FieldByName("ID")->SetAsInteger(next);
                table.FieldByName("NAME")->SetAsString("n" + std::to_string(random() % 50));
                table.FieldByName("AGE")->SetAsInteger(int(random() % 90));
                table.Post();
                outcome.Keys.insert(next++);
            } else if (kind < 7) {
                // Any record, this process's or the other's.
                table.FindNearest({Variant((random() % 2 ? 1 : 50000) + int(random() % 600))});
                if (table.IsEmpty() || table.Eof()) continue;
                table.Edit();
                table.FieldByName("NAME")->SetAsString("e" + std::to_string(random() % 50));
                table.FieldByName("AGE")->SetAsInteger(int(random() % 90));
                table.Post();
            } else {
                auto it = outcome.Keys.begin();
                std::advance(it, random() % outcome.Keys.size());
                const int key = *it;
                if (!table.FindKey({Variant(key)})) {
                    outcome.Failures += "key " + std::to_string(key) + " not found; ";
                    continue;
                }
                table.Delete();
                outcome.Keys.erase(key);
            }
        } catch (const EOrqDatabaseError& E) {
            if (E.ErrorCode == 8708)
                ++outcome.Conflicts;
            else if (E.ErrorCode == 10249) {
                ++outcome.TimeOuts;
                outcome.TimeOutTexts += std::string(E.what()) + "; ";
            }
            else
                outcome.Failures += std::string(E.what()) + "; ";
            if (table.State() != dsBrowse) table.Cancel();
        } catch (const EDatabaseError& E) {
            // An edited record that the other process deleted in between.
            if (std::string(E.what()).find("Record not found") != std::string::npos)
                ++outcome.Conflicts;
            else
                outcome.Failures += std::string(E.what()) + "; ";
            if (table.State() != dsBrowse) table.Cancel();
        }
    }
    return outcome;
}

TEST(TableTwoProcessTest, EditInsertAndDeleteSideBySideKeepEveryIndexRight) {
    test::TempDir dir;
    const std::string path = dir.File("shared.orq");
    {
        auto database = MakeDataBase(path);
        CreateTable(*database, "T", {{"ID", ftInteger}, {"NAME", ftString, 10}, {"AGE", ftInteger}},
                    {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}, {"ixName", "NAME", {}}, {"ixAge", "AGE", {}}},
                    false);
    }
    const std::string childResult = dir.File("child.txt");
    test::Child child([&](test::Child&) {
        const TOutcome outcome = Work(path, 50000, 7);
        std::ostringstream text;
        text << outcome.TimeOuts << ' ' << outcome.Failures.size() << ' ';
        for (int key : outcome.Keys) text << key << ' ';
        test::WriteAll(childResult, text.str());
        test::WriteAll(childResult + ".txt", outcome.TimeOutTexts + outcome.Failures);
        return outcome.Failures.empty() ? 0 : 1;
    });
    const TOutcome mine = Work(path, 1, 11);
    ASSERT_EQ(child.Wait(), 0);
    EXPECT_EQ(mine.Failures, "");
    EXPECT_EQ(mine.TimeOuts, 0) << mine.TimeOutTexts;

    std::istringstream text(test::ReadAll(childResult));
    int childTimeOuts = -1, childFailures = -1;
    text >> childTimeOuts >> childFailures;
    EXPECT_EQ(childTimeOuts, 0) << test::ReadAll(childResult + ".txt");
    std::set<int> expected = mine.Keys;
    for (int key; text >> key;) expected.insert(key);
    ASSERT_GT(expected.size(), 200u);

    // Every index walks over exactly the expected records, with the same values.
    auto database = ConnectDataBase(path);
    TOrqTable table(nullptr);
    table.SetDataBase(database.get());
    table.SetTableName("T");
    table.Open();
    std::map<int, std::string> byKey;
    for (const char* index : {"PK", "ixName", "ixAge"}) {
        table.SetIndexName(index);
        std::map<int, std::string> walked;
        for (table.First(); !table.Eof(); table.Next())
            walked[table.FieldByName("ID")->AsInteger()] =
                table.FieldByName("NAME")->AsString() + "/" + table.FieldByName("AGE")->AsString();
        EXPECT_EQ(table.RecordCount(), int(walked.size())) << index;
        std::set<int> keys;
        for (const auto& entry : walked) keys.insert(entry.first);
        EXPECT_EQ(keys, expected) << index;
        if (byKey.empty())
            byKey = walked;
        else
            EXPECT_EQ(walked, byKey) << index;
    }
}

}  // namespace
}  // namespace ostra::componentstest
