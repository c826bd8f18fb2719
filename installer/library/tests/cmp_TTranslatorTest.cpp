// The translator on small forms of the test's own (TranslatableForm.h): translation by number and by
// text, what is left alone, visibility and sizing while translating, memos and lists; the target
// language from the Windows user's language; fonts per language; the current translator and the
// global routines, the translated IException texts; the translator's language texts in component
// text.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "host/ComponentText.h"
#include "host/SysUtils.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/library/routines_Exceptions.h"
#include "installer/library/routines_Strings.h"

using namespace ostra;

namespace {

// A control or component of a test form; it records what the translator did to it.
struct FakeControl : ITranslatable {
    FakeControl(TTranslatableKind kind, std::string caption = "", std::optional<int> glid = {})
        : Kind_(kind), GLIDValue(glid), CaptionText(std::move(caption)) {}

    TTranslatableKind Kind_;
    std::optional<int> GLIDValue;
    std::string CaptionText, Hint;
    std::string ObjectName = "Control1";
    std::optional<std::string> Memo;
    std::vector<std::string> Items;
    bool IsVisible = true, IsAutoSize = true, FailCaption = false;
    int Realigned = 0;
    // Visibility and sizing at the moment the caption changed.
    std::vector<std::pair<bool, bool>> StateWhenChanged;
    std::string FontName = "MS Sans Serif";
    int FontCharset = DEFAULT_CHARSET, FontHeight = -11;
    std::vector<std::unique_ptr<FakeControl>> Owned;
    std::vector<FakeControl*> Children;

    FakeControl& Own(std::unique_ptr<FakeControl> control, bool child = true) {
        Owned.push_back(std::move(control));
        if (child) Children.push_back(Owned.back().get());
        return *Owned.back();
    }

    TTranslatableKind Kind() const override { return Kind_; }
    std::optional<int> GLID() const override { return GLIDValue; }
    std::string Caption() const override { return CaptionText; }
    void SetCaption(const std::string& value) override {
        if (FailCaption) throw Exception("caption refused");
        StateWhenChanged.emplace_back(IsVisible, IsAutoSize);
        CaptionText = value;
    }
    std::vector<TTranslatableText> TextProperties() override {
        return {{"Name", [this] { return ObjectName; }, [this](const std::string& v) { ObjectName = v; }},
                {"Caption", [this] { return CaptionText; }, [this](const std::string& v) { SetCaption(v); }},
                {"Hint", [this] { return Hint; }, [this](const std::string& v) { Hint = v; }}};
    }
    std::optional<TTranslatableText> MemoText() override {
        if (!Memo) return std::nullopt;
        return TTranslatableText {"Lines", [this] { return *Memo; }, [this](const std::string& v) { Memo = v; }};
    }
    std::vector<TTranslatableText> ItemTexts() override {
        std::vector<TTranslatableText> texts;
        for (std::string& item : Items)
            texts.push_back({"Items", [&item] { return item; }, [&item](const std::string& v) { item = v; }});
        return texts;
    }
    bool Visible() const override { return IsVisible; }
    void SetVisible(bool value) override { IsVisible = value; }
    bool AutoSize() const override { return IsAutoSize; }
    void SetAutoSize(bool value) override { IsAutoSize = value; }
    void Realign() override { ++Realigned; }
    void GetFont(TFont& font) const override {
        font.SetName(FontName);
        font.SetCharset(FontCharset);
        font.SetHeight(FontHeight);
    }
    void SetFont(const TFont& font) override {
        FontName = font.Name();
        FontCharset = font.Charset();
        FontHeight = font.Height();
    }
    void ForEachOwned(const std::function<void(ITranslatable&)>& proc) override {
        for (auto& owned : Owned) proc(*owned);
    }
    void ForEachChildControl(const std::function<void(ITranslatable&)>& proc) override {
        for (FakeControl* child : Children) proc(*child);
    }
};

std::unique_ptr<FakeControl> Make(TTranslatableKind kind, const std::string& caption, std::optional<int> glid = {}) {
    return std::make_unique<FakeControl>(kind, caption, glid);
}

void SetText(TLanguage* language, const std::string& slashLines) {
    TStringList lines;
    SplitDelimited(slashLines, '/', lines);
    language->SetStrings(lines);
}

std::string ErrorMessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

// Sets OSTRA_USER_LANGUAGE for the test and restores it afterwards.
class UserLanguage {
public:
    explicit UserLanguage(const char* value) {
        if (const char* old = getenv("OSTRA_USER_LANGUAGE")) FOld = old;
        if (value)
            setenv("OSTRA_USER_LANGUAGE", value, 1);
        else
            unsetenv("OSTRA_USER_LANGUAGE");
    }
    ~UserLanguage() {
        if (FOld)
            setenv("OSTRA_USER_LANGUAGE", FOld->c_str(), 1);
        else
            unsetenv("OSTRA_USER_LANGUAGE");
    }

private:
    std::optional<std::string> FOld;
};

const char* const kClickNext = "Click Next to continue with the installation.";
const char* const kGermanClickNext = "Klicken Sie auf Weiter, um fortzufahren.";

// A translator with English and German texts.
std::unique_ptr<TTranslator> Bilingual() {
    auto translator = std::make_unique<TTranslator>(nullptr);
    SetText(translator->FindLanguage(flEnglish),
            std::string("5;Next >/6;Cancel/12;") + kClickNext + "/30;Cannot open %s/#40;/Line one/Line two/#");
    SetText(translator->FindLanguage(flGerman), std::string("5;Weiter >/6;Abbrechen/12;") + kGermanClickNext +
                                                    "/30;Kann %s nicht oeffnen/#40;/Zeile eins/Zeile zwei/#");
    return translator;
}

}  // namespace

TEST(Translator, TranslatesAFormByNumberAndByText) {
    auto translator = Bilingual();
    translator->SetTranslateIntoLanguage(flGerman);

    FakeControl form(tkForm, "Cancel");
    FakeControl& image = form.Own(Make(tkImage, "Cancel"));
    FakeControl& next = form.Own(Make(tkControl, "Next >", 5));
    FakeControl& click = form.Own(Make(tkLabel, kClickNext, 0));
    FakeControl& numbered = form.Own(Make(tkLabel, kClickNext, 7));   // a GLID without a string
    FakeControl& negative = form.Own(Make(tkLabel, kClickNext, -1));  // GLIDs other than 0 are no text
    FakeControl& plain = form.Own(Make(tkWindowedControl, "Cancel"));
    plain.ObjectName = "Cancel";
    plain.Hint = "next >";  // by text, ignoring case
    plain.Items = {"Cancel", "Unknown", ""};
    FakeControl& memo = form.Own(Make(tkWindowedControl, ""));
    memo.Memo = "Line one\r\nLine two\r\n";
    FakeControl& hiddenLabel = form.Own(Make(tkLabel, kClickNext));
    hiddenLabel.IsVisible = false;
    hiddenLabel.IsAutoSize = false;
    FakeControl& component = form.Own(Make(tkComponent, "Cancel"), false);
    FakeControl& inner = plain.Own(Make(tkControl, "Cancel"));
    FakeControl& otherForm = form.Own(Make(tkForm, "Cancel"), false);
    otherForm.Own(Make(tkControl, "Cancel"));

    EXPECT_EQ(translator->TranslateComponent(flEnglish, &form), flGerman);
    EXPECT_EQ(next.CaptionText, "Weiter >");
    EXPECT_EQ(click.CaptionText, kGermanClickNext);
    EXPECT_EQ(numbered.CaptionText, kClickNext);
    EXPECT_EQ(negative.CaptionText, kClickNext);
    EXPECT_EQ(plain.CaptionText, "Abbrechen");
    EXPECT_EQ(plain.ObjectName, "Cancel");  // the name is no text
    EXPECT_EQ(plain.Hint, "Weiter >");
    EXPECT_EQ(plain.Items, (std::vector<std::string> {"Abbrechen", "Unknown", ""}));
    EXPECT_EQ(*memo.Memo, "Zeile eins\r\nZeile zwei\r\n");
    EXPECT_EQ(component.CaptionText, "Abbrechen");
    EXPECT_EQ(inner.CaptionText, "Abbrechen");  // owned by a control, depth first
    EXPECT_EQ(otherForm.CaptionText, "Cancel");  // forms are translated on their own
    EXPECT_EQ(otherForm.Owned[0]->CaptionText, "Cancel");

    // Controls change hidden and labels without automatic sizing; both come back as they were.
    EXPECT_EQ(click.StateWhenChanged, (std::vector<std::pair<bool, bool>> {{false, false}}));
    EXPECT_TRUE(click.IsVisible && click.IsAutoSize);
    EXPECT_FALSE(hiddenLabel.IsVisible || hiddenLabel.IsAutoSize);
    // Forms and images stay visible.
    EXPECT_EQ(form.StateWhenChanged, (std::vector<std::pair<bool, bool>> {{true, true}}));
    EXPECT_EQ(image.StateWhenChanged, (std::vector<std::pair<bool, bool>> {{true, true}}));
    EXPECT_EQ(form.CaptionText, "Abbrechen");
    EXPECT_GE(form.Realigned, 1);

    // Translating again from the language it now shows changes nothing.
    EXPECT_EQ(translator->TranslateComponent(flGerman, &form), flGerman);
    EXPECT_EQ(click.CaptionText, kGermanClickNext);
    EXPECT_EQ(translator->TranslateComponent(flEnglish, nullptr), flEnglish);
}

TEST(Translator, LanguagesWithoutStringsLeaveTextsAndUseEnglishFonts) {
    auto translator = Bilingual();
    translator->SetTranslateIntoLanguage(flFrench);
    FakeControl form(tkForm, "Setup");
    FakeControl& next = form.Own(Make(tkControl, "Next >", 5));
    FakeControl& click = form.Own(Make(tkLabel, kClickNext));
    EXPECT_EQ(translator->TranslateComponent(flEnglish, &form), flEnglish);
    EXPECT_EQ(next.CaptionText, "Next >");
    EXPECT_EQ(click.CaptionText, kClickNext);
    EXPECT_EQ(translator->TranslateGLID(5, "default"), "default");

    click.FontHeight = -7;
    translator->ApplyFont(&form, false);
    EXPECT_EQ(click.FontName, "Arial");
    EXPECT_EQ(click.FontCharset, 0);
    EXPECT_EQ(click.FontHeight, -11);  // raised to 8 points
    // Keeping the target font: French's own row.
    translator->FindLanguage(flFrench)->Font()->SetName("Ignored");
    translator->ApplyFont(&form, true);
    EXPECT_EQ(click.FontName, "Arial");
}

TEST(Translator, FontsFollowTheLanguage) {
    auto translator = Bilingual();
    FakeControl form(tkForm, "Setup");
    FakeControl& panel = form.Own(Make(tkWindowedControl, ""));
    FakeControl& label = panel.Own(Make(tkLabel, "x"));
    FakeControl& big = panel.Own(Make(tkLabel, "y"));
    label.FontHeight = -11;  // 8 points
    big.FontHeight = -16;    // 12 points

    // Japanese: character set 128 and at least 9 points, down to the controls inside a panel.
    translator->ApplyFontInto(flJapanese, &form, true);
    EXPECT_EQ(translator->TranslateIntoLanguage(), flUser);
    EXPECT_EQ(label.FontCharset, 128);
    EXPECT_EQ(label.FontName, "MS PGothic");
    EXPECT_EQ(label.FontHeight, -12);  // 9 points
    EXPECT_EQ(big.FontHeight, -16);

    // Every language has a font, Hebrew too; flUser and values without a language have none.
    const struct {
        TFrnmLanguage Language;
        int Charset;
        const char* Face;
    } rows[] = {{flHebrew, 177, "Arial"},          {flGerman, 0, "MS Sans Serif"}, {flRussian, 204, "Arial"},
                {flChineseTraditional, 136, "PMingLiU"}, {flKorean, 129, "Batang"},   {flVietnamese, 163, "Arial"}};
    for (const auto& row : rows) {
        translator->ApplyFontInto(row.Language, &form, true);
        EXPECT_EQ(label.FontCharset, row.Charset) << row.Language;
        EXPECT_EQ(label.FontName, row.Face) << row.Language;
    }
    for (TFrnmLanguage none : {flUser, static_cast<TFrnmLanguage>(25)})
        EXPECT_EQ(ErrorMessageOf([&] { LanguageCharset(none); }), "Unrecognized language");

    // A language's own font replaces the control's font entirely.
    TLanguage* german = translator->FindLanguage(flGerman);
    german->SetFontOverride(true);
    german->Font()->SetName("Tahoma");
    german->Font()->SetHeight(-20);
    german->Font()->SetCharset(0);
    translator->ApplyFontInto(flGerman, &form, false);
    EXPECT_EQ(label.FontName, "Tahoma");
    EXPECT_EQ(big.FontHeight, -20);
}

TEST(Translator, TargetFollowsTheWindowsUser) {
    auto translator = Bilingual();
    {
        UserLanguage nynorsk("0814");
        EXPECT_EQ(translator->TargetLanguage(), translator->FindLanguage(flNorwegianNynorsk));
    }
    {
        UserLanguage german("0x0407");
        FakeControl label(tkLabel, kClickNext);
        EXPECT_EQ(translator->TranslateComponent(flEnglish, &label), flUser);
        EXPECT_EQ(label.CaptionText, kGermanClickNext);
        // The form now shows flUser, the user's language: found again by text.
        EXPECT_EQ(translator->TranslateComponent(flUser, &label), flUser);
        EXPECT_EQ(label.CaptionText, kGermanClickNext);
    }
    {
        UserLanguage unknown("not a language");
        EXPECT_EQ(translator->TargetLanguage(), nullptr);
        EXPECT_EQ(translator->TranslateText(flEnglish, "Next >"), "Next >");
    }
    {
        UserLanguage unset(nullptr);
        EXPECT_EQ(translator->TargetLanguage(), translator->FindLanguage(flEnglish));
    }
    const std::pair<uint16_t, TFrnmLanguage> ids[] = {
        {0x0404, flChineseTraditional}, {0x0804, flChineseSimplified}, {0x0414, flNorwegianBokmal},
        {0x0814, flNorwegianNynorsk},   {0x040D, flHebrew},             {0x0C0A, flSpanish},
        {0x0816, flPortugese},          {0x042A, flVietnamese},         {0x040B, flEnglish}};
    for (const auto& [id, language] : ids) EXPECT_EQ(LanguageFromLangID(id), language) << std::hex << id;
}

TEST(Translator, IntoRestoresTheTargetAlsoWhenTranslationFails) {
    auto translator = Bilingual();
    translator->SetTranslateIntoLanguage(flEnglish);
    FakeControl form(tkForm, "Setup");
    FakeControl& next = form.Own(Make(tkControl, "Next >", 5));
    next.FailCaption = true;
    EXPECT_THROW(translator->TranslateComponentInto(flEnglish, flGerman, &form), Exception);
    EXPECT_EQ(translator->TranslateIntoLanguage(), flEnglish);
    EXPECT_TRUE(next.IsVisible);  // shown again after the failure
    next.FailCaption = false;
    EXPECT_EQ(translator->TranslateComponentInto(flEnglish, flGerman, &form), flGerman);
    EXPECT_EQ(next.CaptionText, "Weiter >");
    EXPECT_EQ(translator->TranslateIntoLanguage(), flEnglish);

    TStringList lines, result;
    lines.Add("Line one");
    lines.Add("Line two");
    translator->SetTranslateIntoLanguage(flGerman);
    translator->TranslateMemo(flEnglish, lines, result);
    EXPECT_EQ(result.Text(), "Zeile eins\r\nZeile zwei\r\n");
    lines.Add("Line three");
    translator->TranslateMemo(flEnglish, lines, result);
    EXPECT_TRUE(result.Equals(lines));
}

TEST(Translator, CurrentTranslatorAndTheGlobalRoutines) {
    FakeControl label(tkLabel, "Next >", 5);
    EXPECT_EQ(CurrentTranslator(), nullptr);
    EXPECT_EQ(TranslatorTranslateComponent(flEnglish, &label), flEnglish);
    EXPECT_EQ(label.CaptionText, "Next >");
    EXPECT_EQ(TranslateMessageText("Cancel"), "Cancel");
    TranslatorApplyFont(&label);
    EXPECT_EQ(label.FontName, "MS Sans Serif");

    auto first = Bilingual();
    auto second = std::make_unique<TTranslator>(nullptr);
    EXPECT_EQ(CurrentTranslator(), first.get());
    first->SetTranslateIntoLanguage(flGerman);
    EXPECT_EQ(TranslatorTranslateComponentInto(flEnglish, flGerman, &label), flGerman);
    EXPECT_EQ(label.CaptionText, "Weiter >");
    EXPECT_EQ(TranslateMessageText("CANCEL"), "Abbrechen");
    // The library's component errors translate their texts, formats before formatting.
    EXPECT_EQ(IException("Cancel").Message(), "Abbrechen");
    EXPECT_EQ(IException("Cannot open %s", {"setup.1"}).Message(), "Kann setup.1 nicht oeffnen");
    // A language without strings gets the English font, one with strings its own.
    TranslatorApplyFontInto(flRussian, &label);
    EXPECT_EQ(label.FontCharset, 0);
    SetText(first->FindLanguage(flRussian), "5;Dalee >");
    TranslatorApplyFontInto(flRussian, &label);
    EXPECT_EQ(label.FontCharset, 204);

    first.reset();
    EXPECT_EQ(CurrentTranslator(), nullptr);
    EXPECT_EQ(IException("Cancel").Message(), "Cancel");
}

TEST(Translator, LanguageTextsTravelInComponentText) {
    auto translator = Bilingual();
    translator->SetName("MainTranslator");
    translator->SetTranslateIntoLanguage(flGerman);
    const std::string text = ComponentToText(translator.get());
    EXPECT_NE(text.find("lgGerman.Strings.Strings = ("), std::string::npos) << text;
    EXPECT_NE(text.find("TranslateIntoLanguage = flGerman"), std::string::npos) << text;

    TTranslator copy(nullptr);
    TextToComponent(text, &copy);
    EXPECT_EQ(copy.TranslateIntoLanguage(), flGerman);
    EXPECT_EQ(copy.FindLanguage(flGerman)->FindStringByGLID(5)->Text(), "Weiter >");
    EXPECT_EQ(copy.FindLanguage(flGerman)->FindMemoByGLID(40)->Lines().Count(), 2);
    // A faulty language text in a stream reaches the reader.
    std::string faulty = text;
    faulty.replace(faulty.find("'5;Weiter >'"), 12, "'#'");
    TTranslator broken(nullptr);
    EXPECT_THROW(TextToComponent(faulty, &broken), Exception);
}
