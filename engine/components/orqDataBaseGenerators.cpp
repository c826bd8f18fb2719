// orqDataBaseGenerators: named counters, one row each of the generator table (name, value to
// hand out next, step, value at creation). Every change of a row, and every value handed out,
// happens under the generator table's write lock, read and written in one step: two connections
// never draw the same value.
#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataBaseScopes.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

constexpr char CNameField[] = "GeneratorName";
constexpr char CValueField[] = "GeneratorValue";
constexpr char CStepField[] = "GeneratorStep";
constexpr char CResetField[] = "GeneratorResetValue";
// The value and step of a generator the engine creates on first use.
constexpr int32_t CFirstStoredValue = 2;
constexpr int32_t CFirstStep = 1;

int32_t IntegerField(const TOrqDataSet& Table, const char* Field) {
    Variant value;
    Table.DataSetGetFieldDataAsVariant(Table.GetFieldNo(Field), value);
    return VarIsNull(value) ? 0 : value.AsInteger();
}

void SetField(TOrqDataSet& Table, const char* Field, const Variant& Value) {
    Table.DataSetSetFieldDataAsVariant(Table.GetFieldNo(Field), Value);
}

}  // namespace

void TOrqDataBase::CheckMinorVersion(int N) const {
    if (N > FMinorVersion)
        OrqDatabaseError(12041, "TOrqDataBase.CheckMinorVersion", SorqFileVersionDoesNotSupportOperation + IntToStr(N),
                         const_cast<TOrqDataBase*>(this));
}

TOrqDataSet& TOrqDataBase::GeneratorTable() {
    CheckConnected(false);
    CheckMinorVersion(2);
    if (!FGeneratorTable) OrqDatabaseError(8579, "TOrqDataBase.GeneratorTable", C_GENERATORTABLE, this);
    return *FGeneratorTable;
}

bool TOrqDataBase::FindGenerator(const std::string& Name) {
    TOrqDataSet& table = GeneratorTable();
    // No stored name is longer than the field.
    if (Name.empty() || int(Name.size()) > C_MAXGENERATORNAMELENGTH) return false;
    table.ClearRecord(nullptr);
    SetField(table, CNameField, Variant(Name));
    return table.Find(stEQ, table.IndexName(), nullptr);
}

int32_t TOrqDataBase::IncrementGenerator() {
    TOrqDataSet& table = *FGeneratorTable;
    const int32_t value = IntegerField(table, CValueField);
    SetField(table, CValueField, Variant(int32_t(uint32_t(value) + uint32_t(IntegerField(table, CStepField)))));
    table.UpdateRecord();
    return value;
}

namespace {

void InsertGenerator(TOrqDataSet& Table, const std::string& Name, int32_t Value, int32_t Step) {
    Table.InitializeNewRecord(Table.RecordBuffer(), false);
    SetField(Table, CNameField, Variant(Name));
    SetField(Table, CValueField, Variant(Value));
    SetField(Table, CResetField, Variant(Value));
    SetField(Table, CStepField, Variant(Step));
    Table.AddRecord(false);
}

}  // namespace

void TOrqDataBase::CreateGenerator(const std::string& Name, int32_t Value, int32_t Step) {
    static constexpr const char* Caller = "TOrqDataBase.CreateGenerator";
    TOrqDataSet& table = GeneratorTable();
    UnderTableLock(table, true, [&] {
        if (FindGenerator(Name)) OrqDatabaseError(8580, Caller, Name, this);
        if (int(Name.size()) > C_MAXGENERATORNAMELENGTH)
            OrqDatabaseErrorFmt(9605, Caller, SorqStringInvalidFmt, {Name, 1, C_MAXGENERATORNAMELENGTH}, this);
        if (Name.empty() || Name[0] == '$') OrqDatabaseErrorFmt(10125, Caller, SorqGeneratorNameFmt, {Name}, this);
        InsertGenerator(table, Name, Value, Step);
    });
}

void TOrqDataBase::DeleteGenerator(const std::string& Name) {
    TOrqDataSet& table = GeneratorTable();
    UnderTableLock(table, true, [&] {
        if (FindGenerator(Name)) table.DeleteRecord(nullptr);
    });
}

int32_t TOrqDataBase::GetGeneratorValue(const std::string& Name, bool PeekOnly) {
    static constexpr const char* Caller = "TOrqDataBase.GetGeneratorValue";
    TOrqDataSet& table = GeneratorTable();
    if (PeekOnly) {
        if (!FindGenerator(Name)) OrqDatabaseError(8579, Caller, Name, this);
        return IntegerField(table, CValueField);
    }
    return UnderTableLock(table, true, [&] {
        if (!FindGenerator(Name)) OrqDatabaseError(8579, Caller, Name, this);
        return IncrementGenerator();
    });
}

int32_t TOrqDataBase::InternalGetGenerator(const std::string& Name, bool CreateIfMissing) {
    TOrqDataSet& table = GeneratorTable();
    return UnderTableLock(table, true, [&] {
        if (FindGenerator(Name)) return IncrementGenerator();
        if (!CreateIfMissing) OrqDatabaseError(8579, "TOrqDataBase.InternalGetGenerator", Name, this);
        InsertGenerator(table, Name, CFirstStoredValue, CFirstStep);
        return CFirstStoredValue - CFirstStep;
    });
}

bool TOrqDataBase::QueryGenerator(const std::string& Name, int32_t& Value, int32_t& Step) {
    TOrqDataSet& table = GeneratorTable();
    if (!FindGenerator(Name)) return false;
    Value = IntegerField(table, CValueField);
    Step = IntegerField(table, CStepField);
    return true;
}

void TOrqDataBase::GetGeneratorNames(TStrings* List) {
    TOrqDataSet& table = GeneratorTable();
    List->Clear();
    UnderTableLock(table, false, [&] {
        for (bool more = table.DataSetFirst(); more; more = table.DataSetNext()) {
            Variant name;
            table.DataSetGetFieldDataAsVariant(table.GetFieldNo(CNameField), name);
            const std::string text = VarToStr(name);
            if (!text.empty() && text[0] != '$') List->Add(text);
        }
    });
}

}  // namespace ostra
