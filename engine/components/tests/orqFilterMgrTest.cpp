// Filters of the engine cursor through TFilterMgr: which conditions the indexes answer and how
// completely, the results against a forced full scan (a table of chosen cases and a randomized
// run with nulls, duplicates, collation edges and both null rules), the moves through a filter
// with and without a record event, query mode, and bad filter texts.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

#include "engine/components/orqFilterMgr.h"
#include "engine/sql/tests/support/TestExprParsing.h"
#include "engine/sql/tests/support/TestTableFields.h"
#include "engine/storage/orqCompoundList.h"
#include "host/SysUtils.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

// The texts the string fields take: a prefix and its extensions (a blank, a character above
// 255's place in the collation, 255 itself), case variants, the empty text and NULL.
const std::vector<std::string> CTexts = {"ab", "ab ", "abc", "Abc", "ABD", "ab\xB5x", "ab\xFF", "b",
                                        "ba", "zz", "a*", "", "aB"};

// An expression of the query engine over "Items" (ID, NUM), with its driver for AssignExpr.
struct TItemsExpr {
    TTableList Tables;
    const test::TTestTableFields Fields{{{"ID", ftInteger, 4}, {"NUM", ftInteger, 4}}};
    test::TExprParse Parse;
    TOrqFilterExprDriver Driver;

    explicit TItemsExpr(const std::string& Text) {
        TTableNameItem* item = Tables.Add();
        item->SetTableName("Items");
        item->SetTableFields(&Fields);
        Parse.Parser.SetTableList(&Tables);
        TOrqParserOptions options;
        options.Include(opoExtSyntax);
        EXPECT_TRUE(Parse.Parse(Text, options)) << Text;
        Driver.SetFilterExpr(Parse.Parser.Expr());
    }
};

class FilterTest : public TCursorTest {
protected:
    // "Items": ID primary; NUM (ixNum) and DNUM (ixDNum, descending) with duplicates and NULLs;
    // NAME (ixName, case-sensitive); CNOTE (ixCNote, case-insensitive); NOTE and AMT without
    // index.
    void SetUp() override {
        TCursorTest::SetUp();
        Create("Items",
               {{"ID", ftInteger}, {"NUM", ftInteger}, {"DNUM", ftInteger}, {"NAME", ftString, 6},
                {"CNOTE", ftString, 6}, {"NOTE", ftString, 6}, {"AMT", ftFloat}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}},
                {"ixNum", "NUM", {}},
                {"ixDNum", "DNUM", TIndexOptions{ixDescending}},
                {"ixName", "NAME", {}},
                {"ixCNote", "CNOTE", TIndexOptions{ixCaseInsensitive}}});
        Cursor = Open("Items", "ixNum");
    }
    // Count rows with random values (seeded), NULL about one time in seven.
    void Fill(int Count, unsigned Seed) {
        std::mt19937 random(Seed);
        auto pick = [&](int n) { return int(random() % unsigned(n)); };
        auto maybeNull = [&](Variant v) { return pick(7) == 0 ? Null() : v; };
        for (int id = 1; id <= Count; ++id)
            Insert(*Cursor, {{"ID", id},
                             {"NUM", maybeNull(pick(10))},
                             {"DNUM", maybeNull(pick(10))},
                             {"NAME", maybeNull(CTexts[size_t(pick(int(CTexts.size())))])},
                             {"CNOTE", maybeNull(CTexts[size_t(pick(int(CTexts.size())))])},
                             {"NOTE", maybeNull(CTexts[size_t(pick(int(CTexts.size())))])},
                             {"AMT", maybeNull(pick(20) / 2.0)}});
    }
    TFilterMgr& Mgr(TOrqDataSet& C) { return static_cast<TFilterMgr&>(C.FilterMgr()); }
    // The records (IDs, in cursor order) that Text selects, through the indexes or by a full scan.
    std::vector<int> Select(TOrqDataSet& C, const std::string& Text, TFilterOptions Options = {},
                            bool FullScan = false, bool ExcludeNulls = false) {
        C.InternalClearFilter();
        C.SetFilterText(Text);
        C.SetFilterOptions(Options);
        Mgr(C).SetForceFullScan(FullScan);
        Mgr(C).SetExcludeRelopNulls(ExcludeNulls);
        C.InternalSetFilter();
        std::vector<int> ids;
        for (uint32_t address : Mgr(C).GetCurrentFilterList()->List1()) {
            C.ReadRecordBuffer(address, nullptr);
            ids.push_back(GetValue(C, "ID").AsInteger());
        }
        return ids;
    }
    TOrqFilterOptimisationLevel Level(TOrqDataSet& C) { return Mgr(C).Evaluator()->OptimisationLevel(); }
    // Whether every record number of the current filter is the record's number in cursor order.
    bool NumbersAreTheCursors(TOrqDataSet& C) {
        TCompoundList all;
        C.InternalPrepareMasterRecordList(all);
        std::map<uint32_t, int32_t> number;
        for (int i = 0; i < all.Count(); ++i) number[all.List1()[size_t(i)]] = all.List2()[size_t(i)];
        const TCompoundList& list = *Mgr(C).GetCurrentFilterList();
        for (int i = 0; i < list.Count(); ++i)
            if (number[list.List1()[size_t(i)]] != list.List2()[size_t(i)]) return false;
        return true;
    }

    std::unique_ptr<TOrqDataSet> Cursor;
};

// The filter-to-index table: the level each condition reaches, and the same rows as a full scan.
TEST_P(FilterTest, IndexesAnswerWhatTheyCanAndAgreeWithAFullScan) {
    Fill(150, 7);
    struct TCase {
        const char* Text;
        TOrqFilterOptimisationLevel Level;
        bool CaseInsensitive;
    };
    const TCase cases[] = {
        {"NUM = 5", olFull, false},
        {"NUM <> 5", olFull, false},
        {"NUM < 5", olFull, false},
        {"NUM <= 5", olFull, false},
        {"NUM > 5", olFull, false},
        {"NUM >= 5", olFull, false},
        {"5 > NUM", olFull, false},
        {"DNUM < 4", olFull, false},
        {"DNUM BETWEEN 3 AND 7", olFull, false},
        {"NUM BETWEEN 3 AND 7", olFull, false},
        {"NUM NOT BETWEEN 3 AND 7", olFull, false},
        {"NAME LIKE 'ab%'", olPartial, false},
        {"NAME LIKE 'a%c'", olPartial, false},
        {"NAME LIKE '%b'", olNone, false},
        {"NAME NOT LIKE 'ab%'", olNone, false},
        {"NAME = 'ab*'", olPartial, false},
        {"NAME < 'ab*'", olPartial, false},
        {"NAME <> 'ab*'", olNone, false},
        {"NUM IN (1, 2, 3)", olFull, false},
        {"NUM IN (1, 1)", olFull, false},
        {"NUM NOT IN (1, 2, 3)", olNone, false},
        {"NUM IS NULL", olFull, false},
        {"NAME IS NOT NULL", olFull, false},
        {"NUM = 1 AND AMT = 2", olPartial, false},
        {"NUM = 1 OR AMT = 2", olNone, false},
        {"NUM = 1 OR NAME = 'ab'", olFull, false},
        {"NOT (NUM = 1 AND AMT = 2)", olNone, false},
        {"(NUM = 1 AND AMT = 2) IS NOT NULL", olFull, false},
        {"(NUM = 1 AND AMT = 2) IS NULL", olFull, false},
        {"NUM > 5 OR NUM < 10", olFull, false},  // every row, also the null ones
        {"NUM > 5 OR AMT < 3", olNone, false},   // two fields: not every row
        {"NUM > 5 OR DNUM < 3", olFull, false},
        {"1 = 1", olFull, false},
        {"1 = 2 OR NUM = 3", olFull, false},
        {"AMT > 5", olNone, false},
        {"NOTE = 'ab'", olNone, false},  // "NOTE" is not "CNOTE"
        {"CNOTE = 'ab'", olNone, false},
        {"CNOTE = 'ab'", olFull, true},
        {"NAME = 'ab'", olNone, true},
        {"CNOTE LIKE 'AB%'", olPartial, true},
        {"NAME = 'abcdefghij'", olNone, false},  // longer than the field: rows decide
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        TFilterOptions options;
        if (c.CaseInsensitive) options.Include(foCaseInsensitive);
        const std::vector<int> indexed = Select(*Cursor, c.Text, options);
        EXPECT_EQ(Level(*Cursor), c.Level);
        EXPECT_EQ(indexed, Select(*Cursor, c.Text, options, true));
    }
}

TEST_P(FilterTest, KnownShapesSelectTheRightRows) {
    Insert(*Cursor, {{"ID", 1}, {"NUM", 1}, {"NAME", "ab"}, {"AMT", 1.0}});
    Insert(*Cursor, {{"ID", 2}, {"NUM", 7}, {"NAME", "ab "}, {"AMT", 20.0}});
    Insert(*Cursor, {{"ID", 3}, {"NAME", "ab\xB5z"}, {"AMT", 20.0}});  // NUM null
    Insert(*Cursor, {{"ID", 4}, {"NUM", 1}, {"NAME", "ac"}});
    Insert(*Cursor, {{"ID", 5}, {"NUM", 9}, {"NAME", "Ab"}, {"AMT", 3.0}});
    // Two ranges of one field cover every row (a null is below every value).
    EXPECT_EQ(Select(*Cursor, "NUM > 5 OR NUM < 10"), (std::vector<int>{3, 1, 4, 2, 5}));
    // Two fields do not (a null AMT is below 2).
    EXPECT_EQ(Select(*Cursor, "NUM > 5 OR AMT < 2"), (std::vector<int>{1, 4, 2, 5}));
    // The prefix range ends where the collation says, past "ab" + character 255.
    EXPECT_EQ(Select(*Cursor, "NAME LIKE 'ab%'"), (std::vector<int>{3, 1, 2}));
    // A repeated IN value gives its records once.
    EXPECT_EQ(Select(*Cursor, "NUM IN (1, 1)"), (std::vector<int>{1, 4}));
    // Null rows: listed by < through the index as by the scan, excluded with the null rule.
    EXPECT_EQ(Select(*Cursor, "NUM < 5"), (std::vector<int>{3, 1, 4}));
    EXPECT_EQ(Select(*Cursor, "NUM < 5", {}, false, true), (std::vector<int>{1, 4}));
    EXPECT_EQ(Select(*Cursor, "NUM <> 7", {}, false, true), (std::vector<int>{1, 4, 5}));
    // The cursor walks the filtered records in its order.
    EXPECT_EQ(Walk(*Cursor, "ID"), Ints({1, 4, 5}));
    EXPECT_EQ(Walk(*Cursor, "ID", false), Ints({5, 4, 1}));
}

// Random conditions over random rows: through the indexes and by a full scan, the same records
// in the same (cursor) order, under both null rules and every filter option.
TEST_P(FilterTest, RandomConditionsAgreeWithAFullScan) {
    Fill(250, 11);
    std::vector<std::unique_ptr<TOrqDataSet>> cursors;
    for (const char* index : {"ixNum", "PK", "ixName", "ixDNum"}) cursors.push_back(Open("Items", index));
    std::mt19937 random(12345);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const std::vector<std::string> numbers = {"NUM", "DNUM", "ID", "AMT"};
    const std::vector<std::string> strings = {"NAME", "CNOTE", "NOTE"};
    const std::vector<std::string> ops = {"=", "<>", "<", "<=", ">", ">="};
    auto number = [&]() { return IntToStr(pick(12) - 1) + (pick(4) == 0 ? ".5" : ""); };
    auto text = [&]() {
        std::string t = CTexts[size_t(pick(int(CTexts.size())))];
        if (pick(4) == 0 && !t.empty()) t += "*";
        return "'" + t + "'";
    };
    auto atom = [&]() -> std::string {
        const bool str = pick(2) == 0;
        const std::string f = str ? strings[size_t(pick(3))] : numbers[size_t(pick(4))];
        auto value = [&]() { return str ? text() : number(); };
        switch (pick(9)) {
            case 0:
                return f + (pick(2) ? " BETWEEN " : " NOT BETWEEN ") + value() + " AND " + value();
            case 1:
                return f + (pick(3) ? " IN (" : " NOT IN (") + value() + ", " + value() + ", " + value() + ")";
            case 2:
                return f + (pick(2) ? " IS NULL" : " IS NOT NULL");
            case 3: {
                if (!str) return value() + " " + ops[size_t(pick(6))] + " " + f;
                const char* patterns[] = {"'ab%'", "'a%'", "'A_%'", "'%b'", "'ab'", "'b_'", "'z%'"};
                return f + (pick(4) ? " LIKE " : " NOT LIKE ") + patterns[pick(7)];
            }
            case 4:
                return f + (pick(2) ? " > " : " >= ") + value() + " OR " + f + (pick(2) ? " < " : " <= ") + value();
            case 5:
                return pick(2) ? "1 = 1" : "1 = 2";
            default:
                return f + " " + ops[size_t(pick(6))] + " " + value();
        }
    };
    auto expr = [&](auto&& self, int Depth) -> std::string {
        if (Depth == 0) return atom();
        switch (pick(5)) {
            case 0:
                return "(" + self(self, Depth - 1) + ") AND (" + self(self, Depth - 1) + ")";
            case 1:
                return "(" + self(self, Depth - 1) + ") OR (" + self(self, Depth - 1) + ")";
            case 2:
                return "NOT (" + self(self, Depth - 1) + ")";
            default:
                return atom();
        }
    };
    int optimised = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string text = expr(expr, pick(4));
        TFilterOptions options;
        if (pick(2)) options.Include(foCaseInsensitive);
        if (pick(3) == 0) options.Include(foNoPartialCompare);
        const bool excludeNulls = pick(2) == 0;
        TOrqDataSet& cursor = *cursors[size_t(round) % cursors.size()];
        SCOPED_TRACE(text + (options.Contains(foCaseInsensitive) ? " [case-insensitive]" : "") +
                     (options.Contains(foNoPartialCompare) ? " [no partial]" : "") +
                     (excludeNulls ? " [nulls excluded]" : ""));
        std::vector<int> scanned, indexed;
        std::string scanError, indexError;
        try {
            scanned = Select(cursor, text, options, true, excludeNulls);
        } catch (const Exception& e) {
            scanError = e.Message();
        }
        try {
            indexed = Select(cursor, text, options, false, excludeNulls);
            if (Level(cursor) != olNone) ++optimised;
        } catch (const Exception& e) {
            indexError = e.Message();
        }
        ASSERT_EQ(indexError, scanError);
        ASSERT_EQ(indexed, scanned);
        if (indexError.empty()) {
            ASSERT_TRUE(NumbersAreTheCursors(cursor));
        }
    }
    EXPECT_GT(optimised, 100);  // the run exercised the indexes, not only scans
}

// A field compared with a number is read without Variants: the same rows as the field inside
// arithmetic, which takes the Variant rules, for every operator, operand order, integer and
// float fields, under both null rules, and records deleted and added again.
TEST_P(FilterTest, NumberComparisonsAgreeWithTheVariantRules) {
    Fill(120, 5);
    // Free record blocks among live ones, some of them used again by the last adds.
    for (int id = 300; id < 340; ++id) {
        Insert(*Cursor, {{"ID", id}, {"NUM", 3}, {"AMT", 2.5}});
        if (id % 2 == 0) {
            ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0);
        }
    }
    for (int id = 200; id < 220; ++id) Insert(*Cursor, {{"ID", id}, {"NUM", id % 7}, {"AMT", (id % 9) / 4.0}});
    // Constants of the field's own kind (the parser fits a float constant to an integer field).
    const std::vector<std::pair<const char*, std::vector<const char*>>> cases = {
        {"NUM", {"3", "-1", "0", "205"}},
        {"ID", {"3", "-1", "0", "205"}},
        {"AMT", {"3", "-1", "0", "2.5", "1.25", "205"}}};
    for (bool excludeNulls : {false, true})
        for (const auto& [field, constants] : cases)
            for (const char* op : {"=", "<>", "<", "<=", ">", ">="})
                for (const char* number : constants) {
                    // A Null operand is not a number: the general rules decide it, and they
                    // tell a field from a computed Null.
                    const std::string known = std::string(" AND ") + field + " IS NOT NULL";
                    const std::string plain = std::string(field) + " " + op + " " + number + known;
                    const std::string sum = std::string("(") + field + " + 0) " + op + " " + number + known;
                    const std::string mirrored = std::string(number) + " " + op + " " + field + known;
                    const std::string mirroredSum = std::string(number) + " " + op + " (" + field + " + 0)" + known;
                    SCOPED_TRACE(plain + (excludeNulls ? " [nulls excluded]" : ""));
                    EXPECT_EQ(Select(*Cursor, plain, {}, true, excludeNulls), Select(*Cursor, sum, {}, true, excludeNulls));
                    EXPECT_EQ(Select(*Cursor, mirrored, {}, true, excludeNulls),
                              Select(*Cursor, mirroredSum, {}, true, excludeNulls));
                }
}

TEST_P(FilterTest, MovesThroughTheFilterWithARecordEvent) {
    for (int id = 1; id <= 10; ++id) Insert(*Cursor, {{"ID", id}, {"NUM", id}});
    ASSERT_EQ(Select(*Cursor, "NUM >= 3 AND NUM <= 8"), (std::vector<int>{3, 4, 5, 6, 7, 8}));
    TFilterMgr& mgr = Mgr(*Cursor);
    const std::vector<uint32_t> list = mgr.GetCurrentFilterList()->List1();
    const uint32_t third = list[0], eighth = list[5];
    EXPECT_EQ(mgr.MoveBy(eighth, 1), 0u);
    EXPECT_EQ(mgr.MoveBy(eighth, 0), eighth);
    EXPECT_EQ(mgr.MoveBy(third, 5), eighth);
    EXPECT_EQ(mgr.MoveToEnd(true), third);
    EXPECT_EQ(mgr.MoveToEnd(false), eighth);
    EXPECT_EQ(mgr.GetFilterRecordCount(), 6);
    // Records outside the filter find their neighbours in cursor order.
    std::vector<uint32_t> all;
    for (uint32_t a : mgr.GetMasterList().List1()) all.push_back(a);
    EXPECT_EQ(mgr.FindNearest(all[0], true), third);
    EXPECT_EQ(mgr.FindNearest(all[9], true), 0u);
    EXPECT_EQ(mgr.FindFilterRecord(all[9], stLEG), eighth);
    EXPECT_EQ(mgr.FindFilterRecord(all[1], stEQ), 0u);
    EXPECT_EQ(mgr.GetRecNo(eighth), 8);

    // An event that rejects odd NUM values, together with the text.
    Cursor->SetOnFilterRecord([](TDataSet*, bool&) {});
    const int num = Cursor->GetFieldNo("NUM");
    Cursor->SetFilterEventHandler([&](uint8_t* Record) {
        Variant v;
        Cursor->DataSetGetFieldDataFromRecBufAsVariant(Record, num, v);
        return v.AsInteger() % 2 == 0;
    });
    Cursor->InternalClearFilter();
    Cursor->InternalSetFilter();
    EXPECT_EQ(mgr.GetFilterRecordCount(), 3);
    EXPECT_EQ(mgr.MoveToEnd(true), list[1]);  // NUM 4
    EXPECT_EQ(mgr.MoveBy(list[1], 1), list[3]);
    EXPECT_EQ(mgr.MoveBy(list[1], 2), list[5]);
    EXPECT_EQ(mgr.MoveBy(list[5], -2), list[1]);
    EXPECT_FALSE(mgr.CheckRecordInFilter(list[0]));
    EXPECT_EQ(Walk(*Cursor, "NUM"), Ints({4, 6, 8}));
}

// Emptying a table makes its index trees anew: an active filter text goes on selecting with the
// new trees, and an assigned expression (which only the query engine can give again) is dropped.
TEST_P(FilterTest, EmptyingTheTableKeepsTheFilterTextWorking) {
    for (int id = 1; id <= 20; ++id) Insert(*Cursor, {{"ID", id}, {"NUM", id % 10}});
    ASSERT_EQ(Select(*Cursor, "NUM >= 8").size(), 4u);
    TFilterMgr& mgr = Mgr(*Cursor);
    Cursor->DataSetEmptyTable();
    EXPECT_TRUE(mgr.Active());
    EXPECT_EQ(mgr.GetFilterRecordCount(), 0);
    Insert(*Cursor, {{"ID", 30}, {"NUM", 9}});
    Insert(*Cursor, {{"ID", 31}, {"NUM", 2}});
    mgr.ResetFilter();
    EXPECT_EQ(Walk(*Cursor, "ID"), (std::vector<Variant>{Variant(30)}));

    Cursor->InternalClearFilter();
    Cursor->SetFilterText("");
    TItemsExpr expr("NUM >= 8");
    mgr.AssignExpr(*Cursor, expr.Driver);
    EXPECT_EQ(mgr.GetFilterRecordCount(), 1);
    Cursor->DataSetEmptyTable();
    EXPECT_FALSE(mgr.Active());
    EXPECT_EQ(mgr.Evaluator(), nullptr);
}

// A small index answer is put in cursor order by record numbers, without the list of every
// record; positions, record numbers and neighbours are those of the full list.
TEST_P(FilterTest, ASmallIndexAnswerKeepsCursorOrderAndNeighbours) {
    for (int id = 1; id <= 80; ++id) Insert(*Cursor, {{"ID", id}, {"NUM", id % 10}});
    TFilterMgr& mgr = Mgr(*Cursor);
    Select(*Cursor, "ID > 0", {}, true);
    const std::vector<uint32_t> all = mgr.GetMasterList().List1();
    const std::vector<int32_t> numbers = mgr.GetMasterList().List2();
    // Each record's number and neighbours by a model: the passing records' positions in cursor
    // order. A small result is ordered by record numbers, a large one by the whole cursor list.
    auto check = [&](const std::string& Text, bool FullScan, bool Small) {
        SCOPED_TRACE(Text + (FullScan ? " [full scan]" : ""));
        const std::vector<int> ids = Select(*Cursor, Text, {}, FullScan);
        EXPECT_EQ(mgr.Evaluator()->DefaultRecordsFetched(), !Small);
        std::vector<bool> passes(all.size());
        std::vector<int> expected;
        for (size_t i = 0; i < all.size(); ++i) {
            Cursor->ReadRecordBuffer(all[i], nullptr);
            const int num = GetValue(*Cursor, "NUM").AsInteger();
            passes[i] = Small ? num == 3 : num >= 3;
            if (passes[i]) expected.push_back(GetValue(*Cursor, "ID").AsInteger());
        }
        EXPECT_EQ(ids, expected);
        auto nearest = [&](size_t From, int Step) -> uint32_t {
            for (int64_t k = int64_t(From) + Step; k >= 0 && k < int64_t(all.size()); k += Step)
                if (passes[size_t(k)]) return all[size_t(k)];
            return 0;
        };
        for (size_t i = 0; i < all.size(); ++i) {
            const uint32_t a = all[i], here = passes[i] ? a : 0;
            const uint32_t below = nearest(i, -1), above = nearest(i, 1);
            EXPECT_EQ(mgr.GetRecNo(a), numbers[i]);
            EXPECT_EQ(mgr.FindFilterRecord(a, stLT), below);
            EXPECT_EQ(mgr.FindFilterRecord(a, stLE), here ? here : below);
            EXPECT_EQ(mgr.FindFilterRecord(a, stEQ), here);
            EXPECT_EQ(mgr.FindFilterRecord(a, stGE), here ? here : above);
            EXPECT_EQ(mgr.FindFilterRecord(a, stGT), above);
            EXPECT_EQ(mgr.FindFilterRecord(a, stLEG), here ? here : above ? above : below);
        }
        EXPECT_EQ(Walk(*Cursor, "ID").front().AsInteger(), expected.front());
        EXPECT_EQ(Walk(*Cursor, "ID", false).front().AsInteger(), expected.back());
    };
    for (bool fullScan : {false, true}) {
        check("NUM = 3", fullScan, true);
        check("NUM >= 3", fullScan, false);
    }
}

// A small result takes its record numbers by steps of the tree cursor when its records lie a
// few entries apart in cursor order, by key searches otherwise: records added in key order and
// in a scattered one, next to each other, 10 apart and 40 apart, from an index answer and from
// a scan in storage order.
TEST_P(FilterTest, ASmallResultIsNumberedInCursorOrder) {
    auto pk = Open("Items", "PK");
    for (bool scattered : {false, true}) {
        pk->DataSetEmptyTable();
        for (int i = 0; i < 800; ++i) {
            const int id = scattered ? (i * 307) % 800 + 1 : i + 1;
            Insert(*pk, {{"ID", id}, {"NUM", id % 10}, {"DNUM", id % 40}, {"AMT", double(id)}});
        }
        const std::pair<const char*, std::function<bool(int)>> cases[] = {
            {"AMT > 710", [](int ID) { return ID > 710; }},
            {"NUM = 3", [](int ID) { return ID % 10 == 3; }},
            {"DNUM = 7", [](int ID) { return ID % 40 == 7; }},
            {"DNUM = 7 OR AMT < 30", [](int ID) { return ID % 40 == 7 || ID < 30; }},
        };
        for (const auto& [text, passes] : cases)
            for (bool fullScan : {false, true}) {
                SCOPED_TRACE(std::string(text) + (scattered ? " [scattered]" : "") + (fullScan ? " [full scan]" : ""));
                std::vector<int> expected;
                for (int id = 1; id <= 800; ++id)
                    if (passes(id)) expected.push_back(id);
                EXPECT_EQ(Select(*pk, text, {}, fullScan), expected);
                EXPECT_FALSE(Mgr(*pk).Evaluator()->DefaultRecordsFetched());
                // The record number of ID in PK order is ID.
                const std::vector<int32_t>& numbers = Mgr(*pk).GetCurrentFilterList()->List2();
                EXPECT_EQ(std::vector<int>(numbers.begin(), numbers.end()), expected);
            }
    }
}

// An expression from the query engine: ANDed with the filter text, or in its place, or only
// assessed (its level and the limits of one field).
TEST_P(FilterTest, QueryExpressionsCombineWithTheFilterText) {
    for (int id = 1; id <= 20; ++id) Insert(*Cursor, {{"ID", id}, {"NUM", id % 10}});
    TItemsExpr expr("NUM >= 7");
    TOrqFilterExprDriver& driver = expr.Driver;
    TFilterMgr& mgr = Mgr(*Cursor);
    auto ids = [&] {
        std::vector<int> result;
        for (uint32_t address : mgr.GetCurrentFilterList()->List1()) {
            Cursor->ReadRecordBuffer(address, nullptr);
            result.push_back(GetValue(*Cursor, "ID").AsInteger());
        }
        return result;
    };
    Cursor->SetFilterText("ID <= 10");
    mgr.AssignExpr(*Cursor, driver);
    EXPECT_TRUE(mgr.Active());
    EXPECT_EQ(ids(), (std::vector<int>{7, 8, 9}));
    driver.SetOverwriteExpr(true);
    mgr.AssignExpr(*Cursor, driver);
    EXPECT_EQ(ids(), (std::vector<int>{7, 17, 8, 18, 9, 19}));
    // A reset after a change reads the rows again under the same expression.
    Insert(*Cursor, {{"ID", 21}, {"NUM", 8}});
    Insert(*Cursor, {{"ID", 22}, {"NUM", 1}});
    mgr.ResetFilter();
    EXPECT_EQ(ids(), (std::vector<int>{7, 17, 8, 18, 21, 9, 19}));
    driver.SetAssessExprOnly(true);
    driver.SetLimitFieldName("NUM");
    mgr.AssignExpr(*Cursor, driver);
    EXPECT_FALSE(mgr.Active());
    EXPECT_EQ(driver.ExprOptimizationLevel(), olFull);
    EXPECT_TRUE(driver.LimitsAssessed());
    EXPECT_TRUE(driver.LimitMinSet());
    EXPECT_FALSE(driver.LimitMaxSet());
    EXPECT_EQ(driver.LimitFieldMin().AsInteger(), 7);

    // Expressions assigned one after another (the evaluator of the last one may take the next):
    // each answers alone, the filter text only while there is one, and after the cursor's
    // indexes were made again.
    auto sorted = [&] {
        std::vector<int> result = ids();
        std::sort(result.begin(), result.end());
        return result;
    };
    auto assign = [&](const std::string& Text) {
        TItemsExpr next(Text);
        mgr.AssignExpr(*Cursor, next.Driver);
    };
    Cursor->SetFilterText("");
    assign("NUM >= 8");
    EXPECT_EQ(sorted(), (std::vector<int>{8, 9, 18, 19, 21}));
    assign("ID < 3");
    EXPECT_EQ(sorted(), (std::vector<int>{1, 2}));
    Cursor->SetFilterText("ID > 15");
    assign("NUM >= 8");
    EXPECT_EQ(sorted(), (std::vector<int>{18, 19, 21}));
    Cursor->SetFilterText("");
    assign("NUM >= 8");
    EXPECT_EQ(sorted(), (std::vector<int>{8, 9, 18, 19, 21}));
    mgr.CloseFilter();
    Cursor->DataSetEmptyTable();
    Insert(*Cursor, {{"ID", 30}, {"NUM", 9}});
    Insert(*Cursor, {{"ID", 31}, {"NUM", 2}});
    assign("NUM >= 8");
    EXPECT_EQ(sorted(), (std::vector<int>{30}));
}

TEST_P(FilterTest, QueryModeNumbersRecordsByAddress) {
    for (int id = 1; id <= 5; ++id) Insert(*Cursor, {{"ID", id}, {"NUM", id}});
    TFilterMgr& mgr = Mgr(*Cursor);
    mgr.SetQueryActive(true);
    Cursor->SetFilterText("NUM > 2");
    Cursor->InternalSetFilter();
    const uint32_t first = mgr.GetCurrentFilterList()->List1()[0];
    EXPECT_EQ(mgr.GetRecNo(first), int(first));
    EXPECT_EQ(ErrorCode([&] { mgr.FindFilterRecord(first, stGT); }), 8581);
    mgr.SetQueryActive(false);
}

TEST_P(FilterTest, BadFilterTextIsAnEngineErrorAndKeepsNothingBroken) {
    Fill(20, 3);
    std::string longChain = "NUM = 1";
    while (longChain.size() < 100000) longChain += " OR NUM = " + IntToStr(int(longChain.size() % 10));
    std::string deepArith = "AMT = AMT";
    while (deepArith.size() < 100000) deepArith += " + AMT";
    std::string nested(200, '(');
    nested += "NUM = 1" + std::string(200, ')');
    const char* bad[] = {"XYZ = 1", "NUM = 'abc'", "(NUM = 1", "NUM = 1)", "NUM = = 1", "NAME LIKE", "NUM IN ()"};
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ErrorCode([&] { Select(*Cursor, text); }), 10051);
        EXPECT_FALSE(Cursor->FilterMgr().Active());
    }
    // Trees taller than the parser's nesting limit are refused, a 100,000-character OR chain as
    // well as deep arithmetic; a chain of 500 terms and deep parentheses work.
    EXPECT_EQ(ErrorCode([&] { Select(*Cursor, deepArith); }), 10051);
    EXPECT_EQ(ErrorCode([&] { Select(*Cursor, longChain); }), 10051);
    std::string chain = "NUM = 1";
    for (int i = 0; i < 500; ++i) chain += " OR NUM = " + IntToStr(i % 10 + 5);
    EXPECT_EQ(Select(*Cursor, chain), Select(*Cursor, chain, {}, true));
    EXPECT_EQ(Select(*Cursor, nested), Select(*Cursor, "NUM = 1"));
    // The cursor still filters after the failures.
    EXPECT_EQ(Select(*Cursor, "ID = 4"), (std::vector<int>{4}));
}

INSTANTIATE_CURSOR_TESTS(FilterTest);

}  // namespace
}  // namespace ostra::componentstest
