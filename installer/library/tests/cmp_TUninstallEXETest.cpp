// The uninstaller item: the top values of the uninstall record from the product information,
// written when its folder is processed, and read back as the uninstaller reads them.
#include <gtest/gtest.h>

#include "installer/library/cmp_TUninstallEXE.h"
#include "installer/library/routines_UninstallRecord.h"
#include "installer/library/tests/support/FileInstall.h"

using namespace ostra;
using namespace ostra::test;

namespace {

TEST(UninstallItem, WritesTheTopValuesOfTheRecord) {
    FileProject project;
    project.root->Product = " Ostra ";
    project.root->Panel.Contact = "support@veltra.example";
    project.root->Registration.RegOwner = "Ada";
    auto* uninstallDir = CreateComponent<TInstallDirectory>(&project.form);
    uninstallDir->SetName("UninstallDir");
    uninstallDir->SetContainer(project.root);
    uninstallDir->SetDestDir("\\Uninstall");
    auto* docs = CreateComponent<TInstallDirectory>(&project.form);
    docs->SetName("Docs");
    docs->SetContainer(project.root);
    docs->SetInclude(false);
    project.root->Panel.ReadMe = project.AddFile("readme.txt", "read me", docs);
    PutWinFile("C:\\Src\\uninstall.exe", "uninstaller");
    auto* item = CreateComponent<TUninstallEXE>(&project.form);
    item->SetName("Uninstaller");
    item->SetIncludeFromDir("C:\\Src");
    item->SetFileName("uninstall.exe");
    item->SetContainer(uninstallDir);
    EXPECT_TRUE(item->Net());
    // Processed before the item (the newest child comes first), so its path is known.
    project.root->Panel.DisplayIcon = project.AddFile("ostra.ico", "icon", uninstallDir);
    project.Build();
    project.root->Process();

    TUninstallRecord record = ReadUninstallRecord(UninstallRecordKey(" Ostra "));
    ASSERT_TRUE(record.Exists);
    EXPECT_EQ(record.Top.DisplayName, "Ostra");
    EXPECT_EQ(record.Top.UninstallString, "C:\\Program Files\\Ostra\\Uninstall\\uninstall.exe Ostra");
    EXPECT_EQ(record.Top.DisplayIcon, "C:\\Program Files\\Ostra\\Uninstall\\ostra.ico");
    EXPECT_EQ(record.Top.Readme, "");  // its folder was not installed
    EXPECT_EQ(record.Top.Comments, "");
    EXPECT_EQ(record.Top.Contact, "support@veltra.example");
    EXPECT_EQ(record.Top.Publisher, "Veltra Software");
    EXPECT_EQ(record.Top.DisplayVersion, "1.4");
    EXPECT_EQ(record.Top.RegOwner, "Ada");
    // The item itself is not in the file list; the icon is.
    EXPECT_EQ(record.Files, std::vector<std::string>{"C:\\Program Files\\Ostra\\Uninstall\\ostra.ico"});
    EXPECT_EQ(FileProject::Read("C:\\Program Files\\Ostra\\Uninstall\\uninstall.exe"), "uninstaller");

    delete item;
    EXPECT_FALSE(project.root->AddUninstallOnCreate);
}

TEST(UninstallItem, NeedsAnInstallRun) {
    TComponent form{nullptr};
    auto* item = CreateComponent<TUninstallEXE>(&form);
    item->SetName("Uninstaller");
    EXPECT_THROW(item->WriteUninstallInfo(UninstallRecordKey("Ostra")), IEUninstallEXE);
}

}  // namespace
