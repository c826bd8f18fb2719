// The clipboard adapter over QClipboard.
#include "controls/memo/PyxQtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "controls/memo/PyxQtGraphics.h"
#include "host/AnsiCodec.h"

namespace ostra {

bool TPyxQtClipboard::HasText() const {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasText() && !data->text().isEmpty();
}

std::string TPyxQtClipboard::AsText() const {
    const QString text = QGuiApplication::clipboard()->text();
    const std::string ansi = Utf16ToAnsi(std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                                                        static_cast<size_t>(text.size())));
    std::string result;
    result.reserve(ansi.size());
    for (size_t i = 0; i < ansi.size(); ++i) {
        const char c = ansi[i];
        if (c == '\r' || c == '\n') {
            result += "\r\n";
            if (c == '\r' && i + 1 < ansi.size() && ansi[i + 1] == '\n') ++i;
        } else {
            result += c;
        }
    }
    return result;
}

void TPyxQtClipboard::SetAsText(const std::string& Text) {
    std::string text;
    text.reserve(Text.size());
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') continue;
        text += Text[i];
    }
    QGuiApplication::clipboard()->setText(ToQString(text));
}

}  // namespace ostra
