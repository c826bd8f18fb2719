// Windows-form paths on the host: the one place where the installer's paths
// ("C:\Program Files\Ostra\orq14rd6.bpl") meet the host's file system. The installer library, the
// setup program and the uninstaller keep every path in its Windows form, so the texts they write
// (registry values, the uninstall record, batch lines, "WININIT.INI") stay as the Windows programs
// wrote them, and map a path to a native one only here, when they touch a file.
//
// Mapping a Windows-form path (Windows-1252 text) to a native one (UTF-8):
//   - "/" counts as "\". "X:\a" is absolute on drive X, "\a" absolute on the current drive, "X:a"
//     relative to the current directory when that is on drive X (else to X's root), "a" relative to
//     the current directory. "." and ".." are resolved as names (never above the root); names lose
//     trailing dots and blanks, as Windows drops them. "\\server\share" paths are not supported.
//   - Drive letters name the machine's drive folders (platform/Machine.h): A: to Y: are the
//     folders drive_a ... drive_y of the machine folder, Z: is the host's root "/".
//   - Each name is looked up in its folder: the name itself, else a name that differs from it only
//     in case (Windows-1252 letters), else a name whose short form it is. A name that matches
//     nothing (a file about to be created) keeps its spelling.
// The current directory is the process's own (so that started programs inherit it), shown in
// Windows form: below a drive folder of the machine on that drive, anywhere else on Z:.
//
// Short (8.3) names. A name of 1 to 8 characters, optionally followed by a dot and 1 to 3
// characters, none of them a blank, a second dot or one of " * + , / : ; < = > ? [ \ ] |, is its
// own short name. Any other name has the short name made of its first two characters that are
// valid in short names (upper-cased), four hexadecimal digits of a hash of its upper-cased name,
// "~1", and, when it has an extension, a dot and the extension's first three valid characters
// (upper-cased): "Program Files" is "PR" + hash + "~1". The short name depends on the long name
// alone, so it stays the same for as long as the file keeps its name, and a short path written
// before a restart still names the file after it.
//
// Files in use: deleting, replacing or renaming a file fails (ErrorSharingViolation) while a
// handle of platform/File.h has it open, in this process or another; a file with the read-only
// attribute cannot be deleted (EACCES).
//
// Errors: calls that can fail return false (or an empty text) and leave the reason in the
// platform's last error (platform/LastError.h).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/DateTime.h"

namespace ostra {

// The native path of a Windows-form path; "" (last error EINVAL) for a path that has no native
// form.
std::string WinToNative(const std::string& path);
// The Windows form of a native absolute path.
std::string NativeToWin(const std::string& nativePath);
// The full Windows form of a path: drive, root and names, with "." and ".." resolved and the
// relative parts completed from the current directory (the case of the names is kept).
std::string WinExpandFileName(const std::string& path);

// The short form of an existing file's or folder's path; false (ENOENT) when it does not exist.
bool WinGetShortPathName(const std::string& path, std::string& shortPath);
// The short name of one name.
std::string WinShortName(const std::string& name);

bool WinFileExists(const std::string& path);
bool WinDirectoryExists(const std::string& path);
bool WinDeleteFile(const std::string& path);
// Removes an empty folder.
bool WinRemoveDir(const std::string& path);
// Creates a folder whose parent exists.
bool WinCreateDir(const std::string& path);
// Creates a folder and every missing folder above it.
bool WinForceDirectories(const std::string& path);
// Copies a file; with failIfExists an existing target is refused (EEXIST).
bool WinCopyFile(const std::string& source, const std::string& dest, bool failIfExists);
// The names of a folder's entries (files and folders, without "." and ".."), sorted.
std::vector<std::string> WinFolderEntries(const std::string& folder);

// Flags of WinMoveFileEx.
inline constexpr uint32_t WinMoveReplaceExisting = 1;
inline constexpr uint32_t WinMoveCopyAllowed = 2;
inline constexpr uint32_t WinMoveDelayUntilReboot = 4;

// Moves (renames) a file: refuses an existing target unless WinMoveReplaceExisting; between
// folders of different host file systems only with WinMoveCopyAllowed. With
// WinMoveDelayUntilReboot nothing moves now: the move (or, with an empty dest, the deletion) is
// recorded for the next restart (MachineRestart.h), in the order of the calls. The delayed form
// fails on the Windows 9x family (ErrorCallNotImplemented), whose programs use "WININIT.INI".
bool WinMoveFileEx(const std::string& source, const std::string& dest, uint32_t flags);
// ErrorBase + the Windows number for a call that this Windows version does not have.
inline constexpr int ErrorCallNotImplemented = 0x10000 + 120;

// File attributes as Windows numbers them.
inline constexpr uint32_t WinAttrReadOnly = 0x1, WinAttrHidden = 0x2, WinAttrSystem = 0x4, WinAttrDirectory = 0x10,
                          WinAttrArchive = 0x20, WinAttrNormal = 0x80, WinAttrTemporary = 0x100,
                          WinAttrCompressed = 0x800, WinAttrOffline = 0x1000;
inline constexpr uint32_t WinInvalidAttributes = 0xFFFFFFFFu;
// The attributes of a file or folder: WinAttrDirectory for a folder, WinAttrReadOnly for a file
// without write permission, WinAttrNormal when neither; WinInvalidAttributes when it is missing.
uint32_t WinGetFileAttributes(const std::string& path);
// Sets the attributes. The host file system keeps only the read-only attribute (as the write
// permission bits); the others are accepted and have no effect.
bool WinSetFileAttributes(const std::string& path, uint32_t attributes);
// The local date and time of the file's last write.
bool WinGetLastWriteTime(const std::string& path, TDateTime& time);
// Sets the file's last write to a local date and time (to the millisecond).
bool WinSetLastWriteTime(const std::string& path, TDateTime time);

// The current directory in Windows form, and changing it (the process's own directory).
std::string WinGetCurrentDir();
bool WinSetCurrentDir(const std::string& path);

// A new, empty file in folder named prefix (its first three characters), four hexadecimal digits
// and ".tmp"; its full path goes to path. False when no name is free or the file cannot be
// created.
bool WinGetTempFileName(const std::string& folder, const std::string& prefix, std::string& path);

}  // namespace ostra
