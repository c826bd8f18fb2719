// Every modal dialog of the programs runs through one replaceable hook, so that a test can look at
// a dialog and answer it without a modal loop that would wait for a person.
#pragma once
#include <functional>

class QDialog;

namespace ostra {

// Runs a dialog modally and returns what QDialog::exec would return.
using TModalRunHook = std::function<int(QDialog& Dialog)>;

// Runs Dialog modally: through the hook when one is installed, else with Dialog.exec().
int RunModal(QDialog& Dialog);
// Installs Hook (an empty one restores exec); returns the previous hook.
TModalRunHook SetModalRunHook(TModalRunHook Hook);

// Installs a hook for the scope and restores the previous one at its end.
class TModalRunHookScope {
public:
    explicit TModalRunHookScope(TModalRunHook Hook) : FPrevious(SetModalRunHook(std::move(Hook))) {}
    ~TModalRunHookScope() { SetModalRunHook(std::move(FPrevious)); }
    TModalRunHookScope(const TModalRunHookScope&) = delete;
    TModalRunHookScope& operator=(const TModalRunHookScope&) = delete;

private:
    TModalRunHook FPrevious;
};

}  // namespace ostra
