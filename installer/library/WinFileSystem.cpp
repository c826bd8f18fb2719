// Windows-form paths mapped onto the host's file system.
#include "installer/library/WinFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>

#include "host/AnsiCodec.h"
#include "installer/library/MachineRestart.h"
#include "installer/library/WinMachine.h"
#include "platform/AnsiCase.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Machine.h"
#include "platform/Random.h"

namespace ostra {

using platform::SetLastError;

namespace {

bool Fail(int code) {
    SetLastError(code);
    return false;
}

// A Windows-form path made absolute: its drive letter (upper case) and its names.
struct WinPath {
    char Drive = 'C';
    std::vector<std::string> Names;
};

std::string Joined(const WinPath& p) {
    std::string text = std::string(1, p.Drive) + ":\\";
    for (size_t i = 0; i < p.Names.size(); ++i) text += (i ? "\\" : "") + p.Names[i];
    return text;
}

char UpperDrive(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDriveLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Adds the names of text to p, resolving "." and "..".
void AddNames(WinPath& p, const std::string& text) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (!p.Names.empty()) p.Names.pop_back();
            continue;
        }
        size_t keep = name.find_last_not_of(". ");
        if (keep != std::string::npos) name.erase(keep + 1);
        p.Names.push_back(name);
    }
}

bool ParseCurrent(WinPath& p);

// The absolute form of a Windows-form path; false for a form that is not supported.
bool Parse(std::string path, WinPath& p) {
    std::replace(path.begin(), path.end(), '/', '\\');
    if (path.rfind("\\\\", 0) == 0) return false;
    p = WinPath();
    if (path.size() >= 2 && path[1] == ':' && IsDriveLetter(path[0])) {
        char drive = UpperDrive(path[0]);
        std::string rest = path.substr(2);
        if (rest.empty() || rest[0] != '\\') {
            // Relative to the current directory when it is on that drive.
            WinPath current;
            if (ParseCurrent(current) && current.Drive == drive) p = current;
        }
        p.Drive = drive;
        AddNames(p, rest);
        return true;
    }
    WinPath current;
    if (!ParseCurrent(current)) return false;
    if (!path.empty() && path[0] == '\\') {
        p.Drive = current.Drive;
    } else {
        p = current;
    }
    AddNames(p, path);
    return true;
}

std::string NativeCurrentDir() {
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    return ec ? "/" : cwd;
}

bool ParseCurrent(WinPath& p) {
    std::string win = NativeToWin(NativeCurrentDir());
    p = WinPath();
    p.Drive = UpperDrive(win[0]);
    AddNames(p, win.substr(2));
    return true;
}

// ---- Short names

bool ValidShortChar(unsigned char c) {
    if (c >= 0x80) return true;
    if (c <= ' ') return false;
    return std::string("\"*+,/:;<=>?[\\]|.").find(static_cast<char>(c)) == std::string::npos;
}

bool IsShortName(const std::string& name) {
    if (name == "." || name == "..") return true;
    size_t dot = name.find('.');
    std::string base = name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 || (dot != std::string::npos && ext.empty())) return false;
    for (unsigned char c : base + ext)
        if (!ValidShortChar(c)) return false;
    return true;
}

std::string ShortChars(const std::string& text, size_t limit) {
    std::string out;
    for (char c : text) {
        if (out.size() >= limit) break;
        if (ValidShortChar(static_cast<unsigned char>(c))) out += platform::AnsiFoldChar(c);
    }
    return out;
}

// ---- Name lookup in a native folder

std::vector<std::string> NativeEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool NativeExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The native name in folder that the Windows name stands for.
std::string LookUp(const std::string& folder, const std::string& name) {
    std::string native = AnsiToUtf8(name);
    if (NativeExists(folder + "/" + native)) return native;
    std::vector<std::string> entries = NativeEntries(folder);
    std::string folded = platform::AnsiFoldName(name);
    for (const std::string& e : entries)
        if (platform::AnsiFoldName(Utf8ToAnsi(e)) == folded) return e;
    for (const std::string& e : entries)
        if (platform::AnsiFoldName(WinShortName(Utf8ToAnsi(e))) == folded) return e;
    return native;
}

std::string DriveRoot(char drive) {
    std::string root = platform::DriveFolder(drive);
    if (root != "/") EnsureMachinePrepared();
    return root;
}

std::string NativeOf(const WinPath& p) {
    std::string native = DriveRoot(p.Drive);
    for (const std::string& name : p.Names) {
        std::string found = LookUp(native, name);
        native = native == "/" ? "/" + found : native + "/" + found;
    }
    return native;
}

bool Stat(const std::string& path, struct stat& st) {
    std::string native = WinToNative(path);
    if (native.empty()) return false;
    if (stat(native.c_str(), &st) != 0) return Fail(errno);
    return true;
}

}  // namespace

std::string WinToNative(const std::string& path) {
    WinPath p;
    if (!Parse(path, p)) {
        Fail(EINVAL);
        return "";
    }
    return NativeOf(p);
}

std::string NativeToWin(const std::string& nativePath) {
    std::string machine = platform::MachineRoot() + "/drive_";
    std::string rest;
    char drive = 'Z';
    if (nativePath.rfind(machine, 0) == 0 && nativePath.size() > machine.size() && nativePath[machine.size()] >= 'a' &&
        nativePath[machine.size()] <= 'y' &&
        (nativePath.size() == machine.size() + 1 || nativePath[machine.size() + 1] == '/')) {
        drive = UpperDrive(nativePath[machine.size()]);
        rest = nativePath.substr(machine.size() + 1);
    } else {
        rest = nativePath;
    }
    std::string win = std::string(1, drive) + ":\\";
    for (char c : Utf8ToAnsi(rest)) {
        char w = c == '/' ? '\\' : c;
        if (w == '\\' && (win.back() == '\\')) continue;
        win += w;
    }
    if (win.size() > 3 && win.back() == '\\') win.pop_back();
    return win;
}

std::string WinExpandFileName(const std::string& path) {
    WinPath p;
    return Parse(path, p) ? Joined(p) : "";
}

std::string WinShortName(const std::string& name) {
    if (IsShortName(name)) return name;
    size_t dot = name.find_last_of('.');
    std::string base = name.substr(0, dot == 0 ? std::string::npos : dot);
    std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
    // FNV-1a over the upper-cased name, folded to 16 bits.
    uint32_t hash = 2166136261u;
    for (char c : platform::AnsiFoldName(name)) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    hash = (hash ^ (hash >> 16)) & 0xFFFF;
    std::string shortName = ShortChars(base, 2);
    for (int shift = 12; shift >= 0; shift -= 4) shortName += "0123456789ABCDEF"[(hash >> shift) & 15];
    shortName += "~1";
    std::string shortExt = ShortChars(ext, 3);
    if (!shortExt.empty()) shortName += "." + shortExt;
    return shortName;
}

bool WinGetShortPathName(const std::string& path, std::string& shortPath) {
    shortPath.clear();
    WinPath p;
    if (!Parse(path, p)) return Fail(EINVAL);
    std::string native = DriveRoot(p.Drive);
    std::string result = std::string(1, p.Drive) + ":";
    for (const std::string& name : p.Names) {
        std::string found = LookUp(native, name);
        native = native == "/" ? "/" + found : native + "/" + found;
        if (!NativeExists(native)) return Fail(ENOENT);
        result += "\\" + WinShortName(Utf8ToAnsi(found));
    }
    if (p.Names.empty()) result += "\\";
    shortPath = result;
    return true;
}

bool WinFileExists(const std::string& path) {
    struct stat st {};
    return Stat(path, st) && !S_ISDIR(st.st_mode);
}

bool WinDirectoryExists(const std::string& path) {
    struct stat st {};
    return Stat(path, st) && S_ISDIR(st.st_mode);
}

bool WinDeleteFile(const std::string& path) {
    std::string native = WinToNative(path);
    return !native.empty() && platform::DeleteFile(native);
}

bool WinRemoveDir(const std::string& path) {
    std::string native = WinToNative(path);
    if (native.empty()) return false;
    return rmdir(native.c_str()) == 0 || Fail(errno);
}

bool WinCreateDir(const std::string& path) {
    std::string native = WinToNative(path);
    if (native.empty()) return false;
    return mkdir(native.c_str(), 0755) == 0 || Fail(errno);
}

bool WinForceDirectories(const std::string& path) {
    WinPath p;
    if (!Parse(path, p)) return Fail(EINVAL);
    WinPath step;
    step.Drive = p.Drive;
    for (const std::string& name : p.Names) {
        step.Names.push_back(name);
        std::string native = NativeOf(step);
        struct stat st {};
        if (stat(native.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return Fail(ENOTDIR);
            continue;
        }
        if (mkdir(native.c_str(), 0755) != 0 && errno != EEXIST) return Fail(errno);
    }
    return true;
}

bool WinCopyFile(const std::string& source, const std::string& dest, bool failIfExists) {
    std::string from = WinToNative(source), to = WinToNative(dest);
    return !from.empty() && !to.empty() && platform::CopyFile(from, to, failIfExists);
}

std::vector<std::string> WinFolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::string native = WinToNative(folder);
    if (native.empty()) return names;
    for (const std::string& e : NativeEntries(native)) names.push_back(Utf8ToAnsi(e));
    return names;
}

bool WinMoveFileEx(const std::string& source, const std::string& dest, uint32_t flags) {
    if (flags & WinMoveDelayUntilReboot) {
        if (!PendingOperationsSupported()) return Fail(ErrorCallNotImplemented);
        return AddPendingOperation(WinExpandFileName(source), dest.empty() ? "" : WinExpandFileName(dest),
                                   (flags & WinMoveReplaceExisting) != 0);
    }
    std::string from = WinToNative(source), to = WinToNative(dest);
    if (from.empty() || to.empty()) return false;
    if (!NativeExists(from)) return Fail(ENOENT);
    if ((flags & WinMoveReplaceExisting) && NativeExists(to) && from != to && !platform::DeleteFile(to)) return false;
    if (platform::RenameFile(from, to)) return true;
    if (platform::GetLastError() != EXDEV || !(flags & WinMoveCopyAllowed)) return false;
    if (!platform::CopyFile(from, to, true)) return false;
    if (platform::DeleteFile(from)) return true;
    int error = platform::GetLastError();
    platform::DeleteFile(to);
    return Fail(error);
}

uint32_t WinGetFileAttributes(const std::string& path) {
    struct stat st {};
    if (!Stat(path, st)) return WinInvalidAttributes;
    if (S_ISDIR(st.st_mode)) return WinAttrDirectory;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ? WinAttrReadOnly : WinAttrNormal;
}

bool WinSetFileAttributes(const std::string& path, uint32_t attributes) {
    std::string native = WinToNative(path);
    if (native.empty()) return false;
    struct stat st {};
    if (stat(native.c_str(), &st) != 0) return Fail(errno);
    if (S_ISDIR(st.st_mode)) return true;
    return platform::FileSetReadOnly(native, (attributes & WinAttrReadOnly) != 0);
}

bool WinGetLastWriteTime(const std::string& path, TDateTime& time) {
    struct stat st {};
    if (!Stat(path, st)) return false;
    std::tm local {};
    time_t seconds = st.st_mtim.tv_sec;
    localtime_r(&seconds, &local);
    TDateTime days = static_cast<double>(seconds + local.tm_gmtoff) / SecsPerDay + 25569.0;
    time = days + static_cast<double>(st.st_mtim.tv_nsec / 1000000) / MSecsPerDay;
    return true;
}

bool WinSetLastWriteTime(const std::string& path, TDateTime time) {
    std::string native = WinToNative(path);
    if (native.empty()) return false;
    int year, month, day, hour, minute, second, msec;
    DecodeDateTime(time, year, month, day, hour, minute, second, msec);
    std::tm local {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    time_t seconds = mktime(&local);
    if (seconds == static_cast<time_t>(-1)) return Fail(EINVAL);
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = seconds;
    times[1].tv_nsec = static_cast<long>(msec) * 1000000;
    return utimensat(AT_FDCWD, native.c_str(), times, 0) == 0 || Fail(errno);
}

std::string WinGetCurrentDir() { return NativeToWin(NativeCurrentDir()); }

bool WinSetCurrentDir(const std::string& path) {
    std::string native = WinToNative(path);
    if (native.empty()) return false;
    return chdir(native.c_str()) == 0 || Fail(errno);
}

bool WinGetTempFileName(const std::string& folder, const std::string& prefix, std::string& path) {
    std::string start = folder;
    if (!start.empty() && start.back() != '\\') start += '\\';
    start += prefix.substr(0, 3);
    uint32_t first = static_cast<uint32_t>(platform::Random(0x10000));
    for (uint32_t i = 0; i < 0x10000; ++i) {
        uint32_t unique = (first + i) & 0xFFFF;
        if (unique == 0) continue;
        char hex[8];
        snprintf(hex, sizeof hex, "%X", unique);
        std::string candidate = start + hex + ".tmp";
        std::string native = WinToNative(candidate);
        if (native.empty()) return false;
        platform::File file;
        if (file.Open(native, platform::FileAccess::Write, platform::FileShare::DenyNone, platform::FileCreate::CreateNew)) {
            path = WinExpandFileName(candidate);
            return true;
        }
        if (platform::GetLastError() != EEXIST) return false;
    }
    return Fail(EEXIST);
}

}  // namespace ostra
