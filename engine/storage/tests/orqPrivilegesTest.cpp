// Privilege sets: the type <-> stored-bit mapping, lookups in the application form, field-limited
// checks and masks in the stored form, and copying of both forms.
#include "engine/storage/orqPrivileges.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "host/Exceptions.h"
#include "host/StringList.h"

using namespace ostra;

namespace {

TObjectPrivilege* AddObjPriv(TObjectPrivileges& list, TDatabaseObjectType type, const std::string& name,
                             TObjectPrivilegeType priv, const std::string& fields = "ALL") {
    TObjectPrivilege* p = list.Add();
    p->SetObjectType(type);
    p->SetObjectName(name);
    p->SetPrivilegeType(priv);
    p->SetFields(fields);
    return p;
}

TInternalObjPriv* AddRow(TInternalObjPrivs& list, int32_t objectID, TObjectPrivilegeType priv, bool allFields,
                         const std::string& fieldIDs = "") {
    TInternalObjPriv* row = list.Add();
    row->SetObjectType(C_StoredTableObjectType);
    row->SetObjectID(objectID);
    row->SetPrivilegeID(MapObjectPrivTypeToConst(priv));
    row->SetFields(allFields, fieldIDs);
    return row;
}

}  // namespace

TEST(PrivilegeMapping, EveryTypeHasItsStoredBitAndMapsBack) {
    const int32_t objBits[] = {0, 2, 4, 8, 16, 256, 1024, 2048, 4096};
    for (int i = 0; i <= opUpdateData; ++i) {
        auto t = static_cast<TObjectPrivilegeType>(i);
        EXPECT_EQ(MapObjectPrivTypeToConst(t), objBits[i]) << C_ObjectPrivilegeStr[i];
        EXPECT_EQ(MapObjectPrivConstToType(objBits[i]), t) << C_ObjectPrivilegeStr[i];
    }
    const int32_t sysBits[] = {0, 1, 2, 8, 16};
    for (int i = 0; i <= spEditGroups; ++i) {
        auto t = static_cast<TSystemPrivilegeType>(i);
        EXPECT_EQ(MapSystemPrivTypeToConst(t), sysBits[i]) << C_SystemPrivilegeStr[i];
        EXPECT_EQ(MapSystemPrivConstToType(sysBits[i]), t) << C_SystemPrivilegeStr[i];
    }
    EXPECT_EQ(MapObjectPrivConstToType(2048), opReadData);
    EXPECT_EQ(MapSystemPrivTypeToConst(spViewGroups), 8);
}

TEST(PrivilegeMapping, ValuesOutsideTheTableMapToNone) {
    // Combinations of bits, neighbours of real bits and the unused system bit 4.
    for (int32_t v : {3, 1, 6, 32, 512, 2049, 6144, -1, -2048, INT32_MIN, INT32_MAX})
        EXPECT_EQ(MapObjectPrivConstToType(v), opNone) << v;
    for (int32_t v : {4, 3, 9, 32, -1, INT32_MIN}) EXPECT_EQ(MapSystemPrivConstToType(v), spNone) << v;
}

TEST(PrivilegeMapping, DisplayNames) {
    EXPECT_STREQ(C_ObjectPrivilegeStr[opExecuteObj], "Open object");
    EXPECT_STREQ(C_ObjectPrivilegeStr[opUpdateData], "Update data");
    EXPECT_STREQ(C_SystemPrivilegeStr[spEditGroups], "Edit groups");
}

TEST(TObjectPrivileges, FindPrivilegeMatchesTypeNameAndPrivilegeExactly) {
    TObjectPrivileges list;
    AddObjPriv(list, doTable, "ORDERS", opReadData);
    TObjectPrivilege* upd = AddObjPriv(list, doTable, "Orders", opUpdateData, "NAME,CITY");
    AddObjPriv(list, doNone, "Orders", opReadData);

    EXPECT_EQ(list.FindPrivilege(doTable, "Orders", opReadData), nullptr) << "names are case-sensitive";
    EXPECT_EQ(list.FindPrivilege(doTable, "Orders", opUpdateData), upd);
    EXPECT_EQ(list.FindPrivilege(doTable, "Orders", opInsertData), nullptr);
    EXPECT_EQ(list.FindPrivilege(doNone, "Orders", opReadData), list.GetItems(2));

    // The first match wins when a privilege is listed twice.
    AddObjPriv(list, doTable, "Orders", opUpdateData, "ALL");
    EXPECT_EQ(list.FindPrivilege(doTable, "Orders", opUpdateData), upd);

    EXPECT_TRUE(list.CheckForNamedObjectPrivileges(doTable, "ORDERS"));
    EXPECT_TRUE(list.CheckForNamedObjectPrivileges(doTable, "Orders"));
    EXPECT_FALSE(list.CheckForNamedObjectPrivileges(doTable, "orders"));
    EXPECT_FALSE(list.CheckForNamedObjectPrivileges(doTable, "ALL"));
}

TEST(TPrivileges, GrantRevokeAndClearBothLists) {
    TPrivileges privs;
    EXPECT_EQ(privs.ObjectPrivileges()->Count(), 0);
    EXPECT_EQ(privs.SystemPrivileges()->Count(), 0);
    privs.SetGroupName("Sales");

    TObjectPrivilege* added = privs.ObjectPrivileges()->Add();
    EXPECT_EQ(added->ObjectType(), doNone);
    EXPECT_EQ(added->PrivilegeType(), opNone);
    EXPECT_EQ(added->ObjectName(), "");
    EXPECT_FALSE(added->GrantOption());

    // Grant read and insert on Orders, everything on all tables, and View users.
    added->SetObjectType(doTable);
    added->SetObjectName("Orders");
    added->SetPrivilegeType(opReadData);
    AddObjPriv(*privs.ObjectPrivileges(), doTable, "Orders", opInsertData);
    AddObjPriv(*privs.ObjectPrivileges(), doTable, C_AllObjectsName, opAlterObj);
    privs.SystemPrivileges()->Add()->SetPrivilegeType(spViewUsers);

    EXPECT_NE(privs.ObjectPrivileges()->FindPrivilege(doTable, "Orders", opInsertData), nullptr);
    EXPECT_EQ(privs.ObjectPrivileges()->FindPrivilege(doTable, "Orders", opAlterObj), nullptr)
        << "a privilege on ALL is a privilege of its own, not one of every table";
    EXPECT_NE(privs.SystemPrivileges()->FindPrivilege(spViewUsers), nullptr);
    EXPECT_EQ(privs.SystemPrivileges()->FindPrivilege(spEditUsers), nullptr);

    // Revoke insert on Orders.
    privs.ObjectPrivileges()->Delete(
        privs.ObjectPrivileges()->FindPrivilege(doTable, "Orders", opInsertData)->Index());
    EXPECT_EQ(privs.ObjectPrivileges()->FindPrivilege(doTable, "Orders", opInsertData), nullptr);
    EXPECT_NE(privs.ObjectPrivileges()->FindPrivilege(doTable, "Orders", opReadData), nullptr);

    privs.ClearPrivileges();
    EXPECT_EQ(privs.ObjectPrivileges()->Count(), 0);
    EXPECT_EQ(privs.SystemPrivileges()->Count(), 0);
    EXPECT_EQ(privs.GroupName(), "Sales");
}

TEST(TPrivileges, AssignCopiesEveryValueAndTheCopyIsIndependent) {
    TPrivileges src;
    TObjectPrivilege* p = AddObjPriv(*src.ObjectPrivileges(), doTable, "Orders", opUpdateData, "NAME,CITY");
    p->SetGrantOption(true);
    TSystemPrivilege* s = src.SystemPrivileges()->Add();
    s->SetPrivilegeType(spEditGroups);
    s->SetGrantOption(true);

    TPrivileges dst;
    AddObjPriv(*dst.ObjectPrivileges(), doTable, "Old", opReadData);
    dst.ObjectPrivileges()->Assign(src.ObjectPrivileges());
    dst.SystemPrivileges()->Assign(src.SystemPrivileges());

    ASSERT_EQ(dst.ObjectPrivileges()->Count(), 1);
    const TObjectPrivilege* c = dst.ObjectPrivileges()->GetItems(0);
    EXPECT_TRUE(c->GrantOption());
    EXPECT_EQ(c->Fields(), "NAME,CITY");
    EXPECT_EQ(c->ObjectName(), "Orders");
    EXPECT_EQ(c->PrivilegeType(), opUpdateData);
    EXPECT_EQ(c->ObjectType(), doTable);
    ASSERT_EQ(dst.SystemPrivileges()->Count(), 1);
    EXPECT_EQ(dst.SystemPrivileges()->GetItems(0)->PrivilegeType(), spEditGroups);
    EXPECT_TRUE(dst.SystemPrivileges()->GetItems(0)->GrantOption());

    p->SetObjectName("Changed");
    src.ClearPrivileges();
    EXPECT_EQ(dst.ObjectPrivileges()->GetItems(0)->ObjectName(), "Orders");

    // SetItems assigns into an existing entry; a foreign source is refused.
    TObjectPrivileges other;
    AddObjPriv(other, doTable, "Lines", opDeleteData);
    dst.ObjectPrivileges()->SetItems(0, other.GetItems(0));
    EXPECT_EQ(dst.ObjectPrivileges()->GetItems(0)->ObjectName(), "Lines");
    EXPECT_THROW(dst.ObjectPrivileges()->GetItems(0)->Assign(dst.SystemPrivileges()->GetItems(0)),
                 EConvertError);
}

TEST(TInternalObjPrivs, FieldLimitedAndAllFieldsChecks) {
    TInternalObjPrivs rows;
    AddRow(rows, 7, opReadData, false, "101,102");
    AddRow(rows, 7, opUpdateData, true);
    AddRow(rows, 0, opDeleteData, true);

    EXPECT_TRUE(rows.CheckPrivilegeAndFieldID(7, 2048, 102));
    EXPECT_TRUE(rows.CheckPrivilegeAndFieldID(7, 2048, 101));
    EXPECT_FALSE(rows.CheckPrivilegeAndFieldID(7, 2048, 103));
    EXPECT_FALSE(rows.CheckPrivilegeAndFieldID(7, 2048, 10)) << "whole identifiers, not prefixes";
    EXPECT_TRUE(rows.CheckPrivilegeAndFieldID(7, 4096, 999));
    EXPECT_FALSE(rows.CheckPrivilegeAndFieldID(8, 2048, 101)) << "no row for that table";
    EXPECT_FALSE(rows.CheckPrivilegeAndFieldID(7, 256, 101)) << "no row for that privilege";

    // A row for all tables answers only a test for identifier 0, and the reverse.
    EXPECT_TRUE(rows.CheckPrivilegeExists(0, 1024));
    EXPECT_FALSE(rows.CheckPrivilegeExists(7, 1024));
    EXPECT_FALSE(rows.CheckPrivilegeExists(0, 2048));
    EXPECT_EQ(rows.FindPrivilege(7, 4096), rows.GetItems(1));
    EXPECT_EQ(rows.FindPrivilege(7, 1024), nullptr);
}

TEST(TInternalObjPriv, FieldListsFromCommaTextAndFromStringLists) {
    TInternalObjPrivs rows;
    TInternalObjPriv* row = rows.Add();
    EXPECT_EQ(row->FieldIDs()->Count(), 0);

    row->SetFields(false, "101, 102,103");
    EXPECT_FALSE(row->AllFields());
    EXPECT_EQ(row->FieldIDs()->CommaText(), "101,102,103");

    TStringList ids;
    ids.Add("5");
    ids.Add("6");
    row->SetFieldIDValues(&ids);
    EXPECT_EQ(row->FieldIDs()->CommaText(), "5,6");
    ids.Add("7");
    EXPECT_EQ(row->FieldIDs()->Count(), 2) << "a copy, not the caller's list";

    row->SetFields(true, "");
    EXPECT_TRUE(row->AllFields());
    EXPECT_EQ(row->FieldIDs()->Count(), 0);
    row->SetFieldIDValues(&ids);
    row->SetFieldIDValues(nullptr);
    EXPECT_EQ(row->FieldIDs()->Count(), 0);
}

TEST(TInternalPrivileges, MasksFollowTheRowsAndClearResetsThem) {
    TInternalPrivileges privs;
    for (int32_t bit : {1, 8}) privs.SysPrivs()->Add()->SetPrivilegeID(bit);
    privs.SysPrivs()->SetMask();
    EXPECT_EQ(privs.SysPrivs()->PrivilegeMask(), 9);
    EXPECT_TRUE(privs.SysPrivs()->CheckPrivilegeExists(8));
    EXPECT_FALSE(privs.SysPrivs()->CheckPrivilegeExists(2));
    EXPECT_EQ(privs.SysPrivs()->FindPrivilege(1), privs.SysPrivs()->GetItems(0));

    // The table mask gathers the bits of the rows for object identifier 1 only.
    AddRow(*privs.ObjPrivs(), 1, opReadData, true);
    AddRow(*privs.ObjPrivs(), 1, opInsertData, true);
    AddRow(*privs.ObjPrivs(), 2, opDeleteData, true);
    AddRow(*privs.ObjPrivs(), 0, opAlterObj, true);
    privs.ObjPrivs()->SetMasks();
    EXPECT_EQ(privs.ObjPrivs()->TablePrivilegeMask(), 2048 | 256);

    privs.Clear();
    EXPECT_EQ(privs.ObjPrivs()->Count(), 0);
    EXPECT_EQ(privs.SysPrivs()->Count(), 0);
    EXPECT_EQ(privs.SysPrivs()->PrivilegeMask(), 0) << "a cleared set grants nothing";
    EXPECT_EQ(privs.ObjPrivs()->TablePrivilegeMask(), 0);
}

TEST(TInternalPrivileges, RowsCopyDeeplyIncludingFieldIdentifiers) {
    TInternalObjPrivs src;
    TInternalObjPriv* row = AddRow(src, 7, opReadData, false, "101,102");
    row->SetGrantOption(true);
    TInternalObjPrivs dst;
    dst.Assign(&src);
    ASSERT_EQ(dst.Count(), 1);
    const TInternalObjPriv* c = dst.GetItems(0);
    EXPECT_TRUE(c->GrantOption());
    EXPECT_EQ(c->PrivilegeID(), 2048);
    EXPECT_EQ(c->ObjectID(), 7);
    EXPECT_FALSE(c->AllFields());
    EXPECT_EQ(c->ObjectType(), C_StoredTableObjectType);
    EXPECT_EQ(c->FieldIDs()->CommaText(), "101,102");
    row->FieldIDs()->Clear();
    EXPECT_TRUE(dst.CheckPrivilegeAndFieldID(7, 2048, 102));

    TInternalSysPrivs sysSrc, sysDst;
    TInternalSysPriv* s = sysSrc.Add();
    s->SetPrivilegeID(16);
    s->SetGrantOption(true);
    sysDst.Assign(&sysSrc);
    ASSERT_EQ(sysDst.Count(), 1);
    EXPECT_EQ(sysDst.GetItems(0)->PrivilegeID(), 16);
    EXPECT_TRUE(sysDst.GetItems(0)->GrantOption());
}
