// The self-extract trailer and the loading program's unpacking (see the header).
#include "installer/library/SelfExtract.h"

#include <sys/stat.h>

#include <cstring>
#include <random>
#include <vector>

#include "host/StringList.h"
#include "host/SysUtils.h"
#include "installer/library/InstallRoot.h"
#include "installer/library/WinFileNames.h"
#include "installer/library/WinFileStream.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/WinMachine.h"
#include "installer/library/cmp_TFrnmCompress.h"
#include "installer/library/routines_ExpandPaths.h"
#include "installer/library/routines_Strings.h"
#include "platform/Process.h"

namespace ostra {

namespace {

void PutInt32(std::string& bytes, size_t at, int32_t value) {
    auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

int32_t GetInt32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
    return static_cast<int32_t>(v);
}

[[noreturn]] void Unreadable(const std::string& path) {
    throw IEInstall(
        "Could not read the extraction info from the archive file %s when trying to find the correct offset into "
        "the self extracting file",
        {path});
}

}  // namespace

std::string EncodeSelfExtractTrailer(bool selfExtracting, const TSelfExtractInfo& info) {
    std::string bytes(SelfExtractTrailerSize, '\0');
    const char* marker = selfExtracting ? SelfExtractMarker : NotSelfExtractMarker;
    bytes[0] = static_cast<char>(std::strlen(marker));
    std::memcpy(&bytes[1], marker, std::strlen(marker));
    if (selfExtracting) {
        PutInt32(bytes, 16, info.SetupStart);
        PutInt32(bytes, 20, info.SetupEnd);
        PutInt32(bytes, 24, info.FilesStart);
        PutInt32(bytes, 28, info.FilesEnd);
    }
    return bytes;
}

TSelfExtractInfo ReadSelfExtractTrailer(const std::string& path) {
    TWinFileStream file;
    if (!file.Open(path, platform::FileAccess::Read, platform::FileShare::DenyNone, platform::FileCreate::OpenExisting))
        Unreadable(path);
    int64_t size = file.Size();
    if (size < SelfExtractTrailerSize) Unreadable(path);
    std::string bytes(SelfExtractTrailerSize, '\0');
    file.Seek(size - SelfExtractTrailerSize, soFromBeginning);
    if (file.Read(bytes.data(), SelfExtractTrailerSize) != SelfExtractTrailerSize) Unreadable(path);

    TSelfExtractInfo info{GetInt32(bytes, 16), GetInt32(bytes, 20), GetInt32(bytes, 24), GetInt32(bytes, 28)};
    // Everything the offsets name must lie before the trailer, setup.1 before files.1.
    const int64_t payloadEnd = size - SelfExtractTrailerSize;
    const bool marked = bytes.compare(0, 15, std::string(1, '\x0E') + SelfExtractMarker) == 0;
    const bool setupFits = info.SetupStart >= 0 && info.SetupStart <= info.SetupEnd && info.SetupEnd < payloadEnd;
    const bool noFiles = info.FilesStart == 0 && info.FilesEnd == 0;
    const bool filesFit = info.FilesStart > info.SetupEnd && info.FilesStart <= info.FilesEnd && info.FilesEnd < payloadEnd;
    if (!marked || !setupFits || !(noFiles || filesFit))
        throw IEInstall("The extraction info at the end of %s is not valid: the file is not a complete self extracting setup",
                        {path});
    return info;
}

std::string UnpackSelfExtractingSetup(const std::string& setupExe, std::string& folder) {
    const TSelfExtractInfo info = ReadSelfExtractTrailer(setupExe);
    const std::string temp = RemoveBackslash(WinTempDir());
    WinForceDirectories(temp);
    folder.clear();
    std::random_device random;
    for (int attempt = 0; attempt < 100 && folder.empty(); ++attempt) {
        char name[16];
        std::snprintf(name, sizeof name, "FRN%05X", static_cast<unsigned>(random() & 0xFFFFF));
        std::string candidate = JoinPath(temp, name);
        if (!WinFileExists(candidate) && !WinDirectoryExists(candidate) && WinCreateDir(candidate)) folder = candidate;
    }
    if (folder.empty()) throw IEInstall("Cannot create a temporary folder for the setup program");

    std::vector<std::string> names;
    try {
        TFrnmCompress archive(nullptr);
        archive.SetCompressedFile(setupExe);
        archive.SetOffset(info.SetupStart);
        archive.LoadHeaders();
        TStringList sources;
        for (int i = 0; i < archive.GetFileCount(); ++i) {
            const std::string source = archive.GetFileStats(i).Header.SourcePath;
            sources.Add(source);
            names.push_back(ExtractFileName(source));
        }
        if (names.empty()) throw IEInstall("The self extracting file %s holds no setup program", {setupExe});
        archive.SetFilesToProcess(sources);
        archive.SetExtractDirectory(folder);
        archive.Extract();
        std::string list;
        for (const std::string& name : names) list += name + "\r\n";
        TWinFileStream out;
        const std::string listPath = JoinPath(folder, LoaderListFileName);
        if (!out.Open(listPath, platform::FileAccess::Write, platform::FileShare::Exclusive,
                      platform::FileCreate::CreateAlways) ||
            out.Write(list.data(), static_cast<int64_t>(list.size())) != static_cast<int64_t>(list.size()))
            throw IEInstall("Cannot write %s", {listPath});
    } catch (...) {
        for (const std::string& entry : WinFolderEntries(folder)) WinDeleteFile(JoinPath(folder, entry));
        WinRemoveDir(folder);
        throw;
    }
    // The archive keeps no permission bits: the setup program must be runnable where it lies.
    const std::string program = JoinPath(folder, names.front());
    const std::string native = WinToNative(program);
    struct stat st {};
    if (stat(native.c_str(), &st) == 0) chmod(native.c_str(), (st.st_mode & 07777) | S_IXUSR | S_IXGRP | S_IXOTH);
    return program;
}

std::string LoaderSetupParameters(const std::string& setupExe, const std::vector<std::string>& loaderArguments) {
    std::string parameters = "\"-s" + RemoveBackslash(ExtractFileDir(setupExe)) + "\" \"-e" + ExtractFileName(setupExe) + "\" -c";
    for (const std::string& argument : loaderArguments) {
        if (SameText(argument, "*TODISK")) parameters += " -f";
        parameters += " " + platform::QuoteCommandLineArgument(argument);
    }
    return parameters;
}

}  // namespace ostra
