// orqPrivileges: the mapping between privilege types and stored bits, the application form of
// a group's privileges and the stored form that the security manager tests.
#include "engine/storage/orqPrivileges.h"

#include <iterator>

#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

// Stored bits by ordinal of the privilege type (index 0 is opNone / spNone).
constexpr int32_t CObjectPrivBits[] = {0, 2, 4, 8, 16, 256, 1024, 2048, 4096};
constexpr int32_t CSystemPrivBits[] = {0, 1, 2, 8, 16};

static_assert(std::size(CObjectPrivBits) == std::size(C_ObjectPrivilegeStr));
static_assert(std::size(CSystemPrivBits) == std::size(C_SystemPrivilegeStr));

}  // namespace

// --- Mapping ---------------------------------------------------------------------------------

int32_t MapObjectPrivTypeToConst(TObjectPrivilegeType PrivType) {
    auto i = static_cast<std::size_t>(PrivType);
    return i < std::size(CObjectPrivBits) ? CObjectPrivBits[i] : 0;
}

TObjectPrivilegeType MapObjectPrivConstToType(int32_t Value) {
    if (Value == 0) return opNone;
    for (std::size_t i = 1; i < std::size(CObjectPrivBits); ++i)
        if (CObjectPrivBits[i] == Value) return static_cast<TObjectPrivilegeType>(i);
    return opNone;
}

int32_t MapSystemPrivTypeToConst(TSystemPrivilegeType PrivType) {
    auto i = static_cast<std::size_t>(PrivType);
    return i < std::size(CSystemPrivBits) ? CSystemPrivBits[i] : 0;
}

TSystemPrivilegeType MapSystemPrivConstToType(int32_t Value) {
    if (Value == 0) return spNone;
    for (std::size_t i = 1; i < std::size(CSystemPrivBits); ++i)
        if (CSystemPrivBits[i] == Value) return static_cast<TSystemPrivilegeType>(i);
    return spNone;
}

// --- Application form ------------------------------------------------------------------------

void TObjectPrivilege::Assign(const TPersistent* Source) {
    if (auto* src = dynamic_cast<const TObjectPrivilege*>(Source)) {
        FGrantOption = src->FGrantOption;
        FFields = src->FFields;
        FObjectName = src->FObjectName;
        FPrivilegeType = src->FPrivilegeType;
        FObjectType = src->FObjectType;
        return;
    }
    TCollectionItem::Assign(Source);
}

TObjectPrivilege* TObjectPrivileges::FindPrivilege(TDatabaseObjectType ObjectType,
                                                   const std::string& ObjectName,
                                                   TObjectPrivilegeType PrivilegeType) const {
    for (int i = 0; i < Count(); ++i) {
        TObjectPrivilege* item = GetItems(i);
        if (item->ObjectType() == ObjectType && item->PrivilegeType() == PrivilegeType &&
            item->ObjectName() == ObjectName)
            return item;
    }
    return nullptr;
}

bool TObjectPrivileges::CheckForNamedObjectPrivileges(TDatabaseObjectType ObjectType,
                                                      const std::string& ObjectName) const {
    for (int i = 0; i < Count(); ++i) {
        const TObjectPrivilege* item = GetItems(i);
        if (item->ObjectType() == ObjectType && item->ObjectName() == ObjectName) return true;
    }
    return false;
}

void TSystemPrivilege::Assign(const TPersistent* Source) {
    if (auto* src = dynamic_cast<const TSystemPrivilege*>(Source)) {
        FGrantOption = src->FGrantOption;
        FPrivilegeType = src->FPrivilegeType;
        return;
    }
    TCollectionItem::Assign(Source);
}

TSystemPrivilege* TSystemPrivileges::FindPrivilege(TSystemPrivilegeType PrivilegeType) const {
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->PrivilegeType() == PrivilegeType) return GetItems(i);
    return nullptr;
}

TPrivileges::TPrivileges()
    : FSystemPrivileges(std::make_unique<TSystemPrivileges>()),
      FObjectPrivileges(std::make_unique<TObjectPrivileges>()) {}

TPrivileges::~TPrivileges() = default;

void TPrivileges::ClearPrivileges() {
    FSystemPrivileges->Clear();
    FObjectPrivileges->Clear();
}

// --- Stored form -----------------------------------------------------------------------------

TInternalObjPriv::TInternalObjPriv(TCollection* ACollection)
    : TCollectionItem(ACollection), FFieldIDs(std::make_unique<TStringList>()) {}

TInternalObjPriv::~TInternalObjPriv() = default;

void TInternalObjPriv::SetFields(bool AllFields, const std::string& Fields) {
    FAllFields = AllFields;
    FFieldIDs->SetCommaText(Fields);
}

void TInternalObjPriv::SetFieldIDValues(const TStrings* List) {
    if (List)
        FFieldIDs->Assign(List);
    else
        FFieldIDs->Clear();
}

void TInternalObjPriv::Assign(const TPersistent* Source) {
    if (auto* src = dynamic_cast<const TInternalObjPriv*>(Source)) {
        if (src == this) return;
        FGrantOption = src->FGrantOption;
        FPrivilegeID = src->FPrivilegeID;
        FObjectID = src->FObjectID;
        FAllFields = src->FAllFields;
        FFieldIDs->Assign(src->FFieldIDs.get());
        FObjectType = src->FObjectType;
        return;
    }
    TCollectionItem::Assign(Source);
}

TInternalObjPriv* TInternalObjPrivs::FindPrivilege(int32_t ObjectID, int32_t PrivilegeID) const {
    for (int i = 0; i < Count(); ++i) {
        TInternalObjPriv* item = GetItems(i);
        if (item->ObjectID() == ObjectID && item->PrivilegeID() == PrivilegeID) return item;
    }
    return nullptr;
}

bool TInternalObjPrivs::CheckPrivilegeExists(int32_t ObjectID, int32_t PrivilegeID) const {
    return FindPrivilege(ObjectID, PrivilegeID) != nullptr;
}

bool TInternalObjPrivs::CheckPrivilegeAndFieldID(int32_t ObjectID, int32_t PrivilegeID,
                                                 int32_t FieldID) const {
    const TInternalObjPriv* item = FindPrivilege(ObjectID, PrivilegeID);
    if (!item) return false;
    if (item->AllFields()) return true;
    return item->FieldIDs()->IndexOf(IntToStr(FieldID)) >= 0;
}

void TInternalObjPrivs::SetMasks() {
    int32_t mask = 0;
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->ObjectID() == 1) mask |= GetItems(i)->PrivilegeID();
    FTablePrivilegeMask = mask;
}

void TInternalSysPriv::Assign(const TPersistent* Source) {
    if (auto* src = dynamic_cast<const TInternalSysPriv*>(Source)) {
        FGrantOption = src->FGrantOption;
        FPrivilegeID = src->FPrivilegeID;
        return;
    }
    TCollectionItem::Assign(Source);
}

TInternalSysPriv* TInternalSysPrivs::FindPrivilege(int32_t PrivilegeID) const {
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->PrivilegeID() == PrivilegeID) return GetItems(i);
    return nullptr;
}

void TInternalSysPrivs::SetMask() {
    int32_t mask = 0;
    for (int i = 0; i < Count(); ++i) mask |= GetItems(i)->PrivilegeID();
    FPrivilegeMask = mask;
}

TInternalPrivileges::TInternalPrivileges()
    : FObjPrivs(std::make_unique<TInternalObjPrivs>()), FSysPrivs(std::make_unique<TInternalSysPrivs>()) {}

TInternalPrivileges::~TInternalPrivileges() = default;

void TInternalPrivileges::Clear() {
    FObjPrivs->Clear();
    FSysPrivs->Clear();
    // The masks describe the rows: with no rows left they must grant nothing, or a cleared
    // (logged-off) privilege set would still pass mask tests until the next recompute.
    FObjPrivs->SetTablePrivilegeMask(0);
    FSysPrivs->SetPrivilegeMask(0);
}

}  // namespace ostra
