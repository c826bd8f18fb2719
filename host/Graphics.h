// The host library's drawing vocabulary, free of any window system: colours in the host library's
// encoding, font descriptions, rectangles and points. Controls keep their colours and fonts in these
// terms (the memo, the installer's translator and decorative controls); their Qt edges turn them
// into Qt objects, and everything else stays headless.
//
// A TColor is a 32-bit value:
//   | bits   | meaning                                                             |
//   |--------|---------------------------------------------------------------------|
//   | 0-7    | red                                                                 |
//   | 8-15   | green                                                               |
//   | 16-23  | blue                                                                |
//   | 24-31  | 0 for an RGB colour; 0x80 for a system colour whose index is byte 0 |
// so blue is 0xFF0000 and red 0x0000FF. clNone and clDefault are markers, not colours.
#pragma once
#include <cstdint>
#include <string>

#include "host/Object.h"
#include "host/Set.h"
#include "host/StringList.h"

namespace ostra {

using TColor = int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// System colours: 0x80000000 + the index of the system colour.
constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clMenu = clSystemColor | 4;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clInfoBk = clSystemColor | 24;

// The RGB value of a colour; system colours resolve to fixed values (the classic desktop
// scheme), so that drawing never depends on the machine's theme. clNone and clDefault give
// white.
TColor ColorToRGB(TColor Color);
// The three components of an RGB colour.
inline int GetRValue(TColor c) { return c & 0xFF; }
inline int GetGValue(TColor c) { return (c >> 8) & 0xFF; }
inline int GetBValue(TColor c) { return (c >> 16) & 0xFF; }
inline TColor RGB(int r, int g, int b) { return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16); }

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;
// The identifiers of the TFontStyle values, by ordinal (for streaming).
extern const char* const FontStyleIdents[4];

// The character set value that stands for "the default one".
constexpr int DEFAULT_CHARSET = 1;
// The screen resolution that converts points into pixels (Height = -Size * 96 / 72).
constexpr int kScreenPixelsPerInch = 96;

// A font description: face name, height, colour, style. A negative Height is the character
// height in pixels (the cell height without internal leading), the framework's convention.
// Every change fires OnChange.
class TFont : public TPersistent {
public:
    TFont() = default;
    TFont(const TFont&) = delete;
    TFont& operator=(const TFont&) = delete;

    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value);
    int Height() const { return FHeight; }
    void SetHeight(int Value);
    // Points, from and to Height at 96 pixels per inch (rounded).
    int Size() const;
    void SetSize(int Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles Value);
    int Charset() const { return FCharset; }
    void SetCharset(int Value);

    // From another TFont: every value, one OnChange. Other sources: the base rules.
    void Assign(const TPersistent* Source) override;
    // True when every value equals the other font's.
    bool SameAs(const TFont& Other) const;

    TNotifyEvent OnChange;

private:
    void Changed();

    std::string FName = "MS Sans Serif";
    int FHeight = -11;
    TColor FColor = clWindowText;
    TFontStyles FStyle;
    int FCharset = DEFAULT_CHARSET;
};

struct TPoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TPoint&) const = default;
};

// A rectangle from (Left, Top) inclusive to (Right, Bottom) exclusive.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    // True when the point lies inside, the right and bottom edges included.
    bool ContainsWithEdges(int X, int Y) const { return X >= Left && X <= Right && Y >= Top && Y <= Bottom; }
    bool operator==(const TRect&) const = default;
};

// The rectangle grown by `d` on every side (shrunk for a negative d).
inline TRect InflateRect(const TRect& r, int d) {
    return {r.Left - d, r.Top - d, r.Right + d, r.Bottom + d};
}
// The smallest rectangle holding both.
TRect UnionRect(const TRect& a, const TRect& b);

struct TSize {
    int cx = 0;
    int cy = 0;
};

}  // namespace ostra
