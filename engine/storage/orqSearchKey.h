// orqSearchKey: what shapes one index search: the search types, TSearchModifier (compare only
// the leading key fields) and TOptimizedSearchKey (the search key decoded once, so that the
// comparisons of a tree descent do not parse it again).
//
// The B+-tree (orqBTree.h) fills its TOptimizedSearchKey after every encoding of its search
// key and compares page entries against it (TBTree::CompareToOptimizedKey). The open indexes
// (orqIndexUnit.h) hand a TSearchModifier to partial searches.
#pragma once
#include <cstdint>
#include <cstring>

#include "engine/storage/orqKeyEntry.h"

namespace ostra {

class TKeyFields;

// The six index search types; the result of a search is 0 when the cursor was positioned.
//   stLT  the last key below the search key       stGE  the first key not below it
//   stLE  the last key not above it               stGT  the first key above it
//   stEQ  a key equal to it                       stLEG stGE, else the last key of the index
enum TIndexSearchType : uint8_t { stLT, stLE, stEQ, stGE, stGT, stLEG };

// Limits a search to the leading key fields.
class TSearchModifier {
public:
    // With LimitedSearch, the number of leading key fields compared; below 1 means every key
    // field before the first hidden one.
    int IncludedKeyFieldCount() const { return FIncludedKeyFieldCount; }
    void SetIncludedKeyFieldCount(int Value) { FIncludedKeyFieldCount = Value; }
    // Whether the search compares only leading key fields.
    bool LimitedSearch() const { return FLimitedSearch; }
    void SetLimitedSearch(bool Value) { FLimitedSearch = Value; }

private:
    int FIncludedKeyFieldCount = 0;
    bool FLimitedSearch = false;
};

// The most key fields a decoded search key holds (the hidden key field included).
inline constexpr int C_MAXOPTIMIZEDKEYFIELDS = 32;

// A search key decoded into per-field slots. A fixed-size value is copied into its 8-byte slot;
// a String or WideString slot points at the value's bytes inside the buffer it was decoded
// from, which must stay valid and unchanged while the key is used.
//
// Invariants after a fill: every slot, size and marker of a field beyond the key, and every
// null bit of such a field, is zero; a null field has data size 0.
class TOptimizedSearchKey {
public:
    // Fills the key from a record buffer: per key field the marker (Markers[i] and 127) - 1
    // (0 when Markers is null or too short); for a field whose null-flag byte is 1 its size (the
    // 2-byte size marker when SizeMarkerOffset > 0, else FieldSize), its value and its null bit.
    // More than 32 key fields raise 8581 "Too many key fields".
    void SetDataFromRecBuf(const TKeyFields& KeyFields, const TKeyMarkerList* Markers, const uint8_t* RecBuf);
    // Fills the key from a key entry: markers as above, the entry's null bits, and each non-null
    // field's value as the entry packs it. A value running past MaximumKeySize raises 8581
    // "KeySize out of range".
    void SetDataFromKeyBuf(const TKeyFields& KeyFields, const TKeyMarkerList* Markers, const uint8_t* KeyBuf,
                           int MaximumKeySize);

    // The address of slot i: the value (fixed-size types) or the pointer to it (strings).
    const uint8_t* GetData(int i) const { return FData[i]; }
    // The value bytes of field i: the slot itself, or the string bytes the slot points at.
    const uint8_t* GetValue(int i) const {
        if (!FIsPointer[i]) return FData[i];
        const uint8_t* p = nullptr;
        std::memcpy(&p, FData[i], sizeof p);
        return p;
    }
    // The value length of field i (0 when null).
    int GetDataSize(int i) const { return FDataSizes[i]; }
    // The comparison marker of field i minus 1: -1 force before, 0 compare, 1 force after.
    int GetComparisonMarker(int i) const { return FMarkers[i]; }
    // Null-flag byte i (bit 128 shr (f mod 8) of byte f div 8 set = field f not null).
    uint8_t GetNullFlags(int i) const { return FNullFlags[i]; }
    // True when field i is not null.
    bool HasValue(int i) const { return (FNullFlags[i / 8] & (128u >> (i % 8))) != 0; }

private:
    // Zeroes the slots of the first FieldCount fields and of every field an earlier fill used.
    void Clear(int FieldCount);
    void SetMarkers(int FieldCount, const TKeyMarkerList* Markers);

    uint8_t FData[C_MAXOPTIMIZEDKEYFIELDS][8] = {};
    int32_t FDataSizes[C_MAXOPTIMIZEDKEYFIELDS] = {};
    int32_t FMarkers[C_MAXOPTIMIZEDKEYFIELDS] = {};
    uint8_t FNullFlags[C_MAXOPTIMIZEDKEYFIELDS / 8] = {};
    bool FIsPointer[C_MAXOPTIMIZEDKEYFIELDS] = {};
    int FFilled = 0;  // the fields the last fill may have written
};

}  // namespace ostra
