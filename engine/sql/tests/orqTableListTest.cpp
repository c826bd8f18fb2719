// The table list (name searches, copies, merges, field sizes) and the word mappers.
#include <gtest/gtest.h>

#include "engine/sql/orqMappers.h"
#include "engine/sql/orqTableList.h"
#include "engine/sql/tests/support/TestTableFields.h"
#include "host/Exceptions.h"

namespace ostra {
namespace {

using test::TTestTableFields;

TTableNameItem* AddTable(TTableList& list, const std::string& name, const std::string& alias,
                         std::vector<test::TestField> fields = {}) {
    TTableNameItem* item = list.Add();
    item->SetTableName(name);
    item->SetCorrelationName(alias);
    TTestTableFields f(std::move(fields));
    item->SetTableFields(&f);
    return item;
}

TEST(TableList, FindTableByAliasOrNameFromTheLast) {
    TTableList list;
    TTableNameItem* ta = AddTable(list, "t", "a");
    TTableNameItem* tb = AddTable(list, "t", "b");
    EXPECT_EQ(list.FindTableAndCorrelationName("T", "B"), tb);
    EXPECT_EQ(list.FindTableAndCorrelationName("t", "a"), ta);
    EXPECT_EQ(list.FindTableAndCorrelationName("t", ""), nullptr);
    EXPECT_EQ(list.FindTable("a"), ta);
    EXPECT_EQ(list.FindTable("t"), tb);
    EXPECT_EQ(list.FindTableName("T"), tb);
    EXPECT_EQ(list.FindTable("x"), nullptr);
    EXPECT_EQ(list.Last(), tb);
    // An empty name picks a table only when there is no choice.
    EXPECT_EQ(list.FindTable(""), nullptr);
    TTableList one;
    TTableNameItem* only = AddTable(one, "orders", "o");
    EXPECT_EQ(one.FindTable(""), only);
    EXPECT_EQ(one.FindTableAndCorrelationName("", "zzz"), only);
    TTableList none;
    EXPECT_EQ(none.FindTable(""), nullptr);
    EXPECT_EQ(none.Last(), nullptr);
}

TEST(TableList, FieldLookupTypesAndSizes) {
    TTableList list;
    AddTable(list, "a", "", {{"Id", ftInteger, 4}, {"Name", ftString, 11}});
    TTableNameItem* b = AddTable(list, "b", "", {{"id", ftAutoInc, 4}, {"Wide", ftWideString, 22}});
    AddTable(list, "c", "");
    EXPECT_EQ(list.FindTableForField("ID"), b);
    EXPECT_EQ(list.FindTableForField("name"), list.Items(0));
    EXPECT_EQ(list.FindTableForField("missing"), nullptr);
    const TTableNameItem* a = list.Items(0);
    EXPECT_EQ(a->GetFieldType("NAME"), ftString);
    EXPECT_EQ(a->GetFieldSize("NAME"), 10);
    EXPECT_EQ(a->GetFieldSize("id"), 4);
    EXPECT_EQ(b->GetFieldSize("wide"), 10);
    EXPECT_EQ(b->GetFieldType("wide"), ftWideString);
    EXPECT_EQ(a->GetFieldType("nope"), ftUnknown);
    EXPECT_EQ(a->GetFieldSize("nope"), 0);
    TTableNameItem bare(nullptr);
    EXPECT_EQ(bare.TableFields(), nullptr);
    EXPECT_EQ(bare.GetFieldType("x"), ftUnknown);
}

TEST(TableList, AssignCopiesItemsAndFieldLists) {
    TTableList source;
    TTableNameItem* s = AddTable(source, "t", "x", {{"f", ftFloat, 8}});
    s->SetMemory(true);
    s->SetMemorySpecified(true);
    s->SetInCorrelatedSubquery(true);
    s->SetCorrelatedSubqueryID(7);
    TTableList copy;
    AddTable(copy, "stale", "");
    copy.Assign(source);
    ASSERT_EQ(copy.Count(), 1);
    const TTableNameItem* c = copy.Items(0);
    EXPECT_EQ(c->TableName(), "t");
    EXPECT_EQ(c->CorrelationName(), "x");
    EXPECT_TRUE(c->Memory());
    EXPECT_TRUE(c->MemorySpecified());
    EXPECT_TRUE(c->InCorrelatedSubquery());
    EXPECT_EQ(c->CorrelatedSubqueryID(), 7);
    EXPECT_NE(c->TableFields(), s->TableFields());
    s->SetTableFields(nullptr);
    EXPECT_EQ(c->GetFieldType("F"), ftFloat);  // the copy's own field list
    copy.SetItems(0, source.Items(0));
    EXPECT_EQ(copy.Items(0)->TableFields(), nullptr);
    EXPECT_THROW(copy.Items(0)->Assign(&source), EConvertError);
}

TEST(TableList, MergeListsAddsOnlyUnknownReferences) {
    TTableList a, b, merged;
    AddTable(a, "t", "x");
    AddTable(a, "u", "");
    AddTable(b, "T", "X");  // the same reference as a's first
    AddTable(b, "t", "y");
    AddTable(merged, "old", "");
    merged.MergeLists(&a, &b);
    ASSERT_EQ(merged.Count(), 3);
    EXPECT_EQ(merged.Items(0)->TableName(), "t");
    EXPECT_EQ(merged.Items(1)->TableName(), "u");
    EXPECT_EQ(merged.Items(2)->CorrelationName(), "y");
    merged.MergeLists(nullptr, &b);
    EXPECT_EQ(merged.Count(), 2);
    merged.MergeLists(&merged, &a);  // merging into one of the sources: only u is new
    ASSERT_EQ(merged.Count(), 3);
    EXPECT_EQ(merged.Items(2)->TableName(), "u");
    merged.MergeLists(&a, nullptr);
    EXPECT_EQ(merged.Count(), 2);
}

TEST(Mappers, RecogniseTheirWordsIgnoringCase) {
    TAggFuncMapper agg;
    TStrFuncMapper str;
    TDataTypeMapper types;
    struct Case {
        TBaseMapper* Mapper;
        const char* Word;
        const char* Next;
        int Members;
        int Ordinal;
        // clang-format off
    } cases[] = {
        {&agg, "count", "", 1, oafCount}, {&agg, "Avg", "", 1, oafAvg},   {&agg, "SUM", "", 1, oafSum},
        {&agg, "max", "", 1, oafMax},     {&agg, "MIN", "", 1, oafMin},   {&agg, "total", "", 0, oafUnknown},
        {&str, "substring", "", 1, osfSubstring}, {&str, "Upper", "", 1, osfUpper},
        {&str, "LOWER", "", 1, osfLower}, {&str, "trim", "", 1, osfTrim}, {&str, "ltrim", "", 0, osfUnknown},
        {&types, "character", "", 1, ftString}, {&types, "CHAR", "", 1, ftString},
        {&types, "VarChar", "", 1, ftString},   {&types, "numeric", "", 1, ftFloat},
        {&types, "DECIMAL", "", 1, ftFloat},    {&types, "dec", "", 1, ftFloat},
        {&types, "INTEGER", "", 1, ftInteger},  {&types, "int", "", 1, ftInteger},
        {&types, "SMALLINT", "", 1, ftSmallint}, {&types, "float", "", 1, ftFloat},
        {&types, "REAL", "", 1, ftFloat},       {&types, "Date", "", 1, ftDate},
        {&types, "TIME", "", 1, ftTime},        {&types, "timestamp", "", 1, ftDateTime},
        {&types, "double", "precision", 2, ftFloat}, {&types, "DOUBLE PRECISION", "", 1, ftFloat},
        {&types, "DOUBLE", "", 0, ftUnknown},   {&types, "BOOLEAN", "", 0, ftUnknown},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(c.Mapper->IsMemberToken(c.Word, c.Next), c.Members) << c.Word;
        EXPECT_EQ(c.Mapper->GetCustomOrdinal(c.Word, c.Next), c.Ordinal) << c.Word;
    }
    EXPECT_EQ(types.GetDataType("double", "Precision"), ftFloat);
    EXPECT_EQ(types.WordCount(), 2);
}

}  // namespace
}  // namespace ostra
