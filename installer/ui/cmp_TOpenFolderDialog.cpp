// The folder browser (see the header).
#include "installer/ui/cmp_TOpenFolderDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "host/Exceptions.h"
#include "host/ui/Application.h"
#include "host/ui/ModalRun.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_FileSystem.h"
#include "installer/library/routines_Strings.h"
#include "installer/ui/QtEdge.h"
#include "platform/LastError.h"

namespace ostra {

namespace {

void CreateFolder(const std::string& folder) {
    if (!WinForceDirectories(folder)) throw EInOutError("Unable to create directory " + folder, platform::GetLastError());
}

// One opening of the browser.
class TFolderBrowser : public QDialog {
public:
    TFolderBrowser(TOpenFolderDialog& owner) : FOwner(owner) {
        setObjectName("FolderBrowser");
        setWindowTitle(TOpenFolderDialog::Title);
        FModel.setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
        FModel.setRootPath("/");
        FTree = new QTreeView(this);
        FTree->setObjectName("FolderTree");
        FTree->setModel(&FModel);
        for (int c = 1; c < FModel.columnCount(); ++c) FTree->hideColumn(c);
        FTree->setHeaderHidden(true);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(TOpenFolderDialog::Title, this));
        layout->addWidget(FTree, 1);
        if (owner.ShowPathEdit) {
            FEdit = new QLineEdit(this);
            FEdit->setObjectName("PathEdit");
            layout->addWidget(FEdit);
            connect(FEdit, &QLineEdit::textEdited, this, [this](const QString& text) { PathTyped(text); });
        }
        auto* buttons = new QHBoxLayout;
        if (owner.ShowCreateButton) {
            FCreate = new QPushButton(TOpenFolderDialog::CreateCaption, this);
            FCreate->setObjectName("CreateBtn");
            buttons->addWidget(FCreate);
            connect(FCreate, &QPushButton::clicked, this, [this] { CallHandled([this] { CreateClick(); }); });
        }
        buttons->addStretch(1);
        FOk = new QPushButton("OK", this);
        FOk->setObjectName("OkBtn");
        FOk->setDefault(true);
        auto* cancel = new QPushButton("Cancel", this);
        cancel->setObjectName("CancelBtn");
        buttons->addWidget(FOk);
        buttons->addWidget(cancel);
        layout->addLayout(buttons);
        connect(FOk, &QPushButton::clicked, this, &QDialog::accept);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        connect(FTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this](const QModelIndex& index) { SelectionChanged(index); });
        UpdateOk(QModelIndex());
        // The initial selection: the nearest existing folder, a root keeping its backslash.
        std::string start = NearestExistingFolder(owner.Folder);
        start = start.size() > 3 ? RemoveBackslash(start) : AddBackslash(start);
        if (!start.empty() && start != "\\") Select(start);
    }

    std::string Current;  // the current folder, Windows form
    std::string Chosen;   // the selected folder, Windows form
    bool Reopen = false;

private:
    void Select(const std::string& winPath) {
        std::string native = WinToNative(winPath);
        if (native.empty()) return;
        QModelIndex index = FModel.index(QString::fromStdString(native));
        if (!index.isValid()) return;
        FSelecting = true;
        FTree->setCurrentIndex(index);
        FTree->scrollTo(index);
        FSelecting = false;
    }

    void SelectionChanged(const QModelIndex& index) {
        UpdateOk(index);
        if (!index.isValid()) return;
        Chosen = NativeToWin(FModel.filePath(index).toStdString());
        Current = Chosen;
        if (FEdit && !FEdit->hasFocus()) FEdit->setText(ToQString(Current));
    }

    void UpdateOk(const QModelIndex& index) {
        FOk->setEnabled(index.isValid());
        if (FCreate) FCreate->setVisible(FOk->isEnabled());
    }

    void PathTyped(const QString& text) {
        if (FSelecting) return;
        std::string typed = FromQString(text);
        if (WinDirectoryExists(typed)) {
            FSelecting = true;
            Select(typed);
            FSelecting = false;
        }
        Current = typed;
    }

    void CreateClick() {
        bool allow = true;
        if (FOwner.OnCreateFolder) FOwner.OnCreateFolder(FCreate, allow);
        if (!allow) return;
        if (!FEdit || WinDirectoryExists(FromQString(FEdit->text()))) {
            QInputDialog question(this);
            question.setObjectName("NewFolderQuestion");
            question.setWindowTitle(TOpenFolderDialog::CreateCaption);
            question.setLabelText(TOpenFolderDialog::NewFolderPrompt);
            question.setTextValue("");
            if (RunModal(question) != QDialog::Accepted) return;
            Current = AddBackslash(Current) + FromQString(question.textValue());
        } else {
            Current = FromQString(FEdit->text());
        }
        CreateFolder(Current);
        Reopen = true;
        FOk->setEnabled(true);
        FOk->click();
    }

    TOpenFolderDialog& FOwner;
    QFileSystemModel FModel;
    QTreeView* FTree;
    QLineEdit* FEdit = nullptr;
    QPushButton* FCreate = nullptr;
    QPushButton* FOk;
    bool FSelecting = false;
};

}  // namespace

bool TOpenFolderDialog::Execute() {
    for (;;) {
        TFolderBrowser browser(*this);
        if (RunModal(browser) != QDialog::Accepted) return false;
        if (browser.Reopen) {
            Folder = browser.Current;
            continue;
        }
        if (ShowPathEdit) {
            CreateFolder(browser.Current);
            Folder = browser.Current;
        } else {
            Folder = browser.Chosen;
        }
        return true;
    }
}

}  // namespace ostra
