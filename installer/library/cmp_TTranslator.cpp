// The translator, its language table and the global translation routines.
#include "installer/library/cmp_TTranslator.h"

#include <algorithm>

#include "host/Collation.h"
#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"
#include "installer/library/routines_Exceptions.h"
#include "platform/UserLanguage.h"

namespace ostra {

namespace {

// One language of the table: its property, flag bitmap, language file and font.
struct TLanguageRow {
    const char* Property;
    const char* BitmapName;
    const char* FileName;
    int Charset;
    const char* Face;
    int MinimumSize;
};

// By TFrnmLanguage; the row of flUser is empty. The Chinese face is PMingLiU for both Chinese
// languages; the Japanese and Korean faces are given by their English names, as the host's fonts know
// them.
const TLanguageRow kLanguages[22] = {
    {"lgChineseSimplified", "BM_LANG_SIMPCHINESE", "frniChineseSimplified.txt", 134, "PMingLiU", 9},
    {"lgChineseTraditional", "BM_LANG_CHINESE_TRADITIONAL", "frniChineseTraditional.txt", 136, "PMingLiU", 9},
    {"lgCzech", "BM_LANG_CZECH", "frniCzech.txt", 238, "Arial", 8},
    {"lgDanish", "BM_LANG_DANISH", "frniDanish.txt", 0, "Arial", 8},
    {"lgDutch", "BM_LANG_DUTCH", "frniDutch.txt", 0, "Arial", 8},
    {"lgEnglish", "BM_LANG_ENGLISH", "frniEnglish.txt", 0, "Arial", 8},
    {"lgFrench", "BM_LANG_FRENCH", "frniFrench.txt", 0, "Arial", 8},
    {"lgGerman", "BM_LANG_GERMAN", "frniGerman.txt", 0, "MS Sans Serif", 8},
    {"lgGreek", "BM_LANG_GREEK", "frniGreek.txt", 0, "SGreek", 8},
    {"lgHebrew", "BM_LANG_HEBREW", "frniHebrew.txt", 177, "Arial", 8},
    {"lgItalian", "BM_LANG_ITALIAN", "frniItalian.txt", 0, "Arial", 8},
    {"lgJapanese", "BM_LANG_JAPANESE", "frniJapanese.txt", 128, "MS PGothic", 9},
    {"lgKorean", "BM_LANG_KOREAN", "frniKorean.txt", 129, "Batang", 9},
    {"lgNorwegianBokmal", "BM_LANG_NORWEGIAN_BOKMAL", "frniNorwegianBokmal.txt", 0, "Arial", 8},
    {"lgNorwegianNynorsk", "BM_LANG_NORWEGIAN_NYNORSK", "frniNorwegianNynorsk.txt", 0, "Arial", 8},
    {"lgPolish", "BM_LANG_POLISH", "frniPolish.txt", 238, "Arial", 8},
    {"lgPortugese", "BM_LANG_PORTUGESE", "frniPortugese.txt", 238, "Arial", 8},
    {"lgRussian", "BM_LANG_RUSSIAN", "frniRussian.txt", 204, "Arial", 8},
    {"lgSpanish", "BM_LANG_SPANISH", "frniSpanish.txt", 0, "Arial", 8},
    {"lgSwedish", "BM_LANG_SWEDISH", "frniSwedish.txt", 0, "Arial", 8},
    {nullptr, nullptr, nullptr, 0, nullptr, 0},
    {"lgVietnamese", "BM_LANG_VIETNAMESE", "frniVietnamese.txt", 163, "Arial", 8},
};

const TLanguageRow& RowOf(TFrnmLanguage language) {
    if (language < 0 || language > flVietnamese || !kLanguages[language].Property)
        throw Exception("Unrecognized language");
    return kLanguages[language];
}

TTranslator* gCurrentTranslator = nullptr;

bool PublishTranslator() {
    TPublisher<TTranslator> publisher = Publish<TTranslator, TComponent>();
    for (int i = 0; i <= flVietnamese; ++i) {
        if (!kLanguages[i].Property) continue;
        auto language = static_cast<TFrnmLanguage>(i);
        publisher.Object(kLanguages[i].Property,
                         [language](const TTranslator& t) { return t.FindLanguage(language); });
    }
    publisher.Enum("TranslateIntoLanguage", &TTranslator::TranslateIntoLanguage,
                   &TTranslator::SetTranslateIntoLanguage, FrnmLanguageIdents)
        .Default(flUser);
    return true;
}

[[maybe_unused]] const bool kPublished = PublishTranslator();

bool HasStrings(const TLanguage* language) { return language && language->Strings()->Count() > 0; }

}  // namespace

// ---- The language table

TFrnmLanguage LanguageFromLangID(uint16_t langID) {
    const int primary = langID & 0x3FF, sublanguage = langID >> 10;
    switch (primary) {
        case 0x04: return sublanguage == 1 ? flChineseTraditional : flChineseSimplified;
        case 0x05: return flCzech;
        case 0x06: return flDanish;
        case 0x07: return flGerman;
        case 0x08: return flGreek;
        case 0x0A: return flSpanish;
        case 0x0C: return flFrench;
        case 0x0D: return flHebrew;
        case 0x10: return flItalian;
        case 0x11: return flJapanese;
        case 0x12: return flKorean;
        case 0x13: return flDutch;
        case 0x14: return sublanguage == 2 ? flNorwegianNynorsk : flNorwegianBokmal;
        case 0x15: return flPolish;
        case 0x16: return flPortugese;
        case 0x19: return flRussian;
        case 0x1D: return flSwedish;
        case 0x2A: return flVietnamese;
        default: return flEnglish;
    }
}

int LanguageCharset(TFrnmLanguage language) { return RowOf(language).Charset; }
std::string LanguageFace(TFrnmLanguage language) { return RowOf(language).Face; }
int LanguageMinimumSize(TFrnmLanguage language) { return RowOf(language).MinimumSize; }

void SetControlFonts(ITranslatable* control, const TLanguage& language) {
    TFont font;
    control->GetFont(font);
    if (language.FontOverride()) {
        font.Assign(language.Font());
    } else {
        font.SetCharset(LanguageCharset(language.LanguageIdent()));
        font.SetName(LanguageFace(language.LanguageIdent()));
        if (font.Size() < LanguageMinimumSize(language.LanguageIdent()))
            font.SetSize(LanguageMinimumSize(language.LanguageIdent()));
    }
    control->SetFont(font);
    if (control->Kind() == tkWindowedControl || control->Kind() == tkForm)
        control->ForEachChildControl([&](ITranslatable& child) { SetControlFonts(&child, language); });
}

// ---- TTranslator

TTranslator::TTranslator(TComponent* AOwner) : TComponent(AOwner) {
    for (int i = 0; i <= flVietnamese; ++i)
        if (kLanguages[i].Property)
            FLanguages[i] = std::make_unique<TLanguage>(this, kLanguages[i].BitmapName, kLanguages[i].FileName,
                                                        static_cast<TFrnmLanguage>(i));
    if (!gCurrentTranslator) {
        gCurrentTranslator = this;
        SetIExceptionTranslation(TranslateMessageText);
    }
}

TTranslator::~TTranslator() {
    if (gCurrentTranslator == this) {
        gCurrentTranslator = nullptr;
        SetIExceptionTranslation(nullptr);
    }
}

void TTranslator::SetTranslateIntoLanguage(TFrnmLanguage value) {
    FTranslateIntoLanguage = value;
    if (OnTranslateIntoLanguageChange) OnTranslateIntoLanguageChange(this);
}

TLanguage* TTranslator::FindLanguage(TFrnmLanguage value) const {
    return value >= 0 && value <= flVietnamese ? FLanguages[value].get() : nullptr;
}

TLanguage* TTranslator::UserLanguage() const {
    uint16_t langID;
    if (!platform::GetUserDefaultLangID(langID)) return nullptr;
    return FindLanguage(LanguageFromLangID(langID));
}

TLanguage* TTranslator::TargetLanguage() const {
    return FTranslateIntoLanguage == flUser ? UserLanguage() : FindLanguage(FTranslateIntoLanguage);
}

std::string TTranslator::TranslateGLID(int GLID, const std::string& defaultText) const {
    const TLanguage* target = TargetLanguage();
    const TLanguageString* found = target ? target->FindStringByGLID(GLID) : nullptr;
    return found ? found->Text() : defaultText;
}

std::string TTranslator::TranslateText(TFrnmLanguage source, const std::string& text) const {
    const TLanguage* from = source == flUser ? UserLanguage() : FindLanguage(source);
    const TLanguageString* found = from ? from->FindStringByText(text) : nullptr;
    return found ? TranslateGLID(found->GLID(), text) : text;
}

void TTranslator::TranslateMemo(TFrnmLanguage source, const TStrings& lines, TStrings& result) const {
    result.Assign(&lines);
    const TLanguage* from = source == flUser ? UserLanguage() : FindLanguage(source);
    const TLanguageMemo* memo = from ? from->FindMemoByText(lines) : nullptr;
    const TLanguage* target = memo ? TargetLanguage() : nullptr;
    if (const TLanguageMemo* translated = target ? target->FindMemoByGLID(memo->GLID()) : nullptr)
        result.Assign(&translated->Lines());
}

void TTranslator::TranslateOne(TFrnmLanguage source, ITranslatable& component) {
    const TTranslatableKind kind = component.Kind();
    const bool control = kind != tkComponent;
    // A control is hidden while its texts change (forms and images are not), a label does not size
    // itself meanwhile; both come back afterwards, also when the translation fails.
    const bool wasVisible = control && component.Visible();
    const bool wasAutoSize = kind == tkLabel && component.AutoSize();
    if (control && kind != tkForm && kind != tkImage) component.SetVisible(false);
    if (kind == tkLabel) component.SetAutoSize(false);
    struct TRestore {
        ITranslatable& Component;
        TTranslatableKind Kind;
        bool Visible, AutoSize;
        ~TRestore() {
            if (Kind == tkLabel) Component.SetAutoSize(AutoSize);
            if (Kind != tkComponent) Component.SetVisible(Visible);
            if (Kind == tkWindowedControl || Kind == tkForm) Component.Realign();
        }
    } restore {component, kind, wasVisible, wasAutoSize};

    const std::optional<int> glid = component.GLID();
    if (glid && *glid > 0) component.SetCaption(TranslateGLID(*glid, component.Caption()));
    if (!glid || *glid == 0) {
        // Only texts that change are written back.
        auto translate = [&](TTranslatableText& text) {
            const std::string value = text.Get();
            std::string translated = TranslateText(source, value);
            if (translated != value) text.Set(translated);
        };
        for (TTranslatableText& property : component.TextProperties())
            if (!AnsiSameText(property.Name, "NAME") && !Trim(property.Get()).empty()) translate(property);
        if (std::optional<TTranslatableText> memo = component.MemoText()) {
            TStringList lines, result;
            lines.SetText(memo->Get());
            TranslateMemo(source, lines, result);
            if (!result.Equals(lines)) memo->Set(result.Text());
        }
        for (TTranslatableText& item : component.ItemTexts()) translate(item);
    }
    component.ForEachOwned([&](ITranslatable& owned) {
        if (owned.Kind() != tkForm) TranslateOne(source, owned);
    });
}

TFrnmLanguage TTranslator::TranslateComponent(TFrnmLanguage source, ITranslatable* component) {
    if (!component) return source;
    TranslateOne(source, *component);
    return HasStrings(TargetLanguage()) ? FTranslateIntoLanguage : source;
}

template <class Body>
auto TTranslator::WithTarget(TFrnmLanguage target, Body body) {
    const TFrnmLanguage saved = FTranslateIntoLanguage;
    FTranslateIntoLanguage = target;
    struct TRestore {
        TTranslator& Translator;
        TFrnmLanguage Saved;
        ~TRestore() { Translator.FTranslateIntoLanguage = Saved; }
    } restore {*this, saved};
    return body();
}

TFrnmLanguage TTranslator::TranslateComponentInto(TFrnmLanguage source, TFrnmLanguage target,
                                                  ITranslatable* component) {
    return WithTarget(target, [&] { return TranslateComponent(source, component); });
}

void TTranslator::ApplyFont(ITranslatable* control, bool keepTargetFont) {
    const TLanguage* language = TargetLanguage();
    if (!control || !language) return;
    if (!HasStrings(language) && !keepTargetFont) language = FindLanguage(flEnglish);
    SetControlFonts(control, *language);
}

void TTranslator::ApplyFontInto(TFrnmLanguage target, ITranslatable* control, bool keepTargetFont) {
    WithTarget(target, [&] { ApplyFont(control, keepTargetFont); });
}

// ---- Global routines

TTranslator* CurrentTranslator() { return gCurrentTranslator; }

void TranslatorApplyFont(ITranslatable* control) {
    if (gCurrentTranslator) gCurrentTranslator->ApplyFont(control, false);
}

void TranslatorApplyFontInto(TFrnmLanguage target, ITranslatable* control) {
    if (gCurrentTranslator) gCurrentTranslator->ApplyFontInto(target, control, false);
}

std::string TranslateMessageText(const std::string& text) {
    return gCurrentTranslator ? gCurrentTranslator->TranslateText(flEnglish, text) : text;
}

TFrnmLanguage TranslatorTranslateComponent(TFrnmLanguage lastLanguage, ITranslatable* component) {
    return gCurrentTranslator ? gCurrentTranslator->TranslateComponent(lastLanguage, component) : lastLanguage;
}

TFrnmLanguage TranslatorTranslateComponentInto(TFrnmLanguage lastLanguage, TFrnmLanguage target,
                                               ITranslatable* component) {
    return gCurrentTranslator ? gCurrentTranslator->TranslateComponentInto(lastLanguage, target, component)
                              : lastLanguage;
}

}  // namespace ostra
