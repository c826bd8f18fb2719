// Searching and filtering through the dataset face: the index Locate chooses (whole field names,
// exact indexes, case-insensitive locates), Locate and Lookup results, a failing filter text
// keeping the previous one, FindFirst through the filter of an unfiltered table, the filter event
// together with the text, and blob streams in every mode.
#include <gtest/gtest.h>

#include "engine/components/orqBlobStream.h"
#include "engine/storage/orqErrors.h"
#include "host/db/BlobFields.h"
#include "support/orqTableTest.h"

namespace ostra::componentstest {
namespace {

// A table component whose index choice the tests can ask for.
class TProbeTable : public TOrqTable {
public:
    using TOrqTable::TOrqTable;
    std::string Choose(const std::vector<std::string>& Fields, bool CaseInsensitive) {
        std::string name;
        return MapFieldsToIndex(Fields, CaseInsensitive, name) ? name : "-";
    }
};

class BaseTableSearchTest : public TTableTest {
protected:
    std::unique_ptr<TOrqTable> Filled(int Count) {
        auto table = Table("People", "PK");
        table->Open();
        for (int id = 1; id <= Count; ++id) AddRow(*table, id, "n" + std::to_string(id), id % 7);
        return table;
    }
    static std::string Note(TOrqTable& T) { return T.FieldByName("NOTE")->AsString(); }
    static void WriteNote(TOrqTable& T, TBlobStreamMode Mode, const std::string& Text, bool Seek = false) {
        auto stream = T.CreateBlobStream(T.FieldByName("NOTE"), Mode);
        if (Seek) stream->Seek(0, soFromEnd);
        if (!Text.empty()) stream->Write(Text.data(), int64_t(Text.size()));
    }
    static std::string ReadAll(TStream& S) {
        std::string text(size_t(S.Size()), '\0');
        S.Read(text.data(), S.Size());
        return text;
    }
};

TEST_P(BaseTableSearchTest, LocateChoosesTheBestIndexByWholeFieldNames) {
    Create("Cities", {{"ID", ftInteger}, {"NAME", ftString, 12}, {"SURNAME", ftString, 12}, {"CODE", ftInteger}},
           {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}},
            {"ixNameCode", "NAME;CODE", {}},
            {"ixName", "NAME", {}},
            {"ixNameSur", "NAME;SURNAME", {}, "", "SURNAME"},
            {"ixCaseName", "SURNAME", TIndexOptions{ixCaseInsensitive}}});
    TProbeTable table(nullptr);
    table.SetDataBase(DataBase.get());
    table.SetTableName("Cities");
    table.SetMemory(Memory());
    table.Open();
    EXPECT_EQ(table.Choose({"NAME"}, false), "ixName");  // exact beats the longer index before it
    EXPECT_EQ(table.Choose({"NAME", "CODE"}, false), "ixNameCode");
    EXPECT_EQ(table.Choose({"CODE"}, false), "-");
    // Case-insensitive: "NAME" is not "SURNAME" in the case-insensitive fields of ixNameSur.
    EXPECT_EQ(table.Choose({"NAME"}, true), "-");
    EXPECT_EQ(table.Choose({"SURNAME"}, true), "ixCaseName");
}

TEST_P(BaseTableSearchTest, LocateMovesAndLookupDoesNot) {
    auto table = Filled(20);
    EXPECT_TRUE(table->Locate("NAME", Variant("n12"), {}));
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 12);
    EXPECT_TRUE(table->Locate("NAME;AGE", VarArrayOf({Variant("n9"), Variant(2)}), {}));
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 9);
    EXPECT_TRUE(table->Locate("NAME", Variant("N5"), TLocateOptions{loCaseInsensitive}));
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 5);
    EXPECT_FALSE(table->Locate("NAME", Variant("zz"), {}));
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 5);
    EXPECT_EQ(table->Lookup("ID", Variant(17), "NAME").AsString(), "n17");
    EXPECT_TRUE(VarIsNull(table->Lookup("ID", Variant(99), "NAME")));
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 5);
}

TEST_P(BaseTableSearchTest, FilterTextEventAndFindFirst) {
    auto table = Filled(20);
    table->SetFilterText("AGE > 3");
    table->SetFiltered(true);
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"4", "5", "6", "11", "12", "13", "18", "19", "20"}));
    // A text that does not parse: the error, and the previous filter stays.
    EXPECT_EQ(ErrorCode([&] { table->SetFilterText("AGE >"); }), 10051);
    EXPECT_EQ(table->Filter(), "AGE > 3");
    EXPECT_EQ(Column(*table, "ID").size(), 9u);
    // The event on top of the text.
    table->SetOnFilterRecord([](TDataSet* D, bool& Accept) { Accept = D->FieldByName("ID")->AsInteger() % 2 == 0; });
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"4", "6", "12", "18", "20"}));
    table->SetOnFilterRecord(nullptr);
    table->SetFiltered(false);
    EXPECT_EQ(Column(*table, "ID").size(), 20u);
    // FindFirst and its kin search through the filter and leave the table unfiltered.
    table->SetFilterText("AGE = 6");
    EXPECT_TRUE(table->FindFirst());
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 6);
    EXPECT_TRUE(table->FindNext());
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 13);
    EXPECT_TRUE(table->FindLast());
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 20);
    EXPECT_TRUE(table->FindPrior());
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 13);
    EXPECT_FALSE(table->Filtered());
    EXPECT_EQ(Column(*table, "ID").size(), 20u);
}

TEST_P(BaseTableSearchTest, BlobStreamsReadWriteAndReadWrite) {
    auto table = Filled(3);
    table->SetUseBlobCache(true);
    table->First();
    // Writing outside edit mode is refused.
    EXPECT_THROW(WriteNote(*table, bmWrite, "x"), EDatabaseError);
    table->Edit();
    WriteNote(*table, bmWrite, "first text");
    table->Post();
    EXPECT_EQ(Note(*table), "first text");
    // Read twice: the second read comes from the blob cache.
    {
        TBlobStream once(table->FieldByName("NOTE"), bmRead);
        EXPECT_EQ(ReadAll(once), "first text");
        TBlobStream twice(table->FieldByName("NOTE"), bmRead);
        EXPECT_TRUE(twice.Cached());
        EXPECT_EQ(ReadAll(twice), "first text");
    }
    // A read-write stream that is written to stores its content.
    table->Edit();
    WriteNote(*table, bmReadWrite, " and more", true);
    table->Post();
    EXPECT_EQ(Note(*table), "first text and more");
    // A write stream freed without a write stores an empty blob.
    table->Edit();
    WriteNote(*table, bmWrite, "");
    table->Post();
    EXPECT_EQ(Note(*table), "");
    // A read-only field refuses a write stream.
    table->FieldByName("NOTE")->SetReadOnly(true);
    table->Edit();
    EXPECT_THROW(WriteNote(*table, bmWrite, "y"), EDatabaseError);
    table->Cancel();
}

INSTANTIATE_CURSOR_TESTS(BaseTableSearchTest);

}  // namespace
}  // namespace ostra::componentstest
