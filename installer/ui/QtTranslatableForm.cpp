// Qt widget trees as translatable forms.
#include "installer/ui/QtTranslatableForm.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLayout>
#include <QListWidget>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTextEdit>
#include <QTreeWidget>

#include "host/StringList.h"
#include "installer/ui/QtEdge.h"
#include "installer/ui/cmp_Rotate3DLabel.h"
#include "installer/ui/cmp_TTranslateControls.h"

namespace ostra {

namespace {

const char* const kCharsetProperty = "ostraCharset";

// A translatable text kept by a getter and a setter of QStrings.
TTranslatableText QtText(std::string name, std::function<QString()> get, std::function<void(const QString&)> set) {
    return {std::move(name), [get] { return FromQString(get()); },
            [set](const std::string& value) { set(ToQString(value)); }};
}

// Lines joined by CR LF, as a string list's text, from Qt's "\n"-separated text; and back.
std::string LinesText(const QString& plain) {
    TStringList lines;
    lines.SetText(FromQString(plain));
    return lines.Text();
}

QString PlainText(const std::string& text) {
    TStringList lines;
    lines.SetText(text);
    QStringList out;
    for (int i = 0; i < lines.Count(); ++i) out << ToQString(lines.Strings(i));
    return out.join('\n');
}

}  // namespace

TTranslatableKind TWidgetTranslatable::Kind() const {
    if (FWidget->isWindow()) return tkForm;
    if (auto* label = qobject_cast<QLabel*>(FWidget))
        return label->text().isEmpty() && !label->pixmap().isNull() ? tkImage : tkLabel;
    if (dynamic_cast<TRotate3DLabel*>(FWidget)) return tkLabel;
    return tkWindowedControl;
}

std::optional<int> TWidgetTranslatable::GLID() const {
    if (auto* label = dynamic_cast<TTranslateLabel*>(FWidget)) return label->GLID();
    if (auto* button = dynamic_cast<TTranslateBitBtn*>(FWidget)) return button->GLID();
    return std::nullopt;
}

std::string TWidgetTranslatable::Caption() const {
    if (auto* label = qobject_cast<QLabel*>(FWidget)) return FromQString(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(FWidget)) return FromQString(button->text());
    return FromQString(FWidget->windowTitle());
}

void TWidgetTranslatable::SetCaption(const std::string& value) {
    if (auto* label = qobject_cast<QLabel*>(FWidget))
        label->setText(ToQString(value));
    else if (auto* button = qobject_cast<QAbstractButton*>(FWidget))
        button->setText(ToQString(value));
    else
        FWidget->setWindowTitle(ToQString(value));
}

std::vector<TTranslatableText> TWidgetTranslatable::TextProperties() {
    std::vector<TTranslatableText> texts;
    const QMetaObject* meta = FWidget->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        QMetaProperty property = meta->property(i);
        if (property.typeId() != QMetaType::QString || !property.isReadable() || !property.isWritable()) continue;
        const std::string name = property.name() == QByteArrayView("objectName") ? "Name" : property.name();
        QWidget* widget = FWidget;
        texts.push_back(QtText(
            name, [widget, property] { return property.read(widget).toString(); },
            [widget, property](const QString& value) { property.write(widget, value); }));
    }
    if (auto* label = dynamic_cast<TRotate3DLabel*>(FWidget))
        texts.push_back({"Caption", [label] { return label->Caption(); },
                         [label](const std::string& value) { label->SetCaption(value); }});
    return texts;
}

std::optional<TTranslatableText> TWidgetTranslatable::MemoText() {
    if (auto* edit = qobject_cast<QPlainTextEdit*>(FWidget))
        return TTranslatableText {"Lines", [edit] { return LinesText(edit->toPlainText()); },
                                  [edit](const std::string& value) { edit->setPlainText(PlainText(value)); }};
    if (auto* edit = qobject_cast<QTextEdit*>(FWidget))
        return TTranslatableText {"Lines", [edit] { return LinesText(edit->toPlainText()); },
                                  [edit](const std::string& value) { edit->setPlainText(PlainText(value)); }};
    return std::nullopt;
}

std::vector<TTranslatableText> TWidgetTranslatable::ItemTexts() {
    std::vector<TTranslatableText> texts;
    if (auto* list = qobject_cast<QListWidget*>(FWidget)) {
        for (int i = 0; i < list->count(); ++i) {
            QListWidgetItem* item = list->item(i);
            texts.push_back(QtText(
                "Items", [item] { return item->text(); }, [item](const QString& v) { item->setText(v); }));
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(FWidget)) {
        for (int i = 0; i < combo->count(); ++i)
            texts.push_back(QtText(
                "Items", [combo, i] { return combo->itemText(i); },
                [combo, i](const QString& v) { combo->setItemText(i, v); }));
    } else if (auto* tree = qobject_cast<QTreeWidget*>(FWidget)) {
        QTreeWidgetItem* header = tree->headerItem();
        for (int i = 0; i < tree->columnCount(); ++i)
            texts.push_back(QtText(
                "Columns", [header, i] { return header->text(i); },
                [header, i](const QString& v) { header->setText(i, v); }));
    } else if (auto* table = qobject_cast<QTableWidget*>(FWidget)) {
        for (int i = 0; i < table->columnCount(); ++i)
            if (QTableWidgetItem* header = table->horizontalHeaderItem(i))
                texts.push_back(QtText(
                    "Columns", [header] { return header->text(); },
                    [header](const QString& v) { header->setText(v); }));
    }
    return texts;
}

void TWidgetTranslatable::Realign() {
    if (QLayout* layout = FWidget->layout()) layout->activate();
}

void TWidgetTranslatable::GetFont(TFont& font) const {
    if (auto* label = dynamic_cast<TRotate3DLabel*>(FWidget)) return font.Assign(label->Font());
    QVariant charset = FWidget->property(kCharsetProperty);
    FromQFont(FWidget->font(), charset.isValid() ? charset.toInt() : DEFAULT_CHARSET, font);
}

void TWidgetTranslatable::SetFont(const TFont& font) {
    if (auto* label = dynamic_cast<TRotate3DLabel*>(FWidget)) return label->SetFont(font);
    QFont qfont = ToQFont(font);
    FWidget->setFont(qfont);
    FWidget->setProperty(kCharsetProperty, font.Charset());
}

void TWidgetTranslatable::ForEachOwned(const std::function<void(ITranslatable&)>& proc) {
    for (QObject* child : FWidget->children())
        if (auto* widget = qobject_cast<QWidget*>(child)) {
            TWidgetTranslatable owned(widget);
            proc(owned);
        }
}

void TWidgetTranslatable::ForEachChildControl(const std::function<void(ITranslatable&)>& proc) {
    for (QObject* child : FWidget->children())
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow()) {
            TWidgetTranslatable control(widget);
            proc(control);
        }
}

}  // namespace ostra
