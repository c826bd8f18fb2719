// Widgets painted into images.
#include "installer/ui/tests/support/WidgetImage.h"

#include <QPainter>

namespace ostra::test {

QImage RenderWidget(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    widget.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

}  // namespace ostra::test
