// TFrnmCompress, the archive component: compresses a list of files into an archive (new or
// appended; the layout is cmp_TFileHeaders.h), extracts named files under an overwrite decision,
// rewrites an archive as numbered volumes on removable disks, copies plain files under the same
// decision, and lists the archive's headers. Every file's bytes are one zlib stream.
//
// Progress goes out through events with one shared progress record (TlzhFileStats), once per
// buffer; between buffers the component lets the application handle its window events
// (ApplicationProcessMessages), so that a Cancel button can set Abort, which stops the operation
// at its next step.
//
// Soundness beyond the plain layout:
//   - A compression writes the archive's count after each completed file, so an aborted or failed
//     compression leaves a readable archive of the files completed before it; appending starts
//     right after the last completed file.
//   - Extraction and plain copies write to a temporary file in the target's folder and rename it
//     over the target only when the file is complete, checked and dated: an aborted or failed
//     extraction leaves the target as it was.
//   - A stream must end as a zlib stream ends, within its recorded bounds; extraction stops as
//     soon as a stream yields more bytes than its header's size, so a damaged archive costs
//     neither unbounded memory nor disk.
//   - IndexOfID answers -1 for an identifier that no header carries.
//
// The component is idle between calls; each call runs to its end on the caller's thread. Handlers
// must not start another operation on the same component.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/Component.h"
#include "host/StringList.h"
#include "installer/library/cmp_TFileHeaders.h"
#include "installer/library/cmp_TVersion.h"

namespace ostra {

class TWinFileStream;
class TFrnmCompress;

// The zlib level of new streams: 0, 1, zlib's default (-1) and 9.
enum TCompressionLevel { colNone, colFastest, colDefault, colMax };

// The progress of the current operation. Percentages are quotients x 100 rounded to the nearest
// integer (ties to even); a zero divisor gives 0.
// The counts are 64-bit, so that the totals of many files cannot overflow.
struct TlzhFileStats {
    uint8_t Percent = 0;           // of the current file
    int64_t BytesDone = 0;
    std::string FileName;          // the header's SourcePath, or the source path when copying
    int64_t Compressed = 0;        // compressed length of the current file
    uint8_t Ratio = 0;             // Compressed of Size
    int64_t Size = 0;              // uncompressed size
    TFileHeaderRecord Header;      // the current header
    bool Done = false;             // the current file is finished
    uint8_t TotalPercent = 0;
    int64_t TotalBytesDone = 0;
    int64_t TotalCompressed = 0;   // sum of the compressed lengths
    uint8_t TotalRatio = 0;
    int64_t TotalSize = 0;         // sum of the sizes
};

using TlzhFileStatsEvent = std::function<void(TFrnmCompress* FrnmCompress, const TlzhFileStats& FileStats)>;
// A volume is missing or full: the handler sets Path to the folder of the next disk.
using TlzhNewDiskEvent = std::function<void(TFrnmCompress* FrnmCompress, int DiskNumber, std::string& Path)>;

// The archive component.
class TFrnmCompress : public TComponent {
public:
    explicit TFrnmCompress(TComponent* AOwner);
    ~TFrnmCompress() override;

    // ---- Published properties
    // Stops the running operation at its next step; also set when an operation fails.
    bool Abort() const { return FAbort; }
    void SetAbort(bool value) { FAbort = value; }
    // The archive file (volume 1 of a multi-volume archive), in Windows form. A name of another
    // archive (other even after giving both the extension ".1") marks the headers for reloading.
    const std::string& CompressedFile() const { return FCompressedFile; }
    void SetCompressedFile(const std::string& value);
    TCompressionLevel CompressionLevel() const { return FCompressionLevel; }
    void SetCompressionLevel(TCompressionLevel value) { FCompressionLevel = value; }
    // The folder that extraction writes into.
    const std::string& ExtractDirectory() const { return FExtractDirectory; }
    void SetExtractDirectory(const std::string& value) { FExtractDirectory = value; }
    // Names to add or to extract; emptied at the end of every compression and extraction.
    TStrings* FilesToProcess() const { return FFilesToProcess.get(); }
    // Copies the names, leaving out the blank ones.
    void SetFilesToProcess(const TStrings& value);
    // The archive's byte position within CompressedFile.
    int32_t Offset() const { return FOffset; }
    void SetOffset(int32_t value) { FOffset = value; }
    TOverwriteType Overwrite() const { return FOverwrite; }
    void SetOverwrite(TOverwriteType value) { FOverwrite = value; }

    // ---- Public, not published
    // The name under which the current file is extracted ("" = the stored name); reset after each
    // file.
    const std::string& ExtractName() const { return FExtractName; }
    void SetExtractName(const std::string& value) { FExtractName = value; }
    // Set by an OnReplace handler to keep the existing file; reset before each file.
    bool SkipFile() const { return FSkipFile; }
    void SetSkipFile(bool value) { FSkipFile = value; }

    // ---- Events
    TNotifyEvent OnAborted;                      // an operation ended through Abort
    TlzhFileStatsEvent OnBeforeAdding, OnAfterAdding;
    TlzhFileStatsEvent OnBeforeExtracting;
    TlzhFileStatsEvent OnAfterExtracting;        // after each file of an extraction, written or kept
    TNotifyEvent OnFullDisk;                     // a write to the target fell short
    TlzhFileStatsEvent OnListing;
    TlzhNewDiskEvent OnNewDisk;
    TlzhFileStatsEvent OnReplace;                // an existing target is about to be overwritten
    TlzhFileStatsEvent OnStatus;

    // ---- Operations. Compress, Extract and CopyToVolumes end quietly after an abort (raising
    // OnAborted) and, for the first two, after a silent abort (EAbort); any other failure sets
    // Abort and passes on. Files they opened are closed in every case.

    // Adds every name of FilesToProcess (a Windows-form path, optionally followed by ";" and more)
    // to CompressedFile, after its files when Append and the archive exists (a multi-volume archive
    // cannot take more files), else to a new archive; ID goes into each new header's FileID.
    void Compress(bool Append, int ID);
    // Extracts every name of FilesToProcess into ExtractDirectory under the Overwrite decision.
    void Extract();
    // Writes the archive in the multi-volume layout into Folder as the file-name part of Name and,
    // when a disk is full, as Name with the extensions ".2", ".3" ... on the disks OnNewDisk names.
    void CopyToVolumes(const std::string& Folder, const std::string& Name);
    // Copies one plain file under the Overwrite decision; an abort ends it quietly, leaving Dest as
    // it was. Exceptions pass.
    void CopyFile(const std::string& Source, const std::string& Dest);
    // Reads the header block of CompressedFile at Offset. Raises EFrnmCompress "Cannot open the
    // compressed file %s" or "Could not read the file headers for the compressed file. The Archive
    // file could possible be corrupt".
    void LoadHeaders();
    // Raises OnListing with each header's statistics.
    void ListFiles();
    int GetFileCount();
    // The statistics of the header at position with the totals of all headers; a position outside
    // the list raises EFrnmCompress "Tried to access the %dth file. This file is not defined".
    TlzhFileStats GetFileStats(int position);
    // The position of the header whose FileID is id (a later duplicate wins); -1 when id lies
    // outside 0..1999 or no header carries it.
    int IndexOfID(int id);
    // The headers as loaded (or as being written during a compression).
    const TFileHeaders& Headers() const { return *FHeaders; }

    // A write to the target fell short: raises OnFullDisk, or EfcDiskFull "The disk is full" when
    // no handler is set. The short write is not repeated.
    virtual void DoFullDisk();

private:
    enum TOperation { opNone, opCompressing, opExtracting };
    class TStreamReader;

    // Runs an operation with the common handling of aborts and failures.
    template <class Body>
    void RunOperation(bool quietOnSilentAbort, Body body);
    void LoadHeadersIfNeeded();
    void Status();
    void CheckAbort() const;
    // The step after each buffer: abort check, window events, percentages, OnStatus.
    void ProgressStep(int64_t bytes, int64_t fileWhole, int64_t totalWhole);
    // Compresses one file of the list and records it in the header and the archive's count.
    void CompressFile(TWinFileStream& archive, TFileHeader& header, int ID, int position, int32_t& stored);
    void ExtractOne(const std::string& name);
    // Inflates a header's stream into target; raises Exception "error" for a damaged stream.
    void Inflate(const TFileHeaderRecord& header, TStreamReader& reader, TStream& target);
    // Writes a file to a temporary file beside Target with fill (which returns false to give up
    // quietly), dates it and renames it over Target; the temporary file goes on any failure.
    // True when Target was written.
    bool WriteTarget(const std::string& Target, TDateTime date, const std::function<bool(TStream&)>& fill);
    // The overwrite decision for an existing Target; false to leave it. OnReplace may change
    // ExtractName (and so Target) or set SkipFile.
    bool DecideOverwrite(std::string& Target, const std::function<int()>& compare);
    // Opens volume of the archive at path (the path's extension becomes "." + volume in the
    // multi-volume layout), asking OnNewDisk for a missing one; path follows the disk where it was
    // found.
    void OpenVolume(TWinFileStream& stream, int volume, bool write, std::string& path, bool multiVolume);
    // Where positions on a volume count from: Offset on the archive's own file, 0 on volumes 2 up.
    int64_t VolumeBase(int volume) const { return volume <= 1 ? FOffset : 0; }

    bool FAbort = false;
    std::string FCompressedFile;
    TCompressionLevel FCompressionLevel = colMax;
    std::string FExtractDirectory;
    std::unique_ptr<TStringList> FFilesToProcess;
    int32_t FOffset = 0;
    TOverwriteType FOverwrite = owAlways;
    std::string FExtractName;
    bool FSkipFile = false;

    TOperation FOperation = opNone;
    int FCurrentVolume = 0;
    TlzhFileStats FStats;
    bool FHeadersLoaded = false;
    std::unique_ptr<TFileHeaders> FHeaders;
    // FileID 0..1999 -> header position; -1 for none.
    std::array<int32_t, 2000> FArchiveIDIndex;
};

// The archive component shared by the install run and by the files whose archive is the run's
// main archive; created on first use, never freed.
TFrnmCompress& GlobalArchiveComponent();

}  // namespace ostra
