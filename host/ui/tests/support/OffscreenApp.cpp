// The offscreen application object of GUI test programs.
#include "host/ui/tests/support/OffscreenApp.h"

#include <QApplication>

namespace ostra::test {

QApplication& OffscreenApp() {
    static int argc = 1;
    static char name[] = "OstraGuiTest";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* created = new QApplication(argc, argv);
        QCoreApplication::setApplicationName("Ostra");
        return created;
    }();
    return *app;
}

}  // namespace ostra::test
