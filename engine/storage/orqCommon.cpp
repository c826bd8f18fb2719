// orqCommon: collations, LIKE, operating-system queries, size calculators and field-name lists.
// See orqCommon.h for the contracts.
#include "engine/storage/orqCommon.h"

#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/AnsiCodec.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "platform/Clock.h"
#include "platform/Identity.h"
#include "platform/LastError.h"

namespace ostra {

namespace {

// Names from the system are cut to what a 256-character buffer with its terminator holds.
constexpr std::size_t MaxNameLength = 255;

inline unsigned char AsciiUpper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
}

// A UTF-16 string (little-endian code units, possibly unaligned) seen in its Windows-1252 form,
// each unit without a 1252 form as '?'. Keys up to 256 characters need no allocation.
class WideAsAnsi {
public:
    WideAsAnsi(const char* s, int units) : FSource(s), FUnits(units) {
        char* out = FBuf;
        if (units > int(sizeof FBuf)) {
            FLong.resize(std::size_t(units));
            out = FLong.data();
        }
        for (int i = 0; i < units; ++i) {
            int c = UnicodeToAnsiChar(Unit(i));
            out[i] = c < 0 ? '?' : char(c);
        }
        FText = out;
    }
    const char* Text() const { return FText; }
    int Length() const { return FUnits; }
    char16_t Unit(int i) const {
        auto b = reinterpret_cast<const unsigned char*>(FSource) + 2 * i;
        return char16_t(b[0] | (b[1] << 8));
    }
    // The position of the next unit at or after `i` that has no 1252 form; Length() when none.
    int NextUnmapped(int i) const {
        while (i < FUnits && UnicodeToAnsiChar(Unit(i)) >= 0) ++i;
        return i;
    }

private:
    const char* FSource;
    int FUnits;
    const char* FText = nullptr;
    char FBuf[512];
    std::string FLong;  // only for texts longer than the fixed buffer
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Comparers

int DBANSICompareStrings(const char* S1, const char* S2, int Len1, int Len2, bool CaseInsensitive,
                         bool Partial) {
    Len1 = std::max(Len1, 0);
    Len2 = std::max(Len2, 0);
    if (Partial) {
        int n = std::min(Len1, Len2);
        return AnsiCompareBuf(S1, n, S2, n, CaseInsensitive);
    }
    int r = AnsiCompareBuf(S1, Len1, S2, Len2, CaseInsensitive);
    return r != 0 ? r : Len1 - Len2;
}

int DBASCIICompareStrings(const char* S1, const char* S2, int Len1, int Len2, bool CaseInsensitive,
                          bool Partial) {
    Len1 = std::max(Len1, 0);
    Len2 = std::max(Len2, 0);
    const int n = std::min(Len1, Len2);
    const auto* a = reinterpret_cast<const unsigned char*>(S1);
    const auto* b = reinterpret_cast<const unsigned char*>(S2);
    int r = 0;
    for (int i = 0; i < n; ++i) {
        unsigned char x = a[i];
        unsigned char y = b[i];
        if (CaseInsensitive) {
            x = AsciiUpper(x);
            y = AsciiUpper(y);
        }
        if (x != y) {
            r = int(x) - int(y);
            break;
        }
        if (x == 0) break;  // a zero byte ends the compare, as for terminated strings
    }
    if (r == 0 && !Partial) r = Len1 - Len2;
    return r;
}

int DBCompareWideStrings(const char* S1, const char* S2, int Len1, int Len2, bool CaseInsensitive,
                         bool Partial) {
    Len1 = std::max(Len1, 0);
    Len2 = std::max(Len2, 0);
    if (Partial) Len1 = Len2 = std::min(Len1, Len2);
    const WideAsAnsi a(S1, Len1 / 2);
    const WideAsAnsi b(S2, Len2 / 2);
    int r = AnsiCompareBuf(a.Text(), a.Length(), b.Text(), b.Length(), CaseInsensitive);
    if (r != 0) return r;
    // Equal 1252 forms: the characters that became '?' decide, in order of appearance.
    int i = a.NextUnmapped(0);
    int j = b.NextUnmapped(0);
    while (i < a.Length() && j < b.Length()) {
        if (a.Unit(i) != b.Unit(j)) return a.Unit(i) < b.Unit(j) ? -1 : 1;
        i = a.NextUnmapped(i + 1);
        j = b.NextUnmapped(j + 1);
    }
    return (i < a.Length()) - (j < b.Length());
}

int AscendingListSort(void* Item1, void* Item2) {
    auto a = reinterpret_cast<uintptr_t>(Item1);
    auto b = reinterpret_cast<uintptr_t>(Item2);
    return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareReals(double A, double B) {
    if (A < B) return -1;
    if (A > B) return 1;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Pattern matching

// Wildcard matching with backtracking to the last "%" only: a later "%" can take over any
// stretch an earlier one would, so the scan never revisits more than one star. Time is
// O(len(Value) * len(Pattern)) at worst, linear for the usual patterns; no recursion.
// A run of "%" at the end of the pattern matches the empty rest of a value.
bool MatchPatternedStrings(const std::string& Value, const std::string& Pattern, char C1, char C2) {
    const char* v = Value.c_str();
    const char* p = Pattern.c_str();
    const std::size_t vn = std::strlen(v);  // a zero byte ends a string
    const std::size_t pn = std::strlen(p);
    std::size_t vi = 0;
    std::size_t pi = 0;
    std::size_t starP = std::string::npos;  // pattern position just after the last "%" seen
    std::size_t starV = 0;                  // value position that "%" was last tried to end at
    while (vi < vn) {
        if (pi < pn && p[pi] == '%') {
            starP = ++pi;
            starV = vi;
        } else if (pi < pn && (p[pi] == '_' || p[pi] == v[vi])) {
            ++pi;
            ++vi;
        } else if (starP != std::string::npos) {
            pi = starP;
            vi = ++starV;
        } else {
            return false;
        }
    }
    while (pi < pn && p[pi] == '%') ++pi;
    return pi == pn;
}

// ---------------------------------------------------------------------------------------------
// Operating-system routines

std::string OrqIncludeTrailingBackslash(const std::string& Path) {
    // An empty path names the current folder; a delimiter would turn it into the root.
    if (Path.empty() || Path.back() == '/') return Path;
    return Path + '/';
}

std::string GetCurrentUser() {
    std::string name = platform::GetUserName();
    if (name.size() > MaxNameLength) name.resize(MaxNameLength);
    return name;
}

std::string GetCurrentComputer() {
    std::string name = platform::GetComputerName();
    if (name.size() > MaxNameLength) name.resize(MaxNameLength);
    return name;
}

uint32_t GetCurrentThreadIdVal() {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

uint32_t GetMSTimeMarker() {
    return platform::GetTickCount();
}

std::string GetOSDetails() {
    utsname info{};
    if (::uname(&info) != 0) return "unknown";
    int major = 0, minor = 0, patch = 0;
    std::sscanf(info.release, "%d.%d.%d", &major, &minor, &patch);
    std::string build = info.version;
    if (build.size() > 128) build.resize(128);
    return "Linux: " + Format(" %d.%d.%d ", {major, minor, patch}) + " " + build;
}

std::string GetOSErrorMsg(const void* /*Param*/) {
    const int code = platform::GetLastError();
    if (code == 0) return "The error type could not be determined";
    return platform::SysErrorMessage(code);
}

// ---------------------------------------------------------------------------------------------
// Size calculators

int CalcTableHeaderSize(int IndexCount) {
    const int64_t size = 48 + 6 * int64_t(IndexCount);
    if (size < 1 || size > 255) throw Exception("Debug check -  header size <> 256");
    return 256;
}

int FixedValueSize(TFieldType FieldType) {
    switch (FieldType) {
        case ftSmallint:
        case ftWord:
            return 2;
        case ftInteger:
        case ftAutoInc:
            return 4;
        case ftBoolean:
            return 1;
        case ftFloat:
        case ftCurrency:
        case ftBCD:
        case ftDate:
        case ftTime:
        case ftDateTime:
            return 8;
        default:
            return 0;
    }
}

int CalculateCoreDataSize(TFieldType FieldType) {
    if (FieldType == ftString || FieldType == ftWideString) return 2;  // the size marker
    const int size = FixedValueSize(FieldType);
    if (size == 0)
        throw Exception(std::string("Error in setting CoreDataSize - field type not found: ") +
                        FieldTypeName(FieldType));
    return size;
}

// ---------------------------------------------------------------------------------------------
// Field names and strings

void ConvertFieldNamesToList(const std::string& Names, TStrings* List) {
    List->Clear();
    if (Names.empty()) return;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = Names.find(';', start);
        if (end == std::string::npos) {
            List->Add(Names.substr(start));
            return;
        }
        List->Add(Names.substr(start, end - start));
        start = end + 1;
    }
}

void StringLToWideChar(const std::string& S, char16_t* Dest, int DestSize) {
    if (DestSize < 1) return;
    const std::size_t n = std::min(S.size(), std::size_t(DestSize - 1));
    for (std::size_t i = 0; i < n; ++i) Dest[i] = AnsiCharToUnicode(static_cast<unsigned char>(S[i]));
    Dest[n] = 0;
}

}  // namespace ostra
