// The user-interface services (host/UIServices.h) on Qt Widgets: message boxes are QMessageBoxes
// run through the modal-run hook (ModalRun.h), and an exception that an operation reports is shown
// in an error box. Every GUI program installs them at start (Application.h); tests answer the
// boxes through the hook.
//
// A message box: the caption of its type ("Warning", "Error", "Information", "Confirm"; a custom
// box takes the application's name), the icon of its type, the text, and one button per button
// asked for, in the order of TMsgDlgBtn, with the captions "&Yes", "&No", "OK", "Cancel",
// "&Abort", "&Retry", "&Ignore", "&All", "N&o to All", "Yes to &All", "&Help". The first of them
// is the default. The result is the clicked button's; a box closed without a click gives the
// result of its escape button (Cancel, else No, else OK when there is one), else mrCancel.
#pragma once
#include <QString>

#include "host/UIServices.h"

class QAbstractButton;
class QMessageBox;

namespace ostra {

// The services on Qt Widgets.
class TQtUIServices : public TUIServices {
public:
    int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) override;
    void HandleException(TObject* Sender, const std::exception& E) override;
    // Handles the window events waiting in Qt's queue.
    void ProcessMessages() override;
};

// The caption of a message box of the type.
QString MessageDlgCaption(TMsgDlgType DlgType);
// The caption of a button ("&Yes" ...).
QString MessageDlgButtonCaption(TMsgDlgBtn Button);

}  // namespace ostra
