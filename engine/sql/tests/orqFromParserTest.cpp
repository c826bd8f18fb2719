// The FROM clause parser and the join post-processor: table lists and reference trees of the
// join forms, where the clause ends, error texts with their positions (a derived table ends the
// parse with an error), and the conditions built for USING and NATURAL joins, evaluated over
// rows of two tables that share column names.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqExprEvaluator.h"
#include "engine/sql/orqFromParser.h"
#include "engine/sql/orqJoinPostProcessor.h"
#include "engine/sql/tests/support/TestExprParsing.h"
#include "engine/sql/tests/support/TestStatementTokens.h"
#include "engine/sql/tests/support/TestTableFields.h"
#include "host/Exceptions.h"
#include "host/StringList.h"

namespace ostra {
namespace {

const TOrqParserOptions kExt{opoExtSyntax};

// The tree: a table as its name (with its alias), a join as (KIND [NATURAL] left right
// [ON expr] [USING(cols)]).
std::string Show(const TOrqTableRefNode* n) {
    if (n == nullptr) return "-";
    switch (n->JoinType()) {
        case trTableName:
            return n->CorrelationName().empty() ? n->Text() : n->Text() + " " + n->CorrelationName();
        case trSubQuery:
            return "(SUBQUERY)";
        default:
            break;
    }
    static const char* const kinds[] = {"?", "CROSS", "UNION", "INNER", "LEFT", "RIGHT", "FULL"};
    std::string s = std::string("(") + kinds[n->JoinType()];
    if (n->IsNaturalJoin()) s += " NATURAL";
    s += " " + Show(n->Left()) + ", " + Show(n->Right());
    if (n->Expr().FirstNode() != nullptr) s += " ON " + test::Show(n->Expr().FirstNode());
    if (n->UsingColumnList().Count() > 0) {
        s += " USING(";
        for (int i = 0; i < n->UsingColumnList().Count(); ++i)
            s += (i > 0 ? "," : "") + n->UsingColumnList().Strings(i);
        s += ")";
    }
    return s + ")";
}

std::string ShowTables(const TTableList& list) {
    std::string s;
    for (int i = 0; i < list.Count(); ++i) {
        const TTableNameItem* item = list.Items(i);
        if (i > 0) s += ", ";
        s += item->MemorySpecified() ? "TEMPORARY " + item->TableName() : item->TableName();
        if (!item->CorrelationName().empty()) s += " " + item->CorrelationName();
    }
    return s;
}

// A FROM clause parsed from a whole SELECT text.
struct FromParse {
    test::TStatementTokens Tokens;
    TOrqFromParser Parser;
    bool Parse(const std::string& Text, bool Subquery = false) {
        Parser.Clear();
        Parser.SetIsSubquery(Subquery);
        return Parser.Execute(kExt, Tokens.After(Text, ostFrom));
    }
};

TEST(FromParser, TablesAndJoinTrees) {
    struct Case {
        const char* Text;
        const char* Tables;
        const char* Tree;  // Root
        TOrqSQLToken StopsAt;
    } cases[] = {
        {"SELECT * FROM a, b", "a, b", "-", ostEnd},
        {"SELECT * FROM a b c", "a b, c", "-", ostEnd},
        {"SELECT * FROM a x JOIN b AS y ON x.k = y.k", "a x, b y", "(INNER a x, b y ON (EQ x.k y.k))",
         ostEnd},
        {"SELECT * FROM a INNER JOIN b ON a.k = b.k WHERE a.k > 1", "a, b", "(INNER a, b ON (EQ a.k b.k))",
         ostWhere},
        {"SELECT * FROM a LEFT OUTER JOIN b ON c", "a, b", "(LEFT a, b ON c)", ostEnd},
        {"SELECT * FROM a RIGHT JOIN b ON c GROUP BY k", "a, b", "(RIGHT a, b ON c)", ostGroupBy},
        {"SELECT * FROM a FULL OUTER JOIN b ON c ORDER BY k", "a, b", "(FULL a, b ON c)", ostOrderBy},
        {"SELECT * FROM a OUTER JOIN b ON c", "a, b", "(INNER a, b ON c)", ostEnd},
        {"SELECT * FROM a NATURAL JOIN b", "a, b", "(INNER NATURAL a, b)", ostEnd},
        {"SELECT * FROM a NATURAL LEFT JOIN b", "a, b", "(LEFT NATURAL a, b)", ostEnd},
        {"SELECT * FROM a JOIN b USING (k, m)", "a, b", "(INNER a, b USING(k,m))", ostEnd},
        {"SELECT * FROM a CROSS JOIN b", "a, b", "(CROSS a, b)", ostEnd},
        {"SELECT * FROM a UNION JOIN b", "a, b", "(UNION a, b)", ostEnd},
        {"SELECT * FROM a JOIN b ON a.k = b.k UNION SELECT * FROM c", "a, b", "(INNER a, b ON (EQ a.k b.k))",
         ostUnion},
        {"SELECT * FROM TEMPORARY t, \"My Table\" m", "TEMPORARY t, My Table m", "-", ostEnd},
        // Left-deep chains, parenthesised joins on either side.
        {"SELECT * FROM a JOIN b ON x JOIN c ON y", "a, b, c", "(INNER (INNER a, b ON x), c ON y)", ostEnd},
        {"SELECT * FROM (a JOIN b ON a.k = b.k) JOIN c ON c.k = a.k", "a, b, c",
         "(INNER (INNER a, b ON (EQ a.k b.k)), c ON (EQ c.k a.k))", ostEnd},
        {"SELECT * FROM a JOIN (b JOIN c ON b.k = c.k) ON a.k = b.k", "a, b, c",
         "(INNER a, (INNER b, c ON (EQ b.k c.k)) ON (EQ a.k b.k))", ostEnd},
        // Comma-separated references: tables outside the tree are cross-joined by the plan;
        // several join groups are tied into Root so that none of their conditions is lost.
        {"SELECT * FROM a JOIN b ON x, c", "a, b, c", "(INNER a, b ON x)", ostEnd},
        {"SELECT * FROM a, b JOIN c ON y", "a, b, c", "(INNER b, c ON y)", ostEnd},
        {"SELECT * FROM a JOIN b ON x, c JOIN d ON y, e CROSS JOIN f", "a, b, c, d, e, f",
         "(CROSS (CROSS (INNER a, b ON x), (INNER c, d ON y)), (CROSS e, f))", ostEnd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        FromParse p;
        EXPECT_TRUE(p.Parse(c.Text)) << p.Parser.GetErrorMsg();
        EXPECT_EQ(ShowTables(p.Parser.TableList()), c.Tables);
        EXPECT_EQ(Show(p.Parser.Root()), c.Tree);
        EXPECT_EQ(p.Parser.CurrentTokenType(), c.StopsAt);
    }
}

TEST(FromParser, NodeListAndExprCount) {
    FromParse p;
    ASSERT_TRUE(p.Parse("SELECT * FROM a, b"));
    EXPECT_EQ(p.Parser.NodeCount(), 2);
    EXPECT_EQ(p.Parser.GetExprCount(), 0);

    ASSERT_TRUE(p.Parse("SELECT * FROM a JOIN b ON x JOIN c USING (k) CROSS JOIN d"));
    EXPECT_EQ(p.Parser.NodeCount(), 7);  // four tables, three joins
    EXPECT_EQ(p.Parser.GetExprCount(), 1);
}

// A parser reused for the next statement reports only that statement's tables.
TEST(FromParser, ReuseStartsFromAnEmptyTableList) {
    FromParse p;
    ASSERT_TRUE(p.Parse("SELECT * FROM a JOIN b ON x"));
    ASSERT_TRUE(p.Parse("SELECT * FROM c"));
    EXPECT_EQ(ShowTables(p.Parser.TableList()), "c");
    EXPECT_EQ(p.Parser.Root(), nullptr);

    // Run again over the same stack without Clear (the engine's second pass does this after
    // Clear, but a run never adds to an earlier run's list).
    test::TStatementTokens tokens;
    TOrqFromParser parser;
    ASSERT_TRUE(parser.Execute(kExt, tokens.After("SELECT * FROM a, b", ostFrom)));
    parser.Clear();
    ASSERT_TRUE(parser.Execute(kExt, tokens.After("SELECT * FROM a, b", ostFrom)));
    EXPECT_EQ(ShowTables(parser.TableList()), "a, b");
}

TEST(FromParser, SubqueryClauseEndsAtClosingParenthesis) {
    FromParse p;
    ASSERT_TRUE(p.Parse("SELECT * FROM a JOIN b ON a.k = b.k) AND z = 1", true)) << p.Parser.GetErrorMsg();
    EXPECT_EQ(Show(p.Parser.Root()), "(INNER a, b ON (EQ a.k b.k))");
    EXPECT_EQ(p.Parser.CurrentTokenType(), ostRParen);
}

TEST(FromParser, DebugDisplay) {
    FromParse p;
    ASSERT_TRUE(p.Parse("SELECT * FROM a x LEFT JOIN b ON x.k = b.k"));
    TStringList lines;
    p.Parser.DebugDisplay(lines);
    ASSERT_GE(lines.Count(), 12);
    EXPECT_EQ(lines.Strings(0), "StartTables");
    EXPECT_EQ(lines.Strings(1), "tbl a   corr  x");
    EXPECT_EQ(lines.Strings(2), "tbl b   corr  ");
    EXPECT_EQ(lines.Strings(3), "EndTables");
    EXPECT_EQ(lines.Strings(4), "StartJoins");
    EXPECT_EQ(lines.Strings(5), "join trTableName   inner   outer ");
    EXPECT_EQ(lines.Strings(6), "join jtLeftOuterJoin   inner   outer ");
    EXPECT_EQ(lines.Strings(7), "join trTableName   inner   outer ");
    EXPECT_EQ(lines.Strings(8), "EndJoins");
    EXPECT_EQ(lines.Strings(9), "StartTree");
    EXPECT_EQ(lines.Strings(10), "  trTableName : text - a");
    EXPECT_EQ(lines.Strings(11), "jtLeftOuterJoin : text - ");
    EXPECT_EQ(lines.Strings(lines.Count() - 2), "  trTableName : text - b");
    EXPECT_EQ(lines.Strings(lines.Count() - 1), "EndTree");
}

TEST(FromParser, ErrorsWithPositions) {
    struct Case {
        const char* Text;
        const char* Error;
    } cases[] = {
        {"SELECT * FROM a LEFT b",
         "Invalid cross join syntax - expected CROSS Line 1, Character 23. Token ''"},
        {"SELECT * FROM a CROSS b, c",
         "Invalid cross join syntax - expected CROSS Line 1, Character 24. Token ','"},
        {"SELECT * FROM a (b JOIN c ON x)",
         "Invalid cross join syntax - expected CROSS Line 1, Character 20. Token 'JOIN'"},
        {"SELECT * FROM a JOIN b USING k",
         "Missing '(' from using join specification Line 1, Character 30. Token 'k'"},
        {"SELECT * FROM a JOIN b USING (k m)",
         "Invalid column list syntax in using specification Line 1, Character 33. Token 'm'"},
        {"SELECT * FROM a JOIN b USING ()",
         "Invalid column list syntax in using specification Line 1, Character 31. Token ')'"},
        {"SELECT * FROM a JOIN b USING (k,",
         "Missing ')' from using join specification Line 1, Character 33. Token ''"},
        {"SELECT * FROM a JOIN b ON a.k = ",
         "Expression incorrectly terminated Line 1, Character 32. Token ''"},
        {"SELECT * FROM 5", "Syntax error. Expected table name Line 1, Character 15. Token '5'"},
        {"SELECT * FROM a, t.b", "Syntax error. Expected table name Line 1, Character 18. Token 't'"},
        {"SELECT * FROM a JOIN", "Syntax error. Expected table name Line 1, Character 21. Token ''"},
        {"SELECT * FROM a CROSS JOIN b ON a.k = b.k",
         "Syntax error. Expected table name Line 1, Character 30. Token 'ON'"},
        // An inner or outer join without a condition would be a silent cross product.
        {"SELECT * FROM a JOIN b",
         "Join condition missing - expected ON or USING Line 1, Character 23. Token ''"},
        {"SELECT * FROM a LEFT JOIN b\nWHERE a.k = 1",
         "Join condition missing - expected ON or USING Line 2, Character 1. Token 'WHERE'"},
        {"SELECT * FROM a JOIN b ON WHERE a.k = 1", "Invalid token Line 1, Character 27. Token 'WHERE'"},
        // Derived tables consume nothing; the parse ends with an error at them.
        {"SELECT * FROM (SELECT k FROM u) x",
         "Subqueries are not supported as table references Line 1, Character 14. Token '('"},
        {"SELECT * FROM ((SELECT k FROM u)) x",
         "Subqueries are not supported as table references Line 1, Character 14. Token '('"},
        {"SELECT * FROM a, (SELECT k FROM u) x",
         "Subqueries are not supported as table references Line 1, Character 17. Token '('"},
        {"SELECT * FROM a JOIN (SELECT k FROM u) s ON a.k = s.k",
         "Subqueries are not supported as table references Line 1, Character 21. Token '('"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        FromParse p;
        EXPECT_FALSE(p.Parse(c.Text));
        EXPECT_EQ(p.Parser.GetErrorMsg(), c.Error);
    }
}

TEST(FromParser, UnclosedParenthesisedReferenceIsAnError) {
    FromParse p;
    EXPECT_FALSE(p.Parse("SELECT * FROM (a JOIN b ON a.k = b.k WHERE x = 1"));
    EXPECT_EQ(p.Parser.GetErrorMsg(),
              "Missing Right Parenthesis in table reference Line 1, Character 38. Token 'WHERE'");
    FromParse q;
    EXPECT_FALSE(q.Parse("SELECT * FROM (a"));
    EXPECT_EQ(q.Parser.GetErrorMsg(), "Missing Right Parenthesis in table reference Line 1, Character 17. Token ''");
}

// --- Join post-processing ---------------------------------------------------------------------

// a(k, m, x), b(k, m, y), c(k, z), d(w): k and m are shared by a and b, k by a, b and c.
void AddTables(TTableList& list, const FromParse& p) {
    list.Assign(p.Parser.TableList());
    const std::map<std::string, std::vector<test::TestField>> fields = {
        {"a", {{"k", ftInteger, 4}, {"m", ftString, 11}, {"x", ftFloat, 8}}},
        {"b", {{"K", ftInteger, 4}, {"m", ftString, 11}, {"y", ftFloat, 8}}},
        {"c", {{"k", ftInteger, 4}, {"z", ftDate, 8}}},
        {"d", {{"w", ftInteger, 4}}}};
    for (int i = 0; i < list.Count(); ++i) {
        auto it = fields.find(list.Items(i)->TableName());
        if (it == fields.end()) continue;
        test::TTestTableFields f(it->second);
        list.Items(i)->SetTableFields(&f);
    }
}

TEST(JoinPostProcessor, BuildsConditions) {
    struct Case {
        const char* Text;
        const char* Tree;
    } cases[] = {
        {"SELECT * FROM a JOIN b USING (k, m)", "(INNER a, b ON (AND (EQ b.K a.k) (EQ b.m a.m)) USING(k,m))"},
        {"SELECT * FROM a p LEFT JOIN b q USING (m)", "(LEFT a p, b q ON (EQ q.m p.m) USING(m))"},
        {"SELECT * FROM a NATURAL JOIN b", "(INNER NATURAL a, b ON (AND (EQ b.K a.k) (EQ b.m a.m)))"},
        {"SELECT * FROM b NATURAL JOIN c", "(INNER NATURAL b, c ON (EQ c.k b.K))"},
        // The column is taken from the first table of the left subtree that holds it.
        {"SELECT * FROM a JOIN b USING (k) JOIN c USING (k)",
         "(INNER (INNER a, b ON (EQ b.K a.k) USING(k)), c ON (EQ c.k a.k) USING(k))"},
        {"SELECT * FROM a JOIN d ON a.k = d.w NATURAL JOIN c",
         "(INNER NATURAL (INNER a, d ON (EQ a.k d.w)), c ON (EQ c.k a.k))"},
        // An ON condition is kept, the USING columns are ANDed onto it.
        {"SELECT * FROM a JOIN b ON a.x > 1", "(INNER a, b ON (GT a.x 1))"},
        {"SELECT * FROM a NATURAL JOIN b ON a.x > 1",
         "(INNER NATURAL a, b ON (AND (AND (GT a.x 1) (EQ b.K a.k)) (EQ b.m a.m)))"},
        {"SELECT * FROM a JOIN b ON a.x > 1, c NATURAL JOIN d ON c.z = d.w",
         "(CROSS (INNER a, b ON (GT a.x 1)), (INNER NATURAL c, d ON (EQ c.z d.w)))"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        FromParse p;
        ASSERT_TRUE(p.Parse(c.Text)) << p.Parser.GetErrorMsg();
        TTableList tables;
        AddTables(tables, p);
        TJoinPostProcessor post;
        post.SetTableList(&tables);
        EXPECT_TRUE(post.ProcessJoinTree(p.Parser.Root())) << post.ErrorMsg();
        EXPECT_EQ(Show(p.Parser.Root()), c.Tree);
    }
}

TEST(JoinPostProcessor, Failures) {
    struct Case {
        const char* Text;
        const char* Error;
    } cases[] = {
        {"SELECT * FROM a JOIN b USING (k, z)", "Field not found in join tables: z"},
        {"SELECT * FROM a JOIN b USING (x)", "Field not found in join tables: x"},
        {"SELECT * FROM d JOIN b USING (m) NATURAL JOIN c", "Field not found in join tables: m"},
        {"SELECT * FROM a NATURAL JOIN d", "Natural join tables have no common columns"},
        {"SELECT * FROM a JOIN u USING (k)", "Field not found in join tables: k"},  // u has no field list
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        FromParse p;
        ASSERT_TRUE(p.Parse(c.Text)) << p.Parser.GetErrorMsg();
        TTableList tables;
        AddTables(tables, p);
        TJoinPostProcessor post;
        post.SetTableList(&tables);
        EXPECT_FALSE(post.ProcessJoinTree(p.Parser.Root()));
        EXPECT_EQ(post.ErrorMsg(), c.Error);
    }
}

TEST(JoinPostProcessor, FindJoinField) {
    FromParse p;
    ASSERT_TRUE(p.Parse("SELECT * FROM a x, b"));
    TTableList tables;
    AddTables(tables, p);
    TJoinPostProcessor post;
    post.SetTableList(&tables);

    TJoinField field;
    EXPECT_TRUE(post.FindJoinField("M", "a", "x", field));
    EXPECT_EQ(field.Table, tables.Items(0));
    EXPECT_EQ(field.FieldIndex, 1);
    EXPECT_TRUE(post.FindJoinField("y", "b", "", field));
    EXPECT_EQ(field.Table, tables.Items(1));

    EXPECT_FALSE(post.FindJoinField("zz", "a", "x", field));
    EXPECT_EQ(post.ErrorMsg(), "Field (zz) not found in table a");
    EXPECT_FALSE(post.FindJoinField("k", "q", "r", field));
    EXPECT_EQ(post.ErrorMsg(), "Join ON field not found: q : r");
    EXPECT_THROW(post.FindJoinField("k", "", "", field), EAssertionFailed);

    TJoinPostProcessor unassigned;
    EXPECT_THROW(unassigned.ProcessJoinTree(p.Parser.Root()), EAssertionFailed);
}

// One current row of a table; the root provider hands out each table by name or alias.
class TRowProvider : public TOrqExprDataProvider {
public:
    TRowProvider(const std::vector<test::TestField>& Fields) {
        for (std::size_t i = 0; i < Fields.size(); ++i) {
            TInternalFieldItem* item = ProviderFields().Add();
            item->SetFieldName(Fields[i].Name);
            item->SetDataType(Fields[i].Type);
            item->SetFieldNo(static_cast<int>(i) + 1);
            item->SetFieldIndex(static_cast<int>(i));
        }
        SetDBStringCompare(DBANSICompareStrings);
    }
    Variant GetDataAsVariant(int FieldNo) override { return Row.at(static_cast<std::size_t>(FieldNo - 1)); }
    TOrqExprDataProvider* FindProvider(const std::string& Name) override {
        auto it = Tables.find(Name);
        return it == Tables.end() ? nullptr : it->second;
    }
    std::vector<Variant> Row;
    std::map<std::string, TOrqExprDataProvider*> Tables;
};

// The built condition reads each shared column from its own table: it holds exactly for the
// row pairs that agree on every shared column.
TEST(JoinPostProcessor, ConditionEvaluatesPerTable) {
    FromParse p;
    ASSERT_TRUE(p.Parse("SELECT * FROM a p NATURAL JOIN b"));
    TTableList tables;
    AddTables(tables, p);
    TJoinPostProcessor post;
    post.SetTableList(&tables);
    ASSERT_TRUE(post.ProcessJoinTree(p.Parser.Root())) << post.ErrorMsg();

    TRowProvider a({{"k", ftInteger, 4}, {"m", ftString, 11}, {"x", ftFloat, 8}});
    TRowProvider b({{"K", ftInteger, 4}, {"m", ftString, 11}, {"y", ftFloat, 8}});
    TRowProvider root({});
    root.Tables = {{"p", &a}, {"b", &b}};

    TExprEvaluator evaluator;
    evaluator.SetDBStringCompare(DBANSICompareStrings);
    evaluator.Prepare(&root, p.Parser.Root()->Expr().FirstNode());
    struct Rows {
        std::vector<Variant> A, B;
        bool Match;
    } rows[] = {
        {{1, "x", 0.5}, {1, "x", 9.0}, true},
        {{1, "x", 0.5}, {2, "x", 0.5}, false},
        {{1, "x", 0.5}, {1, "y", 0.5}, false},
        {{2, "y", 0.5}, {1, "y", 0.5}, false},
    };
    for (const Rows& r : rows) {
        a.Row = r.A;
        b.Row = r.B;
        evaluator.Reset();
        EXPECT_EQ(evaluator.Evaluate(), r.Match);
    }
}

}  // namespace
}  // namespace ostra
