// The language text format, its parser and the language object.
#include "installer/library/cmp_TTranslatorLanguage.h"

#include "host/Collation.h"
#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

const char* const FrnmLanguageIdents[22] = {
    "flChineseSimplified", "flChineseTraditional", "flCzech", "flDanish", "flDutch", "flEnglish", "flFrench",
    "flGerman", "flGreek", "flHebrew", "flItalian", "flJapanese", "flKorean", "flNorwegianBokmal",
    "flNorwegianNynorsk", "flPolish", "flPortugese", "flRussian", "flSpanish", "flSwedish", "flUser",
    "flVietnamese"};

namespace {

[[maybe_unused]] const bool kPublished =
    Publish<TLanguage, TPersistent>()
        .Object("Font", &TLanguage::Font)
        .Boolean("FontOverride", &TLanguage::FontOverride, &TLanguage::SetFontOverride)
        .Default(false)
        .Enum("LanguageIdent", &TLanguage::LanguageIdent, nullptr, FrnmLanguageIdents)
        .Object("Strings", &TLanguage::Strings);

[[noreturn]] void FormatError(int line, const std::string& text) {
    throw Exception(Format("The %d'th string (%s) does not have the proper format of GLID;Text", {line, text}));
}

// The number of a string or memo line: a decimal integer, optionally negative, with nothing around
// it.
int ParseGLID(const std::string& number, int line, const std::string& text) {
    if (number.empty()) FormatError(line, text);
    size_t digits = number[0] == '-' ? 1 : 0;
    int64_t value = 0;
    bool valid = digits < number.size();
    for (size_t i = digits; valid && i < number.size(); ++i) {
        valid = number[i] >= '0' && number[i] <= '9';
        value = value * 10 + (number[i] - '0');
        valid = valid && value <= int64_t{1} << 31;
    }
    if (digits) value = -value;
    if (!valid || value > INT32_MAX || value < INT32_MIN)
        throw Exception(Format("The %d'th string (%s) does not have the proper format of GLID;Text or .GLID;",
                               {line, text}));
    return static_cast<int>(value);
}

}  // namespace

TLanguageMemo::TLanguageMemo(TLanguage* language, int glid, int lineNumber, const std::vector<std::string>& lines)
    : TLanguageElement(language, glid, lineNumber) {
    for (const std::string& line : lines) FLines.Add(line);
}

void TLangFormatStrings::Changed() {
    TStringList::Changed();
    if (UpdateCount() == 0) FLanguage.Parse();
}

TLanguage::TLanguage(TTranslator* translator, std::string bitmapName, std::string languageFileName,
                     TFrnmLanguage ident)
    : FTranslator(translator), FBitmapName(std::move(bitmapName)), FLanguageFileName(std::move(languageFileName)),
      FFont(std::make_unique<TFont>()), FLanguageIdent(ident), FStrings(std::make_unique<TLangFormatStrings>(*this)) {}

TLanguage::~TLanguage() = default;

void TLanguage::ClearElements() {
    FStringElements.clear();
    FMemoElements.clear();
}

void TLanguage::Parse() {
    if (!FAutoParse) return;
    ClearElements();
    std::vector<std::unique_ptr<TLanguageString>> strings;
    std::vector<std::unique_ptr<TLanguageMemo>> memos;
    bool inMemo = false;
    int memoGLID = 0, memoLine = 0;
    std::vector<std::string> memoLines;
    for (int i = 0; i < FStrings->Count(); ++i) {
        const std::string line = Trim(FStrings->Strings(i));
        if (line.empty()) continue;
        if (line == "#") {
            if (!inMemo)
                throw Exception(
                    Format("Found the end of memo marker # at line %d. Was not in a memo however", {i}));
            memos.push_back(std::make_unique<TLanguageMemo>(this, memoGLID, memoLine, memoLines));
            inMemo = false;
        } else if (line[0] == '*') {
            continue;
        } else if (inMemo) {
            memoLines.push_back(line);
        } else if (line[0] == '#') {
            memoGLID = ParseGLID(GetDelimitedField(line.substr(1), 1, ';'), i, line);
            memoLine = i;
            memoLines.clear();
            inMemo = true;
        } else {
            int glid = ParseGLID(GetDelimitedField(line, 1, ';'), i, line);
            std::string text = GetDelimitedField(line, 2, ';');
            if (Trim(text).empty()) FormatError(i, line);
            strings.push_back(std::make_unique<TLanguageString>(this, glid, i, text));
        }
    }
    FStringElements = std::move(strings);
    FMemoElements = std::move(memos);
}

const TLanguageString* TLanguage::FindStringByGLID(int GLID) const {
    for (const auto& element : FStringElements)
        if (element->GLID() == GLID) return element.get();
    return nullptr;
}

const TLanguageMemo* TLanguage::FindMemoByGLID(int GLID) const {
    for (const auto& element : FMemoElements)
        if (element->GLID() == GLID) return element.get();
    return nullptr;
}

const TLanguageString* TLanguage::FindStringByText(const std::string& text) const {
    for (const auto& element : FStringElements)
        if (AnsiSameText(element->Text(), text)) return element.get();
    return nullptr;
}

const TLanguageMemo* TLanguage::FindMemoByText(const TStrings& lines) const {
    const std::string text = lines.Text();
    for (const auto& element : FMemoElements)
        if (element->Lines().Text() == text) return element.get();
    return nullptr;
}

}  // namespace ostra
