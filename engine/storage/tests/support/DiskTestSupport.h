// Helpers for the tests of the database file manager and the allocation maps: making and opening
// database files, reading integers out of file bytes, and catching engine error codes.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/orqDisk.h"
#include "host/Streams.h"
#include "orqErrorCapture.h"

namespace ostra::disktest {

inline constexpr uint32_t PS = 4096;           // the page size the tests use
inline constexpr uint32_t EPP = (PS - 20) / 2;  // map entries per map page at that size
inline constexpr int32_t SharedRW = fmOpenReadWrite | fmShareDenyNone;
inline constexpr int32_t ExclusiveRW = fmOpenReadWrite | fmShareExclusive;

// Creates a new database file at Path with the given page size.
void CreateDatabase(const std::string& Path, uint32_t PageSize = PS);
// An open disk manager on Path; short lock waits (RetryCount attempts 10 ms apart).
std::unique_ptr<TDiskMgr> OpenDatabase(const std::string& Path, int32_t Flags = SharedRW,
                                       int32_t RetryCount = 3, uint32_t PageSize = PS);

// The engine error code / message that an action raises (see orqErrorCapture.h).
using ostra::storagetest::ErrorCode;
using ostra::storagetest::ErrorText;

// Little-endian integers in a byte string (file contents).
uint16_t U16(const std::string& Bytes, std::size_t Offset);
uint32_t U32(const std::string& Bytes, std::size_t Offset);
void PutU16(std::string& Bytes, std::size_t Offset, uint16_t Value);
void PutU32(std::string& Bytes, std::size_t Offset, uint32_t Value);

// Reads and patches a file in place.
std::string ReadRange(const std::string& Path, uint64_t Offset, uint64_t Size);
void PatchFile(const std::string& Path, uint64_t Offset, const std::string& Bytes);
void PatchU16(const std::string& Path, uint64_t Offset, uint16_t Value);
void PatchU32(const std::string& Path, uint64_t Offset, uint32_t Value);

// A page buffer filled with Fill.
std::vector<uint8_t> Pages(uint32_t Count, uint8_t Fill, uint32_t PageSize = PS);

// The map entry of the page at Address as stored in the file (map page MapAddress holds it).
uint16_t StoredEntry(const std::string& Path, uint32_t MapAddress, uint32_t PageIndexInMap);
// The free list of the map page at MapAddress as stored: the page indexes in list order.
std::vector<uint32_t> StoredFreeList(const std::string& Path, uint32_t MapAddress);

}  // namespace ostra::disktest
