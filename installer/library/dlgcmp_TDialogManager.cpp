// Dialog managers, the page flow and screen placement (see the header).
#include "installer/library/dlgcmp_TDialogManager.h"

#include <cmath>

#include "host/ClassRegistry.h"
#include "host/PropertyRegistry.h"
#include "installer/library/cmp_TTranslator.h"

namespace ostra {

const char* const ManagerTypeNames[8] = {"dmBeforeInstall", "dmAfterGoodInstall", "dmAfterBadInstall",
                                         "dmDuringCopyFiles", "dmChangeDisk",    "dmReboot",
                                         "dmRegistration",  "dmUninstall"};
const char* const DialogPositionNames[9] = {"fdpCenterLeft", "fdpCenter",      "fdpCenterRight",
                                            "fdpBottomLeft", "fdpBottomCenter", "fdpBottomRight",
                                            "fdpTopLeft",    "fdpTopCenter",   "fdpTopRight"};

namespace {

template <class T, int T::*Field>
void SetField(T& object, int value) {
    object.*Field = value;
}

[[maybe_unused]] const bool kPublished =
    Publish<TDialogManager, TInstallObject>()
        .Integer("Height", &TDialogManager::Height, &SetField<TDialogManager, &TDialogManager::Height>)
        .Default(395)
        .Enum("ManagerType", &TDialogManager::ManagerType,
              [](TDialogManager& m, TManagerType v) { m.ManagerType = v; }, ManagerTypeNames)
        .Default(dmBeforeInstall)
        .Enum("Position", &TDialogManager::Position,
              [](TDialogManager& m, TFernmoorDialogPosition v) { m.Position = v; }, DialogPositionNames)
        .Default(fdpCenter)
        .Integer("RelativeLeftOffset", &TDialogManager::RelativeLeftOffset,
                 &SetField<TDialogManager, &TDialogManager::RelativeLeftOffset>)
        .Default(0)
        .Integer("RelativeTopOffset", &TDialogManager::RelativeTopOffset,
                 &SetField<TDialogManager, &TDialogManager::RelativeTopOffset>)
        .Default(0)
        .Integer("Width", &TDialogManager::Width, &SetField<TDialogManager, &TDialogManager::Width>)
        .Default(478) &&
    (RegisterClass<TDialogManager>(), true);

IDialogStageDisplay* gDisplay = nullptr;
TDialogManager* gCurrentManager = nullptr;

int CentreOf(int screen, int size, TCentreRounding rounding) {
    double centre = screen / 2.0 - size / 2.0;
    return rounding == TCentreRounding::HalfEven ? static_cast<int>(std::nearbyint(centre))
                                                 : static_cast<int>(std::trunc(centre));
}
}  // namespace

TScreenPoint PlaceOnScreen(TFernmoorDialogPosition Position, int ScreenWidth, int ScreenHeight, int CaptionHeight,
                           int Width, int Height, int LeftOffset, int TopOffset, TCentreRounding Rounding) {
    TScreenPoint p;
    switch (Position) {
        case fdpCenter: case fdpBottomCenter: case fdpTopCenter:
            p.Left = CentreOf(ScreenWidth, Width, Rounding) + LeftOffset;
            break;
        case fdpCenterLeft: case fdpBottomLeft: case fdpTopLeft:
            p.Left = LeftOffset;
            break;
        default:
            p.Left = ScreenWidth - Width - LeftOffset;
    }
    switch (Position) {
        case fdpCenterLeft: case fdpCenter: case fdpCenterRight:
            p.Top = CentreOf(ScreenHeight, Height, Rounding) + TopOffset;
            break;
        case fdpTopLeft: case fdpTopCenter: case fdpTopRight:
            p.Top = TopOffset;
            break;
        default:
            p.Top = ScreenHeight - CaptionHeight - Height - TopOffset;
    }
    return p;
}

// --- TPageFlow

bool TPageFlow::ShowPageAt(int index, bool forward) {
    int n = Count();
    for (; index >= 0 && index < n; index += forward ? 1 : -1) {
        if (SkipPage && SkipPage(index)) continue;
        FCurrent = index;
        if (Show) Show(index);
        return true;
    }
    return false;
}

bool TPageFlow::Start() { return ShowPageAt(0, false) || ShowPageAt(0, true); }

bool TPageFlow::NextPage() {
    int n = FCurrent;
    if (!ShowPageAt(n + 1, true)) ShowPageAt(n + 1, false);
    if (FCurrent == n) FFinished = true;
    return FFinished;
}

void TPageFlow::PreviousPage() {
    if (!ShowPageAt(FCurrent - 1, false)) ShowPageAt(FCurrent - 1, true);
}

bool TPageFlow::IsFirstPage() const {
    for (int i = 0; i < FCurrent; ++i)
        if (!SkipPage || !SkipPage(i)) return false;
    return true;
}

bool TPageFlow::IsLastPage() const { return FCurrent == Count() - 1; }

// --- the stage display and the current manager

IDialogStageDisplay* DialogStageDisplay() { return gDisplay; }
void SetDialogStageDisplay(IDialogStageDisplay* display) { gDisplay = display; }

TDialogManager* CurrentDialogManager() { return gCurrentManager; }
TCurrentDialogManagerScope::TCurrentDialogManagerScope(TDialogManager* manager) { gCurrentManager = manager; }
TCurrentDialogManagerScope::~TCurrentDialogManagerScope() { gCurrentManager = nullptr; }

TDialogManager* FindDialogManager(TManagerType type) {
    IInstallRoot* root = CurrentInstall();
    TInstallContainer* rootContainer = root ? root->RootContainer() : nullptr;
    for (TInstallContainer* c : InstallComponents())
        if (auto* m = dynamic_cast<TDialogManager*>(c))
            if (m->ManagerType == type && m->Container() == rootContainer) return m;
    return nullptr;
}

TDiskParameter* CheckChangeDiskParameter(TObject* Parameter) {
    if (!Parameter)
        throw Exception(TranslateMessageText(
            "The ParameterObject is Nil in the TDialogManager. Cannot show the change disk form"));
    auto* pair = dynamic_cast<TParameterPair*>(Parameter);
    if (!pair) throw Exception(TranslateMessageText("TChangeDiskDlg--PO is not a TList object"));
    if (!pair->File || !pair->Parameter)
        throw Exception(TranslateMessageText("TChangeDiskDlg--Not engouh parameters for status event"));
    auto* file = dynamic_cast<TInstallContainer*>(pair->File);
    if (!file || file->RegisteredType() != rtInstallFile)
        throw Exception("TChangeDiskDlg says bad first parameter");
    auto* disk = dynamic_cast<TDiskParameter*>(pair->Parameter);
    if (!disk) throw Exception("TChangeDiskDlg says bad second parameter");
    file->SetTag(1);
    return disk;
}

// --- TDialogManager

TDialogManager::TDialogManager(TComponent* AOwner) : TInstallObject(AOwner, rtDialog) {}

TDialogManager::~TDialogManager() {
    if (gCurrentManager == this) gCurrentManager = nullptr;
    if (gDisplay) gDisplay->Forget(this);
}

void TDialogManager::AddDialog(TInstallContainer* Dialog) {
    if (!Dialog)
        throw Exception(Format(TranslateMessageText("Cannot add a NIL Dialog to the Dialog Manager %s"), {Name()}));
    FDialogs.push_back(Dialog);
}

void TDialogManager::RemoveDialog(TInstallContainer* Dialog) {
    for (auto it = FDialogs.begin(); it != FDialogs.end(); ++it)
        if (*it == Dialog) {
            FDialogs.erase(it);
            return;
        }
}

void TDialogManager::RemoveReferences(TComponent* AComponent) {
    TInstallObject::RemoveReferences(AComponent);
    std::erase(FDialogs, static_cast<TInstallContainer*>(dynamic_cast<TInstallContainer*>(AComponent)));
}

void TDialogManager::ShowPages() {
    TCurrentDialogManagerScope scope(this);
    if (gDisplay) gDisplay->ShowPages(this);
}

void TDialogManager::ShowChangeDisk(TObject* Parameter) {
    TCurrentDialogManagerScope scope(this);
    if (gDisplay) gDisplay->ShowChangeDisk(this, Parameter);
}

void TDialogManager::DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) {
    TInstallObject::DoDialogEvent(Sender, Code, Parameter);
    auto copyStatus = [&](auto* typed, const char* className) {
        if (!Parameter) throw IException("%s got a nil PO parameter", {Name()});
        if (!typed)
            throw IException(std::string("The PO object passed to %s is not a ") + className + " object", {Name()});
    };
    switch (ManagerType) {
        case dmBeforeInstall:
            if (Code == dcBeforeInstallWizard) ShowPages();
            break;
        case dmAfterGoodInstall:
            if (Code == dcGoodInstallWizard) ShowPages();
            break;
        case dmAfterBadInstall:
            if (Code == dcBadInstallWizard) ShowPages();
            break;
        case dmRegistration:
            if (Code == dcRegistration) ShowPages();
            break;
        case dmReboot:
            if (Code == dcReboot) ShowPages();
            break;
        case dmDuringCopyFiles:
            if (Code == dcFileStatus) {
                auto* file = dynamic_cast<TFileStatusParameter*>(Parameter);
                copyStatus(file, "TFileStatusParameter");
                if (gDisplay) gDisplay->UpdateCopyForms(this, file, nullptr);
            } else if (Code == dcDownloadStatus) {
                auto* download = dynamic_cast<TDownloadStatusParameter*>(Parameter);
                copyStatus(download, "TDownloadStatusParameter");
                if (gDisplay) gDisplay->UpdateCopyForms(this, nullptr, download);
            } else if (Code == dcStepEnded) {
                if (gDisplay) gDisplay->CloseCopyForms(this);
            }
            break;
        case dmChangeDisk:
            if (Code == dcNewDisk) ShowChangeDisk(Parameter);
            break;
        default:
            break;
    }
}

}  // namespace ostra
