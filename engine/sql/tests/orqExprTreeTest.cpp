// The expression tree: node creation, the one owning chain (freed once; run under ASan),
// cloning across expressions, rewriting, equivalence, type conversion and the tree dump.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/sql/orqExprTree.h"
#include "engine/sql/tests/support/TestTableFields.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {
namespace {

TParserToken Token(TOrqSQLToken type, const std::string& text, int ordinal = 0) {
    TParserToken t;
    t.SetToken(type);
    t.SetText(text);
    t.SetLineNo(1);
    t.SetLineOffset(5);
    t.SetCustomOrdinal(ordinal);
    t.SetRawTokenText(" " + text);
    return t;
}

TOrqExprNode* Field(TOrqExpr& e, const std::string& name, TFieldType type = ftString, int size = 10) {
    TParserToken t = Token(ostFieldName, name);
    return e.NewFieldNode(enkField, oeoFIELD2, Variant(name), nullptr, nullptr, &t, type, size);
}

TOrqExprNode* Number(TOrqExpr& e, double value) {
    TParserToken t = Token(ostNumber, FloatToStr(value));
    TOrqExprNode* n = e.NewNode(enkConst, oeoCONST2, Variant(value), nullptr, nullptr, &t);
    n->SetDataType(ftFloat);
    n->SetScopeKind(oskConst);
    return n;
}

// a IN (1, b + 2): IN node with Args [1, ADD(b, 2)].
TOrqExprNode* InList(TOrqExpr& e) {
    TOrqExprNode* a = Field(e, "a");
    TOrqExprNode* one = Number(e, 1);
    TParserToken plus = Token(ostAdd, "+");
    TOrqExprNode* add = e.NewNode(enkArithOperator, oeoADD, Variant(), Field(e, "b"), Number(e, 2), &plus);
    TParserToken in = Token(ostIn, "IN");
    TOrqExprNode* node = e.NewNode(enkNonRelPredicate, oeoIN, Variant(), a, nullptr, &in);
    node->SetDataType(ftBoolean);
    node->Args() = {one, add};
    return node;
}

// Every node reachable from `root` through Left, Right and Args.
void Reachable(const TOrqExprNode* root, std::set<const TOrqExprNode*>& out) {
    if (root == nullptr || !out.insert(root).second) return;
    Reachable(root->Left(), out);
    Reachable(root->Right(), out);
    for (const TOrqExprNode* arg : root->Args()) Reachable(arg, out);
}

std::set<const TOrqExprNode*> Chain(const TOrqExpr& e) {
    std::set<const TOrqExprNode*> nodes;
    for (const TOrqExprNode* n = e.FirstNode(); n != nullptr; n = n->Next()) nodes.insert(n);
    return nodes;
}

TEST(ExprTree, NewNodeTakesTheExpressionSettings) {
    TOrqExpr e;
    e.SetCaseInsensitiveMatch(true);
    e.SetPartialStringComparisons(true);
    TParserToken t = Token(ostNumber, "7", 3);
    TOrqExprNode* n = e.NewNode(enkConst, oeoCONST2, Variant(7.0), nullptr, nullptr, &t);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(e.FirstNode(), n);
    EXPECT_EQ(n->Kind(), enkConst);
    EXPECT_EQ(n->OriginalOperator(), oeoCONST2);
    EXPECT_EQ(n->OriginalData().AsDouble(), 7.0);
    EXPECT_EQ(n->DataType(), ftUnknown);
    EXPECT_EQ(n->DataSize(), -1);
    EXPECT_EQ(n->PartialLength(), -1);
    EXPECT_EQ(n->ScopeKind(), oskField);
    EXPECT_TRUE(n->CaseInsensitiveMatch());
    EXPECT_TRUE(n->PartialMatch());
    EXPECT_EQ(n->ParserToken().Text(), "7");
    EXPECT_EQ(n->ParserToken().CustomOrdinal(), 3);
    EXPECT_EQ(n->ParserToken().LineOffset(), 5);
    EXPECT_EQ(n->ParserToken().RawTokenText(), "");  // the raw text is not copied
    TOrqExprNode* bare = e.NewNode(enkUnknown, oeoNOTDEFINED, Variant(), nullptr, nullptr, nullptr);
    EXPECT_EQ(bare->ParserToken().Token(), ostUnknown);

    // While an error is pending nothing is created.
    e.SetErrorMsg("Invalid token");
    EXPECT_EQ(e.NewNode(enkConst, oeoCONST2, Variant(1), nullptr, nullptr, &t), nullptr);
    EXPECT_EQ(e.NewFieldNode(enkField, oeoFIELD2, Variant("x"), nullptr, nullptr, &t, ftString, 3), nullptr);
    EXPECT_EQ(e.GetNodeCount(), 2);
    EXPECT_EQ(e.FirstNode(), bare);
    e.SetErrorMsg("");
    EXPECT_NE(e.NewNode(enkConst, oeoCONST2, Variant(1), nullptr, nullptr, &t), nullptr);
}

TEST(ExprTree, SetAsFirstNodeMovesOnlyNodesOfItsOwnChain) {
    TOrqExpr e, other;
    TOrqExprNode* n1 = Number(e, 1);
    TOrqExprNode* n2 = Number(e, 2);
    TOrqExprNode* n3 = Number(e, 3);
    TOrqExprNode* foreign = Number(other, 4);
    auto order = [&] {
        std::vector<TOrqExprNode*> v;
        for (TOrqExprNode* n = e.FirstNode(); n; n = n->Next()) v.push_back(n);
        return v;
    };
    EXPECT_EQ(order(), (std::vector<TOrqExprNode*>{n3, n2, n1}));
    e.SetAsFirstNode(n3);
    e.SetAsFirstNode(nullptr);
    e.SetAsFirstNode(foreign);
    EXPECT_EQ(order(), (std::vector<TOrqExprNode*>{n3, n2, n1}));
    e.SetAsFirstNode(n1);
    EXPECT_EQ(order(), (std::vector<TOrqExprNode*>{n1, n3, n2}));
    e.SetAsFirstNode(n2);
    EXPECT_EQ(order(), (std::vector<TOrqExprNode*>{n2, n1, n3}));
    EXPECT_EQ(other.GetNodeCount(), 1);
}

// A copy taken from another expression shares no node with it, so the source can go first.
TEST(ExprTree, CloneFromTreeCopiesTheWholeTreeIntoTheTargetChain) {
    auto source = std::make_unique<TOrqExpr>();
    TOrqExprNode* in = InList(*source);
    in->Left()->Tables().Add()->SetTableName("t");
    TParserToken tableToken = Token(ostTableName, "t");
    in->Left()->TokenArgs().push_back(&tableToken);
    TOrqExpr target;
    Number(target, 99);  // a node already in the target
    TOrqExprNode* copy = target.CloneFromTree(in);
    EXPECT_EQ(target.FirstNode(), copy);
    EXPECT_EQ(target.GetNodeCount(), 1 + 6);
    EXPECT_TRUE(copy->AreNodesEquivalent(in));

    std::set<const TOrqExprNode*> reachable;
    Reachable(copy, reachable);
    const std::set<const TOrqExprNode*> chain = Chain(target);
    const std::set<const TOrqExprNode*> sourceChain = Chain(*source);
    EXPECT_EQ(reachable.size(), 6u);
    for (const TOrqExprNode* n : reachable) {
        EXPECT_TRUE(chain.count(n)) << "a node of the copy is not owned by the target";
        EXPECT_FALSE(sourceChain.count(n)) << "a node of the copy is shared with the source";
    }
    source.reset();  // the copy must stay fully usable
    ASSERT_EQ(copy->Args().size(), 2u);
    EXPECT_EQ(copy->Args()[1]->Left()->Data().AsString(), "b");
    EXPECT_EQ(copy->Args()[1]->Right()->Data().AsDouble(), 2.0);
    EXPECT_EQ(copy->Left()->Tables().Items(0)->TableName(), "t");
    EXPECT_EQ(copy->Left()->TokenArgs()[0], &tableToken);  // tokens are referred to, not copied
    EXPECT_EQ(target.CloneFromTree(nullptr), nullptr);
}

TEST(ExprTree, CloneOfASharedOperandIsFreedOnce) {
    // BETWEEN-style sharing: two comparisons refer to one operand node.
    TOrqExpr e;
    TOrqExprNode* a = Field(e, "a");
    TOrqExprNode* ge = e.NewNode(enkRelOperator, oeoGE, Variant(), a, Number(e, 1), nullptr);
    TOrqExprNode* le = e.NewNode(enkRelOperator, oeoLE, Variant(), a, Number(e, 10), nullptr);
    TOrqExprNode* both = e.NewNode(enkLogicalOperator, oeoAND, Variant(), ge, le, nullptr);
    e.SetAsFirstNode(both);
    TOrqExpr copy;
    copy.CloneFromTree(both);
    EXPECT_EQ(copy.GetNodeCount(), 7);  // the shared operand is copied on each path
    e.Clear();
    EXPECT_EQ(e.FirstNode(), nullptr);
    EXPECT_EQ(e.GetNodeCount(), 0);
    copy.Clear();
    copy.Clear();
}

TEST(ExprTree, ResetSpecifiedNodesRewritesEveryMatchingNode) {
    TOrqExpr e;
    TParserToken sum = Token(ostAggFunc, "SUM", oafSum);
    TParserToken count = Token(ostAggFunc, "COUNT", oafCount);
    TOrqExprNode* s = e.NewNode(enkFunc, oeoFUNC2, Variant(false), nullptr, nullptr, &sum);
    TOrqExprNode* c = e.NewNode(enkFunc, oeoFUNC2, Variant(true), nullptr, nullptr, &count);
    TOrqExprNode* f = Field(e, "Amount");
    EXPECT_TRUE(e.ExprContainsToken(ostAggFunc));
    EXPECT_EQ(e.FindNodeWithToken(ostAggFunc), c);  // first in chain order
    EXPECT_TRUE(e.ExprContainsField("AMOUNT"));
    EXPECT_FALSE(e.ExprContainsField("SUM"));
    e.ResetSpecifiedNodes(ostAggFunc, ostValue, enkConst, oeoCONST2, Variant(42));
    EXPECT_FALSE(e.ExprContainsToken(ostAggFunc));
    for (TOrqExprNode* n : {s, c}) {
        EXPECT_EQ(n->ParserToken().Token(), ostValue);
        EXPECT_EQ(n->Kind(), enkConst);
        EXPECT_EQ(n->Operator(), oeoCONST2);
        EXPECT_EQ(n->OriginalOperator(), oeoFUNC2);
        EXPECT_EQ(n->Data().AsInteger(), 42);
    }
    EXPECT_EQ(f->Kind(), enkField);
    // A rewrite to the same token type ends.
    e.ResetSpecifiedNodes(ostValue, ostValue, enkConst, oeoCONST2, Variant(1));
    EXPECT_EQ(s->Data().AsInteger(), 1);
}

TEST(ExprTree, AreNodesEquivalent) {
    TOrqExpr e;
    TOrqExprNode* x = InList(e);
    TOrqExprNode* y = InList(e);
    EXPECT_TRUE(x->AreNodesEquivalent(y));
    EXPECT_FALSE(x->AreNodesEquivalent(nullptr));
    y->SetLeft(Field(e, "other"));  // operands are not compared
    EXPECT_TRUE(x->AreNodesEquivalent(y));
    y->Args()[0]->SetData(Variant(1));  // an integer 1 is not the double 1
    EXPECT_FALSE(x->AreNodesEquivalent(y));
    y->Args()[0]->SetData(Variant(1.0));
    x->Tables().Add()->SetTableName("T");
    y->Tables().Add()->SetTableName("t");
    EXPECT_FALSE(x->AreNodesEquivalent(y));  // table names compare case-sensitively
    y->Tables().Items(0)->SetTableName("T");
    EXPECT_TRUE(x->AreNodesEquivalent(y));
    y->Args().pop_back();
    EXPECT_FALSE(x->AreNodesEquivalent(y));
}

TEST(ExprTree, AssignNodeCopiesPropertiesButNotChainOrArgs) {
    TOrqExpr e;
    TOrqExprNode* in = InList(e);
    in->Tables().Add()->SetTableName("t");
    in->SetPartialLength(3);
    in->ParserToken().SetRawTokenText("raw");
    TOrqExprNode* copy = e.NewNode(enkUnknown, oeoNOTDEFINED, Variant(), nullptr, nullptr, nullptr);
    TOrqExprNode* next = copy->Next();
    copy->AssignNode(*in);
    EXPECT_EQ(copy->Next(), next);
    EXPECT_TRUE(copy->Args().empty());
    EXPECT_EQ(copy->Left(), in->Left());
    EXPECT_EQ(copy->Kind(), enkNonRelPredicate);
    EXPECT_EQ(copy->PartialLength(), 3);
    EXPECT_EQ(copy->ParserToken().Text(), "IN");
    EXPECT_EQ(copy->ParserToken().RawTokenText(), "");
    in->Tables().Items(0)->SetTableName("changed");
    EXPECT_EQ(copy->Tables().Items(0)->TableName(), "t");  // an own copy of the tables
    copy->AssignNode(*copy);
    EXPECT_EQ(copy->Tables().Count(), 1);
}

TEST(ExprTree, SetAndConvertDataType) {
    TOrqExpr e;
    TOrqExprNode* n = e.NewNode(enkConst, oeoCONST2, Variant("12"), nullptr, nullptr, nullptr);
    n->SetAndConvertDataType(ftInteger);
    EXPECT_EQ(VarType(n->Data()), varInteger);
    EXPECT_EQ(n->Data().AsInteger(), 12);
    EXPECT_EQ(n->DataType(), ftInteger);

    n->SetData(Variant(5.5));
    n->SetAndConvertDataType(ftString);
    EXPECT_EQ(VarType(n->Data()), varString);
    EXPECT_EQ(n->Data().AsString(), "5.5");
    EXPECT_EQ(n->DataSize(), 3);

    n->SetData(Variant(true));
    n->SetAndConvertDataType(ftString);
    EXPECT_EQ(n->Data().AsString(), "True");

    n->SetData(Variant(2.25));
    n->SetAndConvertDataType(ftDate);
    EXPECT_EQ(VarType(n->Data()), varDate);
    n->SetAndConvertDataType(ftFloat);
    EXPECT_EQ(VarType(n->Data()), varDouble);
    n->SetAndConvertDataType(ftBlob);  // other types keep the value
    EXPECT_EQ(VarType(n->Data()), varDouble);
    EXPECT_EQ(n->DataType(), ftBlob);

    n->SetData(Null());
    n->SetAndConvertDataType(ftInteger);
    EXPECT_TRUE(VarIsNull(n->Data()));
    EXPECT_EQ(n->DataType(), ftInteger);

    n->SetData(Variant("abc"));
    EXPECT_THROW(n->SetAndConvertDataType(ftInteger), EVariantError);
}

TEST(ExprTree, DisplayDumpsLeftNodeRightWithArgs) {
    TOrqExpr e;
    TOrqExprNode* a = Field(e, "a");
    TParserToken eq = Token(ostCompOperator, "=");
    TOrqExprNode* root = e.NewNode(enkRelOperator, oeoEQ, Variant(), a, Number(e, 5), &eq);
    root->SetDataType(ftBoolean);
    e.SetAsFirstNode(root);
    TStringList lines;
    e.Display(lines);
    ASSERT_EQ(lines.Count(), 3);
    EXPECT_EQ(lines.Strings(0), " enField:coFIELD2 ::  stFieldName  -  a :: String - 10");
    EXPECT_EQ(lines.Strings(1), "enkRelOperator:coEQ ::  ostCompOperator  -  = :: Boolean - -1");
    EXPECT_EQ(lines.Strings(2), " enConst:coCONST2 :: stNumber  -  5 :: Float - -1");

    TOrqExpr list;
    TOrqExprNode* in = InList(list);
    list.SetAsFirstNode(in);
    TStringList dump;
    list.Display(dump);
    ASSERT_EQ(dump.Count(), 8);
    EXPECT_EQ(dump.Strings(1), "enkNonRelPredicate:coIN :: ostIn  -  IN :: Boolean - -1");
    EXPECT_EQ(dump.Strings(2), "Start Args");
    EXPECT_EQ(dump.Strings(3), "** enConst:coCONST2 :: stNumber  -  1 :: Float - -1");
    EXPECT_EQ(dump.Strings(4),
              "** "
              " enField:coFIELD2 ::  stFieldName  -  b :: String - 10");
    EXPECT_EQ(dump.Strings(5), "** enkArithOperator:coADD :: ostAdd  -  + :: Unknown - -1");
    EXPECT_EQ(dump.Strings(7), "End Args");
}

}  // namespace
}  // namespace ostra
