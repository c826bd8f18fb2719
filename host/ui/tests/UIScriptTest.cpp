// The scripted services of programs that tests start: answers in order and then the headless
// default, the log of boxes, exceptions and clicks, lines that are not understood, and clicks on
// buttons found by name.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QWidget>

#include "host/Exceptions.h"
#include "host/ui/UIScript.h"
#include "host/ui/tests/support/OffscreenApp.h"
#include "testsupport/TestFiles.h"

using namespace ostra;
using ostra::test::OffscreenApp;
using ostra::test::ReadAll;
using ostra::test::TempDir;
using ostra::test::WriteAll;

TEST(UIScript, AnswersInOrderThenTheDefaultAndEveryBoxLogged) {
    TempDir dir;
    WriteAll(dir.File("script"), "# the questions\nanswer No\n\n  answer YesToAll  \nclick StartBtn\nclick CloseBtn\n");
    TScriptedUIServices services;
    std::string error;
    ASSERT_TRUE(services.LoadScript(dir.File("script"), error)) << error;
    services.SetLogPath(dir.File("log"));

    EXPECT_EQ(services.MessageDlg("first\r\nline", mtConfirmation, TMsgDlgButtons{mbYes, mbNo}, 0), mrNo);
    EXPECT_EQ(services.MessageDlg("second", mtConfirmation, TMsgDlgButtons{mbYesToAll, mbNo}, 0), mrYesToAll);
    EXPECT_EQ(services.MessageDlg("third", mtConfirmation, TMsgDlgButtons{mbYes, mbNo}, 0), mrYes);
    services.HandleException(nullptr, Exception("Unable to write"));
    services.HandleException(nullptr, EAbort("silent"));
    EXPECT_EQ(ReadAll(dir.File("log")),
              "message No first\\nline\nmessage YesToAll second\nmessage Yes third\nexception Unable to write\n");
    EXPECT_EQ(services.Clicks(), (std::vector<std::string>{"StartBtn", "CloseBtn"}));
    EXPECT_EQ(services.Messages().size(), 3u);
}

TEST(UIScript, LinesNotUnderstoodAreNamed) {
    TempDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"answer Yes\nanswer Maybe\n", ":2: not understood: answer Maybe"},
        {"click\n", ":1: not understood: click"},
        {"press StartBtn\n", ":1: not understood: press StartBtn"},
    };
    for (const auto& [script, message] : cases) {
        WriteAll(dir.File("script"), script);
        TScriptedUIServices services;
        std::string error;
        EXPECT_FALSE(services.LoadScript(dir.File("script"), error));
        EXPECT_EQ(error, dir.File("script") + message);
    }
    TScriptedUIServices services;
    std::string error;
    EXPECT_FALSE(services.LoadScript(dir.File("missing"), error));
    EXPECT_EQ(error, "the script " + dir.File("missing") + " cannot be read");
}

TEST(UIScript, ClicksFindVisibleEnabledButtonsByName) {
    OffscreenApp();
    TempDir dir;
    TScriptedUIServices services;
    services.SetLogPath(dir.File("log"));
    QWidget window;
    auto* go = new QPushButton("&Go", &window);
    go->setObjectName("Go");
    int clicks = 0;
    QObject::connect(go, &QPushButton::clicked, [&] { ++clicks; });
    QWidget hidden;
    (new QPushButton("&Hidden", &hidden))->setObjectName("Hidden");

    window.show();
    services.Click("Go");
    go->setEnabled(false);
    services.Click("Go");
    services.Click("Hidden");
    services.Click("Missing");
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(ReadAll(dir.File("log")), "click Go\nclick Go: disabled\nclick Hidden: not found\nclick Missing: not found\n");
}
