// The archive's header layout, its encoding and the header list.
#include "installer/library/cmp_TFileHeaders.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "host/Collation.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "installer/library/WinFileStream.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TVersion.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {

const char* const kHeadersUnreadable =
    "Could not read the file headers for the compressed file. The Archive file could possible be corrupt";

// Field offsets within the 176-byte header (see the table in the header file).
enum : int {
    oHeaderIndex = 0, oFileDate = 8, oLastVolume = 16, oLastDataByte = 20, oSourcePath = 24, oNextHeader = 128,
    oFileSize = 132, oDataStart = 136, oCompressedSize = 140, oFirstVolume = 144, oFileID = 148, oFileVersion = 152
};

void PutInt32(uint8_t* p, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t GetInt32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return static_cast<int32_t>(v);
}

// A length-prefixed text of at most room characters.
void PutShortString(uint8_t* p, const std::string& text, size_t room) {
    size_t length = std::min(text.size(), room);
    p[0] = static_cast<uint8_t>(length);
    std::memcpy(p + 1, text.data(), length);
}

bool GetShortString(const uint8_t* p, size_t room, std::string& text) {
    if (p[0] > room) return false;
    text.assign(reinterpret_cast<const char*>(p + 1), p[0]);
    return true;
}

// A header that no writer of the layout produces: sizes and positions that cannot be, a path that
// holds a zero byte, or a NextHeader that does not move past the header itself.
bool Damaged(const TFileHeaderRecord& h, int64_t headerPosition) {
    return h.FileSize < 0 || h.CompressedSize < 0 || h.DataStart < 0 || h.LastDataByte < -1 ||
           h.SourcePath.find('\0') != std::string::npos || h.FileVersion.find('\0') != std::string::npos ||
           h.NextHeader < headerPosition + kFileHeaderSize;
}

// A header filled from the file name names (its first ";" field).
std::unique_ptr<TFileHeader> HeaderFromFile(const std::string& name) {
    auto header = std::make_unique<TFileHeader>();
    header->SourceFile = GetDelimitedField(name, 1, ';');
    header->Header.SourcePath = StoredSourcePath(name);
    if (Trim(header->Header.SourcePath).empty()) throw EFrnmCompress("Tried to add an invalid file header");
    TWinFileStream file;
    if (!file.Open(header->SourceFile, platform::FileAccess::Read, platform::FileShare::DenyNone,
                   platform::FileCreate::OpenExisting))
        throw EFrnmCompress(Format("Cannot open the file %s", {header->SourceFile}));
    int64_t size = file.Size();
    if (size > std::numeric_limits<int32_t>::max())
        throw EFrnmCompress(Format("Cannot add the file %s: an archive holds files of at most 2147483647 bytes",
                                   {header->SourceFile}));
    header->Header.FileSize = static_cast<int32_t>(size);
    WinGetLastWriteTime(header->SourceFile, header->Header.FileDate);
    file.Close();
    TVersionResource& version = SharedVersionResource();
    version.SetFileName(header->SourceFile);
    header->Header.FileVersion = version.VersionInfo()->FileVersion.substr(0, kMaxFileVersion);
    return header;
}

}  // namespace

void EncodeFileHeader(const TFileHeaderRecord& h, uint8_t (&bytes)[kFileHeaderSize]) {
    std::memset(bytes, 0, sizeof bytes);
    PutInt32(bytes + oHeaderIndex, h.HeaderIndex);
    std::memcpy(bytes + oFileDate, &h.FileDate, 8);
    bytes[oLastVolume] = h.LastVolume;
    PutInt32(bytes + oLastDataByte, h.LastDataByte);
    PutShortString(bytes + oSourcePath, h.SourcePath, kMaxSourcePath);
    PutInt32(bytes + oNextHeader, h.NextHeader);
    PutInt32(bytes + oFileSize, h.FileSize);
    PutInt32(bytes + oDataStart, h.DataStart);
    PutInt32(bytes + oCompressedSize, h.CompressedSize);
    bytes[oFirstVolume] = h.FirstVolume;
    PutInt32(bytes + oFileID, h.FileID);
    PutShortString(bytes + oFileVersion, h.FileVersion, kMaxFileVersion);
}

bool DecodeFileHeader(const uint8_t (&bytes)[kFileHeaderSize], TFileHeaderRecord& h) {
    h.HeaderIndex = GetInt32(bytes + oHeaderIndex);
    std::memcpy(&h.FileDate, bytes + oFileDate, 8);
    h.LastVolume = bytes[oLastVolume];
    h.LastDataByte = GetInt32(bytes + oLastDataByte);
    h.NextHeader = GetInt32(bytes + oNextHeader);
    h.FileSize = GetInt32(bytes + oFileSize);
    h.DataStart = GetInt32(bytes + oDataStart);
    h.CompressedSize = GetInt32(bytes + oCompressedSize);
    h.FirstVolume = bytes[oFirstVolume];
    h.FileID = GetInt32(bytes + oFileID);
    return GetShortString(bytes + oSourcePath, kMaxSourcePath, h.SourcePath) &&
           GetShortString(bytes + oFileVersion, kMaxFileVersion, h.FileVersion);
}

void WriteFileHeader(TStream& stream, const TFileHeaderRecord& header) {
    uint8_t bytes[kFileHeaderSize];
    EncodeFileHeader(header, bytes);
    if (stream.Write(bytes, kFileHeaderSize) != kFileHeaderSize)
        throw EFrnmCompress("Could not write the file headers for the compressed file");
}

std::string StoredSourcePath(const std::string& name) {
    return GetDelimitedField(name, 1, ';').substr(0, kMaxSourcePath);
}

// ---- TFileHeaders

void TFileHeaders::ReadHeaders(TStream& stream, int64_t offset) {
    Clear();
    try {
        uint8_t start[kArchiveStartSize];
        stream.Seek(offset, soFromBeginning);
        if (stream.Read(start, kArchiveStartSize) != kArchiveStartSize)
            throw EFrnmCompress("Could not read the file header count for the compressed file");
        int32_t count = GetInt32(start);
        if (count < 0) throw EFrnmCompress(kHeadersUnreadable);
        FMultiVolume = start[4] != 0;
        int64_t position = kArchiveStartSize;
        // Every header lies beyond the one before it, so a damaged count or chain runs into the end
        // of the stream after at most size / 176 headers.
        for (int32_t i = 0; i < count; ++i) {
            uint8_t bytes[kFileHeaderSize];
            stream.Seek(offset + position, soFromBeginning);
            auto header = std::make_unique<TFileHeader>();
            if (stream.Read(bytes, kFileHeaderSize) != kFileHeaderSize || !DecodeFileHeader(bytes, header->Header) ||
                Damaged(header->Header, position))
                throw EFrnmCompress(kHeadersUnreadable);
            header->Stored = true;
            position = header->Header.NextHeader;
            Add(std::move(header));
        }
    } catch (...) {
        Clear();
        throw;
    }
}

void TFileHeaders::WriteArchiveStart(TStream& stream, int32_t count) {
    uint8_t start[kArchiveStartSize];
    PutInt32(start, count);
    start[4] = FMultiVolume ? 1 : 0;
    stream.Seek(0, soFromBeginning);
    if (stream.Write(start, kArchiveStartSize) != kArchiveStartSize)
        throw EFrnmCompress("Could not write the file headers for the compressed file");
}

void TFileHeaders::WriteHeaders(TStream& stream) {
    WriteArchiveStart(stream, Count());
    if (!FMultiVolume) return;
    for (auto& header : FHeaders) {
        header->Header.NextHeader = static_cast<int32_t>(stream.Position() + kFileHeaderSize);
        WriteFileHeader(stream, header->Header);
    }
}

void TFileHeaders::AddFiles(const TStrings& names, bool keep) {
    std::vector<std::unique_ptr<TFileHeader>> added;
    for (int i = 0; i < names.Count(); ++i) {
        auto header = HeaderFromFile(names.Strings(i));
        header->Header.HeaderIndex = i + 1;
        auto alike = [&](const std::unique_ptr<TFileHeader>& other) {
            return AnsiSameText(other->Header.SourcePath, header->Header.SourcePath);
        };
        auto refuse = [&](const TFileHeader& other) {
            throw EFrnmCompress(Format("Cannot add the file %s: the archive already holds a file stored as %s",
                                       {header->SourceFile, other.Header.SourcePath}));
        };
        if (keep)
            if (auto other = std::find_if(FHeaders.begin(), FHeaders.end(), alike); other != FHeaders.end())
                refuse(**other);
        if (auto other = std::find_if(added.begin(), added.end(), alike); other != added.end()) refuse(**other);
        added.push_back(std::move(header));
    }
    if (!keep) Clear();
    for (auto& header : added) Add(std::move(header));
}

void TFileHeaders::Add(std::unique_ptr<TFileHeader> header) {
    if (Trim(header->Header.SourcePath).empty()) throw EFrnmCompress("Tried to add an invalid file header");
    FHeaders.push_back(std::move(header));
}

int TFileHeaders::IndexOfName(const std::string& name) const {
    std::string stored = StoredSourcePath(name);
    for (size_t i = 0; i < FHeaders.size(); ++i)
        if (AnsiSameText(FHeaders[i]->Header.SourcePath, stored)) return static_cast<int>(i);
    return -1;
}

TFileHeader& TFileHeaders::GetFileHeaders(int position) const {
    if (position < 0 || position >= Count())
        throw EFrnmCompress(Format("%d is an invalid TFileHeader index in TFileHeaders.GetFileHeaders", {position}));
    return *FHeaders[position];
}

}  // namespace ostra
