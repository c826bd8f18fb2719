// The SQL scanner: token types, texts, start positions and raw texts for the character rules,
// keyword recognition, look-ahead, quotes, comments, numbers and line counting.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/sql/orqSQLScanner.h"

namespace ostra {
namespace {

struct Tok {
    TOrqSQLToken Type;
    std::string Text;
    int Line;
    int Col;
    std::string Raw;
    bool operator==(const Tok&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Tok& t) {
    return os << "{" << COrqStrSQLTokens[t.Type] << " '" << t.Text << "' " << t.Line << ":" << t.Col
              << " raw '" << t.Raw << "'}";
}

// Every token of `text` up to and including the end-of-text token.
std::vector<Tok> Scan(const std::string& text) {
    TOrqTokenParser scanner;
    scanner.SetTokenString(text);
    std::vector<Tok> tokens;
    for (int guard = 0; guard < 1000; ++guard) {
        std::string t;
        TOrqSQLToken type = scanner.GetNextToken(t);
        tokens.push_back({type, t, scanner.LineNo(), scanner.TokenStartOffset(), scanner.RawText()});
        if (type == ostEnd && t.empty()) break;
    }
    return tokens;
}

// Types and texts only, without the end-of-text token.
std::vector<std::pair<TOrqSQLToken, std::string>> Kinds(const std::string& text) {
    std::vector<std::pair<TOrqSQLToken, std::string>> result;
    for (const Tok& t : Scan(text))
        if (!(t.Type == ostEnd && t.Text.empty())) result.emplace_back(t.Type, t.Text);
    return result;
}

using K = std::vector<std::pair<TOrqSQLToken, std::string>>;

struct KindCase {
    const char* Input;
    K Expected;
};

TEST(SQLScanner, TokenTypesAndTexts) {
    // clang-format off
    const KindCase cases[] = {
        // IS without NULL / NOT NULL is a value token; the look-ahead leaves NOT and x alone.
        {"IS NOT x", {{ostValue, "IS"}, {ostNot, "NOT"}, {ostFieldName, "x"}}},
        {"a IS NULL", {{ostFieldName, "a"}, {ostIsNull, "IS NULL"}}},
        {"a is  not\tnull", {{ostFieldName, "a"}, {ostIsNotNull, "is not null"}}},
        {"group by Order  By", {{ostGroupBy, "group by"}, {ostOrderBy, "Order By"}}},
        {"GROUP x", {{ostFieldName, "GROUP"}, {ostFieldName, "x"}}},
        {"FOR UPDATE", {{ostForUpdate, "FOR UPDATE"}}},
        {"FOR x", {{ostFor, "FOR"}, {ostFieldName, "x"}}},
        {"NOT LIKE NOT BETWEEN NOT IN NOT",
         {{ostNotLike, "NOT LIKE"}, {ostNotBetween, "NOT BETWEEN"}, {ostNotIn, "NOT IN"}, {ostNot, "NOT"}}},
        {"PRIMARY KEY PRIMARY", {{ostPrimaryKey, "PRIMARY KEY"}, {ostFieldName, "PRIMARY"}}},
        // Quotes: doubled apostrophes and double quotes stand for one; # and ` are never doubled.
        {"'it''s'", {{ostStringLiteral, "it's"}}},
        {"\"say \"\"hi\"\"\"", {{ostValue, "say \"hi\""}}},
        {"#a##b#", {{ostValue, "a"}, {ostValue, "b"}}},
        {"#2001-01-01# `x`", {{ostValue, "2001-01-01"}, {ostValue, "x"}}},
        {"[my field]", {{ostFieldName, "my field"}}},
        {"'abc", {{ostFieldName, "'abc"}}},  // unterminated: the quote is a word character
        // Qualified names.
        {"t.*", {{ostTableName, "t"}, {ostMult, "*"}}},
        {"[t].f", {{ostFieldName, "t"}, {ostFieldName, "f"}}},
        {"'abc'.x", {{ostTableName, "abc"}, {ostFieldName, "x"}}},
        {"t.select", {{ostTableName, "t"}, {ostFieldName, "select"}}},
        {"t.\"my f\"", {{ostTableName, "t"}, {ostFieldName, "my f"}}},
        // Numbers and signs.
        {"a-1", {{ostFieldName, "a"}, {ostNumber, "-1"}}},
        {"a - 1", {{ostFieldName, "a"}, {ostSub, "-"}, {ostNumber, "1"}}},
        {"a=-1", {{ostFieldName, "a"}, {ostCompOperator, "="}, {ostNumber, "-1"}}},
        {".5", {{ostNumber, ".5"}}},
        {"-.5 +2", {{ostNumber, "-.5"}, {ostNumber, "+2"}}},
        {"1.2.3 x1", {{ostNumber, "1.2.3"}, {ostFieldName, "x1"}}},
        {"a + b", {{ostFieldName, "a"}, {ostAdd, "+"}, {ostFieldName, "b"}}},
        // Comparison operators: the whole run of < = >.
        {"a<>b", {{ostFieldName, "a"}, {ostCompOperator, "<>"}, {ostFieldName, "b"}}},
        {"a<=b", {{ostFieldName, "a"}, {ostCompOperator, "<="}, {ostFieldName, "b"}}},
        {"a=<b", {{ostFieldName, "a"}, {ostCompOperator, "=<"}, {ostFieldName, "b"}}},
        // Punctuation and operators.
        {"x;", {{ostFieldName, "x"}, {ostEnd, ";"}}},
        {"f(a,b)", {{ostFieldName, "f"}, {ostLParen, "("}, {ostFieldName, "a"}, {ostComma, ","},
                    {ostFieldName, "b"}, {ostRParen, ")"}}},
        {"a/b*c", {{ostFieldName, "a"}, {ostDiv, "/"}, {ostFieldName, "b"}, {ostMult, "*"}, {ostFieldName, "c"}}},
        {"a || b a||b", {{ostFieldName, "a"}, {ostConcatenate, "||"}, {ostFieldName, "b"}, {ostFieldName, "a||b"}}},
        {":p a:b", {{ostParameter, ":"}, {ostFieldName, "p"}, {ostFieldName, "a:b"}}},
        // Comments.
        {"a /* x", {{ostFieldName, "a"}, {ostComment, "/* x"}}},
        {"a /*/ b */ c", {{ostFieldName, "a"}, {ostComment, "/*/ b */"}, {ostFieldName, "c"}}},
        {"a // rest\nb", {{ostFieldName, "a"}, {ostComment, "// rest"}, {ostFieldName, "b"}}},
        // Keyword recognition.
        {"select From", {{ostSelect, "select"}, {ostFrom, "From"}}},
        {"DATETIME FLOAT REAL DEC DOUBLE",
         {{ostTimeStamp, "DATETIME"}, {ostNumeric, "FLOAT"}, {ostDataType, "REAL"}, {ostDataType, "DEC"},
          {ostFieldName, "DOUBLE"}}},
        {"count Trim upper caf\xE9", {{ostAggFunc, "count"}, {ostStrFunc, "Trim"}, {ostStrFunc, "upper"},
                                   {ostFieldName, "caf\xE9"}}},
        {"CASE WHEN THEN NULLIF COALESCE",
         {{ostCase, "CASE"}, {ostWhen, "WHEN"}, {ostThen, "THEN"}, {ostNullif, "NULLIF"}, {ostCoalesce, "COALESCE"}}},
        {"CURRENT_DATE ADD TEMPORARY", {{ostCurrentDate, "CURRENT_DATE"}, {ostAddWord, "ADD"}, {ostTemporary, "TEMPORARY"}}},
    };
    // clang-format on
    for (const KindCase& c : cases) EXPECT_EQ(Kinds(c.Input), c.Expected) << "input: " << c.Input;
}

TEST(SQLScanner, DistinctIsAKeywordOnlyAfterSelect) {
    EXPECT_EQ(Kinds("SELECT DISTINCT a FROM t WHERE DISTINCT = 1"), (K{{ostSelect, "SELECT"},
                                                                       {ostDistinct, "DISTINCT"},
                                                                       {ostFieldName, "a"},
                                                                       {ostFrom, "FROM"},
                                                                       {ostFieldName, "t"},
                                                                       {ostWhere, "WHERE"},
                                                                       {ostFieldName, "DISTINCT"},
                                                                       {ostCompOperator, "="},
                                                                       {ostNumber, "1"}}));
    EXPECT_EQ(Kinds("SELECT COUNT(DISTINCT x) FROM t HAVING COUNT(DISTINCT x) > 1")[3],
              (std::pair<TOrqSQLToken, std::string>{ostDistinct, "DISTINCT"}));
    EXPECT_EQ(Kinds("SELECT COUNT(DISTINCT x) FROM t HAVING COUNT(DISTINCT x) > 1")[11],
              (std::pair<TOrqSQLToken, std::string>{ostFieldName, "DISTINCT"}));
    EXPECT_EQ(Kinds("DISTINCT")[0].first, ostFieldName);
}

// Positions: words, quotes, numbers, operators, parameters and comments start at their first
// character; "," "(" ")" ";" and the end of the text at the column where the scan began.
TEST(SQLScanner, PositionsAndRawTexts) {
    EXPECT_EQ(Scan("IS NOT x"), (std::vector<Tok>{{ostValue, "IS", 1, 1, "IS"},
                                                  {ostNot, "NOT", 1, 4, " NOT"},
                                                  {ostFieldName, "x", 1, 8, " x"},
                                                  {ostEnd, "", 1, 9, ""}}));
    EXPECT_EQ(Scan("a  IS  NOT NULL , b"),
              (std::vector<Tok>{{ostFieldName, "a", 1, 1, "a"},
                                {ostIsNotNull, "IS NOT NULL", 1, 4, "  IS  NOT NULL"},
                                {ostComma, ",", 1, 16, " ,"},
                                {ostFieldName, "b", 1, 19, " b"},
                                {ostEnd, "", 1, 20, ""}}));
    EXPECT_EQ(Scan(" t.* - 1 :p /*c*/"), (std::vector<Tok>{{ostTableName, "t", 1, 2, " t"},
                                                           {ostMult, "*", 1, 4, ".*"},
                                                           {ostSub, "-", 1, 6, " -"},
                                                           {ostNumber, "1", 1, 8, " 1"},
                                                           {ostParameter, ":", 1, 10, " :"},
                                                           {ostFieldName, "p", 1, 11, "p"},
                                                           {ostComment, "/*c*/", 1, 13, " /*c*/"},
                                                           {ostEnd, "", 1, 18, ""}}));
    EXPECT_EQ(Scan("#a##b# a=<b"), (std::vector<Tok>{{ostValue, "a", 1, 1, "#a#"},
                                                     {ostValue, "b", 1, 4, "#b#"},
                                                     {ostFieldName, "a", 1, 8, " a"},
                                                     {ostCompOperator, "=<", 1, 9, "=<"},
                                                     {ostFieldName, "b", 1, 11, "b"},
                                                     {ostEnd, "", 1, 12, ""}}));
    EXPECT_EQ(Scan("-.5 .5"),
              (std::vector<Tok>{
                  {ostNumber, "-.5", 1, 1, "-.5"}, {ostNumber, ".5", 1, 5, " .5"}, {ostEnd, "", 1, 7, ""}}));
}

TEST(SQLScanner, LineBreaksAndMultiLineComments) {
    // CR LF and LF CR are one break; two LFs (a blank line) are two.
    EXPECT_EQ(Scan("a\r\n  b")[1], (Tok{ostFieldName, "b", 2, 3, "  b"}));
    EXPECT_EQ(Scan("a\n\r  b")[1], (Tok{ostFieldName, "b", 2, 3, "  b"}));
    EXPECT_EQ(Scan("a\n\nb")[1], (Tok{ostFieldName, "b", 3, 1, "b"}));
    EXPECT_EQ(Scan("a\r\rb")[1], (Tok{ostFieldName, "b", 3, 1, "b"}));
    EXPECT_EQ(Scan("a\r\n\r\nb")[1], (Tok{ostFieldName, "b", 3, 1, "b"}));
    // A comment over two lines: its text keeps the break, its raw text does not; the line is
    // the one the comment ends on, the column the one it starts at.
    std::vector<Tok> t = Scan("x /* a\r\nb */ y");
    EXPECT_EQ(t[1], (Tok{ostComment, "/* a\r\nb */", 2, 3, " /* ab */"}));
    EXPECT_EQ(t[2], (Tok{ostFieldName, "y", 2, 6, " y"}));
    // The end token after a trailing line break: column where the scan began, line after it.
    EXPECT_EQ(Scan("a\n").back(), (Tok{ostEnd, "", 2, 2, ""}));
}

TEST(SQLScanner, EndOfTextNulAndUnparsedRest) {
    TOrqTokenParser scanner;
    scanner.SetTokenString(std::string("a\0 junk ", 8));
    std::string text;
    EXPECT_EQ(scanner.GetNextToken(text), ostFieldName);
    EXPECT_EQ(scanner.GetNextToken(text), ostEnd);
    EXPECT_EQ(text, "");
    EXPECT_EQ(scanner.GetNextToken(text), ostEnd);  // the end repeats
    EXPECT_EQ(scanner.GetUnparsedText(), "junk");

    scanner.SetTokenString("a b");
    EXPECT_EQ(scanner.GetNextToken(text), ostFieldName);
    EXPECT_EQ(scanner.GetUnparsedText(), "b");
    EXPECT_EQ(scanner.GetNextToken(text), ostFieldName);
    EXPECT_EQ(scanner.GetNextToken(text), ostEnd);
    EXPECT_EQ(scanner.GetUnparsedText(), "");
}

TEST(SQLScanner, RemembersCurrentAndLastSectionToken) {
    TOrqTokenParser scanner;
    scanner.SetTokenString("SELECT a FROM t WHERE x");
    std::string text;
    scanner.GetNextToken(text);
    EXPECT_EQ(scanner.LastSectionToken(), ostSelect);
    scanner.GetNextToken(text);
    EXPECT_EQ(scanner.CurrentToken(), ostFieldName);
    EXPECT_EQ(scanner.LastSectionToken(), ostSelect);
    scanner.GetNextToken(text);
    EXPECT_EQ(scanner.LastSectionToken(), ostFrom);
    scanner.Prepare();
    EXPECT_EQ(scanner.LastSectionToken(), ostUnknown);
    EXPECT_EQ(scanner.CurrentToken(), ostUnknown);
    EXPECT_EQ(scanner.GetNextToken(text), ostSelect);
    EXPECT_EQ(scanner.LineOffset(), 7);
}

// Random texts built from fragments that exercise quotes, comments, look-ahead and line breaks:
// the scanner always reaches the end, consumes every character exactly once (the raw texts of
// all tokens are the text without its line breaks, even after failed look-aheads and
// unterminated quotes), counts lines by the break rule, and keeps columns inside their line.
TEST(SQLScanner, RandomTextsAreConsumedExactlyOnce) {
    // clang-format off
    const char* fragments[] = {"IS",  "NOT", "NULL", "GROUP", "BY", "FOR", "UPDATE", "IN", " ",  " ",  "\n", "\r",
                               "\r\n", "'",   "''",   "\"",    "#",  "[",   "]",      "`",  ".",  "-",  "+",  "5",
                               "/",   "*",   "//",   "/*",    "*/", "<",   "=",      ">",  ":",  ",",  "(",  ")",
                               ";",   "a",   "x1",   "\xE9",  "SELECT", "DISTINCT"};
    // clang-format on
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(fragments) - 1);
    std::uniform_int_distribution<int> length(0, 24);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int n = length(rng); n > 0; --n) text += fragments[pick(rng)];

        std::string withoutBreaks;
        int lines = 1;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c != '\r' && c != '\n') {
                withoutBreaks += c;
                continue;
            }
            ++lines;
            if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') && text[i + 1] != c) ++i;
        }

        TOrqTokenParser scanner;
        scanner.SetTokenString(text);
        std::string raw;
        int calls = 0;
        for (;;) {
            std::string t;
            const TOrqSQLToken type = scanner.GetNextToken(t);
            raw += scanner.RawText();
            ASSERT_GE(scanner.TokenStartOffset(), 1) << text;
            ASSERT_LE(scanner.TokenStartOffset(), static_cast<int>(text.size()) + 1) << text;
            if (type == ostEnd && t.empty()) break;
            ASSERT_LT(++calls, 1000) << "no end reached for: " << text;
        }
        EXPECT_EQ(raw, withoutBreaks) << text;
        EXPECT_EQ(scanner.LineNo(), lines) << text;
        EXPECT_EQ(scanner.GetUnparsedText(), "") << text;
    }
}

// Runs of the words that start a look-ahead, and of unclosed quotes, cost the scanner work in
// proportion to the text's length: a text twice as long takes at most about twice the steps,
// and never more than a few steps per character.
TEST(SQLScanner, WorkIsLinearInTheLengthOfTheText) {
    const char* units[] = {"NOT ", "IS NOT ", "GROUP ORDER PRIMARY FOR ", "NOT NOT LIKE ", "[", "'x''", "a[b ", "#"};
    for (const char* unit : units) {
        std::size_t steps[2] = {0, 0};
        std::size_t lengths[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            std::string text = "SELECT ID FROM a WHERE ";
            for (int n = 0; n < 4000 * (i + 1); ++n) text += unit;
            text += "ID = 1";
            TOrqTokenParser scanner;
            scanner.SetTokenString(text);
            std::string t;
            while (!(scanner.GetNextToken(t) == ostEnd && t.empty())) {
            }
            steps[i] = scanner.CharsRead();
            lengths[i] = text.size();
            EXPECT_LE(steps[i], 8 * lengths[i]) << unit;
        }
        EXPECT_LE(steps[1], 2 * steps[0] + lengths[1]) << unit;
    }
}

// A failed look-ahead reads its one word without joining it: the tokens are those of the
// keyword rules all the same.
TEST(SQLScanner, LookAheadOverRunsOfKeywords) {
    EXPECT_EQ(Kinds("NOT NOT LIKE x"), (K{{ostNot, "NOT"}, {ostNotLike, "NOT LIKE"}, {ostFieldName, "x"}}));
    EXPECT_EQ(Kinds("IS NOT IN x"), (K{{ostValue, "IS"}, {ostNotIn, "NOT IN"}, {ostFieldName, "x"}}));
    EXPECT_EQ(Kinds("IS NOT NOT NULL"), (K{{ostValue, "IS"}, {ostNot, "NOT"}, {ostNot, "NOT"}, {ostNull, "NULL"}}));
    EXPECT_EQ(Kinds("GROUP ORDER BY"), (K{{ostFieldName, "GROUP"}, {ostOrderBy, "ORDER BY"}}));
    EXPECT_EQ(Kinds("[a [b] ["), (K{{ostFieldName, "a [b"}, {ostFieldName, "["}}));
    EXPECT_EQ(Kinds("[a [b"), (K{{ostFieldName, "[a"}, {ostFieldName, "[b"}}));
}

}  // namespace
}  // namespace ostra
