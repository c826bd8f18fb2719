// The memo's line list: tab expansion and lengths, callers' objects beside checkpoints, deletions
// routed through the memo, assignment, update brackets and checkpoint invalidation.
#include <gtest/gtest.h>

#include "controls/memo/tests/support/MemoTestKit.h"

namespace ostra::test {
namespace {

TEST(MemoStrings, TabsExpandOnlyInAMemosList) {
    MemoKit kit;
    kit->Lines().Add("a\tb");
    EXPECT_EQ(kit->Lines().Strings(1), "a    b");
    EXPECT_EQ(kit->Lines().LineLengths().back(), 6);
    kit->Lines().SetStrings(0, "\t\t");
    EXPECT_EQ(kit->Lines().Strings(0), std::string(8, ' '));
    EXPECT_EQ(kit->Lines().LongestLength(), 8);
    kit->Lines().SetStrings(0, "");
    EXPECT_EQ(kit->Lines().LongestLength(), 6) << "the longest length follows shrinking lines";

    TPyxMemoStrings free;
    free.Add("a\tb");
    EXPECT_EQ(free.Strings(0), "a\tb");
    EXPECT_EQ(free.LineLengths(), std::vector<int>{3});
}

TEST(MemoStrings, ReorderingKeepsLengthsInLineOrder) {
    TPyxMemoStrings lines;
    for (const char* s : {"ccc", "a", "bb"}) lines.Add(s);
    lines.StoreLineState(2, TokenState::Initial());
    lines.Exchange(0, 1);
    EXPECT_EQ(lines.LineLengths(), (std::vector<int>{1, 3, 2}));
    TokenState s;
    EXPECT_FALSE(lines.ReadLineState(2, s));
    lines.Sort();
    EXPECT_EQ(lines.CommaText(), "a,bb,ccc");
    EXPECT_EQ(lines.LineLengths(), (std::vector<int>{1, 2, 3}));
    lines.SetSorted(true);
    lines.Add("b");
    EXPECT_EQ(lines.LineLengths(), (std::vector<int>{1, 1, 2, 3}));
}

TEST(MemoStrings, CallersObjectsSurviveCheckpoints) {
    TPyxMemoStrings lines;
    TObject a, b;
    lines.Add("x");
    lines.Add("y");
    lines.SetObjects(1, &a);
    EXPECT_EQ(lines.Objects(1), &a);
    TokenState state = TokenState::Initial();
    state.InComment = 1;
    lines.StoreLineState(1, state);
    EXPECT_EQ(lines.Objects(1), &a) << "the checkpoint keeps the caller's object";
    lines.SetObjects(1, &b);
    EXPECT_EQ(lines.Objects(1), &b);
    TokenState read;
    ASSERT_TRUE(lines.ReadLineState(1, read));
    EXPECT_EQ(read, state);

    EXPECT_EQ(lines.Objects(-1), nullptr);
    EXPECT_EQ(lines.Objects(2), nullptr);
    lines.SetObjects(2, &a);  // outside the list: nothing happens
    EXPECT_EQ(lines.Count(), 2);

    lines.Clear();
    lines.Add("z");
    EXPECT_FALSE(lines.ReadLineState(0, read));
}

TEST(MemoStrings, AnEditStalesTheCheckpointsBelowIt) {
    TPyxMemoStrings lines;
    for (int i = 0; i < 200; ++i) lines.Add("line");
    for (int i : {0, 50, 100, 150}) lines.StoreLineState(i, TokenState::Initial());
    TokenState s;

    lines.SetStrings(60, "changed");
    EXPECT_TRUE(lines.ReadLineState(50, s));
    EXPECT_FALSE(lines.ReadLineState(100, s));
    EXPECT_FALSE(lines.ReadLineState(150, s));

    // A scan that rewrote every checkpoint down to line 150 makes them trusted again.
    lines.StoreLineState(100, TokenState::Initial());
    lines.StoreLineState(150, TokenState::Initial());
    lines.MarkStatesValidThrough(150);
    EXPECT_TRUE(lines.ReadLineState(150, s));

    lines.InsertLine(50, "new");
    EXPECT_FALSE(lines.ReadLineState(51, s)) << "the checkpoint that moved down counted no new line";
    EXPECT_TRUE(lines.ReadLineState(0, s));

    lines.MarkStatesValidThrough(1000);
    lines.Delete(0);
    EXPECT_FALSE(lines.ReadLineState(0, s)) << "deleting a line stales the checkpoint that takes its place";

    lines.ClearLineStates();
    EXPECT_FALSE(lines.ReadLineState(100, s));
}

TEST(MemoStrings, DeletionFromOutsideIsOneUndoableLineDeletion) {
    MemoKit kit;
    SetText(*kit, "0\n1\n2\n3\n4\n5\n6\nseven\n8\n9");
    Place(*kit, 5, 7);
    kit->Lines().Delete(3);
    EXPECT_EQ(Text(*kit), "0\n1\n2\n4\n5\n6\nseven\n8\n9");
    EXPECT_EQ(Caret(*kit), "(5,6)");
    ASSERT_EQ(kit->UndoList().Count(), 1);
    EXPECT_NE(dynamic_cast<TDeleteLineUndo*>(kit->UndoList().RecordAt(0)), nullptr);
    kit->Undo();
    EXPECT_EQ(TrimmedText(*kit), "0\n1\n2\n3\n4\n5\n6\nseven\n8\n9");

    kit->Lines().Delete(-1);
    kit->Lines().Delete(kit->Lines().Count());
    EXPECT_EQ(kit->Lines().Count(), 10);

    SetText(*kit, "only");
    Place(*kit, 3, 0);
    kit->Lines().Delete(0);
    EXPECT_EQ(kit->Lines().Count(), 1);
    EXPECT_EQ(Text(*kit), "");
    EXPECT_EQ(kit->CaretColumn(), 0);
}

TEST(MemoStrings, AssignmentKeepsCaretAndSelectionInsideTheText) {
    MemoKit kit;
    SetText(*kit, "first\nsecond\nthird line");
    Place(*kit, 4, 2);
    kit->SetSelection(1, 0, 8, 2);
    SetText(*kit, "ab");
    EXPECT_EQ(kit->CaretLine(), 0);
    EXPECT_EQ(Selection(*kit), "[1,0-2,0]");
    EXPECT_EQ(kit->GetSelectedText(), "b");
    Key(*kit, VK_DELETE, {ssShift});  // cut: must not fail on lines that are gone
    EXPECT_EQ(Text(*kit), "a");

    SetText(*kit, "keep\nme");
    kit->Lines().Assign(&kit->Lines());
    kit->SetLines(&kit->Lines());
    EXPECT_EQ(Text(*kit), "keep\nme") << "assigning the lines to themselves changes nothing";
}

TEST(MemoStrings, UpdateBracketsReportNoChangeOfTheirOwn) {
    MemoKit kit;
    int changes = 0;
    kit->OnChange = [&](TObject*) { ++changes; };
    kit->Lines().BeginUpdate();
    EXPECT_EQ(kit->Lines().UpdateNesting(), 1);
    kit->Lines().Add("a");
    kit->Lines().Add(std::string(100, 'b'));
    EXPECT_EQ(changes, 2) << "the memo hears of every line";
    EXPECT_EQ(kit->LongestLineLength(), 100);
    kit->Lines().EndUpdate();
    EXPECT_EQ(kit->Lines().UpdateNesting(), 0);
    EXPECT_EQ(changes, 2);
    kit->Lines().SetText("x\r\ny\r\n");
    EXPECT_EQ(kit->LongestLineLength(), 1);
}

TEST(MemoStrings, InsertFromOutsideCollapsesTheSelection) {
    MemoKit kit;
    SetText(*kit, "a\nb");
    kit->SetSelection(0, 0, 1, 1);
    kit->Lines().Insert(1, "new\tline");
    EXPECT_EQ(Text(*kit), "a\nnew    line\nb");
    EXPECT_TRUE(kit->SelectionEmpty());
}

}  // namespace
}  // namespace ostra::test
