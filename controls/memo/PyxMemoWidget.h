// TPyxMemoWidget: the memo on the screen. A QAbstractScrollArea that owns one TPyxMemo (the
// headless core, PyxMemo.h) and binds it to Qt; every decision stays in the core, the widget
// only translates:
//   - it is the memo's IPyxMemoView: text measured by Qt, repaints of its viewport, focus, the
//     mouse cursor, and a caret it draws itself (inverting the cell's pixels), blinking on the
//     widget's own timer (CaretBlinkInterval); keys held down stop the blinking, and nothing of
//     the desktop's settings is read or changed;
//   - keys become virtual-key codes and typed 8-bit characters (PyxQtKeys.h), mouse buttons,
//     moves, double-clicks and wheel notches become the core's mouse events (one wheel step per
//     notch of 120), focus changes its FocusIn and FocusOut;
//   - the core lays its scroll bars out inside its client area: the widget mirrors their state
//     on the area's own bars (policy always on or always off as the core decides, range, page,
//     position), reports their thickness to the core (ScrollBarExtent), and hands every move of
//     the user's back to the core (ScrollBarScroll);
//   - a right click shows the PopupMenu when one is set, else the core's built-in menu (none over
//     the gutter); both open without blocking (popup, not exec);
//   - the autocompletion list and the parameter hint are tool-tip windows that never take the
//     focus (PyxMemoPopups.h), so the memo keeps the keys; the memo's two timers run on the
//     widget; word and token tooltips answer Qt's tooltip requests while the memo's ShowHint is on;
//   - the clipboard is the desktop's (PyxQtClipboard.h);
//   - Tab reaches the memo while its WantTab is on, else it moves the focus on; TabStop decides
//     whether Tab brings the focus here;
//   - fonts: the memo's Font is the text font; QWidget::setFont applies a font to the memo too,
//     and a proportional one is refused (the widget keeps the old font).
// The widget paints the viewport with TPyxMemoPainter, in the memo's client coordinates (the area
// has no frame of its own: the memo draws its border). Exceptions of the core never leave an
// event handler: they go to the application's exception handler (EAbort silently).
#pragma once
#include <memory>

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QFont>
#include <QRect>

#include "controls/memo/PyxMemo.h"
#include "controls/memo/PyxQtClipboard.h"

class QMenu;

namespace ostra {

class TPyxCompletionPopup;
class TPyxHintPopup;

// The memo widget.
class TPyxMemoWidget : public QAbstractScrollArea {
public:
    explicit TPyxMemoWidget(QWidget* Parent = nullptr);
    ~TPyxMemoWidget() override;

    // The memo this widget shows and feeds.
    TPyxMemo& Memo() const { return *FMemo; }

    // The menu a right click opens in place of the built-in one (not owned; null: built-in).
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* Value) { FPopupMenu = Value; }
    // Whether Tab and a click bring the focus here (true) or only a click (false).
    bool TabStop() const;
    void SetTabStop(bool Value);
    // Milliseconds between two phases of the caret's blinking (default 530).
    int CaretBlinkInterval() const { return FBlinkInterval; }
    void SetCaretBlinkInterval(int Value);

    // The caret's cell-sized bar in viewport pixels (empty while the memo has no caret).
    QRect CaretRect() const;
    // True while the caret is drawn: created, shown and in the visible phase of its blinking.
    bool CaretDrawn() const;
    // True while the caret blinks (false while a key is held down).
    bool CaretBlinking() const { return FCaret.Blinking; }

    // The pop-ups, once the memo has shown them (null before).
    TPyxCompletionPopup* CompletionPopup() const { return FCompletionPopup; }
    TPyxHintPopup* HintPopup() const { return FHintPopup; }

    // The built-in context menu for a click at viewport x `X`: its four commands with their
    // enabling, run through the memo when chosen; null over the gutter. The caller shows it; it
    // deletes itself when it closes.
    QMenu* CreateContextMenu(int X);

    QSize sizeHint() const override;

protected:
    bool event(QEvent* Event) override;
    bool viewportEvent(QEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void keyReleaseEvent(QKeyEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void timerEvent(QTimerEvent* Event) override;
    bool focusNextPrevChild(bool Next) override;
    // The memo scrolls by repainting: nothing is moved.
    void scrollContentsBy(int DX, int DY) override;

private:
    class TView;
    friend class TView;

    // The drawn caret's state.
    struct TCaret {
        bool Exists = false;
        bool Shown = false;
        bool Blinking = true;
        bool Phase = true;  // the visible half of the blink
        QRect Rect;
    };

    // Runs `Body`, handing any exception to the application's handler.
    template <class F>
    void Guarded(F&& Body);
    // Mirrors the memo's scroll bars on the area's bars.
    void SyncScrollBars();
    // The user worked one of the area's bars.
    void ScrollBarAction(bool Vertical, int Action);
    // The caret: a new phase starts (visible), the timer restarts while it blinks.
    void RestartBlink();
    void UpdateCaretRect(const QRect& Rect);
    // The memo's font as the widget's QFont, without applying it back.
    void MirrorFont();
    // The mouse cursor over a viewport point.
    void UpdateCursor(const QPoint& Pos);
    // A rectangle of the viewport on the screen.
    QRect ScreenRect(const TRect& Rect) const;

    std::unique_ptr<TView> FView;
    TPyxQtClipboard FClipboard;
    std::unique_ptr<TPyxMemo> FMemo;
    QMenu* FPopupMenu = nullptr;
    TCaret FCaret;
    QBasicTimer FBlinkTimer;
    QBasicTimer FMemoTimers[2];  // by TPyxMemoTimer
    TPyxCompletionPopup* FCompletionPopup = nullptr;
    TPyxHintPopup* FHintPopup = nullptr;
    int FBlinkInterval = 530;
    TPyxCursor FCursorShape = crPyxIBeam;
    int FWheelRemainder = 0;
    bool FSyncingBars = false;
    bool FMirroringFont = false;
};

}  // namespace ostra
