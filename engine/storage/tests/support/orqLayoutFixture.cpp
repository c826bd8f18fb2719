// Test helper: record layouts and record buffers built from a short field list.
#include "orqLayoutFixture.h"

#include <cstring>

namespace ostra::testing {

std::unique_ptr<TInternalFields> MakeLayout(const std::vector<FieldSpec>& Specs) {
    auto fields = std::make_unique<TInternalFields>();
    for (std::size_t i = 0; i < Specs.size(); ++i) {
        TInternalFieldItem* f = fields->Add();
        f->SetFieldName(Specs[i].Name);
        f->SetDataType(Specs[i].Type);
        f->SetFieldNo(static_cast<int>(i));
        f->SetFieldIndex(static_cast<int>(i));
        if (Specs[i].Type == ftString) {
            f->SetFieldSize(Specs[i].Length + 1);
            f->SetIsVariable(true);
        } else if (Specs[i].Type == ftBytes) {
            f->SetFieldSize(Specs[i].Length);
        }
    }
    fields->SetDefaultOffsets();
    fields->Open();
    return fields;
}

std::vector<uint8_t> NewRecord(const TInternalFields& Fields) {
    std::vector<uint8_t> rec(Fields.RecordSize(), 0);
    rec[C_RECINUSEOFFSET] = 1;
    return rec;
}

void SetString(std::vector<uint8_t>& Rec, const TInternalFieldItem& Field, const std::string& Value) {
    const auto len = static_cast<uint16_t>(Value.size());
    std::memcpy(&Rec[Field.SizeMarkerOffset()], &len, 2);
    std::memset(&Rec[Field.DataOffset()], 0, Field.FieldSize());
    std::memcpy(&Rec[Field.DataOffset()], Value.data(), Value.size());
    Rec[Field.NullFlagOffset()] = C_FIELDNOTNULL;
}

void SetBytes(std::vector<uint8_t>& Rec, const TInternalFieldItem& Field, const void* Data, int Len) {
    std::memset(&Rec[Field.DataOffset()], 0, Field.FieldSize());
    std::memcpy(&Rec[Field.DataOffset()], Data, Len);
    Rec[Field.NullFlagOffset()] = C_FIELDNOTNULL;
}

void SetNull(std::vector<uint8_t>& Rec, const TInternalFieldItem& Field) {
    Rec[Field.NullFlagOffset()] = C_FIELDISNULL;
    std::memset(&Rec[Field.DataOffset()], 0, Field.FieldSize());
}

}  // namespace ostra::testing
