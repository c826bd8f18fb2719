// Colours, fonts and texts at the Qt edge.
#include "installer/ui/QtEdge.h"

#include <algorithm>

#include "host/AnsiCodec.h"

namespace ostra {

QColor ToQColor(TColor color) {
    const TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

TColor FromQColor(const QColor& color) { return RGB(color.red(), color.green(), color.blue()); }

QFont ToQFont(const TFont& font) {
    QFont qfont(ToQString(font.Name()));
    // A negative height is the character height in pixels, a positive one the cell height.
    qfont.setPixelSize(std::max(1, font.Height() < 0 ? -font.Height() : font.Height()));
    qfont.setBold(font.Style().Contains(fsBold));
    qfont.setItalic(font.Style().Contains(fsItalic));
    qfont.setUnderline(font.Style().Contains(fsUnderline));
    qfont.setStrikeOut(font.Style().Contains(fsStrikeOut));
    return qfont;
}

void FromQFont(const QFont& qfont, int charset, TFont& font) {
    font.SetName(FromQString(qfont.family()));
    if (qfont.pixelSize() > 0)
        font.SetHeight(-qfont.pixelSize());
    else
        font.SetSize(static_cast<int>(qfont.pointSizeF() + 0.5));
    TFontStyles style;
    if (qfont.bold()) style.Include(fsBold);
    if (qfont.italic()) style.Include(fsItalic);
    if (qfont.underline()) style.Include(fsUnderline);
    if (qfont.strikeOut()) style.Include(fsStrikeOut);
    font.SetStyle(style);
    font.SetCharset(charset);
}

QString ToQString(const std::string& text) {
    const std::u16string utf16 = AnsiToUtf16(text);
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

std::string FromQString(const QString& text) {
    return Utf16ToAnsi(std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())));
}

}  // namespace ostra
