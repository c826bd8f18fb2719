// The standard dialog components (see the header).
#include "installer/ui/dlgcmp_StandardDlgs.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

#include "host/ClassRegistry.h"
#include "host/PropertyRegistry.h"
#include "host/UIServices.h"
#include "installer/ui/QtEdge.h"
#include "installer/ui/ordlg_StageForms.h"
#include "installer/ui/ordlg_WizardPages.h"

namespace ostra {

namespace {

// The settings that every dialog component publishes (the page dialogs also publish Order; the
// status dialog has no DialogManager).
template <class T>
TPublisher<T>& PublishCommon(TPublisher<T>&& publisher, bool withManager = true) {
    publisher.Boolean("AutoSetFont", &T::AutoSetFont, [](T& d, bool v) { d.AutoSetFont = v; })
        .Default(true)
        .Boolean("AutoTranslate", &T::AutoTranslate, [](T& d, bool v) { d.AutoTranslate = v; })
        .Default(true);
    if (withManager) publisher.Component("DialogManager", &T::DialogManager, &T::SetDialogManager);
    return publisher.Boolean("OverrideMainTranslator", &T::OverrideMainTranslator,
                 [](T& d, bool v) { d.OverrideMainTranslator = v; })
        .Default(false)
        .Enum("TranslateIntoLanguage", &T::TranslateIntoLanguage,
              [](T& d, TFrnmLanguage v) { d.TranslateIntoLanguage = v; }, FrnmLanguageIdents)
        .Default(flUser);
}

template <class T>
TPublisher<T>& PublishPlacement(TPublisher<T>& publisher) {
    return publisher.Integer("Height", &T::Height, [](T& d, int v) { d.Height = v; })
        .Default(146)
        .Enum("Position", &T::Position, [](T& d, TFernmoorDialogPosition v) { d.Position = v; },
              DialogPositionNames)
        .Default(fdpBottomCenter)
        .Integer("RelativeLeftOffset", &T::RelativeLeftOffset, [](T& d, int v) { d.RelativeLeftOffset = v; })
        .Default(0)
        .Integer("RelativeTopOffset", &T::RelativeTopOffset, [](T& d, int v) { d.RelativeTopOffset = v; })
        .Default(30)
        .Integer("Width", &T::Width, [](T& d, int v) { d.Width = v; })
        .Default(474);
}

[[maybe_unused]] const bool kPublished =
    PublishCommon(Publish<TBaseInstallDlg, TInstallObject>())
        .Integer("Order", &TInstallContainer::Order, &TInstallContainer::SetOrder) &&
    Publish<TLicenseDlg, TBaseInstallDlg>().Object("LicenseAgreement",
                                                   [](const TLicenseDlg& d) {
                                                       return &const_cast<TLicenseDlg&>(d).LicenseAgreement();
                                                   }) &&
    Publish<TReadmeDlg, TBaseInstallDlg>().Object(
        "ReadmeText", [](const TReadmeDlg& d) { return &const_cast<TReadmeDlg&>(d).ReadmeText(); }) &&
    Publish<TBadInstallationDlg, TBaseInstallDlg>() && Publish<TRebootDlg, TBaseInstallDlg>() &&
    PublishCommon(Publish<TChangeDiskDlg, TInstallObject>()) &&
    PublishPlacement(PublishCommon(Publish<TCopyFileDlg, TInstallObject>())) &&
    PublishCommon(Publish<TInstallStatusDlg, TInstallObject>(), false) &&
    (RegisterClass<TLicenseDlg>(), RegisterClass<TReadmeDlg>(), RegisterClass<TBadInstallationDlg>(),
     RegisterClass<TRebootDlg>(), RegisterClass<TChangeDiskDlg>(), RegisterClass<TCopyFileDlg>(),
     RegisterClass<TInstallStatusDlg>(), true);

}  // namespace

// --- page dialogs

TStandardPageDlg::TStandardPageDlg(TComponent* AOwner, const TInstallFormClass* FormClass, TManagerType stage,
                                   int order, int standAloneCode)
    : TBaseInstallDlg(AOwner, &stage), FFormClass(FormClass), FStandAloneCode(standAloneCode) {
    SetOrder(order);
    FEntry = RegisterInstallForm(FormClass, this, 0);
}

TStandardPageDlg::~TStandardPageDlg() { UnregisterInstallForm(FEntry); }

void TStandardPageDlg::DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) {
    TBaseInstallDlg::DoDialogEvent(Sender, Code, Parameter);
    if (Code == FStandAloneCode && !DialogManager()) Execute();
}

void TStandardPageDlg::AssignDialogProperties() {
    TBaseInstallDlg::AssignDialogProperties();
    auto* page = dynamic_cast<TWizardStylePage*>(Form());
    if (!page) return;
    page->BackBtn->hide();
    for (QPushButton* button : {static_cast<QPushButton*>(page->ProceedBtn), static_cast<QPushButton*>(page->FinishBtn)})
        if (button) button->setProperty("modalResult", mrOk);
    LoadDialogTheme(page->ThemeBitmap);
}

namespace {
void LinesInto(const TStringList& lines, QTextEdit* edit) {
    QStringList text;
    for (int i = 0; i < lines.Count(); ++i) text << ToQString(lines.Strings(i));
    edit->setPlainText(text.join('\n'));
}
}  // namespace

TLicenseDlg::TLicenseDlg(TComponent* AOwner)
    : TStandardPageDlg(AOwner, &TLicenseForm::Class, dmBeforeInstall, 20, dcShowLicense) {}

void TLicenseDlg::AssignDialogProperties() {
    TStandardPageDlg::AssignDialogProperties();
    if (auto* page = dynamic_cast<TLicenseForm*>(Form())) LinesInto(FLicenseAgreement, page->Agreement);
}

TReadmeDlg::TReadmeDlg(TComponent* AOwner)
    : TStandardPageDlg(AOwner, &TReadmeForm::Class, dmAfterGoodInstall, 30, dcShowReadme) {}

void TReadmeDlg::AssignDialogProperties() {
    TStandardPageDlg::AssignDialogProperties();
    if (auto* page = dynamic_cast<TReadmeForm*>(Form())) LinesInto(FReadmeText, page->Information);
}

TBadInstallationDlg::TBadInstallationDlg(TComponent* AOwner)
    : TStandardPageDlg(AOwner, &TBadInstallForm::Class, dmAfterBadInstall, 10, dcBadInstall) {}

TRebootDlg::TRebootDlg(TComponent* AOwner) : TStandardPageDlg(AOwner, &TRebootForm::Class, dmReboot, 10, dcReboot) {}

void TRebootDlg::AssignDialogProperties() {
    TStandardPageDlg::AssignDialogProperties();
    if (auto* page = dynamic_cast<TRebootForm*>(Form())) {
        page->BeforeShow();
        page->BackBtn->hide();
    }
}

// --- change disk and copy

namespace {
const TManagerType ChangeDiskStage = dmChangeDisk;
const TManagerType CopyStage = dmDuringCopyFiles;
}  // namespace

TChangeDiskDlg::TChangeDiskDlg(TComponent* AOwner) : TCustomBaseInstallDlg(AOwner, &ChangeDiskStage) {
    FEntry = RegisterChangeDiskForm(&TChangeDiskForm::Class, this, 0);
}
TChangeDiskDlg::~TChangeDiskDlg() { UnregisterChangeDiskForm(FEntry); }
const TInstallFormClass* TChangeDiskDlg::DialogClass() const { return &TChangeDiskForm::Class; }

TCopyFileDlg::TCopyFileDlg(TComponent* AOwner) : TCustomBaseInstallDlg(AOwner, &CopyStage) {
    Width = 474;
    Height = 146;
    Position = fdpBottomCenter;
    RelativeTopOffset = 30;
    FEntry = RegisterDuringCopyForm(&TCopyFileForm::Class, this, 0);
}
TCopyFileDlg::~TCopyFileDlg() { UnregisterDuringCopyForm(FEntry); }
const TInstallFormClass* TCopyFileDlg::DialogClass() const { return &TCopyFileForm::Class; }

// --- status texts

TInstallStatusDlg::TInstallStatusDlg(TComponent* AOwner) : TCustomBaseInstallDlg(AOwner, nullptr) {}
TInstallStatusDlg::~TInstallStatusDlg() = default;
const TInstallFormClass* TInstallStatusDlg::DialogClass() const { return &TInstallStatusForm::Class; }

void TInstallStatusDlg::Translate() {
    TCustomBaseInstallDlg::Translate();
    LastLanguage = flEnglish;
    if (Form()) Form()->LastLanguage = flEnglish;
}

void TInstallStatusDlg::DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) {
    TCustomBaseInstallDlg::DoDialogEvent(Sender, Code, Parameter);
    if (DialogManager()) return;
    if (Code == dcShowStatusText) {
        if (!Parameter) throw IException("%s got a nil PO parameter", {Name()});
        auto* message = dynamic_cast<TMessageParameter*>(Parameter);
        if (!message) throw IException("The PO object passed to %s is not a TMessageParameter object", {Name()});
        FMessage = message->Message;
        FMessages.push_back(FMessage);
        ShowMessage();
    } else if (Code == dcHideStatusText) {
        if (!FMessages.empty()) FMessages.pop_back();
        if (!FMessages.empty()) {
            FMessage = FMessages.back();
            ShowMessage();
        } else {
            FMessage.clear();
            if (FStatusForm) FStatusForm->hide();
            ApplicationProcessMessages();
        }
    }
}

void TInstallStatusDlg::ShowMessage() {
    if (!FStatusForm) {
        FStatusForm.reset(static_cast<TInstallStatusForm*>(TInstallStatusForm::Class.Create(nullptr)));
        SetForm(FStatusForm.get());
        AssignDialogProperties();
    }
    TInstallStatusForm* form = FStatusForm.get();
    QLabel* label = form->lblMessage;
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(false);
    label->setText(ToQString(FMessage));
    Translate();
    label->adjustSize();
    label->move(label->x(), static_cast<int>(std::nearbyint(form->height() / 2.0 - label->height() / 2.0)));
    int width = QFontMetrics(label->font()).horizontalAdvance(label->text()) + form->pnlBack->x() +
                form->pnlMessage->x() + label->x() + 25;
    QScreen* screen = QGuiApplication::primaryScreen();
    int screenWidth = screen ? screen->size().width() : 1024;
    form->setGeometry(static_cast<int>(std::nearbyint(screenWidth / 2.0 - width / 2.0)), form->y(), width,
                      form->height());
    form->pnlBack->resize(width, form->height());
    form->pnlMessage->resize(width - form->pnlMessage->x(), form->pnlMessage->height());
    form->show();
    form->repaint();
    ApplicationProcessMessages();
}

}  // namespace ostra
