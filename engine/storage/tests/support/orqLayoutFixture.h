// Test helper: record layouts and record buffers built from a short field list, so that layout,
// index and key tests can start from the same kind of table.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/orqRecordLayout.h"
#include "host/db/FieldType.h"

namespace ostra::testing {

struct FieldSpec {
    std::string Name;
    TFieldType Type;
    int Length = 0;  // declared length of a String (stored size Length + 1), size of Bytes
};

// A field list as the dataset layer builds it (FieldNo = FieldIndex = position, String fields
// variable), with its layout computed and opened.
std::unique_ptr<TInternalFields> MakeLayout(const std::vector<FieldSpec>& Specs);

// A zeroed record of the layout's size with the in-use flag set.
std::vector<uint8_t> NewRecord(const TInternalFields& Fields);

// Writes a value into a record the way the cursor does: null flag 1, a String's length marker,
// value bytes zero-filled; SetNull clears the field.
void SetString(std::vector<uint8_t>& Rec, const TInternalFieldItem& Field, const std::string& Value);
void SetBytes(std::vector<uint8_t>& Rec, const TInternalFieldItem& Field, const void* Data, int Len);
void SetNull(std::vector<uint8_t>& Rec, const TInternalFieldItem& Field);

}  // namespace ostra::testing
