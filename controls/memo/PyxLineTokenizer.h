// The memo's line tokenizer: it cuts a line into runs of equal colouring state, driven by the
// styler's element styles (keywords, bracket characters, symbol characters), its comment
// delimiters and its number characters, and resolves each run's colours. Comments and bracket
// runs (strings) may span lines, so every line starts in the state the lines above left.
//
// One tokenizer serves both painting and the scan that finds the start state of a line, so the
// colours of a line never depend on whether it was reached by scrolling down or by painting from
// the top. The scan stops at the nearest trusted checkpoint above the line (PyxMemoStrings.h),
// stores a checkpoint every 50 lines it passes, rewrites every stale checkpoint it passes and
// then marks its checkpoints trusted.
//
// A line is read as its URL words (TPyxCustomMemo::SplitUrlWords). In a word, left to right:
//   - inside a comment, everything up to and including the closing delimiter is comment;
//   - outside a bracket run, the opening comment delimiter starts a comment, the line comment
//     delimiter a comment to the line's end;
//   - inside a bracket run, every character belongs to the run (the escape character makes the
//     next one ordinary) until the run's closing character; outside, a bracket character opens a
//     run;
//   - a symbol character is a token of its own, after which a token may start;
//   - where a token may start (at a word's start, at a blank or a symbol character, or anywhere
//     when the styler has no symbols): a number (a number start character, then number
//     characters and "E"; a second full stop ends it before the first), or a keyword (the
//     characters up to the next blank or symbol, compared ignoring case unless CaseSensitive);
//   - anything else is plain, one character at a time.
// A URL word (one beginning with "http://" or "mailto:", any case) is one token, also inside a
// comment. A line comment ends with its line.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

#include "controls/memo/PyxGraphics.h"
#include "controls/memo/PyxTokenState.h"

namespace ostra {

class TPyxCustomMemo;
class TPyxCustomMemoStyler;

// How a run is drawn.
struct TPyxRunStyle {
    TColor TextColor = clBlack;
    TColor BkColor = clWhite;
    TFontStyles Style;
    bool operator==(const TPyxRunStyle&) const = default;
};

// A run of one line: its text, the column it starts at, the state it was read in and its
// resolved style.
struct TPyxRun {
    std::string Text;
    int Column = 0;
    TokenState State;
    TPyxRunStyle Style;
};

// A tokenizer over one memo's styler and settings as they are when it is made (make one per
// paint or scan).
class TPyxLineTokenizer {
public:
    explicit TPyxLineTokenizer(const TPyxCustomMemo& Memo);

    // The runs of `Line`, which starts in `State`; `State` becomes the state the next line
    // starts in. Adjacent tokens of equal state form one run.
    std::vector<TPyxRun> Tokenize(const std::string& Line, TokenState& State) const;
    // Reads `Line` only for the state the next line starts in.
    void Advance(const std::string& Line, TokenState& State) const;
    // The colours and font style of a run read in `State`.
    TPyxRunStyle ResolveStyle(const TokenState& State) const;
    // Every symbol character of the styler's symbol styles.
    const std::string& SymbolChars() const { return FSymbolChars; }

private:
    struct TReader;

    void ReadLine(const std::string& Line, TokenState& State, std::vector<TPyxRun>* Runs) const;
    void ReadWord(TReader& Reader, const std::string& Word) const;
    // The index of the keyword style holding `Token`; -1 when none does.
    int KeywordStyle(const std::string& Token) const;
    bool IsSymbol(char Ch) const { return FSymbolChars.find(Ch) != std::string::npos; }

    const TPyxCustomMemo& FMemo;
    const TPyxCustomMemoStyler* FStyler;
    bool FCaseSensitive;
    std::string FSymbolChars;
    std::string FNumberStartChars;
    std::string FNumberChars;
    char FEscape;
    // Keyword (lower-cased unless case-sensitive) -> the first keyword style holding it.
    std::unordered_map<std::string, int> FKeywords;
    TPyxRunStyle FPlain;
};

// The state line `Line` of the memo's text starts in (the initial state without a styler). The
// scan stores checkpoints in the memo's effective lines as the file comment says.
TokenState ComputeStartState(const TPyxCustomMemo& Memo, int Line);

}  // namespace ostra
