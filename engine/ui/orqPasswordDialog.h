// orqPasswordDialog: TOrqPasswordDialog, the login dialog of a database that needs a master key,
// a user logon or both, on Qt Widgets.
//
// The database component asks for it through the user-interface services (host/UIServices.h):
// a program installs it once with InstallOrqLoginDialog, and the services then show it modally
// through the modal-run hook (host/ui/ModalRun.h), so tests look at it and answer it.
//
// The form (client area 336 x 174), its children named as below, in tab order OK, Cancel, master
// key, user name, password:
//   lblMasterKey  "Database Password:"  (7, 17)
//   lblUsername   "User name:"          (7, 45)
//   lblPassword   "User Password:"      (7, 80)
//   ebMasterKey   (104, 14, 173 x 21)  masked; takes as many characters as a master key may have
//   ebUsername    (104, 42, 173 x 21)  at most 40 characters
//   ebPassword    (104, 76, 173 x 21)  masked, at most 40 characters
//   OKButton      "&OK"     (118, 106, 65 x 21)  the default button (Enter)
//   CancelButton  "Cancel"  (197, 106, 65 x 21)  Escape
// The caption is "Database Login - " and the database's file name without its folder.
#pragma once
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ostra {

// The most characters of the user name and password fields.
inline constexpr int C_LoginFieldMaxLength = 40;

class TOrqPasswordDialog : public QDialog {
public:
    // The form with its children; Mode bit 1 enables the master key, bit 2 the user name and
    // password. Disabled fields take the menu colour; the focus starts in the master key when it
    // is enabled, else in the password.
    TOrqPasswordDialog(const std::string& DatabaseName, int Mode, const std::string& MasterKey,
                       const std::string& UserName, const std::string& Password, QWidget* Parent = nullptr);

    QLineEdit* ebMasterKey;
    QLineEdit* ebUsername;
    QLineEdit* ebPassword;
    QLabel* lblMasterKey;
    QLabel* lblUsername;
    QLabel* lblPassword;
    QPushButton* OKButton;
    QPushButton* CancelButton;
};

// Shows the dialog modally; on OK the three values become the typed texts and the result is
// true; on Cancel they stay as they were.
bool ShowOrqLoginDialog(const std::string& DatabaseName, int Mode, std::string& MasterKey, std::string& UserName,
                        std::string& Password);
// Makes ShowOrqLoginDialog the login dialog of the user-interface services.
void InstallOrqLoginDialog();

}  // namespace ostra
