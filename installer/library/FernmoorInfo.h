// Where the installer library itself lies on the build machine: the folder of the development
// environment's library search path that holds the marker file "F32V52.TXT". The uninstaller item
// and the build take the loading program and the uninstaller from there.
#pragma once
#include <string>

#include "installer/library/routines_Exceptions.h"

namespace ostra {

class IENoFernmoorPath : public IException {
public:
    using IException::IException;
};

struct FernmoorInfo {
    // Searches the entries of HKEY_CURRENT_USER "\Software\Borland\Delphi\5.0\Library" value
    // "Search Path" (separated by ";"), with "$(DELPHI)" and "$(BCB)" replaced by the environment's
    // "RootDir", for the marker file; the first folder holding it, without a trailing backslash.
    // Empty when none does, or IENoFernmoorPath "Cannot find the the Fernmoor directory on the VCL
    // library search path" with `raiseWhenMissing`.
    static std::string GetLibraryFolder(bool raiseWhenMissing);
};

}  // namespace ostra
