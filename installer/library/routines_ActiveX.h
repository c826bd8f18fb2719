// ActiveX self-registration on the machine: in-process servers (libraries exporting
// "DllRegisterServer" / "DllUnregisterServer"), type libraries, and local servers (programs run
// with "/REGSERVER" / "/UNREGSERVER"). Install files register what they install (the messages of
// a failed registration are theirs and use the facts these routines return); the uninstaller
// unregisters.
//
// Type libraries. The machine's type-library file is text: the line "OSTRA-TYPELIB 1", then lines
// "Name=value" for Guid (in braces), Version (major.minor), Lcid (decimal, 0 when missing), Name,
// and the optional HelpString and HelpFile. Registering one writes, under HKEY_CLASSES_ROOT
// "\TypeLib\<Guid>\<major>.<minor>": the default value HelpString (else Name), the subkey "FLAGS"
// with default "0", "HELPDIR" with the help folder given, and "<lcid in hex>\win32" with the file's
// path.
#pragma once
#include <cstdint>
#include <string>

#include "host/Exceptions.h"

namespace ostra {

// The host framework's OLE error: an OLE call failed with ErrorCode (an HRESULT).
class EOleSysError : public Exception {
public:
    EOleSysError(std::string message, int32_t errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
    int32_t ErrorCode;
};

// HRESULTs of the type-library calls and their texts.
inline constexpr int32_t TypeECantLoadLibrary = static_cast<int32_t>(0x80029C4Au);  // "Error loading type library/DLL."
inline constexpr int32_t TypeERegistryAccess = static_cast<int32_t>(0x8002801Cu);   // "Error accessing the OLE registry."
// Raises EOleSysError for a failed HRESULT (below zero); does nothing for success.
void OleCheck(int32_t result);

// What calling a library's registration export did.
struct TDllRegistration {
    enum TOutcome { Called, NotLoaded, NoExport } Outcome = NotLoaded;
    int32_t Result = 0;  // what the export returned (Called)
    int LastError = 0;   // the Windows error of the failure (NotLoaded, NoExport)
};

// Loads the library at the Windows-form path, calls its "DllRegisterServer" (or, with unregister,
// "DllUnregisterServer"), and frees it again.
TDllRegistration CallDllRegistration(const std::string& path, bool unregister);

// A type library as the stand-in of the type-library services reads it.
struct TTypeLibrary {
    std::string Guid, Name, HelpString, HelpFile;
    int MajorVersion = 0, MinorVersion = 0;
    uint32_t Lcid = 0;
};
// Reads a type library (LoadTypeLib); TypeECantLoadLibrary when it is missing or malformed.
int32_t LoadTypeLib(const std::string& path, TTypeLibrary& library);
// Registers it (RegisterTypeLib) as the header says; TypeERegistryAccess when a value cannot be
// written.
int32_t RegisterTypeLib(const TTypeLibrary& library, const std::string& path, const std::string& helpDir);
// Loads the type library at path and registers it with the folder of its help file; a failing
// call raises EOleSysError.
void RegisterTypeLibraryFile(const std::string& path);

// True when the file's version resource says that it registers itself: its first translation
// ("\VarFileInfo\Translation") names a string table (language and code page, each four hex
// digits) that holds a value "OLESelfRegister". False without a version resource or translation.
bool FileIsSelfRegistering(const std::string& path);

// How long a local server's registration may take.
inline constexpr uint32_t ServerRegistrationWaitMs = 60000;
// Runs a local server hidden with the switch ("/REGSERVER") and waits for its end, at most waitMs.
// A start that fails raises EProgramLauncherFailed; a server that is still running after waitMs
// raises EProgramLauncher "The registration of %s did not end within %d seconds"; one that ends
// with an exit code other than 0 raises EProgramLauncher "The registration of %s ended with the
// exit code %d".
void RunServerRegistration(const std::string& path, const std::string& switchText,
                           uint32_t waitMs = ServerRegistrationWaitMs);

}  // namespace ostra
