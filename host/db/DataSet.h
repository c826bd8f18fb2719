// TDataSet: the framework's dataset, the base of every table and query. It owns a ring of record
// buffers, moves through the records by asking its descendant for one record at a time
// (GetRecord), drives the states and events of browsing and editing, binds fields to the record
// buffers and tells its data sources (and through them the data links of grids, detail datasets
// and controls) about every change. A descendant supplies the records: it overrides the
// abstract record operations (buffers, bookmarks, navigation, editing, field data) and leaves
// the bookkeeping here.
//
// The buffer ring. Buffers(0 .. BufferCount) are allocated while the dataset is open;
// Buffers(0 .. RecordCount-1) hold consecutive records of the dataset in order (the buffered
// window), ActiveRecord indexes the current one, and the buffer just past the window is scratch
// space for the next fetch. BufferCount is the largest BufferCount of the data links attached
// through data sources (at least 1). Moving inside the window changes ActiveRecord only; moving
// past its ends fetches one record and, when the ring is full, drops the record at the far end
// (data links hear deDataSetScroll with the shift). CurrentRecord tracks which buffer's record the
// descendant's cursor stands on (-1: unknown), so that a fetch continues from the right place.
//
// Invariants while open: 0 <= RecordCount <= BufferCount; ActiveRecord < RecordCount unless the
// dataset is empty (RecordCount 0, ActiveRecord 0); CurrentRecord is -1 or < RecordCount.
//
// States: dsInactive (closed), dsBrowse, dsEdit (Edit), dsInsert (Insert/Append), dsSetKey (a
// descendant's search key), and the temporary states dsCalcFields, dsFilter, dsNewValue,
// dsInternalCalc that a descendant enters through SetTempState/RestoreState to point field
// access at another buffer without telling anyone.
//
// Descendants with their own destructors: the base destructor cannot reach overridden slots, so a
// descendant that overrides InternalClose or FreeRecordBuffer calls Destroying() and Close() at
// the start of its own destructor.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "host/Component.h"
#include "host/Streams.h"
#include "host/Variant.h"
#include "host/db/DBTypes.h"
#include "host/db/FieldDefs.h"
#include "host/db/Fields.h"

namespace ostra {

class TDataSource;
class TDataLink;
class TStrings;

// The framework's dataset base class.
class TDataSet : public TComponent {
public:
    explicit TDataSet(TComponent* AOwner);
    // Detaches its data sources and frees its fields (see the file comment for open datasets).
    ~TDataSet() override;

    // ---- Opening and closing
    // Open: BeforeOpen, InternalOpen, buffers filled, dsBrowse, AfterOpen, AfterScroll (unless
    // empty). Close: BeforeClose, dsInactive, InternalClose, AfterClose. While the component is
    // being read from a stream, Active is only remembered and applied by Loaded.
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    bool Active() const { return FState != dsInactive && FState != dsOpening; }
    void SetActive(bool Value);
    // "Cannot perform this operation on a closed dataset" / "... on an open dataset".
    void CheckActive() const {
        if (!Active()) RaiseClosed();
    }
    void CheckInactive() const;
    // True while the fields were made from FieldDefs when the dataset opened.
    bool DefaultFields() const { return FDefaultFields; }
    void Loaded() override;

    // ---- State
    TDataSetState State() const { return FState; }
    // True once a data field changed since the last state change.
    bool Modified() const { return FModified; }
    bool Bof() const { return FBOF; }
    bool Eof() const { return FEOF; }
    bool IsEmpty() const { return FActiveRecord >= FRecordCount; }
    // The result of the last FindFirst/FindNext/FindPrior/FindLast.
    bool Found() const { return FFound; }
    bool CanModify() { return GetCanModify(); }
    // While controls are disabled, data sources hear nothing; EnableControls (the last one)
    // tells them about the state and the records once.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return FDisableCount != 0; }

    // ---- The buffer ring (see the file comment)
    int BufferCount() const { return FBufferCount; }
    int ActiveRecord() const { return FActiveRecord; }
    // The active record's buffer; null while closed.
    TRecordBuffer ActiveBuffer() const;
    // The buffer whose calculated fields are being computed (state dsCalcFields).
    TRecordBuffer CalcBuffer() const { return FCalcBuffer; }
    // Bytes of the calculated-fields area of a record buffer (set when the fields are bound).
    int CalcFieldsSize() const { return FCalcFieldsSize; }

    // ---- Navigation; each first posts or cancels a pending edit (CheckBrowseMode)
    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    // Moves Distance records forward (or back); returns how far it moved. BeforeScroll always,
    // AfterScroll and a scroll event only when a move was attempted (not at Eof / Bof).
    int MoveBy(int Distance);
    // The number of records; -1 when the dataset cannot tell.
    int RecordCount() { return GetRecordCount(); }
    // The active record's number from 1; -1 when the dataset cannot tell.
    int RecNo() { return GetRecNo(); }
    // Moves to the record with that number; the base does nothing.
    virtual void SetRecNo(int Value) {}
    // Re-reads the records around the active one (BeforeRefresh ... AfterRefresh).
    void Refresh();
    // Re-reads the buffers around the cursor's record: rmExact raises "Record not found" when the
    // current record is gone (otherwise the next or prior record takes its place); rmCenter puts
    // it in the middle of the ring, else it keeps its buffer index.
    virtual void Resync(TResyncMode Mode);
    // Forgets which record the descendant's cursor stands on.
    void CursorPosChanged() { FCurrentRecord = -1; }
    // Puts the descendant's cursor on the active record.
    void UpdateCursorPos();
    // Requires an open dataset; posts a modified edit, cancels an unmodified one, ends the
    // search-key state.
    void CheckBrowseMode();
    // True when record numbers are positions that SetRecNo can reach.
    virtual bool IsSequenced() { return true; }

    // ---- Editing
    // Insert: a new record before the active one; Append: after the last one. BeforeInsert,
    // BeforeScroll, dsInsert, OnNewRecord, AfterInsert, AfterScroll.
    void Insert();
    void Append();
    // Edit: BeforeEdit, InternalEdit, dsEdit, AfterEdit. On an empty dataset: Insert.
    void Edit();
    // Post: BeforePost, InternalPost (required fields are checked there), dsBrowse, AfterPost.
    virtual void Post();
    // Cancel: BeforeCancel, InternalCancel, dsBrowse, AfterCancel.
    virtual void Cancel();
    // Delete: BeforeDelete, BeforeScroll, InternalDelete, AfterDelete, AfterScroll; on an empty
    // dataset "Cannot perform this operation on an empty dataset"; in dsInsert it cancels.
    void Delete();
    // Asks the data links to write pending edits into the fields; requires an editing state.
    void UpdateRecord();
    // Empties every field of the record being edited.
    void ClearFields();

    // ---- Bookmarks
    // The active record's bookmark; empty when there is none (closed, empty, new record).
    TBookmark Bookmark() const;
    void SetBookmark(const TBookmark& Value) { GotoBookmark(Value); }
    TBookmark GetBookmark() const { return Bookmark(); }
    // Moves to the bookmarked record and re-reads the buffers around it; an empty bookmark does
    // nothing.
    void GotoBookmark(const TBookmark& Value);
    virtual bool BookmarkValid(const TBookmark& Value) { return false; }
    // Negative, 0 or positive as Bookmark1 lies before, on or after Bookmark2.
    virtual int CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) { return 0; }
    int BookmarkSize() const { return FBookmarkSize; }

    // ---- Fields
    TFields& Fields() { return *FFields; }
    const TFields& Fields() const { return *FFields; }
    int FieldCount() const { return FFields->Count(); }
    TFieldDefs& FieldDefs() { return *FFieldDefs; }
    const TFieldDefs& FieldDefs() const { return *FFieldDefs; }
    // Copies another collection of field definitions.
    void SetFieldDefs(const TFieldDefs* Value);
    // The field of that name (ignoring case); FieldByName raises "Field '%s' not found".
    TField* FieldByName(const std::string& FieldName) const;
    TField* FindField(const std::string& FieldName) const;
    TField* FieldByNumber(int FieldNo) const;
    // The fields named by a ';'-separated list, in that order; a missing one raises.
    void GetFieldList(std::vector<TField*>& List, const std::string& FieldNames) const;
    // Replaces List's contents with the field names (of the fields when there are any, else of
    // the field definitions, updated first).
    void GetFieldNames(TStrings& List);
    // The value of one field, or an array of the values of a ';'-separated list of fields.
    Variant GetFieldValue(const std::string& FieldNames) const;
    Variant FieldValues(const std::string& FieldNames) const { return GetFieldValue(FieldNames); }
    // Assigns one value, or an array's elements to a list of fields in order.
    void SetFieldValue(const std::string& FieldNames, const Variant& Value);
    // Fills FieldDefs from the descendant (InternalInitFieldDefs).
    void InitFieldDefs();
    // Re-reads the index definitions of a descendant that has them.
    virtual void UpdateIndexDefs() {}
    // Reads the value of Field in the active buffer (of the state) into Buffer in native form;
    // false for a null value. The base has no data.
    virtual bool GetFieldData(TField* Field, void* Buffer) { return false; }
    // As above, converting date and time values to TDateTime unless NativeFormat.
    bool GetFieldData(TField* Field, void* Buffer, bool NativeFormat);
    // Stores a native value (null Buffer: null) of Field in the active buffer of the state.
    virtual void SetFieldData(TField* Field, const void* Buffer) {}
    void SetFieldData(TField* Field, const void* Buffer, bool NativeFormat);
    // A stream over a blob field's value in the active buffer; the caller frees it.
    virtual std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode);
    // Copies the active record buffer into Buffer; false when there is none.
    virtual bool GetCurrentRecord(TRecordBuffer Buffer) { return false; }
    bool AutoCalcFields() const { return FAutoCalcFields; }
    void SetAutoCalcFields(bool Value) { FAutoCalcFields = Value; }

    // ---- Searching and filtering
    // Moves to the first record whose KeyFields (';'-separated) equal KeyValues (one value or
    // an array); the base finds nothing.
    virtual bool Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
        return false;
    }
    // The ResultFields value(s) of that record without moving; the base answers Null.
    virtual Variant Lookup(const std::string& KeyFields, const Variant& KeyValues, const std::string& ResultFields) {
        return Null();
    }
    bool FindFirst() { return FindRecord(true, true); }
    bool FindNext() { return FindRecord(false, true); }
    bool FindPrior() { return FindRecord(false, false); }
    bool FindLast() { return FindRecord(true, false); }
    const std::string& Filter() const { return FFilterText; }
    void SetFilter(const std::string& Value) { SetFilterText(Value); }
    bool Filtered() const { return FFiltered; }
    TFilterOptions FilterOptions() const { return FFilterOptions; }
    const TFilterRecordEvent& OnFilterRecord() const { return FOnFilterRecord; }
    // The base setters store the value; descendants that filter re-read their records.
    virtual void SetFiltered(bool Value) { FFiltered = Value; }
    virtual void SetFilterText(const std::string& Value) { FFilterText = Value; }
    virtual void SetFilterOptions(TFilterOptions Value) { FFilterOptions = Value; }
    virtual void SetOnFilterRecord(const TFilterRecordEvent& Value) { FOnFilterRecord = Value; }

    // ---- Data sources and master-detail
    // The master source of a detail dataset; null for others.
    TDataSource* DataSource() const { return GetDataSource(); }
    // True when this dataset is DataSource's dataset or a master of it, directly or through
    // further masters.
    bool IsLinkedTo(const TDataSource* ADataSource) const;
    // The master's and this dataset's fields that link them; the base leaves both empty.
    virtual void GetDetailLinkFields(std::vector<TField*>& MasterFields, std::vector<TField*>& DetailFields);
    // Tells the data sources (and through them the data links) about Event; see DBTypes.h for
    // Info. A field change also marks the record modified, recalculates and fires OnChange.
    virtual void DataEvent(TDataEvent Event, intptr_t Info);

    // ---- Events
    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    TDataSetNotifyEvent BeforeRefresh, AfterRefresh, OnCalcFields, OnNewRecord;
    TDataSetErrorEvent OnDeleteError, OnEditError, OnPostError;

protected:
    // ---- Record buffers: allocated by the descendant, owned by the ring
    virtual TRecordBuffer AllocRecordBuffer() { return nullptr; }
    virtual void FreeRecordBuffer(TRecordBuffer& Buffer) { Buffer = nullptr; }
    // The descendant's record bytes (without calculated fields and bookmark information).
    virtual int GetRecordSize() { return 0; }
    virtual void InternalInitRecord(TRecordBuffer Buffer) {}
    // Empties the calculated-fields area of Buffer.
    virtual void ClearCalcFields(TRecordBuffer Buffer) {}
    // Converts a date or time value between the native form (TDateTimeRec) and TDateTime.
    virtual void DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative);

    // ---- Bookmarks
    virtual void GetBookmarkData(TRecordBuffer Buffer, void* Data) {}
    virtual void SetBookmarkData(TRecordBuffer Buffer, const void* Data) {}
    virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) { return bfCurrent; }
    virtual void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) {}
    virtual void InternalGotoBookmark(const void* Bookmark) {}
    void SetBookmarkSize(int Value) { FBookmarkSize = Value; }

    // ---- Navigation
    // Fetches the current, next or prior record of the cursor into Buffer.
    virtual TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) { return grError; }
    // Puts the cursor before the first / after the last record.
    virtual void InternalFirst() {}
    virtual void InternalLast() {}
    // Puts the cursor on Buffer's record.
    virtual void InternalSetToRecord(TRecordBuffer Buffer) {}
    virtual int GetRecordCount() { return -1; }
    virtual int GetRecNo() { return -1; }
    // Fetch one record past the end / before the start of the window; true when one came.
    virtual bool GetNextRecord();
    virtual bool GetPriorRecord();
    // Fill the ring forward / backward; return how many records came.
    virtual int GetNextRecords();
    virtual int GetPriorRecords();
    // The search behind FindFirst ...; sets Found. The base finds nothing.
    virtual bool FindRecord(bool Restart, bool GoForward) { return false; }

    // ---- Opening and closing
    virtual void InternalOpen() {}
    virtual void InternalClose() {}
    virtual bool IsCursorOpen() const { return false; }
    // Fills FieldDefs.
    virtual void InternalInitFieldDefs() {}
    // Handles an exception that must not stop an operation (in a catch block): the
    // application's exception handler.
    virtual void InternalHandleException();
    // Makes the default fields from FieldDefs (owned by this dataset) / frees them.
    virtual void CreateFields();
    void DestroyFields();
    // Binds the fields to the open dataset (column numbers, calculated-field offsets, lookup
    // checks) or unbinds them.
    void BindFields(bool Binding);
    void SetDefaultFields(bool Value) { FDefaultFields = Value; }

    // ---- Editing
    // The base InternalPost checks that every Required data field that is not ReadOnly has a
    // value ("Field '%s' must have a value").
    virtual void InternalPost();
    virtual void InternalEdit() {}
    virtual void InternalInsert() {}
    virtual void InternalCancel() {}
    virtual void InternalDelete() {}
    virtual void InternalRefresh() {}
    virtual void InternalAddRecord(TRecordBuffer Buffer, bool Append) {}
    virtual bool GetCanModify() { return true; }

    // ---- Calculated fields
    // Computes the calculated and lookup fields of Buffer (state dsCalcFields around it).
    void GetCalcFields(TRecordBuffer Buffer) {
        // Most datasets have no calculated fields: nothing to do then, on every record fetched.
        if (FCalcFieldsSize > 0) CalculateFieldsOf(Buffer);
    }
    // Clears the calculated area, computes lookup values and fires OnCalcFields, for Buffer.
    virtual void CalculateFields(TRecordBuffer Buffer);

    // ---- States
    void SetState(TDataSetState Value);
    // Enters a state without telling anyone; returns the state to hand to RestoreState.
    TDataSetState SetTempState(TDataSetState Value);
    void RestoreState(TDataSetState Value);
    // A temporary state for the life of a scope: the state before comes back on every exit.
    class TTempStateScope {
    public:
        TTempStateScope(TDataSet& DataSet, TDataSetState Value)
            : FDataSet(DataSet), FSaved(DataSet.SetTempState(Value)) {}
        ~TTempStateScope() { FDataSet.RestoreState(FSaved); }
        TTempStateScope(const TTempStateScope&) = delete;
        TTempStateScope& operator=(const TTempStateScope&) = delete;

    private:
        TDataSet& FDataSet;
        TDataSetState FSaved;
    };
    void SetModified(bool Value) { FModified = Value; }
    void SetFound(bool Value) { FFound = Value; }
    bool GetFound() const { return FFound; }
    // "Cannot modify a read-only dataset" unless CanModify.
    void CheckCanModify();

    // ---- Links and definitions
    virtual TDataSource* GetDataSource() const { return nullptr; }
    // Called when the field definitions change other than through the dataset's own filling.
    virtual void DefChanged(TObject* Sender) {}

    // ---- Events
    virtual void DoBeforeScroll();
    virtual void DoAfterScroll();
    virtual void DoOnNewRecord();
    void DoBeforeOpen(), DoAfterOpen(), DoBeforeClose(), DoAfterClose();
    void DoBeforeInsert(), DoAfterInsert(), DoBeforeEdit(), DoAfterEdit();
    void DoBeforePost(), DoAfterPost(), DoBeforeCancel(), DoAfterCancel();
    void DoBeforeDelete(), DoAfterDelete(), DoBeforeRefresh(), DoAfterRefresh();
    void DoOnCalcFields();

    // ---- Ring access for descendants
    TRecordBuffer Buffers(int Index) const { return FBuffers[static_cast<size_t>(Index)]; }
    // The scratch buffer just past the window.
    TRecordBuffer TempBuffer() const { return FBuffers[static_cast<size_t>(FRecordCount)]; }
    int BufferedRecordCount() const { return FRecordCount; }
    int CurrentRecord() const { return FCurrentRecord; }
    // Recomputes the buffer count from the data links.
    void UpdateBufferCount();
    void SetBufferCount(int Value);

private:
    friend class TDataSource;
    friend class TDataLink;
    friend class TField;
    friend class TFields;
    friend class TDefCollection;

    using TDataOperation = void (TDataSet::*)();

    // "Cannot perform this operation on a closed dataset".
    [[noreturn]] void RaiseClosed() const;
    // GetCalcFields for a dataset with calculated fields.
    void CalculateFieldsOf(TRecordBuffer Buffer);
    // Tells the data sources about Event (DataEvent, when it notifies and there are sources).
    void NotifyDataSources(TDataEvent Event, intptr_t Info);
    void OpenCursor();
    void CloseCursor();
    void SetBufListSize(int Value);
    void ClearBuffers();
    void ActivateBuffers();
    void SetCurrentRecord(int Index);
    void MoveBuffer(int CurIndex, int NewIndex);
    void UpdateCalcFields();
    void FreeFieldBuffers();
    void BeginInsertAppend();
    void EndInsertAppend();
    void CheckOperation(TDataOperation Operation, const TDataSetErrorEvent& ErrorEvent);
    // Moves every data link's window by Delta buffer positions.
    void AdjustFirstRecord(int Delta);
    // Every data link attached through this dataset's data sources.
    std::vector<TDataLink*> AllDataLinks() const;
    void RemoveDataSource(TDataSource* ADataSource);
    bool BookmarkAvailable() const;

    TDataSetState FState = dsInactive;
    bool FModified = false;
    bool FBOF = true;
    bool FEOF = true;
    bool FFound = false;
    bool FStreamedActive = false;
    bool FDefaultFields = false;
    bool FAutoCalcFields = true;
    bool FInternalOpenComplete = false;
    // Non-zero while the dataset opens or closes its cursor (its own definition changes).
    int FCursorChanging = 0;

    std::vector<TRecordBuffer> FBuffers;
    int FBufferCount = 0;
    int FRecordCount = 0;
    int FActiveRecord = 0;
    int FCurrentRecord = -1;
    TRecordBuffer FCalcBuffer = nullptr;
    int FCalcFieldsSize = 0;
    int FBookmarkSize = 0;

    int FDisableCount = 0;
    TDataSetState FDisableState = dsInactive;
    TDataEvent FEnableEvent = deDataSetChange;

    std::vector<TDataSource*> FDataSources;
    std::unique_ptr<TFields> FFields;
    std::unique_ptr<TFieldDefs> FFieldDefs;

    std::string FFilterText;
    bool FFiltered = false;
    TFilterOptions FFilterOptions;
    TFilterRecordEvent FOnFilterRecord;
};

}  // namespace ostra
