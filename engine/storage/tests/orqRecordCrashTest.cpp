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
#include "host/Streams.h"
#include "host/SysUtils.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/CrashHarness.h"
#include "support/DiskTestSupport.h"
#include "support/orqLayoutFixture.h"
#include "support/orqTableFixture.h"
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
    tabletest::DeriveIndexes(*def, {{.IndexName = "ixID", .Fields = "ID", .Primary = true, .Unique = true},
                                    {.IndexName = "ixName", .Fields = "NAME"},
                                    {.IndexName = "ixScore", .Fields = "SCORE", .Descending = true}});
    return def;
}

// One connection with the table open (tabletest::TTableConnection), its rows kept as records
// with their notes in blob chains.
class TPeople : public tabletest::TTableConnection {
public:
    explicit TPeople(const std::string& Path) : TTableConnection(Path, PeopleDef) {}

    void Insert(const TRow& Row) {
        TMemoryStream note;
        note.Write(Row.Note.data(), int64_t(Row.Note.size()));
        TTableConnection::Insert(Encode(Row, Row.Note.empty() ? 0 : Blobs().InsertBlob(note)));
    }

    void Delete(int32_t ID) {
        const uint32_t address = Find(ID);
        const std::vector<uint8_t> rec = Read(address);
        if (!Decode(rec).Note.empty()) Blobs().DeleteBlob(U32At(rec, NoteField().DataOffset()), 0);
        TTableConnection::Delete(address);
    }

    void Update(const TRow& Row) {
        const uint32_t address = Find(Row.ID);
        const std::vector<uint8_t> old = Read(address);
        TMemoryStream note;
        note.Write(Row.Note.data(), int64_t(Row.Note.size()));
        const uint32_t chain = Blobs().EditBlob(U32At(old, NoteField().DataOffset()), 0, note);
        TTableConnection::Update(address, Encode(Row, chain));
    }

    // The record of ID found through the unique index; raises when there is none.
    uint32_t Find(int32_t ID) {
        std::vector<uint8_t> search = BlankRecord();
        testing::SetBytes(search, Field(fID), &ID, 4);
        const uint32_t address = TTableConnection::Find(ixID, search);
        if (address == 0) throw Exception("no record " + std::to_string(ID));
        return address;
    }

    TRow Decode(const std::vector<uint8_t>& Rec) {
        TRow row;
        auto present = [&](int F) { return Rec[std::size_t(Field(F).NullFlagOffset())] == C_FIELDNOTNULL; };
        if (present(fID)) row.ID = int32_t(U32At(Rec, Field(fID).DataOffset()));
        if (present(fName)) {
            const uint16_t length = uint16_t(Rec[std::size_t(Field(fName).SizeMarkerOffset())] |
                                             Rec[std::size_t(Field(fName).SizeMarkerOffset()) + 1] << 8);
            row.Name.assign(reinterpret_cast<const char*>(&Rec[std::size_t(Field(fName).DataOffset())]),
                            std::min<std::size_t>(length, std::size_t(Field(fName).FieldSize())));
        }
        if (present(fScore)) row.Score = int32_t(U32At(Rec, Field(fScore).DataOffset()));
        if (present(fNote)) {
            TMemoryStream note;
            Blobs().ReadBlob(U32At(Rec, NoteField().DataOffset()), note);
            row.Note.assign(static_cast<const char*>(note.Memory()), std::size_t(note.Size()));
            if (row.Note.size() != U32At(Rec, NoteField().DataOffset() + 4))
                row.Note += " (the record says another length)";
        }
        return row;
    }

    TInternalFieldItem& NoteField() { return Field(fNote); }

private:
    std::vector<uint8_t> Encode(const TRow& Row, uint32_t NoteChain) {
        std::vector<uint8_t> rec = BlankRecord();
        testing::SetBytes(rec, Field(fID), &Row.ID, 4);
        testing::SetString(rec, Field(fName), Row.Name);
        testing::SetBytes(rec, Field(fScore), &Row.Score, 4);
        if (!Row.Note.empty()) {
            const uint32_t value[2] = {NoteChain, uint32_t(Row.Note.size())};
            testing::SetBytes(rec, NoteField(), value, 8);
        }
        return rec;
    }
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

// Opens the database afresh (replaying an interrupted commit) and checks the table; the state is
// the model its records equal.
TCrashVerdict CheckDatabase(const std::string& Path, const crashtest::TCrashSnapshots* Snapshots) {
    tabletest::TProblems problems;
    TCrashState state = TCrashState::Broken;
    try {
        TPeople people(Path);
        people.Open();
        people.ReadTableHeader();
        // Records, their free chain and every index (tabletest::CheckTable).
        std::vector<std::vector<uint32_t>> keyOrder;
        const std::map<uint32_t, std::vector<uint8_t>> live =
            tabletest::CheckTable(people, problems, &keyOrder);

        // The rows, and the blocks of their notes' chains.
        TBaseIOInterface& blobIO = *people.Def().BlobInterface();
        const std::set<uint32_t> blobBlocks = tabletest::OwnedBlocks(people, blobIO, C_BLOBUSAGE);
        std::map<uint32_t, TRow> rowAt;
        std::set<uint32_t> chainBlocks;
        TRows rows;
        for (const auto& [address, rec] : live) {
            const TRow row = people.Decode(rec);
            rowAt[address] = row;
            if (!rows.emplace(row.ID, row).second)
                problems.Add("two records of ID " + std::to_string(row.ID));
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

        // The free blob chain holds exactly the blocks no note uses.
        std::set<uint32_t> both =
            tabletest::FreeBlocks(blobIO, people.Header().GetBlobFirstEmpty(), blobBlocks, "blob", problems);
        const std::size_t freeCount = both.size();
        both.insert(chainBlocks.begin(), chainBlocks.end());
        if (both.size() != chainBlocks.size() + freeCount || both != blobBlocks)
            problems.Add("blob blocks are lost or both used and free");

        // The order each index promises, read from the records it points at.
        for (int i = 0; i < IndexCount && i < int(keyOrder.size()); ++i) {
            const std::vector<uint32_t>& addresses = keyOrder[std::size_t(i)];
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
                    problems.Add(people.Index(i).IndexName() + " is out of its order at entry " +
                                 std::to_string(n));
                    break;
                }
            }
        }
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
