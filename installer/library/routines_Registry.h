// TfrnmRegistry and the one-call registry routines: all registry work of the installer library,
// the setup program and the uninstaller goes through them.
//
// TfrnmRegistry adds three things to the framework's registry class (Registry.h): paths that are
// relative to the open key unless they begin with a backslash, keys created on demand, and
// recursive deletion. The routines address the roots by their index, the order of TRootKeys, which
// is also how the uninstall record stores a root:
//   0 HKEY_CLASSES_ROOT  1 HKEY_CURRENT_CONFIG  2 HKEY_CURRENT_USER  3 HKEY_DYN_DATA
//   4 HKEY_LOCAL_MACHINE  5 HKEY_USERS
// Each routine creates its own registry object and frees it before returning. Writers raise
// EIRCannotWriteValue; readers fall back to their default; deleters swallow errors.
#pragma once
#include <cstdint>
#include <string>

#include "installer/library/Registry.h"

namespace ostra {

class TStrings;

// The registry class of the installer library.
class TfrnmRegistry : public TRegistry {
public:
    // True unless path begins with a backslash.
    bool IsRelative(const std::string& path) const;
    // Opens a key: an absolute path (leading backslash) from the root, a relative one from the
    // current key when one is open, else from the root; with canCreate and a non-empty path a
    // missing key is created. On success the key becomes the current key and the current path
    // becomes the path without its leading backslash, or, for a relative path with a key already
    // open, the old current path, a backslash and the path.
    bool OpenKey(const std::string& path, bool canCreate);
    // True when the key can be opened for reading (it is closed again at once).
    bool KeyExists(const std::string& path) const;
    // Deletes the key and everything below it; true when the key itself was deleted. The current
    // key is the same after the call as before.
    bool DeleteKey(const std::string& path);

private:
    // The key a path starts from and the path below it.
    HKEY Base(const std::string& path, std::string& below) const;
};

// The root handle of a root index; 0 for an index outside 0..5.
HKEY RootKeyOfIndex(int index);
// Sets the registry's root by index; any other index leaves the root unchanged.
void SetRegistryRootByIndex(TRegistry& registry, int index);
// The index of a predefined root; any other handle gives the default.
int HKeyToRootIndex(HKEY root, int defaultIndex);

// Opens the key (creating it) and writes a string value; failure raises EIRCannotWriteValue
// "Cannot install into registry. Key: %s Ident: %s Value %s".
void WriteRegistryString(int rootIndex, const std::string& key, const std::string& name, const std::string& value);
// The same for an integer value; the failure's message is the key path alone.
void WriteRegistryInteger(int rootIndex, const std::string& key, const std::string& name, int32_t value);
// The default, unless the key exists, can be opened and holds the value (a failed read also gives
// the default).
std::string ReadRegistryString(int rootIndex, const std::string& key, const std::string& name,
                               const std::string& defaultValue);
// The same for an integer value; a value of another type gives the default.
int32_t ReadRegistryInteger(int rootIndex, const std::string& key, const std::string& name, int32_t defaultValue);
// Deletes the key with everything below it when it can be opened; every error is swallowed.
void DeleteRegistryKeyTree(int rootIndex, const std::string& key);
// Writes a RunOnce entry: under HKEY_CURRENT_USER when the running Windows is of the NT family,
// else HKEY_LOCAL_MACHINE, key "\Software\Microsoft\Windows\CurrentVersion\RunOnce" (created
// when missing). With unique the value name is the first of name, name1, name2 ... that does not
// exist yet; without it an existing value is overwritten. False when the key cannot be opened or
// the value not written.
bool WriteRunOnceEntry(const std::string& name, const std::string& command, bool unique);
// Deletes one value when the key exists and opens; errors are ignored.
void DeleteRegistryValue(int rootIndex, const std::string& key, const std::string& name);
// Empties the list, then fills it with the key's subkey names when the key exists and opens.
void GetRegistrySubKeyNames(int rootIndex, const std::string& key, TStrings& list);

}  // namespace ostra
