// orqBaseTableRecords: the dataset face's record buffers, fetching (with the pending positioning
// that First and Last leave), bookmarks, field values between the cursor's layout and the
// framework's buffer forms, and editing with record locks and the table write lock.
#include <algorithm>
#include <cstring>

#include "engine/components/orqBaseTable.h"
#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataSetScopes.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/DateTime.h"
#include "host/db/DBConsts.h"
#include "host/db/Field.h"

namespace ostra {

namespace {

constexpr int C_STATUSOFFSET = 4;
constexpr int C_FLAGOFFSET = 5;

bool IsDateTimeField(TFieldType Type) { return Type == ftDate || Type == ftTime || Type == ftDateTime; }

// The stored day count (whole days since 1899-12-30 and the fraction of the day) of a date,
// time or date-time value in the framework's native form. A value that is no valid time stamp
// raises the conversion error rather than storing some other date.
double NativeToStored(TFieldType Type, const void* Buffer) {
    TDateTimeRec rec;
    std::memcpy(&rec, Buffer, sizeof rec);
    switch (Type) {
        case ftDate: return TimeStampToDateTime({0, rec.Date});
        case ftTime: return TimeStampToDateTime({rec.Time, DateDelta});
        default: return TimeStampToDateTime(MSecsToTimeStamp(static_cast<int64_t>(rec.DateTime)));
    }
}

// The framework's native form of a stored day count.
void StoredToNative(TFieldType Type, double Stored, void* Buffer) {
    const TTimeStamp stamp = DateTimeToTimeStamp(Stored);
    TDateTimeRec rec{};
    if (Type == ftDate)
        rec.Date = stamp.Date;
    else if (Type == ftTime)
        rec.Time = stamp.Time;
    else
        rec.DateTime = static_cast<double>(TimeStampToMSecs(stamp));
    std::memcpy(Buffer, &rec, sizeof rec);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Buffers

TRecordBuffer TOrqBaseTable::AllocRecordBuffer() {
    auto memory = std::make_unique<char[]>(size_t(FAllocSize));
    std::memset(memory.get(), 0, size_t(FAllocSize));
    TRecordBuffer buffer = memory.get();
    FAllocated[buffer] = std::move(memory);
    return buffer;
}

void TOrqBaseTable::FreeRecordBuffer(TRecordBuffer& Buffer) {
    FAllocated.erase(Buffer);
    Buffer = nullptr;
}

int TOrqBaseTable::GetRecordSize() { return InternalGetRecordSize(); }

void TOrqBaseTable::ClearCalcFields(TRecordBuffer Buffer) {
    std::memset(Buffer + FCalcFieldOffset, 0, size_t(CalcFieldsSize()));
}

void TOrqBaseTable::SetRecordStatus(TRecordBuffer Buffer, TRecordBufferStatus Status) {
    Buffer[FBookmarkInfoOffset + C_STATUSOFFSET] = char(Status);
}

TRecordBufferStatus TOrqBaseTable::GetRecordStatus(TRecordBuffer Buffer) const {
    return TRecordBufferStatus(uint8_t(Buffer[FBookmarkInfoOffset + C_STATUSOFFSET]));
}

TBookmarkFlag TOrqBaseTable::GetBookmarkFlag(TRecordBuffer Buffer) {
    return TBookmarkFlag(uint8_t(Buffer[FBookmarkInfoOffset + C_FLAGOFFSET]));
}

void TOrqBaseTable::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) {
    Buffer[FBookmarkInfoOffset + C_FLAGOFFSET] = char(Value);
}

void TOrqBaseTable::GetBookmarkData(TRecordBuffer Buffer, void* Data) {
    CheckActive();
    GetBookMarkFromBuf(RecBufOf(Buffer), static_cast<uint8_t*>(Data));
}

void TOrqBaseTable::SetBookmarkData(TRecordBuffer Buffer, const void* Data) {
    SetBookMarkToBuf(RecBufOf(Buffer), static_cast<const uint8_t*>(Data));
}

bool TOrqBaseTable::GetCurrentRecord(TRecordBuffer Buffer) {
    if (IsEmpty() || !ActiveBuffer()) return false;
    std::memcpy(Buffer, ActiveBuffer(), size_t(FAllocSize));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Fetching and moving

void TOrqBaseTable::FetchCursorRecord(TRecordBuffer Buffer) {
    // Runs once per record fetched: the cursor is open (it just found the record), so its buffer
    // size is taken without the open check.
    std::memcpy(Buffer, RecordBuffer(), size_t(RecordBufferSize()));
    GetCalcFields(Buffer);
    Buffer[FBookmarkInfoOffset + C_STATUSOFFSET] = char(rbBrowse);
    Buffer[FBookmarkInfoOffset + C_FLAGOFFSET] = char(bfCurrent);
}

TGetResult TOrqBaseTable::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) {
    if (FCheckFirst) {
        // The flag stays set while the master range is applied: that is how the range knows it
        // runs inside the first fetch (no browse-mode check, no First).
        try {
            if (Filtered()) InternalSetFilter();
            InternalCheckMasterRange();
        } catch (...) {
            FCheckFirst = false;
            throw;
        }
        FCheckFirst = false;
    }
    bool found = false;
    TGetResult failure = grError;
    const TPending pending = FPending;
    FPending = ppNone;
    switch (GetMode) {
        case gmCurrent:
            if (pending == ppCurrent)
                found = true;
            else if (pending == ppFirst)
                found = DataSetFirst();
            else if (pending == ppLast)
                found = DataSetLast();
            else
                found = Find(stEQ, IndexName(), nullptr);
            break;
        case gmNext:
            failure = grEOF;
            found = pending == ppFirst ? DataSetFirst() : DataSetNext();
            break;
        case gmPrior:
            failure = grBOF;
            found = pending == ppLast ? DataSetLast() : DataSetPrior();
            break;
    }
    if (!found) return failure;
    FetchCursorRecord(Buffer);
    return grOK;
}

void TOrqBaseTable::InternalFirst() { FPending = ppFirst; }

void TOrqBaseTable::InternalLast() { FPending = ppLast; }

void TOrqBaseTable::InternalSetToRecord(TRecordBuffer Buffer) {
    // A new record has no stored place to go to.
    if (GetRecordStatus(Buffer) == rbInsert) return;
    SetToRecordBuffer(RecBufOf(Buffer), false, State() < dsEdit);
}

void TOrqBaseTable::InternalGotoBookmark(const void* Bookmark) {
    const auto* bookmark = static_cast<const uint8_t*>(Bookmark);
    // A block reused by another record is no match: the logical number must agree too.
    if (!CheckBookMarkValid(bookmark) || !DataSetSetToBookmark(bookmark))
        OrqDatabaseError(10021, "TOrqBaseTable.InternalGotoBookmark", "", this);
}

bool TOrqBaseTable::BookmarkValid(const TBookmark& Value) {
    CheckActive();
    return Value.size() == size_t(C_BOOKMARKSIZE) && CheckBookMarkValid(reinterpret_cast<const uint8_t*>(Value.data()));
}

int TOrqBaseTable::CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) {
    if (Bookmark1.empty() && Bookmark2.empty()) return 0;
    if (Bookmark1.empty() || Bookmark2.empty()) return 1;
    const size_t count = std::min<size_t>({size_t(C_BOOKMARKSIZE), Bookmark1.size(), Bookmark2.size()});
    for (size_t i = 0; i < count; ++i) {
        const int difference = int(uint8_t(Bookmark1[i])) - int(uint8_t(Bookmark2[i]));
        if (difference != 0) return difference;
    }
    return 0;
}

int TOrqBaseTable::GetRecordCount() {
    CheckActive();
    return GetCurrentRecordCount();
}

int TOrqBaseTable::GetRecNo() {
    TRecordBuffer buffer = nullptr;
    if (!Active() || !GetActiveRecBuf(buffer)) return 0;
    return DataSetGetRecordNoFromBuf(RecBufOf(buffer));
}

void TOrqBaseTable::SetRecNo(int Value) {
    CheckBrowseMode();
    if (DataSetSetRecordNo(Value) < 1) return;
    DoBeforeScroll();
    Resync({rmExact, rmCenter});
    DoAfterScroll();
}

void TOrqBaseTable::InternalRefresh() {
    if (!IsEmpty() && ActiveBuffer()) DataSetRefresh(RecBufOf(ActiveBuffer()), false);
}

// ---------------------------------------------------------------------------------------------
// Field values

bool TOrqBaseTable::GetFieldData(TField* Field, void* Buffer) {
    TRecordBuffer record = nullptr;
    if (State() == dsBrowse) {
        // Browsing reads the active buffer: the common case of every field read, decided here.
        if (IsEmpty()) return false;
        record = ActiveBuffer();
    } else if (!GetActiveRecBuf(record)) {
        return false;
    }
    if (Field->FieldNo() < 1) {
        const char* value = record + FCalcFieldOffset + Field->Offset();
        if (value[0] && Buffer) std::memcpy(Buffer, value + 1, size_t(Field->DataSize()));
        return value[0] != 0;
    }
    const int fieldNo = CursorFieldNo(Field);
    if (fieldNo < 0) return false;
    const uint8_t* buf = RecBufOf(record);
    // A blob's value is read through a blob stream; here only its null flag is asked for.
    if (Field->IsBlob()) return !GetIsFieldNullFromRecBuf(buf, fieldNo);
    const TInternalFieldItem& item = TOrqDataSet::Field(fieldNo);
    const int dataSize = Buffer ? Field->DataSize() : 0;
    if (Buffer && !item.IsVariable() && item.FieldSize() == dataSize && !IsBlobFieldType(item.DataType()) &&
        !IsDateTimeField(Field->DataType())) {
        // A value of fixed size that fills the framework's buffer: copied as it is stored.
        if (buf[item.NullFlagOffset()] == C_FIELDISNULL) {
            std::memset(Buffer, 0, size_t(dataSize));
            return false;
        }
        const uint8_t* value = buf + item.DataOffset();
        // The sizes of numbers copy without a call.
        switch (dataSize) {
            case 2: std::memcpy(Buffer, value, 2); break;
            case 4: std::memcpy(Buffer, value, 4); break;
            case 8: std::memcpy(Buffer, value, 8); break;
            default: std::memcpy(Buffer, value, size_t(dataSize));
        }
        return true;
    }
    if (Buffer) std::memset(Buffer, 0, size_t(dataSize));
    bool isNull = false;
    if (IsDateTimeField(Field->DataType())) {
        double stored = 0;
        DataSetGetFieldDataFromRecBuf(fieldNo, isNull, Buffer ? &stored : nullptr, buf);
        if (!isNull && Buffer) StoredToNative(Field->DataType(), stored, Buffer);
        return !isNull;
    }
    DataSetGetFieldDataFromRecBuf(fieldNo, isNull, Buffer, buf);
    return !isNull;
}

void TOrqBaseTable::SetFieldData(TField* Field, const void* Buffer) {
    const TDataSetState state = State();
    if (!((state >= dsEdit && state <= dsNewValue) || state == dsInternalCalc)) DatabaseError(SNotEditing, this);
    TRecordBuffer record = nullptr;
    if (!GetActiveRecBuf(record)) DatabaseError(SNotEditing, this);
    if (Field->FieldNo() < 1) {
        char* value = record + FCalcFieldOffset + Field->Offset();
        value[0] = Buffer ? 1 : 0;
        if (Buffer) std::memcpy(value + 1, Buffer, size_t(Field->DataSize()));
    } else {
        if (state == dsCalcFields) DatabaseError(SNotEditing, this);
        const int fieldNo = CursorFieldNo(Field);
        if (fieldNo < 0) DatabaseErrorFmt(SFieldNotFound, {Field->FieldName()}, this);
        Field->Validate(Buffer);
        uint8_t* buf = RecBufOf(record);
        if (!Buffer) {
            DataSetSetFieldDataToRecBuf(fieldNo, 0, true, buf, nullptr);
        } else if (IsDateTimeField(Field->DataType())) {
            const double stored = NativeToStored(Field->DataType(), Buffer);
            DataSetSetFieldDataToRecBuf(fieldNo, int(sizeof stored), false, buf, &stored);
        } else if (Field->DataType() == ftString) {
            const auto* text = static_cast<const char*>(Buffer);
            DataSetSetFieldDataToRecBuf(fieldNo, int(strnlen(text, size_t(Field->DataSize()))), false, buf, text);
        } else {
            DataSetSetFieldDataToRecBuf(fieldNo, -1, false, buf, Buffer);
        }
    }
    // Nobody watches the filter buffer that a new record is prepared in.
    if (state != dsCalcFields && state != dsFilter) DataEvent(deFieldChange, FieldInfo(Field));
}

// ---------------------------------------------------------------------------------------------
// Editing

void TOrqBaseTable::InternalInitRecord(TRecordBuffer Buffer) {
    char* filter = FFilterRecBuffer.data();
    TTempStateScope state(*this, dsFilter);
    std::memset(filter, 0, size_t(FAllocSize));
    InitializeNewRecord(RecBufOf(filter), false);
    if (Buffer == filter) return;
    for (int i = 0; i < FieldCount(); ++i) {
        TField* field = Fields().Fields(i);
        if (field->FieldNo() >= 1 && !field->ReadOnly() && !field->DefaultExpression().empty())
            field->SetAsString(field->DefaultExpression());
    }
    std::memcpy(Buffer, filter, size_t(FAllocSize));
}

void TOrqBaseTable::InternalInsert() {
    SetRecordStatus(ActiveBuffer(), rbInsert);
    CursorPosChanged();
}

void TOrqBaseTable::InternalEdit() {
    TRecordBuffer active = ActiveBuffer();
    if (GetRecordStatus(active) != rbBrowse)
        OrqDatabaseError(8581, "TOrqBaseTable.GetActiveRecBuf", "Internal State error - RecBuf not available for editing",
                         this);
    const uint32_t address = TrailerAddress(RecBufOf(active));
    // The lock comes first, so the record read under it is the one the edit starts from.
    InternalSetRecordLock(address);
    try {
        SetToRecordBuffer(RecBufOf(active), true, true);
        // A record another connection deleted: the cursor moved to a neighbour, which is not the
        // record to edit.
        if (DatasetGetRecAddr() != address) OrqDatabaseError(8708, "TOrqBaseTable.InternalEdit", "", this);
        std::memcpy(active, RecordBuffer(), size_t(InternalGetRecordSize()));
    } catch (...) {
        try {
            InternalReleaseRecordLock(address);
        } catch (...) {
        }
        throw;
    }
    SetRecordStatus(active, rbEdit);
}

void TOrqBaseTable::ReleaseBufferLock(TRecordBuffer Buffer) {
    const uint32_t address = TrailerAddress(RecBufOf(Buffer));
    if (address != 0 && RecordLockAddress() == address) InternalReleaseRecordLock(address);
}

void TOrqBaseTable::InternalCancel() {
    TRecordBuffer active = ActiveBuffer();
    if (!IsEmpty()) ReleaseBufferLock(active);
    SetRecordStatus(active, rbBrowse);
}

void TOrqBaseTable::WriteRecordBuffer(TRecordBuffer Buffer, bool Insert, bool TakeWriteLock) {
    const uint32_t address = TrailerAddress(RecBufOf(Buffer));
    auto write = [&] {
        SetRecordBuffer(RecBufOf(Buffer), InternalGetRecordSize());
        if (Insert) {
            // An auto-increment field left empty takes the table's next value.
            const int autoInc = RecordMgr().Fields().AutoIncFieldNo();
            AddRecord(autoInc < 0 || GetIsFieldNullFromRecBuf(RecordBuffer(), autoInc));
        } else {
            TOrqDataSet::UpdateRecord();
        }
    };
    try {
        if (TakeWriteLock) {
            TWriteLockScope lock(*this);
            write();
            lock.Release();
        } else {
            write();
        }
    } catch (...) {
        // The cursor gives the record lock back on every exit of an update; the edit goes on, so
        // its record stays locked.
        if (!Insert && address != 0 && RecordLockAddress() != address) {
            try {
                InternalSetRecordLock(address);
            } catch (...) {
            }
        }
        throw;
    }
}

void TOrqBaseTable::InternalPost() {
    TDataSet::InternalPost();
    WriteRecordBuffer(ActiveBuffer(), State() == dsInsert, true);
    SetRecordStatus(ActiveBuffer(), rbBrowse);
    // The cursor stands on the record just written, its stored bytes in the record buffer: the
    // framework's fetch of the current record after the post takes them without searching the
    // key again. A range or a filter may leave the cursor elsewhere: those search.
    if (!RangeOn() && !FilterMgr().Active()) FPending = ppCurrent;
}

void TOrqBaseTable::SilentPost() {
    WriteRecordBuffer(ActiveBuffer(), State() == dsInsert, false);
    SetRecordStatus(ActiveBuffer(), rbBrowse);
}

void TOrqBaseTable::InternalAddRecord(TRecordBuffer Buffer, bool Append) { WriteRecordBuffer(Buffer, true, true); }

void TOrqBaseTable::InternalDelete() {
    TRecordBuffer active = ActiveBuffer();
    {
        TWriteLockScope lock(*this);
        if (DeleteRecord(RecBufOf(active)) < 0) OrqDatabaseError(8708, "TOrqBaseTable.InternalDelete", "", this);
        lock.Release();
    }
    try {
        ReleaseBufferLock(active);
    } catch (...) {
    }
    SetRecordStatus(active, rbInvalid);
}

bool TOrqBaseTable::GetCanModify() { return FOpened && !ReadOnly() && !CheckReadOnlyPrivileges(); }

}  // namespace ostra
