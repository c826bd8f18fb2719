// TTranslator gives the installer library's forms and messages a language chosen at run time. It
// owns one TLanguage (cmp_TTranslatorLanguage.h) for each of 21 languages and a target language,
// TranslateIntoLanguage, which defaults to the language of the Windows user (flUser).
//
// Forms are translated component by component (TranslatableForm.h): a translate label or button
// with a GLID gets the target language's string of that number; other texts are looked up as texts
// in the language the form shows now and replaced by the target language's string of the same
// number. Fonts follow the language: a character set, a face and a minimum size per language, or a
// font given per language. A form without translator, or a language without strings, keeps its
// English texts.
//
// The first translator created becomes the program's current translator; the library's forms and
// its exception class IException (whose texts TranslateMessageText translates from English) use it
// through the global routines below, each of which does nothing without one.
//
// Every language has a font: Hebrew, for which the table of faces had none, is drawn in "Arial"
// (character set 177) like its neighbours, so that a Hebrew user's forms open instead of failing.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "host/Component.h"
#include "installer/library/TranslatableForm.h"
#include "installer/library/cmp_TTranslatorLanguage.h"

namespace ostra {

// The translator: 21 languages and the language to translate into.
class TTranslator : public TComponent {
public:
    // Creates the 21 languages; becomes the current translator when there is none.
    explicit TTranslator(TComponent* AOwner);
    // Stops being the current translator.
    ~TTranslator() override;

    // The language to translate into; flUser is the Windows user's language. Setting it calls
    // OnTranslateIntoLanguageChange afterwards.
    TFrnmLanguage TranslateIntoLanguage() const { return FTranslateIntoLanguage; }
    void SetTranslateIntoLanguage(TFrnmLanguage value);
    TNotifyEvent OnTranslateIntoLanguageChange;

    // The language object of value; null for flUser and values without one.
    TLanguage* FindLanguage(TFrnmLanguage value) const;
    // The language of the Windows user; null when the user's language cannot be determined.
    TLanguage* UserLanguage() const;
    // UserLanguage for flUser, else FindLanguage(TranslateIntoLanguage).
    TLanguage* TargetLanguage() const;

    // The target language's string GLID, else defaultText.
    std::string TranslateGLID(int GLID, const std::string& defaultText) const;
    // The target language's string with the number of the source language's string whose text equals
    // text (ignoring case); text itself when either is missing.
    std::string TranslateText(TFrnmLanguage source, const std::string& text) const;
    // result gets a copy of lines, or the target language's memo with the number of the source
    // language's memo whose lines equal them exactly.
    void TranslateMemo(TFrnmLanguage source, const TStrings& lines, TStrings& result) const;
    // Translates the component and, depth first, every component it owns except forms; returns the
    // language the component shows afterwards (source when the target language has no strings).
    TFrnmLanguage TranslateComponent(TFrnmLanguage source, ITranslatable* component);
    // TranslateComponent into target for this call only.
    TFrnmLanguage TranslateComponentInto(TFrnmLanguage source, TFrnmLanguage target, ITranslatable* component);
    // Gives the control and its child controls the target language's font (the English one when the
    // target language has no strings, unless keepTargetFont).
    void ApplyFont(ITranslatable* control, bool keepTargetFont);
    // ApplyFont with target as the target language for this call only.
    void ApplyFontInto(TFrnmLanguage target, ITranslatable* control, bool keepTargetFont);

private:
    // Runs body with TranslateIntoLanguage set to target, restoring it afterwards, also on failure.
    template <class Body>
    auto WithTarget(TFrnmLanguage target, Body body);
    void TranslateOne(TFrnmLanguage source, ITranslatable& component);

    std::array<std::unique_ptr<TLanguage>, 22> FLanguages;  // by TFrnmLanguage; none for flUser
    TFrnmLanguage FTranslateIntoLanguage = flUser;
};

// The program's current translator (the first one created); null when none.
TTranslator* CurrentTranslator();

// The language of a Windows language identifier (primary language in bits 0-9, sublanguage in bits
// 10-15); primary languages without a translation are English.
TFrnmLanguage LanguageFromLangID(uint16_t langID);
// The character set, face and minimum size in points that fonts take for a language; flUser and
// values without a language raise Exception "Unrecognized language".
int LanguageCharset(TFrnmLanguage language);
std::string LanguageFace(TFrnmLanguage language);
int LanguageMinimumSize(TFrnmLanguage language);
// Gives the control and its child controls the language's font: a copy of the language's Font with
// FontOverride, else the language's character set and face, and at least its minimum size.
void SetControlFonts(ITranslatable* control, const TLanguage& language);

// The global routines of the library's forms; each does nothing (or returns what it was given)
// without a current translator.
void TranslatorApplyFont(ITranslatable* control);
void TranslatorApplyFontInto(TFrnmLanguage target, ITranslatable* control);
// The text translated from English.
std::string TranslateMessageText(const std::string& text);
TFrnmLanguage TranslatorTranslateComponent(TFrnmLanguage lastLanguage, ITranslatable* component);
TFrnmLanguage TranslatorTranslateComponentInto(TFrnmLanguage lastLanguage, TFrnmLanguage target,
                                               ITranslatable* component);

}  // namespace ostra
