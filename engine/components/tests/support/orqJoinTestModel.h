// orqJoinTestModel: join trees for the join tests, built twice: as data providers over real
// tables (orqJoinDataProviderUnit.h) and as a brute-force nested loop over the same rows held
// in memory, whose conditions the expression evaluator decides row pair by row pair. The two
// must give the same rows (as a multiset) for every join type and condition.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/orqJoinDataProviderUnit.h"
#include "engine/components/tests/support/orqCursorFixture.h"
#include "engine/sql/orqTableList.h"
#include "engine/sql/tests/support/TestExprParsing.h"

namespace ostra::componentstest {

// One table: its definition, its rows (values in field order, Null for NULL) and the alias it
// is joined under.
struct TJoinTable {
    std::string Name;
    std::string Alias;
    std::vector<TFieldSpec> Fields;
    std::vector<TIndexSpec> Indexes;
    std::vector<std::vector<Variant>> Rows;
};

// A node of a join tree: a table (Table >= 0, with its own condition Select), or a join of two
// trees with its condition On (empty for none).
struct TJoinShape {
    int Table = -1;
    std::string Select;
    TOrqJoinType Type = jtNone;
    std::string On;
    std::shared_ptr<TJoinShape> Outer, Inner;
};
using TJoinShapePtr = std::shared_ptr<TJoinShape>;

TJoinShapePtr Leaf(int Table, const std::string& Select = "");
TJoinShapePtr Join(TOrqJoinType Type, TJoinShapePtr Outer, TJoinShapePtr Inner, const std::string& On = "");

// The name of a join type, for messages.
std::string JoinTypeName(TOrqJoinType Type);

// The tables of a test, their parsed conditions and both ways of joining them.
class TJoinWorld {
public:
    TJoinWorld(TTestDataBase& DataBase, bool Memory) : FDataBase(DataBase), FMemory(Memory) {}

    // Creates the table and stores its rows (unless not Create); returns its number.
    int AddTable(TJoinTable Table, bool Create = true);
    // The table number Table again under another alias (a self join); returns its number.
    int AddAlias(int Table, const std::string& Alias);
    const TJoinTable& Table(int I) const { return FTables[size_t(I)]; }

    // The condition Text parsed over every table (null for an empty text). The tree lives as
    // long as the world.
    const TOrqExprNode* Parse(const std::string& Text);

    // Builds the provider tree of Shape in Mgr (cleared first) and sets its root.
    TOrqBaseJoinDataProvider* Build(TOrqJoinDataProviderMgr& Mgr, const TJoinShapePtr& Shape);
    // Opens Mgr's tree (with the residual condition Where) and reads every row as text: the
    // values of the root's fields in order, separated by "|". Sorted.
    std::vector<std::string> Rows(TOrqJoinDataProviderMgr& Mgr, const std::string& Where = "");
    // The rows of Shape (then Where) computed by the nested loop, in the same form. Sorted.
    std::vector<std::string> ModelRows(const TJoinShapePtr& Shape, const std::string& Where = "");

private:
    TTestDataBase& FDataBase;
    bool FMemory;
    std::vector<TJoinTable> FTables;
    TTableList FTableList;
    std::vector<std::unique_ptr<test::TExprParse>> FParses;
    std::map<std::string, const TOrqExprNode*> FParsed;
};

}  // namespace ostra::componentstest
