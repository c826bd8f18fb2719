// TStrings/TStringList: the delimited-text quoting rules in both directions, sorted lists under
// each duplicates mode and case rule, name=value entries, line splitting, change events, and
// loading and saving real files.
#include <gtest/gtest.h>

#include "testsupport/TestFiles.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/Collation.h"
#include "host/ComponentText.h"
#include "host/Exceptions.h"
#include "host/Streams.h"
#include "host/StringList.h"

using namespace ostra;
using Items = std::vector<std::string>;

namespace {

Items Contents(const TStrings& list) {
    Items out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list.Strings(i));
    return out;
}

void Fill(TStrings& list, const Items& items) {
    list.Clear();
    for (const auto& s : items) list.Add(s);
}

template <class E, class F>
std::string ErrorText(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "no error";
}

using ostra::test::TempDir;

class TObj : public TObject {};

}  // namespace

// ---- Comma text and delimited text

TEST(DelimitedText, WritesTheFrameworkQuoting) {
    struct Case {
        Items items;
        std::string text;
    };
    const Case cases[] = {
        {{}, ""},
        {{"a"}, "a"},
        {{"a", "b", "c"}, "a,b,c"},
        {{""}, "\"\""},   // one empty item must not read back as no item
        {{"", ""}, ","},  // otherwise empty items are written as nothing
        {{"a", ""}, "a,"},
        {{"", "a"}, ",a"},
        {{"a", "", "b"}, "a,,b"},
        {{"a b"}, "\"a b\""},             // a blank forces quotes
        {{" a", "b "}, "\" a\",\"b \""},  // leading and trailing blanks are kept by quoting
        {{"a,b"}, "\"a,b\""},             // the delimiter forces quotes
        {{"a\"b"}, "\"a\"\"b\""},         // inner quote chars are doubled
        {{"\""}, "\"\"\"\""},
        {{"it's"}, "it's"},                       // the apostrophe is no quote char here
        {{"a\tb", "x\ny"}, "\"a\tb\",\"x\ny\""},  // control characters force quotes
        {{std::string("a\0b", 3)}, std::string("\"a\0b\"", 5)},
        {{"\xE9t\xE9", "\xA0"}, "\xE9t\xE9,\xA0"},  // bytes above 127 are not blanks
        {{"", "", ""}, ",,"},
    };
    for (const auto& c : cases) {
        TStringList list;
        Fill(list, c.items);
        EXPECT_EQ(list.CommaText(), c.text);
        EXPECT_EQ(list.DelimitedText(), c.text);
        TStringList back;
        back.SetCommaText(c.text);
        EXPECT_EQ(Contents(back), c.items) << "reading " << c.text;
    }
}

TEST(DelimitedText, ReadsLooseInput) {
    struct Case {
        std::string text;
        Items items;
    };
    const Case cases[] = {
        {"", {}},
        {"   ", {}},
        {"a b", {"a", "b"}},         // a blank ends an unquoted item
        {"  a ,  b  ", {"a", "b"}},  // blanks around items are skipped
        {"a\t\r\nb", {"a", "b"}},
        {"a,", {"a", ""}},  // a delimiter at the end adds an empty item
        {"a, ", {"a"}},     // ... but not when blanks follow it
        {",", {"", ""}},
        {"a,,b", {"a", "", "b"}},
        {"a, ,b", {"a", "", "b"}},  // blanks around an empty item are skipped
        {"\"a b\",c", {"a b", "c"}},
        {"\"a\"\"b\"", {"a\"b"}},
        {"\"\"", {""}},
        {"\"\",\"\"", {"", ""}},
        {"\"abc", {"abc"}},  // an unclosed quote runs to the end
        {"\"ab\"\"", {"ab\""}},
        {"\"a\"b", {"a", "b"}},                // text after a closing quote is a new item
        {"a\"b,c", {"a\"b", "c"}},             // quote chars inside an unquoted item stay
        {"'a b'", {"'a", "b'"}},               // apostrophes are ordinary characters here
        {std::string("a\0b", 3), {"a", "b"}},  // NUL is a control character like the others
    };
    for (const auto& c : cases) {
        TStringList list;
        list.Add("old");
        list.SetCommaText(c.text);
        EXPECT_EQ(Contents(list), c.items) << "reading [" << c.text << "]";
    }
}

TEST(DelimitedText, UsesTheListsOwnDelimiterAndQuoteChar) {
    TStringList list;
    list.SetDelimiter(';');
    list.SetQuoteChar('\'');
    Fill(list, {"a,b", "c;d", "it's", "say \"x\""});
    EXPECT_EQ(list.DelimitedText(), "a,b;'c;d';'it''s';'say \"x\"'");
    // CommaText ignores the settings and leaves them as they were.
    EXPECT_EQ(list.CommaText(), "\"a,b\",c;d,it's,\"say \"\"x\"\"\"");
    EXPECT_EQ(list.Delimiter(), ';');
    EXPECT_EQ(list.QuoteChar(), '\'');
    TStringList back;
    back.SetDelimiter(';');
    back.SetQuoteChar('\'');
    back.SetDelimitedText(list.DelimitedText());
    EXPECT_EQ(Contents(back), Contents(list));
    back.SetCommaText(list.CommaText());
    EXPECT_EQ(Contents(back), Contents(list));
    EXPECT_EQ(back.Delimiter(), ';');

    // A blank as delimiter: the usual way to read space-separated words.
    TStringList words;
    words.SetDelimiter(' ');
    words.SetDelimitedText("one  \"two three\" four");
    EXPECT_EQ(Contents(words), (Items{"one", "two three", "four"}));
}

TEST(DelimitedText, EveryListRoundTrips) {
    // Items made of the characters that matter to the quoting, and some random bytes.
    const std::string alphabet = std::string("ab ,;\"'\t\r\n\x01\xFF\xA0=", 15) + std::string(1, '\0');
    std::mt19937 rng(99);
    for (int round = 0; round < 2000; ++round) {
        Items items(rng() % 5);
        for (auto& s : items) {
            size_t len = rng() % 6;
            for (size_t i = 0; i < len; ++i)
                s += (rng() % 4 == 0) ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
        }
        TStringList list;
        Fill(list, items);
        TStringList back;
        back.SetCommaText(list.CommaText());
        ASSERT_EQ(Contents(back), items) << list.CommaText();
        list.SetDelimiter(';');
        list.SetQuoteChar('\'');
        back.SetDelimiter(';');
        back.SetQuoteChar('\'');
        back.SetDelimitedText(list.DelimitedText());
        ASSERT_EQ(Contents(back), items) << list.DelimitedText();
    }
}

// ---- Sorted lists

TEST(SortedList, DuplicatesModesUnderEachCaseRule) {
    const Items input = {"b", "a", "B", "c", "a", "A"};
    struct Case {
        TDuplicates dup;
        bool caseSensitive;
        int expectedCount;  // -1: raises on the first duplicate
    };
    const Case cases[] = {
        {dupIgnore, false, 3}, {dupAccept, false, 6}, {dupError, false, -1},
        {dupIgnore, true, 5},  {dupAccept, true, 6},  {dupError, true, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "dup=" << c.dup << " case=" << c.caseSensitive);
        TStringList list;
        list.SetSorted(true);
        list.SetDuplicates(c.dup);
        list.SetCaseSensitive(c.caseSensitive);
        if (c.expectedCount < 0) {
            int added = 0;
            std::string error;
            try {
                for (const auto& s : input) {
                    list.Add(s);
                    ++added;
                }
            } catch (const EStringListError& e) {
                error = e.Message();
            }
            EXPECT_EQ(error, "String list does not allow duplicates");
            EXPECT_EQ(list.Count(), added);  // the refused string was not added
            EXPECT_EQ(added, c.caseSensitive ? 4 : 2);
            continue;
        }
        for (const auto& s : input) list.Add(s);
        ASSERT_EQ(list.Count(), c.expectedCount);
        for (int i = 1; i < list.Count(); ++i) {
            int order = c.caseSensitive ? AnsiCompareStr(list.Strings(i - 1), list.Strings(i))
                                        : AnsiCompareText(list.Strings(i - 1), list.Strings(i));
            EXPECT_LE(order, 0) << list.Strings(i - 1) << " before " << list.Strings(i);
        }
        // Find and IndexOf give the first of equal strings.
        int index = -1;
        EXPECT_TRUE(list.Find("a", index));
        EXPECT_TRUE(index == 0 || c.caseSensitive);
        EXPECT_EQ(list.IndexOf("a"), index);
        if (c.caseSensitive) {
            EXPECT_EQ(list.Strings(index), "a");
        } else {
            EXPECT_TRUE(AnsiSameText(list.Strings(index), "a"));
        }
        EXPECT_FALSE(list.Find("bb", index));
        EXPECT_EQ(list.IndexOf("bb"), -1);
        EXPECT_EQ(list.IndexOf("C"), c.caseSensitive ? -1 : list.Count() - 1);
    }
}

TEST(SortedList, IgnoredDuplicateKeepsItsObjectAndPosition) {
    TObj first, second;
    TStringList list;
    list.SetSorted(true);
    EXPECT_EQ(list.AddObject("x", &first), 0);
    EXPECT_EQ(list.AddObject("a", nullptr), 0);
    EXPECT_EQ(list.AddObject("X", &second), 1);  // the index of the string already there
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Strings(1), "x");
    EXPECT_EQ(list.Objects(1), &first);
}

TEST(SortedList, RefusesPositionalChangesWithoutLosingItems) {
    TStringList list;
    Fill(list, {"c", "a", "b"});
    list.SetSorted(true);
    EXPECT_EQ(Contents(list), (Items{"a", "b", "c"}));
    const std::string sortedError = "Operation not allowed on sorted string list";
    EXPECT_EQ(ErrorText<EStringListError>([&] { list.Insert(0, "z"); }), sortedError);
    EXPECT_EQ(ErrorText<EStringListError>([&] { list.SetStrings(0, "z"); }), sortedError);
    EXPECT_EQ(ErrorText<EStringListError>([&] { list.Move(0, 2); }), sortedError);
    EXPECT_EQ(Contents(list), (Items{"a", "b", "c"}));
    // Find reports where a missing string would go.
    int index = -1;
    EXPECT_FALSE(list.Find("bb", index));
    EXPECT_EQ(index, 2);
    EXPECT_FALSE(list.Find("zz", index));
    EXPECT_EQ(index, 3);
    // Unsorting keeps the order; then positional changes work again.
    list.SetSorted(false);
    list.Insert(0, "z");
    EXPECT_EQ(Contents(list), (Items{"z", "a", "b", "c"}));
}

TEST(SortedList, ChangingTheCaseRuleSortsAgain) {
    // Under case-insensitive order "a" and "A" tie, so byte-order tie breaks decide; after a
    // switch the list must be in the new order, or Find misses entries.
    TStringList list;
    list.SetDuplicates(dupAccept);
    Fill(list, {"b", "B", "a", "A", "c", "C"});
    list.SetSorted(true);
    list.SetCaseSensitive(true);
    for (int i = 1; i < list.Count(); ++i) EXPECT_LE(AnsiCompareStr(list.Strings(i - 1), list.Strings(i)), 0);
    for (const char* s : {"a", "A", "b", "B", "c", "C"}) {
        int index;
        ASSERT_TRUE(list.Find(s, index)) << s;
        EXPECT_EQ(list.Strings(index), s);
    }
}

TEST(SortedList, RandomAddsMatchASet) {
    std::mt19937 rng(7);
    auto less = [](const std::string& a, const std::string& b) { return AnsiCompareText(a, b) < 0; };
    std::set<std::string, decltype(less)> model(less);
    TStringList list;
    list.SetSorted(true);
    for (int i = 0; i < 3000; ++i) {
        std::string s;
        for (size_t n = 1 + rng() % 3; n > 0; --n) s += "aAbB\xE9\xC9z"[rng() % 7];
        if (rng() % 4 == 0) {
            int index = list.IndexOf(s);
            ASSERT_EQ(index >= 0, model.count(s) == 1);
            if (index >= 0) {
                list.Delete(index);
                model.erase(s);
            }
        } else {
            list.Add(s);
            model.insert(s);
        }
        ASSERT_EQ(list.Count(), static_cast<int>(model.size()));
    }
    int i = 0;
    for (const auto& s : model) EXPECT_EQ(AnsiCompareText(list.Strings(i++), s), 0);
}

TEST(StringList, CustomSortAndSort) {
    TStringList list;
    Fill(list, {"bbb", "a", "cc", "dddd"});
    list.CustomSort([](TStringList& l, int i, int j) {
        return static_cast<int>(l.Strings(j).size()) - static_cast<int>(l.Strings(i).size());
    });
    EXPECT_EQ(Contents(list), (Items{"dddd", "bbb", "cc", "a"}));
    list.Sort();
    EXPECT_EQ(Contents(list), (Items{"a", "bbb", "cc", "dddd"}));
    EXPECT_FALSE(list.Sorted());  // Sort alone does not keep the list sorted
}

// ---- Names and values

TEST(StringList, NamesAndValues) {
    TStringList list;
    Fill(list, {"Host=server", "Port=1234", "novalue", "Empty=", "Expr=a=b", "=anonymous"});
    EXPECT_EQ(list.Names(0), "Host");
    EXPECT_EQ(list.Names(2), "");
    EXPECT_EQ(list.Names(5), "");
    EXPECT_EQ(list.Values("host"), "server");  // names match ignoring case
    EXPECT_EQ(list.Values("Expr"), "a=b");     // the value starts after the first '='
    EXPECT_EQ(list.Values("Empty"), "");
    EXPECT_EQ(list.Values("novalue"), "");
    EXPECT_EQ(list.Values("missing"), "");
    EXPECT_EQ(list.Values(""), "anonymous");
    EXPECT_EQ(list.IndexOfName("PORT"), 1);
    EXPECT_EQ(list.IndexOfName("novalue"), -1);
    EXPECT_EQ(list.ValueFromIndex(4), "a=b");
    EXPECT_EQ(list.ValueFromIndex(2), "");
    EXPECT_EQ(list.ValueFromIndex(-1), "");

    list.SetValues("PORT", "99");  // replaces in place, with the name as given
    EXPECT_EQ(list.Strings(1), "PORT=99");
    list.SetValues("User", "me");  // appended
    EXPECT_EQ(list.Strings(list.Count() - 1), "User=me");
    list.SetValues("host", "");  // an empty value deletes the entry
    EXPECT_EQ(list.IndexOfName("Host"), -1);
    list.SetValues("absent", "");  // deleting what is not there does nothing
    EXPECT_EQ(Contents(list), (Items{"PORT=99", "novalue", "Empty=", "Expr=a=b", "=anonymous", "User=me"}));

    // A sorted list takes a new entry in order, with nothing left behind.
    TStringList sorted;
    sorted.SetSorted(true);
    sorted.SetValues("b", "2");
    sorted.SetValues("a", "1");
    EXPECT_EQ(Contents(sorted), (Items{"a=1", "b=2"}));
}

// ---- Text

TEST(StringList, TextSplitsOnEveryLineBreakForm) {
    struct Case {
        std::string text;
        Items lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},  // a final break does not start another line
        {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
        {"\r\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"\n\r", {"", ""}},  // LF then CR: two breaks
        {"\r\r\n", {"", ""}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {" a \t", {" a \t"}},  // blanks are kept
        {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
    };
    for (const auto& c : cases) {
        TStringList list;
        list.SetText(c.text);
        EXPECT_EQ(Contents(list), c.lines) << "text [" << c.text << "]";
    }
    TStringList list;
    Fill(list, {"a", "", "b c"});
    EXPECT_EQ(list.Text(), "a\r\n\r\nb c\r\n");
    list.Clear();
    EXPECT_EQ(list.Text(), "");
}

// ---- Items, objects, errors, events

TEST(StringList, ItemsObjectsAndBounds) {
    TObj o1, o2;
    TStringList list;
    list.AddObject("one", &o1);
    list.Add("two");
    list.InsertObject(1, "half", &o2);
    EXPECT_EQ(Contents(list), (Items{"one", "half", "two"}));
    EXPECT_EQ(list.Objects(1), &o2);
    EXPECT_EQ(list.IndexOfObject(&o1), 0);
    EXPECT_EQ(list.IndexOf("HALF"), 1);
    EXPECT_EQ(list.IndexOf("none"), -1);
    list.Exchange(0, 2);
    EXPECT_EQ(Contents(list), (Items{"two", "half", "one"}));
    EXPECT_EQ(list.Objects(2), &o1);
    list.Move(2, 0);
    EXPECT_EQ(Contents(list), (Items{"one", "two", "half"}));
    EXPECT_EQ(list.Objects(0), &o1);

    const std::string e3 = "List index out of bounds (3)";
    EXPECT_EQ(ErrorText<EStringListError>([&] { list.Strings(3); }), e3);
    EXPECT_EQ(ErrorText<EStringListError>([&] { list.Objects(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(ErrorText<EStringListError>([&] { list.Delete(3); }), e3);
    EXPECT_EQ(ErrorText<EStringListError>([&] { list.Insert(4, "x"); }), "List index out of bounds (4)");
    EXPECT_EQ(ErrorText<EStringListError>([&] { list.Exchange(0, 3); }), e3);
    EXPECT_EQ(ErrorText<EStringListError>([&] { list.Move(0, 3); }), e3);
    EXPECT_EQ(ErrorText<EStringListError>([&] { list.SetCapacity(2); }), "List capacity out of bounds (2)");
    EXPECT_EQ(Contents(list), (Items{"one", "two", "half"}));  // the failed Move lost nothing
    list.SetCapacity(100);
    EXPECT_GE(list.Capacity(), 100);
}

TEST(StringList, AssignAddStringsAndEquals) {
    TObj o;
    TStringList a, b;
    Fill(a, {"x", "y"});
    a.SetObjects(1, &o);
    b.Add("old");
    b.Assign(&a);
    EXPECT_TRUE(b.Equals(a));
    EXPECT_EQ(b.Objects(1), &o);
    b.Assign(&b);  // assigning a list to itself keeps it
    EXPECT_EQ(Contents(b), (Items{"x", "y"}));
    b.AddStrings(b);
    EXPECT_EQ(Contents(b), (Items{"x", "y", "x", "y"}));
    EXPECT_FALSE(b.Equals(a));
    b.SetText("x\ny\n");
    EXPECT_TRUE(b.Equals(a));
    b.SetStrings(0, "X");
    EXPECT_FALSE(b.Equals(a));  // exact comparison

    class TNotAList : public TPersistent {
    } notAList;
    EXPECT_THROW(b.Assign(&notAList), EConvertError);
}

TEST(StringList, ChangeEventsAndUpdateBlocks) {
    TStringList list;
    std::vector<std::string> log;
    list.OnChanging = [&](TObject* sender) {
        EXPECT_EQ(sender, &list);
        log.push_back("changing");
    };
    list.OnChange = [&](TObject*) { log.push_back("change:" + std::to_string(list.Count())); };
    list.Add("a");
    list.Delete(0);
    EXPECT_EQ(log, (std::vector<std::string>{"changing", "change:1", "changing", "change:0"}));
    log.clear();
    list.Clear();  // already empty: no change
    EXPECT_TRUE(log.empty());
    list.BeginUpdate();
    list.BeginUpdate();
    list.Add("a");
    list.Add("b");
    list.EndUpdate();
    EXPECT_EQ(log, (std::vector<std::string>{"changing"}));
    list.EndUpdate();
    list.EndUpdate();  // unmatched: ignored
    EXPECT_EQ(log, (std::vector<std::string>{"changing", "change:2"}));
    log.clear();
    list.SetCommaText("x,y,z");
    EXPECT_EQ(log, (std::vector<std::string>{"changing", "change:3"}));

    // A change handler that refuses the result of a bulk change reaches its caller; the list keeps
    // the change and leaves the update.
    list.OnChange = [&](TObject*) {
        if (list.IndexOf("bad") >= 0) throw EInvalidOperation("refused");
    };
    EXPECT_THROW(list.SetCommaText("good,bad"), EInvalidOperation);
    EXPECT_EQ(list.Count(), 2);
    list.SetCommaText("good");
    EXPECT_EQ(list.Count(), 1);
}

// ---- Files and streams

TEST(StringList, SavesAndLoadsFilesByteForByte) {
    TempDir dir;
    TStringList list;
    Fill(list, {"plain", "\xE0\xFF\x80 8-bit", "", "tab\there"});
    const std::string path = dir.File("lines.txt");
    list.SaveToFile(path);
    TMemoryStream raw;
    raw.LoadFromFile(path);
    EXPECT_EQ(std::string(static_cast<const char*>(raw.Memory()), raw.Size()), list.Text());

    TStringList back;
    back.LoadFromFile(path);
    EXPECT_TRUE(back.Equals(list));

    // Loading from a stream starts at its position.
    TStringStream stream("skip\nline1\rline2");
    stream.SetPosition(5);
    back.LoadFromStream(stream);
    EXPECT_EQ(Contents(back), (Items{"line1", "line2"}));

    EXPECT_THROW(back.LoadFromFile(dir.File("missing.txt")), EFOpenError);
    EXPECT_THROW(list.SaveToFile(dir.File("no/such/folder.txt")), EFCreateError);
}

TEST(StringList, StreamsItsStringsAsAList) {
    TStringList list;
    Fill(list, {"one", "it's", ""});
    const std::string text = ObjectToText(&list);
    EXPECT_EQ(text, test::Crlf("object TStringList\n  Strings = (\n    'one'\n    'it''s'\n    '')\nend\n"));
    TStringList read;
    Fill(read, {"old"});
    TextToObject(text, &read);
    EXPECT_EQ(Contents(read), (Items{"one", "it's", ""}));
    TStringList empty;
    EXPECT_EQ(ObjectToText(&empty), test::Crlf("object TStringList\nend\n"));
}
