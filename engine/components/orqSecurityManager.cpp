// orqSecurityManager: logon, users, groups and privileges over the security tables (see the
// header). Every lookup chooses its index itself and gives the table back in the order it found.
#include "engine/components/orqSecurityManager.h"

#include <algorithm>
#include <cstring>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataBaseScopes.h"
#include "engine/components/orqTable.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqErrors.h"
#include "host/Collation.h"
#include "host/DateTime.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "host/db/Field.h"

namespace ostra {

namespace {

// Index names of the security tables.
constexpr char ixGroupName[] = "ixGroupName";
constexpr char ixGroupID[] = "ixGroupID";
constexpr char ixUserName[] = "ixUserName";
constexpr char ixGroupUsers[] = "ixGroupUsers";
constexpr char ixGroupPriv[] = "ixGroupPriv";
constexpr const char* PwdFields[] = {"Pwd0", "Pwd1", "Pwd2", "Pwd3", "Pwd4"};

// The table in the order of Index for the life of the object; the order it had comes back after.
class TOrderScope {
public:
    TOrderScope(TOrqTable& Table, const std::string& Index) : FTable(Table), FSaved(Table.IndexName()) {
        if (FSaved != Index) FTable.SetIndexName(Index);
    }
    ~TOrderScope() {
        try {
            if (FTable.Active() && FTable.IndexName() != FSaved) FTable.SetIndexName(FSaved);
        } catch (...) {
        }
    }
    TOrderScope(const TOrderScope&) = delete;
    TOrderScope& operator=(const TOrderScope&) = delete;

private:
    TOrqTable& FTable;
    std::string FSaved;
};

// A range on the current index for the life of the object.
class TRangeScope {
public:
    TRangeScope(TOrqTable& Table, const std::vector<Variant>& Key) : FTable(Table) { FTable.SetRange(Key, Key); }
    ~TRangeScope() {
        try {
            if (FTable.Active()) FTable.CancelRange();
        } catch (...) {
        }
    }
    TRangeScope(const TRangeScope&) = delete;
    TRangeScope& operator=(const TRangeScope&) = delete;

private:
    TOrqTable& FTable;
};

TField& F(TOrqTable& Table, const char* Name) { return *Table.FieldByName(Name); }

// The field identifiers of the object-privilege row: the short column, else the long one.
std::string FieldList(TOrqTable& Table) {
    TField& shortList = F(Table, "FieldsShort");
    return !shortList.IsNull() ? shortList.AsString() : F(Table, "FieldsLong").AsString();
}

// Fills the record the table is editing or inserting and posts it; a failure cancels the change.
void PostOrCancel(TOrqTable& Table, const std::function<void()>& Fill) {
    try {
        Fill();
        Table.Post();
    } catch (...) {
        Table.Cancel();
        throw;
    }
}

// A user or group name: MinLength to 30 characters, else 9605.
void ValidateName(const std::string& Name, int32_t MinLength, const char* Caller) {
    if (int(Name.size()) < MinLength || int(Name.size()) > C_MaxSecurityNameLength)
        OrqDatabaseErrorFmt(9605, Caller, SorqStringInvalidFmt, {Name, MinLength, C_MaxSecurityNameLength}, nullptr);
}

// The table positioned on the row of Name in the order of Index; false when none.
bool FindName(TOrqTable& Table, const char* Index, const std::string& Name) {
    if (Name.empty() || int(Name.size()) > C_MaxSecurityNameLength) return false;
    TOrderScope order(Table, Index);
    return Table.FindKey({Variant(Name)});
}

// The privilege-type order of every object privilege a group can hold.
constexpr TObjectPrivilegeType AllObjectPrivilegeTypes[] = {opCreateObj,  opDeleteObj,  opExecuteObj, opAlterObj,
                                                            opInsertData, opDeleteData, opReadData,   opUpdateData};
constexpr TSystemPrivilegeType AllSystemPrivilegeTypes[] = {spViewUsers, spEditUsers, spViewGroups, spEditGroups};

// An object name meaning every table.
bool MeansAllObjects(const std::string& Name) { return Name.empty() || Name == "*" || Name == C_AllObjectsName; }

}  // namespace

TSecurityManager::TSecurityManager() : FLogonPrivileges(std::make_unique<TInternalPrivileges>()) {}

TSecurityManager::~TSecurityManager() { Close(); }

// ---------------------------------------------------------------------------------------------
// Lifecycle and logon

void TSecurityManager::Open(TOrqDataBase* Database, TOrqTable* UsersTable, TOrqTable* ObjectIDTable,
                            TOrqTable* SysPrivTable, TOrqTable* ObjPrivTable, TOrqTable* GroupsTable) {
    FDatabase = Database;
    FUsersTable = UsersTable;
    FObjectIDTable = ObjectIDTable;
    FSysPrivTable = SysPrivTable;
    FObjPrivTable = ObjPrivTable;
    FGroupsTable = GroupsTable;
    FActive = true;
}

void TSecurityManager::Close() {
    Logoff();
    FActive = false;
    FDatabase = nullptr;
    FUsersTable = FObjectIDTable = FSysPrivTable = FObjPrivTable = FGroupsTable = nullptr;
}

void TSecurityManager::CheckIsOpen(const char* Caller) const {
    if (!FActive) OrqDatabaseError(8581, Caller, "The security manager is not active", nullptr);
}

void TSecurityManager::CheckAccess(int32_t Bit, const char* Caller) {
    CheckIsOpen(Caller);
    if (IsAdministrator()) return;
    if ((FLogonPrivileges->SysPrivs()->PrivilegeMask() & Bit) == 0) OrqDatabaseError(10624, Caller, "", nullptr);
}

bool TSecurityManager::Logon(const std::string& UserName, const std::string& Password,
                             const std::string& DataBaseName) {
    static constexpr const char* Caller = "TSecurityManager.Logon";
    CheckIsOpen(Caller);
    if (!FUsersTable || !FGroupsTable) OrqDatabaseError(8581, Caller, "The security tables are not open", nullptr);
    Logoff();
    if (!FindUser(UserName)) {
        // The first logon of a new secured database makes its administrator; the password given
        // is not tested on this path.
        if (UserName != C_AdministratorUser || FindGroup(C_AdministratorsGroup))
            OrqDatabaseError(10036, Caller, "", nullptr);
        InternalAddGroup(C_AdministratorsGroup);
        InternalAddUser(C_AdministratorUser, C_DefaultAdministratorPassword, C_AdministratorsGroup);
        if (!FindUser(UserName)) OrqDatabaseError(10036, Caller, "", nullptr);
    } else if (!VerifyPassword(Password)) {
        OrqDatabaseError(10036, Caller, "", nullptr);
    }
    if (UserName != C_AdministratorUser && FPasswordExpiryPeriod >= 1 &&
        F(*FUsersTable, "DateLastPWordChange").AsDateTime() + FPasswordExpiryPeriod < Now())
        OrqDatabaseError(10036, Caller, SorqPWordExpired, nullptr);
    const std::string name = F(*FUsersTable, "UserName").AsString();
    const int32_t groupID = F(*FUsersTable, "GroupID").AsInteger();
    FGroupName = GetGroupNameFromID(groupID);
    FGroupID = groupID;
    FUserName = name;
    FDataBaseName = DataBaseName;
    FLoggedOn = true;
    InternalSetLogonPrivileges();
    return true;
}

void TSecurityManager::Logoff() {
    FUserName.clear();
    FLoggedOn = false;
    FLogonPrivileges->Clear();
    FLogonPrivileges->ObjPrivs()->SetTablePrivilegeMask(0);
    FLogonPrivileges->SysPrivs()->SetPrivilegeMask(0);
}

void TSecurityManager::InternalSetLogonPrivileges() {
    FLogonPrivileges->Clear();
    if (!IsAdministrator()) {
        {
            TOrderScope order(*FObjPrivTable, ixGroupPriv);
            TRangeScope range(*FObjPrivTable, {Variant(FGroupID)});
            for (FObjPrivTable->First(); !FObjPrivTable->Eof(); FObjPrivTable->Next()) {
                TInternalObjPriv& entry = *FLogonPrivileges->ObjPrivs()->Add();
                entry.SetObjectType(F(*FObjPrivTable, "ObjectType").AsInteger());
                entry.SetObjectID(F(*FObjPrivTable, "ObjectID").AsInteger());
                entry.SetPrivilegeID(F(*FObjPrivTable, "PrivilegeID").AsInteger());
                entry.SetGrantOption(F(*FObjPrivTable, "GrantOption").AsBoolean());
                const bool all = F(*FObjPrivTable, "ALL").AsBoolean();
                entry.SetFields(all, all ? std::string() : FieldList(*FObjPrivTable));
            }
        }
        TOrderScope order(*FSysPrivTable, ixGroupPriv);
        TRangeScope range(*FSysPrivTable, {Variant(FGroupID)});
        for (FSysPrivTable->First(); !FSysPrivTable->Eof(); FSysPrivTable->Next()) {
            TInternalSysPriv& entry = *FLogonPrivileges->SysPrivs()->Add();
            entry.SetPrivilegeID(F(*FSysPrivTable, "PrivilegeID").AsInteger());
            entry.SetGrantOption(F(*FSysPrivTable, "GrantOption").AsBoolean());
        }
    }
    FLogonPrivileges->ObjPrivs()->SetMasks();
    FLogonPrivileges->SysPrivs()->SetMask();
}

// ---------------------------------------------------------------------------------------------
// Privilege questions

bool TSecurityManager::CheckIfLogonHasSystemPrivilege(TSystemPrivilegeType PrivilegeType) {
    CheckIsOpen("TSecurityManager.CheckIfLogonHasSystemPrivilege");
    if (IsAdministrator()) return true;
    const int32_t bit = MapSystemPrivTypeToConst(PrivilegeType);
    return bit != 0 && (FLogonPrivileges->SysPrivs()->PrivilegeMask() & bit) != 0;
}

bool TSecurityManager::CheckIfLogonHasObjectPrivilege(TDatabaseObjectType, const std::string& ObjectName,
                                                      TObjectPrivilegeType PrivilegeType) {
    CheckIsOpen("TSecurityManager.CheckIfLogonHasObjectPrivilege");
    if (IsAdministrator()) return true;
    const int32_t id = MeansAllObjects(ObjectName) ? 0 : GetObjectIDFromName(ObjectName);
    const int32_t bit = MapObjectPrivTypeToConst(PrivilegeType);
    const TInternalObjPrivs& privileges = *FLogonPrivileges->ObjPrivs();
    if (privileges.CheckPrivilegeExists(id, bit)) return true;
    // What the group holds on all tables answers only where it holds nothing on this one: the
    // rule opening a table follows.
    if (id == 0) return false;
    for (int i = 0; i < privileges.Count(); ++i)
        if (privileges.GetItems(i)->ObjectID() == id) return false;
    return privileges.CheckPrivilegeExists(0, bit);
}

int32_t TSecurityManager::GetObjectIDFromName(const std::string& Name) {
    CheckIsOpen("TSecurityManager.GetObjectIDFromName");
    return FDatabase->InternalGetObjectIDFromName(Name);
}

std::string TSecurityManager::GetObjectNameFromID(int32_t ID) {
    CheckIsOpen("TSecurityManager.GetObjectNameFromID");
    return FDatabase->InternalGetObjectNameFromID(ID);
}

// ---------------------------------------------------------------------------------------------
// Groups

void TSecurityManager::ValidateGroupName(const std::string& Name) const {
    ValidateName(Name, FMinimumGroupNameLength, "TSecurityManager.ValidateGroupName");
}

bool TSecurityManager::FindGroup(const std::string& GroupName) { return FindName(*FGroupsTable, ixGroupName, GroupName); }

int32_t TSecurityManager::RequireGroupID(const std::string& GroupName, const char* Caller) {
    if (!FindGroup(GroupName)) OrqDatabaseError(8579, Caller, GroupName, nullptr);
    return F(*FGroupsTable, "GroupID").AsInteger();
}

int32_t TSecurityManager::AddGroup(const std::string& GroupName) {
    CheckAccess(MapSystemPrivTypeToConst(spEditGroups), "TSecurityManager.AddGroup");
    return InternalAddGroup(GroupName);
}

int32_t TSecurityManager::InternalAddGroup(const std::string& GroupName) {
    ValidateGroupName(GroupName);
    if (FindGroup(GroupName)) OrqDatabaseError(8580, "TSecurityManager.AddGroup", GroupName, nullptr);
    FGroupsTable->Append();
    PostOrCancel(*FGroupsTable, [&] {
        F(*FGroupsTable, "GroupName").SetAsString(GroupName);
    });
    return RequireGroupID(GroupName, "TSecurityManager.AddGroup");
}

int32_t TSecurityManager::RenameGroup(const std::string& OldName, const std::string& NewName) {
    static constexpr const char* Caller = "TSecurityManager.RenameGroup";
    CheckAccess(MapSystemPrivTypeToConst(spEditGroups), Caller);
    ValidateGroupName(NewName);
    // Another spelling of the group's own name is no clash.
    if (!AnsiSameText(OldName, NewName) && FindGroup(NewName)) OrqDatabaseError(8580, Caller, NewName, nullptr);
    const int32_t id = RequireGroupID(OldName, Caller);
    // The group that holds every privilege keeps its name: a rename would make it ordinary.
    if (AnsiSameText(OldName, C_AdministratorsGroup)) OrqDatabaseError(10123, Caller, C_AdministratorsGroup, nullptr);
    FGroupsTable->Edit();
    PostOrCancel(*FGroupsTable, [&] {
        F(*FGroupsTable, "GroupName").SetAsString(NewName);
    });
    return id;
}

void TSecurityManager::DeleteRange(TOrqTable& Table, const std::vector<Variant>& Key) {
    TRangeScope range(Table, Key);
    Table.First();
    while (!Table.Eof()) Table.Delete();
}

bool TSecurityManager::DeleteGroup(const std::string& GroupName) {
    static constexpr const char* Caller = "TSecurityManager.DeleteGroup";
    CheckAccess(MapSystemPrivTypeToConst(spEditGroups), Caller);
    if (AnsiSameText(GroupName, C_AdministratorsGroup)) OrqDatabaseError(10124, Caller, C_AdministratorsGroup, nullptr);
    const int32_t id = RequireGroupID(GroupName, Caller);
    if (FDatabase->InTransaction()) OrqDatabaseError(10122, Caller, "", nullptr);
    InTransaction([&] {
        if (!FindGroup(GroupName)) OrqDatabaseError(8579, Caller, GroupName, nullptr);
        FGroupsTable->Delete();
        {
            TOrderScope order(*FObjPrivTable, ixGroupPriv);
            DeleteRange(*FObjPrivTable, {Variant(id)});
        }
        {
            TOrderScope order(*FSysPrivTable, ixGroupPriv);
            DeleteRange(*FSysPrivTable, {Variant(id)});
        }
        TOrderScope order(*FUsersTable, ixGroupUsers);
        DeleteRange(*FUsersTable, {Variant(id)});
    });
    return true;
}

void TSecurityManager::InTransaction(const std::function<void()>& Change) {
    if (FDatabase->InTransaction()) {
        Change();
        return;
    }
    FDatabase->StartTransaction();
    try {
        Change();
    } catch (...) {
        try {
            FDatabase->Rollback();
        } catch (...) {
            LogCurrentFailure("TSecurityManager.InTransaction");
        }
        throw;
    }
    // A commit that fails has rolled back itself.
    FDatabase->Commit();
}

void TSecurityManager::ListGroupNames(TStrings* List) {
    CheckAccess(MapSystemPrivTypeToConst(spViewGroups), "TSecurityManager.ListGroupNames");
    TOrderScope order(*FGroupsTable, ixGroupName);
    for (FGroupsTable->First(); !FGroupsTable->Eof(); FGroupsTable->Next())
        List->Add(F(*FGroupsTable, "GroupName").AsString());
}

int32_t TSecurityManager::GetGroupIDFromName(const std::string& Name) {
    CheckIsOpen("TSecurityManager.GetGroupIDFromName");
    return RequireGroupID(Name, "TSecurityManager.GetGroupIDFromName");
}

std::string TSecurityManager::GetGroupNameFromID(int32_t ID) {
    static constexpr const char* Caller = "TSecurityManager.GetGroupNameFromID";
    CheckIsOpen(Caller);
    TOrderScope order(*FGroupsTable, ixGroupID);
    if (!FGroupsTable->FindKey({Variant(ID)})) OrqDatabaseError(8579, Caller, std::to_string(ID), nullptr);
    return F(*FGroupsTable, "GroupName").AsString();
}

// ---------------------------------------------------------------------------------------------
// Users

void TSecurityManager::ValidateUserName(const std::string& Name) const {
    ValidateName(Name, FMinimumUserNameLength, "TSecurityManager.ValidateUserName");
}

bool TSecurityManager::FindUser(const std::string& UserName) { return FindName(*FUsersTable, ixUserName, UserName); }

std::vector<int32_t> TSecurityManager::PasswordDigest(const std::string& Password) {
    TSha1Stream sha;
    sha.Write(Password.data(), int64_t(Password.size()));
    uint8_t digest[OrqSha1DigestSize];
    sha.GetDigest(digest);
    // GetDigest writes each state word least significant byte first.
    std::vector<int32_t> words(5);
    for (int i = 0; i < 5; ++i) {
        uint32_t word = 0;
        for (int b = 3; b >= 0; --b) word = (word << 8) | digest[4 * i + b];
        words[i] = int32_t(word);
    }
    return words;
}

bool TSecurityManager::VerifyPassword(const std::string& Password) {
    const std::vector<int32_t> words = PasswordDigest(Password);
    for (int i = 0; i < 5; ++i)
        if (F(*FUsersTable, PwdFields[i]).AsInteger() != words[i]) return false;
    return true;
}

void TSecurityManager::SetUserPasswordFields(const std::string& Password) {
    const std::vector<int32_t> words = PasswordDigest(Password);
    for (int i = 0; i < 5; ++i) F(*FUsersTable, PwdFields[i]).SetAsInteger(words[i]);
}

void TSecurityManager::AddUser(const std::string& UserName, const std::string& Password,
                               const std::string& GroupName) {
    CheckAccess(MapSystemPrivTypeToConst(spEditUsers), "TSecurityManager.AddUser");
    InternalAddUser(UserName, Password, GroupName);
}

void TSecurityManager::InternalAddUser(const std::string& UserName, const std::string& Password,
                                       const std::string& GroupName) {
    static constexpr const char* Caller = "TSecurityManager.AddUser";
    ValidateUserName(UserName);
    if (FindUser(UserName)) OrqDatabaseError(8580, Caller, UserName, nullptr);
    const int32_t groupID = RequireGroupID(GroupName, Caller);
    FUsersTable->Append();
    PostOrCancel(*FUsersTable, [&] {
        const TDateTime now = Now();
        F(*FUsersTable, "UserName").SetAsString(UserName);
        F(*FUsersTable, "GroupID").SetAsInteger(groupID);
        SetUserPasswordFields(Password);
        F(*FUsersTable, "DateCreated").SetAsDateTime(now);
        F(*FUsersTable, "DateLastModified").SetAsDateTime(now);
        F(*FUsersTable, "DateLastPWordChange").SetAsDateTime(now);
    });
}

void TSecurityManager::DeleteUser(const std::string& UserName) {
    static constexpr const char* Caller = "TSecurityManager.DeleteUser";
    CheckAccess(MapSystemPrivTypeToConst(spEditUsers), Caller);
    if (IsLastAdministrator(UserName)) OrqDatabaseError(10124, Caller, C_AdministratorsGroup, nullptr);
    if (FindUser(UserName)) FUsersTable->Delete();
}

void TSecurityManager::ChangeGroup(const std::string& UserName, const std::string& GroupName) {
    static constexpr const char* Caller = "TSecurityManager.ChangeGroup";
    CheckAccess(MapSystemPrivTypeToConst(spEditGroups), Caller);
    const int32_t groupID = RequireGroupID(GroupName, Caller);
    if (!FindUser(UserName)) OrqDatabaseError(8579, Caller, UserName, nullptr);
    if (!AnsiSameText(GroupName, C_AdministratorsGroup) && IsLastAdministrator(UserName))
        OrqDatabaseError(10123, Caller, C_AdministratorsGroup, nullptr);
    if (!FindUser(UserName)) OrqDatabaseError(8579, Caller, UserName, nullptr);
    FUsersTable->Edit();
    PostOrCancel(*FUsersTable, [&] {
        F(*FUsersTable, "GroupID").SetAsInteger(groupID);
        F(*FUsersTable, "DateLastModified").SetAsDateTime(Now());
    });
}

void TSecurityManager::ChangePassword(const std::string& UserName, const std::string& NewPassword) {
    static constexpr const char* Caller = "TSecurityManager.ChangePassword";
    CheckIsOpen(Caller);
    if (!(FLoggedOn && AnsiSameText(UserName, FUserName))) CheckAccess(MapSystemPrivTypeToConst(spEditUsers), Caller);
    if (!FindUser(UserName)) OrqDatabaseError(8579, Caller, UserName, nullptr);
    FUsersTable->Edit();
    PostOrCancel(*FUsersTable, [&] {
        const TDateTime now = Now();
        SetUserPasswordFields(NewPassword);
        F(*FUsersTable, "DateLastModified").SetAsDateTime(now);
        F(*FUsersTable, "DateLastPWordChange").SetAsDateTime(now);
    });
}

void TSecurityManager::ListUserNames(const std::string& GroupName, TStrings* List) {
    static constexpr const char* Caller = "TSecurityManager.ListUserNames";
    CheckAccess(MapSystemPrivTypeToConst(spViewUsers), Caller);
    if (GroupName.empty()) {
        TOrderScope order(*FUsersTable, ixUserName);
        for (FUsersTable->First(); !FUsersTable->Eof(); FUsersTable->Next())
            List->Add(F(*FUsersTable, "UserName").AsString());
        return;
    }
    const int32_t id = RequireGroupID(GroupName, Caller);
    TOrderScope order(*FUsersTable, ixGroupUsers);
    TRangeScope range(*FUsersTable, {Variant(id)});
    for (FUsersTable->First(); !FUsersTable->Eof(); FUsersTable->Next())
        List->Add(F(*FUsersTable, "UserName").AsString());
}

bool TSecurityManager::IsLastAdministrator(const std::string& UserName) {
    if (!FindUser(UserName) || !FindGroup(C_AdministratorsGroup)) return false;
    const int32_t adminsID = F(*FGroupsTable, "GroupID").AsInteger();
    if (F(*FUsersTable, "GroupID").AsInteger() != adminsID) return false;
    TOrderScope order(*FUsersTable, ixGroupUsers);
    TRangeScope range(*FUsersTable, {Variant(adminsID)});
    FUsersTable->First();
    FUsersTable->Next();
    return FUsersTable->Eof();
}

std::string TSecurityManager::GetUserGroupName(const std::string& UserName) {
    static constexpr const char* Caller = "TSecurityManager.GetUserGroupName";
    CheckIsOpen(Caller);
    if (!(FLoggedOn && AnsiSameText(UserName, FUserName))) CheckAccess(MapSystemPrivTypeToConst(spViewGroups), Caller);
    if (!FindUser(UserName)) return "";
    return GetGroupNameFromID(F(*FUsersTable, "GroupID").AsInteger());
}

// ---------------------------------------------------------------------------------------------
// Privileges of a group

void TSecurityManager::GetPrivileges(TDatabaseObjectType, const std::string& ObjectName, TPrivileges& Privileges) {
    static constexpr const char* Caller = "TSecurityManager.GetPrivileges";
    CheckIsOpen(Caller);
    const std::string& group = Privileges.GroupName();
    if (!AnsiSameText(group, FGroupName)) CheckAccess(MapSystemPrivTypeToConst(spViewGroups), Caller);
    const std::string name = MeansAllObjects(ObjectName) ? std::string(C_AllObjectsName) : ObjectName;
    Privileges.ClearPrivileges();
    if (AnsiSameText(group, C_AdministratorsGroup)) {
        for (TObjectPrivilegeType type : AllObjectPrivilegeTypes) {
            TObjectPrivilege& privilege = *Privileges.ObjectPrivileges()->Add();
            privilege.SetObjectType(doTable);
            privilege.SetObjectName(name);
            privilege.SetPrivilegeType(type);
            privilege.SetFields(C_AllObjectsName);
        }
        for (TSystemPrivilegeType type : AllSystemPrivilegeTypes)
            Privileges.SystemPrivileges()->Add()->SetPrivilegeType(type);
        return;
    }
    const int32_t groupID = RequireGroupID(group, Caller);
    const bool all = name == C_AllObjectsName;
    std::vector<Variant> key = {Variant(groupID), Variant(C_StoredTableObjectType)};
    if (!all) key.push_back(Variant(GetObjectIDFromName(name)));
    // The rows are read first: naming them reads other tables.
    struct TRow {
        int32_t ObjectID, PrivilegeID;
        bool AllFields;
        std::string Fields;
    };
    std::vector<TRow> rows;
    {
        TOrderScope order(*FObjPrivTable, ixGroupPriv);
        TRangeScope range(*FObjPrivTable, key);
        for (FObjPrivTable->First(); !FObjPrivTable->Eof(); FObjPrivTable->Next()) {
            const bool all = F(*FObjPrivTable, "ALL").AsBoolean();
            rows.push_back({F(*FObjPrivTable, "ObjectID").AsInteger(), F(*FObjPrivTable, "PrivilegeID").AsInteger(), all,
                            all ? std::string() : FieldList(*FObjPrivTable)});
        }
    }
    for (const TRow& row : rows) {
        TObjectPrivilege& privilege = *Privileges.ObjectPrivileges()->Add();
        privilege.SetObjectType(doTable);
        const std::string objectName = GetObjectNameFromID(row.ObjectID);
        privilege.SetObjectName(objectName);
        privilege.SetPrivilegeType(MapObjectPrivConstToType(row.PrivilegeID));
        if (row.AllFields || row.ObjectID == 0 || objectName.empty()) {
            privilege.SetFields(C_AllObjectsName);
            continue;
        }
        // The listed identifiers of fields the table still has, by name.
        std::vector<TFieldIDEntry> fields;
        ReadTableDefValues(objectName, &fields);
        TStringList ids;
        ids.SetCommaText(row.Fields);
        std::string names;
        for (const TFieldIDEntry& field : fields)
            if (ids.IndexOf(std::to_string(field.ID)) >= 0) names += (names.empty() ? "" : ",") + field.Name;
        privilege.SetFields(names);
    }
    TOrderScope order(*FSysPrivTable, ixGroupPriv);
    TRangeScope range(*FSysPrivTable, {Variant(groupID)});
    for (FSysPrivTable->First(); !FSysPrivTable->Eof(); FSysPrivTable->Next())
        Privileges.SystemPrivileges()->Add()->SetPrivilegeType(
            MapSystemPrivConstToType(F(*FSysPrivTable, "PrivilegeID").AsInteger()));
}

void TSecurityManager::SetPrivileges(const TPrivileges& Privileges, bool Replace) {
    static constexpr const char* Caller = "TSecurityManager.SetPrivileges";
    CheckIsOpen(Caller);
    if (!AnsiSameText(FGroupName, C_AdministratorsGroup)) OrqDatabaseError(10624, Caller, "", nullptr);
    if (AnsiSameText(Privileges.GroupName(), C_AdministratorsGroup))
        OrqDatabaseError(10123, Caller, C_AdministratorsGroup, nullptr);
    InTransaction([&] {
        InternalSetObjectPrivileges(Privileges.GroupName(), *Privileges.ObjectPrivileges(), Replace);
        InternalSetSystemPrivileges(Privileges.GroupName(), *Privileges.SystemPrivileges(), Replace);
    });
}

void TSecurityManager::RevokePrivileges(const std::string& GroupName) {
    TPrivileges none;
    none.SetGroupName(GroupName);
    CheckIsOpen("TSecurityManager.RevokePrivileges");
    if (!AnsiSameText(FGroupName, C_AdministratorsGroup))
        OrqDatabaseError(10624, "TSecurityManager.RevokePrivileges", "", nullptr);
    if (AnsiSameText(GroupName, C_AdministratorsGroup))
        OrqDatabaseError(10123, "TSecurityManager.RevokePrivileges", C_AdministratorsGroup, nullptr);
    SetPrivileges(none, true);
}

void TSecurityManager::InternalSetObjectPrivileges(const std::string& GroupName, const TObjectPrivileges& List,
                                                   bool Replace) {
    static constexpr const char* Caller = "TSecurityManager.InternalSetObjectPrivileges";
    const int32_t groupID = RequireGroupID(GroupName, Caller);
    InTransaction([&] {
        TOrderScope order(*FObjPrivTable, ixGroupPriv);
        if (Replace) DeleteRange(*FObjPrivTable, {Variant(groupID), Variant(C_StoredTableObjectType)});
        const int shortSize = F(*FObjPrivTable, "FieldsShort").Size();
        for (int i = 0; i < List.Count(); ++i) {
            const TObjectPrivilege& entry = *List.GetItems(i);
            const int32_t bit = MapObjectPrivTypeToConst(entry.PrivilegeType());
            const int32_t objectID = MeansAllObjects(entry.ObjectName()) ? 0 : GetObjectIDFromName(entry.ObjectName());
            bool allFields = true;
            std::string fields;
            const bool fieldLimited = (entry.PrivilegeType() == opReadData || entry.PrivilegeType() == opUpdateData) &&
                                      objectID != 0 && entry.Fields() != C_AllObjectsName && entry.Fields() != "*" &&
                                      !entry.Fields().empty();
            if (fieldLimited) {
                std::vector<TFieldIDEntry> tableFields;
                ReadTableDefValues(entry.ObjectName(), &tableFields);
                fields = entry.Fields();
                ConvertFieldNamesToFieldIDList(tableFields, fields, allFields);
            }
            const std::vector<Variant> key = {Variant(groupID), Variant(C_StoredTableObjectType), Variant(objectID),
                                              Variant(bit)};
            if (FObjPrivTable->FindKey(key)) {
                FObjPrivTable->Edit();
            } else {
                FObjPrivTable->Append();
                F(*FObjPrivTable, "GroupID").SetAsInteger(groupID);
                F(*FObjPrivTable, "ObjectType").SetAsInteger(C_StoredTableObjectType);
                F(*FObjPrivTable, "ObjectID").SetAsInteger(objectID);
                F(*FObjPrivTable, "PrivilegeID").SetAsInteger(bit);
            }
            PostOrCancel(*FObjPrivTable, [&] {
                F(*FObjPrivTable, "ALL").SetAsBoolean(allFields);
                F(*FObjPrivTable, "GrantOption").SetAsBoolean(false);
                F(*FObjPrivTable, "FieldsShort").Clear();
                // A list too long for the short column goes to the long one (whose value the
                // table component reaches as a blob field).
                if (!allFields) {
                    if (int(fields.size()) < shortSize)
                        F(*FObjPrivTable, "FieldsShort").SetAsString(fields);
                    else
                        F(*FObjPrivTable, "FieldsLong").SetAsString(fields);
                }
            });
        }
    });
}

void TSecurityManager::InternalSetSystemPrivileges(const std::string& GroupName, const TSystemPrivileges& List,
                                                   bool Replace) {
    const int32_t groupID = RequireGroupID(GroupName, "TSecurityManager.InternalSetSystemPrivileges");
    InTransaction([&] {
        TOrderScope order(*FSysPrivTable, ixGroupPriv);
        if (Replace) DeleteRange(*FSysPrivTable, {Variant(groupID)});
        for (int i = 0; i < List.Count(); ++i) {
            const int32_t bit = MapSystemPrivTypeToConst(List.GetItems(i)->PrivilegeType());
            if (FSysPrivTable->FindKey({Variant(groupID), Variant(bit)})) {
                FSysPrivTable->Edit();
            } else {
                FSysPrivTable->Append();
                F(*FSysPrivTable, "GroupID").SetAsInteger(groupID);
                F(*FSysPrivTable, "PrivilegeID").SetAsInteger(bit);
            }
            PostOrCancel(*FSysPrivTable, [&] {
                F(*FSysPrivTable, "GrantOption").SetAsBoolean(false);
            });
        }
    });
}

int32_t TSecurityManager::ReadTableDefValues(const std::string& TableName, std::vector<TFieldIDEntry>* List) {
    return FDatabase->ReadTableFieldIDs(TableName, List);
}

void TSecurityManager::ConvertFieldNamesToFieldIDList(const std::vector<TFieldIDEntry>& List, std::string& Fields,
                                                      bool& AllFields) {
    TStringList names;
    names.SetCommaText(Fields);
    std::vector<int32_t> found;
    for (const TFieldIDEntry& field : List)
        for (int i = 0; i < names.Count(); ++i)
            if (AnsiSameText(Trim(names.Strings(i)), field.Name)) {
                found.push_back(field.ID);
                break;
            }
    AllFields = !List.empty() && found.size() == List.size();
    if (AllFields) {
        Fields = C_AllObjectsName;
        return;
    }
    Fields.clear();
    for (int32_t id : found) Fields += (Fields.empty() ? "" : ",") + std::to_string(id);
}

}  // namespace ostra
