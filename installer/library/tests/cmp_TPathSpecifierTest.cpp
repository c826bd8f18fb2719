// Path specifiers: macro expansion, the folder rules of the standard specifiers on the machine's
// Windows versions, the registry fall-backs, the validation rules and the display texts.
#include <gtest/gtest.h>

#include "installer/library/cmp_TPathSpecifier.h"
#include "installer/library/routines_ExpandPaths.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/specifiers_Office.h"
#include "installer/library/specifiers_windows.h"
#include "installer/library/tests/support/InstallTree.h"
#include "installer/library/tests/support/TestMachine.h"

using namespace ostra;
using namespace ostra::test;

namespace {

const char* const ShellFolders = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

struct Specifiers : ::testing::Test {
    void SetUp() override {
        RegisterTestTreeClasses();
        StandardPathSpecifiers().CreateStandardSpecifiers(nullptr, &form, true);
    }
    template <class T>
    std::string PathOf(TComponent* user = nullptr) {
        return StandardPathSpecifiers().Find<T>().GetPath(user);
    }
    TestMachine machine;
    TComponent form{nullptr};
};

TEST(ExpandText, MacrosExpandAsGiven) {
    struct Case {
        const char* text;
        const char* expanded;
    } cases[] = {{"%p\\bin", "C:\\App\\bin"}, {"%P", "C:\\App"},     {"100%%", "100%"},
                 {"%x", "x"},                 {"end%", "end"},       {"%%p", "%p"},
                 {"a%p;%p", "a" "C:\\App;C:\\App"}, {"", ""}};
    for (const Case& c : cases) EXPECT_EQ(TPathSpecifier::ExpandText(c.text, "C:\\App"), c.expanded) << c.text;
}

TEST_F(Specifiers, EveryStandardSpecifierExistsOnceNamedByItsIdentifier) {
    ASSERT_EQ(StandardPathSpecifierClasses().Count(), 35);
    EXPECT_EQ(StandardPathSpecifierClasses().Items(0).Name, "TpsBDEDLL");
    EXPECT_EQ(StandardPathSpecifierClasses().Items(14).Name, "TpsPrinters");
    EXPECT_EQ(StandardPathSpecifierClasses().Items(34).Name, "TpsOfficeFavoritesDirectory");
    EXPECT_EQ(StandardPathSpecifiers().Count(), 35);
    EXPECT_NE(dynamic_cast<TpsOfficeClipartDirectory*>(form.FindComponent("psOfficeClipartDirectory")), nullptr);
    StandardPathSpecifiers().CreateStandardSpecifiers(nullptr, &form, true);
    EXPECT_EQ(StandardPathSpecifiers().Count(), 35);
    EXPECT_THROW(PathSpecifiers().Add(nullptr), IEPathSpecifierList);
}

TEST_F(Specifiers, FoldersFromTheRegistryWithTheirDefaults) {
    EXPECT_EQ(PathOf<TpsProgramFiles>(), "C:\\Program Files");
    EXPECT_EQ(PathOf<TpsCommonFiles>(), "C:\\Program Files\\Common Files");
    EXPECT_EQ(PathOf<TpsSystem>(), "C:\\WINDOWS\\system32");
    EXPECT_EQ(PathOf<TpsWindow>(), "C:\\WINDOWS");
    EXPECT_EQ(PathOf<TpsBDEDLL>(), "C:\\Program Files\\Borland\\Common Files\\BDE");
    WriteRegistryString(4, "\\Software\\Borland\\Database Engine", "DLLPath", "D:\\BDE\\;E:\\Other");
    EXPECT_EQ(PathOf<TpsBDEDLL>(), "D:\\BDE\\");

    DeleteRegistryValue(2, ShellFolders, "Start Menu");
    DeleteRegistryValue(2, ShellFolders, "Programs");
    EXPECT_EQ(PathOf<TpsStartMenu>(), "C:\\WINDOWS\\Startmen");
    EXPECT_EQ(PathOf<TpsProgramMenu>(), "C:\\WINDOWS\\Startmen\\Programs");
    WriteRegistryString(2, ShellFolders, "Desktop", "C:\\Desk\\");
    EXPECT_EQ(PathOf<TpsDesktopMenu>(), "C:\\Desk");
}

TEST_F(Specifiers, ShellFoldersByWindowsFamily) {
    // XP: virtual folders have no path; real ones come without a trailing backslash.
    EXPECT_EQ(PathOf<TpsControlPanel>(), "");
    EXPECT_EQ(PathOf<TpsPrinters>(), "");
    EXPECT_EQ(PathOf<TpsBitBucket>(), "");
    std::string appData = GetSpecialFolderPath(26);
    ASSERT_FALSE(appData.empty());
    EXPECT_EQ(PathOf<TpsQuickLaunchMenu>(), appData + "\\Microsoft\\Internet Explorer\\Quick Launch");
    EXPECT_EQ(PathOf<TpsCommonStartup>(), GetSpecialFolderPath(24));
    EXPECT_EQ(PathOf<TpsCommonDesktopDirectory>(), GetSpecialFolderPath(25));

    machine.SetWindowsVersion("98");
    EXPECT_EQ(PathOf<TpsCommonDesktopDirectory>(), GetSpecialFolderPath(16));
    EXPECT_EQ(PathOf<TpsSendTo>(), "");
    // Where a folder does not exist on that Windows, the specifier raises instead of naming a
    // folder called "undefined".
    TTestFile user(&form);
    user.SetName("Readme");
    for (const char* name : {"psPrinters", "psRecent", "psFavorites"}) {
        auto* specifier = static_cast<TCustomPathSpecifier*>(form.FindComponent(name));
        try {
            specifier->GetPath(&user);
            ADD_FAILURE() << name;
        } catch (const IEPathSpecifier& e) {
            EXPECT_NE(std::string(e.what()).find("Readme"), std::string::npos) << e.what();
        }
    }
    machine.SetWindowsVersion("NT351");
    EXPECT_THROW(PathOf<TpsCommonDesktopDirectory>(), IEPathSpecifier);
    EXPECT_EQ(PathOf<TpsCommonPrograms>(), "");
}

TEST_F(Specifiers, OfficeFoldersWithAndWithoutWord) {
    EXPECT_EQ(PathOf<TpsOfficeClipartDirectory>(), "C:\\Program Files\\Microsoft Office\\Clipart");
    EXPECT_EQ(PathOf<TpsOfficeWorkgroupTemplates>(), PathOf<TpsOfficeUserTemplates>());
    EXPECT_EQ(PathOf<TpsOfficeUserTemplates>(), "C:\\Program Files\\Microsoft Office\\Templates");

    // Word 9 registered with an existing server.
    ASSERT_TRUE(PutWinFile("C:\\Office\\WINWORD.EXE", "x"));
    WriteRegistryString(0, "\\Word.Document\\CurVer", "", "Word.Document.9");
    WriteRegistryString(0, "\\Word.Document.9\\protocol\\StdFileEditing\\server", "", "C:\\Office\\WINWORD.EXE");
    EXPECT_EQ(GetWordVersion(), 9);
    const std::string options = "\\Software\\Policies\\Microsoft\\Office\\9.0\\Word\\Options";
    EXPECT_EQ(GetWordOptionsKey(9), options);
    WriteRegistryString(2, options, "PICTURE-PATH", "E:\\Clips\\");
    EXPECT_EQ(PathOf<TpsOfficeClipartDirectory>(), "E:\\Clips");
    EXPECT_EQ(PathOf<TpsOfficeToolsDirectory>(), "C:\\Program Files\\Microsoft Office\\Office");
    WriteRegistryString(2, GetOfficeFileNewKey(9, "SharedTemplates"), "", "F:\\Shared");
    EXPECT_EQ(PathOf<TpsOfficeWorkgroupTemplates>(), "F:\\Shared");
    // A server that does not exist means no Word.
    WriteRegistryString(0, "\\Word.Document.9\\protocol\\StdFileEditing\\server", "", "C:\\Gone\\WINWORD.EXE");
    EXPECT_EQ(GetWordVersion(), -1);
}

TEST_F(Specifiers, ValidationRulesAndDisplayTexts) {
    TPathSpecifier own(&form);
    TTestFile orphan(&form);
    orphan.SetName("Orphan");
    EXPECT_EQ(own.GetPath(&orphan), "");
    EXPECT_EQ(own.GetDescription(), "My cool new path specifier");
    own.OnGetPath = [](TComponent*, std::string& path) { path = "G:\\Mine"; };
    orphan.SetDestDirType(&own);
    orphan.SetDestDir("\\Sub\\");
    EXPECT_EQ(orphan.GetFullDestDir(), "G:\\Mine\\Sub");

    auto& folderSpec = StandardPathSpecifiers().Find<TpsContainerDestDir>();
    try {
        orphan.SetDestDirType(&folderSpec);
        ADD_FAILURE();
    } catch (const IEPathSpecifier& e) {
        EXPECT_STREQ(e.what(), "Cannot use ddContainerDestDir for Orphan unless you assign a Container");
    }
    EXPECT_EQ(orphan.DestDirType(), &own);
    EXPECT_THROW(folderSpec.ValidateUser(&own), IEPathSpecifier);
    EXPECT_THROW(StandardPathSpecifiers().Find<TpsContainerArchiveFile>().ValidateUser(&orphan), IEPathSpecifier);

    // Without an install root the root's specifiers cannot be expanded.
    EXPECT_THROW(PathOf<TpsInstallSource>(&orphan), IEPathSpecifier);
    TTestInstall root(&form);
    root.SetName("Install1");
    root.SetDestDirType(&StandardPathSpecifiers().Find<TpsProgramFiles>());
    root.SetDestDir("\\Ostra");
    EXPECT_EQ(PathOf<TpsInstallSource>(&orphan), "D:\\Setup");
    EXPECT_EQ(PathOf<TpsMainInstall>(&orphan), "C:\\Program Files\\Ostra");
    EXPECT_THROW(PathOf<TpsMainInstall>(&root), IEPathSpecifier);
    auto& archive = StandardPathSpecifiers().Find<TpsMainArchiveFile>();
    EXPECT_EQ(archive.GetPath(&orphan), "D:\\Setup\\files.1");
    archive.ArchiveFolder = "A:\\";
    EXPECT_EQ(archive.GetPath(&orphan), "A:\\files.1");
    root.SelfExtract = true;
    root.SelfExtractName = "Setup.exe";
    EXPECT_EQ(archive.GetPath(&orphan), "D:\\Setup\\Setup.exe");
    root.SelfExtractName = " ";
    EXPECT_THROW(archive.GetPath(&orphan), IEInstall);

    // Texts of the container's folder as its children see them.
    TTestFolder main(&form);
    main.SetName("MainDir");
    main.SetDescription("Orq");
    main.SetContainer(&root);
    TTestGroup group(&form);
    group.SetName("Group1");
    group.SetDescription("Tools");
    group.SetContainer(&root);
    TTestFile inMain(&form), inGroup(&form);
    inMain.SetContainer(&main);
    inGroup.SetContainer(&group);
    EXPECT_EQ(folderSpec.GetDescriptionFor(&main), "Main installation directory");
    EXPECT_EQ(folderSpec.GetDescriptionFor(&inMain), "Path of the <Orq> directory");
    EXPECT_EQ(folderSpec.GetDescriptionFor(&inGroup), "Path of the <Tools> group");
    EXPECT_EQ(folderSpec.GetShortCaptionFor(&inMain), "<Orq>");
    EXPECT_EQ(folderSpec.GetDescriptionFor(&orphan), "Path of the group (container)");
    EXPECT_EQ(inMain.GetFullDestDir(), "C:\\Program Files\\Ostra");
}

}  // namespace
