// The autocompletion list and the parameter hint as tool-tip windows.
#include "controls/memo/PyxMemoPopups.h"

#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "controls/memo/PyxCustomMemo.h"
#include "controls/memo/PyxQtGraphics.h"
#include "host/UIServices.h"

namespace ostra {

namespace {

// The flags of a window that shows without taking the focus or activating.
void MakeToolTipWindow(QWidget& Window) {
    Window.setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    Window.setAttribute(Qt::WA_ShowWithoutActivating);
    Window.setFocusPolicy(Qt::NoFocus);
}

// The font of a font description with bold added or not.
QFont WithBold(const TFont& Font, bool Bold) {
    TFontStyles style = Font.Style();
    if (Bold) style.Include(fsBold);
    return ToQFont(Font, style);
}

// A small picture of an entry kind (1 variable, 2 property, 3 event, 4 method, 5 and 6
// procedure): a letter on a coloured tile; null for the identifier.
QPixmap KindImage(int Kind) {
    static const struct {
        char Letter;
        QColor Tile;
    } kinds[] = {{'V', QColor(0, 0, 200)},  {'P', QColor(0, 128, 128)}, {'E', QColor(200, 0, 0)},
                 {'M', QColor(0, 0, 128)},  {'F', QColor(128, 0, 128)}, {'F', QColor(128, 0, 128)}};
    if (Kind < 1 || Kind > 6) return {};
    QPixmap image(16, 16);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(kinds[Kind - 1].Tile);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 14, 14), 3, 3);
    QFont font;
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QString(QChar(kinds[Kind - 1].Letter)));
    return image;
}

}  // namespace

// ---- The completion list

// Draws one entry as the memo's settings say.
class TPyxCompletionPopup::TDelegate : public QStyledItemDelegate {
public:
    TDelegate(TPyxCustomMemo& Memo, QObject* Parent) : QStyledItemDelegate(Parent), FMemo(Memo) {}

    QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
        return {Option.rect.width(), FMemo.CompletionItemHeight()};
    }

    void paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
        const TAutoCompletion& settings = FMemo.AutoCompletion();
        const bool selected = Option.state & QStyle::State_Selected;
        Painter->save();
        Painter->fillRect(Option.rect, ToQColor(selected ? clHighlight : settings.Color()));
        const int row = Index.row();
        if (row >= 0 && row < FMemo.CompletionItems().Count()) {
            const std::string item = FMemo.CompletionItems().Strings(row);
            const int kind = CompletionKindOf(FMemo.CompletionItems().Objects(row));
            const TCompletionEntry entry = ParseCompletionEntry(item);
            int x = Option.rect.left();
            if (settings.ShowImages()) {
                const QPixmap image = KindImage(kind);
                if (!image.isNull()) Painter->drawPixmap(x, Option.rect.top(), image);
                x += 20;
            }
            const TFont& font = settings.Font();
            const QColor text = ToQColor(selected ? clHighlightText : font.Color());
            const QRect line(x, Option.rect.top(), Option.rect.right() - x, Option.rect.height());
            auto draw = [&](const std::string& Text, bool Bold, const QColor& Colour, int Left) {
                const QFont qfont = WithBold(font, Bold);
                Painter->setFont(qfont);
                Painter->setPen(Colour);
                const QString s = ToQString(Text);
                Painter->drawText(QRect(Left, line.top(), line.right() - Left, line.height()),
                                  Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, s);
                return Left + QFontMetrics(qfont).horizontalAdvance(s);
            };
            if (!entry.Prefix.empty()) {
                draw(entry.Prefix, false, selected ? text : ToQColor(settings.KindColor(kind)), x);
                x += FMemo.CompletionKindColumnWidth();
            }
            x = draw(entry.Params.empty() ? entry.Text : entry.Name, true, text, x);
            if (!entry.Params.empty()) draw(entry.Params, false, text, x);
        }
        Painter->restore();
    }

private:
    TPyxCustomMemo& FMemo;
};

TPyxCompletionPopup::TPyxCompletionPopup(TPyxCustomMemo& Memo, QWidget* Parent)
    : QWidget(Parent), FMemo(Memo), FList(new QListWidget(this)) {
    MakeToolTipWindow(*this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FList);
    FList->setFocusPolicy(Qt::NoFocus);
    FList->setFrameShape(QFrame::Box);
    FList->setUniformItemSizes(true);
    FList->setItemDelegate(new TDelegate(Memo, FList));
    FList->setCursor(Qt::ArrowCursor);
    // A click (press and release on one entry) accepts it.
    connect(FList, &QListWidget::itemClicked, this, [this](QListWidgetItem* Item) {
        try {
            FMemo.SetCompletionIndex(FList->row(Item));
            FMemo.AcceptCompletion(true);
        } catch (...) {
            ApplicationHandleException(&FMemo);
        }
    });
}

void TPyxCompletionPopup::ShowAt(const QRect& Geometry) {
    setGeometry(Geometry);
    Sync();
    show();
}

void TPyxCompletionPopup::Sync() {
    const TStringList& items = FMemo.CompletionItems();
    FList->setFont(ToQFont(FMemo.AutoCompletion().Font()));
    if (FList->count() != items.Count()) {
        FList->clear();
        for (int i = 0; i < items.Count(); ++i) FList->addItem(ToQString(items.Strings(i)));
    } else {
        for (int i = 0; i < items.Count(); ++i) FList->item(i)->setText(ToQString(items.Strings(i)));
    }
    const int index = FMemo.CompletionIndex();
    FList->setCurrentRow(index);
    if (index >= 0) FList->scrollToItem(FList->item(index));
    FList->viewport()->update();
}

// ---- The parameter hint

TPyxHintPopup::TPyxHintPopup(TPyxCustomMemo& Memo, QWidget* Focus, QWidget* Parent)
    : QWidget(Parent), FMemo(Memo), FFocus(Focus) {
    MakeToolTipWindow(*this);
}

void TPyxHintPopup::ShowAt(const QRect& Geometry) {
    setGeometry(Geometry);
    show();
    repaint();
}

void TPyxHintPopup::paintEvent(QPaintEvent* Event) {
    QPainter painter(this);
    const TPyxCustomMemoStyler* styler = FMemo.EffectiveStyler();
    const TColor back = styler ? styler->HintParameter().BkColor() : clInfoBk;
    const TColor text = styler ? styler->HintParameter().TextColor() : clBlack;
    painter.fillRect(rect(), ToQColor(back));
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setPen(ToQColor(text));
    const TFont& font = FMemo.HintFont();
    int x = 2;
    auto draw = [&](const std::string& Part, bool Bold) {
        if (Part.empty()) return;
        const QFont qfont = WithBold(font, Bold);
        painter.setFont(qfont);
        const QString s = ToQString(Part);
        painter.drawText(x, 2 + QFontMetrics(qfont).ascent(), s);
        x += QFontMetrics(qfont).horizontalAdvance(s);
    };
    if (FMemo.HintBoldPart() == 1) {
        draw(FMemo.HintBefore(), true);
        draw(FMemo.HintCurrent() + FMemo.HintAfter(), false);
    } else {
        draw(FMemo.HintBefore(), false);
        draw(FMemo.HintCurrent(), true);
        draw(FMemo.HintAfter(), false);
    }
}

void TPyxHintPopup::mousePressEvent(QMouseEvent* Event) {
    // The hint is no place to work in: the memo gets the focus back, with its caret.
    FFocus->setFocus(Qt::MouseFocusReason);
    FMemo.ShowCaretAt(true);
    FMemo.Invalidate();
}

}  // namespace ostra
