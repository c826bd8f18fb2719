// Record editing through the engine cursor: auto-increment and logical record numbers, the key
// check before anything is written, index upkeep of changed keys only, conflicts with other
// writers, locks taken only when not held and released on every exit, blob values written with
// their record and the privilege a blob write needs, failures part-way undone (a broken counter
// and injected write failures), and raw record transfer keeping the counters above every stored
// number.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqTableHeader.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Streams.h"
#include "platform/FileFault.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

uint32_t LogicalNo(const TOrqDataSet& Cursor) { return Load32(Cursor.RecordBuffer() + 6); }

class CursorEditingTest : public TCursorTest {
protected:
    // "People": ID unique, NAME non-unique, AGE descending non-unique, NOTE memo.
    void SetUp() override {
        TCursorTest::SetUp();
        Create("People", {{"ID", ftInteger}, {"NAME", ftString, 16}, {"AGE", ftInteger}, {"NOTE", ftMemo}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}},
                {"ixName", "NAME", {}},
                {"ixAge", "AGE", TIndexOptions{ixDescending}}});
        Cursor = Open("People");
    }
    bool Seek(int ID) {
        Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
        SetValue(*Cursor, "ID", ID);
        return Cursor->Find(stEQ, "PK", nullptr);
    }
    // The root page of an index as stored (the indexes of a small table are one page each).
    std::vector<uint8_t> RootPage(const std::string& Index) {
        TIndexItem* item = Cursor->IndexMgr().FindIndex(Index);
        std::vector<uint8_t> page(4096);
        Cursor->ReadLockTable();
        Cursor->IndexMgr().IOInterface()->ReadBlock(item->Root(), 4096, page.data());
        Cursor->UnlockTable();
        return page;
    }
    // ID -> NAME of every record by a walk of each index; all three must agree.
    std::map<int, std::string> Contents() {
        std::map<int, std::string> byKey;
        for (const char* index : {"PK", "ixName", "ixAge"}) {
            Cursor->InternalSetIndexName(index);
            std::map<int, std::string> walked;
            for (bool more = Cursor->DataSetFirst(); more; more = Cursor->DataSetNext())
                walked[GetValue(*Cursor, "ID").AsInteger()] = VarToStr(GetValue(*Cursor, "NAME"));
            EXPECT_EQ(Cursor->GetTotalRecordCount(), int(walked.size())) << index;
            if (index == std::string("PK"))
                byKey = walked;
            else
                EXPECT_EQ(walked, byKey) << index;
        }
        Cursor->InternalSetIndexName("PK");
        // No record the indexes do not know.
        std::vector<uint32_t> blocks;
        Cursor->TableDefinition().RecordInterface()->ListBlocks(blocks);
        int valid = 0;
        std::vector<uint8_t> record(size_t(Cursor->RecordBufferSize()));
        for (uint32_t block : blocks) {
            Cursor->ReadRecordBuffer(block, record.data());
            if (Cursor->InternalCheckRecordValid(record.data())) ++valid;
        }
        EXPECT_EQ(valid, int(byKey.size()));
        return byKey;
    }

    std::unique_ptr<TOrqDataSet> Cursor;
};

TEST_P(CursorEditingTest, GivesAutoIncrementValues) {
    Create("Tickets", {{"NO", ftAutoInc}, {"TEXT", ftString, 8}}, {{"PK", "NO", TIndexOptions{ixPrimary, ixUnique}}});
    auto tickets = Open("Tickets");
    auto add = [&](bool UseAutoInc, int Explicit) {
        tickets->InitializeNewRecord(tickets->RecordBuffer(), false);
        if (!UseAutoInc) SetValue(*tickets, "NO", Explicit);
        tickets->AddRecord(UseAutoInc);
        return GetValue(*tickets, "NO").AsInteger();
    };
    EXPECT_EQ(add(true, 0), 1);
    EXPECT_EQ(add(true, 0), 2);
    EXPECT_EQ(add(false, 10), 10);  // at or above the next value: the counter follows it
    EXPECT_EQ(add(true, 0), 11);
    EXPECT_EQ(add(false, 5), 5);  // below: the counter stays
    EXPECT_EQ(add(true, 0), 12);
    EXPECT_EQ(tickets->TableDefinition().TableHeader()->GetRecordAutoIncVal(), 12u);
}

TEST_P(CursorEditingTest, NeverReusesLogicalRecordNumbers) {
    Insert(*Cursor, {{"ID", 1}, {"NAME", "a"}});
    EXPECT_EQ(LogicalNo(*Cursor), 1u);
    ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0);
    Insert(*Cursor, {{"ID", 1}, {"NAME", "a"}});
    EXPECT_EQ(LogicalNo(*Cursor), 2u);
    Insert(*Cursor, {{"ID", 2}, {"NAME", "a"}});
    EXPECT_EQ(LogicalNo(*Cursor), 3u);
    // Reopened: the counter was stored with the table.
    Cursor.reset();
    Cursor = Open("People");
    Insert(*Cursor, {{"ID", 3}});
    EXPECT_EQ(LogicalNo(*Cursor), 4u);
    EXPECT_EQ(Cursor->RecordBuffer()[0], 1);  // in use
    EXPECT_EQ(Load32(Cursor->RecordBuffer() + 2), Cursor->RecordOwnerTag());
}

TEST_P(CursorEditingTest, RefusesADuplicateKeyBeforeWritingAnything) {
    Insert(*Cursor, {{"ID", 1}, {"NAME", "a"}});
    const std::string before = Memory() ? "" : test::ReadAll(Dir.File("cursor.orq"));
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "ID", 1);
    SetValue(*Cursor, "NAME", "b");
    TMemoryStream note;
    note.Write("blob text", 9);
    Cursor->DataSetSetFieldStream(Cursor->GetFieldNo("NOTE"), false, &note);
    EXPECT_EQ(ErrorCode([&] { Cursor->AddRecord(false); }), 9729);
    EXPECT_NE(ErrorText([&] { Cursor->AddRecord(false); }).find("Index PK"), std::string::npos);
    EXPECT_FALSE(Cursor->TableLocked());
    if (!Memory()) {
        EXPECT_EQ(test::ReadAll(Dir.File("cursor.orq")), before);
    }
    // The buffer is as it was: the same record can be added once its key is changed.
    EXPECT_EQ(Cursor->RecordBuffer()[0], 0);
    SetValue(*Cursor, "ID", 2);
    Cursor->AddRecord(false);
    EXPECT_EQ(Contents(), (std::map<int, std::string>{{1, "a"}, {2, "b"}}));
}

// After an add the cursor stands on the new record in its current index, also when the add split
// index pages: its record number and the records after it are the model's. Keys come in a
// scattered order, with each index in turn the current one.
TEST_P(CursorEditingTest, AnAddedRecordIsTheCurrentOneInTheCurrentIndex) {
    std::map<int, int> byID, byName, byAge;  // key -> ID; AGE descends in its index
    auto nameOf = [](int Key) {
        char text[8];
        std::snprintf(text, sizeof text, "n%05d", Key);
        return std::string(text);
    };
    const char* const indexes[] = {"PK", "ixName", "ixAge"};
    for (int i = 0; i < 900; ++i) {
        const int id = i * 389 % 900 + 1, name = i * 577 % 900, age = i * 211 % 900;
        const std::string index = indexes[i / 50 % 3];
        Cursor->InternalSetIndexName(index);
        Insert(*Cursor, {{"ID", id}, {"NAME", nameOf(name)}, {"AGE", age}});
        byID[id] = id;
        byName[name] = id;
        byAge[-age] = id;
        const std::map<int, int>& model = index == "PK" ? byID : index == "ixName" ? byName : byAge;
        const int key = index == "PK" ? id : index == "ixName" ? name : -age;
        auto at = model.find(key);
        ASSERT_EQ(Cursor->DataSetGetRecordNo(), int(std::distance(model.begin(), at)) + 1) << index << " " << i;
        for (int step = 0; step < 2 && ++at != model.end(); ++step) {
            ASSERT_TRUE(Cursor->DataSetNext()) << index << " " << i;
            ASSERT_EQ(GetValue(*Cursor, "ID").AsInteger(), at->second) << index << " " << i;
        }
    }
    EXPECT_EQ(Contents().size(), 900u);
}

TEST_P(CursorEditingTest, RewritesOnlyTheIndexesWhoseKeyChanged) {
    for (int i = 1; i <= 5; ++i) Insert(*Cursor, {{"ID", i}, {"NAME", "n" + std::to_string(i)}, {"AGE", 20 + i}});
    const auto pk = RootPage("PK"), name = RootPage("ixName"), age = RootPage("ixAge");
    ASSERT_TRUE(Seek(3));
    TMemoryStream note;
    note.Write("x", 1);
    Cursor->DataSetSetFieldStream(Cursor->GetFieldNo("NOTE"), false, &note);
    Cursor->UpdateRecord();  // no key field changed
    EXPECT_EQ(RootPage("PK"), pk);
    EXPECT_EQ(RootPage("ixName"), name);
    EXPECT_EQ(RootPage("ixAge"), age);

    ASSERT_TRUE(Seek(3));
    SetValue(*Cursor, "NAME", "zz");
    Cursor->UpdateRecord();  // one key field changed
    EXPECT_EQ(RootPage("PK"), pk);
    EXPECT_NE(RootPage("ixName"), name);
    EXPECT_EQ(RootPage("ixAge"), age);
    EXPECT_EQ(Load32(Cursor->RecordBuffer() + 10), 2u);  // two updates

    // A new key another record holds is refused before anything is written.
    ASSERT_TRUE(Seek(3));
    SetValue(*Cursor, "ID", 4);
    SetValue(*Cursor, "AGE", 99);
    EXPECT_EQ(ErrorCode([&] { Cursor->UpdateRecord(); }), 9729);
    EXPECT_EQ(RootPage("ixAge"), age);
    EXPECT_EQ(Contents(), (std::map<int, std::string>{{1, "n1"}, {2, "n2"}, {3, "zz"}, {4, "n4"}, {5, "n5"}}));
    EXPECT_FALSE(Cursor->TableLocked());
}

TEST_P(CursorEditingTest, DetectsRecordsChangedSinceTheyWereRead) {
    Insert(*Cursor, {{"ID", 1}, {"NAME", "a"}});
    Insert(*Cursor, {{"ID", 2}, {"NAME", "b"}});
    // Another cursor updates record 1 after this one read it: same keys, another counter.
    auto other = Open("People");
    ASSERT_TRUE(Seek(1));
    other->InitializeNewRecord(other->RecordBuffer(), false);
    SetValue(*other, "ID", 1);
    ASSERT_TRUE(other->Find(stEQ, "PK", nullptr));
    SetValue(*other, "AGE", 50);
    other->UpdateRecord();
    SetValue(*Cursor, "AGE", 60);
    EXPECT_EQ(ErrorCode([&] { Cursor->UpdateRecord(); }), 8708);
    EXPECT_FALSE(Cursor->TableLocked());

    // Deleting through a buffer that shows another record changes nothing.
    ASSERT_TRUE(Seek(2));
    std::vector<uint8_t> stale(size_t(Cursor->RecordBufferSize()));
    Cursor->GetRecordBuffer(stale.data());
    Store32(stale.data() + 6, 77);
    EXPECT_EQ(Cursor->DeleteRecord(stale.data()), -1);
    EXPECT_EQ(Cursor->GetTotalRecordCount(), 2);
    // A record another cursor deleted meanwhile.
    ASSERT_TRUE(other->DataSetLast());
    ASSERT_EQ(other->DeleteRecord(nullptr), 0);
    SetValue(*Cursor, "AGE", 1);
    EXPECT_EQ(ErrorCode([&] { Cursor->UpdateRecord(); }), 8708);
    EXPECT_EQ(ErrorCode([&] { Cursor->DeleteRecord(nullptr); }), 8708);

    TOrqDataSet fresh(nullptr);
    fresh.SetDataBase(DataBase.get());
    fresh.SetTableName("People");
    fresh.SetMemory(Memory());
    fresh.DataSetOpen();
    EXPECT_EQ(ErrorCode([&] { fresh.UpdateRecord(); }), 8710);  // nothing loaded
}

TEST_P(CursorEditingTest, KeepsTheCallersLocksAndReleasesItsOwn) {
    Insert(*Cursor, {{"ID", 1}});
    EXPECT_FALSE(Cursor->TableLocked());
    Cursor->ReadLockTable();
    Insert(*Cursor, {{"ID", 2}});
    EXPECT_TRUE(Cursor->TableLocked());
    EXPECT_FALSE(Cursor->WriteLocked());  // the caller's read lock, taken again
    EXPECT_EQ(ErrorCode([&] { Insert(*Cursor, {{"ID", 2}}); }), 9729);
    EXPECT_TRUE(Cursor->TableLocked());
    Cursor->UnlockTable();
    Cursor->LockTable();
    Insert(*Cursor, {{"ID", 3}});
    ASSERT_TRUE(Seek(3));
    SetValue(*Cursor, "NAME", "c");
    Cursor->UpdateRecord();
    EXPECT_EQ(Cursor->DeleteRecord(nullptr), 0);
    EXPECT_TRUE(Cursor->WriteLocked());
    Cursor->UnlockTable();
    EXPECT_FALSE(Cursor->TableLocked());
    if (Memory()) return;
    // Nothing is left locked in the lock file either: another connection writes at once.
    auto other = ConnectDataBase(Dir.File("cursor.orq"));
    auto writer = OpenCursor(*other, "People", false);
    Insert(*writer, {{"ID", 4}});
    ASSERT_TRUE(Seek(2));
    Cursor->InternalSetRecordLock(Cursor->DatasetGetRecAddr());
    Cursor->UpdateRecord();  // releases the record lock
    writer->InternalSetRecordLock(Cursor->DatasetGetRecAddr());
    writer->InternalReleaseRecordLock(Cursor->DatasetGetRecAddr());
}

TEST_P(CursorEditingTest, WritesBlobsWithTheRecord) {
    const int note = Cursor->GetFieldNo("NOTE");
    auto setNote = [&](const std::string& Text) {
        TMemoryStream stream;
        stream.Write(Text.data(), int64_t(Text.size()));
        Cursor->DataSetSetFieldStream(note, Text.empty(), &stream);
    };
    auto readNote = [&]() {
        TMemoryStream stream;
        bool isNull = false;
        Cursor->DataSetGetFieldStream(note, isNull, stream);
        return isNull ? std::string("<null>") : std::string(static_cast<const char*>(stream.Memory()), size_t(stream.Size()));
    };
    const std::string longText(3000, 'q');  // several blob blocks
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "ID", 1);
    setNote(longText);
    EXPECT_EQ(readNote(), longText);  // the value set, before it is written
    Cursor->AddRecord(false);
    ASSERT_TRUE(Seek(1));
    EXPECT_EQ(readNote(), longText);
    EXPECT_EQ(Cursor->GetFieldLength(note), 3000);

    setNote("short");
    Cursor->UpdateRecord();
    ASSERT_TRUE(Seek(1));
    EXPECT_EQ(readNote(), "short");

    setNote("");  // empty: the stored value goes
    Cursor->UpdateRecord();
    ASSERT_TRUE(Seek(1));
    EXPECT_EQ(readNote(), "<null>");
    EXPECT_TRUE(Cursor->GetIsFieldNullFromRecBuf(Cursor->RecordBuffer(), note));

    // A value set and taken back before the record is written is not written.
    setNote("gone");
    Cursor->DataSetSetFieldStream(note, true, nullptr);
    Cursor->UpdateRecord();
    ASSERT_TRUE(Seek(1));
    EXPECT_EQ(readNote(), "<null>");

    setNote(longText);
    Cursor->UpdateRecord();
    ASSERT_TRUE(Seek(1));
    ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0);
    if (auto* blobs = dynamic_cast<TMemoryIOInterface*>(Cursor->TableDefinition().BlobInterface())) {
        EXPECT_EQ(blobs->Count(), 0u);  // the chain went with the record
    }
}

// A blob value belongs to the record it was written with: the next record added or updated
// without setting it neither stores the old value again nor shares its chain.
TEST_P(CursorEditingTest, AWrittenBlobValueDoesNotPassToTheNextRecord) {
    const int note = Cursor->GetFieldNo("NOTE");
    auto add = [&](int ID, const std::string& Text) {
        Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
        SetValue(*Cursor, "ID", ID);
        if (!Text.empty()) {
            TMemoryStream stream;
            stream.Write(Text.data(), int64_t(Text.size()));
            Cursor->DataSetSetFieldStream(note, false, &stream);
        }
        Cursor->AddRecord(false);
    };
    add(1, "first");
    add(2, "");
    add(3, "third");
    ASSERT_TRUE(Seek(3));
    SetValue(*Cursor, "ID", 4);
    Cursor->UpdateRecord();
    add(5, "");
    for (int id : {1, 2, 4, 5}) {
        ASSERT_TRUE(Seek(id));
        TMemoryStream stream;
        bool isNull = false;
        Cursor->DataSetGetFieldStream(note, isNull, stream);
        const std::string text = isNull ? "<null>" : std::string(static_cast<const char*>(stream.Memory()), size_t(stream.Size()));
        EXPECT_EQ(text, id == 1 ? "first" : id == 4 ? "third" : "<null>") << "record " << id;
    }
}

// Writing a blob value is an insert for a new record and an update for a stored one.
TEST_P(CursorEditingTest, BlobWritesNeedTheEditsPrivilege) {
    Insert(*Cursor, {{"ID", 1}});
    Cursor.reset();
    TMemoryStream text;
    text.Write("abc", 3);
    const int read = 2048;
    DataBase->SetTablePrivileges("People", read | 4096);  // update, no insert
    Cursor = Open("People");
    const int note = Cursor->GetFieldNo("NOTE");
    ASSERT_TRUE(Seek(1));
    Cursor->DataSetSetFieldStream(note, false, &text);
    Cursor->UpdateRecord();
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetSetFieldStream(note, false, &text); }), 10624);

    Cursor.reset();
    DataBase->SetTablePrivileges("People", read | 256);  // insert, no update
    Cursor = Open("People");
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "ID", 2);
    Cursor->DataSetSetFieldStream(note, false, &text);
    Cursor->AddRecord(false);
    ASSERT_TRUE(Seek(1));
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetSetFieldStream(note, false, &text); }), 10624);
    EXPECT_EQ(ErrorCode([&] { Cursor->DataSetSetFieldStream(Cursor->GetFieldNo("ID"), false, &text); }), 10624);
}

// A key that cannot be added after the record was written (here: a logical record number the
// header's counter gives a second time) undoes the add: the record and its other keys go again.
TEST_P(CursorEditingTest, UndoesAnAddWhoseIndexUpkeepFails) {
    Insert(*Cursor, {{"ID", 1}, {"NAME", "same"}});
    Insert(*Cursor, {{"ID", 2}, {"NAME", "other"}});
    TMemoryStream note;
    note.Write("abc", 3);
    // The counter set back: the next number is record 1's again.
    Cursor->LockTable();
    Cursor->TableDefinition().TableHeader()->SetLogicalRecordNo(0);
    Cursor->UnlockTable();
    Cursor->InitializeNewRecord(Cursor->RecordBuffer(), false);
    SetValue(*Cursor, "ID", 3);
    SetValue(*Cursor, "NAME", "same");
    Cursor->DataSetSetFieldStream(Cursor->GetFieldNo("NOTE"), false, &note);
    EXPECT_EQ(ErrorCode([&] { Cursor->AddRecord(false); }), 8581);
    EXPECT_NE(ErrorText([&] { Cursor->AddRecord(false); }).find("Failed to add key to Index ixName"), std::string::npos);
    EXPECT_FALSE(Cursor->TableLocked());
    EXPECT_EQ(Contents(), (std::map<int, std::string>{{1, "same"}, {2, "other"}}));
    if (auto* blobs = dynamic_cast<TMemoryIOInterface*>(Cursor->TableDefinition().BlobInterface())) {
        EXPECT_EQ(blobs->Count(), 0u);
    }
}

// A write that fails part-way through an add, an update or a delete leaves the table as it was.
// Every write of each operation is failed in turn (the indexes of a small table are one page each,
// so each key change is one write).
TEST_P(CursorEditingTest, UndoesOperationsWhoseWritesFail) {
    if (Memory()) GTEST_SKIP() << "write failures are a file's";
    std::map<int, std::string> model;
    for (int i = 1; i <= 6; ++i) {
        Insert(*Cursor, {{"ID", i * 10}, {"NAME", "n" + std::to_string(i)}, {"AGE", i}});
        model[i * 10] = "n" + std::to_string(i);
    }
    ASSERT_TRUE(Seek(60));
    ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0);  // a free record block for the add to reuse
    model.erase(60);

    struct Operation {
        const char* Name;
        std::function<void()> Run;
        std::function<void()> Apply;
    };
    const std::vector<Operation> operations = {
        {"add",
         [&] { Insert(*Cursor, {{"ID", 70}, {"NAME", "new"}, {"AGE", 7}}); },
         [&] { model[70] = "new"; }},
        {"update",
         [&] {
             ASSERT_TRUE(Seek(20));
             SetValue(*Cursor, "ID", 25);
             SetValue(*Cursor, "NAME", "moved");
             SetValue(*Cursor, "AGE", 99);
             Cursor->UpdateRecord();
         },
         [&] {
             model.erase(20);
             model[25] = "moved";
         }},
        {"delete",
         [&] {
             ASSERT_TRUE(Seek(30));
             ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0);
         },
         [&] { model.erase(30); }},
    };
    for (const Operation& operation : operations) {
        bool done = false;
        for (int k = 1; k <= 40 && !done; ++k) {
            platform::NthCallFault fault(platform::FileOps(platform::FileOp::Write), k, {EIO, -1}, false, "cursor.orq");
            Cursor->LockTable();  // the header is written after the fault is gone
            {
                platform::ScopedFileFaultInjector inject(fault);
                try {
                    operation.Run();
                    done = true;
                } catch (const EOrqDatabaseError&) {
                }
            }
            Cursor->UnlockTable();
            if (done) {
                EXPECT_EQ(fault.Injected(), 0) << operation.Name << " succeeded although write " << k << " failed";
                operation.Apply();
            }
            EXPECT_EQ(Contents(), model) << operation.Name << ", write " << k << " failed";
        }
        EXPECT_TRUE(done) << operation.Name;
    }
    Cursor.reset();
    Cursor = Open("People");
    EXPECT_EQ(Contents(), model);
}

// A transaction rolled back, or a commit that fails (and so rolls back): the cursor's views of the
// table (header, trees, read-ahead, positions) go with it, at once through DumpInternalCaches or at
// the next lock through the header counter.
TEST_P(CursorEditingTest, ForgetsWhatARollbackOrAFailedCommitTookBack) {
    if (Memory()) GTEST_SKIP() << "transactions are a file's";
    for (int i = 1; i <= 20; ++i) Insert(*Cursor, {{"ID", i}, {"NAME", "kept"}});
    const std::map<int, std::string> before = Contents();
    uint32_t nextLogicalNo = 21;
    for (int way = 0; way < 3; ++way) {
        DataBase->StartTransaction();
        Cursor->LockTable();  // one header write: the counter the cursor last read is the stored one
        for (int i = 100; i < 400; ++i) Insert(*Cursor, {{"ID", i}, {"NAME", "gone"}});
        ASSERT_TRUE(Seek(5));
        ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0);
        Cursor->UnlockTable();
        EXPECT_EQ(Cursor->GetTotalRecordCount(), 319);
        if (way == 0) {
            DataBase->Rollback();
        } else {
            platform::NthCallFault fault(platform::FileOps(platform::FileOp::Flush), 1, {EIO, -1}, false);
            platform::ScopedFileFaultInjector inject(fault);
            if (way == 1)
                EXPECT_NE(ErrorCode([&] { DataBase->Commit(); }), 0);  // tells the cursors
            else
                EXPECT_NE(ErrorCode([&] { DataBase->DiskMgr()->DiskCommit(); }), 0);  // the counter alone
        }
        EXPECT_FALSE(DataBase->InTransaction());
        EXPECT_EQ(Contents(), before) << "way " << way;
        EXPECT_EQ(Cursor->GetTotalRecordCount(), 20);
        // The counter is the one stored before the transaction.
        Insert(*Cursor, {{"ID", 21}, {"NAME", "after"}});
        EXPECT_EQ(LogicalNo(*Cursor), nextLogicalNo++);
        ASSERT_TRUE(Seek(21));
        ASSERT_EQ(Cursor->DeleteRecord(nullptr), 0);
    }
}

// Raw copies keep the table's counters above every number they store, so later inserts never
// repeat a logical record number (nor an auto-increment value).
TEST_P(CursorEditingTest, TransferredRecordsKeepTheCountersAhead) {
    Create("Source", {{"NO", ftAutoInc}, {"NAME", ftString, 16}}, {});
    Create("Target", {{"NO", ftAutoInc}, {"NAME", ftString, 8}}, {{"ixName", "NAME", {}}});
    auto source = Open("Source");
    for (int i = 0; i < 5; ++i) Insert(*source, {{"NAME", "name" + std::to_string(i) + "-longer"}}, true);
    auto target = Open("Target");
    int transferred = 0;
    for (bool more = source->DataSetFirst(); more; more = source->DataSetNext()) {
        bool goOn = false;
        target->TransferRecord(source->RecordBuffer(), &source->RecordMgr().Fields(), transferred++, 5, goOn);
        EXPECT_TRUE(goOn);
        EXPECT_EQ(VarToStr(GetValue(*target, "NAME")), "name" + std::to_string(transferred - 1).substr(0, 1) + "-lo");
    }
    EXPECT_EQ(target->TableDefinition().TableHeader()->GetLogicalRecordNo(), 5u);
    EXPECT_EQ(target->TableDefinition().TableHeader()->GetRecordAutoIncVal(), 5u);
    Insert(*target, {{"NAME", "x"}}, true);
    EXPECT_EQ(LogicalNo(*target), 6u);
    EXPECT_EQ(GetValue(*target, "NO").AsInteger(), 6);
    bool goOn = false;
    target->TransferRecord(nullptr, nullptr, 0, 0, goOn);  // nothing given: nothing done
    EXPECT_FALSE(goOn);
}

INSTANTIATE_CURSOR_TESTS(CursorEditingTest);

}  // namespace
}  // namespace ostra::componentstest
