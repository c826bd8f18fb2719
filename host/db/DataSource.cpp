// TDataSource: attaching datasets and links, and passing data events on.
#include "host/db/DataSource.h"

#include <algorithm>

#include "host/PropertyRegistry.h"
#include "host/db/DBConsts.h"
#include "host/db/DataLink.h"
#include "host/db/DataSet.h"

namespace ostra {

[[maybe_unused]] const bool kDataSourcePublished =
    Publish<TDataSource, TComponent>()
        .Boolean("AutoEdit", &TDataSource::AutoEdit, &TDataSource::SetAutoEdit)
        .Default(true)
        .Component("DataSet", &TDataSource::DataSet, &TDataSource::SetDataSet)
        .Boolean("Enabled", &TDataSource::Enabled, &TDataSource::SetEnabled)
        .Default(true);

TDataSource::TDataSource(TComponent* AOwner) : TComponent(AOwner) {}

TDataSource::~TDataSource() {
    Destroying();
    OnStateChange = nullptr;
    OnDataChange = nullptr;
    OnUpdateData = nullptr;
    SetDataSet(nullptr);
    while (!FDataLinks.empty()) RemoveDataLink(FDataLinks.back());
}

void TDataSource::SetDataSet(TDataSet* ADataSet) {
    if (ADataSet == FDataSet) return;
    if (IsLinkedTo(ADataSet)) DatabaseError(SCircularDataLink, this);
    if (FDataSet) {
        TDataSet* old = FDataSet;
        FDataSet = nullptr;
        old->RemoveFreeNotification(this);
        old->RemoveDataSource(this);
    }
    if (ADataSet) {
        ADataSet->FDataSources.push_back(this);
        FDataSet = ADataSet;
        ADataSet->FreeNotification(this);
        ADataSet->UpdateBufferCount();
    }
    UpdateState();
}

void TDataSource::SetEnabled(bool Value) {
    FEnabled = Value;
    UpdateState();
}

void TDataSource::Edit() {
    if (FAutoEdit && FState == dsBrowse) FDataSet->Edit();
}

bool TDataSource::IsLinkedTo(const TDataSet* ADataSet) const {
    std::vector<const TDataSet*> seen;
    for (const TDataSet* dataSet = ADataSet; dataSet;) {
        if (std::find(seen.begin(), seen.end(), dataSet) != seen.end()) break;
        seen.push_back(dataSet);
        const TDataSource* source = dataSet->DataSource();
        if (!source) break;
        if (source == this) return true;
        dataSet = source->DataSet();
    }
    return false;
}

void TDataSource::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent && AComponent == FDataSet) {
        FDataSet = nullptr;
        UpdateState();
    }
}

void TDataSource::AddDataLink(TDataLink* DataLink) {
    FDataLinks.push_back(DataLink);
    DataLink->FDataSource = this;
    if (FDataSet) FDataSet->UpdateBufferCount();
    DataLink->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* DataLink) {
    auto it = std::find(FDataLinks.begin(), FDataLinks.end(), DataLink);
    if (it == FDataLinks.end()) return;
    FDataLinks.erase(it);
    DataLink->FDataSource = nullptr;
    DataLink->UpdateState();
    if (FDataSet && !FDataSet->ComponentState().Contains(csDestroying)) FDataSet->UpdateBufferCount();
}

void TDataSource::UpdateState() {
    SetState(FEnabled && FDataSet ? FDataSet->State() : dsInactive);
}

void TDataSource::SetState(TDataSetState Value) {
    if (FState == Value) return;
    TDataSetState prior = FState;
    FState = Value;
    NotifyDataLinks(deUpdateState, 0);
    if (ComponentState().Contains(csDestroying)) return;
    if (OnStateChange) OnStateChange(this);
    if (prior == dsInactive && OnDataChange) OnDataChange(this, nullptr);
}

void TDataSource::NotifyDataLinks(TDataEvent Event, intptr_t Info) {
    // A link's handler may attach or detach links: walk a copy and skip those gone meanwhile.
    std::vector<TDataLink*> links = FDataLinks;
    for (TDataLink* link : links)
        if (std::find(FDataLinks.begin(), FDataLinks.end(), link) != FDataLinks.end()) link->DataEvent(Event, Info);
}

void TDataSource::DataEvent(TDataEvent Event, intptr_t Info) {
    if (Event == deUpdateState) {
        UpdateState();
        return;
    }
    if (FState == dsInactive) return;
    NotifyDataLinks(Event, Info);
    switch (Event) {
        case deFieldChange:
            if (OnDataChange) OnDataChange(this, InfoField(Info));
            break;
        case deRecordChange:
        case deDataSetChange:
        case deDataSetScroll:
        case deLayoutChange:
            if (OnDataChange) OnDataChange(this, nullptr);
            break;
        case deUpdateRecord:
            if (OnUpdateData) OnUpdateData(this);
            break;
        default:
            break;
    }
}

}  // namespace ostra
