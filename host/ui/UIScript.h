// Scripted user-interface services for programs that tests start as child processes: a program
// whose environment names a script in OSTRA_UI_SCRIPT answers its message boxes from it, logs
// them to the file named by OSTRA_UI_LOG, and clicks the buttons the script names once its message
// loop runs, so no window ever waits for a person (Application.h installs them).
//
// Script lines (blank lines and lines beginning with "#" are skipped):
//   answer <result>   the next message box is answered with <result>: OK, Cancel, Abort, Retry,
//                     Ignore, Yes, No, All, NoToAll or YesToAll
//   click <name>      clicks the button with the object name <name> in a visible top-level window
// Message boxes take the answers in order; a box finding none left takes the headless default
// (host/UIServices.h). Clicks happen in order once the message loop runs, each after the one
// before has returned.
//
// Log lines, appended as they happen (line breaks inside a text are written "\n"):
//   message <result> <text>     a message box and its answer
//   exception <text>            an exception reported through the services
//   click <name>                a click done; "click <name>: not found" or ": disabled" when not
#pragma once
#include <string>
#include <vector>

#include "host/UIServices.h"

namespace ostra {

// The name of a modal result as the script and the log write it ("Yes" ...); "None" for mrNone.
std::string ModalResultName(int Result);

// The headless services, answered and logged by a script.
class TScriptedUIServices : public THeadlessUIServices {
public:
    // Reads the script; false with a message naming the line when a line is not understood or
    // the file cannot be read.
    bool LoadScript(const std::string& ScriptPath, std::string& Error);
    // Appends the log to this file (none when empty).
    void SetLogPath(const std::string& LogPath) { FLogPath = LogPath; }

    int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) override;
    void HandleException(TObject* Sender, const std::exception& E) override;

    // The buttons to click, in order.
    const std::vector<std::string>& Clicks() const { return FClicks; }
    // Clicks the button with the object name in a visible top-level window, and logs it.
    void Click(const std::string& Name);

private:
    void Log(const std::string& Line);

    std::vector<std::string> FClicks;
    std::string FLogPath;
};

}  // namespace ostra
