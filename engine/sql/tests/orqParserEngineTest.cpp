// Whole statements through the parser engine, driven as the query layer drives it
// (support/TestQueryDriver.h): tables, result columns, aggregates, grouping, HAVING, ORDER BY,
// UNION members, subqueries and parameters; the errors with their texts and positions; the
// nested engines' ownership and the reuse of one engine for several statements.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/sql/orqExprEvaluator.h"
#include "engine/sql/orqPreParser.h"
#include "engine/sql/tests/support/TestExprParsing.h"
#include "engine/sql/tests/support/TestQueryDriver.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {
namespace {

using test::TTestQuery;

const test::TTableFixture& Tables() {
    static const test::TTableFixture tables = [] {
        test::TTableFixture t;
        t["a"] = {{"ID", ftInteger, 4},
                  {"NAME", ftString, 21},
                  {"QTY", ftInteger, 4},
                  {"PRICE", ftFloat, 8},
                  {"NOTE", ftMemo, 8}};
        t["b"] = {
            {"ID", ftInteger, 4}, {"A_ID", ftInteger, 4}, {"CODE", ftString, 6}, {"FLAG", ftBoolean, 1}};
        std::vector<test::TestField> wide;
        for (int i = 1; i <= 33; ++i) wide.push_back({"C" + IntToStr(i), ftInteger, 4});
        t["wide"] = wide;
        return t;
    }();
    return tables;
}

// "NAME:String(20)@a.NAME^": name, type (string size), source table and field, aggregate
// (D for DISTINCT), ^ when grouped.
std::string Columns(const TOrqSelectAnalyser& A) {
    static const char* const agg[] = {"?", "Count", "Avg", "Sum", "Max", "Min"};
    std::string s;
    const TSelectFields& f = A.SelectFields();
    for (int i = 0; i < f.Count(); ++i) {
        const TSelectFieldItem* c = f.GetItems(i);
        s += (i > 0 ? ", " : "") + c->FieldName() + ":" + FieldTypeName(c->DataType());
        if (c->DataType() == ftString) s += "(" + IntToStr(c->FieldSize()) + ")";
        if (c->SourceTableItem() != nullptr)
            s += "@" + c->SourceTableItem()->TableName() + "." + c->SourceFieldName();
        if (c->HasAggregateFunction())
            s += std::string("#") + agg[c->AggFunc()] + (c->DistinctQuantifier() ? "D" : "");
        if (c->IsGrouped()) s += "^";
    }
    return s;
}

std::string TablesOf(TOrqParserEngine& E) {
    std::string s;
    for (int i = 0; i < E.TableList().Count(); ++i) {
        const TTableNameItem* t = E.TableList().Items(i);
        s += (i > 0 ? ", " : "") + t->TableName() +
             (t->CorrelationName().empty() ? "" : " " + t->CorrelationName());
    }
    return s;
}

// "group=a,b order=2 DESC,NAME members=UNION,UNION ALL subqueries=1 distinct".
std::string Summary(TTestQuery& Q) {
    TOrqParserEngine& e = *Q.Engine;
    std::string group, order, members;
    int subqueries = 0;
    for (int i = 0; i < e.GroupByItems().Count(); ++i)
        group += (i > 0 ? "," : "") + e.GroupByItems().Items(i)->FieldName();
    for (int i = 0; i < e.OrderByItems().Count(); ++i) {
        const TOrderByItem* o = e.OrderByItems().Items(i);
        order += (i > 0 ? "," : "") + (o->SortKey().empty() ? IntToStr(o->FieldIndex()) : o->SortKey()) +
                 (o->Descending() ? " DESC" : "");
    }
    for (const auto& n : Q.Nested) {
        if (n->IsUnionMember)
            members += std::string(members.empty() ? "" : ",") + (n->UnionAll ? "UNION ALL" : "UNION");
        else
            ++subqueries;
    }
    std::string s =
        "group=" + group + " order=" + order + " members=" + members + " subqueries=" + IntToStr(subqueries);
    if (e.SelectParser().IsDistinct()) s += " distinct";
    return s;
}

TEST(ParserEngine, SelectStatements) {
    struct Case {
        const char* Sql;
        const char* Tables;
        const char* Columns;
        const char* Summary;
    } cases[] = {
        {"SELECT * FROM a, b", "a, b",
         "ID:Integer@a.ID, NAME:String(20)@a.NAME, QTY:Integer@a.QTY, PRICE:Float@a.PRICE, NOTE:Memo@a.NOTE, "
         "ID_1:Integer@b.ID, A_ID:Integer@b.A_ID, CODE:String(5)@b.CODE, FLAG:Boolean@b.FLAG",
         "group= order= members= subqueries=0"},
        {"SELECT x.NAME, y.CODE AS c, NAME || CODE FROM a x JOIN b AS y ON x.ID = y.A_ID", "a x, b y",
         "x.NAME:String(20)@a.NAME, c:String(5)@b.CODE, NAME || CODE:String(25)",
         "group= order= members= subqueries=0"},
        {"SELECT b.*, a.NAME FROM a, b", "a, b",
         "ID:Integer@b.ID, A_ID:Integer@b.A_ID, CODE:String(5)@b.CODE, FLAG:Boolean@b.FLAG, "
         "a.NAME:String(20)@a.NAME",
         "group= order= members= subqueries=0"},
        // An unqualified name belongs to the one table that has it.
        {"SELECT NAME, CODE, b.ID FROM a, b", "a, b",
         "NAME:String(20)@a.NAME, CODE:String(5)@b.CODE, b.ID:Integer@b.ID",
         "group= order= members= subqueries=0"},
        {"SELECT , NAME FROM a", "a", "NAME:String(20)@a.NAME", "group= order= members= subqueries=0"},
        {"SELECT * FROM b, b c", "b, b c",
         "ID:Integer@b.ID, A_ID:Integer@b.A_ID, CODE:String(5)@b.CODE, FLAG:Boolean@b.FLAG, "
         "ID_1:Integer@b.ID, "
         "A_ID_1:Integer@b.A_ID, CODE_1:String(5)@b.CODE, FLAG_1:Boolean@b.FLAG",
         "group= order= members= subqueries=0"},
        // A key not named like its column is found through the column's source table.
        {"SELECT x.NAME FROM a x ORDER BY x.NAME", "a x", "x.NAME:String(20)@a.NAME",
         "group= order=x.NAME members= subqueries=0"},
        {"SELECT NAME, COUNT(*), SUM(QTY * PRICE) AS total, MAX(DISTINCT QTY) FROM a GROUP BY NAME "
         "HAVING COUNT(*) > 1 ORDER BY 2 DESC, NAME",
         "a",
         "NAME:String(20)@a.NAME^, COUNT(*):Integer#Count, total:Float#Sum, MAX(DISTINCT QTY):Integer#MaxD",
         "group=NAME order=2 DESC,NAME members= subqueries=0"},
        {"SELECT DISTINCT NAME, QTY + 1 AS q FROM a ORDER BY q DESC", "a", "NAME:String(20)@a.NAME, q:Float",
         "group= order=q DESC members= subqueries=0 distinct"},
        {"SELECT NAME FROM a UNION SELECT CODE FROM b UNION ALL SELECT NAME FROM a WHERE QTY > 2 ORDER BY 1",
         "a", "NAME:String(20)@a.NAME", "group= order=1 members=UNION,UNION ALL subqueries=0"},
        // UNION behind GROUP BY and behind HAVING.
        {"SELECT NAME, COUNT(*) FROM a GROUP BY NAME UNION SELECT CODE, COUNT(*) FROM b GROUP BY CODE "
         "HAVING COUNT(*) > 2 UNION SELECT NAME, QTY FROM a ORDER BY 2",
         "a", "NAME:String(20)@a.NAME^, COUNT(*):Integer#Count",
         "group=NAME order=2 members=UNION,UNION subqueries=0"},
        {"SELECT NAME FROM a WHERE ID IN (SELECT A_ID FROM b WHERE CODE = 'x') AND QTY > 1 ORDER BY a.NAME",
         "a", "NAME:String(20)@a.NAME", "group= order=a.NAME members= subqueries=1"},
        {"SELECT NAME FROM a WHERE EXISTS (SELECT * FROM b WHERE b.A_ID = a.ID) AND QTY = (SELECT MAX(ID) "
         "FROM b)",
         "a", "NAME:String(20)@a.NAME", "group= order= members= subqueries=2"},
        {"SELECT SUM(QTY) * 2 AS s, UPPER(MAX(NAME)), COUNT(*) + 1 AS n FROM a", "a",
         "s:Float#Sum, UPPER(MAX(NAME)):String(20)#Max, n:Integer#Count",
         "group= order= members= subqueries=0"},
        {"SELECT NULL, TRUE AS t, 'x' AS s, CURRENT_DATE AS d FROM a", "a",
         "NULL:Integer, t:Boolean, s:String(1), d:Date", "group= order= members= subqueries=0"},
        {"SELECT NAME FROM a WHERE QTY > :minqty AND PRICE < :maxprice;", "a", "NAME:String(20)@a.NAME",
         "group= order= members= subqueries=0"},
    };
    for (const Case& c : cases) {
        TTestQuery q(Tables());
        ASSERT_TRUE(q.Validate(c.Sql)) << c.Sql << ": " << q.ErrorText();
        EXPECT_EQ(TablesOf(*q.Engine), c.Tables) << c.Sql;
        EXPECT_EQ(Columns(q.Analyser), c.Columns) << c.Sql;
        EXPECT_EQ(Summary(q), c.Summary) << c.Sql;
    }
}

TEST(ParserEngine, SelectErrors) {
    std::string distinct32 = "SELECT DISTINCT C1";
    for (int i = 2; i <= 32; ++i) distinct32 += ", C" + IntToStr(i);
    distinct32 += " FROM wide";
    struct Case {
        std::string Sql;
        const char* Error;
    } cases[] = {
        {"SELECT DISTINCT * FROM wide", "Result set colummn count exceeds DISTINCT query limit (32)"},
        {distinct32, ""},
        {"SELECT DISTINCT NOTE, ID FROM a",
         "The column is not a valid data type for DISTINCT queries - NOTE"},
        {"SELECT DISTINCT NOTE, NOTE AS n2 FROM a",
         "The column is not a valid data type for DISTINCT queries - n2"},
        {"SELECT x.NAME FROM a x ORDER BY y.NAME",
         "Order by column not found (Order By columns must be in result set) : y.NAME"},
        {"SELECT NAME, COUNT(*) FROM a", "Output column must be specified in Group By clause : NAME"},
        {"SELECT NAME, QTY FROM a GROUP BY NAME", "Output column must be specified in Group By clause : QTY"},
        {"SELECT NAME FROM a GROUP BY PRICE", "Group By column not found : PRICE"},
        {"SELECT NAME, QTY FROM a ORDER BY 3", "Order by column number is out of range : 3"},
        {"SELECT NAME FROM a ORDER BY PRICE",
         "Order by column not found (Order By columns must be in result set) : PRICE"},
        {"SELECT COUNT(*) FROM a HAVING COUNT(*) > 1", "No group by clause was specified"},
        // An aggregate the result does not compute has no value to compare.
        {"SELECT NAME, COUNT(*) FROM a GROUP BY NAME HAVING SUM(QTY) > 1",
         "Fields specified in having clause must appear in the result set: SUM(QTY)"},
        {"SELECT NAME, COUNT(*) FROM a GROUP BY NAME HAVING QTY > 1",
         "Fields specified in having clause must appear in the result set: QTY"},
        {"SELECT NAME FROM a UNION DELETE FROM a", "Union statement was incorrectly terminated"},
        {"SELECT NAME FROM a UNION ALL", "Union statement was incorrectly terminated"},
        {"SELECT NAME FROM a UNION SELECT ID, CODE FROM b", "Union statement column counts do not match"},
        {"SELECT PRICE FROM a UNION SELECT FLAG FROM b", "Cannot convert type Boolean -> Float"},
        {"SELECT NAME FROM a; SELECT ID FROM b",
         "Unrecognized tokens beyond end of statement:  Line 1, Character 21. Token 'SELECT'"},
        {"SELECT NAME NAME2 x FROM a",
         "Select clause incorrectly terminated Line 1, Character 19. Token 'x'"},
        {"SELECT NAME FROM a WHERE ID IN (SELECT zz FROM b)",
         "Field not found Line 1, Character 40. Token 'zz'"},
        {"SELECT ID FROM a, b", "Field name is ambiguous Line 1, Character 8. Token 'ID'"},
        {"SELECT a.ID FROM a, b WHERE QTY > 1 AND\n  ID = 2",
         "Field name is ambiguous Line 2, Character 3. Token 'ID'"},
        {"SELECT NAME FROM a x, a y", "Field name is ambiguous Line 1, Character 8. Token 'NAME'"},
        {"SELECT q.* FROM a", "Table and/or field not found (q.*)"},
        {"SELECT NAME FROM nosuch", "Table not found - nosuch"},
        {"SELECT NAME FROM a HAVING", "No group by clause was specified"},
    };
    for (const Case& c : cases) {
        TTestQuery q(Tables());
        const bool ok = q.Validate(c.Sql);
        EXPECT_EQ(ok, std::string(c.Error).empty()) << c.Sql;
        EXPECT_EQ(q.ErrorText(), c.Error) << c.Sql;
    }
}

TEST(ParserEngine, ClauseTreesAndParameters) {
    TTestQuery q(Tables());
    const std::string sql =
        "SELECT NAME FROM a WHERE ID IN (SELECT A_ID FROM b WHERE CODE = 'x') AND QTY > :minqty ORDER BY "
        "NAME";
    ASSERT_TRUE(q.Validate(sql)) << q.ErrorText();
    // The outer WHERE went on behind the subquery's closing parenthesis.
    EXPECT_EQ(test::Show(q.Engine->WhereParser().RootNode()), "(AND (IN ID (SELECT 0)) (GT QTY :minqty))");
    ASSERT_EQ(q.Nested.size(), 1u);
    TOrqParserEngine& sub = *q.Nested[0]->Engine;
    EXPECT_TRUE(sub.IsSubquery());
    EXPECT_TRUE(sub.SubqueryClosed());
    EXPECT_EQ(TablesOf(sub), "b");
    EXPECT_EQ(test::Show(sub.WhereParser().RootNode()), "(EQ CODE 'x')");
    EXPECT_EQ(Columns(q.Nested[0]->Analyser), "A_ID:Integer@b.A_ID");
    EXPECT_EQ(q.Engine->NestedEngineCount(), 0);  // the driver took it over

    TStringList params;
    q.Engine->GetParamList(&params);
    EXPECT_EQ(params.CommaText(), "minqty");
}

TEST(ParserEngine, UsingAndNaturalJoinsGetTheirConditions) {
    struct Case {
        const char* Sql;
        const char* Condition;
        const char* Error;
    } cases[] = {
        {"SELECT NAME, CODE FROM a JOIN b USING (ID)", "(EQ b.ID a.ID)", ""},
        {"SELECT NAME, CODE FROM a x NATURAL JOIN b y", "(EQ y.ID x.ID)", ""},
        {"SELECT NAME FROM a JOIN b USING (QTY)", "", "Field not found in join tables: QTY"},
    };
    for (const Case& c : cases) {
        TTestQuery q(Tables());
        EXPECT_EQ(q.Validate(c.Sql), std::string(c.Error).empty()) << c.Sql;
        EXPECT_EQ(q.ErrorText(), c.Error) << c.Sql;
        if (std::string(c.Error).empty())
            EXPECT_EQ(test::Show(q.Engine->FromParser().Root()->Expr().FirstNode()), c.Condition) << c.Sql;
    }
}

TEST(ParserEngine, CorrelatedNamesResolveThroughTheOuterQuery) {
    TTestQuery q(Tables());
    ASSERT_TRUE(q.Validate("SELECT NAME FROM a WHERE EXISTS (SELECT * FROM b WHERE b.A_ID = a.ID)"))
        << q.ErrorText();
    ASSERT_EQ(q.Nested.size(), 1u);
    const TOrqExprNode* cmp = q.Nested[0]->Engine->WhereParser().RootNode();
    ASSERT_NE(cmp, nullptr);
    EXPECT_EQ(test::Show(cmp), "(EQ b.A_ID ^ID)");
    EXPECT_EQ(cmp->Right()->Tables().Items(0)->TableName(), "a");
}

TEST(ParserEngine, AggregateColumnExpressions) {
    TTestQuery q(Tables());
    ASSERT_TRUE(q.Validate("SELECT SUM(QTY) * 2 AS s, COUNT(*), COUNT(*) + 1, MIN(PRICE) FROM a"))
        << q.ErrorText();
    const TSelectFields& f = q.Analyser.SelectFields();
    ASSERT_EQ(f.Count(), 4);
    // SUM(x) * 2: the argument is evaluated per row, the whole expression over the sum.
    EXPECT_EQ(test::Show(f.GetItems(0)->ExprRoot()), "QTY");
    EXPECT_EQ(test::Show(f.GetItems(0)->AggExprRoot()), "(MUL (SUM QTY) 2)");
    // COUNT(*) evaluates its own node, alone or inside an expression.
    EXPECT_EQ(f.GetItems(1)->ExprRoot()->ParserToken().Token(), ostAggFunc);
    EXPECT_EQ(f.GetItems(1)->AggExprRoot(), nullptr);
    EXPECT_EQ(f.GetItems(2)->ExprRoot()->ParserToken().Token(), ostAggFunc);
    EXPECT_EQ(test::Show(f.GetItems(2)->AggExprRoot()), "(ADD (COUNT) 1)");
    EXPECT_EQ(test::Show(f.GetItems(3)->ExprRoot()), "PRICE");
    EXPECT_EQ(f.GetItems(3)->AggFunc(), oafMin);
}

// A row source over one result row: columns by name with their values.
class TResultRow : public TOrqExprDataProvider {
public:
    TResultRow(const TSelectFields& Fields, std::vector<Variant> Values) : FValues(std::move(Values)) {
        for (int i = 0; i < Fields.Count(); ++i) {
            TInternalFieldItem* item = ProviderFields().Add();
            item->SetFieldName(Fields.GetItems(i)->FieldName());
            item->SetFieldNo(i + 1);
        }
        SetDBStringCompare(DBANSICompareStrings);
    }
    Variant GetDataAsVariant(int FieldNo) override {
        return FValues.at(static_cast<std::size_t>(FieldNo - 1));
    }

private:
    std::vector<Variant> FValues;
};

TEST(ParserEngine, HavingAggregatesReadTheirResultColumns) {
    struct Case {
        const char* Sql;
        const char* Having;  // the condition once linked to the result columns
    } cases[] = {
        {"SELECT NAME, COUNT(*) FROM a GROUP BY NAME HAVING COUNT(*) > 1", "(GT COUNT(*) 1)"},
        {"SELECT NAME, count( * ) AS n FROM a GROUP BY NAME HAVING COUNT(*) > 1", "(GT n 1)"},
        {"SELECT NAME, SUM(QTY) AS total FROM a GROUP BY NAME HAVING (SUM( QTY ) > 1)", "(GT total 1)"},
    };
    for (const Case& c : cases) {
        TTestQuery q(Tables());
        ASSERT_TRUE(q.Validate(c.Sql)) << c.Sql << ": " << q.ErrorText();
        TOrqExpr* having = q.Engine->HavingParser().Expr();
        const TOrqExprNode* root = having->FirstNode();
        // Linked aggregates are field references now (their text is the column's name).
        auto show = [](const TOrqExprNode* n, auto& self) -> std::string {
            if (n->Kind() == enkField) return n->Data().AsString();
            if (n->Kind() == enkConst) return test::ShowValue(n->Data());
            std::string op = C_STRCANOperator[n->Operator()];
            if (op.rfind("co", 0) == 0) op = op.substr(2);
            return "(" + op + " " + self(n->Left(), self) + " " + self(n->Right(), self) + ")";
        };
        EXPECT_EQ(show(root, show), c.Having) << c.Sql;

        // A group row with the aggregate at 2 passes; at 1 it is dropped.
        for (int count : {2, 1}) {
            TResultRow row(q.Analyser.SelectFields(), {Variant("a"), Variant(count)});
            TExprEvaluator evaluator;
            evaluator.SetDBStringCompare(DBANSICompareStrings);
            evaluator.SetExcludeRelopNulls(true);
            evaluator.Prepare(&row, root);
            EXPECT_EQ(evaluator.Evaluate(), count == 2) << c.Sql << " with " << count;
        }
    }
}

TEST(ParserEngine, DataChangingStatements) {
    struct Case {
        const char* Sql;
        const char* Error;
        int Nested;
    } cases[] = {
        {"INSERT INTO a (ID, NAME) SELECT A_ID, CODE FROM b WHERE ID > 1", "", 1},
        {"INSERT INTO a (ID, QTY) SELECT A_ID, FLAG FROM b", "", 1},
        {"INSERT INTO a (PRICE) SELECT FLAG FROM b", "Cannot convert type Boolean -> Float", 1},
        {"INSERT INTO a VALUES (1, 'n', 2, 2.5)", "", 0},
        {"INSERT INTO a VALUES (1, 'n', 2, 2.5, 'note', 7)",
         "Number of insert columns does not match number of insert values", 0},
        {"INSERT INTO a (ID) SELECT zz FROM b", "Field not found Line 1, Character 27. Token 'zz'", 0},
        {"DELETE FROM a WHERE QTY > 1 AND ID IN (SELECT A_ID FROM b WHERE FLAG = TRUE)", "", 1},
        {"DELETE FROM a WHERE zz = 1", "Field not found Line 1, Character 21. Token 'zz'", 0},
        {"UPDATE a SET QTY = QTY + 1, NAME = 'x' WHERE ID = 3", "", 1},
        {"UPDATE a SET QTY = (SELECT MAX(A_ID) FROM b) WHERE ID = 3", "", 2},
        {"UPDATE nosuch SET QTY = 1",
         "Table not found - nosuch | Table and/or field not found Line 1, Character 8. Token 'nosuch'", 0},
        {"DELETE FROM a WHERE ID = 1 garbage", "Invalid token Line 1, Character 28. Token 'garbage'", 0},
    };
    for (const Case& c : cases) {
        TTestQuery q(Tables());
        const bool ok = q.Validate(c.Sql);
        EXPECT_EQ(ok, std::string(c.Error).empty()) << c.Sql;
        EXPECT_EQ(q.ErrorText(), c.Error) << c.Sql;
        if (ok) EXPECT_EQ(static_cast<int>(q.Nested.size()), c.Nested) << c.Sql;
    }
}

TEST(ParserEngine, DeleteWherePartIsParsedByTheNestedEngine) {
    TTestQuery q(Tables());
    ASSERT_TRUE(q.Validate("DELETE FROM a WHERE QTY > 1 AND ID IN (SELECT A_ID FROM b)")) << q.ErrorText();
    ASSERT_EQ(q.Nested.size(), 1u);
    TOrqParserEngine& where = *q.Nested[0]->Engine;
    EXPECT_EQ(TablesOf(where), "a");
    EXPECT_EQ(test::Show(where.WhereParser().RootNode()), "(AND (GT QTY 1) (IN ID (SELECT 0)))");
    EXPECT_TRUE(where.CheckParseDone());
    // The subquery inside the WHERE part is nested one level further.
    ASSERT_EQ(q.Nested[0]->Nested.size(), 1u);
    EXPECT_EQ(Columns(q.Nested[0]->Nested[0]->Analyser), "A_ID:Integer@b.A_ID");
    EXPECT_TRUE(q.Engine->CheckNoTokensRemain());
}

TEST(ParserEngine, SchemaStatementAddsItsTable) {
    TOrqParserEngine e;
    e.PreParseSQL("CREATE TEMPORARY TABLE m (x INTEGER)");
    EXPECT_EQ(e.GetSQLStatementType(), osSchemaManipulation);
    ASSERT_TRUE(e.ParseSchemaManipulationStatement()) << e.ErrorMsg();
    ASSERT_EQ(e.TableList().Count(), 1);
    EXPECT_EQ(e.TableList().Items(0)->TableName(), "m");
    EXPECT_TRUE(e.TableList().Items(0)->MemorySpecified());
    EXPECT_TRUE(e.TableList().Items(0)->Memory());
}

// Loads the fixture's field lists into the engine's tables, as the query layer does after
// ParseFromClause.
void LoadFields(TOrqParserEngine& E) {
    for (int i = 0; i < E.TableList().Count(); ++i) {
        const test::TTestTableFields fields(Tables().at(E.TableList().Items(i)->TableName()));
        E.TableList().Items(i)->SetTableFields(&fields);
    }
}

TEST(ParserEngine, NestedEnginesWithoutHandlerAreOwned) {
    // Without a handler nobody parses the subquery, but the nested engine made for it is
    // still freed (the sanitizer reports a leak otherwise).
    TOrqParserEngine e;
    e.PreParseSQL("SELECT NAME FROM a WHERE ID IN (SELECT A_ID FROM b) UNION SELECT CODE FROM b");
    ASSERT_TRUE(e.ParseFromClause());
    LoadFields(e);
    ASSERT_TRUE(e.ParseSelectClause());
    e.ParseWhereClause();
    EXPECT_EQ(e.NestedEngineCount(), 1);
    Variant data(false);
    e.ParserCallback(pntSelectUnion, &e.FromParser(), nullptr, nullptr, data);
    EXPECT_EQ(e.NestedEngineCount(), 2);
    // A new statement frees them.
    e.PreParseSQL("SELECT NAME FROM a");
    EXPECT_EQ(e.NestedEngineCount(), 0);

    // A released engine is the caller's; an engine not made here is refused.
    e.PreParseSQL("SELECT NAME FROM a WHERE ID IN (SELECT A_ID FROM b)");
    std::unique_ptr<TOrqParserEngine> taken;
    TOrqParserEngine stranger;
    e.SetParserEngineNotifyEvent([&](TParserNotifyType, TOrqParserEngine* Nested, TOrqExprNode*, Variant&) {
        EXPECT_EQ(e.ReleaseNestedEngine(&stranger), nullptr);
        taken = e.ReleaseNestedEngine(Nested);
    });
    e.ParseFromClause();
    LoadFields(e);
    e.ParseSelectClause();
    e.ParseWhereClause();
    EXPECT_NE(taken, nullptr);
    EXPECT_EQ(e.NestedEngineCount(), 0);

    // A notification of no known kind is an error of the parser that raised it.
    Variant none;
    e.ParserCallback(pntUnknown, &e.GroupByParser(), nullptr, nullptr, none);
    EXPECT_EQ(e.GroupByParser().ErrorMsg(), "Invalid token");
}

TEST(ParserEngine, UnionCheckOnlyChangesNothing) {
    TOrqParserEngine e;
    e.PreParseSQL("SELECT NAME FROM a UNION ALL SELECT CODE FROM b");
    ASSERT_TRUE(e.ParseFromClause());
    LoadFields(e);
    ASSERT_TRUE(e.ParseSelectClause());
    ASSERT_TRUE(e.ParseWhereClause());
    const int before = e.PreParser1().GetSingleStackCount();
    bool all = false;
    EXPECT_TRUE(e.CheckForUnionStatement(true, all));
    EXPECT_FALSE(all);
    EXPECT_FALSE(e.HasUnionStatement());
    EXPECT_EQ(e.PreParser1().GetSingleStackCount(), before);
    // Without the check-only flag ALL is consumed and SELECT is left on top.
    EXPECT_TRUE(e.CheckForUnionStatement(false, all));
    EXPECT_TRUE(all);
    EXPECT_TRUE(e.HasUnionStatement());
    EXPECT_EQ(e.PreParser1().GetSingleStack()->Peek()->Token(), ostSelect);
    EXPECT_EQ(e.FromParser().CurrentTokenType(), ostUnion);
}

TEST(ParserEngine, OneEngineServesOneStatementAtATime) {
    TTestQuery q(Tables());
    ASSERT_TRUE(
        q.Validate("SELECT NAME, COUNT(*) FROM a WHERE QTY > 1 GROUP BY NAME HAVING COUNT(*) > 1 ORDER BY 1"))
        << q.ErrorText();
    ASSERT_NE(q.Engine->WhereParser().RootNode(), nullptr);
    // The next statement sees nothing of the previous one.
    ASSERT_TRUE(q.Validate("SELECT NAME FROM a")) << q.ErrorText();
    EXPECT_EQ(q.Engine->WhereParser().RootNode(), nullptr);
    EXPECT_EQ(q.Engine->HavingParser().Expr()->FirstNode(), nullptr);
    EXPECT_EQ(q.Engine->GroupByItems().Count(), 0);
    EXPECT_EQ(q.Engine->OrderByItems().Count(), 0);
    EXPECT_EQ(TablesOf(*q.Engine), "a");

    ASSERT_TRUE(q.Validate("INSERT INTO a (ID) VALUES (1)")) << q.ErrorText();
    ASSERT_TRUE(q.Validate("INSERT INTO b (ID) VALUES (2)")) << q.ErrorText();
    EXPECT_EQ(TablesOf(*q.Engine), "b");
    EXPECT_EQ(q.Engine->InsertParser().RowConstructor().Count(), 1);
}

TEST(ParserEngine, SelectListDisplay) {
    TOrqParserEngine e;
    e.PreParseSQL("SELECT b.*, COUNT(*) AS n, CODE FROM b");
    ASSERT_TRUE(e.ParseFromClause());
    LoadFields(e);
    ASSERT_TRUE(e.ParseSelectClause()) << e.ErrorMsg();
    TStringList lines;
    e.SelectParser().DebugDisplay(lines);
    ASSERT_GE(lines.Count(), 8);
    EXPECT_EQ(lines.Strings(0), "Column Group");
    EXPECT_EQ(lines.Strings(1), "Output all from - b");
    EXPECT_EQ(lines.Strings(2), "  Agg Func");
    EXPECT_EQ(lines.Strings(3), "  Func - COUNT :: ");
    EXPECT_EQ(lines.Strings(4), "Start Expr");
    EXPECT_EQ(lines.Strings(lines.Count() - 5), "    Derived Column");
    EXPECT_EQ(lines.Strings(lines.Count() - 4), "    RawColumnName - CODE");
    EXPECT_EQ(lines.Strings(lines.Count() - 1), "End Expr");
}

}  // namespace
}  // namespace ostra
