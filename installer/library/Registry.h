// TRegistry: the host framework's registry class on the machine's registry (platform/Registry.h).
// An object has a root key (HKEY_CURRENT_USER at creation), at most one open key at a time (the
// current key, with the path it was opened by) and the lazy-write flag, and reads and writes the
// values of its current key. Opening keys by path is left to the descendant TfrnmRegistry
// (routines_Registry.h), which is the class every part of the installer uses.
//
// Errors: a value that cannot be read raises ERegistryException "Failed to get data for '<name>'",
// a value of the wrong type "Invalid data type for '<name>'", a failed write "Failed to set data
// for '<name>'". ReadString of a missing value gives "" (the framework's rule).
//
// Every change is saved durably by the registry itself, so the lazy-write flag has nothing left to
// decide; it is kept because callers set it.
#pragma once
#include <cstdint>
#include <string>

#include "host/DateTime.h"
#include "host/Exceptions.h"
#include "host/Object.h"
#include "platform/Registry.h"

namespace ostra {

class TStrings;

using platform::HKEY;

// A registry value that cannot be read or written as asked.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// The kinds of value data, as the framework reports them.
enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

// The host framework's registry object: root, current key and path, lazy-write flag.
class TRegistry : public TObject {
public:
    // The root is HKEY_CURRENT_USER; prepares the machine on first use (WinMachine.h).
    TRegistry();
    ~TRegistry() override { CloseKey(); }
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return FRootKey; }
    // Closes the current key and makes value the root.
    void SetRootKey(HKEY value);
    // The open key (0 when none) and the path it was opened by.
    HKEY CurrentKey() const { return FCurrentKey; }
    const std::string& CurrentPath() const { return FCurrentPath; }
    bool LazyWrite() const { return FLazyWrite; }
    void SetLazyWrite(bool value) { FLazyWrite = value; }

    // Closes the current key (nothing when none is open).
    void CloseKey();

    // Values of the current key.
    bool ValueExists(const std::string& name) const;
    // True when the value was deleted.
    bool DeleteValue(const std::string& name);
    // The value's data kind; rdUnknown when it is missing.
    TRegDataType GetDataType(const std::string& name) const;
    // The size of the value's data in bytes (a string counts its terminating zero); -1 when missing.
    int GetDataSize(const std::string& name) const;

    std::string ReadString(const std::string& name) const;
    void WriteString(const std::string& name, const std::string& value);
    int32_t ReadInteger(const std::string& name) const;
    void WriteInteger(const std::string& name, int32_t value);
    // An integer value other than 0 is True; Booleans are written as the integers 0 and 1.
    bool ReadBool(const std::string& name) const;
    void WriteBool(const std::string& name, bool value);
    // Floats and date-times are 8-byte binary values.
    double ReadFloat(const std::string& name) const;
    void WriteFloat(const std::string& name, double value);
    TDateTime ReadDateTime(const std::string& name) const { return ReadFloat(name); }
    void WriteDateTime(const std::string& name, TDateTime value) { WriteFloat(name, value); }
    std::string ReadBinaryData(const std::string& name) const;
    void WriteBinaryData(const std::string& name, const std::string& data);

    // Lists of the current key's subkey names / value names in enumeration order (the list is
    // emptied first; it stays empty when no key is open or the key cannot be listed).
    void GetKeyNames(TStrings& strings) const;
    void GetValueNames(TStrings& strings) const;
    // True when the current key has subkeys.
    bool HasSubKeys() const;

protected:
    // Closes the current key and makes key the current key, opened by path.
    void ChangeKey(HKEY key, const std::string& path);
    // The key a path starts from: the current key for a relative path when one is open, else the
    // root.
    HKEY GetBaseKey(bool relative) const { return relative && FCurrentKey != 0 ? FCurrentKey : FRootKey; }

private:
    // Reads the value or raises "Failed to get data for '<name>'".
    platform::RegistryValue GetData(const std::string& name) const;
    void PutData(const std::string& name, const platform::RegistryValue& value);

    HKEY FRootKey = platform::HKEY_CURRENT_USER;
    HKEY FCurrentKey = 0;
    std::string FCurrentPath;
    bool FLazyWrite = true;
};

}  // namespace ostra
