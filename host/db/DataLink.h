// TDataLink and its descendants: the receiving end of a data source. A link sees the dataset
// through a window of BufferCount consecutive buffered records (a grid's visible rows); the
// dataset keeps at least as many buffers as its largest link asks for, and moves each link's
// window so that it holds the active record. The virtual slots below are the notifications a
// link receives; TDetailDataLink names the dataset a link drives (for circular-link checks), and
// TMasterDataLink is the master side of a master-detail pair.
#pragma once
#include <string>
#include <vector>

#include "host/Object.h"
#include "host/StringList.h"
#include "host/db/DBTypes.h"

namespace ostra {

class TDataSet;
class TDataSource;

// A data-aware client of a data source.
class TDataLink : public TPersistent {
public:
    TDataLink() = default;
    // Leaves its data source.
    ~TDataLink() override;
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const { return FDataSource; }
    // Attaches to another data source; refused with "DataSource cannot be changed" while
    // DataSourceFixed.
    void SetDataSource(TDataSource* ADataSource);
    bool DataSourceFixed() const { return FDataSourceFixed; }
    void SetDataSourceFixed(bool Value) { FDataSourceFixed = Value; }
    // The source's dataset; null without one.
    TDataSet* DataSet() const;
    // True while the source is enabled and its dataset open.
    bool Active() const { return FActive; }
    // True while active, not ReadOnly and the dataset is in an editing state.
    bool Editing() const { return FEditing; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value);

    // The window: how many records the link shows, where the active record is in it, and how
    // many buffered records it holds. SetActiveRecord makes another record of the window the
    // dataset's active record (a grid reads each row this way and then restores it).
    int BufferCount() const { return FBufferCount; }
    void SetBufferCount(int Value);
    int ActiveRecord() const;
    void SetActiveRecord(int Value);
    int RecordCount() const;
    // The first window position's buffer index in the dataset.
    int FirstRecord() const { return FFirstRecord; }

    // Puts the dataset into dsEdit when the source allows it; true when the link is then editing.
    bool Edit();
    // Asks the link to write its pending edit into the fields (UpdateData).
    void UpdateRecord();
    // Moves the dataset (MoveBy); returns the distance moved.
    int MoveBy(int Distance);

protected:
    // The source's dataset opened or closed, or the source was enabled, disabled or replaced.
    virtual void ActiveChanged() {}
    // The dataset is about to leave its editing state.
    virtual void CheckBrowseMode() {}
    // The records changed as a whole (open, First, Resync ...); the base calls RecordChanged(null).
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    // The window moved by Distance records; the base calls DataSetChanged.
    virtual void DataSetScrolled(int Distance) { DataSetChanged(); }
    virtual void EditingChanged() {}
    virtual void FocusControl(TField* Field) {}
    // The fields changed (added, removed, reordered); the base calls DataSetChanged.
    virtual void LayoutChanged() { DataSetChanged(); }
    // The active record changed: Field for one field, null for the whole record.
    virtual void RecordChanged(TField* Field) {}
    // Write pending edits into the fields.
    virtual void UpdateData() {}

private:
    friend class TDataSource;
    friend class TDataSet;

    void DataEvent(TDataEvent Event, intptr_t Info);
    void UpdateState();
    void SetActive(bool Value);
    void SetEditing(bool Value);
    // Moves the window by Shift buffer positions and then just far enough to hold the active
    // record; returns how far the window moved against the records.
    int UpdateRange(int Shift);

    TDataSource* FDataSource = nullptr;
    bool FDataSourceFixed = false;
    bool FActive = false;
    bool FEditing = false;
    bool FReadOnly = false;
    bool FUpdating = false;
    int FBufferCount = 1;
    int FFirstRecord = 0;
};

// A link that drives a dataset of its own (a detail dataset or a parameterized query).
class TDetailDataLink : public TDataLink {
public:
    // The dataset this link drives; null in the base.
    virtual TDataSet* GetDetailDataSet() const { return nullptr; }
};

// The master side of a master-detail pair: owned by the detail dataset, attached to the master's
// data source. FieldNames (';'-separated) name master fields; while the link is active with at
// least one field, every record change of the master (or a change of one of those fields) fires
// OnMasterChange. When the master closes, the source is disabled or replaced, or the fields go
// away, OnMasterDisable fires instead. Both fire only while the detail dataset is open.
class TMasterDataLink : public TDetailDataLink {
public:
    explicit TMasterDataLink(TDataSet* ADataSet) : FDataSet(ADataSet) {}

    TDataSet* GetDetailDataSet() const override { return FDataSet; }
    const std::string& FieldNames() const { return FFieldNames; }
    // Stores the names and re-reads the master fields (a missing field raises, leaving no fields).
    void SetFieldNames(const std::string& Value);
    // The master fields named by FieldNames, while active.
    const std::vector<TField*>& Fields() const { return FFields; }

    TNotifyEvent OnMasterChange;
    TNotifyEvent OnMasterDisable;

protected:
    void ActiveChanged() override;
    // The master leaves its editing state: the detail posts or cancels first.
    void CheckBrowseMode() override;
    void LayoutChanged() override { ActiveChanged(); }
    void RecordChanged(TField* Field) override;

private:
    TDataSet* FDataSet;
    std::string FFieldNames;
    std::vector<TField*> FFields;
};

}  // namespace ostra
