// Hostile statements and filters through the parser engine and the expression parser: long
// runs of keywords that the scanner looks ahead from, deep nesting of parentheses, functions
// and subqueries, long UNION chains, and values the parsers cannot convert. Each gives a parse
// error with a position, never a crash, an exception or work out of proportion to the text.
#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define OSTRA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSTRA_ASAN 1
#endif
#endif
#if OSTRA_ASAN
// The address sanitizer's runtime counts the bytes it has handed out and not taken back.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include "engine/sql/tests/support/TestExprParsing.h"
#include "engine/sql/tests/support/TestQueryDriver.h"

namespace ostra {
namespace {

using test::TTestQuery;

const test::TTableFixture& Tables() {
    static const test::TTableFixture tables = [] {
        test::TTableFixture t;
        t["a"] = {{"ID", ftInteger, 4}, {"NAME", ftString, 21}, {"D", ftDate, 4}};
        return t;
    }();
    return tables;
}

std::string Repeat(const std::string& S, int N) {
    std::string r;
    r.reserve(S.size() * static_cast<std::size_t>(N));
    for (int i = 0; i < N; ++i) r += S;
    return r;
}

// Thousands of NOTs: one NOT applies to a predicate, so the second is refused at its position,
// in a statement and in a filter alike.
TEST(ParserEngineLimits, RunsOfNotAreScannedAndRefusedQuickly) {
    const std::string nots = Repeat("NOT ", 20000);
    TTestQuery q(Tables());
    EXPECT_FALSE(q.Validate("SELECT ID FROM a WHERE " + nots + "ID = 1"));
    EXPECT_EQ(q.ErrorText(), "Invalid token Line 1, Character 28. Token 'NOT'");

    test::TExprParse filter;
    EXPECT_FALSE(filter.Parse(nots + "ID = 1", TOrqParserOptions{opoExtSyntax}));
    EXPECT_EQ(filter.Parser.GetErrorMsgNoLine(), "Invalid token Character 5. Token 'NOT'");
    EXPECT_TRUE(filter.Parse("NOT ID IS NOT NULL AND NOT NAME NOT LIKE 'a%'", TOrqParserOptions{opoExtSyntax}));
}

const char kTooDeep[] = "Nesting is too deep: more than 1000 levels";

// N parentheses around Inner.
std::string Nest(const std::string& Inner, int N) {
    return Repeat("(", N) + Inner + Repeat(")", N);
}

// Parentheses, functions and IN lists nest up to 1,000 levels; one more, or 15,000, is a parse
// error at the token of level 1,001, in a statement and in a filter alike.
TEST(ParserEngineLimits, ExpressionNestingIsLimited) {
    struct Case {
        std::string Where;
        bool Ok;
        std::string Error;  // the position part of the error text
    };
    const Case cases[] = {
        {Nest("ID = 1", 999), true, ""},
        {Nest("ID = 1", 1000), false, " Line 1, Character 1024. Token 'ID'"},
        {Nest("ID = 1", 15000), false, " Line 1, Character 1024. Token '('"},
        {"ID = " + Repeat("UPPER(", 15000) + "NAME" + Repeat(")", 15000), false,
         " Line 1, Character 6029. Token 'UPPER'"},
        {"ID IN (" + Repeat("1 + (", 15000) + "1" + Repeat(")", 15001), false,
         " Line 1, Character 5026. Token '1'"},
        {Repeat("NOT (", 15000) + "ID = 1" + Repeat(")", 15000), false, " Line 1, Character 5027. Token '('"},
    };
    for (const Case& c : cases) {
        TTestQuery q(Tables());
        EXPECT_EQ(q.Validate("SELECT ID FROM a WHERE " + c.Where), c.Ok) << c.Where.substr(0, 40);
        EXPECT_EQ(q.ErrorText(), c.Ok ? "" : kTooDeep + c.Error) << c.Where.substr(0, 40);
    }
    test::TExprParse filter;
    EXPECT_TRUE(filter.Parse(Nest("ID = 1", 999), TOrqParserOptions{opoExtSyntax}));
    EXPECT_FALSE(filter.Parse(Nest("ID = 1", 15000), TOrqParserOptions{opoExtSyntax}));
    EXPECT_EQ(filter.Parser.GetErrorMsgNoLine(), std::string(kTooDeep) + " Character 1001. Token '('");
}

// A chain of operators builds a tree as tall as the chain; it too may not pass 1,000 levels,
// so that every walk over a tree the parser accepted stays within the stack.
TEST(ParserEngineLimits, TreeHeightIsLimited) {
    std::string chain = "ID = 0";
    for (int i = 1; i <= 998; ++i) chain += " OR ID = " + std::to_string(i);
    TTestQuery ok(Tables());
    EXPECT_TRUE(ok.Validate("SELECT ID FROM a WHERE " + chain)) << ok.ErrorText();
    // The tallest tree allowed can be copied (a recursive walk).
    TOrqExpr copy;
    ASSERT_NE(copy.CloneFromTree(ok.Engine->WhereParser().RootNode()), nullptr);

    TTestQuery tooTall(Tables());
    EXPECT_FALSE(tooTall.Validate("SELECT ID FROM a WHERE " + chain + " OR ID = 999"));
    EXPECT_EQ(tooTall.ErrorText().substr(0, sizeof(kTooDeep) - 1), kTooDeep);

    TTestQuery sum(Tables());
    EXPECT_FALSE(sum.Validate("SELECT ID" + Repeat(" + 1", 20000) + " FROM a"));
    EXPECT_EQ(sum.ErrorText().substr(0, sizeof(kTooDeep) - 1), kTooDeep);
}

// SELECT ... WHERE ID IN (SELECT ... WHERE ID IN (... N levels.
std::string NestedSubqueries(int N) {
    std::string s;
    for (int i = 0; i < N; ++i) s += "SELECT ID FROM a WHERE ID IN (";
    return s + "SELECT ID FROM a" + Repeat(")", N);
}

// Subqueries count several levels each: 1,000 nested subqueries are refused at the SELECT
// where the limit is passed, the deepest allowed nesting parses, and table references in
// parentheses and chains of joins are limited the same way.
TEST(ParserEngineLimits, SubqueryNestingIsLimited) {
    TTestQuery deep(Tables());
    EXPECT_FALSE(deep.Validate(NestedSubqueries(1000)));
    EXPECT_NE(deep.ErrorText().find(std::string(kTooDeep) + " Line 1, Character "), std::string::npos);
    EXPECT_NE(deep.ErrorText().find("Token 'SELECT'"), std::string::npos) << deep.ErrorText();

    // Each level is an IN list, the SELECT's primary and the subquery's weight.
    const int deepest = COrqMaxNestingLevel / (2 + COrqSubqueryNestingWeight);
    TTestQuery ok(Tables());
    EXPECT_TRUE(ok.Validate(NestedSubqueries(deepest))) << ok.ErrorText();
    TTestQuery over(Tables());
    EXPECT_FALSE(over.Validate(NestedSubqueries(deepest + 1)));
    EXPECT_NE(over.ErrorText().find(kTooDeep), std::string::npos) << over.ErrorText();

    TTestQuery from(Tables());
    EXPECT_FALSE(from.Validate("SELECT ID FROM " + Nest("a", 15000)));
    EXPECT_EQ(from.ErrorText(), std::string(kTooDeep) + " Line 1, Character 1016. Token '('");
    // A chain of joins is a reference tree as tall as the chain.
    TTestQuery joins(Tables());
    EXPECT_FALSE(joins.Validate("SELECT a.ID FROM a" + Repeat(" CROSS JOIN a", 5000)));
    EXPECT_EQ(joins.ErrorText().substr(0, sizeof(kTooDeep) - 1), kTooDeep);
    TTestQuery groups(Tables());
    EXPECT_FALSE(groups.Validate("SELECT a.ID FROM a" + Repeat(", a x CROSS JOIN a y", 1000)));
    EXPECT_EQ(groups.ErrorText().substr(0, sizeof(kTooDeep) - 1), kTooDeep);
}

// Values the parsers cannot read, and a reference left open, are parse errors with a position:
// no exception leaves the engine. A date literal that cannot be read keeps its engine error's
// text, followed by the position the parser had reached (the token after the literal).
#define DateError \
    "The Ostra database engine raised an error\r\n Invalid date value (error code #10059) - Value "
TEST(ParserEngineLimits, NoExceptionLeavesTheEngine) {
    const struct {
        const char* Text;
        const char* Error;
    } cases[] = {
        {"SELECT * FROM (a", "Missing Right Parenthesis in table reference Line 1, Character 17. Token ''"},
        {"SELECT ID FROM a ORDER BY 4294967297",
         "Order by column number is out of range Line 1, Character 27. Token '4294967297'"},
        {"SELECT ID FROM a ORDER BY 1.5", "Invalid token Line 1, Character 27. Token '1.5'"},
        {"INSERT INTO a VALUES (2..5)", "Invalid token Line 1, Character 23. Token '2..5'"},
        {"SELECT ID FROM a WHERE D = '2001-13-45'",
         DateError "2001-13-45 was not of the expected format yyyy-mmm-dd Line 1, Character 40. Token ''"},
        {"SELECT ID FROM a WHERE D BETWEEN 'x' AND 'y'",
         DateError "x was not of the expected format yyyy-mmm-dd Line 1, Character 45. Token ''"},
        {"SELECT ID FROM a WHERE D IN ('2001-02-03', 'never')",
         DateError "never was not of the expected format yyyy-mmm-dd Line 1, Character 51. Token ')'"},
        {"DELETE FROM a WHERE D = 'never'",
         DateError "never was not of the expected format yyyy-mmm-dd Line 1, Character 32. Token ''"},
        {"UPDATE a SET ID = 1 WHERE ID IN (SELECT ID FROM a WHERE D > 'never')",
         DateError "never was not of the expected format yyyy-mmm-dd Line 1, Character 68. Token ')'"},
    };
    for (const auto& c : cases) {
        TTestQuery q(Tables());
        bool ok = true;
        EXPECT_NO_THROW(ok = q.Validate(c.Text)) << c.Text;
        EXPECT_FALSE(ok) << c.Text;
        EXPECT_EQ(q.ErrorText(), c.Error) << c.Text;
    }
}
#undef DateError

// Random statements from fragments of the dialect, bad numbers and dates among them: the engine
// answers each with a result and never raises.
TEST(ParserEngineLimits, RandomStatementsNeverRaise) {
    // clang-format off
    const char* starts[] = {"SELECT", "SELECT ID FROM a WHERE", "INSERT INTO a VALUES (", "INSERT INTO a (ID, D) VALUES (",
                            "UPDATE a SET", "DELETE FROM a WHERE", "SELECT ID FROM a ORDER BY", "SELECT ID FROM (a",
                            "CREATE TABLE t (", "SELECT ID FROM a GROUP BY ID HAVING"};
    const char* fragments[] = {"ID", "D", "NAME", "a", "a.ID", "=", "<>", "<", "(", ")", ",", "1", "2..5", "1.2.3",
                               "4294967297", "'2001-02-03'", "'never'", "#x#", "AND", "OR", "NOT", "IN", "BETWEEN",
                               "LIKE", "IS", "NULL", "SELECT", "FROM", "WHERE", "UNION", "ALL", "ORDER BY", "GROUP BY",
                               "+", "-", "*", "/", "||", "CAST", "AS", "DATE", "INTEGER", "CHAR(5)", "EXTRACT", "YEAR",
                               "UPPER", "SUBSTRING", "COUNT", "SUM", "(*)", "DISTINCT", "EXISTS", "ANY", ":p", "JOIN",
                               "ON", "USING", "CROSS", "VALUES", "SET", ";", "[x", "'", "\"", "/*"};
    // clang-format on
    std::mt19937 rng(20261211);
    std::uniform_int_distribution<std::size_t> start(0, std::size(starts) - 1);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(fragments) - 1);
    std::uniform_int_distribution<int> length(0, 14);
    for (int round = 0; round < 4000; ++round) {
        std::string text = starts[start(rng)];
        for (int n = length(rng); n > 0; --n) text += std::string(" ") + fragments[pick(rng)];
        TTestQuery q(Tables());
        EXPECT_NO_THROW(q.Validate(text)) << text;
    }
}

// The bytes the process holds on the heap now.
std::size_t AllocatedBytes() {
#if OSTRA_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// The heap a parsed statement holds (its query with every nested engine kept to the end).
std::size_t BytesHeldAfterParsing(const std::string& Text) {
    const std::size_t before = AllocatedBytes();
    TTestQuery q(Tables());
    EXPECT_TRUE(q.Validate(Text)) << q.ErrorText();
    return AllocatedBytes() - before;
}

// A nested statement reads the rest of the outer one without copying it: the memory a long
// UNION chain or a deep nesting of subqueries holds grows in proportion to its length (twice
// the members, about twice the bytes; a copy per member would make it four times).
TEST(ParserEngineLimits, NestedStatementsTakeLinearMemory) {
    auto unionOf = [](int N) {
        std::string s = "SELECT ID FROM a";
        for (int i = 1; i < N; ++i) s += " UNION SELECT ID FROM a WHERE ID = " + std::to_string(i);
        return s;
    };
    const std::string members1000 = unionOf(1000);
    const std::string members2000 = unionOf(2000);
    const std::size_t union1000 = BytesHeldAfterParsing(members1000);
    const std::size_t union2000 = BytesHeldAfterParsing(members2000);
    EXPECT_LT(union2000, union1000 * 5 / 2) << union1000 << " " << union2000;
    EXPECT_LT(union2000 / 2000, 96u * 1024) << union2000;

    const int deepest = COrqMaxNestingLevel / (2 + COrqSubqueryNestingWeight);
    const std::string half = NestedSubqueries(deepest / 2);
    const std::string full = NestedSubqueries(deepest / 2 * 2);
    const std::size_t nestedHalf = BytesHeldAfterParsing(half);
    const std::size_t nestedFull = BytesHeldAfterParsing(full);
    EXPECT_LT(nestedFull, nestedHalf * 5 / 2) << nestedHalf << " " << nestedFull;
}

}  // namespace
}  // namespace ostra
