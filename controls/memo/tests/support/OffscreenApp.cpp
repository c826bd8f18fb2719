// The offscreen application of the memo's Qt tests.
#include "controls/memo/tests/support/OffscreenApp.h"

#include <QApplication>

// Fontconfig keeps caches for the life of the process; they are not the program's leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace ostra::test {

QApplication& OffscreenApp() {
    static int argc = 1;
    static char name[] = "ostra-memo-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

}  // namespace ostra::test
