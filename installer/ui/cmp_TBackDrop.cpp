// The gradient panel and its bands.
#include "installer/ui/cmp_TBackDrop.h"

#include <QPainter>

#include "installer/ui/QtEdge.h"

namespace ostra {

std::vector<TGradientBand> GradientBands(TColor from, TColor to, bool mirrored, bool verticalStrips, int width,
                                         int height) {
    const TColor start = ColorToRGB(from), end = ColorToRGB(to);
    const int r0 = GetRValue(start), g0 = GetGValue(start), b0 = GetBValue(start);
    const int dr = GetRValue(end) - r0, dg = GetGValue(end) - g0, db = GetBValue(end) - b0;
    const int n = mirrored ? 127 : 255;
    const int size = verticalStrips ? width : height;
    auto band = [&](int first, int last, TColor color) {
        return verticalStrips ? TGradientBand {{first, 0, last, height}, color}
                              : TGradientBand {{0, first, width, last}, color};
    };
    std::vector<TGradientBand> bands;
    for (int i = 0; i <= n; ++i) {
        const TColor color = RGB(r0 + MulDiv(i, dr, n), g0 + MulDiv(i, dg, n), b0 + MulDiv(i, db, n));
        bands.push_back(band(MulDiv(i, size, 256), MulDiv(i + 1, size, 256), color));
        if (mirrored) bands.push_back(band(MulDiv(255 - i, size, 256), MulDiv(256 - i, size, 256), color));
    }
    return bands;
}

std::vector<TGradientBand> BackdropBands(TDirection direction, TColor startColor, TColor endColor, int width,
                                         int height) {
    // Which colour a direction starts from, whether it is mirrored and whether its strips are vertical.
    struct TWay {
        bool FromStart, Mirrored, Vertical;
    };
    static const TWay ways[] = {
        {true, false, false},  // bdUp
        {false, false, false}, // bdDown
        {true, false, true},   // bdLeft
        {false, false, true},  // bdRight
        {false, true, false},  // bdHorzIn
        {true, true, false},   // bdHorzOut
        {true, true, true},    // bdVertIn
        {false, true, true},   // bdVertOut
    };
    const TWay& way = ways[direction];
    return GradientBands(way.FromStart ? startColor : endColor, way.FromStart ? endColor : startColor, way.Mirrored,
                         way.Vertical, width, height);
}

TBackdrop::TBackdrop(QWidget* parent) : QWidget(parent), FAlign(new TAlignKeeper(this)) {
    FAlign->SetAlign(alClient);
}

void TBackdrop::Changed() { repaint(); }

void TBackdrop::SetDirection(TDirection value) {
    if (value == FDirection) return;
    FDirection = value;
    Changed();
}

void TBackdrop::SetStartColor(TColor value) {
    if (value == FStartColor) return;
    FStartColor = value;
    Changed();
}

void TBackdrop::SetEndColor(TColor value) {
    if (value == FEndColor) return;
    FEndColor = value;
    Changed();
}

void TBackdrop::Assign(const TBackdrop& source) {
    FDirection = source.FDirection;
    FStartColor = source.FStartColor;
    FEndColor = source.FEndColor;
    SetAlign(source.Align());
    Changed();
}

void TBackdrop::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (const TGradientBand& band : BackdropBands(FDirection, FStartColor, FEndColor, width(), height()))
        painter.fillRect(QRect(band.Rect.Left, band.Rect.Top, band.Rect.Width(), band.Rect.Height()),
                         ToQColor(band.Color));
}

}  // namespace ostra
