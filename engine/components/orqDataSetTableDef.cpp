// orqDataSetTableDef: the cursor's table definition built from a requested structure (the
// framework's field and index definitions, or restructure requests), and table creation.
//
// Limits: table names 1 to 40 characters, field names at most 40; the empty name, "ALL" and
// ",ALL" name nothing; 1 to 255 fields; at most 32 indexes; String and Bytes fields of 2 to 256
// stored bytes (from framework definitions); key entries of at most 500 bytes. A table requested
// without indexes gets the hidden index "_LogicalRecNo", whose key is the logical record number.
#include <cstring>

#include "engine/components/orqDataSet.h"
#include "engine/components/orqDataSetScopes.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/SysUtils.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

namespace ostra {

namespace {

constexpr int CMaxNameLength = 40;
constexpr int CMaxFields = 255;
constexpr int CMaxIndexes = 32;
constexpr int CMinStoredSize = 2;
constexpr int CMaxStoredSize = 256;

}  // namespace

// One requested field or index, whichever form it was requested in.
struct TOrqDataSet::TRequestedField {
    std::string Name;
    TFieldType DataType;
    int Size;
    bool Required;
};

struct TOrqDataSet::TRequestedIndex {
    std::string Name;
    std::string Fields;
    std::string CaseInsFields;
    std::string DescFields;
    TIndexOptions Options;
};

std::string TableCheckValue(const std::string& Name, bool Encrypted) {
    if (!Encrypted || Name.empty()) return Name;
    std::string value(Name.size(), '\0');
    XORCryptBuf(Name.data(), value.data(), OrqWeakCryptKey, int(Name.size()), OrqWeakCryptKeyLength, 0);
    return value;
}

void TOrqDataSet::ValidateObjectName(const std::string& Name, const std::string& Kind) const {
    if (std::string(",,ALL,").find("," + UpperCase(Name) + ",") != std::string::npos)
        OrqDatabaseError(10041, "TOrqDataSet.ValidateObjectName", Kind + ": " + Name, const_cast<TOrqDataSet*>(this));
}

namespace {

// An entry of a collection of field or index definitions: the restructure requests' (GetItems)
// or the framework's (Items), which name their values alike.
template <class TDefs>
auto DefAt(const TDefs& Defs, int i, int) -> decltype(*Defs.GetItems(i)) {
    return *Defs.GetItems(i);
}
template <class TDefs>
auto DefAt(const TDefs& Defs, int i, long) -> decltype(*Defs.Items(i)) {
    return *Defs.Items(i);
}

}  // namespace

template <class TFieldList, class TIndexList>
void TOrqDataSet::BuildTableDefFrom(bool Memory, const TFieldList& FieldDefs, const TIndexList& IndexDefs,
                                    bool CheckNames, const char* KeySizeFmt, const char* Caller) {
    std::vector<TRequestedField> fields;
    for (int i = 0; i < FieldDefs.Count(); ++i) {
        const auto& def = DefAt(FieldDefs, i, 0);
        fields.push_back({def.Name(), def.DataType(), def.Size(), def.Required()});
    }
    std::vector<TRequestedIndex> indexes;
    for (int i = 0; i < IndexDefs.Count(); ++i) {
        const auto& def = DefAt(IndexDefs, i, 0);
        indexes.push_back({def.Name(), def.Fields(), def.CaseInsFields(), def.DescFields(), def.Options()});
    }
    BuildTableDef(Memory, fields, indexes, CheckNames, KeySizeFmt, Caller);
}

void TOrqDataSet::SetTableDef(bool Memory, const TFieldDefs& FieldDefs, const TIndexDefs& IndexDefs) {
    BuildTableDefFrom(Memory, FieldDefs, IndexDefs, true, SorqValueInvalidFmt, "TOrqDataSet.SetTableDef");
}

void TOrqDataSet::SetTableDefFromRSDefs(bool Memory, const TRestructureFieldDefs& FieldDefs,
                                        const TRestructureIndexDefs& IndexDefs) {
    BuildTableDefFrom(Memory, FieldDefs, IndexDefs, false, SorqIndexFmt, "TOrqDataSet.SetTableDefFromRSDefs");
}

void TOrqDataSet::BuildTableDef(bool Memory, const std::vector<TRequestedField>& Fields,
                                const std::vector<TRequestedIndex>& Indexes, bool CheckNames, const char* KeySizeFmt,
                                const char* Caller) {
    TTableDef& def = *FTableDef;
    def.Clear();
    def.SetMemory(Memory);
    def.SetTableName(FTableName);
    def.SetSortOrder(FSortOrder);
    def.SetDefaultBlobSize(FBlobBlockSize);
    def.SetBlobCompression(FBlobCompression);
    def.SetCreatedBy(FTableOwner);
    def.SetEncryptionLevel(FEncryptionLevel);
    def.SetEncrypted(FEncryptionLevel != encNone);
    def.SetAltName(TableCheckValue(FTableName, def.Encrypted()));

    if (FTableName.empty() || int(FTableName.size()) > CMaxNameLength)
        OrqDatabaseErrorFmt(10039, Caller, SorqStringInvalidFmt, {FTableName, 1, CMaxNameLength}, this);
    if (CheckNames) ValidateObjectName(FTableName, SorqTable);
    if (Fields.empty() || int(Fields.size()) > CMaxFields)
        OrqDatabaseErrorFmt(9492, Caller, SorqValueOutOfRangeFmt, {int(Fields.size()), 1, CMaxFields}, this);

    TInternalFields& layout = *def.InternalFields();
    for (size_t i = 0; i < Fields.size(); ++i) {
        const TRequestedField& request = Fields[i];
        if (CheckNames) ValidateObjectName(request.Name, SorqField);
        TInternalFieldItem& field = *layout.Add();
        field.SetDataType(request.DataType);
        field.SetFieldNo(int32_t(i));
        field.SetFieldIndex(int32_t(i));
        field.SetRequired(request.Required);
        if (field.FieldSize() == 0) field.SetFieldSize(request.Size);
        if (request.DataType == ftString) {
            field.SetFieldSize(field.FieldSize() + 1);
            field.SetIsVariable(true);
        }
        field.SetFieldName(request.Name);
        if (CheckNames && (request.DataType == ftString || request.DataType == ftBytes) &&
            (field.FieldSize() < CMinStoredSize || field.FieldSize() > CMaxStoredSize))
            OrqDatabaseErrorFmt(9606, Caller, SorqStringInvalidFmt, {request.Name, 1, CMaxStoredSize - 1}, this);
        if (int(request.Name.size()) > CMaxNameLength)
            OrqDatabaseErrorFmt(10038, Caller, SorqStringInvalidFmt, {request.Name, 1, CMaxNameLength}, this);
    }
    layout.SetDefaultOffsets();
    layout.Open();
    def.SetRecordSize(layout.RecordSize());
    def.SetUsesBlobs(layout.UsesBlobs());
    CheckState(def.RecordSize() >= 1, "Record size = 0");

    if (int(Indexes.size()) > CMaxIndexes)
        OrqDatabaseErrorFmt(9604, Caller, SorqMaxLimitFmt, {CMaxIndexes}, this);
    for (const TRequestedIndex& index : Indexes) {
        TIndexRequest request;
        request.IndexName = index.Name;
        request.Fields = index.Fields;
        request.CaseInsFields = index.CaseInsFields;
        request.DescFields = index.DescFields;
        request.Primary = index.Options.Contains(ixPrimary);
        request.Unique = index.Options.Contains(ixUnique);
        request.Descending = index.Options.Contains(ixDescending);
        request.CaseInsensitive = index.Options.Contains(ixCaseInsensitive);
        DeriveIndexDef(request, false, Memory, layout, *def.KeyFields(), *def.InternalIndexDefs(), KeySizeFmt, Caller,
                       this);
    }
    if (Indexes.empty()) {
        TIndexRequest request;
        request.IndexName = C_LOGICALRECNOINDEXNAME;
        DeriveIndexDef(request, true, Memory, layout, *def.KeyFields(), *def.InternalIndexDefs(), KeySizeFmt, Caller,
                       this);
    }
}

void TOrqDataSet::InternalCreateTable() {
    CheckConnected();
    CheckInternalInactive();
    // A user without the create privilege on every table creates none.
    if (!FDataBase->QueryObjectPrivilegeExists(doTable, C_AllObjectsName, C_PRIVCREATE))
        OrqDatabaseError(10624, "TOrqDataSet.InternalCreateTable", FTableName, this);
    FDataBase->CreateTable(FTableDef.get(), true);
}

}  // namespace ostra
