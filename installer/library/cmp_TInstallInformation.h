// The product information of an installation: company, product and version (the product name
// also names the uninstall record), the registration owner, and the optional values that the
// Windows "Add/Remove Programs" list shows. The install run holds one of each; the uninstaller
// item writes them into the uninstall record.
#pragma once
#include <string>

#include "host/Component.h"

namespace ostra {

class TCustomInstallFile;

class TInstallInformation : public TPersistent {
public:
    std::string CompanyName = "My Company";
    std::string ProductName = "My product";
    std::string Version = "1.0";
};

class TRegistrationInformation : public TPersistent {
public:
    std::string RegCompany, RegOwner;
};

class TControlPanelExtensionInformation : public TPersistent {
public:
    std::string Comments, Contact;
    TCustomInstallFile* DisplayIcon = nullptr;  // its installed path becomes "DisplayIcon"
    std::string HelpLink, HelpTelephone, ProductID;
    TCustomInstallFile* ReadMe = nullptr;       // its installed path becomes "Readme"
    std::string URLInfoAbout, URLUpdateInfo;
};

}  // namespace ostra
