// orqQueryProviderParse: how a statement item parses and checks its SQL text, answers the
// parser engine's notifications (subqueries, UNION members, references to enclosing tables),
// binds parameters, substitutes the outer row's values into a correlated subquery and plans a
// SELECT.
#include <algorithm>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqFilterMgr.h"
#include "engine/components/orqJoinDataProviderUnit.h"
#include "engine/components/orqQueryAnalyser.h"
#include "engine/components/orqQueryDataset.h"
#include "engine/components/orqQueryPlanner.h"
#include "engine/components/orqQueryProvider.h"
#include "engine/sql/orqExecParsers.h"
#include "engine/sql/orqExprParser.h"
#include "engine/sql/orqFromParser.h"
#include "engine/sql/orqGroupByParser.h"
#include "engine/sql/orqOrderByParser.h"
#include "engine/sql/orqSchemaManipulationParser.h"
#include "engine/sql/orqSelectAnalyser.h"
#include "engine/sql/orqSelectParser.h"
#include "host/Exceptions.h"
#include "host/Collation.h"
#include "host/SysUtils.h"
#include "host/db/Field.h"
#include "host/db/Params.h"

namespace ostra {

// --- validation -----------------------------------------------------------------------------

bool TOrqQueryProviderItem::ValidateSQL() {
    FErrors.Clear();
    const std::string text = FSQL.Text();
    if (Trim(text).empty()) {
        AddError(SorqSQLStatementEmpty);
        return false;
    }
    FParserEngine->PreParseSQL(text);
    bool ok = ParseStatement(false, "");
    if (ok && !FParserEngine->CheckNoTokensRemain())
        ok = Check(false, std::string(SorqTokensBeyondEnd) + ": " + FParserEngine->GetCurrentPreParserTokenAsErrorFmt());
    return ok;
}

bool TOrqQueryProviderItem::ParseStatement(bool WhereOnly, const std::string& TableName) {
    FWhereOnly = WhereOnly;
    if (WhereOnly) return ParseWhereOnly(TableName);
    switch (GetSQLStatementType()) {
        case osSQLSelect:
            return ParseSelectStatement();
        case osSQLInsert:
            return ParseInsertStatement();
        case osSQLDelete:
            return ParseDeleteStatement();
        case osSQLUpdate:
            return ParseUpdateStatement();
        case osSchemaManipulation:
            return ParseSchemaStatement();
        default:
            AddError(std::string(SorqUnrecognisedStatementType) + " " +
                     FParserEngine->GetCurrentPreParserTokenAsErrorFmt());
            return false;
    }
}

bool TOrqQueryProviderItem::SetupTables() {
    if (!GetProviderParent()->CheckTableList(FParserEngine->TableList(), true)) return false;
    InternalSetupTableLists();
    return true;
}

namespace {

// What a parsed statement relies on of a table's record layout: every field's name, type, size
// and place.
std::string LayoutSignature(const TInternalFields& Fields) {
    std::string signature;
    for (int i = 0; i < Fields.Count(); ++i) {
        const TInternalFieldItem* f = Fields.GetIndex(i);
        signature += f->FieldName();
        signature += '\x01';
        signature += std::to_string(int(f->DataType())) + ',' + std::to_string(f->FieldSize()) + ',' +
                     std::to_string(f->FieldIndex()) + ',' + std::to_string(f->DataOffset()) + ',' +
                     (f->Hidden() ? 'h' : 'v');
        signature += '\x02';
    }
    return signature;
}

std::string LayoutKey(const std::string& TableName, bool Memory) {
    return AnsiUpperCase(TableName) + (Memory ? "\x01M" : "\x01D");
}

}  // namespace

void TOrqQueryProviderItem::InternalSetupTableLists() {
    TTableList& tables = FParserEngine->TableList();
    for (int i = 0; i < tables.Count(); ++i) {
        TTableNameItem* item = tables.Items(i);
        TInternalFields fields;
        GetProviderParent()->GetInternalFieldsForTable(item->TableName(), fields, item->Memory());
        const TCursorTableFields view(fields);
        item->SetTableFields(&view);
        const std::string key = LayoutKey(item->TableName(), item->Memory());
        const std::string signature = LayoutSignature(fields);
        auto known = std::find_if(FTableLayouts.begin(), FTableLayouts.end(), [&](const auto& L) { return L.first == key; });
        if (known == FTableLayouts.end())
            FTableLayouts.emplace_back(key, signature);
        else
            known->second = signature;
    }
}

void TOrqQueryProviderItem::CheckTableLayout(const std::string& TableName, bool Memory,
                                            const TInternalFields& Fields) const {
    const std::string key = LayoutKey(TableName, Memory);
    for (const auto& [name, signature] : FTableLayouts)
        if (name == key) {
            if (signature != LayoutSignature(Fields))
                throw EOrqStaleStatement("The structure of table " + TableName + " changed since the statement was prepared");
            return;
        }
}

void TOrqQueryProviderItem::CheckProviderLayouts() const {
    const TOrqJoinDataProviderMgr& mgr = *FProviderMgr;
    for (int i = 0; i < mgr.NonJoinProviderCount(); ++i) {
        const TOrqDatasetBridge* bridge = mgr.NonJoinProvider(i)->DataBridge();
        if (bridge != nullptr && bridge->Active())
            CheckTableLayout(bridge->TableName(), bridge->Memory(), bridge->GetInternalFields());
    }
}

bool TOrqQueryProviderItem::ParseSelectStatement() {
    TOrqParserEngine& e = *FParserEngine;
    if (!Check(e.ParseFromClause(), e.ErrorMsg()) || !SetupTables()) return false;
    if (!Check(e.ParseSelectClause(), e.ErrorMsg()) || !Check(e.ParseWhereClause(), e.ErrorMsg()) ||
        !Check(e.ParseGroupByClause(), e.ErrorMsg()) || !Check(e.ParseHavingClause(), e.ErrorMsg()))
        return false;
    TOrqSelectAnalyser& a = *FSelectAnalyser;
    a.SetIsDistinct(e.SelectParser().IsDistinct());
    if (!Check(a.CheckSelect(e.SelectParser().FirstNode(), &e.TableList()), a.ErrorMsg()) ||
        !Check(a.CheckGroupedColumns(&e.GroupByItems()), a.ErrorMsg()) ||
        !Check(a.CheckHavingExpr(e.HavingParser().Expr()), a.ErrorMsg()))
        return false;
    if (FIsUnionMember) return true;
    bool all = false;
    while (e.CheckForUnionStatement(true, all)) {
        if (!Check(e.CheckForUnionStatement(false, all), e.ErrorMsg())) return false;
        Variant data(all);
        e.ParserCallback(pntSelectUnion, &e.FromParser(), nullptr, nullptr, data);
        if (!Check(!e.FromParser().HasParseError(), e.FromParser().GetErrorMsg())) return false;
    }
    for (TOrqQueryProviderItem* member : FNestedStatements)
        if (member->FIsUnionMember &&
            !Check(a.ValidateUnionSelectFields(&member->SelectAnalyser().SelectFields()), a.ErrorMsg()))
            return false;
    // The ORDER BY behind the last member orders the whole UNION.
    return Check(e.ParseOrderByClause(), e.ErrorMsg()) &&
           Check(a.CheckOrderByColumns(&e.OrderByItems()), a.ErrorMsg());
}

bool TOrqQueryProviderItem::ParseInsertStatement() {
    TOrqParserEngine& e = *FParserEngine;
    if (!Check(e.ParseInsertStatement(), e.ErrorMsg()) || !SetupTables()) return false;
    TOrqInsertParser& p = e.InsertParser();
    const IOrqTableFields* fields = e.TableList().Items(0)->TableFields();
    Assert(fields != nullptr, "Insert table fields are not loaded");
    bool ok;
    if (p.HasSelectClause()) {
        Assert(FNestedStatements.size() == 1, "Insert select count is incorrect");
        ok = p.ValidateSelectColumns(FNestedStatements[0]->SelectAnalyser().SelectFields(), *fields);
    } else {
        ok = p.ValidateValueColumns(*fields);
    }
    return Check(ok, p.GetErrorMsg());
}

bool TOrqQueryProviderItem::ParseDeleteStatement() {
    TOrqParserEngine& e = *FParserEngine;
    return Check(e.ParseDeleteStatement(), e.ErrorMsg()) && SetupTables();
}

bool TOrqQueryProviderItem::ParseUpdateStatement() {
    TOrqParserEngine& e = *FParserEngine;
    e.UpdateParser().SetTableListValidateEvent([this](TTableList*) { return SetupTables(); });
    if (!Check(e.ParseUpdateStatement(), e.ErrorMsg())) return false;
    TOrqUpdateParser& p = e.UpdateParser();
    const IOrqTableFields* fields = e.TableList().Items(0)->TableFields();
    Assert(fields != nullptr, "Update table fields are not loaded");
    return Check(p.ValidateValueColumns(*fields), p.GetErrorMsg());
}

bool TOrqQueryProviderItem::ParseSchemaStatement() {
    TOrqParserEngine& e = *FParserEngine;
    if (!Check(e.ParseSchemaManipulationStatement(), e.ErrorMsg())) return false;
    const TOrqSchemaManipulationParser& p = e.SchemaParser();
    TTableList probe;
    TTableNameItem* item = probe.Add();
    item->SetTableName(p.TableName());
    item->SetMemorySpecified(p.TemporaryTable());
    const bool exists = GetProviderParent()->CheckTableList(probe, false) && item->Memory() == p.TemporaryTable();
    if (p.Operation() == ddCreateTable)
        return Check(!exists, std::string(SorqTableAlreadyExists) + ": " + p.TableName());
    return Check(exists, std::string(SorqTableNotFound) + ": " + p.TableName());
}

bool TOrqQueryProviderItem::ParseWhereOnly(const std::string& TableName) {
    TOrqParserEngine& e = *FParserEngine;
    if (!TableName.empty()) e.TableList().Add()->SetTableName(TableName);
    if (!SetupTables()) return false;
    FSelectAnalyser->SetIsDistinct(e.SelectParser().IsDistinct());
    return Check(e.ParseWhereClause(), e.ErrorMsg()) && Check(e.ParseOrderByClause(), e.ErrorMsg()) &&
           Check(e.CheckParseDone(), SorqTokensBeyondEnd);
}

// --- tables ---------------------------------------------------------------------------------

namespace {

void UpperNames(TStringList& List) {
    for (int i = 0; i < List.Count(); ++i) List.SetStrings(i, AnsiUpperCase(List.Strings(i)));
}

}  // namespace

bool TOrqQueryProvider::CheckTableList(TTableList& Tables, bool ReportErrors) {
    Assert(FDatabase != nullptr, "The database has not been assigned");
    TStringList disk;
    TStringList memory;
    if (!FDatabase->InMemory()) FDatabase->GetTableNames(&disk, false);
    FDatabase->GetTableNames(&memory, true);
    UpperNames(disk);
    UpperNames(memory);
    bool ok = true;
    for (int i = 0; i < Tables.Count(); ++i) {
        TTableNameItem* item = Tables.Items(i);
        const std::string name = AnsiUpperCase(item->TableName());
        bool found = false;
        if (!item->MemorySpecified() && disk.IndexOf(name) >= 0) {
            item->SetMemory(false);
            found = true;
        }
        if (!found && memory.IndexOf(name) >= 0) {
            item->SetMemory(true);
            found = true;
        }
        if (!found) {
            ok = false;
            if (ReportErrors) FTableErrors.Add(SorqTableNotFoundPrefix + item->TableName());
        }
    }
    return ok;
}

void TOrqQueryProvider::GetInternalFieldsForTable(const std::string& TableName, TInternalFields& Fields,
                                                  bool Memory) {
    TOrqDatasetBridge bridge;
    bridge.SetDataBase(FDatabase);
    bridge.SetTableName(TableName);
    bridge.SetMemory(Memory);
    bridge.Open();
    Fields.Assign(&bridge.GetInternalFields());
    bridge.Close();
}

// --- notifications --------------------------------------------------------------------------

void TOrqQueryProviderItem::ParserEngineCallback(TParserNotifyType NotifyType, TOrqParserEngine* Engine,
                                                 TOrqExprNode* Node, Variant& NotifyData) {
    switch (NotifyType) {
        case pntSubquery: {
            std::unique_ptr<TOrqParserEngine> nested = FParserEngine->ReleaseNestedEngine(Engine);
            Assert(nested != nullptr, "Nested parser engine is not assigned");
            TOrqQueryProviderItem* child = GetProviderParent()->Add();
            child->SetParentQuery(this);
            nested->SetIsSubquery(true);
            const TOrqSQLStatementType type = GetSQLStatementType();
            const bool whereOnly = !FWhereOnly && ((type == osSQLDelete && FParserEngine->DeleteParser().HasWhereClause()) ||
                                                   (type == osSQLUpdate && FParserEngine->UpdateParser().HasWhereClause()));
            std::string table;
            if (whereOnly) {
                Assert(FParserEngine->TableList().Count() == 1, "Parser engine table count is incorrect");
                table = FParserEngine->TableList().Items(0)->TableName();
            }
            FNestedStatements.push_back(child);
            if (Node != nullptr) Node->SetExprNodeDataProvider(&child->NodeDataProvider());
            child->AssignExternalParserEngine(whereOnly, table, std::move(nested));
            break;
        }
        case pntSelectUnion: {
            std::unique_ptr<TOrqParserEngine> nested = FParserEngine->ReleaseNestedEngine(Engine);
            Assert(nested != nullptr, "Nested parser engine is not assigned");
            TOrqQueryProviderItem* child = GetProviderParent()->Add();
            child->SetParentQuery(this);
            child->FUnionAll = NotifyData.AsBoolean();
            child->FIsUnionMember = true;
            nested->SetIsUnionSubstatement(true);
            // A UNION inside a subquery ends at the subquery's ")" like the subquery does.
            if (FParserEngine->IsSubquery()) nested->SetIsSubquery(true);
            FNestedStatements.push_back(child);
            child->AssignExternalParserEngine(false, "", std::move(nested));
            break;
        }
        case pntFindTableRef: {
            const std::string name = VarIsEmpty(NotifyData) || VarIsNull(NotifyData) ? "" : VarToStr(NotifyData);
            TTableNameItem* found = nullptr;
            if (!name.empty())
                found = FindTable(name);
            else if (Node != nullptr)
                found = FindTableForField(VarToStr(Node->Data()));
            if (found == nullptr || Node == nullptr) {
                NotifyData = Variant(false);
                break;
            }
            const TOrqQueryProviderItem* owner =
                static_cast<TOrqQueryProviderItem*>(GetProviderParent()->FindItemID(found->CorrelatedSubqueryID()));
            if (owner != this) MarkCorrelatedUpTo(owner);
            Node->Tables().Clear();
            Node->Tables().Add()->Assign(found);
            NotifyData = Variant(true);
            break;
        }
        default:
            break;
    }
}

void TOrqQueryProviderItem::MarkCorrelatedUpTo(const TOrqQueryProviderItem* Owner) {
    // Every statement between the reference and the table's own statement depends on the outer
    // row, so each of them must be filled again per outer row, not only the innermost.
    for (TOrqQueryProviderItem* p = this; p != nullptr && p != Owner; p = p->FParentQuery) p->FIsCorrelated = true;
}

TTableNameItem* TOrqQueryProviderItem::FindTable(const std::string& Name) {
    TTableNameItem* item = FParserEngine->TableList().FindTable(Name);
    if (item != nullptr) {
        item->SetInCorrelatedSubquery(true);
        item->SetCorrelatedSubqueryID(ID());
        return item;
    }
    return FParentQuery != nullptr ? FParentQuery->FindTable(Name) : nullptr;
}

TTableNameItem* TOrqQueryProviderItem::FindTableForField(const std::string& FieldName) {
    TTableNameItem* item = FParserEngine->TableList().FindTableForField(FieldName);
    if (item != nullptr) {
        item->SetInCorrelatedSubquery(true);
        item->SetCorrelatedSubqueryID(ID());
        return item;
    }
    return FParentQuery != nullptr ? FParentQuery->FindTableForField(FieldName) : nullptr;
}

void TOrqQueryProviderItem::GetFieldData(const std::string& TableName, const std::string& FieldName,
                                         Variant& Value) {
    Value = Variant();
    if (GetSQLStatementType() == osSQLUpdate && !FWhereOnly && FResultSet->Active() &&
        AnsiSameText(FResultSet->TableName(), TableName)) {
        // The record being updated is the cursor's, which the dataset's buffers need not show.
        if (const TInternalFieldItem* field = FResultSet->GetInternalFields().FindField(FieldName))
            FResultSet->GetFieldData(field->FieldNo(), Value);
        return;
    }
    if (FProviderMgr->RootProvider() != nullptr && FProviderMgr->RootProvider()->IsOpen()) {
        if (TOrqBaseJoinDataProvider* provider = FProviderMgr->FindJoinProvider(TableName)) {
            if (TInternalFieldItem* field = provider->FindField(nullptr, FieldName))
                Value = provider->GetDataAsVariant(field->FieldNo());
            return;
        }
    }
    if (FParentQuery != nullptr) FParentQuery->GetFieldData(TableName, FieldName, Value);
}

// --- parameters and outer references --------------------------------------------------------

void TOrqQueryProviderItem::CreateParamList() {
    TParams* params = GetProviderParent()->Params();
    if (params == nullptr) return;
    params->Clear();
    TStringList names;
    FParserEngine->GetParamList(&names);
    for (int i = 0; i < names.Count(); ++i) params->CreateParam(ftUnknown, names.Strings(i), ptInput);
}

void TOrqQueryProviderItem::BindParams(TOrqExpr* Expr) {
    const TParams* params = GetProviderParent()->Params();
    if (params == nullptr || Expr == nullptr) return;
    // A bound node keeps its original operator and name, so it is bound again at the next
    // prepare with the parameter's value of that time.
    for (TOrqExprNode* n = Expr->FirstNode(); n != nullptr; n = n->Next()) {
        if (n->Operator() != oeoPARAMETER && n->OriginalOperator() != oeoPARAMETER) continue;
        const TParam* param = params->ParamByName(VarToStr(n->OriginalData()));
        n->SetData(param->AsVariant());
        n->SetOperator(oeoCONST2);
        n->SetKind(enkConst);
        n->SetDataType(param->DataType());
    }
}

void TOrqQueryProviderItem::ResetOuterFieldRefs(TOrqExpr* Expr) {
    if (Expr == nullptr) return;
    for (TOrqExprNode* n = Expr->FirstNode(); n != nullptr; n = n->Next()) {
        if (n->Operator() != oeoOUTERFIELD) continue;
        const std::string field = VarToStr(n->Data());
        std::string table;
        if (!n->TokenArgs().empty() && n->TokenArgs()[0] != nullptr) {
            table = n->TokenArgs()[0]->Text();
        } else if (n->Tables().Count() == 1) {
            table = n->Tables().Items(0)->ReferenceName();
        }
        TOrqQueryProviderItem* source = FParentQuery;
        if (n->Tables().Count() > 0 && n->Tables().Items(0)->InCorrelatedSubquery()) {
            auto* owner = static_cast<TOrqQueryProviderItem*>(
                GetProviderParent()->FindItemID(n->Tables().Items(0)->CorrelatedSubqueryID()));
            if (owner != nullptr) source = owner;
        }
        Variant value;
        if (source != nullptr) source->GetFieldData(table, field, value);
        if (VarIsEmpty(value)) value = Null();
        n->SetData(value);
        n->SetOperator(oeoCONST2);
        n->SetKind(enkConst);
    }
}

// --- preparing ------------------------------------------------------------------------------

bool TOrqQueryProviderItem::Prepare() {
    bool ok = false;
    switch (FWhereOnly ? osSQLSelect : GetSQLStatementType()) {
        case osSQLSelect:
            ok = PreparePlan();
            break;
        case osSQLInsert:
            FParserEngine->InsertParser().RowConstructor().Prepare(nullptr);
            ok = true;
            break;
        case osSQLDelete:
        case osSQLUpdate:
        case osSchemaManipulation:
            ok = true;
            break;
        default:
            AddError(SorqUnrecognisedStatementType);
            return false;
    }
    if (ok)
        for (TOrqQueryProviderItem* nested : FNestedStatements) nested->Prepare();
    return ok;
}

bool TOrqQueryProviderItem::RebindPlan() {
    if (!FPlanRebindable) return false;
    auto* root = dynamic_cast<TOrqNonJoinDataProvider*>(FProviderMgr->RootProvider());
    if (root == nullptr || !root->ResetForRun()) return false;
    // The filter's parameter nodes keep their names: the new values go into them, and the next
    // OpenProviders assigns the filter again.
    BindParams(root->JoinSelectExpr());
    return true;
}

bool TOrqQueryProviderItem::PreparePlan() {
    if (RebindPlan()) return true;
    FPlanRebindable = false;
    TOrqParserEngine& e = *FParserEngine;
    TOrqExpr& clone = FAnalyser->GetTempExpr();
    FAnalyser->Clear();
    clone.Clear();
    TOrqExprNode* root = nullptr;
    if (TOrqExpr* where = e.WhereParser().Expr(); where != nullptr && where->FirstNode() != nullptr)
        root = clone.CloneFromTree(where->FirstNode());
    if (FIsCorrelated) ResetOuterFieldRefs(&clone);
    BindParams(&clone);
    FProviderMgr->SetDatabase(GetProviderParent()->Database());
    bool correlatedSubquery = false;
    for (const TOrqQueryProviderItem* nested : FNestedStatements)
        correlatedSubquery = correlatedSubquery || (!nested->FIsUnionMember && nested->FIsCorrelated);
    FAnalyser->SetSubqueriesInResidual(correlatedSubquery);
    FAnalyser->Prepare(*FJoins, *FSelects, root, e.TableList(), e.FromParser().Root());
    FPlan->SetFromRoot(e.FromParser().Root());
    FPlan->SetResidualExprRoot(FAnalyser->ResidualExprRoot());
    TOrqQueryPlanner::CreatePlan(FPlan.get());
    // Which tables a condition names does not depend on parameter values, so the split and the
    // tree hold for every run of a statement over one table without subqueries or a residual.
    FPlanRebindable = Index() == 0 && !FWhereOnly && GetSQLStatementType() == osSQLSelect && !FIsCorrelated &&
                      FNestedStatements.empty() && FPlan->ResidualExprRoot() == nullptr &&
                      dynamic_cast<TOrqNonJoinDataProvider*>(FProviderMgr->RootProvider()) != nullptr;
    return true;
}

}  // namespace ostra
