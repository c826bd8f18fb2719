// The line tokenizer, run resolution and the start-state scan with its checkpoints.
#include "controls/memo/PyxLineTokenizer.h"

#include <algorithm>

#include "controls/memo/PyxCustomMemo.h"
#include "host/Collation.h"

namespace ostra {

// The state of reading one line: the running state, the pending run and where the next text
// starts.
struct TPyxLineTokenizer::TReader {
    const TPyxLineTokenizer& Tokenizer;
    TokenState& State;
    std::vector<TPyxRun>* Runs;
    TPyxRun Pending;
    bool HasPending = false;
    int Column = 0;
    bool LineCommentSeen = false;

    // Adds a token read in the running state: it extends the pending run when that was read in
    // the same state, else starts a new run. The token flags are cleared after every token.
    void AddRun(const std::string& Text) {
        if (!Text.empty() && Runs) {
            if (HasPending && Pending.State == State) {
                Pending.Text += Text;
            } else {
                Flush();
                Pending = TPyxRun{Text, Column, State, {}};
                HasPending = true;
            }
        }
        Column += static_cast<int>(Text.size());
        State.IsNumber = State.IsKeyword = State.IsSymbol = State.IsUrl = 0;
    }
    void Flush() {
        if (!HasPending) return;
        Pending.Style = Tokenizer.ResolveStyle(Pending.State);
        Runs->push_back(std::move(Pending));
        HasPending = false;
    }
};

TPyxLineTokenizer::TPyxLineTokenizer(const TPyxCustomMemo& Memo)
    : FMemo(Memo),
      FStyler(Memo.EffectiveStyler()),
      FCaseSensitive(Memo.CaseSensitive()),
      FEscape(Memo.EscapeChar()) {
    FPlain = {Memo.CanvasFont().Color(), Memo.BkColor(), Memo.CanvasFont().Style()};
    if (!FStyler) return;
    const TElementStyles& styles = FStyler->AllStyles();
    for (int i = 0; i < styles.Count(); ++i) {
        const TElementStyle& style = *styles.Style(i);
        if (style.StyleType() == stSymbol) FSymbolChars += style.Symbols();
        if (style.StyleType() != stKeyword) continue;
        for (int k = 0; k < style.KeyWords().Count(); ++k) {
            const std::string& word = style.KeyWords().Strings(k);
            FKeywords.emplace(FCaseSensitive ? word : AnsiLowerCase(word), i);
        }
    }
    FNumberStartChars = AnsiUpperCase(FStyler->NumberCharSet());
    FNumberChars = FNumberStartChars + "E";
}

int TPyxLineTokenizer::KeywordStyle(const std::string& Token) const {
    auto it = FKeywords.find(FCaseSensitive ? Token : AnsiLowerCase(Token));
    return it == FKeywords.end() ? -1 : it->second;
}

std::vector<TPyxRun> TPyxLineTokenizer::Tokenize(const std::string& Line, TokenState& State) const {
    std::vector<TPyxRun> runs;
    ReadLine(Line, State, &runs);
    return runs;
}

void TPyxLineTokenizer::Advance(const std::string& Line, TokenState& State) const {
    ReadLine(Line, State, nullptr);
}

void TPyxLineTokenizer::ReadLine(const std::string& Line, TokenState& State, std::vector<TPyxRun>* Runs) const {
    TReader reader{*this, State, Runs, {}};
    for (const std::string& word : FMemo.SplitUrlWords(Line)) {
        if (FMemo.UrlAware() && TPyxCustomMemo::IsUrlWord(word)) State.IsUrl = 1;
        ReadWord(reader, word);
    }
    if (Runs) reader.Flush();
    if (reader.LineCommentSeen) State.InComment = 0;
}

void TPyxLineTokenizer::ReadWord(TReader& Reader, const std::string& Word) const {
    TokenState& s = Reader.State;
    if (!FStyler || s.IsUrl) {
        Reader.AddRun(Word);
        return;
    }
    const std::string& commentLeft = FStyler->MultiCommentLeft();
    const std::string& commentRight = FStyler->MultiCommentRight();
    const std::string& lineComment = FStyler->LineComment();
    const bool multiComments = !commentLeft.empty() && !commentRight.empty();
    const TElementStyles& styles = FStyler->AllStyles();
    const size_t n = Word.size();
    size_t p = 0;
    bool atStart = true;
    bool handled = false;
    auto startsHere = [&](const std::string& Delimiter) {
        return !Delimiter.empty() && Word.compare(p, Delimiter.size(), Delimiter) == 0;
    };
    auto upper = [](char c) { return AnsiUpperChar(c); };

    while (p < n) {
        if (!handled) atStart = p == 0 || Word[p] == ' ' || IsSymbol(Word[p]) || FSymbolChars.empty();
        handled = false;

        // Comments that may span lines.
        if (multiComments && !s.InBracket) {
            if (s.InComment) {
                size_t end = Word.find(commentRight, p);
                if (end == std::string::npos) {
                    Reader.AddRun(Word.substr(p));
                    return;
                }
                end += commentRight.size();
                Reader.AddRun(Word.substr(p, end - p));
                p = end;
                s.InComment = 0;
                atStart = handled = true;
                continue;
            }
            if (startsHere(commentLeft) && !startsHere(lineComment)) {
                s.InComment = 1;
                Reader.AddRun(commentLeft);
                p += commentLeft.size();
                atStart = handled = true;
                continue;
            }
        }

        if (!s.InComment) {
            // A line comment runs to the line's end.
            if (!s.InBracket && startsHere(lineComment)) {
                s.InComment = 1;
                Reader.AddRun(Word.substr(p));
                Reader.LineCommentSeen = true;
                return;
            }
            // Inside a bracket run every character is the run's, up to its closing character.
            if (s.InBracket && s.BracketChar != 0) {
                const size_t take = FEscape != 0 && Word[p] == FEscape && p + 1 < n ? 2 : 1;
                const char c = Word[p];
                Reader.AddRun(Word.substr(p, take));
                p += take;
                handled = true;
                if (take == 1 && c == s.BracketChar) {
                    s.InBracket = 0;
                    atStart = false;
                }
                continue;
            }
            // A bracket character opens a run.
            s.InBracket = 0;
            s.BracketChar = 0;
            for (int i = 0; i < styles.Count(); ++i) {
                const TElementStyle& style = *styles.Style(i);
                if (style.StyleType() != stBracket) continue;
                s.BracketChar = style.Bracket();
                s.StyleIndex = i;
                if (style.Bracket() != 0 && style.Bracket() == Word[p]) {
                    s.InBracket = 1;
                    break;
                }
            }
            if (s.InBracket) {
                Reader.AddRun(Word.substr(p, 1));
                ++p;
                continue;
            }
        }

        // A symbol character is a token of its own.
        for (int i = 0; i < styles.Count(); ++i) {
            const TElementStyle& style = *styles.Style(i);
            if (style.StyleType() != stSymbol || style.Symbols().find(Word[p]) == std::string::npos) continue;
            s.IsSymbol = 1;
            s.StyleIndex = i;
            Reader.AddRun(Word.substr(p, 1));
            ++p;
            atStart = handled = true;
            break;
        }
        if (handled) continue;

        if (atStart) {
            // A number: a start character, then number characters; a second full stop ends the
            // number before the first.
            if (FNumberStartChars.find(upper(Word[p])) != std::string::npos) {
                size_t end = p;
                size_t firstStop = std::string::npos;
                while (end < n && FNumberChars.find(upper(Word[end])) != std::string::npos) {
                    if (Word[end] == '.') {
                        if (firstStop != std::string::npos) {
                            end = firstStop;
                            break;
                        }
                        firstStop = end;
                    }
                    ++end;
                }
                if (end > p) {
                    s.IsSymbol = 0;
                    s.IsNumber = 1;
                    Reader.AddRun(Word.substr(p, end - p));
                    p = end;
                    atStart = false;
                    handled = true;
                    continue;
                }
            }
            // A keyword: the characters up to the next blank or symbol character.
            size_t end = p;
            while (end < n && Word[end] != ' ' && !IsSymbol(Word[end])) ++end;
            if (end > p) {
                const int style = KeywordStyle(Word.substr(p, end - p));
                if (style >= 0) {
                    s.IsKeyword = 1;
                    s.StyleIndex = style;
                    Reader.AddRun(Word.substr(p, end - p));
                    p = end;
                    handled = true;
                    continue;
                }
            }
        }
        Reader.AddRun(Word.substr(p, 1));
        ++p;
    }
}

TPyxRunStyle TPyxLineTokenizer::ResolveStyle(const TokenState& State) const {
    TPyxRunStyle result = FPlain;
    auto takeStyle = [&](int Index) {
        if (!FStyler || Index < 0 || Index >= FStyler->AllStyles().Count()) {
            result = FPlain;  // the styles changed under the state: plain text
            return;
        }
        const TElementStyle& style = *FStyler->AllStyles().Style(Index);
        result = {style.Font().Color(), style.BGColor(), style.Font().Style()};
    };
    auto takeCharStyle = [&](const TCharStyle& style) {
        result = {style.TextColor(), style.BkColor(), style.Style()};
    };
    if (State.InComment && !State.IsUrl) {
        if (FStyler) takeCharStyle(FStyler->CommentStyle());
    } else if (!State.InBracket || State.IsUrl) {
        if (State.IsNumber && FStyler) takeCharStyle(FStyler->NumberStyle());
        if (State.IsSymbol) takeStyle(State.StyleIndex);
        if (State.IsKeyword) takeStyle(State.StyleIndex);
        if (State.IsUrl) takeCharStyle(FMemo.UrlStyle());
    } else {
        takeStyle(State.StyleIndex);
    }
    return result;
}

TokenState ComputeStartState(const TPyxCustomMemo& Memo, int Line) {
    TokenState state = TokenState::Initial();
    TPyxMemoStrings& lines = Memo.EffectiveLines();
    if (lines.Count() == 0 || !Memo.EffectiveStyler()) return state;
    Line = std::clamp(Line, 0, lines.Count() - 1);

    // The nearest trusted checkpoint above the line; none is trusted below the watermark.
    int start = 0;
    for (int k = std::min(Line - 1, lines.ValidStatesThrough()); k >= 0; --k) {
        if (lines.ReadLineState(k, state)) {
            start = k;
            break;
        }
    }
    const TPyxLineTokenizer tokenizer(Memo);
    for (int n = start; n < Line; ++n) {
        // Every checkpoint passed is rewritten (a stale one becomes right again); a new one is
        // added every 50 lines.
        if (n % 50 == 0 || lines.GetLineProp(n)) lines.StoreLineState(n, state);
        tokenizer.Advance(lines.Strings(n), state);
    }
    lines.StoreLineState(Line, state);
    lines.MarkStatesValidThrough(Line);
    return state;
}

}  // namespace ostra
