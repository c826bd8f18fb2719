// Stylers: the SQL styler's defaults, element defaults and assignment, symbol and bracket tests,
// and component streaming of stylers and of a memo that refers to one.
#include <gtest/gtest.h>

#include "controls/memo/pyxmsqls.h"
#include "controls/memo/tests/support/MemoTestKit.h"
#include "host/ClassRegistry.h"
#include "host/ComponentText.h"
#include "testsupport/TestFiles.h"

namespace ostra::test {
namespace {

TEST(MemoStyler, SqlStylerDefaults) {
    TPyxSQLMemoStyler styler(nullptr);
    const TElementStyles& styles = styler.AllStyles();
    ASSERT_EQ(styles.Count(), 3);
    EXPECT_EQ(styles.Style(0)->DisplayName(), "SQL Standard Default");
    EXPECT_EQ(styles.Style(0)->KeyWords().Count(), 51);
    EXPECT_EQ(styles.Style(0)->Font().Color(), clGreen);
    EXPECT_EQ(styles.Style(1)->StyleType(), stBracket);
    EXPECT_EQ(styles.Style(1)->Bracket(), '"');
    EXPECT_EQ(styles.Style(2)->Symbols().size(), 22u);
    EXPECT_EQ(styles.Style(2)->Font().Size(), 8);
    EXPECT_EQ(styler.LineComment(), "'");
    EXPECT_EQ(styler.MultiCommentLeft() + styler.MultiCommentRight(), "{}");
    EXPECT_EQ(styler.AutoCompletion().CommaText(), "SELECT,WHERE");
    EXPECT_EQ(styler.NumberStyle().TextColor(), clFuchsia);
    EXPECT_EQ(styler.NumberCharSet(), "+-.0123456789");

    for (char c : {'"', ',', '\r'}) EXPECT_TRUE(IsSymbolOrBracket(styles, c)) << int(c);
    EXPECT_FALSE(IsSymbolOrBracket(styles, 'a'));
}

TEST(MemoStyler, ElementsStartOnTheStyledMemosBackground) {
    MemoKit kit;
    kit->SetBkColor(clYellow);
    TPyxSQLMemoStyler styler(nullptr);
    kit->SetSyntaxStyles(&styler);
    EXPECT_EQ(styler.AllStyles().Add()->BGColor(), clYellow);
    TPyxSQLMemoStyler free(nullptr);
    EXPECT_EQ(free.AllStyles().Add()->BGColor(), clWhite);

    // Assigning an element from a font object leaves it as it was.
    TElementStyle& element = *styler.AllStyles().Style(0);
    TFont font;
    element.Assign(&font);
    EXPECT_EQ(element.Info(), "SQL Standard Default");
    kit->SetSyntaxStyles(nullptr);
}

TEST(MemoStyler, WordMovesAndDoubleClicksStopAtTheStylersSymbols) {
    MemoKit kit;
    TPyxSQLMemoStyler styler(nullptr);
    kit->SetSyntaxStyles(&styler);
    SetText(*kit, "a,bc(d)");
    Key(*kit, VK_RIGHT, {ssCtrl});
    EXPECT_EQ(kit->CaretColumn(), 2);
    Place(*kit, 3, 0);
    kit->DblClick(CellPoint(*kit, 3, 0).X, CellPoint(*kit, 3, 0).Y);
    EXPECT_EQ(kit->GetSelectedText(), "bc");
    kit->SetSyntaxStyles(nullptr);
}

class StreamedStylers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterClass<TPyxSQLMemoStyler>();
        RegisterClass<TPyxMemo>();
        RegisterClass<TComponent>();
    }
};

TEST_F(StreamedStylers, AStreamKeepsExactlyTheElementsItLists) {
    TPyxSQLMemoStyler three(nullptr);
    TextToComponent(Crlf("object S: TPyxSQLMemoStyler\n"
                         "  LineComment = '--'\n"
                         "  AllStyles = <\n"
                         "    item\n"
                         "      KeyWords.Strings = (\n"
                         "        'ONE'\n"
                         "        'TWO')\n"
                         "      Info = 'words'\n"
                         "    end\n"
                         "    item\n"
                         "      StyleType = stBracket\n"
                         "      Bracket = '`'\n"
                         "    end\n"
                         "    item\n"
                         "      StyleType = stSymbol\n"
                         "      Symbols = ',;'\n"
                         "    end>\n"
                         "end\n"),
                    &three);
    ASSERT_EQ(three.AllStyles().Count(), 3);
    EXPECT_EQ(three.AllStyles().Style(0)->KeyWords().CommaText(), "ONE,TWO");
    EXPECT_EQ(three.AllStyles().Style(1)->Bracket(), '`');
    EXPECT_EQ(three.LineComment(), "--");

    TPyxSQLMemoStyler none(nullptr);
    TextToComponent(Crlf("object S: TPyxSQLMemoStyler\n  LineComment = '--'\nend\n"), &none);
    EXPECT_EQ(none.AllStyles().Count(), 0) << "a stream without styles leaves none";

    TPyxSQLMemoStyler copy(nullptr);
    TextToComponent(ComponentToText(&three), &copy);
    EXPECT_EQ(ComponentToText(&copy), ComponentToText(&three));
}

TEST_F(StreamedStylers, AFormWithMemoAndStylerRoundTrips) {
    TComponent form(nullptr);
    form.SetName("Form");
    auto* memo = CreateComponent<TPyxMemo>(&form);
    memo->SetName("pmSQL");
    auto* styler = CreateComponent<TPyxSQLMemoStyler>(&form);
    styler->SetName("Styler");
    memo->SetSyntaxStyles(styler);
    memo->SetGutterWidth(20);
    memo->SetUndoLimit(50);
    memo->PrintOptions().SetTitle("Orders");
    memo->PrintOptions().SetMarginTop(15);
    memo->PrintOptions().SetPageNr(true);
    SetText(*memo, "select *\nfrom t");
    const std::string text = ComponentToText(&form);

    TComponent read(nullptr);
    TextToComponent(text, &read);
    auto* memo2 = dynamic_cast<TPyxMemo*>(read.FindComponent("pmSQL"));
    ASSERT_NE(memo2, nullptr);
    EXPECT_EQ(memo2->GutterWidth(), 20);
    EXPECT_EQ(memo2->UndoLimit(), 50);
    EXPECT_EQ(memo2->PrintOptions().Title(), "Orders");
    EXPECT_EQ(memo2->PrintOptions().MarginTop(), 15);
    EXPECT_TRUE(memo2->PrintOptions().PageNr());
    EXPECT_EQ(memo2->PrintOptions().JobName(), "");
    EXPECT_EQ(Text(*memo2), "select *\nfrom t");
    EXPECT_EQ(memo2->SyntaxStyles(), read.FindComponent("Styler"));
    EXPECT_EQ(memo2->Font().Name(), "COURIER NEW");
    EXPECT_EQ(ComponentToText(&read), text);
}

}  // namespace
}  // namespace ostra::test
