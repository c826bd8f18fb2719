// Windows program files with a version resource, written by the tests: a minimal PE file (32-bit
// or 64-bit) with one resource section holding one version resource, built from the values a
// test chooses.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ostra::test {

// The version resource of a fixture file.
struct PeVersion {
    uint32_t FileVersionMS = 0, FileVersionLS = 0, ProductVersionMS = 0, ProductVersionLS = 0;
    uint32_t FileOS = 4, FileType = 1, FileSubtype = 0;
    // String tables by their key ("040904E4"), each with its name/value pairs.
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> StringTables;
    // Entries of "\VarFileInfo\Translation" (language | code page << 16); none writes no VarFileInfo.
    std::vector<uint32_t> Translations;
    bool SixtyFourBit = false;
};

// The bytes of a PE file with that version resource.
std::string BuildPeFile(const PeVersion& version);
// The bytes of a PE file without resources.
std::string BuildPeFileWithoutResources();

// The version numbers a.b.c.d as the fixed file information holds them (most, least significant).
inline uint32_t VersionMS(uint32_t a, uint32_t b) { return a << 16 | b; }
inline uint32_t VersionLS(uint32_t c, uint32_t d) { return c << 16 | d; }

}  // namespace ostra::test
