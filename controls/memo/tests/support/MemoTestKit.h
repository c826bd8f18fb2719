// Test doubles and helpers for the memo core: a view that measures every monospace text as
// 8 x 16 pixels per character (and a face named "Arial" as proportional), records what the core
// asks of it and can be given the focus; an in-memory clipboard; and short ways to set, read,
// type into and key a memo.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "controls/memo/PyxMemo.h"

namespace ostra::test {

// A view without a window: fixed cell size, focus on request, counts of what was asked.
class FakeView : public IPyxMemoView {
public:
    int CharWidth = 8;
    int CharHeight = 16;
    bool HasFocus = false;
    int Invalidations = 0;
    int CaretShows = 0;
    int CaretHides = 0;
    TPoint CaretPos{-1, -1};
    bool CaretExists = false;
    bool Blinking = true;
    TPyxCursor CursorShape = crPyxDefault;

    TSize TextExtent(const TFont& Font, const std::string& Text) override;
    bool Focused() const override { return HasFocus; }
    void SetFocus() override { HasFocus = true; }
    void Invalidate() override { ++Invalidations; }
    void InvalidateRect(const TRect&) override { ++Invalidations; }
    void Update() override {}
    void CreateCaret(int, int) override { CaretExists = true; }
    void DestroyCaret() override { CaretExists = false; }
    void SetCaretPos(int X, int Y) override { CaretPos = {X, Y}; }
    void ShowCaret() override { ++CaretShows; }
    void HideCaret() override { ++CaretHides; }
    void SetCaretBlinking(bool Value) override { Blinking = Value; }
    void ScrollBarsChanged() override {}
    void SetCursorShape(TPyxCursor Cursor) override { CursorShape = Cursor; }

    // The interval each timer was last started with; -1 while it is stopped.
    int TimerInterval[2] = {-1, -1};
    int HintCancels = 0;
    void StartTimer(TPyxMemoTimer Timer, int Interval) override { TimerInterval[Timer] = Interval; }
    void StopTimer(TPyxMemoTimer Timer) override { TimerInterval[Timer] = -1; }
    void CancelHint() override { ++HintCancels; }
};

// The clipboard as a string.
class FakeClipboard : public IPyxClipboard {
public:
    std::string Text;
    bool HasText() const override { return !Text.empty(); }
    std::string AsText() const override { return Text; }
    void SetAsText(const std::string& Value) override { Text = Value; }
};

// A TPyxMemo wired to a FakeView and a FakeClipboard, 350 x 250 pixels, cells 8 x 16.
struct MemoKit {
    FakeView View;
    FakeClipboard Clipboard;
    std::unique_ptr<TPyxMemo> Memo;
    MemoKit();
    TPyxMemo& operator*() { return *Memo; }
    TPyxMemo* operator->() { return Memo.get(); }
};

// Replaces the memo's text; "\n" separates lines (the caret and selection stay as Lines leaves
// them, clamped to the text).
void SetText(TPyxCustomMemo& Memo, const std::string& Text);
// The memo's lines joined by "\n".
std::string Text(const TPyxCustomMemo& Memo);
// The same with trailing blanks removed from every line (blanks at line ends are padding).
std::string TrimmedText(const TPyxCustomMemo& Memo);
// Types every character of `Chars` as a key-down and a key-press ("\r" Enter, "\t" Tab,
// "\b" Backspace).
void Type(TPyxCustomMemo& Memo, const std::string& Chars);
// Presses and releases one key.
void Key(TPyxCustomMemo& Memo, uint16_t Key, TShiftState Shift = {});
// Ctrl and a letter: the key-down of the letter with Ctrl, then its control character.
void Control(TPyxCustomMemo& Memo, char Letter);
// Places the caret at (Column, Line) through the caret setters and collapses the selection.
void Place(TPyxCustomMemo& Memo, int Column, int Line);
// "(column,line)" of the caret, "[sc,sl-ec,el]" of the selection, for compact expectations.
std::string Caret(const TPyxCustomMemo& Memo);
std::string Selection(const TPyxCustomMemo& Memo);
// The client point at the middle of cell (Column, Row) of the text area.
TPoint CellPoint(TPyxCustomMemo& Memo, int Column, int Row);

}  // namespace ostra::test
