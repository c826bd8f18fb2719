// The rotated 3-D label: the style's setters and their notifications, the layout of a paint (origin,
// plate, passes), the painted shadow, an opaque label losing its effect, the marked label, Assign.
#include <gtest/gtest.h>

#include "host/ComponentText.h"
#include "installer/ui/cmp_Rotate3DLabel.h"
#include "host/ui/tests/support/OffscreenApp.h"
#include "installer/ui/tests/support/WidgetImage.h"

using namespace ostra;

namespace {

// A style that counts its notifications.
struct CountedStyle {
    TLabelStyle Style;
    int Changes = 0;
    CountedStyle() {
        Style.OnChange = [this](TObject*) { ++Changes; };
    }
};

// The bounding box of the pixels that match.
template <class F>
QRect BoxOf(const QImage& image, F match) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (match(image.pixelColor(x, y))) box |= QRect(x, y, 1, 1);
    return box;
}

}  // namespace

TEST(LabelStyle, SettersStoreAndNotifyAsTheLabelNeeds) {
    CountedStyle s;
    EXPECT_EQ(s.Style.AStyle3D(), A3dRaised);
    EXPECT_EQ(s.Style.AShadeRightBottom(), clGray);
    const std::pair<int, int> angles[] = {{360, 0}, {359, 359}, {-10, 0}, {90, 90}};
    for (const auto& [set, stored] : angles) {
        s.Style.SetAngle(set);
        EXPECT_EQ(s.Style.Angle(), stored) << set;
    }
    EXPECT_EQ(s.Changes, 4);
    s.Style.SetAngle(90);  // unchanged
    EXPECT_EQ(s.Changes, 4);

    // Offsets notify only for the shadowed look.
    s.Style.SetAHShadeOffSet(7);
    EXPECT_EQ(s.Changes, 4);
    s.Style.SetAStyle3D(A3dShadowed);
    s.Style.SetAVShadeOffSet(-7);
    EXPECT_EQ(s.Changes, 6);

    // Forcing the light shade to white keeps the chosen one and gives it back when cleared.
    s.Style.SetAStyle3D(A3dRaised);
    s.Style.SetAShadeLeftTop(clYellow);
    const int before = s.Changes;
    s.Style.SetAShadeLTSet(true);
    EXPECT_EQ(s.Style.AShadeLeftTop(), clWhite);
    EXPECT_EQ(s.Style.SavedShadeLeftTop(), clYellow);
    EXPECT_EQ(s.Changes, before + 1);
    s.Style.SetAShadeLeftTop(clRed);  // ignored while forced
    EXPECT_EQ(s.Style.AShadeLeftTop(), clWhite);
    s.Style.SetAShadeLTSet(false);
    EXPECT_EQ(s.Style.AShadeLeftTop(), clYellow);
    EXPECT_EQ(s.Changes, before + 1);

    CountedStyle copy;
    copy.Style.Assign(&s.Style);
    EXPECT_EQ(copy.Style.Angle(), 90);
    EXPECT_EQ(copy.Style.AHShadeOffSet(), 7);
    EXPECT_EQ(copy.Style.AShadeLeftTop(), clYellow);
    EXPECT_EQ(copy.Changes, 1);

    // A form stream writes AShadeLTSet False and leaves True out.
    TLabelStyle plain;
    EXPECT_NE(ObjectToText(&plain, "Style").find("AShadeLTSet = False"), std::string::npos);
    plain.SetAShadeLTSet(true);
    EXPECT_EQ(ObjectToText(&plain, "Style").find("AShadeLTSet"), std::string::npos);
}

TEST(Rotate3DLabel, LayoutOfOnePaint) {
    TLabelStyle style;
    // Centred at angle 0: the caption's left edge at W div 2 - trunc(tw / 2), its top at
    // H div 2 - trunc(th / 2); raised: light at -1,-1, dark at +1,+1, the font's colour last.
    TRotate3DLayout layout = LayoutRotate3DLabel(style, taCenter, true, 201, 65, 51, 17, clBlack);
    EXPECT_EQ(layout.Origin, (TPoint {100 - 25, 32 - 8}));
    EXPECT_FALSE(layout.HasPlate);
    ASSERT_EQ(layout.Passes.size(), 3u);
    EXPECT_EQ(layout.Passes[0].At, (TPoint {74, 23}));
    EXPECT_EQ(layout.Passes[0].Color, clWhite);
    EXPECT_EQ(layout.Passes[1].At, (TPoint {76, 25}));
    EXPECT_EQ(layout.Passes[1].Color, clGray);
    EXPECT_EQ(layout.Passes[2].Color, clBlack);

    style.SetAStyle3D(A3dResit);
    layout = LayoutRotate3DLabel(style, taRightJustify, true, 201, 65, 51, 17, clBlack);
    EXPECT_EQ(layout.Origin.X, 150);
    EXPECT_EQ(layout.Passes[0].At, (TPoint {151, 25}));

    // At 90 degrees the text runs upwards from the bottom of its centred box; the opaque plate is the
    // (tw + 10) x (th + 7) rectangle turned about the centre.
    style.SetAngle(90);
    style.SetAStyle3D(A3dNormal);
    layout = LayoutRotate3DLabel(style, taCenter, false, 100, 100, 40, 10, clBlack);
    EXPECT_EQ(layout.Origin, (TPoint {50 - 0 - 5, 20 + 50 - 0}));
    ASSERT_TRUE(layout.HasPlate);
    EXPECT_EQ(layout.Plate[0], (TPoint {50 - 0 - 8, 25 + 50 - 0}));
    EXPECT_EQ(layout.Plate[2], (TPoint {0 + 50 + 8, 50 + 0 - 25}));
    EXPECT_EQ(layout.Passes.size(), 1u);
}

TEST(Rotate3DLabel, PaintsTheShadowBesideTheCaption) {
    test::OffscreenApp();
    TRotate3DLabel label;
    label.resize(220, 80);
    label.SetCaption("Ostra Shadow");
    label.Font()->SetHeight(-24);
    label.Font()->SetColor(clRed);
    label.LabelStyle()->SetAStyle3D(A3dShadowed);
    const QImage image = test::RenderWidget(label);
    const QRect text = BoxOf(image, [](QColor c) { return c.red() > 200 && c.green() < 90 && c.blue() < 90; });
    const QRect shadow = BoxOf(image, [](QColor c) {
        return c.red() == c.green() && c.green() == c.blue() && c.red() >= 0x70 && c.red() <= 0x90;
    });
    ASSERT_FALSE(text.isEmpty());
    ASSERT_FALSE(shadow.isEmpty());
    // The grey copy lies 5 pixels right of and 5 above the caption.
    EXPECT_NEAR(shadow.right() - text.right(), 5, 1);
    EXPECT_NEAR(text.top() - shadow.top(), 5, 1);
    EXPECT_DOUBLE_EQ(label.CosAngle(), 1.0);
}

TEST(Rotate3DLabel, AnOpaqueLabelLosesItsEffectAndShowsItsPlate) {
    test::OffscreenApp();
    QWidget parent;
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(10, 20, 30));
    parent.setPalette(palette);
    auto* label = new TRotate3DLabel(&parent);
    label->setGeometry(0, 0, 200, 60);
    label->SetCaption("Plate");
    label->SetAlignment(taCenter);
    EXPECT_EQ(label->Color(), RGB(10, 20, 30));  // the parent's colour
    label->SetMyTransparent(false);
    EXPECT_FALSE(label->ParentColor());
    palette.setColor(QPalette::Window, QColor(200, 0, 0));
    parent.setPalette(palette);
    EXPECT_EQ(label->Color(), RGB(10, 20, 30));  // kept as its own
    EXPECT_EQ(label->LabelStyle()->AStyle3D(), A3dRaised);
    const QImage image = test::RenderWidget(*label);
    EXPECT_EQ(label->LabelStyle()->AStyle3D(), A3dNormal);
    EXPECT_EQ(image.pixelColor(100, 30 - 8), QColor(10, 20, 30));  // inside the plate, above the text
    EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::white));           // outside it
}

TEST(Rotate3DLabel, OneLabelIsMarkedAndAssignCopies) {
    test::OffscreenApp();
    QWidget form;
    form.resize(478, 395);
    auto* first = new TRotate3DLabel(&form);
    first->resize(10, 65);
    first->SetAlign(alTop);
    EXPECT_EQ(first->geometry(), QRect(0, 0, 478, 65));
    form.show();
    form.resize(600, 400);
    EXPECT_EQ(first->geometry(), QRect(0, 0, 600, 65));
    first->SetTag(-1);
    TRotate3DLabel second;
    second.SetTag(-1);
    EXPECT_EQ(first->Tag(), 0);
    EXPECT_EQ(MarkedRotate3DLabel(), &second);

    second.SetCaption("Copied");
    second.LabelStyle()->SetAngle(45);
    second.SetMyTransparent(false);
    second.setGeometry(3, 4, 50, 60);
    first->SetAlign(alNone);
    first->Assign(second);
    EXPECT_EQ(first->Caption(), "Copied");
    EXPECT_EQ(first->LabelStyle()->Angle(), 45);
    EXPECT_FALSE(first->MyTransparent());
    EXPECT_EQ(first->geometry(), QRect(3, 4, 50, 60));
    EXPECT_EQ(first->Font()->Name(), "Arial");
    EXPECT_TRUE(first->Font()->Style().Contains(fsBold));
}
