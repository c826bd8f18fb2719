// The removal sequence and its steps.
#include "uninstaller/Uninstaller.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "host/Collation.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "host/UIServices.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TProgramLauncher.h"
#include "installer/library/routines_ActiveX.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/routines_Reboot.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_UninstallRecord.h"
#include "uninstaller/IniText.h"
#include "uninstaller/WinBde.h"

namespace ostra {

namespace {

constexpr int LocalMachine = 4;
constexpr const char* BorlandKey = "\\Software\\Borland";
constexpr const char* BorlandLw32Key = "\\Software\\Borland\\BLW32";

// A view for a removal that no window watches.
class TNoView : public IUninstallView {
public:
    void StepStarted(TRemovalStep) override {}
    void StepDone(TRemovalStep) override {}
    void ShowProgress(bool) override {}
    void SetProgress(int) override {}
    void Repaint() override {}
};

// The framework's plain message box: the text and OK.
void ShowMessage(const std::string& text) { MessageDlg(text, mtCustom, TMsgDlgButtons{mbOK}); }

// The folder part of a path, without its trailing backslash ("" when there is none).
std::string FolderOf(const std::string& path) {
    size_t cut = path.find_last_of('\\');
    return cut == std::string::npos ? "" : path.substr(0, cut);
}

bool KeyExists(int rootIndex, const std::string& key) {
    TfrnmRegistry registry;
    SetRegistryRootByIndex(registry, rootIndex);
    return registry.KeyExists(key);
}

// True when the key has neither values nor subkeys (false when it cannot be opened).
bool KeyIsEmpty(TfrnmRegistry& registry) {
    TStringList values;
    registry.GetValueNames(values);
    return values.Count() == 0 && !registry.HasSubKeys();
}

// The size of a file in bytes; -1 when it cannot be had.
int64_t FileSize(const std::string& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(WinToNative(path), error);
    return error ? -1 : static_cast<int64_t>(size);
}

}  // namespace

TUninstaller::TUninstaller(const std::vector<std::string>& productWords, std::string programPath, IUninstallView* view)
    : FProgramPath(std::move(programPath)), FView(view) {
    if (!FView) {
        FNoView = std::make_unique<TNoView>();
        FView = FNoView.get();
    }
    if (productWords.empty()) throw Exception("Please remove this software from the Add/Remove Programs from the Control Panel");
    for (const std::string& word : productWords) FProductName += (FProductName.empty() ? "" : " ") + word;
    FRecordKey = Trim(UninstallKeyPrefix + FProductName);
}

void TUninstaller::Run() {
    FView->StepStarted(rsAliases);
    RemoveAliases();
    FView->StepDone(rsAliases);

    // The two steps with a progress bar hide it again also when they fail.
    auto withProgress = [this](TRemovalStep step, void (TUninstaller::*body)()) {
        FView->ShowProgress(true);
        FView->StepStarted(step);
        try {
            (this->*body)();
        } catch (...) {
            FView->ShowProgress(false);
            throw;
        }
        FView->ShowProgress(false);
        FView->StepDone(step);
    };
    withProgress(rsActiveX, &TUninstaller::RemoveActiveXComponents);
    withProgress(rsFiles, &TUninstaller::RemoveFiles);

    FView->StepStarted(rsINIFiles);
    RemoveINIEntries();
    FView->StepDone(rsINIFiles);
    FView->StepStarted(rsBDE);
    RemoveBDE();
    FView->StepDone(rsBDE);

    RemoveEmptyFolders();

    FView->StepStarted(rsRegistry);
    if (!RemoveRegistryEntries()) ShowMessage("Some or all of the registry keys could not could not be removed");
    FView->StepDone(rsRegistry);
    FView->Repaint();

    DeleteRegistryKeyTree(LocalMachine, FRecordKey);
    ShowMessage(RemoveProgramFile());
}

void TUninstaller::RemoveAliases() {
    if (DbiInitFn(DbiInterfaceVersion, nullptr) != dbiOk) return;
    std::vector<std::string> aliases = ReadUninstallRecord(FRecordKey).Aliases;
    for (const std::string& alias : aliases) DbiDeleteAlias(nullptr, CharToOem(alias));
    DeleteRegistryKeyTree(LocalMachine, Part("Aliases"));
    if (!aliases.empty()) DbiCfgSave(nullptr, nullptr, true);
    DbiExit();
}

void TUninstaller::RemoveActiveXComponents() {
    if (!KeyExists(LocalMachine, Part("ActiveX"))) return;
    std::vector<TUninstallRecord::ActiveXFile> files = ReadUninstallRecord(FRecordKey).ActiveX;
    for (size_t i = 0; i < files.size(); ++i) {
        Progress(i, files.size());
        std::string path = files[i].Path;
        if (!SharedFileGoes(path, true) || Trim(path).empty()) continue;
        Unregister(path, files[i].Kind);
        NoteFolder(path);
        if (WinFileExists(path)) WinDeleteFile(path);
    }
    DeleteRegistryKeyTree(LocalMachine, Part("ActiveX"));
}

void TUninstaller::RemoveFiles() {
    std::vector<std::string> files = ReadUninstallRecord(FRecordKey).Files;
    for (size_t i = 0; i < files.size(); ++i) {
        Progress(i, files.size());
        std::string path = files[i];
        if (!SharedFileGoes(path, false) || Trim(path).empty() || !WinFileExists(path)) continue;
        NoteFolder(path);
        WinDeleteFile(path);
    }
    // The subkeys the files came from: "Files", then "Files1" ... while the next one exists.
    for (int k = 0; k == 0 || KeyExists(LocalMachine, Part("Files") + std::to_string(k)); ++k)
        DeleteRegistryKeyTree(LocalMachine, Part("Files") + (k ? std::to_string(k) : ""));
}

void TUninstaller::RemoveINIEntries() {
    if (!KeyExists(LocalMachine, Part("INIFiles"))) return;
    for (const TUninstallRecord::IniFile& ini : ReadUninstallRecord(FRecordKey).IniFiles) {
        if (ini.FilePath.empty()) continue;
        TIniText text;
        if (!ini.Sections.empty() && text.LoadFromFile(ini.FilePath)) {
            bool changed = false;
            for (const auto& [section, keys] : ini.Sections) changed = text.RemoveKeys(section, keys) || changed;
            if (changed && !text.SaveToFile(ini.FilePath))
                throw EIniFileException(Format("Unable to write to %s", {ini.FilePath}));
        }
        if (FileSize(ini.FilePath) != 0) continue;
        NoteFolder(ini.FilePath);
        WinDeleteFile(ini.FilePath);
        std::string folder = FolderOf(ini.FilePath);
        if (!folder.empty() && WinDirectoryExists(folder) && WinFolderEntries(folder).empty()) WinRemoveDir(folder);
    }
    DeleteRegistryKeyTree(LocalMachine, Part("INIFiles"));
}

void TUninstaller::RemoveBDE() {
    TUninstallRecord record = ReadUninstallRecord(FRecordKey);
    if (!record.HasBde || !KeyExists(LocalMachine, BdeEngineKey)) return;
    int32_t useCount = 0;
    if (!TryStrToInt(ReadRegistryString(LocalMachine, BdeEngineKey, BdeUseCountValue, ""), useCount))
        useCount = ReadRegistryInteger(LocalMachine, BdeEngineKey, BdeUseCountValue, 0);
    std::string configFile = ReadRegistryString(LocalMachine, BdeEngineKey, BdeConfigFileValue, "");

    if (useCount - record.BdeEntries > 0) {
        WriteRegistryString(LocalMachine, BdeEngineKey, BdeUseCountValue, IntToStr(useCount - record.BdeEntries));
        return;
    }
    if (MessageDlg("Uninstall has determined that the Borland Database Engine is no longer used by an application. "
                   "Is it o.k. to delete it?",
                   mtConfirmation, TMsgDlgButtons{mbYes, mbNo}) != mrYes)
        return;
    if (!configFile.empty()) {
        if (WinFileExists(configFile)) WinDeleteFile(configFile);
        NoteFolder(configFile);
    }
    DeleteRegistryKeyTree(LocalMachine, BdeEngineKey);
    DeleteRegistryKeyTree(LocalMachine, BorlandLw32Key);
    // The vendor's key goes only when nothing at all is left in it.
    TfrnmRegistry registry;
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (registry.OpenKey(BorlandKey, false) && KeyIsEmpty(registry)) {
        registry.CloseKey();
        registry.DeleteKey(BorlandKey);
    }
}

void TUninstaller::RemoveEmptyFolders() {
    // Deepest first; folders of one depth in the order noted.
    std::vector<std::string> folders = FFolders;
    auto depth = [](const std::string& folder) { return std::count(folder.begin(), folder.end(), '\\'); };
    std::stable_sort(folders.begin(), folders.end(),
                     [&](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
    for (const std::string& folder : folders) WinRemoveDir(folder);
}

bool TUninstaller::RemoveRegistryEntries() {
    if (!KeyExists(LocalMachine, Part("RegistryKeys"))) return true;
    bool succeeded = true;
    std::vector<std::unique_ptr<TKeyInfoObject>> infos;
    TStringList keys;
    for (const TUninstallRecord::RegistryKey& entry : ReadUninstallRecord(FRecordKey).RegistryKeys) {
        if (!entry.Valid) {
            succeeded = false;
            continue;
        }
        auto info = std::make_unique<TKeyInfoObject>();
        info->Path = entry.Subkey;
        info->Root = entry.Root;
        info->ValueNames = entry.ValueNames;
        keys.AddObject(entry.Key, info.get());
        infos.push_back(std::move(info));
    }
    DeleteRecordedKeys(keys);
    DeleteRegistryKeyTree(LocalMachine, Part("RegistryKeys"));
    return succeeded;
}

void TUninstaller::DeleteRecordedKeys(TStringList& Keys) {
    Keys.Sort();
    for (int i = Keys.Count() - 1; i >= 0; --i) {
        const std::string key = Keys.Strings(i);
        const auto* info = static_cast<const TKeyInfoObject*>(Keys.Objects(i));
        TfrnmRegistry registry;
        SetRegistryRootByIndex(registry, info->Root);
        if (!registry.OpenKey(key, false)) continue;
        for (const std::string& name : info->ValueNames) registry.DeleteValue(name);
        if (!KeyIsEmpty(registry)) continue;
        registry.CloseKey();
        registry.DeleteKey(key);
    }
}

std::string TUninstaller::RemoveProgramFile() {
    if (WinDeleteFile(FProgramPath)) return FProductName + " has finished removing itself";
    DeleteFileOnReboot(FProgramPath);
    return "The uninstallation program for " + FProductName + " will be removed after you reboot your computer.";
}

void TUninstaller::NoteFolder(const std::string& Path) {
    std::string folder = AnsiUpperCase(FolderOf(Path));
    if (!folder.empty() && std::find(FFolders.begin(), FFolders.end(), folder) == FFolders.end()) FFolders.push_back(folder);
}

bool TUninstaller::ConfirmSharedFileDelete(const std::string& Path) {
    return MessageDlg(Format("Uninstall has determined that the file %s is no longer used by an application. "
                             "Is it o.k. to delete it?",
                             {Path}),
                      mtConfirmation, TMsgDlgButtons{mbYes, mbNo}) == mrYes;
}

bool TUninstaller::SharedFileGoes(std::string& Path, bool AskWithoutCount) {
    std::string valueName;
    int32_t count = 0;
    if (!LookUpSharedCount(Path, valueName, count)) return !AskWithoutCount || ConfirmSharedFileDelete(Path);
    Path = valueName;
    if (count >= 2) {
        WriteRegistryInteger(LocalMachine, SharedDllsKey, valueName, count - 1);
        return false;
    }
    if (!ConfirmSharedFileDelete(Path)) return false;
    DeleteRegistryValue(LocalMachine, SharedDllsKey, valueName);
    return true;
}

void TUninstaller::Unregister(const std::string& Path, const std::string& Kind) {
    if (!WinFileExists(Path)) return;
    if (Kind == "0") {
        CallDllRegistration(Path, true);
    } else if (Kind == "1") {
        TProgramLauncher launcher(nullptr);
        launcher.SetFileName(Path);
        launcher.SetParameters("/UNREGSERVER");
        // A server that cannot be started is not unregistered; the removal goes on, so that one
        // broken file cannot keep the product installed for good.
        try {
            launcher.Execute();
        } catch (const EProgramLauncherFailed&) {
        }
    }
}

void TUninstaller::Progress(size_t Index, size_t Count) {
    FView->SetProgress(Count <= 1 ? 0 : static_cast<int>(std::lround(100.0 * static_cast<double>(Index) / static_cast<double>(Count - 1))));
}

}  // namespace ostra
