// TDataSet: inserting, appending, editing, posting, cancelling and deleting records, with their
// events, the error events of the three operations and the required-field check.
#include <string>

#include "host/db/DBConsts.h"
#include "host/db/DataSet.h"
#include "host/db/Field.h"

namespace ostra {

void TDataSet::CheckOperation(TDataOperation Operation, const TDataSetErrorEvent& ErrorEvent) {
    for (;;) {
        try {
            UpdateCursorPos();
            (this->*Operation)();
            return;
        } catch (EDatabaseError& E) {
            TDataAction action = daFail;
            if (ErrorEvent) ErrorEvent(this, E, action);
            if (action == daFail) throw;
            if (action == daAbort) throw EAbort(SOperationAborted);
            // daRetry: run the operation again.
        }
    }
}

void TDataSet::UpdateRecord() {
    if (!IsEditMode(FState)) DatabaseError(SNotEditing, this);
    DataEvent(deUpdateRecord, 0);
}

void TDataSet::BeginInsertAppend() {
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeInsert();
    DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
    SetState(dsInsert);
    try {
        DoOnNewRecord();
    } catch (...) {
        UpdateCursorPos();
        FreeFieldBuffers();
        SetState(dsBrowse);
        Resync({});
        throw;
    }
    FModified = false;
    DataEvent(deDataSetChange, 0);
    DoAfterInsert();
    DoAfterScroll();
}

void TDataSet::Insert() {
    BeginInsertAppend();
    TBookmark oldCurrent = Bookmark();
    MoveBuffer(FRecordCount, FActiveRecord);
    TRecordBuffer buffer = ActiveBuffer();
    InternalInitRecord(buffer);
    ClearCalcFields(buffer);
    SetBookmarkFlag(buffer, bfInserted);
    // The new record carries the bookmark of the record it stands before, so that putting the
    // cursor on it puts the cursor where the record is to be inserted.
    if (FRecordCount == 0)
        SetBookmarkFlag(buffer, bfBOF);
    else if (!oldCurrent.empty())
        SetBookmarkData(buffer, oldCurrent.data());
    if (FRecordCount < FBufferCount) ++FRecordCount;
    if (FCurrentRecord >= FRecordCount) FCurrentRecord = -1;
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::Append() {
    BeginInsertAppend();
    ClearBuffers();
    TRecordBuffer buffer = FBuffers[0];
    InternalInitRecord(buffer);
    ClearCalcFields(buffer);
    SetBookmarkFlag(buffer, bfEOF);
    FRecordCount = 1;
    FBOF = false;
    GetPriorRecords();
    InternalLast();
    // The cursor now stands after the last record, where the new record belongs.
    CursorPosChanged();
    EndInsertAppend();
}

void TDataSet::Edit() {
    if (FState == dsEdit || FState == dsInsert) return;
    if (FRecordCount == 0) {
        Insert();
        return;
    }
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeEdit();
    CheckOperation(&TDataSet::InternalEdit, OnEditError);
    GetCalcFields(ActiveBuffer());
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    DoAfterEdit();
}

void TDataSet::Post() {
    UpdateRecord();
    switch (FState) {
        case dsEdit:
        case dsInsert:
            DataEvent(deCheckBrowseMode, 0);
            DoBeforePost();
            CheckOperation(&TDataSet::InternalPost, OnPostError);
            FreeFieldBuffers();
            SetState(dsBrowse);
            Resync({});
            DoAfterPost();
            break;
        case dsSetKey:
            // Ends the search-key state keeping the key; the links show the records again.
            DataEvent(deCheckBrowseMode, 0);
            SetState(dsBrowse);
            DataEvent(deDataSetChange, 0);
            break;
        default:
            break;
    }
}

void TDataSet::Cancel() {
    switch (FState) {
        case dsEdit:
        case dsInsert: {
            DataEvent(deCheckBrowseMode, 0);
            DoBeforeCancel();
            bool scrollEvents = FState == dsInsert;
            if (scrollEvents) DoBeforeScroll();
            UpdateCursorPos();
            InternalCancel();
            FreeFieldBuffers();
            SetState(dsBrowse);
            Resync({});
            DoAfterCancel();
            if (scrollEvents) DoAfterScroll();
            break;
        }
        case dsSetKey:
            DataEvent(deCheckBrowseMode, 0);
            SetState(dsBrowse);
            DataEvent(deDataSetChange, 0);
            break;
        default:
            break;
    }
}

void TDataSet::Delete() {
    CheckActive();
    if (FState == dsInsert || FState == dsSetKey) {
        Cancel();
        return;
    }
    if (FRecordCount == 0) DatabaseError(SDataSetEmpty, this);
    DataEvent(deCheckBrowseMode, 0);
    DoBeforeDelete();
    DoBeforeScroll();
    CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    DoAfterDelete();
    DoAfterScroll();
}

void TDataSet::ClearFields() {
    if (!IsEditMode(FState)) DatabaseError(SNotEditing, this);
    DataEvent(deCheckBrowseMode, 0);
    FreeFieldBuffers();
    InternalInitRecord(ActiveBuffer());
    if (FState != dsSetKey) GetCalcFields(ActiveBuffer());
    DataEvent(deRecordChange, 0);
}

void TDataSet::InternalPost() {
    for (TField* f : *FFields) {
        if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData && f->IsNull()) {
            DataEvent(deFocusControl, FieldInfo(f));
            DatabaseErrorFmt(SFieldRequired, {f->DisplayName()}, nullptr);
        }
    }
}

}  // namespace ostra
