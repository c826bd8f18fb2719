// The file-backed registry: names without regard to case, enumeration order, refused deletes,
// handles of deleted keys, the text form, saves that fail or meet a damaged file, the fault hook,
// and processes that change one registry at the same time.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/FileFault.h"
#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/tests/support/TestFiles.h"

using namespace ostra::platform;
using ostra::platform::test::Child;
using ostra::platform::test::ReadAll;
using ostra::platform::test::TempDir;
using ostra::platform::test::WriteAll;

namespace {

// Points the machine (and so the registry) at a fresh temporary folder for one test.
class MachineFixture : public ::testing::Test {
protected:
    void SetUp() override { setenv("OSTRA_MACHINE", FDir.Path().c_str(), 1); }
    void TearDown() override { unsetenv("OSTRA_MACHINE"); }

    HKEY Create(HKEY parent, const std::string& path) {
        HKEY key = 0;
        EXPECT_EQ(RegistryCreateKey(parent, path, key), regOk) << path;
        return key;
    }
    std::string Dump(int root, const std::string& path) {
        std::string text;
        EXPECT_EQ(RegistryDump(text, root, path), regOk);
        return text;
    }
    std::vector<std::string> Subkeys(HKEY key) {
        std::vector<std::string> names;
        EXPECT_EQ(RegistryKeyNames(key, names), regOk);
        return names;
    }

    TempDir FDir;
};

using Registry = MachineFixture;

}  // namespace

TEST_F(Registry, NamesMatchWithoutRegardToCaseAndKeepTheirSpelling) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "\\Software\\Ostra\\");
    bool created = true;
    HKEY again = 0;
    ASSERT_EQ(RegistryCreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\ostra", again, &created), regOk);
    EXPECT_FALSE(created);
    ASSERT_EQ(RegistrySetValue(key, "Path", RegistryValue::String("C:\\x")), regOk);
    ASSERT_EQ(RegistrySetValue(again, "PATH", RegistryValue::String("C:\\y")), regOk);
    // Windows-1252 letters fold too: é matches É.
    ASSERT_EQ(RegistrySetValue(key, "caf\xE9", RegistryValue::Integer(7)), regOk);
    RegistryValue value;
    ASSERT_EQ(RegistryQueryValue(key, "CAF\xC9", value), regOk);
    EXPECT_EQ(value.Type, regInteger);
    EXPECT_EQ(value.AsInteger(), 7u);
    EXPECT_EQ(Dump(4, "software"),
              "key HKEY_LOCAL_MACHINE\\Software\n"
              "key HKEY_LOCAL_MACHINE\\Software\\Ostra\n"
              "  sz \"Path\" \"C:\\\\y\"\n"
              "  dword \"caf\\xE9\" 7\n");
    EXPECT_EQ(RegistryQueryValue(key, "Missing", value), regNotFound);
    HKEY missing = 0;
    EXPECT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE, "Software\\Other", RegistryAccess::Read, missing), regNotFound);
    EXPECT_EQ(RegistryCreateKey(HKEY_LOCAL_MACHINE, std::string(256, 'k'), missing), regInvalidParameter);
    RegistryCloseKey(key);
    RegistryCloseKey(again);
}

TEST_F(Registry, EnumerationOrderIsDocumented) {
    HKEY key = Create(HKEY_CURRENT_USER, "List");
    for (const char* name : {"b", "File10", "A", "File2", "file1"}) RegistryCloseKey(Create(key, name));
    EXPECT_EQ(Subkeys(key), (std::vector<std::string>{"A", "b", "file1", "File10", "File2"}));

    // Values: in the order first written; writing again keeps the place, deleting and writing
    // again moves to the end.
    for (const char* name : {"File1", "File2", "File10", "Entries"})
        ASSERT_EQ(RegistrySetValue(key, name, RegistryValue::String("x")), regOk);
    ASSERT_EQ(RegistrySetValue(key, "file2", RegistryValue::String("y")), regOk);
    ASSERT_EQ(RegistryDeleteValue(key, "FILE1"), regOk);
    ASSERT_EQ(RegistrySetValue(key, "File1", RegistryValue::String("z")), regOk);
    std::vector<std::string> names;
    ASSERT_EQ(RegistryValueNames(key, names), regOk);
    EXPECT_EQ(names, (std::vector<std::string>{"File2", "File10", "Entries", "File1"}));
    RegistryCloseKey(key);
}

TEST_F(Registry, DeletesAreRefusedForKeysWithSubkeysAndRoots) {
    HKEY parent = Create(HKEY_LOCAL_MACHINE, "A");
    HKEY child = Create(parent, "B");
    EXPECT_EQ(RegistryDeleteKey(HKEY_LOCAL_MACHINE, "A"), regAccessDenied);
    EXPECT_EQ(RegistryDeleteKey(HKEY_LOCAL_MACHINE, ""), regAccessDenied);
    EXPECT_EQ(RegistryDeleteKey(parent, "Nothing"), regNotFound);

    // A key may go while a handle has it open; the handle then reports it.
    ASSERT_EQ(RegistryDeleteKey(parent, "b"), regOk);
    RegistryValue value;
    EXPECT_EQ(RegistrySetValue(child, "x", RegistryValue::String("1")), regKeyDeleted);
    EXPECT_EQ(RegistryQueryValue(child, "x", value), regKeyDeleted);
    ASSERT_EQ(RegistryDeleteKey(HKEY_LOCAL_MACHINE, "A"), regOk);
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE), std::vector<std::string>{});
    RegistryCloseKey(child);
    RegistryCloseKey(parent);
    EXPECT_EQ(RegistryCloseKey(parent), regInvalidHandle);
    EXPECT_EQ(RegistrySetValue(parent, "x", RegistryValue::String("1")), regInvalidHandle);
}

TEST_F(Registry, ReadHandlesCannotChangeTheirKey) {
    RegistryCloseKey(Create(HKEY_USERS, "K"));
    HKEY reader = 0;
    ASSERT_EQ(RegistryOpenKey(HKEY_USERS, "K", RegistryAccess::Read, reader), regOk);
    EXPECT_EQ(RegistrySetValue(reader, "v", RegistryValue::String("1")), regAccessDenied);
    EXPECT_EQ(RegistryDeleteValue(reader, "v"), regAccessDenied);
    RegistryCloseKey(reader);
}

TEST_F(Registry, TextFormRoundTripsEveryByte) {
    HKEY key = Create(HKEY_CLASSES_ROOT, "100%\x01\xFF name");
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    ASSERT_EQ(RegistrySetValue(key, "", RegistryValue::String("default \"quoted\" \\ text")), regOk);
    ASSERT_EQ(RegistrySetValue(key, "all", RegistryValue::String(all)), regOk);
    ASSERT_EQ(RegistrySetValue(key, "bin", RegistryValue::Binary(std::string("\x00\x7F\xFF", 3))), regOk);
    ASSERT_EQ(RegistrySetValue(key, "empty", RegistryValue::Binary("")), regOk);
    ASSERT_EQ(RegistrySetValue(key, "max", RegistryValue::Integer(0xFFFFFFFFu)), regOk);
    std::string text = Dump(0, "100%\x01\xFF name");
    EXPECT_EQ(text.substr(0, text.find('\n')), "key HKEY_CLASSES_ROOT\\100%25%01%FF name");
    EXPECT_NE(text.find("  sz \"\" \"default \\\"quoted\\\" \\\\ text\"\n"), std::string::npos);
    EXPECT_NE(text.find("  binary \"bin\" 007fff\n  binary \"empty\" \n  dword \"max\" 4294967295\n"), std::string::npos);
    RegistryCloseKey(key);

    // Another process reads every byte back from the file.
    Child reader([&](Child&) {
        HKEY k = 0;
        RegistryValue v;
        if (RegistryOpenKey(HKEY_CLASSES_ROOT, "100%\x01\xFF NAME", RegistryAccess::Read, k) != regOk) return 1;
        if (RegistryQueryValue(k, "ALL", v) != regOk || v.Data != all || v.Type != regString) return 2;
        if (RegistryQueryValue(k, "bin", v) != regOk || v.Data != std::string("\x00\x7F\xFF", 3)) return 3;
        return 0;
    });
    EXPECT_EQ(reader.Wait(), 0);
}

TEST_F(Registry, ItsLocationComesFromTheEnvironment) {
    RegistryCloseKey(Create(HKEY_LOCAL_MACHINE, "First"));
    TempDir other;
    setenv("OSTRA_MACHINE", other.Path().c_str(), 1);
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE), std::vector<std::string>{});
    RegistryCloseKey(Create(HKEY_LOCAL_MACHINE, "Second"));
    EXPECT_NE(ReadAll(other.File("registry")).find("key HKEY_LOCAL_MACHINE\\Second\n"), std::string::npos);
    setenv("OSTRA_MACHINE", FDir.Path().c_str(), 1);
    EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE), std::vector<std::string>{"First"});
}

TEST_F(Registry, AFailedSaveKeepsTheRegistryAsItWas) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Saved");
    ASSERT_EQ(RegistrySetValue(key, "a", RegistryValue::String("1")), regOk);
    std::string before = ReadAll(FDir.File("registry"));
    for (FileOp op : {FileOp::Write, FileOp::Flush}) {
        // A write cut short (a full disk) or a flush that fails.
        NthCallFault fault(FileOps(op), 1, FileFault{ENOSPC, 10}, false, "registry.new");
        ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(RegistrySetValue(key, "b", RegistryValue::String("2")), regIoFailed);
        EXPECT_EQ(fault.Injected(), 1);
    }
    EXPECT_EQ(ReadAll(FDir.File("registry")), before);
    RegistryValue value;
    EXPECT_EQ(RegistryQueryValue(key, "b", value), regNotFound);
    ASSERT_EQ(RegistrySetValue(key, "b", RegistryValue::String("2")), regOk);
    EXPECT_EQ(RegistryQueryValue(key, "b", value), regOk);
    RegistryCloseKey(key);
}

TEST_F(Registry, ADamagedFileFailsEveryCallAndStaysAsItIs) {
    RegistryCloseKey(Create(HKEY_LOCAL_MACHINE, "Before"));
    std::string damaged = "OSTRA-REGISTRY 1\nkey HKEY_LOCAL_MACHINE\n  sz \"unterminated\n";
    WriteAll(FDir.File("registry"), damaged);
    // Another process changes the registry's counter, as a writer of the damaged file would have.
    Child writer([](Child&) {
        HKEY k = 0;
        return RegistryCreateKey(HKEY_LOCAL_MACHINE, "After", k) == regCorrupt ? 0 : 1;
    });
    EXPECT_EQ(writer.Wait(), 0);
    WriteAll(FDir.File("registry.lock"), std::string(8, '\x7F'));
    HKEY key = 0;
    EXPECT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE, "Before", RegistryAccess::Read, key), regCorrupt);
    EXPECT_EQ(RegistryCreateKey(HKEY_LOCAL_MACHINE, "After", key), regCorrupt);
    EXPECT_EQ(ReadAll(FDir.File("registry")), damaged);
}

TEST_F(Registry, TheFaultHookFailsTheCallsItChooses) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Tegu\\Install0");
    ScopedRegistryFaultHook hook([](RegistryOp op, int root, const std::string& path, const std::string& value) -> long {
        if (op == RegistryOp::OpenKey && root == 4 && path == "Software\\Tegu\\Install0") return regAccessDenied;
        if (op == RegistryOp::SetValue && value == "Size") return regIoFailed;
        return regOk;
    });
    HKEY opened = 0;
    EXPECT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE, "Software\\Tegu\\Install0", RegistryAccess::Read, opened), regAccessDenied);
    EXPECT_EQ(RegistrySetValue(key, "Size", RegistryValue::Integer(1)), regIoFailed);
    EXPECT_EQ(RegistrySetValue(key, "Path", RegistryValue::String("p")), regOk);
    RegistryCloseKey(key);
}

TEST_F(Registry, ProcessesChangingItTogetherLoseNothing) {
    // Each process writes its own values while the other does; every save rewrites the whole
    // file, so a save from a stale copy would drop the other's values.
    constexpr int PerProcess = 40;
    auto body = [](const std::string& prefix) {
        return [prefix](Child& self) {
            self.Receive();
            HKEY key = 0;
            if (RegistryCreateKey(HKEY_LOCAL_MACHINE, "Shared", key) != regOk) return 1;
            for (int i = 0; i < PerProcess; ++i)
                if (RegistrySetValue(key, prefix + std::to_string(i), RegistryValue::Integer(i)) != regOk) return 2;
            return 0;
        };
    };
    Child first(body("a")), second(body("b"));
    first.Send('g');
    second.Send('g');
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    HKEY key = 0;
    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE, "shared", RegistryAccess::Read, key), regOk);
    std::vector<std::string> names;
    ASSERT_EQ(RegistryValueNames(key, names), regOk);
    EXPECT_EQ(names.size(), 2u * PerProcess);
    RegistryCloseKey(key);
}

TEST_F(Registry, RootHandlesAndIndexes) {
    EXPECT_EQ(RegistryRootKey(4), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegistryRootKey(6), 0u);
    EXPECT_EQ(RegistryRootIndex(HKEY_DYN_DATA), 3);
    EXPECT_EQ(RegistryRootIndex(12), -1);
    EXPECT_EQ(RegistryRootName(1), "HKEY_CURRENT_CONFIG");
}
