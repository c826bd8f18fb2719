// Folder, name and extension of Windows-form file names.
#include "installer/library/WinFileNames.h"

namespace ostra {

namespace {

// The position after the folder part: one past the last "\" or ":"; 0 for a bare name.
size_t NameStart(const std::string& fileName) {
    size_t cut = fileName.find_last_of("\\:");
    return cut == std::string::npos ? 0 : cut + 1;
}

// The position of the extension's dot within the name part; npos when there is none.
size_t ExtensionStart(const std::string& fileName) {
    size_t dot = fileName.find_last_of('.');
    return dot == std::string::npos || dot < NameStart(fileName) ? std::string::npos : dot;
}

}  // namespace

std::string ExtractFilePath(const std::string& fileName) { return fileName.substr(0, NameStart(fileName)); }

std::string ExtractFileDir(const std::string& fileName) {
    size_t start = NameStart(fileName);
    // A trailing backslash is dropped unless it ends a root ("C:\" or "\").
    if (start > 0 && fileName[start - 1] == '\\' && start > 1 && fileName[start - 2] != ':' && fileName[start - 2] != '\\')
        --start;
    return fileName.substr(0, start);
}

std::string ExtractFileName(const std::string& fileName) { return fileName.substr(NameStart(fileName)); }

std::string ExtractFileExt(const std::string& fileName) {
    size_t dot = ExtensionStart(fileName);
    return dot == std::string::npos ? "" : fileName.substr(dot);
}

std::string ChangeFileExt(const std::string& fileName, const std::string& extension) {
    size_t dot = ExtensionStart(fileName);
    return (dot == std::string::npos ? fileName : fileName.substr(0, dot)) + extension;
}

}  // namespace ostra
