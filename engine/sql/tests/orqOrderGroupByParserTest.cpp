// The ORDER BY and GROUP BY list parsers: items by number and by name, key texts, where a
// list ends, and the error texts with their positions.
#include <gtest/gtest.h>

#include <string>

#include "engine/sql/orqGroupByParser.h"
#include "engine/sql/orqOrderByParser.h"
#include "engine/sql/tests/support/TestStatementTokens.h"
#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace ostra {
namespace {

// "2 desc | t.a" : number or key, " desc" when descending, items separated by " | ".
std::string Show(const TOrderByItems& items) {
    std::string s;
    for (int i = 0; i < items.Count(); ++i) {
        const TOrderByItem* item = items.Items(i);
        if (i > 0) s += " | ";
        s += item->FieldIndex() > 0 ? IntToStr(item->FieldIndex()) : item->SortKey();
        if (item->FieldIndex() > 0 && !item->SortKey().empty()) s += "?key=" + item->SortKey();
        if (item->Descending()) s += " desc";
    }
    return s;
}

std::string Show(const TGroupByItems& items) {
    std::string s;
    for (int i = 0; i < items.Count(); ++i) {
        if (i > 0) s += " | ";
        const TGroupByItem* item = items.Items(i);
        s += item->TableName().empty() ? item->FieldName() : item->TableName() + "." + item->FieldName();
    }
    return s;
}

TEST(OrderByParser, Items) {
    struct Case {
        const char* Text;
        const char* Items;
    } cases[] = {
        {"SELECT a FROM t ORDER BY 2 DESC, t.a", "2 desc | t.a"},
        {"SELECT a FROM t ORDER BY a + b", "a + b"},
        {"SELECT a FROM t ORDER BY a DESC b", "a desc | b"},
        {"SELECT a FROM t ORDER BY a ASC, b DESCENDING, 3", "a | b desc | 3"},
        {"SELECT a FROM t ORDER BY \"My Col\" DESC", "My Col desc"},
        {"SELECT a FROM t ORDER BY UPPER( t.name )  DESC", "UPPER( t.name ) desc"},
        {"SELECT a FROM t ORDER BY a;", "a"},
        {"SELECT a FROM t ORDER BY", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        test::TStatementTokens tokens;
        TOrqOrderByParser parser;
        TOrderByItems items;
        items.AddOrderByItem(9, "stale", true);
        EXPECT_TRUE(parser.ExecuteOrderBy(items, tokens.After(c.Text, ostOrderBy)));
        EXPECT_EQ(Show(items), c.Items);
        EXPECT_EQ(parser.GetErrorMsg(), "");
    }
}

TEST(OrderByParser, NoStackClearsTheItems) {
    TOrqOrderByParser parser;
    TOrderByItems items;
    items.AddOrderByItem(1, "", false);
    EXPECT_TRUE(parser.ExecuteOrderBy(items, nullptr));
    EXPECT_EQ(items.Count(), 0);
}

TEST(OrderByParser, ColumnNumberMustBeAWholeNumberInRange) {
    const struct {
        const char* Text;
        const char* Error;
    } cases[] = {
        {"SELECT a FROM t ORDER BY 1.5", "Invalid token Line 1, Character 26. Token '1.5'"},
        {"SELECT a FROM t ORDER BY 2, 4294967297", "Order by column number is out of range Line 1, Character 29. Token '4294967297'"},
    };
    for (const auto& c : cases) {
        test::TStatementTokens tokens;
        TOrqOrderByParser parser;
        TOrderByItems items;
        EXPECT_FALSE(parser.ExecuteOrderBy(items, tokens.After(c.Text, ostOrderBy)));
        EXPECT_EQ(parser.GetErrorMsg(), c.Error);
    }
}

// In a subquery the list ends at the subquery's ")" and leaves it for the outer statement.
TEST(OrderByParser, SubqueryEndsAtClosingParenthesis) {
    test::TStatementTokens tokens;
    TOrqOrderByParser parser;
    parser.SetIsSubquery(true);
    TOrderByItems items;
    EXPECT_TRUE(
        parser.ExecuteOrderBy(items, tokens.After("SELECT a FROM t ORDER BY a DESC) AND x = 1", ostOrderBy)));
    EXPECT_EQ(Show(items), "a desc");
    EXPECT_EQ(parser.CurrentTokenType(), ostRParen);
    EXPECT_EQ(parser.Stack()->Count(), 5);  // AND x = 1 and the end marker
}

TEST(GroupByParser, Items) {
    struct Case {
        const char* Text;
        const char* Items;
        TOrqSQLToken StopsAt;
    } cases[] = {
        {"SELECT a FROM t GROUP BY t.a, b", "t.a | b", ostEnd},
        {"SELECT a FROM t GROUP BY a b HAVING COUNT(*) > 1", "a | b", ostHaving},
        {"SELECT a FROM t GROUP BY a ORDER BY a", "a", ostOrderBy},
        {"SELECT a FROM t GROUP BY a UNION SELECT b FROM u", "a", ostUnion},
        {"SELECT a FROM t GROUP BY", "", ostEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        test::TStatementTokens tokens;
        TOrqGroupByParser parser;
        TGroupByItems items;
        items.Add()->SetFieldName("stale");
        EXPECT_TRUE(parser.ExecuteGroupBy(items, tokens.After(c.Text, ostGroupBy)));
        EXPECT_EQ(Show(items), c.Items);
        EXPECT_EQ(parser.CurrentTokenType(), c.StopsAt);
    }
}

TEST(GroupByParser, Errors) {
    struct Case {
        const char* Text;
        const char* Error;
    } cases[] = {
        {"SELECT a FROM t GROUP BY 1", "invalid column name descriptor Line 1, Character 26. Token '1'"},
        {"SELECT a FROM t GROUP BY a,,b", "missing column name descriptor Line 1, Character 28. Token ','"},
        {"SELECT a FROM t GROUP BY a, 'x'", "invalid column name descriptor Line 1, Character 29. Token 'x'"},
        // Only the first error counts.
        {"SELECT a FROM t\nGROUP BY a + b, 2",
         "invalid column name descriptor Line 2, Character 12. Token '+'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        test::TStatementTokens tokens;
        TOrqGroupByParser parser;
        TGroupByItems items;
        EXPECT_FALSE(parser.ExecuteGroupBy(items, tokens.After(c.Text, ostGroupBy)));
        EXPECT_EQ(parser.GetErrorMsg(), c.Error);
    }
}

}  // namespace
}  // namespace ostra
