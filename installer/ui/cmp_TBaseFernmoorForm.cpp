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

void TBaseFernmoorForm::ApplyTranslation() {
    TWidgetTranslatable face(this);
    if (AutoSetFont) {
        if (OverrideMainTranslator)
            TranslatorApplyFontInto(TranslateIntoLanguage, &face);
        else
            TranslatorApplyFont(&face);
    }
    if (AutoTranslate) {
        LastLanguage = OverrideMainTranslator
                           ? TranslatorTranslateComponentInto(LastLanguage, TranslateIntoLanguage, &face)
                           : TranslatorTranslateComponent(LastLanguage, &face);
    }
    ApplicationProcessMessages();
}

}  // namespace ostra
