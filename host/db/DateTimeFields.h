// The date and time fields. Their buffers hold the native forms of TDateTimeRec (DBTypes.h): a
// day number for TDateField, the milliseconds of the day for TTimeField, the time stamp in
// milliseconds for TDateTimeField; callers see TDateTime values.
#pragma once
#include "host/db/Field.h"

namespace ostra {

// A date-and-time field; the base of TDateField and TTimeField.
class TDateTimeField : public TField {
public:
    explicit TDateTimeField(TComponent* AOwner);

    int DataSize() const override { return 8; }
    void SetAsDateTime(TDateTime Value) override;
    void SetAsFloat(double Value) override { SetAsDateTime(Value); }
    // Empty text clears the field; other text must be a date-time (a date for a date field, a
    // time for a time field) in the format settings in force.
    void SetAsString(const std::string& Value) override;
    // The format of DisplayText (FormatDateTime letters); empty for the type's default: "c" for a
    // date-time, the short date format for a date, the long time format for a time.
    const std::string& DisplayFormat() const { return FDisplayFormat; }
    void SetDisplayFormat(const std::string& Value) { FDisplayFormat = Value; }

protected:
    TDateTimeField(TComponent* AOwner, TFieldType Type);
    TDateTime GetAsDateTime() const override;
    double GetAsFloat() const override { return GetAsDateTime(); }
    std::string GetAsString() const override { return GetText(false); }
    std::string GetText(bool DisplayText) const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& Value) override { SetAsDateTime(Value.AsDateTime()); }
    int GetDefaultWidth() const override;

private:
    bool GetValue(TDateTime& Value) const;

    std::string FDisplayFormat;
};

// A date field.
class TDateField : public TDateTimeField {
public:
    explicit TDateField(TComponent* AOwner) : TDateTimeField(AOwner, ftDate) {}
    int DataSize() const override { return 4; }
};

// A time-of-day field.
class TTimeField : public TDateTimeField {
public:
    explicit TTimeField(TComponent* AOwner) : TDateTimeField(AOwner, ftTime) {}
    int DataSize() const override { return 4; }
};

}  // namespace ostra
