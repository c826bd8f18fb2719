// The PE fixture writer.
#include "installer/library/tests/support/PeFixture.h"

namespace ostra::test {
namespace {

void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void Set32(std::string& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Set16(std::string& out, size_t at, uint32_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void Pad4(std::string& out) {
    while (out.size() % 4) out += '\0';
}

std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) Put16(out, static_cast<unsigned char>(c));
    Put16(out, 0);
    return out;
}

// One entry of the version block with its children (each already a whole entry).
std::string Entry(const std::string& key, const std::string& value, uint32_t valueLength, uint32_t type,
                  const std::vector<std::string>& children) {
    std::string out(6, '\0');
    out += Utf16(key);
    Pad4(out);
    out += value;
    for (const std::string& child : children) {
        Pad4(out);
        out += child;
    }
    Set16(out, 0, static_cast<uint32_t>(out.size()));
    Set16(out, 2, valueLength);
    Set16(out, 4, type);
    return out;
}

std::string VersionBlock(const PeVersion& v) {
    std::string fixed;
    for (uint32_t word : {0xFEEF04BDu, 0x00010000u, v.FileVersionMS, v.FileVersionLS, v.ProductVersionMS, v.ProductVersionLS,
                          0x3Fu, 0u, v.FileOS, v.FileType, v.FileSubtype, 0u, 0u})
        Put32(fixed, word);
    std::vector<std::string> children;
    if (!v.StringTables.empty()) {
        std::vector<std::string> tables;
        for (const auto& [key, strings] : v.StringTables) {
            std::vector<std::string> entries;
            for (const auto& [name, text] : strings)
                entries.push_back(Entry(name, Utf16(text), static_cast<uint32_t>(text.size() + 1), 1, {}));
            tables.push_back(Entry(key, "", 0, 1, entries));
        }
        children.push_back(Entry("StringFileInfo", "", 0, 1, tables));
    }
    if (!v.Translations.empty()) {
        std::string list;
        for (uint32_t t : v.Translations) Put32(list, t);
        children.push_back(Entry("VarFileInfo", "", 0, 1, {Entry("Translation", list, static_cast<uint32_t>(list.size()), 0, {})}));
    }
    return Entry("VS_VERSION_INFO", fixed, 52, 0, children);
}

// A PE file whose one section ".rsrc" (address 0x1000, file offset 0x200) holds resources.
std::string PeFile(const std::string& resources, bool sixtyFour) {
    const uint32_t optionalSize = sixtyFour ? 240 : 224;
    std::string out(0x200, '\0');
    out[0] = 'M';
    out[1] = 'Z';
    Set32(out, 0x3C, 0x40);
    out.replace(0x40, 4, std::string("PE\0\0", 4));
    size_t header = 0x44;
    Set16(out, header, sixtyFour ? 0x8664 : 0x14C);
    Set16(out, header + 2, 1);
    Set16(out, header + 16, optionalSize);
    size_t optional = header + 20;
    Set16(out, optional, sixtyFour ? 0x20B : 0x10B);
    Set32(out, optional + (sixtyFour ? 108 : 92), 16);
    size_t directories = optional + (sixtyFour ? 112 : 96);
    if (!resources.empty()) {
        Set32(out, directories + 16, 0x1000);
        Set32(out, directories + 20, static_cast<uint32_t>(resources.size()));
    }
    size_t section = optional + optionalSize;
    out.replace(section, 5, ".rsrc");
    uint32_t raw = static_cast<uint32_t>((resources.size() + 0x1FF) & ~size_t{0x1FF});
    Set32(out, section + 8, static_cast<uint32_t>(resources.size()));
    Set32(out, section + 12, 0x1000);
    Set32(out, section + 16, raw);
    Set32(out, section + 20, 0x200);
    std::string body = resources;
    body.resize(raw, '\0');
    return out + body;
}

}  // namespace

std::string BuildPeFile(const PeVersion& version) {
    std::string block = VersionBlock(version);
    // Three directory levels (type 16, name 1, language 0x409), each a header of 16 bytes and one
    // entry of 8, then the data entry (16 bytes) and the block at 0x58.
    std::string r;
    auto directory = [&](uint32_t id, uint32_t target) {
        r += std::string(12, '\0');
        Put16(r, 0);
        Put16(r, 1);
        Put32(r, id);
        Put32(r, target);
    };
    directory(16, 0x80000000u | 0x18);
    directory(1, 0x80000000u | 0x30);
    directory(0x409, 0x48);
    Put32(r, 0x1000 + 0x58);
    Put32(r, static_cast<uint32_t>(block.size()));
    Put32(r, 0);
    Put32(r, 0);
    return PeFile(r + block, version.SixtyFourBit);
}

std::string BuildPeFileWithoutResources() { return PeFile("", false); }

}  // namespace ostra::test
