// TBooleanField: Boolean values and their display texts.
#include "host/db/BooleanField.h"

#include <algorithm>
#include <cstring>

#include "host/Collation.h"
#include "host/SysUtils.h"
#include "host/db/DBConsts.h"
#include "host/db/SmallValueBuffer.h"

namespace ostra {

TBooleanField::TBooleanField(TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftBoolean);
    SetDisplayValues(std::string(STextTrue) + ";" + STextFalse);
}

void TBooleanField::SetDisplayValues(const std::string& Value) {
    FDisplayValues = Value;
    size_t semicolon = Value.find(';');
    if (semicolon == std::string::npos) {
        FTrueText = Value;
        FFalseText.clear();
    } else {
        FTrueText = Value.substr(0, semicolon);
        FFalseText = Value.substr(semicolon + 1);
    }
}

bool TBooleanField::GetValue(bool& Value) const {
    TSmallValueBuffer buffer;
    if (!GetData(buffer.data())) return false;
    int16_t v;
    std::memcpy(&v, buffer.data(), sizeof v);
    Value = v != 0;
    return true;
}

bool TBooleanField::GetAsBoolean() const {
    bool value;
    return GetValue(value) && value;
}

std::string TBooleanField::GetAsString() const {
    bool value;
    if (!GetValue(value)) return {};
    return value ? FTrueText : FFalseText;
}

Variant TBooleanField::GetAsVariant() const {
    bool value;
    return GetValue(value) ? Variant(value) : Null();
}

void TBooleanField::SetAsBoolean(bool Value) {
    int16_t v = Value ? 1 : 0;
    SetData(&v);
}

void TBooleanField::SetAsString(const std::string& Value) {
    if (Trim(Value).empty()) {
        Clear();
        return;
    }
    auto starts = [&Value](const std::string& text) {
        return AnsiCompareText(Value, text.substr(0, Value.size())) == 0;
    };
    if (starts(FFalseText))
        SetAsBoolean(false);
    else if (starts(FTrueText))
        SetAsBoolean(true);
    else
        DatabaseErrorFmt(SInvalidBoolValue, {Value, DisplayName()}, nullptr);
}

int TBooleanField::GetDefaultWidth() const {
    return static_cast<int>(std::max(FTrueText.size(), FFalseText.size()));
}

}  // namespace ostra
