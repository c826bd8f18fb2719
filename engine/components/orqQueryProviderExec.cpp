// orqQueryProviderExec: INSERT, UPDATE and DELETE. The item's result dataset becomes a cursor
// over the target table; the rows to change come from the nested WHERE part (a record list) and
// the values from the statement's row constructor or from the nested SELECT's result.
#include <vector>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqQueryDataset.h"
#include "engine/components/orqQueryProvider.h"
#include "engine/sql/orqExecParsers.h"
#include "engine/sql/orqExprParser.h"
#include "host/Exceptions.h"
#include "host/db/Params.h"

namespace ostra {

bool TOrqQueryProviderItem::ExecSQL() {
    switch (GetSQLStatementType()) {
        case osSQLInsert:
            return InternalExecuteInsertStatement();
        case osSQLDelete:
            return InternalExecuteDeleteStatement();
        case osSQLUpdate:
            return InternalExecuteUpdateStatement();
        case osSchemaManipulation:
            return InternalExecuteSchemaStatement();
        default:
            AddError(SorqCannotExecSQL);
            return false;
    }
}

void TOrqQueryProviderItem::OpenTargetCursor(const std::string& TableName) {
    TOrqQueryDataset& rs = *FResultSet;
    TOrqDataBase* database = GetProviderParent()->Database();
    const bool memory = FParserEngine->TableList().Count() > 0 && FParserEngine->TableList().Items(0)->Memory();
    // A prepared statement that runs again keeps its cursor over the target table: the cursor
    // takes the table's locks for every write and sees what other connections committed.
    if (rs.Active() && rs.DataBase() == database && rs.TableName() == TableName && rs.Memory() == memory) return;
    rs.Close();
    rs.SetDataBase(database);
    rs.SetTableName(TableName);
    rs.SetMemory(memory);
    rs.Open();
    CheckTableLayout(TableName, memory, rs.GetInternalFields());
}

void TOrqQueryProviderItem::ReleaseTables() {
    if (FProviderMgr) FProviderMgr->ReleaseTables();
    if (FResultSet && FResultSet->Active()) FResultSet->Close();
}

bool TOrqQueryProviderItem::InternalExecuteInsertStatement() {
    TOrqInsertParser& p = FParserEngine->InsertParser();
    TOrqRowConstructor& values = p.RowConstructor();
    values.BindParams(GetProviderParent()->Params());
    OpenTargetCursor(p.TableName());
    FResultFields->Clear();
    const TStringList& columns = p.InsertColumnNames();
    if (p.HasSelectClause()) {
        Assert(FNestedStatements.size() == 1, "Insert select count is incorrect");
        TOrqQueryProviderItem& select = *FNestedStatements[0];
        select.Prepare();
        select.CreateResultSet();
        for (int i = 0; i < columns.Count(); ++i) FResultFields->Add()->SetFieldName(columns.Strings(i));
        FResultSet->InsertDataFromDataset(*FResultFields, &select.ResultSet(), true, false);
        return true;
    }
    for (int i = 0; i < columns.Count(); ++i) {
        TResultSetField* field = FResultFields->Add();
        field->SetFieldName(columns.Strings(i));
        // Columns without a value are stored as NULL.
        field->SetData(i < values.Count() ? values.GetItems(i)->GetRowData() : Null());
    }
    FResultSet->InsertData(*FResultFields);
    return true;
}

bool TOrqQueryProviderItem::InternalExecuteDeleteStatement() {
    TOrqDeleteParser& p = FParserEngine->DeleteParser();
    OpenTargetCursor(p.TableName());
    std::vector<uint32_t> list;
    if (p.HasWhereClause()) {
        Assert(FNestedStatements.size() == 1, "Insert select count is incorrect");
        TOrqQueryProviderItem& where = *FNestedStatements[0];
        where.Prepare();
        where.CreateResultList(list);
    }
    FResultSet->DeleteData(!p.HasWhereClause(), list);
    return true;
}

bool TOrqQueryProviderItem::InternalExecuteUpdateStatement() {
    TOrqUpdateParser& p = FParserEngine->UpdateParser();
    TOrqUpdateRowConstructor& assignments = p.RowConstructor();
    assignments.BindParams(GetProviderParent()->Params());
    OpenTargetCursor(p.TableName());
    FResultFields->Clear();
    std::vector<uint32_t> list;
    if (p.HasWhereClause()) {
        Assert(!FNestedStatements.empty(), "Insert select count is incorrect");
        TOrqQueryProviderItem& where = *FNestedStatements.back();
        where.Prepare();
        where.CreateResultList(list);
    }
    FResultSet->UpdateData(!p.HasWhereClause(), list, assignments);
    return true;
}

}  // namespace ostra
