// The Office path specifiers (see the header).
#include "installer/library/specifiers_Office.h"

#include "installer/library/routines_API.h"
#include "installer/library/routines_ExpandPaths.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

std::string TpsOfficeUserTemplates::GetDescription() const { return "Path to the MS Office User Templates directory"; }
std::string TpsOfficeUserTemplates::GetShortCaption() const { return "User Templates"; }
std::string TpsOfficeUserTemplates::GetPath(TComponent*) {
    return GetOfficeFileNewFolder("LocalTemplates", "Microsoft Office\\Templates");
}

std::string TpsOfficeWorkgroupTemplates::GetDescription() const {
    return "Path to the MS Office Workgroup Templates directory";
}
std::string TpsOfficeWorkgroupTemplates::GetShortCaption() const { return "Workgroup Templates"; }
std::string TpsOfficeWorkgroupTemplates::GetPath(TComponent*) {
    int version = GetWordVersion();
    if (version >= 7 && version <= 19) {
        std::string shared = ReadRegistryString(2, GetOfficeFileNewKey(version, "SharedTemplates"), "", "");
        if (!shared.empty()) return RemoveBackslash(shared);
    }
    return GetOfficeFileNewFolder("LocalTemplates", "Microsoft Office\\Templates");
}

std::string TpsOfficeClipartDirectory::GetDescription() const { return "Path to the MS Office Clipart directory"; }
std::string TpsOfficeClipartDirectory::GetShortCaption() const { return "Office Clipart dir"; }
std::string TpsOfficeClipartDirectory::GetPath(TComponent*) {
    return GetWordOptionsFolder("PICTURE-PATH", "Microsoft Office\\Clipart");
}

std::string TpsOfficeStartupDirectory::GetDescription() const { return "Path to the MS Office Startup directory"; }
std::string TpsOfficeStartupDirectory::GetShortCaption() const { return "Office Startup dir"; }
std::string TpsOfficeStartupDirectory::GetPath(TComponent*) {
    return GetWordOptionsFolder("STARTUP-PATH", "Microsoft Office\\Office\\Startup");
}

std::string TpsOfficeToolsDirectory::GetDescription() const { return "Path to the MS Office Tools directory"; }
std::string TpsOfficeToolsDirectory::GetShortCaption() const { return "Office Tools dir"; }
std::string TpsOfficeToolsDirectory::GetPath(TComponent*) {
    return GetWordOptionsFolder("TOOLS-PATH", "Microsoft Office\\Office");
}

std::string TpsOfficeFavoritesDirectory::GetDescription() const { return "Path to the MS Office Favorites directory"; }
std::string TpsOfficeFavoritesDirectory::GetShortCaption() const { return "Office Favorites dir"; }
std::string TpsOfficeFavoritesDirectory::GetPath(TComponent*) {
    std::string value = ReadRegistryString(
        2, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Favorites", "");
    return RemoveBackslash(value.empty() ? JoinPath(GetWindowsDir(), "Favorites") : value);
}

void RegisterOfficeSpecifiers(TPathSpecifierClassList& list) {
    RegisterPathSpecifierClass<TpsOfficeUserTemplates>(list);
    RegisterPathSpecifierClass<TpsOfficeWorkgroupTemplates>(list);
    RegisterPathSpecifierClass<TpsOfficeClipartDirectory>(list);
    RegisterPathSpecifierClass<TpsOfficeStartupDirectory>(list);
    RegisterPathSpecifierClass<TpsOfficeToolsDirectory>(list);
    RegisterPathSpecifierClass<TpsOfficeFavoritesDirectory>(list);
}

}  // namespace ostra
