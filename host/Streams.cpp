// The stream classes: TStream's helpers, the memory and string streams, and the file stream
// on POSIX descriptors (pread/pwrite at the stream's own position).
#include "host/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace ostra {

namespace {

std::string OsErrorText(int error) {
    return std::system_category().message(error);
}

// Where a Seek lands, or -1 when the arithmetic overflows.
int64_t SeekTarget(int64_t current, int64_t size, int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == soFromBeginning ? 0 : (origin == soFromCurrent ? current : size);
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target)) return -1;
    return target;
}

}  // namespace

// ---- TStream

int64_t TStream::Size() {
    int64_t pos = Seek(0, soFromCurrent);
    int64_t size = Seek(0, soFromEnd);
    Seek(pos, soFromBeginning);
    return size;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
    if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
    if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
    constexpr int64_t kMaxBufSize = 0xF000;
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.Size();
    }
    if (Count < 0) throw EReadError("Stream read error");
    const int64_t result = Count;
    std::vector<unsigned char> buffer(static_cast<size_t>(std::min(Count, kMaxBufSize)));
    while (Count != 0) {
        int64_t n = std::min(Count, kMaxBufSize);
        Source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        Count -= n;
    }
    return result;
}

// ---- TMemoryStream

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
    if (FPosition < 0 || Count <= 0) return 0;
    int64_t available = Size() - FPosition;
    if (available <= 0) return 0;
    int64_t n = std::min(available, Count);
    std::memmove(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
    if (FPosition < 0 || Count <= 0) return 0;
    int64_t end;
    if (__builtin_add_overflow(FPosition, Count, &end)) return 0;
    if (end > Size()) FData.resize(static_cast<size_t>(end));
    std::memmove(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
    FPosition = end;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int64_t target = SeekTarget(FPosition, Size(), Offset, Origin);
    FPosition = target;
    return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize) {
    if (NewSize < 0) NewSize = 0;
    FData.resize(static_cast<size_t>(NewSize));
    if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
    std::vector<unsigned char>().swap(FData);
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
    if (&Stream == this) return;  // already holds its own contents
    Stream.SetPosition(0);
    int64_t count = Stream.Size();
    SetSize(count);
    if (count != 0) Stream.ReadBuffer(FData.data(), count);
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TMemoryStream::SaveToStream(TStream& Stream) const {
    if (!FData.empty()) Stream.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

void TMemoryStream::SaveToFile(const std::string& FileName) const {
    TFileStream stream(FileName, fmCreate);
    SaveToStream(stream);
}

// ---- TStringStream

int64_t TStringStream::Read(void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    int64_t n = std::min(Size() - FPosition, Count);
    if (n <= 0) return 0;
    std::memcpy(Buffer, FDataString.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TStringStream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    int64_t end = FPosition + Count;
    if (end > Size()) FDataString.resize(static_cast<size_t>(end));
    std::memcpy(FDataString.data() + FPosition, Buffer, static_cast<size_t>(Count));
    FPosition = end;
    return Count;
}

int64_t TStringStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int64_t target = SeekTarget(FPosition, Size(), Offset, Origin);
    FPosition = std::clamp<int64_t>(target, 0, Size());
    return FPosition;
}

void TStringStream::SetSize(int64_t NewSize) {
    if (NewSize < 0) NewSize = 0;
    FDataString.resize(static_cast<size_t>(NewSize));
    if (FPosition > NewSize) FPosition = NewSize;
}

std::string TStringStream::ReadString(int64_t Count) {
    int64_t n = std::min(Size() - FPosition, Count);
    if (n <= 0) return {};
    std::string result = FDataString.substr(static_cast<size_t>(FPosition), static_cast<size_t>(n));
    FPosition += n;
    return result;
}

void TStringStream::WriteString(const std::string& AString) {
    Write(AString.data(), static_cast<int64_t>(AString.size()));
}

// ---- TFileStream

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : FFileName(FileName) {
    const bool create = (Mode & fmCreate) == fmCreate;
    int flags = O_CLOEXEC;
    int error = 0;
    if (create) {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    } else {
        switch (Mode & 3) {
            case fmOpenRead:
                flags |= O_RDONLY;
                break;
            case fmOpenWrite:
                flags |= O_WRONLY;
                break;
            case fmOpenReadWrite:
                flags |= O_RDWR;
                break;
            default:
                error = EINVAL;
                break;
        }
    }
    if (error == 0) {
        do FHandle = ::open(FileName.c_str(), flags, 0666);
        while (FHandle < 0 && errno == EINTR);
        if (FHandle < 0) error = errno;
    }
    if (error == 0) {
        struct stat st {};
        if (::fstat(FHandle, &st) != 0)
            error = errno;
        else if (S_ISDIR(st.st_mode))
            error = EISDIR;
        if (error != 0) {
            ::close(FHandle);
            FHandle = -1;
        }
    }
    if (error != 0) {
        std::string reason = OsErrorText(error);
        if (create) throw EFCreateError("Cannot create file \"" + FileName + "\". " + reason);
        throw EFOpenError("Cannot open file \"" + FileName + "\". " + reason);
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
    int64_t done = 0;
    auto* dest = static_cast<unsigned char*>(Buffer);
    while (done < Count) {
        ssize_t n = ::pread(FHandle, dest + done, static_cast<size_t>(Count - done), FPosition + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (done > 0) break;
            throw EReadError("Stream read error. " + OsErrorText(errno));
        }
        if (n == 0) break;
        done += n;
    }
    FPosition += done;
    return done;
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count) {
    int64_t done = 0;
    const auto* src = static_cast<const unsigned char*>(Buffer);
    while (done < Count) {
        ssize_t n = ::pwrite(FHandle, src + done, static_cast<size_t>(Count - done), FPosition + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (done > 0) break;
            throw EWriteError("Stream write error. " + OsErrorText(errno));
        }
        if (n == 0) break;
        done += n;
    }
    FPosition += done;
    return done;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int64_t target = SeekTarget(FPosition, Origin == soFromEnd ? Size() : 0, Offset, Origin);
    if (target < 0) throw EStreamError("Invalid stream position");
    FPosition = target;
    return FPosition;
}

int64_t TFileStream::Size() {
    struct stat st {};
    if (::fstat(FHandle, &st) != 0) throw EReadError("Stream read error. " + OsErrorText(errno));
    return static_cast<int64_t>(st.st_size);
}

void TFileStream::SetSize(int64_t NewSize) {
    if (NewSize < 0) throw EStreamError("Invalid stream position");
    int rc;
    do rc = ::ftruncate(FHandle, NewSize);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) throw EWriteError("Stream write error. " + OsErrorText(errno));
    FPosition = NewSize;
}

}  // namespace ostra
