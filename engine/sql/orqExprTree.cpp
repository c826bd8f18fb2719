// Expression nodes and the owning expression (see orqExprTree.h).
#include "engine/sql/orqExprTree.h"

#include <memory>

#include "host/Collation.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

const char* const COrqExprNodeKindNames[10] = {"enkUnknown",         "enField",        "enConst",
                                               "enkParam",           "enkRelOperator", "enkArithOperator",
                                               "enkLogicalOperator", "enkFunc",        "enkNonRelPredicate",
                                               "enkSubquery"};

namespace {

// Same kind and same value; arrays element by element.
bool SameData(const Variant& a, const Variant& b) {
    if (VarType(a) != VarType(b)) return false;
    if (VarIsArray(a)) {
        if (VarArrayHighBound(a) != VarArrayHighBound(b)) return false;
        for (int i = VarArrayLowBound(a); i <= VarArrayHighBound(a); ++i)
            if (!SameData(a[i], b[i])) return false;
        return true;
    }
    if (VarIsEmpty(a) || VarIsNull(a)) return true;
    return a == b;
}

template <typename E, std::size_t N>
const char* NameOf(const char* const (&table)[N], E value) {
    return static_cast<std::size_t>(value) < N ? table[value] : "?";
}

}  // namespace

// --- TOrqExprNode ----------------------------------------------------------------------------

void TOrqExprNode::SetParserToken(const TParserToken* Token) {
    if (Token == nullptr) return;
    FParserToken.SetText(Token->Text());
    FParserToken.SetToken(Token->Token());
    FParserToken.SetSection(Token->Section());
    FParserToken.SetLineOffset(Token->LineOffset());
    FParserToken.SetLineNo(Token->LineNo());
    FParserToken.SetCustomOrdinal(Token->CustomOrdinal());
}

void TOrqExprNode::AssignNode(const TOrqExprNode& Source) {
    if (&Source == this) return;
    FDataSize = Source.FDataSize;
    FLeft = Source.FLeft;
    FRight = Source.FRight;
    FOperator = Source.FOperator;
    FOriginalOperator = Source.FOriginalOperator;
    FKind = Source.FKind;
    FScopeKind = Source.FScopeKind;
    FDataType = Source.FDataType;
    FTokenArgs = Source.FTokenArgs;
    SetParserToken(&Source.FParserToken);
    FData = Source.FData;
    FOriginalData = Source.FOriginalData;
    FCaseInsensitiveMatch = Source.FCaseInsensitiveMatch;
    FPartialMatch = Source.FPartialMatch;
    FPartialLength = Source.FPartialLength;
    FTables.Assign(Source.FTables);
    FExprNodeDataProvider = Source.FExprNodeDataProvider;
}

void TOrqExprNode::SetAndConvertDataType(TFieldType T) {
    if (!VarIsNull(FData)) {
        switch (T) {
            case ftString: {
                std::string text = FData.AsString();
                FDataSize = static_cast<int>(text.size());
                FData = Variant(std::move(text));
                break;
            }
            case ftSmallint:
            case ftInteger:
                FData = Variant(FData.AsInteger());
                break;
            case ftBoolean:
                FData = Variant(FData.AsBoolean());
                break;
            case ftFloat:
                FData = Variant(FData.AsDouble());
                break;
            case ftCurrency:
                FData = Variant(FData.AsCurrency());
                break;
            case ftDate:
            case ftDateTime:
                FData = VarFromDateTime(FData.AsDateTime());
                break;
            default:
                break;
        }
    }
    FDataType = T;
}

bool TOrqExprNode::AreNodesEquivalent(const TOrqExprNode* Other) const {
    if (Other == nullptr) return false;
    if (FDataSize != Other->FDataSize || FOperator != Other->FOperator || FKind != Other->FKind ||
        FScopeKind != Other->FScopeKind || FDataType != Other->FDataType ||
        FParserToken.Token() != Other->FParserToken.Token() || !SameData(FData, Other->FData) ||
        FCaseInsensitiveMatch != Other->FCaseInsensitiveMatch || FPartialMatch != Other->FPartialMatch ||
        FPartialLength != Other->FPartialLength)
        return false;
    if (FTables.Count() != Other->FTables.Count()) return false;
    for (int i = 0; i < FTables.Count(); ++i)
        if (FTables.Items(i)->TableName() != Other->FTables.Items(i)->TableName()) return false;
    if (FTokenArgs.size() != Other->FTokenArgs.size()) return false;
    for (std::size_t i = 0; i < FTokenArgs.size(); ++i)
        if (FTokenArgs[i]->Token() != Other->FTokenArgs[i]->Token()) return false;
    if (FArgs.size() != Other->FArgs.size()) return false;
    for (std::size_t i = 0; i < FArgs.size(); ++i)
        if (FArgs[i] == nullptr ? Other->FArgs[i] != nullptr : !FArgs[i]->AreNodesEquivalent(Other->FArgs[i]))
            return false;
    return true;
}

void TOrqExprNode::Display(const std::string& Indent, TStrings& Lines) const {
    Lines.Add(Indent + NameOf(COrqExprNodeKindNames, FKind) + ":" + NameOf(C_STRCANOperator, FOperator) +
              " :: " + NameOf(COrqStrSQLTokens, FParserToken.Token()) + "  -  " + FParserToken.Text() +
              " :: " + FieldTypeName(FDataType) + " - " + IntToStr(FDataSize));
    if (FArgs.empty()) return;
    Lines.Add(Indent + Indent + "Start Args");
    for (const TOrqExprNode* arg : FArgs) DisplayExprTree("** " + Indent + Indent, arg, Lines);
    Lines.Add(Indent + Indent + "End Args");
}

void TOrqExprNode::DisplayExprTree(const std::string& Indent, const TOrqExprNode* Node, TStrings& Lines) {
    if (Node == nullptr) return;
    DisplayExprTree(Indent + " ", Node->FLeft, Lines);
    Node->Display(Indent, Lines);
    DisplayExprTree(Indent + " ", Node->FRight, Lines);
}

// --- TOrqExpr --------------------------------------------------------------------------------

void TOrqExpr::Clear() {
    while (FFirstNode != nullptr) {
        std::unique_ptr<TOrqExprNode> node(FFirstNode);
        FFirstNode = node->Next();
    }
}

TOrqExprNode* TOrqExpr::LinkNewNode() {
    auto node = std::make_unique<TOrqExprNode>();
    node->SetNext(FFirstNode);
    FFirstNode = node.release();
    return FFirstNode;
}

TOrqExprNode* TOrqExpr::NewNode(TOrqExprNodeKind Kind, TOrqExprOperator Operator, const Variant& Data,
                                TOrqExprNode* Left, TOrqExprNode* Right, const TParserToken* Token) {
    if (!FErrorMsg.empty()) return nullptr;
    TOrqExprNode* node = LinkNewNode();
    node->SetKind(Kind);
    node->SetPartialLength(-1);
    node->SetOperator(Operator);
    node->SetOriginalOperator(Operator);
    node->SetData(Data);
    node->SetOriginalData(Data);
    node->SetLeft(Left);
    node->SetRight(Right);
    node->SetParserToken(Token);
    node->SetCaseInsensitiveMatch(FCaseInsensitiveMatch);
    node->SetPartialMatch(FPartialStringComparisons);
    node->SetDataType(ftUnknown);
    node->SetDataSize(-1);
    return node;
}

TOrqExprNode* TOrqExpr::NewFieldNode(TOrqExprNodeKind Kind, TOrqExprOperator Operator, const Variant& Data,
                                     TOrqExprNode* Left, TOrqExprNode* Right, const TParserToken* Token,
                                     TFieldType DataType, int DataSize) {
    TOrqExprNode* node = NewNode(Kind, Operator, Data, Left, Right, Token);
    if (node != nullptr) {
        node->SetDataType(DataType);
        node->SetDataSize(DataSize);
    }
    return node;
}

void TOrqExpr::SetAsFirstNode(TOrqExprNode* Node) {
    if (Node == nullptr || Node == FFirstNode) return;
    for (TOrqExprNode* prev = FFirstNode; prev != nullptr; prev = prev->Next()) {
        if (prev->Next() == Node) {
            prev->SetNext(Node->Next());
            Node->SetNext(FFirstNode);
            FFirstNode = Node;
            return;
        }
    }
}

TOrqExprNode* TOrqExpr::CloneSubTree(const TOrqExprNode* Node) {
    if (Node == nullptr) return nullptr;
    TOrqExprNode* copy = LinkNewNode();
    copy->AssignNode(*Node);
    copy->Args().reserve(Node->Args().size());
    for (const TOrqExprNode* arg : Node->Args()) copy->Args().push_back(CloneSubTree(arg));
    copy->SetLeft(CloneSubTree(Node->Left()));
    copy->SetRight(CloneSubTree(Node->Right()));
    return copy;
}

TOrqExprNode* TOrqExpr::CloneFromTree(const TOrqExprNode* Node) {
    TOrqExprNode* copy = CloneSubTree(Node);
    SetAsFirstNode(copy);
    return copy;
}

TOrqExprNode* TOrqExpr::FindNodeWithToken(TOrqSQLToken T) const {
    for (TOrqExprNode* node = FFirstNode; node != nullptr; node = node->Next())
        if (node->ParserToken().Token() == T) return node;
    return nullptr;
}

void TOrqExpr::ResetSpecifiedNodes(TOrqSQLToken T, TOrqSQLToken NewT, TOrqExprNodeKind Kind,
                                   TOrqExprOperator Operator, const Variant& Value) {
    // One pass over the chain reaches every such node once (and ends even when NewT = T).
    for (TOrqExprNode* node = FFirstNode; node != nullptr; node = node->Next()) {
        if (node->ParserToken().Token() != T) continue;
        node->ParserToken().SetToken(NewT);
        node->SetOperator(Operator);
        node->SetKind(Kind);
        node->SetData(Value);
    }
}

bool TOrqExpr::ExprContainsField(const std::string& Name) const {
    for (const TOrqExprNode* node = FFirstNode; node != nullptr; node = node->Next())
        if (node->Kind() == enkField && AnsiSameText(VarToStr(node->Data()), Name)) return true;
    return false;
}

int TOrqExpr::GetNodeCount() const {
    int count = 0;
    for (const TOrqExprNode* node = FFirstNode; node != nullptr; node = node->Next()) ++count;
    return count;
}

void TOrqExpr::Display(TStrings& Lines) const {
    TOrqExprNode::DisplayExprTree("", FFirstNode, Lines);
}

}  // namespace ostra
