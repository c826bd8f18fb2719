// A stand-in for the query layer's driver of the parser engine, for tests of whole statements:
// it calls the engine in its calling order, checks the statement's tables against a fixture of
// table field lists and loads them, runs the select analyser, and answers the engine's
// notifications the way the query layer does: a subquery or UNION member becomes a nested
// query that takes over its nested engine and parses with it, and a name of an enclosing
// query's table is resolved through the parent queries.
#pragma once
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqExecParsers.h"
#include "engine/sql/orqExprParser.h"
#include "engine/sql/orqFromParser.h"
#include "engine/sql/orqGroupByParser.h"
#include "engine/sql/orqOrderByParser.h"
#include "engine/sql/orqParserEngine.h"
#include "engine/sql/orqSelectAnalyser.h"
#include "engine/sql/orqSelectParser.h"
#include "engine/sql/tests/support/TestTableFields.h"
#include "host/Collation.h"
#include "host/StringList.h"

namespace ostra::test {

using TTableFixture = std::map<std::string, std::vector<TestField>>;

class TTestQuery {
public:
    TTestQuery(const TTableFixture& Tables, TTestQuery* Parent = nullptr)
        : Engine(std::make_unique<TOrqParserEngine>()), FTables(Tables), FParent(Parent) {
        Attach();
    }

    // Parses and checks Text; each query keeps its own errors. True when none arose here or in
    // a nested query.
    bool Validate(const std::string& Text) {
        Errors.clear();
        Nested.clear();
        Engine->PreParseSQL(Text);
        bool ok = false;
        switch (Engine->GetSQLStatementType()) {
            case osSQLSelect:
                ok = ParseSelect();
                break;
            case osSQLInsert:
                ok = ParseInsert();
                break;
            case osSQLDelete:
                ok = Check(Engine->ParseDeleteStatement(), Engine->ErrorMsg()) && LoadTables();
                break;
            case osSQLUpdate:
                ok = ParseUpdate();
                break;
            case osSchemaManipulation:
                ok = Check(Engine->ParseSchemaManipulationStatement(), Engine->ErrorMsg());
                break;
            default:
                AddError("Unrecognised SQL statement type " + Engine->GetCurrentPreParserTokenAsErrorFmt());
        }
        if (ok && Nested.empty() && !Engine->CheckNoTokensRemain())
            ok = Check(false, "Unrecognized tokens beyond end of statement: " +
                                  Engine->GetCurrentPreParserTokenAsErrorFmt());
        return ok && ErrorText().empty();
    }

    // The errors of this query and of its nested queries, each text once (a nested error that
    // reached this query through its engine is not repeated), joined by " | ".
    std::string ErrorText() const {
        std::vector<std::string> all;
        CollectErrors(all);
        std::string s;
        for (const std::string& e : all) s += (s.empty() ? "" : " | ") + e;
        return s;
    }

    std::unique_ptr<TOrqParserEngine> Engine;
    TOrqSelectAnalyser Analyser;
    std::vector<std::unique_ptr<TTestQuery>> Nested;  // subqueries, UNION members, WHERE parts
    std::vector<std::string> Errors;
    bool UnionAll = false;
    bool IsUnionMember = false;

private:
    void Attach() {
        Engine->SetParserEngineNotifyEvent([this](TParserNotifyType Type, TOrqParserEngine* E,
                                                  TOrqExprNode* Node,
                                                  Variant& Data) { Notify(Type, E, Node, Data); });
    }

    void CollectErrors(std::vector<std::string>& All) const {
        for (const std::string& e : Errors)
            if (std::find(All.begin(), All.end(), e) == All.end()) All.push_back(e);
        for (const auto& n : Nested) n->CollectErrors(All);
    }
    void AddError(const std::string& S) { Errors.push_back(S); }
    bool Check(bool Ok, const std::string& Error) {
        if (!Ok) AddError(Error);
        return Ok;
    }

    // Every table of the statement must be in the fixture; its fields are loaded.
    bool LoadTables() {
        TTableList& list = Engine->TableList();
        bool ok = true;
        for (int i = 0; i < list.Count(); ++i) {
            TTableNameItem* item = list.Items(i);
            auto it = FTables.end();
            for (auto t = FTables.begin(); t != FTables.end(); ++t)
                if (AnsiSameText(t->first, item->TableName())) it = t;
            if (it == FTables.end()) {
                AddError("Table not found - " + item->TableName());
                ok = false;
                continue;
            }
            const TTestTableFields fields(it->second);
            item->SetTableFields(&fields);
        }
        return ok;
    }

    bool ParseSelect() {
        TOrqParserEngine& e = *Engine;
        if (!Check(e.ParseFromClause(), e.ErrorMsg()) || !LoadTables()) return false;
        if (!Check(e.ParseSelectClause(), e.ErrorMsg()) || !Check(e.ParseWhereClause(), e.ErrorMsg()) ||
            !Check(e.ParseGroupByClause(), e.ErrorMsg()) || !Check(e.ParseHavingClause(), e.ErrorMsg()))
            return false;
        Analyser.SetIsDistinct(e.SelectParser().IsDistinct());
        if (!Check(Analyser.CheckSelect(e.SelectParser().FirstNode(), &e.TableList()), Analyser.ErrorMsg()) ||
            !Check(Analyser.CheckGroupedColumns(&e.GroupByItems()), Analyser.ErrorMsg()) ||
            !Check(Analyser.CheckHavingExpr(e.HavingParser().Expr()), Analyser.ErrorMsg()))
            return false;
        if (!IsUnionMember) {
            bool all = false;
            while (e.CheckForUnionStatement(true, all)) {
                if (!Check(e.CheckForUnionStatement(false, all), e.ErrorMsg())) return false;
                Variant data(all);
                e.ParserCallback(pntSelectUnion, &e.FromParser(), nullptr, nullptr, data);
                if (!Check(!e.FromParser().HasParseError(), e.FromParser().GetErrorMsg())) return false;
            }
            for (const auto& member : Nested)
                if (member->IsUnionMember &&
                    !Check(Analyser.ValidateUnionSelectFields(&member->Analyser.SelectFields()),
                           Analyser.ErrorMsg()))
                    return false;
            if (!Check(e.ParseOrderByClause(), e.ErrorMsg()) ||
                !Check(Analyser.CheckOrderByColumns(&e.OrderByItems()), Analyser.ErrorMsg()))
                return false;
        }
        return true;
    }

    bool ParseInsert() {
        TOrqParserEngine& e = *Engine;
        if (!Check(e.ParseInsertStatement(), e.ErrorMsg()) || !LoadTables()) return false;
        TOrqInsertParser& p = e.InsertParser();
        const IOrqTableFields& fields = *e.TableList().Items(0)->TableFields();
        const bool ok = p.HasSelectClause()
                            ? p.ValidateSelectColumns(Nested.at(0)->Analyser.SelectFields(), fields)
                            : p.ValidateValueColumns(fields);
        return Check(ok, p.GetErrorMsg());
    }

    bool ParseUpdate() {
        TOrqParserEngine& e = *Engine;
        e.UpdateParser().SetTableListValidateEvent([this](TTableList*) { return LoadTables(); });
        if (!Check(e.ParseUpdateStatement(), e.ErrorMsg())) return false;
        TOrqUpdateParser& p = e.UpdateParser();
        return Check(p.ValidateValueColumns(*e.TableList().Items(0)->TableFields()), p.GetErrorMsg());
    }

    // The WHERE part of a DELETE or UPDATE, in the nested engine of its subquery node.
    bool ParseWhereOnly(const std::string& TableName) {
        TOrqParserEngine& e = *Engine;
        e.TableList().Add()->SetTableName(TableName);
        if (!LoadTables()) return false;
        return Check(e.ParseWhereClause(), e.ErrorMsg()) && Check(e.ParseOrderByClause(), e.ErrorMsg()) &&
               Check(e.CheckParseDone(), "Unrecognized tokens beyond end of statement");
    }

    void Notify(TParserNotifyType Type, TOrqParserEngine* E, TOrqExprNode* Node, Variant& Data) {
        if (Type == pntFindTableRef) {
            Data = Variant(FindOuterTable(VarToStr(Data), Node));
            return;
        }
        auto child = std::make_unique<TTestQuery>(FTables, this);
        child->Engine = Engine->ReleaseNestedEngine(E);
        child->Attach();
        TTestQuery& q = *child;
        Nested.push_back(std::move(child));
        if (Type == pntSelectUnion) {
            q.IsUnionMember = true;
            q.UnionAll = Data.AsBoolean();
            E->SetIsUnionSubstatement(true);
            q.ParseSelect();
            return;
        }
        E->SetIsSubquery(true);
        const TOrqSQLStatementType type = Engine->GetSQLStatementType();
        if (type == osSQLDelete && Engine->DeleteParser().HasWhereClause())
            q.ParseWhereOnly(Engine->DeleteParser().TableName());
        else if (type == osSQLUpdate && Engine->UpdateParser().HasWhereClause())
            q.ParseWhereOnly(Engine->UpdateParser().TableName());
        else
            q.ParseSelect();
    }

    // A table of an enclosing query called Name (or, for an empty Name, holding the node's
    // field): copied into the node's table list.
    bool FindOuterTable(const std::string& Name, TOrqExprNode* Node) {
        for (TTestQuery* q = FParent; q != nullptr; q = q->FParent) {
            TTableList& list = q->Engine->TableList();
            TTableNameItem* item =
                !Name.empty() ? list.FindTable(Name) : list.FindTableForField(VarToStr(Node->Data()));
            if (item != nullptr) {
                Node->Tables().Clear();
                Node->Tables().Add()->Assign(item);
                return true;
            }
        }
        return false;
    }

    const TTableFixture& FTables;
    TTestQuery* FParent;
};

}  // namespace ostra::test
