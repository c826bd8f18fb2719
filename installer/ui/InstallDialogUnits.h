// Start-up and shut-down of the install dialog units, in one explicit order (no reliance on the
// order in which static objects of different files are made):
//   1. each form unit registers its class without component (licence, readme, good install, bad
//      install, restart in the wizard-page registry; change disk and copy in their lists);
//   2. each component unit withdraws its form unit's entry again: the page entries are freed, the
//      change-disk and copy entries are only taken out of their lists (the form unit frees them at
//      shut-down); the good-install entry is withdrawn by the unit after it, so that page shows only
//      when a program registers it itself;
//   3. the Qt display of install stages is put in force.
// A program (and each test program) calls InitializeInstallDialogUnits once before it creates
// install components; further calls do nothing. Programs register their own pages after it.
#pragma once

namespace ostra {

void InitializeInstallDialogUnits();
// Frees every remaining registry entry (the program's end).
void FinalizeInstallDialogUnits();

}  // namespace ostra
