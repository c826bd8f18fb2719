// TBytesField: raw byte values.
#include "host/db/BinaryFields.h"

#include <algorithm>
#include <cstring>

#include "host/db/DBConsts.h"

namespace ostra {

void TBinaryField::CheckTypeSize(int Value) const {
    if (Value < 1) DatabaseError(SInvalidFieldSize, nullptr);
}

std::string TBinaryField::GetAsString() const {
    std::string buffer = ValueBuffer();
    if (!GetData(buffer.data())) return {};
    buffer.resize(static_cast<size_t>(DataSize()));
    return buffer;
}

Variant TBinaryField::GetAsVariant() const {
    std::string buffer = ValueBuffer();
    if (!GetData(buffer.data())) return Null();
    buffer.resize(static_cast<size_t>(DataSize()));
    return Variant(buffer);
}

void TBinaryField::SetAsString(const std::string& Value) {
    std::string buffer = ValueBuffer();
    std::memcpy(buffer.data(), Value.data(), std::min(Value.size(), static_cast<size_t>(DataSize())));
    SetData(buffer.data());
}

TBytesField::TBytesField(TComponent* AOwner) : TBinaryField(AOwner) {
    SetDataType(ftBytes);
    SetSize(16);
}

}  // namespace ostra
