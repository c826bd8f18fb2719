// Message boxes on Qt, answered through the modal-run hook: caption, icon, text, buttons in order
// with the first as default, the result of the button clicked or of the escape button, and the
// error box of an exception report.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "host/Exceptions.h"
#include "host/ui/ModalRun.h"
#include "host/ui/QtUIServices.h"
#include "host/ui/tests/support/OffscreenApp.h"

using namespace ostra;
using ostra::test::OffscreenApp;

namespace {

// What a box showed.
struct Shown {
    QString Caption, Text, Default;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QStringList Buttons;
};

// A hook that notes the box and clicks the button with the caption (none: closes it unclicked).
TModalRunHook Answer(Shown& shown, const QString& click) {
    return [&shown, click](QDialog& dialog) {
        auto& box = dynamic_cast<QMessageBox&>(dialog);
        shown.Caption = box.windowTitle();
        shown.Text = box.text();
        shown.Icon = box.icon();
        shown.Default = box.defaultButton() ? box.defaultButton()->text() : QString();
        shown.Buttons.clear();
        for (QAbstractButton* button : box.buttons()) shown.Buttons << button->text();
        for (QAbstractButton* button : box.buttons())
            if (button->text() == click) button->click();
        if (click.isEmpty()) box.reject();
        return 0;
    };
}

}  // namespace

TEST(QtUIServices, MessageBoxesShowTheirTypeAndAnswerWithTheButtonClicked) {
    OffscreenApp();
    TQtUIServices services;
    struct Case {
        TMsgDlgType type;
        TMsgDlgButtons buttons;
        const char* click;
        int result;
    };
    const Case cases[] = {
        {mtConfirmation, TMsgDlgButtons{mbYes, mbNo}, "&No", mrNo},
        {mtConfirmation, TMsgDlgButtons{mbNo, mbYes}, "&Yes", mrYes},
        {mtWarning, TMsgDlgButtons{mbYes, mbNo, mbCancel}, "", mrCancel},
        {mtConfirmation, TMsgDlgButtons{mbYes, mbNo}, "", mrNo},
        {mtInformation, TMsgDlgButtons{mbOK}, "", mrOk},
        {mtError, TMsgDlgButtons{mbAbort, mbRetry, mbIgnore}, "&Retry", mrRetry},
        {mtError, TMsgDlgButtons{mbAbort, mbRetry, mbIgnore}, "", mrCancel},
        {mtCustom, TMsgDlgButtons{mbYesToAll, mbNoToAll, mbAll}, "N&o to All", mrNoToAll},
    };
    for (const Case& c : cases) {
        Shown shown;
        TModalRunHookScope hook(Answer(shown, c.click));
        EXPECT_EQ(services.MessageDlg("Delete caf\xE9.dll?", c.type, c.buttons, 0), c.result) << c.click;
        EXPECT_EQ(shown.Text, QString::fromUtf8("Delete caf\xC3\xA9.dll?"));
    }

    Shown shown;
    TModalRunHookScope hook(Answer(shown, "OK"));
    services.MessageDlg("x", mtConfirmation, TMsgDlgButtons{mbCancel, mbOK, mbYes}, 0);
    EXPECT_EQ(shown.Caption, "Confirm");
    EXPECT_EQ(shown.Icon, QMessageBox::Question);
    EXPECT_EQ(shown.Default, "&Yes");
    EXPECT_EQ(shown.Buttons.size(), 3);
    services.MessageDlg("x", mtCustom, TMsgDlgButtons{mbOK}, 0);
    EXPECT_EQ(shown.Caption, "Ostra");
    EXPECT_EQ(shown.Icon, QMessageBox::NoIcon);
    EXPECT_EQ(shown.Buttons, QStringList{"OK"});
}

TEST(QtUIServices, ExceptionsAreShownInAnErrorBoxAndAbortsAreSilent) {
    OffscreenApp();
    TQtUIServices services;
    Shown shown;
    int boxes = 0;
    TModalRunHookScope hook([&](QDialog& dialog) {
        ++boxes;
        return Answer(shown, "OK")(dialog);
    });
    services.HandleException(nullptr, Exception("Unable to write to C:\\x.ini"));
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(shown.Text, "Unable to write to C:\\x.ini");
    EXPECT_EQ(shown.Icon, QMessageBox::Critical);
    EXPECT_EQ(shown.Caption, "Ostra");
    services.HandleException(nullptr, EAbort("silent"));
    EXPECT_EQ(boxes, 1);
}

TEST(QtUIServices, TheMessagePumpHandlesWaitingEvents) {
    OffscreenApp();
    TQtUIServices services;
    TUIServicesScope scope(services);
    bool handled = false;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { handled = true; }, Qt::QueuedConnection);
    EXPECT_FALSE(handled);
    ApplicationProcessMessages();
    EXPECT_TRUE(handled);
}
