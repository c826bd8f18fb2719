// orqPreParser: TOrqPreParser turns the text of one SQL statement or one filter expression
// into stored tokens before any parser runs. It drives the scanner (orqSQLScanner.h) over the
// whole text, keeps every token it creates, and cuts the tokens into stacks:
//
//   single-stack mode   one stack (Section ostUnknown) of every token but comments, each token
//                       with Section ostSelect; the SQL parser engine uses two of these.
//   sectioned mode      one stack per clause: a section token (IsSectionToken) opens a new
//                       stack with that Section and is not stored itself, except that FROM
//                       inside an open WHERE section is an ordinary token; tokens before the
//                       first section token are dropped; comments are stored.
//   expression-only     (sectioned mode with ParseAsExprOnly) one ostWhere stack from the start
//                       holding every token, comments and keywords included: a filter.
//
// Every stored stack ends with the token that ends the text (ostEnd with empty text); a ";" is
// an ostEnd token with the text ";" and does not end the text.
//
// It then classifies the statement, gives function and data type tokens their CustomOrdinal,
// and lists parameter names. It never reports syntax errors.
//
// Ownership: the pre-parser owns its stacks and every token it makes. Clear and SetText drop
// the stacks only; tokens live until the pre-parser is destroyed, so tokens that parse trees
// and parsers refer to stay valid across later pre-parses of the same object. AssignStacks
// shares another pre-parser's stacks and tokens instead of copying them: the tokens are held
// jointly and live until the last pre-parser holding them is gone, so a nested statement costs
// no copy of the rest of the outer one.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqBaseParser.h"
#include "engine/sql/orqSQLTypes.h"

namespace ostra {

class TStrings;

class TOrqPreParser {
public:
    TOrqPreParser() = default;
    TOrqPreParser(const TOrqPreParser&) = delete;
    TOrqPreParser& operator=(const TOrqPreParser&) = delete;
    ~TOrqPreParser();

    // Clear, then Text := S.
    void SetText(const std::string& S);
    // Drops every stack (the tokens stay).
    void Clear();
    // Frees every owned token (tokens another pre-parser shares live on there). Stacks and
    // parse trees that refer to them must be gone.
    void FreeOwnedTokens();
    // Drops the previous stacks, tokenises Text in the chosen mode, classifies the statement,
    // and sets the CustomOrdinal of aggregate, data type and string function tokens.
    void PreParseTokens();

    // The stack of Section, which must be a section token (else EAssertionFailed "Invalid
    // section request in GetSection"). In single-stack mode (with exactly one stack): the one
    // stack, first popped past the section keyword unless the keyword is on top or is
    // CurrToken's type. Otherwise: the last stack opened for Section; none when there is none.
    TParserStack* GetSection(TOrqSQLToken Section, const TParserToken* CurrToken);
    int GetSectionCount() const { return static_cast<int>(FStacks.size()); }
    // The stack at position Index, in the order the stacks were opened.
    TParserStack* Stacks(int Index) const { return FStacks.at(static_cast<std::size_t>(Index)).get(); }
    // The first stack (none before PreParseTokens); EAssertionFailed "Cannot get single stack -
    // not parsed as single stack" when ParseSingleStack is false.
    TParserStack* GetSingleStack() const;
    // The single stack's token count (single-stack mode with exactly one stack), else 0.
    int GetSingleStackCount() const;
    // Under the same condition, cuts the single stack to N tokens.
    void SetSingleStackCountTo(int N);
    // Adds to List the name after each ":" in the stacks, each distinct name (ignoring case)
    // once, in its first written form, in order of first appearance. A ":" followed by nothing
    // (the end of the text) gives no name.
    void GetParamList(TStrings& List) const;
    // False for comments, true for every other token.
    static bool CheckIncludeToken(const TParserToken& Token);
    // Nothing was left after a NUL in the text, and the single stack is empty or holds only
    // comments and end-of-text tokens (ostEnd with empty text).
    bool CheckParseComplete() const;
    // Drops the stacks, then makes a stack for each stack of Source with its Section and its
    // tokens in the same order; the tokens are shared with Source, not copied (this pre-parser
    // keeps them alive too).
    void AssignStacks(const TOrqPreParser& Source);
    // Cuts each stack to the count of the stack at the same position in Source, which must have
    // as many stacks (else EAssertionFailed "Stack list counts do not match"). A driver parses
    // a copy made by AssignStacks, then makes the source consume as many tokens as the copy did.
    void TrimStacks(const TOrqPreParser& Source);

    const std::string& Text() const { return FText; }
    bool ParseAsExprOnly() const { return FParseAsExprOnly; }
    void SetParseAsExprOnly(bool B) { FParseAsExprOnly = B; }
    bool ParseSingleStack() const { return FParseSingleStack; }
    void SetParseSingleStack(bool B) { FParseSingleStack = B; }
    // The kind of statement the last pre-parse found: SELECT, INSERT, DELETE, UPDATE by the
    // first stored token, CREATE, DROP and ALTER schema manipulation, osSQLExprOnly for an
    // expression-only parse, osSQLUnknown otherwise (sectioned parses store no section token,
    // so only single-stack parses classify SQL statements).
    TOrqSQLStatementType SQLStatementType() const { return FSQLStatementType; }
    void SetSQLStatementType(TOrqSQLStatementType T) { FSQLStatementType = T; }
    // What the scanner left after a NUL in the text, trimmed.
    const std::string& UnparsedText() const { return FUnparsedText; }
    // The tokens this pre-parser made itself (shared ones not counted).
    int OwnedTokenCount() const { return static_cast<int>(FOwnedTokens->size()); }

private:
    TParserStack* OpenStack(TOrqSQLToken Section);
    void PostProcessTokens();

    std::vector<std::unique_ptr<TParserStack>> FStacks;
    std::string FText;
    bool FParseAsExprOnly = false;
    bool FParseSingleStack = false;
    std::shared_ptr<TParserTokenList> FOwnedTokens = std::make_shared<TParserTokenList>();
    // The token lists of other pre-parsers whose tokens this one's stacks share.
    std::vector<std::shared_ptr<const TParserTokenList>> FSharedTokens;
    TOrqSQLStatementType FSQLStatementType = osSQLUnknown;
    std::string FUnparsedText;
};

}  // namespace ostra
