// The language text format: its table of cases, memos, errors and their texts; parsing after every
// kind of change (also deletions and bulk changes), lookups by number and by text.
#include <gtest/gtest.h>

#include "host/Streams.h"
#include "installer/library/cmp_TTranslatorLanguage.h"
#include "installer/library/routines_Strings.h"

using namespace ostra;

namespace {

std::unique_ptr<TLanguage> German() {
    return std::make_unique<TLanguage>(nullptr, "BM_LANG_GERMAN", "frniGerman.txt", flGerman);
}

// Sets the text from lines separated by "/" and returns the parse error ("" when none).
std::string Load(TLanguage& language, const std::string& slashLines) {
    TStringList lines;
    SplitDelimited(slashLines, '/', lines);
    try {
        language.SetStrings(lines);
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

// The elements as text: "s12=Hello world@2" for a string, "m5=first|second@0" for a memo.
std::string Elements(const TLanguage& language) {
    std::string out;
    for (int i = 0; i < language.StringElementCount(); ++i) {
        const TLanguageString& s = language.StringElements(i);
        out += "s" + std::to_string(s.GLID()) + "=" + s.Text() + "@" + std::to_string(s.LineNumber()) + " ";
    }
    for (int i = 0; i < language.MemoElementCount(); ++i) {
        const TLanguageMemo& m = language.MemoElements(i);
        std::string lines;
        for (int j = 0; j < m.Lines().Count(); ++j) lines += (j ? "|" : "") + m.Lines().Strings(j);
        out += "m" + std::to_string(m.GLID()) + "=" + lines + "@" + std::to_string(m.LineNumber()) + " ";
    }
    return out;
}

}  // namespace

TEST(LanguageTextFormat, TableOfCases) {
    const struct {
        const char* Lines;  // one per field, separated by "/"
        const char* Elements;
        const char* Error;
    } cases[] = {
        {"  /  /12;Hello world  /  /  ", "s12=Hello world@2 ", ""},
        {"12;Hello;world", "s12=Hello@0 ", ""},
        {"12; Hello", "s12= Hello@0 ", ""},
        {"-3;minus/007;seven", "s-3=minus@0 s7=seven@1 ", ""},
        {"12;", "", "The 0'th string (12;) does not have the proper format of GLID;Text"},
        {"1;a/12;   ", "", "The 1'th string (12;) does not have the proper format of GLID;Text"},
        {"12", "", "The 0'th string (12) does not have the proper format of GLID;Text"},
        {";Hello", "", "The 0'th string (;Hello) does not have the proper format of GLID;Text"},
        {"x;Hello", "", "The 0'th string (x;Hello) does not have the proper format of GLID;Text or .GLID;"},
        {"12 ;Hello", "", "The 0'th string (12 ;Hello) does not have the proper format of GLID;Text or .GLID;"},
        {"99999999999;big", "", "The 0'th string (99999999999;big) does not have the proper format of GLID;Text or .GLID;"},
        {"#5;/first line/* note/  /  second line  /  /#", "m5=first line|second line@0 ", ""},
        {"* head/#12/#not a close/#/3;x", "s3=x@4 m12=#not a close@1 ", ""},
        {"#", "", "Found the end of memo marker # at line 0. Was not in a memo however"},
        {"1;a/#/2;b", "", "Found the end of memo marker # at line 1. Was not in a memo however"},
        {"#7;/some text", "", ""},
        {"#;", "", "The 0'th string (#;) does not have the proper format of GLID;Text"},
        {"#x;", "", "The 0'th string (#x;) does not have the proper format of GLID;Text or .GLID;"},
        {"*12;comment/5;Weiter >", "s5=Weiter >@1 ", ""},
    };
    for (const auto& c : cases) {
        auto language = German();
        EXPECT_EQ(Load(*language, c.Lines), c.Error) << c.Lines;
        EXPECT_EQ(Elements(*language), c.Elements) << c.Lines;
    }
    // A text longer than 255 characters is cut.
    auto language = German();
    EXPECT_EQ(Load(*language, "1;" + std::string(300, 'a')), "");
    EXPECT_EQ(language->StringElements(0).Text(), std::string(255, 'a'));
}

TEST(LanguageTextFormat, EveryChangeParsesAgain) {
    auto language = German();
    TLangFormatStrings& text = *language->Strings();
    text.Add("1;one");
    text.Add("#2");
    text.Add("memo line");
    text.Add("2;two");
    text.Add("#");
    text.Add("5;five");
    EXPECT_EQ(Elements(*language), "s1=one@0 s5=five@5 m2=memo line|2;two@1 ");
    // Deleting a line parses again: line numbers follow and the memo loses the line.
    text.Delete(3);
    EXPECT_EQ(Elements(*language), "s1=one@0 s5=five@4 m2=memo line@1 ");
    text.Insert(0, "* comment");
    text.Move(1, 5);
    EXPECT_EQ(Elements(*language), "s5=five@4 s1=one@5 m2=memo line@1 ");
    text.SetStrings(0, "9;nine");
    EXPECT_NE(language->FindStringByGLID(9), nullptr);
    text.Clear();
    EXPECT_EQ(Elements(*language), "");

    // A change that breaks the text raises to the one who made it; the text keeps the change and the
    // language has no elements until the text is mended.
    text.Add("1;one");
    EXPECT_THROW(text.Add("#"), Exception);
    EXPECT_EQ(text.Count(), 2);
    EXPECT_EQ(Elements(*language), "");
    text.Delete(1);
    EXPECT_EQ(Elements(*language), "s1=one@0 ");

    // Bulk changes parse once at their end; an error among them reaches the caller too.
    TStringStream good("3;three\r\n4;four\r\n"), bad("3;three\r\n#\r\n");
    text.LoadFromStream(good);
    EXPECT_EQ(Elements(*language), "s3=three@0 s4=four@1 ");
    EXPECT_THROW(text.LoadFromStream(bad), Exception);
    EXPECT_EQ(Elements(*language), "");
    text.BeginUpdate();
    text.Clear();
    text.Add("#");  // no parse inside the bracket
    text.Delete(0);
    text.Add("6;six");
    text.EndUpdate();
    EXPECT_EQ(Elements(*language), "s6=six@0 ");

    // Without AutoParse nothing is parsed.
    language->SetAutoParse(false);
    text.Add("7;seven");
    EXPECT_EQ(language->FindStringByGLID(7), nullptr);
    language->SetAutoParse(true);
    language->Parse();
    EXPECT_NE(language->FindStringByGLID(7), nullptr);
}

TEST(LanguageTextFormat, LookupsByNumberAndByText) {
    auto language = German();
    ASSERT_EQ(Load(*language, "5;Weiter >/5;Second five/12;Klicken Sie auf Weiter/#3;/Zeile eins/Zeile zwei/#/#3/x/#"), "");
    EXPECT_EQ(language->FindStringByGLID(5)->Text(), "Weiter >");  // the first of two
    EXPECT_EQ(language->FindStringByGLID(6), nullptr);
    EXPECT_EQ(language->FindStringByText("KLICKEN sie auf weiter")->GLID(), 12);
    EXPECT_EQ(language->FindStringByText("Klicken"), nullptr);
    EXPECT_EQ(language->FindMemoByGLID(3)->Lines().Text(), "Zeile eins\r\nZeile zwei\r\n");

    TStringList lines;
    lines.Add("Zeile eins");
    lines.Add("Zeile zwei");
    EXPECT_EQ(language->FindMemoByText(lines), language->FindMemoByGLID(3));
    lines.SetStrings(1, "zeile zwei");  // memos compare exactly
    EXPECT_EQ(language->FindMemoByText(lines), nullptr);
    EXPECT_EQ(language->BitmapName(), "BM_LANG_GERMAN");
    EXPECT_EQ(language->LanguageFileName(), "frniGerman.txt");
    EXPECT_FALSE(language->FontOverride());
}
