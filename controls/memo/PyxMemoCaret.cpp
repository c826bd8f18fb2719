// The memo core's geometry and movement: the text area and cell arithmetic, the two caret
// setters on which every other operation relies (they pad and trim lines, keep the caret in
// view and fire the status events), keyboard moves, the selection model, the caret, the scroll
// bars, and the word functions.
#include "controls/memo/PyxCustomMemo.h"

#include <algorithm>

#include "host/SysUtils.h"

namespace ostra {

namespace {

// The character at 0-based `Index` of `S`; 0 past either end.
char CharAt(const std::string& S, int Index) {
    return Index >= 0 && Index < static_cast<int>(S.size()) ? S[static_cast<size_t>(Index)] : '\0';
}

bool ScrollsVertically(TScrollStyle Style) {
    return Style == ssVertical || Style == ssBoth;
}

bool ScrollsHorizontally(TScrollStyle Style) {
    return Style == ssHorizontal || Style == ssBoth;
}

}  // namespace

// ---- Geometry

TRect TPyxCustomMemo::TextRect() const {
    TRect r;
    r.Left = (FGutterWidth < 3 ? 2 : FGutterWidth + 2) + FTextMargin;
    r.Top = 2;
    r.Right = FWidth - 2;
    if (ScrollsVertically(FScrollBars) && FVertScrollBar.Visible) r.Right -= FVertScrollBar.Bounds.Width();
    r.Bottom = FHeight - 2;
    if (ScrollsHorizontally(FScrollBars) && FHorzScrollBar.Visible) r.Bottom -= FHorzScrollBar.Bounds.Height();
    if (FBorderStyle == bsNone)
        r = InflateRect(r, 2);
    else if (!FCtl3D)
        r = InflateRect(r, 1);
    return r;
}

TRect TPyxCustomMemo::CellRect(int Column, int Row) const {
    const TRect text = TextRect();
    return {Column * FCellWidth + text.Left, Row * FCellHeight + text.Top + 1, (Column + 1) * FCellWidth + text.Left,
            (Row + 1) * FCellHeight + text.Top + 1};
}

TRect TPyxCustomMemo::LineRect(int Line) const {
    const TRect text = TextRect();
    const int top = text.Top + (Line - FFirstVisibleLine) * FCellHeight;
    return {text.Left, top, text.Right, top + FCellHeight};
}

TPoint TPyxCustomMemo::PointToCell(int X, int Y) {
    EnsureCellSize();
    if (FCellWidth == 0 || FCellHeight == 0) return {0, 0};
    const TRect text = TextRect();
    return {(X - text.Left) / FCellWidth, (Y - text.Top) / FCellHeight};
}

TPoint TPyxCustomMemo::PointToPosition(int X, int Y) {
    EnsureCellSize();
    if (FCellWidth == 0 || FCellHeight == 0) return {1, 1};
    TPoint cell = PointToCell(X, Y);
    return {cell.X + FFirstVisibleColumn, cell.Y + FFirstVisibleLine};
}

int TPyxCustomMemo::VisibleCount(int Kind) {
    const TRect text = TextRect();
    const TPoint cell = PointToCell(text.Right - 1, text.Bottom - 1);
    switch (Kind) {
        case 0: return cell.X;
        case 1: return cell.Y;
        case 2: return cell.X + FFirstVisibleColumn - 1;
        default: return cell.Y + FFirstVisibleLine - 1;
    }
}

// ---- The caret setters

void TPyxCustomMemo::SetCaretColumn(int Column) {
    if (Column == FCaretColumn) return;
    if (Column < 0) {
        if (FCaretLine > 0) {
            SetCaretLine(FCaretLine - 1);
            Column = static_cast<int>(LineText(FCaretLine).size());
        } else {
            Column = 0;
        }
        if (Column == FCaretColumn) return;
    }
    FCaretColumn = Column;
    TPyxMemoStrings& lines = EffectiveLines();
    if (FCaretLine < lines.Count()) {
        TNotifyOff off(*this);
        if (FLongestLineLength < Column) {
            FFirstVisibleColumn = std::max(0, Column - VisibleCount(0));
            FLongestLineLength = Column;
        } else {
            RecalcLongestLine();
        }
        std::string s = lines.Strings(FCaretLine);
        if (static_cast<int>(s.size()) < Column) {
            s.append(static_cast<size_t>(Column) - s.size(), ' ');
            lines.SetStrings(FCaretLine, s);
            Invalidate();
        }
    }
    const bool caretWasShown = FCaretShown;
    ScrollCaretIntoView();
    UpdateScrollBars();
    StatusChanged();
    if (caretWasShown) ShowCaretAt(true);
    if (FAutoHintParameters == hpAuto && FLastKeyWithoutCtrl) ShowParameterHint();
    CursorChanged();
}

void TPyxCustomMemo::SetCaretLine(int Line) {
    TPyxMemoStrings& lines = EffectiveLines();
    if (lines.Count() == 0) lines.Add("");
    Line = std::clamp(Line, 0, lines.Count() - 1);
    const int oldLine = FCaretLine;
    FCaretLine = Line;
    const bool lineChanged = Line != oldLine;
    if (lineChanged && oldLine >= 0 && oldLine < lines.Count()) {
        TNotifyOff off(*this);
        const std::string s = lines.Strings(oldLine);
        const std::string trimmed = TrimRight(s);
        if (trimmed.size() != s.size()) lines.SetStrings(oldLine, trimmed);
        HideParameterHint();
    }
    const bool caretWasShown = FCaretShown;
    SetCaretColumn(FCaretColumn);
    ScrollCaretIntoView();
    UpdateScrollBars();
    StatusChanged();
    if (caretWasShown) ShowCaretAt(true);
    if (FAutoHintParameters == hpAuto && FLastKeyWithoutCtrl) ShowParameterHint();
    if (lineChanged) CursorChanged();
}

void TPyxCustomMemo::PlaceCaretUnpadded(int Column, int Line) {
    FCaretColumn = std::max(0, Column);
    SetCaretLine(Line);
}

// ---- Keyboard moves

void TPyxCustomMemo::MoveCaret(int DX, int DY, TShiftState Shift) {
    const bool extend = Shift.Contains(ssShift) && FCaretColumn == FSelTrackColumn && FCaretLine == FSelTrackLine;
    if (Shift.Contains(ssCtrl)) {
        if (DX > 0) WordRight();
        if (DX < 0) WordLeft();
    } else {
        SetCaretLine(FCaretLine + DY);
        SetCaretColumn(FCaretColumn + DX);
    }
    if (extend)
        ExtendSelection();
    else
        CollapseSelection();
}

void TPyxCustomMemo::WordLeft() {
    SetCaretColumn(FCaretColumn - 1);
    const std::string s = TrimRight(LineText(FCaretLine));
    while (FCaretColumn > 0 && FCaretColumn <= static_cast<int>(s.size()) &&
           !(IsSymbolChar(CharAt(s, FCaretColumn - 1)) && CharAt(s, FCaretColumn) != ' '))
        SetCaretColumn(FCaretColumn - 1);
}

void TPyxCustomMemo::WordRight() {
    const std::string s = TrimRight(LineText(FCaretLine));
    const int n = static_cast<int>(s.size());
    SetCaretColumn(FCaretColumn + 1);
    while (FCaretColumn < n && (!IsSymbolChar(CharAt(s, FCaretColumn - 1)) || CharAt(s, FCaretColumn) == ' '))
        SetCaretColumn(FCaretColumn + 1);
    if (FCaretColumn > n && FCaretLine < EffectiveLines().Count() - 1) {
        SetCaretColumn(0);
        SetCaretLine(FCaretLine + 1);
    }
}

void TPyxCustomMemo::PageMove(int Direction, TShiftState Shift) {
    if (FCellHeight == 0) return;
    const bool extend = Shift.Contains(ssShift) && FCaretColumn == FSelTrackColumn && FCaretLine == FSelTrackLine;
    const int page = TextRect().Height() / FCellHeight - 1;
    SetCaretLine(FCaretLine + Direction * page);
    if (Shift.Contains(ssCtrl)) {
        if (Direction < 0) {
            SetCaretLine(0);
            SetCaretColumn(0);
        } else {
            SetCaretLine(EffectiveLines().Count() - 1);
            SetCaretColumn(static_cast<int>(LineText(FCaretLine).size()));
        }
    }
    if (extend)
        ExtendSelection();
    else
        CollapseSelection();
}

void TPyxCustomMemo::CaretHome(TShiftState Shift) {
    if (Shift.Contains(ssCtrl)) {
        SetCaretColumn(0);
        SetCaretLine(0);
    }
    const bool extend = Shift.Contains(ssShift) && FCaretColumn == FSelTrackColumn && FCaretLine == FSelTrackLine;
    SetCaretColumn(0);
    if (FFirstVisibleColumn != 0) {
        FFirstVisibleColumn = 0;
        UpdateScrollBars();
        Invalidate();
    }
    if (extend)
        ExtendSelection();
    else
        CollapseSelection();
}

void TPyxCustomMemo::CaretEnd(TShiftState Shift) {
    if (Shift.Contains(ssCtrl)) {
        SetCaretLine(EffectiveLines().Count() - 1);
        SetCaretColumn(static_cast<int>(LineText(FCaretLine).size()));
    }
    const bool extend = Shift.Contains(ssShift) && FCaretColumn == FSelTrackColumn && FCaretLine == FSelTrackLine;
    SetCaretColumn(static_cast<int>(TrimRight(LineText(FCaretLine)).size()));
    if (extend)
        ExtendSelection();
    else
        CollapseSelection();
}

// ---- Selection

void TPyxCustomMemo::CollapseSelection() {
    const bool wasSelected = !SelectionEmpty();
    FSelStartColumn = FSelEndColumn = FSelTrackColumn = FCaretColumn;
    FSelStartLine = FSelEndLine = FSelTrackLine = FCaretLine;
    if (wasSelected) {
        SelectionChanged();
        Invalidate();
    }
}

void TPyxCustomMemo::ExtendSelection() {
    const int oldTrackLine = FSelTrackLine;
    FSelEndColumn = FSelTrackColumn = FCaretColumn;
    FSelEndLine = FSelTrackLine = FCaretLine;
    SelectionChanged();
    InvalidateRect(UnionRect(LineRect(oldTrackLine), LineRect(FCaretLine)));
}

// ---- The caret

void TPyxCustomMemo::ShowCaretAt(bool Show) {
    if (!FView) return;
    if (!Show) {
        if (FCaretShown) FView->HideCaret();
        FCaretShown = false;
        return;
    }
    if (!FView->Focused() || FHiddenCaret) return;
    const TRect cell = CellRect(FCaretColumn - FFirstVisibleColumn, FCaretLine - FFirstVisibleLine);
    if (cell.Left != FLastCaretX || cell.Top + 1 != FLastCaretY) {
        FView->SetCaretPos(cell.Left, cell.Top + 1);
        FLastCaretX = cell.Left;
        FLastCaretY = cell.Top + 1;
    }
    if (!FCaretShown) {
        FView->ShowCaret();
        FCaretShown = true;
    }
}

// ---- Scrolling

void TPyxCustomMemo::ScrollCaretIntoView() {
    // Without a cell size nothing is known to be visible: there is nothing to scroll to.
    EnsureCellSize();
    if (FCellWidth <= 0 || FCellHeight <= 0) return;
    const int oldColumn = FFirstVisibleColumn;
    const int oldLine = FFirstVisibleLine;
    if (FCaretColumn < FFirstVisibleColumn) FFirstVisibleColumn = std::max(0, FCaretColumn - 2);
    // A text area smaller than one cell makes the last visible column or line negative: the
    // caret is kept at 0 then, never chased below it.
    const int lastColumn = VisibleCount(2);
    if (FCaretColumn > lastColumn) {
        if (FScrollMode == smStrict && !ScrollsHorizontally(FScrollBars)) {
            const int target = std::max(0, lastColumn);
            if (target != FCaretColumn) SetCaretColumn(target);
        } else {
            FFirstVisibleColumn = std::max(0, FFirstVisibleColumn + FCaretColumn - lastColumn + 2);
        }
    }
    if (FCaretLine < FFirstVisibleLine) FFirstVisibleLine = std::max(0, FCaretLine);
    const int lastLine = VisibleCount(3);
    if (FCaretLine > lastLine) {
        if (FScrollMode == smStrict && !ScrollsVertically(FScrollBars)) {
            const int target = std::max(0, lastLine);
            if (target != FCaretLine) SetCaretLine(target);
        } else {
            FFirstVisibleLine += FCaretLine - lastLine;
        }
    }
    if (FFirstVisibleColumn != oldColumn || FFirstVisibleLine != oldLine) Invalidate();
}

void TPyxCustomMemo::UpdateScrollBars() {
    // Showing one bar narrows the text area and may call for the other: a few passes settle it.
    for (int pass = 0; pass < 4; ++pass) {
        if (!ScrollsVertically(FScrollBars)) FVertScrollBar.Visible = false;
        if (!ScrollsHorizontally(FScrollBars)) FHorzScrollBar.Visible = false;
        if (!FChangeNotifying) return;
        const bool vertWasVisible = FVertScrollBar.Visible;
        const bool horzWasVisible = FHorzScrollBar.Visible;
        const TRect text = TextRect();

        if (ScrollsVertically(FScrollBars)) {
            TPyxScrollBar& bar = FVertScrollBar;
            bar.Bounds = {text.Right, bar.Bounds.Top, text.Right + FScrollBarExtent, bar.Bounds.Top + text.Height() + 1};
            const int rows = VisibleCount(1);
            const int count = EffectiveLines().Count();
            if (rows < 1 || rows >= count) {
                bar.PageSize = -1;
                bar.Position = 0;
                FFirstVisibleLine = 0;
                bar.Visible = false;
            } else {
                bar.Max = count;
                bar.SetPosition(FFirstVisibleLine);
                bar.PageSize = rows + 1;
                bar.Visible = true;
            }
        }
        if (ScrollsHorizontally(FScrollBars)) {
            TPyxScrollBar& bar = FHorzScrollBar;
            int width = FWidth - 4;
            if (FScrollBars == ssBoth && FVertScrollBar.Visible) width -= FVertScrollBar.Bounds.Width();
            bar.Bounds = {2, text.Bottom, 2 + width, text.Bottom + FScrollBarExtent};
            const int columns = VisibleCount(0);
            if (columns > 0 && columns < FLongestLineLength) {
                bar.Max = FLongestLineLength;
                bar.PageSize = columns + 1;
                bar.SetPosition(FFirstVisibleColumn);
                bar.Visible = true;
            } else {
                if (FCaretColumn < columns) {
                    bar.Visible = false;
                    bar.PageSize = -1;
                    bar.Position = 0;
                }
                FFirstVisibleColumn = 0;
            }
        }
        if (FVertScrollBar.Visible == vertWasVisible && FHorzScrollBar.Visible == horzWasVisible) break;
    }
    if (!FChangeNotifying) return;
    InvalidateRect(FGutter.Rect());
    InvalidateRect(TextRect());
    if (ScrollsVertically(FScrollBars)) VertScrollChanged();
    if (ScrollsHorizontally(FScrollBars)) HorzScrollChanged();
    if (FView) FView->ScrollBarsChanged();
}

void TPyxCustomMemo::VertScrollChanged() {
    TPyxScrollBar& bar = FVertScrollBar;
    if (!bar.Visible) return;
    if (bar.PageSize > 0 && bar.Position > bar.LastPosition()) bar.Position = bar.LastPosition();
    FFirstVisibleLine = bar.Position;
}

void TPyxCustomMemo::HorzScrollChanged() {
    TPyxScrollBar& bar = FHorzScrollBar;
    if (!bar.Visible) return;
    if (bar.PageSize > 0 && bar.Position > bar.LastPosition()) bar.Position = bar.LastPosition();
    FFirstVisibleColumn = bar.Position;
}

void TPyxCustomMemo::UpdateLayout() {
    UpdateScrollBars();
    UpdateGutterHeight();
    ScrollCaretIntoView();
    Invalidate();
}

void TPyxCustomMemo::UpdateGutterHeight() {
    FGutter.Height = TextRect().Height();
}

void TPyxCustomMemo::RecalcLongestLine() {
    const TPyxMemoStrings& lines = EffectiveLines();
    if (static_cast<int>(lines.LineLengths().size()) == lines.Count()) FLongestLineLength = lines.LongestLength();
}

void TPyxCustomMemo::ScrollBy(TScrollBarKind Bar, int Delta) {
    TPyxScrollBar& bar = Bar == sbVertical ? FVertScrollBar : FHorzScrollBar;
    int& first = Bar == sbVertical ? FFirstVisibleLine : FFirstVisibleColumn;
    const int value = std::clamp(first + Delta, 0, std::max(0, bar.Max));
    if (value == first) return;
    first = value;
    bar.SetPosition(value);
    Invalidate();
    ShowCaretAt(FFirstVisibleColumn < FCaretColumn);
    if (FView) FView->ScrollBarsChanged();
}

void TPyxCustomMemo::ScrollBarScroll(TScrollBarKind Bar, TScrollCode Code, int NewPosition) {
    if (FView && !FView->Focused()) FView->SetFocus();
    const TPyxScrollBar& bar = Bar == sbVertical ? FVertScrollBar : FHorzScrollBar;
    if (Bar == sbVertical) {
        if (Code == scPageUp) NewPosition = bar.Position - VisibleCount(1);
        if (Code == scPageDown) NewPosition = bar.Position + VisibleCount(1);
    }
    ScrollBy(Bar, NewPosition - bar.Position);
    // The bar now stands at the new position and reports its change, which keeps the view inside
    // the bar's range (a page down near the end stops at the last page).
    const int oldLine = FFirstVisibleLine;
    const int oldColumn = FFirstVisibleColumn;
    if (Bar == sbVertical)
        VertScrollChanged();
    else
        HorzScrollChanged();
    if ((FFirstVisibleLine != oldLine || FFirstVisibleColumn != oldColumn) && FCaretShown) ShowCaretAt(true);
    Invalidate();
    if (FView) FView->ScrollBarsChanged();
}

TPyxCaretSnapshot TPyxCustomMemo::SaveCaretSnapshot() const {
    return {FCaretColumn,    FCaretLine,    FFirstVisibleColumn, FFirstVisibleLine,
            FSelStartColumn, FSelStartLine, FSelEndColumn,       FSelEndLine};
}

void TPyxCustomMemo::RestoreCaretSnapshot(const TPyxCaretSnapshot& Snapshot) {
    FCaretColumn = Snapshot.CaretColumn;
    FCaretLine = Snapshot.CaretLine;
    FFirstVisibleColumn = Snapshot.FirstVisibleColumn;
    FFirstVisibleLine = Snapshot.FirstVisibleLine;
    SetSelection(Snapshot.SelStartColumn, Snapshot.SelStartLine, Snapshot.SelEndColumn, Snapshot.SelEndLine);
    // The moving end stands at the caret, so Shift+moves go on extending the selection.
    FSelTrackColumn = FCaretColumn;
    FSelTrackLine = FCaretLine;
    EffectiveDocumentChanged();
}

void TPyxCustomMemo::EffectiveDocumentChanged() {
    FStartStateLine = -1;
    FFirstSymbolChars.clear();
    ClampToText();
    RecalcLongestLine();
    if (FCaretShown) {
        FLastCaretX = FLastCaretY = 0xFFFF;
        ShowCaretAt(true);
    }
    UpdateScrollBars();
    Invalidate();
}

void TPyxCustomMemo::SetFirstVisibleLine(int Value) {
    if (Value < 0 || Value + VisibleCount(1) >= EffectiveLines().Count()) return;
    FFirstVisibleLine = Value;
    FVertScrollBar.SetPosition(Value);
    Invalidate();
    if (FView) FView->ScrollBarsChanged();
}

void TPyxCustomMemo::MouseWheel(int Delta) {
    if (Delta < 0) {
        // Four lines, or fewer where the text ends sooner: the last line comes into view.
        const int last = EffectiveLines().Count() - VisibleCount(1) - 1;
        if (FFirstVisibleLine + VisibleCount(1) < EffectiveLines().Count())
            SetFirstVisibleLine(std::min(FFirstVisibleLine + 4, std::max(last, FFirstVisibleLine)));
    } else if (Delta > 0) {
        SetFirstVisibleLine(FFirstVisibleLine < 5 ? 0 : FFirstVisibleLine - 4);
    }
}

// ---- Words

namespace {

// The run of characters that `IsDelimiter` rejects, containing column `Column` of `S` or ending
// just before it; "" when `S` is shorter than the column.
template <class Pred>
std::string RunAround(const std::string& S, int Column, Pred IsDelimiter) {
    const int n = static_cast<int>(S.size());
    if (Column < 0 || Column > n) return {};
    int start = Column;
    while (start > 0 && !IsDelimiter(S[static_cast<size_t>(start - 1)])) --start;
    int end = Column;
    while (end < n && !IsDelimiter(S[static_cast<size_t>(end)])) ++end;
    return S.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

}  // namespace

std::string TPyxCustomMemo::WordAt(int Column, int Line) const {
    return RunAround(LineText(Line), Column, [this](char c) { return IsWordDelimiter(c); });
}

std::string TPyxCustomMemo::TokenAt(int Column, int Line) const {
    return RunAround(LineText(Line), Column, [this](char c) { return IsTokenDelimiter(c); });
}

std::pair<std::string, int> TPyxCustomMemo::WordBeforeCaret() {
    TPyxMemoStrings& lines = EffectiveLines();
    if (lines.Count() == 0) return {{}, 0};
    if (FCaretLine >= lines.Count()) SetCaretLine(FCaretLine);
    const std::string s = lines.Strings(FCaretLine);
    if (static_cast<int>(s.size()) < FCaretColumn) return {{}, 0};
    int start = FCaretColumn;
    while (start > 0 && !IsWordDelimiter(s[static_cast<size_t>(start - 1)])) --start;
    return {s.substr(static_cast<size_t>(start), static_cast<size_t>(FCaretColumn - start)), start + 1};
}

std::string TPyxCustomMemo::BlankWordAtCaret() {
    TPyxMemoStrings& lines = EffectiveLines();
    if (lines.Count() == 0) return {};
    if (FCaretLine >= lines.Count()) SetCaretLine(FCaretLine);
    return RunAround(lines.Strings(FCaretLine), FCaretColumn, [](char c) { return c == ' '; });
}

}  // namespace ostra
