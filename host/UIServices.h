// The user-interface services the dataset framework, the engine and the programs need: a message box
// (MessageDlg) and the application's handler of exceptions that must not stop an operation.
// Everything goes through one replaceable TUIServices object, so that the engine never depends on
// a window system and tests script the answers. The default is THeadlessUIServices, which shows
// nothing and records every call; a program's application object (host/ui) installs the Qt one.
#pragma once
#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <utility>
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

// What a login dialog is asked for and gives back: Mode bit 1 asks for the master key, bit 2 for
// the user name and password; the three texts come in as the starting values and go out as typed.
struct TLoginRequest {
    std::string DatabaseName;
    int Mode = 0;
    std::string MasterKey;
    std::string UserName;
    std::string Password;
};
// A login dialog of a window system: true and the typed values in Request when the user chose OK.
using TLoginDialogProc = std::function<bool(TLoginRequest& Request)>;
// Installs the login dialog the services show (the layer that has one installs it); returns the
// previous one. An empty procedure: no dialog.
TLoginDialogProc SetLoginDialogProc(TLoginDialogProc Proc);

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
    // Shows the login dialog modally: the installed one (SetLoginDialogProc); without one, as
    // cancelled (false, Request unchanged).
    virtual bool LoginDialog(TLoginRequest& Request);
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
    // Answers from the login script (first in, first out); with an empty script, as cancelled.
    // Records every request as it came in.
    bool LoginDialog(TLoginRequest& Request) override;

    // Queues the result of the next MessageDlg.
    void ScriptAnswer(int Result) { FAnswers.push_back(Result); }
    // Queues the answer of the next login dialog: OK with the three values, or cancelled.
    void ScriptLogin(bool Ok, const std::string& MasterKey = "", const std::string& UserName = "",
                     const std::string& Password = "") {
        FLogins.push_back({Ok, {"", 0, MasterKey, UserName, Password}});
    }
    const std::vector<TLoginRequest>& LoginRequests() const { return FLoginRequests; }
    const std::vector<TMessageCall>& Messages() const { return FMessages; }
    const std::vector<TExceptionCall>& Exceptions() const { return FExceptions; }
    void ClearLog();

private:
    std::deque<int> FAnswers;
    std::deque<std::pair<bool, TLoginRequest>> FLogins;
    std::vector<TLoginRequest> FLoginRequests;
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
