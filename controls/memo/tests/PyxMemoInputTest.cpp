// Key, mouse and menu decisions of the memo core: the Insert toggle, undo keys, Ctrl+Space,
// mouse selection, double-click words, gutter clicks, the built-in menu, URL words.
#include <gtest/gtest.h>

#include "controls/memo/tests/support/MemoTestKit.h"

namespace ostra::test {
namespace {

TEST(MemoInput, InsertTogglesOverwriteUnlessTheHandlerRefuses) {
    MemoKit kit;
    Key(*kit, VK_INSERT);
    EXPECT_TRUE(kit->OverwriteMode());
    kit->OnOverwriteToggle = [](TObject*, bool& allow) { allow = false; };
    Key(*kit, VK_INSERT);
    EXPECT_TRUE(kit->OverwriteMode());
}

TEST(MemoInput, AltBackspaceUndoesAndAltShiftBackspaceRedoes) {
    MemoKit kit;
    Type(*kit, "abc");
    Key(*kit, VK_BACK, {ssAlt});
    EXPECT_EQ(Text(*kit), "");
    Key(*kit, VK_BACK, {ssAlt, ssShift});
    EXPECT_EQ(Text(*kit), "abc");
}

TEST(MemoInput, CtrlSpaceTypesNoBlank) {
    MemoKit kit;
    kit->KeyDown(VK_SPACE, {ssCtrl});
    char blank = ' ';
    kit->KeyPress(blank);
    EXPECT_EQ(Text(*kit), "");
    Type(*kit, " ");
    EXPECT_EQ(Text(*kit), " ");
}

TEST(MemoInput, MouseDragSelectsAndDoubleClickSelectsAWord) {
    MemoKit kit;
    SetText(*kit, "alpha beta\ngamma delta");
    const TPoint from = CellPoint(*kit, 1, 0);
    const TPoint to = CellPoint(*kit, 3, 1);
    kit->MouseDown(mbLeft, {ssLeft}, from.X, from.Y);
    EXPECT_TRUE(kit->MouseSelecting());
    kit->MouseMove({ssLeft}, to.X, to.Y);
    kit->MouseUp(mbLeft, {}, to.X, to.Y);
    EXPECT_FALSE(kit->MouseSelecting());
    EXPECT_EQ(Selection(*kit), "[1,0-3,1]");
    EXPECT_EQ(kit->GetSelectedText(), "lpha beta\r\ngam");

    const TPoint word = CellPoint(*kit, 7, 0);
    kit->MouseDown(mbLeft, {ssLeft}, word.X, word.Y);
    kit->MouseUp(mbLeft, {}, word.X, word.Y);
    kit->DblClick(word.X, word.Y);
    EXPECT_EQ(kit->GetSelectedText(), "beta");
    EXPECT_EQ(Caret(*kit), "(7,0)");

    const TPoint blank = CellPoint(*kit, 5, 0);
    kit->MouseDown(mbLeft, {ssLeft}, blank.X, blank.Y);
    kit->DblClick(blank.X, blank.Y);
    EXPECT_TRUE(kit->SelectionEmpty());
}

TEST(MemoInput, ShiftClickExtendsFromTheAnchor) {
    MemoKit kit;
    SetText(*kit, "abcdef");
    Place(*kit, 1, 0);
    const TPoint p = CellPoint(*kit, 4, 0);
    kit->MouseDown(mbLeft, {ssLeft, ssShift}, p.X, p.Y);
    EXPECT_EQ(kit->GetSelectedText(), "bcd");
}

TEST(MemoInput, GutterClicksReportTheLine) {
    MemoKit kit;
    SetText(*kit, "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12");
    const TPoint line11 = {10, CellPoint(*kit, 0, 11).Y};
    kit->MouseDown(mbLeft, {ssLeft}, line11.X, line11.Y);
    EXPECT_EQ(kit->CaretLine(), 11) << "the default handler moves the caret to the clicked line";

    int rightClicked = -1;
    kit->OnGutterRightClick = [&](TObject*, int line) { rightClicked = line; };
    const TPoint line2 = {10, CellPoint(*kit, 0, 2).Y};
    kit->MouseDown(mbRight, {ssRight}, line2.X, line2.Y);
    EXPECT_EQ(rightClicked, 2);
    rightClicked = -1;
    const TPoint past = {10, CellPoint(*kit, 0, 14).Y};
    kit->MouseDown(mbRight, {ssRight}, past.X, past.Y);
    EXPECT_EQ(rightClicked, -1) << "no line there";
    EXPECT_TRUE(kit->ContextMenuItems(10).empty()) << "no built-in menu over the gutter";
}

TEST(MemoInput, BuiltInMenuEnablesWhatApplies) {
    MemoKit kit;
    SetText(*kit, "text");
    auto items = kit->ContextMenuItems(100);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].Caption, "Copy\tCtrl-C");
    EXPECT_FALSE(items[0].Enabled);
    EXPECT_FALSE(items[1].Enabled);
    EXPECT_FALSE(items[2].Enabled) << "the clipboard is empty";
    EXPECT_EQ(items[3].Command, 0) << "separator";
    EXPECT_TRUE(items[4].Enabled);

    kit->ContextMenuCommand(4);
    items = kit->ContextMenuItems(100);
    EXPECT_TRUE(items[0].Enabled);
    EXPECT_TRUE(items[1].Enabled);
    kit->ContextMenuCommand(1);
    EXPECT_EQ(kit.Clipboard.Text, "text");
    EXPECT_TRUE(kit->ContextMenuItems(100)[2].Enabled);
}

TEST(MemoInput, UrlWordsSplitTheLineAndReactToTheMouse) {
    MemoKit kit;
    const std::string line = "see http://x, y";
    EXPECT_EQ(kit->SplitUrlWords(line), (std::vector<std::string>{"see", " ", "http://x", ", ", "y"}));
    EXPECT_TRUE(kit->IsUrlAt(line, 6));
    EXPECT_FALSE(kit->IsUrlAt(line, 3));
    EXPECT_TRUE(TPyxCustomMemo::IsUrlWord("MAILTO:me"));

    SetText(*kit, line);
    std::string clicked;
    kit->OnURLClick = [&](TObject*, const std::string& url) { clicked = url; };
    const TPoint url = CellPoint(*kit, 6, 0);
    kit->MouseMove({}, url.X, url.Y);
    EXPECT_EQ(kit.View.CursorShape, crPyxHandPoint);
    kit->MouseDown(mbLeft, {ssLeft}, url.X, url.Y);
    EXPECT_EQ(clicked, "http://x");
    const TPoint plain = CellPoint(*kit, 1, 0);
    kit->MouseMove({}, plain.X, plain.Y);
    EXPECT_EQ(kit.View.CursorShape, crPyxIBeam);

    kit->SetUrlAware(false);
    EXPECT_EQ(kit->SplitUrlWords(line), std::vector<std::string>{line});
    EXPECT_FALSE(kit->IsUrlAt(line, 6));
}

TEST(MemoInput, WordCompletionEventMayReplaceTheWord) {
    MemoKit kit;
    kit->OnWordComplete = [](TObject*, const std::string& word, std::string& newWord) {
        if (word == "sel") newWord = "SELECT";
    };
    Type(*kit, "sel x\r");
    EXPECT_EQ(Text(*kit), "SELECT x\n");
    EXPECT_EQ(Caret(*kit), "(0,1)");
}

}  // namespace
}  // namespace ostra::test
