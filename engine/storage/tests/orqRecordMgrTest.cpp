// The record manager over an in-memory record storage: opening (blob entries, record size
// rules), the record operations and the internal copy they keep, and the blob list's lookup
// and combined state; the walk in storage order over a disk storage with free blocks.
#include "engine/storage/orqRecordMgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/storage/orqErrors.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Exceptions.h"
#include "support/DiskTestSupport.h"
#include "testsupport/TestFiles.h"
#include "support/orqLayoutFixture.h"

namespace ostra {
namespace {

using disktest::ErrorCode;
using testing::FieldSpec;

class RecordMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto layout = testing::MakeLayout({{"Id", ftInteger},
                                           {"Notes", ftMemo},
                                           {"Name", ftString, 10},
                                           {"Data", ftBlob},
                                           {"Picture", ftGraphic}});
        Size = layout->RecordSize();
        Mgr.Fields().Assign(layout.get());
        Mgr.SetRecordSize(Size);
        Storage.SetBlockSize(uint32_t(Size));
        Storage.Open();
        Mgr.Open(&Storage);
    }
    std::vector<uint8_t> Record(uint8_t Fill) {
        std::vector<uint8_t> r(size_t(Size), Fill);
        return r;
    }

    TRecordMgr Mgr;
    TMemoryIOInterface Storage;
    int32_t Size = 0;
};

TEST_F(RecordMgrTest, OpenMakesAnInvalidBlobEntryPerBlobField) {
    TBlobMgr& blobs = Mgr.BlobMgr();
    ASSERT_EQ(blobs.Count(), 3);
    EXPECT_EQ(blobs.GetItems(0)->FieldNo(), 1);
    EXPECT_EQ(blobs.GetItems(1)->FieldNo(), 3);
    EXPECT_EQ(blobs.GetItems(2)->FieldNo(), 4);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(blobs.GetItems(i)->State(), bsInvalid);
    EXPECT_EQ(Mgr.Fields().RecordSize(), Size);
    EXPECT_EQ(Mgr.Fields().GetField(3)->FieldName(), "Data");

    EXPECT_THROW(Mgr.SetRecordSize(10), EAssertionFailed) << "not while the buffer exists";
    Mgr.Close();
    EXPECT_EQ(Mgr.BlobMgr().Count(), 0);
    EXPECT_EQ(Mgr.Fields().Count(), 0);
    EXPECT_EQ(Mgr.InternalBuffer(), nullptr);
    EXPECT_EQ(Mgr.RecordSize(), Size) << "the record size stays";
    Mgr.SetRecordSize(0);
    EXPECT_EQ(ErrorCode([&] { Mgr.Open(&Storage); }), 8576);
    uint8_t buffer[8];
    EXPECT_EQ(ErrorCode([&] { Mgr.ReadRecord(1, buffer, false); }), 8576) << "closed";
}

TEST_F(RecordMgrTest, RecordOperationsKeepTheLastCopy) {
    const auto first = Record(0x11);
    const uint32_t id = Mgr.AddRecord(first.data());
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(std::vector<uint8_t>(Mgr.InternalBuffer(), Mgr.InternalBuffer() + Size), first);

    const auto second = Record(0x22);
    const uint32_t other = Mgr.AddRecord(second.data());
    Mgr.BlobMgr().GetItems(0)->SetState(bsValid);

    // Without a copy, neither the internal buffer nor the blob states change.
    auto buffer = Record(0);
    Mgr.ReadRecord(id, buffer.data(), false);
    EXPECT_EQ(buffer, first);
    EXPECT_EQ(Mgr.InternalBuffer()[0], 0x22);
    EXPECT_EQ(Mgr.BlobMgr().GetItems(0)->State(), bsValid);
    // With a copy, both.
    Mgr.ReadRecord(id, buffer.data(), true);
    EXPECT_EQ(Mgr.InternalBuffer()[0], 0x11);
    EXPECT_EQ(Mgr.BlobMgr().GetItems(0)->State(), bsInvalid);

    const auto changed = Record(0x33);
    Mgr.UpdateRecord(id, changed.data());
    uint8_t* stored = nullptr;
    Mgr.ReadRecordByRef(id, stored);
    EXPECT_EQ(std::vector<uint8_t>(stored, stored + Size), changed) << "by reference: the stored block";

    auto restored = Record(0);
    Mgr.RestoreBufferFromInternalBuffer(restored.data());
    EXPECT_EQ(restored, changed);

    Mgr.BlobMgr().GetItems(1)->SetState(bsModified);
    Mgr.DeleteRecord(other);
    EXPECT_EQ(Mgr.BlobMgr().GetItems(1)->State(), bsInvalid);
    EXPECT_EQ(ErrorCode([&] { Mgr.ReadRecord(other, buffer.data(), false); }), 8581);
    EXPECT_EQ(Mgr.AddRecord(second.data()), other) << "the storage reuses the released block";
}

// The walk visits every live record once, in address order (the order of the map), and skips
// the blocks released before or during the walk; a record added during the walk is seen where it
// reuses a block listed at the start.
TEST(RecordMgrWalk, StorageOrderSkipsFreeBlocks) {
    test::TempDir dir;
    const std::string path = dir.File("walk.orq");
    disktest::CreateDatabase(path);
    auto disk = disktest::OpenDatabase(path);
    auto layout = testing::MakeLayout({{"Id", ftInteger}, {"Name", ftString, 30}});
    TDiskIOInterface storage;
    storage.SetDiskMgr(disk.get());
    storage.SetBlockSize(uint32_t(layout->RecordSize()));
    storage.SetUsage(C_RECORDUSAGE);
    storage.SetTableID(3);
    storage.SetAccessFlags(1);
    storage.SetFirstEmpty(0);
    storage.SetFirstEmptyValid(true);
    storage.Open();
    TRecordMgr mgr;
    mgr.Fields().Assign(layout.get());
    mgr.SetRecordSize(layout->RecordSize());
    mgr.Open(&storage);

    std::vector<uint8_t> rec(std::size_t(layout->RecordSize()), 0);
    auto add = [&](uint8_t Id) {
        rec[C_RECINUSEOFFSET] = 1;
        rec.back() = Id;
        return mgr.AddRecord(rec.data());
    };
    // Enough records for several page runs; every third one deleted.
    std::vector<uint32_t> live;
    for (int i = 0; i < 200; ++i) {
        const uint32_t id = add(uint8_t(i));
        if (i % 3 == 0)
            mgr.DeleteRecord(id);
        else
            live.push_back(id);
    }
    std::sort(live.begin(), live.end());

    mgr.StartStorageOrderWalk();
    const uint32_t added = add(250);  // reuses the last block released, listed at the start
    mgr.DeleteRecord(live[5]);        // during the walk: skipped
    std::vector<uint32_t> visited;
    std::vector<uint8_t> buffer(rec.size(), 0);
    uint32_t id = 0;
    while (mgr.NextInStorageOrder(id, buffer.data())) {
        visited.push_back(id);
        std::vector<uint8_t> stored(rec.size(), 0);
        mgr.ReadRecord(id, stored.data(), false);
        EXPECT_EQ(buffer, stored) << id;
    }
    live.erase(live.begin() + 5);
    live.insert(std::upper_bound(live.begin(), live.end(), added), added);
    EXPECT_EQ(visited, live);
    EXPECT_FALSE(mgr.NextInStorageOrder(id, buffer.data())) << "the walk stays at its end";
}

TEST(BlobMgr, FindBlobAndCombinedState) {
    TBlobMgr blobs;
    EXPECT_EQ(blobs.CheckBlobStates(), bsNone);
    TBlob* a = blobs.Add();
    a->SetFieldNo(3);
    a->SetRecID(5);
    TBlob* b = blobs.Add();
    b->SetFieldNo(3);
    b->SetRecID(17);
    EXPECT_EQ(blobs.FindBlob(0, 3), a) << "any record";
    EXPECT_EQ(blobs.FindBlob(17, 3), b);
    EXPECT_EQ(blobs.FindBlob(18, 3), nullptr);
    EXPECT_EQ(blobs.FindBlob(0, 4), nullptr);

    struct Case {
        TBlobState A, B, Combined;
    } cases[] = {
        {bsValid, bsValid, bsValid},       {bsValid, bsModified, bsModified}, {bsModified, bsInvalid, bsInvalid},
        {bsInvalid, bsValid, bsInvalid},   {bsNone, bsValid, bsValid},
    };
    for (const Case& c : cases) {
        a->SetState(c.A);
        b->SetState(c.B);
        EXPECT_EQ(blobs.CheckBlobStates(), c.Combined) << int(c.A) << "," << int(c.B);
    }
    blobs.InvalidateStreams();
    EXPECT_EQ(a->State(), bsInvalid);
    EXPECT_EQ(b->State(), bsInvalid);

    a->Stream().WriteBuffer("abc", 3);
    a->SetState(bsModified);
    blobs.SetItems(1, a);
    EXPECT_EQ(b->RecID(), 5u);
    EXPECT_EQ(b->State(), bsModified);
    EXPECT_EQ(b->Stream().Size(), 3);
}

}  // namespace
}  // namespace ostra
