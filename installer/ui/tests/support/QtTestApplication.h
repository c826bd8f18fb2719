// The Qt application the widget tests need: made once per test program, on the offscreen platform
// (the test sets QT_QPA_PLATFORM itself, so nothing opens a window); and rendering a widget into an
// image.
#pragma once
#include <QImage>
#include <QWidget>

namespace ostra::test {

// Makes the program's QApplication on the offscreen platform unless it exists.
void EnsureQtApplication();
// The widget painted onto white, at its size (also when it is not shown).
QImage RenderWidget(QWidget& widget);

}  // namespace ostra::test
