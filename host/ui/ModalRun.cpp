// The modal-run hook.
#include "host/ui/ModalRun.h"

#include <QDialog>
#include <utility>

namespace ostra {

namespace {

TModalRunHook& Hook() {
    static TModalRunHook hook;
    return hook;
}

}  // namespace

int RunModal(QDialog& Dialog) { return Hook() ? Hook()(Dialog) : Dialog.exec(); }

TModalRunHook SetModalRunHook(TModalRunHook NewHook) { return std::exchange(Hook(), std::move(NewHook)); }

}  // namespace ostra
