// Keys and mouse buttons at the Qt edge: a Qt key event becomes what the memo core takes, a
// Windows virtual-key code with a shift state for KeyDown and KeyUp, and the 8-bit character the
// key types for KeyPress. Control characters are worked out from the key and the modifiers, not
// from the text the window system reports (which differs between platforms): Ctrl+A types 1 ...
// Ctrl+Z 26, Enter 13, Ctrl+Enter 10, Backspace 8, Ctrl+Backspace 127, Tab 9, Escape 27; Alt
// alone types nothing. Other characters come from the event's text in Windows-1252; a character
// without a byte there types nothing.
#pragma once
#include <cstdint>

#include <Qt>
#include <QString>

#include "controls/memo/PyxMemoView.h"

namespace ostra {

// One key as the memo core receives it.
struct TPyxKeyStroke {
    uint16_t Key = 0;  // Windows virtual-key code; 0 for a key that has none
    TShiftState Shift;
    bool HasChar = false;  // the key types a character
    char Char = 0;         // that character (8-bit; control characters included)
};

// The stroke of a Qt key event (its key(), modifiers() and text()).
TPyxKeyStroke TranslateQtKey(int QtKey, Qt::KeyboardModifiers Modifiers, const QString& Text);
// The shift state of held modifiers and mouse buttons.
TShiftState ShiftStateOf(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons = Qt::NoButton);
// True when the memo acts on the stroke itself, so that no shortcut of its window may take it:
// typed characters, moving and editing keys, and the memo's own Ctrl and Alt combinations.
// Function keys and Escape stay with the window.
bool MemoTakesKey(const TPyxKeyStroke& Stroke);

}  // namespace ostra
