// The index pages of several tables in one database file, at every page size from 4096 to 32768
// bytes. Tables of mixed encryption levels and weak-encryption key steps are created, filled,
// dropped, emptied, re-indexed and created again the way the database component and the cursor
// do it, and every table is then checked against a model: its records; every index (sound page
// by page, holding exactly the live records, each found at its own key); its free record and
// blob chains (exactly the blocks no record uses); the map (a table's index pages are exactly its
// trees' pages, no page belongs to a table that is gone); and the file's storage structure. A
// file with larger pages made when index pages were shared by several tables stays readable, and
// dropping, emptying or re-indexing one of its tables loses nothing of another.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/orqBTree.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqGlobalHdr.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqMapPageMgr.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqRecordMgr.h"
#include "engine/storage/orqTableHeader.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Exceptions.h"
#include "host/Streams.h"
#include "support/CrashHarness.h"
#include "support/DiskTestSupport.h"
#include "support/orqLayoutFixture.h"
#include "support/orqTableConnection.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;
using testing::TableConnection;

constexpr uint32_t LargerPageSizes[] = {2 * PS, 4 * PS, 8 * PS};

// Field positions, and the indexes in order (also the header slots): a table has the first one,
// two or three of them.
enum { fID, fName, fNote };
enum { ixID, ixName, ixNameDown, MaxIndexes };
constexpr int DefaultIndexes = 2;

struct TRow {
    int32_t ID = 0;
    std::string Name;
    std::string Note;  // "" = null
    bool operator==(const TRow&) const = default;
};
using TRows = std::map<int32_t, TRow>;

// A row: names from a small set, so the name index holds runs of equal keys; a note of 0 to
// 1,800 bytes (0 to 4 blob blocks).
TRow MakeRow(int32_t ID, std::mt19937& Rng) {
    static const char* const parts[] = {"ka", "Lo", "mi", "Re", "su", "ta", "Vi", "no"};
    TRow row{ID, std::string(parts[Rng() % 8]) + parts[Rng() % 8] + parts[Rng() % 8], ""};
    if (Rng() % 3 == 0) row.Note.assign(Rng() % 1800 + 1, char('a' + Rng() % 26));
    return row;
}

uint32_t U32At(const std::vector<uint8_t>& Bytes, std::size_t Offset) {
    uint32_t value;
    std::memcpy(&value, &Bytes.at(Offset), 4);
    return value;
}

// ID Integer, NAME String(24), NOTE Memo; the first Indexes of: "ixID" unique and primary on ID,
// "ixName" on NAME, "ixNameDown" descending on NAME.
std::unique_ptr<TTableDef> TableDef(const std::string& Name, TEncryptionLevel Level, int Indexes) {
    const std::vector<TIndexRequest> requests = {{"ixID", "ID", "", "", true, true},
                                                 {"ixName", "NAME"},
                                                 {"ixNameDown", "NAME", "", "", false, false, true}};
    return testing::MakeTableDef(Name, {{"ID", ftInteger}, {"NAME", ftString, 24}, {"NOTE", ftMemo}},
                                 {requests.begin(), requests.begin() + Indexes}, false, Level);
}

// The problems a check finds, the first few of them.
class TProblems {
public:
    void Add(const std::string& Text) {
        if (FCount++ < 6) FText += (FText.empty() ? "" : "; ") + Text;
    }
    std::string Text() const {
        return FCount > 6 ? FText + " (" + std::to_string(FCount) + " in all)" : FText;
    }

private:
    std::string FText;
    int FCount = 0;
};

// One table of a connection, worked the way the cursor works a table: under its write lock, the
// table header read first (free chains, index roots) and written last; every index kept in step
// with the records; notes in blob chains. Drop is the database component's: the definition goes,
// then every page the table owns.
class TTable {
public:
    // A table to create, or (ID given) one that exists.
    TTable(TableConnection& Conn, std::string Name, TEncryptionLevel Level, int Indexes = DefaultIndexes,
           int32_t ID = 0)
        : FConn(Conn), FName(std::move(Name)), FLevel(Level), FIndexCount(Indexes), FID(ID) {}
    ~TTable() {
        try {
            Close();
        } catch (...) {
        }
    }

    void Create() {
        std::unique_ptr<TTableDef> def = TableDef(FName, FLevel, FIndexCount);
        FConn.Mgr.CreateTableDef(FName, def.get());
        FID = def->TableID();
        Open();
    }

    void Open() {
        FDef = TableDef(FName, FLevel, FIndexCount);
        FDef->SetTableID(FID);
        FConn.Mgr.OpenTableDefConnection(FName, FDef.get());
        FOpen = true;
        testing::OpenTableRecords(FRecords, FBlobs, *FDef);
        OpenIndexes();
    }

    void Close() {
        if (!FOpen) return;
        FOpen = false;
        FIndexes.Close();
        FBlobs.Close();
        FRecords.Close();
        FConn.Mgr.CloseTableDefConnection(FID);
    }

    // Runs Step under the table's write lock between reading and writing the table header,
    // in a transaction committed at the end or straight to the file.
    void Change(bool InTransaction, const std::function<void()>& Step) {
        TDiskMgr& disk = *FConn.Disk;
        if (InTransaction) disk.DiskStartTransaction(false);
        try {
            disk.SetTableLock(uint16_t(FID), CWriteLock);
            ReadTableHeader();
            Step();
            WriteTableHeader();
            if (InTransaction)
                disk.DiskCommit();
            else
                disk.ReleaseTableLock(uint16_t(FID));
        } catch (...) {
            if (disk.IsTransactionActive())
                disk.DiskRollback();
            else
                disk.ReleaseTableLock(uint16_t(FID));
            throw;
        }
    }

    void Insert(const TRow& Row) {
        const uint32_t logical = Header().GetLogicalRecordNo() + 1;
        Header().SetLogicalRecordNo(logical);
        TMemoryStream note;
        note.Write(Row.Note.data(), int64_t(Row.Note.size()));
        const std::vector<uint8_t> rec = Encode(Row, logical, Row.Note.empty() ? 0 : FBlobs.InsertBlob(note));
        for (int i = 0; i < FIndexes.Count(); ++i) {
            Index(i).CreateKeyBuffer(rec.data(), nullptr);
            if (Index(i).FullIndexSearch(stEQ) == 0) throw Exception("key exists: " + std::to_string(Row.ID));
        }
        const uint32_t address = FRecords.AddRecord(rec.data());
        for (int i = 0; i < FIndexes.Count(); ++i)
            if (Index(i).InsertKey(address) != 0)
                throw Exception("insert refused: " + std::to_string(Row.ID));
    }

    void Delete(int32_t ID) {
        std::vector<uint8_t> search = testing::NewRecord(FRecords.Fields());
        testing::SetBytes(search, *Field(fID), &ID, 4);
        Index(ixID).CreateKeyBuffer(search.data(), nullptr);
        if (Index(ixID).FullIndexSearch(stEQ) != 0) throw Exception("no record " + std::to_string(ID));
        const uint32_t address = Index(ixID).GetRecordAddress();
        std::vector<uint8_t> rec(std::size_t(FDef->RecordSize()));
        FRecords.ReadRecord(address, rec.data(), false);
        for (int i = 0; i < FIndexes.Count(); ++i) {
            Index(i).CreateKeyBuffer(rec.data(), nullptr);
            if (Index(i).FullIndexSearch(stEQ) != 0 || Index(i).DeleteKey() != 0)
                throw Exception("a key is missing in " + Index(i).IndexName());
        }
        if (const uint32_t chain = U32At(rec, std::size_t(Field(fNote)->DataOffset())))
            FBlobs.DeleteBlob(chain, 0);
        FRecords.DeleteRecord(address);
    }

    // Every record and key goes (the cursor's empty table): every page of the table is freed,
    // the free chains and the logical record number start again, the indexes are made anew.
    void Empty() {
        Change(false, [&] {
            FDef->RecordInterface()->Empty(false);
            for (TBaseIOInterface* io : {FDef->RecordInterface(), FDef->BlobInterface()}) {
                io->SetFirstEmpty(0);
                io->SetFirstEmptyValid(true);
            }
            Header().SetLogicalRecordNo(0);
            FIndexes.CreateIndexes();
            FIndexes.Close();
            OpenIndexes();
        });
    }

    // The indexes are rebuilt from the stored records (the cursor's re-index): the index pages
    // are freed, the indexes made anew, and every live record's keys inserted.
    void ReIndex(bool InTransaction = false) {
        Change(InTransaction, [&] {
            std::vector<uint32_t> blocks;
            FDef->RecordInterface()->ListBlocks(blocks);
            FDef->IndexInterface()->Empty(true);
            FIndexes.CreateIndexes();
            WriteTableHeader();
            FIndexes.Close();
            OpenIndexes();
            ReadTableHeader();
            std::vector<uint8_t> rec(std::size_t(FDef->RecordSize()));
            for (uint32_t address : blocks) {
                FRecords.ReadRecord(address, rec.data(), true);
                if (rec[C_RECINUSEOFFSET] == 0) continue;
                for (int i = 0; i < FIndexes.Count(); ++i) {
                    Index(i).CreateKeyBuffer(rec.data(), nullptr);
                    if (Index(i).FullIndexSearch(stEQ) == 0) throw Exception("a record's key is there twice");
                }
                for (int i = 0; i < FIndexes.Count(); ++i)
                    if (Index(i).InsertKey(address) != 0) throw Exception("a key could not be added");
            }
        });
    }

    // The database component's delete: under the header lock the definition goes, then every
    // page the table owns.
    void Drop() {
        Close();
        std::unique_ptr<TTableDef> def = TableDef(FName, FLevel, FIndexCount);
        def->SetTableID(FID);
        TDiskMgr& disk = *FConn.Disk;
        disk.SetHeaderWriteLock();
        FConn.Mgr.DeleteTableDef(FName, def.get());
        disk.DeleteOwnedPages(uint16_t(FID), 0, false);
        disk.ReleaseHeaderLock();
        FID = 0;
    }

    // Sets the index roots (depth 1), as a test builds a file of an earlier layout.
    void SetRoots(const std::vector<uint32_t>& Roots) {
        Change(false, [&] {
            for (int i = 0; i < int(Roots.size()); ++i) {
                Header().SetIndexRoot(i, Roots[std::size_t(i)]);
                Header().SetIndexDepth(i, 1);
            }
            FIndexes.ReadIndexHeaders(true);
        });
    }

    // Checks the table against Model under a read lock; "" when all holds. OwnIndexPages: the
    // table's index pages must be exactly its trees' pages.
    std::string Check(const TRows& Model, bool OwnIndexPages = true) {
        TProblems problems;
        TDiskMgr& disk = *FConn.Disk;
        disk.SetTableLock(uint16_t(FID), CReadLock);
        try {
            ReadTableHeader();
            CheckContents(Model, OwnIndexPages, problems);
        } catch (const std::exception& e) {
            problems.Add(std::string("the check raised: ") + e.what());
        }
        disk.ReleaseTableLock(uint16_t(FID));
        return problems.Text().empty() ? "" : FName + ": " + problems.Text();
    }

    int32_t ID() const { return FID; }
    const std::string& Name() const { return FName; }
    TEncryptionLevel Level() const { return FLevel; }
    int Indexes() const { return FIndexCount; }

private:
    void OpenIndexes() { testing::OpenTableIndexes(FIndexes, *FDef); }

    void ReadTableHeader() {
        Header().ReadHeader();
        FIndexes.ReadIndexHeaders(true);
        FDef->RecordInterface()->SetFirstEmpty(Header().GetRecordFirstEmpty());
        FDef->BlobInterface()->SetFirstEmpty(Header().GetBlobFirstEmpty());
        for (TBaseIOInterface* io : {FDef->RecordInterface(), FDef->BlobInterface()})
            io->SetFirstEmptyValid(true);
    }

    void WriteTableHeader() {
        Header().SetRecordFirstEmpty(FDef->RecordInterface()->FirstEmpty());
        Header().SetBlobFirstEmpty(FDef->BlobInterface()->FirstEmpty());
        FIndexes.WriteIndexHeaders();
        if (Header().Dirty()) Header().WriteHeader();
    }

    std::vector<uint8_t> Encode(const TRow& Row, uint32_t Logical, uint32_t NoteChain) {
        std::vector<uint8_t> rec = testing::NewRecord(FRecords.Fields());
        const uint32_t owner = uint32_t(FID) << 4 | C_RECORDUSAGE;
        std::memcpy(&rec[C_RECOWNEROFFSET], &owner, 4);
        std::memcpy(&rec[C_RECLOGICALNOOFFSET], &Logical, 4);
        testing::SetBytes(rec, *Field(fID), &Row.ID, 4);
        testing::SetString(rec, *Field(fName), Row.Name);
        if (!Row.Note.empty()) {
            const uint32_t value[2] = {NoteChain, uint32_t(Row.Note.size())};
            testing::SetBytes(rec, *Field(fNote), value, 8);
        }
        return rec;
    }

    // The row of a stored record; the blocks of its note's chain go into Chain.
    TRow Decode(const std::vector<uint8_t>& Rec, const std::set<uint32_t>& BlobBlocks,
                std::set<uint32_t>& Chain, TProblems& Problems) {
        TRow row;
        row.ID = int32_t(U32At(Rec, std::size_t(Field(fID)->DataOffset())));
        const std::size_t marker = std::size_t(Field(fName)->SizeMarkerOffset());
        const std::size_t length =
            std::min<std::size_t>(Rec[marker] | Rec[marker + 1] << 8, std::size_t(Field(fName)->FieldSize()));
        row.Name.assign(reinterpret_cast<const char*>(&Rec[std::size_t(Field(fName)->DataOffset())]), length);
        if (Rec[std::size_t(Field(fNote)->NullFlagOffset())] != C_FIELDNOTNULL) return row;
        const uint32_t first = U32At(Rec, std::size_t(Field(fNote)->DataOffset()));
        for (uint32_t block = first; block != 0;) {
            if (!BlobBlocks.count(block) || !Chain.insert(block).second) {
                Problems.Add("the note of record " + std::to_string(row.ID) + " has a bad chain");
                return row;
            }
            std::vector<uint8_t> link(4);
            FDef->BlobInterface()->ReadBlockHeader(block, 4, link.data());
            block = U32At(link, 0);
        }
        TMemoryStream note;
        FBlobs.ReadBlob(first, note);
        row.Note.assign(static_cast<const char*>(note.Memory()), std::size_t(note.Size()));
        return row;
    }

    // The blocks of the free chain from Head, each run lying in All with its head fields as
    // stored and its other blocks zero.
    static std::set<uint32_t> FreeBlocks(TBaseIOInterface& IO, uint32_t Head, const std::set<uint32_t>& All,
                                         TProblems& Problems) {
        std::set<uint32_t> free;
        std::vector<uint8_t> block(IO.BlockSize());
        for (uint32_t run = Head; run != 0;) {
            if (All.count(run)) IO.ReadBlock(run, IO.BlockSize(), block.data());
            const uint32_t count = U32At(block, CFreeRunCountOffset);
            const uint32_t next = U32At(block, CFreeRunLinkOffset);
            if (!All.count(run) || count == 0 || U32At(block, 0) != 0 || U32At(block, 4) != 0) {
                Problems.Add("a free run head at " + std::to_string(run) + " is not one");
                return free;
            }
            for (uint32_t i = 0; i < count; ++i) {
                const uint32_t address = run + i * IO.BlockSize();
                if (!All.count(address) || !free.insert(address).second) {
                    Problems.Add("the free run at " + std::to_string(run) + " is out of place");
                    return free;
                }
                if (i == 0) continue;
                IO.ReadBlock(address, IO.BlockSize(), block.data());
                if (std::any_of(block.begin(), block.end(), [](uint8_t b) { return b != 0; }))
                    Problems.Add("the free block at " + std::to_string(address) + " is not zeros");
            }
            run = next;
        }
        return free;
    }

    void CheckContents(const TRows& Model, bool OwnIndexPages, TProblems& Problems) {
        std::vector<uint32_t> list;
        FDef->RecordInterface()->ListBlocks(list);
        const std::set<uint32_t> recordBlocks(list.begin(), list.end());
        FDef->BlobInterface()->ListBlocks(list);
        const std::set<uint32_t> blobBlocks(list.begin(), list.end());

        // The records, and the blobs of their notes.
        std::map<uint32_t, std::vector<uint8_t>> live;
        std::set<uint32_t> chains;
        TRows rows;
        std::vector<uint8_t> rec(std::size_t(FDef->RecordSize()));
        for (uint32_t address : recordBlocks) {
            FDef->RecordInterface()->ReadBlock(address, uint32_t(rec.size()), rec.data());
            if (rec[C_RECINUSEOFFSET] == 0) continue;
            live[address] = rec;
            const TRow row = Decode(rec, blobBlocks, chains, Problems);
            if (!rows.emplace(row.ID, row).second)
                Problems.Add("two records of ID " + std::to_string(row.ID));
        }
        if (rows != Model)
            Problems.Add(std::to_string(rows.size()) + " records that are not the model's " +
                         std::to_string(Model.size()));

        // The free chains hold exactly the blocks no record and no note uses.
        std::set<uint32_t> used;
        for (const auto& entry : live) used.insert(entry.first);
        const struct {
            const char* What;
            TBaseIOInterface* IO;
            uint32_t Head;
            const std::set<uint32_t>& All;
            const std::set<uint32_t>& Used;
        } storages[] = {
            {"record", FDef->RecordInterface(), Header().GetRecordFirstEmpty(), recordBlocks, used},
            {"blob", FDef->BlobInterface(), Header().GetBlobFirstEmpty(), blobBlocks, chains}};
        for (const auto& storage : storages) {
            std::set<uint32_t> both = FreeBlocks(*storage.IO, storage.Head, storage.All, Problems);
            const std::size_t free = both.size();
            both.insert(storage.Used.begin(), storage.Used.end());
            if (both.size() != free + storage.Used.size() || both != storage.All)
                Problems.Add(std::string(storage.What) + " blocks are lost or both used and free");
        }

        // Every index: sound, exactly the live records, each at its own key.
        std::set<uint32_t> treePages;
        std::vector<uint32_t> liveAddresses;
        for (const auto& entry : live) liveAddresses.push_back(entry.first);
        for (int i = 0; i < FIndexes.Count(); ++i) {
            TIndexItem& index = Index(i);
            std::vector<uint32_t> pages, addresses;
            const std::string fault =
                crashtest::CheckTreePages(*FDef->IndexInterface(), index.Tree(), index.Root(), index.Depth(),
                                          C_DEFAULTINDEXPAGESIZE, pages, addresses);
            if (!fault.empty()) {
                Problems.Add(index.IndexName() + ": " + fault);
                continue;
            }
            treePages.insert(pages.begin(), pages.end());
            std::sort(addresses.begin(), addresses.end());
            if (addresses != liveAddresses || index.GetRecordCount(true) != int(live.size()))
                Problems.Add(index.IndexName() + " does not hold exactly the live records");
            for (const auto& [address, record] : live) {
                index.CreateKeyBuffer(record.data(), nullptr);
                if (index.FullIndexSearch(stEQ) != 0 || index.GetRecordAddress() != address) {
                    Problems.Add("record " + std::to_string(address) + " is not found through " +
                                 index.IndexName());
                    break;
                }
            }
        }
        if (OwnIndexPages) {
            const std::vector<uint32_t> owned = FConn.Owned(FID, C_INDEXUSAGE);
            if (std::set<uint32_t>(owned.begin(), owned.end()) != treePages)
                Problems.Add("the index pages owned (" + std::to_string(owned.size()) +
                             ") are not the trees' pages (" + std::to_string(treePages.size()) + ")");
        }
    }

    TTableHeader& Header() { return *FDef->TableHeader(); }
    TIndexItem& Index(int I) { return *FIndexes.GetItems(I); }
    TInternalFieldItem* Field(int F) { return FRecords.Fields().GetIndex(F); }

    TableConnection& FConn;
    std::string FName;
    TEncryptionLevel FLevel;
    int FIndexCount;
    int32_t FID;
    std::unique_ptr<TTableDef> FDef;
    bool FOpen = false;
    TRecordMgr FRecords;
    TBlobInterface FBlobs;
    TIndexManager FIndexes;
};

// Checks the whole file (no transaction running): the storage structure; every page of index,
// record or blob usage owned by a table of LiveIDs (or, in a file made before, kept); the index
// chain of the global header unused and the layout mark as the page size asks.
std::string CheckFile(const std::string& Path, uint32_t PageSize, const std::set<int32_t>& LiveIDs,
                      bool MadeBefore = false) {
    const std::string bytes = test::ReadAll(Path);
    std::string problems = crashtest::CheckStorageStructure(bytes, PageSize);
    for (const crashtest::TMapEntry& entry : crashtest::ReadMapEntries(bytes, PageSize)) {
        const uint16_t usage = entry.Entry & 0xF;
        const int32_t owner = entry.Entry >> 4;
        if ((entry.Entry & CMapEntryFree) ||
            (usage != CUsageIndex && usage != CUsageRecord && usage != CUsageBlob))
            continue;
        if (!LiveIDs.count(owner) && !(MadeBefore && entry.Entry == CKeptIndexPageOwner)) {
            problems +=
                " page " + std::to_string(entry.Address) + " belongs to table " + std::to_string(owner);
            break;
        }
    }
    if (!MadeBefore) {
        const std::string header = bytes.substr(CGlobalHdrAddress, CGlobalHdrSize);
        if (U32(header, CHdrIndexesFirstEmpty) != 0) problems += " the shared index chain is in use";
        if (U32(header, CHdrIndexPageLayout) != (PageSize > PS ? CIndexPagesOwnedAlone : 0))
            problems += " the index page layout is " + std::to_string(U32(header, CHdrIndexPageLayout));
    }
    return problems;
}

// A database file of one page size with one connection.
struct TDatabase {
    explicit TDatabase(uint32_t APageSize) : PageSize(APageSize) {
        CreateDatabase(Path, PageSize);
        Conn = std::make_unique<TableConnection>(Path, PageSize);
    }
    test::TempDir Dir;
    std::string Path = Dir.File("tables.orq");
    uint32_t PageSize;
    std::unique_ptr<TableConnection> Conn;
};

// Fills Table with Count new rows from NextID on (one transaction), into Model.
void Fill(TTable& Table, TRows& Model, int32_t& NextID, int Count, std::mt19937& Rng,
          bool InTransaction = true) {
    Table.Change(InTransaction, [&] {
        for (int i = 0; i < Count; ++i) {
            const TRow row = MakeRow(NextID++, Rng);
            Table.Insert(row);
            Model[row.ID] = row;
        }
    });
}

// ---------------------------------------------------------------------------------------------
// The faults of a shared index chain, each shown at every larger page size

// Dropping a table whose pages held other tables' index roots destroyed them; creating a table of
// another encryption level (or weak-encryption key step: tables 2 and 4) than the table that left
// a spare index block failed with 8962. Every table of every level now keeps its index pages to
// itself: dropping one and creating it again leaves the others whole.
TEST(IndexPagesTest, TablesOfEveryEncryptionComeAndGoWithoutTouchingEachOther) {
    for (uint32_t pageSize : LargerPageSizes) {
        SCOPED_TRACE(pageSize);
        TDatabase db(pageSize);
        std::mt19937 rng(pageSize);
        int32_t nextID = 1;
        // Three index roots leave a page half used at 8192, so the next table's first root would
        // have gone there.
        const struct {
            const char* Name;
            TEncryptionLevel Level;
            int Indexes;
        } specs[] = {{"A", encNone, 3}, {"B", encWeak, 1}, {"C", encStrong, 3}, {"D", encWeak, 2}};
        std::vector<std::unique_ptr<TTable>> tables;
        std::vector<TRows> models(4);
        for (const auto& spec : specs) {
            tables.push_back(std::make_unique<TTable>(*db.Conn, spec.Name, spec.Level, spec.Indexes));
            tables.back()->Create();
        }
        ASSERT_EQ(tables[3]->ID(), 4);
        // Interleaved, so that their trees grow page after page side by side.
        for (int round = 0; round < 3; ++round)
            for (std::size_t t = 0; t < tables.size(); ++t) Fill(*tables[t], models[t], nextID, 90, rng);
        for (std::size_t t = 0; t < tables.size(); ++t) EXPECT_EQ(tables[t]->Check(models[t]), "");
        EXPECT_EQ(CheckFile(db.Path, pageSize, {1, 2, 3, 4}), "");

        tables[0]->Drop();
        for (std::size_t t = 1; t < tables.size(); ++t) EXPECT_EQ(tables[t]->Check(models[t]), "");
        EXPECT_EQ(CheckFile(db.Path, pageSize, {2, 3, 4}), "");

        tables[0] = std::make_unique<TTable>(*db.Conn, "A", encStrong, 3);
        tables[0]->Create();
        EXPECT_EQ(tables[0]->ID(), 1);
        models[0].clear();
        Fill(*tables[0], models[0], nextID, 200, rng);
        tables[2]->Drop();
        for (std::size_t t : {0u, 1u, 3u}) EXPECT_EQ(tables[t]->Check(models[t]), "");
        EXPECT_EQ(CheckFile(db.Path, pageSize, {1, 2, 4}), "");
    }
}

// Emptying and re-indexing one table the way the cursor does frees that table's index pages
// only: the other table's trees and records stay whole, also for a second connection.
TEST(IndexPagesTest, EmptyingAndReIndexingOneTableLeaveTheOtherWhole) {
    for (uint32_t pageSize : LargerPageSizes) {
        SCOPED_TRACE(pageSize);
        TDatabase db(pageSize);
        std::mt19937 rng(pageSize + 1);
        int32_t nextID = 1;
        TTable p(*db.Conn, "P", encWeak), q(*db.Conn, "Q", encNone);
        p.Create();
        q.Create();
        TRows modelP, modelQ;
        for (int round = 0; round < 3; ++round) {
            Fill(p, modelP, nextID, 120, rng);
            Fill(q, modelQ, nextID, 120, rng, round != 1);
        }
        p.ReIndex();
        EXPECT_EQ(p.Check(modelP), "");
        EXPECT_EQ(q.Check(modelQ), "");
        p.Empty();
        modelP.clear();
        EXPECT_EQ(p.Check(modelP), "");
        EXPECT_EQ(q.Check(modelQ), "");
        EXPECT_EQ(CheckFile(db.Path, pageSize, {p.ID(), q.ID()}), "");
        Fill(p, modelP, nextID, 300, rng);
        p.ReIndex();
        EXPECT_EQ(p.Check(modelP), "");
        EXPECT_EQ(CheckFile(db.Path, pageSize, {p.ID(), q.ID()}), "");

        TableConnection other(db.Path, pageSize);
        TTable q2(other, "Q", encNone, DefaultIndexes, q.ID());
        q2.Open();
        EXPECT_EQ(q2.Check(modelQ), "");
    }
}

// ---------------------------------------------------------------------------------------------
// A file made when index pages were shared

// Makes the file what such a file was: the roots of A and B (both closed, encNone) given out
// through the index chain in the global header that every table's index storage took spare
// blocks from, so that their index blocks share pages (and a spare block of A's is left on the
// chain), and no layout mark. A and B are opened again on a new connection.
void ShareIndexPages(TDatabase& Db, std::unique_ptr<TTable>& A, std::unique_ptr<TTable>& B) {
    PatchU32(Db.Path, CGlobalHdrAddress + CHdrIndexPageLayout, 0);
    Db.Conn = std::make_unique<TableConnection>(Db.Path, Db.PageSize);
    std::unique_ptr<TTable>* tables[] = {&A, &B};
    std::vector<uint32_t> created[2], roots[2];
    for (int t = 0; t < 2; ++t) created[t] = Db.Conn->Owned((*tables[t])->ID(), CUsageIndex);
    std::vector<uint8_t> leaf(PS, 0);
    leaf[0] = 1;
    auto allocate = [&](int T) {
        TDiskIOInterface io;
        io.SetDiskMgr(Db.Conn->Disk.get());
        io.SetBlockSize(PS);
        io.SetUsage(CUsageIndex);
        io.SetTableID(uint16_t((*tables[T])->ID()));
        io.SetAccessFlags(1);
        io.SetGlobalFirstEmptyOffset(CHdrIndexesFirstEmpty);
        io.Open();
        return io.AllocateNewAddress(PS, leaf.data());
    };
    for (int i = 0; i < DefaultIndexes; ++i)
        for (int t = 0; t < 2; ++t) roots[t].push_back(allocate(t));
    allocate(0);
    for (int t = 0; t < 2; ++t) {
        TTable& old = **tables[t];
        *tables[t] = std::make_unique<TTable>(*Db.Conn, std::string(old.Name()), old.Level(), DefaultIndexes,
                                              old.ID());
        (*tables[t])->Open();
        (*tables[t])->SetRoots(roots[t]);
        for (uint32_t page : created[t]) Db.Conn->Disk->ReleasePages(page, 1);
    }
}

TEST(IndexPagesTest, AFileMadeWhenIndexPagesWereSharedStaysReadableAndLosesNothing) {
    for (uint32_t pageSize : {2 * PS, 4 * PS}) {
        SCOPED_TRACE(pageSize);
        TDatabase db(pageSize);
        std::mt19937 rng(pageSize + 2);
        int32_t nextID = 1;
        auto a = std::make_unique<TTable>(*db.Conn, "A", encNone);
        auto b = std::make_unique<TTable>(*db.Conn, "B", encNone);
        a->Create();
        b->Create();
        a->Close();
        b->Close();
        ShareIndexPages(db, a, b);
        ASSERT_TRUE(db.Conn->Disk->IndexPagesMayBeShared());
        TRows modelA, modelB, modelC;
        Fill(*a, modelA, nextID, 250, rng);
        Fill(*b, modelB, nextID, 250, rng);
        EXPECT_EQ(a->Check(modelA, false), "");
        EXPECT_EQ(b->Check(modelB, false), "");

        // A table of another level takes no block from the old chain (it named a block in A's
        // page, scrambled otherwise).
        TTable c(*db.Conn, "C", encWeak);
        c.Create();
        Fill(c, modelC, nextID, 250, rng);
        EXPECT_EQ(c.Check(modelC), "");

        a->Drop();
        EXPECT_EQ(b->Check(modelB, false), "") << "B's roots lie in pages A owned";
        EXPECT_EQ(c.Check(modelC), "");
        b->ReIndex();
        b->Empty();
        modelB.clear();
        Fill(*b, modelB, nextID, 100, rng);
        a = std::make_unique<TTable>(*db.Conn, "A", encStrong);
        a->Create();
        modelA.clear();
        Fill(*a, modelA, nextID, 100, rng);
        const std::pair<TTable*, TRows*> checks[] = {{a.get(), &modelA}, {b.get(), &modelB}, {&c, &modelC}};
        for (auto [table, model] : checks) EXPECT_EQ(table->Check(*model), "");
        EXPECT_EQ(CheckFile(db.Path, pageSize, {a->ID(), b->ID(), c.ID()}, true), "");
    }
}

// ---------------------------------------------------------------------------------------------
// Randomized against a model, at every page size

class IndexPagesModelTest : public ::testing::TestWithParam<uint32_t> {};

// Up to five tables of random encryption levels; each step creates, fills, deletes from, empties,
// re-indexes, drops or drops and creates again one of them, or reopens the database; after each
// step every table is checked against its model and the file as a whole.
TEST_P(IndexPagesModelTest, TablesComingAndGoingMatchTheirModels) {
    const uint32_t pageSize = GetParam();
    TDatabase db(pageSize);
    std::mt19937 rng(pageSize * 7 + 3);
    int32_t nextID = 1;
    struct TSlot {
        std::unique_ptr<TTable> Table;
        TRows Model;
    } slots[5];
    const TEncryptionLevel levels[] = {encNone, encWeak, encStrong};
    auto create = [&](int S) {
        slots[S].Table = std::make_unique<TTable>(*db.Conn, "T" + std::to_string(S), levels[rng() % 3],
                                                  int(rng() % MaxIndexes) + 1);
        slots[S].Table->Create();
        slots[S].Model.clear();
    };
    for (int step = 0; step < 40; ++step) {
        const int s = int(rng() % 5);
        TSlot& slot = slots[s];
        std::string what = "T" + std::to_string(s) + " ";
        const unsigned op = slot.Table ? rng() % 10 : 10;
        switch (op) {
            case 0:
            case 1:
            case 2: {
                // Straight to the file a few rows at a time: every write of a strongly encrypted
                // page encrypts the whole page.
                const bool direct = rng() % 3 == 0;
                what += direct ? "insert without a transaction" : "insert";
                Fill(*slot.Table, slot.Model, nextID, int(rng() % (direct ? 8 : 150)) + 1, rng, !direct);
                break;
            }
            case 3: {
                what += "delete";
                std::vector<int32_t> gone;
                for (const auto& entry : slot.Model)
                    if (rng() % 3 == 0) gone.push_back(entry.first);
                slot.Table->Change(true, [&] {
                    for (int32_t id : gone) slot.Table->Delete(id);
                });
                for (int32_t id : gone) slot.Model.erase(id);
                break;
            }
            case 4:
                what += "empty";
                slot.Table->Empty();
                slot.Model.clear();
                break;
            case 5:
            case 6:
                what += "re-index";
                slot.Table->ReIndex(rng() % 4 != 0 || slot.Table->Level() != encStrong);
                break;
            case 7:
                what += "drop";
                slot.Table->Drop();
                slot.Table.reset();
                slot.Model.clear();
                break;
            case 8:
                what += "drop and create";
                slot.Table->Drop();
                create(s);
                break;
            case 9:
                what = "reopen";
                for (TSlot& each : slots)
                    if (each.Table) each.Table->Close();
                db.Conn = std::make_unique<TableConnection>(db.Path, pageSize);
                for (TSlot& each : slots)
                    if (each.Table) {
                        each.Table =
                            std::make_unique<TTable>(*db.Conn, each.Table->Name(), each.Table->Level(),
                                                     each.Table->Indexes(), each.Table->ID());
                        each.Table->Open();
                    }
                break;
            default:
                what += "create";
                create(s);
        }
        std::string problems;
        std::set<int32_t> live;
        for (TSlot& each : slots)
            if (each.Table) {
                live.insert(each.Table->ID());
                problems += each.Table->Check(each.Model);
            }
        problems += CheckFile(db.Path, pageSize, live);
        ASSERT_EQ(problems, "") << "after step " << step << ": " << what;
    }
}

INSTANTIATE_TEST_SUITE_P(PageSizes, IndexPagesModelTest, ::testing::Values(PS, 2 * PS, 4 * PS, 8 * PS));

}  // namespace
}  // namespace ostra
