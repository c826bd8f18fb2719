// The uninstaller item: the install file that carries the uninstaller program ("uninstall.exe")
// and, in place of an entry in the record's file list, writes the top values of the uninstall
// record: the name in the "Add/Remove Programs" list, the command that removes the product, and
// the optional descriptive values of the install run's product information.
#pragma once
#include "installer/library/cmp_TInstallFile.h"

namespace ostra {

class IEUninstallEXE : public IException {
public:
    using IException::IException;
};

class TUninstallEXE : public TCustomInstallFile {
public:
    // Net is set; in the designer the library folder's "uninstall.exe" becomes the source.
    explicit TUninstallEXE(TComponent* AOwner);
    // Tells the install run not to add the item again at the next build.
    ~TUninstallEXE() override;
    // Writes the top values (IEUninstallEXE without an install run).
    void WriteUninstallInfo(const std::string& RecordKey) override;
};

}  // namespace ostra
