// The change-disk, copy-progress and status forms (see the header).
#include "installer/ui/ordlg_StageForms.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "host/SysUtils.h"
#include "host/UIServices.h"
#include "host/ui/Application.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/ui/QtEdge.h"
#include "installer/ui/cmp_TOpenFolderDialog.h"

namespace ostra {

namespace {
template <class Control>
Control* Named(Control* control, const char* name) {
    control->setObjectName(name);
    return control;
}
TTranslateLabel* Label(QWidget* parent, const char* name, const char* text, int glid) {
    auto* label = Named(new TTranslateLabel(parent), name);
    label->setText(text);
    label->SetGLID(glid);
    return label;
}
TTranslateBitBtn* Button(QWidget* parent, const char* name, const char* text, int glid) {
    auto* button = Named(new TTranslateBitBtn(parent), name);
    button->setText(text);
    button->SetGLID(glid);
    button->setAutoDefault(false);
    return button;
}
void Connect(QAbstractButton* button, QObject* receiver, std::function<void()> action) {
    QObject::connect(button, &QAbstractButton::clicked, receiver, [action] { CallHandled(action); });
}
}  // namespace

// --- change disk

const TInstallFormClass TChangeDiskForm::Class{"TChangeDiskForm", [](QWidget* o) { return new TChangeDiskForm(o); }};

TChangeDiskForm::TChangeDiskForm(QWidget* owner) : TBaseChangeDiskForm(owner) {
    setObjectName("ChangeDiskForm");
    setWindowTitle("Setup needs the next disk");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    DM = FindDialogManager(dmChangeDisk);
    PromptDiskLabel = Label(this, "PromptDiskLabel", "Please insert disk number %d", 45);
    Label2 = Label(this, "Label2",
                   "If the files on this disk can be found in another location, for example, in another drive, "
                   "enter its full path or click the Browse button to select its path.",
                   46);
    Label2->setWordWrap(true);
    Label4 = Label(this, "Label4", "Path:", 47);
    PathEdit = Named(new QLineEdit(this), "PathEdit");
    PathEdit->setReadOnly(true);
    BrowseBtn = Button(this, "BrowseBtn", "&Browse...", 48);
    InstallBtn = Button(this, "InstallBtn", "Proceed", 49);
    CancelBtn = Button(this, "CancelBtn", "Cancel", 6);
    ThemeBitmap = Named(new QLabel(this), "ThemeBitmap");
    auto* grid = new QGridLayout(this);
    grid->addWidget(ThemeBitmap, 0, 0, 4, 1);
    grid->addWidget(PromptDiskLabel, 0, 1, 1, 3);
    grid->addWidget(Label2, 1, 1, 1, 3);
    grid->addWidget(Label4, 2, 1);
    grid->addWidget(PathEdit, 2, 2);
    grid->addWidget(BrowseBtn, 2, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(InstallBtn);
    buttons->addWidget(CancelBtn);
    grid->addLayout(buttons, 3, 1, 1, 3);
    QObject::connect(PathEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!FSettingPath && DiskParameter) DiskParameter->Path = FromQString(text);
    });
    Connect(BrowseBtn, this, [this] { BrowseClick(); });
    Connect(InstallBtn, this, [this] { done(mrOk); });
    Connect(CancelBtn, this, [this] { CancelClick(); });
}

void TChangeDiskForm::ShowPath(const std::string& path) {
    FSettingPath = true;
    PathEdit->setText(ToQString(path));
    FSettingPath = false;
}

void TChangeDiskForm::BeforeShow() {
    if (!DiskParameter) return;
    FSettingPath = true;
    PromptDiskLabel->setText(
        ToQString(Format(TranslateMessageText("Please insert disk number %d"), {DiskParameter->DiskNumber})));
    FSettingPath = false;
    ShowPath(DiskParameter->Path);
    InstallBtn->setFocus();
}

void TChangeDiskForm::BrowseClick() {
    TOpenFolderDialog browser;
    browser.ShowCreateButton = false;
    browser.ShowPathEdit = false;
    browser.Folder = DiskParameter ? DiskParameter->Path : "";
    if (!browser.Execute() || !DiskParameter) return;
    DiskParameter->Path = browser.Folder;
    ShowPath(browser.Folder);
}

// --- copy progress

const TInstallFormClass TCopyFileForm::Class{"TCopyFileForm", [](QWidget* o) { return new TCopyFileForm(o); }};

TCopyFileForm::TCopyFileForm(QWidget* owner) : TBaseDuringCopyForm(owner) {
    setObjectName("CopyFileForm");
    setWindowTitle("Copying installation files");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    DM = FindDialogManager(dmDuringCopyFiles);
    UnZipImage = Named(new QLabel(this), "UnZipImage");
    TransferBitmap = Named(new QLabel(this), "TransferBitmap");
    TransferBitmap->hide();
    CancelBtn = Button(this, "CancelBtn", "Cancel", 6);
    lblCopyFileHeader = Label(this, "lblCopyFileHeader", "Processing", 14);
    lblCopyingFile = Named(new QLabel("---", this), "lblCopyingFile");
    Label1 = Label(this, "Label1", "File progress", 15);
    ProgressBar1 = Named(new QProgressBar(this), "ProgressBar1");
    Label2 = Label(this, "Label2", "Total progress", 16);
    ProgressBar2 = Named(new QProgressBar(this), "ProgressBar2");
    for (QProgressBar* bar : {ProgressBar1, ProgressBar2}) bar->setRange(0, 100), bar->setValue(0);
    auto* middle = new QVBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{lblCopyFileHeader, lblCopyingFile, Label1, ProgressBar1, Label2,
                                                      ProgressBar2})
        middle->addWidget(w);
    auto* row = new QHBoxLayout(this);
    // The dialog component sizes the window; the layout must not widen it.
    row->setSizeConstraint(QLayout::SetNoConstraint);
    middle->setSpacing(2);
    row->addWidget(UnZipImage);
    row->addWidget(TransferBitmap);
    row->addLayout(middle, 1);
    row->addWidget(CancelBtn, 0, Qt::AlignTop);
    Connect(CancelBtn, this, [this] { CancelClick(); });
}

void TCopyFileForm::UpdateStatus(TFileStatusParameter* File, TDownloadStatusParameter* Download) {
    if (File) {
        TransferBitmap->hide();
        ProgressBar2->setValue(File->TotalPercent);
        ProgressBar1->setValue(File->FilePercent);
        lblCopyingFile->setText(ToQString(File->FileName));
    } else if (Download) {
        TransferBitmap->show();
        ProgressBar1->setValue(Download->Percent);
        lblCopyingFile->setText(ToQString(Download->FileName));
    }
    repaint();
}

// --- status message

const TInstallFormClass TInstallStatusForm::Class{"TInstallStatusForm",
                                                  [](QWidget* o) { return new TInstallStatusForm(o); }};

TInstallStatusForm::TInstallStatusForm(QWidget* owner) : TBaseFernmoorForm(owner) {
    setObjectName("InstallStatusForm");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    // Placed by hand: the status dialog sizes the form to its message.
    resize(300, 64);
    pnlBack = Named(new QWidget(this), "pnlBack");
    pnlBack->setGeometry(0, 0, 300, 64);
    Image1 = Named(new QLabel(pnlBack), "Image1");
    Image1->setGeometry(8, 16, 32, 32);
    pnlMessage = Named(new QWidget(pnlBack), "pnlMessage");
    pnlMessage->setGeometry(48, 5, 247, 54);
    lblMessage = Named(new QLabel(pnlMessage), "lblMessage");
    lblMessage->move(5, 5);
}

}  // namespace ostra
