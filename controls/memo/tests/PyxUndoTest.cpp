// Undo and redo: how edits group into records, the record limit, Modified, and round trips of
// random edit scripts against the original and the edited text.
#include <gtest/gtest.h>

#include <random>

#include "controls/memo/tests/support/MemoTestKit.h"
#include "host/SysUtils.h"
#include "host/SysUtils.h"
#include "testsupport/TestFiles.h"

namespace ostra::test {
namespace {

TEST(MemoUndo, TypingRunIsOneRecordUndoneAndRedoneWhole) {
    MemoKit kit;
    Type(*kit, "abc");
    ASSERT_EQ(kit->UndoList().Count(), 1);
    const TUndo* record = kit->UndoList().RecordAt(0);
    EXPECT_NE(dynamic_cast<const TInsertCharUndo*>(record), nullptr);
    EXPECT_EQ(record->Content, "abc");
    kit->Undo();
    EXPECT_EQ(Text(*kit), "");
    EXPECT_EQ(Caret(*kit), "(0,0)");
    kit->Redo();
    EXPECT_EQ(Text(*kit), "abc");
    EXPECT_EQ(Caret(*kit), "(3,0)");
}

TEST(MemoUndo, RecordsSplitWhereTheRunBreaks) {
    MemoKit kit;
    Type(*kit, "ab");
    const TPoint p = CellPoint(*kit, 0, 0);
    kit->MouseDown(mbLeft, {}, p.X, p.Y);
    kit->MouseUp(mbLeft, {}, p.X, p.Y);
    Type(*kit, "c");
    EXPECT_EQ(kit->UndoList().Count(), 2) << "a click between typing starts a new record";

    SetText(*kit, "abcdef");
    kit->ClearUndoList();
    Place(*kit, 1, 0);
    for (int i = 0; i < 3; ++i) Key(*kit, VK_DELETE);
    ASSERT_EQ(kit->UndoList().Count(), 1);
    EXPECT_EQ(kit->UndoList().RecordAt(0)->Content, "bcd") << "document order";
    kit->Undo();
    EXPECT_EQ(Text(*kit), "abcdef");
    EXPECT_EQ(Caret(*kit), "(1,0)");

    kit->ClearUndoList();
    Place(*kit, 6, 0);
    for (int i = 0; i < 3; ++i) Key(*kit, VK_BACK);
    ASSERT_EQ(kit->UndoList().Count(), 1);
    const auto* back = dynamic_cast<const TDeleteCharUndo*>(kit->UndoList().RecordAt(0));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->Backward);
    EXPECT_EQ(back->Content, "def");

    Key(*kit, VK_DELETE);  // nothing right of the caret on the last line: no record
    Place(*kit, 1, 0);
    Key(*kit, VK_DELETE);
    Key(*kit, VK_BACK);
    EXPECT_EQ(kit->UndoList().Count(), 3) << "a forward and a backward delete never merge";
}

TEST(MemoUndo, OldestRecordGoesWhenTheLimitIsPassed) {
    MemoKit kit;
    for (int i = 0; i < 101; ++i) {
        Type(*kit, "x");
        Key(*kit, VK_LEFT);  // breaks the run
    }
    EXPECT_EQ(kit->UndoList().Count(), 100);
    while (kit->UndoList().CanUndo()) kit->Undo();
    EXPECT_EQ(Text(*kit), "x") << "the first keystroke's record was dropped";
}

TEST(MemoUndo, UndoLimitIsNormalisedAndAChangeDropsTheHistory) {
    MemoKit kit;
    struct {
        int set, stored;
    } cases[] = {{0, 1}, {-5, 1}, {100, 100}, {500, 100}, {50, 50}};
    for (auto c : cases) {
        kit->SetUndoLimit(c.set);
        EXPECT_EQ(kit->UndoLimit(), c.stored) << c.set;
        EXPECT_EQ(kit->UndoList().RecordLimit(), c.stored) << c.set;
    }

    std::vector<std::pair<bool, bool>> changes;
    kit->OnUndoChange = [&](TObject*, bool canUndo, bool canRedo) { changes.emplace_back(canUndo, canRedo); };
    Type(*kit, "a");
    kit->SetUndoLimit(500);
    EXPECT_EQ(kit->UndoList().Count(), 0);
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back(), std::make_pair(false, false));

    Type(*kit, "b");
    kit->SetUndoLimit(500);  // already 100: nothing changes
    EXPECT_EQ(kit->UndoList().Count(), 1);
}

TEST(MemoUndo, TypingAfterUndoEndsTheRedoHistory) {
    MemoKit kit;
    Type(*kit, "ab");
    kit->Undo();
    Place(*kit, 2, 0);  // where the undone record's caret ended
    Type(*kit, "c");
    EXPECT_EQ(TrimmedText(*kit), "  c");
    kit->Redo();
    EXPECT_EQ(TrimmedText(*kit), "  c") << "nothing is left to redo";
    kit->Undo();
    EXPECT_EQ(TrimmedText(*kit), "");
    EXPECT_FALSE(kit->UndoList().CanUndo());
}

TEST(MemoUndo, ModifiedFollowsTheHistory) {
    TempDir dir;
    WriteAll(dir.File("q.sql"), "select\r\n\tx\r\nfrom t\r\n");
    MemoKit kit;
    Type(*kit, "old");
    int changes = 0;
    kit->OnChange = [&](TObject*) { ++changes; };
    kit->Lines().LoadFromFile(dir.File("q.sql"));
    EXPECT_EQ(Text(*kit), "select\n    x\nfrom t");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Caret(*kit), "(0,0)");
    EXPECT_EQ(kit->LongestLineLength(), 6);
    EXPECT_FALSE(kit->Modified());
    Type(*kit, "x");
    EXPECT_TRUE(kit->Modified());
    kit->Undo();
    EXPECT_TRUE(kit->Modified()) << "undone records count";
    kit->SetModified(false);
    EXPECT_FALSE(kit->Modified());

    EXPECT_THROW(kit->Lines().LoadFromFile(dir.File("missing.sql")), Exception);
    EXPECT_EQ(Text(*kit), "select\n    x\nfrom t") << "a failed load changes nothing";
}

TEST(MemoUndo, AutocorrectionIsUndoable) {
    MemoKit kit;
    kit->AutoCorrect().OldValue().Add("teh");
    kit->AutoCorrect().NewValue().Add("the");
    Type(*kit, "teh ");
    EXPECT_EQ(Text(*kit), "the ");
    EXPECT_EQ(Caret(*kit), "(4,0)");
    kit->Undo();
    kit->Undo();
    EXPECT_EQ(TrimmedText(*kit), "teh");
}

// ---- Random edit scripts

// A random text of a few short lines without trailing blanks.
std::string RandomText(std::mt19937& rng) {
    static const char kChars[] = "ab cd{}'\"x";
    std::string text;
    const int lines = 1 + static_cast<int>(rng() % 6);
    for (int l = 0; l < lines; ++l) {
        if (l > 0) text += '\n';
        std::string line;
        const int n = static_cast<int>(rng() % 12);
        for (int i = 0; i < n; ++i) line += kChars[rng() % (sizeof kChars - 1)];
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line;
    }
    return text;
}

// One random edit, with the caret placed anywhere first (also beyond line ends).
void RandomEdit(TPyxMemo& memo, FakeClipboard& clipboard, std::mt19937& rng) {
    const int lines = memo.Lines().Count();
    const int line = static_cast<int>(rng() % lines);
    const int column = static_cast<int>(rng() % (memo.Lines().Strings(line).size() + 4));
    Place(memo, column, line);
    switch (rng() % 14) {
        case 0: Type(memo, "q"); break;
        case 1: Type(memo, "w e"); break;
        case 2: Type(memo, "\r"); break;
        case 3: Type(memo, "\t"); break;
        case 4: Key(memo, VK_BACK); break;
        case 5: Key(memo, VK_DELETE); break;
        case 6: Key(memo, VK_BACK, {ssCtrl}); break;
        case 7: Control(memo, 'Y'); break;
        case 8:
            memo.SetOverwriteMode(true);
            Type(memo, "ZZ");
            memo.SetOverwriteMode(false);
            break;
        case 9:
            clipboard.Text = rng() % 2 ? "p\r\nq r \r\n" : "s  ";
            Control(memo, 'V');
            break;
        case 10:
        case 11: {
            const int toLine = static_cast<int>(rng() % lines);
            const int toColumn = static_cast<int>(rng() % (memo.Lines().Strings(toLine).size() + 2));
            memo.SetSelection(column, line, toColumn, toLine);
            if (rng() % 2)
                Type(memo, "k");  // replaces the selection
            else
                Key(memo, VK_DELETE);
            break;
        }
        case 12: Type(memo, "teh "); break;
        default: Type(memo, "  m\r  n"); break;
    }
}

TEST(MemoUndo, RandomScriptsUndoToTheOriginalAndRedoToTheEdit) {
    std::mt19937 rng(20240611);
    for (int script = 0; script < 1000; ++script) {
        MemoKit kit;
        kit->AutoCorrect().OldValue().Add("teh");
        kit->AutoCorrect().NewValue().Add("the");
        SetText(*kit, RandomText(rng));
        kit->ClearUndoList();
        const std::string original = Text(*kit);
        const int edits = 1 + static_cast<int>(rng() % 25);
        for (int i = 0; i < edits; ++i) RandomEdit(*kit, kit.Clipboard, rng);
        Place(*kit, 0, 0);
        const std::string edited = TrimmedText(*kit);
        ASSERT_LE(kit->UndoList().Count(), 100);

        while (kit->UndoList().CanUndo()) kit->Undo();
        ASSERT_EQ(TrimmedText(*kit), original) << "script " << script;
        // Only the caret's line may hold blanks at its end (padding to the caret).
        for (int i = 0; i < kit->Lines().Count(); ++i)
            if (i != kit->CaretLine())
                ASSERT_EQ(kit->Lines().Strings(i), TrimRight(kit->Lines().Strings(i))) << "script " << script;
        // Only the caret's line may hold blanks at its end (padding to the caret).
        for (int i = 0; i < kit->Lines().Count(); ++i)
            if (i != kit->CaretLine())
                ASSERT_EQ(kit->Lines().Strings(i), TrimRight(kit->Lines().Strings(i))) << "script " << script;
        while (kit->UndoList().CanRedo()) kit->Redo();
        // Redo compares without blanks at line ends: caret moves between the edits trimmed some,
        // and such trimming is no edit.
        ASSERT_EQ(TrimmedText(*kit), edited) << "script " << script;
    }
}

}  // namespace
}  // namespace ostra::test
