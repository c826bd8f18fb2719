// Restructure requests: the change classification of fields and indexes against an existing
// table, the data-loss table, index validation texts, the change log, field renames and drops
// inside index requests, and copying to and from the framework's definitions.
#include "engine/storage/orqRestructureDefs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"
#include "support/orqLayoutFixture.h"

using namespace ostra;

namespace {

std::vector<std::string> Lines(const TStringList& log) {
    std::vector<std::string> v;
    for (int i = 0; i < log.Count(); ++i) v.push_back(log.Strings(i));
    return v;
}

// The existing table: ID Integer required, NAME String(20), QTY Integer, SMALL Smallint,
// NOTES Memo; indexes PK (primary, ID), ixName (case-insensitive, NAME), ixQty (QTY;ID).
struct Table {
    TFieldDefs fields{nullptr};
    TIndexDefs indexes{nullptr};
    Table() {
        fields.Add("ID", ftInteger, 0, true);
        fields.Add("NAME", ftString, 20);
        fields.Add("QTY", ftInteger);
        fields.Add("SMALL", ftSmallint);
        fields.Add("NOTES", ftMemo);
        indexes.Add("PK", "ID", {ixPrimary});
        TIndexDef* ix = indexes.Add("ixName", "NAME", {ixCaseInsensitive});
        ix->SetCaseInsFields("NAME");
        indexes.Add("ixQty", "QTY;ID", {});
    }
};

// A request that starts as a copy of the table, with its own log.
struct Request {
    Table table;
    TRestructureFieldDefs fields;
    TRestructureIndexDefs indexes;
    TStringList log;
    Request() {
        fields.Assign(&table.fields);
        indexes.Assign(&table.indexes);
        fields.SetChangeLog(&log);
        indexes.SetChangeLog(&log);
    }
    TRestructureFieldDef* F(const std::string& name) { return fields.Find(name); }
    TRestructureIndexDef* I(const std::string& name) { return indexes.Find(name); }
    void ValidateFields() { fields.ValidateAgainstOriginalDefs(&table.fields); }
    void ValidateAll() {
        ValidateFields();
        log.Clear();
        indexes.ValidateAgainstOriginalDefs(&table.indexes, &fields);
    }
};

// Runs `action`, which must raise 9996 with `custom` as its custom text.
void ExpectInvalidModifyRequest(const std::function<void()>& action, const std::string& custom) {
    try {
        action();
        ADD_FAILURE() << "no error, expected: " << custom;
    } catch (const EOrqDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode, 9996);
        EXPECT_EQ(e.ErrorMessage, "Invalid modify request");
        EXPECT_EQ(e.Message(), Format(SorqErrorAnonCustomMsg, {"Invalid modify request", 9996, custom}));
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Field classification

TEST(DataLossPossible, FirstMatchingRuleDecides) {
    struct Row {
        TFieldType newType, oldType;
        bool loss;
    };
    const Row rows[] = {
        {ftSmallint, ftInteger, true},   {ftSmallint, ftBoolean, false},  {ftWord, ftSmallint, false},
        {ftWord, ftString, true},        {ftInteger, ftSmallint, false},  {ftInteger, ftFloat, true},
        {ftAutoInc, ftDateTime, true},   {ftInteger, ftString, false},    {ftInteger, ftMemo, false},
        {ftBoolean, ftBoolean, false},   {ftBoolean, ftSmallint, true},   {ftCurrency, ftFloat, true},
        {ftBCD, ftTime, true},           {ftCurrency, ftInteger, false},  {ftBlob, ftMemo, false},
        {ftGraphic, ftFmtMemo, false},   {ftMemo, ftString, true},        {ftDate, ftMemo, true},
        {ftString, ftBlob, true},        {ftString, ftInteger, true},     {ftFloat, ftString, true},
        {ftString, ftWideString, false}, {ftWideString, ftString, false}, {ftFloat, ftInteger, false},
        {ftDate, ftDateTime, false},     {ftString, ftString, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(DataLossPossible(r.newType, r.oldType), r.loss)
            << FieldTypeName(r.newType) << " <- " << FieldTypeName(r.oldType);
}

TEST(TRestructureFieldDefs, ClassifiesEachKindOfFieldChange) {
    struct Case {
        const char* what;
        std::function<void(Request&)> change;
        const char* field;  // the entry to check, by its new name
        TDefChangeType expected;
    };
    const Case cases[] = {
        {"nothing", [](Request&) {}, "NAME", dcNoChange},
        {"String(20) -> (10)", [](Request& r) { r.F("NAME")->SetSize(10); }, "NAME", dcDataLoss},
        {"String(20) -> (30)", [](Request& r) { r.F("NAME")->SetSize(30); }, "NAME", dcDataChange},
        {"rename", [](Request& r) { r.F("NAME")->SetName("FULLNAME"); }, "FULLNAME", dcDefOnlyChange},
        {"rename in case only", [](Request& r) { r.F("NAME")->SetName("Name"); }, "Name", dcDefOnlyChange},
        {"required flag", [](Request& r) { r.F("ID")->SetRequired(false); }, "ID", dcDefOnlyChange},
        {"Integer -> Smallint", [](Request& r) { r.F("QTY")->SetDataType(ftSmallint); }, "QTY", dcDataLoss},
        {"Smallint -> Integer", [](Request& r) { r.F("SMALL")->SetDataType(ftInteger); }, "SMALL",
         dcDataChange},
        {"Integer -> String(10)",
         [](Request& r) {
             r.F("QTY")->SetDataType(ftString);
             r.F("QTY")->SetSize(10);
         },
         "QTY", dcDataLoss},
        {"Memo -> Blob", [](Request& r) { r.F("NOTES")->SetDataType(ftBlob); }, "NOTES", dcDataChange},
        {"Integer -> Float", [](Request& r) { r.F("QTY")->SetDataType(ftFloat); }, "QTY", dcDataChange},
        {"new field", [](Request& r) { r.fields.AddAndSetFieldDef("EXTRA", ftInteger, 0); }, "EXTRA",
         dcAdded},
        {"moved", [](Request& r) { r.fields.SwapDefs(1, 2); }, "NAME", dcDefOnlyChange},
    };
    for (const Case& c : cases) {
        Request r;
        c.change(r);
        r.ValidateFields();
        ASSERT_NE(r.F(c.field), nullptr) << c.what;
        EXPECT_EQ(r.F(c.field)->ChangeStatus(), c.expected) << c.what;
        EXPECT_EQ(r.fields.ChangeStatus(), c.expected) << c.what << ": the list takes its worst entry";
    }
}

TEST(TRestructureFieldDefs, ChangeLogNamesEveryEntryTheDroppedFieldsAndTheListStatus) {
    Request r;
    r.F("NAME")->SetSize(10);
    r.fields.DeleteItem(r.F("QTY")->Index());
    r.fields.AddAndSetFieldDef("EXTRA", ftInteger, 0);
    r.ValidateFields();
    EXPECT_EQ(Lines(r.log), (std::vector<std::string>{
                                "Field Def: ID status: Unchanged Item",
                                "Field Def: NAME status: Data Loss Possible",
                                "Field Def: SMALL status: Definition Only Changed",  // moved up one place
                                "Field Def: NOTES status: Definition Only Changed",
                                "Field Def: EXTRA status: New Item",
                                "Prior Field Def: QTY status: Deleted Item",
                                "FieldDefs: Change status is - Data Loss Possible",
                            }));
}

TEST(TRestructureFieldDefs, ADroppedFieldMakesTheListADataChange) {
    Request r;
    r.fields.DeleteItem(r.fields.Count() - 1);  // NOTES
    r.ValidateFields();
    EXPECT_EQ(r.fields.ChangeStatus(), dcDataChange);
    EXPECT_EQ(r.log.Strings(r.log.Count() - 2), "Prior Field Def: NOTES status: Deleted Item");
    EXPECT_EQ(r.log.Strings(r.log.Count() - 1), "FieldDefs: Change status is - Data Requirements Changed");
    EXPECT_TRUE(r.fields.CheckIfFieldsDeleted());
}

TEST(TRestructureFieldDefs, ANewTableAddsEveryEntryAndLogsOnlyTheListStatus) {
    TRestructureFieldDefs defs;
    TStringList log;
    defs.SetChangeLog(&log);
    defs.AddAndSetFieldDef("A", ftString, 10);
    defs.AddAndSetFieldDef("B", ftInteger, 0);
    defs.ValidateAgainstOriginalDefs(nullptr);
    EXPECT_EQ(defs.GetItems(0)->ChangeStatus(), dcAdded);
    EXPECT_EQ(defs.GetItems(1)->ChangeStatus(), dcAdded);
    EXPECT_EQ(defs.ChangeStatus(), dcAdded);
    EXPECT_EQ(Lines(log), std::vector<std::string>{"FieldDefs: Change status is - New Item"});
    EXPECT_EQ(defs.FieldDefs(), nullptr);
    EXPECT_FALSE(defs.CheckIfFieldsDeleted());
    EXPECT_EQ(defs.FindSourceDef("A"), nullptr);
}

TEST(TRestructureFieldDefs, ASourceFieldThatDoesNotExistIsAnAssertion) {
    Request r;
    r.F("NAME")->SetSourceFieldName("GONE");
    EXPECT_THROW(
        {
            try {
                r.ValidateFields();
            } catch (const EAssertionFailed& e) {
                EXPECT_EQ(e.Message(), "Source Def not found");
                throw;
            }
        },
        EAssertionFailed);
}

TEST(TRestructureFieldDefs, ValidationLinksTheExistingDefinitionsOnce) {
    Request r;
    EXPECT_EQ(r.fields.FieldDefs(), nullptr);
    EXPECT_FALSE(r.fields.CheckIfFieldsDeleted()) << "nothing linked yet";
    r.ValidateFields();
    EXPECT_EQ(r.fields.FieldDefs(), &r.table.fields);
    EXPECT_EQ(r.fields.FindSourceDef("name"), r.table.fields.Items(1));
    EXPECT_EQ(r.fields.FindSourceDef("NOPE"), nullptr);
    EXPECT_FALSE(r.fields.CheckIfFieldsDeleted());
    r.F("NAME")->SetName("FULLNAME");
    EXPECT_TRUE(r.fields.CheckIfFieldsDeleted()) << "a renamed field counts as deleted by name";

    Table other;
    r.fields.ValidateAgainstOriginalDefs(&other.fields);
    EXPECT_EQ(r.fields.FieldDefs(), &r.table.fields) << "an existing link stays";
}

TEST(TRestructureFieldDefs, ListOperations) {
    TRestructureFieldDefs defs;
    defs.AddAndSetFieldDef("A", ftString, 10)->SetSourceFieldName("A");
    defs.AddAndSetFieldDef("B", ftInteger, 0)->SetRequired(true);
    TRestructureFieldDef* ins = defs.Insert(1);
    EXPECT_EQ(ins->Name(), "");
    EXPECT_EQ(defs.GetItems(2)->Name(), "B");
    ins->SetName("C");
    EXPECT_EQ(defs.Find("c"), ins);
    EXPECT_EQ(defs.Find("D"), nullptr);

    defs.SwapDefs(0, 2);
    EXPECT_EQ(defs.GetItems(0)->Name(), "B");
    EXPECT_TRUE(defs.GetItems(0)->Required());
    EXPECT_EQ(defs.GetItems(2)->Name(), "A");
    EXPECT_EQ(defs.GetItems(2)->Size(), 10);
    EXPECT_EQ(defs.GetItems(2)->SourceFieldName(), "A");
    for (auto [i, j] : {std::pair{0, 3}, std::pair{3, 0}, std::pair{-1, 0}}) {
        try {
            defs.SwapDefs(i, j);
            ADD_FAILURE() << i << "," << j;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Invalid Field Def Index in SwapDefs");
        }
    }
    defs.DeleteItem(1);
    EXPECT_EQ(defs.Count(), 2);
    EXPECT_EQ(defs.Find("C"), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Copying

TEST(TRestructureFieldDefs, CopiesToAndFromTheFrameworkDefinitions) {
    Table t;
    TRestructureFieldDefs defs;
    defs.Assign(&t.fields);
    ASSERT_EQ(defs.Count(), 5);
    const TRestructureFieldDef* id = defs.GetItems(0);
    EXPECT_EQ(id->Name(), "ID");
    EXPECT_EQ(id->DataType(), ftInteger);
    EXPECT_TRUE(id->Required());
    EXPECT_EQ(id->SourceFieldName(), "ID");
    EXPECT_EQ(defs.GetItems(1)->Size(), 20);

    defs.GetItems(1)->SetName("FULLNAME");
    defs.GetItems(1)->SetSize(40);
    defs.GetItems(2)->SetPrecision(3);
    defs.DeleteItem(4);
    TFieldDefs out(nullptr);
    out.Add("STALE", ftBoolean);
    out.Assign(&defs);
    ASSERT_EQ(out.Count(), 4);
    EXPECT_EQ(out.Items(1)->Name(), "FULLNAME");
    EXPECT_EQ(out.Items(1)->DataType(), ftString);
    EXPECT_EQ(out.Items(1)->Size(), 40);
    EXPECT_EQ(out.Items(2)->Precision(), 3);
    EXPECT_TRUE(out.Items(0)->Required());
    EXPECT_EQ(out.FindDef("STALE"), nullptr);

    TRestructureFieldDef one(nullptr);
    one.Assign(t.fields.Items(1));
    EXPECT_EQ(one.SourceFieldName(), "NAME");
    TFieldDef* target = out.Items(3);
    target->Assign(&one);
    EXPECT_EQ(target->Name(), "NAME");
    EXPECT_EQ(target->Size(), 20);
}

TEST(TRestructureFieldDefs, ACopyOfARequestCarriesStatusesAndTheAutoIncRequest) {
    Request r;
    r.F("NAME")->SetSize(10);
    r.ValidateFields();
    r.fields.SetResetAutoIncValue(true);
    r.fields.SetAutoIncResetValue(1000);

    TRestructureFieldDefs copy;
    TStringList otherLog;
    copy.SetChangeLog(&otherLog);
    copy.Assign(&r.fields);
    EXPECT_EQ(copy.Count(), r.fields.Count());
    EXPECT_EQ(copy.ChangeStatus(), dcDataLoss);
    EXPECT_EQ(copy.Find("NAME")->ChangeStatus(), dcDataLoss);
    EXPECT_EQ(copy.Find("NAME")->SourceFieldName(), "NAME");
    EXPECT_TRUE(copy.ResetAutoIncValue());
    EXPECT_EQ(copy.AutoIncResetValue(), 1000);
    EXPECT_EQ(copy.ChangeLog(), &otherLog);
    EXPECT_EQ(copy.FieldDefs(), nullptr);
    EXPECT_THROW(copy.GetItems(0)->Assign(r.I("PK")), EConvertError);
}

TEST(TRestructureIndexDefs, CopiesToAndFromTheFrameworkDefinitions) {
    Table t;
    TRestructureIndexDefs defs;
    defs.Assign(&t.indexes);
    ASSERT_EQ(defs.Count(), 3);
    const TRestructureIndexDef* ix = defs.GetItems(1);
    EXPECT_EQ(ix->Name(), "ixName");
    EXPECT_EQ(ix->Fields(), "NAME");
    EXPECT_EQ(ix->CaseInsFields(), "NAME");
    EXPECT_EQ(ix->Options(), TIndexOptions{ixCaseInsensitive});
    EXPECT_EQ(ix->SourceIndexDef(), t.indexes.Items(1));
    EXPECT_EQ(defs.FindSourceDef(t.indexes.Items(2)), defs.GetItems(2));
    EXPECT_EQ(defs.FindSourceDef(nullptr), nullptr);

    defs.AddAndSetIndexDef("ixDesc", "QTY", {ixDescending, ixUnique});
    TIndexDefs out(nullptr);
    out.Assign(&defs);
    ASSERT_EQ(out.Count(), 4);
    EXPECT_EQ(out.Items(3)->Name(), "ixDesc");
    EXPECT_EQ(out.Items(3)->DescFields(), "QTY");
    EXPECT_EQ(out.Items(3)->Options(), (TIndexOptions{ixDescending, ixUnique}));
    EXPECT_EQ(out.Items(1)->CaseInsFields(), "NAME");

    TRestructureIndexDefs copy;
    defs.SetMaximumKeySize(100);
    defs.SetMaximumKeyFieldCount(4);
    defs.GetItems(0)->SetChangeStatus(dcDataChange);
    copy.Assign(&defs);
    EXPECT_EQ(copy.Count(), 4);
    EXPECT_EQ(copy.MaximumKeySize(), 100);
    EXPECT_EQ(copy.MaximumKeyFieldCount(), 4);
    EXPECT_EQ(copy.GetItems(0)->ChangeStatus(), dcDataChange);
    EXPECT_EQ(copy.GetItems(0)->SourceIndexDef(), t.indexes.Items(0));
}

// ---------------------------------------------------------------------------------------------
// Index validation

TEST(TRestructureIndexDefs, StartsWithTheKeyLimits) {
    TRestructureIndexDefs defs;
    EXPECT_EQ(defs.MaximumKeySize(), 500);
    EXPECT_EQ(defs.MaximumKeyFieldCount(), 32);
}

TEST(TRestructureIndexDefs, EachValidationErrorHasItsText) {
    // Fields: S495 String(495), S479 String(479), S478 String(478), W String(240) wide, ID
    // Integer, F1..F33 Smallint. Key sizes are those of the key entries (10-byte header, a
    // String's declared length + 1 after its 2-byte length, the hidden 4-byte field of an index
    // that is neither unique nor primary, one null-flag byte per 8 key fields begun).
    TRestructureFieldDefs fields;
    fields.AddAndSetFieldDef("S495", ftString, 495);
    fields.AddAndSetFieldDef("S479", ftString, 479);
    fields.AddAndSetFieldDef("S478", ftString, 478);
    fields.AddAndSetFieldDef("W", ftWideString, 240);
    fields.AddAndSetFieldDef("ID", ftInteger, 0);
    std::string f32, f33;
    for (int i = 1; i <= 33; ++i) {
        fields.AddAndSetFieldDef("F" + IntToStr(i), ftSmallint, 0);
        (i <= 32 ? f32 : f33) += (i > 1 ? ";F" : "F") + IntToStr(i);
    }
    f33 = f32 + f33;

    struct Case {
        const char* what;
        std::function<void(TRestructureIndexDefs&)> build;
        std::string custom;  // empty: passes
    };
    const Case cases[] = {
        {"two primary indexes",
         [](TRestructureIndexDefs& d) {
             d.AddAndSetIndexDef("P1", "ID", {ixPrimary});
             d.AddAndSetIndexDef("P2", "S478", {ixPrimary});
         },
         "Only one primary index is permitted per table"},
        {"no fields", [](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", "", {}); },
         "Field not found: "},
        {"unknown key field", [](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", "ID;NOPE", {}); },
         "The field 'NOPE' in index 'IX' was not found in the table field definitions."},
        {"unknown case-insensitive field",
         [](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", "ID", {})->SetCaseInsFields("Nope"); },
         "The field 'Nope' in index 'IX' was not found in the table field definitions."},
        {"10 + (2 + 496) + 4 + 4 + 1 bytes",
         [](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", "S495;ID", {}); },
         "The Index 'IX' with fields 'S495;ID' has exceeded the maximum key size of 500"},
        {"10 + (2 + 480) + 4 + 4 + 1 bytes",
         [](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", "S479;ID", {}); },
         "The Index 'IX' with fields 'S479;ID' has exceeded the maximum key size of 500"},
        {"10 + (2 + 479) + 4 + 4 + 1 bytes",
         [](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", "s478;id", {}); }, ""},
        {"a unique index has no hidden field: 10 + (2 + 480) + 4 + 1 bytes",
         [](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", "S479;ID", {ixUnique}); }, ""},
        {"wide string counts twice: 10 + (2 + 480) + 4 + 2 + 4 + 1 bytes",
         [](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", "W", {})->SetDescFields("W;ID;F1"); },
         "The Index 'IX' with fields 'W;ID;F1' has exceeded the maximum key size of 500"},
        {"32 fields, unique", [&](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", f32, {ixUnique}); },
         ""},
        {"32 fields and the hidden one",
         [&](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", f32, {}); },
         "The Index 'IX' with fields '" + f32 + "' has exceeded the maximum key field count of 32"},
        {"33 fields", [&](TRestructureIndexDefs& d) { d.AddAndSetIndexDef("IX", f33, {}); },
         "The Index 'IX' with fields '" + f33 + "' has exceeded the maximum key field count of 32"},
        {"lowered limits",
         [](TRestructureIndexDefs& d) {
             d.SetMaximumKeyFieldCount(1);
             d.AddAndSetIndexDef("IX", "ID;F1", {});
         },
         "The Index 'IX' with fields 'ID;F1' has exceeded the maximum key field count of 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TRestructureIndexDefs defs;
        TStringList log;
        defs.SetChangeLog(&log);
        c.build(defs);
        if (c.custom.empty()) {
            EXPECT_NO_THROW(defs.ValidateNewIndexDefs(&fields));
            EXPECT_EQ(Lines(log), std::vector<std::string>{"IndexDefs: Validation OK"});
        } else {
            ExpectInvalidModifyRequest([&] { defs.ValidateNewIndexDefs(&fields); }, c.custom);
            EXPECT_EQ(log.Count(), 0);
        }
    }
}

// Validation measures keys as the key derivation does: every request it passes derives without
// 9602 / 9603, and every request it refuses for size or field count would fail there.
TEST(TRestructureIndexDefs, ValidationAgreesWithKeyDerivationAtTheLimits) {
    for (int length = 470; length <= 490; ++length)
        for (int fieldCount : {1, 30, 31, 32})
            for (bool unique : {false, true}) {
                SCOPED_TRACE(
                    Format("String(%d) + %d Smallint, unique %d", {length, fieldCount - 1, int(unique)}));
                std::vector<ostra::testing::FieldSpec> specs{{"S", ftString, length}};
                TRestructureFieldDefs requested;
                requested.AddAndSetFieldDef("S", ftString, length);
                std::string names = "S";
                for (int i = 1; i < fieldCount; ++i) {
                    specs.push_back({"F" + IntToStr(i), ftSmallint});
                    requested.AddAndSetFieldDef("F" + IntToStr(i), ftSmallint, 0);
                    names += ";F" + IntToStr(i);
                }
                TRestructureIndexDefs defs;
                defs.AddAndSetIndexDef("IX", names, unique ? TIndexOptions{ixUnique} : TIndexOptions{});
                bool validated = true;
                try {
                    defs.ValidateNewIndexDefs(&requested);
                } catch (const EOrqDatabaseError& e) {
                    EXPECT_EQ(e.ErrorCode, 9996);
                    validated = false;
                }

                std::unique_ptr<TInternalFields> layout = ostra::testing::MakeLayout(specs);
                TKeyFields keys;
                TInternalIndexDefs indexes;
                TIndexRequest request;
                request.IndexName = "IX";
                request.Fields = names;
                request.Unique = unique;
                bool derived = true;
                try {
                    DeriveIndexDef(request, false, false, *layout, keys, indexes, SorqIndexFmt, "Test",
                                   nullptr);
                } catch (const EOrqDatabaseError& e) {
                    EXPECT_TRUE(e.ErrorCode == 9602 || e.ErrorCode == 9603) << e.ErrorCode;
                    derived = false;
                }
                EXPECT_EQ(validated, derived);
            }
}

TEST(TRestructureIndexDefs, AnIndexOnAFieldWithoutAKeyFormIsRefused) {
    Request r;
    r.indexes.AddAndSetIndexDef("ixNotes", "NOTES", {});
    EXPECT_THROW(r.indexes.ValidateNewIndexDefs(&r.fields), Exception);
}

// ---------------------------------------------------------------------------------------------
// Index classification

TEST(TRestructureIndexDefs, ClassifiesEachKindOfIndexChange) {
    struct Case {
        const char* what;
        std::function<void(Request&)> change;
        const char* index;
        TDefChangeType expected;
        const char* reason;  // the line logged before the status line; empty for none
    };
    const Case cases[] = {
        {"nothing", [](Request&) {}, "ixName", dcNoChange, ""},
        {"renamed", [](Request& r) { r.I("ixName")->SetName("ixFullName"); }, "ixFullName", dcDefOnlyChange,
         "Index Def: ixFullName - Name changed"},
        {"renamed in case only", [](Request& r) { r.I("ixName")->SetName("IXNAME"); }, "IXNAME", dcNoChange,
         ""},
        {"options", [](Request& r) { r.I("ixQty")->SetOptions({ixUnique}); }, "ixQty", dcDataChange,
         "Index Def: ixQty - Options or position changed"},
        {"position", [](Request& r) { r.I("ixQty")->SetIndex(1); }, "ixQty", dcDataChange,
         "Index Def: ixQty - Options or position changed"},
        {"key field widened", [](Request& r) { r.F("NAME")->SetSize(30); }, "ixName", dcDataChange,
         "Index Def: ixName - Changed field: NAME"},
        {"key field renamed with the index",
         [](Request& r) {
             r.F("NAME")->SetName("FULLNAME");
             r.indexes.ReplaceFieldName("NAME", "FULLNAME");
         },
         "ixName", dcNoChange, ""},
        {"key fields", [](Request& r) { r.I("ixQty")->SetFields("QTY"); }, "ixQty", dcDataChange,
         "Index Def fields changed: ixQty from QTY;ID to QTY"},
        {"case-insensitive fields", [](Request& r) { r.I("ixName")->SetCaseInsFields(""); }, "ixName",
         dcDataChange, "Index Def case insensitive fields changed: ixName from NAME to "},
        {"descending fields", [](Request& r) { r.I("ixQty")->SetDescFields("ID"); }, "ixQty", dcDataChange,
         "Index Def descending fields changed: ixQty from  to ID"},
        {"new index", [](Request& r) { r.indexes.AddAndSetIndexDef("ixSmall", "SMALL", {}); }, "ixSmall",
         dcAdded, "New Index Def: ixSmall"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Request r;
        c.change(r);
        r.ValidateAll();
        const TRestructureIndexDef* ix = r.I(c.index);
        ASSERT_NE(ix, nullptr);
        EXPECT_EQ(ix->ChangeStatus(), c.expected);
        EXPECT_EQ(r.indexes.ChangeStatus(), c.expected) << "the other indexes are unchanged";
        const std::string statusLine =
            "Index Def: '" + std::string(c.index) + "' status: " + CChangeTypeNames[c.expected];
        std::vector<std::string> lines = Lines(r.log);
        auto at = std::find(lines.begin(), lines.end(), statusLine);
        ASSERT_NE(at, lines.end()) << statusLine;
        if (*c.reason)
            EXPECT_EQ(*(at - 1), c.reason);
        else
            EXPECT_TRUE(at == lines.begin() + 1 || (at - 1)->rfind("Index Def: '", 0) == 0) << *(at - 1);
    }
}

TEST(TRestructureIndexDefs, ChangeLogOfADroppedAndAnAddedIndex) {
    Request r;
    r.indexes.DeleteItem(r.I("ixQty")->Index());
    r.indexes.AddAndSetIndexDef("ixSmall", "SMALL", {});
    r.ValidateAll();
    EXPECT_EQ(Lines(r.log), (std::vector<std::string>{
                                "IndexDefs: Validation OK",
                                "Index Def: 'PK' status: Unchanged Item",
                                "Index Def: 'ixName' status: Unchanged Item",
                                "New Index Def: ixSmall",
                                "Index Def: 'ixSmall' status: New Item",
                                "Prior Index Def: ixQty status: Deleted Item",
                                "IndexDefs: Change status is - Data Requirements Changed",
                            }));
    EXPECT_EQ(r.indexes.ChangeStatus(), dcDataChange);
}

TEST(TRestructureIndexDefs, ANewTableAddsEveryIndex) {
    TRestructureFieldDefs fields;
    fields.AddAndSetFieldDef("A", ftInteger, 0);
    fields.ValidateAgainstOriginalDefs(nullptr);
    TRestructureIndexDefs defs;
    TStringList log;
    defs.SetChangeLog(&log);
    defs.AddAndSetIndexDef("", "A", {ixPrimary});
    defs.AddAndSetIndexDef("ixA", "A", {ixDescending});
    defs.ValidateAgainstOriginalDefs(nullptr, &fields);
    EXPECT_EQ(defs.GetItems(0)->ChangeStatus(), dcAdded);
    EXPECT_EQ(defs.GetItems(1)->ChangeStatus(), dcAdded);
    EXPECT_EQ(defs.ChangeStatus(), dcAdded);
    EXPECT_EQ(Lines(log), (std::vector<std::string>{"IndexDefs: Validation OK",
                                                    "IndexDefs: Change status is - New Item"}));
}

TEST(TRestructureIndexDefs, AKeyFieldMissingFromTheRequestFailsBeforeClassification) {
    Request r;
    r.fields.DeleteItem(r.F("QTY")->Index());
    r.ValidateFields();
    r.log.Clear();
    ExpectInvalidModifyRequest(
        [&] { r.indexes.ValidateAgainstOriginalDefs(&r.table.indexes, &r.fields); },
        "The field 'QTY' in index 'ixQty' was not found in the table field definitions.");
    // The same drop, with the key lists brought along, passes and rebuilds nothing else.
    r.indexes.DeleteField("QTY");
    r.indexes.ValidateAgainstOriginalDefs(&r.table.indexes, &r.fields);
    EXPECT_EQ(r.I("ixQty")->Fields(), "ID");
    EXPECT_EQ(r.I("ixQty")->ChangeStatus(), dcDataChange);
}

// ---------------------------------------------------------------------------------------------
// Field renames and drops inside index requests

TEST(TRestructureIndexDefs, AddAndSetIndexDefCopiesTheFieldsByOption) {
    TRestructureIndexDefs defs;
    const TRestructureIndexDef* ci = defs.AddAndSetIndexDef("IX", "A;B", {ixCaseInsensitive});
    EXPECT_EQ(ci->CaseInsFields(), "A;B");
    EXPECT_EQ(ci->DescFields(), "");
    const TRestructureIndexDef* desc = defs.AddAndSetIndexDef("IY", "A", {ixDescending});
    EXPECT_EQ(desc->CaseInsFields(), "");
    EXPECT_EQ(desc->DescFields(), "A");
    EXPECT_EQ(defs.Find("iy"), desc);
    EXPECT_EQ(defs.Find("IZ"), nullptr);
}

TEST(TRestructureIndexDefs, DeleteFieldRemovesWholeNamesAndEmptiedIndexes) {
    struct Row {
        std::string fields, caseIns, name, expFields, expCaseIns;
    };
    const Row rows[] = {
        {"A;B;C", "B", "B", "A;C", ""},
        {"A;B", "A;B", "B", "A", "A"},
        {"A;B", "", "A", "B", ""},
        {"a;b", "B", "B", "a", ""},                    // names compare ignoring case
        {"CUSTID;NAME", "", "ID", "CUSTID;NAME", ""},  // not a part of another name
        {"CUSTID;ID", "ID", "ID", "CUSTID", ""},
        {"12;1", "12;1", "1", "12", "12"},  // the designer's field row numbers
        {"A", "B", "B", "A", "B"},          // not a key field: the other lists stay
        {"A;B", "", "", "A;B", ""},
    };
    for (const Row& r : rows) {
        TRestructureIndexDefs defs;
        TRestructureIndexDef* def = defs.AddAndSetIndexDef("IX", r.fields, {});
        def->SetCaseInsFields(r.caseIns);
        def->SetDescFields(r.caseIns);
        def->DeleteField(r.name);
        EXPECT_EQ(def->Fields(), r.expFields) << r.fields << " - " << r.name;
        EXPECT_EQ(def->CaseInsFields(), r.expCaseIns) << r.fields << " - " << r.name;
        EXPECT_EQ(def->DescFields(), r.expCaseIns) << r.fields << " - " << r.name;
    }

    TRestructureIndexDefs defs;
    defs.AddAndSetIndexDef("I1", "B", {});
    defs.AddAndSetIndexDef("I2", "A;B", {});
    defs.AddAndSetIndexDef("I3", "B", {});
    defs.AddAndSetIndexDef("I4", "C", {});
    defs.DeleteField("B");
    ASSERT_EQ(defs.Count(), 2);
    EXPECT_EQ(defs.GetItems(0)->Name(), "I2");
    EXPECT_EQ(defs.GetItems(0)->Fields(), "A");
    EXPECT_EQ(defs.GetItems(1)->Name(), "I4");
}

TEST(TRestructureIndexDefs, ReplaceFieldNameRenamesWholeNamesInEveryList) {
    TRestructureIndexDefs defs;
    TRestructureIndexDef* a = defs.AddAndSetIndexDef("IA", "CUSTID;ID", {ixCaseInsensitive});
    a->SetDescFields("id");
    TRestructureIndexDef* b = defs.AddAndSetIndexDef("IB", "IDX;NAME", {});
    defs.ReplaceFieldName("ID", "KEY");
    EXPECT_EQ(a->Fields(), "CUSTID;KEY");
    EXPECT_EQ(a->CaseInsFields(), "CUSTID;KEY");
    EXPECT_EQ(a->DescFields(), "KEY");
    EXPECT_EQ(b->Fields(), "IDX;NAME");
}

TEST(TRestructureIndexDefs, DuplicatePrimaryCheck) {
    TRestructureIndexDefs defs;
    defs.AddAndSetIndexDef("P1", "A", {ixPrimary});
    defs.AddAndSetIndexDef("U", "B", {ixUnique});
    EXPECT_FALSE(defs.CheckForDuplicatePrimaryIndexes());
    defs.AddAndSetIndexDef("P2", "B", {ixPrimary, ixUnique});
    EXPECT_TRUE(defs.CheckForDuplicatePrimaryIndexes());
}

TEST(TRestructureDefs, ValidationWithoutAChangeLogDropsTheLines) {
    Request r;
    r.fields.SetChangeLog(nullptr);
    r.indexes.SetChangeLog(nullptr);
    r.F("NAME")->SetSize(10);
    r.ValidateAll();
    EXPECT_EQ(r.fields.ChangeStatus(), dcDataLoss);
    EXPECT_EQ(r.indexes.ChangeStatus(), dcDataChange);
    EXPECT_EQ(r.log.Count(), 0);
}
