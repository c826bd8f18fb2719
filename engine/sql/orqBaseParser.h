// orqBaseParser: what every parser of the SQL dialect and of filter expressions shares.
//
// - TParserToken: one token as the pre-parser stored it (type, clause section, text, position).
// - TParserStack: the token stack a parser consumes; the first token read is on top.
// - The parser options and the notification hook through which a parser asks its driver to
//   parse a subquery or to say whether a name is a table of an enclosing query.
// - TBaseParser: the base of all parsers: the token stream, the end tokens and the error rule.
//
// The error rule: parsers never raise for syntax errors. Each keeps the FIRST error it meets
// (message and token); whatever is set later is ignored, and a caller reads GetErrorMsg after
// the run. A nested parser's error text is handed to the outer parser unchanged (SetError with
// no token, so no second position is appended).
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqSQLTypes.h"
#include "host/Set.h"

namespace ostra {

class Variant;
class TOrqExprNode;

// One stored token. Tokens are owned by the pre-parser that made them (or by whatever list a
// copy was made into); stacks and parse trees only refer to them.
class TParserToken {
public:
    // Copies Text, Token, Section, LineOffset, LineNo, CustomOrdinal and RawTokenText.
    void AssignToken(const TParserToken& Source);

    // Column (from 1) where the token began; see orqSQLScanner.h for ",", "(", ")", ";" and the end.
    int LineOffset() const { return FLineOffset; }
    void SetLineOffset(int v) { FLineOffset = v; }
    // Line (from 1) the scanner stood on when the token was complete.
    int LineNo() const { return FLineNo; }
    void SetLineNo(int v) { FLineNo = v; }
    TOrqSQLToken Token() const { return FToken; }
    void SetToken(TOrqSQLToken v) { FToken = v; }
    // The clause section the token belongs to.
    TOrqSQLToken Section() const { return FSection; }
    void SetSection(TOrqSQLToken v) { FSection = v; }
    // Keywords as written, quotes removed, joined words separated by one blank.
    const std::string& Text() const { return FText; }
    void SetText(const std::string& v) { FText = v; }
    // Extra ordinal: the TOrqSQLAggFunc of an aggregate, the TOrqSQLStrFunc of a string
    // function, the field type of a data type, the field token of EXTRACT (83..88), the
    // TOrqSubqueryType on the SELECT of a quantified subquery; 0 otherwise.
    int CustomOrdinal() const { return FCustomOrdinal; }
    void SetCustomOrdinal(int v) { FCustomOrdinal = v; }
    // The source characters consumed for the token, leading blanks included, line breaks excluded.
    const std::string& RawTokenText() const { return FRawTokenText; }
    void SetRawTokenText(const std::string& v) { FRawTokenText = v; }

private:
    int FLineOffset = 0;
    int FLineNo = 0;
    TOrqSQLToken FToken = ostUnknown;
    TOrqSQLToken FSection = ostUnknown;
    std::string FText;
    int FCustomOrdinal = 0;
    std::string FRawTokenText;
};

// A list that owns tokens (the pre-parser's own tokens and copies made by CopyStack).
using TParserTokenList = std::vector<std::unique_ptr<TParserToken>>;

// A stack of token references (never owned). The top is the newest end: Queue inserts at the
// bottom, so tokens queued in reading order pop in reading order. Callers check Count before
// Pop, Peek and PeekAt; on positions that do not exist these answer null and change nothing.
class TParserStack {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    // N <= Count.
    bool AtLeast(int N) const { return N <= Count(); }
    // Puts Token on top; Push returns it.
    TParserToken* Push(TParserToken* Token);
    void PushItem(TParserToken* Token) { Push(Token); }
    // Removes and returns the top token.
    TParserToken* Pop();
    TParserToken* PopItem() { return Pop(); }
    // The top token.
    TParserToken* Peek() const { return FItems.empty() ? nullptr : FItems.back(); }
    TParserToken* PeekItem() const { return Peek(); }
    // The I-th token below the top (0 = the top).
    TParserToken* PeekAt(int I) const {
        return I >= 0 && I < Count() ? FItems[FItems.size() - 1 - static_cast<std::size_t>(I)] : nullptr;
    }
    // Inserts Token at the bottom; returns it.
    TParserToken* Queue(TParserToken* Token);
    void Clear() { FItems.clear(); }
    // When N < Count, removes tokens from the top until Count = N; otherwise nothing changes.
    void SetCountTo(int N);
    // Clears this stack, then copies every token of Source, bottom to top, into new tokens that
    // Owner takes; the copies keep Source's order.
    void CopyStack(const TParserStack& Source, TParserTokenList& Owner);

    TOrqSQLToken Section() const { return FSection; }
    void SetSection(TOrqSQLToken S) { FSection = S; }

private:
    std::deque<TParserToken*> FItems;  // front = bottom, back = top
    TOrqSQLToken FSection = ostUnknown;
};

// Parser options. In the expression parser opoExtSyntax allows arithmetic, string and aggregate
// functions, opoParameters ":name" parameters, opoSubqueries subqueries, and
// opoExtractAggFuncExprText makes aggregate nodes record their source text.
// clang-format off
enum TOrqParserOption : uint8_t {
    opoExtSyntax = 0, opoAggregate = 1, opoDefaultExpr = 2, opoSQL = 3, opoParameters = 4,
    opoExtractAggFuncExprText = 5, opoSubqueries = 6
};
// clang-format on
using TOrqParserOptions = TSet<TOrqParserOption>;

// Why a parser calls its driver: a subquery begins at the current token (pntSubquery), a name
// may be a table of an enclosing query (pntFindTableRef; the answer goes back in Value), or a
// UNION member follows (pntSelectUnion).
enum TParserNotifyType : uint8_t { pntUnknown = 0, pntSubquery = 1, pntFindTableRef = 2, pntSelectUnion = 3 };

class TBaseParser;
using TParserNotifyEvent = std::function<void(TParserNotifyType NotifyType, TBaseParser* Parser,
                                              TParserStack* ParserStack, TOrqExprNode* Node, Variant& Value)>;

// The base of every parser: reads tokens from a stack it does not own and keeps the first error.
class TBaseParser {
public:
    TBaseParser() = default;
    TBaseParser(const TBaseParser&) = delete;
    TBaseParser& operator=(const TBaseParser&) = delete;
    virtual ~TBaseParser() = default;

    // Back to the initial state: no stack, no options, no current token, no error, no parsed
    // text. EndTokens, IsSubquery and the notify event stay.
    virtual void Clear();
    // Stores Options and Stack and, when there is no current token (or it is ostUnknown),
    // reads the first one. The base answers false; parsers answer true when no error was set.
    virtual bool Execute(const TOrqParserOptions& Options, TParserStack* Stack);

    // CurrToken := the popped top of Stack (none when Stack is empty or absent); the popped
    // token's raw text is appended to ParsedText.
    void NextToken();
    // The type of CurrToken; ostUnknown when there is none.
    TOrqSQLToken CurrentTokenType() const;
    // The type of the I-th token below the top of Stack; ostUnknown when there is none.
    TOrqSQLToken PeekAtTokenType(int I) const;
    // The token on top of Stack is "(".
    bool NextTokenIsLParen() const;
    // True when Stack is empty, or the current type is in EndTokens, is ostUnknown or ostEnd,
    // or IsSubquery is set and the current type is ostRParen.
    bool AtEndToken() const;
    // The current token's text; empty when there is none.
    std::string TokenName() const;
    // The current token exists and its text equals S ignoring case.
    bool TokenSymbolIs(const std::string& S) const;

    // Records the error when none is pending; later errors are ignored. Token may be null (the
    // message then carries no position).
    void SetError(const TParserToken* Token, const std::string& Msg);
    void ClearError();
    bool HasParseError() const { return !FErrorMsg.empty(); }
    // The message followed, when it has a token, by " Line %d, Character %d. Token '%s'".
    std::string GetErrorMsg() const;
    // The message followed, when it has a token, by " Character %d. Token '%s'" (filters).
    std::string GetErrorMsgNoLine() const;

    // CurrToken := Other's current token; when there is one, " " + its text is appended to
    // ParsedText. Hands the position from one parser to the next over the same stack.
    void SyncCurrToken(const TBaseParser& Other);
    // Cuts CurrToken's raw text from the end of ParsedText.
    void RemoveCurrentTokenFromParsedText();

    TParserStack* Stack() const { return FStack; }
    const TOrqParserOptions& Options() const { return FOptions; }
    TParserToken* CurrToken() const { return FCurrToken; }
    const std::string& ErrorMsg() const { return FErrorMsg; }
    const TParserToken* ErrorToken() const { return FErrorToken; }
    const std::string& ParsedText() const { return FParsedText; }
    const TOrqSQLTokens& EndTokens() const { return FEndTokens; }
    void SetEndTokens(const TOrqSQLTokens& Tokens) { FEndTokens = Tokens; }
    bool IsSubquery() const { return FIsSubquery; }
    void SetIsSubquery(bool B) { FIsSubquery = B; }
    const TParserNotifyEvent& ParserNotifyEvent() const { return FParserNotifyEvent; }
    void SetParserNotifyEvent(TParserNotifyEvent E) { FParserNotifyEvent = std::move(E); }

protected:
    TParserStack* FStack = nullptr;
    TOrqParserOptions FOptions;
    TParserToken* FCurrToken = nullptr;
    std::string FErrorMsg;
    const TParserToken* FErrorToken = nullptr;
    std::string FParsedText;
    TOrqSQLTokens FEndTokens{ostEnd};
    bool FIsSubquery = false;
    TParserNotifyEvent FParserNotifyEvent;
};

}  // namespace ostra
