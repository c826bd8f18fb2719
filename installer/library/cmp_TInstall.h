// The install run: TCustomInstall, the root component of an install project, and TInstall, the
// same class with its properties published. The project's top-level folders and files are its
// children (it is a file container), and it is the IInstallRoot that the rest of the tree asks.
//
// When its form has been loaded the component chooses what the program does this time (Loaded):
//   "-b"  build the distribution from "BUILD.INF" (cmp_TInstallBuild.cpp),
//   "-f"  copy a self-extracting setup onto floppy disks (cmp_TInstallBuild.cpp),
//   "-r"  finish an installation after a restart (cmp_TInstallRunRecord.cpp),
//   else  hook the main form's first activation and run the installation then (Process).
//
// The run: the run record in the registry, the archive information, the wizard (dialog codes
// -986, -980), the installation of the children, the install phases by registered type, then a
// restart, or the good-install pages, the clean-up, the shutdown and the files to run. Every
// exception that escapes the run reaches HandleInstallError (the component puts itself in front of
// the application's exception report while it lives), which shows the bad-install pages and ends
// the run: an error that a dialog's own loop handled while a page was shown stops the run too, and
// nothing after the wizard happens then.
//
// The run record (cmp_TInstallRunRecord.cpp): HKEY_LOCAL_MACHINE "\SOFTWARE\Tegu\Install\Install<n>",
// found by the setup program's file date and size; it holds the work left for the completion run
// after a restart ("Unfinished"), the wizard's language and the downloaded archives.
#pragma once
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Forms.h"
#include "host/Set.h"
#include "host/StringList.h"
#include "installer/library/cmp_TFileContainer.h"
#include "installer/library/cmp_TInstallInformation.h"

namespace ostra {

class TCustomInstall;
class TCustomInstallFile;

class IEInstallNetLocNil : public IEInstall {
public:
    using IEInstall::IEInstall;
};

// ---------------------------------------------------------------- command line

// The options of the setup program's command line, by set member.
enum TInstallOption {
    ioBuild,        // b: build the distribution from "BUILD.INF"
    ioFloppy,       // f: copy the self-extracting setup onto floppy disks
    ioDebug,        // d: run from the development environment (needs -s; no clean-up)
    ioSelfExtract,  // e: started by the self-extracting loader; value: the setup file's name
    ioReboot,       // r: completion run after a restart
    ioSource,       // s: folder of the loading program and install source; value: the folder
    ioCleanup,      // c: clean up the loader's folder at the end (passed on to the restart)
    ioNewRun,       // n: clear the unfinished list at the start of the run
};
using TInstallOptions = TSet<TInstallOption>;

struct TInstallCommandLine {
    TInstallOptions Options;
    std::array<std::string, 8> Values;
    bool Has(TInstallOption option) const { return Options.Contains(option); }
    const std::string& Value(TInstallOption option) const { return Values[option]; }
};

// Parses the parameters: each is one option, at least two characters, "-" or "*", the letter (either
// case), then the value. A later option of the same letter replaces the value. Raises IException
// "Invalid parameter <%s>. Valid command line parameters are: ..." for a parameter shorter than two
// characters, a first character other than "-" and "*", and an unknown letter after "-"; an
// unknown letter after "*" is the loading program's own option and is ignored.
TInstallCommandLine ParseInstallCommandLine(const std::vector<std::string>& parameters);

// ---------------------------------------------------------------- build settings

class TBuildInfo : public TPersistent {
public:
    void Assign(const TPersistent* Source) override;

    bool AddUninstallOnCreate = true;
    std::string AppName, AppURL, CredentialsFile, PrivateKeyFile, URLPath;
    std::string BuildDirectory = "c:\\build";
    std::string OCXName = "fmsetup";
    bool SignCode = false;
    std::string FrnmVersion() const { return "5.20.00"; }
};

// ---------------------------------------------------------------- events

using TInstallNotifyEvent = std::function<void(TObject* Sender)>;
using TInstallContinueEvent = std::function<void(TCustomInstall* Install, bool& Continue)>;
using TInstallRunFileEvent =
    std::function<void(TCustomInstall* Install, TCustomInstallFile* FileToRun, bool& DefaultAction)>;
using TCopyApplicationEvent = std::function<void(TObject* Sender, std::string& FileName)>;
using TTransferStatusEvent = std::function<void(TObject* Sender, const TlzhFileStats& Stats)>;

// ---------------------------------------------------------------- the component

class TCustomInstall : public TFileContainer, public IInstallRoot {
public:
    // Refuses a second install component in the process and an owner that is neither a form nor a
    // data module (IEInstall). Becomes the current install; outside the designer it also stands in
    // front of the application's exception report (HandleInstallError).
    explicit TCustomInstall(TComponent* AOwner);
    ~TCustomInstall() override;

    // --- properties
    bool AutoMaximizeWindow() const { return FAutoMaximizeWindow; }
    virtual void SetAutoMaximizeWindow(bool value);
    bool HideMainForm() const { return FHideMainForm; }
    virtual void SetHideMainForm(bool value);
    TBuildInfo* BuildInfo() const { return FBuildInfo.get(); }
    virtual void SetBuildInfo(const TBuildInfo* value) { FBuildInfo->Assign(value); }
    TDistributeType DistributeType() const override { return FDistributeType; }
    virtual void SetDistributeType(TDistributeType value);
    void SetNetLocation(TCustomNetInstallLocation* value) override;
    TInstallInformation* Information() const { return FInformation.get(); }
    TControlPanelExtensionInformation* win2KExtendedInformation() const { return FExtended.get(); }
    bool NoUninstall() const { return FNoUninstall; }
    void SetNoUninstall(bool value) { FNoUninstall = value; }
    TStrings* PresetupFiles() const { return FPresetupFiles.get(); }
    // Copies the lines, dropping blank ones.
    virtual void SetPresetupFiles(const TStrings* value);
    bool Reboot() const override { return FReboot; }
    void SetReboot(bool value) override { FReboot = value; }
    bool RunAutomatic() const { return FRunAutomatic; }
    void SetRunAutomatic(bool value) { FRunAutomatic = value; }
    bool UseLoadingProgram() const { return FUseLoadingProgram; }
    // Outside loading, True also makes the main archive the archive (ArchiveFileType
    // TpsMainArchiveFile, ArchiveFile empty).
    virtual void SetUseLoadingProgram(bool value);

    // --- IInstallRoot
    TInstallContainer* RootContainer() override { return this; }
    std::string CompanyName() const override { return FInformation->CompanyName; }
    std::string ProductName() const override { return FInformation->ProductName; }
    std::string Version() const override { return FInformation->Version; }
    bool Running() const override { return FInRun; }
    std::string InstallSourceFolder() const override;
    bool SelfExtracting() const override { return FCommandLine.Has(ioSelfExtract); }
    std::string SelfExtractingName() const override { return FCommandLine.Value(ioSelfExtract); }
    bool ConfirmUserAbort() override;
    TControlPanelExtensionInformation* ControlPanelInformation() override { return FExtended.get(); }
    TRegistrationInformation* RegistrationInformation() override { return FRegistration.get(); }
    void ClearAddUninstallOnCreate() override { FBuildInfo->AddUninstallOnCreate = false; }

    // --- the run (cmp_TInstall.cpp)
    void Loaded() override;
    // The installation run.
    void Process() override;
    // Processes every install component of the type, in list order, with the status text shown
    // around them when there is one (hidden again also after a failure).
    virtual void InstallObjectsOfType(int type, const std::string& statusText);
    virtual void NotifyGoodInstall();
    virtual void NotifyBadInstall();
    // The application's exception handler while the component lives: outside a run the usual
    // report; in a run the bad-install pages and the end of the run.
    virtual void HandleInstallError(TObject* Sender, const std::exception& E);
    virtual void RunFilesAfterInstall();
    // Removes the loading program's temporary folder ("-c"; see the file comment of the .cpp).
    virtual void Cleanup();
    // OnBeforeShutdown, then the request to end the program; true when the program stays.
    bool Shutdown();
    // Restarts Windows; false when the request failed (the failure is reported).
    bool RestartWindows();
    bool Stopped() const { return FStopped; }
    // The setup program's file (Windows form).
    std::string SetupProgramPath() const;
    // The clean-up batch waiting for the destructor ("" when none).
    const std::string& CleanupBatchPath() const { return FCleanupBatch; }

    // --- command line, run record and restart (cmp_TInstallRunRecord.cpp)
    virtual void ParseCommandLine();
    const TInstallCommandLine& CommandLine() const { return FCommandLine; }
    // Finds the run record of the setup program (creating one when allowed); its key, or "".
    std::string RegisterInstallRun(bool create);
    void AddUnfinished(const std::string& name, int code) override;
    virtual void ReadUnfinished(TStrings& list);
    virtual void ClearUnfinished();
    virtual void RegisterRunOnReboot();
    // The command the RunOnce entry runs.
    std::string RestartCommand();
    // The completion run after a restart.
    void FinishAfterReboot() override;
    virtual void CleanupRegistry();
    int UnfinishedCount() const { return FUnfinishedCount; }

    // --- build and floppy transfer (cmp_TInstallBuild.cpp)
    virtual void Build(const std::string& programPath, const std::string& folder, bool standAlone);
    virtual void CreateSetupFile(const std::string& folder, const std::string& programPath);
    // Resets the compress state of every install file, then compresses as a file container.
    void Compress(uint8_t options) override;
    void ReadInfoFromArchive() override;
    // "-b": reads the build folder from "BUILD.INF" beside the setup program and builds a
    // stand-alone setup; any failure is shown; the program is asked to end in every case.
    void BuildFromBuildInf();
    // "-f": copies the self-extracting setup onto the drive (Windows form, "a:").
    void TransferToFloppies(const std::string& drive);

    // --- events
    TInstallNotifyEvent OnAfterInitialized, OnBeforeReadArchiveInfo, OnAfterReadArchiveInfo;
    TInstallNotifyEvent OnBeforeNotifyGoodInstall, OnAfterNotifyGoodInstall, OnBeforeNotifyBadInstall,
        OnAfterNotifyBadInstall, OnFailedReboot;
    TInstallContinueEvent OnBeforeReboot, OnBeforeCleanup, OnBeforeShutdown, OnUserAbort;
    TInstallRunFileEvent OnBeforeRunFile;
    TInstallNotifyEvent OnBeforeCreateSetupFile, OnAfterCreateSetupFile, OnAfterCopyApplication, OnBeforeCompress,
        OnAfterCompress, OnBeforeSelfExtractFile, OnAfterSelfExtractFile, OnBeforeDestroy;
    TCopyApplicationEvent OnBeforeCopyApplication;
    TTransferStatusEvent OnTransferStatus;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    class TErrorServices;
    void ActivationHook(TObject* Sender);
    // The end of a good run and of the completion run.
    void FinishGoodRun();
    void ReadRemoteFileList();
    void WriteFileList();
    std::string SetupFilePath() const;

    bool FAutoMaximizeWindow = true, FHideMainForm = false, FNoUninstall = false, FReboot = false;
    bool FRunAutomatic = true, FUseLoadingProgram = true;
    TDistributeType FDistributeType = dtTraditional;
    std::unique_ptr<TBuildInfo> FBuildInfo;
    std::unique_ptr<TInstallInformation> FInformation;
    std::unique_ptr<TControlPanelExtensionInformation> FExtended;
    std::unique_ptr<TRegistrationInformation> FRegistration;
    std::unique_ptr<TStringList> FPresetupFiles;

    TInstallCommandLine FCommandLine;
    std::string FInstallSource;
    bool FActivated = false;
    TNotifyEvent FSavedOnActivate;
    bool FHookedActivation = false;
    TCustomForm* FMainForm = nullptr;
    // The same form as a component: the destructor may run while the form is half destroyed.
    TComponent* FMainFormComponent = nullptr;
    bool FInRun = false, FStopped = false;
    int FUnfinishedCount = 0;
    bool FArchiveInfoRead = false;
    std::string FCleanupBatch;
    std::unique_ptr<TErrorServices> FErrorServices;
};

class TInstall : public TCustomInstall {
public:
    using TCustomInstall::TCustomInstall;
};

// The run's start time (taken at the start of every run; written as "LastRunDate").
TDateTime InstallRunStartTime();

}  // namespace ostra
