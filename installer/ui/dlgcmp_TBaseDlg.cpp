// Dialog components, the form registries and the Qt display of install stages (see the header).
#include "installer/ui/dlgcmp_TBaseDlg.h"

#include <QApplication>
#include <QLabel>
#include <algorithm>
#include <map>
#include <memory>

#include "host/UIServices.h"
#include "host/ui/ModalRun.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/ui/dlgcmp_TBaseContainer.h"

namespace ostra {

namespace {
std::vector<TBIFEntry*>& PageRegistry() {
    static std::vector<TBIFEntry*> list;
    return list;
}
std::vector<TBIFEntry*>& CopyRegistry() {
    static std::vector<TBIFEntry*> list;
    return list;
}
std::vector<TBIFEntry*>& DiskRegistry() {
    static std::vector<TBIFEntry*> list;
    return list;
}
TBIFEntry* Append(std::vector<TBIFEntry*>& list, const TInstallFormClass* FormClass, TCustomBaseInstallDlg* Dialog,
                  int Tag) {
    list.push_back(new TBIFEntry{FormClass, Dialog, Tag});
    return list.back();
}
void Withdraw(std::vector<TBIFEntry*>& list, TBIFEntry* Entry) { std::erase(list, Entry); }
}  // namespace

TBIFEntry* RegisterInstallForm(const TInstallFormClass* FormClass, TCustomBaseInstallDlg* Dialog, int Tag) {
    return Append(PageRegistry(), FormClass, Dialog, Tag);
}
void UnregisterInstallForm(TBIFEntry* Entry) {
    Withdraw(PageRegistry(), Entry);
    delete Entry;
}
int InstallFormCount() { return static_cast<int>(PageRegistry().size()); }
TBIFEntry* GetInstallFormEntry(int index) {
    if (index < 0 || index >= InstallFormCount())
        throw Exception(Format(TranslateMessageText("%d is an invalid index in the BIFList"), {index}));
    return PageRegistry()[index];
}

TBIFEntry* RegisterDuringCopyForm(const TInstallFormClass* FormClass, TCustomBaseInstallDlg* Dialog, int Tag) {
    return Append(CopyRegistry(), FormClass, Dialog, Tag);
}
TBIFEntry* RegisterChangeDiskForm(const TInstallFormClass* FormClass, TCustomBaseInstallDlg* Dialog, int Tag) {
    return Append(DiskRegistry(), FormClass, Dialog, Tag);
}
const std::vector<TBIFEntry*>& DuringCopyForms() { return CopyRegistry(); }
const std::vector<TBIFEntry*>& ChangeDiskForms() { return DiskRegistry(); }
void WithdrawDuringCopyForm(TBIFEntry* Entry) { Withdraw(CopyRegistry(), Entry); }
void WithdrawChangeDiskForm(TBIFEntry* Entry) { Withdraw(DiskRegistry(), Entry); }
void UnregisterDuringCopyForm(TBIFEntry* Entry) {
    Withdraw(CopyRegistry(), Entry);
    delete Entry;
}
void UnregisterChangeDiskForm(TBIFEntry* Entry) {
    Withdraw(DiskRegistry(), Entry);
    delete Entry;
}

// --- TCustomBaseInstallDlg

TCustomBaseInstallDlg::TCustomBaseInstallDlg(TComponent* AOwner, const TManagerType* stage)
    : TInstallObject(AOwner, rtDialog) {
    SetInstallTypes({itFull, itDefault, itCompact, itCustom});
    if (stage) FDialogManager = FindDialogManager(*stage);
}

TCustomBaseInstallDlg::~TCustomBaseInstallDlg() {
    if (FDialogManager) FDialogManager->RemoveDialog(this);
    if (IDialogStageDisplay* display = DialogStageDisplay()) display->Forget(this);
}

void TCustomBaseInstallDlg::SetDialogManager(TDialogManager* value) {
    if (value == FDialogManager) return;
    if (value) value->AddDialog(this);
    if (FDialogManager) FDialogManager->RemoveDialog(this);
    FDialogManager = value;
}

void TCustomBaseInstallDlg::RemoveReferences(TComponent* AComponent) {
    TInstallObject::RemoveReferences(AComponent);
    if (AComponent == FDialogManager) FDialogManager = nullptr;
}

void TCustomBaseInstallDlg::Translate() {
    if (!FForm || !CurrentTranslator()) return;
    LastLanguage = TranslateInstallWidget(FForm, AutoSetFont, AutoTranslate, OverrideMainTranslator,
                                          TranslateIntoLanguage, LastLanguage);
    FForm->LastLanguage = LastLanguage;
}

void TCustomBaseInstallDlg::AssignDialogProperties() {
    if (!FForm)
        throw Exception(
            Format(TranslateMessageText("Cannot AssignDialogProperties for %s because the Dialog is Nil"), {Name()}));
    FForm->AutoSetFont = AutoSetFont;
    FForm->AutoTranslate = AutoTranslate;
    FForm->Container = Container();
    FForm->OverrideMainTranslator = OverrideMainTranslator;
    FForm->TranslateIntoLanguage = TranslateIntoLanguage;
    if (auto* page = dynamic_cast<TBaseInstallForm*>(FForm.data())) page->DC = this;
    Translate();
}

bool TCustomBaseInstallDlg::Execute() {
    bool result = false;
    try {
        if (OnBeforeExecute) OnBeforeExecute(this);
        result = ShowDialog();
        ApplicationProcessMessages();
        if (OnAfterExecute) OnAfterExecute(this);
    } catch (const EAbort&) {
    }
    return result;
}

bool TCustomBaseInstallDlg::ShowDialog() {
    if (!HasDialog()) return true;
    std::unique_ptr<TBaseFernmoorForm> form(DialogClass()->Create(nullptr));
    FForm = form.get();
    AssignDialogProperties();
    int result = RunModal(*form);
    form.reset();
    if (result != mrOk) throw EAIUserAbort();
    return true;
}

void TCustomBaseInstallDlg::LoadDialogTheme(QLabel* image) const {
    if (image && !FThemeBitmap.isNull()) image->setPixmap(FThemeBitmap);
}

void TCustomBaseInstallDlg::PlaceDialogForm() {
    if (FForm) MoveOnScreen(FForm, Position, Width, Height, RelativeLeftOffset, RelativeTopOffset, TCentreRounding::HalfEven);
}

// --- the Qt display of install stages

namespace {

class TQtDialogStageDisplay : public IDialogStageDisplay {
public:
    void ShowPages(TDialogManager* Manager) override {
        auto container = std::make_unique<TBaseFormContainer>();
        container->resize(Manager->Width, Manager->Height);
        container->PlaceOnScreen(Manager->Position, Manager->RelativeLeftOffset, Manager->RelativeTopOffset);
        if (container->PreparePages() == 0) return;
        container->StartPages();
        int result = RunModal(*container);
        if (result == mrAbort) throw EAIUserAbort();
        if (QWidget* main = QApplication::activeWindow()) main->repaint();
        ApplicationProcessMessages();
    }

    void ShowChangeDisk(TDialogManager* Manager, TObject* Parameter) override {
        if (ChangeDiskForms().empty()) return;
        std::unique_ptr<TBaseFernmoorForm> created(ChangeDiskForms().front()->FormClass->Create(nullptr));
        auto* form = dynamic_cast<TBaseChangeDiskForm*>(created.get());
        if (!form || form->DM != Manager) return;
        form->DiskParameter = CheckChangeDiskParameter(Parameter);
        form->BeforeShow();
        form->ApplyTranslation();
        if (RunModal(*form) == mrAbort) throw EAIUserAbort();
    }

    void UpdateCopyForms(TDialogManager* Manager, TFileStatusParameter* File,
                         TDownloadStatusParameter* Download) override {
        auto& forms = FCopyForms[Manager];
        if (forms.empty()) OpenCopyForms(Manager, forms);
        for (auto& form : forms) form->UpdateStatus(File, Download);
    }

    void CloseCopyForms(TDialogManager* Manager) override { FCopyForms.erase(Manager); }

    void Forget(TInstallContainer* Component) override {
        if (auto* manager = dynamic_cast<TDialogManager*>(Component)) FCopyForms.erase(manager);
    }

private:
    void OpenCopyForms(TDialogManager* Manager, std::vector<std::unique_ptr<TBaseDuringCopyForm>>& forms) {
        for (TBIFEntry* entry : DuringCopyForms()) {
            std::unique_ptr<TBaseFernmoorForm> created(entry->FormClass->Create(nullptr));
            auto* form = dynamic_cast<TBaseDuringCopyForm*>(created.get());
            if (!form || form->DM != Manager) continue;
            created.release();
            forms.emplace_back(form);
            if (entry->Dialog) {
                entry->Dialog->SetForm(form);
                entry->Dialog->PlaceDialogForm();
            }
            form->BeforeShow();
            form->ApplyTranslation();
            form->show();
            form->raise();
        }
    }

    // The open copy forms of each manager; closing the stage frees them.
    std::map<TDialogManager*, std::vector<std::unique_ptr<TBaseDuringCopyForm>>> FCopyForms;
};

}  // namespace

namespace {
// Made on first use and freed by RemoveQtDialogStageDisplay, so that open copy forms go while the
// application object still exists.
TQtDialogStageDisplay* gQtDisplay = nullptr;
}  // namespace

void InstallQtDialogStageDisplay() {
    if (!gQtDisplay) gQtDisplay = new TQtDialogStageDisplay;
    SetDialogStageDisplay(gQtDisplay);
}

void RemoveQtDialogStageDisplay() {
    if (DialogStageDisplay() == gQtDisplay) SetDialogStageDisplay(nullptr);
    delete gQtDisplay;
    gQtDisplay = nullptr;
}

}  // namespace ostra
