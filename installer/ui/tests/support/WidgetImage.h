// A widget painted into an image, for the tests that check what a control draws.
#pragma once
#include <QImage>
#include <QWidget>

namespace ostra::test {

// The widget painted onto white, at its size (also when it is not shown).
QImage RenderWidget(QWidget& widget);

}  // namespace ostra::test
