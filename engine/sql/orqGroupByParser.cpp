// The GROUP BY list parser (see orqGroupByParser.h).
#include "engine/sql/orqGroupByParser.h"

#include "engine/storage/orqConsts.h"

namespace ostra {

void TGroupByItem::Assign(const TPersistent* Source) {
    if (auto* src = dynamic_cast<const TGroupByItem*>(Source)) {
        FFieldName = src->FFieldName;
        FTableName = src->FTableName;
        FResultSetIndex = src->FResultSetIndex;
        return;
    }
    TCollectionItem::Assign(Source);
}

TOrqGroupByParser::TOrqGroupByParser() {
    SetEndTokens(TOrqSQLTokens{ostUnknown, ostHaving, ostUnion, ostOrderBy, ostEnd});
}

bool TOrqGroupByParser::ExecuteGroupBy(TGroupByItems& Items, TParserStack* Stack) {
    Items.Clear();
    if (Stack == nullptr) return true;
    TBaseParser::Execute(TOrqParserOptions{opoExtSyntax}, Stack);
    if (AtEndToken()) return true;

    do {
        TGroupByItem* item = Items.Add();
        if (CurrentTokenType() == ostTableName) {
            item->SetTableName(TokenName());
            NextToken();
        }
        if (CurrentTokenType() == ostFieldName) {
            item->SetFieldName(TokenName());
            NextToken();
        }
        if (item->FieldName().empty()) SetError(CurrToken(), SorqColumnNameErr);
        if (CurrentTokenType() == ostComma) {
            NextToken();
            if (CurrentTokenType() == ostComma) SetError(CurrToken(), SorqColumnNameMissingErr);
        }
    } while (!HasParseError() && !AtEndToken());
    return !HasParseError();
}

}  // namespace ostra
