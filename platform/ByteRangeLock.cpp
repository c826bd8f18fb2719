// Byte-range locks on open-file-description locks, native or emulated (see the header for the
// two modes and why both exist), with the per-handle bookkeeping of held ranges.
#include "platform/ByteRangeLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "platform/LastError.h"

namespace ostra::platform {
namespace {

std::atomic<bool> gForceEmulated{false};

// How long AcquireMutex waits for the mutex byte before it gives up. The mutex is only held
// inside single platform calls, for microseconds, so this is only reached when a holder is stopped.
constexpr auto MutexTimeout = std::chrono::seconds(10);

struct flock MakeLock(short type, uint64_t offset, uint64_t length) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    fl.l_pid = 0;  // required to be 0 for OFD locks
    return fl;
}

// One non-blocking OFD lock call; EINTR is retried. True on success, else errno is left set.
bool SetLock(int fd, short type, uint64_t offset, uint64_t length) {
    struct flock fl = MakeLock(type, offset, length);
    for (;;) {
        if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool IsConflict(int error) { return error == EAGAIN || error == EACCES; }

// Opens a second descriptor of the inode behind fd, with the given access mode.
int Reopen(int fd, int accessMode) {
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    int result;
    do {
        result = open(path.c_str(), accessMode | O_CLOEXEC | O_NOCTTY);
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

void ForceEmulatedLocksForTesting(bool force) { gForceEmulated.store(force); }

bool ByteRangeLocks::Attach(int dataFd, int accessMode) {
    Detach();
    bool force = gForceEmulated.load();
    if (accessMode == O_RDWR) {
        FLockFd = dataFd;
        FMode = force ? Mode::Emulated : Mode::Native;
        return true;
    }
    if (!force) {
        int fd = Reopen(dataFd, O_RDWR);
        if (fd >= 0) {
            FLockFd = fd;
            FOwnsFd = true;
            FMode = Mode::Native;
            return true;
        }
    }
    if (accessMode == O_RDONLY) {
        FLockFd = dataFd;
        FMode = Mode::Emulated;
        return true;
    }
    // Write-only handle without a read-write descriptor: shared locks need a readable one.
    int fd = Reopen(dataFd, O_RDONLY);
    if (fd < 0) {
        SetLastError(errno);
        return false;
    }
    FLockFd = fd;
    FOwnsFd = true;
    FMode = Mode::Emulated;
    return true;
}

ByteRangeLocks& ByteRangeLocks::operator=(ByteRangeLocks&& other) noexcept {
    if (this != &other) {
        Detach();
        FLockFd = std::exchange(other.FLockFd, -1);
        FOwnsFd = std::exchange(other.FOwnsFd, false);
        FMode = std::exchange(other.FMode, Mode::None);
        FHeld = std::move(other.FHeld);
        other.FHeld.clear();
    }
    return *this;
}

void ByteRangeLocks::Detach() {
    if (FOwnsFd && FLockFd >= 0) close(FLockFd);
    FLockFd = -1;
    FOwnsFd = false;
    FMode = Mode::None;
    FHeld.clear();
}

bool ByteRangeLocks::Lock(uint64_t offset, uint64_t length) {
    if (FMode == Mode::None) {
        SetLastError(EBADF);
        return false;
    }
    if (length == 0 || offset > ReservedLockBase || length > ReservedLockBase - offset) {
        SetLastError(EINVAL);
        return false;
    }
    // Refuse an overlap with a range this handle holds: the first held range that starts at or
    // after offset, and the one before it.
    uint64_t end = offset + length;
    auto it = FHeld.lower_bound(offset);
    if (it != FHeld.end() && it->first < end) {
        SetLastError(ErrorLockViolation);
        return false;
    }
    if (it != FHeld.begin()) {
        auto before = std::prev(it);
        if (before->first + before->second > offset) {
            SetLastError(ErrorLockViolation);
            return false;
        }
    }
    if (!TakeExclusive(offset, length)) return false;
    FHeld.emplace_hint(it, offset, length);
    return true;
}

bool ByteRangeLocks::Unlock(uint64_t offset, uint64_t length) {
    if (FMode == Mode::None) {
        SetLastError(EBADF);
        return false;
    }
    auto it = FHeld.find(offset);
    if (it == FHeld.end() || it->second != length) {
        SetLastError(ErrorNotLocked);
        return false;
    }
    if (!SetLock(FLockFd, F_UNLCK, offset, length)) {
        SetLastError(errno);
        return false;
    }
    FHeld.erase(it);
    return true;
}

bool ByteRangeLocks::HeldByOthers(uint64_t offset, uint64_t length) const {
    // F_OFD_GETLK reports a lock of another description that would conflict with a write lock
    // on the range; it does not look at the descriptor's access mode.
    struct flock fl = MakeLock(F_WRLCK, offset, length);
    if (fcntl(FLockFd, F_OFD_GETLK, &fl) != 0) return true;  // cannot tell: assume held
    return fl.l_type != F_UNLCK;
}

bool ByteRangeLocks::TakeShared(uint64_t offset, uint64_t length) {
    if (SetLock(FLockFd, F_RDLCK, offset, length)) return true;
    SetLastError(IsConflict(errno) ? ErrorLockViolation : errno);
    return false;
}

bool ByteRangeLocks::TakeExclusive(uint64_t offset, uint64_t length) {
    if (FMode == Mode::Native) {
        if (SetLock(FLockFd, F_WRLCK, offset, length)) return true;
        SetLastError(IsConflict(errno) ? ErrorLockViolation : errno);
        return false;
    }
    // Emulated: hold the range shared, then make sure no other description holds any of it.
    if (!TakeShared(offset, length)) return false;
    if (HeldByOthers(offset, length)) {
        ReleaseRaw(offset, length);
        SetLastError(ErrorLockViolation);
        return false;
    }
    return true;
}

void ByteRangeLocks::ReleaseRaw(uint64_t offset, uint64_t length) {
    if (FLockFd >= 0) SetLock(FLockFd, F_UNLCK, offset, length);
}

bool ByteRangeLocks::AcquireMutex(uint64_t offset) {
    auto deadline = std::chrono::steady_clock::now() + MutexTimeout;
    std::minstd_rand jitter(static_cast<unsigned>(reinterpret_cast<uintptr_t>(this) ^ getpid()));
    int pauseMicros = 20;
    for (;;) {
        if (TakeExclusive(offset, 1)) return true;
        if (GetLastError() != ErrorLockViolation) return false;
        if (std::chrono::steady_clock::now() > deadline) {
            SetLastError(ETIMEDOUT);
            return false;
        }
        // Random pauses keep two emulated contenders from colliding in step forever.
        std::this_thread::sleep_for(std::chrono::microseconds(pauseMicros / 2 + jitter() % pauseMicros));
        if (pauseMicros < 2000) pauseMicros *= 2;
    }
}

}  // namespace ostra::platform
