// orqDBDefRecord: the database definition record, the first 254 bytes of every database file.
//
// The database component (orqDataBase.h) writes it when it creates a database and reads and
// checks it at every connection: it names the database, says which engine version made the file
// (a connection refuses a file of a higher version), the default collation and the security
// level. A check value over the record catches a damaged or foreign first page.
//
// Byte layout (little-endian; texts UTF-16, zero-terminated, the rest of the field zero):
//
//   | Offset | Size | Content                                                              |
//   |--------|------|----------------------------------------------------------------------|
//   | 0      | 2    | format word, always 1                                                |
//   | 2      | 62   | database name: 31 characters of 2 bytes, at most 29 used             |
//   | 64     | 62   | operating-system description at creation, at most 29 characters      |
//   | 126    | 8    | creation date and time: IEEE double, days since 1899-12-30           |
//   | 134    | 62   | owner, at most 29 characters                                         |
//   | 196    | 4    | reserved, 0                                                          |
//   | 200    | 4    | default sort order: 0 soANSI, 1 soASCII                              |
//   | 204    | 42   | engine version text: 21 characters of 2 bytes, at most 19 used       |
//   | 246    | 4    | security level (signed): 0 none, 1 encryption, 2 encryption and users |
//   | 250    | 4    | check value (below)                                                  |
//
// A text field of N characters' room holds at most N - 1 characters (N = 30 for the names, 20
// for the version) and a terminating zero. The check value is the CRC-32 (orqCrypt.h) of a
// 510-byte buffer: the values 0 to 255 in order, then the 254 record bytes with the check value
// field zero.
#pragma once
#include <cstdint>
#include <string>

namespace ostra {

// The record's size and the offsets of its items.
inline constexpr uint32_t CDBDefRecordSize = 254;
inline constexpr uint32_t CDBDefFormatOffset = 0;
inline constexpr uint32_t CDBDefNameOffset = 2;
inline constexpr uint32_t CDBDefOSOffset = 64;
inline constexpr uint32_t CDBDefDateOffset = 126;
inline constexpr uint32_t CDBDefOwnerOffset = 134;
inline constexpr uint32_t CDBDefReservedOffset = 196;
inline constexpr uint32_t CDBDefSortOrderOffset = 200;
inline constexpr uint32_t CDBDefVersionOffset = 204;
inline constexpr uint32_t CDBDefSecurityOffset = 246;
inline constexpr uint32_t CDBDefCheckOffset = 250;
// Characters' room of the text fields (each holds one less and a zero).
inline constexpr int CDBDefNameRoom = 30;
inline constexpr int CDBDefVersionRoom = 20;

// The engine version this build writes into new databases and tables; a connection refuses a
// database whose version is higher.
inline constexpr char CEngineVersion[] = "1.43.02";

// The security levels of a database.
inline constexpr int32_t CSecurityNone = 0;
inline constexpr int32_t CSecurityEncryption = 1;
inline constexpr int32_t CSecurityUsers = 2;

// The database definition record as values (texts in Windows-1252).
struct TDBDefRecord {
    uint16_t Format = 1;
    std::string Name;
    std::string OSDescription;
    double DateCreated = 0;
    std::string Owner;
    uint32_t Reserved = 0;
    int32_t SortOrder = 0;
    std::string Version;
    int32_t SecurityLevel = 0;
    uint32_t CheckValue = 0;

    // The 254 bytes with CheckValue as held (texts cut to their room).
    void Encode(uint8_t* Bytes) const;
    // The values of 254 stored bytes (a text ends at its zero or at its room).
    void Decode(const uint8_t* Bytes);
    // Encode with CheckValue := the check value of the encoded bytes.
    void EncodeChecked(uint8_t* Bytes);
};

// The check value of 254 record bytes (their check value field taken as zero).
uint32_t DBDefCheckValue(const uint8_t* Bytes);

// Splits a version text into its three numbers: the pieces before the first dot, between the
// first and second dot, and after the second dot; a piece that is no number counts 0. Where a
// dot is missing, the number that would stand before it keeps the value it has, and the rest of
// the text is the release ("7" sets only Release; "1.5" sets Major and Release).
void ParseVersionText(const std::string& Text, int& Major, int& Minor, int& Release);

}  // namespace ostra
