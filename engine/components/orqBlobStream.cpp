// orqBlobStream: the blob stream of the dataset face.
#include "engine/components/orqBlobStream.h"

#include "engine/components/orqBaseTable.h"
#include "engine/storage/orqLogger.h"
#include "host/db/BlobFields.h"
#include "host/db/DBConsts.h"

namespace ostra {

TBlobStream::TBlobStream(TField* Field, TBlobStreamMode Mode)
    : FField(dynamic_cast<TBlobField*>(Field)), FDataSet(nullptr), FMode(Mode) {
    Assert(FField != nullptr, "Mismatch in calling dataset type");
    FDataSet = dynamic_cast<TOrqBaseTable*>(FField->DataSet());
    Assert(FDataSet != nullptr, "Mismatch in calling dataset type");
    TRecordBuffer buffer = nullptr;
    if (!FDataSet->GetActiveRecBuf(buffer)) return;
    FBuffer = buffer;
    if (Mode != bmRead && !FField->Modified()) {
        if (FField->ReadOnly()) DatabaseErrorFmt(SFieldReadOnly, {FField->DisplayName()}, FDataSet);
        if (FDataSet->State() != dsEdit && FDataSet->State() != dsInsert) DatabaseError(SNotEditing, FDataSet);
    }
    const auto* record = reinterpret_cast<const uint8_t*>(FBuffer);
    const int fieldNo = FDataSet->CursorFieldNo(FField);
    // A read-write stream starts from the content too: what it stores must keep what it did not
    // overwrite.
    if (Mode != bmWrite || FField->Modified()) {
        bool loaded = false;
        if (Mode == bmRead && !FField->Modified()) loaded = FCached = FDataSet->GetBlobCacheData(record, fieldNo, *this);
        if (!loaded) {
            bool isNull = true;
            FDataSet->DataSetGetFieldStreamFromRecBuf(record, fieldNo, isNull, *this);
            if (Mode == bmRead) {
                FDataSet->SetBlobCacheData(record, fieldNo, this);
                FCached = FDataSet->UseBlobCache();
            }
        }
    }
    if (Mode == bmWrite) {
        Clear();
        FModified = true;
    }
    SetPosition(0);
    FOpened = true;
}

TBlobStream::~TBlobStream() {
    try {
        Commit();
    } catch (const Exception& e) {
        if (TDBLogger* logger = GDBLogger()) logger->LogItem("TBlobStream.Destroy", e.Message());
    }
}

int64_t TBlobStream::Write(const void* Buffer, int64_t Count) {
    // A read-write stream that is written to stores its content too.
    if (FMode != bmRead) FModified = true;
    return TMemoryStream::Write(Buffer, Count);
}

void TBlobStream::Commit() {
    if (FMode == bmRead || FBuffer == nullptr || !FModified) return;
    FModified = false;
    SetPosition(0);
    FField->SetModified(true);
    FDataSet->DataSetSetFieldStreamFromRecBuf(reinterpret_cast<const uint8_t*>(FBuffer),
                                              FDataSet->CursorFieldNo(FField), false, this);
    FDataSet->DataEvent(deFieldChange, FieldInfo(FField));
}

}  // namespace ostra
