// Painting a memo with QPainter: gutter, margins, frame, coloured lines, selection, right margin.
#include "controls/memo/PyxMemoPainter.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QPainter>

#include "controls/memo/PyxCustomMemo.h"
#include "controls/memo/PyxQtGraphics.h"

namespace ostra {

namespace {

void FillRect(QPainter& Painter, const TRect& R, TColor Color) {
    if (R.IsEmpty()) return;
    Painter.fillRect(R.Left, R.Top, R.Width(), R.Height(), ToQColor(Color));
}

// The part of a text starting at column `Column` of line `Line` that the selection covers: the
// characters [First, Last) are selected, those before and after are not.
void SplitBySelection(const TPyxCustomMemo& Memo, int Line, int Column, int Length, int& First, int& Last) {
    First = Last = Length;  // everything before the selection
    if (!Memo.Focused() || Memo.SelectionEmpty()) return;
    int sc, sl, ec, el;
    Memo.OrderedSelection(sc, sl, ec, el);
    if (Line < sl || Line > el) return;
    if (sl < Line && Line < el) {
        First = 0;
    } else if (sl == Line && el == Line) {
        if (sc >= Column + Length) return;
        if (Column >= ec) {
            First = Last = 0;  // everything after
            return;
        }
        First = sc - Column;
        Last = ec - Column;
    } else if (Line == sl) {
        First = sc - Column;
    } else {
        First = 0;
        Last = ec - Column;
    }
    First = std::clamp(First, 0, Length);
    Last = std::clamp(Last, First, Length);
}

}  // namespace

void GradientFill(QPainter& Painter, TColor Color1, TColor Color2, bool Horizontal, const TRect& Rect, int Bands) {
    if (Bands <= 0) Bands = 1;
    const TColor c1 = ColorToRGB(Color1);
    const TColor c2 = ColorToRGB(Color2);
    const int extent = Horizontal ? Rect.Width() : Rect.Height();
    for (int n = 0; n < Bands; ++n) {
        auto mix = [&](int a, int b) { return a + static_cast<int>(std::nearbyint(n * (b - a) / double(Bands))); };
        const TColor color = RGB(mix(GetRValue(c1), GetRValue(c2)), mix(GetGValue(c1), GetGValue(c2)),
                                 mix(GetBValue(c1), GetBValue(c2)));
        const int start = static_cast<int>(std::nearbyint(n * extent / double(Bands)));
        const int size = extent / Bands + 1;
        if (Horizontal) {
            const int left = Rect.Left + start;
            FillRect(Painter, {left, Rect.Top, std::min(Rect.Right, left + size), Rect.Bottom}, color);
        } else {
            const int top = Rect.Top + start;
            FillRect(Painter, {Rect.Left, top, Rect.Right, std::min(Rect.Bottom, top + size)}, color);
        }
    }
}

const QFont& TPyxMemoPainter::FontFor(TFontStyles Style) {
    const auto index = static_cast<size_t>(Style.Bits() & 15);
    if (!FFontMade[index]) {
        FFonts[index] = ToQFont(FMemo.CanvasFont(), Style);
        FFontMade[index] = true;
    }
    return FFonts[index];
}

void TPyxMemoPainter::Paint(QPainter& Painter) {
    TPyxMemoStrings& lines = FMemo.EffectiveLines();
    if (lines.UpdateNesting() > 0) return;
    FMemo.EnsureCellSize();
    Painter.save();
    const TRect text = FMemo.TextRect();
    if (FMemo.GutterWidth() > 1) {
        FMemo.UpdateGutterHeight();
        PaintGutter(Painter);
    }
    PaintMarginAndFrame(Painter, text);

    FillRect(Painter, text, FMemo.BkColor());
    Painter.setClipRect(text.Left, text.Top, text.Width(), text.Height());
    if (FMemo.CellHeight() > 0 && lines.Count() > 0) {
        TokenState state;
        if (FMemo.FirstVisibleLine() == FMemo.StartStateLine()) {
            state = FMemo.StartState();
        } else {
            state = ComputeStartState(FMemo, FMemo.FirstVisibleLine());
            FMemo.SetStartState(state);
            FMemo.SetStartStateLine(FMemo.FirstVisibleLine());
        }
        const TPyxLineTokenizer tokenizer(FMemo);
        const int last = FMemo.FirstVisibleLine() + FMemo.VisibleCount(1);
        for (int i = FMemo.FirstVisibleLine(); i <= last && i < lines.Count(); ++i)
            PaintLine(Painter, tokenizer, i, state, text);
    }
    if (FMemo.RightMargin() > 0) {
        const int x = text.Left + FMemo.RightMargin() * QFontMetrics(FontFor({})).horizontalAdvance(QLatin1Char('w'));
        FillRect(Painter, {x - 1, text.Top, x + 1, text.Bottom}, FMemo.RightMarginColor());
    }
    Painter.restore();
}

void TPyxMemoPainter::PaintGutter(QPainter& Painter) {
    const TPyxGutter& g = FMemo.Gutter();
    FillRect(Painter, {g.Left + g.Width - 1, g.Top, g.Left + g.Width, g.Top + g.Height}, clGray);
    FillRect(Painter, {g.Left + g.Width - 2, g.Top, g.Left + g.Width - 1, g.Top + g.Height}, clWhite);
    const TRect area{g.Left, g.Top, g.Left + g.Width - 2, g.Top + g.Height};
    if (g.ColorTo == clNone)
        FillRect(Painter, area, g.Color);
    else
        GradientFill(Painter, g.Color, g.ColorTo, true, area, 48);
    const int cellHeight = FMemo.CellHeight();
    if (!FMemo.OnGutterDraw || cellHeight <= 0 || area.IsEmpty()) return;
    Painter.save();
    Painter.setClipRect(area.Left, area.Top, area.Width(), area.Height());
    const int count = FMemo.EffectiveLines().Count();
    int line = FMemo.FirstVisibleLine();
    for (int y = g.Top; y < g.Top + g.Height && line < count; y += cellHeight, ++line)
        FMemo.OnGutterDraw(&FMemo, Painter, line, {g.Left, y, g.Left + g.Width - 2, y + cellHeight});
    Painter.restore();
}

void TPyxMemoPainter::PaintMarginAndFrame(QPainter& Painter, const TRect& Text) {
    for (int i = 1; i <= FMemo.TextMargin(); ++i)
        FillRect(Painter, {Text.Left - i, Text.Top, Text.Left - i + 1, Text.Bottom + 1}, FMemo.BkColor());
    for (const TPyxScrollBar* bar : {&FMemo.HorzScrollBar(), &FMemo.VertScrollBar()})
        if (bar->Visible) FillRect(Painter, InflateRect(bar->Bounds, 1), clScrollBar);

    if (FMemo.BorderStyle() != bsSingle) return;
    const int w = FMemo.Width();
    const int h = FMemo.Height();
    if (FMemo.Ctl3D()) {
        // Of the 3-D frame around (-10, -10, w, h), only its lower-right lines lie inside.
        FillRect(Painter, {w - 1, 0, w, h}, clWhite);
        FillRect(Painter, {0, h - 1, w, h}, clWhite);
        FillRect(Painter, {w - 2, 0, w - 1, h - 1}, 0xD0D0D0);
        FillRect(Painter, {0, h - 2, w - 1, h - 1}, 0xD0D0D0);
    } else {
        FillRect(Painter, {0, 0, 1, h}, clGray);
        FillRect(Painter, {0, 0, w, 1}, clGray);
        FillRect(Painter, {w - 1, 0, w, h}, clGray);
        FillRect(Painter, {0, h - 1, w, h}, clGray);
    }
}

void TPyxMemoPainter::PaintLine(QPainter& Painter, const TPyxLineTokenizer& Tokenizer, int Line, TokenState& State,
                                const TRect& Text) {
    const int top = Text.Top + 1 + (Line - FMemo.FirstVisibleLine()) * FMemo.CellHeight();
    const TRect row{Text.Left, top, Text.Right, std::min(Text.Bottom, top + FMemo.CellHeight())};
    const std::string line = FMemo.EffectiveLines().Strings(Line);
    const TPyxRunStyle selected{FMemo.SelColor(), FMemo.SelBkColor(), {}};
    for (const TPyxRun& run : Tokenizer.Tokenize(line, State)) {
        const int length = static_cast<int>(run.Text.size());
        int first, last;
        SplitBySelection(FMemo, Line, run.Column, length, first, last);
        TPyxRunStyle inside = selected;
        inside.Style = run.Style.Style;
        if (first > 0) DrawText(Painter, run.Text.substr(0, first), run.Column, top, row, run.Style);
        if (last > first) DrawText(Painter, run.Text.substr(first, last - first), run.Column + first, top, row, inside);
        if (last < length) DrawText(Painter, run.Text.substr(last), run.Column + last, top, row, run.Style);
    }
}

void TPyxMemoPainter::DrawText(QPainter& Painter, const std::string& Text, int Column, int Top, const TRect& Area,
                               const TPyxRunStyle& Style) {
    const int cellWidth = FMemo.CellWidth();
    const int x = Area.Left + (Column - FMemo.FirstVisibleColumn()) * cellWidth;
    const int width = static_cast<int>(Text.size()) * cellWidth;
    if (x >= Area.Right || x + width <= Area.Left) return;
    FillRect(Painter, {x, Top, x + width, Top + FMemo.CellHeight()}, Style.BkColor);
    const QFont& font = FontFor(Style.Style);
    Painter.setFont(font);
    Painter.setPen(ToQColor(Style.TextColor));
    Painter.drawText(x, Top + QFontMetrics(font).ascent(), ToQString(Text));
}

}  // namespace ostra
