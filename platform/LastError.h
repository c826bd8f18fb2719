// The calling thread's last error of the platform layer, as the file services report it.
//
// Error scheme of platform/: a call that fails returns false (or -1 for counts) and records
// why in the calling thread's last error, which GetLastError reads and SysErrorMessage turns
// into text. Codes below ErrorBase are errno values (EIO, ENOSPC, EACCES, ENOENT, ...); the
// codes from ErrorBase up are this layer's own conditions, which carry the Windows error
// numbers they stand for in their low bits. The engine turns them into its own errors.
#pragma once
#include <string>

namespace ostra::platform {

constexpr int ErrorBase = 0x10000;
// Another handle's share mode forbids this open, or the file is open where a delete or rename
// needs it closed (a sharing violation).
constexpr int ErrorSharingViolation = ErrorBase + 32;
// The byte range is locked by another handle, or overlaps a range this handle holds.
constexpr int ErrorLockViolation = ErrorBase + 33;
// A read reached the end of the file before the requested count.
constexpr int ErrorHandleEof = ErrorBase + 38;
// An unlock named a range that this handle does not hold exactly.
constexpr int ErrorNotLocked = ErrorBase + 158;

// The last error recorded on this thread (0 when none since SetLastError(0)).
int GetLastError();

// Records an error code for this thread; platform calls do this on every failure.
void SetLastError(int code);

// The text of an error code: the system's message for errno values, this layer's own for the
// codes from ErrorBase up.
std::string SysErrorMessage(int code);

}  // namespace ostra::platform
