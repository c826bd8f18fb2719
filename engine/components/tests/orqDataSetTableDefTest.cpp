// Table definitions built by the engine cursor: the layout and indexes from the framework's
// definitions and from restructure requests, the hidden insertion-order index of a table without
// indexes, the size limits at their edges, and the check value of encrypted tables.
#include <gtest/gtest.h>

#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"
#include "support/orqCursorTest.h"

namespace ostra::componentstest {
namespace {

class CursorTableDefTest : public TCursorTest {
protected:
    void SetUp() override {
        TCursorTest::SetUp();
        Cursor.SetDataBase(DataBase.get());
        Cursor.SetTableName("Stock");
        Cursor.SetMemory(Memory());
    }
    TOrqDataSet Cursor{nullptr};
    TFieldDefs Fields{nullptr};
    TIndexDefs Indexes{nullptr};
};

TEST_P(CursorTableDefTest, BuildsTheLayoutAndTheSettings) {
    Fields.Add("CODE", ftString, 255);  // the longest string: 256 stored bytes
    Fields.Add("QTY", ftInteger, 0, true);
    Fields.Add("PIC", ftBlob);
    Indexes.Add("ixCode", "CODE", TIndexOptions{ixPrimary, ixUnique});
    Cursor.SetBlobBlockSize(1024);
    Cursor.SetTableOwner("clerk");
    Cursor.SetSortOrder(soASCII);
    Cursor.SetTableDef(Memory(), Fields, Indexes);
    const TTableDef& def = Cursor.TableDefinition();
    EXPECT_EQ(def.TableName(), "Stock");
    EXPECT_EQ(def.AltName(), "Stock");  // not encrypted: the name itself
    EXPECT_EQ(def.Memory(), Memory());
    EXPECT_EQ(def.DefaultBlobSize(), 1024);
    EXPECT_EQ(def.CreatedBy(), "clerk");
    EXPECT_EQ(def.SortOrder(), soASCII);
    EXPECT_TRUE(def.UsesBlobs());
    const TInternalFieldItem& code = *def.InternalFields()->GetIndex(0);
    EXPECT_EQ(code.FieldSize(), 256);
    EXPECT_TRUE(code.IsVariable());
    EXPECT_TRUE(def.InternalFields()->GetIndex(1)->Required());
    EXPECT_EQ(def.RecordSize(), 14 + 3 + 2 + 256 + 4 + 8);
    Cursor.InternalCreateTable();
    Cursor.DataSetOpen();
    Insert(Cursor, {{"CODE", std::string(255, 'x')}, {"QTY", 1}});
    EXPECT_EQ(VarToStr(GetValue(Cursor, "CODE")).size(), 255u);
    EXPECT_EQ(Cursor.BlobBlockSize(), 1024);
    EXPECT_EQ(Cursor.SortOrder(), soASCII);
}

TEST_P(CursorTableDefTest, GivesATableWithoutIndexesTheInsertionOrder) {
    Fields.Add("TEXT", ftString, 5);
    Cursor.SetTableDef(Memory(), Fields, Indexes);
    const TTableDef& def = Cursor.TableDefinition();
    ASSERT_EQ(def.InternalIndexDefs()->Count(), 1);
    EXPECT_EQ(def.InternalIndexDefs()->GetItems(0)->IndexName(), "_LogicalRecNo");
    EXPECT_TRUE(def.InternalIndexDefs()->GetItems(0)->Hidden());
    ASSERT_EQ(def.KeyFields()->Count(), 1);
    EXPECT_EQ(def.KeyFields()->GetIndex(0)->PhysicalFieldNo(), -1);  // the logical record number
    Cursor.InternalCreateTable();
    Cursor.DataSetOpen();
    for (const char* text : {"c", "a", "b"}) Insert(Cursor, {{"TEXT", text}});
    EXPECT_EQ(Walk(Cursor, "TEXT"), (std::vector<Variant>{"c", "a", "b"}));
}

TEST_P(CursorTableDefTest, BuildsFromRestructureRequests) {
    TRestructureFieldDefs fields;
    TRestructureIndexDefs indexes;
    fields.AddAndSetFieldDef("All", ftInteger, 0);  // no reserved-name check here
    fields.AddAndSetFieldDef("NAME", ftString, 600);  // nor a size check
    indexes.AddAndSetIndexDef("ixAll", "All", TIndexOptions{ixUnique});
    Cursor.SetTableDefFromRSDefs(Memory(), fields, indexes);
    EXPECT_EQ(Cursor.TableDefinition().InternalFields()->GetIndex(1)->FieldSize(), 601);
    EXPECT_EQ(Cursor.TableDefinition().InternalIndexDefs()->GetItems(0)->IndexName(), "ixAll");
    // A key too large names its index.
    TRestructureIndexDefs wide;
    wide.AddAndSetIndexDef("ixWide", "NAME", {});
    EXPECT_EQ(ErrorCode([&] { Cursor.SetTableDefFromRSDefs(Memory(), fields, wide); }), 9602);
    EXPECT_NE(ErrorText([&] { Cursor.SetTableDefFromRSDefs(Memory(), fields, wide); }).find("Index ixWide"),
              std::string::npos);
    // Without indexes: the insertion order again.
    TRestructureIndexDefs none;
    Cursor.SetTableDefFromRSDefs(Memory(), fields, none);
    EXPECT_EQ(Cursor.TableDefinition().InternalIndexDefs()->GetItems(0)->IndexName(), "_LogicalRecNo");
}

// The check value of an encrypted table keeps the name's length even where a byte turns to 0, and
// opening the table accepts it.
TEST_P(CursorTableDefTest, EncryptedTablesKeepTheirCheckValue) {
    const std::string name = std::string(1, OrqWeakCryptKey[0]) + "Stock";  // its first byte XORs to 0
    Cursor.SetTableName(name);
    Cursor.SetEncryptionLevel(encStrong);
    Fields.Add("ID", ftInteger);
    Indexes.Add("PK", "ID", TIndexOptions{ixPrimary, ixUnique});
    Cursor.SetTableDef(Memory(), Fields, Indexes);
    const std::string check = Cursor.TableDefinition().AltName();
    ASSERT_EQ(check.size(), name.size());
    EXPECT_EQ(check[0], '\0');
    EXPECT_TRUE(Cursor.TableDefinition().Encrypted());
    Cursor.InternalCreateTable();
    Cursor.DataSetOpen();
    Insert(Cursor, {{"ID", 1}});
    EXPECT_EQ(Cursor.EncryptionLevel(), encStrong);
    EXPECT_EQ(Cursor.GetTotalRecordCount(), 1);
}

INSTANTIATE_CURSOR_TESTS(CursorTableDefTest);

}  // namespace
}  // namespace ostra::componentstest
