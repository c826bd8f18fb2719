// orqSearchKey: decoding a search key into TOptimizedSearchKey.
#include "engine/storage/orqSearchKey.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"

namespace ostra {

namespace {

void CheckFieldCount(const TKeyFields& KeyFields) {
    if (KeyFields.Count() > C_MAXOPTIMIZEDKEYFIELDS)
        OrqDatabaseError(8581, "TOptimizedSearchKey.SetData", "Too many key fields", nullptr);
}

[[noreturn]] void KeySizeOutOfRange() {
    OrqDatabaseError(8581, "TOptimizedSearchKey.SetDataFromKeyBuf", "KeySize out of range", nullptr);
}

}  // namespace

void TOptimizedSearchKey::Clear(int FieldCount) {
    // Slots beyond the fields of every fill since the last clear are still zero.
    const auto n = std::size_t(std::max(FieldCount, FFilled));
    std::memset(FData, 0, n * sizeof FData[0]);
    std::memset(FDataSizes, 0, n * sizeof FDataSizes[0]);
    std::memset(FMarkers, 0, n * sizeof FMarkers[0]);
    std::memset(FNullFlags, 0, (n + 7) / 8);
    std::memset(FIsPointer, 0, n * sizeof FIsPointer[0]);
    FFilled = FieldCount;
}

void TOptimizedSearchKey::SetMarkers(int FieldCount, const TKeyMarkerList* Markers) {
    for (int i = 0; i < FieldCount; ++i)
        if (Markers && static_cast<int>(Markers->size()) > i) FMarkers[i] = ((*Markers)[i] & 127) - 1;
}

void TOptimizedSearchKey::SetDataFromRecBuf(const TKeyFields& KeyFields, const TKeyMarkerList* Markers,
                                            const uint8_t* RecBuf) {
    CheckFieldCount(KeyFields);
    Clear(KeyFields.Count());
    SetMarkers(KeyFields.Count(), Markers);
    for (int i = 0; i < KeyFields.Count(); ++i) {
        const TKeyFieldItem& field = *KeyFields.GetIndex(i);
        if (RecBuf[field.NullFlagOffset()] != 1) continue;
        int size = field.FieldSize();
        if (field.SizeMarkerOffset() > 0) {
            uint16_t marker = 0;
            std::memcpy(&marker, RecBuf + field.SizeMarkerOffset(), 2);
            size = marker;
        }
        FDataSizes[i] = size;
        const uint8_t* value = RecBuf + field.RecBufOffset();
        if (IsStringKeyType(field.DataType())) {
            std::memcpy(FData[i], &value, sizeof value);
            FIsPointer[i] = true;
        } else if (field.DataType() == ftBoolean) {
            FData[i][0] = value[0] != 0 ? 1 : 0;
        } else {
            std::memcpy(FData[i], value, std::clamp(size, 0, 8));
        }
        FNullFlags[i / 8] |= static_cast<uint8_t>(128u >> (i % 8));
    }
}

void TOptimizedSearchKey::SetDataFromKeyBuf(const TKeyFields& KeyFields, const TKeyMarkerList* Markers,
                                            const uint8_t* KeyBuf, int MaximumKeySize) {
    CheckFieldCount(KeyFields);
    Clear(KeyFields.Count());
    SetMarkers(KeyFields.Count(), Markers);
    const int dataOffset = KeyFields.DataOffset();
    if (C_KEYHEADERSIZE + dataOffset > MaximumKeySize || KeyFields.Count() > dataOffset * 8)
        KeySizeOutOfRange();
    int pos = C_KEYHEADERSIZE + dataOffset;
    for (int i = 0; i < KeyFields.Count(); ++i) {
        if ((KeyBuf[C_KEYHEADERSIZE + i / 8] & (128u >> (i % 8))) == 0) continue;
        const TKeyFieldItem& field = *KeyFields.GetIndex(i);
        int len = field.FieldSize();
        if (IsStringKeyType(field.DataType())) {
            if (pos + 2 > MaximumKeySize) KeySizeOutOfRange();
            uint16_t stored = 0;
            std::memcpy(&stored, KeyBuf + pos, 2);
            len = stored;
            pos += 2;
        }
        if (len < 0 || pos + len > MaximumKeySize) KeySizeOutOfRange();
        const uint8_t* value = KeyBuf + pos;
        FDataSizes[i] = len;
        if (IsStringKeyType(field.DataType())) {
            std::memcpy(FData[i], &value, sizeof value);
            FIsPointer[i] = true;
        } else {
            std::memcpy(FData[i], value, std::min(len, 8));
        }
        FNullFlags[i / 8] |= static_cast<uint8_t>(128u >> (i % 8));
        pos += len;
    }
}

}  // namespace ostra
