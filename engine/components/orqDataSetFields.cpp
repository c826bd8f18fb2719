// orqDataSetFields: single field values of cursor buffers (raw, by reference, as variants), blob
// values as streams, and the description of the cursor's fields and indexes for the framework.
//
// A field is addressed by its FieldIndex in the record layout (its "field number", from 0).
// Values are read and written in the stored form of orqRecordLayout.h; a value never runs past
// its field: a length above the field's writeable size is refused before anything is written.
#include <algorithm>
#include <cstring>

#include "engine/components/orqDataSet.h"
#include "engine/components/orqDataSetScopes.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/DateTime.h"
#include "host/Collation.h"
#include "host/StringList.h"
#include "host/db/CustomConnection.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// Field description

int TOrqDataSet::GetInternalFieldCount() const {
    return FInternalActive ? FRecordMgr->Fields().Count() : FTableDef->InternalFields()->Count();
}

TInternalFields& TOrqDataSet::GetInternalFields() const {
    CheckInternalActive();
    return FRecordMgr->Fields();
}

int TOrqDataSet::GetFieldNo(const std::string& Name) const {
    const TInternalFields& layout = FInternalActive ? FRecordMgr->Fields() : *FTableDef->InternalFields();
    const TInternalFieldItem* field = layout.FindField(Name);
    return field ? field->FieldIndex() : -1;
}

int TOrqDataSet::GetFieldDataOffset(int FieldNo) const { return Field(FieldNo).DataOffset(); }

int TOrqDataSet::GetFieldNullOffset(int FieldNo) const { return Field(FieldNo).NullFlagOffset(); }

int TOrqDataSet::GetFieldLength(int FieldNo) const {
    CheckInternalActive();
    return InternalGetFieldLength(FieldNo, FRecBuf.data());
}

int TOrqDataSet::InternalGetFieldLength(int FieldNo, const uint8_t* Buf) const {
    const TInternalFieldItem& field = Field(FieldNo);
    const bool hasValue = Buf[field.NullFlagOffset()] != C_FIELDISNULL;
    if (IsBlobFieldType(field.DataType())) return hasValue ? int(Load32(Buf + field.DataOffset() + 4)) : 0;
    if (!field.IsVariable()) return field.FieldSize();
    if (field.SizeMarkerOffset() < 1)
        OrqDatabaseError(10000, "TOrqDataSet.InternalGetFieldLength", FieldTypeName(field.DataType()),
                         const_cast<TOrqDataSet*>(this));
    // A stored marker longer than the field is read as the whole field.
    return hasValue ? std::min<int>(Load16(Buf + field.SizeMarkerOffset()), field.FieldSize()) : 0;
}

void TOrqDataSet::GetFieldDef(int FieldNo, TFieldDef& FieldDef) const {
    const TInternalFieldItem& field = Field(FieldNo);
    FieldDef.SetDataType(field.DataType());
    FieldDef.SetName(field.FieldName());
    FieldDef.SetRequired(field.Required());
    if (field.IsVariable())
        FieldDef.SetSize(field.GetWriteableFieldSize());
    else if (field.DataType() == ftBytes)
        FieldDef.SetSize(field.FieldSize());
}

bool TOrqDataSet::IsFieldBlob(int FieldNo) const { return IsBlobFieldType(Field(FieldNo).DataType()); }

bool TOrqDataSet::IsFieldTextBlob(int FieldNo) const {
    const TFieldType type = Field(FieldNo).DataType();
    return type == ftMemo || type == ftFmtMemo;
}

bool TOrqDataSet::GetIsFieldNullFromRecBuf(const uint8_t* Buf, int FieldNo) const {
    return Buf[Field(FieldNo).NullFlagOffset()] == C_FIELDISNULL;
}

// ---------------------------------------------------------------------------------------------
// Reading values

const TInternalFieldItem& TOrqDataSet::NonBlobField(int FieldNo, const char* Caller) const {
    const TInternalFieldItem& field = Field(FieldNo);
    if (IsBlobFieldType(field.DataType()))
        OrqDatabaseError(8581, Caller, "Unable to use this method to access blob fields. Field : " + std::to_string(FieldNo),
                         const_cast<TOrqDataSet*>(this));
    return field;
}

void TOrqDataSet::DataSetGetFieldDataFromRecBuf(int FieldNo, bool& IsNull, void* Dest, const uint8_t* Buf) const {
    const TInternalFieldItem& field = NonBlobField(FieldNo, "TOrqDataSet.DataSetGetFieldDataFromRecBuf");
    IsNull = Buf[field.NullFlagOffset()] == C_FIELDISNULL;
    if (!Dest || IsNull) return;
    const int length = InternalGetFieldLength(FieldNo, Buf);
    if (length < field.FieldSize()) std::memset(Dest, 0, size_t(field.FieldSize()));
    std::memcpy(Dest, Buf + field.DataOffset(), size_t(length));
}

void TOrqDataSet::DataSetGetFieldData(int FieldNo, bool& IsNull, void* Dest) const {
    CheckInternalActive();
    DataSetGetFieldDataFromRecBuf(FieldNo, IsNull, Dest, FRecBuf.data());
}

void TOrqDataSet::DataSetGetFieldDataByReference(const uint8_t* Buf, int FieldNo, bool& IsNull, const uint8_t*& Data,
                                                 int& Len) const {
    const TInternalFieldItem& field = NonBlobField(FieldNo, "TOrqDataSet.DataSetGetFieldDataByReference");
    IsNull = Buf[field.NullFlagOffset()] == C_FIELDISNULL;
    Data = IsNull ? nullptr : Buf + field.DataOffset();
    Len = IsNull ? 0 : InternalGetFieldLength(FieldNo, Buf);
}

void TOrqDataSet::DataSetGetFieldDataByReferenceFromRecBuf(int FieldNo, bool& IsNull, const uint8_t*& Data,
                                                           int& Len) const {
    CheckInternalActive();
    DataSetGetFieldDataByReference(FRecBuf.data(), FieldNo, IsNull, Data, Len);
}

void TOrqDataSet::DataSetGetFieldDataFromRecBufAsVariant(const uint8_t* Buf, int FieldNo, Variant& Value) const {
    Value = Null();
    const TInternalFieldItem& field = Field(FieldNo);
    const uint8_t* data = Buf + field.DataOffset();
    const bool isNull = Buf[field.NullFlagOffset()] == C_FIELDISNULL;
    double number = 0;
    switch (field.DataType()) {
        case ftString:
            if (!isNull) {
                const char* text = reinterpret_cast<const char*>(data);
                Value = std::string(text, strnlen(text, size_t(field.FieldSize())));
            }
            return;
        case ftSmallint:
            if (!isNull) Value = short(int16_t(Load16(data)));
            return;
        case ftWord:
            if (!isNull) Value = static_cast<unsigned short>(Load16(data));
            return;
        case ftInteger:
        case ftAutoInc:
            if (!isNull) Value = int(int32_t(Load32(data)));
            return;
        case ftBoolean:
            if (!isNull) Value = data[0] != 0;
            return;
        case ftFloat:
        case ftCurrency:
            if (!isNull) {
                std::memcpy(&number, data, sizeof number);
                Value = number;
            }
            return;
        case ftDate:
        case ftTime:
        case ftDateTime:
            if (!isNull) {
                std::memcpy(&number, data, sizeof number);
                Value = VarFromDateTime(number);
            }
            return;
        default:
            OrqDatabaseError(10000, "TOrqDataSet.DataSetGetFieldDataFromRecBufAsVariant", FieldTypeName(field.DataType()),
                             const_cast<TOrqDataSet*>(this));
    }
}

bool TOrqDataSet::GetFieldNumberFromRecBuf(const uint8_t* Buf, int FieldNo, double& Value) const {
    const TInternalFieldItem& field = Field(FieldNo);
    if (Buf[field.NullFlagOffset()] == C_FIELDISNULL) return false;
    const uint8_t* data = Buf + field.DataOffset();
    switch (field.DataType()) {
        case ftSmallint:
            Value = int16_t(Load16(data));
            return true;
        case ftWord:
            Value = Load16(data);
            return true;
        case ftInteger:
        case ftAutoInc:
            Value = int32_t(Load32(data));
            return true;
        case ftFloat:
        case ftCurrency:
            std::memcpy(&Value, data, sizeof Value);
            return true;
        default:
            return false;
    }
}

void TOrqDataSet::DataSetGetFieldDataAsVariant(int FieldNo, Variant& Value) const {
    CheckInternalActive();
    DataSetGetFieldDataFromRecBufAsVariant(FRecBuf.data(), FieldNo, Value);
}

// ---------------------------------------------------------------------------------------------
// Writing values

void TOrqDataSet::DataSetSetFieldData(int FieldNo, int Len, bool SetNull, const void* Data) {
    CheckInternalActive();
    CheckPrivilegePresent(Field(FieldNo).PrivilegeFlags(), C_PRIVUPDATE);
    DataSetSetFieldDataToRecBuf(FieldNo, Len, SetNull, FRecBuf.data(), Data);
    FBufferState = 2;
}

void TOrqDataSet::DataSetSetFieldDataToRecBuf(int FieldNo, int Len, bool SetNull, uint8_t* Buf, const void* Data) const {
    const TInternalFieldItem& field = Field(FieldNo);
    auto* self = const_cast<TOrqDataSet*>(this);
    if (IsBlobFieldType(field.DataType()))
        OrqDatabaseError(8581, "TOrqDataSet.DataSetSetFieldData", "Unable to use this method to access blob fields",
                         self);
    uint8_t* value = Buf + field.DataOffset();
    if (SetNull) {
        Buf[field.NullFlagOffset()] = C_FIELDISNULL;
        std::memset(value, 0, size_t(field.FieldSize()));
        return;
    }
    if (Len > field.GetWriteableFieldSize())
        OrqDatabaseError(8581, "TOrqDataSet.DataSetSetFieldData", "Field data length is out of range", self);
    int length = Len;
    if (field.SizeMarkerOffset() > 0) {
        CheckState(Len >= 0, "Invalid data length in set field");
        Store16(Buf + field.SizeMarkerOffset(), uint16_t(Len));
    } else if (Len < 0) {
        length = field.FieldSize();
    }
    Buf[field.NullFlagOffset()] = C_FIELDNOTNULL;
    if (length < field.FieldSize()) std::memset(value, 0, size_t(field.FieldSize()));
    if (length > 0) std::memcpy(value, Data, size_t(length));
}

void TOrqDataSet::DataSetSetFieldDataToRecBufAsVariant(uint8_t* Buf, int FieldNo, const Variant& Value) const {
    if (VarIsNull(Value)) {
        DataSetSetFieldDataToRecBuf(FieldNo, 0, true, Buf, nullptr);
        return;
    }
    const TInternalFieldItem& field = Field(FieldNo);
    uint8_t bytes[8] = {};
    switch (field.DataType()) {
        case ftString: {
            const std::string text = Value.AsString();
            DataSetSetFieldDataToRecBuf(FieldNo, int(text.size()), false, Buf, text.data());
            return;
        }
        // Integers keep their range: a value the field cannot hold raises the variant overflow.
        case ftSmallint: Store16(bytes, uint16_t(VarAsType(Value, varSmallint).AsInteger())); break;
        case ftWord: Store16(bytes, uint16_t(VarAsType(Value, varWord).AsInteger())); break;
        case ftInteger:
        case ftAutoInc: Store32(bytes, uint32_t(Value.AsInteger())); break;
        case ftBoolean: bytes[0] = Value.AsInteger() != 0 ? 1 : 0; break;
        case ftFloat:
        case ftCurrency:
        case ftDate:
        case ftTime:
        case ftDateTime: {
            const double number = Value.AsDouble();
            std::memcpy(bytes, &number, sizeof number);
            break;
        }
        default:
            OrqDatabaseError(10000, "TOrqDataSet.DataSetSetFieldDataToRecBufAsVariant", FieldTypeName(field.DataType()),
                             const_cast<TOrqDataSet*>(this));
    }
    DataSetSetFieldDataToRecBuf(FieldNo, DefaultFieldSize(field.DataType()), false, Buf, bytes);
}

void TOrqDataSet::DataSetSetFieldDataAsVariant(int FieldNo, const Variant& Value) {
    CheckInternalActive();
    DataSetSetFieldDataToRecBufAsVariant(FRecBuf.data(), FieldNo, Value);
    FBufferState = 2;
}

// ---------------------------------------------------------------------------------------------
// Blob streams

void TOrqDataSet::DataSetGetFieldStreamFromRecBuf(const uint8_t* Buf, int FieldNo, bool& IsNull, TStream& Stream) {
    CheckInternalActive();
    const TInternalFieldItem& field = Field(FieldNo);
    if (!IsBlobFieldType(field.DataType()))
        OrqDatabaseError(8581, "TOrqDataSet.DataSetGetFieldStreamFromRecBuf",
                         "Unable to use this method to access non-blob fields", this);
    TBlob* entry = FRecordMgr->BlobMgr().FindBlob(0, FieldNo);
    if (!entry)
        OrqDatabaseError(8581, "TOrqDataSet.DataSetGetFieldStreamFromRecBuf",
                         "Blob field can not be found " + std::to_string(FieldNo), this);
    if (entry->State() != bsInvalid) {
        // The value was changed in memory: that is the value.
        entry->Stream().SaveToStream(Stream);
        IsNull = entry->Stream().Size() == 0;
        return;
    }
    IsNull = Buf[field.NullFlagOffset()] == C_FIELDISNULL;
    if (IsNull) return;
    // The address and the length come from the file: a record that disagrees with its blob chain
    // is a damaged file (8963), and the length is not trusted to size anything before the chain
    // has been read.
    static constexpr char Caller[] = "TOrqDataSet.DataSetGetFieldStreamFromRecBuf";
    constexpr int32_t CBlobFileCorrupt = 8963;  // "Memo file corrupted"
    const uint32_t address = Load32(Buf + field.DataOffset());
    const uint32_t length = Load32(Buf + field.DataOffset() + 4);
    if (address == 0) OrqDatabaseError(CBlobFileCorrupt, Caller, "GetFieldStream. Blob address = 0", this);
    TReadLockScope lock(*this);
    if (auto* memory = dynamic_cast<TMemoryStream*>(&Stream)) {
        memory->SetSize(0);
        memory->SetPosition(0);
        if (FBlobInterface->ReadBlob(address, *memory) != int64_t(length))
            OrqDatabaseErrorFmt(CBlobFileCorrupt, Caller, "Blob at %u holds %d bytes, its record says %u",
                                {address, int64_t(memory->Size()), length}, this);
    } else {
        FBlobInterface->ReadBlob(address, Stream);
    }
}

void TOrqDataSet::DataSetGetFieldStream(int FieldNo, bool& IsNull, TStream& Stream) {
    CheckInternalActive();
    DataSetGetFieldStreamFromRecBuf(FRecBuf.data(), FieldNo, IsNull, Stream);
}

void TOrqDataSet::DataSetSetFieldStreamFromRecBuf(const uint8_t* Buf, int FieldNo, bool SetNull, TStream* Stream) {
    CheckInternalActive();
    const TInternalFieldItem& field = Field(FieldNo);
    // Writing a blob value is an insert for a new record and an update for a stored one.
    const bool editing = State() == dsEdit || (State() != dsInsert && TrailerAddress(Buf) != 0);
    CheckPrivilegePresent(field.PrivilegeFlags(), editing ? C_PRIVUPDATE : C_PRIVINSERT);
    if (!IsBlobFieldType(field.DataType()))
        OrqDatabaseError(10753, "TOrqDataSet.DataSetSetFieldStreamFromRecBuf", field.FieldName(), this);
    const bool stored = Buf[field.NullFlagOffset()] != C_FIELDISNULL && Load32(Buf + field.DataOffset()) != 0;
    TBlob* entry = FRecordMgr->BlobMgr().FindBlob(0, FieldNo);
    if (!entry) OrqDatabaseError(10753, "TOrqDataSet.DataSetSetFieldStreamFromRecBuf", field.FieldName(), this);
    if (!SetNull && Stream && Stream->Size() > 0) {
        entry->Stream().LoadFromStream(*Stream);
        entry->SetState(bsModified);
    } else if (stored || entry->State() == bsModified) {
        // Null or empty: a stored value, or one set in memory before, is to go.
        entry->Stream().Clear();
        entry->SetState(bsModified);
    }
}

void TOrqDataSet::DataSetSetFieldStream(int FieldNo, bool SetNull, TStream* Stream) {
    CheckInternalActive();
    DataSetSetFieldStreamFromRecBuf(FRecBuf.data(), FieldNo, SetNull, Stream);
}

// ---------------------------------------------------------------------------------------------
// Index metadata

int TOrqDataSet::InternalGetIndexCount() const { return FIndexMgr->VisibleIndexCount(); }

void TOrqDataSet::CheckIndexesPresent() const {
    if (FIndexMgr->VisibleIndexCount() == 0)
        OrqDatabaseError(9997, "TOrqDataSet.CheckIndexesPresent", "", const_cast<TOrqDataSet*>(this));
}

int TOrqDataSet::GetIndexFieldCount() const {
    if (!FInternalActive || !FCurrentIndex) return 0;
    const TKeyFields& keys = *FCurrentIndex->KeyFields();
    int count = 0;
    for (int k = 0; k < keys.Count(); ++k)
        if (keys.GetIndex(k)->PhysicalFieldNo() >= 0) ++count;
    return count;
}

void TOrqDataSet::GetIndexDef(int Index, TIndexDef& IndexDef) const {
    CheckState(Index >= 0 && Index < FIndexMgr->Count(), "Index item not found");
    const TIndexItem& item = *FIndexMgr->GetItems(Index);
    CheckState(!item.Hidden(), "Attempting to access a hidden index");
    std::string fields, caseIns, desc;
    auto append = [](std::string& List, const std::string& Name) { List += (List.empty() ? "" : ";") + Name; };
    const TKeyFields& keys = *item.KeyFields();
    for (int k = 0; k < keys.Count(); ++k) {
        const TKeyFieldItem& key = *keys.GetIndex(k);
        if (key.PhysicalFieldNo() < 0) continue;
        append(fields, key.FieldName());
        if (key.CaseInsensitive()) append(caseIns, key.FieldName());
        if (key.Descending()) append(desc, key.FieldName());
    }
    TIndexOptions options;
    if (item.Unique()) options.Include(ixUnique);
    if (item.Primary()) options.Include(ixPrimary);
    if (!caseIns.empty()) options.Include(ixCaseInsensitive);
    if (!desc.empty()) options.Include(ixDescending);
    IndexDef.SetName(item.IndexName());
    IndexDef.SetFields(fields);
    IndexDef.SetCaseInsFields(caseIns);
    IndexDef.SetDescFields(desc);
    IndexDef.SetOptions(options);
}

std::string TOrqDataSet::GetIndexFieldsFromKeyFields(const std::string& IndexName, const TKeyFields& KeyFields) const {
    std::string names;
    for (int k = 0; k < KeyFields.Count(); ++k) {
        const TKeyFieldItem& key = *KeyFields.GetIndex(k);
        if (AnsiCompareText(key.IndexName(), IndexName) != 0 || key.PhysicalFieldNo() < 0 || key.Hidden()) continue;
        names += (names.empty() ? "" : ";") + key.FieldName();
    }
    return names;
}

namespace {

// Calls Each(name, key fields) for every visible index of the cursor, or, at design time with a
// database, of the stored definition of its table (connecting the database for the call).
template <class TEach>
void ForEachVisibleIndex(TOrqDataSet& Cursor, const TEach& Each) {
    IOrqDataBase* database = Cursor.DataBase();
    if (!Cursor.ComponentState().Contains(csDesigning) || !database) {
        if (!Cursor.InternalActive()) return;
        TIndexManager& indexes = Cursor.IndexMgr();
        for (int i = 0; i < indexes.Count(); ++i)
            if (!indexes.GetItems(i)->Hidden())
                Each(indexes.GetItems(i)->IndexName(), *Cursor.TableDefinition().KeyFields());
        return;
    }
    TCustomConnection& connection = database->Connection();
    const bool connected = connection.Connected();
    if (!connected) connection.SetConnected(true);
    try {
        TTableDef def(nullptr);
        def.SetMemory(Cursor.Memory());
        database->InternalGetTableDef(Cursor.TableName(), &def);
        const TInternalIndexDefs& defs = *def.InternalIndexDefs();
        for (int i = 0; i < defs.Count(); ++i)
            if (!defs.GetItems(i)->Hidden()) Each(defs.GetItems(i)->IndexName(), *def.KeyFields());
    } catch (...) {
        if (!connected) connection.SetConnected(false);
        throw;
    }
    if (!connected) connection.SetConnected(false);
}

}  // namespace

void TOrqDataSet::GetIndexNames(TStrings& List) {
    ForEachVisibleIndex(*this, [&List](const std::string& Name, const TKeyFields&) { List.Add(Name); });
}

void TOrqDataSet::GetIndexFieldNamesList(TStrings& List) {
    ForEachVisibleIndex(*this, [this, &List](const std::string& Name, const TKeyFields& Keys) {
        List.Add(GetIndexFieldsFromKeyFields(Name, Keys));
    });
}

}  // namespace ostra
