// The memo's clipboard on the desktop's clipboard, through Qt. Text is converted at the edge: the
// memo's 8-bit Windows-1252 text becomes Unicode and its CR LF line breaks become LF (the
// desktop's convention) on the way out; on the way in, characters without a byte become '?' and
// every line break (CR LF, CR or LF) becomes CR LF. Needs a QGuiApplication.
#pragma once
#include <string>

#include "controls/memo/PyxMemoView.h"

namespace ostra {

// The system clipboard's text.
class TPyxQtClipboard : public IPyxClipboard {
public:
    bool HasText() const override;
    std::string AsText() const override;
    void SetAsText(const std::string& Text) override;
};

}  // namespace ostra
