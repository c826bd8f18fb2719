// The pre-parser's passes: token creation into one or more stacks, statement classification,
// custom ordinals, and the stack services parsers and the parser engine use (orqPreParser.h).
#include "engine/sql/orqPreParser.h"

#include <set>

#include "engine/sql/orqMappers.h"
#include "engine/sql/orqSQLScanner.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/StringList.h"

namespace ostra {

TOrqPreParser::~TOrqPreParser() {
    Clear();
    FreeOwnedTokens();
}

void TOrqPreParser::SetText(const std::string& S) {
    Clear();
    FText = S;
}

void TOrqPreParser::Clear() {
    FStacks.clear();
}

void TOrqPreParser::FreeOwnedTokens() {
    FOwnedTokens = std::make_shared<TParserTokenList>();
}

TParserStack* TOrqPreParser::OpenStack(TOrqSQLToken Section) {
    FStacks.push_back(std::make_unique<TParserStack>());
    FStacks.back()->SetSection(Section);
    return FStacks.back().get();
}

void TOrqPreParser::PreParseTokens() {
    Clear();
    TOrqTokenParser scanner;
    scanner.SetTokenString(FText);

    TParserStack* current = nullptr;
    if (FParseSingleStack)
        current = OpenStack(ostUnknown);
    else if (FParseAsExprOnly)
        current = OpenStack(ostWhere);

    for (;;) {
        std::string text;
        const TOrqSQLToken type = scanner.GetNextToken(text);
        const bool endOfText = type == ostEnd && text.empty();

        TOrqSQLToken section = ostUnknown;
        bool store = true;
        if (FParseSingleStack) {
            section = ostSelect;
            store = type != ostComment;
        } else if (FParseAsExprOnly) {
            section = ostWhere;
        } else if (IsSectionToken(type) && !(type == ostFrom && current && current->Section() == ostWhere)) {
            current = OpenStack(type);
            store = false;
        } else {
            store = current != nullptr;  // tokens before the first section are dropped
            if (current) section = current->Section();
        }

        if (store) {
            auto token = std::make_unique<TParserToken>();
            token->SetToken(type);
            token->SetSection(section);
            token->SetText(text);
            token->SetLineNo(scanner.LineNo());
            token->SetLineOffset(scanner.TokenStartOffset());
            token->SetRawTokenText(scanner.RawText());
            current->Queue(token.get());
            FOwnedTokens->push_back(std::move(token));
        }
        if (endOfText) break;
    }
    FUnparsedText = scanner.GetUnparsedText();

    FSQLStatementType = osSQLUnknown;
    if (FParseAsExprOnly) {
        FSQLStatementType = osSQLExprOnly;
    } else {
        const TParserToken* first = nullptr;
        for (const auto& stack : FStacks)
            if (stack->Count() > 0) {
                first = stack->Peek();
                break;
            }
        switch (first ? first->Token() : ostUnknown) {
            case ostSelect:
                FSQLStatementType = osSQLSelect;
                break;
            case ostInsert:
                FSQLStatementType = osSQLInsert;
                break;
            case ostDelete:
                FSQLStatementType = osSQLDelete;
                break;
            case ostUpdate:
                FSQLStatementType = osSQLUpdate;
                break;
            case ostCreate:
            case ostDrop:
            case ostAlter:
                FSQLStatementType = osSchemaManipulation;
                break;
            default:
                break;
        }
    }
    PostProcessTokens();
}

void TOrqPreParser::PostProcessTokens() {
    TAggFuncMapper aggFuncs;
    TDataTypeMapper dataTypes;
    TStrFuncMapper strFuncs;
    for (const auto& stack : FStacks)
        for (int i = 0; i < stack->Count(); ++i) {
            TParserToken* token = stack->PeekAt(i);
            switch (token->Token()) {
                case ostAggFunc:
                    token->SetCustomOrdinal(aggFuncs.GetCustomOrdinal(token->Text(), ""));
                    break;
                case ostDataType:
                    token->SetCustomOrdinal(dataTypes.GetCustomOrdinal(token->Text(), ""));
                    break;
                case ostStrFunc:
                    token->SetCustomOrdinal(strFuncs.GetCustomOrdinal(token->Text(), ""));
                    break;
                default:
                    break;
            }
        }
}

TParserStack* TOrqPreParser::GetSection(TOrqSQLToken Section, const TParserToken* CurrToken) {
    Assert(IsSectionToken(Section), "Invalid section request in GetSection");
    if (FParseSingleStack && FStacks.size() == 1) {
        TParserStack* stack = FStacks.front().get();
        if (stack->Count() > 0 && stack->Peek()->Token() != Section &&
            (CurrToken == nullptr || CurrToken->Token() != Section)) {
            while (stack->Count() > 0)
                if (stack->Pop()->Token() == Section) break;
        }
        return stack;
    }
    for (auto it = FStacks.rbegin(); it != FStacks.rend(); ++it)
        if ((*it)->Section() == Section) return it->get();
    return nullptr;
}

TParserStack* TOrqPreParser::GetSingleStack() const {
    Assert(FParseSingleStack, "Cannot get single stack - not parsed as single stack");
    return FStacks.empty() ? nullptr : FStacks.front().get();
}

int TOrqPreParser::GetSingleStackCount() const {
    return FParseSingleStack && FStacks.size() == 1 ? FStacks.front()->Count() : 0;
}

void TOrqPreParser::SetSingleStackCountTo(int N) {
    if (FParseSingleStack && FStacks.size() == 1) FStacks.front()->SetCountTo(N);
}

void TOrqPreParser::GetParamList(TStrings& List) const {
    std::set<std::string> seen;  // upper-cased names already listed
    for (const auto& stack : FStacks)
        for (int i = 0; i + 1 < stack->Count(); ++i) {
            if (stack->PeekAt(i)->Token() != ostParameter) continue;
            const std::string& name = stack->PeekAt(i + 1)->Text();
            // A ":" at the end of the text names nothing.
            if (!name.empty() && seen.insert(AnsiUpperCase(name)).second) List.Add(name);
        }
}

bool TOrqPreParser::CheckIncludeToken(const TParserToken& Token) {
    return Token.Token() != ostComment;
}

bool TOrqPreParser::CheckParseComplete() const {
    if (!FUnparsedText.empty()) return false;
    if (FStacks.empty()) return true;
    const TParserStack& stack = *FStacks.front();
    for (int i = 0; i < stack.Count(); ++i) {
        const TParserToken* token = stack.PeekAt(i);
        const bool endOfText = token->Token() == ostEnd && token->Text().empty();
        if (token->Token() != ostComment && !endOfText) return false;
    }
    return true;
}

void TOrqPreParser::AssignStacks(const TOrqPreParser& Source) {
    if (&Source == this) return;
    Clear();
    for (const auto& source : Source.FStacks) OpenStack(source->Section())->ShareStack(*source);
    // Hold every token list Source's stacks may refer to, each once: down a chain of nested
    // statements that is the one list of the outermost pre-parser.
    auto hold = [this](const std::shared_ptr<const TParserTokenList>& List) {
        if (List->empty()) return;
        for (const auto& held : FSharedTokens)
            if (held == List) return;
        FSharedTokens.push_back(List);
    };
    hold(Source.FOwnedTokens);
    for (const auto& list : Source.FSharedTokens) hold(list);
}

void TOrqPreParser::TrimStacks(const TOrqPreParser& Source) {
    Assert(FStacks.size() == Source.FStacks.size(), "Stack list counts do not match");
    for (std::size_t i = 0; i < FStacks.size(); ++i) FStacks[i]->SetCountTo(Source.FStacks[i]->Count());
}

}  // namespace ostra
