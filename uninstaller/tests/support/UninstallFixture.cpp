// What the uninstaller's tests install.
#include "uninstaller/tests/support/UninstallFixture.h"

#include <gtest/gtest.h>

#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_UninstallRecord.h"
#include "installer/library/tests/support/TestMachine.h"
#include "uninstaller/IniText.h"
#include "uninstaller/WinBde.h"

namespace ostra::test {

namespace {

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

}  // namespace

void RecordingView::StepStarted(TRemovalStep Step) { Events.push_back("start " + StepName(Step)); }
void RecordingView::StepDone(TRemovalStep Step) { Events.push_back("done " + StepName(Step)); }
void RecordingView::ShowProgress(bool Visible) { Events.push_back(Visible ? "progress on" : "progress off"); }
void RecordingView::SetProgress(int Percent) { Events.push_back("progress " + std::to_string(Percent)); }
void RecordingView::Repaint() { Events.push_back("repaint"); }

std::vector<std::string> RecordingView::EventsOf(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& e : Events)
        if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
}

std::string StepName(TRemovalStep Step) {
    static const char* const names[] = {"Aliases", "ActiveX", "Files", "INIFiles", "BDE", "Registry"};
    return names[Step];
}

void InstallFile(const std::string& record, const std::string& path, int sharedCount) {
    ASSERT_TRUE(PutWinFile(path, "installed " + path));
    AddUninstallFile(record, path);
    if (sharedCount >= 0) SetSharedCount(path, sharedCount);
}

void InstallActiveX(const std::string& record, const std::string& path, const std::string& nativeSource, int sharedCount) {
    ASSERT_TRUE(WinForceDirectories(Folder(path)));
    ASSERT_TRUE(WinCopyFile(NativeToWin(nativeSource), path, false));
    AddUninstallActiveX(record, path, ActiveXKindOf(path));
    if (sharedCount >= 0) SetSharedCount(path, sharedCount);
}

void SetSharedCount(const std::string& name, int count) { WriteRegistryInteger(LocalMachine, SharedDllsKey, name, count); }

int SharedCount(const std::string& name) { return ReadRegistryInteger(LocalMachine, SharedDllsKey, name, -1); }

void InstallIniEntries(const std::string& record, const std::string& entry, const std::string& filePath,
                       const std::string& text, const std::string& section, const std::vector<std::string>& keys) {
    ASSERT_TRUE(PutWinFile(filePath, text));
    const std::string key = record + "\\INIFiles\\" + entry;
    WriteRegistryString(LocalMachine, key, "FilePath", filePath);
    for (const std::string& name : keys) WriteRegistryString(LocalMachine, key + "\\Entries\\" + section, name, "");
}

void InstallBde(const std::string& configPath, const std::string& useCount, const std::vector<std::string>& aliases) {
    WriteRegistryString(LocalMachine, BdeEngineKey, BdeUseCountValue, useCount);
    WriteRegistryString(LocalMachine, BdeEngineKey, BdeConfigFileValue, configPath);
    std::string text = std::string(BdeConfigMagic) + "\r\n";
    for (const std::string& alias : aliases) text += "[" + CharToOem(alias) + "]\r\nTYPE=STANDARD\r\n";
    ASSERT_TRUE(PutWinFile(configPath, text));
}

std::vector<std::string> BdeAliases(const std::string& configPath) {
    TIniText config;
    std::vector<std::string> names;
    std::string name;
    if (config.LoadFromFile(configPath))
        for (const std::string& line : config.Lines())
            if (TIniText::SectionName(line, name)) names.push_back(name);
    return names;
}

std::string MachineKeyText(const std::string& key) { return TestMachine::RegistryText(LocalMachine, key.substr(key[0] == '\\')); }

}  // namespace ostra::test
