// The host framework's form and data module as code below the window system sees them, and the
// application's process-wide state that such code reads: the main form, the program's parameters,
// the program's own file, and the request to end the program.
//
// A TCustomForm here holds what non-visual components ask of their form (its activation event,
// its place and size, its window state); the window side of a program binds a window to it and
// calls Activate when the window becomes active. The install component of a setup program is one
// such user: it hooks the form's first activation to start its run.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "host/Component.h"
#include "host/StringList.h"

namespace ostra {

enum TWindowState { wsNormal, wsMinimized, wsMaximized };

// A form: the owner of a program's components on one window.
class TCustomForm : public TComponent {
public:
    explicit TCustomForm(TComponent* AOwner) : TComponent(AOwner) {}

    int Left = 0, Top = 0, Width = 640, Height = 480;
    TWindowState WindowState = wsNormal;
    // The number of repaints asked for (the window side repaints on its own schedule).
    int RepaintRequests = 0;

    // The window became active: runs OnActivate; what it raises goes to the application's
    // exception report (ApplicationHandleException).
    void Activate();
    void Repaint() { ++RepaintRequests; }
    // True once the form has begun to be destroyed.
    bool Destroying() const { return ComponentState().Contains(csDestroying); }

    TNotifyEvent OnActivate;
};

// A data module: a form without a window, owner of non-visual components.
class TDataModule : public TComponent {
public:
    explicit TDataModule(TComponent* AOwner) : TComponent(AOwner) {}
};

// The application's main form; null while there is none.
TCustomForm* ApplicationMainForm();
void SetApplicationMainForm(TCustomForm* form);

// The program's parameters (its arguments after the program name) in Windows-1252. The
// application object of a program sets them at its start; tests set their own.
const std::vector<std::string>& ApplicationParameters();
void SetApplicationParameters(std::vector<std::string> parameters);

// The native path of the program's own file: the running program, unless another was set (a
// library working for another program's file, or a test standing in for a program).
std::string ApplicationExeName();
// Sets the program's file; an empty path gives back the running program.
void SetApplicationExeName(const std::string& nativePath);

// Asks the program to end when its message loop next runs (termination only posts the request):
// runs the procedure the application object installed, and remembers the request.
void ApplicationTerminate();
bool ApplicationTerminateRequested();
// Installs the procedure that ends the program's loop; returns the previous one. Clearing the
// request goes with it, so a test starts from a program that was not asked to end.
std::function<void()> SetApplicationTerminateProc(std::function<void()> proc);
void ClearApplicationTerminateRequest();

}  // namespace ostra
