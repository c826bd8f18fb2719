// The install component and its run: creation, loading (the mode choice), the activation hook,
// the installation run, the install phases, the good- and bad-install codes, the error handler,
// the files run after the install, the clean-up of the loader's folder and the restart.
//
// Clean-up ("-c"): the setup program asks to remove the folder it was started from, which the
// loading program filled. Only a folder that is the loader's own is touched: it lies in the
// machine's temporary folder and holds the loader's list (SelfExtract.h); then the files the
// list names go, the folder goes when empty, and the batch that removes the rest once the
// program has ended is written. A setup program started from anywhere else deletes nothing.
#include "installer/library/cmp_TInstall.h"

#include <algorithm>

#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"
#include "host/UIServices.h"
#include "installer/library/SelfExtract.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileStream.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/WinMachine.h"
#include "installer/library/cmp_TInstallFile.h"
#include "installer/library/cmp_TNetInstallLocation.h"
#include "installer/library/cmp_TPathSpecifier.h"
#include "installer/library/cmp_TProgramLauncher.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_ExpandPaths.h"
#include "installer/library/routines_Reboot.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {

const char* const DistributeTypeNames[] = {"dtTraditional", "dtWeb", "dtTraditionalNet"};
const char* const InstallTypeNames[] = {"itFull", "itDefault", "itCompact", "itCustom"};

template <class T>
auto StringField(std::string T::*field) {
    return [field](T& o, const std::string& v) { o.*field = v; };
}

[[maybe_unused]] const bool kPublished =
    Publish<TInstallInformation, TPersistent>()
        .String("CompanyName", &TInstallInformation::CompanyName, StringField(&TInstallInformation::CompanyName))
        .String("ProductName", &TInstallInformation::ProductName, StringField(&TInstallInformation::ProductName))
        .String("Version", &TInstallInformation::Version, StringField(&TInstallInformation::Version)) &&
    Publish<TControlPanelExtensionInformation, TPersistent>()
        .String("Comments", &TControlPanelExtensionInformation::Comments,
                StringField(&TControlPanelExtensionInformation::Comments))
        .String("Contact", &TControlPanelExtensionInformation::Contact,
                StringField(&TControlPanelExtensionInformation::Contact))
        .String("HelpLink", &TControlPanelExtensionInformation::HelpLink,
                StringField(&TControlPanelExtensionInformation::HelpLink))
        .String("HelpTelephone", &TControlPanelExtensionInformation::HelpTelephone,
                StringField(&TControlPanelExtensionInformation::HelpTelephone))
        .String("ProductID", &TControlPanelExtensionInformation::ProductID,
                StringField(&TControlPanelExtensionInformation::ProductID))
        .String("URLInfoAbout", &TControlPanelExtensionInformation::URLInfoAbout,
                StringField(&TControlPanelExtensionInformation::URLInfoAbout))
        .String("URLUpdateInfo", &TControlPanelExtensionInformation::URLUpdateInfo,
                StringField(&TControlPanelExtensionInformation::URLUpdateInfo)) &&
    Publish<TInstall, TFileContainer>()
        .String("DestDir", &TCustomInstall::DestDir, &TCustomInstall::SetDestDir)
        .Default(std::string("\\MyApplication"))
        .Component("DestDirType", &TCustomInstall::DestDirType, &TCustomInstall::SetDestDirType)
        .Boolean("AutoMaximizeWindow", &TCustomInstall::AutoMaximizeWindow, &TCustomInstall::SetAutoMaximizeWindow)
        .Default(true)
        .Enum("DistributeType", &TCustomInstall::DistributeType, &TCustomInstall::SetDistributeType,
              DistributeTypeNames)
        .Default(dtTraditional)
        .Boolean("HideMainForm", &TCustomInstall::HideMainForm, &TCustomInstall::SetHideMainForm)
        .Default(false)
        .Object("Information", &TCustomInstall::Information)
        .Object("win2KExtendedInformation", &TCustomInstall::win2KExtendedInformation)
        .Set("InstallTypes", &TCustomInstall::InstallTypes, &TCustomInstall::SetInstallTypes, InstallTypeNames)
        .Boolean("NoUninstall", &TCustomInstall::NoUninstall, &TCustomInstall::SetNoUninstall)
        .Default(false)
        .Object("PresetupFiles", &TCustomInstall::PresetupFiles)
        .Boolean("Reboot", &TCustomInstall::Reboot, &TCustomInstall::SetReboot)
        .Default(false)
        .Boolean("RunAutomatic", &TCustomInstall::RunAutomatic, &TCustomInstall::SetRunAutomatic)
        .Default(true)
        .Boolean("UseLoadingProgram", &TCustomInstall::UseLoadingProgram, &TCustomInstall::SetUseLoadingProgram)
        .Default(true) &&
    (RegisterClass<TInstall>(), true);

TDateTime gRunStart = 0;

// The install phases after the files: registered type and status text.
struct TInstallPhase {
    int Type;
    const char* Status;
};
constexpr TInstallPhase InstallPhases[] = {
    {2750, "Installing ODBC drivers..."},
    {2875, "Installing ODBC sources..."},
    {3000, "Installing Borland Database Engine aliases..."},
    {7000, "Installing shell links..."},
    {8000, "Installing shell links..."},
    {4000, "Installing INI files..."},
    {8500, "Installing registry keys..."},
    {8700, ""},
    {9052, ""},
    {9050, ""},
    {9054, ""},
};

// True when the name is a plain file name (no folder, no drive, not "." or "..").
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:") == std::string::npos;
}

}  // namespace

TDateTime InstallRunStartTime() { return gRunStart; }

// ---------------------------------------------------------------- TBuildInfo

void TBuildInfo::Assign(const TPersistent* Source) {
    if (auto* other = dynamic_cast<const TBuildInfo*>(Source)) {
        if (other != this) *this = *other;
        return;
    }
    TPersistent::Assign(Source);
}

// ---------------------------------------------------------------- the exception report

// Stands in front of the application's exception report while the component lives, so that
// whatever a dialog's loop or the activation hook could not handle reaches HandleInstallError.
class TCustomInstall::TErrorServices : public TUIServices {
public:
    TErrorServices(TCustomInstall& install, TUIServices& previous) : FInstall(install), FPrevious(previous) {}
    int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) override {
        return FPrevious.MessageDlg(Msg, DlgType, Buttons, HelpCtx);
    }
    void HandleException(TObject* Sender, const std::exception& E) override { FInstall.HandleInstallError(Sender, E); }
    void ProcessMessages() override { FPrevious.ProcessMessages(); }
    bool LoginDialog(TLoginRequest& Request) override { return FPrevious.LoginDialog(Request); }
    TUIServices& Previous() { return FPrevious; }

private:
    TCustomInstall& FInstall;
    TUIServices& FPrevious;
};

// ---------------------------------------------------------------- life

TCustomInstall::TCustomInstall(TComponent* AOwner)
    : TFileContainer(AOwner, rtFileContainer, false),
      FBuildInfo(std::make_unique<TBuildInfo>()),
      FInformation(std::make_unique<TInstallInformation>()),
      FExtended(std::make_unique<TControlPanelExtensionInformation>()),
      FRegistration(std::make_unique<TRegistrationInformation>()),
      FPresetupFiles(std::make_unique<TStringList>()) {
    if (CurrentInstall() && CurrentInstall() != this)
        throw IEInstall("The TInstall component does not currently support the use of 2 TInstall components in the same project");
    if (!dynamic_cast<TCustomForm*>(AOwner) && !dynamic_cast<TDataModule*>(AOwner))
        throw IEInstall(
            "The Owner of the TInstall component must either be a class of type TCustomForm (Delphi 3) or TForm "
            "(Delphi 2.0,C++Builder 1.0)");
    // The install raises OnAfterInstallObjects itself, once after the install phases.
    FRaiseAfterInstallObjects = false;
    SetCurrentInstall(this);
    SetDescription("TInstall component");
    SetDestDir("\\MyApplication");
    SetDestDirType(&StandardPathSpecifiers().Find<TpsProgramFiles>());
    SetArchiveFileType(&StandardPathSpecifiers().Find<TpsMainArchiveFile>());
    if (IsDesigning(AOwner)) {
        bool hasTranslator = false;
        for (int i = 0; i < AOwner->ComponentCount(); ++i)
            hasTranslator = hasTranslator || dynamic_cast<TTranslator*>(AOwner->Components(i));
        if (!hasTranslator) CreateComponent<TTranslator>(AOwner)->SetName("MainTranslator");
    } else {
        FErrorServices = std::make_unique<TErrorServices>(*this, UIServices());
        SetUIServices(FErrorServices.get());
    }
}

TCustomInstall::~TCustomInstall() {
    if (OnBeforeDestroy) OnBeforeDestroy(this);
    if (FHookedActivation && FMainFormComponent && !FMainFormComponent->ComponentState().Contains(csDestroying))
        FMainForm->OnActivate = FSavedOnActivate;
    if (CurrentInstall() == this) SetCurrentInstall(nullptr);
    if (!FCleanupBatch.empty()) {
        // The batch removes what the running program kept in use; it runs after this program.
        try {
            TProgramLauncher launcher(nullptr);
            launcher.SetFileName(FCleanupBatch);
            launcher.SetShowMode(smHide);
            launcher.Execute();
        } catch (const std::exception&) {
        }
    }
    if (FErrorServices && &UIServices() == FErrorServices.get()) SetUIServices(&FErrorServices->Previous());
}

// ---------------------------------------------------------------- properties

void TCustomInstall::SetAutoMaximizeWindow(bool value) {
    FAutoMaximizeWindow = value;
    if (!Loading() && value) FHideMainForm = false;
}

void TCustomInstall::SetHideMainForm(bool value) {
    FHideMainForm = value;
    if (!Loading() && value) FAutoMaximizeWindow = false;
}

void TCustomInstall::SetDistributeType(TDistributeType value) {
    if (!Loading()) {
        if (!IsDesigning(this)) throw IEInstall("DistributeType can only be set at design-time");
        if (value != dtTraditional && !NetLocation())
            throw IEInstallNetLocNil(
                "Must assign a net location via the NetLocation property before you can set the distribute type");
    }
    FDistributeType = value;
}

void TCustomInstall::SetNetLocation(TCustomNetInstallLocation* value) {
    TFileContainer::SetNetLocation(value);
    SetDefaultNetLocation(value);
    if (!value) FDistributeType = dtTraditional;
}

void TCustomInstall::Notification(TComponent* AComponent, TOperation Operation) {
    const bool wasLocation = Operation == opRemove && AComponent == NetLocation() && AComponent;
    TFileContainer::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FMainFormComponent) {
        FMainForm = nullptr;
        FMainFormComponent = nullptr;
    }
    if (wasLocation) {
        if (DefaultNetLocation() == AComponent) SetDefaultNetLocation(nullptr);
        FDistributeType = dtTraditional;
    }
}

void TCustomInstall::SetPresetupFiles(const TStrings* value) {
    FPresetupFiles->Clear();
    if (!value) return;
    for (int i = 0; i < value->Count(); ++i)
        if (!Trim(value->Strings(i)).empty()) FPresetupFiles->Add(value->Strings(i));
}

void TCustomInstall::SetUseLoadingProgram(bool value) {
    FUseLoadingProgram = value;
    if (!Loading() && value) {
        SetArchiveFileType(&StandardPathSpecifiers().Find<TpsMainArchiveFile>());
        SetArchiveFile("");
    }
}

std::string TCustomInstall::InstallSourceFolder() const {
    if (!FInstallSource.empty()) return FInstallSource;
    return RemoveBackslash(ExtractFileDir(SetupProgramPath()));
}

std::string TCustomInstall::SetupProgramPath() const { return NativeToWin(ApplicationExeName()); }

bool TCustomInstall::ConfirmUserAbort() {
    bool quitOut = true;
    if (OnUserAbort) OnUserAbort(this, quitOut);
    return quitOut;
}

// ---------------------------------------------------------------- loading

void TCustomInstall::Loaded() {
    TFileContainer::Loaded();
    if (IsDesigning(this)) {
        // The loaded form brings its own translator.
        if (auto* made = dynamic_cast<TTranslator*>(Owner() ? Owner()->FindComponent("MainTranslator") : nullptr);
            made && CurrentTranslator() != made)
            delete made;
        return;
    }
    ParseCommandLine();
    if ((FCommandLine.Has(ioDebug) && !FCommandLine.Has(ioSource)) ||
        (FCommandLine.Has(ioSource) && Trim(FCommandLine.Value(ioSource)).empty()))
        throw IEInstall(
            "You forgot to pass in the build directory. In Run | Parameters, follow this format: -d \"-sC:\\My Build\"");
    FInstallSource = FCommandLine.Has(ioSource) ? FCommandLine.Value(ioSource)
                                                : RemoveBackslash(ExtractFileDir(SetupProgramPath()));
    SetRunRecordKey(RegisterInstallRun(false));
    std::string recorded;
    if (FindRecordedLocalFile(recorded)) SetLocalArchive(recorded);

    FMainForm = ApplicationMainForm();
    if (!FMainForm) FMainForm = dynamic_cast<TCustomForm*>(Owner());
    FMainFormComponent = FMainForm;
    if (FMainForm && FMainForm != Owner()) FMainForm->FreeNotification(this);
    if (!FMainForm && FRunAutomatic)
        throw IEInstall(
            "Application.MainForm is undefined and the TInstall is not on a form. Therefore, therefore the TInstall "
            "can't run the installation automatically");

    const TInstallTypeSet types = InstallTypes();
    SetSelectedInstallType(types.Contains(itDefault) ? itDefault : types.Contains(itCompact) ? itCompact : itFull);

    if (FCommandLine.Has(ioBuild)) {
        BuildFromBuildInf();
    } else if (FCommandLine.Has(ioFloppy)) {
        TransferToFloppies("a:");
    } else if (FCommandLine.Has(ioReboot)) {
        // The completion run fails as a run does: through the error handler.
        try {
            FinishAfterReboot();
        } catch (...) {
            ApplicationHandleException(this);
        }
    } else if (FMainForm) {
        FSavedOnActivate = FMainForm->OnActivate;
        FMainForm->OnActivate = [this](TObject* Sender) { ActivationHook(Sender); };
        FHookedActivation = true;
        if (FHideMainForm) {
            FMainForm->Left = -2 * FMainForm->Width;
            FMainForm->Top = -2 * FMainForm->Height;
        }
    }
}

void TCustomInstall::ActivationHook(TObject* Sender) {
    if (FSavedOnActivate) FSavedOnActivate(Sender);
    FActivated = true;
    if (FAutoMaximizeWindow && FMainForm) {
        FMainForm->WindowState = wsMaximized;
        FMainForm->Repaint();
    }
    if (!FRunAutomatic) return;
    if (FMainForm && !FMainForm->Destroying()) FMainForm->OnActivate = FSavedOnActivate;
    FHookedActivation = false;
    Process();
}

// ---------------------------------------------------------------- the run

void TCustomInstall::Process() {
    FStopped = false;
    gRunStart = Now();
    // Deferred registration lasts for the file pass of this run only, however the run ends.
    struct DeferredRegistrationScope {
        DeferredRegistrationScope() { SetDeferredRegistration(true); }
        ~DeferredRegistrationScope() { SetDeferredRegistration(false); }
    } deferred;
    DeferredActiveXFiles().clear();
    FUnfinishedCount = 0;
    FCleanupBatch.clear();
    FInRun = true;

    if (FUseLoadingProgram && !FCommandLine.Has(ioSource))
        throw IEInstall(
            "The path of the loading program was not passed correctly. If you are running your install project in the "
            "IDE, then you need to add two command line parameters. In Run | Parameters | \"Run Parameters\", type in: "
            "-d \"-sBUILDPATH\" where BUILDPATH is the path into which you built the distributables. Example: -d "
            "\"-sC:\\My Build\".");
    if (FCommandLine.Has(ioNewRun)) ClearUnfinished();
    SetRunRecordKey(RegisterInstallRun(true));
    ClearUnfinished();
    if (FCommandLine.Has(ioSelfExtract))
        GlobalArchiveComponent().SetOffset(ReadSelfExtractTrailer(GetFullArchiveFile()).FilesStart);
    ReadInfoFromArchive();

    if (OnAfterInitialized) OnAfterInitialized(this);
    SendDialogCode(this, this, dcAfterInitialized, nullptr);
    SendDialogCode(this, this, dcBeforeInstallWizard, nullptr);
    // An error that a page's own loop handled went through the error handler, which showed the
    // bad-install pages and ended the run: nothing more happens.
    if (FStopped) return;

    auto afterInstallObjects = [this] {
        if (OnAfterInstallObjects) OnAfterInstallObjects(this, GlobalArchiveComponent().Abort());
    };
    try {
        TFileContainer::Process();
        SetDeferredRegistration(false);
        const std::vector<TCustomInstallFile*> waiting = DeferredActiveXFiles();
        for (TCustomInstallFile* file : waiting) file->RegisterActiveX();
        for (const TInstallPhase& phase : InstallPhases) InstallObjectsOfType(phase.Type, phase.Status);
    } catch (...) {
        afterInstallObjects();
        throw;
    }
    afterInstallObjects();
    if (FStopped) return;

    if (FUnfinishedCount > 0 || FReboot) RegisterRunOnReboot();
    const bool restartRequested = FReboot;
    if (FReboot) {
        if (TTranslator* translator = CurrentTranslator(); translator && !RunRecordKey().empty())
            WriteRegistryInteger(4, RunRecordKey(), "Language", static_cast<int32_t>(translator->TranslateIntoLanguage()));
        SendDialogCode(this, this, dcReboot, nullptr);
        bool proceed = FReboot;
        if (OnBeforeReboot) OnBeforeReboot(this, proceed);
        FReboot = proceed;
        if (FReboot) {
            RestartWindows();
            ApplicationTerminate();
        }
    }
    if (restartRequested) {
        // The completion run after the restart shows the good-install pages and cleans up.
        FInRun = false;
        ApplicationTerminate();
        return;
    }
    FinishGoodRun();
}

void TCustomInstall::FinishGoodRun() {
    NotifyGoodInstall();
    Cleanup();
    CleanupRegistry();
    if (FRunAutomatic) Shutdown();
    RunFilesAfterInstall();
    FInRun = false;
}

void TCustomInstall::InstallObjectsOfType(int type, const std::string& statusText) {
    bool shown = false;
    try {
        const std::vector<TInstallContainer*> components = InstallComponents();
        for (TInstallContainer* component : components) {
            const auto& live = InstallComponents();
            if (std::find(live.begin(), live.end(), component) == live.end()) continue;
            if (component->RegisteredType() != type) continue;
            if (!shown && !Trim(statusText).empty()) {
                shown = true;
                ShowStatusText(statusText);
            }
            component->Process();
        }
    } catch (...) {
        if (shown) HideStatusText();
        throw;
    }
    if (shown) HideStatusText();
}

void TCustomInstall::NotifyGoodInstall() {
    if (OnBeforeNotifyGoodInstall) OnBeforeNotifyGoodInstall(this);
    SendDialogCode(this, this, dcGoodInstall, nullptr);
    SendDialogCode(this, this, dcGoodInstallWizard, nullptr);
    if (OnAfterNotifyGoodInstall) OnAfterNotifyGoodInstall(this);
}

void TCustomInstall::NotifyBadInstall() {
    if (OnBeforeNotifyBadInstall) OnBeforeNotifyBadInstall(this);
    SendDialogCode(this, this, dcBadInstall, nullptr);
    SendDialogCode(this, this, dcBadInstallWizard, nullptr);
    if (OnAfterNotifyBadInstall) OnAfterNotifyBadInstall(this);
}

void TCustomInstall::HandleInstallError(TObject* Sender, const std::exception& E) {
    TUIServices& report = FErrorServices ? FErrorServices->Previous() : UIServices();
    if (!FInRun) {
        report.HandleException(Sender, E);
        return;
    }
    FInRun = false;
    FStopped = true;
    try {
        if (dynamic_cast<const EAIUserAbort*>(&E)) {
            NotifyBadInstall();
            Cleanup();
            CleanupRegistry();
            if (FRunAutomatic) Shutdown();
        } else {
            NotifyBadInstall();
            report.HandleException(Sender, E);
            Shutdown();
        }
    } catch (...) {
        if (FRunAutomatic) ApplicationTerminate();
    }
}

bool TCustomInstall::Shutdown() {
    bool quitOut = true;
    if (OnBeforeShutdown) OnBeforeShutdown(this, quitOut);
    if (quitOut) ApplicationTerminate();
    return !quitOut;
}

void TCustomInstall::RunFilesAfterInstall() {
    const std::vector<TCustomInstallFile*> files = InstallFiles();
    for (TCustomInstallFile* file : files) {
        if (!file->RunAfterInstall()) continue;
        bool defaultAction = true;
        if (OnBeforeRunFile) OnBeforeRunFile(this, file, defaultAction);
        if (!file->RunAfterInstall() || !defaultAction) continue;
        TProgramLauncher launcher(nullptr);
        launcher.SetFileName(file->FullDestPath());
        if (!file->RunParameters.empty()) launcher.SetParameters(file->RunParameters);
        launcher.SetShowMode(smNormal);
        launcher.Execute();
    }
}

void TCustomInstall::Cleanup() {
    if (!FUseLoadingProgram || FCommandLine.Has(ioDebug) || !FCommandLine.Has(ioCleanup) || IsDesigning(this)) return;
    bool proceed = true;
    if (OnBeforeCleanup) OnBeforeCleanup(this, proceed);
    if (!proceed) return;
    const std::string program = SetupProgramPath();
    const std::string folder = RemoveBackslash(ExtractFileDir(program));
    const std::string temp = AddBackslash(RemoveBackslash(WinExpandFileName(WinTempDir())));
    const std::string list = JoinPath(folder, LoaderListFileName);
    // Only the loader's own temporary folder is emptied, and of it only what the loader unpacked.
    const std::string inside = AddBackslash(WinExpandFileName(folder));
    if (inside.size() <= temp.size() || !SameText(inside.substr(0, temp.size()), temp) || !WinFileExists(list)) return;
    TStringList names;
    LoadWinTextFile(list, names);
    for (int i = 0; i < names.Count(); ++i)
        if (IsPlainFileName(Trim(names.Strings(i)))) WinDeleteFile(JoinPath(folder, Trim(names.Strings(i))));
    WinDeleteFile(list);
    WinRemoveDir(folder);

    // The running program and the folder go once the program has ended.
    const std::string batch = ChangeFileExt(GetTempFilePath(false), ".bat");
    const std::string text = "ERASE " + program + "\r\nDELTREE /Y " + folder + "\r\nERASE " +
                             ChangeFileExt(batch, ".PIF") + "\r\nERASE " + batch + "\r\n";
    TWinFileStream out;
    if (out.Open(batch, platform::FileAccess::Write, platform::FileShare::Exclusive, platform::FileCreate::CreateAlways) &&
        out.Write(text.data(), static_cast<int64_t>(text.size())) == static_cast<int64_t>(text.size()))
        FCleanupBatch = batch;
}

bool TCustomInstall::RestartWindows() {
    if (RequestWindowsRestart()) return true;
    if (OnFailedReboot)
        OnFailedReboot(this);
    else
        MessageDlg(TranslateMessageText("Could not reboot windows. Please manually reboot windows."), mtError, {mbOK});
    return false;
}

}  // namespace ostra
