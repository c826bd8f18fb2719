// The install component's command line, its run record in the registry, the work left for the
// completion run after a restart, the RunOnce entry that starts that run, the completion run itself
// and the removal of the run record.
//
// The completion run removes each unfinished item from the record as soon as it has been handled,
// so a run that fails halfway leaves exactly the items still to do for the next start.
#include <cctype>
#include <cmath>
#include <cstring>

#include "host/SysUtils.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileStream.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TInstall.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {

constexpr int LocalMachine = 4;
const char* const InstallRunsKey = "\\SOFTWARE\\Tegu\\Install";
const char* const OptionLetters = "bfderscn";  // by TInstallOption

std::string UnfinishedKey() { return RunRecordKey() + "\\Unfinished"; }

void RequireRunRecord() {
    if (RunRecordKey().empty())
        throw IEInstall("The TInstall could not either write or read unfinished business from the registry");
}

// Deletes the key when it opens and has no subkeys; true when it was deleted.
bool DeleteKeyIfEmpty(const std::string& path) {
    TfrnmRegistry registry;
    registry.SetRootKey(RootKeyOfIndex(LocalMachine));
    if (!registry.OpenKey(path, false)) return false;
    const bool empty = !registry.HasSubKeys();
    registry.CloseKey();
    return empty && registry.DeleteKey(path);
}

}  // namespace

TInstallCommandLine ParseInstallCommandLine(const std::vector<std::string>& parameters) {
    TInstallCommandLine result;
    for (const std::string& parameter : parameters) {
        auto invalid = [&parameter] {
            throw IException(
                "Invalid parameter <%s>. Valid command line parameters are: -b (Build), -d (Debug), -f (Transfer to "
                "floppies), -e (Called by self-extractor), -r (After reboot)",
                {parameter});
        };
        if (parameter.size() < 2 || (parameter[0] != '-' && parameter[0] != '*')) invalid();
        const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(parameter[1])));
        const char* found = std::strchr(OptionLetters, letter);
        if (!found || letter == '\0') {
            // "*" options belong to the loading program ("*TODISK") and pass through.
            if (parameter[0] == '-') invalid();
            continue;
        }
        const auto option = static_cast<TInstallOption>(found - OptionLetters);
        result.Options.Include(option);
        result.Values[option] = parameter.substr(2);
    }
    return result;
}

void TCustomInstall::ParseCommandLine() { FCommandLine = ParseInstallCommandLine(ApplicationParameters()); }

std::string TCustomInstall::RegisterInstallRun(bool create) {
    const std::string program = SetupProgramPath();
    int64_t size = 0;
    TDateTime stamp = 0;
    {
        TWinFileStream file;
        if (!file.Open(program, platform::FileAccess::Read, platform::FileShare::DenyNone,
                       platform::FileCreate::OpenExisting))
            return "";
        size = file.Size();
        if (!WinGetLastWriteTime(program, stamp)) return "";
    }
    const TDateTime lastRun = InstallRunStartTime() != 0 ? InstallRunStartTime() : Now();

    TfrnmRegistry runs;
    runs.SetRootKey(RootKeyOfIndex(LocalMachine));
    if (!runs.OpenKey(InstallRunsKey, true)) return "";
    TStringList names;
    runs.GetKeyNames(names);
    runs.CloseKey();

    for (int i = 0; i < names.Count(); ++i) {
        const std::string path = std::string(InstallRunsKey) + "\\" + names.Strings(i);
        TfrnmRegistry record;
        record.SetRootKey(RootKeyOfIndex(LocalMachine));
        if (!record.OpenKey(path, false)) continue;
        double created = 0;
        int32_t recordedSize = 0;
        try {
            record.ReadString("Path");
            created = record.ReadDateTime("CreationDate");
            recordedSize = record.ReadInteger("Size");
        } catch (const std::exception&) {
            continue;  // a record that cannot be read is not this program's
        }
        if (std::fabs(stamp - created) >= 1e-7 || recordedSize != size) continue;
        try {
            record.WriteDateTime("LastRunDate", lastRun);
            record.WriteString("Path", program);
        } catch (const std::exception&) {
            return "";
        }
        return path;
    }
    if (!create) return "";

    std::string name;
    for (int n = 0;; ++n) {
        name = "Install" + std::to_string(n);
        if (names.IndexOf(name) < 0) break;
    }
    const std::string path = std::string(InstallRunsKey) + "\\" + name;
    try {
        TfrnmRegistry record;
        record.SetRootKey(RootKeyOfIndex(LocalMachine));
        if (!record.OpenKey(path, true)) return "";
        record.WriteString("Path", program);
        record.WriteDateTime("LastRunDate", lastRun);
        record.WriteDateTime("CreationDate", stamp);
        record.WriteInteger("Size", static_cast<int32_t>(size));
        if (FCommandLine.Has(ioSelfExtract))
            record.WriteString("SelfExtract", AddBackslash(FCommandLine.Value(ioSource)) + FCommandLine.Value(ioSelfExtract));
    } catch (const std::exception&) {
        return "";
    }
    return path;
}

void TCustomInstall::AddUnfinished(const std::string& name, int code) {
    RequireRunRecord();
    ++FUnfinishedCount;
    WriteRegistryString(LocalMachine, UnfinishedKey(), name, IntToStr(code));
}

void TCustomInstall::ReadUnfinished(TStrings& list) {
    RequireRunRecord();
    list.Clear();
    TfrnmRegistry registry;
    registry.SetRootKey(RootKeyOfIndex(LocalMachine));
    if (!registry.OpenKey(UnfinishedKey(), false)) return;
    TStringList names;
    registry.GetValueNames(names);
    for (int i = 0; i < names.Count(); ++i) {
        std::string data;
        try {
            data = registry.ReadString(names.Strings(i));
        } catch (const std::exception&) {
        }
        list.Add(names.Strings(i) + ";" + data);
    }
}

void TCustomInstall::ClearUnfinished() {
    RequireRunRecord();
    DeleteRegistryKeyTree(LocalMachine, UnfinishedKey());
}

std::string TCustomInstall::SetupFilePath() const {
    if (FCommandLine.Has(ioSelfExtract)) return const_cast<TCustomInstall*>(this)->GetFullArchiveFile();
    if (FUseLoadingProgram) {
        // The loading program names the setup file as the second parameter.
        const std::vector<std::string>& parameters = ApplicationParameters();
        const std::string name = parameters.size() >= 2 ? parameters[1] : ExtractFileName(SetupProgramPath());
        return AddBackslash(InstallSourceFolder()) + name;
    }
    return SetupProgramPath();
}

std::string TCustomInstall::RestartCommand() {
    const std::string setupFile = SetupFilePath();
    const std::string folder = RemoveBackslash(ExtractFileDir(setupFile));
    std::string command = "\"" + SetupProgramPath() + "\" -r ";
    if (FCommandLine.Has(ioSelfExtract)) command += "\"-e" + ExtractFileName(setupFile) + "\" ";
    command += "\"-s" + folder + "\"";
    if (FCommandLine.Has(ioCleanup)) command += " -c";
    return command;
}

void TCustomInstall::RegisterRunOnReboot() {
    if (!WriteRunOnceEntry("FernmoorUnfinished", RestartCommand(), true))
        throw IEInstall("Cannot register the install to be run on reboot in the RunOnce key in the registry");
}

void TCustomInstall::FinishAfterReboot() {
    FInRun = true;
    SetRunRecordKey(RegisterInstallRun(false));
    if (TTranslator* translator = CurrentTranslator(); translator && !RunRecordKey().empty()) {
        const int32_t saved = ReadRegistryInteger(LocalMachine, RunRecordKey(), "Language",
                                                  static_cast<int32_t>(translator->TranslateIntoLanguage()));
        if (saved >= 0 && saved <= flVietnamese) translator->SetTranslateIntoLanguage(static_cast<TFrnmLanguage>(saved));
    }
    TStringList items;
    ReadUnfinished(items);
    for (int i = 0; i < items.Count(); ++i) {
        const std::string& line = items.Strings(i);
        // The code follows the last ";": a file path may hold one itself.
        const size_t split = line.rfind(';');
        const std::string name = line.substr(0, split);
        int32_t code = 0;
        if (split == std::string::npos || !TryStrToInt(Trim(line.substr(split + 1)), code))
            throw IEInstall("There is an invalid entry for the unfinished install list %s", {line});
        if (code == 1) {
            WinDeleteFile(name);
        } else if (code == 0) {
            const std::vector<TInstallContainer*> components = InstallComponents();
            for (TInstallContainer* component : components)
                if (component != this && SameText(component->Name(), name)) component->FinishAfterReboot();
        }
        // Handled: the item leaves the record now, so a failure later repeats only what is left.
        DeleteRegistryValue(LocalMachine, UnfinishedKey(), name);
    }
    ClearUnfinished();
    FinishGoodRun();
}

void TCustomInstall::CleanupRegistry() {
    if (RunRecordKey().empty()) return;
    TStringList subkeys;
    GetRegistrySubKeyNames(LocalMachine, RunRecordKey(), subkeys);
    for (int i = 0; i < subkeys.Count(); ++i) {
        const std::string key = RunRecordKey() + "\\" + subkeys.Strings(i);
        const std::string local = ReadRegistryString(LocalMachine, key, "LocalFile", "");
        if (!Trim(local).empty()) WinDeleteFile(local);
        DeleteRegistryKeyTree(LocalMachine, key);
    }
    DeleteRegistryKeyTree(LocalMachine, RunRecordKey());
    SetRunRecordKey("");
    // The run records' parents go when nothing else is left in them.
    if (DeleteKeyIfEmpty(InstallRunsKey)) {
        DeleteKeyIfEmpty("\\SOFTWARE\\Tegu");
        DeleteKeyIfEmpty("\\Software\\Fernmoor");
    }
}

}  // namespace ostra
