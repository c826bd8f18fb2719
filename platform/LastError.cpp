// The thread-local last error and the texts of the error codes.
#include "platform/LastError.h"

#include <cstring>

namespace ostra::platform {
namespace {
thread_local int tLastError = 0;
}  // namespace

int GetLastError() { return tLastError; }

void SetLastError(int code) { tLastError = code; }

std::string SysErrorMessage(int code) {
    switch (code) {
        case 0: return "The operation completed successfully";
        case ErrorSharingViolation: return "The process cannot access the file because it is being used by another process";
        case ErrorLockViolation: return "The process cannot access the file because another process has locked a portion of the file";
        case ErrorHandleEof: return "Reached the end of the file";
        case ErrorNotLocked: return "The segment is already unlocked";
        default: break;
    }
    if (code >= ErrorBase) return "Unknown error " + std::to_string(code);
    char buffer[256];
    // The GNU strerror_r returns the message, which may or may not live in buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text ? std::string(text) : "Unknown error " + std::to_string(code);
}

}  // namespace ostra::platform
