// Table definitions and their registries on a real database file and in memory: the stored
// component text of a definition (golden text, round trip, reading into a reused definition),
// copy, clear and repair; creating, opening by two connections, closing and deleting tables with
// their user counts; index roots and the access flags they are written with; restructures of
// fields and of indexes only (header slots, pages freed in the map, counters kept); and the
// uniqueness of field generator ids.
#include "engine/storage/orqTableMgrUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqTableHeader.h"
#include "host/DateTime.h"
#include "host/StringList.h"
#include "support/DiskTestSupport.h"
#include "support/orqLayoutFixture.h"
#include "support/orqTableConnection.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;

// A definition as the cursor builds it: ID Integer, NAME String(20), NOTE Memo; Indexes
// indexes ("ix0" primary on ID, "ix1" on NAME, "ix2" on NAME;ID, ...).
std::unique_ptr<TTableDef> MakeDef(const std::string& Name, int Indexes, bool Memory = false,
                                   TEncryptionLevel Level = encNone) {
    const char* const fields[] = {"ID", "NAME", "NAME;ID"};
    std::vector<TIndexRequest> requests;
    for (int i = 0; i < Indexes; ++i) {
        requests.push_back({"ix" + IntToStr(i), fields[i % 3]});
        requests.back().Primary = i == 0;
    }
    return testing::MakeTableDef(Name, {{"ID", ftInteger}, {"NAME", ftString, 20}, {"NOTE", ftMemo}},
                                 requests, Memory, Level);
}

// A restructure request whose two lists carry the given overall statuses.
struct Restructure {
    TRestructureFieldDefs Fields;
    TRestructureIndexDefs Indexes;
    TInternalRestructureRecord Record;
    Restructure(TDefChangeType FieldStatus, TDefChangeType IndexStatus, int IndexCount = 1) {
        Fields.SetChangeStatus(FieldStatus);
        Indexes.SetChangeStatus(IndexStatus);
        for (int i = 0; i < IndexCount; ++i) Indexes.AddAndSetIndexDef("ix" + IntToStr(i), "ID", {});
        Record.NewFieldDefs = &Fields;
        Record.NewIndexDefs = &Indexes;
    }
};

using Connection = testing::TableConnection;

class DiskTableMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDatabase(Path);
        Conn = std::make_unique<Connection>(Path);
    }
    TDiskTableDefMgr& Mgr() { return Conn->Mgr; }

    // Creates the table and opens one connection's definition on it.
    std::unique_ptr<TTableDef> CreateAndOpen(const std::string& Name, int Indexes,
                                             TEncryptionLevel Level = encNone) {
        std::unique_ptr<TTableDef> def = MakeDef(Name, Indexes, false, Level);
        EXPECT_EQ(Mgr().CreateTableDef(Name, def.get()), 0);
        Mgr().OpenTableDefConnection(Name, def.get());
        return def;
    }

    test::TempDir Dir;
    std::string Path = Dir.File("tables.orq");
    std::unique_ptr<Connection> Conn;
};

// ---------------------------------------------------------------------------------------------
// TTableDef: the stored text

// The golden text of a definition with every stored property set (the empty Password is not
// written, as the host writes no empty string).
const char* const kGoldenText =
    "object Customers: TTableDef\r\n"
    "  Tag = 7\r\n"
    "  TableID = 3\r\n"
    "  OwnerFlag = 48\r\n"
    "  TableName = 'Customer''s'\r\n"
    "  AltName = 'K'#0'y'\r\n"
    "  Version = '1.43.02'\r\n"
    "  OS = 'Linux'\r\n"
    "  CreationDate = 45351.5\r\n"
    "  LastModDate = 45000.25\r\n"
    "  CreatedBy = 'ann'\r\n"
    "  Encrypted = True\r\n"
    "  SecurityLevel = 2\r\n"
    "  Memory = False\r\n"
    "  RecordSize = 0\r\n"
    "  DefaultBlobSize = 1024\r\n"
    "  UsesBlobs = True\r\n"
    "  SortOrder = soASCII\r\n"
    "  InternalTable = False\r\n"
    "  EncryptionLevel = encWeak\r\n"
    "  KeyFields = <\r\n"
    "    item\r\n"
    "      FieldName = 'ID'\r\n"
    "      DataType = ftInteger\r\n"
    "      FieldSize = 4\r\n"
    "      RecBufOffset = 15\r\n"
    "      NullFlagOffset = 14\r\n"
    "      SizeMarkerOffset = 0\r\n"
    "      PhysicalFieldNo = 0\r\n"
    "      IndexName = 'PK'\r\n"
    "      Hidden = False\r\n"
    "      KeyIndex = 0\r\n"
    "    end>\r\n"
    "  InternalFields = <\r\n"
    "    item\r\n"
    "      FieldName = 'ID'\r\n"
    "      FieldNo = 0\r\n"
    "      FieldIndex = 0\r\n"
    "      DataType = ftInteger\r\n"
    "      FieldSize = 4\r\n"
    "      Required = False\r\n"
    "      SizeMarkerOffset = 0\r\n"
    "      DataOffset = 15\r\n"
    "      NullFlagOffset = 14\r\n"
    "      FieldGeneratorID = 12345\r\n"
    "    end>\r\n"
    "  InternalIndexDefs = <\r\n"
    "    item\r\n"
    "      IndexSequence = 0\r\n"
    "      IndexName = 'PK'\r\n"
    "      Primary = True\r\n"
    "      Maintained = True\r\n"
    "      MaximumKeySize = 15\r\n"
    "      KeyDataOffset = 1\r\n"
    "      IndexPageSize = 4096\r\n"
    "      IndexKeyType = ikFixed\r\n"
    "    end>\r\n"
    "  BlobCompression = True\r\n"
    "end\r\n";

std::unique_ptr<TTableDef> GoldenDef() {
    auto def = std::make_unique<TTableDef>(nullptr);
    def->SetName("Customers");
    def->SetTag(7);
    def->SetTableID(3);
    def->SetOwnerFlag(48);
    def->SetTableName("Customer's");
    def->SetAltName(std::string("K\0y", 3));
    def->SetVersion("1.43.02");
    def->SetOS("Linux");
    def->SetCreationDate(EncodeDate(2024, 2, 29) + 0.5);
    def->SetLastModDate(45000.25);
    def->SetCreatedBy("ann");
    def->SetPassword("");
    def->SetEncrypted(true);
    def->SetSecurityLevel(2);
    def->SetMemory(false);
    def->SetRecordSize(0);
    def->SetDefaultBlobSize(1024);
    def->SetUsesBlobs(true);
    def->SetSortOrder(soASCII);
    def->SetInternalTable(false);
    def->SetEncryptionLevel(encWeak);
    def->SetBlobCompression(true);
    std::unique_ptr<TInternalFields> layout = testing::MakeLayout({{"ID", ftInteger}});
    def->InternalFields()->Assign(layout.get());
    def->InternalFields()->GetIndex(0)->SetFieldGeneratorID(12345);
    TIndexRequest request;
    request.IndexName = "PK";
    request.Fields = "ID";
    request.Primary = true;
    DeriveIndexDef(request, false, false, *def->InternalFields(), *def->KeyFields(),
                   *def->InternalIndexDefs(), SorqIndexFmt, "Test", nullptr);
    return def;
}

TEST(TTableDef, StoredTextHasEveryPropertyInItsOrder) {
    std::unique_ptr<TTableDef> def = GoldenDef();
    const std::string text = def->SaveToText();
    EXPECT_EQ(text, kGoldenText);

    // Read back into a fresh definition it gives the same text and the same values.
    TTableDef copy(nullptr);
    copy.LoadFromText(text);
    EXPECT_EQ(copy.SaveToText(), text);
    EXPECT_EQ(copy.AltName(), std::string("K\0y", 3));
    EXPECT_EQ(copy.CreationDate(), def->CreationDate());
    EXPECT_EQ(copy.InternalFields()->GetIndex(0)->FieldGeneratorID(), 12345);
    EXPECT_EQ(copy.InternalIndexDefs()->GetItems(0)->MaximumKeySize(),
              def->InternalIndexDefs()->GetItems(0)->MaximumKeySize());
}

TEST(TTableDef, AFieldWithoutATypeIsRefusedWhenRead) {
    // What loads must save and load again: a field item that names no type would be written as
    // ftUnknown, which no record holds.
    std::string text = kGoldenText;
    const std::string typeLine = "      DataType = ftInteger\r\n";
    const size_t fields = text.find("InternalFields = <");
    const size_t at = text.find(typeLine, fields);
    ASSERT_NE(at, std::string::npos);
    text.erase(at, typeLine.size());
    TTableDef def(nullptr);
    try {
        def.LoadFromText(text);
        ADD_FAILURE() << "a field without a type loaded";
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10000);
        EXPECT_NE(std::string(e.what()).find("ID: Unknown"), std::string::npos) << e.what();
    }
}

TEST(TTableDef, AStoredDefinitionReadIntoAReusedOneKeepsNothingOfTheOld) {
    // The text omits empty strings and zero dates; a reused definition must not keep its old
    // values for them (AltName is the check value that opening an encrypted table compares).
    TTableDef stored(nullptr);
    stored.SetTableName("Plain");
    const std::string text = stored.SaveToText();
    EXPECT_EQ(text.find("AltName"), std::string::npos);

    std::unique_ptr<TTableDef> reused = GoldenDef();
    reused->Clear();  // as the cursor does before each open; Clear keeps AltName and dates
    ASSERT_FALSE(reused->AltName().empty());
    reused->LoadFromText(text);
    EXPECT_EQ(reused->TableName(), "Plain");
    EXPECT_EQ(reused->AltName(), "");
    EXPECT_EQ(reused->LastModDate(), 0.0);
    EXPECT_EQ(reused->Tag(), 0);
    EXPECT_EQ(reused->SaveToText(), text);
}

TEST(TTableDef, AssignCopiesTheDefinitionButNotTheTableState) {
    std::unique_ptr<TTableDef> source = GoldenDef();
    source->SetPrivilegeFlags(0x15);
    source->SetPassword("pw");
    TTableDef copy(nullptr);
    copy.SetLastModDate(1.0);
    copy.Assign(source.get());
    EXPECT_EQ(copy.TableID(), 3);
    EXPECT_EQ(copy.TableName(), "Customer's");
    EXPECT_EQ(copy.AltName(), source->AltName());
    EXPECT_EQ(copy.Password(), "pw");
    EXPECT_EQ(copy.PrivilegeFlags(), 0x15);
    EXPECT_EQ(copy.SortOrder(), soASCII);
    EXPECT_EQ(copy.EncryptionLevel(), encWeak);
    EXPECT_TRUE(copy.BlobCompression());
    EXPECT_EQ(copy.DefaultBlobSize(), 1024);
    EXPECT_EQ(copy.InternalFields()->Count(), 1);
    EXPECT_EQ(copy.KeyFields()->Count(), 1);
    EXPECT_EQ(copy.InternalIndexDefs()->Count(), 1);
    // Not copied.
    EXPECT_EQ(copy.OwnerFlag(), 0u);
    EXPECT_EQ(copy.LastModDate(), 1.0);
    EXPECT_EQ(copy.SecurityLevel(), 0);

    TStringList other;
    EXPECT_THROW(copy.Assign(&other), EConvertError);
}

TEST(TTableDef, ClearRefusesAMasterAndKeepsTheSettingsOfACopy) {
    std::unique_ptr<TTableDef> def = GoldenDef();
    def->SetMasterDef(true);
    EXPECT_EQ(ErrorCode([&] { def->Clear(); }), 8577);
    def->SetMasterDef(false);
    def->Clear();
    EXPECT_EQ(def->TableID(), 0);
    EXPECT_EQ(def->TableName(), "");
    EXPECT_EQ(def->CreationDate(), 0.0);
    EXPECT_EQ(def->EncryptionLevel(), encNone);
    EXPECT_EQ(def->InternalFields()->Count(), 0);
    EXPECT_EQ(def->DefaultBlobSize(), 512);
    EXPECT_FALSE(def->UsesBlobs());
    // Kept.
    EXPECT_EQ(def->AltName(), std::string("K\0y", 3));
    EXPECT_EQ(def->SortOrder(), soASCII);
    EXPECT_TRUE(def->Encrypted());
    EXPECT_TRUE(def->BlobCompression());
    EXPECT_EQ(def->SecurityLevel(), 2);
}

TEST(TTableDef, ValidateGivesOrphanKeyFieldsTheFirstIndexWithoutKeys) {
    TTableDef def(nullptr);
    def.InternalIndexDefs()->Add()->SetIndexName("A");
    def.InternalIndexDefs()->Add()->SetIndexName("B");
    def.KeyFields()->Add()->SetIndexName("a");
    def.KeyFields()->Add()->SetIndexName("C");
    EXPECT_TRUE(def.Validate());
    EXPECT_EQ(def.KeyFields()->GetIndex(0)->IndexName(), "a");
    EXPECT_EQ(def.KeyFields()->GetIndex(1)->IndexName(), "B");
}

TEST(TTableDef, DebugSetDefsFillsTheSample) {
    TTableDef def(nullptr);
    def.DebugSetDefs();
    EXPECT_EQ(def.RecordSize(), 101);
    ASSERT_EQ(def.InternalIndexDefs()->Count(), 2);
    EXPECT_TRUE(def.InternalIndexDefs()->GetItems(0)->Primary());
    EXPECT_TRUE(def.InternalIndexDefs()->GetItems(1)->Hidden());
    EXPECT_EQ(def.KeyFields()->FindFieldCountForIndex("one"), 1);
    EXPECT_EQ(def.KeyFields()->FindFieldCountForIndex("two"), 1);
}

TEST(TTableDef, OpeningNeedsATableHeader) {
    std::unique_ptr<TTableDef> def = MakeDef("T", 1, true);
    def->SetMasterDef(true);
    EXPECT_EQ(ErrorText([&] { def->InternalOpen(nullptr); }).find("8576") != std::string::npos, true);
    EXPECT_FALSE(def->Active());
}

// ---------------------------------------------------------------------------------------------
// Disk tables

TEST_F(DiskTableMgrTest, CreateGivesEveryIndexAnEmptyRootPage) {
    std::unique_ptr<TTableDef> def = MakeDef("Orders", 3);
    EXPECT_EQ(Mgr().CreateTableDef("Orders", def.get()), 0);
    EXPECT_EQ(def->TableID(), 1);
    ASSERT_EQ(Mgr().Count(), 1);
    const TTableDef* master = Mgr().TableDefs(0);
    EXPECT_TRUE(master->MasterDef());
    EXPECT_FALSE(master->Active());
    EXPECT_EQ(master->UserCount(), 0);
    EXPECT_EQ(master->OwnerFlag(), 16u);
    EXPECT_EQ(master->TableHeader(), nullptr) << "the header is closed again";
    EXPECT_EQ(Mgr().HeaderMgr()->Count(), 0);

    TTableHeader* header = Mgr().HeaderMgr()->OpenTable(1);
    ASSERT_EQ(header->GetIndexCount(), 3u);
    const std::vector<uint32_t> pages = Conn->Owned(1, C_INDEXUSAGE);
    std::set<uint32_t> roots;
    for (int i = 0; i < 3; ++i) {
        const uint32_t root = header->GetIndexRoot(i);
        roots.insert(root);
        EXPECT_EQ(header->GetIndexDepth(i), 1);
        EXPECT_EQ(U32(ReadRange(Path, root, 4), 0), 1u) << "an empty leaf";
        EXPECT_EQ(ReadRange(Path, root + 4, PS - 4).find_first_not_of('\0'), std::string::npos);
        EXPECT_NE(std::find(pages.begin(), pages.end(), root), pages.end())
            << "owned by the table's index usage";
    }
    EXPECT_EQ(roots.size(), 3u);
    EXPECT_EQ(pages.size(), 3u);
    Mgr().HeaderMgr()->CloseTable(header);

    EXPECT_EQ(ErrorCode([&] { Mgr().CreateTableDef("ORDERS", MakeDef("ORDERS", 1).get()); }), 8580);
    EXPECT_EQ(ErrorCode([&] { Mgr().CreateTableDef("Mem", MakeDef("Mem", 1, true).get()); }), 8577);
    EXPECT_EQ(Mgr().Count(), 1);
}

TEST_F(DiskTableMgrTest, TwoConnectionsShareTheStoragesUntilTheLastCloses) {
    std::unique_ptr<TTableDef> first = CreateAndOpen("Orders", 2);
    std::unique_ptr<TTableDef> second = MakeDef("Orders", 2);
    second->SetTableID(first->TableID());
    Mgr().OpenTableDefConnection("orders", second.get());

    const TTableDef* master = Mgr().TableDefs(0);
    EXPECT_TRUE(master->Active());
    EXPECT_EQ(Mgr().CheckTableUserCount("ORDERS"), 2);
    for (TTableDef* def : {first.get(), second.get()}) {
        EXPECT_EQ(def->RecordInterface(), master->RecordInterface());
        EXPECT_EQ(def->IndexInterface(), master->IndexInterface());
        EXPECT_EQ(def->BlobInterface(), master->BlobInterface());
        EXPECT_EQ(def->TableHeader(), master->TableHeader());
        EXPECT_FALSE(def->MasterDef());
    }
    EXPECT_EQ(master->RecordInterface()->BlockSize(), uint32_t(first->RecordSize()));
    EXPECT_EQ(master->RecordInterface()->Usage(), C_RECORDUSAGE);
    EXPECT_EQ(master->BlobInterface()->Usage(), C_BLOBUSAGE);
    EXPECT_EQ(master->IndexInterface()->Usage(), C_INDEXUSAGE);
    EXPECT_EQ(master->IndexInterface()->BlockSize(), 4096u);
    EXPECT_EQ(master->TableHeader()->UserCount(), 1) << "the master holds the header once";

    // The storages work: a record written through one connection is read through the other.
    TBaseIOInterface* records = first->RecordInterface();
    records->SetFirstEmpty(0);
    records->SetFirstEmptyValid(true);
    std::vector<uint8_t> rec(size_t(first->RecordSize()), 0x5A);
    const uint32_t address = records->AllocateNewAddress(uint32_t(rec.size()), rec.data());
    std::vector<uint8_t> back(rec.size());
    second->RecordInterface()->ReadBlock(address, uint32_t(back.size()), back.data());
    EXPECT_EQ(back, rec);

    Mgr().CloseTableDefConnection(first->TableID());
    EXPECT_EQ(Mgr().CheckTableUserCount("Orders"), 1);
    EXPECT_TRUE(master->Active());
    second->RecordInterface()->ReadBlock(address, uint32_t(back.size()), back.data());
    Mgr().CloseTableDefConnection(second->TableID());
    EXPECT_EQ(Mgr().IndexOfTableName("Orders"), -1);
    EXPECT_EQ(Mgr().CheckTableUserCount("Orders"), 0);
    EXPECT_EQ(Mgr().HeaderMgr()->Count(), 0) << "no header left open";
    EXPECT_EQ(ErrorCode([&] { Mgr().CloseTableDefConnection(first->TableID()); }), 8579);

    // Opened again through a table that is not registered: the master comes from the
    // definition, and closing leaves no header open either.
    std::unique_ptr<TTableDef> again = MakeDef("Orders", 2);
    again->SetTableID(first->TableID());
    Mgr().OpenTableDefConnection("Orders", again.get());
    again->RecordInterface()->ReadBlock(address, uint32_t(back.size()), back.data());
    EXPECT_EQ(back, rec);
    EXPECT_EQ(again->TableHeader()->UserCount(), 1);
    TStringList names;
    Mgr().GetCurrentTableNames(&names);
    EXPECT_EQ(names.Count(), 1);
    EXPECT_EQ(names.Strings(0), "Orders");
    Mgr().CloseTableDefConnection(again->TableID());
    EXPECT_EQ(Mgr().HeaderMgr()->Count(), 0);
    EXPECT_EQ(Mgr().Count(), 0);
}

TEST_F(DiskTableMgrTest, AFailedOpenLeavesNothingRegistered) {
    std::unique_ptr<TTableDef> def = MakeDef("Ghost", 1);
    def->SetTableID(7);  // no such table in the map
    EXPECT_EQ(ErrorCode([&] { Mgr().OpenTableDefConnection("Ghost", def.get()); }), 8581);
    EXPECT_EQ(Mgr().Count(), 0);

    // A storage that cannot open (record size below a free-run head) gives back the header.
    std::unique_ptr<TTableDef> bad = MakeDef("Bad", 1);
    Mgr().CreateTableDef("Bad", bad.get());
    bad->SetRecordSize(8);
    std::unique_ptr<TTableDef> other = MakeDef("Bad", 1);
    Mgr().TableDefs(0)->SetRecordSize(8);
    EXPECT_EQ(ErrorCode([&] { Mgr().OpenTableDefConnection("Bad", other.get()); }), 8581);
    EXPECT_FALSE(Mgr().TableDefs(0)->Active());
    EXPECT_EQ(Mgr().TableDefs(0)->UserCount(), 0);
    EXPECT_EQ(Mgr().TableDefs(0)->TableHeader(), nullptr);
    EXPECT_EQ(Mgr().HeaderMgr()->Count(), 0);
}

// The roots are written with the table's own access flags, as every later transfer of its
// index pages is: inside a transaction they go through the page cache with those flags, and a
// weakly or strongly encrypted root reads back through the table's storage.
TEST_F(DiskTableMgrTest, RootsAreWrittenWithTheTablesAccessFlags) {
    const struct {
        TEncryptionLevel Level;
        uint32_t Flags;
    } cases[] = {{encNone, 1}, {encWeak, 3}, {encStrong, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.Level));
        const std::string name = "T" + IntToStr(int(c.Level));
        Conn->Disk->DiskStartTransaction(false);
        std::unique_ptr<TTableDef> def = MakeDef(name, 1, false, c.Level);
        Mgr().CreateTableDef(name, def.get());
        Mgr().OpenTableDefConnection(name, def.get());
        const uint32_t root = def->TableHeader()->GetIndexRoot(0);
        TCacheMgr& cache = Conn->Disk->File().PageCache();
        const int32_t page = cache.FindPage(root, 0);
        ASSERT_GE(page, 0) << "the root went through the page cache";
        EXPECT_EQ(cache.Items(page).AccessFlags(), c.Flags);
        EXPECT_EQ(def->IndexInterface()->AccessFlags(), c.Flags);
        uint8_t first[4];
        def->IndexInterface()->ReadBlock(root, 4, first);
        EXPECT_EQ(first[0], 1);
        Conn->Disk->DiskCommit();

        // After the commit, through a new connection.
        Mgr().CloseTableDefConnection(def->TableID());
        Conn.reset();
        Conn = std::make_unique<Connection>(Path);
        std::unique_ptr<TTableDef> again = MakeDef(name, 1, false, c.Level);
        again->SetTableID(def->TableID());
        Mgr().OpenTableDefConnection(name, again.get());
        uint8_t page0[PS];
        again->IndexInterface()->ReadBlock(root, PS, page0);
        EXPECT_EQ(page0[0], 1);
        EXPECT_EQ(std::count(page0 + 1, page0 + PS, 0), long(PS - 1));
        if (c.Level != encNone) {
            EXPECT_NE(U32(ReadRange(Path, root, 4), 0), 1u) << "stored encrypted";
        }
        Mgr().CloseTableDefConnection(again->TableID());
    }
}

TEST_F(DiskTableMgrTest, DeleteRefusedWhileAnotherConnectionUsesTheTableChangesNothing) {
    std::unique_ptr<TTableDef> first = CreateAndOpen("Orders", 1);
    std::unique_ptr<TTableDef> second = MakeDef("Orders", 1);
    second->SetTableID(first->TableID());
    Mgr().OpenTableDefConnection("Orders", second.get());

    EXPECT_EQ(ErrorCode([&] { Mgr().DeleteTableDef("Orders", first.get()); }), 8578);
    EXPECT_EQ(Mgr().CheckTableUserCount("Orders"), 2) << "the count is as it was";
    EXPECT_EQ(first->TableID(), 1);

    // One close still leaves the storages to the other connection.
    Mgr().CloseTableDefConnection(1);
    ASSERT_EQ(Mgr().CheckTableUserCount("Orders"), 1);
    uint8_t root[4];
    second->IndexInterface()->ReadBlock(second->TableHeader()->GetIndexRoot(0), 4, root);
    EXPECT_EQ(root[0], 1);

    // The caller's own connection does not keep the table in use.
    EXPECT_EQ(Mgr().DeleteTableDef("Orders", second.get()), 0);
    EXPECT_EQ(Mgr().Count(), 0);
    EXPECT_EQ(second->TableID(), 0);
    EXPECT_EQ(second->TableHeader(), nullptr);
    EXPECT_EQ(second->RecordInterface(), nullptr);
    int position;
    EXPECT_FALSE(Mgr().HeaderMgr()->FindTableHeaderInMap(1, position));
    EXPECT_EQ(Mgr().HeaderMgr()->Count(), 0);

    // A table that is not open is deleted by its id; the id is given again.
    std::unique_ptr<TTableDef> closed = MakeDef("Closed", 1);
    Mgr().CreateTableDef("Closed", closed.get());
    EXPECT_EQ(closed->TableID(), 1);
    EXPECT_EQ(Mgr().DeleteTableDef("Closed", closed.get()), 0);
    EXPECT_EQ(ErrorCode([&] { Mgr().DeleteTableDef("Closed", MakeDef("Closed", 1).get()); }), 8579);
}

TEST_F(DiskTableMgrTest, ClosingTheManagerFreesEveryMasterAndItsHeader) {
    std::unique_ptr<TTableDef> a = CreateAndOpen("A", 1);
    std::unique_ptr<TTableDef> b = CreateAndOpen("B", 2);
    Mgr().Close();
    EXPECT_EQ(Mgr().Count(), 0);
    EXPECT_EQ(Mgr().HeaderMgr()->Count(), 0);
    Mgr().Open();
    std::unique_ptr<TTableDef> again = MakeDef("B", 2);
    again->SetTableID(b->TableID());
    Mgr().OpenTableDefConnection("B", again.get());
    EXPECT_EQ(again->TableHeader()->GetIndexCount(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Restructure

class RestructureTest : public DiskTableMgrTest {
protected:
    void SetUp() override {
        DiskTableMgrTest::SetUp();
        Def = CreateAndOpen("Orders", 3);
        ID = Def->TableID();
        Header = Def->TableHeader();
        // Grow each tree beyond its root, store a record and a blob, set the counters.
        for (int i = 0; i < 3; ++i) {
            std::vector<uint8_t> page(PS, 0);
            page[0] = 1;
            const uint32_t leaf = Def->IndexInterface()->AllocateNewAddress(PS, page.data());
            OldIndexPages.push_back(Header->GetIndexRoot(i));
            OldIndexPages.push_back(leaf);
            Header->SetIndexDepth(i, 2);
        }
        Def->RecordInterface()->SetFirstEmpty(0);
        Def->RecordInterface()->SetFirstEmptyValid(true);
        std::vector<uint8_t> rec(size_t(Def->RecordSize()), 7);
        Record = Def->RecordInterface()->AllocateNewAddress(uint32_t(rec.size()), rec.data());
        Header->SetRecordFirstEmpty(Def->RecordInterface()->FirstEmpty());
        Header->SetRecordAutoIncVal(40);
        Header->SetLogicalRecordNo(41);
        Header->SetGenerator1(42);
        Header->SetGenerator2(43);
        Header->WriteHeader();
        Modified = Header->GetModifiedFlag();
        Generation = Header->GetGeneration();
    }
    // Def gets Count index definitions (as the definition built from the request).
    void SetIndexes(int Count) {
        std::unique_ptr<TTableDef> shape = MakeDef("Orders", Count);
        Def->InternalIndexDefs()->Assign(shape->InternalIndexDefs());
        Def->KeyFields()->Assign(shape->KeyFields());
    }
    std::string StoredBytes() { return ReadRange(Path, Header->BaseAddress(), CTableHeaderBlockSize); }

    std::unique_ptr<TTableDef> Def;
    int32_t ID = 0;
    TTableHeader* Header = nullptr;
    std::vector<uint32_t> OldIndexPages;
    uint32_t Record = 0;
    uint32_t Modified = 0;
    uint32_t Generation = 0;
};

TEST_F(RestructureTest, AnIndexOnlyRestructureFreesTheOldIndexPagesAndClearsSlotsPastTheCount) {
    ASSERT_EQ(Conn->Owned(ID, C_INDEXUSAGE).size(), 6u);
    SetIndexes(1);
    Restructure r(dcNoChange, dcDeleted, 1);
    r.Record.ResetGenerator2 = true;
    r.Record.Generator2Value = 99;
    Mgr().RestructureTableDef(Def.get(), r.Record);

    const std::vector<uint32_t> indexPages = Conn->Owned(ID, C_INDEXUSAGE);
    ASSERT_EQ(indexPages.size(), 1u) << "only the new root is left";
    const std::string bytes = StoredBytes();
    EXPECT_EQ(U32(bytes, CThIndexCount), 1u);
    EXPECT_EQ(U32(bytes, CThIndexBase), indexPages[0]);
    EXPECT_EQ(U16(bytes, CThIndexBase + 4), 1u);
    EXPECT_EQ(bytes.find_first_not_of('\0', CThIndexBase + CThIndexSlotSize), std::string::npos)
        << "slots 1 and 2 no longer name the freed pages";
    EXPECT_EQ(U32(ReadRange(Path, indexPages[0], 4), 0), 1u);
    // The records and the other header values stay.
    EXPECT_EQ(Conn->Owned(ID, C_RECORDUSAGE).size(), 1u);
    EXPECT_EQ(U32(bytes, CThRecordFirstEmpty), Def->RecordInterface()->FirstEmpty());
    EXPECT_EQ(U32(bytes, CThRecordAutoIncVal), 40u);
    EXPECT_EQ(U32(bytes, CThLogicalRecordNo), 41u);
    EXPECT_EQ(U32(bytes, CThGenerator1), 42u);
    EXPECT_EQ(U32(bytes, CThGenerator2), 99u);
    EXPECT_EQ(U32(bytes, CThModifiedFlag), Modified + 1) << "the change counter keeps counting";
    std::vector<uint8_t> rec(size_t(Def->RecordSize()));
    Def->RecordInterface()->ReadBlock(Record, uint32_t(rec.size()), rec.data());
    EXPECT_EQ(rec[0], 7);
}

TEST_F(RestructureTest, AFieldRestructureFreesEveryPageAndResetsTheHeader) {
    SetIndexes(2);
    Restructure r(dcAdded, dcNoChange, 2);
    r.Record.ResetAutoInc = true;
    r.Record.AutoIncValue = 1000;
    Mgr().RestructureTableDef(Def.get(), r.Record);

    EXPECT_EQ(Conn->Owned(ID, C_RECORDUSAGE).size(), 0u);
    EXPECT_EQ(Conn->Owned(ID, C_BLOBUSAGE).size(), 0u);
    const std::vector<uint32_t> roots = Conn->Owned(ID, C_INDEXUSAGE);
    ASSERT_EQ(roots.size(), 2u);
    const std::string bytes = StoredBytes();
    EXPECT_EQ(U32(bytes, CThTableID), uint32_t(ID));
    EXPECT_EQ(U32(bytes, CThHeaderSize), 256u);
    EXPECT_EQ(U32(bytes, CThIndexCount), 2u);
    EXPECT_EQ(U32(bytes, CThRecordFirstEmpty), 0u);
    EXPECT_EQ(U32(bytes, CThLogicalRecordNo), 0u);
    EXPECT_EQ(U32(bytes, CThRecordAutoIncVal), 1000u);
    EXPECT_EQ(U32(bytes, CThGenerator1), 42u);
    EXPECT_EQ(U32(bytes, CThGenerator2), 43u);
    EXPECT_EQ(U32(bytes, CThModifiedFlag), Modified + 1);
    EXPECT_NE(Generation, 0u);
    EXPECT_EQ(U32(bytes, CThGeneration), Generation) << "still the same table";
    const std::set<uint32_t> stored{U32(bytes, CThIndexBase), U32(bytes, CThIndexBase + CThIndexSlotSize)};
    EXPECT_EQ(stored, std::set<uint32_t>(roots.begin(), roots.end()));
    EXPECT_EQ(bytes.find_first_not_of('\0', CThIndexBase + 2 * CThIndexSlotSize), std::string::npos);
}

TEST_F(RestructureTest, ARestructureToNoIndexesLeavesNoSlotNamingAFreedPage) {
    SetIndexes(0);
    Restructure r(dcNoChange, dcDeleted, 0);
    Mgr().RestructureTableDef(Def.get(), r.Record);
    EXPECT_EQ(Conn->Owned(ID, C_INDEXUSAGE).size(), 0u);
    const std::string bytes = StoredBytes();
    EXPECT_EQ(U32(bytes, CThIndexCount), 1u) << "at least one slot";
    EXPECT_EQ(bytes.find_first_not_of('\0', CThIndexBase), std::string::npos);
}

TEST_F(RestructureTest, ADefinitionOnlyChangeWritesOnlyTheHeaderValues) {
    Restructure r(dcDefOnlyChange, dcDefOnlyChange, 3);
    r.Record.ResetGenerator1 = true;
    r.Record.Generator1Value = 5;
    const std::string before = StoredBytes();
    Mgr().RestructureTableDef(Def.get(), r.Record);
    std::string after = StoredBytes();
    EXPECT_EQ(U32(after, CThGenerator1), 5u);
    EXPECT_EQ(U32(after, CThModifiedFlag), Modified + 1);
    PutU32(after, CThGenerator1, 42);
    PutU32(after, CThModifiedFlag, Modified);
    EXPECT_EQ(after, before);
    EXPECT_EQ(Conn->Owned(ID, C_INDEXUSAGE).size(), 6u);
}

TEST_F(RestructureTest, ARestructureIsRefusedWhileAnotherConnectionUsesTheTable) {
    std::unique_ptr<TTableDef> other = MakeDef("Orders", 3);
    other->SetTableID(ID);
    Mgr().OpenTableDefConnection("Orders", other.get());
    Restructure r(dcNoChange, dcAdded, 3);
    EXPECT_EQ(ErrorCode([&] { Mgr().RestructureTableDef(Def.get(), r.Record); }), 8578);
    EXPECT_EQ(Conn->Owned(ID, C_INDEXUSAGE).size(), 6u);

    TInternalRestructureRecord empty;
    EXPECT_EQ(ErrorCode([&] { Mgr().RestructureTableDef(Def.get(), empty); }), 8576);
    std::unique_ptr<TTableDef> memory = MakeDef("M", 1, true);
    EXPECT_EQ(ErrorCode([&] { Mgr().RestructureTableDef(memory.get(), r.Record); }), 8577);
}

// With pages larger than an index block every index block still has pages of its own, so an
// index-only restructure of one table frees its old trees whole and leaves another table's
// index pages (in pages next to them, of another encryption level) alone.
TEST(RestructureLargePagesTest, TheOldTreesGoWithoutTouchingAnotherTable) {
    for (uint32_t pageSize : {2 * PS, 4 * PS, 8 * PS}) {
        SCOPED_TRACE(pageSize);
        test::TempDir dir;
        const std::string path = dir.File("big.orq");
        CreateDatabase(path, pageSize);
        Connection conn(path, pageSize);
        auto open = [&](const std::string& Name, TEncryptionLevel Level) {
            std::unique_ptr<TTableDef> def = MakeDef(Name, 1, false, Level);
            conn.Mgr.CreateTableDef(Name, def.get());
            conn.Mgr.OpenTableDefConnection(Name, def.get());
            return def;
        };
        std::unique_ptr<TTableDef> a = open("A", encWeak);
        std::unique_ptr<TTableDef> b = open("B", encNone);
        const uint32_t rootB = b->TableHeader()->GetIndexRoot(0);
        ASSERT_EQ(conn.Owned(b->TableID(), C_INDEXUSAGE), std::vector<uint32_t>{rootB});

        // A's tree grows by a leaf, as after a split.
        std::vector<uint8_t> leaf(PS, 0);
        leaf[0] = 1;
        a->IndexInterface()->AllocateNewAddress(PS, leaf.data());
        ASSERT_EQ(conn.Owned(a->TableID(), C_INDEXUSAGE).size(), 2u);

        Restructure r(dcNoChange, dcAdded, 1);
        conn.Mgr.RestructureTableDef(a.get(), r.Record);
        EXPECT_EQ(conn.Owned(a->TableID(), C_INDEXUSAGE),
                  std::vector<uint32_t>{a->TableHeader()->GetIndexRoot(0)})
            << "only the new root is left";
        EXPECT_EQ(conn.Owned(b->TableID(), C_INDEXUSAGE), std::vector<uint32_t>{rootB});
        uint8_t first[4];
        b->IndexInterface()->ReadBlock(rootB, 4, first);
        EXPECT_EQ(first[0], 1) << "B's root is intact";
    }
}

// ---------------------------------------------------------------------------------------------
// Field generator ids

TEST_F(DiskTableMgrTest, FieldGeneratorIdsAreUniqueWithinATable) {
    std::unique_ptr<TTableDef> def = MakeDef("Orders", 1);
    for (int i = 0; i < 3; ++i) def->InternalFields()->GetIndex(i)->SetFieldGeneratorID(77);
    Mgr().CreateTableDef("Orders", def.get());
    std::set<int32_t> ids;
    for (int i = 0; i < 3; ++i) ids.insert(def->InternalFields()->GetIndex(i)->FieldGeneratorID());
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(def->InternalFields()->GetIndex(0)->FieldGeneratorID(), 77) << "the first keeps its id";
    EXPECT_EQ(Mgr().TableDefs(0)->InternalFields()->GetIndex(1)->FieldGeneratorID(),
              def->InternalFields()->GetIndex(1)->FieldGeneratorID())
        << "the master has the same ids";

    // In a restructure a field that continues an old one keeps its id; a new field that drew
    // the same id draws again, even when it comes first.
    Mgr().OpenTableDefConnection("Orders", def.get());
    def->InternalFields()->GetIndex(0)->SetFieldGeneratorID(500);  // "ID": new
    def->InternalFields()->GetIndex(2)->SetFieldGeneratorID(500);  // "NOTE": kept
    Restructure r(dcAdded, dcNoChange);
    r.Fields.AddAndSetFieldDef("ID", ftInteger, 0);
    r.Fields.AddAndSetFieldDef("NAME", ftString, 20)->SetSourceFieldName("NAME");
    r.Fields.AddAndSetFieldDef("NOTE", ftMemo, 0)->SetSourceFieldName("NOTE");
    Mgr().RestructureTableDef(def.get(), r.Record);
    EXPECT_EQ(def->InternalFields()->GetIndex(2)->FieldGeneratorID(), 500);
    EXPECT_NE(def->InternalFields()->GetIndex(0)->FieldGeneratorID(), 500);
}

// ---------------------------------------------------------------------------------------------
// In-memory tables

class MemoryTableMgrTest : public ::testing::Test {
protected:
    void SetUp() override { Mgr.Open(); }
    TMemoryTableDefMgr Mgr;
};

TEST_F(MemoryTableMgrTest, TablesLiveUntilDeletedAndAreSharedByTheirConnections) {
    std::unique_ptr<TTableDef> def = MakeDef("Result", 2, true);
    def->SetCreatedBy("ann");
    EXPECT_EQ(Mgr.CreateTableDef("Result", def.get()), 0);
    EXPECT_EQ(def->TableID(), 1);
    EXPECT_EQ(ErrorCode([&] { Mgr.CreateTableDef("RESULT", MakeDef("RESULT", 1, true).get()); }), 8580);
    EXPECT_EQ(ErrorCode([&] { Mgr.CreateTableDef("Disk", MakeDef("Disk", 1).get()); }), 8577);

    // A connection's definition is filled from the master.
    TTableDef a(nullptr), b(nullptr);
    Mgr.OpenTableDefConnection("result", &a);
    Mgr.OpenTableDefConnection("Result", &b);
    EXPECT_EQ(a.TableName(), "Result");
    EXPECT_EQ(a.CreatedBy(), "ann");
    EXPECT_EQ(a.TableID(), 1);
    EXPECT_EQ(a.InternalIndexDefs()->Count(), 2);
    EXPECT_EQ(a.RecordInterface(), b.RecordInterface());
    EXPECT_EQ(a.TableHeader(), b.TableHeader());
    EXPECT_EQ(Mgr.CheckTableUserCount("Result"), 2);
    TTableHeader* header = a.TableHeader();
    ASSERT_EQ(header->GetIndexCount(), 2u);
    for (int i = 0; i < 2; ++i) {
        uint8_t root[C_INDEXROOTPAGESIZE];
        a.IndexInterface()->ReadBlock(header->GetIndexRoot(i), sizeof root, root);
        EXPECT_EQ(root[0], 1);
        EXPECT_EQ(header->GetIndexDepth(i), 1);
    }

    // Records stay while no connection is open.
    std::vector<uint8_t> rec(size_t(a.RecordSize()), 9);
    const uint32_t address = a.RecordInterface()->AllocateNewAddress(uint32_t(rec.size()), rec.data());
    EXPECT_EQ(ErrorCode([&] { Mgr.DeleteTableDef("Result", &a); }), 8578);
    EXPECT_EQ(Mgr.CheckTableUserCount("Result"), 2) << "a refused delete keeps the count";
    Mgr.CloseTableDefConnection(1);
    Mgr.CloseTableDefConnection(1);
    Mgr.CloseTableDefConnection(1);
    EXPECT_EQ(Mgr.CheckTableUserCount("Result"), 0);
    TTableDef c(nullptr);
    Mgr.OpenTableDefConnection("Result", &c);
    std::vector<uint8_t> back(rec.size());
    c.RecordInterface()->ReadBlock(address, uint32_t(back.size()), back.data());
    EXPECT_EQ(back, rec);
    EXPECT_EQ(c.TableHeader()->GetIndexRoot(0), header->GetIndexRoot(0)) << "no second set of roots";

    EXPECT_EQ(Mgr.DeleteTableDef("Result", &c), 0);
    EXPECT_EQ(Mgr.Count(), 0);
    EXPECT_EQ(c.TableID(), 0);
    EXPECT_EQ(ErrorCode([&] { Mgr.OpenTableDefConnection("Result", &c); }), 8579);
    EXPECT_EQ(ErrorCode([&] { Mgr.CloseTableDefConnection(1); }), 8579);
    TInternalRestructureRecord request;
    EXPECT_EQ(ErrorCode([&] { Mgr.RestructureTableDef(&c, request); }), 10766);
}

TEST_F(MemoryTableMgrTest, CloseDiscardsEveryTable) {
    std::unique_ptr<TTableDef> def = MakeDef("Result", 1, true);
    Mgr.CreateTableDef("Result", def.get());
    Mgr.OpenTableDefConnection("Result", def.get());
    Mgr.Open();  // closes first
    EXPECT_EQ(Mgr.Count(), 0);
    std::unique_ptr<TTableDef> next = MakeDef("Next", 1, true);
    Mgr.CreateTableDef("Next", next.get());
    EXPECT_EQ(next->TableID(), 1) << "a fresh map";
    Mgr.SetSystemTableMgr(true);
    Mgr.Open();
    Mgr.CreateTableDef("Sys", next.get());
    EXPECT_EQ(next->TableID(), 1024);
}

}  // namespace
}  // namespace ostra
