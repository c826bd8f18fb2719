// The login dialog on the offscreen platform: caption, fields by mode, focus, tab order, field
// limits (the master key takes every length a key may have), Enter and Escape, the values given
// back only on OK, and a secured database connecting through it and the Qt services.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqSecurityManager.h"
#include "engine/ui/orqPasswordDialog.h"
#include "host/Graphics.h"
#include "host/UIServices.h"
#include "host/ui/ModalRun.h"
#include "host/ui/QtUIServices.h"
#include "host/ui/tests/support/OffscreenApp.h"
#include "testsupport/TestFiles.h"

using namespace ostra;
using ostra::test::OffscreenApp;

namespace {

// Runs the dialog through the hook with Act, which acts on the shown dialog.
bool RunDialog(int Mode, std::string& Key, std::string& User, std::string& Password,
         const std::function<void(TOrqPasswordDialog&)>& Act, const std::string& Path = "/data/shop/Shop.orq") {
    TModalRunHookScope hook([&](QDialog& dialog) {
        auto& form = dynamic_cast<TOrqPasswordDialog&>(dialog);
        form.show();
        Act(form);
        return form.result();
    });
    return ShowOrqLoginDialog(Path, Mode, Key, User, Password);
}

}  // namespace

TEST(PasswordDialog, CaptionLabelsAndFieldsByMode) {
    OffscreenApp();
    struct Case {
        int Mode;
        bool Key, UserAndPassword;
        const char* Focus;
    } cases[] = {{1, true, false, "ebMasterKey"}, {2, false, true, "ebPassword"}, {3, true, true, "ebMasterKey"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Mode);
        std::string key = "k", user = "bob", password = "p";
        RunDialog(c.Mode, key, user, password, [&](TOrqPasswordDialog& form) {
            EXPECT_EQ(form.windowTitle(), "Database Login - Shop.orq");
            EXPECT_EQ(form.lblMasterKey->text(), "Database Password:");
            EXPECT_EQ(form.lblUsername->text(), "User name:");
            EXPECT_EQ(form.lblPassword->text(), "User Password:");
            EXPECT_EQ(form.ebMasterKey->isEnabled(), c.Key);
            EXPECT_EQ(form.ebUsername->isEnabled(), c.UserAndPassword);
            EXPECT_EQ(form.ebPassword->isEnabled(), c.UserAndPassword);
            EXPECT_EQ(form.ebUsername->text(), "bob");
            EXPECT_EQ(form.ebMasterKey->echoMode(), QLineEdit::Password);
            EXPECT_EQ(form.ebPassword->echoMode(), QLineEdit::Password);
            EXPECT_EQ(form.ebUsername->echoMode(), QLineEdit::Normal);
            EXPECT_EQ(form.focusWidget()->objectName(), c.Focus);
            const TColor menu = ColorToRGB(clMenu);
            for (QLineEdit* edit : {form.ebMasterKey, form.ebUsername, form.ebPassword})
                if (!edit->isEnabled())
                    EXPECT_EQ(edit->palette().color(QPalette::Disabled, QPalette::Base),
                              QColor(menu & 0xFF, (menu >> 8) & 0xFF, (menu >> 16) & 0xFF));
            // The fields in order from top to bottom; the buttons below them, OK the default.
            EXPECT_LT(form.ebMasterKey->y(), form.ebUsername->y());
            EXPECT_LT(form.ebUsername->y(), form.ebPassword->y());
            EXPECT_TRUE(form.OKButton->isDefault());
            EXPECT_EQ(form.OKButton->text(), "&OK");
            EXPECT_EQ(form.CancelButton->text(), "Cancel");
            // Tab order: OK, Cancel, key, user, password.
            QStringList order;
            QWidget* w = form.OKButton;
            for (int i = 0; i < 20 && order.size() < 5; ++i, w = w->nextInFocusChain())
                if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
            EXPECT_EQ(order.join(","), "OKButton,CancelButton,ebMasterKey,ebUsername,ebPassword");
            form.reject();
        });
    }
}

TEST(PasswordDialog, FieldLimitsEnterAndEscape) {
    OffscreenApp();
    std::string key, user = "bob", password;
    // Typing: the key takes 100 characters, user name and password 40.
    const bool ok = RunDialog(3, key, user, password, [&](TOrqPasswordDialog& form) {
        form.ebUsername->clear();
        QTest::keyClicks(form.ebMasterKey, QString(120, 'k'));
        QTest::keyClicks(form.ebUsername, QString(50, 'u'));
        QTest::keyClicks(form.ebPassword, QString(50, 'p'));
        QTest::keyClick(form.ebPassword, Qt::Key_Return);
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(key, std::string(100, 'k'));
    EXPECT_EQ(user, std::string(40, 'u'));
    EXPECT_EQ(password, std::string(40, 'p'));

    // Escape cancels: nothing given back.
    std::string key2 = "before", user2 = "u", password2 = "p";
    EXPECT_FALSE(RunDialog(3, key2, user2, password2, [&](TOrqPasswordDialog& form) {
        QTest::keyClicks(form.ebMasterKey, "typed");
        QTest::keyClick(form.ebMasterKey, Qt::Key_Escape);
    }));
    EXPECT_EQ(key2, "before");
    EXPECT_EQ(user2, "u");
    EXPECT_EQ(password2, "p");
}

TEST(PasswordDialog, ASecuredDatabaseConnectsThroughTheDialog) {
    OffscreenApp();
    test::TempDir dir;
    TOrqDataBase database(nullptr);
    database.SetDataBaseName(dir.File("Shop.orq"));
    database.SetEnforceSecurity(true);
    database.SetMasterKey("a key of twenty-one c");
    database.CreateDatabase();

    TQtUIServices services;
    TUIServicesScope scope(services);
    const TLoginDialogProc saved = SetLoginDialogProc({});
    InstallOrqLoginDialog();
    int shown = 0;
    {
        TModalRunHookScope hook([&](QDialog& dialog) {
            auto& form = dynamic_cast<TOrqPasswordDialog&>(dialog);
            ++shown;
            EXPECT_EQ(form.windowTitle(), "Database Login - Shop.orq");
            form.ebMasterKey->setText("a key of twenty-one c");
            form.ebUsername->setText(C_AdministratorUser);
            form.ebPassword->setText("chosen");
            form.OKButton->click();
            return form.result();
        });
        database.SetConnected(true);
    }
    SetLoginDialogProc(saved);
    EXPECT_TRUE(database.Connected());
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(database.SecurityManager().UserName(), C_AdministratorUser);
}
