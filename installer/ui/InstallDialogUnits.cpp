// Start-up order of the install dialog units (see the header).
#include "installer/ui/InstallDialogUnits.h"

#include "installer/ui/dlgcmp_TBaseDlg.h"
#include "installer/ui/ordlg_StageForms.h"
#include "installer/ui/ordlg_WizardPages.h"

namespace ostra {

namespace {
bool gInitialized = false;
TBIFEntry* gChangeDiskEntry = nullptr;
TBIFEntry* gCopyEntry = nullptr;
}  // namespace

void InitializeInstallDialogUnits() {
    if (gInitialized) return;
    gInitialized = true;
    // 1. The form units.
    TBIFEntry* license = RegisterInstallForm(&TLicenseForm::Class, nullptr, 0);
    TBIFEntry* readme = RegisterInstallForm(&TReadmeForm::Class, nullptr, 0);
    TBIFEntry* good = RegisterInstallForm(&TGoodInstallForm::Class, nullptr, 0);
    TBIFEntry* bad = RegisterInstallForm(&TBadInstallForm::Class, nullptr, 0);
    TBIFEntry* reboot = RegisterInstallForm(&TRebootForm::Class, nullptr, 0);
    gChangeDiskEntry = RegisterChangeDiskForm(&TChangeDiskForm::Class, nullptr, 0);
    gCopyEntry = RegisterDuringCopyForm(&TCopyFileForm::Class, nullptr, 0);
    // 2. The component units withdraw them.
    UnregisterInstallForm(license);
    UnregisterInstallForm(readme);
    UnregisterInstallForm(good);
    UnregisterInstallForm(bad);
    UnregisterInstallForm(reboot);
    WithdrawChangeDiskForm(gChangeDiskEntry);
    WithdrawDuringCopyForm(gCopyEntry);
    // 3. The stage display.
    InstallQtDialogStageDisplay();
}

void FinalizeInstallDialogUnits() {
    if (!gInitialized) return;
    gInitialized = false;
    delete gChangeDiskEntry;
    delete gCopyEntry;
    gChangeDiskEntry = gCopyEntry = nullptr;
    while (InstallFormCount() > 0) UnregisterInstallForm(GetInstallFormEntry(InstallFormCount() - 1));
    while (!DuringCopyForms().empty()) UnregisterDuringCopyForm(DuringCopyForms().back());
    while (!ChangeDiskForms().empty()) UnregisterChangeDiskForm(ChangeDiskForms().back());
    RemoveQtDialogStageDisplay();
}

}  // namespace ostra
