// TWinFileStream: a byte stream over a file named by its Windows-form path, opened through the
// platform's file handles. The archive component reads and writes archives, volumes and targets
// through it, so those files take part in the machine's rules for files in use (a file open here
// cannot be deleted or replaced by anyone else) and in the fault injection of platform/FileFault.h
// (tests make a disk fill up).
//
// Unlike the host's TFileStream, opening reports failure instead of raising, so that each caller
// raises its own text ("Cannot open the compressed file %s" ...), and reads and writes report short
// counts (a full disk is a short write, not an exception).
#pragma once
#include <cstdint>
#include <string>

#include "host/Streams.h"
#include "platform/File.h"

namespace ostra {

// A stream over one file handle, positioned by the stream.
class TWinFileStream : public TStream {
public:
    TWinFileStream() = default;
    ~TWinFileStream() override = default;

    // Opens the file (closing an open one first); false with the platform's last error when it
    // cannot. The position starts at 0.
    bool Open(const std::string& winPath, platform::FileAccess access, platform::FileShare share,
              platform::FileCreate create);
    void Close();
    bool IsOpen() const { return FFile.IsOpen(); }
    // The Windows-form path the stream was opened by.
    const std::string& FileName() const { return FFileName; }

    // Reads up to Count bytes at the position; 0 at the end of the file or on an error.
    int64_t Read(void* Buffer, int64_t Count) override;
    // Writes at the position; fewer bytes than Count when the disk is full or a write fails.
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Any position from 0 up; a negative one raises EStreamError "Invalid stream position".
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    // The file's length; raises EReadError when it cannot be taken.
    int64_t Size() override;
    // Truncates or extends the file; raises EWriteError when it cannot.
    void SetSize(int64_t NewSize) override;

private:
    platform::File FFile;
    std::string FFileName;
    int64_t FPosition = 0;
};

class TStrings;
// Reads the lines of a text file by Windows-form path into `lines` (emptied first); false when the
// file cannot be opened.
bool LoadWinTextFile(const std::string& winPath, TStrings& lines);

}  // namespace ostra
