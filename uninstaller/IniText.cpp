// INI files edited in place.
#include "uninstaller/IniText.h"

#include <algorithm>
#include <exception>

#include "host/Collation.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "installer/library/WinFileSystem.h"

namespace ostra {

bool TIniText::LoadFromFile(const std::string& path) {
    FLines.clear();
    std::string native = WinToNative(path);
    if (native.empty() || !WinFileExists(path)) return false;
    TStringList list;
    try {
        list.LoadFromFile(native);
    } catch (const std::exception&) {
        return false;
    }
    for (int i = 0; i < list.Count(); ++i) FLines.push_back(list.Strings(i));
    return true;
}

bool TIniText::SaveToFile(const std::string& path) const {
    const std::string temporary = path + ".$$$";
    std::string native = WinToNative(temporary);
    if (native.empty()) return false;
    TStringList list;
    for (const std::string& line : FLines) list.Add(line);
    try {
        list.SaveToFile(native);
    } catch (const std::exception&) {
        WinDeleteFile(temporary);
        return false;
    }
    if (WinMoveFileEx(temporary, path, WinMoveReplaceExisting)) return true;
    WinDeleteFile(temporary);
    return false;
}

bool TIniText::EntryKey(const std::string& line, std::string& key) {
    size_t eq = line.find('=');
    std::string trimmed = TrimLeft(line);
    if (eq == std::string::npos || (!trimmed.empty() && trimmed[0] == ';')) return false;
    key = Trim(line.substr(0, eq));
    return true;
}

bool TIniText::SectionName(const std::string& line, std::string& name) {
    std::string trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') return false;
    name = Trim(trimmed.substr(1, trimmed.size() - 2));
    return true;
}

size_t TIniText::SectionEnd(size_t header) const {
    std::string name;
    size_t end = header + 1;
    while (end < FLines.size() && !SectionName(FLines[end], name)) ++end;
    return end;
}

bool TIniText::RemoveKeys(const std::string& section, const std::vector<std::string>& keys) {
    bool changed = false;
    std::string name, key;
    for (size_t header = 0; header < FLines.size();) {
        if (!SectionName(FLines[header], name) || !AnsiSameText(name, section)) {
            ++header;
            continue;
        }
        size_t end = SectionEnd(header);
        bool entriesLeft = false, removed = false;
        for (size_t i = header + 1; i < end;) {
            bool recorded = EntryKey(FLines[i], key) &&
                            std::any_of(keys.begin(), keys.end(), [&](const std::string& k) { return AnsiSameText(k, key); });
            if (recorded) {
                FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(i));
                --end;
                removed = true;
            } else {
                entriesLeft = entriesLeft || EntryKey(FLines[i], key);
                ++i;
            }
        }
        changed = changed || removed;
        if (removed && !entriesLeft) {
            FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(header), FLines.begin() + static_cast<std::ptrdiff_t>(end));
            continue;
        }
        header = end;
    }
    return changed;
}

bool TIniText::EraseSection(const std::string& section) {
    bool erased = false;
    std::string name;
    for (size_t header = 0; header < FLines.size();) {
        if (SectionName(FLines[header], name) && AnsiSameText(name, section)) {
            FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(header),
                         FLines.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header)));
            erased = true;
        } else {
            ++header;
        }
    }
    return erased;
}

}  // namespace ostra
