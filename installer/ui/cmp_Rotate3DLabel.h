// TRotate3DLabel, the label that shows the product name on the setup program's backdrop: it draws
// its caption at any angle (counter-clockwise, in degrees), raised, sunken or shadowed, and, when
// not transparent, on a rotated plate of its colour. TLabelStyle holds the angle and the 3-D look.
//
// A paint (LayoutRotate3DLabel computes it without a window system; products are truncated toward
// zero, W x H is the label's size, tw x th the caption's unrotated extent, cx = W div 2, cy = H div 2):
//   - origin X: 0 left-justified, W - tw right-justified, cx - trunc(tw/2 cos) - trunc(th/2 sin)
//     centred; origin Y: trunc(tw/2 sin) + cy - trunc(th/2 cos);
//   - an opaque label first loses its 3-D effect (stored as A3dNormal) and fills the plate, the
//     rectangle of (tw + 10) x (th + 7) around the centre turned by the angle;
//   - the caption is drawn up to three times at the origin plus an offset: in the light shade at
//     -1,-1 (raised) or +1,+1 (sunken), in the dark shade at +1,+1 (raised) or -1,-1 (sunken) or at
//     the shadow offsets (shadowed), and last in the font's colour at the origin itself.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QWidget>

#include "host/Graphics.h"
#include "installer/ui/ControlParts.h"

namespace ostra {

// The 3-D effect: none, sunken, raised, shadowed.
enum T3DEffectShort { A3dNormal, A3dResit, A3dRaised, A3dShadowed };
// How the caption stands in the label.
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

class TRotate3DLabel;

// The angle and 3-D look of one label; every change the label must show calls OnChange.
class TLabelStyle : public TPersistent {
public:
    TLabelStyle() = default;
    TLabelStyle(const TLabelStyle&) = delete;
    TLabelStyle& operator=(const TLabelStyle&) = delete;

    // A value below 0 or from 360 up is stored as 0.
    int Angle() const { return FAngle; }
    void SetAngle(int value);
    T3DEffectShort AStyle3D() const { return FStyle3D; }
    void SetAStyle3D(T3DEffectShort value);
    // The dark shade, also the shadow's colour.
    TColor AShadeRightBottom() const { return FShadeRightBottom; }
    void SetAShadeRightBottom(TColor value);
    // The light shade; ignored while AShadeLTSet forces it to white.
    TColor AShadeLeftTop() const { return FShadeLeftTop; }
    void SetAShadeLeftTop(TColor value);
    // Forces the light shade to white, keeping the chosen one in SavedShadeLeftTop until it is
    // cleared.
    bool AShadeLTSet() const { return FShadeLTSet; }
    void SetAShadeLTSet(bool value);
    TColor SavedShadeLeftTop() const { return FSavedShadeLeftTop; }
    // The shadow's offset (A3dShadowed).
    int AHShadeOffSet() const { return FHShadeOffSet; }
    void SetAHShadeOffSet(int value);
    int AVShadeOffSet() const { return FVShadeOffSet; }
    void SetAVShadeOffSet(int value);

    // From another TLabelStyle: every value but the saved light shade, then OnChange.
    void Assign(const TPersistent* Source) override;

    TNotifyEvent OnChange;

private:
    friend class TRotate3DLabel;
    void Changed();

    int FAngle = 0;
    T3DEffectShort FStyle3D = A3dRaised;
    TColor FShadeRightBottom = clGray;
    TColor FShadeLeftTop = clWhite;
    bool FShadeLTSet = false;
    TColor FSavedShadeLeftTop = clWhite;
    int FHShadeOffSet = 5;
    int FVShadeOffSet = -5;
};

// One drawing of the caption: where its unrotated top-left corner goes and in which colour.
struct TCaptionPass {
    TPoint At;
    TColor Color;
};

// What one paint of a rotated label draws.
struct TRotate3DLayout {
    TPoint Origin;
    bool HasPlate = false;
    std::array<TPoint, 4> Plate {};
    std::vector<TCaptionPass> Passes;
};

// The paint of a label of width x height whose caption measures textWidth x textHeight unrotated
// (see the file comment); an opaque label's style must already be A3dNormal.
TRotate3DLayout LayoutRotate3DLabel(const TLabelStyle& style, TAlignment alignment, bool transparent, int width,
                                    int height, int textWidth, int textHeight, TColor fontColor);

// The rotated 3-D label.
class TRotate3DLabel : public QWidget {
public:
    // Transparent, Arial bold, raised, at angle 0.
    explicit TRotate3DLabel(QWidget* parent = nullptr);
    ~TRotate3DLabel() override;

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& value);
    // Repaints when changed.
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    // The plate's colour: the label's own, or its parent's while ParentColor is set.
    TColor Color() const;
    void SetColor(TColor value);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool value);
    TFont* Font() const { return FFont.get(); }
    void SetFont(const TFont& value) { FFont->Assign(&value); }
    TLabelStyle* LabelStyle() const { return FLabelStyle.get(); }
    // Copies the style and repaints.
    void SetLabelStyle(const TLabelStyle& value);
    // Without a plate when set. Clearing it keeps the current colour as the label's own.
    bool MyTransparent() const { return FMyTransparent; }
    void SetMyTransparent(bool value);
    TAlign Align() const { return FAlign->Align(); }
    void SetAlign(TAlign value) { FAlign->SetAlign(value); }
    // At most one label of the program holds the Tag -1 (MarkedRotate3DLabel).
    int32_t Tag() const { return FTag.Value(); }
    void SetTag(int32_t value) { FTag.Set(value); }

    // The cosine and sine of the angle of the last paint (1 and 0 before the first).
    double CosAngle() const { return FCosAngle; }
    double SinAngle() const { return FSinAngle; }
    static constexpr double DegToRad = 3.14159265358979323846 / 180.0;

    // Copies the caption, the style, the font, the alignment in the parent, the position and size,
    // and MyTransparent.
    void Assign(const TRotate3DLabel& source);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string FCaption;
    TAlignment FAlignment = taLeftJustify;
    TColor FColor = clBtnFace;
    bool FParentColor = true;
    std::unique_ptr<TFont> FFont;
    std::unique_ptr<TLabelStyle> FLabelStyle;
    bool FMyTransparent = true;
    double FCosAngle = 1.0, FSinAngle = 0.0;
    TAlignKeeper* FAlign;
    TMarkedTag<TRotate3DLabel> FTag {this};
};

// The label whose Tag is -1; null when none.
inline TRotate3DLabel* MarkedRotate3DLabel() { return TMarkedTag<TRotate3DLabel>::Holder(); }

}  // namespace ostra
