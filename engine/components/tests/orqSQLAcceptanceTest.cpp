// The SQL dialect end to end through the query component: a table of statements and the rows
// they must give over two generated tables, then the data-changing statements whose effect is
// read back, parameters rebound at every open, result column names and schema statements that
// reconnect. Runs on a file and on "MEMORY".
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/storage/orqErrors.h"
#include "support/orqCursorTest.h"
#include "support/orqQueryTest.h"

namespace ostra::componentstest {
namespace {

using Rows = std::vector<std::string>;

class SQLAcceptance : public TCursorTest {
protected:
    // T(ID, GRP, NAME, V, W) with ID 1..6:
    //   ID  GRP   NAME  V     W
    //   1   x     ann   10    NULL
    //   2   x     bob   20    5
    //   3   y     cid   NULL  7
    //   4   y     dan   40    NULL
    //   5   z     eve   50    1
    //   6   NULL  fay   60    2
    // U(ID, T_ID, AMOUNT): (1, 1, 100) (2, 1, 200) (3, 2, 300) (4, 4, NULL) (5, 9, 500).
    void SetUp() override {
        TCursorTest::SetUp();
        Create("T", {{"ID", ftInteger}, {"GRP", ftString, 4}, {"NAME", ftString, 8}, {"V", ftInteger}, {"W", ftInteger}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}, {"ixV", "V", {}}});
        Create("U", {{"ID", ftInteger}, {"T_ID", ftInteger}, {"AMOUNT", ftFloat}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}});
        const char* names[] = {"ann", "bob", "cid", "dan", "eve", "fay"};
        const char* ws[] = {"NULL", "5", "7", "NULL", "1", "2"};
        for (int id = 1; id <= 6; ++id) {
            const std::string group = id == 6 ? "NULL" : std::string("'") + "xxyyz"[id - 1] + "'";
            const std::string v = id == 3 ? "NULL" : std::to_string(id * 10);
            Exec("INSERT INTO T VALUES (" + std::to_string(id) + ", " + group + ", '" + names[id - 1] + "', " + v + ", " +
                 ws[id - 1] + ")");
        }
        const int links[] = {1, 1, 2, 4, 9};
        for (int id = 1; id <= 5; ++id)
            Exec("INSERT INTO U VALUES (" + std::to_string(id) + ", " + std::to_string(links[id - 1]) + ", " +
                 (id == 4 ? "NULL" : std::to_string(id * 100)) + ")");
    }
    int Exec(const std::string& Sql) { return ExecSql(*DataBase, Sql); }
    Rows Select(const std::string& Sql) { return SelectRows(*DataBase, Sql); }
};

struct TCase {
    const char* Sql;
    Rows Expected;
    bool Ordered;  // compared in order (else as sorted lists)
};

TEST_P(SQLAcceptance, SelectStatements) {
    const TCase cases[] = {
        // Conditions and order.
        {"SELECT ID FROM T WHERE V > 20 ORDER BY ID", {"4", "5", "6"}, true},
        {"SELECT ID FROM T WHERE V BETWEEN 15 AND 45 OR NAME = 'fay' ORDER BY ID DESC", {"6", "4", "2"}, true},
        {"SELECT NAME FROM T WHERE GRP IN ('x', 'z') AND W IS NOT NULL", {"bob", "eve"}, false},
        {"SELECT ID FROM T WHERE GRP IS NULL OR V IS NULL", {"3", "6"}, false},
        // COUNT(*) with a condition the index cannot answer counts only what passes.
        {"SELECT COUNT(*) FROM T WHERE 1 = 0", {"0"}, false},
        {"SELECT COUNT(*) FROM T WHERE EXISTS (SELECT ID FROM U WHERE AMOUNT > 1000)", {"0"}, false},
        {"SELECT COUNT(*) FROM T WHERE V > 20", {"3"}, false},
        // Aggregates: NULLs ignored, an aggregate over no rows is one row of 0, a computed
        // argument that is NULL is skipped.
        {"SELECT COUNT(*), COUNT(V), SUM(V), AVG(V), MIN(V), MAX(V) FROM T", {"6|5|180|36|10|60"}, false},
        {"SELECT COUNT(*), SUM(V), MIN(V), MAX(V) FROM T WHERE ID > 100", {"0|0|0|0"}, false},
        {"SELECT SUM(V + 1), COUNT(V + 1) FROM T", {"185|5"}, false},
        {"SELECT MIN(NAME), MAX(NAME) FROM T", {"ann|fay"}, false},
        {"SELECT COUNT(DISTINCT GRP), MAX(DISTINCT NAME) FROM T", {"3|fay"}, false},
        // Grouping, with and without aggregates, and HAVING.
        {"SELECT GRP, COUNT(*), SUM(V), MIN(NAME) FROM T GROUP BY GRP",
         {"x|2|30|ann", "y|2|40|cid", "z|1|50|eve", "NULL|1|60|fay"}, false},
        {"SELECT GRP FROM T GROUP BY GRP", {"x", "y", "z", "NULL"}, false},
        {"SELECT GRP, SUM(V) FROM T GROUP BY GRP HAVING SUM(V) > 30", {"y|40", "z|50", "NULL|60"}, false},
        {"SELECT DISTINCT GRP FROM T WHERE ID < 5", {"x", "y"}, false},
        // Joins.
        {"SELECT U.ID, T.NAME, U.AMOUNT FROM T JOIN U ON U.T_ID = T.ID ORDER BY U.ID",
         {"1|ann|100", "2|ann|200", "3|bob|300", "4|dan|NULL"}, true},
        {"SELECT T.ID, U.ID FROM T LEFT JOIN U ON U.T_ID = T.ID",
         {"1|1", "1|2", "2|3", "3|NULL", "4|4", "5|NULL", "6|NULL"}, false},
        {"SELECT T.GRP, COUNT(*) FROM T, U WHERE U.T_ID = T.ID GROUP BY T.GRP", {"x|3", "y|1"}, false},
        // Subqueries: IN, EXISTS (correlated, also from two levels down), scalar, ANY and ALL.
        {"SELECT ID FROM T WHERE ID IN (SELECT T_ID FROM U)", {"1", "2", "4"}, false},
        {"SELECT ID FROM T WHERE EXISTS (SELECT ID FROM U WHERE U.T_ID = T.ID)", {"1", "2", "4"}, false},
        {"SELECT ID FROM T o WHERE EXISTS (SELECT ID FROM U WHERE EXISTS "
         "(SELECT ID FROM T i WHERE i.ID = U.T_ID AND i.GRP = o.GRP))",
         {"1", "2", "3", "4"}, false},
        {"SELECT ID FROM T WHERE V = (SELECT MAX(V) FROM T)", {"6"}, false},
        {"SELECT ID FROM T WHERE V > ALL (SELECT AMOUNT / 10 FROM U WHERE AMOUNT IS NOT NULL)", {"6"}, false},
        {"SELECT ID FROM T WHERE V < ANY (SELECT AMOUNT / 10 FROM U WHERE AMOUNT IS NOT NULL)", {"1", "2", "4"}, false},
        // UNION is distinct unless every member is ALL; ORDER BY orders the whole result.
        {"SELECT GRP FROM T WHERE ID <= 2 UNION SELECT GRP FROM T WHERE ID <= 3", {"x", "y"}, false},
        {"SELECT GRP FROM T WHERE ID <= 2 UNION ALL SELECT GRP FROM T WHERE ID <= 3", {"x", "x", "x", "x", "y"}, false},
        {"SELECT GRP FROM T WHERE ID <= 2 UNION ALL SELECT GRP FROM T WHERE ID <= 3 UNION SELECT GRP FROM T "
         "WHERE ID = 1",
         {"x", "y"}, false},
        {"SELECT ID FROM T WHERE ID < 3 UNION SELECT T_ID FROM U ORDER BY ID DESC", {"9", "4", "2", "1"}, true},
    };
    for (const TCase& c : cases) {
        Rows rows;
        try {
            rows = Select(c.Sql);
        } catch (const std::exception& e) {
            ADD_FAILURE() << c.Sql << "\n  " << e.what();
            continue;
        }
        Rows expected = c.Expected;
        if (!c.Ordered) {
            std::sort(rows.begin(), rows.end());
            std::sort(expected.begin(), expected.end());
        }
        EXPECT_EQ(rows, expected) << c.Sql;
    }
}

TEST_P(SQLAcceptance, ResultColumnNames) {
    auto query = MakeQuery(*DataBase, "SELECT NAME, NAME, NAME, V AS W2, T.ID FROM T WHERE ID = 1");
    query->Open();
    std::vector<std::string> names;
    for (int i = 0; i < query->Fields().Count(); ++i) names.push_back(query->Fields()[i]->FieldName());
    EXPECT_EQ(names, (std::vector<std::string>{"NAME", "NAME_1", "NAME_1_2", "W2", "ID"}));
}

TEST_P(SQLAcceptance, DataChangingStatements) {
    // UPDATE without WHERE over the index it changes reaches every row once.
    EXPECT_EQ(Exec("UPDATE T SET V = V + 15"), 6);
    EXPECT_EQ(Select("SELECT ID, V FROM T ORDER BY ID"), (Rows{"1|25", "2|35", "3|NULL", "4|55", "5|65", "6|75"}));
    // Assignments run in order, each seeing the ones before.
    EXPECT_EQ(Exec("UPDATE T SET V = W, W = V WHERE ID = 2"), 1);
    EXPECT_EQ(Select("SELECT V, W FROM T WHERE ID = 2"), Rows{"5|5"});
    // INSERT ... SELECT copies by position into the named columns; missing VALUES are NULL.
    EXPECT_EQ(Exec("INSERT INTO U (ID, AMOUNT) SELECT ID + 10, V FROM T WHERE V > 50"), 3);
    EXPECT_EQ(Select("SELECT ID, T_ID, AMOUNT FROM U WHERE ID > 10 ORDER BY ID"),
              (Rows{"14|NULL|55", "15|NULL|65", "16|NULL|75"}));
    EXPECT_EQ(Exec("INSERT INTO U (ID) VALUES (20)"), 1);
    EXPECT_EQ(Select("SELECT T_ID, AMOUNT FROM U WHERE ID = 20"), Rows{"NULL|NULL"});
    // DELETE with a subquery and without WHERE.
    EXPECT_EQ(Exec("DELETE FROM U WHERE T_ID NOT IN (SELECT ID FROM T) OR T_ID IS NULL"), 5);
    EXPECT_EQ(Select("SELECT COUNT(*) FROM U"), Rows{"4"});
    EXPECT_EQ(Exec("DELETE FROM U"), 4);
    EXPECT_EQ(Select("SELECT COUNT(*) FROM U"), Rows{"0"});
    // A failed statement raises and changes nothing.
    EXPECT_ANY_THROW(Exec("INSERT INTO T (ID) VALUES (1)"));
    EXPECT_EQ(Select("SELECT COUNT(*) FROM T"), Rows{"6"});
}

TEST_P(SQLAcceptance, ParametersRebound) {
    // A parameter in a grouped, aggregated statement with a subquery takes its new value at
    // every open.
    auto query = MakeQuery(*DataBase,
                           "SELECT GRP, COUNT(*) FROM T WHERE ID > :low AND ID IN (SELECT ID FROM T WHERE V IS NOT NULL) "
                           "GROUP BY GRP HAVING COUNT(*) >= 1");
    ASSERT_EQ(query->ParamCount(), 1);
    query->ParamByName("low")->SetAsInteger(0);
    query->Open();
    Rows rows = ReadRows(*query);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (Rows{"NULL|1", "x|2", "y|1", "z|1"}));
    query->Close();
    query->ParamByName("low")->SetAsInteger(3);
    query->Open();
    rows = ReadRows(*query);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (Rows{"NULL|1", "y|1", "z|1"}));
}

TEST_P(SQLAcceptance, SchemaStatementsRestoreTheConnection) {
    const std::string temporary = Memory() ? "TEMPORARY " : "";
    Exec("CREATE TABLE " + temporary + "S (A INTEGER, B VARCHAR(4))");
    Exec("INSERT INTO S VALUES (1, 'one')");
    if (Memory()) {
        // In-memory tables cannot be restructured; the table stays as it was.
        EXPECT_EQ(ErrorCode([&] { Exec("ALTER TABLE TEMPORARY S ADD C INTEGER"); }), 10766);
        EXPECT_EQ(Select("SELECT A, B FROM S"), Rows{"1|one"});
    } else {
        // Restructures reconnect exclusively and then go back to a shared connection.
        Exec("CREATE INDEX ixB ON S (B)");
        Exec("ALTER TABLE S ADD C INTEGER");
        EXPECT_TRUE(DataBase->Connected());
        EXPECT_FALSE(DataBase->Exclusive());
        EXPECT_EQ(Select("SELECT A, B, C FROM S"), Rows{"1|one|NULL"});
        Exec("DROP INDEX S ixB");
    }
    Exec("DROP TABLE " + temporary + "S");
    EXPECT_NE(ErrorText([&] { Select("SELECT * FROM S"); }).find("Table not found"), std::string::npos);
    EXPECT_TRUE(DataBase->Connected());
    EXPECT_FALSE(DataBase->Exclusive());
}

INSTANTIATE_CURSOR_TESTS(SQLAcceptance);

}  // namespace
}  // namespace ostra::componentstest
