// The offscreen Qt application of the widget tests.
#include "installer/ui/tests/support/QtTestApplication.h"

#include <stdlib.h>

#include <QApplication>
#include <QPainter>

namespace ostra::test {

void EnsureQtApplication() {
    if (QApplication::instance()) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "ostra-installer-ui-test";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
}

QImage RenderWidget(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    widget.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

}  // namespace ostra::test
