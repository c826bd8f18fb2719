// Join data providers over real tables: the join fields and their names, how the evaluator
// matches (hash, index range, expression loop) for which conditions, hash keys of mixed numeric
// types and long texts, NULL reads of empty sides, provider look-up by name and alias, the
// residual condition, self joins and the plan report in the trace log. The differential test
// against a nested loop is orqJoinDifferentialTest.cpp.
#include <gtest/gtest.h>

#include "engine/components/orqJoinAnalysis.h"
#include "engine/storage/orqLogger.h"
#include "host/StringList.h"
#include "support/orqCursorTest.h"
#include "support/orqJoinTestModel.h"

namespace ostra::componentstest {
namespace {

class JoinProviderTest : public TCursorTest {
protected:
    void SetUp() override {
        TCursorTest::SetUp();
        World = std::make_unique<TJoinWorld>(*DataBase, Memory());
        // Customers: ID primary; RATING a float that equals some order's CUST.
        Cust = World->AddTable({"Cust",
                                "c",
                                {{"ID", ftInteger}, {"REGION", ftString, 6}, {"RATING", ftFloat}},
                                {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}},
                                {{1, "north", 2.0}, {2, "south", 2.5}, {3, "north", Null()}, {4, "east", 1.0}}});
        // Orders: CUST indexed (ixCust), with a NULL and a customer that does not exist.
        Ord = World->AddTable({"Ord",
                               "o",
                               {{"ID", ftInteger}, {"CUST", ftInteger}, {"AMOUNT", ftFloat}},
                               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}}, {"ixCust", "CUST", {}}},
                               {{10, 1, 5.0},
                                {11, 1, 7.5},
                                {12, 2, 1.0},
                                {13, Null(), 2.0},
                                {14, 9, 3.0},
                                {15, 4, 4.0},
                                {16, 2, 6.0}}});
    }
    void TearDown() override {
        Mgr.reset();
        World.reset();
        TCursorTest::TearDown();
    }
    // Builds Shape in a fresh manager, walks it and checks the rows against the model.
    std::vector<std::string> Check(const TJoinShapePtr& Shape, const std::string& Where = "") {
        Mgr = std::make_unique<TOrqJoinDataProviderMgr>();
        World->Build(*Mgr, Shape);
        std::vector<std::string> rows = World->Rows(*Mgr, Where);
        EXPECT_EQ(rows, World->ModelRows(Shape, Where));
        return rows;
    }
    TJoinEvaluator& Evaluator() {
        return static_cast<TOrqStdJoinDataProvider*>(Mgr->RootProvider())->JoinEvaluator();
    }

    std::unique_ptr<TJoinWorld> World;
    std::unique_ptr<TOrqJoinDataProviderMgr> Mgr;
    int Cust = 0, Ord = 0;
};

TEST_P(JoinProviderTest, JoinFieldsTakeTheOuterFieldsThenTheInnerWithDuplicatesRenamed) {
    Check(Join(jtInnerJoin, Leaf(Ord), Leaf(Cust), "o.CUST = c.ID"));
    TInternalFields& fields = *Mgr->RootProvider()->GetProviderFields();
    std::vector<std::string> names;
    for (int i = 0; i < fields.Count(); ++i) names.push_back(fields.GetIndex(i)->FieldName());
    EXPECT_EQ(names, (std::vector<std::string>{"ID", "CUST", "AMOUNT", "Cust.ID", "REGION", "RATING"}));
    // Each join field reads through its own provider and field number.
    auto* join = static_cast<TOrqStdJoinDataProvider*>(Mgr->RootProvider());
    EXPECT_EQ(join->JoinFields().GetItems(3)->DataProvider(), join->InnerProvider());
    EXPECT_EQ(join->JoinFields().GetItems(3)->SourceFieldNo(), 0);
    // A qualified reference to the renamed column finds it through the table's provider.
    EXPECT_EQ(join->FindProvider("C")->FindField(nullptr, "ID")->FieldName(), "ID");
}

// Which way each condition is matched, and that every way gives the nested loop's rows.
TEST_P(JoinProviderTest, ConditionShapeChoosesHashOrExpressionLoop) {
    struct TCase {
        std::string On;
        TJoinModeType Mode;
    };
    const std::vector<TCase> cases = {
        {"o.CUST = c.ID", jmtHashJoin},
        {"c.ID = o.CUST", jmtHashJoin},
        {"o.CUST = c.RATING", jmtHashJoin},  // integer and float keys compare by value
        {"o.CUST = c.ID OR o.AMOUNT = c.RATING", jmtHashJoin},
        {"o.CUST = c.ID AND o.ID > 11", jmtJoinExpr},  // a non-equality term
        {"o.CUST = c.ID AND o.ID = o.CUST", jmtJoinExpr},  // a comparison within one side
        {"o.CUST < c.ID", jmtJoinExpr},
    };
    for (const TCase& c : cases)
        for (TOrqJoinType type : {jtInnerJoin, jtLeftOuterJoin, jtRightOuterJoin, jtFullOuterJoin}) {
            SCOPED_TRACE(c.On + " " + JoinTypeName(type));
            Check(Join(type, Leaf(Ord), Leaf(Cust), c.On));
            EXPECT_EQ(Evaluator().JoinModeType(), c.Mode);
        }
}

TEST_P(JoinProviderTest, IntegerKeysMatchEqualFloatKeys) {
    const auto rows = Check(Join(jtInnerJoin, Leaf(Ord), Leaf(Cust), "o.CUST = c.RATING"));
    // CUST 2 matches RATING 2.0 and CUST 1 matches RATING 1.0 (customer 4); 2.5 matches nothing.
    EXPECT_EQ(rows.size(), 4u);
}

// Outside the index range mode (RATING has no index) an inner join hashes the larger table.
TEST_P(JoinProviderTest, InnerHashJoinHashesTheLargerTableAndOuterJoinsKeepTheirSides) {
    for (const auto& shape : {Join(jtInnerJoin, Leaf(Cust), Leaf(Ord), "c.RATING = o.CUST"),
                             Join(jtInnerJoin, Leaf(Ord), Leaf(Cust), "o.CUST = c.RATING")}) {
        Check(shape);
        EXPECT_EQ(Evaluator().HashedProvider()->ProviderName(), "Ord");
        EXPECT_FALSE(Evaluator().Plan().InnerRangeOn);
    }
    Check(Join(jtLeftOuterJoin, Leaf(Ord), Leaf(Cust), "o.CUST = c.RATING"));
    EXPECT_EQ(Evaluator().HashedProvider()->ProviderName(), "Cust");
    Check(Join(jtRightOuterJoin, Leaf(Ord), Leaf(Cust), "o.CUST = c.RATING"));
    EXPECT_EQ(Evaluator().HashedProvider()->ProviderName(), "Ord");
}

// Both join columns indexed and the inner side without its own condition: the inner side gets
// a range from the outer's lowest to its highest key, and the plan report says so.
TEST_P(JoinProviderTest, IndexRangeModeRangesTheInnerSideAndReportsThePlan) {
    if (TDBLogger* logger = GDBLogger()) logger->LockLogList()->Clear();
    const auto rows = Check(Join(jtInnerJoin, Leaf(Cust, "c.ID < 3"), Leaf(Ord), "c.ID = o.CUST"));
    EXPECT_EQ(rows.size(), 4u);
    const TJoinPlan& plan = Evaluator().Plan();
    EXPECT_TRUE(plan.IndexedJoin);
    EXPECT_TRUE(plan.InnerRangeOn);
    auto* inner = static_cast<TOrqNonJoinDataProvider*>(Mgr->FindJoinProvider("o"));
    EXPECT_TRUE(inner->DataBridge()->RangeOn());
    // The range runs from customer 1 to customer 4 (the outer's index ends, its filter aside).
    EXPECT_EQ(inner->DataBridge()->GetBridgeRecordCount(), 5);

    TStringList lines;
    plan.DisplayPlan(lines);
    ASSERT_EQ(lines.Count(), 9);
    EXPECT_EQ(lines.Strings(0), "Outer : Cust");
    EXPECT_EQ(lines.Strings(1), "Inner : Ord");
    EXPECT_EQ(lines.Strings(2), "Indexed : True");
    EXPECT_EQ(lines.Strings(4), "Outer Expr exists : True");
    EXPECT_EQ(lines.Strings(6), "Inner range on : True");
    EXPECT_EQ(lines.Strings(8), "Inner Expr opt level : None");
    if (TDBLogger* logger = GDBLogger()) {
        auto log = logger->LockLogList();
        EXPECT_GE(log->IndexOf("Inner : Ord"), 0);
    }

    // A right join drives through the inner side: no range may cut rows from it.
    Check(Join(jtRightOuterJoin, Leaf(Cust, "c.ID < 3"), Leaf(Ord), "c.ID = o.CUST"));
    EXPECT_FALSE(Evaluator().Plan().InnerRangeOn);
}

TEST_P(JoinProviderTest, LongTextKeysMatchWhole) {
    const std::string a(255, 'a'), b = std::string(254, 'a') + "b";
    const int left =
        World->AddTable({"LongL", "l", {{"ID", ftInteger}, {"T", ftString, 255}}, {}, {{1, a}, {2, b}, {3, Null()}}});
    const int right =
        World->AddTable({"LongR", "r", {{"ID", ftInteger}, {"T", ftString, 255}}, {}, {{7, a}, {8, a}, {9, "a"}}});
    const auto rows = Check(Join(jtLeftOuterJoin, Leaf(left), Leaf(right), "l.T = r.T"));
    EXPECT_EQ(Evaluator().JoinModeType(), jmtHashJoin);
    EXPECT_EQ(rows.size(), 4u);  // 1 twice, 2 and 3 with NULLs
}

TEST_P(JoinProviderTest, ASideWithoutRowsReadsAsNull) {
    Mgr = std::make_unique<TOrqJoinDataProviderMgr>();
    World->Build(*Mgr, Leaf(Cust, "c.ID < 0"));
    Mgr->OpenProviders();
    EXPECT_FALSE(Mgr->FirstProviderRecord());
    EXPECT_TRUE(VarIsNull(Mgr->RootProvider()->GetDataAsVariant(0)));
    TDataHolder holder;
    Mgr->RootProvider()->GetRawFieldData(0, holder);
    EXPECT_TRUE(holder.IsNull);
    // Outer joins against it keep every row of the other side once, with NULLs.
    EXPECT_EQ(Check(Join(jtLeftOuterJoin, Leaf(Ord), Leaf(Cust, "c.ID < 0"), "o.CUST = c.ID")).size(), 7u);
    EXPECT_EQ(Check(Join(jtLeftOuterJoin, Leaf(Ord), Leaf(Cust, "c.ID < 0"), "o.CUST = c.ID AND o.ID > 0")).size(),
              7u);
}

TEST_P(JoinProviderTest, ProvidersAreFoundByTableNameOrAliasInAnyCase) {
    Check(Join(jtCrossJoin, Leaf(Ord), Leaf(Cust)));
    for (const char* name : {"ord", "O", "CUST", "c"}) EXPECT_NE(Mgr->FindJoinProvider(name), nullptr) << name;
    EXPECT_EQ(Mgr->FindJoinProvider("x"), nullptr);
    EXPECT_EQ(Mgr->FindJoinProvider("ord.cust"), Mgr->RootProvider());
}

TEST_P(JoinProviderTest, ResidualConditionFiltersTheJoinedRows) {
    const auto rows = Check(Join(jtLeftOuterJoin, Leaf(Ord), Leaf(Cust), "o.CUST = c.ID"), "c.REGION IS NULL");
    EXPECT_EQ(rows.size(), 2u);  // the order without customer and the one with a NULL key
}

// One table under two aliases: each alias is its own provider, for hash and expression loop.
TEST_P(JoinProviderTest, SelfJoinUnderTwoAliases) {
    const int again = World->AddAlias(Ord, "p");
    EXPECT_EQ(Check(Join(jtInnerJoin, Leaf(Ord), Leaf(again), "o.CUST = p.CUST")).size(), 10u);
    EXPECT_EQ(Evaluator().JoinModeType(), jmtHashJoin);
    Check(Join(jtFullOuterJoin, Leaf(Ord, "o.ID > 11"), Leaf(again), "o.CUST = p.CUST AND o.ID < p.ID"));
}

INSTANTIATE_CURSOR_TESTS(JoinProviderTest);

}  // namespace
}  // namespace ostra::componentstest
