// The SQL scanner: character rules (NextSQLToken), keyword recognition (GetSQLToken) and the
// look-ahead that joins two-word keywords. See orqSQLScanner.h for the token rules and for
// what the positions mean.
#include "engine/sql/orqSQLScanner.h"

#include <string_view>
#include <unordered_map>

#include "engine/sql/orqMappers.h"
#include "host/Collation.h"
#include "host/SysUtils.h"

namespace ostra {
namespace {

bool IsBlank(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}
bool IsCompChar(char c) {
    return c == '<' || c == '=' || c == '>';
}

// The words that stand for one token each. FOR, IS, NOT, GROUP, ORDER, PRIMARY and DISTINCT
// need more than a table look-up and are handled in GetSQLToken.
const std::unordered_map<std::string_view, TOrqSQLToken>& KeywordTable() {
    // clang-format off
    static const std::unordered_map<std::string_view, TOrqSQLToken> table = {
        {"ALL", ostAll}, {"ASC", ostAscending}, {"ASCENDING", ostAscending}, {"DESC", ostDescending},
        {"DESCENDING", ostDescending}, {"SELECT", ostSelect}, {"AND", ostAnd}, {"OR", ostOr},
        {"LIKE", ostLike}, {"FROM", ostFrom}, {"WHERE", ostWhere}, {"HAVING", ostHaving},
        {"UNION", ostUnion}, {"PLAN", ostPlan}, {"NULL", ostNull}, {"BETWEEN", ostBetween},
        {"CASE", ostCase}, {"AS", ostAS}, {"WHEN", ostWhen}, {"THEN", ostThen}, {"NULLIF", ostNullif},
        {"COALESCE", ostCoalesce}, {"JOIN", ostJoin}, {"INNER", ostInner}, {"OUTER", ostOuter},
        {"LEFT", ostLeft}, {"RIGHT", ostRight}, {"CROSS", ostCross}, {"NATURAL", ostNatural},
        {"FULL", ostFull}, {"CAST", ostCast}, {"IN", ostIn}, {"||", ostConcatenate}, {"ON", ostOn},
        {"USING", ostUsing}, {"ESCAPE", ostEscape}, {"TRUE", ostTrue}, {"FALSE", ostFalse},
        {"CHARACTER", ostChar}, {"CHAR", ostChar}, {"VARCHAR", ostVarChar}, {"INTEGER", ostInt},
        {"INT", ostInt}, {"AUTOINC", ostAutoInc}, {"SMALLINT", ostSmallInt}, {"DATE", ostDate},
        {"TIME", ostTime}, {"TIMESTAMP", ostTimeStamp}, {"DATETIME", ostTimeStamp},
        {"DECIMAL", ostDecimal}, {"NUMERIC", ostNumeric}, {"FLOAT", ostNumeric}, {"BOOLEAN", ostBoolean},
        {"MONEY", ostMoney}, {"BLOB", ostBlob}, {"EXTRACT", ostExtract}, {"YEAR", ostYear},
        {"MONTH", ostMonth}, {"DAY", ostDay}, {"HOUR", ostHour}, {"MINUTE", ostMinute},
        {"SECOND", ostSecond}, {"CURRENT_TIME", ostCurrentTime}, {"CURRENT_DATE", ostCurrentDate},
        {"CURRENT_TIMESTAMP", ostCurrentTimestamp}, {"EXISTS", ostExists}, {"ANY", ostAny},
        {"SOME", ostSome}, {"INTO", ostInto}, {"INSERT", ostInsert}, {"VALUES", ostValues},
        {"DELETE", ostDelete}, {"UPDATE", ostUpdate}, {"SET", ostSet}, {"CREATE", ostCreate},
        {"TABLE", ostTable}, {"ADD", ostAddWord}, {"DROP", ostDrop}, {"ALTER", ostAlter},
        {"COLUMN", ostColumn}, {"UNIQUE", ostUnique}, {"INDEX", ostIndex}, {"TYPE", ostType},
        {"TO", ostTo}, {"TEMPORARY", ostTemporary}};
    // clang-format on
    return table;
}

// The text between the outer quotes of `span` with each doubled quote reduced to one; empty
// when `span` does not begin with the quote character.
std::string ExtractQuoted(const std::string& span, char quote) {
    std::string result;
    if (span.empty() || span[0] != quote) return result;
    for (std::size_t i = 1; i < span.size(); ++i) {
        if (span[i] == quote) {
            if (i + 1 < span.size() && span[i + 1] == quote) {
                result += quote;
                ++i;
                continue;
            }
            break;
        }
        result += span[i];
    }
    return result;
}

}  // namespace

void TOrqTokenParser::SetTokenString(const std::string& Text) {
    FTokenString = Text;
    Prepare();
}

void TOrqTokenParser::Prepare() {
    FCurrChar = 0;
    FLineNo = 1;
    FLineOffset = 1;
    FTokenStartOffset = 1;
    FCurrentToken = ostUnknown;
    FLastSectionToken = ostUnknown;
    FQualifierPending = false;
    FTokenStart = kNoStart;
    FRawText.clear();
    FInLookAhead = false;
    FBracketUnclosedFrom = kNoStart;
    FCharsRead = 0;
}

TOrqSQLToken TOrqTokenParser::GetNextToken(std::string& Text) {
    FTokenStartOffset = FLineOffset;
    FRawText.clear();
    TOrqSQLToken token = NextSQLToken(Text);
    FCurrentToken = token;
    if (IsSectionToken(token)) FLastSectionToken = token;
    return token;
}

std::string TOrqTokenParser::GetUnparsedText() const {
    return FCurrChar < FTokenString.size() ? Trim(FTokenString.substr(FCurrChar)) : std::string();
}

TOrqTokenParser::TScanState TOrqTokenParser::SaveState() const {
    return {FCurrChar,         FLineNo,           FLineOffset, FTokenStartOffset, FCurrentToken,
            FLastSectionToken, FQualifierPending, FTokenStart, FRawText};
}

void TOrqTokenParser::RestoreState(const TScanState& s) {
    FCurrChar = s.CurrChar;
    FLineNo = s.LineNo;
    FLineOffset = s.LineOffset;
    FTokenStartOffset = s.TokenStartOffset;
    FCurrentToken = s.CurrentToken;
    FLastSectionToken = s.LastSectionToken;
    FQualifierPending = s.QualifierPending;
    FTokenStart = s.TokenStart;
    FRawText = s.RawText;
}

void TOrqTokenParser::StartToken() {
    if (FTokenStart == kNoStart) SetTokenStart(FCurrChar);
}

void TOrqTokenParser::SetTokenStart(std::size_t p) {
    FTokenStartOffset = FLineOffset;
    FTokenStart = p;
}

void TOrqTokenParser::IncCurrChar() {
    const char c = Ch(FCurrChar);
    if (c == '\0') return;  // never step past the end of the text
    ++FCurrChar;
    ++FCharsRead;
    if (IsLineBreak(c)) {
        ++FLineNo;
        FLineOffset = 1;
        // CR LF and LF CR are one break; CR CR and LF LF are two lines (a blank line between).
        const char n = Ch(FCurrChar);
        if (IsLineBreak(n) && n != c) ++FCurrChar;
    } else {
        FRawText += c;
        ++FLineOffset;
    }
}

TOrqSQLToken TOrqTokenParser::FinishWord(std::string& Text) {
    Text = Span();
    return GetSQLToken(Text);
}

TOrqSQLToken TOrqTokenParser::NextSQLToken(std::string& Text) {
    FTokenStart = kNoStart;
    FQualifierPending = false;
    for (;;) {
        const char c = Ch(FCurrChar);
        const bool started = FTokenStart != kNoStart;
        switch (c) {
            case '\0':
                if (started) return FinishWord(Text);
                Text.clear();
                return ostEnd;
            case '\t':
            case '\n':
            case '\r':
            case ' ':
                if (started) return FinishWord(Text);
                while (IsBlank(Ch(FCurrChar))) IncCurrChar();
                continue;
            case ',':
            case '(':
            case ')':
            case ';':
                if (started) return FinishWord(Text);
                IncCurrChar();
                Text.assign(1, c);
                return c == ',' ? ostComma : c == '(' ? ostLParen : c == ')' ? ostRParen : ostEnd;
            case '"':
            case '#':
            case '\'':
            case '[':
            case '`': {
                bool done = false;
                TOrqSQLToken token = ScanQuoted(c, Text, done);
                if (done) return token;
                continue;
            }
            case '*':
                if (started) return FinishWord(Text);
                SetTokenStart(FCurrChar);
                IncCurrChar();
                Text = "*";
                return ostMult;
            case '+':
            case '-':
                if (started) return FinishWord(Text);
                SetTokenStart(FCurrChar);
                IncCurrChar();
                if (Ch(FCurrChar) == '.' || IsDigit(Ch(FCurrChar))) {
                    while (Ch(FCurrChar) == '.' || IsDigit(Ch(FCurrChar))) IncCurrChar();
                    Text = Span();
                    return ostNumber;
                }
                Text.assign(1, c);
                return c == '+' ? ostAdd : ostSub;
            case '.':
                if (started) {
                    Text = Span();
                    return ostTableName;
                }
                if (IsDigit(Ch(FCurrChar + 1))) {
                    // A leading-dot number: ".5" is one half, not the number 5.
                    SetTokenStart(FCurrChar);
                    while (Ch(FCurrChar) == '.' || IsDigit(Ch(FCurrChar))) IncCurrChar();
                    Text = Span();
                    return ostNumber;
                }
                FQualifierPending = true;
                IncCurrChar();
                continue;
            case '/':
                if (started) return FinishWord(Text);
                return ScanComment(Text);
            case '<':
            case '=':
            case '>':
                if (started) return FinishWord(Text);
                SetTokenStart(FCurrChar);
                while (IsCompChar(Ch(FCurrChar))) IncCurrChar();
                Text = Span();
                return ostCompOperator;
            case ':':
                if (started) break;
                SetTokenStart(FCurrChar);
                IncCurrChar();
                Text = ":";
                return ostParameter;
            default:
                if (IsDigit(c) && !started) {
                    SetTokenStart(FCurrChar);
                    while (Ch(FCurrChar) == '.' || IsDigit(Ch(FCurrChar))) IncCurrChar();
                    Text = Span();
                    return ostNumber;
                }
                break;
        }
        // A word character (also a digit or ":" inside a started word).
        StartToken();
        IncCurrChar();
    }
}

// Quoted text from the quote at the current character. `done` is false when the quote is not
// closed: the quote has then been consumed as a word character and scanning goes on.
TOrqSQLToken TOrqTokenParser::ScanQuoted(char quote, std::string& Text, bool& done) {
    const TScanState atQuote = SaveState();
    StartToken();
    const char closing = quote == '[' ? ']' : quote;
    const bool doubles = quote == '"' || quote == '\'';
    IncCurrChar();
    // Past a "[" already known to be unclosed no "]" follows: no need to look again.
    if (quote == '[' && FBracketUnclosedFrom != kNoStart && atQuote.CurrChar > FBracketUnclosedFrom)
        FCurrChar = FTokenString.size();
    for (;;) {
        const char c = Ch(FCurrChar);
        if (c == '\0') {
            if (quote == '[' && FBracketUnclosedFrom == kNoStart) FBracketUnclosedFrom = atQuote.CurrChar;
            // Unterminated: back to the quote, which becomes an ordinary word character.
            FCurrChar = atQuote.CurrChar;
            FLineNo = atQuote.LineNo;
            FLineOffset = atQuote.LineOffset;
            FRawText = atQuote.RawText;
            IncCurrChar();
            done = false;
            return ostUnknown;
        }
        if (c == closing) {
            if (doubles && Ch(FCurrChar + 1) == closing) {
                IncCurrChar();
                IncCurrChar();
                continue;
            }
            break;
        }
        IncCurrChar();
    }
    IncCurrChar();  // the closing character
    done = true;
    const std::string span = Span();
    if (quote == '[')
        Text = span.size() >= 2 ? span.substr(1, span.size() - 2) : std::string();
    else
        Text = ExtractQuoted(span, quote);
    if (FQualifierPending || quote == '[') return ostFieldName;
    if (Ch(FCurrChar) == '.') return ostTableName;
    return quote == '\'' ? ostStringLiteral : ostValue;
}

// "/" at the current character: a block comment, a line comment or the division operator.
TOrqSQLToken TOrqTokenParser::ScanComment(std::string& Text) {
    SetTokenStart(FCurrChar);
    IncCurrChar();
    if (Ch(FCurrChar) == '*') {
        IncCurrChar();
        for (;;) {
            const char c = Ch(FCurrChar);
            if (c == '\0') break;
            if (c == '*' && Ch(FCurrChar + 1) == '/') {
                IncCurrChar();
                IncCurrChar();
                break;
            }
            IncCurrChar();
        }
        Text = Span();
        return ostComment;
    }
    if (Ch(FCurrChar) == '/') {
        while (Ch(FCurrChar) != '\0' && !IsLineBreak(Ch(FCurrChar))) IncCurrChar();
        Text = Span();
        return ostComment;
    }
    Text = "/";
    return GetSQLToken(Text);
}

TOrqSQLToken TOrqTokenParser::GetSQLToken(std::string& Text) {
    if (Text.empty() || Text == ";") return ostEnd;
    if (Text == "*") return ostMult;
    if (Text == "/") return ostDiv;
    if (FQualifierPending) return ostFieldName;

    const std::string word = AnsiUpperCase(Text);
    if (word == "DISTINCT" && FLastSectionToken == ostSelect) return ostDistinct;

    const auto& table = KeywordTable();
    if (auto it = table.find(word); it != table.end()) return it->second;
    // The word a look-ahead reads is only compared by its text: joining it with the word after
    // it would make the look-ahead recursive (and exponential over a run of NOTs).
    if (FInLookAhead) return ostFieldName;

    if (word == "FOR") return NextTokenIs("UPDATE", Text) ? ostForUpdate : ostFor;
    if (word == "IS") {
        if (NextTokenIs("NULL", Text)) return ostIsNull;
        const TScanState afterIs = SaveState();
        const std::string isText = Text;
        if (NextTokenIs("NOT", Text)) {
            if (NextTokenIs("NULL", Text)) return ostIsNotNull;
            RestoreState(afterIs);
            Text = isText;
        }
        return ostValue;
    }
    if (word == "NOT") {
        if (NextTokenIs("LIKE", Text)) return ostNotLike;
        if (NextTokenIs("BETWEEN", Text)) return ostNotBetween;
        if (NextTokenIs("IN", Text)) return ostNotIn;
        return ostNot;
    }
    if (word == "GROUP" && NextTokenIs("BY", Text)) return ostGroupBy;
    if (word == "ORDER" && NextTokenIs("BY", Text)) return ostOrderBy;
    if (word == "PRIMARY" && NextTokenIs("KEY", Text)) return ostPrimaryKey;

    if (IsAggFunc(Text)) return ostAggFunc;
    if (IsDataType(Text)) return ostDataType;
    if (IsStrFunc(Text)) return ostStrFunc;
    return ostFieldName;
}

// Reads one token ahead; when its text is Word (ignoring case) it stays consumed and is
// appended to Text after one blank, otherwise the scanner is put back exactly as it was. The
// joined token keeps the start column of its first word.
bool TOrqTokenParser::NextTokenIs(const char* Word, std::string& Text) {
    const TScanState saved = SaveState();
    std::string next;
    FInLookAhead = true;
    NextSQLToken(next);
    FInLookAhead = false;
    if (AnsiSameText(next, Word)) {
        Text += ' ';
        Text += next;
        FTokenStart = saved.TokenStart;
        FTokenStartOffset = saved.TokenStartOffset;
        FQualifierPending = saved.QualifierPending;
        return true;
    }
    RestoreState(saved);
    return false;
}

// The mappers are asked with an empty second word, so only one-word names match here (the
// two-word DOUBLE PRECISION is never recognised by the scanner; DOUBLE is a field name).
bool TOrqTokenParser::IsAggFunc(const std::string& Text) const {
    return TAggFuncMapper().IsMemberToken(Text, "") > 0;
}
bool TOrqTokenParser::IsDataType(const std::string& Text) const {
    return TDataTypeMapper().IsMemberToken(Text, "") > 0;
}
bool TOrqTokenParser::IsStrFunc(const std::string& Text) const {
    return TStrFuncMapper().IsMemberToken(Text, "") > 0;
}

}  // namespace ostra
