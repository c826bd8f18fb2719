// The database component's connection: a new database file and its definition record, the
// checks of a connection (damaged record, later versions, missing file, names, keys), settings
// refused while connected, the in-memory database, the open modes (exclusive against another
// process, read-only, the read-only attribute), encrypted databases and their key, the published
// properties, and the raw record reader of a closed file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "engine/components/orqDBDefRecord.h"
#include "engine/storage/orqLockMgrUnit.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/ComponentText.h"
#include "host/PropertyRegistry.h"
#include "host/StringList.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

const std::vector<TFieldSpec> kFields = {{"ID", ftInteger}, {"NAME", ftString, 20}};
const std::vector<TIndexSpec> kIndexes = {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}};

class DataBaseTest : public ::testing::Test {
protected:
    std::string Path() const { return Dir.File("shop.orq"); }
    // A closed component on Path with short lock waits.
    std::unique_ptr<TTestDataBase> Closed() {
        auto database = std::make_unique<TTestDataBase>();
        database->SetDataBaseName(Path());
        database->SetLockRetryMaximum(3);
        database->SetLockRetryInterval(10);
        return database;
    }
    // The stored definition record changed through Change, with a valid check value.
    void RewriteRecord(const std::function<void(TDBDefRecord&)>& Change) { RewriteDefinitionRecord(Path(), Change); }

    test::TempDir Dir;
};

TEST_F(DataBaseTest, CreatesADatabaseWithItsDefinitionRecord) {
    auto database = Closed();
    database->SetDBOwner("alice");
    database->SetDefaultSortOrder(soASCII);
    database->CreateDatabase();
    EXPECT_FALSE(database->Connected());

    const std::string bytes = test::ReadAll(Path());
    const auto* record = reinterpret_cast<const uint8_t*>(bytes.data());
    TDBDefRecord stored;
    stored.Decode(record);
    EXPECT_EQ(stored.Format, 1);
    EXPECT_EQ(stored.Name, "shop.orq");
    EXPECT_EQ(stored.Owner, "alice");
    EXPECT_EQ(stored.SortOrder, 1);
    EXPECT_EQ(stored.Version, "1.43.02");
    EXPECT_EQ(stored.SecurityLevel, 0);
    EXPECT_EQ(stored.CheckValue, DBDefCheckValue(record));

    database->SetDefaultSortOrder(soANSI);
    database->SetConnected(true);
    EXPECT_EQ(database->DefaultSortOrder(), soASCII);  // the file's
    EXPECT_EQ(database->DataFileVersion(), "1.43.02");
    EXPECT_EQ(database->MinorVersion(), 43);
    EXPECT_EQ(database->DBOwner(), "alice");
    TStringList names;
    database->GetTableNames(&names, false);
    EXPECT_EQ(names.Count(), 0);
    database->GetSystemTableNames(&names);
    EXPECT_EQ(names.Text(), "$SYSTBL_INTGENERATOR\r\n$SYSTBL_OBJECTIDREF\r\n");
    // The file's services: its users (this connection's slot), its size, a flush.
    names.Clear();
    database->GetCurrentUsers(&names);
    EXPECT_EQ(names.Count(), 1);
    EXPECT_EQ(database->DatabaseSize() % 4096, 0u);
    EXPECT_EQ(database->DatabaseSize(), test::ReadAll(Path()).size());
    database->FlushBuffers();
    database->SetConnected(false);
    EXPECT_EQ(database->DataFileVersion(), "");
    EXPECT_NE(database->DBOwner(), "alice");  // the values of a new database again
}

TEST_F(DataBaseTest, RefusesADamagedOrLaterDefinitionRecord) {
    Closed()->CreateDatabase();
    const std::string good = test::ReadAll(Path());
    struct Case {
        std::function<void()> Damage;
        int Code;
        const char* Text;
    };
    auto version = [this](const char* Text) { return [this, Text] { RewriteRecord([Text](TDBDefRecord& R) { R.Version = Text; }); }; };
    const Case cases[] = {
        {[&] {
             std::string bytes = good;
             bytes[70] ^= 1;  // one byte of the operating-system text
             test::WriteAll(Path(), bytes);
         },
         8961, "Corrupt Header"},
        {version("1.43.03"), 12041, "Current database disk format is 1.43.03"},
        {version("1.44.01"), 12041, "Current database disk format is 1.44.01"},
        {version("2.0.0"), 12041, "Current database disk format is 2.0.0"},
        {version("1.43.02"), 0, ""},
        {version("1.43.01"), 0, ""},
        {version("1.42.05"), 0, ""},
        {version("0.99.99"), 0, ""},
    };
    for (const Case& c : cases) {
        test::WriteAll(Path(), good);
        c.Damage();
        auto database = Closed();
        std::string text;
        EXPECT_EQ(ErrorCode([&] { text = ErrorText([&] { database->SetConnected(true); }); }), 0);
        if (c.Code == 0) {
            EXPECT_EQ(text, "");
            EXPECT_TRUE(database->Connected());
        } else {
            EXPECT_NE(text.find(c.Text), std::string::npos) << text;
            EXPECT_EQ(ErrorCode([&] { database->SetConnected(true); }), c.Code);
            // Refused means wholly disconnected: the file is free for an exclusive opener.
            EXPECT_FALSE(database->Connected());
            EXPECT_FALSE(platform::FileExists(GetLockFileName(Path())));
        }
    }
}

TEST_F(DataBaseTest, ChecksNamesKeysAndTheConnectionState) {
    auto database = Closed();
    EXPECT_EQ(ErrorCode([&] { database->SetConnected(true); }), 9988);  // no file yet
    database->SetDataBaseName("");
    EXPECT_EQ(ErrorCode([&] { database->SetConnected(true); }), 10118);
    EXPECT_EQ(ErrorCode([&] { database->CreateDatabase(); }), 10118);
    for (int length : {3, 101}) EXPECT_EQ(ErrorCode([&] { database->SetMasterKey(std::string(length, 'k')); }), 9602);
    for (int length : {0, 4, 100}) EXPECT_EQ(ErrorCode([&] { database->SetMasterKey(std::string(length, 'k')); }), 0);
    database->SetMasterKey("");
    // Unconnected use.
    TStringList names;
    EXPECT_EQ(ErrorCode([&] { database->GetTableNames(&names, false); }), 10113);
    EXPECT_EQ(ErrorCode([&] { database->StartTransaction(); }), 10113);
    EXPECT_EQ(ErrorCode([&] { database->InternalGetGenerator(C_OBJECTIDGENERATOR, true); }), 10113);

    // A path splits into folder and name; the folder ends in one delimiter.
    database->SetDataBaseName(Path());
    EXPECT_EQ(database->DataBaseName(), "shop.orq");
    EXPECT_EQ(database->Directory(), Dir.Path() + "/");
    database->SetDirectory(Dir.Path());
    EXPECT_EQ(database->FileName(), Path());
    database->CreateDatabase();
    database->SetConnected(true);

    // Every setting of the connection is refused while connected.
    const std::vector<std::pair<const char*, std::function<void()>>> setters = {
        {"Exclusive", [&] { database->SetExclusive(true); }},
        {"ReadOnly", [&] { database->SetReadOnly(true); }},
        {"Directory", [&] { database->SetDirectory("/tmp"); }},
        {"DataBaseName", [&] { database->SetDataBaseName("other.orq"); }},
        {"DefaultSortOrder", [&] { database->SetDefaultSortOrder(soASCII); }},
        {"MasterKey", [&] { database->SetMasterKey("abcd"); }},
        {"UseEncryption", [&] { database->SetUseEncryption(true); }},
        {"EnforceSecurity", [&] { database->SetEnforceSecurity(true); }},
        {"DBOwner", [&] { database->SetDBOwner("bob"); }},
        {"CreateDatabase", [&] { database->CreateDatabase(); }},
        {"TransferRecordBuffers", [&] { database->TransferRecordBuffers(1, 64, nullptr); }},
    };
    for (const auto& [name, set] : setters) EXPECT_EQ(ErrorCode(set), 10120) << name;
    EXPECT_EQ(database->FileName(), Path());
    database->SetLockRetryMaximum(4);  // the lock retries are not the connection's identity
    EXPECT_EQ(database->DiskMgr()->LockRetryCount(), 4);
    // Operations that need the file to themselves.
    EXPECT_EQ(ErrorCode([&] { database->ResetDBHeader(); }), 10121);
    EXPECT_EQ(ErrorCode([&] { database->DeleteTable("Any", false); }), 10121);
    database->SetConnected(false);
    database->SetEnforceSecurity(true);
    EXPECT_TRUE(database->UseEncryption());
    EXPECT_EQ(ErrorCode([&] { database->SetUseEncryption(false); }), 10766);
}

// A creation that fails part-way leaves no half-made database behind.
TEST_F(DataBaseTest, AFailedCreationLeavesNoFile) {
    auto database = Closed();
    int failures = 0;
    for (int64_t n = 1;; n += 3) {
        SCOPED_TRACE("write " + std::to_string(n));
        platform::NthCallFault fault(platform::FileOps(platform::FileOp::Write), n, {ENOSPC, -1}, true, Dir.Path());
        bool failed = false;
        {
            platform::ScopedFileFaultInjector scope(fault);
            try {
                database->CreateDatabase();
            } catch (const std::exception&) {  // an engine error, or the lock file's assertion
                failed = true;
            }
        }
        EXPECT_FALSE(database->Connected());
        if (fault.Injected() == 0) break;
        ++failures;
        EXPECT_TRUE(failed);
        EXPECT_FALSE(platform::FileExists(Path()));
        EXPECT_FALSE(platform::FileExists(GetLockFileName(Path())));
    }
    EXPECT_GT(failures, 5);
    database->SetConnected(true);  // the last one went through
}

TEST_F(DataBaseTest, TheInMemoryDatabaseHasNoFileAndForgetsItsTables) {
    TTestDataBase database;
    database.SetDirectory(Dir.Path());
    database.SetDataBaseName("memory");
    EXPECT_EQ(database.DataBaseName(), "MEMORY");
    database.SetConnected(true);
    EXPECT_EQ(database.DatabasePrivileges(), C_ALLPRIVILEGES);
    EXPECT_EQ(ErrorCode([&] { database.StartTransaction(); }), 10880);
    TStringList names;
    EXPECT_EQ(ErrorCode([&] { database.GetTableNames(&names, false); }), 10880);
    EXPECT_EQ(ErrorCode([&] { database.DeleteTable("T", false); }), 10880);
    EXPECT_EQ(ErrorCode([&] { database.InternalGetGenerator(C_OBJECTIDGENERATOR, true); }), 10880);

    CreateTable(database, "T", kFields, kIndexes, true);
    auto cursor = OpenCursor(database, "T", true);
    Insert(*cursor, {{"ID", 1}});
    EXPECT_FALSE(database.LockTable(&cursor->TableDefinition(), CWriteLock));  // nothing to lock
    database.GetTableNames(&names, true);
    EXPECT_EQ(names.Text(), "T\r\n");
    database.SetConnected(false);
    EXPECT_FALSE(cursor->InternalActive());
    database.SetConnected(true);
    names.Clear();
    database.GetTableNames(&names, true);
    EXPECT_EQ(names.Count(), 0);
    EXPECT_EQ(ErrorCode([&] { cursor->DataSetOpen(); }), 8579);  // gone with the disconnection
    EXPECT_EQ(ErrorCode([&] { database.CreateDatabase(); }), 10120);
    database.SetConnected(false);
    EXPECT_EQ(ErrorCode([&] { database.CreateDatabase(); }), 10880);
    EXPECT_FALSE(platform::FileExists(Dir.File("MEMORY")));
}

TEST_F(DataBaseTest, OpensExclusivelySharedOrForReading) {
    {
        auto database = Closed();
        database->CreateDatabase();
        database->SetConnected(true);
        CreateTable(*database, "T", kFields, kIndexes, false);
        auto cursor = OpenCursor(*database, "T", false);
        Insert(*cursor, {{"ID", 1}, {"NAME", "one"}});
    }
    // Another process holds the file exclusively: this one is refused until it lets go.
    test::Child holder([this](test::Child& Self) {
        auto database = Closed();
        database->SetExclusive(true);
        database->SetConnected(true);
        Self.Send('c');
        Self.Receive();
        return 0;
    });
    ASSERT_EQ(holder.Receive(), 'c');
    auto database = Closed();
    EXPECT_EQ(ErrorCode([&] { database->SetConnected(true); }), 8449);  // the file cannot be opened
    EXPECT_FALSE(database->Connected());
    holder.Send('q');
    EXPECT_EQ(holder.Wait(), 0);
    database->SetConnected(true);
    database->SetConnected(false);

    // Read only: cursors cannot write.
    database->SetReadOnly(true);
    database->SetConnected(true);
    auto reader = OpenCursor(*database, "T", false);
    EXPECT_TRUE(reader->ReadOnly());
    EXPECT_EQ(ErrorCode([&] { Insert(*reader, {{"ID", 2}}); }), 10763);
    EXPECT_EQ(Walk(*reader, "ID"), Ints({1}));
    reader.reset();
    database->SetConnected(false);

    // A file with the read-only attribute runs without a lock file, and only for reading.
    ASSERT_TRUE(platform::FileSetReadOnly(Path(), true));
    database->SetReadOnly(false);
    EXPECT_EQ(ErrorCode([&] { database->SetConnected(true); }), 8449);
    EXPECT_FALSE(database->Connected());
    database->SetReadOnly(true);
    database->SetConnected(true);
    EXPECT_FALSE(platform::FileExists(GetLockFileName(Path())));
    reader = OpenCursor(*database, "T", false);
    EXPECT_EQ(Walk(*reader, "NAME"), std::vector<Variant>{Variant("one")});
    reader.reset();
    database->SetConnected(false);
    platform::FileSetReadOnly(Path(), false);
}

TEST_F(DataBaseTest, AnEncryptedDatabaseNeedsItsKey) {
    auto database = Closed();
    database->SetUseEncryption(true);
    EXPECT_EQ(ErrorCode([&] { database->CreateDatabase(); }), 10015);  // encryption without a key
    // A key longer than the cipher takes is refused before a file is made.
    database->SetMasterKey(std::string(57, 'k'));
    EXPECT_EQ(ErrorCode([&] { database->CreateDatabase(); }), 9602);
    EXPECT_FALSE(platform::FileExists(Path()));
    database->SetMasterKey("the right key");
    database->CreateDatabase();
    EXPECT_EQ(database->MasterKey(), "the right key");

    database->SetConnected(true);
    CreateTable(*database, "Customers", kFields, kIndexes, false);
    database->SetConnected(false);
    EXPECT_EQ(database->MasterKey(), "");  // each connection needs the key again
    // The master table's rows are encrypted: the table name is nowhere in the file.
    EXPECT_EQ(test::ReadAll(Path()).find("Customers"), std::string::npos);

    // No key and no way to ask for one: as a cancelled login.
    EXPECT_EQ(ErrorCode([&] { database->SetConnected(true); }), 10015);
    EXPECT_FALSE(database->Connected());
    // The key through BeforeLogin (no dialog is shown): a wrong one, then the right one.
    std::string given = "a wrong key";
    int asked = 0;
    database->BeforeLogin = [&](TObject*, std::string& User, std::string& Password, std::string& Key) {
        ++asked;
        Key = given;
    };
    EXPECT_EQ(ErrorCode([&] { database->SetConnected(true); }), 8451);
    EXPECT_EQ(database->MasterKey(), "");
    EXPECT_FALSE(database->Connected());
    given = "the right key";
    database->SetConnected(true);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(database->UseEncryption());
    TStringList names;
    database->GetTableNames(&names, false);
    EXPECT_EQ(names.Text(), "Customers\r\n");
    database->SetConnected(false);
    // A key set beforehand needs no login.
    database->BeforeLogin = nullptr;
    database->SetMasterKey("the right key");
    database->SetConnected(true);
}

TEST_F(DataBaseTest, PublishesItsPropertiesInOrder) {
    TOrqDataBase database(nullptr);
    database.SetName("Db");
    database.SetDataBaseName(Path());
    std::vector<std::string> names;
    for (const TPropInfo* property : GetPropList(&database)) names.push_back(property->Name);
    const std::vector<std::string> expected = {"Tag",     "Exclusive",        "ReadOnly",         "Directory",
                                               "DataBaseName", "DefaultSortOrder", "Version", "LockRetryMaximum",
                                               "LockRetryInterval", "Connected"};
    EXPECT_EQ(names, expected);
    const std::string text = ComponentToText(&database);
    TOrqDataBase read(nullptr);
    TextToComponent(text, &read);
    EXPECT_EQ(read.FileName(), Path());
    EXPECT_EQ(read.LockRetryMaximum(), 10);
    EXPECT_NE(text.find("Version = '1.43.02'"), std::string::npos) << text;
    EXPECT_EQ(text.find("Connected"), std::string::npos) << text;  // False is the default
}

TEST_F(DataBaseTest, ReadsTheRecordBlocksOfAClosedFile) {
    int32_t tableID = 0, blockSize = 0;
    {
        auto database = Closed();
        database->CreateDatabase();
        database->SetConnected(true);
        CreateTable(*database, "T", kFields, kIndexes, false);
        auto cursor = OpenCursor(*database, "T", false);
        for (int i = 1; i <= 5; ++i) Insert(*cursor, {{"ID", i}, {"NAME", "row " + std::to_string(i)}});
        tableID = cursor->TableDefinition().TableID();
        blockSize = cursor->TableDefinition().RecordSize();
    }
    auto database = Closed();
    std::vector<int32_t> ids;
    int count = 0;
    database->TransferRecordBuffers(tableID, blockSize, [&](uint8_t* Buf, TInternalFields* Fields, int BufNo,
                                                            int BufCount, bool& Continue) {
        EXPECT_EQ(Fields, nullptr);
        EXPECT_EQ(BufNo, count++);
        EXPECT_GE(BufCount, 5);
        if (Buf[C_RECINUSEOFFSET] == 1) {
            int32_t id;
            std::memcpy(&id, Buf + C_RECORDPREFIXSIZE + 2, 4);  // after the two null flags
            ids.push_back(id);
        }
        Continue = ids.size() < 3;  // stops when told
    });
    EXPECT_EQ(ids.size(), 3u);
}

}  // namespace
}  // namespace ostra::componentstest
