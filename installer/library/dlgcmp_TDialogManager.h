// Dialog managers and the window-free rules of the install dialogs. A dialog manager
// (TDialogManager, registered type 9000) stands for one stage of the install run; when the dialog
// code of its stage reaches it through its container's dispatch it shows the stage: its wizard
// pages, the change-disk prompt or the copy-progress forms. Showing needs windows, so the manager
// hands that to the stage display (IDialogStageDisplay) that the program's window side installs;
// everything else lives here: which code starts what, the checks of the parameter objects, the
// dialog list, finding the manager of a stage, the page order and navigation of a wizard
// (TPageFlow) and the placement of a dialog on the screen.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "installer/library/cmp_TInstallContainer.h"

namespace ostra {

enum TManagerType {
    dmBeforeInstall, dmAfterGoodInstall, dmAfterBadInstall, dmDuringCopyFiles, dmChangeDisk, dmReboot,
    dmRegistration, dmUninstall
};

enum TFernmoorDialogPosition {
    fdpCenterLeft, fdpCenter, fdpCenterRight, fdpBottomLeft, fdpBottomCenter, fdpBottomRight, fdpTopLeft,
    fdpTopCenter, fdpTopRight
};
// The identifiers of the two enumerations in form streams.
extern const char* const ManagerTypeNames[8];
extern const char* const DialogPositionNames[9];

// Where a window of Width x Height goes on a ScreenWidth x ScreenHeight screen (CaptionHeight: the
// height of a window caption). The centre column and row use Round (halves to the even
// neighbour) for a dialog component's form and truncation toward zero for a wizard container.
struct TScreenPoint {
    int Left = 0, Top = 0;
};
enum class TCentreRounding { HalfEven, Truncate };
TScreenPoint PlaceOnScreen(TFernmoorDialogPosition Position, int ScreenWidth, int ScreenHeight, int CaptionHeight,
                           int Width, int Height, int LeftOffset, int TopOffset, TCentreRounding Rounding);

// Sorts items by Order ascending with the wizard's exchange procedure: each index i is compared with
// every later index j and the two change places when item i has the greater Order.
template <class T, class OrderOf>
void SortByOrderExchange(std::vector<T>& items, OrderOf orderOf) {
    for (size_t i = 0; i < items.size(); ++i)
        for (size_t j = i + 1; j < items.size(); ++j)
            if (orderOf(items[i]) > orderOf(items[j])) std::swap(items[i], items[j]);
}

// The navigation of a wizard over Count pages: which page is current, which are skipped, when the
// wizard is finished. Show is called with the index of each page that becomes current.
class TPageFlow {
public:
    std::function<int()> Count;
    std::function<bool(int)> SkipPage;
    std::function<void(int)> Show;

    int Current() const { return FCurrent; }
    bool Finished() const { return FFinished; }
    // Shows the page at index or, when it skips itself, the nearest one in the direction; false when
    // none is left that way.
    bool ShowPageAt(int index, bool forward);
    // The first page that does not skip itself (searching backward from 0, then forward).
    bool Start();
    // Moves to the next page; with none left the wizard is finished (returns true).
    bool NextPage();
    void PreviousPage();
    // True when every page before the current one skips itself.
    bool IsFirstPage() const;
    // True when the current page is the last one (pages after it that skip are not considered).
    bool IsLastPage() const;

private:
    int FCurrent = -1;
    bool FFinished = false;
};

class TDialogManager;

// What the window side does for a manager. Installed once by the program's window side; without
// one a stage shows nothing.
class IDialogStageDisplay {
public:
    virtual ~IDialogStageDisplay() = default;
    virtual void ShowPages(TDialogManager* Manager) = 0;
    // Parameter: the change-disk request as sent; the display checks it with CheckChangeDiskParameter
    // once it has a prompt form for the manager.
    virtual void ShowChangeDisk(TDialogManager* Manager, TObject* Parameter) = 0;
    virtual void UpdateCopyForms(TDialogManager* Manager, TFileStatusParameter* File,
                                 TDownloadStatusParameter* Download) = 0;
    virtual void CloseCopyForms(TDialogManager* Manager) = 0;
    // A dialog component or manager is going away: drop what the display keeps of it.
    virtual void Forget(TInstallContainer* Component) {}
};
IDialogStageDisplay* DialogStageDisplay();
void SetDialogStageDisplay(IDialogStageDisplay* display);

class TDialogManager : public TInstallObject {
public:
    explicit TDialogManager(TComponent* AOwner);
    ~TDialogManager() override;

    TManagerType ManagerType = dmBeforeInstall;
    TFernmoorDialogPosition Position = fdpCenter;
    int Width = 478, Height = 395;
    int RelativeLeftOffset = 0, RelativeTopOffset = 0;

    // The dialog components of the stage (not owned; a component may be listed twice).
    const std::vector<TInstallContainer*>& Dialogs() const { return FDialogs; }
    // Raises Exception "Cannot add a NIL Dialog to the Dialog Manager %s" for null.
    virtual void AddDialog(TInstallContainer* Dialog);
    virtual void RemoveDialog(TInstallContainer* Dialog);

    // Shows the stage's wizard pages (CurrentDialogManager is this manager meanwhile).
    virtual void ShowPages();
    // Shows the change-disk prompt for the request (see CheckChangeDiskParameter).
    virtual void ShowChangeDisk(TObject* Parameter);

    void DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) override;
    void RemoveReferences(TComponent* AComponent) override;

private:
    std::vector<TInstallContainer*> FDialogs;
};

// Checks a change-disk request: a TParameterPair of the install file asking and its
// TDiskParameter. Raises Exception with the text of the first failed check; on success marks the
// file's Tag 1 (a dialog took care of the request, the file does not prompt by itself).
TDiskParameter* CheckChangeDiskParameter(TObject* Parameter);

// The manager whose stage is being shown; null outside ShowPages and ShowChangeDisk.
TDialogManager* CurrentDialogManager();
// Sets it for the life of the scope and clears it at the end, also on an exception.
class TCurrentDialogManagerScope {
public:
    explicit TCurrentDialogManagerScope(TDialogManager* manager);
    ~TCurrentDialogManagerScope();
    TCurrentDialogManagerScope(const TCurrentDialogManagerScope&) = delete;
    TCurrentDialogManagerScope& operator=(const TCurrentDialogManagerScope&) = delete;
};

// The first live manager of the type (in creation order) whose Container is the current install
// root, or, without a root, that has no Container; null when there is none.
TDialogManager* FindDialogManager(TManagerType type);

}  // namespace ostra
