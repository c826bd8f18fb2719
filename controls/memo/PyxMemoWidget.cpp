// The memo widget: the memo's view over a QAbstractScrollArea, and the translation of Qt's events
// into the memo core's.
#include "controls/memo/PyxMemoWidget.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimerEvent>
#include <QToolTip>
#include <QWheelEvent>

#include "controls/memo/PyxMemoPainter.h"
#include "controls/memo/PyxMemoPopups.h"
#include "controls/memo/PyxQtGraphics.h"
#include "controls/memo/PyxQtKeys.h"
#include "host/AnsiCodec.h"
#include "host/Exceptions.h"
#include "host/UIServices.h"

namespace ostra {

namespace {

QRect ToQRect(const TRect& R) {
    return {R.Left, R.Top, R.Width(), R.Height()};
}

Qt::CursorShape ToQtCursor(TPyxCursor Cursor) {
    switch (Cursor) {
        case crPyxIBeam: return Qt::IBeamCursor;
        case crPyxHandPoint: return Qt::PointingHandCursor;
        default: return Qt::ArrowCursor;
    }
}

// The memo's mouse button of a Qt button; false for a button the memo does not know.
bool ToMouseButton(Qt::MouseButton Button, TMouseButton& Result) {
    switch (Button) {
        case Qt::LeftButton: Result = mbLeft; return true;
        case Qt::RightButton: Result = mbRight; return true;
        case Qt::MiddleButton: Result = mbMiddle; return true;
        default: return false;
    }
}

// The face, height and styles of a Qt font into `Target` (its colour and character set stay).
void AssignQFont(TFont& Target, const QFont& Font) {
    const QString family = Font.family();
    Target.SetName(Utf16ToAnsi(std::u16string(reinterpret_cast<const char16_t*>(family.utf16()),
                                              static_cast<size_t>(family.size()))));
    const int pixels = Font.pixelSize() > 0
                           ? Font.pixelSize()
                           : static_cast<int>(std::lround(Font.pointSizeF() * kScreenPixelsPerInch / 72.0));
    Target.SetHeight(-std::max(1, pixels));
    TFontStyles style;
    if (Font.bold()) style.Include(fsBold);
    if (Font.italic()) style.Include(fsItalic);
    if (Font.underline()) style.Include(fsUnderline);
    if (Font.strikeOut()) style.Include(fsStrikeOut);
    Target.SetStyle(style);
}

}  // namespace

// ---- The memo's view

class TPyxMemoWidget::TView : public IPyxMemoView {
public:
    explicit TView(TPyxMemoWidget& Widget) : FWidget(Widget) {}

    TSize TextExtent(const TFont& Font, const std::string& Text) override { return QtTextExtent(Font, Text); }
    bool Focused() const override { return FWidget.hasFocus(); }
    void SetFocus() override { FWidget.setFocus(Qt::OtherFocusReason); }
    void Invalidate() override { FWidget.viewport()->update(); }
    void InvalidateRect(const TRect& Rect) override { FWidget.viewport()->update(ToQRect(Rect)); }
    void Update() override { FWidget.viewport()->repaint(); }

    void CreateCaret(int Width, int Height) override {
        TCaret& caret = FWidget.FCaret;
        FWidget.UpdateCaretRect(caret.Rect);
        caret.Exists = true;
        caret.Shown = false;
        caret.Rect = QRect(caret.Rect.topLeft(), QSize(std::max(0, Width), std::max(0, Height)));
        FWidget.RestartBlink();
    }
    void DestroyCaret() override {
        TCaret& caret = FWidget.FCaret;
        caret.Exists = false;
        caret.Shown = false;
        FWidget.RestartBlink();
    }
    void SetCaretPos(int X, int Y) override {
        TCaret& caret = FWidget.FCaret;
        FWidget.UpdateCaretRect(caret.Rect);
        caret.Rect.moveTo(X, Y);
        FWidget.RestartBlink();
    }
    void ShowCaret() override {
        FWidget.FCaret.Shown = true;
        FWidget.RestartBlink();
    }
    void HideCaret() override {
        FWidget.FCaret.Shown = false;
        FWidget.RestartBlink();
    }
    void SetCaretBlinking(bool Blinking) override {
        if (FWidget.FCaret.Blinking == Blinking) return;
        FWidget.FCaret.Blinking = Blinking;
        FWidget.RestartBlink();
    }
    void ScrollBarsChanged() override { FWidget.SyncScrollBars(); }
    void SetCursorShape(TPyxCursor Cursor) override { FWidget.FCursorShape = Cursor; }

    void StartTimer(TPyxMemoTimer Timer, int Interval) override {
        FWidget.FMemoTimers[Timer].start(std::max(0, Interval), &FWidget);
    }
    void StopTimer(TPyxMemoTimer Timer) override { FWidget.FMemoTimers[Timer].stop(); }
    void ShowCompletionList(const TRect& Rect) override {
        if (!FWidget.FCompletionPopup) FWidget.FCompletionPopup = new TPyxCompletionPopup(*FWidget.FMemo, &FWidget);
        FWidget.FCompletionPopup->ShowAt(FWidget.ScreenRect(Rect));
    }
    void CompletionListChanged() override {
        if (FWidget.FCompletionPopup) FWidget.FCompletionPopup->Sync();
    }
    void HideCompletionList() override {
        if (FWidget.FCompletionPopup) FWidget.FCompletionPopup->hide();
    }
    void ShowParameterHint(const TRect& Rect) override {
        if (!FWidget.FHintPopup) FWidget.FHintPopup = new TPyxHintPopup(*FWidget.FMemo, &FWidget, &FWidget);
        FWidget.FHintPopup->ShowAt(FWidget.ScreenRect(Rect));
    }
    void HideParameterHint() override {
        if (FWidget.FHintPopup) FWidget.FHintPopup->hide();
    }
    void CancelHint() override { QToolTip::hideText(); }

private:
    TPyxMemoWidget& FWidget;
};

// ---- Construction

TPyxMemoWidget::TPyxMemoWidget(QWidget* Parent)
    : QAbstractScrollArea(Parent), FView(std::make_unique<TView>(*this)), FMemo(std::make_unique<TPyxMemo>(nullptr)) {
    setFrameStyle(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    viewport()->setCursor(Qt::IBeamCursor);
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int Action) { ScrollBarAction(true, Action); });
    connect(horizontalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int Action) { ScrollBarAction(false, Action); });

    FMemo->SetView(FView.get());
    FMemo->SetClipboard(&FClipboard);
    FMemo->SetScrollBarExtent(verticalScrollBar()->sizeHint().width());
    Guarded([&] { FMemo->SetFont(FMemo->Font()); });
    MirrorFont();
    FMemo->SetBounds(0, 0, width(), height());
}

TPyxMemoWidget::~TPyxMemoWidget() {
    FBlinkTimer.stop();
    for (QBasicTimer& timer : FMemoTimers) timer.stop();
    delete FCompletionPopup;
    delete FHintPopup;
    FCompletionPopup = nullptr;
    FHintPopup = nullptr;
    FMemo->SetView(nullptr);
    FMemo->SetClipboard(nullptr);
    FMemo.reset();
}

template <class F>
void TPyxMemoWidget::Guarded(F&& Body) {
    try {
        Body();
    } catch (...) {
        ApplicationHandleException(FMemo.get());
    }
}

QSize TPyxMemoWidget::sizeHint() const {
    return {350, 250};
}

bool TPyxMemoWidget::TabStop() const {
    return focusPolicy() == Qt::StrongFocus;
}

void TPyxMemoWidget::SetTabStop(bool Value) {
    setFocusPolicy(Value ? Qt::StrongFocus : Qt::ClickFocus);
}

// ---- The caret

void TPyxMemoWidget::SetCaretBlinkInterval(int Value) {
    FBlinkInterval = std::max(0, Value);
    RestartBlink();
}

QRect TPyxMemoWidget::CaretRect() const {
    return FCaret.Exists ? FCaret.Rect : QRect();
}

bool TPyxMemoWidget::CaretDrawn() const {
    return FCaret.Exists && FCaret.Shown && FCaret.Phase && !FCaret.Rect.isEmpty();
}

void TPyxMemoWidget::RestartBlink() {
    FCaret.Phase = true;
    if (FCaret.Exists && FCaret.Shown && FCaret.Blinking && FBlinkInterval > 0)
        FBlinkTimer.start(FBlinkInterval, this);
    else
        FBlinkTimer.stop();
    UpdateCaretRect(FCaret.Rect);
}

void TPyxMemoWidget::UpdateCaretRect(const QRect& Rect) {
    if (!Rect.isEmpty()) viewport()->update(Rect);
}

void TPyxMemoWidget::timerEvent(QTimerEvent* Event) {
    for (const TPyxMemoTimer timer : {mtCompletion, mtParameterHint}) {
        if (Event->timerId() != FMemoTimers[timer].timerId()) continue;
        // The memo's timers fire once.
        FMemoTimers[timer].stop();
        Guarded([&] { FMemo->TimerFired(timer); });
        return;
    }
    if (Event->timerId() != FBlinkTimer.timerId()) {
        QAbstractScrollArea::timerEvent(Event);
        return;
    }
    FCaret.Phase = !FCaret.Phase;
    UpdateCaretRect(FCaret.Rect);
}

// ---- Painting and size

void TPyxMemoWidget::paintEvent(QPaintEvent* Event) {
    QPainter painter(viewport());
    Guarded([&] { TPyxMemoPainter(*FMemo).Paint(painter); });
    if (!CaretDrawn()) return;
    // The caret inverts the pixels of its bar, inside the text area only.
    painter.setClipRect(ToQRect(FMemo->TextRect()));
    painter.setCompositionMode(QPainter::CompositionMode_Difference);
    painter.fillRect(FCaret.Rect, Qt::white);
}

bool TPyxMemoWidget::event(QEvent* Event) {
    if (Event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(Event);
        // An open completion list takes every key (Escape closes the list, not the window).
        if (FMemo->CompletionVisible() || MemoTakesKey(TranslateQtKey(key->key(), key->modifiers(), key->text()))) {
            key->accept();
            return true;
        }
    }
    const bool result = QAbstractScrollArea::event(Event);
    if (Event->type() == QEvent::Resize) Guarded([&] { FMemo->SetBounds(0, 0, width(), height()); });
    return result;
}

bool TPyxMemoWidget::viewportEvent(QEvent* Event) {
    if (Event->type() != QEvent::ToolTip) return QAbstractScrollArea::viewportEvent(Event);
    // The word's or token's tooltip, or the memo's own; only while the memo's ShowHint is on.
    const auto* help = static_cast<QHelpEvent*>(Event);
    std::string text;
    bool show = false;
    if (FMemo->ShowHint()) Guarded([&] { show = FMemo->HintForPoint(help->pos().x(), help->pos().y(), text); });
    if (show && !text.empty())
        QToolTip::showText(help->globalPos(), ToQString(text), viewport());
    else
        QToolTip::hideText();
    return true;
}

QRect TPyxMemoWidget::ScreenRect(const TRect& Rect) const {
    return {viewport()->mapToGlobal(QPoint(Rect.Left, Rect.Top)), QSize(Rect.Width(), Rect.Height())};
}

void TPyxMemoWidget::resizeEvent(QResizeEvent* Event) {
    // The viewport changed with the area's bars; the memo's client is the whole area.
    Guarded([&] { FMemo->SetBounds(0, 0, width(), height()); });
}

void TPyxMemoWidget::scrollContentsBy(int DX, int DY) {
    viewport()->update();
}

// ---- Scroll bars

void TPyxMemoWidget::SyncScrollBars() {
    if (FSyncingBars) return;
    FSyncingBars = true;
    const TScrollStyle style = FMemo->ScrollBars();
    auto mirror = [](QScrollBar* Bar, const TPyxScrollBar& State, bool Allowed) {
        const bool show = Allowed && State.Visible;
        if (show) {
            const int last = State.PageSize > 0 ? State.LastPosition() : State.Max;
            Bar->setRange(State.Min, std::max(State.Min, last));
            Bar->setPageStep(std::max(1, State.PageSize));
            Bar->setSingleStep(1);
            Bar->setValue(State.Position);
        }
        return show ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    };
    const Qt::ScrollBarPolicy vertical =
        mirror(verticalScrollBar(), FMemo->VertScrollBar(), style == ssVertical || style == ssBoth);
    const Qt::ScrollBarPolicy horizontal =
        mirror(horizontalScrollBar(), FMemo->HorzScrollBar(), style == ssHorizontal || style == ssBoth);
    if (verticalScrollBarPolicy() != vertical) setVerticalScrollBarPolicy(vertical);
    if (horizontalScrollBarPolicy() != horizontal) setHorizontalScrollBarPolicy(horizontal);
    FSyncingBars = false;
}

void TPyxMemoWidget::ScrollBarAction(bool Vertical, int Action) {
    TScrollCode code;
    switch (Action) {
        case QAbstractSlider::SliderSingleStepAdd: code = scLineDown; break;
        case QAbstractSlider::SliderSingleStepSub: code = scLineUp; break;
        case QAbstractSlider::SliderPageStepAdd: code = scPageDown; break;
        case QAbstractSlider::SliderPageStepSub: code = scPageUp; break;
        case QAbstractSlider::SliderToMinimum: code = scTop; break;
        case QAbstractSlider::SliderToMaximum: code = scBottom; break;
        case QAbstractSlider::SliderMove: code = scTrack; break;
        default: return;
    }
    QScrollBar* bar = Vertical ? verticalScrollBar() : horizontalScrollBar();
    Guarded([&] { FMemo->ScrollBarScroll(Vertical ? sbVertical : sbHorizontal, code, bar->sliderPosition()); });
    // The bar ends where the memo put it (a vertical page is the memo's, not the bar's).
    bar->setSliderPosition((Vertical ? FMemo->VertScrollBar() : FMemo->HorzScrollBar()).Position);
}

// ---- Keys

void TPyxMemoWidget::keyPressEvent(QKeyEvent* Event) {
    const TPyxKeyStroke stroke = TranslateQtKey(Event->key(), Event->modifiers(), Event->text());
    const bool listOpen = FMemo->CompletionVisible();
    Guarded([&] {
        FMemo->KeyDown(stroke.Key, stroke.Shift);
        if (stroke.HasChar) {
            char ch = stroke.Char;
            FMemo->KeyPress(ch);
        }
    });
    // Keys the memo does not act on go on to the window (function keys, Escape, ...), except
    // while its completion list was open: that list took them.
    Event->setAccepted(listOpen || MemoTakesKey(stroke));
}

void TPyxMemoWidget::keyReleaseEvent(QKeyEvent* Event) {
    // A key held down repeats its presses only, as a key of the memo's platform does.
    if (Event->isAutoRepeat()) return;
    const TPyxKeyStroke stroke = TranslateQtKey(Event->key(), Event->modifiers(), Event->text());
    Guarded([&] { FMemo->KeyUp(stroke.Key, stroke.Shift); });
}

bool TPyxMemoWidget::focusNextPrevChild(bool Next) {
    // With WantTab the memo takes Tab and Shift+Tab itself.
    if (FMemo->WantTab()) return false;
    return QAbstractScrollArea::focusNextPrevChild(Next);
}

// ---- Mouse

void TPyxMemoWidget::mousePressEvent(QMouseEvent* Event) {
    TMouseButton button;
    if (!ToMouseButton(Event->button(), button)) return;
    const QPoint pos = Event->position().toPoint();
    Guarded([&] { FMemo->MouseDown(button, ShiftStateOf(Event->modifiers(), Event->buttons()), pos.x(), pos.y()); });
}

void TPyxMemoWidget::mouseMoveEvent(QMouseEvent* Event) {
    const QPoint pos = Event->position().toPoint();
    Guarded([&] { FMemo->MouseMove(ShiftStateOf(Event->modifiers(), Event->buttons()), pos.x(), pos.y()); });
    UpdateCursor(pos);
}

void TPyxMemoWidget::mouseReleaseEvent(QMouseEvent* Event) {
    TMouseButton button;
    if (!ToMouseButton(Event->button(), button)) return;
    const QPoint pos = Event->position().toPoint();
    Guarded([&] { FMemo->MouseUp(button, ShiftStateOf(Event->modifiers(), Event->buttons()), pos.x(), pos.y()); });
}

void TPyxMemoWidget::mouseDoubleClickEvent(QMouseEvent* Event) {
    // The left button's double-click selects a word; the others count as presses.
    if (Event->button() != Qt::LeftButton) {
        mousePressEvent(Event);
        return;
    }
    const QPoint pos = Event->position().toPoint();
    Guarded([&] { FMemo->DblClick(pos.x(), pos.y()); });
}

void TPyxMemoWidget::wheelEvent(QWheelEvent* Event) {
    FWheelRemainder += Event->angleDelta().y();
    Guarded([&] {
        while (FWheelRemainder >= 120) {
            FWheelRemainder -= 120;
            FMemo->MouseWheel(1);
        }
        while (FWheelRemainder <= -120) {
            FWheelRemainder += 120;
            FMemo->MouseWheel(-1);
        }
    });
    Event->accept();
}

void TPyxMemoWidget::UpdateCursor(const QPoint& Pos) {
    const TPyxCursor shape = FMemo->CursorAt(Pos.x(), Pos.y()) == crPyxArrow ? crPyxArrow : FCursorShape;
    const Qt::CursorShape cursor = ToQtCursor(shape);
    if (viewport()->cursor().shape() != cursor) viewport()->setCursor(cursor);
}

// ---- Context menu

QMenu* TPyxMemoWidget::CreateContextMenu(int X) {
    const std::vector<TPyxMenuItem> items = FMemo->ContextMenuItems(X);
    if (items.empty()) return nullptr;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const TPyxMenuItem& item : items) {
        if (item.Command == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(ToQString(item.Caption));
        action->setEnabled(item.Enabled);
        const int command = item.Command;
        connect(action, &QAction::triggered, this, [this, command] {
            Guarded([&] { FMemo->ContextMenuCommand(command); });
        });
    }
    return menu;
}

void TPyxMemoWidget::contextMenuEvent(QContextMenuEvent* Event) {
    if (!hasFocus()) setFocus(Qt::OtherFocusReason);
    if (FPopupMenu) {
        FPopupMenu->popup(Event->globalPos());
    } else if (QMenu* menu = CreateContextMenu(Event->pos().x())) {
        menu->popup(Event->globalPos());
    }
    Event->accept();
}

// ---- Focus and font

void TPyxMemoWidget::focusInEvent(QFocusEvent* Event) {
    QAbstractScrollArea::focusInEvent(Event);
    Guarded([&] { FMemo->FocusIn(); });
}

void TPyxMemoWidget::focusOutEvent(QFocusEvent* Event) {
    QAbstractScrollArea::focusOutEvent(Event);
    const QWidget* next = QApplication::focusWidget();
    const bool toScrollBar = next && (next == verticalScrollBar() || next == horizontalScrollBar());
    Guarded([&] { FMemo->FocusOut(toScrollBar); });
}

void TPyxMemoWidget::MirrorFont() {
    FMirroringFont = true;
    setFont(ToQFont(FMemo->Font()));
    FMirroringFont = false;
}

void TPyxMemoWidget::changeEvent(QEvent* Event) {
    QAbstractScrollArea::changeEvent(Event);
    if (Event->type() != QEvent::FontChange || FMirroringFont) return;
    TFont font;
    font.Assign(&FMemo->Font());
    AssignQFont(font, this->font());
    // A proportional font is refused (EAbort): the memo and the widget keep the old one.
    Guarded([&] { FMemo->SetFont(font); });
    MirrorFont();
}

}  // namespace ostra
