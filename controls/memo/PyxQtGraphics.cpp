// Colours, fonts, text and measurement at the Qt edge.
#include "controls/memo/PyxQtGraphics.h"

#include <QFontMetrics>

#include "host/AnsiCodec.h"

namespace ostra {

QColor ToQColor(TColor Color) {
    const TColor rgb = ColorToRGB(Color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QFont ToQFont(const TFont& Font) {
    return ToQFont(Font, Font.Style());
}

QFont ToQFont(const TFont& Font, TFontStyles Style) {
    QFont font(ToQString(Font.Name()));
    font.setStyleHint(QFont::TypeWriter);
    // A negative height is the character height in pixels, a positive one the cell height.
    font.setPixelSize(std::max(1, Font.Height() < 0 ? -Font.Height() : Font.Height()));
    font.setBold(Style.Contains(fsBold));
    font.setItalic(Style.Contains(fsItalic));
    font.setUnderline(Style.Contains(fsUnderline));
    font.setStrikeOut(Style.Contains(fsStrikeOut));
    return font;
}

QString ToQString(const std::string& Text) {
    const std::u16string utf16 = AnsiToUtf16(Text);
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

TSize QtTextExtent(const TFont& Font, const std::string& Text) {
    const QFontMetrics metrics(ToQFont(Font));
    return {metrics.horizontalAdvance(ToQString(Text)), metrics.height()};
}

}  // namespace ostra
