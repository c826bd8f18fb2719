// The column data type parser (see orqDataTypeParser.h).
#include "engine/sql/orqDataTypeParser.h"

#include "engine/storage/orqConsts.h"
#include "host/SysUtils.h"

namespace ostra {

bool TOrqDataTypeParser::Execute(const TOrqParserOptions& Options, TParserStack* Stack) {
    FInvalidDataTypes = TOrqSQLTokens{ostAutoInc};
    if (Stack != nullptr) TBaseParser::Execute(TOrqParserOptions{opoExtSyntax}, Stack);
    return false;
}

bool TOrqDataTypeParser::IsSpecifiedType(TFieldType T) {
    switch (T) {
        case ftString:
        case ftFloat:
        case ftTime:
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
        case ftTimeStamp:
            return true;
        default:
            return false;
    }
}

bool TOrqDataTypeParser::TypeIncludesScale(TFieldType T) {
    switch (T) {
        case ftFloat:
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
            return true;
        default:
            return false;
    }
}

void TOrqDataTypeParser::SetDefaultsForDataType(TFieldType T) {
    FScale = 0;
    FFieldSize = T == ftString ? 1 : 0;
}

bool TOrqDataTypeParser::CurrentNumber(int& Value) const {
    return CurrentTokenType() == ostNumber && TryStrToInt(TokenName(), Value);
}

bool TOrqDataTypeParser::ParseDataType() {
    FScale = -1;
    FFieldSize = 0;
    FNotNull = false;

    const TParserToken* typeToken = CurrToken();
    switch (CurrentTokenType()) {
        case ostChar:
        case ostVarChar:
            FDataType = ftString;
            break;
        case ostInt:
            FDataType = ftInteger;
            break;
        case ostSmallInt:
            FDataType = ftSmallint;
            break;
        case ostDate:
            FDataType = ftDate;
            break;
        case ostTime:
            FDataType = ftTime;
            break;
        case ostTimeStamp:
            FDataType = ftDateTime;
            break;
        case ostDecimal:
        case ostNumeric:
            FDataType = ftFloat;
            break;
        case ostBoolean:
            FDataType = ftBoolean;
            break;
        case ostMoney:
            FDataType = ftCurrency;
            break;
        case ostBlob:
            FDataType = ftBlob;
            break;
        case ostAutoInc:
            FDataType = ftAutoInc;
            break;
        default:
            SetError(typeToken, SorqDataTypeUnknown);
            break;
    }
    if (FInvalidDataTypes.Contains(CurrentTokenType())) SetError(typeToken, SorqDataTypeInvalid);
    if (HasParseError()) return false;

    SetDefaultsForDataType(FDataType);
    NextToken();

    if (IsSpecifiedType(FDataType)) {
        const bool paren = CurrentTokenType() == ostLParen;
        if (paren) NextToken();
        int number;
        if (CurrentNumber(number)) {
            if (number < 0) SetError(CurrToken(), SorqDataTypeSpecErr);
            FFieldSize = number;
            NextToken();
            if (!HasParseError() && TypeIncludesScale(FDataType) && CurrentTokenType() == ostComma) {
                NextToken();
                if (CurrentNumber(number) && number >= 0) {
                    FScale = number;
                    NextToken();
                } else {
                    SetError(CurrToken(), SorqDataypeScaleErr);
                }
                if (!HasParseError() && FDataType == ftBlob) {
                    if (FScale == 1)
                        FDataType = ftMemo;
                    else if (FScale == 3)
                        FDataType = ftFmtMemo;
                    else if (FScale == 5)
                        FDataType = ftGraphic;
                }
            }
        } else if (paren) {
            SetError(CurrToken(), SorqDataTypeSpecErr);
        }
        if (paren && !HasParseError()) {
            if (CurrentTokenType() == ostRParen)
                NextToken();
            else
                SetError(CurrToken(), SorqRParenMissing);
        }
    }

    if (!HasParseError() && FAllowConstraints && CurrentTokenType() == ostNot) {
        NextToken();
        if (CurrentTokenType() == ostNull) {
            FNotNull = true;
            NextToken();
        } else {
            SetError(CurrToken(), SorqInvalidToken);
        }
    }
    return !HasParseError();
}

}  // namespace ostra
