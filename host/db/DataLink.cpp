// TDataLink, TMasterDataLink: attaching to a data source, receiving its events, and keeping the
// link's window of records around the active one.
#include "host/db/DataLink.h"

#include <algorithm>

#include "host/SysUtils.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSet.h"
#include "host/db/DataSource.h"

namespace ostra {

TDataLink::~TDataLink() {
    FDataSourceFixed = false;
    if (FDataSource) FDataSource->RemoveDataLink(this);
}

void TDataLink::SetDataSource(TDataSource* ADataSource) {
    if (ADataSource == FDataSource) return;
    if (FDataSourceFixed) DatabaseError(SDataSourceChange, nullptr);
    if (FDataSource) FDataSource->RemoveDataLink(this);
    if (ADataSource) ADataSource->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const { return FDataSource ? FDataSource->DataSet() : nullptr; }

void TDataLink::SetReadOnly(bool Value) {
    if (FReadOnly == Value) return;
    FReadOnly = Value;
    UpdateState();
}

void TDataLink::SetBufferCount(int Value) {
    Value = std::max(Value, 1);
    if (FBufferCount == Value) return;
    FBufferCount = Value;
    if (FActive) {
        DataSet()->UpdateBufferCount();
        UpdateRange(0);
    }
}

int TDataLink::ActiveRecord() const {
    if (!FActive || FDataSource->State() == dsSetKey) return 0;
    return DataSet()->FActiveRecord - FFirstRecord;
}

void TDataLink::SetActiveRecord(int Value) {
    if (!FActive || FDataSource->State() == dsSetKey) return;
    TDataSet* dataSet = DataSet();
    int index = Value + FFirstRecord;
    if (index < 0 || index >= std::max(dataSet->FRecordCount, 1))
        throw EListError(Format("List index out of bounds (%d)", {Value}));
    dataSet->FActiveRecord = index;
}

int TDataLink::RecordCount() const {
    if (!FActive) return 0;
    if (FDataSource->State() == dsSetKey) return 1;
    return std::clamp(DataSet()->FRecordCount - FFirstRecord, 0, FBufferCount);
}

bool TDataLink::Edit() {
    if (!FReadOnly && FDataSource) FDataSource->Edit();
    return FEditing;
}

void TDataLink::UpdateRecord() {
    FUpdating = true;
    try {
        UpdateData();
    } catch (...) {
        FUpdating = false;
        throw;
    }
    FUpdating = false;
}

int TDataLink::MoveBy(int Distance) { return DataSet()->MoveBy(Distance); }

void TDataLink::UpdateState() {
    SetActive(FDataSource && FDataSource->State() != dsInactive);
    SetEditing(FActive && IsEditMode(FDataSource->State()) && !FReadOnly);
}

void TDataLink::SetActive(bool Value) {
    if (FActive == Value) return;
    FActive = Value;
    FFirstRecord = 0;
    if (Value) UpdateRange(0);
    ActiveChanged();
}

void TDataLink::SetEditing(bool Value) {
    if (FEditing == Value) return;
    FEditing = Value;
    EditingChanged();
}

int TDataLink::UpdateRange(int Shift) {
    TDataSet* dataSet = DataSet();
    if (!dataSet) return 0;
    int old = FFirstRecord + Shift;
    int first = old;
    int active = dataSet->FActiveRecord;
    if (active > first + FBufferCount - 1)
        first = active - FBufferCount + 1;
    else if (active < first)
        first = active;
    first = std::max(0, std::min(first, dataSet->FRecordCount - FBufferCount));
    FFirstRecord = first;
    return first - old;
}

void TDataLink::DataEvent(TDataEvent Event, intptr_t Info) {
    if (Event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!FActive) return;
    switch (Event) {
        case deFieldChange:
        case deRecordChange:
            if (!FUpdating) RecordChanged(Event == deFieldChange ? InfoField(Info) : nullptr);
            break;
        case deDataSetChange:
        case deDataSetScroll:
        case deLayoutChange: {
            int distance = 0;
            if (FDataSource->State() != dsSetKey)
                distance = UpdateRange(Event == deDataSetScroll ? static_cast<int>(Info) : 0);
            if (Event == deDataSetChange)
                DataSetChanged();
            else if (Event == deDataSetScroll)
                DataSetScrolled(distance);
            else
                LayoutChanged();
            break;
        }
        case deUpdateRecord:
            UpdateRecord();
            break;
        case deCheckBrowseMode:
            CheckBrowseMode();
            break;
        case deFocusControl:
            FocusControl(InfoField(Info));
            break;
        default:
            break;
    }
}

// ---- TMasterDataLink ----------------------------------------------------------------------------

void TMasterDataLink::SetFieldNames(const std::string& Value) {
    if (FFieldNames == Value) return;
    FFieldNames = Value;
    ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
    FFields.clear();
    if (Active()) {
        try {
            DataSet()->GetFieldList(FFields, FFieldNames);
        } catch (...) {
            FFields.clear();
            throw;
        }
    }
    if (!FDataSet->Active() || FDataSet->ComponentState().Contains(csDestroying)) return;
    if (Active() && !FFields.empty()) {
        if (OnMasterChange) OnMasterChange(this);
    } else if (OnMasterDisable) {
        OnMasterDisable(this);
    }
}

void TMasterDataLink::CheckBrowseMode() {
    if (FDataSet->Active()) FDataSet->CheckBrowseMode();
}

void TMasterDataLink::RecordChanged(TField* Field) {
    if (DataSource()->State() == dsSetKey || !FDataSet->Active() || FFields.empty()) return;
    if (Field && std::find(FFields.begin(), FFields.end(), Field) == FFields.end()) return;
    if (OnMasterChange) OnMasterChange(this);
}

}  // namespace ostra
