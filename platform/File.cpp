// File handles on POSIX descriptors: the share-mode emulation and presence marker on reserved
// lock offsets, positioned I/O through the fault-injection hook, and the free file functions.
#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/FileFault.h"

namespace ostra::platform {
namespace {

// The reserved lock offsets of a file (ReservedLockBase + n), one byte each:
//   +0  mutex: held exclusively while a handle checks and registers its share mode, and while a
//       delete or rename checks that nobody has the file open
//   +1  presence: every open handle holds it shared
//   +2  read access      +3  write access   (held shared by handles with that access)
//   +4  denies reading   +5  denies writing (held shared by handles whose share mode denies it)
constexpr uint64_t MutexByte = ReservedLockBase + 0;
constexpr uint64_t PresenceByte = ReservedLockBase + 1;
constexpr uint64_t ReadAccessByte = ReservedLockBase + 2;
constexpr uint64_t WriteAccessByte = ReservedLockBase + 3;
constexpr uint64_t DenyReadByte = ReservedLockBase + 4;
constexpr uint64_t DenyWriteByte = ReservedLockBase + 5;

// How often Open starts again when the file it opened was deleted or replaced before it could
// register; each time means another process changed the path in that instant.
constexpr int OpenAttempts = 100;

bool HasRead(FileAccess a) { return a != FileAccess::Write; }
bool HasWrite(FileAccess a) { return a != FileAccess::Read; }
bool DeniesRead(FileShare s) { return s == FileShare::Exclusive || s == FileShare::DenyRead; }
bool DeniesWrite(FileShare s) { return s == FileShare::Exclusive || s == FileShare::DenyWrite; }
bool IsReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

bool Fail(int code) {
    SetLastError(code);
    return false;
}

int64_t FailCount(int code) {
    SetLastError(code);
    return -1;
}

void CloseFd(int fd) {
    if (fd >= 0) close(fd);
}

std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

// Asks the fault hook about one call. Returns true when the call must fail outright (the last
// error is set); otherwise limit receives the byte count allowed (count when no fault) and
// shortError the error to report for a cut transfer.
bool InjectFault(FileOp op, const std::string& path, int64_t position, int64_t count, int64_t& limit,
                 int& shortError) {
    limit = count;
    shortError = 0;
    FileFaultInjector* injector = CurrentFileFaultInjector();
    if (!injector) [[likely]]
        return false;
    FileFault fault = injector->Decide(op, path, position, count);
    if (fault.Error == 0) return false;
    if (fault.Transfer < 0 || op == FileOp::Flush || op == FileOp::SetSize) {
        SetLastError(fault.Error);
        return true;
    }
    if (fault.Transfer < count) {
        limit = fault.Transfer;
        shortError = fault.Error;
    }
    return false;
}

}  // namespace

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        FFd = std::exchange(other.FFd, -1);
        FPath = std::move(other.FPath);
        other.FPath.clear();
        FAccess = other.FAccess;
        FShare = other.FShare;
        FLocks = std::move(other.FLocks);
    }
    return *this;
}

bool File::Open(const std::string& path, FileAccess access, FileShare share, FileCreate create) {
    Close();
    if (path.empty()) return Fail(ENOENT);
    if (create == FileCreate::CreateAlways && !HasWrite(access)) return Fail(EINVAL);
    FPath = AbsolutePath(path);
    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        bool retry = false;
        if (OpenOnce(access, share, create, retry)) return true;
        if (!retry) {
            FPath.clear();
            return false;
        }
    }
    FPath.clear();
    return Fail(ENOENT);
}

bool File::OpenOnce(FileAccess access, FileShare share, FileCreate create, bool& retry) {
    int accessMode = access == FileAccess::Read ? O_RDONLY : access == FileAccess::Write ? O_WRONLY : O_RDWR;
    int flags = accessMode | O_CLOEXEC | O_NOCTTY;
    if (create == FileCreate::CreateNew) flags |= O_CREAT | O_EXCL;
    if (create == FileCreate::CreateAlways || create == FileCreate::OpenAlways) flags |= O_CREAT;

    // A read-only attribute refuses writers before anything is created or changed.
    struct stat before {};
    if (HasWrite(access) && create != FileCreate::CreateNew && stat(FPath.c_str(), &before) == 0 && S_ISREG(before.st_mode) &&
        IsReadOnlyMode(before.st_mode))
        return Fail(EACCES);

    int fd;
    do {
        fd = open(FPath.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Fail(errno);

    struct stat st {};
    if (fstat(fd, &st) != 0) {
        int error = errno;
        CloseFd(fd);
        return Fail(error);
    }
    if (S_ISDIR(st.st_mode)) {
        CloseFd(fd);
        return Fail(EISDIR);
    }
    if (!FLocks.Attach(fd, accessMode)) {
        int error = GetLastError();
        CloseFd(fd);
        return Fail(error);
    }
    auto abandon = [&](int error) {
        FLocks.Detach();
        CloseFd(fd);
        return Fail(error);
    };

    // Check and register the share mode atomically under the mutex byte.
    if (!FLocks.AcquireMutex(MutexByte)) return abandon(GetLastError());
    bool conflict = (HasRead(access) && FLocks.HeldByOthers(DenyReadByte, 1)) ||
                    (HasWrite(access) && FLocks.HeldByOthers(DenyWriteByte, 1)) ||
                    (DeniesRead(share) && FLocks.HeldByOthers(ReadAccessByte, 1)) ||
                    (DeniesWrite(share) && FLocks.HeldByOthers(WriteAccessByte, 1));
    if (conflict) {
        FLocks.ReleaseMutex(MutexByte);
        return abandon(ErrorSharingViolation);
    }
    bool registered = FLocks.TakeShared(PresenceByte, 1) &&
                      (!HasRead(access) || FLocks.TakeShared(ReadAccessByte, 1)) &&
                      (!HasWrite(access) || FLocks.TakeShared(WriteAccessByte, 1)) &&
                      (!DeniesRead(share) || FLocks.TakeShared(DenyReadByte, 1)) &&
                      (!DeniesWrite(share) || FLocks.TakeShared(DenyWriteByte, 1));
    int registerError = GetLastError();
    FLocks.ReleaseMutex(MutexByte);
    if (!registered) return abandon(registerError);

    // A delete or rename that ran between open() and the registration leaves this descriptor on
    // a file the path no longer names: start again.
    FFd = fd;
    if (!IsStillAtPath()) {
        FFd = -1;
        abandon(ENOENT);
        retry = true;
        return false;
    }
    FAccess = access;
    FShare = share;
    if (create == FileCreate::CreateAlways && st.st_size != 0 && !SetSize(0)) {
        int error = GetLastError();
        Close();
        return Fail(error);
    }
    return true;
}

void File::Close() {
    if (FFd < 0) return;
    FLocks.Detach();
    CloseFd(FFd);
    FFd = -1;
    FPath.clear();
}

bool File::IsStillAtPath() const {
    if (FFd < 0) return false;
    struct stat mine {}, named {};
    if (fstat(FFd, &mine) != 0 || mine.st_nlink == 0) return false;
    if (stat(FPath.c_str(), &named) != 0) return false;
    return mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

bool File::CloseAndDeleteIfUnused() { return CloseAndRemoveIfUnused(nullptr); }

bool File::CloseAndRemoveIfUnused(const std::string* newPath) {
    if (FFd < 0) return Fail(EBADF);
    int error = 0;
    if (!FLocks.AcquireMutex(MutexByte)) {
        error = GetLastError();
    } else {
        struct stat st {};
        if (FLocks.HeldByOthers(PresenceByte, 1)) {
            error = ErrorSharingViolation;
        } else if (!IsStillAtPath()) {
            error = ENOENT;
        } else if (!newPath) {
            if (fstat(FFd, &st) == 0 && IsReadOnlyMode(st.st_mode))
                error = EACCES;
            else if (unlink(FPath.c_str()) != 0)
                error = errno;
        } else {
            std::string target = AbsolutePath(*newPath);
            if (renameat2(AT_FDCWD, FPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
                error = errno;
                // File systems without the no-replace flag: a hard link refuses an existing
                // target just as well.
                if (error == EINVAL || error == ENOSYS) {
                    error = 0;
                    if (link(FPath.c_str(), target.c_str()) != 0)
                        error = errno;
                    else if (unlink(FPath.c_str()) != 0)
                        error = errno;
                }
            }
        }
        FLocks.ReleaseMutex(MutexByte);
    }
    Close();
    if (error) return Fail(error);
    return true;
}

int64_t File::Read(int64_t position, void* buffer, int64_t count) {
    if (FFd < 0) return FailCount(EBADF);
    if (position < 0 || count < 0) return FailCount(EINVAL);
    int64_t limit;
    int shortError;
    if (InjectFault(FileOp::Read, FPath, position, count, limit, shortError)) return -1;
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < limit) {
        ssize_t n = pread(FFd, out + done, static_cast<size_t>(limit - done), position + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno);
            return done > 0 ? done : -1;
        }
        if (n == 0) {
            SetLastError(ErrorHandleEof);
            return done;
        }
        done += n;
    }
    if (shortError) SetLastError(shortError);
    return done;
}

int64_t File::Write(int64_t position, const void* buffer, int64_t count) {
    if (FFd < 0) return FailCount(EBADF);
    if (position < 0 || count < 0) return FailCount(EINVAL);
    int64_t limit;
    int shortError;
    if (InjectFault(FileOp::Write, FPath, position, count, limit, shortError)) return -1;
    const auto* in = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < limit) {
        ssize_t n = pwrite(FFd, in + done, static_cast<size_t>(limit - done), position + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno);
            return done > 0 ? done : -1;
        }
        done += n;
    }
    if (shortError) SetLastError(shortError);
    return done;
}

int64_t File::Size() const {
    if (FFd < 0) return FailCount(EBADF);
    struct stat st {};
    if (fstat(FFd, &st) != 0) return FailCount(errno);
    return st.st_size;
}

bool File::SetSize(int64_t size) {
    if (FFd < 0) return Fail(EBADF);
    if (size < 0) return Fail(EINVAL);
    int64_t limit;
    int shortError;
    if (InjectFault(FileOp::SetSize, FPath, size, 0, limit, shortError)) return false;
    int result;
    do {
        result = ftruncate(FFd, size);
    } while (result != 0 && errno == EINTR);
    return result == 0 || Fail(errno == EINVAL && !HasWrite(FAccess) ? EBADF : errno);
}

bool File::Flush() {
    if (FFd < 0) return Fail(EBADF);
    int64_t limit;
    int shortError;
    if (InjectFault(FileOp::Flush, FPath, 0, 0, limit, shortError)) return false;
    int result;
    do {
        result = fdatasync(FFd);
    } while (result != 0 && errno == EINTR);
    return result == 0 || Fail(errno);
}

bool FlushFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(AbsolutePath(path)).parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    int64_t limit;
    int shortError;
    if (InjectFault(FileOp::Flush, folder, 0, 0, limit, shortError)) return false;
    int fd;
    do {
        fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Fail(errno);
    int result;
    do {
        result = fsync(fd);
    } while (result != 0 && errno == EINTR);
    const int error = errno;
    CloseFd(fd);
    return result == 0 || error == EINVAL || Fail(error);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return Fail(errno);
    return !S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool DeleteFile(const std::string& path) {
    File file;
    if (!file.Open(path, FileAccess::Read, FileShare::DenyNone, FileCreate::OpenExisting)) return false;
    return file.CloseAndDeleteIfUnused();
}

bool RenameFile(const std::string& oldPath, const std::string& newPath) {
    if (newPath.empty()) return Fail(ENOENT);
    File file;
    if (!file.Open(oldPath, FileAccess::Read, FileShare::DenyNone, FileCreate::OpenExisting)) return false;
    return file.CloseAndRemoveIfUnused(&newPath);
}

bool CopyFile(const std::string& source, const std::string& dest, bool failIfExists) {
    File in;
    if (!in.Open(source, FileAccess::Read, FileShare::DenyNone, FileCreate::OpenExisting)) return false;
    struct stat st {};
    if (stat(in.Path().c_str(), &st) != 0) return Fail(errno);
    File out;
    if (!out.Open(dest, FileAccess::Write, FileShare::Exclusive,
                  failIfExists ? FileCreate::CreateNew : FileCreate::CreateAlways))
        return false;
    // From here a failure removes the partial target.
    auto abandon = [&out]() {
        int error = GetLastError();
        out.CloseAndDeleteIfUnused();
        return Fail(error);
    };
    constexpr int64_t Chunk = 1 << 16;
    std::vector<char> buffer(Chunk);
    for (int64_t position = 0;; position += Chunk) {
        int64_t n = in.Read(position, buffer.data(), Chunk);
        if (n < 0 || (n < Chunk && GetLastError() != ErrorHandleEof)) return abandon();
        if (n > 0 && out.Write(position, buffer.data(), n) != n) return abandon();
        if (n < Chunk) break;
    }
    // The copy takes the source's permission bits (so also its read-only attribute) and times.
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (utimensat(AT_FDCWD, out.Path().c_str(), times, 0) != 0 || chmod(out.Path().c_str(), st.st_mode & 07777) != 0) {
        SetLastError(errno);
        return abandon();
    }
    return true;
}

bool FileIsReadOnly(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return Fail(errno);
    return IsReadOnlyMode(st.st_mode);
}

bool FileSetReadOnly(const std::string& path, bool readOnly) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return Fail(errno);
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    if (chmod(path.c_str(), mode) != 0) return Fail(errno);
    return true;
}

}  // namespace ostra::platform
