// orqTestDataBase: TTestDataBase, the database component with privileges that a test restricts.
//
// The cursor's tests run against the real connection component (orqDataBase.h). Without a secured
// database every user holds every privilege; to show the cursor's privilege checks a test limits
// a table's privilege flags (SetTablePrivileges: what opening the table gives the table and each
// of its fields) or withholds the create privilege (SetCreatePrivilege).
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "engine/components/orqDataBase.h"
#include "engine/storage/orqTableMgrUnit.h"

namespace ostra::componentstest {

// A connection whose privilege answers a test sets.
class TTestDataBase : public TOrqDataBase {
public:
    explicit TTestDataBase(TComponent* AOwner = nullptr) : TOrqDataBase(AOwner) {}

    // The privilege flags opening Name gives the table and each of its fields (all by default).
    void SetTablePrivileges(const std::string& Name, int32_t Flags);
    // Whether the create privilege is granted (it is by default).
    void SetCreatePrivilege(bool Value) { FCreatePrivilege = Value; }

    // The create privilege as set; other bits as the table's flags say.
    bool QueryObjectPrivilegeExists(TDatabaseObjectType ObjectType, const std::string& Name,
                                    int32_t Privilege) override;

protected:
    // The flags a test set for the table, else the component's own.
    void InternalSetTablePrivileges(TTableDef* Def, bool All) override;

private:
    bool FCreatePrivilege = true;
    std::map<std::string, int32_t> FPrivileges;  // by upper-case table name
};

}  // namespace ostra::componentstest
