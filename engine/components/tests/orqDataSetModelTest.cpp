// The engine cursor against a model: random inserts, updates that move keys, deletes and searches
// on a table with a unique, a non-unique and a descending index, on a database file and in memory.
// After every step each index is walked both ways and compared with the model (order, record
// numbers, counts and the records' contents); at the end the table is reopened and checked again.
// The two non-unique indexes have wide keys (29 to a page), so their trees split and merge over
// several levels; the unique one spans two leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqErrors.h"
#include "host/Collation.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

struct TRow {
    std::string Name;
    int Score;
    double Value;
    uint32_t LogicalNo;
};

class CursorModelTest : public TCursorTest {
protected:
    void SetUp() override {
        TCursorTest::SetUp();
        Create("Scores", {{"ID", ftInteger}, {"NAME", ftString, 120}, {"SCORE", ftInteger}, {"VAL", ftFloat}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}},
                {"ixName", "NAME", {}},
                {"ixScore", "SCORE;NAME", TIndexOptions{ixDescending}}});
        Cursor = Open("Scores");
    }

    // The model's IDs in the order of an index.
    std::vector<int> ModelOrder(const std::string& Index) const {
        std::vector<int> ids;
        for (const auto& [id, row] : Model) ids.push_back(id);
        if (Index == "ixName")
            std::stable_sort(ids.begin(), ids.end(), [this](int A, int B) {
                const TRow &a = Model.at(A), &b = Model.at(B);
                const int c = AnsiCompareStr(a.Name, b.Name);
                return c != 0 ? c < 0 : a.LogicalNo < b.LogicalNo;
            });
        if (Index == "ixScore")  // every key field descending, the hidden record number too
            std::stable_sort(ids.begin(), ids.end(), [this](int A, int B) {
                const TRow &a = Model.at(A), &b = Model.at(B);
                if (a.Score != b.Score) return a.Score > b.Score;
                const int c = AnsiCompareStr(a.Name, b.Name);
                return c != 0 ? c > 0 : a.LogicalNo > b.LogicalNo;
            });
        return ids;
    }

    void CheckRecord(int ID, const std::string& Where) {
        const TRow& row = Model.at(ID);
        EXPECT_EQ(VarToStr(GetValue(*Cursor, "NAME")), row.Name) << Where;
        EXPECT_EQ(GetValue(*Cursor, "SCORE").AsInteger(), row.Score) << Where;
        EXPECT_EQ(GetValue(*Cursor, "VAL").AsDouble(), row.Value) << Where;
        EXPECT_EQ(Load32(Cursor->RecordBuffer() + 6), row.LogicalNo) << Where;
    }

    // Every index walked against the model: in order with the record numbers, the contents in
    // the unique index; with Backwards also last to first.
    void CheckAll(const std::string& Step, bool Backwards = true) {
        Cursor->ReadLockTable();
        for (const char* index : {"PK", "ixName", "ixScore"}) {
            Cursor->InternalSetIndexName(index);
            const bool contents = index == std::string("PK");
            const std::vector<int> expected = ModelOrder(index);
            std::vector<int> forward;
            for (bool more = Cursor->DataSetFirst(); more; more = Cursor->DataSetNext()) {
                const int id = GetValue(*Cursor, "ID").AsInteger();
                forward.push_back(id);
                EXPECT_EQ(Cursor->DataSetGetRecordNo(), int(forward.size())) << Step << " " << index;
                if (contents && Model.count(id)) CheckRecord(id, Step);
            }
            ASSERT_EQ(forward, expected) << Step << " " << index;
            EXPECT_EQ(Cursor->GetTotalRecordCount(), int(Model.size())) << Step;
            if (!Backwards) continue;
            std::vector<int> backward;
            for (bool more = Cursor->DataSetLast(); more; more = Cursor->DataSetPrior())
                backward.push_back(GetValue(*Cursor, "ID").AsInteger());
            std::reverse(backward.begin(), backward.end());
            ASSERT_EQ(backward, expected) << Step << " " << index << " backwards";
        }
        Cursor->InternalSetIndexName("PK");
        Cursor->UnlockTable();
    }

    bool Seek(int ID) {
        Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
        SetValue(*Cursor, "ID", ID);
        return Cursor->Find(stEQ, "PK", nullptr);
    }

    std::string RandomName() {
        static const char letters[] = "abcdEF";
        std::string name(1 + Random() % 3, ' ');
        for (char& c : name) c = letters[Random() % 6];
        return name;
    }

    std::unique_ptr<TOrqDataSet> Cursor;
    std::map<int, TRow> Model;
    std::mt19937 Random{20240611};
};

TEST_P(CursorModelTest, MatchesAModel) {
    constexpr int Prefill = 300;
    constexpr int Steps = 240;
    constexpr int KeyRange = 1000;
    uint32_t nextLogicalNo = 1;
    for (int i = 0; i < Prefill; ++i) {
        const int id = int(Random() % KeyRange);
        if (Model.count(id)) continue;
        const TRow row{RandomName(), int(Random() % 20), double(i), nextLogicalNo++};
        Insert(*Cursor, {{"ID", id}, {"NAME", row.Name}, {"SCORE", row.Score}, {"VAL", row.Value}});
        Model[id] = row;
    }
    CheckAll("filled");
    for (int step = 0; step < Steps; ++step) {
        const std::string where = "step " + std::to_string(step);
        const int kind = int(Random() % 20);
        const int id = int(Random() % KeyRange);
        if (kind < 7 || Model.empty()) {  // insert
            TRow row{RandomName(), int(Random() % 20), double(Random() % 1000) / 8, 0};
            Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
            SetValue(*Cursor, "ID", id);
            SetValue(*Cursor, "NAME", row.Name);
            SetValue(*Cursor, "SCORE", row.Score);
            SetValue(*Cursor, "VAL", row.Value);
            if (Model.count(id)) {
                EXPECT_EQ(ErrorCode([&] { Cursor->AddRecord(false); }), 9729) << where;
            } else {
                Cursor->AddRecord(false);
                row.LogicalNo = nextLogicalNo++;
                Model[id] = row;
                EXPECT_EQ(GetValue(*Cursor, "ID").AsInteger(), id) << where;
            }
        } else if (kind < 13) {  // update, the key fields moving
            const int old = std::next(Model.begin(), long(Random() % Model.size()))->first;
            ASSERT_TRUE(Seek(old)) << where;
            TRow row = Model[old];
            const int newID = Random() % 2 ? id : old;
            if (Random() % 2) row.Name = RandomName();
            if (Random() % 2) row.Score = int(Random() % 20);
            row.Value += 1;
            SetValue(*Cursor, "ID", newID);
            SetValue(*Cursor, "NAME", row.Name);
            SetValue(*Cursor, "SCORE", row.Score);
            SetValue(*Cursor, "VAL", row.Value);
            if (newID != old && Model.count(newID)) {
                EXPECT_EQ(ErrorCode([&] { Cursor->UpdateRecord(); }), 9729) << where;
            } else {
                Cursor->UpdateRecord();
                Model.erase(old);
                Model[newID] = row;
                EXPECT_EQ(GetValue(*Cursor, "ID").AsInteger(), newID) << where;
            }
        } else if (kind < 18) {  // delete
            const int victim = std::next(Model.begin(), long(Random() % Model.size()))->first;
            ASSERT_TRUE(Seek(victim)) << where;
            ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0) << where;
            Model.erase(victim);
        } else {  // searches of every type in the unique index
            for (TIndexSearchType type : {stLT, stLE, stEQ, stGE, stGT, stLEG}) {
                Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
                SetValue(*Cursor, "ID", id);
                auto above = Model.upper_bound(id), atOrAbove = Model.lower_bound(id);
                int expected = -1;
                switch (type) {
                    case stLT: expected = atOrAbove == Model.begin() ? -1 : std::prev(atOrAbove)->first; break;
                    case stLE: expected = above == Model.begin() ? -1 : std::prev(above)->first; break;
                    case stEQ: expected = Model.count(id) ? id : -1; break;
                    case stGE: expected = atOrAbove == Model.end() ? -1 : atOrAbove->first; break;
                    case stGT: expected = above == Model.end() ? -1 : above->first; break;
                    case stLEG:
                        expected = atOrAbove != Model.end() ? atOrAbove->first : std::prev(Model.end())->first;
                        break;
                }
                const bool found = Cursor->Find(type, "PK", nullptr);
                ASSERT_EQ(found, expected >= 0) << where << " type " << int(type);
                if (found) {
                    EXPECT_EQ(GetValue(*Cursor, "ID").AsInteger(), expected) << where << " type " << int(type);
                }
            }
        }
        CheckAll(where, step % 8 == 0);
        if (HasFatalFailure()) return;
    }

    // Reopened: the same table, on disk from a new connection.
    Cursor.reset();
    if (!Memory()) {
        DataBase->SetConnected(false);
        DataBase->SetConnected(true);
    }
    Cursor = Open("Scores");
    CheckAll("reopened");
    Insert(*Cursor, {{"ID", KeyRange + 1}, {"NAME", "new"}, {"SCORE", 1}, {"VAL", 0.5}});
    EXPECT_EQ(Load32(Cursor->RecordBuffer() + 6), nextLogicalNo);
}

INSTANTIATE_CURSOR_TESTS(CursorModelTest);

}  // namespace
}  // namespace ostra::componentstest
