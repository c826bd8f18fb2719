// What the uninstaller's tests install before they remove it: files and ActiveX servers listed in
// an uninstall record with their shared counts, INI entries, the database-engine stand-in, and a
// view that records what the removal tells its window.
#pragma once
#include <string>
#include <vector>

#include "uninstaller/Uninstaller.h"

namespace ostra::test {

inline constexpr int LocalMachine = 4;

// Records the window's events: "start <step>", "done <step>", "progress on", "progress <n>",
// "progress off", "repaint".
class RecordingView : public IUninstallView {
public:
    void StepStarted(TRemovalStep Step) override;
    void StepDone(TRemovalStep Step) override;
    void ShowProgress(bool Visible) override;
    void SetProgress(int Percent) override;
    void Repaint() override;
    // The events that start with prefix ("progress", "start" ...), in order.
    std::vector<std::string> EventsOf(const std::string& prefix) const;

    std::vector<std::string> Events;
};

// The name of a step ("Aliases", "ActiveX", "Files", "INIFiles", "BDE", "Registry").
std::string StepName(TRemovalStep Step);

// Writes a file as an install file does and lists it in the record's "Files"; with a count of 0
// or more its shared count is set under its long path.
void InstallFile(const std::string& record, const std::string& path, int sharedCount = -1);
// Copies a native file (a fixture) to path and lists it in the record's "ActiveX" with the kind
// its name gives; with a count of 0 or more its shared count is set.
void InstallActiveX(const std::string& record, const std::string& path, const std::string& nativeSource,
                    int sharedCount = -1);
// Sets a shared count under a value name (a long or short path).
void SetSharedCount(const std::string& name, int count);
// The shared count under a value name; -1 when there is none.
int SharedCount(const std::string& name);

// Writes an INI file (the text as it stands) and lists keys of one of its sections in the record's
// "INIFiles" under the entry name.
void InstallIniEntries(const std::string& record, const std::string& entry, const std::string& filePath,
                       const std::string& text, const std::string& section, const std::vector<std::string>& keys);

// Installs the database-engine stand-in: its key with "UseCount" (a text) and "CONFIGFILE01", and
// the configuration file with the aliases (Windows-1252 names, kept in the OEM code page).
void InstallBde(const std::string& configPath, const std::string& useCount, const std::vector<std::string>& aliases);
// The alias names of a configuration file, as stored.
std::vector<std::string> BdeAliases(const std::string& configPath);

// The registry text of a key below HKEY_LOCAL_MACHINE ("" when it is missing).
std::string MachineKeyText(const std::string& key);

}  // namespace ostra::test
