// The parts of a Windows-form file name ("C:\Program Files\Ostra\files.1"): its folder, its name
// and its extension, cut at the last "\" or ":" as the host framework's file-name routines cut
// them. Pure text operations; nothing here touches a file.
#pragma once
#include <string>

namespace ostra {

// The folder part with its trailing backslash ("C:\a\" of "C:\a\b.txt", "C:" of "C:b.txt"); ""
// for a bare name.
std::string ExtractFilePath(const std::string& fileName);
// The folder part without a trailing backslash, except for a root ("C:\a" of "C:\a\b.txt",
// "C:\" of "C:\b.txt").
std::string ExtractFileDir(const std::string& fileName);
// The name after the folder part ("b.txt" of "C:\a\b.txt").
std::string ExtractFileName(const std::string& fileName);
// The extension with its dot (".txt"); "" when the name has none.
std::string ExtractFileExt(const std::string& fileName);
// The file name with its extension replaced by extension (which carries its own dot; "" removes
// the extension).
std::string ChangeFileExt(const std::string& fileName, const std::string& extension);

}  // namespace ostra
