// The uninstall record's writer and reader, and the shared-file use counts.
#include "installer/library/routines_UninstallRecord.h"

#include <exception>

#include "host/StringList.h"
#include "host/SysUtils.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {

constexpr int LocalMachine = 4;

// The number the next entry of a numbered list gets; raises EConvertError for an "Entries" text
// that is not a number.
int NextNumber(const std::string& subkey) { return StrToInt(ReadRegistryString(LocalMachine, subkey, "Entries", "0")) + 1; }

std::vector<std::string> SubkeyNames(const std::string& key) {
    TStringList names;
    GetRegistrySubKeyNames(LocalMachine, key, names);
    std::vector<std::string> out;
    for (int i = 0; i < names.Count(); ++i) out.push_back(names.Strings(i));
    return out;
}

// The names of a key's values, in enumeration order (none when the key is missing).
void ValueNamesOf(TfrnmRegistry& registry, const std::string& key, TStringList& names) {
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (registry.OpenKey(key, false)) registry.GetValueNames(names);
}

std::vector<std::string> ValueNames(const std::string& key) {
    TfrnmRegistry registry;
    TStringList names;
    ValueNamesOf(registry, key, names);
    std::vector<std::string> out;
    for (int i = 0; i < names.Count(); ++i) out.push_back(names.Strings(i));
    return out;
}

// The names and texts of a key's values that can be read as text, in enumeration order; the
// counter "Entries" of a numbered list is left out (countedList).
std::vector<std::pair<std::string, std::string>> ListedValues(const std::string& key, bool countedList) {
    std::vector<std::pair<std::string, std::string>> values;
    TfrnmRegistry registry;
    TStringList names;
    ValueNamesOf(registry, key, names);
    for (int i = 0; i < names.Count(); ++i) {
        if (countedList && SameText(names.Strings(i), "Entries")) continue;
        try {
            values.emplace_back(names.Strings(i), registry.ReadString(names.Strings(i)));
        } catch (const ERegistryException&) {
        }
    }
    return values;
}

bool KeyExists(const std::string& key) {
    TfrnmRegistry registry;
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    return registry.KeyExists(key);
}

TUninstallRecord::RegistryKey ReadRegistryKeyEntry(const std::string& subkey) {
    TUninstallRecord::RegistryKey entry;
    entry.Subkey = subkey;
    TfrnmRegistry registry;
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(subkey, false)) return entry;
    try {
        entry.Key = registry.ReadString("Key");
        entry.Root = registry.ReadInteger("Root");
        entry.Valid = entry.Root >= 0 && entry.Root <= 5;
    } catch (const ERegistryException&) {
        return entry;
    }
    // Every value of "Entries" is an entry of the component (one named "Entries" too).
    entry.ValueNames = ValueNames(subkey + "\\Entries");
    return entry;
}

// The top values with their names, in the order they are written (Values is TUninstallTopValues,
// const or not).
template <class Values>
auto TopValueFields(Values& v) {
    using Field = decltype(&v.DisplayName);
    return std::vector<std::pair<const char*, Field>>{
        {"DisplayName", &v.DisplayName},   {"UninstallString", &v.UninstallString}, {"Comments", &v.Comments},
        {"Contact", &v.Contact},           {"DisplayIcon", &v.DisplayIcon},         {"DisplayVersion", &v.DisplayVersion},
        {"HelpLink", &v.HelpLink},         {"HelpTelephone", &v.HelpTelephone},     {"Publisher", &v.Publisher},
        {"ProductID", &v.ProductID},       {"Readme", &v.Readme},                   {"URLInfoAbout", &v.URLInfoAbout},
        {"URLUpdateInfo", &v.URLUpdateInfo}, {"RegCompany", &v.RegCompany},         {"RegOwner", &v.RegOwner},
    };
}

}  // namespace

std::string UninstallRecordKey(const std::string& productName) { return UninstallKeyPrefix + productName; }

std::string MakeUninstallString(const std::string& uninstallerPath, const std::string& productName) {
    return uninstallerPath + " " + Trim(productName);
}

void WriteUninstallTopValues(const std::string& recordKey, const TUninstallTopValues& values) {
    for (const auto& [name, text] : TopValueFields(values))
        if (!text->empty()) WriteRegistryString(LocalMachine, recordKey, name, *text);
}

TActiveXKind ActiveXKindOf(const std::string& fileName) {
    size_t dot = fileName.find_last_of(".\\");
    std::string ext = dot == std::string::npos || fileName[dot] != '.' ? "" : UpperCase(fileName.substr(dot));
    return ext == ".EXE" ? axLocalServer : ext == ".TLB" ? axTypeLibrary : axInProcessServer;
}

void AddUninstallFile(const std::string& recordKey, const std::string& fullPath) {
    std::exception_ptr last;
    for (int k = 0; k < FilesSubkeyLimit; ++k) {
        std::string subkey = recordKey + "\\Files" + (k ? std::to_string(k) : "");
        int n = 0;
        try {
            n = NextNumber(subkey);
            WriteRegistryString(LocalMachine, subkey, "File" + std::to_string(n), fullPath);
        } catch (const EConvertError&) {
            last = std::current_exception();
            continue;
        } catch (const EIRCannotWriteValue&) {
            last = std::current_exception();
            continue;
        }
        WriteRegistryString(LocalMachine, subkey, "Entries", std::to_string(n));
        return;
    }
    std::rethrow_exception(last);
}

void AddUninstallActiveX(const std::string& recordKey, const std::string& fullPath, TActiveXKind kind) {
    std::string subkey = recordKey + "\\ActiveX";
    int n = NextNumber(subkey);
    WriteRegistryString(LocalMachine, subkey, "File" + std::to_string(n), fullPath + ";" + std::to_string(kind));
    WriteRegistryString(LocalMachine, subkey, "Entries", std::to_string(n));
}

void AddUninstallRegistryKey(const std::string& recordKey, const std::string& keyPath, int rootIndex,
                             const std::vector<TUninstallRegistryValue>& values) {
    std::string list = recordKey + "\\RegistryKeys";
    int n = NextNumber(list);
    WriteRegistryString(LocalMachine, list, "Entries", std::to_string(n));
    std::string subkey = list + "\\RegistryKey" + std::to_string(n);
    WriteRegistryString(LocalMachine, subkey, "Key", keyPath);
    WriteRegistryInteger(LocalMachine, subkey, "Root", rootIndex);
    for (const TUninstallRegistryValue& v : values) WriteRegistryString(LocalMachine, subkey + "\\Entries", v.Ident, v.Text);
}

TUninstallRecord ReadUninstallRecord(const std::string& recordKey) {
    TUninstallRecord record;
    record.Exists = KeyExists(recordKey);
    if (!record.Exists) return record;
    for (const auto& [name, field] : TopValueFields(record.Top)) *field = ReadRegistryString(LocalMachine, recordKey, name, "");

    for (int k = 0; k == 0 || KeyExists(recordKey + "\\Files" + std::to_string(k)); ++k)
        for (const auto& [name, path] : ListedValues(recordKey + "\\Files" + (k ? std::to_string(k) : ""), true))
            record.Files.push_back(path);
    for (const auto& [name, text] : ListedValues(recordKey + "\\ActiveX", true))
        record.ActiveX.push_back({GetDelimitedField(text, 1, ';'), GetDelimitedField(text, 2, ';')});
    for (const std::string& name : SubkeyNames(recordKey + "\\RegistryKeys"))
        record.RegistryKeys.push_back(ReadRegistryKeyEntry(recordKey + "\\RegistryKeys\\" + name));
    for (const std::string& name : SubkeyNames(recordKey + "\\INIFiles")) {
        std::string entry = recordKey + "\\INIFiles\\" + name;
        TUninstallRecord::IniFile ini;
        ini.FilePath = ReadRegistryString(LocalMachine, entry, "FilePath", "");
        for (const std::string& section : SubkeyNames(entry + "\\Entries")) {
            std::vector<std::string> keys;
            for (const auto& [key, data] : ListedValues(entry + "\\Entries\\" + section, false)) keys.push_back(key);
            ini.Sections.emplace_back(section, keys);
        }
        record.IniFiles.push_back(ini);
    }
    record.Aliases = SubkeyNames(recordKey + "\\Aliases");
    record.HasBde = KeyExists(recordKey + "\\BDE");
    record.BdeEntries = StrToIntDef(ReadRegistryString(LocalMachine, recordKey + "\\BDE", "Entries", "0"), 0);
    return record;
}

bool IncrementSharedCount(const std::string& path) {
    TfrnmRegistry registry;
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(SharedDllsKey, true)) return false;
    std::string shortPath = GetShortPath(path);
    try {
        int32_t count = registry.ReadInteger(shortPath);
        registry.WriteInteger(shortPath, count + 1);
        return true;
    } catch (const ERegistryException&) {
    }
    int32_t count = 0;
    try {
        count = registry.ReadInteger(path);
    } catch (const ERegistryException&) {
    }
    registry.WriteInteger(path, count + 1);
    return true;
}

bool LookUpSharedCount(const std::string& path, std::string& valueName, int32_t& count) {
    for (const std::string& name : {GetShortPath(path), path}) {
        TfrnmRegistry registry;
        registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
        if (!registry.OpenKey(SharedDllsKey, false) || !registry.ValueExists(name)) continue;
        try {
            count = registry.ReadInteger(name);
            valueName = name;
            return true;
        } catch (const ERegistryException&) {
        }
    }
    return false;
}

}  // namespace ostra
