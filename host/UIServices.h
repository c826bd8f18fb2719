// The user-interface services the dataset framework, the engine and the programs need: a message box
// (MessageDlg) and the application's handler of exceptions that must not stop an operation.
// Everything goes through one replaceable TUIServices object, so that the engine never depends on
// a window system and tests script the answers. The default is THeadlessUIServices, which shows
// nothing and records every call; a program's application object (host/ui) installs the Qt one.
#pragma once
#include <deque>
#include <exception>
#include <string>
#include <vector>

#include "host/Set.h"

namespace ostra {

class TObject;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };
using TMsgDlgButtons = TSet<TMsgDlgBtn>;

// The results of a modal dialog.
enum TModalResult : int {
    mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7,
    mrAll = 8, mrNoToAll = 9, mrYesToAll = 10
};

// The services; one instance is in force (UIServices()).
class TUIServices {
public:
    virtual ~TUIServices() = default;
    // Shows Msg with the buttons and returns the result of the button chosen.
    virtual int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) = 0;
    // Reports an exception that an operation caught and will not pass on (EAbort is silent).
    virtual void HandleException(TObject* Sender, const std::exception& E) = 0;
    // Handles the window events waiting in the queue and returns (long operations call it between
    // their steps, so that windows repaint and a Cancel button can set an abort flag); headless
    // services have no queue.
    virtual void ProcessMessages() {}
};

// Shows nothing: answers MessageDlg from a script (first in, first out) or, with an empty
// script, with the result of the first button offered of OK, Yes, Cancel, No, Abort, Retry,
// Ignore; records every call.
class THeadlessUIServices : public TUIServices {
public:
    struct TMessageCall {
        std::string Msg;
        TMsgDlgType DlgType;
        TMsgDlgButtons Buttons;
        int Result;
    };
    struct TExceptionCall {
        TObject* Sender;
        std::string Message;
    };

    int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) override;
    void HandleException(TObject* Sender, const std::exception& E) override;

    // Queues the result of the next MessageDlg.
    void ScriptAnswer(int Result) { FAnswers.push_back(Result); }
    const std::vector<TMessageCall>& Messages() const { return FMessages; }
    const std::vector<TExceptionCall>& Exceptions() const { return FExceptions; }
    void ClearLog();

private:
    std::deque<int> FAnswers;
    std::vector<TMessageCall> FMessages;
    std::vector<TExceptionCall> FExceptions;
};

// The services in force; a THeadlessUIServices until SetUIServices installs others.
TUIServices& UIServices();
// Installs Services (not owned; must outlive its use); null restores the headless default.
void SetUIServices(TUIServices* Services);

// The framework's message box: UIServices().MessageDlg.
int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx = 0);
// Lets the services handle the waiting window events: UIServices().ProcessMessages.
void ApplicationProcessMessages();
// Hands the exception being handled (call inside a catch block) to UIServices().HandleException;
// EAbort is dropped silently.
void ApplicationHandleException(TObject* Sender);

// Installs Services for the scope and restores the previous ones at its end.
class TUIServicesScope {
public:
    explicit TUIServicesScope(TUIServices& Services);
    ~TUIServicesScope();
    TUIServicesScope(const TUIServicesScope&) = delete;
    TUIServicesScope& operator=(const TUIServicesScope&) = delete;

private:
    TUIServices* FSaved;
};

}  // namespace ostra
