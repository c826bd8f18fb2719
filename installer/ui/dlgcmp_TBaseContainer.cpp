// Wizard container and form bases (see the header).
#include "installer/ui/dlgcmp_TBaseContainer.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "host/UIServices.h"
#include "host/ui/Application.h"
#include "installer/library/cmp_TNetInstallLocation.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/ui/dlgcmp_TBaseDlg.h"

namespace ostra {

bool ConfirmUserAbortOfRoot() {
    IInstallRoot* root = CurrentInstall();
    return !root || root->ConfirmUserAbort();
}

void MoveOnScreen(QWidget* window, TFernmoorDialogPosition Position, int Width, int Height, int LeftOffset,
                  int TopOffset, TCentreRounding Rounding) {
    QScreen* screen = QGuiApplication::primaryScreen();
    QSize size = screen ? screen->size() : QSize(1024, 768);
    int caption = window->style()->pixelMetric(QStyle::PM_TitleBarHeight);
    TScreenPoint p = PlaceOnScreen(Position, size.width(), size.height(), caption, Width, Height, LeftOffset,
                                   TopOffset, Rounding);
    window->setGeometry(p.Left, p.Top, Width, Height);
}

// --- TBaseInstallForm

TBaseInstallForm::TBaseInstallForm(QWidget* owner)
    : TBaseFernmoorForm(owner), FContainer(dynamic_cast<TBaseFormContainer*>(owner)) {
    if (owner) {
        setWindowFlags(Qt::Widget);
        hide();
    }
}

bool TBaseInstallForm::IsFirstPage() { return FContainer && FContainer->IsFirstPage(); }
bool TBaseInstallForm::IsLastPage() { return FContainer && FContainer->IsLastPage(); }

void TBaseInstallForm::AbortWizard() {
    if (FContainer)
        FContainer->done(mrAbort);
    else
        done(mrAbort);
}

void TBaseInstallForm::GoNext() {
    if (FContainer) FContainer->NextPage();
}

void TBaseInstallForm::GoBack() {
    if (FContainer) FContainer->PreviousPage();
}

void TBaseInstallForm::ShowPage() {
    if (!parentWidget()) return;
    BeforeShow();
    show();
    raise();
}

void TBaseInstallForm::CancelClick() {
    if (ConfirmUserAbortOfRoot()) AbortWizard();
}

void TBaseInstallForm::OnClick(QAbstractButton* button, std::function<void()> Action) {
    QObject::connect(button, &QAbstractButton::clicked, this, [this, button, Action] {
        CallHandled([&] {
            Action();
            QVariant result = button->property("modalResult");
            if (!FContainer && result.isValid() && result.toInt() != mrNone) done(result.toInt());
        });
    });
}

// --- TBaseFormContainer

TBaseFormContainer::TBaseFormContainer() : TBaseFernmoorForm(nullptr), DisplayPanel(new QStackedWidget(this)) {
    setObjectName("BaseFormContainer");
    setWindowTitle("BaseFormContainer");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(DisplayPanel);
    resize(478, 395);
    FFlow.Count = [this] { return static_cast<int>(FPages.size()); };
    FFlow.SkipPage = [this](int i) { return FPages[i]->SkipPage(); };
    FFlow.Show = [this](int i) {
        TBaseInstallForm* page = FPages[i];
        if (TBaseInstallForm* leaving = CurrentPage(); leaving && leaving != page) leaving->LeavePage();
        DisplayPanel->setCurrentWidget(page);
        setWindowTitle(page->windowTitle());
        page->ShowPage();
    };
}

TBaseFormContainer::~TBaseFormContainer() = default;  // the pages are child widgets

TBaseInstallForm* TBaseFormContainer::CurrentPage() const {
    int i = FFlow.Current();
    return i >= 0 && i < static_cast<int>(FPages.size()) ? FPages[i] : nullptr;
}

int TBaseFormContainer::PreparePages() {
    TDialogManager* manager = CurrentDialogManager();
    if (!manager) throw Exception(TranslateMessageText("The current dialog manager is not defined"));
    for (int i = 0; i < InstallFormCount(); ++i) {
        TBIFEntry* entry = GetInstallFormEntry(i);
        TCustomBaseInstallDlg* dialog = entry->Dialog;
        if (dialog && (dialog->DialogManager() != manager || !dialog->HasDialog())) continue;
        auto* page = dynamic_cast<TBaseInstallForm*>(entry->FormClass->Create(this));
        if (!page) continue;
        if (!dialog && page->DM != manager) {
            delete page;
            continue;
        }
        page->DC = dialog;
        if (dialog) {
            page->Container = dialog->Container();
            page->Order = dialog->Order();
            dialog->SetForm(page);
            dialog->AssignDialogProperties();
        }
        // The stacked panel shows the current page only.
        DisplayPanel->addWidget(page);
        page->ApplyTranslation();
        FPages.push_back(page);
    }
    SortByOrderExchange(FPages, [](TBaseInstallForm* p) { return p->Order; });
    return static_cast<int>(FPages.size());
}

void TBaseFormContainer::StartPages() {
    if (FFlow.Current() < 0) FFlow.Start();
}

void TBaseFormContainer::showEvent(QShowEvent* event) {
    TBaseFernmoorForm::showEvent(event);
    StartPages();
    activateWindow();
}

void TBaseFormContainer::NextPage() {
    if (FFlow.NextPage()) done(mrOk);
}

void TBaseFormContainer::PreviousPage() { FFlow.PreviousPage(); }

void TBaseFormContainer::PlaceOnScreen(TFernmoorDialogPosition Position, int LeftOffset, int TopOffset) {
    MoveOnScreen(this, Position, width(), height(), LeftOffset, TopOffset, TCentreRounding::Truncate);
}

void TBaseFormContainer::done(int r) {
    if (r == mrAbort || Finished()) TBaseFernmoorForm::done(r);
}

void TBaseFormContainer::closeEvent(QCloseEvent* event) {
    if (Finished() || result() == mrAbort)
        event->accept();
    else
        event->ignore();
}

// --- the copy and change-disk bases

void TBaseDuringCopyForm::CancelClick() {
    if (!ConfirmUserAbortOfRoot()) return;
    SetNetAbort(true);
}

void TBaseChangeDiskForm::CancelClick() {
    if (ConfirmUserAbortOfRoot()) done(mrAbort);
}

}  // namespace ostra
