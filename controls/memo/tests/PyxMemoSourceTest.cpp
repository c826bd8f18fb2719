// The shared document: one text shown by two memos in turn, the user's place moving with it, the
// links of the attached memo only, and both sides outliving the other.
#include <gtest/gtest.h>

#include "controls/memo/PyxMemoSource.h"
#include "controls/memo/pyxmsqls.h"
#include "controls/memo/tests/support/MemoTestKit.h"

namespace ostra::test {
namespace {

// A document of 60 numbered lines.
void Fill(TPyxMemoSource& Source) {
    TStringList lines;
    for (int i = 0; i < 60; ++i) lines.Add("line " + std::to_string(i));
    Source.SetLines(&lines);
}

TEST(MemoSource, AttachingAnotherMemoMovesTheUsersPlaceAndTheLinks) {
    TPyxMemoSource source(nullptr);
    Fill(source);
    MemoKit a;
    MemoKit b;
    a->SetMemoSource(&source);
    EXPECT_EQ(source.AttachedMemo(), a.Memo.get());
    Place(*a, 2, 40);
    a->MoveCaret(3, 0, {ssShift});
    a->SetReadOnly(true);
    const int firstLine = a->FirstVisibleLine();
    ASSERT_GT(firstLine, 0);

    b->SetMemoSource(&source);
    EXPECT_EQ(source.AttachedMemo(), b.Memo.get());
    EXPECT_EQ(Caret(*b), "(5,40)");
    EXPECT_EQ(Selection(*b), "[2,40-5,40]");
    EXPECT_EQ(b->FirstVisibleLine(), firstLine);
    EXPECT_TRUE(b->ReadOnly());
    EXPECT_TRUE(source.ReadOnly());
    EXPECT_EQ(b->GetSelectedText(), "ne ");

    // B edits the document; A still shows it but hears of no change.
    b->SetReadOnly(false);
    EXPECT_FALSE(source.ReadOnly());
    Place(*b, 0, 0);
    const int aRepaints = a.View.Invalidations;
    Type(*b, "X");
    EXPECT_EQ(a->EffectiveLines().Strings(0), "Xline 0");
    EXPECT_EQ(a.View.Invalidations, aRepaints);
    // The document's undo list replays on B.
    b->Undo();
    EXPECT_EQ(source.Lines().Strings(0), "line 0");
    EXPECT_EQ(Caret(*b), "(0,0)");
}

TEST(MemoSource, AMemoThatLeavesDetachesOnlyItself) {
    TPyxMemoSource source(nullptr);
    Fill(source);
    MemoKit a;
    MemoKit b;
    a->SetMemoSource(&source);
    b->SetMemoSource(&source);
    // A points elsewhere now: B stays attached and keeps hearing of changes.
    a->SetMemoSource(nullptr);
    EXPECT_EQ(source.AttachedMemo(), b.Memo.get());
    EXPECT_EQ(Text(*a), "");
    Place(*b, 0, 59);
    Type(*b, "Z");
    EXPECT_EQ(b->CaretLine(), 59);
    EXPECT_TRUE(b->VertScrollBar().Visible);
}

TEST(MemoSource, DocumentAndMemosOutliveEachOther) {
    MemoKit keeper;
    auto source = std::make_unique<TPyxMemoSource>(nullptr);
    Fill(*source);
    {
        MemoKit a;
        a->SetMemoSource(source.get());
        Place(*a, 4, 30);
    }
    // The destroyed memo's place is kept for the next one.
    EXPECT_EQ(source->AttachedMemo(), nullptr);
    EXPECT_EQ(source->CaretSnapshot().CaretLine, 30);
    keeper->SetMemoSource(source.get());
    EXPECT_EQ(Caret(*keeper), "(4,30)");

    // The document goes: the memo shows its own single line again; the caret comes back to that
    // line and keeps its column (a column past the end is padded when typed at).
    source.reset();
    EXPECT_EQ(keeper->MemoSource(), nullptr);
    EXPECT_EQ(Text(*keeper), "");
    EXPECT_EQ(keeper->CaretLine(), 0);
    EXPECT_EQ(keeper->FirstVisibleLine(), 0);
    Type(*keeper, "ok");
    EXPECT_EQ(Text(*keeper), "    ok");
}

TEST(MemoSource, TheDocumentsStylerColoursTheAttachedMemo) {
    TPyxSQLMemoStyler styler(nullptr);
    TPyxMemoSource source(nullptr);
    MemoKit memo;
    memo->SetMemoSource(&source);
    EXPECT_EQ(memo->EffectiveStyler(), nullptr);
    source.SetSyntaxStyler(&styler);
    EXPECT_EQ(memo->EffectiveStyler(), &styler);
    EXPECT_EQ(styler.AllStyles().StyledMemo(), memo.Memo.get());
    // The styler's symbols delimit words now.
    EXPECT_TRUE(memo->IsWordDelimiter('('));
    source.SetSyntaxStyler(nullptr);
    EXPECT_EQ(styler.AllStyles().StyledMemo(), nullptr);
}

}  // namespace
}  // namespace ostra::test
