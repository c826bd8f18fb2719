// Scripted edit sequences on the memo core: text, caret, selection and undo count after typing,
// virtual columns, Tab, read-only keys, line splits, paste, line deletion and joins.
#include <gtest/gtest.h>

#include "controls/memo/tests/support/MemoTestKit.h"

namespace ostra::test {
namespace {

int Records(TPyxCustomMemo& Memo) {
    return Memo.UndoList().Count();
}

TEST(MemoEdit, NewMemoHasOneEmptyLineAndNothingElse) {
    MemoKit kit;
    EXPECT_EQ(kit->Lines().Count(), 1);
    EXPECT_EQ(Text(*kit), "");
    EXPECT_EQ(Caret(*kit), "(0,0)");
    EXPECT_TRUE(kit->SelectionEmpty());
    EXPECT_FALSE(kit->Modified());
    EXPECT_EQ(kit->CellWidth(), 8);
    EXPECT_EQ(kit->CellHeight(), 16);
    EXPECT_EQ(kit->GetSelectedText(), "");
}

TEST(MemoEdit, VirtualColumnsPadOnlyWhenTypingAndTrimWhenLeaving) {
    MemoKit kit;
    SetText(*kit, "abcdefghijkl\nabc\nxyz");
    Place(*kit, 10, 0);
    Key(*kit, VK_DOWN);
    EXPECT_EQ(Caret(*kit), "(10,1)");
    EXPECT_EQ(kit->Lines().Strings(1), "abc") << "a vertical move keeps the column without padding";
    Type(*kit, "x");
    EXPECT_EQ(kit->Lines().Strings(1), "abc       x");
    EXPECT_EQ(Caret(*kit), "(11,1)");

    // Right at a line's end pads one blank; leaving the line trims it again.
    Place(*kit, 3, 2);
    Key(*kit, VK_RIGHT);
    EXPECT_EQ(kit->Lines().Strings(2), "xyz ");
    EXPECT_EQ(Caret(*kit), "(4,2)");
    Key(*kit, VK_END);
    EXPECT_EQ(Caret(*kit), "(3,2)");
    Key(*kit, VK_UP);
    EXPECT_EQ(kit->Lines().Strings(2), "xyz");

    kit->Undo();
    EXPECT_EQ(TrimmedText(*kit), "abcdefghijkl\nabc\nxyz");
    EXPECT_EQ(Caret(*kit), "(10,1)");
}

TEST(MemoEdit, TabTypesBlanksAndShiftTabOnlyMoves) {
    MemoKit kit;
    SetText(*kit, "ab");
    Place(*kit, 1, 0);
    Key(*kit, VK_TAB);
    EXPECT_EQ(Text(*kit), "a    b");
    EXPECT_EQ(Caret(*kit), "(5,0)");
    Key(*kit, VK_TAB, {ssShift});
    EXPECT_EQ(Caret(*kit), "(1,0)");
    Key(*kit, VK_TAB, {ssShift});
    EXPECT_EQ(Caret(*kit), "(0,0)");
    EXPECT_EQ(Text(*kit), "a    b");
    EXPECT_EQ(Records(*kit), 1);

    // In overwrite mode Tab moves over text and appends only the blanks still missing.
    SetText(*kit, "abcdefghij");
    kit->SetOverwriteMode(true);
    Place(*kit, 1, 0);
    Key(*kit, VK_TAB);
    EXPECT_EQ(Text(*kit), "abcdefghij");
    EXPECT_EQ(Caret(*kit), "(5,0)");
    Place(*kit, 8, 0);
    Key(*kit, VK_TAB);
    EXPECT_EQ(Text(*kit), "abcdefghij  ");
    EXPECT_EQ(Caret(*kit), "(12,0)");
    kit->Undo();
    EXPECT_EQ(TrimmedText(*kit), "abcdefghij");
}

TEST(MemoEdit, ReadOnlyMemoMovesButNeverEdits) {
    MemoKit kit;
    SetText(*kit, "one two\nthree");
    kit->SetReadOnly(true);
    kit.Clipboard.Text = "pasted";
    Place(*kit, 4, 0);
    Type(*kit, "x\r\t\b");
    for (uint16_t key : {VK_DELETE, VK_BACK, VK_TAB})
        Key(*kit, key);
    for (char letter : {'Y', 'V', 'X'}) Control(*kit, letter);
    EXPECT_EQ(Text(*kit), "one two\nthree");
    EXPECT_EQ(Records(*kit), 0);

    // Arrows and Shift+Tab still move; Home, End, the page keys and Ctrl+A do nothing.
    Key(*kit, VK_RIGHT);
    EXPECT_EQ(Caret(*kit), "(5,0)");
    Key(*kit, VK_TAB, {ssShift});
    EXPECT_EQ(Caret(*kit), "(1,0)");
    Key(*kit, VK_END);
    Key(*kit, VK_NEXT);
    EXPECT_EQ(Caret(*kit), "(1,0)");
    kit->EditCommand(1, {});
    EXPECT_TRUE(kit->SelectionEmpty());
}

TEST(MemoEdit, EnterSplitsWithAutoIndent) {
    MemoKit kit;
    SetText(*kit, "    abc def");
    Place(*kit, 8, 0);
    Type(*kit, "\r");
    EXPECT_EQ(Text(*kit), "    abc\n    def");
    EXPECT_EQ(Caret(*kit), "(4,1)");
    ASSERT_EQ(Records(*kit), 1);
    EXPECT_EQ(kit->UndoList().RecordAt(0)->Content, "\r    ");
    kit->Undo();
    EXPECT_EQ(Text(*kit), "    abc def") << "the blank trimmed at the split comes back";
    EXPECT_EQ(Caret(*kit), "(8,0)");
    kit->Redo();
    EXPECT_EQ(Text(*kit), "    abc\n    def") << "redo indents once";
    EXPECT_EQ(Caret(*kit), "(4,1)");

    // At column 2 of a line indented by four, the new line is indented by two.
    SetText(*kit, "    xyz");
    Place(*kit, 2, 0);
    Type(*kit, "\r");
    EXPECT_EQ(Text(*kit), "\n  xyz");
    EXPECT_EQ(Caret(*kit), "(2,1)");
    kit->Undo();
    EXPECT_EQ(Text(*kit), "    xyz");
}

TEST(MemoEdit, PasteOverSelectionRecordsTwoStepsAndUndoesBoth) {
    MemoKit kit;
    SetText(*kit, "hello world");
    Place(*kit, 6, 0);
    for (int i = 0; i < 5; ++i) Key(*kit, VK_RIGHT, {ssShift});
    EXPECT_EQ(kit->GetSelectedText(), "world");
    kit.Clipboard.Text = "a\r\nb\nc";
    Control(*kit, 'V');
    EXPECT_EQ(Text(*kit), "hello a\nb\nc");
    EXPECT_EQ(Caret(*kit), "(1,2)");
    EXPECT_TRUE(kit->SelectionEmpty());
    EXPECT_EQ(Records(*kit), 2);
    kit->Undo();
    EXPECT_EQ(TrimmedText(*kit), "hello");
    kit->Undo();
    EXPECT_EQ(Text(*kit), "hello world");
}

TEST(MemoEdit, InsertedTextEndingInLineBreaksMakesOnePartMoreThanBreaks) {
    struct Case {
        const char* text;
        const char* expected;
        const char* caret;
    } cases[] = {
        {"x\r\n", "ax\nb", "(0,1)"},
        {"x\r\n\r\n", "ax\n\nb", "(0,2)"},
        {"\r\n", "a\nb", "(0,1)"},
        {"x\ny\rz", "ax\ny\nzb", "(1,2)"},
    };
    for (const Case& c : cases) {
        MemoKit kit;
        SetText(*kit, "ab");
        Place(*kit, 1, 0);
        kit->InsertText(c.text);
        EXPECT_EQ(Text(*kit), c.expected) << c.text;
        EXPECT_EQ(Caret(*kit), c.caret) << c.text;
        kit->Undo();
        EXPECT_EQ(Text(*kit), "ab") << c.text;
    }
}

TEST(MemoEdit, CtrlYOnTheOnlyAMiddleAndTheLastLine) {
    struct Case {
        const char* text;
        int column, line;
        const char* after;
        const char* caretAfter;
    } cases[] = {
        {"abc", 2, 0, "", "(0,0)"},
        {"a\nbb\nc", 1, 1, "a\nc", "(0,1)"},
        {"a\nbb\nc", 1, 2, "a\nbb", "(0,1)"},
    };
    for (const Case& c : cases) {
        MemoKit kit;
        SetText(*kit, c.text);
        Place(*kit, c.column, c.line);
        Control(*kit, 'Y');
        EXPECT_EQ(Text(*kit), c.after) << c.text << " line " << c.line;
        EXPECT_EQ(Caret(*kit), c.caretAfter) << c.text << " line " << c.line;
        EXPECT_EQ(Records(*kit), 1);
        kit->Undo();
        EXPECT_EQ(TrimmedText(*kit), c.text) << "undo puts the line back where it was";
        EXPECT_EQ(kit->CaretLine(), c.line);
        kit->Redo();
        EXPECT_EQ(TrimmedText(*kit), c.after);
    }
}

TEST(MemoEdit, DeleteAndBackspaceAtLineEnds) {
    MemoKit kit;
    SetText(*kit, "ab\ncd");
    int changes = 0;
    kit->OnChange = [&](TObject*) { ++changes; };

    Place(*kit, 2, 1);
    Key(*kit, VK_DELETE);
    EXPECT_EQ(Text(*kit), "ab\ncd");
    EXPECT_EQ(Records(*kit), 0) << "Delete at the end of the last line records nothing";
    EXPECT_EQ(changes, 1) << "but still reports a change";

    Place(*kit, 2, 0);
    Key(*kit, VK_DELETE);
    EXPECT_EQ(Text(*kit), "abcd");
    Place(*kit, 0, 0);
    Key(*kit, VK_BACK);
    EXPECT_EQ(Text(*kit), "abcd");
    EXPECT_EQ(Records(*kit), 1) << "Backspace at the text's start records nothing";

    SetText(*kit, "ab\ncd");
    Place(*kit, 0, 1);
    Key(*kit, VK_BACK);
    EXPECT_EQ(Text(*kit), "abcd");
    EXPECT_EQ(Caret(*kit), "(2,0)");
}

TEST(MemoEdit, BackspaceBeyondTheLineEndOnlyMovesTheCaret) {
    MemoKit kit;
    SetText(*kit, "abcdef\nab\ncd");
    Place(*kit, 5, 0);
    Key(*kit, VK_DOWN);
    ASSERT_EQ(Caret(*kit), "(5,1)");
    Key(*kit, VK_BACK);
    EXPECT_EQ(kit->CaretColumn(), 4);
    EXPECT_EQ(TrimmedText(*kit), "abcdef\nab\ncd") << "the next line must not be joined";
    EXPECT_EQ(Records(*kit), 0);
    // The caret's line is now padded to the caret: Backspace deletes the padding, then text.
    for (int i = 0; i < 3; ++i) Key(*kit, VK_BACK);
    EXPECT_EQ(TrimmedText(*kit), "abcdef\na\ncd");
    EXPECT_EQ(Caret(*kit), "(1,1)");
}

TEST(MemoEdit, OverwriteAndCtrlBackspaceUndoToTheExactText) {
    MemoKit kit;
    SetText(*kit, "abc def");
    kit->SetOverwriteMode(true);
    Place(*kit, 1, 0);
    Type(*kit, "XYZW");
    EXPECT_EQ(Text(*kit), "aXYZWef");
    EXPECT_EQ(Records(*kit), 1);
    kit->Undo();
    EXPECT_EQ(Text(*kit), "abc def");
    kit->Redo();
    EXPECT_EQ(Text(*kit), "aXYZWef");

    kit->SetOverwriteMode(false);
    SetText(*kit, "one two three");
    Place(*kit, 13, 0);
    Key(*kit, VK_BACK, {ssCtrl});
    EXPECT_EQ(Text(*kit), "one two ");
    Key(*kit, VK_BACK, {ssCtrl});
    EXPECT_EQ(Text(*kit), "one ");
    kit->Undo();
    EXPECT_EQ(TrimmedText(*kit), "one two three");
}

TEST(MemoEdit, TypingReplacesTheSelectionOnlyWithDelErase) {
    MemoKit kit;
    SetText(*kit, "hello");
    kit->SetSelection(1, 0, 4, 0);
    Place(*kit, 4, 0);
    kit->SetSelection(1, 0, 4, 0);
    Type(*kit, "a");
    EXPECT_EQ(Text(*kit), "hao");

    kit->SetDelErase(false);
    SetText(*kit, "hello");
    Place(*kit, 4, 0);
    kit->SetSelection(1, 0, 4, 0);
    Type(*kit, "a");
    EXPECT_EQ(Text(*kit), "hellao");
    EXPECT_TRUE(kit->SelectionEmpty());
}

TEST(MemoEdit, ClearEmptiesTextAndSelectionButKeepsHistory) {
    MemoKit kit;
    Type(*kit, "abc");
    kit->SelectAll();
    kit->Clear();
    EXPECT_EQ(Text(*kit), "");
    EXPECT_EQ(Caret(*kit), "(0,0)");
    EXPECT_EQ(Selection(*kit), "[0,0-0,0]");
    EXPECT_EQ(kit->GetSelectedText(), "");
    EXPECT_EQ(Records(*kit), 1);
}

TEST(MemoEdit, CutWithEmptySelectionClearsTheClipboardOnly) {
    MemoKit kit;
    SetText(*kit, "abc");
    kit.Clipboard.Text = "old";
    kit->CutToClipboard();
    EXPECT_EQ(kit.Clipboard.Text, "");
    EXPECT_EQ(Text(*kit), "abc");
    EXPECT_EQ(Records(*kit), 0);

    kit->SelectAll();
    kit->CutToClipboard();
    EXPECT_EQ(kit.Clipboard.Text, "abc");
    EXPECT_EQ(Text(*kit), "");
}

}  // namespace
}  // namespace ostra::test
