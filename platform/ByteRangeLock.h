// Byte-range locks of one file handle, with the semantics the engine relies on:
//   - locks belong to a handle: two handles conflict, in one process as in two;
//   - every lock is exclusive; a handle cannot lock a range that another handle holds, nor one
//     that overlaps a range it holds itself;
//   - an unlock must name a range this handle holds exactly, else it fails;
//   - locks may lie beyond the end of the file and work on handles opened for reading only;
//   - locking is advisory: it never stops another handle from reading or writing.
//
// Built on open-file-description locks (F_OFD_SETLK), which belong to an open file description
// rather than to the process. Linux takes a write lock only through a descriptor opened for
// writing, so each handle locks through a "lock descriptor":
//   - Native: a descriptor that can write (the handle's own when it is read-write, otherwise a
//     second read-write descriptor of the same inode). An exclusive lock is an F_WRLCK.
//   - Emulated: when no writable descriptor can be had (a file without write permission for this
//     user, a read-only file system) the handle's readable descriptor is used. An exclusive lock
//     is then an F_RDLCK followed by a test (F_OFD_GETLK) that no other description holds any lock
//     on the range; if one does, the lock is dropped again and the call fails. Of two handles
//     that race for one range at most one wins (both may lose, and retry); native and emulated
//     holders exclude each other in every order.
// The handle keeps its held ranges in a sorted map, which gives the self-overlap refusal and the
// exact-match unlock.
//
// Reserved region. Offsets from ReservedLockBase (2^62, far beyond any data) belong to this
// layer: the share-mode emulation and the presence marker of File live there (File.cpp), so data
// locks must end at or below ReservedLockBase.
//
// Descriptors inherited by a forked child share their description, and so their locks, with the
// parent; a child must open its own handles.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>

namespace ostra::platform {

constexpr uint64_t ReservedLockBase = uint64_t(1) << 62;

// The byte-range locks of one handle; owned by File.
class ByteRangeLocks {
public:
    enum class Mode { None, Native, Emulated };

    ByteRangeLocks() = default;
    ~ByteRangeLocks() { Detach(); }
    ByteRangeLocks(const ByteRangeLocks&) = delete;
    ByteRangeLocks& operator=(const ByteRangeLocks&) = delete;
    // Moving hands over the descriptor, the mode and the held ranges; the source is left detached.
    ByteRangeLocks(ByteRangeLocks&& other) noexcept { *this = std::move(other); }
    ByteRangeLocks& operator=(ByteRangeLocks&& other) noexcept;

    // Chooses the lock descriptor for a handle whose data descriptor is dataFd, opened with the
    // O_ACCMODE bits accessMode. False (errno in the last error) when no descriptor can be had.
    bool Attach(int dataFd, int accessMode);
    // Closes a second descriptor if one was opened (which drops its locks) and forgets all ranges.
    void Detach();
    Mode LockMode() const { return FMode; }

    // Locks length bytes at offset for this handle; one attempt, no waiting. Fails with
    // ErrorLockViolation when another handle or this one holds any byte of it, EINVAL for a
    // zero length or a range past ReservedLockBase.
    bool Lock(uint64_t offset, uint64_t length);
    // Unlocks a range locked by Lock with exactly this offset and length; ErrorNotLocked otherwise.
    bool Unlock(uint64_t offset, uint64_t length);
    // Number of ranges this handle holds.
    size_t HeldCount() const { return FHeld.size(); }

    // Primitives for the reserved region (no bookkeeping, no range checks):
    // Takes the layer's mutex byte at offset exclusively, waiting for it (bounded, then false).
    bool AcquireMutex(uint64_t offset);
    void ReleaseMutex(uint64_t offset) { ReleaseRaw(offset, 1); }
    // True when a description other than this handle's holds a lock on any byte of the range.
    bool HeldByOthers(uint64_t offset, uint64_t length) const;
    // Takes a shared (read) lock; false when another handle holds the range exclusively.
    bool TakeShared(uint64_t offset, uint64_t length);
    // Takes the range exclusively; the range must not overlap one this handle holds.
    bool TakeExclusive(uint64_t offset, uint64_t length);
    void ReleaseRaw(uint64_t offset, uint64_t length);

private:
    int FLockFd = -1;
    bool FOwnsFd = false;
    Mode FMode = Mode::None;
    std::map<uint64_t, uint64_t> FHeld;  // offset -> length of each held range
};

// Test support: while set, handles attached afterwards use the emulated mode even where a
// writable descriptor could be had, so that tests running as root exercise it.
void ForceEmulatedLocksForTesting(bool force);

}  // namespace ostra::platform
