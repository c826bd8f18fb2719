// The query component: SELECT opened and other statements executed (and each refused the other
// way), rows affected, parameters rebuilt from the text or kept, preparation kept for the same
// text, the master source reopening the query, live results writing back to the source table
// (and refusing a row changed meanwhile), the statement's own transaction (commit, rollback of a
// failed INSERT, none on "MEMORY"), schema statements refused inside a transaction, and the
// component text of the SQL and the parameters. Each test runs on a file and on "MEMORY".
#include <gtest/gtest.h>

#include <functional>

#include "engine/components/orqTable.h"
#include "engine/storage/orqErrors.h"
#include "host/ComponentText.h"
#include "host/db/DataSource.h"
#include "support/orqCursorTest.h"
#include "support/orqQueryTest.h"

namespace ostra::componentstest {
namespace {

using Rows = std::vector<std::string>;

class QueryTest : public TCursorTest {
protected:
    // People: ID 1..5, NAME "ann".."eve", AGE = ID * 10. Orders: two per person (ITEM "<id>a",
    // "<id>b").
    void SetUp() override {
        TCursorTest::SetUp();
        Create("People", {{"ID", ftInteger}, {"NAME", ftString, 16}, {"AGE", ftInteger}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}});
        Create("Orders", {{"ID", ftInteger}, {"PERSON", ftInteger}, {"ITEM", ftString, 8}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}});
        const char* names[] = {"ann", "bob", "cid", "dan", "eve"};
        for (int id = 1; id <= 5; ++id) {
            Exec("INSERT INTO People VALUES (" + std::to_string(id) + ", '" + names[id - 1] + "', " +
                 std::to_string(id * 10) + ")");
            for (int k = 0; k < 2; ++k)
                Exec("INSERT INTO Orders VALUES (" + std::to_string(id * 10 + k) + ", " + std::to_string(id) + ", '" +
                     std::to_string(id) + char('a' + k) + "')");
        }
    }
    int Exec(const std::string& Sql) { return ExecSql(*DataBase, Sql); }
    Rows Select(const std::string& Sql) { return SelectRows(*DataBase, Sql); }
    std::unique_ptr<TOrqQuery> Query(const std::string& Sql) { return MakeQuery(*DataBase, Sql); }
};

TEST(QueryWithoutDatabase, EveryRunRaises10112) {
    TOrqQuery query(nullptr);
    query.SQL()->SetText("SELECT * FROM t");
    EXPECT_EQ(ErrorCode([&] { query.Prepare(); }), 10112);
    EXPECT_EQ(ErrorCode([&] { query.Open(); }), 10112);
    EXPECT_EQ(ErrorCode([&] { query.ExecSQL(); }), 10112);
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(query.RowsAffected(), 0);
}

TEST_P(QueryTest, SelectOpensOtherStatementsExecute) {
    auto query = Query("SELECT ID, NAME FROM People WHERE AGE > 20 ORDER BY ID DESC");
    query->Open();
    EXPECT_EQ(ReadRows(*query), (Rows{"5|eve", "4|dan", "3|cid"}));
    EXPECT_EQ(query->RowsAffected(), 3);
    EXPECT_FALSE(query->CanModify()) << "no live result asked for";
    query->Close();
    EXPECT_TRUE(query->Prepared()) << "closing keeps the statement prepared";
    query->Open();
    EXPECT_EQ(ReadRows(*query), (Rows{"5|eve", "4|dan", "3|cid"})) << "a reopen runs the kept statement";
    query->Close();

    // Each kind refused the other way, and the refused statement does nothing.
    auto update = Query("UPDATE People SET AGE = 0");
    EXPECT_EQ(ErrorCode([&] { update->Open(); }), 9645);
    EXPECT_NE(ErrorText([&] { update->Open(); }).find("SQL statement cannot be opened (execute by ExecSQL)"),
              std::string::npos);
    EXPECT_EQ(Select("SELECT COUNT(*) FROM People WHERE AGE = 0"), Rows{"0"});
    auto select = Query("SELECT * FROM People");
    EXPECT_EQ(ErrorCode([&] { select->ExecSQL(); }), 9645);
    EXPECT_NE(ErrorText([&] { select->ExecSQL(); }).find("SQL statement cannot be executed by ExecSQL"),
              std::string::npos);
    auto bad = Query("SELECT FROM WHERE");
    EXPECT_EQ(ErrorCode([&] { bad->Open(); }), 9645);
    EXPECT_FALSE(bad->Active());
    for (const char* noTable : {"SELECT 1 + 1", "SELECT ID FROM"}) {
        auto query = Query(noTable);
        EXPECT_NE(ErrorText([&] { query->Open(); }).find("Expected table name"), std::string::npos) << noTable;
    }
    auto missing = Query("SELECT * FROM Nowhere");
    EXPECT_NE(ErrorText([&] { missing->Open(); }).find("Table not found - "), std::string::npos);

    // Rows affected by each kind of statement.
    EXPECT_EQ(Exec("INSERT INTO People VALUES (6, 'fay', 60)"), 1);
    EXPECT_EQ(Exec("UPDATE People SET AGE = AGE + 1 WHERE ID > 3"), 3);
    EXPECT_EQ(Exec("DELETE FROM Orders WHERE PERSON = 2"), 2);
    EXPECT_EQ(Select("SELECT ID, AGE FROM People WHERE ID >= 3 ORDER BY ID"), (Rows{"3|30", "4|41", "5|51", "6|61"}));
}

TEST_P(QueryTest, RefreshReadsTheRowsAgain) {
    for (const char* sql : {"SELECT ID FROM Orders WHERE PERSON = 1 ORDER BY ID",
                            "SELECT ID FROM Orders WHERE PERSON IN (SELECT ID FROM People WHERE AGE = 10) ORDER BY ID"}) {
        auto query = Query(sql);
        query->Open();
        EXPECT_EQ(ReadRows(*query), (Rows{"10", "11"})) << sql;
        Exec("INSERT INTO Orders VALUES (12, 1, 'new')");
        query->Refresh();
        query->First();
        EXPECT_EQ(ReadRows(*query), (Rows{"10", "11", "12"})) << sql;
        query->Refresh();
        query->First();
        EXPECT_EQ(ReadRows(*query), (Rows{"10", "11", "12"})) << sql;
        Exec("DELETE FROM Orders WHERE ID = 12");
    }
}

TEST_P(QueryTest, MaxRecordsLimitsTheResult) {
    auto query = Query("SELECT ID FROM People ORDER BY ID");
    query->SetMaxRecords(2);
    query->Open();
    EXPECT_EQ(ReadRows(*query).size(), 2u);
    query->Close();
    query->SetMaxRecords(0);
    query->Open();
    EXPECT_EQ(ReadRows(*query).size(), 5u);
}

TEST_P(QueryTest, ParametersRebuiltOrKept) {
    auto query = Query("SELECT NAME FROM People WHERE AGE BETWEEN :lo AND :hi ORDER BY NAME");
    ASSERT_EQ(query->ParamCount(), 2);
    EXPECT_EQ(query->Params()[0]->Name(), "lo");
    query->ParamByName("lo")->SetAsInteger(20);
    query->ParamByName("hi")->SetAsInteger(30);
    query->Open();
    EXPECT_EQ(ReadRows(*query), (Rows{"bob", "cid"}));
    // A new value is bound at the next preparation.
    query->Close();
    query->ParamByName("hi")->SetAsInteger(50);
    query->Open();
    EXPECT_EQ(ReadRows(*query), (Rows{"bob", "cid", "dan", "eve"}));
    query->Close();

    // The same text keeps the preparation; another text drops it.
    query->Prepare();
    TStringList same;
    same.SetText(query->SQL()->Text());
    query->SetSQL(&same);
    EXPECT_TRUE(query->Prepared());
    query->SQL()->SetText("SELECT NAME FROM People WHERE ID = :id");
    EXPECT_FALSE(query->Prepared());
    ASSERT_EQ(query->ParamCount(), 1) << "ParamCheck rebuilds the parameters from the text";
    EXPECT_EQ(query->Params()[0]->Name(), "id");

    // Without ParamCheck the parameters stay as they were.
    query->SetParamCheck(false);
    query->Params()[0]->SetAsInteger(4);
    query->SQL()->SetText("SELECT NAME FROM People WHERE ID = :id OR ID = :other");
    ASSERT_EQ(query->ParamCount(), 1);
    EXPECT_EQ(query->Params()[0]->AsInteger(), 4);

    // Parameters outside the WHERE clause are bound too, and an INSERT takes new values at
    // every execution of the prepared statement.
    auto insert = Query("INSERT INTO Orders (ID, PERSON, ITEM) VALUES (:id, :person, :item)");
    insert->Prepare();
    for (int id : {100, 101}) {
        insert->ParamByName("id")->SetAsInteger(id);
        insert->ParamByName("person")->SetAsInteger(1);
        insert->ParamByName("item")->SetAsString("x" + std::to_string(id));
        insert->ExecSQL();
        EXPECT_EQ(insert->RowsAffected(), 1);
    }
    EXPECT_EQ(Select("SELECT ID, ITEM FROM Orders WHERE ID >= 100 ORDER BY ID"), (Rows{"100|x100", "101|x101"}));
}

// A prepared INSERT run again keeps its columns and their fields: the values land in the named
// columns at every run, after a refused row, and after the text names other columns.
TEST_P(QueryTest, APreparedInsertRunAgainFillsItsNamedColumns) {
    auto insert = Query("INSERT INTO Orders (ITEM, PERSON, ID) VALUES (:item, :person, :id)");
    insert->Prepare();
    auto run = [&](const std::string& Item, int Person, int ID) {
        insert->ParamByName("item")->SetAsString(Item);
        insert->ParamByName("person")->SetAsInteger(Person);
        insert->ParamByName("id")->SetAsInteger(ID);
        insert->ExecSQL();
    };
    run("x100", 1, 100);
    run("x101", 2, 101);
    EXPECT_EQ(ErrorCode([&] { run("dup", 3, 100); }), 9729) << "the key is taken";
    run("x102", 3, 102);
    EXPECT_EQ(insert->RowsAffected(), 1);
    insert->SQL()->SetText("INSERT INTO Orders (PERSON, ID) VALUES (:person, :id)");
    for (int id : {103, 104}) {
        insert->ParamByName("person")->SetAsInteger(id - 100);
        insert->ParamByName("id")->SetAsInteger(id);
        insert->ExecSQL();
    }
    EXPECT_EQ(Select("SELECT ID, PERSON, ITEM FROM Orders WHERE ID >= 100 ORDER BY ID"),
              (Rows{"100|1|x100", "101|2|x101", "102|3|x102", "103|3|NULL", "104|4|NULL"}));
}

TEST_P(QueryTest, MasterSourceReopensTheQuery) {
    TOrqTable master(nullptr);
    master.SetDataBase(DataBase.get());
    master.SetTableName("People");
    master.SetMemory(Memory());
    master.Open();
    TDataSource source(nullptr);
    source.SetDataSet(&master);
    auto detail = Query("SELECT ITEM FROM Orders WHERE PERSON = :ID ORDER BY ITEM");
    detail->SetDataSource(&source);
    detail->Open();
    EXPECT_EQ(ReadRows(*detail), (Rows{"1a", "1b"}));
    master.Next();
    detail->First();
    EXPECT_EQ(ReadRows(*detail), (Rows{"2a", "2b"}));
    master.Last();
    detail->First();
    EXPECT_EQ(ReadRows(*detail), (Rows{"5a", "5b"}));
    EXPECT_FALSE(detail->Params()[0]->Bound()) << "the master's value leaves the parameter unbound";
    // A link back to the master is refused.
    TDataSource back(nullptr);
    back.SetDataSet(detail.get());
    EXPECT_THROW(detail->SetDataSource(&back), EDatabaseError);
    detail->Close();
}

TEST_P(QueryTest, LiveResultWritesBackToTheSource) {
    auto query = Query("SELECT ID, NAME, AGE * 2 AS TWICE FROM People WHERE AGE >= 20 ORDER BY ID");
    query->SetRequestLive(true);
    query->Open();
    ASSERT_TRUE(query->CanModify());
    EXPECT_FALSE(query->FieldByName("NAME")->ReadOnly());
    EXPECT_TRUE(query->FieldByName("TWICE")->ReadOnly()) << "a computed column";

    // An edit reaches the source row.
    ASSERT_EQ(query->FieldByName("ID")->AsInteger(), 2);
    query->Edit();
    query->FieldByName("NAME")->SetAsString("bobby");
    query->Post();
    EXPECT_EQ(Select("SELECT NAME FROM People WHERE ID = 2"), Rows{"bobby"});
    // The row still stands for its record: a second edit works.
    query->Edit();
    query->FieldByName("NAME")->SetAsString("rob");
    query->Post();
    EXPECT_EQ(Select("SELECT NAME FROM People WHERE ID = 2"), Rows{"rob"});

    // An insert adds a source row, a delete removes one.
    query->Append();
    query->FieldByName("ID")->SetAsInteger(9);
    query->FieldByName("NAME")->SetAsString("new");
    query->Post();
    EXPECT_EQ(Select("SELECT NAME, AGE FROM People WHERE ID = 9"), Rows{"new|NULL"});
    query->Edit();
    query->FieldByName("NAME")->SetAsString("newer");
    query->Post();
    EXPECT_EQ(Select("SELECT NAME FROM People WHERE ID = 9"), Rows{"newer"});
    query->First();
    query->Next();  // ID 3
    ASSERT_EQ(query->FieldByName("ID")->AsInteger(), 3);
    query->Delete();
    EXPECT_EQ(Select("SELECT COUNT(*) FROM People WHERE ID = 3"), Rows{"0"});

    // A row another writer changed meanwhile refuses the edit and the delete; the other
    // writer's value stays.
    ASSERT_EQ(query->FieldByName("ID")->AsInteger(), 4);
    Exec("UPDATE People SET NAME = 'other' WHERE ID = 4");
    query->Edit();
    query->FieldByName("NAME")->SetAsString("mine");
    EXPECT_EQ(ErrorCode([&] { query->Post(); }), 8708);
    query->Cancel();
    EXPECT_EQ(ErrorCode([&] { query->Delete(); }), 8708);
    EXPECT_EQ(Select("SELECT NAME FROM People WHERE ID = 4"), Rows{"other"});
    query->Close();

    // Joins, aggregates, DISTINCT and UNION give read-only results.
    for (const char* sql : {"SELECT p.NAME, o.ITEM FROM People p JOIN Orders o ON o.PERSON = p.ID",
                            "SELECT COUNT(*) FROM People", "SELECT DISTINCT AGE FROM People",
                            "SELECT ID FROM People UNION SELECT ID FROM Orders"}) {
        auto readOnly = Query(sql);
        readOnly->SetRequestLive(true);
        readOnly->Open();
        EXPECT_FALSE(readOnly->CanModify()) << sql;
    }
}

// Every column a join condition names must belong to one of the joined tables; the join's
// providers look each one up there.
TEST_P(QueryTest, AJoinConditionOnAnUnknownColumnIsRefused) {
    for (const char* sql : {"SELECT p.NAME FROM People p INNER JOIN Orders o ON p.ID = oESC",
                            "SELECT p.NAME FROM People p INNER JOIN Orders o ON NOSUCH = o.PERSON",
                            "SELECT p.NAME FROM People p LEFT JOIN Orders o ON p.ID = o.NOSUCH"})
        EXPECT_NE(ErrorText([&] { Select(sql); }).find("Field not found in join tables: "), std::string::npos) << sql;
    EXPECT_NE(ErrorText([&] { Select("SELECT NAME FROM People p JOIN Orders o ON ID = PERSON"); })
                  .find("Field name is ambiguous: ID"),
              std::string::npos);
    EXPECT_EQ(Select("SELECT NAME, ITEM FROM People p INNER JOIN Orders o ON p.ID = PERSON WHERE AGE = 20 ORDER BY ITEM"),
              (Rows{"bob|2a", "bob|2b"}))
        << "unqualified columns of either side";
}

TEST_P(QueryTest, SchemaStatements) {
    const std::string temporary = Memory() ? "TEMPORARY " : "";
    EXPECT_EQ(Exec("CREATE TABLE " + temporary + "Extra (A INTEGER, B VARCHAR(10), PRIMARY KEY (A))"), 0);
    EXPECT_EQ(Exec("INSERT INTO Extra (A) VALUES (1)"), 1);
    EXPECT_EQ(Select("SELECT A, B FROM Extra"), Rows{"1|NULL"}) << "missing values are NULL";
    EXPECT_NE(ErrorText([&] { Exec("CREATE TABLE " + temporary + "Extra (A INTEGER)"); }).find("Table already exists: "),
              std::string::npos);
    EXPECT_EQ(Exec("DROP TABLE " + temporary + "Extra"), 0);
    EXPECT_NE(ErrorText([&] { Exec("DROP TABLE " + temporary + "Extra"); }).find("Table not found"), std::string::npos);
}

// A database that counts the transactions started on it.
class TCountingDataBase : public TTestDataBase {
public:
    void StartTransaction() override {
        ++Starts;
        TTestDataBase::StartTransaction();
    }
    int Starts = 0;
};

TEST_P(QueryTest, OwnTransactionOnDiskOnly) {
    TCountingDataBase database;
    database.SetDataBaseName(Memory() ? std::string(C_MEMORYDATABASENAME) : Dir.File("count.orq"));
    if (!Memory()) database.CreateDatabase();
    database.SetConnected(true);
    CreateTable(database, "T", {{"ID", ftInteger}}, {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}}, Memory());
    CreateTable(database, "S", {{"ID", ftInteger}}, {}, Memory());
    for (int id : {1, 2, 3, 1}) ExecSql(database, "INSERT INTO S VALUES (" + std::to_string(id) + ")");
    const int inserts = database.Starts;
    EXPECT_EQ(inserts, Memory() ? 0 : 4) << "each INSERT in its own transaction on disk, none in memory";
    EXPECT_FALSE(database.InTransaction());

    // INSERT ... SELECT fails at the second 1: no row of it stays.
    EXPECT_ANY_THROW(ExecSql(database, "INSERT INTO T SELECT ID FROM S"));
    EXPECT_FALSE(database.InTransaction());
    if (!Memory()) EXPECT_EQ(SelectRows(database, "SELECT COUNT(*) FROM T"), Rows{"0"});

    // Inside the caller's transaction no transaction of its own: the caller's stays open and
    // decides.
    if (Memory()) return;
    database.StartTransaction();
    const int starts = database.Starts;
    EXPECT_EQ(ExecSql(database, "INSERT INTO T VALUES (7)"), 1);
    EXPECT_EQ(database.Starts, starts);
    EXPECT_TRUE(database.InTransaction());
    EXPECT_EQ(ErrorCode([&] { ExecSql(database, "CREATE TABLE U (A INTEGER)"); }), 10122);
    database.Rollback();
    EXPECT_EQ(SelectRows(database, "SELECT COUNT(*) FROM T"), Rows{"0"});
}

TEST_P(QueryTest, ComponentTextHoldsTheTextAndTheParameters) {
    auto query = Query("SELECT NAME FROM People\nWHERE ID = :id");
    query->SetName("Q");
    query->SetMaxRecords(7);
    query->ParamByName("id")->SetAsInteger(3);
    // A reference to a database outside the written component could not be read back.
    query->SetDatabase(nullptr);
    const std::string text = ComponentToText(query.get());
    EXPECT_NE(text.find("SQL.Strings"), std::string::npos) << text;
    EXPECT_NE(text.find("ParamData"), std::string::npos) << text;
    EXPECT_EQ(text.find("ParamCheck"), std::string::npos) << "the default is not written: " << text;

    TOrqQuery copy(nullptr);
    TextToComponent(text, &copy);
    EXPECT_EQ(copy.SQL()->Text(), query->SQL()->Text());
    EXPECT_EQ(copy.MaxRecords(), 7);
    ASSERT_EQ(copy.ParamCount(), 1);
    EXPECT_EQ(copy.Params()[0]->Name(), "id");
    EXPECT_EQ(copy.Params()[0]->DataType(), ftInteger);

    auto plain = Query("SELECT NAME FROM People");
    plain->SetDatabase(nullptr);
    EXPECT_EQ(ComponentToText(plain.get()).find("ParamData"), std::string::npos) << "no parameter, no ParamData";
}

TEST_P(QueryTest, AReopenedStatementRunsWithThatRunsParametersAndRows) {
    auto byId = Query("SELECT NAME FROM People WHERE ID = :id");
    for (const auto& [id, rows] : std::vector<std::pair<int, Rows>>{{1, {"ann"}}, {3, {"cid"}}, {9, {}}, {2, {"bob"}}}) {
        byId->Params()[0]->SetAsInteger(id);
        byId->Open();
        EXPECT_EQ(ReadRows(*byId), rows) << "id " << id;
        byId->Close();
        EXPECT_TRUE(byId->Prepared());
    }
    // A subquery is filled again at every run: the rows it reads changed in between.
    auto buyers = Query("SELECT NAME FROM People WHERE ID IN (SELECT PERSON FROM Orders WHERE ID < :below) ORDER BY NAME");
    buyers->Params()[0]->SetAsInteger(30);
    buyers->Open();
    EXPECT_EQ(ReadRows(*buyers), (Rows{"ann", "bob"}));
    buyers->Close();
    Exec("DELETE FROM Orders WHERE PERSON = 1");
    buyers->Params()[0]->SetAsInteger(40);
    buyers->Open();
    EXPECT_EQ(ReadRows(*buyers), (Rows{"bob", "cid"}));
    buyers->Close();
    // A prepared DELETE with a subquery run twice reads the subquery anew each time.
    auto purge = Query("DELETE FROM Orders WHERE PERSON IN (SELECT ID FROM People WHERE AGE = :age)");
    purge->Params()[0]->SetAsInteger(20);
    purge->ExecSQL();
    EXPECT_EQ(purge->RowsAffected(), 2);
    purge->Params()[0]->SetAsInteger(30);
    purge->ExecSQL();
    EXPECT_EQ(purge->RowsAffected(), 2);
    EXPECT_EQ(Select("SELECT COUNT(*) FROM Orders"), Rows{"4"});
    // A prepared INSERT keeps its target open; the rows reach a statement opened later.
    auto insert = Query("INSERT INTO People VALUES (:id, :name, 70)");
    for (int id : {6, 7}) {
        insert->Params()[0]->SetAsInteger(id);
        insert->Params()[1]->SetAsString("p" + std::to_string(id));
        insert->ExecSQL();
    }
    EXPECT_EQ(Select("SELECT NAME FROM People WHERE AGE = 70 ORDER BY NAME"), (Rows{"p6", "p7"}));
}

TEST_P(QueryTest, AReopenRebindsItsFilterAndRefillsItsKeptResult) {
    // One filter over runs whose parameter changes type and NULL-ness, rows changed in between
    // (by a statement and through a live result), and results above and below the size that is
    // emptied row by row.
    auto byAge = Query("SELECT ID, NAME FROM People WHERE AGE >= :low ORDER BY ID DESC");
    auto run = [&](const std::function<void(TParam&)>& Bind) {
        Bind(*byAge->Params()[0]);
        byAge->Open();
        Rows rows = ReadRows(*byAge);
        byAge->Close();
        return rows;
    };
    EXPECT_EQ(run([](TParam& p) { p.SetAsInteger(40); }), (Rows{"5|eve", "4|dan"}));
    EXPECT_EQ(run([](TParam& p) { p.SetAsFloat(25.5); }), (Rows{"5|eve", "4|dan", "3|cid"}));
    EXPECT_EQ(run([](TParam& p) { p.Clear(); }), Rows{}) << "NULL matches no row";
    Exec("UPDATE People SET NAME = 'edd' WHERE ID = 5");
    EXPECT_EQ(run([](TParam& p) { p.SetAsInteger(50); }), Rows{"5|edd"});

    auto insert = Query("INSERT INTO People VALUES (:id, 'many', 1)");
    for (int id = 100; id < 200; ++id) {
        insert->Params()[0]->SetAsInteger(id);
        insert->ExecSQL();
    }
    Rows rows = run([](TParam& p) { p.SetAsInteger(1); });
    ASSERT_EQ(rows.size(), 105u);
    EXPECT_EQ(rows.front(), "199|many");
    EXPECT_EQ(rows.back(), "1|ann");
    EXPECT_EQ(byAge->RowsAffected(), 105);
    EXPECT_EQ(run([](TParam& p) { p.SetAsInteger(45); }), (Rows{"5|edd"})) << "after a large result, a small one";
    EXPECT_EQ(run([](TParam& p) { p.SetAsInteger(0); }).size(), 105u);
    Exec("DELETE FROM People WHERE ID >= 100");

    auto live = Query("SELECT ID, NAME FROM People WHERE AGE <= :high ORDER BY ID");
    live->SetRequestLive(true);
    for (int high : {20, 30}) {
        live->Params()[0]->SetAsInteger(high);
        live->Open();
        ASSERT_TRUE(live->CanModify());
        live->Last();
        live->Edit();
        live->FieldByName("NAME")->SetAsString(live->FieldByName("NAME")->AsString() + "!");
        live->Post();
        live->Close();
    }
    live->Open();
    EXPECT_EQ(ReadRows(*live), (Rows{"1|ann", "2|bob!", "3|cid!"})) << "the edits of both runs";
    live->Close();
    EXPECT_EQ(run([](TParam& p) { p.SetAsInteger(10); }), (Rows{"5|edd", "4|dan", "3|cid!", "2|bob!", "1|ann"}));
}

TEST_P(QueryTest, AQueryClosedBetweenRunsLeavesNoResultTableBehind) {
    auto resultTables = [&] {
        TStringList names;
        DataBase->GetTableNames(&names, true);
        int count = 0;
        for (int i = 0; i < names.Count(); ++i) count += names.Strings(i).rfind("$Q", 0) == 0 ? 1 : 0;
        return count;
    };
    const int before = resultTables();
    {
        auto query = Query("SELECT NAME FROM People WHERE ID = :id");
        auto run = [&](int Id) {
            query->Params()[0]->SetAsInteger(Id);
            query->Open();
            Rows rows = ReadRows(*query);
            query->Close();
            return rows;
        };
        EXPECT_EQ(run(1), Rows{"ann"});
        query->FieldDefs().Update();
        EXPECT_EQ(query->FieldDefs().Count(), 1) << "the definitions of a closed query";
        query->SetDatabase(nullptr);
        query->SetDatabase(DataBase.get());
        EXPECT_EQ(run(2), Rows{"bob"}) << "after the database was taken away and given back";
        if (!Memory()) {
            DataBase->SetConnected(false);
            DataBase->SetConnected(true);
            EXPECT_EQ(run(3), Rows{"cid"}) << "after a disconnection dropped the result table";
        }
        query->SQL()->SetText("SELECT AGE FROM People WHERE ID = 4");
        query->Open();
        EXPECT_EQ(ReadRows(*query), Rows{"40"});
        query->Close();
        EXPECT_EQ(resultTables(), before + 1) << "the table of the earlier text went";
    }
    EXPECT_EQ(resultTables(), before) << "and the last one with the query";
}

TEST_P(QueryTest, AStatementKeptPreparedFollowsASchemaChange) {
    if (Memory()) GTEST_SKIP() << "in-memory tables are not restructured";
    auto all = Query("SELECT * FROM People WHERE ID = 1");
    all->Open();
    EXPECT_EQ(ReadRows(*all), Rows{"1|ann|10"});
    all->Close();
    auto insert = Query("INSERT INTO People VALUES (6, 'fay', 60)");
    insert->ExecSQL();
    Exec("ALTER TABLE People ADD EMAIL VARCHAR(20)");
    all->Open();
    EXPECT_EQ(ReadRows(*all), Rows{"1|ann|10|NULL"}) << "the new column shows";
    all->Close();
    Exec("DELETE FROM People WHERE ID = 6");
    insert->ExecSQL();
    EXPECT_EQ(Select("SELECT NAME, EMAIL FROM People WHERE ID = 6"), Rows{"fay|NULL"});
    Exec("ALTER TABLE People DROP AGE");
    all->Open();
    EXPECT_EQ(ReadRows(*all), Rows{"1|ann|NULL"}) << "the dropped column is gone";
    all->Close();
    // The INSERT's values go to the columns the table has now, by position.
    Exec("DELETE FROM People WHERE ID = 6");
    insert->ExecSQL();
    EXPECT_EQ(Select("SELECT * FROM People WHERE ID = 6"), Rows{"6|fay|60"});
}

// Closed statements kept prepared hold their tables open for the next run; a table dropped or
// renamed in the same connection is let go of first, and the statements then report the missing
// table. (A file is connected exclusively from the start: a schema statement on a shared
// connection reconnects, which closes every table anyway.)
TEST_P(QueryTest, TablesOfClosedPreparedStatementsCanBeDropped) {
    if (!Memory()) {
        DataBase->SetConnected(false);
        DataBase->SetExclusive(true);
        DataBase->SetConnected(true);
    }
    auto drop = [&](const std::string& Name) {
        if (Memory())
            Exec("DROP TABLE TEMPORARY " + Name);
        else
            DataBase->DeleteTable(Name, false);
    };
    auto join = Query("SELECT p.NAME, o.ITEM FROM People p JOIN Orders o ON o.PERSON = p.ID WHERE p.ID = :id");
    join->Params()[0]->SetAsInteger(2);
    join->Open();
    EXPECT_EQ(ReadRows(*join), (Rows{"bob|2a", "bob|2b"}));
    join->Close();
    auto insert = Query("INSERT INTO Orders VALUES (:id, 1, 'x')");
    insert->Params()[0]->SetAsInteger(99);
    insert->ExecSQL();
    auto open = Query("SELECT NAME FROM People");
    open->Open();
    EXPECT_EQ(ErrorCode([&] { drop("People"); }), 10053) << "an open result keeps its source";
    open->Close();
    drop("Orders");
    if (!Memory()) {
        DataBase->RenameTable("People", "Persons");
        DataBase->RenameTable("Persons", "People");
    }
    drop("People");
    EXPECT_NE(ErrorText([&] { join->Open(); }).find("Table not found"), std::string::npos);
    EXPECT_NE(ErrorText([&] { insert->ExecSQL(); }).find("Table not found"), std::string::npos);
}

INSTANTIATE_CURSOR_TESTS(QueryTest);

// Another connection on the same file between two runs of a statement kept prepared.
TEST(QueryTwoProcessTest, AReopenSeesOtherConnectionsCommitsAndSchemaChanges) {
    test::TempDir dir;
    const std::string path = dir.File("shared.orq");
    auto database = MakeDataBase(path);
    ExecSql(*database, "CREATE TABLE T (ID INTEGER, NAME VARCHAR(10), PRIMARY KEY (ID))");
    ExecSql(*database, "INSERT INTO T VALUES (1, 'one')");
    auto inChild = [&](const std::vector<std::string>& Statements) {
        test::Child child([&](test::Child&) {
            auto other = ConnectDataBase(path);
            for (const std::string& sql : Statements) ExecSql(*other, sql);
            return 0;
        });
        return child.Wait();
    };
    auto query = MakeQuery(*database, "SELECT * FROM T WHERE ID >= :low ORDER BY ID");
    query->Params()[0]->SetAsInteger(1);
    query->Open();
    EXPECT_EQ(ReadRows(*query), Rows{"1|one"});
    query->Close();
    ASSERT_EQ(inChild({"INSERT INTO T VALUES (2, 'two')"}), 0);
    query->Open();
    EXPECT_EQ(ReadRows(*query), (Rows{"1|one", "2|two"})) << "the other connection's commit shows";
    query->Close();
    // A restructure needs the file to itself: this connection lets go in between.
    database->SetConnected(false);
    ASSERT_EQ(inChild({"ALTER TABLE T ADD NOTE VARCHAR(5)", "UPDATE T SET NOTE = 'x' WHERE ID = 2"}), 0);
    query->Open();
    EXPECT_EQ(ReadRows(*query), (Rows{"1|one|NULL", "2|two|x"})) << "the new column shows";
    query->Close();
    database->SetConnected(false);
    ASSERT_EQ(inChild({"DROP TABLE T"}), 0);
    EXPECT_THROW(query->Open(), EDatabaseError);
    EXPECT_FALSE(query->Active());
    database->SetConnected(false);
    ASSERT_EQ(inChild({"CREATE TABLE T (ID INTEGER, PRIMARY KEY (ID))", "INSERT INTO T VALUES (5)"}), 0);
    query->Open();
    EXPECT_EQ(ReadRows(*query), Rows{"5"}) << "a table made anew under the name";
}

}  // namespace
}  // namespace ostra::componentstest
