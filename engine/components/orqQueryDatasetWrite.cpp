// orqQueryDatasetWrite: TOrqQueryDataset as the cursor over the target table of INSERT, UPDATE
// and DELETE.
//
// DELETE and UPDATE take the addresses of the records they touch before the first change and
// then visit each by its address. Walking an index while changing the records it orders would
// skip or repeat records whose key moves (UPDATE t SET k = k + 15 over 10, 20, 30 would move 10
// past 20 and never reach 20).
#include "engine/components/orqFilterMgr.h"
#include "engine/components/orqQueryDataset.h"
#include "engine/sql/orqExecParsers.h"
#include "host/Exceptions.h"
#include "host/Streams.h"
#include "host/db/Field.h"

namespace ostra {

// Opens a closed dataset for one write and closes it again afterwards (also on failure).
struct TOrqQueryDataset::TWriteScope {
    explicit TWriteScope(TOrqQueryDataset& D) : Dataset(D), WasClosed(!D.Active()) {
        if (WasClosed) Dataset.Open();
    }
    ~TWriteScope() {
        if (!WasClosed) return;
        try {
            Dataset.Close();
        } catch (...) {
        }
    }
    // After the writes: a dataset left open shows the table as it now is.
    void Done() {
        if (!CloseIfOpenedHere()) Dataset.First();
    }
    // After a write that nothing reads back (the single row of INSERT ... VALUES into the kept
    // target cursor): the dataset stays where the write left it.
    bool CloseIfOpenedHere() {
        if (!WasClosed) return false;
        WasClosed = false;
        Dataset.Close();
        return true;
    }
    TOrqQueryDataset& Dataset;
    bool WasClosed;
};

namespace {

// The cursor's AutoInc field gets the next counter value when the record leaves it NULL.
bool UseAutoIncFor(const TOrqDataSet& Cursor) {
    const int autoInc = Cursor.GetInternalFields().AutoIncFieldNo();
    return autoInc < 0 || Cursor.GetIsFieldNullFromRecBuf(Cursor.RecordBuffer(), autoInc);
}

}  // namespace

void TOrqQueryDataset::InternalSetResultSetFieldSources(TResultSetFields& Fields) {
    for (int i = 0; i < Fields.Count(); ++i) {
        TResultSetField& field = *Fields.GetItems(i);
        FieldByName(field.FieldName());  // an unknown column raises the framework's error
        field.SetSourceFieldNo(GetFieldNo(field.FieldName()));
    }
}

void TOrqQueryDataset::SetResultSetFieldFromVariant(int FieldNo, const Variant& Value) {
    // Empty is the evaluator's "unknown" (NULL + 15): it is stored as NULL, never as 0 or "".
    const bool isNull = VarIsNull(Value) || VarIsEmpty(Value);
    if (!IsFieldBlob(FieldNo)) {
        DataSetSetFieldDataToRecBufAsVariant(RecordBuffer(), FieldNo, isNull ? Null() : Value);
        return;
    }
    TMemoryStream stream;
    if (!isNull) {
        const std::string text = Value.AsString();
        stream.Write(text.data(), int64_t(text.size()));
        stream.SetPosition(0);
    }
    DataSetSetFieldStream(FieldNo, isNull, isNull ? nullptr : &stream);
}

void TOrqQueryDataset::GetFieldData(int FieldNo, Variant& Value) {
    DataSetGetFieldDataAsVariant(FieldNo, Value);
}

void TOrqQueryDataset::InsertData(TResultSetFields& Fields, bool SourcesBound) {
    FRowsAffected = 0;
    TWriteScope scope(*this);
    if (!SourcesBound || scope.WasClosed) InternalSetResultSetFieldSources(Fields);
    ClearRecord(nullptr);
    for (int i = 0; i < Fields.Count(); ++i) {
        const TResultSetField& field = *Fields.GetItems(i);
        SetResultSetFieldFromVariant(field.SourceFieldNo(), field.Data());
    }
    AddRecord(UseAutoIncFor(*this));
    FRowsAffected = 1;
    scope.CloseIfOpenedHere();
}

void TOrqQueryDataset::InsertDataFromDataset(TResultSetFields& Fields, TDataSet* Source, bool ResetCount,
                                             bool Distinct) {
    Assert(Source != nullptr, "Source dataset is not assigned");
    if (ResetCount) FRowsAffected = 0;
    TWriteScope scope(*this);
    InternalSetResultSetFieldSources(Fields);
    const int columns = std::min(Fields.Count(), Source->Fields().Count());
    for (Source->First(); !Source->Eof(); Source->Next()) {
        ClearRecord(nullptr);
        for (int i = 0; i < columns; ++i) {
            const TField* from = Source->Fields()[i];
            SetResultSetFieldFromVariant(Fields.GetItems(i)->SourceFieldNo(),
                                         from->IsNull() ? Null() : from->AsVariant());
        }
        if (Distinct && KeyExists(C_IDXDISTINCT, nullptr)) continue;
        AddRecord(UseAutoIncFor(*this));
        ++FRowsAffected;
    }
    scope.Done();
}

void TOrqQueryDataset::DeleteData(bool All, std::vector<uint32_t>& List) {
    TWriteScope scope(*this);
    if (All) LoadAddresses(List);
    FRowsAffected = 0;
    for (uint32_t addr : List) {
        DataSetSetToUnorderedRecord(addr);
        DeleteRecord(nullptr);
        ++FRowsAffected;
    }
    scope.Done();
}

void TOrqQueryDataset::UpdateData(bool All, std::vector<uint32_t>& List,
                                  TOrqUpdateRowConstructor& RowConstructor) {
    FRowsAffected = 0;
    TWriteScope scope(*this);
    for (int i = 0; i < RowConstructor.Count(); ++i) {
        TOrqUpdateRowConstructorElement& element = *RowConstructor.GetItems(i);
        FieldByName(element.TargetColumnName());  // an unknown column raises the framework's error
        element.SetTargetColumnIndex(GetFieldNo(element.TargetColumnName()));
    }
    TOrqExprDBDataProvider& provider = RowProvider();
    provider.SetReadDataFromRecBuf(true);
    RowConstructor.Prepare(&provider);
    if (All) LoadAddresses(List);
    for (uint32_t addr : List) {
        DataSetSetToUnorderedRecord(addr);
        UpdateCurrentRecord(RowConstructor);
        ++FRowsAffected;
    }
    scope.Done();
}

void TOrqQueryDataset::UpdateCurrentRecord(TOrqUpdateRowConstructor& RowConstructor) {
    const bool wasClosed = !Active();
    if (wasClosed) Open();
    for (int i = 0; i < RowConstructor.Count(); ++i) {
        TOrqUpdateRowConstructorElement& element = *RowConstructor.GetItems(i);
        SetResultSetFieldFromVariant(element.TargetColumnIndex(), element.GetRowData());
    }
    UpdateRecord();
    if (wasClosed) Close();
}

}  // namespace ostra
