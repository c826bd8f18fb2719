// The blob fields: values through the dataset's blob streams.
#include "host/db/BlobFields.h"

#include "host/db/DBConsts.h"
#include "host/db/DataSet.h"

namespace ostra {

TBlobField::TBlobField(TComponent* AOwner) : TBlobField(AOwner, ftBlob) {}

TBlobField::TBlobField(TComponent* AOwner, TFieldType Type) : TField(AOwner) { SetDataType(Type); }

void TBlobField::CheckTypeSize(int Value) const {
    if (Value < 0) DatabaseError(SInvalidFieldSize, nullptr);
}

std::unique_ptr<TStream> TBlobField::OpenStream(TBlobStreamMode Mode) const {
    std::unique_ptr<TStream> stream = CheckDataSet().CreateBlobStream(const_cast<TBlobField*>(this), Mode);
    if (!stream) AccessError("Blob");
    return stream;
}

int64_t TBlobField::BlobSize() const { return OpenStream(bmRead)->Size(); }

bool TBlobField::IsNull() const {
    if (FModified) return OpenStream(bmRead)->Size() == 0;
    return TField::IsNull();
}

void TBlobField::Clear() { OpenStream(bmWrite); }

std::string TBlobField::GetAsString() const {
    std::unique_ptr<TStream> stream = OpenStream(bmRead);
    std::string value(static_cast<size_t>(stream->Size()), '\0');
    stream->SetPosition(0);
    if (!value.empty()) stream->ReadBuffer(value.data(), static_cast<int64_t>(value.size()));
    return value;
}

Variant TBlobField::GetAsVariant() const {
    if (IsNull()) return Null();
    return Variant(GetAsString());
}

void TBlobField::SetAsString(const std::string& Value) {
    std::unique_ptr<TStream> stream = OpenStream(bmWrite);
    if (!Value.empty()) stream->WriteBuffer(Value.data(), static_cast<int64_t>(Value.size()));
}

void TBlobField::LoadFromStream(TStream& Stream) {
    std::unique_ptr<TStream> stream = OpenStream(bmWrite);
    stream->CopyFrom(Stream, 0);
}

void TBlobField::SaveToStream(TStream& Stream) const {
    std::unique_ptr<TStream> stream = OpenStream(bmRead);
    if (stream->Size() > 0) Stream.CopyFrom(*stream, 0);
}

void TBlobField::LoadFromFile(const std::string& FileName) {
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

void TBlobField::SaveToFile(const std::string& FileName) const {
    TFileStream file(FileName, fmCreate);
    SaveToStream(file);
}

}  // namespace ostra

