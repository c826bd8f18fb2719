// orqPlannedQuery: a statement parsed through the parser engine (the query driver stand-in of
// engine/sql/tests/support), its WHERE split by the query analyser and its provider tree built
// by the planner over a connected database, as the query layer does it.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "engine/components/orqJoinDataProviderUnit.h"
#include "engine/components/orqQueryAnalyser.h"
#include "engine/components/orqQueryPlanner.h"
#include "engine/sql/tests/support/TestQueryDriver.h"

namespace ostra::componentstest {

struct TPlannedQuery {
    // Memory: the statement's tables are in-memory tables.
    TPlannedQuery(const test::TTableFixture& Tables, TOrqDataBase* DataBase, bool Memory = false)
        : Query(Tables), FMemory(Memory) {
        Mgr.SetDatabase(DataBase);
    }

    // Parses and checks Sql (a failed check is a fatal test failure), then builds the plan.
    void Plan(const std::string& Sql) {
        ASSERT_TRUE(Query.Validate(Sql)) << Query.ErrorText();
        TOrqParserEngine& e = *Query.Engine;
        for (int i = 0; i < e.TableList().Count(); ++i) e.TableList().Items(i)->SetMemory(FMemory);
        TOrqExpr* where = e.WhereParser().Expr();
        TOrqExprNode* root = where ? Analyser.GetTempExpr().CloneFromTree(where->FirstNode()) : nullptr;
        Analyser.Prepare(Joins, Selects, root, e.TableList(), e.FromParser().Root());
        Planned.SetTableList(&e.TableList());
        Planned.SetJoins(&Joins);
        Planned.SetSelects(&Selects);
        Planned.SetProviderMgr(&Mgr);
        Planned.SetFromRoot(e.FromParser().Root());
        Planned.SetResidualExprRoot(Analyser.ResidualExprRoot());
        TOrqQueryPlanner::CreatePlan(&Planned);
    }

    test::TTestQuery Query;
    TOrqQueryAnalyser Analyser;
    TOrqJoins Joins;
    TOrqSelects Selects;
    TOrqJoinDataProviderMgr Mgr;
    TOrqPlan Planned;

private:
    bool FMemory;
};

}  // namespace ostra::componentstest
