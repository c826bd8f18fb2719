// TVectorDataSet: the record-buffer contract of TDataSet over rows in a std::vector.
#include "host/db/tests/support/VectorDataSet.h"

#include <algorithm>
#include <cstring>

#include "host/Collation.h"
#include "host/DateTime.h"
#include "host/db/BlobFields.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSource.h"
#include "host/db/Field.h"

namespace ostra::test {

namespace {

bool IsBlobType(TFieldType type) { return type >= ftBlob && type <= ftFmtMemo; }

int NativeSize(TFieldType type, int size) {
    switch (type) {
        case ftString: return size + 1;
        case ftSmallint: case ftWord: case ftBoolean: return 2;
        case ftInteger: case ftAutoInc: case ftDate: case ftTime: return 4;
        case ftFloat: case ftCurrency: case ftDateTime: return 8;
        case ftBytes: return size;
        default: return 4;  // blob handle
    }
}

template <class T>
void Put(char* dest, T value) {
    std::memcpy(dest, &value, sizeof value);
}

template <class T>
T Get(const char* source) {
    T value;
    std::memcpy(&value, source, sizeof value);
    return value;
}

}  // namespace

// A blob value as a memory stream; a write stream stores its content when it is freed.
class TVectorDataSet::TBlobStream : public TMemoryStream {
public:
    TBlobStream(TVectorDataSet* DataSet, TField* Field, TRecordBuffer Buffer, int Column, TBlobStreamMode Mode)
        : FDataSet(DataSet), FField(Field), FBuffer(Buffer), FColumn(Column), FMode(Mode) {
        if (!Buffer) return;
        const TColumn& column = FDataSet->FColumns[static_cast<size_t>(Column)];
        if (Mode == bmWrite) {
            FModified = true;
            return;
        }
        int32_t handle = Get<int32_t>(Buffer + column.Offset);
        std::string content;
        if (handle >= 0) {
            content = FDataSet->FPendingBlobs[handle];
        } else {
            int row = FDataSet->FindRow(FDataSet->BufferId(Buffer));
            if (row >= 0) content = FDataSet->FRows[static_cast<size_t>(row)].Blobs[Column];
        }
        if (!content.empty()) TMemoryStream::Write(content.data(), static_cast<int64_t>(content.size()));
        SetPosition(0);
    }

    ~TBlobStream() override {
        if (!FBuffer || FMode != bmWrite || !FModified) return;
        const TColumn& column = FDataSet->FColumns[static_cast<size_t>(FColumn)];
        std::string content(static_cast<size_t>(Size()), '\0');
        if (!content.empty()) std::memcpy(content.data(), Memory(), content.size());
        int32_t handle = FDataSet->FNextBlobHandle++;
        FDataSet->FPendingBlobs[handle] = content;
        Put<int32_t>(FBuffer + column.Offset, handle);
        FBuffer[4 + FColumn] = content.empty() ? 0 : 1;
        if (auto* blob = dynamic_cast<TBlobField*>(FField)) blob->SetModified(true);
        FDataSet->DataEvent(deFieldChange, FieldInfo(FField));
    }

    int64_t Write(const void* Buffer, int64_t Count) override {
        if (FMode == bmWrite) FModified = true;
        return TMemoryStream::Write(Buffer, Count);
    }

private:
    TVectorDataSet* FDataSet;
    TField* FField;
    TRecordBuffer FBuffer;
    int FColumn;
    TBlobStreamMode FMode;
    bool FModified = false;
};

TVectorDataSet::TVectorDataSet(TComponent* AOwner) : TDataSet(AOwner), FMasterLink(this) {
    FMasterLink.OnMasterChange = [this](TObject*) { MasterChanged(); };
    FMasterLink.OnMasterDisable = [this](TObject*) { MasterDisabled(); };
}

TVectorDataSet::~TVectorDataSet() {
    Destroying();
    Close();
}

// ---- Structure and rows ----------------------------------------------------------------------

void TVectorDataSet::AddColumn(const std::string& Name, TFieldType DataType, int Size, bool Required) {
    CheckInactive();
    if (!FRows.empty()) throw EDatabaseError("columns are added before rows");
    FColumns.push_back({Name, DataType, Size, Required, 0, NativeSize(DataType, Size)});
    ComputeLayout();
}

void TVectorDataSet::ComputeLayout() {
    int offset = 4 + static_cast<int>(FColumns.size());
    for (TColumn& c : FColumns) {
        c.Offset = offset;
        offset += c.DataSize;
    }
    FCalcOffset = offset;
}

void TVectorDataSet::AppendRow(const std::vector<Variant>& Values) {
    TRow row;
    row.Id = FNextId++;
    row.Record.assign(static_cast<size_t>(FCalcOffset), '\0');
    char* record = row.Record.data();
    Put<int32_t>(record, row.Id);
    for (size_t c = 0; c < FColumns.size(); ++c) {
        const TColumn& col = FColumns[c];
        char* dest = record + col.Offset;
        if (IsBlobType(col.DataType)) Put<int32_t>(dest, -1);
        if (c >= Values.size() || VarIsNull(Values[c]) || VarIsEmpty(Values[c])) continue;
        const Variant& v = Values[c];
        record[4 + c] = 1;
        switch (col.DataType) {
            case ftString: {
                std::string s = v.AsString();
                std::memcpy(dest, s.data(), std::min(s.size(), static_cast<size_t>(col.Size)));
                break;
            }
            case ftSmallint: Put<int16_t>(dest, static_cast<int16_t>(v.AsInteger())); break;
            case ftWord: Put<uint16_t>(dest, static_cast<uint16_t>(v.AsInteger())); break;
            case ftBoolean: Put<int16_t>(dest, v.AsBoolean() ? 1 : 0); break;
            case ftInteger: case ftAutoInc: Put<int32_t>(dest, v.AsInteger()); break;
            case ftFloat: case ftCurrency: Put<double>(dest, v.AsDouble()); break;
            case ftDate: Put<int32_t>(dest, DateTimeToTimeStamp(v.AsDateTime()).Date); break;
            case ftTime: Put<int32_t>(dest, DateTimeToTimeStamp(v.AsDateTime()).Time); break;
            case ftDateTime:
                Put<double>(dest, static_cast<double>(TimeStampToMSecs(DateTimeToTimeStamp(v.AsDateTime()))));
                break;
            case ftBytes: {
                std::string s = v.AsString();
                std::memcpy(dest, s.data(), std::min(s.size(), static_cast<size_t>(col.Size)));
                break;
            }
            default: {
                row.Blobs[static_cast<int>(c)] = v.AsString();
                record[4 + c] = row.Blobs[static_cast<int>(c)].empty() ? 0 : 1;
                break;
            }
        }
    }
    FRows.push_back(std::move(row));
}

Variant TVectorDataSet::RowValue(int Row, const std::string& Column) const {
    const TRow& row = FRows.at(static_cast<size_t>(Row));
    for (size_t c = 0; c < FColumns.size(); ++c) {
        const TColumn& col = FColumns[c];
        if (!AnsiSameText(col.Name, Column)) continue;
        if (row.Record[4 + c] == 0) return Null();
        const char* src = row.Record.data() + col.Offset;
        switch (col.DataType) {
            case ftString: return Variant(std::string(src, strnlen(src, static_cast<size_t>(col.Size))));
            case ftSmallint: return Variant(static_cast<int>(Get<int16_t>(src)));
            case ftWord: return Variant(static_cast<int>(Get<uint16_t>(src)));
            case ftBoolean: return Variant(Get<int16_t>(src) != 0);
            case ftInteger: case ftAutoInc: return Variant(Get<int32_t>(src));
            case ftFloat: case ftCurrency: return Variant(Get<double>(src));
            case ftDate: return VarFromDateTime(TimeStampToDateTime({0, Get<int32_t>(src)}));
            case ftTime: return VarFromDateTime(TimeStampToDateTime({Get<int32_t>(src), DateDelta}));
            case ftDateTime:
                return VarFromDateTime(TimeStampToDateTime(MSecsToTimeStamp(static_cast<int64_t>(Get<double>(src)))));
            case ftBytes: return Variant(std::string(src, static_cast<size_t>(col.Size)));
            default: {
                auto it = row.Blobs.find(static_cast<int>(c));
                return it == row.Blobs.end() ? Null() : Variant(it->second);
            }
        }
    }
    throw EDatabaseError("no column " + Column);
}

std::vector<int32_t> TVectorDataSet::RowIds() const {
    std::vector<int32_t> ids;
    for (const TRow& row : FRows) ids.push_back(row.Id);
    return ids;
}

int32_t TVectorDataSet::BufferRowId(int Index) const { return BufferId(Buffers(Index)); }

int32_t TVectorDataSet::CursorRowId() const {
    if (FCursor < 0) return -1;
    if (FCursor >= RowCount()) return -2;
    return FRows[static_cast<size_t>(FCursor)].Id;
}

void TVectorDataSet::SetMasterSource(TDataSource* Value) {
    if (Value && IsLinkedTo(Value)) DatabaseError(SCircularDataLink, this);
    FMasterLink.SetDataSource(Value);
}

// ---- Buffers and bookmarks --------------------------------------------------------------------

TRecordBuffer TVectorDataSet::AllocRecordBuffer() {
    auto memory = std::make_unique<char[]>(static_cast<size_t>(FBufferSize));
    TRecordBuffer buffer = memory.get();
    FAllocated[buffer] = std::move(memory);
    return buffer;
}

void TVectorDataSet::FreeRecordBuffer(TRecordBuffer& Buffer) {
    FAllocated.erase(Buffer);
    Buffer = nullptr;
}

void TVectorDataSet::InternalInitRecord(TRecordBuffer Buffer) {
    // The row id stays: clearing an edited record's fields keeps it the same record.
    std::memset(Buffer + 4, 0, static_cast<size_t>(FCalcOffset - 4));
    for (const TColumn& col : FColumns)
        if (IsBlobType(col.DataType)) Put<int32_t>(Buffer + col.Offset, -1);
}

void TVectorDataSet::ClearCalcFields(TRecordBuffer Buffer) {
    std::memset(Buffer + FCalcOffset, 0, static_cast<size_t>(CalcFieldsSize()));
}

void TVectorDataSet::GetBookmarkData(TRecordBuffer Buffer, void* Data) { std::memcpy(Data, Buffer, 4); }

void TVectorDataSet::SetBookmarkData(TRecordBuffer Buffer, const void* Data) { std::memcpy(Buffer, Data, 4); }

TBookmarkFlag TVectorDataSet::GetBookmarkFlag(TRecordBuffer Buffer) {
    return static_cast<TBookmarkFlag>(Buffer[FCalcOffset + CalcFieldsSize()]);
}

void TVectorDataSet::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) {
    Buffer[FCalcOffset + CalcFieldsSize()] = static_cast<char>(Value);
}

int32_t TVectorDataSet::BufferId(const char* Buffer) const { return Get<int32_t>(Buffer); }

int TVectorDataSet::FindRow(int32_t Id) const {
    for (size_t r = 0; r < FRows.size(); ++r)
        if (FRows[r].Id == Id) return static_cast<int>(r);
    return -1;
}

bool TVectorDataSet::BookmarkValid(const TBookmark& Value) {
    return Value.size() == 4 && FindRow(Get<int32_t>(Value.data())) >= 0;
}

int TVectorDataSet::CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) {
    if (Bookmark1.empty() && Bookmark2.empty()) return 0;
    if (Bookmark1.empty() || Bookmark2.empty()) return 1;
    int r1 = FindRow(Get<int32_t>(Bookmark1.data()));
    int r2 = FindRow(Get<int32_t>(Bookmark2.data()));
    return (r1 > r2) - (r1 < r2);
}

void TVectorDataSet::InternalGotoBookmark(const void* Bookmark) {
    int row = FindRow(Get<int32_t>(static_cast<const char*>(Bookmark)));
    if (row < 0) DatabaseError(SBookmarkNotFound, this);
    FCursor = row;
}

void TVectorDataSet::InternalSetToRecord(TRecordBuffer Buffer) {
    int row = FindRow(BufferId(Buffer));
    if (row >= 0) FCursor = row;
}

// ---- Records -----------------------------------------------------------------------------------

void TVectorDataSet::LoadRow(int Row, TRecordBuffer Buffer) {
    std::memcpy(Buffer, FRows[static_cast<size_t>(Row)].Record.data(), static_cast<size_t>(FCalcOffset));
    ClearCalcFields(Buffer);
    SetBookmarkFlag(Buffer, bfCurrent);
}

bool TVectorDataSet::Accept(int Row) {
    bool master = FMasterLink.Active() && !FMasterLink.Fields().empty();
    bool filter = (Filtered() || FForceFilter) && OnFilterRecord();
    if (!master && !filter) return true;
    LoadRow(Row, FFilterBuffer);
    TDataSetState saved = SetTempState(dsFilter);
    bool accept = true;
    try {
        if (master) {
            std::vector<TField*> details;
            GetFieldList(details, FDetailFields);
            const std::vector<TField*>& masters = FMasterLink.Fields();
            for (size_t i = 0; i < masters.size() && i < details.size() && accept; ++i)
                accept = details[i]->Value() == masters[i]->Value();
        }
        if (accept && filter) {
            try {
                OnFilterRecord()(this, accept);
            } catch (...) {
                // A failing filter handler does not stop the scan; the record keeps the answer
                // it had.
                InternalHandleException();
            }
        }
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    return accept;
}

int TVectorDataSet::NextAccepted(int From) {
    for (int r = std::max(From + 1, 0); r < RowCount(); ++r)
        if (Accept(r)) return r;
    return RowCount();
}

int TVectorDataSet::PriorAccepted(int From) {
    for (int r = std::min(From - 1, RowCount() - 1); r >= 0; --r)
        if (Accept(r)) return r;
    return -1;
}

TGetResult TVectorDataSet::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) {
    ++GetRecordCalls;
    int row = FCursor;
    switch (GetMode) {
        case gmCurrent:
            if (row < 0 || row >= RowCount() || !Accept(row)) return grError;
            break;
        case gmNext:
            row = FCursor = NextAccepted(FCursor);
            if (row >= RowCount()) return grEOF;
            break;
        case gmPrior:
            row = FCursor = PriorAccepted(FCursor);
            if (row < 0) return grBOF;
            break;
    }
    LoadRow(row, Buffer);
    GetCalcFields(Buffer);
    return grOK;
}

TRecordBuffer TVectorDataSet::ActiveRecBuf() const {
    switch (State()) {
        case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
        case dsEdit: case dsInsert: case dsNewValue: return ActiveBuffer();
        case dsCalcFields: return CalcBuffer();
        case dsFilter: return FFilterBuffer;
        default: return nullptr;
    }
}

bool TVectorDataSet::GetFieldData(TField* Field, void* Buffer) {
    TRecordBuffer record = ActiveRecBuf();
    if (!record) return false;
    if (Field->FieldNo() < 1) {
        const char* value = record + FCalcOffset + Field->Offset();
        if (!value[0]) return false;
        if (Buffer) std::memcpy(Buffer, value + 1, static_cast<size_t>(Field->DataSize()));
        return true;
    }
    size_t column = static_cast<size_t>(Field->FieldNo() - 1);
    if (!record[4 + column]) return false;
    if (Buffer && !IsBlobType(FColumns[column].DataType))
        std::memcpy(Buffer, record + FColumns[column].Offset, static_cast<size_t>(FColumns[column].DataSize));
    return true;
}

void TVectorDataSet::SetFieldData(TField* Field, const void* Buffer) {
    switch (State()) {
        case dsEdit: case dsInsert: case dsSetKey: case dsCalcFields: case dsFilter: case dsNewValue: case dsInternalCalc:
            break;
        default:
            DatabaseError(SNotEditing, this);
    }
    TRecordBuffer record = ActiveRecBuf();
    if (!record) DatabaseError(SNotEditing, this);
    if (Field->FieldNo() < 1) {
        char* value = record + FCalcOffset + Field->Offset();
        value[0] = Buffer ? 1 : 0;
        if (Buffer)
            std::memcpy(value + 1, Buffer, static_cast<size_t>(Field->DataSize()));
        else
            std::memset(value + 1, 0, static_cast<size_t>(Field->DataSize()));
    } else {
        if (State() == dsCalcFields) DatabaseError(SNotEditing, this);
        Field->Validate(Buffer);
        const TColumn& column = FColumns[static_cast<size_t>(Field->FieldNo() - 1)];
        record[4 + Field->FieldNo() - 1] = Buffer ? 1 : 0;
        if (Buffer)
            std::memcpy(record + column.Offset, Buffer, static_cast<size_t>(column.DataSize));
        else
            std::memset(record + column.Offset, 0, static_cast<size_t>(column.DataSize));
    }
    if (State() != dsCalcFields) DataEvent(deFieldChange, FieldInfo(Field));
}

std::unique_ptr<TStream> TVectorDataSet::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
    if (Field->FieldNo() < 1 || !Field->IsBlob()) DatabaseErrorFmt(SNotBlobField, {Field->DisplayName()}, this);
    if (Mode != bmRead) {
        if (Field->ReadOnly()) DatabaseErrorFmt(SFieldReadOnly, {Field->DisplayName()}, nullptr);
        if (State() != dsEdit && State() != dsInsert) DatabaseError(SNotEditing, this);
    }
    return std::make_unique<TBlobStream>(this, Field, ActiveRecBuf(), Field->FieldNo() - 1, Mode);
}

bool TVectorDataSet::GetCurrentRecord(TRecordBuffer Buffer) {
    if (IsEmpty() || !ActiveBuffer()) return false;
    std::memcpy(Buffer, ActiveBuffer(), static_cast<size_t>(FBufferSize));
    return true;
}

int TVectorDataSet::GetRecordCount() {
    CheckActive();
    int count = 0;
    for (int r = 0; r < RowCount(); ++r)
        if (Accept(r)) ++count;
    return count;
}

int TVectorDataSet::GetRecNo() {
    if (!Active() || IsEmpty()) return 0;
    int row = FindRow(BufferId(ActiveBuffer()));
    if (row < 0) return 0;
    int number = 0;
    for (int r = 0; r <= row; ++r)
        if (Accept(r)) ++number;
    return number;
}

void TVectorDataSet::SetRecNo(int Value) {
    CheckBrowseMode();
    int number = 0;
    for (int r = 0; r < RowCount(); ++r) {
        if (!Accept(r) || ++number != Value) continue;
        DoBeforeScroll();
        FCursor = r;
        Resync({rmExact, rmCenter});
        DoAfterScroll();
        return;
    }
}

// ---- Opening and closing -----------------------------------------------------------------------

void TVectorDataSet::InternalInitFieldDefs() {
    FieldDefs().Clear();
    for (const TColumn& c : FColumns) FieldDefs().Add(c.Name, c.DataType, c.DataType == ftString || c.DataType == ftBytes ? c.Size : 0, c.Required);
}

void TVectorDataSet::InternalOpen() {
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    FBufferSize = FCalcOffset + CalcFieldsSize() + 1;
    SetBookmarkSize(4);
    FFilterBuffer = AllocRecordBuffer();
    FCursor = -1;
    FIsOpen = true;
}

void TVectorDataSet::InternalClose() {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    if (FFilterBuffer) FreeRecordBuffer(FFilterBuffer);
    FPendingBlobs.clear();
    FIsOpen = false;
}

// ---- Editing -----------------------------------------------------------------------------------

void TVectorDataSet::InternalPost() {
    TDataSet::InternalPost();
    if (PostFailures > 0) {
        --PostFailures;
        throw EDatabaseError("post failed");
    }
    TRecordBuffer buffer = ActiveBuffer();
    TRow* row = nullptr;
    if (State() == dsEdit) {
        int index = FindRow(BufferId(buffer));
        if (index < 0) DatabaseError(SRecordNotFound, this);
        row = &FRows[static_cast<size_t>(index)];
        FCursor = index;
    } else {
        int position = std::clamp(FCursor, 0, RowCount());
        TRow fresh;
        fresh.Id = FNextId++;
        Put<int32_t>(buffer, fresh.Id);
        FRows.insert(FRows.begin() + position, std::move(fresh));
        row = &FRows[static_cast<size_t>(position)];
        FCursor = position;
    }
    row->Record.assign(buffer, static_cast<size_t>(FCalcOffset));
    for (size_t c = 0; c < FColumns.size(); ++c) {
        const TColumn& col = FColumns[c];
        if (!IsBlobType(col.DataType)) continue;
        int32_t handle = Get<int32_t>(row->Record.data() + col.Offset);
        if (handle < 0) continue;
        row->Blobs[static_cast<int>(c)] = FPendingBlobs[handle];
        Put<int32_t>(row->Record.data() + col.Offset, -1);
    }
    FPendingBlobs.clear();
}

void TVectorDataSet::InternalDelete() {
    if (DeleteFailures > 0) {
        --DeleteFailures;
        throw EDatabaseError("delete failed");
    }
    int row = FindRow(BufferId(ActiveBuffer()));
    if (row < 0) DatabaseError(SRecordNotFound, this);
    FRows.erase(FRows.begin() + row);
    FCursor = row;
}

void TVectorDataSet::DoOnNewRecord() {
    if (FMasterLink.Active() && !FMasterLink.Fields().empty()) {
        std::vector<TField*> details;
        GetFieldList(details, FDetailFields);
        const std::vector<TField*>& masters = FMasterLink.Fields();
        for (size_t i = 0; i < masters.size() && i < details.size(); ++i) details[i]->SetValue(masters[i]->Value());
    }
    TDataSet::DoOnNewRecord();
}

void TVectorDataSet::MasterChanged() {
    CheckBrowseMode();
    First();
}

void TVectorDataSet::MasterDisabled() { First(); }

void TVectorDataSet::SetFiltered(bool Value) {
    if (!Active()) {
        TDataSet::SetFiltered(Value);
        return;
    }
    CheckBrowseMode();
    bool changed = Value != Filtered();
    TDataSet::SetFiltered(Value);
    if (changed) First();
}

void TVectorDataSet::SetOnFilterRecord(const TFilterRecordEvent& Value) {
    if (!Active()) {
        TDataSet::SetOnFilterRecord(Value);
        return;
    }
    CheckBrowseMode();
    TDataSet::SetOnFilterRecord(Value);
    if (Filtered()) First();
}

// ---- Searching ---------------------------------------------------------------------------------

int TVectorDataSet::FindKey(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
    std::vector<TField*> fields;
    GetFieldList(fields, KeyFields);
    for (int r = 0; r < RowCount(); ++r) {
        if (!Accept(r)) continue;
        LoadRow(r, FFilterBuffer);
        TDataSetState saved = SetTempState(dsFilter);
        bool match = true;
        for (size_t i = 0; i < fields.size() && match; ++i) {
            Variant key = fields.size() == 1 ? KeyValues : KeyValues[static_cast<int>(i)];
            Variant value = fields[i]->Value();
            if (VarIsNull(key) || VarIsNull(value)) {
                match = VarIsNull(key) && VarIsNull(value);
            } else if (fields[i]->DataType() == ftString) {
                std::string k = key.AsString(), v = value.AsString();
                if (Options.Contains(loPartialKey)) v = v.substr(0, k.size());
                match = Options.Contains(loCaseInsensitive) ? AnsiSameText(k, v) : k == v;
            } else {
                try {
                    match = VarCompareValue(value, key) == vrEqual;
                } catch (const Exception&) {
                    match = false;
                }
            }
        }
        RestoreState(saved);
        if (match) return r;
    }
    return -1;
}

bool TVectorDataSet::Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
    CheckBrowseMode();
    DoBeforeScroll();
    int row = FindKey(KeyFields, KeyValues, Options);
    if (row < 0) return false;
    FCursor = row;
    Resync({rmExact, rmCenter});
    DoAfterScroll();
    return true;
}

Variant TVectorDataSet::Lookup(const std::string& KeyFields, const Variant& KeyValues, const std::string& ResultFields) {
    int row = FindKey(KeyFields, KeyValues, {});
    if (row < 0) return Null();
    LoadRow(row, FFilterBuffer);
    TDataSetState saved = SetTempState(dsCalcFields);
    Variant result;
    try {
        CalculateFields(FFilterBuffer);
        result = GetFieldValue(ResultFields);
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    return result;
}

bool TVectorDataSet::FindRecord(bool Restart, bool GoForward) {
    CheckBrowseMode();
    DoBeforeScroll();
    SetFound(false);
    UpdateCursorPos();
    CursorPosChanged();
    FForceFilter = true;
    int row;
    try {
        if (GoForward)
            row = NextAccepted(Restart ? -1 : FCursor);
        else
            row = PriorAccepted(Restart ? RowCount() : FCursor);
    } catch (...) {
        FForceFilter = false;
        throw;
    }
    FForceFilter = false;
    bool found = row >= 0 && row < RowCount();
    if (found) {
        FCursor = row;
        Resync({rmExact, rmCenter});
        DoAfterScroll();
    }
    SetFound(found);
    return found;
}

}  // namespace ostra::test
