// The translator's form interface (installer/library/TranslatableForm.h) over Qt widgets: a form
// is a widget tree, ownership is the widgets' parent-child tree, and the texts are the widgets'
// string properties (objectName standing for the name), the items of list boxes and combo boxes,
// the column captions of tree and table views, and the text of plain-text editors as memos.
//
// Kinds: a window is a form; a label showing only a picture is an image; other labels (the
// translate label among them) are labels; every other widget holds child widgets, so it is a
// windowed control. Qt has no character sets: a font's charset is kept in the widget's dynamic
// property "ostraCharset".
//
// Texts cross the edge as Windows-1252 (QtEdge.h).
#pragma once
#include <QWidget>

#include "installer/library/TranslatableForm.h"

namespace ostra {

// One widget as the translator sees it; a view, made on the fly, that owns nothing.
class TWidgetTranslatable : public ITranslatable {
public:
    explicit TWidgetTranslatable(QWidget* widget) : FWidget(widget) {}

    TTranslatableKind Kind() const override;
    std::optional<int> GLID() const override;
    std::string Caption() const override;
    void SetCaption(const std::string& value) override;
    std::vector<TTranslatableText> TextProperties() override;
    std::optional<TTranslatableText> MemoText() override;
    std::vector<TTranslatableText> ItemTexts() override;
    bool Visible() const override { return !FWidget->isHidden(); }
    void SetVisible(bool value) override { FWidget->setVisible(value); }
    void Realign() override;
    void GetFont(TFont& font) const override;
    void SetFont(const TFont& font) override;
    void ForEachOwned(const std::function<void(ITranslatable&)>& proc) override;
    void ForEachChildControl(const std::function<void(ITranslatable&)>& proc) override;

private:
    QWidget* FWidget;
};

}  // namespace ostra
