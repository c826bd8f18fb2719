// Streams: memory and string stream positioning and growth, the buffer and copy helpers with
// their errors, and file streams on real files in a temporary folder (open and create
// failures, truncation, sparse writes, a full device).
#include <gtest/gtest.h>

#include "testsupport/TestFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "host/Exceptions.h"
#include "host/Streams.h"

using namespace ostra;

namespace {

using ostra::test::TempDir;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string MemoryText(TMemoryStream& s) {
    return std::string(static_cast<const char*>(s.Memory()), s.Size());
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

template <class E, class F>
std::string ErrorText(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "no error";
}

}  // namespace

TEST(TMemoryStream, ReadWriteSeekAndGrowth) {
    TMemoryStream s;
    EXPECT_EQ(s.Size(), 0);
    s.WriteBuffer("hello world", 11);
    EXPECT_EQ(s.Position(), 11);
    EXPECT_EQ(s.Seek(-5, soFromEnd), 6);
    s.WriteBuffer("WORLD!", 6);  // overwrites and extends
    EXPECT_EQ(MemoryText(s), "hello WORLD!");
    s.SetPosition(0);
    char buf[32] = {};
    EXPECT_EQ(s.Read(buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(s.Seek(2, soFromCurrent), 7);
    EXPECT_EQ(s.Read(buf, 100), 5);  // a short read at the end
    EXPECT_EQ(s.Read(buf, 1), 0);
    EXPECT_EQ(s.Read(buf, -1), 0);

    // Writing beyond the end leaves a gap of zero bytes.
    s.SetPosition(15);
    s.WriteBuffer("x", 1);
    EXPECT_EQ(MemoryText(s), std::string("hello WORLD!\0\0\0x", 16));
    // A negative position transfers nothing.
    s.SetPosition(-3);
    EXPECT_EQ(s.Write("y", 1), 0);
    EXPECT_EQ(s.Read(buf, 1), 0);

    // SetSize truncates (pulling the position back) and zero-extends.
    s.SetPosition(16);
    s.SetSize(5);
    EXPECT_EQ(s.Position(), 5);
    s.SetSize(8);
    EXPECT_EQ(MemoryText(s), std::string("hello\0\0\0", 8));
    s.Clear();
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Position(), 0);

    // Growth over many small writes keeps every byte.
    std::string big = RandomBytes(300000, 1);
    for (size_t i = 0; i < big.size(); i += 7)
        s.WriteBuffer(big.data() + i, std::min<size_t>(7, big.size() - i));
    EXPECT_EQ(MemoryText(s), big);
}

TEST(TStream, BufferErrors) {
    TMemoryStream s;
    s.WriteBuffer("abc", 3);
    s.SetPosition(1);
    char buf[8];
    EXPECT_EQ(ErrorText<EReadError>([&] { s.ReadBuffer(buf, 3); }), "Stream read error");
    s.ReadBuffer(buf, 0);  // reading nothing never fails

    TempDir dir;
    WriteFile(dir.File("ro"), "data");
    TFileStream readOnly(dir.File("ro"), fmOpenRead | fmShareDenyNone);
    EXPECT_THROW(readOnly.WriteBuffer("x", 1), EWriteError);
    EXPECT_EQ(ReadFile(dir.File("ro")), "data");
}

TEST(TStream, CopyFrom) {
    const std::string data = RandomBytes(200000, 2);  // several copy chunks
    TStringStream source(data);
    TMemoryStream dest;

    // Count 0: the whole source from its start, wherever its position was.
    source.SetPosition(1234);
    EXPECT_EQ(dest.CopyFrom(source, 0), static_cast<int64_t>(data.size()));
    EXPECT_EQ(MemoryText(dest), data);
    EXPECT_EQ(source.Position(), source.Size());

    // A count: from the source's position, appended at the destination's position.
    dest.Clear();
    dest.WriteBuffer("<", 1);
    source.SetPosition(10);
    EXPECT_EQ(dest.CopyFrom(source, 70000), 70000);
    EXPECT_EQ(MemoryText(dest), "<" + data.substr(10, 70000));
    EXPECT_EQ(source.Position(), 70010);

    // More than the source holds, and a negative count, fail with the read error.
    source.SetPosition(data.size() - 5);
    EXPECT_EQ(ErrorText<EReadError>([&] { dest.CopyFrom(source, 6); }), "Stream read error");
    EXPECT_THROW(dest.CopyFrom(source, -1), EReadError);

    // An empty source copies nothing.
    TMemoryStream empty;
    EXPECT_EQ(dest.CopyFrom(empty, 0), 0);
}

TEST(TStringStream, ReadWriteAndSeek) {
    TStringStream s("abcdef");
    EXPECT_EQ(s.DataString(), "abcdef");
    EXPECT_EQ(s.ReadString(2), "ab");
    EXPECT_EQ(s.ReadString(100), "cdef");
    EXPECT_EQ(s.ReadString(1), "");
    // Writing in the middle overwrites and keeps what follows.
    s.SetPosition(1);
    s.WriteString("XY");
    EXPECT_EQ(s.DataString(), "aXYdef");
    EXPECT_EQ(s.Position(), 3);
    s.Seek(-1, soFromEnd);
    s.WriteString("123");
    EXPECT_EQ(s.DataString(), "aXYde123");
    // Positions are kept within the string.
    EXPECT_EQ(s.Seek(100, soFromBeginning), 8);
    EXPECT_EQ(s.Seek(-100, soFromCurrent), 0);
    s.SetSize(3);
    EXPECT_EQ(s.DataString(), "aXY");
    s.SetPosition(3);
    s.SetSize(1);
    EXPECT_EQ(s.Position(), 1);
    // Bytes of every value pass through unchanged.
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    TStringStream bytes;
    bytes.WriteString(all);
    bytes.SetPosition(0);
    EXPECT_EQ(bytes.ReadString(256), all);
}

TEST(TFileStream, RoundTripAndModes) {
    TempDir dir;
    const std::string path = dir.File("data.bin");
    const std::string data = RandomBytes(100000, 3);
    {
        TFileStream out(path, fmCreate | fmShareExclusive);
        out.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
        EXPECT_EQ(out.Size(), static_cast<int64_t>(data.size()));
        EXPECT_EQ(out.FileName(), path);
    }
    EXPECT_EQ(ReadFile(path), data);
    {
        TFileStream in(path, fmOpenRead | fmShareDenyWrite);
        std::string back(data.size(), '\0');
        in.ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
        EXPECT_EQ(back, data);
        char c;
        EXPECT_EQ(in.Read(&c, 1), 0);
        EXPECT_EQ(in.Seek(-10, soFromEnd), static_cast<int64_t>(data.size()) - 10);
        EXPECT_EQ(in.Read(&c, 1), 1);
        EXPECT_EQ(c, data[data.size() - 10]);
        EXPECT_EQ(ErrorText<EStreamError>([&] { in.Seek(-1, soFromBeginning); }), "Invalid stream position");
        EXPECT_EQ(in.Position(), static_cast<int64_t>(data.size()) - 9);
    }
    {
        // Read-write: overwrite in the middle, write past the end (the gap reads as zeros).
        TFileStream rw(path, fmOpenReadWrite);
        rw.SetPosition(10);
        rw.WriteBuffer("XYZ", 3);
        rw.SetSize(20);
        EXPECT_EQ(rw.Position(), 20);
        rw.SetPosition(25);
        rw.WriteBuffer("!", 1);
    }
    std::string expected = data.substr(0, 10) + "XYZ" + data.substr(13, 7) + std::string(5, '\0') + "!";
    EXPECT_EQ(ReadFile(path), expected);
    {
        TFileStream wo(path, fmOpenWrite);
        wo.WriteBuffer("ab", 2);  // opening for writing does not truncate
        char c;
        EXPECT_THROW(wo.Read(&c, 1), EReadError);
    }
    EXPECT_EQ(ReadFile(path), "ab" + expected.substr(2));
    {
        TFileStream again(path, fmCreate);  // creating over an existing file empties it
        EXPECT_EQ(again.Size(), 0);
    }
    EXPECT_EQ(ReadFile(path), "");
}

TEST(TFileStream, OpenAndCreateFailuresNameFileAndReason) {
    TempDir dir;
    const std::string missing = dir.File("missing.dat");
    EXPECT_EQ(ErrorText<EFOpenError>([&] { TFileStream s(missing, fmOpenRead); }),
              "Cannot open file \"" + missing + "\". No such file or directory");
    const std::string noFolder = dir.File("none/new.dat");
    EXPECT_EQ(ErrorText<EFCreateError>([&] { TFileStream s(noFolder, fmCreate); }),
              "Cannot create file \"" + noFolder + "\". No such file or directory");
    // A folder is not a file, even though POSIX lets it be opened for reading.
    EXPECT_EQ(ErrorText<EFOpenError>([&] { TFileStream s(dir.Path(), fmOpenRead); }),
              "Cannot open file \"" + dir.Path() + "\". Is a directory");
    // Both are stream errors.
    EXPECT_THROW({ TFileStream s(missing, fmOpenReadWrite); }, EStreamError);
    // Three is no access mode.
    WriteFile(dir.File("f"), "x");
    EXPECT_THROW({ TFileStream s(dir.File("f"), 3); }, EFOpenError);
    if (geteuid() != 0) {  // root may write anything
        chmod(dir.File("f").c_str(), 0444);
        EXPECT_THROW({ TFileStream s(dir.File("f"), fmOpenWrite); }, EFOpenError);
    }
}

TEST(TFileStream, FullDeviceRaisesTheWriteErrorWithTheReason) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    TFileStream full("/dev/full", fmOpenWrite);
    std::string text = ErrorText<EWriteError>([&] { full.WriteBuffer("x", 1); });
    EXPECT_EQ(text, "Stream write error. No space left on device");
}

TEST(TMemoryStream, FilesAndStreams) {
    TempDir dir;
    const std::string data = RandomBytes(70000, 4);
    TMemoryStream m;
    m.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    m.SaveToFile(dir.File("m.bin"));
    EXPECT_EQ(ReadFile(dir.File("m.bin")), data);

    TMemoryStream back;
    back.LoadFromFile(dir.File("m.bin"));
    EXPECT_EQ(MemoryText(back), data);

    // LoadFromStream reads the whole source from its start and replaces the contents.
    TStringStream source("new contents");
    source.SetPosition(4);
    back.LoadFromStream(source);
    EXPECT_EQ(MemoryText(back), "new contents");
    back.LoadFromStream(back);  // itself: unchanged
    EXPECT_EQ(MemoryText(back), "new contents");

    TStringStream sink;
    sink.WriteString(">");
    back.SaveToStream(sink);
    EXPECT_EQ(sink.DataString(), ">new contents");
    EXPECT_THROW(back.LoadFromFile(dir.File("missing")), EFOpenError);
}
