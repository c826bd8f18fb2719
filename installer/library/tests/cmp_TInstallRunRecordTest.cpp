// The setup program's command line, the run record, the restart entry and the completion run
// after a restart, on a machine of the test's own.
#include <gtest/gtest.h>

#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/tests/support/InstallRun.h"

using namespace ostra;
using namespace ostra::test;

namespace {

const char* const RunOnceKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr int HKLM = 4, HKCU = 2;

TEST(InstallCommandLine, OptionsValuesAndRefusals) {
    TInstallCommandLine line = ParseInstallCommandLine({"-sC:\\My Build", "*TODISK", "-E", "-eSETUP.EXE", "*c"});
    EXPECT_TRUE(line.Has(ioSource));
    EXPECT_EQ(line.Value(ioSource), "C:\\My Build");
    EXPECT_EQ(line.Value(ioSelfExtract), "SETUP.EXE");  // the later one wins
    EXPECT_TRUE(line.Has(ioCleanup));                   // "*" with a known letter counts
    EXPECT_FALSE(line.Has(ioFloppy));                   // "*TODISK" is the loader's own
    EXPECT_EQ(line.Options, (TInstallOptions{ioSource, ioSelfExtract, ioCleanup}));

    for (const char* bad : {"-x", "-", "x", "", "/b"}) {
        try {
            ParseInstallCommandLine({"-b", bad});
            ADD_FAILURE() << bad;
        } catch (const IException& e) {
            EXPECT_EQ(std::string(e.what()).rfind(std::string("Invalid parameter <") + bad + ">. Valid command line", 0), 0u)
                << e.what();
        }
    }
}

TEST(InstallRunRecord, FoundByTheProgramsDateAndSize) {
    InstallRunFixture run;
    run.SetParameters({"-sC:\\Setup"});
    run.Load();
    const std::string first = run.install->RegisterInstallRun(true);
    EXPECT_EQ(first, "\\SOFTWARE\\Tegu\\Install\\Install0");
    EXPECT_EQ(ReadRegistryString(HKLM, first, "Path", ""), "C:\\Dev\\setup.exe");
    EXPECT_EQ(ReadRegistryString(HKLM, first, "SelfExtract", "<none>"), "<none>");

    // Another program (another size) gets the next record; finding does not create.
    run.SetProgram("C:\\Dev\\other.exe", "a longer setup program");
    EXPECT_EQ(run.install->RegisterInstallRun(false), "");
    EXPECT_EQ(run.install->RegisterInstallRun(true), "\\SOFTWARE\\Tegu\\Install\\Install1");

    // The first program again: its record, with a new run date.
    {
        TfrnmRegistry registry;
        registry.SetRootKey(RootKeyOfIndex(HKLM));
        ASSERT_TRUE(registry.OpenKey(first, false));
        registry.WriteDateTime("LastRunDate", 1.0);
    }
    SetApplicationExeName(WinToNative("C:\\Dev\\setup.exe"));
    EXPECT_EQ(run.install->RegisterInstallRun(true), first);
    TfrnmRegistry registry;
    registry.SetRootKey(RootKeyOfIndex(HKLM));
    ASSERT_TRUE(registry.OpenKey(first, false));
    EXPECT_GT(registry.ReadDateTime("LastRunDate"), 1.0);

    // A record that cannot be read is passed over: the program gets a record of its own.
    WriteRegistryString(HKLM, "\\SOFTWARE\\Tegu\\Install\\Install2", "Path", "broken");
    run.SetProgram("C:\\Dev\\third.exe", "x");
    EXPECT_EQ(run.install->RegisterInstallRun(true), "\\SOFTWARE\\Tegu\\Install\\Install3");
}

TEST(InstallRunRecord, UnfinishedWorkNeedsARecord) {
    InstallRunFixture run;
    run.SetParameters({"-sC:\\Setup"});
    run.Load();
    SetRunRecordKey("");
    TStringList list;
    for (auto step : std::vector<std::function<void()>>{[&] { run.install->AddUnfinished("Tool", 0); },
                                                       [&] { run.install->ReadUnfinished(list); },
                                                       [&] { run.install->ClearUnfinished(); }}) {
        try {
            step();
            ADD_FAILURE();
        } catch (const IEInstall& e) {
            EXPECT_STREQ(e.what(), "The TInstall could not either write or read unfinished business from the registry");
        }
    }
    SetRunRecordKey(run.install->RegisterInstallRun(true));
    run.install->AddUnfinished("Tool", 0);
    run.install->AddUnfinished("C:\\WINDOWS\\TEMP\\a;b.bat", 1);
    run.install->ReadUnfinished(list);
    EXPECT_EQ(list.Text(), "Tool;0\r\nC:\\WINDOWS\\TEMP\\a;b.bat;1\r\n");
    EXPECT_EQ(run.install->UnfinishedCount(), 2);
    run.install->ClearUnfinished();
    run.install->ReadUnfinished(list);
    EXPECT_EQ(list.Count(), 0);
}

TEST(InstallRunRecord, RestartEntryStartsTheSameSetupWithR) {
    InstallRunFixture run;
    // Started by the self-extracting loader: the restart names the setup file with "-e".
    run.SetParameters({"-sC:\\Out", "-esetup.exe", "-c"});
    run.Load();
    run.install->RegisterRunOnReboot();
    run.install->RegisterRunOnReboot();
    EXPECT_EQ(ReadRegistryString(HKCU, RunOnceKey, "FernmoorUnfinished", ""),
              "\"C:\\Dev\\setup.exe\" -r \"-esetup.exe\" \"-sC:\\Out\" -c");
    EXPECT_EQ(ReadRegistryString(HKCU, RunOnceKey, "FernmoorUnfinished1", ""),
              ReadRegistryString(HKCU, RunOnceKey, "FernmoorUnfinished", "x"));
    // A debug run names the program's own folder by "-s" and passes no "-c".
    run.SetParameters({"-d", "-sC:\\Build"});
    run.Load();
    run.install->SetUseLoadingProgram(false);
    EXPECT_EQ(run.install->RestartCommand(), "\"C:\\Dev\\setup.exe\" -r \"-sC:\\Dev\"");
}

// Leaves a run record for C:\Dev\setup.exe with the unfinished items, as a run that asked for a
// restart does.
void LeaveUnfinished(InstallRunFixture& run, const std::vector<std::pair<std::string, int>>& items) {
    run.SetParameters({"-sC:\\Setup"});
    run.Load();
    SetRunRecordKey(run.install->RegisterInstallRun(true));
    for (const auto& [name, code] : items) run.install->AddUnfinished(name, code);
    WriteRegistryString(HKLM, RunRecordKey() + "\\Files", "LocalFile", "C:\\WINDOWS\\TEMP\\files.1");
    PutWinFile("C:\\WINDOWS\\TEMP\\files.1", "downloaded");
    run.Unload();
}

TEST(InstallRunRecord, CompletionRunFinishesItemsAndRemovesTheRecord) {
    InstallRunFixture run;
    TTranslator translator(nullptr);
    PutWinFile("C:\\WINDOWS\\TEMP\\move.bat", "MOVE a b");
    LeaveUnfinished(run, {{"Tool", 0}, {"C:\\WINDOWS\\TEMP\\move.bat", 1}, {"Nobody", 0}, {"Other", 7}});
    WriteRegistryInteger(HKLM, "\\SOFTWARE\\Tegu\\Install\\Install0", "Language", flGerman);
    run.SetParameters({"-r", "-sC:\\Setup"});
    run.Load([&](TCustomForm& form, TInstall& install) {
        auto* tool = CreateComponent<TFinishingObject>(&form);
        tool->SetName("TOOL");
        tool->SetContainer(&install);
    });
    EXPECT_NE(std::find(TreeLog().begin(), TreeLog().end(), "TOOL finished"), TreeLog().end());
    EXPECT_EQ(translator.TranslateIntoLanguage(), flGerman);  // the pages come in the wizard's language
    EXPECT_FALSE(WinFileExists("C:\\WINDOWS\\TEMP\\move.bat"));
    EXPECT_FALSE(WinFileExists("C:\\WINDOWS\\TEMP\\files.1"));  // the downloaded archive goes with the record
    EXPECT_EQ(run.Codes("TOOL"), (std::vector<int>{dcGoodInstall, dcGoodInstallWizard}));
    EXPECT_EQ(TestMachine::RegistryText(HKLM, "\\SOFTWARE\\Tegu"), "");
    EXPECT_EQ(RunRecordKey(), "");
    EXPECT_FALSE(run.install->Running());
    EXPECT_EQ(run.terminateRequests, 1);
}

TEST(InstallRunRecord, AFailedCompletionKeepsOnlyTheItemsNotYetDone) {
    InstallRunFixture run;
    PutWinFile("C:\\WINDOWS\\TEMP\\later.bat", "MOVE a b");
    LeaveUnfinished(run, {{"Done", 0}, {"Broken", 0}, {"C:\\WINDOWS\\TEMP\\later.bat", 1}});
    TFinishingObject* broken = nullptr;
    auto build = [&](TCustomForm& form, TInstall& install) {
        for (const char* name : {"Done", "Broken"}) {
            auto* object = CreateComponent<TFinishingObject>(&form);
            object->SetName(name);
            object->SetContainer(&install);
            if (object->Name() == "Broken") broken = object, object->Fail = true;
        }
    };
    run.SetParameters({"-r", "-sC:\\Setup"});
    run.Load(build);
    // The failure went through the error handler: the bad-install pages, the message, the end.
    EXPECT_EQ(run.Codes("Done"), (std::vector<int>{dcBadInstall, dcBadInstallWizard}));
    ASSERT_EQ(run.services.Exceptions().size(), 1u);
    EXPECT_EQ(run.services.Exceptions()[0].Message, "Broken cannot finish");
    EXPECT_TRUE(WinFileExists("C:\\WINDOWS\\TEMP\\later.bat"));
    SetRunRecordKey(run.install->RegisterInstallRun(false));
    TStringList left;
    run.install->ReadUnfinished(left);
    EXPECT_EQ(left.Text(), "Broken;0\r\nC:\\WINDOWS\\TEMP\\later.bat;1\r\n");

    // The next completion run does what is left, and only that.
    run.Load([&](TCustomForm& form, TInstall& install) {
        build(form, install);
        broken->Fail = false;
    });
    EXPECT_EQ(std::count(TreeLog().begin(), TreeLog().end(), "Done finished"), 0);
    EXPECT_EQ(std::count(TreeLog().begin(), TreeLog().end(), "Broken finished"), 1);
    EXPECT_FALSE(WinFileExists("C:\\WINDOWS\\TEMP\\later.bat"));
    EXPECT_EQ(TestMachine::RegistryText(HKLM, "\\SOFTWARE\\Tegu"), "");
}

TEST(InstallRunRecord, ClearingTheListOfARunWithoutRecordEndsTheRun) {
    InstallRunFixture run;
    run.SetParameters({"-sC:\\Setup", "-n"});
    run.Load();
    run.form->Activate();
    ASSERT_EQ(run.services.Exceptions().size(), 1u);
    EXPECT_EQ(run.services.Exceptions()[0].Message,
              "The TInstall could not either write or read unfinished business from the registry");
    EXPECT_EQ(TestMachine::RegistryText(HKLM, "\\SOFTWARE\\Tegu\\Install\\Install0"), "");
}

TEST(InstallRunRecord, AnInvalidItemEndsTheCompletionRun) {
    InstallRunFixture run;
    LeaveUnfinished(run, {{"Tool", 0}});
    WriteRegistryString(HKLM, "\\SOFTWARE\\Tegu\\Install\\Install0\\Unfinished", "Tool", "zero");
    run.SetParameters({"-r", "-sC:\\Setup"});
    run.Load();
    ASSERT_EQ(run.services.Exceptions().size(), 1u);
    EXPECT_EQ(run.services.Exceptions()[0].Message, "There is an invalid entry for the unfinished install list Tool;zero");
    EXPECT_NE(TestMachine::RegistryText(HKLM, "\\SOFTWARE\\Tegu\\Install\\Install0"), "");
}

}  // namespace
