// A commit of records and their indexes is atomic. A table on a real database file (an integer
// key with a unique index, a string with a non-unique index, a descending index on a score, and
// a memo kept in blob chains) gets a first committed batch of records; then one transaction
// inserts, deletes and changes records the way a cursor does (keys move in all three trees,
// leaves split, merge and go away, blob chains are written, rewritten and released), and
//   - the crash harness kills it before every write, flush and size change of its commit, after
//     which a fresh connection finds the table exactly as before or as after the transaction:
//     the same records, every record found through every index at its own key, each index
//     holding exactly the live records, every tree sound page by page, the free record and blob
//     chains holding exactly the blocks no record uses, no index page owned that no tree uses,
//     and the storage structure of the file sound;
//   - without the rollback journal (the benchmark hook) the same commit writes the same bytes and
//     touches no journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/orqBTree.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqFile.h"
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
#include "host/SysUtils.h"
#include "host/Streams.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/CrashHarness.h"
#include "support/DiskTestSupport.h"
#include "support/orqLayoutFixture.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using namespace disktest;
using crashtest::TCrashState;
using crashtest::TCrashVerdict;

constexpr int32_t TableID = 1;  // the first user table of a new database
const char* const TableName = "People";
// Field positions, and the index order (also the header slots).
enum { fID, fName, fScore, fNote };
enum { ixID, ixName, ixScore, IndexCount };

// ---------------------------------------------------------------------------------------------
// The records before and after the transaction

struct TRow {
    int32_t ID = 0;
    std::string Name;
    int32_t Score = 0;
    std::string Note;  // "" = null
    bool operator==(const TRow&) const = default;
};
using TRows = std::map<int32_t, TRow>;

constexpr int BaseCount = 280;    // the first committed batch: IDs 1..BaseCount
constexpr int InsertCount = 170;  // the transaction adds IDs BaseCount + 1 ..,
constexpr int UpdateEvery = 8;    // changes the base records whose ID is a multiple of this
// and deletes the other base records whose name starts with one of these syllables (a run of
// the name index that spans several leaves).
const char* const DeletedSyllables[] = {"ka", "lo", "mi", "no", "pe"};

std::string Word(int N) {
    static const char* const parts[] = {"ka", "Lo", "mi", "Re", "su", "ta", "Vi", "no", "pe", "zu", "Ha", "yo"};
    std::string word;
    for (int i = 0; i < 3; ++i, N /= 12) word += parts[N % 12];
    return word;
}

// A note of Length bytes derived from Seed; "" for Length 0.
std::string Text(int Seed, int Length) {
    std::string text(std::size_t(Length), '\0');
    for (int i = 0; i < Length; ++i) text[std::size_t(i)] = char('a' + (Seed * 7 + i * 3 + i / 26) % 26);
    return text;
}

TRow BaseRow(int32_t ID) {
    return {ID, Word(ID * 7919 % 1597) + " " + std::to_string(ID % 10), ID * 31 % 500,
            ID % 5 == 0 ? Text(ID, ID * 13 % 900 + 1) : ""};
}

TRow NewRow(int32_t ID) {
    return {ID, "Xe" + Word(ID * 104729 % 1597), ID * 17 % 700, ID % 4 == 0 ? Text(ID, ID * 11 % 1100 + 1) : ""};
}

bool Deleted(int32_t ID) {
    if (ID % UpdateEvery == 0) return false;
    const std::string name = BaseRow(ID).Name;
    return std::any_of(std::begin(DeletedSyllables), std::end(DeletedSyllables),
                       [&](const char* S) { return CompareText(name.substr(0, 2), S) == 0; });
}

bool Updated(int32_t ID) { return ID % UpdateEvery == 0; }

// The changed record: a new name and a new score (keys move in every non-unique index), and a
// note written, rewritten longer or shorter, or dropped.
TRow ChangedRow(int32_t ID) {
    TRow row = BaseRow(ID);
    row.Name = "Up " + Word(ID * 31 % 1597);
    row.Score = 700 + ID % 60;
    row.Note = ID % 3 == 0 ? "" : Text(ID + 1, ID * 29 % 1300 + 1);
    return row;
}

TRows Model(TCrashState State) {
    TRows rows;
    for (int32_t id = 1; id <= BaseCount; ++id) rows[id] = BaseRow(id);
    if (State != TCrashState::After) return rows;
    for (int32_t id = 1; id <= BaseCount; ++id) {
        if (Deleted(id)) rows.erase(id);
        else if (Updated(id)) rows[id] = ChangedRow(id);
    }
    for (int32_t id = BaseCount + 1; id <= BaseCount + InsertCount; ++id) rows[id] = NewRow(id);
    return rows;
}

// ---------------------------------------------------------------------------------------------
// The table and a connection to it

// ID Integer, NAME String(40), SCORE Integer, NOTE Memo; "ixID" primary on ID, "ixName" on NAME,
// "ixScore" descending on SCORE.
std::unique_ptr<TTableDef> PeopleDef() {
    auto def = std::make_unique<TTableDef>(nullptr);
    def->SetTableName(TableName);
    def->SetAltName(TableName);
    std::unique_ptr<TInternalFields> layout = testing::MakeLayout(
        {{"ID", ftInteger}, {"NAME", ftString, 40}, {"SCORE", ftInteger}, {"NOTE", ftMemo}});
    def->InternalFields()->Assign(layout.get());
    def->SetRecordSize(layout->RecordSize());
    def->SetUsesBlobs(true);
    TIndexRequest requests[IndexCount];
    requests[ixID].IndexName = "ixID";
    requests[ixID].Fields = "ID";
    requests[ixID].Primary = true;
    requests[ixID].Unique = true;
    requests[ixName].IndexName = "ixName";
    requests[ixName].Fields = "NAME";
    requests[ixScore].IndexName = "ixScore";
    requests[ixScore].Fields = "SCORE";
    requests[ixScore].Descending = true;
    for (const TIndexRequest& request : requests)
        DeriveIndexDef(request, false, false, *def->InternalFields(), *def->KeyFields(),
                       *def->InternalIndexDefs(), SorqIndexFmt, "Test", nullptr);
    return def;
}

// One connection with the table open, doing what a cursor does around its record operations:
// the table header read at the start (the storages' free chains, the index roots) and written
// at the end, every index kept in step with the records, blob values in chains.
class TPeople {
public:
    explicit TPeople(const std::string& Path) : FDisk(OpenDatabase(Path)) {
        FHeaders.SetDiskMgr(FDisk.get());
        FHeaders.SetBlockSize(CTableHeaderBlockSize);
        FHeaders.SetUsage(1);
        FHeaders.SetTableID(0);
        FHeaders.SetAccessFlags(0);
        FHeaders.SetIOMode(iomDiskFixedSize);
        FHeaders.SetGlobalFirstEmptyOffset(CHdrTableHeadersFirstEmpty);
        FHeaders.SetFirstEmptyValid(false);
        FHeaders.Open();
        FMgr.SetHdrDiskInterface(&FHeaders);
        FMgr.SetBaseDefMgrAddress(3 * PS);
        FMgr.SetSystemTableMgr(false);
        FMgr.Open();
    }
    // Closes everything; a failure (of a damaged database) is dropped.
    ~TPeople() {
        try {
            if (FOpen) {
                FIndexes.Close();
                FBlobs.Close();
                FRecords.Close();
                FMgr.CloseTableDefConnection(TableID);
            }
            FMgr.Close();
            FHeaders.Close();
            FDisk->Close();
        } catch (...) {
        }
    }

    // Registers the table in a new database (its header and empty index roots).
    void Create() {
        std::unique_ptr<TTableDef> def = PeopleDef();
        FMgr.CreateTableDef(TableName, def.get());
        if (def->TableID() != TableID) throw Exception("unexpected table id");
    }

    // Opens the table for this connection.
    void Open() {
        FDef = PeopleDef();
        FDef->SetTableID(TableID);
        FMgr.OpenTableDefConnection(TableName, FDef.get());
        FOpen = true;
        FRecords.Fields().Assign(FDef->InternalFields());
        FRecords.SetRecordSize(FDef->RecordSize());
        FRecords.Open(FDef->RecordInterface());
        FBlobs.SetBlobBlockSize(uint32_t(FDef->DefaultBlobSize()));
        FBlobs.SetIOInterface(FDef->BlobInterface());
        FBlobs.Open();
        FIndexes.SetDBStringCompareFunction(DBANSICompareStrings);
        FIndexes.Assign(FDef->InternalIndexDefs());
        FIndexes.AssignKeyFields(*FDef->KeyFields());
        FIndexes.SetIOInterface(FDef->IndexInterface());
        FIndexes.SetTableHeader(FDef->TableHeader());
        FIndexes.Open();
    }

    // A transaction with the table's write lock and its header read.
    void Begin() {
        FDisk->DiskStartTransaction(false);
        FDisk->SetTableLock(TableID, CWriteLock);
        ReadTableHeader();
    }
    // The header written back into the transaction; the commit itself is Commit.
    void WriteTableHeader() {
        Header().SetRecordFirstEmpty(FDef->RecordInterface()->FirstEmpty());
        Header().SetBlobFirstEmpty(FDef->BlobInterface()->FirstEmpty());
        FIndexes.WriteIndexHeaders();
        if (Header().Dirty()) Header().WriteHeader();
    }
    void Commit() { FDisk->DiskCommit(); }

    void ReadTableHeader() {
        Header().ReadHeader();
        FIndexes.ReadIndexHeaders(true);
        for (TBaseIOInterface* io : {FDef->RecordInterface(), FDef->BlobInterface()}) {
            io->SetFirstEmpty(io == FDef->RecordInterface() ? Header().GetRecordFirstEmpty()
                                                            : Header().GetBlobFirstEmpty());
            io->SetFirstEmptyValid(true);
        }
    }

    void Insert(const TRow& Row) {
        const uint32_t logical = Header().GetLogicalRecordNo() + 1;
        Header().SetLogicalRecordNo(logical);
        TMemoryStream note;
        note.Write(Row.Note.data(), int64_t(Row.Note.size()));
        const std::vector<uint8_t> rec = Encode(Row, logical, 0, Row.Note.empty() ? 0 : FBlobs.InsertBlob(note));
        for (int i = 0; i < IndexCount; ++i) {
            Index(i).CreateKeyBuffer(rec.data(), nullptr);
            if (Index(i).FullIndexSearch(stEQ) == 0) throw Exception("key exists: " + std::to_string(Row.ID));
        }
        const uint32_t address = FRecords.AddRecord(rec.data());
        for (int i = 0; i < IndexCount; ++i)
            if (Index(i).InsertKey(address) != 0) throw Exception("insert refused: " + std::to_string(Row.ID));
    }

    void Delete(int32_t ID) {
        const uint32_t address = Find(ID);
        std::vector<uint8_t> rec(std::size_t(FDef->RecordSize()));
        FRecords.ReadRecord(address, rec.data(), false);
        RemoveKeys(rec);
        const TRow old = Decode(rec);
        if (!old.Note.empty()) FBlobs.DeleteBlob(U32At(rec, NoteField().DataOffset()), 0);
        FRecords.DeleteRecord(address);
    }

    void Update(const TRow& Row) {
        const uint32_t address = Find(Row.ID);
        std::vector<uint8_t> old(std::size_t(FDef->RecordSize()));
        FRecords.ReadRecord(address, old.data(), true);
        RemoveKeys(old);
        TMemoryStream note;
        note.Write(Row.Note.data(), int64_t(Row.Note.size()));
        const uint32_t chain = FBlobs.EditBlob(U32At(old, NoteField().DataOffset()), 0, note);
        const std::vector<uint8_t> rec = Encode(Row, U32At(old, C_RECLOGICALNOOFFSET),
                                                U32At(old, C_RECMODCOUNTOFFSET) + 1, chain);
        for (int i = 0; i < IndexCount; ++i) {
            Index(i).CreateKeyBuffer(rec.data(), nullptr);
            if (Index(i).FullIndexSearch(stEQ) == 0 || Index(i).InsertKey(address) != 0)
                throw Exception("key of the changed record refused: " + std::to_string(Row.ID));
        }
        FRecords.UpdateRecord(address, rec.data());
    }

    // The record of ID found through the unique index; raises when there is none.
    uint32_t Find(int32_t ID) {
        std::vector<uint8_t> search = testing::NewRecord(FRecords.Fields());
        testing::SetBytes(search, *Field(fID), &ID, 4);
        Index(ixID).CreateKeyBuffer(search.data(), nullptr);
        if (Index(ixID).FullIndexSearch(stEQ) != 0) throw Exception("no record " + std::to_string(ID));
        return Index(ixID).GetRecordAddress();
    }

    TRow Decode(const std::vector<uint8_t>& Rec) {
        TRow row;
        auto present = [&](int F) { return Rec[std::size_t(Field(F)->NullFlagOffset())] == C_FIELDNOTNULL; };
        if (present(fID)) row.ID = int32_t(U32At(Rec, Field(fID)->DataOffset()));
        if (present(fName)) {
            const uint16_t length = uint16_t(Rec[std::size_t(Field(fName)->SizeMarkerOffset())] |
                                             Rec[std::size_t(Field(fName)->SizeMarkerOffset()) + 1] << 8);
            row.Name.assign(reinterpret_cast<const char*>(&Rec[std::size_t(Field(fName)->DataOffset())]),
                            std::min<std::size_t>(length, std::size_t(Field(fName)->FieldSize())));
        }
        if (present(fScore)) row.Score = int32_t(U32At(Rec, Field(fScore)->DataOffset()));
        if (present(fNote)) {
            TMemoryStream note;
            FBlobs.ReadBlob(U32At(Rec, NoteField().DataOffset()), note);
            row.Note.assign(static_cast<const char*>(note.Memory()), std::size_t(note.Size()));
            if (row.Note.size() != U32At(Rec, NoteField().DataOffset() + 4))
                row.Note += " (the record says another length)";
        }
        return row;
    }

    TDiskMgr& Disk() { return *FDisk; }
    TTableDef& Def() { return *FDef; }
    TTableHeader& Header() { return *FDef->TableHeader(); }
    TIndexItem& Index(int I) { return *FIndexes.GetItems(I); }
    TInternalFieldItem* Field(int F) { return FRecords.Fields().GetIndex(F); }
    TInternalFieldItem& NoteField() { return *Field(fNote); }
    static uint32_t U32At(const std::vector<uint8_t>& Bytes, int Offset) {
        uint32_t value;
        std::memcpy(&value, &Bytes[std::size_t(Offset)], 4);
        return value;
    }

private:
    std::vector<uint8_t> Encode(const TRow& Row, uint32_t Logical, uint32_t ModCount, uint32_t NoteChain) {
        std::vector<uint8_t> rec = testing::NewRecord(FRecords.Fields());
        const uint32_t owner = uint32_t(TableID) << 4 | C_RECORDUSAGE;
        std::memcpy(&rec[C_RECOWNEROFFSET], &owner, 4);
        std::memcpy(&rec[C_RECLOGICALNOOFFSET], &Logical, 4);
        std::memcpy(&rec[C_RECMODCOUNTOFFSET], &ModCount, 4);
        testing::SetBytes(rec, *Field(fID), &Row.ID, 4);
        testing::SetString(rec, *Field(fName), Row.Name);
        testing::SetBytes(rec, *Field(fScore), &Row.Score, 4);
        if (!Row.Note.empty()) {
            const uint32_t value[2] = {NoteChain, uint32_t(Row.Note.size())};
            testing::SetBytes(rec, NoteField(), value, 8);
        }
        return rec;
    }
    void RemoveKeys(const std::vector<uint8_t>& Rec) {
        for (int i = 0; i < IndexCount; ++i) {
            Index(i).CreateKeyBuffer(Rec.data(), nullptr);
            if (Index(i).FullIndexSearch(stEQ) != 0 || Index(i).DeleteKey() != 0)
                throw Exception("the key of a record is missing in " + Index(i).IndexName());
        }
    }

    std::unique_ptr<TDiskMgr> FDisk;
    TDiskIOInterface FHeaders;
    TDiskTableDefMgr FMgr;
    std::unique_ptr<TTableDef> FDef;
    bool FOpen = false;
    TRecordMgr FRecords;
    TBlobInterface FBlobs;
    TIndexManager FIndexes;
};

// The database with the table and its first committed batch.
void PrepareDatabase(const std::string& Path) {
    CreateDatabase(Path);
    TPeople people(Path);
    people.Create();
    people.Open();
    people.Begin();
    for (int32_t id = 1; id <= BaseCount; ++id) people.Insert(BaseRow(id));
    people.WriteTableHeader();
    people.Commit();
}

// The transaction's changes up to (not including) the commit: the inserts interleaved with the
// changes, then the deletions, so that pages released by merges are not taken again by splits.
void MakeChanges(TPeople& People) {
    People.Begin();
    std::vector<int32_t> updates;
    for (int32_t id = UpdateEvery; id <= BaseCount; id += UpdateEvery) updates.push_back(id);
    for (std::size_t i = 0; i < std::max(updates.size(), std::size_t(InsertCount)); ++i) {
        if (i < std::size_t(InsertCount)) People.Insert(NewRow(BaseCount + 1 + int32_t(i)));
        if (i < updates.size()) People.Update(ChangedRow(updates[i]));
    }
    for (int32_t id = 1; id <= BaseCount; ++id)
        if (Deleted(id)) People.Delete(id);
    People.WriteTableHeader();
}

// ---------------------------------------------------------------------------------------------
// The check of a database opened afresh

class TProblems {
public:
    // Keeps the first eight, each on one line.
    void Add(const std::string& Text) {
        if (FCount++ < 8) FText += (FText.empty() ? "" : "; ") + StringReplace(Text, "\r\n", " ");
    }
    std::string Text() const { return FCount > 8 ? FText + " (" + std::to_string(FCount) + " problems)" : FText; }

private:
    std::string FText;
    int FCount = 0;
};

// The blocks of a free chain (runs of a fixed-block storage) from Head, checked against the
// blocks the storage holds: each run inside them, head fields as stored, the rest zero.
std::set<uint32_t> FreeBlocks(TBaseIOInterface& IO, uint32_t Head, const std::set<uint32_t>& All,
                              const char* What, TProblems& Problems) {
    std::set<uint32_t> free;
    std::vector<uint8_t> block(IO.BlockSize());
    for (uint32_t run = Head; run != 0;) {
        if (!All.count(run)) return Problems.Add(std::string(What) + " free chain names " + std::to_string(run)), free;
        IO.ReadBlock(run, IO.BlockSize(), block.data());
        const uint32_t next = TPeople::U32At(block, CFreeRunLinkOffset);
        const uint32_t count = TPeople::U32At(block, CFreeRunCountOffset);
        if (count == 0 || std::any_of(block.begin(), block.begin() + 8, [](uint8_t b) { return b != 0; }))
            return Problems.Add(std::string(What) + " free run head " + std::to_string(run) + " is not one"), free;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t address = run + i * IO.BlockSize();
            if (!All.count(address) || !free.insert(address).second)
                return Problems.Add(std::string(What) + " free run " + std::to_string(run) + " is out of place"), free;
            if (i == 0) continue;
            IO.ReadBlock(address, IO.BlockSize(), block.data());
            if (std::any_of(block.begin(), block.end(), [](uint8_t b) { return b != 0; }))
                Problems.Add(std::string(What) + " free block " + std::to_string(address) + " is not zeros");
        }
        run = next;
    }
    return free;
}

std::set<uint32_t> OwnedBlocks(TPeople& People, TBaseIOInterface& IO, uint16_t Usage) {
    std::vector<uint32_t> list;
    People.Disk().ListAllocatedFixedBlocks(IO.BlockSize(), uint16_t(TableID), Usage, list);
    return {list.begin(), list.end()};
}

// Opens the database afresh (replaying an interrupted commit) and checks the table; the state is
// the model its records equal.
TCrashVerdict CheckDatabase(const std::string& Path, const crashtest::TCrashSnapshots* Snapshots) {
    TProblems problems;
    TCrashState state = TCrashState::Broken;
    try {
        TPeople people(Path);
        people.Open();
        people.ReadTableHeader();
        TTableHeader& header = people.Header();
        TBaseIOInterface& recordIO = *people.Def().RecordInterface();
        TBaseIOInterface& blobIO = *people.Def().BlobInterface();

        // The records: every block of the record storage is a live record or free.
        const std::set<uint32_t> recordBlocks = OwnedBlocks(people, recordIO, C_RECORDUSAGE);
        const std::set<uint32_t> blobBlocks = OwnedBlocks(people, blobIO, C_BLOBUSAGE);
        std::map<uint32_t, std::vector<uint8_t>> live;
        std::map<uint32_t, TRow> rowAt;
        std::set<uint32_t> chainBlocks;
        std::set<uint32_t> logicalNumbers;
        TRows rows;
        std::vector<uint8_t> rec(std::size_t(people.Def().RecordSize()));
        for (uint32_t address : recordBlocks) {
            recordIO.ReadBlock(address, uint32_t(rec.size()), rec.data());
            if (rec[C_RECINUSEOFFSET] == 0) continue;
            live[address] = rec;
            const uint32_t logical = TPeople::U32At(rec, C_RECLOGICALNOOFFSET);
            if (logical == 0 || logical > header.GetLogicalRecordNo() || !logicalNumbers.insert(logical).second)
                problems.Add("record " + std::to_string(address) + " has logical number " + std::to_string(logical));
            const TRow row = people.Decode(rec);
            rowAt[address] = row;
            if (!rows.emplace(row.ID, row).second) problems.Add("two records of ID " + std::to_string(row.ID));
            // The blocks of its note's chain.
            for (uint32_t block = TPeople::U32At(rec, people.NoteField().DataOffset()); block != 0;) {
                if (!blobBlocks.count(block) || !chainBlocks.insert(block).second) {
                    problems.Add("the note of record " + std::to_string(row.ID) + " has a bad chain");
                    break;
                }
                std::vector<uint8_t> link(4);
                blobIO.ReadBlockHeader(block, 4, link.data());
                block = TPeople::U32At(link, 0);
            }
        }
        if (rows == Model(TCrashState::Before)) state = TCrashState::Before;
        else if (rows == Model(TCrashState::After)) state = TCrashState::After;
        else problems.Add("the records (" + std::to_string(rows.size()) + ") are neither those before nor after");

        // Free chains: exactly the blocks no record and no note uses.
        std::set<uint32_t> used;
        for (const auto& entry : live) used.insert(entry.first);
        const std::pair<const char*, std::set<uint32_t>> storages[] = {
            {"record", FreeBlocks(recordIO, header.GetRecordFirstEmpty(), recordBlocks, "record", problems)},
            {"blob", FreeBlocks(blobIO, header.GetBlobFirstEmpty(), blobBlocks, "blob", problems)}};
        const std::set<uint32_t>* usedBy[] = {&used, &chainBlocks};
        const std::set<uint32_t>* all[] = {&recordBlocks, &blobBlocks};
        for (int s = 0; s < 2; ++s) {
            std::set<uint32_t> both = *usedBy[s];
            both.insert(storages[s].second.begin(), storages[s].second.end());
            if (both.size() != usedBy[s]->size() + storages[s].second.size() || both != *all[s])
                problems.Add(std::string(storages[s].first) + " blocks are lost or both used and free");
        }

        // The indexes: sound trees holding exactly the live records, each at its own key.
        std::set<uint32_t> treePages;
        for (int i = 0; i < IndexCount; ++i) {
            TIndexItem& index = people.Index(i);
            const std::string name = index.IndexName();
            std::vector<uint32_t> pages, addresses;
            const std::string fault =
                crashtest::CheckTreePages(*people.Def().IndexInterface(), index.Tree(), index.Root(), index.Depth(),
                                          C_DEFAULTINDEXPAGESIZE, pages, addresses);
            if (!fault.empty()) {
                problems.Add(name + ": " + fault);
                continue;
            }
            treePages.insert(pages.begin(), pages.end());
            try {
                index.Tree().DebugCheckOrderRecurse();
            } catch (const std::exception& e) {
                problems.Add(name + " fails its own check: " + e.what());
            }
            if (index.GetRecordCount(true) != int(live.size()))
                problems.Add(name + " counts " + std::to_string(index.GetRecordCount(true)) + " records of " +
                             std::to_string(live.size()));
            std::vector<uint32_t> sorted = addresses;
            std::sort(sorted.begin(), sorted.end());
            std::vector<uint32_t> liveAddresses;
            for (const auto& entry : live) liveAddresses.push_back(entry.first);
            if (sorted != liveAddresses) problems.Add(name + " does not hold exactly the live records");
            for (const auto& [address, record] : live) {
                index.CreateKeyBuffer(record.data(), nullptr);
                if (index.FullIndexSearch(stEQ) != 0 || index.GetRecordAddress() != address) {
                    problems.Add("record " + std::to_string(address) + " is not found through " + name);
                    break;
                }
            }
            // The order the index promises, read from the records it points at.
            for (std::size_t n = 1; n < addresses.size() && rowAt.count(addresses[n]) && rowAt.count(addresses[n - 1]);
                 ++n) {
                const TRow& a = rowAt[addresses[n - 1]];
                const TRow& b = rowAt[addresses[n]];
                const bool ordered = i == ixID     ? a.ID < b.ID
                                     : i == ixName ? DBANSICompareStrings(a.Name.data(), b.Name.data(),
                                                                          int(a.Name.size()), int(b.Name.size()),
                                                                          false, false) <= 0
                                                   : a.Score >= b.Score;
                if (!ordered) {
                    problems.Add(name + " is out of its order at entry " + std::to_string(n));
                    break;
                }
            }
        }
        std::vector<uint32_t> owned;
        people.Disk().SetHeaderReadLock();
        people.Disk().MapMgr()->ListPagesUsedByOwner(uint16_t(TableID), C_INDEXUSAGE, true, owned);
        people.Disk().ReleaseHeaderLock();
        if (std::set<uint32_t>(owned.begin(), owned.end()) != treePages)
            problems.Add("the index pages owned (" + std::to_string(owned.size()) + ") are not the trees' pages (" +
                         std::to_string(treePages.size()) + ")");
    } catch (const std::exception& e) {
        problems.Add(std::string("the check raised: ") + e.what());
    }

    const std::string bytes = test::ReadAll(Path);
    const std::string structure = crashtest::CheckStorageStructure(bytes, PS);
    if (!structure.empty()) problems.Add(structure);
    if (Snapshots) {
        const TCrashVerdict verdict = crashtest::ClassifyBytes(bytes, *Snapshots);
        if (verdict.State != state) problems.Add("the bytes are not those of the records' state: " + verdict.Problem);
    }
    return {state, problems.Text()};
}

class TRecordWorkload : public crashtest::TCrashWorkload {
public:
    void Prepare(const std::string& Path) override { PrepareDatabase(Path); }
    void Run(const std::string& Path, crashtest::TCrashPoint& Point) override {
        TPeople people(Path);
        people.Open();
        MakeChanges(people);
        Point.Run([&] { people.Commit(); });
    }
    TCrashVerdict Check(const std::string& Path, const crashtest::TCrashSnapshots& Snapshots) override {
        return CheckDatabase(Path, &Snapshots);
    }
};

// The pages of each tree in a database file's bytes (written to Path first).
std::vector<std::vector<uint32_t>> TreePages(const std::string& Path, const std::string& Bytes) {
    test::WriteAll(Path, Bytes);
    TPeople people(Path);
    people.Open();
    people.ReadTableHeader();
    std::vector<std::vector<uint32_t>> trees;
    for (int i = 0; i < IndexCount; ++i) {
        std::vector<uint32_t> pages, addresses;
        crashtest::CheckTreePages(*people.Def().IndexInterface(), people.Index(i).Tree(), people.Index(i).Root(),
                                  people.Index(i).Depth(), C_DEFAULTINDEXPAGESIZE, pages, addresses);
        trees.push_back(pages);
    }
    return trees;
}

TEST(RecordCrashTest, KilledAtEveryWriteOfTheCommitTheTableIsBeforeOrAfter) {
    test::TempDir dir;
    TRecordWorkload workload;
    const std::string path = dir.File("people.orq");
    const crashtest::TCrashReport report = crashtest::RunCrashHarness(workload, path);
    for (const std::string& problem : report.Problems) ADD_FAILURE() << problem;
    EXPECT_GT(report.Before, 0);
    EXPECT_GT(report.After, 0);
    EXPECT_EQ(report.Before + report.After, report.CommitCalls + 1);
    // The journal, then dozens of record, blob, index, header and map pages (runs of adjacent
    // pages in one write each), then the flushes.
    EXPECT_GE(report.CommitCalls, 10);

    // The transaction is of the kind the test means: new keys split leaves (pages are added to
    // the trees), and the name index loses every key of a run over several leaves, which merge
    // and go away (pages are released).
    const auto before = TreePages(path, report.Snapshots.Before);
    const auto after = TreePages(path, report.Snapshots.After);
    std::set<uint32_t> pagesBefore, pagesAfter;
    for (const auto& tree : before) pagesBefore.insert(tree.begin(), tree.end());
    for (const auto& tree : after) pagesAfter.insert(tree.begin(), tree.end());
    EXPECT_GT(after[ixScore].size(), before[ixScore].size());
    EXPECT_TRUE(std::any_of(pagesAfter.begin(), pagesAfter.end(), [&](uint32_t P) { return !pagesBefore.count(P); }));
    EXPECT_TRUE(std::any_of(pagesBefore.begin(), pagesBefore.end(), [&](uint32_t P) { return !pagesAfter.count(P); }));
}

// The benchmark hook's commit writes what the journaled commit writes, without any journal.
TEST(RecordCrashTest, WithoutTheJournalTheCommitWritesTheSameBytesAndNoJournal) {
    test::TempDir dir;
    const std::string path = dir.File("people.orq");
    PrepareDatabase(path);
    const std::string before = test::ReadAll(path);

    // Counts the mutating calls on the journal.
    class TJournalCalls : public platform::FileFaultInjector {
    public:
        explicit TJournalCalls(std::string Journal) : FJournal(std::move(Journal)) {}
        platform::FileFault Decide(platform::FileOp Op, const std::string& Path, int64_t, int64_t) override {
            if (Op != platform::FileOp::Read && Path == FJournal) ++Calls;
            return {};
        }
        int Calls = 0;

    private:
        std::string FJournal;
    };
    std::string bytes[2];
    int journalCalls[2];
    for (int unjournaled = 0; unjournaled < 2; ++unjournaled) {
        test::WriteAll(path, before);
        TJournalCalls calls(GetJournalFileName(path));
        {
            TPeople people(path);
            people.Open();
            MakeChanges(people);
            std::unique_ptr<TUnjournaledCommitsForBenchmark> hook;
            if (unjournaled) hook = std::make_unique<TUnjournaledCommitsForBenchmark>();
            platform::ScopedFileFaultInjector scope(calls);
            people.Commit();
        }
        bytes[unjournaled] = test::ReadAll(path);
        journalCalls[unjournaled] = calls.Calls;
    }
    EXPECT_GT(journalCalls[0], 2);
    EXPECT_EQ(journalCalls[1], 0);
    EXPECT_FALSE(TUnjournaledCommitsForBenchmark::Active());
    EXPECT_TRUE(bytes[1] == bytes[0]);
    EXPECT_EQ(CheckDatabase(path, nullptr).State, TCrashState::After);
}

}  // namespace
}  // namespace ostra
