// orqPrivileges: what a group of users may do in a secured database, in two forms.
//
// - The application form, TPrivileges: named objects ("Orders", or "ALL" for every table) and
//   enumerated privilege types. Applications and the editor read and write a group's
//   privileges in this form through the security manager.
// - The stored form, TInternalPrivileges: numeric object identifiers and privilege bits exactly
//   as the security system tables hold them, one privilege per row. The security manager loads
//   the logged-on group's rows into it and asks it on every guarded operation.
//
// Stored privilege bits (one bit per row; 0 stands for none):
//
//   object privilege      bit      system privilege   bit
//   opCreateObj             2      spViewUsers          1
//   opDeleteObj             4      spEditUsers          2
//   opExecuteObj (open)     8      spViewGroups         8
//   opAlterObj             16      spEditGroups        16
//   opInsertData          256      (bit 4 is not used)
//   opDeleteData         1024
//   opReadData           2048
//   opUpdateData         4096
//
// Object identifiers come from the database's object-identifier table; identifier 0 stands for
// all tables. A test never lets one identifier cover another: a row for identifier 0 answers
// only a test for identifier 0. Stored object type 1 is a table (doTable), the only object
// type that carries privileges.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "host/Collection.h"
#include "host/Object.h"
#include "host/Set.h"

namespace ostra {

class TStrings;
class TStringList;

// ---------------------------------------------------------------------------------------------
// Vocabulary (values in declaration order, from 0)

// The kind of database object a privilege names.
enum TDatabaseObjectType : uint8_t { doNone, doTable };

// What a group may do with a table (or with all tables).
enum TObjectPrivilegeType : uint8_t {
    opNone,
    opCreateObj,
    opDeleteObj,
    opExecuteObj,
    opAlterObj,
    opInsertData,
    opDeleteData,
    opReadData,
    opUpdateData
};
using TObjectPrivilegeTypes = TSet<TObjectPrivilegeType>;
inline constexpr const char* C_ObjectPrivilegeStr[] = {"None",        "Create Object", "Delete Object",
                                                       "Open object", "Alter Object",  "Insert data",
                                                       "Delete data", "Read data",     "Update data"};

// Whether a group may view or edit users and groups.
enum TSystemPrivilegeType : uint8_t { spNone, spViewUsers, spEditUsers, spViewGroups, spEditGroups };
using TSystemPrivilegeTypes = TSet<TSystemPrivilegeType>;
inline constexpr const char* C_SystemPrivilegeStr[] = {"None", "View users", "Edit users", "View groups",
                                                       "Edit groups"};

// The stored object type of a table.
inline constexpr int32_t C_StoredTableObjectType = 1;
// The object name and the field list that stand for all tables and all fields.
inline constexpr char C_AllObjectsName[] = "ALL";

// The stored bit of an object privilege type; 0 for opNone.
int32_t MapObjectPrivTypeToConst(TObjectPrivilegeType PrivType);
// The object privilege type of a stored bit; opNone for 0 and any value not in the table.
TObjectPrivilegeType MapObjectPrivConstToType(int32_t Value);
// The stored bit of a system privilege type; 0 for spNone.
int32_t MapSystemPrivTypeToConst(TSystemPrivilegeType PrivType);
// The system privilege type of a stored bit; spNone for 0 and any value not in the table.
TSystemPrivilegeType MapSystemPrivConstToType(int32_t Value);

// ---------------------------------------------------------------------------------------------
// Application form

// One privilege of a group on a named object, optionally limited to some fields.
class TObjectPrivilege : public TCollectionItem {
public:
    explicit TObjectPrivilege(TCollection* ACollection) : TCollectionItem(ACollection) {}

    bool GrantOption() const { return FGrantOption; }
    void SetGrantOption(bool Value) { FGrantOption = Value; }
    // "ALL" or a comma-separated list of field names.
    const std::string& Fields() const { return FFields; }
    void SetFields(const std::string& Value) { FFields = Value; }
    // The table's name; "ALL" for all tables.
    const std::string& ObjectName() const { return FObjectName; }
    void SetObjectName(const std::string& Value) { FObjectName = Value; }
    TObjectPrivilegeType PrivilegeType() const { return FPrivilegeType; }
    void SetPrivilegeType(TObjectPrivilegeType Value) { FPrivilegeType = Value; }
    TDatabaseObjectType ObjectType() const { return FObjectType; }
    void SetObjectType(TDatabaseObjectType Value) { FObjectType = Value; }

    // From another TObjectPrivilege: all five values; any other source: the host rules.
    void Assign(const TPersistent* Source) override;

private:
    bool FGrantOption = false;
    std::string FFields;
    std::string FObjectName;
    TObjectPrivilegeType FPrivilegeType = opNone;
    TDatabaseObjectType FObjectType = doNone;
};

// The object privileges of a group.
class TObjectPrivileges : public TCollection {
public:
    TObjectPrivileges() : TCollection(ItemClassOf<TObjectPrivilege>()) {}

    // A new privilege at the end: object type doNone, type opNone, empty texts.
    TObjectPrivilege* Add() { return static_cast<TObjectPrivilege*>(TCollection::Add()); }
    // The privilege at Index; EListError for a bad index.
    TObjectPrivilege* GetItems(int Index) const { return static_cast<TObjectPrivilege*>(Items(Index)); }
    // Assigns Value to the privilege at Index.
    void SetItems(int Index, const TObjectPrivilege* Value) { TCollection::SetItems(Index, Value); }
    // The first privilege with this object type, exactly this object name (case-sensitive)
    // and this privilege type; null when none.
    TObjectPrivilege* FindPrivilege(TDatabaseObjectType ObjectType, const std::string& ObjectName,
                                    TObjectPrivilegeType PrivilegeType) const;
    // True when some privilege has this object type and exactly this object name.
    bool CheckForNamedObjectPrivileges(TDatabaseObjectType ObjectType, const std::string& ObjectName) const;
};

// One system privilege of a group.
class TSystemPrivilege : public TCollectionItem {
public:
    explicit TSystemPrivilege(TCollection* ACollection) : TCollectionItem(ACollection) {}

    bool GrantOption() const { return FGrantOption; }
    void SetGrantOption(bool Value) { FGrantOption = Value; }
    TSystemPrivilegeType PrivilegeType() const { return FPrivilegeType; }
    void SetPrivilegeType(TSystemPrivilegeType Value) { FPrivilegeType = Value; }

    // From another TSystemPrivilege: both values; any other source: the host rules.
    void Assign(const TPersistent* Source) override;

private:
    bool FGrantOption = false;
    TSystemPrivilegeType FPrivilegeType = spNone;
};

// The system privileges of a group.
class TSystemPrivileges : public TCollection {
public:
    TSystemPrivileges() : TCollection(ItemClassOf<TSystemPrivilege>()) {}

    TSystemPrivilege* Add() { return static_cast<TSystemPrivilege*>(TCollection::Add()); }
    TSystemPrivilege* GetItems(int Index) const { return static_cast<TSystemPrivilege*>(Items(Index)); }
    void SetItems(int Index, const TSystemPrivilege* Value) { TCollection::SetItems(Index, Value); }
    // The first privilege of this type; null when none.
    TSystemPrivilege* FindPrivilege(TSystemPrivilegeType PrivilegeType) const;
};

// The privileges of one group as applications see them. Owns both lists.
class TPrivileges : public TObject {
public:
    // Both lists empty, no group name.
    TPrivileges();
    ~TPrivileges() override;
    TPrivileges(const TPrivileges&) = delete;
    TPrivileges& operator=(const TPrivileges&) = delete;

    TSystemPrivileges* SystemPrivileges() const { return FSystemPrivileges.get(); }
    TObjectPrivileges* ObjectPrivileges() const { return FObjectPrivileges.get(); }
    const std::string& GroupName() const { return FGroupName; }
    void SetGroupName(const std::string& Value) { FGroupName = Value; }
    // Empties both lists; the group name stays.
    void ClearPrivileges();

private:
    std::unique_ptr<TSystemPrivileges> FSystemPrivileges;
    std::unique_ptr<TObjectPrivileges> FObjectPrivileges;
    std::string FGroupName;
};

// ---------------------------------------------------------------------------------------------
// Stored form

// One stored object-privilege row: a privilege bit on an object identifier, for all fields or
// for the listed field identifiers (decimal FieldGeneratorID values).
class TInternalObjPriv : public TCollectionItem {
public:
    explicit TInternalObjPriv(TCollection* ACollection);
    ~TInternalObjPriv() override;

    bool GrantOption() const { return FGrantOption; }
    void SetGrantOption(bool Value) { FGrantOption = Value; }
    int32_t PrivilegeID() const { return FPrivilegeID; }
    void SetPrivilegeID(int32_t Value) { FPrivilegeID = Value; }
    int32_t ObjectID() const { return FObjectID; }
    void SetObjectID(int32_t Value) { FObjectID = Value; }
    bool AllFields() const { return FAllFields; }
    void SetAllFields(bool Value) { FAllFields = Value; }
    // The field identifiers in decimal; owned.
    TStringList* FieldIDs() const { return FFieldIDs.get(); }
    int32_t ObjectType() const { return FObjectType; }
    void SetObjectType(int32_t Value) { FObjectType = Value; }

    // Sets AllFields and makes FieldIDs the entries of the comma-separated Fields.
    void SetFields(bool AllFields, const std::string& Fields);
    // Replaces FieldIDs with the entries of List (emptied for a null List).
    void SetFieldIDValues(const TStrings* List);

    // From another TInternalObjPriv: every value including a copy of the field identifiers.
    void Assign(const TPersistent* Source) override;

private:
    bool FGrantOption = false;
    int32_t FPrivilegeID = 0;
    int32_t FObjectID = 0;
    bool FAllFields = false;
    std::unique_ptr<TStringList> FFieldIDs;
    int32_t FObjectType = 0;
};

// The stored object privileges of a group.
class TInternalObjPrivs : public TCollection {
public:
    TInternalObjPrivs() : TCollection(ItemClassOf<TInternalObjPriv>()) {}

    TInternalObjPriv* Add() { return static_cast<TInternalObjPriv*>(TCollection::Add()); }
    TInternalObjPriv* GetItems(int Index) const { return static_cast<TInternalObjPriv*>(Items(Index)); }
    void SetItems(int Index, const TInternalObjPriv* Value) { TCollection::SetItems(Index, Value); }

    // The first row with exactly this object identifier and privilege bit; null when none.
    TInternalObjPriv* FindPrivilege(int32_t ObjectID, int32_t PrivilegeID) const;
    // Whether FindPrivilege finds a row.
    bool CheckPrivilegeExists(int32_t ObjectID, int32_t PrivilegeID) const;
    // False without such a row; true when the row covers all fields; otherwise whether the
    // decimal text of FieldID is one of the row's field identifiers.
    bool CheckPrivilegeAndFieldID(int32_t ObjectID, int32_t PrivilegeID, int32_t FieldID) const;
    // TablePrivilegeMask := the OR of the privilege bits of the rows whose ObjectID is 1.
    void SetMasks();

    int32_t TablePrivilegeMask() const { return FTablePrivilegeMask; }
    void SetTablePrivilegeMask(int32_t Value) { FTablePrivilegeMask = Value; }

private:
    int32_t FTablePrivilegeMask = 0;
};

// One stored system-privilege row.
class TInternalSysPriv : public TCollectionItem {
public:
    explicit TInternalSysPriv(TCollection* ACollection) : TCollectionItem(ACollection) {}

    bool GrantOption() const { return FGrantOption; }
    void SetGrantOption(bool Value) { FGrantOption = Value; }
    int32_t PrivilegeID() const { return FPrivilegeID; }
    void SetPrivilegeID(int32_t Value) { FPrivilegeID = Value; }

    // From another TInternalSysPriv: both values.
    void Assign(const TPersistent* Source) override;

private:
    bool FGrantOption = false;
    int32_t FPrivilegeID = 0;
};

// The stored system privileges of a group.
class TInternalSysPrivs : public TCollection {
public:
    TInternalSysPrivs() : TCollection(ItemClassOf<TInternalSysPriv>()) {}

    TInternalSysPriv* Add() { return static_cast<TInternalSysPriv*>(TCollection::Add()); }
    TInternalSysPriv* GetItems(int Index) const { return static_cast<TInternalSysPriv*>(Items(Index)); }
    void SetItems(int Index, const TInternalSysPriv* Value) { TCollection::SetItems(Index, Value); }

    // The first row with this privilege bit; null when none.
    TInternalSysPriv* FindPrivilege(int32_t PrivilegeID) const;
    bool CheckPrivilegeExists(int32_t PrivilegeID) const { return FindPrivilege(PrivilegeID) != nullptr; }
    // PrivilegeMask := the OR of the privilege bits of every row.
    void SetMask();

    // The OR of the rows' bits as last computed by SetMask (or stored by SetPrivilegeMask).
    int32_t PrivilegeMask() const { return FPrivilegeMask; }
    void SetPrivilegeMask(int32_t Value) { FPrivilegeMask = Value; }

private:
    int32_t FPrivilegeMask = 0;
};

// The stored privileges of the logged-on group. Owns both lists.
class TInternalPrivileges : public TObject {
public:
    TInternalPrivileges();
    ~TInternalPrivileges() override;
    TInternalPrivileges(const TInternalPrivileges&) = delete;
    TInternalPrivileges& operator=(const TInternalPrivileges&) = delete;

    TInternalObjPrivs* ObjPrivs() const { return FObjPrivs.get(); }
    TInternalSysPrivs* SysPrivs() const { return FSysPrivs.get(); }
    // Empties both lists.
    void Clear();

private:
    std::unique_ptr<TInternalObjPrivs> FObjPrivs;
    std::unique_ptr<TInternalSysPrivs> FSysPrivs;
};

}  // namespace ostra
