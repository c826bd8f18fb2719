// The query provider over a real database in a temporary folder: statements of every kind run
// from SQL text through validation, planning and execution, checked by the rows they leave or
// return and by the error texts of bad statements.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/components/orqQueryDataset.h"
#include "engine/components/orqQueryProvider.h"
#include "engine/storage/orqErrors.h"
#include "host/Exceptions.h"
#include "host/db/Field.h"
#include "host/db/Params.h"
#include "support/orqCursorFixture.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

class QueryProvider : public ::testing::Test {
protected:
    void SetUp() override {
        DataBase = componentstest::MakeDataBase(Dir.File("query.orq"));
        Provider = std::make_unique<TOrqQueryProvider>();
        Provider->SetDatabase(DataBase.get());
        Provider->SetParams(&Params);
        Exec("CREATE TABLE a (k INTEGER, x INTEGER, s CHAR(10))");
        Exec("CREATE TABLE b (k INTEGER, y INTEGER)");
        for (const char* row : {"(1, 10, 'one')", "(2, 20, 'two')", "(3, NULL, 'three')", "(4, 20, 'four')"})
            Exec(std::string("INSERT INTO a VALUES ") + row);
        for (const char* row : {"(1, 100)", "(2, 200)", "(2, 201)", "(5, 500)"})
            Exec(std::string("INSERT INTO b VALUES ") + row);
        Exec("CREATE TABLE c (k INTEGER, y INTEGER)");
        Exec("INSERT INTO c SELECT k, y FROM b");
    }

    void SetSQL(const std::string& Sql) {
        TStringList text;
        text.SetText(Sql);
        Provider->SetSQL(text);
    }

    // Validates and prepares Sql; the error text when that fails, else "".
    std::string Prepare(const std::string& Sql) {
        SetSQL(Sql);
        if (!Provider->ValidateSQL()) return Provider->GetErrorsAsText();
        if (!Provider->PreparePlan()) return Provider->GetErrorsAsText();
        return "";
    }

    // Runs a statement other than a SELECT; its rows affected.
    int Exec(const std::string& Sql) {
        const std::string error = Prepare(Sql);
        EXPECT_EQ(error, "") << Sql;
        if (!error.empty()) return -1;
        EXPECT_TRUE(Provider->ExecSQL()) << Sql << ": " << Provider->GetErrorsAsText();
        return Provider->GetRowsAffected();
    }

    // The rows of a SELECT: values joined by ",", rows by "; " (NULL as "-").
    std::string Select(const std::string& Sql) {
        const std::string error = Prepare(Sql);
        if (!error.empty()) return "error: " + error;
        EXPECT_TRUE(Provider->CreateResultSet());
        return Rows(*Provider->GetResultSet());
    }

    static std::string Rows(TDataSet& Rows) {
        std::string text;
        for (Rows.First(); !Rows.Eof(); Rows.Next()) {
            if (!text.empty()) text += "; ";
            for (int i = 0; i < Rows.FieldCount(); ++i) {
                TField* f = Rows.Fields().Fields(i);
                if (f->FieldName().rfind("__", 0) == 0) continue;
                if (i > 0) text += ",";
                text += f->IsNull() ? "-" : f->AsString();
            }
        }
        return text;
    }

    std::string Columns() {
        std::string text;
        TDataSet& rows = *Provider->GetResultSet();
        for (int i = 0; i < rows.FieldCount(); ++i) text += (i ? "," : "") + rows.Fields().Fields(i)->FieldName();
        return text;
    }

    test::TempDir Dir;
    std::unique_ptr<componentstest::TTestDataBase> DataBase;
    TParams Params;
    std::unique_ptr<TOrqQueryProvider> Provider;
};

TEST_F(QueryProvider, SelectForms) {
    struct Case {
        const char* Sql;
        const char* Rows;
    } cases[] = {
        {"SELECT k, s FROM a WHERE x = 20 ORDER BY k", "2,two; 4,four"},
        {"SELECT k FROM a ORDER BY k DESC", "4; 3; 2; 1"},
        {"SELECT k + 1 AS n FROM a WHERE k < 3 ORDER BY n", "2; 3"},
        {"SELECT DISTINCT x FROM a ORDER BY x", "-; 10; 20"},
        {"SELECT a.k, b.y FROM a, b WHERE a.k = b.k ORDER BY b.y", "1,100; 2,200; 2,201"},
        {"SELECT a.k, b.y FROM a LEFT JOIN b ON a.k = b.k WHERE a.k > 2 ORDER BY a.k", "3,-; 4,-"},
        // Aggregates: NULLs skipped, AVG over the non-NULL values, empty input gives 0.
        {"SELECT COUNT(*), COUNT(x), SUM(x), AVG(x), MIN(x), MAX(x) FROM a", "4,3,50,16.6666666666667,10,20"},
        {"SELECT COUNT(*), SUM(x) FROM a WHERE k > 10", "0,0"},
        {"SELECT x, COUNT(*) FROM a GROUP BY x ORDER BY x", "-,1; 10,1; 20,2"},
        {"SELECT x, SUM(k) FROM a GROUP BY x HAVING SUM(k) > 3", "20,6"},
        {"SELECT x, COUNT(*) FROM a GROUP BY x HAVING x > 5 ORDER BY x", "10,1; 20,2"},  // NULL group dropped
        {"SELECT SUM(k) * 2 + 1 FROM a", "21"},
        // GROUP BY with no aggregate column groups.
        {"SELECT x FROM a GROUP BY x ORDER BY x", "-; 10; 20"},
        // The same column listed twice under GROUP BY.
        {"SELECT a.*, x FROM a WHERE k < 3 GROUP BY x, k, s ORDER BY k", "1,10,one,10; 2,20,two,20"},
        // The COUNT(*) short cut only where the table's filter is the whole condition.
        {"SELECT COUNT(*) FROM a WHERE x = 20", "2"},
        {"SELECT COUNT(*) FROM a WHERE 1 = 0", "0"},
        {"SELECT COUNT(*) FROM a WHERE EXISTS (SELECT * FROM b WHERE b.k = 99)", "0"},
        // UNION: distinct unless every member is ALL; ORDER BY orders the whole result.
        {"SELECT x FROM a WHERE k < 3 UNION SELECT x FROM a ORDER BY x", "-; 10; 20"},
        {"SELECT x FROM a WHERE k = 2 UNION ALL SELECT x FROM a WHERE k = 4", "20; 20"},
        {"SELECT k FROM a WHERE k = 1 UNION ALL SELECT k FROM b UNION SELECT k FROM a WHERE k = 2 ORDER BY k",
         "1; 2; 5"},
        {"SELECT k FROM b UNION SELECT k FROM a ORDER BY k DESC", "5; 4; 3; 2; 1"},
        // Subqueries: scalar, IN, EXISTS, ANY/ALL, correlated.
        {"SELECT k FROM a WHERE x = (SELECT MAX(x) FROM a) ORDER BY k", "2; 4"},
        {"SELECT k FROM a WHERE k IN (SELECT k FROM b) ORDER BY k", "1; 2"},
        {"SELECT k FROM a WHERE k NOT IN (SELECT k FROM b) ORDER BY k", "3; 4"},
        {"SELECT k FROM a WHERE k IN (SELECT k FROM b WHERE k = 1 UNION SELECT k FROM a WHERE k = 4) ORDER BY k",
         "1; 4"},
        // IN looks values up in a hash of the subquery's rows: numbers of other kinds, texts,
        // NULL rows.
        {"SELECT k FROM a WHERE k * 1.5 IN (SELECT k * 1.5 FROM b) ORDER BY k", "1; 2"},
        {"SELECT k FROM a WHERE k + 0.5 IN (SELECT k FROM b) ORDER BY k", ""},
        {"SELECT k FROM a WHERE x IN (SELECT x FROM a WHERE k > 1) ORDER BY k", "2; 4"},
        {"SELECT k FROM a WHERE k NOT IN (SELECT x FROM a) ORDER BY k", "1; 2; 3; 4"},
        {"SELECT k FROM a WHERE s IN (SELECT s FROM a WHERE k < 3) ORDER BY k", "1; 2"},
        {"SELECT k FROM a WHERE UPPER(s) IN (SELECT s FROM a) ORDER BY k", ""},
        {"SELECT k FROM a WHERE EXISTS (SELECT * FROM b WHERE b.k = a.k) ORDER BY k", "1; 2"},
        {"SELECT k FROM a WHERE x > ANY (SELECT x FROM a WHERE k = 1) ORDER BY k", "2; 4"},
        {"SELECT k FROM a WHERE k >= ALL (SELECT k FROM a) ", "4"},
        {"SELECT k, (SELECT COUNT(*) FROM b WHERE b.k = a.k) FROM a ORDER BY k", "error"},
        {"SELECT k FROM a WHERE 1 < (SELECT COUNT(*) FROM b WHERE b.k = a.k) ORDER BY k", "2"},
        // Correlated two levels deep: the innermost reads the outermost row, so the middle one
        // must be filled again for every outer row too.
        {"SELECT k FROM a WHERE EXISTS (SELECT * FROM b WHERE b.y > 150 AND EXISTS "
         "(SELECT * FROM c WHERE c.k = a.k AND c.y = b.y)) ORDER BY k",
         "2"},
        {"SELECT k FROM a WHERE EXISTS (SELECT * FROM b WHERE EXISTS (SELECT * FROM c WHERE c.k = a.k)) ORDER BY k",
         "1; 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Sql);
        const std::string rows = Select(c.Sql);
        if (std::string(c.Rows) == "error")
            EXPECT_EQ(rows.rfind("error", 0), 0u) << rows;
        else
            EXPECT_EQ(rows, c.Rows);
    }
}

TEST_F(QueryProvider, RowsAffectedByEveryStatementKind) {
    EXPECT_EQ(Exec("INSERT INTO b (k) VALUES (7)"), 1);
    EXPECT_EQ(Select("SELECT k, y FROM b WHERE k = 7"), "7,-");  // missing values are NULL
    EXPECT_EQ(Exec("INSERT INTO b SELECT k, x FROM a WHERE x IS NOT NULL"), 3);
    EXPECT_EQ(Exec("UPDATE b SET y = y + 1 WHERE k = 2"), 3);
    EXPECT_EQ(Exec("DELETE FROM b WHERE y > 100"), 3);
    EXPECT_EQ(Exec("UPDATE b SET k = k + 15"), 5);
    EXPECT_EQ(Select("SELECT k FROM b ORDER BY k"), "16; 16; 17; 19; 22");
    EXPECT_EQ(Exec("DELETE FROM b"), 5);
    EXPECT_EQ(Exec("CREATE TABLE d (k INTEGER)"), 0);
    Select("SELECT k FROM a");
    EXPECT_EQ(Provider->GetRowsAffected(), 4);
}

TEST_F(QueryProvider, UpdateAssignmentsSeeEarlierOnes) {
    Exec("UPDATE a SET k = x, x = k WHERE s = 'one'");
    EXPECT_EQ(Select("SELECT k, x FROM a WHERE s = 'one'"), "10,10");
}

TEST_F(QueryProvider, DeleteAndUpdateWhereConditionsNoTableAnswers) {
    Params.Clear();
    Exec("DELETE FROM b WHERE 1 = 0");
    EXPECT_EQ(Provider->GetRowsAffected(), 0);
    EXPECT_EQ(Exec("DELETE FROM b WHERE k IN (SELECT k FROM a WHERE x = 20)"), 2);
    EXPECT_EQ(Select("SELECT k FROM b ORDER BY k"), "1; 5");
}

TEST_F(QueryProvider, ParametersAreBoundEverywhereAndAgainAtEachPrepare) {
    SetSQL("SELECT k FROM a WHERE x = :v ORDER BY k");
    ASSERT_TRUE(Provider->ValidateSQL());
    ASSERT_EQ(Params.Count(), 1);
    for (const auto& [value, rows] : std::vector<std::pair<int, std::string>>{{20, "2; 4"}, {10, "1"}}) {
        Params.Items(0)->SetValue(Variant(value));
        ASSERT_TRUE(Provider->PreparePlan());
        ASSERT_TRUE(Provider->CreateResultSet());
        EXPECT_EQ(Rows(*Provider->GetResultSet()), rows);
    }
    // In a subquery, and in a condition on no table (which the COUNT(*) short cut must not skip).
    struct Case {
        const char* Sql;
        const char* Rows;
    } cases[] = {
        {"SELECT k FROM a WHERE k IN (SELECT k FROM b WHERE y > :v) ORDER BY k", "2"},
        {"SELECT COUNT(*) FROM a WHERE :v = 1", "0"},
    };
    const int values[] = {150, 2};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].Sql);
        SetSQL(cases[i].Sql);
        ASSERT_TRUE(Provider->ValidateSQL()) << Provider->GetErrorsAsText();
        Params.Items(0)->SetValue(Variant(values[i]));
        ASSERT_TRUE(Provider->PreparePlan());
        ASSERT_TRUE(Provider->CreateResultSet());
        EXPECT_EQ(Rows(*Provider->GetResultSet()), cases[i].Rows);
    }
    // VALUES and SET, executed twice with other values.
    for (const char* sql : {"INSERT INTO b VALUES (:k, :y + 1)", "UPDATE b SET y = :y WHERE k = :k"}) {
        SetSQL(sql);
        ASSERT_TRUE(Provider->ValidateSQL());
        for (int k : {8, 9}) {
            Params.ParamByName("k")->SetValue(Variant(k));
            Params.ParamByName("y")->SetValue(Variant(k * 10));
            ASSERT_TRUE(Provider->PreparePlan());
            ASSERT_TRUE(Provider->ExecSQL()) << sql;
        }
    }
    EXPECT_EQ(Select("SELECT k, y FROM b WHERE k > 7 ORDER BY k"), "8,80; 9,90");
}

TEST_F(QueryProvider, DuplicateColumnNames) {
    Select("SELECT k, k, k, a.k AS kk FROM a");
    EXPECT_EQ(Columns(), "k,k_1,k_1_2,kk");
}

TEST_F(QueryProvider, MaxRecords) {
    Provider->SetMaxRecords(3);
    EXPECT_EQ(Select("SELECT k FROM a"), "1; 2; 3");
    // The members of a UNION fill up to the limit each.
    EXPECT_EQ(Select("SELECT k FROM a UNION ALL SELECT k FROM b"), "1; 2; 3; 1; 2; 2");
    try {
        Select("SELECT k, COUNT(*) FROM a GROUP BY k");
        ADD_FAILURE() << "no limit error";
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 9645);
        EXPECT_NE(std::string(e.what()).find("Result set limit of 3 has been exceeded"), std::string::npos);
    }
}

TEST_F(QueryProvider, LiveResults) {
    Provider->SetRequestLive(true);
    struct Case {
        const char* Sql;
        bool Live;
    } cases[] = {
        {"SELECT k, x + 1 FROM a", true},
        {"SELECT a.k FROM a, b WHERE a.k = b.k", false},
        {"SELECT COUNT(*) FROM a", false},
        {"SELECT DISTINCT x FROM a", false},
        {"SELECT k FROM a UNION SELECT k FROM b", false},
        {"SELECT k FROM a WHERE k IN (SELECT k FROM b)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Sql);
        Select(c.Sql);
        EXPECT_EQ(Provider->GetIsLiveRequest(), c.Live);
    }
    Select("SELECT k, x + 1 FROM a");
    TOrqQueryDataset& rows = *Provider->GetResultSet();
    EXPECT_FALSE(rows.Fields().Fields(0)->ReadOnly());
    EXPECT_TRUE(rows.Fields().Fields(1)->ReadOnly());
}

TEST_F(QueryProvider, ErrorTexts) {
    struct Case {
        const char* Sql;
        const char* Text;
    } cases[] = {
        {"", "SQL statment is empty. "},
        {"SELECT k FROM nosuch", "Table not found - nosuch. "},
        {"CREATE TABLE a (k INTEGER)", "Table already exists: a. "},
        {"DROP TABLE nosuch", "Table not found: nosuch. "},
        {"GRANT x", "Unrecognised SQL statement type"},
        {"SELECT k FROM a; SELECT k FROM b", "Unrecognized tokens beyond end of statement:  Line 1, Character 18"},
        {"SELECT * FROM a, b JOIN b c ON a.k = c.k", "Join condition names a table outside its join"},
        {"SELECT k, COUNT(*) FROM a GROUP BY zz", "Group By column not found : zz. "},
        // One accumulator per column: a second aggregate would take the first one's value.
        {"SELECT SUM(k) + COUNT(x) FROM a", "A result column may hold only one aggregate function - SUM(k) + COUNT(x)"},
        {"SELECT MAX(k) - MIN(k) FROM a", "only one aggregate function"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Sql);
        EXPECT_NE(Prepare(c.Sql).find(c.Text), std::string::npos) << Prepare(c.Sql);
    }
    ASSERT_EQ(Prepare("SELECT k FROM a"), "");
    EXPECT_FALSE(Provider->ExecSQL());
    EXPECT_EQ(Provider->GetErrorsAsText(), "SQL statement cannot be executed by ExecSQL. ");
}

TEST_F(QueryProvider, SchemaStatementsRestoreTheConnection) {
    ASSERT_TRUE(DataBase->Connected());
    ASSERT_FALSE(DataBase->Exclusive());
    EXPECT_EQ(Exec("CREATE INDEX ik ON a (k)"), 0);
    EXPECT_EQ(Exec("ALTER TABLE a ADD z INTEGER"), 0);
    EXPECT_TRUE(DataBase->Connected());
    EXPECT_FALSE(DataBase->Exclusive());
    EXPECT_EQ(Select("SELECT k, z FROM a WHERE k = 1"), "1,-");
    EXPECT_EQ(Exec("DROP INDEX a ik"), 0);
    EXPECT_EQ(Exec("DROP TABLE b"), 0);
    EXPECT_NE(Prepare("SELECT * FROM b").find("Table not found - b"), std::string::npos);
    EXPECT_TRUE(DataBase->Connected());
    EXPECT_FALSE(DataBase->Exclusive());
}

TEST_F(QueryProvider, NestedResultTablesAreKeptForTheNextRunAndDroppedWithTheText) {
    const std::string sql = "SELECT k FROM a WHERE k IN (SELECT k FROM b) UNION SELECT k FROM b";
    const std::string rows = Select(sql);
    auto resultTables = [&] {
        TStringList names;
        DataBase->GetTableNames(&names, true);
        return names.Count();
    };
    EXPECT_EQ(resultTables(), 3) << "the statement, its subquery and its UNION member";
    // A second run of the same items refills the same tables.
    ASSERT_TRUE(Provider->PreparePlan());
    ASSERT_TRUE(Provider->CreateResultSet());
    EXPECT_EQ(Rows(*Provider->GetResultSet()), rows);
    EXPECT_EQ(resultTables(), 3);
    // A new text drops the nested items with their tables; the first item's table is left to
    // the query component.
    SetSQL("SELECT k FROM a");
    EXPECT_EQ(resultTables(), 1);
}

}  // namespace
}  // namespace ostra
namespace ostra {
namespace {

TEST_F(QueryProvider, SchemaStatementsInsideATransactionFail) {
    DataBase->StartTransaction();
    for (const char* sql : {"ALTER TABLE a ADD z INTEGER", "CREATE INDEX ik ON a (k)", "DROP TABLE b"}) {
        SCOPED_TRACE(sql);
        ASSERT_EQ(Prepare(sql), "");
        try {
            Provider->ExecSQL();
            ADD_FAILURE() << "no error";
        } catch (const EOrqDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode, 10122);
        }
        EXPECT_TRUE(DataBase->Connected());
        EXPECT_FALSE(DataBase->Exclusive());
        EXPECT_TRUE(DataBase->InTransaction());
    }
    DataBase->Rollback();
    EXPECT_EQ(Select("SELECT COUNT(*) FROM b"), "4");
}

TEST_F(QueryProvider, LiveResultBridgeMapsPlainColumnsBackToTheTable) {
    Provider->SetRequestLive(true);
    Select("SELECT x, k + 1 AS n, s FROM a");
    ASSERT_TRUE(Provider->GetIsLiveRequest());
    TOrqDatasetBridge bridge;
    Provider->SetLiveResultBridge(bridge);
    std::string mapping;
    for (int i = 0; i < bridge.GetInternalFields().Count(); ++i) {
        const TInternalFieldItem* f = bridge.GetInternalFields().GetIndex(i);
        mapping += (i ? "," : "") + f->FieldName() + ">" + f->SourceField();
    }
    EXPECT_EQ(mapping, "k>-1,x>x,s>s");
}

}  // namespace
}  // namespace ostra
namespace ostra {
namespace {

TEST_F(QueryProvider, CorrelatedSubqueriesInWrites) {
    EXPECT_EQ(Exec("UPDATE a SET x = (SELECT MAX(y) FROM b WHERE b.k = a.k) WHERE k < 3"), 2);
    EXPECT_EQ(Select("SELECT k, x FROM a ORDER BY k"), "1,100; 2,201; 3,-; 4,20");
    EXPECT_EQ(Exec("DELETE FROM a WHERE EXISTS (SELECT * FROM b WHERE b.k = a.k AND b.y > 150)"), 1);
    EXPECT_EQ(Select("SELECT k FROM a ORDER BY k"), "1; 3; 4");
}

TEST_F(QueryProvider, DiskTableBeforeInMemoryTableOfTheSameName) {
    EXPECT_EQ(Exec("CREATE TEMPORARY TABLE a (k INTEGER)"), 0);
    EXPECT_EQ(Select("SELECT k FROM a ORDER BY k"), "1; 2; 3; 4");
    EXPECT_EQ(Select("SELECT k FROM TEMPORARY a"), "");
    EXPECT_EQ(Exec("DROP TABLE TEMPORARY a"), 0);
    EXPECT_EQ(Select("SELECT COUNT(*) FROM a"), "4");
}

}  // namespace
}  // namespace ostra
