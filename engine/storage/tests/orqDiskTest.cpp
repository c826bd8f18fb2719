// Tests of the database file manager: the new file's bytes, page size rules, the security
// header and master key, open modes and read-only files, the header lock, transaction locks,
// and injected I/O failures. Transactions seen from another process are in
// orqDiskTransactionTest.cpp, the allocation maps in orqMapPageMgrTest.cpp.
#include "engine/storage/orqDisk.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqErrors.h"
#include "host/DateTime.h"
#include "host/StringList.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/CrashHarness.h"
#include "support/DiskTestSupport.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;

class DiskTest : public ::testing::Test {
protected:
    test::TempDir Dir;
    std::string Path = Dir.File("db.orq");
    std::string LockPath = Dir.File("db.lck");
};

// A fault for the N-th call of one kind, and the engine error it must give.
struct FileOpCase {
    platform::FileOp Op;
    int64_t N;
    int32_t Code;
};

// The bytes of a new file, built by hand from the layout.
std::string ExpectedNewFile(uint32_t PageSize = PS) {
    std::string bytes(6 * PageSize, '\0');
    PutU32(bytes, 1024 + 16, 5 * PageSize);          // FirstMapPageEmpty
    PutU32(bytes, 1024 + 20, 5 * PageSize);          // FirstMapPage
    PutU32(bytes, 1024 + 24, 1);                     // MapPageCount
    if (PageSize > PS) PutU32(bytes, 1024 + 44, 1);  // IndexPageLayout: index pages owned alone
    for (uint32_t page = 0; page < 5; ++page) PutU16(bytes, 5 * PageSize + 20 + 2 * page, 1);
    PutU16(bytes, 5 * PageSize + 20 + 2 * 5, 2);
    return bytes;
}

TEST_F(DiskTest, NewFileIsByteForByteTheLayout) {
    CreateDatabase(Path);
    const std::string bytes = test::ReadAll(Path);
    ASSERT_EQ(bytes.size(), 24576u);
    EXPECT_TRUE(bytes == ExpectedNewFile());
    EXPECT_FALSE(platform::FileExists(LockPath));

    // The first page handed out is appended at page 6; the stale hint of the new file is repaired.
    auto disk = OpenDatabase(Path);
    const auto data = Pages(1, 0x5A);
    EXPECT_EQ(disk->WriteNewPages(3, 1, CUsageRecord, 1, data.data()), 6 * PS);
    disk->Close();
    EXPECT_EQ(StoredEntry(Path, 5 * PS, 6), (3 << 4) | 9);
    EXPECT_EQ(U32(ReadRange(Path, 1024, 128), 16), 0u);
    EXPECT_EQ(U32(ReadRange(Path, 1024, 128), 24), 1u);
    EXPECT_EQ(ReadRange(Path, 6 * PS, PS), std::string(PS, char(0x5A)));
}

TEST_F(DiskTest, PageSizeRules) {
    struct Case {
        uint32_t PageSize;
        bool Valid;
    };
    for (Case c : {Case{0, false}, Case{128, false}, Case{2048, false}, Case{4097, false}, Case{65536, false},
                   Case{4096, true}, Case{8192, true}, Case{32768, true}}) {
        SCOPED_TRACE(c.PageSize);
        TDiskMgr disk;
        disk.SetFileName(Path);
        disk.SetPageSize(c.PageSize);
        if (!c.Valid) {
            EXPECT_NE(ErrorText([&] { disk.CreateNewFile(true); }).find("Invalid database page size"), std::string::npos);
            continue;
        }
        disk.CreateNewFile(true);
        EXPECT_EQ(test::ReadAll(Path).size(), 6 * c.PageSize);
        disk.SetOpenFlags(SharedRW);
        disk.Open();
        EXPECT_EQ(disk.GlobalHdr()->FirstMapPage(), 5 * c.PageSize);
        disk.Close();
    }
    TDiskMgr disk;
    disk.SetFileName(Path);
    disk.SetPageSize(0);
    EXPECT_NE(ErrorText([&] { disk.Open(); }).find("PageSize is 0"), std::string::npos);

    // A file made with 32768-byte pages opened with 4096: the header does not fit the layout.
    disk.SetPageSize(4096);
    EXPECT_EQ(ErrorCode([&] { disk.Open(); }), 8961);
    // The failed open leaves nothing behind: no handle, no slot, no lock file.
    EXPECT_FALSE(disk.IsOpen());
    EXPECT_FALSE(disk.File().CheckOpen());
    EXPECT_FALSE(platform::FileExists(LockPath));
}

// Files with pages above 4096 are made with the index-page layout mark (a file with 4096-byte
// pages is made as before, above); a file with larger pages without it was made before, and any
// other value is a corrupt header.
TEST_F(DiskTest, LargerPagesCarryTheIndexPageLayout) {
    for (uint32_t pageSize : {PS, 2 * PS, 4 * PS, 8 * PS}) {
        SCOPED_TRACE(pageSize);
        CreateDatabase(Path, pageSize);
        EXPECT_TRUE(test::ReadAll(Path) == ExpectedNewFile(pageSize));
        EXPECT_FALSE(OpenDatabase(Path, SharedRW, 3, pageSize)->IndexPagesMayBeShared());
        PatchU32(Path, 1024 + CHdrIndexPageLayout, 0);
        EXPECT_EQ(OpenDatabase(Path, SharedRW, 3, pageSize)->IndexPagesMayBeShared(), pageSize > PS);
        PatchU32(Path, 1024 + CHdrIndexPageLayout, 2);
        EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path, SharedRW, 3, pageSize); }), 8961);
    }
}

// DeleteOwnedPages frees a table's pages; in a file whose index pages may hold other tables'
// blocks, the table's index pages go to the kept owner with their bytes instead.
TEST_F(DiskTest, DeleteOwnedPagesKeepsTheIndexPagesOfAFileMadeBefore) {
    for (bool madeBefore : {false, true}) {
        SCOPED_TRACE(madeBefore);
        CreateDatabase(Path, 2 * PS);
        if (madeBefore) PatchU32(Path, 1024 + CHdrIndexPageLayout, 0);
        auto disk = OpenDatabase(Path, SharedRW, 3, 2 * PS);
        const auto data = Pages(2, 0x33, 2 * PS);
        const uint32_t index = disk->WriteNewPages(3, 1, CUsageIndex, 2, data.data());
        const uint32_t record = disk->WriteNewPages(3, 1, CUsageRecord, 1, data.data());
        const uint32_t other = disk->WriteNewPages(4, 1, CUsageIndex, 1, data.data());

        disk->DeleteOwnedPages(3, CUsageRecord, true);
        EXPECT_EQ(disk->DebugCheckAddressOwnerFlags(3 << 4 | CUsageIndex, index), 0) << "another usage";
        EXPECT_EQ(disk->DebugCheckAddressOwnerFlags(0, record), -2);
        disk->DeleteOwnedPages(3, 0, false);
        for (uint32_t page : {index, index + 2 * PS}) {
            if (madeBefore) {
                EXPECT_EQ(disk->DebugCheckAddressOwnerFlags(CKeptIndexPageOwner, page), 0);
                EXPECT_EQ(ReadRange(Path, page, 2 * PS), std::string(2 * PS, char(0x33)));
            } else {
                EXPECT_EQ(disk->DebugCheckAddressOwnerFlags(0, page), -2);
                EXPECT_EQ(ReadRange(Path, page, 2 * PS), std::string(2 * PS, '\0'));
            }
        }
        EXPECT_EQ(disk->DebugCheckAddressOwnerFlags(4 << 4 | CUsageIndex, other), 0);
        disk->Close();
        EXPECT_EQ(crashtest::CheckStorageStructure(test::ReadAll(Path), 2 * PS), "");
    }
}

TEST_F(DiskTest, CreateAndOpenRefusals) {
    TDiskMgr disk;
    disk.SetFileName(Path);
    disk.SetPageSize(PS);
    EXPECT_EQ(ErrorCode([&] { disk.Open(); }), 11010);
    disk.CreateNewFile(false);
    EXPECT_EQ(ErrorCode([&] { disk.CreateNewFile(false); }), 11043);

    // A file in use is never truncated under its users.
    auto user = OpenDatabase(Path);
    EXPECT_EQ(ErrorCode([&] { disk.CreateNewFile(true); }), 8582);
    user->Close();
    disk.CreateNewFile(true);
    EXPECT_TRUE(test::ReadAll(Path) == ExpectedNewFile());
}

TEST_F(DiskTest, SecurityHeaderAndMasterKey) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    disk->SetCryptKey("");
    EXPECT_EQ(disk->CryptKey(), "7q!mR2vx8Lp#zK");
    TSecurityHeader header;
    const double before = Now();
    disk->WriteSecurityHeader(header);

    std::string bytes = ReadRange(Path, 768, 40);
    ASSERT_EQ(bytes.size(), 40u);
    EXPECT_EQ(U32(bytes, 0), 40u);
    double writtenAt;
    std::memcpy(&writtenAt, bytes.data() + 4, 8);
    EXPECT_GE(writtenAt, before - 1e-6);
    EXPECT_LE(writtenAt, Now() + 1e-6);
    EXPECT_EQ(U16(bytes, 12), 1);
    EXPECT_EQ(U16(bytes, 14), 1);
    uint8_t digest[20];
    GetSHA1FromString("7q!mR2vx8Lp#zK", digest);
    EXPECT_EQ(bytes.substr(16, 20), std::string(reinterpret_cast<char*>(digest), 20));
    const uint32_t crc = U32(bytes, 36);
    PutU32(bytes, 36, 0);
    EXPECT_EQ(crc, CalcCRC(bytes.data(), 40));
    EXPECT_EQ(header.HeaderCRC, crc);

    TSecurityHeader read;
    disk->ReadSecurityHeader(read);
    EXPECT_EQ(read.HeaderCRC, crc);
    disk->SetCryptKey("secret");
    EXPECT_NE(ErrorText([&] { disk->ReadSecurityHeader(read); }).find("The MasterKey is incorrect"), std::string::npos);
    EXPECT_EQ(ErrorCode([&] { disk->ReadSecurityHeader(read); }), 8451);

    // One changed byte fails the CRC before the key is looked at.
    disk->SetCryptKey("");
    PatchFile(Path, 768 + 13, std::string(1, '\x07'));
    EXPECT_NE(ErrorText([&] { disk->ReadSecurityHeader(read); }).find("The Security Header CRC is incorrect"),
              std::string::npos);

    // Blowfish takes at most 56 key bytes: a longer master key is refused, the old one stays.
    disk->SetCryptKey(std::string(56, 'k'));
    EXPECT_EQ(ErrorCode([&] { disk->SetCryptKey(std::string(57, 'k')); }), 9602);
    EXPECT_EQ(disk->CryptKey(), std::string(56, 'k'));
}

TEST_F(DiskTest, ExclusiveAndSharedOpensExcludeEachOther) {
    CreateDatabase(Path);
    {
        auto exclusive = OpenDatabase(Path, ExclusiveRW);
        EXPECT_TRUE(exclusive->Exclusive());
        EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path, SharedRW); }), 8449);
        EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path, ExclusiveRW); }), 8449);
    }
    auto shared = OpenDatabase(Path, SharedRW);
    EXPECT_FALSE(shared->Exclusive());
    EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path, ExclusiveRW); }), 8449);
    auto second = OpenDatabase(Path, SharedRW);
    EXPECT_TRUE(platform::FileExists(LockPath));
    TStringList users;
    second->GetCurrentUsers(&users);
    EXPECT_EQ(users.Count(), 1);
    second.reset();
    shared.reset();
    EXPECT_FALSE(platform::FileExists(LockPath));

    // The same in another process: the child's exclusive open keeps this one out until it leaves.
    test::Child child([&](test::Child& self) {
        auto disk = OpenDatabase(Path, ExclusiveRW);
        self.Send('o');
        self.Receive();
        return 0;
    });
    ASSERT_EQ(child.Receive(), 'o');
    EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path, SharedRW); }), 8449);
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path, SharedRW); }), 0);
}

TEST_F(DiskTest, ReadOnlyFileOpensWithoutLockFile) {
    CreateDatabase(Path);
    ASSERT_TRUE(platform::FileSetReadOnly(Path, true));
    EXPECT_EQ(ErrorCode([&] { OpenDatabase(Path, SharedRW); }), 8449);
    auto disk = OpenDatabase(Path, fmOpenRead | fmShareDenyNone);
    EXPECT_TRUE(disk->ReadOnly());
    EXPECT_FALSE(disk->UsesLockFile());
    EXPECT_FALSE(platform::FileExists(LockPath));
    EXPECT_EQ(disk->TableLockMgr(), nullptr);
    EXPECT_EQ(disk->SetTableLock(3, CWriteLock), CWriteLock);
    EXPECT_EQ(disk->QueryTableLockStatus(3), CReadLock);
    EXPECT_EQ(disk->SetRecordLock(0x10000, 3), CReadLock);
    EXPECT_EQ(disk->QueryRecordLockStatus(0x10000), CReadLock);
    TStringList users;
    EXPECT_EQ(ErrorCode([&] { disk->GetCurrentUsers(&users); }), 10501);
    std::vector<uint8_t> page(PS);
    disk->ReadPages(5 * PS, 1, 0, 0, page.data());
    EXPECT_EQ(page[20], 1);
    disk.reset();
    platform::FileSetReadOnly(Path, false);
}

TEST(GetBestPageRequestSizeTest, Table) {
    struct Case {
        uint32_t BlockSize, PageSize, Expected;
    };
    for (Case c : {Case{256, 4096, 4096}, Case{1000, 4096, 4096}, Case{3000, 4096, 12288}, Case{5000, 4096, 45056},
                   Case{4096, 4096, 4096}, Case{1, 4096, 4096}, Case{8192, 4096, 8192}, Case{3000, 8192, 57344}}) {
        SCOPED_TRACE(c.BlockSize);
        EXPECT_EQ(GetBestPageRequestSize(c.BlockSize, c.PageSize), c.Expected);
    }
    EXPECT_THROW(GetBestPageRequestSize(0, 4096), EAssertionFailed);
}

TEST_F(DiskTest, HeaderLockStateStaysHonest) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    auto other = OpenDatabase(Path, SharedRW, 1);
    const auto data = Pages(3, 1);
    disk->WriteNewPages(4, 1, CUsageRecord, 3, data.data());
    EXPECT_EQ(disk->QueryTableLockStatus(0), CNoLock);

    // Listing blocks under a header write lock held by the caller keeps that lock.
    disk->SetHeaderWriteLock();
    std::vector<uint32_t> blocks;
    disk->ListAllocatedFixedBlocks(3000, 4, CUsageRecord, blocks);
    EXPECT_EQ(blocks.size(), 4u);
    EXPECT_TRUE(disk->HeaderWriteLocked());
    EXPECT_EQ(disk->QueryTableLockStatus(0), CWriteLock);
    EXPECT_EQ(ErrorCode([&] { other->SetHeaderReadLock(); }), 10249);
    disk->ReleaseHeaderLock();

    // Taken by the listing itself, it is given back.
    disk->ListAllocatedFixedBlocks(3000, 4, CUsageRecord, blocks);
    EXPECT_FALSE(disk->HeaderReadLocked());
    EXPECT_EQ(disk->QueryTableLockStatus(0), CNoLock);

    // A header changed under the lock is written when the lock goes; another connection sees it.
    disk->SetHeaderWriteLock();
    disk->GlobalHdr()->SetIndexesFirstEmpty(0x12345000);
    disk->ReleaseHeaderLock();
    other->SetHeaderReadLock();
    EXPECT_EQ(other->GlobalHdr()->IndexesFirstEmpty(), 0x12345000u);
    other->ReleaseHeaderLock();
    EXPECT_EQ(ErrorCode([&] { disk->ReadHeader(); }), 10248);
}

TEST_F(DiskTest, LockWaitsSetOnAnOpenFileReachItsLockManagers) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    disk->SetLockRetryCount(77);
    disk->SetLockRetryInterval(9);
    for (TBaseLockMgr* manager : {disk->TableLockMgr(), disk->RecordLockMgr()}) {
        EXPECT_EQ(manager->LockRetryCount(), 77);
        EXPECT_EQ(manager->LockRetryInterval(), 9);
    }
}

TEST_F(DiskTest, TransactionHoldsTableLocksAsReadLocksUntilCommit) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    auto other = OpenDatabase(Path, SharedRW, 1);
    disk->DiskStartTransaction(false);
    EXPECT_EQ(disk->SetTableLock(3, CWriteLock), CReadLock);
    disk->ReleaseTableLock(3);
    EXPECT_EQ(disk->QueryTableLockStatus(3), CReadLock);
    EXPECT_TRUE(disk->TransactionLockMgr()->LockExists(3, CWriteLock));
    EXPECT_EQ(disk->SetRecordLock(0x10000, 3), CWriteLock);
    disk->ReleaseRecordLock(0x10000);
    EXPECT_EQ(disk->QueryRecordLockStatus(0x10000), CWriteLock);
    // Another connection cannot use the table in a transaction of its own, but may still read it.
    other->TransactionLockMgr()->SetLockRetryCount(1);
    other->DiskStartTransaction(false);
    EXPECT_EQ(ErrorCode([&] { other->SetTableLock(3, CReadLock); }), 10249);
    other->DiskRollback();
    EXPECT_EQ(other->SetTableLock(3, CReadLock), CReadLock);

    // The commit needs the write lock before it writes anything: the reader stops it, and the
    // transaction ends as rolled back, its locks released and nothing of it in the file.
    const auto data = Pages(1, 0x33);
    const uint32_t address = disk->WriteNewPages(3, 1, CUsageRecord, 1, data.data());
    const std::string before = test::ReadAll(Path);
    EXPECT_EQ(ErrorCode([&] { disk->DiskCommit(); }), 10249);
    EXPECT_FALSE(disk->IsTransactionActive());
    EXPECT_EQ(disk->TableLockMgr()->GetLockCount(), 0);
    EXPECT_EQ(disk->RecordLockMgr()->GetLockCount(), 0);
    EXPECT_EQ(disk->TransactionLockMgr()->GetLockCount(), 0);
    EXPECT_TRUE(test::ReadAll(Path) == before);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(disk->GlobalHdr()->Buffer()), 128), ReadRange(Path, 1024, 128));

    other->ReleaseTableLock(3);
    disk->DiskStartTransaction(false);
    EXPECT_EQ(disk->SetTableLock(3, CWriteLock), CReadLock);
    EXPECT_EQ(disk->WriteNewPages(3, 1, CUsageRecord, 1, data.data()), address);
    disk->DiskCommit();
    EXPECT_FALSE(disk->IsTransactionActive());
    EXPECT_EQ(disk->TableLockMgr()->GetLockCount(), 0);
    EXPECT_EQ(disk->TransactionLockMgr()->GetLockCount(), 0);
    EXPECT_EQ(ReadRange(Path, address, PS), std::string(PS, char(0x33)));
}

TEST_F(DiskTest, TransactionsWithoutTableTransactionLocksStillSerializeOnTheHeader) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    auto other = OpenDatabase(Path, SharedRW, 1);
    other->TransactionLockMgr()->SetLockRetryCount(1);
    disk->DiskStartTransaction(true);
    other->DiskStartTransaction(true);
    EXPECT_EQ(disk->SetTableLock(3, CWriteLock), CReadLock);
    EXPECT_EQ(other->SetTableLock(3, CWriteLock), CReadLock);
    const auto data = Pages(1, 0x21);
    EXPECT_EQ(disk->WriteNewPages(1, 1, CUsageRecord, 1, data.data()), 6 * PS);
    // Both would otherwise take page 6 and write their own maps over each other at commit.
    EXPECT_EQ(ErrorCode([&] { other->WriteNewPages(2, 1, CUsageRecord, 1, data.data()); }), 10249);
    other->DiskRollback();
    disk->DiskCommit();
    EXPECT_EQ(other->WriteNewPages(2, 1, CUsageRecord, 1, data.data()), 7 * PS);
}

TEST_F(DiskTest, ForceToDiskWritesUnderWriteLocksAndGoesOn) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    auto other = OpenDatabase(Path, SharedRW, 1);
    disk->DiskStartTransaction(false);
    EXPECT_EQ(disk->SetTableLock(3, CWriteLock), CReadLock);
    const auto data = Pages(1, 0x44);
    const uint32_t address = disk->WriteNewPages(3, 1, CUsageRecord, 1, data.data());
    EXPECT_EQ(test::ReadAll(Path).size(), 6 * PS);
    disk->ForceToDisk();
    // Written, flushed, and the table is now write-locked: no reader while the pages change.
    EXPECT_EQ(ReadRange(Path, address, PS), std::string(PS, char(0x44)));
    EXPECT_EQ(disk->QueryTableLockStatus(3), CWriteLock);
    EXPECT_EQ(ErrorCode([&] { other->SetTableLock(3, CReadLock); }), 10249);
    EXPECT_TRUE(disk->IsTransactionActive());

    // The transaction goes on; a rollback now drops only what came after ForceToDisk.
    const auto more = Pages(1, 0x55);
    disk->WritePages(address, 1, 3, 1, more.data());
    disk->DiskRollback();
    EXPECT_EQ(ReadRange(Path, address, PS), std::string(PS, char(0x44)));
    std::vector<uint8_t> page(PS);
    disk->ReadPages(address, 1, 3, 1, page.data());
    EXPECT_EQ(page[0], 0x44);
    EXPECT_EQ(other->SetTableLock(3, CReadLock), CReadLock);

    // Outside a transaction it only flushes.
    platform::NthCallFault flushFails(platform::FileOps(platform::FileOp::Flush), 1, platform::FileFault{EIO}, true,
                                      "db.orq");
    platform::ScopedFileFaultInjector injected(flushFails);
    EXPECT_EQ(ErrorCode([&] { disk->ForceToDisk(); }), 8450);
}

TEST_F(DiskTest, WriteFailureInTheMiddleOfACommitLeavesTheFileAsItWas) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    const std::string original = test::ReadAll(Path);
    const auto data = Pages(4, 0x66);
    for (FileOpCase c : {FileOpCase{platform::FileOp::Write, 3, 9218}, FileOpCase{platform::FileOp::Flush, 1, 8450}}) {
        disk->DiskStartTransaction(false);
        disk->WriteNewPages(2, 1, CUsageIndex, 4, data.data());
        disk->WriteNewPages(2, 1, CUsageRecord, 1, data.data());
        {
            // The commit writes five pages, the map page and the header: the third write (or the
            // flush) of the database fails.
            platform::NthCallFault fails(platform::FileOps(c.Op), c.N, platform::FileFault{EIO}, false, "db.orq");
            platform::ScopedFileFaultInjector injected(fails);
            EXPECT_EQ(ErrorCode([&] { disk->DiskCommit(); }), c.Code);
            EXPECT_EQ(fails.Injected(), 1);
        }
        // Rolled back: no locks, the file as it was (appended pages cut off), the header in memory
        // the one on disk, no journal left.
        EXPECT_FALSE(disk->IsTransactionActive());
        EXPECT_EQ(disk->TableLockMgr()->GetLockCount(), 0);
        EXPECT_EQ(disk->TransactionLockMgr()->GetLockCount(), 0);
        EXPECT_TRUE(test::ReadAll(Path) == original);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(disk->GlobalHdr()->Buffer()), 128),
                  ReadRange(Path, 1024, 128));
        EXPECT_FALSE(platform::FileExists(Dir.File("db.orj")));
    }
    EXPECT_EQ(disk->WriteNewPages(2, 1, CUsageRecord, 1, data.data()), 6 * PS);
    EXPECT_EQ(disk->DebugCheckStatus(), "");
}

TEST_F(DiskTest, FailedPageOperationGivesTheHeaderLockBack) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    auto other = OpenDatabase(Path, SharedRW, 1);
    const auto data = Pages(2, 0x77);
    {
        platform::NthCallFault writeFails(platform::FileOps(platform::FileOp::Write), 1, platform::FileFault{ENOSPC},
                                          false, "db.orq");
        platform::ScopedFileFaultInjector injected(writeFails);
        EXPECT_EQ(ErrorCode([&] { disk->WriteNewPages(1, 1, CUsageRecord, 2, data.data()); }), 9218);
    }
    EXPECT_FALSE(disk->HeaderReadLocked());
    EXPECT_EQ(disk->QueryTableLockStatus(0), CNoLock);
    other->SetHeaderWriteLock();
    other->ReleaseHeaderLock();
    // Nothing was marked for the pages that were not written; the next request gets them.
    EXPECT_EQ(disk->WriteNewPages(1, 1, CUsageRecord, 2, data.data()), 6 * PS);
    EXPECT_EQ(disk->DebugCheckStatus(), "");

    // A failure inside an operation whose header lock the caller holds leaves the lock held.
    disk->SetHeaderWriteLock();
    {
        platform::NthCallFault writeFails(platform::FileOps(platform::FileOp::Write), 1, platform::FileFault{EIO},
                                          false, "db.orq");
        platform::ScopedFileFaultInjector injected(writeFails);
        EXPECT_NE(ErrorCode([&] { disk->WriteNewPages(1, 1, CUsageRecord, 1, data.data()); }), 0);
    }
    EXPECT_TRUE(disk->HeaderWriteLocked());
    EXPECT_EQ(disk->QueryTableLockStatus(0), CWriteLock);
    disk->ReleaseHeaderLock();
}

TEST_F(DiskTest, ByteRangesCopiesAndDebugAids) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    const auto data = Pages(1, 0x10);
    const uint32_t page = disk->WriteNewPages(2, 1, CUsageIndex, 1, data.data());
    uint8_t* cached = nullptr;
    disk->ReadCustomSizeByRef(page + 100, 8, 2, 1, cached);
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(cached[0], 0x10);
    cached[0] = 0x99;  // changed in place, then declared written
    disk->WriteCustomSizeByRef(page, PS, 2, 1, cached - 100);
    EXPECT_EQ(ReadRange(Path, page + 100, 1), std::string(1, char(0x99)));

    const std::string copy = Dir.File("copy.orq");
    disk->CopyCurrentFile(copy);
    EXPECT_TRUE(test::ReadAll(copy) == test::ReadAll(Path));
    EXPECT_FALSE(DoCopyFile(Path, copy, false));
    EXPECT_TRUE(DoCopyFile(Path, copy, true));

    TStringList dump;
    disk->SetDebugStrings(&dump);
    disk->DebugDumpContents();
    ASSERT_EQ(dump.Count(), 5);
    EXPECT_EQ(dump.Strings(0), "GLOBAL HEADER Settings");
    EXPECT_EQ(dump.Strings(1), "FirstMap 20480  FirstEmpty 0 MapCount 1");
    EXPECT_EQ(dump.Strings(2), "TblHdrFE 0  SysHdrFE 0 IdxFE 0");
    EXPECT_EQ(dump.Strings(3), "Map Addr= 20480 ID= 0 NextAddr= 0 FirstE= 0");
    EXPECT_EQ(dump.Strings(4).substr(0, 40), "0:U 0,1  1:U 0,1  2:U 0,1  3:U 0,1  4:U ");
    EXPECT_NE(dump.Strings(4).find("5:U 0,2  6:U 2,8  7:X 0  8:X 0"), std::string::npos);
    TStringList contents;
    disk->DebugCheckContents(&contents);
    EXPECT_EQ(contents.Count(), 1);
    EXPECT_EQ(contents.Strings(0), "0028");
    EXPECT_EQ(disk->DebugCheckStatus(), "");

    // Items of the global header lie wholly within its 128 bytes.
    TGlobalHdr* header = disk->GlobalHdr();
    EXPECT_EQ(header->GlobalInterfaceGetHdrItem(124), 0u);
    EXPECT_EQ(ErrorCode([&] { header->GlobalInterfaceGetHdrItem(125); }), 8581);
    EXPECT_EQ(ErrorCode([&] { header->GlobalInterfaceGetHdrItem(0); }), 8581);
    EXPECT_EQ(ErrorCode([&] { header->GlobalInterfaceSetHdrItem(1, 127); }), 8581);
    EXPECT_FALSE(header->Dirty());
    header->SetGlobalDBGenerator(0);
    EXPECT_FALSE(header->Dirty());
    header->SetGlobalDBGenerator(5);
    EXPECT_TRUE(header->Dirty());
}

// Pages of the file that no map entry owns or frees are never handed out again: the status check
// names them.
TEST_F(DiskTest, StatusCheckReportsPagesThatNoMapEntryOwns) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    const auto data = Pages(2, 0x20);
    EXPECT_EQ(disk->DebugCheckStatus(), "");
    EXPECT_EQ(disk->AppendNewPages(data.data(), 2, 2, 1), 6 * PS);  // written, not marked
    EXPECT_EQ(disk->DebugCheckStatus(), "Pages without a map entry: 2, the first at 24576");
    disk->WriteNewPages(2, 1, CUsageIndex, 1, data.data());                         // marked: not counted
    disk->ReleasePages(disk->WriteNewPages(2, 1, CUsageIndex, 1, data.data()), 1);  // free: not counted
    EXPECT_EQ(disk->DebugCheckStatus(), "Pages without a map entry: 2, the first at 24576");
}

TEST_F(DiskTest, CloseWithoutOpenAndReopen) {
    TDiskMgr idle;
    idle.Close();
    EXPECT_FALSE(idle.IsOpen());
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    disk->Open();  // closes first
    EXPECT_TRUE(disk->IsOpen());
    TStringList users;
    disk->GetCurrentUsers(&users);
    EXPECT_EQ(users.Count(), 1);
    EXPECT_GT(disk->DiskCacheSize(), 0);
    disk->Close();
    EXPECT_EQ(disk->DiskCacheSize(), 0);
    EXPECT_FALSE(platform::FileExists(LockPath));
}

}  // namespace
}  // namespace ostra
