// Secured databases end to end: the first logon making the administrator, logon modes and the
// login dialog through scripted user-interface services, failed logons, password expiry, user
// and group maintenance with its refusals, privileges stored and read back, a matrix of every
// privilege against the operations it guards, object identifiers of user tables (also across a
// restructure that copies the records), and the file holding no plain password or key.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqSecurityManager.h"
#include "engine/components/orqTable.h"
#include "engine/storage/orqErrors.h"
#include "host/DateTime.h"
#include "host/StringList.h"
#include "host/UIServices.h"
#include "host/db/Field.h"
#include "platform/FileFault.h"
#include "support/orqCursorTest.h"
#include "testsupport/TestFiles.h"

namespace ostra::componentstest {
namespace {

constexpr char kKey[] = "the-database-key";
constexpr char kOrders[] = "Orders";

class SecurityTest : public ::testing::Test {
protected:
    void SetUp() override {
        Db = Closed();
        Db->SetEnforceSecurity(true);
        Db->SetMasterKey(kKey);
        Db->CreateDatabase();
    }

    std::string Path() const { return Dir.File("secure.orq"); }
    std::unique_ptr<TOrqDataBase> Closed() {
        auto database = std::make_unique<TOrqDataBase>(nullptr);
        database->SetDataBaseName(Path());
        database->SetLockRetryMaximum(3);
        database->SetLockRetryInterval(10);
        return database;
    }
    // Connects through BeforeLogin with these values (the key unless given).
    void Connect(const std::string& User, const std::string& Password, const std::string& Key = kKey) {
        Db->BeforeLogin = [=](TObject*, std::string& U, std::string& P, std::string& K) {
            U = User;
            P = Password;
            K = Key;
        };
        Db->SetConnected(true);
    }
    // As "administrator" (the first connection creates it).
    void ConnectAdmin() { Connect(C_AdministratorUser, C_DefaultAdministratorPassword); }
    TSecurityManager& Sm() { return Db->SecurityManager(); }

    // "Orders" (ID, NAME, PRICE) with a primary index, made through a table component.
    void CreateOrders() {
        TOrqTable table(nullptr);
        table.SetDataBase(Db.get());
        table.SetTableName(kOrders);
        table.FieldDefs().Add("ID", ftInteger);
        table.FieldDefs().Add("NAME", ftString, 20);
        table.FieldDefs().Add("PRICE", ftInteger);
        table.IndexDefs().Add("PK", "ID", TIndexOptions{ixPrimary, ixUnique});
        table.CreateTable();
        table.Open();
        table.Append();
        table.FieldByName("ID")->SetAsInteger(1);
        table.FieldByName("NAME")->SetAsString("first");
        table.FieldByName("PRICE")->SetAsInteger(10);
        table.Post();
    }
    std::unique_ptr<TOrqTable> Table(const std::string& Name) {
        auto table = std::make_unique<TOrqTable>(nullptr);
        table->SetDataBase(Db.get());
        table->SetTableName(Name);
        return table;
    }
    // The group "clerks" with the user "bob" (password "bobpw") holding Objects and Systems.
    void MakeClerk(const std::vector<std::tuple<std::string, TObjectPrivilegeType, std::string>>& Objects,
                   const std::vector<TSystemPrivilegeType>& Systems = {}) {
        Sm().AddGroup("clerks");
        Sm().AddUser("bob", "bobpw", "clerks");
        Grant("clerks", Objects, Systems);
    }
    void Grant(const std::string& Group,
               const std::vector<std::tuple<std::string, TObjectPrivilegeType, std::string>>& Objects,
               const std::vector<TSystemPrivilegeType>& Systems = {}) {
        TPrivileges privileges;
        privileges.SetGroupName(Group);
        for (const auto& [name, type, fields] : Objects) {
            TObjectPrivilege& p = *privileges.ObjectPrivileges()->Add();
            p.SetObjectType(doTable);
            p.SetObjectName(name);
            p.SetPrivilegeType(type);
            p.SetFields(fields);
        }
        for (TSystemPrivilegeType type : Systems) privileges.SystemPrivileges()->Add()->SetPrivilegeType(type);
        Sm().SetPrivileges(privileges, true);
    }

    test::TempDir Dir;
    std::unique_ptr<TOrqDataBase> Db;
};

TEST_F(SecurityTest, FirstLogonMakesTheAdministratorAndLaterOnesNeedItsPassword) {
    // Another spelling is no administrator, even on a new database.
    EXPECT_EQ(ErrorCode([&] { Connect("Administrator", "x"); }), 10036);
    EXPECT_FALSE(Db->Connected());
    // The first logon takes any password and makes the group and the user.
    Connect(C_AdministratorUser, "anything");
    EXPECT_EQ(Sm().GroupName(), C_AdministratorsGroup);
    EXPECT_EQ(Db->Privileges().GroupName(), C_AdministratorsGroup);
    EXPECT_EQ(Db->DatabasePrivileges(), 1 | 2 | 8 | 16);
    TPrivileges admins;
    admins.SetGroupName(C_AdministratorsGroup);
    Sm().GetPrivileges(doTable, "", admins);
    EXPECT_EQ(admins.ObjectPrivileges()->Count(), 8);
    EXPECT_EQ(admins.SystemPrivileges()->Count(), 4);
    EXPECT_EQ(admins.ObjectPrivileges()->GetItems(0)->ObjectName(), "ALL");
    Db->SetConnected(false);

    EXPECT_EQ(ErrorCode([&] { Connect(C_AdministratorUser, "anything"); }), 10036);
    EXPECT_FALSE(Db->Connected());
    EXPECT_EQ(ErrorCode([&] { Connect("nobody", "x"); }), 10036);
    // A wrong key: 8451, and the key is forgotten.
    EXPECT_EQ(ErrorCode([&] { Connect(C_AdministratorUser, "plinth", "a-wrong-key"); }), 8451);
    EXPECT_EQ(Db->MasterKey(), "");
    ConnectAdmin();
    EXPECT_TRUE(Db->Connected());
}

TEST_F(SecurityTest, LoginDialogModesCancelAndRetries) {
    THeadlessUIServices ui;
    TUIServicesScope scope(ui);
    // No key set: all three values are asked for. Cancel: 10015.
    Db->SetMasterKey("");
    EXPECT_EQ(ErrorCode([&] { Db->SetConnected(true); }), 10015);
    ASSERT_EQ(ui.LoginRequests().size(), 1u);
    EXPECT_EQ(ui.LoginRequests()[0].Mode, 3);
    EXPECT_EQ(ui.LoginRequests()[0].DatabaseName, "secure.orq");

    // The first logon with a password other than the default succeeds once and is not repeated.
    ui.ClearLog();
    ui.ScriptLogin(true, kKey, C_AdministratorUser, "my own choice");
    Db->SetConnected(true);
    EXPECT_EQ(ui.LoginRequests().size(), 1u);
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_EQ(Sm().UserName(), C_AdministratorUser);
    Db->SetConnected(false);

    // A key set beforehand: user name and password only. A wrong password shows the error, then
    // the dialog asks again (user and password) until the right one.
    ui.ClearLog();
    Db->SetMasterKey(kKey);
    ui.ScriptLogin(true, "", C_AdministratorUser, "wrong");
    ui.ScriptLogin(true, "", C_AdministratorUser, "still wrong");
    ui.ScriptLogin(true, "", C_AdministratorUser, C_DefaultAdministratorPassword);
    Db->SetConnected(true);
    ASSERT_EQ(ui.LoginRequests().size(), 3u);
    for (const TLoginRequest& request : ui.LoginRequests()) EXPECT_EQ(request.Mode, 2);
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_NE(ui.Messages()[0].Msg.find("Bad user name or password"), std::string::npos);
    EXPECT_EQ(ui.Messages()[0].DlgType, mtError);
    Db->SetConnected(false);

    // Cancelling the retry: 10015, disconnected.
    ui.ClearLog();
    Db->SetMasterKey(kKey);
    ui.ScriptLogin(true, "", "nobody", "x");
    EXPECT_EQ(ErrorCode([&] { Db->SetConnected(true); }), 10015);
    EXPECT_FALSE(Db->Connected());
    EXPECT_EQ(ui.LoginRequests().size(), 2u);

    // Level 1 (encrypted only) without a key: the key alone.
    auto encrypted = std::make_unique<TOrqDataBase>(nullptr);
    encrypted->SetDataBaseName(Dir.File("enc.orq"));
    encrypted->SetUseEncryption(true);
    encrypted->SetMasterKey(kKey);
    encrypted->CreateDatabase();
    encrypted->SetMasterKey("");
    ui.ClearLog();
    ui.ScriptLogin(true, kKey, "", "");
    encrypted->SetConnected(true);
    ASSERT_EQ(ui.LoginRequests().size(), 1u);
    EXPECT_EQ(ui.LoginRequests()[0].Mode, 1);
}

TEST_F(SecurityTest, ExpiredPasswordsAreRefusedExceptTheAdministrators) {
    ConnectAdmin();
    Sm().AddGroup("clerks");
    Sm().AddUser("bob", "bobpw", "clerks");
    // Both passwords last changed 31 days ago.
    auto users = Table("$SYSTBL_SECUSERS");
    users->Open();
    for (users->First(); !users->Eof(); users->Next()) {
        users->Edit();
        users->FieldByName("DateLastPWordChange")->SetAsDateTime(Now() - 31);
        users->Post();
    }
    users.reset();
    Sm().SetPasswordExpiryPeriod(30);
    EXPECT_EQ(ErrorText([&] { Sm().Logon("bob", "bobpw", "secure.orq"); }).find("The password has expired") !=
                  std::string::npos,
              true);
    EXPECT_TRUE(Sm().Logon(C_AdministratorUser, C_DefaultAdministratorPassword, "secure.orq"));
    Sm().SetPasswordExpiryPeriod(32);
    EXPECT_TRUE(Sm().Logon("bob", "bobpw", "secure.orq"));
    // A user may change its own password without Edit users; the age starts again.
    Sm().SetPasswordExpiryPeriod(30);
    Sm().ChangePassword("bob", "newpw");
    EXPECT_TRUE(Sm().Logon("bob", "newpw", "secure.orq"));
    EXPECT_EQ(ErrorCode([&] { Sm().Logon("bob", "bobpw", "secure.orq"); }), 10036);
}

TEST_F(SecurityTest, UsersAndGroupsAreMaintainedWithTheirRefusals) {
    ConnectAdmin();
    const std::string name30(30, 'g'), name31(31, 'g');
    EXPECT_EQ(ErrorCode([&] { Sm().AddGroup(name31); }), 9605);
    EXPECT_EQ(ErrorCode([&] { Sm().AddGroup("g"); }), 9605);
    const int32_t id = Sm().AddGroup(name30);
    EXPECT_EQ(Sm().GetGroupIDFromName(name30), id);
    EXPECT_EQ(ErrorCode([&] { Sm().AddGroup(name30); }), 8580);
    EXPECT_EQ(ErrorCode([&] { Sm().AddUser("ann", "pw", "missing"); }), 8579);
    EXPECT_EQ(ErrorCode([&] { Sm().AddUser(std::string(31, 'u'), "pw", name30); }), 9605);
    Sm().AddUser("ann", "pw", name30);
    Sm().AddUser("al", "pw", name30);
    EXPECT_EQ(ErrorCode([&] { Sm().AddUser("ann", "pw", name30); }), 8580);
    EXPECT_EQ(Sm().RenameGroup(name30, "clerks"), id);
    EXPECT_EQ(ErrorCode([&] { Sm().RenameGroup("clerks", C_AdministratorsGroup); }), 8580);
    EXPECT_EQ(ErrorCode([&] { Sm().RenameGroup("nope", "other"); }), 8579);
    EXPECT_EQ(ErrorCode([&] { Sm().RenameGroup(C_AdministratorsGroup, "bosses"); }), 10123);
    TStringList names;
    Sm().ListUserNames("clerks", &names);
    EXPECT_EQ(names.CommaText(), "al,ann");
    names.Clear();
    Sm().ListGroupNames(&names);
    EXPECT_EQ(names.CommaText(), "administrators,clerks");
    EXPECT_EQ(Sm().GetUserGroupName("ann"), "clerks");
    EXPECT_EQ(Sm().GetUserGroupName("nobody"), "");

    // "administrators" is never deleted, edited or emptied of its last member.
    EXPECT_EQ(ErrorCode([&] { Sm().DeleteGroup(C_AdministratorsGroup); }), 10124);
    EXPECT_EQ(ErrorCode([&] { Sm().RevokePrivileges(C_AdministratorsGroup); }), 10123);
    EXPECT_EQ(ErrorCode([&] { Sm().DeleteUser(C_AdministratorUser); }), 10124);
    EXPECT_EQ(ErrorCode([&] { Sm().ChangeGroup(C_AdministratorUser, "clerks"); }), 10123);
    Sm().ChangeGroup("al", C_AdministratorsGroup);
    Sm().ChangeGroup(C_AdministratorUser, "clerks");  // another member remains
    Sm().ChangeGroup(C_AdministratorUser, C_AdministratorsGroup);

    // Deleting a group takes its users and privileges with it.
    Grant("clerks", {{"ALL", opReadData, "ALL"}}, {spViewUsers});
    Db->StartTransaction();
    EXPECT_EQ(ErrorCode([&] { Sm().DeleteGroup("clerks"); }), 10122);
    Db->Rollback();
    EXPECT_TRUE(Sm().DeleteGroup("clerks"));
    EXPECT_FALSE(Db->InTransaction());
    EXPECT_EQ(ErrorCode([&] { Sm().DeleteGroup("clerks"); }), 8579);
    EXPECT_EQ(Sm().GetUserGroupName("ann"), "");
    for (const char* table : {"$SYSTBL_SECOBJPRIV", "$SYSTBL_SECSYSPRIV"}) {
        auto rows = Table(table);
        rows->Open();
        EXPECT_EQ(rows->RecordCount(), 0) << table;
    }
    Sm().DeleteUser("nobody");  // no error for a missing user
}

// A group deletion that fails anywhere leaves no transaction open and nothing half done.
TEST_F(SecurityTest, AFailedGroupDeletionIsRolledBackWhole) {
    ConnectAdmin();
    int failures = 0;
    for (int64_t n = 1;; ++n) {
        SCOPED_TRACE("write " + std::to_string(n));
        if (Sm().GetUserGroupName("ann").empty()) {
            Sm().AddGroup("clerks");
            Sm().AddUser("ann", "pw", "clerks");
            Grant("clerks", {{"ALL", opReadData, "ALL"}}, {spViewUsers});
        }
        platform::NthCallFault fault(platform::FileOps(platform::FileOp::Write), n, {ENOSPC, -1}, true, Dir.Path());
        bool failed = false;
        {
            platform::ScopedFileFaultInjector scope(fault);
            try {
                Sm().DeleteGroup("clerks");
            } catch (const std::exception&) {
                failed = true;
            }
        }
        EXPECT_FALSE(Db->InTransaction());
        // Either everything went or nothing did.
        const bool gone = Sm().GetUserGroupName("ann").empty();
        TPrivileges clerks;
        clerks.SetGroupName("clerks");
        if (gone) {
            EXPECT_EQ(ErrorCode([&] { Sm().GetPrivileges(doTable, "", clerks); }), 8579);
        } else {
            EXPECT_TRUE(failed);
            Sm().GetPrivileges(doTable, "", clerks);
            EXPECT_EQ(clerks.ObjectPrivileges()->Count(), 1);
            EXPECT_EQ(clerks.SystemPrivileges()->Count(), 1);
        }
        if (fault.Injected() == 0) break;
        failures += failed;
    }
    EXPECT_GT(failures, 0);
}

TEST_F(SecurityTest, PrivilegesAreStoredByIdentifierAndReadBackByName) {
    ConnectAdmin();
    CreateOrders();
    MakeClerk({{kOrders, opReadData, "id,name"},
               {kOrders, opUpdateData, "NAME,ID,PRICE"},
               {"*", opInsertData, ""}},
              {spViewGroups});
    TPrivileges clerks;
    clerks.SetGroupName("clerks");
    Sm().GetPrivileges(doTable, kOrders, clerks);
    ASSERT_EQ(clerks.ObjectPrivileges()->Count(), 2);
    std::map<TObjectPrivilegeType, std::string> fields;
    for (int i = 0; i < 2; ++i) {
        const TObjectPrivilege& p = *clerks.ObjectPrivileges()->GetItems(i);
        EXPECT_EQ(p.ObjectName(), kOrders);
        fields[p.PrivilegeType()] = p.Fields();
    }
    EXPECT_EQ(fields[opReadData], "ID,NAME");
    EXPECT_EQ(fields[opUpdateData], "ALL");  // every field named: stored as all fields
    EXPECT_EQ(clerks.SystemPrivileges()->Count(), 1);
    Sm().GetPrivileges(doTable, "ALL", clerks);
    EXPECT_EQ(clerks.ObjectPrivileges()->Count(), 3);
    EXPECT_EQ(ErrorCode([&] {
                  TPrivileges admins;
                  admins.SetGroupName("Administrators");
                  Sm().SetPrivileges(admins, true);
              }),
              10123);

    // The logged-on group's questions: one rule with the "ALL" fallback.
    ASSERT_TRUE(Sm().Logon("bob", "bobpw", "secure.orq"));
    EXPECT_TRUE(Sm().CheckIfLogonHasObjectPrivilege(doTable, kOrders, opReadData));
    EXPECT_FALSE(Sm().CheckIfLogonHasObjectPrivilege(doTable, kOrders, opInsertData))
        << "the group holds privileges on Orders itself";
    EXPECT_TRUE(Sm().CheckIfLogonHasObjectPrivilege(doTable, "", opInsertData));
    EXPECT_FALSE(Sm().CheckIfLogonHasObjectPrivilege(doTable, "", opReadData));
    EXPECT_TRUE(Sm().CheckIfLogonHasSystemPrivilege(spViewGroups));
    EXPECT_FALSE(Sm().CheckIfLogonHasSystemPrivilege(spEditUsers));
    // Without View users nor Edit users, listing and adding users are refused; own group is seen.
    TStringList names;
    EXPECT_EQ(ErrorCode([&] { Sm().ListUserNames("", &names); }), 10624);
    EXPECT_EQ(ErrorCode([&] { Sm().AddUser("eve", "pw", "clerks"); }), 10624);
    EXPECT_EQ(ErrorCode([&] { Sm().SetPrivileges(clerks, true); }), 10624);
    EXPECT_EQ(Sm().GetUserGroupName("bob"), "clerks");
    Sm().ListGroupNames(&names);
    EXPECT_EQ(names.Count(), 2);
}

// One privilege at a time against each guarded operation, through the table component and the
// database component.
TEST_F(SecurityTest, EachPrivilegeAllowsExactlyItsOperations) {
    ConnectAdmin();
    Sm().AddGroup("clerks");
    Sm().AddUser("bob", "bobpw", "clerks");
    Db->SetConnected(false);
    Db->SetExclusive(true);

    enum TOp { Open, Read, Insert, Update, Delete, Create, Drop, Alter };
    const char* opNames[] = {"open", "read", "insert", "update", "delete", "create", "drop", "alter"};
    // Runs Op as bob; true when allowed, false when refused: 10624, or the framework refusing an
    // edit of a table or field that the missing privileges made read-only.
    auto allowed = [&](TOp Op) {
        Connect("bob", "bobpw");
        bool ok = true;
        try {
            auto orders = Table(kOrders);
            switch (Op) {
                case Open: orders->Open(); break;
                case Read:
                    orders->Open();
                    ok = orders->FieldByName("NAME")->Visible() && orders->FieldByName("NAME")->AsString() == "first";
                    break;
                case Insert:  // a field without the update privilege is read-only: an empty row
                    orders->Open();
                    orders->Append();
                    orders->Post();
                    break;
                case Update:
                    orders->Open();
                    orders->Edit();
                    orders->FieldByName("PRICE")->SetAsInteger(11);
                    orders->Post();
                    break;
                case Delete:
                    orders->Open();
                    orders->Delete();
                    break;
                case Create: {
                    auto other = Table("Other");
                    other->FieldDefs().Add("X", ftInteger);
                    other->CreateTable();
                    break;
                }
                case Drop: Db->DeleteTable(kOrders, false); break;
                case Alter: Db->RenameTable(kOrders, "Orders2"); break;
            }
        } catch (const EOrqDatabaseError& E) {
            EXPECT_EQ(E.ErrorCode, 10624) << E.what();
            ok = false;
        } catch (const std::exception& E) {
            const std::string text = E.what();
            EXPECT_TRUE(text == "Cannot modify a read-only dataset" || text.find("cannot be modified") != std::string::npos)
                << text;
            ok = false;
        }
        Db->SetConnected(false);
        return ok;
    };
    // What each privilege allows, held with the open privilege on Orders (create: on every table).
    struct TCase {
        TObjectPrivilegeType Privilege;
        std::vector<TOp> Allows;
    };
    const std::vector<TCase> cases = {
        {opExecuteObj, {Open}},         {opReadData, {Open, Read}},     {opInsertData, {Open, Insert}},
        {opUpdateData, {Open, Update}}, {opDeleteData, {Open, Delete}}, {opDeleteObj, {Open, Drop}},
        {opAlterObj, {Open, Alter}},    {opCreateObj, {Create}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(C_ObjectPrivilegeStr[c.Privilege]);
        // A fresh Orders with its one row for every case (and a fresh identifier: granted anew).
        ConnectAdmin();
        TStringList names;
        Db->GetTableNames(&names, false);
        for (const char* name : {kOrders, "Orders2", "Other"})
            if (names.IndexOf(name) >= 0) Db->DeleteTable(name, false);
        CreateOrders();
        if (c.Privilege == opCreateObj)
            Grant("clerks", {{"ALL", opCreateObj, ""}});
        else
            Grant("clerks", {{kOrders, opExecuteObj, "ALL"}, {kOrders, c.Privilege, "ALL"}});
        Db->SetConnected(false);
        for (TOp op : {Open, Read, Insert, Update, Delete, Create, Alter, Drop}) {
            if (c.Privilege == opCreateObj && op != Create) continue;
            const bool expected = std::find(c.Allows.begin(), c.Allows.end(), op) != c.Allows.end();
            const bool done = allowed(op);
            EXPECT_EQ(done, expected) << opNames[op];
            if (done && (op == Alter || op == Drop)) break;  // Orders is gone under its name
        }
    }

    // Field-level: read on ID only hides NAME; update on NAME only leaves PRICE read-only.
    ConnectAdmin();
    Grant("clerks", {{kOrders, opExecuteObj, "ALL"}, {kOrders, opReadData, "ID"}, {kOrders, opUpdateData, "NAME"}});
    Db->SetConnected(false);
    Connect("bob", "bobpw");
    {
        auto orders = Table(kOrders);
        orders->Open();
        EXPECT_TRUE(orders->FieldByName("ID")->Visible());
        EXPECT_FALSE(orders->FieldByName("NAME")->Visible());
        EXPECT_FALSE(orders->FieldByName("NAME")->ReadOnly());
        EXPECT_TRUE(orders->FieldByName("PRICE")->ReadOnly());
        // Internal tables pass every check.
        auto users = Table("$SYSTBL_SECUSERS");
        users->Open();
        EXPECT_GT(users->RecordCount(), 0);
    }
    Db->SetConnected(false);

    // The "ALL" fallback: privileges on every table answer for a table the group holds nothing on.
    ConnectAdmin();
    Grant("clerks", {{"ALL", opExecuteObj, "ALL"}, {"ALL", opReadData, "ALL"}});
    Db->SetConnected(false);
    EXPECT_TRUE(allowed(Read));
    EXPECT_FALSE(allowed(Insert));
}

TEST_F(SecurityTest, UserTablesGetObjectIdentifiers) {
    ConnectAdmin();
    CreateOrders();
    EXPECT_EQ(Db->InternalGetObjectIDFromName(kOrders), 1);
    EXPECT_EQ(Db->InternalGetObjectNameFromID(1), kOrders);
    EXPECT_EQ(Db->InternalGetObjectIDFromName("ALL"), 0);
    EXPECT_EQ(Db->InternalGetObjectNameFromID(0), "ALL");
    Db->SetConnected(false);
    Db->SetExclusive(true);
    ConnectAdmin();
    Db->RenameTable(kOrders, "Sales");
    EXPECT_EQ(Db->InternalGetObjectIDFromName("Sales"), 1);
    EXPECT_EQ(Db->InternalGetObjectIDFromName(kOrders), 0);
    auto table = Table("Stock");
    table->FieldDefs().Add("X", ftInteger);
    table->CreateTable();
    EXPECT_EQ(Db->InternalGetObjectIDFromName("Stock"), 2);
    Db->DeleteTable("Sales", false);
    EXPECT_EQ(Db->InternalGetObjectNameFromID(1), "");
    // A table the identifiers do not know is no table of a secured database.
    EXPECT_EQ(ErrorCode([&] { Db->QueryObjectPrivilegeExists(doTable, "Ghost", 8); }), 8579);
}

// A restructure that copies the records builds a new table and swaps it in: the table keeps its
// identifier, so the privileges granted on it.
TEST_F(SecurityTest, ARestructureThatCopiesTheRecordsKeepsTheIdentifierAndThePrivileges) {
    ConnectAdmin();
    CreateOrders();
    MakeClerk({{kOrders, opReadData, "ID"}});
    Db->SetConnected(false);
    Db->SetExclusive(true);
    ConnectAdmin();
    const int32_t id = Db->InternalGetObjectIDFromName(kOrders);
    TRestructureRequest request;
    request.Field("ID", ftInteger, 0, "ID");
    request.Field("NAME", ftString, 20, "NAME");
    request.Field("PRICE", ftInteger, 0, "PRICE");
    request.Field("CITY", ftString, 12, "", dcAdded);
    request.Fields.SetChangeStatus(dcAdded);
    request.Index("PK", "ID", TIndexOptions{ixPrimary, ixUnique});
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(Db.get());
    cursor.SetTableName(kOrders);
    EXPECT_EQ(cursor.InternalRestructureTable(request.Record), 0);

    EXPECT_EQ(Db->InternalGetObjectIDFromName(kOrders), id);
    TPrivileges clerks;
    clerks.SetGroupName("clerks");
    Sm().GetPrivileges(doTable, kOrders, clerks);
    ASSERT_EQ(clerks.ObjectPrivileges()->Count(), 1);
    EXPECT_EQ(clerks.ObjectPrivileges()->GetItems(0)->PrivilegeType(), opReadData);
    auto orders = Table(kOrders);
    orders->Open();
    EXPECT_EQ(orders->FieldByName("NAME")->AsString(), "first");
    EXPECT_NE(orders->FindField("CITY"), nullptr);
}

TEST_F(SecurityTest, TheFileHoldsNoPlainPasswordOrKey) {
    ConnectAdmin();
    Sm().AddGroup("clerks");
    Sm().AddUser("bob", "a-very-plain-password", "clerks");
    Sm().ChangePassword(C_AdministratorUser, "another-plain-password");
    Db->SetConnected(false);
    const std::string bytes = test::ReadAll(Path());
    for (const char* secret : {"a-very-plain-password", "another-plain-password", kKey, "plinth"})
        EXPECT_EQ(bytes.find(secret), std::string::npos) << secret;
    // The digest is SHA-1's five words: "abc" gives A9993E36 4706816A BA3E2571 7850C26C 9CD0D89D.
    Connect(C_AdministratorUser, "another-plain-password");
    Sm().ChangePassword("bob", "abc");
    auto users = Table("$SYSTBL_SECUSERS");
    users->SetIndexName("ixUserName");
    users->Open();
    ASSERT_TRUE(users->FindKey({Variant("bob")}));
    const uint32_t expected[] = {0xA9993E36u, 0x4706816Au, 0xBA3E2571u, 0x7850C26Cu, 0x9CD0D89Du};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(users->FieldByName("Pwd" + std::to_string(i))->AsInteger(), int32_t(expected[i]));
}

TEST(MasterKeyTest, ATooShortOrTooLongKeySaysWhichLimit) {
    TOrqDataBase database(nullptr);
    const std::string shortText = ErrorText([&] { database.SetMasterKey("abc"); });
    const std::string longText = ErrorText([&] { database.SetMasterKey(std::string(101, 'k')); });
    EXPECT_EQ(ErrorCode([&] { database.SetMasterKey("abc"); }), 9602);
    EXPECT_NE(shortText.find("too short"), std::string::npos) << shortText;
    EXPECT_NE(longText.find("too long"), std::string::npos) << longText;
    database.SetMasterKey(std::string(100, 'k'));
    database.SetMasterKey("abcd");
    database.SetMasterKey("");
}

}  // namespace
}  // namespace ostra::componentstest
