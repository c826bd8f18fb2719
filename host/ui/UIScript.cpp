// Scripted answers, clicks and their log.
#include "host/ui/UIScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QWidget>
#include <fstream>

#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

constexpr std::pair<int, const char*> kResultNames[] = {
    {mrNone, "None"},   {mrOk, "OK"},         {mrCancel, "Cancel"}, {mrAbort, "Abort"},
    {mrRetry, "Retry"}, {mrIgnore, "Ignore"}, {mrYes, "Yes"},       {mrNo, "No"},
    {mrAll, "All"},     {mrNoToAll, "NoToAll"}, {mrYesToAll, "YesToAll"},
};

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c != '\r') out += c;
    }
    return out;
}

}  // namespace

std::string ModalResultName(int Result) {
    for (const auto& [result, name] : kResultNames)
        if (result == Result) return name;
    return std::to_string(Result);
}

bool TScriptedUIServices::LoadScript(const std::string& ScriptPath, std::string& Error) {
    std::ifstream in(ScriptPath);
    if (!in) {
        Error = "the script " + ScriptPath + " cannot be read";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        size_t blank = line.find(' ');
        std::string verb = line.substr(0, blank), argument = blank == std::string::npos ? "" : Trim(line.substr(blank));
        bool understood = false;
        if (verb == "answer") {
            for (const auto& [result, name] : kResultNames)
                if (result != mrNone && argument == name) {
                    ScriptAnswer(result);
                    understood = true;
                }
        } else if (verb == "click" && !argument.empty()) {
            FClicks.push_back(argument);
            understood = true;
        }
        if (!understood) {
            Error = ScriptPath + ":" + std::to_string(number) + ": not understood: " + line;
            return false;
        }
    }
    return true;
}

int TScriptedUIServices::MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) {
    int result = THeadlessUIServices::MessageDlg(Msg, DlgType, Buttons, HelpCtx);
    Log("message " + ModalResultName(result) + " " + Escaped(Msg));
    return result;
}

void TScriptedUIServices::HandleException(TObject* Sender, const std::exception& E) {
    if (dynamic_cast<const EAbort*>(&E)) return;
    THeadlessUIServices::HandleException(Sender, E);
    Log("exception " + Escaped(E.what()));
}

void TScriptedUIServices::Click(const std::string& Name) {
    QAbstractButton* button = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible()) continue;
        button = window->findChild<QAbstractButton*>(QString::fromStdString(Name));
        if (button) break;
    }
    if (!button) return Log("click " + Name + ": not found");
    if (!button->isEnabled()) return Log("click " + Name + ": disabled");
    Log("click " + Name);
    button->click();
}

void TScriptedUIServices::Log(const std::string& Line) {
    if (FLogPath.empty()) return;
    std::ofstream(FLogPath, std::ios::app) << Line << "\n";
}

}  // namespace ostra
