// orqKeyEntry: key entry encoders and the key comparison.
#include "engine/storage/orqKeyEntry.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "host/AnsiCodec.h"
#include "host/Exceptions.h"
#include "host/Variant.h"

namespace ostra {

static_assert(std::endian::native == std::endian::little, "key entries are read and written in place");

namespace {

template <class T>
T Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void Store(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

void SetNullBit(uint8_t* KeyBuf, int Field) {
    KeyBuf[C_KEYHEADERSIZE + Field / 8] |= static_cast<uint8_t>(128u >> (Field % 8));
}

bool NullBit(const uint8_t* KeyBuf, int Field) {
    return (KeyBuf[C_KEYHEADERSIZE + Field / 8] & (128u >> (Field % 8))) != 0;
}

// Appends values to a cleared entry of MaximumKeySize bytes, never past its end.
class TKeyWriter {
public:
    TKeyWriter(uint8_t* KeyBuf, int MaximumKeySize, int DataOffset)
        : FBuf(KeyBuf), FSize(MaximumKeySize), FPos(C_KEYHEADERSIZE + DataOffset) {}

    void Append(const void* Data, int Len) {
        Reserve(Len);
        if (Len > 0) std::memcpy(FBuf + FPos, Data, Len);
        FPos += Len;
    }
    void AppendLength(int Len) {
        const auto len = static_cast<uint16_t>(Len);
        Append(&len, 2);
    }

private:
    void Reserve(int Len) {
        if (Len < 0 || FPos + Len > FSize)
            OrqDatabaseError(8581, "TBTree.ConstructKeyBuf", "Field data length is out of range", nullptr);
    }

    uint8_t* FBuf;
    int FSize;
    int FPos;
};

// Clears the entry and checks that the key fields' null bits fit before the values.
void BeginKey(const TKeyFields& KeyFields, int MaximumKeySize, uint8_t* KeyBuf) {
    Assert(KeyFields.DataOffset() >= KeyFields.Count() / 8 + 1,
           "Key data offset is too small for the key fields");
    Assert(MaximumKeySize >= C_KEYHEADERSIZE + KeyFields.DataOffset(),
           "Key size is too small for the key fields");
    std::memset(KeyBuf, 0, MaximumKeySize);
}

void FinishKey(int MaximumKeySize, uint8_t* KeyBuf) {
    Store<uint16_t>(KeyBuf + C_KEYSIZEOFFSET, MaximumKeySize);
}

int MarkerOf(const TKeyMarkerList* Markers, int i) {
    return Markers && static_cast<int>(Markers->size()) > i ? (*Markers)[i] : static_cast<int>(fcDefault);
}

void FillMarkers(int FieldCount, const TKeyMarkerList* CallerMarkers, TKeyMarkerList* Markers) {
    if (!Markers) return;
    Markers->clear();
    for (int i = 0; i < FieldCount; ++i) Markers->push_back(static_cast<uint8_t>(MarkerOf(CallerMarkers, i)));
}

[[noreturn]] void KeySizeOutOfRange() {
    OrqDatabaseError(8581, "TBTree.CompareKeys", "KeySize out of range", nullptr);
}


// Reads a key's values one after the other, checking that each lies inside the entry.
class TKeyReader {
public:
    TKeyReader(const uint8_t* Key, int MaximumKeySize, int DataOffset)
        : FKey(Key), FSize(MaximumKeySize), FPos(C_KEYHEADERSIZE + DataOffset) {}

    // The value of a field of the given type and size: its bytes and length, then advances.
    const uint8_t* Next(TFieldType Type, int FieldSize, int& Len) {
        if (IsStringKeyType(Type)) {
            Check(2);
            Len = Load<uint16_t>(FKey + FPos);
            FPos += 2;
        } else {
            Len = FieldSize;
        }
        Check(Len);
        const uint8_t* value = FKey + FPos;
        FPos += Len;
        return value;
    }

private:
    void Check(int Len) const {
        if (Len < 0 || FPos + Len > FSize) KeySizeOutOfRange();
    }

    const uint8_t* FKey;
    int FSize;
    int FPos;
};

int CompareValues(const TKeyFieldItem& Field, TDBStringCompareFunction StringCompare, const uint8_t* V1,
                  int Len1, const uint8_t* V2, int Len2) {
    const TFieldType type = Field.DataType();
    // Each fixed-size value type needs FieldSize to hold at least its bytes.
    const int width = FixedValueSize(type);
    if (!IsStringKeyType(type) && (Len1 < width || Len2 < width)) KeySizeOutOfRange();
    switch (type) {
        case ftString:
            return StringCompare(reinterpret_cast<const char*>(V1), reinterpret_cast<const char*>(V2), Len1,
                                 Len2, Field.CaseInsensitive(), false);
        case ftWideString:
            return DBCompareWideStrings(reinterpret_cast<const char*>(V1), reinterpret_cast<const char*>(V2),
                                        Len1, Len2, Field.CaseInsensitive(), false);
        default:
            if (width != 0) return CompareFixedKeyValues(type, V1, V2);
            OrqDatabaseError(8581, "TBTree.CompareKeys",
                             std::string("Field type not found: ") + FieldTypeName(type), nullptr);
    }
}

uint8_t MarkerFromFlag(uint8_t Flag) {
    if (Flag == 2) return fcForceBOF;
    if (Flag == 4) return fcForceEOF;
    return fcDefault;
}

}  // namespace

void ConstructKeyBufFromRecBuf(const TKeyFields& KeyFields, int MaximumKeySize, const uint8_t* RecBuf,
                               uint8_t* KeyBuf, const TKeyMarkerList* CallerMarkers,
                               TKeyMarkerList* Markers) {
    BeginKey(KeyFields, MaximumKeySize, KeyBuf);
    FillMarkers(KeyFields.Count(), CallerMarkers, Markers);
    TKeyWriter writer(KeyBuf, MaximumKeySize, KeyFields.DataOffset());
    for (int i = 0; i < KeyFields.Count(); ++i) {
        const TKeyFieldItem* field = KeyFields.GetIndex(i);
        if (RecBuf[field->NullFlagOffset()] != 1) continue;
        const int len = field->SizeMarkerOffset() > 0 ? Load<uint16_t>(RecBuf + field->SizeMarkerOffset())
                                                      : field->FieldSize();
        // A size marker beyond the field's stored bytes would read past the value.
        if (len > field->FieldSize())
            OrqDatabaseError(8581, "TBTree.ConstructKeyBuf", "Field data length is out of range", nullptr);
        if (IsStringKeyType(field->DataType())) writer.AppendLength(len);
        if (field->DataType() == ftBoolean) {
            const uint8_t b = RecBuf[field->RecBufOffset()] != 0 ? 1 : 0;
            writer.Append(&b, 1);
        } else {
            writer.Append(RecBuf + field->RecBufOffset(), len);
        }
        SetNullBit(KeyBuf, i);
    }
    FinishKey(MaximumKeySize, KeyBuf);
}

void ConstructKeyBufFromVariants(const TKeyFields& KeyFields, int MaximumKeySize, const Variant& Values,
                                 uint8_t* KeyBuf, const TKeyMarkerList* CallerMarkers,
                                 TKeyMarkerList* Markers) {
    BeginKey(KeyFields, MaximumKeySize, KeyBuf);
    FillMarkers(KeyFields.Count(), CallerMarkers, Markers);
    TKeyWriter writer(KeyBuf, MaximumKeySize, KeyFields.DataOffset());
    const bool isArray = VarIsArray(Values);
    const Variant null = Null();
    for (int i = 0; i < KeyFields.Count(); ++i) {
        const TKeyFieldItem* field = KeyFields.GetIndex(i);
        const Variant* value = &null;
        if (isArray) {
            if (i <= VarArrayHighBound(Values)) value = &Values[VarArrayLowBound(Values) + i];
        } else if (i == 0) {
            value = &Values;
        }
        if (VarIsNull(*value)) continue;
        switch (field->DataType()) {
            case ftString: {
                const std::string s = value->AsString();
                // A longer value cannot be stored; its first FieldSize bytes keep its order
                // against every stored value.
                const int len = std::min<int>(static_cast<int>(s.size()), std::max(field->FieldSize(), 0));
                writer.AppendLength(len);
                writer.Append(s.data(), len);
                break;
            }
            case ftWideString: {
                const std::u16string w = AnsiToUtf16(value->AsString());
                const int len =
                    std::min<int>(static_cast<int>(w.size()) * 2, std::max(field->FieldSize(), 0) & ~1);
                writer.AppendLength(len);
                writer.Append(w.data(), len);
                break;
            }
            case ftSmallint: {
                const auto v = static_cast<int16_t>(VarAsType(*value, varSmallint).AsInteger());
                writer.Append(&v, 2);
                break;
            }
            case ftWord: {
                const auto v = static_cast<uint16_t>(VarAsType(*value, varWord).AsInteger());
                writer.Append(&v, 2);
                break;
            }
            case ftInteger:
            case ftAutoInc: {
                const int32_t v = value->AsInteger();
                writer.Append(&v, 4);
                break;
            }
            case ftBoolean: {
                const uint8_t v = value->AsInteger() != 0 ? 1 : 0;
                writer.Append(&v, 1);
                break;
            }
            case ftFloat:
            case ftCurrency:
            case ftDate:
            case ftTime:
            case ftDateTime: {
                const double v = value->AsDouble();
                writer.Append(&v, 8);
                break;
            }
            case ftBCD: {
                const int64_t v = value->AsCurrency().Scaled;
                writer.Append(&v, 8);
                break;
            }
            default:
                OrqDatabaseError(10000, "TBTree.ConstructKeyBufFromVariants",
                                 FieldTypeName(field->DataType()), nullptr);
        }
        SetNullBit(KeyBuf, i);
    }
    FinishKey(MaximumKeySize, KeyBuf);
}

int CompareKeys(const TKeyFields& KeyFields, TDBStringCompareFunction StringCompare, int MaximumKeySize,
                int FieldCount, const TKeyMarkerList* Markers1, const TKeyMarkerList* Markers2,
                const uint8_t* Key1, const uint8_t* Key2) {
    if (Load<uint16_t>(Key1 + C_KEYSIZEOFFSET) > MaximumKeySize ||
        Load<uint16_t>(Key2 + C_KEYSIZEOFFSET) > MaximumKeySize)
        KeySizeOutOfRange();
    const int dataOffset = KeyFields.DataOffset();
    if (C_KEYHEADERSIZE + dataOffset > MaximumKeySize || KeyFields.Count() > dataOffset * 8)
        KeySizeOutOfRange();
    const int n = FieldCount > 0 ? std::min(FieldCount, KeyFields.Count()) : KeyFields.Count();
    TKeyReader reader1(Key1, MaximumKeySize, dataOffset);
    TKeyReader reader2(Key2, MaximumKeySize, dataOffset);
    int r = 0;
    for (int i = 0; r == 0 && i < n; ++i) {
        r = MarkerOf(Markers1, i) - MarkerOf(Markers2, i);
        if (r != 0) return r;
        const TKeyFieldItem& field = *KeyFields.GetIndex(i);
        const bool has1 = NullBit(Key1, i);
        const bool has2 = NullBit(Key2, i);
        r = static_cast<int>(has1) - static_cast<int>(has2);
        if (r == 0 && has1) {
            int len1 = 0;
            int len2 = 0;
            const uint8_t* v1 = reader1.Next(field.DataType(), field.FieldSize(), len1);
            const uint8_t* v2 = reader2.Next(field.DataType(), field.FieldSize(), len2);
            r = CompareValues(field, StringCompare, v1, len1, v2, len2);
        } else {
            // Skip the value of whichever key has one (the other is null here).
            int len = 0;
            if (has1) reader1.Next(field.DataType(), field.FieldSize(), len);
            if (has2) reader2.Next(field.DataType(), field.FieldSize(), len);
        }
        if (field.Descending()) r = -r;
    }
    return r;
}

int CompareKeyValues(const TKeyFieldItem& Field, TDBStringCompareFunction StringCompare, const uint8_t* V1,
                     int Len1, const uint8_t* V2, int Len2) {
    return CompareValues(Field, StringCompare, V1, Len1, V2, Len2);
}

TKeyMarkerList BuildKeyMarkerList(const TKeyFields& KeyFields, const uint8_t* RecBuf, uint8_t TrailerMarker) {
    TKeyMarkerList markers;
    markers.reserve(KeyFields.Count());
    for (int i = 0; i < KeyFields.Count(); ++i) {
        const TKeyFieldItem* field = KeyFields.GetIndex(i);
        markers.push_back(
            MarkerFromFlag(field->PhysicalFieldNo() < 0 ? TrailerMarker : RecBuf[field->NullFlagOffset()]));
    }
    return markers;
}

}  // namespace ostra
