// The path and delimited-field string routines.
#include <gtest/gtest.h>

#include "host/StringList.h"
#include "installer/library/routines_Strings.h"

using namespace ostra;

TEST(StringRoutines, Backslashes) {
    EXPECT_EQ(AddBackslash(""), "");
    EXPECT_EQ(AddBackslash("C:\\x"), "C:\\x\\");
    EXPECT_EQ(AddBackslash("C:\\x\\"), "C:\\x\\");
    EXPECT_EQ(RemoveBackslash("C:\\"), "C:");
    EXPECT_EQ(RemoveBackslash("C:\\x"), "C:\\x");
    EXPECT_EQ(RemoveBackslash(""), "");
}

TEST(StringRoutines, DelimitedFields) {
    const std::pair<const char*, int> counts[] = {{"a;b", 2}, {"a;b;", 2}, {"a", 1}, {"", 0}, {";", 1}, {";;a", 3}};
    for (const auto& [text, count] : counts) EXPECT_EQ(CountDelimitedFields(text, ';'), count) << text;

    struct Case {
        const char* Text;
        int N;
        const char* Field;
    };
    const Case fields[] = {{"C:\\x.dll;1", 2, "1"}, {"C:\\x.dll;1", 3, ""},  {"C:\\x.dll;1", 1, "C:\\x.dll"},
                           {"C:\\x.dll;1", 0, "C:\\x.dll"}, {"a;;c", 2, ""}, {"a;b;", 3, ""}, {"1.10.3", 3, "3"}};
    for (const Case& c : fields) EXPECT_EQ(GetDelimitedField(c.Text, c.N, c.Text[1] == '.' ? '.' : ';'), c.Field) << c.Text << c.N;

    TStringList list;
    list.Add("stale");
    SplitDelimited("a;;c;", ';', list);
    EXPECT_EQ(list.Text(), "a\r\n\r\nc\r\n");
    SplitDelimited("", ';', list);
    EXPECT_EQ(list.Count(), 0);
}

TEST(StringRoutines, DrivesAndFileNames) {
    EXPECT_EQ(StripDrive("C:\\Program Files"), "\\Program Files");
    EXPECT_EQ(StripDrive("no drive"), "");
    EXPECT_EQ(StripDrive("a:b:c"), "b:c");
    EXPECT_EQ(MakeValidFileName("ftp.host/dir:1"), "ftp.host-dir1");
    EXPECT_EQ(MakeValidFileName("a\"*:;<>?\\|b c"), "ab c");
}
