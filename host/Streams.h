// The host library's byte streams: the abstract TStream with its buffer and copy helpers, and
// the three concrete streams the system uses: TMemoryStream (a growable buffer; blob streams
// derive from it), TStringStream (a stream over a std::string) and TFileStream (a file opened
// by name, on POSIX descriptors). Positions and counts are 64-bit byte offsets.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/Exceptions.h"
#include "host/Object.h"

namespace ostra {

// A file stream could not open / create its file. The message names the file and carries the
// operating system's reason: Cannot open file "<name>". <reason>
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// Where Seek counts its offset from.
enum TSeekOrigin : uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

// A sequence of bytes with a current position.
class TStream : public TObject {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Reads up to `Count` bytes at the position into `Buffer` and advances; returns the bytes
    // read (0 at the end, or for a negative count).
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    // Writes `Count` bytes at the position and advances; returns the bytes written.
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    // Moves the position to `Offset` counted from `Origin`; returns the new position.
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

    int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(int64_t Pos) { Seek(Pos, soFromBeginning); }
    // The stream's length in bytes; the base measures it by seeking to the end and back.
    virtual int64_t Size();
    // Changes the length; the base does nothing (streams that can change length override).
    virtual void SetSize(int64_t NewSize) {}

    // Reads exactly `Count` bytes or raises EReadError "Stream read error".
    void ReadBuffer(void* Buffer, int64_t Count);
    // Writes exactly `Count` bytes or raises EWriteError "Stream write error".
    void WriteBuffer(const void* Buffer, int64_t Count);
    // Copies `Count` bytes from Source's position to this stream's position; a count of 0
    // copies the whole of Source from its start. Returns the bytes copied. Raises
    // EReadError when Source holds fewer bytes, or when `Count` is negative.
    int64_t CopyFrom(TStream& Source, int64_t Count);
};

// A stream over a block of memory that grows as it is written. Writing past the end (also
// after a Seek beyond it) extends the stream, and any gap reads as zero bytes.
class TMemoryStream : public TStream {
public:
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Any position is accepted; reads and writes at a negative one transfer nothing.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    // Truncates or zero-extends; a position beyond the new end moves to the end.
    void SetSize(int64_t NewSize) override;

    // The stream's bytes (Size() of them); valid until the next change of size.
    void* Memory() { return FData.data(); }
    const void* Memory() const { return FData.data(); }
    // Empties the stream, releases its memory and rewinds.
    void Clear();
    // Replaces the contents with the whole of `Stream` (read from its start); the position is
    // kept unless it lies beyond the new end.
    void LoadFromStream(TStream& Stream);
    void LoadFromFile(const std::string& FileName);
    // Writes the whole contents to `Stream` at its position.
    void SaveToStream(TStream& Stream) const;
    void SaveToFile(const std::string& FileName) const;

private:
    std::vector<unsigned char> FData;
    int64_t FPosition = 0;
};

// A stream over a string of 8-bit characters. Positions stay within 0..length; writing
// overwrites in place and extends the string when it runs past the end.
class TStringStream : public TStream {
public:
    explicit TStringStream(std::string AString = {}) : FDataString(std::move(AString)) {}

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return static_cast<int64_t>(FDataString.size()); }
    void SetSize(int64_t NewSize) override;

    const std::string& DataString() const { return FDataString; }
    // Reads up to `Count` characters at the position and advances.
    std::string ReadString(int64_t Count);
    // Writes the whole of `AString` at the position and advances.
    void WriteString(const std::string& AString);

private:
    std::string FDataString;
    int64_t FPosition = 0;
};

// File modes of TFileStream: one access mode, optionally with one share mode. fmCreate
// creates the file or empties an existing one, opened for reading and writing.
enum : uint16_t {
    fmCreate = 0xFF00,
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
};

// A stream over a named file. Share modes are accepted but not enforced: the database files,
// which need them, go through the platform file layer instead.
class TFileStream : public TStream {
public:
    // Opens or creates `FileName`. Raises EFCreateError "Cannot create file \"<name>\". <reason>"
    // when fmCreate fails, EFOpenError "Cannot open file \"<name>\". <reason>" otherwise (also
    // for a folder, or an access mode other than read, write or read-write).
    TFileStream(const std::string& FileName, uint16_t Mode);
    ~TFileStream() override;

    // Reads and writes at the stream's position. A failure of the operating system before any
    // byte moved raises EReadError / EWriteError "Stream read error. <reason>" (a short count
    // is returned when some bytes moved first).
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    // A resulting position below 0 raises EStreamError "Invalid stream position" and leaves
    // the position unchanged; positions beyond the end are allowed (a write there extends).
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override;
    // Truncates or extends the file and moves the position to NewSize; raises EWriteError
    // with the reason when the file cannot change size.
    void SetSize(int64_t NewSize) override;

    const std::string& FileName() const { return FFileName; }
    int Handle() const { return FHandle; }

private:
    std::string FFileName;
    int FHandle = -1;
    int64_t FPosition = 0;
};

}  // namespace ostra
