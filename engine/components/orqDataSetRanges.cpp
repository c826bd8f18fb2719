// orqDataSetRanges: the cursor's range (the records of the current index between a start key and
// an end key), the cached record numbers of its two ends, the record lists that filters, joins and
// set deletions work on, and the cursor's side of dataset filters.
//
// Each range end has a record buffer (the bound's values; a null flag 2 or 4 leaves a field
// unbounded), a key built from it for the current index, a key-marker list and a cache of the
// address and record number of the record at that end. The range is valid when its start key
// does not sort after its end key; an invalid range is on but admits nothing.
#include <algorithm>
#include <cstring>

#include "engine/components/orqDataSet.h"
#include "engine/components/orqDataSetScopes.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqCompoundList.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqHash.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Lists.h"
#include "host/Collation.h"
#include "host/StringList.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// Ranges

void TOrqDataSet::InitializeRangeBuffers(TRangeMode Mode) {
    std::vector<uint8_t>& buffer = FRangeRecBuf[Mode];
    if (buffer.empty()) return;
    const uint8_t marker = Mode == rmRangeStart ? C_FIELDLOWEST : C_FIELDHIGHEST;
    const TInternalFields& layout = FRecordMgr->Fields();
    for (int i = 0; i < layout.Count(); ++i) buffer[size_t(layout.GetIndex(i)->NullFlagOffset())] = marker;
}

uint8_t* TOrqDataSet::GetRangeRecBuf(TRangeMode Mode) const {
    return FRangeRecBuf[Mode].empty() ? nullptr : const_cast<uint8_t*>(FRangeRecBuf[Mode].data());
}

void TOrqDataSet::SetRangeOn(bool Value) {
    CheckInternalActive();
    if (Value) {
        TIndexItem& current = CurrentIndex("TOrqDataSet.SetRangeOn");
        for (int mode = rmRangeStart; mode <= rmRangeEnd; ++mode) {
            // The hidden key field is unbounded: lowest at the start, highest at the end.
            FRangeMarkers[mode] = BuildKeyMarkerList(*current.KeyFields(), FRangeRecBuf[mode].data(),
                                                     mode == rmRangeStart ? C_FIELDLOWEST : C_FIELDHIGHEST);
            std::fill(FRangeKeyBuf[mode].begin(), FRangeKeyBuf[mode].end(), 0);
            current.CreateTempKeyBuffer(FRangeRecBuf[mode].data(), FRangeKeyBuf[mode].data(), &FRangeMarkers[mode]);
        }
        FRangeValid = current.CompareKeyBuffers(FRangeKeyBuf[rmRangeStart].data(), FRangeKeyBuf[rmRangeEnd].data(),
                                                &FRangeMarkers[rmRangeStart], &FRangeMarkers[rmRangeEnd]) <= 0;
    } else {
        DataSetClearRange();
    }
    FRangeOn = Value;
    FRangeCached[0] = FRangeCached[1] = false;
    if (FFilterMgr->Active()) FFilterMgr->ResetFilter();
    InvalidateReadAhead(false);
}

void TOrqDataSet::DataSetClearRange() {
    FRangeOn = FRangeValid = false;
    InitializeRangeBuffers(rmRangeStart);
    InitializeRangeBuffers(rmRangeEnd);
}

bool TOrqDataSet::CheckKeyBufInRange(const uint8_t* KeyBuf, TRangeMode Mode) {
    const int result =
        FCurrentIndex->CompareKeyBuffers(FRangeKeyBuf[Mode].data(), KeyBuf, &FRangeMarkers[Mode], nullptr);
    return Mode == rmRangeStart ? result <= 0 : result >= 0;
}

bool TOrqDataSet::MoveToRangeEnd(TRangeMode Mode) {
    CheckInternalActive();
    TIndexItem& current = CurrentIndex("TOrqDataSet.MoveToRangeEnd");
    TReadLockScope lock(*this);
    FTreeCursorsStale = true;
    current.CopyKeyBuffer(FRangeKeyBuf[Mode].data(), &FRangeMarkers[Mode]);
    if (current.FullIndexSearch(Mode == rmRangeStart ? stGE : stLE) != 0) return false;
    const uint32_t address = current.GetRecordAddress();
    if (address == 0) return false;
    ReadRecordAt(address, FRecBuf.data(), true);
    const int32_t recNo = current.GetRecordNo();
    SetTrailer(FRecBuf.data(), address, recNo);
    FBufferState = 1;
    FTreeCursorsStale = false;
    SetTrailer(FRangeRecBuf[Mode].data(), address, recNo);
    FRangeCached[Mode] = true;
    return true;
}

int TOrqDataSet::GetRangeEndRecNo(TRangeMode Mode) {
    if (!FRangeOn || !FRangeValid) return 0;
    if (FRangeCached[Mode]) return TrailerRecNo(FRangeRecBuf[Mode].data());
    TIndexItem& current = CurrentIndex("TOrqDataSet.GetRangeEndRecNo");
    TReadLockScope lock(*this);
    int32_t recNo = 0;
    FTreeCursorsStale = true;
    current.CopyKeyBuffer(FRangeKeyBuf[Mode].data(), &FRangeMarkers[Mode]);
    if (current.FullIndexSearch(Mode == rmRangeStart ? stGE : stLE) == 0) {
        const uint32_t address = current.GetRecordAddress();
        if (address != 0) {
            recNo = current.GetRecordNo();
            SetTrailer(FRangeRecBuf[Mode].data(), address, recNo);
            FRangeCached[Mode] = true;
        }
    }
    // The search moved the index: back to the cursor's own record.
    InternalFind(stEQ, FIndexName, nullptr);
    return recNo;
}

bool TOrqDataSet::ValidateRecBufPostDataChange() {
    if (!FRangeOn || !FRangeValid) return true;
    const uint8_t* key = FCurrentIndex->GetCurrentKeyBuf();
    if (!CheckKeyBufInRange(key, rmRangeStart)) {
        MoveToRangeEnd(rmRangeStart);
        return false;
    }
    if (!CheckKeyBufInRange(key, rmRangeEnd)) {
        MoveToRangeEnd(rmRangeEnd);
        return false;
    }
    return true;
}

void TOrqDataSet::SetNullIndexFieldsToRangeEnd(uint8_t* Buf, const std::string& IndexName, TRangeMode Mode,
                                               const TStrings* FieldNames) {
    const TIndexItem* index = FIndexMgr->FindIndex(IndexName);
    if (!index) return;
    const uint8_t marker = Mode == rmRangeStart ? C_FIELDLOWEST : C_FIELDHIGHEST;
    const TKeyFields& keys = *index->KeyFields();
    for (int k = 0; k < keys.Count(); ++k) {
        const TKeyFieldItem& key = *keys.GetIndex(k);
        if (key.PhysicalFieldNo() < 0 || Buf[key.NullFlagOffset()] != C_FIELDISNULL) continue;
        bool named = false;
        if (FieldNames)
            for (int i = 0; i < FieldNames->Count() && !named; ++i)
                named = AnsiCompareText(FieldNames->Strings(i), key.FieldName()) == 0;
        if (!named) Buf[key.NullFlagOffset()] = marker;
    }
    Store32(Buf + FRecordSize + C_TRAILERMARKEROFFSET, marker);
}

// ---------------------------------------------------------------------------------------------
// Record lists

int TOrqDataSet::InternalPrepareMasterRecordList(TCompoundList& List) {
    CheckInternalActive();
    TIndexItem& current = CurrentIndex("TOrqDataSet.InternalPrepareMasterRecordList");
    uint32_t endAddress = 0;
    bool started = false;
    if (FRangeOn) {
        if (FRangeValid) {
            current.CopyKeyBuffer(FRangeKeyBuf[rmRangeEnd].data(), &FRangeMarkers[rmRangeEnd]);
            if (current.FullIndexSearch(stLE) == 0) {
                endAddress = current.GetRecordAddress();
                current.CopyKeyBuffer(FRangeKeyBuf[rmRangeStart].data(), &FRangeMarkers[rmRangeStart]);
                started = current.FullIndexSearch(stGE) == 0 &&
                          CheckKeyBufInRange(current.GetCurrentKeyBuf(), rmRangeEnd);
            }
        }
    } else {
        std::vector<uint8_t> scratch(size_t(FRecBufSize), 0);
        SetKeyFlagsToBOF(scratch.data());
        started = InternalSearchOnly(scratch.data(), stGE, FIndexName, nullptr) == 0;
    }
    FTreeCursorsStale = true;
    if (!started) return 0;
    const int base = current.GetRecordNo();
    bool flag = false;
    current.ListMatchingRecords(nullptr, 0, endAddress, stGE, true, List, flag);
    return base;
}

void TOrqDataSet::LoadCompleteListOfRecords(TList& List) {
    CheckInternalActive();
    TReadLockScope lock(*this);
    TCompoundList records;
    InternalPrepareMasterRecordList(records);
    List.SetCapacity(List.Count() + records.Count());
    for (uint32_t address : records.List1()) List.Add(reinterpret_cast<void*>(uintptr_t(address)));
}

void TOrqDataSet::LoadHashListOfRecords(TOrqBaseHash& Hash, TList* List, bool OuterJoin) {
    CheckInternalActive();
    const TInternalFieldItem* field = FRecordMgr->Fields().FindField(Hash.SourceFieldName());
    if (!field) throw EAssertionFailed("Field not found in LoadHashListOfRecords: " + Hash.SourceFieldName());
    const int fieldNo = field->FieldIndex();
    // Adds the field's non-null value of every record of Addresses (sorted first) to the hash.
    auto addRecords = [this, &Hash, fieldNo](std::vector<uint32_t> Addresses) {
        std::sort(Addresses.begin(), Addresses.end());
        for (uint32_t address : Addresses) {
            uint8_t* record = nullptr;
            FRecordMgr->ReadRecordByRef(address, record);
            bool isNull = true;
            const uint8_t* data = nullptr;
            int length = 0;
            DataSetGetFieldDataByReference(record, fieldNo, isNull, data, length);
            if (!isNull) Hash.Add(reinterpret_cast<const char*>(data), length, address);
        }
    };

    if (FFilterMgr->Active() && List) {
        List->Clear();
        std::vector<uint32_t> addresses;
        if (const TCompoundList* filtered = FFilterMgr->GetCurrentFilterList()) addresses = filtered->List1();
        for (uint32_t address : addresses) List->Add(reinterpret_cast<void*>(uintptr_t(address)));
        if (!OuterJoin) {
            addRecords(addresses);
            return;
        }
    }
    // An index with the field among its key fields fills the hash from its keys.
    const TIndexItem* index = nullptr;
    int keyPosition = -1;
    auto keyPositionIn = [field](const TIndexItem& Item) {
        const TKeyFields& keys = *Item.KeyFields();
        for (int k = 0; k < keys.Count(); ++k)
            if (keys.GetIndex(k)->PhysicalFieldNo() == field->FieldIndex()) return k;
        return -1;
    };
    if (FCurrentIndex && (keyPosition = keyPositionIn(*FCurrentIndex)) >= 0) index = FCurrentIndex;
    for (int i = 0; i < FIndexMgr->Count() && !index; ++i)
        if ((keyPosition = keyPositionIn(*FIndexMgr->GetItems(i))) >= 0) index = FIndexMgr->GetItems(i);
    if (index) {
        SetKeyFlagsToBOF(RecordBuffer());
        if (InternalSearchOnly(RecordBuffer(), stGE, index->IndexName(), nullptr) == 0)
            FIndexMgr->FindIndex(index->IndexName())->FillHashTable(keyPosition, Hash);
        FTreeCursorsStale = true;
        return;
    }
    TCompoundList records;
    InternalPrepareMasterRecordList(records);
    addRecords(records.List1());
}

// ---------------------------------------------------------------------------------------------
// Filter hooks

void TOrqDataSet::InternalSetFilter() {
    const bool wanted = !Filter().empty() || static_cast<bool>(OnFilterRecord());
    if (FFilterMgr->Active() &&
        !(FFilterMgr->FilterText() == Filter() && FFilterMgr->FilterOptions() == FilterOptions() && wanted))
        FFilterMgr->CloseFilter();
    if (!wanted) return;
    if (FFilterMgr->Active()) {
        FFilterMgr->RefreshDataProvider();
        return;
    }
    FFilterMgr->SetFilterText(Filter());
    FFilterMgr->SetFilterOptions(FilterOptions());
    if (!FFilterMgr->OpenFilter(*this))
        OrqDatabaseError(10051, "TOrqDataSet.InternalSetFilter", FFilterMgr->ErrorText(), this);
}

void TOrqDataSet::InternalClearFilter() {
    FFilterMgr->SetQueryActive(FDataBase ? FDataBase->QueryActive() : false);
    FFilterMgr->CloseFilter();
}

bool TOrqDataSet::PassFilterEvent(uint32_t Address) {
    if (!FFilterHandler) return true;
    ReadRecordAt(Address, FFilterBuf.data(), false);
    return FFilterHandler(FFilterBuf.data());
}

}  // namespace ostra
