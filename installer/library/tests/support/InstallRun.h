// An install run for the tests of the install component: a machine of the test's own, a setup
// program file on its drive C: standing in for the running program, the program's parameters, a
// form that owns the install component, headless user-interface services that record every box,
// and a count of the requests to end the program. Everything it changed in the process comes back
// when it ends.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "host/Forms.h"
#include "host/UIServices.h"
#include "installer/library/cmp_TInstall.h"
#include "installer/library/tests/support/InstallTree.h"
#include "installer/library/tests/support/TestMachine.h"

namespace ostra::test {

// A test object that logs its completion step after a restart ("<Name> finished").
class TFinishingObject : public TTestObject {
public:
    using TTestObject::TTestObject;
    void FinishAfterReboot() override;
    bool Fail = false;  // raise instead of finishing
};

struct InstallRunFixture {
    // The setup program "C:\Dev\setup.exe" (16 bytes), no parameters.
    InstallRunFixture();
    ~InstallRunFixture();
    InstallRunFixture(const InstallRunFixture&) = delete;
    InstallRunFixture& operator=(const InstallRunFixture&) = delete;

    // Makes `winPath` with `content` the running setup program.
    void SetProgram(const std::string& winPath, const std::string& content);
    void SetParameters(std::vector<std::string> parameters) { SetApplicationParameters(std::move(parameters)); }
    // A new install component on a new form, loaded as the form reader would load it (Loaded runs
    // the mode the parameters choose). `build` adds components to the form before the loading.
    TInstall* Load(const std::function<void(TCustomForm&, TInstall&)>& build = {});
    // Frees the form (and its install component).
    void Unload();
    // A test dialog (type 9000) of the install that logs the dialog codes it hears.
    TTestDialog* AddDialog(const std::string& name);
    // The dialog codes that the named test component heard, in order.
    std::vector<int> Codes(const std::string& name) const;

    TestMachine machine;
    THeadlessUIServices services;
    std::unique_ptr<TCustomForm> form;
    TInstall* install = nullptr;
    int terminateRequests = 0;

private:
    TUIServicesScope FScope{services};
    std::function<void()> FOldTerminate;
};

// Makes "C:\Fernmoor" the installer library's folder (its marker and the development environment's
// search path) and puts the loading program there: a copy of the native program at loaderPath.
void InstallLibraryFolder(const std::string& loaderPath);

}  // namespace ostra::test
