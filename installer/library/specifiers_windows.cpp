// The shell-folder path specifiers (see the header).
#include "installer/library/specifiers_windows.h"

#include "host/ClassRegistry.h"
#include "installer/library/WinMachine.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_ExpandPaths.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

std::string TShellFolderSpecifier::GetPath(TComponent* Component) {
    TOSVerType version = GetWindowsVersionCode();
    int csidl = NTFamily.Contains(version) ? FRule.NT : Win9xFamily.Contains(version) ? FRule.Win9x : -1;
    if (csidl < 0) {
        if (FRule.MissingIsError) RaiseNoFolder(Component);
        return "";
    }
    return RemoveBackslash(GetSpecialFolderPath(csidl));
}

#define OSTRA_SHELL_RULE(Class, ...) \
    Class::Class(TComponent* AOwner) : TShellFolderSpecifier(AOwner, &#Class[1], TShellFolderRule{__VA_ARGS__}) {}

OSTRA_SHELL_RULE(TpsPrinters, "virtual folder containing installed printers", "Installed Printers", csidlPrinters, -1, true)
OSTRA_SHELL_RULE(TpsRecent, "Recently Used Documents", "Recently Used", csidlRecent, -1, true)
OSTRA_SHELL_RULE(TpsSendTo, "Send To Menu", "Send To", csidlSendTo, -1, false)
OSTRA_SHELL_RULE(TpsStartup, "User Startup", "Startup", csidlStartup, -1, false)
OSTRA_SHELL_RULE(TpsControlPanel, "Control Panel", "Control Panel", csidlControls, -1, false)
OSTRA_SHELL_RULE(TpsFavorites, "Favorites", "Favorites", csidlFavorites, -1, true)
OSTRA_SHELL_RULE(TpsBitBucket, "Recycle bin", "Recycle bin", csidlBitBucket, -1, false)
OSTRA_SHELL_RULE(TpsCookies, "Cookies", "Cookies", csidlCookies, -1, false)
OSTRA_SHELL_RULE(TpsCommonAltStartup, "Alternate Startup folder for (All Users profile)",
                 "Common Alternate Startup folder", csidlCommonAltStartup, csidlAltStartup, false)
// Windows XP has the all-users Startup folder as NT 4 and 2000 do.
OSTRA_SHELL_RULE(TpsCommonStartup, "Common Startup directory", "Common Startup", csidlCommonStartup, csidlStartup,
                 false)
OSTRA_SHELL_RULE(TpsCommonDesktopDirectory, "Common Desktop Directory", "Common Desktop",
                 csidlCommonDesktopDirectory, csidlDesktopDirectory, true)
OSTRA_SHELL_RULE(TpsCommonFavorites, "Common Favorites", "Common Favorites", csidlCommonFavorites, csidlFavorites,
                 false)
OSTRA_SHELL_RULE(TpsCommonPrograms, "Common Programs", "Common Programs", csidlCommonPrograms, csidlPrograms, false)
OSTRA_SHELL_RULE(TpsCommonStartMenu, "Common Start Menu", "Common Start Menu", csidlCommonStartMenu, csidlStartMenu,
                 false)

std::string TpsQuickLaunchMenu::GetDescription() const { return "Path of the Quick Launch Toolbar Menu"; }
std::string TpsQuickLaunchMenu::GetShortCaption() const { return "Quick Launch Toolbar menu"; }
std::string TpsQuickLaunchMenu::GetPath(TComponent* Component) {
    std::string appData = RemoveBackslash(GetSpecialFolderPath(csidlAppData));
    if (appData.empty()) RaiseNoFolder(Component);
    return appData + "\\Microsoft\\Internet Explorer\\Quick Launch";
}

void RegisterWindowsSpecifiers(TPathSpecifierClassList& list) {
    RegisterPathSpecifierClass<TpsPrinters>(list);
    RegisterPathSpecifierClass<TpsRecent>(list);
    RegisterPathSpecifierClass<TpsSendTo>(list);
    RegisterPathSpecifierClass<TpsStartup>(list);
    RegisterPathSpecifierClass<TpsControlPanel>(list);
    RegisterPathSpecifierClass<TpsFavorites>(list);
    RegisterPathSpecifierClass<TpsBitBucket>(list);
    RegisterPathSpecifierClass<TpsCookies>(list);
    RegisterPathSpecifierClass<TpsCommonAltStartup>(list);
    RegisterPathSpecifierClass<TpsCommonStartup>(list);
    RegisterPathSpecifierClass<TpsCommonDesktopDirectory>(list);
    RegisterPathSpecifierClass<TpsCommonFavorites>(list);
    RegisterPathSpecifierClass<TpsCommonPrograms>(list);
    RegisterPathSpecifierClass<TpsCommonStartMenu>(list);
    RegisterPathSpecifierClass<TpsQuickLaunchMenu>(list);
}

}  // namespace ostra
