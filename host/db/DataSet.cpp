// TDataSet: lifecycle (open, close, streaming), states and their events, the data events that
// reach data sources, fields and their binding, calculated fields and the date/time conversion.
// The buffer ring and navigation are in DataSetNavigation.cpp, editing in DataSetEditing.cpp.
#include "host/db/DataSet.h"

#include <algorithm>
#include <cstring>

#include "host/PropertyRegistry.h"
#include "host/StringList.h"
#include "host/db/DBConsts.h"
#include "host/db/DataLink.h"
#include "host/db/DataSource.h"
#include "host/db/Field.h"
#include "host/UIServices.h"

namespace ostra {

[[maybe_unused]] const bool kDataSetPublished = Publish<TDataSet, TComponent>();

namespace {

// Field types a calculated or lookup field may have.
bool IsCalcFieldType(TFieldType type) {
    switch (type) {
        case ftString: case ftSmallint: case ftInteger: case ftWord: case ftBoolean: case ftFloat:
        case ftCurrency: case ftBCD: case ftDate: case ftTime: case ftDateTime: case ftLargeint:
        case ftVariant: case ftWideString: case ftFixedChar: case ftGuid: case ftTimeStamp: case ftFMTBcd:
            return true;
        default:
            return false;
    }
}

bool IsDateTimeType(TFieldType type) { return type == ftDate || type == ftTime || type == ftDateTime; }

// The next name of a ';'-separated list, trimmed; advances Pos past the separator.
std::string ExtractFieldName(const std::string& Names, size_t& Pos) {
    size_t end = Names.find(';', Pos);
    if (end == std::string::npos) end = Names.size();
    std::string name = Trim(Names.substr(Pos, end - Pos));
    Pos = end < Names.size() ? end + 1 : end;
    return name;
}

// Runs Cleanup when the scope is left by an exception, and passes the exception on.
template <class Body, class Cleanup>
void WithCleanup(Body body, Cleanup cleanup) {
    try {
        body();
    } catch (...) {
        cleanup();
        throw;
    }
    cleanup();
}

}  // namespace

TDataSet::TDataSet(TComponent* AOwner)
    : TComponent(AOwner), FFields(std::make_unique<TFields>(this)), FFieldDefs(std::make_unique<TFieldDefs>(this)) {}

TDataSet::~TDataSet() {
    Destroying();
    while (!FDataSources.empty()) FDataSources.back()->SetDataSet(nullptr);
    // The dataset frees its fields, persistent ones included; a field leaves its owner on the way.
    while (!FFields->FList.empty()) {
        TField* field = FFields->FList.back();
        FFields->FList.pop_back();
        field->FDataSet = nullptr;
        delete field;
    }
    // Buffers a descendant left allocated can only be dropped here (see the header).
    FBuffers.clear();
}

// ---- Opening and closing ------------------------------------------------------------------------

void TDataSet::SetActive(bool Value) {
    if (ComponentState().Contains(csReading)) {
        if (Value) FStreamedActive = true;
        return;
    }
    if (Active() == Value) return;
    if (Value) {
        DoBeforeOpen();
        try {
            OpenCursor();
        } catch (...) {
            // Undo what the failed open left behind; the first failure is the one reported.
            FState = dsInactive;
            try {
                CloseCursor();
            } catch (...) {
            }
            throw;
        }
        SetState(dsBrowse);
        DoAfterOpen();
        if (!IsEmpty()) DoAfterScroll();
    } else {
        bool destroying = ComponentState().Contains(csDestroying);
        if (!destroying) DoBeforeClose();
        SetState(dsInactive);
        CloseCursor();
        if (!destroying) DoAfterClose();
    }
}

void TDataSet::OpenCursor() {
    ++FCursorChanging;
    WithCleanup(
        [this] {
            FDefaultFields = FieldCount() == 0;
            InternalOpen();
            FInternalOpenComplete = true;
            UpdateBufferCount();
            FBOF = true;
        },
        [this] { --FCursorChanging; });
}

void TDataSet::CloseCursor() {
    ++FCursorChanging;
    WithCleanup(
        [this] {
            FInternalOpenComplete = false;
            FreeFieldBuffers();
            ClearBuffers();
            // The ring buffers outlive InternalClose, so that the descendant can still look at the
            // active buffer while it releases what the record holds.
            InternalClose();
            SetBufListSize(0);
            FBufferCount = 0;
            FCalcBuffer = nullptr;
            FDefaultFields = false;
        },
        [this] { --FCursorChanging; });
}

void TDataSet::Loaded() {
    TComponent::Loaded();
    if (FStreamedActive) {
        FStreamedActive = false;
        SetActive(true);
    }
}

void TDataSet::RaiseClosed() const { DatabaseError(SDataSetClosed, this); }

void TDataSet::CheckInactive() const {
    if (Active()) DatabaseError(SDataSetOpen, this);
}

// ---- States ---------------------------------------------------------------------------------------

void TDataSet::SetState(TDataSetState Value) {
    if (FState == Value) return;
    FState = Value;
    FModified = false;
    DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState Value) {
    TDataSetState saved = FState;
    FState = Value;
    ++FDisableCount;
    return saved;
}

void TDataSet::RestoreState(TDataSetState Value) {
    FState = Value;
    --FDisableCount;
}

void TDataSet::CheckCanModify() {
    if (!CanModify()) DatabaseError(SDataSetReadOnly, this);
}

void TDataSet::DisableControls() {
    if (FDisableCount == 0) {
        FDisableState = FState;
        FEnableEvent = deDataSetChange;
    }
    ++FDisableCount;
}

void TDataSet::EnableControls() {
    if (FDisableCount == 0) return;
    if (--FDisableCount != 0) return;
    // Always: the links may have seen the dataset close while their notices were held back,
    // and a data source ignores a state it already shows.
    DataEvent(deUpdateState, 0);
    if (FDisableState != dsInactive && FState != dsInactive) DataEvent(FEnableEvent, 0);
}

void TDataSet::DataEvent(TDataEvent Event, intptr_t Info) {
    bool notify = !ControlsDisabled() && FState != dsBlockRead;
    TField* changed = nullptr;
    switch (Event) {
        case deFieldChange:
            changed = InfoField(Info);
            if (changed && (changed->FieldKind() == fkData || changed->FieldKind() == fkInternalCalc) &&
                IsEditMode(FState))
                FModified = true;
            UpdateCalcFields();
            break;
        case dePropertyChange:
            FFieldDefs->SetUpdated(false);
            break;
        case deLayoutChange:
            if (ControlsDisabled()) FEnableEvent = deLayoutChange;
            break;
        case deUpdateState:
            // Links must learn that the dataset closed even while controls are disabled.
            if (ControlsDisabled() && FState == dsInactive) notify = true;
            break;
        default:
            break;
    }
    if (notify && !FDataSources.empty()) NotifyDataSources(Event, Info);
    if (changed) changed->Change();
}

void TDataSet::NotifyDataSources(TDataEvent Event, intptr_t Info) {
    // A source may detach itself (or others) while it hears the event: each is asked only while
    // it is still attached.
    std::vector<TDataSource*> sources = FDataSources;
    for (TDataSource* source : sources)
        if (std::find(FDataSources.begin(), FDataSources.end(), source) != FDataSources.end())
            source->DataEvent(Event, Info);
}

// ---- Events ---------------------------------------------------------------------------------------

void TDataSet::DoBeforeScroll() {
    if (BeforeScroll) BeforeScroll(this);
}
void TDataSet::DoAfterScroll() {
    if (AfterScroll) AfterScroll(this);
}
void TDataSet::DoOnNewRecord() {
    if (OnNewRecord) OnNewRecord(this);
}
void TDataSet::DoBeforeOpen() {
    if (BeforeOpen) BeforeOpen(this);
}
void TDataSet::DoAfterOpen() {
    if (AfterOpen) AfterOpen(this);
}
void TDataSet::DoBeforeClose() {
    if (BeforeClose) BeforeClose(this);
}
void TDataSet::DoAfterClose() {
    if (AfterClose) AfterClose(this);
}
void TDataSet::DoBeforeInsert() {
    if (BeforeInsert) BeforeInsert(this);
}
void TDataSet::DoAfterInsert() {
    if (AfterInsert) AfterInsert(this);
}
void TDataSet::DoBeforeEdit() {
    if (BeforeEdit) BeforeEdit(this);
}
void TDataSet::DoAfterEdit() {
    if (AfterEdit) AfterEdit(this);
}
void TDataSet::DoBeforePost() {
    if (BeforePost) BeforePost(this);
}
void TDataSet::DoAfterPost() {
    if (AfterPost) AfterPost(this);
}
void TDataSet::DoBeforeCancel() {
    if (BeforeCancel) BeforeCancel(this);
}
void TDataSet::DoAfterCancel() {
    if (AfterCancel) AfterCancel(this);
}
void TDataSet::DoBeforeDelete() {
    if (BeforeDelete) BeforeDelete(this);
}
void TDataSet::DoAfterDelete() {
    if (AfterDelete) AfterDelete(this);
}
void TDataSet::DoBeforeRefresh() {
    if (BeforeRefresh) BeforeRefresh(this);
}
void TDataSet::DoAfterRefresh() {
    if (AfterRefresh) AfterRefresh(this);
}
void TDataSet::DoOnCalcFields() {
    if (OnCalcFields) OnCalcFields(this);
}

void TDataSet::InternalHandleException() { ApplicationHandleException(this); }

// ---- Fields ---------------------------------------------------------------------------------------

void TDataSet::SetFieldDefs(const TFieldDefs* Value) { FFieldDefs->Assign(Value); }

TField* TDataSet::FieldByName(const std::string& FieldName) const { return FFields->FieldByName(FieldName); }

TField* TDataSet::FindField(const std::string& FieldName) const { return FFields->FindField(FieldName); }

TField* TDataSet::FieldByNumber(int FieldNo) const { return FFields->FieldByNumber(FieldNo); }

void TDataSet::GetFieldList(std::vector<TField*>& List, const std::string& FieldNames) const {
    size_t pos = 0;
    while (pos < FieldNames.size()) {
        std::string name = ExtractFieldName(FieldNames, pos);
        if (!name.empty()) List.push_back(FieldByName(name));
    }
}

void TDataSet::GetFieldNames(TStrings& List) {
    List.BeginUpdate();
    WithCleanup(
        [&] {
            List.Clear();
            if (FieldCount() > 0) {
                FFields->GetFieldNames(List);
            } else {
                FFieldDefs->Update();
                FFieldDefs->GetItemNames(List);
            }
        },
        [&] { List.EndUpdate(); });
}

Variant TDataSet::GetFieldValue(const std::string& FieldNames) const {
    if (FieldNames.find(';') == std::string::npos) return FieldByName(Trim(FieldNames))->Value();
    std::vector<TField*> fields;
    GetFieldList(fields, FieldNames);
    std::vector<Variant> values;
    values.reserve(fields.size());
    for (TField* f : fields) values.push_back(f->Value());
    return VarArrayOf(std::move(values));
}

void TDataSet::SetFieldValue(const std::string& FieldNames, const Variant& Value) {
    if (!VarIsArray(Value)) {
        FieldByName(Trim(FieldNames))->SetValue(Value);
        return;
    }
    std::vector<TField*> fields;
    GetFieldList(fields, FieldNames);
    for (size_t i = 0; i < fields.size(); ++i) fields[i]->SetValue(Value[static_cast<int>(i)]);
}

void TDataSet::InitFieldDefs() {
    {
        TInternalDefUpdate guard(*FFieldDefs);
        InternalInitFieldDefs();
    }
    FFieldDefs->SetUpdated(true);
}

void TDataSet::CreateFields() {
    for (int i = 0; i < FFieldDefs->Count(); ++i) {
        TFieldDef* def = FFieldDefs->Items(i);
        if (def->DataType() != ftUnknown && !def->Attributes().Contains(faHiddenCol)) def->CreateField(this);
    }
}

void TDataSet::DestroyFields() {
    while (!FFields->FList.empty()) {
        TField* field = FFields->FList.back();
        FFields->FList.pop_back();
        field->FDataSet = nullptr;
        delete field;
    }
    FFields->Changed();
}

void TDataSet::BindFields(bool Binding) {
    FCalcFieldsSize = 0;
    std::vector<TField*> fields = FFields->FList;
    for (TField* f : fields) {
        if (!Binding) {
            f->Bind(false);
            f->FFieldNo = 0;
            continue;
        }
        if (f->FieldKind() == fkCalculated || f->FieldKind() == fkLookup) {
            if (!IsCalcFieldType(f->DataType())) DatabaseErrorFmt(SInvalidCalcType, {f->DisplayName()}, this);
            f->FFieldNo = -1;
            f->FOffset = FCalcFieldsSize;
            FCalcFieldsSize += f->DataSize() + 1;
        } else {
            TFieldDef* def = FFieldDefs->FindDef(f->FieldName());
            if (!def) DatabaseErrorFmt(SFieldNotFound, {f->DisplayName()}, this);
            if (def->DataType() != f->DataType())
                DatabaseErrorFmt(SFieldTypeMismatch,
                                 {f->DisplayName(), FieldTypeName(f->DataType()), FieldTypeName(def->DataType())}, this);
            // A persistent field must take exactly the column's bytes, or reading it would
            // overrun (or truncate) its value buffer.
            if ((f->DataType() == ftString || f->DataType() == ftBytes) && f->Size() != def->Size())
                DatabaseErrorFmt(SFieldSizeMismatch, {f->DisplayName(), f->Size(), def->Size()}, this);
            f->FFieldNo = def->FieldNo();
        }
        f->Bind(true);
    }
}

bool TDataSet::GetFieldData(TField* Field, void* Buffer, bool NativeFormat) {
    if (NativeFormat || !Buffer || !IsDateTimeType(Field->DataType())) return GetFieldData(Field, Buffer);
    TDateTimeRec native{};
    bool result = GetFieldData(Field, &native);
    if (result) DataConvert(Field, &native, Buffer, false);
    return result;
}

void TDataSet::SetFieldData(TField* Field, const void* Buffer, bool NativeFormat) {
    if (NativeFormat || !Buffer || !IsDateTimeType(Field->DataType())) {
        SetFieldData(Field, Buffer);
        return;
    }
    TDateTimeRec native{};
    DataConvert(Field, Buffer, &native, true);
    SetFieldData(Field, &native);
}

void TDataSet::DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative) {
    TDateTimeRec rec{};
    TDateTime value = 0;
    switch (Field->DataType()) {
        case ftDate:
        case ftTime:
        case ftDateTime:
            if (ToNative) {
                std::memcpy(&value, Source, sizeof value);
                TTimeStamp stamp = DateTimeToTimeStamp(value);
                if (Field->DataType() == ftDate)
                    rec.Date = stamp.Date;
                else if (Field->DataType() == ftTime)
                    rec.Time = stamp.Time;
                else
                    rec.DateTime = static_cast<double>(TimeStampToMSecs(stamp));
                std::memcpy(Dest, &rec, sizeof rec);
            } else {
                std::memcpy(&rec, Source, sizeof rec);
                if (Field->DataType() == ftDate)
                    value = TimeStampToDateTime({0, rec.Date});
                else if (Field->DataType() == ftTime)
                    value = TimeStampToDateTime({rec.Time, DateDelta});
                else
                    value = TimeStampToDateTime(MSecsToTimeStamp(static_cast<int64_t>(rec.DateTime)));
                std::memcpy(Dest, &value, sizeof value);
            }
            break;
        default:
            std::memmove(Dest, Source, static_cast<size_t>(Field->DataSize()));
            break;
    }
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField* Field, TBlobStreamMode Mode) { return nullptr; }

// ---- Calculated fields ----------------------------------------------------------------------------

void TDataSet::CalculateFieldsOf(TRecordBuffer Buffer) {
    TTempStateScope state(*this, dsCalcFields);
    CalculateFields(Buffer);
}

void TDataSet::CalculateFields(TRecordBuffer Buffer) {
    FCalcBuffer = Buffer;
    if (FState != dsInternalCalc) {
        ClearCalcFields(Buffer);
        std::vector<TField*> fields = FFields->FList;
        for (TField* f : fields)
            if (f->FieldKind() == fkLookup) f->CalcLookupValue();
    }
    DoOnCalcFields();
}

void TDataSet::UpdateCalcFields() {
    if ((FState == dsEdit || FState == dsInsert) && FAutoCalcFields && FCalcFieldsSize > 0)
        GetCalcFields(ActiveBuffer());
}

void TDataSet::FreeFieldBuffers() {
    for (TField* f : FFields->FList) f->FreeBuffers();
}

// ---- Links -----------------------------------------------------------------------------------------

bool TDataSet::IsLinkedTo(const TDataSource* ADataSource) const {
    std::vector<const TDataSource*> seen;
    for (const TDataSource* source = ADataSource; source;) {
        if (std::find(seen.begin(), seen.end(), source) != seen.end()) break;
        seen.push_back(source);
        TDataSet* dataSet = source->DataSet();
        if (!dataSet) break;
        if (dataSet == this) return true;
        source = dataSet->DataSource();
    }
    return false;
}

void TDataSet::GetDetailLinkFields(std::vector<TField*>& MasterFields, std::vector<TField*>& DetailFields) {
    MasterFields.clear();
    DetailFields.clear();
}

std::vector<TDataLink*> TDataSet::AllDataLinks() const {
    std::vector<TDataLink*> links;
    for (TDataSource* source : FDataSources) links.insert(links.end(), source->FDataLinks.begin(), source->FDataLinks.end());
    return links;
}

void TDataSet::RemoveDataSource(TDataSource* ADataSource) {
    auto it = std::find(FDataSources.begin(), FDataSources.end(), ADataSource);
    if (it != FDataSources.end()) FDataSources.erase(it);
    if (!ComponentState().Contains(csDestroying)) UpdateBufferCount();
}

void TDataSet::UpdateBufferCount() {
    if (!IsCursorOpen()) return;
    int count = 1;
    for (TDataLink* link : AllDataLinks()) count = std::max(count, link->FBufferCount);
    SetBufferCount(count);
}

void TDataSet::AdjustFirstRecord(int Delta) {
    if (Delta == 0) return;
    for (TDataLink* link : AllDataLinks())
        if (link->Active()) link->FFirstRecord += Delta;
}

}  // namespace ostra
