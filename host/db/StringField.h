// TStringField: a text column of at most Size characters (buffer: the characters and a zero byte).
#pragma once
#include "host/DateTime.h"
#include "host/SysUtils.h"
#include "host/db/Field.h"

namespace ostra {

// A fixed-capacity text field; longer values are cut to Size characters.
class TStringField : public TField {
public:
    // A string field of Size 20.
    explicit TStringField(TComponent* AOwner);

    int DataSize() const override { return Size() + 1; }
    void SetAsString(const std::string& Value) override;
    void SetAsInteger(int32_t Value) override { SetAsString(IntToStr(Value)); }
    void SetAsFloat(double Value) override { SetAsString(FloatToStr(Value)); }
    void SetAsBoolean(bool Value) override;
    void SetAsDateTime(TDateTime Value) override { SetAsString(DateTimeToStr(Value)); }

protected:
    std::string GetAsString() const override;
    // The text as an integer / float / date-time (EConvertError when it is not one).
    int32_t GetAsInteger() const override;
    double GetAsFloat() const override;
    TDateTime GetAsDateTime() const override;
    // True when the text starts with T or Y (either case).
    bool GetAsBoolean() const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& Value) override { SetAsString(Value.AsString()); }
    int GetDefaultWidth() const override { return Size(); }
    // 0 to 8192 characters.
    void CheckTypeSize(int Value) const override;

private:
    // The value; false for null.
    bool GetValue(std::string& Value) const;
};

}  // namespace ostra
