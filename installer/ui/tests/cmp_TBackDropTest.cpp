// The gradient backdrop: its bands for every direction, the painted rows of a default backdrop and a
// mirrored one, filling its parent, the marked backdrop; MulDiv's rounding.
#include <gtest/gtest.h>

#include "installer/ui/cmp_TBackDrop.h"
#include "host/ui/tests/support/OffscreenApp.h"
#include "installer/ui/tests/support/WidgetImage.h"

using namespace ostra;

namespace {

TColor PixelAt(const QImage& image, int x, int y) {
    const QColor c = image.pixelColor(x, y);
    return RGB(c.red(), c.green(), c.blue());
}

}  // namespace

TEST(Backdrop, MulDivRoundsHalvesAwayFromZero) {
    const struct {
        int A, B, C, Result;
    } cases[] = {{1, 1, 2, 1},     {3, 1, 2, 2},      {-1, 1, 2, -1}, {-3, 1, 2, -2}, {255, -255, 255, -255},
                 {128, -255, 127, -257}, {5, 256, 256, 5}, {7, 3, 0, -1},  {1, 1, 3, 0},   {2, 1, 3, 1}};
    for (const auto& c : cases) EXPECT_EQ(MulDiv(c.A, c.B, c.C), c.Result) << c.A << "*" << c.B << "/" << c.C;
}

TEST(Backdrop, DefaultBackdropPaintsBlueToBlackRows) {
    test::OffscreenApp();
    TBackdrop backdrop;
    backdrop.resize(40, 256);
    EXPECT_EQ(backdrop.Direction(), bdUp);
    EXPECT_EQ(backdrop.Align(), alClient);
    const std::vector<TGradientBand> bands = BackdropBands(bdUp, clBlue, clBlack, 40, 256);
    ASSERT_EQ(bands.size(), 256u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(bands[i].Rect, (TRect {0, i, 40, i + 1})) << i;
        EXPECT_EQ(bands[i].Color, RGB(0, 0, 255 + MulDiv(i, -255, 255))) << i;
    }
    const QImage image = test::RenderWidget(backdrop);
    EXPECT_EQ(PixelAt(image, 20, 0), RGB(0, 0, 255));
    EXPECT_EQ(PixelAt(image, 0, 128), RGB(0, 0, 127));
    EXPECT_EQ(PixelAt(image, 39, 255), RGB(0, 0, 0));

    // Mirrored outwards: blue at both edges, black in the middle.
    backdrop.SetDirection(bdHorzOut);
    const QImage out = test::RenderWidget(backdrop);
    EXPECT_EQ(PixelAt(out, 5, 0), RGB(0, 0, 255));
    EXPECT_EQ(PixelAt(out, 5, 255), RGB(0, 0, 255));
    EXPECT_EQ(PixelAt(out, 5, 127), RGB(0, 0, 0));
    EXPECT_EQ(PixelAt(out, 5, 128), RGB(0, 0, 0));
}

TEST(Backdrop, DirectionsChooseColoursMirroringAndStrips) {
    const TColor red = RGB(255, 0, 0), green = RGB(0, 255, 0);
    const struct {
        TDirection Direction;
        TColor FirstBand;  // at the top or left edge
        bool Vertical;
        bool Mirrored;
    } cases[] = {{bdUp, red, false, false},     {bdDown, green, false, false}, {bdLeft, red, true, false},
                 {bdRight, green, true, false}, {bdHorzIn, green, false, true}, {bdHorzOut, red, false, true},
                 {bdVertIn, red, true, true},   {bdVertOut, green, true, true}};
    for (const auto& c : cases) {
        const std::vector<TGradientBand> bands = BackdropBands(c.Direction, red, green, 512, 512);
        ASSERT_EQ(bands.size(), 256u) << c.Direction;
        EXPECT_EQ(bands[0].Color, c.FirstBand) << c.Direction;
        EXPECT_EQ(bands[0].Rect, c.Vertical ? (TRect {0, 0, 2, 512}) : (TRect {0, 0, 512, 2})) << c.Direction;
        // Mirrored: the second band is the first band's mirror at the far edge.
        if (c.Mirrored) {
            EXPECT_EQ(bands[1].Rect, c.Vertical ? (TRect {510, 0, 512, 512}) : (TRect {0, 510, 512, 512}))
                << c.Direction;
        }
    }
    // System colours are resolved before the gradient is computed.
    EXPECT_EQ(GradientBands(clWindowText, clWindow, false, false, 1, 256).back().Color, RGB(255, 255, 255));
}

TEST(Backdrop, FillsItsParentAndOneBackdropIsMarked) {
    test::OffscreenApp();
    QWidget form;
    form.resize(300, 200);
    auto* backdrop = new TBackdrop(&form);
    form.show();
    EXPECT_EQ(backdrop->geometry(), QRect(0, 0, 300, 200));
    form.resize(478, 395);
    EXPECT_EQ(backdrop->size(), QSize(478, 395));
    backdrop->SetAlign(alNone);
    form.resize(100, 100);
    EXPECT_EQ(backdrop->size(), QSize(478, 395));

    TBackdrop copy;
    copy.SetDirection(bdVertIn);
    copy.SetStartColor(clWhite);
    copy.SetAlign(alNone);
    backdrop->Assign(copy);
    EXPECT_EQ(backdrop->Direction(), bdVertIn);
    EXPECT_EQ(backdrop->StartColor(), clWhite);
    EXPECT_EQ(backdrop->EndColor(), clBlack);

    EXPECT_EQ(MarkedBackdrop(), nullptr);
    backdrop->SetTag(-1);
    EXPECT_EQ(MarkedBackdrop(), backdrop);
    {
        TBackdrop second;
        second.SetTag(-1);
        EXPECT_EQ(backdrop->Tag(), 0);
        EXPECT_EQ(MarkedBackdrop(), &second);
    }
    EXPECT_EQ(MarkedBackdrop(), nullptr);  // the holder is gone
    backdrop->SetTag(-1);
    backdrop->SetTag(7);
    EXPECT_EQ(MarkedBackdrop(), nullptr);
}
