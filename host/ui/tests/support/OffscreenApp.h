// The one application object of a GUI test program, on Qt's offscreen platform, so that windows
// and message boxes are made and painted without a display.
#pragma once

class QApplication;

namespace ostra::test {

// Creates the application object at the first call (setting QT_QPA_PLATFORM to "offscreen" and
// the application name to "Ostra"); later calls return the same one.
QApplication& OffscreenApp();

}  // namespace ostra::test
