// The uninstall record: its layout as written, the numbered lists with the fall-back of "Files",
// the top values, the reader, and the shared-file use counts under short and long paths.
#include <gtest/gtest.h>

#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_UninstallRecord.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/Registry.h"

using namespace ostra;
using ostra::test::PutWinFile;
using ostra::test::TestMachine;

namespace {

constexpr int LocalMachine = 4;
const std::string Record = UninstallRecordKey("Ostra Database Engine");

std::string RecordText(const std::string& subkey = "") {
    return TestMachine::RegistryText(LocalMachine, Record.substr(1) + subkey);
}

}  // namespace

TEST(UninstallRecord, ActiveXAndPlainFilesGoToTheirLists) {
    TestMachine machine;
    AddUninstallActiveX(Record, "C:\\WINDOWS\\system32\\Grid.ocx", ActiveXKindOf("Grid.ocx"));
    AddUninstallActiveX(Record, "C:\\Program Files\\Ostra\\Server.exe", ActiveXKindOf("server.EXE"));
    AddUninstallFile(Record, "C:\\Program Files\\Ostra\\readme.txt");
    EXPECT_EQ(RecordText(),
              "key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostra Database Engine\n"
              "key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostra Database Engine\\ActiveX\n"
              "  sz \"File1\" \"C:\\\\WINDOWS\\\\system32\\\\Grid.ocx;0\"\n"
              "  sz \"Entries\" \"2\"\n"
              "  sz \"File2\" \"C:\\\\Program Files\\\\Ostra\\\\Server.exe;1\"\n"
              "key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostra Database Engine\\Files\n"
              "  sz \"File1\" \"C:\\\\Program Files\\\\Ostra\\\\readme.txt\"\n"
              "  sz \"Entries\" \"1\"\n");
    EXPECT_EQ(ActiveXKindOf("Types.tlb"), axTypeLibrary);
    EXPECT_EQ(ActiveXKindOf("C:\\dir.exe\\lib"), axInProcessServer);
}

TEST(UninstallRecord, FilesFallBackToTheNumberedSubkeys) {
    TestMachine machine;
    WriteRegistryString(LocalMachine, Record + "\\Files", "Entries", "many");
    AddUninstallFile(Record, "C:\\a.txt");
    AddUninstallFile(Record, "C:\\b.txt");
    EXPECT_EQ(ReadRegistryString(LocalMachine, Record + "\\Files1", "File2", ""), "C:\\b.txt");
    EXPECT_EQ(ReadRegistryString(LocalMachine, Record + "\\Files1", "Entries", ""), "2");

    // A subkey that cannot take the value passes the entry on; at the limit the failure stands.
    platform::ScopedRegistryFaultHook hook([](platform::RegistryOp op, int, const std::string& path, const std::string&) -> long {
        auto endsWith = [&](const std::string& tail) { return path.size() >= tail.size() && path.substr(path.size() - tail.size()) == tail; };
        bool full = endsWith("\\Files1") || endsWith("\\Files2");
        return op == platform::RegistryOp::SetValue && full ? platform::regIoFailed : platform::regOk;
    });
    AddUninstallFile(Record, "C:\\c.txt");
    EXPECT_EQ(ReadRegistryString(LocalMachine, Record + "\\Files3", "File1", ""), "C:\\c.txt");
    platform::ScopedRegistryFaultHook broken([](platform::RegistryOp op, int, const std::string&, const std::string&) -> long {
        return op == platform::RegistryOp::SetValue ? platform::regIoFailed : platform::regOk;
    });
    EXPECT_THROW(AddUninstallFile(Record, "C:\\d.txt"), EIRCannotWriteValue);

    // The other lists do not fall back.
    platform::ScopedRegistryFaultHook off({});
    WriteRegistryString(LocalMachine, Record + "\\ActiveX", "Entries", "x");
    EXPECT_THROW(AddUninstallActiveX(Record, "C:\\e.ocx", axInProcessServer), EConvertError);
}

TEST(UninstallRecord, TopValuesAndTheUninstallString) {
    TestMachine machine;
    const std::string key = UninstallRecordKey(" Ostra ");
    EXPECT_EQ(key, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ Ostra ");
    TUninstallTopValues top;
    top.DisplayName = "Ostra";
    top.UninstallString = MakeUninstallString("C:\\Program Files\\Ostra\\Uninstall\\uninstall.exe", " Ostra ");
    top.DisplayVersion = "1.43";
    top.Publisher = "Veltra Software";
    WriteUninstallTopValues(key, top);
    EXPECT_EQ(TestMachine::RegistryText(LocalMachine, key.substr(1)),
              "key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ Ostra \n"
              "  sz \"DisplayName\" \"Ostra\"\n"
              "  sz \"UninstallString\" \"C:\\\\Program Files\\\\Ostra\\\\Uninstall\\\\uninstall.exe Ostra\"\n"
              "  sz \"DisplayVersion\" \"1.43\"\n"
              "  sz \"Publisher\" \"Veltra Software\"\n");
}

TEST(UninstallRecord, TheReaderReadsEveryPart) {
    TestMachine machine;
    TUninstallTopValues top;
    top.DisplayName = "Ostra Database Engine";
    top.Comments = "c";
    WriteUninstallTopValues(Record, top);
    AddUninstallFile(Record, "C:\\a.txt");
    AddUninstallFile(Record, "C:\\b.txt");
    WriteRegistryString(LocalMachine, Record + "\\Files2", "File1", "C:\\not read.txt");
    AddUninstallActiveX(Record, "C:\\t.tlb", axTypeLibrary);
    AddUninstallRegistryKey(Record, "\\SOFTWARE\\Veltra\\Ostra", 4, {{"Path", "C:\\Ostra"}, {"Version", ""}});
    AddUninstallRegistryKey(Record, "\\SOFTWARE\\Veltra", 2, {});
    WriteRegistryInteger(LocalMachine, Record + "\\RegistryKeys\\RegistryKey3", "Root", 7);
    WriteRegistryString(LocalMachine, Record + "\\INIFiles\\1", "FilePath", "C:\\WINDOWS\\app.ini");
    WriteRegistryString(LocalMachine, Record + "\\INIFiles\\1\\Entries\\Settings", "PATH", "");
    WriteRegistryString(LocalMachine, Record + "\\Aliases\\OSTRADEMO", "", "");
    WriteRegistryString(LocalMachine, Record + "\\BDE", "Entries", "1");

    TUninstallRecord record = ReadUninstallRecord(Record);
    ASSERT_TRUE(record.Exists);
    EXPECT_EQ(record.Top.DisplayName, "Ostra Database Engine");
    EXPECT_EQ(record.Top.Comments, "c");
    EXPECT_EQ(record.Files, (std::vector<std::string>{"C:\\a.txt", "C:\\b.txt"}));  // no "Files1": "Files2" is not read
    ASSERT_EQ(record.ActiveX.size(), 1u);
    EXPECT_EQ(record.ActiveX[0].Path, "C:\\t.tlb");
    EXPECT_EQ(record.ActiveX[0].Kind, "2");
    ASSERT_EQ(record.RegistryKeys.size(), 3u);
    EXPECT_TRUE(record.RegistryKeys[0].Valid);
    EXPECT_EQ(record.RegistryKeys[0].Key, "\\SOFTWARE\\Veltra\\Ostra");
    EXPECT_EQ(record.RegistryKeys[0].Root, 4);
    EXPECT_EQ(record.RegistryKeys[0].ValueNames, (std::vector<std::string>{"Path", "Version"}));
    EXPECT_EQ(record.RegistryKeys[1].Root, 2);
    EXPECT_FALSE(record.RegistryKeys[2].Valid);
    ASSERT_EQ(record.IniFiles.size(), 1u);
    EXPECT_EQ(record.IniFiles[0].FilePath, "C:\\WINDOWS\\app.ini");
    ASSERT_EQ(record.IniFiles[0].Sections.size(), 1u);
    EXPECT_EQ(record.IniFiles[0].Sections[0].second, std::vector<std::string>{"PATH"});
    EXPECT_EQ(record.Aliases, std::vector<std::string>{"OSTRADEMO"});
    EXPECT_TRUE(record.HasBde);
    EXPECT_EQ(record.BdeEntries, 1);

    TUninstallRecord none = ReadUninstallRecord(UninstallRecordKey("Nothing"));
    EXPECT_FALSE(none.Exists);
    EXPECT_TRUE(none.Files.empty());
}

TEST(SharedCounts, ShortPathFirstThenLongPath) {
    TestMachine machine;
    const std::string shared = "C:\\Program Files\\Common Files\\Veltra\\shared lib.dll";
    ASSERT_TRUE(PutWinFile(shared, "x"));
    const std::string shortPath = GetShortPath(shared);
    ASSERT_NE(shortPath, shared);
    WriteRegistryInteger(LocalMachine, SharedDllsKey, shortPath, 3);
    ASSERT_TRUE(IncrementSharedCount(shared));
    EXPECT_EQ(ReadRegistryInteger(LocalMachine, SharedDllsKey, shortPath, 0), 4);
    EXPECT_EQ(ReadRegistryInteger(LocalMachine, SharedDllsKey, shared, -1), -1);

    const std::string fresh = "C:\\Program Files\\Common Files\\Veltra\\new lib.dll";
    ASSERT_TRUE(PutWinFile(fresh, "y"));
    ASSERT_TRUE(IncrementSharedCount(fresh));
    EXPECT_EQ(ReadRegistryInteger(LocalMachine, SharedDllsKey, fresh, 0), 1);
    std::string name;
    int32_t count = 0;
    ASSERT_TRUE(LookUpSharedCount(shared, name, count));
    EXPECT_EQ(name, shortPath);
    EXPECT_EQ(count, 4);
    ASSERT_TRUE(LookUpSharedCount(fresh, name, count));
    EXPECT_EQ(name, fresh);
    EXPECT_FALSE(LookUpSharedCount("C:\\missing.dll", name, count));

    platform::ScopedRegistryFaultHook hook([](platform::RegistryOp op, int, const std::string& path, const std::string&) -> long {
        return op == platform::RegistryOp::CreateKey && path.find("SharedDLLs") != std::string::npos ? platform::regAccessDenied
                                                                                                     : platform::regOk;
    });
    EXPECT_FALSE(IncrementSharedCount(fresh));
}
