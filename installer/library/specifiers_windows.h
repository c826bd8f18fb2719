// The 15 standard path specifiers of the shell's special folders. Each names a shell folder
// number for the NT family and, for the all-users folders, another for the 9x family; elsewhere
// the folder is empty, or the specifier raises IEPathSpecifier when the folder does not exist on
// that Windows at all (a literal placeholder would install into a folder of that name).
#pragma once
#include "installer/library/cmp_TPathSpecifier.h"

namespace ostra {

// Which shell folder a specifier names on each Windows family.
struct TShellFolderRule {
    const char* Description;
    const char* Caption;
    int NT;                  // folder number on NT 4, 2000 and XP; -1 none
    int Win9x;               // folder number on 95, 98 and ME; -1 none
    bool MissingIsError;     // without a folder number: raise instead of an empty path
};

// A standard specifier whose folder is a shell folder chosen by the running Windows family.
class TShellFolderSpecifier : public TStandardPathSpecifier {
public:
    TShellFolderSpecifier(TComponent* AOwner, std::string identifier, TShellFolderRule rule)
        : TStandardPathSpecifier(AOwner, std::move(identifier)), FRule(rule) {}
    std::string GetDescription() const override { return FRule.Description; }
    std::string GetShortCaption() const override { return FRule.Caption; }
    std::string GetPath(TComponent* Component) override;

private:
    TShellFolderRule FRule;
};

#define OSTRA_SHELL_SPECIFIER(Class)                       \
    class Class : public TShellFolderSpecifier {           \
    public:                                                \
        explicit Class(TComponent* AOwner);                \
    }

OSTRA_SHELL_SPECIFIER(TpsPrinters);
OSTRA_SHELL_SPECIFIER(TpsRecent);
OSTRA_SHELL_SPECIFIER(TpsSendTo);
OSTRA_SHELL_SPECIFIER(TpsStartup);
OSTRA_SHELL_SPECIFIER(TpsControlPanel);
OSTRA_SHELL_SPECIFIER(TpsFavorites);
OSTRA_SHELL_SPECIFIER(TpsBitBucket);
OSTRA_SHELL_SPECIFIER(TpsCookies);
OSTRA_SHELL_SPECIFIER(TpsCommonAltStartup);
OSTRA_SHELL_SPECIFIER(TpsCommonStartup);
OSTRA_SHELL_SPECIFIER(TpsCommonDesktopDirectory);
OSTRA_SHELL_SPECIFIER(TpsCommonFavorites);
OSTRA_SHELL_SPECIFIER(TpsCommonPrograms);
OSTRA_SHELL_SPECIFIER(TpsCommonStartMenu);

// The Quick Launch toolbar below the user's application data; raises when there is none.
OSTRA_STANDARD_SPECIFIER(TpsQuickLaunchMenu);

// Registers the 15 classes in their order.
void RegisterWindowsSpecifiers(TPathSpecifierClassList& list);

}  // namespace ostra
