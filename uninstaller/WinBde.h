// The old database engine's services that the uninstaller calls, in a small stand-in of our own:
// the engine's loader (DbiInitFn, DbiExit), the deletion of an alias and the saving of the
// configuration, and the conversion of names to the OEM code page the engine keeps them in.
//
// Where the engine lives. The engine counts as installed when HKEY_LOCAL_MACHINE
// "\Software\Borland\Database Engine" names its configuration file in the value "CONFIGFILE01"
// (a Windows-form path, so the file lies on a drive of the machine folder, platform/Machine.h)
// and that file is a configuration of this form; otherwise DbiInitFn fails with dbiNotInstalled.
// The same key holds "UseCount", the number of installations that use the engine.
//
// The configuration file: INI text (IniText.h) in the OEM code page, whose first line is
// "OSTRA-BDE-CONFIG 1"; each alias is a section named as the alias, holding its parameters:
//
//   OSTRA-BDE-CONFIG 1
//   [OSTRADEMO]
//   TYPE=STANDARD
//   PATH=C:\Program Files\Ostra\Demo
//
// Alias names match without regard to case. The session's configuration is read at DbiInitFn;
// deletions change it in memory, and DbiCfgSave with the persistent flag writes it back to the
// file (through a new file renamed over it). One session per process; every call but DbiInitFn
// needs it (dbiNotInitialized).
#pragma once
#include <cstdint>
#include <string>

namespace ostra {

// Results of the engine's calls.
enum TDbiResult : uint16_t {
    dbiOk = 0,
    dbiNotInstalled = 1,     // no configuration named, or not one of this form
    dbiNotInitialized = 2,   // no session: DbiInitFn has not succeeded
    dbiAlreadyInitialized = 3,
    dbiVersionMismatch = 4,  // DbiInitFn was asked for a version other than DbiInterfaceVersion
    dbiAliasNotFound = 5,
    dbiWriteFailed = 6,      // the configuration file could not be written
};

// The configuration handle; null stands for the session's configuration.
using hDBICfg = void*;

// The interface version the uninstaller asks for.
inline constexpr uint16_t DbiInterfaceVersion = 400;
// The engine's key below HKEY_LOCAL_MACHINE and the values in it.
inline constexpr const char* BdeEngineKey = "\\Software\\Borland\\Database Engine";
inline constexpr const char* BdeConfigFileValue = "CONFIGFILE01";
inline constexpr const char* BdeUseCountValue = "UseCount";
// The first line of a configuration file.
inline constexpr const char* BdeConfigMagic = "OSTRA-BDE-CONFIG 1";

// Starts a session: finds and reads the configuration (env: no environment is supported; pass
// null).
TDbiResult DbiInitFn(uint16_t version, const void* env);
// Deletes the alias named oemName (OEM code page) from the configuration cfg.
TDbiResult DbiDeleteAlias(hDBICfg cfg, const std::string& oemName);
// Saves the configuration cfg: with persistent to its file (fileName null) or to fileName
// (Windows form); without it nothing is written.
TDbiResult DbiCfgSave(hDBICfg cfg, const char* fileName, bool persistent);
// Ends the session; changes not saved are dropped.
TDbiResult DbiExit();

// Windows-1252 text in the OEM code page (850, Western European): every character that page has
// keeps its identity, the others become their nearest plain character ("Š" gives "S", quotes and
// dashes their ASCII forms) or "?".
std::string CharToOem(const std::string& ansi);

}  // namespace ostra
