// The installer's languages and their texts. A TLanguage keeps one language's text in the language
// text format and parses it into numbered strings and memos whenever the text changes; the
// translator (cmp_TTranslator.h) looks them up by number (GLID) or by text.
//
// Language text format: lines, each taken with its leading and trailing blanks removed.
//   - A blank line is ignored. A line starting with "*" is a comment, also inside a memo.
//   - GLID;Text is a string element: GLID is the text before the first ";", a decimal integer with
//     no blanks around it; Text runs from the first ";" to the next one (or the end of the line), is
//     kept as it stands, must not be blank and is cut to 255 characters. A ";" cannot occur in a text.
//   - #GLID; (or #GLID) opens the memo GLID: every following line up to the closing line is a line
//     of the memo, without its surrounding blanks (blank lines and comments are skipped; a line
//     starting with "#" other than the closing line is memo text). "#" alone closes the memo.
//   - A memo still open at the end of the text is dropped.
// Several elements may carry one GLID; lookups take the first.
//
// Parse errors are plain exceptions that name the 0-based line and the trimmed line; they reach
// whoever changed the text, the text keeps the change, and the language then has no elements.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "host/Graphics.h"
#include "host/StringList.h"

namespace ostra {

class TLanguage;
class TTranslator;

// The installer library's languages, in their stored order; flUser stands for the language of the
// Windows user and has no language object.
enum TFrnmLanguage {
    flChineseSimplified, flChineseTraditional, flCzech, flDanish, flDutch, flEnglish, flFrench, flGerman, flGreek,
    flHebrew, flItalian, flJapanese, flKorean, flNorwegianBokmal, flNorwegianNynorsk, flPolish, flPortugese,
    flRussian, flSpanish, flSwedish, flUser, flVietnamese
};
// The identifiers of the TFrnmLanguage values, by ordinal (for streaming).
extern const char* const FrnmLanguageIdents[22];

// One numbered element of a language's text.
class TLanguageElement {
public:
    TLanguageElement(TLanguage* language, int glid, int lineNumber)
        : FLanguage(language), FGLID(glid), FLineNumber(lineNumber) {}
    virtual ~TLanguageElement() = default;
    TLanguageElement(const TLanguageElement&) = delete;
    TLanguageElement& operator=(const TLanguageElement&) = delete;

    int GLID() const { return FGLID; }
    TLanguage* Language() const { return FLanguage; }
    // The 0-based line of the text where the element starts (a memo's opening marker).
    int LineNumber() const { return FLineNumber; }

private:
    TLanguage* FLanguage;
    int FGLID;
    int FLineNumber;
};

// A numbered one-line text.
class TLanguageString : public TLanguageElement {
public:
    static constexpr size_t kMaxText = 255;
    // Keeps at most 255 characters of text.
    TLanguageString(TLanguage* language, int glid, int lineNumber, const std::string& text)
        : TLanguageElement(language, glid, lineNumber), FText(text.substr(0, kMaxText)) {}
    const std::string& Text() const { return FText; }

private:
    std::string FText;
};

// A numbered multi-line text.
class TLanguageMemo : public TLanguageElement {
public:
    TLanguageMemo(TLanguage* language, int glid, int lineNumber, const std::vector<std::string>& lines);
    const TStrings& Lines() const { return FLines; }

private:
    TStringList FLines;
};

// A language's text: a string list that has its language parse it again after every change (once
// at the end of a BeginUpdate/EndUpdate bracket or of a bulk change such as Assign or
// LoadFromFile).
class TLangFormatStrings : public TStringList {
public:
    explicit TLangFormatStrings(TLanguage& language) : FLanguage(language) {}

protected:
    void Changed() override;

private:
    TLanguage& FLanguage;
};

// One language of the translator: its text and elements, its flag bitmap and file names, and the
// font used for it when FontOverride is set.
class TLanguage : public TPersistent {
public:
    TLanguage(TTranslator* translator, std::string bitmapName, std::string languageFileName, TFrnmLanguage ident);
    ~TLanguage() override;
    TLanguage(const TLanguage&) = delete;
    TLanguage& operator=(const TLanguage&) = delete;

    TTranslator* Translator() const { return FTranslator; }
    // The language's flag bitmap resource ("BM_LANG_ENGLISH") and language file ("frniEnglish.txt");
    // nothing in the system loads either.
    const std::string& BitmapName() const { return FBitmapName; }
    const std::string& LanguageFileName() const { return FLanguageFileName; }

    // ---- Published
    TFont* Font() const { return FFont.get(); }
    // Copies the font.
    void SetFont(const TFont& value) { FFont->Assign(&value); }
    bool FontOverride() const { return FFontOverride; }
    void SetFontOverride(bool value) { FFontOverride = value; }
    TFrnmLanguage LanguageIdent() const { return FLanguageIdent; }
    TLangFormatStrings* Strings() const { return FStrings.get(); }
    // Copies the lines (and parses them once).
    void SetStrings(const TStrings& value) { FStrings->Assign(&value); }

    // Parsing follows every change of Strings while AutoParse is set (from creation).
    bool AutoParse() const { return FAutoParse; }
    void SetAutoParse(bool value) { FAutoParse = value; }
    // Rebuilds the elements from Strings when AutoParse is set; raises the parse errors.
    void Parse();
    // Frees all elements.
    void ClearElements();

    // The first string element with that number; null when none.
    const TLanguageString* FindStringByGLID(int GLID) const;
    // The first memo element with that number; null when none.
    const TLanguageMemo* FindMemoByGLID(int GLID) const;
    // The first string element whose text equals text, ignoring case; null when none.
    const TLanguageString* FindStringByText(const std::string& text) const;
    // The first memo element whose lines, as one text, equal those of lines exactly; null when none.
    const TLanguageMemo* FindMemoByText(const TStrings& lines) const;

    int StringElementCount() const { return static_cast<int>(FStringElements.size()); }
    const TLanguageString& StringElements(int index) const { return *FStringElements.at(index); }
    int MemoElementCount() const { return static_cast<int>(FMemoElements.size()); }
    const TLanguageMemo& MemoElements(int index) const { return *FMemoElements.at(index); }

private:
    TTranslator* FTranslator;
    std::string FBitmapName;
    std::string FLanguageFileName;
    std::unique_ptr<TFont> FFont;
    bool FFontOverride = false;
    std::vector<std::unique_ptr<TLanguageMemo>> FMemoElements;
    std::vector<std::unique_ptr<TLanguageString>> FStringElements;
    TFrnmLanguage FLanguageIdent;
    std::unique_ptr<TLangFormatStrings> FStrings;
    bool FAutoParse = true;
};

}  // namespace ostra
