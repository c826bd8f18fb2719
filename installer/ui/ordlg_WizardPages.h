// The standard wizard-style pages: licence, readme, good and bad installation, restart. They share
// one layout: a theme image on a left panel, the texts in the client panel and a bottom panel with
// the buttons (Back, Next/Accept, Finish, Cancel). Back calls GoBack, Next, Accept and Finish call
// GoNext, Cancel calls CancelClick. Each page sets its stage (DM) and Order in its constructor.
#pragma once
#include <QButtonGroup>
#include <QLabel>
#include <QRadioButton>
#include <QTextEdit>

#include "installer/ui/cmp_TTranslateControls.h"
#include "installer/ui/dlgcmp_TBaseContainer.h"
#include "installer/ui/dlgcmp_TBaseDlg.h"

namespace ostra {

class TWizardStylePage : public TBaseInstallForm {
public:
    TWizardStylePage(QWidget* owner, const char* name, const char* caption, TManagerType stage, int order,
                     bool stayOnTop);

    QLabel* ThemeBitmap;
    TTranslateBitBtn* BackBtn = nullptr;
    TTranslateBitBtn* ProceedBtn = nullptr;
    TTranslateBitBtn* FinishBtn = nullptr;
    TTranslateBitBtn* CancelBtn = nullptr;

protected:
    // Adds a button with its caption and GLID to the bottom panel, wired to Action.
    TTranslateBitBtn* AddButton(const char* name, const char* caption, int glid, void (TBaseInstallForm::*Action)());
    // Back, Next and Finish of the completion pages.
    void AddCompletionButtons();
    TTranslateLabel* AddLabel(const char* name, const char* text, int glid);
    QTextEdit* AddRichText(const char* name, const char* placeholder);
    // Back hidden on the first page; with a Finish button, Proceed hidden on the last page and Finish
    // shown exactly when Proceed is not; the visible one focused.
    void SetUpButtons(bool focusFinish);

    QWidget* ClientPanel;
    QWidget* ButtonPanel;
};

class TLicenseForm : public TWizardStylePage {
public:
    explicit TLicenseForm(QWidget* owner = nullptr);
    static const TInstallFormClass Class;
    void BeforeShow() override;
    TTranslateLabel* Label1;
    QTextEdit* Agreement;
    TTranslateLabel* Label2;
};

class TReadmeForm : public TWizardStylePage {
public:
    explicit TReadmeForm(QWidget* owner = nullptr);
    static const TInstallFormClass Class;
    void BeforeShow() override;
    TTranslateLabel* Label1;
    QTextEdit* Information;
};

class TGoodInstallForm : public TWizardStylePage {
public:
    explicit TGoodInstallForm(QWidget* owner = nullptr);
    static const TInstallFormClass Class;
    void BeforeShow() override { SetUpButtons(true); }
    TTranslateLabel* Label1;
};

class TBadInstallForm : public TWizardStylePage {
public:
    explicit TBadInstallForm(QWidget* owner = nullptr);
    static const TInstallFormClass Class;
    void BeforeShow() override { SetUpButtons(true); }
    TTranslateLabel* TopLabel;
};

class TRebootForm : public TWizardStylePage {
public:
    explicit TRebootForm(QWidget* owner = nullptr);
    static const TInstallFormClass Class;
    // Preselects the answer from the install root's Reboot without changing it.
    void BeforeShow() override;
    TTranslateLabel* Label1;
    QRadioButton* RebootYes;
    QRadioButton* RebootNo;
    QButtonGroup* RG;
    // The user's choice: the first item sets the root's Reboot, the second clears it.
    void RGClick(int index);
};

}  // namespace ostra
