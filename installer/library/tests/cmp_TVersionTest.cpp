// The version resource reader on PE files written by the tests: the fixed information and its
// texts, string tables by language and code page, 32- and 64-bit files, damaged files; version
// comparison; the overwrite decisions; the self-registration flag.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <random>

#include "host/DateTime.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TVersion.h"
#include "installer/library/routines_ActiveX.h"
#include "installer/library/tests/support/PeFixture.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/File.h"

using namespace ostra;
using ostra::test::BuildPeFile;
using ostra::test::PeVersion;
using ostra::test::PutWinFile;
using ostra::test::TestMachine;
using ostra::test::VersionLS;
using ostra::test::VersionMS;

namespace {

PeVersion Win2000Dll() {
    PeVersion v;
    v.FileVersionMS = VersionMS(5, 0);
    v.FileVersionLS = VersionLS(2195, 1);
    v.ProductVersionMS = VersionMS(5, 0);
    v.ProductVersionLS = VersionLS(2195, 0);
    v.FileOS = 0x40004;
    v.FileType = 2;
    v.StringTables = {{"040904E4",
                       {{"Comments", "A comment"},
                        {"CompanyName", "Veltra Software"},
                        {"FileDescription", "Engine"},
                        {"InternalName", "orq14rd6"},
                        {"LegalCopyright", "(c) Veltra"},
                        {"LegalTrademarks", "Ostra\xAE"},
                        {"OriginalFilename", "orq14rd6.bpl"},
                        {"ProductName", "Ostra Database Engine"},
                        {"ProductVersion", "1.43"}}},
                      {"040704E4", {{"CompanyName", "Veltra GmbH"}}}};
    v.Translations = {0x04E40409};
    return v;
}

// Sets a file's last-write time to a fixed moment plus seconds.
void Touch(const std::string& path, int seconds) {
    struct timespec times[2] = {{1700000000 + seconds, 0}, {1700000000 + seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, WinToNative(path).c_str(), times, 0), 0);
}

}  // namespace

TEST(VersionResource, ReadsTheFixedInformationAndTheStringTable) {
    TestMachine machine;
    ASSERT_TRUE(PutWinFile("C:\\Bin\\orq14rd6.bpl", BuildPeFile(Win2000Dll())));
    TVersionResource reader(nullptr);
    EXPECT_EQ(reader.FileName(), OwnProgramFile());
    EXPECT_FALSE(reader.FileNameStored());
    EXPECT_EQ(reader.VersionInfo()->FileVersion, "");  // the host's own programs have none
    reader.SetFileName("c:\\bin\\ORQ14RD6.BPL");
    EXPECT_TRUE(reader.FileNameStored());
    const TVersionInfo& info = *reader.VersionInfo();
    EXPECT_EQ(info.FileVersion, "5.0.2195.1");
    EXPECT_EQ(info.ProductVersion, "1.43");  // the string table replaces the numeric one
    EXPECT_EQ(info.FileOS, "Windows NT with 32 bit Windows");
    EXPECT_EQ(info.FileType, "Dynamic-Link Library");
    EXPECT_EQ(info.FileSubType, "");
    EXPECT_EQ(info.Comment, "A comment");
    EXPECT_EQ(info.CompanyName, "Veltra Software");
    EXPECT_EQ(info.LegalTradeMarks, "Ostra\xAE");
    EXPECT_EQ(info.OriginalFileName, "orq14rd6.bpl");
    EXPECT_EQ(info.PrivateBuild, "");

    reader.SetLanguage(lnGerman);
    EXPECT_EQ(info.CompanyName, "Veltra GmbH");
    EXPECT_EQ(info.ProductName, "");
    EXPECT_EQ(info.ProductVersion, "5.0.2195.0");
    // A table stored under code page 1200 is not found with the defaults; the version still is.
    reader.SetLanguage(lnUSEnglish);
    reader.SetCharacterSet(csUnicode);
    EXPECT_EQ(info.CompanyName, "");
    EXPECT_EQ(info.FileVersion, "5.0.2195.1");
}

TEST(VersionResource, TypesAndSubtypesAnd64BitFiles) {
    TestMachine machine;
    struct Case {
        uint32_t OS, Type, Subtype;
        const char *OSText, *TypeText, *SubtypeText;
    };
    const Case cases[] = {
        {0x4, 3, 9, "32 bit Windows", "Device Driver", "Sound"},
        {0x10000, 4, 3, "MS-Dos", "Font", "TrueType"},
        {0x30003, 4, 7, "32 bit OS/2 with Presentation Manager", "Font", "Unknown"},
        {0x99, 7, 2, "Unknown", "Static-Link Library", ""},
        {0x40000, 6, 1, "Windows NT", "Unknown", ""},
    };
    TVersionResource reader(nullptr);
    for (const Case& c : cases) {
        PeVersion v;
        v.FileVersionMS = VersionMS(1, 2);
        v.FileOS = c.OS;
        v.FileType = c.Type;
        v.FileSubtype = c.Subtype;
        v.SixtyFourBit = c.Type == 3;
        ASSERT_TRUE(PutWinFile("C:\\f.dll", BuildPeFile(v)));
        reader.SetFileName("C:\\f.dll");
        EXPECT_EQ(reader.VersionInfo()->FileVersion, "1.2.0.0");
        EXPECT_EQ(reader.VersionInfo()->FileOS, c.OSText);
        EXPECT_EQ(reader.VersionInfo()->FileType, c.TypeText);
        EXPECT_EQ(reader.VersionInfo()->FileSubType, c.SubtypeText);
    }
    ASSERT_TRUE(PutWinFile("C:\\plain.dll", ostra::test::BuildPeFileWithoutResources()));
    reader.SetFileName("C:\\plain.dll");
    EXPECT_EQ(reader.VersionInfo()->FileVersion, "");
    reader.SetFileName("C:\\missing.dll");
    EXPECT_EQ(reader.VersionInfo()->FileType, "");
}

TEST(VersionResource, DamagedFilesGiveEmptyValuesAndNeverReadOutside) {
    TestMachine machine;
    const std::string good = BuildPeFile(Win2000Dll());
    std::mt19937 random(4711);
    TVersionResource reader(nullptr);
    for (int round = 0; round < 400; ++round) {
        std::string damaged = good;
        if (round % 3 == 0) {
            damaged.resize(random() % good.size());
        } else {
            for (int n = 1 + random() % 8; n > 0; --n) damaged[random() % damaged.size()] = static_cast<char>(random());
        }
        ASSERT_TRUE(PutWinFile("C:\\damaged.dll", damaged));
        reader.SetFileName("C:\\damaged.dll");
        // Whatever was read stays consistent: a file version only with the fixed information.
        const TVersionInfo& info = *reader.VersionInfo();
        if (info.FileVersion.empty()) {
            EXPECT_EQ(info.FileType, "");
        }
    }
}

TEST(CompareVersions, PartsFromTheLeft) {
    struct Case {
        const char *A, *B;
        int Result;
    };
    const Case cases[] = {
        {"1.0", "1.0", 0},   {"", "", 0},         {"1.0", "1.0.0", 2}, {"1.10", "1.9", 1}, {"2.0", "10.0", 2},
        {"1.0a", "1.0b", 2}, {"1.x", "1.10", 1},  {"5.0.2195.1", "5.0.2195.0", 1}, {"", "1", 2}, {"1", "", 1},
        {"1.B", "1.a", 2},
    };
    for (const Case& c : cases) EXPECT_EQ(CompareVersions(c.A, c.B), c.Result) << c.A << " / " << c.B;
}

TEST(OverwriteDecisions, ByVersionDateAndMode) {
    TestMachine machine;
    PeVersion ten;
    ten.FileVersionMS = VersionMS(10, 0);
    ASSERT_TRUE(PutWinFile("C:\\App\\lib.dll", BuildPeFile(ten)));
    ASSERT_TRUE(PutWinFile("C:\\App\\plain.txt", "no version"));
    ASSERT_TRUE(PutWinFile("C:\\New\\plain.txt", "no version either"));
    const TDateTime epochDay = 25569.0;
    struct Case {
        std::string NewVersion, Existing;
        TOverwriteType Mode;
        int Result;
    };
    const Case cases[] = {
        {"2.0", "C:\\App\\lib.dll", owVersion, 3},
        {"10.0.0.0", "C:\\App\\lib.dll", owVersion, 1},
        {"10.0.0.1", "C:\\App\\lib.dll", owVersion, 2},
        {"", "C:\\App\\plain.txt", owVersion, 1},
        {"1.0", "C:\\App\\plain.txt", owVersion, 2},
        {"", "C:\\App\\missing.dll", owDate, 0},
        {"", "   ", owNever, 2},
        {"", "C:\\App\\missing.dll", owNever, 2},
        {"", "C:\\App\\lib.dll", owNever, 3},
        {"", "C:\\App\\lib.dll", owAlways, 2},
        {"", "C:\\App\\missing.dll", owAsk, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsFileNewerByInfo(c.NewVersion, c.Existing, c.Mode, epochDay), c.Result) << c.NewVersion << " " << c.Existing;
    // The shared instance is left at the existing file of the last version comparison.
    EXPECT_EQ(SharedVersionResource().FileName(), "C:\\App\\plain.txt");

    // Dates, to the two seconds that file stamps keep.
    Touch("C:\\App\\plain.txt", 0);
    TDateTime existing;
    ASSERT_TRUE(WinGetLastWriteTime("C:\\App\\plain.txt", existing));
    EXPECT_EQ(IsFileNewerByInfo("", "C:\\App\\plain.txt", owDate, existing + 1.0 / SecsPerDay), 1);
    EXPECT_EQ(IsFileNewerByInfo("", "C:\\App\\plain.txt", owDate, existing + 10.0 / SecsPerDay), 2);
    EXPECT_EQ(IsFileNewerByInfo("", "C:\\App\\plain.txt", owDate, existing - 10.0 / SecsPerDay), 3);
    EXPECT_EQ(IsFileNewerByInfo("", "C:\\App\\plain.txt", owVersionDate, existing + 10.0 / SecsPerDay), 2);
    Touch("C:\\New\\plain.txt", 60);
    EXPECT_EQ(TVersionResource::IsFileNewerByName("C:\\New\\plain.txt", "C:\\App\\plain.txt", owDate), 2);
    EXPECT_EQ(TVersionResource::IsFileNewerByName("C:\\App\\plain.txt", "C:\\New\\plain.txt", owVersionDate), 3);
    EXPECT_EQ(TVersionResource::IsFileNewerByName("C:\\App\\lib.dll", "C:\\App\\plain.txt", owVersion), 2);

    // A file that another handle keeps to itself cannot be opened: no decision.
    platform::File exclusive;
    ASSERT_TRUE(exclusive.Open(WinToNative("C:\\App\\plain.txt"), platform::FileAccess::Read, platform::FileShare::Exclusive,
                               platform::FileCreate::OpenExisting));
    EXPECT_EQ(TVersionResource::IsFileNewerByName("C:\\New\\plain.txt", "C:\\App\\plain.txt", owDate), 0);
}

TEST(SelfRegistering, FollowsTheFirstTranslation) {
    TestMachine machine;
    PeVersion v;
    v.StringTables = {{"040904E4", {{"OLESelfRegister", ""}}}};
    v.Translations = {0x04E40409, 0x04B00407};
    ASSERT_TRUE(PutWinFile("C:\\a.ocx", BuildPeFile(v)));
    EXPECT_TRUE(FileIsSelfRegistering("C:\\a.ocx"));
    v.Translations = {0x04B00407, 0x04E40409};
    ASSERT_TRUE(PutWinFile("C:\\b.ocx", BuildPeFile(v)));
    EXPECT_FALSE(FileIsSelfRegistering("C:\\b.ocx"));
    v.Translations.clear();
    ASSERT_TRUE(PutWinFile("C:\\c.ocx", BuildPeFile(v)));
    EXPECT_FALSE(FileIsSelfRegistering("C:\\c.ocx"));
    EXPECT_FALSE(FileIsSelfRegistering("C:\\missing.ocx"));
}
