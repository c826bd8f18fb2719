// The parser engine (see orqParserEngine.h).
#include "engine/sql/orqParserEngine.h"

#include <algorithm>
#include <array>

#include "engine/sql/orqExecParsers.h"
#include "engine/sql/orqExprParser.h"
#include "engine/sql/orqFromParser.h"
#include "engine/sql/orqGroupByParser.h"
#include "engine/sql/orqJoinPostProcessor.h"
#include "engine/sql/orqOrderByParser.h"
#include "engine/sql/orqPreParser.h"
#include "engine/sql/orqSchemaManipulationParser.h"
#include "engine/sql/orqSelectParser.h"
#include "engine/sql/orqTableList.h"
#include "engine/storage/orqConsts.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

const TOrqParserOptions kExtSyntax{opoExtSyntax};

// Of two pre-parsers over the same text, the one that has consumed more: the first when it
// holds fewer tokens, else the second.
TOrqPreParser& FurtherOf(TOrqPreParser& A, TOrqPreParser& B) {
    return A.GetSingleStackCount() < B.GetSingleStackCount() ? A : B;
}

}  // namespace

TOrqParserEngine::TOrqParserEngine()
    : FPreParser1(std::make_unique<TOrqPreParser>()),
      FPreParser2(std::make_unique<TOrqPreParser>()),
      FTableList(std::make_unique<TTableList>()),
      FFromParser(std::make_unique<TOrqFromParser>()),
      FWhereParser(std::make_unique<TOrqExprParser>()),
      FSelectParser(std::make_unique<TOrqSelectParser>()),
      FOrderByParser(std::make_unique<TOrqOrderByParser>()),
      FGroupByParser(std::make_unique<TOrqGroupByParser>()),
      FHavingParser(std::make_unique<TOrqExprParser>()),
      FOrderByItems(std::make_unique<TOrderByItems>()),
      FGroupByItems(std::make_unique<TGroupByItems>()),
      FInsertParser(std::make_unique<TOrqInsertParser>()),
      FDeleteParser(std::make_unique<TOrqDeleteParser>()),
      FUpdateParser(std::make_unique<TOrqUpdateParser>()),
      FSchemaParser(std::make_unique<TOrqSchemaManipulationParser>()) {
    // The parsers that can meet a subquery.
    auto callback = [this](TParserNotifyType NotifyType, TBaseParser* Parser, TParserStack* ParserStack,
                           TOrqExprNode* Node, Variant& NotifyData) {
        ParserCallback(NotifyType, Parser, ParserStack, Node, NotifyData);
    };
    FWhereParser->SetParserNotifyEvent(callback);
    FHavingParser->SetParserNotifyEvent(callback);
    FInsertParser->SetParserNotifyEvent(callback);
    FDeleteParser->SetParserNotifyEvent(callback);
    FUpdateParser->SetParserNotifyEvent(callback);
}

TOrqParserEngine::~TOrqParserEngine() = default;

void TOrqParserEngine::ClearParsers() {
    FFromParser->Clear();
    FWhereParser->Clear();
    // The conditions of the previous statement are read through the parsers' expressions.
    const TOrqExpr none;
    FWhereParser->CloneFromExpr(none, true, oeoAND);
    FHavingParser->CloneFromExpr(none, true, oeoAND);
    FSelectParser->Clear();
    FOrderByParser->Clear();
    FGroupByParser->Clear();
    FHavingParser->Clear();
    FInsertParser->Clear();
    FDeleteParser->Clear();
    FUpdateParser->Clear();
    FSchemaParser->Clear();
}

bool TOrqParserEngine::PreParseSQL(const std::string& Text) {
    FErrorMsg.clear();
    for (TOrqPreParser* pre : {FPreParser1.get(), FPreParser2.get()}) {
        pre->Clear();
        pre->SetText(Text);
        pre->SetParseAsExprOnly(false);
        pre->SetParseSingleStack(true);
        pre->PreParseTokens();
    }
    // Nothing of the previous statement may carry over: a parser that is not cleared resumes
    // at its old current token, and the WHERE and HAVING roots would still be read.
    ClearParsers();
    FTableList->Clear();
    FOrderByItems->Clear();
    FGroupByItems->Clear();
    FSubqueryClosed = false;
    FHasUnionStatement = false;
    FLastParser = nullptr;
    FUnionMemberHeight = 0;
    FNestedEngines.clear();
    return true;
}

std::array<TBaseParser*, 10> TOrqParserEngine::Parsers() const {
    return {FFromParser.get(),  FWhereParser.get(),  FSelectParser.get(), FOrderByParser.get(),
            FGroupByParser.get(), FHavingParser.get(), FInsertParser.get(), FDeleteParser.get(),
            FUpdateParser.get(), FSchemaParser.get()};
}

void TOrqParserEngine::SetNestingLevel(int Level) {
    FNestingLevel = Level;
    for (TBaseParser* parser : Parsers()) parser->SetNestingLevel(Level);
}

int TOrqParserEngine::ExprHeight() const {
    int height = FUnionMemberHeight;
    for (const TBaseParser* parser : Parsers()) height = std::max(height, parser->ExprHeight());
    return height;
}

TOrqSQLStatementType TOrqParserEngine::GetSQLStatementType() const {
    return FPreParser1->SQLStatementType();
}

void TOrqParserEngine::GetParamList(TStrings* Params) {
    Assert(Params != nullptr, SorqParamListNotAssigned);
    Params->Clear();
    FPreParser1->Clear();
    FPreParser1->SetParseSingleStack(true);
    FPreParser1->PreParseTokens();
    FPreParser1->GetParamList(*Params);
}

template <class TBody>
bool TOrqParserEngine::Guarded(TBaseParser& Parser, TBody Body) {
    try {
        return Body();
    } catch (const EAssertionFailed&) {
        throw;  // a programming error, not bad SQL
    } catch (const Exception& e) {
        if (FHandlerRaised) {
            FHandlerRaised = false;
            throw;
        }
        // An engine or conversion error raised while parsing: reported like a parse error,
        // at the token the parser had reached.
        const TParserToken* token = Parser.CurrToken();
        FErrorMsg = e.Message();
        if (token != nullptr)
            FErrorMsg += Format(" Line %d, Character %d. Token '%s'", {token->LineNo(), token->LineOffset(), token->Text()});
        FLastParser = &Parser;
        return false;
    }
}

// --- SELECT clauses --------------------------------------------------------------------------

bool TOrqParserEngine::ParseFromClause() {
    return Guarded(*FFromParser, [&] {
        FTableList->Clear();
        if (!FIsSubquery) FSelectParser->Clear();
        // Move the second stream past the select list (against no tables), then read the FROM
        // clause from it.
        FSelectParser->SetTableList(FTableList.get());
        FSelectParser->Execute(kExtSyntax, FPreParser2->GetSection(ostSelect, FSelectParser->CurrToken()));
        FFromParser->Clear();
        FFromParser->SetIsSubquery(FIsSubquery);
        const bool result =
            FFromParser->Execute(kExtSyntax, FPreParser2->GetSection(ostFrom, FSelectParser->CurrToken()));
        FSelectParser->Clear();
        FErrorMsg = FFromParser->GetErrorMsg();
        FLastParser = FFromParser.get();
        if (FIsSubquery && FFromParser->CurrentTokenType() == ostRParen) FSubqueryClosed = true;
        if (result) FTableList->Assign(FFromParser->TableList());
        return result;
    });
}

bool TOrqParserEngine::ParseSelectClause() {
    return Guarded(*FSelectParser, [&] {
        if (!FIsSubquery) FSelectParser->Clear();
        FSelectParser->SetTableList(FTableList.get());
        bool result;
        if (FIsSubquery) {
            // The outer parser consumed the subquery's SELECT: nothing is to be skipped.
            TParserToken select;
            select.SetToken(ostSelect);
            result = FSelectParser->Execute(kExtSyntax, FPreParser1->GetSection(ostSelect, &select));
        } else {
            result = FSelectParser->Execute(kExtSyntax, FPreParser1->GetSection(ostSelect, nullptr));
        }
        // Move the main stream past the FROM clause (read already from the second stream). This
        // run's reference tree is the one the plan reads.
        FFromParser->Clear();
        FFromParser->Execute(kExtSyntax, FPreParser1->GetSection(ostFrom, FSelectParser->CurrToken()));
        FErrorMsg = FSelectParser->GetErrorMsg();
        if (result && FFromParser->Root() != nullptr) {
            // USING and NATURAL joins get their conditions now that the tables carry their fields;
            // without them the join would be a cross product.
            TJoinPostProcessor joins;
            joins.SetTableList(FTableList.get());
            if (!joins.ProcessJoinTree(FFromParser->Root())) {
                FErrorMsg = joins.ErrorMsg();
                result = false;
            }
        }
        return result;
    });
}

bool TOrqParserEngine::ParseWhereClause() {
    return Guarded(*FWhereParser, [&] {
        if (FSubqueryClosed) return true;
        bool result = true;
        if (FFromParser->CurrentTokenType() != ostWhere) {
            FWhereParser->SyncCurrToken(*FFromParser);
        } else {
            FWhereParser->SetValidateFields(true);
            FWhereParser->SetIsSubquery(FIsSubquery);
            FWhereParser->Clear();
            FWhereParser->SetTableList(FTableList.get());
            FWhereParser->SetValidEndTokens(TOrqSQLTokens{ostGroupBy, ostHaving, ostUnion, ostOrderBy, ostEnd});
            result = FWhereParser->Execute(TOrqParserOptions{opoExtSyntax, opoParameters, opoSubqueries},
                                           FPreParser1->GetSection(ostWhere, FFromParser->CurrToken()));
            if (result) result = CheckFieldsUnambiguous(*FWhereParser->Expr(), FTableList.get(), *FWhereParser);
            FLastParser = FWhereParser.get();
            if (FIsSubquery && FWhereParser->CurrentTokenType() == ostRParen) FSubqueryClosed = true;
            if (result) FFromParser->SyncCurrToken(*FWhereParser);
        }
        FErrorMsg = FWhereParser->GetErrorMsg();
        return result;
    });
}

bool TOrqParserEngine::ParseGroupByClause() {
    return Guarded(*FGroupByParser, [&] {
        FGroupByParser->Clear();
        FGroupByItems->Clear();
        if (FSubqueryClosed || FWhereParser->CurrentTokenType() != ostGroupBy) {
            FErrorMsg = FGroupByParser->GetErrorMsg();
            return true;
        }
        FGroupByParser->SetIsSubquery(FIsSubquery);
        const bool result = FGroupByParser->ExecuteGroupBy(
            *FGroupByItems, FPreParser1->GetSection(ostGroupBy, FWhereParser->CurrToken()));
        FWhereParser->SyncCurrToken(*FGroupByParser);
        FFromParser->SyncCurrToken(*FGroupByParser);
        FLastParser = FGroupByParser.get();
        FErrorMsg = FGroupByParser->GetErrorMsg();
        return result;
    });
}

bool TOrqParserEngine::ParseHavingClause() {
    return Guarded(*FHavingParser, [&] {
        FHavingParser->Clear();
        if (FSubqueryClosed || FWhereParser->CurrentTokenType() != ostHaving) return true;
        if (FGroupByItems->Count() == 0) {
            FErrorMsg = SorqNoGroupByClause;
            return false;
        }
        // Parsed without tables: its names refer to result columns (see the select analyser).
        FHavingParser->SetIsSubquery(FIsSubquery);
        FHavingParser->SetValidEndTokens(TOrqSQLTokens{ostOrderBy, ostUnion, ostEnd});
        const bool result =
            FHavingParser->Execute(TOrqParserOptions{opoExtSyntax, opoExtractAggFuncExprText, opoSubqueries},
                                   FPreParser1->GetSection(ostHaving, FWhereParser->CurrToken()));
        FWhereParser->SyncCurrToken(*FHavingParser);
        FFromParser->SyncCurrToken(*FHavingParser);
        FErrorMsg = FHavingParser->GetErrorMsg();
        FLastParser = FHavingParser.get();
        if (result && FHavingParser->RootNode() != nullptr)
            FHavingParser->Expr()->SetAsFirstNode(FHavingParser->RootNode());
        return result;
    });
}

bool TOrqParserEngine::ParseOrderByClause() {
    return Guarded(*FOrderByParser, [&] {
        FOrderByParser->Clear();
        FOrderByItems->Clear();
        if (FSubqueryClosed || FWhereParser->CurrentTokenType() != ostOrderBy) {
            FErrorMsg = FOrderByParser->GetErrorMsg();
            return true;
        }
        FOrderByParser->SetIsSubquery(FIsSubquery);
        const bool result = FOrderByParser->ExecuteOrderBy(
            *FOrderByItems, FPreParser1->GetSection(ostOrderBy, FWhereParser->CurrToken()));
        FWhereParser->SyncCurrToken(*FOrderByParser);
        FLastParser = FOrderByParser.get();
        FErrorMsg = FOrderByParser->GetErrorMsg();
        return result;
    });
}

// --- Other statements ------------------------------------------------------------------------

bool TOrqParserEngine::ParseInsertStatement() {
    return Guarded(*FInsertParser, [&] {
        FInsertParser->Clear();
        const bool result =
            FInsertParser->Execute(TOrqParserOptions(), FPreParser1->GetSection(ostInsert, nullptr));
        FErrorMsg = FInsertParser->GetErrorMsg();
        if (result) FTableList->Add()->SetTableName(FInsertParser->TableName());
        FLastParser = FInsertParser.get();
        return result;
    });
}

bool TOrqParserEngine::ParseDeleteStatement() {
    return Guarded(*FDeleteParser, [&] {
        FDeleteParser->Clear();
        FDeleteParser->SetTables(FTableList.get());
        const bool result =
            FDeleteParser->Execute(TOrqParserOptions(), FPreParser1->GetSection(ostDelete, nullptr));
        FErrorMsg = FDeleteParser->GetErrorMsg();
        FLastParser = FDeleteParser.get();
        return result;
    });
}

bool TOrqParserEngine::ParseUpdateStatement() {
    return Guarded(*FUpdateParser, [&] {
        FUpdateParser->Clear();
        FUpdateParser->SetTables(FTableList.get());
        const bool result =
            FUpdateParser->Execute(TOrqParserOptions(), FPreParser1->GetSection(ostUpdate, nullptr));
        FErrorMsg = FUpdateParser->GetErrorMsg();
        return result && FErrorMsg.empty();
    });
}

bool TOrqParserEngine::ParseSchemaManipulationStatement() {
    return Guarded(*FSchemaParser, [&] {
        FSchemaParser->Clear();
        const bool result = FSchemaParser->Execute(TOrqParserOptions(), FPreParser1->GetSingleStack());
        FErrorMsg = FSchemaParser->GetErrorMsg();
        if (result) {
            TTableNameItem* item = FTableList->Add();
            item->SetTableName(FSchemaParser->TableName());
            item->SetMemorySpecified(FSchemaParser->TemporaryTable());
            item->SetMemory(item->MemorySpecified());
        }
        return result;
    });
}

// --- End of statement, UNION -----------------------------------------------------------------

bool TOrqParserEngine::CheckForUnionStatement(bool CheckOnly, bool& UnionAll) {
    bool result = FFromParser->CurrentTokenType() == ostUnion;
    if (CheckOnly || !result) return result;
    FHasUnionStatement = true;
    TParserStack* stack = FPreParser1->GetSingleStack();
    result = stack != nullptr && stack->Count() > 0;
    if (result) {
        UnionAll = stack->Peek()->Token() == ostAll;
        if (UnionAll) stack->Pop();
        result = stack->Count() > 0 && stack->Peek()->Token() == ostSelect;
        if (!result) FErrorMsg = SorqUnionStatementIncorrectlyTerminated;
    }
    return result;
}

bool TOrqParserEngine::CheckNoTokensRemain() const {
    return FPreParser1->CheckParseComplete();
}

bool TOrqParserEngine::CheckParseDone() const {
    const TParserStack* stack = FPreParser1->GetSingleStack();
    return stack == nullptr || stack->Count() == 0 || FWhereParser->CurrentTokenType() == ostEnd;
}

std::string TOrqParserEngine::GetCurrentPreParserTokenAsErrorFmt() const {
    const TParserStack* stack = FPreParser1->GetSingleStack();
    if (stack == nullptr || stack->Count() == 0) return std::string();
    const TParserToken* token = stack->Peek();
    return Format(" Line %d, Character %d. Token '%s'",
                  {token->LineNo(), token->LineOffset(), token->Text()});
}

// --- Nested statements -----------------------------------------------------------------------

void TOrqParserEngine::ParserCallback(TParserNotifyType NotifyType, TBaseParser* Parser,
                                      TParserStack* /*ParserStack*/, TOrqExprNode* Node,
                                      Variant& NotifyData) {
    switch (NotifyType) {
        case pntSubquery:
        case pntSelectUnion: {
            // A UNION member follows the statement before it at the same level.
            const int level = NotifyType == pntSubquery
                                  ? Parser->CurrentNestingLevel() + COrqSubqueryNestingWeight
                                  : FNestingLevel;
            if (level > COrqMaxNestingLevel) {
                Parser->SetError(Parser->CurrToken(), Format(SorqNestingTooDeepFmt, {COrqMaxNestingLevel}));
                break;
            }
            FNestedEngines.push_back(std::make_unique<TOrqParserEngine>());
            TOrqParserEngine* nested = FNestedEngines.back().get();
            nested->SetNestingLevel(level);
            TOrqPreParser& outer = FurtherOf(*FPreParser1, *FPreParser2);
            for (TOrqPreParser* pre : {nested->FPreParser1.get(), nested->FPreParser2.get()}) {
                pre->SetSQLStatementType(osSQLSelect);
                pre->SetParseSingleStack(true);
                pre->AssignStacks(outer);
            }
            nested->FSelectParser->SyncCurrToken(*Parser);
            nested->FFromParser->SyncCurrToken(*Parser);

            if (FParserEngineNotifyEvent) {
                try {
                    FParserEngineNotifyEvent(NotifyType, nested, Node, NotifyData);
                } catch (...) {
                    FHandlerRaised = true;  // the owner's own exception: Guarded lets it pass
                    throw;
                }
            }

            if (nested->FErrorMsg.empty()) {
                if (NotifyType == pntSubquery)
                    NotifyData = Variant(nested->ExprHeight());
                else
                    FUnionMemberHeight = std::max(FUnionMemberHeight, nested->ExprHeight());
                // Skip on the outer streams what the nested statement consumed.
                TOrqPreParser& inner = FurtherOf(*nested->FPreParser1, *nested->FPreParser2);
                FPreParser1->TrimStacks(inner);
                FPreParser2->TrimStacks(inner);
                if (TBaseParser* last = nested->FLastParser) {
                    Parser->SyncCurrToken(*last);
                    // After a UNION member the clauses that follow (ORDER BY) are looked for
                    // behind it.
                    if (NotifyType == pntSelectUnion) FWhereParser->SyncCurrToken(*last);
                }
            } else {
                // The nested text already ends with its own position.
                Parser->SetError(nullptr, nested->FErrorMsg);
            }
            break;
        }
        case pntFindTableRef:
            if (FParserEngineNotifyEvent)
                FParserEngineNotifyEvent(pntFindTableRef, nullptr, Node, NotifyData);
            break;
        default:
            Parser->SetError(Parser->CurrToken(), SorqInvalidToken);
            break;
    }
}

std::unique_ptr<TOrqParserEngine> TOrqParserEngine::ReleaseNestedEngine(TOrqParserEngine* Engine) {
    auto it =
        std::find_if(FNestedEngines.begin(), FNestedEngines.end(),
                     [Engine](const std::unique_ptr<TOrqParserEngine>& e) { return e.get() == Engine; });
    if (it == FNestedEngines.end()) return nullptr;
    std::unique_ptr<TOrqParserEngine> released = std::move(*it);
    FNestedEngines.erase(it);
    return released;
}

}  // namespace ostra
