// The evaluator over a small fixture row source: a table of expressions with their results on
// every row (with and without null exclusion), string collation and partial matching, the
// string functions, CAST and EXTRACT, subqueries (scalar, ANY, ALL, IN, EXISTS) over fixture
// datasets, joins of two row sources, and result lists.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqExprEvaluator.h"
#include "engine/sql/tests/support/TestExprParsing.h"
#include "engine/sql/tests/support/TestRowsDataSet.h"
#include "engine/sql/tests/support/TestTableFields.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqErrors.h"
#include "host/DateTime.h"
#include "host/Exceptions.h"

namespace ostra {
namespace {

using test::TExprParse;

struct Column {
    std::string Name;
    TFieldType Type;
    int Length = 0;  // characters of a string
};

// A row source over fixed rows: the record address of a row is its position.
class TFixtureProvider : public TOrqExprDataProvider {
public:
    TFixtureProvider(std::vector<Column> Columns, std::vector<std::vector<Variant>> Rows)
        : FColumns(std::move(Columns)), FRows(std::move(Rows)) {
        for (std::size_t i = 0; i < FColumns.size(); ++i) {
            TInternalFieldItem* item = ProviderFields().Add();
            item->SetFieldName(FColumns[i].Name);
            item->SetDataType(FColumns[i].Type);
            if (FColumns[i].Type == ftString) item->SetFieldSize(FColumns[i].Length + 1);
            item->SetFieldNo(static_cast<int>(i) + 1);
            item->SetFieldIndex(static_cast<int>(i));
        }
        SetDBStringCompare(DBANSICompareStrings);
    }

    // The same columns as a table of a table list, for the parser.
    void AddTo(TTableList& List, const std::string& Name, const std::string& Alias = "") const {
        std::vector<test::TestField> fields;
        for (const Column& c : FColumns)
            fields.push_back({c.Name, c.Type, c.Type == ftString ? c.Length + 1 : 8});
        TTableNameItem* item = List.Add();
        item->SetTableName(Name);
        item->SetCorrelationName(Alias);
        test::TTestTableFields f(fields);
        item->SetTableFields(&f);
    }

    int RowCount() const { return static_cast<int>(FRows.size()); }
    Variant GetDataAsVariant(int FieldNo) override {
        return FRows[static_cast<std::size_t>(FCurrent)][static_cast<std::size_t>(FieldNo - 1)];
    }
    bool IsFieldNull(int FieldNo) override {
        ++IsFieldNullCalls;
        return TOrqExprDataProvider::IsFieldNull(FieldNo);
    }
    bool GetFieldNumber(int FieldNo, double& Value) override {
        const Variant& v = FRows[static_cast<std::size_t>(FCurrent)][static_cast<std::size_t>(FieldNo - 1)];
        if (VarType(v) != varInteger && VarType(v) != varDouble) return false;
        Value = v.AsDouble();
        return true;
    }
    bool MoveToRecord(uint32_t RecNo) override {
        if (RecNo >= FRows.size()) return false;
        FCurrent = static_cast<int>(RecNo);
        return true;
    }
    TOrqExprDataProvider* FindProvider(const std::string& Name) override {
        auto it = Others.find(Name);
        if (it != Others.end()) return it->second;
        return Name == TableName || Name.empty() ? this : nullptr;
    }

    std::string TableName = "t";
    std::map<std::string, TOrqExprDataProvider*> Others;
    int IsFieldNullCalls = 0;

private:
    std::vector<Column> FColumns;
    std::vector<std::vector<Variant>> FRows;
    int FCurrent = 0;
};

Variant Day(int y, int m, int d) {
    return VarFromDateTime(EncodeDate(y, m, d));
}

// id, name, qty, price, d, b; rows 2 and 3 hold nulls.
std::unique_ptr<TFixtureProvider> Orders() {
    return std::make_unique<TFixtureProvider>(std::vector<Column>{{"id", ftInteger},
                                                                  {"name", ftString, 10},
                                                                  {"qty", ftInteger},
                                                                  {"price", ftFloat},
                                                                  {"d", ftDate},
                                                                  {"b", ftBoolean}},
                                              std::vector<std::vector<Variant>>{
                                                  {1, "Apple", 5, 1.5, Day(2001, 2, 3), true},
                                                  {2, "banana", Null(), 2.0, Null(), false},
                                                  {3, Null(), 0, Null(), Day(2001, 2, 4), Null()},
                                                  {4, "Cherry", 10, 0.5, Day(2000, 12, 31), true},
                                              });
}

// A subquery whose result rows are a fixture dataset.
class TFixtureSubquery : public TCustomExprNodeDataProvider {
public:
    // One integer column with these values.
    explicit TFixtureSubquery(const std::vector<Variant>& Values)
        : FData({{"v", ftInteger}}, OneColumn(Values)) {
        SetProviderDataset(&FData);
    }
    TFixtureSubquery(std::vector<test::TestColumn> Columns, std::vector<std::vector<Variant>> Rows)
        : FData(std::move(Columns), std::move(Rows)) {
        SetProviderDataset(&FData);
    }
    bool PrepareAndOpen() override {
        ++Runs;
        if (!Usable) return false;
        FData.Open();
        FData.First();
        return true;
    }
    bool Usable = true;
    int Runs = 0;

private:
    static std::vector<std::vector<Variant>> OneColumn(const std::vector<Variant>& Values) {
        std::vector<std::vector<Variant>> rows;
        for (const Variant& v : Values) rows.push_back({v});
        return rows;
    }
    test::TRowsDataSet FData;
};

// Parses expressions against the fixture's table, hands every subquery node (in order) its
// provider, and evaluates on every row.
class EvalFixture {
public:
    explicit EvalFixture(std::unique_ptr<TFixtureProvider> Provider = Orders())
        : FProvider(std::move(Provider)) {
        FProvider->AddTo(FTables, "t");
        P.Parser.SetTableList(&FTables);
        P.Parser.SetParserNotifyEvent(
            [this](TParserNotifyType, TBaseParser* parser, TParserStack*, TOrqExprNode* node, Variant&) {
                FSubqueryNodes.push_back(node);
                int depth = 0;
                while (parser->CurrToken() != nullptr) {
                    if (parser->CurrentTokenType() == ostLParen) ++depth;
                    if (parser->CurrentTokenType() == ostRParen && depth-- == 0) break;
                    parser->NextToken();
                }
            });
    }

    TFixtureProvider& Provider() { return *FProvider; }

    // Parses Text; the subqueries it holds get Subqueries in order.
    const TOrqExprNode* Parse(const std::string& Text,
                              std::vector<TCustomExprNodeDataProvider*> Subqueries = {}) {
        FSubqueryNodes.clear();
        EXPECT_TRUE(P.Parse(Text, TOrqParserOptions{opoExtSyntax, opoSubqueries, opoParameters}))
            << Text << ": " << P.Parser.GetErrorMsg();
        for (std::size_t i = 0; i < FSubqueryNodes.size() && i < Subqueries.size(); ++i)
            FSubqueryNodes[i]->SetExprNodeDataProvider(Subqueries[i]);
        return P.Root();
    }

    // 'T' or 'F' per row; without KeepNodeResults the evaluator keeps no node values and
    // decides number comparisons without Variants.
    std::string Rows(const std::string& Text, bool ExcludeNulls,
                     std::vector<TCustomExprNodeDataProvider*> Subqueries = {}, bool KeepNodeResults = true) {
        const TOrqExprNode* root = Parse(Text, Subqueries);
        TExprEvaluator ev;
        ev.SetDBStringCompare(DBANSICompareStrings);
        ev.SetExcludeRelopNulls(ExcludeNulls);
        ev.SetKeepNodeResults(KeepNodeResults);
        ev.Prepare(FProvider.get(), root);
        std::string out;
        for (int r = 0; r < FProvider->RowCount(); ++r) {
            FProvider->MoveToRecord(static_cast<uint32_t>(r));
            if (KeepNodeResults) ev.Reset();
            out += ev.Evaluate() ? 'T' : 'F';
        }
        return out;
    }

    // The value on row R.
    Variant Value(const std::string& Text, int R, std::vector<TCustomExprNodeDataProvider*> Subqueries = {}) {
        const TOrqExprNode* root = Parse(Text, Subqueries);
        TExprEvaluator ev;
        ev.SetDBStringCompare(DBANSICompareStrings);
        ev.Prepare(FProvider.get(), root);
        FProvider->MoveToRecord(static_cast<uint32_t>(R));
        return ev.EvaluateValueExpr();
    }

    TExprParse P;

private:
    std::unique_ptr<TFixtureProvider> FProvider;
    TTableList FTables;
    std::vector<TOrqExprNode*> FSubqueryNodes;
};

TEST(ExprEvaluator, ExpressionsOverTheFixtureRows) {
    struct Case {
        const char* Text;
        const char* Plain;     // nulls lower than every value
        const char* Excluded;  // comparisons with nulls unknown
    } cases[] = {
        {"qty = 5", "TFFF", "TFFF"},
        {"qty < 5", "FTTF", "FFTF"},
        {"qty <= 0", "FTTF", "FFTF"},
        {"qty <> 5", "FTTT", "FFTT"},
        {"qty > 1", "TFFT", "TFFT"},
        {"NOT (qty = 5)", "FTTT", "FFTT"},
        {"5 > qty", "FTTF", "FFTF"},
        {"qty IS NULL", "FTFF", "FTFF"},
        {"qty IS NOT NULL", "TFTT", "TFTT"},
        // The computed value of a null is unknown, not Null.
        {"qty + 1 IS NULL", "FFFF", "FFFF"},
        {"qty + 1 IS NOT NULL", "TTTT", "TTTT"},
        {"price * 2 > 3", "FTFF", "FTFF"},
        {"price / 2 < 1", "TFFT", "TFFT"},
        {"qty > 1 AND price < 2", "TFFT", "TFFT"},
        {"qty > 1 OR price > 1.8", "TTFT", "TTFT"},
        // Chains of number comparisons, with a null among the fields on rows 2 and 3.
        {"qty < 6 OR price < 1", "TTTT", "TFTT"},
        {"(qty >= 5 OR price >= 2) AND id < 4", "TTFF", "TTFF"},
        {"qty = 0 AND price < 1 OR id = 2", "FTTF", "FTFF"},
        // unknown AND False stays unknown, and NOT unknown is unknown.
        {"NOT (qty > 1 AND price < 2)", "FTTF", "FFFF"},
        // unknown OR False is False, so its negation holds.
        {"NOT (qty > 100 OR price > 100)", "TTTT", "TTTT"},
        {"name LIKE 'b%'", "FTFF", "FTFF"},
        {"name NOT LIKE 'b%'", "TFFT", "TFFT"},
        {"name LIKE '_a%'", "FTFF", "FTFF"},
        {"qty IN (5, 10)", "TFFT", "TFFT"},
        // A null is in no list, so NOT IN holds for it in both modes.
        {"qty NOT IN (5, 10)", "FTTF", "FTTF"},
        {"qty IN (qty, 1)", "TTTT", "TFTT"},
        {"name = 'banana'", "FTFF", "FTFF"},
        {"name > 'B'", "FTFT", "FTFT"},
        {"name < 'B'", "TFTF", "TFFF"},
        {"name <> 'Apple'", "FTTT", "FTFT"},
        {"UPPER(name) = 'BANANA'", "FTFF", "FTFF"},
        {"LOWER(name) = 'cherry'", "FFFT", "FFFT"},
        {"UPPER(name) IS NULL", "FFTF", "FFTF"},
        {"TRIM(name) = ''", "FFTF", "FFTF"},
        {"SUBSTRING(name FROM 0 FOR 2) = 'Ap'", "TFFF", "TFFF"},
        {"SUBSTRING(name FROM 3) = 'nana'", "FTFF", "FTFF"},
        {"CAST(qty AS CHAR(1)) = '1'", "FFFT", "FFFT"},
        {"CAST(name AS CHAR(3)) = 'App'", "TFFF", "TFFF"},
        {"CAST(name AS CHAR(3)) IS NULL", "FFTF", "FFTF"},
        {"EXTRACT(YEAR FROM d) = 2001", "TFTF", "TFTF"},
        {"EXTRACT(DAY FROM d) < 4", "TTFF", "TFFF"},
        {"d = '2001-02-03'", "TFFF", "TFFF"},
        {"d IN ('2001-02-04', '2000-12-31')", "FFTT", "FFTT"},
        {"d BETWEEN '2001-01-01' AND '2001-12-31'", "TFTF", "TFTF"},
        // A computed unknown has no order, also without null exclusion.
        {"d - 1 < '2001-01-01'", "FFFT", "FFFT"},
        {"id BETWEEN 2 AND 3", "FTTF", "FTTF"},
        {"id NOT BETWEEN 2 AND 3", "TFFT", "TFFT"},
        {"b", "TFFT", "TFFT"},
        {"NOT b", "FTFF", "FTFF"},
        {"b = TRUE", "TFFT", "TFFT"},
        {"name || '!' = 'Apple!'", "TFFF", "TFFF"},
    };
    EvalFixture fx;
    for (const Case& c : cases)
        for (bool keep : {true, false}) {
            const std::string how = keep ? "" : " (answer only)";
            EXPECT_EQ(fx.Rows(c.Text, false, {}, keep), c.Plain) << c.Text << how;
            EXPECT_EQ(fx.Rows(c.Text, true, {}, keep), c.Excluded) << c.Text << " (nulls excluded)" << how;
        }
}

TEST(ExprEvaluator, IsNullOnAFieldAsksTheRowSource) {
    EvalFixture fx;
    fx.Provider().IsFieldNullCalls = 0;
    EXPECT_EQ(fx.Rows("qty IS NULL OR price IS NOT NULL", false), "TTFT");
    EXPECT_EQ(fx.Provider().IsFieldNullCalls, 8);
    EXPECT_EQ(fx.Rows("qty + 1 IS NULL", false), "FFFF");
    EXPECT_EQ(fx.Provider().IsFieldNullCalls, 8);
}

TEST(ExprEvaluator, FunctionValues) {
    EvalFixture fx;
    // UPPER and SUBSTRING of Null are Null; TRIM of Null is the empty string; CAST keeps Null.
    EXPECT_TRUE(VarIsNull(fx.Value("UPPER(name)", 2)));
    EXPECT_TRUE(VarIsNull(fx.Value("LOWER(name)", 2)));
    EXPECT_TRUE(VarIsNull(fx.Value("SUBSTRING(name FROM 1 FOR 2)", 2)));
    EXPECT_EQ(VarType(fx.Value("TRIM(name)", 2)), varString);
    EXPECT_EQ(fx.Value("TRIM(name)", 2).AsString(), "");
    EXPECT_TRUE(VarIsNull(fx.Value("CAST(name AS CHAR(3))", 2)));
    EXPECT_TRUE(VarIsNull(fx.Value("CAST(qty AS INTEGER)", 1)));
    EXPECT_TRUE(VarIsNull(fx.Value("EXTRACT(YEAR FROM d)", 1)));
    // Unknown stays unknown.
    EXPECT_TRUE(VarIsEmpty(fx.Value("CAST(qty + 1 AS INTEGER)", 1)));
    EXPECT_TRUE(VarIsEmpty(fx.Value("qty + 1", 1)));

    EXPECT_EQ(fx.Value("TRIM(LEADING 'x' FROM 'xxaxx')", 0).AsString(), "axx");
    EXPECT_EQ(fx.Value("TRIM(TRAILING 'x' FROM 'xxaxx')", 0).AsString(), "xxa");
    EXPECT_EQ(fx.Value("TRIM(BOTH 'x' FROM 'xxaxx')", 0).AsString(), "a");
    EXPECT_EQ(fx.Value("TRIM('  a  ')", 0).AsString(), "a");
    EXPECT_EQ(fx.Value("TRIM('' FROM 'xxa')", 0).AsString(), "");
    EXPECT_EQ(fx.Value("SUBSTRING(name FROM 0 FOR 2)", 3).AsString(), "Ch");
    EXPECT_EQ(fx.Value("SUBSTRING(name FROM 5 FOR 10)", 3).AsString(), "ry");
    EXPECT_EQ(fx.Value("SUBSTRING(name FROM 9)", 3).AsString(), "");
    EXPECT_EQ(fx.Value("SUBSTRING(name FROM 2 FOR 0)", 3).AsString(), "");
    EXPECT_EQ(fx.Value("UPPER(name) || LOWER(name)", 0).AsString(), "APPLEapple");
    EXPECT_EQ(fx.Value("CAST(name AS CHAR(3))", 3).AsString(), "Che");

    Variant year = fx.Value("EXTRACT(YEAR FROM d)", 0);
    EXPECT_EQ(VarType(year), varSmallint);
    EXPECT_EQ(year.AsInteger(), 2001);
    EXPECT_EQ(fx.Value("EXTRACT(MONTH FROM d)", 3).AsInteger(), 12);
    EXPECT_EQ(VarType(fx.Value("CAST(price AS INTEGER)", 0)), varInteger);
    EXPECT_EQ(fx.Value("CAST(qty AS SMALLINT)", 3).AsInteger(), 10);
    EXPECT_EQ(VarType(fx.Value("CAST(qty AS SMALLINT)", 3)), varSmallint);
    EXPECT_EQ(fx.Value("CAST(qty AS FLOAT) / 4", 0).AsDouble(), 1.25);
    EXPECT_EQ(VarType(fx.Value("CAST(price AS MONEY)", 0)), varCurrency);
    EXPECT_EQ(fx.Value("CAST(qty AS BOOLEAN)", 2).AsBoolean(), false);
    EXPECT_DOUBLE_EQ(fx.Value("CAST(d AS TIMESTAMP)", 0).AsDouble(), EncodeDate(2001, 2, 3));
    EXPECT_EQ(fx.Value("d + 1", 0).AsDateTime(), EncodeDate(2001, 2, 4));

    // CAST to a type it cannot produce, and an EXTRACT part it does not know.
    try {
        fx.Value("CAST(qty AS BLOB)", 0);
        ADD_FAILURE();
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10000);
        EXPECT_NE(std::string(e.what()).find("Blob"), std::string::npos);
    }
    const TOrqExprNode* extract = fx.Parse("EXTRACT(YEAR FROM d)");
    const_cast<TOrqExprNode*>(extract)->ParserToken().SetCustomOrdinal(ostMonth + 100);
    TExprEvaluator ev;
    ev.Prepare(&fx.Provider(), extract);
    fx.Provider().MoveToRecord(0);
    try {
        ev.EvaluateValueExpr();
        ADD_FAILURE();
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10000);
        EXPECT_NE(std::string(e.what()).find("Invalid extract field in EXTRACT expression"),
                  std::string::npos);
    }
}

TEST(ExprEvaluator, CalculatedTimesAndDatesFromCurrentDate) {
    EvalFixture fx;
    const TOrqExprNode* root = fx.Parse("d < CURRENT_DATE");
    // The layers above store the date in the node before the rows are read.
    const_cast<TOrqExprNode*>(root->Right())->SetData(VarFromDateTime(EncodeDate(2001, 2, 4)));
    TExprEvaluator ev;
    ev.SetDBStringCompare(DBANSICompareStrings);
    ev.SetExcludeRelopNulls(true);
    ev.Prepare(&fx.Provider(), root);
    std::string out;
    for (uint32_t r = 0; r < 4; ++r) {
        fx.Provider().MoveToRecord(r);
        out += ev.Evaluate() ? 'T' : 'F';
    }
    EXPECT_EQ(out, "TFFT");
}

TEST(ExprEvaluator, CaseInsensitiveAndPartialStringComparisons) {
    EvalFixture fx;
    fx.P.Parser.SetCaseInsensitiveMatch(true);
    EXPECT_EQ(fx.Rows("name = 'BANANA'", true), "FTFF");
    EXPECT_EQ(fx.Rows("name >= 'CHERRY'", true), "FFFT");
    // The field value itself is upper-cased.
    EXPECT_EQ(fx.Value("name", 0).AsString(), "APPLE");
    fx.P.Parser.SetCaseInsensitiveMatch(false);
    EXPECT_EQ(fx.Rows("name = 'BANANA'", true), "FFFF");

    // A prefix comparison: the constant's length limits it, a shorter value never matches.
    auto provider = std::make_unique<TFixtureProvider>(
        std::vector<Column>{{"name", ftString, 10}},
        std::vector<std::vector<Variant>>{{"banana"}, {"ba"}, {"bat"}, {"Ban"}});
    EvalFixture pfx(std::move(provider));
    const TOrqExprNode* root = pfx.Parse("name = 'ban'");
    const_cast<TOrqExprNode*>(root->Right())->SetPartialLength(3);
    TExprEvaluator ev;
    ev.SetDBStringCompare(DBASCIICompareStrings);
    ev.Prepare(&pfx.Provider(), root);
    std::string out;
    for (uint32_t r = 0; r < 4; ++r) {
        pfx.Provider().MoveToRecord(r);
        out += ev.Evaluate() ? 'T' : 'F';
    }
    EXPECT_EQ(out, "TFFF");

    // Comparing strings needs the database's collation.
    TExprEvaluator none;
    none.Prepare(&pfx.Provider(), root);
    EXPECT_THROW(none.Evaluate(), EAssertionFailed);
}

TEST(ExprEvaluator, SubqueriesInComparisons) {
    EvalFixture fx;
    TFixtureSubquery none(std::vector<Variant>{});
    TFixtureSubquery five(std::vector<Variant>{5});
    TFixtureSubquery fiveTen(std::vector<Variant>{5, 10});
    TFixtureSubquery fives(std::vector<Variant>{5, 5});
    TFixtureSubquery fiveNull(std::vector<Variant>{5, Null()});
    TFixtureSubquery unusable(std::vector<Variant>{5});
    unusable.Usable = false;

    // A scalar subquery without rows compares as unknown, even under NOT.
    EXPECT_EQ(fx.Rows("qty = (SELECT v FROM u)", false, {&none}), "FFFF");
    EXPECT_EQ(fx.Rows("NOT (qty = (SELECT v FROM u))", false, {&none}), "FFFF");
    EXPECT_EQ(fx.Rows("qty = (SELECT v FROM u)", false, {&five}), "TFFF");
    EXPECT_EQ(fx.Rows("(SELECT v FROM u) < qty", false, {&five}), "FFFT");
    // Each outer row runs the subquery once.
    five.Runs = 0;
    fx.Rows("qty >= (SELECT v FROM u)", false, {&five});
    EXPECT_EQ(five.Runs, 4);
    // ANY over no rows is false, ALL over no rows is true.
    EXPECT_EQ(fx.Rows("qty = ANY (SELECT v FROM u)", false, {&none}), "FFFF");
    EXPECT_EQ(fx.Rows("qty = ALL (SELECT v FROM u)", false, {&none}), "TTTT");
    EXPECT_EQ(fx.Rows("qty = SOME (SELECT v FROM u)", false, {&fiveTen}), "TFFT");
    EXPECT_EQ(fx.Rows("qty = ALL (SELECT v FROM u)", false, {&fives}), "TFFF");
    EXPECT_EQ(fx.Rows("qty < ALL (SELECT v FROM u)", false, {&fiveTen}), "FTTF");
    EXPECT_EQ(fx.Rows("qty < ALL (SELECT v FROM u)", true, {&fiveTen}), "FFTF");
    // A subquery that cannot run leaves the comparison unknown.
    EXPECT_EQ(fx.Rows("qty = ANY (SELECT v FROM u)", false, {&unusable}), "FFFF");
    EXPECT_EQ(fx.Rows("NOT (qty = ALL (SELECT v FROM u))", false, {&unusable}), "FFFF");
    // Two subqueries with one row each.
    EXPECT_EQ(fx.Rows("(SELECT v FROM u) = (SELECT v FROM u)", false, {&five, &five}), "TTTT");
    EXPECT_EQ(fx.Rows("(SELECT v FROM u) = (SELECT v FROM u)", false, {&five, &none}), "FFFF");

    struct Raise {
        const char* Text;
        std::vector<TCustomExprNodeDataProvider*> Subqueries;
        int Code;
        const char* Caller;
    } raises[] = {
        {"qty = (SELECT v FROM u)", {&fiveTen}, 9650, "EvaluateRightSubquery"},
        {"(SELECT v FROM u) = 1", {&fiveTen}, 9650, "EvaluateLeftSubquery"},
        {"(SELECT v FROM u) = (SELECT v FROM u)", {&five, &fiveTen}, 9650, "EvaluateDualSubqueries"},
        {"(SELECT v FROM u) + 1 = 2", {&fiveTen}, 9650, "EvaluateSubqueryValue"},
    };
    for (const Raise& r : raises) {
        try {
            fx.Rows(r.Text, false, r.Subqueries);
            ADD_FAILURE() << r.Text;
        } catch (const EOrqDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode, r.Code) << r.Text;
        }
    }
    // A subquery node without its provider is a programming error of the layer above.
    try {
        fx.Rows("qty = ANY (SELECT v FROM u)", false, {});
        ADD_FAILURE();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "ExprNodeDataProvider is not assigned");
    }
}

TEST(ExprEvaluator, InExistsAndScalarValues) {
    EvalFixture fx;
    TFixtureSubquery none(std::vector<Variant>{});
    TFixtureSubquery fiveNull(std::vector<Variant>{5, Null()});
    TFixtureSubquery seven(std::vector<Variant>{7});
    TFixtureSubquery twoColumns({{"v", ftInteger}, {"w", ftInteger}}, {{7, 8}});
    TFixtureSubquery unusable(std::vector<Variant>{5});
    unusable.Usable = false;

    EXPECT_EQ(fx.Rows("qty IN (SELECT v FROM u)", false, {&fiveNull}), "TTFF");
    EXPECT_EQ(fx.Rows("qty IN (SELECT v FROM u)", true, {&fiveNull}), "TFFF");
    EXPECT_EQ(fx.Rows("qty NOT IN (SELECT v FROM u)", true, {&fiveNull}), "FTTT");
    EXPECT_EQ(fx.Rows("qty IN (SELECT v FROM u)", false, {&none}), "FFFF");
    EXPECT_EQ(fx.Rows("qty IN (SELECT v FROM u)", false, {&unusable}), "FFFF");
    EXPECT_EQ(fx.Rows("EXISTS (SELECT v FROM u)", false, {&seven}), "TTTT");
    EXPECT_EQ(fx.Rows("EXISTS (SELECT v FROM u)", false, {&none}), "FFFF");
    EXPECT_EQ(fx.Rows("NOT EXISTS (SELECT v FROM u)", false, {&none}), "TTTT");
    EXPECT_EQ(fx.Rows("NOT EXISTS (SELECT v FROM u)", false, {&unusable}), "FFFF");

    EXPECT_EQ(fx.Value("(SELECT v FROM u) + qty", 0, {&seven}).AsInteger(), 12);
    EXPECT_TRUE(VarIsNull(fx.Value("(SELECT v FROM u)", 0, {&none})));
    EXPECT_TRUE(VarIsEmpty(fx.Value("(SELECT v FROM u)", 0, {&unusable})));
    try {
        fx.Value("(SELECT v FROM u)", 0, {&twoColumns});
        ADD_FAILURE();
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 9656);
    }
    try {
        fx.Rows("qty = (SELECT v FROM u)", false, {&twoColumns});
        ADD_FAILURE();
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 9656);
    }
}

TEST(ExprEvaluator, QualifiedFieldsComeFromTheirRowSources) {
    auto orders = Orders();
    TFixtureProvider customers(std::vector<Column>{{"cid", ftInteger}, {"name", ftString, 20}},
                               std::vector<std::vector<Variant>>{{2, "Beta"}});
    customers.MoveToRecord(0);
    orders->Others["c"] = &customers;
    TTableList tables;
    orders->AddTo(tables, "t");
    customers.AddTo(tables, "customers", "c");
    TExprParse p;
    p.Parser.SetTableList(&tables);
    ASSERT_TRUE(p.Parse("t.id = c.cid AND c.name > t.name", TOrqParserOptions{opoExtSyntax}))
        << p.Parser.GetErrorMsg();
    TExprEvaluator ev;
    ev.SetDBStringCompare(DBANSICompareStrings);
    ev.Prepare(orders.get(), p.Root());
    std::string out;
    for (uint32_t r = 0; r < 4; ++r) {
        orders->MoveToRecord(r);
        out += ev.Evaluate() ? 'T' : 'F';
    }
    EXPECT_EQ(out, "FTFF");

    // What cannot be resolved is an assertion failure of the caller.
    ASSERT_TRUE(p.Parse("x.id = 1", TOrqParserOptions{opoExtSyntax}) || true);
    TExprParse bare;
    ASSERT_TRUE(bare.Parse("x.id = 1 AND nosuch = 2", TOrqParserOptions{opoExtSyntax}));
    try {
        ev.Prepare(orders.get(), bare.Root());
        ADD_FAILURE();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "The Evaluator node data provider could not be found: x");
    }
    ASSERT_TRUE(bare.Parse("nosuch = 2", TOrqParserOptions{opoExtSyntax}));
    try {
        ev.Prepare(orders.get(), bare.Root());
        ADD_FAILURE();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "Field not found in TExprEvaluator");
    }
}

TEST(ExprEvaluator, EvaluatorLifecycle) {
    EvalFixture fx;
    TExprEvaluator ev;
    EXPECT_FALSE(ev.IsPrepared());
    EXPECT_FALSE(ev.Evaluate());
    EXPECT_TRUE(VarIsEmpty(ev.EvaluateValueExpr()));
    ev.Prepare(&fx.Provider(), fx.Parse("qty + 1 > price"));
    EXPECT_TRUE(ev.IsPrepared());
    fx.Provider().MoveToRecord(0);
    EXPECT_TRUE(ev.Evaluate());
    // Every operand node keeps its last value until Reset (the field moved to the left).
    EXPECT_EQ(ev.Root()->Right()->NodeResult().AsInteger(), 6);
    ev.Reset();
    EXPECT_TRUE(VarIsNull(ev.Root()->Right()->NodeResult()));
    ev.Clear();
    EXPECT_FALSE(ev.IsPrepared());
}

TEST(ExprEvaluator, ResultLists) {
    auto provider = Orders();
    TTableList tables;
    provider->AddTo(tables, "t");
    TExprParse p;
    p.Parser.SetTableList(&tables);
    ASSERT_TRUE(p.Parse("qty > 1", TOrqParserOptions{opoExtSyntax}));

    TCompoundList source;
    for (uint32_t r = 0; r < 4; ++r) source.Add(r, 100 + static_cast<int32_t>(r));
    source.Add(9, 109);  // a record the source no longer has
    TCompoundList result;
    result.Add(42, 42);
    TExprResultListGenerator::CreateResultList(provider.get(), p.Root(), source, result, true);
    EXPECT_EQ(result.List1(), (std::vector<uint32_t>{0, 3}));
    EXPECT_EQ(result.List2(), (std::vector<int32_t>{100, 103}));

    // Without a condition every item is a result.
    TExprResultListGenerator::CreateResultList(provider.get(), nullptr, source, result, true);
    EXPECT_EQ(result.List1(), source.List1());
    EXPECT_EQ(result.List2(), source.List2());

    // The result may be the source list itself.
    TExprResultListGenerator::CreateResultList(provider.get(), p.Root(), source, source, false);
    EXPECT_EQ(source.List1(), (std::vector<uint32_t>{0, 3}));

    provider->SetDBStringCompare(nullptr);
    try {
        TExprResultListGenerator::CreateResultList(provider.get(), p.Root(), source, result, true);
        ADD_FAILURE();
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 10065);
    }
}

TEST(ExprEvaluator, BaseRowSourceOffersNothing) {
    TOrqExprDataProvider base;
    EXPECT_TRUE(VarIsEmpty(base.GetDataAsVariant(1)));
    EXPECT_FALSE(base.IsFieldNull(1));
    EXPECT_FALSE(base.MoveToRecord(0));
    EXPECT_FALSE(base.PassFilterEvent(0));
    EXPECT_EQ(base.FindProvider("anything"), &base);
    EXPECT_EQ(base.FindField(nullptr, "x"), nullptr);
    TCompoundList list;
    base.GetDefaultRecordList(list);
    EXPECT_EQ(list.Count(), 0);
    TInternalFieldItem* item = base.ProviderFields().Add();
    item->SetFieldName("Name");
    EXPECT_EQ(base.FindField(nullptr, "NAME"), item);
    EXPECT_EQ(base.GetProviderFields(), &base.ProviderFields());
    TCustomExprNodeDataProvider subquery;
    EXPECT_FALSE(subquery.PrepareAndOpen());
}

}  // namespace
}  // namespace ostra
