// Windows-1252 case folding for names.
#include "platform/AnsiCase.h"

#include <cstdint>

namespace ostra::platform {

char AnsiFoldChar(char c) {
    auto b = static_cast<uint8_t>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7)) return static_cast<char>(b - 0x20);
    switch (b) {
        case 0x9A: return static_cast<char>(0x8A);  // š
        case 0x9C: return static_cast<char>(0x8C);  // œ
        case 0x9E: return static_cast<char>(0x8E);  // ž
        case 0xFF: return static_cast<char>(0x9F);  // ÿ
        default: return c;
    }
}

std::string AnsiFoldName(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = AnsiFoldChar(c);
    return folded;
}

bool AnsiSameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AnsiFoldChar(a[i]) != AnsiFoldChar(b[i])) return false;
    return true;
}

}  // namespace ostra::platform
