// orqCursorFixture: short ways for the cursor tests to create tables, open cursors over them and
// read and write records by field name, all through the cursor's own operations and the database
// component.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/components/orqDBDefRecord.h"
#include "engine/components/orqDataSet.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Variant.h"
#include "host/db/DBTypes.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"
#include "orqTestDataBase.h"

namespace ostra::componentstest {

// One requested field: name, type and (String, Bytes) size.
struct TFieldSpec {
    std::string Name;
    TFieldType Type;
    int Size = 0;
    bool Required = false;
};

// One requested index: name, ';'-separated fields and options.
struct TIndexSpec {
    std::string Name;
    std::string Fields;
    TIndexOptions Options{};
    std::string DescFields{};
    std::string CaseInsFields{};
};

// A restructure request with its lists, filled field by field and index by index.
struct TRestructureRequest {
    TRestructureFieldDefs Fields;
    TRestructureIndexDefs Indexes;
    TFieldDefs DestFields{nullptr};
    TIndexDefs DestIndexes{nullptr};
    TInternalRestructureRecord Record;
    TRestructureRequest() {
        Record.NewFieldDefs = &Fields;
        Record.NewIndexDefs = &Indexes;
        Record.DestFieldDefs = &DestFields;
        Record.DestIndexDefs = &DestIndexes;
    }
    TRestructureRequest(const TRestructureRequest&) = delete;
    TRestructureRequest& operator=(const TRestructureRequest&) = delete;
    TRestructureFieldDef* Field(const std::string& Name, TFieldType Type, int Size, const std::string& Source,
                                TDefChangeType Status = dcNoChange) {
        TRestructureFieldDef* field = Fields.AddAndSetFieldDef(Name, Type, Size);
        field->SetSourceFieldName(Source);
        field->SetChangeStatus(Status);
        return field;
    }
    TRestructureIndexDef* Index(const std::string& Name, const std::string& On, TIndexOptions Options,
                                TDefChangeType Status = dcNoChange) {
        TRestructureIndexDef* index = Indexes.AddAndSetIndexDef(Name, On, Options);
        index->SetChangeStatus(Status);
        return index;
    }
};

// A connected test database: a new file Path, or "MEMORY" when Path is empty. Short lock waits
// (3 tries 10 ms apart).
std::unique_ptr<TTestDataBase> MakeDataBase(const std::string& Path);

// Another connection to the existing database file Path (lock waits as above, or RetryMaximum
// tries 10 ms apart, which also bound the connection's own locks).
std::unique_ptr<TTestDataBase> ConnectDataBase(const std::string& Path, int32_t RetryMaximum = 3);

// Changes the definition record of the closed database file Path through Change and stores it
// with a valid check value.
void RewriteDefinitionRecord(const std::string& Path, const std::function<void(TDBDefRecord&)>& Change);

// Changes the stored definition of the disk table Name through Change (as a restructure would
// store it, without touching the table's data).
void RewriteDefinition(TOrqDataBase& DataBase, const std::string& Name, const std::function<void(TTableDef&)>& Change);

// Creates the table through a cursor (SetTableDef, then InternalCreateTable).
void CreateTable(TTestDataBase& DataBase, const std::string& Name, const std::vector<TFieldSpec>& Fields,
                 const std::vector<TIndexSpec>& Indexes, bool Memory, TEncryptionLevel Level = encNone);

// A cursor on the table, opened, on the index IndexName (empty: the one the open chose).
std::unique_ptr<TOrqDataSet> OpenCursor(TTestDataBase& DataBase, const std::string& Name, bool Memory,
                                        const std::string& IndexName = "");

// The value of a field of the record buffer (Null when null), and writing one (Null: null).
Variant GetValue(const TOrqDataSet& Cursor, const std::string& Field);
void SetValue(TOrqDataSet& Cursor, const std::string& Field, const Variant& Value);

// A new record with the given field values, added through AddRecord.
void Insert(TOrqDataSet& Cursor, const std::vector<std::pair<std::string, Variant>>& Values, bool UseAutoInc = false);

// The values of Field of every record the cursor reaches, first to last (or last to first).
std::vector<Variant> Walk(TOrqDataSet& Cursor, const std::string& Field, bool Forward = true);

// A Variant array of integers, for comparing walks.
std::vector<Variant> Ints(const std::vector<int>& Values);

}  // namespace ostra::componentstest
