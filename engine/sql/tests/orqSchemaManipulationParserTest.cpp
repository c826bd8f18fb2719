// The schema statement parser: each CREATE/ALTER/DROP form to its request, the parse errors
// with their positions, the checks against a table fixture, and the request written into the
// restructure lists of that table.
#include <gtest/gtest.h>

#include <string>

#include "engine/sql/orqSchemaManipulationParser.h"
#include "engine/sql/tests/support/TestStatementTokens.h"
#include "engine/storage/orqRestructureDefs.h"
#include "host/SysUtils.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

namespace ostra {
namespace {

std::string ShowField(const TInternalFieldItem* f) {
    std::string s = f->FieldName() + ":" + FieldTypeName(f->DataType()) + ":" + IntToStr(f->FieldSize());
    if (f->NumDecimalPlaces() != 0) s += "." + IntToStr(f->NumDecimalPlaces());
    if (f->Required()) s += "!";
    return s;
}

// The request in one line: operation, table, and whatever lists are not empty.
std::string Show(const TOrqSchemaManipulationParser& p) {
    static const char* const ops[] = {"unknown", "create", "alter", "create index", "drop", "drop index"};
    std::string s = std::string(ops[p.Operation()]) + " " + p.TableName();
    if (p.TemporaryTable()) s += " (temporary)";
    auto list = [&](const char* label, const TInternalFields& fields, bool altered) {
        if (fields.Count() == 0) return;
        s += std::string(" | ") + label;
        for (int i = 0; i < fields.Count(); ++i) {
            const TInternalFieldItem* f = fields.GetIndex(i);
            s += i == 0 ? " " : ", ";
            if (!altered)
                s += label == std::string("drop") ? f->FieldName() : ShowField(f);
            else if (f->FieldGeneratorID() == aoAlterName)
                s += f->SourceField() + ">" + f->FieldName();
            else
                s += ShowField(f) + (f->FieldGeneratorID() == aoAlterType ? "" : "?kind");
        }
    };
    list("add", p.AddedFields(), false);
    list("drop", p.DroppedFields(), false);
    list("alter", p.AlteredFields(), true);
    const TIndexOptions o = p.IndexOptions();
    if (p.Operation() == ddCreateIndex || p.Operation() == ddDropIndex || !o.Empty() ||
        p.IndexColumns().Count() > 0) {
        s += " | index '" + p.IndexName() + "' [";
        if (o.Contains(ixPrimary)) s += "P";
        if (o.Contains(ixUnique)) s += "U";
        if (o.Contains(ixDescending)) s += "D";
        s += "] " + p.GetIndexFieldsAsText();
    }
    return s;
}

TEST(SchemaParser, StatementsToRequests) {
    struct Case {
        const char* Text;
        const char* Request;
    } cases[] = {
        {"CREATE TABLE t (id AUTOINC, name VARCHAR(40) NOT NULL, PRIMARY KEY (id))",
         "create t | add id:AutoInc:0, name:String:40! | index '' [P] id"},
        {"CREATE TEMPORARY TABLE m (a INTEGER)", "create m (temporary) | add a:Integer:0"},
        {"CREATE TABLE TEMPORARY m (a INTEGER)", "create m (temporary) | add a:Integer:0"},
        {"create table t (n NUMERIC(10,2), c CHAR, m BLOB(0,1), g BLOB(10,7), x DATE NOT NULL,)",
         "create t | add n:Float:10.2, c:String:1, m:Memo:0.1, g:Blob:10.7, x:Date:0!"},
        {"CREATE UNIQUE DESC INDEX ix ON t (a, b)", "create index t | index 'ix' [UD] a;b"},
        {"CREATE ASC INDEX ix ON TEMPORARY t (a)", "create index t (temporary) | index 'ix' [] a"},
        {"CREATE INDEX ix ON t ()", "create index t | index 'ix' [] "},
        {"ALTER TABLE t ADD c MONEY, DROP COLUMN d, ALTER e TO f, ALTER g TYPE CHAR(10)",
         "alter t | add c:Currency:0 | drop d | alter e>f, g:String:10"},
        {"ALTER TABLE TEMPORARY t ADD COLUMN c SMALLINT NOT NULL", "alter t (temporary) | add c:SmallInt:0!"},
        {"DROP TABLE t", "drop t"},
        {"DROP TABLE TEMPORARY m;", "drop m (temporary)"},
        {"DROP INDEX t PRIMARY", "drop index t | index '' [P] "},
        {"DROP INDEX TEMPORARY t ix", "drop index t (temporary) | index 'ix' [] "},
    };
    TOrqSchemaManipulationParser parser;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        test::TStatementTokens tokens;
        parser.Clear();
        EXPECT_TRUE(parser.Execute(TOrqParserOptions(), tokens.All(c.Text))) << parser.GetErrorMsg();
        EXPECT_EQ(Show(parser), c.Request);
    }
}

TEST(SchemaParser, ParseErrorsWithPositions) {
    struct Case {
        const char* Text;
        const char* Error;
    } cases[] = {
        {"CREATE UNIQUE ix ON t (a)", "Create statment is invalid Line 1, Character 15. Token 'ix'"},
        {"ALTER t ADD a INT", "Alter table statment is invalid Line 1, Character 7. Token 't'"},
        {"DROP VIEW v", "Drop statment is invalid Line 1, Character 6. Token 'VIEW'"},
        {"CREATE TABLE t a INT", "Missing Left Parenthesis Line 1, Character 16. Token 'a'"},
        {"CREATE TABLE t (a INT, b INT", "Missing Right Parenthesis Line 1, Character 29. Token ''"},
        {"CREATE TABLE t (a INT, , b INT)",
         "Column specification is missing Line 1, Character 23. Token ','"},
        {"CREATE TABLE t ()", "Column specification is missing Line 1, Character 17. Token ')'"},
        // A data-type error carries its own position, once.
        {"CREATE TABLE t (a INT,\n  b FOO)", "Unknown Datatype Line 2, Character 5. Token 'FOO'"},
        {"CREATE TABLE t (a VARCHAR(x))",
         "Data type length/precision not specified Line 1, Character 27. Token 'x'"},
        {"CREATE TABLE t (a NUMERIC(5,))", "Data type scale invalid Line 1, Character 29. Token ')'"},
        {"CREATE TABLE t (a INT NOT x)", "Invalid token Line 1, Character 27. Token 'x'"},
        {"CREATE TABLE t (a CHAR(5)", "Missing Right Parenthesis Line 1, Character 26. Token ''"},
        {"CREATE INDEX ix t (a)", "Missing ON token Line 1, Character 17. Token 't'"},
        {"CREATE INDEX ix ON t a", "Missing Left Parenthesis Line 1, Character 22. Token 'a'"},
        {"CREATE INDEX ix ON t (a, , b)", "Column specification is missing Line 1, Character 25. Token ','"},
        {"CREATE INDEX ix ON t (a b", "Missing Right Parenthesis Line 1, Character 26. Token ''"},
        {"CREATE INDEX", "Invalid token Line 1, Character 13. Token ''"},
        {"ALTER TABLE t RENAME a", "Invalid token Line 1, Character 15. Token 'RENAME'"},
        {"ALTER TABLE t ALTER a SET b", "Invalid token Line 1, Character 23. Token 'SET'"},
        {"ALTER TABLE t ADD a INT, , DROP b",
         "Column specification is missing Line 1, Character 25. Token ','"},
        {"ALTER TABLE t ADD", "Column specification is missing Line 1, Character 18. Token ''"},
        {"ALTER TABLE t ADD a AUTOINC(3)", "Invalid token Line 1, Character 28. Token '('"},
        {"CREATE TABLE t (a INT) extra",
         "Schema statement incorrectly terminated Line 1, Character 24. Token 'extra'"},
        {"DROP TABLE t extra", "Schema statement incorrectly terminated Line 1, Character 14. Token 'extra'"},
        {"DROP TABLE", "Syntax error. Expected table name Line 1, Character 11. Token ''"},
        {"CREATE TABLE (a INT)", "Missing Left Parenthesis Line 1, Character 15. Token 'a'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        test::TStatementTokens tokens;
        TOrqSchemaManipulationParser parser;
        EXPECT_FALSE(parser.Execute(TOrqParserOptions(), tokens.All(c.Text)));
        EXPECT_EQ(parser.GetErrorMsg(), c.Error);
    }
}

// Table t: id AutoInc, name String(40), price Float, d Date, notes Memo; the unnamed primary
// index on id and ByName on name.
struct TableFixture {
    TInternalFields Fields;
    TFieldDefs FieldDefs{nullptr};
    TIndexDefs IndexDefs{nullptr};

    TableFixture() {
        struct {
            const char* Name;
            TFieldType Type;
            int Size;
        } fields[] = {{"id", ftAutoInc, 0},
                      {"name", ftString, 40},
                      {"price", ftFloat, 0},
                      {"d", ftDate, 0},
                      {"notes", ftMemo, 0}};
        for (const auto& f : fields) {
            TInternalFieldItem* item = Fields.Add();
            item->SetFieldName(f.Name);
            item->SetDataType(f.Type);
            FieldDefs.Add(f.Name, f.Type, f.Size);
        }
        IndexDefs.Add("", "id", TIndexOptions{ixPrimary, ixUnique});
        IndexDefs.Add("ByName", "name", TIndexOptions());
    }
};

TEST(SchemaParser, ValidateAgainstTheTable) {
    struct Case {
        const char* Text;
        const char* Error;  // empty: the request passes
    } cases[] = {
        {"CREATE TABLE x (a INTEGER)", ""},
        {"ALTER TABLE t ADD c MONEY, DROP d, ALTER name TO title, ALTER price TYPE INTEGER", ""},
        {"ALTER TABLE t ADD NAME INTEGER", "Field already exists : NAME Line 1, Character 19. Token 'NAME'"},
        {"ALTER TABLE t ADD x INT, ADD x CHAR(2)",
         "Field already exists : x Line 1, Character 30. Token 'x'"},
        {"ALTER TABLE t DROP id, DROP zz", "Field not found : zz Line 1, Character 29. Token 'zz'"},
        {"ALTER TABLE t ALTER name TO Price",
         "Field already exists : Price Line 1, Character 29. Token 'Price'"},
        // The missing column of a rename is its old name, reported where it was written.
        {"ALTER TABLE t ALTER zz TO yy", "Field not found : zz Line 1, Character 21. Token 'zz'"},
        {"ALTER TABLE t ALTER COLUMN zz TYPE INTEGER",
         "Field not found : zz Line 1, Character 28. Token 'zz'"},
        {"CREATE INDEX ix ON t (name, price)", ""},
        {"CREATE INDEX ix ON t ()", "No index columns specified"},
        {"CREATE INDEX ix ON t (name, zz)", "Field not found : zz Line 1, Character 29. Token 'zz'"},
        {"CREATE INDEX byname ON t (price)", "Index already exists"},
        {"DROP INDEX t byName", ""},
        {"DROP INDEX t Primary", ""},
        {"DROP INDEX t ix", "Index not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        TableFixture table;
        test::TStatementTokens tokens;
        TOrqSchemaManipulationParser parser;
        ASSERT_TRUE(parser.Execute(TOrqParserOptions(), tokens.All(c.Text))) << parser.GetErrorMsg();
        EXPECT_EQ(parser.ValidateTableChanges(&table.Fields, &table.IndexDefs), std::string(c.Error).empty());
        EXPECT_EQ(parser.GetErrorMsg(), c.Error);
    }
}

TEST(SchemaParser, DropTableIsNotValidatedHere) {
    TableFixture table;
    test::TStatementTokens tokens;
    TOrqSchemaManipulationParser parser;
    ASSERT_TRUE(parser.Execute(TOrqParserOptions(), tokens.All("DROP TABLE t")));
    EXPECT_FALSE(parser.ValidateTableChanges(&table.Fields, &table.IndexDefs));
    EXPECT_EQ(parser.GetErrorMsg(), "");
}

std::string ShowDefs(const TRestructureFieldDefs& defs) {
    std::string s;
    for (int i = 0; i < defs.Count(); ++i) {
        const TRestructureFieldDef* d = defs.GetItems(i);
        if (i > 0) s += ", ";
        s += d->Name() + ":" + FieldTypeName(d->DataType()) + ":" + IntToStr(d->Size());
        if (d->Precision() != 0) s += "." + IntToStr(d->Precision());
        if (d->Required()) s += "!";
        if (d->SourceFieldName() != d->Name()) s += "<" + d->SourceFieldName();
    }
    return s;
}

std::string ShowDefs(const TRestructureIndexDefs& defs) {
    std::string s;
    for (int i = 0; i < defs.Count(); ++i) {
        const TRestructureIndexDef* d = defs.GetItems(i);
        if (i > 0) s += ", ";
        s += "'" + d->Name() + "' " + d->Fields();
        if (!d->DescFields().empty()) s += " desc " + d->DescFields();
        if (d->Options().Contains(ixUnique)) s += " unique";
    }
    return s;
}

TEST(SchemaParser, RequestsWrittenIntoTheRestructureLists) {
    struct Case {
        const char* Text;
        const char* Fields;
        const char* Indexes;
    } cases[] = {
        {"ALTER TABLE t ADD c MONEY NOT NULL, DROP COLUMN d, ALTER name TO title, "
         "ALTER price TYPE NUMERIC(12,3) NOT NULL",
         "id:AutoInc:0, title:String:40<name, price:Float:12.3!, notes:Memo:0, c:Currency:0!<",
         "'' id unique, 'ByName' title"},
        {"CREATE UNIQUE DESC INDEX ix ON t (name, price)",
         "id:AutoInc:0, name:String:40, price:Float:0, d:Date:0, notes:Memo:0",
         "'' id unique, 'ByName' name, 'ix' name;price desc name;price unique"},
        {"DROP INDEX t PRIMARY", "id:AutoInc:0, name:String:40, price:Float:0, d:Date:0, notes:Memo:0",
         "'ByName' name"},
        {"DROP INDEX t BYNAME", "id:AutoInc:0, name:String:40, price:Float:0, d:Date:0, notes:Memo:0",
         "'' id unique"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        TableFixture table;
        TRestructureFieldDefs fieldDefs;
        fieldDefs.Assign(&table.FieldDefs);
        TRestructureIndexDefs indexDefs;
        indexDefs.Assign(&table.IndexDefs);

        test::TStatementTokens tokens;
        TOrqSchemaManipulationParser parser;
        ASSERT_TRUE(parser.Execute(TOrqParserOptions(), tokens.All(c.Text))) << parser.GetErrorMsg();
        ASSERT_TRUE(parser.ValidateTableChanges(&table.Fields, &table.IndexDefs)) << parser.GetErrorMsg();
        parser.SetRestructureFieldDefs(fieldDefs);
        parser.SetRestructureIndexDefs(indexDefs);
        EXPECT_EQ(ShowDefs(fieldDefs), c.Fields);
        EXPECT_EQ(ShowDefs(indexDefs), c.Indexes);

        // The request is one the restructure layer accepts: every kept column still names
        // its source, and every index names fields of the new structure.
        EXPECT_NO_THROW(fieldDefs.ValidateAgainstOriginalDefs(&table.FieldDefs));
        EXPECT_NO_THROW(indexDefs.ValidateAgainstOriginalDefs(&table.IndexDefs, &fieldDefs));
    }
}

}  // namespace
}  // namespace ostra
