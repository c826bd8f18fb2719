// Qt keys turned into virtual-key codes, shift states and typed characters.
#include "controls/memo/PyxQtKeys.h"

#include "host/AnsiCodec.h"

namespace ostra {

namespace {

// Virtual-key codes beyond those the core names.
constexpr uint16_t VK_SHIFT = 16;
constexpr uint16_t VK_CONTROL = 17;
constexpr uint16_t VK_MENU = 18;  // Alt
constexpr uint16_t VK_PAUSE = 19;
constexpr uint16_t VK_CAPITAL = 20;
constexpr uint16_t VK_SNAPSHOT = 44;
constexpr uint16_t VK_LWIN = 91;
constexpr uint16_t VK_APPS = 93;
constexpr uint16_t VK_NUMPAD0 = 96;
constexpr uint16_t VK_MULTIPLY = 106;
constexpr uint16_t VK_ADD = 107;
constexpr uint16_t VK_SUBTRACT = 109;
constexpr uint16_t VK_DECIMAL = 110;
constexpr uint16_t VK_DIVIDE = 111;
constexpr uint16_t VK_F1 = 112;
constexpr uint16_t VK_NUMLOCK = 144;
constexpr uint16_t VK_SCROLL = 145;
// The punctuation keys of a US keyboard (the same key with or without Shift).
constexpr uint16_t VK_OEM_1 = 186;       // ; :
constexpr uint16_t VK_OEM_PLUS = 187;    // = +
constexpr uint16_t VK_OEM_COMMA = 188;   // , <
constexpr uint16_t VK_OEM_MINUS = 189;   // - _
constexpr uint16_t VK_OEM_PERIOD = 190;  // . >
constexpr uint16_t VK_OEM_2 = 191;       // / ?
constexpr uint16_t VK_OEM_3 = 192;       // ` ~
constexpr uint16_t VK_OEM_4 = 219;       // [ {
constexpr uint16_t VK_OEM_5 = 220;       // \ |
constexpr uint16_t VK_OEM_6 = 221;       // ] }
constexpr uint16_t VK_OEM_7 = 222;       // ' "

// The virtual-key code of a key on the numeric keypad; 0 when the key is not one of its own.
uint16_t KeypadKey(int QtKey) {
    if (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9) return static_cast<uint16_t>(VK_NUMPAD0 + (QtKey - Qt::Key_0));
    switch (QtKey) {
        case Qt::Key_Asterisk: return VK_MULTIPLY;
        case Qt::Key_Plus: return VK_ADD;
        case Qt::Key_Minus: return VK_SUBTRACT;
        case Qt::Key_Period: return VK_DECIMAL;
        case Qt::Key_Slash: return VK_DIVIDE;
        default: return 0;
    }
}

uint16_t VirtualKey(int QtKey, bool Keypad) {
    if (Keypad) {
        if (const uint16_t key = KeypadKey(QtKey)) return key;
    }
    if ((QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z) || (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9))
        return static_cast<uint16_t>(QtKey);  // Qt's codes of letters and digits are their ASCII codes
    if (QtKey >= Qt::Key_F1 && QtKey <= Qt::Key_F24) return static_cast<uint16_t>(VK_F1 + (QtKey - Qt::Key_F1));
    switch (QtKey) {
        case Qt::Key_Backspace: return VK_BACK;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return VK_TAB;
        case Qt::Key_Return:
        case Qt::Key_Enter: return VK_RETURN;
        case Qt::Key_Escape: return VK_ESCAPE;
        case Qt::Key_Space: return VK_SPACE;
        case Qt::Key_PageUp: return VK_PRIOR;
        case Qt::Key_PageDown: return VK_NEXT;
        case Qt::Key_End: return VK_END;
        case Qt::Key_Home: return VK_HOME;
        case Qt::Key_Left: return VK_LEFT;
        case Qt::Key_Up: return VK_UP;
        case Qt::Key_Right: return VK_RIGHT;
        case Qt::Key_Down: return VK_DOWN;
        case Qt::Key_Insert: return VK_INSERT;
        case Qt::Key_Delete: return VK_DELETE;
        case Qt::Key_Shift: return VK_SHIFT;
        case Qt::Key_Control: return VK_CONTROL;
        case Qt::Key_Alt:
        case Qt::Key_AltGr: return VK_MENU;
        case Qt::Key_Meta: return VK_LWIN;
        case Qt::Key_Menu: return VK_APPS;
        case Qt::Key_Pause: return VK_PAUSE;
        case Qt::Key_CapsLock: return VK_CAPITAL;
        case Qt::Key_NumLock: return VK_NUMLOCK;
        case Qt::Key_ScrollLock: return VK_SCROLL;
        case Qt::Key_Print: return VK_SNAPSHOT;
        // Shifted digits of a US keyboard report their character; the key is the digit's.
        case Qt::Key_Exclam: return '1';
        case Qt::Key_At: return '2';
        case Qt::Key_NumberSign: return '3';
        case Qt::Key_Dollar: return '4';
        case Qt::Key_Percent: return '5';
        case Qt::Key_AsciiCircum: return '6';
        case Qt::Key_Ampersand: return '7';
        case Qt::Key_Asterisk: return '8';
        case Qt::Key_ParenLeft: return '9';
        case Qt::Key_ParenRight: return '0';
        case Qt::Key_Semicolon:
        case Qt::Key_Colon: return VK_OEM_1;
        case Qt::Key_Equal:
        case Qt::Key_Plus: return VK_OEM_PLUS;
        case Qt::Key_Comma:
        case Qt::Key_Less: return VK_OEM_COMMA;
        case Qt::Key_Minus:
        case Qt::Key_Underscore: return VK_OEM_MINUS;
        case Qt::Key_Period:
        case Qt::Key_Greater: return VK_OEM_PERIOD;
        case Qt::Key_Slash:
        case Qt::Key_Question: return VK_OEM_2;
        case Qt::Key_QuoteLeft:
        case Qt::Key_AsciiTilde: return VK_OEM_3;
        case Qt::Key_BracketLeft:
        case Qt::Key_BraceLeft: return VK_OEM_4;
        case Qt::Key_Backslash:
        case Qt::Key_Bar: return VK_OEM_5;
        case Qt::Key_BracketRight:
        case Qt::Key_BraceRight: return VK_OEM_6;
        case Qt::Key_Apostrophe:
        case Qt::Key_QuoteDbl: return VK_OEM_7;
        default: return 0;
    }
}

// The printable character of the event's text in Windows-1252; -1 for none.
int TextChar(const QString& Text) {
    if (Text.isEmpty()) return -1;
    const char32_t cp = Text.at(0).isHighSurrogate() && Text.size() > 1
                            ? QChar::surrogateToUcs4(Text.at(0), Text.at(1))
                            : Text.at(0).unicode();
    if (cp < 32 || cp == 127) return -1;
    return UnicodeToAnsiChar(cp);
}

}  // namespace

TShiftState ShiftStateOf(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons) {
    TShiftState shift;
    if (Modifiers & Qt::ShiftModifier) shift.Include(ssShift);
    if (Modifiers & Qt::AltModifier) shift.Include(ssAlt);
    if (Modifiers & Qt::ControlModifier) shift.Include(ssCtrl);
    if (Buttons & Qt::LeftButton) shift.Include(ssLeft);
    if (Buttons & Qt::RightButton) shift.Include(ssRight);
    if (Buttons & Qt::MiddleButton) shift.Include(ssMiddle);
    return shift;
}

TPyxKeyStroke TranslateQtKey(int QtKey, Qt::KeyboardModifiers Modifiers, const QString& Text) {
    TPyxKeyStroke stroke;
    stroke.Key = VirtualKey(QtKey, (Modifiers & Qt::KeypadModifier) != 0);
    stroke.Shift = ShiftStateOf(Modifiers);
    const bool ctrl = stroke.Shift.Contains(ssCtrl);
    const bool alt = stroke.Shift.Contains(ssAlt);
    int ch = -1;
    switch (QtKey) {
        case Qt::Key_Backspace: ch = alt ? -1 : (ctrl ? 127 : 8); break;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: ch = ctrl || alt ? -1 : 9; break;
        case Qt::Key_Return:
        case Qt::Key_Enter: ch = alt ? -1 : (ctrl ? 10 : 13); break;
        case Qt::Key_Escape: ch = ctrl || alt ? -1 : 27; break;
        case Qt::Key_Space: ch = alt && !ctrl ? -1 : 32; break;
        default:
            if (ctrl && !alt) {
                if (QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z) ch = QtKey - Qt::Key_A + 1;
                else if (QtKey == Qt::Key_BracketLeft) ch = 27;
                else if (QtKey == Qt::Key_Backslash) ch = 28;
                else if (QtKey == Qt::Key_BracketRight) ch = 29;
            } else if (!alt || ctrl) {
                // Ctrl+Alt together is AltGr on some keyboards: it types what the text says.
                ch = TextChar(Text);
            }
            break;
    }
    if (ch >= 0) {
        stroke.HasChar = true;
        stroke.Char = static_cast<char>(ch);
    }
    return stroke;
}

bool MemoTakesKey(const TPyxKeyStroke& Stroke) {
    const bool ctrl = Stroke.Shift.Contains(ssCtrl);
    const bool alt = Stroke.Shift.Contains(ssAlt);
    const bool moveOrEdit = Stroke.Key == VK_BACK || Stroke.Key == VK_TAB || Stroke.Key == VK_RETURN ||
                            Stroke.Key == VK_SPACE || (Stroke.Key >= VK_PRIOR && Stroke.Key <= VK_DOWN) ||
                            Stroke.Key == VK_INSERT || Stroke.Key == VK_DELETE;
    if (!ctrl && !alt) return moveOrEdit || (Stroke.HasChar && Stroke.Char != 27);
    if (alt && !ctrl) return Stroke.Key == VK_BACK;  // undo and redo
    if (ctrl && !alt) {
        switch (Stroke.Key) {
            case 'A': case 'C': case 'V': case 'X': case 'Y': case 'F': case 'H':
                return true;
            default:
                return moveOrEdit && Stroke.Key != VK_TAB && Stroke.Key != VK_RETURN;
        }
    }
    return Stroke.HasChar;  // AltGr characters
}

}  // namespace ostra
