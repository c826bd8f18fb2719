// The library folder lookup (see the header).
#include "installer/library/FernmoorInfo.h"

#include "host/SysUtils.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_ExpandPaths.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {
const char* const NotFound = "Cannot find the the Fernmoor directory on the VCL library search path";

std::string ReplaceAll(std::string text, const std::string& macro, const std::string& value) {
    for (size_t at = text.find(macro); at != std::string::npos; at = text.find(macro, at + value.size()))
        text.replace(at, macro.size(), value);
    return text;
}
}  // namespace

std::string FernmoorInfo::GetLibraryFolder(bool raiseWhenMissing) {
    const std::string searchPath =
        ReadRegistryString(2, "\\Software\\Borland\\Delphi\\5.0\\Library", "Search Path", "");
    if (Trim(searchPath).empty() && raiseWhenMissing) throw IENoFernmoorPath(NotFound);
    const std::string root = ReadRegistryString(4, "\\Software\\Borland\\Delphi\\5.0", "RootDir", "");
    const int count = Trim(searchPath).empty() ? 0 : CountDelimitedFields(searchPath, ';');
    for (int i = 1; i <= count; ++i) {
        std::string entry = ReplaceAll(ReplaceAll(GetDelimitedField(searchPath, i, ';'), "$(DELPHI)", root), "$(BCB)", root);
        if (!Trim(entry).empty() && WinFileExists(JoinPath(entry, "F32V52.TXT"))) return RemoveBackslash(entry);
    }
    if (raiseWhenMissing) throw IENoFernmoorPath(NotFound);
    return "";
}

}  // namespace ostra
