// The memo's drawing vocabulary at the Qt edge: colours, fonts and 8-bit text turned into their
// Qt forms, and text measured by Qt. The painter and a Qt view use these; the core never does.
#pragma once
#include <string>

#include <QColor>
#include <QFont>
#include <QString>

#include "controls/memo/PyxGraphics.h"

namespace ostra {

// The Qt colour of a TColor (system colours resolved, ColorToRGB).
QColor ToQColor(TColor Color);
// The Qt font of a font description: the face (monospace faces fall back to the system's fixed
// font when missing), the pixel size from Height, the styles.
QFont ToQFont(const TFont& Font);
// The same face with other styles.
QFont ToQFont(const TFont& Font, TFontStyles Style);
// 8-bit Windows-1252 text as a QString.
QString ToQString(const std::string& Text);
// Width and height in pixels of `Text` on one line in `Font` (the height is the font's line
// height). Needs a QGuiApplication.
TSize QtTextExtent(const TFont& Font, const std::string& Text);

}  // namespace ostra
