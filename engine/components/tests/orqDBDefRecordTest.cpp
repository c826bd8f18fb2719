// The database definition record: its bytes (golden bytes worked out apart from the code: UTF-16
// texts, the date as a double, the CRC-32 over the 256 counting bytes and the record), the cut of
// long texts, the check value, and the reading of version texts.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/components/orqDBDefRecord.h"

namespace ostra {
namespace {

std::string Hex(const uint8_t* Bytes, std::size_t Size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < Size; ++i) {
        text += digits[Bytes[i] >> 4];
        text += digits[Bytes[i] & 15];
    }
    return text;
}

TDBDefRecord Sample() {
    TDBDefRecord record;
    record.Name = "shop.orq";
    record.OSDescription = "Linux: 6.1.0";
    record.DateCreated = 45000.5;
    record.Owner = "alice";
    record.SortOrder = 1;
    record.Version = "1.43.02";
    record.SecurityLevel = 1;
    return record;
}

TEST(DBDefRecordTest, HasItsGoldenBytesAndCheckValue) {
    TDBDefRecord record = Sample();
    uint8_t bytes[CDBDefRecordSize];
    record.EncodeChecked(bytes);
    const std::string golden =
        "0100730068006f0070002e006f0072007100000000000000000000000000000000000000000000000000000000000000"
        "000000000000000000000000000000004c0069006e00750078003a00200036002e0031002e0030000000000000000000"
        "0000000000000000000000000000000000000000000000000000000000000000000010f9e54061006c00690063006500"
        "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000100000031002e00340033002e003000320000000000000000000000000000000000000000000000"
        "00000000000001000000c2ba8610";
    EXPECT_EQ(Hex(bytes, sizeof bytes), golden);
    EXPECT_EQ(record.CheckValue, 0x1086bac2u);
    EXPECT_EQ(DBDefCheckValue(bytes), 0x1086bac2u);

    TDBDefRecord read;
    read.Decode(bytes);
    EXPECT_EQ(read.Name, "shop.orq");
    EXPECT_EQ(read.OSDescription, "Linux: 6.1.0");
    EXPECT_EQ(read.DateCreated, 45000.5);
    EXPECT_EQ(read.Owner, "alice");
    EXPECT_EQ(read.SortOrder, 1);
    EXPECT_EQ(read.Version, "1.43.02");
    EXPECT_EQ(read.SecurityLevel, 1);

    // Any one byte changed (the check value's own bytes too) no longer matches.
    for (uint32_t offset : {0u, 2u, 127u, 200u, 245u, 246u, 250u, 253u}) {
        uint8_t changed[CDBDefRecordSize];
        std::memcpy(changed, bytes, sizeof changed);
        changed[offset] ^= 0x20;
        TDBDefRecord damaged;
        damaged.Decode(changed);
        EXPECT_NE(DBDefCheckValue(changed), damaged.CheckValue) << offset;
    }
}

TEST(DBDefRecordTest, CutsTextsToTheirRoomAndKeepsWindows1252) {
    TDBDefRecord record = Sample();
    record.Name = std::string(35, 'n');
    record.Owner = "Ren\xE9 \x80";  // e acute and the euro sign
    record.Version = std::string(25, '9');
    uint8_t bytes[CDBDefRecordSize];
    record.EncodeChecked(bytes);
    EXPECT_EQ(bytes[CDBDefNameOffset + 58], 0);  // the zero after 29 characters
    EXPECT_EQ(bytes[CDBDefOwnerOffset + 10], 0xAC);  // U+20AC, low byte first
    EXPECT_EQ(bytes[CDBDefOwnerOffset + 11], 0x20);
    TDBDefRecord read;
    read.Decode(bytes);
    EXPECT_EQ(read.Name, std::string(29, 'n'));
    EXPECT_EQ(read.Owner, "Ren\xE9 \x80");
    EXPECT_EQ(read.Version, std::string(19, '9'));
}

TEST(DBDefRecordTest, ReadsVersionTexts) {
    struct Case {
        const char* Text;
        int Major, Minor, Release;  // from 7, 8, 9 before
    };
    const Case cases[] = {
        {"1.43.02", 1, 43, 2}, {"2.0.0", 2, 0, 0},  {"1.44.01", 1, 44, 1}, {"x.43.y", 0, 43, 0},
        {"1.5", 1, 8, 5},      {"3", 7, 8, 3},      {"", 7, 8, 0},         {"1.2.3.4", 1, 2, 0},
    };
    for (const Case& c : cases) {
        int major = 7, minor = 8, release = 9;
        ParseVersionText(c.Text, major, minor, release);
        EXPECT_EQ(major, c.Major) << c.Text;
        EXPECT_EQ(minor, c.Minor) << c.Text;
        EXPECT_EQ(release, c.Release) << c.Text;
    }
}

}  // namespace
}  // namespace ostra
