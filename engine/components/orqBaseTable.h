// orqBaseTable: TOrqBaseTable, the dataset face of the engine cursor.
//
// The face turns the engine cursor (TOrqDataSet, orqDataSet.h) into a dataset of the framework
// (host/db/DataSet.h): it allocates and reads the framework's record buffers, maps navigation and
// editing onto cursor operations (positioning lazily: First and Last only note where the next
// fetch starts), converts field values between the cursor's record layout and the framework's
// buffer forms, and reports FieldDefs and IndexDefs from the open cursor. The table component
// (orqTable.h) and, later, the query component derive from it.
//
// The units of the face:
//   orqBaseTable.cpp         construction, open and close, definitions, table-wide operations
//                            (CreateTable, EmptyTable, Flush, Locked), key and range buffers
//   orqBaseTableRecords.cpp  record buffers, fetching, bookmarks, field data, editing
//   orqBaseTableSearch.cpp   Locate, Lookup, FindFirst and its kin, the filter properties and
//                            the per-record filter event, filter expressions from queries, blob
//                            streams (orqBlobStream.h)
//
// Record buffer layout (every buffer zero-filled at allocation). R is the cursor's buffer size
// (InternalGetRecordSize: the record size + the 12-byte trailer):
//
//   | Offset              | Size           | Content                                              |
//   |---------------------|----------------|------------------------------------------------------|
//   | 0                   | R              | the cursor's record buffer (record + trailer)        |
//   | R                   | 1              | spare                                                |
//   | R + 1               | CalcFieldsSize | calculated and lookup fields: not-null byte + value  |
//   | info + 0            | 4              | spare                                                |
//   | info + 4            | 1              | record status (TRecordBufferStatus)                  |
//   | info + 5            | 1              | bookmark flag (TBookmarkFlag)                        |
//   | info + 6            | 2              | spare                                                |
//   | info + 8            | 8              | spare                                                |
//
// where info, the bookmark-info offset, is R + 1 + CalcFieldsSize. A bookmark is the cursor's:
// 8 bytes, the record's address and its logical record number.
//
// Locks. A record lock is held from InternalEdit until the post (the cursor gives it back after
// the update), Cancel or Close; the status rbEdit marks a buffer whose record is locked. Post and
// Delete take the table write lock only when the cursor holds none and give it back on every
// exit, so other connections never wait on a lock a finished post kept; a lock the caller holds
// (Locked, LockTable) stays held.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/components/orqDataSet.h"
#include "host/Variant.h"
#include "host/db/Field.h"
#include "host/db/IndexDefs.h"

namespace ostra {

class TBlobStream;
class TOrqDataBase;
class TOrqFilterExprDriver;

// What a framework record buffer holds: a stored record, one being edited (its record lock held),
// a new record, or nothing (its record was deleted).
enum TRecordBufferStatus : uint8_t { rbBrowse, rbEdit, rbInsert, rbInvalid };
// What the search-key state edits: nothing, the search key, or one end of a range.
enum TKeyMode : uint8_t { kmNone, kmFind, kmRange };

// The version text of the components.
inline constexpr char C_ORQCOMPONENTVERSION[] = "1.43.02";

// The engine cursor as a framework dataset (see the file comment).
class TOrqBaseTable : public TOrqDataSet {
public:
    // The cursor, IndexDefs, Version "1.43.02".
    explicit TOrqBaseTable(TComponent* AOwner);
    // Closes the dataset (failures dropped), then the cursor goes.
    ~TOrqBaseTable() override;

    using TDataSet::GetFieldData;
    using TDataSet::SetFieldData;

    // ---- Properties
    // The database this table is bound to; null when none (or when it is no TOrqDataBase).
    TOrqDataBase* DataBase() const;
    void SetDataBase(TOrqDataBase* Value);
    TIndexDefs& IndexDefs() { return *FIndexDefs; }
    const TIndexDefs& IndexDefs() const { return *FIndexDefs; }
    // Clears IndexDefs and copies every item of Value.
    void SetIndexDefs(const TIndexDefs* Value);
    // The first index definition named Name (ignoring case); null when none.
    TIndexDef* FindIndexDefByName(const std::string& Name) const;
    // True while the cursor holds a table read or write lock. Setting True takes the write lock
    // (from a read lock too), setting False gives back whatever table lock is held, so the
    // getter reads what the setter set. Requires an active dataset.
    bool Locked() const { return TableLocked(); }
    void SetLocked(bool Value);
    TKeyMode KeyMode() const { return FKeyMode; }
    void SetKeyMode(TKeyMode Value) { FKeyMode = Value; }
    TRangeMode RangeMode() const { return FRangeMode; }
    void SetRangeMode(TRangeMode Value) { FRangeMode = Value; }
    // The framework's buffer count while active, else 0.
    int GetInternalBufferCount() const { return Active() ? BufferCount() : 0; }

    // ---- Table-wide operations
    // Creates the table from FieldDefs and IndexDefs (InternalPrepareTableDef, then the cursor's
    // InternalCreateTable); True.
    bool CreateTable();
    // Deletes every record: CheckBrowseMode; 10122 for a disk table inside a transaction; the
    // cursor empties the table, an active filter is set again, First.
    void EmptyTable();
    // Posts a pending edit, then the database's buffers go to disk.
    void Flush();
    // Posts the active buffer as InternalPost does, without the required-field checks and
    // without taking the table write lock (the caller holds it).
    void SilentPost();

    // ---- Record buffers
    void SetRecordStatus(TRecordBuffer Buffer, TRecordBufferStatus Status);
    TRecordBufferStatus GetRecordStatus(TRecordBuffer Buffer) const;
    // The buffer that field access of the current state reads and writes (see the .cpp); false
    // when there is none.
    bool GetActiveRecBuf(TRecordBuffer& Buffer);

    // ---- Keys and ranges
    // Assigns Values[i] to the i-th field of IndexName's field list while both last (in the
    // buffer of the current state); the number assigned. 9997 without indexes or for an unknown
    // index.
    int SetIndexFields(const std::vector<Variant>& Values, const std::string& IndexName);
    // Sets and applies the range from Start to End on the current index, then First.
    void InternalSetRange(const std::vector<Variant>& Start, const std::vector<Variant>& End);

    // ---- Searching and filtering (orqBaseTableSearch.cpp)
    // Finds the first record whose KeyFields (';'-separated) equal KeyValues (one value, or an
    // array with one element per field), through the index that best matches the fields, and
    // makes it current; false leaves the position as it was.
    bool Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) override;
    // The ResultFields values of the record Locate would find; Null when none. The position
    // stays.
    Variant Lookup(const std::string& KeyFields, const Variant& KeyValues, const std::string& ResultFields) override;
    // The search of Locate and Lookup: the record is read into the filter buffer and, with
    // SyncCursor, becomes the cursor's record. A calculated or lookup key field: 10000.
    bool LocateRecord(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options,
                      bool SyncCursor);
    // While active, switching the filter on or off re-evaluates it and moves to the first record.
    void SetFiltered(bool Value) override;
    // While active and filtered a new text is evaluated at once; a text that fails leaves the
    // previous one in force and the error goes on.
    void SetFilterText(const std::string& Value) override;
    void SetFilterOptions(TFilterOptions Value) override;
    // The per-record filter event, applied on top of the filter text.
    void SetOnFilterRecord(const TFilterRecordEvent& Value) override;
    // Takes a filter expression from query execution into the cursor's filter.
    void AssignFilterExpr(TOrqFilterExprDriver& Driver);
    // A memory stream over Field's blob in the active buffer (orqBlobStream.h).
    std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;

    // ---- Framework slots that callers use
    bool GetFieldData(TField* Field, void* Buffer) override;
    void SetFieldData(TField* Field, const void* Buffer) override;
    bool BookmarkValid(const TBookmark& Value) override;
    // Both null: 0; one null: 1; else the first difference of the 8 bytes as unsigned bytes.
    int CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) override;
    bool GetCurrentRecord(TRecordBuffer Buffer) override;
    void SetRecNo(int Value) override;
    void UpdateIndexDefs() override;

protected:
    // ---- Framework slots
    void Notification(TComponent* AComponent, TOperation Operation) override;
    void ClearCalcFields(TRecordBuffer Buffer) override;
    bool GetCanModify() override;
    int GetRecordCount() override;
    int GetRecNo() override;
    void InternalCancel() override;
    void InternalEdit() override;
    void InternalInsert() override;
    void InternalRefresh() override;
    TRecordBuffer AllocRecordBuffer() override;
    void FreeRecordBuffer(TRecordBuffer& Buffer) override;
    void GetBookmarkData(TRecordBuffer Buffer, void* Data) override;
    TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override;
    int GetRecordSize() override;
    void InternalAddRecord(TRecordBuffer Buffer, bool Append) override;
    void InternalDelete() override;
    void InternalFirst() override;
    void InternalGotoBookmark(const void* Bookmark) override;
    void InternalInitRecord(TRecordBuffer Buffer) override;
    void InternalLast() override;
    void InternalPost() override;
    void InternalSetToRecord(TRecordBuffer Buffer) override;
    void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override;
    void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override;
    TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
    void InternalClose() override;
    void InternalHandleException() override;
    void InternalInitFieldDefs() override;
    void InternalOpen() override;
    bool IsCursorOpen() const override { return FCursorOpen; }

    bool FindRecord(bool Restart, bool GoForward) override;
    // The cursor's per-record filter callback: OnFilterRecord on a copy of the record in the
    // filter buffer (state dsFilter); a handler that raises leaves Accept as it was.
    bool RecordProcFilter(uint8_t* RecordBuffer);
    // The index whose leading fields best match FieldNames (see the .cpp); false when none
    // matches any field (Name keeps the current index).
    bool MapFieldsToIndex(const std::vector<std::string>& FieldNames, bool CaseInsensitive, std::string& Name);

    // ---- New slots
    // Applies a master range at the first fetch after an open; nothing here.
    virtual void InternalCheckMasterRange() {}
    // Open and close the cursor for reading definitions of a closed dataset.
    virtual void InternalOpenForDefs() { DataSetOpen(); }
    virtual void InternalCloseForDefs() { DataSetClose(); }

    // Builds the cursor's table definition from FieldDefs and IndexDefs after the checks of a
    // table creation (10112, the connection, 10122, 10766, 10880).
    void InternalPrepareTableDef();
    // The framework's FieldNo of a data field as the cursor's field number; -1 when none.
    int CursorFieldNo(const TField* Field) const {
        const int no = Field->FieldNo();
        return no < 1 || size_t(no) > FFieldMap.size() ? -1 : FFieldMap[size_t(no - 1)];
    }
    // The key buffer (kmFind) of the set-key state; null when closed.
    TRecordBuffer KeyBuffer() const { return FKeyBuffer.empty() ? nullptr : const_cast<char*>(FKeyBuffer.data()); }
    // Clears an active cursor filter and sets it again (after the records changed wholesale).
    void ReapplyFilter();
    // While on, closing the dataset leaves the cursor open on its table (the fields and buffers
    // go as in any close), and the next open takes that cursor instead of opening the table
    // again: for a dataset that reopens over a table others empty and refill meanwhile, which the
    // cursor then sees through the table header as it sees any other cursor's changes. The owner
    // closes the kept cursor (DataSetClose) before it changes the cursor's table or settings.
    void SetKeepCursorOnClose(bool Value) { FKeepCursorOnClose = Value; }
    // Stores Buffer's record (an add when Insert, else an update), under the table write lock when
    // TakeWriteLock: taken only when the cursor holds none and given back on every exit. A failed
    // update keeps the edit's record lock.
    void WriteRecordBuffer(TRecordBuffer Buffer, bool Insert, bool TakeWriteLock);

    // Pending positioning: none, on the wanted record, first, last.
    enum TPending : uint8_t { ppNone, ppCurrent, ppFirst, ppLast };
    TPending FPending = ppNone;
    // Set by an open; the first GetRecord re-applies a filter and the master range.
    bool FCheckFirst = false;

private:
    friend class TBlobStream;
    // Reads the record the cursor stands on into Buffer and computes its calculated fields.
    void FetchCursorRecord(TRecordBuffer Buffer);
    // Field access through a buffer of the current state.
    uint8_t* RecBufOf(TRecordBuffer Buffer) const { return reinterpret_cast<uint8_t*>(Buffer); }
    // Releases the record lock of Buffer's record when Buffer holds it (status rbEdit).
    void ReleaseBufferLock(TRecordBuffer Buffer);

    std::unique_ptr<TIndexDefs> FIndexDefs;
    bool FCursorOpen = false;
    bool FOpened = false;
    bool FKeepCursorOnClose = false;
    int FCalcFieldOffset = 0;
    int FBookmarkInfoOffset = 0;
    int FRecordBufferSize = 0;
    int FAllocSize = 0;
    std::vector<char> FKeyBuffer;
    std::vector<char> FFilterRecBuffer;
    std::vector<char> FScratchRecBuffer;
    TKeyMode FKeyMode = kmNone;
    TRangeMode FRangeMode = rmRangeStart;
    // The fields of the index field names SetIndexFields used last, while the field list had
    // FIndexFieldsChanges changes.
    bool FIndexFieldsKnown = false;
    std::string FIndexFieldNames;
    unsigned FIndexFieldsChanges = 0;
    std::vector<TField*> FIndexFields;
    // The cursor's field number of each FieldDefs entry (framework FieldNo - 1).
    std::vector<int> FFieldMap;
    // The framework's record buffers, by their address.
    std::unordered_map<const char*, std::unique_ptr<char[]>> FAllocated;
};

}  // namespace ostra
