// The version resource component and the overwrite decisions.
#include "installer/library/cmp_TVersion.h"

#include <unistd.h>

#include <cmath>
#include <memory>

#include "host/AnsiCodec.h"
#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_Strings.h"
#include "platform/File.h"
#include "platform/VersionResource.h"

namespace ostra {

namespace {

const int LanguageIds[] = {
    0x0401, 0x0402, 0x0403, 0x0404, 0x0405, 0x0406, 0x0407, 0x0408, 0x0409, 0x040A, 0x040B, 0x040C,
    0x040D, 0x040E, 0x040F, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418,
    0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0804, 0x0807, 0x0809,
    0x080A, 0x080C, 0x0810, 0x0813, 0x0814, 0x0816, 0x081A, 0x0C0C, 0x100C,
};
const int CodePages[] = {0, 932, 949, 950, 1200, 1250, 1251, 1252, 1253, 1254, 1255, 1256};

const char* const LanguageNames[] = {
    "lnArabic", "lnBulgarian", "lnCatalan", "lnTraditionalChinese", "lnCzech", "lnDanish", "lnGerman", "lnGreek",
    "lnUSEnglish", "lnCastilianSpanish", "lnFinnish", "lnFrench", "lnHebrew", "lnHungarian", "lnIcelandic",
    "lnItalian", "lnJapanese", "lnKorean", "lnDutch", "lnNorwegianBokmal", "lnPolish", "lnBrazilianPortuguese",
    "lnRhaetoRomanic", "lnRomanian", "lnRussian", "lnCroatoSerbian", "lnSlovak", "lnAlbanian", "lnSwedish", "lnThai",
    "lnTurkish", "lnUrdu", "lnBahasa", "lnSimplifiedChinese", "lnSwissGerman", "lnUKEnglish", "lnMexicanSpanish",
    "lnBelgianFrench", "lnSwissItalian", "lnBelgianDutch", "lnNorwegianNynorsk", "lnPortuguese", "lnSerboCroatian",
    "lnCanadianFrench", "lnSwissFrench",
};
const char* const CharacterSetNames[] = {"csASCII",    "csJapan",        "csKorea",   "csTaiwan",  "csUnicode",
                                         "csLatin2",   "csCyrillic",     "csMultilingual", "csGreek", "csTurkish",
                                         "csHebrew",   "csArabic"};

template <std::string TVersionInfo::*Field>
std::string Get(const TVersionInfo& info) {
    return info.*Field;
}

[[maybe_unused]] const bool kPublished =
    Publish<TVersionInfo, TPersistent>()
        .String("Comment", &Get<&TVersionInfo::Comment>)
        .String("CompanyName", &Get<&TVersionInfo::CompanyName>)
        .String("FileDescription", &Get<&TVersionInfo::FileDescription>)
        .String("FileVersion", &Get<&TVersionInfo::FileVersion>)
        .String("InternalName", &Get<&TVersionInfo::InternalName>)
        .String("LegalCopyright", &Get<&TVersionInfo::LegalCopyright>)
        .String("LegalTradeMarks", &Get<&TVersionInfo::LegalTradeMarks>)
        .String("OriginalFileName", &Get<&TVersionInfo::OriginalFileName>)
        .String("PrivateBuild", &Get<&TVersionInfo::PrivateBuild>)
        .String("ProductName", &Get<&TVersionInfo::ProductName>)
        .String("ProductVersion", &Get<&TVersionInfo::ProductVersion>)
        .String("SpecialBuild", &Get<&TVersionInfo::SpecialBuild>)
        .String("FileOS", &Get<&TVersionInfo::FileOS>)
        .String("FileType", &Get<&TVersionInfo::FileType>)
        .String("FileSubType", &Get<&TVersionInfo::FileSubType>) &&
    Publish<TVersionResource, TComponent>()
        .String("FileName", &TVersionResource::FileName, &TVersionResource::SetFileName)
        .Stored(&TVersionResource::FileNameStored)
        .Enum("Language", &TVersionResource::Language, &TVersionResource::SetLanguage, LanguageNames)
        .Default(lnUSEnglish)
        .Enum("CharacterSet", &TVersionResource::CharacterSet, &TVersionResource::SetCharacterSet, CharacterSetNames)
        .Default(csMultilingual)
        .Object("VersionInfo", &TVersionResource::VersionInfo);

std::string FileOSText(uint32_t os) {
    switch (os) {
        case 0x1: return "Windows 3.0 or later";
        case 0x2: return "16 bit OS/2 Presentation Manager";
        case 0x3: return "32 bit OS/2 Presentation Manager";
        case 0x4: return "32 bit Windows";
        case 0x10000: return "MS-Dos";
        case 0x10001: return "Windows 3.0 or later with MS-Dos";
        case 0x10004: return "32 bit Windows with MS-Dos";
        case 0x20000: return "16 bit OS/2";
        case 0x20002: return "16 bit OS/2 with Presentation Manager";
        case 0x30000: return "32 bit OS/2";
        case 0x30003: return "32 bit OS/2 with Presentation Manager";
        case 0x40000: return "Windows NT";
        case 0x40004: return "Windows NT with 32 bit Windows";
        default: return "Unknown";
    }
}

std::string FileTypeText(uint32_t type) {
    switch (type) {
        case 1: return "Application";
        case 2: return "Dynamic-Link Library";
        case 3: return "Device Driver";
        case 4: return "Font";
        case 5: return "Virtual Device Driver";
        case 7: return "Static-Link Library";
        default: return "Unknown";
    }
}

std::string FileSubTypeText(uint32_t type, uint32_t subtype) {
    static const char* const Drivers[] = {"Printer", "Keyboard", "Language", "Display", "Mouse",
                                          "Network", "System",   "Installable", "Sound", "Communications"};
    static const char* const Fonts[] = {"Raster", "Vector", "TrueType"};
    if (type == 3) return subtype >= 1 && subtype <= 10 ? Drivers[subtype - 1] : "Unknown";
    if (type == 4) return subtype >= 1 && subtype <= 3 ? Fonts[subtype - 1] : "Unknown";
    return "";
}

uint32_t Word32(const std::string& bytes, size_t index) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[index * 4 + i]);
    return v;
}

std::string VersionText(uint32_t ms, uint32_t ls) {
    return Format("%d.%d.%d.%d", {static_cast<int>(ms >> 16), static_cast<int>(ms & 0xFFFF), static_cast<int>(ls >> 16),
                                  static_cast<int>(ls & 0xFFFF)});
}

// A file's last-write time as file stamps keep it (to 2 seconds); false when it cannot be opened.
bool StampOf(const std::string& path, TDateTime& stamp) {
    std::string native = WinToNative(path);
    platform::File file;
    if (native.empty() ||
        !file.Open(native, platform::FileAccess::Read, platform::FileShare::DenyNone, platform::FileCreate::OpenExisting))
        return false;
    return WinGetLastWriteTime(path, stamp);
}

TDateTime TwoSeconds(TDateTime t) {
    double seconds = std::floor(t * SecsPerDay + 1e-6);
    seconds -= std::fmod(seconds, 2.0);
    return seconds / SecsPerDay;
}

// The decision of the date comparison for a known new date.
int ByDate(TDateTime newDate, const std::string& existingFile) {
    TDateTime existing;
    if (!StampOf(existingFile, existing)) return 0;
    TDateTime a = TwoSeconds(newDate), b = TwoSeconds(existing);
    return a > b ? 2 : a == b ? 1 : 3;
}

// The decision of the version comparison.
int ByVersion(const std::string& newVersion, const std::string& existingVersion) {
    switch (CompareVersions(newVersion, existingVersion)) {
        case 0: return 1;
        case 1: return 2;
        default: return 3;
    }
}

std::string FileVersionOf(const std::string& path) {
    TVersionResource& shared = SharedVersionResource();
    shared.SetFileName(path);
    return shared.VersionInfo()->FileVersion;
}

// The rules both comparison functions share; newVersion and newDate are asked for only when the
// mode needs them.
template <class NewVersion, class NewDate>
int Decide(const std::string& existingFile, TOverwriteType mode, NewVersion newVersion, NewDate newDate) {
    switch (mode) {
        case owAlways: return 2;
        case owNever: return !Trim(existingFile).empty() && WinFileExists(existingFile) ? 3 : 2;
        case owVersion: {
            std::string version = newVersion();
            return ByVersion(version, FileVersionOf(existingFile));
        }
        case owDate: return newDate();
        case owVersionDate: {
            std::string version = newVersion();
            int decision = ByVersion(version, FileVersionOf(existingFile));
            return decision == 1 ? newDate() : decision;
        }
        case owAsk: return 4;
    }
    return 2;
}

}  // namespace

int LanguageIdentifier(TVersionLanguage language) { return LanguageIds[language]; }
int CodePage(TCharacterSet characterSet) { return CodePages[characterSet]; }

void TVersionInfo::Clear() {
    for (std::string* s : {&Comment, &CompanyName, &FileDescription, &FileVersion, &InternalName, &LegalCopyright,
                           &LegalTradeMarks, &OriginalFileName, &PrivateBuild, &ProductName, &ProductVersion,
                           &SpecialBuild, &FileOS, &FileType, &FileSubType})
        s->clear();
}

TVersionResource::TVersionResource(TComponent* owner)
    : TComponent(owner), FFileName(OwnProgramFile()), FVersionInfo(std::make_unique<TVersionInfo>()) {
    Read();
}

void TVersionResource::SetFileName(const std::string& value) {
    FFileName = value;
    FFileNameStored = value != OwnProgramFile();
    Read();
}

void TVersionResource::SetLanguage(TVersionLanguage value) {
    FLanguage = value;
    Read();
}

void TVersionResource::SetCharacterSet(TCharacterSet value) {
    FCharacterSet = value;
    Read();
}

void TVersionResource::Read() {
    TVersionInfo& info = *FVersionInfo;
    info.Clear();
    std::string block, fixed;
    std::string native = WinToNative(FFileName);
    if (native.empty() || !platform::GetFileVersionInfo(native, block)) return;
    if (!platform::VerQueryValue(block, "\\", fixed) || fixed.size() < 52) return;
    info.FileVersion = VersionText(Word32(fixed, 2), Word32(fixed, 3));
    info.ProductVersion = VersionText(Word32(fixed, 4), Word32(fixed, 5));
    info.FileOS = FileOSText(Word32(fixed, 8));
    info.FileType = FileTypeText(Word32(fixed, 9));
    info.FileSubType = FileSubTypeText(Word32(fixed, 9), Word32(fixed, 10));
    std::string prefix = "\\StringFileInfo\\" + IntToHex(LanguageIdentifier(FLanguage), 4) +
                         IntToHex(CodePage(FCharacterSet), 4) + "\\";
    const std::pair<const char*, std::string*> names[] = {
        {"Comments", &info.Comment},           {"CompanyName", &info.CompanyName},
        {"FileDescription", &info.FileDescription}, {"InternalName", &info.InternalName},
        {"LegalCopyright", &info.LegalCopyright},   {"LegalTradeMarks", &info.LegalTradeMarks},
        {"OriginalFileName", &info.OriginalFileName}, {"PrivateBuild", &info.PrivateBuild},
        {"ProductName", &info.ProductName},    {"ProductVersion", &info.ProductVersion},
        {"SpecialBuild", &info.SpecialBuild},
    };
    for (const auto& [name, field] : names) {
        std::string utf16;
        if (!platform::VerQueryValue(block, prefix + name, utf16)) continue;
        std::u16string text;
        for (size_t i = 0; i + 1 < utf16.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(utf16[i]) | (static_cast<unsigned char>(utf16[i + 1]) << 8));
        *field = Utf16ToAnsi(text);
    }
}

int TVersionResource::IsFileNewerByName(const std::string& newFile, const std::string& existingFile, TOverwriteType mode) {
    return Decide(
        existingFile, mode, [&] { return FileVersionOf(newFile); },
        [&] {
            TDateTime newDate;
            return StampOf(newFile, newDate) ? ByDate(newDate, existingFile) : 0;
        });
}

int IsFileNewerByInfo(const std::string& newVersion, const std::string& existingFile, TOverwriteType mode,
                      TDateTime newDate) {
    return Decide(
        existingFile, mode, [&] { return newVersion; }, [&] { return ByDate(newDate, existingFile); });
}

TVersionResource& SharedVersionResource() {
    static std::unique_ptr<TVersionResource> shared;
    if (!shared) shared = std::make_unique<TVersionResource>(nullptr);
    return *shared;
}

int CompareVersions(const std::string& a, const std::string& b) {
    for (int i = 1;; ++i) {
        std::string partA = GetDelimitedField(a, i, '.'), partB = GetDelimitedField(b, i, '.');
        if (partA.empty() || partB.empty()) return partA.empty() && partB.empty() ? 0 : partA.empty() ? 2 : 1;
        int32_t numberA = 0, numberB = 0;
        int order;
        if (TryStrToInt(partA, numberA) && TryStrToInt(partB, numberB))
            order = numberA < numberB ? -1 : numberA > numberB ? 1 : 0;
        else
            order = partA.compare(partB) < 0 ? -1 : partA.compare(partB) > 0 ? 1 : 0;
        if (order < 0) return 2;
        if (order > 0) return 1;
    }
}

std::string OwnProgramFile() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? NativeToWin(std::string(path, static_cast<size_t>(length))) : "";
}

}  // namespace ostra
