// The soANSI dictionary order and the Windows-1252 case mapping, from tables computed at
// compile time. A compare skips the common prefix of identical bytes, then walks both
// strings once: the first primary difference decides at once, while the first accent and
// case differences are remembered for the case that the primary weights tie. Nothing is
// allocated, so index and sort code can call it on every key.
#include "host/Collation.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace ostra {

namespace {

// Accent weights (pass 2), in the order of the table in the header.
enum : uint8_t {
    acNone, acAcute, acGrave, acCircumflex, acTilde, acDiaeresis, acRing, acCedilla, acCaron,
    acStroke, acHook, acOrdinal, acLigature
};

// The collation of one byte: one element of weight Primary, or two when Expansion is not 0
// (a ligature); both elements carry the same accent and case weights.
struct TCollationElement {
    uint8_t Primary;    // 0 is reserved for "end of string"
    uint8_t Expansion;  // primary weight of the second element, 0 for none
    uint8_t Accent;
    uint8_t Upper;      // 1 for an upper-case letter
};

struct TCollationTables {
    std::array<TCollationElement, 256> Element{};
    std::array<uint8_t, 256> Upper{};
    std::array<uint8_t, 256> Lower{};
};

// One letter outside a-z / A-Z: its byte, base letter(s), accent and case partner.
struct TLetter {
    uint8_t Byte;
    char Base;    // 'a'..'z', or kThorn / kMicro for the two letters after z
    char Second;  // second letter of a ligature, 0 for none
    uint8_t Accent;
    uint8_t Partner;  // the other case form, 0 for none
    bool IsUpper;
};

constexpr char kThorn = '{';  // letter keys after 'z'
constexpr char kMicro = '|';

constexpr TLetter kLetters[] = {
    {0x83, 'f', 0, acHook, 0, false},
    {0x8A, 's', 0, acCaron, 0x9A, true},        {0x9A, 's', 0, acCaron, 0x8A, false},
    {0x8C, 'o', 'e', acLigature, 0x9C, true},   {0x9C, 'o', 'e', acLigature, 0x8C, false},
    {0x8E, 'z', 0, acCaron, 0x9E, true},        {0x9E, 'z', 0, acCaron, 0x8E, false},
    {0x9F, 'y', 0, acDiaeresis, 0xFF, true},    {0xFF, 'y', 0, acDiaeresis, 0x9F, false},
    {0xAA, 'a', 0, acOrdinal, 0, false},        {0xBA, 'o', 0, acOrdinal, 0, false},
    {0xB5, kMicro, 0, acNone, 0, false},        {0xDF, 's', 's', acLigature, 0, false},
    // 0xC0-0xDE upper case and 0xE0-0xFE lower case, pairwise 0x20 apart (0xD7/0xF7 are not letters)
    {0xC0, 'a', 0, acGrave, 0xE0, true},        {0xC1, 'a', 0, acAcute, 0xE1, true},
    {0xC2, 'a', 0, acCircumflex, 0xE2, true},   {0xC3, 'a', 0, acTilde, 0xE3, true},
    {0xC4, 'a', 0, acDiaeresis, 0xE4, true},    {0xC5, 'a', 0, acRing, 0xE5, true},
    {0xC6, 'a', 'e', acLigature, 0xE6, true},   {0xC7, 'c', 0, acCedilla, 0xE7, true},
    {0xC8, 'e', 0, acGrave, 0xE8, true},        {0xC9, 'e', 0, acAcute, 0xE9, true},
    {0xCA, 'e', 0, acCircumflex, 0xEA, true},   {0xCB, 'e', 0, acDiaeresis, 0xEB, true},
    {0xCC, 'i', 0, acGrave, 0xEC, true},        {0xCD, 'i', 0, acAcute, 0xED, true},
    {0xCE, 'i', 0, acCircumflex, 0xEE, true},   {0xCF, 'i', 0, acDiaeresis, 0xEF, true},
    {0xD0, 'd', 0, acStroke, 0xF0, true},       {0xD1, 'n', 0, acTilde, 0xF1, true},
    {0xD2, 'o', 0, acGrave, 0xF2, true},        {0xD3, 'o', 0, acAcute, 0xF3, true},
    {0xD4, 'o', 0, acCircumflex, 0xF4, true},   {0xD5, 'o', 0, acTilde, 0xF5, true},
    {0xD6, 'o', 0, acDiaeresis, 0xF6, true},    {0xD8, 'o', 0, acStroke, 0xF8, true},
    {0xD9, 'u', 0, acGrave, 0xF9, true},        {0xDA, 'u', 0, acAcute, 0xFA, true},
    {0xDB, 'u', 0, acCircumflex, 0xFB, true},   {0xDC, 'u', 0, acDiaeresis, 0xFC, true},
    {0xDD, 'y', 0, acAcute, 0xFD, true},        {0xDE, kThorn, 0, acNone, 0xFE, true},
};

// Non-letter, non-digit bytes in the order of their Unicode code points.
constexpr uint8_t kSymbols[] = {
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x7B, 0x7C, 0x7D,
    0x7E, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xB0, 0xB1, 0xB4, 0xB6, 0xB7, 0xB8, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xD7, 0xF7,
    0x88,  // U+02C6 modifier circumflex
    0x98,  // U+02DC small tilde
    0x96, 0x97,                    // U+2013/2014 dashes
    0x91, 0x92, 0x82, 0x93, 0x94, 0x84,  // U+2018-201E quotation marks
    0x86, 0x87, 0x95, 0x85, 0x89,  // U+2020 dagger .. U+2030 per mille
    0x8B, 0x9B,                    // U+2039/203A angle quotation marks
    0x80,                          // U+20AC euro sign
    0x99,                          // U+2122 trade mark
};

constexpr uint8_t kControls[] = {0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D};  // after 0x00-0x1F

constexpr TCollationTables BuildTables() {
    TCollationTables t{};
    std::array<bool, 256> assigned{};
    uint8_t weight = 1;
    auto assign = [&](int byte, uint8_t primary, uint8_t expansion, uint8_t accent, bool upper) {
        if (assigned[byte]) throw "byte assigned twice";
        assigned[byte] = true;
        t.Element[byte] = TCollationElement{primary, expansion, accent, uint8_t(upper)};
    };
    for (int b = 0; b < 0x20; ++b) assign(b, weight++, 0, acNone, false);
    for (uint8_t b : kControls) assign(b, weight++, 0, acNone, false);
    for (uint8_t b : kSymbols) assign(b, weight++, 0, acNone, false);
    const uint8_t digit0 = weight;
    for (int d = 0; d < 10; ++d) assign('0' + d, weight++, 0, acNone, false);
    assign(0xB9, digit0 + 1, 0, acOrdinal, false);
    assign(0xB2, digit0 + 2, 0, acOrdinal, false);
    assign(0xB3, digit0 + 3, 0, acOrdinal, false);
    const uint8_t letterA = weight;
    auto letterWeight = [&](char base) { return uint8_t(letterA + (base - 'a')); };
    for (char c = 'a'; c <= 'z'; ++c) {
        assign(c, letterWeight(c), 0, acNone, false);
        assign(c - 32, letterWeight(c), 0, acNone, true);
    }
    for (const TLetter& l : kLetters) {
        assign(l.Byte, letterWeight(l.Base), l.Second ? letterWeight(l.Second) : 0, l.Accent, l.IsUpper);
        if (l.IsUpper) {
            // The lower-case partner of a letter in 0xC0-0xDE has the same weights.
            if (l.Byte >= 0xC0) assign(l.Partner, letterWeight(l.Base), l.Second ? letterWeight(l.Second) : 0,
                                          l.Accent, false);
        }
    }
    for (bool a : assigned)
        if (!a) throw "byte without weight";

    for (int b = 0; b < 256; ++b) t.Upper[b] = t.Lower[b] = uint8_t(b);
    for (char c = 'a'; c <= 'z'; ++c) {
        t.Upper[uint8_t(c)] = uint8_t(c - 32);
        t.Lower[uint8_t(c - 32)] = uint8_t(c);
    }
    for (const TLetter& l : kLetters) {
        if (!l.Partner) continue;
        if (l.IsUpper) {
            t.Lower[l.Byte] = l.Partner;
            t.Upper[l.Partner] = l.Byte;
        } else {
            t.Upper[l.Byte] = l.Partner;
            t.Lower[l.Partner] = l.Byte;
        }
    }
    return t;
}

constexpr TCollationTables kTables = BuildTables();

// Reads the collation elements of a string one at a time, expanding ligatures.
class TElementCursor {
public:
    TElementCursor(const uint8_t* p, const uint8_t* end) : FP(p), FEnd(end) {}

    // The next element's primary weight, 0 at the end; its accent and case in `accent`/`upper`.
    uint8_t Next(uint8_t& accent, uint8_t& upper) {
        if (FPending) {
            uint8_t w = FPending->Expansion;
            accent = FPending->Accent;
            upper = FPending->Upper;
            FPending = nullptr;
            return w;
        }
        if (FP == FEnd) return 0;
        const TCollationElement& e = kTables.Element[*FP++];
        accent = e.Accent;
        upper = e.Upper;
        if (e.Expansion) FPending = &e;
        return e.Primary;
    }

private:
    const uint8_t* FP;
    const uint8_t* FEnd;
    const TCollationElement* FPending = nullptr;
};

int Compare(const uint8_t* a, size_t lenA, const uint8_t* b, size_t lenB, bool caseInsensitive) {
    // Identical bytes have identical weights on every pass, so a common prefix can be skipped.
    const size_t n = std::min(lenA, lenB);
    size_t i = 0;
    for (uint64_t x, y; i + 8 <= n; i += 8) {
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) break;
    }
    while (i < n && a[i] == b[i]) ++i;
    if (i == lenA && i == lenB) return 0;
    if (i < n) {
        // Usually the first elements after the prefix differ in primary weight and decide.
        uint8_t pa = kTables.Element[a[i]].Primary, pb = kTables.Element[b[i]].Primary;
        if (pa != pb) return pa < pb ? -1 : 1;
    }

    TElementCursor ca(a + i, a + lenA), cb(b + i, b + lenB);
    int accentDiff = 0, caseDiff = 0;
    for (;;) {
        uint8_t accentA = 0, upperA = 0, accentB = 0, upperB = 0;
        uint8_t wa = ca.Next(accentA, upperA);
        uint8_t wb = cb.Next(accentB, upperB);
        if (wa != wb) return wa < wb ? -1 : 1;
        if (wa == 0) break;
        if (!accentDiff && accentA != accentB) accentDiff = accentA < accentB ? -1 : 1;
        if (!caseDiff && upperA != upperB) caseDiff = upperA < upperB ? -1 : 1;
    }
    if (accentDiff) return accentDiff;
    if (caseInsensitive) {
        for (size_t k = i; k < n; ++k) {
            uint8_t x = kTables.Lower[a[k]], y = kTables.Lower[b[k]];
            if (x != y) return x < y ? -1 : 1;
        }
        return lenA == lenB ? 0 : (lenA < lenB ? -1 : 1);
    }
    if (caseDiff) return caseDiff;
    // Every byte has its own weights, so this point is not reached for different strings;
    // the byte order keeps the result total regardless.
    if (i < n) return a[i] < b[i] ? -1 : 1;
    return lenA < lenB ? -1 : 1;
}

inline const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

char AnsiUpperChar(char c) { return char(kTables.Upper[uint8_t(c)]); }
char AnsiLowerChar(char c) { return char(kTables.Lower[uint8_t(c)]); }

int AnsiCompareBuf(const char* a, int lenA, const char* b, int lenB, bool caseInsensitive) {
    return Compare(reinterpret_cast<const uint8_t*>(a), size_t(std::max(lenA, 0)), reinterpret_cast<const uint8_t*>(b),
                   size_t(std::max(lenB, 0)), caseInsensitive);
}

int AnsiCompareStr(const std::string& a, const std::string& b) {
    return Compare(Bytes(a), a.size(), Bytes(b), b.size(), false);
}

int AnsiCompareText(const std::string& a, const std::string& b) {
    return Compare(Bytes(a), a.size(), Bytes(b), b.size(), true);
}

bool AnsiSameStr(const std::string& a, const std::string& b) { return a == b; }

bool AnsiSameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    const uint8_t *x = Bytes(a), *y = Bytes(b);
    for (size_t k = 0; k < a.size(); ++k)
        if (kTables.Lower[x[k]] != kTables.Lower[y[k]]) return false;
    return true;
}

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
