// Two processes on one database file, each with its own connection and cursor: a record updated by
// the other since it was read cannot be written over (8708); the other's changes show at the next
// lock; a record the other has locked for an edit cannot be locked or updated until it lets go;
// a table closed here and opened again shows what the other committed in between, also where its
// pages were still cached here, plain or encrypted.
#include <gtest/gtest.h>

#include "engine/storage/orqErrors.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

// The child's side: its own connection and cursor on the file, driven by one-letter messages.
int ChildBody(test::Child& Self, const std::string& Path) {
    auto database = ConnectDataBase(Path);
    auto cursor = OpenCursor(*database, "T", false);
    auto seek = [&](int ID) {
        cursor->InitializeNewRecord(cursor->RecordBuffer(), false);
        SetValue(*cursor, "ID", ID);
        return cursor->Find(stEQ, "PK", nullptr);
    };
    for (char message = Self.Receive(); message != 'q' && message != '\0'; message = Self.Receive()) {
        switch (message) {
            case 'u':  // update record 1
                if (!seek(1)) return 1;
                SetValue(*cursor, "NAME", "child");
                cursor->UpdateRecord();
                break;
            case 'i':  // add ten records
                for (int id = 100; id < 110; ++id) Insert(*cursor, {{"ID", id}, {"NAME", "new"}});
                break;
            case 'l':  // lock record 2 for an edit
                if (!seek(2)) return 2;
                cursor->InternalSetRecordLock(cursor->DatasetGetRecAddr());
                break;
            case 'r':  // let it go
                cursor->InternalReleaseRecordLock(cursor->DatasetGetRecAddr());
                break;
            default: return 3;
        }
        Self.Send(message);
    }
    return 0;
}

TEST(CursorTwoProcessTest, SeesAndRespectsTheOtherProcess) {
    test::TempDir dir;
    const std::string path = dir.File("shared.orq");
    auto database = MakeDataBase(path);
    CreateTable(*database, "T", {{"ID", ftInteger}, {"NAME", ftString, 10}},
                {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}}, false);
    auto cursor = OpenCursor(*database, "T", false);
    for (int id = 1; id <= 3; ++id) Insert(*cursor, {{"ID", id}, {"NAME", "start"}});
    auto seek = [&](int ID) {
        cursor->InitializeNewRecord(cursor->RecordBuffer(), false);
        SetValue(*cursor, "ID", ID);
        return cursor->Find(stEQ, "PK", nullptr);
    };

    test::Child child([&](test::Child& Self) { return ChildBody(Self, path); });

    // The other process updates record 1 after this one read it.
    ASSERT_TRUE(seek(1));
    child.Send('u');
    ASSERT_EQ(child.Receive(), 'u');
    SetValue(*cursor, "NAME", "parent");
    EXPECT_EQ(ErrorCode([&] { cursor->UpdateRecord(); }), 8708);
    ASSERT_TRUE(seek(1));
    EXPECT_EQ(VarToStr(GetValue(*cursor, "NAME")), "child");

    // Its new records show at the next lock.
    EXPECT_EQ(cursor->GetTotalRecordCount(), 3);
    child.Send('i');
    ASSERT_EQ(child.Receive(), 'i');
    EXPECT_TRUE(cursor->DataSetLast());
    EXPECT_EQ(GetValue(*cursor, "ID").AsInteger(), 109);
    EXPECT_EQ(cursor->GetTotalRecordCount(), 13);

    // A record it holds for an edit can be neither locked nor updated here.
    child.Send('l');
    ASSERT_EQ(child.Receive(), 'l');
    ASSERT_TRUE(seek(2));
    EXPECT_EQ(ErrorCode([&] { cursor->InternalSetRecordLock(cursor->DatasetGetRecAddr()); }), 10249);
    SetValue(*cursor, "NAME", "blocked");
    EXPECT_EQ(ErrorCode([&] { cursor->UpdateRecord(); }), 10249);
    EXPECT_FALSE(cursor->TableLocked());
    child.Send('r');
    ASSERT_EQ(child.Receive(), 'r');
    ASSERT_TRUE(seek(2));
    SetValue(*cursor, "NAME", "edited");
    cursor->UpdateRecord();
    ASSERT_TRUE(seek(2));
    EXPECT_EQ(VarToStr(GetValue(*cursor, "NAME")), "edited");

    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
}

TEST(CursorTwoProcessTest, ATableOpenedAgainShowsWhatTheOtherCommittedWhileItWasClosed) {
    for (const TEncryptionLevel level : {encNone, encWeak, encStrong}) {
        SCOPED_TRACE(CEncryptionLevelNames[level]);
        test::TempDir dir;
        const std::string path = dir.File("shared.orq");
        auto database = MakeDataBase(path);
        CreateTable(*database, "T", {{"ID", ftInteger}, {"NAME", ftString, 10}},
                    {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}}, false, level);
        std::vector<Variant> names;
        {
            auto cursor = OpenCursor(*database, "T", false);
            for (int id = 1; id <= 200; ++id) Insert(*cursor, {{"ID", id}, {"NAME", "start"}});
            names = Walk(*cursor, "NAME");
        }
        {
            auto cursor = OpenCursor(*database, "T", false);
            EXPECT_EQ(Walk(*cursor, "NAME"), names);
        }
        test::Child child([&](test::Child&) {
            auto other = ConnectDataBase(path);
            auto cursor = OpenCursor(*other, "T", false);
            for (int id = 1; id <= 200; id += 2) {
                cursor->InitializeNewRecord(cursor->RecordBuffer(), false);
                SetValue(*cursor, "ID", id);
                if (!cursor->Find(stEQ, "PK", nullptr)) return 1;
                SetValue(*cursor, "NAME", "child");
                cursor->UpdateRecord();
            }
            for (int id = 201; id <= 300; ++id) Insert(*cursor, {{"ID", id}, {"NAME", "new"}});
            return 0;
        });
        ASSERT_EQ(child.Wait(), 0);
        for (int id = 1; id <= 200; id += 2) names[std::size_t(id - 1)] = Variant("child");
        for (int id = 201; id <= 300; ++id) names.push_back(Variant("new"));
        auto cursor = OpenCursor(*database, "T", false);
        EXPECT_EQ(Walk(*cursor, "NAME"), names);
    }
}

}  // namespace
}  // namespace ostra::componentstest
