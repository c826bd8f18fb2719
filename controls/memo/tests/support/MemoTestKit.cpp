// The memo test doubles and helpers.
#include "controls/memo/tests/support/MemoTestKit.h"

#include "host/SysUtils.h"

namespace ostra::test {

TSize FakeView::TextExtent(const TFont& Font, const std::string& Text) {
    if (Font.Name() == "Arial") {
        int width = 0;
        for (char c : Text) width += c == 'i' ? 4 : 11;
        return {width, CharHeight};
    }
    return {CharWidth * static_cast<int>(Text.size()), CharHeight};
}

MemoKit::MemoKit() {
    Memo = std::make_unique<TPyxMemo>(nullptr);
    Memo->SetView(&View);
    Memo->SetClipboard(&Clipboard);
    Memo->SetFont(Memo->Font());  // measures the cell size through the view
    Memo->SetBounds(0, 0, 351, 250);
    Memo->SetBounds(0, 0, 350, 250);
}

void SetText(TPyxCustomMemo& Memo, const std::string& Text) {
    TStringList lines;
    size_t start = 0;
    while (true) {
        size_t end = Text.find('\n', start);
        lines.Add(Text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    Memo.SetLines(&lines);
}

std::string Text(const TPyxCustomMemo& Memo) {
    std::string result;
    const TPyxMemoStrings& lines = Memo.EffectiveLines();
    for (int i = 0; i < lines.Count(); ++i) {
        if (i > 0) result += '\n';
        result += lines.Strings(i);
    }
    return result;
}

std::string TrimmedText(const TPyxCustomMemo& Memo) {
    std::string result;
    const TPyxMemoStrings& lines = Memo.EffectiveLines();
    for (int i = 0; i < lines.Count(); ++i) {
        if (i > 0) result += '\n';
        result += TrimRight(lines.Strings(i));
    }
    return result;
}

void Type(TPyxCustomMemo& Memo, const std::string& Chars) {
    for (char c : Chars) {
        // A typed character arrives as a key-down of its key, then the character.
        const uint16_t key = c == '\r' ? VK_RETURN : c == '\t' ? VK_TAB : c == '\b' ? VK_BACK : 0;
        Memo.KeyDown(key, {});
        char ch = c;
        Memo.KeyPress(ch);
        Memo.KeyUp(0, {});
    }
}

void Key(TPyxCustomMemo& Memo, uint16_t KeyCode, TShiftState Shift) {
    Memo.KeyDown(KeyCode, Shift);
    Memo.KeyUp(KeyCode, Shift);
}

void Control(TPyxCustomMemo& Memo, char Letter) {
    Memo.KeyDown(static_cast<uint16_t>(Letter), {ssCtrl});
    char c = static_cast<char>(Letter - 'A' + 1);
    Memo.KeyPress(c);
    Memo.KeyUp(static_cast<uint16_t>(Letter), {ssCtrl});
}

void Place(TPyxCustomMemo& Memo, int Column, int Line) {
    Memo.SetCaretLine(Line);
    Memo.SetCaretColumn(Column);
    Memo.CollapseSelection();
}

std::string Caret(const TPyxCustomMemo& Memo) {
    return "(" + std::to_string(Memo.CaretColumn()) + "," + std::to_string(Memo.CaretLine()) + ")";
}

std::string Selection(const TPyxCustomMemo& Memo) {
    return "[" + std::to_string(Memo.SelStartColumn()) + "," + std::to_string(Memo.SelStartLine()) + "-" +
           std::to_string(Memo.SelEndColumn()) + "," + std::to_string(Memo.SelEndLine()) + "]";
}

TPoint CellPoint(TPyxCustomMemo& Memo, int Column, int Row) {
    const TRect cell = Memo.CellRect(Column, Row);
    return {cell.Left + Memo.CellWidth() / 2, cell.Top + Memo.CellHeight() / 2};
}

}  // namespace ostra::test
