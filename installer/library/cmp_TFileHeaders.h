// The archive's byte layout and its list of file headers. Every install file travels in an archive:
// a small header block and one zlib stream per file (the archive component, cmp_TFrnmCompress.h,
// writes and reads the streams). An archive may start at any byte of its file (the component's
// Offset: a self-extracting setup appends its archives to the loader program); every position
// below is counted from that start on the file that holds the archive, and from 0 on the second
// and later volume files of a multi-volume archive.
//
// Archive start, at Offset:
//   | offset | size | field       | meaning                                     |
//   |--------|------|-------------|---------------------------------------------|
//   | 0      | 4    | count       | int32, number of file headers N             |
//   | 4      | 1    | MultiVolume | 0 single-volume layout, 1 multi-volume      |
//
// Single-volume layout: the first header at 5; each header followed at once by its file's zlib
// stream; the next header at the header's NextHeader (the position right after the stream).
// Readers follow that chain and never assume headers to be adjacent.
// Multi-volume layout: volume 1 holds the count, the flag and all N headers back to back (header
// i at 5 + 176 * i, NextHeader right after it), then the streams in header order, continued on
// volume 2, 3 ... at any byte. Volume n is the archive's file name with the extension "." + n.
//
// File header, 176 bytes, integers little-endian, alignment bytes zero:
//   | offset | size | field          | meaning                                                   |
//   |--------|------|----------------|-----------------------------------------------------------|
//   | 0      | 4    | HeaderIndex    | int32, 1-based place in the batch of files that added it  |
//   | 4      | 4    | -              | alignment                                                 |
//   | 8      | 8    | FileDate       | IEEE double, the source's last-write date-time            |
//   | 16     | 1    | LastVolume     | volume of the stream's last byte; 0 single-volume         |
//   | 17     | 3    | -              | alignment                                                 |
//   | 20     | 4    | LastDataByte   | int32, position of the stream's last byte on LastVolume   |
//   | 24     | 101  | SourcePath     | 1 length byte + at most 100 characters, rest zero          |
//   | 125    | 3    | -              | alignment                                                 |
//   | 128    | 4    | NextHeader     | int32, position of the next header                        |
//   | 132    | 4    | FileSize       | int32, uncompressed size                                  |
//   | 136    | 4    | DataStart      | int32, position of the stream's first byte on FirstVolume |
//   | 140    | 4    | CompressedSize | int32, length of the zlib stream                          |
//   | 144    | 1    | FirstVolume    | volume of the stream's first byte; 0 single-volume (= 1)  |
//   | 145    | 3    | -              | alignment                                                 |
//   | 148    | 4    | FileID         | int32, the install file's identifier (0..1999 indexed)     |
//   | 152    | 21   | FileVersion    | 1 length byte + at most 20 characters, rest zero           |
//   | 173    | 3    | -              | alignment                                                 |
// (The uninstaller's older build had a 172-byte header without the alignment after HeaderIndex;
// the two layouts are not interchangeable and nothing here reads the older one.)
//
// Files are found by their stored SourcePath, which is cut to 100 characters: lookups cut the
// name they are given the same way, and adding refuses two files whose stored paths would be
// alike, so a lookup never finds the wrong file.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/DateTime.h"

namespace ostra {

class TStream;
class TStrings;

inline constexpr int kArchiveStartSize = 5;  // 4-byte count + 1-byte layout flag
inline constexpr int kFileHeaderSize = 176;  // see the layout table above
inline constexpr int kMaxSourcePath = 100;
inline constexpr int kMaxFileVersion = 20;

// One file header as its fields.
struct TFileHeaderRecord {
    int32_t HeaderIndex = 0;
    TDateTime FileDate = 0;
    uint8_t LastVolume = 0;
    int32_t LastDataByte = 0;
    std::string SourcePath;
    int32_t NextHeader = 0;
    int32_t FileSize = 0;
    int32_t DataStart = 0;
    int32_t CompressedSize = 0;
    uint8_t FirstVolume = 0;
    int32_t FileID = 0;
    std::string FileVersion;
};

// The 176 bytes of a header (the texts cut to their room).
void EncodeFileHeader(const TFileHeaderRecord& header, uint8_t (&bytes)[kFileHeaderSize]);
// The header of 176 bytes; false when a text's length byte exceeds its room.
bool DecodeFileHeader(const uint8_t (&bytes)[kFileHeaderSize], TFileHeaderRecord& header);
// Writes the 176 bytes at the stream's position; a short write raises EFrnmCompress "Could not
// write the file headers for the compressed file".
void WriteFileHeader(TStream& stream, const TFileHeaderRecord& header);
// The SourcePath a name is stored and looked up as: its first ";"-separated field, cut to 100
// characters.
std::string StoredSourcePath(const std::string& name);

// One header in memory: the record, whether it is already stored in the archive, and, for a file
// still to be compressed, the full path to read it from (SourcePath may be cut).
class TFileHeader {
public:
    bool Stored = false;
    TFileHeaderRecord Header;
    std::string SourceFile;
};

// The headers of one archive in archive order; owns them.
class TFileHeaders {
public:
    // Reads the count and the layout flag at offset and the N headers by following NextHeader,
    // replacing the list. Raises EFrnmCompress "Could not read the file header count for the
    // compressed file" when the 5 bytes are missing, "Could not read the file headers for the
    // compressed file. The Archive file could possible be corrupt" for a header that is short or
    // damaged (a negative count or size, a length byte beyond its room, a zero byte in the path,
    // a NextHeader that does not lie beyond its header, so that the chain always moves forward),
    // and "Tried to add an invalid file header" for a blank path. On failure the list is empty.
    void ReadHeaders(TStream& stream, int64_t offset);
    // Writes the count and the flag at position 0; in the multi-volume layout then every header
    // in order, setting each NextHeader to the position right after it.
    void WriteHeaders(TStream& stream);
    // Writes count and the flag at position 0 (the count of the files completed so far while
    // compressing).
    void WriteArchiveStart(TStream& stream, int32_t count);
    // Unless keep, clears the list; then adds a header filled from each file (HeaderIndex its
    // 1-based place among names). Raises EFrnmCompress "Cannot open the file %s" for a file that
    // cannot be opened, "Tried to add an invalid file header" for a blank name, and refuses a
    // file whose stored path is already in the list or a file too large for the layout; nothing
    // is added then.
    void AddFiles(const TStrings& names, bool keep);
    // Appends a header; a blank SourcePath raises EFrnmCompress "Tried to add an invalid file
    // header".
    void Add(std::unique_ptr<TFileHeader> header);
    // The position of the first header whose SourcePath equals StoredSourcePath(name), ignoring
    // case; -1 when none.
    int IndexOfName(const std::string& name) const;
    int Count() const { return static_cast<int>(FHeaders.size()); }
    // The header at position; out of range raises EFrnmCompress "%d is an invalid TFileHeader
    // index in TFileHeaders.GetFileHeaders".
    TFileHeader& GetFileHeaders(int position) const;
    void Clear() { FHeaders.clear(); }
    bool MultiVolume() const { return FMultiVolume; }
    void SetMultiVolume(bool value) { FMultiVolume = value; }

private:
    std::vector<std::unique_ptr<TFileHeader>> FHeaders;
    bool FMultiVolume = false;
};

}  // namespace ostra
