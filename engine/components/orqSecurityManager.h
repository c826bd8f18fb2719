// orqSecurityManager: TSecurityManager, the users, groups and privileges of a secured database.
//
// A database component owns one manager. When a secured database connects, the component opens
// the five tables the manager works on as table components (groups, users, object privileges,
// system privileges, object identifiers) and hands them to Open; the manager then logs users on
// and off, keeps the logged-on user's group and stored privileges, maintains users, groups and
// privileges, and answers privilege questions. It never owns the tables.
//
// Passwords are stored only as SHA-1 digests: the password's 8-bit characters, unsalted, hashed,
// and the digest's five big-endian 32-bit words kept as signed integers in Pwd0..Pwd4.
//
// The group "administrators" holds every privilege without any row; it cannot be edited or
// deleted. The user "administrator" (exactly so spelled) is created with the default password
// "plinth" on the first logon of a database that has no "administrators" group yet.
//
// Access rule of the maintenance operations: a logged-on group named exactly "administrators"
// may do everything; any other group needs a system privilege bit (orqPrivileges.h) in its
// loaded privileges, else 10624:
//   AddGroup, RenameGroup, DeleteGroup, ChangeGroup   Edit groups (16)
//   AddUser, DeleteUser                               Edit users (2)
//   ChangePassword                                    Edit users, unless for the own user
//   ListUserNames                                     View users (1)
//   ListGroupNames                                    View groups (8)
//   GetUserGroupName                                  View groups, unless for the own user
//   GetPrivileges                                     View groups, unless for the own group
//   SetPrivileges, RevokePrivileges                   membership of "administrators"
// Every operation but the settings needs an open manager (8581 "The security manager is not
// active"). Privileges loaded at logon stay as loaded until the next logon.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/orqPrivileges.h"
#include "host/Object.h"
#include "host/Variant.h"

namespace ostra {

class TOrqDataBase;
class TOrqTable;
class TStrings;

// The group that holds every privilege and its first user, created with the default password.
inline constexpr char C_AdministratorsGroup[] = "administrators";
inline constexpr char C_AdministratorUser[] = "administrator";
inline constexpr char C_DefaultAdministratorPassword[] = "plinth";
// The longest user and group name.
inline constexpr int C_MaxSecurityNameLength = 30;

// A field of a table with its identifier (the field list of ReadTableDefValues).
struct TFieldIDEntry {
    std::string Name;  // upper case
    int32_t ID = 0;
};

class TSecurityManager : public TObject {
public:
    TSecurityManager();
    ~TSecurityManager() override;
    TSecurityManager(const TSecurityManager&) = delete;
    TSecurityManager& operator=(const TSecurityManager&) = delete;

    // ---- Lifecycle
    // Stores the database and the tables (not owned) and becomes active.
    void Open(TOrqDataBase* Database, TOrqTable* UsersTable, TOrqTable* ObjectIDTable, TOrqTable* SysPrivTable,
              TOrqTable* ObjPrivTable, TOrqTable* GroupsTable);
    // Logs off, becomes inactive and forgets the database and tables.
    void Close();
    bool Active() const { return FActive; }
    // Logs UserName on (see the file comment for the first logon). A user that does not exist or
    // a wrong password: 10036; an expired password (not for "administrator"): 10036 with "The
    // password has expired". Loads the group's stored privileges. True.
    bool Logon(const std::string& UserName, const std::string& Password, const std::string& DataBaseName);
    // Clears the user, the logged-on flag and the loaded privileges (the group stays known).
    void Logoff();
    bool LoggedOn() const { return FLoggedOn; }
    const std::string& UserName() const { return FUserName; }
    const std::string& GroupName() const { return FGroupName; }
    int32_t GroupID() const { return FGroupID; }
    const std::string& DataBaseName() const { return FDataBaseName; }
    const TInternalPrivileges& LogonPrivileges() const { return *FLogonPrivileges; }

    // ---- Settings (no active manager needed)
    // Days a password stays valid; 0 = forever.
    int32_t PasswordExpiryPeriod() const { return FPasswordExpiryPeriod; }
    void SetPasswordExpiryPeriod(int32_t Value) { FPasswordExpiryPeriod = Value; }
    int32_t MinimumGroupNameLength() const { return FMinimumGroupNameLength; }
    void SetMinimumGroupNameLength(int32_t Value) { FMinimumGroupNameLength = Value; }
    int32_t MinimumUserNameLength() const { return FMinimumUserNameLength; }
    void SetMinimumUserNameLength(int32_t Value) { FMinimumUserNameLength = Value; }
    // Stored only; no operation tests passwords against it.
    int32_t MinimumPasswordLength() const { return FMinimumPasswordLength; }
    void SetMinimumPasswordLength(int32_t Value) { FMinimumPasswordLength = Value; }

    // ---- Groups
    // The new group's GroupID. A bad name: 9605; an existing group: 8580.
    int32_t AddGroup(const std::string& GroupName);
    // The group's GroupID. A bad new name: 9605; NewName taken: 8580; OldName missing: 8579;
    // "administrators" keeps its name (10123).
    int32_t RenameGroup(const std::string& OldName, const std::string& NewName);
    // Deletes the group, its privileges and its users in one transaction (rolled back whole on
    // any failure). "administrators": 10124; missing: 8579; inside a transaction: 10122.
    bool DeleteGroup(const std::string& GroupName);
    // Appends the group names in name order.
    void ListGroupNames(TStrings* List);
    // 8579 when missing.
    int32_t GetGroupIDFromName(const std::string& Name);
    std::string GetGroupNameFromID(int32_t ID);
    // At least the minimum length and at most 30 characters, else 9605.
    void ValidateGroupName(const std::string& Name) const;

    // ---- Users
    // A bad name: 9605; an existing user: 8580; a missing group: 8579.
    void AddUser(const std::string& UserName, const std::string& Password, const std::string& GroupName);
    // Deletes the user when it exists; the last member of "administrators": 10124.
    void DeleteUser(const std::string& UserName);
    // Missing user or group: 8579; moving the last member out of "administrators": 10123.
    void ChangeGroup(const std::string& UserName, const std::string& GroupName);
    // Missing user: 8579. Also resets the password's age.
    void ChangePassword(const std::string& UserName, const std::string& NewPassword);
    // Appends the users of GroupName (missing: 8579), or every user for an empty GroupName.
    void ListUserNames(const std::string& GroupName, TStrings* List);
    // The user's group; empty when the user does not exist.
    std::string GetUserGroupName(const std::string& UserName);
    void ValidateUserName(const std::string& Name) const;
    // Whether Password's digest is the one of the users table's current row.
    bool VerifyPassword(const std::string& Password);
    // Writes Password's digest into the users table's current row (being edited or inserted).
    void SetUserPasswordFields(const std::string& Password);

    // ---- Privileges
    // Fills Privileges for the group Privileges.GroupName (missing: 8579): those on ObjectName,
    // or all of them for an empty name, "*" or "ALL". "administrators" gets every privilege.
    void GetPrivileges(TDatabaseObjectType ObjectType, const std::string& ObjectName, TPrivileges& Privileges);
    // Stores the group's privileges (Replace: the group's old rows go first). "administrators":
    // 10123.
    void SetPrivileges(const TPrivileges& Privileges, bool Replace);
    // Deletes every privilege of the group. "administrators": 10123.
    void RevokePrivileges(const std::string& GroupName);
    // Whether the logged-on group holds the privilege on the table ObjectName (empty, "*" or
    // "ALL": all tables). A group with nothing at all on the table is answered by what it holds
    // on all tables, as opening a table is.
    bool CheckIfLogonHasObjectPrivilege(TDatabaseObjectType ObjectType, const std::string& ObjectName,
                                        TObjectPrivilegeType PrivilegeType);
    bool CheckIfLogonHasSystemPrivilege(TSystemPrivilegeType PrivilegeType);
    // Fills List (when given) with the table's fields and returns its object identifier.
    int32_t ReadTableDefValues(const std::string& TableName, std::vector<TFieldIDEntry>* List);
    // Turns the comma-separated field names of Fields into the identifiers found in List; when
    // every field of List is named, Fields becomes "ALL" and AllFields true.
    static void ConvertFieldNamesToFieldIDList(const std::vector<TFieldIDEntry>& List, std::string& Fields,
                                               bool& AllFields);
    // 0 for "ALL" and a name without an identifier.
    int32_t GetObjectIDFromName(const std::string& Name);
    // "ALL" for 0; empty when none.
    std::string GetObjectNameFromID(int32_t ID);

private:
    void CheckIsOpen(const char* Caller) const;
    // The access rule: Bit of the loaded system privileges, or membership of "administrators".
    void CheckAccess(int32_t Bit, const char* Caller);
    bool IsAdministrator() const { return FGroupName == C_AdministratorsGroup; }
    // The users / groups table positioned on the row of the name; false when none.
    bool FindUser(const std::string& UserName);
    bool FindGroup(const std::string& GroupName);
    // Whether UserName is the only member of "administrators" (that group would be lost to
    // everyone: no logon could create its administrator again).
    bool IsLastAdministrator(const std::string& UserName);
    int32_t RequireGroupID(const std::string& GroupName, const char* Caller);
    int32_t InternalAddGroup(const std::string& GroupName);
    void InternalAddUser(const std::string& UserName, const std::string& Password, const std::string& GroupName);
    void InternalSetLogonPrivileges();
    void InternalSetObjectPrivileges(const std::string& GroupName, const TObjectPrivileges& List, bool Replace);
    void InternalSetSystemPrivileges(const std::string& GroupName, const TSystemPrivileges& List, bool Replace);
    // Deletes every row of Table in the range of Key on its current index.
    void DeleteRange(TOrqTable& Table, const std::vector<Variant>& Key);
    // Runs Change in a transaction of the database (or in the one already running): a failure
    // rolls back everything Change did and passes on.
    void InTransaction(const std::function<void()>& Change);
    // The five words of Password's digest.
    static std::vector<int32_t> PasswordDigest(const std::string& Password);

    bool FActive = false;
    TOrqDataBase* FDatabase = nullptr;
    TOrqTable* FGroupsTable = nullptr;
    TOrqTable* FUsersTable = nullptr;
    TOrqTable* FObjPrivTable = nullptr;
    TOrqTable* FSysPrivTable = nullptr;
    TOrqTable* FObjectIDTable = nullptr;
    int32_t FPasswordExpiryPeriod = 0;
    std::string FUserName;
    int32_t FGroupID = 0;
    std::string FGroupName;
    std::string FDataBaseName;
    bool FLoggedOn = false;
    std::unique_ptr<TInternalPrivileges> FLogonPrivileges;
    int32_t FMinimumGroupNameLength = 2;
    int32_t FMinimumUserNameLength = 2;
    int32_t FMinimumPasswordLength = 2;
};

}  // namespace ostra
