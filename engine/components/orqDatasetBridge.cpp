// orqDatasetBridge: TOrqDatasetBridge, the cursor of a single-table join provider
// (orqJoinDataProviderUnit.h): its moves, raw column reads, the rows it reaches for a join's
// hash, its join index range and the filter a join hands it.
#include <algorithm>
#include <functional>

#include "engine/components/orqFilterMgr.h"
#include "engine/components/orqJoinDataProviderUnit.h"
#include "engine/components/orqJoinKey.h"
#include "engine/sql/orqFilterEvaluator.h"
#include "engine/storage/orqCompoundList.h"
#include "host/Streams.h"

namespace ostra {

namespace {

// A table read lock for the life of the object, taken only when the cursor holds none.
class TBridgeReadLock {
public:
    explicit TBridgeReadLock(TOrqDataSet& Cursor) : FCursor(Cursor) {
        if (!Cursor.TableLocked()) FTook = Cursor.ReadLockTable();
    }
    ~TBridgeReadLock() {
        if (!FTook) return;
        try {
            FCursor.UnlockTable();
        } catch (...) {
        }
    }
    TBridgeReadLock(const TBridgeReadLock&) = delete;
    TBridgeReadLock& operator=(const TBridgeReadLock&) = delete;

private:
    TOrqDataSet& FCursor;
    bool FTook = false;
};

}  // namespace

void TJoinKeyList::Clear() {
    Addresses.clear();
    Ends.clear();
    Bytes.clear();
    MaxKeySize = 0;
}

TOrqDatasetBridge::TOrqDatasetBridge() : TOrqBaseTable(nullptr) {}

TOrqDatasetBridge::~TOrqDatasetBridge() = default;

void TOrqDatasetBridge::OpenBridge() {
    if (Active()) return;
    Open();
    FOpenedIndexName = IndexName();
}

void TOrqDatasetBridge::PrepareForReuse() {
    ClearBridgeIndexRange();
    ClearJoinSelectExpr();
    // Also drops rows read ahead and the tree cursors' positions: the next move reads afresh.
    if (!FOpenedIndexName.empty()) InternalSetIndexName(FOpenedIndexName);
    FBaseFilterText.clear();
}

bool TOrqDatasetBridge::Moved(bool Found) {
    FAtEnd = !Found;
    return Found;
}

bool TOrqDatasetBridge::FirstBridgeRecord() { return Moved(InternalActive() && DataSetFirst()); }

bool TOrqDatasetBridge::NextBridgeRecord() {
    if (FAtEnd || !InternalActive()) return false;
    return Moved(DataSetNext());
}

bool TOrqDatasetBridge::LastBridgeRecord() { return Moved(InternalActive() && DataSetLast()); }

Variant TOrqDatasetBridge::GetFieldDataAsVariant(int FieldNo) {
    if (IsFieldTextBlob(FieldNo)) {
        TStringStream stream;
        bool isNull = true;
        DataSetGetFieldStream(FieldNo, isNull, stream);
        return isNull ? Null() : Variant(stream.DataString());
    }
    Variant value;
    DataSetGetFieldDataFromRecBufAsVariant(RecordBuffer(), FieldNo, value);
    return value;
}

void TOrqDatasetBridge::GetRawFieldData(int FieldNo, TDataHolder& Holder) {
    if (IsFieldBlob(FieldNo)) {
        TMemoryStream& stream = Holder.Stream();
        stream.Clear();
        bool isNull = true;
        DataSetGetFieldStream(FieldNo, isNull, stream);
        Holder.IsNull = isNull;
        Holder.Length = int32_t(stream.Size());
        Holder.Data = nullptr;
        Holder.UsesStream = true;
        stream.SetPosition(0);
        return;
    }
    bool isNull = true;
    const uint8_t* data = nullptr;
    int length = 0;
    DataSetGetFieldDataByReferenceFromRecBuf(FieldNo, isNull, data, length);
    Holder.IsNull = isNull;
    Holder.Data = data;
    Holder.Length = length;
    Holder.UsesStream = false;
}

uint32_t TOrqDatasetBridge::GetRecAddr() const {
    return InternalActive() && !FAtEnd ? DatasetGetRecAddr() : 0;
}

uint32_t TOrqDatasetBridge::GetRecModFlag() const { return DataSetGetRecordModFlag(); }

int TOrqDatasetBridge::GetTotalBridgeRecordCount() { return InternalActive() ? GetTotalRecordCount() : 0; }

int TOrqDatasetBridge::GetBridgeRecordCount() { return InternalActive() ? GetCurrentRecordCount() : 0; }

bool TOrqDatasetBridge::MoveToRecAddr(uint32_t Addr) {
    if (!InternalActive() || Addr == 0) return Moved(false);
    DataSetSetToUnorderedRecord(Addr);
    return Moved(InternalCheckRecordValid(RecordBuffer()));
}

bool TOrqDatasetBridge::MoveToRecAddrAndValidate(uint32_t Addr, uint32_t Flags) {
    return Moved(DataSetSetToFlags(Addr, Flags));
}

void TOrqDatasetBridge::VisitReachableRecords(const std::function<void(uint32_t, const uint8_t*)>& Visit,
                                              bool& FilterActive) {
    FilterActive = FilterMgr().Active();
    TBridgeReadLock lock(*this);
    std::vector<uint32_t> addresses;
    if (FilterActive) {
        if (const TCompoundList* filtered = FilterMgr().GetCurrentFilterList()) addresses = filtered->List1();
    } else if (!RangeOn()) {
        // Every record of the table: the storage-order walk reads the record blocks in turn.
        TRecordMgr& records = RecordMgr();
        std::vector<uint8_t> buffer(size_t(RecordBufferSize()), 0);
        records.StartStorageOrderWalk();
        for (uint32_t address = 0; records.NextInStorageOrder(address, buffer.data());) Visit(address, buffer.data());
        InvalidateTreeCursors();
        return;
    } else {
        TCompoundList records;
        InternalPrepareMasterRecordList(records);
        addresses = records.List1();
    }
    // Addresses in storage order read the record blocks in turn.
    std::sort(addresses.begin(), addresses.end());
    for (uint32_t address : addresses) {
        uint8_t* record = nullptr;
        RecordMgr().ReadRecordByRef(address, record);
        Visit(address, record);
    }
    InvalidateTreeCursors();
}

void TOrqDatasetBridge::GetReachableRecords(std::vector<uint32_t>& List, bool& FilterActive) {
    List.clear();
    VisitReachableRecords([&List](uint32_t Address, const uint8_t*) { List.push_back(Address); }, FilterActive);
    std::sort(List.begin(), List.end());
}

void TOrqDatasetBridge::LoadJoinKeys(int FieldNo, TJoinKeyList& Keys, std::vector<uint32_t>& List,
                                     bool& FilterActive) {
    const TFieldType type = GetInternalFields().GetField(FieldNo)->DataType();
    std::string key;
    Keys.Clear();
    List.clear();
    VisitReachableRecords(
        [&](uint32_t Address, const uint8_t* Record) {
            List.push_back(Address);
            bool isNull = true;
            const uint8_t* data = nullptr;
            int length = 0;
            DataSetGetFieldDataByReference(Record, FieldNo, isNull, data, length);
            if (isNull || !BuildJoinKey(type, data, length, key)) return;
            Keys.Addresses.push_back(Address);
            Keys.Bytes += key;
            Keys.Ends.push_back(uint32_t(Keys.Bytes.size()));
            Keys.MaxKeySize = std::max(Keys.MaxKeySize, int(key.size()));
        },
        FilterActive);
    if (FilterActive)
        std::sort(List.begin(), List.end());
    else
        List.clear();
}

bool TOrqDatasetBridge::GetIndexKeyBounds(const std::string& IndexName, int FieldNo, Variant& Low, Variant& High) {
    // The index's own ends, whatever filter the cursor has: key searches and steps of the index.
    // The cursor keeps its order: the index it walks by is set again afterwards.
    const std::string walked = this->IndexName();
    InternalSetIndexName(IndexName);
    FAtEnd = true;
    uint8_t* buffer = RecordBuffer();
    bool found = false;
    {
        TBridgeReadLock lock(*this);
        SetKeyFlagsToBOF(buffer);
        found = InternalFind(stGE, IndexName, nullptr);
        while (found && GetIsFieldNullFromRecBuf(buffer, FieldNo)) found = DataSetInternalNext();
        if (found) {
            DataSetGetFieldDataFromRecBufAsVariant(buffer, FieldNo, Low);
            SetKeyFlagsToEOF(buffer);
            found = InternalFind(stLE, IndexName, nullptr);
            while (found && GetIsFieldNullFromRecBuf(buffer, FieldNo)) found = DataSetInternalPrior();
            if (found) DataSetGetFieldDataFromRecBufAsVariant(buffer, FieldNo, High);
        }
    }
    InternalSetIndexName(walked);
    return found;
}

void TOrqDatasetBridge::SetBridgeIndexRange(const std::string& IndexName, const Variant& Low, const Variant& High) {
    InternalSetIndexName(IndexName);
    InternalSetRange({Low}, {High});
    FAtEnd = true;
}

void TOrqDatasetBridge::ClearBridgeIndexRange() {
    if (InternalActive() && RangeOn()) DataSetClearRange();
    FAtEnd = true;
}

void TOrqDatasetBridge::SetJoinSelectExprRoot(TOrqFilterExprDriver& Driver) {
    AssignFilterExpr(Driver);
    FAtEnd = true;
}

void TOrqDatasetBridge::ClearJoinSelectExpr() {
    if (FilterMgr().Active()) FilterMgr().CloseFilter();
    FAtEnd = true;
}

}  // namespace ostra
