// The pre-parser: single-stack, sectioned and expression-only passes, statement types,
// section requests, parameter lists, custom ordinals, stack copies and token lifetime.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/sql/orqPreParser.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/db/FieldType.h"

namespace ostra {
namespace {

// The texts of a stack's tokens from the top down; the end of the text shows as "<end>".
std::vector<std::string> Texts(const TParserStack* stack) {
    std::vector<std::string> texts;
    if (stack == nullptr) return texts;
    for (int i = 0; i < stack->Count(); ++i) {
        const TParserToken* t = stack->PeekAt(i);
        texts.push_back(t->Token() == ostEnd && t->Text().empty() ? "<end>" : t->Text());
    }
    return texts;
}

using S = std::vector<std::string>;

void PreParse(TOrqPreParser& pre, const std::string& text, bool singleStack, bool exprOnly = false) {
    pre.SetParseSingleStack(singleStack);
    pre.SetParseAsExprOnly(exprOnly);
    pre.SetText(text);
    pre.PreParseTokens();
}

TEST(PreParser, SingleStackHoldsEveryTokenButComments) {
    TOrqPreParser pre;
    PreParse(pre, "SELECT a /* c */ FROM t\n  WHERE x = 1;", true);
    ASSERT_EQ(pre.GetSectionCount(), 1);
    TParserStack* stack = pre.GetSingleStack();
    EXPECT_EQ(stack->Section(), ostUnknown);
    EXPECT_EQ(Texts(stack), (S{"SELECT", "a", "FROM", "t", "WHERE", "x", "=", "1", ";", "<end>"}));
    EXPECT_EQ(pre.SQLStatementType(), osSQLSelect);
    EXPECT_EQ(pre.GetSingleStackCount(), 10);
    for (int i = 0; i < stack->Count(); ++i) EXPECT_EQ(stack->PeekAt(i)->Section(), ostSelect);
    // Positions and raw texts are stored as the scanner gave them.
    const TParserToken* where = stack->PeekAt(4);
    EXPECT_EQ(where->LineNo(), 2);
    EXPECT_EQ(where->LineOffset(), 3);
    EXPECT_EQ(where->RawTokenText(), "  WHERE");
    // A trailing ";" is an end token with text ";" followed by the end of the text.
    EXPECT_EQ(stack->PeekAt(8)->Token(), ostEnd);
    EXPECT_EQ(stack->PeekAt(9)->Token(), ostEnd);
    EXPECT_FALSE(pre.CheckParseComplete());
    pre.SetSingleStackCountTo(1);
    EXPECT_TRUE(pre.CheckParseComplete());
}

TEST(PreParser, StatementTypes) {
    struct Case {
        const char* Text;
        TOrqSQLStatementType Type;
    } cases[] = {
        {"select * from t", osSQLSelect},
        {"INSERT INTO t VALUES (1)", osSQLInsert},
        {"DELETE FROM t", osSQLDelete},
        {"UPDATE t SET a = 1", osSQLUpdate},
        {"CREATE TABLE t (a INT)", osSchemaManipulation},
        {"DROP TABLE t", osSchemaManipulation},
        {"ALTER TABLE t ADD b INT", osSchemaManipulation},
        {"/* lead */ SELECT a FROM t", osSQLSelect},
        {"+ 1", osSQLUnknown},
        {"ADD b", osSQLUnknown},
        {"GRANT x", osSQLUnknown},
        {"", osSQLUnknown},
    };
    for (const Case& c : cases) {
        TOrqPreParser pre;
        PreParse(pre, c.Text, true);
        EXPECT_EQ(pre.SQLStatementType(), c.Type) << c.Text;
    }
    // Sectioned passes never store section keywords, so they classify no SQL statement.
    TOrqPreParser sectioned;
    PreParse(sectioned, "SELECT a FROM t", false);
    EXPECT_EQ(sectioned.SQLStatementType(), osSQLUnknown);
    PreParse(sectioned, "SELECT a FROM t", false, true);
    EXPECT_EQ(sectioned.SQLStatementType(), osSQLExprOnly);
}

TEST(PreParser, SectionedPassOpensAStackPerClause) {
    TOrqPreParser pre;
    PreParse(pre, "lost WHERE a IN (SELECT b FROM u) /* c */", false);
    ASSERT_EQ(pre.GetSectionCount(), 3);
    EXPECT_EQ(pre.Stacks(0)->Section(), ostWhere);
    EXPECT_EQ(Texts(pre.Stacks(0)), (S{"a", "IN", "("}));
    EXPECT_EQ(Texts(pre.Stacks(1)), (S{"b"}));
    EXPECT_EQ(Texts(pre.Stacks(2)), (S{"u", ")", "/* c */", "<end>"}));
    EXPECT_EQ(pre.Stacks(2)->PeekAt(0)->Section(), ostFrom);
    EXPECT_EQ(pre.GetSection(ostFrom, nullptr), pre.Stacks(2));
    EXPECT_EQ(pre.GetSection(ostWhere, nullptr), pre.Stacks(0));
    EXPECT_EQ(pre.GetSection(ostHaving, nullptr), nullptr);
    EXPECT_EQ(pre.GetSingleStackCount(), 0);
    EXPECT_THROW(pre.GetSingleStack(), EAssertionFailed);

    // FROM directly inside WHERE is an ordinary token; a later WHERE section is the one found.
    PreParse(pre, "WHERE x FROM y WHERE z", false);
    ASSERT_EQ(pre.GetSectionCount(), 2);
    EXPECT_EQ(Texts(pre.Stacks(0)), (S{"x", "FROM", "y"}));
    EXPECT_EQ(pre.Stacks(0)->PeekAt(1)->Section(), ostWhere);
    EXPECT_EQ(pre.GetSection(ostWhere, nullptr), pre.Stacks(1));
}

TEST(PreParser, ExpressionOnlyKeepsKeywordsAndComments) {
    TOrqPreParser pre;
    PreParse(pre, "a = 1 /* x */ OR b FROM SELECT WHERE", false, true);
    ASSERT_EQ(pre.GetSectionCount(), 1);
    EXPECT_EQ(pre.Stacks(0)->Section(), ostWhere);
    EXPECT_EQ(Texts(pre.Stacks(0)),
              (S{"a", "=", "1", "/* x */", "OR", "b", "FROM", "SELECT", "WHERE", "<end>"}));
    EXPECT_EQ(pre.Stacks(0)->PeekAt(3)->Token(), ostComment);
    EXPECT_EQ(pre.GetSection(ostWhere, nullptr), pre.Stacks(0));
}

TEST(PreParser, OnlyACommentLeavesTheEndToken) {
    TOrqPreParser pre;
    PreParse(pre, "  /* nothing here */  ", true);
    EXPECT_EQ(Texts(pre.GetSingleStack()), (S{"<end>"}));
    EXPECT_EQ(pre.SQLStatementType(), osSQLUnknown);
    EXPECT_TRUE(pre.CheckParseComplete());
}

TEST(PreParser, TextAfterANulIsUnparsed) {
    TOrqPreParser pre;
    PreParse(pre, std::string("SELECT a\0 rest", 14), true);
    EXPECT_EQ(Texts(pre.GetSingleStack()), (S{"SELECT", "a", "<end>"}));
    EXPECT_EQ(pre.UnparsedText(), "rest");
    pre.SetSingleStackCountTo(0);
    EXPECT_FALSE(pre.CheckParseComplete());
}

TEST(PreParser, SingleStackSectionRequests) {
    TOrqPreParser pre;
    PreParse(pre, "SELECT a FROM t WHERE x", true);
    // On a fresh statement the SELECT keyword is on top and stays.
    TParserStack* stack = pre.GetSection(ostSelect, nullptr);
    EXPECT_EQ(stack, pre.GetSingleStack());
    EXPECT_EQ(stack->Peek()->Text(), "SELECT");
    // Otherwise tokens are popped up to and including the keyword...
    EXPECT_EQ(pre.GetSection(ostWhere, nullptr)->Peek()->Text(), "x");
    // ...unless the caller's current token is the keyword.
    PreParse(pre, "SELECT a FROM t", true);
    TParserToken from;
    from.SetToken(ostFrom);
    EXPECT_EQ(pre.GetSection(ostFrom, &from)->Peek()->Text(), "SELECT");
    // A keyword that never comes empties the stack.
    EXPECT_EQ(pre.GetSection(ostHaving, nullptr)->Count(), 0);
    EXPECT_THROW(pre.GetSection(ostFieldName, nullptr), EAssertionFailed);
    EXPECT_THROW(pre.GetSection(ostEnd, nullptr), EAssertionFailed);
}

TEST(PreParser, ParameterNamesOncePerNameInFirstSpelling) {
    TOrqPreParser pre;
    PreParse(pre, "SELECT * FROM t WHERE a = :a OR b = :A OR c = :b OR d = :", true);
    TStringList list;
    pre.GetParamList(list);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Strings(0), "a");
    EXPECT_EQ(list.Strings(1), "b");

    // Every statement kind lists its parameters the same way.
    struct Case {
        const char* Text;
        TOrqSQLStatementType Type;
        std::vector<std::string> Names;
    } cases[] = {
        {"INSERT INTO t (a, b) VALUES (:a, :B)", osSQLInsert, {"a", "B"}},
        {"UPDATE t SET a = :v, b = :w WHERE id = :id", osSQLUpdate, {"v", "w", "id"}},
        {"DELETE FROM t WHERE id = :ID OR id = :id", osSQLDelete, {"ID"}},
        {"SELECT a FROM t WHERE b IN (SELECT c FROM u WHERE d = :inner) AND e = :outer",
         osSQLSelect,
         {"inner", "outer"}},
        {"CREATE TABLE t (a INT)", osSchemaManipulation, {}},
    };
    for (const Case& c : cases) {
        PreParse(pre, c.Text, true);
        EXPECT_EQ(pre.SQLStatementType(), c.Type) << c.Text;
        TStringList names;
        pre.GetParamList(names);
        std::vector<std::string> got;
        for (int i = 0; i < names.Count(); ++i) got.push_back(names.Strings(i));
        EXPECT_EQ(got, c.Names) << c.Text;
    }

    PreParse(pre, "WHERE x = :Low AND y = :high", false);
    TStringList sectioned;
    pre.GetParamList(sectioned);
    ASSERT_EQ(sectioned.Count(), 2);
    EXPECT_EQ(sectioned.Strings(0), "Low");
    EXPECT_EQ(sectioned.Strings(1), "high");
}

TEST(PreParser, FunctionAndDataTypeTokensGetTheirOrdinals) {
    TOrqPreParser pre;
    PreParse(pre, "SELECT Count(a), MIN(b), upper(c), TRIM(d), CAST(e AS REAL), CAST(f AS dec) FROM t", true);
    std::vector<std::pair<std::string, int>> seen;
    const TParserStack* stack = pre.GetSingleStack();
    for (int i = 0; i < stack->Count(); ++i) {
        const TParserToken* t = stack->PeekAt(i);
        if (t->Token() == ostAggFunc || t->Token() == ostStrFunc || t->Token() == ostDataType)
            seen.emplace_back(t->Text(), t->CustomOrdinal());
    }
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{{"Count", oafCount},
                                                              {"MIN", oafMin},
                                                              {"upper", osfUpper},
                                                              {"TRIM", osfTrim},
                                                              {"REAL", ftFloat},
                                                              {"dec", ftFloat}}));
}

TEST(PreParser, AssignSharesTheTokensAndTrimHandsTheConsumedCountBack) {
    auto source = std::make_unique<TOrqPreParser>();
    PreParse(*source, "SELECT b FROM u) AND x = 1", true);
    TOrqPreParser nested;
    nested.AssignStacks(*source);
    ASSERT_EQ(nested.GetSectionCount(), 1);
    EXPECT_EQ(nested.Stacks(0)->Peek(), source->Stacks(0)->Peek());  // shared, not copied
    EXPECT_EQ(nested.OwnedTokenCount(), 0);
    nested.SetParseSingleStack(true);
    // The nested parse consumes "SELECT b FROM u )".
    for (int i = 0; i < 5; ++i) nested.Stacks(0)->Pop();
    source->TrimStacks(nested);
    EXPECT_EQ(Texts(source->GetSingleStack()), (S{"AND", "x", "=", "1", "<end>"}));

    TOrqPreParser empty;
    EXPECT_THROW(source->TrimStacks(empty), EAssertionFailed);
    // The shared tokens live as long as the nested pre-parser (ASan would report freed ones).
    source.reset();
    EXPECT_EQ(Texts(nested.GetSingleStack()), (S{"AND", "x", "=", "1", "<end>"}));
}

TEST(PreParser, TokensOutliveLaterPreParses) {
    TOrqPreParser pre;
    PreParse(pre, "SELECT a FROM t", true);
    const TParserToken* kept = pre.GetSingleStack()->PeekAt(1);
    const int owned = pre.OwnedTokenCount();
    PreParse(pre, "DELETE FROM u", true);
    pre.Clear();
    EXPECT_EQ(pre.GetSectionCount(), 0);
    EXPECT_EQ(kept->Text(), "a");  // still alive (ASan would report a freed token)
    EXPECT_EQ(pre.OwnedTokenCount(), owned + 4);
    pre.FreeOwnedTokens();
    EXPECT_EQ(pre.OwnedTokenCount(), 0);
}

}  // namespace
}  // namespace ostra
