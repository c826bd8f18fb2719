// orqQueryProviderSchema: CREATE/ALTER/DROP TABLE and CREATE/DROP INDEX through a table
// component. Changing an existing disk table needs the database exclusively: the connection is
// reopened so, and its former state (connected, exclusive) is restored whatever happens.
#include <memory>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqQueryProvider.h"
#include "engine/components/orqTable.h"
#include "engine/sql/orqSchemaManipulationParser.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqRestructureDefs.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

namespace ostra {

bool TOrqQueryProviderItem::InternalExecuteSchemaStatement() {
    TOrqDataBase& db = *GetProviderParent()->Database();
    const TOrqSchemaManipulationParser& p = FParserEngine->SchemaParser();
    // Reconnecting would end the transaction; a disk table's structure never changes inside
    // one anyway.
    if (!p.TemporaryTable() && db.Connected() && db.InTransaction())
        OrqDatabaseError(10122, "TOrqQueryProviderItem.InternalExecuteSchemaStatement", "", nullptr);
    const bool wasConnected = db.Connected();
    const bool wasExclusive = db.Exclusive();
    const bool needsExclusive = p.Operation() != ddCreateTable && !p.TemporaryTable() && !db.Exclusive();
    auto restore = [&] {
        if (needsExclusive) {
            db.SetConnected(false);
            db.SetExclusive(wasExclusive);
        }
        db.SetConnected(wasConnected);
    };
    if (needsExclusive) {
        db.SetConnected(false);
        db.SetExclusive(true);
    }
    bool ok = false;
    try {
        db.SetConnected(true);
        TOrqTable table(nullptr);
        table.SetDataBase(&db);
        table.SetTableName(p.TableName());
        table.SetMemory(p.TemporaryTable());
        ok = RunSchemaOperation(table);
    } catch (...) {
        try {
            restore();
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
    restore();
    return ok;
}

bool TOrqQueryProviderItem::RunSchemaOperation(TOrqTable& Table) {
    TOrqDataBase& db = *Table.DataBase();
    TOrqSchemaManipulationParser& p = FParserEngine->SchemaParser();
    switch (p.Operation()) {
        case ddDropTable:
            db.DeleteTable(p.TableName(), p.TemporaryTable());
            return true;
        case ddCreateTable: {
            if (!Check(p.ValidateTableChanges(nullptr, nullptr), p.GetErrorMsg())) return false;
            Table.FieldDefs().Clear();
            const TInternalFields& columns = p.AddedFields();
            for (int i = 0; i < columns.Count(); ++i) {
                const TInternalFieldItem* c = columns.GetIndex(i);
                Table.FieldDefs().Add(c->FieldName(), c->DataType(), c->FieldSize(), c->Required());
            }
            Table.IndexDefs().Clear();
            if (!p.IndexName().empty() || p.IndexOptions().Contains(ixPrimary))
                Table.IndexDefs().Add(p.IndexName(), p.GetIndexFieldsAsText(), p.IndexOptions());
            return Table.CreateTable();
        }
        default:
            break;
    }
    // ALTER TABLE, CREATE INDEX, DROP INDEX: checked against the table as it is, then applied
    // by a restructure.
    Table.Open();
    const bool valid = p.ValidateTableChanges(&Table.GetInternalFields(), &Table.IndexDefs());
    Table.Close();
    if (!Check(valid, p.GetErrorMsg())) return false;
    TRestructureFieldDefs& fields = Table.GetRestructureFieldDefs();
    TRestructureIndexDefs& indexes = Table.GetRestructureIndexDefs();
    if (p.Operation() == ddAlterTable) p.SetRestructureFieldDefs(fields);
    p.SetRestructureIndexDefs(indexes);
    Table.RestructureTable(TRestructureRecord{});
    return true;
}

}  // namespace ostra
