// The registry: a tree of keys under six roots, each key holding named values, kept in one file of
// the machine folder (Machine.h) and shared by every process of the machine.
//
// Roots, in the index order the installer stores them: 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_CONFIG,
// 2 HKEY_CURRENT_USER, 3 HKEY_DYN_DATA, 4 HKEY_LOCAL_MACHINE, 5 HKEY_USERS. The roots are six
// independent trees (none of them is a view of another).
//
// Names. Key and value names are 8-bit Windows-1252 text of at most 255 characters; a key name is
// not empty and holds no backslash; the empty value name is the key's default value. Names match
// without regard to case (AnsiCase.h) and keep the spelling they were created with. A key path is
// key names joined by backslashes; empty parts (doubled, leading or trailing backslashes) are
// skipped, so "" names the key itself.
//
// Values: a string (text of any bytes), an integer (32 bits) or binary data (any bytes).
//
// Enumeration order: subkeys in ascending order of their folded (upper-case) names, byte by byte;
// values in the order they were first written (writing a value again keeps its place; a value
// deleted and written again goes to the end).
//
// Deleting a key that has subkeys is refused (regAccessDenied), as is deleting a root. A key that
// handles still have open may be deleted: those handles then fail with regKeyDeleted.
//
// Handles. RegistryOpenKey and RegistryCreateKey hand out handles (numbers from 1 up, below the
// root handles) that name a key by its root and path. They belong to the process and live until
// RegistryCloseKey. A handle opened for reading cannot change its key (regAccessDenied); the root
// handles can read and write.
//
// Sharing and durability. Every call is one transaction under a lock between processes (the file
// registry.lock of the machine folder: a shared lock to read, an exclusive one to change, each
// waited for at most 30 seconds, then regLockTimeout). A change is saved before the call returns:
// the whole registry is written to "registry.new", flushed to stable storage and renamed over
// "registry", so a crash leaves the registry as it was before the change or as it is after it. The
// lock file holds a change counter (its first 8 bytes); a process keeps the parsed registry and
// reads the file again only when the counter has moved. A change that cannot be saved fails with
// regIoFailed and is not kept. A registry file that cannot be parsed fails every call with
// regCorrupt and is never overwritten.
//
// File format, which is also the canonical text dump that tests compare (ASCII only):
//   "OSTRA-REGISTRY 1"                   the first line
//   "key " root [ "\" name ... ]         one line per key, depth first in enumeration order, the
//                                        roots included; in names the bytes below 0x20, "%" and
//                                        the bytes from 0x7F up are written as %HH
//   "  sz " "name" " " "text"            the key's values below its line, in enumeration order:
//   "  dword " "name" " " 1234           a string, an integer (unsigned decimal), binary data
//   "  binary " "name" " " 00ff10        (two hex digits a byte, nothing for no bytes)
// Names and texts of values stand in double quotes; "\" is written "\\", a double quote "\"", and
// the bytes below 0x20 and from 0x7F up "\xHH".
//
// Fault injection. A test can make any call fail with the error it chooses (SetRegistryFaultHook);
// the saves pass through the file fault hook of FileFault.h (their path ends in "registry.new").
//
// Errors are Windows error numbers (RegistryError); a failing call also records ErrorBase plus that
// number as the thread's last error (LastError.h).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ostra::platform {

// A key handle: a root handle below, or a number handed out by RegistryOpenKey/RegistryCreateKey.
using HKEY = uint32_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

inline constexpr int RegistryRootCount = 6;
// The root handle of a root index (0..5); 0 for any other index.
HKEY RegistryRootKey(int index);
// The root index of a root handle; -1 for any other handle.
int RegistryRootIndex(HKEY key);
// The name of a root index ("HKEY_LOCAL_MACHINE"); "" for any other index.
std::string RegistryRootName(int index);

// Results of the registry calls: Windows error numbers.
enum RegistryError : long {
    regOk = 0,
    regNotFound = 2,          // no such key or value
    regAccessDenied = 5,      // a change through a read handle; deleting a key with subkeys or a root
    regInvalidHandle = 6,     // a handle that is not open
    regLockTimeout = 33,      // another process held the registry for 30 seconds
    regInvalidParameter = 87, // a name too long or holding a backslash, an unknown value type
    regCorrupt = 1015,        // the registry file cannot be parsed
    regIoFailed = 1016,       // the registry file cannot be read or a change cannot be saved
    regKeyDeleted = 1018,     // the handle's key was deleted
};

enum RegistryValueType : uint32_t { regString = 1, regBinary = 3, regInteger = 4 };

// One value: its type and its bytes (an integer as 4 bytes, least significant first).
struct RegistryValue {
    RegistryValueType Type = regString;
    std::string Data;

    static RegistryValue String(std::string text) { return {regString, std::move(text)}; }
    static RegistryValue Binary(std::string bytes) { return {regBinary, std::move(bytes)}; }
    static RegistryValue Integer(uint32_t value);
    // The integer of an integer value (0 when Data is shorter than 4 bytes).
    uint32_t AsInteger() const;
};

enum class RegistryAccess { Read, ReadWrite };

// Opens the key at path below parent. regNotFound when it does not exist.
long RegistryOpenKey(HKEY parent, const std::string& path, RegistryAccess access, HKEY& key);
// Opens the key at path below parent for reading and writing, creating it and every missing key
// on its way; created (when given) tells whether the key itself was new.
long RegistryCreateKey(HKEY parent, const std::string& path, HKEY& key, bool* created = nullptr);
// Closes a handle; closing a root handle does nothing.
long RegistryCloseKey(HKEY key);
// Deletes the key at path below parent; refused while it has subkeys. The path must not be empty.
long RegistryDeleteKey(HKEY parent, const std::string& path);

// Writes a value (creating it, or replacing its type and data).
long RegistrySetValue(HKEY key, const std::string& name, const RegistryValue& value);
// Reads a value. regNotFound when the key has no value of that name.
long RegistryQueryValue(HKEY key, const std::string& name, RegistryValue& value);
long RegistryDeleteValue(HKEY key, const std::string& name);
// The names of the key's subkeys / values, in enumeration order.
long RegistryKeyNames(HKEY key, std::vector<std::string>& names);
long RegistryValueNames(HKEY key, std::vector<std::string>& names);

// The canonical text of the whole registry (rootIndex -1: the file's contents), or of one key and
// everything below it (without the first line). regNotFound for a missing key.
long RegistryDump(std::string& text, int rootIndex = -1, const std::string& path = "");

// The calls as the fault hook sees them.
enum class RegistryOp { OpenKey, CreateKey, DeleteKey, SetValue, QueryValue, DeleteValue, Enumerate };

// Decides the fate of one call before it touches the registry: the error to fail it with, or
// regOk to let it run. keyPath is the full path of the key the call works on (below the root,
// names joined by single backslashes, as the caller spelt them); valueName is "" for key calls.
using RegistryFaultHook =
    std::function<long(RegistryOp op, int rootIndex, const std::string& keyPath, const std::string& valueName)>;

// Installs the process-global hook (an empty function removes it); returns the previous one.
RegistryFaultHook SetRegistryFaultHook(RegistryFaultHook hook);

// Installs a hook for the lifetime of the object, restoring the previous one after.
class ScopedRegistryFaultHook {
public:
    explicit ScopedRegistryFaultHook(RegistryFaultHook hook) : FPrevious(SetRegistryFaultHook(std::move(hook))) {}
    ~ScopedRegistryFaultHook() { SetRegistryFaultHook(std::move(FPrevious)); }
    ScopedRegistryFaultHook(const ScopedRegistryFaultHook&) = delete;
    ScopedRegistryFaultHook& operator=(const ScopedRegistryFaultHook&) = delete;

private:
    RegistryFaultHook FPrevious;
};

}  // namespace ostra::platform
