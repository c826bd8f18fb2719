// Colour resolution, the font description and its published properties, rectangle helpers.
#include "host/Graphics.h"

#include <algorithm>
#include <cmath>

#include "host/PropertyRegistry.h"

namespace ostra {

namespace {

// The classic desktop scheme, by system colour index (0x80000000 + index).
TColor SystemColorRGB(int Index) {
    switch (Index) {
        case 0: return RGB(0xC8, 0xC8, 0xC8);   // scroll bar
        case 4: return RGB(0xD4, 0xD0, 0xC8);   // menu
        case 5: return RGB(0xFF, 0xFF, 0xFF);   // window
        case 8: return RGB(0x00, 0x00, 0x00);   // window text
        case 13: return RGB(0x0A, 0x24, 0x6A);  // highlight
        case 14: return RGB(0xFF, 0xFF, 0xFF);  // highlight text
        case 15: return RGB(0xD4, 0xD0, 0xC8);  // button face
        case 24: return RGB(0xFF, 0xFF, 0xE1);  // tooltip background
        default: return RGB(0xC0, 0xC0, 0xC0);
    }
}

[[maybe_unused]] const bool kFontPublished = Publish<TFont, TPersistent>()
    .Integer("Charset", &TFont::Charset, &TFont::SetCharset)
    .Integer("Color", &TFont::Color, &TFont::SetColor)
    .Integer("Height", &TFont::Height, &TFont::SetHeight)
    .String("Name", &TFont::Name, &TFont::SetName)
    .Set("Style", &TFont::Style, &TFont::SetStyle, FontStyleIdents)
    .Default(TFontStyles{});

}  // namespace

const char* const FontStyleIdents[4] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};

TColor ColorToRGB(TColor Color) {
    if (Color == clNone || Color == clDefault) return clWhite;
    if (Color & clSystemColor) return SystemColorRGB(Color & 0xFF);
    return Color & 0xFFFFFF;
}

TRect UnionRect(const TRect& a, const TRect& b) {
    if (a.IsEmpty()) return b;
    if (b.IsEmpty()) return a;
    return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
            std::max(a.Bottom, b.Bottom)};
}

// ---- TFont

void TFont::Changed() {
    if (OnChange) OnChange(this);
}

void TFont::SetName(const std::string& Value) {
    if (Value == FName) return;
    FName = Value;
    Changed();
}

void TFont::SetHeight(int Value) {
    if (Value == FHeight) return;
    FHeight = Value;
    Changed();
}

int TFont::Size() const {
    return static_cast<int>(std::lround(-FHeight * 72.0 / kScreenPixelsPerInch));
}

void TFont::SetSize(int Value) {
    SetHeight(-static_cast<int>(std::lround(Value * static_cast<double>(kScreenPixelsPerInch) / 72.0)));
}

void TFont::SetColor(TColor Value) {
    if (Value == FColor) return;
    FColor = Value;
    Changed();
}

void TFont::SetStyle(TFontStyles Value) {
    if (Value == FStyle) return;
    FStyle = Value;
    Changed();
}

void TFont::SetCharset(int Value) {
    if (Value == FCharset) return;
    FCharset = Value;
    Changed();
}

bool TFont::SameAs(const TFont& Other) const {
    return FName == Other.FName && FHeight == Other.FHeight && FColor == Other.FColor && FStyle == Other.FStyle &&
           FCharset == Other.FCharset;
}

void TFont::Assign(const TPersistent* Source) {
    if (const auto* font = dynamic_cast<const TFont*>(Source)) {
        if (font == this || SameAs(*font)) return;
        FName = font->FName;
        FHeight = font->FHeight;
        FColor = font->FColor;
        FStyle = font->FStyle;
        FCharset = font->FCharset;
        Changed();
        return;
    }
    TPersistent::Assign(Source);
}

}  // namespace ostra
