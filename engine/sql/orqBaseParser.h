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
//
// Nesting. Recursive parsers count the levels they enter (a parenthesis, a function operand, a
// table reference in parentheses) on top of NestingLevel, the levels their text sits inside;
// a subquery's engine starts COrqSubqueryNestingWeight levels deeper than the point where it
// began. Beyond COrqMaxNestingLevel levels a parser refuses the text with SorqNestingTooDeepFmt
// instead of recursing further, so parsing (and every walk over the trees built, whose height
// is bounded the same way) stays within any thread's stack.
#pragma once
#include <cstdint>
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
//
// The queued tokens are kept in reading order in a list that ShareStack hands to other stacks
// without copying it: each stack reads its own range of the list, so a nested statement's
// parsers read the rest of the outer statement in constant time and memory. Every operation
// is O(1) but Queue on a list another stack shares (the queuing stack then copies its range).
class TParserStack {
public:
    int Count() const { return static_cast<int>(FPushed.size() + (FEnd - FPos)); }
    // N <= Count.
    bool AtLeast(int N) const { return N <= Count(); }
    // Puts Token on top; Push returns it.
    TParserToken* Push(TParserToken* Token);
    void PushItem(TParserToken* Token) { Push(Token); }
    // Removes and returns the top token.
    TParserToken* Pop();
    TParserToken* PopItem() { return Pop(); }
    // The top token.
    TParserToken* Peek() const { return PeekAt(0); }
    TParserToken* PeekItem() const { return Peek(); }
    // The I-th token below the top (0 = the top).
    TParserToken* PeekAt(int I) const {
        if (I < 0 || I >= Count()) return nullptr;
        const auto i = static_cast<std::size_t>(I);
        return i < FPushed.size() ? FPushed[FPushed.size() - 1 - i] : (*FQueued)[FPos + (i - FPushed.size())];
    }
    // Inserts Token at the bottom; returns it.
    TParserToken* Queue(TParserToken* Token);
    void Clear();
    // When N < Count, removes tokens from the top until Count = N; otherwise nothing changes.
    void SetCountTo(int N);
    // Clears this stack, then copies every token of Source, bottom to top, into new tokens that
    // Owner takes; the copies keep Source's order.
    void CopyStack(const TParserStack& Source, TParserTokenList& Owner);
    // This stack := the same tokens as Source, in the same order, with Source's Section; the
    // tokens and their list are shared, not copied (the tokens' owner must outlive both).
    void ShareStack(const TParserStack& Source);

    TOrqSQLToken Section() const { return FSection; }
    void SetSection(TOrqSQLToken S) { FSection = S; }

private:
    using TTokenSequence = std::vector<TParserToken*>;
    // The queued tokens in reading order; this stack's part is [FPos, FEnd), FPos the next read.
    std::shared_ptr<TTokenSequence> FQueued;
    std::size_t FPos = 0;
    std::size_t FEnd = 0;
    // Tokens pushed on top of the queued part; the last is the top.
    std::vector<TParserToken*> FPushed;
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

// The deepest nesting a statement or filter may reach (see the opening comment).
inline constexpr int COrqMaxNestingLevel = 1000;
// The levels a subquery costs beyond the expression it stands in: its engine's parsers and the
// query behind it take several times the stack of one level of parentheses.
inline constexpr int COrqSubqueryNestingWeight = 4;
inline constexpr char SorqNestingTooDeepFmt[] = "Nesting is too deep: more than %d levels";

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

    // The nesting levels the parser's text sits inside (0 for a whole statement or filter);
    // kept by Clear.
    int NestingLevel() const { return FNestingLevel; }
    void SetNestingLevel(int v) { FNestingLevel = v; }
    // NestingLevel plus the levels the running parse has entered now.
    int CurrentNestingLevel() const { return FNestingLevel + FNestingDepth; }
    // The height of the tallest expression tree this parser (or a parser it ran) built in its
    // last run, a subquery counting with the height of its statement plus its weight; 0 after
    // Clear.
    int ExprHeight() const { return FExprHeight; }
    void NoteExprHeight(int Height) { FExprHeight = Height > FExprHeight ? Height : FExprHeight; }
    // Starts a parser that works for this one over the same stack (a value expression, a
    // data type): it takes the current token and the current nesting level.
    void StartHelper(TBaseParser& Helper) const;

protected:
    friend class TNestingScope;
    // Enters one nesting level; beyond COrqMaxNestingLevel sets SorqNestingTooDeepFmt at the
    // current token, leaves the level again and answers false (the caller must not recurse).
    bool EnterNesting();
    void LeaveNesting() { --FNestingDepth; }
    // The SorqNestingTooDeepFmt text.
    static std::string NestingTooDeepMsg();


    TParserStack* FStack = nullptr;
    TOrqParserOptions FOptions;
    TParserToken* FCurrToken = nullptr;
    std::string FErrorMsg;
    const TParserToken* FErrorToken = nullptr;
    std::string FParsedText;
    TOrqSQLTokens FEndTokens{ostEnd};
    bool FIsSubquery = false;
    TParserNotifyEvent FParserNotifyEvent;
    int FNestingLevel = 0;
    int FNestingDepth = 0;
    int FExprHeight = 0;
};

// Enters a nesting level of Parser for the lifetime of the scope (see TBaseParser::EnterNesting);
// Entered() is false when the level was refused.
class TNestingScope {
public:
    explicit TNestingScope(TBaseParser& Parser) : FParser(Parser), FEntered(Parser.EnterNesting()) {}
    ~TNestingScope() {
        if (FEntered) FParser.LeaveNesting();
    }
    TNestingScope(const TNestingScope&) = delete;
    TNestingScope& operator=(const TNestingScope&) = delete;
    bool Entered() const { return FEntered; }

private:
    TBaseParser& FParser;
    bool FEntered;
};

}  // namespace ostra
