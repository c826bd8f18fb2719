// The application object of the programs with windows: it starts Qt, puts the user-interface
// services in force for the program's life (the Qt message boxes, or, when the environment names
// a script in OSTRA_UI_SCRIPT, the scripted ones of UIScript.h), tells a starting program that the
// program is ready for input when its message loop first waits (platform/Process.h), and runs the
// loop until the program ends.
//
// Handlers that Qt calls must not let an exception through: CallHandled is their guard, which
// hands anything raised to the services' exception report, as the host framework's message loop
// does.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QApplication;

namespace ostra {

class TScriptedUIServices;
class TUIServices;

// The program's application object; one at a time.
class TApplication {
public:
    // Starts Qt with the program's arguments and installs the services. A script that cannot be
    // read ends the program with exit code 2 and a line on standard error.
    TApplication(int& argc, char** argv);
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // The program's parameters (its arguments after the program name) in Windows-1252.
    const std::vector<std::string>& Parameters() const { return FParameters; }
    // Runs the message loop until Terminate or until the last window closes; the exit code.
    int Run();
    // Ends the message loop: Run returns, and the script clicks nothing more.
    void Terminate();

private:
    // Performs the script's next click and schedules the one after it.
    void ClickNext(size_t Index);

    std::unique_ptr<QApplication> FQt;
    std::unique_ptr<TUIServices> FServices;
    TScriptedUIServices* FScript = nullptr;
    bool FTerminated = false;
    std::vector<std::string> FParameters;
};

// Ends the program's message loop: the application object's Terminate, or, without one (a window
// shown by a test), nothing but Qt's quit.
void TerminateApplication();

// Calls Handler; what it raises goes to the exception report of the services (ApplicationHandleException).
void CallHandled(const std::function<void()>& Handler);

}  // namespace ostra
