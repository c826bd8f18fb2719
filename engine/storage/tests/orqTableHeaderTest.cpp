// Table headers and table maps on a real database file (and on the in-memory header storage):
// the stored bytes at their offsets, identifiers given and given again, the full map, shared
// open headers, the change counter that makes a connection drop its cached pages when another
// connection wrote, and stored headers and maps that cannot be right.
#include "engine/storage/orqTableHeader.h"

#include <gtest/gtest.h>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "host/StringList.h"
#include "support/DiskTestSupport.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;

constexpr uint32_t UserMap = 3 * PS;
constexpr uint32_t SystemMap = PS;

// One connection: the disk manager, the header storages and the two map managers as the
// database component sets them up.
struct Connection {
    explicit Connection(const std::string& Path) : Disk(OpenDatabase(Path)) {
        for (auto [io, offset] : {std::pair{&UserHeaders, CHdrTableHeadersFirstEmpty},
                                  std::pair{&SystemHeaders, CHdrSystemHeadersFirstEmpty}}) {
            io->SetDiskMgr(Disk.get());
            io->SetBlockSize(CTableHeaderBlockSize);
            io->SetUsage(1);
            io->SetTableID(0);
            io->SetAccessFlags(0);
            io->SetGlobalFirstEmptyOffset(offset);
            io->Open();
        }
        User.SetBaseAddress(UserMap);
        User.SetBaseTableID(1);
        User.Open(&UserHeaders);
        System.SetBaseAddress(SystemMap);
        System.SetBaseTableID(1024);
        System.Open(&SystemHeaders);
    }
    std::unique_ptr<TDiskMgr> Disk;
    TDiskIOInterface UserHeaders, SystemHeaders;
    TTableHeaderMgr User, System;
};

class TableHeaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDatabase(Path);
        Conn = std::make_unique<Connection>(Path);
    }
    TTableHeaderMgr& User() { return Conn->User; }
    std::string StoredHeader(uint32_t Address) { return ReadRange(Path, Address, CTableHeaderBlockSize); }

    test::TempDir Dir;
    std::string Path = Dir.File("hdr.orq");
    std::unique_ptr<Connection> Conn;
};

TEST_F(TableHeaderTest, HeaderItemsLieAtTheirOffsetsInTheFile) {
    EXPECT_EQ(User().AddTable(2), 1);
    const std::string map = ReadRange(Path, UserMap, CTableMapSize);
    const uint32_t address = U32(map, 4);
    EXPECT_EQ(U32(map, 0), 1u);
    EXPECT_EQ(address, 6 * PS) << "the first block of the header storage";
    EXPECT_EQ(map.find_first_not_of('\0', 8), std::string::npos);
    EXPECT_EQ(U32(ReadRange(Path, CGlobalHdrAddress + CHdrTableHeadersFirstEmpty, 4), 0), address + 256);

    std::string bytes = StoredHeader(address);
    EXPECT_EQ(U32(bytes, 0), 1u);
    EXPECT_EQ(U32(bytes, 4), 1u) << "a new header was written once";
    EXPECT_EQ(U32(bytes, 8), 256u);
    EXPECT_EQ(U32(bytes, 36), 2u);
    EXPECT_EQ(U32(bytes, 40), 0u);
    EXPECT_EQ(U32(bytes, 44), 1u) << "the generation of the first table made";
    EXPECT_EQ(bytes.find_first_not_of('\0', 48), std::string::npos);

    TTableHeader* h = User().OpenTable(1);
    EXPECT_EQ(h->BaseAddress(), address);
    h->SetRecordFirstEmpty(0x1111);
    h->SetRecordAutoIncVal(0x2222);
    h->SetLogicalRecordNo(0x3333);
    h->SetBlobFirstEmpty(0x4444);
    h->SetGenerator1(0x5555);
    h->SetGenerator2(0x6666);
    h->SetInternalGenerator(0x7777);
    h->SetIndexRoot(0, 0x88888888);
    h->SetIndexDepth(0, 3);
    h->SetIndexRoot(1, 0x99999999);
    h->SetIndexDepth(1, 0xABCD);
    EXPECT_TRUE(h->Dirty());
    h->WriteHeader();
    EXPECT_FALSE(h->Dirty());

    bytes = StoredHeader(address);
    struct Item {
        size_t Offset;
        uint32_t Value;
    } items[] = {{0, 1},       {4, 2},       {8, 256},          {12, 0x1111},     {16, 0x2222},
                 {20, 0x3333}, {24, 0x4444}, {28, 0x5555},      {32, 0x6666},     {36, 2},
                 {40, 0x7777}, {44, 1},      {48, 0x88888888u}, {54, 0x99999999u}};
    for (const Item& item : items) EXPECT_EQ(U32(bytes, item.Offset), item.Value) << "offset " << item.Offset;
    EXPECT_EQ(U16(bytes, 52), 3u);
    EXPECT_EQ(U16(bytes, 58), 0xABCDu);
    EXPECT_EQ(bytes.find_first_not_of('\0', 60), std::string::npos) << "zero after the last slot";
    User().CloseTable(h);

    // A new connection reads the same values.
    Conn.reset();
    Conn = std::make_unique<Connection>(Path);
    h = User().OpenTable(1);
    EXPECT_EQ(h->GetGenerator2(), 0x6666u);
    EXPECT_EQ(h->GetIndexDepth(1), 0xABCD);
}

TEST_F(TableHeaderTest, IdentifiersStartAtTheMapBaseAndAreGivenAgainLowestFirst) {
    EXPECT_EQ(Conn->System.AddTable(0), 1024);
    EXPECT_EQ(Conn->System.AddTable(0), 1025);
    EXPECT_EQ(User().AddTable(0), 1);
    EXPECT_EQ(User().AddTable(0), 2);
    EXPECT_EQ(User().AddTable(0), 3);
    const uint32_t second = U32(ReadRange(Path, UserMap + 8, 8), 4);

    User().DeleteTable(2);
    std::string map = ReadRange(Path, UserMap, CTableMapSize);
    EXPECT_EQ(U32(map, 0), 1u);
    EXPECT_EQ(U32(map, 8), 3u) << "the following entries moved up";
    EXPECT_EQ(U32(map, 16), 0u);
    EXPECT_EQ(U32(map, 20), 0u);

    EXPECT_EQ(User().AddTable(1), 2);
    map = ReadRange(Path, UserMap, CTableMapSize);
    EXPECT_EQ(U32(map, 16), 2u) << "the new table takes the first empty entry";
    EXPECT_EQ(U32(map, 20), second) << "and the header block freed last";
    // Every table made has a generation of its own, from one counter of the file (both maps):
    // the table made again under identifier 2 is not the one dropped.
    EXPECT_EQ(U32(StoredHeader(second), CThGeneration), 6u);
    EXPECT_EQ(U32(ReadRange(Path, CGlobalHdrAddress + CHdrLastTableGeneration, 4), 0), 6u);
    EXPECT_EQ(User().AddTable(0), 4);

    EXPECT_EQ(ErrorCode([&] { User().DeleteTable(77); }), 8579);
    EXPECT_NE(ErrorText([&] { User().DeleteTable(77); }).find("Delete table"), std::string::npos);
    EXPECT_NE(ErrorText([&] { User().OpenTable(77); }).find("The TableID could not be found: 77"), std::string::npos);
    // The system map was not touched.
    EXPECT_EQ(U32(ReadRange(Path, SystemMap + 16, 4), 0), 0u);
}

TEST_F(TableHeaderTest, AFullMapRefusesAnotherTable) {
    for (int i = 1; i <= CTableMapEntries; ++i) ASSERT_EQ(User().AddTable(0), i);
    const std::string before = ReadRange(Path, UserMap, CTableMapSize);
    EXPECT_EQ(ErrorCode([&] { User().AddTable(0); }), 9601);
    EXPECT_EQ(ReadRange(Path, UserMap, CTableMapSize), before);
    EXPECT_EQ(before.find_first_not_of('\0', CTableMapEntries * 8), std::string::npos);

    User().DeleteTable(500);
    EXPECT_EQ(User().AddTable(0), 500);
}

TEST_F(TableHeaderTest, CursorsShareOneOpenHeader) {
    User().AddTable(1);
    TTableHeader* a = User().OpenTable(1);
    TTableHeader* b = User().OpenTable(1);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->UserCount(), 2);
    a->SetGenerator1(5);
    User().CloseTable(a);
    EXPECT_EQ(User().FindHdrItemByID(1), a);
    EXPECT_EQ(U32(StoredHeader(a->BaseAddress()), 28), 0u) << "not written while in use";
    const uint32_t address = a->BaseAddress();
    User().CloseTable(b);
    EXPECT_EQ(User().FindHdrItemByID(1), nullptr);
    const std::string bytes = StoredHeader(address);
    EXPECT_EQ(U32(bytes, 28), 5u) << "the last close writes a dirty header";
    EXPECT_EQ(U32(bytes, 4), 2u);
    EXPECT_NE(ErrorText([&] { User().CloseTable(nullptr); }).find(SorqObjectNotAssigned), std::string::npos);

    // Close writes what the open headers hold.
    TTableHeader* c = User().OpenTable(1);
    c->SetLogicalRecordNo(42);
    User().Close();
    EXPECT_EQ(User().Count(), 0);
    EXPECT_EQ(U32(StoredHeader(address), 20), 42u);
}

TEST_F(TableHeaderTest, HeaderItemRules) {
    User().AddTable(2);
    TTableHeader* h = User().OpenTable(1);
    h->SetGenerator1(5);
    EXPECT_EQ(h->GetGenerator1(), 5u);
    EXPECT_EQ(h->GetGenerator2(), 0u);
    h->WriteHeader();
    h->SetGenerator1(5);
    EXPECT_FALSE(h->Dirty()) << "the same value changes nothing";
    const uint32_t flag = h->GetModifiedFlag();
    h->WriteHeader();
    h->WriteHeader();
    EXPECT_EQ(h->GetModifiedFlag(), flag + 2);

    for (int bad : {2, -1, 40}) {
        EXPECT_EQ(ErrorCode([&] { h->SetIndexRoot(bad, 1); }), 8581);
        EXPECT_EQ(ErrorCode([&] { h->GetIndexDepth(bad); }), 8581);
    }
    EXPECT_NE(ErrorText([&] { h->SetIndexRoot(2, 1); }).find("Table header: The offset value is out of range"),
              std::string::npos);
    h->SetIndexCount(40);  // more slots than a header holds
    EXPECT_EQ(ErrorCode([&] { h->SetIndexRoot(39, 1); }), 8581);

    h->ResetHeaderSize(128, false);
    EXPECT_EQ(h->GetHeaderSize(), 128u);
    EXPECT_EQ(h->GetGenerator1(), 5u) << "kept unless cleared";
    EXPECT_EQ(ErrorCode([&] { h->SetInternalGenerator(1); }), 0);
    h->ResetHeaderSize(256, true);
    EXPECT_EQ(h->GetGenerator1(), 0u);
    h->SetHeaderSize(40);
    EXPECT_EQ(ErrorCode([&] { h->GetInternalGenerator(); }), 8581) << "beyond the buffer";
    h->SetHeaderSize(256);
    h->SetTableID(1);
    h->SetIndexCount(1);
    h->SetIndexRoot(0, 9);
    h->ClearHeader();
    EXPECT_EQ(h->GetHeaderSize(), 0u);

    TStringList lines;
    h->SetHeaderSize(256);
    h->SetTableID(1);
    h->SetIndexCount(1);
    h->SetIndexRoot(0, 9);
    h->SetIndexDepth(0, 2);
    h->DebugDumpStatus(&lines);
    ASSERT_EQ(lines.Count(), 4);
    EXPECT_EQ(lines.Strings(0), "TableID=1 BaseAddr=24576 HdrSize=256 UserCount=1");
    EXPECT_EQ(lines.Strings(3), "   Idx=0 Root=9 Depth=2");
}

TEST_F(TableHeaderTest, DebugDumpListsOpenHeadersAndMapEntries) {
    User().AddTable(0);
    User().AddTable(0);
    User().OpenTable(2);
    TStringList lines;
    User().DebugDumpAllHeaders(&lines);
    ASSERT_EQ(lines.Count(), 8);
    EXPECT_EQ(lines.Strings(0), "Current Headers");
    EXPECT_EQ(lines.Strings(1), "Header Item index=0");
    EXPECT_EQ(lines.Strings(5), "All Headers");
    EXPECT_EQ(lines.Strings(6), "Header MapPos=0 TableID=1");
    EXPECT_EQ(lines.Strings(7), "Header MapPos=2 TableID=2");
}

// Another connection writes a record and the header; the next ReadHeader here sees the new
// change counter and drops this connection's cached record pages, so the record is read anew.
TEST_F(TableHeaderTest, ChangedHeaderDropsTheTablesCachedPages) {
    const int32_t id = User().AddTable(0);
    Connection other(Path);
    auto records = [&](Connection& c) {
        auto io = std::make_unique<TDiskIOInterface>();
        io->SetDiskMgr(c.Disk.get());
        io->SetBlockSize(100);
        io->SetUsage(9);
        io->SetTableID(uint16_t(id));
        io->SetAccessFlags(1);
        io->SetFirstEmpty(0);
        io->SetFirstEmptyValid(true);
        io->Open();
        return io;
    };
    auto mine = records(*Conn);
    auto theirs = records(other);
    std::vector<uint8_t> record(100, 1), read(100);
    const uint32_t address = mine->AllocateNewAddress(100, record.data());
    TTableHeader* header = User().OpenTable(uint32_t(id));
    mine->ReadBlock(address, 100, read.data());  // cached here now

    std::fill(record.begin(), record.end(), 2);
    theirs->WriteBlock(address, 100, record.data());
    mine->ReadBlock(address, 100, read.data());
    EXPECT_EQ(read[0], 1) << "the cached page does not know";

    header->ReadHeader();  // unchanged header: the cache stays
    mine->ReadBlock(address, 100, read.data());
    EXPECT_EQ(read[0], 1);

    TTableHeader* theirHeader = other.User.OpenTable(uint32_t(id));
    theirHeader->SetLogicalRecordNo(1);
    theirHeader->WriteHeader();
    header->ReadHeader();
    EXPECT_EQ(header->GetLogicalRecordNo(), 1u);
    mine->ReadBlock(address, 100, read.data());
    EXPECT_EQ(read[0], 2) << "the table's pages were dropped";
}

TEST_F(TableHeaderTest, StoredDataThatCannotBeRightIsRefused) {
    User().AddTable(1);
    User().AddTable(1);
    const std::string map = ReadRange(Path, UserMap, CTableMapSize);
    const uint32_t first = U32(map, 4);
    struct Case {
        const char* Name;
        uint64_t Offset;  // file offset patched
        uint32_t Value;
        int32_t OpenCode;  // OpenTable(1)
        int32_t AddCode;   // AddTable
    } cases[] = {
        {"map id outside the map", UserMap + 8, 5000, 0, 8962},
        {"map address in the fixed areas", UserMap + 4, 1024, 8962, 0},
        {"map address between blocks", UserMap + 4, first + 100, 8962, 0},
        {"map address beyond the file", UserMap + 4, 0x7FFFFF00u, 8962, 0},
        {"header of another table", first + 0, 2, 8961, 0},
        {"header without id", first + 0, 0, 8961, 0},
        {"header size zero", first + 8, 0, 8961, 0},
        {"header size too large", first + 8, 300, 8961, 0},
        {"index count too large", first + 36, 35, 8961, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string original = ReadRange(Path, c.Offset, 4);
        PatchU32(Path, c.Offset, c.Value);
        EXPECT_EQ(ErrorCode([&] { User().OpenTable(1); }), c.OpenCode);
        if (c.OpenCode == 0) User().CloseTable(User().FindHdrItemByID(1));
        if (c.AddCode != 0) {
            EXPECT_EQ(ErrorCode([&] { User().AddTable(0); }), c.AddCode);
        }
        if (c.OpenCode == 8962) {
            EXPECT_EQ(ErrorCode([&] { User().DeleteTable(1); }), 8962);
        }
        PatchFile(Path, c.Offset, original);
    }
    EXPECT_EQ(User().Count(), 0) << "no header stays open after a refused read";
    EXPECT_EQ(ReadRange(Path, UserMap, CTableMapSize), map);
    EXPECT_EQ(User().OpenTable(1)->GetIndexCount(), 1u);
}

// The in-memory header storage, as in-memory tables use it: the map is a block of the storage.
class SpyStorage : public TMemoryIOInterface {
public:
    void NotifyPageChange(uint32_t TableID) override { Notified.push_back(TableID); }
    std::vector<uint32_t> Notified;
};

TEST(MemoryTableHeaders, MapInTheStorageAndNotificationOnChange) {
    SpyStorage storage;
    storage.SetBlockSize(4096);
    const std::vector<uint8_t> zeros(CTableMapSize, 0);
    TTableHeaderMgr mgr;
    EXPECT_NE(ErrorText([&] { mgr.Open(&storage); }).find("Base address of table header mapper has not been set"),
              std::string::npos);
    mgr.SetBaseAddress(storage.AllocateNewAddress(CTableMapSize, zeros.data()));
    mgr.SetBaseTableID(1);
    mgr.Open(&storage);
    EXPECT_EQ(mgr.AddTable(1), 1);
    EXPECT_EQ(mgr.AddTable(1), 2);

    TTableHeader* h = mgr.OpenTable(2);
    EXPECT_EQ(storage.Notified, std::vector<uint32_t>{2}) << "the first read";
    h->ReadHeader();
    EXPECT_EQ(storage.Notified.size(), 1u) << "unchanged counter";

    // Another manager on the same storage writes the header.
    TTableHeaderMgr second;
    second.SetBaseAddress(mgr.BaseAddress());
    second.SetBaseTableID(1);
    second.Open(&storage);
    TTableHeader* other = second.OpenTable(2);
    other->WriteHeader();
    h->ReadHeader();
    EXPECT_EQ(storage.Notified.back(), 2u);
    EXPECT_EQ(storage.Notified.size(), 3u);

    mgr.DeleteTable(1);
    EXPECT_EQ(mgr.AddTable(0), 1);
    EXPECT_EQ(storage.Count(), 3u) << "the map and two headers";
}

}  // namespace
}  // namespace ostra
