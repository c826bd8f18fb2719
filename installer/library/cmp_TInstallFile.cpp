// The install file: identifiers, the property rules, the overwrite decision, the replacement of a
// target in use, extraction, compression, plain copies and the file's information.
#include "installer/library/cmp_TInstallFile.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "host/PropertyRegistry.h"
#include "host/UIServices.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileStream.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/library/routines_ActiveX.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Reboot.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"
#include "platform/VersionResource.h"

namespace ostra {

namespace {

const char* const FileTypeNames[] = {"iftNormal", "iftJustADLL", "iftApplicationSpecificDLL", "iftVendorSharedDLL",
                                     "iftSystemWideDLL"};
const char* const OverwriteNames[] = {"owAlways", "owNever", "owVersion", "owDate", "owVersionDate", "owAsk"};
const char* const AttributeNames[] = {"ffaArchive", "ffaCompressed", "ffaDirectory", "ffaHidden", "ffaNormal",
                                      "ffaOffline", "ffaReadOnly",   "ffaSystem",    "ffaTemporary"};

[[maybe_unused]] const bool kPublished =
    Publish<TCustomInstallFile, TFileRelated>()
        .String("DestName", &TCustomInstallFile::DestName, &TCustomInstallFile::SetDestName)
        .String("FileName", &TCustomInstallFile::FileName, &TCustomInstallFile::SetFileName)
        .Enum("FileType", &TCustomInstallFile::FileType, &TCustomInstallFile::SetFileType, FileTypeNames)
        .Default(iftNormal)
        .String("IncludeFromDir", &TCustomInstallFile::IncludeFromDir, &TCustomInstallFile::SetIncludeFromDir)
        .Enum("OverwriteMode", &TCustomInstallFile::OverwriteMode, &TCustomInstallFile::SetOverwriteMode,
              OverwriteNames)
        .Default(owAlways)
        .Boolean("UpdateDLLCounter", &TCustomInstallFile::UpdateDLLCounter, &TCustomInstallFile::SetUpdateDLLCounter)
        .Default(false)
        .Integer("UniqueID", &TCustomInstallFile::UniqueID, &TCustomInstallFile::SetUniqueID) &&
    // What a project's files publish beyond the uninstaller item.
    Publish<TInstallFile, TCustomInstallFile>()
        .Boolean("ActiveX", &TCustomInstallFile::ActiveX, &TCustomInstallFile::SetActiveX)
        .Default(false)
        .Set("InstallAttributes", &TCustomInstallFile::InstallAttributes, &TCustomInstallFile::SetInstallAttributes,
             AttributeNames)
        .Default(TFrnmFileAttributesSet{})
        .Boolean("Net", &TCustomInstallFile::Net, &TCustomInstallFile::SetNet)
        .Default(false)
        .Boolean("RegisterAsHelp", &TCustomInstallFile::RegisterAsHelp, &TCustomInstallFile::SetRegisterAsHelp)
        .Default(false)
        .Boolean("RunAfterInstall", &TCustomInstallFile::RunAfterInstall, &TCustomInstallFile::SetRunAfterInstall)
        .Default(false) &&
    (RegisterClass<TInstallFile>(), true);

// The identifiers in use, and whether the table was reset after the first file read from a form.
struct IdentifierTable {
    std::array<bool, MaxInstallFiles> Used{};
    bool Reset = false;
};
IdentifierTable& Identifiers() {
    static IdentifierTable table;
    return table;
}

std::vector<TCustomInstallFile*>& LiveFiles() {
    static std::vector<TCustomInstallFile*> list;
    return list;
}

bool gDeferredRegistration = false;

void Erase(std::vector<TCustomInstallFile*>& list, TCustomInstallFile* file) {
    list.erase(std::remove(list.begin(), list.end(), file), list.end());
}

std::string UpperExt(const std::string& name) { return UpperCase(ExtractFileExt(name)); }

bool IsStandard(const TCustomPathSpecifier* specifier, const TPathSpecifierClass& cls) {
    return specifier && cls.IsInstance(specifier);
}

}  // namespace

const std::vector<TCustomInstallFile*>& InstallFiles() { return LiveFiles(); }
bool DeferredRegistration() { return gDeferredRegistration; }
void SetDeferredRegistration(bool value) { gDeferredRegistration = value; }
std::vector<TCustomInstallFile*>& DeferredActiveXFiles() {
    static std::vector<TCustomInstallFile*> list;
    return list;
}

// ---------------------------------------------------------------- life

TCustomInstallFile::TCustomInstallFile(TComponent* AOwner) : TFileRelated(AOwner, rtInstallFile) {
    IdentifierTable& table = Identifiers();
    auto free = std::find(table.Used.begin(), table.Used.end(), false);
    // Two files with one identifier would share their data in the archives: refuse the file.
    if (free == table.Used.end())
        throw IECustomInstallFile("No more than %d install files can exist at once", {MaxInstallFiles});
    FUniqueID = static_cast<int>(free - table.Used.begin());
    *free = true;
    FProcessedByContainer = true;
    SetInclude(true);
    SetNet(false);
    LiveFiles().push_back(this);
}

TCustomInstallFile::~TCustomInstallFile() {
    Erase(DeferredActiveXFiles(), this);
    Erase(LiveFiles(), this);
    if (FUniqueID >= 0 && FUniqueID < MaxInstallFiles) Identifiers().Used[static_cast<size_t>(FUniqueID)] = false;
}

TCustomInstallFile* TCustomInstallFile::CreateFromFile(TComponent* AOwner, const std::string& fullSourcePath) {
    auto* file = CreateComponent<TInstallFile>(AOwner);
    file->SetIncludeFromDir(RemoveBackslash(ExtractFilePath(fullSourcePath)));
    file->SetFileName(ExtractFileName(fullSourcePath));
    return file;
}

TCustomInstallFile* TCustomInstallFile::CreateInContainer(TComponent* AOwner, TInstallContainer* container,
                                                          const std::string& fullSourcePath) {
    TCustomInstallFile* file = CreateFromFile(AOwner, fullSourcePath);
    file->SetContainer(container);
    return file;
}

void TCustomInstallFile::SetUniqueID(int value) {
    if (value < 0 || value >= MaxInstallFiles)
        throw IECustomInstallFile("The identifier %d of %s lies outside 0..1999", {value, Name()});
    IdentifierTable& table = Identifiers();
    if (FUniqueID >= 0) table.Used[static_cast<size_t>(FUniqueID)] = false;
    FUniqueID = value;
    table.Used[static_cast<size_t>(value)] = true;
}

void TCustomInstallFile::Loaded() {
    TFileRelated::Loaded();
    IdentifierTable& table = Identifiers();
    if (!table.Reset) {
        // Identifiers reserved by constructors while the form was read are released: the form's
        // own identifiers count.
        table.Used.fill(false);
        for (TCustomInstallFile* file : LiveFiles())
            if (file != this && !file->Loading() && file->FUniqueID >= 0) table.Used[static_cast<size_t>(file->FUniqueID)] = true;
        table.Reset = true;
    }
    table.Used[static_cast<size_t>(FUniqueID)] = true;
}

// ---------------------------------------------------------------- property rules

TCustomInstallFile::Values TCustomInstallFile::Current() const {
    return {Container(), FIncludeFromDir, FFileName, FDestName, DestDir(), DestDirType(), FFileType, FActiveX};
}

void TCustomInstallFile::ApplyRules(Values next) {
    Values now = Current();
    if (next.Container && !dynamic_cast<TFileContainer*>(next.Container))
        throw IECustomInstallFile(
            "The following TInstallFile component %s requires the Container property to be a component descended "
            "from the TFileContainer component",
            {Name()});
    const bool fileChanged = !SameText(next.FileName, now.FileName);
    const bool dirChanged = !SameText(next.IncludeFromDir, now.IncludeFromDir);
    if (next.Container && (next.Container != now.Container || fileChanged || dirChanged)) {
        std::string source = AddBackslash(next.IncludeFromDir) + next.FileName;
        TCustomInstallFile* other = static_cast<TFileContainer*>(next.Container)->FindFileBySource(source);
        if (other && other != this) throw IEfcDuplicateFile("There is already a file with the name :%s", {source});
    }
    if (fileChanged && !Trim(next.FileName).empty()) {
        next.DestName = next.FileName;
        GetFileAttributesSet(AddBackslash(next.IncludeFromDir) + next.FileName, FInstallAttributes);
    }
    if (fileChanged || dirChanged) {
        std::string ext = UpperExt(next.FileName);
        FRegisterAsHelp = ext == ".HLP" || ext == ".CNT";
        bool selfRegistering = false;
        try {
            selfRegistering = FileIsSelfRegistering(AddBackslash(next.IncludeFromDir) + next.FileName);
        } catch (const std::exception&) {
        }
        next.ActiveX = ext == ".TLB" || ext == ".OCX" || selfRegistering;
    }
    if (next.ActiveX && !now.ActiveX) next.FileType = iftSystemWideDLL;
    if (next.DestDirType != now.DestDirType) {
        std::string ext = UpperExt(next.FileName);
        if (ext.size() == 4 && (ext == ".DLL" || ext == ".OCX" || ext == ".BLL" || ext == ".EXE")) {
            if (IsStandard(next.DestDirType, PathSpecifierClassOf<TpsWindow>()) ||
                IsStandard(next.DestDirType, PathSpecifierClassOf<TpsBDEDLL>()))
                FOverwriteMode = owVersionDate;
            else if (IsStandard(next.DestDirType, PathSpecifierClassOf<TpsSystem>()))
                next.FileType = iftSystemWideDLL;
        }
    }
    if (next.FileType != now.FileType) {
        if (next.FileType == iftJustADLL || next.FileType == iftApplicationSpecificDLL) FOverwriteMode = owVersionDate;
        if (next.FileType == iftVendorSharedDLL || next.FileType == iftSystemWideDLL) {
            FUpdateDLLCounter = true;
            FOverwriteMode = owVersionDate;
        }
    }
    if (next.DestDirType != now.DestDirType) TInstallContainer::SetDestDirType(next.DestDirType);
    if (next.Container != now.Container) {
        TFileRelated::SetContainer(next.Container);
        // A new container brings its own folder specifier; keep what the caller asked for.
        next.DestDirType = DestDirType();
        next.DestDir = DestDir();
    }
    switch (next.FileType) {
        case iftApplicationSpecificDLL:
            next.DestDir = "\\System";
            TInstallContainer::SetDestDirType(&StandardPathSpecifiers().Find<TpsMainInstall>());
            break;
        case iftVendorSharedDLL:
            next.DestDir = "\\System";
            TInstallContainer::SetDestDirType(&StandardPathSpecifiers().Find<TpsCommonFiles>());
            break;
        case iftSystemWideDLL:
            next.DestDir.clear();
            TInstallContainer::SetDestDirType(&StandardPathSpecifiers().Find<TpsSystem>());
            break;
        default: break;
    }
    FIncludeFromDir = next.IncludeFromDir;
    FFileName = next.FileName;
    TInstallContainer::SetDestDir(next.DestDir);
    FDestName = next.DestName;
    FFileType = next.FileType;
    FActiveX = next.ActiveX;
}

#define OSTRA_FILE_SETTER(Field, Member, Type)           \
    if (Loading()) {                                     \
        Member;                                          \
        return;                                          \
    }                                                    \
    Values next = Current();                             \
    next.Field = value;                                  \
    ApplyRules(next)

void TCustomInstallFile::SetFileName(const std::string& value) { OSTRA_FILE_SETTER(FileName, FFileName = value, std::string); }
void TCustomInstallFile::SetDestName(const std::string& value) { OSTRA_FILE_SETTER(DestName, FDestName = value, std::string); }
void TCustomInstallFile::SetIncludeFromDir(const std::string& value) {
    OSTRA_FILE_SETTER(IncludeFromDir, FIncludeFromDir = value, std::string);
}
void TCustomInstallFile::SetFileType(TInstallFileType value) { OSTRA_FILE_SETTER(FileType, FFileType = value, int); }
void TCustomInstallFile::SetActiveX(bool value) { OSTRA_FILE_SETTER(ActiveX, FActiveX = value, bool); }
void TCustomInstallFile::SetDestDir(const std::string& value) {
    OSTRA_FILE_SETTER(DestDir, TInstallContainer::SetDestDir(value), std::string);
}
void TCustomInstallFile::SetDestDirType(TCustomPathSpecifier* value) {
    OSTRA_FILE_SETTER(DestDirType, TInstallContainer::SetDestDirType(value), int);
}
void TCustomInstallFile::SetContainer(TInstallContainer* value) {
    OSTRA_FILE_SETTER(Container, TFileRelated::SetContainer(value), int);
}
#undef OSTRA_FILE_SETTER

void TCustomInstallFile::SetState(TInstallFileState value) {
    struct Reset {
        TInstallFileState& state;
        ~Reset() { state = ifsNone; }
    } reset{FState};
    switch (value) {
        case ifsCompress: Compress(); break;
        case ifsInstall: Process(); break;
        case ifsCopying: CopyFile(); break;
        default: break;
    }
}

void TCustomInstallFile::SetSourceInfo(int64_t size, TDateTime date, const std::string& version) {
    FSize = size;
    FSourceDate = date;
    FSourceVersion = version.substr(0, 20);
}

// ---------------------------------------------------------------- paths

std::string TCustomInstallFile::FullSourcePath() const { return AddBackslash(FIncludeFromDir) + FFileName; }
std::string TCustomInstallFile::FullDestPath() { return AddBackslash(GetFullDestDir()) + FDestName; }

bool TCustomInstallFile::HasOwnArchive() const {
    return NetLocation() || FOverwriteMode == owVersion || FOverwriteMode == owDate || FOverwriteMode == owVersionDate;
}

std::string TCustomInstallFile::GetFullArchiveFile() {
    const TDistributeType type = CurrentDistributeType();
    if (type == dtWeb || (type != dtTraditional && Net())) {
        if (FState == ifsInstall) {
            if (HasOwnArchive() && HasLocalArchive()) {
                if (!Trim(LocalArchive()).empty()) return LocalArchive();
                std::string recorded;
                FindRecordedLocalFile(recorded);
                return recorded;
            }
            if (auto* container = dynamic_cast<TFileContainer*>(Container()); container && container->HasLocalArchive())
                return container->GetLocalArchivePath();
        }
        if (FState == ifsReflect) return {};
    }
    return TFileRelated::GetFullArchiveFile();
}

void TCustomInstallFile::CheckDestDir() {
    if (Trim(GetFullDestDir()).empty())
        throw IECustomInstallFile(
            "Cannot compress,copy, or install the following file because it's destination directory is blank. File "
            "is :%s",
            {Name()});
}

void TCustomInstallFile::ArchiveBlank() {
    throw IECustomInstallFile(
        "Cannot either compress or decompress the following file because it's archive file property is blank. File "
        "is :%s",
        {FFileName});
}

void TCustomInstallFile::Abort() { throw EAIUserAbort(); }

// ---------------------------------------------------------------- install

int TCustomInstallFile::OverwriteDecision() {
    const std::string target = FullDestPath();
    if (FOverwriteMode == owAlways) return 2;
    if (FOverwriteMode == owAsk) return 4;
    // A target that is not there is always written, whatever the mode compares.
    if (Trim(FDestName).empty() || !WinFileExists(target)) return 2;
    switch (IsFileNewerByInfo(FSourceVersion, target, FOverwriteMode, FSourceDate)) {
        case 1:
        case 3: return 3;
        case 4: return 4;
        default: return 2;
    }
}

void TCustomInstallFile::InstallObjects() {
    FInstalledUnderNumberedName = false;
    FNumberedName.clear();
    try {
        Inform(icBeforeInstall, this);
        if (OnBeforeInstall) OnBeforeInstall(this);
    } catch (const EAbort&) {
        Inform(icFileSkipped, this);
        return;
    }
    CheckDestDir();
    FReplaceTarget = false;
    int decision = OverwriteDecision();
    if (decision == 4)
        decision = MessageDlg(Format(TranslateMessageText("Copy This File %s?"), {FFileName}), mtConfirmation,
                              TMsgDlgButtons{mbYes, mbNo}) == mrYes
                       ? 2
                       : 3;
    if (decision == 2) {
        try {
            ReplaceLockedFile();
        } catch (const EAbort&) {
            decision = 3;
        }
    }
    if (decision != 2) {
        Inform(icTargetKept, this);
        AfterInstallSteps();
        if (OnAfterInstall) OnAfterInstall(this);
        Inform(icFileInstalled, this);
        TInstallContainer::InstallObjects();
        return;
    }
    std::string recorded;
    if (FindRecordedLocalFile(recorded)) SetLocalArchive(recorded);
    Extract();
}

void TCustomInstallFile::ReplaceLockedFile() {
    if (OnReplacing) OnReplacing(this);
    SendDialogCode(this, this, dcReplaceFile, this);
    Inform(icReplacing, this);
    FReplaceTarget = true;
    const std::string target = FullDestPath();
    if (!WinFileExists(target)) return;
    // Whether the target can be replaced now is tried by moving it aside and back: nothing is lost
    // when the extraction fails afterwards.
    std::string aside;
    if (WinGetTempFileName(GetFullDestDir(), "frn", aside)) {
        const bool movable = WinMoveFileEx(target, aside, WinMoveReplaceExisting);
        if (movable) {
            WinMoveFileEx(aside, target, WinMoveReplaceExisting);
            return;
        }
        WinDeleteFile(aside);
    }
    FInstalledUnderNumberedName = true;
    const std::string folder = AddBackslash(GetFullDestDir());
    for (int n = 1;; ++n) {
        FNumberedName = ChangeFileExt(FDestName, "." + std::to_string(n));
        if (!WinFileExists(folder + FNumberedName)) break;
    }
    ScheduleMoveAtRestart(target, folder + FNumberedName);
}

void TCustomInstallFile::ScheduleMoveAtRestart(const std::string& target, const std::string& numbered) {
    const std::string shortTarget = GetShortPath(target);
    const std::string shortNumbered = ExtractFilePath(shortTarget) + ExtractFileName(numbered);
    IInstallRoot* root = CurrentInstall();
    if (Win9xFamily.Contains(GetWindowsVersionCode())) {
        SetWininitRename(shortTarget, shortNumbered);
        if (root) root->SetReboot(true);
        return;
    }
    if (root) root->SetReboot(true);
    if (WinMoveFileEx(numbered, target, WinMoveReplaceExisting | WinMoveDelayUntilReboot) || !root) return;
    // The delayed move could not be recorded: a batch run once at the next start moves the file.
    const std::string batch = ChangeFileExt(GetTempFilePath(false), ".bat");
    const std::string text = "erase " + shortTarget + "\r\nmove " + shortNumbered + " " + shortTarget + "\r\n";
    TWinFileStream out;
    bool written = out.Open(batch, platform::FileAccess::Write, platform::FileShare::Exclusive,
                            platform::FileCreate::CreateAlways) &&
                   out.Write(text.data(), static_cast<int64_t>(text.size())) == static_cast<int64_t>(text.size());
    out.Close();
    if (written) root->AddUnfinished(batch, 1);
    if (!written || !WriteRunOnceEntry("FernmoorBatFile", batch, true))
        throw IECustomInstallFile(
            "%s cannot register a routine in the register to move the files after the computer is reboot", {Name()});
}

void TCustomInstallFile::SetUpArchive(TFrnmCompress& archive) {
    archive.OnAborted = [this](TObject*) { Abort(); };
    archive.OnStatus = [this](TFrnmCompress* a, const TlzhFileStats& stats) { ArchiveStatus(a, stats); };
    archive.OnNewDisk = [this](TFrnmCompress* a, int disk, std::string& path) { ArchiveNewDisk(a, disk, path); };
    TStringList files;
    files.Add(FullSourcePath());
    archive.SetFilesToProcess(files);
}

void TCustomInstallFile::ClearArchiveHandlers(TFrnmCompress& archive) {
    archive.OnAborted = nullptr;
    archive.OnStatus = nullptr;
    archive.OnNewDisk = nullptr;
}

void TCustomInstallFile::Extract() {
    // The archive component: a new one for net files and for archives other than the run's.
    TFrnmCompress* archive = nullptr;
    std::unique_ptr<TFrnmCompress> own;
    const TDistributeType type = CurrentDistributeType();
    FState = ifsInstall;
    struct EndState {
        TInstallFileState& state;
        ~EndState() { state = ifsNone; }
    } endState{FState};
    if (type != dtTraditional && (Net() || type == dtWeb)) {
        if (HasOwnArchive())
            DownloadArchive();
        else if (auto* container = dynamic_cast<TFileContainer*>(Container()); container && !container->HasLocalArchive())
            container->DownloadArchive();
    } else if (IInstallRoot* root = CurrentInstall()) {
        auto* rootArchive = dynamic_cast<IFileRelated*>(root->RootContainer());
        if (rootArchive && SameText(rootArchive->GetFullArchiveFile(), GetFullArchiveFile()))
            archive = &GlobalArchiveComponent();
    }
    if (!archive) {
        own = std::make_unique<TFrnmCompress>(nullptr);
        archive = own.get();
    }
    WinForceDirectories(GetFullDestDir());
    const std::string archiveFile = GetFullArchiveFile();
    if (Trim(archiveFile).empty()) ArchiveBlank();
    auto finish = [&] {
        ClearArchiveHandlers(*archive);
        archive->OnAborted = nullptr;
        if (archive->Abort()) GlobalArchiveComponent().SetAbort(true);
        try {
            SendDialogCode(this, this, dcStepEnded, nullptr);
        } catch (...) {
            archive->SetAbort(true);
            throw;
        }
    };
    try {
        archive->SetCompressedFile(archiveFile);
        archive->SetExtractDirectory(GetFullDestDir());
        archive->SetExtractName(FInstalledUnderNumberedName ? FNumberedName : FDestName);
        archive->SetOverwrite(FOverwriteMode);
        SetUpArchive(*archive);
        archive->Extract();
        AfterInstallSteps();
        if (OnAfterInstall) OnAfterInstall(this);
        Inform(icFileInstalled, this);
        TInstallContainer::InstallObjects();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TCustomInstallFile::ArchiveStatus(TFrnmCompress*, const TlzhFileStats& stats) {
    TFileStatusParameter parameter;
    parameter.FileBytesDone = static_cast<int>(stats.BytesDone);
    parameter.FilePercent = stats.Percent;
    parameter.FileName = FFileName;
    parameter.FileStats = stats;
    parameter.TotalBytesDone = static_cast<int>(stats.TotalBytesDone);
    parameter.TotalPercent = stats.TotalPercent;
    if (OnStatus) OnStatus(this, stats.Percent, stats.TotalPercent);
    SendDialogCode(this, this, dcFileStatus, &parameter);
    TParameterPair pair(this, &parameter);
    switch (FState) {
        case ifsCompress: Inform(icCompressStatus, &pair); break;
        case ifsInstall: Inform(icInstallStatus, &pair); break;
        case ifsCopying: Inform(icCopyStatus, &pair); break;
        default: break;
    }
}

void TCustomInstallFile::ArchiveNewDisk(TFrnmCompress* archive, int disk, std::string& path) {
    SetTag(0);
    TDiskParameter parameter;
    parameter.DiskNumber = disk;
    parameter.Path = RemoveBackslash(ExtractFilePath(GetFullArchiveFile()));
    TParameterPair pair(this, &parameter);
    if (OnNewDisk) OnNewDisk(this, disk, parameter.Path);
    SendDialogCode(this, this, dcNewDisk, &pair);
    Inform(icNewDisk, &pair);
    if (!OnNewDisk && Tag() == 0 &&
        MessageDlg(Format(TranslateMessageText("Please insert disk #%d"), {disk}), mtInformation,
                   TMsgDlgButtons{mbOK, mbCancel}) == mrCancel)
        archive->SetAbort(true);
    path = RemoveBackslash(parameter.Path);
    try {
        StandardPathSpecifiers().Find<TpsMainArchiveFile>().ArchiveFolder = path;
    } catch (const std::exception&) {
    }
    SetTag(0);
}

// ---------------------------------------------------------------- build side

void TCustomInstallFile::RunBuildStep(TInstallFileState state, const std::function<void()>& body) {
    FState = state;
    TFrnmCompress& archive = GlobalArchiveComponent();
    struct End {
        TCustomInstallFile* self;
        TFrnmCompress& archive;
        ~End() {
            self->FState = ifsNone;
            self->ClearArchiveHandlers(archive);
            // The abort flag stays as the operation left it: set only when it was aborted or failed.
            try {
                SendDialogCode(self, self, dcStepEnded, nullptr);
            } catch (...) {
            }
        }
    } end{this, archive};
    try {
        body();
    } catch (const EAbort&) {
        // A handler's silent abort, or an excluded file, skips the step.
    }
}

void TCustomInstallFile::Compress() {
    RunBuildStep(ifsCompress, [this] {
        TFrnmCompress& archive = GlobalArchiveComponent();
        if (OnBeforeCompress) OnBeforeCompress(this);
        Inform(icBeforeCompress, this);
        const std::string archiveFile = GetFullArchiveFile();
        if (Trim(archiveFile).empty()) ArchiveBlank();
        if (!Include()) throw EAbort("");
        WinForceDirectories(ExtractFileDir(archiveFile));
        archive.SetCompressedFile(archiveFile);
        SetUpArchive(archive);
        archive.Compress(AddToArchive() == lzcOnlyAdd, FUniqueID);
        FCompressState = 2;
        if (OnAfterCompress) OnAfterCompress(this);
        Inform(icAfterCompress, this);
    });
}

void TCustomInstallFile::CopyFile() {
    RunBuildStep(ifsCopying, [this] {
        TFrnmCompress& archive = GlobalArchiveComponent();
        if (OnBeforeCopy) OnBeforeCopy(this);
        Inform(icBeforeCopy, this);
        if (!Include()) throw EAbort("");
        CheckDestDir();
        WinForceDirectories(GetFullDestDir());
        archive.OnStatus = [this](TFrnmCompress* a, const TlzhFileStats& stats) { ArchiveStatus(a, stats); };
        archive.SetOverwrite(FOverwriteMode);
        archive.CopyFile(FullSourcePath(), FullDestPath());
        if (OnAfterCopy) OnAfterCopy(this);
        Inform(icAfterCopy, this);
    });
}

void TCustomInstallFile::ReadFileInfo() {
    const std::string path = FullSourcePath();
    TWinFileStream in;
    if (!in.Open(path, platform::FileAccess::Read, platform::FileShare::DenyNone, platform::FileCreate::OpenExisting))
        throw IECustomInstallFile(
            "Could not open or find the following file when trying to read the Size, Date, and Version :%s", {path});
    FSize = in.Size();
    in.Close();
    TDateTime date = 0;
    WinGetLastWriteTime(path, date);
    FSourceDate = date;
    TVersionResource& reader = SharedVersionResource();
    reader.SetFileName(path);
    FSourceVersion = reader.VersionInfo()->FileVersion.substr(0, 20);
}

void TCustomInstallFile::ReadInfoFromArchive() {
    if (InstallRunning() && FInfoRead) return;
    const TDistributeType type = CurrentDistributeType();
    std::string archiveFile;
    if (type == dtTraditional || (type == dtTraditionalNet && !Net())) {
        archiveFile = GetFullArchiveFile();
    } else if (HasOwnArchive() && HasLocalArchive()) {
        archiveFile = LocalArchive();
        if (Trim(archiveFile).empty()) FindRecordedLocalFile(archiveFile);
    } else if (auto* container = dynamic_cast<TFileContainer*>(Container())) {
        if (!container->HasLocalArchive()) return;
        archiveFile = container->GetLocalArchivePath();
    } else {
        throw IECustomInstallFile(
            "%s cannot perform ReadInfoFromArchive because either no container is assigned or the container is not "
            "TFileContainer",
            {Name()});
    }
    if (Trim(archiveFile).empty()) ArchiveBlank();
    TFrnmCompress* archive = nullptr;
    std::unique_ptr<TFrnmCompress> own;
    if (IInstallRoot* root = CurrentInstall())
        if (auto* rootArchive = dynamic_cast<IFileRelated*>(root->RootContainer());
            rootArchive && SameText(rootArchive->GetFullArchiveFile(), archiveFile))
            archive = &GlobalArchiveComponent();
    if (!archive) {
        own = std::make_unique<TFrnmCompress>(nullptr);
        archive = own.get();
    }
    archive->SetCompressedFile(archiveFile);
    int position = archive->IndexOfID(FUniqueID);
    if (position < 0) return;
    const TFileHeaderRecord& header = archive->GetFileStats(position).Header;
    FCompressedSize = header.CompressedSize;
    SetSourceInfo(header.FileSize, header.FileDate, header.FileVersion);
    FInfoRead = true;
}

void WriteFileListRecord(TCustomInstallFile& file, TStream& stream) {
    if (file.Name().size() >= 40)
        throw IECustomInstallFile("The name of %s is too long for the file list (at most 39 characters)",
                                  {file.Name()});
    char record[80] = {};
    const int32_t size = static_cast<int32_t>(file.Size());
    const TDateTime date = file.SourceDate();
    std::memcpy(record, &size, 4);
    std::memcpy(record + 8, &date, 8);
    std::memcpy(record + 16, file.Name().data(), file.Name().size());
    std::memcpy(record + 56, file.SourceVersion().data(), std::min<size_t>(file.SourceVersion().size(), 20));
    stream.WriteBuffer(record, sizeof record);
}

}  // namespace ostra
