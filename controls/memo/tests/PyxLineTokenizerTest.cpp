// The line tokenizer over the SQL styler: runs and their colours for the kinds of text it tells
// apart, and start states found through checkpoints against a full scan after random edits.
#include <gtest/gtest.h>

#include <random>

#include "controls/memo/PyxLineTokenizer.h"
#include "controls/memo/pyxmsqls.h"
#include "controls/memo/tests/support/MemoTestKit.h"

namespace ostra::test {
namespace {

// A memo with the SQL styler.
struct SqlKit : MemoKit {
    std::unique_ptr<TPyxSQLMemoStyler> Styler = std::make_unique<TPyxSQLMemoStyler>(nullptr);
    SqlKit() { Memo->SetSyntaxStyles(Styler.get()); }
};

// One letter for what a run is: comment, bracket run, number, keyword, symbol, URL or plain.
char Kind(const TokenState& s) {
    if (s.IsUrl) return 'u';
    if (s.InComment) return 'c';
    if (s.InBracket) return 'b';
    if (s.IsNumber) return 'n';
    if (s.IsKeyword) return 'k';
    if (s.IsSymbol) return 's';
    return 'p';
}

// The runs of every line of `Text` ("\n" between lines), read from the text's start, as
// "text/kind" joined by "|", lines joined by " # ".
std::string Runs(TPyxCustomMemo& Memo, const std::string& Text) {
    SetText(Memo, Text);
    TPyxLineTokenizer tokenizer(Memo);
    TokenState state = TokenState::Initial();
    std::string result;
    for (int i = 0; i < Memo.Lines().Count(); ++i) {
        if (i > 0) result += " # ";
        bool first = true;
        for (const TPyxRun& run : tokenizer.Tokenize(Memo.Lines().Strings(i), state)) {
            result += (first ? "" : "|") + run.Text + "/" + Kind(run.State);
            first = false;
        }
    }
    return result;
}

TEST(LineTokenizer, RunsOfTheKindsOfText) {
    SqlKit kit;
    struct Case {
        const char* text;
        const char* runs;
    } cases[] = {
        {"SELECT x FROM t", "SELECT/k| /s|x/p| /s|FROM/k| /s|t/p"},
        {"select Where", "select/k| /s|Where/k"},
        {"{ a\nb } x", "{ a/c # b }/c| /s|x/p"},
        {"' text\nx", "' text/c # x/p"},
        {"a \"b c\nd\" e", "a/p| /s|\"b c/b # d\"/b| /s|e/p"},
        {"\"{not a comment\"", "\"{not a comment\"/b"},
        {"1.2.3", "1/n|./s|2.3/n"},
        {"+5 x+1 -5", "+5/n| /s|x+1/p| -/s|5/n"},
        {"{ see http://x.org }", "{ see /c|http://x.org/u| }/c"},
        {"FROMAGE", "FROMAGE/p"},
    };
    for (const Case& c : cases) EXPECT_EQ(Runs(*kit, c.text), c.runs) << c.text;
}

TEST(LineTokenizer, RunsCarryTheStylersColours) {
    SqlKit kit;
    SetText(*kit, "SELECT \"s\" 42 {c} http://u");
    TPyxLineTokenizer tokenizer(*kit);
    TokenState state = TokenState::Initial();
    std::map<std::string, TPyxRunStyle> styles;
    for (const TPyxRun& run : tokenizer.Tokenize(kit->Lines().Strings(0), state)) styles[run.Text] = run.Style;
    EXPECT_EQ(styles["SELECT"], (TPyxRunStyle{clGreen, clWhite, {}}));
    EXPECT_EQ(styles["\"s\""], (TPyxRunStyle{clBlue, clWhite, {}}));
    EXPECT_EQ(styles["42"], (TPyxRunStyle{clFuchsia, clWhite, {fsBold}}));
    EXPECT_EQ(styles["{c}"], (TPyxRunStyle{clNavy, clWhite, {fsItalic}}));
    EXPECT_EQ(styles[" "], (TPyxRunStyle{clTeal, clWhite, {}}));
    EXPECT_EQ(styles["http://u"], (TPyxRunStyle{clBlue, clWhite, {fsUnderline}}));

    // Without a styler everything is the memo's font on its background.
    kit->SetSyntaxStyles(nullptr);
    TPyxLineTokenizer plain(*kit);
    state = TokenState::Initial();
    for (const TPyxRun& run : plain.Tokenize("SELECT {x}", state))
        EXPECT_EQ(run.Style, (TPyxRunStyle{clBlack, clWhite, {}})) << run.Text;
}

TEST(LineTokenizer, DestroyingTheStylerLeavesThePlainMemo) {
    MemoKit kit;
    auto styler = std::make_unique<TPyxSQLMemoStyler>(nullptr);
    kit->SetSyntaxStyles(styler.get());
    EXPECT_EQ(styler->AllStyles().StyledMemo(), kit.Memo.get());
    styler.reset();
    EXPECT_EQ(kit->SyntaxStyles(), nullptr);
    EXPECT_TRUE(kit->IsWordDelimiter(' '));
    EXPECT_FALSE(kit->IsWordDelimiter(','));
}

// ---- Start states through checkpoints

// The state line `Line` starts in, read from the text's start with no checkpoint.
TokenState FullScan(const TPyxCustomMemo& Memo, int Line) {
    TPyxLineTokenizer tokenizer(Memo);
    TokenState state = TokenState::Initial();
    for (int n = 0; n < Line; ++n) tokenizer.Advance(Memo.Lines().Strings(n), state);
    return state;
}

std::string RandomSqlLine(std::mt19937& rng) {
    static const char* const kPieces[] = {"select", " ", "{", "}", "\"", "'", "x", "12", "http://a{", ",", "from"};
    std::string line;
    const int n = static_cast<int>(rng() % 6);
    for (int i = 0; i < n; ++i) line += kPieces[rng() % (sizeof kPieces / sizeof *kPieces)];
    return line;
}

TEST(LineTokenizer, StartStatesThroughCheckpointsEqualAFullScanAfterEdits) {
    std::mt19937 rng(7);
    SqlKit kit;
    TStringList text;
    for (int i = 0; i < 260; ++i) text.Add(RandomSqlLine(rng));
    kit->SetLines(&text);
    int changes = 0;
    kit->OnChange = [&](TObject*) { ++changes; };
    ComputeStartState(*kit, 250);
    EXPECT_EQ(changes, 0) << "storing checkpoints changes no text";
    for (int round = 0; round < 150; ++round) {
        // Checkpoints are made by scans to a few lines, then the text changes above some of them.
        for (int k = 0; k < 3; ++k) ComputeStartState(*kit, static_cast<int>(rng() % kit->Lines().Count()));
        TPyxMemoStrings& lines = kit->Lines();
        const int at = static_cast<int>(rng() % lines.Count());
        switch (rng() % 5) {
            case 0: lines.SetStrings(at, RandomSqlLine(rng)); break;
            case 1: lines.InsertLine(at, RandomSqlLine(rng)); break;
            case 2: lines.RemoveLine(at); break;
            case 3:
                Place(*kit, static_cast<int>(rng() % 4), at);
                Type(*kit, rng() % 2 ? "{" : "\"");
                break;
            default:
                Place(*kit, 0, at);
                Control(*kit, 'Y');
                break;
        }
        for (int k = 0; k < 4; ++k) {
            const int line = static_cast<int>(rng() % kit->Lines().Count());
            ASSERT_EQ(ComputeStartState(*kit, line), FullScan(*kit, line)) << "round " << round << " line " << line;
        }
    }
}

}  // namespace
}  // namespace ostra::test
