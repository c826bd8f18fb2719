// The WHERE split: which conjuncts become a table's condition, which join two tables, which
// stay for the joined rows, over statements parsed as the query layer parses them. Includes
// the NULL-supplying sides of outer joins, terms that cannot be placed beside ones that can,
// and fields hidden in function arguments and IN lists.
#include <gtest/gtest.h>

#include <string>

#include "engine/components/orqQueryAnalyser.h"
#include "engine/sql/tests/support/TestExprParsing.h"
#include "engine/sql/tests/support/TestQueryDriver.h"

namespace ostra {
namespace {

const test::TTableFixture& Tables() {
    static const test::TTableFixture tables = [] {
        const std::vector<test::TestField> fields{
            {"k", ftInteger, 4}, {"x", ftInteger, 4}, {"y", ftInteger, 4}, {"s", ftString, 11}};
        return test::TTableFixture{{"a", fields}, {"b", fields}, {"c", fields}, {"d", fields}};
    }();
    return tables;
}

// The split as text: select items "t: cond" (alias after the table name), join items
// "t1,t2: cond", and the residual, separated by " | ".
struct Split {
    std::string Selects, Joins, Residual;
    bool Complete = false;
};

Split Analyse(const std::string& Sql) {
    test::TTestQuery q(Tables());
    EXPECT_TRUE(q.Validate(Sql)) << q.ErrorText();
    TOrqExpr* where = q.Engine->WhereParser().Expr();
    TOrqQueryAnalyser analyser;
    TOrqExprNode* root = where ? analyser.GetTempExpr().CloneFromTree(where->FirstNode()) : nullptr;
    TOrqJoins joins;
    TOrqSelects selects;
    analyser.Prepare(joins, selects, root, q.Engine->TableList(), q.Engine->FromParser().Root());
    // The items keep their own clones: the WHERE tree may go first.
    analyser.GetTempExpr().Clear();
    Split s;
    for (int i = 0; i < selects.Count(); ++i) {
        const TOrqSelectItem* item = selects.Items(i);
        if (!s.Selects.empty()) s.Selects += " | ";
        s.Selects += item->TableName() + (item->CorrelationName().empty() ? "" : " " + item->CorrelationName()) +
                     ": " + test::Show(item->SelectExprRoot());
    }
    for (int i = 0; i < joins.Count(); ++i) {
        const TOrqJoinItem* item = joins.Items(i);
        if (!s.Joins.empty()) s.Joins += " | ";
        for (int t = 0; t < item->TableList().Count(); ++t) {
            const TTableNameItem* table = item->TableList().Items(t);
            s.Joins += (t > 0 ? "," : "") +
                       (table->CorrelationName().empty() ? table->TableName() : table->CorrelationName());
        }
        s.Joins += ": " + test::Show(item->JoinExprRoot());
    }
    s.Residual = test::Show(analyser.ResidualExprRoot());
    s.Complete = analyser.CheckAnalysisComplete();
    return s;
}

TEST(QueryAnalyser, SplitsTheWhereCondition) {
    struct Case {
        const char* Sql;
        const char* Selects;
        const char* Joins;
        const char* Residual;
    } cases[] = {
        {"SELECT * FROM a, b", "a: - | b: -", "", "-"},
        {"SELECT * FROM a WHERE a.x = 1", "a: (EQ a.x 1)", "", "-"},
        {"SELECT * FROM a WHERE x = 1 AND y = 2", "a: (AND (EQ x 1) (EQ y 2))", "", "-"},
        {"SELECT * FROM a WHERE x = 1 OR y = 2", "a: (OR (EQ x 1) (EQ y 2))", "", "-"},
        {"SELECT * FROM a, b WHERE a.x = 1 AND b.y = 2", "a: (EQ a.x 1) | b: (EQ b.y 2)", "", "-"},
        {"SELECT * FROM a, b WHERE a.k = b.k AND a.x = 1", "a: (EQ a.x 1) | b: -", "a,b: (EQ a.k b.k)", "-"},
        // Conditions between one pair are ANDed into one join item; a reversed pair is the same.
        {"SELECT * FROM a, b WHERE a.k = b.k AND b.y = a.y", "a: - | b: -",
         "a,b: (AND (EQ a.k b.k) (EQ b.y a.y))", "-"},
        {"SELECT * FROM a, b, c WHERE a.k = b.k AND b.y < c.x", "a: - | b: - | c: -",
         "a,b: (EQ a.k b.k) | b,c: (LT b.y c.x)", "-"},
        // Nested ANDs are split wherever they stand.
        {"SELECT * FROM a, b WHERE (a.x = 1 AND a.k = b.k) AND (b.y = 2 AND a.y = 3)",
         "a: (AND (EQ a.x 1) (EQ a.y 3)) | b: (EQ b.y 2)", "a,b: (EQ a.k b.k)", "-"},
        // What cannot be placed stays for the joined rows; the rest is still placed.
        {"SELECT * FROM a, b WHERE a.x = 1 OR b.y = 2", "a: - | b: -", "", "(OR (EQ a.x 1) (EQ b.y 2))"},
        {"SELECT * FROM a WHERE 1 = 1", "a: -", "", "(EQ 1 1)"},
        {"SELECT * FROM a, b, c WHERE a.k = b.k AND (a.x = 1 OR c.y = 2) AND c.x = 5",
         "a: - | b: - | c: (EQ c.x 5)", "a,b: (EQ a.k b.k)", "(OR (EQ a.x 1) (EQ c.y 2))"},
        {"SELECT * FROM a, b, c WHERE a.x + b.y = c.k AND a.k = b.k", "a: - | b: - | c: -", "a,b: (EQ a.k b.k)",
         "(EQ c.k (ADD a.x b.y))"},
        {"SELECT * FROM a, b WHERE a.k = b.k OR a.k = b.y AND a.x = 1", "a: - | b: -", "",
         "(OR (EQ a.k b.k) (AND (EQ a.k b.y) (EQ a.x 1)))"},
        {"SELECT * FROM a, b WHERE a.x IN (b.y, 2) AND 1 = 1 AND a.x = 3", "a: (EQ a.x 3) | b: -", "",
         "(AND (IN a.x b.y 2) (EQ 1 1))"},
        // A field in a function argument counts: the comparison joins two tables.
        {"SELECT * FROM a, b WHERE a.s = UPPER(b.s)", "a: - | b: -", "a,b: (EQ a.s (UPPER - b.s))", "-"},
        // Outer joins: no condition goes to a NULL-supplying side; the preserved side takes its own.
        {"SELECT * FROM a LEFT JOIN b ON a.k = b.k WHERE b.y = 2 AND a.x = 1", "a: (EQ a.x 1) | b: -", "",
         "(EQ b.y 2)"},
        {"SELECT * FROM a RIGHT JOIN b ON a.k = b.k WHERE b.y = 2 AND a.x = 1", "a: - | b: (EQ b.y 2)", "",
         "(EQ a.x 1)"},
        {"SELECT * FROM a FULL JOIN b ON a.k = b.k WHERE b.y = 2 AND a.x = 1", "a: - | b: -", "",
         "(AND (EQ b.y 2) (EQ a.x 1))"},
        {"SELECT * FROM a UNION JOIN b WHERE b.y = 2", "a: - | b: -", "", "(EQ b.y 2)"},
        {"SELECT * FROM a LEFT JOIN (b JOIN c ON b.k = c.k) ON a.k = b.k, d WHERE c.x = 1 AND d.x = 2",
         "a: - | b: - | c: - | d: (EQ d.x 2)", "", "(EQ c.x 1)"},
        {"SELECT * FROM (a LEFT JOIN b ON a.k = b.k) JOIN c ON c.k = a.k WHERE c.x = 1 AND b.x = 2",
         "a: - | b: - | c: (EQ c.x 1)", "", "(EQ b.x 2)"},
        // A comparison with a NULL-supplying table and a table outside the tree still joins them.
        {"SELECT * FROM a LEFT JOIN b ON a.k = b.k, c WHERE b.y = c.y", "a: - | b: - | c: -", "b,c: (EQ b.y c.y)",
         "-"},
        // A subquery may name any table of the statement: it stays on a table's filter only when
        // the statement has one table.
        {"SELECT * FROM a WHERE a.x IN (SELECT k FROM c)", "a: (IN a.x (SELECT 0))", "", "-"},
        {"SELECT * FROM a, b WHERE a.x IN (SELECT k FROM c) AND a.k = b.k", "a: - | b: -", "a,b: (EQ a.k b.k)",
         "(IN a.x (SELECT 0))"},
        // Aliases: one select item per (table, alias) pair.
        {"SELECT * FROM a p, a q WHERE p.k = q.k AND q.x = 1", "a p: - | a q: (EQ q.x 1)", "p,q: (EQ p.k q.k)",
         "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Sql);
        const Split s = Analyse(c.Sql);
        EXPECT_EQ(s.Selects, c.Selects);
        EXPECT_EQ(s.Joins, c.Joins);
        EXPECT_EQ(s.Residual, c.Residual);
        EXPECT_EQ(s.Complete, std::string(c.Residual) == "-");
    }
}

TEST(QueryAnalyser, ItemsAreFoundCaseInsensitively) {
    TOrqSelects selects;
    TOrqSelectItem* item = selects.GetSelectItem("Orders", "O");
    EXPECT_EQ(selects.GetSelectItem("ORDERS", "o"), item);
    EXPECT_NE(selects.GetSelectItem("Orders", "p"), item);
    EXPECT_EQ(selects.Count(), 2);

    TOrqJoins joins;
    TTableList ab, ba, ac;
    ab.Add()->SetTableName("a");
    ab.Add()->SetTableName("b");
    ba.Add()->SetTableName("B");
    ba.Add()->SetTableName("A");
    ac.Add()->SetTableName("a");
    ac.Add()->SetTableName("c");
    TOrqJoinItem* j = joins.GetJoinItem(ab);
    j->TableList().Assign(ab);
    EXPECT_EQ(joins.GetJoinItem(ba), j);
    EXPECT_NE(joins.GetJoinItem(ac), j);
}

TEST(QueryAnalyser, PrepareStartsAfresh) {
    test::TTestQuery q(Tables());
    ASSERT_TRUE(q.Validate("SELECT * FROM a, b WHERE a.k = b.k AND a.x = 1 AND (a.y = 1 OR b.y = 1)")) << q.ErrorText();
    TOrqQueryAnalyser analyser;
    TOrqJoins joins;
    TOrqSelects selects;
    TOrqExprNode* root = q.Engine->WhereParser().Expr()->FirstNode();
    analyser.Prepare(joins, selects, root, q.Engine->TableList());
    analyser.Prepare(joins, selects, root, q.Engine->TableList());
    EXPECT_EQ(selects.Count(), 2);
    EXPECT_EQ(joins.Count(), 1);
    EXPECT_EQ(test::Show(selects.Items(0)->SelectExprRoot()), "(EQ a.x 1)");
    EXPECT_FALSE(analyser.CheckAnalysisComplete());
    analyser.Prepare(joins, selects, nullptr, q.Engine->TableList());
    EXPECT_EQ(joins.Count(), 0);
    EXPECT_EQ(selects.Items(0)->SelectExprRoot(), nullptr);
    EXPECT_TRUE(analyser.CheckAnalysisComplete());
}

}  // namespace
}  // namespace ostra
