// Hostile statements and filters through the parser engine and the expression parser: long
// runs of keywords that the scanner looks ahead from, deep nesting of parentheses, functions
// and subqueries, long UNION chains, and values the parsers cannot convert. Each gives a parse
// error with a position, never a crash, an exception or work out of proportion to the text.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace ostra
