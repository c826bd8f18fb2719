// Run-time loaded libraries on dlopen.
#include "platform/SharedLibrary.h"

#include <dlfcn.h>

#include <fstream>

namespace ostra::platform {

bool SharedLibrary::Load(const std::string& path, int& error) {
    Free();
    error = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = ErrorModNotFound;
        return false;
    }
    char magic[4] = {};
    file.read(magic, 4);
    FHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (FHandle) return true;
    // An ELF file that does not load lacks something it needs; anything else is no library.
    error = file.gcount() == 4 && std::string(magic, 4) == "\x7F" "ELF" ? ErrorModNotFound : ErrorBadExeFormat;
    return false;
}

void* SharedLibrary::Export(const std::string& name, int& error) const {
    error = 0;
    void* address = FHandle ? dlsym(FHandle, name.c_str()) : nullptr;
    if (!address) error = ErrorProcNotFound;
    return address;
}

void SharedLibrary::Free() {
    if (FHandle) dlclose(FHandle);
    FHandle = nullptr;
}

}  // namespace ostra::platform
