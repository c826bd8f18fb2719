// Archive bytes written by hand from the layout (not through the encoder under test), for the
// tests of the archive format and the archive component.
#pragma once
#include <cstdint>
#include <string>

#include "installer/library/cmp_TFileHeaders.h"

namespace ostra::test {

using HeaderFields = TFileHeaderRecord;

// Stores a little-endian int32 at bytes[at].
void PutInt32(std::string& bytes, size_t at, int32_t value);
// The 176 bytes of a header, laid out field by field here rather than by EncodeFileHeader: every
// field at its offset, alignment bytes zero.
std::string HeaderBytes(const HeaderFields& fields);
// The archive start: the count and the layout flag.
std::string ArchiveStartBytes(int32_t count, bool multiVolume);

}  // namespace ostra::test
