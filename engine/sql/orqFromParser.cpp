// The FROM clause parser and its reference tree (see orqFromParser.h).
#include "engine/sql/orqFromParser.h"

#include <algorithm>

#include "engine/sql/orqExprParser.h"
#include "engine/storage/orqConsts.h"
#include "host/Exceptions.h"
#include "host/Collation.h"
#include "host/SysUtils.h"

namespace ostra {

const char* const COrqTableRefTypeNames[9] = {"jtUnknown",       "jtCrossJoin",     "jtUnionJoin",
                                              "jtInnerJoin",     "jtLeftOuterJoin", "jtRightOuterJoin",
                                              "jtFullOuterJoin", "trSubQuery",      "trTableName"};

// --- TOrqTableRefNode ------------------------------------------------------------------------

TOrqTableRefNode::TOrqTableRefNode() : FExpr(std::make_unique<TOrqExpr>()) {}

TOrqTableRefNode::~TOrqTableRefNode() = default;

bool TOrqTableRefNode::IsNamed(const std::string& Qualifier) const {
    return AnsiSameText(FText, Qualifier) || AnsiSameText(FCorrelationName, Qualifier);
}

TParserToken* TOrqTableRefNode::NewQualifierToken(const std::string& Qualifier) {
    auto token = std::make_unique<TParserToken>();
    token->SetToken(ostTableName);
    token->SetText(Qualifier);
    token->SetRawTokenText(Qualifier);
    FQualifierTokens.push_back(std::move(token));
    return FQualifierTokens.back().get();
}

void TOrqTableRefNode::Display(const std::string& Prefix, TStrings& Strings) const {
    Strings.Add(Prefix + COrqTableRefTypeNames[FJoinType] + " : text - " + FText);
    FExpr->Display(Strings);
}

void TOrqTableRefNode::DisplayTree(const std::string& Prefix, TStrings& Strings) const {
    if (FLeft != nullptr) FLeft->DisplayTree(Prefix + "  ", Strings);
    Display(Prefix, Strings);
    if (FRight != nullptr) FRight->DisplayTree(Prefix + "  ", Strings);
}

// --- TOrqFromParser: lifecycle ---------------------------------------------------------------

TOrqFromParser::TOrqFromParser() {
    SetEndTokens(TOrqSQLTokens{ostWhere, ostGroupBy, ostHaving, ostUnion, ostOrderBy, ostEnd});
}

TOrqFromParser::~TOrqFromParser() = default;

void TOrqFromParser::Clear() {
    TBaseParser::Clear();
    FNodes.clear();
    FJoinNodes = 0;
    FRoot = nullptr;
    // The table list belongs to one parse: a list kept across runs would hand the tables of
    // earlier statements to the next one.
    FTableList.Clear();
}

bool TOrqFromParser::Execute(const TOrqParserOptions& Options, TParserStack* Stack) {
    FTableList.Clear();
    FRoot = nullptr;
    FJoinNodes = 0;
    TBaseParser::Execute(Options, Stack);
    ParseFromClause();
    return !HasParseError();
}

TOrqTableRefNode* TOrqFromParser::NewTableRefNode(TOrqTableRefType JoinType) {
    FNodes.push_back(std::make_unique<TOrqTableRefNode>());
    TOrqTableRefNode* node = FNodes.back().get();
    node->SetJoinType(JoinType);
    node->SetNext(FRoot);
    if (IsJoinTableRef(JoinType) && NestingLevel() + ++FJoinNodes + 1 > COrqMaxNestingLevel)
        SetError(CurrToken(), NestingTooDeepMsg());
    return node;
}

int TOrqFromParser::GetExprCount() const {
    int count = 0;
    for (const auto& node : FNodes)
        if (IsJoinTableRef(node->JoinType()) && node->Expr().FirstNode() != nullptr) ++count;
    return count;
}

void TOrqFromParser::DebugDisplay(TStrings& Strings) const {
    Strings.Add("StartTables");
    for (int i = 0; i < FTableList.Count(); ++i) {
        const TTableNameItem* item = FTableList.Items(i);
        Strings.Add(Format("tbl %s   corr  %s", {item->TableName(), item->CorrelationName()}));
    }
    Strings.Add("EndTables");
    Strings.Add("StartJoins");
    for (const auto& node : FNodes)
        Strings.Add(Format("join %s   inner  %s outer %s", {COrqTableRefTypeNames[node->JoinType()],
                                                            node->InnerTable(), node->OuterTable()}));
    Strings.Add("EndJoins");
    Strings.Add("StartTree");
    if (FRoot != nullptr) FRoot->DisplayTree("", Strings);
    Strings.Add("EndTree");
}

// --- TOrqFromParser: grammar -----------------------------------------------------------------

bool TOrqFromParser::IsJoinKeyword(TOrqSQLToken T) const {
    switch (T) {
        case ostUnion:
        case ostJoin:
        case ostInner:
        case ostOuter:
        case ostLeft:
        case ostRight:
        case ostCross:
        case ostNatural:
        case ostFull:
            return true;
        default:
            return false;
    }
}

bool TOrqFromParser::AtJoin() const {
    const TOrqSQLToken type = CurrentTokenType();
    // UNION without JOIN starts the next SELECT of a union.
    if (type == ostUnion) return PeekAtTokenType(0) == ostJoin;
    if (type == ostLParen) return IsJoinKeyword(PeekAtTokenType(1));
    return IsJoinKeyword(type);
}

void TOrqFromParser::SetErrorAtNextToken(const char* Msg) {
    const TParserToken* current = CurrToken();
    NextToken();
    SetError(CurrToken() != nullptr ? CurrToken() : current, Msg);
}

void TOrqFromParser::ParseFromClause() {
    if (CurrentTokenType() == ostFrom) NextToken();

    // The references that are joins, in order; several are tied together below.
    std::vector<TOrqTableRefNode*> joinGroups;
    while (!HasParseError() && !AtEndToken()) {
        const TParserToken* before = CurrToken();
        const int countBefore = Stack() != nullptr ? Stack()->Count() : 0;
        TOrqTableRefNode* ref = ParseFrom0();
        if (ref != nullptr && IsJoinTableRef(ref->JoinType())) joinGroups.push_back(ref);
        if (CurrentTokenType() == ostComma) NextToken();
        // Every reference consumes tokens or fails; never loop on the same token.
        if (!HasParseError() && CurrToken() == before && Stack() != nullptr &&
            Stack()->Count() == countBefore)
            SetError(CurrToken(), SorqInvalidToken);
    }

    // A SELECT reads from at least one table: without one there is nothing to plan.
    if (!HasParseError() && FTableList.Count() == 0) SetError(CurrToken(), SorqMissingTableReference);

    // "a JOIN b ON x, c JOIN d ON y": the comma is a cross product of the two joins. Root must
    // hold both, or the first join and its condition would be lost from the plan.
    if (!HasParseError() && joinGroups.size() > 1) {
        TOrqTableRefNode* tree = joinGroups[0];
        for (std::size_t i = 1; i < joinGroups.size(); ++i) {
            TOrqTableRefNode* node = NewTableRefNode(trCrossJoin);
            node->SetLeft(tree);
            node->SetRight(joinGroups[i]);
            tree = node;
        }
        FRoot = tree;
    }
}

TOrqTableRefNode* TOrqFromParser::ParseFrom0() {
    return ParseFrom1();
}

TOrqTableRefNode* TOrqFromParser::ParseFrom1() {
    TOrqTableRefNode* L = ParseFrom2(false);
    while (!HasParseError() && AtJoin()) {
        if (CurrentTokenType() == ostCross) {
            NextToken();
            if (CurrentTokenType() != ostJoin) {
                SetErrorAtNextToken(SorqInvalidJoinSyntax);
                return L;
            }
            TOrqTableRefNode* node = NewTableRefNode(trCrossJoin);
            node->SetLeft(L);
            NextToken();
            node->SetRight(ParseFrom2(true));
            FRoot = node;
            L = node;
            continue;
        }

        const bool natural = CurrentTokenType() == ostNatural;
        if (natural) NextToken();
        TOrqTableRefType joinType = trInnerJoin;
        switch (CurrentTokenType()) {
            case ostUnion:
                joinType = trUnionJoin;
                break;
            case ostLeft:
            case ostRight:
            case ostFull:
                joinType = CurrentTokenType() == ostLeft    ? trLeftOuterJoin
                           : CurrentTokenType() == ostRight ? trRightOuterJoin
                                                            : trFullOuterJoin;
                NextToken();
                if (CurrentTokenType() == ostOuter) NextToken();
                break;
            default:
                break;
        }
        // INNER, UNION or a lone OUTER stands before JOIN.
        if (CurrentTokenType() != ostJoin) {
            NextToken();
            if (CurrentTokenType() != ostJoin) {
                SetErrorAtNextToken(SorqInvalidJoinSyntax);
                return L;
            }
        }

        TOrqTableRefNode* node = NewTableRefNode(joinType);
        node->SetLeft(L);
        node->SetIsNaturalJoin(natural);
        L = node;
        NextToken();
        node->SetRight(ParseFrom2(true));
        FRoot = node;
        if (HasParseError()) return L;

        if (CurrentTokenType() == ostOn) {
            NextToken();
            DoParseExpr(node);
            if (!HasParseError()) CheckJoinConditionScope(node);
            if (HasParseError()) return L;
        } else if (CurrentTokenType() == ostUsing) {
            ParseUsingColumns(node);
            if (HasParseError()) return L;
        } else if (!natural && joinType != trUnionJoin) {
            // Without a condition the join would silently be a cross product.
            SetError(CurrToken(), SorqJoinConditionMissing);
            return L;
        }
    }
    return L;
}

TOrqTableRefNode* TOrqFromParser::ParseFrom2(bool JoinOperand) {
    (void)JoinOperand;
    // A derived table: SELECT, or "(" (possibly several) before SELECT.
    int i = 0;
    if (CurrentTokenType() == ostLParen)
        while (PeekAtTokenType(i) == ostLParen) ++i;
    if (CurrentTokenType() == ostSelect ||
        (CurrentTokenType() == ostLParen && PeekAtTokenType(i) == ostSelect)) {
        // Nothing of the subquery is consumed, so the clause cannot go on past it.
        SetError(CurrToken(), SorqDerivedTableNotSupported);
        return NewTableRefNode(trSubQuery);
    }
    return ParseFrom3();
}

TOrqTableRefNode* TOrqFromParser::ParseFrom3() {
    if (CurrentTokenType() == ostLParen) {
        const TNestingScope level(*this);
        if (!level.Entered()) return nullptr;
        NextToken();
        TOrqTableRefNode* L = ParseFrom1();
        if (HasParseError()) return L;
        if (CurrentTokenType() != ostRParen) {
            SetError(CurrToken(), SorqTableRefRParenMissing);
            return L;
        }
        NextToken();
        return L;
    }

    bool temporary = false;
    if (CurrentTokenType() == ostTemporary) {
        temporary = true;
        NextToken();
    }
    if (CurrentTokenType() != ostFieldName && CurrentTokenType() != ostValue) {
        SetError(CurrToken(), SorqMissingTableReference);
        return nullptr;
    }
    TOrqTableRefNode* node = NewTableRefNode(trTableName);
    TTableNameItem* item = FTableList.Add();
    item->SetTableName(TokenName());
    item->SetMemorySpecified(temporary);
    node->SetText(TokenName());
    NextToken();
    if (CurrentTokenType() == ostAS) NextToken();
    if (CurrentTokenType() == ostFieldName) {
        item->SetCorrelationName(TokenName());
        node->SetCorrelationName(TokenName());
        NextToken();
    }
    return node;
}

void TOrqFromParser::DoParseExpr(TOrqTableRefNode* Node) {
    TOrqExprParser parser;
    // ")" closes a parenthesised join or the subquery whose FROM clause this is.
    parser.SetValidEndTokens(TOrqSQLTokens{ostWhere, ostGroupBy, ostHaving, ostUnion, ostOrderBy, ostEnd,
                                           ostComma, ostJoin, ostInner, ostOuter, ostLeft, ostRight, ostCross,
                                           ostNatural, ostFull, ostRParen});
    StartHelper(parser);
    if (!parser.ExecuteExternalExpr(&Node->Expr(), TOrqParserOptions{opoExtSyntax}, Stack()))
        SetError(parser.ErrorToken(), parser.ErrorMsg());
    NoteExprHeight(parser.ExprHeight());
    SyncCurrToken(parser);
    if (!HasParseError() && Node->Expr().FirstNode() == nullptr)
        SetError(CurrToken(), SorqJoinConditionMissing);
}

void TOrqFromParser::CheckJoinConditionScope(TOrqTableRefNode* Node) {
    std::vector<const TOrqTableRefNode*> tables;
    std::vector<const TOrqTableRefNode*> pending{Node->Left(), Node->Right()};
    while (!pending.empty()) {
        const TOrqTableRefNode* n = pending.back();
        pending.pop_back();
        if (n == nullptr) continue;
        if (n->JoinType() == trTableName) tables.push_back(n);
        pending.push_back(n->Left());
        pending.push_back(n->Right());
    }
    for (TOrqExprNode* f = Node->Expr().FirstNode(); f != nullptr; f = f->Next()) {
        if (f->Kind() != enkField || f->TokenArgs().empty() || f->TokenArgs()[0] == nullptr) continue;
        const std::string& qualifier = f->TokenArgs()[0]->Text();
        const bool known = std::any_of(tables.begin(), tables.end(), [&](const TOrqTableRefNode* t) {
            return t->IsNamed(qualifier);
        });
        if (!known) {
            SetError(f->TokenArgs()[0], SorqJoinTableOutOfScope);
            return;
        }
    }
}

void TOrqFromParser::ParseUsingColumns(TOrqTableRefNode* Node) {
    NextToken();  // USING
    if (CurrentTokenType() != ostLParen) {
        SetError(CurrToken(), SorqUsingMissingLParen);
        return;
    }
    auto atEnd = [this] { return CurrToken() == nullptr || CurrentTokenType() == ostEnd; };
    do {
        NextToken();  // "(" or ","
        if (atEnd()) break;
        if (CurrentTokenType() == ostComma || CurrentTokenType() == ostRParen) {
            SetError(CurrToken(), SorqUsingInvalidColumnList);
            return;
        }
        Node->UsingColumnList().Add(TokenName());
        NextToken();
        if (!atEnd() && CurrentTokenType() != ostComma && CurrentTokenType() != ostRParen)
            SetError(CurrToken(), SorqUsingInvalidColumnList);
    } while (!HasParseError() && CurrentTokenType() == ostComma);
    if (HasParseError()) return;
    if (CurrentTokenType() != ostRParen) {
        SetError(CurrToken(), SorqUsingMissingRParen);
        return;
    }
    NextToken();
}

}  // namespace ostra
