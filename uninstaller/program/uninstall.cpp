// uninstall: the uninstaller program. Windows starts it from the "Add/Remove Programs" list with
// the command of the product's uninstall record ("UninstallString": the program's path, a blank
// and the product name, whose words arrive as the parameters); its one window (UninstallForm.h)
// removes what the record lists when the user clicks "&Start".
//
// The program keeps its own file in use while it runs, as Windows does, so at its end the file is
// deleted at the next restart (OstraMachine restart performs it on the stand-in machine).
#include <QCoreApplication>

#include "host/ui/Application.h"
#include "installer/library/WinFileSystem.h"
#include "platform/Process.h"
#include "uninstaller/program/UninstallForm.h"

int main(int argc, char** argv) {
    ostra::platform::HoldProgramFileOpen();
    ostra::TApplication application(argc, argv);
    ostra::TForm1 form(application.Parameters(), ostra::NativeToWin(QCoreApplication::applicationFilePath().toStdString()));
    form.show();
    return application.Run();
}
