// The query plan: the provider trees it builds from SQL text (left-deep, FROM joins first, join
// items in WHERE order, every missing table cross-joined, each table's filter on its provider)
// and what it leaves to the residual; then whole statements run through the analyser, the plan
// and the join providers over tables on disk with NULL and duplicate keys, compared row for row
// with a nested-loop evaluation of the same statement.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/components/orqJoinAnalysis.h"
#include "engine/components/orqQueryAnalyser.h"
#include "engine/components/orqQueryPlanner.h"
#include "engine/sql/orqExprEvaluator.h"
#include "engine/sql/tests/support/TestExprParsing.h"
#include "engine/sql/tests/support/TestQueryDriver.h"
#include "engine/storage/orqLogger.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "support/orqCursorFixture.h"
#include "support/orqPlannedQuery.h"
#include "testsupport/TestFiles.h"

namespace ostra {
namespace {

using componentstest::TFieldSpec;
using componentstest::TIndexSpec;

// Every table has the same columns: two integers, a float and a string.
const std::vector<test::TestField> kFields{
    {"k", ftInteger, 4}, {"x", ftInteger, 4}, {"y", ftFloat, 8}, {"s", ftString, 9}};
const std::vector<std::string> kTables{"a", "b", "c", "d"};

const test::TTableFixture& Fixture() {
    static const test::TTableFixture tables = [] {
        test::TTableFixture t;
        for (const std::string& name : kTables) t[name] = kFields;
        return t;
    }();
    return tables;
}

using componentstest::TPlannedQuery;

std::string ShowJoinType(TOrqJoinType t) {
    static const char* const names[] = {"NONE", "CROSS", "UNION", "INNER", "LEFT", "RIGHT", "FULL"};
    return names[t];
}

// The tree: a table by its lookup name with its filter in brackets, a join as
// (KIND outer, inner [ON cond]).
std::string ShowTree(const TOrqBaseJoinDataProvider* p) {
    if (p == nullptr) return "-";
    if (dynamic_cast<const TOrqNonJoinDataProvider*>(p) != nullptr) {
        std::string s = p->CorrelationName().empty() ? p->ProviderName() : p->CorrelationName();
        if (p->JoinSelectExprRoot() != nullptr) s += "[" + test::Show(p->JoinSelectExprRoot()) + "]";
        return s;
    }
    const auto* join = static_cast<const TOrqStdJoinDataProvider*>(p);
    std::string s = "(" + ShowJoinType(p->JoinType()) + " " + ShowTree(p->OuterProvider()) + ", " +
                    ShowTree(p->InnerProvider());
    if (join->JoinExprRoot() != nullptr) s += " ON " + test::Show(join->JoinExprRoot());
    return s + ")";
}

// --- tree shapes ---------------------------------------------------------------------------

class QueryPlan : public ::testing::Test {
protected:
    void SetUp() override { DataBase = componentstest::MakeDataBase(Dir.File("plan.orq")); }
    test::TempDir Dir;
    std::unique_ptr<componentstest::TTestDataBase> DataBase;
};

TEST_F(QueryPlan, BuildsLeftDeepTrees) {
    struct Case {
        const char* Sql;
        const char* Tree;
        const char* Residual;
    } cases[] = {
        {"SELECT * FROM a", "a", "-"},
        {"SELECT * FROM a WHERE a.x = 1", "a[(EQ a.x 1)]", "-"},
        {"SELECT * FROM a, b", "(CROSS a, b)", "-"},
        {"SELECT * FROM a, b WHERE a.k = b.k AND b.x > 2", "(INNER a, b[(GT b.x 2)] ON (EQ a.k b.k))", "-"},
        {"SELECT * FROM a, b, c WHERE a.k = b.k AND b.x = c.x",
         "(INNER (INNER a, b ON (EQ a.k b.k)), c ON (EQ b.x c.x))", "-"},
        {"SELECT * FROM a, b, c WHERE a.k = b.k", "(CROSS (INNER a, b ON (EQ a.k b.k)), c)", "-"},
        // Tables joined by an item with neither table in the tree: cross-joined on, the earlier
        // join kept.
        {"SELECT * FROM a, b, c, d WHERE a.k = b.k AND c.y = d.y",
         "(INNER (CROSS (INNER a, b ON (EQ a.k b.k)), c), d ON (EQ c.y d.y))", "-"},
        // An item that links a new table to the tree goes before one that does not.
        {"SELECT * FROM a, b, c, d WHERE a.k = b.k AND c.y = d.y AND b.x = c.x",
         "(INNER (INNER (INNER a, b ON (EQ a.k b.k)), c ON (EQ b.x c.x)), d ON (EQ c.y d.y))", "-"},
        // A triangle: the third condition finds both tables joined and is left to the residual.
        {"SELECT * FROM a, b, c WHERE a.k = b.k AND b.x = c.x AND a.y = c.y",
         "(INNER (INNER a, b ON (EQ a.k b.k)), c ON (EQ b.x c.x))", "(EQ a.y c.y)"},
        {"SELECT * FROM a JOIN b ON a.k = b.k WHERE a.x = b.x", "(INNER a, b ON (EQ a.k b.k))", "(EQ a.x b.x)"},
        {"SELECT * FROM a, b, c WHERE a.x + b.y = c.k AND a.k = b.k",
         "(CROSS (INNER a, b ON (EQ a.k b.k)), c)", "(EQ c.k (ADD a.x b.y))"},
        // Explicit joins first, then the rest.
        {"SELECT * FROM a JOIN b ON a.k = b.k, c", "(CROSS (INNER a, b ON (EQ a.k b.k)), c)", "-"},
        {"SELECT * FROM a, b LEFT JOIN c ON b.k = c.k WHERE a.x = c.x AND a.y = 1",
         "(INNER (LEFT b, c ON (EQ b.k c.k)), a[(EQ a.y 1)] ON (EQ a.x c.x))", "-"},
        {"SELECT * FROM a LEFT JOIN b ON a.k = b.k WHERE b.y = 2 AND a.x = 1",
         "(LEFT a[(EQ a.x 1)], b ON (EQ a.k b.k))", "(EQ b.y 2)"},
        {"SELECT * FROM a RIGHT JOIN b ON a.k = b.k", "(RIGHT a, b ON (EQ a.k b.k))", "-"},
        {"SELECT * FROM a FULL JOIN b ON a.k = b.k", "(FULL a, b ON (EQ a.k b.k))", "-"},
        {"SELECT * FROM a UNION JOIN b", "(UNION a, b)", "-"},
        {"SELECT * FROM a CROSS JOIN b JOIN c ON c.k = b.k", "(INNER (CROSS a, b), c ON (EQ c.k b.k))", "-"},
        // A table and an alias of the same table are different providers.
        {"SELECT * FROM a q, a WHERE a.k = q.x", "(INNER q, a ON (EQ a.k q.x))", "-"},
        {"SELECT * FROM a p, a q, b WHERE p.k = q.k AND q.x = b.x",
         "(INNER (INNER p, q ON (EQ p.k q.k)), b ON (EQ q.x b.x))", "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Sql);
        TPlannedQuery q(Fixture(), DataBase.get());
        q.Plan(c.Sql);
        EXPECT_EQ(ShowTree(q.Mgr.RootProvider()), c.Tree);
        EXPECT_EQ(test::Show(q.Planned.ResidualExprRoot()), c.Residual);
    }
}

TEST_F(QueryPlan, NamesJoinsAfterTheirOperands) {
    TPlannedQuery q(Fixture(), DataBase.get());
    q.Plan("SELECT * FROM a JOIN b ON a.k = b.k, c p WHERE p.x = b.x");
    const TOrqBaseJoinDataProvider* root = q.Mgr.RootProvider();
    EXPECT_EQ(root->ProviderName(), "a.b.p");
    EXPECT_EQ(root->OuterProvider()->ProviderName(), "a.b");
    EXPECT_EQ(TOrqPlan::MapJoinType(trLeftOuterJoin), jtLeftOuterJoin);
    EXPECT_EQ(TOrqPlan::MapJoinType(trTableName), jtNone);
    EXPECT_EQ(TOrqPlan::MapJoinType(trSubQuery), jtNone);
}

TEST_F(QueryPlan, CreatePlanNeedsItsInputs) {
    TOrqJoins joins;
    TOrqSelects selects;
    TTableList tables;
    TOrqJoinDataProviderMgr mgr;
    const std::pair<std::function<void(TOrqPlan&)>, const char*> cases[] = {
        {[&](TOrqPlan&) {}, "The TableList is not assigned"},
        {[&](TOrqPlan& p) { p.SetTableList(&tables); }, "The Joins is not assigned"},
        {[&](TOrqPlan& p) { p.SetTableList(&tables); p.SetJoins(&joins); }, "The Selects is not assigned"},
        {[&](TOrqPlan& p) { p.SetTableList(&tables); p.SetJoins(&joins); p.SetSelects(&selects); },
         "The ProviderMgr is not assigned"},
    };
    for (const auto& [setUp, text] : cases) {
        TOrqPlan plan;
        setUp(plan);
        try {
            TOrqQueryPlanner::CreatePlan(&plan);
            ADD_FAILURE() << text;
        } catch (const EAssertionFailed& e) {
            EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(TOrqQueryPlanner::CreatePlan(nullptr), EAssertionFailed);
}

// --- whole statements against a nested-loop evaluation ---------------------------------------

using TRow = std::vector<Variant>;

// One table's current row for the nested-loop evaluation (no row: every column NULL); the
// root hands out the tables by name or alias.
class TModelRow : public TOrqExprDataProvider {
public:
    TModelRow() {
        for (std::size_t i = 0; i < kFields.size(); ++i) {
            TInternalFieldItem* item = ProviderFields().Add();
            item->SetFieldName(kFields[i].Name);
            item->SetDataType(kFields[i].Type);
            item->SetFieldNo(static_cast<int>(i) + 1);
            item->SetFieldIndex(static_cast<int>(i));
        }
        SetDBStringCompare(DBANSICompareStrings);
    }
    Variant GetDataAsVariant(int FieldNo) override {
        return Row == nullptr ? Null() : Row->at(static_cast<std::size_t>(FieldNo - 1));
    }
    bool IsFieldNull(int FieldNo) override { return VarIsNull(GetDataAsVariant(FieldNo)); }
    TOrqExprDataProvider* FindProvider(const std::string& Name) override {
        for (auto& [name, p] : Tables)
            if (AnsiSameText(name, Name)) return p;
        return nullptr;
    }
    const TRow* Row = nullptr;
    std::vector<std::pair<std::string, TModelRow*>> Tables;
};

// A joined row of the model: the row index of each table of the statement, -1 for NULL.
using TCombo = std::vector<int>;

// Evaluates a statement by nested loops over the FROM tree, every remaining table crossed in,
// then the WHERE condition.
class TNestedLoopModel {
public:
    TNestedLoopModel(const TTableList& Tables, const std::map<std::string, std::vector<TRow>>& Data)
        : FTables(Tables), FData(Data), FRows(static_cast<std::size_t>(Tables.Count())) {
        for (int i = 0; i < Tables.Count(); ++i) {
            const TTableNameItem* t = Tables.Items(i);
            FRoot.Tables.emplace_back(t->CorrelationName().empty() ? t->TableName() : t->CorrelationName(),
                                      &FRows[static_cast<std::size_t>(i)]);
        }
    }

    std::vector<TCombo> Run(const TOrqTableRefNode* From, const TOrqExprNode* Where) {
        std::vector<bool> inTree(static_cast<std::size_t>(FTables.Count()), false);
        std::vector<TCombo> rows = From ? Rows(From, inTree) : std::vector<TCombo>{TCombo(Width(), -1)};
        for (int t = 0; t < FTables.Count(); ++t) {
            if (inTree[static_cast<std::size_t>(t)]) continue;
            std::vector<TCombo> next;
            for (const TCombo& r : rows)
                for (int i = 0; i < Count(t); ++i) {
                    next.push_back(r);
                    next.back()[static_cast<std::size_t>(t)] = i;
                }
            rows.swap(next);
        }
        if (Where == nullptr) return rows;
        std::vector<TCombo> kept;
        for (const TCombo& r : rows)
            if (Holds(Where, r)) kept.push_back(r);
        return kept;
    }

private:
    std::size_t Width() const { return static_cast<std::size_t>(FTables.Count()); }
    int Count(int Table) const {
        return static_cast<int>(FData.at(FTables.Items(Table)->TableName()).size());
    }
    int TableIndex(const TOrqTableRefNode* Node) const {
        const TTableNameItem* item = FTables.FindTableAndCorrelationName(Node->Text(), Node->CorrelationName());
        return item->Index();
    }
    void Tables(const TOrqTableRefNode* Node, std::vector<int>& Out) const {
        if (Node->JoinType() == trTableName) {
            Out.push_back(TableIndex(Node));
            return;
        }
        Tables(Node->Left(), Out);
        Tables(Node->Right(), Out);
    }
    bool Holds(const TOrqExprNode* Cond, const TCombo& Row) {
        for (std::size_t t = 0; t < Width(); ++t)
            FRows[t].Row = Row[t] < 0 ? nullptr
                                      : &FData.at(FTables.Items(static_cast<int>(t))->TableName())
                                             .at(static_cast<std::size_t>(Row[t]));
        std::unique_ptr<TExprEvaluator>& e = FEvaluators[Cond];
        if (!e) {
            e = std::make_unique<TExprEvaluator>();
            e->SetDBStringCompare(DBANSICompareStrings);
            e->SetExcludeRelopNulls(true);
            e->Prepare(&FRoot, Cond);
        }
        e->Reset();
        return e->Evaluate();
    }
    static TCombo Merge(const TCombo& A, const TCombo& B) {
        TCombo r = A;
        for (std::size_t i = 0; i < r.size(); ++i)
            if (B[i] >= 0) r[i] = B[i];
        return r;
    }
    std::vector<TCombo> Rows(const TOrqTableRefNode* Node, std::vector<bool>& InTree) {
        if (Node->JoinType() == trTableName) {
            const int t = TableIndex(Node);
            InTree[static_cast<std::size_t>(t)] = true;
            std::vector<TCombo> rows;
            for (int i = 0; i < Count(t); ++i) {
                rows.emplace_back(Width(), -1);
                rows.back()[static_cast<std::size_t>(t)] = i;
            }
            return rows;
        }
        const std::vector<TCombo> left = Rows(Node->Left(), InTree);
        const std::vector<TCombo> right = Rows(Node->Right(), InTree);
        const TOrqExprNode* on = Node->Expr().FirstNode();
        const TCombo nulls(Width(), -1);
        std::vector<TCombo> out;
        const TOrqTableRefType type = Node->JoinType();
        if (type == trUnionJoin) {
            for (const TCombo& l : left) out.push_back(l);
            for (const TCombo& r : right) out.push_back(r);
            return out;
        }
        std::vector<bool> rightMatched(right.size(), false);
        for (const TCombo& l : left) {
            bool matched = false;
            for (std::size_t j = 0; j < right.size(); ++j) {
                const TCombo row = Merge(l, right[j]);
                if (type == trCrossJoin || on == nullptr || Holds(on, row)) {
                    out.push_back(row);
                    matched = true;
                    rightMatched[j] = true;
                }
            }
            if (!matched && (type == trLeftOuterJoin || type == trFullOuterJoin)) out.push_back(Merge(l, nulls));
        }
        if (type == trRightOuterJoin || type == trFullOuterJoin)
            for (std::size_t j = 0; j < right.size(); ++j)
                if (!rightMatched[j]) out.push_back(right[j]);
        return out;
    }

    const TTableList& FTables;
    const std::map<std::string, std::vector<TRow>>& FData;
    std::vector<TModelRow> FRows;
    TModelRow FRoot;
    std::map<const TOrqExprNode*, std::unique_ptr<TExprEvaluator>> FEvaluators;
};

std::string ShowValue(const Variant& v) { return test::ShowValue(v); }

class QueryPlanRows : public ::testing::Test {
protected:
    // Tables a (k indexed), b (x indexed), c (k and s indexed) and d (no index), with small
    // value ranges so that keys repeat, and NULLs in every column.
    void SetUp() override {
        DataBase = componentstest::MakeDataBase(Dir.File("rows.orq"));
        const std::vector<TFieldSpec> fields{{"k", ftInteger}, {"x", ftInteger}, {"y", ftFloat}, {"s", ftString, 8}};
        const std::map<std::string, std::vector<TIndexSpec>> indexes{
            {"a", {{"ixK", "k", {}}}},
            {"b", {{"ixX", "x", {}}}},
            {"c", {{"ixK", "k", {}}, {"ixS", "s", {}}}},
            {"d", {}}};
        const std::map<std::string, int> sizes{{"a", 36}, {"b", 28}, {"c", 18}, {"d", 12}};
        std::mt19937 rnd(20261211);
        auto maybeNull = [&](Variant v) { return rnd() % 7 == 0 ? Null() : v; };
        const char* const strings[] = {"p", "q", "r", "P", "s"};
        for (const std::string& name : kTables) {
            componentstest::CreateTable(*DataBase, name, fields, indexes.at(name), false);
            auto cursor = componentstest::OpenCursor(*DataBase, name, false);
            for (int i = 0; i < sizes.at(name); ++i) {
                // y holds whole numbers mostly, so integer and float keys meet.
                const double y = rnd() % 4 == 0 ? (rnd() % 8) + 0.5 : double(rnd() % 8);
                TRow row{maybeNull(Variant(int(rnd() % 8))), maybeNull(Variant(int(rnd() % 6))), maybeNull(Variant(y)),
                         maybeNull(Variant(std::string(strings[rnd() % 5])))};
                componentstest::Insert(*cursor, {{"k", row[0]}, {"x", row[1]}, {"y", row[2]}, {"s", row[3]}});
                Data[name].push_back(row);
            }
        }
    }

    // The rows of Sql as the providers deliver them and as the model computes them, each as
    // the values of every column of every table in table-list order, sorted.
    void Compare(const std::string& Sql) {
        try {
            CompareRows(Sql);
        } catch (const std::exception& e) {
            ADD_FAILURE() << Sql << ": " << e.what();
        }
    }
    void CompareRows(const std::string& Sql) {
        SCOPED_TRACE(Sql);
        TPlannedQuery q(Fixture(), DataBase.get());
        q.Plan(Sql);
        if (HasFatalFailure()) return;
        const TTableList& tables = q.Query.Engine->TableList();
        std::vector<std::string> actual;
        q.Mgr.OpenProviders();
        q.Mgr.PrepareJoinExprEvaluator(q.Planned.ResidualExprRoot());
        std::vector<TOrqBaseJoinDataProvider*> leaves;
        for (int t = 0; t < tables.Count(); ++t) {
            const TTableNameItem* item = tables.Items(t);
            leaves.push_back(q.Mgr.FindJoinProvider(item->CorrelationName().empty() ? item->TableName()
                                                                                    : item->CorrelationName()));
            ASSERT_NE(leaves.back(), nullptr);
        }
        for (bool ok = q.Mgr.FirstProviderRecord(); ok; ok = q.Mgr.NextProviderRecord()) {
            std::string line;
            for (TOrqBaseJoinDataProvider* leaf : leaves)
                for (const test::TestField& f : kFields)
                    line += ShowValue(leaf->GetDataAsVariant(leaf->FindField(nullptr, f.Name)->FieldNo())) + " ";
            actual.push_back(line);
            ASSERT_LT(actual.size(), 200000u) << "runaway walk";
        }
        TNestedLoopModel model(tables, Data);
        const TOrqExpr* where = q.Query.Engine->WhereParser().Expr();
        std::vector<std::string> expected;
        for (const TCombo& combo : model.Run(q.Query.Engine->FromParser().Root(), where ? where->FirstNode() : nullptr)) {
            std::string line;
            for (int t = 0; t < tables.Count(); ++t)
                for (std::size_t f = 0; f < kFields.size(); ++f)
                    line += ShowValue(combo[static_cast<std::size_t>(t)] < 0
                                          ? Null()
                                          : Data.at(tables.Items(t)->TableName())
                                                .at(static_cast<std::size_t>(combo[static_cast<std::size_t>(t)]))[f]) +
                            " ";
            expected.push_back(line);
        }
        std::sort(actual.begin(), actual.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(actual.size(), expected.size());
        EXPECT_TRUE(actual == expected);
    }

    test::TempDir Dir;
    std::unique_ptr<componentstest::TTestDataBase> DataBase;
    std::map<std::string, std::vector<TRow>> Data;
};

TEST_F(QueryPlanRows, JoinTypesMatchNestedLoops) {
    for (const char* sql : {
             "SELECT * FROM a JOIN b ON a.k = b.x",
             "SELECT * FROM b JOIN a ON a.k = b.x",
             "SELECT * FROM a LEFT JOIN b ON a.k = b.x",
             "SELECT * FROM a RIGHT JOIN b ON a.k = b.x",
             "SELECT * FROM a FULL JOIN b ON a.k = b.x",
             "SELECT * FROM a CROSS JOIN d",
             "SELECT * FROM a UNION JOIN d",
             "SELECT * FROM c JOIN d ON c.s = d.s",
             "SELECT * FROM a JOIN d ON a.k = d.k AND a.x = d.x",
             "SELECT * FROM a JOIN b ON a.k = b.k OR a.x = b.x",
             "SELECT * FROM a LEFT JOIN c ON a.k = c.k OR a.s = c.s",
             "SELECT * FROM a JOIN b ON a.k < b.x",
             "SELECT * FROM a LEFT JOIN d ON a.x = d.x AND d.y > 2",
             "SELECT * FROM a JOIN b ON a.k = b.y",
             "SELECT * FROM a FULL JOIN c ON a.y = c.k",
         })
        Compare(sql);
}

TEST_F(QueryPlanRows, WhereConditionsMatchNestedLoops) {
    for (const char* sql : {
             "SELECT * FROM a, b WHERE a.k = b.x",
             "SELECT * FROM a, b WHERE a.k = b.x AND a.y > 2 AND b.s <> 'p'",
             "SELECT * FROM a, c WHERE a.k = c.k AND c.s = 'q'",
             // Filters of every shape on one table; a join condition with arithmetic.
             "SELECT * FROM a, c WHERE a.k = c.k AND a.x IN (1, 3) AND UPPER(c.s) = 'P' AND a.y IS NOT NULL",
             "SELECT * FROM a, c WHERE a.k = c.x AND c.s LIKE 'p%' AND a.x BETWEEN 1 AND 4",
             "SELECT * FROM a, b WHERE a.x + 1 > b.x AND b.k = 2",
             "SELECT * FROM a, b, c WHERE a.k = b.k AND b.x = c.k",
             "SELECT * FROM a, b, c, d WHERE a.k = b.k AND c.y = d.y",
             "SELECT * FROM a, b, c, d WHERE a.k = b.k AND c.x = d.x AND b.x = c.k AND d.s = 'r'",
             // Conditions that cannot be placed: a triangle, three tables in one comparison,
             // an OR across tables, a second condition between joined tables.
             "SELECT * FROM a, b, c WHERE a.k = b.k AND b.x = c.k AND a.x = c.x",
             "SELECT * FROM a, b, c WHERE a.x + b.x = c.k AND a.k = b.k",
             "SELECT * FROM a, b WHERE a.x = 1 OR b.x = 2",
             "SELECT * FROM a JOIN b ON a.k = b.k WHERE a.x = b.x",
             "SELECT * FROM a, b WHERE a.k = b.k AND 1 = 1",
             // Outer joins with WHERE conditions on either side.
             "SELECT * FROM a LEFT JOIN b ON a.k = b.k WHERE b.y = 2",
             "SELECT * FROM a LEFT JOIN b ON a.k = b.k WHERE b.y IS NULL AND a.x > 1",
             "SELECT * FROM a RIGHT JOIN b ON a.k = b.k WHERE a.s = 'p'",
             "SELECT * FROM a FULL JOIN b ON a.k = b.k WHERE a.x > 1",
             "SELECT * FROM a LEFT JOIN b ON a.k = b.k, c WHERE b.x = c.k",
             "SELECT * FROM a LEFT JOIN (b JOIN c ON b.k = c.k) ON a.k = b.x WHERE c.x > 1",
             "SELECT * FROM a p, a q WHERE p.k = q.x AND q.y < 4",
             "SELECT * FROM a q, a WHERE a.k = q.x AND a.s = 'p'",
             "SELECT * FROM a q, a WHERE a.k = q.x",
             "SELECT * FROM a, a q WHERE a.k = q.x AND q.s = 'p'",
         })
        Compare(sql);
}

// Random statements: two or three tables, comma lists and explicit joins of every kind, WHERE
// conjunctions of one-table terms, join terms, ORs across tables and terms over three tables.
TEST_F(QueryPlanRows, RandomStatementsMatchNestedLoops) {
    std::mt19937 rnd(7);
    auto pick = [&](int n) { return int(rnd() % unsigned(n)); };
    const char* const numbers[] = {"k", "x", "y"};
    const char* const ops[] = {"=", "<", ">", "<>"};
    // A comparison of a column of table A with a column of table B (numbers or strings).
    auto link = [&](const std::string& A, const std::string& B) {
        if (pick(4) == 0) return A + ".s = " + B + ".s";
        return A + "." + numbers[pick(3)] + (pick(3) == 0 ? ops[pick(4)] : std::string(" = ")) + B + "." +
               numbers[pick(3)];
    };
    auto own = [&](const std::string& T) {
        switch (pick(4)) {
            case 0:
                return T + ".s = '" + "pqr"[pick(3)] + "'";
            case 1:
                return T + "." + numbers[pick(3)] + " IS NULL";
            default:
                return T + "." + numbers[pick(3)] + " " + ops[pick(4)] + " " + std::to_string(pick(6));
        }
    };
    for (int round = 0; round < 40; ++round) {
        std::vector<std::string> tables{"a", "b", "c", "d"};
        std::shuffle(tables.begin(), tables.end(), rnd);
        tables.resize(pick(3) == 0 ? 2u : 3u);
        std::string from = tables[0];
        std::size_t group = 0;  // an ON condition sees the tables of its own join group only
        for (std::size_t i = 1; i < tables.size(); ++i) {
            const std::string& t = tables[i];
            const std::string earlier = tables[group + static_cast<std::size_t>(pick(int(i - group)))];
            switch (pick(7)) {
                case 0:
                case 1:
                    from += ", " + t;
                    group = i;
                    break;
                case 2:
                    from += " CROSS JOIN " + t;
                    break;
                default: {
                    const char* const kinds[] = {"JOIN", "LEFT JOIN", "RIGHT JOIN", "FULL JOIN"};
                    std::string on = link(earlier, t);
                    if (pick(3) == 0) on += (pick(2) ? " AND " : " OR ") + own(pick(2) ? t : earlier);
                    from += std::string(" ") + kinds[pick(4)] + " " + t + " ON " + on;
                }
            }
        }
        std::string where;
        for (int n = pick(5); n > 0; --n) {
            const std::string t = tables[static_cast<std::size_t>(pick(int(tables.size())))];
            const std::string u = tables[static_cast<std::size_t>(pick(int(tables.size())))];
            std::string term;
            switch (pick(5)) {
                case 0:
                case 1:
                    term = own(t);
                    break;
                case 2:
                    term = t == u ? own(t) : link(t, u);
                    break;
                case 3:
                    term = "(" + own(t) + " OR " + own(u) + ")";
                    break;
                default:
                    term = tables.size() < 3 ? own(u)
                                             : tables[0] + ".x + " + tables[1] + ".x > " + tables[2] + ".k";
            }
            where += (where.empty() ? " WHERE " : " AND ") + term;
        }
        Compare("SELECT * FROM " + from + where);
        if (HasFailure()) break;
    }
}

TEST_F(QueryPlanRows, EveryOpenedJoinTracesItsPlan) {
    TPlannedQuery q(Fixture(), DataBase.get());
    q.Plan("SELECT * FROM b, a WHERE a.k = b.x");
    GDBLogger()->Clear();
    q.Mgr.OpenProviders();
    const auto lines = GDBLogger()->LogSnapshot();
    ASSERT_GE(lines->Count(), 9);
    EXPECT_EQ(lines->Strings(0), "Outer : b");
    EXPECT_EQ(lines->Strings(1), "Inner : a");
    EXPECT_EQ(lines->Strings(2).rfind("Indexed : ", 0), 0u) << lines->Strings(2);
}

// An inner join of two tables hashes the side the record counts choose (a has 36 rows, d 12);
// an outer join keeps its sides.
TEST_F(QueryPlanRows, HashSideFollowsRecordCounts) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT * FROM a, d WHERE a.k = d.k", "a"},
        {"SELECT * FROM d, a WHERE a.k = d.k", "a"},
        {"SELECT * FROM a LEFT JOIN d ON a.k = d.k", "d"},
    };
    for (const auto& [sql, inner] : cases) {
        SCOPED_TRACE(sql);
        TPlannedQuery q(Fixture(), DataBase.get());
        q.Plan(sql);
        q.Mgr.OpenProviders();
        auto* join = dynamic_cast<TOrqStdJoinDataProvider*>(q.Mgr.RootProvider());
        ASSERT_NE(join, nullptr);
        EXPECT_EQ(join->JoinAnalyser().InnerProvider()->ProviderName(), inner);
    }
}

}  // namespace
}  // namespace ostra
