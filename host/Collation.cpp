// PLACEHOLDER until the collation tables land: byte order with ASCII case folding.
#include "host/Collation.h"

#include <algorithm>
#include <cstring>

namespace ostra {

char AnsiUpperChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
char AnsiLowerChar(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

int AnsiCompareBuf(const char* a, int lenA, const char* b, int lenB, bool caseInsensitive) {
    int n = std::min(lenA, lenB);
    for (int i = 0; i < n; ++i) {
        unsigned char x = caseInsensitive ? AnsiUpperChar(a[i]) : a[i];
        unsigned char y = caseInsensitive ? AnsiUpperChar(b[i]) : b[i];
        if (x != y) return x < y ? -1 : 1;
    }
    return lenA == lenB ? 0 : (lenA < lenB ? -1 : 1);
}

int AnsiCompareStr(const std::string& a, const std::string& b) {
    return AnsiCompareBuf(a.data(), int(a.size()), b.data(), int(b.size()), false);
}
int AnsiCompareText(const std::string& a, const std::string& b) {
    return AnsiCompareBuf(a.data(), int(a.size()), b.data(), int(b.size()), true);
}
bool AnsiSameText(const std::string& a, const std::string& b) { return AnsiCompareText(a, b) == 0; }
bool AnsiSameStr(const std::string& a, const std::string& b) { return a == b; }

std::string AnsiUpperCase(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = AnsiUpperChar(c);
    return r;
}
std::string AnsiLowerCase(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = AnsiLowerChar(c);
    return r;
}

}  // namespace ostra
