// A Qt form translated by the translator: translate labels and buttons by number, labels, list and
// combo items, column captions and plain-text memos by text, the object name and nested windows left
// alone, hidden widgets kept hidden; fonts for a language down the widget tree.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "installer/library/cmp_TTranslator.h"
#include "installer/library/routines_Strings.h"
#include "installer/ui/QtEdge.h"
#include "installer/ui/QtTranslatableForm.h"
#include "installer/ui/cmp_Rotate3DLabel.h"
#include "installer/ui/cmp_TTranslateControls.h"
#include "host/ui/tests/support/OffscreenApp.h"

using namespace ostra;

namespace {

void SetText(TLanguage* language, const std::string& slashLines) {
    TStringList lines;
    SplitDelimited(slashLines, '/', lines);
    language->SetStrings(lines);
}

std::unique_ptr<TTranslator> Bilingual() {
    auto translator = std::make_unique<TTranslator>(nullptr);
    SetText(translator->FindLanguage(flEnglish), "5;Next >/6;Cancel/12;Click Next to continue./20;Name/21;Size/"
                                                 "22;Typical/#40;/Read me/first/#");
    SetText(translator->FindLanguage(flGerman), "5;Weiter >/6;Abbrechen/12;Klicken Sie auf Weiter./20;Name DE/"
                                                "21;Groesse/22;Standard/#40;/Lies mich/zuerst/#");
    translator->SetTranslateIntoLanguage(flGerman);
    return translator;
}

}  // namespace

TEST(QtTranslatableForm, TranslatesAWidgetFormByNumberAndByText) {
    test::OffscreenApp();
    auto translator = Bilingual();

    QWidget form;
    form.setWindowTitle("Cancel");
    auto* layout = new QVBoxLayout(&form);
    auto* next = new TTranslateBitBtn(&form);
    next->setText("Next >");
    next->SetGLID(5);
    auto* numbered = new TTranslateLabel(&form);
    numbered->setText("Cancel");
    numbered->SetGLID(99);  // no string 99: keeps its caption, and is no text either
    auto* click = new TTranslateLabel(&form);
    click->setText("Click Next to continue.");
    auto* named = new QLabel("Cancel", &form);
    named->setObjectName("Cancel");
    named->setToolTip("next >");
    auto* hidden = new QLabel("Cancel", &form);
    hidden->hide();
    auto* list = new QListWidget(&form);
    list->addItems({"Typical", "Custom"});
    auto* combo = new QComboBox(&form);
    combo->addItems({"Typical", "Cancel"});
    auto* columns = new QTreeWidget(&form);
    columns->setHeaderLabels({"Name", "Size"});
    auto* memo = new QPlainTextEdit("Read me\nfirst", &form);
    auto* product = new TRotate3DLabel(&form);
    product->SetCaption("Cancel");
    for (QWidget* w : std::initializer_list<QWidget*> {next, numbered, click, named, hidden, list, combo, columns, memo})
        layout->addWidget(w);
    auto* dialog = new QDialog(&form);  // a form of its own
    dialog->setWindowTitle("Cancel");

    TWidgetTranslatable view(&form);
    EXPECT_EQ(view.Kind(), tkForm);
    EXPECT_EQ(translator->TranslateComponent(flEnglish, &view), flGerman);
    EXPECT_EQ(form.windowTitle(), "Abbrechen");
    EXPECT_EQ(next->text(), "Weiter >");
    EXPECT_EQ(numbered->text(), "Cancel");
    EXPECT_EQ(click->text(), "Klicken Sie auf Weiter.");
    EXPECT_EQ(named->text(), "Abbrechen");
    EXPECT_EQ(named->objectName(), "Cancel");
    EXPECT_EQ(named->toolTip(), "Weiter >");
    EXPECT_EQ(hidden->text(), "Abbrechen");
    EXPECT_TRUE(hidden->isHidden());
    EXPECT_FALSE(named->isHidden());
    EXPECT_EQ(list->item(0)->text(), "Standard");
    EXPECT_EQ(list->item(1)->text(), "Custom");
    EXPECT_EQ(combo->itemText(0), "Standard");
    EXPECT_EQ(combo->itemText(1), "Abbrechen");
    EXPECT_EQ(columns->headerItem()->text(0), "Name DE");
    EXPECT_EQ(columns->headerItem()->text(1), "Groesse");
    EXPECT_EQ(memo->toPlainText(), "Lies mich\nzuerst");
    EXPECT_EQ(product->Caption(), "Abbrechen");
    EXPECT_EQ(dialog->windowTitle(), "Cancel");

    // Texts cross the edge as Windows-1252.
    SetText(translator->FindLanguage(flGerman), "6;Schlie\xDF" "en");
    named->setText("Cancel");
    translator->TranslateComponent(flEnglish, &view);
    EXPECT_EQ(named->text(), QString::fromUtf8("Schlie\u00DFen"));
}

TEST(QtTranslatableForm, FontsFollowTheLanguageDownTheWidgetTree) {
    test::OffscreenApp();
    auto translator = Bilingual();
    QWidget form;
    auto* panel = new QWidget(&form);
    auto* label = new QLabel("x", panel);
    QFont small = label->font();
    small.setPixelSize(11);  // 8 points
    label->setFont(small);
    auto* product = new TRotate3DLabel(panel);

    TWidgetTranslatable view(&form);
    translator->ApplyFontInto(flJapanese, &view, true);
    EXPECT_EQ(label->font().family(), "MS PGothic");
    EXPECT_EQ(label->font().pixelSize(), 12);  // 9 points
    EXPECT_EQ(label->property("ostraCharset").toInt(), 128);
    EXPECT_EQ(product->Font()->Charset(), 128);
    EXPECT_TRUE(product->Font()->Style().Contains(fsBold));

    TFont read;
    TWidgetTranslatable(label).GetFont(read);
    EXPECT_EQ(read.Name(), "MS PGothic");
    EXPECT_EQ(read.Charset(), 128);
    EXPECT_EQ(read.Height(), -12);
}
