// TDataSet: the buffer ring (see DataSet.h for its invariants), fetching records into it,
// navigation, Resync and Refresh, and bookmarks.
#include <algorithm>
#include <vector>

#include "host/db/DBConsts.h"
#include "host/db/DataLink.h"
#include "host/db/DataSet.h"

namespace ostra {

namespace {

// The most buffers a dataset keeps, whatever its links ask for.
constexpr int kMaxBufferCount = 1024;

}  // namespace

// ---- The ring ------------------------------------------------------------------------------------

TRecordBuffer TDataSet::ActiveBuffer() const {
    return FBuffers.empty() ? nullptr : FBuffers[static_cast<size_t>(FActiveRecord)];
}

void TDataSet::SetBufListSize(int Value) {
    size_t size = static_cast<size_t>(std::max(Value, 0));
    while (FBuffers.size() > size) {
        TRecordBuffer buffer = FBuffers.back();
        FBuffers.pop_back();
        FreeRecordBuffer(buffer);
    }
    while (FBuffers.size() < size) FBuffers.push_back(AllocRecordBuffer());
}

void TDataSet::SetBufferCount(int Value) {
    Value = std::clamp(Value, 1, kMaxBufferCount);
    if (Value == FBufferCount) return;
    if (Value < FRecordCount) {
        // Keep the active record: drop records before it first, then after it.
        int drop = FActiveRecord - (Value - 1);
        if (drop > 0) {
            std::rotate(FBuffers.begin(), FBuffers.begin() + drop, FBuffers.begin() + FRecordCount);
            FActiveRecord -= drop;
            FRecordCount -= drop;
            FCurrentRecord = FCurrentRecord >= drop ? FCurrentRecord - drop : -1;
            FBOF = false;
            AdjustFirstRecord(-drop);
        }
        if (FRecordCount > Value) {
            FRecordCount = Value;
            FEOF = false;
        }
        if (FCurrentRecord >= FRecordCount) FCurrentRecord = -1;
    }
    SetBufListSize(Value + 1);
    FBufferCount = Value;
    GetNextRecords();
    AdjustFirstRecord(GetPriorRecords());
    for (TDataLink* link : AllDataLinks())
        if (link->Active()) link->UpdateRange(0);
}

void TDataSet::ClearBuffers() {
    FRecordCount = 0;
    FActiveRecord = 0;
    FCurrentRecord = -1;
    FBOF = true;
    FEOF = true;
}

void TDataSet::ActivateBuffers() {
    FRecordCount = 1;
    FActiveRecord = 0;
    FBOF = false;
    FEOF = false;
}

void TDataSet::MoveBuffer(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex) return;
    // One buffer moves and the ones between shift by one place (a rotation by one; this runs
    // once per record fetched past the window, so it avoids the general rotation's set-up).
    TRecordBuffer* buffers = FBuffers.data();
    TRecordBuffer moved = buffers[CurIndex];
    if (NewIndex == CurIndex + 1 || CurIndex == NewIndex + 1)
        buffers[CurIndex] = buffers[NewIndex];
    else if (CurIndex < NewIndex)
        for (int i = CurIndex; i < NewIndex; ++i) buffers[i] = buffers[i + 1];
    else
        for (int i = CurIndex; i > NewIndex; --i) buffers[i] = buffers[i - 1];
    buffers[NewIndex] = moved;
    // CurrentRecord follows the buffer that holds the cursor's record.
    if (FCurrentRecord == CurIndex)
        FCurrentRecord = NewIndex;
    else if (CurIndex < NewIndex && FCurrentRecord > CurIndex && FCurrentRecord <= NewIndex)
        --FCurrentRecord;
    else if (CurIndex > NewIndex && FCurrentRecord >= NewIndex && FCurrentRecord < CurIndex)
        ++FCurrentRecord;
}

void TDataSet::SetCurrentRecord(int Index) {
    if (FCurrentRecord == Index) return;
    TRecordBuffer buffer = FBuffers[static_cast<size_t>(Index)];
    switch (GetBookmarkFlag(buffer)) {
        case bfCurrent:
        case bfInserted:
            InternalSetToRecord(buffer);
            break;
        case bfBOF:
            InternalFirst();
            break;
        case bfEOF:
            InternalLast();
            break;
    }
    FCurrentRecord = Index;
}

void TDataSet::UpdateCursorPos() {
    if (FRecordCount > 0) SetCurrentRecord(FActiveRecord);
}

bool TDataSet::GetNextRecord() {
    TGetMode mode = gmNext;
    if (FRecordCount > 0) {
        SetCurrentRecord(FRecordCount - 1);
        // The last buffer is a new record standing where the cursor's record was: that record,
        // pushed out of the ring, is the next one.
        if (FState == dsInsert && FCurrentRecord == FActiveRecord && GetBookmarkFlag(ActiveBuffer()) == bfInserted)
            mode = gmCurrent;
    }
    bool ok = GetRecord(FBuffers[static_cast<size_t>(FRecordCount)], mode, true) == grOK;
    if (!ok) {
        CursorPosChanged();
        return false;
    }
    if (FRecordCount == 0)
        ActivateBuffers();
    else if (FRecordCount < FBufferCount)
        ++FRecordCount;
    else
        MoveBuffer(0, FRecordCount);
    FCurrentRecord = FRecordCount - 1;
    return true;
}

bool TDataSet::GetPriorRecord() {
    if (FRecordCount > 0) SetCurrentRecord(0);
    bool ok = GetRecord(FBuffers[static_cast<size_t>(FRecordCount)], gmPrior, true) == grOK;
    if (!ok) {
        CursorPosChanged();
        return false;
    }
    if (FRecordCount == 0) {
        ActivateBuffers();
    } else {
        MoveBuffer(FRecordCount, 0);
        if (FRecordCount < FBufferCount) {
            ++FRecordCount;
            ++FActiveRecord;
        }
    }
    FCurrentRecord = 0;
    return true;
}

int TDataSet::GetNextRecords() {
    int count = 0;
    try {
        while (FRecordCount < FBufferCount && GetNextRecord()) ++count;
    } catch (...) {
        CursorPosChanged();
        throw;
    }
    return count;
}

int TDataSet::GetPriorRecords() {
    int count = 0;
    try {
        while (FRecordCount < FBufferCount && GetPriorRecord()) ++count;
    } catch (...) {
        CursorPosChanged();
        throw;
    }
    return count;
}

// ---- Navigation ----------------------------------------------------------------------------------

void TDataSet::First() {
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    auto finish = [this] {
        FBOF = true;
        DataEvent(deDataSetChange, 0);
        DoAfterScroll();
    };
    try {
        InternalFirst();
        GetNextRecord();
        GetNextRecords();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TDataSet::Last() {
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    auto finish = [this] {
        FEOF = true;
        DataEvent(deDataSetChange, 0);
        DoAfterScroll();
    };
    try {
        InternalLast();
        GetPriorRecord();
        GetPriorRecords();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

int TDataSet::MoveBy(int Distance) {
    CheckBrowseMode();
    int result = 0;
    DoBeforeScroll();
    if (!((Distance > 0 && !FEOF) || (Distance < 0 && !FBOF))) return 0;
    FBOF = false;
    FEOF = false;
    // How far the buffered records moved inside the ring (for the links' windows).
    int shift = 0;
    auto finish = [&] {
        DataEvent(deDataSetScroll, shift);
        DoAfterScroll();
    };
    try {
        while (Distance > 0) {
            if (FActiveRecord < FRecordCount - 1) {
                ++FActiveRecord;
            } else {
                bool full = FRecordCount >= FBufferCount;
                if (!GetNextRecord()) {
                    FEOF = true;
                    break;
                }
                if (full) --shift;
                FActiveRecord = FRecordCount - 1;
            }
            --Distance;
            ++result;
        }
        while (Distance < 0) {
            if (FActiveRecord > 0) {
                --FActiveRecord;
            } else {
                if (!GetPriorRecord()) {
                    FBOF = true;
                    break;
                }
                ++shift;
                FActiveRecord = 0;
            }
            ++Distance;
            --result;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return result;
}

void TDataSet::Resync(TResyncMode Mode) {
    if (FBuffers.empty()) return;
    TRecordBuffer scratch = FBuffers[static_cast<size_t>(FRecordCount)];
    if (Mode.Contains(rmExact)) {
        CursorPosChanged();
        if (GetRecord(scratch, gmCurrent, true) != grOK) DatabaseError(SRecordNotFound, this);
    } else if (GetRecord(scratch, gmCurrent, false) != grOK && GetRecord(scratch, gmNext, false) != grOK &&
               GetRecord(scratch, gmPrior, false) != grOK) {
        ClearBuffers();
        DataEvent(deDataSetChange, 0);
        return;
    }
    int count = Mode.Contains(rmCenter) ? (FBufferCount - 1) / 2 : FActiveRecord;
    MoveBuffer(FRecordCount, 0);
    ActivateBuffers();
    FCurrentRecord = 0;
    try {
        while (count > 0 && GetPriorRecord()) --count;
        GetNextRecords();
        GetPriorRecords();
    } catch (...) {
        DataEvent(deDataSetChange, 0);
        throw;
    }
    DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh() {
    DoBeforeRefresh();
    CheckBrowseMode();
    UpdateCursorPos();
    try {
        InternalRefresh();
    } catch (...) {
        Resync({});
        DoAfterRefresh();
        throw;
    }
    Resync({});
    DoAfterRefresh();
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
    switch (FState) {
        case dsEdit:
        case dsInsert:
            UpdateRecord();
            if (FModified)
                Post();
            else
                Cancel();
            break;
        case dsSetKey:
            Post();
            break;
        default:
            break;
    }
}

// ---- Bookmarks -----------------------------------------------------------------------------------

bool TDataSet::BookmarkAvailable() const {
    return (FState == dsBrowse || FState == dsEdit || FState == dsInsert) && !IsEmpty() && FBookmarkSize > 0 &&
           const_cast<TDataSet*>(this)->GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::Bookmark() const {
    if (!BookmarkAvailable()) return {};
    TBookmark result(static_cast<size_t>(FBookmarkSize), '\0');
    const_cast<TDataSet*>(this)->GetBookmarkData(ActiveBuffer(), result.data());
    return result;
}

void TDataSet::GotoBookmark(const TBookmark& Value) {
    if (Value.empty()) return;
    CheckBrowseMode();
    DoBeforeScroll();
    InternalGotoBookmark(Value.data());
    Resync({rmExact, rmCenter});
    DoAfterScroll();
}

}  // namespace ostra
