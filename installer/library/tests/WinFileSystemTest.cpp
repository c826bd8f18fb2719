// Windows-form paths on the host: the mapping to native paths, names matched without regard to
// case, short names that lead back to their file, files in use, moves, attributes, temporary
// files, and the special folders of a fresh machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "installer/library/WinFileSystem.h"
#include "installer/library/WinMachine.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/File.h"
#include "platform/LastError.h"

using namespace ostra;
using ostra::test::ReadAll;
using ostra::test::TestMachine;
using ostra::test::WriteAll;

namespace {

void Put(const std::string& path, const std::string& text) { ASSERT_TRUE(ostra::test::PutWinFile(path, text)); }

// Runs body with the current directory changed, then changes it back.
template <class Body>
void InDirectory(const std::string& native, Body body) {
    std::string saved = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(native.c_str()), 0);
    body();
    ASSERT_EQ(chdir(saved.c_str()), 0);
}

}  // namespace

TEST(WinFileSystem, MapsDrivesAndNamesToNativePaths) {
    TestMachine machine;
    const std::string c = machine.File("drive_c");
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\Program Files\\Ostra\\x.dll", c + "/Program Files/Ostra/x.dll"},
        {"c:/Program Files/./Ostra/../x.dll", c + "/Program Files/x.dll"},
        {"C:\\..\\..\\a", c + "/a"},
        {"C:\\dir\\name. .", c + "/dir/name"},
        {"D:\\", machine.File("drive_d")},
        {"Z:\\tmp\\f", "/tmp/f"},
    };
    for (const auto& [win, native] : cases) EXPECT_EQ(WinToNative(win), native) << win;
    EXPECT_EQ(WinToNative("\\\\server\\share\\x"), "");
    EXPECT_EQ(platform::GetLastError(), EINVAL);

    EXPECT_EQ(NativeToWin(c + "/Program Files/Ostra"), "C:\\Program Files\\Ostra");
    EXPECT_EQ(NativeToWin(c), "C:\\");
    EXPECT_EQ(NativeToWin("/usr/lib"), "Z:\\usr\\lib");
    EXPECT_EQ(NativeToWin("/"), "Z:\\");

    // Relative paths and paths on the current drive start from the current directory.
    ASSERT_TRUE(WinForceDirectories("C:\\Work\\Sub"));
    InDirectory(c + "/Work", [&] {
        EXPECT_EQ(WinGetCurrentDir(), "C:\\Work");
        EXPECT_EQ(WinExpandFileName("Sub\\f.txt"), "C:\\Work\\Sub\\f.txt");
        EXPECT_EQ(WinExpandFileName("c:f.txt"), "C:\\Work\\f.txt");
        EXPECT_EQ(WinExpandFileName("\\root.txt"), "C:\\root.txt");
        EXPECT_EQ(WinExpandFileName("D:f.txt"), "D:\\f.txt");
        EXPECT_TRUE(WinSetCurrentDir("sub"));
        EXPECT_EQ(WinGetCurrentDir(), "C:\\Work\\Sub");
    });
}

TEST(WinFileSystem, FindsNamesWithoutRegardToCase) {
    TestMachine machine;
    Put("C:\\Program Files\\Ostra\\Tool.DLL", "x");
    EXPECT_TRUE(WinFileExists("c:\\PROGRAM FILES\\ostra\\tool.dll"));
    EXPECT_EQ(WinToNative("c:\\PROGRAM FILES\\ostra\\tool.dll"), machine.File("drive_c/Program Files/Ostra/Tool.DLL"));
    EXPECT_TRUE(WinDirectoryExists("C:\\program files\\OSTRA"));
    EXPECT_FALSE(WinFileExists("C:\\Program Files\\Ostra"));
    // A new name keeps its spelling; Windows-1252 names become UTF-8 on the host.
    Put("C:\\Program Files\\Caf\xE9\\New.txt", "y");
    EXPECT_TRUE(std::filesystem::exists(machine.File("drive_c/Program Files/Caf\xC3\xA9/New.txt")));
    EXPECT_TRUE(WinFileExists("C:\\PROGRAM FILES\\CAF\xC9\\NEW.TXT"));
    EXPECT_EQ(WinFolderEntries("C:\\Program Files"), (std::vector<std::string>{"Caf\xE9", "Common Files", "Ostra"}));
}

TEST(WinFileSystem, ShortNamesLeadBackToTheirFiles) {
    TestMachine machine;
    EXPECT_EQ(WinShortName("README.TXT"), "README.TXT");
    EXPECT_EQ(WinShortName("setup.1"), "setup.1");
    const std::string programFiles = WinShortName("Program Files");
    EXPECT_EQ(programFiles.size(), 8u);
    EXPECT_EQ(programFiles.substr(0, 2), "PR");
    EXPECT_EQ(programFiles.substr(6), "~1");
    EXPECT_EQ(WinShortName("tool.dll.bak").substr(8), ".BAK");
    EXPECT_EQ(WinShortName("a b.html").substr(8), ".HTM");
    EXPECT_NE(WinShortName("Long Name One"), WinShortName("Long Name Two"));

    Put("C:\\Program Files\\My Product\\lib.dll", "lib");
    std::string shortPath;
    ASSERT_TRUE(WinGetShortPathName("c:\\program files\\my product\\LIB.DLL", shortPath));
    EXPECT_EQ(shortPath, "C:\\" + programFiles + "\\" + WinShortName("My Product") + "\\lib.dll");
    EXPECT_EQ(WinToNative(shortPath), machine.File("drive_c/Program Files/My Product/lib.dll"));
    EXPECT_EQ(GetShortPath(shortPath), shortPath);

    EXPECT_FALSE(WinGetShortPathName("C:\\Program Files\\Missing Folder\\x.dll", shortPath));
    EXPECT_EQ(GetShortPath("C:\\Program Files\\Missing Folder\\x.dll"), "C:\\Program Files\\Missing Folder\\x.dll");
}

TEST(WinFileSystem, FilesInUseCannotBeDeletedOrReplaced) {
    TestMachine machine;
    Put("C:\\App\\lib.dll", "old");
    Put("C:\\App\\lib.1", "new");
    std::string native = WinToNative("C:\\App\\lib.dll");
    ostra::test::FileHolder holder("C:\\App\\lib.dll");
    EXPECT_FALSE(WinDeleteFile("C:\\App\\lib.dll"));
    EXPECT_EQ(platform::GetLastError(), platform::ErrorSharingViolation);
    EXPECT_FALSE(WinMoveFileEx("C:\\App\\lib.1", "C:\\App\\lib.dll", WinMoveReplaceExisting));
    EXPECT_EQ(platform::GetLastError(), platform::ErrorSharingViolation);
    EXPECT_EQ(holder.Release(), 0);

    EXPECT_FALSE(WinMoveFileEx("C:\\App\\lib.1", "C:\\App\\lib.dll", 0));
    EXPECT_EQ(platform::GetLastError(), EEXIST);
    ASSERT_TRUE(WinMoveFileEx("C:\\App\\lib.1", "C:\\App\\lib.dll", WinMoveReplaceExisting));
    EXPECT_EQ(ReadAll(native), "new");
    EXPECT_FALSE(WinFileExists("C:\\App\\lib.1"));
    EXPECT_FALSE(WinMoveFileEx("C:\\App\\missing", "C:\\App\\other", 0));
    EXPECT_EQ(platform::GetLastError(), ENOENT);
}

TEST(WinFileSystem, ReadOnlyAttributeAndFolders) {
    TestMachine machine;
    Put("C:\\Data\\f.txt", "x");
    EXPECT_EQ(WinGetFileAttributes("C:\\Data\\f.txt"), WinAttrNormal);
    ASSERT_TRUE(WinSetFileAttributes("C:\\Data\\f.txt", WinAttrReadOnly | WinAttrHidden));
    EXPECT_EQ(WinGetFileAttributes("C:\\Data\\f.txt"), WinAttrReadOnly);
    EXPECT_FALSE(WinDeleteFile("C:\\Data\\f.txt"));
    EXPECT_EQ(platform::GetLastError(), EACCES);
    ASSERT_TRUE(WinSetFileAttributes("C:\\Data\\f.txt", WinAttrNormal));
    EXPECT_TRUE(WinDeleteFile("C:\\Data\\f.txt"));
    EXPECT_EQ(WinGetFileAttributes("C:\\Data"), WinAttrDirectory);
    EXPECT_EQ(WinGetFileAttributes("C:\\Data\\f.txt"), WinInvalidAttributes);

    EXPECT_TRUE(WinForceDirectories("C:\\A\\B\\C"));
    EXPECT_FALSE(WinRemoveDir("C:\\A"));
    EXPECT_TRUE(WinRemoveDir("C:\\A\\B\\C"));
    EXPECT_TRUE(WinRemoveDir("C:\\A\\B"));
    Put("C:\\A\\B", "");
    EXPECT_FALSE(WinForceDirectories("C:\\A\\B\\C"));
    EXPECT_EQ(platform::GetLastError(), ENOTDIR);
}

TEST(WinFileSystem, TemporaryFilesAreUniqueAndKeptOnRequest) {
    TestMachine machine;
    std::string first, second;
    EXPECT_FALSE(WinGetTempFileName("C:\\Temp", "bat", first));
    ASSERT_TRUE(WinForceDirectories("C:\\Temp"));
    ASSERT_TRUE(WinGetTempFileName("C:\\Temp", "bat", first));
    ASSERT_TRUE(WinGetTempFileName("C:\\Temp", "bat", second));
    EXPECT_NE(first, second);
    EXPECT_EQ(first.substr(0, 11), "C:\\Temp\\bat");
    EXPECT_EQ(first.substr(first.size() - 4), ".tmp");
    EXPECT_TRUE(WinFileExists(first));

    std::string kept = GetTempFilePath(true), dropped = GetTempFilePath(false);
    EXPECT_EQ(kept.substr(0, WinTempDir().size() + 4), WinTempDir() + "\\bat");
    EXPECT_TRUE(WinFileExists(kept));
    EXPECT_FALSE(WinFileExists(dropped));
}

TEST(WinMachine, AFreshMachineHasTheFoldersAndShellValuesOfWindowsXp) {
    TestMachine machine;
    std::string path;
    EXPECT_FALSE(WinGetSpecialFolderPath(csidlPrinters, path));
    EXPECT_FALSE(WinGetSpecialFolderPath(csidlBitBucket, path));
    EXPECT_FALSE(WinGetSpecialFolderPath(999, path));
    ASSERT_TRUE(WinGetSpecialFolderPath(csidlCommonPrograms, path));
    EXPECT_EQ(path, "C:\\Documents and Settings\\All Users\\Start Menu\\Programs");
    EXPECT_TRUE(WinDirectoryExists(path));
    ASSERT_TRUE(WinGetSpecialFolderPath(csidlAppData, path));
    EXPECT_EQ(path.substr(0, 26), "C:\\Documents and Settings\\");
    const std::string shellFolders = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    EXPECT_EQ(ReadRegistryString(2, shellFolders, "AppData", ""), path);
    EXPECT_EQ(ReadRegistryString(4, shellFolders, "Common Programs", ""),
              "C:\\Documents and Settings\\All Users\\Start Menu\\Programs");
    EXPECT_EQ(ReadRegistryString(4, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", ""),
              "C:\\Program Files");
    EXPECT_EQ(GetWindowsDir(), "C:\\WINDOWS");
    EXPECT_EQ(GetSystemDir(), "C:\\WINDOWS\\system32");
    machine.SetWindowsVersion("ME");
    EXPECT_EQ(GetSystemDir(), "C:\\WINDOWS\\SYSTEM");
    EXPECT_TRUE(WinDirectoryExists(GetSystemDir()));
}
