// TBytesField: a fixed-size binary column of Size bytes. Its values travel as strings of raw bytes
// (AsString, and String Variants for AsVariant); a shorter value is padded with zero bytes.
#pragma once
#include "host/db/Field.h"

namespace ostra {

// The base of the binary fields.
class TBinaryField : public TField {
public:
    explicit TBinaryField(TComponent* AOwner) : TField(AOwner) {}

    int DataSize() const override { return Size(); }
    // The first Size bytes of Value, padded with zero bytes.
    void SetAsString(const std::string& Value) override;

protected:
    std::string GetAsString() const override;
    // "(Bytes)" in a grid.
    std::string GetText(bool DisplayText) const override { return GetClassDesc(); }
    Variant GetAsVariant() const override;
    void SetVarValue(const Variant& Value) override { SetAsString(Value.AsString()); }
    // At least one byte.
    void CheckTypeSize(int Value) const override;
};

// A Bytes field (Size 16 unless set).
class TBytesField : public TBinaryField {
public:
    explicit TBytesField(TComponent* AOwner);
};

}  // namespace ostra
