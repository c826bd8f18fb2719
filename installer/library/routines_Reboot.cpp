// Deleting and replacing files at the next restart, and the restart request.
#include "installer/library/routines_Reboot.h"

#include <vector>

#include "host/SysUtils.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/WinMachine.h"
#include "installer/library/routines_API.h"
#include "platform/AnsiCase.h"
#include "platform/File.h"
#include "platform/Machine.h"

namespace ostra {

namespace {

std::string WininitPath() { return WinWindowsDir() + "\\WININIT.INI"; }

// The lines of a text file (an empty list when it is missing).
std::vector<std::string> LoadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string native = WinToNative(path);
    platform::File file;
    if (native.empty() ||
        !file.Open(native, platform::FileAccess::Read, platform::FileShare::DenyWrite, platform::FileCreate::OpenExisting))
        return lines;
    int64_t size = file.Size();
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0 && file.Read(0, text.data(), size) != size) text.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Writes the lines with CR LF after each.
bool SaveLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    std::string native = WinToNative(path);
    platform::File file;
    if (native.empty() ||
        !file.Open(native, platform::FileAccess::Write, platform::FileShare::Exclusive, platform::FileCreate::CreateAlways))
        return false;
    return file.Write(0, text.data(), static_cast<int64_t>(text.size())) == static_cast<int64_t>(text.size()) &&
           file.Flush();
}

bool IsNineX() { return Win9xFamily.Contains(GetWindowsVersionCode()); }

}  // namespace

bool DeleteFileOnReboot(const std::string& path) {
    if (!IsNineX()) return WinMoveFileEx(path, "", WinMoveReplaceExisting | WinMoveDelayUntilReboot);
    std::vector<std::string> lines = LoadLines(WininitPath());
    if (lines.empty()) lines.push_back("[RENAME]");
    size_t at = 0;
    while (at < lines.size() && !SameText(lines[at], "[RENAME]")) ++at;
    if (at == lines.size()) lines.push_back("[RENAME]");
    std::string shortPath;
    if (!WinGetShortPathName(path, shortPath)) shortPath = path;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at) + 1, Format("Nul=%s", {shortPath}));
    SaveLines(WininitPath(), lines);
    return true;
}

bool SetWininitRename(const std::string& target, const std::string& source) {
    std::vector<std::string> lines = LoadLines(WininitPath());
    size_t section = 0;
    while (section < lines.size() && !SameText(Trim(lines[section]), "[Rename]")) ++section;
    if (section == lines.size()) {
        lines.push_back("[Rename]");
        lines.push_back(target + "=" + source);
        return SaveLines(WininitPath(), lines);
    }
    size_t end = section + 1, lastEntry = section;
    for (; end < lines.size(); ++end) {
        std::string text = Trim(lines[end]);
        if (!text.empty() && text[0] == '[') break;
        if (text.empty()) continue;
        lastEntry = end;
        size_t eq = text.find('=');
        if (eq != std::string::npos && platform::AnsiSameName(Trim(text.substr(0, eq)), target)) {
            lines[end] = target + "=" + source;
            return SaveLines(WininitPath(), lines);
        }
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastEntry) + 1, target + "=" + source);
    return SaveLines(WininitPath(), lines);
}

bool RequestWindowsRestart() {
    TOSVerType version = GetWindowsVersionCode();
    if (!Win9xFamily.Contains(version) && !NTFamily.Contains(version)) return false;
    // The NT family first enables the shutdown privilege, which every process of the machine has.
    return platform::RecordRestartRequest();
}

}  // namespace ostra
