// Autocompletion, parameter hints and tooltips in the memo core: opening, filtering, sorting and
// accepting the list, the member list after a full stop, the span an entry replaces, the keys of
// the open list, the parameter hint's parts and placing, and the word and token tooltips.
#include <gtest/gtest.h>

#include "controls/memo/pyxmsqls.h"
#include "controls/memo/tests/support/MemoTestKit.h"

namespace ostra::test {
namespace {

// A memo with the SQL styler (autocompletion words SELECT and WHERE).
struct SqlKit : MemoKit {
    TPyxSQLMemoStyler Styler{nullptr};
    SqlKit() { Memo->SetSyntaxStyles(&Styler); }
};

// A key as the widget delivers it: key-down with its code, the typed character, key-up.
void Stroke(TPyxCustomMemo& Memo, uint16_t Key, char Char, TShiftState Shift = {}) {
    Memo.KeyDown(Key, Shift);
    if (Char) Memo.KeyPress(Char);
    Memo.KeyUp(Key, Shift);
}
void Letter(TPyxCustomMemo& Memo, char Ch) {
    Stroke(Memo, static_cast<uint16_t>(Ch >= 'a' && Ch <= 'z' ? Ch - 'a' + 'A' : Ch), Ch);
}
void CtrlSpace(TPyxCustomMemo& Memo) {
    Stroke(Memo, VK_SPACE, ' ', {ssCtrl});
}
// Opens the list at `Column` of a one-line text.
void OpenAt(TPyxCustomMemo& Memo, const std::string& Line, int Column) {
    SetText(Memo, Line);
    Place(Memo, Column, 0);
    CtrlSpace(Memo);
}

std::vector<std::string> Items(const TPyxCustomMemo& Memo) {
    std::vector<std::string> items;
    for (int i = 0; i < Memo.CompletionItems().Count(); ++i) items.push_back(Memo.CompletionItems().Strings(i));
    return items;
}

using List = std::vector<std::string>;

TEST(MemoCompletion, CtrlSpaceListsTheStylersWordsForTheTypedPrefixAndEnterInsertsOne) {
    SqlKit kit;
    CtrlSpace(*kit);
    ASSERT_TRUE(kit->CompletionVisible());
    EXPECT_EQ(Items(*kit), (List{"SELECT", "WHERE"}));
    EXPECT_EQ(kit->CompletionIndex(), 0);
    EXPECT_EQ(Text(*kit), "");  // the blank of Ctrl+Space is not typed
    Stroke(*kit, VK_ESCAPE, 27);
    EXPECT_FALSE(kit->CompletionVisible());

    Type(*kit, "SE");
    CtrlSpace(*kit);
    EXPECT_EQ(Items(*kit), (List{"SELECT"}));
    // Below the caret's cell: gutter 45 + 2 columns of 8 pixels, one row of 16 down.
    EXPECT_EQ(kit->CompletionRect().Left, 45 + 2 * 8);
    EXPECT_EQ(kit->CompletionRect().Top, 16);
    Stroke(*kit, VK_RETURN, '\r');
    EXPECT_FALSE(kit->CompletionVisible());
    EXPECT_EQ(Text(*kit), "SELECT");
    EXPECT_EQ(Caret(*kit), "(6,0)");
}

TEST(MemoCompletion, NothingOpensWithoutWordsOrWhenRefused) {
    SqlKit kit;
    kit->OnGetAutoCompletionList = [](TObject*, const std::string&, TStringList& list) { list.Add("Extra"); };
    bool asked = false;
    kit->OnBeforeAutoCompletion = [&](TObject*, const std::string& token, bool& show) {
        asked = true;
        show = token != "NO";
    };
    Type(*kit, "NO");
    CtrlSpace(*kit);
    EXPECT_TRUE(asked);
    EXPECT_FALSE(kit->CompletionVisible());

    // The styler's list empty: nothing, whatever the event would add.
    kit.Styler.AutoCompletion().Clear();
    Type(*kit, "x");
    CtrlSpace(*kit);
    EXPECT_FALSE(kit->CompletionVisible());
    // A read-only memo opens nothing either.
    kit.Styler.AutoCompletion().Add("SELECT");
    kit->SetReadOnly(true);
    CtrlSpace(*kit);
    EXPECT_FALSE(kit->CompletionVisible());
}

TEST(MemoCompletion, TypingFiltersBackspaceWidensAndOtherKeysCloseTheList) {
    SqlKit kit;
    TStringList words;
    for (const char* w : {"SET", "WHERE", "SELECT", "SELF"}) words.Add(w);
    kit.Styler.SetAutoCompletion(words);
    bool cancelled = false;
    kit->OnCanceltAutoCompletion = [&](TObject*) { cancelled = true; };
    Type(*kit, "se");
    CtrlSpace(*kit);
    EXPECT_EQ(Items(*kit), (List{"SELECT", "SELF", "SET"}));
    Letter(*kit, 'l');
    EXPECT_EQ(Text(*kit), "sel");
    EXPECT_EQ(Items(*kit), (List{"SELECT", "SELF"}));
    Stroke(*kit, VK_DOWN, 0);
    EXPECT_EQ(kit->CompletionIndex(), 1);
    Stroke(*kit, VK_BACK, '\b');
    EXPECT_EQ(Text(*kit), "se");
    EXPECT_EQ(Items(*kit), (List{"SELECT", "SELF", "SET"}));
    EXPECT_EQ(kit->CompletionIndex(), 0);

    // A key the list does not know closes it, and the memo types it.
    Stroke(*kit, '7', '7');
    EXPECT_FALSE(kit->CompletionVisible());
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(Text(*kit), "se7");
    // The digit key 5 accepts.
    Stroke(*kit, VK_BACK, '\b');
    CtrlSpace(*kit);
    Stroke(*kit, '5', '5');
    EXPECT_EQ(Text(*kit), "SELECT");
}

// Members of "o" offered by the application, with their kinds.
void OfferMembers(TPyxCustomMemo& Memo) {
    Memo.OnGetAutoCompletionList = [](TObject*, const std::string&, TStringList& list) {
        list.AddObject("Total", CompletionKindObject(ckProperty));
        list.AddObject("function Max(A; B)", CompletionKindObject(ckFunction));
        list.AddObject("Customer", CompletionKindObject(ckVariable));
    };
}

TEST(MemoCompletion, AFullStopOpensTheMemberListAfterTheDelayUnlessAKeyComesFirst) {
    SqlKit kit;
    OfferMembers(*kit);
    Type(*kit, "o.");
    EXPECT_EQ(kit.View.TimerInterval[mtCompletion], 500);
    Letter(*kit, 'x');  // a key within the delay stops the timer
    EXPECT_FALSE(kit->TimerRunning(mtCompletion));
    EXPECT_EQ(kit.View.TimerInterval[mtCompletion], -1);
    Stroke(*kit, VK_BACK, '\b');
    Stroke(*kit, VK_BACK, '\b');

    Type(*kit, ".");
    kit->TimerFired(mtCompletion);
    ASSERT_TRUE(kit->CompletionVisible());
    EXPECT_TRUE(kit->MemberMode());
    // Only the application's entries, sorted by their keys.
    EXPECT_EQ(Items(*kit), (List{"Customer", "function Max(A; B)", "Total"}));
    EXPECT_EQ(CompletionKindOf(kit->CompletionItems().Objects(0)), ckVariable);
    Letter(*kit, 't');
    EXPECT_EQ(Items(*kit), (List{"Total"}));
    Stroke(*kit, VK_RETURN, '\r');
    EXPECT_EQ(Text(*kit), "o.Total");

    // Deleting the full stop closes the member list.
    SetText(*kit, "");
    Place(*kit, 0, 0);
    Type(*kit, "o.");
    kit->TimerFired(mtCompletion);
    ASSERT_TRUE(kit->CompletionVisible());
    Stroke(*kit, VK_BACK, '\b');
    EXPECT_FALSE(kit->CompletionVisible());
    EXPECT_EQ(Text(*kit), "o");
}

TEST(MemoCompletion, AnEntryReplacesExactlyTheTypedPrefixBeforeTheCaret) {
    SqlKit kit;
    OfferMembers(*kit);
    // The member typed so far ends at the caret; what follows it stays.
    OpenAt(*kit, "x := o.Cu + 1", 9);
    ASSERT_TRUE(kit->CompletionVisible());
    EXPECT_EQ(kit->CompletionStartColumn(), 7);
    EXPECT_EQ(Items(*kit), (List{"Customer"}));
    Stroke(*kit, VK_RETURN, '\r');
    EXPECT_EQ(Text(*kit), "x := o.Customer + 1");
    EXPECT_EQ(Caret(*kit), "(15,0)");

    // Ctrl+Space inside a token: the prefix starts after the full stop, not a token's length back.
    OpenAt(*kit, "o.Tota", 4);
    EXPECT_EQ(kit->CompletionStartColumn(), 2);
    EXPECT_EQ(Items(*kit), (List{"Total"}));
    Stroke(*kit, VK_RETURN, '\r');
    EXPECT_EQ(Text(*kit), "o.Totalta");

    // Outside member mode the word before the caret is replaced, the rest of the word stays.
    kit->OnGetAutoCompletionList = nullptr;
    OpenAt(*kit, "sexy", 2);
    Stroke(*kit, VK_RETURN, '\r');
    EXPECT_EQ(Text(*kit), "SELECTxy");
}

TEST(MemoCompletion, AFunctionEntryInsertsItsNameWithParenthesesAndShowsItsParameters) {
    SqlKit kit;
    TStringList words;
    words.AddObject("function Max(A; B)", CompletionKindObject(ckFunction));
    words.Add("MIN");
    kit.Styler.SetAutoCompletion(words);
    kit.Styler.HintParameter().Parameters().Add("MAX(A; B)");
    Type(*kit, "M");
    CtrlSpace(*kit);
    ASSERT_EQ(Items(*kit), (List{"function Max(A; B)", "MIN"}));
    // The list is as wide as its widest entry: "function " + "Max" + "(A; B)" at 8 pixels a
    // character, 8 more and a scroll bar.
    EXPECT_EQ(kit->CompletionRect().Width(), (9 + 3 + 6) * 8 + 8 + 16);
    EXPECT_EQ(kit->CompletionKindColumnWidth(), 9 * 8);
    Stroke(*kit, VK_RETURN, '\r');
    EXPECT_EQ(Text(*kit), "Max()");
    EXPECT_EQ(Caret(*kit), "(4,0)");
    ASSERT_TRUE(kit->ParameterHintVisible());
    EXPECT_EQ(kit->HintCurrent(), "A;");

    // By mouse: the name alone, no hint.
    kit->HideParameterHint();
    OpenAt(*kit, "M", 1);
    kit->AcceptCompletion(true);
    EXPECT_EQ(Text(*kit), "Max");
    EXPECT_FALSE(kit->ParameterHintVisible());

    // An entry the application changes is inserted as it stands.
    kit->OnInsertAutoCompletionEntry = [](TObject*, std::string& entry) { entry = "max(1, 2)"; };
    OpenAt(*kit, "M", 1);
    Stroke(*kit, VK_RETURN, '\r');
    EXPECT_EQ(Text(*kit), "max(1, 2)");
}

TEST(MemoCompletion, FocusLossOrAClickCancelsTheList) {
    SqlKit kit;
    int cancels = 0;
    kit->OnCanceltAutoCompletion = [&](TObject*) { ++cancels; };
    CtrlSpace(*kit);
    kit->FocusOut();
    EXPECT_FALSE(kit->CompletionVisible());
    CtrlSpace(*kit);
    const TPoint p = CellPoint(*kit, 0, 0);
    kit->MouseDown(mbLeft, {ssLeft}, p.X, p.Y);
    EXPECT_FALSE(kit->CompletionVisible());
    EXPECT_EQ(cancels, 2);
}

// ---- Parameter hints

struct HintCase {
    const char* Line;
    bool CaseSensitive;
    bool Shown;
    const char* Before;
    const char* Current;
    const char* After;
};

TEST(MemoParameterHint, PartsFollowTheArgumentBeingTyped) {
    const HintCase cases[] = {
        {"MAX(", false, true, "", "A;", " B"},
        {"x := MAX(1,", false, true, "A;", " B", ""},
        {"MAX(1, 2)", false, false, "", "", ""},        // after a closed call
        {"MAX (", false, false, "", "", ""},            // a blank before the opening
        {"MAX(1    ", false, true, "", "A;", " B"},     // four blanks
        {"MAX(1     ", false, false, "", "", ""},       // five blanks
        {"max(", false, true, "", "A;", " B"},
        {"max(", true, false, "", "", ""},
        {"MAX(A,MIN(", false, true, "", "X", ""},       // the inner call, its name after the delimiter
        {"SELECT 1", false, false, "", "", ""},
    };
    for (const HintCase& c : cases) {
        SCOPED_TRACE(c.Line);
        SqlKit kit;
        kit.View.HasFocus = true;
        kit.Styler.HintParameter().Parameters().Add("MAX(A; B)");
        kit.Styler.HintParameter().Parameters().Add("MIN(X)");
        kit->SetCaseSensitive(c.CaseSensitive);
        Type(*kit, c.Line);
        EXPECT_EQ(kit->ParameterHintVisible(), c.Shown);
        if (!c.Shown) continue;
        EXPECT_EQ(kit->HintBefore(), c.Before);
        EXPECT_EQ(kit->HintCurrent(), c.Current);
        EXPECT_EQ(kit->HintAfter(), c.After);
        EXPECT_EQ(kit->HintBoldPart(), 2);
    }
}

TEST(MemoParameterHint, AnEarlierEntryHoldingTheNameIsUsed) {
    SqlKit kit;
    kit.Styler.HintParameter().Parameters().Add("CHARMAX(S; N)");
    kit.Styler.HintParameter().Parameters().Add("MAX(A; B)");
    Type(*kit, "MAX(");
    EXPECT_EQ(kit->HintCurrent(), "S;");
}

TEST(MemoParameterHint, PlacedBelowOrAboveTheCaretAndHiddenByTheTimerOrALineChange) {
    SqlKit kit;
    kit.Styler.HintParameter().Parameters().Add("MAX(A; B)");
    Type(*kit, "\r\rMAX(");
    ASSERT_TRUE(kit->ParameterHintVisible());
    EXPECT_EQ(kit->ParameterHintRect().Left, 45 + 4 * 8);
    EXPECT_EQ(kit->ParameterHintRect().Top, 3 * 16);
    // Every computation restarts the timer; when it runs out the hint goes.
    EXPECT_EQ(kit.View.TimerInterval[mtParameterHint], 2500);
    kit->TimerFired(mtParameterHint);
    EXPECT_FALSE(kit->ParameterHintVisible());

    kit->SetAutoHintParameterPosition(hpAboveCode);
    Stroke(*kit, VK_SPACE, ' ', {ssCtrl, ssShift});  // Ctrl+Shift+Space asks for the hint
    ASSERT_TRUE(kit->ParameterHintVisible());
    EXPECT_EQ(kit->ParameterHintRect().Top, 1 * 16);
    Stroke(*kit, VK_UP, 0);
    EXPECT_FALSE(kit->ParameterHintVisible());

    // A delay of 0 is stored, the timer keeps its interval.
    kit->SetAutoHintParameterDelay(0);
    EXPECT_EQ(kit->AutoHintParameterDelay(), 0);
    EXPECT_EQ(kit->ParameterHintInterval(), 2500);
}

TEST(MemoParameterHint, ManualModeShowsOnlyOnRequestAndNoneNever) {
    SqlKit kit;
    kit.Styler.HintParameter().Parameters().Add("MAX(A; B)");
    kit->SetAutoHintParameters(hpManual);
    Type(*kit, "MAX(");
    EXPECT_FALSE(kit->ParameterHintVisible());
    Stroke(*kit, VK_SPACE, ' ', {ssCtrl, ssShift});
    EXPECT_TRUE(kit->ParameterHintVisible());
    kit->SetAutoHintParameters(hpNone);
    EXPECT_FALSE(kit->ParameterHintVisible());
    Stroke(*kit, VK_SPACE, ' ', {ssCtrl, ssShift});
    EXPECT_FALSE(kit->ParameterHintVisible());
}

// ---- Tooltips

TEST(MemoTooltip, WordThenTokenThenTheMemosOwnHint) {
    SqlKit kit;
    SetText(*kit, "SELECT o.Total");
    const TPoint total = CellPoint(*kit, 10, 0);
    std::string text;
    kit->SetHint("memo");
    EXPECT_TRUE(kit->HintForPoint(total.X, total.Y, text));
    EXPECT_EQ(text, "memo");

    kit->OnHintForWord = [](TObject*, int, int, const std::string&, std::string&, bool& show) { show = false; };
    EXPECT_FALSE(kit->HintForPoint(total.X, total.Y, text));
    kit->OnHintForToken = [](TObject*, int x, int y, const std::string& value, std::string& hint, bool& show) {
        show = true;
        hint = value + " at " + std::to_string(x) + "," + std::to_string(y);
    };
    EXPECT_TRUE(kit->HintForPoint(total.X, total.Y, text));
    EXPECT_EQ(text, "Total at 10,0");

    // The mouse in another cell withdraws the tooltip.
    kit->SetShowHint(true);
    const TPoint other = CellPoint(*kit, 2, 0);
    kit->MouseMove({}, other.X, other.Y);
    EXPECT_EQ(kit.View.HintCancels, 1);
    EXPECT_EQ(kit->HintCellColumn(), -1);
}

}  // namespace
}  // namespace ostra::test
