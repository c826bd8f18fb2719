// The host framework's registry object on the machine's registry.
#include "installer/library/Registry.h"

#include <cstring>
#include <vector>

#include "host/StringList.h"
#include "host/SysUtils.h"
#include "installer/library/WinMachine.h"

namespace ostra {

using namespace platform;

TRegistry::TRegistry() { EnsureMachinePrepared(); }

void TRegistry::SetRootKey(HKEY value) {
    CloseKey();
    FRootKey = value;
}

void TRegistry::CloseKey() {
    if (FCurrentKey == 0) return;
    RegistryCloseKey(FCurrentKey);
    FCurrentKey = 0;
    FCurrentPath.clear();
}

void TRegistry::ChangeKey(HKEY key, const std::string& path) {
    CloseKey();
    FCurrentKey = key;
    FCurrentPath = path;
}

bool TRegistry::ValueExists(const std::string& name) const { return GetDataSize(name) >= 0; }

bool TRegistry::DeleteValue(const std::string& name) {
    return FCurrentKey != 0 && RegistryDeleteValue(FCurrentKey, name) == regOk;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
    RegistryValue value;
    if (FCurrentKey == 0 || RegistryQueryValue(FCurrentKey, name, value) != regOk) return rdUnknown;
    switch (value.Type) {
        case regString: return rdString;
        case regInteger: return rdInteger;
        case regBinary: return rdBinary;
    }
    return rdUnknown;
}

int TRegistry::GetDataSize(const std::string& name) const {
    RegistryValue value;
    if (FCurrentKey == 0 || RegistryQueryValue(FCurrentKey, name, value) != regOk) return -1;
    return static_cast<int>(value.Data.size()) + (value.Type == regString ? 1 : 0);
}

RegistryValue TRegistry::GetData(const std::string& name) const {
    RegistryValue value;
    if (FCurrentKey == 0 || RegistryQueryValue(FCurrentKey, name, value) != regOk)
        throw ERegistryException(Format("Failed to get data for '%s'", {name}));
    return value;
}

void TRegistry::PutData(const std::string& name, const RegistryValue& value) {
    if (FCurrentKey == 0 || RegistrySetValue(FCurrentKey, name, value) != regOk)
        throw ERegistryException(Format("Failed to set data for '%s'", {name}));
}

std::string TRegistry::ReadString(const std::string& name) const {
    if (GetDataSize(name) < 0) return "";
    RegistryValue value = GetData(name);
    if (value.Type != regString) throw ERegistryException(Format("Invalid data type for '%s'", {name}));
    return value.Data;
}

void TRegistry::WriteString(const std::string& name, const std::string& value) { PutData(name, RegistryValue::String(value)); }

int32_t TRegistry::ReadInteger(const std::string& name) const {
    RegistryValue value = GetData(name);
    if (value.Type != regInteger) throw ERegistryException(Format("Invalid data type for '%s'", {name}));
    return static_cast<int32_t>(value.AsInteger());
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
    PutData(name, RegistryValue::Integer(static_cast<uint32_t>(value)));
}

bool TRegistry::ReadBool(const std::string& name) const { return ReadInteger(name) != 0; }

void TRegistry::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

double TRegistry::ReadFloat(const std::string& name) const {
    RegistryValue value = GetData(name);
    if (value.Type != regBinary || value.Data.size() != sizeof(double))
        throw ERegistryException(Format("Invalid data type for '%s'", {name}));
    double result;
    std::memcpy(&result, value.Data.data(), sizeof result);
    return result;
}

void TRegistry::WriteFloat(const std::string& name, double value) {
    std::string bytes(sizeof value, '\0');
    std::memcpy(bytes.data(), &value, sizeof value);
    PutData(name, RegistryValue::Binary(bytes));
}

std::string TRegistry::ReadBinaryData(const std::string& name) const {
    RegistryValue value = GetData(name);
    if (value.Type != regBinary) throw ERegistryException(Format("Invalid data type for '%s'", {name}));
    return value.Data;
}

void TRegistry::WriteBinaryData(const std::string& name, const std::string& data) { PutData(name, RegistryValue::Binary(data)); }

void TRegistry::GetKeyNames(TStrings& strings) const {
    strings.Clear();
    std::vector<std::string> names;
    if (FCurrentKey != 0 && RegistryKeyNames(FCurrentKey, names) == regOk)
        for (const std::string& n : names) strings.Add(n);
}

void TRegistry::GetValueNames(TStrings& strings) const {
    strings.Clear();
    std::vector<std::string> names;
    if (FCurrentKey != 0 && RegistryValueNames(FCurrentKey, names) == regOk)
        for (const std::string& n : names) strings.Add(n);
}

bool TRegistry::HasSubKeys() const {
    std::vector<std::string> names;
    return FCurrentKey != 0 && RegistryKeyNames(FCurrentKey, names) == regOk && !names.empty();
}

}  // namespace ostra
