// The token stack and the parser base: stack order and trimming, copies, the end-token rule,
// the first-error rule and the exact error texts with positions.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqBaseParser.h"
#include "engine/sql/orqPreParser.h"
#include "engine/storage/orqConsts.h"

namespace ostra {
namespace {

// Tokens owned by the fixture, queued in reading order.
class TokenFixture : public ::testing::Test {
protected:
    TParserToken* Make(TOrqSQLToken type, const std::string& text, int line = 1, int col = 1) {
        auto t = std::make_unique<TParserToken>();
        t->SetToken(type);
        t->SetText(text);
        t->SetLineNo(line);
        t->SetLineOffset(col);
        t->SetRawTokenText(" " + text);
        Owned.push_back(std::move(t));
        return Owned.back().get();
    }
    TParserTokenList Owned;
};

using ParserStack = TokenFixture;

TEST_F(ParserStack, QueuedTokensPopInReadingOrder) {
    TParserStack stack;
    TParserToken* a = stack.Queue(Make(ostFieldName, "a"));
    TParserToken* b = stack.Queue(Make(ostComma, ","));
    TParserToken* c = stack.Queue(Make(ostEnd, ""));
    ASSERT_EQ(stack.Count(), 3);
    EXPECT_EQ(stack.Peek(), a);
    EXPECT_EQ(stack.PeekAt(0), a);
    EXPECT_EQ(stack.PeekAt(2), c);
    EXPECT_TRUE(stack.AtLeast(3));
    EXPECT_FALSE(stack.AtLeast(4));
    EXPECT_EQ(stack.Pop(), a);
    TParserToken* d = stack.Push(Make(ostNumber, "1"));
    EXPECT_EQ(stack.PopItem(), d);
    EXPECT_EQ(stack.Pop(), b);
    EXPECT_EQ(stack.Pop(), c);
    EXPECT_EQ(stack.Count(), 0);
    // Past the bottom there is nothing, and nothing breaks.
    EXPECT_EQ(stack.Pop(), nullptr);
    EXPECT_EQ(stack.Peek(), nullptr);
    EXPECT_EQ(stack.PeekAt(0), nullptr);
    EXPECT_EQ(stack.Count(), 0);
}

TEST_F(ParserStack, SetCountToCutsFromTheTopOnly) {
    TParserStack stack;
    for (int i = 0; i < 5; ++i) stack.Queue(Make(ostNumber, std::to_string(i)));
    stack.SetCountTo(7);
    EXPECT_EQ(stack.Count(), 5);
    stack.SetCountTo(5);
    EXPECT_EQ(stack.Count(), 5);
    stack.SetCountTo(2);
    ASSERT_EQ(stack.Count(), 2);
    EXPECT_EQ(stack.Peek()->Text(), "3");  // tokens 0..2 were consumed, 3 and 4 remain
    EXPECT_EQ(stack.PeekAt(1)->Text(), "4");
}

TEST_F(ParserStack, CopyStackMakesOwnedCopiesInTheSameOrder) {
    TParserStack source;
    source.Queue(Make(ostFieldName, "a", 2, 7))->SetCustomOrdinal(3);
    source.Queue(Make(ostEnd, ";"));
    TParserStack copy;
    copy.Queue(Make(ostNumber, "stale"));
    TParserTokenList owner;
    copy.CopyStack(source, owner);
    ASSERT_EQ(copy.Count(), 2);
    ASSERT_EQ(owner.size(), 2u);
    EXPECT_NE(copy.Peek(), source.Peek());
    EXPECT_EQ(copy.Peek()->Text(), "a");
    EXPECT_EQ(copy.Peek()->LineNo(), 2);
    EXPECT_EQ(copy.Peek()->LineOffset(), 7);
    EXPECT_EQ(copy.Peek()->CustomOrdinal(), 3);
    EXPECT_EQ(copy.Peek()->RawTokenText(), " a");
    EXPECT_EQ(copy.PeekAt(1)->Text(), ";");
    copy.Pop();
    EXPECT_EQ(source.Count(), 2);  // the source is untouched
}

// A shared stack reads the same tokens without copies; each stack then moves on its own, and
// queuing on one (copy on write), pushing and cutting never show in the other.
TEST_F(ParserStack, ShareStackReadsTheSameTokensIndependently) {
    TParserStack source;
    source.SetSection(ostWhere);
    for (int i = 0; i < 4; ++i) source.Queue(Make(ostNumber, std::to_string(i)));
    source.Pop();
    TParserStack shared;
    shared.ShareStack(source);
    EXPECT_EQ(shared.Section(), ostWhere);
    ASSERT_EQ(shared.Count(), 3);
    EXPECT_EQ(shared.Peek(), source.Peek());
    shared.Pop();
    shared.Queue(Make(ostEnd, ""));
    TParserToken* pushed = shared.Push(Make(ostComma, ","));
    EXPECT_EQ(shared.Count(), 4);
    EXPECT_EQ(shared.PeekAt(0), pushed);
    EXPECT_EQ(shared.PeekAt(1)->Text(), "2");
    EXPECT_EQ(shared.PeekAt(3)->Text(), "");
    shared.SetCountTo(2);  // the pushed "," and "2" go
    EXPECT_EQ(shared.Peek()->Text(), "3");
    ASSERT_EQ(source.Count(), 3);
    EXPECT_EQ(source.Peek()->Text(), "1");
    EXPECT_EQ(source.PeekAt(2)->Text(), "3");
    source.SetCountTo(1);
    EXPECT_EQ(source.Pop()->Text(), "3");
    EXPECT_EQ(shared.Count(), 2);
}

// A parser that reads tokens until the end and sets an error on every field name it meets.
class FieldRejectingParser : public TBaseParser {
public:
    bool Execute(const TOrqParserOptions& Options, TParserStack* Stack) override {
        TBaseParser::Execute(Options, Stack);
        while (!AtEndToken()) {
            if (CurrentTokenType() == ostFieldName) SetError(CurrToken(), SorqInvalidToken);
            if (CurrentTokenType() == ostNumber) SetError(CurrToken(), SorqExprTerminatedIncorrectly);
            NextToken();
        }
        return !HasParseError();
    }
};

TEST(ParserErrors, KeepsTheFirstErrorWithItsPosition) {
    TOrqPreParser pre;
    pre.SetParseSingleStack(true);
    pre.SetText("SELECT 1,\n   2 ,  x, y");
    pre.PreParseTokens();
    FieldRejectingParser parser;
    EXPECT_FALSE(parser.Execute({}, pre.GetSingleStack()));
    // The number 1 is met first; the later number and the two fields do not replace it.
    EXPECT_EQ(parser.GetErrorMsg(), "Expression incorrectly terminated Line 1, Character 8. Token '1'");
    EXPECT_EQ(parser.GetErrorMsgNoLine(), "Expression incorrectly terminated Character 8. Token '1'");

    pre.SetText("SELECT\n      x");
    pre.PreParseTokens();
    FieldRejectingParser second;
    second.Execute({}, pre.GetSingleStack());
    EXPECT_EQ(second.GetErrorMsg(), "Invalid token Line 2, Character 7. Token 'x'");
}

TEST(ParserErrors, ErrorsWithoutTokenAndNestedErrorsCarryNoSecondPosition) {
    FieldRejectingParser inner;
    TParserToken token;
    token.SetText("b");
    token.SetLineNo(3);
    token.SetLineOffset(4);
    inner.SetError(&token, SorqRParenMissing);
    TBaseParser outer;
    outer.SetError(nullptr, inner.GetErrorMsg());
    EXPECT_EQ(outer.GetErrorMsg(), "Missing Right Parenthesis Line 3, Character 4. Token 'b'");
    EXPECT_EQ(outer.GetErrorMsgNoLine(), outer.GetErrorMsg());
    outer.SetError(&token, SorqInvalidToken);  // ignored: the first error stays
    EXPECT_EQ(outer.ErrorToken(), nullptr);
    EXPECT_TRUE(outer.HasParseError());
    outer.ClearError();
    EXPECT_FALSE(outer.HasParseError());
    EXPECT_EQ(outer.GetErrorMsg(), "");
}

class BaseParser : public TokenFixture {};

TEST_F(BaseParser, AtEndTokenRules) {
    TParserStack stack;
    stack.Queue(Make(ostFieldName, "a"));
    stack.Queue(Make(ostRParen, ")"));
    stack.Queue(Make(ostFieldName, "b"));
    stack.Queue(Make(ostEnd, ""));
    TBaseParser parser;
    EXPECT_FALSE(parser.Execute({opoExtSyntax}, &stack));
    EXPECT_TRUE(parser.Options().Contains(opoExtSyntax));
    EXPECT_EQ(parser.CurrentTokenType(), ostFieldName);
    EXPECT_FALSE(parser.AtEndToken());
    EXPECT_FALSE(parser.NextTokenIsLParen());
    EXPECT_EQ(parser.PeekAtTokenType(0), ostRParen);
    EXPECT_EQ(parser.PeekAtTokenType(2), ostEnd);
    EXPECT_EQ(parser.PeekAtTokenType(3), ostUnknown);
    parser.NextToken();  // on ")"
    EXPECT_FALSE(parser.AtEndToken());
    parser.SetIsSubquery(true);
    EXPECT_TRUE(parser.AtEndToken());
    parser.SetIsSubquery(false);
    parser.SetEndTokens({ostRParen, ostWhere});
    EXPECT_TRUE(parser.AtEndToken());
    parser.SetEndTokens({ostEnd});
    parser.NextToken();  // on b, with only the end token left below it
    EXPECT_FALSE(parser.AtEndToken());
    parser.NextToken();  // on the end token: the stack is empty now
    EXPECT_TRUE(parser.AtEndToken());
    parser.NextToken();
    EXPECT_EQ(parser.CurrToken(), nullptr);
    EXPECT_EQ(parser.CurrentTokenType(), ostUnknown);
    EXPECT_EQ(parser.ParsedText(), " a ) b ");

    // An empty stack ends the parse whatever the current token is.
    TParserStack last;
    last.Queue(Make(ostFieldName, "z"));
    TBaseParser other;
    other.Execute({}, &last);
    EXPECT_EQ(other.TokenName(), "z");
    EXPECT_TRUE(other.TokenSymbolIs("Z"));
    EXPECT_TRUE(other.AtEndToken());
}

TEST_F(BaseParser, ClearKeepsEndTokensAndSubqueryFlag) {
    TParserStack stack;
    stack.Queue(Make(ostFieldName, "a"));
    TBaseParser parser;
    parser.SetEndTokens({ostWhere});
    parser.SetIsSubquery(true);
    parser.Execute({opoParameters}, &stack);
    parser.SetError(parser.CurrToken(), "x");
    parser.Clear();
    EXPECT_EQ(parser.Stack(), nullptr);
    EXPECT_TRUE(parser.Options().Empty());
    EXPECT_EQ(parser.CurrToken(), nullptr);
    EXPECT_FALSE(parser.HasParseError());
    EXPECT_EQ(parser.ParsedText(), "");
    EXPECT_TRUE(parser.EndTokens().Contains(ostWhere));
    EXPECT_FALSE(parser.EndTokens().Contains(ostEnd));
    EXPECT_TRUE(parser.IsSubquery());
}

TEST_F(BaseParser, SyncCurrTokenAndParsedText) {
    TParserStack stack;
    stack.Queue(Make(ostFieldName, "a"));
    stack.Queue(Make(ostFrom, "FROM"));
    stack.Queue(Make(ostFieldName, "t"));
    TBaseParser first, second;
    first.Execute({}, &stack);
    first.NextToken();
    EXPECT_EQ(first.ParsedText(), " a FROM");
    first.RemoveCurrentTokenFromParsedText();
    EXPECT_EQ(first.ParsedText(), " a");
    second.SyncCurrToken(first);
    EXPECT_EQ(second.CurrToken(), first.CurrToken());
    EXPECT_EQ(second.ParsedText(), " FROM");
    // Execute keeps a current token taken over from another parser.
    second.Execute({}, &stack);
    EXPECT_EQ(second.TokenName(), "FROM");
    EXPECT_EQ(stack.Count(), 1);
}

}  // namespace
}  // namespace ostra
