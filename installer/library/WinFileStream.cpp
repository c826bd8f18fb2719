// The stream over a platform file handle named by a Windows-form path.
#include "installer/library/WinFileStream.h"

#include "host/StringList.h"

#include "installer/library/WinFileSystem.h"
#include "platform/LastError.h"

namespace ostra {

bool TWinFileStream::Open(const std::string& winPath, platform::FileAccess access, platform::FileShare share,
                          platform::FileCreate create) {
    Close();
    std::string native = WinToNative(winPath);
    if (native.empty() || !FFile.Open(native, access, share, create)) return false;
    FFileName = winPath;
    return true;
}

void TWinFileStream::Close() {
    FFile.Close();
    FFileName.clear();
    FPosition = 0;
}

int64_t TWinFileStream::Read(void* Buffer, int64_t Count) {
    if (Count <= 0 || !FFile.IsOpen()) return 0;
    int64_t n = FFile.Read(FPosition, Buffer, Count);
    if (n <= 0) return 0;
    FPosition += n;
    return n;
}

int64_t TWinFileStream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0 || !FFile.IsOpen()) return 0;
    int64_t n = FFile.Write(FPosition, Buffer, Count);
    if (n <= 0) return 0;
    FPosition += n;
    return n;
}

int64_t TWinFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int64_t base = Origin == soFromBeginning ? 0 : Origin == soFromCurrent ? FPosition : Size();
    int64_t target;
    if (__builtin_add_overflow(base, Offset, &target) || target < 0) throw EStreamError("Invalid stream position");
    FPosition = target;
    return FPosition;
}

int64_t TWinFileStream::Size() {
    int64_t size = FFile.Size();
    if (size < 0) throw EReadError("Stream read error. " + platform::SysErrorMessage(platform::GetLastError()));
    return size;
}

void TWinFileStream::SetSize(int64_t NewSize) {
    if (NewSize < 0 || !FFile.SetSize(NewSize))
        throw EWriteError("Stream write error. " + platform::SysErrorMessage(platform::GetLastError()));
    if (FPosition > NewSize) FPosition = NewSize;
}

bool LoadWinTextFile(const std::string& winPath, TStrings& lines) {
    lines.Clear();
    TWinFileStream file;
    if (!file.Open(winPath, platform::FileAccess::Read, platform::FileShare::DenyWrite, platform::FileCreate::OpenExisting))
        return false;
    lines.LoadFromStream(file);
    return true;
}

}  // namespace ostra
