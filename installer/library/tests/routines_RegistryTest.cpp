// TfrnmRegistry's paths and recursive deletion, the framework's value rules, the one-call
// routines with their defaults and errors, the RunOnce writer, and the Windows version codes.
#include <gtest/gtest.h>

#include "host/StringList.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/tests/support/TestMachine.h"

using namespace ostra;
using ostra::test::TestMachine;

namespace {

constexpr int LocalMachine = 4;
constexpr int CurrentUser = 2;

}  // namespace

TEST(TfrnmRegistry, OpensRelativeAndAbsolutePathsFromTheRightKey) {
    TestMachine machine;
    TfrnmRegistry reg;
    reg.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("\\Software", true));
    EXPECT_EQ(reg.CurrentPath(), "Software");
    ASSERT_TRUE(reg.OpenKey("\\Software\\X", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\X");
    reg.WriteString("Where", "absolute");

    ASSERT_TRUE(reg.OpenKey("\\Software", false));
    ASSERT_TRUE(reg.OpenKey("X", false));
    EXPECT_EQ(reg.CurrentPath(), "Software\\X");
    EXPECT_EQ(reg.ReadString("Where"), "absolute");

    // A relative path with no key open starts at the root; a missing key is not created unasked.
    reg.CloseKey();
    EXPECT_TRUE(reg.KeyExists("Software\\X"));
    EXPECT_FALSE(reg.OpenKey("Software\\Y", false));
    EXPECT_FALSE(reg.KeyExists("\\Software\\Y"));
    EXPECT_EQ(reg.CurrentKey(), 0u);
}

TEST(TfrnmRegistry, DeleteKeyRemovesTheWholeTreeAndKeepsTheCurrentKey) {
    TestMachine machine;
    TfrnmRegistry reg;
    reg.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    for (const char* sub : {"A\\A1", "B\\B1", "C\\C1"}) ASSERT_TRUE(reg.OpenKey(std::string("\\Top\\Tree\\") + sub, true));
    ASSERT_TRUE(reg.OpenKey("\\Top", false));
    EXPECT_TRUE(reg.DeleteKey("Tree"));
    EXPECT_EQ(reg.CurrentPath(), "Top");
    EXPECT_FALSE(reg.HasSubKeys());
    reg.WriteString("still", "open");
    EXPECT_EQ(TestMachine::RegistryText(LocalMachine, "Top"), "key HKEY_LOCAL_MACHINE\\Top\n  sz \"still\" \"open\"\n");
    EXPECT_FALSE(reg.DeleteKey("Tree"));
}

TEST(TfrnmRegistry, ValuesFollowTheFrameworkRules) {
    TestMachine machine;
    TfrnmRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Values", true));
    reg.WriteInteger("Size", -5);
    reg.WriteFloat("CreationDate", 37622.5);
    reg.WriteBool("Flag", true);
    EXPECT_EQ(reg.ReadInteger("Size"), -5);
    EXPECT_DOUBLE_EQ(reg.ReadDateTime("CreationDate"), 37622.5);
    EXPECT_TRUE(reg.ReadBool("Flag"));
    EXPECT_EQ(reg.ReadString("Missing"), "");
    EXPECT_EQ(reg.GetDataSize("Missing"), -1);
    EXPECT_EQ(reg.GetDataType("Size"), rdInteger);

    struct Case {
        std::function<void()> Call;
        std::string Message;
    };
    const Case cases[] = {
        {[&] { reg.ReadInteger("Missing"); }, "Failed to get data for 'Missing'"},
        {[&] { reg.ReadString("Size"); }, "Invalid data type for 'Size'"},
        {[&] { reg.ReadFloat("Size"); }, "Invalid data type for 'Size'"},
        {[&] { reg.ReadInteger("CreationDate"); }, "Invalid data type for 'CreationDate'"},
    };
    for (const Case& c : cases) {
        try {
            c.Call();
            ADD_FAILURE() << c.Message;
        } catch (const ERegistryException& e) {
            EXPECT_EQ(e.Message(), c.Message);
        }
    }
    reg.CloseKey();
    EXPECT_THROW(reg.WriteString("x", "y"), ERegistryException);
}

TEST(RegistryRoutines, RootIndexesFollowTRootKeys) {
    TestMachine machine;
    TfrnmRegistry reg;
    SetRegistryRootByIndex(reg, 4);
    EXPECT_EQ(reg.RootKey(), platform::HKEY_LOCAL_MACHINE);
    SetRegistryRootByIndex(reg, 7);
    EXPECT_EQ(reg.RootKey(), platform::HKEY_LOCAL_MACHINE);
    SetRegistryRootByIndex(reg, 0);
    EXPECT_EQ(reg.RootKey(), platform::HKEY_CLASSES_ROOT);
    EXPECT_EQ(HKeyToRootIndex(platform::HKEY_USERS, -1), 5);
    EXPECT_EQ(HKeyToRootIndex(platform::HKEY_CURRENT_CONFIG, -1), 1);
    EXPECT_EQ(HKeyToRootIndex(1234, -1), -1);
}

TEST(RegistryRoutines, ReadersFallBackToTheirDefault) {
    TestMachine machine;
    WriteRegistryString(LocalMachine, "\\Software\\Test", "Text", "value");
    WriteRegistryInteger(LocalMachine, "\\Software\\Test", "Number", 42);
    EXPECT_EQ(ReadRegistryString(LocalMachine, "\\Software\\Test", "Text", "def"), "value");
    EXPECT_EQ(ReadRegistryString(LocalMachine, "\\Software\\Test", "Missing", "def"), "def");
    EXPECT_EQ(ReadRegistryString(LocalMachine, "\\Software\\Nothing", "Text", "def"), "def");
    EXPECT_EQ(ReadRegistryString(LocalMachine, "\\Software\\Test", "Number", "def"), "def");
    EXPECT_EQ(ReadRegistryInteger(LocalMachine, "\\Software\\Test", "Number", -1), 42);
    EXPECT_EQ(ReadRegistryInteger(LocalMachine, "\\Software\\Test", "Missing", -1), -1);
    EXPECT_EQ(ReadRegistryInteger(LocalMachine, "\\Software\\Test", "Text", -1), -1);
    // Another root does not see the values.
    EXPECT_EQ(ReadRegistryInteger(CurrentUser, "\\Software\\Test", "Number", -1), -1);
}

TEST(RegistryRoutines, WritersRaiseWithTheirTexts) {
    TestMachine machine;
    platform::ScopedRegistryFaultHook hook(
        [](platform::RegistryOp op, int, const std::string& path, const std::string&) -> long {
            return op == platform::RegistryOp::SetValue || path == "Locked" ? platform::regAccessDenied : platform::regOk;
        });
    try {
        WriteRegistryString(LocalMachine, "\\Software\\Test", "Ident", "Value");
        ADD_FAILURE();
    } catch (const EIRCannotWriteValue& e) {
        EXPECT_EQ(e.Message(), "Cannot install into registry. Key: \\Software\\Test Ident: Ident Value Value");
    }
    try {
        WriteRegistryInteger(LocalMachine, "\\Locked", "Ident", 1);
        ADD_FAILURE();
    } catch (const EIRCannotWriteValue& e) {
        EXPECT_EQ(e.Message(), "\\Locked");
    }
}

TEST(RegistryRoutines, DeletersSwallowErrors) {
    TestMachine machine;
    WriteRegistryString(LocalMachine, "\\Record\\Files", "File1", "a");
    WriteRegistryString(LocalMachine, "\\Record\\RegistryKeys\\RegistryKey1\\Entries", "x", "y");
    WriteRegistryString(LocalMachine, "\\Record\\Keep", "v", "w");
    {
        platform::ScopedRegistryFaultHook hook(
            [](platform::RegistryOp op, int, const std::string& path, const std::string&) -> long {
                return op == platform::RegistryOp::DeleteKey && path == "Record\\Keep" ? platform::regAccessDenied
                                                                                      : platform::regOk;
            });
        DeleteRegistryKeyTree(LocalMachine, "\\Record");
    }
    EXPECT_EQ(TestMachine::RegistryText(LocalMachine, "Record"), "key HKEY_LOCAL_MACHINE\\Record\n"
                                                                 "key HKEY_LOCAL_MACHINE\\Record\\Keep\n"
                                                                 "  sz \"v\" \"w\"\n");
    DeleteRegistryValue(LocalMachine, "\\Record\\Keep", "V");
    DeleteRegistryValue(LocalMachine, "\\Record\\Nothing", "v");
    TStringList names;
    names.Add("stale");
    GetRegistrySubKeyNames(LocalMachine, "\\Record", names);
    EXPECT_EQ(names.Text(), "Keep\r\n");
    GetRegistrySubKeyNames(LocalMachine, "\\Nothing", names);
    EXPECT_EQ(names.Count(), 0);
    DeleteRegistryKeyTree(LocalMachine, "\\Record");
    EXPECT_EQ(TestMachine::RegistryText(LocalMachine, "Record"), "");
}

TEST(RegistryRoutines, RunOnceEntriesGoUnderTheRootOfTheWindowsFamily) {
    TestMachine machine;
    const std::string key = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    WriteRegistryString(CurrentUser, key, "FernmoorUnfinished", "first");
    WriteRegistryString(CurrentUser, key, "FernmoorUnfinished1", "second");
    ASSERT_TRUE(WriteRunOnceEntry("FernmoorUnfinished", "third", true));
    EXPECT_EQ(ReadRegistryString(CurrentUser, key, "FernmoorUnfinished2", ""), "third");
    ASSERT_TRUE(WriteRunOnceEntry("FernmoorUnfinished", "over", false));
    EXPECT_EQ(ReadRegistryString(CurrentUser, key, "FernmoorUnfinished", ""), "over");

    machine.SetWindowsVersion("98");
    ASSERT_TRUE(WriteRunOnceEntry("FernmoorBatFile", "batch", true));
    EXPECT_EQ(ReadRegistryString(LocalMachine, key, "FernmoorBatFile", ""), "batch");

    platform::ScopedRegistryFaultHook hook(
        [](platform::RegistryOp op, int, const std::string&, const std::string&) -> long {
            return op == platform::RegistryOp::SetValue ? platform::regIoFailed : platform::regOk;
        });
    EXPECT_FALSE(WriteRunOnceEntry("FernmoorBatFile", "batch", true));
}

TEST(WindowsVersionCode, FollowsThePlatformAndVersion) {
    TestMachine machine;
    EXPECT_EQ(GetWindowsVersionCode(), oswinXP);
    const std::pair<const char*, TOSVerType> cases[] = {
        {"xp", oswinXP},         {"2000", oswin2K},      {"NT4", oswinNT}, {"NT351", oswinNT351}, {"95", oswin98},
        {"98", oswin98},         {"ME", oswinME},        {"Win32s", os31win32}, {"Vista", osUnidentified},
    };
    for (const auto& [name, code] : cases) {
        machine.SetWindowsVersion(name);
        EXPECT_EQ(GetWindowsVersionCode(), code) << name;
    }
    machine.SetWindowsVersion("OS/2");
    EXPECT_THROW(GetWindowsVersionCode(), EAPIRoutines);
}
