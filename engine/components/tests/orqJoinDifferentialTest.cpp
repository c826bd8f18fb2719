// Every join type and every way of matching against a brute-force nested loop
// (orqJoinTestModel.h) on generated tables: NULL and duplicate keys, integer, float and text
// keys (integer against float too), indexed and unindexed join columns (so hash, index range and
// expression loop all run), AND and OR conditions, conditions that no hash can take, filtered
// sides, three and four tables in left-deep and bushy trees, and residual conditions.
#include <gtest/gtest.h>

#include <random>

#include "support/orqCursorTest.h"
#include "support/orqJoinTestModel.h"

namespace ostra::componentstest {
namespace {

class JoinDifferentialTest : public TCursorTest {
protected:
    void TearDown() override {
        World.reset();
        TCursorTest::TearDown();
    }

    // Tables a, b, c, d: ID unique, K integer, F float, S text, each NULL about one time in six
    // and drawn from few values; each table indexes a random choice of K, F and S.
    void Generate(unsigned Seed) {
        std::mt19937 random(Seed);
        auto pick = [&](int n) { return int(random() % unsigned(n)); };
        World = std::make_unique<TJoinWorld>(*DataBase, Memory());
        const std::vector<Variant> floats = {0.0, 1.0, 2.0, 2.5, 3.0, 4.0};
        const std::vector<Variant> texts = {"", "a", "b", "ab", "B"};
        for (const char* alias : {"a", "b", "c", "d"}) {
            TJoinTable table;
            table.Name = std::string("T") + alias + std::to_string(Seed);
            table.Alias = alias;
            table.Fields = {{"ID", ftInteger}, {"K", ftInteger}, {"F", ftFloat}, {"S", ftString, 3}};
            table.Indexes = {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}};
            for (const char* field : {"K", "F", "S"})
                if (pick(2)) table.Indexes.push_back({std::string("ix") + field, field, {}});
            const int rows = pick(5) == 0 ? pick(2) : 4 + pick(12);
            for (int id = 1; id <= rows; ++id) {
                auto maybeNull = [&](Variant v) { return pick(6) == 0 ? Null() : v; };
                table.Rows.push_back({id, maybeNull(pick(5)), maybeNull(floats[size_t(pick(6))]),
                                      maybeNull(texts[size_t(pick(5))])});
            }
            World->AddTable(std::move(table));
        }
    }

    // The rows of Shape through the providers must be the nested loop's.
    void Expect(const TJoinShapePtr& Shape, const std::string& Description, const std::string& Where = "") {
        SCOPED_TRACE(Description + (Where.empty() ? "" : " WHERE " + Where));
        TOrqJoinDataProviderMgr mgr;
        World->Build(mgr, Shape);
        EXPECT_EQ(World->Rows(mgr, Where), World->ModelRows(Shape, Where));
    }

    std::unique_ptr<TJoinWorld> World;
};

// Conditions between two tables X and Y: hashable ones first, then ones for the expression loop.
const std::vector<std::string> CConditions = {
    "X.K = Y.K",
    "X.K = Y.F",
    "X.S = Y.S",
    "X.K = Y.K AND X.S = Y.S",
    "X.K = Y.K OR X.F = Y.F",
    "X.K = Y.K AND Y.F > 1",
    "X.K < Y.K",
    "X.K = Y.K AND X.F = 2",
};
// The tables' own conditions (empty: none).
const std::vector<std::string> CFilters = {"", "", "T.F > 1", "T.K <> 2", "T.S = 'a'"};
const std::vector<TOrqJoinType> CJoinTypes = {jtInnerJoin, jtLeftOuterJoin, jtRightOuterJoin, jtFullOuterJoin};

std::string Between(std::string Text, const std::string& X, const std::string& Y) {
    for (size_t p; (p = Text.find("X.")) != std::string::npos;) Text.replace(p, 1, X);
    for (size_t p; (p = Text.find("Y.")) != std::string::npos;) Text.replace(p, 1, Y);
    return Text;
}

std::string On(const std::string& Filter, const std::string& Table) {
    std::string text = Filter;
    if (size_t p = text.find("T."); p != std::string::npos) text.replace(p, 1, Table);
    return text;
}

TEST_P(JoinDifferentialTest, TwoTablesEveryTypeAndCondition) {
    for (unsigned seed : {1u, 2u, 3u}) {
        Generate(seed);
        std::mt19937 random(seed * 7);
        auto filter = [&](const char* Table) { return On(CFilters[random() % CFilters.size()], Table); };
        for (const std::string& condition : CConditions)
            for (TOrqJoinType type : CJoinTypes) {
                const std::string on = Between(condition, "a", "b");
                const std::string fa = filter("a"), fb = filter("b");
                Expect(Join(type, Leaf(0, fa), Leaf(1, fb), on),
                       "seed " + std::to_string(seed) + ": a[" + fa + "] " + JoinTypeName(type) + " b[" + fb +
                           "] ON " + on);
            }
        for (TOrqJoinType type : {jtCrossJoin, jtUnionJoin}) {
            const std::string fa = filter("a"), fb = filter("b");
            Expect(Join(type, Leaf(0, fa), Leaf(1, fb)), "seed " + std::to_string(seed) + ": " + JoinTypeName(type));
        }
    }
}

TEST_P(JoinDifferentialTest, ThreeAndFourTablesAndResidualConditions) {
    for (unsigned seed : {4u, 5u, 6u}) {
        Generate(seed);
        std::mt19937 random(seed * 11);
        auto any = [&](const auto& List) { return List[random() % List.size()]; };
        auto describe = [&](const std::string& Shape) { return "seed " + std::to_string(seed) + ": " + Shape; };
        for (int round = 0; round < 12; ++round) {
            const TOrqJoinType t1 = any(CJoinTypes), t2 = any(CJoinTypes), t3 = any(CJoinTypes);
            const std::string ab = Between(any(CConditions), "a", "b");
            const std::string bc = Between(any(CConditions), "b", "c");
            const std::string cd = Between(any(CConditions), "c", "d");
            const std::string fc = On(any(CFilters), "c");
            const std::string types = JoinTypeName(t1) + "/" + JoinTypeName(t2) + "/" + JoinTypeName(t3);
            // Left-deep: the matched side of the upper join is one table, hashed on its column
            // with the key read inside the lower join.
            Expect(Join(t2, Join(t1, Leaf(0), Leaf(1), ab), Leaf(2, fc), bc),
                   describe("(a " + ab + " b) " + bc + " c[" + fc + "] " + types));
            // Bushy: the matched side is a join, walked per driving row.
            Expect(Join(t2, Leaf(0), Join(t1, Leaf(1), Leaf(2, fc), bc), ab),
                   describe("a " + ab + " (b " + bc + " c[" + fc + "]) " + types));
            // Four tables, with a residual condition over all of them.
            Expect(Join(t3, Join(t1, Leaf(0), Leaf(1), ab), Join(t2, Leaf(2), Leaf(3), cd), bc),
                   describe("(a " + ab + " b) " + bc + " (c " + cd + " d) " + types),
                   round % 2 ? "a.K IS NULL OR d.F > 1" : "");
            // A cross join onto a tree, and a condition the hash cannot place on a nested side.
            Expect(Join(jtCrossJoin, Join(t1, Leaf(0), Leaf(1), ab), Leaf(3)), describe("(a " + ab + " b) x d"),
                   "b.K = d.K OR d.S = 'a'");
        }
    }
}

INSTANTIATE_CURSOR_TESTS(JoinDifferentialTest);

}  // namespace
}  // namespace ostra::componentstest
