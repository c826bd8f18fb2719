// TBackdrop, the panel behind the setup program's wizard pages: it paints a colour gradient over
// its whole area (no caption, no bevel) and fills its parent by default.
//
// The gradient is drawn in bands (GradientBands): 256 bands from one colour to the other, or, when
// mirrored, 128 bands from each edge to the middle. Band i of N (N = 255, or 127 mirrored) has the
// colour from + MulDiv(i, to - from, N) in each of red, green and blue, and spans MulDiv(i, size,
// 256) to MulDiv(i + 1, size, 256) across the strips' direction; a mirrored band also fills
// MulDiv(255 - i, size, 256) to MulDiv(256 - i, size, 256).
#pragma once
#include <vector>

#include <QWidget>

#include "host/Graphics.h"
#include "installer/ui/ControlParts.h"

namespace ostra {

// Which way the gradient runs: from StartColor at the top (bdUp) or at the left (bdLeft), the other
// way round (bdDown, bdRight), or mirrored about the middle (the In and Out directions).
enum TDirection { bdUp, bdDown, bdLeft, bdRight, bdHorzIn, bdHorzOut, bdVertIn, bdVertOut };

// One band of a gradient: a rectangle and its colour.
struct TGradientBand {
    TRect Rect;
    TColor Color;
};

// The bands of a gradient over a width x height area (system colours resolved first); vertical
// strips run from left to right, horizontal ones from top to bottom.
std::vector<TGradientBand> GradientBands(TColor from, TColor to, bool mirrored, bool verticalStrips, int width,
                                         int height);
// The bands a backdrop paints for its direction and colours.
std::vector<TGradientBand> BackdropBands(TDirection direction, TColor startColor, TColor endColor, int width,
                                         int height);

// The gradient panel.
class TBackdrop : public QWidget {
public:
    // Fills its parent (alClient); from blue (StartColor) at the top to black (EndColor).
    explicit TBackdrop(QWidget* parent = nullptr);

    // Setting a new value repaints at once.
    TDirection Direction() const { return FDirection; }
    void SetDirection(TDirection value);
    TColor StartColor() const { return FStartColor; }
    void SetStartColor(TColor value);
    TColor EndColor() const { return FEndColor; }
    void SetEndColor(TColor value);
    TAlign Align() const { return FAlign->Align(); }
    void SetAlign(TAlign value) { FAlign->SetAlign(value); }
    // At most one backdrop of the program holds the Tag -1 (MarkedBackdrop).
    int32_t Tag() const { return FTag.Value(); }
    void SetTag(int32_t value) { FTag.Set(value); }

    // Copies the direction, both colours and the alignment, then repaints.
    void Assign(const TBackdrop& source);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Changed();

    TDirection FDirection = bdUp;
    TColor FStartColor = clBlue;
    TColor FEndColor = clBlack;
    TAlignKeeper* FAlign;
    TMarkedTag<TBackdrop> FTag {this};
};

// The backdrop whose Tag is -1; null when none.
inline TBackdrop* MarkedBackdrop() { return TMarkedTag<TBackdrop>::Holder(); }

}  // namespace ostra
