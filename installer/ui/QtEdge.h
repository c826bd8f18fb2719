// The installer's controls at the Qt edge: colours, fonts and 8-bit texts turned into their Qt forms
// and back. The controls keep their values in the host library's terms (host/Graphics.h, Windows-1252
// text) and convert only here.
#pragma once
#include <string>

#include <QColor>
#include <QFont>
#include <QString>

#include "host/Graphics.h"

namespace ostra {

// The Qt colour of a TColor (system colours resolved); and back.
QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);
// The Qt font of a font description: face, pixel size from Height, styles. Qt has no character
// sets: the charset stays with the TFont.
QFont ToQFont(const TFont& font);
// The description of a Qt font, with the given character set.
void FromQFont(const QFont& qfont, int charset, TFont& font);
// Windows-1252 text as a QString, and back (characters outside Windows-1252 become "?").
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);

}  // namespace ostra
