// TVersionResource: reads the version resource of a file (platform/VersionResource.h) into a
// TVersionInfo, and decides for the install file and the archive whether a file about to be
// written should replace the file already at its destination (the overwrite modes of
// TOverwriteType). One shared instance serves the whole program; the comparison functions use it.
//
// Decision results of the comparison functions:
//   0 no decision: a file needed for the date comparison could not be opened (the file is written)
//   1 both are the same (equal versions, or equal dates)
//   2 the new file should be written (newer, or owAlways, or owNever with no existing file)
//   3 the existing file should stay (it is newer, or owNever and it exists)
//   4 ask the user (owAsk)
// Dates are compared as the files' last-write times in local time, to the 2 seconds that the
// date-time stamps of files keep.
#pragma once
#include <memory>
#include <string>

#include "host/Component.h"
#include "host/DateTime.h"

namespace ostra {

// The overwrite modes of an install file.
enum TOverwriteType { owAlways, owNever, owVersion, owDate, owVersionDate, owAsk };

// Languages of the string table to read, in the order of the language identifiers they stand for.
// (Named apart from the translator's TLanguage, the language object of the installer's forms.)
enum TVersionLanguage {
    lnArabic, lnBulgarian, lnCatalan, lnTraditionalChinese, lnCzech, lnDanish, lnGerman, lnGreek, lnUSEnglish,
    lnCastilianSpanish, lnFinnish, lnFrench, lnHebrew, lnHungarian, lnIcelandic, lnItalian, lnJapanese, lnKorean,
    lnDutch, lnNorwegianBokmal, lnPolish, lnBrazilianPortuguese, lnRhaetoRomanic, lnRomanian, lnRussian,
    lnCroatoSerbian, lnSlovak, lnAlbanian, lnSwedish, lnThai, lnTurkish, lnUrdu, lnBahasa, lnSimplifiedChinese,
    lnSwissGerman, lnUKEnglish, lnMexicanSpanish, lnBelgianFrench, lnSwissItalian, lnBelgianDutch,
    lnNorwegianNynorsk, lnPortuguese, lnSerboCroatian, lnCanadianFrench, lnSwissFrench
};
// Code pages of the string table to read.
enum TCharacterSet {
    csASCII, csJapan, csKorea, csTaiwan, csUnicode, csLatin2, csCyrillic, csMultilingual, csGreek, csTurkish,
    csHebrew, csArabic
};

// The language identifier / code page of an enumeration value.
int LanguageIdentifier(TVersionLanguage language);
int CodePage(TCharacterSet characterSet);

// The values read from a version resource (all empty when there is none).
class TVersionInfo : public TPersistent {
public:
    std::string Comment, CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright, LegalTradeMarks,
        OriginalFileName, PrivateBuild, ProductName, ProductVersion, SpecialBuild, FileOS, FileType, FileSubType;
    // Empties all fifteen values.
    void Clear();
};

// Reads the version resource of FileName for Language and CharacterSet after every change of
// them.
class TVersionResource : public TComponent {
public:
    // FileName starts as the running program's own file; the resource is read at once.
    explicit TVersionResource(TComponent* owner);

    const std::string& FileName() const { return FFileName; }
    // Stores the name (Windows form) and reads; the name is streamed only when it differs from the
    // running program's own file (compared case-sensitively).
    void SetFileName(const std::string& value);
    bool FileNameStored() const { return FFileNameStored; }
    TVersionLanguage Language() const { return FLanguage; }
    void SetLanguage(TVersionLanguage value);
    TCharacterSet CharacterSet() const { return FCharacterSet; }
    void SetCharacterSet(TCharacterSet value);
    TVersionInfo* VersionInfo() const { return FVersionInfo.get(); }

    // Decides for a new file and an existing one, both on disk.
    static int IsFileNewerByName(const std::string& newFile, const std::string& existingFile, TOverwriteType mode);

private:
    void Read();

    std::string FFileName;
    bool FFileNameStored = false;
    TVersionLanguage FLanguage = lnUSEnglish;
    TCharacterSet FCharacterSet = csMultilingual;
    std::unique_ptr<TVersionInfo> FVersionInfo;
};

// The program's shared instance, created on first use.
TVersionResource& SharedVersionResource();

// Decides for a new file known by its version text and date (from an archive header or recorded
// information) and the existing file on disk.
int IsFileNewerByInfo(const std::string& newVersion, const std::string& existingFile, TOverwriteType mode,
                      TDateTime newDate);

// 0 when the versions are equal, 1 when a is newer, 2 when b is newer: their full-stop-separated
// parts from the left, numerically when both are integers, else as byte strings; a version that
// runs out of parts first is the older one ("1.0" is older than "1.0.0", "1.10" newer than "1.9").
int CompareVersions(const std::string& a, const std::string& b);

// The running program's own file in Windows form.
std::string OwnProgramFile();

}  // namespace ostra
