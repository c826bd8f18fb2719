// The form, the data module and the application's process-wide state (see the header).
#include "host/Forms.h"

#include <unistd.h>

#include "host/ClassRegistry.h"
#include "host/UIServices.h"

namespace ostra {

namespace {

[[maybe_unused]] const bool kRegistered = (RegisterClass<TCustomForm>(), RegisterClass<TDataModule>(), true);

TCustomForm* gMainForm = nullptr;
std::vector<std::string> gParameters;
std::string gExeName;
std::function<void()> gTerminateProc;
bool gTerminateRequested = false;

std::string RunningProgram() {
    std::string path(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return path;
}

}  // namespace

void TCustomForm::Activate() {
    // A copy: the handler may replace itself. What it raises goes to the application's report,
    // as the framework's message loop does with the events it delivers.
    TNotifyEvent handler = OnActivate;
    if (!handler) return;
    try {
        handler(this);
    } catch (...) {
        ApplicationHandleException(this);
    }
}

TCustomForm* ApplicationMainForm() { return gMainForm; }
void SetApplicationMainForm(TCustomForm* form) { gMainForm = form; }

const std::vector<std::string>& ApplicationParameters() { return gParameters; }
void SetApplicationParameters(std::vector<std::string> parameters) { gParameters = std::move(parameters); }

std::string ApplicationExeName() { return gExeName.empty() ? RunningProgram() : gExeName; }
void SetApplicationExeName(const std::string& nativePath) { gExeName = nativePath; }

void ApplicationTerminate() {
    gTerminateRequested = true;
    if (gTerminateProc) gTerminateProc();
}
bool ApplicationTerminateRequested() { return gTerminateRequested; }
std::function<void()> SetApplicationTerminateProc(std::function<void()> proc) {
    std::swap(proc, gTerminateProc);
    gTerminateRequested = false;
    return proc;
}
void ClearApplicationTerminateRequest() { gTerminateRequested = false; }

}  // namespace ostra
