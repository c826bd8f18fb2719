// The standard dialog components: one per standard form, each switching its form on and carrying
// its settings. The page dialogs (licence, readme, bad installation, restart) register their page
// while they live; without a DialogManager they show the page as a modal dialog of its own when
// their stand-alone dialog code arrives. The change-disk and copy dialogs register their forms in
// the change-disk list and the copy registry. The status dialog shows and drops status texts on
// the codes -974 and -973 while it has no DialogManager.
#pragma once
#include <QStringList>
#include <memory>

#include "host/StringList.h"
#include "installer/ui/dlgcmp_TBaseDlg.h"

namespace ostra {

class TLicenseForm;
class TInstallStatusForm;

// A page dialog: registers FormClass with itself while it lives and runs Execute on its stand-alone
// code when it has no manager.
class TStandardPageDlg : public TBaseInstallDlg {
public:
    TStandardPageDlg(TComponent* AOwner, const TInstallFormClass* FormClass, TManagerType stage, int order,
                     int standAloneCode);
    ~TStandardPageDlg() override;
    const TInstallFormClass* DialogClass() const override { return FFormClass; }
    void DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) override;
    // Hides Back, gives Proceed (and Finish) the modal result OK and loads the theme.
    void AssignDialogProperties() override;

private:
    const TInstallFormClass* FFormClass;
    TBIFEntry* FEntry;
    int FStandAloneCode;
};

class TLicenseDlg : public TStandardPageDlg {
public:
    explicit TLicenseDlg(TComponent* AOwner);
    TStringList& LicenseAgreement() { return FLicenseAgreement; }
    void SetLicenseAgreement(const TStrings& value) { FLicenseAgreement.Assign(&value); }
    void AssignDialogProperties() override;

private:
    TStringList FLicenseAgreement;
};

class TReadmeDlg : public TStandardPageDlg {
public:
    explicit TReadmeDlg(TComponent* AOwner);
    TStringList& ReadmeText() { return FReadmeText; }
    void SetReadmeText(const TStrings& value) { FReadmeText.Assign(&value); }
    void AssignDialogProperties() override;

private:
    TStringList FReadmeText;
};

class TBadInstallationDlg : public TStandardPageDlg {
public:
    explicit TBadInstallationDlg(TComponent* AOwner);
};

class TRebootDlg : public TStandardPageDlg {
public:
    explicit TRebootDlg(TComponent* AOwner);
    // Also runs the page's BeforeShow and hides Back once more.
    void AssignDialogProperties() override;
};

class TChangeDiskDlg : public TCustomBaseInstallDlg {
public:
    explicit TChangeDiskDlg(TComponent* AOwner);
    ~TChangeDiskDlg() override;
    const TInstallFormClass* DialogClass() const override;

private:
    TBIFEntry* FEntry;
};

class TCopyFileDlg : public TCustomBaseInstallDlg {
public:
    explicit TCopyFileDlg(TComponent* AOwner);
    ~TCopyFileDlg() override;
    const TInstallFormClass* DialogClass() const override;

private:
    TBIFEntry* FEntry;
};

class TInstallStatusDlg : public TCustomBaseInstallDlg {
public:
    explicit TInstallStatusDlg(TComponent* AOwner);
    ~TInstallStatusDlg() override;
    const TInstallFormClass* DialogClass() const override;
    void DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) override;
    // The common translation, then the form's texts count as English again.
    void Translate() override;

    const std::string& CurrentMessage() const { return FMessage; }
    TInstallStatusForm* StatusForm() const { return FStatusForm.get(); }

private:
    void ShowMessage();
    std::string FMessage;
    std::vector<std::string> FMessages;
    std::unique_ptr<TInstallStatusForm> FStatusForm;
};

}  // namespace ostra
