// Message boxes and exception reports on Qt Widgets.
#include "host/ui/QtUIServices.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <map>

#include "host/AnsiCodec.h"
#include "host/Exceptions.h"
#include "host/ui/ModalRun.h"

namespace ostra {

namespace {

struct TButtonInfo {
    const char* Caption;
    QMessageBox::ButtonRole Role;
    int Result;
};

// Indexed by TMsgDlgBtn.
const TButtonInfo kButtons[] = {
    {"&Yes", QMessageBox::YesRole, mrYes},          {"&No", QMessageBox::NoRole, mrNo},
    {"OK", QMessageBox::AcceptRole, mrOk},          {"Cancel", QMessageBox::RejectRole, mrCancel},
    {"&Abort", QMessageBox::RejectRole, mrAbort},   {"&Retry", QMessageBox::AcceptRole, mrRetry},
    {"&Ignore", QMessageBox::AcceptRole, mrIgnore}, {"&All", QMessageBox::YesRole, mrAll},
    {"N&o to All", QMessageBox::NoRole, mrNoToAll}, {"Yes to &All", QMessageBox::YesRole, mrYesToAll},
    {"&Help", QMessageBox::HelpRole, mrNone},
};

QString FromAnsi(const std::string& text) { return QString::fromStdString(AnsiToUtf8(text)); }

QMessageBox::Icon IconOf(TMsgDlgType type) {
    switch (type) {
        case mtWarning: return QMessageBox::Warning;
        case mtError: return QMessageBox::Critical;
        case mtInformation: return QMessageBox::Information;
        case mtConfirmation: return QMessageBox::Question;
        case mtCustom: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QString MessageDlgCaption(TMsgDlgType DlgType) {
    switch (DlgType) {
        case mtWarning: return QStringLiteral("Warning");
        case mtError: return QStringLiteral("Error");
        case mtInformation: return QStringLiteral("Information");
        case mtConfirmation: return QStringLiteral("Confirm");
        case mtCustom: break;
    }
    return QCoreApplication::applicationName();
}

QString MessageDlgButtonCaption(TMsgDlgBtn Button) { return QString::fromLatin1(kButtons[Button].Caption); }

void TQtUIServices::ProcessMessages() { QCoreApplication::processEvents(); }

int TQtUIServices::MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int) {
    QMessageBox box(IconOf(DlgType), MessageDlgCaption(DlgType), FromAnsi(Msg));
    std::map<QAbstractButton*, int> results;
    QPushButton* escape = nullptr;
    int escapeRank = 0;  // Cancel 3, No 2, OK 1
    for (int b = mbYes; b <= mbHelp; ++b) {
        auto button = static_cast<TMsgDlgBtn>(b);
        if (!Buttons.Contains(button)) continue;
        QPushButton* added = box.addButton(MessageDlgButtonCaption(button), kButtons[b].Role);
        results[added] = kButtons[b].Result;
        if (results.size() == 1) box.setDefaultButton(added);
        int rank = button == mbCancel ? 3 : button == mbNo ? 2 : button == mbOK ? 1 : 0;
        if (rank > escapeRank) {
            escape = added;
            escapeRank = rank;
        }
    }
    if (escape) box.setEscapeButton(escape);
    RunModal(box);
    auto found = results.find(box.clickedButton());
    if (found != results.end()) return found->second;
    return escape ? results[escape] : mrCancel;
}

void TQtUIServices::HandleException(TObject*, const std::exception& E) {
    if (dynamic_cast<const EAbort*>(&E)) return;
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), FromAnsi(E.what()));
    box.addButton(MessageDlgButtonCaption(mbOK), QMessageBox::AcceptRole);
    RunModal(box);
}

}  // namespace ostra
