// Libraries loaded at run time and their exports, as the Windows library loader offers them: load a
// library by its (native) path, find an export by name, free the library. On dlopen.
//
// Errors are Windows error numbers: ErrorModNotFound when the file is missing or a library it
// needs cannot be found, ErrorBadExeFormat when the file is no library, ErrorProcNotFound for a
// missing export.
#pragma once
#include <string>

namespace ostra::platform {

inline constexpr int ErrorModNotFound = 126;
inline constexpr int ErrorProcNotFound = 127;
inline constexpr int ErrorBadExeFormat = 193;

// One loaded library; frees it on destruction.
class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary() { Free(); }
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the library (freeing one loaded before); false with error set when it cannot be loaded.
    bool Load(const std::string& path, int& error);
    // The address of an export; null with error set when the library has none of that name.
    void* Export(const std::string& name, int& error) const;
    void Free();
    bool Loaded() const { return FHandle != nullptr; }

private:
    void* FHandle = nullptr;
};

}  // namespace ostra::platform
