// The date and time fields: TDateTime values through the dataset's native conversion, and their
// text forms under the format settings in force.
#include "host/db/DateTimeFields.h"

#include "host/DateTime.h"
#include "host/FormatSettings.h"
#include "host/SysUtils.h"

namespace ostra {

TDateTimeField::TDateTimeField(TComponent* AOwner) : TDateTimeField(AOwner, ftDateTime) {}

TDateTimeField::TDateTimeField(TComponent* AOwner, TFieldType Type) : TField(AOwner) { SetDataType(Type); }

bool TDateTimeField::GetValue(TDateTime& Value) const { return GetData(&Value, false); }

TDateTime TDateTimeField::GetAsDateTime() const {
    TDateTime value = 0;
    return GetValue(value) ? value : 0.0;
}

Variant TDateTimeField::GetAsVariant() const {
    TDateTime value = 0;
    return GetValue(value) ? VarFromDateTime(value) : Null();
}

std::string TDateTimeField::GetText(bool DisplayText) const {
    TDateTime value = 0;
    if (!GetValue(value)) return {};
    if (DisplayText && !FDisplayFormat.empty()) return FormatDateTime(FDisplayFormat, value);
    switch (DataType()) {
        case ftDate: return FormatDateTime(FormatSettings().ShortDateFormat, value);
        case ftTime: return FormatDateTime(FormatSettings().LongTimeFormat, value);
        default: return FormatDateTime("c", value);
    }
}

void TDateTimeField::SetAsDateTime(TDateTime Value) { SetData(&Value, false); }

void TDateTimeField::SetAsString(const std::string& Value) {
    if (Trim(Value).empty()) {
        Clear();
        return;
    }
    switch (DataType()) {
        case ftDate: SetAsDateTime(StrToDate(Value)); break;
        case ftTime: SetAsDateTime(StrToTime(Value)); break;
        default: SetAsDateTime(StrToDateTime(Value)); break;
    }
}

int TDateTimeField::GetDefaultWidth() const {
    // The width of the longest day of the year at the latest time of day, in the default format.
    TDateTime sample = EncodeDate(2000, 12, 31) + EncodeTime(23, 59, 59, 0);
    switch (DataType()) {
        case ftDate: return static_cast<int>(FormatDateTime(FormatSettings().ShortDateFormat, sample).size());
        case ftTime: return static_cast<int>(FormatDateTime(FormatSettings().LongTimeFormat, sample).size());
        default: return static_cast<int>(FormatDateTime("c", sample).size());
    }
}

}  // namespace ostra
