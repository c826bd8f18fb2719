// The ORDER BY list parser (see orqOrderByParser.h).
#include "engine/sql/orqOrderByParser.h"

#include "engine/storage/orqConsts.h"

#include "host/SysUtils.h"

namespace ostra {

void TOrderByItem::Assign(const TPersistent* Source) {
    if (auto* src = dynamic_cast<const TOrderByItem*>(Source)) {
        FDescending = src->FDescending;
        FFieldIndex = src->FFieldIndex;
        FSortKey = src->FSortKey;
        return;
    }
    TCollectionItem::Assign(Source);
}

TOrderByItem* TOrderByItems::AddOrderByItem(int FieldIndex, const std::string& SortKey, bool Descending) {
    auto* item = static_cast<TOrderByItem*>(Add());
    item->SetFieldIndex(FieldIndex);
    item->SetSortKey(SortKey);
    item->SetDescending(Descending);
    return item;
}

TOrqOrderByParser::TOrqOrderByParser() {
    SetEndTokens(TOrqSQLTokens{ostUnknown, ostGroupBy, ostHaving, ostOrderBy, ostEnd});
}

bool TOrqOrderByParser::EndsItem(TOrqSQLToken Type) const {
    switch (Type) {
        case ostUnknown:
        case ostAscending:
        case ostDescending:
        case ostEnd:
        case ostComma:
            return true;
        case ostRParen:
            // Inside a subquery the list ends at the subquery's closing parenthesis.
            return IsSubquery();
        default:
            return false;
    }
}

bool TOrqOrderByParser::ExecuteOrderBy(TOrderByItems& Items, TParserStack* Stack) {
    Items.Clear();
    if (Stack == nullptr) return true;
    TBaseParser::Execute(TOrqParserOptions{opoExtSyntax}, Stack);
    if (AtEndToken()) return true;

    auto skipDirection = [this] {
        if (CurrentTokenType() == ostAscending || CurrentTokenType() == ostDescending) NextToken();
    };
    do {
        if (CurrentTokenType() == ostNumber) {
            // A column number is a whole number within the integer range.
            int fieldIndex = 0;
            if (!TryStrToInt(TokenName(), fieldIndex)) {
                const bool digits = TokenName().find_first_not_of("0123456789") == std::string::npos;
                SetError(CurrToken(), digits ? SorqOrderByColumnIndexOutOfRange : SorqInvalidToken);
                break;
            }
            NextToken();
            Items.AddOrderByItem(fieldIndex, std::string(), CurrentTokenType() == ostDescending);
            skipDirection();
        } else {
            // A one-token key keeps the token's text (quotes removed); a longer key is the
            // source text of all its tokens.
            std::string key = EndsItem(PeekAtTokenType(0)) ? TokenName() : CurrToken()->RawTokenText();
            NextToken();
            while (!EndsItem(CurrentTokenType())) {
                key += CurrToken()->RawTokenText();
                NextToken();
            }
            Items.AddOrderByItem(0, Trim(key), CurrentTokenType() == ostDescending);
            skipDirection();
        }
        if (CurrentTokenType() == ostComma) NextToken();
    } while (!HasParseError() && CurrToken() != nullptr && CurrentTokenType() != ostEnd && !AtEndToken());
    return !HasParseError();
}

}  // namespace ostra
