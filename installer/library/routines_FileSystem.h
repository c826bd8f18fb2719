// File routines of the installer library: file attributes as the install file's attribute set,
// and the nearest existing folder of a path. Paths are in Windows form (WinFileSystem.h).
#pragma once
#include <string>

#include "host/Set.h"
#include "installer/library/routines_Exceptions.h"

namespace ostra {

// The attributes an install file gives its installed file.
enum TFrnmFileAttribute { ffaArchive, ffaCompressed, ffaDirectory, ffaHidden, ffaNormal, ffaOffline, ffaReadOnly, ffaSystem, ffaTemporary };
using TFrnmFileAttributesSet = TSet<TFrnmFileAttribute>;

// The file's attributes could not be set.
class IEfcSetAttributes : public IException {
public:
    using IException::IException;
};

// Sets the file's attributes to the Windows attributes of the members (ffaCompressed is not passed
// on). Failure raises IEfcSetAttributes "Cannot set file attributes. Error : %s" with the text of
// the last error.
void SetFileAttributesFromSet(const std::string& path, TFrnmFileAttributesSet attributes);
// Opens the file for reading without sharing; when that works, attributes becomes [ffaReadOnly]
// for a read-only file and empty otherwise; when it fails, attributes is left as it was.
void GetFileAttributesSet(const std::string& path, TFrnmFileAttributesSet& attributes);
// Empty for a blank path; the path itself when it is an existing folder; otherwise the same
// question for the path cut before its last backslash; empty when no backslash is left.
std::string NearestExistingFolder(const std::string& path);

}  // namespace ostra
