// The installer's base form: the list of open forms, translation with and without a translator,
// font only, and translation into a chosen language.
#include <gtest/gtest.h>

#include <QLabel>
#include <memory>

#include "host/ui/tests/support/OffscreenApp.h"
#include "host/StringList.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/ui/QtEdge.h"
#include "installer/ui/cmp_TBaseFernmoorForm.h"
#include "installer/ui/cmp_TTranslateControls.h"

using namespace ostra;

namespace {

// Gives the translator's language the one string 6 (the form's label).
void SetCancel(TTranslator& translator, TFrnmLanguage language, const std::string& text) {
    TStringList lines;
    lines.Add("6;" + text);
    translator.FindLanguage(language)->SetStrings(lines);
}

struct Form {
    TBaseFernmoorForm form;
    TTranslateLabel* label = new TTranslateLabel(&form);
    Form() {
        label->setText("Cancel");
        label->SetGLID(6);
    }
};

}  // namespace

TEST(BaseFernmoorForm, ListedWhileAlive) {
    test::OffscreenApp();
    size_t before = OpenInstallForms().size();
    {
        TBaseFernmoorForm a, b;
        ASSERT_EQ(OpenInstallForms().size(), before + 2);
        EXPECT_EQ(OpenInstallForms()[before], &a);
        EXPECT_EQ(OpenInstallForms()[before + 1], &b);
        EXPECT_EQ(a.property("ostraCharset").toInt(), 0);
    }
    EXPECT_EQ(OpenInstallForms().size(), before);
}

TEST(BaseFernmoorForm, TranslationFollowsTheTranslatorAndItsSwitches) {
    test::OffscreenApp();
    {
        // Without a translator nothing changes.
        Form f;
        QFont font = f.form.font();
        f.form.ApplyTranslation();
        EXPECT_EQ(f.label->text(), "Cancel");
        EXPECT_EQ(f.form.font(), font);
        EXPECT_EQ(f.form.LastLanguage, flEnglish);
    }
    auto translator = std::make_unique<TTranslator>(nullptr);
    SetCancel(*translator, flEnglish, "Cancel");
    SetCancel(*translator, flGerman, "Abbrechen");
    SetCancel(*translator, flJapanese, "Kyanseru");
    translator->SetTranslateIntoLanguage(flGerman);
    {
        Form f;
        f.form.Refresh();
        EXPECT_EQ(f.label->text(), "Abbrechen");
        EXPECT_EQ(f.form.LastLanguage, flGerman);
        f.form.Refresh();
        EXPECT_EQ(f.label->text(), "Abbrechen");
    }
    {
        // Font only.
        Form f;
        f.form.AutoTranslate = false;
        f.form.OverrideMainTranslator = true;
        f.form.TranslateIntoLanguage = flJapanese;
        f.form.ApplyTranslation();
        EXPECT_EQ(f.label->text(), "Cancel");
        EXPECT_EQ(f.form.LastLanguage, flEnglish);
        EXPECT_EQ(f.label->font().family(), "MS PGothic");
        // And into the chosen language.
        f.form.AutoTranslate = true;
        f.form.ApplyTranslation();
        EXPECT_EQ(f.label->text(), "Kyanseru");
        EXPECT_EQ(f.form.LastLanguage, flJapanese);
    }
}
