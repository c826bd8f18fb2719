// What the tests of the install dialogs share: a form with an install root whose answer to a
// cancel and whose restart flag the test sets, the dialog units started, a modal hook that runs a
// test's answer for each dialog it is shown, and finding a form's controls by name.
#pragma once
#include <QAbstractButton>
#include <QDialog>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "host/UIServices.h"
#include "host/ui/ModalRun.h"
#include "installer/library/tests/support/InstallTree.h"
#include "installer/library/tests/support/TestMachine.h"

namespace ostra::test {

class TDialogTestRoot : public TTestInstall {
public:
    using TTestInstall::TTestInstall;
    bool ConfirmUserAbort() override {
        ++AbortQuestions;
        return ConfirmAbort;
    }
    bool Reboot() const override { return RebootFlag; }
    void SetReboot(bool value) override { RebootFlag = value; }

    bool ConfirmAbort = true;
    int AbortQuestions = 0;
    bool RebootFlag = false;
};

// Finds the child of `form` with the object name, failing the test when there is none.
template <class T = QWidget>
T* Child(QWidget* form, const char* name) {
    T* child = form->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Clicks the named button of the form.
void Click(QWidget* form, const char* name);

struct DialogFixture : ::testing::Test {
    DialogFixture();
    ~DialogFixture() override;

    // Each modal run calls the next answer with the dialog; it returns what the run returns
    // (the dialog's result unless the answer decides otherwise).
    std::vector<std::function<void(QDialog&)>> answers;
    size_t modalRuns = 0;

    TestMachine machine;
    TComponent form{nullptr};
    TDialogTestRoot* root;

private:
    TModalRunHookScope FHook;
};

}  // namespace ostra::test
