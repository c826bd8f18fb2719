// Dialog components and the registries of install forms.
//
// A dialog component (TCustomBaseInstallDlg, registered type 9000) stands for one standard form
// and carries its settings. With a DialogManager its form is a page of that manager's stage; without
// one the component shows the form by itself as a modal dialog when its own dialog code arrives.
//
// Page forms are found through process-wide registries filled at start-up by the form units, in
// the explicit order of InitializeInstallDialogUnits (InstallDialogUnits.h): a form unit registers
// its class without component; the unit of the form's component withdraws that entry, and each
// component registers the class again with itself while it lives. So a page with a component class
// is shown only through a component.
#pragma once
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "installer/library/cmp_TTranslatorLanguage.h"
#include "installer/library/dlgcmp_TDialogManager.h"
#include "installer/ui/cmp_TBaseFernmoorForm.h"

namespace ostra {

class TCustomBaseInstallDlg;

// A form class: its name and how to make one with an owner window (null: a top-level window).
struct TInstallFormClass {
    std::string ClassName;
    std::function<TBaseFernmoorForm*(QWidget* owner)> Create;
};

// An entry of a form registry: the class, the dialog component that it serves (or null), a tag.
struct TBIFEntry {
    const TInstallFormClass* FormClass = nullptr;
    TCustomBaseInstallDlg* Dialog = nullptr;
    int Tag = 0;
};

// The wizard-page registry, in registration order.
TBIFEntry* RegisterInstallForm(const TInstallFormClass* FormClass, TCustomBaseInstallDlg* Dialog, int Tag);
// Frees the entry and takes it out of the registry (an entry not in it is only freed).
void UnregisterInstallForm(TBIFEntry* Entry);
int InstallFormCount();
// Raises Exception "%d is an invalid index in the BIFList" for a bad index.
TBIFEntry* GetInstallFormEntry(int index);

// The copy-progress form registry and the change-disk form list.
TBIFEntry* RegisterDuringCopyForm(const TInstallFormClass* FormClass, TCustomBaseInstallDlg* Dialog, int Tag);
TBIFEntry* RegisterChangeDiskForm(const TInstallFormClass* FormClass, TCustomBaseInstallDlg* Dialog, int Tag);
const std::vector<TBIFEntry*>& DuringCopyForms();
const std::vector<TBIFEntry*>& ChangeDiskForms();
// Takes the entry out of its list without freeing it / and frees it.
void WithdrawDuringCopyForm(TBIFEntry* Entry);
void WithdrawChangeDiskForm(TBIFEntry* Entry);
void UnregisterDuringCopyForm(TBIFEntry* Entry);
void UnregisterChangeDiskForm(TBIFEntry* Entry);

using TDialogNotifyEvent = std::function<void(TCustomBaseInstallDlg* Sender)>;

class TCustomBaseInstallDlg : public TInstallObject {
public:
    // The preset DialogManager is FindDialogManager(stage), written without AddDialog; no stage:
    // none.
    TCustomBaseInstallDlg(TComponent* AOwner, const TManagerType* stage);
    ~TCustomBaseInstallDlg() override;

    bool AutoSetFont = true;
    bool AutoTranslate = true;
    bool OverrideMainTranslator = false;
    TFrnmLanguage TranslateIntoLanguage = flUser;
    // The language the current form's texts are in.
    TFrnmLanguage LastLanguage = flEnglish;
    TFernmoorDialogPosition Position = fdpCenter;
    int Width = 0, Height = 0, RelativeLeftOffset = 0, RelativeTopOffset = 0;
    TDialogNotifyEvent OnBeforeExecute, OnAfterExecute;

    TDialogManager* DialogManager() const { return FDialogManager; }
    // Moves the component from the old manager's dialog list to the new one's.
    virtual void SetDialogManager(TDialogManager* value);
    const QPixmap& ThemeBitmap() const { return FThemeBitmap; }
    virtual void SetThemeBitmap(const QPixmap& value) { FThemeBitmap = value; }

    // The form the component works on now; null when it has none (cleared when the form goes).
    TBaseFernmoorForm* Form() const { return FForm; }
    void SetForm(TBaseFernmoorForm* form) { FForm = form; }

    // The language's font and translated texts for the current form.
    virtual void Translate();
    // Prepares the current form; raises Exception "Cannot AssignDialogProperties for %s because the
    // Dialog is Nil" without one.
    virtual void AssignDialogProperties();
    // OnBeforeExecute, ShowDialog, pending events, OnAfterExecute; an EAbort inside ends it quietly
    // (false).
    virtual bool Execute();
    // Shows the form modally; true for OK, EAIUserAbort for anything else.
    virtual bool ShowDialog();
    virtual const TInstallFormClass* DialogClass() const = 0;
    virtual bool HasDialog() const { return true; }
    // The theme bitmap into the image (nothing for null or without a bitmap of our own).
    void LoadDialogTheme(QLabel* image) const;
    // Moves the current form to the component's Position, Width, Height and offsets.
    void PlaceDialogForm();

    void RemoveReferences(TComponent* AComponent) override;
    void LanguageChanged() override { Translate(); }

protected:
    TDialogManager* FDialogManager = nullptr;

private:
    QPixmap FThemeBitmap;
    QPointer<TBaseFernmoorForm> FForm;
};

// The common set published; the standard page dialogs descend from it.
class TBaseInstallDlg : public TCustomBaseInstallDlg {
public:
    using TCustomBaseInstallDlg::TCustomBaseInstallDlg;
};

// Puts the Qt stage display (wizards, change-disk prompt, copy forms) in force; idempotent.
void InstallQtDialogStageDisplay();
// Takes it out of force and closes the copy forms it still holds.
void RemoveQtDialogStageDisplay();

}  // namespace ostra
