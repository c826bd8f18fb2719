// Caret, selection and scrolling: cell geometry, the selection track, word and page moves,
// strict scrolling (also in a text area smaller than a cell), scroll bars and the caret.
#include <gtest/gtest.h>

#include "controls/memo/tests/support/MemoTestKit.h"

namespace ostra::test {
namespace {

std::string ManyLines(int n, const std::string& line = "x") {
    std::string text;
    for (int i = 0; i < n; ++i) text += (i ? "\n" : "") + line + std::to_string(i);
    return text;
}

TEST(MemoCaret, CellGeometry) {
    MemoKit kit;
    // Gutter 45 + 2, margin 2, one pixel of a single flat border taken back.
    EXPECT_EQ(kit->TextRect(), (TRect{48, 1, 349, 249}));
    EXPECT_EQ(kit->CellRect(0, 0), (TRect{48, 2, 56, 18}));
    EXPECT_EQ(kit->PointToPosition(48 + 8 * 3 + 1, 1 + 16 * 2 + 1), (TPoint{3, 2}));

    kit->SetBounds(0, 0, 61, 100);  // a text area 12 pixels wide
    EXPECT_EQ(kit->TextRect().Width(), 12);
    EXPECT_EQ(kit->VisibleCount(0), 1);

    kit->SetBorderStyle(bsNone);
    EXPECT_EQ(kit->TextRect().Left, 47) << "no border: the text area grows by 2 on every side";
    EXPECT_EQ(kit->Gutter().Width, 47);
}

TEST(MemoCaret, ShiftMovesExtendOnlyFromTheTrackedCaret) {
    MemoKit kit;
    SetText(*kit, "abcdef\nghijkl");
    for (int i = 0; i < 3; ++i) Key(*kit, VK_RIGHT, {ssShift});
    EXPECT_EQ(kit->GetSelectedText(), "abc");
    const TPoint p = CellPoint(*kit, 5, 0);
    kit->MouseDown(mbLeft, {}, p.X, p.Y);
    kit->MouseUp(mbLeft, {}, p.X, p.Y);
    EXPECT_TRUE(kit->SelectionEmpty());
    EXPECT_EQ(Caret(*kit), "(5,0)");

    // A direct caret move does not update the track: the next Shift move collapses.
    kit->SetCaretColumn(2);
    Key(*kit, VK_DOWN, {ssShift});
    EXPECT_TRUE(kit->SelectionEmpty());
    Key(*kit, VK_DOWN, {ssShift});
    Key(*kit, VK_UP, {ssShift});
    EXPECT_EQ(Selection(*kit), "[2,1-2,0]");
    EXPECT_EQ(kit->GetSelectedText(), "cdef\r\ngh");

    // Ctrl+Shift+End selects everything and leaves the caret at the end.
    Key(*kit, VK_END, {ssCtrl, ssShift});
    EXPECT_EQ(Selection(*kit), "[0,0-6,1]");
    EXPECT_EQ(Caret(*kit), "(6,1)");
}

TEST(MemoCaret, WordMovesStopAtWordStartsAndWrap) {
    MemoKit kit;
    SetText(*kit, "abc def\nxy");
    std::vector<std::string> right;
    for (int i = 0; i < 3; ++i) {
        Key(*kit, VK_RIGHT, {ssCtrl});
        right.push_back(Caret(*kit));
    }
    EXPECT_EQ(right, (std::vector<std::string>{"(4,0)", "(7,0)", "(0,1)"}));
    EXPECT_EQ(kit->Lines().Strings(0), "abc def") << "the blank padded on the way is trimmed";
    std::vector<std::string> left;
    for (int i = 0; i < 3; ++i) {
        Key(*kit, VK_LEFT, {ssCtrl});
        left.push_back(Caret(*kit));
    }
    // From a line start the caret wraps to the previous line and goes on to its last word.
    EXPECT_EQ(left, (std::vector<std::string>{"(4,0)", "(0,0)", "(0,0)"}));
}

TEST(MemoCaret, PageDownMovesAPageAndScrollsJustEnough) {
    MemoKit kit;
    SetText(*kit, ManyLines(100));
    kit->SetBounds(0, 0, 350, 322);  // 20 rows of 16 pixels
    ASSERT_EQ(kit->TextRect().Height() / kit->CellHeight(), 20);
    Key(*kit, VK_NEXT);
    EXPECT_EQ(kit->CaretLine(), 19);
    EXPECT_EQ(kit->FirstVisibleLine(), 1);
    EXPECT_TRUE(kit->VertScrollBar().Visible);
    EXPECT_EQ(kit->VertScrollBar().Max, 100);
    EXPECT_EQ(kit->VertScrollBar().Position, 1);
    for (int i = 0; i < 10; ++i) Key(*kit, VK_NEXT);
    EXPECT_EQ(kit->CaretLine(), 99);
    Key(*kit, VK_PRIOR, {ssCtrl});
    EXPECT_EQ(Caret(*kit), "(0,0)");
    EXPECT_EQ(kit->FirstVisibleLine(), 0);
}

TEST(MemoCaret, StrictModeKeepsTheCaretInsideTheVisibleCells) {
    MemoKit kit;
    SetText(*kit, ManyLines(30, std::string(100, 'w')));
    kit->SetScrollBars(ssNone);
    kit->SetScrollMode(smStrict);
    kit->SetBounds(0, 0, 350, 162);  // 10 rows
    for (int i = 0; i < 40; ++i) Key(*kit, VK_RIGHT);
    for (int i = 0; i < 20; ++i) Key(*kit, VK_DOWN);
    EXPECT_EQ(kit->CaretColumn(), kit->VisibleCount(2));
    EXPECT_EQ(kit->CaretLine(), kit->VisibleCount(3));
    EXPECT_EQ(kit->FirstVisibleLine(), 0);
    EXPECT_EQ(kit->FirstVisibleColumn(), 0);

    // A text area smaller than one cell: the caret stays at (0, 0) and nothing recurses.
    kit->SetBounds(0, 0, 52, 6);
    ASSERT_LT(kit->VisibleCount(2), 0);
    Key(*kit, VK_DOWN);
    Key(*kit, VK_RIGHT);
    Type(*kit, "z");
    EXPECT_EQ(Caret(*kit), "(0,0)");
}

TEST(MemoCaret, HorizontalBarFollowsTheLongestLine) {
    MemoKit kit;
    SetText(*kit, "short");
    EXPECT_FALSE(kit->HorzScrollBar().Visible);
    kit->Lines().Add(std::string(200, 'a'));
    EXPECT_TRUE(kit->HorzScrollBar().Visible);
    EXPECT_EQ(kit->HorzScrollBar().Max, 200);
    Place(*kit, 200, 1);
    EXPECT_GT(kit->FirstVisibleColumn(), 150);
    Key(*kit, VK_HOME);
    EXPECT_EQ(kit->FirstVisibleColumn(), 0);
    kit->Lines().Delete(1);
    EXPECT_FALSE(kit->HorzScrollBar().Visible);
}

TEST(MemoCaret, CaretFollowsFocusAndItsCell) {
    MemoKit kit;
    SetText(*kit, "abc\ndef");
    Place(*kit, 2, 1);
    EXPECT_FALSE(kit->CaretShown()) << "no caret without the focus";
    kit.View.HasFocus = true;
    kit->FocusIn();
    EXPECT_TRUE(kit.View.CaretExists);
    EXPECT_TRUE(kit->CaretShown());
    EXPECT_EQ(kit.View.CaretPos, (TPoint{48 + 16, 2 + 16 + 1}));
    Key(*kit, VK_LEFT);
    EXPECT_EQ(kit.View.CaretPos.X, 48 + 8);
    kit->SetHiddenCaret(true);
    EXPECT_FALSE(kit->CaretShown());
    kit->SetHiddenCaret(false);
    kit.View.HasFocus = false;
    kit->FocusOut();
    EXPECT_FALSE(kit.View.CaretExists);
    EXPECT_FALSE(kit->CaretShown());
}

TEST(MemoCaret, ProportionalFontsAreRefused) {
    MemoKit kit;
    TFont arial;
    arial.SetName("Arial");
    EXPECT_THROW(kit->SetFont(arial), EAbort);
    EXPECT_EQ(kit->Font().Name(), "COURIER NEW");

    kit->Font().SetHeight(-20);  // a monospace change through the font object is applied
    EXPECT_EQ(kit->CanvasFont().Height(), -20);
    EXPECT_THROW(kit->Font().SetName("Arial"), EAbort);
    EXPECT_EQ(kit->Font().Name(), "Arial");
    EXPECT_EQ(kit->CanvasFont().Name(), "COURIER NEW") << "painting keeps the last monospace face";
}

TEST(MemoCaret, WheelScrollsByFourLines) {
    MemoKit kit;
    SetText(*kit, ManyLines(40));
    kit->MouseWheel(-120);
    EXPECT_EQ(kit->FirstVisibleLine(), 4);
    kit->MouseWheel(120);
    EXPECT_EQ(kit->FirstVisibleLine(), 0);
    SetText(*kit, ManyLines(5));
    kit->MouseWheel(-120);
    EXPECT_EQ(kit->FirstVisibleLine(), 0) << "everything is visible already";
}

}  // namespace
}  // namespace ostra::test
