// Files as the engine expects the operating system to provide them: handles opened with an
// access and a share mode, positioned reads and writes that report short counts, size changes,
// flushes to stable storage, byte-range locks, and the free functions exists / delete / rename /
// copy / read-only attribute.
//
// Errors: every call that can fail returns false (or -1 for a count) and records the reason in
// the calling thread's last error (platform/LastError.h): an errno value or one of
// ErrorSharingViolation, ErrorLockViolation, ErrorNotLocked, ErrorHandleEof. Nothing here throws
// except std::bad_alloc.
//
// Share modes (Windows rules). An open succeeds only when, for every other handle of the file
// (in this process or another), the new access is allowed by the other's share mode and the
// other's access is allowed by the new share mode; otherwise it fails with
// ErrorSharingViolation and changes nothing (CreateAlways truncates only after the check).
// The modes are kept as shared locks on reserved offsets (ByteRangeLock.h), taken under a mutex
// byte there, so the check and the registration are atomic among all handles.
//
// Presence and deletion. Every handle registers its presence the same way. DeleteFile,
// RenameFile and File::CloseAndDeleteIfUnused act only when no other handle has the file open
// (ErrorSharingViolation otherwise), and Open re-checks after registering that the path still
// names the inode it opened, opening again when the file was deleted or replaced meanwhile. So a
// file is never deleted under a handle, and no handle is left on a file that is gone from its
// path (which would split the users of a lock file).
//
// Read-only attribute: a file with no write permission bit for anyone. Such a file cannot be
// opened for writing, nor deleted, even by root (EACCES), as on the system the engine was
// written for.
//
// Fault injection: Read, Write, Flush and SetSize pass through the hook of FileFault.h, and so
// does FlushFolderOf (as a Flush of the folder's path with a trailing "/").
#pragma once
#include <cstdint>
#include <string>

#include "platform/ByteRangeLock.h"
#include "platform/LastError.h"

namespace ostra::platform {

enum class FileAccess { Read, Write, ReadWrite };
// Exclusive denies others every access, DenyWrite their writing, DenyRead their reading.
enum class FileShare { Exclusive, DenyWrite, DenyRead, DenyNone };
// CreateNew fails when the file exists (EEXIST); CreateAlways creates or truncates (needs write
// access); OpenExisting fails when it is missing (ENOENT); OpenAlways opens or creates.
enum class FileCreate { CreateNew, CreateAlways, OpenExisting, OpenAlways };

// One open file handle; closes itself on destruction. Movable, not copyable.
// One thread at a time per handle.
class File {
public:
    File() = default;
    ~File() { Close(); }
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens path (closing an open file first). False with the last error on failure.
    bool Open(const std::string& path, FileAccess access, FileShare share, FileCreate create);
    // Closes the handle, dropping its locks and its share mode. Harmless when closed.
    void Close();
    // Deletes the file when no other handle has it open and the path still names it, then
    // closes this handle; the handle is closed whatever the result. True when deleted.
    bool CloseAndDeleteIfUnused();

    bool IsOpen() const { return FFd >= 0; }
    // The absolute path the file was opened by.
    const std::string& Path() const { return FPath; }
    FileAccess Access() const { return FAccess; }
    FileShare Share() const { return FShare; }

    // Reads up to count bytes at position. Returns the bytes read (count, or fewer when the end
    // of the file or an error came first: the last error then says which, ErrorHandleEof or the
    // errno), or -1 when nothing was read because of an error.
    int64_t Read(int64_t position, void* buffer, int64_t count);
    // Writes count bytes at position, extending the file as needed. Returns the bytes written
    // (fewer than count when an error such as ENOSPC stopped it, with that error as the last
    // error), or -1 when nothing was written because of an error.
    int64_t Write(int64_t position, const void* buffer, int64_t count);
    // The size of the file in bytes, or -1 on error.
    int64_t Size() const;
    // Truncates or extends (with zeros) the file to size bytes.
    bool SetSize(int64_t size);
    // Flushes the file's data to stable storage (fdatasync).
    bool Flush();

    // Locks length bytes at offset for this handle; one attempt (ByteRangeLock.h for the rules).
    bool Lock(uint64_t offset, uint64_t length) { return FLocks.Lock(offset, length); }
    // Unlocks a range held by this handle, named exactly as it was locked.
    bool Unlock(uint64_t offset, uint64_t length) { return FLocks.Unlock(offset, length); }
    // Number of ranges this handle holds.
    size_t LockCount() const { return FLocks.HeldCount(); }
    // How this handle's locks are taken (native write locks or the read-only emulation).
    ByteRangeLocks::Mode LockMode() const { return FLocks.LockMode(); }

    // True when the path still names the file this handle has open (same device and inode).
    bool IsStillAtPath() const;

private:
    friend bool RenameFile(const std::string& oldPath, const std::string& newPath);
    // Shared by CloseAndDeleteIfUnused and RenameFile: under the share mutex, checks that no
    // other handle has the file open and the path still names it, then deletes (newPath empty)
    // or renames it; closes the handle.
    bool CloseAndRemoveIfUnused(const std::string* newPath);
    bool OpenOnce(FileAccess access, FileShare share, FileCreate create, bool& retry);

    int FFd = -1;
    std::string FPath;
    FileAccess FAccess = FileAccess::Read;
    FileShare FShare = FileShare::DenyNone;
    ByteRangeLocks FLocks;
};

// True when path names an existing file that is not a directory.
bool FileExists(const std::string& path);

// True when both paths name one existing file (the same device and inode), however spelled or
// linked; false when either is missing.
bool SameFile(const std::string& a, const std::string& b);

// Deletes a file: fails with ErrorSharingViolation while any handle has it open, EACCES when it
// has the read-only attribute, ENOENT when it is missing.
bool DeleteFile(const std::string& path);

// Renames (moves) a file; refuses an existing target (EEXIST) and a file that any handle has
// open (ErrorSharingViolation).
bool RenameFile(const std::string& oldPath, const std::string& newPath);

// Copies a file with its permission bits and modification time. With failIfExists an existing
// target is refused (EEXIST); otherwise it is replaced, unless a handle has it open. A copy that
// fails part-way removes the partial target.
bool CopyFile(const std::string& source, const std::string& dest, bool failIfExists);

// Flushes the folder that holds path to stable storage, so that files created, deleted or
// renamed in it stay so after a crash (flushing a file makes its data durable, not its name).
// The path need not exist any more; its folder must. A file system that cannot flush folders
// (EINVAL) counts as done. False with the last error on failure.
bool FlushFolderOf(const std::string& path);

// True when the file has the read-only attribute (no write bit for anyone); false when it has
// not, or cannot be examined (the last error then says why).
bool FileIsReadOnly(const std::string& path);

// Sets the read-only attribute (clears every write bit) or clears it (gives the owner write
// permission).
bool FileSetReadOnly(const std::string& path, bool readOnly);

}  // namespace ostra::platform
