// The dataset framework's field-type enumeration, its identifiers and its display names.
// Header-only so that any layer can name field types; the ordinals are part of stored table
// definitions and of stored SQL tokens, so they never move. FieldTypeNames is the one table of
// display names: every message that names a field type takes the name from it.
#pragma once
#include <cstdint>

namespace ostra {

// clang-format off
enum TFieldType : uint8_t {
    ftUnknown = 0, ftString = 1, ftSmallint = 2, ftInteger = 3, ftWord = 4, ftBoolean = 5, ftFloat = 6,
    ftCurrency = 7, ftBCD = 8, ftDate = 9, ftTime = 10, ftDateTime = 11, ftBytes = 12, ftVarBytes = 13,
    ftAutoInc = 14, ftBlob = 15, ftMemo = 16, ftGraphic = 17, ftFmtMemo = 18, ftParadoxOle = 19,
    ftDBaseOle = 20, ftTypedBinary = 21, ftCursor = 22, ftFixedChar = 23, ftWideString = 24,
    ftLargeint = 25, ftADT = 26, ftArray = 27, ftReference = 28, ftDataSet = 29, ftOraBlob = 30,
    ftOraClob = 31, ftVariant = 32, ftInterface = 33, ftIDispatch = 34, ftGuid = 35, ftTimeStamp = 36,
    ftFMTBcd = 37
};
// clang-format on
inline constexpr int C_FIELDTYPECOUNT = 38;

// The framework's name of each field type ("String", "SmallInt", "BCD", ...), by ordinal.
// clang-format off
inline constexpr const char* FieldTypeNames[C_FIELDTYPECOUNT] = {
    "Unknown",  "String",     "SmallInt",   "Integer",     "Word",     "Boolean",  "Float",
    "Currency", "BCD",        "Date",       "Time",        "DateTime", "Bytes",    "VarBytes",
    "AutoInc",  "Blob",       "Memo",       "Graphic",     "FmtMemo",  "ParadoxOle", "dBaseOle",
    "TypedBinary", "Cursor",  "FixedChar",  "WideString",  "LargeInt", "ADT",      "Array",
    "Reference", "DataSet",   "HugeBlob",   "HugeClob",    "Variant",  "Interface", "Dispatch",
    "Guid",     "SQLTimeStamp", "FMTBcdField"};
// clang-format on

// The identifier of each field type ("ftUnknown", "ftString", ...), by ordinal: the names under
// which published field-type properties are written in component text.
inline constexpr const char* FieldTypeIdents[C_FIELDTYPECOUNT] = {
    "ftUnknown",  "ftString",     "ftSmallint", "ftInteger",     "ftWord",      "ftBoolean",
    "ftFloat",    "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",      "ftDateTime",
    "ftBytes",    "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",      "ftGraphic",
    "ftFmtMemo",  "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor",    "ftFixedChar",
    "ftWideString", "ftLargeint", "ftADT",      "ftArray",       "ftReference", "ftDataSet",
    "ftOraBlob",  "ftOraClob",    "ftVariant",  "ftInterface",   "ftIDispatch", "ftGuid",
    "ftTimeStamp", "ftFMTBcd"};

// The name of `type`; "Unknown" for a value outside the enumeration.
inline const char* FieldTypeName(TFieldType type) {
    return static_cast<int>(type) < C_FIELDTYPECOUNT ? FieldTypeNames[type] : FieldTypeNames[0];
}

}  // namespace ostra
