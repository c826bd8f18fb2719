// The forms of the non-wizard stages and the status window: the change-disk prompt
// (TChangeDiskForm), the copy-progress window (TCopyFileForm) and the status message window
// (TInstallStatusForm).
#pragma once
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "installer/ui/cmp_TTranslateControls.h"
#include "installer/ui/dlgcmp_TBaseContainer.h"
#include "installer/ui/dlgcmp_TBaseDlg.h"

namespace ostra {

// Asks for the next disk; the folder the user confirms is written to the DiskParameter.
class TChangeDiskForm : public TBaseChangeDiskForm {
public:
    explicit TChangeDiskForm(QWidget* owner = nullptr);
    static const TInstallFormClass Class;
    // The prompt with the disk number and the parameter's folder in the edit; Proceed focused.
    void BeforeShow() override;
    // The folder browser (no create button, no path edit); a chosen folder goes to the parameter.
    void BrowseClick();

    TTranslateLabel* PromptDiskLabel;
    TTranslateLabel* Label2;
    TTranslateLabel* Label4;
    QLineEdit* PathEdit;
    TTranslateBitBtn* BrowseBtn;
    TTranslateBitBtn* InstallBtn;
    TTranslateBitBtn* CancelBtn;
    QLabel* ThemeBitmap;

private:
    void ShowPath(const std::string& path);
    bool FSettingPath = false;
};

class TCopyFileForm : public TBaseDuringCopyForm {
public:
    explicit TCopyFileForm(QWidget* owner = nullptr);
    static const TInstallFormClass Class;
    // A file status moves both bars and names the file; a download shows TransferBitmap and moves
    // only the file bar.
    void UpdateStatus(TFileStatusParameter* File, TDownloadStatusParameter* Download) override;

    QLabel* UnZipImage;
    QLabel* TransferBitmap;
    TTranslateBitBtn* CancelBtn;
    TTranslateLabel* lblCopyFileHeader;
    QLabel* lblCopyingFile;
    TTranslateLabel* Label1;
    QProgressBar* ProgressBar1;
    TTranslateLabel* Label2;
    QProgressBar* ProgressBar2;
};

class TInstallStatusForm : public TBaseFernmoorForm {
public:
    explicit TInstallStatusForm(QWidget* owner = nullptr);
    static const TInstallFormClass Class;
    QWidget* pnlBack;
    QLabel* Image1;
    QWidget* pnlMessage;
    QLabel* lblMessage;
};

}  // namespace ostra
