// TBaseFernmoorForm: the window every form of the installer library descends from (wizard pages,
// the change-disk and copy-progress forms, the standard dialogs). Before it is shown its texts are
// translated into the installation's language and its font set for that language by the current
// translator; LastLanguage follows each translation, so translating twice does nothing the second
// time. Every live form is listed in OpenInstallForms, in creation order.
#pragma once
#include <QDialog>
#include <vector>

#include "installer/library/cmp_TTranslatorLanguage.h"

namespace ostra {

class TInstallContainer;

class TBaseFernmoorForm : public QDialog {
public:
    // The font's character set starts as ANSI; the form joins OpenInstallForms.
    explicit TBaseFernmoorForm(QWidget* parent = nullptr);
    // The form leaves OpenInstallForms.
    ~TBaseFernmoorForm() override;

    // Runs ApplyTranslation.
    virtual void Refresh();
    // Called each time the form is about to be shown as a page; pages set up their buttons here.
    virtual void BeforeShow() {}
    // With AutoSetFont the language's font, with AutoTranslate the texts (into
    // TranslateIntoLanguage with OverrideMainTranslator, else the translator's language); then
    // pending window events run so the form repaints at once.
    virtual void ApplyTranslation();

    bool AutoSetFont = true;
    bool AutoTranslate = true;
    // The install component the form works for.
    TInstallContainer* Container = nullptr;
    // The language the form's texts are in now (forms are designed in English).
    TFrnmLanguage LastLanguage = flEnglish;
    bool OverrideMainTranslator = false;
    TFrnmLanguage TranslateIntoLanguage = flUser;
};

// Gives `widget` the install language's font (with autoSetFont) and translates its texts from
// lastLanguage (with autoTranslate), into `into` when overrideMain is set, else into the current
// translator's language. Returns the language the texts are in afterwards.
TFrnmLanguage TranslateInstallWidget(QWidget* widget, bool autoSetFont, bool autoTranslate, bool overrideMain,
                                     TFrnmLanguage into, TFrnmLanguage lastLanguage);

// Every live installer form, in creation order.
const std::vector<TBaseFernmoorForm*>& OpenInstallForms();

}  // namespace ostra
