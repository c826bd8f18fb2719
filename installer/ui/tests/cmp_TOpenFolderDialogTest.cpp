// The folder browser on Qt's offscreen platform, on a test machine's drive: the start on the
// nearest existing folder, a typed path created on OK, the create button asking for a name and
// reopening on the new folder, a refused creation, and Cancel.
#include <QFileSystemModel>
#include <QInputDialog>
#include <QLineEdit>
#include <QTreeView>
#include <gtest/gtest.h>

#include "installer/library/WinFileSystem.h"
#include "installer/ui/cmp_TOpenFolderDialog.h"
#include "installer/ui/tests/support/DialogFixture.h"

using namespace ostra;
using namespace ostra::test;

namespace {

std::string Selected(QDialog& browser) {
    QModelIndex index = Child<QTreeView>(&browser, "FolderTree")->currentIndex();
    return index.isValid() ? NativeToWin(index.data(QFileSystemModel::FilePathRole).toString().toStdString()) : "";
}

void Type(QDialog& browser, const char* text) {
    auto* edit = Child<QLineEdit>(&browser, "PathEdit");
    edit->setFocus();
    edit->clear();
    edit->insert(text);  // as typing does: textEdited follows
}

struct FolderBrowser : DialogFixture {
    void SetUp() override { ASSERT_TRUE(WinForceDirectories("C:\\Apps\\Old")); }
    TOpenFolderDialog dialog;
};

}  // namespace

TEST_F(FolderBrowser, TypedPathIsCreatedOnOk) {
    dialog.Folder = "C:\\Apps\\Old\\Gone\\Deeper";
    answers.push_back([](QDialog& b) {
        EXPECT_EQ(Selected(b), "C:\\Apps\\Old");
        EXPECT_EQ(Child<QLineEdit>(&b, "PathEdit")->text(), "C:\\Apps\\Old");
        EXPECT_TRUE(Child<QWidget>(&b, "CreateBtn")->isVisibleTo(&b));
        Type(b, "C:\\Apps");  // an existing folder is selected as it is typed
        EXPECT_EQ(Selected(b), "C:\\Apps");
        Type(b, "C:\\Apps\\New\\Sub");
        Click(&b, "OkBtn");
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.Folder, "C:\\Apps\\New\\Sub");
    EXPECT_TRUE(WinDirectoryExists("C:\\Apps\\New\\Sub"));
}

TEST_F(FolderBrowser, CreateButtonAsksForANameAndReopensOnTheNewFolder) {
    dialog.Folder = "C:\\Apps\\Old";
    std::string sender;
    dialog.OnCreateFolder = [&](QObject* s, bool&) { sender = s->objectName().toStdString(); };
    answers.push_back([](QDialog& b) { Click(&b, "CreateBtn"); });
    answers.push_back([](QDialog& question) {
        auto& input = dynamic_cast<QInputDialog&>(question);
        EXPECT_EQ(input.labelText(), TOpenFolderDialog::NewFolderPrompt);
        input.setTextValue("Fresh");
        input.accept();
    });
    answers.push_back([](QDialog& b) {
        EXPECT_EQ(Selected(b), "C:\\Apps\\Old\\Fresh");
        Click(&b, "OkBtn");
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.Folder, "C:\\Apps\\Old\\Fresh");
    EXPECT_TRUE(WinDirectoryExists("C:\\Apps\\Old\\Fresh"));
    EXPECT_EQ(sender, "CreateBtn");
}

TEST_F(FolderBrowser, RefusedOrCancelledCreationAndCancelChangeNothing) {
    dialog.Folder = "C:\\Apps\\Old";
    bool allow = false;
    dialog.OnCreateFolder = [&](QObject*, bool& Allow) { Allow = allow; };
    answers.push_back([&](QDialog& b) {
        Click(&b, "CreateBtn");  // refused by the handler: nothing asked
        allow = true;
        Click(&b, "CreateBtn");  // the name question is cancelled
        EXPECT_EQ(b.result(), 0);
        Click(&b, "CancelBtn");
    });
    answers.push_back([](QDialog& question) { question.reject(); });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.Folder, "C:\\Apps\\Old");
}

TEST_F(FolderBrowser, WithoutPathEditTheChosenFolderCounts) {
    dialog.ShowPathEdit = false;
    dialog.ShowCreateButton = false;
    dialog.Folder = "C:\\Apps\\Old\\Missing";
    answers.push_back([](QDialog& b) {
        EXPECT_EQ(b.findChild<QLineEdit*>("PathEdit"), nullptr);
        EXPECT_EQ(Selected(b), "C:\\Apps\\Old");
        Click(&b, "OkBtn");
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.Folder, "C:\\Apps\\Old");
    EXPECT_FALSE(WinDirectoryExists("C:\\Apps\\Old\\Missing"));
}
