// orqKeyEntry: the key entry, the one encoding of an index key in B+-tree pages, search keys
// and sort arrays; its two encoders (from a record buffer, from search values) and the key
// comparison that orders entries.
//
// Key entry (little-endian; every entry of an index occupies exactly MaximumKeySize bytes):
//
//   | offset           | size          | field                                                 |
//   |------------------|---------------|-------------------------------------------------------|
//   | 0                | 2             | entry size (unsigned): always MaximumKeySize          |
//   | 2                | 4             | subtree record count (internal pages; 0 in leaves)    |
//   | 6                | 4             | address: a record's (leaf) or a child page's (internal)|
//   | 10               | KeyDataOffset | null bits: field i is bit (128 shr (i mod 8)) of byte |
//   |                  |               | (i div 8); set = the field is not null                |
//   | 10+KeyDataOffset | rest          | values of the non-null fields in key order, no gaps   |
//   | end              | to the size   | zero bytes                                            |
//
// Value bytes by key field type:
//   String       2-byte length + that many bytes (no terminator)
//   WideString   2-byte length in bytes + UTF-16LE code units
//   Smallint 2 (signed)   Word 2 (unsigned)   Integer, AutoInc 4 (signed)   Boolean 1 (0 / 1)
//   Float, Currency, Date, Time, DateTime   8: IEEE double
//   BCD          8: signed 64-bit integer holding the value * 10000
// Entries are compared field by field (CompareKeys), never as raw bytes.
//
// Comparison markers: a search key carries one marker per key field (fcForceBOF 0, fcDefault 1,
// fcForceEOF 2). A field beyond the end of a marker list, or any field without a list, has
// fcDefault. A field whose markers differ decides the comparison by them alone (BOF sorts
// before, EOF after every key that agrees on the fields before it), in index order whatever
// the field's direction. Search and range record buffers mark a field "lowest" or "highest"
// with null-flag bytes 2 and 4; BuildKeyMarkerList turns those into markers.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/storage/orqCommon.h"

namespace ostra {

class TKeyFields;
class TKeyFieldItem;
class Variant;

// Key entry header: 2-byte size + 4-byte record count + 4-byte address.
inline constexpr int C_KEYSIZEOFFSET = 0;
inline constexpr int C_KEYCOUNTOFFSET = 2;
inline constexpr int C_KEYADDROFFSET = 6;
inline constexpr int C_KEYHEADERSIZE = 10;

// One comparison marker (a TFieldComparisonValue) per key field.
using TKeyMarkerList = std::vector<uint8_t>;

// Builds the key entry of the record in RecBuf into KeyBuf (MaximumKeySize bytes, cleared
// first): a field whose null-flag byte is 1 contributes its value (a String its size-marker
// length, other types FieldSize bytes; a Boolean is stored as 0 or 1); any other null-flag
// byte leaves it null. Writes the entry size; count and address stay 0. When Markers is not
// null, *Markers receives one marker per key field: the caller's marker i from CallerMarkers
// when that list has more than i items, else fcDefault. KeyFields.DataOffset() must be the
// index's KeyDataOffset. A value that does not fit the entry raises 8581 "Field data length is
// out of range".
void ConstructKeyBufFromRecBuf(const TKeyFields& KeyFields, int MaximumKeySize, const uint8_t* RecBuf,
                               uint8_t* KeyBuf, const TKeyMarkerList* CallerMarkers = nullptr,
                               TKeyMarkerList* Markers = nullptr);

// Builds a search key from Values into KeyBuf (cleared first): an array gives element i to key
// field i (Null beyond its high bound), a single value goes to field 0 and the other fields are
// null. A Null value leaves its field null; any other value (Unassigned included) is converted
// by the field's type: String to text and WideString to UTF-16, both cut to FieldSize bytes;
// Smallint, Word, Integer and AutoInc to an integer of the field's range (a value outside it
// raises EVariantError "Overflow while converting ..."); Boolean to 1 when non-zero, else 0;
// Float, Currency, Date, Time, DateTime to a double; BCD to a Currency stored scaled by 10000.
// Any other key field type raises 10000 "Invalid field type" with the type's name. Markers as
// in ConstructKeyBufFromRecBuf.
void ConstructKeyBufFromVariants(const TKeyFields& KeyFields, int MaximumKeySize, const Variant& Values,
                                 uint8_t* KeyBuf, const TKeyMarkerList* CallerMarkers = nullptr,
                                 TKeyMarkerList* Markers = nullptr);

// Compares two key entries of the index described by KeyFields: negative, 0 or positive as Key1
// sorts before, equal to or after Key2. Over the first FieldCount key fields (all when
// FieldCount <= 0), in order, the first non-zero result wins:
//   1. markers: Markers1[i] - Markers2[i], a missing list or item counting as fcDefault; not
//      negated for descending fields;
//   2. null before value;
//   3. values by type: String through StringCompare (the field's CaseInsensitive, not partial),
//      WideString through DBCompareWideStrings, integers and BCD numerically, Boolean false
//      before true, doubles numerically (a NaN after every number, NaNs equal);
//   steps 2 and 3 are negated for a descending field.
// A size field above MaximumKeySize, or a value that runs past it, raises 8581 "KeySize out of
// range"; a key field type without a key encoding raises 8581 "Field type not found: <name>".
int CompareKeys(const TKeyFields& KeyFields, TDBStringCompareFunction StringCompare, int MaximumKeySize,
                int FieldCount, const TKeyMarkerList* Markers1, const TKeyMarkerList* Markers2,
                const uint8_t* Key1, const uint8_t* Key2);

// True for String and WideString: a key holds their value as a 2-byte length and the bytes.
inline bool IsStringKeyType(TFieldType Type) { return Type == ftString || Type == ftWideString; }
// True for the types a key can hold: the strings and the fixed-size types (FixedValueSize).
inline bool IsKeyFieldType(TFieldType Type) { return IsStringKeyType(Type) || FixedValueSize(Type) != 0; }

// Two values of the fixed-size key type Type (FixedValueSize not 0), each of at least its size, by
// the value rules of CompareKeys: integers and BCD numerically, Boolean false before true,
// doubles numerically with NaN after every number and NaNs equal. Negative, 0 or positive.
inline int CompareFixedKeyValues(TFieldType Type, const uint8_t* V1, const uint8_t* V2) {
    auto threeWay = [](auto A, auto B) { return A < B ? -1 : (A > B ? 1 : 0); };
    auto load = [](auto Sample, const uint8_t* P) {
        decltype(Sample) v;
        std::memcpy(&v, P, sizeof v);
        return v;
    };
    switch (Type) {
        case ftSmallint:
            return threeWay(load(int16_t(), V1), load(int16_t(), V2));
        case ftWord:
            return threeWay(load(uint16_t(), V1), load(uint16_t(), V2));
        case ftInteger:
        case ftAutoInc:
            return threeWay(load(int32_t(), V1), load(int32_t(), V2));
        case ftBoolean:
            return int(V1[0] != 0) - int(V2[0] != 0);
        case ftBCD:
            // Scaled integers compare exactly (as doubles, large amounts would tie).
            return threeWay(load(int64_t(), V1), load(int64_t(), V2));
        default: {
            const double a = load(double(), V1), b = load(double(), V2);
            const bool nanA = std::isnan(a), nanB = std::isnan(b);
            if (nanA || nanB) return int(nanA) - int(nanB);
            return threeWay(a, b);
        }
    }
}

// Compares two values of key field Field as key entries hold them (a String's or WideString's
// bytes without their length, other types their value bytes): negative, 0 or positive as V1
// sorts before, equal to or after V2, by the value rules of CompareKeys (step 3); the field's
// Descending flag is not applied. The decoded search key of the B+-tree compares through it.
// A fixed-size value shorter than its type raises 8581 "KeySize out of range"; a type without
// a key encoding raises 8581 "Field type not found: <name>".
int CompareKeyValues(const TKeyFieldItem& Field, TDBStringCompareFunction StringCompare, const uint8_t* V1,
                     int Len1, const uint8_t* V2, int Len2);

// The markers of a search or range record buffer: per key field fcForceBOF when its null-flag
// byte is 2, fcForceEOF when it is 4, else fcDefault. A key field that is not a record field
// (the hidden logical-record-number field, PhysicalFieldNo -1) takes TrailerMarker (the record
// buffer trailer's key marker, 2, 4 or 0) by the same rule.
TKeyMarkerList BuildKeyMarkerList(const TKeyFields& KeyFields, const uint8_t* RecBuf, uint8_t TrailerMarker);

}  // namespace ostra
