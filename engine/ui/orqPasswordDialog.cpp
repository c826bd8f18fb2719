// orqPasswordDialog: the login dialog's form and its modal run (see the header).
#include "engine/ui/orqPasswordDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

#include "engine/storage/orqConsts.h"
#include "host/AnsiCodec.h"
#include "host/Graphics.h"
#include "host/UIServices.h"
#include "host/ui/ModalRun.h"

namespace ostra {

namespace {

// The most characters of a master key (the database component's limit).
constexpr int CMasterKeyMaxLength = 100;

QString ToQt(const std::string& Text) { return QString::fromStdString(AnsiToUtf8(Text)); }
std::string FromQt(const QString& Text) { return Utf8ToAnsi(Text.toStdString()); }

std::string FileNamePart(const std::string& Path) {
    const size_t slash = Path.find_last_of("/\\");
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

QLineEdit* MakeEdit(QWidget* Parent, const char* Name, int Top, int MaxLength, bool Masked, const std::string& Text) {
    auto* edit = new QLineEdit(Parent);
    edit->setObjectName(Name);
    edit->setGeometry(104, Top, 173, 21);
    edit->setMaxLength(MaxLength);
    if (Masked) edit->setEchoMode(QLineEdit::Password);
    edit->setText(ToQt(Text));
    return edit;
}

QLabel* MakeLabel(QWidget* Parent, const char* Name, int Top, const char* Caption) {
    auto* label = new QLabel(QString::fromUtf8(Caption), Parent);
    label->setObjectName(Name);
    label->move(7, Top);
    return label;
}

// A disabled edit shows the menu colour as its background.
void Enable(QLineEdit* Edit, bool Enabled) {
    Edit->setEnabled(Enabled);
    if (Enabled) return;
    const TColor menu = ColorToRGB(clMenu);
    QPalette palette = Edit->palette();
    palette.setColor(QPalette::Disabled, QPalette::Base, QColor(menu & 0xFF, (menu >> 8) & 0xFF, (menu >> 16) & 0xFF));
    Edit->setPalette(palette);
}

}  // namespace

TOrqPasswordDialog::TOrqPasswordDialog(const std::string& DatabaseName, int Mode, const std::string& MasterKey,
                                       const std::string& UserName, const std::string& Password, QWidget* Parent)
    : QDialog(Parent) {
    setObjectName("OrqPasswordDialog");
    setFixedSize(336, 174);
    setWindowTitle(ToQt(std::string(SorqLoginPrompt) + " - " + FileNamePart(DatabaseName)));
    lblMasterKey = MakeLabel(this, "lblMasterKey", 17, SorqMasterKeyLabel);
    lblUsername = MakeLabel(this, "lblUsername", 45, SorqUsernameLabel);
    lblPassword = MakeLabel(this, "lblPassword", 80, SorqPasswordLabel);
    ebMasterKey = MakeEdit(this, "ebMasterKey", 14, CMasterKeyMaxLength, true, MasterKey);
    ebUsername = MakeEdit(this, "ebUsername", 42, C_LoginFieldMaxLength, false, UserName);
    ebPassword = MakeEdit(this, "ebPassword", 76, C_LoginFieldMaxLength, true, Password);
    OKButton = new QPushButton(QStringLiteral("&OK"), this);
    OKButton->setObjectName("OKButton");
    OKButton->setGeometry(118, 106, 65, 21);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName("CancelButton");
    CancelButton->setGeometry(197, 106, 65, 21);
    CancelButton->setAutoDefault(false);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(OKButton, CancelButton);
    setTabOrder(CancelButton, ebMasterKey);
    setTabOrder(ebMasterKey, ebUsername);
    setTabOrder(ebUsername, ebPassword);
    Enable(ebMasterKey, (Mode & 1) != 0);
    Enable(ebUsername, (Mode & 2) != 0);
    Enable(ebPassword, (Mode & 2) != 0);
    ((Mode & 1) != 0 ? ebMasterKey : ebPassword)->setFocus();
}

bool ShowOrqLoginDialog(const std::string& DatabaseName, int Mode, std::string& MasterKey, std::string& UserName,
                        std::string& Password) {
    TOrqPasswordDialog dialog(DatabaseName, Mode, MasterKey, UserName, Password);
    if (RunModal(dialog) != QDialog::Accepted) return false;
    UserName = FromQt(dialog.ebUsername->text());
    Password = FromQt(dialog.ebPassword->text());
    MasterKey = FromQt(dialog.ebMasterKey->text());
    return true;
}

void InstallOrqLoginDialog() {
    SetLoginDialogProc([](TLoginRequest& Request) {
        return ShowOrqLoginDialog(Request.DatabaseName, Request.Mode, Request.MasterKey, Request.UserName,
                                  Request.Password);
    });
}

}  // namespace ostra
