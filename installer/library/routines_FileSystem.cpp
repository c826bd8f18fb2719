// File attribute routines and the nearest existing folder.
#include "installer/library/routines_FileSystem.h"

#include "host/SysUtils.h"
#include "installer/library/WinFileSystem.h"
#include "platform/File.h"
#include "platform/LastError.h"

namespace ostra {

void SetFileAttributesFromSet(const std::string& path, TFrnmFileAttributesSet attributes) {
    const std::pair<TFrnmFileAttribute, uint32_t> map[] = {
        {ffaArchive, WinAttrArchive}, {ffaDirectory, WinAttrDirectory}, {ffaHidden, WinAttrHidden},
        {ffaNormal, WinAttrNormal},   {ffaOffline, WinAttrOffline},     {ffaReadOnly, WinAttrReadOnly},
        {ffaSystem, WinAttrSystem},   {ffaTemporary, WinAttrTemporary},
    };
    uint32_t windows = 0;
    for (const auto& [member, bit] : map)
        if (attributes.Contains(member)) windows |= bit;
    if (!WinSetFileAttributes(path, windows))
        throw IEfcSetAttributes("Cannot set file attributes. Error : %s", {platform::SysErrorMessage(platform::GetLastError())});
}

void GetFileAttributesSet(const std::string& path, TFrnmFileAttributesSet& attributes) {
    std::string native = WinToNative(path);
    platform::File file;
    if (native.empty() ||
        !file.Open(native, platform::FileAccess::Read, platform::FileShare::Exclusive, platform::FileCreate::OpenExisting))
        return;
    attributes = platform::FileIsReadOnly(native) ? TFrnmFileAttributesSet{ffaReadOnly} : TFrnmFileAttributesSet{};
}

std::string NearestExistingFolder(const std::string& path) {
    std::string candidate = path;
    while (!Trim(candidate).empty()) {
        if (WinDirectoryExists(candidate)) return candidate;
        size_t cut = candidate.find_last_of('\\');
        if (cut == std::string::npos) return "";
        candidate.erase(cut);
    }
    return "";
}

}  // namespace ostra
