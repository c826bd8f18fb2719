// The numeric fields: buffer forms, range checks and conversions.
#include "host/db/NumericFields.h"

#include <cmath>
#include <cstring>

#include "host/FormatSettings.h"
#include "host/SysUtils.h"
#include "host/db/DBConsts.h"
#include "host/db/SmallValueBuffer.h"

namespace ostra {

// ---- TIntegerField ---------------------------------------------------------------------------------

TIntegerField::TIntegerField(TComponent* AOwner) : TIntegerField(AOwner, ftInteger, INT32_MIN, INT32_MAX) {}

TIntegerField::TIntegerField(TComponent* AOwner, TFieldType Type, int64_t MinRange, int64_t MaxRange)
    : TNumericField(AOwner), FMinRange(MinRange), FMaxRange(MaxRange) {
    SetDataType(Type);
}

int TIntegerField::DataSize() const { return DataType() == ftSmallint || DataType() == ftWord ? 2 : 4; }

int TIntegerField::GetDefaultWidth() const {
    switch (DataType()) {
        case ftSmallint: return 6;
        case ftWord: return 5;
        default: return 11;
    }
}

bool TIntegerField::GetValue(int32_t& Value) const {
    TSmallValueBuffer buffer;
    if (!GetData(buffer.data())) return false;
    if (DataType() == ftSmallint) {
        int16_t v;
        std::memcpy(&v, buffer.data(), sizeof v);
        Value = v;
    } else if (DataType() == ftWord) {
        uint16_t v;
        std::memcpy(&v, buffer.data(), sizeof v);
        Value = v;
    } else {
        std::memcpy(&Value, buffer.data(), sizeof Value);
    }
    return true;
}

std::string TIntegerField::GetAsString() const {
    int32_t value;
    return GetValue(value) ? IntToStr(value) : std::string();
}

int32_t TIntegerField::GetAsInteger() const {
    int32_t value;
    return GetValue(value) ? value : 0;
}

double TIntegerField::GetAsFloat() const { return GetAsInteger(); }

Variant TIntegerField::GetAsVariant() const {
    int32_t value;
    return GetValue(value) ? Variant(value) : Null();
}

void TIntegerField::SetAsInteger(int32_t Value) {
    if (Value < FMinRange || Value > FMaxRange)
        RangeError(Value, static_cast<double>(FMinRange), static_cast<double>(FMaxRange));
    TSmallValueBuffer buffer;
    if (DataSize() == 2) {
        uint16_t v = static_cast<uint16_t>(Value);
        std::memcpy(buffer.data(), &v, sizeof v);
    } else {
        std::memcpy(buffer.data(), &Value, sizeof Value);
    }
    SetData(buffer.data());
}

void TIntegerField::SetAsString(const std::string& Value) {
    if (Trim(Value).empty()) {
        Clear();
        return;
    }
    int32_t v;
    if (!TryStrToInt(Value, v)) DatabaseErrorFmt(SInvalidIntegerValue, {Value, DisplayName()}, nullptr);
    SetAsInteger(v);
}

void TIntegerField::SetAsFloat(double Value) {
    double rounded = std::nearbyint(Value);
    if (!(rounded >= static_cast<double>(FMinRange) && rounded <= static_cast<double>(FMaxRange)))
        RangeError(Value, static_cast<double>(FMinRange), static_cast<double>(FMaxRange));
    SetAsInteger(static_cast<int32_t>(rounded));
}

// ---- TFloatField -----------------------------------------------------------------------------------

TFloatField::TFloatField(TComponent* AOwner) : TNumericField(AOwner) { SetDataType(ftFloat); }

void TFloatField::SetPrecision(int Value) { FPrecision = Value < 2 ? 2 : (Value > 15 ? 15 : Value); }

bool TFloatField::GetValue(double& Value) const {
    TSmallValueBuffer buffer;
    if (!GetData(buffer.data())) return false;
    std::memcpy(&Value, buffer.data(), sizeof Value);
    return true;
}

double TFloatField::GetAsFloat() const {
    double value;
    return GetValue(value) ? value : 0.0;
}

int32_t TFloatField::GetAsInteger() const {
    double value = GetAsFloat();
    double rounded = std::nearbyint(value);
    if (!(rounded >= INT32_MIN && rounded <= INT32_MAX)) RangeError(value, INT32_MIN, INT32_MAX);
    return static_cast<int32_t>(rounded);
}

std::string TFloatField::GetAsString() const {
    double value;
    return GetValue(value) ? FloatToStrF(value, ffGeneral, FPrecision, 0) : std::string();
}

std::string TFloatField::GetText(bool DisplayText) const {
    double value;
    if (!GetValue(value)) return {};
    if (DisplayText && FCurrency) return FloatToStrF(value, ffCurrency, FPrecision, FormatSettings().CurrencyDecimals);
    return FloatToStrF(value, ffGeneral, FPrecision, 0);
}

Variant TFloatField::GetAsVariant() const {
    double value;
    return GetValue(value) ? Variant(value) : Null();
}

void TFloatField::SetAsFloat(double Value) { SetData(&Value); }

void TFloatField::SetAsString(const std::string& Value) {
    if (Trim(Value).empty()) {
        Clear();
        return;
    }
    double v;
    if (!TryStrToFloat(Value, v)) DatabaseErrorFmt(SInvalidFloatValue, {Value, DisplayName()}, nullptr);
    SetAsFloat(v);
}

TCurrencyField::TCurrencyField(TComponent* AOwner) : TFloatField(AOwner) {
    SetFloatType(ftCurrency);
    SetCurrency(true);
}

}  // namespace ostra
