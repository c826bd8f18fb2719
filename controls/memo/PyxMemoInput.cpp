// The memo core's decisions on keys, mouse, menu and focus: which key moves, which edits and
// which does nothing (also in a read-only memo), how the mouse places the caret and selects,
// the word completion and autocorrection of a typed Tab, Enter or blank, and the built-in
// context menu. The widget forwards its events here and shows what the core asks for.
#include <algorithm>

#include "controls/memo/PyxCustomMemo.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

bool IsArrowKey(uint16_t Key) {
    return Key >= VK_LEFT && Key <= VK_DOWN;
}

}  // namespace

bool TPyxCustomMemo::OnlyCtrl(TShiftState Shift) {
    return Shift * TShiftState{ssShift, ssAlt, ssCtrl} == TShiftState{ssCtrl};
}

// ---- Keys

void TPyxCustomMemo::KeyDown(uint16_t Key, TShiftState Shift) {
    // An open completion list takes the keys first; the character of a key it took is not typed.
    if (FCompletionVisible && CompletionKeyDown(Key, Shift)) {
        FAcceptNextChar = false;
        return;
    }
    StopTimer(mtCompletion);
    if (FView) FView->SetCaretBlinking(false);
    FAcceptNextChar = true;
    FLastKeyWithoutCtrl = !Shift.Contains(ssCtrl);
    if (!IsArrowKey(Key)) {
        // Re-applying the caret re-clamps its line and brings it into view.
        SetCaretColumn(FCaretColumn);
        SetCaretLine(FCaretLine);
    }
    switch (Key) {
        case VK_BACK:
            if (!Shift.Contains(ssAlt))
                EditCommand(VK_BACK, Shift);
            else if (Shift.Contains(ssShift))
                Redo();
            else
                Undo();
            break;
        case VK_TAB:
            if (Shift.Contains(ssCtrl)) break;
            if (Shift.Contains(ssShift))
                SetCaretColumn(FCaretColumn <= FTabSize ? 0 : FCaretColumn - FTabSize);
            else if (MayEdit())
                InsertChar('\t');
            break;
        case VK_SPACE:
            if (OnlyCtrl(Shift) && CompletionActive()) {
                FAcceptNextChar = false;
                OpenAutoCompletion();
            } else if (Shift * TShiftState{ssShift, ssAlt, ssCtrl} == TShiftState{ssShift, ssCtrl} &&
                       FAutoHintParameters != hpNone) {
                ShowParameterHint();
            }
            break;
        case VK_PRIOR:
        case VK_NEXT:
        case VK_END:
        case VK_HOME:
        case VK_INSERT:
        case VK_DELETE:
            EditCommand(Key, Shift);
            break;
        case VK_LEFT: MoveCaret(-1, 0, Shift); break;
        case VK_UP: MoveCaret(0, -1, Shift); break;
        case VK_RIGHT: MoveCaret(1, 0, Shift); break;
        case VK_DOWN: MoveCaret(0, 1, Shift); break;
        case 'F':
            if (Shift.Contains(ssCtrl) && OnFind) OnFind(this);
            break;
        case 'H':
            if (Shift.Contains(ssCtrl) && OnReplace) OnReplace(this);
            break;
        default:
            break;
    }
}

void TPyxCustomMemo::KeyPress(char& Key) {
    if (!MayEdit() || (CompletionActive() && !FAcceptNextChar)) return;
    if (OnKeyPress) OnKeyPress(this, Key);
    if (Key == '\t' || Key == '\r' || Key == ' ') CompleteWord();
    const auto code = static_cast<unsigned char>(Key);
    if ((code >= 32 && code <= 126) || code >= 128) {
        if (FDelErase && !SelectionEmpty()) DeleteSelection(true);
        InsertChar(Key);
    } else if (code != VK_BACK) {
        EditCommand(code, {});
    }
    if (Key == '.' && CompletionActive()) StartTimer(mtCompletion, FAutoCompletion->Delay());
}

void TPyxCustomMemo::KeyUp(uint16_t Key, TShiftState Shift) {
    if (FView) FView->SetCaretBlinking(true);
    if (!FHiddenCaret) ShowCaretAt(true);
}

void TPyxCustomMemo::CompleteWord() {
    if (!OnWordComplete && FAutoCorrect.OldValue().Count() == 0) return;
    const auto [word, start] = WordBeforeCaret();
    if (word.empty()) return;
    std::string newWord = word;
    const TStringList& oldValues = FAutoCorrect.OldValue();
    for (int i = 0; i < oldValues.Count(); ++i) {
        if (oldValues.Strings(i) != word) continue;
        // A missing replacement leaves the word as it is.
        if (i < FAutoCorrect.NewValue().Count()) newWord = FAutoCorrect.NewValue().Strings(i);
        break;
    }
    if (OnWordComplete) OnWordComplete(this, word, newWord);
    if (newWord == word) return;
    const int beforeColumn = FCaretColumn;
    const int line = FCaretLine;
    const int wordColumn = FCaretColumn - static_cast<int>(word.size());
    const std::string s = LineText(line);
    PutLine(line, s.substr(0, static_cast<size_t>(wordColumn)) + newWord + s.substr(static_cast<size_t>(FCaretColumn)));
    SetCaretColumn(FCaretColumn + static_cast<int>(newWord.size()) - static_cast<int>(word.size()));
    // The replacement is undoable like any edit: undo brings the typed word back.
    auto record = std::make_unique<TWordReplaceUndo>(beforeColumn, line, FCaretColumn, FCaretLine, newWord);
    record->SetEdit(wordColumn, line, {word}, SplitTextLines(newWord));
    AddUndo(std::move(record));
}

void TPyxCustomMemo::EditCommand(uint16_t Key, TShiftState Shift) {
    if (FReadOnly) return;
    const bool ctrl = Shift.Contains(ssCtrl);
    const bool shift = Shift.Contains(ssShift);
    switch (Key) {
        case 1: SelectAll(); break;
        case 3: CopyToClipboard(); break;
        case VK_BACK:
            if (!CanEdit()) break;
            if (ctrl)
                DeleteWordBack();
            else if (!FDelErase || SelectionEmpty())
                Backspace();
            else
                DeleteSelection(true);
            break;
        case VK_RETURN: NewLine(); break;
        case 22: PasteFromClipboard(); break;
        case 24: CutToClipboard(); break;
        case 25: DeleteCurrentLine(); break;
        case VK_PRIOR: PageMove(-1, Shift); break;
        case VK_NEXT: PageMove(1, Shift); break;
        case VK_END:
            CaretEnd(Shift);
            if (ctrl && shift) SelectAll();
            break;
        case VK_HOME:
            CaretHome(Shift);
            if (ctrl && shift) SelectAll();
            break;
        case VK_INSERT:
            if (shift) {
                PasteFromClipboard();
            } else if (ctrl) {
                CopyToClipboard();
            } else {
                bool allow = true;
                if (OnOverwriteToggle) OnOverwriteToggle(this, allow);
                if (allow) FOverwriteMode = !FOverwriteMode;
            }
            break;
        case VK_DELETE:
            if (shift)
                CutToClipboard();
            else if (!FDelErase || SelectionEmpty())
                DeleteChar();
            else
                DeleteSelection(true);
            break;
        default:
            break;
    }
}

// ---- Mouse

void TPyxCustomMemo::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    // A click into the memo leaves an open completion list.
    CancelCompletion();
    if (FView && !FView->Focused()) FView->SetFocus();
    const bool inGutter = FGutter.Rect().ContainsWithEdges(X, Y);
    if (Button == mbRight && OnGutterRightClick && inGutter) {
        const int line = PointToPosition(X, Y).Y;
        if (line >= 0 && line < EffectiveLines().Count()) OnGutterRightClick(this, line);
    }
    if (Button != mbLeft) return;
    if (TextRect().ContainsWithEdges(X, Y)) {
        ShowCaretAt(false);
        TPoint cell = PointToCell(X, Y);
        cell.X = std::max(0, cell.X);
        cell.Y = std::max(0, cell.Y);
        TPyxMemoStrings& lines = EffectiveLines();
        if (lines.Count() == 0) SetCaretLine(0);
        const int oldLine = FCaretLine;
        FCaretLine = std::clamp(cell.Y + FFirstVisibleLine, 0, lines.Count() - 1);
        SetCaretColumn(cell.X + FFirstVisibleColumn);
        SetCaretLine(FCaretLine);
        if (FCaretLine != oldLine && oldLine >= 0 && oldLine < lines.Count()) {
            TNotifyOff off(*this);
            const std::string s = lines.Strings(oldLine);
            const std::string trimmed = TrimRight(s);
            if (trimmed.size() != s.size()) lines.SetStrings(oldLine, trimmed);
        }
        if (Shift.Contains(ssShift))
            ExtendSelection();
        else
            CollapseSelection();
        FMouseSelecting = true;
        UrlClick(LineText(FCaretLine));
    }
    if (OnGutterClick && inGutter) {
        const int line = PointToPosition(X, Y).Y;
        if (line >= 0 && line < EffectiveLines().Count()) OnGutterClick(this, line);
    }
}

void TPyxCustomMemo::MouseMove(TShiftState Shift, int X, int Y) {
    const TPoint raw = PointToCell(X, Y);
    const int column = raw.X < 0 ? 0 : raw.X + FFirstVisibleColumn;
    const int line = raw.Y < 0 ? 0 : raw.Y + FFirstVisibleLine;
    // A tooltip belongs to its cell: the mouse in another cell withdraws it.
    if (FShowHint && FHintCellColumn >= 0 && FHintCellLine >= 0 && (FHintCellColumn != column || FHintCellLine != line)) {
        if (FView) FView->CancelHint();
        FHintCellColumn = -1;
        FHintCellLine = -1;
    }
    if (FView) {
        const bool overUrl = line < EffectiveLines().Count() && IsUrlAt(LineText(line), column);
        FView->SetCursorShape(overUrl ? crPyxHandPoint : FSavedCursor);
    }
    if (!Shift.Contains(ssLeft) || !FMouseSelecting) return;
    const int oldEndColumn = FSelEndColumn;
    const int oldEndLine = FSelEndLine;
    if (raw.X < 0) {
        SetCaretColumn(0);
        if (FFirstVisibleColumn != 0) {
            FFirstVisibleColumn = 0;
            Invalidate();
        }
    } else {
        SetCaretColumn(raw.X + FFirstVisibleColumn);
    }
    SetCaretLine(raw.Y + FFirstVisibleLine);
    ExtendSelection();
    if ((FSelEndColumn != oldEndColumn || FSelEndLine != oldEndLine) && FView) FView->Update();
}

void TPyxCustomMemo::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (Button == mbLeft) ShowCaretAt(true);
    FMouseSelecting = false;
}

void TPyxCustomMemo::DblClick(int X, int Y) {
    if (X < FGutterWidth || !TextRect().ContainsWithEdges(X, Y) || X > FWidth) return;
    const std::string s = LineText(FCaretLine);
    const int n = static_cast<int>(s.size());
    if (FCaretColumn >= n || IsWordDelimiter(s[static_cast<size_t>(FCaretColumn)])) return;
    CollapseSelection();
    int start = FCaretColumn;
    while (start > 0 && !IsWordDelimiter(s[static_cast<size_t>(start - 1)])) --start;
    int end = FCaretColumn;
    while (end < n && !IsWordDelimiter(s[static_cast<size_t>(end)])) ++end;
    SetSelection(start, FCaretLine, end, FCaretLine);
    SelectionChanged();
    Invalidate();
}

// ---- Context menu, cursor, focus

std::vector<TPyxMenuItem> TPyxCustomMemo::ContextMenuItems(int X) const {
    if (X <= FGutterWidth) return {};
    const bool selected = SelectedTextLength() >= 1;
    return {{1, "Copy\tCtrl-C", selected},
            {2, "Cut\tCtrl-X", selected},
            {3, "Paste\tCtrl-V", FClipboard && FClipboard->HasText()},
            {0, "", false},
            {4, "Select All\tCtrl-A", true}};
}

void TPyxCustomMemo::ContextMenuCommand(int Command) {
    switch (Command) {
        case 1: CopyToClipboard(); break;
        case 2: CutToClipboard(); break;
        case 3: PasteFromClipboard(); break;
        case 4: SelectAll(); break;
        default: break;
    }
}

TPyxCursor TPyxCustomMemo::CursorAt(int X, int Y) const {
    return TextRect().ContainsWithEdges(X, Y) ? FCursor : crPyxArrow;
}

void TPyxCustomMemo::FocusIn() {
    EnsureCellSize();
    if (FView) FView->CreateCaret(2, FCellHeight - 2);
    FLastCaretX = 0xFFFF;
    FLastCaretY = 0xFFFF;
    ShowCaretAt(true);
    Invalidate();
}

void TPyxCustomMemo::FocusOut(bool ToScrollBar) {
    StartTimer(mtParameterHint, FParameterHintInterval);
    if (!FHintBeingShown) HideParameterHint();
    // The completion list goes with the focus.
    CancelCompletion();
    if (ToScrollBar) return;
    if (FView) {
        FView->SetCaretBlinking(true);
        FView->DestroyCaret();
    }
    FCaretShown = false;
    Invalidate();
}

}  // namespace ostra
