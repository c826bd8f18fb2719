// The archive component on real files of a test machine: the byte-exact archive of one file,
// appending, identifiers, listing and progress; volumes split at every byte and extracted
// byte-identical, missing disks; damaged archives (chosen damage and random damage); aborts, full
// disks and overwrite decisions that leave targets whole; plain copies.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <random>

#include "host/StringList.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TFrnmCompress.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/tests/support/ArchiveFixture.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/FileFault.h"
#include "testsupport/TestFiles.h"

using namespace ostra;
using ostra::test::PutWinFile;
using ostra::test::TestMachine;

namespace {

std::string ReadWin(const std::string& path) { return test::ReadAll(WinToNative(path)); }

// Bytes that zlib cannot shrink.
std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

// Runs an operation on names; the component's list is emptied by every operation.
void SetNames(TFrnmCompress& archive, std::initializer_list<std::string> names) {
    TStringList list;
    for (const std::string& name : names) list.Add(name);
    archive.SetFilesToProcess(list);
}

void CompressFiles(const std::string& archivePath, std::initializer_list<std::string> names, bool append = false,
                   int id = 0) {
    TFrnmCompress archive(nullptr);
    archive.SetCompressedFile(archivePath);
    SetNames(archive, names);
    archive.Compress(append, id);
}

// The message of the exception an action raises; "" when it raises none.
template <class F>
std::string ErrorOf(F action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

// The files of a folder (Windows form), by name.
std::map<std::string, std::string> FolderFiles(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const std::string& name : WinFolderEntries(folder)) files[name] = ReadWin(folder + "\\" + name);
    return files;
}

// Disks of limited size: writes to files whose native path contains part stop at capacity.
class SmallDisks : public platform::FileFaultInjector {
public:
    SmallDisks(std::string part, std::function<int64_t(const std::string&)> capacity)
        : FPart(std::move(part)), FCapacity(std::move(capacity)) {}
    platform::FileFault Decide(platform::FileOp op, const std::string& path, int64_t position, int64_t count) override {
        if (op != platform::FileOp::Write || path.find(FPart) == std::string::npos) return {};
        int64_t capacity = FCapacity(path);
        if (position + count <= capacity) return {};
        return {ENOSPC, std::max<int64_t>(0, capacity - position)};
    }

private:
    std::string FPart;
    std::function<int64_t(const std::string&)> FCapacity;
};

}  // namespace

TEST(FrnmCompress, OneFileArchiveIsByteExact) {
    TestMachine machine;
    ASSERT_TRUE(PutWinFile("C:\\src\\hello.txt", "hello"));
    const TDateTime date = EncodeDate(2003, 7, 14) + EncodeTime(9, 30, 12, 0);
    ASSERT_TRUE(WinSetLastWriteTime("C:\\src\\hello.txt", date));
    CompressFiles("C:\\build\\files.1", {"C:\\src\\hello.txt"}, false, 3);

    test::HeaderFields h;
    h.HeaderIndex = 1;
    h.FileDate = date;
    h.LastDataByte = 193;
    h.SourcePath = "C:\\src\\hello.txt";
    h.NextHeader = 194;
    h.FileSize = 5;
    h.DataStart = 181;
    h.CompressedSize = 13;
    h.FileID = 3;
    const std::string stream("\x78\xDA\xCB\x48\xCD\xC9\xC9\x07\x00\x06\x2C\x02\x15", 13);
    const std::string expected = test::ArchiveStartBytes(1, false) + test::HeaderBytes(h) + stream;
    ASSERT_EQ(expected.size(), 194u);
    EXPECT_EQ(ReadWin("C:\\build\\files.1"), expected);

    // The same archive behind a loader program, read at its offset.
    ASSERT_TRUE(PutWinFile("C:\\build\\setup.exe", std::string(1000, 'L') + expected));
    TFrnmCompress archive(nullptr);
    archive.SetCompressedFile("C:\\build\\setup.exe");
    archive.SetOffset(1000);
    archive.SetExtractDirectory("C:\\out");
    SetNames(archive, {"c:\\SRC\\hello.txt"});
    archive.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\hello.txt"), "hello");
    TDateTime restored;
    ASSERT_TRUE(WinGetLastWriteTime("C:\\out\\hello.txt", restored));
    EXPECT_DOUBLE_EQ(restored, date);
    EXPECT_EQ(archive.FilesToProcess()->Count(), 0);
    EXPECT_EQ(FolderFiles("C:\\out").size(), 1u);  // no temporary file left behind
}

TEST(FrnmCompress, AppendingIdentifiersListingAndProgress) {
    TestMachine machine;
    for (const char* name : {"a", "b", "c", "d", "e"})
        ASSERT_TRUE(PutWinFile(std::string("C:\\src\\") + name + ".txt", std::string(3000, name[0]) + name));
    // Append onto a missing archive makes a new one.
    CompressFiles("C:\\arc\\files.1", {"C:\\src\\a.txt", "C:\\src\\b.txt", "C:\\src\\c.txt"}, true, 10);
    CompressFiles("C:\\arc\\files.1", {"C:\\src\\d.txt", "C:\\src\\e.txt"}, true, 11);

    TFrnmCompress archive(nullptr);
    archive.SetCompressedFile("C:\\arc\\files.1");
    ASSERT_EQ(archive.GetFileCount(), 5);
    const int expectedIndex[] = {1, 2, 3, 1, 2};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(archive.GetFileStats(i).Header.HeaderIndex, expectedIndex[i]);
    // A later duplicate identifier wins; unknown and out-of-range identifiers find nothing.
    EXPECT_EQ(archive.IndexOfID(10), 2);
    EXPECT_EQ(archive.IndexOfID(11), 4);
    for (int id : {0, 2000, -1}) EXPECT_EQ(archive.IndexOfID(id), -1) << id;
    EXPECT_EQ(ErrorOf([&] { archive.GetFileStats(5); }), "Tried to access the 5th file. This file is not defined");

    TlzhFileStats stats = archive.GetFileStats(1);
    EXPECT_EQ(stats.FileName, "C:\\src\\b.txt");
    EXPECT_EQ(stats.Size, 3001);
    EXPECT_EQ(stats.TotalSize, 5 * 3001);
    EXPECT_EQ(stats.Ratio, static_cast<uint8_t>(std::nearbyint(100.0 * stats.Compressed / 3001)));
    std::vector<std::string> listed;
    archive.OnListing = [&](TFrnmCompress*, const TlzhFileStats& s) { listed.push_back(s.FileName); };
    archive.ListFiles();
    EXPECT_EQ(listed.size(), 5u);

    // Extraction reports progress per buffer and ends each file at 100 percent.
    archive.SetExtractDirectory("C:\\out");
    SetNames(archive, {"C:\\src\\e.txt", "C:\\src\\a.txt"});
    std::vector<TlzhFileStats> events;
    archive.OnStatus = [&](TFrnmCompress*, const TlzhFileStats& s) { events.push_back(s); };
    archive.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\e.txt"), std::string(3000, 'e') + "e");
    EXPECT_EQ(ReadWin("C:\\out\\a.txt"), std::string(3000, 'a') + "a");
    ASSERT_FALSE(events.empty());
    EXPECT_TRUE(events.back().Done);
    EXPECT_EQ(events.back().Percent, 100);
    EXPECT_EQ(events.back().TotalBytesDone, 2 * 3001);
    EXPECT_EQ(events.back().TotalPercent, 40);

    EXPECT_EQ(ErrorOf([&] {
                  SetNames(archive, {"C:\\src\\zz.txt"});
                  archive.Extract();
              }),
              "The file <C:\\src\\zz.txt> was not found in the archive <C:\\arc\\files.1>");
    EXPECT_TRUE(archive.Abort());

    // Another volume of the same set keeps the loaded headers; another archive loads its own.
    archive.SetCompressedFile("C:\\ARC\\files.2");
    EXPECT_EQ(archive.GetFileCount(), 5);
    archive.SetCompressedFile("C:\\other\\files.1");
    EXPECT_EQ(ErrorOf([&] { archive.GetFileCount(); }), "Cannot open the compressed file C:\\other\\files.1");
}

TEST(FrnmCompress, BuildRefusesWhatCouldNotBeFoundAgain) {
    TestMachine machine;
    const std::string folder = "C:\\" + std::string(95, 'd') + "\\";
    ASSERT_TRUE(PutWinFile(folder + "one.txt", "1"));
    ASSERT_TRUE(PutWinFile(folder + "one.dat", "2"));
    CompressFiles("C:\\arc\\files.1", {folder + "one.txt"});
    // A second file stored under the same first 100 characters, and a missing source.
    EXPECT_NE(ErrorOf([&] { CompressFiles("C:\\arc\\files.1", {folder + "one.dat"}, true); })
                  .find("already holds a file stored as"),
              std::string::npos);
    EXPECT_EQ(ErrorOf([&] { CompressFiles("C:\\arc\\files.1", {"C:\\src\\none.txt"}, true); }),
              "Cannot open the file C:\\src\\none.txt");
    // The long path is found by its full name and extracted as the file it is.
    TFrnmCompress archive(nullptr);
    archive.SetCompressedFile("C:\\arc\\files.1");
    ASSERT_EQ(archive.GetFileCount(), 1);
    archive.SetExtractDirectory("C:\\out");
    archive.SetExtractName("one.txt");
    SetNames(archive, {folder + "one.txt"});
    archive.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\one.txt"), "1");
}

TEST(FrnmCompress, VolumesSplitAtEveryByteExtractByteIdentical) {
    TestMachine machine;
    const std::map<std::string, std::string> contents = {
        {"a.txt", "Small text that repeats, repeats, repeats."}, {"empty.txt", ""}, {"b.bin", RandomBytes(70, 1)}};
    for (const auto& [name, bytes] : contents) ASSERT_TRUE(PutWinFile("C:\\src\\" + name, bytes));
    CompressFiles("C:\\arc\\files.1", {"C:\\src\\a.txt", "C:\\src\\empty.txt", "C:\\src\\b.bin"});
    const int64_t headerBlock = 5 + 3 * 176;
    const int64_t dataBytes = static_cast<int64_t>(ReadWin("C:\\arc\\files.1").size()) - headerBlock;

    // Volume 1 ends at every byte of the streams in turn; the rest goes to volume 2.
    for (int64_t capacity = headerBlock; capacity <= headerBlock + dataBytes; ++capacity) {
        SCOPED_TRACE(capacity);
        const std::string disks = "C:\\disks" + std::to_string(capacity);
        SmallDisks small("disks" + std::to_string(capacity) + "/one/",
                         [&](const std::string&) { return capacity; });
        const bool split = capacity < headerBlock + dataBytes;
        {
            platform::ScopedFileFaultInjector inject(small);
            TFrnmCompress copier(nullptr);
            copier.SetCompressedFile("C:\\arc\\files.1");
            // The second disk, then the first again for the final header block.
            std::vector<int> disksAsked;
            copier.OnNewDisk = [&](TFrnmCompress*, int disk, std::string& path) {
                disksAsked.push_back(disk);
                path = disks + (disk == 1 ? "\\one" : "\\two");
            };
            copier.CopyToVolumes(disks + "\\one", "files.1");
            EXPECT_EQ(disksAsked, split ? (std::vector<int> {2, 1}) : (std::vector<int> {}));
        }
        EXPECT_EQ(WinFileExists(disks + "\\two\\files.2"), split);

        TFrnmCompress reader(nullptr);
        reader.SetCompressedFile(disks + "\\one\\files.1");
        reader.SetExtractDirectory(disks + "\\out");
        std::vector<int> asked;
        reader.OnNewDisk = [&](TFrnmCompress*, int disk, std::string& path) {
            asked.push_back(disk);
            path = disks + "\\two";
        };
        SetNames(reader, {"C:\\src\\a.txt", "C:\\src\\empty.txt", "C:\\src\\b.bin"});
        reader.Extract();
        EXPECT_EQ(FolderFiles(disks + "\\out"), contents);
        EXPECT_EQ(asked, split ? (std::vector<int> {2}) : (std::vector<int> {}));
    }
}

TEST(FrnmCompress, FloppyCopyOfTwoAndAHalfDisksAndItsMissingDisks) {
    TestMachine machine;
    ASSERT_TRUE(PutWinFile("C:\\src\\big.bin", RandomBytes(24000, 2)));
    ASSERT_TRUE(PutWinFile("C:\\src\\small.txt", "after the big one"));
    CompressFiles("C:\\arc\\files.1", {"C:\\src\\big.bin", "C:\\src\\small.txt"});
    const int64_t capacity = 10000;
    SmallDisks floppies("/floppy", [&](const std::string&) { return capacity; });
    std::vector<int> disksAsked;
    {
        platform::ScopedFileFaultInjector inject(floppies);
        TFrnmCompress copier(nullptr);
        copier.SetCompressedFile("C:\\arc\\files.1");
        copier.OnNewDisk = [&](TFrnmCompress*, int disk, std::string& path) {
            disksAsked.push_back(disk);
            path = "C:\\floppy" + std::to_string(disk);
        };
        copier.CopyToVolumes("C:\\floppy1", "files.1");
    }
    // Disk 1 comes back at the end for the header block with the final positions.
    EXPECT_EQ(disksAsked, (std::vector<int> {2, 3, 1}));
    EXPECT_TRUE(WinFileExists("C:\\floppy3\\files.3"));
    EXPECT_FALSE(WinFileExists("C:\\floppy4\\files.4"));
    // The header block stands on the first disk: count 2, flag 1, the headers back to back.
    const std::string first = ReadWin("C:\\floppy1\\files.1");
    EXPECT_EQ(first.substr(0, 5), test::ArchiveStartBytes(2, true));
    TFrnmCompress reader(nullptr);
    reader.SetCompressedFile("C:\\floppy1\\files.1");
    ASSERT_EQ(reader.GetFileCount(), 2);
    const TFileHeaderRecord big = reader.GetFileStats(0).Header, small = reader.GetFileStats(1).Header;
    EXPECT_EQ(big.NextHeader, 5 + 176);
    EXPECT_EQ(big.FirstVolume, 1);
    EXPECT_EQ(big.LastVolume, 3);
    EXPECT_EQ(small.FirstVolume, 3);

    // Extraction asks for each missing disk.
    reader.SetExtractDirectory("C:\\out");
    std::vector<int> asked;
    reader.OnNewDisk = [&](TFrnmCompress*, int disk, std::string& path) {
        asked.push_back(disk);
        path = "C:\\floppy" + std::to_string(disk);
    };
    SetNames(reader, {"C:\\src\\small.txt", "C:\\src\\big.bin"});
    reader.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\big.bin"), ReadWin("C:\\src\\big.bin"));
    EXPECT_EQ(ReadWin("C:\\out\\small.txt"), "after the big one");
    EXPECT_EQ(asked, (std::vector<int> {3, 1, 2, 3}));

    // A disk that never comes: four unanswered requests; no handler at all: the disk's number.
    TFrnmCompress lost(nullptr);
    lost.SetCompressedFile("C:\\floppy1\\files.1");
    lost.SetExtractDirectory("C:\\lost");
    int requests = 0;
    lost.OnNewDisk = [&](TFrnmCompress*, int, std::string&) { ++requests; };
    SetNames(lost, {"C:\\src\\small.txt"});
    EXPECT_EQ(ErrorOf([&] { lost.Extract(); }), "Cannot open the compressed file C:\\floppy1\\files.3");
    EXPECT_EQ(requests, 4);
    lost.OnNewDisk = nullptr;
    SetNames(lost, {"C:\\src\\small.txt"});
    EXPECT_EQ(ErrorOf([&] { lost.Extract(); }), "Could not open the correct disk file 3");
    EXPECT_FALSE(WinDirectoryExists("C:\\lost") && !WinFolderEntries("C:\\lost").empty());

    // Volumes cannot be copied on without a handler, and a multi-volume archive takes no more
    // files.
    SmallDisks tiny("/tiny", [&](const std::string&) { return 600; });
    {
        platform::ScopedFileFaultInjector inject(tiny);
        TFrnmCompress copier(nullptr);
        copier.SetCompressedFile("C:\\arc\\files.1");
        EXPECT_EQ(ErrorOf([&] { copier.CopyToVolumes("C:\\tiny", "files.1"); }),
                  "There was no event handler for the OnNewDisk event, therefore no new disk could be inserted");
        copier.OnNewDisk = [&](TFrnmCompress*, int, std::string& path) { path = "C:\\tiny2"; };
        EXPECT_EQ(ErrorOf([&] { copier.CopyToVolumes("C:\\tiny", "files.1"); }),
                  "There is too little space on this disk to operate");
    }
    EXPECT_NE(ErrorOf([&] { CompressFiles("C:\\floppy1\\files.1", {"C:\\src\\small.txt"}, true); })
                  .find("multi-volume"),
              std::string::npos);
}

TEST(FrnmCompress, DamagedArchivesGiveTheirTextsAndLeaveNoTarget) {
    TestMachine machine;
    ASSERT_TRUE(PutWinFile("C:\\src\\text.txt", std::string(2000, 't') + "end"));
    CompressFiles("C:\\arc\\files.1", {"C:\\src\\text.txt"});
    const std::string good = ReadWin("C:\\arc\\files.1");
    const size_t streamStart = 5 + 176;

    auto extract = [&](const std::string& bytes) {
        EXPECT_TRUE(PutWinFile("C:\\bad\\files.1", bytes));
        TFrnmCompress archive(nullptr);
        archive.SetCompressedFile("C:\\bad\\files.1");
        archive.SetExtractDirectory("C:\\out");
        SetNames(archive, {"C:\\src\\text.txt"});
        std::string error = ErrorOf([&] { archive.Extract(); });
        EXPECT_TRUE(error.empty() || archive.Abort());
        return error;
    };
    std::string truncated = good.substr(0, good.size() - 3);
    std::string flipped = good;
    flipped[streamStart + 4] ^= 0x40;
    std::string shortSize = good, longSize = good, headerGone = good.substr(0, 100);
    test::PutInt32(shortSize, 5 + 132, 2002);
    test::PutInt32(longSize, 5 + 132, 2004);
    const char* const sizeText =
        "The decompressed file's size does not match with the actual size of the file.  The file is C:\\src\\text.txt";
    EXPECT_EQ(extract(truncated), "error");
    EXPECT_EQ(extract(flipped), "error");
    EXPECT_EQ(extract(shortSize), sizeText);
    EXPECT_EQ(extract(longSize), sizeText);
    EXPECT_EQ(extract(headerGone),
              "Could not read the file headers for the compressed file. The Archive file could possible be corrupt");
    EXPECT_FALSE(WinDirectoryExists("C:\\out") && !WinFolderEntries("C:\\out").empty());
    EXPECT_EQ(extract(good), "");
    EXPECT_EQ(ReadWin("C:\\out\\text.txt"), std::string(2000, 't') + "end");
}

TEST(FrnmCompress, RandomDamageNeverCrashesOrLeavesPartialFiles) {
    TestMachine machine;
    ASSERT_TRUE(PutWinFile("C:\\src\\one.txt", std::string(5000, 'x') + "one"));
    ASSERT_TRUE(PutWinFile("C:\\src\\two.bin", RandomBytes(3000, 3)));
    ASSERT_TRUE(PutWinFile("C:\\src\\three.txt", "three"));
    CompressFiles("C:\\arc\\files.1", {"C:\\src\\one.txt", "C:\\src\\two.bin", "C:\\src\\three.txt"});
    const std::string good = ReadWin("C:\\arc\\files.1");
    const std::map<std::string, std::string> originals = {{"one.txt", ReadWin("C:\\src\\one.txt")},
                                                          {"two.bin", ReadWin("C:\\src\\two.bin")},
                                                          {"three.txt", "three"}};
    // The texts a damaged archive may give (the start of each).
    const std::vector<std::string> texts = {
        "error", "Could not read the file headers for the compressed file.",
        "The decompressed file's size does not match", "The file <", "Could not open the correct disk file"};
    int whole = 0, refused = 0;
    std::mt19937 random(25);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        std::string bytes = good;
        if (round % 5 == 0) {
            bytes.resize(random() % bytes.size());
        } else {
            for (int n = 1 + static_cast<int>(random() % 4); n > 0; --n) {
                // Damage the header block more often than the streams.
                size_t at = random() % 2 ? random() % (5 + 3 * 176) : random() % bytes.size();
                bytes[at] = static_cast<char>(random());
            }
        }
        ASSERT_TRUE(PutWinFile("C:\\bad\\files.1", bytes));
        const std::string out = "C:\\out" + std::to_string(round);
        TFrnmCompress archive(nullptr);
        archive.SetCompressedFile("C:\\bad\\files.1");
        archive.SetExtractDirectory(out);
        SetNames(archive, {"C:\\src\\one.txt", "C:\\src\\two.bin", "C:\\src\\three.txt"});
        std::string error = ErrorOf([&] { archive.Extract(); });
        (error.empty() ? whole : refused)++;
        EXPECT_TRUE(error.empty() || std::any_of(texts.begin(), texts.end(), [&](const std::string& t) {
                        return error.compare(0, t.size(), t) == 0;
                    })) << error;
        // Whatever was extracted is whole: a file of the archive, or nothing.
        if (WinDirectoryExists(out))
            for (const auto& [name, bytes] : FolderFiles(out)) {
                ASSERT_TRUE(originals.count(name)) << name;
                EXPECT_EQ(bytes.size(), originals.at(name).size()) << name;
            }
    }
    EXPECT_GT(whole, 10);
    EXPECT_GT(refused, 100);
}

TEST(FrnmCompress, AbortsAndFullDisksLeaveArchivesReadableAndTargetsWhole) {
    TestMachine machine;
    ASSERT_TRUE(PutWinFile("C:\\src\\first.txt", "first"));
    ASSERT_TRUE(PutWinFile("C:\\src\\second.bin", RandomBytes(200000, 4)));
    ASSERT_TRUE(PutWinFile("C:\\src\\third.txt", "third"));

    // An abort while the second file is compressed: the archive holds the first file.
    TFrnmCompress builder(nullptr);
    builder.SetCompressedFile("C:\\arc\\files.1");
    bool aborted = false;
    builder.OnAborted = [&](TObject*) { aborted = true; };
    builder.OnStatus = [&](TFrnmCompress* c, const TlzhFileStats& s) {
        if (s.FileName == "C:\\src\\second.bin" && s.BytesDone > 0) c->SetAbort(true);
    };
    SetNames(builder, {"C:\\src\\first.txt", "C:\\src\\second.bin"});
    builder.Compress(false, 0);
    EXPECT_TRUE(aborted);
    EXPECT_EQ(builder.FilesToProcess()->Count(), 0);
    builder.OnStatus = nullptr;
    EXPECT_EQ(builder.GetFileCount(), 1);
    // Appending continues after the last complete file.
    SetNames(builder, {"C:\\src\\third.txt"});
    builder.Compress(true, 0);
    ASSERT_EQ(builder.GetFileCount(), 2);
    builder.SetExtractDirectory("C:\\out");
    SetNames(builder, {"C:\\src\\first.txt", "C:\\src\\third.txt"});
    builder.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\third.txt"), "third");
    SetNames(builder, {"C:\\src\\second.bin"});
    builder.Compress(true, 0);

    // An abort during the extraction of the large file onto an existing target keeps the target.
    ASSERT_TRUE(PutWinFile("C:\\out\\second.bin", "the old one"));
    TFrnmCompress reader(nullptr);
    reader.SetCompressedFile("C:\\arc\\files.1");
    reader.SetExtractDirectory("C:\\out");
    reader.OnStatus = [&](TFrnmCompress* c, const TlzhFileStats& s) {
        if (s.BytesDone > 50000) c->SetAbort(true);
    };
    SetNames(reader, {"C:\\src\\second.bin"});
    reader.Extract();
    EXPECT_TRUE(reader.Abort());
    EXPECT_EQ(ReadWin("C:\\out\\second.bin"), "the old one");

    // A full disk without a handler: "The disk is full"; with a handler that returns, the lost bytes
    // fail the size check. Either way the target stays as it was and no temporary file remains.
    reader.OnStatus = nullptr;
    platform::NthCallFault full(platform::FileOps(platform::FileOp::Write), 3, {ENOSPC, 100}, true, "/out/");
    {
        platform::ScopedFileFaultInjector inject(full);
        SetNames(reader, {"C:\\src\\second.bin"});
        EXPECT_EQ(ErrorOf([&] { reader.Extract(); }), "The disk is full");
        int fullDisks = 0;
        reader.OnFullDisk = [&](TObject*) { ++fullDisks; };
        SetNames(reader, {"C:\\src\\second.bin"});
        EXPECT_NE(ErrorOf([&] { reader.Extract(); }).find("size does not match"), std::string::npos);
        EXPECT_GT(fullDisks, 0);
    }
    EXPECT_EQ(ReadWin("C:\\out\\second.bin"), "the old one");
    EXPECT_EQ(FolderFiles("C:\\out").size(), 3u);

    // The archive's disk fills up while a file is appended: the archive keeps its complete files.
    ASSERT_TRUE(PutWinFile("C:\\src\\fourth.bin", RandomBytes(300000, 6)));
    platform::NthCallFault archiveFull(platform::FileOps(platform::FileOp::Write), 3, {ENOSPC, 10}, true, "/arc/");
    {
        platform::ScopedFileFaultInjector inject(archiveFull);
        SetNames(builder, {"C:\\src\\fourth.bin"});
        EXPECT_EQ(ErrorOf([&] { builder.Compress(true, 0); }), "The disk is full");
        EXPECT_TRUE(builder.Abort());
    }
    EXPECT_EQ(builder.GetFileCount(), 3);
    SetNames(builder, {"C:\\src\\fourth.bin"});
    builder.Compress(true, 0);
    EXPECT_EQ(builder.GetFileCount(), 4);
}

TEST(FrnmCompress, OverwriteDecisionsAndReplaceHandlers) {
    TestMachine machine;
    ASSERT_TRUE(PutWinFile("C:\\src\\f.txt", "new"));
    CompressFiles("C:\\arc\\files.1", {"C:\\src\\f.txt"});
    ASSERT_TRUE(PutWinFile("C:\\out\\f.txt", "old"));

    TFrnmCompress archive(nullptr);
    archive.SetCompressedFile("C:\\arc\\files.1");
    archive.SetExtractDirectory("C:\\out");
    std::vector<bool> done;
    archive.OnStatus = [&](TFrnmCompress*, const TlzhFileStats& s) { done.push_back(s.Done); };
    // Never: reported as done, not written.
    archive.SetOverwrite(owNever);
    SetNames(archive, {"C:\\src\\f.txt"});
    archive.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\f.txt"), "old");
    EXPECT_EQ(done, std::vector<bool> {true});
    // Ask: the replace handler keeps the file, or writes it under another name.
    archive.SetOverwrite(owAsk);
    archive.OnReplace = [](TFrnmCompress* c, const TlzhFileStats&) { c->SetSkipFile(true); };
    SetNames(archive, {"C:\\src\\f.txt"});
    archive.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\f.txt"), "old");
    archive.OnReplace = [](TFrnmCompress* c, const TlzhFileStats&) { c->SetExtractName("g.txt"); };
    SetNames(archive, {"C:\\src\\f.txt"});
    archive.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\f.txt"), "old");
    EXPECT_EQ(ReadWin("C:\\out\\g.txt"), "new");
    EXPECT_EQ(archive.ExtractName(), "");
    // Always: written over the old file.
    archive.OnReplace = nullptr;
    archive.SetOverwrite(owAlways);
    SetNames(archive, {"C:\\src\\f.txt"});
    archive.Extract();
    EXPECT_EQ(ReadWin("C:\\out\\f.txt"), "new");
}

TEST(FrnmCompress, PlainCopies) {
    TestMachine machine;
    const std::string data = RandomBytes(3 * 8192, 5);  // a multiple of the block size
    ASSERT_TRUE(PutWinFile("C:\\src\\data.bin", data));
    const TDateTime date = EncodeDate(2001, 1, 2) + EncodeTime(3, 4, 6, 0);
    ASSERT_TRUE(WinSetLastWriteTime("C:\\src\\data.bin", date));
    TFrnmCompress copier(nullptr);
    std::vector<TlzhFileStats> events;
    copier.OnStatus = [&](TFrnmCompress*, const TlzhFileStats& s) { events.push_back(s); };
    copier.CopyFile("C:\\src\\data.bin", "C:\\dest\\data.bin");
    EXPECT_EQ(ReadWin("C:\\dest\\data.bin"), data);
    TDateTime copied;
    ASSERT_TRUE(WinGetLastWriteTime("C:\\dest\\data.bin", copied));
    EXPECT_DOUBLE_EQ(copied, date);
    ASSERT_FALSE(events.empty());
    EXPECT_TRUE(events.back().Done);
    EXPECT_EQ(events.back().Percent, 100);
    EXPECT_EQ(copier.ExtractDirectory(), "C:\\dest");

    // An abort ends the copy quietly and leaves the old file; owNever keeps it too.
    ASSERT_TRUE(PutWinFile("C:\\dest\\data.bin", "old"));
    copier.OnStatus = [](TFrnmCompress* c, const TlzhFileStats&) { c->SetAbort(true); };
    copier.CopyFile("C:\\src\\data.bin", "C:\\dest\\data.bin");
    EXPECT_EQ(ReadWin("C:\\dest\\data.bin"), "old");
    copier.OnStatus = nullptr;
    copier.SetOverwrite(owNever);
    copier.CopyFile("C:\\src\\data.bin", "C:\\dest\\data.bin");
    EXPECT_EQ(ReadWin("C:\\dest\\data.bin"), "old");
    EXPECT_EQ(FolderFiles("C:\\dest").size(), 1u);
    EXPECT_EQ(ErrorOf([&] { copier.CopyFile("C:\\src\\none.bin", "C:\\dest\\none.bin"); }),
              "Cannot open the file C:\\src\\none.bin");
}
