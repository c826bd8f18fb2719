// The wizard of an install stage and the bases of the forms that install stages show.
//
// TBaseFormContainer is one modal frame in which the page forms of a stage take turns: all pages
// exist at once inside its DisplayPanel (a stacked widget) and the current one is in front. Which
// page comes next, which skip themselves and when the wizard ends is TPageFlow's business
// (installer/library/dlgcmp_TDialogManager.h). The container cannot be closed by the window system
// (close box, Escape): only the end of the pages or an abort closes it.
//
// TBaseInstallForm is the base of every wizard page. Inside a container its navigation operations
// move the wizard; shown on its own as a modal dialog (a dialog component without manager) they do
// nothing, and buttons carrying a "modalResult" property close the page with that result.
// TBaseDuringCopyForm and TBaseChangeDiskForm are the bases of the copy-progress windows and the
// change-disk prompt.
#pragma once
#include <QPointer>
#include <QStackedWidget>
#include <vector>

#include "installer/library/dlgcmp_TDialogManager.h"
#include "installer/ui/cmp_TBaseFernmoorForm.h"

class QAbstractButton;

namespace ostra {

class TCustomBaseInstallDlg;
class TBaseFormContainer;

// The install root's answer to a user's cancel; true without an install root.
bool ConfirmUserAbortOfRoot();

class TBaseInstallForm : public TBaseFernmoorForm {
public:
    // A page owned by a container becomes a child window of it, hidden until it is shown.
    explicit TBaseInstallForm(QWidget* owner = nullptr);

    TCustomBaseInstallDlg* DC = nullptr;
    TDialogManager* DM = nullptr;
    int Order = 0;

    // The container the page lives in; null for a page shown on its own.
    TBaseFormContainer* FormContainer() const { return FContainer; }

    virtual bool IsFirstPage();
    virtual bool IsLastPage();
    virtual void LeavePage() {}
    virtual void AbortWizard();
    virtual void GoNext();
    virtual void GoBack();
    // BeforeShow, then the page comes to the front.
    virtual void ShowPage();
    virtual bool SkipPage() { return false; }
    // With the install root's consent, AbortWizard.
    virtual void CancelClick();

protected:
    // Runs Action on a click; on a page shown on its own, a button with the "modalResult" property
    // then closes the page with that result.
    void OnClick(QAbstractButton* button, std::function<void()> Action);

private:
    TBaseFormContainer* FContainer = nullptr;
};

class TBaseFormContainer : public TBaseFernmoorForm {
public:
    TBaseFormContainer();
    ~TBaseFormContainer() override;

    QStackedWidget* DisplayPanel;
    // The pages in display order (owned by the container).
    const std::vector<TBaseInstallForm*>& Pages() const { return FPages; }
    bool Finished() const { return FFlow.Finished(); }
    int CurrentIndex() const { return FFlow.Current(); }
    TBaseInstallForm* CurrentPage() const;

    // Creates the pages of CurrentDialogManager's stage from the wizard-page registry, sorted by
    // Order; returns their number. Raises Exception "The current dialog manager is not defined"
    // without a current manager.
    int PreparePages();
    // Shows the first page that does not skip itself.
    void StartPages();
    virtual void NextPage();
    virtual void PreviousPage();
    bool IsFirstPage() const { return FFlow.IsFirstPage(); }
    bool IsLastPage() const { return FFlow.IsLastPage(); }
    // Places the container by the manager's position and offsets (centre truncated).
    virtual void PlaceOnScreen(TFernmoorDialogPosition Position, int LeftOffset, int TopOffset);

    // Only an abort or the end of the pages closes the container.
    void done(int r) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::vector<TBaseInstallForm*> FPages;
    TPageFlow FFlow;
};

class TBaseDuringCopyForm : public TBaseFernmoorForm {
public:
    explicit TBaseDuringCopyForm(QWidget* owner = nullptr) : TBaseFernmoorForm(owner) {}
    TDialogManager* DM = nullptr;
    // With the install root's consent, sets the downloads' abort flag; the copy stops at its next check.
    virtual void CancelClick();
    // One of the two is null.
    virtual void UpdateStatus(TFileStatusParameter* File, TDownloadStatusParameter* Download) {}
};

class TBaseChangeDiskForm : public TBaseFernmoorForm {
public:
    explicit TBaseChangeDiskForm(QWidget* owner = nullptr) : TBaseFernmoorForm(owner) {}
    TDiskParameter* DiskParameter = nullptr;
    TDialogManager* DM = nullptr;
    // With the install root's consent, closes the form with abort.
    virtual void CancelClick();
};

// Places a window at Left/Top for the screen of the application (used by containers and dialogs).
void MoveOnScreen(QWidget* window, TFernmoorDialogPosition Position, int Width, int Height, int LeftOffset,
                  int TopOffset, TCentreRounding Rounding);

}  // namespace ostra
