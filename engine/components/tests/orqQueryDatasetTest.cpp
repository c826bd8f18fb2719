// The result set: the accumulators on their own (kinds, NULL and Empty, DISTINCT, values beyond
// 2^53), then whole statements parsed, planned and filled into result tables over tables on disk
// and in memory (plain, DISTINCT, grouped and aggregate fills, HAVING, MaxRecords, the COUNT(*)
// short cut, live results), the writes to a target table, and a randomized grouped fill
// compared with a model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqFuncResult.h"
#include "engine/components/orqQueryDataset.h"
#include "engine/sql/orqExecParsers.h"
#include "engine/sql/orqOrderByParser.h"
#include "engine/storage/orqErrors.h"
#include "host/Exceptions.h"
#include "host/db/Field.h"
#include "support/orqCursorFixture.h"
#include "support/orqPlannedQuery.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using componentstest::TPlannedQuery;

std::string Show(const Variant& V) {
    if (VarIsNull(V)) return "NULL";
    if (VarIsEmpty(V)) return "EMPTY";
    return VarToStr(V);
}

// --- the accumulators ----------------------------------------------------------------------

struct TAggCase {
    const char* Name;
    TOrqSQLAggFunc Func;
    bool Distinct;
    TFieldType Type;
    std::vector<Variant> Values;
    std::string Expected;
};

TEST(FuncResult, AccumulatesByKind) {
    const int64_t big = int64_t(1) << 53;
    const Variant empty;
    const std::vector<TAggCase> cases{
        {"count skips NULL and Empty",
         oafCount,
         false,
         ftInteger,
         {Variant(1), Null(), empty, Variant(3)},
         "2"},
        {"sum skips NULL and Empty", oafSum, false, ftInteger, {Variant(1), Null(), empty, Variant(3)}, "4"},
        {"avg divides by the values taken", oafAvg, false, ftFloat, {Variant(1), Null(), Variant(2)}, "1.5"},
        {"no values: 0", oafSum, false, ftInteger, {Null(), empty}, "0"},
        {"no values for avg: 0", oafAvg, false, ftFloat, {}, "0"},
        {"no values for a text MIN: empty text", oafMin, false, ftString, {Null()}, ""},
        {"integer sums beyond 2^53 stay exact",
         oafSum,
         false,
         ftFloat,
         {Variant(static_cast<long long>(big)), Variant(1), Variant(1)},
         std::to_string(big + 2)},
        {"sums of 64-bit values",
         oafSum,
         false,
         ftFloat,
         {Variant(static_cast<long long>(big - 1)), Variant(static_cast<long long>(big - 1))},
         std::to_string(2 * big - 2)},
        {"currency sums are exact",
         oafSum,
         false,
         ftCurrency,
         {Variant(Currency::FromScaled(1)), Variant(Currency::FromScaled(2))},
         "0.0003"},
        {"max of strings",
         oafMax,
         false,
         ftString,
         {Variant("pear"), Variant("apple"), Null(), Variant("Zoo")},
         "Zoo"},
        {"min of strings",
         oafMin,
         false,
         ftString,
         {Variant("pear"), Variant("apple"), Variant("Zoo")},
         "apple"},
        {"min of floats and integers", oafMin, false, ftFloat, {Variant(2), Variant(1.5), Variant(3)}, "1.5"},
        {"count distinct",
         oafCount,
         true,
         ftInteger,
         {Variant(1), Variant(1), Null(), Variant(2), empty},
         "2"},
        {"sum distinct", oafSum, true, ftInteger, {Variant(5), Variant(5), Variant(7)}, "12"},
        {"avg distinct", oafAvg, true, ftFloat, {Variant(5), Variant(5), Variant(7)}, "6"},
        {"distinct sum beyond 2^53",
         oafSum,
         true,
         ftFloat,
         {Variant(static_cast<long long>(big)), Variant(1), Variant(1), Variant(2)},
         std::to_string(big + 3)},
        {"distinct strings", oafCount, true, ftString, {Variant("a"), Variant("b"), Variant("a")}, "2"},
        {"max distinct of strings", oafMax, true, ftString, {Variant("a"), Variant("c"), Variant("b")}, "c"},
        {"distinct over nothing", oafMin, true, ftInteger, {Null()}, "0"},
        {"sums of number texts add, not join", oafSum, false, ftFloat, {Variant("1.5"), Variant("2")}, "3.5"},
        {"distinct sums of number texts",
         oafSum,
         true,
         ftFloat,
         {Variant("1"), Variant("2"), Variant("2")},
         "3"},
    };
    for (const TAggCase& c : cases) {
        TFuncResultItem item(0, c.Func, c.Distinct, c.Type, DBANSICompareStrings);
        for (const Variant& v : c.Values) item.SetNewValue(v);
        EXPECT_EQ(Show(item.CalculateNumericFuncResult()), c.Expected) << c.Name;
    }
}

TEST(FuncResult, ValuesThatCannotBeAddedRaise) {
    for (bool distinct : {false, true}) {
        TFuncResultItem item(0, oafSum, distinct, ftFloat, nullptr);
        try {
            item.SetNewValue(Variant(1));
            item.SetNewValue(Variant("pear"));
            item.CalculateNumericFuncResult();
            ADD_FAILURE() << "no error";
        } catch (const EOrqDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode, 9645);
            EXPECT_NE(std::string(e.what()).find("Aggregate column data conversion error : "),
                      std::string::npos);
        }
    }
}

TEST(FuncResult, CountOfRowsCountsEveryValue) {
    TFuncResultItem item(0, oafCount, false, ftInteger, nullptr);
    item.SetCountsRows(true);
    for (const Variant& v : {Variant(), Null(), Variant(1)}) item.SetNewValue(v);
    EXPECT_EQ(Show(item.CalculateNumericFuncResult()), "3");
}

TEST(FuncResult, StringsCompareUnderTheCollation) {
    // The dictionary order puts "b" before "C"; byte order would put "C" first.
    TFuncResultItem ansi(0, oafMin, false, ftString, DBANSICompareStrings);
    TFuncResultItem bytes(0, oafMin, false, ftString, nullptr);
    for (const char* s : {"b", "C"}) {
        ansi.SetNewValue(Variant(s));
        bytes.SetNewValue(Variant(s));
    }
    EXPECT_EQ(Show(ansi.CalculateNumericFuncResult()), "b");
    EXPECT_EQ(Show(bytes.CalculateNumericFuncResult()), "C");
}

TEST(FuncResult, ListFindsHoldersByGroupAddress) {
    TFuncResultList list;
    for (uint32_t addr = 1; addr <= 1000; ++addr)
        list.AddNewResultItem("SUM(a)", addr, 2, 4, ftInteger, oafSum, false);
    for (uint32_t addr = 1; addr <= 1000; ++addr) list.SetNewValue(addr, 2, Variant(int(addr)));
    Variant v;
    ASSERT_TRUE(list.GetFuncResult(500, 2, v));
    EXPECT_EQ(Show(v), "500");
    EXPECT_EQ(list.GetHolder(7)->BaseTableName(), "7");
    EXPECT_FALSE(list.GetFuncResult(500, 3, v));
    EXPECT_THROW(list.SetNewValue(1001, 2, Variant(1)), EAssertionFailed);
}

// --- statements into result tables ---------------------------------------------------------

const test::TTableFixture& Tables() {
    static const test::TTableFixture tables{
        {"t",
         {{"k", ftInteger, 4},
          {"g", ftString, 9},
          {"a", ftInteger, 4},
          {"f", ftFloat, 8},
          {"s", ftString, 11}}},
        {"u", {{"k", ftInteger, 4}, {"v", ftString, 9}}},
        {"w", {{"k", ftInteger, 4}, {"a", ftInteger, 4}, {"b", ftInteger, 4}, {"m", ftMemo, 0}}},
        {"r", {{"g", ftInteger, 4}, {"h", ftString, 5}, {"v", ftInteger, 4}}},
    };
    return tables;
}

struct TRunOptions {
    int32_t MaxRecords = 0;
    bool Live = false;
    bool CountFromFilter = false;
};

// One SELECT planned and filled into a result table, as the query layer does it.
class TResultQuery {
public:
    TResultQuery(TOrqDataBase* DataBase, const std::string& ResultName, bool Memory = false)
        : Planned(Tables(), DataBase, Memory), Result(std::make_unique<TOrqQueryDataset>()) {
        Result->SetDataBase(DataBase);
        Result->SetTableName(ResultName);
    }

    void Run(const std::string& Sql, const TRunOptions& Options = {}) {
        Planned.Plan(Sql);
        if (::testing::Test::HasFatalFailure()) return;
        TOrqJoinDataProviderMgr& mgr = Planned.Mgr;
        mgr.OpenProviders();
        mgr.PrepareJoinExprEvaluator(Planned.Planned.ResidualExprRoot());
        TOrqBaseJoinDataProvider* root = mgr.RootProvider();
        TSelectFields& columns = Planned.Query.Analyser.SelectFields();
        const bool distinct = Planned.Query.Engine->SelectParser().IsDistinct();
        std::string groupFields, allFields;
        for (int i = 0; i < columns.Count(); ++i) {
            TSelectFieldItem* item = columns.GetItems(i);
            TResultSetField* field = Fields.Add();
            field->SetSelectFieldItem(item);
            field->SetFieldName(item->FieldName());
            field->SetDataType(item->DataType());
            if (item->SourceTableItem() != nullptr) {
                const TTableNameItem* table = item->SourceTableItem();
                TOrqBaseJoinDataProvider* provider = root->FindJoinProvider(
                    table->CorrelationName().empty() ? table->TableName() : table->CorrelationName());
                ASSERT_NE(provider, nullptr);
                field->SetDataProvider(provider);
                field->SetSourceFieldNo(provider->FindField(nullptr, item->SourceFieldName())->FieldNo());
            } else {
                field->SetDataProvider(root);
                field->PrepareJoinExprEvaluator(item->ExprRoot());
            }
            const int size = item->DataType() == ftString ? item->GetWriteableFieldSize() : 0;
            Result->FieldDefs().Add(item->FieldName(), item->DataType(), size, false);
            allFields += (allFields.empty() ? "" : ";") + item->FieldName();
            if (!item->HasAggregateFunction())
                groupFields += (groupFields.empty() ? "" : ";") + item->FieldName();
        }
        const bool grouped = columns.ContainsGroupedOutput();
        if (grouped) Result->IndexDefs().Add(C_IDXGROUPBY, groupFields, TIndexOptions{ixUnique});
        if (distinct) Result->IndexDefs().Add(C_IDXDISTINCT, allFields, TIndexOptions{});
        const TOrderByItems& order = Planned.Query.Engine->OrderByItems();
        std::string orderFields, descFields;
        for (int i = 0; i < order.Count(); ++i) {
            const TOrderByItem* item = order.Items(i);
            const std::string name = item->FieldIndex() > 0
                                         ? columns.GetItems(item->FieldIndex() - 1)->FieldName()
                                         : Fields.FindResultSetField(item->SortKey())->FieldName();
            orderFields += (orderFields.empty() ? "" : ";") + name;
            if (item->Descending()) descFields += (descFields.empty() ? "" : ";") + name;
        }
        if (!orderFields.empty())
            Result->IndexDefs().Add(C_IDXORDERBY, orderFields, TIndexOptions{})->SetDescFields(descFields);
        if (Options.Live) {
            Result->FieldDefs().Add(C_RECADDRFIELD, ftInteger, 0, false);
            Result->FieldDefs().Add(C_RECMODFLAGFIELD, ftInteger, 0, false);
        }
        Result->SetCreateLiveResult(Options.Live);
        Result->SetProviderMgr(&mgr);
        Result->PrepareEmptyResultSet(false);
        Result->SetMaxRecords(Options.MaxRecords);
        // Grouping without aggregates still groups.
        if (columns.ContainsAggregateColumns() || grouped) {
            Result->PopulateAggregateResultSet(Fields, grouped, Options.CountFromFilter);
            if (TOrqExpr* having = Planned.Query.Engine->HavingParser().Expr()) {
                // HAVING names result columns by their names in the result table.
                for (TOrqExprNode* n = having->FirstNode(); n != nullptr; n = n->Next())
                    if (n->Kind() == enkField)
                        if (TResultSetField* f = Fields.FindResultSetField(VarToStr(n->Data())))
                            n->SetData(Variant(f->FieldName()));
                Result->ProcessHavingClause(having->FirstNode());
            }
        } else {
            Result->PopulateResultSet(Fields, distinct);
        }
        if (Options.Live) Result->SetReadOnlyResultFields(Fields);
    }

    // The rows of the result, each as its values joined by "|", in the table's order.
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        for (Result->First(); !Result->Eof(); Result->Next()) {
            std::string line;
            for (int i = 0; i < Result->FieldCount(); ++i)
                line += (i ? "|" : "") +
                        Show(Result->Fields()[i]->IsNull() ? Null() : Result->Fields()[i]->AsVariant());
            rows.push_back(line);
        }
        return rows;
    }
    std::vector<std::string> SortedRows() {
        std::vector<std::string> rows = Rows();
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    TPlannedQuery Planned;
    TResultSetFields Fields;
    std::unique_ptr<TOrqQueryDataset> Result;
};

// Tables t (k, g, a, f, s) and u (k, v) with NULLs, on disk or in memory (the parameter).
class QueryResult : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        DataBase = componentstest::MakeDataBase(Dir.File("result.orq"));
        const bool memory = GetParam();
        componentstest::CreateTable(
            *DataBase, "t",
            {{"k", ftInteger}, {"g", ftString, 8}, {"a", ftInteger}, {"f", ftFloat}, {"s", ftString, 10}},
            {{"ixK", "k", TIndexOptions{ixPrimary, ixUnique}}}, memory);
        componentstest::CreateTable(*DataBase, "u", {{"k", ftInteger}, {"v", ftString, 8}}, {}, memory);
        auto t = componentstest::OpenCursor(*DataBase, "t", memory);
        const Variant n = Null();
        const std::vector<std::vector<Variant>> rows{
            {Variant(1), Variant("x"), Variant(10), Variant(1.5), Variant("pear")},
            {Variant(2), Variant("x"), n, Variant(2.5), Variant("Apple")},
            {Variant(3), Variant("y"), Variant(30), n, Variant("apple")},
            {Variant(4), Variant("y"), Variant(30), Variant(4.0), n},
            {Variant(5), n, Variant(5), Variant(0.5), Variant("fig")},
        };
        for (const auto& r : rows)
            componentstest::Insert(*t, {{"k", r[0]}, {"g", r[1]}, {"a", r[2]}, {"f", r[3]}, {"s", r[4]}});
        auto u = componentstest::OpenCursor(*DataBase, "u", memory);
        for (int k : {1, 3, 3, 9})
            componentstest::Insert(*u, {{"k", Variant(k)}, {"v", Variant("v" + std::to_string(k))}});
        componentstest::CreateTable(*DataBase, "w",
                                    {{"k", ftInteger}, {"a", ftInteger}, {"b", ftInteger}, {"m", ftMemo}},
                                    {{"ixK", "k", TIndexOptions{ixUnique}}}, memory);
        auto w = componentstest::OpenCursor(*DataBase, "w", memory);
        for (int k : {10, 20, 30})
            componentstest::Insert(*w, {{"k", Variant(k)}, {"a", Variant(k / 10)}, {"b", Variant(k * 10)}});
    }

    // A dataset over the target table w, open on its index ixK (the order an index walk would
    // take while keys change).
    std::unique_ptr<TOrqQueryDataset> Target(bool Open = true) {
        auto d = std::make_unique<TOrqQueryDataset>();
        d->SetDataBase(DataBase.get());
        d->SetTableName("w");
        d->SetMemory(GetParam());
        if (Open) {
            d->Open();
            d->InternalSetIndexName("ixK");
        }
        return d;
    }

    // The values of w in the order of ixK, each row as k|a|b.
    std::vector<std::string> TargetRows() {
        auto w = componentstest::OpenCursor(*DataBase, "w", GetParam(), "ixK");
        std::vector<std::string> rows;
        for (bool ok = w->DataSetFirst(); ok; ok = w->DataSetNext())
            rows.push_back(Show(componentstest::GetValue(*w, "k")) + "|" +
                           Show(componentstest::GetValue(*w, "a")) + "|" +
                           Show(componentstest::GetValue(*w, "b")));
        return rows;
    }

    // The assignments of an UPDATE statement.
    void RunUpdate(const std::string& Sql, TOrqQueryDataset& Dataset) {
        test::TTestQuery q(Tables());
        ASSERT_TRUE(q.Validate(Sql)) << q.ErrorText();
        std::vector<uint32_t> list;
        Dataset.UpdateData(true, list, q.Engine->UpdateParser().RowConstructor());
    }

    std::unique_ptr<TResultQuery> Query(const std::string& Sql, const TRunOptions& Options = {}) {
        auto q =
            std::make_unique<TResultQuery>(DataBase.get(), "res" + std::to_string(++Results), GetParam());
        q->Run(Sql, Options);
        return q;
    }

    test::TempDir Dir;
    std::unique_ptr<componentstest::TTestDataBase> DataBase;
    int Results = 0;
};

struct TStatementCase {
    const char* Sql;
    std::vector<std::string> Rows;  // sorted
};

TEST_P(QueryResult, FillsMatchTheirStatements) {
    const std::vector<TStatementCase> cases{
        {"SELECT k, a + 1, s FROM t WHERE k < 3", {"1|11|pear", "2|NULL|Apple"}},
        {"SELECT t.k, u.v FROM t, u WHERE t.k = u.k", {"1|v1", "3|v3", "3|v3"}},
        {"SELECT DISTINCT g FROM t", {"NULL", "x", "y"}},
        {"SELECT DISTINCT a, g FROM t", {"10|x", "30|y", "5|NULL", "NULL|x"}},
        // NULLs are skipped by every aggregate but COUNT(*); AVG divides by the values taken.
        {"SELECT COUNT(*), COUNT(a), SUM(a), AVG(f), MIN(s), MAX(s) FROM t", {"5|4|75|2.125|apple|pear"}},
        // Over no rows: one row of zeros.
        {"SELECT COUNT(*), SUM(a), AVG(f), MIN(a), MAX(a) FROM t WHERE k > 100", {"0|0|0|0|0"}},
        // A computed argument that is NULL is skipped (the NULL a of k = 2).
        {"SELECT g, COUNT(*), SUM(a + 1) FROM t GROUP BY g", {"NULL|1|6", "x|2|11", "y|2|62"}},
        {"SELECT COUNT(DISTINCT a), SUM(DISTINCT a), COUNT(DISTINCT g) FROM t", {"3|45|2"}},
        {"SELECT MIN(DISTINCT s), MAX(DISTINCT s) FROM t", {"apple|pear"}},
        // Grouping without aggregates gives the groups.
        {"SELECT g FROM t GROUP BY g", {"NULL", "x", "y"}},
        // An expression around an aggregate is computed on the final value.
        {"SELECT g, SUM(a) * 2 FROM t GROUP BY g", {"NULL|10", "x|20", "y|120"}},
        // HAVING drops groups whose condition is False or unknown (g NULL).
        {"SELECT g, SUM(a) FROM t GROUP BY g HAVING SUM(a) > 5", {"x|10", "y|60"}},
        {"SELECT g, COUNT(*) FROM t GROUP BY g HAVING g <> 'x'", {"y|2"}},
        {"SELECT t.k, COUNT(u.v) FROM t, u WHERE t.k = u.k GROUP BY t.k", {"1|1", "3|2"}},
    };
    for (const TStatementCase& c : cases) {
        SCOPED_TRACE(c.Sql);
        try {
            auto q = Query(c.Sql);
            if (HasFatalFailure()) return;
            EXPECT_EQ(q->SortedRows(), c.Rows);
            EXPECT_EQ(q->Result->GetRowsAffected(), int(c.Rows.size()));
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

TEST_P(QueryResult, ResultsReadInOrderByOrder) {
    const std::vector<TStatementCase> cases{
        {"SELECT k, s FROM t WHERE s IS NOT NULL ORDER BY s", {"3|apple", "2|Apple", "5|fig", "1|pear"}},
        {"SELECT k FROM t ORDER BY 1 DESC", {"5", "4", "3", "2", "1"}},
        {"SELECT g, SUM(a) FROM t GROUP BY g ORDER BY 2 DESC", {"y|60", "x|10", "NULL|5"}},
        {"SELECT DISTINCT g FROM t ORDER BY g DESC", {"y", "x", "NULL"}},
    };
    for (const TStatementCase& c : cases) {
        SCOPED_TRACE(c.Sql);
        EXPECT_EQ(Query(c.Sql)->Rows(), c.Rows);
    }
}

TEST_P(QueryResult, MaxRecordsStopsPlainFillsAndFailsAggregateOnes) {
    EXPECT_EQ(Query("SELECT k FROM t", {3})->Rows().size(), 3u);
    // DISTINCT counts only the rows it keeps.
    EXPECT_EQ(Query("SELECT DISTINCT g FROM t", {3})->SortedRows(),
              (std::vector<std::string>{"NULL", "x", "y"}));
    EXPECT_EQ(Query("SELECT g, COUNT(*) FROM t GROUP BY g", {3})->Rows().size(), 3u);
    try {
        Query("SELECT k, COUNT(*) FROM t GROUP BY k", {3});
        ADD_FAILURE() << "no error";
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 9645);
        EXPECT_NE(std::string(e.what()).find("Result set limit of 3 has been exceeded"), std::string::npos)
            << e.what();
    }
}

TEST_P(QueryResult, CountShortCutOnlyWhenTheCallerAllowsIt) {
    const TRunOptions shortCut{0, false, true};
    // The table's filter answers the count.
    EXPECT_EQ(Query("SELECT COUNT(*) FROM t WHERE a = 30", shortCut)->Rows(), std::vector<std::string>{"2"});
    // COUNT of a column and COUNT(DISTINCT) never take it: NULLs and duplicates need the walk.
    EXPECT_EQ(Query("SELECT COUNT(a) FROM t", shortCut)->Rows(), std::vector<std::string>{"4"});
    EXPECT_EQ(Query("SELECT COUNT(DISTINCT a) FROM t", shortCut)->Rows(), std::vector<std::string>{"3"});
    // With a residual condition the caller does not allow it, and the walk sees the condition.
    auto q = Query("SELECT COUNT(*) FROM t WHERE 1 = 0");
    ASSERT_NE(q->Planned.Planned.ResidualExprRoot(), nullptr);
    EXPECT_EQ(q->Rows(), std::vector<std::string>{"0"});
}

TEST_P(QueryResult, LiveResultsCarryTheSourceRecord) {
    auto q = Query("SELECT k, a + 1 FROM t WHERE k > 2", {0, true});
    TOrqQueryDataset& r = *q->Result;
    ASSERT_EQ(r.FieldCount(), 2);  // the hidden columns are no dataset fields
    EXPECT_FALSE(r.Fields()[0]->ReadOnly());
    EXPECT_TRUE(r.Fields()[1]->ReadOnly());
    auto t = componentstest::OpenCursor(*DataBase, "t", GetParam());
    int rows = 0;
    for (r.First(); !r.Eof(); r.Next(), ++rows) {
        Variant addr, flag, k;
        r.GetFieldData(2, addr);
        r.GetFieldData(3, flag);
        t->DataSetSetToUnorderedRecord(uint32_t(addr.AsInteger()));
        EXPECT_EQ(Show(componentstest::GetValue(*t, "k")), Show(r.Fields()[0]->AsVariant()));
        EXPECT_EQ(uint32_t(flag.AsInteger()), t->DataSetGetRecordModFlag());
    }
    EXPECT_EQ(rows, 3);
    // A join cannot be live.
    EXPECT_THROW(Query("SELECT t.k FROM t, u WHERE t.k = u.k", {0, true}), EAssertionFailed);
}

TEST_P(QueryResult, ResultTableIsEmptiedForARefill) {
    auto q = Query("SELECT k FROM t WHERE k > 3");
    q->Result->PrepareEmptyResultSet(true);
    EXPECT_EQ(q->Result->GetTotalRecordCount(), 0);
    q->Planned.Mgr.OpenProviders();
    q->Result->PopulateResultSet(q->Fields, false);
    EXPECT_EQ(q->Rows().size(), 2u);
}

TEST_P(QueryResult, UpdateWithoutWhereVisitsEveryRecordOnce) {
    auto w = Target();
    // Each new key lands after the next old one: an index walk would skip 20.
    RunUpdate("UPDATE w SET k = k + 15", *w);
    EXPECT_EQ(w->GetRowsAffected(), 3);
    EXPECT_EQ(TargetRows(), (std::vector<std::string>{"25|1|100", "35|2|200", "45|3|300"}));
    // Later assignments see what earlier ones stored.
    RunUpdate("UPDATE w SET a = b, b = a", *w);
    EXPECT_EQ(TargetRows(), (std::vector<std::string>{"25|100|100", "35|200|200", "45|300|300"}));
}

TEST_P(QueryResult, DeleteRemovesTheListedOrEveryRecord) {
    TPlannedQuery q(Tables(), DataBase.get(), GetParam());
    q.Plan("SELECT k FROM w WHERE k > 15");
    q.Mgr.OpenProviders();
    TOrqQueryDataset lister;
    lister.SetProviderMgr(&q.Mgr);
    std::vector<uint32_t> list;
    lister.PopulateResultSetAddrList(list);
    ASSERT_EQ(list.size(), 2u);
    auto w = Target(false);
    w->DeleteData(false, list);
    EXPECT_EQ(w->GetRowsAffected(), 2);
    EXPECT_FALSE(w->Active());
    EXPECT_EQ(TargetRows(), std::vector<std::string>{"10|1|100"});
    list.clear();
    w->DeleteData(true, list);
    EXPECT_EQ(w->GetRowsAffected(), 1);
    EXPECT_TRUE(TargetRows().empty());
    // A root that is a join has no single record per row.
    TPlannedQuery join(Tables(), DataBase.get(), GetParam());
    join.Plan("SELECT t.k FROM t, u WHERE t.k = u.k");
    join.Mgr.OpenProviders();
    lister.SetProviderMgr(&join.Mgr);
    EXPECT_THROW(lister.PopulateResultSetAddrList(list), EAssertionFailed);
}

TEST_P(QueryResult, InsertStoresValuesBlobsAndNulls) {
    TResultSetFields fields;
    const std::vector<std::pair<std::string, Variant>> values{
        {"k", Variant(7)}, {"m", Variant("a memo")}, {"a", Null()}};
    for (const auto& [name, value] : values) {
        TResultSetField* f = fields.Add();
        f->SetFieldName(name);
        f->SetData(value);
    }
    auto w = Target(false);
    w->InsertData(fields);
    EXPECT_EQ(w->GetRowsAffected(), 1);
    EXPECT_FALSE(w->Active());
    EXPECT_EQ(TargetRows(), (std::vector<std::string>{"7|NULL|NULL", "10|1|100", "20|2|200", "30|3|300"}));
    w->Open();
    ASSERT_TRUE(w->Locate("k", Variant(7), {}));
    EXPECT_EQ(w->FieldByName("m")->AsString(), "a memo");
    w->Close();
    // A blob column of a result is copied through its stream.
    EXPECT_EQ(Query("SELECT k, m FROM w WHERE k < 20")->SortedRows(),
              (std::vector<std::string>{"10|NULL", "7|a memo"}));
    // The NULL side of an outer join gives NULL blobs.
    EXPECT_EQ(Query("SELECT u.k, w.m FROM u LEFT OUTER JOIN w ON u.k = w.k WHERE u.k < 5")->SortedRows(),
              (std::vector<std::string>{"1|NULL", "3|NULL", "3|NULL"}));
    // An unknown column fails before anything is written.
    fields.GetItems(1)->SetFieldName("nosuch");
    EXPECT_THROW(w->InsertData(fields), Exception);
    EXPECT_EQ(TargetRows().size(), 4u);
}

TEST_P(QueryResult, InsertFromDatasetCopiesByPosition) {
    auto source = Query("SELECT a, k FROM t WHERE k < 3");
    TResultSetFields fields;
    for (const char* name : {"b", "k"}) fields.Add()->SetFieldName(name);
    auto w = Target(false);
    w->InsertDataFromDataset(fields, source->Result.get(), true, false);
    EXPECT_EQ(w->GetRowsAffected(), 2);
    EXPECT_EQ(TargetRows(),
              (std::vector<std::string>{"1|NULL|10", "2|NULL|NULL", "10|1|100", "20|2|200", "30|3|300"}));

    // Appending to a distinct result skips rows it already holds (a UNION without ALL).
    auto distinct = Query("SELECT DISTINCT g FROM t");
    auto more = Query("SELECT g FROM t WHERE k > 2");
    distinct->Result->InsertDataFromDataset(distinct->Fields, more->Result.get(), true, true);
    EXPECT_EQ(distinct->Result->GetRowsAffected(), 0);
    distinct->Result->InsertDataFromDataset(distinct->Fields, more->Result.get(), false, false);
    EXPECT_EQ(distinct->Result->GetRowsAffected(), 3);
    EXPECT_EQ(distinct->SortedRows(), (std::vector<std::string>{"NULL", "NULL", "x", "y", "y", "y"}));
}

// --- a randomized grouped fill against a model -----------------------------------------------

TEST(QueryResultModel, GroupedAggregatesMatchAModel) {
    test::TempDir dir;
    auto db = componentstest::MakeDataBase(dir.File("model.orq"));
    componentstest::CreateTable(*db, "r", {{"g", ftInteger}, {"h", ftString, 4}, {"v", ftInteger}}, {},
                                false);
    struct TGroup {
        int Rows = 0, Values = 0;
        int64_t Sum = 0;
        int Min = 0, Max = 0;
        std::set<int> Distinct;
    };
    std::map<std::string, TGroup> model;
    std::mt19937 rnd(1211);
    const char* const texts[] = {"a", "B", "c"};
    {
        auto r = componentstest::OpenCursor(*db, "r", false);
        for (int i = 0; i < 3000; ++i) {
            const Variant g = rnd() % 10 == 0 ? Null() : Variant(int(rnd() % 40));
            const Variant h = rnd() % 8 == 0 ? Null() : Variant(texts[rnd() % 3]);
            const bool vNull = rnd() % 6 == 0;
            const int v = int(rnd() % 2001) - 1000 + (rnd() % 50 == 0 ? 100000000 : 0);
            componentstest::Insert(*r, {{"g", g}, {"h", h}, {"v", vNull ? Null() : Variant(v)}});
            TGroup& group = model[Show(g) + "|" + Show(h)];
            ++group.Rows;
            if (vNull) continue;
            group.Min = group.Values ? std::min(group.Min, v) : v;
            group.Max = group.Values ? std::max(group.Max, v) : v;
            ++group.Values;
            group.Sum += v;
            group.Distinct.insert(v);
        }
    }
    std::vector<std::string> expected;
    for (const auto& [key, g] : model)
        expected.push_back(key + "|" + std::to_string(g.Rows) + "|" + std::to_string(g.Values) + "|" +
                           std::to_string(g.Sum) + "|" + std::to_string(g.Min) + "|" + std::to_string(g.Max) +
                           "|" + std::to_string(g.Distinct.size()));
    std::sort(expected.begin(), expected.end());
    TResultQuery q(db.get(), "res");
    q.Run("SELECT g, h, COUNT(*), COUNT(v), SUM(v), MIN(v), MAX(v), COUNT(DISTINCT v) FROM r GROUP BY g, h");
    EXPECT_EQ(q.SortedRows(), expected);
}

// Groups are the keys "idxgroupby" finds equal, whether the fill finds them by hashing (the
// case-sensitive dictionary order) or by searching the index (byte order): 0 and -0 are one
// group, texts that differ only in case are two, NULL is a key of its own.
TEST(QueryResultModel, GroupsAreTheKeysTheGroupIndexFindsEqual) {
    for (const TSortOrder order : {soANSI, soASCII}) {
        SCOPED_TRACE(order == soANSI ? "soANSI" : "soASCII");
        test::TempDir dir;
        componentstest::TTestDataBase db;
        db.SetDataBaseName(dir.File("groups.orq"));
        db.SetDefaultSortOrder(order);
        db.CreateDatabase();
        db.SetConnected(true);
        componentstest::CreateTable(
            db, "t", {{"k", ftInteger}, {"g", ftString, 8}, {"a", ftInteger}, {"f", ftFloat}, {"s", ftString, 10}},
            {}, false);
        {
            auto t = componentstest::OpenCursor(db, "t", false);
            const Variant n = Null();
            const std::vector<std::pair<Variant, Variant>> rows{
                {Variant(0.0), Variant("a")}, {Variant(-0.0), Variant("a")},  {n, Variant("A")},
                {Variant(0.0), Variant("A")}, {Variant(-0.0), Variant("A")}, {Variant(1.5), Variant("A")},
                {n, Variant("A")},            {Variant(0.0), n},
            };
            for (size_t i = 0; i < rows.size(); ++i)
                componentstest::Insert(*t, {{"k", Variant(int(i))}, {"f", rows[i].first}, {"g", rows[i].second}});
        }
        TResultQuery q(&db, "res");
        q.Run("SELECT f, g, COUNT(*), SUM(k) FROM t GROUP BY f, g");
        EXPECT_EQ(q.SortedRows(),
                  (std::vector<std::string>{"0|A|2|7", "0|NULL|1|7", "0|a|2|1", "1.5|A|1|5", "NULL|A|2|8"}));
    }
}

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, QueryResult, ::testing::Values(false, true),
                         [](const auto& Info) { return Info.param ? "Memory" : "Disk"; });

}  // namespace
}  // namespace ostra
