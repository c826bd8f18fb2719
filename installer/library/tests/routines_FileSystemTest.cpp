// File attributes as the install file's set, and the nearest existing folder.
#include <gtest/gtest.h>

#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_FileSystem.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/File.h"

using namespace ostra;
using ostra::test::TestMachine;
using ostra::test::WriteAll;

TEST(FileRoutines, AttributesAsASet) {
    TestMachine machine;
    ASSERT_TRUE(WinForceDirectories("C:\\App"));
    WriteAll(WinToNative("C:\\App\\f.txt"), "x");
    SetFileAttributesFromSet("C:\\App\\f.txt", {ffaReadOnly, ffaHidden, ffaCompressed});
    TFrnmFileAttributesSet set{ffaArchive};
    GetFileAttributesSet("C:\\App\\f.txt", set);
    EXPECT_EQ(set, TFrnmFileAttributesSet{ffaReadOnly});
    SetFileAttributesFromSet("C:\\App\\f.txt", {ffaNormal});
    GetFileAttributesSet("C:\\App\\f.txt", set);
    EXPECT_TRUE(set.Empty());

    // A file that cannot be opened without sharing leaves the set as it was.
    platform::File holder;
    ASSERT_TRUE(holder.Open(WinToNative("C:\\App\\f.txt"), platform::FileAccess::Read, platform::FileShare::DenyNone,
                            platform::FileCreate::OpenExisting));
    set = {ffaSystem};
    GetFileAttributesSet("C:\\App\\f.txt", set);
    EXPECT_EQ(set, TFrnmFileAttributesSet{ffaSystem});
    GetFileAttributesSet("C:\\App\\missing.txt", set);
    EXPECT_EQ(set, TFrnmFileAttributesSet{ffaSystem});

    try {
        SetFileAttributesFromSet("C:\\App\\missing.txt", {ffaReadOnly});
        ADD_FAILURE();
    } catch (const IEfcSetAttributes& e) {
        EXPECT_EQ(e.Message(), "Cannot set file attributes. Error : No such file or directory");
    }
}

TEST(FileRoutines, NearestExistingFolder) {
    TestMachine machine;
    ASSERT_TRUE(WinForceDirectories("C:\\Program Files\\Ostra"));
    EXPECT_EQ(NearestExistingFolder("C:\\Program Files\\Ostra"), "C:\\Program Files\\Ostra");
    EXPECT_EQ(NearestExistingFolder("C:\\Program Files\\Ostra\\New\\Deeper"), "C:\\Program Files\\Ostra");
    EXPECT_EQ(NearestExistingFolder("C:\\Nothing"), "C:");
    EXPECT_EQ(NearestExistingFolder("   "), "");
    EXPECT_EQ(NearestExistingFolder(""), "");
    EXPECT_EQ(NearestExistingFolder("Q:\\x"), "");
}
