// Helpers for the disk manager and allocation map tests (see DiskTestSupport.h).
#include "DiskTestSupport.h"

#include "engine/storage/orqErrors.h"
#include "platform/File.h"

namespace ostra::disktest {

void CreateDatabase(const std::string& Path, uint32_t PageSize) {
    TDiskMgr disk;
    disk.SetFileName(Path);
    disk.SetPageSize(PageSize);
    disk.CreateNewFile(true);
}

std::unique_ptr<TDiskMgr> OpenDatabase(const std::string& Path, int32_t Flags, int32_t RetryCount,
                                       uint32_t PageSize) {
    auto disk = std::make_unique<TDiskMgr>();
    disk->SetFileName(Path);
    disk->SetPageSize(PageSize);
    disk->SetOpenFlags(Flags);
    disk->SetLockRetryCount(RetryCount);
    disk->SetLockRetryInterval(10);
    disk->Open();
    return disk;
}

uint16_t U16(const std::string& Bytes, std::size_t Offset) {
    return uint16_t(uint8_t(Bytes.at(Offset)) | uint8_t(Bytes.at(Offset + 1)) << 8);
}

uint32_t U32(const std::string& Bytes, std::size_t Offset) {
    return uint32_t(U16(Bytes, Offset)) | uint32_t(U16(Bytes, Offset + 2)) << 16;
}

void PutU16(std::string& Bytes, std::size_t Offset, uint16_t Value) {
    Bytes.at(Offset) = char(Value & 0xFF);
    Bytes.at(Offset + 1) = char(Value >> 8);
}

void PutU32(std::string& Bytes, std::size_t Offset, uint32_t Value) {
    PutU16(Bytes, Offset, uint16_t(Value));
    PutU16(Bytes, Offset + 2, uint16_t(Value >> 16));
}

std::string ReadRange(const std::string& Path, uint64_t Offset, uint64_t Size) {
    platform::File file;
    if (!file.Open(Path, platform::FileAccess::Read, platform::FileShare::DenyNone, platform::FileCreate::OpenExisting))
        return "";
    std::string bytes(Size, '\0');
    int64_t n = file.Read(int64_t(Offset), bytes.data(), int64_t(Size));
    bytes.resize(n < 0 ? 0 : std::size_t(n));
    return bytes;
}

void PatchFile(const std::string& Path, uint64_t Offset, const std::string& Bytes) {
    platform::File file;
    if (!file.Open(Path, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                   platform::FileCreate::OpenExisting) ||
        file.Write(int64_t(Offset), Bytes.data(), int64_t(Bytes.size())) != int64_t(Bytes.size()))
        throw Exception("PatchFile failed: " + Path);
}

void PatchU16(const std::string& Path, uint64_t Offset, uint16_t Value) {
    std::string bytes(2, '\0');
    PutU16(bytes, 0, Value);
    PatchFile(Path, Offset, bytes);
}

void PatchU32(const std::string& Path, uint64_t Offset, uint32_t Value) {
    std::string bytes(4, '\0');
    PutU32(bytes, 0, Value);
    PatchFile(Path, Offset, bytes);
}

std::vector<uint8_t> Pages(uint32_t Count, uint8_t Fill, uint32_t PageSize) {
    return std::vector<uint8_t>(std::size_t(Count) * PageSize, Fill);
}

uint16_t StoredEntry(const std::string& Path, uint32_t MapAddress, uint32_t PageIndexInMap) {
    return U16(ReadRange(Path, MapAddress + 20 + 2 * PageIndexInMap, 2), 0);
}

std::vector<uint32_t> StoredFreeList(const std::string& Path, uint32_t MapAddress) {
    const std::string page = ReadRange(Path, MapAddress, PS);
    std::vector<uint32_t> list;
    for (uint32_t offset = U16(page, 8); offset != 0 && list.size() <= EPP; offset = U16(page, offset) & 0x7FFF)
        list.push_back((offset - 20) / 2);
    return list;
}

}  // namespace ostra::disktest
