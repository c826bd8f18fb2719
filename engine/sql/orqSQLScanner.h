// orqSQLScanner: TOrqTokenParser, the scanner that cuts an SQL statement or a filter expression
// into tokens. Only the pre-parser (orqPreParser.h) drives it; it stores every token the
// scanner returns, and all parsers then read those stored tokens.
//
// The scanner never reports an error: unterminated quotes degrade to word characters, an
// unterminated block comment runs to the end of the text, and every character not named below
// is a word character. The text ends at its first NUL character (or at its end).
//
// Characters and what they start when no word has started (a started word ends at every
// separator, quote excepted):
//   blank, tab, CR, LF   separators, skipped
//   , ( ) ;              ostComma, ostLParen, ostRParen, ostEnd (";")
//   " # ' [ `            quoted text: ' ostStringLiteral, " # ` ostValue, [..] ostFieldName;
//                        '' and "" inside stand for one quote; a "." right after the closing
//                        quote makes it ostTableName
//   *                    ostMult
//   + -                  ostAdd, ostSub; directly followed by a digit or ".", a signed ostNumber
//   .                    ends a started word as ostTableName; otherwise the next word is a
//                        qualified field name (ostFieldName whatever its spelling); a "." directly
//                        followed by a digit begins a number (".5" is the number .5)
//   /                    ostDiv, or a comment: /* to the first */ (or the end), // to the line end
//   digit                ostNumber: the run of digits and "." ("1.2.3" is one token)
//   :                    ostParameter; the name is the next token
//   < = >                ostCompOperator: the whole run ("<>", "<=", "=<", "==" ...)
// Inside a word, digits and ":" are word characters; "||" is a word of its own only between
// separators. Words are classified by keyword recognition (GetSQLToken in the .cpp); IS NULL,
// IS NOT NULL, GROUP BY, ORDER BY, FOR UPDATE, NOT LIKE, NOT BETWEEN, NOT IN and PRIMARY KEY
// are joined into one token by look-ahead, whose text is both words joined by one blank.
// A look-ahead reads the next word as it is written, without joining words of its own, so a
// text is scanned in time linear in its length however many such keywords follow each other
// (no single word of the look-ahead list can be a joined pair). The same holds for unclosed
// quotes: once a "[" found no "]" up to the end, later "[" are known to be unclosed too.
//
// Positions. Lines count from 1; CR LF and LF CR are one line break, and every other CR or LF
// is a line break of its own. Columns count from 1 and do not count line-break characters.
// A token's start column (TokenStartOffset after GetNextToken) is:
//   - words, quoted text and joined keywords: the column of their first character;
//   - operators (* + - / and the < = > run), numbers (their sign or first digit or "."),
//     parameters (":") and comments ("/"): the column of their first character;
//   - ",", "(", ")", ";" and the end of the text: the column at which GetNextToken began,
//     before any blanks it skipped.
// LineNo after GetNextToken is the line the scanner stands on when the token is complete
// (the last line of a comment that spans lines). RawText holds every character consumed by
// the last GetNextToken, leading blanks included and line-break characters excluded.
#pragma once
#include <cstddef>
#include <string>

#include "engine/sql/orqSQLTypes.h"

namespace ostra {

// Cuts a text into tokens, one GetNextToken call at a time.
class TOrqTokenParser {
public:
    // Stores the text and calls Prepare.
    void SetTokenString(const std::string& Text);
    // Back to the first character: line and column 1, no current or section token.
    void Prepare();
    // Reads the next token: its type is returned and its text stored in Text (quotes removed,
    // keywords as written). The end of the text gives ostEnd with an empty text, every time.
    TOrqSQLToken GetNextToken(std::string& Text);
    // The rest of the text from the current character, trimmed of blanks and control
    // characters at both ends (non-empty only after a NUL that is followed by more text).
    std::string GetUnparsedText() const;

    const std::string& TokenString() const { return FTokenString; }
    int LineNo() const { return FLineNo; }
    int LineOffset() const { return FLineOffset; }
    int TokenStartOffset() const { return FTokenStartOffset; }
    TOrqSQLToken CurrentToken() const { return FCurrentToken; }
    // The last section token (see IsSectionToken) that GetNextToken returned.
    TOrqSQLToken LastSectionToken() const { return FLastSectionToken; }
    const std::string& RawText() const { return FRawText; }
    // The characters stepped over since SetTokenString, look-aheads and re-scans included: a
    // measure of the scanner's work (at most a small multiple of the text's length).
    std::size_t CharsRead() const { return FCharsRead; }

private:
    static constexpr std::size_t kNoStart = static_cast<std::size_t>(-1);

    // Everything a failed look-ahead must put back.
    struct TScanState {
        std::size_t CurrChar;
        int LineNo, LineOffset, TokenStartOffset;
        TOrqSQLToken CurrentToken, LastSectionToken;
        bool QualifierPending;
        std::size_t TokenStart;
        std::string RawText;
    };

    char Ch(std::size_t i) const { return i < FTokenString.size() ? FTokenString[i] : '\0'; }
    std::string Span() const { return FTokenString.substr(FTokenStart, FCurrChar - FTokenStart); }
    TScanState SaveState() const;
    void RestoreState(const TScanState& s);

    TOrqSQLToken NextSQLToken(std::string& Text);
    TOrqSQLToken ScanQuoted(char quote, std::string& Text, bool& done);
    TOrqSQLToken ScanComment(std::string& Text);
    TOrqSQLToken FinishWord(std::string& Text);
    TOrqSQLToken GetSQLToken(std::string& Text);
    bool NextTokenIs(const char* Word, std::string& Text);
    bool IsAggFunc(const std::string& Text) const;
    bool IsDataType(const std::string& Text) const;
    bool IsStrFunc(const std::string& Text) const;
    void StartToken();
    void SetTokenStart(std::size_t p);
    void IncCurrChar();

    std::string FTokenString;
    std::size_t FCurrChar = 0;
    int FLineNo = 1;
    int FLineOffset = 1;
    int FTokenStartOffset = 1;
    TOrqSQLToken FCurrentToken = ostUnknown;
    TOrqSQLToken FLastSectionToken = ostUnknown;
    bool FQualifierPending = false;
    std::size_t FTokenStart = kNoStart;
    std::string FRawText;
    // Set while NextTokenIs reads its one word: two-word keywords are not joined then.
    bool FInLookAhead = false;
    // Where a "[" was found to have no closing "]" (kNoStart: none yet).
    std::size_t FBracketUnclosedFrom = kNoStart;
    std::size_t FCharsRead = 0;
};

}  // namespace ostra
