// The two seams between the memo's headless core (PyxCustomMemo.h) and a window system:
//   - IPyxMemoView: what the core asks of the window that shows it: text measurement (the cell
//     size), focus, repainting, the caret, the scroll bars' and the mouse cursor's appearance;
//   - IPyxClipboard: the clipboard's text.
// A memo without a view behaves as an unfocused window that measures every text as 0 x 0 (so its
// cell size stays 0); a memo without a clipboard copies into nothing and pastes nothing. Tests
// give the core small fakes; the Qt widget implements both over Qt.
#pragma once
#include <cstdint>
#include <string>

#include "controls/memo/PyxGraphics.h"

namespace ostra {

// The mouse cursor shapes the memo asks for.
enum TPyxCursor { crPyxDefault, crPyxArrow, crPyxIBeam, crPyxHandPoint };

// The memo's two timers: from a typed full stop to the member list, and from the last
// computation of the parameter hint to its hiding.
enum TPyxMemoTimer { mtCompletion, mtParameterHint };

// The window that shows a memo. All coordinates are client pixels of the memo.
class IPyxMemoView {
public:
    virtual ~IPyxMemoView() = default;

    // Width and height in pixels of `Text` drawn on one line in `Font`.
    virtual TSize TextExtent(const TFont& Font, const std::string& Text) = 0;

    // True while the memo's window has the keyboard focus.
    virtual bool Focused() const = 0;
    // Asks for the keyboard focus.
    virtual void SetFocus() = 0;

    // Marks the whole client area / one rectangle for repainting later.
    virtual void Invalidate() = 0;
    virtual void InvalidateRect(const TRect& Rect) = 0;
    // Repaints what is marked, now.
    virtual void Update() = 0;

    // The caret: a solid bar of Width x Height pixels, created hidden.
    virtual void CreateCaret(int Width, int Height) = 0;
    virtual void DestroyCaret() = 0;
    virtual void SetCaretPos(int X, int Y) = 0;
    virtual void ShowCaret() = 0;
    virtual void HideCaret() = 0;
    // Stops (false) or resumes (true) the caret's blinking; keys held down stop it.
    virtual void SetCaretBlinking(bool Blinking) = 0;

    // The memo changed the visibility, range, page or position of a scroll bar.
    virtual void ScrollBarsChanged() = 0;
    // The mouse cursor to show over the memo from now on.
    virtual void SetCursorShape(TPyxCursor Cursor) = 0;

    // The pop-ups and timers of autocompletion and hints. A view without them (the defaults)
    // shows nothing and never fires a timer; the memo keeps their state either way.
    // (Re)starts a timer that fires once, `Interval` ms from now, into the memo's TimerFired.
    virtual void StartTimer(TPyxMemoTimer Timer, int Interval) {}
    virtual void StopTimer(TPyxMemoTimer Timer) {}
    // Shows the memo's completion list (its CompletionItems and CompletionIndex) at `Rect`, in
    // client pixels, without taking the focus; the list's entries or selection changed; hides it.
    virtual void ShowCompletionList(const TRect& Rect) {}
    virtual void CompletionListChanged() {}
    virtual void HideCompletionList() {}
    // Shows the memo's parameter hint (its HintBefore, HintCurrent, HintAfter, HintBoldPart) at
    // `Rect`, in client pixels, without taking the focus; hides it.
    virtual void ShowParameterHint(const TRect& Rect) {}
    virtual void HideParameterHint() {}
    // Withdraws the tooltip shown over the memo.
    virtual void CancelHint() {}
};

// The clipboard's text (8-bit text; a line break is CR LF).
class IPyxClipboard {
public:
    virtual ~IPyxClipboard() = default;
    // True when the clipboard holds a text that is not empty.
    virtual bool HasText() const = 0;
    virtual std::string AsText() const = 0;
    virtual void SetAsText(const std::string& Text) = 0;
};

}  // namespace ostra

namespace ostra {

// Keys and mouse buttons as the core receives them: Windows virtual-key codes and shift states,
// whatever the window system delivers (the widget translates).
enum TShiftStateItem { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TSet<TShiftStateItem>;
enum TMouseButton { mbLeft, mbRight, mbMiddle };

constexpr uint16_t VK_BACK = 8;
constexpr uint16_t VK_TAB = 9;
constexpr uint16_t VK_RETURN = 13;
constexpr uint16_t VK_ESCAPE = 27;
constexpr uint16_t VK_SPACE = 32;
constexpr uint16_t VK_PRIOR = 33;  // Page Up
constexpr uint16_t VK_NEXT = 34;   // Page Down
constexpr uint16_t VK_END = 35;
constexpr uint16_t VK_HOME = 36;
constexpr uint16_t VK_LEFT = 37;
constexpr uint16_t VK_UP = 38;
constexpr uint16_t VK_RIGHT = 39;
constexpr uint16_t VK_DOWN = 40;
constexpr uint16_t VK_INSERT = 45;
constexpr uint16_t VK_DELETE = 46;

}  // namespace ostra
