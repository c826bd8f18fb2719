// Pixel checks of the painter on an offscreen image: the selection colour only while focused,
// the right margin's position, line numbers counted from LineNumberStart, the gutter gradient.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "controls/memo/PyxMemoPainter.h"
#include "controls/memo/PyxQtGraphics.h"
#include "controls/memo/pyxmsqls.h"
#include "controls/memo/tests/support/MemoTestKit.h"
#include "controls/memo/tests/support/OffscreenApp.h"

namespace ostra::test {
namespace {

// The fake view, measuring text with Qt.
class QtMeasuringView : public FakeView {
public:
    TSize TextExtent(const TFont& Font, const std::string& Text) override { return QtTextExtent(Font, Text); }
};

struct PaintKit {
    QtMeasuringView View;
    TPyxSQLMemoStyler Styler{nullptr};
    TPyxMemo Memo{nullptr};
    PaintKit() {
        OffscreenApp();
        Memo.SetView(&View);
        Memo.SetFont(Memo.Font());
        Memo.SetSyntaxStyles(&Styler);
        Memo.SetBounds(0, 0, 350, 250);
    }
    ~PaintKit() { Memo.SetSyntaxStyles(nullptr); }
    QImage Paint() {
        QImage image(Memo.Width(), Memo.Height(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        TPyxMemoPainter(Memo).Paint(painter);
        return image;
    }
    // The middle of cell (Column, Row).
    QPoint Cell(int Column, int Row) {
        const TRect r = Memo.CellRect(Column, Row);
        return {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
    }
};

TEST(MemoPainter, SelectionShowsOnlyWhileFocused) {
    PaintKit kit;
    ASSERT_GT(kit.Memo.CellWidth(), 0);
    SetText(kit.Memo, "a   b");
    kit.Memo.SetSelection(0, 0, 4, 0);
    kit.View.HasFocus = true;
    EXPECT_EQ(kit.Paint().pixelColor(kit.Cell(2, 0)), ToQColor(clNavy));
    kit.View.HasFocus = false;
    EXPECT_EQ(kit.Paint().pixelColor(kit.Cell(2, 0)), ToQColor(clWhite));
    kit.View.HasFocus = true;
    kit.Memo.SetSelection(0, 0, 0, 0);
    EXPECT_EQ(kit.Paint().pixelColor(kit.Cell(2, 0)), ToQColor(clWhite));
}

TEST(MemoPainter, RightMarginStandsAtItsColumnWhateverTheScroll) {
    PaintKit kit;
    kit.Memo.SetRightMargin(10);
    const TRect text = kit.Memo.TextRect();
    const int x = text.Left + 10 * QtTextExtent(kit.Memo.CanvasFont(), "w").cx;
    const int y = text.Bottom - 3;
    QImage image = kit.Paint();
    EXPECT_EQ(image.pixelColor(x, y), QColor(0xE2, 0xE2, 0xE2));
    EXPECT_EQ(image.pixelColor(x - 1, y), QColor(0xE2, 0xE2, 0xE2));
    EXPECT_EQ(image.pixelColor(x + 1, y), ToQColor(clWhite));
    EXPECT_EQ(image.pixelColor(x - 2, y), ToQColor(clWhite));

    SetText(kit.Memo, std::string(300, 'x'));
    Place(kit.Memo, 300, 0);
    ASSERT_GT(kit.Memo.FirstVisibleColumn(), 0);
    const int above = kit.Memo.TextRect().Bottom - 3;  // above the horizontal bar that appeared
    EXPECT_EQ(kit.Paint().pixelColor(x, above), QColor(0xE2, 0xE2, 0xE2));

    kit.Memo.SetRightMargin(0);
    EXPECT_EQ(kit.Paint().pixelColor(x, above), ToQColor(clWhite));
}

// The gutter's row `Row` (as the gutter paints it: from its top, one cell high).
QImage GutterRow(PaintKit& Kit, const QImage& Image, int Row) {
    const TPyxGutter& g = Kit.Memo.Gutter();
    return Image.copy(g.Left, g.Top + Row * Kit.Memo.CellHeight(), g.Width - 2, Kit.Memo.CellHeight());
}

TEST(MemoPainter, LineNumbersCountFromLineNumberStart) {
    PaintKit kit;
    SetText(kit.Memo, "a\nb\nc");
    kit.Memo.SetLineNumberStart(0);
    const QImage fromZero = kit.Paint();
    kit.Memo.SetLineNumberStart(1);
    const QImage fromOne = kit.Paint();
    EXPECT_EQ(GutterRow(kit, fromZero, 1), GutterRow(kit, fromOne, 0)) << "the first row shows 1 when counting from 1";
    EXPECT_NE(GutterRow(kit, fromZero, 0), GutterRow(kit, fromOne, 0));

    // The number is centred in the gutter.
    const QImage row = GutterRow(kit, fromZero, 0);
    const QColor face = ToQColor(clBtnFace);
    int left = row.width(), right = -1;
    for (int y = 0; y < row.height(); ++y)
        for (int x = 0; x < row.width(); ++x)
            if (row.pixelColor(x, y) != face) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_GE(right, left) << "a digit is drawn";
    EXPECT_NEAR((left + right) / 2.0, row.width() / 2.0, 2.0);

    kit.Memo.SetLineNumbers(false);
    const QImage none = kit.Paint();
    EXPECT_EQ(GutterRow(kit, none, 0), GutterRow(kit, none, 4)) << "no numbers: rows look alike";
}

TEST(MemoPainter, GutterGradientRunsFromColorToColorTo) {
    PaintKit kit;
    kit.Memo.SetGutterColor(clBlack);
    kit.Memo.SetGutterColorTo(clWhite);
    kit.Memo.SetLineNumbers(false);
    const QImage image = kit.Paint();
    const TPyxGutter& g = kit.Memo.Gutter();
    EXPECT_EQ(image.pixelColor(g.Left, g.Top + 5), QColor(0, 0, 0));
    const QColor end = image.pixelColor(g.Left + g.Width - 3, g.Top + 5);
    EXPECT_GT(end.red(), 230);
    const QColor middle = image.pixelColor(g.Left + (g.Width - 2) / 2, g.Top + 5);
    EXPECT_NEAR(middle.red(), 128, 12);
}

TEST(MemoPainter, ColoursFollowTheTokensAcrossScrolling) {
    PaintKit kit;
    // A comment opened on the first line runs on below the rows compared, and so does a string
    // on the lines after it closes.
    std::string text = "{ open";
    for (int i = 0; i < 60; ++i) text += "\nline " + std::to_string(i) + (i == 6 ? " } \"string" : " x");
    SetText(kit.Memo, text);
    kit.View.HasFocus = false;
    const QImage top = kit.Paint();
    kit.Memo.MouseWheel(-120);
    kit.Memo.MouseWheel(-120);
    kit.Memo.MouseWheel(120);
    ASSERT_EQ(kit.Memo.FirstVisibleLine(), 4);
    const QImage scrolled = kit.Paint();
    const int rows = 6;
    const TRect text0 = kit.Memo.TextRect();
    const QImage topRows = top.copy(text0.Left, text0.Top + 1 + 4 * kit.Memo.CellHeight(), text0.Width(),
                                    rows * kit.Memo.CellHeight());
    const QImage scrolledRows =
        scrolled.copy(text0.Left, text0.Top + 1, text0.Width(), rows * kit.Memo.CellHeight());
    EXPECT_EQ(topRows, scrolledRows);
}

}  // namespace
}  // namespace ostra::test
