// The label style, the layout of a rotated 3-D caption and the label that paints it.
#include "installer/ui/cmp_Rotate3DLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>

#include <cmath>

#include "host/PropertyRegistry.h"
#include "installer/ui/QtEdge.h"

namespace ostra {

namespace {

const char* const Effect3DNames[] = {"A3dNormal", "A3dResit", "A3dRaised", "A3dShadowed"};

// The light shade's default in a stream is True, so a stored False is written out.
[[maybe_unused]] const bool kPublished =
    Publish<TLabelStyle, TPersistent>()
        .Integer("Angle", &TLabelStyle::Angle, &TLabelStyle::SetAngle)
        .Default(0)
        .Enum("AStyle3D", &TLabelStyle::AStyle3D, &TLabelStyle::SetAStyle3D, Effect3DNames)
        .Default(A3dRaised)
        .Integer("AShadeRightBottom", &TLabelStyle::AShadeRightBottom, &TLabelStyle::SetAShadeRightBottom)
        .Default(clGray)
        .Integer("AShadeLeftTop", &TLabelStyle::AShadeLeftTop, &TLabelStyle::SetAShadeLeftTop)
        .Default(clWhite)
        .Boolean("AShadeLTSet", &TLabelStyle::AShadeLTSet, &TLabelStyle::SetAShadeLTSet)
        .Default(true)
        .Integer("AHShadeOffSet", &TLabelStyle::AHShadeOffSet, &TLabelStyle::SetAHShadeOffSet)
        .Default(5)
        .Integer("AVShadeOffSet", &TLabelStyle::AVShadeOffSet, &TLabelStyle::SetAVShadeOffSet)
        .Default(-5);

int Trunc(double value) { return static_cast<int>(value); }

}  // namespace

// ---- TLabelStyle

void TLabelStyle::Changed() {
    if (OnChange) OnChange(this);
}

void TLabelStyle::SetAngle(int value) {
    if (value == FAngle) return;
    FAngle = value < 0 || value >= 360 ? 0 : value;
    Changed();
}

void TLabelStyle::SetAStyle3D(T3DEffectShort value) {
    if (value == FStyle3D) return;
    FStyle3D = value;
    Changed();
}

void TLabelStyle::SetAShadeRightBottom(TColor value) {
    if (value == FShadeRightBottom) return;
    FShadeRightBottom = value;
    Changed();
}

void TLabelStyle::SetAShadeLeftTop(TColor value) {
    if (FShadeLTSet || value == FShadeLeftTop) return;
    FShadeLeftTop = value;
    Changed();
}

void TLabelStyle::SetAShadeLTSet(bool value) {
    if (value == FShadeLTSet) return;
    FShadeLTSet = value;
    if (value) {
        FSavedShadeLeftTop = FShadeLeftTop;
        FShadeLeftTop = clWhite;
        if ((FStyle3D == A3dResit || FStyle3D == A3dRaised) && FSavedShadeLeftTop != clWhite) Changed();
    } else {
        FShadeLeftTop = FSavedShadeLeftTop;
    }
}

void TLabelStyle::SetAHShadeOffSet(int value) {
    if (value == FHShadeOffSet) return;
    FHShadeOffSet = value;
    if (FStyle3D == A3dShadowed) Changed();
}

void TLabelStyle::SetAVShadeOffSet(int value) {
    if (value == FVShadeOffSet) return;
    FVShadeOffSet = value;
    if (FStyle3D == A3dShadowed) Changed();
}

void TLabelStyle::Assign(const TPersistent* Source) {
    const auto* style = dynamic_cast<const TLabelStyle*>(Source);
    if (!style) return TPersistent::Assign(Source);
    FAngle = style->FAngle;
    FStyle3D = style->FStyle3D;
    FShadeRightBottom = style->FShadeRightBottom;
    FShadeLeftTop = style->FShadeLeftTop;
    FShadeLTSet = style->FShadeLTSet;
    FHShadeOffSet = style->FHShadeOffSet;
    FVShadeOffSet = style->FVShadeOffSet;
    Changed();
}

// ---- The layout of one paint

TRotate3DLayout LayoutRotate3DLabel(const TLabelStyle& style, TAlignment alignment, bool transparent, int width,
                                    int height, int textWidth, int textHeight, TColor fontColor) {
    const double angle = style.Angle() * TRotate3DLabel::DegToRad;
    const double c = std::cos(angle), s = std::sin(angle);
    const int cx = width / 2, cy = height / 2;
    TRotate3DLayout layout;
    switch (alignment) {
        case taLeftJustify: layout.Origin.X = 0; break;
        case taRightJustify: layout.Origin.X = width - textWidth; break;
        case taCenter: layout.Origin.X = cx - Trunc(textWidth / 2.0 * c) - Trunc(textHeight / 2.0 * s); break;
    }
    layout.Origin.Y = Trunc(textWidth / 2.0 * s) + cy - Trunc(textHeight / 2.0 * c);

    if (!transparent) {
        const double a = (textWidth + 10) / 2.0, b = (textHeight + 7) / 2.0;
        layout.HasPlate = true;
        layout.Plate = {TPoint {cx - Trunc(a * c) - Trunc(b * s), Trunc(a * s) + cy - Trunc(b * c)},
                        TPoint {Trunc(a * c) + cx - Trunc(b * s), cy - Trunc(a * s) - Trunc(b * c)},
                        TPoint {Trunc(a * c) + cx + Trunc(b * s), cy + Trunc(b * c) - Trunc(a * s)},
                        TPoint {cx + Trunc(b * s) - Trunc(a * c), Trunc(a * s) + cy + Trunc(b * c)}};
    }

    const T3DEffectShort effect = style.AStyle3D();
    const int light = effect == A3dRaised ? -1 : effect == A3dResit ? 1 : 0;
    const int dark = -light;
    const TPoint& o = layout.Origin;
    if (effect == A3dResit || effect == A3dRaised) {
        layout.Passes.push_back({{o.X + light, o.Y + light}, style.AShadeLeftTop()});
        layout.Passes.push_back({{o.X + dark, o.Y + dark}, style.AShadeRightBottom()});
    } else if (effect == A3dShadowed) {
        layout.Passes.push_back({{o.X + style.AHShadeOffSet(), o.Y + style.AVShadeOffSet()}, style.AShadeRightBottom()});
    }
    layout.Passes.push_back({o, fontColor});
    return layout;
}

// ---- TRotate3DLabel

TRotate3DLabel::TRotate3DLabel(QWidget* parent)
    : QWidget(parent), FFont(std::make_unique<TFont>()), FLabelStyle(std::make_unique<TLabelStyle>()),
      FAlign(new TAlignKeeper(this)) {
    FFont->SetName("Arial");
    FFont->SetStyle(TFontStyles {fsBold});
    FFont->OnChange = [this](TObject*) { update(); };
    FLabelStyle->OnChange = [this](TObject*) { update(); };
}

TRotate3DLabel::~TRotate3DLabel() = default;

void TRotate3DLabel::SetCaption(const std::string& value) {
    if (value == FCaption) return;
    FCaption = value;
    update();
}

void TRotate3DLabel::SetAlignment(TAlignment value) {
    if (value == FAlignment) return;
    FAlignment = value;
    update();
}

TColor TRotate3DLabel::Color() const {
    if (FParentColor && parentWidget()) return FromQColor(parentWidget()->palette().color(QPalette::Window));
    return FColor;
}

void TRotate3DLabel::SetColor(TColor value) {
    FColor = value;
    FParentColor = false;
    update();
}

void TRotate3DLabel::SetParentColor(bool value) {
    FParentColor = value;
    update();
}

void TRotate3DLabel::SetLabelStyle(const TLabelStyle& value) {
    FLabelStyle->Assign(&value);
    update();
}

void TRotate3DLabel::SetMyTransparent(bool value) {
    if (value == FMyTransparent) return;
    FMyTransparent = value;
    if (!value) SetColor(Color());
    update();
}

void TRotate3DLabel::Assign(const TRotate3DLabel& source) {
    FCaption = source.FCaption;
    FLabelStyle->Assign(source.FLabelStyle.get());
    FFont->Assign(source.FFont.get());
    SetAlign(source.Align());
    setGeometry(source.geometry());
    SetMyTransparent(source.FMyTransparent);
    update();
}

void TRotate3DLabel::paintEvent(QPaintEvent*) {
    const int angle = FLabelStyle->Angle();
    FCosAngle = std::cos(angle * DegToRad);
    FSinAngle = std::sin(angle * DegToRad);
    // An opaque label has no 3-D effect.
    if (!FMyTransparent) FLabelStyle->FStyle3D = A3dNormal;

    QPainter painter(this);
    const QFont font = ToQFont(*FFont);
    const QFontMetrics metrics(font);
    const QString caption = ToQString(FCaption);
    const TRotate3DLayout layout = LayoutRotate3DLabel(*FLabelStyle, FAlignment, FMyTransparent, width(), height(),
                                                       metrics.horizontalAdvance(caption), metrics.height(),
                                                       FFont->Color());
    if (layout.HasPlate) {
        QPolygon plate;
        for (const TPoint& p : layout.Plate) plate << QPoint(p.X, p.Y);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ToQColor(Color()));
        painter.drawPolygon(plate);
    }
    painter.setFont(font);
    for (const TCaptionPass& pass : layout.Passes) {
        // The caption's unrotated top-left corner goes to the pass's point; the text turns about it.
        painter.save();
        painter.translate(pass.At.X, pass.At.Y);
        painter.rotate(-angle);
        painter.setPen(ToQColor(pass.Color));
        painter.drawText(0, metrics.ascent(), caption);
        painter.restore();
    }
}

}  // namespace ostra
