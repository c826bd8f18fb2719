// ActiveX registration: in-process servers, type libraries, local servers.
#include "installer/library/routines_ActiveX.h"

#include <fstream>

#include "host/SysUtils.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TProgramLauncher.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/routines_Registry.h"
#include "platform/SharedLibrary.h"
#include "platform/VersionResource.h"

namespace ostra {

namespace {

using TRegistrationExport = int32_t (*)();

std::string HResultText(int32_t result) {
    switch (result) {
        case TypeECantLoadLibrary: return "Error loading type library/DLL.";
        case TypeERegistryAccess: return "Error accessing the OLE registry.";
        default: return Format("OLE error %.8X", {static_cast<int64_t>(static_cast<uint32_t>(result))});
    }
}

}  // namespace

void OleCheck(int32_t result) {
    if (result < 0) throw EOleSysError(HResultText(result), result);
}

TDllRegistration CallDllRegistration(const std::string& path, bool unregister) {
    TDllRegistration outcome;
    platform::SharedLibrary library;
    std::string native = WinToNative(path);
    if (native.empty() || !library.Load(native, outcome.LastError)) {
        if (native.empty()) outcome.LastError = platform::ErrorModNotFound;
        return outcome;
    }
    auto call = reinterpret_cast<TRegistrationExport>(
        library.Export(unregister ? "DllUnregisterServer" : "DllRegisterServer", outcome.LastError));
    if (!call) {
        outcome.Outcome = TDllRegistration::NoExport;
        return outcome;
    }
    outcome.Outcome = TDllRegistration::Called;
    outcome.Result = call();
    return outcome;
}

int32_t LoadTypeLib(const std::string& path, TTypeLibrary& library) {
    library = TTypeLibrary();
    std::ifstream in(WinToNative(path), std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || Trim(line) != "OSTRA-TYPELIB 1") return TypeECantLoadLibrary;
    std::string version;
    while (std::getline(in, line)) {
        line = Trim(line);
        size_t eq = line.find('=');
        if (line.empty() || eq == std::string::npos) continue;
        std::string name = line.substr(0, eq), value = line.substr(eq + 1);
        if (SameText(name, "Guid")) library.Guid = value;
        else if (SameText(name, "Version")) version = value;
        else if (SameText(name, "Lcid")) library.Lcid = static_cast<uint32_t>(StrToIntDef(value, -1));
        else if (SameText(name, "Name")) library.Name = value;
        else if (SameText(name, "HelpString")) library.HelpString = value;
        else if (SameText(name, "HelpFile")) library.HelpFile = value;
    }
    size_t dot = version.find('.');
    int32_t major = 0, minor = 0;
    bool wellFormed = library.Guid.size() == 38 && library.Guid.front() == '{' && library.Guid.back() == '}' &&
                      !library.Name.empty() && dot != std::string::npos && TryStrToInt(version.substr(0, dot), major) &&
                      TryStrToInt(version.substr(dot + 1), minor) && library.Lcid != 0xFFFFFFFFu;
    if (!wellFormed) return TypeECantLoadLibrary;
    library.MajorVersion = major;
    library.MinorVersion = minor;
    return 0;
}

int32_t RegisterTypeLib(const TTypeLibrary& library, const std::string& path, const std::string& helpDir) {
    std::string key = "\\TypeLib\\" + library.Guid + "\\" + std::to_string(library.MajorVersion) + "." +
                      std::to_string(library.MinorVersion);
    try {
        WriteRegistryString(0, key, "", library.HelpString.empty() ? library.Name : library.HelpString);
        WriteRegistryString(0, key + "\\FLAGS", "", "0");
        WriteRegistryString(0, key + "\\HELPDIR", "", helpDir);
        WriteRegistryString(0, key + "\\" + IntToHex(library.Lcid, 1) + "\\win32", "", WinExpandFileName(path));
    } catch (const EIRCannotWriteValue&) {
        return TypeERegistryAccess;
    }
    return 0;
}

void RegisterTypeLibraryFile(const std::string& path) {
    TTypeLibrary library;
    OleCheck(LoadTypeLib(path, library));
    size_t cut = library.HelpFile.find_last_of('\\');
    std::string helpDir = cut == std::string::npos ? "" : library.HelpFile.substr(0, cut);
    OleCheck(RegisterTypeLib(library, path, helpDir));
}

bool FileIsSelfRegistering(const std::string& path) {
    std::string block, translation, value;
    std::string native = WinToNative(path);
    if (native.empty() || !platform::GetFileVersionInfo(native, block) ||
        !platform::VerQueryValue(block, "\\VarFileInfo\\Translation", translation) || translation.size() < 4)
        return false;
    auto byte = [&](int i) { return static_cast<unsigned char>(translation[i]); };
    int language = byte(0) | byte(1) << 8, codePage = byte(2) | byte(3) << 8;
    return platform::VerQueryValue(block, "\\StringFileInfo\\" + IntToHex(language, 4) + IntToHex(codePage, 4) + "\\OLESelfRegister",
                                   value);
}

void RunServerRegistration(const std::string& path, const std::string& switchText, uint32_t waitMs) {
    TProgramLauncher launcher(nullptr);
    launcher.SetFileName(path);
    launcher.SetParameters(switchText);
    launcher.SetShowMode(smHide);
    int exitCode = 0;
    if (!launcher.ExecuteAndWait(waitMs, exitCode))
        throw EProgramLauncher(Format("The registration of %s did not end within %d seconds",
                                      {path, static_cast<int>((waitMs + 999) / 1000)}));
    if (exitCode != 0)
        throw EProgramLauncher(Format("The registration of %s ended with the exit code %d", {path, exitCode}));
}

}  // namespace ostra
