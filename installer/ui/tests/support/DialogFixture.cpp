// Shared helpers of the install dialog tests (see the header).
#include "installer/ui/tests/support/DialogFixture.h"

#include "host/ui/tests/support/OffscreenApp.h"
#include "installer/ui/InstallDialogUnits.h"

namespace ostra::test {

void Click(QWidget* form, const char* name) {
    if (auto* button = Child<QAbstractButton>(form, name)) button->click();
}

DialogFixture::DialogFixture()
    : FHook([this](QDialog& dialog) {
          size_t run = modalRuns++;
          EXPECT_LT(run, answers.size()) << "an unexpected dialog: " << dialog.objectName().toStdString();
          if (run >= answers.size()) return 0;
          dialog.setResult(0);
          answers[run](dialog);
          return dialog.result();
      }) {
    OffscreenApp();
    InitializeInstallDialogUnits();
    RegisterTestTreeClasses();
    root = CreateComponent<TDialogTestRoot>(&form);
    root->SetName("Install1");
}

DialogFixture::~DialogFixture() { EXPECT_EQ(modalRuns, answers.size()) << "dialogs expected but not shown"; }

}  // namespace ostra::test
