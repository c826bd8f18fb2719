// The installer library's base form (see the header).
#include "installer/ui/cmp_TBaseFernmoorForm.h"

#include <algorithm>

#include "host/UIServices.h"
#include "installer/library/cmp_TTranslator.h"
#include "installer/ui/QtTranslatableForm.h"

namespace ostra {

namespace {
std::vector<TBaseFernmoorForm*>& Forms() {
    static std::vector<TBaseFernmoorForm*> forms;
    return forms;
}
constexpr int AnsiCharset = 0;
}  // namespace

const std::vector<TBaseFernmoorForm*>& OpenInstallForms() { return Forms(); }

TBaseFernmoorForm::TBaseFernmoorForm(QWidget* parent) : QDialog(parent) {
    setProperty("ostraCharset", AnsiCharset);
    Forms().push_back(this);
}

TBaseFernmoorForm::~TBaseFernmoorForm() {
    auto& forms = Forms();
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
}

void TBaseFernmoorForm::Refresh() { ApplyTranslation(); }

TFrnmLanguage TranslateInstallWidget(QWidget* widget, bool autoSetFont, bool autoTranslate, bool overrideMain,
                                     TFrnmLanguage into, TFrnmLanguage lastLanguage) {
    TWidgetTranslatable face(widget);
    if (autoSetFont) {
        if (overrideMain)
            TranslatorApplyFontInto(into, &face);
        else
            TranslatorApplyFont(&face);
    }
    if (!autoTranslate) return lastLanguage;
    return overrideMain ? TranslatorTranslateComponentInto(lastLanguage, into, &face)
                        : TranslatorTranslateComponent(lastLanguage, &face);
}

void TBaseFernmoorForm::ApplyTranslation() {
    LastLanguage = TranslateInstallWidget(this, AutoSetFont, AutoTranslate, OverrideMainTranslator,
                                          TranslateIntoLanguage, LastLanguage);
    ApplicationProcessMessages();
}

}  // namespace ostra
