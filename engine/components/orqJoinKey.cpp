// orqJoinKey: join keys of stored column values (see the header for the byte forms).
#include "engine/components/orqJoinKey.h"

#include <cstring>

#include "engine/storage/orqByteOrder.h"

namespace ostra {

TJoinKeyKind JoinKeyKindOf(TFieldType Type) {
    switch (Type) {
        case ftSmallint:
        case ftWord:
        case ftInteger:
        case ftAutoInc:
        case ftFloat:
        case ftCurrency:
            return jkNumber;
        case ftString:
            return jkString;
        case ftBoolean:
            return jkBoolean;
        case ftDate:
            return jkDate;
        case ftTime:
            return jkTime;
        case ftDateTime:
            return jkDateTime;
        default:
            return jkNone;
    }
}

bool JoinKeysCompatible(TFieldType A, TFieldType B) {
    const TJoinKeyKind kind = JoinKeyKindOf(A);
    return kind != jkNone && kind == JoinKeyKindOf(B);
}

namespace {

void AppendDouble(double Value, std::string& Key) {
    if (Value == 0) Value = 0;  // -0 and +0 are equal: one key
    char bytes[sizeof Value];
    std::memcpy(bytes, &Value, sizeof Value);
    Key.assign(bytes, sizeof Value);
}

}  // namespace

bool BuildJoinKey(TFieldType Type, const uint8_t* Data, int Length, std::string& Key) {
    double number = 0;
    switch (Type) {
        case ftSmallint:
            AppendDouble(int16_t(Load16(Data)), Key);
            return true;
        case ftWord:
            AppendDouble(Load16(Data), Key);
            return true;
        case ftInteger:
        case ftAutoInc:
            AppendDouble(int32_t(Load32(Data)), Key);
            return true;
        case ftFloat:
        case ftCurrency:
        case ftDate:
        case ftTime:
        case ftDateTime:
            std::memcpy(&number, Data, sizeof number);
            AppendDouble(number, Key);
            return true;
        case ftString: {
            const char* text = reinterpret_cast<const char*>(Data);
            Key.assign(text, strnlen(text, size_t(Length > 0 ? Length : 0)));
            return true;
        }
        case ftBoolean:
            Key.assign(1, Data[0] != 0 ? '\1' : '\0');
            return true;
        default:
            return false;
    }
}

}  // namespace ostra
