// The database-engine stand-in: when it counts as installed, alias deletion and the saved
// configuration, and names in the OEM code page.
#include <gtest/gtest.h>

#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/tests/support/TestMachine.h"
#include "testsupport/TestFiles.h"
#include "uninstaller/WinBde.h"

using namespace ostra;
using ostra::test::PutWinFile;
using ostra::test::ReadAll;
using ostra::test::TestMachine;

namespace {

const std::string ConfigPath = "C:\\Program Files\\Common Files\\Borland Shared\\BDE\\IDAPI32.CFG";

}  // namespace

TEST(WinBde, InstalledOnlyWithANamedConfigurationOfItsForm) {
    TestMachine machine;
    EXPECT_EQ(DbiInitFn(DbiInterfaceVersion, nullptr), dbiNotInstalled);  // no key
    WriteRegistryString(4, BdeEngineKey, BdeConfigFileValue, ConfigPath);
    EXPECT_EQ(DbiInitFn(DbiInterfaceVersion, nullptr), dbiNotInstalled);  // no file
    ASSERT_TRUE(PutWinFile(ConfigPath, "[DEMO]\r\nPATH=x\r\n"));
    EXPECT_EQ(DbiInitFn(DbiInterfaceVersion, nullptr), dbiNotInstalled);  // not a configuration
    EXPECT_EQ(DbiDeleteAlias(nullptr, "DEMO"), dbiNotInitialized);

    ASSERT_TRUE(PutWinFile(ConfigPath, std::string(BdeConfigMagic) + "\r\n[DEMO]\r\nPATH=x\r\n"));
    EXPECT_EQ(DbiInitFn(300, nullptr), dbiVersionMismatch);
    ASSERT_EQ(DbiInitFn(DbiInterfaceVersion, nullptr), dbiOk);
    EXPECT_EQ(DbiInitFn(DbiInterfaceVersion, nullptr), dbiAlreadyInitialized);
    EXPECT_EQ(DbiExit(), dbiOk);
    EXPECT_EQ(DbiExit(), dbiNotInitialized);
}

TEST(WinBde, DeletedAliasesReachTheFileOnlyWhenSaved) {
    TestMachine machine;
    WriteRegistryString(4, BdeEngineKey, BdeConfigFileValue, ConfigPath);
    // "Ästhetik" in code page 850: 0x8E for Ä.
    const std::string config = std::string(BdeConfigMagic) +
                               "\r\n[OSTRADEMO]\r\nPATH=C:\\Demo\r\n[\x8Esthetik]\r\nPATH=C:\\A\r\n[DBDEMOS]\r\nPATH=C:\\D\r\n";
    ASSERT_TRUE(PutWinFile(ConfigPath, config));
    ASSERT_EQ(DbiInitFn(DbiInterfaceVersion, nullptr), dbiOk);
    EXPECT_EQ(DbiDeleteAlias(nullptr, "ostrademo"), dbiOk);
    EXPECT_EQ(DbiDeleteAlias(nullptr, CharToOem("\xC4sthetik")), dbiOk);
    EXPECT_EQ(DbiDeleteAlias(nullptr, "MISSING"), dbiAliasNotFound);
    EXPECT_EQ(DbiCfgSave(nullptr, nullptr, false), dbiOk);
    EXPECT_EQ(ReadAll(WinToNative(ConfigPath)), config);
    EXPECT_EQ(DbiCfgSave(nullptr, nullptr, true), dbiOk);
    EXPECT_EQ(DbiExit(), dbiOk);
    EXPECT_EQ(ReadAll(WinToNative(ConfigPath)), std::string(BdeConfigMagic) + "\r\n[DBDEMOS]\r\nPATH=C:\\D\r\n");
}

TEST(WinBde, CharToOemKeepsWhatCodePage850HasAndFitsTheRest) {
    EXPECT_EQ(CharToOem("Ostra 1.43"), "Ostra 1.43");
    // Ä é ü ß ñ Ø, then Š “ ” – € (no exact form).
    EXPECT_EQ(CharToOem("\xC4\xE9\xFC\xDF\xF1\xD8"), "\x8E\x82\x81\xE1\xA4\x9D");
    EXPECT_EQ(CharToOem("\x8A\x93\x94\x96\x80"), "S\"\"-?");
}
