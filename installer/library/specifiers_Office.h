// The six standard path specifiers of Microsoft Office folders, found through Word's registration
// (routines_ExpandPaths.h); without Word they fall back to folders below the program files folder.
#pragma once
#include "installer/library/cmp_TPathSpecifier.h"

namespace ostra {

OSTRA_STANDARD_SPECIFIER(TpsOfficeUserTemplates);
OSTRA_STANDARD_SPECIFIER(TpsOfficeWorkgroupTemplates);
OSTRA_STANDARD_SPECIFIER(TpsOfficeClipartDirectory);
OSTRA_STANDARD_SPECIFIER(TpsOfficeStartupDirectory);
OSTRA_STANDARD_SPECIFIER(TpsOfficeToolsDirectory);
OSTRA_STANDARD_SPECIFIER(TpsOfficeFavoritesDirectory);

// Registers the six classes in their order.
void RegisterOfficeSpecifiers(TPathSpecifierClassList& list);

}  // namespace ostra
