// The install component's build of its own distribution ("-b"): "setup.1" with the setup program
// and its extra files, "files.1" with the project's files, "setup.exe" from the loading program
// with both archives and the trailer appended (SelfExtract.h), and "filelist.lst" for the network
// distributions; the reading of the archive information with the remote file list; and the copy
// of a self-extracting setup onto floppy disks ("-f").
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "host/SysUtils.h"
#include "host/UIServices.h"
#include "installer/library/FernmoorInfo.h"
#include "installer/library/SelfExtract.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileStream.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TInstall.h"
#include "installer/library/cmp_TInstallFile.h"
#include "installer/library/cmp_TNetInstallLocation.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {

constexpr int64_t CopyChunk = 8192;

// Appends the whole of `source` to `target` at its position; false when fewer bytes arrived.
bool AppendFile(TWinFileStream& target, const std::string& source) {
    TWinFileStream in;
    if (!in.Open(source, platform::FileAccess::Read, platform::FileShare::DenyWrite, platform::FileCreate::OpenExisting))
        return false;
    const int64_t size = in.Size();
    std::vector<char> buffer(CopyChunk);
    int64_t copied = 0;
    while (copied < size) {
        const int64_t n = in.Read(buffer.data(), std::min<int64_t>(CopyChunk, size - copied));
        if (n <= 0 || target.Write(buffer.data(), n) != n) return false;
        copied += n;
    }
    return true;
}

void PutInt32(TStream& stream, int32_t value) {
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF);
    stream.WriteBuffer(bytes, 4);
}

}  // namespace

void TCustomInstall::BuildFromBuildInf() {
    try {
        const std::string program = SetupProgramPath();
        const std::string inf = ExtractFilePath(program) + "BUILD.INF";
        if (!WinFileExists(inf))
            throw IEInstall(
                "Need to have a BUILD.INF file in this directory with the first line specifying the build directory");
        TStringList lines;
        LoadWinTextFile(inf, lines);
        if (lines.Count() == 0 || Trim(lines.Strings(0)).empty())
            throw IEInstall("Must be 1 line in BUILD.INF. This line should specify the build directory");
        Build(program, Trim(lines.Strings(0)), true);
    } catch (const std::exception& error) {
        MessageDlg(error.what(), mtCustom, {mbOK});
    }
    ApplicationTerminate();
}

void TCustomInstall::Build(const std::string& programPath, const std::string& folder, bool standAlone) {
    if (standAlone && !FUseLoadingProgram)
        throw IEInstall(
            "Cannot build a stand alone executable if the UseLoadingProgram property of the TInstall is set to False");
    const std::string F = AddBackslash(folder);
    const std::string setupExe = F + "setup.exe";
    if (FUseLoadingProgram) {
        WinForceDirectories(RemoveBackslash(F));
        try {
            CreateSetupFile(F, programPath);
        } catch (const EfcDiskFull&) {
            throw IEInstall(
                "The disk that you have specified has been determined to be either too full or is corrupt while trying "
                "to copy the SETUP.1 archive file. You should probably clear all files off of the drive. Minimally, you "
                "should leave enough space on the drive for the SETUP.1 archive file.");
        }
        const std::string library = FernmoorInfo::GetLibraryFolder(false);
        if (Trim(library).empty())
            throw IEInstall(
                "The HKEY_LOCAL_MACHINE | %s key in the registry is either missing or points to an invalid Tegu directory",
                {"\\Software\\Brix\\F32V52"});
        const std::string loader = AddBackslash(library) + "FernmoorLoadProgram.exe";
        if (!WinFileExists(loader)) throw IEInstall("The loader program %s was not found", {loader});
        if (!WinCopyFile(loader, setupExe, false))
            throw IEInstall("Cannot copy the loading program from %s to %s", {loader, setupExe});
    } else {
        std::string file = programPath;
        if (OnBeforeCopyApplication) OnBeforeCopyApplication(this, file);
        WinForceDirectories(RemoveBackslash(F));
        const std::string dest = F + ExtractFileName(file);
        if (!WinCopyFile(file, dest, false))
            throw IEInstall("Cannot copy the installation application from %s to %s", {file, dest});
        if (OnAfterCopyApplication) OnAfterCopyApplication(this);
    }

    if (OnBeforeCompress) OnBeforeCompress(this);
    {
        TCustomPathSpecifier* savedType = ArchiveFileType();
        const std::string savedFile = ArchiveFile();
        auto restore = [&] {
            SetArchiveFileType(savedType);
            SetArchiveFile(savedFile);
        };
        try {
            SetArchiveFileType(nullptr);
            SetArchiveFile(F + "files.1");
            const uint8_t options = FDistributeType == dtWeb ? 54 : FDistributeType == dtTraditionalNet ? 38 : 46;
            Compress(options);
            if (FDistributeType != dtTraditional) WriteFileList();
        } catch (...) {
            restore();
            throw;
        }
        restore();
    }
    if (OnAfterCompress) OnAfterCompress(this);

    // The trailer goes only onto the loading program's copy; a build without it has no setup.exe.
    if (!FUseLoadingProgram) return;
    TWinFileStream exe;
    if (!exe.Open(setupExe, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                  platform::FileCreate::OpenExisting))
        throw IEInstall("Cannot add the self-extract info header to %s", {setupExe});
    exe.Seek(0, soFromEnd);
    if (!standAlone) {
        const std::string trailer = EncodeSelfExtractTrailer(false, {});
        if (exe.Write(trailer.data(), SelfExtractTrailerSize) != SelfExtractTrailerSize)
            throw IEInstall("Cannot add the self-extract info header to %s", {setupExe});
        return;
    }
    if (OnBeforeSelfExtractFile) OnBeforeSelfExtractFile(this);
    TSelfExtractInfo info;
    auto append = [&](const std::string& archive, int32_t& first, int32_t& last) {
        const int64_t start = exe.Seek(0, soFromEnd);
        if (!AppendFile(exe, archive) || exe.Seek(0, soFromEnd) - 1 > INT32_MAX)
            throw IEInstall("Cannot create the self-extracting exe because %s could not be loaded onto %s",
                            {archive, setupExe});
        first = static_cast<int32_t>(start);
        last = static_cast<int32_t>(exe.Seek(0, soFromEnd) - 1);
    };
    append(F + "setup.1", info.SetupStart, info.SetupEnd);
    if (WinFileExists(F + "files.1")) append(F + "files.1", info.FilesStart, info.FilesEnd);
    const std::string trailer = EncodeSelfExtractTrailer(true, info);
    if (exe.Write(trailer.data(), SelfExtractTrailerSize) != SelfExtractTrailerSize)
        throw IEInstall("Cannot add the self-extract info header to %s", {setupExe});
    exe.Close();
    if (OnAfterSelfExtractFile) OnAfterSelfExtractFile(this);
}

void TCustomInstall::CreateSetupFile(const std::string& folder, const std::string& programPath) {
    if (Trim(programPath).empty()) throw IEInstall("Cannot create setup file. Executable is blank");
    if (OnBeforeCreateSetupFile) OnBeforeCreateSetupFile(this);
    if (!WinFileExists(programPath)) throw IEInstall("TInstall: Cannot find the executable file %s", {programPath});
    const std::string setup1 = AddBackslash(folder) + "setup.1";
    auto add = [&](const std::string& path, TlzhCommand command, bool first) {
        auto file = std::make_unique<TInstallFile>(nullptr);
        file->SetIncludeFromDir(RemoveBackslash(ExtractFileDir(path)));
        file->SetFileName(ExtractFileName(path));
        file->SetAddToArchive(command);
        file->SetArchiveFileType(nullptr);
        file->SetArchiveFile(setup1);
        if (!first) file->SetNet(false);
        file->Compress();
    };
    add(programPath, lzcOverwrite, true);
    for (int i = 0; i < FPresetupFiles->Count(); ++i) add(FPresetupFiles->Strings(i), lzcOnlyAdd, false);
    if (OnAfterCreateSetupFile) OnAfterCreateSetupFile(this);
}

void TCustomInstall::Compress(uint8_t options) {
    for (TCustomInstallFile* file : InstallFiles()) file->ResetCompressState();
    TFileContainer::Compress(options);
}

void TCustomInstall::WriteFileList() {
    const std::string folder = AddBackslash(ExtractFileDir(GetFullArchiveFile())) + NetFolderName();
    WinForceDirectories(folder);
    const std::string path = AddBackslash(folder) + "filelist.lst";
    std::vector<TCustomInstallFile*> listed;
    for (TCustomInstallFile* file : InstallFiles())
        if (file->CompressState() == 1 || file->CompressState() == 2) listed.push_back(file);
    TWinFileStream out;
    if (!out.Open(path, platform::FileAccess::Write, platform::FileShare::Exclusive, platform::FileCreate::CreateAlways))
        throw IEInstall("Cannot create the remote list of files: %s", {path});
    PutInt32(out, static_cast<int32_t>(listed.size()));
    for (TCustomInstallFile* file : listed) WriteFileListRecord(*file, out);
}

void TCustomInstall::ReadInfoFromArchive() {
    if (FArchiveInfoRead) return;
    if (OnBeforeReadArchiveInfo) OnBeforeReadArchiveInfo(this);
    SendDialogCode(this, this, dcBeforeReadArchiveInfo, nullptr);
    ShowStatusText("Reading file information...");
    try {
        TFileContainer::ReadInfoFromArchive();
        if (FDistributeType != dtTraditional) ReadRemoteFileList();
    } catch (...) {
        HideStatusText();
        throw;
    }
    HideStatusText();
    FArchiveInfoRead = true;
    if (OnAfterReadArchiveInfo) OnAfterReadArchiveInfo(this);
    SendDialogCode(this, this, dcAfterReadArchiveInfo, nullptr);
}

void TCustomInstall::ReadRemoteFileList() {
    TCustomNetInstallLocation* location = FindNetLocation();
    if (!location) throw IEFileRel_NoNetLocation("No net location was found for %s", {Name()});
    const std::string local = GetTempFilePath(false);
    auto removeLocal = [&] { WinDeleteFile(local); };
    try {
        location->Download("filelist.lst", local);
        TWinFileStream in;
        auto shortRead = [&] { return IEInstall("Cannot read the remote list of files: %s", {local}); };
        if (!in.Open(local, platform::FileAccess::Read, platform::FileShare::DenyWrite, platform::FileCreate::OpenExisting))
            throw shortRead();
        uint8_t countBytes[4];
        if (in.Read(countBytes, 4) != 4) throw shortRead();
        const int32_t count = static_cast<int32_t>(countBytes[0] | countBytes[1] << 8 | countBytes[2] << 16 |
                                                   static_cast<uint32_t>(countBytes[3]) << 24);
        if (count < 0) throw shortRead();
        for (int32_t i = 0; i < count; ++i) {
            uint8_t record[80];
            if (in.Read(record, 80) != 80) throw shortRead();
            const int32_t size = static_cast<int32_t>(record[0] | record[1] << 8 | record[2] << 16 |
                                                      static_cast<uint32_t>(record[3]) << 24);
            double date = 0;
            std::memcpy(&date, record + 8, 8);
            const std::string name(reinterpret_cast<const char*>(record + 16), strnlen(reinterpret_cast<const char*>(record + 16), 40));
            const std::string version(reinterpret_cast<const char*>(record + 56), strnlen(reinterpret_cast<const char*>(record + 56), 20));
            for (TCustomInstallFile* file : InstallFiles())
                if (SameText(file->Name(), name)) {
                    file->SetSourceInfo(size, date, version);
                    break;
                }
        }
    } catch (...) {
        removeLocal();
        throw;
    }
    removeLocal();
}

void TCustomInstall::TransferToFloppies(const std::string& drive) {
    try {
        if (!FCommandLine.Has(ioSelfExtract))
            throw IEInstall(
                "Sorry... You can only transfer this installation to floppies through the self-extracting file. Usage "
                "example: setup.exe *TODISK");
        const std::string source = GetFullArchiveFile();
        const TSelfExtractInfo info = ReadSelfExtractTrailer(source);
        ShowStatusText("Transferring this installation to floppies. Please wait...");
        struct HideStatus {
            TCustomInstall* Install;
            ~HideStatus() { Install->HideStatusText(); }
        } hide{this};
        const std::string target = AddBackslash(drive);
        TWinFileStream in;
        if (!in.Open(source, platform::FileAccess::Read, platform::FileShare::DenyNone, platform::FileCreate::OpenExisting))
            throw IEInstall("Could not read the extraction info from the archive file %s when trying to find the correct "
                            "offset into the self extracting file",
                            {source});
        // Copies the bytes [from, to) of the setup into a new file on the disk in chunks, then `tail`.
        auto copyRange = [&](const std::string& name, int64_t from, int64_t to, const char* failure,
                             const std::string& tail) {
            TWinFileStream out;
            if (!out.Open(target + name, platform::FileAccess::Write, platform::FileShare::Exclusive,
                          platform::FileCreate::CreateAlways))
                throw IEInstall(failure);
            std::vector<char> buffer(CopyChunk);
            in.Seek(from, soFromBeginning);
            for (int64_t at = from; at < to;) {
                const int64_t n = std::min<int64_t>(CopyChunk, to - at);
                if (in.Read(buffer.data(), n) != n || out.Write(buffer.data(), n) != n) throw IEInstall(failure);
                at += n;
                ApplicationProcessMessages();
            }
            if (!tail.empty() && out.Write(tail.data(), static_cast<int64_t>(tail.size())) != static_cast<int64_t>(tail.size()))
                throw IEInstall(failure);
        };
        copyRange("setup.exe", 0, info.SetupStart, "Cannot create setup.exe on the A drive. Probably not enough room",
                  EncodeSelfExtractTrailer(false, {}));
        copyRange("setup.1", info.SetupStart, int64_t(info.SetupEnd) + 1,
                  "Cannot create setup.1 on the A drive. Probably not enough room", "");
        in.Close();

        TFrnmCompress& archive = GlobalArchiveComponent();
        struct Detach {
            TFrnmCompress& Archive;
            ~Detach() {
                Archive.OnNewDisk = nullptr;
                Archive.OnStatus = nullptr;
            }
        } detach{archive};
        archive.OnNewDisk = [&](TFrnmCompress*, int disk, std::string& path) {
            if (MessageDlg(Format("Please insert disk %d", {disk}), mtConfirmation, {mbOK, mbCancel}) != mrOk)
                throw IEInstall("Aborted by user");
            path = target;
        };
        archive.OnStatus = [this](TFrnmCompress*, const TlzhFileStats& stats) {
            if (OnTransferStatus) OnTransferStatus(this, stats);
            ApplicationProcessMessages();
        };
        if (info.FilesStart != 0) {
            archive.SetCompressedFile(source);
            archive.SetOffset(info.FilesStart);
            archive.CopyToVolumes(target, "files.1");
        }
    } catch (const std::exception& error) {
        MessageDlg(error.what(), mtCustom, {mbOK});
    }
    ApplicationTerminate();
}

}  // namespace ostra
