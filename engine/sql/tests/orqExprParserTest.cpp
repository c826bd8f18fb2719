// The expression parser: tree shapes, typing and constant conversion, error texts with their
// positions, the CAST data types, the driver hooks (subqueries, outer tables) and the
// external-expression runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/sql/orqDataTypeParser.h"
#include "engine/sql/orqExprParser.h"
#include "engine/sql/tests/support/TestExprParsing.h"
#include "engine/sql/tests/support/TestTableFields.h"
#include "engine/storage/orqErrors.h"
#include "host/DateTime.h"
#include "host/Exceptions.h"
#include "host/FormatSettings.h"

namespace ostra {
namespace {

using test::Show;
using test::TExprParse;

const TOrqParserOptions kExt{opoExtSyntax};
const TOrqParserOptions kAll{opoExtSyntax, opoParameters, opoSubqueries};

// One table "t" with a field of each kind the tests need (stored sizes: strings length + 1).
void AddFixtureTable(TTableList& list, const std::string& name = "t", const std::string& alias = "") {
    TTableNameItem* item = list.Add();
    item->SetTableName(name);
    item->SetCorrelationName(alias);
    test::TTestTableFields fields({{"i", ftInteger, 4},
                                   {"f", ftFloat, 8},
                                   {"s", ftString, 11},
                                   {"s2", ftString, 6},
                                   {"d", ftDate, 8},
                                   {"tm", ftTime, 8},
                                   {"dt", ftDateTime, 8},
                                   {"b", ftBoolean, 1},
                                   {"m", ftMemo, 8}});
    item->SetTableFields(&fields);
}

struct Fixture {
    TTableList Tables;
    TExprParse P;
    Fixture() {
        AddFixtureTable(Tables);
        P.Parser.SetTableList(&Tables);
    }
};

TEST(ExprParser, TreeShapes) {
    struct Case {
        const char* Text;
        const char* Tree;
    } cases[] = {
        {"5 < i", "(GT i 5)"},
        {"5 = i", "(EQ i 5)"},
        {"i >= f", "(GE i f)"},
        {"i BETWEEN 1 AND 10", "(AND (GE i 1) (LE i 10))"},
        {"i NOT BETWEEN 1 AND 10", "(OR (LT i 1) (GT i 10))"},
        {"i IN (1, 2)", "(IN i 1 2)"},
        {"i NOT IN (1, 2)", "(NOT IN i 1 2)"},
        {"s IS NULL", "(ISBLANK s)"},
        {"s IS NOT NULL", "(NOTBLANK s)"},
        {"NOT i = 1 AND f = 2 OR s = 'x'", "(OR (AND (NOT (EQ i 1)) (EQ f 2)) (EQ s 'x'))"},
        {"NOT (i = 1 OR f = 2)", "(NOT (OR (EQ i 1) (EQ f 2)))"},
        {"i + f * 2 - 1 > 0", "(GT (SUB (ADD i (MUL f 2)) 1) 0)"},
        {"i / 2 * 3 = 1", "(EQ (MUL (DIV i 2) 3) 1)"},
        {"s || 'x' = 'ax'", "(EQ (ADD s 'x') 'ax')"},
        {"UPPER(s) = 'X'", "(EQ (UPPER - s) 'X')"},
        {"TRIM(s) = 'x'", "(EQ (TRIM s) 'x')"},
        {"TRIM(LEADING 'a' FROM s) = 'x'", "(EQ (TRIM s 'a') 'x')"},
        {"SUBSTRING(s FROM 0 FOR 2) = 'ab'", "(EQ (SUBSTRING s 0 2) 'ab')"},
        {"SUBSTRING(s, 2) = 'b'", "(EQ (SUBSTRING s 2) 'b')"},
        {"s LIKE 'x%'", "(LIKE s 'x%')"},
        {"s NOT LIKE 'x' || '%'", "(NOT LIKE s (ADD 'x' '%'))"},
        {"s LIKE 'x!%' ESCAPE '!'", "(LIKE s 'x!%')"},
        {"t.i = :p", "(EQ t.i :p)"},
        {"b = TRUE OR b = FALSE", "(OR (EQ b TRUE) (EQ b FALSE))"},
        {"d < CURRENT_DATE", "(LT d CURRENT_DATE)"},
        {"CAST(i AS CHAR(3)) = 'abc'", "(EQ (CAST - i) 'abc')"},
        {"EXTRACT(YEAR FROM d) = 2001", "(EQ (EXTRACT - d) 2001)"},
        {"((i)) = (1)", "(EQ i 1)"},
        {"", "-"},
    };
    for (const Case& c : cases) {
        Fixture fx;
        EXPECT_TRUE(fx.P.Parse(c.Text, kAll)) << c.Text << ": " << fx.P.Parser.GetErrorMsg();
        EXPECT_EQ(Show(fx.P.Root()), c.Tree) << c.Text;
        if (fx.P.Root() != nullptr) EXPECT_EQ(fx.P.Parser.Expr()->FirstNode(), fx.P.Root()) << c.Text;
    }
}

TEST(ExprParser, NodesCarryTypesSizesAndScopes) {
    Fixture fx;
    ASSERT_TRUE(fx.P.Parse("s || s2 = 'x'", kExt));
    const TOrqExprNode* cat = fx.P.Root()->Left();
    EXPECT_EQ(cat->DataType(), ftString);
    EXPECT_EQ(cat->DataSize(), 15);
    // The constant takes the field's type and size; the comparison is Boolean at field scope.
    EXPECT_EQ(fx.P.Root()->DataType(), ftBoolean);
    EXPECT_EQ(fx.P.Root()->ScopeKind(), oskField);

    ASSERT_TRUE(fx.P.Parse("i = '12'", kExt));
    const TOrqExprNode* twelve = fx.P.Root()->Right();
    EXPECT_EQ(twelve->DataType(), ftInteger);
    EXPECT_EQ(VarType(twelve->Data()), varInteger);
    EXPECT_EQ(twelve->DataSize(), 4);
    EXPECT_EQ(fx.P.Root()->Left()->Tables().Count(), 1);
    EXPECT_EQ(fx.P.Root()->Left()->Tables().Items(0)->TableName(), "t");

    ASSERT_TRUE(fx.P.Parse("UPPER(s) = 'A'", kExt));
    EXPECT_EQ(fx.P.Root()->Left()->DataType(), ftString);
    EXPECT_EQ(fx.P.Root()->Left()->DataSize(), 10);

    // BETWEEN's nodes carry no type; the comparisons test a copy of the operand node.
    ASSERT_TRUE(fx.P.Parse("i BETWEEN 1 AND 2", kExt));
    const TOrqExprNode* root = fx.P.Root();
    EXPECT_EQ(root->DataType(), ftUnknown);
    EXPECT_NE(root->Left()->Left(), root->Right()->Left());
    EXPECT_TRUE(root->Left()->Left()->AreNodesEquivalent(root->Right()->Left()));
    EXPECT_EQ(root->Right()->Right()->DataType(), ftInteger);

    // COUNT(*) has no argument; aggregates carry their operand's type at aggregate scope.
    ASSERT_TRUE(fx.P.Parse("COUNT(*) > 1", kExt));
    const TOrqExprNode* count = fx.P.Root()->Left();
    EXPECT_TRUE(count->Args().empty());
    EXPECT_EQ(count->DataType(), ftInteger);
    EXPECT_EQ(count->DataSize(), 0);
    EXPECT_EQ(count->ParserToken().CustomOrdinal(), oafCount);
    EXPECT_EQ(fx.P.Root()->ScopeKind(), oskAgg);
    ASSERT_TRUE(fx.P.Parse("SUM(f) + 1 > 1", kExt));
    EXPECT_EQ(fx.P.Root()->ScopeKind(), oskAgg);
    EXPECT_EQ(fx.P.Root()->Left()->Left()->DataType(), ftFloat);
    ASSERT_TRUE(fx.P.Parse("1 + 2 = 3", kExt));
    EXPECT_EQ(fx.P.Root()->ScopeKind(), oskConst);

    // TRIM records its kind in the token; BOTH when none is given.
    ASSERT_TRUE(fx.P.Parse("TRIM(TRAILING 'x' FROM s) = 'a'", kExt));
    EXPECT_EQ(fx.P.Root()->Left()->ParserToken().CustomOrdinal(), osfTrimTrailing);
    ASSERT_TRUE(fx.P.Parse("TRIM(s) = 'a'", kExt));
    EXPECT_EQ(fx.P.Root()->Left()->ParserToken().CustomOrdinal(), osfTrimBoth);

    ASSERT_TRUE(fx.P.Parse("EXTRACT(SECOND FROM tm) = 1", kExt));
    EXPECT_EQ(fx.P.Root()->Left()->DataType(), ftFloat);
    EXPECT_EQ(fx.P.Root()->Left()->ParserToken().CustomOrdinal(), ostSecond);
}

TEST(ExprParser, NumbersAreReadWithoutTheLocale) {
    TFormatSettings german;
    german.DecimalSeparator = ',';
    german.ThousandSeparator = '.';
    TFormatSettingsScope scope(german);
    Fixture fx;
    ASSERT_TRUE(fx.P.Parse("f = 1.5 OR f = -.25 OR f = +7", kExt)) << fx.P.Parser.GetErrorMsg();
    const TOrqExprNode* root = fx.P.Root();
    EXPECT_EQ(root->Right()->Right()->Data().AsDouble(), 7.0);
    EXPECT_EQ(root->Left()->Left()->Right()->Data().AsDouble(), 1.5);
    EXPECT_EQ(root->Left()->Right()->Right()->Data().AsDouble(), -0.25);
    EXPECT_FALSE(fx.P.Parse("f = 1.2.3", kExt));
    EXPECT_EQ(fx.P.Parser.GetErrorMsg(), "Invalid token Line 1, Character 5. Token '1.2.3'");
}

TEST(ExprParser, DistinctAndAggregateSourceText) {
    TExprParse p;
    p.Parser.SetValidEndTokens({ostFrom, ostEnd});
    ASSERT_TRUE(p.Parse("SELECT COUNT(DISTINCT x) FROM t", kExt, true)) << p.Parser.GetErrorMsg();
    EXPECT_EQ(VarType(p.Root()->Data()), varBoolean);
    EXPECT_TRUE(p.Root()->Data().AsBoolean());
    ASSERT_EQ(p.Root()->Args().size(), 1u);
    EXPECT_EQ(Show(p.Root()->Args()[0]), "x");

    ASSERT_TRUE(p.Parse("SELECT SUM( a + 1 ) FROM t",
                        TOrqParserOptions{opoExtSyntax, opoExtractAggFuncExprText}, true));
    EXPECT_FALSE(p.Root()->Data().AsBoolean());
    EXPECT_EQ(p.Root()->ParserToken().RawTokenText(), "SUM( a + 1 )");
}

TEST(ExprParser, ConstantsMeetingTemporalFieldsAreReadAsDatesAndTimes) {
    Fixture fx;
    ASSERT_TRUE(fx.P.Parse("d = '2001-02-03'", kExt));
    const TOrqExprNode* c = fx.P.Root()->Right();
    EXPECT_EQ(c->DataType(), ftDate);
    EXPECT_DOUBLE_EQ(c->Data().AsDouble(), EncodeDate(2001, 2, 3));

    ASSERT_TRUE(fx.P.Parse("'10:30 PM' < tm", kExt));
    EXPECT_EQ(Show(fx.P.Root()), "(GT tm " + test::ShowValue(fx.P.Root()->Right()->Data()) + ")");
    EXPECT_DOUBLE_EQ(fx.P.Root()->Right()->Data().AsDouble(), EncodeTime(22, 30, 0, 0));

    // Date texts in an IN list are read as dates too.
    ASSERT_TRUE(fx.P.Parse("d IN ('2001-02-03', '2001-02-04')", kExt));
    for (const TOrqExprNode* e : fx.P.Root()->Args()) {
        EXPECT_EQ(e->DataType(), ftDate);
        EXPECT_EQ(VarType(e->Data()), varDouble);
    }
    // A date expression beside a date text.
    ASSERT_TRUE(fx.P.Parse("CAST(s AS DATE) = '2001-02-03'", kExt));
    EXPECT_EQ(fx.P.Root()->Right()->DataType(), ftDate);
    // A string field beside a date field keeps its values (there is no text to read).
    ASSERT_TRUE(fx.P.Parse("s = d", kExt));
    EXPECT_EQ(fx.P.Root()->Left()->Data().AsString(), "s");

    // Unreadable date and time texts raise the engine errors out of the parse.
    for (auto [text, code] :
         std::vector<std::pair<const char*, int>>{{"d = 'soon'", 10059},
                                                  {"dt > 'today'", 10059},
                                                  {"tm = '25:00'", 10058},
                                                  {"d BETWEEN '2001-01-01' AND 'x'", 10059}}) {
        try {
            fx.P.Parse(text, kExt);
            ADD_FAILURE() << text;
        } catch (const EOrqDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode, code) << text;
        }
    }
}

TEST(ExprParser, ArithmeticTypeChecks) {
    struct Case {
        const char* Text;  // the left side of "... IS NULL"
        TFieldType Type;   // the arithmetic node's type; ftUnknown = "Expression data types do not match"
    } cases[] = {
        {"i + f", ftFloat},    {"s + s2", ftString},          {"d + 1", ftDateTime}, {"d - 1", ftDate},
        {"d - dt", ftFloat},   {"'2001-01-01' - d", ftFloat}, {":p + i", ftFloat},   {":p + :q", ftUnknown},
        {"s - s2", ftUnknown}, {"i + s", ftUnknown},          {"1 + d", ftUnknown},  {"b + 1", ftUnknown},
    };
    for (const Case& c : cases) {
        Fixture fx;
        const bool ok = fx.P.Parse(std::string(c.Text) + " IS NULL", kAll);
        const bool bothParams = std::string(c.Text) == ":p + :q";
        if (c.Type == ftUnknown && !bothParams) {
            EXPECT_FALSE(ok) << c.Text;
            EXPECT_EQ(fx.P.Parser.ErrorMsg(), "Expression data types do not match") << c.Text;
            continue;
        }
        ASSERT_TRUE(ok) << c.Text << ": " << fx.P.Parser.GetErrorMsg();
        EXPECT_EQ(fx.P.Root()->Left()->DataType(), c.Type) << c.Text;
    }
    // A date text minus a date is read as a date at parse time.
    Fixture fx;
    ASSERT_TRUE(fx.P.Parse("'2001-01-01' - d > 1", kExt));
    EXPECT_EQ(fx.P.Root()->Left()->Left()->DataType(), ftDate);
    EXPECT_DOUBLE_EQ(fx.P.Root()->Left()->Left()->Data().AsDouble(), EncodeDate(2001, 1, 1));
    // The parameter took the other operand's type.
    ASSERT_TRUE(fx.P.Parse(":p + i > 1", kAll));
    EXPECT_EQ(fx.P.Root()->Left()->Left()->DataType(), ftInteger);
    // Without type checks nothing is decided.
    fx.P.Parser.SetIgnoreTypeChecks(true);
    ASSERT_TRUE(fx.P.Parse("s - i > 1", kExt));
    EXPECT_EQ(fx.P.Root()->Left()->DataType(), ftUnknown);
}

// Errors: the first one is kept, with the line, column and text of its token.
TEST(ExprParser, ErrorTextsWithPositions) {
    struct Case {
        const char* Text;
        TOrqParserOptions Options;
        const char* Error;
    } cases[] = {
        {"i = NULL", kAll, "Expression data types do not match Line 1, Character 5. Token 'NULL'"},
        {"i IN ()", kAll, "IN list is empty Line 1, Character 7. Token ')'"},
        {"i IN (1, 2", kAll, "Missing Right Parenthesis Line 1, Character 11. Token ''"},
        {"i IN (1 2)", kAll, "Missing Right Parenthesis or comma Line 1, Character 9. Token '2'"},
        {"i IN 1", kAll, "Missing Left Parenthesis Line 1, Character 6. Token '1'"},
        {"i-1", kAll, "Expression incorrectly terminated Line 1, Character 2. Token '-1'"},
        {"i = 1 f", kAll, "Invalid token Line 1, Character 7. Token 'f'"},
        {"i = 1 /* x */", kAll, "Expression incorrectly terminated Line 1, Character 7. Token '/* x */'"},
        {"/* x */ i = 1", kAll, "Invalid token Line 1, Character 1. Token '/* x */'"},
        {"NOT NOT i = 1", kAll, "Invalid token Line 1, Character 5. Token 'NOT'"},
        {"CASE WHEN i = 1 THEN 2 END", kAll, "Invalid token Line 1, Character 1. Token 'CASE'"},
        {"-i = 1", kAll, "Invalid token Line 1, Character 1. Token '-'"},
        {"i BETWEEN 1 OR 2", kAll,
         "missing AND operator in between predicate Line 1, Character 13. Token 'OR'"},
        {"(i = 1", kAll, "Missing Right Parenthesis Line 1, Character 7. Token ''"},
        {"i = 1 AND\n  f = NULL", kAll,
         "Expression data types do not match Line 2, Character 7. Token 'NULL'"},
        {"i + 1 = 2", {}, "Arithmetic operators not supported Line 1, Character 3. Token '+'"},
        {"i * 2 = 2", {}, "Arithmetic operators not supported Line 1, Character 3. Token '*'"},
        {"UPPER(s) = 'A'", {}, "Expression incorrectly terminated Line 1, Character 1. Token 'UPPER'"},
        {"i = SUM(f)", {}, "Expression incorrectly terminated Line 1, Character 5. Token 'SUM'"},
        {"i + 'x' = 1", kAll, "Expression data types do not match Line 1, Character 3. Token '+'"},
        {"i = 'abc'", kAll, "Expression data types do not match Line 1, Character 10. Token ''"},
        {"m = 'x'", kAll, "Expression data types do not match Line 1, Character 8. Token ''"},
        {"SUM(f) + i > 1", kAll, "Scope is invalid Line 1, Character 12. Token '>'"},
        {"NOT (SUM(f) > 1) AND i = 1", kAll, "Scope is invalid Line 1, Character 27. Token ''"},
        {"CAST(b AS FLOAT) = 1", kAll,
         "Cannot convert type Boolean -> Float Line 1, Character 1. Token 'CAST'"},
        {"CAST(i INT) = 1", kAll, "Missing AS operator in Cast expression Line 1, Character 8. Token 'INT'"},
        {"CAST(i AS WIDGET) = 1", kAll, "Unknown Datatype Line 1, Character 11. Token 'WIDGET'"},
        {"CAST(i AS AUTOINC) = 1", kAll, "Data type is invalid Line 1, Character 11. Token 'AUTOINC'"},
        {"CAST(i AS CHAR(3) = 1", kAll, "Missing Right Parenthesis Line 1, Character 19. Token '='"},
        {"EXTRACT(WEEK FROM d) = 1", kAll,
         "Invalid extract field in EXTRACT expression Line 1, Character 9. Token 'WEEK'"},
        {"EXTRACT(YEAR d) = 1", kAll,
         "Missing FROM operator in Extract expression Line 1, Character 14. Token 'd'"},
        {"s LIKE ()", kAll, "Expression is empty Line 1, Character 9. Token ')'"},
        {"s LIKE 1 + 2", kAll,
         "Character value expression return type is invalid Line 1, Character 10. Token '+'"},
        {"SUBSTRING(s 1) = 'a'", kAll,
         "Missing FROM or COMMA token in SUBSTRING function Line 1, Character 13. Token '1'"},
        {"SUBSTRING s FROM 1) = 'a'", kAll, "Missing Left Parenthesis Line 1, Character 11. Token 's'"},
        {"u.i = 1", kAll, "Table and/or field not found (u.i) Line 1, Character 3. Token 'i'"},
        {":p = 1", {opoExtSyntax}, "Parameters are not supported Line 1, Character 2. Token 'p'"},
        {": = 1", kAll, "Parameter name expected but none found Line 1, Character 3. Token '='"},
        {"i = (SELECT i FROM t)", kExt, "Subqueries are not supported Line 1, Character 6. Token 'SELECT'"},
        {"i IN (SELECT i FROM t)", kExt, "Subqueries are not supported Line 1, Character 7. Token 'SELECT'"},
        {"EXISTS SELECT", kAll, "Missing Left Parenthesis Line 1, Character 8. Token 'SELECT'"},
        {"EXISTS (i)", kAll, "Missing select token Line 1, Character 9. Token 'i'"},
        {"i =", kAll, "Expression incorrectly terminated Line 1, Character 4. Token ''"},
    };
    for (const Case& c : cases) {
        Fixture fx;
        EXPECT_FALSE(fx.P.Parse(c.Text, c.Options)) << c.Text;
        EXPECT_EQ(fx.P.Parser.GetErrorMsg(), c.Error) << c.Text;
    }
}

TEST(ExprParser, FieldValidationAndExtractOperands) {
    Fixture fx;
    fx.P.Parser.SetValidateFields(true);
    EXPECT_FALSE(fx.P.Parse("EXTRACT(HOUR FROM d) = 1", kExt));
    EXPECT_EQ(fx.P.Parser.GetErrorMsg(),
              "Extract value expression result type is invalid for extract field Line 1, Character 1. Token "
              "'EXTRACT'");
    EXPECT_FALSE(fx.P.Parse("EXTRACT(YEAR FROM s) = 1", kExt));
    EXPECT_TRUE(fx.P.Parse("EXTRACT(YEAR FROM d) = 1 AND EXTRACT(MINUTE FROM dt) = 2", kExt));
    // Without validation a table with no such field leaves the field untyped.
    TTableList one;
    AddFixtureTable(one);
    TExprParse p;
    p.Parser.SetTableList(&one);
    EXPECT_TRUE(p.Parse("nosuch = 1", kExt));
    EXPECT_EQ(p.Root()->Left()->DataType(), ftUnknown);
    p.Parser.SetValidateFields(true);
    EXPECT_FALSE(p.Parse("nosuch = 1", kExt));
    EXPECT_EQ(p.Parser.GetErrorMsg(), "Field not found Line 1, Character 1. Token 'nosuch'");
    // No table list: nothing is typed and nothing is an error.
    TExprParse bare;
    EXPECT_TRUE(bare.Parse("a.b = c", kExt));
    EXPECT_EQ(Show(bare.Root()), "(EQ a.b c)");
    EXPECT_EQ(bare.Root()->Left()->DataType(), ftUnknown);
    // Arithmetic over untyped fields is left to the rows; over an untyped constant it is not.
    EXPECT_TRUE(bare.Parse("a.b * 2 + 1 = c || 'x'", kExt)) << bare.Parser.GetErrorMsg();
    EXPECT_EQ(bare.Root()->Left()->DataType(), ftUnknown);
    EXPECT_FALSE(bare.Parse("1 + NULL = c", kExt));
    EXPECT_EQ(bare.Parser.ErrorMsg(), "Expression data types do not match");
}

TEST(ExprParser, TwoTablesResolveByQualifierOrByField) {
    TTableList list;
    AddFixtureTable(list, "t", "a");
    TTableNameItem* u = list.Add();
    u->SetTableName("u");
    test::TTestTableFields ufields({{"k", ftSmallint, 2}, {"i", ftString, 21}});
    u->SetTableFields(&ufields);
    TExprParse p;
    p.Parser.SetTableList(&list);
    ASSERT_TRUE(p.Parse("a.i = 1 AND k = 2 AND u.i = 'x'", kExt)) << p.Parser.GetErrorMsg();
    const TOrqExprNode* first = p.Root()->Left()->Left()->Left();
    const TOrqExprNode* second = p.Root()->Left()->Right()->Left();
    const TOrqExprNode* third = p.Root()->Right()->Left();
    EXPECT_EQ(first->DataType(), ftInteger);
    EXPECT_EQ(second->DataType(), ftSmallint);
    EXPECT_EQ(second->Tables().Items(0)->TableName(), "u");
    EXPECT_EQ(third->DataType(), ftString);
    EXPECT_EQ(third->DataSize(), 20);
    ASSERT_EQ(third->TokenArgs().size(), 1u);
    EXPECT_EQ(third->TokenArgs()[0]->Token(), ostTableName);
}

TEST(ExprParser, SubqueriesGoThroughTheDriverHook) {
    Fixture fx;
    std::vector<std::string> calls;
    // A driver that skips the subquery's tokens up to its closing parenthesis.
    fx.P.Parser.SetParserNotifyEvent(
        [&](TParserNotifyType type, TBaseParser* parser, TParserStack*, TOrqExprNode* node, Variant&) {
            calls.push_back(type == pntSubquery ? "subquery" : "other");
            EXPECT_EQ(node->Kind(), enkSubquery);
            while (parser->CurrToken() != nullptr && parser->CurrentTokenType() != ostRParen)
                parser->NextToken();
        });
    ASSERT_TRUE(
        fx.P.Parse("i IN (SELECT i FROM u) AND f = ANY (SELECT f FROM u) OR EXISTS (SELECT * FROM u)", kAll))
        << fx.P.Parser.GetErrorMsg();
    EXPECT_EQ(Show(fx.P.Root()), "(OR (AND (IN i (SELECT 0)) (EQ f (SELECT 1))) (SELECT 3))");
    EXPECT_EQ(calls.size(), 3u);
    ASSERT_TRUE(fx.P.Parse("i <> ALL (SELECT i FROM u) AND (SELECT i FROM u) = 1", kAll));
    EXPECT_EQ(Show(fx.P.Root()), "(AND (NE i (SELECT 2)) (EQ (SELECT 0) 1))");
}

TEST(ExprParser, OuterTablesOfACorrelatedSubquery) {
    Fixture fx;
    fx.P.Parser.SetIsSubquery(true);
    std::vector<std::string> asked;
    fx.P.Parser.SetParserNotifyEvent(
        [&](TParserNotifyType type, TBaseParser*, TParserStack*, TOrqExprNode* node, Variant& value) {
            ASSERT_EQ(type, pntFindTableRef);
            asked.push_back(value.AsString());
            if (value.AsString() == "o") {
                TTableList outer;
                AddFixtureTable(outer, "orders", "o");
                node->Tables().Assign(outer);
                value = Variant(true);
            } else {
                value = Variant(false);
            }
        });
    ASSERT_TRUE(fx.P.Parse("i = o.f", kExt)) << fx.P.Parser.GetErrorMsg();
    const TOrqExprNode* outer = fx.P.Root()->Right();
    EXPECT_EQ(outer->Operator(), oeoOUTERFIELD);
    EXPECT_EQ(outer->Kind(), enkFunc);
    EXPECT_EQ(outer->DataType(), ftFloat);
    EXPECT_EQ(asked, (std::vector<std::string>{"o"}));
    // A name the driver does not know keeps its lookup error.
    EXPECT_FALSE(fx.P.Parse("i = q.f", kExt));
    EXPECT_EQ(fx.P.Parser.GetErrorMsg(), "Table and/or field not found (q.f) Line 1, Character 7. Token 'f'");
    // Outside a subquery the driver is not asked.
    asked.clear();
    fx.P.Parser.SetIsSubquery(false);
    EXPECT_FALSE(fx.P.Parse("i = o.f", kExt));
    EXPECT_TRUE(asked.empty());
}

TEST(ExprParser, ExternalRuns) {
    // An empty text: Execute succeeds without a root; the external run needs an expression.
    TExprParse p;
    EXPECT_TRUE(p.Parse("", kExt));
    EXPECT_EQ(p.Root(), nullptr);
    TOrqExpr external;
    EXPECT_FALSE(p.Parser.ExecuteExternalExpr(&external, kExt, p.Tokens("")));
    EXPECT_EQ(p.Parser.GetErrorMsg(), "Expression incorrectly terminated Line 1, Character 1. Token ''");

    // A select column: the value, its source text, and the token after it left current.
    TExprParse col;
    col.Parser.SetValidEndTokens({ostComma, ostFrom});
    TOrqExpr expr;
    TParserStack* stack = col.Tokens("SELECT (a + 1) * 2, b FROM t", true);
    ASSERT_TRUE(col.Parser.ExecuteExternalValueExpr(&expr, kExt, stack)) << col.Parser.GetErrorMsg();
    EXPECT_EQ(Show(col.Root()), "(MUL (ADD a 1) 2)");
    EXPECT_EQ(expr.FirstNode(), col.Root());
    EXPECT_EQ(Trim(expr.ParsedText()), "(a + 1) * 2");
    EXPECT_EQ(col.Parser.CurrentTokenType(), ostComma);
    // The parser keeps nothing of the external expression.
    EXPECT_NE(col.Parser.Expr(), &expr);

    TExprParse cast;
    cast.Parser.SetValidEndTokens({ostFrom});
    TOrqExpr castExpr;
    ASSERT_TRUE(cast.Parser.ExecuteExternalValueExpr(&castExpr, kExt,
                                                     cast.Tokens("SELECT CAST(a AS CHAR(3)) FROM t", true)));
    EXPECT_EQ(Trim(castExpr.ParsedText()), "CAST(a AS CHAR(3))");
    EXPECT_EQ(cast.Root()->DataType(), ftString);
    EXPECT_EQ(cast.Root()->DataSize(), 3);

    // A search expression ending at a token the driver accepts.
    TExprParse on;
    on.Parser.SetValidEndTokens({ostWhere, ostEnd});
    TOrqExpr onExpr;
    ASSERT_TRUE(on.Parser.ExecuteExternalExpr(&onExpr, kExt, on.Tokens("SELECT a = b WHERE c", true)));
    EXPECT_EQ(Show(onExpr.FirstNode()), "(EQ a b)");
    EXPECT_FALSE(on.Parser.ExecuteExternalExpr(&onExpr, kExt, on.Tokens("SELECT a = b ORDER BY c", true)));
    EXPECT_EQ(on.Parser.ErrorMsg(), "Expression incorrectly terminated");
}

TEST(ExprParser, CloneFromExprCombinesConditions) {
    TExprParse filter, driver;
    ASSERT_TRUE(filter.Parse("a = 1", kExt));
    ASSERT_TRUE(driver.Parse("b > 2", kExt));
    filter.Parser.CloneFromExpr(*driver.Parser.Expr(), false, oeoAND);
    EXPECT_EQ(Show(filter.Root()), "(AND (GT b 2) (EQ a 1))");
    EXPECT_EQ(filter.Parser.Expr()->FirstNode(), filter.Root());
    EXPECT_EQ(filter.Root()->ParserToken().Token(), ostAnd);
    filter.Parser.CloneFromExpr(*driver.Parser.Expr(), false, oeoOR);
    EXPECT_EQ(Show(filter.Root()), "(OR (GT b 2) (AND (GT b 2) (EQ a 1)))");
    filter.Parser.CloneFromExpr(*driver.Parser.Expr(), true, oeoNOTDEFINED);
    EXPECT_EQ(Show(filter.Root()), "(GT b 2)");
    EXPECT_THROW(filter.Parser.CloneFromExpr(*driver.Parser.Expr(), false, oeoNOT), EAssertionFailed);
    // Without a root of its own the copy is the whole condition.
    TExprParse empty;
    ASSERT_TRUE(empty.Parse("", kExt));
    empty.Parser.CloneFromExpr(*driver.Parser.Expr(), false, oeoAND);
    EXPECT_EQ(Show(empty.Root()), "(GT b 2)");
}

TEST(ExprParser, StaticHelpers) {
    EXPECT_EQ(TOrqExprParser::GetExprNodeKind(oeoLE), enkRelOperator);
    EXPECT_EQ(TOrqExprParser::GetExprNodeKind(oeoNOTBLANK), enkLogicalOperator);
    EXPECT_EQ(TOrqExprParser::GetExprNodeKind(oeoMINUS), enkArithOperator);
    EXPECT_EQ(TOrqExprParser::GetExprNodeKind(oeoFIELD2), enkField);
    EXPECT_EQ(TOrqExprParser::GetExprNodeKind(oeoCONST2), enkConst);
    EXPECT_EQ(TOrqExprParser::GetExprNodeKind(oeoLIKE), enkUnknown);
    EXPECT_TRUE(TOrqExprParser::IsNumeric(ftLargeint));
    EXPECT_FALSE(TOrqExprParser::IsNumeric(ftDate));
    EXPECT_TRUE(TOrqExprParser::IsTemporal(ftTime));
    EXPECT_FALSE(TOrqExprParser::IsTemporal(ftTimeStamp));
    TParserToken t;
    for (auto [text, op] : std::vector<std::pair<const char*, TOrqExprOperator>>{{"<", oeoLT},
                                                                                 {"<=", oeoLE},
                                                                                 {"=", oeoEQ},
                                                                                 {">=", oeoGE},
                                                                                 {">", oeoGT},
                                                                                 {"<>", oeoNE},
                                                                                 {"+", oeoADD},
                                                                                 {"||", oeoADD},
                                                                                 {"-", oeoSUB},
                                                                                 {"*", oeoMUL},
                                                                                 {"/", oeoDIV},
                                                                                 {"=<", oeoNOTDEFINED}}) {
        t.SetText(text);
        EXPECT_EQ(TOrqExprParser::TokenToOperator(&t), op) << text;
    }
    EXPECT_EQ(TOrqExprParser::TokenToOperator(nullptr), oeoNOTDEFINED);
}

// Column data types, as CREATE TABLE and CAST read them.
TEST(DataTypeParser, TypesSizesAndScales) {
    struct Case {
        const char* Text;
        bool AllowConstraints;
        TFieldType Type;
        int Size, Scale;
        bool NotNull;
        const char* Error;
    } cases[] = {
        {"VARCHAR(40)", false, ftString, 40, 0, false, ""},
        {"CHAR", false, ftString, 1, 0, false, ""},
        {"CHARACTER(5)", false, ftString, 5, 0, false, ""},
        {"NUMERIC(10,2)", false, ftFloat, 10, 2, false, ""},
        {"FLOAT", false, ftFloat, 0, 0, false, ""},
        {"BLOB(0,1)", false, ftMemo, 0, 1, false, ""},
        {"BLOB(0,3)", false, ftFmtMemo, 0, 3, false, ""},
        {"BLOB(0,5)", false, ftGraphic, 0, 5, false, ""},
        {"BLOB(10,7)", false, ftBlob, 10, 7, false, ""},
        {"INTEGER NOT NULL", true, ftInteger, 0, 0, true, ""},
        {"TIMESTAMP", false, ftDateTime, 0, 0, false, ""},
        {"DATETIME", false, ftDateTime, 0, 0, false, ""},
        {"MONEY", false, ftCurrency, 0, 0, false, ""},
        {"SMALLINT", false, ftSmallint, 0, 0, false, ""},
        {"TIME(3)", false, ftTime, 3, 0, false, ""},
        {"INTEGER NOT NULL", false, ftInteger, 0, 0, false, ""},
        {"AUTOINC", false, ftAutoInc, 0, 0, false,
         "Data type is invalid Line 1, Character 1. Token 'AUTOINC'"},
        {"WIDGET", false, ftUnknown, 0, 0, false, "Unknown Datatype Line 1, Character 1. Token 'WIDGET'"},
        {"DEC(5)", false, ftUnknown, 0, 0, false, "Unknown Datatype Line 1, Character 1. Token 'DEC'"},
        {"CHAR()", false, ftString, 0, 0, false,
         "Data type length/precision not specified Line 1, Character 6. Token ')'"},
        {"CHAR(-2)", false, ftString, 0, 0, false,
         "Data type length/precision not specified Line 1, Character 6. Token '-2'"},
        {"NUMERIC(10,-1)", false, ftFloat, 0, 0, false,
         "Data type scale invalid Line 1, Character 12. Token '-1'"},
        {"CHAR(10", false, ftString, 0, 0, false, "Missing Right Parenthesis Line 1, Character 8. Token ''"},
        {"INTEGER NOT 5", true, ftInteger, 0, 0, false, "Invalid token Line 1, Character 13. Token '5'"},
    };
    for (const Case& c : cases) {
        TExprParse tokens;
        TOrqDataTypeParser p;
        p.Execute(TOrqParserOptions{}, tokens.Tokens(c.Text));
        p.SetAllowConstraints(c.AllowConstraints);
        const bool ok = p.ParseDataType();
        EXPECT_EQ(ok, *c.Error == 0) << c.Text;
        EXPECT_EQ(p.GetErrorMsg(), c.Error) << c.Text;
        if (!ok) continue;
        EXPECT_EQ(p.DataType(), c.Type) << c.Text;
        EXPECT_EQ(p.FieldSize(), c.Size) << c.Text;
        EXPECT_EQ(p.Scale(), c.Scale) << c.Text;
        EXPECT_EQ(p.NotNull(), c.NotNull) << c.Text;
    }
    // A context may allow AUTOINC.
    TExprParse tokens;
    TOrqDataTypeParser p;
    p.Execute(TOrqParserOptions{}, tokens.Tokens("AUTOINC"));
    p.SetInvalidDataTypes({});
    EXPECT_TRUE(p.ParseDataType());
    EXPECT_EQ(p.DataType(), ftAutoInc);
}

}  // namespace
}  // namespace ostra
