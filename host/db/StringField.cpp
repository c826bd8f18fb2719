// TStringField: text values and their conversions.
#include "host/db/StringField.h"

#include <algorithm>
#include <cstring>

#include "host/SysUtils.h"
#include "host/db/DBConsts.h"

namespace ostra {

namespace {

// The longest string a string field holds.
constexpr int kMaxStringSize = 8192;

}  // namespace

TStringField::TStringField(TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftString);
    SetSize(20);
}

void TStringField::CheckTypeSize(int Value) const {
    if (Value < 0 || Value > kMaxStringSize) DatabaseError(SInvalidFieldSize, nullptr);
}

bool TStringField::GetValue(std::string& Value) const {
    std::string buffer = ValueBuffer();
    if (!GetData(buffer.data())) return false;
    // At most Size characters, up to the terminating zero.
    size_t limit = static_cast<size_t>(Size());
    Value.assign(buffer.data(), strnlen(buffer.data(), limit));
    return true;
}

std::string TStringField::GetAsString() const {
    std::string value;
    return GetValue(value) ? value : std::string();
}

int32_t TStringField::GetAsInteger() const { return StrToInt(GetAsString()); }

double TStringField::GetAsFloat() const { return StrToFloat(GetAsString()); }

TDateTime TStringField::GetAsDateTime() const { return StrToDateTime(GetAsString()); }

bool TStringField::GetAsBoolean() const {
    std::string s = GetAsString();
    return !s.empty() && (s[0] == 'T' || s[0] == 't' || s[0] == 'Y' || s[0] == 'y');
}

Variant TStringField::GetAsVariant() const {
    std::string value;
    return GetValue(value) ? Variant(value) : Null();
}

void TStringField::SetAsString(const std::string& Value) {
    std::string buffer = ValueBuffer();
    std::memcpy(buffer.data(), Value.data(), std::min(Value.size(), static_cast<size_t>(Size())));
    SetData(buffer.data());
}

void TStringField::SetAsBoolean(bool Value) { SetAsString(Value ? STextTrue : STextFalse); }

}  // namespace ostra
