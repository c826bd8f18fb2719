// The memo's painter: draws a memo with QPainter on any paint device (its widget, an image).
// In order: the gutter, the margin strip between gutter and text, the scroll-bar corners, the
// frame, the text area with every visible line in its colours (the selection only while the
// memo has the focus), and the right margin line. Line colours come from the line tokenizer
// (PyxLineTokenizer.h), starting from the cached start state of the first visible line.
//
// Text is placed by cells: column c of a line is drawn at TextRect().Left + (c -
// FirstVisibleColumn) * CellWidth, so the text, the caret and the selection always agree.
#pragma once
#include <QFont>

#include "controls/memo/PyxGraphics.h"
#include "controls/memo/PyxLineTokenizer.h"

class QPainter;

namespace ostra {

class TPyxCustomMemo;

// Paints one memo.
class TPyxMemoPainter {
public:
    explicit TPyxMemoPainter(TPyxCustomMemo& Memo) : FMemo(Memo) {}

    // Paints the whole control into `Painter`, whose origin is the memo's client origin.
    // Nothing while the memo's lines are inside BeginUpdate / EndUpdate.
    void Paint(QPainter& Painter);

private:
    void PaintGutter(QPainter& Painter);
    void PaintMarginAndFrame(QPainter& Painter, const TRect& Text);
    void PaintLine(QPainter& Painter, const TPyxLineTokenizer& Tokenizer, int Line, TokenState& State,
                   const TRect& Text);
    // Draws `Text` from column `Column` of the row at `Top`, inside `Area`, in `Style`.
    void DrawText(QPainter& Painter, const std::string& Text, int Column, int Top, const TRect& Area,
                  const TPyxRunStyle& Style);
    // The font of the memo with other styles.
    const QFont& FontFor(TFontStyles Style);

    TPyxCustomMemo& FMemo;
    QFont FFonts[16];
    bool FFontMade[16] = {};
};

// Fills `Rect` with a gradient from `Color1` to `Color2` in `Bands` bands (0 counts as 1),
// horizontally or vertically.
void GradientFill(QPainter& Painter, TColor Color1, TColor Color2, bool Horizontal, const TRect& Rect, int Bands);

}  // namespace ostra
