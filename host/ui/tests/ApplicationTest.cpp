// The application object: parameters in Windows-1252, the scripted services in force while a
// script is named, the script's clicks in order once the loop runs, exceptions of a handler
// reported and not passed to Qt, and the loop ended by Terminate.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QWidget>
#include <cstdlib>

#include "host/Exceptions.h"
#include "host/UIServices.h"
#include "host/ui/Application.h"
#include "testsupport/TestFiles.h"

using namespace ostra;
using ostra::test::ReadAll;
using ostra::test::TempDir;
using ostra::test::WriteAll;

TEST(Application, RunsTheScriptsClicksUntilTerminated) {
    TempDir dir;
    WriteAll(dir.File("script"), "answer No\nclick Ask\nclick Quit\nclick Ask\n");
    setenv("OSTRA_UI_SCRIPT", dir.File("script").c_str(), 1);
    setenv("OSTRA_UI_LOG", dir.File("log").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static char program[] = "ApplicationTest", product[] = "Ostra", word[] = "Caf\xC3\xA9";
    char* argv[] = {program, product, word, nullptr};
    int argc = 3;
    {
        TApplication application(argc, argv);
        EXPECT_EQ(application.Parameters(), (std::vector<std::string>{"Ostra", "Caf\xE9"}));

        QWidget window;
        auto* ask = new QPushButton("&Ask", &window);
        ask->setObjectName("Ask");
        QObject::connect(ask, &QPushButton::clicked, [] {
            CallHandled([] {
                if (MessageDlg("Sure?", mtConfirmation, TMsgDlgButtons{mbYes, mbNo}) == mrNo) throw Exception("answered No");
            });
        });
        auto* quit = new QPushButton("&Quit", &window);
        quit->setObjectName("Quit");
        QObject::connect(quit, &QPushButton::clicked, [] { TerminateApplication(); });
        window.show();
        EXPECT_EQ(application.Run(), 0);
    }
    unsetenv("OSTRA_UI_SCRIPT");
    unsetenv("OSTRA_UI_LOG");
    EXPECT_EQ(ReadAll(dir.File("log")), "click Ask\nmessage No Sure?\nexception answered No\nclick Quit\n");
    // The headless default is in force again.
    EXPECT_NE(dynamic_cast<THeadlessUIServices*>(&UIServices()), nullptr);
}
