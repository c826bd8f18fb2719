// The replaceable user-interface services and their headless default.
#include "host/UIServices.h"

#include <utility>

#include "host/Exceptions.h"

namespace ostra {

namespace {

THeadlessUIServices& DefaultServices() {
    static THeadlessUIServices services;
    return services;
}

TUIServices* gServices = nullptr;

TLoginDialogProc& LoginDialogProc() {
    static TLoginDialogProc proc;
    return proc;
}

// The button results in the order a headless dialog prefers them.
constexpr std::pair<TMsgDlgBtn, int> kDefaultAnswers[] = {{mbOK, mrOk},         {mbYes, mrYes},     {mbCancel, mrCancel},
                                                          {mbNo, mrNo},         {mbAbort, mrAbort}, {mbRetry, mrRetry},
                                                          {mbIgnore, mrIgnore}, {mbAll, mrAll},     {mbYesToAll, mrYesToAll},
                                                          {mbNoToAll, mrNoToAll}};

}  // namespace

int THeadlessUIServices::MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int) {
    int result = mrNone;
    if (!FAnswers.empty()) {
        result = FAnswers.front();
        FAnswers.pop_front();
    } else {
        for (const auto& [button, answer] : kDefaultAnswers)
            if (Buttons.Contains(button)) {
                result = answer;
                break;
            }
    }
    FMessages.push_back({Msg, DlgType, Buttons, result});
    return result;
}

void THeadlessUIServices::HandleException(TObject* Sender, const std::exception& E) {
    if (dynamic_cast<const EAbort*>(&E)) return;
    FExceptions.push_back({Sender, E.what()});
}

TLoginDialogProc SetLoginDialogProc(TLoginDialogProc Proc) { return std::exchange(LoginDialogProc(), std::move(Proc)); }

bool TUIServices::LoginDialog(TLoginRequest& Request) { return LoginDialogProc() ? LoginDialogProc()(Request) : false; }

bool THeadlessUIServices::LoginDialog(TLoginRequest& Request) {
    FLoginRequests.push_back(Request);
    if (FLogins.empty()) return false;
    const auto [ok, answer] = FLogins.front();
    FLogins.pop_front();
    if (!ok) return false;
    Request.MasterKey = answer.MasterKey;
    Request.UserName = answer.UserName;
    Request.Password = answer.Password;
    return true;
}

void THeadlessUIServices::ClearLog() {
    FLogins.clear();
    FLoginRequests.clear();
    FAnswers.clear();
    FMessages.clear();
    FExceptions.clear();
}

TUIServices& UIServices() { return gServices ? *gServices : DefaultServices(); }

void SetUIServices(TUIServices* Services) { gServices = Services; }

int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) {
    return UIServices().MessageDlg(Msg, DlgType, Buttons, HelpCtx);
}

void ApplicationProcessMessages() { UIServices().ProcessMessages(); }

void ApplicationHandleException(TObject* Sender) {
    std::exception_ptr current = std::current_exception();
    if (!current) return;
    try {
        std::rethrow_exception(current);
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
        UIServices().HandleException(Sender, e);
    } catch (...) {
        UIServices().HandleException(Sender, Exception("Unknown exception"));
    }
}

TUIServicesScope::TUIServicesScope(TUIServices& Services) : FSaved(gServices) { gServices = &Services; }

TUIServicesScope::~TUIServicesScope() { gServices = FSaved; }

}  // namespace ostra
