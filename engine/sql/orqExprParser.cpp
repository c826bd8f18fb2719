// The expression parser (see orqExprParser.h).
//
// Every parsing routine checks HasParseError before it goes on, so that after the first error
// the parse winds down without building further structure; the nodes made so far belong to
// the expression and are freed with it.
#include "engine/sql/orqExprParser.h"

#include <charconv>

#include "engine/sql/orqDataConversion.h"
#include "engine/sql/orqDataTypeParser.h"
#include "engine/storage/orqConsts.h"
#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

bool IsStringType(TFieldType T) {
    return T == ftString || T == ftWideString;
}

TOrqExprOperator MirrorOperator(TOrqExprOperator Op) {
    switch (Op) {
        case oeoGT:
            return oeoLT;
        case oeoLT:
            return oeoGT;
        case oeoGE:
            return oeoLE;
        case oeoLE:
            return oeoGE;
        default:
            return Op;
    }
}

}  // namespace

bool ReadSQLNumber(const std::string& Text, double& Value) {
    const char* first = Text.data();
    const char* last = Text.data() + Text.size();
    if (first != last && *first == '+') ++first;
    if (first == last) return false;
    auto [ptr, ec] = std::from_chars(first, last, Value);
    return ec == std::errc() && ptr == last;
}

TOrqExprParser::TOrqExprParser() {
    NewOwnedExpr();
}

TOrqExprParser::~TOrqExprParser() = default;

// --- Static helpers --------------------------------------------------------------------------

bool TOrqExprParser::IsNumeric(TFieldType T) {
    switch (T) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftFloat:
        case ftCurrency:
        case ftBCD:
        case ftAutoInc:
        case ftLargeint:
            return true;
        default:
            return false;
    }
}

bool TOrqExprParser::IsTemporal(TFieldType T) {
    return T == ftDate || T == ftTime || T == ftDateTime;
}

TOrqExprNodeKind TOrqExprParser::GetExprNodeKind(TOrqExprOperator Op) {
    if (Op >= oeoEQ && Op <= oeoLE) return enkRelOperator;
    if (Op == oeoISBLANK || Op == oeoNOTBLANK || Op == oeoNOT || Op == oeoAND || Op == oeoOR)
        return enkLogicalOperator;
    if (Op >= oeoMINUS && Op <= oeoDIV) return enkArithOperator;
    if (Op == oeoFIELD2) return enkField;
    if (Op == oeoCONST2) return enkConst;
    return enkUnknown;
}

TOrqExprOperator TOrqExprParser::TokenToOperator(const TParserToken* Token) {
    if (Token == nullptr) return oeoNOTDEFINED;
    const std::string& t = Token->Text();
    if (t == "<") return oeoLT;
    if (t == "<=") return oeoLE;
    if (t == "=") return oeoEQ;
    if (t == ">=") return oeoGE;
    if (t == ">") return oeoGT;
    if (t == "<>") return oeoNE;
    if (t == "+" || t == "||") return oeoADD;
    if (t == "-") return oeoSUB;
    if (t == "*") return oeoMUL;
    if (t == "/") return oeoDIV;
    return oeoNOTDEFINED;
}

// --- Runs ------------------------------------------------------------------------------------

void TOrqExprParser::NewOwnedExpr() {
    FOwnedExpr = std::make_unique<TOrqExpr>();
    FOwnedExpr->SetCaseInsensitiveMatch(FCaseInsensitiveMatch);
    FOwnedExpr->SetPartialStringComparisons(FPartialStringComparison);
    FExpr = FOwnedExpr.get();
}

bool TOrqExprParser::Execute(const TOrqParserOptions& Options, TParserStack* Stack) {
    TBaseParser::Execute(Options, Stack);
    FRootNode = nullptr;
    FExprHeight = 0;
    NewOwnedExpr();
    FSubqueryHeights.clear();
    if (!AtEndToken()) {
        FRootNode = ParseExpr();
        if (!AtEndToken() && !FValidEndTokens.Contains(CurrentTokenType()))
            SetError(CurrToken(), CurrentIs(ostFieldName) ? SorqInvalidToken : SorqExprTerminatedIncorrectly);
    }
    CheckTreeHeight();
    if (FRootNode != nullptr) FExpr->SetAsFirstNode(FRootNode);
    return !HasParseError();
}

bool TOrqExprParser::ExecuteExternalExpr(TOrqExpr* Expr, const TOrqParserOptions& Options,
                                         TParserStack* Stack) {
    return RunExternal(Expr, Options, Stack, false);
}

bool TOrqExprParser::ExecuteExternalValueExpr(TOrqExpr* Expr, const TOrqParserOptions& Options,
                                              TParserStack* Stack) {
    return RunExternal(Expr, Options, Stack, true);
}

bool TOrqExprParser::RunExternal(TOrqExpr* Expr, const TOrqParserOptions& Options, TParserStack* Stack,
                                 bool ValueExpr) {
    Assert(Expr != nullptr, "No expression given to the expression parser");
    TBaseParser::Execute(Options, Stack);
    FRootNode = nullptr;
    FExprHeight = 0;
    FExpr = Expr;
    FExpr->SetCaseInsensitiveMatch(FCaseInsensitiveMatch);
    FExpr->SetPartialStringComparisons(FPartialStringComparison);
    FSubqueryHeights.clear();
    FRootNode = ValueExpr ? ParseValueExpr() : ParseExpr();
    if (Stack != nullptr && Stack->Count() > 0 && !FValidEndTokens.Contains(CurrentTokenType()))
        SetError(CurrToken(), SorqExprTerminatedIncorrectly);
    CheckTreeHeight();
    if (FRootNode != nullptr) FExpr->SetAsFirstNode(FRootNode);
    if (ValueExpr) {
        if (!HasParseError()) RemoveCurrentTokenFromParsedText();
        FExpr->SetParsedText(ParsedText());
    }
    FExpr = FOwnedExpr.get();
    return !HasParseError();
}

void TOrqExprParser::CloneFromExpr(const TOrqExpr& Source, bool Replace, TOrqExprOperator Op) {
    if (Replace) {
        FExpr->Clear();
        FRootNode = FExpr->CloneFromTree(Source.FirstNode());
        return;
    }
    Assert(Op == oeoAND || Op == oeoOR, "Unsupported Expr assign operator");
    TOrqExprNode* copy = FExpr->CloneFromTree(Source.FirstNode());
    // Combining with nothing would leave an operand missing, which evaluates as unknown.
    if (copy == nullptr) return;
    if (FRootNode == nullptr) {
        FRootNode = copy;
        return;
    }
    TParserToken token;
    token.SetToken(Op == oeoAND ? ostAnd : ostOr);
    token.SetText(Op == oeoAND ? "AND" : "OR");
    TOrqExprNode* node = FExpr->NewNode(enkLogicalOperator, Op, Variant(), copy, FRootNode, &token);
    if (node == nullptr) return;
    node->SetDataType(ftBoolean);
    FExpr->SetAsFirstNode(node);
    FRootNode = node;
}

TOrqExprNode* TOrqExprParser::NewNode(TOrqExprNodeKind Kind, TOrqExprOperator Operator, const Variant& Data,
                                      TOrqExprNode* Left, TOrqExprNode* Right, const TParserToken* Token) {
    return FExpr->NewNode(Kind, Operator, Data, Left, Right, Token);
}

void TOrqExprParser::ReadRParen() {
    if (CurrentIs(ostRParen))
        NextToken();
    else
        SetError(CurrToken(), SorqRParenMissing);
}

// --- Search expressions ----------------------------------------------------------------------

TOrqExprNode* TOrqExprParser::ParseLogicalChain(TOrqSQLToken OpToken, TOrqExprOperator Op,
                                                TOrqExprNode* (TOrqExprParser::*Operand)()) {
    TOrqExprNode* left = (this->*Operand)();
    while (!HasParseError() && CurrentIs(OpToken)) {
        const TParserToken* token = CurrToken();
        NextToken();
        TOrqExprNode* right = (this->*Operand)();
        TOrqExprNode* node = NewNode(enkLogicalOperator, Op, Variant(), left, right, token);
        if (node != nullptr) node->SetDataType(ftBoolean);
        GetScopeKind(node, left, right);
        left = node;
    }
    return left;
}

TOrqExprNode* TOrqExprParser::ParseExpr() {
    return ParseLogicalChain(ostOr, oeoOR, &TOrqExprParser::ParseExpr2);
}

TOrqExprNode* TOrqExprParser::ParseExpr2() {
    return ParseLogicalChain(ostAnd, oeoAND, &TOrqExprParser::ParseExpr3);
}

TOrqExprNode* TOrqExprParser::ParseExpr3() {
    TOrqExprNode* node;
    if (CurrentIs(ostNot)) {
        const TParserToken* token = CurrToken();
        NextToken();
        TOrqExprNode* operand = ParseExpr4();
        node = NewNode(enkLogicalOperator, oeoNOT, Variant(), operand, nullptr, token);
        if (node != nullptr) node->SetDataType(ftBoolean);
    } else {
        node = ParseExpr4();
    }
    if (node != nullptr) GetScopeKind(node, node->Left(), node->Right());
    return node;
}

TOrqExprNode* TOrqExprParser::ParseExpr4() {
    TOrqExprNode* left = ParseExpr5();
    if (HasParseError() || CurrToken() == nullptr) return left;
    switch (CurrentTokenType()) {
        case ostCompOperator: {
            const TOrqExprOperator op = TokenToOperator(CurrToken());
            return op >= oeoEQ && op <= oeoLE ? ParseComparison(left) : left;
        }
        case ostIsNull:
        case ostIsNotNull: {
            const TParserToken* token = CurrToken();
            NextToken();
            TOrqExprNode* node =
                NewNode(enkLogicalOperator, token->Token() == ostIsNull ? oeoISBLANK : oeoNOTBLANK, Variant(),
                        left, nullptr, token);
            FinishPredicate(node, false);
            return node;
        }
        case ostBetween:
        case ostNotBetween:
            return ParseBetween(left);
        case ostIn:
        case ostNotIn:
            return ParseIn(left);
        case ostLike:
        case ostNotLike:
            return ParseLike(left);
        default:
            return left;
    }
}

TOrqExprNode* TOrqExprParser::ParseComparison(TOrqExprNode* Left) {
    const TParserToken* token = CurrToken();
    TOrqExprOperator op = TokenToOperator(token);
    NextToken();
    if (CurrentIs(ostNull)) {
        SetError(CurrToken(), SorqExprTypeMismatch);
        return Left;
    }
    TOrqExprNode* right = ParseExpr5();
    // A compared field is always the left operand.
    if (right != nullptr && right->Kind() == enkField && (Left == nullptr || Left->Kind() != enkField)) {
        std::swap(Left, right);
        op = MirrorOperator(op);
    }
    TOrqExprNode* node = NewNode(enkRelOperator, op, Variant(), Left, right, token);
    FinishPredicate(node, true);
    return node;
}

void TOrqExprParser::FinishPredicate(TOrqExprNode* Node, bool Comparison) {
    if (Node == nullptr) return;
    TOrqExprNode* left = Node->Left();
    TOrqExprNode* right = Node->Right();
    if (left != nullptr && right != nullptr && !HasParseError()) CheckDataConversions(left, right);
    if (left == nullptr) SetError(CurrToken(), SorqExprTypeMismatch);
    if (Comparison) {
        for (const TOrqExprNode* operand : {left, right}) {
            if (operand == nullptr) continue;
            switch (operand->DataType()) {
                case ftBytes:
                case ftBlob:
                case ftMemo:
                case ftGraphic:
                case ftFmtMemo:
                    SetError(CurrToken(), SorqExprTypeMismatch);
                    break;
                default:
                    break;
            }
        }
    }
    Node->SetDataType(ftBoolean);
    // A string constant compared with a temporal value is read as a date or time. Only
    // constants hold text to read; a string field beside a date field keeps its values.
    if (left != nullptr && right != nullptr && !HasParseError()) {
        if (IsTemporal(left->DataType()) && IsStringType(right->DataType()) && right->Kind() == enkConst)
            ConvertStringValueToTemporal(right, left->DataType());
        else if (IsTemporal(right->DataType()) && IsStringType(left->DataType()) && left->Kind() == enkConst)
            ConvertStringValueToTemporal(left, right->DataType());
    }
    GetScopeKind(Node, left, right);
}

TOrqExprNode* TOrqExprParser::ParseBetween(TOrqExprNode* Left) {
    const TParserToken* token = CurrToken();
    const bool negated = token->Token() == ostNotBetween;
    NextToken();
    TOrqExprNode* low = ParseExpr5();
    if (HasParseError()) return Left;
    if (!CurrentIs(ostAnd)) {
        SetError(CurrToken(), SorqBetweenPredErr);
        return Left;
    }
    NextToken();
    TOrqExprNode* high = ParseExpr5();
    if (HasParseError() || Left == nullptr) return Left;
    // The second comparison tests a copy of the operand node with the same operands.
    TOrqExprNode* copy = NewNode(Left->Kind(), Left->Operator(), Left->Data(), nullptr, nullptr, nullptr);
    if (copy == nullptr) return Left;
    copy->AssignNode(*Left);
    copy->SetArgs(Left->Args());
    TOrqExprNode* lowCmp = NewNode(enkRelOperator, negated ? oeoLT : oeoGE, Variant(), Left, low, token);
    TOrqExprNode* highCmp = NewNode(enkRelOperator, negated ? oeoGT : oeoLE, Variant(), copy, high, token);
    if (low != nullptr) CheckDataConversions(Left, low);
    if (high != nullptr && !HasParseError()) CheckDataConversions(copy, high);
    return NewNode(enkLogicalOperator, negated ? oeoOR : oeoAND, Variant(), lowCmp, highCmp, token);
}

TOrqExprNode* TOrqExprParser::ParseIn(TOrqExprNode* Left) {
    // The list's elements and a subquery are whole expressions again: one level deeper.
    const TNestingScope level(*this);
    if (!level.Entered()) return Left;
    const TParserToken* token = CurrToken();
    NextToken();
    if (!CurrentIs(ostLParen)) {
        SetError(CurrToken(), SorqLParenMissing);
        return Left;
    }
    TOrqExprNode* node = NewNode(enkNonRelPredicate, oeoIN, Variant(), Left, nullptr, token);
    if (node != nullptr) node->SetDataType(ftBoolean);
    NextToken();
    if (CurrentIs(ostSelect)) {
        if (!Options().Contains(opoSubqueries)) {
            SetError(CurrToken(), SorqExprSubqueriesNotSupported);
            return node;
        }
        TOrqExprNode* subquery = ParseExpr();
        if (node != nullptr && subquery != nullptr) node->Args().push_back(subquery);
        if (!HasParseError()) ReadRParen();
        return node;
    }
    if (CurrentIs(ostRParen)) {
        SetError(CurrToken(), SorqEmptyINList);
        return node;
    }
    const TFieldType leftType = Left != nullptr ? Left->DataType() : ftUnknown;
    while (!HasParseError()) {
        TOrqExprNode* element = ParseExpr();
        if (HasParseError()) break;
        if (element != nullptr && IsTemporal(leftType)) {
            // A date text in the list is read as a date now, as in a comparison, so that the
            // rows compare date with date.
            if (element->Kind() == enkConst && IsStringType(element->DataType()))
                ConvertStringValueToTemporal(element, leftType);
            else
                element->SetDataType(leftType);
        }
        if (node != nullptr && element != nullptr) node->Args().push_back(element);
        if (CurrentIs(ostComma)) {
            NextToken();
            continue;
        }
        if (CurrentIs(ostRParen) || CurrToken() == nullptr || CurrentIs(ostEnd)) break;
        SetError(CurrToken(), SorqExprNoRParenOrComma);
    }
    if (!HasParseError()) ReadRParen();
    return node;
}

TOrqExprNode* TOrqExprParser::ParseLike(TOrqExprNode* Left) {
    const TParserToken* token = CurrToken();
    NextToken();
    TOrqExprNode* pattern = ParseCharacterValueExpr();
    if (!HasParseError() && CurrentIs(ostEscape)) {
        NextToken();
        TOrqExprNode* escape = ParseCharacterValueExpr();
        if (Left != nullptr && escape != nullptr) Left->Args().push_back(escape);
    }
    return NewNode(enkNonRelPredicate, oeoLIKE, Variant(), Left, pattern, token);
}

// --- Value expressions -----------------------------------------------------------------------

TOrqExprNode* TOrqExprParser::MakeArithNode(const TParserToken* OpToken, TOrqExprNode* Left,
                                            TOrqExprNode* Right, bool WithResultSize) {
    TOrqExprNode* node = NewNode(enkArithOperator, TokenToOperator(OpToken), Variant(), Left, Right, OpToken);
    if (node == nullptr) return nullptr;
    TypeCheckArithOp(node, Left, Right, OpToken);
    if (WithResultSize) node->SetDataSize(GetArithResultSize(node, Left, Right));
    GetScopeKind(node, Left, Right);
    return node;
}

TOrqExprNode* TOrqExprParser::ParseExpr5() {
    return ParseAdditiveTail(ParseExpr6());
}

const TParserToken* TOrqExprParser::TakeArithOperator(std::initializer_list<TOrqSQLToken> Ops) {
    if (HasParseError()) return nullptr;
    bool atOp = false;
    for (TOrqSQLToken op : Ops) atOp = atOp || CurrentIs(op);
    if (!atOp) return nullptr;
    if (!Options().Contains(opoExtSyntax)) {
        SetError(CurrToken(), SorqExprArithNotSupported);
        return nullptr;
    }
    const TParserToken* token = CurrToken();
    NextToken();
    return token;
}

TOrqExprNode* TOrqExprParser::ParseAdditiveTail(TOrqExprNode* Left) {
    while (const TParserToken* token = TakeArithOperator({ostAdd, ostSub, ostConcatenate})) {
        TOrqExprNode* right = ParseExpr6();
        Left = MakeArithNode(token, Left, right, true);
    }
    return Left;
}

TOrqExprNode* TOrqExprParser::ParseExpr6() {
    return ParseMultiplicativeTail(ParseExpr7());
}

TOrqExprNode* TOrqExprParser::ParseMultiplicativeTail(TOrqExprNode* Left) {
    while (const TParserToken* token = TakeArithOperator({ostMult, ostDiv})) {
        TOrqExprNode* right = ParseExpr7();
        Left = MakeArithNode(token, Left, right, false);
    }
    return Left;
}

TOrqExprNode* TOrqExprParser::ParseCharacterValueExpr() {
    const bool paren = CurrentIs(ostLParen);
    if (paren) {
        NextToken();
        if (CurrentIs(ostRParen)) {
            SetError(CurrToken(), SorqEmptyExpr);
            return nullptr;
        }
    }
    TOrqExprNode* left = ParseExpr7();
    while (const TParserToken* token = TakeArithOperator({ostAdd, ostConcatenate})) {
        TOrqExprNode* right = ParseExpr7();
        left = MakeArithNode(token, left, right, true);
        // A concatenation left untyped (no type checks, operands of unknown type) passes.
        if (!HasParseError() && left != nullptr && left->DataType() != ftString &&
            left->DataType() != ftUnknown)
            SetError(token, SorqCharExprInvalidExprDataType);
    }
    if (paren && !HasParseError()) ReadRParen();
    return left;
}

TOrqExprNode* TOrqExprParser::ParseValueExpr() {
    bool distinct = false;
    return ParseGeneralValueExpr(false, distinct);
}

TOrqExprNode* TOrqExprParser::ParseSetFunctionExpr(bool& Distinct) {
    return ParseGeneralValueExpr(true, Distinct);
}

TOrqExprNode* TOrqExprParser::ParseGeneralValueExpr(bool Aggregate, bool& Distinct) {
    Distinct = false;
    const bool paren = CurrentIs(ostLParen);
    if (paren) {
        NextToken();
        if (CurrentIs(ostRParen)) {
            SetError(CurrToken(), SorqEmptyExpr);
            return nullptr;
        }
    }
    TOrqExprNode* node = nullptr;
    bool operandRead = false;
    if (Aggregate) {
        Distinct = CurrentIs(ostDistinct);
        if (CurrentIs(ostDistinct) || CurrentIs(ostAll)) NextToken();
        // COUNT(*): the star is consumed and gives no operand.
        if (CurrToken() != nullptr && TokenName() == "*") {
            NextToken();
            operandRead = true;
        }
    }
    if (!operandRead) node = ParseAdditiveTail(ParseExpr6());
    if (paren && !HasParseError()) {
        ReadRParen();
        // Outside an aggregate the parentheses only group: (a + 1) * 2 goes on after them.
        if (!Aggregate && !HasParseError()) node = ParseAdditiveTail(ParseMultiplicativeTail(node));
    }
    return node;
}

// --- Primaries -------------------------------------------------------------------------------

TOrqExprNode* TOrqExprParser::ParseExpr7() {
    TParserToken* token = CurrToken();
    if (token == nullptr || token->Token() == ostEnd) {
        SetError(token, SorqExprTerminatedIncorrectly);
        return nullptr;
    }
    // Every recursion of the grammar passes here (or through ParseIn): one level per primary.
    const TNestingScope level(*this);
    if (!level.Entered()) return nullptr;
    switch (token->Token()) {
        case ostFieldName:
            return ParseFieldName(nullptr);
        case ostTableName:
            NextToken();
            if (CurrToken() == nullptr) {
                SetError(token, SorqExprTerminatedIncorrectly);
                return nullptr;
            }
            return ParseFieldName(token);
        case ostNumber: {
            double value;
            if (!ReadSQLNumber(token->Text(), value)) {
                SetError(token, SorqInvalidToken);
                return nullptr;
            }
            TOrqExprNode* node = NewNode(enkConst, oeoCONST2, Variant(value), nullptr, nullptr, token);
            if (node != nullptr) {
                node->SetDataType(ftFloat);
                node->SetScopeKind(oskConst);
            }
            NextToken();
            return node;
        }
        case ostStringLiteral:
        case ostValue: {
            TOrqExprNode* node =
                NewNode(enkConst, oeoCONST2, Variant(token->Text()), nullptr, nullptr, token);
            if (node != nullptr) {
                node->SetAndConvertDataType(ftString);
                node->SetScopeKind(oskConst);
            }
            NextToken();
            return node;
        }
        case ostNull: {
            TOrqExprNode* node = NewNode(enkConst, oeoISBLANK, Null(), nullptr, nullptr, token);
            if (node != nullptr) node->SetScopeKind(oskConst);
            NextToken();
            return node;
        }
        case ostTrue:
        case ostFalse: {
            TOrqExprNode* node =
                NewNode(enkConst, oeoCONST2, Variant(token->Token() == ostTrue), nullptr, nullptr, token);
            if (node != nullptr) node->SetScopeKind(oskConst);
            NextToken();
            return node;
        }
        case ostCurrentDate:
        case ostCurrentTime:
        case ostCurrentTimestamp: {
            TOrqExprNode* node = NewNode(enkConst, oeoFUNC2, Variant(), nullptr, nullptr, token);
            if (node != nullptr) {
                node->SetDataType(token->Token() == ostCurrentDate   ? ftDate
                                  : token->Token() == ostCurrentTime ? ftTime
                                                                     : ftDateTime);
                node->SetScopeKind(oskConst);
            }
            NextToken();
            return node;
        }
        case ostParameter:
            return ParseParameter();
        case ostLParen: {
            NextToken();
            TOrqExprNode* node = ParseExpr();
            if (HasParseError()) return node;
            ReadRParen();
            return node;
        }
        case ostCast:
            return ParseCastExpr();
        case ostExtract:
            return ParseExtractExpr();
        case ostStrFunc:
            // Without the extended syntax the function is left for the enclosing level to refuse.
            return Options().Contains(opoExtSyntax) ? ParseStrFunc() : nullptr;
        case ostAggFunc:
            return Options().Contains(opoExtSyntax) ? ParseAggFunc() : nullptr;
        case ostSelect:
            return ParseSubquery(false);
        case ostAll:
        case ostExists:
        case ostAny:
        case ostSome:
            return ParseSubquery(true);
        default:
            SetError(token, SorqInvalidToken);
            return nullptr;
    }
}

TOrqExprNode* TOrqExprParser::ParseFieldName(TParserToken* TableToken) {
    TParserToken* fieldToken = CurrToken();
    const std::string name = fieldToken->Text();
    const std::string tableName = TableToken != nullptr ? TableToken->Text() : std::string();

    const bool hadError = HasParseError();
    TFieldType type;
    int size;
    InternalGetFieldTypeAndSize(FTableList, tableName, name, true, type, size);
    const bool lookupSetError = !hadError && HasParseError();

    TOrqExprNode* node =
        FExpr->NewFieldNode(enkField, oeoFIELD2, Variant(name), nullptr, nullptr, fieldToken, type, size);
    if (node != nullptr && TableToken != nullptr) node->TokenArgs().push_back(TableToken);

    const TTableNameItem* item = nullptr;
    if (FTableList != nullptr)
        item = TableToken != nullptr ? FTableList->FindTable(tableName) : FTableList->FindTableForField(name);
    if (item != nullptr) {
        if (node != nullptr) node->Tables().Add()->Assign(item);
    } else {
        AskOuterTable(node, tableName, name, lookupSetError);
    }

    if (FValidateFields && node != nullptr && node->DataType() == ftUnknown) {
        SetError(fieldToken, SorqFieldNotFound);
        return node;
    }
    if (node != nullptr) node->SetScopeKind(oskField);
    NextToken();
    return node;
}

void TOrqExprParser::AskOuterTable(TOrqExprNode* Node, const std::string& TableName,
                                   const std::string& FieldName, bool LookupSetError) {
    if (!IsSubquery() || !ParserNotifyEvent() || Node == nullptr) return;
    Variant value(TableName);
    ParserNotifyEvent()(pntFindTableRef, this, Stack(), Node, value);
    const bool isOuterTable = VarType(value) == varBoolean && value.AsBoolean();
    if (!isOuterTable || FTableList == nullptr) return;
    if (LookupSetError) ClearError();
    TFieldType type;
    int size;
    InternalGetFieldTypeAndSize(&Node->Tables(), TableName, FieldName, false, type, size);
    Node->SetDataType(type);
    Node->SetDataSize(size);
    Node->SetOperator(oeoOUTERFIELD);
    Node->SetKind(enkFunc);
}

void TOrqExprParser::InternalGetFieldTypeAndSize(const TTableList* List, const std::string& TableName,
                                                 const std::string& FieldName, bool Report, TFieldType& Type,
                                                 int& Size) {
    Type = ftUnknown;
    Size = -1;
    if (List == nullptr || List->Count() == 0) return;
    const TTableNameItem* item = List->FindTable(TableName);
    if (item == nullptr && TableName.empty()) item = List->FindTableForField(FieldName);
    if (item == nullptr) {
        if (Report) {
            if (TableName.empty())
                SetError(CurrToken(), SorqFieldNotFound);
            else
                SetError(CurrToken(),
                         std::string(SorqTableOrFieldNotFound) + " (" + TableName + "." + FieldName + ")");
        }
        return;
    }
    Type = item->GetFieldType(FieldName);
    Size = item->GetFieldSize(FieldName);
}

TOrqExprNode* TOrqExprParser::ParseParameter() {
    NextToken();
    if (!CurrentIs(ostFieldName)) {
        SetError(CurrToken(), SorqParamNotFound);
        return nullptr;
    }
    TOrqExprNode* node = NewNode(enkParam, oeoPARAMETER, Variant(TokenName()), nullptr, nullptr, CurrToken());
    if (node != nullptr) node->SetScopeKind(oskConst);
    if (!Options().Contains(opoParameters)) {
        SetError(CurrToken(), SorqParamsNotSupported);
        return node;
    }
    NextToken();
    return node;
}

TOrqExprNode* TOrqExprParser::ParseSubquery(bool Quantified) {
    if (!Options().Contains(opoSubqueries)) {
        SetError(CurrToken(), SorqExprSubqueriesNotSupported);
        return nullptr;
    }
    if (Quantified) {
        const TOrqSQLToken quantifier = CurrentTokenType();
        const TOrqSubqueryType kind = quantifier == ostExists ? osqExists
                                      : quantifier == ostAll  ? osqAll
                                                              : osqAnyOrSome;
        NextToken();
        if (!CurrentIs(ostLParen)) {
            SetError(CurrToken(), SorqLParenMissing);
            return nullptr;
        }
        NextToken();
        if (!CurrentIs(ostSelect)) {
            SetError(CurrToken(), SorqSelectTokenMissing);
            return nullptr;
        }
        CurrToken()->SetCustomOrdinal(kind);
    }
    TParserToken* selectToken = CurrToken();
    TOrqExprNode* node =
        NewNode(enkSubquery, oeoSUBQUERY, Variant(selectToken->Text()), nullptr, nullptr, selectToken);
    // The driver parses the subquery and leaves this parser's current token after it.
    if (ParserNotifyEvent()) {
        Variant value;
        ParserNotifyEvent()(pntSubquery, this, Stack(), node, value);
        // The driver answers with the height of the subquery's statement.
        if (node != nullptr && (VarType(value) == varInteger || VarType(value) == varSmallint))
            FSubqueryHeights[node] = value.AsInteger();
    }
    if (Quantified && !HasParseError()) ReadRParen();
    return node;
}

TOrqExprNode* TOrqExprParser::ParseCastExpr() {
    const TParserToken* castToken = CurrToken();
    NextToken();
    const bool paren = CurrentIs(ostLParen);
    if (paren) NextToken();
    TOrqExprNode* value = ParseValueExpr();
    if (HasParseError()) return nullptr;
    if (!CurrentIs(ostAS)) {
        SetError(CurrToken(), SorqMissingASOperatorInCASTExpr);
        return nullptr;
    }
    NextToken();
    TOrqExprNode* node = NewNode(enkFunc, oeoFUNC2, Variant("CAST"), nullptr, value, castToken);
    ParseDataType(node);
    if (HasParseError() || node == nullptr) return node;
    if (value != nullptr) {
        CheckDataConversionValid(value->DataType(), node->DataType(), castToken);
        GetScopeKind(node, value, nullptr);
    }
    if (paren && !HasParseError()) ReadRParen();
    return node;
}

void TOrqExprParser::ParseDataType(TOrqExprNode* Node) {
    TOrqDataTypeParser typeParser;
    StartHelper(typeParser);
    typeParser.Execute(TOrqParserOptions{opoExtSyntax}, Stack());
    const std::size_t mark = typeParser.ParsedText().size();
    if (!typeParser.ParseDataType()) {
        SetError(typeParser.ErrorToken(), typeParser.ErrorMsg());
    } else if (Node != nullptr) {
        Node->SetDataType(typeParser.DataType());
        Node->SetDataSize(typeParser.FieldSize());
    }
    // Take the position back, with the source text of the tokens the type parser consumed.
    FCurrToken = typeParser.CurrToken();
    FParsedText += typeParser.ParsedText().substr(mark);
}

TOrqExprNode* TOrqExprParser::ParseExtractExpr() {
    TParserToken* extractToken = CurrToken();
    NextToken();
    const bool paren = CurrentIs(ostLParen);
    if (paren) NextToken();
    const TOrqSQLToken part = CurrentTokenType();
    if (part < ostYear || part > ostSecond) {
        SetError(CurrToken(), SorqInvalidFieldinEXTRACTExpr);
        return nullptr;
    }
    extractToken->SetCustomOrdinal(part);
    TOrqExprNode* node = NewNode(enkFunc, oeoFUNC2, Variant("EXTRACT"), nullptr, nullptr, extractToken);
    if (node != nullptr) node->SetDataType(part == ostSecond ? ftFloat : ftInteger);
    NextToken();
    if (!CurrentIs(ostFrom)) {
        SetError(CurrToken(), SorqMissingFROMinEXTRACTExpr);
        return node;
    }
    NextToken();
    TOrqExprNode* value = ParseValueExpr();
    if (node != nullptr) node->SetRight(value);
    if (HasParseError()) return node;
    if (FValidateFields && value != nullptr) {
        const TFieldType t = value->DataType();
        bool valid = t == ftDate || t == ftTime || t == ftDateTime || t == ftTimeStamp;
        if (part == ostHour || part == ostMinute || part == ostSecond) valid = t == ftTime || t == ftDateTime;
        if (!valid) SetError(extractToken, SorqInvalidValeExprInEXTRACTExpr);
    }
    if (value != nullptr) GetScopeKind(node, value, nullptr);
    if (paren && !HasParseError()) ReadRParen();
    return node;
}

TOrqExprNode* TOrqExprParser::ParseStrFunc() {
    TParserToken* funcToken = CurrToken();
    const int kind = funcToken->CustomOrdinal();
    NextToken();
    TOrqExprNode* node = nullptr;
    TOrqExprNode* stringOperand = nullptr;
    TOrqExprNode* otherOperand = nullptr;
    const Variant name(funcToken->Text());

    auto closeParen = [this]() {
        if (HasParseError()) return false;
        ReadRParen();
        return !HasParseError();
    };

    if (kind == osfSubstring) {
        if (!CurrentIs(ostLParen)) {
            SetError(CurrToken(), SorqLParenMissing);
            return nullptr;
        }
        NextToken();
        stringOperand = ParseCharacterValueExpr();
        if (HasParseError()) return nullptr;
        if (!CurrentIs(ostFrom) && !CurrentIs(ostComma)) {
            SetError(CurrToken(), SorqSUBSTRINGInvalid);
            return nullptr;
        }
        NextToken();
        otherOperand = ParseValueExpr();
        if (HasParseError()) return nullptr;
        TOrqExprNode* length = nullptr;
        if (CurrentIs(ostFor) || CurrentIs(ostComma)) {
            NextToken();
            length = ParseValueExpr();
            if (HasParseError()) return nullptr;
        }
        if (!closeParen()) return nullptr;
        node = NewNode(enkFunc, oeoFUNC2, name, stringOperand, otherOperand, funcToken);
        if (node != nullptr && length != nullptr) node->Args().push_back(length);
    } else if (kind >= osfTrim && kind <= osfTrimBoth) {
        if (!CurrentIs(ostLParen)) {
            SetError(CurrToken(), SorqLParenMissing);
            return nullptr;
        }
        NextToken();
        int trimKind = osfTrimBoth;
        if (TokenSymbolIs("LEADING")) {
            trimKind = osfTrimLeading;
            NextToken();
        } else if (TokenSymbolIs("TRAILING")) {
            trimKind = osfTrimTrailing;
            NextToken();
        } else if (TokenSymbolIs("BOTH")) {
            NextToken();
        }
        funcToken->SetCustomOrdinal(trimKind);
        stringOperand = ParseCharacterValueExpr();
        if (HasParseError()) return nullptr;
        if (CurrentIs(ostFrom)) {
            NextToken();
            otherOperand = stringOperand;
            stringOperand = ParseCharacterValueExpr();
            if (HasParseError()) return nullptr;
        }
        if (!closeParen()) return nullptr;
        node = NewNode(enkFunc, oeoFUNC2, name, stringOperand, otherOperand, funcToken);
    } else if (kind == osfUpper || kind == osfLower) {
        stringOperand = ParseCharacterValueExpr();
        if (HasParseError()) return nullptr;
        node = NewNode(enkFunc, oeoFUNC2, name, nullptr, stringOperand, funcToken);
    } else {
        SetError(funcToken, SorqInvalidToken);
        return nullptr;
    }
    if (node == nullptr) return nullptr;
    node->SetDataType(ftString);
    if (node->DataSize() <= 0 && stringOperand != nullptr) node->SetDataSize(stringOperand->DataSize());
    if (stringOperand != nullptr) GetScopeKind(node, stringOperand, otherOperand);
    return node;
}

TOrqExprNode* TOrqExprParser::ParseAggFunc() {
    TParserToken* aggToken = CurrToken();
    const std::size_t mark = ParsedText().size();
    NextToken();
    bool distinct = false;
    TOrqExprNode* operand = ParseSetFunctionExpr(distinct);
    TOrqExprNode* node = NewNode(enkFunc, oeoFUNC2, Variant(distinct), nullptr, nullptr, aggToken);
    if (node == nullptr) return nullptr;
    node->SetScopeKind(oskAgg);
    if (operand != nullptr) {
        if (Options().Contains(opoExtractAggFuncExprText)) {
            // The aggregate's source text: its name, then what was consumed for the operand,
            // less the token that follows.
            std::string consumed = ParsedText().substr(mark);
            if (CurrToken() != nullptr) {
                const std::size_t n = CurrToken()->RawTokenText().size();
                consumed.erase(n < consumed.size() ? consumed.size() - n : 0);
            }
            node->ParserToken().SetRawTokenText(Trim(aggToken->RawTokenText() + consumed));
        }
        node->Args().push_back(operand);
        node->SetDataType(operand->DataType());
        node->SetDataSize(operand->DataSize());
    } else {
        node->SetDataType(ftInteger);
        node->SetDataSize(0);
    }
    return node;
}

// --- Tree height ---------------------------------------------------------------------------

void TOrqExprParser::CheckTreeHeight() {
    if (FRootNode == nullptr) return;
    // Iterative post-order walk: the tree may be far taller than the stack would allow a
    // recursive walk (a long chain of ORs is a left-deep tree as tall as the chain).
    struct TFrame {
        const TOrqExprNode* Node;
        std::size_t Next;  // the next child to visit: Args, then Left, then Right
        int Height;        // the tallest child so far
    };
    auto child = [](const TOrqExprNode* n, std::size_t i) -> const TOrqExprNode* {
        const std::size_t args = n->Args().size();
        if (i < args) return n->Args()[i];
        if (i == args) return n->Left();
        if (i == args + 1) return n->Right();
        return nullptr;
    };
    std::vector<TFrame> path{{FRootNode, 0, 0}};
    int height = 0;
    const TOrqExprNode* tallest = nullptr;
    while (!path.empty()) {
        TFrame& top = path.back();
        if (top.Next < top.Node->Args().size() + 2) {
            const TOrqExprNode* c = child(top.Node, top.Next++);
            if (c != nullptr) path.push_back({c, 0, 0});
            continue;
        }
        int h = top.Height + 1;
        if (top.Node->Kind() == enkSubquery) {
            const auto it = FSubqueryHeights.find(top.Node);
            if (it != FSubqueryHeights.end()) h += COrqSubqueryNestingWeight + it->second;
        }
        if (NestingLevel() + h > COrqMaxNestingLevel && tallest == nullptr) tallest = top.Node;
        path.pop_back();
        if (path.empty())
            height = h;
        else if (h > path.back().Height)
            path.back().Height = h;
    }
    NoteExprHeight(height);
    if (tallest != nullptr) SetError(&tallest->ParserToken(), NestingTooDeepMsg());
}

// --- Typing ----------------------------------------------------------------------------------

void TOrqExprParser::CheckDataConversions(TOrqExprNode* Left, TOrqExprNode* Right) {
    TOrqExprNode* field = nullptr;
    TOrqExprNode* constant = nullptr;
    if (Left->Kind() == enkField && Right->Kind() == enkConst) {
        field = Left;
        constant = Right;
    } else if (Right->Kind() == enkField && Left->Kind() == enkConst) {
        field = Right;
        constant = Left;
    }
    // A field of unknown type (no table list) has no type to give.
    if (field == nullptr || field->DataType() == ftUnknown) return;
    const TFieldType type = field->DataType();
    if (IsTemporal(type) && IsStringType(constant->DataType())) {
        ConvertStringValueToTemporal(constant, type);
        return;
    }
    if (VarIsEmpty(constant->Data())) {
        // CURRENT_DATE and its kin get their value when the statement runs.
        constant->SetDataType(type);
    } else {
        try {
            constant->SetAndConvertDataType(type);
        } catch (const EVariantError&) {
            SetError(CurrToken(), SorqExprTypeMismatch);
            return;
        } catch (const EConvertError&) {
            SetError(CurrToken(), SorqExprTypeMismatch);
            return;
        }
    }
    constant->SetDataSize(field->DataSize());
}

void TOrqExprParser::ConvertStringValueToTemporal(TOrqExprNode* Node, TFieldType T) {
    TOrqDataConversionValidator validator;
    Node->SetData(validator.ConvertStrToDateTime(VarToStr(Node->Data()), T));
    Node->SetDataType(T);
}

void TOrqExprParser::TypeCheckArithOp(TOrqExprNode* Node, TOrqExprNode* Left, TOrqExprNode* Right,
                                      const TParserToken* OpToken) {
    if (FIgnoreTypeChecks || Left == nullptr || Right == nullptr) return;
    if (Left->Kind() == enkParam && Right->Kind() == enkParam) return;
    if (Left->Kind() == enkSubquery || Right->Kind() == enkSubquery) return;
    // Nor when a field or computed operand has no known type (no table list to type it by):
    // only the rows can tell.
    auto untyped = [](const TOrqExprNode* n) {
        return n->DataType() == ftUnknown && n->Kind() != enkConst && n->Kind() != enkParam;
    };
    if (untyped(Left) || untyped(Right)) return;
    if (Left->Kind() == enkParam)
        Left->SetDataType(Right->DataType());
    else if (Right->Kind() == enkParam)
        Right->SetDataType(Left->DataType());

    const TFieldType lt = Left->DataType();
    const TFieldType rt = Right->DataType();
    const TOrqExprOperator op = Node->Operator();
    TFieldType result;
    if (IsNumeric(lt) && IsNumeric(rt)) {
        result = ftFloat;
    } else if (IsStringType(lt) && IsStringType(rt) && op == oeoADD) {
        result = ftString;
    } else if (IsTemporal(lt) && IsNumeric(rt) && op == oeoADD) {
        result = ftDateTime;
    } else if (IsTemporal(lt) && IsNumeric(rt) && op == oeoSUB) {
        result = lt;
    } else if (IsTemporal(lt) && IsTemporal(rt) && op == oeoSUB) {
        result = ftFloat;
    } else if (IsStringType(lt) && IsTemporal(rt) && op == oeoSUB) {
        // A date text minus a date: the text is read as a date now, not by each row's locale.
        if (Left->Kind() == enkConst)
            ConvertStringValueToTemporal(Left, rt);
        else
            Left->SetDataType(rt);
        result = ftFloat;
    } else {
        // At the operator's token (the stored one: the node's copy dies with the expression).
        SetError(OpToken, SorqExprTypeMismatch);
        return;
    }
    Node->SetDataType(result);
}

int TOrqExprParser::GetArithResultSize(const TOrqExprNode* Node, const TOrqExprNode* Left,
                                       const TOrqExprNode* Right) {
    if (!IsStringType(Node->DataType())) return 0;
    auto sizeOf = [](const TOrqExprNode* n) { return n->DataSize() > 0 ? n->DataSize() : 0; };
    if (Left != nullptr && Right != nullptr)
        return Node->Operator() == oeoADD ? sizeOf(Left) + sizeOf(Right) : 0;
    if (Left != nullptr) return sizeOf(Left);
    if (Right != nullptr) return sizeOf(Right);
    return 0;
}

void TOrqExprParser::GetScopeKind(TOrqExprNode* Node, const TOrqExprNode* Left, const TOrqExprNode* Right) {
    if (Node == nullptr || HasParseError() || Left == nullptr) return;
    if (Right == nullptr) {
        Node->SetScopeKind(Left->ScopeKind());
        return;
    }
    const TOrqExprScopeKind a = Left->ScopeKind();
    const TOrqExprScopeKind b = Right->ScopeKind();
    if ((a == oskField && b == oskAgg) || (a == oskAgg && b == oskField)) {
        SetError(CurrToken(), SorqExprBadScope);
        return;
    }
    if (a == oskConst && b == oskConst)
        Node->SetScopeKind(oskConst);
    else if (a == oskAgg || b == oskAgg)
        Node->SetScopeKind(oskAgg);
    else
        Node->SetScopeKind(oskField);
}

void TOrqExprParser::CheckDataConversionValid(TFieldType From, TFieldType To, const TParserToken* Token) {
    if (From == ftUnknown || To == ftUnknown) return;
    if (!TOrqDataConversionValidator::CheckDataConversionValid(From, To))
        SetError(Token,
                 std::string(SorqTypeConversionErr) + " " + FieldTypeName(From) + " -> " + FieldTypeName(To));
}

}  // namespace ostra
