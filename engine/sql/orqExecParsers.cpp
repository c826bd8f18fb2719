// The INSERT, UPDATE and DELETE parsers and their row constructors (see orqExecParsers.h).
#include "engine/sql/orqExecParsers.h"

#include <algorithm>

#include "engine/sql/orqDataConversion.h"
#include "engine/sql/orqExprEvaluator.h"
#include "engine/sql/orqExprParser.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Collation.h"
#include "host/DateTime.h"
#include "host/Exceptions.h"
#include "host/SysUtils.h"
#include "host/db/Params.h"

namespace ostra {

namespace {

// When Token is a constant a value may be written as, its value goes to Value. A number token
// that is no number is not: the expression parser then refuses it at its position.
bool ReadConstant(const TParserToken* Token, Variant& Value) {
    if (Token == nullptr) return false;
    switch (Token->Token()) {
        case ostStringLiteral:
        case ostValue:
            Value = Variant(Token->Text());
            return true;
        case ostNumber: {
            double number;
            if (!ReadSQLNumber(Token->Text(), number)) return false;
            Value = Variant(number);
            return true;
        }
        case ostNull:
            Value = Null();
            return true;
        case ostTrue:
            Value = Variant(true);
            return true;
        case ostFalse:
            Value = Variant(false);
            return true;
        case ostCurrentDate:
            Value = VarFromDateTime(Date());
            return true;
        case ostCurrentTime:
            Value = VarFromDateTime(Time());
            return true;
        case ostCurrentTimestamp:
            Value = VarFromDateTime(Now());
            return true;
        default:
            return false;
    }
}

// What a value expression of a statement is parsed with.
struct TValueExprSetup {
    TOrqSQLTokens EndTokens;
    TOrqParserOptions Options;
    const TTableList* Tables = nullptr;
    bool ValidateFields = false;
    const TParserNotifyEvent* NotifyEvent = nullptr;
};

// Parses a value expression into Expr with a fresh expression parser that starts at Owner's
// current token; its error becomes Owner's. Answers the token the expression parser stopped
// at, where Owner resumes.
TParserToken* ParseValueExpression(TBaseParser& Owner, TOrqExpr* Expr, const TValueExprSetup& Setup) {
    TOrqExprParser parser;
    parser.SetValidEndTokens(Setup.EndTokens);
    parser.SetTableList(Setup.Tables);
    parser.SetValidateFields(Setup.ValidateFields);
    if (Setup.NotifyEvent != nullptr) parser.SetParserNotifyEvent(*Setup.NotifyEvent);
    Owner.StartHelper(parser);
    if (!parser.ExecuteExternalValueExpr(Expr, Setup.Options, Owner.Stack()))
        Owner.SetError(parser.ErrorToken(), parser.ErrorMsg());
    Owner.NoteExprHeight(parser.ExprHeight());
    return parser.CurrToken();
}

// The field node of Expr written first in the text; null when the expression names no field.
const TOrqExprNode* FirstFieldReference(const TOrqExpr& Expr) {
    const TOrqExprNode* first = nullptr;
    for (const TOrqExprNode* n = Expr.FirstNode(); n != nullptr; n = n->Next()) {
        if (n->Kind() != enkField) continue;
        const TParserToken& t = n->ParserToken();
        if (first == nullptr || t.LineNo() < first->ParserToken().LineNo() ||
            (t.LineNo() == first->ParserToken().LineNo() &&
             t.LineOffset() < first->ParserToken().LineOffset()))
            first = n;
    }
    return first;
}

bool HasFieldLists(const TTableList* Tables) {
    if (Tables == nullptr) return false;
    for (int i = 0; i < Tables->Count(); ++i)
        if (Tables->Items(i)->TableFields() != nullptr) return true;
    return false;
}

// The type the constant Value is taken as when it meets a column: Integer for small and 32-bit
// integers, String for text; unknown for everything else (numbers read from the statement are
// floating-point and are left as they are).
TFieldType ConstantType(const Variant& Value) {
    const TVarType t = VarType(Value);
    if (t == varSmallint || t == varInteger) return ftInteger;
    if (t == varString) return ftString;
    return ftUnknown;
}

// Converts Element's constant to ColumnType where the constant's type is known and differs.
void ConvertElementData(TOrqRowConstructorElement& Element, TFieldType ColumnType) {
    if (VarIsNull(Element.Data())) return;
    const TFieldType valueType = ConstantType(Element.Data());
    if (valueType == ftUnknown || valueType == ColumnType) return;
    TOrqDataConversionValidator validator;
    Element.SetData(validator.PerformDataConversionToType(valueType, ColumnType, Element.Data()));
}

// The WHERE clause at Owner's current token becomes a subquery node of WhereExpr, handed to
// the notify event (the driver parses it).
void HandOverWhereClause(TBaseParser& Owner, TOrqExpr& WhereExpr) {
    TParserToken* token = Owner.CurrToken();
    TOrqExprNode* node =
        WhereExpr.NewNode(enkSubquery, oeoSUBQUERY, Variant(token->Text()), nullptr, nullptr, token);
    if (Owner.ParserNotifyEvent()) {
        Variant value;
        Owner.ParserNotifyEvent()(pntSubquery, &Owner, Owner.Stack(), node, value);
    }
}

std::string NotFoundText(const std::string& Name) {
    return std::string(SorqFieldNotFound) + " : " + Name;
}

}  // namespace

// --- Row constructors ------------------------------------------------------------------------

TOrqRowConstructorElement::TOrqRowConstructorElement(TCollection* ACollection)
    : TCollectionItem(ACollection) {}

TOrqRowConstructorElement::~TOrqRowConstructorElement() = default;

TOrqExpr* TOrqRowConstructorElement::GetExpr() {
    if (!FExpr) {
        FExpr = std::make_unique<TOrqExpr>();
        FEvaluator = std::make_unique<TExprEvaluator>();
    }
    return FExpr.get();
}

Variant TOrqRowConstructorElement::GetRowData() {
    if (FEvaluator && FEvaluator->IsPrepared()) return FEvaluator->EvaluateValueExpr();
    return FData;
}

void TOrqRowConstructorElement::Prepare(TOrqExprDataProvider* Provider) {
    if (!FEvaluator) return;
    FEvaluator->Prepare(Provider, FExpr->FirstNode());
    FEvaluator->SetExcludeRelopNulls(false);
}

void TOrqRowConstructorElement::BindExprParams(const TParams* Params) {
    if (!FHasParameter || Params == nullptr) return;
    if (!FExpr) {
        FData = Params->ParamByName(VarToStr(FData))->AsVariant();
        return;
    }
    for (TOrqExprNode* n = FExpr->FirstNode(); n != nullptr; n = n->Next()) {
        if (n->Operator() != oeoPARAMETER && n->OriginalOperator() != oeoPARAMETER) continue;
        const TParam* param = Params->ParamByName(VarToStr(n->OriginalData()));
        n->SetData(param->AsVariant());
        n->SetOperator(oeoCONST2);
        n->SetKind(enkConst);
        n->SetDataType(param->DataType());
    }
}

void TOrqRowConstructor::BindParams(const TParams* Params) {
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->HasParameter()) GetItems(i)->BindExprParams(Params);
}

void TOrqRowConstructor::Prepare(TOrqExprDataProvider* Provider) {
    for (int i = 0; i < Count(); ++i) GetItems(i)->Prepare(Provider);
}

// --- INSERT ----------------------------------------------------------------------------------

TOrqInsertParser::TOrqInsertParser()
    : FRowConstructor(std::make_unique<TOrqRowConstructor>()), FSubqueryExpr(std::make_unique<TOrqExpr>()) {}

TOrqInsertParser::~TOrqInsertParser() = default;

void TOrqInsertParser::Clear() {
    TBaseParser::Clear();
    FRowConstructor->Clear();
    FInsertColumnNames.Clear();
    FSubqueryExpr->Clear();
    FTableName.clear();
    FColumnsNotSpecified = false;
    FHasSelectClause = false;
}

bool TOrqInsertParser::Execute(const TOrqParserOptions& Options, TParserStack* Stack) {
    TBaseParser::Execute(Options, Stack);
    if (CurrentTokenType() == ostInsert) NextToken();
    if (CurrentTokenType() == ostInto)
        NextToken();
    else
        SetError(CurrToken(), SorqInsertStatmentSyntaxError);

    if (!HasParseError()) {
        if (AtEndToken()) {
            SetError(CurrToken(), SorqInsertStatementTerminateErr);
        } else {
            FTableName = TokenName();
            NextToken();
        }
    }
    if (!HasParseError()) {
        FColumnsNotSpecified = CurrentTokenType() != ostLParen;
        if (!FColumnsNotSpecified) ParseColumnList();
    }
    if (!HasParseError()) {
        switch (CurrentTokenType()) {
            case ostValues:
                NextToken();
                if (CurrentTokenType() != ostLParen) {
                    SetError(CurrToken(), SorqLParenMissing);
                    break;
                }
                NextToken();
                ParseValueList();
                if (HasParseError()) break;
                if (CurrentTokenType() == ostRParen)
                    NextToken();
                else
                    SetError(CurrToken(), SorqRParenMissing);
                break;
            case ostSelect: {
                FHasSelectClause = true;
                TParserToken* token = CurrToken();
                TOrqExprNode* node = FSubqueryExpr->NewNode(enkSubquery, oeoSUBQUERY, Variant(token->Text()),
                                                            nullptr, nullptr, token);
                // The driver parses the query and leaves this parser on the token after it.
                if (ParserNotifyEvent()) {
                    Variant value;
                    ParserNotifyEvent()(pntSubquery, this, this->Stack(), node, value);
                }
                break;
            }
            default:
                SetError(CurrToken(), SorqInvalidToken);
                break;
        }
    }
    if (!HasParseError() && !AtEndToken()) SetError(CurrToken(), SorqInsertStatementTerminateErr);
    return !HasParseError();
}

void TOrqInsertParser::ParseColumnList() {
    NextToken();  // "("
    // An empty list "()" is left for the validation to refuse.
    while (!HasParseError() && !AtEndToken() && CurrentTokenType() != ostRParen) {
        if (CurrentTokenType() == ostComma) {
            SetError(CurrToken(), SorqMissingColumnSpecifier);
            break;
        }
        FInsertColumnNames.Add(TokenName());
        NextToken();
        if (CurrentTokenType() == ostComma) NextToken();
    }
    if (HasParseError()) return;
    if (CurrentTokenType() == ostRParen)
        NextToken();
    else
        SetError(CurrToken(), SorqRParenMissing);
}

void TOrqInsertParser::ParseValueList() {
    const TValueExprSetup setup{TOrqSQLTokens{ostComma, ostRParen},
                                TOrqParserOptions{opoExtSyntax, opoSQL, opoParameters}};
    do {
        if (CurrentTokenType() == ostComma) {
            SetError(CurrToken(), SorqMissingColumnSpecifier);
            break;
        }
        TOrqRowConstructorElement* element = FRowConstructor->Add();
        element->SetHasParameter(CurrentTokenType() == ostParameter);
        const TOrqSQLToken next = PeekAtTokenType(0);
        Variant value;
        if ((next == ostComma || next == ostRParen) && ReadConstant(CurrToken(), value)) {
            element->SetData(value);
            NextToken();
        } else {
            TOrqExpr* expr = element->GetExpr();
            FCurrToken = ParseValueExpression(*this, expr, setup);
            // Values are computed before any row exists: they may not read fields.
            if (const TOrqExprNode* field = FirstFieldReference(*expr))
                SetError(&field->ParserToken(), SorqInvalidToken);
        }
        if (CurrentTokenType() == ostComma) NextToken();
    } while (!HasParseError() && !AtEndToken() && CurrentTokenType() != ostRParen);
}

void TOrqInsertParser::CreateDefaultColumns(const IOrqTableFields& TableFields) {
    FInsertColumnNames.Clear();
    for (int i = 0; i < TableFields.FieldCount(); ++i) FInsertColumnNames.Add(TableFields.FieldName(i));
}

bool TOrqInsertParser::ValidateColumnsPresent(const IOrqTableFields& TableFields) {
    for (int i = 0; i < FInsertColumnNames.Count(); ++i) {
        const std::string name = FInsertColumnNames.Strings(i);
        if (TableFields.IndexOfField(name) < 0) {
            SetError(nullptr, NotFoundText(name));
            return false;
        }
    }
    return true;
}

bool TOrqInsertParser::ValidateAndSetDataTypes(const IOrqTableFields& TableFields) {
    const int n = std::min(FInsertColumnNames.Count(), FRowConstructor->Count());
    for (int i = 0; i < n; ++i) {
        const int field = TableFields.IndexOfField(FInsertColumnNames.Strings(i));
        if (field >= 0) ConvertElementData(*FRowConstructor->GetItems(i), TableFields.FieldType(field));
    }
    return true;
}

bool TOrqInsertParser::ValidateValueColumns(const IOrqTableFields& TableFields) {
    if (FColumnsNotSpecified) {
        CreateDefaultColumns(TableFields);
        // Fewer values fill the first columns; a value without a column would be lost.
        if (FRowConstructor->Count() > FInsertColumnNames.Count()) {
            SetError(nullptr, SorqInsertColumnsCountMismatch);
            return false;
        }
    } else {
        if (FInsertColumnNames.Count() == 0) {
            SetError(nullptr, SorqNoInsertColumnsSpecified);
            return false;
        }
        if (FInsertColumnNames.Count() != FRowConstructor->Count()) {
            SetError(nullptr, SorqInsertColumnsCountMismatch);
            return false;
        }
    }
    if (ValidateColumnsPresent(TableFields)) ValidateAndSetDataTypes(TableFields);
    return !HasParseError();
}

bool TOrqInsertParser::CheckDataConversionValid(TFieldType From, TFieldType To) {
    return From != ftUnknown && To != ftUnknown &&
           TOrqDataConversionValidator::CheckDataConversionValid(From, To);
}

bool TOrqInsertParser::ValidateSelectColumns(const TInternalFields& SelectFields,
                                             const IOrqTableFields& TableFields) {
    if (FColumnsNotSpecified) {
        CreateDefaultColumns(TableFields);
    } else if (FInsertColumnNames.Count() == 0) {
        SetError(nullptr, SorqNoInsertColumnsSpecified);
        return false;
    }
    if (FInsertColumnNames.Count() != SelectFields.Count()) {
        SetError(nullptr, SorqInsertColumnsCountMismatch);
        return false;
    }
    if (!ValidateColumnsPresent(TableFields)) return false;
    // Each selected value is stored into its column: the select type must convert to the
    // column type (the direction UNION members are checked in).
    for (int i = 0; i < FInsertColumnNames.Count(); ++i) {
        const TFieldType columnType =
            TableFields.FieldType(TableFields.IndexOfField(FInsertColumnNames.Strings(i)));
        const TFieldType selectType = SelectFields.GetIndex(i)->DataType();
        if (!CheckDataConversionValid(selectType, columnType)) {
            SetError(nullptr, std::string(SorqTypeConversionErr) + " " + FieldTypeName(selectType) + " -> " +
                                  FieldTypeName(columnType));
            break;
        }
    }
    return !HasParseError();
}

// --- DELETE ----------------------------------------------------------------------------------

TOrqDeleteParser::TOrqDeleteParser() : FWhereExpr(std::make_unique<TOrqExpr>()) {}

TOrqDeleteParser::~TOrqDeleteParser() = default;

void TOrqDeleteParser::Clear() {
    TBaseParser::Clear();
    FWhereExpr->Clear();
    FTableName.clear();
    FHasWhereClause = false;
}

bool TOrqDeleteParser::Execute(const TOrqParserOptions& Options, TParserStack* Stack) {
    TBaseParser::Execute(Options, Stack);
    if (CurrentTokenType() == ostDelete)
        NextToken();
    else
        SetError(CurrToken(), SorqDeleteStatmentSyntaxError);
    if (!HasParseError()) {
        if (CurrentTokenType() == ostFrom)
            NextToken();
        else
            SetError(CurrToken(), SorqDeleteStatmentSyntaxError);
    }
    if (!HasParseError()) {
        if (AtEndToken()) {
            SetError(CurrToken(), SorqDeleteStatementTerminateErr);
        } else {
            FTableName = TokenName();
            if (FTables != nullptr) FTables->Add()->SetTableName(FTableName);
            NextToken();
        }
    }
    if (!HasParseError() && CurrentTokenType() == ostWhere) {
        FHasWhereClause = true;
        HandOverWhereClause(*this, *FWhereExpr);
    }
    if (!HasParseError() && !AtEndToken()) SetError(CurrToken(), SorqDeleteStatementTerminateErr);
    return !HasParseError();
}

// --- UPDATE ----------------------------------------------------------------------------------

TOrqUpdateParser::TOrqUpdateParser()
    : FWhereExpr(std::make_unique<TOrqExpr>()),
      FRowConstructor(std::make_unique<TOrqUpdateRowConstructor>()) {}

TOrqUpdateParser::~TOrqUpdateParser() = default;

void TOrqUpdateParser::Clear() {
    TBaseParser::Clear();
    FWhereExpr->Clear();
    FRowConstructor->Clear();
    FTableName.clear();
    FHasWhereClause = false;
}

bool TOrqUpdateParser::Execute(const TOrqParserOptions& Options, TParserStack* Stack) {
    TBaseParser::Execute(Options, Stack);
    if (CurrentTokenType() == ostUpdate)
        NextToken();
    else
        SetError(CurrToken(), SorqUpdateStatmentSyntaxError);
    if (!HasParseError()) {
        if (AtEndToken()) {
            SetError(CurrToken(), SorqUpdateStatementTerminateErr);
        } else {
            FTableName = TokenName();
            if (FTables != nullptr) FTables->Add()->SetTableName(FTableName);
            if (FTableListValidateEvent && !FTableListValidateEvent(FTables))
                SetError(CurrToken(), SorqTableOrFieldNotFound);
            NextToken();
        }
    }
    if (!HasParseError()) {
        if (CurrentTokenType() == ostSet) {
            NextToken();
            ParseAssignments();
        } else {
            SetError(CurrToken(), SorqUpdateStatmentSyntaxError);
        }
    }
    if (!HasParseError() && CurrentTokenType() == ostWhere) {
        FHasWhereClause = true;
        HandOverWhereClause(*this, *FWhereExpr);
    }
    if (!HasParseError() && !AtEndToken()) SetError(CurrToken(), SorqUpdateStatementTerminateErr);
    return !HasParseError();
}

void TOrqUpdateParser::ParseAssignments() {
    // Values may read the target row's fields (checked against the field list when the
    // validate event loaded one) and may hold subqueries, which go to the driver.
    const TValueExprSetup setup{TOrqSQLTokens{ostWhere, ostComma, ostEnd},
                                TOrqParserOptions{opoExtSyntax, opoSQL, opoParameters, opoSubqueries},
                                FTables, HasFieldLists(FTables), &ParserNotifyEvent()};
    do {
        TOrqUpdateRowConstructorElement* element = FRowConstructor->Add();
        if (CurrentTokenType() == ostTableName) {
            if (!AnsiSameText(TokenName(), FTableName)) SetError(CurrToken(), SorqTableOrFieldNotFound);
            NextToken();
        }
        if (HasParseError()) break;
        if (CurrentTokenType() == ostFieldName) {
            element->SetTargetColumnName(TokenName());
            NextToken();
        } else {
            SetError(CurrToken(), SorqUpdateMissingColumnReference);
            break;
        }
        if (CurrentTokenType() == ostCompOperator && TokenName() == "=") {
            NextToken();
        } else {
            SetError(CurrToken(), SorqMissingAssignmentToken);
            break;
        }
        if (CurrentTokenType() == ostComma) {
            SetError(CurrToken(), SorqMissingColumnSpecifier);
            break;
        }
        element->SetHasParameter(CurrentTokenType() == ostParameter);
        const TOrqSQLToken next = PeekAtTokenType(0);
        Variant value;
        if ((next == ostUnknown || next == ostWhere || next == ostEnd || next == ostComma) &&
            ReadConstant(CurrToken(), value)) {
            element->SetData(value);
            NextToken();
        } else {
            FCurrToken = ParseValueExpression(*this, element->GetExpr(), setup);
        }
        if (CurrentTokenType() == ostComma) NextToken();
    } while (!HasParseError() && !AtEndToken() && CurrentTokenType() != ostWhere);
}

bool TOrqUpdateParser::ValidateAndSetDataTypes(const IOrqTableFields& TableFields) {
    for (int i = 0; i < FRowConstructor->Count(); ++i) {
        TOrqUpdateRowConstructorElement* element = FRowConstructor->GetItems(i);
        const int field = TableFields.IndexOfField(element->TargetColumnName());
        if (field >= 0) ConvertElementData(*element, TableFields.FieldType(field));
    }
    return true;
}

bool TOrqUpdateParser::ValidateValueColumns(const IOrqTableFields& TableFields) {
    for (int i = 0; i < FRowConstructor->Count(); ++i) {
        const std::string& name = FRowConstructor->GetItems(i)->TargetColumnName();
        if (TableFields.IndexOfField(name) < 0) SetError(nullptr, NotFoundText(name));
    }
    if (!HasParseError()) ValidateAndSetDataTypes(TableFields);
    return !HasParseError();
}

}  // namespace ostra
