// TPyxGutter: the strip left of a memo's text where line numbers are drawn. It holds only its
// geometry and colours; the memo places it (BorderStyle, Ctl3D, GutterWidth) and sets its height
// to the text area's, and the painter (PyxMemoPainter.h) draws it.
#pragma once
#include "controls/memo/PyxGraphics.h"

namespace ostra {

// Which bound SetBound changes.
enum TPyxGutterBound { gbLeft = 0, gbTop = 1, gbWidth = 2, gbHeight = 3 };

// The gutter's geometry (client pixels of the memo) and colours.
class TPyxGutter {
public:
    int Left = 1;
    int Top = 1;
    int Width = 45;
    int Height = 0;
    TColor Color = clBtnFace;
    // The second colour of a horizontal gradient; clNone for a plain fill.
    TColor ColorTo = clNone;

    // Sets one bound by its kind number.
    void SetBound(TPyxGutterBound Kind, int Value) {
        switch (Kind) {
            case gbLeft: Left = Value; break;
            case gbTop: Top = Value; break;
            case gbWidth: Width = Value; break;
            case gbHeight: Height = Value; break;
        }
    }
    // (Left, Top) to (Left + Width, Top + Height).
    TRect Rect() const { return {Left, Top, Left + Width, Top + Height}; }
};

}  // namespace ostra
