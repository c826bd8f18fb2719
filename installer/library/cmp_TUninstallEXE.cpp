// The uninstaller item and the top values of the uninstall record.
#include "installer/library/cmp_TUninstallEXE.h"

#include "host/PropertyRegistry.h"
#include "installer/library/FernmoorInfo.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TInstallInformation.h"
#include "installer/library/routines_Strings.h"
#include "installer/library/routines_UninstallRecord.h"

namespace ostra {

namespace {

[[maybe_unused]] const bool kPublished =
    Publish<TUninstallEXE, TCustomInstallFile>()
        .Boolean("Net", &TCustomInstallFile::Net, &TCustomInstallFile::SetNet)
        .Default(true)
        .Integer("Order", &TInstallContainer::Order, &TInstallContainer::SetOrder)
        .Default(-1) &&
    (RegisterClass<TUninstallEXE>(), true);

// The installed path of a file of the product information, when it was installed in this run.
std::string InstalledPath(TCustomInstallFile* file) {
    if (!file || !file->Processed()) return {};
    return file->FullDestPath();
}

}  // namespace

TUninstallEXE::TUninstallEXE(TComponent* AOwner) : TCustomInstallFile(AOwner) {
    SetNet(true);
    if (!IsDesigning(AOwner)) return;
    try {
        std::string folder = RemoveBackslash(FernmoorInfo::GetLibraryFolder(true));
        if (WinFileExists(AddBackslash(folder) + "uninstall.exe")) {
            // Stored as they are: the property rules would look for a container.
            StoreSource(folder, "uninstall.exe", "uninstall.exe");
        }
    } catch (const std::exception&) {
        // Without the library folder the item starts empty.
    }
}

TUninstallEXE::~TUninstallEXE() {
    if (IInstallRoot* root = CurrentInstall()) root->ClearAddUninstallOnCreate();
}

void TUninstallEXE::WriteUninstallInfo(const std::string& RecordKey) {
    IInstallRoot* root = CurrentInstall();
    if (!root)
        throw IEUninstallEXE(
            "%s could not write information about the uninstall to the registry because there was no TInstall "
            "component",
            {Name()});
    TUninstallTopValues values;
    values.DisplayName = Trim(root->ProductName());
    values.UninstallString = MakeUninstallString(FullDestPath(), root->ProductName());
    if (TControlPanelExtensionInformation* info = root->ControlPanelInformation()) {
        values.Comments = info->Comments;
        values.Contact = info->Contact;
        values.DisplayIcon = InstalledPath(info->DisplayIcon);
        values.HelpLink = info->HelpLink;
        values.HelpTelephone = info->HelpTelephone;
        values.ProductID = info->ProductID;
        values.Readme = InstalledPath(info->ReadMe);
        values.URLInfoAbout = info->URLInfoAbout;
        values.URLUpdateInfo = info->URLUpdateInfo;
    }
    values.DisplayVersion = root->Version();
    values.Publisher = root->CompanyName();
    if (TRegistrationInformation* registration = root->RegistrationInformation()) {
        values.RegCompany = registration->RegCompany;
        values.RegOwner = registration->RegOwner;
    }
    WriteUninstallTopValues(RecordKey, values);
}

}  // namespace ostra
