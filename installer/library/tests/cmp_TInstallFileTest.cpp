// Install files built into an archive and installed from it into the machine: every overwrite
// mode against missing, older and newer targets, the totals and codes of the container's pass, a
// target in use placed under a numbered name and moved at the restart (on both Windows
// families), the property rules, and the bound on the number of files.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "host/ComponentText.h"
#include "host/Streams.h"
#include "host/UIServices.h"
#include "installer/library/MachineRestart.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TUninstallEXE.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_UninstallRecord.h"
#include "installer/library/tests/support/FileInstall.h"
#include "installer/library/tests/support/PeFixture.h"

using namespace ostra;
using namespace ostra::test;

namespace {

const std::string Dest = "C:\\Program Files\\Ostra\\";

std::string Pe(uint32_t major) {
    PeVersion v;
    v.FileVersionMS = VersionMS(major, 0);
    v.StringTables = {{"040904E4", {{"FileVersion", std::to_string(major) + ".0"}}}};
    v.Translations = {0x04E40409};
    return BuildPeFile(v) + std::string(major, 'v');
}

TDateTime Day(int d) { return EncodeDate(2020, 1, d); }

TEST(InstallFile, OverwriteModesAgainstTheTarget) {
    enum Target { None, Older, Same, Newer, Text };
    struct Row {
        TOverwriteType mode;
        bool versioned;  // the source is lib.dll (version 2.0) rather than plain.txt (no version)
        Target target;
        int targetDay;   // the target's date against the source's (day 10)
        int answer;      // the answer to the question of owAsk
        bool written;
    } rows[] = {
        {owAlways, true, Newer, 20, 0, true},
        {owNever, true, None, 0, 0, true},
        {owNever, true, Older, 1, 0, false},
        {owVersion, true, Older, 20, 0, true},
        {owVersion, true, Newer, 1, 0, false},
        {owVersion, true, Same, 1, 0, false},
        {owVersion, false, None, 0, 0, true},  // a file without version and no target: written
        {owVersion, false, Text, 1, 0, false},
        {owDate, false, Text, 1, 0, true},
        {owDate, false, Text, 20, 0, false},
        {owDate, false, None, 0, 0, true},
        {owVersionDate, true, Same, 1, 0, true},
        {owVersionDate, true, Same, 20, 0, false},
        {owVersionDate, true, Older, 20, 0, true},
        {owAsk, false, None, 0, mrNo, false},
        {owAsk, false, Text, 20, mrYes, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << row.mode << " target " << row.target << " day " << row.targetDay);
        THeadlessUIServices ui;
        TUIServicesScope scope(ui);
        if (row.answer) ui.ScriptAnswer(row.answer);
        FileProject project;
        const std::string name = row.versioned ? "lib.dll" : "plain.txt";
        const std::string source = row.versioned ? Pe(2) : "new text";
        TCustomInstallFile* file = project.AddFile(name, source, project.root);
        WinSetLastWriteTime("C:\\Src\\" + name, Day(10));
        file->SetOverwriteMode(row.mode);
        file->SetUpdateDLLCounter(false);
        project.Build();
        const std::string target = Dest + name;
        std::string old;
        switch (row.target) {
            case None: break;
            case Older: old = Pe(1); break;
            case Same: old = Pe(2) + "old"; break;
            case Newer: old = Pe(3); break;
            case Text: old = "old text"; break;
        }
        if (row.target != None) {
            ASSERT_TRUE(PutWinFile(target, old));
            WinSetLastWriteTime(target, Day(row.targetDay));
        }
        project.root->Process();
        EXPECT_EQ(FileProject::Read(target), row.written ? source : (row.target == None ? "<missing>" : old));
        EXPECT_EQ(file->ReplaceTarget(), row.written);
        EXPECT_EQ(ui.Messages().size(), row.mode == owAsk ? 1u : 0u);
        // A kept file still reports itself done and lands in the record.
        const auto& codes = project.root->Codes;
        EXPECT_EQ(std::count(codes.begin(), codes.end(), icTargetKept), row.written ? 0 : 1);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), icFileInstalled), 1);
        EXPECT_EQ(ReadUninstallRecord(UninstallRecordKey("Ostra")).Files, std::vector<std::string>{target});
    }
}

TEST(InstallFile, FoldersInstallFromTheOneArchiveWithContinuousTotals) {
    FileProject project;
    auto* bin = CreateComponent<TInstallDirectory>(&project.form);
    bin->SetName("BinDir");
    bin->SetContainer(project.root);
    bin->SetDestDir("\\bin");
    project.AddFile("readme.txt", std::string(3000, 'r'), project.root);
    project.AddFile("tool.dat", std::string(7000, 't'), bin);
    project.Build();
    // A compression that ran to its end leaves no abort behind.
    EXPECT_FALSE(GlobalArchiveComponent().Abort());
    std::vector<int> totals;
    project.root->OnStatus = [&](TCustomInstallFile*, int, int total) { totals.push_back(total); };
    bool afterRaised = false;
    bin->OnAfterInstallObjects = [&](TInstallContainer*, bool aborted) { afterRaised = !aborted; };
    project.root->Process();
    EXPECT_EQ(FileProject::Read(Dest + "readme.txt"), std::string(3000, 'r'));
    EXPECT_EQ(FileProject::Read(Dest + "bin\\tool.dat"), std::string(7000, 't'));
    ASSERT_FALSE(totals.empty());
    EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
    EXPECT_EQ(totals.back(), 100);
    EXPECT_TRUE(afterRaised);
    EXPECT_EQ(project.root->PassTotal(), 10000);
    EXPECT_EQ(project.root->CurrentAction(), 0);
    // A status outside a pass is neither handled nor passed on.
    project.root->Codes.clear();
    TFileStatusParameter status;
    TParameterPair pair(bin->Files(0), &status);
    bin->DoInformationEventControl(bin->Files(0), icInstallStatus, &pair);
    EXPECT_TRUE(project.root->Codes.empty());
}

TEST(InstallFile, ATargetInUseIsReplacedAtTheRestart) {
    for (const char* windows : {"XP", "98"}) {
        SCOPED_TRACE(windows);
        FileProject project;
        project.machine.SetWindowsVersion(windows);
        TCustomInstallFile* file = project.AddFile("tool.dll", "new tool", project.root, "ToolFile");
        file->SetOverwriteMode(owAlways);
        file->SetUpdateDLLCounter(true);
        project.Build();
        ASSERT_TRUE(PutWinFile(Dest + "tool.dll", "old tool"));
        ASSERT_TRUE(PutWinFile(Dest + "tool.1", "someone else's"));
        auto holder = std::make_unique<FileHolder>(Dest + "tool.dll");
        project.root->Process();
        EXPECT_TRUE(file->InstalledUnderNumberedName());
        EXPECT_EQ(file->NumberedName(), "tool.2");
        EXPECT_EQ(file->DestName(), "tool.dll");
        EXPECT_EQ(FileProject::Read(Dest + "tool.2"), "new tool");
        EXPECT_EQ(FileProject::Read(Dest + "tool.1"), "someone else's");
        EXPECT_TRUE(project.root->RebootFlag);
        EXPECT_EQ(project.root->Unfinished, std::vector<std::string>{"ToolFile:0"});
        // Record, count and everything else concern the real target.
        EXPECT_EQ(ReadUninstallRecord(UninstallRecordKey("Ostra")).Files, std::vector<std::string>{Dest + "tool.dll"});
        std::string valueName;
        int32_t count = 0;
        ASSERT_TRUE(LookUpSharedCount(Dest + "tool.dll", valueName, count));
        EXPECT_EQ(count, 1);
        if (std::string(windows) == "98") {
            std::string wininit = FileProject::Read("C:\\WINDOWS\\WININIT.INI");
            EXPECT_NE(wininit.find(GetShortPath(Dest + "tool.dll") + "=" +
                                   ExtractFilePath(GetShortPath(Dest + "tool.dll")) + "tool.2"),
                      std::string::npos)
                << wininit;
        }
        EXPECT_EQ(holder->Release(), 0);
        TRestartReport report = PerformMachineRestart();
        EXPECT_FALSE(report.Failed);
        EXPECT_EQ(FileProject::Read(Dest + "tool.dll"), "new tool");
        EXPECT_EQ(FileProject::Read(Dest + "tool.2"), "<missing>");
    }
}

TEST(InstallFile, PropertyRules) {
    FileProject project;
    TCustomInstallFile* ocx = project.AddFile("Foo.OCX", "x", project.root);
    EXPECT_EQ(ocx->DestName(), "Foo.OCX");
    EXPECT_TRUE(ocx->ActiveX());
    EXPECT_EQ(ocx->FileType(), iftSystemWideDLL);
    EXPECT_TRUE(ocx->UpdateDLLCounter());
    EXPECT_EQ(ocx->OverwriteMode(), owVersionDate);
    EXPECT_EQ(ocx->DestDir(), "");
    EXPECT_NE(dynamic_cast<TpsSystem*>(ocx->DestDirType()), nullptr);
    EXPECT_EQ(ocx->FullDestPath(), "C:\\WINDOWS\\system32\\Foo.OCX");
    EXPECT_TRUE(project.AddFile("manual.hlp", "h", project.root)->RegisterAsHelp());
    auto* twin = CreateComponent<TInstallFile>(&project.form);
    twin->SetIncludeFromDir("c:\\src");
    twin->SetFileName("foo.ocx");
    EXPECT_THROW(twin->SetContainer(project.root), IEfcDuplicateFile);
    EXPECT_EQ(twin->Container(), nullptr);
    auto* group = CreateComponent<TInstallGroup>(&project.form);
    auto* folder = CreateComponent<TInstallDirectory>(&project.form);
    folder->SetContainer(project.root);
    EXPECT_THROW(group->SetContainer(folder), IEInstallGroup);
    EXPECT_THROW(folder->OwnSpecifier()->GetPath(ocx), IEPathSpecifier);
}

TEST(InstallFile, TheTwoThousandAndFirstFileIsRefused) {
    TComponent form{nullptr};
    const size_t before = InstallFiles().size();
    std::vector<TInstallFile*> files;
    for (size_t i = before; i < static_cast<size_t>(MaxInstallFiles); ++i)
        files.push_back(CreateComponent<TInstallFile>(&form));
    EXPECT_THROW(CreateComponent<TInstallFile>(&form), IECustomInstallFile);
    const int freed = files[7]->UniqueID();
    delete files[7];
    EXPECT_EQ(CreateComponent<TInstallFile>(&form)->UniqueID(), freed);
}

}  // namespace

namespace {

TEST(InstallFile, FileListRecords) {
    TComponent form{nullptr};
    auto* file = CreateComponent<TInstallFile>(&form);
    file->SetName("Readme");
    file->SetSourceInfo(1234, 44000.5, "1.2.3");
    TMemoryStream stream;
    WriteFileListRecord(*file, stream);
    ASSERT_EQ(stream.Size(), 80);
    const auto* bytes = static_cast<const char*>(stream.Memory());
    int32_t size = 0;
    double date = 0;
    std::memcpy(&size, bytes, 4);
    std::memcpy(&date, bytes + 8, 8);
    EXPECT_EQ(size, 1234);
    EXPECT_EQ(date, 44000.5);
    EXPECT_STREQ(bytes + 16, "Readme");
    EXPECT_STREQ(bytes + 56, "1.2.3");
    file->SetName(std::string(40, 'N'));
    EXPECT_THROW(WriteFileListRecord(*file, stream), IECustomInstallFile);
    EXPECT_EQ(stream.Size(), 80);
}

}  // namespace

namespace {

TEST(FileContainer, BuildOptionsAndTheCopyPass) {
    FileProject project;
    auto* tools = CreateComponent<TInstallDirectory>(&project.form);
    tools->SetName("Tools");
    tools->SetContainer(project.root);
    tools->SetDestDir("\\tools");
    EXPECT_EQ(tools->OwnSpecifier()->Name(), "psFileContainer");
    auto* extra = CreateComponent<TInstallDirectory>(&project.form);
    extra->SetName("Extra");
    extra->SetContainer(project.root);
    EXPECT_EQ(extra->OwnSpecifier()->Name(), "psFileContainer1");
    TCustomInstallFile* hidden = project.AddFile("hidden.txt", "h", tools);
    hidden->SetInclude(false);
    project.AddFile("shown.txt", "s", tools);
    EXPECT_THROW(project.root->Compress(coForceNetFilesLocal | coForceFilesNet), IEFileContainer);
    EXPECT_EQ(project.root->CurrentAction(), 0);

    // Excluded files stay out of the archive unless the build asks for them.
    project.Build();
    TFrnmCompress reader(nullptr);
    reader.SetCompressedFile("C:\\Setup\\files.1");
    EXPECT_EQ(reader.GetFileCount(), 1);
    project.root->Compress(coForceNetFilesLocal | coIncludeExcluded);
    reader.SetCompressedFile("C:\\Other.1");
    reader.SetCompressedFile("C:\\Setup\\files.1");
    EXPECT_EQ(reader.GetFileCount(), 2);
    EXPECT_FALSE(hidden->Include());
    EXPECT_NE(dynamic_cast<TpsContainerArchiveFile*>(hidden->ArchiveFileType()), nullptr);

    // An excluded folder is skipped by the copy pass after its OnBeforeProcess.
    int before = 0;
    extra->OnBeforeProcess = [&](TInstallContainer*) { ++before; };
    extra->SetInclude(false);
    project.AddFile("extra.txt", "e", extra);
    project.root->CopyFiles();
    EXPECT_EQ(FileProject::Read(Dest + "tools\\shown.txt"), "s");
    EXPECT_EQ(FileProject::Read(Dest + "tools\\hidden.txt"), "<missing>");
    EXPECT_EQ(FileProject::Read(Dest + "extra.txt"), "<missing>");
    EXPECT_EQ(before, 1);
}

}  // namespace

namespace {

TEST(FileContainer, StreamedSpecifiersBecomeTheirContainersOwn) {
    TestMachine machine;
    TComponent form{nullptr};
    TextToComponent(
        "object Form: TComponent\n"
        "  object Tools: TInstallDirectory\n"
        "    Description = 'Tools'\n"
        "  end\n"
        "  object Extra: TInstallDirectory\n"
        "    Description = 'Extra'\n"
        "  end\n"
        "  object psFileContainer: TpsFileContainer\n"
        "    FileContainer = Extra\n"
        "  end\n"
        "  object psFileContainer1: TpsFileContainer\n"
        "    FileContainer = Tools\n"
        "  end\n"
        "end\n",
        &form);
    auto* tools = static_cast<TInstallDirectory*>(form.FindComponent("Tools"));
    auto* extra = static_cast<TInstallDirectory*>(form.FindComponent("Extra"));
    ASSERT_TRUE(tools && extra);
    EXPECT_EQ(tools->OwnSpecifier(), form.FindComponent("psFileContainer1"));
    EXPECT_EQ(extra->OwnSpecifier(), form.FindComponent("psFileContainer"));
    EXPECT_EQ(tools->OwnSpecifier()->GetShortCaption(), "<Tools>");
    int specifiers = 0;
    for (int i = 0; i < form.ComponentCount(); ++i)
        specifiers += dynamic_cast<TpsFileContainer*>(form.Components(i)) != nullptr;
    EXPECT_EQ(specifiers, 2);
}

}  // namespace

namespace {

TEST(InstallFile, AUserAbortEndsTheRunAndLeavesTheTarget) {
    FileProject project;
    TCustomInstallFile* file = project.AddFile("big.dat", std::string(200000, 'n'), project.root);
    project.Build();
    ASSERT_TRUE(PutWinFile(Dest + "big.dat", "old"));
    file->OnStatus = [](TCustomInstallFile*, int, int) { GlobalArchiveComponent().SetAbort(true); };
    EXPECT_THROW(project.root->Process(), EAIUserAbort);
    EXPECT_TRUE(GlobalArchiveComponent().Abort());
    EXPECT_EQ(FileProject::Read(Dest + "big.dat"), "old");
    EXPECT_EQ(file->State(), ifsNone);
    EXPECT_EQ(project.root->CurrentAction(), 0);
    GlobalArchiveComponent().SetAbort(false);
}

}  // namespace

namespace {

TEST(InstallFile, StreamedIdentifiersAreKeptAndTheOthersStayFree) {
    TestMachine machine;
    TComponent form{nullptr};
    ASSERT_TRUE(InstallFiles().empty());
    TextToComponent(
        "object Form: TComponent\n"
        "  object Readme: TInstallFile\n"
        "    FileName = 'readme.txt'\n"
        "    UniqueID = 5\n"
        "  end\n"
        "  object Uninstaller: TUninstallEXE\n"
        "    FileName = 'uninstall.exe'\n"
        "    UniqueID = 7\n"
        "  end\n"
        "end\n",
        &form);
    auto* item = static_cast<TUninstallEXE*>(form.FindComponent("Uninstaller"));
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->Net());
    EXPECT_EQ(item->UniqueID(), 7);
    std::vector<int> fresh;
    for (int i = 0; i < 6; ++i) fresh.push_back(CreateComponent<TInstallFile>(&form)->UniqueID());
    EXPECT_EQ(fresh, (std::vector<int>{0, 1, 2, 3, 4, 6}));
    const std::string text = ComponentToText(&form);
    EXPECT_NE(text.find("UniqueID = 7"), std::string::npos);
    EXPECT_EQ(text.find("ActiveX"), std::string::npos);
}

}  // namespace
