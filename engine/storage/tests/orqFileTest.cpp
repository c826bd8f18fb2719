// The paged file on real files in a temporary folder: cache sizing, encryption on disk,
// transactions of pages and byte ranges (also a page freed and reused in one transaction),
// injected I/O failures, commits of a file that is not durable, short reads, the copy, the
// file's own locks, and a randomized run of mixed operations against a model of the stored bytes.
#include "engine/storage/orqFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqLogger.h"
#include "engine/storage/tests/support/orqErrorCapture.h"
#include "host/Exceptions.h"
#include "platform/File.h"
#include "platform/FileFault.h"

using namespace ostra;
using platform::FileOp;
using storagetest::ErrorCode;

namespace {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ostra-orqfile-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        FPath = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }

private:
    std::string FPath;
};

constexpr int32_t PageSize = 4096;

std::vector<uint8_t> Pattern(std::size_t Size, uint8_t Seed) {
    std::vector<uint8_t> bytes(Size);
    for (std::size_t i = 0; i < Size; ++i) bytes[i] = uint8_t(Seed + i * 31 + i / 253);
    return bytes;
}

// The bytes as stored, read through a handle of its own.
std::vector<uint8_t> Stored(const std::string& Path, int64_t Position, int64_t Size) {
    platform::File file;
    if (!file.Open(Path, platform::FileAccess::Read, platform::FileShare::DenyNone, platform::FileCreate::OpenExisting))
        throw std::runtime_error("cannot open " + Path);
    std::vector<uint8_t> bytes(std::size_t(Size), 0);
    file.Read(Position, bytes.data(), Size);
    return bytes;
}

int64_t StoredSize(const std::string& Path) { return int64_t(std::filesystem::file_size(Path)); }

class OrqFileTest : public ::testing::Test {
protected:
    void SetUp() override { Path = Dir.File("test.orq"); }

    // Makes Path a file of Pages pages (page i filled from Pattern(.., i)) and opens it.
    void CreateAndOpen(int Pages, int32_t Size = PageSize) {
        TOrqFile maker;
        maker.SetPageSize(Size);
        ASSERT_GT(maker.CreateOrqFile(Path), 0);
        for (int i = 0; i < Pages; ++i) maker.WriteThroughOrqFile(Pattern(Size, uint8_t(i)).data(), i * Size, Size);
        maker.CloseOrqFile();
        Open(File, Size);
    }
    void Open(TOrqFile& Target, int32_t Size = PageSize) {
        Target.SetPageSize(Size);
        Target.SetOpenRead(true);
        Target.SetOpenWrite(true);
        Target.SetXORKeyBuf(OrqWeakCryptKey, OrqWeakCryptKeyLength);
        Target.SetBlowKeyBuf(OrqDefaultStrongCryptKey, OrqDefaultStrongCryptKeyLength);
        Target.OpenOrqFile(Path);
        Target.SetCacheActive(true);
    }
    std::vector<uint8_t> Read(uint32_t Position, int32_t Size, uint32_t TableID = 1, uint32_t Flags = 1) {
        std::vector<uint8_t> out(static_cast<std::size_t>(Size));
        File.SeekAndReadOrqFile(out.data(), Position, Size, TableID, Flags);
        return out;
    }

    TempDir Dir;
    std::string Path;
    TOrqFile File;
};

TEST_F(OrqFileTest, PageCacheSizeFollowsTheFileSize) {
    struct Case {
        int64_t Pages;
        int32_t CachePages;
    };
    for (Case c : {Case{0, 50}, Case{199, 50}, Case{1000, 250}, Case{4000, 1000}, Case{9000, 1000}}) {
        {
            platform::File f;
            ASSERT_TRUE(f.Open(Path, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                               platform::FileCreate::CreateAlways));
            ASSERT_TRUE(f.SetSize(c.Pages * PageSize));
        }
        TOrqFile file;
        Open(file);
        EXPECT_EQ(file.PageCache().Count(), c.CachePages) << c.Pages;
        EXPECT_EQ(file.PageCache().TotalCacheSize(), int64_t(c.CachePages) * PageSize);
        // A size set on the paged file holds whatever the file's size; 0 is the rule again.
        TOrqFile sized;
        sized.SetCachePages(3000);
        Open(sized);
        EXPECT_EQ(sized.PageCache().Count(), 3000) << c.Pages;
        sized.CloseOrqFile();
        sized.SetCachePages(0);
        Open(sized);
        EXPECT_EQ(sized.PageCache().Count(), c.CachePages) << c.Pages;
    }
}

// Weak and strong pages round-trip through the file and are stored scrambled; the scrambling of
// a page depends on the table id (weak only) and not on its address.
TEST_F(OrqFileTest, EncryptedPagesOnDisk) {
    CreateAndOpen(8);
    const std::vector<uint8_t> plain = Pattern(PageSize, 99);
    struct Case {
        uint32_t Page, TableID, Flags;
    };
    const Case cases[] = {{1, 1, 1}, {2, 1, 3}, {3, 4, 3}, {4, 5, 3}, {5, 1, 5}, {6, 4, 5}, {7, 4, 3}};
    for (const Case& c : cases) File.SeekAndWriteOrqFile(plain.data(), c.Page * PageSize, PageSize, c.TableID, c.Flags);
    File.CloseOrqFile();
    auto stored = [&](uint32_t Page) { return Stored(Path, Page * PageSize, PageSize); };
    EXPECT_EQ(stored(1), plain);
    for (uint32_t page : {2, 3, 5}) EXPECT_NE(stored(page), plain) << page;
    EXPECT_NE(stored(2), stored(3));  // table 1 (key step 1) and table 4 (key step 5)
    EXPECT_EQ(stored(3), stored(4));  // tables 4 and 5 share the key step
    EXPECT_EQ(stored(3), stored(7));  // the same page of a table at another address
    EXPECT_EQ(stored(5), stored(6));  // Blowfish does not depend on the table id
    EXPECT_NE(stored(5), stored(2));

    TOrqFile reader;
    Open(reader);
    for (const Case& c : cases) {
        std::vector<uint8_t> out(PageSize);
        reader.SeekAndReadOrqFile(out.data(), c.Page * PageSize, PageSize, c.TableID, c.Flags);
        EXPECT_EQ(out, plain) << c.Page;
    }
    // Uncached, outside a transaction, the stored bytes come back as they are.
    reader.SetCacheActive(false);
    std::vector<uint8_t> raw(PageSize);
    reader.SeekAndReadOrqFile(raw.data(), 2 * PageSize, PageSize, 1, 3);
    EXPECT_EQ(raw, stored(2));
}

TEST_F(OrqFileTest, StrongKeyChangesTakeEffectOnTheNextTransfer) {
    CreateAndOpen(2);
    const std::vector<uint8_t> plain = Pattern(PageSize, 5);
    File.SeekAndWriteOrqFile(plain.data(), PageSize, PageSize, 1, 5);
    File.SetBlowKeyBuf("another key", 11);
    File.PageCache().ClearCache();
    EXPECT_NE(Read(PageSize, PageSize, 1, 5), plain);
    File.SetBlowKeyBuf(OrqDefaultStrongCryptKey, OrqDefaultStrongCryptKeyLength);
    File.PageCache().ClearCache();
    EXPECT_EQ(Read(PageSize, PageSize, 1, 5), plain);
    EXPECT_EQ(ErrorCode([&] { File.SetBlowKeyBuf("", 0); }), 8581);
    EXPECT_EQ(ErrorCode([&] { File.SetBlowKeyBuf(std::string(57, 'k').c_str(), 57); }), 8581);
}

TEST_F(OrqFileTest, TransactionCommitAndRollback) {
    CreateAndOpen(4);
    const std::vector<uint8_t> before = Stored(Path, 0, 4 * PageSize);
    const std::vector<uint8_t> data = Pattern(PageSize, 200);
    const std::vector<uint8_t> range = Pattern(128, 77);

    for (bool commit : {false, true}) {
        File.StartTransaction();
        EXPECT_TRUE(File.GetTransactionActive());
        File.SeekAndWriteOrqFile(data.data(), PageSize + 100, 300, 1, 3);       // a cached, encrypted range
        File.SeekAndWriteOrqFile(range.data(), 1024, 128, 0, 0);                // a header-like range
        uint32_t appended = File.SeekAndAppendOrqFile(data.data(), PageSize, 1, 1);
        uint32_t appendedRaw = File.SeekAndAppendOrqFile(range.data(), 128, 0, 0);
        EXPECT_EQ(appended, 4u * PageSize);
        EXPECT_EQ(appendedRaw, 5u * PageSize);
        EXPECT_EQ(File.SeekOrqEof(), 5 * PageSize + 128);
        EXPECT_EQ(StoredSize(Path), 4 * PageSize);
        EXPECT_EQ(Stored(Path, 0, 4 * PageSize), before);
        // The transaction sees its own writes.
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + 300, Read(PageSize + 100, 300, 1, 3).begin()));
        std::vector<uint8_t> out(128);
        File.ReadThroughOrqFile(out.data(), 1024, 128);
        EXPECT_EQ(out, range);
        File.ReadThroughOrqFile(out.data(), 5 * PageSize, 128);
        EXPECT_EQ(out, range);
        EXPECT_EQ(Read(4 * PageSize, PageSize), data);

        if (!commit) {
            File.Rollback();
            EXPECT_FALSE(File.GetTransactionActive());
            EXPECT_EQ(File.SeekOrqEof(), 4 * PageSize);
            EXPECT_EQ(Stored(Path, 0, 4 * PageSize), before);
            EXPECT_EQ(Read(0, 4 * PageSize, 0, 0), before);
            continue;
        }
        platform::NthCallFault flushes(platform::FileOps(FileOp::Flush), 1000, {});
        {
            platform::ScopedFileFaultInjector scope(flushes);
            File.Commit();
        }
        EXPECT_GE(flushes.Calls(), 1);  // a commit reaches stable storage
        EXPECT_EQ(StoredSize(Path), 5 * PageSize + 128);
        EXPECT_EQ(Stored(Path, 1024, 128), range);
        EXPECT_EQ(Stored(Path, 4 * PageSize, PageSize), data);
        EXPECT_EQ(Stored(Path, 5 * PageSize, 128), range);
        TOrqFile reader;
        Open(reader);
        std::vector<uint8_t> page(300);
        reader.SeekAndReadOrqFile(page.data(), PageSize + 100, 300, 1, 3);
        EXPECT_TRUE(std::equal(page.begin(), page.end(), data.begin()));
    }
}

// Appends of a transaction go after what another handle appended since the transaction started.
TEST_F(OrqFileTest, TransactionAppendsFollowOtherHandlesAppends) {
    CreateAndOpen(2);
    TOrqFile other;
    Open(other);
    File.StartTransaction();
    const std::vector<uint8_t> theirs = Pattern(PageSize, 10), ours = Pattern(PageSize, 20);
    EXPECT_EQ(other.SeekAndAppendOrqFile(theirs.data(), PageSize, 1, 1), 2u * PageSize);
    EXPECT_EQ(File.SeekOrqEof(), 3 * PageSize);
    EXPECT_EQ(File.SeekAndAppendOrqFile(ours.data(), PageSize, 1, 1), 3u * PageSize);
    File.Commit();
    EXPECT_EQ(Stored(Path, 2 * PageSize, PageSize), theirs);
    EXPECT_EQ(Stored(Path, 3 * PageSize, PageSize), ours);
}

// A page released (zero-filled) and taken again in the same transaction: the new bytes must win
// over the zeros at commit, whether the reuse writes the whole page or a part of it, plain or
// encrypted.
TEST_F(OrqFileTest, PageFreedAndReusedInOneTransactionKeepsItsNewContent) {
    CreateAndOpen(6);
    const std::vector<uint8_t> zeros(PageSize, 0);
    const std::vector<uint8_t> fresh = Pattern(PageSize, 150);
    struct Case {
        uint32_t Page, Flags, Offset, Size;
    };
    const Case cases[] = {{1, 1, 0, PageSize}, {2, 3, 0, PageSize}, {3, 1, 100, 200}, {4, 3, 100, 200}, {5, 5, 8, 64}};
    File.StartTransaction();
    for (const Case& c : cases) {
        Read(c.Page * PageSize, PageSize, 2, c.Flags);  // the old page is cached for the same table
        File.ReleasePage(c.Page * PageSize, zeros.data());
        File.SeekAndWriteOrqFile(fresh.data() + c.Offset, c.Page * PageSize + c.Offset, int32_t(c.Size), 2, c.Flags);
    }
    // Only the pages are left to write: the zero ranges under them were superseded.
    std::vector<TFileRange> pending = File.PendingWrites();
    ASSERT_EQ(pending.size(), std::size(cases));
    for (const TFileRange& r : pending) EXPECT_EQ(r.Size, uint64_t(PageSize));
    File.Commit();

    TOrqFile reader;
    Open(reader);
    for (const Case& c : cases) {
        std::vector<uint8_t> out(PageSize);
        reader.SeekAndReadOrqFile(out.data(), c.Page * PageSize, PageSize, 2, c.Flags);
        std::vector<uint8_t> expected(PageSize, 0);
        if (c.Size == uint32_t(PageSize)) {
            expected = fresh;
        } else {
            // The rest of the page is what the zero fill reads as for this table.
            std::vector<uint8_t> decodedZeros(PageSize);
            reader.InternalCryptBuf(false, zeros.data(), decodedZeros.data(), c.Flags, 2, PageSize);
            expected = (c.Flags & 6) ? decodedZeros : zeros;
            std::copy_n(fresh.begin() + c.Offset, c.Size, expected.begin() + c.Offset);
        }
        EXPECT_EQ(out, expected) << c.Page;
    }
    // The plain partial case as stored: zeros around the new bytes.
    std::vector<uint8_t> stored = Stored(Path, 3 * PageSize, PageSize);
    EXPECT_EQ(stored[99], 0);
    EXPECT_EQ(stored[100], fresh[100]);
    EXPECT_EQ(stored[300], 0);
}

// A release inside a transaction that is rolled back leaves the page as it was, also when the
// zero-filled page was read (and cached) during the transaction.
TEST_F(OrqFileTest, RolledBackReleaseLeavesNoZeroPageInTheCache) {
    CreateAndOpen(3);
    const std::vector<uint8_t> old = Read(PageSize, PageSize);
    File.StartTransaction();
    std::vector<uint8_t> zeros(PageSize, 0);
    File.ReleasePage(PageSize, zeros.data());
    EXPECT_EQ(Read(PageSize, PageSize), zeros);
    File.Rollback();
    EXPECT_EQ(Read(PageSize, PageSize), old);
    // Outside a transaction the zeros go to the file and the cached copy goes.
    File.ReleasePage(PageSize, zeros.data());
    EXPECT_EQ(Read(PageSize, PageSize), zeros);
    EXPECT_EQ(Stored(Path, PageSize, PageSize), zeros);
}

// A cached write that fails part-way in a transaction: the page it already changed still wins
// over an older raw range at commit.
TEST_F(OrqFileTest, CachedWriteFailingPartWayKeepsTheChangedPage) {
    CreateAndOpen(3);
    File.StartTransaction();
    const std::vector<uint8_t> zeros(PageSize, 0);
    File.ReleasePage(0, zeros.data());
    const std::vector<uint8_t> data = Pattern(PageSize + 100, 4);
    {
        // Page 0 is written whole; page 1 must be loaded for its partial write, and that read fails.
        platform::NthCallFault fault(platform::FileOps(FileOp::Read), 1, {EIO, -1}, false, "test.orq");
        platform::ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(ErrorCode([&] { File.SeekAndWriteOrqFile(data.data(), 0, PageSize + 100, 1, 1); }), 9217);
    }
    File.Commit();
    EXPECT_EQ(Stored(Path, 0, PageSize), std::vector<uint8_t>(data.begin(), data.begin() + PageSize));
    EXPECT_EQ(Stored(Path, PageSize, PageSize), Pattern(PageSize, 1));
}

// A raw range written over part of a dirty page in a transaction: both sets of bytes survive.
TEST_F(OrqFileTest, RawWriteIntoADirtyPageKeepsBoth) {
    CreateAndOpen(3);
    File.StartTransaction();
    const std::vector<uint8_t> data = Pattern(PageSize, 9);
    const std::vector<uint8_t> range(16, 0xEE);
    File.SeekAndWriteOrqFile(data.data(), PageSize, PageSize, 1, 3);
    File.WriteThroughOrqFile(range.data(), PageSize + 64, 16);
    std::vector<uint8_t> raw(PageSize);
    File.ReadThroughOrqFile(raw.data(), PageSize, PageSize);
    EXPECT_TRUE(std::equal(range.begin(), range.end(), raw.begin() + 64));
    File.Commit();
    std::vector<uint8_t> stored = Stored(Path, PageSize, PageSize);
    EXPECT_EQ(stored, raw);
    std::vector<uint8_t> plain(PageSize);
    File.InternalCryptBuf(false, stored.data(), plain.data(), 3, 1, PageSize);
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 64, data.begin()));
    EXPECT_TRUE(std::equal(plain.begin() + 80, plain.end(), data.begin() + 80));
}

// A commit whose write or flush fails part-way raises the error and leaves the file as it was
// (the journal wrote the old bytes back and cut the appended page off); the transaction is over
// and no cached page keeps its bytes.
TEST_F(OrqFileTest, InjectedFailuresAtCommitLeaveTheFileAsItWas) {
    CreateAndOpen(4);
    const std::vector<uint8_t> before = Stored(Path, 0, 4 * PageSize);
    const std::vector<uint8_t> data = Pattern(PageSize, 1);
    const std::vector<uint8_t> range(40, 0x5C);
    struct Case {
        const char* Name;
        unsigned Ops;
        int64_t N;
        platform::FileFault Fault;
        int Code;
    };
    // Only the database file's calls count here: pages 1 and 2 (adjacent: one write), the
    // appended page, the range, the flush.
    const Case cases[] = {
        {"first pages write", platform::FileOps(FileOp::Write), 1, {EIO, -1}, 9218},
        {"short pages write", platform::FileOps(FileOp::Write), 1, {ENOSPC, 100}, 9218},
        {"short page write", platform::FileOps(FileOp::Write), 2, {ENOSPC, 100}, 9218},
        {"range write", platform::FileOps(FileOp::Write), 3, {ENOSPC, -1}, 9218},
        {"flush", platform::FileOps(FileOp::Flush), 1, {EIO, -1}, 8450},
    };
    auto writeTransaction = [&] {
        File.StartTransaction();
        File.SeekAndWriteOrqFile(data.data(), PageSize, PageSize, 1, 3);
        File.SeekAndWriteOrqFile(data.data(), 2 * PageSize, PageSize, 1, 1);
        File.SeekAndWriteOrqFile(range.data(), 768, 40, 0, 0);
        File.SeekAndAppendOrqFile(data.data(), PageSize, 1, 1);
    };
    for (const Case& c : cases) {
        writeTransaction();
        {
            platform::NthCallFault fault(c.Ops, c.N, c.Fault, false, "test.orq");
            platform::ScopedFileFaultInjector scope(fault);
            EXPECT_EQ(ErrorCode([&] { File.Commit(); }), c.Code) << c.Name;
            EXPECT_EQ(fault.Injected(), 1) << c.Name;
        }
        EXPECT_FALSE(File.GetTransactionActive()) << c.Name;
        EXPECT_EQ(StoredSize(Path), 4 * PageSize) << c.Name;
        EXPECT_EQ(Stored(Path, 0, 4 * PageSize), before) << c.Name;
        EXPECT_FALSE(std::filesystem::exists(File.JournalFileName())) << c.Name;
        EXPECT_EQ(Read(2 * PageSize, PageSize), Pattern(PageSize, 2)) << c.Name;
        EXPECT_EQ(File.SeekOrqEof(), 4 * PageSize) << c.Name;
    }
    writeTransaction();
    File.Commit();
    EXPECT_EQ(Stored(Path, 768, 40), range);
    EXPECT_EQ(Stored(Path, 2 * PageSize, PageSize), data);
    EXPECT_EQ(Stored(Path, 4 * PageSize, PageSize), data);
    EXPECT_FALSE(std::filesystem::exists(File.JournalFileName()));
    File.PageCache().ClearCache();
    EXPECT_EQ(Read(PageSize, PageSize, 1, 3), data);
}

// A file set not durable commits in place: no journal, no flush, until it is made durable again,
// which flushes once. A write failing part-way marks it torn; closing makes the next file durable.
TEST_F(OrqFileTest, NonDurableCommitsSkipTheJournalAndTheFlushes) {
    CreateAndOpen(4);
    const std::vector<uint8_t> data = Pattern(PageSize, 9);
    File.SetDurable(false);
    // Every flush and every call on the journal fails: the commits must not need them.
    struct TRefuseDurability : platform::FileFaultInjector {
        std::atomic<int> Calls{0};
        platform::FileFault Decide(FileOp Op, const std::string& Path, int64_t, int64_t) override {
            if (Op != FileOp::Flush && Path.find(".orj") == std::string::npos) return {};
            ++Calls;
            return {EIO, -1};
        }
    } refused;
    {
        platform::ScopedFileFaultInjector scope(refused);
        for (int i = 0; i < 3; ++i) {
            File.StartTransaction();
            File.SeekAndWriteOrqFile(data.data(), uint32_t(i) * PageSize, PageSize, 1, 3);
            File.SeekAndAppendOrqFile(data.data(), PageSize, 1, 1);
            File.Commit();
        }
        File.FlushBuffers();
    }
    EXPECT_EQ(refused.Calls, 0);
    EXPECT_FALSE(std::filesystem::exists(File.JournalFileName()));
    EXPECT_EQ(StoredSize(Path), 7 * PageSize);
    EXPECT_EQ(Stored(Path, 4 * PageSize, PageSize), data);
    {
        platform::NthCallFault counted(platform::FileOps(FileOp::Flush), 1000, {});
        platform::ScopedFileFaultInjector scope(counted);
        File.SetDurable(true);
        EXPECT_EQ(counted.Calls(), 1);
    }
    EXPECT_TRUE(File.Durable());

    // Torn: a page write of a non-durable commit fails part-way.
    File.SetDurable(false);
    File.StartTransaction();
    File.SeekAndWriteOrqFile(data.data(), PageSize, PageSize, 1, 1);
    {
        platform::NthCallFault fault(platform::FileOps(FileOp::Write), 1, {ENOSPC, 100}, false, "test.orq");
        platform::ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(ErrorCode([&] { File.Commit(); }), 9218);
    }
    File.StartTransaction();
    File.SeekAndWriteOrqFile(data.data(), 2 * PageSize, PageSize, 1, 1);
    EXPECT_EQ(ErrorCode([&] { File.Commit(); }), 8450);
    EXPECT_EQ(ErrorCode([&] { File.SetDurable(true); }), 8450);
    File.CloseOrqFile();
    EXPECT_TRUE(File.Durable());
    Open(File);
    File.StartTransaction();
    File.SeekAndWriteOrqFile(data.data(), 2 * PageSize, PageSize, 1, 1);
    File.Commit();
}

TEST_F(OrqFileTest, InjectedFailuresOutsideTransactions) {
    CreateAndOpen(4);
    const std::vector<uint8_t> old = Read(PageSize, PageSize);
    const std::vector<uint8_t> data = Pattern(PageSize, 3);
    {
        platform::NthCallFault fault(platform::FileOps(FileOp::Write), 1, {EIO, -1}, true, "test.orq");
        platform::ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(ErrorCode([&] { File.SeekAndWriteOrqFile(data.data(), PageSize, PageSize, 1, 1); }), 9218);
        EXPECT_EQ(ErrorCode([&] { File.WriteThroughOrqFile(data.data(), 0, 100); }), 9218);
        EXPECT_EQ(ErrorCode([&] { File.SeekAndAppendOrqFile(data.data(), PageSize, 1, 1); }), 9218);
    }
    // The failed write-through left no cached page claiming the new bytes.
    EXPECT_EQ(Read(PageSize, PageSize), old);
    {
        platform::NthCallFault fault(platform::FileOps(FileOp::Read), 1, {EIO, 10}, false, "test.orq");
        platform::ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(ErrorCode([&] { Read(3 * PageSize, 10); }), 9217);
    }
    EXPECT_EQ(Read(3 * PageSize, PageSize), Pattern(PageSize, 3));
    {
        platform::NthCallFault fault(platform::FileOps(FileOp::Flush), 1, {EIO, -1}, false, "test.orq");
        platform::ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(ErrorCode([&] { File.FlushBuffers(); }), 8450);
    }
}

TEST_F(OrqFileTest, ShortReadsAtTheEndOfTheFile) {
    CreateAndOpen(2);
    {
        platform::File f;
        ASSERT_TRUE(f.Open(Path, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                           platform::FileCreate::OpenExisting));
        ASSERT_TRUE(f.SetSize(PageSize + PageSize / 2));
    }
    std::vector<uint8_t> out(PageSize);
    EXPECT_EQ(ErrorCode([&] { File.SeekAndReadOrqFile(out.data(), PageSize, 10, 1, 1); }), 9217);
    EXPECT_EQ(ErrorCode([&] { File.SeekAndReadOrqFile(out.data(), PageSize, PageSize, 0, 0); }), 9217);
    EXPECT_EQ(ErrorCode([&] { File.ReadThroughOrqFile(out.data(), 5 * PageSize, 10); }), 9217);
    EXPECT_EQ(ErrorCode([&] { File.SeekAndReadOrqFile(out.data(), 0xFFFFFFF0u, 100, 1, 1); }), 9217);
    EXPECT_EQ(ErrorCode([&] { File.SeekAndWriteOrqFile(out.data(), 0xFFFFFFF0u, 100, 1, 1); }), 9600);
    // A partial write into the page that the end of the file cuts cannot load it either.
    EXPECT_EQ(ErrorCode([&] { File.SeekAndWriteOrqFile(out.data(), PageSize + 8, 8, 1, 1); }), 9217);
    std::vector<uint8_t> first(PageSize);
    File.SeekAndReadOrqFile(first.data(), 0, PageSize, 1, 1);
    EXPECT_EQ(first, Pattern(PageSize, 0));
}

// Sequential reads load the pages ahead in runs: each page read ahead is decoded for the table
// that missed, a page of another table among them is read again under its own, a run that fails
// leaves the page asked for to a read of its own, and the half page at the end is still refused.
TEST_F(OrqFileTest, SequentialReadsReadAheadAndDecodeEachPage) {
    CreateAndOpen(2);
    auto flagsOf = [](uint32_t Page) { return Page == 9 ? std::pair<uint32_t, uint32_t>{4, 5} : std::pair{1u, 3u}; };
    for (uint32_t page = 0; page < 40; ++page)
        File.SeekAndWriteOrqFile(Pattern(PageSize, uint8_t(100 + page)).data(), page * PageSize, PageSize,
                                 flagsOf(page).first, flagsOf(page).second);
    File.CloseOrqFile();
    {
        platform::File f;
        ASSERT_TRUE(f.Open(Path, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                           platform::FileCreate::OpenExisting));
        ASSERT_TRUE(f.SetSize(39 * PageSize + PageSize / 2));
    }
    TOrqFile reader;
    Open(reader);
    auto read = [&](uint32_t Page) {
        std::vector<uint8_t> out(PageSize);
        reader.SeekAndReadOrqFile(out.data(), Page * PageSize, PageSize, flagsOf(Page).first, flagsOf(Page).second);
        return out;
    };
    for (uint32_t page = 0; page < 20; ++page) EXPECT_EQ(read(page), Pattern(PageSize, uint8_t(100 + page))) << page;
    EXPECT_LT(reader.PageCache().Misses(), 10) << "most pages came with a run";
    reader.PageCache().ClearCache();
    EXPECT_EQ(read(29), Pattern(PageSize, 129));
    {
        // The run that page 30 starts fails: the page is read on its own.
        platform::NthCallFault fault(platform::FileOps(FileOp::Read), 1, {EIO, -1}, false, "test.orq");
        platform::ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(read(30), Pattern(PageSize, 130));
    }
    for (uint32_t page = 31; page < 39; ++page) EXPECT_EQ(read(page), Pattern(PageSize, uint8_t(100 + page))) << page;
    EXPECT_EQ(ErrorCode([&] { read(39); }), 9217);
}

TEST_F(OrqFileTest, CopyIsTheStoredFile) {
    CreateAndOpen(3);
    const std::string copy = Dir.File("copy.orq");
    File.StartTransaction();
    const std::vector<uint8_t> data = Pattern(PageSize, 42);
    File.SeekAndAppendOrqFile(data.data(), PageSize, 1, 1);
    EXPECT_TRUE(File.CopyOrqFile(copy));
    EXPECT_EQ(Stored(copy, 0, StoredSize(copy)), Stored(Path, 0, 3 * PageSize));
    File.Rollback();
    // The file cannot be copied onto itself (creating the copy would truncate it).
    EXPECT_EQ(ErrorCode([&] { File.CopyOrqFile(Path); }), 8450);
    EXPECT_EQ(StoredSize(Path), 3 * PageSize);
    {
        platform::NthCallFault fault(platform::FileOps(FileOp::Write), 2, {ENOSPC, -1}, false, "copy.orq");
        platform::ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(ErrorCode([&] { File.CopyOrqFile(copy); }), 9218);
    }
    EXPECT_FALSE(platform::FileExists(copy));
    TOrqFile closed;
    EXPECT_EQ(ErrorCode([&] { closed.CopyOrqFile(copy); }), 8449);
}

TEST_F(OrqFileTest, FileLocks) {
    CreateAndOpen(1);
    TOrqFile other;
    Open(other);
    other.SetLockRetryCount(2);
    other.SetLockRetryInterval(1);
    EXPECT_EQ(File.ReadLockOrqFile(1, 1, false), 1);
    EXPECT_EQ(other.ReadLockOrqFile(1, 1, false), 2);  // the range is held; the probe found the next free
    EXPECT_EQ(ErrorCode([&] { other.ReadLockOrqFile(1, 1, true); }), 10249);
    EXPECT_EQ(ErrorCode([&] { other.WriteLockOrqFile(1, 1); }), 10249);
    EXPECT_TRUE(File.UnlockOrqFile(1, 1));
    EXPECT_FALSE(File.UnlockOrqFile(1, 1));
    EXPECT_EQ(other.WriteLockOrqFile(1, 1), 4);
    EXPECT_TRUE(other.UnlockOrqFile(1, 1));
    // Two one-byte locks released by one unlock of two bytes.
    EXPECT_EQ(File.WriteLockOrqFile(5, 1), 4);
    EXPECT_EQ(File.WriteLockOrqFile(6, 1), 4);
    EXPECT_TRUE(File.UnlockOrqFile(5, 2));
    EXPECT_EQ(File.Handle().LockCount(), 0u);
    TOrqFile closed;
    EXPECT_EQ(ErrorCode([&] { closed.ReadLockOrqFile(1, 1, false); }), 8449);
    EXPECT_EQ(ErrorCode([&] { closed.WriteLockOrqFile(1, 1); }), 8450);
    EXPECT_EQ(ErrorCode([&] { closed.UnlockOrqFile(1, 1); }), 8450);
}

TEST_F(OrqFileTest, OpenAndStateErrors) {
    TOrqFile file;
    file.SetPageSize(0);
    EXPECT_EQ(ErrorCode([&] { file.OpenOrqFile(Path); }), 8581);
    file.SetPageSize(PageSize);
    EXPECT_EQ(ErrorCode([&] { file.OpenOrqFile(Path); }), 8581);  // no XOR key
    file.SetXORKeyBuf(OrqWeakCryptKey, OrqWeakCryptKeyLength);
    file.SetOpenRead(true);
    EXPECT_EQ(ErrorCode([&] { file.OpenOrqFile(Dir.File("missing.orq")); }), 8449);
    EXPECT_EQ(ErrorCode([&] { file.StartTransaction(); }), 8450);
    EXPECT_EQ(ErrorCode([&] { file.Commit(); }), 10257);
    EXPECT_EQ(ErrorCode([&] { file.Rollback(); }), 10257);
    EXPECT_FALSE(file.GetTransactionActive());

    CreateAndOpen(1);
    EXPECT_EQ(ErrorCode([&] { File.SetXORKeyBuf("x", 1); }), 8581);
    File.StartTransaction();
    EXPECT_EQ(ErrorCode([&] { File.StartTransaction(); }), 10256);
    // An exclusive opener is refused while the file is open.
    TOrqFile exclusive;
    exclusive.SetOpenReadExclusive(true);
    exclusive.SetOpenWriteExclusive(true);
    EXPECT_EQ(ErrorCode([&] { Open(exclusive); }), 8449);
    File.CloseOrqFile();
    EXPECT_FALSE(File.GetTransactionActive());
    EXPECT_EQ(StoredSize(Path), PageSize);
}

TEST_F(OrqFileTest, InvalidTableIDIsTracedAndTheTransferCompletes) {
    CreateAndOpen(1);
    int before = GDBLogger()->LogCount();
    std::vector<uint8_t> out = Read(0, 16, 2049, 1);
    EXPECT_EQ(GDBLogger()->LogCount(), before + 1);
    auto lines = GDBLogger()->LogSnapshot();
    EXPECT_NE(lines->Strings(lines->Count() - 1).find("Invalid table id"), std::string::npos);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), Pattern(PageSize, 0).begin()));
}

// Mixed operations in and out of transactions, on a cache of three pages (so pages are evicted
// all the time), checked against a model of the stored bytes: the file as committed, and the file
// as the running transaction sees it.
TEST_F(OrqFileTest, RandomOperationsMatchAModelOfTheStoredBytes) {
    constexpr int32_t Size = 512;
    constexpr int Pages = 24;
    CreateAndOpen(Pages, Size);
    File.PageCache().ResetPageCount(3);
    std::vector<uint8_t> committed = Stored(Path, 0, Pages * Size);
    std::vector<uint8_t> view = committed;
    bool inTransaction = false;
    std::mt19937 random(2024);
    // A table's pages always carry the same flags: the cache tells pages apart by table id only.
    const uint32_t tables[] = {1, 2, 101, 5};
    const uint32_t flagsOf[] = {1, 3, 3, 1};

    auto decode = [&](const std::vector<uint8_t>& Raw, std::size_t Page, uint32_t TableID, uint32_t Flags) {
        std::vector<uint8_t> plain(Raw.begin() + Page * Size, Raw.begin() + (Page + 1) * Size);
        if (Flags & 2) XORCryptBuf(reinterpret_cast<char*>(plain.data()), reinterpret_cast<char*>(plain.data()),
                                   OrqWeakCryptKey, Size, OrqWeakCryptKeyLength, int(TableID));
        return plain;
    };
    auto encodeInto = [&](std::vector<uint8_t>& Raw, std::size_t Page, std::vector<uint8_t> Plain, uint32_t TableID,
                          uint32_t Flags) {
        if (Flags & 2) XORCryptBuf(reinterpret_cast<char*>(Plain.data()), reinterpret_cast<char*>(Plain.data()),
                                   OrqWeakCryptKey, Size, OrqWeakCryptKeyLength, int(TableID));
        if (Raw.size() < (Page + 1) * Size) Raw.resize((Page + 1) * Size);
        std::copy(Plain.begin(), Plain.end(), Raw.begin() + Page * Size);
    };

    for (int step = 0; step < 4000; ++step) {
        const std::size_t pages = view.size() / Size;
        const int op = int(random() % 100);
        const uint32_t which = uint32_t(random() % 4);
        const uint32_t table = tables[which];
        const uint32_t flags = flagsOf[which];
        const uint32_t position = uint32_t(random() % (pages * Size));
        const uint32_t size = 1 + uint32_t(random() % std::min<std::size_t>(3 * Size, pages * Size - position));
        std::vector<uint8_t> data(size);
        for (auto& b : data) b = uint8_t(random());

        if (op < 30) {  // cached write
            File.SeekAndWriteOrqFile(data.data(), position, int32_t(size), table, flags);
            for (uint32_t done = 0; done < size;) {
                const std::size_t page = (position + done) / Size;
                const uint32_t offset = (position + done) % Size;
                const uint32_t n = std::min(Size - offset, size - done);
                std::vector<uint8_t> plain = decode(view, page, table, flags);
                std::copy_n(data.begin() + done, n, plain.begin() + offset);
                encodeInto(view, page, plain, table, flags);
                done += n;
            }
        } else if (op < 55) {  // cached read
            std::vector<uint8_t> out(size);
            File.SeekAndReadOrqFile(out.data(), position, int32_t(size), table, flags);
            for (uint32_t done = 0; done < size;) {
                const std::size_t page = (position + done) / Size;
                const uint32_t offset = (position + done) % Size;
                const uint32_t n = std::min(Size - offset, size - done);
                std::vector<uint8_t> plain = decode(view, page, table, flags);
                ASSERT_TRUE(std::equal(out.begin() + done, out.begin() + done + n, plain.begin() + offset))
                    << "step " << step;
                done += n;
            }
        } else if (op < 67) {  // raw write
            File.SeekAndWriteOrqFile(data.data(), position, int32_t(size), 0, 0);
            std::copy(data.begin(), data.end(), view.begin() + position);
        } else if (op < 77) {  // raw read
            std::vector<uint8_t> out(size);
            File.ReadThroughOrqFile(out.data(), position, int32_t(size));
            ASSERT_TRUE(std::equal(out.begin(), out.end(), view.begin() + position)) << "step " << step;
        } else if (op < 83) {  // release a page
            const std::size_t page = position / Size;
            std::vector<uint8_t> zeros(Size, 0);
            File.ReleasePage(uint32_t(page * Size), zeros.data());
            std::fill_n(view.begin() + page * Size, Size, 0);
        } else if (op < 86 && pages < 40) {  // append a page, cached or raw
            std::vector<uint8_t> page(data);
            page.resize(Size);
            uint32_t cachedFlags = random() % 2 ? flags : 0;
            uint32_t at = File.SeekAndAppendOrqFile(page.data(), Size, table, cachedFlags);
            ASSERT_EQ(at, pages * Size);
            encodeInto(view, pages, page, table, cachedFlags);
        } else if (op < 94) {
            if (!inTransaction) {
                File.StartTransaction();
                inTransaction = true;
            }
        } else if (inTransaction) {
            if (op < 97) {
                File.Commit();
                committed = view;
            } else {
                File.Rollback();
                view = committed;
            }
            inTransaction = false;
            ASSERT_EQ(StoredSize(Path), int64_t(committed.size())) << "step " << step;
            ASSERT_EQ(Stored(Path, 0, int64_t(committed.size())), committed) << "step " << step;
        }
        if (!inTransaction) committed = view;
        ASSERT_EQ(File.SeekOrqEof(), int64_t(view.size())) << "step " << step;
    }
}

}  // namespace
