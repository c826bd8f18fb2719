// orqCursorFixture: tables, cursors and records for the cursor tests (see orqCursorFixture.h).
#include "orqCursorFixture.h"

#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"
#include "testsupport/TestFiles.h"

namespace ostra::componentstest {

namespace {

std::unique_ptr<TTestDataBase> NewDataBase(const std::string& Path, bool Create, int32_t RetryMaximum = 3) {
    auto database = std::make_unique<TTestDataBase>();
    database->SetDataBaseName(Path.empty() ? C_MEMORYDATABASENAME : Path);
    database->SetLockRetryMaximum(RetryMaximum);
    database->SetLockRetryInterval(10);
    if (Create && !Path.empty()) database->CreateDatabase();
    database->SetConnected(true);
    return database;
}

}  // namespace

std::unique_ptr<TTestDataBase> MakeDataBase(const std::string& Path) { return NewDataBase(Path, true); }

std::unique_ptr<TTestDataBase> ConnectDataBase(const std::string& Path, int32_t RetryMaximum) {
    return NewDataBase(Path, false, RetryMaximum);
}

void RewriteDefinitionRecord(const std::string& Path, const std::function<void(TDBDefRecord&)>& Change) {
    std::string bytes = test::ReadAll(Path);
    TDBDefRecord record;
    record.Decode(reinterpret_cast<const uint8_t*>(bytes.data()));
    Change(record);
    uint8_t encoded[CDBDefRecordSize];
    record.EncodeChecked(encoded);
    bytes.replace(0, sizeof encoded, reinterpret_cast<const char*>(encoded), sizeof encoded);
    test::WriteAll(Path, bytes);
}

void RewriteDefinition(TOrqDataBase& DataBase, const std::string& Name, const std::function<void(TTableDef&)>& Change) {
    TTableDef def(nullptr);
    DataBase.InternalGetTableDef(Name, &def);
    Change(def);
    DataBase.InternalUpdateTableDef(def.TableName(), &def, false);
}

void CreateTable(TTestDataBase& DataBase, const std::string& Name, const std::vector<TFieldSpec>& Fields,
                 const std::vector<TIndexSpec>& Indexes, bool Memory, TEncryptionLevel Level) {
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(&DataBase);
    cursor.SetTableName(Name);
    cursor.SetMemory(Memory);
    cursor.SetEncryptionLevel(Level);
    TFieldDefs fields(nullptr);
    for (const TFieldSpec& field : Fields) fields.Add(field.Name, field.Type, field.Size, field.Required);
    TIndexDefs indexes(nullptr);
    for (const TIndexSpec& spec : Indexes) {
        TIndexDef* index = indexes.Add(spec.Name, spec.Fields, spec.Options);
        index->SetDescFields(spec.DescFields);
        index->SetCaseInsFields(spec.CaseInsFields);
    }
    cursor.SetTableDef(Memory, fields, indexes);
    cursor.InternalCreateTable();
}

std::unique_ptr<TOrqDataSet> OpenCursor(TTestDataBase& DataBase, const std::string& Name, bool Memory,
                                        const std::string& IndexName) {
    auto cursor = std::make_unique<TOrqDataSet>(nullptr);
    cursor->SetDataBase(&DataBase);
    cursor->SetTableName(Name);
    cursor->SetMemory(Memory);
    cursor->DataSetOpen();
    if (!IndexName.empty()) cursor->InternalSetIndexName(IndexName);
    return cursor;
}

Variant GetValue(const TOrqDataSet& Cursor, const std::string& Field) {
    Variant value;
    Cursor.DataSetGetFieldDataAsVariant(Cursor.GetFieldNo(Field), value);
    return value;
}

void SetValue(TOrqDataSet& Cursor, const std::string& Field, const Variant& Value) {
    Cursor.DataSetSetFieldDataAsVariant(Cursor.GetFieldNo(Field), Value);
}

void Insert(TOrqDataSet& Cursor, const std::vector<std::pair<std::string, Variant>>& Values, bool UseAutoInc) {
    Cursor.InitializeNewRecord(Cursor.RecordBuffer(), false);
    for (const auto& [field, value] : Values) SetValue(Cursor, field, value);
    Cursor.AddRecord(UseAutoInc);
}

std::vector<Variant> Walk(TOrqDataSet& Cursor, const std::string& Field, bool Forward) {
    std::vector<Variant> values;
    for (bool more = Forward ? Cursor.DataSetFirst() : Cursor.DataSetLast(); more;
         more = Forward ? Cursor.DataSetNext() : Cursor.DataSetPrior())
        values.push_back(GetValue(Cursor, Field));
    return values;
}

std::vector<Variant> Ints(const std::vector<int>& Values) {
    std::vector<Variant> result;
    for (int value : Values) result.emplace_back(value);
    return result;
}

}  // namespace ostra::componentstest
