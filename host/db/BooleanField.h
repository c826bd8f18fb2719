// TBooleanField: a true/false column (buffer: a 16-bit integer, 0 for false) whose text forms are
// the two DisplayValues ("True;False" unless set).
#pragma once
#include "host/db/Field.h"

namespace ostra {

// A Boolean field.
class TBooleanField : public TField {
public:
    explicit TBooleanField(TComponent* AOwner);

    int DataSize() const override { return 2; }
    void SetAsBoolean(bool Value) override;
    // Empty text clears the field; otherwise text that starts either display value (ignoring
    // case; the false text is tried first) sets it, anything else raises
    // "'%s' is not a valid boolean value for field '%s'".
    void SetAsString(const std::string& Value) override;
    // "TrueText;FalseText".
    const std::string& DisplayValues() const { return FDisplayValues; }
    void SetDisplayValues(const std::string& Value);

protected:
    bool GetAsBoolean() const override;
    std::string GetAsString() const override;
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& Value) override { SetAsBoolean(Value.AsBoolean()); }
    int GetDefaultWidth() const override;

private:
    bool GetValue(bool& Value) const;

    std::string FDisplayValues;
    std::string FTrueText;
    std::string FFalseText;
};

}  // namespace ostra
