// INI files edited in place: whole keys removed, everything else kept where it stands, an emptied
// section gone, and a write that cannot replace the file leaving it whole.
#include <gtest/gtest.h>

#include "installer/library/WinFileSystem.h"
#include "installer/library/tests/support/TestMachine.h"
#include "testsupport/TestFiles.h"
#include "uninstaller/IniText.h"

using namespace ostra;
using ostra::test::FileHolder;
using ostra::test::PutWinFile;
using ostra::test::ReadAll;
using ostra::test::TestMachine;

namespace {

std::vector<std::string> Lines(std::initializer_list<const char*> lines) { return {lines.begin(), lines.end()}; }

}  // namespace

TEST(IniText, RemoveKeysMatchesWholeKeysAndKeepsTheRest) {
    struct Case {
        const char* name;
        std::vector<std::string> before;
        std::string section;
        std::vector<std::string> keys;
        bool changed;
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"whole keys, order and comments kept",
         Lines({"[Paths]", "; search paths", "PATH=a", "LIBPATH=b", "", "  path = c", "OTHER=PATH=d", "[Next]", "PATH=e"}),
         "paths", {"Path"}, true,
         Lines({"[Paths]", "; search paths", "LIBPATH=b", "", "OTHER=PATH=d", "[Next]", "PATH=e"})},
        {"a section left without entries goes with its comments",
         Lines({"; top", "[A]", "; about A", "K=1", "", "[B]", "L=2"}), "A", {"K"}, true,
         Lines({"; top", "[B]", "L=2"})},
        {"every section of the name", Lines({"[S]", "K=1", "M=2", "[T]", "K=3", "[ S ]", "K=4", "N=5"}), "s", {"k"}, true,
         Lines({"[S]", "M=2", "[T]", "K=3", "[ S ]", "N=5"})},
        {"a commented-out key is no entry", Lines({"[S]", ";K=1", "K2=2"}), "S", {"K"}, false,
         Lines({"[S]", ";K=1", "K2=2"})},
        {"a missing section changes nothing", Lines({"[S]", "K=1"}), "T", {"K"}, false, Lines({"[S]", "K=1"})},
        {"a section without entries to begin with stays", Lines({"[S]", "; nothing"}), "S", {"K"}, false,
         Lines({"[S]", "; nothing"})},
    };
    for (const Case& c : cases) {
        TIniText text;
        text.Lines() = c.before;
        EXPECT_EQ(text.RemoveKeys(c.section, c.keys), c.changed) << c.name;
        EXPECT_EQ(text.Lines(), c.after) << c.name;
    }
}

TEST(IniText, EraseSectionTakesAllItsLines) {
    TIniText text;
    text.Lines() = Lines({"OSTRA-BDE-CONFIG 1", "[DEMO]", "PATH=x", "[other]", "PATH=y", "[demo]", "TYPE=z"});
    EXPECT_TRUE(text.EraseSection("Demo"));
    EXPECT_EQ(text.Lines(), Lines({"OSTRA-BDE-CONFIG 1", "[other]", "PATH=y"}));
    EXPECT_FALSE(text.EraseSection("Demo"));
}

TEST(IniText, FilesRoundTripAndAFailedWriteLeavesTheFileWhole) {
    TestMachine machine;
    const std::string path = "C:\\WINDOWS\\app.ini";
    ASSERT_TRUE(PutWinFile(path, "[S]\nK=1\r\nL=\xE9\r\n"));
    TIniText text;
    ASSERT_TRUE(text.LoadFromFile(path));
    EXPECT_EQ(text.Lines(), Lines({"[S]", "K=1", "L=\xE9"}));
    ASSERT_TRUE(text.RemoveKeys("S", {"K"}));
    ASSERT_TRUE(text.SaveToFile(path));
    EXPECT_EQ(ReadAll(WinToNative(path)), "[S]\r\nL=\xE9\r\n");

    text.Lines().clear();
    {
        FileHolder holder(path);
        EXPECT_FALSE(text.SaveToFile(path));
        EXPECT_EQ(holder.Release(), 0);
    }
    EXPECT_EQ(ReadAll(WinToNative(path)), "[S]\r\nL=\xE9\r\n");
    EXPECT_FALSE(WinFileExists(path + ".$$$"));
    ASSERT_TRUE(text.SaveToFile(path));
    EXPECT_EQ(ReadAll(WinToNative(path)), "");
    EXPECT_FALSE(text.LoadFromFile("C:\\WINDOWS\\missing.ini"));
}
