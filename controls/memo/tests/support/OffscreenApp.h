// The one Qt application object of a memo test program, on the offscreen platform (no display
// needed). The test programs that link this also leave fontconfig's process-long caches out of
// the leak report.
#pragma once

class QApplication;

namespace ostra::test {

// Creates the application on the offscreen platform at the first call; the same object after.
QApplication& OffscreenApp();

}  // namespace ostra::test
