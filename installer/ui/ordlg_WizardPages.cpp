// The standard wizard-style pages (see the header).
#include "installer/ui/ordlg_WizardPages.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>


namespace ostra {

TWizardStylePage::TWizardStylePage(QWidget* owner, const char* name, const char* caption, TManagerType stage,
                                   int order, bool stayOnTop)
    : TBaseInstallForm(owner), ThemeBitmap(new QLabel(this)), ClientPanel(new QWidget(this)),
      ButtonPanel(new QWidget(this)) {
    setObjectName(name);
    setWindowTitle(caption);
    if (!owner) {
        Qt::WindowFlags flags = Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowTitleHint;
        if (stayOnTop) flags |= Qt::WindowStaysOnTopHint;
        setWindowFlags(flags);
    }
    QFont arial("Arial");
    arial.setPixelSize(11);
    setFont(arial);
    DM = FindDialogManager(stage);
    Order = order;
    ThemeBitmap->setObjectName("ThemeBitmap");
    ThemeBitmap->setAlignment(Qt::AlignCenter);
    auto* top = new QHBoxLayout;
    top->addWidget(ThemeBitmap);
    top->addWidget(ClientPanel, 1);
    new QVBoxLayout(ClientPanel);
    auto* bevel = new QFrame(this);
    bevel->setFrameShape(QFrame::HLine);
    auto* buttons = new QHBoxLayout(ButtonPanel);
    buttons->addStretch(1);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top, 1);
    outer->addWidget(bevel);
    outer->addWidget(ButtonPanel);
}

TTranslateBitBtn* TWizardStylePage::AddButton(const char* name, const char* caption, int glid,
                                              void (TBaseInstallForm::*Action)()) {
    auto* button = new TTranslateBitBtn(ButtonPanel);
    button->setObjectName(name);
    button->setText(caption);
    button->SetGLID(glid);
    button->setAutoDefault(false);
    ButtonPanel->layout()->addWidget(button);
    OnClick(button, [this, Action] { (this->*Action)(); });
    return button;
}

TTranslateLabel* TWizardStylePage::AddLabel(const char* name, const char* text, int glid) {
    auto* label = new TTranslateLabel(ClientPanel);
    label->setObjectName(name);
    label->setText(text);
    label->SetGLID(glid);
    label->setWordWrap(true);
    ClientPanel->layout()->addWidget(label);
    return label;
}

QTextEdit* TWizardStylePage::AddRichText(const char* name, const char* placeholder) {
    auto* edit = new QTextEdit(ClientPanel);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit->setPlainText(placeholder);
    ClientPanel->layout()->addWidget(edit);
    return edit;
}

void TWizardStylePage::AddCompletionButtons() {
    BackBtn = AddButton("BackBtn", "< Previous", 4, &TBaseInstallForm::GoBack);
    ProceedBtn = AddButton("ProceedBtn", "Next >", 5, &TBaseInstallForm::GoNext);
    FinishBtn = AddButton("FinishBtn", "Finish", 72, &TBaseInstallForm::GoNext);
}

void TWizardStylePage::SetUpButtons(bool focusFinish) {
    BackBtn->setVisible(!IsFirstPage());
    ProceedBtn->setVisible(!IsLastPage());
    FinishBtn->setVisible(ProceedBtn->isHidden());
    if (!ProceedBtn->isHidden())
        ProceedBtn->setFocus();
    else if (focusFinish)
        FinishBtn->setFocus();
}

// --- licence

const TInstallFormClass TLicenseForm::Class{"TLicenseForm", [](QWidget* o) { return new TLicenseForm(o); }};

TLicenseForm::TLicenseForm(QWidget* owner)
    : TWizardStylePage(owner, "LicenseForm", "Software license agreement", dmBeforeInstall, 20, true) {
    Label1 = AddLabel("Label1", "Please read the following License Agreement.", 2);
    Agreement = AddRichText("Agreement",
                            "Put the license in the Agreement property. This is a \n"
                            "TRichEdit control, so you can add any formatting \n"
                            "information necessary.");
    Label2 = AddLabel("Label2",
                      "By clicking on the Accept button below, you agree to all terms stated in the License "
                      "Agreement. You may cancel the installation by clicking on the Cancel button.",
                      3);
    BackBtn = AddButton("BackBtn", "< Previous", 4, &TBaseInstallForm::GoBack);
    ProceedBtn = AddButton("ProceedBtn", "Accept >", 88, &TBaseInstallForm::GoNext);
    CancelBtn = AddButton("CancelBtn", "Cancel", 6, &TBaseInstallForm::CancelClick);
}

void TLicenseForm::BeforeShow() {
    BackBtn->setVisible(!IsFirstPage());
    if (!ProceedBtn->isHidden() && isVisible()) ProceedBtn->setFocus();
}

// --- readme

const TInstallFormClass TReadmeForm::Class{"TReadmeForm", [](QWidget* o) { return new TReadmeForm(o); }};

TReadmeForm::TReadmeForm(QWidget* owner)
    : TWizardStylePage(owner, "ReadmeForm", "Installation successful", dmAfterGoodInstall, 0, true) {
    Label1 = AddLabel("Label1",
                      "Installation is complete. The README file below contains information about this product "
                      "that may not be in the help files.",
                      8);
    Information = AddRichText("Information", "");
    CancelBtn = AddButton("CancelBtn", "Cancel", 6, &TBaseInstallForm::CancelClick);
    BackBtn = AddButton("BackBtn", "< Previous", 4, &TBaseInstallForm::GoBack);
    ProceedBtn = AddButton("ProceedBtn", "Next >", 5, &TBaseInstallForm::GoNext);
    ProceedBtn->setDefault(true);
}

void TReadmeForm::BeforeShow() {
    BackBtn->setVisible(!IsFirstPage());
    if (!ProceedBtn->isHidden() && isVisible()) ProceedBtn->setFocus();
}

// --- good and bad installation

const TInstallFormClass TGoodInstallForm::Class{"TGoodInstallForm",
                                                [](QWidget* o) { return new TGoodInstallForm(o); }};

TGoodInstallForm::TGoodInstallForm(QWidget* owner)
    : TWizardStylePage(owner, "GoodInstallForm", "Setup complete", dmAfterGoodInstall, 10, true) {
    Label1 = AddLabel("Label1",
                      "The software has been properly installed. You may start the software by clicking on the icon.",
                      38);
    AddCompletionButtons();
}

const TInstallFormClass TBadInstallForm::Class{"TBadInstallForm", [](QWidget* o) { return new TBadInstallForm(o); }};

TBadInstallForm::TBadInstallForm(QWidget* owner)
    : TWizardStylePage(owner, "BadInstallForm", "Setup incomplete", dmAfterBadInstall, 10, true) {
    TopLabel = AddLabel("TopLabel",
                        "This software has not been properly installed and will not work correctly if you try to "
                        "use it.",
                        60);
    AddCompletionButtons();
}

// --- restart

const TInstallFormClass TRebootForm::Class{"TRebootForm", [](QWidget* o) { return new TRebootForm(o); }};

TRebootForm::TRebootForm(QWidget* owner)
    : TWizardStylePage(owner, "RebootForm", "Reboot windows", dmReboot, 10, false) {
    Label1 = AddLabel("Label1",
                      "Several components could not be installed on your system because they were in use. For the "
                      "installation to proceed, you will need to reboot your computer. If you decide not to reboot "
                      "now, the software will probably not work until you do reboot.",
                      52);
    RebootYes = new QRadioButton("Yes, I would like to reboot windows", ClientPanel);
    RebootNo = new QRadioButton("No, I would not like to reboot windows", ClientPanel);
    RebootYes->setObjectName("RGItem0");
    RebootNo->setObjectName("RGItem1");
    ClientPanel->layout()->addWidget(RebootYes);
    ClientPanel->layout()->addWidget(RebootNo);
    RG = new QButtonGroup(this);
    RG->setObjectName("RG");
    RG->addButton(RebootYes, 0);
    RG->addButton(RebootNo, 1);
    // Only a click counts as the user's choice; the preselection in BeforeShow does not.
    QObject::connect(RG, &QButtonGroup::idClicked, this, [this](int id) { RGClick(id); });
    ProceedBtn = AddButton("ProceedBtn", "Next >", 5, &TBaseInstallForm::GoNext);
    FinishBtn = AddButton("FinishBtn", "Finish", 72, &TBaseInstallForm::GoNext);
    BackBtn = AddButton("BackBtn", "< Previous", 4, &TBaseInstallForm::GoBack);
}

void TRebootForm::BeforeShow() {
    SetUpButtons(false);
    IInstallRoot* root = CurrentInstall();
    (root && root->Reboot() ? RebootYes : RebootNo)->setChecked(true);
}

void TRebootForm::RGClick(int index) {
    if (IInstallRoot* root = CurrentInstall()) root->SetReboot(index == 0);
}

}  // namespace ostra
