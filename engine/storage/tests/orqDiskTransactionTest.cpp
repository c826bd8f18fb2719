// Transactions of the database file manager as other connections see them: a second connection
// in its own process sees nothing before commit and everything after; appends made by another
// connection while a transaction runs are not overwritten; a rollback restores the file, the
// header and the map chain.
#include <gtest/gtest.h>

#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "support/DiskTestSupport.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;

class DiskTransactionTest : public ::testing::Test {
protected:
    test::TempDir Dir;
    std::string Path = Dir.File("tx.orq");
};

TEST_F(DiskTransactionTest, SecondConnectionSeesNothingBeforeCommitAndEverythingAfter) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    const std::string definition = "definition record written in the transaction";
    test::Child child([&](test::Child& self) {
        auto other = OpenDatabase(Path);
        std::vector<uint8_t> pages(2 * PS);
        std::string stored(definition.size(), '\0');
        self.Send('r');
        if (self.Receive() != 'w') return 10;
        // Before the commit: the file, its header and its map as they were.
        if (other->GetFileSize() != 6 * PS) return 11;
        other->SetHeaderReadLock();
        const uint32_t hint = other->GlobalHdr()->FirstMapPageEmpty();
        other->ReleaseHeaderLock();
        if (hint != 5 * PS) return 12;
        other->ReadCustomSize(8, uint32_t(stored.size()), 0, 0, stored.data());
        if (stored != std::string(definition.size(), '\0')) return 13;
        if (other->DebugCheckAddressOwnerFlags((5 << 4) | 9, 6 * PS) == 0) return 14;
        self.Send('b');
        if (self.Receive() != 'c') return 20;
        // After it: all of it.
        if (other->GetFileSize() != 8 * PS) return 21;
        other->ReadPages(6 * PS, 2, 5, 1, pages.data());
        if (pages != Pages(2, 0xAB)) return 22;
        if (other->DebugCheckAddressOwnerFlags((5 << 4) | 9, 7 * PS) != 0) return 23;
        other->ReadCustomSize(8, uint32_t(stored.size()), 0, 0, stored.data());
        if (stored != definition) return 24;
        other->SetHeaderReadLock();
        const uint32_t after = other->GlobalHdr()->FirstMapPageEmpty();
        other->ReleaseHeaderLock();
        if (after != 0) return 25;
        self.Send('a');
        return 0;
    });
    ASSERT_EQ(child.Receive(), 'r');
    disk->DiskStartTransaction(false);
    const auto data = Pages(2, 0xAB);
    EXPECT_EQ(disk->WriteNewPages(5, 1, CUsageRecord, 2, data.data()), 6 * PS);
    disk->WriteCustomSize(8, uint32_t(definition.size()), 0, 0, definition.data());
    EXPECT_EQ(disk->GetFileSize(), 8 * PS);
    child.Send('w');
    EXPECT_EQ(child.Receive(), 'b');
    disk->DiskCommit();
    child.Send('c');
    EXPECT_EQ(child.Receive(), 'a');
    EXPECT_EQ(child.Wait(), 0);
}

TEST_F(DiskTransactionTest, AppendsOfAnotherConnectionAreNotOverwritten) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    // The transaction starts while the file has 6 pages; nothing is locked yet.
    disk->DiskStartTransaction(false);
    test::Child child([&](test::Child& self) {
        auto other = OpenDatabase(Path);
        const auto data = Pages(2, 0xBB);
        if (other->WriteNewPages(7, 1, CUsageRecord, 2, data.data()) != 6 * PS) return 1;
        other->Close();
        self.Send('d');
        return 0;
    });
    ASSERT_EQ(child.Receive(), 'd');
    EXPECT_EQ(child.Wait(), 0);

    // The header lock is taken now: the end of the file is the end the other connection left.
    const auto data = Pages(1, 0xAA);
    EXPECT_EQ(disk->WriteNewPages(5, 1, CUsageRecord, 1, data.data()), 8 * PS);
    disk->DiskCommit();
    disk->Close();

    EXPECT_EQ(test::ReadAll(Path).size(), 9 * PS);
    EXPECT_EQ(ReadRange(Path, 6 * PS, 2 * PS), std::string(2 * PS, char(0xBB)));
    EXPECT_EQ(ReadRange(Path, 8 * PS, PS), std::string(PS, char(0xAA)));
    EXPECT_EQ(StoredEntry(Path, 5 * PS, 6), (7 << 4) | 9);
    EXPECT_EQ(StoredEntry(Path, 5 * PS, 7), (7 << 4) | 9);
    EXPECT_EQ(StoredEntry(Path, 5 * PS, 8), (5 << 4) | 9);
}

TEST_F(DiskTransactionTest, RollbackRestoresFileHeaderAndMapChain) {
    CreateDatabase(Path);
    auto disk = OpenDatabase(Path);
    const auto one = Pages(1, 0x11);
    EXPECT_EQ(disk->WriteNewPages(1, 1, CUsageRecord, 1, one.data()), 6 * PS);
    const std::string before = test::ReadAll(Path);

    disk->DiskStartTransaction(false);
    const auto two = Pages(3, 0x22);
    disk->WriteNewPages(2, 1, CUsageIndex, 3, two.data());
    disk->ReleasePages(6 * PS, 1);
    disk->WriteCustomSize(8, 4, 0, 0, "defn");
    disk->SetHeaderWriteLock();
    disk->GlobalHdr()->SetTableHeadersFirstEmpty(0x7000);
    disk->ReleaseHeaderLock();
    disk->DiskRollback();

    EXPECT_TRUE(test::ReadAll(Path) == before);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(disk->GlobalHdr()->Buffer()), 128), ReadRange(Path, 1024, 128));
    std::vector<uint8_t> page(PS);
    disk->ReadPages(6 * PS, 1, 1, 1, page.data());
    EXPECT_EQ(page, one);
    // The end of the file is the real one again.
    EXPECT_EQ(disk->WriteNewPages(2, 1, CUsageIndex, 1, one.data()), 7 * PS);

    // A rolled-back transaction that added a map page: the chain forgets that page, and the
    // page the next map page is made at is a different one.
    const auto bulk = Pages(EPP - 10, 0x33);
    EXPECT_EQ(disk->WriteNewPages(3, 1, CUsageRecord, EPP - 10, bulk.data()), 8 * PS);  // up to page 2035
    const std::string filled = test::ReadAll(Path);
    disk->DiskStartTransaction(false);
    for (uint32_t page : {2036u, 2037u, 2038u, 2040u, 2041u})
        EXPECT_EQ(disk->WriteNewPages(4, 1, CUsageRecord, 1, one.data()), page * PS);
    EXPECT_EQ(disk->GlobalHdr()->MapPageCount(), 2u);
    disk->DiskRollback();
    EXPECT_EQ(disk->GlobalHdr()->MapPageCount(), 1u);
    EXPECT_TRUE(test::ReadAll(Path) == filled);

    const auto pair = Pages(2, 0x44);
    EXPECT_EQ(disk->WriteNewPages(5, 1, CUsageRecord, 2, pair.data()), 2036 * PS);
    EXPECT_EQ(disk->WriteNewPages(4, 1, CUsageRecord, 2, pair.data()), 2038 * PS);  // map page 1 at 2040
    EXPECT_EQ(disk->WriteNewPages(4, 1, CUsageRecord, 1, one.data()), 2041 * PS);
    disk->Close();
    disk = OpenDatabase(Path);
    EXPECT_EQ(disk->DebugCheckStatus(), "");
    std::vector<uint32_t> pages;
    disk->DebugListOwnedPages(4, pages);
    EXPECT_EQ(pages, (std::vector<uint32_t>{2038 * PS, 2039 * PS, 2041 * PS}));
    EXPECT_EQ(U32(ReadRange(Path, 5 * PS + 4, 4), 0), 2040 * PS);
    EXPECT_EQ(StoredEntry(Path, 2040 * PS, 2040 - EPP), CUsageMapPage);
}

}  // namespace
}  // namespace ostra
