// The PE version-resource reader.
#include "platform/VersionResource.h"

#include <algorithm>
#include <fstream>
#include <vector>

namespace ostra::platform {
namespace {

// The file as a bounded source of little-endian values: a read outside the file fails.
class Source {
public:
    explicit Source(const std::string& path) : FIn(path, std::ios::binary) {
        if (FIn) {
            FIn.seekg(0, std::ios::end);
            FSize = static_cast<uint64_t>(FIn.tellg());
        }
    }
    bool Ok() const { return FSize > 0; }
    uint64_t Size() const { return FSize; }
    bool Read(uint64_t offset, void* out, uint64_t count) {
        if (offset > FSize || count > FSize - offset) return false;
        FIn.clear();
        FIn.seekg(static_cast<std::streamoff>(offset));
        FIn.read(static_cast<char*>(out), static_cast<std::streamsize>(count));
        return static_cast<uint64_t>(FIn.gcount()) == count;
    }
    bool U16(uint64_t offset, uint32_t& v) { return Get(offset, 2, v); }
    bool U32(uint64_t offset, uint32_t& v) { return Get(offset, 4, v); }

private:
    bool Get(uint64_t offset, int bytes, uint32_t& v) {
        unsigned char b[4] = {};
        if (!Read(offset, b, static_cast<uint64_t>(bytes))) return false;
        v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[i];
        return true;
    }
    std::ifstream FIn;
    uint64_t FSize = 0;
};

struct Section {
    uint32_t VirtualAddress, VirtualSize, RawSize, RawOffset;
};

// The file offset of an address of the loaded image; false when no section holds it.
bool MapAddress(const std::vector<Section>& sections, uint32_t rva, uint64_t& offset) {
    for (const Section& s : sections) {
        uint32_t extent = std::max(s.VirtualSize, s.RawSize);
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress < extent) {
            uint32_t within = rva - s.VirtualAddress;
            if (within >= s.RawSize) return false;
            offset = uint64_t{s.RawOffset} + within;
            return true;
        }
    }
    return false;
}

// The entry of a resource directory with the given id, or its first entry (id < 0); the entry's
// second word (offset and subdirectory flag) goes to target.
bool DirectoryEntry(Source& file, uint64_t directory, int64_t id, uint32_t& target) {
    uint32_t named = 0, ids = 0;
    if (!file.U16(directory + 12, named) || !file.U16(directory + 14, ids)) return false;
    uint64_t count = uint64_t{named} + ids;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t entry = directory + 16 + i * 8;
        uint32_t name = 0;
        if (!file.U32(entry, name) || !file.U32(entry + 4, target)) return false;
        if (id < 0 || (!(name & 0x80000000u) && name == static_cast<uint32_t>(id))) return true;
    }
    return false;
}

// ---- The version block

struct Entry {
    size_t Start = 0, End = 0;  // the entry within the block
    uint32_t ValueLength = 0, Type = 0;
    std::u16string Key;
    size_t ValueStart = 0, ChildrenStart = 0;
};

uint32_t Word(const std::string& block, size_t at) {
    return static_cast<unsigned char>(block[at]) | (static_cast<unsigned char>(block[at + 1]) << 8);
}

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

// Reads the entry at start, which must end by limit.
bool ReadEntry(const std::string& block, size_t start, size_t limit, Entry& e) {
    if (start + 6 > limit) return false;
    uint32_t length = Word(block, start);
    if (length < 6 || start + length > limit) return false;
    e.Start = start;
    e.End = start + length;
    e.ValueLength = Word(block, start + 2);
    e.Type = Word(block, start + 4);
    e.Key.clear();
    size_t at = start + 6;
    for (;; at += 2) {
        if (at + 2 > e.End) return false;
        char16_t c = static_cast<char16_t>(Word(block, at));
        if (c == 0) break;
        e.Key += c;
    }
    e.ValueStart = Align4(at + 2);
    size_t valueBytes = e.Type == 1 ? size_t{e.ValueLength} * 2 : e.ValueLength;
    if (e.ValueStart > e.End) e.ValueStart = e.End;
    e.ChildrenStart = std::min(e.End, Align4(e.ValueStart + std::min(valueBytes, e.End - e.ValueStart)));
    return true;
}

bool SameKey(const std::u16string& key, const std::string& name) {
    if (key.size() != name.size()) return false;
    for (size_t i = 0; i < key.size(); ++i) {
        char16_t a = key[i], b = static_cast<unsigned char>(name[i]);
        if (a >= 'a' && a <= 'z') a -= 32;
        if (b >= 'a' && b <= 'z') b -= 32;
        if (a != b) return false;
    }
    return true;
}

}  // namespace

bool GetFileVersionInfo(const std::string& path, std::string& block) {
    block.clear();
    Source file(path);
    char mz[2] = {};
    uint32_t peOffset = 0, signature = 0;
    if (!file.Ok() || !file.Read(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z' || !file.U32(0x3C, peOffset) ||
        !file.U32(peOffset, signature) || signature != 0x00004550u)
        return false;
    uint64_t header = uint64_t{peOffset} + 4;
    uint32_t sectionCount = 0, optionalSize = 0, magic = 0;
    if (!file.U16(header + 2, sectionCount) || !file.U16(header + 16, optionalSize)) return false;
    uint64_t optional = header + 20;
    if (!file.U16(optional, magic)) return false;
    uint64_t countAt, directories;
    if (magic == 0x10B) {
        countAt = optional + 92;
        directories = optional + 96;
    } else if (magic == 0x20B) {
        countAt = optional + 108;
        directories = optional + 112;
    } else {
        return false;
    }
    uint32_t directoryCount = 0, resourceRva = 0, resourceSize = 0;
    if (!file.U32(countAt, directoryCount) || directoryCount < 3 || directories + 24 > optional + optionalSize ||
        !file.U32(directories + 16, resourceRva) || !file.U32(directories + 20, resourceSize) || resourceRva == 0)
        return false;

    std::vector<Section> sections;
    uint64_t table = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        Section s{};
        uint64_t at = table + uint64_t{i} * 40;
        if (!file.U32(at + 8, s.VirtualSize) || !file.U32(at + 12, s.VirtualAddress) || !file.U32(at + 16, s.RawSize) ||
            !file.U32(at + 20, s.RawOffset))
            return false;
        sections.push_back(s);
    }
    uint64_t resources = 0;
    if (!MapAddress(sections, resourceRva, resources)) return false;

    // Type 16 (version), then the first name, then the first language: each a subdirectory but
    // the last, which is a data entry.
    uint32_t target = 0;
    uint64_t directory = resources;
    const int64_t wanted[3] = {16, -1, -1};
    for (int level = 0; level < 3; ++level) {
        if (!DirectoryEntry(file, directory, wanted[level], target)) return false;
        bool subdirectory = (target & 0x80000000u) != 0;
        if (subdirectory != (level < 2)) return false;
        directory = resources + (target & 0x7FFFFFFFu);
    }
    uint32_t dataRva = 0, dataSize = 0;
    uint64_t data = 0;
    if (!file.U32(directory, dataRva) || !file.U32(directory + 4, dataSize) || dataSize < 6 ||
        !MapAddress(sections, dataRva, data) || dataSize > file.Size())
        return false;
    block.resize(dataSize);
    if (!file.Read(data, block.data(), dataSize)) {
        block.clear();
        return false;
    }
    Entry root;
    if (!ReadEntry(block, 0, block.size(), root) || !SameKey(root.Key, "VS_VERSION_INFO")) {
        block.clear();
        return false;
    }
    return true;
}

bool VerQueryValue(const std::string& block, const std::string& path, std::string& value) {
    value.clear();
    Entry current;
    if (!ReadEntry(block, 0, block.size(), current)) return false;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        bool found = false;
        for (size_t at = current.ChildrenStart; at < current.End; ) {
            Entry child;
            if (!ReadEntry(block, at, current.End, child)) return false;
            if (SameKey(child.Key, name)) {
                current = child;
                found = true;
                break;
            }
            at = Align4(child.End);
        }
        if (!found) return false;
    }
    size_t available = current.End - current.ValueStart;
    if (current.Type == 1) {
        size_t bytes = std::min(size_t{current.ValueLength} * 2, available) & ~size_t{1};
        for (size_t i = 0; i < bytes; i += 2) {
            if (Word(block, current.ValueStart + i) == 0) break;
            value += block.substr(current.ValueStart + i, 2);
        }
        return true;
    }
    if (current.ValueLength == 0 || current.ValueLength > available) return false;
    value = block.substr(current.ValueStart, current.ValueLength);
    return true;
}

}  // namespace ostra::platform
