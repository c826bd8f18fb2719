// The select-list parser and its nodes (see orqSelectParser.h).
#include "engine/sql/orqSelectParser.h"

#include "engine/sql/orqExprParser.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

// --- TOrqSelectNode --------------------------------------------------------------------------

TOrqExpr* TOrqSelectNode::NewExpr() {
    FExpr = std::make_unique<TOrqExpr>();
    return FExpr.get();
}

void TOrqSelectNode::Display(const std::string& Prefix, TStrings& Strings) const {
    switch (FSelectNodeType) {
        case snGroupColumn:
            Strings.Add(Prefix + "Column Group");
            Strings.Add(Prefix + "Output all from - " + FQualifier);
            break;
        case snSingleColumn:
            Strings.Add(Prefix + "Derived Column");
            Strings.Add(Prefix + "RawColumnName - " + FRawColumnName);
            break;
        case snAggFunc:
            Strings.Add(Prefix + "Agg Func");
            Strings.Add(Prefix + "Func - " + (FToken != nullptr ? FToken->Text() : std::string()) +
                        " :: " + FQualifier);
            break;
    }
    if (FExpr) {
        Strings.Add("Start Expr");
        FExpr->Display(Strings);
        Strings.Add("End Expr");
    }
}

void TOrqSelectNode::DisplayTree(const std::string& Prefix, TStrings& Strings) const {
    if (FLeft != nullptr) FLeft->DisplayTree(Prefix + "  ", Strings);
    Display(Prefix, Strings);
    if (FRight != nullptr) FRight->DisplayTree(Prefix + "  ", Strings);
}

void TOrqSelectNode::DisplayList(const std::string& Prefix, TStrings& Strings) const {
    std::string prefix = Prefix;
    for (const TOrqSelectNode* node = this; node != nullptr; node = node->FNext) {
        node->Display(prefix, Strings);
        prefix += "  ";
    }
}

// --- TOrqSelectParser ------------------------------------------------------------------------

TOrqSelectParser::TOrqSelectParser() {
    SetEndTokens(TOrqSQLTokens{ostFrom, ostWhere, ostGroupBy, ostHaving, ostOrderBy, ostEnd});
}

TOrqSelectParser::~TOrqSelectParser() = default;

void TOrqSelectParser::Clear() {
    TBaseParser::Clear();
    FFirstNode = nullptr;
    FNodes.clear();
}

void TOrqSelectParser::DebugDisplay(TStrings& Strings) const {
    if (FFirstNode != nullptr) FFirstNode->DisplayList("", Strings);
}

TOrqSelectNode* TOrqSelectParser::NewSelectNode(TSelectNodeType NodeType) {
    FNodes.push_back(std::make_unique<TOrqSelectNode>());
    TOrqSelectNode* node = FNodes.back().get();
    node->SetSelectNodeType(NodeType);
    node->SetToken(CurrToken());
    if (FNodes.size() == 1)
        FFirstNode = node;
    else
        FNodes[FNodes.size() - 2]->SetNext(node);
    return node;
}

bool TOrqSelectParser::Execute(const TOrqParserOptions& Options, TParserStack* Stack) {
    TBaseParser::Execute(Options, Stack);
    // A subquery starts on its SELECT.
    if (CurrentTokenType() == ostSelect) NextToken();
    FIsDistinct = CurrentTokenType() == ostDistinct;
    if (CurrentTokenType() == ostDistinct || CurrentTokenType() == ostAll) NextToken();
    ParseSelect0();
    if (HasParseError()) return false;
    if (AtEndToken()) return true;
    SetError(CurrToken(), SorqSelectTerminateErr);
    return false;
}

void TOrqSelectParser::ParseSelect0() {
    if (CurrentTokenType() == ostMult) {
        NewSelectNode(snGroupColumn);
        NextToken();
        return;
    }
    do {
        if (CurrentTokenType() == ostComma) NextToken();
        ParseSubList();
    } while (!HasParseError() && CurrentTokenType() == ostComma);
}

void TOrqSelectParser::ParseSubList() {
    if (CurrentTokenType() == ostTableName && PeekAtTokenType(0) == ostMult)
        ParseQualifierSequence();
    else if (CurrentTokenType() == ostAggFunc)
        ParseDerivedColumn(snAggFunc);
    else
        ParseDerivedColumn(snSingleColumn);
}

void TOrqSelectParser::ParseQualifierSequence() {
    TOrqSelectNode* node = NewSelectNode(snGroupColumn);
    node->SetQualifier(TokenName());
    NextToken();
    NextToken();
}

void TOrqSelectParser::ParseDerivedColumn(TSelectNodeType NodeType) {
    TOrqSelectNode* node = NewSelectNode(NodeType);
    ParseSelectValueExpression(node);
    if (HasParseError()) return;
    if (CurrentTokenType() == ostAS) NextToken();
    if (CurrentTokenType() == ostFieldName || CurrentTokenType() == ostStringLiteral) {
        node->SetOutputColumnName(TokenName());
        NextToken();
    }
}

void TOrqSelectParser::ParseSelectValueExpression(TOrqSelectNode* Node) {
    const TParserToken* start = CurrToken();
    TOrqExpr* expr = Node->NewExpr();
    TOrqExprParser parser;
    parser.SetValidEndTokens(
        TOrqSQLTokens{ostUnknown, ostFieldName, ostFrom, ostStringLiteral, ostComma, ostAS});
    parser.SetValidateFields(FTableList != nullptr && FTableList->Count() > 0);
    parser.SetTableList(FTableList);
    StartHelper(parser);
    if (!parser.ExecuteExternalValueExpr(expr, TOrqParserOptions{opoExtSyntax, opoSQL}, Stack()))
        SetError(parser.ErrorToken(), parser.ErrorMsg());
    NoteExprHeight(parser.ExprHeight());
    FCurrToken = parser.CurrToken();
    TOrqExprNode* root = parser.RootNode();
    if (root != nullptr) {
        Node->SetRawColumnName(Trim(expr->ParsedText()));
        // A bare NULL has no type of its own; its column is an Integer column.
        if (root->Operator() == oeoISBLANK && root->DataType() == ftUnknown) root->SetDataType(ftInteger);
    } else {
        Node->SetRawColumnName(start != nullptr ? start->Text() : std::string());
    }
    if (!HasParseError()) CheckFieldsUnambiguous(*expr, FTableList, *this);
}

// --- Field resolution ------------------------------------------------------------------------

bool CheckFieldsUnambiguous(const TOrqExpr& Expr, const TTableList* Tables, TBaseParser& Parser) {
    if (Tables == nullptr || Tables->Count() < 2) return true;
    const TOrqExprNode* first = nullptr;
    for (const TOrqExprNode* n = Expr.FirstNode(); n != nullptr; n = n->Next()) {
        if (n->Kind() != enkField || !n->TokenArgs().empty()) continue;
        const std::string name = VarToStr(n->Data());
        int holders = 0;
        for (int i = 0; i < Tables->Count(); ++i)
            if (Tables->Items(i)->HasField(name)) ++holders;
        if (holders < 2) continue;
        const TParserToken& t = n->ParserToken();
        if (first == nullptr || t.LineNo() < first->ParserToken().LineNo() ||
            (t.LineNo() == first->ParserToken().LineNo() &&
             t.LineOffset() < first->ParserToken().LineOffset()))
            first = n;
    }
    if (first == nullptr) return true;
    Parser.SetError(&first->ParserToken(), SorqAmbiguousFieldName);
    return false;
}

}  // namespace ostra
