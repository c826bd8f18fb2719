// orqBaseTable: the dataset face's construction, open and close, field and index definitions,
// the table-wide operations (CreateTable, Flush, Locked) and the key and range buffers of the
// search-key state. Records, bookmarks, field data and editing are in orqBaseTableRecords.cpp.
#include "engine/components/orqBaseTable.h"

#include <algorithm>
#include <cstring>

#include "engine/components/orqDataBase.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Collation.h"
#include "host/UIServices.h"
#include "host/db/DBConsts.h"
#include "host/db/Field.h"
#include "host/db/FieldDefs.h"

namespace ostra {

TOrqBaseTable::TOrqBaseTable(TComponent* AOwner)
    : TOrqDataSet(AOwner), FIndexDefs(std::make_unique<TIndexDefs>(this)) {}

TOrqBaseTable::~TOrqBaseTable() {
    Destroying();
    try {
        Close();
    } catch (...) {
    }
}

TOrqDataBase* TOrqBaseTable::DataBase() const { return dynamic_cast<TOrqDataBase*>(TOrqDataSet::DataBase()); }

void TOrqBaseTable::SetDataBase(TOrqDataBase* Value) { TOrqDataSet::SetDataBase(Value); }

void TOrqBaseTable::SetIndexDefs(const TIndexDefs* Value) {
    FIndexDefs->Clear();
    if (!Value) return;
    for (int i = 0; i < Value->Count(); ++i) FIndexDefs->AddIndexDef()->Assign(Value->Items(i));
}

TIndexDef* TOrqBaseTable::FindIndexDefByName(const std::string& Name) const {
    for (int i = 0; i < FIndexDefs->Count(); ++i)
        if (AnsiCompareText(FIndexDefs->Items(i)->Name(), Name) == 0) return FIndexDefs->Items(i);
    return nullptr;
}

void TOrqBaseTable::Notification(TComponent* AComponent, TOperation Operation) {
    // The cursor lets go of a database that is going without touching it; the framework's side
    // then closes with nothing left to release.
    TOrqDataSet::Notification(AComponent, Operation);
    if (Operation == opRemove && Active() && !TOrqDataSet::DataBase()) {
        try {
            Close();
        } catch (...) {
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TOrqBaseTable::InternalOpen() {
    TOrqDataBase* database = DataBase();
    if (!database) OrqDatabaseError(10112, "TOrqBaseTable.InternalOpen", "", this);
    if (!database->Connected()) database->Open();
    FOpened = true;
    if (FKeepCursorOnClose && InternalActive()) {
        // The kept cursor reads afresh: no rows read ahead, every tree cursor searched again.
        InvalidateReadAhead(true);
        InvalidateTreeCursors();
    } else {
        try {
            DataSetOpen();
        } catch (...) {
            FOpened = false;
            throw;
        }
    }
    FCursorOpen = true;
    FPending = ppFirst;
    // A failure from here on is undone by the framework, which closes through InternalClose.
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    DataSetSetFieldPrivileges();
    SetBookmarkSize(C_BOOKMARKSIZE);
    FCalcFieldOffset = InternalGetRecordSize() + 1;
    FBookmarkInfoOffset = FCalcFieldOffset + CalcFieldsSize();
    FRecordBufferSize = FBookmarkInfoOffset + 8;
    FAllocSize = FRecordBufferSize + 8;
    FKeyBuffer.assign(size_t(FAllocSize), 0);
    FFilterRecBuffer.assign(size_t(FAllocSize), 0);
    FScratchRecBuffer.assign(size_t(FAllocSize), 0);
    FCheckFirst = true;
    UpdateIndexDefs();
}

void TOrqBaseTable::InternalClose() {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    std::exception_ptr failure;
    if (FCursorOpen && TOrqDataSet::DataBase() && InternalActive()) {
        TRecordBuffer active = ActiveBuffer();
        try {
            if (active && !IsEmpty()) ReleaseBufferLock(active);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    try {
        if (!FKeepCursorOnClose) DataSetClose();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    FCursorOpen = FOpened = false;
    FIndexFieldsKnown = false;
    FIndexFields.clear();
    FKeyMode = kmNone;
    FPending = ppNone;
    FKeyBuffer.clear();
    FFilterRecBuffer.clear();
    FScratchRecBuffer.clear();
    if (failure) std::rethrow_exception(failure);
}

void TOrqBaseTable::InternalHandleException() { ApplicationHandleException(this); }

void TOrqBaseTable::InternalInitFieldDefs() {
    if (FieldCount() == 0) SetDefaultFields(true);
    if (!TOrqDataSet::DataBase()) return;
    const bool openHere = !InternalActive();
    bool connectedHere = false;
    const bool readOnly = ReadOnly();
    TOrqDataBase* database = DataBase();
    if (openHere) {
        if (database && !database->Connected()) {
            database->Open();
            connectedHere = true;
        }
        SetReadOnly(true);
    }
    auto undo = [&] {
        if (!openHere) return;
        try {
            InternalCloseForDefs();
        } catch (...) {
        }
        SetReadOnly(readOnly);
        if (connectedHere) database->Close();
    };
    try {
        if (openHere) InternalOpenForDefs();
        TFieldDefs& defs = FieldDefs();
        defs.Clear();
        FFieldMap.clear();
        const TInternalFields& layout = GetInternalFields();
        for (int i = 0; i < layout.Count(); ++i) {
            const TInternalFieldItem* item = layout.GetIndex(i);
            if (item->Hidden()) continue;
            GetFieldDef(item->FieldIndex(), *defs.AddFieldDef());
            FFieldMap.push_back(item->FieldIndex());
        }
        defs.SetUpdated(true);
        // The cursor is open: the index definitions are read with the fields.
        UpdateIndexDefs();
    } catch (...) {
        undo();
        throw;
    }
    undo();
}

void TOrqBaseTable::UpdateIndexDefs() {
    FIndexDefs->Clear();
    if (InternalActive()) {
        TIndexManager& indexes = IndexMgr();
        for (int i = 0; i < indexes.Count(); ++i)
            if (!indexes.GetItems(i)->Hidden()) GetIndexDef(i, *FIndexDefs->AddIndexDef());
    }
    FIndexDefs->SetUpdated(true);
}

// ---------------------------------------------------------------------------------------------
// Table-wide operations

void TOrqBaseTable::InternalPrepareTableDef() {
    const char* caller = "TOrqTable.CreateTable";
    TOrqDataBase* database = DataBase();
    if (!database) OrqDatabaseError(10112, caller, "", this);
    database->CheckConnected(Memory());
    if (!Memory() && database->InTransaction()) OrqDatabaseError(10122, caller, "", this);
    if (EncryptionLevel() != encNone) {
        if (Memory()) OrqDatabaseError(10880, caller, "", this);
        if (!database->UseEncryption())
            OrqDatabaseError(10766, caller, "This database does not use/support encryption", this);
    }
    SetTableDef(Memory(), FieldDefs(), *FIndexDefs);
}

bool TOrqBaseTable::CreateTable() {
    CheckInactive();
    InternalPrepareTableDef();
    InternalCreateTable();
    return true;
}

void TOrqBaseTable::EmptyTable() {
    CheckBrowseMode();
    TOrqDataBase* database = DataBase();
    if (!Memory() && database && database->InTransaction())
        OrqDatabaseError(10122, "TOrqTable.EmptyTable", "", this);
    DataSetEmptyTable();
    ReapplyFilter();
    First();
}

void TOrqBaseTable::ReapplyFilter() {
    if (!FilterMgr().Active()) return;
    InternalClearFilter();
    InternalSetFilter();
}

void TOrqBaseTable::Flush() {
    CheckActive();
    if (State() == dsEdit || State() == dsInsert) Post();
    if (TOrqDataBase* database = DataBase()) database->FlushBuffers();
}

void TOrqBaseTable::SetLocked(bool Value) {
    CheckActive();
    if (Value) {
        if (!WriteLocked()) LockTable();
    } else if (TableLocked()) {
        UnlockTable();
    }
}

// ---------------------------------------------------------------------------------------------
// The buffers of the current state

bool TOrqBaseTable::GetActiveRecBuf(TRecordBuffer& Buffer) {
    switch (State()) {
        case dsBrowse:
        case dsBlockRead:
            Buffer = IsEmpty() ? nullptr : ActiveBuffer();
            break;
        case dsEdit:
        case dsInsert:
        case dsNewValue:
            Buffer = ActiveBuffer();
            break;
        case dsSetKey:
            if (FKeyMode == kmFind)
                Buffer = KeyBuffer();
            else if (FKeyMode == kmRange)
                Buffer = reinterpret_cast<TRecordBuffer>(GetRangeRecBuf(FRangeMode));
            else
                OrqDatabaseError(8581, "TOrqBaseTable.GetActiveRecBuf", "State error - no KeyMode set for SetKey state",
                                 this);
            break;
        case dsCalcFields:
            Buffer = CalcBuffer();
            break;
        case dsFilter:
            Buffer = FFilterRecBuffer.empty() ? nullptr : FFilterRecBuffer.data();
            break;
        default:
            Buffer = nullptr;
    }
    return Buffer != nullptr;
}

int TOrqBaseTable::SetIndexFields(const std::vector<Variant>& Values, const std::string& IndexName) {
    CheckIndexesPresent();
    TIndexDef* def = FindIndexDefByName(IndexName);
    if (!def) OrqDatabaseErrorFmt(9997, "TOrqTable.SetIndexFields", SorqIndexFmt, {IndexName}, this);
    // Every key search looks the index's fields up: the list found last is kept while the field
    // names and the dataset's fields stay as they were.
    if (!FIndexFieldsKnown || FIndexFieldsChanges != Fields().Changes() || FIndexFieldNames != def->Fields()) {
        std::vector<TField*> fields;
        GetFieldList(fields, def->Fields());
        FIndexFields = std::move(fields);
        FIndexFieldNames = def->Fields();
        FIndexFieldsChanges = Fields().Changes();
        FIndexFieldsKnown = true;
    }
    const size_t count = std::min(FIndexFields.size(), Values.size());
    // An OnChange handler may look fields up meanwhile: the list is read by position each time.
    for (size_t i = 0; i < count && i < FIndexFields.size(); ++i) FIndexFields[i]->AssignValue(Values[i]);
    return int(count);
}

void TOrqBaseTable::InternalSetRange(const std::vector<Variant>& Start, const std::vector<Variant>& End) {
    CheckBrowseMode();
    CheckIndexesPresent();
    const TDataSetState saved = SetTempState(dsSetKey);
    FKeyMode = kmRange;
    try {
        DataSetClearRange();
        FRangeMode = rmRangeStart;
        SetIndexFields(Start, IndexName());
        FRangeMode = rmRangeEnd;
        SetIndexFields(End, IndexName());
        SetRangeOn(true);
    } catch (...) {
        RestoreState(saved);
        FKeyMode = kmNone;
        throw;
    }
    RestoreState(saved);
    FKeyMode = kmNone;
    First();
}

}  // namespace ostra
