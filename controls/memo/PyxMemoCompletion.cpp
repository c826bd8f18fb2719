// The memo core's autocompletion list, parameter hint, tooltips and timers. The list and the hint
// are state here; the view shows them in pop-ups that never take the focus, so every key reaches
// the memo, and an open list takes the keys first (CompletionKeyDown).
//
// The replaced span. The list completes the text typed before the caret: in member mode the
// token from the completion start (just after the last token delimiter, a full stop for one) to
// the caret, otherwise the blank-delimited word that ends at the caret. The list filters by that
// text, and accepting an entry replaces exactly that span: text after the caret stays.
#include <algorithm>

#include "controls/memo/PyxCustomMemo.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

// The column where the run of characters that `IsDelimiter` rejects, ending at `Column` of
// `Line` (at most the line's end), starts.
template <class Pred>
int RunStartBefore(const std::string& Line, int Column, Pred IsDelimiter) {
    int start = std::min(Column, static_cast<int>(Line.size()));
    while (start > 0 && !IsDelimiter(Line[static_cast<size_t>(start - 1)])) --start;
    return start;
}

bool IsBlank(char C) {
    return C == ' ';
}

// `Font` with bold added into `Bold`.
void AssignBold(TFont& Bold, const TFont& Font) {
    Bold.Assign(&Font);
    TFontStyles style = Font.Style();
    style.Include(fsBold);
    Bold.SetStyle(style);
}

}  // namespace

// ---- Timers

void TPyxCustomMemo::StartTimer(TPyxMemoTimer Timer, int Interval) {
    FTimerRunning[Timer] = true;
    if (FView) FView->StartTimer(Timer, Interval);
}

void TPyxCustomMemo::StopTimer(TPyxMemoTimer Timer) {
    if (!FTimerRunning[Timer]) return;
    FTimerRunning[Timer] = false;
    if (FView) FView->StopTimer(Timer);
}

void TPyxCustomMemo::TimerFired(TPyxMemoTimer Timer) {
    if (!FTimerRunning[Timer]) return;
    StopTimer(Timer);
    if (Timer == mtParameterHint) {
        HideParameterHint();
        return;
    }
    // A full stop typed a moment ago: the member list of what stands before the caret.
    if (!CompletionActive() || FCompletionVisible) return;
    const std::string line = LineText(FCaretLine);
    const int end = std::min(FCaretColumn, static_cast<int>(line.size()));
    const int start = RunStartBefore(line, end, IsBlank);
    const std::string word = line.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
    if (word.empty() || word == ".") return;
    FMemberMode = true;
    FCompletionStartColumn = FCaretColumn;
    FCompletionStartLine = FCaretLine;
    ShowAutoCompletion();
}

// ---- Opening the list

std::string TPyxCustomMemo::CompletionPrefix(int* StartColumn) const {
    const std::string line = LineText(FCaretLine);
    const int end = std::min(FCaretColumn, static_cast<int>(line.size()));
    int start = end;
    if (!FMemberMode)
        start = RunStartBefore(line, end, IsBlank);
    else if (FCaretLine == FCompletionStartLine && FCompletionStartColumn <= end)
        start = FCompletionStartColumn;
    if (StartColumn) *StartColumn = start;
    return line.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

void TPyxCustomMemo::OpenAutoCompletion() {
    const std::string line = LineText(FCaretLine);
    const int end = std::min(FCaretColumn, static_cast<int>(line.size()));
    const int wordStart = RunStartBefore(line, end, IsBlank);
    FMemberMode = line.substr(static_cast<size_t>(wordStart), static_cast<size_t>(end - wordStart)).find('.') !=
                  std::string::npos;
    if (FMemberMode) {
        // The member typed so far starts after the last token delimiter before the caret.
        FCompletionStartLine = FCaretLine;
        FCompletionStartColumn = RunStartBefore(line, end, [this](char c) { return IsTokenDelimiter(c); });
    }
    ShowAutoCompletion();
}

void TPyxCustomMemo::ShowAutoCompletion() {
    TPyxCustomMemoStyler* styler = EffectiveStyler();
    if (!CompletionActive() || FReadOnly || !styler || styler->AutoCompletion().Count() == 0) return;
    const std::string line = LineText(FCaretLine);
    const int end = std::min(FCaretColumn, static_cast<int>(line.size()));
    const int wordStart = RunStartBefore(line, end, IsBlank);
    const std::string token = UpperCase(line.substr(static_cast<size_t>(wordStart), static_cast<size_t>(end - wordStart)));
    bool show = true;
    if (OnBeforeAutoCompletion) OnBeforeAutoCompletion(this, token, show);
    if (!show) return;

    FCompletionCandidates.Clear();
    if (!FMemberMode) {
        const TStringList& words = styler->AutoCompletion();
        for (int i = 0; i < words.Count(); ++i)
            if (CompletionEntryMatches(words.Strings(i), token))
                FCompletionCandidates.AddObject(words.Strings(i), words.Objects(i));
    }
    if (OnGetAutoCompletionList) OnGetAutoCompletionList(this, token, FCompletionCandidates);
    if (FCompletionCandidates.Count() == 0) return;
    FCompletionCandidates.CustomSort([this](TStringList& List, int Index1, int Index2) {
        return OnSortAutoCompletionList ? OnSortAutoCompletionList(this, List, Index1, Index2)
                                        : CompareCompletionKeys(List.Strings(Index1), List.Strings(Index2));
    });

    // Below the caret's cell, as wide and high as the settings say.
    EnsureCellSize();
    const int left = FGutterWidth + (FCaretColumn - FFirstVisibleColumn) * FCellWidth;
    const int top = (FCaretLine - FFirstVisibleLine + 1) * FCellHeight;
    FCompletionRect = {left, top, left + FAutoCompletion->Width(), top + FAutoCompletion->Height()};
    FCompletionItems.Assign(&FCompletionCandidates);
    if (OnStartAutoCompletion) OnStartAutoCompletion(this);
    const int measured = MeasureCompletionList();
    if (FAutoCompletion->SizeDropDown()) FCompletionRect.Right = left + measured;
    FCompletionIndex = FCompletionItems.Count() > 0 ? 0 : -1;
    FCompletionVisible = true;
    if (FView) FView->ShowCompletionList(FCompletionRect);
    const std::string prefix = FMemberMode ? UpperCase(CompletionPrefix()) : std::string();
    if (!prefix.empty())
        FilterCompletionList(prefix);
    else if (FView)
        FView->CompletionListChanged();
}

int TPyxCustomMemo::MeasureCompletionList() {
    const TFont& font = FAutoCompletion->Font();
    TFont bold;
    AssignBold(bold, font);
    auto width = [this](const TFont& Font, const std::string& Text) {
        return FView && !Text.empty() ? FView->TextExtent(Font, Text).cx : 0;
    };
    FCompletionKindColumnWidth = 0;
    for (int i = 0; i < FCompletionItems.Count(); ++i) {
        const TCompletionEntry entry = ParseCompletionEntry(FCompletionItems.Strings(i));
        if (!entry.Prefix.empty()) FCompletionKindColumnWidth = std::max(FCompletionKindColumnWidth, width(font, entry.Prefix));
    }
    int widest = 0;
    for (int i = 0; i < FCompletionItems.Count(); ++i) {
        const TCompletionEntry entry = ParseCompletionEntry(FCompletionItems.Strings(i));
        int w = entry.Prefix.empty() ? 0 : FCompletionKindColumnWidth;
        w += entry.Params.empty() ? width(bold, entry.Text) : width(bold, entry.Name) + width(font, entry.Params);
        widest = std::max(widest, w);
    }
    FCompletionItemHeight = std::max(16, FView ? FView->TextExtent(font, "h_").cy : 0);
    return widest + (FAutoCompletion->ShowImages() ? 20 : 0) + 8 + FScrollBarExtent;
}

// ---- The open list

void TPyxCustomMemo::FilterCompletionList(const std::string& Prefix) {
    FCompletionItems.Clear();
    for (int i = 0; i < FCompletionCandidates.Count(); ++i)
        if (CompletionEntryMatches(FCompletionCandidates.Strings(i), Prefix))
            FCompletionItems.AddObject(FCompletionCandidates.Strings(i), FCompletionCandidates.Objects(i));
    FCompletionIndex = FCompletionItems.Count() > 0 ? 0 : -1;
    if (FView && FCompletionVisible) FView->CompletionListChanged();
}

void TPyxCustomMemo::SetCompletionIndex(int Value) {
    Value = std::clamp(Value, FCompletionItems.Count() > 0 ? 0 : -1, FCompletionItems.Count() - 1);
    if (Value == FCompletionIndex) return;
    FCompletionIndex = Value;
    if (FView && FCompletionVisible) FView->CompletionListChanged();
}

void TPyxCustomMemo::RefilterCompletion() {
    if (FMemberMode) {
        const std::string line = LineText(FCaretLine);
        const int end = std::min(FCaretColumn, static_cast<int>(line.size()));
        const int start = RunStartBefore(line, end, IsBlank);
        if (FCaretLine != FCompletionStartLine ||
            line.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)).find('.') == std::string::npos) {
            // The full stop is gone: there is no member to complete.
            HideCompletion();
            ShowCaretAt(true);
            return;
        }
    }
    FilterCompletionList(UpperCase(CompletionPrefix()));
}

bool TPyxCustomMemo::CompletionKeyDown(uint16_t Key, TShiftState Shift) {
    const TCompletionKeyAction action = CompletionKeyAction(Key);
    switch (action) {
        case ckaBackspace:
            if (!FReadOnly) Backspace();
            RefilterCompletion();
            return true;
        case ckaClose:
            HideCompletion();
            ShowCaretAt(true);
            return true;
        case ckaAccept:
            AcceptCompletion(false);
            return true;
        case ckaNavigate: {
            const int page = std::max(1, FCompletionRect.Height() / std::max(1, FCompletionItemHeight) - 1);
            int index = FCompletionIndex;
            switch (Key) {
                case VK_UP: case VK_LEFT: --index; break;
                case VK_DOWN: case VK_RIGHT: ++index; break;
                case VK_PRIOR: index -= page; break;
                case VK_NEXT: index += page; break;
                case VK_HOME: index = 0; break;
                case VK_END: index = FCompletionItems.Count() - 1; break;
                default: break;  // Shift, Ctrl and Alt alone
            }
            SetCompletionIndex(std::max(0, index));
            return true;
        }
        case ckaDelete:
            if (!FReadOnly) DeleteChar();
            return true;
        case ckaLetter:
            // A letter with Ctrl or Alt is a command of the memo (Ctrl+C, ...), not typing.
            if (!Shift.Contains(ssCtrl) && !Shift.Contains(ssAlt)) {
                InsertChar(static_cast<char>(Shift.Contains(ssShift) ? Key : Key - 'A' + 'a'));
                RefilterCompletion();
                return true;
            }
            [[fallthrough]];
        case ckaCancel:
        default:
            // The list closes and the key does what it does in the memo.
            CancelCompletion();
            ShowCaretAt(true);
            return false;
    }
}

void TPyxCustomMemo::AcceptCompletion(bool ByMouse) {
    if (!FCompletionVisible || FCompletionIndex < 0 || FCompletionIndex >= FCompletionItems.Count()) return;
    std::string entry = FCompletionItems.Strings(FCompletionIndex);
    const std::string chosen = entry;
    if (OnInsertAutoCompletionEntry) OnInsertAutoCompletionEntry(this, entry);
    bool withParentheses = false;
    if (entry == chosen) {
        // The name alone; by keyboard a function's with "()" and the caret between.
        withParentheses = !ByMouse && !ParseCompletionEntry(entry).Params.empty();
        entry = CompletionKey(entry);
        if (withParentheses) entry += "()";
    }
    int start = 0;
    CompletionPrefix(&start);
    const int end = std::min(FCaretColumn, static_cast<int>(LineText(FCaretLine).size()));
    SetSelection(start, FCaretLine, end, FCaretLine);
    if (OnAutoCompletion) OnAutoCompletion(this);
    InsertText(entry);
    if (withParentheses) {
        SetCaretColumn(FCaretColumn - 1);
        CollapseSelection();
        ShowParameterHint();
    }
    HideCompletion();
    ShowCaretAt(true);
}

void TPyxCustomMemo::CancelCompletion() {
    if (!FCompletionVisible) return;
    if (OnCanceltAutoCompletion) OnCanceltAutoCompletion(this);
    HideCompletion();
}

void TPyxCustomMemo::HideCompletion() {
    if (!FCompletionVisible) return;
    FCompletionVisible = false;
    if (FView) FView->HideCompletionList();
}

// ---- Parameter hint

bool TPyxCustomMemo::ComputeParameterHint() {
    const TPyxCustomMemoStyler* styler = EffectiveStyler();
    if (!styler || EffectiveLines().Count() == 0) return false;
    const THintParameter& settings = styler->HintParameter();
    auto normalize = [this](const std::string& S) { return FCaseSensitive ? S : UpperCase(S); };
    const TCallStart call = FindCallStart(normalize(LineText(FCaretLine)), FCaretColumn, settings);
    if (!call.Found) {
        HideParameterHint();
        return false;
    }
    if (call.Name.empty()) return false;
    std::string entry;
    bool handled = false;
    if (OnGetParameterHint) OnGetParameterHint(this, call.Name, entry, handled);
    if (!handled) {
        // The first entry that holds the name anywhere.
        const TStringList& entries = settings.Parameters();
        for (int i = 0; i < entries.Count(); ++i)
            if (normalize(entries.Strings(i)).find(call.Name) != std::string::npos) {
                entry = entries.Strings(i);
                break;
            }
    }
    if (entry.empty()) {
        HideParameterHint();
        return false;
    }
    const THintParts parts = SplitParameterHint(entry, call.ArgumentIndex, settings);
    FHintBefore = parts.Before;
    FHintCurrent = parts.Current;
    FHintAfter = parts.After;
    FHintBoldPart = parts.BoldPart;
    StopTimer(mtParameterHint);
    StartTimer(mtParameterHint, FParameterHintInterval);
    return true;
}

void TPyxCustomMemo::ShowParameterHint() {
    if (!EffectiveStyler()) return;
    if (FCaretLine < FFirstVisibleLine || FCaretLine > FFirstVisibleLine + VisibleCount(1)) return;
    if (!ComputeParameterHint()) {
        HideParameterHint();
        return;
    }
    EnsureCellSize();
    const int row = FCaretLine - FFirstVisibleLine;
    const int left = FGutterWidth + (FCaretColumn - FFirstVisibleColumn) * FCellWidth;
    const int top = (FAutoHintParameterPosition == hpBelowCode ? row + 1 : row - 1) * FCellHeight;
    TFont bold;
    AssignBold(bold, FHintFont);
    auto extent = [this](const TFont& Font, const std::string& Text) {
        return FView && !Text.empty() ? FView->TextExtent(Font, Text) : TSize{};
    };
    const std::string regular = FHintBoldPart == 1 ? FHintCurrent + FHintAfter : FHintBefore + FHintAfter;
    const std::string boldText = FHintBoldPart == 1 ? FHintBefore : FHintCurrent;
    const int height = extent(FHintFont, "h,g_`").cy + 4;
    const int width = extent(FHintFont, regular).cx + extent(bold, boldText).cx + 6;
    FHintRect = {left, top, left + width, top + height};
    FHintBeingShown = true;
    FHintVisible = true;
    if (FView) FView->ShowParameterHint(FHintRect);
    FHintBeingShown = false;
}

void TPyxCustomMemo::HideParameterHint() {
    if (!FHintVisible) return;
    FHintVisible = false;
    if (FView) FView->HideParameterHint();
}

// ---- Tooltips

bool TPyxCustomMemo::HintForPoint(int X, int Y, std::string& Text) {
    const TPoint cell = PointToCell(X, Y);
    FHintCellColumn = cell.X < 0 ? 0 : cell.X + FFirstVisibleColumn;
    FHintCellLine = cell.Y < 0 ? 0 : cell.Y + FFirstVisibleLine;
    bool show = true;
    // The event may keep the value as the tooltip, change it, or refuse it (Show false).
    auto ask = [&](const TMemoHintEvent& Event, const std::string& Value) {
        if (!Event || Value.empty()) return false;
        std::string hint = Value;
        Event(this, FHintCellColumn, FHintCellLine, Value, hint, show);
        if (show) Text = hint;
        return show;
    };
    if (ask(OnHintForWord, WordAt(FHintCellColumn, FHintCellLine))) return true;
    if (ask(OnHintForToken, TokenAt(FHintCellColumn, FHintCellLine))) return true;
    Text = FHint;
    return show;
}

}  // namespace ostra
