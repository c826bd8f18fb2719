// The uninstall record: the registry data through which an installation can be undone, written
// piece by piece by the install components while the install run processes them and read back by
// the uninstaller; and beside it the shared-file use counts.
//
// Layout (root HKEY_LOCAL_MACHINE; every value a string written with WriteRegistryString, except
// "Root", an integer; counters such as "Entries" are decimal texts; numbers carry no leading
// zeros). The record key is "\Software\Microsoft\Windows\CurrentVersion\Uninstall\" followed by
// the product name, taken unchanged:
//
//   top values        "DisplayName", "UninstallString", "Comments", "Contact", "DisplayIcon",
//                     "DisplayVersion", "HelpLink", "HelpTelephone", "Publisher", "ProductID",
//                     "Readme", "URLInfoAbout", "URLUpdateInfo", "RegCompany", "RegOwner" (an
//                     empty text is not written)
//   Files, Files1 ... "Entries" = n; "File1" ... "File<n>" = full path of an installed file
//   ActiveX           "Entries" = n; "File<i>" = full path, ";", kind: "0" in-process server,
//                     "1" local server (".EXE"), "2" type library (".TLB")
//   RegistryKeys      "Entries" = n; subkeys "RegistryKey<i>": "Key" = key path (begins with a
//                     backslash), "Root" = root index 0-5 (integer), subkey "Entries" with one
//                     value per registry entry: name = the entry's Ident, data = its text
//   INIFiles          one subkey per INI file: "FilePath"; subkey "Entries" with one subkey per
//                     section, whose value names are the keys added to it
//   Aliases           one subkey per database-engine alias
//   BDE               "Entries" = number of database-engine installations this product added
//
// Shared counts: HKEY_LOCAL_MACHINE "\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs", one
// integer value per shared file, named by the file's short path when a value of that name
// exists, else by its long path (new counts go under the long path).
//
// Adding to a numbered list: "Entries" is read as a text ("0" when missing) and converted (a text
// that is not a number raises the framework's EConvertError), n is that plus one, the entry is
// written as number n, then "Entries" := n ("RegistryKeys" writes "Entries" first). A failed write
// raises EIRCannotWriteValue. "Files" moves on instead: when reading, converting or writing the
// entry fails there, the same is tried in "Files1", "Files2" ... up to FilesSubkeyLimit subkeys,
// and "Entries" is written in the subkey that took the entry; when none takes it, the last failure
// is raised.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ostra {

inline constexpr const char* UninstallKeyPrefix = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr const char* SharedDllsKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
// How many subkeys ("Files", "Files1" ... "Files<limit - 1>") a file entry tries.
inline constexpr int FilesSubkeyLimit = 100;

// The record key of a product (the name unchanged, blanks and all).
std::string UninstallRecordKey(const std::string& productName);

// The top values of a record, in the order they are written.
struct TUninstallTopValues {
    std::string DisplayName, UninstallString, Comments, Contact, DisplayIcon, DisplayVersion, HelpLink, HelpTelephone,
        Publisher, ProductID, Readme, URLInfoAbout, URLUpdateInfo, RegCompany, RegOwner;
};
// The command of "UninstallString": the uninstaller's full path, a blank, and the trimmed product
// name, without quotes (SplitProgramFromCommandLine finds the program again the Windows way).
std::string MakeUninstallString(const std::string& uninstallerPath, const std::string& productName);
// Writes the top values whose text is not empty, in the table's order.
void WriteUninstallTopValues(const std::string& recordKey, const TUninstallTopValues& values);

// ActiveX kinds, chosen by the upper-cased extension of the install file's source name.
enum TActiveXKind { axInProcessServer = 0, axLocalServer = 1, axTypeLibrary = 2 };
TActiveXKind ActiveXKindOf(const std::string& fileName);

// Adds an installed file to "Files" (with the fall-back to the numbered subkeys).
void AddUninstallFile(const std::string& recordKey, const std::string& fullPath);
// Adds an ActiveX file to "ActiveX".
void AddUninstallActiveX(const std::string& recordKey, const std::string& fullPath, TActiveXKind kind);
// One value of a registry component, as the record lists it.
struct TUninstallRegistryValue {
    std::string Ident, Text;
};
// Adds a registry component's key to "RegistryKeys".
void AddUninstallRegistryKey(const std::string& recordKey, const std::string& keyPath, int rootIndex,
                             const std::vector<TUninstallRegistryValue>& values);

// A record as the uninstaller reads it; missing parts are empty.
struct TUninstallRecord {
    bool Exists = false;
    TUninstallTopValues Top;
    // The files of "Files", then of "Files1", "Files2" ... while the next one exists.
    std::vector<std::string> Files;
    struct ActiveXFile {
        std::string Path, Kind;
    };
    std::vector<ActiveXFile> ActiveX;
    struct RegistryKey {
        std::string Subkey;  // the path of the "RegistryKey<i>" subkey
        bool Valid = false;  // it could be read and its Root lies in 0..5
        std::string Key;
        int Root = -1;
        std::vector<std::string> ValueNames;  // of its "Entries"
    };
    std::vector<RegistryKey> RegistryKeys;
    struct IniFile {
        std::string FilePath;
        std::vector<std::pair<std::string, std::vector<std::string>>> Sections;  // section, its key names
    };
    std::vector<IniFile> IniFiles;
    std::vector<std::string> Aliases;
    bool HasBde = false;
    int BdeEntries = 0;  // "Entries" of "BDE" (0 when it is no number)
};
TUninstallRecord ReadUninstallRecord(const std::string& recordKey);

// Raises the shared count of a file by one: the count under its short path when that exists,
// else the one under its long path (0 when missing). False when the SharedDLLs key cannot be
// opened or created; a count that cannot be written raises the framework's ERegistryException.
bool IncrementSharedCount(const std::string& path);
// Looks a file's shared count up: under its short path, else under its long path. True with the
// value name it was found under and the count; false when there is none.
bool LookUpSharedCount(const std::string& path, std::string& valueName, int32_t& count);

}  // namespace ostra
