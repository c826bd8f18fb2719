// TDataSource: the component that connects a dataset to its data links (grids, controls, detail
// datasets). It passes the dataset's data events on to every attached link while it is Enabled
// and the dataset is open, keeps the state it last saw, and offers the three events of the
// framework: OnStateChange, OnDataChange (records, fields, scrolling) and OnUpdateData (write
// pending edits).
#pragma once
#include <vector>

#include "host/Component.h"
#include "host/StringList.h"
#include "host/db/DBTypes.h"

namespace ostra {

class TDataSet;
class TDataLink;

// The link between one dataset and its data links.
class TDataSource : public TComponent {
public:
    explicit TDataSource(TComponent* AOwner);
    // Detaches its links (they become inactive) and leaves its dataset.
    ~TDataSource() override;

    TDataSet* DataSet() const { return FDataSet; }
    // Attaches to another dataset; a dataset that is linked back to this source (this source is
    // one of its masters, directly or further up) raises "Circular datalinks are not allowed".
    void SetDataSet(TDataSet* ADataSet);
    // While disabled the links see an inactive source.
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    // Whether Edit (from a control that starts typing) may put the dataset into dsEdit.
    bool AutoEdit() const { return FAutoEdit; }
    void SetAutoEdit(bool Value) { FAutoEdit = Value; }
    // The dataset's state as the links see it: dsInactive without a dataset or when disabled.
    TDataSetState State() const { return FState; }
    // Puts the dataset into dsEdit when AutoEdit and it is browsing.
    void Edit();
    // True when ADataSet is this source's dataset's master chain back to this source.
    bool IsLinkedTo(const TDataSet* ADataSet) const;
    int DataLinkCount() const { return static_cast<int>(FDataLinks.size()); }

    TNotifyEvent OnStateChange;
    TDataChangeEvent OnDataChange;
    TNotifyEvent OnUpdateData;

    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    friend class TDataSet;
    friend class TDataLink;

    void AddDataLink(TDataLink* DataLink);
    void RemoveDataLink(TDataLink* DataLink);
    // Passes a dataset event on (see the file comment).
    void DataEvent(TDataEvent Event, intptr_t Info);
    void SetState(TDataSetState Value);
    void UpdateState();
    void NotifyDataLinks(TDataEvent Event, intptr_t Info);

    TDataSet* FDataSet = nullptr;
    std::vector<TDataLink*> FDataLinks;
    bool FEnabled = true;
    bool FAutoEdit = true;
    TDataSetState FState = dsInactive;
};

}  // namespace ostra
