// orqDataSetMaintenance: the cursor's whole-table operations. Emptying a table, rebuilding its
// indexes from the stored records, rebuilding it through a backup copy of the database, changing
// its structure, and the raw record copy between two cursors that every rebuild and restructure
// uses as its data path.
#include "engine/components/orqDataSet.h"
#include "engine/storage/orqErrors.h"

namespace ostra {

namespace {
[[noreturn]] void NotBuilt(const char* Caller, TObject* Sender) {
    OrqDatabaseError(8581, Caller, "not built", Sender);
}
}  // namespace

void TOrqDataSet::DataSetEmptyTable() { NotBuilt("TOrqDataSet.DataSetEmptyTable", this); }
void TOrqDataSet::InitializeRebuild() { NotBuilt("TOrqDataSet.InitializeRebuild", this); }
void TOrqDataSet::FinalizeRebuild() { NotBuilt("TOrqDataSet.FinalizeRebuild", this); }
void TOrqDataSet::InternalReIndex(bool) { NotBuilt("TOrqDataSet.ReIndex", this); }
void TOrqDataSet::InternalRebuildTable() { NotBuilt("TOrqDataSet.InternalRebuildTable", this); }
int TOrqDataSet::InternalRestructureTable(const TInternalRestructureRecord&) {
    NotBuilt("TOrqDataSet.InternalRestructureTable", this);
}
int TOrqDataSet::CopyRawTableData(TOrqDataSet&) { NotBuilt("TOrqDataSet.CopyRawTableData", this); }

}  // namespace ostra
