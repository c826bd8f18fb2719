// Stored tokens, the token stack and the parser base (see orqBaseParser.h).
#include "engine/sql/orqBaseParser.h"

#include "host/Collation.h"
#include "host/SysUtils.h"

namespace ostra {

// --- TParserToken ----------------------------------------------------------------------------

void TParserToken::AssignToken(const TParserToken& Source) {
    FText = Source.FText;
    FToken = Source.FToken;
    FSection = Source.FSection;
    FLineOffset = Source.FLineOffset;
    FLineNo = Source.FLineNo;
    FCustomOrdinal = Source.FCustomOrdinal;
    FRawTokenText = Source.FRawTokenText;
}

// --- TParserStack ----------------------------------------------------------------------------

TParserToken* TParserStack::Push(TParserToken* Token) {
    FPushed.push_back(Token);
    return Token;
}

TParserToken* TParserStack::Pop() {
    if (!FPushed.empty()) {
        TParserToken* top = FPushed.back();
        FPushed.pop_back();
        return top;
    }
    return FPos < FEnd ? (*FQueued)[FPos++] : nullptr;
}

TParserToken* TParserStack::Queue(TParserToken* Token) {
    // The list grows in place only while no other stack reads it and nothing lies past FEnd.
    if (!FQueued || FQueued.use_count() > 1 || FEnd != FQueued->size()) {
        auto own = std::make_shared<TTokenSequence>();
        if (FQueued) own->assign(FQueued->begin() + static_cast<std::ptrdiff_t>(FPos),
                                 FQueued->begin() + static_cast<std::ptrdiff_t>(FEnd));
        FQueued = std::move(own);
        FPos = 0;
        FEnd = FQueued->size();
    }
    FQueued->push_back(Token);
    ++FEnd;
    return Token;
}

void TParserStack::Clear() {
    FQueued.reset();
    FPos = FEnd = 0;
    FPushed.clear();
}

void TParserStack::SetCountTo(int N) {
    if (N < 0 || N >= Count()) return;
    auto n = static_cast<std::size_t>(N);
    const std::size_t queued = FEnd - FPos;
    if (n >= queued) {
        FPushed.resize(n - queued);
    } else {
        FPushed.clear();
        FPos = FEnd - n;
    }
}

void TParserStack::CopyStack(const TParserStack& Source, TParserTokenList& Owner) {
    if (&Source == this) return;
    Clear();
    for (int i = Source.Count() - 1; i >= 0; --i) {
        auto copy = std::make_unique<TParserToken>();
        copy->AssignToken(*Source.PeekAt(i));
        Push(copy.get());
        Owner.push_back(std::move(copy));
    }
}

void TParserStack::ShareStack(const TParserStack& Source) {
    if (&Source == this) return;
    FQueued = Source.FQueued;
    FPos = Source.FPos;
    FEnd = Source.FEnd;
    FPushed = Source.FPushed;
    FSection = Source.FSection;
}

// --- TBaseParser -----------------------------------------------------------------------------

void TBaseParser::Clear() {
    FStack = nullptr;
    FOptions = TOrqParserOptions();
    FCurrToken = nullptr;
    FErrorMsg.clear();
    FErrorToken = nullptr;
    FParsedText.clear();
    FNestingDepth = 0;
    FExprHeight = 0;
}

bool TBaseParser::Execute(const TOrqParserOptions& Options, TParserStack* Stack) {
    FOptions = Options;
    FStack = Stack;
    if (FCurrToken == nullptr || FCurrToken->Token() == ostUnknown) NextToken();
    return false;
}

void TBaseParser::NextToken() {
    if (FStack != nullptr && FStack->Count() > 0) {
        FCurrToken = FStack->Pop();
        FParsedText += FCurrToken->RawTokenText();
    } else {
        FCurrToken = nullptr;
    }
}

TOrqSQLToken TBaseParser::CurrentTokenType() const {
    return FCurrToken ? FCurrToken->Token() : ostUnknown;
}

TOrqSQLToken TBaseParser::PeekAtTokenType(int I) const {
    if (FStack == nullptr || I < 0 || I >= FStack->Count()) return ostUnknown;
    return FStack->PeekAt(I)->Token();
}

bool TBaseParser::NextTokenIsLParen() const {
    return PeekAtTokenType(0) == ostLParen;
}

bool TBaseParser::AtEndToken() const {
    if (FStack == nullptr || FStack->Count() == 0) return true;
    const TOrqSQLToken type = CurrentTokenType();
    return FEndTokens.Contains(type) || type == ostUnknown || type == ostEnd ||
           (FIsSubquery && type == ostRParen);
}

std::string TBaseParser::TokenName() const {
    return FCurrToken ? FCurrToken->Text() : std::string();
}

bool TBaseParser::TokenSymbolIs(const std::string& S) const {
    return FCurrToken != nullptr && AnsiSameText(FCurrToken->Text(), S);
}

void TBaseParser::SetError(const TParserToken* Token, const std::string& Msg) {
    if (!FErrorMsg.empty()) return;
    FErrorToken = Token;
    FErrorMsg = Msg;
}

void TBaseParser::ClearError() {
    FErrorMsg.clear();
    FErrorToken = nullptr;
}

std::string TBaseParser::GetErrorMsg() const {
    if (FErrorToken == nullptr || FErrorMsg.empty()) return FErrorMsg;
    return FErrorMsg + Format(" Line %d, Character %d. Token '%s'",
                              {FErrorToken->LineNo(), FErrorToken->LineOffset(), FErrorToken->Text()});
}

std::string TBaseParser::GetErrorMsgNoLine() const {
    if (FErrorToken == nullptr || FErrorMsg.empty()) return FErrorMsg;
    return FErrorMsg + Format(" Character %d. Token '%s'", {FErrorToken->LineOffset(), FErrorToken->Text()});
}

void TBaseParser::StartHelper(TBaseParser& Helper) const {
    Helper.SyncCurrToken(*this);
    Helper.SetNestingLevel(CurrentNestingLevel());
}

bool TBaseParser::EnterNesting() {
    ++FNestingDepth;
    if (CurrentNestingLevel() <= COrqMaxNestingLevel) return true;
    --FNestingDepth;
    SetError(FCurrToken, NestingTooDeepMsg());
    return false;
}

std::string TBaseParser::NestingTooDeepMsg() {
    return Format(SorqNestingTooDeepFmt, {COrqMaxNestingLevel});
}

void TBaseParser::SyncCurrToken(const TBaseParser& Other) {
    FCurrToken = Other.FCurrToken;
    if (FCurrToken != nullptr) FParsedText += " " + FCurrToken->Text();
}

void TBaseParser::RemoveCurrentTokenFromParsedText() {
    if (FParsedText.empty() || FCurrToken == nullptr) return;
    const std::size_t n = FCurrToken->RawTokenText().size();
    FParsedText.erase(n < FParsedText.size() ? FParsedText.size() - n : 0);
}

}  // namespace ostra
