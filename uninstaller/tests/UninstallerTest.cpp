// The removal steps and their sequence, without a window: shared counts and questions, ActiveX
// unregistration with the fixture servers, INI entries, the database engine, folders deepest
// first, recorded registry keys, the record itself and the uninstaller's own file.
#include <gtest/gtest.h>

#include "host/SysUtils.h"
#include "host/UIServices.h"
#include "installer/library/MachineRestart.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_UninstallRecord.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/Registry.h"
#include "testsupport/TestFiles.h"
#include "uninstaller/Uninstaller.h"
#include "uninstaller/WinBde.h"
#include "uninstaller/tests/support/UninstallFixture.h"

using namespace ostra;
using namespace ostra::test;

namespace {

const std::string Record = UninstallRecordKey("Ostra");
const std::string Dir = "C:\\Program Files\\Ostra\\";
const std::string ConfigPath = "C:\\Program Files\\Common Files\\Borland Shared\\BDE\\IDAPI32.CFG";

std::string Question(const std::string& path) {
    return "Uninstall has determined that the file " + path +
           " is no longer used by an application. Is it o.k. to delete it?";
}

std::vector<std::string> MessageTexts(const THeadlessUIServices& ui) {
    std::vector<std::string> texts;
    for (const auto& m : ui.Messages()) texts.push_back(m.Msg);
    return texts;
}

bool KeyExists(const std::string& key) { return !MachineKeyText(key).empty(); }

// A headless removal of the product "Ostra" with scripted answers.
struct Removal {
    explicit Removal(std::initializer_list<int> answers, const std::string& programPath = "") : Scope(Ui) {
        for (int answer : answers) Ui.ScriptAnswer(answer);
        Uninstaller = std::make_unique<TUninstaller>(std::vector<std::string>{"Ostra"}, programPath, &View);
    }
    THeadlessUIServices Ui;
    TUIServicesScope Scope;
    RecordingView View;
    std::unique_ptr<TUninstaller> Uninstaller;
};

}  // namespace

TEST(Uninstaller, TheProductNameIsTheCommandLineJoined) {
    TUninstaller removal({"Ostra", "Database", "Engine"}, "", nullptr);
    EXPECT_EQ(removal.ProductName(), "Ostra Database Engine");
    EXPECT_EQ(removal.RecordKey(), "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostra Database Engine");
    try {
        TUninstaller none({}, "", nullptr);
        FAIL() << "a removal without a product name";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Please remove this software from the Add/Remove Programs from the Control Panel");
    }
}

TEST(Uninstaller, FilesGoByTheirSharedCounts) {
    TestMachine machine;
    InstallFile(Record, Dir + "plain.txt");          // no count: goes without a question
    InstallFile(Record, Dir + "three.dll", 3);       // counted down, stays
    InstallFile(Record, Dir + "kept.dll", 1);        // asked: No
    InstallFile(Record, Dir + "gone.dll", 1);        // asked: Yes
    InstallFile(Record, Dir + "shared lib.dll");     // counted under its short path, asked: Yes
    const std::string shortPath = GetShortPath(Dir + "shared lib.dll");
    ASSERT_NE(shortPath, Dir + "shared lib.dll");
    SetSharedCount(shortPath, 0);

    Removal removal({mrNo, mrYes, mrYes});
    removal.Uninstaller->RemoveFiles();

    EXPECT_EQ(MessageTexts(removal.Ui),
              (std::vector<std::string>{Question(Dir + "kept.dll"), Question(Dir + "gone.dll"), Question(shortPath)}));
    EXPECT_FALSE(WinFileExists(Dir + "plain.txt"));
    EXPECT_TRUE(WinFileExists(Dir + "three.dll"));
    EXPECT_EQ(SharedCount(Dir + "three.dll"), 2);
    EXPECT_TRUE(WinFileExists(Dir + "kept.dll"));
    EXPECT_EQ(SharedCount(Dir + "kept.dll"), 1);
    EXPECT_FALSE(WinFileExists(Dir + "gone.dll"));
    EXPECT_EQ(SharedCount(Dir + "gone.dll"), -1);
    EXPECT_FALSE(WinFileExists(Dir + "shared lib.dll"));
    EXPECT_EQ(SharedCount(shortPath), -1);
    EXPECT_EQ(removal.View.Events, (std::vector<std::string>{"progress 0", "progress 25", "progress 50", "progress 75", "progress 100"}));
    EXPECT_EQ(removal.Uninstaller->Folders(),
              (std::vector<std::string>{"C:\\PROGRAM FILES\\OSTRA", UpperCase(shortPath.substr(0, shortPath.rfind('\\')))}));
    EXPECT_FALSE(KeyExists(Record + "\\Files"));
}

TEST(Uninstaller, FilesSubkeysAreReadWhileTheNextOneExists) {
    TestMachine machine;
    for (const char* key : {"\\Files", "\\Files2"}) {
        ASSERT_TRUE(PutWinFile(Dir + (key + 1) + ".txt", "x"));
        WriteRegistryString(LocalMachine, Record + key, "File1", Dir + (key + 1) + ".txt");
    }
    Removal removal({});
    removal.Uninstaller->RemoveFiles();
    EXPECT_FALSE(WinFileExists(Dir + "Files.txt"));
    EXPECT_TRUE(WinFileExists(Dir + "Files2.txt"));
    EXPECT_EQ(removal.View.Events, std::vector<std::string>{"progress 0"});
    EXPECT_FALSE(KeyExists(Record + "\\Files"));
    EXPECT_TRUE(KeyExists(Record + "\\Files2"));

    WriteRegistryString(LocalMachine, Record + "\\Files1", "File1", Dir + "Files1.txt");
    removal.Uninstaller->RemoveFiles();
    EXPECT_FALSE(WinFileExists(Dir + "Files2.txt"));
    EXPECT_FALSE(KeyExists(Record + "\\Files2"));
}

TEST(Uninstaller, ActiveXServersAreUnregisteredByTheirKind) {
    FixtureMachine machine;
    const std::string inProcess = "C:\\WINDOWS\\system32\\OstraFix.dll";
    const std::string local = Dir + "FixServer.exe";
    const std::string broken = Dir + "Broken.exe";
    const std::string typeLibrary = Dir + "Types.tlb";
    const std::string shared = "C:\\WINDOWS\\system32\\Shared.ocx";
    const std::string kept = "C:\\WINDOWS\\system32\\Kept.ocx";
    InstallActiveX(Record, inProcess, FixturePath("libostra_installer_fixture_server.so"));
    InstallActiveX(Record, local, FixturePath("ostra_installer_fixture_program"));
    ASSERT_TRUE(PutWinFile(broken, "not a program"));
    AddUninstallActiveX(Record, broken, axLocalServer);
    ASSERT_TRUE(PutWinFile(typeLibrary, "OSTRA-TYPELIB 1\n"));
    AddUninstallActiveX(Record, typeLibrary, axTypeLibrary);
    InstallActiveX(Record, shared, FixturePath("libostra_installer_fixture_server.so"), 2);
    InstallActiveX(Record, kept, FixturePath("libostra_installer_fixture_server.so"));
    const std::string clsid = "\\CLSID\\{0F57A000-0000-0000-0000-000000000001}";
    WriteRegistryString(0, clsid + "\\LocalServer32", "", local);

    Removal removal({mrYes, mrYes, mrYes, mrYes, mrNo});
    removal.Uninstaller->RemoveActiveXComponents();

    EXPECT_EQ(MessageTexts(removal.Ui), (std::vector<std::string>{Question(inProcess), Question(local), Question(broken),
                                                                  Question(typeLibrary), Question(kept)}));
    for (const std::string& gone : {inProcess, local, broken, typeLibrary}) EXPECT_FALSE(WinFileExists(gone)) << gone;
    EXPECT_TRUE(WinFileExists(shared));
    EXPECT_EQ(SharedCount(shared), 1);
    EXPECT_TRUE(WinFileExists(kept));
    // One in-process unregistration, one local server started with the switch, nothing for the
    // type library or the server that could not start.
    const std::string log = machine.Log();
    EXPECT_EQ(log.find("DllUnregisterServer"), log.rfind("DllUnregisterServer"));
    EXPECT_NE(log.find("DllUnregisterServer"), std::string::npos);
    EXPECT_NE(log.find("arg /UNREGSERVER\n"), std::string::npos);
    EXPECT_EQ(TestMachine::RegistryText(0, clsid.substr(1)), "");
    EXPECT_EQ(removal.View.EventsOf("progress"),
              (std::vector<std::string>{"progress 0", "progress 20", "progress 40", "progress 60", "progress 80", "progress 100"}));
    EXPECT_EQ(removal.Uninstaller->Folders(), (std::vector<std::string>{"C:\\WINDOWS\\SYSTEM32", "C:\\PROGRAM FILES\\OSTRA"}));
    EXPECT_FALSE(KeyExists(Record + "\\ActiveX"));
}

TEST(Uninstaller, IniEntriesGoByWholeKeysAndEmptiedFilesGoWithTheirFolders) {
    TestMachine machine;
    const std::string shared = "C:\\WINDOWS\\ostra.ini";
    const std::string own = Dir + "Config\\demo.ini";
    InstallIniEntries(Record, "1", shared,
                      "[Paths]\r\n; where Ostra looks\r\nPATH=C:\\Ostra\r\nLIBPATH=C:\\Lib\r\nEXTRA=1\r\n[Other]\r\nPATH=keep\r\n",
                      "Paths", {"PATH"});
    InstallIniEntries(Record, "2", own, "[Demo]\r\nKEY=1\r\nNAME=x\r\n", "Demo", {"KEY", "NAME"});
    WriteRegistryString(LocalMachine, Record + "\\INIFiles\\3\\Entries\\S", "K", "");  // no FilePath: skipped

    Removal removal({});
    removal.Uninstaller->RemoveINIEntries();

    EXPECT_EQ(ReadAll(WinToNative(shared)),
              "[Paths]\r\n; where Ostra looks\r\nLIBPATH=C:\\Lib\r\nEXTRA=1\r\n[Other]\r\nPATH=keep\r\n");
    EXPECT_FALSE(WinFileExists(own));
    EXPECT_FALSE(WinDirectoryExists(Dir + "Config"));
    EXPECT_TRUE(WinDirectoryExists(Dir));
    EXPECT_EQ(removal.Uninstaller->Folders(), std::vector<std::string>{"C:\\PROGRAM FILES\\OSTRA\\CONFIG"});
    EXPECT_FALSE(KeyExists(Record + "\\INIFiles"));
}

TEST(Uninstaller, AnIniFileThatCannotBeWrittenEndsTheStep) {
    TestMachine machine;
    const std::string path = "C:\\WINDOWS\\ostra.ini";
    InstallIniEntries(Record, "1", path, "[S]\r\nK=1\r\nL=2\r\n", "S", {"K"});
    Removal removal({});
    FileHolder holder(path);
    try {
        removal.Uninstaller->RemoveINIEntries();
        FAIL() << "the write succeeded";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to C:\\WINDOWS\\ostra.ini");
    }
    EXPECT_EQ(holder.Release(), 0);
    EXPECT_EQ(ReadAll(WinToNative(path)), "[S]\r\nK=1\r\nL=2\r\n");
    EXPECT_TRUE(KeyExists(Record + "\\INIFiles"));
}

TEST(Uninstaller, AliasesGoThroughTheDatabaseEngine) {
    TestMachine machine;
    WriteRegistryString(LocalMachine, Record + "\\Aliases\\OSTRADEMO", "", "");
    {
        Removal removal({});
        removal.Uninstaller->RemoveAliases();  // no engine: nothing happens
        EXPECT_TRUE(KeyExists(Record + "\\Aliases\\OSTRADEMO"));
    }
    InstallBde(ConfigPath, "1", {"DBDEMOS", "OSTRADEMO", "\xC4sthetik"});
    WriteRegistryString(LocalMachine, Record + "\\Aliases\\\xC4sthetik", "", "");
    Removal removal({});
    removal.Uninstaller->RemoveAliases();
    EXPECT_EQ(BdeAliases(ConfigPath), std::vector<std::string>{"DBDEMOS"});
    EXPECT_FALSE(KeyExists(Record + "\\Aliases"));
    EXPECT_EQ(DbiExit(), dbiNotInitialized);  // the step ended its session
}

TEST(Uninstaller, TheDatabaseEngineGoesWhenNothingElseUsesIt) {
    struct Case {
        const char* name;
        bool recorded;         // the record has "BDE" with "Entries" "1"
        const char* useCount;  // as a text; null writes the integer 1
        bool otherVendorKey;   // "\Software\Borland\Delphi" exists
        int answer;            // mrNone: no question expected
        const char* useCountAfter;  // its line in the registry text; "" when the engine's key is gone
    };
    const Case cases[] = {
        {"used by others: counted down, as a text", true, "3", false, mrNone, "  sz \"UseCount\" \"2\""},
        {"not recorded: nothing", false, "1", false, mrNone, "  sz \"UseCount\" \"1\""},
        {"the last use, No", true, nullptr, false, mrNo, "  dword \"UseCount\" 1"},
        {"the last use, Yes", true, "1", false, mrYes, ""},
        {"the last use, Yes, the vendor key has more", true, "1", true, mrYes, ""},
    };
    for (const Case& c : cases) {
        TestMachine machine;
        InstallBde(ConfigPath, c.useCount ? c.useCount : "", {"DBDEMOS"});
        if (!c.useCount) WriteRegistryInteger(LocalMachine, BdeEngineKey, BdeUseCountValue, 1);
        WriteRegistryString(LocalMachine, "\\Software\\Borland\\BLW32", "BLAPIPATH", "C:\\x");
        if (c.otherVendorKey) WriteRegistryString(LocalMachine, "\\Software\\Borland\\Delphi\\7.0", "RootDir", "C:\\D7");
        if (c.recorded) WriteRegistryString(LocalMachine, Record + "\\BDE", "Entries", "1");

        Removal removal({});
        if (c.answer != mrNone) removal.Ui.ScriptAnswer(c.answer);
        removal.Uninstaller->RemoveBDE();

        EXPECT_EQ(removal.Ui.Messages().size(), c.answer != mrNone ? 1u : 0u) << c.name;
        std::string engine = MachineKeyText(BdeEngineKey), line;
        std::istringstream lines(engine);
        while (std::getline(lines, line) && line.find("UseCount") == std::string::npos) line.clear();
        EXPECT_EQ(line, c.useCountAfter) << c.name;
        bool gone = *c.useCountAfter == 0;
        EXPECT_EQ(WinFileExists(ConfigPath), !gone) << c.name;
        EXPECT_EQ(KeyExists("\\Software\\Borland\\BLW32"), !gone) << c.name;
        EXPECT_EQ(KeyExists("\\Software\\Borland"), !gone || c.otherVendorKey) << c.name;
        if (gone) {
            EXPECT_EQ(removal.Uninstaller->Folders(),
                      std::vector<std::string>{"C:\\PROGRAM FILES\\COMMON FILES\\BORLAND SHARED\\BDE"}) << c.name;
        }
    }
}

TEST(Uninstaller, FoldersAreRemovedDeepestFirst) {
    TestMachine machine;
    for (const char* folder : {"C:\\Ostra\\Data\\Demo\\Shop", "C:\\Keep"}) ASSERT_TRUE(WinForceDirectories(folder));
    ASSERT_TRUE(PutWinFile("C:\\Keep\\note.txt", "x"));
    Removal removal({});
    TUninstaller& u = *removal.Uninstaller;
    u.NoteFolder("C:\\Ostra\\readme.txt");
    u.NoteFolder("C:\\Ostra\\Data\\Demo\\Shop\\shop.orq");
    u.NoteFolder("c:\\ostra\\other.txt");  // noted already
    u.NoteFolder("C:\\Keep\\note.txt");
    u.NoteFolder("C:\\Ostra\\Data\\Demo\\orders.orq");
    EXPECT_EQ(u.Folders(), (std::vector<std::string>{"C:\\OSTRA", "C:\\OSTRA\\DATA\\DEMO\\SHOP", "C:\\KEEP",
                                                     "C:\\OSTRA\\DATA\\DEMO"}));
    u.RemoveEmptyFolders();
    // "C:\Ostra\Data" was never noted: it stays, and keeps "C:\Ostra".
    EXPECT_FALSE(WinDirectoryExists("C:\\Ostra\\Data\\Demo"));
    EXPECT_TRUE(WinDirectoryExists("C:\\Ostra\\Data"));
    EXPECT_TRUE(WinDirectoryExists("C:\\Keep"));

    u.NoteFolder("C:\\Ostra\\Data\\x.orq");
    u.RemoveEmptyFolders();
    EXPECT_FALSE(WinDirectoryExists("C:\\Ostra"));
}

TEST(Uninstaller, RecordedRegistryKeysGoLongestFirst) {
    TestMachine machine;
    // The parent is recorded before its child, so only the sorted walk can empty it in time.
    WriteRegistryString(LocalMachine, "\\Software\\Veltra\\Ostra", "Path", "C:\\Ostra");
    AddUninstallRegistryKey(Record, "\\Software\\Veltra\\Ostra", 4, {{"Path", "C:\\Ostra"}});
    WriteRegistryString(LocalMachine, "\\Software\\Veltra\\Ostra\\Settings", "Entries", "5");
    WriteRegistryInteger(LocalMachine, "\\Software\\Veltra\\Ostra\\Settings", "Grid", 1);
    AddUninstallRegistryKey(Record, "\\Software\\Veltra\\Ostra\\Settings", 4, {{"Entries", "5"}, {"Grid", ""}});
    WriteRegistryString(2, "\\Software\\Veltra\\Shared", "Name", "x");
    WriteRegistryString(2, "\\Software\\Veltra\\Shared", "Other", "not ours");
    AddUninstallRegistryKey(Record, "\\Software\\Veltra\\Shared", 2, {{"Name", "x"}});
    WriteRegistryInteger(LocalMachine, Record + "\\RegistryKeys\\RegistryKey4", "Root", 7);
    WriteRegistryString(LocalMachine, Record + "\\RegistryKeys\\RegistryKey4", "Key", "\\Software\\Veltra");

    Removal removal({});
    EXPECT_FALSE(removal.Uninstaller->RemoveRegistryEntries());
    EXPECT_FALSE(KeyExists("\\Software\\Veltra\\Ostra"));
    EXPECT_TRUE(KeyExists("\\Software\\Veltra"));  // recorded only under the invalid entry
    EXPECT_EQ(TestMachine::RegistryText(2, "Software\\Veltra\\Shared"),
              "key HKEY_CURRENT_USER\\Software\\Veltra\\Shared\n  sz \"Other\" \"not ours\"\n");
    EXPECT_FALSE(KeyExists(Record + "\\RegistryKeys"));

    Removal nothing({});
    EXPECT_TRUE(nothing.Uninstaller->RemoveRegistryEntries());
}

TEST(Uninstaller, AnEmptyRecordRunsEveryStepAndGoes) {
    TestMachine machine;
    const std::string program = Dir + "uninstall.exe";
    ASSERT_TRUE(PutWinFile(program, "program"));
    WriteRegistryString(LocalMachine, Record, "DisplayName", "Ostra");
    Removal removal({}, program);
    removal.Uninstaller->Run();
    EXPECT_EQ(removal.View.Events,
              (std::vector<std::string>{"start Aliases", "done Aliases", "progress on", "start ActiveX", "progress off",
                                        "done ActiveX", "progress on", "start Files", "progress off", "done Files",
                                        "start INIFiles", "done INIFiles", "start BDE", "done BDE", "start Registry",
                                        "done Registry", "repaint"}));
    EXPECT_EQ(MessageTexts(removal.Ui), std::vector<std::string>{"Ostra has finished removing itself"});
    EXPECT_FALSE(KeyExists(Record));
    EXPECT_FALSE(WinFileExists(program));
}

TEST(Uninstaller, AFailedCountEndsTheSequenceAndKeepsTheRecord) {
    TestMachine machine;
    InstallFile(Record, Dir + "three.dll", 3);
    AddUninstallRegistryKey(Record, "\\Software\\Veltra", 4, {});
    WriteRegistryInteger(LocalMachine, Record + "\\RegistryKeys\\RegistryKey2", "Root", 9);
    Removal removal({});
    {
        platform::ScopedRegistryFaultHook hook([](platform::RegistryOp op, int, const std::string& path, const std::string&) -> long {
            return op == platform::RegistryOp::SetValue && path.find("SharedDLLs") != std::string::npos ? platform::regIoFailed
                                                                                                        : platform::regOk;
        });
        try {
            removal.Uninstaller->Run();
            FAIL() << "the count was written";
        } catch (const EIRCannotWriteValue& e) {
            EXPECT_EQ(e.Message(), SharedDllsKey);
        }
    }
    EXPECT_EQ(removal.View.Events.back(), "progress off");
    EXPECT_TRUE(removal.View.EventsOf("done Files").empty());
    EXPECT_TRUE(removal.Ui.Messages().empty());
    EXPECT_TRUE(KeyExists(Record + "\\Files"));
    EXPECT_TRUE(KeyExists(Record + "\\RegistryKeys"));

    // The registry step's failure is only a message.
    Removal again({});
    again.Uninstaller->Run();
    EXPECT_EQ(MessageTexts(again.Ui)[0], "Some or all of the registry keys could not could not be removed");
    EXPECT_EQ(SharedCount(Dir + "three.dll"), 2);
    EXPECT_FALSE(KeyExists(Record));
}

TEST(Uninstaller, TheProgramFileInUseGoesAtTheNextRestart) {
    const std::string program = Dir + "Uninstall\\uninstall.exe";
    for (const char* version : {"XP", "98"}) {
        TestMachine machine;
        machine.SetWindowsVersion(version);
        ASSERT_TRUE(PutWinFile(program, "program"));
        Removal removal({}, program);
        FileHolder holder(program);
        EXPECT_EQ(removal.Uninstaller->RemoveProgramFile(),
                  "The uninstallation program for Ostra will be removed after you reboot your computer.");
        EXPECT_EQ(holder.Release(), 0);
        EXPECT_TRUE(WinFileExists(program)) << version;
        if (std::string(version) == "98")
            EXPECT_EQ(ReadAll(WinToNative("C:\\WINDOWS\\WININIT.INI")), "[RENAME]\r\nNul=" + GetShortPath(program) + "\r\n");
        else
            EXPECT_EQ(PendingOperations().size(), 1u);
        PerformMachineRestart();
        EXPECT_FALSE(WinFileExists(program)) << version;
    }
}
