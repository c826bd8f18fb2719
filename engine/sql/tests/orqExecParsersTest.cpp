// The INSERT, UPDATE and DELETE parsers on their own: the parsed elements, every syntax error
// with its position, the column validations against a table fixture, parameter binding, and
// the hand-over of INSERT ... SELECT and of WHERE parts to the driver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/sql/orqExecParsers.h"
#include "engine/sql/orqPreParser.h"
#include "engine/sql/tests/support/TestExprParsing.h"
#include "engine/sql/tests/support/TestTableFields.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/DateTime.h"
#include "host/Exceptions.h"
#include "host/db/Params.h"

namespace ostra {
namespace {

// One statement text as the parser engine hands it over: the single stack, keyword on top.
struct Statement {
    TOrqPreParser Pre;
    explicit Statement(const std::string& Text) {
        Pre.SetParseSingleStack(true);
        Pre.SetText(Text);
        Pre.PreParseTokens();
    }
    TParserStack* Stack() { return Pre.GetSingleStack(); }
};

// The table the statements write: a Integer, b String(10), d Date, f Float, l Boolean.
test::TTestTableFields TableFields() {
    return test::TTestTableFields(
        {{"a", ftInteger, 4}, {"b", ftString, 11}, {"d", ftDate, 8}, {"f", ftFloat, 8}, {"l", ftBoolean, 1}});
}

// A driver stand-in for WHERE parts and INSERT ... SELECT: records the notification and
// consumes the rest of the statement, leaving the parser on the end marker.
struct SubqueryRecorder {
    std::vector<TParserNotifyType> Types;
    std::vector<std::string> NodeTexts;
    TParserNotifyEvent Event() {
        return [this](TParserNotifyType Type, TBaseParser* Parser, TParserStack* Stack, TOrqExprNode* Node,
                      Variant&) {
            Types.push_back(Type);
            NodeTexts.push_back(Node->Data().AsString() + "/" + IntToStr(Node->Kind()));
            while (Stack->Count() > 1) Stack->Pop();
            Parser->NextToken();
        };
    }
};

std::string ParseError(TBaseParser& Parser, const std::string& Text) {
    Statement s(Text);
    Parser.Clear();
    Parser.Execute(TOrqParserOptions(), s.Stack());
    return Parser.GetErrorMsg();
}

TEST(InsertParser, ConstantsAndExpressions) {
    Statement s("INSERT INTO t VALUES ('a', 1.5, NULL, TRUE, \"q\", -2, :p, 3 * 2)");
    TOrqInsertParser p;
    ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << p.GetErrorMsg();
    EXPECT_EQ(p.TableName(), "t");
    EXPECT_TRUE(p.ColumnsNotSpecified());
    EXPECT_FALSE(p.HasSelectClause());
    const TOrqRowConstructor& row = p.RowConstructor();
    ASSERT_EQ(row.Count(), 8);
    EXPECT_EQ(test::ShowValue(row.GetItems(0)->Data()), "'a'");
    EXPECT_EQ(VarType(row.GetItems(1)->Data()), varDouble);
    EXPECT_DOUBLE_EQ(row.GetItems(1)->Data().AsDouble(), 1.5);
    EXPECT_TRUE(VarIsNull(row.GetItems(2)->Data()));
    EXPECT_EQ(test::ShowValue(row.GetItems(3)->Data()), "TRUE");
    EXPECT_EQ(test::ShowValue(row.GetItems(4)->Data()), "'q'");
    EXPECT_DOUBLE_EQ(row.GetItems(5)->Data().AsDouble(), -2);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(row.GetItems(i)->Expr(), nullptr) << i;
    // The parameter and the product are expressions.
    EXPECT_TRUE(row.GetItems(6)->HasParameter());
    ASSERT_NE(row.GetItems(6)->Expr(), nullptr);
    EXPECT_EQ(test::Show(row.GetItems(6)->Expr()->FirstNode()), ":p");
    EXPECT_FALSE(row.GetItems(7)->HasParameter());
    EXPECT_EQ(test::Show(row.GetItems(7)->Expr()->FirstNode()), "(MUL 3 2)");
}

TEST(InsertParser, ColumnListAndReuseAfterClear) {
    TOrqInsertParser p;
    {
        Statement s("INSERT INTO t (a, b) VALUES (1, 'x')");
        ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << p.GetErrorMsg();
        EXPECT_FALSE(p.ColumnsNotSpecified());
        EXPECT_EQ(p.InsertColumnNames().CommaText(), "a,b");
        EXPECT_EQ(p.RowConstructor().Count(), 2);
    }
    // A cleared parser starts from the new statement's first token.
    Statement s("INSERT INTO u VALUES (7)");
    p.Clear();
    ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << p.GetErrorMsg();
    EXPECT_EQ(p.TableName(), "u");
    EXPECT_EQ(p.InsertColumnNames().Count(), 0);
    EXPECT_EQ(p.RowConstructor().Count(), 1);
}

TEST(InsertParser, CurrentTimestampIsReadAtParseTime) {
    const TDateTime before = Now();
    Statement s("INSERT INTO t VALUES (CURRENT_TIMESTAMP, CURRENT_DATE)");
    TOrqInsertParser p;
    ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack()));
    const TDateTime after = Now();
    const TDateTime stamp = p.RowConstructor().GetItems(0)->Data().AsDateTime();
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(p.RowConstructor().GetItems(1)->Data().AsDateTime(), Date());
}

TEST(InsertParser, SelectSourceIsHandedToTheDriver) {
    Statement s("INSERT INTO t (a) SELECT x FROM u");
    TOrqInsertParser p;
    SubqueryRecorder recorder;
    p.SetParserNotifyEvent(recorder.Event());
    ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << p.GetErrorMsg();
    EXPECT_TRUE(p.HasSelectClause());
    ASSERT_EQ(recorder.Types.size(), 1u);
    EXPECT_EQ(recorder.Types[0], pntSubquery);
    EXPECT_EQ(recorder.NodeTexts[0], "SELECT/" + IntToStr(enkSubquery));

    // Nobody to parse the query: the statement does not end where it should.
    Statement s2("INSERT INTO t SELECT x FROM u");
    TOrqInsertParser alone;
    EXPECT_FALSE(alone.Execute(TOrqParserOptions(), s2.Stack()));
    EXPECT_EQ(alone.GetErrorMsg(),
              "Insert statement incorrectly terminated Line 1, Character 15. Token 'SELECT'");
}

TEST(ExecParsers, SyntaxErrorsWithPositions) {
    struct Case {
        int Kind;  // 0 INSERT, 1 UPDATE, 2 DELETE
        const char* Text;
        const char* Error;
    } cases[] = {
        {0, "INSERT t VALUES (1)", "Insert statement syntax is incorrect Line 1, Character 8. Token 't'"},
        {0, "INSERT INTO", "Insert statement incorrectly terminated Line 1, Character 12. Token ''"},
        {0, "INSERT INTO t (a,,b) VALUES (1)",
         "Column specification is missing Line 1, Character 18. Token ','"},
        {0, "INSERT INTO t (a, b", "Missing Right Parenthesis Line 1, Character 20. Token ''"},
        {0, "INSERT INTO t VALUES 1", "Missing Left Parenthesis Line 1, Character 22. Token '1'"},
        {0, "INSERT INTO t VALUES (1", "Missing Right Parenthesis Line 1, Character 24. Token ''"},
        {0, "INSERT INTO t VALUES (1,,2)", "Column specification is missing Line 1, Character 25. Token ','"},
        {0, "INSERT INTO t (a) 1", "Invalid token Line 1, Character 19. Token '1'"},
        {0, "INSERT INTO t (a) VALUES (b + 1)", "Invalid token Line 1, Character 27. Token 'b'"},
        {0, "INSERT INTO t (a) VALUES (2 * (1 + b))", "Invalid token Line 1, Character 36. Token 'b'"},
        {0, "INSERT INTO t (a) VALUES (1) x",
         "Insert statement incorrectly terminated Line 1, Character 30. Token 'x'"},
        {0, "INSERT INTO t (a) VALUES ((SELECT x FROM u))",
         "Subqueries are not supported Line 1, Character 28. Token 'SELECT'"},
        {1, "UPDATE t a = 1", "Update statement syntax is incorrect Line 1, Character 10. Token 'a'"},
        {1, "UPDATE", "Update statement incorrectly terminated Line 1, Character 7. Token ''"},
        {1, "UPDATE t SET a 1", "Missing assignment (=) token Line 1, Character 16. Token '1'"},
        {1, "UPDATE t SET u.a = 1", "Table and/or field not found Line 1, Character 14. Token 'u'"},
        {1, "UPDATE t SET = 1", "Update statement missing column reference Line 1, Character 14. Token '='"},
        {1, "UPDATE t SET a = ,", "Column specification is missing Line 1, Character 17. Token ','"},
        {1, "UPDATE t SET a = 1 b", "Expression incorrectly terminated Line 1, Character 20. Token 'b'"},
        {2, "DELETE t", "Delete statement syntax is incorrect Line 1, Character 8. Token 't'"},
        {2, "DELETE FROM", "Delete statement incorrectly terminated Line 1, Character 12. Token ''"},
        {2, "DELETE FROM t u", "Delete statement incorrectly terminated Line 1, Character 15. Token 'u'"},
    };
    TOrqInsertParser insert;
    TOrqUpdateParser update;
    TOrqDeleteParser del;
    TTableList tables;
    update.SetTables(&tables);
    del.SetTables(&tables);
    TBaseParser* parsers[] = {&insert, &update, &del};
    for (const Case& c : cases) EXPECT_EQ(ParseError(*parsers[c.Kind], c.Text), c.Error) << c.Text;
}

TEST(InsertParser, NumberThatIsNoNumberIsAnErrorAtItsPosition) {
    TOrqInsertParser p;
    EXPECT_EQ(ParseError(p, "INSERT INTO t VALUES (1.2.3)"), "Invalid token Line 1, Character 23. Token '1.2.3'");
    EXPECT_EQ(ParseError(p, "INSERT INTO t VALUES (2..5, 1)"), "Invalid token Line 1, Character 23. Token '2..5'");
}

TEST(InsertParser, ValueColumnValidation) {
    struct Case {
        const char* Text;
        const char* Error;  // empty: valid
    } cases[] = {
        {"INSERT INTO t VALUES (1)", ""},
        {"INSERT INTO t VALUES (1, 'x', '2001-02-03', 2.5, TRUE)", ""},
        // Without a column list more values than fields would lose the surplus.
        {"INSERT INTO t VALUES (1, 'x', NULL, 2.5, TRUE, 6)",
         "Number of insert columns does not match number of insert values"},
        {"INSERT INTO t (a, b) VALUES (1)",
         "Number of insert columns does not match number of insert values"},
        {"INSERT INTO t (a) VALUES (1, 2)",
         "Number of insert columns does not match number of insert values"},
        {"INSERT INTO t () VALUES (1)", "No insert columns were specified"},
        {"INSERT INTO t (a, zz) VALUES (1, 2)", "Field not found : zz"},
    };
    const test::TTestTableFields fields = TableFields();
    for (const Case& c : cases) {
        Statement s(c.Text);
        TOrqInsertParser p;
        ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << c.Text << ": " << p.GetErrorMsg();
        EXPECT_EQ(p.ValidateValueColumns(fields), std::string(c.Error).empty()) << c.Text;
        EXPECT_EQ(p.GetErrorMsg(), c.Error) << c.Text;
    }
}

TEST(InsertParser, ConstantsTakeTheirColumnTypes) {
    Statement s("INSERT INTO t (d, b, f) VALUES ('2001-02-03', 'x', 2)");
    TOrqInsertParser p;
    ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack()));
    ASSERT_TRUE(p.ValidateValueColumns(TableFields())) << p.GetErrorMsg();
    EXPECT_DOUBLE_EQ(p.RowConstructor().GetItems(0)->Data().AsDouble(), EncodeDate(2001, 2, 3));
    EXPECT_EQ(test::ShowValue(p.RowConstructor().GetItems(1)->Data()), "'x'");
    EXPECT_DOUBLE_EQ(p.RowConstructor().GetItems(2)->Data().AsDouble(), 2.0);
}

// Result columns of an INSERT ... SELECT, built as the select analyser would.
void AddColumn(TInternalFields& Fields, const std::string& Name, TFieldType Type) {
    TInternalFieldItem* item = Fields.Add();
    item->SetFieldName(Name);
    if (Type != ftUnknown) item->SetDataType(Type);  // a new item's type is Unknown
}

TEST(InsertParser, SelectColumnValidationChecksSelectTypeToColumnType) {
    struct Case {
        const char* Columns;
        std::vector<TFieldType> SelectTypes;
        const char* Error;
    } cases[] = {
        // A Float value may be stored in a Boolean column; a Boolean may not go into a Float.
        {"(l)", {ftFloat}, ""},
        {"(f)", {ftBoolean}, "Cannot convert type Boolean -> Float"},
        {"(a, f)", {ftInteger, ftBoolean}, "Cannot convert type Boolean -> Float"},
        {"", {ftInteger, ftString, ftDate, ftFloat, ftBoolean}, ""},
        {"", {ftInteger}, "Number of insert columns does not match number of insert values"},
        {"(a, b)", {ftInteger}, "Number of insert columns does not match number of insert values"},
        {"()", {ftInteger}, "No insert columns were specified"},
        {"(zz)", {ftInteger}, "Field not found : zz"},
        {"(a)", {ftUnknown}, "Cannot convert type Unknown -> Integer"},
    };
    const test::TTestTableFields fields = TableFields();
    for (const Case& c : cases) {
        const std::string text = std::string("INSERT INTO t ") + c.Columns + " SELECT x FROM u";
        Statement s(text);
        TOrqInsertParser p;
        SubqueryRecorder recorder;
        p.SetParserNotifyEvent(recorder.Event());
        ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << text << ": " << p.GetErrorMsg();
        TInternalFields select;
        for (TFieldType t : c.SelectTypes) AddColumn(select, "c", t);
        EXPECT_EQ(p.ValidateSelectColumns(select, fields), std::string(c.Error).empty()) << text;
        EXPECT_EQ(p.GetErrorMsg(), c.Error) << text;
    }
}

TEST(InsertParser, ParameterBindingAndRowData) {
    Statement s("INSERT INTO t (a, b) VALUES (:p + 1, :q)");
    TOrqInsertParser p;
    ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << p.GetErrorMsg();
    TParams params;
    params.CreateParam(ftInteger, "p", ptInput)->SetAsInteger(41);
    params.CreateParam(ftString, "q", ptInput)->SetAsString("text");
    p.RowConstructor().BindParams(&params);
    p.RowConstructor().Prepare(nullptr);
    EXPECT_DOUBLE_EQ(p.RowConstructor().GetItems(0)->GetRowData().AsDouble(), 42);
    EXPECT_EQ(test::ShowValue(p.RowConstructor().GetItems(1)->GetRowData()), "'text'");
    const TOrqExprNode* bound = p.RowConstructor().GetItems(1)->Expr()->FirstNode();
    EXPECT_EQ(bound->Kind(), enkConst);
    EXPECT_EQ(bound->Operator(), oeoCONST2);
    EXPECT_EQ(bound->DataType(), ftString);

    // A name the parameter list does not hold raises its error.
    Statement s2("INSERT INTO t (a) VALUES (:missing)");
    TOrqInsertParser p2;
    ASSERT_TRUE(p2.Execute(TOrqParserOptions(), s2.Stack()));
    EXPECT_THROW(p2.RowConstructor().BindParams(&params), EDatabaseError);
}

TEST(UpdateParser, AssignmentsAndWhere) {
    Statement s("UPDATE t SET t.a = a + 1, b = 'x', f = :p WHERE b = 2");
    TTableList tables;
    TOrqUpdateParser p;
    p.SetTables(&tables);
    SubqueryRecorder recorder;
    p.SetParserNotifyEvent(recorder.Event());
    // The validate event loads the table's fields, as the query layer does.
    int asked = 0;
    p.SetTableListValidateEvent([&](TTableList* Tables) {
        ++asked;
        const test::TTestTableFields fields = TableFields();
        Tables->Items(0)->SetTableFields(&fields);
        return true;
    });
    ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << p.GetErrorMsg();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(p.TableName(), "t");
    ASSERT_EQ(tables.Count(), 1);
    EXPECT_EQ(tables.Items(0)->TableName(), "t");
    const TOrqUpdateRowConstructor& row = p.RowConstructor();
    ASSERT_EQ(row.Count(), 3);
    EXPECT_EQ(row.GetItems(0)->TargetColumnName(), "a");
    EXPECT_EQ(test::Show(row.GetItems(0)->Expr()->FirstNode()), "(ADD a 1)");
    EXPECT_EQ(row.GetItems(0)->Expr()->FirstNode()->Left()->DataType(), ftInteger);
    EXPECT_EQ(row.GetItems(1)->TargetColumnName(), "b");
    EXPECT_EQ(test::ShowValue(row.GetItems(1)->Data()), "'x'");
    EXPECT_TRUE(row.GetItems(2)->HasParameter());
    EXPECT_TRUE(p.HasWhereClause());
    ASSERT_EQ(recorder.Types.size(), 1u);
    EXPECT_EQ(recorder.NodeTexts[0], "WHERE/" + IntToStr(enkSubquery));
    EXPECT_EQ(test::Show(p.WhereExpr().FirstNode()), "(SELECT 0)");
}

TEST(UpdateParser, FieldsAreCheckedOnceTheTableIsKnown) {
    // Against a loaded field list an unknown field in a value is an error at its position.
    Statement s("UPDATE t SET a = zz + 1");
    TTableList tables;
    TOrqUpdateParser p;
    p.SetTables(&tables);
    p.SetTableListValidateEvent([](TTableList* Tables) {
        const test::TTestTableFields fields = TableFields();
        Tables->Items(0)->SetTableFields(&fields);
        return true;
    });
    EXPECT_FALSE(p.Execute(TOrqParserOptions(), s.Stack()));
    EXPECT_EQ(p.GetErrorMsg(), "Field not found Line 1, Character 18. Token 'zz'");

    // A refusing validate event fails at the table name.
    Statement s2("UPDATE nosuch SET a = 1");
    TTableList tables2;
    TOrqUpdateParser p2;
    p2.SetTables(&tables2);
    p2.SetTableListValidateEvent([](TTableList*) { return false; });
    EXPECT_FALSE(p2.Execute(TOrqParserOptions(), s2.Stack()));
    EXPECT_EQ(p2.GetErrorMsg(), "Table and/or field not found Line 1, Character 8. Token 'nosuch'");
}

TEST(UpdateParser, ValueColumnValidation) {
    Statement s("UPDATE t SET zz = 1, d = '2001-02-03', yy = 2");
    TTableList tables;
    TOrqUpdateParser p;
    p.SetTables(&tables);
    ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << p.GetErrorMsg();
    EXPECT_FALSE(p.ValidateValueColumns(TableFields()));
    EXPECT_EQ(p.GetErrorMsg(), "Field not found : zz");

    Statement s2("UPDATE t SET d = '2001-02-03', a = 5");
    TOrqUpdateParser p2;
    p2.SetTables(&tables);
    ASSERT_TRUE(p2.Execute(TOrqParserOptions(), s2.Stack())) << p2.GetErrorMsg();
    ASSERT_TRUE(p2.ValidateValueColumns(TableFields())) << p2.GetErrorMsg();
    EXPECT_DOUBLE_EQ(p2.RowConstructor().GetItems(0)->Data().AsDouble(), EncodeDate(2001, 2, 3));
}

TEST(DeleteParser, TableAndWhere) {
    TTableList tables;
    TOrqDeleteParser p;
    p.SetTables(&tables);
    {
        Statement s("DELETE FROM t");
        ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << p.GetErrorMsg();
        EXPECT_EQ(p.TableName(), "t");
        EXPECT_FALSE(p.HasWhereClause());
    }
    Statement s("DELETE FROM u WHERE a = 1");
    SubqueryRecorder recorder;
    p.SetParserNotifyEvent(recorder.Event());
    p.Clear();
    ASSERT_TRUE(p.Execute(TOrqParserOptions(), s.Stack())) << p.GetErrorMsg();
    EXPECT_TRUE(p.HasWhereClause());
    EXPECT_EQ(recorder.Types, std::vector<TParserNotifyType>{pntSubquery});
    ASSERT_EQ(tables.Count(), 2);
    EXPECT_EQ(tables.Items(1)->TableName(), "u");
}

}  // namespace
}  // namespace ostra
