// The archive component: compression, extraction, volume copies, plain copies and listing.
#include "installer/library/cmp_TFrnmCompress.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "host/Collation.h"
#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"
#include "host/UIServices.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileStream.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {

// Buffer sizes: compressed output per write while compressing; archive input and file output
// while inflating; one chunk of a volume copy or a plain copy.
constexpr int64_t kCompressBuffer = 65536;
constexpr int64_t kInflateInput = 65536;
constexpr int64_t kInflateOutput = 4096;
constexpr int64_t kCopyChunk = 8192;

constexpr int64_t kMaxPosition = std::numeric_limits<int32_t>::max();
constexpr int kMaxVolume = 255;  // a volume number is one byte of the header

const char* const kHeadersUnreadable =
    "Could not read the file headers for the compressed file. The Archive file could possible be corrupt";

const char* const CompressionLevelNames[] = {"colNone", "colFastest", "colDefault", "colMax"};
const char* const OverwriteNames[] = {"owAlways", "owNever", "owVersion", "owDate", "owVersionDate", "owAsk"};

[[maybe_unused]] const bool kPublished =
    Publish<TFrnmCompress, TComponent>()
        .Boolean("Abort", &TFrnmCompress::Abort, &TFrnmCompress::SetAbort)
        .Default(false)
        .String("CompressedFile", &TFrnmCompress::CompressedFile, &TFrnmCompress::SetCompressedFile)
        .Enum("CompressionLevel", &TFrnmCompress::CompressionLevel, &TFrnmCompress::SetCompressionLevel,
              CompressionLevelNames)
        .Default(colMax)
        .String("ExtractDirectory", &TFrnmCompress::ExtractDirectory, &TFrnmCompress::SetExtractDirectory)
        .Object("FilesToProcess", &TFrnmCompress::FilesToProcess)
        .Integer("Offset", &TFrnmCompress::Offset, &TFrnmCompress::SetOffset)
        .Default(0)
        .Enum("Overwrite", &TFrnmCompress::Overwrite, &TFrnmCompress::SetOverwrite, OverwriteNames)
        .Default(owAlways);

int ZlibLevel(TCompressionLevel level) {
    switch (level) {
        case colNone: return 0;
        case colFastest: return 1;
        case colDefault: return Z_DEFAULT_COMPRESSION;
        case colMax: break;
    }
    return 9;
}

// part of whole in percent, rounded to the nearest integer (ties to even); 0 for a zero whole.
uint8_t PercentOf(int64_t part, int64_t whole) {
    if (whole == 0) return 0;
    double percent = std::nearbyint(100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return static_cast<uint8_t>(std::clamp(percent, 0.0, 255.0));
}

// The record's fields of one header: name, sizes, ratio, the header itself; counters at 0.
void FillFromHeader(TlzhFileStats& stats, const TFileHeaderRecord& header) {
    stats.FileName = header.SourcePath;
    stats.Size = header.FileSize;
    stats.BytesDone = 0;
    stats.Percent = 0;
    stats.Compressed = header.CompressedSize;
    stats.Done = false;
    stats.Ratio = PercentOf(stats.Compressed, stats.Size);
    stats.Header = header;
}

// The totals of all headers, nothing done yet.
void SetTotals(TlzhFileStats& stats, const TFileHeaders& headers) {
    stats.TotalSize = 0;
    stats.TotalCompressed = 0;
    for (int i = 0; i < headers.Count(); ++i) {
        stats.TotalSize += headers.GetFileHeaders(i).Header.FileSize;
        stats.TotalCompressed += headers.GetFileHeaders(i).Header.CompressedSize;
    }
    stats.TotalRatio = PercentOf(stats.TotalCompressed, stats.TotalSize);
    stats.TotalBytesDone = 0;
    stats.TotalPercent = 0;
    stats.Done = false;
}

[[noreturn]] void StreamDamaged() { throw Exception("error"); }

// Runs a clean-up when it goes out of scope, also on failure.
template <class F>
struct TFinally {
    F Cleanup;
    ~TFinally() { Cleanup(); }
};
template <class F>
TFinally(F) -> TFinally<F>;

// Ends a zlib stream when it goes out of scope.
struct TDeflateEnd {
    z_stream& Z;
    ~TDeflateEnd() { deflateEnd(&Z); }
};
struct TInflateEnd {
    z_stream& Z;
    ~TInflateEnd() { inflateEnd(&Z); }
};

}  // namespace

// Reads the bytes of one header's stream in order, from its first volume to its last, never past
// its recorded last byte; opens the following volumes as it reaches the end of one.
class TFrnmCompress::TStreamReader {
public:
    TStreamReader(TFrnmCompress& owner, const TFileHeaderRecord& header, TWinFileStream& archive, std::string& path,
                  bool multiVolume)
        : FOwner(owner), FArchive(archive), FPath(path), FMultiVolume(multiVolume),
          FVolume(std::max<int>(1, header.FirstVolume)), FLast(std::max<int>(1, header.LastVolume)),
          FPosition(owner.VolumeBase(FVolume) + header.DataStart),
          FEnd(owner.VolumeBase(FLast) + static_cast<int64_t>(header.LastDataByte) + 1) {
        FOwner.OpenVolume(FArchive, FVolume, false, FPath, FMultiVolume);
    }

    // The volume being read.
    int Volume() const { return FVolume; }

    // Up to count of the stream's next bytes; 0 at its end.
    int64_t Read(void* buffer, int64_t count) {
        for (;;) {
            int64_t limit = count;
            if (FVolume == FLast) limit = std::min(count, FEnd - FPosition);
            if (limit > 0) {
                FArchive.Seek(FPosition, soFromBeginning);
                int64_t n = FArchive.Read(buffer, limit);
                if (n > 0) {
                    FPosition += n;
                    return n;
                }
            }
            if (FVolume >= FLast) return 0;
            ++FVolume;
            FOwner.OpenVolume(FArchive, FVolume, false, FPath, FMultiVolume);
            FPosition = 0;
        }
    }

private:
    TFrnmCompress& FOwner;
    TWinFileStream& FArchive;
    std::string& FPath;
    bool FMultiVolume;
    int FVolume, FLast;
    int64_t FPosition, FEnd;
};

TFrnmCompress::TFrnmCompress(TComponent* AOwner)
    : TComponent(AOwner), FFilesToProcess(std::make_unique<TStringList>()), FHeaders(std::make_unique<TFileHeaders>()) {
    FArchiveIDIndex.fill(-1);
}

TFrnmCompress::~TFrnmCompress() = default;

void TFrnmCompress::SetCompressedFile(const std::string& value) {
    if (AnsiSameText(value, FCompressedFile)) return;
    // Volumes of one set (x.1, x.2) keep the loaded headers.
    if (FHeadersLoaded && !AnsiSameText(ChangeFileExt(value, ".1"), ChangeFileExt(FCompressedFile, ".1")))
        FHeadersLoaded = false;
    FCompressedFile = value;
}

void TFrnmCompress::SetFilesToProcess(const TStrings& value) {
    FFilesToProcess->Clear();
    for (int i = 0; i < value.Count(); ++i)
        if (!Trim(value.Strings(i)).empty()) FFilesToProcess->Add(value.Strings(i));
}

template <class Body>
void TFrnmCompress::RunOperation(bool quietOnSilentAbort, Body body) {
    try {
        body();
    } catch (const EfcAborted&) {
        if (OnAborted) OnAborted(this);
    } catch (const EAbort&) {
        if (quietOnSilentAbort) return;
        FAbort = true;
        throw;
    } catch (...) {
        FAbort = true;
        throw;
    }
}

void TFrnmCompress::Status() {
    if (OnStatus) OnStatus(this, FStats);
}

void TFrnmCompress::CheckAbort() const {
    if (FAbort) throw EfcAborted("Operation aborted by user");
}

void TFrnmCompress::ProgressStep(int64_t bytes, int64_t fileWhole, int64_t totalWhole) {
    CheckAbort();
    ApplicationProcessMessages();
    FStats.BytesDone += bytes;
    FStats.TotalBytesDone += bytes;
    FStats.Percent = PercentOf(FStats.BytesDone, fileWhole);
    FStats.TotalPercent = PercentOf(FStats.TotalBytesDone, totalWhole);
    Status();
}

void TFrnmCompress::DoFullDisk() {
    if (!OnFullDisk) throw EfcDiskFull("The disk is full");
    OnFullDisk(this);
}

// ---- Headers

void TFrnmCompress::LoadHeaders() {
    TWinFileStream archive;
    if (!WinFileExists(FCompressedFile) ||
        !archive.Open(FCompressedFile, platform::FileAccess::Read, platform::FileShare::DenyNone,
                      platform::FileCreate::OpenExisting))
        throw EFrnmCompress(Format("Cannot open the compressed file %s", {FCompressedFile}));
    FHeadersLoaded = false;
    FArchiveIDIndex.fill(-1);
    try {
        FHeaders->ReadHeaders(archive, FOffset);
    } catch (const Exception&) {
        throw EFrnmCompress(kHeadersUnreadable);
    }
    for (int i = 0; i < FHeaders->Count(); ++i) {
        int32_t id = FHeaders->GetFileHeaders(i).Header.FileID;
        if (id >= 0 && id < static_cast<int32_t>(FArchiveIDIndex.size())) FArchiveIDIndex[id] = i;
    }
    FHeadersLoaded = true;
}

void TFrnmCompress::LoadHeadersIfNeeded() {
    // While compressing, the list in memory is the one being written.
    if (FOperation != opCompressing && !FHeadersLoaded) LoadHeaders();
}

int TFrnmCompress::GetFileCount() {
    LoadHeadersIfNeeded();
    return FHeaders->Count();
}

void TFrnmCompress::ListFiles() {
    LoadHeadersIfNeeded();
    SetTotals(FStats, *FHeaders);
    for (int i = 0; i < FHeaders->Count(); ++i) {
        FillFromHeader(FStats, FHeaders->GetFileHeaders(i).Header);
        if (OnListing) OnListing(this, FStats);
    }
}

TlzhFileStats TFrnmCompress::GetFileStats(int position) {
    LoadHeadersIfNeeded();
    if (position < 0 || position >= FHeaders->Count())
        throw EFrnmCompress(Format("Tried to access the %dth file. This file is not defined", {position}));
    TlzhFileStats stats;
    SetTotals(stats, *FHeaders);
    FillFromHeader(stats, FHeaders->GetFileHeaders(position).Header);
    return stats;
}

int TFrnmCompress::IndexOfID(int id) {
    LoadHeadersIfNeeded();
    if (id < 0 || id >= static_cast<int>(FArchiveIDIndex.size())) return -1;
    return FArchiveIDIndex[id];
}

// ---- Compression

void TFrnmCompress::Compress(bool Append, int ID) {
    FAbort = false;
    FOperation = opCompressing;
    FOffset = 0;
    TWinFileStream archive;
    TFinally finish {[&] {
        FOperation = opNone;
        FHeadersLoaded = false;
        FFilesToProcess->Clear();
    }};
    RunOperation(true, [&] {
            std::string folder = ExtractFileDir(FCompressedFile);
            if (!folder.empty() && !WinDirectoryExists(folder)) WinForceDirectories(folder);
            int32_t stored = 0;
            int64_t end = kArchiveStartSize;
            auto openArchive = [&](platform::FileCreate create) {
                if (!archive.Open(FCompressedFile, platform::FileAccess::ReadWrite, platform::FileShare::DenyWrite,
                                  create))
                    throw EFrnmCompress(Format("Cannot create the file %s", {FCompressedFile}));
            };
            if (Append && WinFileExists(FCompressedFile)) {
                openArchive(platform::FileCreate::OpenExisting);
                FHeaders->ReadHeaders(archive, 0);
                if (FHeaders->MultiVolume())
                    throw EFrnmCompress(
                        Format("Cannot add files to the multi-volume archive %s", {FCompressedFile}));
                stored = FHeaders->Count();
                if (stored > 0) end = FHeaders->GetFileHeaders(stored - 1).Header.NextHeader;
                FHeaders->AddFiles(*FFilesToProcess, true);
                // Whatever an earlier, broken-off compression left after the last complete file goes.
                archive.SetSize(end);
            } else {
                FHeaders->SetMultiVolume(false);
                FHeaders->AddFiles(*FFilesToProcess, false);
                openArchive(platform::FileCreate::CreateAlways);
            }
            FArchiveIDIndex.fill(-1);
            for (int i = 0; i < stored; ++i) {
                int32_t id = FHeaders->GetFileHeaders(i).Header.FileID;
                if (id >= 0 && id < static_cast<int32_t>(FArchiveIDIndex.size())) FArchiveIDIndex[id] = i;
            }
            FHeaders->WriteArchiveStart(archive, stored);
            archive.Seek(end, soFromBeginning);
            SetTotals(FStats, *FHeaders);
            FStats.TotalCompressed = 0;
            for (int i = 0; i < FHeaders->Count(); ++i) {
                TFileHeader& header = FHeaders->GetFileHeaders(i);
                if (!header.Stored) CompressFile(archive, header, ID, i, stored);
            }
    });
}

void TFrnmCompress::CompressFile(TWinFileStream& archive, TFileHeader& header, int ID, int position,
                                 int32_t& stored) {
    TWinFileStream source;
    if (!source.Open(header.SourceFile, platform::FileAccess::Read, platform::FileShare::DenyNone,
                     platform::FileCreate::OpenExisting))
        throw EFrnmCompress(Format("Cannot open the file %s", {header.SourceFile}));
    TFileHeaderRecord& h = header.Header;
    const int64_t headerPosition = archive.Position();
    if (headerPosition + kFileHeaderSize > kMaxPosition)
        throw EFrnmCompress(Format("The archive %s cannot grow beyond 2147483647 bytes", {FCompressedFile}));
    h.DataStart = static_cast<int32_t>(headerPosition + kFileHeaderSize);
    WriteFileHeader(archive, h);
    FillFromHeader(FStats, h);
    FStats.Compressed = 0;
    if (OnBeforeAdding) OnBeforeAdding(this, FStats);

    z_stream z {};
    if (deflateInit(&z, ZlibLevel(FCompressionLevel)) != Z_OK) StreamDamaged();
    TDeflateEnd end {z};
    std::vector<uint8_t> in(kCompressBuffer), out(kCompressBuffer);
    int64_t written = 0;
    auto writeOut = [&](int64_t count) {
        if (archive.Position() + count > kMaxPosition)
            throw EFrnmCompress(Format("The archive %s cannot grow beyond 2147483647 bytes", {FCompressedFile}));
        if (archive.Write(out.data(), count) != count) throw EfcDiskFull("The disk is full");
        written += count;
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
    };
    auto addStatus = [&] {
        FStats.Compressed = written;
        ProgressStep(static_cast<int64_t>(z.total_in) - FStats.BytesDone, FStats.Size, FStats.TotalSize);
    };
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        int64_t n = source.Read(in.data(), static_cast<int64_t>(in.size()));
        if (static_cast<int64_t>(z.total_in) + n > kMaxPosition)
            throw EFrnmCompress(Format("Cannot add the file %s: an archive holds files of at most 2147483647 bytes",
                                       {header.SourceFile}));
        flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(n);
        int ret;
        do {
            ret = deflate(&z, flush);
            if (ret == Z_STREAM_ERROR) StreamDamaged();
            if (z.avail_out == 0) {
                writeOut(static_cast<int64_t>(out.size()));
                addStatus();
            }
        } while (z.avail_in > 0 || (flush == Z_FINISH && ret != Z_STREAM_END));
    }
    writeOut(static_cast<int64_t>(out.size() - z.avail_out));
    FStats.Compressed = written;
    FStats.Ratio = PercentOf(written, FStats.Size);
    FStats.Done = true;
    addStatus();
    FStats.Done = false;

    const int64_t streamEnd = archive.Position();
    h.FileSize = static_cast<int32_t>(z.total_in);  // the bytes actually read, should the file have changed
    h.LastDataByte = static_cast<int32_t>(streamEnd - 1);
    h.NextHeader = static_cast<int32_t>(streamEnd);
    h.CompressedSize = static_cast<int32_t>(written);
    h.FileID = ID;
    if (ID >= 0 && ID < static_cast<int>(FArchiveIDIndex.size())) FArchiveIDIndex[ID] = position;
    FStats.TotalCompressed += written;
    archive.Seek(headerPosition, soFromBeginning);
    WriteFileHeader(archive, h);
    header.Stored = true;
    // The file counts only now that its header and stream are complete.
    FHeaders->WriteArchiveStart(archive, ++stored);
    archive.Seek(streamEnd, soFromBeginning);
    if (OnAfterAdding) OnAfterAdding(this, FStats);
}

// ---- Extraction

void TFrnmCompress::Extract() {
    FAbort = false;
    FOperation = opExtracting;
    TFinally finish {[&] {
        FFilesToProcess->Clear();
        FExtractName.clear();
        FOperation = opNone;
    }};
    RunOperation(true, [&] {
        LoadHeadersIfNeeded();
        FCurrentVolume = 0;
        SetTotals(FStats, *FHeaders);
        std::vector<std::string> names;
        for (int i = 0; i < FFilesToProcess->Count(); ++i) names.push_back(FFilesToProcess->Strings(i));
        for (const std::string& name : names) ExtractOne(name);
    });
}

void TFrnmCompress::ExtractOne(const std::string& name) {
    FSkipFile = false;
    int index = FHeaders->IndexOfName(name);
    if (index < 0)
        throw EFrnmCompress(Format("The file <%s> was not found in the archive <%s>", {name, FCompressedFile}));
    const TFileHeaderRecord header = FHeaders->GetFileHeaders(index).Header;
    FillFromHeader(FStats, header);
    if (Trim(FExtractName).empty()) FExtractName = ExtractFileName(header.SourcePath);
    if (OnBeforeExtracting) OnBeforeExtracting(this, FStats);
    std::string target = AddBackslash(FExtractDirectory) + ExtractFileName(FExtractName);
    bool write = !WinFileExists(target) || DecideOverwrite(target, [&] {
        return IsFileNewerByInfo(header.FileVersion, target, FOverwrite, header.FileDate);
    });
    if (write && !FSkipFile) {
        TWinFileStream archive;
        std::string path = FCompressedFile;
        TStreamReader reader(*this, header, archive, path, FHeaders->MultiVolume());
        FCurrentVolume = reader.Volume();
        WriteTarget(target, header.FileDate, [&](TStream& out) {
            Inflate(header, reader, out);
            FCurrentVolume = reader.Volume();
            FStats.Done = true;
            Status();
            if (out.Size() != header.FileSize)
                throw EFrnmCompress(Format(
                    "The decompressed file's size does not match with the actual size of the file.  The file is %s",
                    {header.SourcePath}));
            return true;
        });
        // The volume where the file ended is where the next one is looked for.
        FCompressedFile = path;
    } else {
        FStats.Done = true;
        Status();
    }
    if (OnAfterExtracting) OnAfterExtracting(this, FStats);
    FExtractName.clear();
}

void TFrnmCompress::Inflate(const TFileHeaderRecord& header, TStreamReader& reader, TStream& target) {
    z_stream z {};
    if (inflateInit(&z) != Z_OK) StreamDamaged();
    TInflateEnd end {z};
    std::vector<uint8_t> in(kInflateInput), out(kInflateOutput);
    int64_t produced = 0;
    bool ended = false;
    while (!ended) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        while (z.avail_out > 0 && !ended) {
            if (z.avail_in == 0) {
                int64_t n = reader.Read(in.data(), static_cast<int64_t>(in.size()));
                if (n == 0) break;
                z.next_in = in.data();
                z.avail_in = static_cast<uInt>(n);
            }
            int ret = inflate(&z, Z_NO_FLUSH);
            if (ret == Z_STREAM_END)
                ended = true;
            else if (ret != Z_OK && ret != Z_BUF_ERROR)
                StreamDamaged();
        }
        int64_t have = static_cast<int64_t>(out.size() - z.avail_out);
        // The input ran out before the stream's end.
        if (have == 0 && !ended) StreamDamaged();
        produced += have;
        if (produced > header.FileSize)
            throw EFrnmCompress(
                Format("The decompressed file's size does not match with the actual size of the file.  The file is %s",
                       {header.SourcePath}));
        int64_t written = target.Write(out.data(), have);
        if (written < have) DoFullDisk();
        ProgressStep(written, FStats.Size, FStats.TotalSize);
    }
}

bool TFrnmCompress::DecideOverwrite(std::string& Target, const std::function<int()>& compare) {
    int decision;
    try {
        decision = compare();
    } catch (const std::exception&) {
        throw EFrnmCompress("Error comparing file versions in TFrnmCompress");
    }
    // 1 same, 3 keep the existing file; every other answer overwrites.
    if (decision == 1 || decision == 3) return false;
    if (OnReplace) {
        OnReplace(this, FStats);
        Target = AddBackslash(FExtractDirectory) + ExtractFileName(FExtractName);
    }
    return true;
}

bool TFrnmCompress::WriteTarget(const std::string& Target, TDateTime date, const std::function<bool(TStream&)>& fill) {
    std::string folder = ExtractFileDir(Target);
    if (!folder.empty() && !WinDirectoryExists(folder)) WinForceDirectories(folder);
    std::string temporary;
    if (!WinGetTempFileName(ExtractFilePath(Target), "frn", temporary))
        throw EFrnmCompress(Format("Cannot create the file %s", {Target}));
    TWinFileStream out;
    try {
        if (!out.Open(temporary, platform::FileAccess::Write, platform::FileShare::DenyWrite,
                      platform::FileCreate::OpenExisting))
            throw EFrnmCompress(Format("Cannot create the file %s", {Target}));
        if (!fill(out)) {
            out.Close();
            WinDeleteFile(temporary);
            return false;
        }
        out.Close();
        if (!WinSetLastWriteTime(temporary, date))
            throw EFrnmCompress("Cannot set the date of the file just extracted.");
        if (!WinMoveFileEx(temporary, Target, WinMoveReplaceExisting))
            throw EFrnmCompress(Format("Cannot create the file %s", {Target}));
    } catch (...) {
        out.Close();
        WinDeleteFile(temporary);
        throw;
    }
    return true;
}

void TFrnmCompress::OpenVolume(TWinFileStream& stream, int volume, bool write, std::string& path, bool multiVolume) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        stream.Close();
        if (multiVolume) path = ChangeFileExt(path, "." + IntToStr(volume));
        if (WinFileExists(path)) {
            if (!stream.Open(path, write ? platform::FileAccess::ReadWrite : platform::FileAccess::Read,
                             write ? platform::FileShare::DenyWrite : platform::FileShare::DenyNone,
                             platform::FileCreate::OpenExisting))
                throw EFrnmCompress(Format("Cannot open the compressed file %s", {path}));
            return;
        }
        if (!OnNewDisk) throw EFrnmCompress(Format("Could not open the correct disk file %d", {volume}));
        std::string folder = RemoveBackslash(ExtractFilePath(path));
        OnNewDisk(this, volume, folder);
        path = AddBackslash(folder) + ExtractFileName(path);
    }
    throw EFrnmCompress(Format("Cannot open the compressed file %s", {path}));
}

// ---- Volume copies

void TFrnmCompress::CopyToVolumes(const std::string& Folder, const std::string& Name) {
    FAbort = false;
    TWinFileStream source, target;
    RunOperation(false, [&] {
        LoadHeadersIfNeeded();
        FCurrentVolume = 1;
        SetTotals(FStats, *FHeaders);
        if (!WinFileExists(FCompressedFile) ||
            !source.Open(FCompressedFile, platform::FileAccess::Read, platform::FileShare::DenyNone,
                         platform::FileCreate::OpenExisting))
            throw EFrnmCompress(Format("Cannot open the compressed file %s", {FCompressedFile}));
        // Volume 1 carries the extension ".1", where extraction looks for it.
        const std::string volumeName = ChangeFileExt(ExtractFileName(Name), ".1");
        std::string targetPath = AddBackslash(Folder) + volumeName;
        auto create = [&] {
            std::string folder = ExtractFileDir(targetPath);
            if (!folder.empty() && !WinDirectoryExists(folder)) WinForceDirectories(folder);
            if (!target.Open(targetPath, platform::FileAccess::ReadWrite, platform::FileShare::DenyWrite,
                             platform::FileCreate::CreateAlways))
                throw EFrnmCompress(Format("Cannot create the file %s", {targetPath}));
        };
        create();
        // The volumes' headers: copies, so that the loaded ones still describe the source.
        TFileHeaders volumes;
        volumes.SetMultiVolume(true);
        for (int i = 0; i < FHeaders->Count(); ++i) {
            auto copy = std::make_unique<TFileHeader>(FHeaders->GetFileHeaders(i));
            volumes.Add(std::move(copy));
        }
        volumes.WriteHeaders(target);

        // Writes a chunk, going on to the next disk when this one is full.
        auto writeChunk = [&](const uint8_t* data, int64_t count) {
            int64_t written = target.Write(data, count);
            if (written == count) return;
            target.Close();
            if (++FCurrentVolume > kMaxVolume)
                throw EFrnmCompress("An archive cannot be spread over more than 255 disks");
            std::string folder = RemoveBackslash(ExtractFilePath(targetPath));
            if (!OnNewDisk)
                throw EFrnmCompress(
                    "There was no event handler for the OnNewDisk event, therefore no new disk could be inserted");
            OnNewDisk(this, FCurrentVolume, folder);
            targetPath = AddBackslash(folder) + ChangeFileExt(ExtractFileName(Name), "." + IntToStr(FCurrentVolume));
            create();
            if (target.Write(data + written, count - written) != count - written)
                throw EFrnmCompress("There is too little space on this disk to operate");
        };

        std::string sourcePath = FCompressedFile;
        std::vector<uint8_t> chunk(kCopyChunk);
        for (int i = 0; i < volumes.Count(); ++i) {
            TFileHeaderRecord& h = volumes.GetFileHeaders(i).Header;
            const TFileHeaderRecord stored = FHeaders->GetFileHeaders(i).Header;
            FillFromHeader(FStats, stored);
            TStreamReader reader(*this, stored, source, sourcePath, FHeaders->MultiVolume());
            h.FirstVolume = static_cast<uint8_t>(FCurrentVolume);
            h.DataStart = static_cast<int32_t>(target.Position());
            for (;;) {
                CheckAbort();
                int64_t n = reader.Read(chunk.data(), kCopyChunk);
                if (n == 0) break;
                ApplicationProcessMessages();
                writeChunk(chunk.data(), n);
                ProgressStep(n, FStats.Compressed, FStats.TotalCompressed);
            }
            h.LastDataByte = static_cast<int32_t>(target.Position() - 1);
            h.LastVolume = static_cast<uint8_t>(FCurrentVolume);
        }
        target.Close();
        OpenVolume(target, 1, true, targetPath, true);
        volumes.WriteHeaders(target);
    });
}

// ---- Plain copies

void TFrnmCompress::CopyFile(const std::string& Source, const std::string& Dest) {
    FAbort = false;
    FOffset = 0;
    FSkipFile = false;
    FExtractDirectory = ExtractFileDir(Dest);
    FExtractName = ExtractFileName(Dest);
    std::string target = Dest;
    bool write = !WinFileExists(Dest) || DecideOverwrite(target, [&] {
        return TVersionResource::IsFileNewerByName(Source, Dest, FOverwrite);
    });
    if (!write || FSkipFile) return;
    FStats = TlzhFileStats {};
    FStats.FileName = Source;
    TWinFileStream source;
    if (!source.Open(Source, platform::FileAccess::Read, platform::FileShare::DenyNone,
                     platform::FileCreate::OpenExisting))
        throw EFrnmCompress(Format("Cannot open the file %s", {Source}));
    FStats.Size = source.Size();
    TDateTime date = 0;
    WinGetLastWriteTime(Source, date);
    WriteTarget(target, date, [&](TStream& out) {
        std::vector<uint8_t> block(kCopyChunk);
        int64_t copied = 0;
        for (;;) {
            // An abort ends the copy quietly; the target stays as it was.
            if (FAbort) return false;
            int64_t n = source.Read(block.data(), kCopyChunk);
            int64_t written = out.Write(block.data(), n);
            if (written < n) DoFullDisk();
            copied += written;
            FStats.BytesDone += n;
            FStats.TotalBytesDone += n;
            FStats.Percent = FStats.TotalPercent = PercentOf(FStats.BytesDone, FStats.Size);
            Status();
            ApplicationProcessMessages();
            if (n < kCopyChunk) break;
        }
        // A full disk whose handler returned lost bytes: the copy is not the file.
        if (copied != FStats.BytesDone) throw EfcDiskFull("The disk is full");
        FStats.Done = true;
        Status();
        return true;
    });
}

TFrnmCompress& GlobalArchiveComponent() {
    static TFrnmCompress* component = new TFrnmCompress(nullptr);
    return *component;
}

}  // namespace ostra
