// The blob fields: TBlobField (binary data and formatted memos), TMemoField (text) and
// TGraphicField (pictures). A blob's value is not in the record buffer: it is read and written
// through a stream the dataset makes (TDataSet::CreateBlobStream); a write stream stores its
// content when it is freed and marks the field Modified until the dataset leaves the edit state.
#pragma once
#include <memory>
#include <string>

#include "host/Streams.h"
#include "host/db/Field.h"

namespace ostra {

// A blob field; BlobType is its field type (ftBlob unless set).
class TBlobField : public TField {
public:
    explicit TBlobField(TComponent* AOwner);

    bool IsBlob() const override { return true; }
    int DataSize() const override { return 0; }
    TFieldType BlobType() const { return DataType(); }
    void SetBlobType(TFieldType Value) { SetDataType(Value); }
    // Set by a write stream that stored content; cleared when the dataset leaves the edit state.
    bool Modified() const { return FModified; }
    void SetModified(bool Value) { FModified = Value; }
    // The value's length in bytes.
    int64_t BlobSize() const;
    // A modified blob is null when it is empty; otherwise the dataset tells.
    bool IsNull() const override;
    // Stores an empty value.
    void Clear() override;
    void SetAsString(const std::string& Value) override;
    // Replaces the value with the whole of Stream / writes the value to Stream at its position.
    void LoadFromStream(TStream& Stream);
    void SaveToStream(TStream& Stream) const;
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName) const;

protected:
    TBlobField(TComponent* AOwner, TFieldType Type);
    std::string GetAsString() const override;
    // "(Blob)" / "(BLOB)", "(Memo)" / "(MEMO)" ... in a grid.
    std::string GetText(bool DisplayText) const override { return GetClassDesc(); }
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& Value) override { SetAsString(Value.AsString()); }
    // Any size from 0 (a hint of the expected length).
    void CheckTypeSize(int Value) const override;
    void FreeBuffers() override { FModified = false; }

private:
    // The dataset's stream over the value; "Cannot access field '%s' as type Blob" when the
    // dataset offers none.
    std::unique_ptr<TStream> OpenStream(TBlobStreamMode Mode) const;

    bool FModified = false;
};

// A text blob.
class TMemoField : public TBlobField {
public:
    explicit TMemoField(TComponent* AOwner) : TBlobField(AOwner, ftMemo) {}
};

// A picture blob.
class TGraphicField : public TBlobField {
public:
    explicit TGraphicField(TComponent* AOwner) : TBlobField(AOwner, ftGraphic) {}
};

}  // namespace ostra
