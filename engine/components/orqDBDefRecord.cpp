// orqDBDefRecord: encoding, decoding and the check value of the database definition record.
#include "engine/components/orqDBDefRecord.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqCrypt.h"
#include "host/AnsiCodec.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

// Writes at most Room - 1 characters of Text as UTF-16 at Bytes (the field's rest stays zero).
void PutText(uint8_t* Bytes, const std::string& Text, int Room) {
    const std::size_t n = std::min(Text.size(), std::size_t(Room - 1));
    for (std::size_t i = 0; i < n; ++i) Store16(Bytes + 2 * i, AnsiCharToUnicode(static_cast<unsigned char>(Text[i])));
}

// The text of a field: UTF-16 up to its zero or its room.
std::string GetText(const uint8_t* Bytes, int Room) {
    std::u16string text;
    for (int i = 0; i < Room; ++i) {
        const char16_t c = Load16(Bytes + 2 * i);
        if (c == 0) break;
        text += c;
    }
    return Utf16ToAnsi(text);
}

}  // namespace

void TDBDefRecord::Encode(uint8_t* Bytes) const {
    std::memset(Bytes, 0, CDBDefRecordSize);
    Store16(Bytes + CDBDefFormatOffset, Format);
    PutText(Bytes + CDBDefNameOffset, Name, CDBDefNameRoom);
    PutText(Bytes + CDBDefOSOffset, OSDescription, CDBDefNameRoom);
    uint64_t date;
    std::memcpy(&date, &DateCreated, sizeof date);
    Store64(Bytes + CDBDefDateOffset, date);
    PutText(Bytes + CDBDefOwnerOffset, Owner, CDBDefNameRoom);
    Store32(Bytes + CDBDefReservedOffset, Reserved);
    Store32(Bytes + CDBDefSortOrderOffset, uint32_t(SortOrder));
    PutText(Bytes + CDBDefVersionOffset, Version, CDBDefVersionRoom);
    Store32(Bytes + CDBDefSecurityOffset, uint32_t(SecurityLevel));
    Store32(Bytes + CDBDefCheckOffset, CheckValue);
}

void TDBDefRecord::Decode(const uint8_t* Bytes) {
    Format = Load16(Bytes + CDBDefFormatOffset);
    // The names have room for 31 characters; the stored text ends at its zero within them.
    Name = GetText(Bytes + CDBDefNameOffset, (CDBDefOSOffset - CDBDefNameOffset) / 2);
    OSDescription = GetText(Bytes + CDBDefOSOffset, (CDBDefDateOffset - CDBDefOSOffset) / 2);
    const uint64_t date = Load64(Bytes + CDBDefDateOffset);
    std::memcpy(&DateCreated, &date, sizeof date);
    Owner = GetText(Bytes + CDBDefOwnerOffset, (CDBDefReservedOffset - CDBDefOwnerOffset) / 2);
    Reserved = Load32(Bytes + CDBDefReservedOffset);
    SortOrder = int32_t(Load32(Bytes + CDBDefSortOrderOffset));
    Version = GetText(Bytes + CDBDefVersionOffset, (CDBDefSecurityOffset - CDBDefVersionOffset) / 2);
    SecurityLevel = int32_t(Load32(Bytes + CDBDefSecurityOffset));
    CheckValue = Load32(Bytes + CDBDefCheckOffset);
}

void TDBDefRecord::EncodeChecked(uint8_t* Bytes) {
    Encode(Bytes);
    CheckValue = DBDefCheckValue(Bytes);
    Store32(Bytes + CDBDefCheckOffset, CheckValue);
}

uint32_t DBDefCheckValue(const uint8_t* Bytes) {
    uint8_t buffer[256 + CDBDefRecordSize];
    for (int i = 0; i < 256; ++i) buffer[i] = uint8_t(i);
    std::memcpy(buffer + 256, Bytes, CDBDefRecordSize);
    Store32(buffer + 256 + CDBDefCheckOffset, 0);
    return CalcCRC(buffer, int(sizeof buffer));
}

void ParseVersionText(const std::string& Text, int& Major, int& Minor, int& Release) {
    auto number = [](const std::string& Piece) { return StrToIntDef(Piece, 0); };
    const std::size_t first = Text.find('.');
    if (first == std::string::npos) {
        Release = number(Text);
        return;
    }
    Major = number(Text.substr(0, first));
    const std::string rest = Text.substr(first + 1);
    const std::size_t second = rest.find('.');
    if (second == std::string::npos) {
        Release = number(rest);
        return;
    }
    Minor = number(rest.substr(0, second));
    Release = number(rest.substr(second + 1));
}

}  // namespace ostra
