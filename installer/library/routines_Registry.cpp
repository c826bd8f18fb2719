// TfrnmRegistry and the one-call registry routines.
#include "installer/library/routines_Registry.h"

#include <vector>

#include "host/StringList.h"
#include "host/SysUtils.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Exceptions.h"

namespace ostra {

using namespace platform;

namespace {

constexpr const char* RunOnceKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// Deletes the key at path below parent after every key below it.
bool DeleteTree(HKEY parent, const std::string& path) {
    HKEY key = 0;
    if (RegistryOpenKey(parent, path, RegistryAccess::ReadWrite, key) == regOk) {
        std::vector<std::string> names;
        RegistryKeyNames(key, names);
        for (const std::string& name : names) DeleteTree(key, name);
        RegistryCloseKey(key);
    }
    return RegistryDeleteKey(parent, path) == regOk;
}

}  // namespace

bool TfrnmRegistry::IsRelative(const std::string& path) const { return path.empty() || path[0] != '\\'; }

HKEY TfrnmRegistry::Base(const std::string& path, std::string& below) const {
    bool relative = IsRelative(path);
    below = relative ? path : path.substr(1);
    return GetBaseKey(relative);
}

bool TfrnmRegistry::OpenKey(const std::string& path, bool canCreate) {
    std::string below;
    HKEY base = Base(path, below);
    HKEY key = 0;
    long result = canCreate && !below.empty() ? RegistryCreateKey(base, below, key)
                                              : RegistryOpenKey(base, below, RegistryAccess::ReadWrite, key);
    if (result != regOk) return false;
    if (IsRelative(path) && CurrentKey() != 0) below = CurrentPath() + "\\" + below;
    ChangeKey(key, below);
    return true;
}

bool TfrnmRegistry::KeyExists(const std::string& path) const {
    std::string below;
    HKEY base = Base(path, below);
    HKEY key = 0;
    if (RegistryOpenKey(base, below, RegistryAccess::Read, key) != regOk) return false;
    RegistryCloseKey(key);
    return true;
}

bool TfrnmRegistry::DeleteKey(const std::string& path) {
    std::string below;
    HKEY base = Base(path, below);
    return DeleteTree(base, below);
}

HKEY RootKeyOfIndex(int index) { return RegistryRootKey(index); }

void SetRegistryRootByIndex(TRegistry& registry, int index) {
    if (HKEY root = RegistryRootKey(index)) registry.SetRootKey(root);
}

int HKeyToRootIndex(HKEY root, int defaultIndex) {
    int index = RegistryRootIndex(root);
    return index >= 0 ? index : defaultIndex;
}

namespace {

// Opens the key (creating it) and writes one value with write; raises EIRCannotWriteValue with
// message when that fails.
template <class Write>
void WriteValue(int rootIndex, const std::string& key, const std::string& message, Write write) {
    TfrnmRegistry registry;
    SetRegistryRootByIndex(registry, rootIndex);
    try {
        if (!registry.OpenKey(key, true)) throw ERegistryException(message);
        write(registry);
    } catch (const ERegistryException&) {
        throw EIRCannotWriteValue(message);
    }
}

// Reads one value with read when the key exists, opens and holds it; otherwise, or when the read
// fails, the default.
template <class T, class Read>
T ReadValue(int rootIndex, const std::string& key, const std::string& name, const T& defaultValue, Read read) {
    TfrnmRegistry registry;
    SetRegistryRootByIndex(registry, rootIndex);
    try {
        if (registry.KeyExists(key) && registry.OpenKey(key, false) && registry.ValueExists(name)) return read(registry);
    } catch (const ERegistryException&) {
    }
    return defaultValue;
}

}  // namespace

void WriteRegistryString(int rootIndex, const std::string& key, const std::string& name, const std::string& value) {
    WriteValue(rootIndex, key, Format("Cannot install into registry. Key: %s Ident: %s Value %s", {key, name, value}),
               [&](TfrnmRegistry& r) { r.WriteString(name, value); });
}

void WriteRegistryInteger(int rootIndex, const std::string& key, const std::string& name, int32_t value) {
    WriteValue(rootIndex, key, key, [&](TfrnmRegistry& r) { r.WriteInteger(name, value); });
}

std::string ReadRegistryString(int rootIndex, const std::string& key, const std::string& name,
                               const std::string& defaultValue) {
    return ReadValue(rootIndex, key, name, defaultValue, [&](TfrnmRegistry& r) { return r.ReadString(name); });
}

int32_t ReadRegistryInteger(int rootIndex, const std::string& key, const std::string& name, int32_t defaultValue) {
    return ReadValue(rootIndex, key, name, defaultValue, [&](TfrnmRegistry& r) { return r.ReadInteger(name); });
}

void DeleteRegistryKeyTree(int rootIndex, const std::string& key) {
    TfrnmRegistry registry;
    SetRegistryRootByIndex(registry, rootIndex);
    if (!registry.OpenKey(key, false)) return;
    TStringList names;
    registry.GetKeyNames(names);
    registry.CloseKey();
    for (int i = 0; i < names.Count(); ++i) DeleteRegistryKeyTree(rootIndex, key + "\\" + names.Strings(i));
    registry.DeleteKey(key);
}

bool WriteRunOnceEntry(const std::string& name, const std::string& command, bool unique) {
    TfrnmRegistry registry;
    registry.SetRootKey(NTFamily.Contains(GetWindowsVersionCode()) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(RunOnceKey, true)) return false;
    std::string valueName = name;
    for (int n = 1; unique && registry.ValueExists(valueName); ++n) valueName = name + std::to_string(n);
    registry.SetLazyWrite(false);
    try {
        registry.WriteString(valueName, command);
    } catch (const ERegistryException&) {
        return false;
    }
    registry.CloseKey();
    return true;
}

void DeleteRegistryValue(int rootIndex, const std::string& key, const std::string& name) {
    TfrnmRegistry registry;
    SetRegistryRootByIndex(registry, rootIndex);
    if (registry.KeyExists(key) && registry.OpenKey(key, false)) registry.DeleteValue(name);
}

void GetRegistrySubKeyNames(int rootIndex, const std::string& key, TStrings& list) {
    list.Clear();
    TfrnmRegistry registry;
    SetRegistryRootByIndex(registry, rootIndex);
    if (registry.KeyExists(key) && registry.OpenKey(key, false)) registry.GetKeyNames(list);
}

}  // namespace ostra
