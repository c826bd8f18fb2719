// Alignment within the parent, and MulDiv.
#include "installer/ui/ControlParts.h"

#include <QEvent>

#include <cstdint>
#include <cstdlib>

namespace ostra {

TAlignKeeper::TAlignKeeper(QWidget* widget) : QObject(widget), FWidget(widget) {
    FWidget->installEventFilter(this);
    Watch();
}

void TAlignKeeper::SetAlign(TAlign value) {
    FAlign = value;
    Apply();
}

void TAlignKeeper::Apply() {
    QWidget* parent = FWidget->parentWidget();
    if (!parent || FAlign == alNone) return;
    const QRect area = parent->contentsRect();
    const QRect now = FWidget->geometry();
    switch (FAlign) {
        case alTop: FWidget->setGeometry(area.left(), area.top(), area.width(), now.height()); break;
        case alBottom:
            FWidget->setGeometry(area.left(), area.bottom() + 1 - now.height(), area.width(), now.height());
            break;
        case alLeft: FWidget->setGeometry(area.left(), area.top(), now.width(), area.height()); break;
        case alRight:
            FWidget->setGeometry(area.right() + 1 - now.width(), area.top(), now.width(), area.height());
            break;
        case alClient: FWidget->setGeometry(area); break;
        case alNone: break;
    }
}

void TAlignKeeper::Watch() {
    QWidget* parent = FWidget->parentWidget();
    if (parent == FWatchedParent) return;
    if (FWatchedParent) FWatchedParent->removeEventFilter(this);
    FWatchedParent = parent;
    if (parent) parent->installEventFilter(this);
}

bool TAlignKeeper::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FWidget && event->type() == QEvent::ParentChange) {
        Watch();
        Apply();
    } else if (watched == FWatchedParent && event->type() == QEvent::Resize) {
        Apply();
    }
    return false;
}

int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    const int64_t product = static_cast<int64_t>(a) * b;
    const int64_t magnitude = (std::llabs(product) + std::llabs(c) / 2) / std::llabs(c);
    return static_cast<int>((product < 0) != (c < 0) ? -magnitude : magnitude);
}

}  // namespace ostra
