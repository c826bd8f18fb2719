// orqTestDataBase: privilege answers of the test connection (see orqTestDataBase.h).
#include "orqTestDataBase.h"

#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/SysUtils.h"

namespace ostra::componentstest {

void TTestDataBase::SetTablePrivileges(const std::string& Name, int32_t Flags) { FPrivileges[UpperCase(Name)] = Flags; }

bool TTestDataBase::QueryObjectPrivilegeExists(TDatabaseObjectType ObjectType, const std::string& Name,
                                               int32_t Privilege) {
    if (Privilege == C_PRIVCREATE) return FCreatePrivilege;
    const auto it = FPrivileges.find(UpperCase(Name));
    if (it != FPrivileges.end()) return (it->second & Privilege) != 0;
    return TOrqDataBase::QueryObjectPrivilegeExists(ObjectType, Name, Privilege);
}

void TTestDataBase::InternalSetTablePrivileges(TTableDef* Def, bool All) {
    const auto it = FPrivileges.find(UpperCase(Def->TableName()));
    if (it == FPrivileges.end()) {
        TOrqDataBase::InternalSetTablePrivileges(Def, All);
        return;
    }
    Def->SetPrivilegeFlags(it->second);
    TInternalFields& fields = *Def->InternalFields();
    for (int i = 0; i < fields.Count(); ++i) fields.GetIndex(i)->SetPrivilegeFlags(it->second);
}

}  // namespace ostra::componentstest
