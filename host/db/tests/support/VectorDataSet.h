// TVectorDataSet: a dataset over rows kept in a std::vector, made for the framework's tests. It
// implements the record-buffer contract of TDataSet the way a real dataset does (buffers,
// bookmarks, a cursor with crack positions before the first and after the last row, editing,
// blob streams, OnFilterRecord filtering, Locate/Lookup/FindRecord and a master link), so that
// the framework's bookkeeping can be checked without the engine.
//
// Record buffer layout (the record part is also how a row is stored):
//   +0                   4  row id (the bookmark)
//   +4                   n  one null flag per column (1: the column has a value)
//   +4+n                 .. the columns' values in their fields' native forms; a blob column
//                           holds a 32-bit handle of a pending (edited) value, -1 for none
//   CalcOffset           CalcFieldsSize  calculated fields: a not-null byte, then the value
//   CalcOffset+CalcSize  1  bookmark flag
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/Variant.h"
#include "host/db/DataLink.h"
#include "host/db/DataSet.h"

namespace ostra::test {

class TVectorDataSet : public TDataSet {
public:
    struct TColumn {
        std::string Name;
        TFieldType DataType;
        int Size;
        bool Required;
        int Offset;    // of the value in the record part
        int DataSize;  // bytes of the value
    };

    explicit TVectorDataSet(TComponent* AOwner);
    ~TVectorDataSet() override;

    // ---- Structure and rows (the structure only while closed)
    void AddColumn(const std::string& Name, TFieldType DataType, int Size = 0, bool Required = false);
    // Stores a row directly (Null or Empty: no value).
    void AppendRow(const std::vector<Variant>& Values);
    int RowCount() const { return static_cast<int>(FRows.size()); }
    // The stored value of a row's column (Null when it has none).
    Variant RowValue(int Row, const std::string& Column) const;
    // Row ids in storage order.
    std::vector<int32_t> RowIds() const;

    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value) { FReadOnly = Value; }

    // ---- Master-detail: detail rows whose DetailFields equal the master's MasterFields
    TDataSource* MasterSource() const { return FMasterLink.DataSource(); }
    // "Circular datalinks are not allowed" when this dataset is already linked to Value.
    void SetMasterSource(TDataSource* Value);
    void SetMasterFields(const std::string& Value) { FMasterLink.SetFieldNames(Value); }
    void SetDetailFields(const std::string& Value) { FDetailFields = Value; }
    TMasterDataLink& MasterLink() { return FMasterLink; }

    // ---- Inspection and fault injection for tests
    int GetRecordCalls = 0;
    int PostFailures = 0;    // the next n posts raise EDatabaseError "post failed"
    int DeleteFailures = 0;  // the next n deletes raise EDatabaseError "delete failed"
    int BufferedCount() const { return BufferedRecordCount(); }
    int CursorRecord() const { return CurrentRecord(); }
    int32_t BufferRowId(int Index) const;
    // The row id of the record the cursor stands on; -1 before the first, -2 after the last.
    int32_t CursorRowId() const;
    TDataSetState EnterTempState(TDataSetState Value) { return SetTempState(Value); }
    void LeaveTempState(TDataSetState Value) { RestoreState(Value); }
    using TDataSet::SetBufferCount;

    // ---- TDataSet
    bool Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) override;
    Variant Lookup(const std::string& KeyFields, const Variant& KeyValues, const std::string& ResultFields) override;
    bool BookmarkValid(const TBookmark& Value) override;
    int CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) override;
    bool GetFieldData(TField* Field, void* Buffer) override;
    void SetFieldData(TField* Field, const void* Buffer) override;
    using TDataSet::GetFieldData;
    using TDataSet::SetFieldData;
    std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;
    bool GetCurrentRecord(TRecordBuffer Buffer) override;
    void SetFiltered(bool Value) override;
    void SetOnFilterRecord(const TFilterRecordEvent& Value) override;
    void SetRecNo(int Value) override;

protected:
    TRecordBuffer AllocRecordBuffer() override;
    void FreeRecordBuffer(TRecordBuffer& Buffer) override;
    int GetRecordSize() override { return FCalcOffset; }
    void InternalInitRecord(TRecordBuffer Buffer) override;
    void ClearCalcFields(TRecordBuffer Buffer) override;
    void GetBookmarkData(TRecordBuffer Buffer, void* Data) override;
    void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override;
    TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override;
    void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override;
    void InternalGotoBookmark(const void* Bookmark) override;
    TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
    void InternalFirst() override { FCursor = -1; }
    void InternalLast() override { FCursor = RowCount(); }
    void InternalSetToRecord(TRecordBuffer Buffer) override;
    int GetRecordCount() override;
    int GetRecNo() override;
    bool FindRecord(bool Restart, bool GoForward) override;
    void InternalOpen() override;
    void InternalClose() override;
    bool IsCursorOpen() const override { return FIsOpen; }
    void InternalInitFieldDefs() override;
    void InternalPost() override;
    void InternalCancel() override { FPendingBlobs.clear(); }
    void InternalDelete() override;
    bool GetCanModify() override { return !FReadOnly; }
    TDataSource* GetDataSource() const override { return FMasterLink.DataSource(); }
    void DoOnNewRecord() override;

private:
    class TBlobStream;
    struct TRow {
        int32_t Id;
        std::string Record;              // the record part of a buffer
        std::map<int, std::string> Blobs;  // by column
    };

    TRecordBuffer ActiveRecBuf() const;
    int FindRow(int32_t Id) const;
    int32_t BufferId(const char* Buffer) const;
    bool Accept(int Row);
    // The next / prior accepted row from From (exclusive); RowCount() / -1 when none.
    int NextAccepted(int From);
    int PriorAccepted(int From);
    void LoadRow(int Row, TRecordBuffer Buffer);
    // Finds the first accepted row whose KeyFields match KeyValues; -1 when none.
    int FindKey(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options);
    void MasterChanged();
    void MasterDisabled();
    void ComputeLayout();

    std::vector<TColumn> FColumns;
    std::vector<TRow> FRows;
    int32_t FNextId = 1;
    int FCursor = -1;
    bool FIsOpen = false;
    bool FReadOnly = false;
    int FCalcOffset = 4;
    int FBufferSize = 0;
    std::map<TRecordBuffer, std::unique_ptr<char[]>> FAllocated;
    TRecordBuffer FFilterBuffer = nullptr;
    std::map<int32_t, std::string> FPendingBlobs;
    int32_t FNextBlobHandle = 0;
    bool FForceFilter = false;
    TMasterDataLink FMasterLink;
    std::string FDetailFields;
};

}  // namespace ostra::test
