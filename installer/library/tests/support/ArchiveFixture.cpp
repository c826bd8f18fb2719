// Archive bytes by hand.
#include "installer/library/tests/support/ArchiveFixture.h"

#include <cstring>

namespace ostra::test {

void PutInt32(std::string& bytes, size_t at, int32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(static_cast<uint32_t>(value) >> (8 * i));
}

std::string HeaderBytes(const HeaderFields& f) {
    std::string h(176, '\0');
    PutInt32(h, 0, f.HeaderIndex);
    std::memcpy(h.data() + 8, &f.FileDate, 8);
    h[16] = static_cast<char>(f.LastVolume);
    PutInt32(h, 20, f.LastDataByte);
    h[24] = static_cast<char>(f.SourcePath.size());
    h.replace(25, f.SourcePath.size(), f.SourcePath);
    PutInt32(h, 128, f.NextHeader);
    PutInt32(h, 132, f.FileSize);
    PutInt32(h, 136, f.DataStart);
    PutInt32(h, 140, f.CompressedSize);
    h[144] = static_cast<char>(f.FirstVolume);
    PutInt32(h, 148, f.FileID);
    h[152] = static_cast<char>(f.FileVersion.size());
    h.replace(153, f.FileVersion.size(), f.FileVersion);
    return h;
}

std::string ArchiveStartBytes(int32_t count, bool multiVolume) {
    std::string s(5, '\0');
    PutInt32(s, 0, count);
    s[4] = multiVolume ? 1 : 0;
    return s;
}

}  // namespace ostra::test
