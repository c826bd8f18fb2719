// orqQueryProviderResult: what a SELECT item does when it runs: the result table's columns and
// indexes, the fill through the result set (plain, grouped, with aggregates), HAVING, the rows
// of UNION members, the record lists of DELETE and UPDATE WHERE parts, and the bridge of a live
// result.
#include <vector>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqJoinDataProviderUnit.h"
#include "engine/components/orqQueryAnalyser.h"
#include "engine/components/orqQueryDataset.h"
#include "engine/components/orqQueryPlanner.h"
#include "engine/components/orqQueryProvider.h"
#include "engine/sql/orqExprParser.h"
#include "engine/sql/orqOrderByParser.h"
#include "engine/sql/orqSelectAnalyser.h"
#include "engine/sql/orqSelectParser.h"
#include "engine/storage/orqErrors.h"
#include "host/Exceptions.h"
#include "host/Collation.h"
#include "host/SysUtils.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

namespace ostra {

namespace {

constexpr char CItemCaller[] = "TOrqQueryProviderItem";
constexpr char CRecAddrField[] = "__RecAddr";
constexpr char CRecModFlagField[] = "__RecModFlag";

bool IsSizedType(TFieldType T) { return T == ftString || T == ftWideString; }

}  // namespace

void TOrqQueryProviderItem::OpenProvidersForRun() {
    TOrqJoinDataProviderMgr& mgr = *FProviderMgr;
    if (mgr.RootProvider() == nullptr || !mgr.RootProvider()->IsOpen()) {
        mgr.OpenProviders();
        // A table restructured since the statement was parsed makes the statement stale.
        CheckProviderLayouts();
        // What the analysis and the plan could not place is checked on every joined row.
        InternalBindRootExprParams();
    }
    mgr.SetDBStringCompare(FResultSet->StringCompare());
}

void TOrqQueryProviderItem::InternalBindRootExprParams() {
    // The plan's residual was cut from the WHERE clone after the outer row's values and the
    // parameters were put in, so it is handed over as it stands.
    if (const TOrqExprNode* residual = FPlan->ResidualExprRoot()) FProviderMgr->PrepareJoinExprEvaluator(residual);
}

bool TOrqQueryProviderItem::CreateResultSet() {
    TOrqQueryProvider* provider = GetProviderParent();
    TOrqQueryDataset& rs = *FResultSet;
    if (rs.DataBase() != provider->Database() || rs.TableName() != FResultTableName) {
        rs.Close();
        rs.SetDataBase(provider->Database());
        rs.SetTableName(FResultTableName);
    }
    rs.SetProviderMgr(FProviderMgr.get());
    OpenProvidersForRun();

    CreateResultSetFields(rs);
    CreateResultSetIndexes(rs);

    const TSelectFields& columns = FSelectAnalyser->SelectFields();
    const bool aggregates = columns.ContainsAggregateColumns();
    const bool grouped = columns.ContainsGroupedOutput();
    const bool distinct = FParserEngine->SelectParser().IsDistinct();
    const bool hasUnion = FParserEngine->HasUnionStatement();
    FResultIsLive = FRequestLive && dynamic_cast<TOrqNonJoinDataProvider*>(FProviderMgr->RootProvider()) != nullptr &&
                    !aggregates && !grouped && !distinct && !hasUnion;
    if (FResultIsLive && !FResultStructureCreated) {
        rs.FieldDefs().Add(CRecAddrField, ftInteger, 0, false);
        rs.FieldDefs().Add(CRecModFlagField, ftInteger, 0, false);
    }
    rs.SetCreateLiveResult(FResultIsLive);
    rs.PrepareEmptyResultSet(FResultStructureCreated);
    FResultStructureCreated = true;
    rs.SetMaxRecords(provider->MaxRecords());
    if (FCreateDefsOnly) return true;

    if (aggregates || grouped) {
        // The single-COUNT short cut reads the table's filtered count: only right when the
        // filter is the whole WHERE condition.
        // GROUP BY without an aggregate column still groups: the fill makes one row per group.
        rs.PopulateAggregateResultSet(*FResultFields, grouped, FPlan->ResidualExprRoot() == nullptr);
        PrepareHavingExpr();
        TOrqExpr* having = FParserEngine->HavingParser().Expr();
        rs.ProcessHavingClause(having != nullptr ? having->FirstNode() : nullptr);
    } else {
        rs.PopulateResultSet(*FResultFields, distinct || IsDistinctUnionStatement());
    }
    if (hasUnion)
        ProcessUnionResultSets();
    else if (FResultIsLive)
        rs.SetReadOnlyResultFields(*FResultFields);
    return true;
}

bool TOrqQueryProviderItem::CreateResultSetFields(TOrqQueryDataset& Dataset) {
    FResultFields->Clear();
    FInsertColumnsBound = false;
    if (!FResultStructureCreated) Dataset.FieldDefs().Clear();
    const TSelectFields& columns = FSelectAnalyser->SelectFields();
    TOrqBaseJoinDataProvider* root = FProviderMgr->RootProvider();
    std::vector<std::string> used;
    auto isUsed = [&](const std::string& Name) {
        for (const std::string& u : used)
            if (AnsiSameText(u, Name)) return true;
        return false;
    };
    for (int i = 0; i < columns.Count(); ++i) {
        TSelectFieldItem* column = columns.GetItems(i);
        TResultSetField* field = FResultFields->Add();
        field->SetSelectFieldItem(column);
        field->SetFieldName(column->FieldName());
        field->SetDataType(column->DataType());
        field->SetFieldSize(IsSizedType(column->DataType()) ? column->FieldSize() : 0);
        field->SetSourceField(column->SourceFieldName().empty() ? column->FieldName() : column->SourceFieldName());
        if (column->ExprRoot() == nullptr) {
            TOrqBaseJoinDataProvider* source = nullptr;
            if (const TTableNameItem* table = column->SourceTableItem(); table != nullptr && root != nullptr) {
                if (!table->CorrelationName().empty()) source = root->FindJoinProvider(table->CorrelationName());
                if (source == nullptr) source = root->FindJoinProvider(table->TableName());
            }
            Assert(source != nullptr, "The result set field data provider could not be found");
            field->SetDataProvider(source);
        } else {
            field->SetDataProvider(root);
            field->PrepareJoinExprEvaluator(column->ExprRoot());
        }
        field->Evaluator().SetDBStringCompare(Dataset.StringCompare());
        const TInternalFieldItem* sourceField =
            field->DataProvider() != nullptr ? field->DataProvider()->GetProviderFields()->FindField(field->SourceField())
                                             : nullptr;
        field->SetSourceFieldNo(sourceField != nullptr ? sourceField->FieldNo() : -1);

        // A column named as written keeps its source column's name; a repeated name gets "_"
        // and the attempt number until it is free (A, A_1, A_1_2).
        std::string name = column->FieldName() != column->RawColumnName() ? column->FieldName() : field->SourceField();
        for (int attempt = 1; isUsed(name); ++attempt) name += "_" + IntToStr(attempt);
        used.push_back(name);
        field->SetFieldName(name);
        if (!FResultStructureCreated) Dataset.FieldDefs().Add(name, column->DataType(), field->FieldSize(), false);
    }
    return true;
}

bool TOrqQueryProviderItem::CreateResultSetIndexes(TOrqQueryDataset& Dataset) {
    if (FResultStructureCreated) return true;
    Dataset.IndexDefs().Clear();
    TOrderByItems& order = FParserEngine->OrderByItems();
    if (order.Count() > 0) {
        std::string fields;
        std::string descending;
        for (int i = 0; i < order.Count(); ++i) {
            const TOrderByItem* item = order.Items(i);
            std::string name;
            if (item->FieldIndex() > 0) {
                name = Dataset.FieldDefs().Items(item->FieldIndex() - 1)->Name();
            } else {
                name = GetResultSetFieldNameFromSortKey(item->SortKey());
                Assert(!name.empty(), [&] { return "The result set field could not be found: " + item->SortKey(); });
            }
            fields += (fields.empty() ? "" : ";") + name;
            if (item->Descending()) descending += (descending.empty() ? "" : ";") + name;
        }
        TIndexDef* index = Dataset.IndexDefs().Add("idxorderby", fields, TIndexOptions());
        if (!descending.empty()) index->SetDescFields(descending);
    }
    const TSelectFields& columns = FSelectAnalyser->SelectFields();
    if (columns.ContainsGroupedOutput()) {
        std::string fields;
        for (int i = 0; i < FResultFields->Count(); ++i) {
            const TResultSetField* field = FResultFields->GetItems(i);
            if (!field->SelectFieldItem()->HasAggregateFunction())
                fields += (fields.empty() ? "" : ";") + field->FieldName();
        }
        Dataset.IndexDefs().Add("idxgroupby", fields, TIndexOptions{ixUnique});
    }
    if (FParserEngine->SelectParser().IsDistinct() || IsDistinctUnionStatement()) {
        std::string fields;
        for (int i = 0; i < FResultFields->Count(); ++i)
            fields += (fields.empty() ? "" : ";") + FResultFields->GetItems(i)->FieldName();
        Dataset.IndexDefs().Add("idxdistinct", fields, TIndexOptions());
    }
    return true;
}

std::string TOrqQueryProviderItem::GetResultSetFieldNameFromSortKey(const std::string& Key) const {
    if (Key.empty()) return "";
    for (int i = 0; i < FResultFields->Count(); ++i)
        if (FResultFields->GetItems(i)->FieldName() == Key) return Key;
    std::string table;
    std::string column = Key;
    if (const auto dot = Key.find('.'); dot != std::string::npos) {
        table = Key.substr(0, dot);
        column = Key.substr(dot + 1);
    }
    for (int i = 0; i < FResultFields->Count(); ++i) {
        TResultSetField* field = FResultFields->GetItems(i);
        if (!AnsiSameText(field->SourceField(), column)) continue;
        TOrqBaseJoinDataProvider* provider = field->DataProvider();
        Assert(provider != nullptr, "Resultset field does not have a data provider");
        if (table.empty() || AnsiSameText(provider->ProviderName(), table) ||
            AnsiSameText(provider->CorrelationName(), table))
            return field->FieldName();
    }
    return "";
}

void TOrqQueryProviderItem::PrepareHavingExpr() {
    TOrqExpr* having = FParserEngine->HavingParser().Expr();
    if (having == nullptr) return;
    for (TOrqExprNode* n = having->FirstNode(); n != nullptr; n = n->Next()) {
        if (n->Kind() != enkField) continue;
        const std::string name = VarToStr(n->Data());
        const TResultSetField* field = FResultFields->FindResultSetField(name);
        if (field == nullptr) OrqDatabaseErrorFmt(9645, CItemCaller, SorqHavingColumnNotFound, {name}, nullptr);
        n->SetData(Variant(field->FieldName()));
        n->SetDataType(field->DataType());
        n->SetDataSize(field->FieldSize());
    }
}

bool TOrqQueryProviderItem::IsDistinctUnionStatement() const {
    if (!FParserEngine->HasUnionStatement()) return false;
    for (const TOrqQueryProviderItem* member : FNestedStatements)
        if (member->FIsUnionMember && !member->FUnionAll) return true;
    return false;
}

bool TOrqQueryProviderItem::ProcessUnionResultSets() {
    if (!FParserEngine->HasUnionStatement() || FNestedStatements.empty()) return false;
    const bool distinct = IsDistinctUnionStatement();
    for (TOrqQueryProviderItem* member : FNestedStatements) {
        if (!member->FIsUnionMember) continue;
        member->CreateResultSet();
        FResultSet->InsertDataFromDataset(*FResultFields, &member->ResultSet(), false, distinct);
    }
    return true;
}

bool TOrqQueryProviderItem::CreateResultList(std::vector<uint32_t>& List) {
    Assert(FResultSet != nullptr, "Result set is not assigned");
    FResultSet->SetProviderMgr(FProviderMgr.get());
    OpenProvidersForRun();
    // The rows come through the manager, which applies whatever the table's filter could not
    // (a condition on no table, a parameter compared with a constant), so such a WHERE part
    // selects the right rows instead of failing.
    auto* root = dynamic_cast<TOrqNonJoinDataProvider*>(FProviderMgr->RootProvider());
    Assert(root != nullptr && root->DataBridge() != nullptr, "RootProvider type is incorrect");
    List.clear();
    for (bool ok = FProviderMgr->FirstProviderRecord(); ok; ok = FProviderMgr->NextProviderRecord())
        List.push_back(root->DataBridge()->GetRecAddr());
    return true;
}

void TOrqQueryProviderItem::SetLiveResultBridge(TOrqDatasetBridge& Bridge) {
    auto* root = dynamic_cast<TOrqNonJoinDataProvider*>(FProviderMgr->RootProvider());
    Assert(root != nullptr && root->DataBridge() != nullptr, "RootProvider type is incorrect");
    TOrqDatasetBridge& source = *root->DataBridge();
    Bridge.Close();
    Bridge.SetDataBase(source.DataBase());
    Bridge.SetMemory(source.Memory());
    Bridge.SetTableName(source.TableName());
    Bridge.Open();
    TInternalFields& layout = Bridge.GetInternalFields();
    for (int i = 0; i < layout.Count(); ++i) layout.GetIndex(i)->SetSourceField("-1");
    for (int i = 0; i < FResultFields->Count(); ++i) {
        TResultSetField* field = FResultFields->GetItems(i);
        if (field->Evaluator().IsPrepared() || field->SourceFieldNo() < 0) continue;
        for (int j = 0; j < layout.Count(); ++j)
            if (layout.GetIndex(j)->FieldNo() == field->SourceFieldNo()) layout.GetIndex(j)->SetSourceField(field->FieldName());
    }
}

}  // namespace ostra
