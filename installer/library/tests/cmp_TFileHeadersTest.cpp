// The archive's header layout byte by byte, reading header blocks (also inside another file and
// damaged ones), headers filled from files, stored paths and their lookups; the parts of
// Windows-form file names.
#include <gtest/gtest.h>

#include <cstring>

#include "host/StringList.h"
#include "host/Streams.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TFileHeaders.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/tests/support/ArchiveFixture.h"
#include "installer/library/tests/support/PeFixture.h"
#include "installer/library/tests/support/TestMachine.h"

using namespace ostra;
using ostra::test::PutWinFile;
using ostra::test::TestMachine;

namespace {

const char* const kCorrupt =
    "Could not read the file headers for the compressed file. The Archive file could possible be corrupt";

// A header with distinct values in every field.
std::string HandMadeHeader(const std::string& path, int32_t next, const std::string& version = "") {
    test::HeaderFields f;
    f.HeaderIndex = 7;
    f.FileDate = 45000.5;
    f.LastVolume = 2;
    f.LastDataByte = 999;
    f.SourcePath = path;
    f.NextHeader = next;
    f.FileSize = 1234;
    f.DataStart = 181;
    f.CompressedSize = 77;
    f.FirstVolume = 1;
    f.FileID = 42;
    f.FileVersion = version;
    return test::HeaderBytes(f);
}

std::string ArchiveStart(int32_t count, bool multiVolume) { return test::ArchiveStartBytes(count, multiVolume); }

// The message of the EFrnmCompress that reading bytes at offset raises; "" when it reads.
std::string ReadError(const std::string& bytes, int64_t offset = 0) {
    TStringStream stream(bytes);
    TFileHeaders headers;
    try {
        headers.ReadHeaders(stream, offset);
    } catch (const EFrnmCompress& e) {
        EXPECT_EQ(headers.Count(), 0);
        return e.Message();
    }
    return "";
}

}  // namespace

TEST(FileHeaders, EncodingFollowsTheLayout) {
    TFileHeaderRecord r;
    r.HeaderIndex = 7;
    r.FileDate = 45000.5;
    r.LastVolume = 2;
    r.LastDataByte = 999;
    r.SourcePath = "C:\\src\\a.txt";
    r.NextHeader = 5 + 176 * 2;
    r.FileSize = 1234;
    r.DataStart = 181;
    r.CompressedSize = 77;
    r.FirstVolume = 1;
    r.FileID = 42;
    r.FileVersion = "1.2.3.4";
    uint8_t bytes[kFileHeaderSize];
    EncodeFileHeader(r, bytes);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 176), HandMadeHeader(r.SourcePath, r.NextHeader, "1.2.3.4"));

    TFileHeaderRecord back;
    ASSERT_TRUE(DecodeFileHeader(bytes, back));
    EXPECT_EQ(back.SourcePath, r.SourcePath);
    EXPECT_EQ(back.FileVersion, r.FileVersion);
    EXPECT_EQ(back.FileDate, r.FileDate);
    EXPECT_EQ(back.FileID, 42);

    // Texts are cut to their room: 100 characters of a path of 130, 20 of a version of 25.
    r.SourcePath = "C:\\" + std::string(127, 'p');
    r.FileVersion = std::string(25, '9');
    EncodeFileHeader(r, bytes);
    ASSERT_TRUE(DecodeFileHeader(bytes, back));
    EXPECT_EQ(back.SourcePath, r.SourcePath.substr(0, 100));
    EXPECT_EQ(back.FileVersion, std::string(20, '9'));
    EXPECT_EQ(StoredSourcePath(r.SourcePath + ";5"), r.SourcePath.substr(0, 100));
}

TEST(FileHeaders, ReadsTheChainAlsoInsideAnotherFile) {
    // Two single-volume headers with 10 bytes of "stream" after each, the chain followed by
    // NextHeader; the same archive behind 1,000,000 bytes of a loader program.
    std::string archive = ArchiveStart(2, false);
    archive += HandMadeHeader("C:\\a.txt", 5 + 176 + 10) + std::string(10, 'x');
    archive += HandMadeHeader("C:\\b.txt", 5 + 2 * (176 + 10)) + std::string(10, 'y');
    for (int64_t offset : {int64_t{0}, int64_t{1000000}}) {
        TStringStream stream(std::string(static_cast<size_t>(offset), 'L') + archive);
        TFileHeaders headers;
        headers.ReadHeaders(stream, offset);
        ASSERT_EQ(headers.Count(), 2);
        EXPECT_FALSE(headers.MultiVolume());
        EXPECT_TRUE(headers.GetFileHeaders(1).Stored);
        EXPECT_EQ(headers.GetFileHeaders(1).Header.SourcePath, "C:\\b.txt");
        EXPECT_EQ(headers.IndexOfName("c:\\B.TXT;ignored"), 1);
        EXPECT_EQ(headers.IndexOfName("C:\\c.txt"), -1);
    }
    // An empty archive is the count 0 and the flag 0.
    TStringStream empty(ArchiveStart(0, false));
    TFileHeaders headers;
    headers.ReadHeaders(empty, 0);
    EXPECT_EQ(headers.Count(), 0);
    EXPECT_THROW(headers.GetFileHeaders(0), EFrnmCompress);
}

TEST(FileHeaders, DamagedHeaderBlocksAreRefusedWithTheirTexts) {
    const std::string good = HandMadeHeader("C:\\a.txt", 5 + 176);
    std::string longLength = good, zeroInPath = good, backwards = good, blank = HandMadeHeader("   ", 5 + 176);
    longLength[24] = 101;
    zeroInPath[27] = '\0';
    test::PutInt32(backwards, 128, 5);  // would read the same header again and again
    std::string negativeSize = good;
    test::PutInt32(negativeSize, 132, -1);
    // The uninstaller's older 172-byte layout: the same fields without the alignment after
    // HeaderIndex.
    std::string older = good.substr(0, 4) + good.substr(8);

    const struct {
        const char* What;
        std::string Bytes;
        std::string Message;
    } cases[] = {
        {"no count", std::string(3, '\0'), "Could not read the file header count for the compressed file"},
        {"no flag", std::string(4, '\0'), "Could not read the file header count for the compressed file"},
        {"short header", ArchiveStart(1, false) + good.substr(0, 175), kCorrupt},
        {"count beyond the headers", ArchiveStart(3, false) + good, kCorrupt},
        {"huge count", ArchiveStart(0x7FFFFFFF, false) + good, kCorrupt},
        {"negative count", ArchiveStart(-1, false) + good, kCorrupt},
        {"path length beyond 100", ArchiveStart(1, false) + longLength, kCorrupt},
        {"zero byte in the path", ArchiveStart(1, false) + zeroInPath, kCorrupt},
        {"chain going backwards", ArchiveStart(2, false) + backwards + good, kCorrupt},
        {"negative size", ArchiveStart(1, false) + negativeSize, kCorrupt},
        {"blank path", ArchiveStart(1, false) + blank, "Tried to add an invalid file header"},
        {"older layout", ArchiveStart(1, false) + older + std::string(4, '\0'), kCorrupt},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadError(c.Bytes), c.Message) << c.What;
    EXPECT_EQ(ReadError(ArchiveStart(1, false) + good), "");
}

TEST(FileHeaders, AddFilesFillsHeadersFromTheFiles) {
    TestMachine machine;
    ASSERT_TRUE(PutWinFile("C:\\src\\plain.txt", "hello"));
    test::PeVersion version;
    version.FileVersionMS = test::VersionMS(65535, 65535);
    version.FileVersionLS = test::VersionLS(65535, 65535);
    ASSERT_TRUE(PutWinFile("C:\\src\\prog.exe", test::BuildPeFile(version)));
    const TDateTime date = EncodeDate(2004, 2, 29) + EncodeTime(13, 14, 16, 0);
    ASSERT_TRUE(WinSetLastWriteTime("C:\\src\\plain.txt", date));

    TStringList names;
    names.Add("C:\\src\\plain.txt;7");
    names.Add("C:\\src\\prog.exe");
    TFileHeaders headers;
    headers.AddFiles(names, false);
    ASSERT_EQ(headers.Count(), 2);
    const TFileHeader& plain = headers.GetFileHeaders(0);
    EXPECT_FALSE(plain.Stored);
    EXPECT_EQ(plain.Header.HeaderIndex, 1);
    EXPECT_EQ(plain.Header.SourcePath, "C:\\src\\plain.txt");
    EXPECT_EQ(plain.Header.FileSize, 5);
    EXPECT_DOUBLE_EQ(plain.Header.FileDate, date);
    EXPECT_EQ(plain.Header.FileVersion, "");
    // "65535.65535.65535.65535" has 23 characters; the header keeps 20.
    EXPECT_EQ(headers.GetFileHeaders(1).Header.HeaderIndex, 2);
    EXPECT_EQ(headers.GetFileHeaders(1).Header.FileVersion, "65535.65535.65535.65");

    // Kept: the next batch counts from 1 again.
    TStringList more;
    more.Add("C:\\src\\PROG.EXE");
    try {
        headers.AddFiles(more, true);
        FAIL() << "a second file stored as the same path was added";
    } catch (const EFrnmCompress& e) {
        EXPECT_NE(e.Message().find("already holds a file stored as C:\\src\\prog.exe"), std::string::npos);
    }
    EXPECT_EQ(headers.Count(), 2);

    more.Clear();
    more.Add("C:\\src\\missing.txt");
    try {
        headers.AddFiles(more, true);
        FAIL();
    } catch (const EFrnmCompress& e) {
        EXPECT_EQ(e.Message(), "Cannot open the file C:\\src\\missing.txt");
    }
    more.Clear();
    more.Add(" ;1");
    EXPECT_THROW(headers.AddFiles(more, true), EFrnmCompress);
    EXPECT_EQ(headers.Count(), 2);
}

TEST(FileHeaders, LongPathsAreLookedUpAsTheyAreStored) {
    // Two paths alike in their first 100 characters would be one stored path: the second is refused,
    // and the lookup of a long path finds the file stored under its first 100 characters.
    TestMachine machine;
    const std::string folder = "C:\\" + std::string(90, 'd') + "\\";
    ASSERT_TRUE(PutWinFile(folder + "first-long-name.txt", "1"));
    ASSERT_TRUE(PutWinFile(folder + "first-long-other.txt", "2"));
    TStringList names;
    names.Add(folder + "first-long-name.txt");
    TFileHeaders headers;
    headers.AddFiles(names, false);
    EXPECT_EQ(headers.GetFileHeaders(0).Header.SourcePath.size(), 100u);
    EXPECT_EQ(headers.GetFileHeaders(0).SourceFile, folder + "first-long-name.txt");
    EXPECT_EQ(headers.IndexOfName(folder + "first-long-name.txt"), 0);
    names.Clear();
    names.Add(folder + "first-long-other.txt");
    EXPECT_THROW(headers.AddFiles(names, true), EFrnmCompress);
}

TEST(WinFileNames, PartsOfWindowsFormNames) {
    const struct {
        const char* Name;
        const char* Path;
        const char* Dir;
        const char* File;
        const char* Ext;
    } cases[] = {
        {"C:\\a\\b.txt", "C:\\a\\", "C:\\a", "b.txt", ".txt"},
        {"C:\\b.txt", "C:\\", "C:\\", "b.txt", ".txt"},
        {"C:b", "C:", "C:", "b", ""},
        {"files.1", "", "", "files.1", ".1"},
        {"C:\\a.d\\b", "C:\\a.d\\", "C:\\a.d", "b", ""},
        {"\\b.x", "\\", "\\", "b.x", ".x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractFilePath(c.Name), c.Path) << c.Name;
        EXPECT_EQ(ExtractFileDir(c.Name), c.Dir) << c.Name;
        EXPECT_EQ(ExtractFileName(c.Name), c.File) << c.Name;
        EXPECT_EQ(ExtractFileExt(c.Name), c.Ext) << c.Name;
    }
    EXPECT_EQ(ChangeFileExt("A:\\files.1", ".12"), "A:\\files.12");
    EXPECT_EQ(ChangeFileExt("C:\\a.d\\b", ".1"), "C:\\a.d\\b.1");
}
