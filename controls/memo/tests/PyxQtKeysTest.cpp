// Qt keys as the memo core takes them: virtual-key codes, shift states, the typed 8-bit
// character worked out from key and modifiers, and which keys the memo keeps from its window's
// shortcuts.
#include <gtest/gtest.h>

#include "controls/memo/PyxQtKeys.h"

namespace ostra::test {
namespace {

struct KeyCase {
    const char* Name;
    int QtKey;
    Qt::KeyboardModifiers Modifiers;
    QString Text;
    uint16_t Key;
    int Char;  // -1: types nothing
    bool Taken;
};

TEST(QtKeys, TranslationTable) {
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    const Qt::KeyboardModifiers alt = Qt::AltModifier;
    const KeyCase cases[] = {
        {"letter", Qt::Key_A, none, "a", 'A', 'a', true},
        {"shifted letter", Qt::Key_A, shift, "A", 'A', 'A', true},
        // Control characters come from key and modifiers, whatever text the platform reports.
        {"Ctrl+A without text", Qt::Key_A, ctrl, "", 'A', 1, true},
        {"Ctrl+C with its text", Qt::Key_C, ctrl, QString(QChar(3)), 'C', 3, true},
        {"Ctrl+Shift+V", Qt::Key_V, ctrl | shift, "", 'V', 22, true},
        {"Ctrl+Y", Qt::Key_Y, ctrl, "y", 'Y', 25, true},
        {"Ctrl+digit", Qt::Key_1, ctrl, "1", '1', -1, false},
        {"Enter", Qt::Key_Return, none, "\r", VK_RETURN, 13, true},
        {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, "\r", VK_RETURN, 13, true},
        {"Ctrl+Enter", Qt::Key_Return, ctrl, "", VK_RETURN, 10, false},
        {"Backspace", Qt::Key_Backspace, none, "\b", VK_BACK, 8, true},
        {"Ctrl+Backspace", Qt::Key_Backspace, ctrl, "", VK_BACK, 127, true},
        {"Alt+Backspace undoes", Qt::Key_Backspace, alt, "", VK_BACK, -1, true},
        {"Tab", Qt::Key_Tab, none, "\t", VK_TAB, 9, true},
        {"Shift+Tab", Qt::Key_Backtab, shift, "", VK_TAB, 9, true},
        {"Escape stays with the window", Qt::Key_Escape, none, "\x1b", VK_ESCAPE, 27, false},
        {"Space", Qt::Key_Space, none, " ", VK_SPACE, ' ', true},
        {"Ctrl+Space", Qt::Key_Space, ctrl, "", VK_SPACE, ' ', true},
        {"Alt+letter types nothing", Qt::Key_F, alt, "f", 'F', -1, false},
        {"AltGr character", Qt::Key_E, ctrl | alt, QString(QChar(0x20AC)), 'E', 0x80, true},
        {"Latin-1 letter", Qt::Key_Eacute, none, QString(QChar(0xE9)), 0, 0xE9, true},
        {"no Windows-1252 byte", Qt::Key_unknown, none, QString(QChar(0x3A9)), 0, -1, false},
        {"shifted digit", Qt::Key_ParenLeft, shift, "(", '9', '(', true},
        {"full stop", Qt::Key_Period, none, ".", 190, '.', true},
        {"keypad digit 5", Qt::Key_5, Qt::KeypadModifier, "5", 101, '5', true},
        {"Page Down", Qt::Key_PageDown, none, "", VK_NEXT, -1, true},
        {"Ctrl+End", Qt::Key_End, ctrl, "", VK_END, -1, true},
        {"Shift+Insert pastes", Qt::Key_Insert, shift, "", VK_INSERT, -1, true},
        {"Ctrl+F finds", Qt::Key_F, ctrl, "", 'F', 6, true},
        {"F5 stays with the window", Qt::Key_F5, none, "", 116, -1, false},
        {"Ctrl+S stays with the window", Qt::Key_S, ctrl, "", 'S', 19, false},
        {"Shift alone", Qt::Key_Shift, shift, "", 16, -1, false},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TPyxKeyStroke stroke = TranslateQtKey(c.QtKey, c.Modifiers, c.Text);
        EXPECT_EQ(stroke.Key, c.Key);
        EXPECT_EQ(stroke.HasChar, c.Char >= 0);
        if (c.Char >= 0) {
            EXPECT_EQ(static_cast<unsigned char>(stroke.Char), c.Char);
        }
        EXPECT_EQ(MemoTakesKey(stroke), c.Taken);
    }
}

TEST(QtKeys, ShiftStateHoldsModifiersAndButtons) {
    const TShiftState shift =
        ShiftStateOf(Qt::ShiftModifier | Qt::ControlModifier, Qt::LeftButton | Qt::MiddleButton);
    EXPECT_EQ(shift, (TShiftState{ssShift, ssCtrl, ssLeft, ssMiddle}));
    EXPECT_EQ(ShiftStateOf(Qt::AltModifier, Qt::RightButton), (TShiftState{ssAlt, ssRight}));
}

}  // namespace
}  // namespace ostra::test
