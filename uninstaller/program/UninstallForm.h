// The uninstaller's one window, TForm1: the steps of the removal as check boxes that are shown
// when a step starts and ticked when it ends, a progress bar for the long steps, and the "&Start"
// and "&Close" buttons. The removal itself is TUninstaller's (uninstaller/Uninstaller.h); the
// window starts it and shows what it reports.
//
// Layout (client area 469 x 328, fixed, centred on the screen, font Arial 11 pixels): a panel
// filling the window; ThemeBitmap at 8,8 (121 x 265, stretched); Bevel1, a line at y 272; Label1
// at 144,16 (289 wide, word-wrapped); the check boxes at x 144 and their labels at x 168 on the rows
// y 72, 102, 133, 163, 192, 218; ProgressBar1 at 144,248 (313 wide, 0 to 100, hidden); StartBtn and
// CloseBtn below the line. Every component's object name is its name here.
//
// Life: created with the command line's parameters; without any the window still opens but
// "&Start" is disabled and the exception "Please remove this software from the Add/Remove
// Programs from the Control Panel" is reported. "&Start" is disabled for good and runs the whole
// removal; at its end the program terminates. An exception out of the removal is reported and
// ends it there (the later steps do not run, the record stays). "&Close" closes the window, which
// ends the program.
#pragma once
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "uninstaller/Uninstaller.h"

class QCheckBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace ostra {

// The uninstaller's window.
class TForm1 : public QWidget, public IUninstallView {
public:
    // Params: the command line's parameters (the words of the product name); ProgramPath: the
    // Windows-form path of the program's own file.
    TForm1(const std::vector<std::string>& Params, const std::string& ProgramPath);
    ~TForm1() override;

    QFrame* Panel1;
    QLabel* ThemeBitmap;
    QFrame* Bevel1;
    QLabel* Label1;
    QCheckBox *AliasesCB, *ActiveXCB, *FilesCB, *INIFilesCB, *BDECB, *RegistryCB;
    QLabel *lblAliases, *lblActiveX, *lblFiles, *Label2, *Label4, *Label3;
    QProgressBar* ProgressBar1;
    QPushButton* StartBtn;
    QPushButton* CloseBtn;

    // The removal; null when the command line named no product.
    TUninstaller* Uninstaller() const { return FUninstaller.get(); }
    // True once the removal has ended and asked the program to terminate.
    bool Terminated() const { return FTerminated; }
    // The check box of a step.
    QCheckBox* StepBox(TRemovalStep Step) const;

    void FormCreate(const std::vector<std::string>& Params, const std::string& ProgramPath);
    void StartBtnClick();
    void CloseBtnClick();

    void StepStarted(TRemovalStep Step) override;
    void StepDone(TRemovalStep Step) override;
    void ShowProgress(bool Visible) override;
    void SetProgress(int Percent) override;
    void Repaint() override;

private:
    std::unique_ptr<TUninstaller> FUninstaller;
    bool FTerminated = false;
};

}  // namespace ostra
