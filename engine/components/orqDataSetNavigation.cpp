// orqDataSetNavigation: the cursor's current index, moves, key searches, positioning on records
// and bookmarks, record numbers and counts, the refresh after changes, read-ahead and locating.
//
// Every move leaves the record it reached in the record buffer, with its address and its number
// in the current index in the trailer. A move that needs storage takes the table read lock for
// its duration unless the cursor holds a table lock.
//
// Read-ahead: a Next or Prior that has to search its key lists up to ReadAheadBufferSize entries of
// the current index's leaf from the record it found, in the direction of the walk, and reads their
// records, so that the following moves are served from memory. (A search that only positions the
// cursor reads no records ahead: the first step after it does.) The records are trusted for 10 seconds
// and dropped at once when a lock finds the table header changed. Inside a batch of the
// framework's fetches (read-ahead mode active) a move that must go to the index steps the tree
// cursor by record-number difference instead of searching its key from the root, as long as the
// tree cursor is still where the last search left it.
#include <algorithm>
#include <cstring>

#include "engine/components/orqDataSet.h"
#include "engine/components/orqDataSetScopes.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqLogger.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Collation.h"
#include "host/StringList.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// Current index and moves

void TOrqDataSet::InternalSetIndexName(const std::string& Name) {
    FIndexName = Name;
    FIndexMgr->SetCurrentIndexName(Name);
    FCurrentIndex = FIndexMgr->FindIndex(Name);
    FTreeCursorsStale = true;
    FReadAheadBuffer->Close();
    if (FInternalActive && FCurrentIndex)
        FReadAheadBuffer->Open(FRecBufSize, FCurrentIndex->MaximumKeySize(), C_READAHEADVALIDFOR);
}

bool TOrqDataSet::DataSetFirst() {
    return FFilterMgr->Active() ? InternalMoveToFilterRecord(spFromStart, 0) : DataSetInternalFirst();
}

bool TOrqDataSet::DataSetLast() {
    return FFilterMgr->Active() ? InternalMoveToFilterRecord(spFromEnd, 0) : DataSetInternalLast();
}

bool TOrqDataSet::DataSetNext() {
    return FFilterMgr->Active() ? InternalMoveToFilterRecord(spFromCurrent, 1) : DataSetInternalNext();
}

bool TOrqDataSet::DataSetPrior() {
    return FFilterMgr->Active() ? InternalMoveToFilterRecord(spFromCurrent, -1) : DataSetInternalPrior();
}

bool TOrqDataSet::DataSetInternalFirst() {
    if (!FRangeOn) return DataSetMoveToEnd(true);
    SetKeyFlagsToBOF(RecordBuffer());
    if (!FRangeValid) return false;
    TReadLockScope lock(*this);
    return MoveToRangeEnd(rmRangeStart) && CheckKeyBufInRange(FCurrentIndex->GetCurrentKeyBuf(), rmRangeEnd);
}

bool TOrqDataSet::DataSetInternalLast() {
    if (!FRangeOn) return DataSetMoveToEnd(false);
    SetKeyFlagsToEOF(RecordBuffer());
    if (!FRangeValid) return false;
    TReadLockScope lock(*this);
    return MoveToRangeEnd(rmRangeEnd) && CheckKeyBufInRange(FCurrentIndex->GetCurrentKeyBuf(), rmRangeStart);
}

bool TOrqDataSet::DataSetMoveToEnd(bool First) {
    CheckInternalActive();
    if (FReadAheadMode == raReadAheadActive) FReadAheadMode = raReadAheadUninitialized;
    if (First) {
        SetKeyFlagsToBOF(RecordBuffer());
        return Find(stGE, FIndexName, nullptr);
    }
    SetKeyFlagsToEOF(RecordBuffer());
    return Find(stLE, FIndexName, nullptr);
}

bool TOrqDataSet::DataSetInternalNext() { return InternalStep(true); }

bool TOrqDataSet::DataSetInternalPrior() { return InternalStep(false); }

bool TOrqDataSet::InternalStep(bool Forward) {
    CheckInternalActive();
    bool found;
    if (GetFromReadAheadBuffer(Forward ? rdForwards : rdBackwards)) {
        // The records kept lie inside the range: the fill dropped every other one.
        found = !FRangeOn || FRangeValid;
    } else {
        // Under a lock the caller holds nothing is gained by reading ahead: the tree cursor steps
        // to the next record at once. Without one, the records read ahead spare the next moves
        // their locks.
        FReadAheadDirection = FTableLocked ? rdNone : Forward ? rdForwards : rdBackwards;
        TReadLockScope lock(*this);
        found = InternalFind(Forward ? stGT : stLT, FIndexName, nullptr);
        if (found && FRangeOn) {
            const uint8_t* key = FCurrentIndex->GetCurrentKeyBuf();
            found = FRangeValid && CheckKeyBufInRange(key, rmRangeStart) && CheckKeyBufInRange(key, rmRangeEnd);
        }
    }
    if (found && FReadAheadMode == raReadAheadUninitialized) FReadAheadMode = raReadAheadActive;
    return found;
}

void TOrqDataSet::SetKeyFlagsToBOF(uint8_t* Buf) {
    ClearRecord(Buf);
    uint8_t* target = Buf ? Buf : RecordBuffer();
    const TInternalFields& layout = FRecordMgr->Fields();
    for (int i = 0; i < layout.Count(); ++i) target[layout.GetIndex(i)->NullFlagOffset()] = C_FIELDLOWEST;
    Store32(target + FRecordSize + C_TRAILERMARKEROFFSET, C_FIELDLOWEST);
}

void TOrqDataSet::SetKeyFlagsToEOF(uint8_t* Buf) {
    ClearRecord(Buf);
    uint8_t* target = Buf ? Buf : RecordBuffer();
    const TInternalFields& layout = FRecordMgr->Fields();
    for (int i = 0; i < layout.Count(); ++i) target[layout.GetIndex(i)->NullFlagOffset()] = C_FIELDHIGHEST;
    Store32(target + FRecordSize + C_TRAILERMARKEROFFSET, C_FIELDHIGHEST);
}

void TOrqDataSet::SetFieldKeyFlagToMax(int FieldNo) {
    CheckInternalActive();
    FRecBuf[size_t(Field(FieldNo).NullFlagOffset())] = C_FIELDHIGHEST;
    Store32(FRecBuf.data() + FRecordSize + C_TRAILERMARKEROFFSET, C_FIELDHIGHEST);
}

// ---------------------------------------------------------------------------------------------
// Searches

bool TOrqDataSet::StepTreeCursor(TIndexItem& Index, TIndexSearchType SearchType, bool& Found) {
    const uint8_t* rec = FRecBuf.data();
    const uint32_t address = TrailerAddress(rec);
    if (&Index != FCurrentIndex || FTreeCursorsStale || FBufferState != 1 || address == 0 || TrailerMarker(rec) != 0 ||
        !Index.Tree().NodesValid() || !Index.Tree().PathValid())
        return false;
    // The record buffer's record is the tree cursor's, or lies a few entries from it (read-ahead
    // records served since): reach it by steps and check that it is the one.
    if (Index.GetRecordAddress() != address) {
        const int distance = TrailerRecNo(rec) - Index.GetRecordNo();
        if (distance < -C_MAXTREESTEPS || distance > C_MAXTREESTEPS || !Index.MoveBy(distance) ||
            Index.GetRecordAddress() != address) {
            FTreeCursorsStale = true;
            return false;
        }
    }
    Found = SearchType == stGT ? Index.NextKey() : SearchType == stLT ? Index.PriorKey() : true;
    return true;
}

bool TOrqDataSet::InternalFind(TIndexSearchType SearchType, const std::string& IndexName,
                               const TSearchModifier* Modifier) {
    CheckInternalActive();
    TReadLockScope lock(*this);
    TIndexItem& index = FCurrentIndex && (&IndexName == &FIndexName || IndexName == FIndexName) ? *FCurrentIndex
                                                                  : RequireIndex(IndexName, "TOrqDataSet.InternalFind");
    uint8_t* rec = FRecBuf.data();
    if (FReadAheadMode == raReadAheadActive && SearchType != stLT && SearchType != stEQ && SearchType != stGT)
        OrqDatabaseError(8581, "TOrqDataSet.InternalFind", "Unexpected seek type in Internal Find", this);
    bool found = false;
    const bool step = SearchType == stLT || SearchType == stGT || (SearchType == stEQ && FReadAheadMode == raReadAheadActive);
    // A step knows the record number it reaches: one on from the record buffer's.
    int32_t steppedRecNo = 0;
    if (step && StepTreeCursor(index, SearchType, found)) {
        steppedRecNo = TrailerRecNo(rec) + (SearchType == stGT ? 1 : SearchType == stLT ? -1 : 0);
    } else {
        FTreeCursorsStale = true;
        BuildSearchKey(index, rec);
        found = SearchIndex(index, SearchType, Modifier);
    }
    if (!found) return false;
    return TakeFoundEntry(index, steppedRecNo);
}

bool TOrqDataSet::TakeFoundEntry(TIndexItem& Index, int32_t SteppedRecNo, const uint8_t* Record) {
    uint8_t* rec = FRecBuf.data();
    const uint32_t address = Index.GetRecordAddress();
    if (address == 0) return false;

    if (Record) {
        std::memmove(rec, Record, size_t(FRecordSize));
        FRecordMgr->KeepCopy(rec);
    } else {
        ReadRecordAt(address, rec, true);
    }
    int32_t recNo;
    if (&Index != FCurrentIndex) {
        // The cursor's order stays the current index's: find the record there too.
        TIndexItem& current = CurrentIndex("TOrqDataSet.InternalFind");
        SetTrailer(rec, address, 0);
        current.CreateKeyBuffer(rec, nullptr);
        CheckState(current.FullIndexSearch(stEQ) == 0, "Key found but not in current index");
        recNo = current.GetRecordNo();
    } else {
        recNo = SteppedRecNo > 0 ? SteppedRecNo : Index.GetRecordNo();
    }
    SetTrailer(rec, address, recNo);
    FBufferState = 1;
    FTreeCursorsStale = false;
    if (!FReadAheadBuffer->RecordCountValid()) {
        try {
            FReadAheadBuffer->SetLastRecordCount(Index.GetRecordCount(false));
            FReadAheadBuffer->SetRecordCountValid(true);
        } catch (...) {
            FReadAheadBuffer->SetRecordCountValid(false);
        }
    }
    // A step of a walk reads ahead in its direction; a search that positions the cursor does not
    // (the first step after it does), so random searches read one record each.
    if (FUseReadAheadBuffer && FReadAheadDirection != rdCenter && FReadAheadDirection != rdNone &&
        FReadAheadBufferSize >= 2 && !FReadAheadBuffer->GetBufferItem(address))
        FillReadAheadBuffer(FReadAheadBufferSize, FReadAheadDirection);
    FReadAheadDirection = rdCenter;
    return true;
}

bool TOrqDataSet::Find(TIndexSearchType SearchType, const std::string& IndexName, const TSearchModifier* Modifier) {
    TReadLockScope lock(*this);
    return RestrictFound(InternalFind(SearchType, IndexName, Modifier), SearchType);
}

bool TOrqDataSet::RestrictFound(bool Found, TIndexSearchType SearchType) {
    if (Found && FRangeOn) {
        if (!FRangeValid) {
            Found = false;
        } else {
            if (!CheckKeyBufInRange(FCurrentIndex->GetCurrentKeyBuf(), rmRangeEnd))
                Found = (SearchType == stLT || SearchType == stLE || SearchType == stLEG) &&
                        MoveToRangeEnd(rmRangeEnd);
            if (Found && !CheckKeyBufInRange(FCurrentIndex->GetCurrentKeyBuf(), rmRangeStart))
                Found = (SearchType == stGE || SearchType == stGT || SearchType == stLEG) &&
                        MoveToRangeEnd(rmRangeStart);
        }
    }
    if (Found && FFilterMgr->Active()) {
        const uint32_t address = DatasetGetRecAddr();
        const uint32_t filtered = FFilterMgr->FindFilterRecord(address, SearchType);
        if (filtered == 0)
            Found = false;
        else if (filtered != address)
            Found = SetToRecord(filtered, nullptr, true, true);
    }
    return Found;
}

bool TOrqDataSet::FindBuf(const uint8_t* Buf, TIndexSearchType SearchType, const std::string& IndexName,
                          const TSearchModifier* Modifier, bool RefreshIfNotFound) {
    CheckInternalActive();
    SetRecordBuffer(Buf, FRecBufSize);
    const bool found = Find(SearchType, IndexName, Modifier);
    if (!found && RefreshIfNotFound) RefreshDataSet(stLEG, RecordBuffer());
    return found;
}

int TOrqDataSet::InternalSearchOnly(const uint8_t* Buf, TIndexSearchType SearchType, const std::string& IndexName,
                                    const TSearchModifier* Modifier) {
    TIndexItem& index = RequireIndex(IndexName, "TOrqDataSet.InternalSearchOnly");
    FTreeCursorsStale = true;
    BuildSearchKey(index, Buf);
    return SearchIndex(index, SearchType, Modifier) ? 0 : 1;
}

std::string TOrqDataSet::FindIndexForFields(const std::string& FieldNames) {
    CheckInternalActive();
    TStringList names;
    ConvertFieldNamesToList(FieldNames, &names);
    const TIndexItem* index = FIndexMgr->FindIndexForFields(names, false);
    if (!index) OrqDatabaseError(9997, "TOrqDataSet.FindIndexForFields", FieldNames, this);
    return index->IndexName();
}

// ---------------------------------------------------------------------------------------------
// Positioning on a record

bool TOrqDataSet::SetToRecord(uint32_t Address, const uint8_t* Buf, bool CheckBuffer, bool Reposition) {
    CheckInternalActive();
    if (Address == 0) OrqDatabaseError(8581, "TOrqDataSet.SetToRecord", "Invalid address of 0 for SetToRecord", this);
    TReadLockScope lock(*this);
    uint8_t* rec = FRecBuf.data();
    // Read aside first: Buf may be the record buffer itself.
    std::vector<uint8_t> stored(size_t(FRecBufSize), 0);
    ReadRecordAt(Address, stored.data(), false);
    TIndexSearchType searchType;
    if (InternalCheckRecordValid(stored.data())) {
        if (CheckBuffer && Buf && !InternalCheckRecordFlags(stored.data(), Buf, true, false))
            OrqDatabaseError(8708, "TOrqDataSet.SetToRecord", "", this);
        std::memcpy(rec, stored.data(), size_t(FRecordSize));
        if (Reposition) FRecordMgr->KeepCopy(rec);
        searchType = stEQ;
        SetTrailer(rec, Address, 0);
    } else {
        // Deleted or reused: position on the nearest key of the record as it was known.
        if (Buf)
            std::memmove(rec, Buf, size_t(FRecordSize));
        else
            FRecordMgr->RestoreBufferFromInternalBuffer(rec);
        searchType = stLEG;
    }
    if (!Reposition) return true;

    TIndexItem& current = CurrentIndex("TOrqDataSet.SetToRecord");
    FTreeCursorsStale = true;
    current.CreateKeyBuffer(rec, nullptr);
    if (!SearchIndex(current, searchType, nullptr)) {
        if (RecordCount() > 0) OrqDatabaseError(8708, "TOrqDataSet.SetToRecord", "", this);
        return false;
    }
    uint32_t address = Address;
    if (searchType == stLEG) {
        address = current.GetRecordAddress();
        CheckState(address != 0, "The record cannot be found - the address is invalid");
        ReadRecordAt(address, rec, true);
    }
    FBufferState = 1;
    SetTrailer(rec, address, current.GetRecordNo());
    FTreeCursorsStale = false;
    return FFilterMgr->Active() ? FFilterMgr->CheckRecordInFilter(address) : true;
}

bool TOrqDataSet::SetToRecordBuffer(const uint8_t* Buf, bool CheckBuffer, bool Reposition) {
    CheckInternalActive();
    if (!Buf) return false;
    const uint32_t address = TrailerAddress(Buf);
    if (address == 0 && !Reposition) {
        DataSetInternalFirst();
        return false;
    }
    return SetToRecord(address, Buf, CheckBuffer, Reposition);
}

bool TOrqDataSet::DataSetSetToBookmark(const uint8_t* Bookmark) {
    CheckInternalActive();
    if (!Bookmark) return false;
    try {
        return SetToRecord(Load32(Bookmark), nullptr, false, true);
    } catch (const Exception&) {
        return false;
    }
}

bool TOrqDataSet::DataSetSetToFlags(uint32_t Address, uint32_t ModFlag) {
    const bool found = SetToRecord(Address, nullptr, false, true) && DatasetGetRecAddr() == Address &&
                       DataSetGetRecordModFlag() == ModFlag;
    if (!found) OrqDatabaseError(8708, "TOrqDataSet.DataSetSetToFlags", "", this);
    if (TRecordBuffer active = ActiveBuffer()) std::memcpy(active, FRecBuf.data(), size_t(FRecBufSize));
    return true;
}

void TOrqDataSet::DataSetSetToUnorderedRecord(uint32_t Address) {
    CheckInternalActive();
    TReadLockScope lock(*this);
    ReadRecordAt(Address, FRecBuf.data(), true);
    SetTrailer(FRecBuf.data(), Address, 0);
    FBufferState = 1;
}

void TOrqDataSet::ReadRecordBuffer(uint32_t Address, uint8_t* Buf) {
    CheckInternalActive();
    ReadRecordAt(Address, Buf ? Buf : FRecBuf.data(), false);
}

void TOrqDataSet::GetRecordBuffer(uint8_t* Dest) const { std::memcpy(Dest, FRecBuf.data(), size_t(FRecBufSize)); }

void TOrqDataSet::SetRecordBuffer(const uint8_t* Src, int Size) {
    CheckInternalActive();
    std::memcpy(FRecBuf.data(), Src, size_t(std::min(Size, FRecBufSize)));
    FBufferState = 2;
}

// ---------------------------------------------------------------------------------------------
// Record numbers, counts and bookmarks

int TOrqDataSet::InternalGetRecordNoFromBuf(const uint8_t* Buf) const { return TrailerRecNo(Buf); }

int TOrqDataSet::DataSetGetRecordNoFromBuf(const uint8_t* Buf) {
    CheckInternalActive();
    int recNo = TrailerRecNo(Buf);
    if (recNo >= 1 && FRangeOn) {
        const int base = FFilterMgr->Active() ? FFilterMgr->GetBaseRecNo() : GetRangeEndRecNo(rmRangeStart);
        if (base >= 1) recNo = recNo - base + 1;
    }
    return recNo;
}

int TOrqDataSet::DataSetGetRecordNo() { return DataSetGetRecordNoFromBuf(RecordBuffer()); }

int64_t TOrqDataSet::DataSetSetRecordNo(int RecNo) {
    CheckInternalActive();
    if (RecNo < 1) return -1;
    TReadLockScope lock(*this);
    int64_t absolute = RecNo;
    int64_t upper;
    if (FRangeOn) {
        const int base = FFilterMgr->Active() ? FFilterMgr->GetBaseRecNo() : GetRangeEndRecNo(rmRangeStart);
        upper = GetRangeEndRecNo(rmRangeEnd);
        if (base > 0) absolute = int64_t(base) + RecNo - 1;
    } else {
        // A bare cursor has no framework record count: the index's count serves.
        const int count = RecordCount();
        upper = count >= 0 ? count : GetTotalRecordCount();
    }
    if (absolute < 1 || absolute > upper) return -1;
    const uint32_t address = CurrentIndex("TOrqDataSet.DataSetSetRecordNo").SetRecordNo(int(absolute));
    if (address == 0) return -1;
    SetToRecord(address, nullptr, false, true);
    return address;
}

int TOrqDataSet::InternalGetRecordSize() const {
    CheckInternalActive();
    return FRecBufSize;
}

int TOrqDataSet::GetTotalRecordCount() {
    if (!FInternalActive) return 0;
    if (FReadAheadBuffer->RecordCountValid()) return FReadAheadBuffer->LastRecordCount();
    TReadLockScope lock(*this);
    const int count = CurrentIndex("TOrqDataSet.GetTotalRecordCount").GetRecordCount(true);
    FReadAheadBuffer->SetLastRecordCount(count);
    FReadAheadBuffer->SetRecordCountValid(true);
    return count;
}

int TOrqDataSet::GetCurrentRecordCount() {
    if (!FInternalActive) return 0;
    if (FFilterMgr->Active()) return FFilterMgr->GetFilterRecordCount();
    if (!FRangeOn) return GetTotalRecordCount();
    if (!FRangeValid) return 0;
    TReadLockScope lock(*this);
    const int start = GetRangeEndRecNo(rmRangeStart);
    const int end = GetRangeEndRecNo(rmRangeEnd);
    const int count = start < 1 || end < 1 ? 0 : std::max(0, end - start + 1);
    if (count > 0 && RecNo() == 0)
        if (TDBLogger* logger = GDBLogger())
            logger->LogItem("TOrqDataSet.GetCurrentRecordCount",
                            "Invalid recno/count. Resetting to range start " + FTableName);
    return count;
}

void TOrqDataSet::GetBookMarkFromBuf(const uint8_t* Buf, uint8_t* Bookmark) const {
    Store32(Bookmark, TrailerAddress(Buf));
    Store32(Bookmark + 4, Load32(Buf + C_RECLOGICALNOOFFSET));
}

void TOrqDataSet::SetBookMarkToBuf(uint8_t* Buf, const uint8_t* Bookmark) const {
    Store32(Buf + FRecordSize + C_TRAILERADDROFFSET, Load32(Bookmark));
    Store32(Buf + C_RECLOGICALNOOFFSET, Load32(Bookmark + 4));
}

bool TOrqDataSet::CheckBookMarkValid(const uint8_t* Bookmark) {
    if (!FInternalActive || !Bookmark) return false;
    const uint32_t address = Load32(Bookmark);
    if (address == 0) return false;
    try {
        TReadLockScope lock(*this);
        std::vector<uint8_t> scratch(size_t(FRecBufSize), 0);
        ReadRecordAt(address, scratch.data(), false);
        // A freed block, or one reused by another record, holds another logical number (and a
        // freed one no valid status): the bookmark is stale.
        return InternalCheckRecordValid(scratch.data()) &&
               Load32(scratch.data() + C_RECLOGICALNOOFFSET) == Load32(Bookmark + 4);
    } catch (const Exception&) {
        return false;
    }
}

uint32_t TOrqDataSet::DatasetGetRecAddr() const { return FRecBuf.empty() ? 0 : TrailerAddress(FRecBuf.data()); }

uint32_t TOrqDataSet::DataSetGetRecordModFlag() const {
    return FRecBuf.empty() ? 0 : Load32(FRecBuf.data() + C_RECMODCOUNTOFFSET);
}

bool TOrqDataSet::CheckBufferWritten(const uint8_t* Buf) const { return TrailerRecNo(Buf) >= 1; }

// ---------------------------------------------------------------------------------------------
// Refresh

uint32_t TOrqDataSet::RefreshDataSet(TIndexSearchType SearchType, uint8_t* Buf) {
    CheckInternalActive();
    TIndexItem& current = CurrentIndex("TOrqDataSet.RefreshDataSet");
    FTreeCursorsStale = true;
    current.CreateKeyBuffer(FRecordMgr->InternalBuffer(), nullptr);
    if (!SearchIndex(current, SearchType, nullptr)) return 0;
    const uint32_t address = current.GetRecordAddress();
    CheckState(address != 0, "Address of 0 return from successful search");
    ReadRecordAt(address, Buf, Buf == FRecBuf.data());
    SetTrailer(Buf, address, current.GetRecordNo());
    FTreeCursorsStale = Buf != FRecBuf.data();
    if (SearchType == stLEG) {
        FRangeCached[0] = FRangeCached[1] = false;
        ValidateRecBufPostDataChange();
    }
    return address;
}

void TOrqDataSet::RefreshDataSetIndex(uint32_t Address, bool Positioned) {
    CheckInternalActive();
    TIndexItem& current = CurrentIndex("TOrqDataSet.RefreshDataSetIndex");
    FTreeCursorsStale = true;
    if (!Positioned) {
        current.CreateKeyBuffer(FRecBuf.data(), nullptr);
        if (current.FullIndexSearch(stEQ) != 0) OrqDatabaseError(8708, "TOrqDataSet.RefreshDataSetIndex", "", this);
    }
    if (Address != 0 && Address != current.GetRecordAddress())
        if (TDBLogger* logger = GDBLogger())
            logger->LogItem("TOrqDataSet.RefreshDataSetIndex", "RefreshDataSetIndex failed " + FTableName);
}

bool TOrqDataSet::DataSetRefresh(uint8_t* Buf, bool Exact) {
    CheckInternalActive();
    TReadLockScope lock(*this);
    InvalidateReadAhead(false);
    return RefreshDataSet(Exact ? stEQ : stLEG, Buf) != 0;
}

// ---------------------------------------------------------------------------------------------
// Read-ahead

void TOrqDataSet::ClearReadAheadMode() {
    FReadAheadCount = 0;
    FReadAheadMode = raReadAheadInactive;
}

void TOrqDataSet::FillReadAheadBuffer(int Count, TReadAheadDirection Direction) {
    if (!FUseReadAheadBuffer || Direction == rdNone || Count < 2) return;
    CheckState(FCurrentIndex != nullptr, "Current Index item is not assigned");
    TReadAheadBuffer& buffer = *FReadAheadBuffer;
    buffer.Invalidate();
    FCurrentIndex->ListReadAheadRecords(Direction, Count, buffer);
    buffer.SetValidTimeStamp(GetMSTimeMarker());
    if (FRangeOn && buffer.Count() > 0) {
        auto inRange = [this](const TReadAheadBufferItem* Item) {
            return CheckKeyBufInRange(Item->KeyBuf(), rmRangeStart) && CheckKeyBufInRange(Item->KeyBuf(), rmRangeEnd);
        };
        if (!FRangeValid || !inRange(buffer.GetItems(0)) || !inRange(buffer.Last())) {
            for (int i = buffer.Count() - 1; i >= 0; --i)
                if (!FRangeValid || !inRange(buffer.GetItems(i))) buffer.DeleteItem(i);
            for (int i = 1; i < buffer.Count(); ++i)
                CheckState(buffer.GetItems(i - 1)->RecNo() + 1 == buffer.GetItems(i)->RecNo(),
                       "Read ahead buffer recno's are out of sync");
        }
    }
    for (int i = 0; i < buffer.Count(); ++i) {
        TReadAheadBufferItem* item = buffer.GetItems(i);
        ReadRecordAt(item->RecAddr(), item->RecBuf(), false);
    }
}

bool TOrqDataSet::GetFromReadAheadBuffer(TReadAheadDirection Direction) {
    TReadAheadBuffer& buffer = *FReadAheadBuffer;
    if (buffer.Count() == 0 || !buffer.IsValid(GetMSTimeMarker())) return false;
    const uint32_t address = TrailerAddress(FRecBuf.data());
    const TReadAheadBufferItem* item = Direction == rdCenter      ? buffer.GetBufferItem(address)
                                       : Direction == rdBackwards ? buffer.GetPriorBufferItem(address)
                                                                  : buffer.GetNextBufferItem(address);
    if (!item) return false;
    std::memcpy(FRecBuf.data(), item->RecBuf(), size_t(FRecordSize));
    SetTrailer(FRecBuf.data(), item->RecAddr(), item->RecNo());
    // The record reached is now the one an update starts from.
    FRecordMgr->KeepCopy(FRecBuf.data());
    FBufferState = 1;
    return true;
}

namespace {

// Runs Fetch, one of the framework's fetches, inside read-ahead mode.
template <class TFetch>
auto InReadAheadMode(TOrqDataSet& Cursor, const TFetch& Fetch) {
    Cursor.SetReadAheadMode(raReadAheadUninitialized);
    try {
        const auto result = Fetch();
        Cursor.ReleaseReadAheadMode();
        return result;
    } catch (...) {
        Cursor.ReleaseReadAheadMode();
        throw;
    }
}

}  // namespace

bool TOrqDataSet::GetNextRecord() {
    return InReadAheadMode(*this, [this] { return TDataSet::GetNextRecord(); });
}

bool TOrqDataSet::GetPriorRecord() {
    return InReadAheadMode(*this, [this] { return TDataSet::GetPriorRecord(); });
}

int TOrqDataSet::GetNextRecords() {
    return InReadAheadMode(*this, [this] { return TDataSet::GetNextRecords(); });
}

int TOrqDataSet::GetPriorRecords() {
    return InReadAheadMode(*this, [this] { return TDataSet::GetPriorRecords(); });
}

void TOrqDataSet::Resync(TResyncMode Mode) {
    FUseReadAheadBuffer = true;
    FReadAheadBufferSize = BufferCount();
    SetReadAheadMode(raReadAheadUninitialized);
    try {
        TReadLockScope lock(*this);
        TDataSet::Resync(Mode);
        lock.Release();
    } catch (...) {
        ClearReadAheadMode();
        throw;
    }
    ClearReadAheadMode();
}

bool TOrqDataSet::IsSequenced() { return !FFilterMgr->Active(); }

// ---------------------------------------------------------------------------------------------
// Moving through a filter

bool TOrqDataSet::InternalMoveToFilterRecord(TSeekPosition Position, int Offset) {
    CheckInternalActive();
    TReadLockScope lock(*this, !(FDataBase && FDataBase->QueryActive()));
    uint32_t address =
        Position == spFromCurrent ? DatasetGetRecAddr() : FFilterMgr->MoveToEnd(Position == spFromStart);
    if (!FFilterMgr->CheckRecordInFilter(address))
        address = FFilterMgr->FindFilterRecord(address, Offset < 0 ? stLE : stGE);
    else if (Offset != 0)
        address = FFilterMgr->MoveBy(address, Offset);
    if (address == 0) return false;
    ReadRecordAt(address, FRecBuf.data(), true);
    SetTrailer(FRecBuf.data(), address, FFilterMgr->GetRecNo(address));
    FBufferState = 1;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Locating

void TOrqDataSet::BuildLocateSearchFields(TIndexItem& Index, std::vector<std::string>& FieldNames,
                                          bool CaseInsensitive, TSearchFields& SearchFields) {
    const TKeyFields& keys = *Index.KeyFields();
    // Bring every key field named in the list to its key position.
    for (int k = 0; k < keys.Count() && k < int(FieldNames.size()); ++k) {
        const TKeyFieldItem* key = keys.GetIndex(k);
        if (key->PhysicalFieldNo() < 0) continue;
        for (size_t p = 0; p < FieldNames.size(); ++p)
            if (int(p) != k && AnsiCompareText(FieldNames[p], key->FieldName()) == 0) {
                std::swap(FieldNames[p], FieldNames[size_t(k)]);
                break;
            }
    }
    const TInternalFields& layout = FRecordMgr->Fields();
    size_t i = 0;
    // The leading run of names that are key fields at their own key position.
    for (; i < FieldNames.size() && int(i) < keys.Count(); ++i) {
        const TKeyFieldItem* key = keys.GetIndex(int(i));
        if (key->PhysicalFieldNo() < 0 || AnsiCompareText(FieldNames[i], key->FieldName()) != 0) break;
        if (CaseInsensitive && key->DataType() == ftString && !key->CaseInsensitive()) break;
        const TInternalFieldItem* field = layout.FindField(FieldNames[i]);
        if (!field) OrqDatabaseError(10116, "TOrqDataSet.DoLocate", FieldNames[i], this);
        TSearchFieldItem* item = SearchFields.Add();
        item->Assign(field);
        item->SetInIndex(true);
        item->SetDescending(key->Descending());
    }
    for (; i < FieldNames.size(); ++i) {
        const TInternalFieldItem* field = layout.FindField(FieldNames[i]);
        if (!field) OrqDatabaseError(10116, "TOrqDataSet.DoLocate", FieldNames[i], this);
        TSearchFieldItem* item = SearchFields.Add();
        item->Assign(field);
        item->SetInIndex(false);
    }
}

struct TOrqDataSet::TLocatePlan {
    const TIndexItem* Index = nullptr;
    std::string FieldNames;
    bool CaseInsensitive = false;
    TSearchFields Fields;
    // Null flags of the key fields the list does not name: a null there searches from the
    // lowest value.
    std::vector<int> UnnamedKeyNullFlags;
    // Null flags of the key fields after the leading run of searched key fields: the index
    // search runs over that run only, every later key field from its lowest value.
    std::vector<int> KeyNullFlagsAfterRun;
    std::vector<uint8_t> Work;  // the search buffer of the index search
};

void TOrqDataSet::TLocatePlanDelete::operator()(TLocatePlan* Plan) const { delete Plan; }

TOrqDataSet::TLocatePlan& TOrqDataSet::LocatePlan(TIndexItem& Index, const std::string& FieldNames,
                                                   bool CaseInsensitive) {
    if (FLocatePlan && FLocatePlan->Index == &Index && FLocatePlan->CaseInsensitive == CaseInsensitive &&
        FLocatePlan->FieldNames == FieldNames)
        return *FLocatePlan;
    FLocatePlan.reset();
    std::unique_ptr<TLocatePlan, TLocatePlanDelete> plan(new TLocatePlan);
    plan->Index = &Index;
    plan->FieldNames = FieldNames;
    plan->CaseInsensitive = CaseInsensitive;
    TStringList names;
    ConvertFieldNamesToList(FieldNames, &names);
    std::vector<std::string> list;
    for (int i = 0; i < names.Count(); ++i) list.push_back(names.Strings(i));
    const TKeyFields& keys = *Index.KeyFields();
    for (int k = 0; k < keys.Count(); ++k) {
        const TKeyFieldItem& key = *keys.GetIndex(k);
        if (key.PhysicalFieldNo() < 0) continue;
        bool named = false;
        for (size_t i = 0; i < list.size() && !named; ++i) named = AnsiCompareText(list[i], key.FieldName()) == 0;
        if (!named) plan->UnnamedKeyNullFlags.push_back(key.NullFlagOffset());
    }
    BuildLocateSearchFields(Index, list, CaseInsensitive, plan->Fields);
    int inIndex = 0;
    while (inIndex < plan->Fields.Count() && plan->Fields.GetItems(inIndex)->InIndex()) ++inIndex;
    for (int k = inIndex; k < keys.Count(); ++k) {
        const TKeyFieldItem* key = keys.GetIndex(k);
        if (key->PhysicalFieldNo() >= 0) plan->KeyNullFlagsAfterRun.push_back(key->NullFlagOffset());
    }
    FLocatePlan = std::move(plan);
    return *FLocatePlan;
}

bool TOrqDataSet::DoLocate(const std::string& IndexName, uint8_t* SearchBuf, uint8_t* ResultBuf,
                           const std::string& FieldNames, TLocateOptions Options, bool UseNamedIndex, bool SyncCursor) {
    CheckInternalActive();
    TIndexItem& index =
        UseNamedIndex ? RequireIndex(IndexName, "TOrqDataSet.DoLocate") : CurrentIndex("TOrqDataSet.DoLocate");
    const bool caseInsensitive = Options.Contains(loCaseInsensitive);
    TLocatePlan& plan = LocatePlan(index, FieldNames, caseInsensitive);
    // A null key field the list does not name searches from its lowest value.
    for (const int flag : plan.UnnamedKeyNullFlags)
        if (SearchBuf[flag] == C_FIELDISNULL) SearchBuf[flag] = C_FIELDLOWEST;
    Store32(SearchBuf + FRecordSize + C_TRAILERMARKEROFFSET, C_FIELDLOWEST);

    std::vector<uint8_t>& work = plan.Work;
    work.assign(SearchBuf, SearchBuf + FRecBufSize);
    TReadLockScope lock(*this);
    TSearchFields& fields = plan.Fields;
    for (const int flag : plan.KeyNullFlagsAfterRun) work[size_t(flag)] = C_FIELDLOWEST;
    Store32(work.data() + FRecordSize + C_TRAILERMARKEROFFSET, C_FIELDLOWEST);

    if (InternalSearchOnly(work.data(), stGE, index.IndexName(), nullptr) != 0) return false;
    if (FRangeOn) {
        if (!FRangeValid) return false;
        if (&index == FCurrentIndex && !CheckKeyBufInRange(index.GetCurrentKeyBuf(), rmRangeStart) &&
            !MoveToRangeEnd(rmRangeStart))
            return false;
    }
    const bool found = InternalSequentialSearch(SearchBuf, ResultBuf, fields, index, caseInsensitive,
                                                Options.Contains(loPartialKey)) == 0;
    if (!found || !SyncCursor) return found;
    // The searched index's tree cursor stands on the record found: it becomes the cursor's
    // record from there, as a search of its key would make it, without that search (nor a
    // second read of the record).
    return RestrictFound(TakeFoundEntry(index, 0, ResultBuf), stEQ);
}

int TOrqDataSet::InternalSequentialSearch(const uint8_t* SearchBuf, uint8_t* ResultBuf, TSearchFields& SearchFields,
                                          TIndexItem& Index, bool CaseInsensitive, bool Partial) {
    if (FRangeOn && !FRangeValid) return -1;
    FTreeCursorsStale = true;
    std::vector<uint8_t> scratch(size_t(FRecBufSize), 0);
    uint32_t address = Index.GetRecordAddress();
    ReadRecordAt(address, scratch.data(), false);
    int diff = -1;
    int result = InternalCompareRecords(SearchBuf, scratch.data(), SearchFields, CaseInsensitive, Partial, diff);
    while (result != 0) {
        // A searched key field that sorts before the record's: no later record can match.
        if (diff >= 0 && SearchFields.GetItems(diff)->InIndex() && result < 0) break;
        if (!Index.NextKey()) break;
        if (&Index == FCurrentIndex && FRangeOn && !CheckKeyBufInRange(Index.GetCurrentKeyBuf(), rmRangeEnd)) break;
        address = Index.GetRecordAddress();
        ReadRecordAt(address, scratch.data(), false);
        result = InternalCompareRecords(SearchBuf, scratch.data(), SearchFields, CaseInsensitive, Partial, diff);
    }
    if (result == 0) {
        SetTrailer(scratch.data(), address, 0);
        std::memcpy(ResultBuf, scratch.data(), size_t(FRecBufSize));
    }
    return result;
}

namespace {

template <class T>
int Sign(T A, T B) {
    return (A > B) - (A < B);
}

}  // namespace

int TOrqDataSet::InternalCompareRecords(const uint8_t* Buf1, const uint8_t* Buf2, TSearchFields& Fields,
                                        bool CaseInsensitive, bool Partial, int& DiffIndex) {
    for (int i = 0; i < Fields.Count(); ++i) {
        const TSearchFieldItem& field = *Fields.GetItems(i);
        int flag1 = Buf1[field.NullFlagOffset()];
        int flag2 = Buf2[field.NullFlagOffset()];
        if (flag1 == C_FIELDISNULL) flag1 = 3;
        if (flag2 == C_FIELDISNULL) flag2 = 3;
        int result = flag1 - flag2;
        if (result == 0 && flag1 != 3) {
            const uint8_t* v1 = Buf1 + field.DataOffset();
            const uint8_t* v2 = Buf2 + field.DataOffset();
            switch (field.DataType()) {
                case ftString: {
                    const int len1 = std::min<int>(Load16(Buf1 + field.SizeMarkerOffset()), field.FieldSize());
                    const int len2 = std::min<int>(Load16(Buf2 + field.SizeMarkerOffset()), field.FieldSize());
                    result = FStringCompare(reinterpret_cast<const char*>(v1), reinterpret_cast<const char*>(v2), len1,
                                            len2, CaseInsensitive, Partial);
                    break;
                }
                case ftSmallint: result = Sign(int16_t(Load16(v1)), int16_t(Load16(v2))); break;
                case ftWord: result = Sign(Load16(v1), Load16(v2)); break;
                case ftInteger:
                case ftAutoInc: result = Sign(int32_t(Load32(v1)), int32_t(Load32(v2))); break;
                case ftBoolean: result = int(v1[0]) - int(v2[0]); break;
                case ftFloat:
                case ftCurrency:
                case ftDate:
                case ftTime:
                case ftDateTime: {
                    double d1, d2;
                    std::memcpy(&d1, v1, sizeof d1);
                    std::memcpy(&d2, v2, sizeof d2);
                    result = CompareReals(d1, d2);
                    break;
                }
                default: result = 0; break;
            }
        }
        if (field.Descending()) result = -result;
        if (result != 0) {
            DiffIndex = i;
            return result;
        }
    }
    DiffIndex = -1;
    return 0;
}

}  // namespace ostra
